"""What the end-to-end tests share: the build tree's Wine prefix, the UI driver, the loopback
servers of the CTest fixture, demo sites made for a test, and the real OrvaloSetup.exe.

Environment (set by CTest): ORVALO_BUILD (build tree), ORVALO_SERVERS (state folder of the
servers fixture)."""
import os
import shutil
import subprocess
import sys
import time
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "demo", "server"))
import make_site  # noqa: E402  (the demo server's own builder)

BUILD = os.environ["ORVALO_BUILD"]
SERVERS = os.environ["ORVALO_SERVERS"]
BIN = os.path.join(BUILD, "bin")
WINE_RUN = os.path.join(BUILD, "wine-run")
PREFIX = os.path.join(BUILD, "wineprefix")
HOME = os.path.join(BUILD, "winehome")
USER = os.environ.get("USER", "root")
TEMP_UNIX = os.path.join(PREFIX, "drive_c", "users", USER, "Temp")  # Wine's %TEMP%
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvaloTrader"
RELEASE_SERIAL_KEY = r"HKCU\Software\OrvaloTrader"
WIZARD = "OrvaloSetupWizardWnd"
CLIENT = "OrvaloDemoClientWnd"


def wine(*args, timeout=120, check=False):
    """Runs a Windows program; returns (exit code, stdout decoded as UTF-8 or GBK)."""
    p = subprocess.run([WINE_RUN, *args], stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    try:
        out = p.stdout.decode("utf-8")
    except UnicodeDecodeError:
        out = p.stdout.decode("gbk", errors="replace")
    if check and p.returncode != 0:
        raise AssertionError(f"{args} failed with {p.returncode}: {out}")
    return p.returncode, out.replace("\r", "")


def driver(*args, timeout=240):
    return wine(os.path.join(BIN, "ui_driver.exe"), *args, timeout=timeout)


def unix_path(windows_path):
    """C:\\a\\b -> the prefix's Unix path."""
    drive, rest = windows_path[0].lower(), windows_path[2:].replace("\\", "/").lstrip("/")
    if drive == "z":
        return "/" + rest
    return os.path.join(PREFIX, "drive_c", rest) if drive == "c" else None


def servers_env():
    env = {}
    with open(os.path.join(SERVERS, "servers.env")) as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            env[key] = value
    return env


class Site:
    """A demo site of its own below the servers' document root, reachable through nginx or
    through the fault server (same files)."""

    def __init__(self, version="1.0.0"):
        self.name = "e2e_" + uuid.uuid4().hex[:10]
        self.root = os.path.join(SERVERS, "www", self.name)
        env = servers_env()
        self.nginx = f"http://127.0.0.1:{env['http_port']}/{self.name}"
        self.fault = f"http://127.0.0.1:{env['fault_port']}/{self.name}"
        self.version = version

    def build(self, base=None):
        make_site.build(self.root, base or self.nginx, os.path.join(BIN, "Orvalo.exe"),
                        os.path.join(ROOT, "resources", "agreement.txt"), self.version)
        return self

    @property
    def manifest_path(self):
        return os.path.join(self.root, "download", "manifest.ini")

    def edit_manifest(self, fn):
        with open(self.manifest_path, encoding="ascii", newline="") as f:
            text = f.read()
        with open(self.manifest_path, "w", encoding="ascii", newline="") as f:
            f.write(fn(text))

    def sign_manifest(self, key="release_test"):
        """Signs the manifest as it stands with one of the tests' keys (tests/support/KEY.key), as
        the vendor's release tool does."""
        private = "Z:" + os.path.join(ROOT, "tests", "support", key + ".key").replace("/", "\\")
        manifest = "Z:" + self.manifest_path.replace("/", "\\")
        wine(os.path.join(BIN, "orvalo-tool.exe"), "sign", manifest, private, check=True)

    def write_zip(self, name, files):
        make_site.write_zip(os.path.join(self.root, "download", name), files)
        return make_site.sha256(os.path.join(self.root, "download", name))

    def set_fault_rules(self, rules_json):
        os.makedirs(os.path.join(SERVERS, "rules"), exist_ok=True)
        with open(os.path.join(SERVERS, "rules", self.name + ".json"), "w") as f:
            f.write(rules_json)

    def fault_log(self):
        path = os.path.join(SERVERS, "logs", self.name + ".log")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return [line.rstrip("\n").split("\t") for line in f if line.strip()]

    def nginx_log(self):
        with open(os.path.join(SERVERS, "logs", "nginx-access.log")) as f:
            return [line.rstrip("\n").split("\t") for line in f if f"/{self.name}/" in line]

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)


class Setup:
    """OrvaloSetup.exe running the wizard in the background."""

    def __init__(self, base):
        self.log_start = arrivals_logged()
        self.process = subprocess.Popen([WINE_RUN, os.path.join(BIN, "OrvaloSetup.exe"), "--base", base],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        code, _ = driver("wait", WIZARD, "30000")
        if code != 0:
            raise AssertionError("the wizard did not open")

    def accept_agreement(self, server_agreement=False):
        """Agrees and goes on. With server_agreement, first waits until the server's agreement is
        on the page (the setup's debug log tells): one accepted before it arrives leaves "builtin"
        as the version the install records."""
        if server_agreement and not wait_until(lambda: arrivals_logged() > self.log_start, 30):
            raise AssertionError("the server's agreement did not arrive")
        self.click_until(2015, lambda: self.state(2015)[2] == "1")
        self.click_until(2017, lambda: self.state(2017)[0] == "0")

    def state(self, control_id):
        """(visible, enabled, checked) of a control, each "1" or "0"."""
        return (driver("state", WIZARD, str(control_id))[1].split() + ["", "", ""])[:3]

    def click_until(self, control_id, done, timeout=30):
        """Clicks the control until done() holds: on a loaded machine a posted click is now and
        then lost, and a click that does nothing would leave the test waiting for its time-out."""
        end = time.time() + timeout
        while time.time() < end:
            driver("click", WIZARD, str(control_id))
            if wait_until(done, 5):
                return
        raise AssertionError(f"clicking control {control_id} had no effect")

    def text(self, control_id):
        return driver("text", WIZARD, str(control_id))[1].rstrip("\n")

    def install(self, folder=None, timeout=180):
        """Starts the install (into folder, when given) and returns the status line once the job
        has ended, successfully or not."""
        if folder is not None:
            driver("settext", WIZARD, "2004", folder)
        driver("click", WIZARD, "2011")
        return self.wait_end(timeout)

    def wait_end(self, timeout=180):
        end = time.time() + timeout
        status = ""
        while time.time() < end:
            status = self.text(2008)
            if status.startswith("安装完成") or status.startswith("安装失败"):
                return status
            time.sleep(0.2)
        return status

    def wait_exit(self, timeout=30):
        return self.process.wait(timeout=timeout)

    def close(self):
        if self.process.poll() is None:
            end_programs("OrvaloSetup.exe")
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()


def end_programs(*images):
    """Ends every Windows process of these image names, whatever state its windows are in."""
    for image in images:
        wine("taskkill", "/f", "/im", image)


def close_client():
    end_programs("Orvalo.exe", "OrvaloTrader64.exe")
    driver("gone", CLIENT, "10000")


def registry_values():
    code, out = wine("reg", "query", UNINSTALL_KEY)
    values = {}
    if code != 0:
        return values
    for line in out.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
    return values


def delete_registration():
    wine("reg", "delete", UNINSTALL_KEY, "/f")


def forget_release_serial():
    """Deletes the highest release serial the signed builds have accepted in the prefix, so that a
    newer release an earlier test installed does not refuse this test's."""
    wine("reg", "delete", RELEASE_SERIAL_KEY, "/v", "ReleaseSerial", "/f")


def remembered_release_serial():
    code, out = wine("reg", "query", RELEASE_SERIAL_KEY, "/v", "ReleaseSerial")
    return int(out.split()[-1]) if code == 0 else None


def install_folder(tag):
    """A fresh install folder of the prefix for one test: (Windows path, Unix path)."""
    name = f"{tag}_{uuid.uuid4().hex[:8]}"
    windows = "C:\\e2e\\" + name + "\\OrvaloTrader"
    return windows, unix_path(windows)


def read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def arrivals_logged():
    """How many agreements the setup's debug log has seen arrive so far."""
    try:
        with open(os.path.join(TEMP_UNIX, "OrvaloSetup_agr_debug.log"), encoding="utf-8", errors="replace") as f:
            return sum(1 for line in f if "AGREEMENT arrive:" in line)
    except OSError:
        return 0


def wait_until(condition, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        if condition():
            return True
        time.sleep(0.1)
    return condition()
