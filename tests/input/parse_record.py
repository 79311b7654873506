#!/usr/bin/env python3
"""Reads an input record file frame by frame and checks each frame against the fields a test logged for
that step. The layout is the documented frame, independent of the runtime's code:

    uint16   last character
    uint16   typed text, 1025 units
    int32    last key, held key
    uint8    key down[256], key released[256], key pressed[256]
    int32    last button[10], button held[10]
    uint8    button down[10][3], button released[10][3], button pressed[10][3]
    uint8    wheel up[10], wheel down[10]
    int32    cursor x, cursor y, mouse x, mouse y

all little-endian, no padding. Usage: parse_record.py <record file> <logged fields>. Prints
"<n> frames match" and exits 0, or names the first difference and exits 1."""
import struct
import sys

FRAME = struct.Struct("<H1025Hii256s256s256s10i10i30s30s30s10s10siiii")
assert FRAME.size == 3034, FRAME.size


def decode(raw):
    v = FRAME.unpack(raw)
    text = v[1:1026]
    i = 1026
    f = {"lastchar": v[0]}
    units = []
    for unit in text:
        if unit == 0:
            break
        units.append(unit)
    f["string"] = ",".join(str(u) for u in units)
    f["lastkey"], f["key"] = v[i], v[i + 1]
    down, released, pressed = v[i + 2], v[i + 3], v[i + 4]
    f["down"] = ",".join(str(k) for k in range(256) if down[k])
    f["pressed"] = ",".join(str(k) for k in range(256) if pressed[k])
    last_button = v[i + 5:i + 15]
    button = v[i + 15:i + 25]
    i += 25
    bdown, breleased = v[i], v[i + 1]
    wheel_up, wheel_down = v[i + 3], v[i + 4]
    f["mb"], f["mlast"] = button[0], last_button[0]
    f["bdown"] = "".join(str(b) for b in bdown[0:3])
    f["breleased"] = "".join(str(b) for b in breleased[0:3])
    f["wheel"] = "%d%d" % (wheel_up[0], wheel_down[0])
    f["mouse"] = "%d,%d" % (v[i + 7], v[i + 8])
    return f


def parse_logged(line):
    parts = line.split(" ")
    fields = {}
    for part in parts[1:]:
        name, _, value = part.partition("=")
        fields[name] = value
    return int(parts[0]), fields


def main():
    record, logged = sys.argv[1], sys.argv[2]
    with open(record, "rb") as f:
        data = f.read()
    with open(logged) as f:
        lines = [line.rstrip("\n") for line in f if line.strip()]
    if len(data) % FRAME.size:
        print("the file is %d bytes, not a whole number of frames" % len(data))
        return 1
    frames = len(data) // FRAME.size
    if frames != len(lines):
        print("%d frames for %d logged steps" % (frames, len(lines)))
        return 1
    for n, line in enumerate(lines):
        step, want = parse_logged(line)
        got = decode(data[n * FRAME.size:(n + 1) * FRAME.size])
        for name, value in want.items():
            if str(got[name]) != value:
                print("step %d: %s is %s in the file, %s in the log" % (step, name, got[name], value))
                return 1
    print("%d frames match" % frames)
    return 0


if __name__ == "__main__":
    sys.exit(main())
