#!/usr/bin/env python3
"""Expected results of the interpreter's operations, computed with Python integers masked to 32 and 64 bits
(ctypes), math.fmod, "%g"/"%d" formatting and bytes comparison. Writes <out>/rows.txt, one row a line:

    operation|left|right|expected

Operands: d:<real> f:<real> i:<int> l:<int> b:<int> sx:<hex> (".s" item), v:i<int> v:l<int> v:r<real>
(".v" values). Expected: "<type> <value>" (d, i, l, b, s, "v int32", "v int64", "v real") or "!<message>".
Reals are written with "%.17g".
"""
import ctypes
import math
import sys

I32_MIN, I32_MAX = -(1 << 31), (1 << 31) - 1
I64_MIN, I64_MAX = -(1 << 63), (1 << 63) - 1

rows = []


def i32(x):
    return ctypes.c_int32(x & 0xFFFFFFFF).value


def i64(x):
    return ctypes.c_int64(x & 0xFFFFFFFFFFFFFFFF).value


def u64(x):
    return ctypes.c_uint64(x & 0xFFFFFFFFFFFFFFFF).value


def u32(x):
    return ctypes.c_uint32(x & 0xFFFFFFFF).value


def real(x):
    return "%.17g" % x


def trunc64(x):
    """Real to int64 as x86 converts: NaN and out-of-range give the minimum."""
    if math.isnan(x) or not (-9223372036854775808.0 <= x < 9223372036854775808.0):
        return I64_MIN
    return int(x)


def trunc32(x):
    if math.isnan(x) or not (-2147483649.0 < x < 2147483648.0):
        return I32_MIN
    return int(x)


def quot(a, b):
    q = abs(a) // abs(b)
    return q if (a < 0) == (b < 0) else -q


def rem(a, b):
    return a - b * quot(a, b)


NAMES = {"div": "DoDiv", "rem": "DoRem", "mod": "DoMod"}


def integer_result(op, a, b, wrap):
    if op in ("div", "rem", "mod") and b == 0:
        return "!%s :: Divide by zero" % NAMES[op]
    if op == "add":
        return wrap(a + b)
    if op == "sub":
        return wrap(a - b)
    if op == "mul":
        return wrap(a * b)
    if op in ("div", "rem"):
        return wrap(quot(a, b))
    if op == "mod":
        return wrap(rem(a, b))
    if op == "and":
        return wrap(a & b)
    if op == "or":
        return wrap(a | b)
    if op == "xor":
        return wrap(a ^ b)
    raise ValueError(op)


def integer_rows():
    ints32 = [0, 1, -1, 2, -2, 7, -7, 12345, I32_MAX, I32_MIN]
    ints64 = [0, 1, -1, 7, -7, 9000000000, -9000000000, I64_MAX, I64_MIN]
    ops = ["add", "sub", "mul", "div", "rem", "mod", "and", "or", "xor"]
    for op in ops:
        for a in ints32:
            for b in ints32:
                r = integer_result(op, a, b, i32)
                rows.append((op, "i:%d" % a, "i:%d" % b, r if isinstance(r, str) else "i %d" % r))
                rows.append((op, "v:i%d" % a, "v:i%d" % b, r if isinstance(r, str) else "v int32 %d" % r))
        for a in ints64:
            for b in ints64:
                r = integer_result(op, a, b, i64)
                rows.append((op, "l:%d" % a, "l:%d" % b, r if isinstance(r, str) else "l %d" % r))
        # int32 with int64 in both orders: the int32 is sign-extended
        for a in [1, -7, I32_MIN]:
            for b in [7, -1, I64_MIN, 0]:
                r = integer_result(op, a, b, i64)
                rows.append((op, "i:%d" % a, "l:%d" % b, r if isinstance(r, str) else "l %d" % r))
                r = integer_result(op, b, a, i64)
                rows.append((op, "l:%d" % b, "i:%d" % a, r if isinstance(r, str) else "l %d" % r))


def shift64(op, a, count, sign_mask):
    c = count & 0xFF
    if op == "shl":
        r = i64(a << c) if c < 64 else 0
    else:
        r = (a >> c) if c < 64 else (-1 if a < 0 else 0)
        if sign_mask:
            r &= I64_MAX
    return r


def shift_rows():
    counts = [0, 1, 31, 32, 33, 63, 64, 255, 256, -1, -31, -64]
    lefts32 = [1, -8, I32_MIN, I32_MAX, 0x12345678, -1]
    lefts64 = [1, -8, I64_MIN, I64_MAX, 0x123456789ABCDEF, -1]
    for op in ("shl", "shr"):
        for mask in ([False, True] if op == "shr" else [False]):
            name = op + (".s" if mask else "")
            for a in lefts32:
                for c in counts:
                    if op == "shl":
                        r = i32(a << (c & 31))
                    else:
                        r = a >> (c & 31)
                        if mask:
                            r &= I32_MAX
                    rows.append((name, "i:%d" % a, "i:%d" % c, "i %d" % r))
                    # int32 L with a real count: 32-bit, the count modulo 32; shr reads the pattern unsigned
                    if op == "shl":
                        rr = i32(a << (c & 31))
                    else:
                        rr = a >> (c & 31)
                        if mask:
                            rr &= I32_MAX
                        rr = u32(rr)
                    rows.append((name, "i:%d" % a, "d:%d" % c, "d " + real(float(rr))))
                    # int32 L with an int64 count: 64-bit
                    rows.append((name, "i:%d" % a, "l:%d" % c, "l %d" % shift64(op, a, c, mask)))
            for a in lefts64:
                for c in counts:
                    r = shift64(op, a, c, mask)
                    rows.append((name, "l:%d" % a, "l:%d" % c, "l %d" % r))
                    rows.append((name, "l:%d" % a, "i:%d" % c, "l %d" % r))
            # reals: 64-bit on the truncated operands; shr's result read as unsigned
            for a in [-8.0, 8.5, -1.0, 1e20, float("nan"), 4.0e18, -0.75]:
                for c in [0.0, 1.0, 1.9, 31.0, 32.0, 63.0, 64.0, 255.0, -1.0, 1e20, float("nan")]:
                    r = shift64(op, trunc64(a), trunc64(c), mask)
                    if op == "shr":
                        r = u64(r)
                    rows.append((name, "d:%r" % a, "d:%r" % c, "d " + real(float(r))))


def fmod_rows():
    lefts = [7.5, -7.5, 5.0, -5.0, 1e20, -0.0, 0.1, 2.0 ** 60 + 3]
    rights = [2.0, -2.0, 0.3, 1e-11, 1e-10, 2e-10, float("inf"), -1e300, 0.0, -0.0]
    for a in lefts:
        for b in rights:
            if abs(b) < 1e-10:
                exp = "!DoMod :: Divide by zero"
            else:
                exp = "d " + real(math.fmod(a, b))
            rows.append(("mod", "d:%r" % a, "d:%r" % b, exp))
    # a real with an int32 in both orders
    for a, b in [(7.5, 2), (-7.5, 2), (9.0, -4)]:
        rows.append(("mod", "d:%r" % a, "i:%d" % b, "d " + real(math.fmod(a, float(b)))))
        rows.append(("mod", "i:%d" % b, "d:%r" % a, "d " + real(math.fmod(float(b), a))))
    # rem of reals: integer parts, truncated quotient, as a real
    for a in [7.9, -7.9, 1e20, 100.0, float("nan")]:
        for b in [2.9, -2.9, 1.0, 0.99, -0.5, 3e9, float("nan")]:
            if trunc32(abs(b)) == 0:
                exp = "!DoRem :: Divide by zero"
            else:
                exp = "d " + real(float(i64(quot(trunc64(a), trunc64(b)))))
            rows.append(("rem", "d:%r" % a, "d:%r" % b, exp))


def conv_rows():
    reals = [0.5, -0.5, 2.9, -2.9, 1e20, -1e20, float("nan"), float("inf"), float("-inf"), 2147483647.5,
             -2147483648.9, 2147483648.0, 9.2e18, -9.3e18, 0.0]
    for x in reals:
        rows.append(("conv.i", "d:%r" % x, "", "i %d" % trunc32(x)))
        rows.append(("conv.l", "d:%r" % x, "", "l %d" % trunc64(x)))
        rows.append(("conv.i", "v:r%r" % x, "", "i %d" % trunc32(x)))
    for x in [0.1, 1e20, 123456789.0, -0.0, 1e-5, 100000.0, 1000000.0, 3.5, -2.25, 1e300, float("inf"),
              float("-inf"), 0.0001, 123456.5]:
        rows.append(("conv.s", "d:%r" % x, "", "s " + ("%g" % x)))
        rows.append(("conv.s", "v:r%r" % x, "", "s " + ("%g" % x)))
    for n in [0, -1, 42, I32_MAX, I32_MIN]:
        rows.append(("conv.s", "i:%d" % n, "", "s " + ("%d" % n)))
    for n in [0, -1, 9000000000, I64_MAX, I64_MIN]:
        rows.append(("conv.s", "l:%d" % n, "", "s " + ("%d" % n)))
        rows.append(("conv.i", "l:%d" % n, "", "i %d" % i32(n)))


KINDS = {"lt": lambda c: c < 0, "le": lambda c: c <= 0, "eq": lambda c: c == 0, "ne": lambda c: c != 0,
         "ge": lambda c: c >= 0, "gt": lambda c: c > 0}


def order_rows():
    texts = [b"", b"a", b"ab", b"b", b"A", b"z", b"\xc3\xa9", b"\x7f", b"\x80", b"\xff", b"a\x80"]
    for a in texts:
        for b in texts:
            c = (a > b) - (a < b)
            for k, f in KINDS.items():
                rows.append(("set." + k, "sx:" + a.hex(), "sx:" + b.hex(), "b %d" % int(f(c))))


def main():
    out = sys.argv[1]
    integer_rows()
    shift_rows()
    fmod_rows()
    conv_rows()
    order_rows()
    with open(out + "/rows.txt", "w") as f:
        for r in rows:
            f.write("|".join(r) + "\n")


if __name__ == "__main__":
    main()
