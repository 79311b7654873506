#!/usr/bin/env python3
"""Reference answers for the ds containers, from zlib and plain arithmetic.

usage: ds_oracle.py OUTDIR SEED
  hash_strings.txt  "<utf-8 hex> <crc>"     crc = zlib.crc32(bytes) ^ 0xFFFFFFFF (the engine keeps it complemented)
  hash_reals.txt    "<double bits hex> <crc>" over struct.pack('<d')
  walk.txt          500 keys ("s <utf-8 hex>", "r <bits hex>", "i <int64>") in insertion order, then
                    "order <buckets> <key indexes>" for 4096 and 16 buckets: (hash & mask) ascending,
                    insertion order inside a bucket
  disks.txt         "W H", then per disk "<cx bits> <cy bits> <r bits> <W*H flags, x + y*W>" by brute force
"""
import math
import os
import random
import struct
import sys
import zlib


def crc(b):
    return zlib.crc32(b) ^ 0xFFFFFFFF


def real_bytes(d):
    return struct.pack("<d", d)


def bits(d):
    return real_bytes(d)[::-1].hex()  # most significant byte first, as the C++ side reads it


def random_text(rng):
    alphabet = "abcXYZ019 _-\u00e9\u00fc\u00df\u03bb\u0416\u4e2d\u2713\u20ac"
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(1, 24)))


def special_reals(rng):
    out = [0.0, -0.0, float("nan"), float("inf"), float("-inf"), 5e-324, -5e-324, 2.2250738585072009e-308,
           1.0, -1.0, 0.1, 1e300]
    while len(out) < 1000:
        k = rng.randrange(4)
        if k == 0:
            out.append(rng.uniform(-1e6, 1e6))
        elif k == 1:
            out.append(struct.unpack("<d", struct.pack("<Q", rng.getrandbits(52)))[0])  # subnormal or zero
        elif k == 2:
            out.append(float(rng.randint(-2 ** 40, 2 ** 40)))
        else:
            out.append(struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0])
    return out


def write_hashes(folder, rng):
    with open(os.path.join(folder, "hash_strings.txt"), "w") as f:
        for _ in range(1000):
            b = random_text(rng).encode("utf-8")
            f.write("%s %d\n" % (b.hex(), crc(b)))
    with open(os.path.join(folder, "hash_reals.txt"), "w") as f:
        for d in special_reals(rng):
            f.write("%s %d\n" % (bits(d), crc(real_bytes(d))))


def write_walk(folder, rng):
    keys, hashes = [], set()
    while len(keys) < 500:
        k = rng.randrange(3)
        if k == 0:
            b = random_text(rng).encode("utf-8")
            line, h = "s " + b.hex(), crc(b)
        elif k == 1:
            d = rng.uniform(-1e9, 1e9) + 0.5  # never a whole number: no int64 key is its equal
            line, h = "r " + bits(d), crc(real_bytes(d))
        else:
            n = rng.randint(-2 ** 52, 2 ** 52)
            line, h = "i %d" % n, crc(real_bytes(float(n)))
        if h in hashes:
            continue  # one key per hash: no two keys of the list compare as one
        hashes.add(h)
        keys.append((line, h))
    with open(os.path.join(folder, "walk.txt"), "w") as f:
        for line, _ in keys:
            f.write(line + "\n")
        for buckets in (4096, 16):
            order = sorted(range(len(keys)), key=lambda i: (keys[i][1] & (buckets - 1), i))
            f.write("order %d %s\n" % (buckets, " ".join(map(str, order))))


def write_disks(folder, rng):
    w, h = 9, 6
    with open(os.path.join(folder, "disks.txt"), "w") as f:
        f.write("%d %d\n" % (w, h))
        for n in range(2000):
            if n % 2:
                cx, cy, r = rng.uniform(-3, w + 3), rng.uniform(-3, h + 3), rng.uniform(-1, 6)
            else:  # quarters: boundaries land exactly on cells
                cx, cy, r = rng.randint(-8, 4 * w + 8) / 4, rng.randint(-8, 4 * h + 8) / 4, rng.randint(-2, 20) / 4
            # The disk's cells lie in its box [floor(c - r), ceil(c + r)], clipped to the grid.
            xs = range(max(math.floor(cx - r), 0), min(math.ceil(cx + r), w - 1) + 1)
            ys = range(max(math.floor(cy - r), 0), min(math.ceil(cy + r), h - 1) + 1)
            flags = "".join("1" if x in xs and y in ys and (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r
                            else "0" for y in range(h) for x in range(w))
            f.write("%s %s %s %s\n" % (bits(cx), bits(cy), bits(r), flags))


def main():
    folder, seed = sys.argv[1], int(sys.argv[2])
    rng = random.Random(seed)
    write_hashes(folder, rng)
    write_walk(folder, rng)
    write_disks(folder, rng)


if __name__ == "__main__":
    main()
