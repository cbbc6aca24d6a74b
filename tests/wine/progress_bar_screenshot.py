#!/usr/bin/env python3
"""The progress bar under Wine: a host window shows the bar at 50 %, a screenshot of the screen
is taken and the fill region is checked pixel by pixel.

Usage: progress_bar_screenshot.py BUILD_DIR STATE_DIR
"""
import subprocess
import sys
import time

from harness import WineEnv, expect, wait_exit

TITLE = "进度条测试 progress_bar_host"



def read_ppm(data):
    """Pixels of a binary PPM as rows of (r, g, b)."""
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    expect(fields[0] == b"P6" and fields[3] == b"255", "not an 8-bit PPM")
    width, height = int(fields[1]), int(fields[2])
    body = data[pos:]
    return [[tuple(body[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)]
            for y in range(height)]


def green(p):
    r, g, b = p
    return g > r + 20 and g > b + 40


def pale(p):
    return min(p) > 180 and p[2] >= p[0]


def main(build_dir, state_dir):
    env = WineEnv(build_dir, state_dir, "progress_bar")
    report = env.work / "report.txt"
    proc = env.start(env.build / "progress_bar_host.exe", TITLE, env.win_path(report))
    deadline = time.monotonic() + 30
    while not report.exists():
        expect(proc.poll() is None, f"host exited with {proc.returncode}")
        expect(time.monotonic() < deadline, "host never reported")
        time.sleep(0.1)
    facts = dict(line.split("=", 1) for line in report.read_text().splitlines() if "=" in line)
    expect(facts["events"] == "Change,MouseDown(1;1;150;75),MouseUp(1;1;150;75),Click,",
           f"events {facts['events']}")
    expect(facts["model"] == "1", "the host window must not have a bar model")
    x0, y0, w, h = map(int, facts["bar"].split(","))
    expect((w, h) == (231, 27), f"bar size {w}x{h}")

    children = env.texts(TITLE)
    bars = [c for c in children if c["class"] == "Veltrodine.ProgressBar"]
    expect(len(bars) == 1 and bars[0]["text"] == "50.0%", f"bar window text: {children}")

    time.sleep(0.5)  # let the virtual desktop show what the host painted
    shot = env.screenshot("progress_bar_50")
    print(f"screenshot: {shot}")
    ppm = subprocess.run(["convert", str(shot), "ppm:-"], check=True, capture_output=True).stdout
    screen = read_ppm(ppm)
    pixel = lambda x, y: screen[y0 + y][x0 + x]

    # 231 pixels at 50 %: F = 115.5, rounded to 116. Style 0 stops the bands R = 5 pixels short.
    fill_end, text_left, text_right = 111, 85, 146
    problems = []
    for y in (2, 3, 22, 23):  # the top and bottom bands, clear of the label
        for x in range(5, fill_end):
            if not green(pixel(x, y)):
                problems.append(f"fill ({x},{y}) {pixel(x, y)}")
        for x in range(116, w - 5):
            if not pale(pixel(x, y)):
                problems.append(f"background ({x},{y}) {pixel(x, y)}")
    for x in list(range(5, text_left)) + list(range(text_right, w - 5)):
        expected = green if x < fill_end else pale if x >= 116 else None
        if expected and not expected(pixel(x, 13)):
            problems.append(f"middle row ({x},13) {pixel(x, 13)}")
    expect(not problems, f"{len(problems)} wrong pixels, first: {problems[:5]}")
    dark = sum(1 for y in range(5, 22) for x in range(text_left, text_right) if max(pixel(x, y)) < 100)
    expect(dark > 20, f"no label text drawn over the middle ({dark} dark pixels)")

    env.driver("close", TITLE)
    expect(wait_exit(proc, 15) == 0, "the host must end with 0 when closed")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
