"""The online install end to end: the real OrvaloSetup.exe under Wine, driven through its wizard
by ui_driver.exe against the loopback servers, checked on disk and in the registry."""
import os
import time
import unittest

from e2e import (BIN, HOME, TEMP_UNIX, Setup, Site, close_client, delete_registration, driver, end_programs,
                 install_folder, read, registry_values, wait_until)

AGREEMENT = os.path.join(os.path.dirname(BIN), "..", "resources", "agreement.txt")


def requested_files(log):
    """Package files asked for with a plain GET of the whole file, in order."""
    return [line[1].rsplit("/", 1)[-1] for line in log
            if line[0] == "GET" and line[2] == "-" and line[1].endswith(".zip")]


class InstallEndToEnd(unittest.TestCase):
    def setUp(self):
        end_programs("OrvaloSetup.exe")
        close_client()
        delete_registration()
        self.site = Site(version="1.2.3 beta2").build()
        self.setup = None

    def tearDown(self):
        if self.setup:
            self.setup.close()
        close_client()
        self.site.remove()
        delete_registration()

    def start(self, base=None, server_agreement=False):
        self.setup = Setup(base or self.site.nginx)
        self.setup.accept_agreement(server_agreement)
        return self.setup

    def test_full_install(self):
        folder, unix = install_folder("full")
        setup = self.start(server_agreement=True)
        status = setup.install(folder)
        self.assertEqual(status, "安装完成，主程序已启动。")
        self.assertEqual(setup.text(2033), "安装包 3/3")
        self.assertEqual(setup.wait_exit(), 0)
        self.setup = None

        # Packages in order, each fetched once as a whole.
        self.assertEqual(requested_files(self.site.nginx_log()), ["deps.zip", "quotes.zip", "main.zip"])
        for name in ("Orvalo.exe", "readme.txt", "runtime/orvalo_runtime.txt", "config/default.json",
                     "data/quotes/README.txt"):
            self.assertTrue(os.path.isfile(os.path.join(unix, name)), name)
        self.assertEqual(read(os.path.join(unix, "channel.ini")), b"[Channel]\nid=\nref=\n")
        markers = {name: read(os.path.join(unix, "update", name)) for name in os.listdir(os.path.join(unix, "update"))}
        self.assertEqual(markers, {"_agreement.done": b"demo-1.2.3 beta2", "_component.done": b"1.2.3 beta2",
                                   "_quotes.done": b"1.2.3 beta2", "_update.done": b"1.2.32"})
        self.assertEqual(read(os.path.join(unix, "legal", "agreement_install.txt")),
                         read(os.path.join(self.site.root, "legal", "agreement.txt")))
        self.assertEqual(read(os.path.join(unix, "OrvaloSetup.exe")), read(os.path.join(BIN, "OrvaloSetup.exe")))
        self.assertEqual(registry_values(), {
            "DisplayName": ("REG_SZ", "Orvalo量化"),
            "DisplayVersion": ("REG_SZ", "1.2.3 beta2"),
            "Publisher": ("REG_SZ", "OrvaloTrader"),
            "DisplayIcon": ("REG_SZ", folder + "\\Orvalo.exe"),
            "InstallLocation": ("REG_SZ", folder),
            "UninstallString": ("REG_SZ", f'"{folder}\\OrvaloSetup.exe" --uninstall'),
            "QuietUninstallString": ("REG_SZ", f'"{folder}\\OrvaloSetup.exe" --uninstall --silent'),
            "NoModify": ("REG_DWORD", "0x1"),
            "NoRepair": ("REG_DWORD", "0x1"),
        })
        code, target = driver("linktarget", os.path.join("Z:" + HOME, "Orvalo量化.lnk").replace("/", "\\"))
        self.assertEqual((code, target.strip()), (0, folder + "\\Orvalo.exe"))
        self.assertEqual(driver("wait", "OrvaloDemoClientWnd", "30000")[0], 0, "the client was started")
        # Nothing of the install is left in the temporary folder.
        self.assertEqual([n for n in os.listdir(TEMP_UNIX) if n.startswith("QVSetup_")], [])

    def test_second_install_keeps_the_users_files(self):
        folder, unix = install_folder("again")
        status = self.start().install(folder)
        self.assertTrue(status.startswith("安装完成"), status)
        self.setup.wait_exit()
        close_client()
        agreement = os.path.join(unix, "legal", "agreement_install.txt")
        setup_copy = os.path.join(unix, "OrvaloSetup.exe")
        database = os.path.join(unix, "data", "orvalo.db")
        for path, content in ((agreement, b"accepted earlier"), (setup_copy, b"older setup"),
                              (database, b"SQLite format 3\x00 the user's trades"),
                              (os.path.join(unix, "update", "_update.done"), b"0.9"),
                              (os.path.join(unix, "channel.ini"), b"[Channel]\nid=old\n")):
            with open(path, "wb") as f:
                f.write(content)

        # The second run keeps the user's data but rewrites the program's files: its own setup
        # becomes the installation's copy, and the agreement copy is the text the wizard had up
        # (a repair opens on the options page: the built-in one) with its version.
        status = self.start().install(folder)
        self.assertTrue(status.startswith("安装完成"), status)
        self.setup.wait_exit()
        self.assertEqual(read(agreement), read(AGREEMENT))
        self.assertEqual(read(os.path.join(unix, "update", "_agreement.done")), b"builtin")
        self.assertEqual(read(setup_copy), read(os.path.join(BIN, "OrvaloSetup.exe")))
        self.assertEqual(read(database), b"SQLite format 3\x00 the user's trades")
        self.assertEqual(read(os.path.join(unix, "update", "_update.done")), b"1.2.32")
        self.assertEqual(read(os.path.join(unix, "channel.ini")), b"[Channel]\nid=\nref=\n")

    def test_folder_with_other_files_is_refused(self):
        folder, unix = install_folder("foreign")
        os.makedirs(unix)
        with open(os.path.join(unix, "editor.exe"), "wb") as f:
            f.write(b"MZ someone else's program")
        self.start()
        driver("settext", "OrvaloSetupWizardWnd", "2004", folder)
        driver("click", "OrvaloSetupWizardWnd", "2011")
        code, text = driver("answer", "OrvaloTrader 安装", "ok", "10000")
        self.assertEqual(code, 0)
        self.assertIn("不为空", text)
        self.assertIn(folder, text)
        self.assertEqual(os.listdir(unix), ["editor.exe"])
        self.assertEqual(self.setup.text(2011), "开始安装")

    def test_failed_repair_keeps_the_installed_file(self):
        """A package that is not a zip replaces the installed file only once it has arrived whole."""
        folder, unix = install_folder("repair")
        self.site.build(base=self.site.fault)
        with open(os.path.join(self.site.root, "download", "tool.dat"), "wb") as f:
            f.write(b"tool version 1")

        def tool_package(text):
            start = text.index("[quotes]")
            end = text.index("[main]")
            section = f"[quotes]\nurl={self.site.fault}/download/tool.dat\nversion=1\nfilename=tool.dat\n\n"
            return text[:start] + section + text[end:]

        self.site.edit_manifest(tool_package)
        self.assertEqual(self.start(self.site.fault).install(folder), "安装完成，主程序已启动。")
        self.setup.wait_exit()
        close_client()
        self.assertEqual(read(os.path.join(unix, "tool.dat")), b"tool version 1")

        self.site.set_fault_rules('{"rules": [{"status": 500, "when": {"path_suffix": "tool.dat"}}]}')
        status = self.start(self.site.fault).install(folder)
        self.assertTrue(status.startswith("安装失败：下载quotes失败："), status)
        self.assertEqual(read(os.path.join(unix, "tool.dat")), b"tool version 1")
        self.assertFalse(os.path.exists(os.path.join(unix, "tool.dat.download")))

    def test_digest_mismatch_then_retry(self):
        folder, unix = install_folder("digest")
        good = None

        def spoil(text):
            nonlocal good
            start = text.index("[main]")
            line = next(l for l in text[start:].splitlines() if l.startswith("sha256="))
            good = line
            return text.replace(line, "sha256=" + "0" * 64, 1)

        self.site.edit_manifest(spoil)
        setup = self.start()
        self.assertEqual(setup.install(folder), "安装失败：主程序SHA256 校验失败（文件不完整或被篡改）")
        self.assertFalse(os.path.exists(os.path.join(TEMP_UNIX, "QVSetup_main.zip")))
        self.assertEqual(setup.text(2011), "重试安装")
        self.site.edit_manifest(lambda text: text.replace("sha256=" + "0" * 64, good))
        self.assertEqual(setup.install(), "安装完成，主程序已启动。")

    def test_interrupted_download_resumes_on_retry(self):
        folder, unix = install_folder("resume")
        self.site.build(base=self.site.fault)
        # The first whole-file request of the main package breaks off after 40000 bytes.
        self.site.set_fault_rules('{"rules": [{"drop_after": 40000, "times": 1,'
                                  ' "when": {"range": "none", "path_suffix": "main.zip"}}]}')
        setup = self.start(self.site.fault)
        status = setup.install(folder)
        self.assertTrue(status.startswith("安装失败：下载主程序失败："), status)
        self.assertTrue(os.path.exists(os.path.join(TEMP_UNIX, "QVSetup_main.zip.part")), self.site.fault_log())
        self.assertEqual(setup.install(), "安装完成，主程序已启动。")
        ranges = [line[2] for line in self.site.fault_log() if line[1].endswith("main.zip") and line[0] == "GET"]
        self.assertIn("bytes=40000-", ranges)

    def test_cancel_during_download_leaves_no_partial_files(self):
        folder, unix = install_folder("cancel")
        self.site.build(base=self.site.fault)
        self.site.set_fault_rules('{"rules": [{"chunk": [16384, 0.2],'
                                  ' "when": {"range": "none", "path_suffix": "main.zip"}}]}')
        setup = self.start(self.site.fault)
        driver("settext", "OrvaloSetupWizardWnd", "2004", folder)
        driver("click", "OrvaloSetupWizardWnd", "2011")
        self.assertEqual(driver("waittext", "OrvaloSetupWizardWnd", "2008", "正在下载主程序", "60000")[0], 0)
        driver("click", "OrvaloSetupWizardWnd", "2010")
        code, text = driver("answer", "OrvaloTrader 安装", "yes", "10000")
        self.assertEqual(text.strip(), "确定取消安装？未完成的下载将被清理。")
        self.assertEqual(setup.wait_end(), "安装失败：已取消", self.site.fault_log())
        leftovers = [n for n in os.listdir(TEMP_UNIX) if n.startswith("QVSetup_main")]
        self.assertEqual(leftovers, [])

    def test_cancel_while_the_server_keeps_silent_is_prompt(self):
        folder, unix = install_folder("silent")
        self.site.build(base=self.site.fault)
        # The size probe of the main package gets a connection and never an answer.
        self.site.set_fault_rules('{"rules": [{"silent": 60, "when": {"path_suffix": "main.zip"}}]}')
        setup = self.start(self.site.fault)
        driver("settext", "OrvaloSetupWizardWnd", "2004", folder)
        driver("click", "OrvaloSetupWizardWnd", "2011")
        self.assertEqual(driver("waittext", "OrvaloSetupWizardWnd", "2008", "正在获取安装包信息", "60000")[0], 0)
        time.sleep(0.5)
        driver("click", "OrvaloSetupWizardWnd", "2010")
        driver("answer", "OrvaloTrader 安装", "yes", "10000")
        asked = time.monotonic()
        self.assertEqual(setup.wait_end(), "安装失败：已取消")
        self.assertLess(time.monotonic() - asked, 5)  # not the network time-out of a minute

    def test_manifest_without_deps(self):
        self.site.edit_manifest(lambda text: text.replace("[deps]", "[old_deps]"))
        folder, unix = install_folder("nodeps")
        self.assertEqual(self.start().install(folder), "安装失败：服务器清单缺少主程序或依赖包配置（manifest.ini）")

    def test_main_program_found_by_name_or_missing(self):
        client = read(os.path.join(BIN, "Orvalo.exe"))
        digest = self.site.write_zip("main.zip", [("OrvaloTrader/OrvaloTrader64.exe", client)])
        self.site.edit_manifest(lambda text: replace_digest(text, "main", digest))
        folder, unix = install_folder("found")
        self.assertEqual(self.start().install(folder), "安装完成，主程序已启动。")
        self.setup.wait_exit()
        self.assertEqual(registry_values()["DisplayIcon"][1], folder + "\\OrvaloTrader64.exe")
        close_client()

        digest = self.site.write_zip("main.zip", [("OrvaloTrader/tool.exe", b"MZ")])
        self.site.edit_manifest(lambda text: replace_digest(text, "main", digest))
        delete_registration()
        folder, unix = install_folder("missing")
        self.assertEqual(self.start().install(folder), "安装失败：安装完成，但未在安装目录找到主程序（Orvalo.exe）")
        self.assertEqual(registry_values(), {})

    def test_names_from_the_server_must_be_plain_file_names(self):
        self.site.edit_manifest(lambda text: text.replace("[quotes]", "[..\\..\\evil]"))
        folder, unix = install_folder("unsafe")
        self.assertEqual(self.start().install(folder), "安装失败：服务器清单包含非法文件名：..\\..\\evil")
        self.assertFalse(os.path.exists(unix))

        self.site.edit_manifest(lambda text: text.replace("[..\\..\\evil]", "[quotes]").replace(
            "exe=Orvalo.exe", "filename=..\\..\\x.exe\nexe=Orvalo.exe"))
        self.assertEqual(self.setup.install(), "安装失败：服务器清单包含非法文件名：..\\..\\x.exe")


def replace_digest(text, section, digest):
    lines = text.split("\n")
    current = None
    for i, line in enumerate(lines):
        if line.startswith("["):
            current = line.strip().strip("[]")
        elif current == section and line.startswith("sha256="):
            lines[i] = "sha256=" + digest + ("\r" if line.endswith("\r") else "")
    return "\n".join(lines)


if __name__ == "__main__":
    unittest.main()
