#!/usr/bin/env python3
"""Benchmark (reported, not asserted): the size of each shipped executable against the floor,
bench_get.exe, a bare WinINet GET built in the same build with the same flags and stripped the
same way. Sizes are of the files as built (stripped; their debug information lies beside them
in NAME.exe.debug). A build directory that does not exist is skipped, so the 32-bit build is
reported when it has been built next to this one.

Usage: size_bench.py BUILD_DIR [BUILD_DIR ...]
"""
import pathlib
import sys

FLOOR = "bench_get.exe"
SHIPPED = ["sealupdate.exe", "sealupdate-tool.exe"]


def rows(build):
    floor = (build / FLOOR).stat().st_size
    yield FLOOR, floor, 1.0
    for name in SHIPPED:
        size = (build / name).stat().st_size
        yield name, size, size / floor


def main():
    builds = [pathlib.Path(arg) for arg in sys.argv[1:]]
    present = [build for build in builds if (build / FLOOR).exists()]
    if not present:
        sys.exit(f"no build with {FLOOR} among {', '.join(map(str, builds))}")
    print(f"{'build':<10} {'executable':<22} {'bytes':>9} {'KiB':>7} {'/ floor':>8}")
    for build in present:
        for name, size, ratio in rows(build):
            print(f"{build.name:<10} {name:<22} {size:>9} {size / 1024:>7.1f} {ratio:>8.2f}")


if __name__ == "__main__":
    main()
