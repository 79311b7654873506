#!/usr/bin/env python3
"""Writes the bytes that serialised values must have, built with struct, one file per case.

Usage: gen_value_bytes.py <out_dir>
"""
import os
import struct
import sys

REAL, STRING, ARRAY, PTR, UNDEFINED, OBJECT, INT32, BOOL = 0, 1, 2, 3, 5, 6, 7, 13


def kind(k):
    return struct.pack('<i', k)


def real(d):
    return kind(REAL) + struct.pack('<d', d)


def string(b):
    return kind(STRING) + b + b'\x00'


def array(rows):
    out = kind(ARRAY) + struct.pack('<i', len(rows))
    for row in rows:
        out += struct.pack('<i', len(row))
        for item in row:
            out += item
    return out


CASES = {
    'real': real(2.5),
    'string': string('h\u00e9llo'.encode('utf-8')),
    'null_text': string(b'\x04'),
    # rows: [1.0, "a"], [], [[[-2.5]]]
    'nested_array': array([[real(1.0), string(b'a')], [], [array([[real(-2.5)]])]]),
    'pointer': kind(PTR),
    'object': kind(OBJECT),
    'int32': kind(INT32),
    'bool': kind(BOOL),
    'undefined': kind(UNDEFINED),
    'array_without_record': kind(ARRAY) + struct.pack('<i', 0),
    # Alignment 8: the double after the 4-byte kind word starts at offset 8.
    'real_aligned8': struct.pack('<i4xd', REAL, 2.5),
}


def write_cases(cases):
    """Writes each case as <name>.bin into the folder the first argument names."""
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for name, data in cases.items():
        with open(os.path.join(out_dir, name + '.bin'), 'wb') as f:
            f.write(data)


def main():
    write_cases(CASES)


if __name__ == '__main__':
    main()
