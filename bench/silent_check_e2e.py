#!/usr/bin/env python3
# What the silent check benchmark relies on, checked end to end under Wine: a mode 2 client that
# finds the program up to date never loads the common controls, and one that finds an update
# shows its window, when the user accepts, with everything the flow told it while hidden.
# Usage: silent_check_e2e.py BUILD_DIR STATE_DIR
import pathlib
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "wine"))
from harness import BUTTON, STATUS, Server, UpdateSite, WineEnv, expect, wait_exit  # noqa: E402

NOTES = 100


def start_logged(env, exe, log):
    # Starts the client with Wine's record of every library it loads; lines start with the
    # loading process's id (the desktop process the client may start writes here too).
    traced = dict(env.env, WINEDEBUG="+pid,+loaddll")
    with open(log, "wb") as out:
        return subprocess.Popen([env.wine, str(exe)], env=traced, cwd=env.work,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)


def loaded(log, name):
    # Whether the client's own process (the one that loaded sealupdate.exe) loaded `name`.
    lines = [line for line in log.read_text("utf-8", "replace").splitlines() if "Loaded" in line]
    client = next((line.split(":")[0] for line in lines if "sealupdate.exe" in line), None)
    return any(line.split(":")[0] == client and name in line for line in lines)


def main():
    env = WineEnv(sys.argv[1], sys.argv[2], "silent_check")
    site = UpdateSite(env, "静默检查")
    with Server(env, site.www) as web:
        site.publish("1.0.0.0", [web.base + "dl/setup.bin"])
        client = site.seal([web.base + "update.ini"], mode=2)
        log = env.work / "up-to-date.log"
        expect(wait_exit(start_logged(env, client, log), 30) == 0, "the silent check ends")
        expect(loaded(log, "WININET"), f"the loader record is missing: {log.read_text()[:400]}")
        expect(not loaded(log, "comctl32"), "an unseen silent check loaded the common controls")

        # The document trickles so that the check is seen running; the package, so that the
        # download still runs when the window shows.
        site.publish("2.0", [web.base + "dl/setup.bin?trickle=4096,50"])
        client = site.seal([web.base + "update.ini?trickle=16,200"], mode=2)
        log = env.work / "update.log"
        proc = start_logged(env, client, log)
        env.wait_window(site.title, visible=False)
        expect(env.texts(site.title) == {}, "a hidden window has no controls while it checks")
        site.message_box("yes")
        expect(loaded(log, "comctl32"), "the question came without the common controls")
        env.wait_window(site.title, timeout_ms=10000)
        texts = env.texts(site.title)
        expect(texts[NOTES]["text"] == "静默检查 2.0：修正了若干问题。",
               f"the notes set while hidden: {texts.get(NOTES)}")
        expect(texts[STATUS]["text"].startswith("正在从旧版：1.0.0.0"), f"status: {texts[STATUS]}")
        expect(texts[BUTTON]["text"] == "取消更新", f"button: {texts[BUTTON]}")
        site.close(proc)
    print("silent_check_e2e: ok")


if __name__ == "__main__":
    main()
