#!/usr/bin/env python3
"""Lays out the benchmark tree: FILES files, 20 to a directory, in top
directories of four subdirectories each (the first 20 files of a top
directory lie in it, the next 80 in its subdirectories); the same bytes for
the same arguments.

  make_tree.py DIR FILES [--small]

Sizes: nine in ten files 1 to 64 KB, most of the rest 128 KB to 1.25 MB, one
in a hundred 4 to 8 MB (2,000 files make about 300 MB); with --small every
file is 1 to 16 KB, for counting requests per file. DIR must not exist yet.
"""
import os
import random
import sys


def main():
    args = [a for a in sys.argv[1:] if a != "--small"]
    small = "--small" in sys.argv[1:]
    if len(args) != 2:
        sys.exit("usage: make_tree.py DIR FILES [--small]")
    root, files = args[0], int(args[1])
    if os.path.exists(root):
        sys.exit(f"make_tree: {root} exists already")
    rng = random.Random(2463534242)
    block = rng.randbytes(9 << 20)
    os.makedirs(root)
    total = 0
    for index in range(files):
        top, sub = index // 100, (index // 20) % 5
        directory = os.path.join(root, f"dir{top:02d}") + (f"/sub{sub}" if sub else "")
        os.makedirs(directory, exist_ok=True)
        kind = index % 100
        if small:
            size = 1024 + rng.randrange(15 * 1024)
        elif kind < 90:
            size = 1024 + rng.randrange(63 * 1024)
        elif kind < 99:
            size = 128 * 1024 + rng.randrange(1152 * 1024)
        else:
            size = 4 * 1024 * 1024 + rng.randrange(4 * 1024 * 1024)
        offset = rng.randrange(len(block) - size)
        with open(os.path.join(directory, f"file{index:05d}.dat"), "wb") as out:
            out.write(block[offset:offset + size])
        total += size
    print(f"files: {files}\nbytes: {total}")


main()
