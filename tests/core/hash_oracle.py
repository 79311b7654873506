#!/usr/bin/env python3
"""Reference digests for the hash tests, written into the folder given first.

For each length of LENGTHS, the input is the first bytes of one random block (seeded). Every line of
hashes.txt holds: length, the engine's CRC-32 (zlib.crc32 ^ 0xFFFFFFFF), MD5, SHA-1, Base64.
"""
import base64
import hashlib
import os
import random
import sys
import zlib

LENGTHS = [0, 1, 2, 3, 55, 56, 57, 63, 64, 65, 119, 120, 128, 1 << 20]


def main():
    folder = sys.argv[1]
    data = random.Random(1144).randbytes(LENGTHS[-1])
    with open(os.path.join(folder, "input.bin"), "wb") as f:
        f.write(data)
    lines = []
    for n in LENGTHS:
        b = data[:n]
        lines.append("%d %08x %s %s %s" % (n, zlib.crc32(b) ^ 0xFFFFFFFF, hashlib.md5(b).hexdigest(),
                                           hashlib.sha1(b).hexdigest(), base64.b64encode(b).decode()))
    with open(os.path.join(folder, "hashes.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
