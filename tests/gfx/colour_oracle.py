#!/usr/bin/env python3
"""Reference HSV conversions for the colour tests, written into the folder given first.

Every step is rounded to single precision (struct 'f'), the way the runtime computes. Beside each answer the
file carries colorsys's double-precision answer in bytes as a sanity bound.
Lines of rgb_hsv.txt: red green blue -> hue saturation value, then colorsys hue saturation value.
Lines of hsv_rgb.txt: hue saturation value -> red green blue, then colorsys red green blue.
"""
import colorsys
import os
import struct
import sys


def f(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def to_byte(x):
    # Truncate toward zero, clamp to a byte.
    n = int(x)
    return max(0, min(255, n))


def rgb_to_hsv(red, green, blue):
    r, g, b = f(red / 255.0), f(green / 255.0), f(blue / 255.0)
    hi, lo = max(r, g, b), min(r, g, b)
    d = f(hi - lo)
    v = hi
    s = f(d / hi) if hi != 0 else 0.0
    h = 0.0
    if s != 0:
        if r == hi:
            h = f(f(f(g - b) * 60.0) / d)
        elif g == hi:
            h = f(f(f(f(b - r) * 60.0) / d) + 120.0)
        else:
            h = f(f(f(f(r - g) * 60.0) / d) + 240.0)
        if h < 0:
            h = f(h + 360.0)
    return (to_byte(f(f(f(h * 255.0) / 360.0) + 0.5)), to_byte(f(f(s * 255.0) + 0.5)),
            to_byte(f(f(v * 255.0) + 0.5)))


def hsv_to_rgb(hue, sat, val):
    h = f(f(hue * 360.0) / 255.0)
    if h == 360.0:
        h = 0.0
    s, v = f(sat / 255.0), f(val / 255.0)
    if s == 0:
        rgb = (v, v, v)
    else:
        sector = f(h / 60.0)
        i = int(sector)
        fr = f(sector - i)
        p = f(f(1.0 - s) * v)
        q = f(f(1.0 - f(fr * s)) * v)
        t = f(f(1.0 - f(f(1.0 - fr) * s)) * v)
        rgb = {0: (v, t, p), 1: (q, v, p), 2: (p, v, t), 3: (p, q, v), 4: (t, p, v)}.get(i, (v, p, q))
    return tuple(to_byte(f(f(c * 255.0) + 0.5)) for c in rgb)


def cases():
    grid = range(0, 256, 17)
    full = [(x, 255, 255) for x in range(256)]
    return full + [(a, b, c) for a in grid for b in grid for c in grid]


def main():
    folder = sys.argv[1]
    lines = []
    for r, g, b in cases():
        ch, cs, cv = colorsys.rgb_to_hsv(r / 255.0, g / 255.0, b / 255.0)
        ref = (round(ch * 255), round(cs * 255), round(cv * 255))
        lines.append("%d %d %d %d %d %d %d %d %d" % ((r, g, b) + rgb_to_hsv(r, g, b) + ref))
    with open(os.path.join(folder, "rgb_hsv.txt"), "w") as out:
        out.write("\n".join(lines) + "\n")
    lines = []
    for h, s, v in cases():
        cr, cg, cb = colorsys.hsv_to_rgb(h / 255.0, s / 255.0, v / 255.0)
        ref = (round(cr * 255), round(cg * 255), round(cb * 255))
        lines.append("%d %d %d %d %d %d %d %d %d" % ((h, s, v) + hsv_to_rgb(h, s, v) + ref))
    with open(os.path.join(folder, "hsv_rgb.txt"), "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
