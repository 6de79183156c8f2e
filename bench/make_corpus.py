#!/usr/bin/env python3
"""Writes the benchmark's input trees deterministically (fixed seeds).

big/:    two files, ~300 MB in all: one of generated text, one of random bytes
small/:  20,000 small files in nested folders
many/:   40,000 small files made the same way, for growth with the file count
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


def main(root):
    rng = random.Random(20261209)
    big = os.path.join(root, "big")
    os.makedirs(big, exist_ok=True)
    text_file(os.path.join(big, "text.log"), 150 * 1000 * 1000, rng)
    random_file(os.path.join(big, "noise.bin"), 150 * 1000 * 1000, rng)

    small_tree(os.path.join(root, "small"), 20000, rng)
    small_tree(os.path.join(root, "many"), 40000, rng)


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
    main(sys.argv[1])
