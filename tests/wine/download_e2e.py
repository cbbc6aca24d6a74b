#!/usr/bin/env python3
"""The download component with the real WinINet reader under Wine, against test_server.py.

Usage: download_e2e.py BUILD_DIR STATE_DIR CASE
"""
import os
import sys
import time

from harness import Server, WineEnv

CASES = {}


def case(fn):
    CASES[fn.__name__] = fn
    return fn


def expect(condition, message):
    if not condition:
        raise AssertionError(message)


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
    expect(run.lines[:2] == ["complete x|71|0|0", "begin x|"], run.lines)


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


def main():
    build, state, name = sys.argv[1:4]
    env = WineEnv(build, state, "download_" + name)
    CASES[name](env)
    print(f"{name}: ok")


if __name__ == "__main__":
    main()
