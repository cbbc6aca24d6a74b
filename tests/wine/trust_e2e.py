#!/usr/bin/env python3
"""Signed documents and verified packages end to end: documents signed with the OpenSSL command
line (an implementation independent of the client's), verified by the client through CNG.

Usage: trust_e2e.py BUILD_DIR STATE_DIR SCENARIO
"""
import base64
import hashlib
import subprocess

from harness import Nginx, Scenarios, Server, ended, expect, run_scenario, wait_exit
from update_site import UpdateSite

scenario = Scenarios()


def make_key(folder):
    """A P-256 key pair: the PKCS#8 file and the public-key line."""
    key = folder / "publisher.key"
    subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt",
                    "ec_paramgen_curve:P-256", "-out", str(key)], check=True)
    der = subprocess.run(["openssl", "pkey", "-in", str(key), "-pubout", "-outform", "DER"],
                         capture_output=True, check=True).stdout
    return key, base64.b64encode(der[-65:]).decode()


def der_integers(der):
    """r and s of a DER ECDSA signature, each as 32 big-endian bytes."""
    values, at = [], 2
    for _ in range(2):
        length = der[at + 1]
        values.append(der[at + 2:at + 2 + length].lstrip(b"\0").rjust(32, b"\0"))
        at += 2 + length
    return values


def signed(document, key):
    """`document` (ending with CR LF) followed by its [Signature] section."""
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(key)], input=document,
                         capture_output=True, check=True).stdout
    r, s = der_integers(der)
    return document + b"[Signature]\r\nP256=" + base64.b64encode(r + s) + b"\r\n"


class SignedSite(UpdateSite):
    """An update site whose client pins a key and whose documents give Size and SHA256."""

    def __init__(self, env, soft_name):
        super().__init__(env, soft_name)
        self.key, self.public_key = make_key(env.work)

    def document(self, version, download_urls):
        package = self.package.read_bytes()
        extra = f"Size={len(package)}\r\nSHA256={hashlib.sha256(package).hexdigest()}\r\n"
        self.publish(version, download_urls, extra=extra)
        return (self.www / "update.ini").read_bytes()

    def put(self, name, data):
        (self.www / name).write_bytes(data)

    def seal(self, update_urls, mode):
        config = (f"[UpdateInfo]\nSoftName={self.soft_name}\nUpdateURL={'|'.join(update_urls)}\n"
                  f"UpdateMode={mode}\nPublicKey={self.public_key}\n")
        self.client = self.env.seal(config, name="app/sealupdate.exe")
        return self.client


def osslsign(env, client):
    """Signs the sealed client with a self-made code-signing certificate, in place."""
    key, cert = env.work / "code.key", env.work / "code.crt"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=sealupdate test publisher", "-keyout", str(key),
                    "-out", str(cert)], check=True, capture_output=True)
    out = client.with_suffix(".signed.exe")
    subprocess.run(["osslsigncode", "sign", "-certs", str(cert), "-key", str(key), "-h", "sha256",
                    "-in", str(client), "-out", str(out)], check=True, capture_output=True)
    out.replace(client)


@scenario
def signed_update_completes_in_an_authenticode_signed_client(env):
    site = SignedSite(env, "签名更新")
    with Nginx(env, site.www) as web:
        site.put("update.ini", signed(site.document("1.1.0.0", [web.base + "dl/setup.bin"]),
                                      site.key))
        main_program = site.start_main_program()
        osslsign(env, site.seal([web.base + "update.ini"], mode=1))
        client = site.start_client()
        env.driver("wait", site.title, "--visible", "--timeout", "20000")
        expect(site.message_box("yes")[0] == "自动更新：", "the signed document offers the update")
        title, _ = site.message_box("ok")
        expect(title == "下载完成：", f"the verified package completes, not {title}")
        expect(wait_exit(client, 20) == 0, "the client must end after the hand-over")
    expect(site.package_saved_intact(), "the package is saved byte for byte")
    expect(ended(main_program), "the main program's process must be ended")
    expect(site.package_opened(), "the package was not opened")


@scenario
def tampered_document_falls_back_to_a_good_one(env):
    site = SignedSite(env, "篡改回退")
    with Server(env, site.www) as web:
        good = signed(site.document("1.1.0.0", [web.base + "dl/setup.bin"]), site.key)
        site.put("good.ini", good)
        site.put("bad.ini", good.replace(b"Version=1.1.0.0", b"Version=1.1.0.1"))
        client = site.launch([web.base + "bad.ini", web.base + "good.ini"], mode=1)
        site.message_box("no")
        status = site.control_text(200)
        expect(status.startswith("发现新版本：1.1.0.0"), f"the good document is read: {status}")
        env.driver("close", site.title)
        expect(wait_exit(client, 15) == 0, "closing ends the client")


@scenario
def unverifiable_documents_are_refused(env):
    site = SignedSite(env, "验证失败")
    with Server(env, site.www) as web:
        good = signed(site.document("1.1.0.0", [web.base + "dl/setup.bin"]), site.key)
        site.put("tampered.ini", good.replace(b"Version=1.1.0.0", b"Version=9.1.0.0"))
        site.put("unsigned.ini", good.split(b"[Signature]")[0])
        other_key, _ = make_key(env.work / "www")
        site.put("stranger.ini", signed(good.split(b"[Signature]")[0], other_key))
        addresses = [web.base + n for n in ("tampered.ini", "unsigned.ini", "stranger.ini")]
        client = site.launch(addresses, mode=1)
        title, text = site.message_box("ok")
        expect((title, text) == (" 提示：", "升级信息未通过验证！"), f"{title!r} {text!r}")
        env.driver("close", site.title)
        expect(wait_exit(client, 15) == 0, "closing ends the client")
    expect(not (site.app / "Update").exists(), "nothing is downloaded")


@scenario
def changed_package_byte_is_never_opened(env):
    site = SignedSite(env, "文件校验")
    with Server(env, site.www) as web:
        document = signed(site.document("1.1.0.0", [web.base + "dl/setup.bin"]), site.key)
        site.put("update.ini", document)
        package = bytearray(site.package.read_bytes())
        package[len(package) // 2] ^= 0x01
        site.put("dl/setup.bin", bytes(package))
        main_program = site.start_main_program()
        client = site.launch([web.base + "update.ini"], mode=1)
        site.message_box("yes")
        title, text = site.message_box("ok")
        expect((title, text) == ("提示：", "下载文件校验失败！"), f"{title} {text}")
        env.driver("close", site.title)
        wait_exit(client, 15)
    update = site.app / "Update"
    expect(not update.exists() or not any(update.iterdir()), "nothing is left at the save path")
    expect(main_program.poll() is None, "the main program keeps running")
    expect(not site.package_opened(timeout=1), "nothing is opened")
    main_program.kill()


if __name__ == "__main__":
    run_scenario(scenario)
