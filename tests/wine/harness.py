"""Shared pieces of the end-to-end tests: the Wine environment written by wine_env.sh, Windows
paths, starting the client, and the driver program that plays the user."""
import os
import pathlib
import shutil
import subprocess
import time


class WineEnv:
    def __init__(self, build_dir, state_dir, work_name):
        self.build = pathlib.Path(build_dir).resolve()
        self.state = pathlib.Path(state_dir).resolve()
        self.env = dict(os.environ)
        for key in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
            self.env.pop(key, None)
        for line in (self.state / "env.list").read_text().splitlines():
            key, _, value = line.partition("=")
            self.env[key] = value
        self.wine = self.env["WINE"]
        self.work = self.build / "e2e" / work_name
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir(parents=True)

    @staticmethod
    def win_path(path):
        return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")

    def run(self, exe, *args, timeout=60, check=True):
        """Runs a Windows program to its end; returns (exit code, stdout text)."""
        proc = subprocess.run([self.wine, str(exe), *args], env=self.env, cwd=self.work,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=timeout)
        out = proc.stdout.decode("utf-8", "replace")
        if check and proc.returncode != 0:
            raise AssertionError(f"{exe} {args} exited {proc.returncode}: {out}"
                                 f"{proc.stderr.decode('utf-8', 'replace')}")
        return proc.returncode, out

    def start(self, exe, *args):
        """Starts a Windows program in the background. Its output goes to a file: an inherited
        pipe would keep CTest waiting."""
        log = open(self.work / (pathlib.Path(exe).stem + ".log"), "wb")
        return subprocess.Popen([self.wine, str(exe), *args], env=self.env, cwd=self.work,
                                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)

    def driver(self, *args, check=True, timeout=60):
        code, out = self.run(self.build / "driver.exe", *args, timeout=timeout, check=False)
        if check and code != 0:
            raise AssertionError(f"driver {args} failed ({code}): {out}")
        return code, out

    def info(self, title):
        _, out = self.driver("info", title)
        return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)

    def texts(self, title):
        _, out = self.driver("texts", title)
        """The window and its controls: dicts with class, id, visible, rect (x, y, w, h), text."""
        controls = []
        for line in out.splitlines():
            cls, ident, visible, rect, text = line.split("|", 4)
            controls.append({"class": cls, "id": int(ident), "visible": visible == "1",
                             "rect": tuple(map(int, rect.split(","))), "text": text})
        return controls

    def seal(self, config_text, name="client.exe", client=None):
        """Seals `config_text` into a copy of the client with the Windows build of the tool."""
        config = self.work / (name + ".ini")
        config.write_text(config_text, encoding="utf-8")
        out = self.work / name
        self.run(self.build / "sealupdate-tool.exe", "seal", "--config", self.win_path(config),
                 self.win_path(client or self.build / "sealupdate.exe"), self.win_path(out))
        return out

    def screenshot(self, name):
        target = self.work / (name + ".png")
        subprocess.run(["import", "-window", "root", str(target)], env=self.env, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        return target


def wait_exit(proc, timeout):
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        raise AssertionError("the client did not end")


def never_visible(env, title, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if env.info(title).get("visible") != "0":
            return False
        time.sleep(0.1)
    return True
