#!/usr/bin/env python3
"""The notification-area icon of the real client, seen on the Wine desktop: added in modes 0 and
1, never in mode 2; minimizing hides the window into it, a click on it restores the window, and
its menu's exit item removes it and ends the client. Runs alone (the icon's place is shared).

Usage: tray_e2e.py BUILD_DIR STATE_DIR
"""
import subprocess
import sys
import time

from harness import Server, WineEnv, expect, wait_exit

TRAY = (900, 748, 1024, 768)  # the notification area of the 1024x768 virtual desktop



def icons(env, name):
    """Centres of the blue client icons in the notification area, left to right. Icons of other
    programs (left over by earlier tests) may be there too."""
    shot = env.screenshot(name)
    left, top, right, bottom = TRAY
    geometry = f"{right - left}x{bottom - top}+{left}+{top}"
    pixels = subprocess.run(["convert", str(shot), "-crop", geometry, "txt:-"],
                            capture_output=True, text=True, check=True).stdout
    columns = {}
    for line in pixels.splitlines()[1:]:
        where, _, rest = line.partition(":")
        x, y = map(int, where.split(","))
        r, g, b = (int(v) for v in rest.split("(")[1].split(")")[0].split(",")[:3])
        if b > 180 and r < 110 and g > 90:  # the icon's blue disc
            columns.setdefault(left + x, []).append(top + y)
    found, run = [], []
    for x in sorted(columns) + [None]:
        if run and (x is None or x - run[-1] > 2):
            if len(run) >= 6:
                ys = [y for c in run for y in columns[c]]
                found.append(((run[0] + run[-1]) // 2, sum(ys) // len(ys)))
            run = []
        if x is not None:
            run.append(x)
    return found


def xdotool(env, *args):
    subprocess.run(["xdotool", *args], env=env.env, check=True)


def wait_for(predicate, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.1)
    return False


def main():
    build, state = sys.argv[1:3]
    env = WineEnv(build, state, "tray")
    baseline = len(icons(env, "0-before"))

    # Mode 2 never shows the icon: the check hangs on a trickling document meanwhile.
    (env.work / "www").mkdir()
    (env.work / "www" / "u.ini").write_bytes(b"[UpdateInfo]\r\n" + b";" * 4000)
    with Server(env, env.work / "www") as web:
        hidden = env.seal(f"[UpdateInfo]\nSoftName=托盘隐藏\nUpdateURL={web.base}u.ini?trickle=10,500\n",
                          name="hidden.exe")
        proc = env.start(hidden, "2")
        env.driver("wait", "托盘隐藏 - 智能更新程序", "--timeout", "20000")
        time.sleep(3)  # longer than the shell takes to show an icon
        expect(len(icons(env, "1-mode2")) <= baseline, "mode 2 must not add an icon")
        env.driver("close", "托盘隐藏 - 智能更新程序")
        wait_exit(proc, 10)

    client = env.seal("[UpdateInfo]\nSoftName=托盘测试\nUpdateMode=0\n", name="client.exe")
    proc = env.start(client)
    title = "托盘测试 - 智能更新程序"
    env.driver("wait", title, "--visible", "--timeout", "20000")
    expect(wait_for(lambda: len(icons(env, "2-icon")) > baseline, 10), "mode 0 adds an icon")
    rect = env.info(title)["rect"]

    xdotool(env, "mousemove", "512", "300")  # above the taskbar: minimizing hides the window
    env.driver("minimize", title)
    expect(wait_for(lambda: env.info(title)["visible"] == "0", 10), "minimized into the tray")
    # Ours is the newest icon; try from the right in case leftovers sit beside it.
    restored = False
    for x, y in reversed(icons(env, "3-hidden")):
        xdotool(env, "mousemove", str(x), str(y), "click", "1")
        if wait_for(lambda: env.info(title)["visible"] == "1", 3):
            restored = True
            icon = (x, y)
            break
    expect(restored, "a click on the icon restores the window")
    expect(env.info(title)["rect"] == rect, "restored at its last position")

    xdotool(env, "mousemove", str(icon[0]), str(icon[1]), "click", "3")
    _, out = env.driver("popup", "any")
    left, top, right, bottom = map(int, out.split("=", 1)[1].split(","))
    env.screenshot("4-menu")
    # Two items of equal height: 显示(&S) above 退出(&E).
    xdotool(env, "mousemove", str((left + right) // 2), str(top + (bottom - top) * 3 // 4),
            "click", "1")
    expect(wait_exit(proc, 15) == 0, "the menu's exit item ends the client")
    expect(wait_for(lambda: len(icons(env, "5-gone")) <= baseline, 10), "the icon is removed")
    print("tray: ok")


if __name__ == "__main__":
    main()
