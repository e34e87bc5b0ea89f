#!/usr/bin/env python3
"""Checks bench/delay_relay.py before the download benchmark trusts its figure:
for each delay, the bytes must arrive intact both ways (and a half-close must
pass through), and a small exchange must take the round trip the delay makes,
not less and not much more. Exits non-zero naming what failed."""
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def echo_server():
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(10)

    def serve():
        peer, _ = listener.accept()
        peer.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)  # as nginx answers
        while True:
            data = peer.recv(65536)
            if not data:
                break
            peer.sendall(data)
        peer.shutdown(socket.SHUT_WR)

    threading.Thread(target=serve, daemon=True).start()
    return listener.getsockname()[1]


def start_relay(target, delay_ms, port_file):
    relay = subprocess.Popen([sys.executable, os.path.join(HERE, "delay_relay.py"), "--target", str(target),
                              "--delay-ms", str(delay_ms), "--port-file", port_file, "--lifetime", "30"])
    for _ in range(100):
        if os.path.exists(port_file):
            return relay, int(open(port_file).read())
        time.sleep(0.05)
    relay.kill()
    raise SystemExit("delay_relay_test: the relay did not start")


def check(delay_ms, folder):
    """A list of faults for one delay."""
    relay, port = start_relay(echo_server(), delay_ms, os.path.join(folder, "port-%s" % delay_ms))
    faults = []
    try:
        peer = socket.create_connection(("127.0.0.1", port), timeout=20)
        peer.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        trips = []
        for _ in range(9):
            start = time.monotonic()
            peer.sendall(b"x")
            peer.recv(1)
            trips.append(time.monotonic() - start)
        trip = sorted(trips)[4] * 1000
        if not 2 * delay_ms <= trip <= 2 * delay_ms + 15:
            faults.append("round trip %.1f ms, expected %.0f ms" % (trip, 2 * delay_ms))
        blob = os.urandom(8 << 20)
        sender = threading.Thread(target=lambda: (peer.sendall(blob), peer.shutdown(socket.SHUT_WR)))
        sender.start()
        echoed = bytearray()
        while True:
            data = peer.recv(1 << 20)
            if not data:
                break
            echoed += data
        sender.join()
        if bytes(echoed) != blob:
            faults.append("8 MiB came back as %d different bytes" % len(echoed))
    except OSError as error:
        faults.append(str(error))
    finally:
        relay.kill()
        relay.wait()
    return ["delay %s ms: %s" % (delay_ms, f) for f in faults]


def main():
    with tempfile.TemporaryDirectory() as folder:
        faults = [f for delay_ms in (0, 10, 25) for f in check(delay_ms, folder)]
    for f in faults:
        print("delay_relay_test:", f, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
