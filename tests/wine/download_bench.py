#!/usr/bin/env python3
"""Throughput and memory of the download component against a bare WinINet read loop with the
same 256 KiB buffer, under the same Wine and test server. Reported, not asserted.

Usage: download_bench.py BUILD_DIR STATE_DIR [SIZE]   (SIZE defaults to 512M)
"""
import sys

from download_e2e import Run, Server
from harness import WineEnv


def measure(env, srv, size, raw):
    target = env.work / ("raw.bin" if raw else "package.bin")
    url = srv.base + "gen/" + size
    if raw:
        run = Run(env, "--raw", url, env.win_path(target), "--stats", timeout=600)
    else:
        run = Run(env, "--quiet-progress", "--stats", "--get", "下载更新文件", url,
                  env.win_path(target), timeout=600)
        if run.complete("下载更新文件") != 0:
            raise AssertionError(run.lines)
    got = target.stat().st_size
    target.unlink()
    values = dict(line.split(" ", 1) for line in run.lines if " " in line)
    return got, float(values["elapsed_ms"]) / 1000, int(values["peak_working_set"])


def main():
    build, state = sys.argv[1:3]
    size = sys.argv[3] if len(sys.argv) > 3 else "512M"
    env = WineEnv(build, state, "download_bench")
    runs = {True: [], False: []}
    with Server(env, env.work, lifetime=900) as srv:
        for _ in range(5):  # alternate; the median of each (the machine is shared)
            for raw in (True, False):
                runs[raw].append(measure(env, srv, size, raw))
    mib = 1 << 20
    median = {}
    for raw, label in ((True, "bare WinINet loop"), (False, "Downloader")):
        got = runs[raw][0][0]
        seconds = sorted(r[1] for r in runs[raw])
        median[raw] = seconds[len(seconds) // 2]
        peak = max(r[2] for r in runs[raw])
        print(f"{label:18}: {got / mib:.0f} MiB, median {median[raw]:.2f} s "
              f"({got / mib / median[raw]:.0f} MiB/s; runs {' '.join(f'{t:.2f}' for t in seconds)}),"
              f" peak working set {peak / mib:.1f} MiB")
    print(f"throughput ratio (Downloader / bare loop): {median[True] / median[False]:.2f}"
          "  (target >= 0.9)")
    print(f"Downloader peak working set: {max(r[2] for r in runs[False]) / mib:.1f} MiB"
          "  (target <= 32 MiB)")


if __name__ == "__main__":
    main()
