#!/usr/bin/env python3
"""Mutation check: how many small planted faults in the portable code do the native tests catch?

Plants one fault at a time in a private copy of the tree, rebuilds the `native` preset there
incrementally and runs the native unit tests against it:

  caught     the tests fail, or run longer than the time box (a hang)
  survived   every test passes: the fault went unnoticed
  discarded  the mutant does not compile; it is not counted. Warnings stay errors, except
             -Wparentheses: `a || b && c` is a fault worth testing, not a build failure

The faults (each one at one place):
  `<`, `<=`, `>`, `>=`  the boundary moved: `<` -> `<=`, `<=` -> `<`, `>` -> `>=`, `>=` -> `>`
  `==`, `!=`            the comparison inverted
  `&&`, `||`            the one for the other
  `+ 1`, `- 1`          off by one: `+ 1` -> `+ 2`, `- 1` -> `- 0`
  `return true/false`   the other one
  `return X;`           `return !(X);` inside a function declared to return bool

Sites are found on the text (comments, string literals, preprocessor lines and code compiled
only for Windows are skipped); operators count only with blanks on both sides, as clang-format
writes binary operators, so template brackets, shifts and `->` are never taken. The files are
the portable sources the native tests can reach:

  src/base, src/model, src/startup, src/download/downloader.cpp, src/widgets/*.cpp (not
  *_win.cpp), src/window/update_flow.cpp, src/window/layout.cpp, tools/*.cpp (not *_win*)

Every candidate site is listed in a fixed order (file, then position); a seeded sample of
--count of them is tested, so the same seed on the same sources picks the same mutants however
the tests change. The tests run are the unit_tests binary and, when it passes, the other CTest
tests labelled `unit` (the cross-check of the version reader against pefile).

The real tree is never written to: its files (git ls-files, tracked and untracked-not-ignored,
as they are on disk) are mirrored into --workdir, where the mutant is planted and the build
runs. The mirror keeps its build between runs, so only the first run builds everything. The
mutated file is restored in the mirror after each mutant, also on Ctrl-C.

Not every survivor is a gap: some mutants are equivalent (no input tells them apart, such as
`i < s.size()` against `i <= s.size()` where s[s.size()] is the terminator), and some only read
out of bounds, which a plain build does not notice. Judge each one.

  scripts/mutation-check.py                  # the default sample (seed 1, 80 mutants)
  scripts/mutation-check.py --list           # only print the sample
  scripts/mutation-check.py --count 0        # every candidate (long)
  scripts/mutation-check.py --only src/base/text.cpp:57   # the sampled mutants of one line

Exit code 0 when the run completed (whatever the share), 1 when the unmutated tests fail in the
mirror, 2 on a usage error, 130 on Ctrl-C.
"""
import argparse
import dataclasses
import fcntl
import hashlib
import json
import os
import pathlib
import random
import re
import signal
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent

SCOPE_GLOBS = [
    "src/base/*.cpp",
    "src/model/*.cpp",
    "src/startup/*.cpp",
    "src/download/downloader.cpp",
    "src/widgets/*.cpp",
    "src/window/update_flow.cpp",
    "src/window/layout.cpp",
    "tools/*.cpp",
]


def in_scope(path):
    name = path.name
    return not (name.endswith("_win.cpp") or "_win" in name and path.parts[0] == "tools")


def scope_files(root):
    files = set()
    for pattern in SCOPE_GLOBS:
        for p in root.glob(pattern):
            rel = p.relative_to(root)
            if p.is_file() and in_scope(rel):
                files.add(rel)
    return sorted(files, key=lambda p: p.as_posix())


# ---- Finding the sites ----


def code_mask(text):
    """True for each character that is code: not in a comment, a string or character literal or
    a preprocessor line."""
    mask = [True] * len(text)
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c in " \t":
            i += 1
            continue
        if line_start and c == "#":
            # A preprocessor line, with its continuations.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    mask[i] = mask[i + 1] = False
                    i += 2
                    continue
                mask[i] = False
                i += 1
            continue
        line_start = False
        if c == "\n":
            line_start = True
            i += 1
        elif text.startswith("//", i):
            while i < n and text[i] != "\n":
                mask[i] = False
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            for k in range(i, end):
                mask[k] = False
            i = end
        elif c in "\"'":
            # Digit separators (1'000) are not used in this code base.
            k = i + 1
            while k < n and text[k] != c and text[k] != "\n":
                k += 2 if text[k] == "\\" else 1
            for j in range(i, min(k + 1, n)):
                mask[j] = False
            i = k + 1
        else:
            i += 1
    return mask


def windows_only_mask(text):
    """True for each character inside a branch compiled only when _WIN32 is defined."""
    mask = [False] * len(text)
    stack = []  # per open #if: whether its current branch is Windows-only
    pos = 0
    for line in text.splitlines(keepends=True):
        stripped = line.strip()
        directive = re.match(r"#\s*(\w+)\s*(.*)", stripped)
        if directive:
            word, rest = directive.group(1), directive.group(2)
            if word in ("if", "ifdef", "ifndef"):
                win = rest.strip() in ("_WIN32", "defined(_WIN32)") and word != "ifndef"
                notwin = word == "ifndef" and rest.strip() == "_WIN32"
                stack.append(("win" if win else "notwin" if notwin else "other"))
            elif word == "else" and stack:
                stack[-1] = {"win": "notwin", "notwin": "win"}.get(stack[-1], "other")
            elif word == "endif" and stack:
                stack.pop()
        elif "win" in stack:
            for k in range(pos, pos + len(line)):
                mask[k] = True
        pos += len(line)
    return mask


@dataclasses.dataclass
class Mutant:
    file: str
    line: int
    offset: int
    length: int
    original: str
    replacement: str

    @property
    def description(self):
        return f"`{self.original.strip()}` -> `{self.replacement.strip()}`"

    @property
    def where(self):
        return f"{self.file}:{self.line}"

    def key(self):
        return (self.file, self.offset, self.replacement)


SWAPS = {
    "<": "<=", "<=": "<", ">": ">=", ">=": ">",
    "==": "!=", "!=": "==",
    "&&": "||", "||": "&&",
}
OPERATOR = re.compile(r"(?<=\s)(<=|>=|==|!=|&&|\|\||<|>)(?=\s)")
OFF_BY_ONE = re.compile(r"(?<=\s)([+-]) 1(?![\w.'])")
BOOL_RETURN = re.compile(r"\breturn (true|false);")
BOOL_FUNCTION = re.compile(
    r"^[ \t]*(?:(?:static|inline|constexpr|virtual)\s+)*bool\s+(?:[\w:]+::)?~?\w+\s*\(", re.M)
RETURN = re.compile(r"\breturn\s+")


def line_of(text, offset):
    return text.count("\n", 0, offset) + 1


def bool_return_sites(text, code):
    """`return X;` statements directly inside functions declared to return bool."""
    sites = []
    for header in BOOL_FUNCTION.finditer(text):
        if not code[header.start() + len(header.group(0)) - 1]:
            continue
        # The body opens at the first `{` after the parameter list, unless a `;` comes first
        # (a declaration).
        i, depth = header.end(), 1
        while i < len(text) and depth:
            if code[i]:
                depth += {"(": 1, ")": -1}.get(text[i], 0)
            i += 1
        while i < len(text) and not (code[i] and text[i] in "{;"):
            i += 1
        if i >= len(text) or text[i] == ";":
            continue
        body_start, depth, k = i, 0, i
        lambda_depths = []
        while k < len(text):
            if code[k]:
                ch = text[k]
                if ch == "{":
                    depth += 1
                    # A brace opened after `](...)` starts a lambda: its returns are not ours.
                    before = text[max(body_start, k - 200):k]
                    if re.search(r"\]\s*\([^;{}]*\)[^;{}]*$", before):
                        lambda_depths.append(depth)
                elif ch == "}":
                    if lambda_depths and lambda_depths[-1] == depth:
                        lambda_depths.pop()
                    depth -= 1
                    if depth == 0:
                        break
                elif ch == "r" and not lambda_depths:
                    m = RETURN.match(text, k)
                    if m and (k == 0 or not (text[k - 1].isalnum() or text[k - 1] == "_")):
                        end = k
                        paren = 0
                        while end < len(text) and not (code[end] and text[end] == ";" and paren == 0):
                            if code[end]:
                                paren += {"(": 1, ")": -1}.get(text[end], 0)
                            end += 1
                        expression = text[m.end():end]
                        if expression.strip() not in ("true", "false", ""):
                            sites.append((m.end(), end - m.end(), expression))
            k += 1
    return sites


def find_mutants(root, files):
    mutants = []
    for rel in files:
        text = (root / rel).read_text(encoding="utf-8")
        code = code_mask(text)
        windows = windows_only_mask(text)
        live = lambda a, b: all(code[a:b]) and not any(windows[a:b])
        found = []
        for m in OPERATOR.finditer(text):
            if live(m.start(), m.end()):
                found.append((m.start(), m.group(1), SWAPS[m.group(1)]))
        for m in OFF_BY_ONE.finditer(text):
            if live(m.start(), m.end()):
                found.append((m.start(), m.group(0), m.group(1) + (" 2" if m.group(1) == "+" else " 0")))
        for m in BOOL_RETURN.finditer(text):
            if live(m.start(), m.end()):
                other = "false" if m.group(1) == "true" else "true"
                found.append((m.start(), m.group(0), f"return {other};"))
        for start, length, expression in bool_return_sites(text, code):
            if not any(windows[start:start + length]):
                found.append((start, expression, f"!({expression})"))
        for offset, original, replacement in sorted(found):
            mutants.append(Mutant(rel.as_posix(), line_of(text, offset), offset, len(original),
                                  original, replacement))
    return mutants


def select(mutants, seed, count):
    if count <= 0 or count >= len(mutants):
        chosen = list(mutants)
    else:
        chosen = random.Random(seed).sample(mutants, count)
    # Grouped by file: the file is compiled once per mutant, restored once per group.
    return sorted(chosen, key=lambda m: (m.file, m.offset, m.replacement))


# ---- The mirror and the runs ----


class Interrupted(Exception):
    pass


def on_signal(signum, frame):
    raise Interrupted()


def run(cmd, cwd, timeout, log):
    """Runs `cmd` in its own process group; returns its exit code, or None after the time box."""
    with open(log, "ab") as out:
        out.write(f"\n$ {' '.join(map(str, cmd))}\n".encode())
        out.flush()
        proc = subprocess.Popen(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT,
                                start_new_session=True)
        try:
            return proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        finally:
            if proc.poll() is None:
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                proc.wait()


def tracked_files(root):
    out = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=root,
                         check=True, capture_output=True).stdout.decode("utf-8")
    return sorted(p for p in out.split("\0") if p and (root / p).is_file())


def mirror(root, work):
    """Makes work/ hold exactly the project's files; unchanged files keep their times."""
    files = tracked_files(root)
    wanted = set(files)
    for rel in files:
        src, dst = root / rel, work / rel
        data = src.read_bytes()
        if not dst.is_file() or dst.read_bytes() != data:
            dst.parent.mkdir(parents=True, exist_ok=True)
            dst.write_bytes(data)
        os.chmod(dst, src.stat().st_mode & 0o777)
    for folder, dirs, names in os.walk(work, topdown=False):
        here = pathlib.Path(folder)
        top = here.relative_to(work).parts[:1]
        if top == ("build",):
            continue
        for name in names:
            rel = (here / name).relative_to(work).as_posix()
            if rel not in wanted and not (here == work and name.startswith(".mutation")):
                (here / name).unlink()
        if here != work and not any(here.iterdir()):
            here.rmdir()


class Mirror:
    def __init__(self, work, timeout):
        self.work = work
        self.build = work / "build" / "native"
        self.log = work / ".mutation.log"
        self.timeout = timeout

    def configure_and_build(self):
        # -Wno-parentheses: `a || b || c` with one `||` turned into `&&` is a fault worth
        # testing, not a build failure.
        if run(["cmake", "--preset", "native", "-DCMAKE_CXX_FLAGS=-Wno-parentheses"], self.work,
               600, self.log) != 0:
            return False
        return self.rebuild(1800)

    def rebuild(self, timeout=900):
        return run(["cmake", "--build", "--preset", "native", "--", "-j2"], self.work, timeout,
                   self.log) == 0

    def tests_pass(self):
        """True when every test passes; False on a failure or a hang."""
        code = run([str(self.build / "unit_tests")], self.build, self.timeout, self.log)
        if code != 0:
            return False
        # The tests CTest runs outside the unit_tests binary (names without a dot).
        code = run(["ctest", "--test-dir", str(self.build), "-L", "unit", "-E", r"\.",
                    "--timeout", str(self.timeout)], self.work, self.timeout * 4, self.log)
        return code == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=1, help="seed of the sample (default 1)")
    parser.add_argument("--count", type=int, default=80,
                        help="mutants in the sample, 0 for all (default 80)")
    parser.add_argument("--workdir", type=pathlib.Path,
                        default=pathlib.Path("/tmp") /
                        f"sealupdate-mutation-{hashlib.sha1(str(ROOT).encode()).hexdigest()[:8]}",
                        help="the mirror and its build (kept between runs)")
    parser.add_argument("--timeout", type=int, default=60,
                        help="seconds a test run may take before it counts as a hang (default 60)")
    parser.add_argument("--only", help="run only the sampled mutants at FILE or FILE:LINE")
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    parser.add_argument("--json", type=pathlib.Path, help="also write the results here")
    args = parser.parse_args()

    files = scope_files(ROOT)
    candidates = find_mutants(ROOT, files)
    chosen = select(candidates, args.seed, args.count)
    if args.only:
        chosen = [m for m in chosen if m.where == args.only or m.file == args.only]
    print(f"{len(candidates)} candidate sites in {len(files)} files; "
          f"{len(chosen)} mutants (seed {args.seed})", flush=True)
    if args.list:
        for m in chosen:
            print(f"  {m.where}  {m.description}")
        return 0

    args.workdir.mkdir(parents=True, exist_ok=True)
    lock = open(args.workdir / ".mutation.lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        print(f"another mutation check uses {args.workdir}", file=sys.stderr)
        return 2
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)

    work = Mirror(args.workdir, args.timeout)
    work.log.write_bytes(b"")
    results = []
    pending = None  # (path, original bytes) of the file that holds a mutant right now
    started = time.monotonic()
    try:
        mirror(ROOT, args.workdir)
        print(f"mirror: {args.workdir} (log {work.log})", flush=True)
        if not work.configure_and_build() or not work.tests_pass():
            print("the unmutated build or its tests fail in the mirror: nothing to measure "
                  f"(see {work.log})", file=sys.stderr)
            return 1
        for number, m in enumerate(chosen, 1):
            path = args.workdir / m.file
            original = path.read_bytes()
            text = original.decode("utf-8")
            assert text[m.offset:m.offset + m.length] == m.original, m.where
            pending = (path, original)
            path.write_bytes((text[:m.offset] + m.replacement +
                              text[m.offset + m.length:]).encode("utf-8"))
            if not work.rebuild():
                outcome = "discarded"
            else:
                outcome = "survived" if work.tests_pass() else "caught"
            path.write_bytes(original)
            pending = None
            results.append((m, outcome))
            print(f"[{number}/{len(chosen)}] {outcome:9s} {m.where}  {m.description}", flush=True)
    except Interrupted:
        print("\ninterrupted", file=sys.stderr)
        return 130
    finally:
        if pending:
            pending[0].write_bytes(pending[1])

    counted = [(m, o) for m, o in results if o != "discarded"]
    caught = sum(1 for _, o in counted if o == "caught")
    survivors = [m for m, o in counted if o == "survived"]
    discarded = len(results) - len(counted)
    minutes = (time.monotonic() - started) / 60
    print(f"\ncaught {caught} of {len(counted)} mutants: "
          f"{(caught / len(counted) if counted else 0):.1%} "
          f"({discarded} discarded: they do not compile; {minutes:.0f} min)")
    if survivors:
        print("survivors:")
        for m in survivors:
            print(f"  {m.where}  {m.description}")
    if args.json:
        args.json.write_text(json.dumps({
            "seed": args.seed, "count": args.count, "candidates": len(candidates),
            "caught": caught, "counted": len(counted), "discarded": discarded,
            "results": [{"file": m.file, "line": m.line, "offset": m.offset,
                         "mutation": m.description, "outcome": o} for m, o in results],
        }, indent=1, ensure_ascii=False) + "\n", encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
