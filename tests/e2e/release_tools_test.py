"""The vendor's release tools end to end: orvalo-tool make-manifest over a release folder, the
signed build installing from what it made, and orvalo-tool verify-server judging live servers,
nginx when all is well and the fault server when entries are broken."""
import hashlib
import os
import re
import shutil
import urllib.parse
import unittest

from e2e import (BIN, ROOT, Site, close_client, delete_registration, end_programs, forget_release_serial, install_folder,
                 read, wine)

TOOL = os.path.join(BIN, "orvalo-tool.exe")
SIGNED_SETUP = os.path.join(BIN, "signed", "OrvaloSetup.exe")


def win(path):
    return "Z:" + path.replace("/", "\\")


KEY = win(os.path.join(ROOT, "tests", "support", "release_test.key"))
PUB = win(os.path.join(ROOT, "tests", "support", "release_test.pub"))

# A release whose files have Chinese names and blanks: their addresses must be percent-encoded.
RELEASE_INI = """; 演示发布
[deps]
file=发布/依赖 包.zip
version=1.0.0

[quotes]
file=发布/行情.zip
version=1.0.0 行情

[main]
file=发布/主程序 1.0.zip
version=1.0.0
exe=Orvalo.exe

[agreement]
file=legal/agreement.txt
version=demo-1.0.0
"""


class ReleaseTools(unittest.TestCase):
    def setUp(self):
        self.site = Site().build()
        release = os.path.join(self.site.root, "发布")
        os.makedirs(release)
        download = os.path.join(self.site.root, "download")
        for source, target in (("deps.zip", "依赖 包.zip"), ("quotes.zip", "行情.zip"), ("main.zip", "主程序 1.0.zip")):
            shutil.copy(os.path.join(download, source), os.path.join(release, target))
        self.write_release(RELEASE_INI)

    def tearDown(self):
        end_programs("OrvaloSetup.exe")
        close_client()
        self.site.remove()
        delete_registration()

    def write_release(self, text):
        with open(os.path.join(self.site.root, "release.ini"), "w", encoding="utf-8") as f:
            f.write(text)

    def make_manifest(self, *options):
        return wine(TOOL, "make-manifest", win(self.site.root), self.site.nginx, *options)

    def verify(self, base, *options):
        return wine(TOOL, "verify-server", base, *options, timeout=180)

    def test_a_release_made_by_the_tool_verifies_and_installs_with_the_signed_build(self):
        forget_release_serial()
        # The fault server serves the same files: a mirror of every file, signed with the rest.
        code, out = self.make_manifest("--key", KEY, "--expires", "2999-12-31", "--mirror", self.site.fault + "/")
        self.assertEqual(code, 0, out)
        # Not ASCII: UTF-8 with its byte-order mark, which the installer reads on any system.
        manifest = read(self.site.manifest_path).decode("utf-8")
        self.assertIn("\ufeff; made by orvalo-tool make-manifest", manifest)
        self.assertIn("version=1.0.0 行情", manifest)
        self.assertIn(f"url={self.site.nginx}/%E5%8F%91%E5%B8%83/%E4%B8%BB%E7%A8%8B%E5%BA%8F%201.0.zip", manifest)
        self.assertIn("html_sha256=", manifest)  # legal/agreement.html lies beside the text
        self.assertIn(f"mirrors={self.site.fault}/%E5%8F%91%E5%B8%83/%E4%B8%BB%E7%A8%8B%E5%BA%8F%201.0.zip\r\n",
                      manifest)
        self.assertEqual(manifest.count("\r\nmirrors="), 4)  # the three packages and the agreement
        # Each zip's index lies beside it, named in its section with the digest of what was written.
        for name in ("依赖 包.zip", "行情.zip", "主程序 1.0.zip"):
            index = read(os.path.join(self.site.root, "发布", name + ".index"))
            self.assertTrue(index.startswith(b"orvalo-package-index 1\n"))
            url = f"{self.site.nginx}/{urllib.parse.quote('发布/' + name)}"
            self.assertIn(f"url={url}\r\n", manifest)
            self.assertIn(f"index={url}.index\r\nindex_sha256={hashlib.sha256(index).hexdigest()}\r\n", manifest)
        # The serial by default: the UTC time of making.
        serial = re.search(r"\[release\]\r\nexpires=2999-12-31\r\nserial=(\d{14})\r\n", manifest).group(1)
        self.assertEqual(wine(TOOL, "verify", win(self.site.manifest_path), PUB), (0, "ok\n"))

        code, out = self.verify(self.site.nginx, "--key", PUB)
        self.assertEqual(code, 0, out)
        self.assertRegex(out, rf"(?m)^manifest.ini: ok.*序号 {serial}")
        for entry in ("manifest.ini", "deps", "quotes", "main", "agreement", "agreement.html", "deps mirror 1",
                      "quotes mirror 1", "main mirror 1", "agreement mirror 1"):
            self.assertRegex(out, rf"(?m)^{re.escape(entry)}: ok")
        self.assertTrue(out.splitlines()[-1].startswith("ok: 10 "), out)

        folder, unix = install_folder("release")
        code, _ = wine(SIGNED_SETUP, "--silent", "--accept-agreement", "--dir", folder, "--no-shortcut",
                       "--no-launch", "--base", self.site.nginx, timeout=180)
        self.assertEqual(code, 0)
        self.assertTrue(os.path.isfile(os.path.join(unix, "Orvalo.exe")))
        self.assertEqual(read(os.path.join(unix, "update", "_quotes.done")).decode("utf-8"), "1.0.0 行情")

        # The same server checked against another key: the release is refused as a whole.
        other = os.path.join(self.site.root, "other")
        self.assertEqual(wine(TOOL, "keygen", win(other + ".key"), win(other + ".pub"))[0], 0)
        code, out = self.verify(self.site.nginx, "--key", win(other + ".pub"))
        self.assertEqual(code, 1)
        self.assertIn("manifest.ini: error: 获取版本清单失败：版本清单签名无效", out)

    def test_make_manifest_refuses_what_the_installer_would_refuse(self):
        self.assertEqual(self.make_manifest()[0], 0)
        published = read(self.site.manifest_path)
        self.assertFalse(os.path.exists(self.site.manifest_path + ".sig"))
        with open(os.path.join(self.site.root, "legal", "gbk.txt"), "wb") as f:
            f.write("用户协议".encode("gbk"))
        with open(os.path.join(self.site.root, "发布", "broken.zip"), "wb") as f:
            f.write(b"PK\x03\x04 not really a zip")
        with open(os.path.join(self.site.root, "big.json"), "w") as f:
            f.write('{"datasource": {"intro": "' + "x" * 40000 + '"}}')
        cases = [
            (RELEASE_INI.replace("主程序 1.0.zip", "没有.zip"), "[main] 文件不存在：发布/没有.zip"),
            (RELEASE_INI.replace("file=发布/行情.zip", "file=../e2e/x.zip"), "[quotes] file= 必须是发布目录下的相对路径"),
            (RELEASE_INI.replace("[quotes]", "[update]"), "名称不可用作文件名：update"),
            (RELEASE_INI.replace("exe=Orvalo.exe", "exe=..\\Orvalo.exe"), "名称不可用作文件名：..\\Orvalo.exe"),
            (RELEASE_INI.replace("发布/行情.zip", "发布/broken.zip"), "[quotes] 无法读取压缩包"),
            (RELEASE_INI.replace("legal/agreement.txt", "legal/gbk.txt"), "[agreement] 协议文本不是有效的 UTF-8"),
            (RELEASE_INI + "[hints]\nfile=big.json\nbase=https://www.orvalotrader.com\n", "[hints] 提示文档过大"),
            (RELEASE_INI + "[hints]\nfile=hints.json\n", "[hints] 提示文档必须通过 https 放在厂商域名"),
            (RELEASE_INI.replace("version=1.0.0\n", "version=1.0.0\nsha256=00\n", 1), "[deps] 不能写 sha256"),
            (RELEASE_INI.replace("version=1.0.0\n", "version=1.0.0\nindex_sha256=00\n", 1), "[deps] 不能写 index_sha256"),
            (RELEASE_INI + "[release]\nexpires=2999-01-01\n", "[release] 由 --expires 生成"),
            (RELEASE_INI + "[QUOTES]\nfile=发布/行情.zip\n", "release.ini 第 18 行：重复的节 [QUOTES]"),
        ]
        for text, expected in cases:
            self.write_release(text)
            code, out = self.make_manifest()
            self.assertEqual(code, 1, text)
            self.assertIn("error: " + expected, out)
        self.write_release(RELEASE_INI)
        code, out = self.make_manifest("--key", KEY, "--expires", "2001-01-01")
        self.assertEqual((code, "有效期无效或已过：2001-01-01" in out), (1, True))
        for serial in ("1234567890123456789", "12a", "-1"):
            code, out = self.make_manifest("--key", KEY, "--serial", serial)
            self.assertEqual((code, "序号必须是 1 到 18 位十进制数字：" + serial in out), (1, True), out)
        self.assertEqual(read(self.site.manifest_path), published)
        self.assertFalse(os.path.exists(self.site.manifest_path + ".sig"))

    def test_verify_server_names_each_broken_entry(self):
        self.site.build(base=self.site.fault)
        download = os.path.join(self.site.root, "download")
        # quotes: an archive that the server serves with its true digest but that does not inflate.
        quotes = bytearray(read(os.path.join(download, "quotes.zip")))
        quotes[60] ^= 0xFF
        with open(os.path.join(download, "quotes.zip"), "wb") as f:
            f.write(quotes)
        digest = hashlib.sha256(quotes).hexdigest()

        def spoil(text):
            text = re.sub(r"(\[quotes\][^\[]*?sha256=)\w+", lambda m: m.group(1) + digest, text)
            text = re.sub(r"(\[deps\][^\[]*?sha256=)\w+", lambda m: m.group(1) + "0" * 64, text)
            # llm_deps is well at its address and at its second mirror; nobody listens at the first.
            return re.sub(r"(\[llm_deps\]\r?\nurl=)(\S+)",
                          lambda m: f"{m.group(0)}\r\nmirrors=http://127.0.0.1:1/llm_deps.zip {m.group(2)}", text)

        self.site.edit_manifest(spoil)
        self.site.set_fault_rules('{"rules": [{"ignore_range": true, "when": {"path_suffix": "main.zip"}}]}')
        code, out = self.verify(self.site.fault)
        self.assertEqual(code, 1, out)
        self.assertRegex(out, r"(?m)^deps: error: SHA256 不符")
        self.assertRegex(out, r"(?m)^quotes: error: 压缩包条目数据损坏（解压或 CRC 校验失败）：quotes/data/quotes/README.txt")
        self.assertRegex(out, r"(?m)^main: error: 服务器忽略 Range")
        self.assertRegex(out, r"(?m)^llm_deps: ok")
        self.assertRegex(out, r"(?m)^llm_deps mirror 1: error: ")
        self.assertRegex(out, r"(?m)^llm_deps mirror 2: ok")
        self.assertRegex(out.splitlines()[-1], r"^error: \d+ 项中 5 项有问题$")  # the hints are off-site too


if __name__ == "__main__":
    unittest.main()
