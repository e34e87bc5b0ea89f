#!/usr/bin/env python3
"""A TCP relay on loopback that holds every chunk a fixed time in each direction.

    delay_relay.py --target PORT --delay-ms MS --port-file FILE [--lifetime S]

Listens on a free port of 127.0.0.1 (written to FILE), and forwards every
connection to 127.0.0.1:PORT. Each chunk read from one side is sent on to the
other DELAY ms after it arrived, so a request and its answer take 2 x DELAY more
than on plain loopback: a player's round trip to the file host, without touching
any interface. The relay reads as fast as it can and queues, so it adds latency
only, never a bandwidth limit or a window. It exits after the lifetime (600 s by
default) whatever happens.
"""
import argparse
import collections
import os
import socket
import threading
import time

CHUNK = 262144


class DelayedPipe:
    """One direction: a reader that stamps chunks and a writer that sends them when due."""

    def __init__(self, source, sink, delay):
        self.source, self.sink, self.delay = source, sink, delay
        self.queue = collections.deque()
        self.ready = threading.Condition()

    def start(self):
        for work in (self.read, self.write):
            threading.Thread(target=work, daemon=True).start()

    def read(self):
        while True:
            try:
                data = self.source.recv(CHUNK)
            except OSError:
                data = b""
            with self.ready:
                self.queue.append((time.monotonic() + self.delay, data))
                self.ready.notify()
            if not data:
                return

    def write(self):
        while True:
            with self.ready:
                while not self.queue:
                    self.ready.wait()
                due, data = self.queue.popleft()
            pause = due - time.monotonic()
            if pause > 0:
                time.sleep(pause)
            try:
                if not data:
                    self.sink.shutdown(socket.SHUT_WR)
                    return
                self.sink.sendall(data)
            except OSError:
                return


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", type=int, required=True)
    parser.add_argument("--delay-ms", type=float, required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--lifetime", type=float, default=600)
    args = parser.parse_args()
    deadline = time.monotonic() + args.lifetime

    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    listener.settimeout(1)
    with open(args.port_file + ".tmp", "w") as f:
        f.write("%d\n" % listener.getsockname()[1])
    os.replace(args.port_file + ".tmp", args.port_file)

    while time.monotonic() < deadline:
        try:
            client, _ = listener.accept()
        except socket.timeout:
            continue
        server = socket.create_connection(("127.0.0.1", args.target))
        for s in (client, server):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        DelayedPipe(client, server, args.delay_ms / 1000).start()
        DelayedPipe(server, client, args.delay_ms / 1000).start()


if __name__ == "__main__":
    main()
