#!/usr/bin/env python3
"""A demo site whose packages weigh about 300 MB in all (incompressible data in a few hundred
files), for the install benchmark: make_packages.py OUT BASE CLIENT_EXE AGREEMENT_TXT."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "demo", "server"))
import make_site  # noqa: E402


def payload(prefix, count, size, seed):
    data = []
    block = os.urandom(1 << 20)
    for i in range(count):
        # Distinct bytes per file without generating 300 MB of randomness.
        head = f"{seed}-{i}".encode().ljust(64, b".")
        body = (head + block)[:size] if size <= len(block) + 64 else head + block * (size // len(block))
        data.append((f"{prefix}/f{i:04d}.bin", body[:size]))
    return data


def main(out, base, client, agreement):
    make_site.build(out, base, client, agreement, "2.0.0")
    download = os.path.join(out, "download")
    sets = {
        "deps.zip": payload("deps/runtime", 200, 600_000, "deps"),
        "quotes.zip": payload("quotes/data", 100, 500_000, "quotes"),
        "main.zip": [("OrvaloTrader/Orvalo.exe", open(client, "rb").read())] +
                    payload("OrvaloTrader/lib", 150, 1_000_000, "main"),
    }
    digests = {}
    for name, files in sets.items():
        make_site.write_zip(os.path.join(download, name), files)
        digests[name] = make_site.sha256(os.path.join(download, name))
    manifest = os.path.join(download, "manifest.ini")
    with open(manifest, encoding="ascii", newline="") as f:
        lines = f.read().split("\r\n")
    section = None
    for i, line in enumerate(lines):
        if line.startswith("["):
            section = line.strip("[]")
        elif line.startswith("sha256=") and section in ("deps", "quotes", "main"):
            lines[i] = "sha256=" + digests[section + ".zip"]
    with open(manifest, "w", encoding="ascii", newline="") as f:
        f.write("\r\n".join(lines))


if __name__ == "__main__":
    main(*sys.argv[1:5])
