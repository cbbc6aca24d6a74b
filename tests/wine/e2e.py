#!/usr/bin/env python3
"""End-to-end scenarios: the real client under Wine, driven like a user.

Usage: e2e.py BUILD_DIR STATE_DIR SCENARIO
"""
import sys

from harness import WineEnv, never_visible, wait_exit

TITLE = "智能更新程序"
SCENARIOS = {}


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


def expect(condition, message):
    if not condition:
        raise AssertionError(message)


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


@scenario
def command_line_2_keeps_window_hidden(env):
    client = env.seal("[UpdateInfo]\nSoftName=乙程序\nUpdateMode=0\n")
    proc = env.start(client, "2")
    title = "乙程序 - " + TITLE
    env.driver("wait", title, "--timeout", "20000")
    expect(never_visible(env, title, 1.5), "the mode 2 window became visible")
    left, top, _, _ = map(int, env.info(title)["rect"].split(","))
    expect(left < -600 and top < -600, f"mode 2 window not off-screen: {left},{top}")
    env.driver("close", title)
    expect(wait_exit(proc, 15) == 0, "closing the hidden window must end the process")


@scenario
def unsealed_client_starts_in_mode0_with_bare_title(env):
    proc = env.start(env.build / "sealupdate.exe")
    env.driver("wait", TITLE, "--visible", "--timeout", "20000")
    expect(env.texts(TITLE)[0][3] == TITLE, "bare title expected")
    env.driver("close", TITLE)
    expect(wait_exit(proc, 15) == 0, "closing the window must end the process")
    env.driver("gone", TITLE, "--timeout", "5000")


def main():
    build, state, name = sys.argv[1:4]
    env = WineEnv(build, state, name)
    SCENARIOS[name](env)
    print(f"{name}: ok")


if __name__ == "__main__":
    main()
