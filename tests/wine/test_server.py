#!/usr/bin/env python3
"""Loopback HTTP server of the download tests (standard library only).

Usage: test_server.py ROOT PORT_FILE [--lifetime SECONDS]

Serves the files under ROOT on 127.0.0.1 at a free port, which it writes to PORT_FILE once it
listens, and ends itself after the lifetime. The query string bends the answer:

  status=N            answer N with a short text body (404, 500 ...)
  nolength=close      no Content-Length; the body ends when the connection closes
  nolength=chunked    no Content-Length; chunked transfer encoding
  cut=N               announce the full length, send N bytes, close
  close=1             accept the request and close without any answer
  empty=1             200 with an empty body
  trickle=BYTES,MS    send the body in pieces of BYTES every MS milliseconds
  hang=first          the first request for this address gets no answer at all (the connection
                      stays open); later ones are answered as usual

The path /gen/N (N bytes, optional suffix K or M) serves a generated body without a file: a
repeating 1 MiB pattern, for the throughput benchmark.
"""
import argparse
import http.server
import os
import pathlib
import socket
import threading
import time
import urllib.parse

PATTERN = bytes((i * 131 + (i >> 8) * 7) & 0xFF for i in range(1 << 20))


def parse_size(text):
    scale = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}.get(text[-1:].upper(), 1)
    return int(text[:-1] if scale != 1 else text) * scale


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = pathlib.Path(".")
    lock = threading.Lock()
    seen = set()

    def log_message(self, fmt, *args):  # quiet: the tests read their own output
        pass

    def do_GET(self):
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
        if "status" in query:
            self.answer(int(query["status"]), b"error page\r\n", query)
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

    def answer(self, code, body, query, generated=None):
        length = generated if body is None else len(body)
        mode = query.get("nolength")
        self.send_response(code)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        if mode == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
        elif mode != "close":
            self.send_header("Content-Length", str(length))
        self.end_headers()
        limit = int(query["cut"]) if "cut" in query else length
        piece, delay = (1 << 20), 0.0
        if "trickle" in query:
            size, ms = query["trickle"].split(",")
            piece, delay = int(size), int(ms) / 1000.0
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
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client went away (a cancelled read)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("port_file")
    parser.add_argument("--lifetime", type=float, default=300)
    args = parser.parse_args()
    Handler.root = pathlib.Path(args.root).resolve()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    tmp = pathlib.Path(args.port_file + ".tmp")
    tmp.write_text(str(server.server_address[1]))
    os.replace(tmp, args.port_file)
    threading.Timer(args.lifetime, lambda: os._exit(0)).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
