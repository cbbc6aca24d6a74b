#!/usr/bin/env python3
"""Loopback HTTP server of the download tests (standard library only).

Usage: test_server.py ROOT PORT_FILE [--lifetime SECONDS] [--log FILE] [--tls CERT KEY]

Serves the files under ROOT on 127.0.0.1 at a free port, which it writes to PORT_FILE once it
listens, and ends itself after the lifetime. With --log each request is appended to FILE as one
JSON line {"target": the request target as sent, "headers": {name: value}}, so tests can see what
a client asked for (a fragment it should not have sent, its Accept-Encoding). With --tls it
speaks HTTPS with the PEM certificate and key given.

The query string bends the answer:

  status=N            answer N with a short text body (404, 500 ...)
  location=URL        add a Location header (with status=30x: a redirect to URL as given, so
                      relative, https and non-http targets can all be served)
  hops=N              redirect (302) to the same address with hops=N-1; hops=0 serves the file,
                      so hops=N is a chain of N redirects
  loop=1              redirect (302) to exactly the address asked for, for ever
  nolength=close      no Content-Length; the body ends when the connection closes
  nolength=chunked    no Content-Length; chunked transfer encoding
  cut=N               announce the full length, send N bytes, close (with nolength=chunked: the
                      chunks of N bytes without the terminating 0-chunk)
  close=1             accept the request and close without any answer
  empty=1             200 with an empty body
  trickle=BYTES,MS    send the body in pieces of BYTES every MS milliseconds
  hang=first          the first request for this address gets no answer at all (the connection
                      stays open); later ones are answered as usual
  endless=1           200 without a length and a body that never ends (until the client goes)
  announce=N          Content-Length: N whatever the body is
  encoding=NAME       Content-Encoding: NAME whatever the request accepted; gzip and deflate
                      compress the body (Content-Length is then the compressed length), other
                      names only label it

The path /gen/N (N bytes, optional suffix K or M) serves a generated body without a file: a
repeating 1 MiB pattern, for the throughput benchmark.
"""
import argparse
import gzip
import http.server
import json
import os
import pathlib
import socket
import ssl
import threading
import time
import urllib.parse
import zlib

PATTERN = bytes((i * 131 + (i >> 8) * 7) & 0xFF for i in range(1 << 20))


def parse_size(text):
    scale = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}.get(text[-1:].upper(), 1)
    return int(text[:-1] if scale != 1 else text) * scale


def with_query(target, **changes):
    """`target` (path and query) with the given query fields replaced."""
    url = urllib.parse.urlsplit(target)
    fields = [(k, v) for k, v in urllib.parse.parse_qsl(url.query, keep_blank_values=True)
              if k not in changes]
    fields += [(k, str(v)) for k, v in changes.items()]
    return urllib.parse.urlunsplit(("", "", url.path, urllib.parse.urlencode(fields), ""))


def encode(body, name):
    if name == "gzip":
        return gzip.compress(body)
    if name == "deflate":
        return zlib.compress(body)
    return body


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = pathlib.Path(".")
    lock = threading.Lock()
    seen = set()
    log_file = None
    log_lock = threading.Lock()

    def log_message(self, fmt, *args):  # quiet: the tests read their own output
        pass

    def record(self):
        if self.log_file is None:
            return
        line = json.dumps({"target": self.path, "headers": dict(self.headers.items())})
        with self.log_lock, open(self.log_file, "a", encoding="utf-8") as out:
            out.write(line + "\n")

    def do_GET(self):
        self.record()
        url = urllib.parse.urlsplit(self.path)
        query = {k: v[-1] for k, v in urllib.parse.parse_qs(url.query).items()}
        self.close_connection = True
        if query.get("hang") == "first":
            with Handler.lock:
                first = self.path not in Handler.seen
                Handler.seen.add(self.path)
            if first:
                time.sleep(3600)
                return
        if query.get("close"):
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if query.get("loop"):
            self.answer(302, b"moved\r\n", {}, location=self.path)
            return
        if int(query.get("hops", "0")) > 0:
            target = with_query(self.path, hops=int(query["hops"]) - 1)
            self.answer(302, b"moved\r\n", {}, location=target)
            return
        if "status" in query:
            self.answer(int(query["status"]), b"error page\r\n", query,
                        location=query.get("location"))
            return
        if query.get("endless"):
            self.endless(query)
            return
        if query.get("empty"):
            self.answer(200, b"", query)
            return
        path = urllib.parse.unquote(url.path)
        if path.startswith("/gen/"):
            self.answer(200, None, query, generated=parse_size(path[5:]))
            return
        target = (self.root / path.lstrip("/")).resolve()
        if self.root not in target.parents or not target.is_file():
            self.answer(404, b"not found\r\n", {})
            return
        self.answer(200, target.read_bytes(), query)

    def pace(self, query):
        if "trickle" not in query:
            return (1 << 20), 0.0
        size, ms = query["trickle"].split(",")
        return int(size), int(ms) / 1000.0

    def endless(self, query):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        if "announce" in query:
            self.send_header("Content-Length", query["announce"])
        self.end_headers()
        piece, delay = self.pace(query)
        try:
            while True:
                self.wfile.write(PATTERN[:piece])
                self.wfile.flush()
                if delay:
                    time.sleep(delay)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            pass  # the client gave up: that is the point

    def answer(self, code, body, query, generated=None, location=None):
        name = query.get("encoding")
        if name and body is not None:
            body = encode(body, name)
        length = generated if body is None else len(body)
        mode = query.get("nolength")
        self.send_response(code)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        if location is not None:
            self.send_header("Location", location)
        if name:
            self.send_header("Content-Encoding", name)
        if mode == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
        elif "announce" in query:
            self.send_header("Content-Length", query["announce"])
        elif mode != "close":
            self.send_header("Content-Length", str(length))
        self.end_headers()
        limit = int(query["cut"]) if "cut" in query else length
        piece, delay = self.pace(query)
        sent = 0
        try:
            while sent < limit:
                n = min(piece, limit - sent)
                if body is None:
                    at = sent % len(PATTERN)
                    data = PATTERN[at:at + n]
                    n = len(data)
                else:
                    data = body[sent:sent + n]
                if mode == "chunked":
                    self.wfile.write(b"%x\r\n" % n + data + b"\r\n")
                else:
                    self.wfile.write(data)
                sent += n
                if delay:
                    self.wfile.flush()
                    time.sleep(delay)
            if mode == "chunked" and "cut" not in query:
                self.wfile.write(b"0\r\n\r\n")
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass  # the client went away (a cancelled read)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    context = None

    def get_request(self):
        sock, address = super().get_request()
        if self.context is not None:
            # The handshake runs in the request's own thread (on its first read), so a client
            # that fails it cannot stall the accept loop.
            sock = self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, address

    def handle_error(self, request, client_address):
        pass  # a client that refused our certificate or went away


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("port_file")
    parser.add_argument("--lifetime", type=float, default=300)
    parser.add_argument("--log")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    args = parser.parse_args()
    Handler.root = pathlib.Path(args.root).resolve()
    Handler.log_file = args.log
    server = Server(("127.0.0.1", 0), Handler)
    if args.tls:
        server.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        server.context.load_cert_chain(*args.tls)
    tmp = pathlib.Path(args.port_file + ".tmp")
    tmp.write_text(str(server.server_address[1]))
    os.replace(tmp, args.port_file)
    threading.Timer(args.lifetime, lambda: os._exit(0)).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
