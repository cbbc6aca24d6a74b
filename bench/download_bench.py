#!/usr/bin/env python3
"""Throughput and memory of the download component (driver.exe download) against a bare WinINet
read loop with the same 256 KiB buffer (bench_get.exe), both fetching one file from nginx on
loopback under the same Wine. Reported, not asserted.

Usage: download_bench.py BUILD_DIR STATE_DIR [MIB]   (MIB defaults to 512)
"""
import os
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "wine"))
from harness import Nginx, WineEnv  # noqa: E402


def measure(env, url, kind):
    target = env.work / f"{kind}.bin"
    if kind == "raw":
        _, out = env.run(env.build / "bench_get.exe", url, env.win_path(target), timeout=600)
    else:
        hashing = ["--sha256"] if kind == "sha256" else []
        _, out = env.driver("download", "--get", "下载更新文件", url,
                            env.win_path(target), *hashing, timeout=600)
        if "complete 下载更新文件|0|" not in out:
            raise AssertionError(out)
    got = target.stat().st_size
    target.unlink()
    values = dict(line.split(" ", 1) for line in out.splitlines() if line.split(" ")[0] in
                  ("elapsed_ms", "peak_working_set"))
    return got, float(values["elapsed_ms"]) / 1000, int(values["peak_working_set"])


def main():
    build, state = sys.argv[1:3]
    mib = int(sys.argv[3]) if len(sys.argv) > 3 else 512
    env = WineEnv(build, state, "download_bench")
    www = env.work / "www"
    www.mkdir()
    pattern = os.urandom(1 << 20)
    with open(www / "big.bin", "wb") as big:
        for _ in range(mib):
            big.write(pattern)
    kinds = {"raw": "bare WinINet loop", "plain": "Downloader", "sha256": "Downloader + SHA-256"}
    runs = {kind: [] for kind in kinds}
    with Nginx(env, www) as web:
        for _ in range(5):  # interleaved; the median of each (the machine is shared)
            for kind in kinds:
                runs[kind].append(measure(env, web.base + "big.bin", kind))
    median = {}
    for kind, label in kinds.items():
        got = runs[kind][0][0]
        seconds = sorted(r[1] for r in runs[kind])
        median[kind] = seconds[len(seconds) // 2]
        peak = max(r[2] for r in runs[kind])
        print(f"{label:21}: {got >> 20} MiB, median {median[kind]:.2f} s "
              f"({(got >> 20) / median[kind]:.0f} MiB/s; runs {' '.join(f'{t:.2f}' for t in seconds)}),"
              f" peak working set {peak / (1 << 20):.1f} MiB")
    for kind in ("plain", "sha256"):
        print(f"throughput ratio ({kinds[kind]} / bare loop): "
              f"{median['raw'] / median[kind]:.2f}  (target >= 0.9)")
    # Loopback outruns Wine's own SHA-256; on a 1 Gbit/s link the hash keeps up.
    with Nginx(env, www, limit_rate="119m") as web:
        gigabit = {kind: sorted(measure(env, web.base + "big.bin", kind)[1] for _ in range(3))[1]
                   for kind in ("raw", "sha256")}
    print(f"throughput ratio at 1 Gbit/s ({kinds['sha256']} / bare loop): "
          f"{gigabit['raw'] / gigabit['sha256']:.2f}  (target >= 0.9)")
    print(f"Downloader peak working set: {max(r[2] for r in runs['sha256']) / (1 << 20):.1f} MiB"
          "  (target <= 32 MiB)")


if __name__ == "__main__":
    main()
