"""A whole update laid out on disk: the program folder (the sealed client beside the sample main
program at version 1.0.0.0) and the web folder (the update document and the sample package).
Shared by the end-to-end tests and the demo."""
import shutil
import time

from harness import unescape

TITLE = "智能更新程序"


class UpdateSite:
    def __init__(self, env, soft_name):
        self.env = env
        self.soft_name = soft_name
        self.title = f"{soft_name} - {TITLE}"
        self.app = env.work / "app"
        self.www = env.work / "www"
        (self.www / "dl").mkdir(parents=True)
        self.app.mkdir()
        self.package = env.build / "sample_package.exe"
        shutil.copy(self.package, self.www / "dl" / "setup.bin")
        shutil.copy(env.build / "SampleApp.exe", self.app / "SampleApp.exe")
        self.client = None
        self.main_program = None

    def publish(self, version, download_urls, extra="", suffix=".exe"):
        """Writes the update document in the code page the client reads (GBK)."""
        text = (f"[UpdateInfo]\r\nVersion={version}\r\nDownloadURL={'|'.join(download_urls)}\r\n"
                f"ModifySuffix={suffix}\r\nMainExeName=SampleApp.exe\r\n"
                f"UpdateText={self.soft_name} {version}：修正了若干问题。\r\n{extra}")
        (self.www / "update.ini").write_bytes(text.encode("gbk"))

    def seal(self, update_urls, mode):
        config = (f"[UpdateInfo]\nSoftName={self.soft_name}\nHomeURL=http://127.0.0.1/\n"
                  f"UpdateURL={'|'.join(update_urls)}\nUpdateText=正在准备更新。\nUpdateMode={mode}\n")
        self.client = self.env.seal(config, name="app/sealupdate.exe")
        return self.client

    def launch(self, update_urls, mode):
        """Seals the client, starts it and waits for its window to show."""
        self.seal(update_urls, mode)
        client = self.start_client()
        self.env.driver("wait", self.title, "--visible", "--timeout", "20000")
        return client

    def start_main_program(self):
        self.main_program = self.env.start(self.app / "SampleApp.exe")
        return self.main_program

    def start_client(self, *args):
        return self.env.start(self.client, *args)

    def pid(self):
        return self.env.info(self.title)["pid"]

    def message_box(self, answer, timeout_ms=30000):
        """Waits for the client's message box, answers it and returns (title, text)."""
        _, out = self.env.driver("msgbox", self.pid(), answer, "--timeout", str(timeout_ms),
                                 timeout=timeout_ms / 1000 + 30)
        fields = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return unescape(fields.get("title", "")), unescape(fields.get("text", ""))

    def control_text(self, ident):
        for control in self.env.texts(self.title):
            if control["id"] == ident:
                return control["text"]
        raise AssertionError(f"no control {ident}")

    def saved_package(self):
        return self.app / "Update" / "setup.bin.exe"

    def package_saved_intact(self):
        saved = self.saved_package()
        return saved.exists() and saved.read_bytes() == self.package.read_bytes()

    def package_opened(self, timeout=15):
        marker = self.app / "Update" / "package-opened.txt"
        end = time.time() + timeout
        while time.time() < end:
            if marker.exists():
                return True
            time.sleep(0.1)
        return False
