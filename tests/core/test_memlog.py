"""The block log of "-memlog <file>", read back by memlog_reader from a probe run."""

import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import memlog_reader  # noqa: E402

PROBE = os.path.join(os.environ.get("KV_BUILD_DIR", "build"), "tests", "probes", "memlog_probe")


def run_probe(*args):
    return subprocess.run([PROBE, *args], capture_output=True, timeout=60)


class MemLogRun(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.path = os.path.join(cls.dir.name, "blocks.memlog")
        cls.run_result = run_probe("-memlog", cls.path)
        with open(cls.path, "rb") as f:
            cls.data = f.read()
        cls.records = memlog_reader.parse(cls.data)
        cls.names = memlog_reader.check_names(cls.records)
        begin = [i for i, r in enumerate(cls.records) if r.tag == "EVNT" and r.text == b"probe begin"]
        cls.window = cls.records[begin[0]:] if begin else []

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def name(self, name_id):
        return None if name_id == -1 else self.names[name_id]

    def allocation(self, size):
        found = [r for r in self.window if r.tag == "ALLC" and r.size == size]
        self.assertEqual(len(found), 1, f"ALLC records of {size} bytes")
        return found[0]

    def test_probe_exits_normally(self):
        self.assertEqual(self.run_result.returncode, 0, self.run_result.stderr)
        self.assertTrue(self.window, "no 'probe begin' event")

    def test_every_record_well_formed_and_names_come_first(self):
        # parse and check_names raise on a malformed record or an id used before its NAME.
        self.assertGreater(len(self.records), 20)
        self.assertEqual(len(self.names), len(set(self.names)), "one NAME record per name")

    def test_contexts_on_the_main_thread(self):
        cases = [(11, "outer"), (222, "inner"), (33, "outer"), (44, None), (55, "ctx30"), (66, "after extra pop")]
        for size, context in cases:
            with self.subTest(size=size):
                r = self.allocation(size)
                self.assertEqual(self.name(r.context), context)
                self.assertEqual(r.sites, [])

    def test_worker_thread_records_carry_no_context(self):
        for size in range(3001, 3006):
            with self.subTest(size=size):
                r = self.allocation(size)
                self.assertEqual(r.context, -1)
                self.assertEqual(r.sites, [])

    def test_builtin_name_and_call_stack(self):
        r = self.allocation(601)
        self.assertEqual(self.name(r.context), "show_debug_message")
        self.assertEqual([(self.name(n), line) for n, line in r.sites],
                         [("ksl_Script_inner", 10), ("ksl_Object_player_Step_0", 20)])
        r = self.allocation(602)
        self.assertEqual(self.name(r.context), "scripted")
        self.assertEqual(len(r.sites), 2)

    def test_too_deep_a_call_stack_is_cut_whole_pairs(self):
        r = self.allocation(603)
        self.assertEqual(len(r.sites), (16384 - 24) // 8)
        self.assertEqual([(self.name(n), line) for n, line in r.sites[:3]],
                         [("deep_0", 1), ("deep_1", 2), ("deep_2", 3)])
        self.assertEqual(self.run_result.stdout.count(b"block too big (> 16384 bytes)\n"), 1)

    def test_growth_logs_new_block_then_frees_old(self):
        old = self.allocation(20)
        new = self.allocation(500)
        i_new = self.window.index(new)
        self.assertEqual(self.window[i_new + 1].tag, "FREE")
        self.assertEqual(self.window[i_new + 1].address, old.address)

    def test_event_text_is_cut_at_511_bytes(self):
        events = [r.text for r in self.window if r.tag == "EVNT"]
        self.assertIn(b"E" * 511, events)

    def test_tail_is_flushed_at_exit(self):
        # Made after the last event, far less than a buffer's worth before the process ended.
        last = self.allocation(777)
        at = self.window.index(last)
        self.assertEqual(self.window[at - 1].text, b"probe end")
        self.assertEqual(self.window[at + 1].tag, "FREE")
        self.assertEqual(self.window[at + 1].address, last.address)
        self.assertLess(len(self.data), 0x100000)

    def test_every_block_allocated_is_freed(self):
        live = {}
        for r in self.window:
            if r.tag == "ALLC":
                self.assertNotIn(r.address, live, "address handed out twice")
                live[r.address] = r.size
            elif r.tag == "FREE":
                live.pop(r.address, None)
        self.assertEqual(live, {})


class MemLogBadPaths(unittest.TestCase):
    def test_paths_that_give_no_log(self):
        with tempfile.TemporaryDirectory() as d:
            readonly = os.path.join(d, "readonly.memlog")
            with open(readonly, "wb"):
                pass
            os.chmod(readonly, 0o444)
            cases = [
                ("missing folder", os.path.join(d, "no", "such", "folder", "x.memlog")),
                ("4 KiB path", os.path.join(d, "a" * 4096)),
                ("4 KiB path of short parts", d + "/b" * 2048),
                ("a folder", d),
                ("writes fail", "/dev/full"),
            ]
            if os.geteuid() != 0:  # root writes a read-only file all the same
                cases.append(("read-only file", readonly))
            for what, path in cases:
                with self.subTest(what):
                    result = run_probe("-memlog", path)
                    self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(sorted(os.listdir(d)), ["readonly.memlog"])

    def test_memlog_as_last_argument_is_not_recognised(self):
        with tempfile.TemporaryDirectory() as d:
            result = subprocess.run([PROBE, "-memlog"], cwd=d, capture_output=True, timeout=60)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(os.listdir(d), [])

    def test_the_argument_after_memlog_is_the_path(self):
        with tempfile.TemporaryDirectory() as d:
            result = subprocess.run([PROBE, "-memlog", "here.memlog", "-other"], cwd=d, capture_output=True,
                                    timeout=60)
            self.assertEqual(result.returncode, 0, result.stderr)
            records = memlog_reader.read(os.path.join(d, "here.memlog"))
            self.assertIn(b"probe end", [r.text for r in records if r.tag == "EVNT"])


if __name__ == "__main__":
    unittest.main()
