#!/usr/bin/env python3
"""The main job, end to end: a sample main program at version 1.0.0.0, a web server (nginx on
loopback) publishing version 1.1.0.0 and a package, and the sealed client updating it under Wine.
Prints each step and leaves a screenshot of each in demo-out/.

Usage: demo.py BUILD_DIR STATE_DIR OUT_DIR [--interactive]
"""
import os
import pathlib
import re
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "wine"))

from harness import Nginx, UpdateSite, WineEnv, wait_exit  # noqa: E402


def step(text):
    print(f"== {text}", flush=True)


def main():
    build, state, out = sys.argv[1:4]
    interactive = "--interactive" in sys.argv
    env = WineEnv(build, state, "demo", work_dir=out)
    if interactive:
        # Restart Wine on the person's display instead of the virtual one.
        subprocess.run([env.env["WINESERVER"], "-k"], env=env.env, check=False)
        env.env["DISPLAY"] = os.environ.get("SEALUPDATE_DISPLAY", ":0")
    shots = []

    def shot(name):
        if not interactive:
            shots.append(env.screenshot(f"{len(shots) + 1:02d}-{name}"))

    site = UpdateSite(env, "示例程序")
    step(f"program folder {site.app}: SampleApp.exe (version 1.0.0.0)")
    # Slow enough that the progress bar can be seen moving.
    tool, win = env.build / "sealupdate-tool.exe", env.win_path
    with Nginx(env, site.www, limit_rate="96k") as web:
        key = env.work / "publisher"
        env.run(tool, "keygen", win(key))
        step(f"made the publisher's signing key: {key}.key, {key}.pub")
        config = (ROOT / "samples" / "config.ini").read_text(encoding="utf-8")
        config = re.sub(r"http://127\.0\.0\.1:8080/", web.base, config)
        config = re.sub(r"\|http://localhost:8080/update\.ini", "", config)
        (env.work / "config.ini").write_text(config + "AppId=com.example.sample\n", encoding="utf-8")
        sealed = site.app / "sealupdate.exe"
        env.run(tool, "seal", "--public-key", win(f"{key}.pub"), "--config",
                win(env.work / "config.ini"), win(env.build / "sealupdate.exe"), win(sealed))
        step(f"sealed samples/config.ini (addresses pointed at nginx, AppId, the public key "
             f"pinned) into {sealed}")
        _, shown = env.run(tool, "show", win(sealed))
        print(shown.rstrip())
        notes = env.work / "notes.txt"
        notes.write_text("示例程序 1.1.0.0：修正了若干问题。\n更新前请保存您的工作。\n", encoding="utf-8")
        _, released = env.run(tool, "release", "--version", "1.1.0.0", "--url",
                              web.base + "dl/setup.bin", "--suffix", ".exe", "--package",
                              win(site.www / "dl" / "setup.bin"), "--signing-key", win(f"{key}.key"),
                              "--notes", win(notes), "--main", "SampleApp.exe", "--expires", "30",
                              "--client", win(sealed), "--installed", win(site.app / "SampleApp.exe"),
                              win(site.www / "update.ini"))
        step("released version 1.1.0.0: the tool wrote and signed update.ini and ran the client's "
             "own decision on it")
        print(released.rstrip())
        step(f"nginx serves {site.www} at {web.base}: update.ini (version 1.1.0.0), dl/setup.bin")
        main_program = site.start_main_program()
        step("started the main program SampleApp.exe")
        client = env.start(sealed)
        step("started sealupdate.exe (mode 1: it checks at once)")
        env.wait_window(site.title, timeout_ms=30000)
        if interactive:
            step("the client is yours: answer its questions; the demo ends when it exits")
            wait_exit(client, 3600)
        else:
            time.sleep(1.5)
            shot("question")
            title, text = site.message_box("yes")
            step(f"message box '{title}': {text} -> yes")
            end = time.time() + 20  # until the first progress arrives
            while site.control_text(202).endswith(" 0.00 KB/S") and time.time() < end:
                time.sleep(0.2)
            shot("downloading")
            step(f"downloading: {site.control_text(202)}, {site.control_text(203)}")
            env.driver("msgbox", site.pid(), "wait", "--timeout", "60000", check=False)
            time.sleep(0.5)
            shot("downloaded")
            title, text = site.message_box("ok")
            step(f"message box '{title}': {text} -> ok")
            wait_exit(client, 30)
            step("the client ended")
    same = site.package_saved_intact()
    step(f"package saved as {site.saved_package()}: {'byte for byte' if same else 'MISSING'}")
    try:
        main_program.wait(timeout=10)
        step("the main program's process was ended")
    except subprocess.TimeoutExpired:
        step("the main program is STILL RUNNING")
        main_program.kill()
    opened = site.package_opened()
    step("the package was opened by the shell" if opened else "the package was NOT opened")
    for s in shots:
        print(f"   screenshot: {s}")
    return 0 if same and opened else 1


if __name__ == "__main__":
    sys.exit(main())
