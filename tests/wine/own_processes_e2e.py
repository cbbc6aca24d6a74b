#!/usr/bin/env python3
"""End-to-end: the client ends only the main program's processes in its own folder. Another copy
of the same executable elsewhere, even in a sibling folder whose name starts like the client's,
survives a whole update.

Usage: own_processes_e2e.py BUILD_DIR STATE_DIR SCENARIO
"""
import shutil

from harness import Server, run_scenario, wait_exit
from update_site import UpdateSite

SCENARIOS = {}


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


def expect(condition, message):
    if not condition:
        raise AssertionError(message)


def ended(proc, timeout=15):
    try:
        proc.wait(timeout=timeout)
        return True
    except Exception:  # noqa: BLE001 - still running
        return False


@scenario
def copy_elsewhere_survives_the_update(env):
    site = UpdateSite(env, "只结束本程序")
    # "app2" shares the client folder's name as a prefix: a textual prefix test would take it in.
    elsewhere = env.work / "app2" / "SampleApp.exe"
    below = site.app / "bin" / "SampleApp.exe"
    for copy in (elsewhere, below):
        copy.parent.mkdir(parents=True)
        shutil.copy(env.build / "SampleApp.exe", copy)
    # Started first, so it runs well before the copies in the client folder that are seen to end.
    stranger = env.start(elsewhere)
    try:
        with Server(env, site.www) as web:
            site.publish("1.1.0.0", [web.base + "dl/setup.bin"])
            main_program = site.start_main_program()
            helper = env.start(below)
            client = site.launch([web.base + "update.ini"], mode=1)
            title, _ = site.message_box("yes")
            expect(title == "自动更新：", f"the question is asked: {title}")
            title, _ = site.message_box("ok")
            expect(title == "下载完成：", f"the download completes: {title}")
            expect(wait_exit(client, 20) == 0, "the client must end after the hand-over")
        expect(site.package_saved_intact(), "the package is saved byte for byte")
        expect(ended(main_program), "the main program in the client folder must be ended")
        expect(ended(helper), "the copy below the client folder must be ended")
        expect(site.package_opened(), "the package was not opened")
        expect(stranger.poll() is None, "the copy in another folder must keep running")
    finally:
        stranger.kill()
        stranger.wait()


if __name__ == "__main__":
    run_scenario(SCENARIOS)
