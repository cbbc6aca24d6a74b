#!/usr/bin/env python3
"""End-to-end updates: the real client under Wine against a loopback web server, driven like a
user through driver.exe.

Usage: update_e2e.py BUILD_DIR STATE_DIR SCENARIO
"""
import shutil
import time

from harness import Nginx, Scenarios, Server, ended, expect, run_scenario, wait_exit
from update_site import UpdateSite

scenario = Scenarios()
STATUS, BUTTON = 200, 400  # the status label and the primary button


@scenario
def whole_update_in_mode1(env):
    site = UpdateSite(env, "整体更新")
    with Nginx(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + "dl/setup.bin"])
        main_program = site.start_main_program()
        client = site.launch([web.base + "update.ini"], mode=1)
        title, text = site.message_box("yes")
        expect((title, text) == ("自动更新：", "发现新版本，是否立即更新？"), f"{title} {text}")
        title, text = site.message_box("ok")
        expect(title == "下载完成：" and text == "更新文件下载完毕！单击 [确定] 重启程序。",
               f"{title} {text}")
        expect(wait_exit(client, 20) == 0, "the client must end after the hand-over")
    expect(site.package_saved_intact(), "the package is saved byte for byte")
    expect(ended(main_program), "the main program's process must be ended")
    expect(site.package_opened(), "the package was not opened")


@scenario
def mode0_waits_for_the_click(env):
    site = UpdateSite(env, "等待点击")
    with Server(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + "dl/setup.bin"])
        client = site.launch([web.base + "update.ini"], mode=0)
        time.sleep(1.0)
        expect(site.control_text(STATUS) == "未开始。", "mode 0 must not check by itself")
        env.driver("click", site.title, "检查更新")
        title, _ = site.message_box("no")
        expect(title == "自动更新：", "the question is asked after the click")
        expect(site.control_text(BUTTON) == "立即更新", "after no, the update waits for the user")
        expect(site.control_text(STATUS).startswith("发现新版本：1.1.0.0"), "status names the version")
        env.driver("close", site.title)
        expect(wait_exit(client, 15) == 0, "closing ends the client")


@scenario
def mode2_up_to_date_exits_unseen(env):
    site = UpdateSite(env, "静默最新")
    with Server(env, site.www) as web:
        site.publish("1.0.0.0", [web.base + "dl/setup.bin"])
        site.seal([web.base + "update.ini"], mode=2)
        client = site.start_client()
        seen = False
        end = time.time() + 20
        while client.poll() is None and time.time() < end:
            code, out = env.driver("info", site.title, check=False)
            seen |= code == 0 and "visible=1" in out
            time.sleep(0.05)
        expect(client.poll() == 0, "the client must end by itself")
        expect(not seen, "the window must never be visible")


@scenario
def mode2_shows_the_window_only_after_yes(env):
    site = UpdateSite(env, "静默更新")
    with Server(env, site.www) as web:
        # The package trickles so that the download is still running when the window shows.
        site.publish("2.0", [web.base + "dl/setup.bin?trickle=4096,50"])
        site.seal([web.base + "update.ini"], mode=2)
        client = site.start_client()
        env.driver("wait", site.title, "--timeout", "20000")
        expect(env.info(site.title)["visible"] == "0", "hidden before the question")
        site.message_box("yes")
        env.driver("wait", site.title, "--visible", "--timeout", "10000")
        info = env.info(site.title)
        left, top = map(int, info["rect"].split(",")[:2])
        expect(left >= 0 and top >= 0, f"the window must be centred on screen: {info['rect']}")
        expect(site.control_text(BUTTON) == "取消更新", "the download runs visibly")
        env.driver("close", site.title)
        expect(wait_exit(client, 15) == 0, "closing during the download ends the client")


@scenario
def failed_update_address_falls_back(env):
    site = UpdateSite(env, "地址回退")
    with Server(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + "dl/setup.bin?status=404", web.base + "dl/setup.bin"])
        site.start_main_program()
        client = site.launch([web.base + "update.ini?status=404", web.base + "update.ini"], mode=1)
        title, _ = site.message_box("yes")
        expect(title == "自动更新：", "the second update address answers")
        title, _ = site.message_box("ok")
        expect(title == "下载完成：", "the second download address serves the package")
        expect(wait_exit(client, 20) == 0, "the client ends after the hand-over")
    expect(site.package_saved_intact(), "saved byte for byte")
    expect(site.package_opened(), "the package was opened")


@scenario
def cut_package_is_never_opened(env):
    site = UpdateSite(env, "截断文件")
    with Server(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + "dl/setup.bin?cut=1000"])
        client = site.launch([web.base + "update.ini"], mode=1)
        site.message_box("yes")
        title, text = site.message_box("ok")
        expect((title, text) == ("提示：", "下载文件出错！"), f"{title} {text}")
        expect(site.control_text(BUTTON) == "立即更新", "the update can be tried again")
        env.driver("close", site.title)
        wait_exit(client, 15)
    update = site.app / "Update"
    expect(not update.exists() or not any(update.iterdir()), "no file may be left behind")


@scenario
def locked_save_path_reports_access_denied(env):
    site = UpdateSite(env, "文件占用")
    (site.app / "Update").mkdir()
    locked = site.saved_package()
    # A running program's file cannot be replaced.
    locked.write_bytes((env.build / "SampleApp.exe").read_bytes())
    holder = env.start(locked)
    try:
        with Server(env, site.www) as web:
            site.publish("1.1.0.0", [web.base + "dl/setup.bin"])
            client = site.launch([web.base + "update.ini"], mode=1)
            site.message_box("yes")
            title, text = site.message_box("ok")
            expect((title, text) == ("提示：", "拒绝访问。"), f"{title} {text}")
            expect(site.control_text(BUTTON) == "立即更新", "the caption returns to 立即更新")
            env.driver("close", site.title)
            wait_exit(client, 15)
    finally:
        holder.kill()


@scenario
def cancel_mid_download_is_silent(env):
    site = UpdateSite(env, "取消下载")
    with Server(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + "dl/setup.bin?trickle=2048,100"])
        client = site.launch([web.base + "update.ini"], mode=1)
        site.message_box("yes")
        time.sleep(0.5)
        env.driver("click", site.title, "取消更新")
        time.sleep(0.5)
        expect(site.control_text(STATUS) == "用户取消下载更新！", "the status tells of the cancel")
        expect(site.control_text(BUTTON) == "立即更新", "the update can start again")
        code, _ = env.driver("msgbox", site.pid(), "ok", "--timeout", "2000", check=False)
        expect(code != 0, "no completion may arrive after a cancel")
        env.driver("close", site.title)
        wait_exit(client, 15)
    expect(not site.package_opened(timeout=0.5), "a cancelled package is never opened")


@scenario
def climbing_suffix_writes_nothing_outside_update(env):
    site = UpdateSite(env, "后缀越界")
    main_bytes = (site.app / "SampleApp.exe").read_bytes()
    with Server(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + "dl/setup.bin"], suffix="\\..\\..\\SampleApp.exe")
        main_program = site.start_main_program()
        client = site.launch([web.base + "update.ini"], mode=1)
        site.message_box("yes")
        title, text = site.message_box("ok")
        expect((title, text) == ("提示：", "下载文件出错！"), f"{title} {text}")
        env.driver("close", site.title)
        wait_exit(client, 15)
    expect((site.app / "SampleApp.exe").read_bytes() == main_bytes, "the main program was overwritten")
    expect(main_program.poll() is None, "no process may be ended for a refused package")
    main_program.kill()
    written = [p for p in env.work.rglob("*") if p.is_file() and p.read_bytes() ==
               site.package.read_bytes() and p.parent != site.www / "dl"]
    expect(written == [], f"the package was written: {written}")
    expect(not site.package_opened(timeout=0.5), "a refused package is never opened")


@scenario
def climbing_segment_falls_back_to_the_next_address(env):
    site = UpdateSite(env, "路径越界")
    victim = env.work / "outside" / "victim.txt"
    victim.parent.mkdir()
    victim.write_bytes(b"keep me")
    with Server(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + "dl/..\\..\\outside\\victim.txt",
                                 web.base + "dl/setup.bin"])
        client = site.launch([web.base + "update.ini"], mode=1)
        site.message_box("yes")
        title, _ = site.message_box("ok")
        expect(title == "下载完成：", "the second address serves the package")
        expect(wait_exit(client, 20) == 0, "the client ends after the hand-over")
    expect(victim.read_bytes() == b"keep me", "a file outside Update was overwritten")
    expect(site.package_saved_intact(), "the package arrives from the second address")


@scenario
def html_answer_falls_back_to_the_next_address(env):
    site = UpdateSite(env, "网页回退")
    (site.www / "portal.html").write_text("<html><body><h1>Sign in</h1>[UpdateInfo]</body></html>")
    with Server(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + "dl/setup.bin"])
        client = site.launch([web.base + "portal.html", web.base + "update.ini"], mode=1)
        title, text = site.message_box("no")
        expect(title == "自动更新：", f"the second address must be asked: {title} {text}")
        env.driver("close", site.title)
        wait_exit(client, 15)


@scenario
def document_home_page_naming_a_local_program_is_not_run(env):
    site = UpdateSite(env, "主页程序")
    trap = env.work / "trap"
    trap.mkdir()
    shutil.copy(site.package, trap / "run.exe")
    with Server(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + "dl/setup.bin"],
                     extra=f"HomeURL={env.win_path(trap / 'run.exe')}\r\n")
        client = site.launch([web.base + "update.ini"], mode=1)
        site.message_box("no")
        env.driver("click", site.title, "访问主页")
        time.sleep(2.0)
        env.driver("close", site.title)
        wait_exit(client, 15)
    expect(not (trap / "package-opened.txt").exists(), "the home page ran a local program")


@scenario
def stop_then_check_again_while_the_first_request_hangs(env):
    site = UpdateSite(env, "停止重查")
    with Server(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + "dl/setup.bin"])
        client = site.launch([web.base + "update.ini?hang=first"], mode=0)
        env.driver("click", site.title, "检查更新")
        time.sleep(0.5)
        expect(site.control_text(STATUS) == "正在检查新版本...", "the first request hangs")
        env.driver("click", site.title, "停止检查")
        expect(site.control_text(BUTTON) == "检查更新", "stopped")
        env.driver("click", site.title, "检查更新")
        title, _ = site.message_box("no", timeout_ms=15000)
        expect(title == "自动更新：", "the new check is answered while the first still hangs")
        env.driver("close", site.title)
        wait_exit(client, 15)


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
    run_scenario(scenario)
