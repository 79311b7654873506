"""kelvane -memlog on assembled bytecode: the block log names the running scripts and their lines."""

import os
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.environ.get("KV_SOURCE_DIR", ".")
BUILD = os.environ.get("KV_BUILD_DIR", "build")
sys.path.insert(0, os.path.join(SOURCE, "tests", "core"))
import memlog_reader  # noqa: E402


class VmMemLog(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        d = cls.dir.name
        env = dict(os.environ, PYTHONPATH=os.path.join(SOURCE, "tools"))
        subprocess.run([sys.executable, "-B", "-m", "formkit.asm",
                        os.path.join(SOURCE, "tests", "e2e", "fixtures", "vm_memlog.kvs"),
                        "-o", os.path.join(d, "vm_memlog.win")], env=env, check=True, capture_output=True)
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env["SDL_VIDEODRIVER"] = "offscreen"
        cls.run_result = subprocess.run(
            [os.path.join(BUILD, "kelvane"), "-headless", "-game", "vm_memlog.win", "-output", "out.txt",
             "-memlog", "blocks.memlog"],
            cwd=d, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        cls.records = memlog_reader.read(os.path.join(d, "blocks.memlog"))
        cls.names = memlog_reader.check_names(cls.records)
        with open(os.path.join(d, "out.txt"), "rb") as f:
            cls.output = f.read()

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def name(self, name_id):
        return None if name_id == -1 else self.names[name_id]

    def sites(self, record):
        return [(self.name(n), line) for n, line in record.sites]

    def test_the_game_ran(self):
        self.assertEqual(self.run_result.returncode, 0, self.run_result.stderr)
        self.assertEqual(self.output, b"2.50\n")

    def test_a_builtin_block_names_the_builtin_and_the_script_call_stack(self):
        # show_debug_message of a real builds its text in a 256-byte block.
        found = [r for r in self.records
                 if r.tag == "ALLC" and r.size == 256 and self.name(r.context) == "show_debug_message"]
        self.assertEqual(len(found), 1, "blocks of show_debug_message")
        self.assertEqual(self.sites(found[0]), [("ksl_Script_show_half", 2), ("ksl_Global_memlog", 1)])

    def test_code_names_appear_only_while_code_runs(self):
        with_sites = [r for r in self.records if r.tag == "ALLC" and r.sites]
        self.assertTrue(with_sites)
        codes = {"ksl_Script_half", "ksl_Script_show_half", "ksl_Global_memlog"}
        for r in with_sites:
            with self.subTest(offset=r.offset):
                names = [name for name, _ in self.sites(r)]
                self.assertTrue(set(names) <= codes, names)
                self.assertEqual(names[-1], "ksl_Global_memlog", "the outermost code is the global code")
        # The loader's blocks come before any code runs.
        first = self.records.index(with_sites[0])
        loads = [r for r in self.records[:first] if r.tag == "ALLC"]
        self.assertTrue(loads)
        self.assertTrue(all(r.sites == [] for r in loads))


if __name__ == "__main__":
    unittest.main()
