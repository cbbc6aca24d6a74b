# Shared by the end-to-end tests, the benchmarks and the demo.
import contextlib
import hashlib
import json
import os
import pathlib
import re
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import time

TITLE = "智能更新程序"
UP_TO_DATE, CHECK_FAILED, UPDATE_FAILED, NO_OUTCOME, HANDED_OVER = range(5)  # the exit codes
NOTES, STATUS, SPEED, TIME_LEFT, PROGRESS, BUTTON = 100, 200, 202, 203, 300, 400  # control ids


class WineEnv:
    def __init__(self, build_dir, state_dir, work_name, work_dir=None):
        self.build = pathlib.Path(build_dir).resolve()
        self.env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
        for line in (pathlib.Path(state_dir) / "env.list").read_text().splitlines():
            key, _, value = line.partition("=")
            self.env[key] = value.strip('"')
        self.wine = self.env["WINE"]
        self.work = pathlib.Path(work_dir).resolve() if work_dir else self.build / "e2e" / work_name
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir(parents=True)

    @staticmethod
    def win_path(path):
        return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")

    def run(self, exe, *args, timeout=60, check=True, debug=None):
        proc = subprocess.run([self.wine, str(exe), *args], cwd=self.work,
                              env=dict(self.env, WINEDEBUG=debug or self.env["WINEDEBUG"]),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        out = proc.stdout.decode("utf-8", "replace")
        expect(not check or proc.returncode == 0,
               f"{pathlib.Path(exe).name} {args} exited {proc.returncode}: {out}"
               f"{proc.stderr.decode('utf-8', 'replace')}")
        return proc.returncode, out

    def start(self, exe, *args, debug=None):
        # In the background; output goes to a file, as an inherited pipe would keep CTest waiting.
        with open(self.work / (pathlib.Path(exe).stem + ".log"), "wb") as out:
            return subprocess.Popen([self.wine, str(exe), *args], cwd=self.work,
                                    env=dict(self.env, WINEDEBUG=debug or self.env["WINEDEBUG"]),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)

    def driver(self, *args, check=True, timeout=60):
        # Wine's errors on stderr: about once in three fresh-prefix runs it ends 1 with no output.
        return self.run(self.build / "driver.exe", *args, timeout=timeout, check=check,
                        debug="-all,err+all")

    def info(self, title):
        return fields(self.driver("info", title)[1])

    def texts(self, title):
        rows = [line[8:].split("|", 3) for line in self.driver("info", title)[1].splitlines()
                if line.startswith("control=")]
        return {int(i): {"class": c, "rect": tuple(map(int, r.split(","))), "text": unescape(t)}
                for c, i, r, t in rows}

    def wait_window(self, title, visible=True, timeout_ms=20000):
        self.driver("wait", title, *(["--visible"] if visible else []), "--timeout", str(timeout_ms))

    def launch(self, exe, title, *args, visible=True, debug=None):
        proc = self.start(exe, *args, debug=debug)
        self.wait_window(title, visible)
        return proc

    def close(self, title, proc, code):
        # Closes the window; the client's exit code keeps the run's last outcome.
        self.driver("close", title)
        expect(wait_exit(proc, 15) == code, f"closing {title} must end it with {code}")

    def seal(self, config_text, name="client.exe", *options):
        config = self.work / (name + ".ini")
        config.write_text(config_text, encoding="utf-8")
        self.run(self.build / "sealupdate-tool.exe", "seal", *options, "--config",
                 self.win_path(config), self.win_path(self.build / "sealupdate.exe"),
                 self.win_path(self.work / name))
        return self.work / name

    def screenshot(self, name):
        target = self.work / (name + ".png")
        subprocess.run(["import", "-window", "root", str(target)], env=self.env, check=False,
                       capture_output=True, timeout=30)
        return target


def loaded(log, exe, library):
    # From a +pid,+loaddll log, which other processes (the desktop) may write to as well.
    lines = [line for line in log.read_text("utf-8", "replace").splitlines() if "Loaded" in line]
    pid = next((line.split(":")[0] for line in lines if exe in line), None)
    return any(line.split(":")[0] == pid and library in line for line in lines)


TRAIL_DEBUG = "warn+seh"  # Wine's channel that shows what the client sends to the debugger


def trail(log):
    return re.findall(r'OutputDebugStringA "sealupdate: (.*?)\\n"',
                      log.read_text("utf-8", "replace"))


def fields(text):
    return {k: unescape(v) for k, _, v in (line.partition("=") for line in text.splitlines()) if _}


def unescape(text):
    # Undoes the driver's escaping of backslashes and line breaks.
    return re.sub(r"\\(.)", lambda m: {"r": "\r", "n": "\n"}.get(m[1], m[1]), text)


def expect(condition, message):
    if not condition:
        raise AssertionError(message)


def until(predicate, seconds, step=0.1):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(step)
    return bool(predicate())


def ended(proc, timeout=15):
    return until(lambda: proc.poll() is not None, timeout)


def wait_exit(proc, timeout):
    if not ended(proc, timeout):
        proc.kill()
        raise AssertionError("the client did not end")
    return proc.returncode


class Process:
    def spawn(self, args, log, ready):
        self.out = open(log, "wb")
        self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=self.out,
                                     stderr=subprocess.STDOUT)
        expect(until(lambda: ready() or self.proc.poll() is not None, 10, 0.05) and
               self.proc.poll() is None, f"{args[0]} did not start: {log.read_text('utf-8', 'replace')}")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.proc.kill()
        self.proc.wait()
        self.out.close()


class Server(Process):
    # test_server.py serving `root`; over HTTPS with `tls`, the files from trusted_certificate.
    def __init__(self, env, root, name="server", tls=None, lifetime=100):
        port_file, self.log_path = env.work / (name + ".port"), env.work / (name + ".requests")
        for stale in (port_file, self.log_path, pathlib.Path(str(self.log_path) + ".sent")):
            stale.unlink(missing_ok=True)
        args = [sys.executable, str(pathlib.Path(__file__).with_name("test_server.py")), str(root),
                str(port_file), str(lifetime), str(self.log_path)]
        self.spawn(args + list(tls or ()), env.work / (name + ".out"), port_file.exists)
        # Certificates name hosts, not addresses: Wine checks the name against them.
        host = "https://localhost" if tls else "http://127.0.0.1"
        self.base = f"{host}:{port_file.read_text().strip()}/"

    def requests(self):
        # What the server was asked, in order: dicts with target and headers.
        return json_lines(self.log_path)

    def targets(self):
        return [r["target"] for r in self.requests()]

    def sent(self, part=""):
        rows = json_lines(pathlib.Path(str(self.log_path) + ".sent"))
        return sum(r["sent"] for r in rows if part in r["target"])


def json_lines(path):
    return [json.loads(line) for line in path.read_text().splitlines()] if path.exists() else []


class Nginx(Process):
    # The web server a deployer would use, serving `root`; its access log names every request.
    def __init__(self, env, root, limit_rate=None):
        d = env.work / "nginx"
        (d / "logs").mkdir(parents=True, exist_ok=True)
        with socket.socket() as free:
            free.bind(("127.0.0.1", 0))
            port = free.getsockname()[1]
        temps = "".join(f"{t}_temp_path {d}/{t};" for t in ("client_body", "proxy", "fastcgi",
                                                           "uwsgi", "scgi"))
        (d / "nginx.conf").write_text(
            f"daemon off; master_process off; worker_processes 1; pid {d}/nginx.pid;"
            f"error_log {d}/logs/error.log; events {{ worker_connections 64; }}"
            f"http {{ access_log {d}/logs/access.log; {temps}"
            "types { application/octet-stream bin exe; text/plain ini txt; }"
            f"server {{ listen 127.0.0.1:{port}; root {pathlib.Path(root).resolve()};"
            f"{f'limit_rate {limit_rate};' if limit_rate else ''} }} }}\n")
        self.spawn(["nginx", "-p", str(d), "-c", str(d / "nginx.conf")], d / "nginx.out",
                   (d / "nginx.pid").exists)  # written once it listens
        self.base, self.access_log = f"http://127.0.0.1:{port}/", d / "logs" / "access.log"

    def __exit__(self, *exc):
        self.proc.terminate()  # lets nginx write its log
        ended(self.proc, 10)
        super().__exit__()


@contextlib.contextmanager
def trusted_certificate(env):
    # A self-signed localhost certificate the prefix (never the host) trusts while the test runs.
    cert, key = env.work / "tls.crt", env.work / "tls.key"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-keyout", str(key), "-out", str(cert), "-subj", "/CN=localhost",
                    "-addext", "subjectAltName=DNS:localhost",
                    "-addext", "basicConstraints=critical,CA:TRUE",
                    "-addext", "extendedKeyUsage=serverAuth"],
                   check=True, capture_output=True, timeout=60)
    der = ssl.PEM_cert_to_DER_cert(cert.read_text())
    entry = (r"HKCU\Software\Microsoft\SystemCertificates\Root\Certificates" + "\\" +
             hashlib.sha1(der).hexdigest().upper())
    # A serialized store element: the certificate property (32), X.509 encoding (1), length.
    blob = struct.pack("<III", 32, 1, len(der)) + der
    env.run("reg", "add", entry, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(), "/f")
    try:
        yield str(cert), str(key)
    finally:
        env.run("reg", "delete", entry, "/f", check=False)


class UpdateSite:
    # app: the client beside the sample main program (1.0.0.0), saving to `update`; www: the
    # update document and the sample package as dl/setup.bin.
    def __init__(self, env, soft_name):
        self.env, self.soft_name = env, soft_name
        self.title = f"{soft_name} - {TITLE}"
        self.app, self.www = env.work / "app", env.work / "www"
        self.update = self.app / "Update"
        (self.www / "dl").mkdir(parents=True)
        self.app.mkdir()
        self.package = env.build / "sample_package.exe"
        shutil.copy(self.package, self.www / "dl" / "setup.bin")
        shutil.copy(env.build / "SampleApp.exe", self.app / "SampleApp.exe")

    def publish(self, version, download_urls, extra="", suffix=".exe"):
        # Writes the update document in the code page the client reads (GBK).
        text = (f"[UpdateInfo]\r\nVersion={version}\r\nDownloadURL={'|'.join(download_urls)}\r\n"
                f"ModifySuffix={suffix}\r\nMainExeName=SampleApp.exe\r\n"
                f"UpdateText={self.soft_name} {version}：修正了若干问题。\r\n{extra}")
        (self.www / "update.ini").write_bytes(text.encode("gbk"))

    def seal(self, update_urls, mode, extra="", *options):
        return self.env.seal(
            f"[UpdateInfo]\nSoftName={self.soft_name}\nHomeURL=http://127.0.0.1/\n"
            f"UpdateURL={'|'.join(update_urls)}\nUpdateText=正在准备更新。\nUpdateMode={mode}\n"
            f"{extra}", "app/sealupdate.exe", *options)

    def launch(self, update_urls, mode, **options):
        return self.env.launch(self.seal(update_urls, mode), self.title, **options)

    def start_main_program(self, path=None):
        return self.env.start(path or self.app / "SampleApp.exe")

    def pid(self):
        return self.env.info(self.title)["pid"]

    def message_box(self, answer, timeout_ms=30000):
        box = fields(self.env.driver("msgbox", self.pid(), answer, "--timeout", str(timeout_ms),
                                     timeout=timeout_ms / 1000 + 30)[1])
        return box.get("title", ""), box.get("text", "")

    def control_text(self, ident):
        return self.env.texts(self.title)[ident]["text"]

    def saved_package(self):
        return self.update / "setup.bin.exe"

    def package_saved_intact(self):
        saved = self.saved_package()
        return saved.exists() and saved.read_bytes() == self.package.read_bytes()

    def nothing_saved(self):
        return not self.update.exists() or not any(self.update.iterdir())

    def package_opened(self, timeout=15):
        return until((self.update / "package-opened.txt").exists, timeout)

    def hand_over(self, client_exe, between=lambda: None, main_program=None):
        # Yes, `between`, ok: the client ends the main program, opens the saved package and ends.
        main_program = main_program or self.start_main_program()
        client = self.env.launch(client_exe, self.title)
        box = self.message_box("yes")
        expect(box == ("自动更新：", "发现新版本，是否立即更新？"), f"the offer: {box}")
        between()
        box = self.message_box("ok")
        expect(box == ("下载完成：", "更新文件下载完毕！单击 [确定] 重启程序。"), f"done: {box}")
        expect(ended(client, 20) and client.returncode == HANDED_OVER, "the client hands over")
        expect(ended(main_program), "the main program ran on")
        expect(self.package_saved_intact() and self.package_opened(), "the package was not opened")


def run_scenario(scenarios):
    # Scenario scripts run as `script.py BUILD_DIR STATE_DIR SCENARIO`.
    build, state, name = sys.argv[1:4]
    scenarios[name](WineEnv(build, state, name))
    print(f"{name}: ok")
