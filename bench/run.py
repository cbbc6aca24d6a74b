#!/usr/bin/env python3
"""Every benchmark figure in one table (reported, not asserted). Each figure is a ratio to a
baseline measured side by side in the same run, under the same Wine and loopback servers; timed
figures are medians of interleaved runs, so load on the shared machine hits both sides alike.

  sizes      each shipped executable against the floor bench_get.exe, built in the same build
             with the same flags and stripped the same way (and build/win32's when it exists)
  check      the silent check (mode 2, up to date: start, fetch the document, read the main
             program's version, exit) against the two floors: one bare WinINet GET and exit, and
             the same with one hidden top-level window (bench_get_window.exe)
  startup    mode 1 from its start to the server seeing its first request, and to the first
             paint of its window (seen from outside by bench_watch.exe), against the floors
  download   a large package through the download component against a bare WinINet read loop
             with the same 256 KiB buffer: throughput ratios and the peak working set
  resume     the same package cut 3 times against uncut: bytes sent and time ratio

Usage: run.py BUILD_DIR STATE_DIR [--only SECTION,...] [--runs N] [--mib N]
"""
import argparse
import http.server
import os
import pathlib
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "wine"))
from harness import Nginx, Server, UpdateSite, WineEnv, expect, wait_exit  # noqa: E402

SECTIONS = ("sizes", "check", "startup", "download", "resume")
FLOOR = "bench_get.exe"
WINDOW_FLOOR = "bench_get_window.exe"
MIB = 1 << 20


class Table:
    # Rows of: figure, what was measured, the baseline it is compared with, ratio, target.
    def __init__(self):
        self.rows = []

    def add(self, figure, measured, baseline, ratio, target=""):
        self.rows.append((figure, measured, baseline, f"{ratio:.2f}", target))
        print("  " + " | ".join(self.rows[-1]), flush=True)  # progress while the run goes on

    def print(self):
        head = ("figure", "measured", "baseline", "ratio", "target")
        widths = [max(len(r[i]) for r in self.rows + [head]) for i in range(5)]
        line = lambda cells: "| " + " | ".join(c.ljust(w) for c, w in zip(cells, widths)) + " |"
        print(line(head))
        print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
        for row in self.rows:
            print(line(row))


def ms(seconds):
    return f"{seconds * 1000:.0f} ms"


def interleaved(cases, runs):
    # Runs every case once to warm it, then `runs` rounds of all cases in turn; the median of each.
    for case in cases.values():
        case()
    times = {name: [] for name in cases}
    for _ in range(runs):
        for name, case in cases.items():
            times[name].append(case())
    return {name: statistics.median(values) for name, values in times.items()}


def run_timed(env, exe, *args, cpu=None):
    # Wall-clock seconds of a Windows program from its start to its end; it must succeed. With
    # `cpu` (a list), the processor time of its own process is appended to it: the Wine desktop
    # process and the server, which a busy machine delays, are not in it. The end is taken by a
    # blocking wait: subprocess's wait with a timeout polls at up to 50 ms, which would round
    # every figure to that step.
    start = time.perf_counter()
    proc = subprocess.Popen([env.wine, str(exe), *args], env=env.env, cwd=env.work,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    watchdog = threading.Timer(60, proc.kill)
    watchdog.start()
    try:
        _, status, usage = os.wait4(proc.pid, 0)
    finally:
        watchdog.cancel()
    elapsed = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    expect(proc.returncode == 0, f"{exe} exited {proc.returncode}")
    if cpu is not None:
        cpu.append(usage.ru_utime + usage.ru_stime)
    return elapsed


def big_file(folder, mib):
    # A package of random megabytes, made once per run and shared by the sections.
    path = folder / "big.bin"
    if not path.exists() or path.stat().st_size != mib * MIB:
        folder.mkdir(parents=True, exist_ok=True)
        pattern = os.urandom(MIB)
        with open(path, "wb") as out:
            for _ in range(mib):
                out.write(pattern)
    return path


def sizes(table, builds):
    for build in builds:
        if not (build / FLOOR).exists():
            continue
        floor = (build / FLOOR).stat().st_size
        for name in ("sealupdate.exe", "sealupdate-tool.exe"):
            size = (build / name).stat().st_size
            target = "<= 2.5" if name == "sealupdate.exe" and build.name == "win32" else ""
            table.add(f"size {name} ({build.name})", f"{size / 1024:.1f} KiB",
                      f"{FLOOR} {floor / 1024:.1f} KiB", size / floor, target)


def silent_check(table, env, runs):
    site = UpdateSite(env, "基准测试")
    with Nginx(env, site.www) as web:
        site.publish("1.0.0.0", [web.base + "dl/setup.bin"])  # up to date: the client just ends
        client = site.seal([web.base + "update.ini"], mode=2)
        document = web.base + "update.ini"
        cpu = {"client": [], "window": [], "bare": []}
        median = interleaved({
            "client": lambda: run_timed(env, client, cpu=cpu["client"]),
            "window": lambda: run_timed(env, env.build / WINDOW_FLOOR, document,
                                        cpu=cpu["window"]),
            "bare": lambda: run_timed(env, env.build / FLOOR, document, cpu=cpu["bare"]),
        }, runs)
    used = {name: statistics.median(times[1:]) for name, times in cpu.items()}  # no warm-up
    for name, label, target in (("window", "one hidden window + GET", "<= 1.15"),
                                ("bare", "one bare GET", "")):
        table.add("silent check (mode 2, up to date)", ms(median["client"]),
                  f"{label} {ms(median[name])}", median["client"] / median[name], target)
    for name, label in (("window", "one hidden window + GET"), ("bare", "one bare GET")):
        table.add("the same, processor time of its process", ms(used["client"]),
                  f"{label} {ms(used[name])}", used["client"] / used[name])
    return median


class FirstRequests:
    # A loopback HTTP server in this process that serves one document and notes when each
    # request arrives, on the clock the launches are timed with.
    def __init__(self, body):
        arrivals = self.arrivals = []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                arrivals.append(time.perf_counter())
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/update.ini"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def first_since(self, start, timeout=30):
        end = time.perf_counter() + timeout
        while time.perf_counter() < end:
            later = [t for t in self.arrivals if t >= start]
            if later:
                return later[0] - start
            time.sleep(0.001)
        raise AssertionError("no request arrived")

    def close(self):
        self.server.shutdown()


def startup(table, env, runs):
    site = UpdateSite(env, "启动测试")
    document = (f"[UpdateInfo]\r\nVersion=1.0.0.0\r\nDownloadURL=http://127.0.0.1/x\r\n"
                f"MainExeName=SampleApp.exe\r\n").encode()
    server = FirstRequests(document)
    client = site.seal([server.url], mode=1)

    shown = []

    def mode1():
        # The watcher polls before the client starts; its lines are timestamped as they come.
        watch = subprocess.Popen([env.wine, str(env.build / "bench_watch.exe"), site.title,
                                  "30000"], env=env.env, cwd=env.work, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        expect(watch.stdout.readline().strip() == b"ready", "the watcher did not start")
        start = time.perf_counter()
        proc = env.start(client)
        seen = {}
        for line in watch.stdout:
            seen[line.strip().decode()] = time.perf_counter() - start
        expect(watch.wait(30) == 0 and "painted" in seen, f"the window was not painted: {seen}")
        request = server.first_since(start)
        shown.append(seen["visible"])
        env.driver("close", site.title, check=False)
        if proc.poll() is None:
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                proc.kill()
        return request, seen["painted"]

    def floor_run(floor):
        start = time.perf_counter()
        total = run_timed(env, env.build / floor, server.url)
        return server.first_since(start), total

    cases = {"client": mode1, "window": lambda: floor_run(WINDOW_FLOOR),
             "bare": lambda: floor_run(FLOOR)}
    for case in cases.values():
        case()
    samples = {name: [] for name in cases}
    for _ in range(runs):
        for name, case in cases.items():
            samples[name].append(case())
    server.close()
    med = {name: [statistics.median(s[i] for s in rows) for i in (0, 1)]
           for name, rows in samples.items()}
    # First request against the floors' own first request; first paint against their whole run.
    for name, label in (("window", "window floor"), ("bare", "bare GET")):
        table.add("mode 1: start to first request", ms(med["client"][0]),
                  f"{label}'s request {ms(med[name][0])}", med["client"][0] / med[name][0])
    visible = statistics.median(shown[1:])  # without the warm-up
    for name, label in (("window", "window floor"), ("bare", "bare GET")):
        table.add("mode 1: start to window shown", ms(visible),
                  f"{label}, whole run {ms(med[name][1])}", visible / med[name][1])
    for name, label in (("window", "window floor"), ("bare", "bare GET")):
        table.add("mode 1: start to first paint", ms(med["client"][1]),
                  f"{label}, whole run {ms(med[name][1])}", med["client"][1] / med[name][1])


def download_once(env, url, kind):
    # (seconds, peak working set) of one 256 KiB-buffered transfer of `url` into a file.
    target = env.work / f"{kind}.bin"
    if kind == "bare":
        _, out = env.run(env.build / FLOOR, url, env.win_path(target), timeout=600)
    else:
        hashing = ["--sha256"] if kind == "sha256" else []
        _, out = env.driver("download", "--get", "下载更新文件", url, env.win_path(target),
                            *hashing, timeout=600)
        expect("complete 下载更新文件|0|" in out, out)
    target.unlink()
    values = dict(line.split(" ", 1) for line in out.splitlines()
                  if line.split(" ")[0] in ("elapsed_ms", "peak_working_set"))
    return float(values["elapsed_ms"]) / 1000, int(values["peak_working_set"])


def download(table, env, make_env, www, mib, runs):
    url_of = lambda web: web.base + "big.bin"
    with Nginx(env, www) as web:
        kinds = ("bare", "plain", "sha256")
        rows = {kind: [] for kind in kinds}
        for _ in range(runs):
            for kind in kinds:
                rows[kind].append(download_once(env, url_of(web), kind))
    median = {kind: statistics.median(r[0] for r in rows[kind]) for kind in kinds}
    peak = {kind: max(r[1] for r in rows[kind]) for kind in kinds}
    rate = lambda kind: f"{mib / median[kind]:.0f} MiB/s"
    table.add(f"download {mib} MiB, Downloader", rate("plain"), f"bare loop {rate('bare')}",
              median["bare"] / median["plain"], ">= 0.9")
    table.add(f"download {mib} MiB, Downloader + SHA-256", rate("sha256"),
              f"bare loop {rate('bare')}", median["bare"] / median["sha256"])
    # Loopback outruns Wine's own SHA-256; on a 1 Gbit/s link the hash keeps up.
    with Nginx(env, www, limit_rate="119m") as web:
        gigabit = {kind: statistics.median(download_once(env, url_of(web), kind)[0]
                                           for _ in range(3)) for kind in ("bare", "sha256")}
    table.add("the same at 1 Gbit/s", f"{mib / gigabit['sha256']:.0f} MiB/s",
              f"bare loop {mib / gigabit['bare']:.0f} MiB/s", gigabit["bare"] / gigabit["sha256"],
              ">= 0.9")
    worst = max(peak["plain"], peak["sha256"])
    table.add(f"peak working set, {mib} MiB, Downloader", f"{worst / MIB:.1f} MiB",
              f"bare loop {peak['bare'] / MIB:.1f} MiB", worst / peak["bare"], "<= 32 MiB")
    # The whole client: what the package adds to what its window costs anyway.
    small = env.work / "small"
    big_file(small, 1)
    client = {size: client_peak(make_env(f"bench_peak_{size}"), folder / "big.bin")
              for size, folder in ((1, small), (mib, www))}
    table.add(f"peak working set, {mib} MiB, client (mode 1)", f"{client[mib] / MIB:.1f} MiB",
              f"the client, 1 MiB {client[1] / MIB:.1f} MiB", client[mib] / client[1])


def client_peak(env, big):
    # The client itself through a whole update of a package (saved without a suffix, so not
    # checked as a program image): its peak working set once the package is in.
    site = UpdateSite(env, "内存测试")
    os.link(big, site.www / "dl" / "big.bin")
    with Nginx(env, site.www) as web:
        site.publish("2.0", [web.base + "dl/big.bin"], suffix="")
        client = site.launch([web.base + "update.ini"], mode=1)
        site.message_box("yes")
        text = ""
        end = time.time() + 600
        while "下载完毕" not in text and time.time() < end:
            text = site.message_box("wait", timeout_ms=600000)[1]
        expect("下载完毕" in text, f"the package did not arrive: {text}")
        _, out = env.run(env.build / "bench_watch.exe", "--peak", site.pid())
        env.driver("close", site.title)  # the exit code while the box is up is no concern here
        wait_exit(client, 15)
    (site.app / "Update" / "big.bin").unlink()
    return int(out.split()[1])


def resume(table, env, www, mib, runs):
    size = mib * MIB

    def once(srv, query, tag):
        target = env.work / "pkg.bin"
        _, out = env.driver("download", "--backoff", "100", "--get", "pkg",
                            f"{srv.base}big.bin?etag=a&x={tag}{query}", env.win_path(target),
                            timeout=600)
        expect("complete pkg|0|" in out, out)
        target.unlink()
        elapsed = next(line.split()[1] for line in out.splitlines()
                       if line.startswith("elapsed_ms"))
        return float(elapsed) / 1000, srv.sent(f"x={tag}")

    rows = {"uncut": [], "cut": []}
    with Server(env, www, lifetime=900) as srv:
        for i in range(runs):
            rows["uncut"].append(once(srv, "", f"u{i}"))
            rows["cut"].append(once(srv, f"&cut={size // 4}&faults=3", f"c{i}"))
    median = {kind: statistics.median(r[0] for r in rs) for kind, rs in rows.items()}
    extra = max(r[1] for r in rows["cut"]) - size
    # The back-off waits (100, 200 and 400 ms) are part of the cut run.
    table.add(f"download {mib} MiB cut 3 times", f"{median['cut']:.2f} s, {extra} B again",
              f"uncut {median['uncut']:.2f} s", median["cut"] / median["uncut"],
              f"<= {3 * 256 * 1024} B again")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("state")
    parser.add_argument("--only", default=",".join(SECTIONS))
    parser.add_argument("--runs", type=int, default=15, help="rounds of the timed start-ups")
    parser.add_argument("--mib", type=int, default=512)
    args = parser.parse_args()
    only = args.only.split(",")
    expect(set(only) <= set(SECTIONS), f"sections are {', '.join(SECTIONS)}")
    build = pathlib.Path(args.build).resolve()
    table = Table()
    if "sizes" in only:
        sizes(table, [build, build.parent / "win32"])
    env = lambda name: WineEnv(build, args.state, name)  # a work folder of its own
    if "check" in only:
        silent_check(table, env("bench_check"), args.runs)
    if "startup" in only:
        startup(table, env("bench_startup"), args.runs)
    if {"download", "resume"} & set(only):
        big = env("bench_download")
        www = big.work / "big"
        big_file(www, args.mib)
        if "download" in only:
            download(table, big, env, www, args.mib, max(3, args.runs // 2))
        if "resume" in only:
            resume(table, big, www, args.mib, 3)
    print()
    if set(only) - {"sizes"}:
        wine = subprocess.run([env("bench_wine").wine, "--version"], capture_output=True,
                              text=True)
        print(f"{wine.stdout.strip()}, {os.cpu_count()} cores, loopback; timed figures are "
              f"medians of {args.runs} interleaved runs (downloads: of {max(3, args.runs // 2)}, "
              "resume: of 3)")
    table.print()


if __name__ == "__main__":
    main()
