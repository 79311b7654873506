"""The committed motion_expect.inc is what gen_motion.py writes now: the two cannot drift apart."""

import difflib
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
GENERATOR = os.path.join(HERE, "gen_motion.py")
COMMITTED = os.path.join(HERE, "motion_expect.inc")


class GeneratedMotionExpectations(unittest.TestCase):
    def test_committed_include_matches_generator(self):
        with tempfile.TemporaryDirectory() as tmp:
            fresh = os.path.join(tmp, "motion_expect.inc")
            run = subprocess.run([sys.executable, "-B", GENERATOR, fresh], capture_output=True, text=True,
                                 timeout=120)
            self.assertEqual(run.returncode, 0, run.stderr)
            with open(fresh, encoding="utf-8") as f:
                want = f.read()
        with open(COMMITTED, encoding="utf-8") as f:
            got = f.read()
        if got != want:
            diff = "".join(difflib.unified_diff(got.splitlines(True), want.splitlines(True), "committed", "generated",
                                                n=1))
            self.fail("motion_expect.inc differs from gen_motion.py's output; re-run the generator and commit "
                      "both:\n" + diff[:4000])

    def test_include_has_every_table(self):
        with open(COMMITTED, encoding="utf-8") as f:
            text = f.read()
        for table in ("kMotionPaths", "kMotionRows", "kBBoxRows"):
            self.assertIn(table, text)


if __name__ == "__main__":
    unittest.main()
