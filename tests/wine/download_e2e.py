#!/usr/bin/env python3
# The download component with the real WinINet reader (driver.exe download) and test_server.py.
import hashlib
import os

from harness import Server, expect, run_scenario, trusted_certificate


class Run:
    # One run of `driver download`: its event lines, by kind.
    def __init__(self, env, *args):
        self.lines = env.driver("download", *args)[1].splitlines()

    def of(self, kind, name):
        return [line.split(" ", 1)[1].split("|") for line in self.lines
                if line.startswith(f"{kind} {name}|")]

    def complete(self, name):
        rows = self.of("complete", name)
        expect(len(rows) == 1, f"one completion of {name} expected: {self.lines}")
        return int(rows[0][1])


def setup(env):
    # Files are saved to and memory bodies dumped in the working folder.
    www, out, body = env.work / "www", env.work, os.urandom(3_000_000)
    www.mkdir()
    for name, data in (("pkg.bin", body), ("empty.bin", b""), ("small.bin", b"abcd"),
                       ("limit.bin", os.urandom(4 << 20)), ("over.bin", os.urandom((4 << 20) + 1))):
        (www / name).write_bytes(data)
    return www, out, body


def no_leftovers(out):
    expect(not list(out.rglob("*.part*")), f"temporary files left: {list(out.rglob('*.part*'))}")


# name: (address, saved to a file?, expected error). Relative addresses are on the plain server;
# {tls} is the HTTPS one, whose certificate names localhost, {ip} the same by address.
TRANSFERS = {
    "memory": ("pkg.bin", False, 0),
    "更新": ("pkg.bin", True, 0),
    "e404": ("pkg.bin?status=404", True, 404),
    "cut": ("pkg.bin?cut=100000", True, 8002),
    "closed": ("pkg.bin?close=1", True, 8003),
    "empty": ("empty.bin", True, 8001),
    "chunked": ("pkg.bin?nolength=chunked", False, 0),
    "close_delimited": ("pkg.bin?nolength=close", True, 0),
    "relative": ("dl/a.bin?status=301&location=../pkg.bin", False, 0),
    "permanent": ("pkg.bin?status=308&location={base}pkg.bin", True, 0),
    "loop": ("pkg.bin?hops=50&x=loop", False, 8005),
    "to_file": ("pkg.bin?status=302&location=file:///C:/windows/notepad.exe", False, 8007),
    "not_a_redirect": ("pkg.bin?status=300&location=/pkg.bin", False, 300),
    # Neither the address's fragment nor that of the Location ("pkg.bin?y=2#f") is ever sent.
    "fragment": ("pkg.bin?x=1#part-2", False, 0),
    "fragment_redirected": ("pkg.bin?status=302&location=pkg.bin%3Fy=2%23f#a", True, 0),
    "gzip": ("pkg.bin?encoding=gzip", False, 8009),
    "identity": ("pkg.bin?encoding=identity", True, 0),
    "https": ("{tls}pkg.bin?hops=2", False, 0),
    "upgrade": ("pkg.bin?status=302&location={tls}pkg.bin", False, 0),
    "downgrade": ("{tls}pkg.bin?status=302&location={base}pkg.bin?x=down", True, 8006),
    "wrong_name": ("{ip}pkg.bin", False, 12038),
    # Bodies in memory end at 4 MiB, at once when a longer length is announced; packages do not.
    "endless": ("pkg.bin?endless=1", False, 8008),
    "announced": ("pkg.bin?endless=1&announce=4194305&trickle=1,1000", False, 8008),
    "limit": ("limit.bin?nolength=chunked", False, 0),
    "over": ("over.bin?nolength=close", False, 8008),
    "package": ("over.bin", True, 0),
}


def transfers(env):
    www, out, body = setup(env)
    (out / "更新.exe").write_bytes(b"x" * 5_000_000)  # a longer old file is replaced whole
    (out / "e404.exe").write_bytes(b"previous package")  # a failure leaves it alone
    with trusted_certificate(env) as cert, Server(env, www) as srv, \
            Server(env, www, "tls", tls=cert) as tls:
        bases = dict(base=srv.base, tls=tls.base, ip=tls.base.replace("localhost", "127.0.0.1"))
        args = ["--backoff", "20"]
        for name, (address, to_file, _) in TRANSFERS.items():
            address = ("" if address.startswith("{") else srv.base) + address.format(**bases)
            args += ["--get", name, address, env.win_path(out / f"{name}.exe") if to_file else "-"]
        run = Run(env, *args)
        requests = srv.requests() + tls.requests()
    for name, (_, to_file, err) in TRANSFERS.items():
        got = out / (name + (".exe" if to_file else ".bin"))
        expect(run.complete(name) == err, f"{name}: {run.of('complete', name)}")
        expect(got.exists() == (err == 0 or name == "e404"), f"{name}: file exists")
        served = next((f for f in ("limit.bin", "over.bin") if f in TRANSFERS[name][0]), "pkg.bin")
        expect(err != 0 or got.read_bytes() == (www / served).read_bytes(), f"{name}: body")
    expect((out / "e404.exe").read_bytes() == b"previous package", "a failure touched the file")
    expect(run.of("complete", "更新")[0][2] == "0", "a file task keeps no bytes in memory")
    expect(run.of("progress", "更新")[-1][1:3] == [str(len(body))] * 2, "the last progress")
    expect(run.of("progress", "chunked") + run.of("progress", "close_delimited") == [],
           "progress without a length")
    targets = [r["target"] for r in requests]
    expect(len([t for t in targets if "x=loop" in t]) == 11, "redirects end at the eleventh")
    expect(not [t for t in targets if "#" in t] and "/pkg.bin?x=1" in targets and
           "/pkg.bin?y=2" in targets, f"fragments: {targets}")
    expect("/pkg.bin?x=down" not in targets, "an https address was redirected to http")
    expect({r["headers"].get("Accept-Encoding") for r in requests} == {"identity"}, "encodings")
    no_leftovers(out)


def retries_and_resume(env):
    # Cut, busy and silent answers are retried, others final; a retry or a later run's part asks
    # for the rest only when the server honours that file's validator, else it starts over.
    www, out, body = setup(env)
    n, cut, slack = len(body), 900_000, 2 * 256 * 1024
    once = f"cut={cut}&faults=1"
    # name: (address or query on pkg.bin, error, If-Range of each request (None: no Range), whether
    # the bytes sent stay within the body plus slack (None: not checked)); doc… bodies in memory.
    cases = {
        "cut30": (f"cut={n * 3 // 10}&faults=1", 0, [None] * 2, None),
        "cut70": (f"cut={n * 7 // 10}&faults=2", 0, [None] * 3, None),
        "reset": ("close=1&faults=3", 0, [None] * 4, None),
        "busy": ("status=503&faults=1", 0, [None] * 2, None),
        "silent": ("hang=1&faults=1", 0, [None] * 2, None),
        # One byte every 0.6 s never leaves the link quiet for the 2 s stall timeout.
        "trickle": ("small.bin?trickle=1,600", 0, [None], None),
        "used_up": ("status=500", 500, [None] * 4, None),
        "dead": ("hang=1", 12002, [None] * 4, None),
        "e404": ("status=404&faults=1", 404, [None], None),
        # A document is not retried, but it does not hang either.
        "doc_silent": ("hang=1", 12002, [None], None),
        "etag": (f"etag=a&{once}", 0, [None, '"a"'], True),
        "lastmod": (f"lastmod=1&{once}", 0, [None, "Mon, 07 Dec 2026 05:00:00 GMT"], True),
        "twice": (f"etag=a&cut={cut}&faults=2", 0, [None, '"a"', '"a"'], True),
        "ignored": (f"etag=a&range=ignore&{once}", 0, [None, '"a"'], False),
        "changed": (f"etag=change&{once}", 0, [None, '"v1"'], False),
        "e416": (f"etag=a&range=416&{once}", 0, [None, '"a"', None], False),
        "wrong_offset": (f"etag=a&range=wrong&{once}", 0, [None, '"a"', None], False),
        # Left by an earlier run: the first bytes with this address's record; more bytes than the
        # body with another's (read afresh, none may remain).
        "stale_here": ("etag=a", 0, ['"a"'], True),
        "stale_elsewhere": ("etag=a", 0, [None], None),
    }
    with Server(env, www) as srv:
        address = {name: (q if "?" in q else "pkg.bin?" + q) + f"&x={name}"
                   for name, (q, *_) in cases.items()}
        for name, owner, left in (("stale_here", address["stale_here"], body[:cut]),
                                  ("stale_elsewhere", "x", body + bytes(4096))):
            (out / (name + ".part")).write_bytes(left)
            (out / (name + ".part.info")).write_text(f'{srv.base}{owner}\n"a"\n{n}\n')
        # Each retry event waits longer than a back-off: a count told late would show.
        args = ["--sha256", "--stall", "2000", "--backoff", "100", "--retries", "3",
                "--retry-delay", "300"]
        for name in cases:
            args += ["--get", name, srv.base + address[name],
                     "-" if name.startswith("doc") else env.win_path(out / name)]
        run = Run(env, *args)
        requests = srv.requests()
        sent = {name: srv.sent(f"x={name}") for name in cases}
    for name, (_, err, ranges, resumed) in cases.items():
        expected = (www / address[name].split("?")[0]).read_bytes()
        got = out / (name + (".bin" if name.startswith("doc") else ""))
        expect(run.complete(name) == err, f"{name}: {run.of('complete', name)}")
        expect(got.exists() == (err == 0) and (err != 0 or got.read_bytes() == expected),
               f"{name}: the file is wrong")
        digest = hashlib.sha256(expected).hexdigest()
        expect(err != 0 or f"sha256 {env.win_path(got)}|{digest}" in run.lines, f"{name}: digest")
        asked = [r["headers"] for r in requests if r["target"] == "/" + address[name]]
        expect([h.get("If-Range") if "Range" in h else None for h in asked] == ranges,
               f"{name}: asked {asked}")
        expect(resumed is None or (sent[name] <= n + slack) == resumed,
               f"{name}: {sent[name]} bytes sent")
        expect(resumed is not None or
               run.of("retry", name) == [[name, str(k), "3"] for k in range(1, len(ranges))],
               f"{name}: retries told {run.of('retry', name)}")
        progress = [int(row[1]) for row in run.of("progress", name)]
        expect(err != 0 or progress[-1] == len(expected) and
               (not resumed or progress == sorted(progress)), f"{name}: progress {progress}")
    no_leftovers(out)

    # A cancel during the back-off ends the read: no further request, no file.
    with Server(env, www) as srv:
        run = Run(env, "--backoff", "4000", "--cancel-at", "1000", "wait", "--linger", "5000",
                  "--get", "wait", srv.base + "pkg.bin?status=500", env.win_path(out / "w.exe"))
        targets = srv.targets()
    expect("cancelled wait" in run.lines and not run.of("complete", "wait") and
           run.of("retry", "wait") == [["wait", "1", "3"]], run.lines)
    expect(targets == ["/pkg.bin?status=500"], f"asked again after the cancel: {targets}")
    expect(not (out / "w.exe").exists(), "the cancelled task left a file")
    no_leftovers(out)


if __name__ == "__main__":
    run_scenario(globals())
