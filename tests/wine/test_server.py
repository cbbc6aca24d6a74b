#!/usr/bin/env python3
# The tests' web server (standard library only): test_server.py ROOT PORT_FILE LIFETIME LOG [CERT
# KEY] serves ROOT on 127.0.0.1 at a free port (written to PORT_FILE once listening; HTTPS with
# the PEM CERT and KEY) and ends after LIFETIME seconds. LOG gets one JSON line per request
# ({"target", "headers"}), LOG.sent the body bytes each answer sent ({"target", "sent"}).
# The query bends the answer: status=N (location=URL: that Location), hops=N (N chained 302s),
# nolength=close|chunked, cut=N (N bytes of the announced length, then close), close=1 (no
# answer), trickle=BYTES,MS, hang=1 (never answer) or hang=first (the first time only), faults=K
# (cut, close, hang, status and trickle bend only the first K requests), endless=1, announce=N
# (Content-Length: N whatever the body), encoding=NAME (gzip compresses). A file is served whole
# unless "Range: bytes=N-" comes with an If-Range matching its validator: etag=V (V=change: new
# for every request), lastmod=1; range=ignore|416|wrong (the 206 starts 1000 bytes late) bend it.
import gzip
import http.server
import itertools
import json
import os
import pathlib
import re
import socket
import ssl
import sys
import threading
import time
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root, lock, counts, cache, log_file = pathlib.Path("."), threading.Lock(), {}, {}, None

    def log_message(self, fmt, *args):  # quiet: the tests read their own output
        pass

    def do_GET(self):
        with self.lock, open(self.log_file, "a", encoding="utf-8") as out:
            out.write(json.dumps({"target": self.path, "headers": dict(self.headers)}) + "\n")
            count = self.counts[self.path] = self.counts.get(self.path, 0) + 1
        url = urllib.parse.urlsplit(self.path)
        query = {k: v[-1] for k, v in urllib.parse.parse_qs(url.query).items()}
        self.close_connection = True
        if count > int(query.get("faults", count)):
            query = {k: v for k, v in query.items()
                     if k not in ("cut", "close", "hang", "status", "trickle")}
        if query.get("hang") == "1" or (query.get("hang") == "first" and count == 1):
            time.sleep(3600)
        elif query.get("close"):
            self.connection.shutdown(socket.SHUT_RDWR)
        elif int(query.get("hops", "0")) > 0:
            rest = urllib.parse.urlencode({**query, "hops": int(query["hops"]) - 1})
            self.answer(302, b"moved\r\n", {}, location=f"{url.path}?{rest}")
        elif "status" in query:
            self.answer(int(query["status"]), b"error page\r\n", query, query.get("location"))
        elif query.get("endless"):
            self.answer(200, itertools.repeat(b"x" * 65536), {**query, "nolength": "close"})
        else:
            target = (self.root / urllib.parse.unquote(url.path).lstrip("/")).resolve()
            if self.root in target.parents and target.is_file():
                self.answer_file(memoryview(self.contents(target)), query, count)
            else:
                self.answer(404, b"not found\r\n", {})

    @classmethod
    def contents(cls, path):
        # Read once while unchanged: a large file read anew for every retry would time the disk.
        key = (str(path), path.stat().st_mtime_ns, path.stat().st_size)
        with cls.lock:
            if cls.cache.get("key") != key:
                cls.cache = {"key": key, "data": path.read_bytes()}
            return cls.cache["data"]

    def answer_file(self, data, query, count):
        headers = {}
        if tag := query.get("etag"):
            headers["ETag"] = f'"{f"v{count}" if tag == "change" else tag}"'
        if query.get("lastmod"):
            headers["Last-Modified"] = "Mon, 07 Dec 2026 05:00:00 GMT"
        validator = headers.get("ETag") or headers.get("Last-Modified")
        ranged = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
        mode = query.get("range")
        if ranged and mode == "416":
            self.answer(416, b"", {}, headers={"Content-Range": f"bytes */{len(data)}"})
        elif (ranged and mode != "ignore" and validator and
              self.headers.get("If-Range") == validator and int(ranged[1]) < len(data)):
            start = int(ranged[1]) + (1000 if mode == "wrong" else 0)
            headers["Content-Range"] = f"bytes {start}-{len(data) - 1}/{len(data)}"
            self.answer(206, data[start:], query, headers=headers)
        else:
            self.answer(200, data, query, headers=headers)

    def answer(self, code, body, query, location=None, headers=None):
        # Sends `body` (bytes, or an endless iterator of pieces) bent by the query.
        if query.get("encoding") == "gzip":
            body = gzip.compress(body)
        mode = query.get("nolength")
        self.send_response(code)
        for name, value in (("Content-Type", "application/octet-stream"), ("Connection", "close"),
                            ("Location", location), ("Content-Encoding", query.get("encoding")),
                            ("Transfer-Encoding", "chunked" if mode == "chunked" else None),
                            *(headers or {}).items()):
            if value is not None:
                self.send_header(name, value)
        if "announce" in query or not mode:
            self.send_header("Content-Length", query.get("announce") or str(len(body)))
        self.end_headers()
        size, ms = map(int, query.get("trickle", f"{1 << 20},0").split(","))
        # Slices of file contents are views: copying hundreds of MiB per answer would time memory.
        whole = isinstance(body, (bytes, memoryview))
        pieces = [body[:int(query.get("cut", len(body)))]] if whole else body
        sent = 0
        try:
            for piece in pieces:
                for at in range(0, len(piece), size):
                    data = piece[at:at + size]
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data) if mode == "chunked"
                                     else data)
                    sent += len(data)
                    if ms:
                        self.wfile.flush()
                        time.sleep(ms / 1000)
            if mode == "chunked" and "cut" not in query:
                self.wfile.write(b"0\r\n\r\n")
            self.wfile.flush()
        except OSError:
            pass  # the client went away (a cancelled read, a refused answer)
        with self.lock, open(self.log_file + ".sent", "a", encoding="utf-8") as out:
            out.write(json.dumps({"target": self.path, "sent": sent}) + "\n")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    context = None

    def get_request(self):
        sock, address = super().get_request()
        if self.context is not None:
            # The handshake runs on first read, in the request's thread: it cannot stall accept().
            sock = self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, address

    def handle_error(self, request, client_address):
        pass  # a client that refused our certificate or went away


def main():
    root, port_file, lifetime, Handler.log_file, *tls = sys.argv[1:]
    Handler.root = pathlib.Path(root).resolve()
    server = Server(("127.0.0.1", 0), Handler)
    if tls:
        server.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        server.context.load_cert_chain(*tls)
    pathlib.Path(port_file + ".tmp").write_text(str(server.server_address[1]))
    os.replace(port_file + ".tmp", port_file)
    threading.Timer(float(lifetime), lambda: os._exit(0)).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
