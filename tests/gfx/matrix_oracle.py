#!/usr/bin/env python3
"""Reference 4 x 4 matrices for the matrix tests, in double precision, written into the folder given first.

Matrices are 16 numbers, row-major, row vectors (p' = p x M). Each line of matrices.txt is
    name argument-count arguments... flag 16-results
where flag is 1, or 0 when an inverse does not exist (the results are then the input, unchanged).
Arguments are single-precision values printed exactly, so both sides start from the same numbers.
"""
import math
import os
import random
import struct
import sys

DEG = 0.017453292


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def identity():
    return [1.0 if i % 5 == 0 else 0.0 for i in range(16)]


def sincos(deg):
    a = f32(f32(deg) * f32(DEG))
    return math.sin(a), math.cos(a)


def rot_x(deg):
    s, c = sincos(deg)
    m = identity()
    m[5], m[6], m[9], m[10] = c, -s, s, c
    return m


def rot_y(deg):
    s, c = sincos(deg)
    m = identity()
    m[0], m[2], m[8], m[10] = c, s, -s, c
    return m


def rot_z(deg):
    s, c = sincos(deg)
    m = identity()
    m[0], m[1], m[4], m[5] = c, -s, s, c
    return m


def normalise(v):
    n = math.sqrt(sum(x * x for x in v))
    return [x / n for x in v]


def cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def dot(a, b):
    return sum(x * y for x, y in zip(a, b))


def rot_axis(x, y, z, deg):
    x, y, z = normalise([x, y, z])
    s, c = sincos(deg)
    t = 1 - c
    m = [0.0] * 16
    m[0] = c + t * x * x
    m[1] = t * x * y + s * z
    m[2] = t * x * z - s * y
    m[4] = t * x * y - s * z
    m[5] = c + t * y * y
    m[6] = t * y * z + s * x
    m[8] = t * x * z + s * y
    m[9] = t * y * z - s * x
    m[10] = c + t * z * z
    m[15] = 1.0
    return m


def look_at(ex, ey, ez, tx, ty, tz, ux, uy, uz):
    eye = [ex, ey, ez]
    zv = normalise([tx - ex, ty - ey, tz - ez])
    xv = normalise(cross([ux, uy, uz], zv))
    yv = normalise(cross(zv, xv))
    return [xv[0], yv[0], zv[0], 0.0, xv[1], yv[1], zv[1], 0.0, xv[2], yv[2], zv[2], 0.0,
            -dot(xv, eye), -dot(yv, eye), -dot(zv, eye), 1.0]


def degenerate(a, b, zn, zf):
    return a == 0 or b == 0 or zn == zf


def perspective_fov(fovy, aspect, zn, zf):
    if degenerate(fovy, aspect, zn, zf):
        return identity()
    ys = 1 / math.tan(fovy / 2)
    m = [0.0] * 16
    m[0], m[5], m[10], m[11], m[14] = ys / aspect, ys, zf / (zf - zn), 1.0, -zn * zf / (zf - zn)
    return m


def perspective(w, h, zn, zf):
    if degenerate(w, h, zn, zf):
        return identity()
    m = [0.0] * 16
    m[0], m[5], m[10], m[11], m[14] = 2 * zn / w, 2 * zn / h, zf / (zf - zn), 1.0, -zn * zf / (zf - zn)
    return m


def ortho(w, h, zn, zf):
    if degenerate(w, h, zn, zf):
        return identity()
    m = [0.0] * 16
    m[0], m[5], m[10], m[14], m[15] = 2 / w, 2 / h, 1 / (zf - zn), zn / (zn - zf), 1.0
    return m


def multiply(*ab):
    a, b = ab[:16], ab[16:]
    return [sum(a[r * 4 + k] * b[k * 4 + c] for k in range(4)) for r in range(4) for c in range(4)]


def det3(m, rows, cols):
    (a, b, c), (d, e, g), (h, i, j) = [[m[r * 4 + c] for c in cols] for r in rows]
    return a * (e * j - g * i) - b * (d * j - g * h) + c * (d * i - e * h)


def inverse(*m):
    # Cofactor expansion, transposed (the adjugate), over the determinant.
    cof = [0.0] * 16
    for r in range(4):
        for c in range(4):
            rows = [x for x in range(4) if x != r]
            cols = [x for x in range(4) if x != c]
            cof[r * 4 + c] = (-1) ** (r + c) * det3(m, rows, cols)
    det = sum(m[c] * cof[c] for c in range(4))
    if det == 0:
        return None
    return [cof[c * 4 + r] / det for r in range(4) for c in range(4)]


BUILDERS = {"rotx": rot_x, "roty": rot_y, "rotz": rot_z, "axis": rot_axis, "lookat": look_at,
            "fov": perspective_fov, "persp": perspective, "ortho": ortho, "mul": multiply, "inv": inverse}


def main():
    folder = sys.argv[1]
    rng = random.Random(3106)

    def r(lo, hi):
        return f32(rng.uniform(lo, hi))

    cases = []
    for deg in [0, 30, 45, 90, 180, -135, 270, 359.5]:
        for name in ("rotx", "roty", "rotz"):
            cases.append((name, [f32(deg)]))
    cases.append(("rotx", [r(-720, 720)]))
    for axis in [(0, 0, 1), (1, 1, 0), (3, -4, 12), (0.001, 0, 0)]:
        cases.append(("axis", [f32(v) for v in axis] + [r(-360, 360)]))
    for _ in range(6):
        cases.append(("axis", [r(-5, 5) for _ in range(3)] + [r(-360, 360)]))
    cases.append(("lookat", [0, 0, -10, 0, 0, 0, 0, 1, 0]))
    cases.append(("lookat", [320, 240, -16000, 320, 240, 0, 0, 1, 0]))
    for _ in range(6):
        cases.append(("lookat", [r(-500, 500) for _ in range(6)] + [r(-1, 1), 1.0, r(-1, 1)]))
    for args in [(1.0471975, 4 / 3, 1, 32000), (0.5, 1, 0.1, 100), (0, 1, 1, 2), (1, 0, 1, 2), (1, 1, 5, 5)]:
        cases.append(("fov", [f32(v) for v in args]))
    for args in [(1, 0.75, 1, 32000), (640, 480, 1, 10), (0, 480, 1, 2), (640, 0, 1, 2), (2, 2, 3, 3)]:
        cases.append(("persp", [f32(v) for v in args]))
    for args in [(640, -480, 1, 32000), (100, 50, -1, 1), (0, 480, 1, 2), (640, 0, 1, 2), (2, 2, 7, 7)]:
        cases.append(("ortho", [f32(v) for v in args]))
    for _ in range(8):
        cases.append(("mul", [r(-10, 10) for _ in range(32)]))
    for _ in range(8):
        cases.append(("inv", [r(-10, 10) for _ in range(16)]))
    cases.append(("inv", [f32(v) for v in [2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 10, 20, 30, 1]]))
    cases.append(("inv", [f32(v) for v in [1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 0, 0, 0, 1, 1]]))
    cases.append(("inv", [f32(v) for v in [1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1]]))

    with open(os.path.join(folder, "matrices.txt"), "w") as out:
        for name, args in cases:
            result = BUILDERS[name](*args)
            flag = 1
            if result is None:
                flag, result = 0, list(args)
            out.write("%s %d %s %d %s\n" % (name, len(args), " ".join(repr(float(a)) for a in args), flag,
                                            " ".join(repr(float(x)) for x in result)))


if __name__ == "__main__":
    main()
