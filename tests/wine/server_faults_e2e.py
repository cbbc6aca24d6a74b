#!/usr/bin/env python3
"""Whole updates against servers that misbehave: the real client under Wine, driven like a user,
against test_server.py bent to answer endlessly, redirect in circles, cut a package, trickle it or
send it from https to plain http.

Usage: server_faults_e2e.py BUILD_DIR STATE_DIR SCENARIO
"""
import time

from download_e2e import LoggedServer, TrustedCertificate
from harness import Scenarios, expect, run_scenario, wait_exit
from update_site import UpdateSite

scenario = Scenarios()
STATUS, BUTTON, TIME_LEFT, PROGRESS = 200, 400, 203, 300


def close(env, site, client):
    env.driver("close", site.title)
    wait_exit(client, 15)


def nothing_saved(site):
    update = site.app / "Update"
    return not update.exists() or not any(update.iterdir())


@scenario
def endless_document_falls_back_to_the_second_address(env):
    site = UpdateSite(env, "无尽文档")
    with LoggedServer(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + "dl/setup.bin"])
        client = site.launch([web.base + "update.ini?endless=1", web.base + "update.ini"], mode=1)
        # The endless answer is given up at 4 MiB, long before this wait ends.
        title, _ = site.message_box("no", timeout_ms=20000)
        expect(title == "自动更新：", f"the second address answers: {title}")
        expect(site.control_text(STATUS).startswith("发现新版本：1.1.0.0"), "its document counts")
        close(env, site, client)
        expect(web.targets()[:2] == ["/update.ini?endless=1", "/update.ini"], web.targets())


@scenario
def redirect_loop_ends_in_the_check_failure(env):
    site = UpdateSite(env, "循环跳转")
    with LoggedServer(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + "dl/setup.bin"])
        client = site.launch([web.base + "update.ini?loop=1"], mode=1)
        title, text = site.message_box("ok", timeout_ms=20000)
        expect((title, text) == (" 提示：", "获取升级信息失败！"), f"{title} {text}")
        close(env, site, client)
        asked = len(web.targets())
        expect(asked == 11, f"the loop was followed {asked - 1} times, not 10")


@scenario
def cut_chunked_package_is_never_completed(env):
    site = UpdateSite(env, "分块截断")
    half = site.package.stat().st_size // 2
    with LoggedServer(env, site.www) as web:
        site.publish("1.1.0.0", [web.base + f"dl/setup.bin?nolength=chunked&cut={half}"])
        main_program = site.start_main_program()
        try:
            client = site.launch([web.base + "update.ini"], mode=1)
            site.message_box("yes")
            title, text = site.message_box("ok")
            expect((title, text) == ("提示：", "下载文件出错！"), f"{title} {text}")
            expect(main_program.poll() is None, "the main program was ended")
            close(env, site, client)
        finally:
            main_program.kill()
    expect(nothing_saved(site), "a cut package was left behind")
    expect(not site.package_opened(timeout=0.5), "a cut package was opened")


@scenario
def slow_package_shows_moving_progress(env):
    site = UpdateSite(env, "慢速下载")
    with LoggedServer(env, site.www) as web:
        # 2 KiB/s: reads that waited for a full buffer would show nothing for minutes.
        site.publish("1.1.0.0", [web.base + "dl/setup.bin?trickle=1024,500"])
        client = site.launch([web.base + "update.ini"], mode=1)
        site.message_box("yes")
        seen = set()
        end = time.time() + 15
        while time.time() < end and len(seen) < 3:
            seen.add((site.control_text(PROGRESS), site.control_text(TIME_LEFT)))
            time.sleep(0.3)
        expect(len(seen) >= 3, f"the progress stands still: {sorted(seen)}")
        expect(site.control_text(BUTTON) == "取消更新", "the download still runs")
        close(env, site, client)


@scenario
def https_package_redirected_to_http_is_refused(env):
    site = UpdateSite(env, "拒绝降级")
    with TrustedCertificate(env) as cert, LoggedServer(env, site.www, "plain") as plain, \
            LoggedServer(env, site.www, "tls", tls=cert) as tls:
        downgrade = tls.base + f"dl/setup.bin?status=302&location={plain.base}dl/setup.bin"
        # The second address proves the package is fine over https: only the step to http fails.
        site.publish("1.1.0.0", [downgrade, tls.base + "dl/setup.bin"])
        site.start_main_program()
        client = site.launch([plain.base + "update.ini"], mode=1)
        site.message_box("yes")
        title, _ = site.message_box("ok")
        expect(title == "下载完成：", f"the https address serves the package: {title}")
        expect(wait_exit(client, 20) == 0, "the client ends after the hand-over")
        expect(plain.targets() == ["/update.ini"], f"plain http was asked: {plain.targets()}")
        expect(tls.targets() == [downgrade[len(tls.base) - 1:], "/dl/setup.bin"], tls.targets())
    expect(site.package_saved_intact(), "the package is saved byte for byte")


if __name__ == "__main__":
    run_scenario(scenario)
