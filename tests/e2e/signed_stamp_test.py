"""Channel builds of a signed setup: the real OrvaloSetup.exe signed with osslsigncode (with a
code-signing certificate made here with OpenSSL) before or after orvalo-tool stamps it, verified,
and installed unattended under Wine, judged by its channel.ini."""
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

from e2e import BIN, Site, close_client, delete_registration, end_programs, install_folder, read, unix_path, wine

SETUP = os.path.join(BIN, "OrvaloSetup.exe")
LOG = "C:\\e2e\\signed_stamp.log"
STAMP_OID = bytes.fromhex("0614" "6983c0a7a5ce96ad829ac1beed85a2e884a88658")  # the stamp's extension
FIRST = b"\xef\xbb\xbf[Channel]\r\nid=partner-7\r\nref=\xe6\xb8\xa0\xe9\x81\x93\r\n"
SECOND = b"[Channel]\nid=partner-8\nref=autumn\n"


def run(*args):
    p = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    return p.returncode, p.stdout + p.stderr


class SignedStamp(unittest.TestCase):
    def setUp(self):
        end_programs("OrvaloSetup.exe")
        close_client()
        delete_registration()
        os.makedirs(unix_path("C:\\e2e"), exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix="signed_stamp_")
        self.key, self.cert = self.path("key.pem"), self.path("cert.pem")
        code, out = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Orvalo Test",
                        "-keyout", self.key, "-out", self.cert, "-addext", "extendedKeyUsage=codeSigning")
        self.assertEqual(code, 0, out)
        self.site = Site().build()

    def tearDown(self):
        end_programs("OrvaloSetup.exe")
        close_client()
        self.site.remove()
        delete_registration()
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def sign(self, source, name):
        code, out = run("osslsigncode", "sign", "-certs", self.cert, "-key", self.key, "-in", source, "-out", self.path(name))
        self.assertEqual(code, 0, out)
        return self.path(name)

    def stamp(self, source, payload, name):
        """orvalo-tool stamp: (exit code, output, the output's path)."""
        with open(self.path("channel.ini"), "wb") as f:
            f.write(payload)
        win = lambda p: "Z:" + p.replace("/", "\\")  # noqa: E731
        code, out = wine(os.path.join(BIN, "orvalo-tool.exe"), "stamp", win(source), win(self.path("channel.ini")),
                         win(self.path(name)))
        return code, out, self.path(name)

    def assert_verifies(self, path):
        code, out = run("osslsigncode", "verify", "-CAfile", self.cert, "-in", path)
        self.assertEqual(code, 0, out)
        self.assertIn("Signature verification: ok", out)
        self.assertNotIn("MISMATCH", out)  # the PE checksum among others

    def installed_channel(self, setup):
        folder, unix = install_folder("signed")
        code, _ = wine(setup, "--silent", "--accept-agreement", "--base", self.site.nginx, "--dir", folder,
                       "--no-shortcut", "--no-launch", "--log", LOG, timeout=180)
        self.assertEqual(code, 0, read(unix_path(LOG)).decode("utf-8", "replace"))
        return read(os.path.join(unix, "channel.ini"))

    def test_signed_then_stamped_verifies_and_installs_the_channel(self):
        code, out, stamped = self.stamp(self.sign(SETUP, "signed.exe"), FIRST, "channel.exe")
        self.assertEqual(code, 0, out)
        self.assertIn("inside its signature", out)
        self.assert_verifies(stamped)
        self.assertEqual(self.installed_channel(stamped), FIRST)

    def test_stamped_then_signed_verifies_and_installs_the_channel(self):
        code, out, stamped = self.stamp(SETUP, FIRST, "stamped.exe")
        self.assertEqual(code, 0, out)
        signed = self.sign(stamped, "channel.exe")
        self.assert_verifies(signed)
        self.assertEqual(self.installed_channel(signed), FIRST)

    def test_stamping_a_stamped_signed_setup_again_keeps_one_payload_the_new_one(self):
        signed = self.sign(SETUP, "signed.exe")
        first = self.stamp(signed, FIRST, "first.exe")[2]
        code, out, again = self.stamp(first, SECOND, "second.exe")
        self.assertEqual(code, 0, out)
        data = read(again)
        self.assertEqual(data.count(STAMP_OID), 1)
        self.assertNotIn(b"partner-7", data)
        self.assertEqual(data, read(self.stamp(signed, SECOND, "direct.exe")[2]))  # as if stamped once
        self.assert_verifies(again)
        self.assertEqual(self.installed_channel(again), SECOND)

    def test_a_damaged_signature_is_refused_and_nothing_is_written(self):
        signed = read(self.sign(SETUP, "signed.exe"))
        table = struct.unpack_from("<I", signed, struct.unpack_from("<I", signed, 0x3C)[0] + 24 + 144)[0]
        damaged = {
            "truncated.exe": (signed[:-64], "the certificate table does not end the file"),
            "indefinite.exe": (signed[:table + 9] + b"\x80" + signed[table + 10:], "the signature is damaged"),
            "revision.exe": (signed[:table + 4] + b"\x00\x01" + signed[table + 6:], "is not one PKCS#7 entry"),
        }
        for name, (data, reason) in damaged.items():
            with open(self.path(name), "wb") as f:
                f.write(data)
            code, out, written = self.stamp(self.path(name), FIRST, "out.exe")
            self.assertEqual((code, out.startswith("error: ")), (1, True), out)
            self.assertIn(reason, out)
            self.assertFalse(os.path.exists(written))
            self.assertEqual(self.stamp(self.path(name), FIRST, name)[0], 1)  # in place
            self.assertEqual(read(self.path(name)), data, name)
        self.assertFalse([n for n in os.listdir(self.dir) if n.endswith(".part")])
