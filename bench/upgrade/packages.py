#!/usr/bin/env python3
"""The upgrade benchmark's data and checks.

    packages.py trees OUT            OUT/v1, OUT/v2 (the main package's trees) and OUT/deps
    packages.py damage DIR           damages three files of an installation: prints them
    packages.py expected ZIP INDEX DIR
                                     bytes of ZIP an upgrade of DIR must fetch with INDEX: the
                                     entries whose file in DIR is missing or differs, each from
                                     its local header to its last compressed byte
    packages.py fetched LOG OFFSET PREFIX
                                     "bytes requests" of nginx's byte log from OFFSET on, for
                                     addresses below PREFIX
    packages.py same INSTALL REFERENCE EXTRAS
                                     whether INSTALL holds REFERENCE byte for byte, and nothing
                                     else than the paths EXTRAS (a folder, by name only) holds

Every tree is the same for the same seed: two machines measure the same package."""
import os
import random
import shutil
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "demo", "server"))
import make_site  # noqa: E402  (the demo server's digest of a file)

TOP = "OrvaloTrader"
TOTAL_BYTES = 150_000_000
FILES = 2000
# Changed between v1 and v2: the client, a translation and a settings file; one library added.
FIXED = [("Orvalo.exe", 3_000_000, False), ("resources/i18n/zh_CN.qm", 420_000, True),
         ("config/defaults.json", 6_000, True)]
CHANGED = [path for path, _, _ in FIXED]
ADDED = "bin/orvalo_delta.dll"


def text_pool(rng, size):
    """Text as a client ships it (settings, scripts, translations): compresses about fourfold."""
    words = ["order", "price", "volume", "strategy", "signal", "quote", "market", "position",
             "行情", "委托", "成交", "策略", "账户", "limit", "stop", "tick", "bar", "index"]
    lines = []
    while sum(map(len, lines)) < size:
        lines.append(f"{rng.choice(words)}_{rng.randrange(1000)} = {rng.random():.6f}  "
                     f"# {' '.join(rng.choice(words) for _ in range(rng.randrange(3, 9)))}\n")
    return "".join(lines).encode()[:size]


def file_sizes(rng):
    """Many small files, a few hundred of tens to hundreds of kilobytes, twenty of megabytes."""
    sizes = [int(10 ** rng.uniform(2.5, 4.6)) for _ in range(1700)]
    sizes += [int(10 ** rng.uniform(4.6, 5.9)) for _ in range(280)]
    sizes += [int(10 ** rng.uniform(6.2, 6.8)) for _ in range(FILES - len(FIXED) - len(sizes))]
    scale = (TOTAL_BYTES - sum(size for _, size, _ in FIXED)) / sum(sizes)
    return [max(1, int(s * scale)) for s in sizes]


def content(rng, pool, size, compressible):
    if not compressible:
        return rng.randbytes(size)
    parts, left = [], size
    while left > 0:
        start = rng.randrange(len(pool) - 65536)
        piece = pool[start:start + min(left, rng.randrange(4096, 65536))]
        parts.append(piece)
        left -= len(piece)
    return b"".join(parts)


def layout(rng, sizes):
    """(path, size, compressible) for every file: binaries in bin and plugins, text elsewhere."""
    folders = ["bin", "bin/platforms", "bin/imageformats", "plugins/quotes", "plugins/brokers",
               "plugins/indicators", "python/lib", "python/lib/site-packages/numpy",
               "python/lib/site-packages/pandas", "resources/icons", "resources/qml",
               "resources/i18n", "strategies/samples", "docs", "config"]
    binary_ext = [".dll", ".pyd", ".png", ".dat"]
    text_ext = [".py", ".qml", ".json", ".txt", ".lua"]
    files = list(FIXED)
    for n, size in enumerate(sizes):
        compressible = rng.random() < 0.5
        ext = rng.choice(text_ext if compressible else binary_ext)
        files.append((f"{rng.choice(folders)}/f{n:04d}{ext}", size, compressible))
    return files


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def trees(out):
    rng = random.Random(20261211)
    pool = text_pool(rng, 1 << 20)
    for name in ("v1", "v2", "deps"):
        shutil.rmtree(os.path.join(out, name), ignore_errors=True)
    for path, size, compressible in layout(rng, file_sizes(rng)):
        data = content(rng, pool, size, compressible)
        write(os.path.join(out, "v1", TOP, path), data)
        if path in CHANGED:
            # Random bytes stay random, text keeps most of its lines: as a rebuild changes them.
            data = rng.randbytes(size) if not compressible else data[: size // 3] + content(rng, pool, size // 2, True)
        write(os.path.join(out, "v2", TOP, path), data)
    write(os.path.join(out, "v2", TOP, ADDED), rng.randbytes(1_200_000))
    for n in range(4):
        write(os.path.join(out, "deps", "deps", "runtime", f"runtime{n}.dll"), rng.randbytes(50_000))


def damage(folder):
    """One file changed in place (same size), one truncated, one deleted: a medium, a large and a
    small file of the main package."""
    def pick(low, high):
        for root, _, names in sorted(os.walk(folder)):
            for name in sorted(names):
                path = os.path.join(root, name)
                if low <= os.path.getsize(path) < high and name.startswith("f"):
                    return path
        raise SystemExit(f"no file of {low} to {high} bytes in {folder}")
    changed = pick(200_000, 1_000_000)
    truncated = pick(2_000_000, 10_000_000)
    deleted = pick(1_000, 20_000)
    with open(changed, "r+b") as f:
        f.seek(os.path.getsize(changed) // 2)
        f.write(b"\0" * 4096 if f.read(1) != b"\0" else b"\1" * 4096)
    os.truncate(truncated, os.path.getsize(truncated) // 2)
    os.remove(deleted)
    for path in (changed, truncated, deleted):
        print(os.path.relpath(path, folder))


def read_index(path):
    """(sha256, header offset, compressed size, name) of each entry of a package index."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    if lines[0] != "orvalo-package-index 1":
        raise SystemExit(f"{path}: not a package index")
    entries = []
    for line in lines[1:]:
        if line:
            digest, _crc, _method, offset, compressed, _size, name = line.split(" ", 6)
            entries.append((digest, int(offset), int(compressed), name))
    return entries


def entry_span(zip_file, offset, compressed):
    """An entry's bytes from its local header on: the header, its name and extra field, the data."""
    zip_file.seek(offset)
    header = zip_file.read(30)
    if header[:4] != b"PK\3\4":
        raise SystemExit(f"no local header at {offset}")
    name_length, extra_length = struct.unpack("<HH", header[26:30])
    return 30 + name_length + extra_length + compressed


def expected(zip_path, index_path, folder):
    """The bytes of the entries an installation in folder lacks: every entry lies below one
    top-level folder, which the installation does not have."""
    total = 0
    with open(zip_path, "rb") as z:
        for digest, offset, compressed, name in read_index(index_path):
            target = os.path.join(folder, *name.split("/")[1:])
            if not os.path.isfile(target) or make_site.sha256(target) != digest:
                total += entry_span(z, offset, compressed)
    return total


def fetched(log, offset, prefix):
    """Body bytes and requests in nginx's byte log (method, address, range, status, body bytes)."""
    total = requests = 0
    with open(log, "rb") as f:
        f.seek(int(offset))
        for line in f.read().decode("utf-8", "replace").splitlines():
            fields = line.split("\t")
            if len(fields) >= 5 and fields[1].startswith(prefix):
                total += int(fields[4])
                requests += 1
    return total, requests


def files_below(folder):
    found = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            found[os.path.relpath(path, folder)] = path
    return found


def differences(install, reference, extras):
    """What keeps install from being reference plus the names extras holds: one line each."""
    have, want, allowed = files_below(install), files_below(reference), files_below(extras)
    problems = [f"missing: {p}" for p in sorted(want.keys() - have.keys())]
    problems += [f"unexpected: {p}" for p in sorted(have.keys() - want.keys() - allowed.keys())]
    for p in sorted(want.keys() & have.keys()):
        mine, theirs = have[p], want[p]
        if os.path.getsize(mine) != os.path.getsize(theirs) or make_site.sha256(mine) != make_site.sha256(theirs):
            problems.append(f"differs: {p}")
    return problems


def main(args):
    command = args[0] if args else ""
    if command == "trees" and len(args) == 2:
        trees(args[1])
    elif command == "damage" and len(args) == 2:
        damage(args[1])
    elif command == "expected" and len(args) == 4:
        print(expected(*args[1:]))
    elif command == "fetched" and len(args) == 4:
        print(*fetched(*args[1:]))
    elif command == "same" and len(args) == 4:
        problems = differences(*args[1:])
        for line in problems[:20]:
            print(line, file=sys.stderr)
        return 1 if problems else 0
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
