#!/usr/bin/env python3
"""The download component with the real WinINet reader under Wine, against test_server.py.

Usage: download_e2e.py BUILD_DIR STATE_DIR CASE

Also the home of the pieces the server-fault scenarios share: a test server that logs what it
was asked (and can speak HTTPS), and a certificate the Wine prefix trusts for the test's time.
"""
import hashlib
import json
import os
import pathlib
import ssl
import struct
import subprocess
import sys
import time

from harness import Scenarios, Server, WineEnv, expect

case = Scenarios()


class Run:
    """One run of download_host.exe: its event lines, by kind."""

    def __init__(self, env, *args, timeout=60):
        _, out = env.run(env.build / "download_host.exe", *args, timeout=timeout)
        self.lines = out.splitlines()

    def of(self, kind, name=None):
        rows = [line.split(" ", 1)[1].split("|") for line in self.lines
                if line.startswith(kind + " ")]
        return [row for row in rows if name is None or row[0] == name]

    def complete(self, name):
        rows = self.of("complete", name)
        expect(len(rows) == 1, f"one completion of {name} expected: {self.lines}")
        return int(rows[0][1])


def setup(env, size=3_000_000):
    www = env.work / "www"
    www.mkdir()
    body = os.urandom(size)
    (www / "pkg.bin").write_bytes(body)
    out = env.work / "out"
    out.mkdir()
    return www, out, body


def leftovers(folder):
    return sorted(p.name for p in folder.rglob("*.part"))


class LoggedServer:
    """test_server.py with a request log, optionally over TLS (certificate and key files)."""

    def __init__(self, env, root, name="server", tls=None, lifetime=100):
        port_file = env.work / (name + ".port")
        port_file.unlink(missing_ok=True)
        self.log_path = env.work / (name + ".requests")
        self.log_path.unlink(missing_ok=True)
        args = [sys.executable, str(pathlib.Path(__file__).with_name("test_server.py")), str(root),
                str(port_file), "--lifetime", str(lifetime), "--log", str(self.log_path)]
        if tls:
            args += ["--tls", str(tls.cert), str(tls.key)]
        self.out = open(env.work / (name + ".out"), "wb")
        self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=self.out,
                                     stderr=subprocess.STDOUT)
        for _ in range(200):
            port = port_file.read_text().strip() if port_file.exists() else ""
            if port:
                # Certificates name hosts, not addresses: Wine checks the name against them.
                self.base = f"https://localhost:{port}/" if tls else f"http://127.0.0.1:{port}/"
                return
            time.sleep(0.05)
        raise AssertionError("the test server did not start")

    def requests(self):
        """What the server was asked, in order: dicts with target and headers."""
        if not self.log_path.exists():
            return []
        return [json.loads(line) for line in self.log_path.read_text().splitlines()]

    def targets(self):
        return [r["target"] for r in self.requests()]

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.proc.kill()
        self.proc.wait()
        self.out.close()


class TrustedCertificate:
    """A self-signed certificate for localhost, made with openssl, that the Wine prefix trusts
    while the test runs: it sits in the user's root store of the prefix (the registry key that
    crypt32 reads), never in the host's. Each test makes its own, so parallel tests never share
    one, and removes it when done."""

    KEY = r"HKCU\Software\Microsoft\SystemCertificates\Root\Certificates"

    def __init__(self, env):
        self.env = env
        self.cert, self.key = env.work / "tls.crt", env.work / "tls.key"
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-keyout", str(self.key), "-out", str(self.cert),
                        "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost",
                        "-addext", "basicConstraints=critical,CA:TRUE",
                        "-addext", "extendedKeyUsage=serverAuth"],
                       check=True, capture_output=True, timeout=60)
        der = ssl.PEM_cert_to_DER_cert(self.cert.read_text())
        self.entry = self.KEY + "\\" + hashlib.sha1(der).hexdigest().upper()
        # A serialized store element: the certificate property (32), X.509 encoding (1), length.
        blob = struct.pack("<III", 32, 1, len(der)) + der
        env.run("reg", "add", self.entry, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(),
                "/f")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.env.run("reg", "delete", self.entry, "/f", check=False)


@case
def bodies_arrive_byte_for_byte(env):
    www, out, body = setup(env)
    (out / "更新.exe").write_bytes(b"x" * 5_000_000)  # a longer old file is replaced whole
    with Server(env, www) as srv:
        run = Run(env, "--get", "检查新版本", srv.base + "pkg.bin", "-",
                  "--get", "下载更新文件", srv.base + "pkg.bin", env.win_path(out / "更新.exe"),
                  "--dump", env.win_path(out))
    expect(run.complete("检查新版本") == 0 and run.complete("下载更新文件") == 0, run.lines)
    expect((out / "检查新版本.bin").read_bytes() == body, "memory body differs")
    expect((out / "更新.exe").read_bytes() == body, "saved body differs")
    expect(run.of("complete", "下载更新文件")[0][3] == "0", "a file task keeps no bytes in memory")
    progress = run.of("progress", "下载更新文件")
    expect(progress and progress[-1][1:3] == [str(len(body))] * 2, f"progress: {progress}")
    expect(leftovers(out) == [], f"temporary files left: {leftovers(out)}")


@case
def failures_leave_no_file(env):
    www, out, _ = setup(env)
    (out / "kept.exe").write_bytes(b"previous package")
    cases = {"e404": ("?status=404", 404), "e500": ("?status=500", 500),
             "cut": ("?cut=100000", 8002), "closed": ("?close=1", 8003), "empty": ("?empty=1", 8001)}
    args = []
    for name, (query, _) in cases.items():
        args += ["--get", name, "{base}pkg.bin" + query, env.win_path(out / (name + ".exe"))]
    args += ["--get", "kept", "{base}pkg.bin?status=404", env.win_path(out / "kept.exe")]
    args += ["--get", "missing", "{base}no-such-file", "-"]
    with Server(env, www) as srv:
        run = Run(env, *[a.format(base=srv.base) for a in args])
    for name, (_, err) in cases.items():
        expect(run.complete(name) == err, f"{name}: {run.of('complete', name)}")
        expect(not (out / (name + ".exe")).exists(), f"{name} left a file")
    expect(run.complete("kept") == 404 and run.complete("missing") == 404, run.lines)
    expect((out / "kept.exe").read_bytes() == b"previous package", "a failure touched the file")
    expect(leftovers(out) == [], f"temporary files left: {leftovers(out)}")


@case
def no_length_gives_no_progress(env):
    www, out, body = setup(env)
    with Server(env, www) as srv:
        run = Run(env, "--get", "chunked", srv.base + "pkg.bin?nolength=chunked", "-",
                  "--get", "closed", srv.base + "pkg.bin?nolength=close",
                  env.win_path(out / "closed.exe"), "--dump", env.win_path(out))
    expect(run.of("progress") == [], f"no progress without a length: {run.lines}")
    expect(run.complete("chunked") == 0 and run.complete("closed") == 0, run.lines)
    expect((out / "chunked.bin").read_bytes() == body, "chunked body differs")
    expect((out / "closed.exe").read_bytes() == body, "close-delimited body differs")


@case
def locked_target_gives_70(env):
    www, out, _ = setup(env)
    target = out / "held.exe"
    target.write_bytes(b"running program")
    with Server(env, www) as srv:
        run = Run(env, "--lock", env.win_path(target),
                  "--get", "下载更新文件", srv.base + "pkg.bin", env.win_path(target))
    expect(run.complete("下载更新文件") == 70, run.lines)
    expect(target.read_bytes() == b"running program", "the held file changed")
    expect(leftovers(out) == [], f"temporary files left: {leftovers(out)}")


@case
def uncreatable_folder_gives_71(env):
    www, out, _ = setup(env)
    (out / "blocker").write_bytes(b"a file where a folder should go")
    with Server(env, www) as srv:
        run = Run(env, "--get", "x", srv.base + "pkg.bin",
                  env.win_path(out / "blocker" / "sub" / "x.exe"))
    # The completion is raised inside BeginDownload, which then returns the empty string.
    expect(run.lines[0].startswith("complete x|71|0|0|") and run.lines[1] == "begin x|",
           run.lines)


@case
def cancel_mid_trickle_is_silent(env):
    www, out, body = setup(env)
    with Server(env, www) as srv:
        run = Run(env, "--cancel-on-progress", "slow", "--linger", "3000",
                  "--get", "slow", srv.base + "pkg.bin?trickle=200000,100",
                  env.win_path(out / "slow.exe"),
                  "--get", "other", srv.base + "pkg.bin", env.win_path(out / "other.exe"))
    expect("cancelled slow" in run.lines, run.lines)
    expect(run.of("complete", "slow") == [], f"an event after the cancel: {run.lines}")
    expect(len(run.of("progress", "slow")) == 1, "progress after the cancel")
    expect(not (out / "slow.exe").exists(), "the cancelled task left a file")
    expect(run.complete("other") == 0 and (out / "other.exe").read_bytes() == body, run.lines)
    expect(leftovers(out) == [], f"temporary files left: {leftovers(out)}")
    # A program that ends right after the cancel, its read still blocked, leaves nothing either.
    with Server(env, www) as srv:
        run = Run(env, "--cancel-on-progress", "slow", "--get", "slow",
                  srv.base + "pkg.bin?trickle=200000,300", env.win_path(out / "slow.exe"))
        expect("cancelled slow" in run.lines, run.lines)
        time.sleep(0.5)
        expect(leftovers(out) == [] and not (out / "slow.exe").exists(),
               f"files left by an abandoned read: {list(out.iterdir())}")


@case
def redirects_are_followed_within_bounds(env):
    www, out, body = setup(env)
    # name: (address, memory read?, expected error)
    cases = {
        "relative": ("dl/a.bin?status=301&location=../pkg.bin", True, 0),
        "absolute": ("pkg.bin?status=307&location={base}pkg.bin", False, 0),
        "see_other": ("pkg.bin?status=303&location=/pkg.bin", True, 0),
        "permanent": ("pkg.bin?status=308&location=pkg.bin", False, 0),
        "ten_hops": ("pkg.bin?hops=10", False, 0),
        "eleven_hops": ("pkg.bin?hops=11", False, 8005),
        "loop": ("pkg.bin?loop=1", True, 8005),
        "to_ftp": ("pkg.bin?status=302&location=ftp://127.0.0.1/pkg.bin", False, 8007),
        "to_file": ("pkg.bin?status=302&location=file:///C:/windows/notepad.exe", True, 8007),
        "no_location": ("pkg.bin?status=302", False, 8007),
        "not_a_redirect": ("pkg.bin?status=300&location=/pkg.bin", True, 300),
    }
    with LoggedServer(env, www) as srv:
        args = []
        for name, (address, memory, _) in cases.items():
            save = "-" if memory else env.win_path(out / (name + ".exe"))
            args += ["--get", name, srv.base + address.format(base=srv.base), save]
        run = Run(env, *args, "--dump", env.win_path(out))
        targets = srv.targets()
    for name, (_, memory, err) in cases.items():
        expect(run.complete(name) == err, f"{name}: {run.of('complete', name)}")
        got = out / (name + (".bin" if memory else ".exe"))
        expect(got.exists() == (err == 0), f"{name}: file {got.name} exists: {got.exists()}")
        expect(err != 0 or got.read_bytes() == body, f"{name}: body differs")
    # The loop ends at its eleventh redirect: the first request and ten followed.
    loops = targets.count("/pkg.bin?loop=1")
    expect(loops == 11, f"the loop was asked {loops} times")
    expect(leftovers(out) == [], f"temporary files left: {leftovers(out)}")


@case
def fragment_is_never_sent(env):
    www, out, body = setup(env)
    with LoggedServer(env, www) as srv:
        # The Location is "pkg.bin?y=2#f": its fragment must not be sent either.
        redirect = "pkg.bin?status=302&location=pkg.bin%3Fy=2%23f"
        run = Run(env, "--get", "direct", srv.base + "pkg.bin?x=1#part-2", "-",
                  "--get", "redirected", srv.base + redirect + "#a",
                  env.win_path(out / "redirected.exe"), "--dump", env.win_path(out))
        targets = srv.targets()
    expect(run.complete("direct") == 0 and run.complete("redirected") == 0, run.lines)
    expect((out / "direct.bin").read_bytes() == body, "direct body differs")
    expect((out / "redirected.exe").read_bytes() == body, "redirected body differs")
    expect(sorted(targets) == sorted(["/pkg.bin?x=1", "/" + redirect, "/pkg.bin?y=2"]),
           f"requested: {targets}")


@case
def coded_bodies_are_refused(env):
    www, out, body = setup(env, size=200_000)
    with LoggedServer(env, www) as srv:
        run = Run(env, "--get", "gzip_doc", srv.base + "pkg.bin?encoding=gzip", "-",
                  "--get", "gzip_pkg", srv.base + "pkg.bin?encoding=gzip",
                  env.win_path(out / "gzip_pkg.exe"),
                  "--get", "br", srv.base + "pkg.bin?encoding=br", env.win_path(out / "br.exe"),
                  "--get", "identity", srv.base + "pkg.bin?encoding=identity",
                  env.win_path(out / "identity.exe"))
        asked = {r["headers"].get("Accept-Encoding") for r in srv.requests()}
    for name in ("gzip_doc", "gzip_pkg", "br"):
        expect(run.complete(name) == 8009, f"{name}: {run.of('complete', name)}")
        expect(not (out / (name + ".exe")).exists(), f"{name} left a file")
    expect(run.complete("identity") == 0 and (out / "identity.exe").read_bytes() == body,
           "an identity coding is the body as it is")
    expect(asked == {"identity"}, f"Accept-Encoding sent: {asked}")
    expect(leftovers(out) == [], f"temporary files left: {leftovers(out)}")


@case
def memory_bodies_are_capped_at_4_mib(env):
    www, out, _ = setup(env)
    limit = 4 << 20
    (www / "limit.bin").write_bytes(os.urandom(limit))
    (www / "over.bin").write_bytes(os.urandom(limit + 1))
    with Server(env, www) as srv:
        run = Run(env, "--stats",
                  "--get", "endless", srv.base + "pkg.bin?endless=1", "-",
                  # A length announced past the limit is refused before the (1 byte/s) body.
                  "--get", "announced",
                  srv.base + "pkg.bin?endless=1&announce=4194305&trickle=1,1000", "-",
                  "--get", "limit", srv.base + "limit.bin?nolength=chunked", "-",
                  "--get", "over", srv.base + "over.bin?nolength=close", "-",
                  "--get", "package", srv.base + "over.bin", env.win_path(out / "over.exe"),
                  "--dump", env.win_path(out))
    names = ("endless", "announced", "limit", "over", "package")
    errors = {name: run.complete(name) for name in names}
    expect(errors == {"endless": 8008, "announced": 8008, "limit": 0, "over": 8008, "package": 0},
           f"errors: {errors}")
    expect((out / "limit.bin").read_bytes() == (www / "limit.bin").read_bytes(), "4 MiB body")
    expect((out / "over.exe").stat().st_size == limit + 1, "packages are not capped")
    peak = int(next(line.split()[1] for line in run.lines if line.startswith("peak_working_set")))
    expect(peak < 64 << 20, f"peak working set {peak >> 20} MiB")


@case
def slow_body_reports_progress_as_it_arrives(env):
    www, out, _ = setup(env)
    with Server(env, www) as srv:
        # 2 KiB/s: a read that waited for a full 256 KiB buffer would report nothing for minutes.
        run = Run(env, "--cancel-on-progress", "slow,3",
                  "--get", "slow", srv.base + "pkg.bin?trickle=1024,500",
                  env.win_path(out / "slow.exe"), timeout=60)
    progress = [int(row[1]) for row in run.of("progress", "slow")]
    expect(len(progress) == 3 and progress == sorted(set(progress)), f"progress: {progress}")
    expect(progress[-1] < 64 * 1024, f"progress waited for a full buffer: {progress}")


@case
def https_is_never_downgraded(env):
    www, out, body = setup(env)
    with TrustedCertificate(env) as cert, LoggedServer(env, www, "plain") as plain, \
            LoggedServer(env, www, "tls", tls=cert) as tls:
        ip_base = tls.base.replace("localhost", "127.0.0.1")
        run = Run(env,
                  "--get", "https", tls.base + "pkg.bin", "-",
                  "--get", "https_hops", tls.base + "pkg.bin?hops=2",
                  env.win_path(out / "hops.exe"),
                  "--get", "upgrade", plain.base + f"pkg.bin?status=302&location={tls.base}pkg.bin",
                  "-",
                  "--get", "downgrade",
                  tls.base + f"pkg.bin?status=302&location={plain.base}pkg.bin",
                  env.win_path(out / "downgrade.exe"),
                  # The certificate names localhost, not the address: the name check is on.
                  "--get", "wrong_name", ip_base + "pkg.bin", "-",
                  "--dump", env.win_path(out))
        plain_targets = plain.targets()
    errors = {name: run.complete(name)
              for name in ("https", "https_hops", "upgrade", "downgrade", "wrong_name")}
    expect(errors == {"https": 0, "https_hops": 0, "upgrade": 0, "downgrade": 8006,
                      "wrong_name": 12038}, f"errors: {errors}")
    expect((out / "https.bin").read_bytes() == body and (out / "hops.exe").read_bytes() == body,
           "bodies over https differ")
    expect(not (out / "downgrade.exe").exists(), "the downgraded package was saved")
    expect(plain_targets == [f"/pkg.bin?status=302&location={tls.base}pkg.bin"],
           f"plain http was asked: {plain_targets}")


def main():
    build, state, name = sys.argv[1:4]
    env = WineEnv(build, state, "download_" + name)
    case[name](env)
    print(f"{name}: ok")


if __name__ == "__main__":
    main()
