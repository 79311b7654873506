"""Number, trigonometry and geometry built-ins against Python's math and struct, bit for bit.

The probe builtin_eval calls each built-in through the function table. The trigonometry and geometry
built-ins round their steps to single precision: the model below does the same steps with struct 'f'.
"""
import math
import os
import random
import struct
import subprocess
import sys

PI = 3.1415927410125732
PROBE = os.path.join(os.environ.get("KV_BUILD_DIR", "build"), "tests", "probes", "builtin_eval")


def real_token(x):
    return "r:" + float(x).hex()


def run_probe(calls, env=None):
    """calls: list of (name, [args as floats]); returns one (value, errors) per call."""
    lines = [" ".join([name] + [real_token(a) for a in args]) for name, args in calls]
    out = subprocess.run([PROBE], input="\n".join(lines) + "\n", capture_output=True, text=True, env=env,
                         check=True).stdout.splitlines()
    assert len(out) == len(calls), (len(out), len(calls))
    results = []
    for line in out:
        tokens = line.split(" ")
        value = tokens[0]
        errors = [bytes.fromhex(t[2:]).decode("utf-8", "replace") for t in tokens[1:]]
        if value.startswith("r:"):
            value = float.fromhex(value[2:])
        results.append((value, errors))
    return results


def f32(x):
    if math.isnan(x) or math.isinf(x):
        return x
    return struct.unpack("<f", struct.pack("<f", x))[0]


def bits(x):
    return struct.pack("<d", x)


def same(a, b):
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    return isinstance(a, float) and isinstance(b, float) and bits(a) == bits(b)


def c_div(a, b):
    try:
        return a / b
    except ZeroDivisionError:
        if a == 0 or math.isnan(a):
            return math.nan
        return math.copysign(math.inf, a) * math.copysign(1.0, b)


def c_log(x):
    if math.isnan(x):
        return x
    if x == 0:
        return -math.inf
    if x < 0:
        return math.nan
    return math.log(x)


def c_log10(x):
    return c_log(x) if (math.isnan(x) or x <= 0) else math.log10(x)


def c_exp(x):
    try:
        return math.exp(x)
    except OverflowError:
        return math.inf


def c_pow(x, n):
    try:
        return math.pow(x, n)
    except OverflowError:
        odd = n == math.floor(n) and math.fmod(n, 2) != 0
        return -math.inf if (x < 0 and odd) else math.inf
    except ValueError:
        if x == 0 and n < 0:
            odd = n == math.floor(n) and math.fmod(n, 2) != 0
            return math.copysign(math.inf, x) if odd else math.inf
        return math.nan


def c_round_int(x, fn):
    """An integer-valued function of Python that raises on inf/NaN, keeping C's signed zeros."""
    if not math.isfinite(x):
        return x
    r = float(fn(x))
    return math.copysign(r, x) if r == 0 else r


def int32_round(x):
    if not math.isfinite(x):
        return -2147483648.0
    r = round(x)  # ties to even
    return float(r) if -2147483648 <= r <= 2147483647 else -2147483648.0


def arguments(rng):
    special = [0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308 / 3, 1e-310, math.inf, -math.inf, math.nan,
               2.0 ** 31, -2.0 ** 31, 2.0 ** 31 - 1, -2.0 ** 31 - 1, 2.0 ** 31 - 0.5, -2.0 ** 31 - 0.5, 3e9, -3e9,
               1e300, -1e300, 2.0 ** 53, 2.0 ** 53 + 2, 1.0, -1.0, 0.1, 1e-5, 1e15 + 0.5]
    special += [k + 0.5 for k in range(-20, 20)]
    values = list(special)
    while len(values) < 10000:
        pick = rng.random()
        if pick < 0.3:
            values.append(rng.uniform(-100, 100))
        elif pick < 0.5:
            values.append(rng.randint(-10 ** 6, 10 ** 6) / 2)
        elif pick < 0.8:
            values.append(math.copysign(10 ** rng.uniform(-320, 308), rng.random() - 0.5))
        else:
            values.append(struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0])
    return values


def check(label, calls, expected, failures):
    results = run_probe(calls)
    bad = 0
    for (name, args), (value, errors), want in zip(calls, results, expected):
        if not same(value, want) or errors:
            bad += 1
            if bad <= 5:
                failures.append("%s: %s(%s) gave %r %s, expected %r" % (label, name, args, value, errors, want))
    if bad > 5:
        failures.append("%s: %d more mismatches" % (label, bad - 5))
    return len(calls)


def main():
    rng = random.Random(20261211)
    failures = []
    values = arguments(rng)
    finite = [x for x in values if math.isfinite(x)]

    unary = {
        "floor": lambda x: c_round_int(x, math.floor),
        "ceil": lambda x: c_round_int(x, math.ceil),
        "abs": math.fabs,
        "sqr": lambda x: x * x,
        "exp": c_exp,
        "ln": c_log,
        "log10": c_log10,
        "frac": lambda x: math.modf(x)[0],
        "sign": lambda x: 1.0 if x > 0 else 0.0 if x == 0 else -1.0,
        "log2": lambda x: c_div(c_log(x), math.log(2.0)),
        "round": int32_round,
        "degtorad": lambda x: x * PI / 180,
        "radtodeg": lambda x: x * 180 / PI,
    }
    total = 0
    for name, fn in unary.items():
        total += check(name, [(name, [x]) for x in values], [fn(x) for x in values], failures)
    roots = [x for x in values if x >= 0 or math.isnan(x)]
    total += check("sqrt", [("sqrt", [x]) for x in roots], [math.sqrt(x) if not math.isnan(x) else x for x in roots],
                   failures)

    # Two-argument forms over pairs drawn from the same values (bases kept where logarithms mean something).
    pairs = [(rng.choice(values), rng.choice(values)) for _ in range(4000)]
    pairs += [(2.0, 8.0), (-8.0, 1.0 / 3), (0.0, -1.0), (-0.0, -3.0), (10.0, 400.0), (1.0, 5.0)]
    total += check("power", [("power", [a, b]) for a, b in pairs], [c_pow(a, b) for a, b in pairs], failures)
    total += check("logn", [("logn", [a, b]) for a, b in pairs], [c_div(c_log(b), c_log(a)) for a, b in pairs],
                   failures)

    # Trigonometry: single-precision argument, degree forms converted and rounded again, the function in
    # double, the result rounded, magnitudes below float32(1e-5) exactly 0.
    snap = f32(1e-5)
    angles = [k * 15.0 for k in range(-48, 49)] + [k * 90.0 for k in range(-40, 41)] + [1e6, -1e6, 3.14159265]
    while len(angles) < 4000:
        angles.append(rng.uniform(-720, 720) if rng.random() < 0.7 else rng.uniform(-1e6, 1e6))

    def snapped(r):
        return 0.0 if abs(r) < snap else r

    def rad(d):
        return f32(f32(d) * PI / 180)

    def deg(r):
        return f32(r * 180 / PI)

    forward = {"sin": math.sin, "cos": math.cos, "tan": math.tan}
    for name, fn in forward.items():
        total += check(name, [(name, [a]) for a in angles], [snapped(f32(fn(f32(a)))) for a in angles], failures)
        total += check("d" + name, [("d" + name, [a]) for a in angles],
                       [snapped(f32(fn(rad(a)))) for a in angles], failures)
    ratios = [rng.uniform(-1, 1) for _ in range(2000)] + [-1.0, 1.0, 0.0, 0.5, -0.5, 1e-6]
    for name, fn in {"arcsin": math.asin, "arccos": math.acos}.items():
        total += check(name, [(name, [x]) for x in ratios], [snapped(f32(fn(f32(x)))) for x in ratios], failures)
        total += check("d" + name, [("d" + name, [x]) for x in ratios],
                       [snapped(deg(f32(fn(f32(x))))) for x in ratios], failures)
    slopes = angles[:2000]
    total += check("arctan", [("arctan", [x]) for x in slopes], [snapped(f32(math.atan(f32(x)))) for x in slopes],
                   failures)
    total += check("darctan", [("darctan", [x]) for x in slopes],
                   [snapped(deg(f32(math.atan(f32(x))))) for x in slopes], failures)
    points = [(rng.uniform(-100, 100), rng.uniform(-100, 100)) for _ in range(2000)] + [(0.0, 0.0), (1.0, 0.0),
                                                                                       (0.0, -1.0)]
    total += check("arctan2", [("arctan2", [y, x]) for y, x in points],
                   [snapped(f32(math.atan2(f32(y), f32(x)))) for y, x in points], failures)
    total += check("darctan2", [("darctan2", [y, x]) for y, x in points],
                   [snapped(deg(f32(math.atan2(f32(y), f32(x))))) for y, x in points], failures)

    # Out of the inverse functions' domain: the error text, and 0.
    for name, arg, text in [("arcsin", 1.5, "Error in function arcsin()."),
                            ("darccos", -2.0, "Error in function arccos()."),
                            ("darcsin", 1.5, "Error in function arcsin().")]:
        (value, errors), = run_probe([(name, [arg])])
        if value != 0.0 or errors != [text]:
            failures.append("%s(%r) gave %r %r" % (name, arg, value, errors))

    # Geometry over seeded inputs against a model of the single-precision steps.
    quads = []
    for _ in range(4000):
        pick = rng.random()
        if pick < 0.6:
            quads.append([rng.uniform(-1000, 1000) for _ in range(4)])
        elif pick < 0.8:
            quads.append([float(rng.randint(-20, 20)) for _ in range(4)])
        else:
            x, y = rng.uniform(-50, 50), rng.uniform(-50, 50)
            quads.append([x, y, x, y + rng.choice([-3.0, 0.0, 3.0])])

    def point_direction(x1, y1, x2, y2):
        dx, dy = f32(f32(x2) - f32(x1)), f32(f32(y2) - f32(y1))
        if dx == 0:
            return 270.0 if dy > 0 else 90.0 if dy < 0 else 0.0
        a = f32(math.atan2(dy, dx))
        a = f32(a * 180 / PI)
        return f32(360 - a) if a > 0 else -a

    lsnap = f32(0.0001)

    def lengthdir_snap(r):
        frac, whole = math.modf(r)
        return whole if abs(frac) < lsnap else r

    def lengthdir_x(length, direction):
        return lengthdir_snap(f32(f32(math.cos(rad(direction))) * f32(length)))

    def lengthdir_y(length, direction):
        return lengthdir_snap(-f32(f32(math.sin(rad(direction))) * f32(length)))

    def angle_difference(a, b):
        d = f32(f32(a) - f32(b))
        d = f32(math.fmod(d, 360))
        d = f32(math.fmod(d + 540, 360))
        return d - 180

    total += check("point_direction", [("point_direction", q) for q in quads], [point_direction(*q) for q in quads],
                   failures)
    lengths = [(rng.uniform(-100, 100) if rng.random() < 0.7 else float(rng.randint(0, 20)),
                rng.uniform(-720, 720) if rng.random() < 0.7 else rng.randint(-8, 8) * 45.0) for _ in range(4000)]
    total += check("lengthdir_x", [("lengthdir_x", list(p)) for p in lengths], [lengthdir_x(*p) for p in lengths],
                   failures)
    total += check("lengthdir_y", [("lengthdir_y", list(p)) for p in lengths], [lengthdir_y(*p) for p in lengths],
                   failures)
    diffs = [(rng.uniform(-1000, 1000), rng.uniform(-1000, 1000)) if rng.random() < 0.7
             else (rng.randint(-8, 8) * 90.0, rng.randint(-8, 8) * 90.0) for _ in range(4000)]
    total += check("angle_difference", [("angle_difference", list(p)) for p in diffs],
                   [angle_difference(*p) for p in diffs], failures)

    if failures:
        print("\n".join(failures))
        return 1
    print("%d calls bit-equal" % total)
    return 0


if __name__ == "__main__":
    sys.exit(main())
