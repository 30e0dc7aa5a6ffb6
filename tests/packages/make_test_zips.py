#!/usr/bin/env python3
"""Writes the zip archives the extraction tests read, into the folder given as argument.

Made fresh for every test run with Python's zipfile, so that no binary archive lives in the
repository and every odd name is spelled out here.
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

# A fixed timestamp, checked against the extracted files' times.
STAMP = (2021, 6, 15, 9, 30, 42)


def info(name, method=zipfile.ZIP_DEFLATED):
    entry = zipfile.ZipInfo(name, STAMP)
    entry.compress_type = method
    return entry


class AnsiNamedInfo(zipfile.ZipInfo):
    """An entry whose name is stored in the Chinese ANSI code page without the UTF-8 flag, as
    older Chinese zip tools write it."""

    def _encodeFilenameFlags(self):
        return self.filename.encode("gbk"), self.flag_bits & ~0x800


def write(path, entries):
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in entries:
            entry = name if isinstance(name, zipfile.ZipInfo) else info(name)
            archive.writestr(entry, data)


def corrupt_entry_data(path, name):
    """Flips one byte of a stored entry's data, so only its CRC-32 tells."""
    with zipfile.ZipFile(path) as archive:
        entry = archive.getinfo(name)
        header_offset = entry.header_offset
    with open(path, "r+b") as f:
        f.seek(header_offset + 26)
        name_len = int.from_bytes(f.read(2), "little")
        extra_len = int.from_bytes(f.read(2), "little")
        data_offset = header_offset + 30 + name_len + extra_len
        f.seek(data_offset)
        byte = f.read(1)
        f.seek(data_offset)
        f.write(bytes([byte[0] ^ 0xFF]))


def patch_sizes(path, uncompressed, central_only=False):
    """Rewrites an entry's declared uncompressed size in its headers, as a forged archive would."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    central = data.index(b"PK\x01\x02")
    data[central + 24:central + 28] = struct.pack("<I", uncompressed)
    if not central_only:
        data[22:26] = struct.pack("<I", uncompressed)
    with open(path, "wb") as f:
        f.write(data)


def main(out):
    os.makedirs(out, exist_ok=True)
    j = lambda name: os.path.join(out, name)
    rng = random.Random(4)

    write(j("one_folder.zip"), [
        ("pkg/", b""), ("pkg/a.txt", b"alpha"), ("pkg/sub/", b""), ("pkg/sub/b.txt", b"beta"),
    ])
    write(j("two_folders.zip"), [("one/a.txt", b"1"), ("two/b.txt", b"2")])
    write(j("top_file.zip"), [("pkg/a.txt", b"1"), ("readme.txt", b"2")])

    # No directory entries; one large entry of mixed content to stream through several buffers.
    big = b"".join(
        rng.randbytes(4096) if i % 2 else (b"quant %d " % i) * 512 for i in range(900))
    write(j("no_dir_entries.zip"), [
        ("x/y/z.txt", b"deep"), ("x/big.bin", big), ("x/w.txt", b"shallow"),
    ])
    with open(j("no_dir_entries.big.bin"), "wb") as f:
        f.write(big)

    with zipfile.ZipFile(j("empty.zip"), "w"):
        pass

    # One archive per unsafe name: a good entry before it, another after it.
    unsafe = ["../evil.dll", "a\\..\\b.txt", "/abs.txt", "\\abs.txt", "C:x.txt", "a/../",
              "ab:c", "NUL.txt", "x. ", "a/./b.txt", "d//e.txt", "sub/com1.tar.gz"]
    for index, name in enumerate(unsafe):
        write(j("unsafe_%d.zip" % index), [
            ("before.txt", b"before"), (info(name), b"" if name.endswith("/") else b"evil"),
            ("after.txt", b"after"),
        ])

    write(j("dot_pieces.zip"), [("a/..b/c.txt", b"c"), ("a/.x/d.txt", b"d"), ("com10/e.txt", b"e")])

    # Deflated data of 200000 bytes in an entry that claims 10: the inflater runs past the claim.
    write(j("overrun.zip"), [("small.txt", b"\0" * 200000)])
    patch_sizes(j("overrun.zip"), 10)

    # An entry that claims a petabyte through the zip64 field, larger than any free space.
    huge = info("huge.bin")
    huge.extra = struct.pack("<HHQ", 1, 8, 1 << 50)
    write(j("huge.zip"), [(huge, b"tiny")])
    patch_sizes(j("huge.zip"), 0xFFFFFFFF, central_only=True)

    write(j("crc.zip"), [
        (info("good1.txt", zipfile.ZIP_STORED), b"first good entry"),
        (info("good2.txt", zipfile.ZIP_STORED), b"second good entry"),
        (info("bad.txt", zipfile.ZIP_STORED), b"this entry gets one byte flipped"),
        (info("after.txt", zipfile.ZIP_STORED), b"never reached"),
    ])
    corrupt_entry_data(j("crc.zip"), "bad.txt")

    with open(j("not_a_zip.zip"), "wb") as f:
        f.write(b"PK\x03\x04 this is plain text that only starts like a zip\n" * 20)
    with open(j("one_folder.zip"), "rb") as f:
        whole = f.read()
    with open(j("truncated.zip"), "wb") as f:
        f.write(whole[: len(whole) - 30])

    # Chinese names in both encodings. 乗 is 0x81 0x5C in GBK: its second byte is a backslash,
    # which only a decoder that knows the code page keeps inside the character.
    ansi = AnsiNamedInfo("包/乗汉字.txt", STAMP)
    write(j("chinese.zip"), [("包/中文名.txt", "UTF-8 名字".encode()), (ansi, b"GBK name")])

    # A product package wrapped in one folder, with a database that must never replace the
    # user's, and enough content (four files of 3 MiB) to be inflated by two threads.
    parts = [rng.randbytes(3 << 20) for _ in range(4)]
    for index, part in enumerate(parts):
        with open(j("place.big%d.bin" % index), "wb") as f:
            f.write(part)
    write(j("place.zip"), [("OrvaloTrader/", b""), ("OrvaloTrader/app.exe", b"new program"),
                           ("OrvaloTrader/data/user.db", b"package database")] +
          [("OrvaloTrader/big/%d.bin" % index, part) for index, part in enumerate(parts)])


def tree(folder, files):
    for name, data in files.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def other_tools(out):
    """Packages as other tools make them (Info-ZIP zip, bsdtar, 7-Zip), each from a folder."""
    def made(name, files, *command):
        with tempfile.TemporaryDirectory() as folder:
            tree(folder, files)
            target = os.path.join(out, name)
            if os.path.exists(target):
                os.remove(target)
            subprocess.run([part.replace("{out}", target) for part in command], cwd=folder, check=True,
                           stdout=subprocess.DEVNULL, env=dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8"))

    # Info-ZIP on Linux stores UTF-8 names without the flag. 行情/数据.txt is also valid GBK (it
    # would arrive as other characters); 交易/表.txt is not (it would be refused).
    made("infozip_utf8.zip", {"行情/数据.txt": b"quotes", "交易/表.txt": b"table"}, "zip", "-qr", "{out}", ".")
    # bsdtar writes "./" before every name, and "./" itself.
    made("bsdtar_dot.zip", {"OrvaloTrader/app.exe": b"program", "OrvaloTrader/lib/a.dll": b"library"},
         "bsdtar", "--format", "zip", "-cf", "{out}", ".")
    # Methods this setup does not inflate, and an encrypted entry, from 7-Zip.
    text = {"a.txt": b"first\n", "big.txt": b"Orvalo deflate64 " * 20000}
    made("deflate64.zip", text, "7z", "a", "-tzip", "-mm=Deflate64", "{out}", "a.txt", "big.txt")
    made("bzip2.zip", text, "7z", "a", "-tzip", "-mm=BZip2", "{out}", "a.txt", "big.txt")
    made("encrypted.zip", text, "7z", "a", "-tzip", "-psecret", "{out}", "a.txt", "big.txt")
    # Two names that Windows takes for one file.
    made("case_clash.zip", {"lib/Readme.txt": b"one", "lib/README.txt": b"two"}, "zip", "-qr", "{out}", ".")
    made("file_and_folder.zip", {"Data": b"a file", "data/x.txt": b"in a folder"}, "zip", "-qr", "{out}", ".")


def wrapped_count(path, entries=65537):
    """More than 65535 entries with only the classic end record, whose count wrapped (to 1), as
    old Java tools write them: Python's zip64 records are cut out again."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        for i in range(entries):
            archive.writestr(info("f%05d" % i, zipfile.ZIP_STORED), b"")
    with open(path, "rb") as f:
        data = f.read()
    zip64 = data.rindex(struct.pack("<I", 0x06064B50))
    cd_size, cd_offset = struct.unpack("<QQ", data[zip64 + 40:zip64 + 56])
    count = entries & 0xFFFF
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, cd_size, cd_offset, 0)
    with open(path, "wb") as f:
        f.write(data[:zip64] + end)


if __name__ == "__main__":
    main(sys.argv[1])
    other_tools(sys.argv[1])
    wrapped_count(os.path.join(sys.argv[1], "wrapped_count.zip"))
