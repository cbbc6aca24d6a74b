#!/usr/bin/env python3
# The client's window, progress bar and notification-area icon, read off the shared desktop.
import subprocess

from harness import NO_OUTCOME, TITLE, Server, expect, fields, loaded, run_scenario, until, wait_exit

# The designed layout in twips: id -> (class, caption, left, top, width, height).
LAYOUT = {
    100: ("Edit", "", 120, 120, 6015, 2535),
    200: ("Static", "未开始。", 120, 2760, 720, 195),
    201: ("Static", "进度：", 120, 3150, 540, 195),
    202: ("Static", "速度：  0.00 KB/S", 120, 3600, 1335, 195),
    203: ("Static", "剩余时间：00:00:00", 1920, 3600, 1560, 195),
    400: ("Button", "检查更新", 3960, 3480, 990, 360),
    401: ("Button", "访问主页", 5160, 3480, 990, 360),
    300: ("Veltrodine.ProgressBar", "0.00%", 720, 3120, 5415, 255),
}


def check_layout(env, title, dpi):
    px = lambda twips: int(twips * dpi / 1440 + 0.5)
    client = env.info(title)["client"].split(",")
    expect(client[2:] == [str(px(6255)), str(px(3930))], f"client area at {dpi} DPI: {client}")
    controls = env.texts(title)
    for ident, (cls, caption, left, top, width, height) in LAYOUT.items():
        expect(ident in controls, f"control {ident} missing")
        c = controls[ident]
        x, y, w, h = c["rect"]
        expect((c["class"], c["text"], x, y) == (cls, caption, px(left), px(top)),
               f"control {ident} at {dpi} DPI: {c}")
        if cls == "Static":  # labels size themselves to their text from the fixed left edge
            expect(0 < w <= px(width) + px(600) and h >= px(height), f"label {ident}: {w}x{h}")
        else:
            expect((w, h) == (px(width), px(height)), f"control {ident} is {w}x{h}")


def window(env):
    # An unsealed client: the bare title, mode 0 (it has not checked) and the designed layout.
    proc = env.launch(env.build / "sealupdate.exe", TITLE)
    check_layout(env, TITLE, 96)  # the prefix runs at 96 DPI: 15 twips a pixel
    # Its progress bar at 0 %, on the screen: the pale band's edges, and the label over it.
    left, top = map(int, env.info(TITLE)["client"].split(",")[:2])
    x0, y0, w, h = env.texts(TITLE)[300]["rect"]
    pixel = pixels(env, "progress_bar", left + x0, top + y0, w, h)
    pale = [(x, y, pixel(x, y)) for y in (2, h - 3) for x in range(5, w - 5)
            if not (min(pixel(x, y)) > 180 and pixel(x, y)[2] >= pixel(x, y)[0])]
    dark = sum(1 for y in range(2, h - 2) for x in range(w // 3, w * 2 // 3)
               if max(pixel(x, y)) < 160)
    expect(not pale and dark > 20, f"{len(pale)} wrong pixels {pale[:5]}, {dark} dark ones")
    env.close(TITLE, proc, NO_OUTCOME)

    # The DPI is read when a program starts: set it for this client only, then put it back.
    desktop = "HKCU\\Control Panel\\Desktop"
    env.run("reg", "add", desktop, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f")
    title = "戊程序 - " + TITLE
    try:
        proc = env.launch(env.seal("[UpdateInfo]\nSoftName=戊程序\n"
                                   "UpdateURL=http://127.0.0.1:9/u.ini\n", name="dpi.exe"), title)
    finally:
        env.run("reg", "add", desktop, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "96", "/f")
    check_layout(env, title, 144)
    env.close(title, proc, NO_OUTCOME)


def pixels(env, name, left, top, width, height):
    # A screenshot's region as a function (x, y) -> (r, g, b), relative to the region.
    shot = env.screenshot(name)
    rgb = subprocess.run(["convert", str(shot), "-crop", f"{width}x{height}+{left}+{top}",
                          "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
    return lambda x, y: tuple(rgb[(y * width + x) * 3:(y * width + x) * 3 + 3])


def icons(env, name):
    # Centres of the blue client icons at the desktop's bottom right, left to right (leftovers too).
    left, top = 900, 748
    pixel = pixels(env, name, left, top, 124, 20)
    blue = {x: [y for y in range(20) if pixel(x, y)[2] > 180 and pixel(x, y)[0] < 110 and
                pixel(x, y)[1] > 90] for x in range(124)}  # the icon's blue disc
    runs = []  # runs of blue columns at most 2 apart
    for x in (x for x in range(124) if blue[x]):
        if runs and x - runs[-1][-1] <= 2:
            runs[-1].append(x)
        else:
            runs.append([x])
    return [(left + (r[0] + r[-1]) // 2, top + sum(y for x in r for y in blue[x]) //
             sum(len(blue[x]) for x in r)) for r in runs if len(r) >= 6]


def tray_icon(env):
    baseline = len(icons(env, "0-before"))
    xdotool = lambda *args: subprocess.run(["xdotool", *args], env=env.env, check=True)

    title = "托盘测试 - " + TITLE
    proc = env.launch(env.seal("[UpdateInfo]\nSoftName=托盘测试\nUpdateMode=0\n"
                               "UpdateURL=http://127.0.0.1:9/u.ini\n"), title)
    expect(until(lambda: len(icons(env, "2-icon")) > baseline, 10), "mode 0 adds an icon")
    rect = env.info(title)["rect"]
    xdotool("mousemove", "512", "300")  # above the taskbar: minimizing hides the window
    env.driver("minimize", title)
    expect(until(lambda: env.info(title)["visible"] == "0", 10), "minimized into the tray")
    # Ours is the newest icon; try from the right in case leftovers sit beside it.
    for icon in reversed(icons(env, "3-hidden")):
        xdotool("mousemove", str(icon[0]), str(icon[1]), "click", "1")
        if until(lambda: env.info(title)["visible"] == "1", 3):
            break
    else:
        raise AssertionError("a click on the icon must restore the window")
    expect(env.info(title)["rect"] == rect, "restored at its last position")

    xdotool("mousemove", str(icon[0]), str(icon[1]), "click", "3")
    env.wait_window("#32768", timeout_ms=5000)  # the popup menu
    left, top, right, bottom = map(int, env.info("#32768")["rect"].split(","))
    # Two items of equal height: 显示(&S) above 退出(&E).
    xdotool("mousemove", str((left + right) // 2), str(top + (bottom - top) * 3 // 4), "click", "1")
    expect(wait_exit(proc, 15) == NO_OUTCOME, "the menu's exit item ends the client")
    expect(until(lambda: len(icons(env, "4-gone")) <= baseline, 10), "the icon is removed")

    # "2": hidden off-screen, with no icon, while the check runs (seconds: the document trickles).
    (env.work / "www").mkdir()
    (env.work / "www" / "u.ini").write_bytes(
        b"[UpdateInfo]\r\nVersion=0.0.0.0\r\nMainExeName=none.exe\r\n" + b";" * 500)
    with Server(env, env.work / "www") as web:
        title = "托盘隐藏 - " + TITLE
        proc = env.launch(env.seal(f"[UpdateInfo]\nSoftName=托盘隐藏\nUpdateMode=0\n"
                                   f"UpdateURL={web.base}u.ini?trickle=16,250\n", "hidden.exe"),
                          title, "2", visible=False, debug="+pid,+loaddll")
        seen = []
        until(lambda: proc.poll() is not None or seen.append(
            (fields(env.driver("info", title, check=False)[1]), len(icons(env, "5-mode2")))), 30)
        expect(proc.poll() == 0, "an up-to-date silent check ends the client")
        seen = [(info, n) for info, n in seen if "rect" in info]
        expect(seen and all(info["visible"] == "0" and n <= baseline and
                                     int(info["rect"].split(",")[0]) < -600 for info, n in seen),
               f"mode 2 shows a window or an icon: {seen}")
        log = env.work / "hidden.log"
        expect(loaded(log, "hidden.exe", "WININET") and not loaded(log, "hidden.exe", "comctl32"),
               "an unseen silent check must not load the common controls")
        expect(not loaded(log, "hidden.exe", "bcrypt"),
               "a check with nothing to verify must not load the crypto library")


if __name__ == "__main__":
    run_scenario(globals())
