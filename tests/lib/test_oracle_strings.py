"""String built-ins against Python's own formatting, encoding, search and slicing.

The probe builtin_eval calls each built-in through the function table; texts travel as hex bytes.
"""
import math
import os
import random
import subprocess
import sys

PROBE = os.path.join(os.environ.get("KV_BUILD_DIR", "build"), "tests", "probes", "builtin_eval")


def token(arg):
    if isinstance(arg, str):
        return "s:" + arg.encode("utf-8").hex()
    return "r:" + float(arg).hex()


def run_probe(calls, env=None):
    lines = [" ".join([name] + [token(a) for a in args]) for name, args in calls]
    out = subprocess.run([PROBE], input="\n".join(lines) + "\n", capture_output=True, text=True, env=env,
                         check=True).stdout.splitlines()
    assert len(out) == len(calls), (len(out), len(calls))
    results = []
    for line in out:
        tokens = line.split(" ")
        value = tokens[0]
        if value.startswith("s:"):
            value = bytes.fromhex(value[2:])
        elif value.startswith("r:"):
            value = float.fromhex(value[2:])
        results.append((value, tokens[1:]))
    return results


def check(label, calls, expected, failures, env=None):
    results = run_probe(calls, env)
    bad = 0
    for (name, args), (value, errors), want in zip(calls, results, expected):
        if isinstance(want, str):
            want = want.encode("utf-8", "surrogatepass")
        if value != want or errors:
            bad += 1
            if bad <= 5:
                failures.append("%s: %s(%r) gave %r %s, expected %r" % (label, name, args, value, errors, want))
    if bad > 5:
        failures.append("%s: %d more mismatches" % (label, bad - 5))
    return len(calls)


def random_text(rng, n):
    out = []
    for _ in range(n):
        kind = rng.random()
        if kind < 0.4:
            out.append(chr(rng.randint(0x20, 0x7E)))
        elif kind < 0.7:
            out.append(chr(rng.randint(0x80, 0x7FF)))
        else:
            c = rng.randint(0x800, 0xFFFF)
            while 0xD800 <= c <= 0xDFFF:
                c = rng.randint(0x800, 0xFFFF)
            out.append(chr(c))
    return "".join(out)


def main():
    rng = random.Random(371122)
    failures = []
    total = 0

    # string_format: the field width is total + decimals.
    grid = []
    for v in [0.0, -0.0, 1.0, -1.0, 3.14159, -2.5, 2.675, 0.005, 123.456, 1e10, -1e20, 1e-7, 1e300, math.inf, math.nan]:
        for tot in range(-6, 13, 3):
            for dec in range(0, 7):
                grid.append((v, tot, dec))
    total += check("string_format", [("string_format", list(g)) for g in grid],
                   ["%*.*f" % (t + d, d, v) for v, t, d in grid], failures)

    # string: integral reals as integers, others with two decimals, NaN by name.
    reals = [0.0, -0.0, 2.0, -7.0, 2.5, 1 / 3, -1 / 3, 1e15, -(2.0 ** 52), 2.0 ** 53 - 1, 0.005, 123.456, math.nan]
    reals += [rng.uniform(-1e6, 1e6) for _ in range(300)] + [float(rng.randint(-10 ** 12, 10 ** 12)) for _ in range(300)]
    total += check("string", [("string", [v]) for v in reals],
                   ["NaN" if math.isnan(v) else "%d" % v if v == math.floor(v) else "%.2f" % v for v in reals],
                   failures)

    # chr: seven bits below 128, else the UTF-8 form of the code point (surrogates included), 0 empty.
    codes = list(range(-5, 65536))
    total += check("chr", [("chr", [c]) for c in codes],
                   [b"" if c == 0 else bytes([c & 0x7F]) if c < 128 else chr(c).encode("utf-8", "surrogatepass")
                    for c in codes], failures)

    # Character built-ins over random texts of one-, two- and three-byte characters.
    texts = [random_text(rng, rng.randint(1, 40)) for _ in range(2000)]
    calls, want = [], []

    def add(name, args, expected):
        calls.append((name, args))
        want.append(expected)

    for s in texts:
        n = len(s)
        if rng.random() < 0.6:
            i = rng.randint(0, n - 1)
            needle = s[i:i + rng.randint(1, 3)]
        else:
            needle = random_text(rng, rng.randint(1, 2))
        pos = rng.randint(-2, n + 2)
        count = rng.randint(-2, n + 2)
        add("string_length", [s], float(n))
        add("string_byte_length", [s], float(len(s.encode("utf-8"))))
        add("string_pos", [needle, s], float(s.find(needle) + 1))
        p1 = max(pos, 1) - 1
        add("string_copy", [s, pos, count], s[p1:p1 + max(count, 0)])
        ci = max(pos - 1, 0)
        add("string_char_at", [s, pos], s[ci] if ci < n else "")
        add("string_ord_at", [s, pos], float(ord(s[ci])) if ci < n else -1.0)
        di = pos - 1
        add("string_delete", [s, pos, count], s if di < 0 or di >= n or count <= 0 else s[:di] + s[di + count:])
        ip = min(max(pos - 1, 0), n)
        add("string_insert", [needle, s, pos], s[:ip] + needle + s[ip:])
        new = random_text(rng, rng.randint(0, 3))
        add("string_replace", [s, needle, new], s.replace(needle, new, 1))
        add("string_replace_all", [s, needle, new], s.replace(needle, new))
    total += check("characters", calls, want, failures)

    # Case mapping under C.UTF-8 for the letters whose Python mapping is one character.
    letters = [chr(c) for r in [(0xC0, 0xFF), (0x100, 0x17F), (0x370, 0x3FF), (0x400, 0x4FF)]
               for c in range(r[0], r[1] + 1) if chr(c).isalpha()]
    lowers = [c for c in letters if len(c.lower()) == 1]
    uppers = [c for c in letters if len(c.upper()) == 1]
    env = dict(os.environ, LC_ALL="C.UTF-8")
    total += check("string_lower", [("string_lower", [c]) for c in lowers], [c.lower() for c in lowers], failures, env)
    total += check("string_upper", [("string_upper", [c]) for c in uppers], [c.upper() for c in uppers], failures, env)

    if failures:
        print("\n".join(failures))
        return 1
    print("%d calls equal" % total)
    return 0


if __name__ == "__main__":
    sys.exit(main())
