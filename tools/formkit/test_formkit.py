"""Layout facts of formkit's containers, checked on small hand-worked cases.

Run from this folder with `python3 -m unittest`.
"""

import json
import os
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

import formkit as fk  # noqa: E402


def u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


def i32(data, off):
    return struct.unpack_from("<i", data, off)[0]


def le(*words):
    return b"".join(struct.pack("<I", w & 0xFFFFFFFF) for w in words)


def chunk_body(built, tag):
    (c,) = [c for c in built.expect["chunks"] if c["tag"] == tag]
    return c["body"], c["size"]


class StringPoolTest(unittest.TestCase):
    def test_hand_worked_pool(self):
        b = fk.Container(14).strg(["ab"]).build()
        # FORM(24) STRG(16): count 1, offset 24 -> length word 2, "ab", NUL, one pad byte
        self.assertEqual(b.data, b"FORM" + le(24) + b"STRG" + le(16) + le(1, 24, 2) + b"ab\0\0")
        self.assertEqual(b.expect["strings"], [{"index": 0, "text": "ab", "offset": 28, "length_word": 24}])

    def test_references_point_at_the_text(self):
        cases = ["", "a", "abc", "abcd", "d\u00e9j\u00e0", "Demo Game"]
        for text in cases:
            with self.subTest(text=text):
                b = fk.Container(14).gen8(game_name=text).build()
                body, _ = chunk_body(b, "GEN8")
                ref = u32(b.data, body + 4)
                raw = text.encode("utf-8")
                self.assertEqual(u32(b.data, ref - 4), len(raw))
                self.assertEqual(b.data[ref:ref + len(raw)], raw)
                self.assertEqual(b.data[ref + len(raw)], 0)
                strg, _ = chunk_body(b, "STRG")
                listed = [u32(b.data, strg + 4 + 4 * i) for i in range(u32(b.data, strg))]
                self.assertIn(ref - 4, listed)
                self.assertEqual(ref % 4, 0)

    def test_one_entry_per_text_and_push_string_index(self):
        c = fk.Container(15)
        c.strg(["first"])
        c.gen8(game_name="same", config_name="same", project_name=None)
        c.code([fk.CodeEntry("e", [fk.push_string("same"), fk.push_string("first")])])
        b = c.build()
        texts = [s["text"] for s in b.expect["strings"]]
        self.assertEqual(texts.count("same"), 1)
        gen8, _ = chunk_body(b, "GEN8")
        self.assertEqual(u32(b.data, gen8 + 4), u32(b.data, gen8 + 8))
        self.assertEqual(u32(b.data, gen8 + 0x28), 0)  # None writes reference 0
        code = b.expect["code"][0]["bytecode"]
        self.assertEqual(u32(b.data, code + 4), texts.index("same"))
        self.assertEqual(u32(b.data, code + 12), 0)

    def test_strg_appended_when_left_out(self):
        b = fk.Container(14).gen8().chunk("OPTN").build()
        self.assertEqual([c["tag"] for c in b.expect["chunks"]], ["GEN8", "OPTN", "STRG"])


class FormTest(unittest.TestCase):
    def test_form_size_is_length_minus_8(self):
        cases = {
            "empty": fk.Container(14),
            "size-0 chunk": fk.Container(14).chunk("OPTN"),
            "odd raw body": fk.Container(14).chunk("ABCD", b"xyz"),
            "full": fk.Container(15).gen8().code([fk.CodeEntry("a", [fk.push_var("v"), fk.call("f")])])
                      .vari().func().tpag([fk.TexturePageEntry()]).txtr([fk.Page(b"12345")]),
        }
        for name, c in cases.items():
            with self.subTest(name):
                b = c.build()
                self.assertEqual(b.data[:4], b"FORM")
                self.assertEqual(u32(b.data, 4), len(b.data) - 8)
                self.assertTrue(fk.form_ok(b.data))

    def test_chunks_in_order_raw_bodies_as_given(self):
        c = fk.Container(14).chunk("AAAA", b"").chunk("BBBB", b"\x01\x02\x03").chunk("CCCC", b"", size=99)
        b = c.build()
        self.assertEqual(b.data[8:], b"AAAA" + le(0) + b"BBBB" + le(3) + b"\x01\x02\x03" + b"CCCC" + le(99))
        self.assertEqual([(c["tag"], c["offset"], c["size"]) for c in b.expect["chunks"]],
                         [("AAAA", 8, 0), ("BBBB", 16, 3), ("CCCC", 27, 99)])

    def test_structured_bodies_are_padded_and_cut(self):
        b = fk.Container(14).glob([1, 2], extra=b"\xEE").glob([3], cut=2).build()
        self.assertEqual(b.data[8:], b"GLOB" + le(13) + le(2, 1, 2) + b"\xEE"
                         + b"GLOB" + le(2) + b"\x01\x00")


class HeaderTest(unittest.TestCase):
    OFFSETS = {0: 0x24, 6: 0x24, 7: 0x24, 8: 0x64, 9: 0x64, 10: 0x68, 11: 0x70, 12: 0x78, 13: 0x7C,
               14: 0x80, 15: 0x80, 255: 0x80}

    def test_room_order_offset_per_version(self):
        for version, off in self.OFFSETS.items():
            with self.subTest(version=version):
                self.assertEqual(fk.room_order_offset(version), off)
                b = fk.Container(version).gen8(major=1, room_order=[7, 8, 9]).build()
                body, size = chunk_body(b, "GEN8")
                self.assertEqual(b.data[body + 1], version)
                self.assertEqual([u32(b.data, body + off + 4 * i) for i in range(4)], [3, 7, 8, 9])
                self.assertEqual(size, max(off + 16, 0x3C))
                self.assertEqual(b.expect["header"]["room_order"], [7, 8, 9])
                # from version 8 no field shares bytes with the order; before, it covers four
                self.assertEqual(b.expect["header_overlaps"],
                                 [] if version >= 8 else ["kept", "project_name", "major", "minor"])

    def test_game_speed_after_reserved_bytes(self):
        cases = [(13, 2, False), (14, 1, False), (14, 2, True), (15, 3, True)]
        for version, major, present in cases:
            with self.subTest(version=version, major=major):
                b = fk.Container(version).gen8(major=major, room_order=[5], reserved=bytes(range(40)),
                                               game_speed=30.5).build()
                body, size = chunk_body(b, "GEN8")
                end = body + fk.room_order_offset(version) + 8
                if present:
                    self.assertEqual(b.data[end:end + 40], bytes(range(40)))
                    self.assertEqual(struct.unpack_from("<f", b.data, end + 40)[0], 30.5)
                    self.assertEqual(body + size, end + 44)
                    self.assertEqual(b.expect["header"]["game_speed"], 30.5)
                else:
                    self.assertEqual(body + size, end)
                    self.assertIsNone(b.expect["header"]["game_speed"])

    def test_every_field_at_its_offset(self):
        b = fk.Container(14).gen8(
            flags=0x01, unused_02=0xBEEF, game_name="g", config_name="c", last_instance_id=0x11111111,
            last_tile_id=0x22222222, game_id=0x33333333, kept=bytes(range(16)), project_name="p", major=2,
            minor=4, release=5, build=6, width=320, height=240, window_flags=0x9001,
            unused_48=bytes(range(100, 128)), display_name="d", unused_68=0x0102030405060708,
            feature_flags=0x4, steam_app_id=480, unused_7c=0x7C7C7C7C, room_order=[]).build()
        d = b.data
        body, _ = chunk_body(b, "GEN8")

        def text(off):
            return fk.read_string(d, u32(d, body + off))

        self.assertEqual(d[body:body + 4], b"\x01\x0E\xEF\xBE")
        self.assertEqual((text(0x04), text(0x08), text(0x28), text(0x64)), (b"g", b"c", b"p", b"d"))
        self.assertEqual([u32(d, body + o) for o in (0x0C, 0x10, 0x14)], [0x11111111, 0x22222222, 0x33333333])
        self.assertEqual(d[body + 0x18:body + 0x28], bytes(range(16)))
        self.assertEqual([u32(d, body + o) for o in range(0x2C, 0x48, 4)], [2, 4, 5, 6, 320, 240, 0x9001])
        self.assertEqual(d[body + 0x48:body + 0x64], bytes(range(100, 128)))
        self.assertEqual(struct.unpack_from("<QQII", d, body + 0x68), (0x0102030405060708, 4, 480, 0x7C7C7C7C))
        self.assertEqual(u32(d, body + 0x80), 0)
        h = b.expect["header"]
        self.assertEqual((h["fields"]["window_flags"], h["display_name_shown"], h["header_kind"]),
                         (0x9001, "d", 800))

    def test_what_the_runtime_derives(self):
        cases = [  # version, tag, display name, shown, feature flags read
            (9, "GEN7", "d", fk.DEFAULT_DISPLAY_NAME, 0xFFFFFFFFFFFFFFFF),
            (10, "GENL", None, fk.DEFAULT_DISPLAY_NAME, 0xFFFFFFFFFFFFFFFF),
            (10, "GEN8", "d", "d", 0xFFFFFFFFFFFFFFFF),
            (12, "GEN8", "d", "d", 4),
        ]
        for version, tag, name, shown, features in cases:
            with self.subTest(version=version, tag=tag):
                b = fk.Container(version).gen8(tag=tag, display_name=name, feature_flags=4).build()
                h = b.expect["header"]
                self.assertEqual(h["tag"], tag)
                self.assertEqual(h["display_name_shown"], shown)
                self.assertEqual(h["feature_flags_read"], features)
                self.assertEqual(h["header_kind"], 800 if tag == "GEN8" else 700)

    def test_old_header_room_order_overlaps_later_fields(self):
        # up to version 7 the order stands at +0x24, inside the fields every version has
        b = fk.Container(7).gen8(project_name="p", major=2, kept=b"\xAA" * 16, room_order=[4]).build()
        body, size = chunk_body(b, "GEN8")
        self.assertEqual(size, 0x3C)
        self.assertEqual(b.data[body + 0x18:body + 0x24], b"\xAA" * 12)
        self.assertEqual((u32(b.data, body + 0x24), u32(b.data, body + 0x28)), (1, 4))
        self.assertEqual(u32(b.data, body + 0x2C), 2)
        self.assertEqual(b.expect["header_overlaps"], ["kept", "project_name"])

    def test_short_body_and_unknown_field(self):
        b = fk.Container(14).gen8(cut=0x40).build()
        self.assertEqual(chunk_body(b, "GEN8")[1], 0x40)
        with self.assertRaises(TypeError):
            fk.Container(14).gen8(colour=1)


class CodeLayoutTest(unittest.TestCase):
    def test_old_layout_hand_worked(self):
        b = fk.Container(14).code([fk.CodeEntry("e", [0x11111111, b"\x22\x22\x22\x22"])]).build()
        # CODE body at 16: count 1, offset 24; entry: name ref, length 8, the two words
        body, size = chunk_body(b, "CODE")
        self.assertEqual((body, size), (16, 24))
        self.assertEqual(u32(b.data, 16), 1)
        self.assertEqual(u32(b.data, 20), 24)
        self.assertEqual(fk.read_string(b.data, u32(b.data, 24)), b"e")
        self.assertEqual(b.data[28:36], le(8, 0x11111111))
        self.assertEqual(b.data[36:40], b"\x22" * 4)
        self.assertEqual(b.expect["code"][0]["bytecode"], 32)

    def test_new_layout_relative_offsets_both_placements(self):
        for blobs_first in (True, False):
            with self.subTest(blobs_first=blobs_first):
                c = fk.Container(15)
                c.code([fk.CodeEntry("a", [1, 2, 3], locals=3, args=2), fk.CodeEntry("b", [4], locals=1)],
                       blobs_first=blobs_first)
                b = c.build()
                d = b.data
                body, _ = chunk_body(b, "CODE")
                self.assertEqual(u32(d, body), 2)
                for i, (words, lc, ac) in enumerate([([1, 2, 3], 3, 2), ([4], 1, 0)]):
                    entry = u32(d, body + 4 + 4 * i)
                    self.assertEqual(fk.read_string(d, u32(d, entry)), b"ab"[i:i + 1])
                    self.assertEqual(u32(d, entry + 4), 4 * len(words))
                    self.assertEqual(struct.unpack_from("<HH", d, entry + 8), (lc, ac))
                    rel = i32(d, entry + 12)
                    self.assertEqual(rel < 0, blobs_first)
                    self.assertEqual(d[entry + 12 + rel:entry + 12 + rel + 4 * len(words)], le(*words))
                    self.assertEqual(u32(d, entry + 16), 0)
                    self.assertEqual(b.expect["code"][i]["bytecode"], entry + 12 + rel)

    def test_shared_blob(self):
        c = fk.Container(15)
        c.code([fk.CodeEntry("outer", [10, fk.Mark("in"), 11, 12]),
                fk.CodeEntry("inner", share="outer", block_offset="in", args=1),
                fk.CodeEntry("other", share="outer", block_offset=8)])
        d = c.build().data
        body = 16
        entries = [u32(d, body + 4 + 4 * i) for i in range(3)]
        targets = {e + 12 + i32(d, e + 12) for e in entries}
        self.assertEqual(len(targets), 1)
        self.assertEqual([u32(d, e + 4) for e in entries], [12, 12, 12])
        self.assertEqual([u32(d, e + 16) for e in entries], [0, 4, 8])
        with self.assertRaises(ValueError):
            fk.Container(14).code([fk.CodeEntry("a", [1]), fk.CodeEntry("b", share="a")])

    def test_version_15_code_is_left_as_written(self):
        c = fk.Container(15).code([fk.CodeEntry("a", [fk.compare(3), 0x13000000, 0xFF000000])])
        b = c.build()
        self.assertEqual(b.expect["remapped"], [])
        self.assertEqual(b.image, b.data)

    def test_glob_by_index_and_name(self):
        b = fk.Container(14).code([fk.CodeEntry("a", [1]), fk.CodeEntry("b", [2])]).glob(["b", 0]).build()
        body, size = chunk_body(b, "GLOB")
        self.assertEqual(b.data[body:body + size], le(2, 1, 0))
        self.assertEqual(b.expect["glob"], [1, 0])

    def test_scpt_entries_empty_slots_and_source_text(self):
        c = fk.Container(14).code([fk.CodeEntry("ksl_Script_a", [1]), fk.CodeEntry("ksl_Script_b", [2])])
        c.scpt([fk.Script("scr_b", "ksl_Script_b"), None, ("scr_a", 0), fk.Script("scr_old", source="x = 1;")])
        b = c.build()
        body, size = chunk_body(b, "SCPT")
        data = b.data
        u32 = lambda d, o: struct.unpack_from("<I", d, o)[0]  # noqa: E731
        self.assertEqual(u32(data, body), 4)
        offsets = [u32(data, body + 4 + 4 * i) for i in range(4)]
        self.assertEqual(offsets[1], 0)
        # Entries follow the offsets, 8 bytes each, inside the chunk.
        self.assertEqual(offsets[0], body + 4 + 16)
        self.assertEqual([offsets[2], offsets[3]], [offsets[0] + 8, offsets[0] + 16])
        self.assertLessEqual(offsets[3] + 8, body + size)
        got = [(fk.string_text(data, u32(data, o)), u32(data, o + 4)) for o in offsets[:3] if o]
        self.assertEqual(got, [("scr_b", 1), ("scr_a", 0)])
        self.assertEqual(fk.string_text(data, u32(data, offsets[3])), "scr_old")
        self.assertEqual(fk.string_text(data, u32(data, offsets[3] + 4)), "x = 1;")


class ChainTest(unittest.TestCase):
    def walk(self, data, first, count, bits):
        """The occurrence walk, as a loader does it: step measured from the instruction word."""
        out, cur = [], first
        for _ in range(count):
            out.append(cur)
            op = u32(data, cur + 4)
            step = op & ((1 << bits) - 1) if bits < 32 else op
            if step & (1 << (bits - 1)):
                step -= 1 << bits
            cur += step
        return out

    def test_hand_worked_old_layout(self):
        c = fk.Container(14)
        c.code([fk.CodeEntry("a", [fk.push_var("x"), 0x0, fk.pop_var("x")]),
                fk.CodeEntry("b", [fk.push_var("x", fk.SCOPE_GLOBAL, flags=fk.VAR_PLAIN)])])
        c.vari()
        b = c.build(var_ids={"x": 100005})
        d = b.data
        # CODE body 16: count, 2 offsets; entry a at 28: name, length 20, then words at 36
        self.assertEqual(b.expect["code"][0]["bytecode"], 36)
        self.assertEqual(b.expect["code"][1]["bytecode"], 36 + 20 + 8)
        # x occurs at 36, 48 (after the plain word) and 64
        self.assertEqual(b.expect["occurrences"]["var"]["x"], [36, 48, 64])
        self.assertEqual((u32(d, 40), u32(d, 52), u32(d, 68)),
                         (0xA0000000 | 12, 0xA0000000 | 16, 0x80000000))
        vbody, vsize = chunk_body(b, "VARI")
        self.assertEqual(vsize, 12)
        self.assertEqual(fk.read_string(d, u32(d, vbody)), b"x")
        self.assertEqual((u32(d, vbody + 4), u32(d, vbody + 8)), (3, 36))
        self.assertEqual(self.walk(d, 36, 3, 29), [36, 48, 64])
        self.assertEqual([p["after"] for p in b.expect["patched"]],
                         [0xA0000000 | 100005, 0xA0000000 | 100005, 0x80000000 | 100005])
        self.assertEqual(u32(b.image, 52), 0xA0000000 | 100005)

    def test_chain_steps_land_on_the_instructions(self):
        for version in (14, 15):
            with self.subTest(version=version):
                c = fk.Container(version)
                mk = fk.old if version <= 14 else (lambda x: x)
                c.code([fk.CodeEntry("a", mk([fk.push_var("x"), fk.call("f", 0), fk.push_double(1.5),
                                              fk.pop_var("y"), fk.push_var("x")])),
                        fk.CodeEntry("b", mk([fk.push_int32(7), fk.call("f", 2), fk.pop_var("x"),
                                              fk.call("g", 0)]))])
                c.vari().func()
                b = c.build()
                occ = b.expect["occurrences"]
                bits = 28 if version >= 15 else 29
                for rec in b.expect["variables"]:
                    self.assertEqual(self.walk(b.data, rec["first"], rec["count"], bits),
                                     occ["var"][rec["name"]])
                for rec in b.expect["functions"]:
                    self.assertEqual(self.walk(b.data, rec["first"], rec["count"], 32),
                                     occ["func"][rec["name"]])
                self.assertEqual(len(occ["var"]["x"]), 3)
                patched = {(p["kind"], p["instruction"]) for p in b.expect["patched"]}
                self.assertEqual(len(patched), 7)
                self.assertEqual(b.expect["chain_errors"], [])

    def test_step_width_and_top_bits(self):
        # up to 14 the step has 29 bits (bit 28 is its sign, the flags keep bits 29-31); from 15 it has
        # 28 bits and bit 28 belongs to the flags. Patching keeps the top four bits in both.
        loss = fk.VAR_DEFAULT | fk.VAR_CONFIG_LOSS
        cases = [(14, loss, -8, 0xBFFFFFF8), (14, loss, 8, 0xA0000008),
                 (15, fk.VAR_DEFAULT, -8, 0xAFFFFFF8), (15, loss, 8, 0xB0000008)]
        for version, flags, step, operand in cases:
            with self.subTest(version=version, flags=hex(flags), step=step):
                ref = fk.VarRef(fk.word(0xC0, fk.TYPE_V), "x", flags=flags, step=step)
                c = fk.Container(version).code([fk.CodeEntry("a", [0, 0, ref])])
                c.vari([fk.Variable("x", count=1)])
                b = c.build(var_ids={"x": 0x12345})
                at = b.expect["occurrences"]["var"]["x"][0]
                self.assertEqual(u32(b.data, at + 4), operand)
                self.assertEqual(u32(b.image, at + 4), (operand & 0xF0000000) | 0x12345)

    def test_function_operand_is_the_whole_step(self):
        c = fk.Container(14).code([fk.CodeEntry("a", [fk.call("f", 1), 0, 0, fk.call("f", 2)])]).func()
        b = c.build(func_ids={"f": 0x01020304})
        at = b.expect["occurrences"]["func"]["f"]
        self.assertEqual(at[1] - at[0], 16)
        self.assertEqual((u32(b.data, at[0] + 4), u32(b.data, at[1] + 4)), (16, 0))
        self.assertEqual((u32(b.image, at[0] + 4), u32(b.image, at[1] + 4)), (0x01020304, 0x01020304))

    def test_unresolved_name_stops_the_model(self):
        c = fk.Container(14).code([fk.CodeEntry("a", [fk.push_var("x"), fk.push_var("y"), fk.call("f")])])
        c.vari().func()
        b = c.build(var_ids={"x": 100000}, func_ids={"f": 3})
        self.assertEqual(b.expect["unresolved"], {"kind": "variable", "name": "y"})
        self.assertEqual([p["name"] for p in b.expect["patched"]], ["x"])
        b = c.build(var_ids={"x": 100000, "y": 100001}, func_ids={})
        self.assertEqual(b.expect["unresolved"], {"kind": "function", "name": "f"})

    def test_chain_leaving_the_data(self):
        c = fk.Container(14).code([fk.CodeEntry("a", [fk.VarRef(0, "x", step=1 << 20)])])
        c.vari([fk.Variable("x", count=2)])
        b = c.build()
        self.assertEqual(len(b.expect["patched"]), 1)
        self.assertEqual(b.expect["chain_errors"][0]["name"], "x")

    def test_new_variable_records_and_counts(self):
        c = fk.Container(15)
        c.code([fk.CodeEntry("a", [fk.push_var("i", fk.SCOPE_SELF), fk.push_var("g", fk.SCOPE_GLOBAL)])])
        c.vari([fk.Variable("x", fk.SCOPE_BUILTIN), fk.Variable("j", fk.SCOPE_SELF)])
        b = c.build()
        d = b.data
        body, size = chunk_body(b, "VARI")
        self.assertEqual(size, 12 + 4 * 20)
        self.assertEqual((u32(d, body), u32(d, body + 4), u32(d, body + 8)), (1, 2, 0))
        recs = []
        for k in range(4):
            r = body + 12 + 20 * k
            recs.append((fk.read_string(d, u32(d, r)).decode(), i32(d, r + 4), i32(d, r + 8), u32(d, r + 12)))
        self.assertEqual(recs, [("x", -6, -6, 0), ("j", -1, 0, 0), ("i", -1, 1, 1), ("g", -5, 0, 1)])
        self.assertEqual([v["scope_passed"] for v in b.expect["variables"]], [-6, -1, -1, -5])
        b = fk.Container(15).vari(["v"], counts=(0, 0, 0)).build()
        self.assertEqual(b.expect["vari_counts"], {"globals": 0, "instances": 2, "locals": 0})

    def test_function_records_both_layouts_and_local_table(self):
        b = fk.Container(14).func(["f", "g"]).build()
        body, size = chunk_body(b, "FUNC")
        self.assertEqual(size, 24)
        self.assertEqual([fk.read_string(b.data, u32(b.data, body + 12 * k)) for k in range(2)], [b"f", b"g"])
        self.assertEqual(b.data[body + 4:body + 12], le(0, 0))

        b = fk.Container(15).func(["f"], locals={"a": ["i", (5, "j")], "b": []}).build()
        d = b.data
        body, size = chunk_body(b, "FUNC")
        self.assertEqual(size, 4 + 12 + 4 + (8 + 16) + 8)
        self.assertEqual(u32(d, body), 1)
        t = body + 16
        self.assertEqual(u32(d, t), 2)
        self.assertEqual(u32(d, t + 4), 2)
        self.assertEqual(fk.read_string(d, u32(d, t + 8)), b"a")
        self.assertEqual([u32(d, t + 12), u32(d, t + 20)], [0, 5])
        self.assertEqual([fk.read_string(d, u32(d, t + o)) for o in (16, 24)], [b"i", b"j"])
        self.assertEqual(u32(d, t + 28), 0)
        self.assertEqual(b.expect["locals"], [{"code": "a", "names": ["i", "j"], "slots": [0, 5]},
                                              {"code": "b", "names": [], "slots": []}])

    def test_missing_chunks_are_refused(self):
        with self.assertRaises(ValueError):
            fk.Container(14).code([fk.CodeEntry("a", [fk.push_var("x")])]).build()
        with self.assertRaises(ValueError):
            fk.Container(14).code([fk.CodeEntry("a", [fk.call("f")])]).vari().build()


class RemapTest(unittest.TestCase):
    # old number -> new number, as the loader's table gives it
    TABLE = {0: 0, 1: 5, 2: 6, 3: 7, 4: 8, 5: 9, 6: 10, 7: 11, 8: 12, 9: 13, 10: 14, 11: 15, 12: 16,
             13: 17, 14: 18, 15: 19, 16: 20, 17: 21, 18: 21, 19: 21, 20: 21, 21: 21, 22: 21, 23: 22,
             24: 23, 25: 24, 26: 25, 27: 26, 28: 27, 29: 28, 30: 29, 31: 31}

    def test_all_32_old_opcodes(self):
        for op, new in self.TABLE.items():
            for top3 in (0x00, 0x80, 0xA0):
                with self.subTest(op=op, top3=top3):
                    w = ((top3 | op) << 24) | 0x00520000
                    want = ((top3 | new) << 24) | 0x00520000
                    if new == 21:
                        want |= (((top3 | op) - 16) & 0xFF) << 8
                    self.assertEqual(fk.remap_word(w), want)

    def test_compare_kinds_in_bits_8_to_15(self):
        for kind in range(1, 7):
            with self.subTest(kind=kind):
                self.assertEqual(fk.remap_word(((16 + kind) << 24) | 0x00550000 | 0xAB00 | 0x12),
                                 0x15550012 | (kind << 8))
                self.assertEqual(fk.old_word(fk.compare(kind)), ((16 + kind) << 24) | 0x00550000)

    def test_operands_skipped_by_type(self):
        # each word has bit 30 and type T1, then 8 bytes that would change if taken for words (0x01 -> 0x05)
        sizes = {0: 8, 1: 4, 2: 4, 3: 8, 4: 4, 5: 4, 6: 4, 7: 0, 15: 0}
        for t, size in sizes.items():
            with self.subTest(type=t):
                code = le(0x41000000 | (t << 16), 0x01000000, 0x01000000, 0x1D000000)
                walked = [pos for pos, _, _ in fk.remap_walk(code)]
                self.assertEqual(walked, [0] + [p for p in (4, 8, 12) if p >= 4 + size])
                out = fk.remap_bytes(code)
                self.assertEqual(u32(out, 0), 0x45000000 | (t << 16))
                self.assertEqual(u32(out, 12), 0x1C000000)
                self.assertEqual(u32(out, 4), 0x01000000 if size >= 4 else 0x05000000)

    def test_walk_stops_at_the_entry_length(self):
        self.assertEqual(len(fk.remap_walk(le(0x01000000) + b"\x01\x00")), 1)
        self.assertEqual(len(fk.remap_walk(le(0x40000000, 0x01000000))), 1)  # operand runs past the end

    def test_old_word_round_trip(self):
        for op in range(32):
            w = fk.word(0x80 | op, fk.TYPE_I, 0, 3)
            with self.subTest(op=op):
                if op in (1, 2, 3, 4, 30):
                    with self.assertRaises(ValueError):
                        fk.old_word(w)
                elif op != 21:
                    self.assertEqual(fk.remap_word(fk.old_word(w)), w)

    def test_container_expectation(self):
        c = fk.Container(14)
        c.code([fk.CodeEntry("a", fk.old([fk.push_var("x"), fk.compare(2), fk.pop_var("x"), fk.ret()]))])
        c.vari()
        b = c.build()
        code = b.expect["code"][0]["bytecode"]
        self.assertEqual([r["offset"] - code for r in b.expect["remapped"]], [0, 8, 12, 20])
        self.assertEqual([u32(b.image, code + o) for o in (0, 8, 12, 20)],
                         [fk.word(0xC0, fk.TYPE_V, 0, -1), fk.compare(2), fk.word(0x45, 5, 5, -1), fk.ret()])


class TextureTest(unittest.TestCase):
    def test_page_entry_layout_and_alignment(self):
        for align, stride in ((4, 24), (2, 22)):
            with self.subTest(align=align):
                e = fk.TexturePageEntry(130, 134, 50, 61, 8, 1, 50, 61, 64, 64, 0)
                b = fk.Container(14).tpag([e, e], align=align).build()
                body, size = chunk_body(b, "TPAG")
                first, second = u32(b.data, body + 4), u32(b.data, body + 8)
                self.assertEqual(first, body + 12)
                self.assertEqual(second - first, stride)
                self.assertEqual(struct.unpack_from("<11h", b.data, first),
                                 (130, 134, 50, 61, 8, 1, 50, 61, 64, 64, 0))
                self.assertEqual(size % 4, 0)

    def test_txtr_records_and_page_bytes(self):
        b = fk.Container(14).txtr([fk.Page(b"PNGDATA", flags=3), fk.Page(None, flags=0)]).build()
        body, _ = chunk_body(b, "TXTR")
        self.assertEqual(u32(b.data, body), 2)
        r0, r1 = u32(b.data, body + 4), u32(b.data, body + 8)
        self.assertEqual((u32(b.data, r0), u32(b.data, r1), u32(b.data, r1 + 4)), (3, 0, 0))
        page = u32(b.data, r0 + 4)
        self.assertEqual(page % 128, 0)
        self.assertEqual(b.data[page:page + 7], b"PNGDATA")
        self.assertEqual([(p["flags_bit0"], p["data_offset"], p["data_size"]) for p in b.expect["pages"]],
                         [(1, page, len(b.data) - page), (0, 0, None)])

    def test_page_field_rewrite(self):
        entries = [fk.TexturePageEntry(page=1), fk.TexturePageEntry(page=0), fk.TexturePageEntry(page=2),
                   fk.TexturePageEntry(page=-1)]
        pages = [fk.Page(b"a"), fk.Page(b"b")]
        b = fk.Container(14).tpag(entries).txtr(pages).build(texture_ids=[0x00070003, 0x12345678])
        self.assertEqual([(t["before"], t["after"], t["what"]) for t in b.expect["tpag"]],
                         [(1, 0x5678, False), (0, 0x0003, False), (2, 2, True), (0xFFFF, 0xFFFF, True)])
        for t in b.expect["tpag"]:
            self.assertEqual(struct.unpack_from("<H", b.image, t["offset"])[0], t["after"])
        # pages before any TPAG: created, nothing rewritten
        b = fk.Container(14).txtr(pages).tpag(entries).build()
        self.assertEqual(len(b.expect["pages"]), 2)
        self.assertEqual(b.expect["tpag"], [])
        self.assertEqual(b.image, b.data)

    def test_raw_image_block(self):
        self.assertEqual(fk.raw_image(1, 2, b"\x01\x02\x03\x04" * 2),
                         b"RAW " + le(1, 2, 0) + b"\x01\x02\x03\x04" * 2)
        self.assertEqual(len(fk.raw_image(3, 1, kind=1)), 16 + 6)


class DebugAndDamageTest(unittest.TestCase):
    def test_debug_file(self):
        b = fk.DebugFile().dbgi([1, 2]).scpt([], count=5).inst([b"\x09" * 8]).build()
        self.assertEqual(b.data, b"FORM" + le(52) + b"DBGI" + le(12) + le(2, 1, 2) + b"SCPT" + le(4) + le(5)
                         + b"INST" + le(12) + le(1) + b"\x09" * 8)
        self.assertEqual([(c["tag"], c["entries"], c["count"]) for c in b.expect["chunks"]],
                         [("DBGI", 20, 2), ("SCPT", 40, 5), ("INST", 52, 1)])
        self.assertEqual(fk.debug_path("/a/b/game.win"), "/a/b/game.qzdebug")

    def test_damage(self):
        b = fk.Container(14).code([fk.CodeEntry("a", [fk.push_var("x")])]).vari().chunk("OPTN", b"1234").build()
        short = fk.form_size_off(b.data, -1)
        self.assertEqual(u32(short, 4), len(b.data) - 9)
        self.assertFalse(fk.form_ok(short))
        self.assertEqual(fk.simulate(short, {}, {}).expect["patched"], [])
        past = fk.chunk_size_past_end(b.data, "CODE", by=3)
        off, size = fk.find_chunk(past, "CODE")
        self.assertEqual(off + 8 + size, len(b.data) + 3)
        self.assertTrue(fk.form_ok(past))
        cut = fk.truncate(b.data, len(b.data) - 2, fix_form_size=True)
        self.assertTrue(fk.form_ok(cut))
        self.assertEqual([t for t, _, _ in fk.chunks(cut)], [b"CODE", b"VARI", b"OPTN"])
        self.assertEqual(fk.truncate(b.data, 10), b.data[:10])

    def test_written_files(self):
        b = fk.Container(15).gen8().code([fk.CodeEntry("a", [fk.call("f")])]).func().build()
        with tempfile.TemporaryDirectory() as tmp:
            path = b.write(tmp, "game", image=True)
            with open(path, "rb") as f:
                self.assertEqual(f.read(), b.data)
            with open(path + ".json") as f:
                e = json.load(f)
            self.assertEqual(e["func_ids"], {"f": 1000})
            self.assertEqual(e["patched"][0]["after"], 1000)
            with open(path + ".image", "rb") as f:
                self.assertEqual(f.read(), b.image)


class SeedCorpusTest(unittest.TestCase):
    def test_seeds_cover_every_version_small_and_sound(self):
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import make_corpus
        versions = set()
        for name, version, major, tag in make_corpus.SEEDS:
            with self.subTest(name):
                b = make_corpus.seed(version, major, tag)
                versions.add(version)
                self.assertLess(len(b.data), 4096)
                self.assertTrue(fk.form_ok(b.data))
                e = b.expect
                self.assertEqual((e["unresolved"], e["chain_errors"]), (None, []))
                self.assertEqual(len(e["patched"]), sum(len(v) for v in e["occurrences"]["var"].values())
                                 + sum(len(v) for v in e["occurrences"]["func"].values()))
                self.assertEqual(set(e["var_ids"]), set(make_corpus.VAR_NAMES))
                self.assertEqual(set(e["func_ids"]), set(make_corpus.FUNC_NAMES))
        self.assertEqual(versions, set(range(7, 16)))


if __name__ == "__main__":
    unittest.main()
