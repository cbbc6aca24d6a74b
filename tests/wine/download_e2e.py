#!/usr/bin/env python3
# The download component with the real WinINet reader under Wine (driver.exe download), against
# test_server.py. Usage: download_e2e.py BUILD_DIR STATE_DIR CASE
import hashlib
import os
import time

from harness import Server, expect, run_scenario, trusted_certificate, until


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
    www, out = env.work / "www", env.work
    www.mkdir()
    body = os.urandom(3_000_000)
    (www / "pkg.bin").write_bytes(body)
    (www / "empty.bin").write_bytes(b"")
    return www, out, body


def no_leftovers(out):
    expect(not list(out.rglob("*.part")), f"temporary files left: {list(out.rglob('*.part'))}")


# name: (address, saved to a file?, expected error).
TRANSFERS = {
    "memory": ("pkg.bin", False, 0),
    "更新": ("pkg.bin", True, 0),
    "e404": ("pkg.bin?status=404", True, 404),
    "e500": ("pkg.bin?status=500", True, 500),
    "cut": ("pkg.bin?cut=100000", True, 8002),
    "closed": ("pkg.bin?close=1", True, 8003),
    "empty": ("empty.bin", True, 8001),
    "missing": ("no-such-file", False, 404),
    "chunked": ("pkg.bin?nolength=chunked", False, 0),
    "close_delimited": ("pkg.bin?nolength=close", True, 0),
    "relative": ("dl/a.bin?status=301&location=../pkg.bin", False, 0),
    "absolute": ("pkg.bin?status=307&location={base}pkg.bin", True, 0),
    "see_other": ("pkg.bin?status=303&location=/pkg.bin", False, 0),
    "permanent": ("pkg.bin?status=308&location=pkg.bin", True, 0),
    "ten_hops": ("pkg.bin?hops=10", True, 0),
    "eleven_hops": ("pkg.bin?hops=11", True, 8005),
    "loop": ("pkg.bin?hops=50&x=loop", False, 8005),
    "to_ftp": ("pkg.bin?status=302&location=ftp://127.0.0.1/pkg.bin", True, 8007),
    "to_file": ("pkg.bin?status=302&location=file:///C:/windows/notepad.exe", False, 8007),
    "no_location": ("pkg.bin?status=302", True, 8007),
    "not_a_redirect": ("pkg.bin?status=300&location=/pkg.bin", False, 300),
    # Neither the address's fragment nor that of the Location ("pkg.bin?y=2#f") is ever sent.
    "fragment": ("pkg.bin?x=1#part-2", False, 0),
    "fragment_redirected": ("pkg.bin?status=302&location=pkg.bin%3Fy=2%23f#a", True, 0),
    "gzip_doc": ("pkg.bin?encoding=gzip", False, 8009),
    "gzip_pkg": ("pkg.bin?encoding=gzip", True, 8009),
    "br": ("pkg.bin?encoding=br", True, 8009),
    "identity": ("pkg.bin?encoding=identity", True, 0),
}


def transfers(env):
    www, out, body = setup(env)
    (out / "更新.exe").write_bytes(b"x" * 5_000_000)  # a longer old file is replaced whole
    (out / "kept.exe").write_bytes(b"previous package")
    (out / "blocker").write_bytes(b"a file where a folder should go")
    args = ["--get", "kept", "{base}pkg.bin?status=404", env.win_path(out / "kept.exe"),
            "--get", "folder", "{base}pkg.bin", env.win_path(out / "blocker" / "sub" / "x.exe")]
    for name, (address, to_file, _) in TRANSFERS.items():
        args += ["--get", name, "{base}" + address, env.win_path(out / (name + ".exe")) if to_file
                 else "-"]
    with Server(env, www) as srv:
        run = Run(env, "--backoff", "20", *[a.replace("{base}", srv.base) for a in args])
        requests = srv.requests()
    for name, (_, to_file, err) in TRANSFERS.items():
        got = out / (name + (".exe" if to_file else ".bin"))
        expect(run.complete(name) == err, f"{name}: {run.of('complete', name)}")
        expect(got.exists() == (err == 0), f"{name}: file {got.name} exists: {got.exists()}")
        expect(err != 0 or got.read_bytes() == body, f"{name}: body differs")
    expect(run.complete("kept") == 404 and (out / "kept.exe").read_bytes() == b"previous package",
           "a failure touched the file")
    # The Update folder cannot be made: the completion comes inside BeginDownload, which then
    # gives the empty string.
    at = run.lines.index("complete folder|71|0")
    expect(run.lines[at + 1] == "begin folder|", run.lines)
    expect(run.of("complete", "更新")[0][2] == "0", "a file task keeps no bytes in memory")
    expect(run.of("progress", "更新")[-1][1:3] == [str(len(body))] * 2, "the last progress")
    expect(run.of("progress", "chunked") + run.of("progress", "close_delimited") == [],
           "progress without a length")
    targets = [r["target"] for r in requests]
    expect(len([t for t in targets if "x=loop" in t]) == 11, "redirects end at the eleventh")
    expect(not [t for t in targets if "#" in t] and "/pkg.bin?x=1" in targets and
           "/pkg.bin?y=2" in targets, f"fragments: {targets}")
    expect({r["headers"].get("Accept-Encoding") for r in requests} == {"identity"},
           "Accept-Encoding sent")
    no_leftovers(out)

    limit = 4 << 20
    (www / "limit.bin").write_bytes(os.urandom(limit))
    (www / "over.bin").write_bytes(os.urandom(limit + 1))
    with Server(env, www) as srv:
        run = Run(env, "--get", "endless", srv.base + "pkg.bin?endless=1", "-",
                  # A length announced past the limit is refused before the (1 byte/s) body.
                  "--get", "announced",
                  srv.base + "pkg.bin?endless=1&announce=4194305&trickle=1,1000", "-",
                  "--get", "limit", srv.base + "limit.bin?nolength=chunked", "-",
                  "--get", "over", srv.base + "over.bin?nolength=close", "-",
                  "--get", "package", srv.base + "over.bin", env.win_path(out / "over.exe"))
    errors = {name: run.complete(name) for name in ("endless", "announced", "limit", "over",
                                                    "package")}
    expect(errors == {"endless": 8008, "announced": 8008, "limit": 0, "over": 8008, "package": 0},
           f"memory bodies are capped at 4 MiB, packages are not: {errors}")
    expect((out / "limit.bin").read_bytes() == (www / "limit.bin").read_bytes() and
           (out / "over.exe").read_bytes() == (www / "over.bin").read_bytes(), "bodies differ")
    peak = int(next(line.split()[1] for line in run.lines if line.startswith("peak_working_set")))
    expect(peak < 64 << 20, f"peak working set {peak >> 20} MiB")


def lock_and_cancel(env):
    www, out, body = setup(env)
    held = out / "held.exe"
    held.write_bytes(b"running program")
    with Server(env, www) as srv:
        run = Run(env, "--lock", env.win_path(held), "--cancel-on-progress", "slow", "1",
                  "--linger", "3000",
                  "--get", "held", srv.base + "pkg.bin", env.win_path(held),
                  "--get", "slow", srv.base + "pkg.bin?trickle=200000,100",
                  env.win_path(out / "slow.exe"),
                  "--get", "other", srv.base + "pkg.bin", env.win_path(out / "other.exe"))
        expect(run.complete("held") == 70 and held.read_bytes() == b"running program",
               f"a held file: {run.lines}")
        expect("cancelled slow" in run.lines and not run.of("complete", "slow") and
               len(run.of("progress", "slow")) == 1, f"events after the cancel: {run.lines}")
        expect(not (out / "slow.exe").exists(), "the cancelled task left a file")
        expect(run.complete("other") == 0 and (out / "other.exe").read_bytes() == body, run.lines)
        no_leftovers(out)
        # 2 KiB/s: a read that waited for a full 256 KiB buffer would report nothing for minutes.
        # The program ends right after the cancel, its read still blocked: that leaves nothing.
        run = Run(env, "--cancel-on-progress", "slow", "3",
                  "--get", "slow", srv.base + "pkg.bin?trickle=1024,500",
                  env.win_path(out / "slow.exe"))
    progress = [int(row[1]) for row in run.of("progress", "slow")]
    expect(len(progress) == 3 and progress == sorted(set(progress)) and progress[-1] < 64 << 10,
           f"progress as it arrives: {progress}")
    time.sleep(0.5)
    expect("cancelled slow" in run.lines and not (out / "slow.exe").exists(), run.lines)
    no_leftovers(out)


def retries(env):
    # Attempts that fail part-way, answers that ask for a later try and silent servers are tried
    # again at the same address with short injected waits; other failures are final at once.
    www, out, body = setup(env)
    (www / "small.bin").write_bytes(b"abcd")
    n = len(body)
    # name: (address, saved to a file?, expected error, requests expected).
    cases = {
        "cut30": (f"pkg.bin?cut={n * 3 // 10}&faults=1", True, 0, 2),
        "cut70": (f"pkg.bin?cut={n * 7 // 10}&faults=2", True, 0, 3),
        "reset": ("pkg.bin?close=1&faults=3", True, 0, 4),
        "busy": ("pkg.bin?status=503&faults=1", True, 0, 2),
        "e408": ("pkg.bin?status=408&faults=1", True, 0, 2),
        "e429": ("pkg.bin?status=429&faults=1", True, 0, 2),
        "silent": ("pkg.bin?hang=1&faults=1", True, 0, 2),
        # One byte every 0.6 s never leaves the link quiet for the 2 s stall timeout.
        "trickle": ("small.bin?trickle=1,600", True, 0, 1),
        "used_up": ("pkg.bin?status=500", True, 500, 4),
        "dead": ("pkg.bin?hang=1", True, 12002, 4),
        "e404": ("pkg.bin?status=404&faults=1", True, 404, 1),
        "e403": ("pkg.bin?status=403&faults=1", True, 403, 1),
        # A document is not retried, but it does not hang either.
        "silent_doc": ("pkg.bin?hang=1&x=doc", False, 12002, 1),
    }
    with Server(env, www) as srv:
        args = ["--stall", "2000", "--backoff", "100", "--retries", "3"]
        for name, (address, to_file, _, _) in cases.items():
            args += ["--get", name, srv.base + address,
                     env.win_path(out / (name + ".exe")) if to_file else "-"]
        run = Run(env, *args)
        targets = srv.targets()
    for name, (address, to_file, err, asked) in cases.items():
        got = out / (name + (".exe" if to_file else ".bin"))
        expected = (www / address.split("?")[0]).read_bytes()
        expect(run.complete(name) == err, f"{name}: {run.of('complete', name)}")
        expect(got.exists() == (err == 0) and (err != 0 or got.read_bytes() == expected),
               f"{name}: the file is wrong")
        expect(targets.count("/" + address) == asked,
               f"{name}: asked {targets.count('/' + address)} times, not {asked}")
        expect(run.of("retry", name) == [[name, str(k), "3"] for k in range(1, asked)] or
               name == "silent_doc", f"{name}: retries told {run.of('retry', name)}")
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


def resume(env):
    # A retry asks only for the rest when the first answer gave a validator and the server
    # honours the range for that very file; anything else starts the body over. The streamed
    # SHA-256 covers the whole body either way.
    www, out, body = setup(env)
    n, cut, slack = len(body), 900_000, 2 * 256 * 1024
    # name: (query, ranges asked (If-Range value or None for no Range) after the first request,
    # resumed: bytes sent stay within the body plus slack).
    cases = {
        "etag": ("etag=a", ['"a"'], True),
        "lastmod": ("lastmod=1", ["Mon, 07 Dec 2026 05:00:00 GMT"], True),
        "etag70": ("etag=b&cut=2100000", ['"b"'], True),
        "twice": ("etag=a&faults=2", ['"a"', '"a"'], True),
        "no_validator": ("", [None], False),
        "ignored": ("etag=a&range=ignore", ['"a"'], False),
        "changed": ("etag=change", ['"v1"'], False),
        "e416": ("etag=a&range=416", ['"a"', None], False),
        "wrong_offset": ("etag=a&range=wrong", ['"a"', None], False),
    }
    address = lambda name, query: f"pkg.bin?x={name}&{query}" + \
        ("" if "cut=" in query else f"&cut={cut}") + ("" if "faults" in query else "&faults=1")
    with Server(env, www) as srv:
        args = ["--sha256", "--backoff", "50"]
        for name, (query, _, _) in cases.items():
            args += ["--get", name, srv.base + address(name, query), env.win_path(out / name)]
        run = Run(env, *args)
        requests = srv.requests()
        sent = {name: srv.sent(f"x={name}&") for name in cases}
    digest = hashlib.sha256(body).hexdigest()
    for name, (query, ranges, resumed) in cases.items():
        expect(run.complete(name) == 0 and (out / name).read_bytes() == body, f"{name}: body {[l for l in run.lines if not l.startswith('progress')]}")
        expect(f"sha256 {env.win_path(out / name)}|{digest}" in run.lines, f"{name}: digest")
        asked = [r["headers"] for r in requests if r["target"] == "/" + address(name, query)]
        expect("Range" not in asked[0] and [h.get("If-Range") for h in asked[1:]] == ranges,
               f"{name}: asked {asked}")
        expect(all(h.get("Range", "bytes=1-").startswith("bytes=") and
                   int(h.get("Range", "bytes=1-")[6:-1]) > 0 for h in asked), asked)
        expect((sent[name] <= n + slack) == resumed, f"{name}: {sent[name]} bytes sent")
        progress = [int(row[1]) for row in run.of("progress", name)]
        expect(progress[-1] == n and (not resumed or progress == sorted(progress)),
               f"{name}: progress {progress}")
    no_leftovers(out)


def across_runs(env):
    # A run that is killed or cancelled mid-body leaves it beside the save path with its record;
    # the next run of the same address resumes it (the hash rebuilt over the bytes on disk), and
    # one of another address starts afresh. Nothing partial is ever at the save path.
    www, out, body = setup(env)
    n, slack = len(body), 256 * 1024
    save, part, record = out / "pkg.exe", out / "pkg.exe.part", out / "pkg.exe.part.info"
    digest = hashlib.sha256(body).hexdigest()
    with Server(env, www) as srv:
        slow, fast = srv.base + "pkg.bin?etag=a&trickle=65536,100", srv.base + "pkg.bin?etag=a"
        first = env.start(env.build / "driver.exe", "download", "--get", "pkg", slow,
                          env.win_path(save), log="first.log")
        expect(until(lambda: part.exists() and part.stat().st_size > n // 4, 20), "no progress")
        first.kill()
        first.wait()
        time.sleep(0.5)
        kept = part.stat().st_size
        expect(record.exists() and 0 < kept < n and not save.exists(), f"kept {kept}")
        run = Run(env, "--sha256", "--get", "pkg", slow.replace("trickle=65536,100", "x=1"),
                  env.win_path(save))
        # Another address: the partial body is not taken up.
        expect(run.complete("pkg") == 0 and f"sha256 {env.win_path(save)}|{digest}" in run.lines
               and save.read_bytes() == body, run.lines)
        asked = [r["headers"].get("Range") for r in srv.requests()]
        expect(asked == [None, None], f"ranges asked: {asked}")
        expect(not part.exists() and not record.exists(), "the partial body was left")

        # Cancelled (as when the window closes) and resumed.
        save.unlink()
        run = Run(env, "--cancel-at", "1000", "pkg", "--get", "pkg", slow, env.win_path(save))
        time.sleep(0.5)
        kept = part.stat().st_size if part.exists() else 0
        expect(record.exists() and 0 < kept < n and not save.exists(), f"kept {kept}")
        before = srv.sent()
        run = Run(env, "--sha256", "--get", "pkg", slow, env.win_path(save))
        expect(run.complete("pkg") == 0 and f"sha256 {env.win_path(save)}|{digest}" in run.lines
               and save.read_bytes() == body, run.lines)
        expect(srv.requests()[-1]["headers"].get("Range") == f"bytes={kept}-", "not resumed")
        expect(srv.sent() - before <= n - kept + slack, f"{srv.sent() - before} bytes sent")
        expect(not part.exists() and not record.exists(), "the partial body was left")
    no_leftovers(out)


def https_is_never_downgraded(env):
    www, out, body = setup(env)
    with trusted_certificate(env) as cert, Server(env, www, "plain") as plain, \
            Server(env, www, "tls", tls=cert) as tls:
        up, down = (f"{a.base}pkg.bin?status=302&location={b.base}pkg.bin"
                    for a, b in ((plain, tls), (tls, plain)))
        run = Run(env, "--get", "https", tls.base + "pkg.bin", "-",
                  "--get", "https_hops", tls.base + "pkg.bin?hops=2", env.win_path(out / "h.exe"),
                  "--get", "upgrade", up, "-",
                  "--get", "downgrade", down, env.win_path(out / "downgrade.exe"),
                  # The certificate names localhost, not the address: the name check is on.
                  "--get", "wrong_name", tls.base.replace("localhost", "127.0.0.1") + "pkg.bin",
                  "-")
        plain_targets = plain.targets()
    errors = {name: run.complete(name)
              for name in ("https", "https_hops", "upgrade", "downgrade", "wrong_name")}
    expect(errors == {"https": 0, "https_hops": 0, "upgrade": 0, "downgrade": 8006,
                      "wrong_name": 12038}, f"errors: {errors}")
    expect((out / "https.bin").read_bytes() == body and (out / "h.exe").read_bytes() == body and
           (out / "upgrade.bin").read_bytes() == body, "bodies over https differ")
    expect(not (out / "downgrade.exe").exists(), "the downgraded package was saved")
    expect(plain_targets == [up[len(plain.base) - 1:]], f"plain http was asked: {plain_targets}")


if __name__ == "__main__":
    run_scenario(globals())
