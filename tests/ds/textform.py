#!/usr/bin/env python3
"""Writes the expected text form of the ds containers from the record layout alone.

usage: textform.py OUTDIR            -> OUTDIR/expected.txt: "<container> <case> <hex>" per line
       textform.py --seeds OUTDIR    -> fuzz seeds for the ds_read target, one text per file

A record is little-endian: the header 100 * container code + version, then the body; each value is its
int32 kind word and a payload by kind. The text is the record's bytes as upper-case hex digits.
"""
import os
import struct
import sys

REAL, STRING, ARRAY, POINTER, UNDEFINED, INT32, INT64, BOOL = 0, 1, 2, 3, 5, 7, 10, 13
STACK, QUEUE, LIST, MAP, PRIORITY, GRID = 1, 2, 3, 4, 5, 6


def i32(n):
    return struct.pack("<i", n)


def value(v):
    """v is (kind, payload) as the cases below spell it."""
    kind, payload = v
    out = struct.pack("<I", kind)
    if kind in (REAL, BOOL):
        out += struct.pack("<d", payload)
    elif kind == STRING:
        raw = payload.encode("utf-8")
        out += i32(len(raw)) + raw
    elif kind == ARRAY:
        out += i32(len(payload))
        for row in payload:
            out += i32(len(row)) + b"".join(value(x) for x in row)
    elif kind in (POINTER, INT64):
        out += struct.pack("<q", payload)
    elif kind == INT32:
        out += i32(payload)
    elif kind == UNDEFINED:
        pass
    else:
        raise ValueError(kind)
    return out


def real(d):
    return (REAL, d)


def text(s):
    return (STRING, s)


# The storable kinds, by the names the C++ suite builds them under.
CASES = {
    "real": real(-1234.5625),
    "string": text("h\u00e9llo w\u00f6rld \u2713"),
    "empty": text(""),
    "array2": (ARRAY, [[real(1.0), text("a")], [real(2.0)]]),
    "array3": (ARRAY, [[real(1.0)], [], [(ARRAY, [[real(7.0), text("x")]]), (INT32, 9)]]),
    "pointer": (POINTER, 0x123456789ABCDEF0),
    "undefined": (UNDEFINED, None),
    "int32": (INT32, -7),
    "int64": (INT64, (1 << 40) + 3),
    "bool": (BOOL, 1.0),
}

QUEUE_GROWTH = 16  # an enqueue into a full queue adds 16 slots; never-used slots read as real 0


def container(code, v):
    head = i32(code * 100 + 2)
    if code == STACK:
        return head + i32(1) + value(v)
    if code == QUEUE:
        return head + i32(1) + i32(0) + i32(QUEUE_GROWTH) + value(v) + value(real(0.0)) * (QUEUE_GROWTH - 1)
    if code == LIST:
        return head + i32(1) + value(v)
    if code == MAP:
        return head + i32(1) + value(text("k")) + value(v)
    if code == PRIORITY:
        return head + i32(1) + value(real(2.0)) + value(v)
    if code == GRID:
        # 2 x 3 grid, cell (x, y) = 10x + y but for (1, 0); written x outer, y inner
        cells = b""
        for x in range(2):
            for y in range(3):
                cells += value(v) if (x, y) == (1, 0) else value(real(10.0 * x + y))
        return head + i32(2) + i32(3) + cells
    raise ValueError(code)


NAMES = {STACK: "stack", QUEUE: "queue", LIST: "list", MAP: "map", PRIORITY: "priority", GRID: "grid"}


def hexed(b):
    return b.hex().upper()


def records():
    out = []
    for code, name in NAMES.items():
        for case, v in CASES.items():
            out.append((name, case, container(code, v)))
    out.append(("list", "emptylist", i32(302) + i32(0)))
    # Version 1: reals, strings and arrays carry their payload; other kinds carry none (here an int32 word).
    v1 = [real(2.5), text("ab"), (ARRAY, [[real(1.0)]])]
    body = b"".join(value(x) for x in v1) + struct.pack("<I", INT32) + value(real(4.0))
    out.append(("list", "version1", i32(301) + i32(5) + body))
    # The legacy value form: kind, real and string, all three always present.
    legacy = [(REAL, 3.5, ""), (STRING, 0.0, "txt"), (INT32, 9.0, "zz"), (REAL, -1.0, "ignored")]
    body = b"".join(struct.pack("<i", k) + struct.pack("<d", d) + i32(len(s)) + s.encode() for k, d, s in legacy)
    out.append(("list", "legacy", i32(301) + i32(len(legacy)) + body))
    # A queue that has dequeued two of five values: tail 5, head 2, 16 slots.
    slots = [real(float(i + 1)) for i in range(5)] + [real(0.0)] * 11
    out.append(("queue", "dequeued", i32(202) + i32(5) + i32(2) + i32(16) + b"".join(value(s) for s in slots)))
    return out


def write_expected(folder):
    with open(os.path.join(folder, "expected.txt"), "w") as f:
        for name, case, rec in records():
            f.write("%s %s %s\n" % (name, case, hexed(rec)))


def write_seeds(folder):
    """Fuzz seeds: each file is one text, as a reader gets it."""
    os.makedirs(folder, exist_ok=True)
    for name, case, rec in records():
        if case in ("string", "array3", "pointer", "int64", "emptylist", "version1", "legacy", "dequeued"):
            with open(os.path.join(folder, "%s_%s" % (name, case)), "wb") as f:
                f.write(hexed(rec).encode())
    flats = ["3:6B6579:76616C", "0:3FF0:4000000000000000,1:61:3FF0,2:40:6263", "3:41:42,",
             "1:414:4243444546474849505152535455565758"]
    for i, flat in enumerate(flats):
        with open(os.path.join(folder, "flat_%d" % i), "wb") as f:
            f.write(flat.encode())


def main():
    if sys.argv[1] == "--seeds":
        write_seeds(sys.argv[2])
    else:
        write_expected(sys.argv[1])


if __name__ == "__main__":
    main()
