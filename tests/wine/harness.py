"""Shared pieces of the end-to-end tests: the Wine environment written by wine_env.sh, Windows
paths, starting the client, and the driver program that plays the user."""
import os
import pathlib
import shutil
import socket
import subprocess
import sys
import time


class WineEnv:
    def __init__(self, build_dir, state_dir, work_name, work_dir=None):
        self.build = pathlib.Path(build_dir).resolve()
        self.state = pathlib.Path(state_dir).resolve()
        self.env = dict(os.environ)
        for key in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
            self.env.pop(key, None)
        for line in (self.state / "env.list").read_text().splitlines():
            key, _, value = line.partition("=")
            self.env[key] = value
        self.wine = self.env["WINE"]
        self.work = pathlib.Path(work_dir).resolve() if work_dir else self.build / "e2e" / work_name
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
                             "rect": tuple(map(int, rect.split(","))), "text": unescape(text)})
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


def unescape(text):
    """Undoes the driver's escaping of backslashes and line breaks."""
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"r": "\r", "n": "\n"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


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


class Server:
    """test_server.py in the background, serving `root` on loopback; its output goes to a file."""

    def __init__(self, env, root, lifetime=100):
        port_file = env.work / "port"
        port_file.unlink(missing_ok=True)
        self.log = open(env.work / "server.log", "wb")
        self.proc = subprocess.Popen(
            [sys.executable, str(pathlib.Path(__file__).with_name("test_server.py")), str(root),
             str(port_file), "--lifetime", str(lifetime)],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT)
        for _ in range(200):
            port = port_file.read_text().strip() if port_file.exists() else ""
            if port:
                self.base = f"http://127.0.0.1:{port}/"
                return
            time.sleep(0.05)
        raise AssertionError("the test server did not start")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        self.proc.kill()
        self.proc.wait()
        self.log.close()


class Nginx:
    """nginx on a free loopback port with a configuration of our own, serving `root`: the web
    server a deployer would use."""

    def __init__(self, env, root, limit_rate=None):
        self.dir = env.work / "nginx"
        (self.dir / "logs").mkdir(parents=True, exist_ok=True)
        self.port = free_port()
        conf = self.dir / "nginx.conf"
        conf.write_text(f"""daemon off;
master_process off;
worker_processes 1;
pid {self.dir}/nginx.pid;
error_log {self.dir}/logs/error.log;
events {{ worker_connections 64; }}
http {{
  access_log {self.dir}/logs/access.log;
  client_body_temp_path {self.dir}/body;
  proxy_temp_path {self.dir}/proxy;
  fastcgi_temp_path {self.dir}/fastcgi;
  uwsgi_temp_path {self.dir}/uwsgi;
  scgi_temp_path {self.dir}/scgi;
  types {{ application/octet-stream bin exe; text/plain ini txt; }}
  server {{
    listen 127.0.0.1:{self.port};
    {f"limit_rate {limit_rate};" if limit_rate else ""}
    root {pathlib.Path(root).resolve()};
  }}
}}
""")
        self.log = open(self.dir / "nginx.out", "wb")
        self.proc = subprocess.Popen(["nginx", "-p", str(self.dir), "-c", str(conf)],
                                     stdin=subprocess.DEVNULL, stdout=self.log,
                                     stderr=subprocess.STDOUT)
        self.base = f"http://127.0.0.1:{self.port}/"
        for _ in range(200):
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=0.2):
                    return
            except OSError:
                if self.proc.poll() is not None:
                    raise AssertionError("nginx did not start: " +
                                         (self.dir / "nginx.out").read_text(errors="replace"))
                time.sleep(0.05)
        raise AssertionError("nginx did not start")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.log.close()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Scenarios(dict):
    """A script's scenarios by name; used as the decorator that registers them."""

    def __call__(self, fn):
        self[fn.__name__] = fn
        return fn


def expect(condition, message):
    if not condition:
        raise AssertionError(message)


def ended(proc, timeout=15):
    """True when the process ends within the time."""
    try:
        proc.wait(timeout=timeout)
        return True
    except subprocess.TimeoutExpired:
        return False


def run_scenario(scenarios):
    """Command line of the scenario scripts: BUILD_DIR STATE_DIR SCENARIO."""
    build, state, name = sys.argv[1:4]
    scenarios[name](WineEnv(build, state, name))
    print(f"{name}: ok")
