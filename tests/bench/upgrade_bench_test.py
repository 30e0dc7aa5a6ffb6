"""The upgrade benchmark's own measuring (bench/upgrade/packages.py): the bytes it reads from
nginx's byte log, the bytes it expects an index to save, and its check of the installation. A
fault in any of them would print figures that flatter or wrong the upgrade."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "bench", "upgrade"))
sys.path.insert(0, os.path.join(ROOT, "demo", "server"))
import make_site  # noqa: E402  (writes an index as orvalo-tool index does)
import packages  # noqa: E402


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


class UpgradeBench(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def test_the_byte_log_counts_each_answers_body(self):
        servers = os.environ["ORVALO_SERVERS"]
        scenario = f"upgrade-bench-{os.getpid()}"
        write(os.path.join(servers, "www", scenario, "p.zip"), os.urandom(100000))
        log = os.path.join(servers, "logs", "nginx-bytes.log")
        start = os.path.getsize(log) if os.path.exists(log) else 0
        with open(os.path.join(servers, "servers.env")) as f:
            port = dict(line.strip().split("=", 1) for line in f if "=" in line)["http_port"]
        url = f"http://127.0.0.1:{port}/{scenario}/p.zip"
        for args in (["-r", "1000-5999"], []):
            subprocess.run(["curl", "-sS", "-o", os.devnull, *args, url], check=True)
        deadline = time.time() + 5
        while packages.fetched(log, start, f"/{scenario}/") != (105000, 2) and time.time() < deadline:
            time.sleep(0.05)
        self.assertEqual(packages.fetched(log, start, f"/{scenario}/"), (105000, 2))

    def test_expected_bytes_are_the_differing_entries_whole_spans(self):
        tree, installed = os.path.join(self.dir, "tree"), os.path.join(self.dir, "installed")
        files = {f"dir/f{n}.bin": os.urandom(3000 + n) for n in range(4)}
        files["dir/text.txt"] = b"compressible " * 5000
        for name, data in files.items():
            write(os.path.join(tree, "Top", name), data)
            write(os.path.join(installed, name), data)
        zip_path = os.path.join(self.dir, "p.zip")
        subprocess.run(["zip", "-q", "-r", zip_path, "Top"], cwd=tree, check=True)
        make_site.write_index(zip_path)
        write(os.path.join(installed, "dir", "text.txt"), b"changed")
        os.remove(os.path.join(installed, "dir", "f2.bin"))
        # Debian's zip writes the entries one after another: an entry's whole span ends where the
        # next one's header (or the central directory) begins.
        with zipfile.ZipFile(zip_path) as z:
            infos = sorted((i for i in z.infolist()), key=lambda i: i.header_offset)
            ends = [i.header_offset for i in infos[1:]] + [z.start_dir]
            span = {i.filename: end - i.header_offset for i, end in zip(infos, ends)}
        self.assertEqual(packages.expected(zip_path, zip_path + ".index", installed),
                         span["Top/dir/text.txt"] + span["Top/dir/f2.bin"])

    def test_the_check_finds_what_an_installation_must_not_hold(self):
        reference, installed, extras = (os.path.join(self.dir, n) for n in ("ref", "inst", "extras"))
        write(os.path.join(reference, "bin", "a.dll"), b"a" * 5000)
        write(os.path.join(reference, "b.txt"), b"b")
        write(os.path.join(extras, "update", "_update.done"), b"1.0.0")
        shutil.copytree(reference, installed)
        write(os.path.join(installed, "update", "_update.done"), b"2.0.0")
        self.assertEqual(packages.differences(installed, reference, extras), [])

        write(os.path.join(installed, "bin", "a.dll.upg_tmp"), b"")
        with open(os.path.join(installed, "bin", "a.dll"), "r+b") as f:
            f.seek(2500)
            f.write(b"x")
        os.remove(os.path.join(installed, "b.txt"))
        self.assertEqual(packages.differences(installed, reference, extras),
                         ["missing: b.txt", "unexpected: bin/a.dll.upg_tmp", "differs: bin/a.dll"])


if __name__ == "__main__":
    unittest.main()
