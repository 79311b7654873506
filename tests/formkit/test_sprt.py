"""formkit's SPRT writer against the entry layout: every word of each header form read back by hand, where
the body starts in both data generations, frame references into TPAG, stored mask bits (rows and a PNG's
alpha), vector and skeleton content, empty slots and the damaged variants."""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
source = os.environ.get("KV_SOURCE_DIR") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(source, "tools"))

import formkit as fk  # noqa: E402


def u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


def i32(data, off):
    return struct.unpack_from("<i", data, off)[0]


def text(data, ref):
    n = u32(data, ref - 4)
    assert data[ref + n] == 0
    return data[ref:ref + n].decode()


def build(sprites, new_format=False, tpag=3, **kw):
    c = fk.Container(14).gen8(major=2 if new_format else 1).strg()
    c.tpag([fk.TexturePageEntry(i, 0, 4, 4) for i in range(tpag)])
    built = c.sprt(sprites, new_format=new_format, **kw).build()
    off, size = fk.find_chunk(built.data, "SPRT")
    tp, _ = fk.find_chunk(built.data, "TPAG")
    return built.data, off + 8, size, [u32(built.data, tp + 12 + 4 * i) for i in range(tpag)]


def entry(data, body, i):
    return u32(data, body + 4 + 4 * i)


class HeaderForms(unittest.TestCase):
    def test_fixed_fields_in_table_order(self):
        s = fk.Sprite("spr_a", width=9, height=7, bbox=(1, 2, 8, 6), transparent=False, smooth=True,
                      preload=False, bbox_mode=2, precise=False, origin=(4, -3), frames=[1])
        data, body, _, _ = build([s])
        e = entry(data, body, 0)
        self.assertEqual(text(data, u32(data, e)), "spr_a")
        # width, height, left, right, bottom, top, transparent, smooth, preload, mode, precise, ox, oy, frames
        want = [9, 7, 1, 8, 6, 2, 0, 1, 0, 2, 0, 4, -3, 1]
        self.assertEqual([i32(data, e + 4 + 4 * k) for k in range(14)], want)

    def test_body_offsets(self):
        # (header, new format, body offset, frame-count word written in the body)
        cases = [("plain", False, 60, False), ("plain", True, 60, False),
                 ("extended", False, 68, False), ("extended", True, 72, True)]
        for header, new, at, counted in cases:
            with self.subTest(header=header, new=new):
                frames = [] if (header, new) == ("extended", False) else [0, 2]
                s = fk.Sprite("s", header=header, frames=frames, speed=12.5, version=3)
                data, body, _, tp = build([s], new_format=new)
                e = entry(data, body, 0)
                if header == "extended":
                    self.assertEqual(i32(data, e + 56), -1)
                    self.assertEqual(u32(data, e + 60), 3)
                    self.assertEqual(u32(data, e + 64), 0)
                    if new:
                        self.assertEqual(struct.unpack_from("<f", data, e + 68)[0], 12.5)
                p = e + at
                if counted:
                    self.assertEqual(u32(data, p), 2)
                    p += 4
                if frames:
                    self.assertEqual([u32(data, p), u32(data, p + 4)], [tp[0], tp[2]])
                    p += 8
                self.assertEqual(u32(data, p), 0)  # mask count
                with self.assertRaises(ValueError):  # the older extended form cannot carry frames
                    build([fk.Sprite("s", header="extended", frames=[0])])

    def test_plain_with_no_frames_in_the_newer_format_counts_again(self):
        s = fk.Sprite("s", frames=[], frame_count=0)
        data, body, _, _ = build([s], new_format=True)
        e = entry(data, body, 0)
        self.assertEqual([u32(data, e + 56), u32(data, e + 60), u32(data, e + 64)], [0, 0, 0])


class Masks(unittest.TestCase):
    def test_rows_pack_most_significant_bit_first(self):
        rows = ["100000001", "01", ""]
        self.assertEqual(fk.pack_mask(rows, 9, 3), bytes([0x80, 0x80, 0x40, 0x00, 0x00, 0x00]))
        self.assertEqual(fk.mask_size(9, 3), 6)
        with self.assertRaises(ValueError):
            fk.pack_mask(["2"], 1, 1)

    def test_masks_follow_the_count(self):
        s = fk.Sprite("s", width=9, height=2, frames=[0, 1], masks=[["1"], ["000000001", "1"]])
        data, body, _, _ = build([s])
        p = entry(data, body, 0) + 60 + 8
        self.assertEqual(u32(data, p), 2)
        self.assertEqual(data[p + 4:p + 12], bytes([0x80, 0, 0, 0, 0, 0x80, 0x80, 0]))

    @unittest.skipUnless(shutil.which("convert"), "ImageMagick is missing")
    def test_mask_from_png_alpha(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "m.png")
            # a 3 x 2 transparent image with two opaque pixels; written by ImageMagick, read by formkit
            subprocess.run(["convert", "-size", "3x2", "xc:none", "-fill", "red", "-draw", "point 0,0",
                            "-draw", "point 2,1", "PNG32:" + path], check=True)
            self.assertEqual(fk.mask_from_png(path), ["100", "001"])


class Content(unittest.TestCase):
    def test_vector_and_skeleton_bytes(self):
        sk = fk.skeleton_content('{"a":1}', "atlas", (7, 8, 9), b"TEX")
        sprites = [fk.Sprite("v", header="extended", kind=1, content=b"VEC!", skip_word=5),
                   fk.Sprite("k", header="extended", kind=2, content=sk)]
        for new, at in ((False, 68), (True, 72)):
            with self.subTest(new=new):
                data, body, _, _ = build(sprites, new_format=new)
                v, k = entry(data, body, 0), entry(data, body, 1)
                self.assertEqual(u32(data, v + 64), 1)
                self.assertEqual(u32(data, v + at), 5)
                self.assertEqual(data[v + at + 4:v + at + 8], b"VEC!")
                self.assertEqual(struct.unpack_from("<5i", data, k + at + 4), (7, 5, 7, 8, 9))
                self.assertEqual(data[k + at + 24:k + at + 36], b'{"a":1}atlas')

    def test_plain_header_is_always_a_bitmap(self):
        with self.assertRaises(ValueError):
            fk.Sprite("s", kind=1)


class SlotsAndDamage(unittest.TestCase):
    def test_empty_slot_and_raw_frames(self):
        data, body, size, _ = build([None, fk.Sprite("s", frames=[None, fk.Raw(12345)])])
        self.assertEqual(u32(data, body), 2)
        self.assertEqual(entry(data, body, 0), 0)
        e = entry(data, body, 1)
        self.assertEqual([u32(data, e + 60), u32(data, e + 64)], [0, 12345])
        self.assertEqual(e % 4, 0)

    def test_damage_options(self):
        s = fk.Sprite("s", width=8, height=1, frames=[0], masks=[["1"]], mask_count=1000,
                      words={4: 0xFFFFFFFF})
        data, body, size, _ = build([s], count=3, cut=None)
        self.assertEqual(u32(data, body), 3)
        e = entry(data, body, 0)
        self.assertEqual(i32(data, e + 4), -1)
        self.assertEqual(u32(data, e + 64), 1000)
        cut = build([s], cut=20)
        self.assertEqual(cut[2], 20)


if __name__ == "__main__":
    unittest.main()
