"""DLLs planted where the setup runs: a dxgi.dll and a winhttp.dll of ours
lie beside the downloaded setup, in the install folder and in the temporary folder where the
upgrade helper and the uninstall worker run, and Wine is told to prefer such native copies. Each
writes a marker when any process loads it. The real program installs, upgrades and uninstalls;
not one marker may appear."""
import os
import shutil
import subprocess
import unittest
import uuid

from e2e import (BIN, BUILD, TEMP_UNIX, WINE_RUN, WIZARD, Site, close_client,
                 delete_registration, driver, end_programs, unix_path, wait_until)

PLANTED = os.path.join(BUILD, "planted")
NAMES = os.environ["ORVALO_PLANTED_DLLS"].split(",")
UPGRADE_WINDOW = "OrvaloSetupUpgradeWnd"
UNINSTALL_CAPTION = "Orvalo量化 卸载"


class PlantedDlls(unittest.TestCase):
    def setUp(self):
        end_programs("OrvaloSetup.exe", "OrvaloSetup_helper.exe")
        close_client()
        delete_registration()
        self.root_windows = "C:\\e2e\\planted_" + uuid.uuid4().hex[:8]
        self.root = unix_path(self.root_windows)
        self.markers_windows = self.root_windows + "\\markers"
        self.markers = unix_path(self.markers_windows)
        self.downloads = os.path.join(self.root, "Downloads")
        os.makedirs(self.markers)
        os.makedirs(self.downloads)
        shutil.copy(os.path.join(BIN, "OrvaloSetup.exe"), self.downloads)
        self.plant(self.downloads)
        self.plant(TEMP_UNIX)
        self.site = Site().build()
        self.processes = []

    def tearDown(self):
        for p in self.processes:
            if p.poll() is None:
                p.kill()
        end_programs("OrvaloSetup.exe", "OrvaloSetup_helper.exe")
        close_client()
        for name in NAMES:
            path = os.path.join(TEMP_UNIX, name + ".dll")
            if os.path.exists(path):
                os.remove(path)
        self.site.remove()
        delete_registration()
        shutil.rmtree(self.root, ignore_errors=True)

    def plant(self, folder):
        for name in NAMES:
            shutil.copy(os.path.join(PLANTED, name + ".dll"), folder)

    def environment(self):
        env = dict(os.environ)
        env["WINEDLLOVERRIDES"] = ",".join(NAMES) + "=n,b;mscoree,mshtml=;winemenubuilder.exe=d"
        env["ORVALO_PLANTED_MARKERS"] = self.markers_windows
        return env

    def start(self, *args):
        p = subprocess.Popen([WINE_RUN, *args], env=self.environment(), stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(p)
        return p

    def loaded(self):
        return sorted(os.listdir(self.markers))

    def test_no_planted_dll_is_loaded(self):
        # The planted DLLs work: loaded by their path, one leaves its marker.
        self.start("rundll32.exe", self.root_windows + "\\Downloads\\dxgi.dll,Probe").wait(60)
        self.assertEqual(self.loaded(), ["dxgi.dll.loaded"])
        os.remove(os.path.join(self.markers, "dxgi.dll.loaded"))

        # The downloaded setup: its options page (the graphics adapter is looked at when the
        # window is made), then an install over HTTP with digest checks.
        install_windows = self.root_windows + "\\OrvaloTrader"
        install = unix_path(install_windows)
        self.start(self.root_windows + "\\Downloads\\OrvaloSetup.exe", "--base", self.site.nginx)
        self.assertEqual(driver("wait", WIZARD, "30000")[0], 0, "the wizard did not open")
        driver("click", WIZARD, "2015")
        driver("click", WIZARD, "2017")
        self.assertEqual(driver("waittext", WIZARD, "2011", "开始安装", "10000")[0], 0,
                         "the options page is not up")
        driver("settext", WIZARD, "2004", install_windows)
        driver("click", WIZARD, "2011")
        self.assertEqual(driver("waittext", WIZARD, "2008", "安装完成", "180000")[0], 0,
                         driver("text", WIZARD, "2008")[1])
        driver("gone", WIZARD, "30000")
        close_client()
        self.assertEqual(self.loaded(), [])

        # The installed client starts an upgrade: the helper copy in the temporary folder fetches
        # a package and puts it in place.
        self.plant(install)
        digest = self.site.write_zip("planted_extra.zip", [("extra.txt", b"from the upgrade")])
        self.start(install_windows + "\\OrvaloSetup.exe", "--apply", "--url",
                   self.site.nginx + "/download/planted_extra.zip", "--sha256", digest,
                   "--version", "9.9", "--dest", "extra", "--exe", install_windows + "\\Orvalo.exe",
                   "--launch", "0").wait(60)
        self.assertEqual(driver("wait", UPGRADE_WINDOW, "30000")[0], 0, "the helper did not open")
        self.assertEqual(driver("waittext", UPGRADE_WINDOW, "3001", "升级完成", "120000")[0], 0,
                         driver("text", UPGRADE_WINDOW, "3001")[1])
        driver("gone", UPGRADE_WINDOW, "30000")
        self.assertTrue(os.path.isfile(os.path.join(install, "extra", "extra.txt")))
        self.assertEqual(self.loaded(), [])

        # The registered uninstall: the install folder's copy hands over to the worker in the
        # temporary folder, whose file the system shell deletes after its end.
        self.start(install_windows + "\\OrvaloSetup.exe", "--uninstall")
        self.assertEqual(driver("answer", UNINSTALL_CAPTION, "yes", "30000")[0], 0)
        self.assertEqual(driver("answer", UNINSTALL_CAPTION, "no", "30000")[0], 0)
        code, text = driver("answer", UNINSTALL_CAPTION, "ok", "60000")
        self.assertEqual(code, 0)
        self.assertIn("已卸载", text)
        helper = os.path.join(TEMP_UNIX, "OrvaloSetup_helper.exe")
        self.assertTrue(wait_until(lambda: not os.path.exists(helper), 30), "the worker was not deleted")
        # The user's databases are kept (the answer was no), the program is gone.
        self.assertFalse(os.path.exists(os.path.join(install, "Orvalo.exe")))
        self.assertFalse(os.path.exists(os.path.join(install, "OrvaloSetup.exe")))
        self.assertEqual(self.loaded(), [])


if __name__ == "__main__":
    unittest.main()
