#!/usr/bin/env python3
"""HTTPS test server for what nginx will not do on demand: odd statuses, empty
and cut bodies, stalls and oversized manifests. Otherwise it serves files from a
root folder, like the file host. Listens on 127.0.0.1 only, TLS 1.2 only; two
more listeners with the same behaviour speak only TLS 1.0/1.1 ("tls11") and
only TLS 1.3 ("tls13"), to show that the launcher insists on TLS 1.2. The port
file gets one "NAME PORT" line per listener ("main" first).

    fault_server.py --root DIR --fault-dir DIR --cert PEM --key PEM
                    [--port N] [--port-file FILE] [--pid-file FILE]
                    [--lifetime SECONDS]

Rules: FAULT_DIR/rules.txt, read again for every request, so test programs
(under Wine they write it as a Z:\\ path) change the behaviour at run time.
Replace the file as a whole (write a temporary file, then rename it over). One
rule a line; blank lines and lines starting with "#" are ignored:

    PATH ACTION [ARG ...] [times=N]

PATH is the request path without its query ("*" matches every path). The first
rule whose PATH matches and that has uses left decides; with none, the file is
served. times=N applies a rule to the next N matching requests only; the counts
start over whenever the content of rules.txt changes (add a "# generation"
comment to restart identical rules).

    file [OTHER]        200 with the file at PATH (or at OTHER) under the root;
                        404 when there is none. A request with "Range:
                        bytes=N-" gets 206 with the bytes from N on and their
                        Content-Range (416 when N is past the end)
    norange [OTHER]     the same file, always 200 and whole: a host that
                        ignores Range
    badrange SHIFT [OTHER]
                        to a range request from N, 206 with a Content-Range
                        and the bytes from N + SHIFT on
    status CODE [BYTES] CODE with BYTES pattern bytes as body (default 16);
                        206 also gets a Content-Range header
    body BYTES          200 with BYTES pattern bytes (0: an empty body)
    manifest BYTES      200 with a valid manifest text of exactly BYTES bytes
                        ("launcher" version 7, then ignored padding lines)
    drop AFTER [HOW] [OTHER]
                        200 announcing the whole body (the file at PATH or at
                        OTHER, or else 1 MiB of pattern; to a range request a
                        206 announcing the rest of the file), sends AFTER body
                        bytes, waits half a second and ends the connection: HOW
                        is rst (default, a TCP reset), fin (TCP close without
                        TLS close_notify) or tls (close_notify, then close)
    chunked BYTES [AFTER]
                        200 with BYTES pattern bytes in chunked transfer coding
                        (chunks of 10000); with AFTER, ends the connection (fin)
                        after AFTER body bytes, without the last chunk
    redirect CODE URL   CODE (a 3xx) with Location: URL and a short body; a URL
                        starting with "/" means this server, "@PORT/PATH" the
                        same host on another port
    stall SECS [AFTER [OTHER]]
                        sends nothing for SECS seconds (at most 120, or until
                        the client hangs up) and closes;
                        with AFTER, first sends the headers of the file at OTHER,
                        or else at PATH (as "file" would, a range honoured), or
                        else of a 1 MiB body, and AFTER bytes of it

The path "@handshake" matches every connection before its TLS handshake; only
"stall SECS" applies there (the handshake waits that long).

Pattern byte i is i % 251.

Body bytes sent are counted: one "TARGET<TAB>BYTES" line of FAULT_DIR/bytes.log
for every piece of a body written (the file may be deleted at any time).

Every request is logged, before it is answered, as one line of FAULT_DIR/
requests.log: the TLS version, the method, the request target (with query) and
every header as "Name: value", separated by tabs. The file may be deleted at
any time to start a fresh log.

The server ends by itself after --lifetime seconds (default 3600).
"""

import argparse
import http.server
import os
import select
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import urllib.parse

PATTERN_BLOCK = bytes(range(251)) * 1045  # 262295 bytes, a whole number of periods
MAX_STALL = 120.0
# name, lowest and highest TLS version, port (0: any free one; "main" takes --port)
LISTENERS = [
    ("main", ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.TLSv1_2, 0),
    ("tls11", ssl.TLSVersion.TLSv1, ssl.TLSVersion.TLSv1_1, 0),
    ("tls13", ssl.TLSVersion.TLSv1_3, ssl.TLSVersion.TLSv1_3, 0),
]
DEFAULT_CUT_BODY = 1 << 20


def pattern(offset, length):
    """Pattern bytes offset..offset+length."""
    out = bytearray()
    pos = offset % 251
    while len(out) < length:
        take = min(length - len(out), len(PATTERN_BLOCK) - pos)
        out += PATTERN_BLOCK[pos:pos + take]
        pos = 0
    return bytes(out)


def manifest_text(size):
    head = b"morvel-launcher\t1\nlauncher\t7\n"
    if size < len(head):
        raise ValueError("manifest of %d bytes is shorter than its header" % size)
    parts = [head]
    left = size - len(head)
    while left > 0:
        if left < 5:
            parts.append(b"\n" * left)
            break
        line = min(1024, left)
        if 0 < left - line < 5:
            line = left - 5
        parts.append(b"pad\t" + b"p" * (line - 5) + b"\n")
        left -= line
    text = b"".join(parts)
    assert len(text) == size
    return text


class Rules:
    """Rules from rules.txt with their use counts, which reset when the text changes."""

    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        self.text = None
        self.used = {}

    def pick(self, request_path, only_listed=False):
        try:
            with open(self.path, "r", encoding="utf-8", errors="replace") as f:
                text = f.read()
        except OSError:
            text = ""
        with self.lock:
            if text != self.text:
                self.text, self.used = text, {}
            for index, line in enumerate(text.splitlines()):
                words = line.split()
                if not words or words[0].startswith("#") or len(words) < 2:
                    continue
                times = None
                if words[-1].startswith("times="):
                    times = int(words[-1][6:])
                    words = words[:-1]
                if len(words) < 2:
                    continue
                if words[0] != request_path and (words[0] != "*" or only_listed):
                    continue
                if times is not None:
                    if self.used.get(index, 0) >= times:
                        continue
                    self.used[index] = self.used.get(index, 0) + 1
                return words[1:]
        return None if only_listed else ["file"]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "MorvelFault/1"
    sys_version = ""

    def setup(self):
        self.request.settimeout(150)
        words = self.server.rules.pick("@handshake", only_listed=True)
        if words and words[0] == "stall":
            self.stall(float(words[1]))
        self.request.do_handshake()
        super().setup()

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def log_request_line(self):
        tls = self.request.version() or "?"
        fields = [tls, self.command, self.path]
        for name, value in self.headers.items():
            fields.append("%s: %s" % (name, value.replace("\t", " ").replace("\r", " ").replace("\n", " ")))
        with self.server.log_lock:
            with open(os.path.join(self.server.fault_dir, "requests.log"), "a", encoding="utf-8") as f:
                f.write("\t".join(fields) + "\n")

    def file_bytes(self, request_path):
        root = os.path.realpath(self.server.root)
        full = os.path.realpath(os.path.join(root, urllib.parse.unquote(request_path).lstrip("/")))
        if not full.startswith(root + os.sep) or not os.path.isfile(full):
            return None
        with open(full, "rb") as f:
            return f.read()

    def send_head(self, code, length, extra=()):
        self.send_response(code)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(length))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()

    def reply(self, code, body, extra=()):
        self.send_head(code, len(body), extra)
        self.write_body(body)

    def write_body(self, data):
        self.wfile.write(data)
        # Counted as it goes, so a response stalled or cut part-way counts too.
        with self.server.log_lock:
            with open(os.path.join(self.server.fault_dir, "bytes.log"), "a", encoding="utf-8") as f:
                f.write("%s\t%d\n" % (self.path, len(data)))

    def range_from(self):
        """N of a "Range: bytes=N-" header, or None."""
        value = self.headers.get("Range", "")
        if not value.startswith("bytes=") or not value.endswith("-") or not value[6:-1].isdigit():
            return None
        return int(value[6:-1])

    def ranged(self, body, shift=0):
        """Status, the bytes to send and extra headers for a whole body, the Range honoured."""
        start = self.range_from()
        if start is None:
            return 200, body, []
        if start >= len(body):
            return 416, b"", [("Content-Range", "bytes */%d" % len(body))]
        first = min(start + shift, len(body) - 1)
        return 206, body[first:], [("Content-Range", "bytes %d-%d/%d" % (first, len(body) - 1, len(body)))]

    def end_connection(self, how):
        self.wfile.flush()
        self.close_connection = True
        sock = self.request
        if how == "tls":
            sock.settimeout(2)
            try:
                sock = sock.unwrap()
            except (OSError, ssl.SSLError):
                pass
        elif how == "rst":
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        # Closed here and now (the reader holds a reference that would delay it);
        # Python never sends close_notify on close, so fin and rst end only TCP.
        self.rfile.close()
        try:
            sock.close()
        except OSError:
            pass

    def stall(self, seconds):
        """Sends nothing for SECS seconds, or until the client hangs up."""
        deadline = time.monotonic() + min(max(seconds, 0.0), MAX_STALL)
        while time.monotonic() < deadline and not self.server.stopping.is_set():
            time.sleep(0.1)
            # A peek at the TCP bytes under TLS: an end of stream is the client
            # gone, and nothing holds the handler thread any longer.
            readable, _, _ = select.select([self.request], [], [], 0)
            if readable:
                try:
                    if socket.socket.recv(self.request, 1, socket.MSG_PEEK) == b"":
                        return
                except OSError:
                    return

    def do_GET(self):  # noqa: N802 - the base class's name
        self.log_request_line()
        request_path = urllib.parse.urlsplit(self.path).path
        words = self.server.rules.pick(request_path)
        action, args = words[0], words[1:]
        try:
            self.act(request_path, action, args)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, socket.timeout):
            self.close_connection = True


    def act(self, request_path, action, args):
        if action in ("file", "norange", "badrange"):
            other = args[1:] if action == "badrange" else args
            body = self.file_bytes(other[0] if other else request_path)
            if body is None:
                self.reply(404, b"not found\n")
            elif action == "norange":
                self.reply(200, body)
            else:
                self.reply(*self.ranged(body, int(args[0]) if action == "badrange" else 0))
        elif action == "status":
            code = int(args[0])
            body = pattern(0, int(args[1]) if len(args) > 1 else 16)
            extra = [("Content-Range", "bytes 0-%d/%d" % (len(body) - 1, len(body) * 4))] if code == 206 else []
            self.reply(code, body, extra)
        elif action == "body":
            self.reply(200, pattern(0, int(args[0])))
        elif action == "manifest":
            self.reply(200, manifest_text(int(args[0])), [("Cache-Control", "no-cache")])
        elif action == "drop":
            after = int(args[0])
            how = args[1] if len(args) > 1 else "rst"
            body = self.file_bytes(args[2] if len(args) > 2 else request_path)
            code, extra = 200, []
            if body is None:
                body = pattern(0, DEFAULT_CUT_BODY)
            else:
                code, body, extra = self.ranged(body)
            self.send_head(code, len(body), extra)
            self.write_body(body[:after])
            self.wfile.flush()
            # Lets the client take in what was sent: a reset discards whatever
            # still waits unread on its side.
            self.stall(0.5)
            self.end_connection(how)
        elif action == "chunked":
            size = int(args[0])
            cut = int(args[1]) if len(args) > 1 else None
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            sent = 0
            while sent < size:
                piece = pattern(sent, min(10000, size - sent))
                if cut is not None and sent + len(piece) > cut:
                    piece = piece[:cut - sent]
                    self.wfile.write(b"%x\r\n%s" % (10000 if size - sent >= 10000 else size - sent, piece))
                    self.stall(0.5)
                    self.end_connection("fin")
                    return
                self.write_body(b"%x\r\n%s\r\n" % (len(piece), piece))
                sent += len(piece)
            if cut is not None:
                self.stall(0.5)
                self.end_connection("fin")
                return
            self.wfile.write(b"0\r\n\r\n")
        elif action == "redirect":
            target = args[1]
            if target.startswith("@"):
                port, _, rest = target[1:].partition("/")
                target = "https://localhost:%s/%s" % (port, rest)
            self.reply(int(args[0]), b"moved\n", [("Location", target)])
        elif action == "stall":
            seconds = float(args[0])
            if len(args) > 1:
                code, body, extra = 200, pattern(0, DEFAULT_CUT_BODY), []
                served = self.file_bytes(args[2] if len(args) > 2 else request_path)
                if served is not None:
                    code, body, extra = self.ranged(served)
                self.send_head(code, len(body), extra)
                self.write_body(body[:int(args[1])])
                self.wfile.flush()
            self.stall(seconds)
            self.end_connection("fin")
        else:
            self.reply(500, ("unknown fault action %r\n" % action).encode())

    def do_HEAD(self):  # noqa: N802
        self.log_request_line()
        self.reply(405, b"")

    do_POST = do_PUT = do_DELETE = do_OPTIONS = do_HEAD


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def handle_error(self, request, client_address):
        # Clients that hang up, time out or fail the handshake are part of the tests.
        pass


def main():
    parser = argparse.ArgumentParser(description="HTTPS fault server for the launcher's tests")
    parser.add_argument("--root", required=True)
    parser.add_argument("--fault-dir", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    parser.add_argument("--pid-file")
    parser.add_argument("--lifetime", type=float, default=3600)
    options = parser.parse_args()

    os.makedirs(options.fault_dir, exist_ok=True)
    rules = Rules(os.path.join(options.fault_dir, "rules.txt"))
    log_lock = threading.Lock()
    stopping = threading.Event()

    servers = []
    for name, low, high, port in LISTENERS:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        if low < ssl.TLSVersion.TLSv1_2:
            context.set_ciphers("DEFAULT:@SECLEVEL=0")  # OpenSSL 3 refuses TLS 1.0/1.1 otherwise
        context.minimum_version = low
        context.maximum_version = high
        context.load_cert_chain(options.cert, options.key)
        server = Server(("127.0.0.1", options.port if name == "main" else port), Handler)
        server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
        server.root = options.root
        server.fault_dir = options.fault_dir
        server.rules = rules
        server.log_lock = log_lock
        server.stopping = stopping
        servers.append((name, server))

    if options.pid_file:
        with open(options.pid_file, "w") as f:
            f.write("%d\n" % os.getpid())
    if options.port_file:
        with open(options.port_file + ".tmp", "w") as f:
            for name, server in servers:
                f.write("%s %d\n" % (name, server.server_address[1]))
        os.replace(options.port_file + ".tmp", options.port_file)

    for _, server in servers:
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True).start()
    try:
        time.sleep(options.lifetime)
    except KeyboardInterrupt:
        pass
    stopping.set()
    for _, server in servers:
        server.shutdown()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
