"""formkit's OPTN writer against the chunk's layout: where each option lands in either layout, the
constants and their references, and the damaged variants."""

import os
import struct
import sys
import unittest

sys.dont_write_bytecode = True
source = os.environ.get("KV_SOURCE_DIR") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(source, "tools"))

import formkit as fk  # noqa: E402

# The layout as the chunk defines it, written out here rather than taken from the writer.
NEW_BITS = {"full_screen": 0, "new_audio": 2, "show_cursor": 4, "change_display_mode": 7, "alt_enter": 9,
            "freeze": 15, "errors_abort": 21, "unset_errors": 22, "collision_mode": 26}
OLD_WORDS = {"full_screen": 0x00, "new_audio": 0x08, "show_cursor": 0x10, "change_display_mode": 0x24,
             "alt_enter": 0x3C, "freeze": 0x58, "errors_abort": 0x80, "unset_errors": 0x84}
NUMBER_OFFSETS = {  # new, old
    "scale": (0x10, 0x14), "window_colour": (0x14, 0x20), "colour_depth": (0x18, 0x28),
    "resolution": (0x1C, 0x2C), "frequency": (0x20, 0x30)}


def body_of(built):
    off, size = fk.find_chunk(built.data, "OPTN")
    return built.data, off + 8, size


def u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


def build(**kw):
    return fk.Container(14).gen8().optn(**kw).build()


class OptnLayout(unittest.TestCase):
    def test_defaults_of_each_layout(self):
        for layout, fixed in (("new", 0x40), ("old", 0x90)):
            with self.subTest(layout=layout):
                data, body, size = body_of(build(layout=layout))
                self.assertEqual(size, fixed)
                self.assertEqual(u32(data, body + fixed - 4), 0)  # no constants
                first = struct.unpack_from("<i", data, body)[0]
                if layout == "new":
                    self.assertLess(first, 0)
                    self.assertEqual(u32(data, body + 4), 2)
                    self.assertEqual(struct.unpack_from("<Q", data, body + 8)[0], 0)
                else:
                    self.assertGreaterEqual(first, 0)
                self.assertEqual(u32(data, body + NUMBER_OFFSETS["window_colour"][layout == "old"]), 0xFFFFFF)
                self.assertEqual(u32(data, body + NUMBER_OFFSETS["scale"][layout == "old"]), 100)

    def test_each_switch_sets_only_its_own_bit_or_word(self):
        for name, bit in NEW_BITS.items():
            with self.subTest(layout="new", option=name):
                data, body, _ = body_of(build(**{name: True}))
                self.assertEqual(struct.unpack_from("<Q", data, body + 8)[0], 1 << bit)
        for name, offset in OLD_WORDS.items():
            with self.subTest(layout="old", option=name):
                data, body, size = body_of(build(layout="old", **{name: 7}))
                words = struct.unpack_from("<%dI" % (0x8C // 4), data, body)
                expected = [0] * (0x8C // 4)
                expected[offset // 4] = 7
                for n, (new_off, old_off) in NUMBER_OFFSETS.items():
                    expected[old_off // 4] = fk.options.DEFAULTS[n]
                self.assertEqual(list(words), expected)

    def test_number_fields_land_at_their_offsets(self):
        values = {"scale": 3, "window_colour": 0x102030, "colour_depth": 2, "resolution": 6, "frequency": 5}
        for index, layout in enumerate(("new", "old")):
            data, body, _ = body_of(build(layout=layout, **values))
            for name, offsets in NUMBER_OFFSETS.items():
                with self.subTest(layout=layout, field=name):
                    self.assertEqual(u32(data, body + offsets[index]), values[name])

    def test_the_old_layout_has_no_collision_word_and_unknown_options_are_refused(self):
        with self.assertRaises(ValueError):
            fk.Container(14).optn(layout="old", collision_mode=True)
        with self.assertRaises(TypeError):
            fk.Container(14).optn(colour=1)
        with self.assertRaises(ValueError):
            fk.Container(14).optn(layout="odd")


class OptnConstants(unittest.TestCase):
    def test_pairs_follow_the_count_and_point_at_their_texts(self):
        constants = [("VersionMajor", "1"), ("lives", None), (0x7FFFFFF0, "x")]
        for layout, fixed in (("new", 0x40), ("old", 0x90)):
            with self.subTest(layout=layout):
                data, body, size = body_of(build(layout=layout, constants=constants))
                self.assertEqual(size, fixed + 8 * len(constants))
                self.assertEqual(u32(data, body + fixed - 4), 3)
                refs = struct.unpack_from("<6I", data, body + fixed)
                self.assertEqual(fk.read_string(data, refs[0]), b"VersionMajor")
                self.assertEqual(fk.read_string(data, refs[1]), b"1")
                self.assertEqual(fk.read_string(data, refs[2]), b"lives")
                self.assertEqual(refs[3], 0)
                self.assertEqual(refs[4], 0x7FFFFFF0)
                self.assertEqual(fk.read_string(data, refs[5]), b"x")

    def test_damaged_variants(self):
        data, body, size = body_of(build(constants=[("a", "b")], count=1000))
        self.assertEqual(u32(data, body + 0x3C), 1000)
        self.assertEqual(size, 0x48)
        data, body, size = body_of(build(layout="old", cut=0x8F))
        self.assertEqual(size, 0x8F)
        data, body, size = body_of(build(version=3))
        self.assertEqual(u32(data, body + 4), 3)
        data, body, size = body_of(build(flags=1 << 40 | 4))
        self.assertEqual(struct.unpack_from("<Q", data, body + 8)[0], 1 << 40 | 4)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=1).result
    sys.exit(0 if result.wasSuccessful() and result.testsRun else 1)
