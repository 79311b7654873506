#!/usr/bin/env python3
"""Writes the reference files of the stream tests into the folder given first.

  hex    random bytes and their hexadecimal forms (binascii)
  zlib   payloads and zlib.compress output at levels 0, 1 and 9, an 8 MiB one and a preset-dictionary one
  zlib-small   the same without the 8 MiB one
  subst  forward substitution tables for a list of seeds, one line of 512 hex digits per seed
"""
import binascii
import os
import random
import sys
import zlib


def write(folder, name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def payload(rng, size):
    """Half text-like runs (compressible), half random bytes, so every block type of deflate shows up."""
    words = [b"sprite", b"room", b"instance", b"alarm", b"\x00\x00\x00\x01", b"path"]
    out = bytearray()
    while len(out) < size:
        if rng.random() < 0.5:
            out += rng.choice(words) * rng.randint(1, 40)
        else:
            out += rng.randbytes(rng.randint(1, 300))
    return bytes(out[:size])


def gen_hex(folder):
    rng = random.Random(1447)
    data = rng.randbytes(4099)
    write(folder, "hex_bytes.bin", data)
    write(folder, "hex_upper.txt", binascii.hexlify(data).upper())
    write(folder, "hex_lower.txt", binascii.hexlify(data))


def gen_zlib(folder, with_big):
    rng = random.Random(2024)
    plain = payload(rng, 200_000)
    write(folder, "plain.bin", plain)
    for level in (0, 1, 9):
        write(folder, "z%d.bin" % level, zlib.compress(plain, level))
    if with_big:
        big = payload(rng, 8 * 1024 * 1024)
        write(folder, "plain_big.bin", big)
        write(folder, "z_big.bin", zlib.compress(big, 6))
    comp = zlib.compressobj(level=6, zdict=b"sprite room instance")
    write(folder, "z_dict.bin", comp.compress(plain[:5000]) + comp.flush())


def forward_table(seed):
    # step = seed modulo 250 keeping the seed's sign, base = seed / 250 truncated toward zero.
    rem = abs(seed) % 250
    step = (rem if seed >= 0 else -rem) + 6
    if step < 0:
        step += 256
    base = abs(seed) // 250
    if seed < 0:
        base = -base + 256 if base else 0
    f = list(range(256))
    p = base + step
    for _ in range(10000):
        k = p % 254  # Python's remainder is never negative
        f[k + 1], f[k + 2] = f[k + 2], f[k + 1]
        p += step
    return bytes(f)


def gen_subst(folder, seeds):
    lines = []
    for s in seeds:
        lines.append("%d %s" % (s, binascii.hexlify(forward_table(s)).decode()))
    write(folder, "subst.txt", ("\n".join(lines) + "\n").encode())


def main():
    folder, what = sys.argv[1], sys.argv[2]
    if what == "hex":
        gen_hex(folder)
    elif what in ("zlib", "zlib-small"):
        gen_zlib(folder, what == "zlib")
    elif what == "subst":
        gen_subst(folder, [int(a) for a in sys.argv[3:]])
    else:
        sys.exit("unknown generator " + what)


if __name__ == "__main__":
    main()
