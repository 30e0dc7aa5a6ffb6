"""The link the download benchmark measures behind (tests/support/servers/shaper.py), in front of
the fixture's nginx, measured with curl. Times are only bounded from below, by what the rates
allow: a shaper that lets bytes through too fast is the fault that would flatter a benchmark."""
import hashlib
import os
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SHAPER = os.path.join(HERE, "..", "support", "servers", "shaper.py")
SIZE = 200000
SLACK = 0.8  # measured times must reach this share of what the rates allow


def servers_env():
    env = {}
    with open(os.path.join(os.environ["ORVALO_SERVERS"], "servers.env")) as f:
        for line in f:
            name, _, value = line.strip().partition("=")
            env[name] = value
    return env


class Shaper(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scenario = f"shaper-{os.getpid()}"
        folder = os.path.join(os.environ["ORVALO_SERVERS"], "www", cls.scenario)
        os.makedirs(folder, exist_ok=True)
        cls.bytes = os.urandom(SIZE)
        with open(os.path.join(folder, "f.bin"), "wb") as f:
            f.write(cls.bytes)
        cls.nginx_port = servers_env()["http_port"]

    def start_shaper(self, *args):
        work = tempfile.mkdtemp()
        port_file = os.path.join(work, "port")
        shaper = subprocess.Popen([sys.executable, SHAPER, "--target", self.nginx_port,
                                   "--port-file", port_file, *args])
        self.addCleanup(shaper.wait)
        self.addCleanup(shaper.kill)
        for _ in range(100):
            if os.path.exists(port_file):
                break
            time.sleep(0.05)
        with open(port_file) as f:
            return f"http://127.0.0.1:{f.read().strip()}/{self.scenario}/f.bin"

    def curl(self, url, copies, out):
        """Starts one curl that fetches url `copies` times on one connection, each copy to its own
        file; prints connections made and the first copy's time to its first byte."""
        args = ["curl", "-sS", "-w", "%{num_connects} %{time_starttransfer}\n"]
        for i in range(copies):
            args += ["-o", f"{out}.{i}", url]
        return subprocess.Popen(args, stdout=subprocess.PIPE, text=True)

    def assert_intact(self, path):
        with open(path, "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).digest(), hashlib.sha256(self.bytes).digest())

    def test_a_connection_is_held_to_its_rate_across_requests_and_delayed(self):
        rate, rtt = 200000, 100
        url = self.start_shaper("--rate", str(rate), "--rtt", str(rtt))
        out = os.path.join(tempfile.mkdtemp(), "f")
        start = time.monotonic()
        curl = self.curl(url, 2, out)
        lines = curl.communicate()[0].split("\n")
        elapsed = time.monotonic() - start
        self.assertEqual(curl.returncode, 0)
        connects = [int(line.split()[0]) for line in lines if line]
        self.assertEqual(connects, [1, 0])  # the second request went on the same connection
        self.assertGreaterEqual(elapsed, SLACK * 2 * SIZE / rate)
        # The handshake's round trip, then the request's.
        self.assertGreaterEqual(float(lines[0].split()[1]), SLACK * 2 * rtt / 1000)
        for i in range(2):
            self.assert_intact(f"{out}.{i}")

    def test_a_line_is_shared_by_two_connections(self):
        line = 200000
        url = self.start_shaper("--line", str(line))
        out = os.path.join(tempfile.mkdtemp(), "f")
        start = time.monotonic()
        curls = [self.curl(url, 1, f"{out}{n}") for n in range(2)]
        for curl in curls:
            curl.communicate()
            self.assertEqual(curl.returncode, 0)
        self.assertGreaterEqual(time.monotonic() - start, SLACK * 2 * SIZE / line)
        for n in range(2):
            self.assert_intact(f"{out}{n}.0")


if __name__ == "__main__":
    unittest.main()
