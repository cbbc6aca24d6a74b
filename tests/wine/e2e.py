#!/usr/bin/env python3
"""End-to-end scenarios: the real client under Wine, driven like a user.

Usage: e2e.py BUILD_DIR STATE_DIR SCENARIO
"""

from harness import Scenarios, Server, expect, never_visible, run_scenario, wait_exit

TITLE = "智能更新程序"
scenario = Scenarios()


@scenario
def sealed_mode1_shows_titled_centred_window(env):
    client = env.seal("[UpdateInfo]\nSoftName=甲程序\nUpdateMode=1\n")
    proc = env.start(client)
    title = "甲程序 - " + TITLE
    env.driver("wait", title, "--visible", "--timeout", "20000")
    info = env.info(title)
    expect(info["client"] == "417,262", f"client area {info['client']}")
    left, top, right, bottom = map(int, info["rect"].split(","))
    sw, sh = map(int, info["screen"].split(","))
    expect(abs(left - (sw // 2 - (right - left) // 2)) <= 1, f"not centred: {info}")
    expect(abs(top - (sh // 2 - (bottom - top) // 2)) <= 1, f"not centred: {info}")
    env.screenshot("window")
    env.driver("close", title)
    expect(wait_exit(proc, 15) == 0, "closing the window must end the process with 0")


# The designed layout in twips: id -> (class, caption, left, top, width, height).
LAYOUT = {
    100: ("Edit", None, 120, 120, 6015, 2535),
    200: ("Static", "未开始。", 120, 2760, 720, 195),
    201: ("Static", "进度：", 120, 3150, 540, 195),
    202: ("Static", "速度：  0.00 KB/S", 120, 3600, 1335, 195),
    203: ("Static", "剩余时间：00:00:00", 1920, 3600, 1560, 195),
    400: ("Button", "检查更新", 3960, 3480, 990, 360),
    401: ("Button", "访问主页", 5160, 3480, 990, 360),
    300: ("Veltrodine.ProgressBar", "0.00%", 720, 3120, 5415, 255),
}


def check_layout(env, title, dpi):
    def px(twips):
        return int(twips * dpi / 1440 + 0.5)

    info = env.info(title)
    expect(info["client"] == f"{px(6255)},{px(3930)}", f"client area {info['client']} at {dpi} DPI")
    controls = {c["id"]: c for c in env.texts(title)[1:]}
    for ident, (cls, caption, left, top, width, height) in LAYOUT.items():
        expect(ident in controls, f"control {ident} missing")
        c = controls[ident]
        x, y, w, h = c["rect"]
        expect(c["class"] == cls, f"control {ident} is a {c['class']}")
        if caption is not None:
            expect(c["text"] == caption, f"control {ident} reads {c['text']!r}")
        expect((x, y) == (px(left), px(top)), f"control {ident} at {x},{y}")
        if cls == "Static":
            # Labels size themselves to their text from the fixed left edge.
            expect(0 < w <= px(width) + px(600) and h >= px(height), f"label {ident} is {w}x{h}")
        else:
            expect((w, h) == (px(width), px(height)), f"control {ident} is {w}x{h}")
    return controls


@scenario
def controls_are_laid_out_in_twips(env):
    client = env.seal("[UpdateInfo]\nSoftName=丙程序\nUpdateText=第一行{#br}第二行\n")
    proc = env.start(client)
    title = "丙程序 - " + TITLE
    env.driver("wait", title, "--visible", "--timeout", "20000")
    controls = check_layout(env, title, 96)  # the prefix runs at 96 DPI: 15 twips a pixel
    expect(controls[100]["text"] == "第一行\r\n第二行", "Text1 shows the update text")
    env.screenshot("window")
    env.driver("close", title)
    expect(wait_exit(proc, 15) == 0, "closing the window must end the process")


@scenario
def controls_scale_at_144_dpi(env):
    # The DPI is read when a program starts: set it for this client only, then put it back.
    desktop = "HKCU\\Control Panel\\Desktop"
    env.run("reg", "add", desktop, "/v", "LogPixels", "/t", "REG_DWORD",
            "/d", "144", "/f")
    try:
        client = env.seal("[UpdateInfo]\nSoftName=戊程序\n")
        proc = env.start(client)
        title = "戊程序 - " + TITLE
        env.driver("wait", title, "--visible", "--timeout", "20000")
    finally:
        env.run("reg", "add", desktop, "/v", "LogPixels", "/t", "REG_DWORD",
                "/d", "96", "/f")
    check_layout(env, title, 144)
    env.screenshot("window-144dpi")
    env.driver("close", title)
    expect(wait_exit(proc, 15) == 0, "closing the window must end the process")


@scenario
def command_line_2_keeps_window_hidden(env):
    (env.work / "www").mkdir()
    (env.work / "www" / "u.ini").write_bytes(b"[UpdateInfo]\r\n" + b";" * 4000)
    with Server(env, env.work / "www") as web:
        # The document trickles, so the hidden window lives while the check runs.
        client = env.seal(f"[UpdateInfo]\nSoftName=乙程序\nUpdateMode=0\n"
                          f"UpdateURL={web.base}u.ini?trickle=10,500\n")
        proc = env.start(client, "2")
        title = "乙程序 - " + TITLE
        env.driver("wait", title, "--timeout", "20000")
        expect(never_visible(env, title, 1.5), "the mode 2 window became visible")
        left, top, _, _ = map(int, env.info(title)["rect"].split(","))
        expect(left < -600 and top < -600, f"mode 2 window not off-screen: {left},{top}")
        env.driver("close", title)
        expect(wait_exit(proc, 15) == 0, "closing the hidden window must end the process")


@scenario
def mode2_without_addresses_ends_silently(env):
    client = env.seal("[UpdateInfo]\nSoftName=丁程序\nUpdateMode=2\n")
    proc = env.start(client)
    expect(wait_exit(proc, 20) == 0, "a failed silent check ends the client")
    code, _ = env.driver("info", "丁程序 - " + TITLE, check=False)
    expect(code != 0, "no window may stay behind")


@scenario
def unsealed_client_starts_in_mode0_with_bare_title(env):
    proc = env.start(env.build / "sealupdate.exe")
    env.driver("wait", TITLE, "--visible", "--timeout", "20000")
    expect(env.texts(TITLE)[0]["text"] == TITLE, "bare title expected")
    env.driver("close", TITLE)
    expect(wait_exit(proc, 15) == 0, "closing the window must end the process")
    env.driver("gone", TITLE, "--timeout", "5000")


if __name__ == "__main__":
    run_scenario(scenario)
