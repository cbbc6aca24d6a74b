#!/usr/bin/env python3
# Signed documents and verified packages: OpenSSL's command line signs, the client's CNG checks.
import base64
import re
import hashlib
import subprocess

from harness import (CHECK_FAILED, NO_OUTCOME, TRAIL_DEBUG, UP_TO_DATE, Nginx,
                     Server, UpdateSite, expect, run_scenario, trail, wait_exit)


def openssl(*args, data=None):
    return subprocess.run(["openssl", *map(str, args)], input=data, capture_output=True,
                          check=True).stdout


def make_key(folder, name="publisher"):
    # A P-256 key pair: the PKCS#8 file and the public-key line (base64 of 04 || X || Y).
    key = folder / f"{name}.key"
    openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", key)
    return key, base64.b64encode(openssl("pkey", "-in", key, "-pubout", "-outform", "DER")[-65:])


def signed(document, key):
    # `document` (ending with CR LF) and its [Signature] section; the DER signature as r || s.
    der, rs, at = openssl("dgst", "-sha256", "-sign", key, data=document), b"", 2
    for _ in range(2):
        rs += der[at + 2:at + 2 + der[at + 1]].lstrip(b"\0").rjust(32, b"\0")
        at += 2 + der[at + 1]
    return document + b"[Signature]\r\nP256=" + base64.b64encode(rs) + b"\r\n"


class SignedSite(UpdateSite):
    # Pins a key and the product; its documents give the package's Size and SHA256, and AppId.
    def __init__(self, env, soft_name):
        super().__init__(env, soft_name)
        self.key, self.public_key = make_key(env.work)

    def document(self, version, download_urls, app_id="com.example.app", extra=""):
        package = self.package.read_bytes()
        self.publish(version, download_urls, extra=f"Size={len(package)}\r\n"
                     f"SHA256={hashlib.sha256(package).hexdigest()}\r\nAppId={app_id}\r\n{extra}")
        return signed((self.www / "update.ini").read_bytes(), self.key)

    def seal(self, update_urls, mode):
        return super().seal(update_urls, mode,
                            f"PublicKey={self.public_key.decode()}\nAppId=com.example.app\n")


def osslsign(env, client):
    key, cert, out = env.work / "code.key", env.work / "code.crt", client.with_suffix(".signed")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
            "/CN=sealupdate test publisher", "-keyout", key, "-out", cert)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256", "-in",
                    client, "-out", out], check=True, capture_output=True)
    out.replace(client)


def signed_update(env):
    # An Authenticode-signed client still reads its sealed keys; past a tampered document it takes
    # the good one, whose line ends a text-mode transfer turned into LF after signing.
    site = SignedSite(env, "签名更新")
    with Nginx(env, site.www) as web:
        good = site.document("1.1.0.0", [web.base + "dl/setup.bin"])
        # Accepted, the tampered one would fail its download.
        (site.www / "tampered.ini").write_bytes(good.replace(b"setup.bin", b"setup.bad"))
        (site.www / "update.ini").write_bytes(good.replace(b"\r\n", b"\n"))
        client = site.seal([web.base + "tampered.ini", web.base + "update.ini"], mode=1)
        osslsign(env, client)

        def held():  # from the check until the shell has it, nobody may write or delete it
            site.message_box("wait")
            probe = env.driver("probe", env.win_path(site.saved_package()))[1].split()
            expect(probe == ["write=0", "delete=0"], f"the package is not held: {probe}")

        site.hand_over(client, between=held)


def released_update(env):
    # The publisher's path with the Windows tool: keygen, seal pinning the key, release.
    site = UpdateSite(env, "一键发布")
    tool, win = env.build / "sealupdate-tool.exe", env.win_path
    env.run(tool, "keygen", win(env.work / "release"))
    with Server(env, site.www) as web:
        client = site.seal([web.base + "update.ini"], 1, "AppId=com.example.app\n",
                           "--public-key", win(env.work / "release.pub"))
        env.run(tool, "release", "--version", "1.1.0.0", "--url", web.base + "dl/setup.bin",
                "--suffix", ".exe", "--package", win(site.package), "--signing-key",
                win(env.work / "release.key"), "--main", "SampleApp.exe", "--client", win(client),
                win(site.www / "update.ini"))
        site.hand_over(client)


def bucket(guid, address):
    # The machine's rollout bucket as the README defines it.
    digest = hashlib.sha256(f"{guid.strip('{}').lower()}|{address}".encode()).digest()
    return int.from_bytes(digest[:8], "big") % 100


def staged_rollout(env):
    # One signed document: automatic checks follow its Rollout and the machine's bucket (from
    # MachineGuid, which the test sets and puts back). The user's own check: the flow's unit tests.
    site = SignedSite(env, "分批发布")
    key, value = r"HKLM\SOFTWARE\Microsoft\Cryptography", "MachineGuid"
    saved = re.search(r"REG_SZ\s+(\S+)", env.run("reg", "query", key, "/v", value, check=False)[1])
    set_guid = lambda g: env.run("reg", "add", key, "/v", value, "/t", "REG_SZ", "/d", g, "/f")
    with Server(env, site.www, lifetime=600) as web:  # slow clients on a loaded machine
        address = web.base + "update.ini"
        guid = next(g for g in (f"{i:08x}-1111-2222-3333-444455556666" for i in range(100))
                    if 0 < bucket(g, address) < 99)  # a machine without guid fails either
        set_guid("{" + guid.upper() + "}")

        def publish(rollout):
            (site.www / "update.ini").write_bytes(
                site.document("1.1.0.0", [web.base + "dl/setup.bin"], extra=f"Rollout={rollout}\r\n"))

        checks_at_start = site.seal([address], mode=1)

        def automatic_check(rollout):
            publish(rollout)
            client = env.launch(checks_at_start, site.title)
            title, text = site.message_box("wait")
            site.message_box("ok" if title == "提示：" else "no")
            if title == "提示：":
                expect(wait_exit(client, 15) == UP_TO_DATE, "up to date ends with 0")
                return text
            env.close(site.title, client, NO_OUTCOME)
            return title

        try:
            b = bucket(guid, address)
            expect(automatic_check(b) == "已是最新！无需更新！", f"bucket {b} is outside {b} %")
            expect(automatic_check(b + 1) == "自动更新：", f"bucket {b} is inside {b + 1} %")
        finally:
            if saved:
                set_guid(saved[1])
            else:
                env.run("reg", "delete", key, "/v", value, "/f", check=False)
    expect(site.nothing_saved(), "nothing is downloaded")


def unverifiable_documents_are_refused(env):
    site = SignedSite(env, "验证失败")
    with Server(env, site.www) as web:
        good = site.document("1.1.0.0", [web.base + "dl/setup.bin"])
        unsigned = good.split(b"[Signature]")[0]
        documents = {
            "tampered.ini": good.replace(b"=1.1.0.0", b"=9.1.0.0"), "unsigned.ini": unsigned,
            "stranger.ini": signed(unsigned, make_key(env.work, "x")[0]),
            "other.ini": site.document("1.1.0.0", [web.base + "dl/setup.bin"],
                                       app_id="com.example.other")}
        for name, document in documents.items():
            (site.www / name).write_bytes(document)
        client = site.launch([web.base + n for n in documents], mode=1, debug=TRAIL_DEBUG)
        expect(site.message_box("ok") == (" 提示：", "升级信息未通过验证！"), "refused")
        env.close(site.title, client, CHECK_FAILED)
    # A support engineer reads why from the trail, without keys or queries.
    refusals = [line for line in trail(env.work / "sealupdate.log") if "refused:" in line]
    why = ["signature invalid", "signature missing", "signature invalid", "for another product"]
    expect(refusals == ["document refused: " + w for w in why], f"the trail: {refusals}")
    expect(site.nothing_saved(), "nothing is downloaded")


if __name__ == "__main__":
    run_scenario(globals())
