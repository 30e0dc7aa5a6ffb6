#!/usr/bin/env python3
"""make_tree.py DIR: a package-like tree of 2000 files and about 300 MB below DIR.

Half the files are random bytes (compiled code and media barely compress), half repetitive
text (configuration, scripts, data tables); sizes vary from 10 KB to 290 KB in 20 folders.
"""
import os
import random
import sys

FILES = 2000
FOLDERS = 20


def main(root):
    rng = random.Random(2026)
    for index in range(FILES):
        folder = os.path.join(root, "lib%02d" % (index % FOLDERS), "part%d" % (index % 3))
        os.makedirs(folder, exist_ok=True)
        size = rng.randint(10_000, 290_000)
        if index % 2:
            data = rng.randbytes(size)
        else:
            line = b"%d,quote,%f,volume,%d\n" % (index, rng.random(), rng.randint(0, 10**6))
            data = (line * (size // len(line) + 1))[:size]
        with open(os.path.join(folder, "file%04d.bin" % index), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
