#!/usr/bin/env python3
"""Writes the reference encodings of the UTF-8 tests into the folder given first.

  encode.txt  one line per code point, "<code point hex> <bytes hex>": every code point 0 ... 0xFFFF (the
              surrogates through 'surrogatepass', which gives the plain three-byte form), then code points
              above 0xFFFF, which the engine writes as the encoding of their low 16 bits.
"""
import os
import sys


def encoding(cp):
    return chr(cp).encode("utf-8", "surrogatepass").hex()


def main():
    folder = sys.argv[1]
    lines = [f"{cp:x} {encoding(cp)}" for cp in range(0x10000)]
    for cp in (0x10000, 0x1F600, 0x10FFFF, 0x1007F, 0x10080):
        lines.append(f"{cp:x} {encoding(cp & 0xFFFF)}")
    with open(os.path.join(folder, "encode.txt"), "w", encoding="ascii") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
