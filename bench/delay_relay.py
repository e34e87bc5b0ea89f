#!/usr/bin/env python3
"""A TCP relay on loopback that holds every chunk a fixed time in each direction.

    delay_relay.py --target PORT --delay-ms MS --port-file FILE [--lifetime S]

Listens on a free port of 127.0.0.1 (written to FILE), and forwards every
connection to 127.0.0.1:PORT. Each chunk read from one side is sent on to the
other DELAY ms after it arrived, so a request and its answer take 2 x DELAY more
than on plain loopback: a player's round trip to the file host, without touching
any interface. The relay reads as fast as it can and queues, so it adds latency
only, never a bandwidth limit or a window. One thread and one event loop, so a
chunk costs no hand-over between threads. Exits after the lifetime (600 s by
default) whatever happens.
"""
import argparse
import collections
import os
import selectors
import socket
import time

CHUNK = 262144


class Direction:
    """Bytes from source to sink: chunks stamped with the time they are due."""

    def __init__(self, source, sink):
        self.source, self.sink = source, sink
        self.queue = collections.deque()  # (due, bytes); b"" is the end of the stream
        self.reading = True
        self.done = False


def due_now(direction, now):
    return bool(direction.queue) and direction.queue[0][0] <= now


def send_due(direction, now):
    """Sends what is due; false when the sink takes no more for now."""
    while due_now(direction, now):
        due, data = direction.queue[0]
        if not data:
            direction.queue.popleft()
            direction.done = True
            try:
                direction.sink.shutdown(socket.SHUT_WR)
            except OSError:
                pass
            return True
        try:
            sent = direction.sink.send(data)
        except BlockingIOError:
            return False
        except OSError:
            direction.queue.clear()
            direction.done = True
            return True
        if sent < len(data):
            direction.queue[0] = (due, data[sent:])
            return False
        direction.queue.popleft()
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", type=int, required=True)
    parser.add_argument("--delay-ms", type=float, required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--lifetime", type=float, default=600)
    args = parser.parse_args()
    delay = args.delay_ms / 1000
    deadline = time.monotonic() + args.lifetime

    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    listener.setblocking(False)
    with open(args.port_file + ".tmp", "w") as f:
        f.write("%d\n" % listener.getsockname()[1])
    os.replace(args.port_file + ".tmp", args.port_file)

    selector = selectors.DefaultSelector()
    pairs = []  # (client to server, server to client), one per connection
    while time.monotonic() < deadline:
        now = time.monotonic()
        directions = [d for pair in pairs for d in pair]
        # What to wait for: every open source, and a sink that left due bytes untaken.
        wanted = {listener: selectors.EVENT_READ}
        for d in directions:
            if d.reading:
                wanted[d.source] = wanted.get(d.source, 0) | selectors.EVENT_READ
            if due_now(d, now):
                wanted[d.sink] = wanted.get(d.sink, 0) | selectors.EVENT_WRITE
        for key in list(selector.get_map().values()):
            if key.fileobj not in wanted:
                selector.unregister(key.fileobj)
        for s, events in wanted.items():
            if s in selector.get_map():
                selector.modify(s, events)
            else:
                selector.register(s, events)
        dues = [d.queue[0][0] for d in directions if d.queue]
        timeout = min(1.0, max(0.0, min(dues) - now)) if dues else 1.0
        for key, events in selector.select(timeout):
            s = key.fileobj
            if not events & selectors.EVENT_READ:
                continue
            if s is listener:
                try:
                    client, _ = listener.accept()
                except BlockingIOError:
                    continue
                server = socket.create_connection(("127.0.0.1", args.target))
                for peer in (client, server):
                    peer.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                    peer.setblocking(False)
                pairs.append((Direction(client, server), Direction(server, client)))
                continue
            for d in directions:
                if d.source is s and d.reading:
                    try:
                        data = s.recv(CHUNK)
                    except BlockingIOError:
                        continue
                    except OSError:
                        data = b""
                    d.queue.append((time.monotonic() + delay, data))
                    d.reading = bool(data)
        now = time.monotonic()
        for d in directions:
            send_due(d, now)
        for pair in [p for p in pairs if all(d.done and not d.reading for d in p)]:
            for peer in (pair[0].source, pair[0].sink):
                if peer in selector.get_map():
                    selector.unregister(peer)
                peer.close()
            pairs.remove(pair)


if __name__ == "__main__":
    main()
