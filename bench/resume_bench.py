#!/usr/bin/env python3
"""Resumed downloads: a package whose connection is cut 3 times (at a quarter, a half and three
quarters) against the same package uncut, both through the download component (driver.exe
download, back-off 100 ms) from test_server.py on loopback under the same Wine. Reports the bytes
the server sent and the time ratio. Reported, not asserted.

Usage: resume_bench.py BUILD_DIR STATE_DIR [MIB]   (MIB defaults to 512)
"""
import os
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "wine"))
from harness import Server, WineEnv  # noqa: E402


def measure(env, srv, query, tag):
    target = env.work / "pkg.bin"
    _, out = env.driver("download", "--backoff", "100", "--get", "pkg",
                        f"{srv.base}big.bin?etag=a&x={tag}{query}", env.win_path(target),
                        timeout=600)
    if "complete pkg|0|" not in out:
        raise AssertionError(out)
    target.unlink()
    elapsed = next(line.split()[1] for line in out.splitlines() if line.startswith("elapsed_ms"))
    return float(elapsed) / 1000, srv.sent(f"x={tag}")


def main():
    build, state = sys.argv[1:3]
    mib = int(sys.argv[3]) if len(sys.argv) > 3 else 512
    env = WineEnv(build, state, "resume_bench")
    www = env.work / "www"
    www.mkdir()
    size = mib << 20
    pattern = os.urandom(1 << 20)
    with open(www / "big.bin", "wb") as big:
        for _ in range(mib):
            big.write(pattern)
    runs = {"uncut": [], "cut": []}
    with Server(env, www, lifetime=900) as srv:
        for i in range(3):  # interleaved; the median of each (the machine is shared)
            runs["uncut"].append(measure(env, srv, "", f"u{i}"))
            runs["cut"].append(measure(env, srv, f"&cut={size // 4}&faults=3", f"c{i}"))
    median = {kind: sorted(r[0] for r in rows)[1] for kind, rows in runs.items()}
    for kind, rows in runs.items():
        print(f"{kind:5}: {mib} MiB, median {median[kind]:.2f} s (runs "
              f"{' '.join(f'{r[0]:.2f}' for r in rows)}), server sent at most "
              f"{max(r[1] for r in rows)} bytes")
    extra = max(r[1] for r in runs["cut"]) - size
    print(f"bytes sent beyond the size with 3 cuts: {extra} (target <= {3 * 256 * 1024})")
    print(f"time ratio (cut 3 times / uncut): {median['cut'] / median['uncut']:.2f}  "
          "(target <= 1.3; includes 0.7 s of back-off)")
    print(f"time ratio without the back-off waits: {(median['cut'] - 0.7) / median['uncut']:.2f}")


if __name__ == "__main__":
    main()
