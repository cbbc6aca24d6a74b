#!/usr/bin/env python3
"""Counts the project's lines of code and of tests and prints their ratio.

A line counts when it holds something besides blanks and comments (C++ `//` and `/* */`,
`#` in Python, shell and CMake). Code is src/ and tools/; tests are everything under tests/ but
the data they read: golden pictures, fuzz seeds and the resource scripts of the PE fixtures.
"""
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
SUFFIXES = {".cpp", ".h", ".py", ".sh", ".cmake", ".rc", ".in", ".txt"}
HASH_COMMENTS = {".py", ".sh", ".cmake", ".txt", ".in"}


def counted_lines(path):
    hash_comments = path.suffix in HASH_COMMENTS
    in_block = False
    count = 0
    for raw in path.read_text(encoding="utf-8", errors="replace").splitlines():
        line = raw.strip()
        if in_block:
            if "*/" not in line:
                continue
            in_block = False
            line = line.split("*/", 1)[1].strip()
        if not hash_comments and line.startswith("/*"):
            if "*/" not in line:
                in_block = True
                continue
            line = line.split("*/", 1)[1].strip()
        if not line or line.startswith("//") or (hash_comments and line.startswith("#")):
            continue
        count += 1
    return count


def total(*folders, skip=()):
    files = [p for folder in folders for p in (ROOT / folder).rglob("*")
             if p.is_file() and p.suffix in SUFFIXES and p.suffix not in skip]
    return sum(counted_lines(p) for p in files)


def main():
    code = total("src", "tools")
    tests = total("tests", skip={".rc"})
    print(f"code  {code:6d}  (src/, tools/)")
    print(f"tests {tests:6d}  (tests/, without golden pictures, seeds and fixture resources)")
    print(f"tests/code {tests / code:.0%}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
