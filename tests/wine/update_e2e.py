#!/usr/bin/env python3
# Whole updates: the real client against loopback web servers, some of them hostile.
import hashlib
import pathlib
import re
import shutil
import subprocess
import time

from harness import (BUTTON, NO_OUTCOME, NOTES, PROGRESS, STATUS, TIME_LEFT, UPDATE_FAILED, Nginx,
                     Server, UpdateSite, ended, expect, run_scenario, until)


def whole_update(env):
    # nginx: update addresses fall back past a 404 and an HTML page, downloads past a 404 and a name
    # climbing out of Update; a killed run resumes; only processes in the client's folder end.
    site = UpdateSite(env, "整体更新")
    (site.www / "portal.html").write_text("<html><body><h1>Sign in</h1>[UpdateInfo]</body></html>")
    victim = env.work / "outside" / "victim.txt"
    victim.parent.mkdir()
    victim.write_bytes(b"keep me")
    # "app2" shares the client folder's name as a prefix: a textual prefix test would take it in.
    elsewhere, below = env.work / "app2" / "SampleApp.exe", site.app / "bin" / "SampleApp.exe"
    for copy in (elsewhere, below):
        copy.parent.mkdir(parents=True)
        shutil.copy(env.build / "SampleApp.exe", copy)
    size, part = site.package.stat().st_size, site.update / "setup.bin.exe.part"
    stranger = site.start_main_program(elsewhere)  # well before the others are seen to end
    try:
        with Nginx(env, site.www, limit_rate="256k") as web:
            site.publish("1.1.0.0", [web.base + p for p in (
                "dl/missing.bin", "dl/..\\..\\outside\\victim.txt", "dl/setup.bin")])
            update_urls = [web.base + s for s in ("missing.ini", "portal.html", "update.ini")]
            client = site.launch(update_urls, mode=1)
            site.message_box("yes")
            expect(until(lambda: part.exists() and part.stat().st_size > size // 4, 20),
                   "no progress")
            client.kill()
            client.wait()
            time.sleep(0.5)
            kept = part.stat().st_size
            expect(kept < size and not site.saved_package().exists() and
                   not site.package_opened(0.1), f"after the kill: {kept} kept")
            helper = site.start_main_program(below)
            site.hand_over(site.seal(update_urls, mode=1))
            answers = [(int(m[1]), int(m[2])) for m in re.finditer(
                r'"GET /dl/setup.bin HTTP/1.1" (\d+) (\d+)', web.access_log.read_text())]
        expect([a[0] for a in answers] == [200, 206] and answers[1][1] == size - kept,
               f"nginx answered {answers} with {kept} of {size} kept")
        expect(not part.exists(), "the partial body was left")
        expect(ended(helper), "the main program's process below the client folder must be ended")
        expect(stranger.poll() is None, "the copy in another folder must keep running")
        expect(victim.read_bytes() == b"keep me", "a file outside Update was overwritten")
    finally:
        stranger.kill()


def dripped_addresses(env):
    # Drips stay under the 30 s stall limit. Past the document's deadline (3 s in this test build)
    # the check leaves the first update address for the second. The package's first answer drips
    # under the slowest rate kept (over a 2 s window here): the rest is asked for again.
    site = UpdateSite(env, "涓流地址")
    env.env["SEALUPDATE_TEST_TUNING"] = "3000,2000"
    package = "dl/setup.bin?etag=a&trickle=1,100&faults=1"
    with Server(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + package])
        client = site.seal([web.base + "update.ini?trickle=1,1000", web.base + "update.ini"], 1)
        started, offered = time.time(), []
        site.hand_over(client, between=lambda: offered.append(time.time()))
        asked = [(r["target"], r["headers"].get("If-Range")) for r in web.requests()]
    # The whole drip would take over two minutes.
    expect(3 <= offered[0] - started < 15, f"the offer came after {offered[0] - started:.1f} s")
    expect(asked == [("/update.ini?trickle=1,1000", None), ("/update.ini", None),
                     ("/" + package, None), ("/" + package, '"a"')], f"asked {asked}")


def mode0_session(env):
    # Mode 0: a check stopped while its request hangs starts afresh; progress moves on a slow link;
    # a cancel brings no completion and keeps nothing (the window then: the flow's unit tests).
    site = UpdateSite(env, "等待点击")
    with Server(env, site.www) as web:
        # 2 KiB/s: reads that waited for a full buffer would show nothing for minutes.
        site.publish("1.1.0.0", [web.base + "dl/setup.bin?trickle=1024,500"])
        client = site.launch([web.base + "update.ini?hang=first"], mode=0)
        env.driver("click", site.title, "检查更新")
        expect(until(lambda: web.targets() == ["/update.ini?hang=first"], 20), "asked")
        expect(site.control_text(STATUS) == "正在检查新版本...", "the check waits on it")
        env.driver("click", site.title, "停止检查")
        expect(until(lambda: site.control_text(BUTTON) == "检查更新", 5), "stopped")
        env.driver("click", site.title, "检查更新")
        title, _ = site.message_box("no", timeout_ms=20000)
        expect(title == "自动更新：", "the new check is answered while the first still hangs")
        env.driver("click", site.title, "立即更新")
        seen = set()
        expect(until(lambda: seen.add((site.control_text(PROGRESS), site.control_text(TIME_LEFT)))
                     or len(seen) >= 3, 15, 0.3), f"the progress stands still: {sorted(seen)}")
        env.driver("click", site.title, "取消更新")
        time.sleep(0.5)
        code, _ = env.driver("msgbox", site.pid(), "ok", "--timeout", "2000", check=False)
        expect(code != 0, "no completion may arrive after a cancel")
        env.close(site.title, client, NO_OUTCOME)
    expect(not site.package_opened(0.5) and site.nothing_saved(), "a cancelled package was kept")


def failed_downloads(env):
    # Never opened, ending no process: cut (with a length; chunked: the image check), other than
    # the document's Size and SHA256 promise, or saved over a file a running program holds.
    site = UpdateSite(env, "下载失败")
    main_bytes, package = (site.app / "SampleApp.exe").read_bytes(), site.package.read_bytes()
    changed = bytearray(package)
    changed[len(changed) // 2] ^= 0x01
    (site.www / "dl" / "changed.bin").write_bytes(changed)
    promise = f"Size={len(package)}\r\nSHA256={hashlib.sha256(package).hexdigest()}\r\n"
    with Server(env, site.www) as web:
        dl = web.base + "dl/setup.bin"
        for name, urls, message, mode in (
                ("cut", [dl + "?cut=1000", dl + f"?nolength=chunked&cut={len(package) // 2}"],
                 "下载文件出错！", 2),
                ("changed", [web.base + "dl/changed.bin"], "下载文件校验失败！", 1),
                ("held", [dl], "拒绝访问。", 1)):
            site.publish("1.1.0.0", urls, extra=promise if name == "changed" else "")
            processes = [site.start_main_program()]
            if name == "held":  # a running program's file cannot be replaced
                site.update.mkdir(exist_ok=True)
                site.saved_package().write_bytes(main_bytes)
                processes.append(site.start_main_program(site.saved_package()))
            try:
                client = site.launch([web.base + "update.ini"], mode, visible=mode != 2)
                expect(env.info(site.title)["visible"] == str(int(mode != 2)), "hidden in mode 2")
                site.message_box("yes")
                if mode == 2:
                    env.wait_window(site.title, timeout_ms=10000)
                    left, top = map(int, env.info(site.title)["rect"].split(",")[:2])
                    expect(left >= 0 and top >= 0, f"the window is on screen: {left},{top}")
                    expect(site.control_text(NOTES) == "下载失败 1.1.0.0：修正了若干问题。",
                           "the notes the flow set while the window was hidden")
                expect(site.message_box("ok") == ("提示：", message), f"{name}: the message")
                expect(site.control_text(BUTTON) == "立即更新", f"{name}: it can be tried again")
                expect(processes[0].poll() is None, f"{name}: the main program was ended")
                env.close(site.title, client, UPDATE_FAILED)
            finally:
                for process in processes:
                    process.kill()
            expect(not site.package_opened(0.5), f"{name}: the package was opened")
            expect(site.nothing_saved() if name != "held" else
                   site.saved_package().read_bytes() == main_bytes, f"{name}: a file was changed")


def read_only_program_folder(env):
    # A read-only program folder (chattr +i: Wine runs as root): the package goes to the per-user
    # folder named by the folder's hash, cleared first, and only then is the main program ended.
    site = UpdateSite(env, "只读目录")
    users = pathlib.Path(env.env["WINEPREFIX"]) / "drive_c" / "users"
    local = next(p for p in users.glob("*/AppData/Local") if p.parent.parent.name != "Public")
    digest = hashlib.sha256(env.win_path(site.app).lower().encode("utf-16-le")).hexdigest()
    site.update = local / "sealupdate" / digest[:16] / "Update"
    shutil.rmtree(site.update.parent, ignore_errors=True)
    site.update.mkdir(parents=True)
    (site.update / "version.dll").write_bytes(b"planted")
    with Server(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + "dl/setup.bin?trickle=65536,50"])
        client_exe = site.seal([web.base + "update.ini"], 1)
        main_program = site.start_main_program()
        before = sorted(p.name for p in site.app.iterdir())

        def in_place():
            expect(until(site.saved_package().exists, 30, 0.02), f"nothing in {site.update}")
            expect(main_program.poll() is None, "the main program was ended before the package "
                   "was in place")

        subprocess.run(["chattr", "+i", str(site.app)], check=True)
        try:
            site.hand_over(client_exe, between=in_place, main_program=main_program)
        finally:
            subprocess.run(["chattr", "-i", str(site.app)], check=True)
    left = sorted(p.name for p in site.update.iterdir())
    expect(left == ["package-opened.txt", "setup.bin.exe"], f"left in the per-user folder: {left}")
    expect(sorted(p.name for p in site.app.iterdir()) == before, "the program folder changed")


if __name__ == "__main__":
    run_scenario(globals())
