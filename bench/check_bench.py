#!/usr/bin/env python3
"""Benchmark (reported, not asserted): the silent check of an up-to-date program (mode 2: start,
fetch the document, read the main program's version, exit) against a minimal program that does
one WinINet GET of the same document and exits, both under the same Wine and nginx on loopback.
Prints the medians of several runs and their ratio.

Usage: check_bench.py BUILD_DIR STATE_DIR [RUNS]
"""
import pathlib
import statistics
import subprocess
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "wine"))
from harness import Nginx, UpdateSite, WineEnv  # noqa: E402


def timed(env, exe, *args):
    start = time.perf_counter()
    proc = subprocess.run([env.wine, str(exe), *args], env=env.env, cwd=env.work,
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=60)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        raise AssertionError(f"{exe} exited {proc.returncode}")
    return elapsed


def main():
    build, state = sys.argv[1:3]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 9
    env = WineEnv(build, state, "check_bench")
    site = UpdateSite(env, "基准测试")
    with Nginx(env, site.www) as web:
        site.publish("1.0.0.0", [web.base + "dl/setup.bin"])  # up to date: the client just ends
        sealed = site.seal([web.base + "update.ini"], mode=2)
        document = web.base + "update.ini"
        timed(env, sealed)  # warm both once
        timed(env, env.build / "bench_get.exe", document)
        client, baseline = [], []
        for _ in range(runs):  # interleaved, so drift hits both alike
            client.append(timed(env, sealed))
            baseline.append(timed(env, env.build / "bench_get.exe", document))
    c, b = statistics.median(client), statistics.median(baseline)
    print(f"silent check (mode 2, up to date): median {c * 1000:.0f} ms over {runs} runs")
    print(f"one WinINet GET and exit:          median {b * 1000:.0f} ms over {runs} runs")
    print(f"ratio: {c / b:.2f} (target <= 1.2)")


if __name__ == "__main__":
    main()
