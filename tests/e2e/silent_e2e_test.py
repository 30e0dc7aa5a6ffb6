"""The unattended install and removal end to end: the real OrvaloSetup.exe under Wine with
--silent against the loopback servers, judged by its exit code, its log, the disk and the
registry."""
import os
import random
import re
import subprocess
import time
import unittest

from e2e import (BIN, HOME, TEMP_UNIX, WINE_RUN, Setup, Site, close_client, delete_registration, driver, end_programs,
                 forget_release_serial, install_folder, read, registry_values, remembered_release_serial, servers_env,
                 unix_path, wait_until, wine)
import make_site  # noqa: E402  (on the path that e2e sets)

SETUP = os.path.join(BIN, "OrvaloSetup.exe")
SIGNED_SETUP = os.path.join(BIN, "signed", "OrvaloSetup.exe")
LOG = "C:\\e2e\\silent.log"


def log_text():
    return read(unix_path(LOG)).decode("utf-8")


class SilentEndToEnd(unittest.TestCase):
    def setUp(self):
        end_programs("OrvaloSetup.exe")
        close_client()
        delete_registration()
        os.makedirs(unix_path("C:\\e2e"), exist_ok=True)
        # What earlier runs left must not pass for this run's work.
        for left in (os.path.join(HOME, "Orvalo量化.lnk"), unix_path("C:\\e2e\\first.log")):
            if os.path.exists(left):
                os.remove(left)
        self.site = Site(version="1.2.3 beta2").build()

    def tearDown(self):
        end_programs("OrvaloSetup.exe")
        close_client()
        self.site.remove()
        delete_registration()

    def install(self, *args, base=None):
        return wine(SETUP, "--silent", "--base", base or self.site.nginx, "--log", LOG, *args, timeout=180)[0]

    def quiet_uninstall(self, *extra):
        """Runs QuietUninstallString as a deployment tool does, waiting for the process it starts."""
        command = registry_values()["QuietUninstallString"][1]
        exe, _, args = command[1:].partition('" ')
        return wine(exe, *args.split(), "--log", LOG, *extra, timeout=120)[0]

    def test_silent_install_then_silent_removal(self):
        folder, unix = install_folder("silent")
        self.assertEqual(self.install("--accept-agreement", "--dir", folder, "--no-shortcut", "--no-launch"), 0)
        self.assertTrue(os.path.isfile(os.path.join(unix, "Orvalo.exe")))
        self.assertEqual(read(os.path.join(unix, "update", "_agreement.done")), b"demo-1.2.3 beta2")
        self.assertEqual(read(os.path.join(unix, "legal", "agreement_install.txt")),
                         read(os.path.join(self.site.root, "legal", "agreement.txt")))
        values = registry_values()
        self.assertEqual(values["InstallLocation"], ("REG_SZ", folder))
        self.assertEqual(values["QuietUninstallString"], ("REG_SZ", f'"{folder}\\OrvaloSetup.exe" --uninstall --silent'))
        self.assertFalse(os.path.exists(os.path.join(HOME, "Orvalo量化.lnk")))
        self.assertNotEqual(driver("wait", "OrvaloDemoClientWnd", "1500")[0], 0, "the client was started")
        log = log_text()
        for line in ("已接受服务器的用户协议，版本 demo-1.2.3 beta2", "正在下载依赖包…", "安装包 3/3 结束：",
                     f"依赖包 来源：{self.site.nginx}/download/deps.zip",
                     "安装完成：" + folder + "\\Orvalo.exe（退出码 0）"):
            self.assertIn(line, log)

        # Removed by the installation's own copy, which hands over to its temporary worker and
        # reports the worker's result; the user's database stays.
        database = os.path.join(unix, "data", "orvalo.db")
        with open(database, "wb") as f:
            f.write(b"SQLite format 3\x00 trades")
        self.assertEqual(self.quiet_uninstall(), 0)
        self.assertEqual(read(database), b"SQLite format 3\x00 trades")
        self.assertEqual(sorted(os.listdir(unix)), ["data"])
        self.assertEqual(registry_values(), {})
        self.assertIn("由临时卸载程序继续", log_text())

    def test_removal_with_purge_leaves_nothing(self):
        folder, unix = install_folder("purge")
        self.assertEqual(self.install("--accept-agreement", "--dir", folder, "--no-launch"), 0)
        os.makedirs(os.path.join(unix, "data"), exist_ok=True)
        with open(os.path.join(unix, "data", "orvalo.db"), "wb") as f:
            f.write(b"SQLite format 3\x00")
        self.assertEqual(self.quiet_uninstall("--purge-data"), 0)
        self.assertFalse(os.path.exists(unix))
        self.assertFalse(os.path.exists(os.path.join(HOME, "Orvalo量化.lnk")))

    def test_removal_that_leaves_a_file_behind_exits_3(self):
        folder, unix = install_folder("held")
        self.assertEqual(self.install("--accept-agreement", "--dir", folder, "--no-launch", "--no-shortcut"), 0)
        # Another program, running from elsewhere, keeps a file of the installation open.
        holder = subprocess.Popen([WINE_RUN, os.path.join(BIN, "hold_file.exe"), folder + "\\readme.txt"],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            time.sleep(2)
            self.assertEqual(self.quiet_uninstall(), 3)
            self.assertTrue(os.path.exists(os.path.join(unix, "readme.txt")))
            self.assertFalse(os.path.exists(os.path.join(unix, "Orvalo.exe")))
        finally:
            end_programs("hold_file.exe")
            holder.wait(timeout=30)

    def test_a_repair_with_an_index_fetches_only_the_damaged_files(self):
        """Installing the installed version again compares the files with the package's index and
        fetches only the entries of the changed, truncated and deleted ones, by range."""
        files = [("OrvaloTrader/Orvalo.exe", read(os.path.join(BIN, "Orvalo.exe")))]
        # Larger than the gap below which neighbours are fetched together, and incompressible.
        files += [(f"OrvaloTrader/lib/part{i}.bin", random.Random(i).randbytes(100000)) for i in range(8)]
        files.append(("OrvaloTrader/readme.txt", b"Orvalo repair test\n"))
        digest = self.site.write_zip("main.zip", files)
        index = make_site.write_index(os.path.join(self.site.root, "download", "main.zip"))
        main = "[main]\nurl=" + self.site.nginx + "/download/main.zip"
        self.site.edit_manifest(lambda text: re.sub(r"(\[main\]\r?\n(?:.+\n)*?)sha256=\w+", lambda m: m.group(1) + (
            f"sha256={digest}\nindex={self.site.nginx}/download/main.zip.index\nindex_sha256={index}"), text))
        self.assertIn("index_sha256=" + index, read(self.site.manifest_path).decode())
        folder, unix = install_folder("repair")
        args = ("--accept-agreement", "--dir", folder, "--no-shortcut", "--no-launch")
        self.assertEqual(self.install(*args), 0)

        with open(os.path.join(unix, "readme.txt"), "wb") as f:
            f.write(b"Orvalo repair TEST\n")
        with open(os.path.join(unix, "lib", "part2.bin"), "r+b") as f:
            f.truncate(5000)
        os.remove(os.path.join(unix, "lib", "part5.bin"))
        before = len(self.site.nginx_log())
        self.assertEqual(self.install(*args), 0)

        for name, data in files:
            self.assertEqual(read(os.path.join(unix, name.split("/", 1)[1])), data, name)
        requests = [r for r in self.site.nginx_log()[before:] if r[1].endswith("/main.zip")]
        self.assertTrue(requests)
        ranges = [r[2] for r in requests if r[2] != "bytes=0-0"]
        self.assertNotIn("-", ranges)  # never the whole package
        fetched = sum(int(b) - int(a) + 1 for a, b in (r[len("bytes="):].split("-") for r in ranges))
        self.assertLess(fetched, 2 * 100000 + 3 * 2048 + 100)
        self.assertNotIn("改为下载整个安装包", log_text())

    def test_nothing_is_installed_without_accepting_the_agreement(self):
        folder, unix = install_folder("refused")
        self.assertEqual(self.install("--dir", folder), 1)
        self.assertFalse(os.path.exists(unix))
        self.assertEqual(registry_values(), {})
        self.assertIn("--accept-agreement", log_text())
        # Nor when the log asked for cannot be written.
        code, _ = wine(SETUP, "--silent", "--accept-agreement", "--dir", folder, "--base", self.site.nginx,
                       "--log", "C:\\e2e\\no such folder\\x.log", timeout=60)
        self.assertEqual(code, 1)
        self.assertFalse(os.path.exists(unix))

    def test_folder_with_other_files_is_refused(self):
        folder, unix = install_folder("foreign")
        os.makedirs(unix)
        with open(os.path.join(unix, "editor.exe"), "wb") as f:
            f.write(b"MZ")
        self.assertEqual(self.install("--accept-agreement", "--dir", folder), 1)
        self.assertEqual(os.listdir(unix), ["editor.exe"])
        self.assertIn("安装目录不可用", log_text())

    def test_digest_mismatch_exits_2_with_nothing_half_installed(self):
        def spoil(text):
            start = text.index("[main]")
            line = next(l for l in text[start:].splitlines() if l.startswith("sha256="))
            return text.replace(line, "sha256=" + "0" * 64, 1)

        self.site.edit_manifest(spoil)
        folder, unix = install_folder("digest")
        self.assertEqual(self.install("--accept-agreement", "--dir", folder, "--no-launch"), 2)
        self.assertFalse(os.path.exists(os.path.join(unix, "Orvalo.exe")))
        self.assertEqual(registry_values(), {})
        self.assertEqual([n for n in os.listdir(TEMP_UNIX) if n.startswith("QVSetup_")], [])
        self.assertIn("安装失败：主程序SHA256 校验失败（文件不完整或被篡改）（退出码 2）", log_text())

    def test_release_redirected_to_another_port_installs(self):
        # Every address of the release, the manifest's own included, answers 302 to nginx.
        self.site.build(base=self.site.fault)
        nginx = "http://127.0.0.1:%s" % servers_env()["http_port"]
        self.site.set_fault_rules('{"rules": [{"redirect": 302, "location": "%s{path}"}]}' % nginx)
        folder, unix = install_folder("redirect")
        self.assertEqual(self.install("--accept-agreement", "--dir", folder, "--no-shortcut", "--no-launch",
                                      base=self.site.fault), 0)
        self.assertTrue(os.path.isfile(os.path.join(unix, "Orvalo.exe")))
        # Every request met the redirect and was sent again to nginx, ranges and all; each
        # package's body came only from there, on the address its probe had reached.
        redirected, final = self.site.fault_log(), self.site.nginx_log()
        self.assertTrue(redirected)
        for request in redirected:
            self.assertIn(request, final)
        for name in ("deps.zip", "quotes.zip", "main.zip"):
            body = ["GET", "/%s/download/%s" % (self.site.name, name), "-"]
            self.assertNotIn(body, redirected)
            self.assertIn(body, final)

    def install_signed(self, tag):
        """Runs the build with the tests' keys; returns its exit code and the install folder's Unix path."""
        folder, unix = install_folder(tag)
        code, _ = wine(SIGNED_SETUP, "--silent", "--accept-agreement", "--dir", folder, "--no-shortcut", "--no-launch",
                       "--base", self.site.nginx, "--log", LOG, timeout=180)
        return code, unix

    def publish(self, text, key="release_test"):
        self.site.edit_manifest(lambda _: text)
        self.site.sign_manifest(key)

    def test_a_build_with_a_release_key_installs_only_a_signed_release(self):
        forget_release_serial()
        self.site.edit_manifest(lambda text: text + "[release]\r\nexpires=2999-12-31\r\nserial=1\r\n")
        self.site.sign_manifest()
        code, unix = self.install_signed("signed")
        self.assertEqual(code, 0, log_text())
        self.assertTrue(os.path.isfile(os.path.join(unix, "Orvalo.exe")))

        # One byte changed after signing: refused before anything is downloaded.
        self.site.edit_manifest(lambda text: text.replace("expires=2999-12-31", "expires=2999-12-30"))
        code, unix = self.install_signed("tampered")
        self.assertEqual(code, 2)
        self.assertIn("获取版本清单失败：版本清单签名无效", log_text())
        self.assertFalse(os.path.exists(unix))

    def test_a_component_named_like_the_main_package_installs_beside_it(self):
        # Its label is the main package's; its download must still be a file of its own while the
        # main package downloads and the component unpacks.
        digest = self.site.write_zip("same_label.zip", [("same_label.txt", b"component\n")])
        with open(self.site.manifest_path, encoding="ascii", newline="") as f:
            text = f.read()
        text = text.replace("[main]", f"[主程序]\r\nurl={self.site.nginx}/download/same_label.zip\r\n"
                                      f"sha256={digest}\r\nversion=7\r\n[main]", 1)
        with open(self.site.manifest_path, "wb") as f:
            f.write(b"\xff\xfe" + text.encode("utf-16-le"))
        folder, unix = install_folder("same_label")
        self.assertEqual(self.install("--accept-agreement", "--dir", folder, "--no-shortcut", "--no-launch"), 0,
                         log_text())
        self.assertEqual(read(os.path.join(unix, "same_label.txt")), b"component\n")
        self.assertEqual(read(os.path.join(unix, "Orvalo.exe")), read(os.path.join(BIN, "Orvalo.exe")))
        self.assertEqual(read(os.path.join(unix, "update", "_主程序.done")), b"7")

    def test_releases_signed_with_either_key_are_taken_and_never_an_older_one(self):
        forget_release_serial()
        original = read(self.site.manifest_path).decode("ascii")
        quotes = re.search(r"\[quotes\]\r\n(?:[^\[]*\r\n)", original).group(0)

        def release(serial, text=original):
            return text + f"[release]\r\nexpires=2999-12-31\r\nserial={serial}\r\n"

        # Sections that differ only in letter case: refused before any package is asked for.
        self.publish(release(20, original + quotes.replace("[quotes]", "[QUOTES]")))
        code, unix = self.install_signed("twice")
        self.assertEqual(code, 2)
        self.assertIn("安装失败：获取版本清单失败：版本清单中的组件重复：QUOTES", log_text())
        self.assertEqual([r for r in self.site.nginx_log() if ".zip" in r[1]], [])

        # A signed CDN address of 1500 characters, in a release signed with the second key.
        main = f"{self.site.nginx}/download/main.zip"
        long_main = main + "?token=" + "x" * (1500 - len(main) - 7)
        self.publish(release(20, original.replace(main, long_main)), key="release_test2")
        code, unix = self.install_signed("long")
        self.assertEqual(code, 0, log_text())
        self.assertTrue(os.path.isfile(os.path.join(unix, "Orvalo.exe")))
        self.assertIn(long_main.split("/", 3)[3], [r[1].lstrip("/") for r in self.site.nginx_log()])
        self.assertEqual(remembered_release_serial(), 20)

        # An older release, though signed and not expired, is refused; a newer one is taken.
        self.publish(release(19))
        code, unix = self.install_signed("older")
        self.assertEqual(code, 2)
        self.assertIn("安装失败：获取版本清单失败：版本清单已过时", log_text())
        self.assertFalse(os.path.exists(unix))
        self.publish(release(21))
        self.assertEqual(self.install_signed("newer")[0], 0, log_text())
        self.assertEqual(remembered_release_serial(), 21)

    def test_second_install_is_refused_and_closing_the_first_cancels_it(self):
        self.site.build(base=self.site.fault)
        # The first install stops at the size probe of the main package, which gets no answer.
        self.site.set_fault_rules('{"rules": [{"silent": 60, "when": {"path_suffix": "main.zip"}}]}')
        folder, unix = install_folder("first")
        first = subprocess.Popen([WINE_RUN, SETUP, "--silent", "--accept-agreement", "--dir", folder, "--no-launch",
                                  "--base", self.site.fault, "--log", "C:\\e2e\\first.log"],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(wait_until(lambda: os.path.exists(unix_path("C:\\e2e\\first.log")) and
                                       "获取版本信息" in read(unix_path("C:\\e2e\\first.log")).decode("utf-8"), 60))
            second, _ = install_folder("second")
            self.assertEqual(self.install("--accept-agreement", "--dir", second, base=self.site.fault), 1)
            self.assertIn("另一个 OrvaloTrader 安装正在进行", log_text())
            # The wizard says so in a box and starts nothing.
            wizard = Setup(self.site.nginx)
            wizard.accept_agreement()
            driver("settext", "OrvaloSetupWizardWnd", "2004", second)
            driver("click", "OrvaloSetupWizardWnd", "2011")
            code, text = driver("answer", "OrvaloTrader 安装", "ok", "10000")
            self.assertEqual((code, text.strip()), (0, "另一个 OrvaloTrader 安装正在进行，请等它结束后再安装。"))
            self.assertEqual(wizard.text(2011), "开始安装")
            # A close request, as a task manager or a log-off sends it, cancels the first (and
            # closes the idle wizard).
            wine("taskkill", "/im", "OrvaloSetup.exe")
            self.assertEqual(first.wait(timeout=60), 4)
        finally:
            if first.poll() is None:
                first.kill()
        self.assertEqual(registry_values(), {})


if __name__ == "__main__":
    unittest.main()
