"""The date built-ins against Python's datetime, calendar, zoneinfo and time, through the builtin_eval probe.

UTC mode over 10,000 random instants 1970-3000; local mode under two zones away from their transitions;
the three date texts in C.UTF-8 and in a de_DE.UTF-8 made here with localedef.
"""

import calendar
import datetime
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest
import zoneinfo

PROBE = os.path.join(os.environ.get("KV_BUILD_DIR", "build"), "tests", "probes", "builtin_eval")
T_MAX = 32535215999  # 31 December 3000 23:59:59 UTC
EPOCH = 25569
SEED = 20261211


def date_of(t):
    return (t + 0.5) / 86400 + EPOCH


def real(x):
    return "r:" + float(x).hex()


def run_probe(lines, env_extra=None, mode_utc=True):
    env = dict(os.environ)
    env.update(env_extra or {})
    head = ["date_set_timezone " + real(1 if mode_utc else 0)]
    text = "\n".join(head + lines) + "\n"
    out = subprocess.run([PROBE], input=text.encode(), capture_output=True, env=env, timeout=240)
    if out.returncode != 0:
        raise AssertionError("probe failed: %r" % out.stderr[-2000:])
    results = out.stdout.decode("ascii").splitlines()[1:]
    if len(results) != len(lines):
        raise AssertionError("probe answered %d of %d lines" % (len(results), len(lines)))
    return results


def value(answer):
    """The result of one probe line: a float, bytes, or the raw token; errors make it a failure."""
    tokens = answer.split(" ")
    kind, payload = tokens[0].split(":", 1)
    if kind == "r":
        v = float.fromhex(payload)
    elif kind == "s":
        v = bytes.fromhex(payload)
    else:
        v = tokens[0]
    return v, tokens[1:]


def breakdown(t, zone):
    if zone is None:
        return datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=t)
    return datetime.datetime.fromtimestamp(t, zoneinfo.ZoneInfo(zone))


def python_readers(dt):
    leap = calendar.isleap(dt.year)
    yday = dt.timetuple().tm_yday - 1
    second_of_year = yday * 86400 + dt.hour * 3600 + dt.minute * 60 + dt.second
    return {
        "date_get_year": dt.year,
        "date_get_month": dt.month,
        "date_get_week": yday // 7,
        "date_get_day": dt.day,
        "date_get_hour": dt.hour,
        "date_get_minute": dt.minute,
        "date_get_second": dt.second,
        "date_get_weekday": (dt.weekday() + 1) % 7,
        "date_get_day_of_year": yday + 1,
        "date_get_hour_of_year": second_of_year // 3600,
        "date_get_minute_of_year": second_of_year // 60,
        "date_get_second_of_year": second_of_year,
        "date_days_in_month": calendar.monthrange(dt.year, dt.month)[1],
        "date_days_in_year": 366 if leap else 365,
        "date_leap_year": 1 if leap else 0,
    }


def python_timegm(y, mo, d, h, mi, s):
    """UTC fields to seconds, normalising overflow in every field (month first) as the C library does."""
    y += (mo - 1) // 12
    mo = (mo - 1) % 12 + 1
    days = datetime.date(y, mo, 1).toordinal() - datetime.date(1970, 1, 1).toordinal() + d - 1
    return ((days * 24 + h) * 60 + mi) * 60 + s


INCREMENTS = [
    ("date_inc_year", 0, 60),
    ("date_inc_month", 1, 700),
    ("date_inc_week", 2, 3000),
    ("date_inc_day", 2, 20000),
    ("date_inc_hour", 3, 500000),
    ("date_inc_minute", 4, 10 ** 7),
    ("date_inc_second", 5, 10 ** 9),
]


@unittest.skipUnless(os.path.exists(PROBE), "builtin_eval probe not built")
class DatesAgainstPython(unittest.TestCase):
    maxDiff = 4000

    def check(self, lines, expected, answers):
        bad = []
        for line, want, answer in zip(lines, expected, answers):
            got, errors = value(answer)
            if errors or got != want:
                bad.append("%s -> %s, expected %r" % (line, answer, want))
        self.assertEqual(bad[:20], [], "%d mismatches" % len(bad))

    def readers_and_increments(self, instants, zone, rng):
        lines, expected = [], []
        for t in instants:
            d = real(date_of(t))
            dt = breakdown(t, zone)
            for name, want in python_readers(dt).items():
                lines.append("%s %s" % (name, d))
                expected.append(float(want))
            fields = [dt.year, dt.month, dt.day, dt.hour, dt.minute, dt.second]
            lines.append("date_create_datetime " + " ".join(real(f) for f in fields))
            expected.append(date_of(t))
            name, field, span = INCREMENTS[rng.randrange(len(INCREMENTS))]
            amount = rng.randint(-span, span)
            lines.append("%s %s %s" % (name, d, real(amount)))
            u = breakdown(t, None)
            f = [u.year, u.month, u.day, u.hour, u.minute, u.second]
            f[field] += amount * 7 if name == "date_inc_week" else amount
            t2 = python_timegm(*f) if 1 <= f[0] <= 9000 else -1
            expected.append(date_of(t2) if 0 <= t2 <= T_MAX else -1.0)
        return lines, expected

    def test_utc_mode(self):
        rng = random.Random(SEED)
        instants = [rng.randint(0, T_MAX) for _ in range(10000)]
        instants += [0, T_MAX, 951782400, 4107542400]  # the ends, 29 Feb 2000, 1 Mar 2100
        lines, expected = self.readers_and_increments(instants, None, rng)
        # Month lengths and leap rules by name, and the month increment that overflows into March.
        jan31 = python_timegm(2017, 1, 31, 12, 0, 0)
        lines.append("date_inc_month %s %s" % (real(date_of(jan31)), real(1)))
        expected.append(date_of(python_timegm(2017, 3, 3, 12, 0, 0)))
        self.check(lines, expected, run_probe(lines))

    def local_instants(self, zone, rng, count):
        tz = zoneinfo.ZoneInfo(zone)
        out = []
        while len(out) < count:
            t = rng.randint(7200, T_MAX - 7200)
            offsets = {datetime.datetime.fromtimestamp(t + k, tz).utcoffset() for k in (-7200, 0, 7200)}
            if len(offsets) == 1:  # two hours or more from a transition
                out.append(t)
        return out

    def test_local_mode(self):
        for zone in ("America/New_York", "Europe/Berlin"):
            with self.subTest(zone=zone):
                rng = random.Random(SEED + len(zone))
                instants = self.local_instants(zone, rng, 3000)
                lines, expected = self.readers_and_increments(instants, zone, rng)
                self.check(lines, expected, run_probe(lines, {"TZ": zone}, mode_utc=False))

    def test_hour_follows_the_mode_and_increments_do_not(self):
        zone = "Europe/Berlin"
        rng = random.Random(SEED + 7)
        instants = self.local_instants(zone, rng, 200)
        lines = []
        for t in instants:
            lines += ["date_get_hour " + real(date_of(t)), "date_inc_hour %s %s" % (real(date_of(t)), real(5))]
        local = run_probe(lines, {"TZ": zone}, mode_utc=False)
        utc = run_probe(lines, {"TZ": zone}, mode_utc=True)
        for i, t in enumerate(instants):
            offset = breakdown(t, zone).utcoffset() // datetime.timedelta(hours=1)
            hl, hu = value(local[2 * i])[0], value(utc[2 * i])[0]
            self.assertEqual((hu + offset) % 24, hl, t)
            self.assertEqual(local[2 * i + 1], utc[2 * i + 1], t)

    def texts(self, env, zone, instants):
        """What time.strftime gives for the three formats, in a Python run under the same environment."""
        script = (
            "import locale, sys, time\n"
            "locale.setlocale(locale.LC_TIME, '')\n"
            "for line in sys.stdin:\n"
            "    t = int(line)\n"
            "    tm = time.localtime(t) if %r else time.gmtime(t)\n"
            "    print(' '.join(time.strftime(f, tm).encode('utf-8').hex() for f in ('%%c', '%%x', '%%X')))\n"
        ) % (zone is not None,)
        full = dict(os.environ)
        full.update(env)
        out = subprocess.run([sys.executable, "-c", script], input="\n".join(map(str, instants)).encode(),
                             capture_output=True, env=full, timeout=120, check=True)
        return [[bytes.fromhex(h) for h in row.split(" ")] for row in out.stdout.decode().splitlines()]

    def test_texts(self):
        scratch = tempfile.mkdtemp(prefix="kv_locales_")
        self.addCleanup(shutil.rmtree, scratch, True)
        localedef = shutil.which("localedef")
        if not localedef:
            self.fail("localedef is missing (scripts/setup-deps: locales)")
        made = subprocess.run([localedef, "-i", "de_DE", "-f", "UTF-8", os.path.join(scratch, "de_DE.UTF-8")],
                              capture_output=True, timeout=120)
        self.assertTrue(os.path.isdir(os.path.join(scratch, "de_DE.UTF-8")), made.stderr)
        rng = random.Random(SEED + 3)
        instants = [rng.randint(0, T_MAX) for _ in range(1500)]
        configs = [
            ("C.UTF-8", None),
            ("de_DE.UTF-8", None),
            ("de_DE.UTF-8", "Europe/Berlin"),
        ]
        for name, zone in configs:
            with self.subTest(locale=name, zone=zone):
                env = {"LOCPATH": scratch, "LC_ALL": name, "LANG": name}
                if zone:
                    env["TZ"] = zone
                want = self.texts(env, zone, instants)
                lines = []
                for t in instants:
                    d = real(date_of(t))
                    lines += ["date_datetime_string " + d, "date_date_string " + d, "date_time_string " + d]
                answers = run_probe(lines, env, mode_utc=zone is None)
                bad = []
                for i, t in enumerate(instants):
                    for k in range(3):
                        got, errors = value(answers[3 * i + k])
                        if errors or got != want[i][k]:
                            bad.append((t, lines[3 * i + k], got, want[i][k]))
                self.assertEqual(bad[:10], [])
                if name.startswith("de_DE"):
                    # The made locale was used, not a fallback: German day names.
                    self.assertTrue(any(w[0][:2] in (b"Mo", b"Di", b"Mi", b"Do", b"Fr", b"Sa", b"So") for w in want))


if __name__ == "__main__":
    unittest.main()
