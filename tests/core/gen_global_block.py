#!/usr/bin/env python3
"""Writes the bytes of the globals' save block, built with struct, one file per case.

The block: s32 number of globals, each global as a serialised value (s32 kind word, then an f64 for a
real, the text and a NUL for a string, s32 row count and per row s32 length and the items for an array),
s32 number of flags, each flag as an s32.

Usage: gen_global_block.py <out_dir>
"""
import struct

# The value forms are the serialiser's own, written once beside this file.
from gen_value_bytes import UNDEFINED, array, real, string, write_cases

UNSET = 0x00FFFFFF


def s32(n):
    return struct.pack('<i', n)


def block(values, flags):
    return s32(len(values)) + b''.join(values) + s32(len(flags)) + b''.join(s32(f) for f in flags)


CASES = {
    # real 2.5, "héllo", a slot never written, [[1.0, "a"]]; the 10,000 flags of a fresh game.
    'fresh': block([real(2.5), string('h\u00e9llo'.encode('utf-8')), s32(UNSET),
                    array([[real(1.0), string(b'a')]])], [0] * 10000),
    # A save with four flags, two of them set by values other than 1.
    'flags_in': block([real(-1.0), s32(UNDEFINED), real(3.0), string(b'')], [0, 5, 0, -1]),
    # What the game writes back after loading it: flags are stored as 0 or 1.
    'flags_out': block([real(-1.0), s32(UNDEFINED), real(3.0), string(b'')], [0, 1, 0, 1]),
}


def main():
    write_cases(CASES)


if __name__ == '__main__':
    main()
