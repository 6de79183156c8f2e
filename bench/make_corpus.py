#!/usr/bin/env python3
"""Writes the benchmark's input trees deterministically (fixed seeds).

big/:    two files, ~300 MB in all: one of generated text, one of random bytes
small/:  20,000 small files in nested folders
many/:   40,000 small files made the same way, for growth with the file count
tiny/:   200 folders of one to five small files each, one archive apiece, for
         the fixed cost of an archive

  make_corpus.py ROOT [TREE...]   (every tree when none is named)
"""
import os
import random
import sys

WORDS = ("archive volume entry header stream block window filter solid "
         "dictionary huffman match literal length distance checksum").split()


def text_file(path, size, rng):
    with open(path, "w") as out:
        written = 0
        while written < size:
            line = " ".join(rng.choice(WORDS) for _ in range(12)) + "\n"
            out.write(line)
            written += len(line)


def random_file(path, size, rng):
    with open(path, "wb") as out:
        left = size
        while left > 0:
            chunk = min(left, 1 << 20)
            out.write(rng.randbytes(chunk))
            left -= chunk


def big_tree(top, rng):
    os.makedirs(top, exist_ok=True)
    text_file(os.path.join(top, "text.log"), 150 * 1000 * 1000, rng)
    random_file(os.path.join(top, "noise.bin"), 150 * 1000 * 1000, rng)


def tiny_tree(top, rng):
    for i in range(200):
        folder = os.path.join(top, "t%03d" % i)
        os.makedirs(folder, exist_ok=True)
        for j in range(rng.randint(1, 5)):
            text_file(os.path.join(folder, "f%d.txt" % j), rng.randint(100, 8000), rng)


TREES = {
    "big": big_tree,
    "small": lambda top, rng: small_tree(top, 20000, rng),
    "many": lambda top, rng: small_tree(top, 40000, rng),
    "tiny": tiny_tree,
}


def main(root, names):
    for name in names or TREES:
        # Each tree has its own seed, so that one can be made without the others.
        TREES[name](os.path.join(root, name), random.Random("%s-20261209" % name))


def small_tree(top, count, rng):
    for i in range(count):
        folder = os.path.join(top, "d%02d" % (i % 40), "e%02d" % (i // 40 % 25))
        os.makedirs(folder, exist_ok=True)
        name = os.path.join(folder, "f%05d.txt" % i)
        if i % 5 == 0:
            random_file(name, rng.randint(100, 8000), rng)
        else:
            text_file(name, rng.randint(100, 8000), rng)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
