#!/usr/bin/env python3
"""Writes the packages the upgrade tests serve, into the folder given as first argument:

    main.zip       the new client (the demo client given as second argument) with a new readme,
                   wrapped in one top-level folder, and a data/orvalo.db that must never land
    component.zip  a component's files, unwrapped
    hotfix.zip     a later release of one of those files
    broken.zip     a zip whose only entry fails its CRC-32 check
    many.zip       a release of 2000 small files, whose apply phase takes long enough to be cut

Made fresh for every test run, so that no binary archive lives in the repository."""
import os
import sys
import zipfile

STAMP = (2026, 12, 1, 9, 30, 0)


def write(path, entries):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, STAMP)
            info.compress_type = zipfile.ZIP_STORED if name.endswith(".bin") else zipfile.ZIP_DEFLATED
            archive.writestr(info, data)


def main():
    out, client = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    with open(client, "rb") as f:
        client_bytes = f.read()
    write(os.path.join(out, "main.zip"), [
        ("OrvaloTrader/Orvalo.exe", client_bytes),
        ("OrvaloTrader/readme.txt", "Orvalo量化 2.0.0\n".encode()),
        ("OrvaloTrader/data/orvalo.db", b"database from the package: must never land"),
        ("OrvaloTrader/bin/engine.dll", b"engine 2.0.0"),
    ])
    write(os.path.join(out, "component.zip"), [
        ("quotes.cfg", b"quotes 2.1"),
        ("行情.txt", "行情插件 2.1\n".encode()),
    ])
    write(os.path.join(out, "hotfix.zip"), [("quotes.cfg", b"quotes 2.1.1")])
    write(os.path.join(out, "many.zip"),
          [("OrvaloTrader/lib/part%04d.dat" % i, ("part %d of 3.0" % i).encode()) for i in range(2000)])
    broken = os.path.join(out, "broken.zip")
    write(broken, [("payload.bin", b"A" * 4096)])
    with open(broken, "r+b") as f:
        data = f.read()
        at = data.index(b"A" * 16)
        f.seek(at + 100)
        f.write(b"B")


if __name__ == "__main__":
    main()
