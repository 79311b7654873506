#!/usr/bin/env python3
"""Packs typed items with Python's struct as a buffer of the given alignment lays them out.

usage: buffer_oracle.py OUTDIR ALIGNMENT NAME TYPE:VALUE...
Each item starts at the next multiple of ALIGNMENT (the gap is zero bytes); the bytes go to OUTDIR/NAME.
"""
import struct
import sys

FORMATS = {
    "u8": "<B", "s8": "<b", "u16": "<H", "s16": "<h", "u32": "<I", "s32": "<i",
    "f32": "<f", "f64": "<d", "bool": "<B", "u64": "<q",
}


def main():
    folder, alignment, name = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    out = bytearray()
    for item in sys.argv[4:]:
        kind, _, value = item.partition(":")
        pad = (-len(out)) % alignment
        out += b"\0" * pad
        if kind == "string":
            out += value.encode() + b"\0"
        elif kind == "text":
            out += value.encode()
        elif kind in ("f32", "f64"):
            out += struct.pack(FORMATS[kind], float(value))
        else:
            out += struct.pack(FORMATS[kind], int(value))
    with open(folder + "/" + name, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
