"""formkit's FONT writer against the entry layout: every field of an entry and of its glyph records read back
by hand, kerning pairs, the texture-page reference, empty slots, the code table at the body's end, and the
damaged variants."""

import os
import struct
import sys
import unittest

sys.dont_write_bytecode = True
source = os.environ.get("KV_SOURCE_DIR") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(source, "tools"))

import formkit as fk  # noqa: E402


def u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


def i16(data, off):
    return struct.unpack_from("<h", data, off)[0]


def text(data, ref):
    if ref == 0:
        return None
    n = u32(data, ref - 4)
    assert data[ref + n] == 0, "no NUL after the text at %d" % ref
    return data[ref:ref + n].decode("utf-8")


def build(fonts, tpag=(), **kw):
    c = fk.Container(14).gen8().strg()
    c.tpag(tpag)
    built = c.font(fonts, **kw).build()
    off, size = fk.find_chunk(built.data, "FONT")
    return built.data, off + 8, size


def read_glyph(data, at):
    g = {"code": struct.unpack_from("<H", data, at)[0]}
    for k, name in enumerate(("x", "y", "width", "height", "shift", "offset", "pairs")):
        g[name] = i16(data, at + 2 + 2 * k)
    g["kerning"] = [(i16(data, at + 16 + 4 * p), i16(data, at + 18 + 4 * p)) for p in range(g["pairs"])]
    return g


def read_entry(data, at, offsets=True):
    e = {"name": text(data, u32(data, at)), "face": text(data, u32(data, at + 4)),
         "size": struct.unpack_from("<i", data, at + 8)[0], "bold": u32(data, at + 12),
         "italic": u32(data, at + 16), "first": struct.unpack_from("<H", data, at + 20)[0],
         "charset": data[at + 22], "aa": data[at + 23], "last": u32(data, at + 24), "tpag": u32(data, at + 28),
         "scale": struct.unpack_from("<ff", data, at + 32), "count": u32(data, at + 40)}
    if offsets:
        e["glyph_offsets"] = [u32(data, at + 44 + 4 * j) for j in range(e["count"])]
    return e


class FontLayout(unittest.TestCase):
    def test_entries_read_back_field_by_field(self):
        cases = [  # (label, Font, expected (bold, italic, charset, aa byte, scales))
            ("plain", fk.Font("fnt_a", face="Sans", glyphs=[fk.Glyph(65, 1, 2, 10, 14)]),
             (0, 0, 0, 0, (1.0, 1.0))),
            ("bold italic, charset and level 2", fk.Font("fnt_b", face="Serif", size=24, bold=True, italic=True,
                                                          charset=1, antialias=2, first=48, last=57,
                                                          xscale=2.0, yscale=0.5),
             (1, 1, 1, 3, (2.0, 0.5))),
            ("negative size, no face", fk.Font("fnt_c", size=-9), (0, 0, 0, 0, (1.0, 1.0))),
        ]
        for label, font, (bold, italic, charset, aa, scale) in cases:
            with self.subTest(label):
                data, body, size = build([font], tpag=[fk.TexturePageEntry(4, 8, 64, 32)])
                self.assertEqual(u32(data, body), 1)
                e = read_entry(data, u32(data, body + 4))
                self.assertEqual((e["name"], e["face"], e["size"]), (font.name, font.face, font.size))
                self.assertEqual((e["bold"], e["italic"], e["charset"], e["aa"]), (bold, italic, charset, aa))
                self.assertEqual((e["first"], e["last"], e["scale"]), (font.first, font.last, scale))
                self.assertEqual(e["count"], len(font.glyphs))
                # the texture-page reference is the TPAG record's offset
                tpag_body = fk.find_chunk(data, "TPAG")[0] + 8
                self.assertEqual(e["tpag"], u32(data, tpag_body + 4))
                self.assertEqual(struct.unpack_from("<4h", data, e["tpag"]), (4, 8, 64, 32))

    def test_glyph_records_and_kerning_pairs(self):
        glyphs = [fk.Glyph(32, shift=7), fk.Glyph(65, 3, 4, 10, 14, shift=11, offset=-2),
                  fk.Glyph(0x25AF, 100, 0, 9, 15, kerning=[(65, -1), (32, 2)]),
                  fk.Glyph(0xFFFF, -5, -6, 0, 0, shift=0)]
        data, body, size = build([fk.Font("fnt", glyphs=glyphs)], tpag=[fk.TexturePageEntry()])
        e = read_entry(data, u32(data, body + 4))
        got = [read_glyph(data, off) for off in e["glyph_offsets"]]
        for g, want in zip(got, glyphs):
            self.assertEqual((g["code"], g["x"], g["y"], g["width"], g["height"], g["shift"], g["offset"]),
                             (want.code, want.x, want.y, want.width, want.height, want.shift, want.offset))
            self.assertEqual(g["kerning"], want.kerning)
        # records lie inside the chunk, before the code table
        last = e["glyph_offsets"][-1]
        self.assertLessEqual(last + 16, body + size - 512)

    def test_code_table_is_the_bodys_last_512_bytes(self):
        custom = [(c * 3) & 0xFFFF for c in range(256)]
        cases = [("default", "default", fk.default_code_table()), ("custom", custom, custom)]
        for label, table, want in cases:
            with self.subTest(label):
                data, body, size = build([fk.Font("f", glyphs=[fk.Glyph(65, width=3)])],
                                         tpag=[fk.TexturePageEntry()], code_table=table)
                got = list(struct.unpack_from("<256H", data, body + size - 512))
                self.assertEqual(got, want)
        self.assertEqual(fk.default_code_table()[65], 65)
        self.assertEqual(fk.default_code_table()[200], 63)

    def test_empty_table_slots_and_no_texture(self):
        data, body, size = build([], code_table=None)
        self.assertEqual((u32(data, body), size), (0, 4))
        data, body, size = build([], )
        self.assertEqual((u32(data, body), size), (0, 4 + 512))
        data, body, _ = build([fk.Font("a", tpag=None), None, fk.Font("b", tpag_offset=0x7FFFFFF0)])
        self.assertEqual(u32(data, body), 3)
        self.assertEqual(u32(data, body + 8), 0)
        self.assertEqual(read_entry(data, u32(data, body + 4))["tpag"], 0)
        self.assertEqual(read_entry(data, u32(data, body + 12))["tpag"], 0x7FFFFFF0)

    def test_damaged_variants(self):
        data, body, size = build([fk.Font("f", glyph_count=1000, glyphs=[fk.Glyph(65), 0xFFFFFF00]),
                                  fk.Font("g", glyphs=[fk.Glyph(66, kerning=[(1, 2)], kerning_count=40)])],
                                 tpag=[fk.TexturePageEntry()], count=9)
        self.assertEqual(u32(data, body), 9)
        first = read_entry(data, u32(data, body + 4), offsets=False)
        self.assertEqual(first["count"], 1000)
        self.assertEqual(u32(data, u32(data, body + 4) + 48), 0xFFFFFF00)
        second = u32(data, body + 8)
        glyph = u32(data, second + 44)
        self.assertEqual(i16(data, glyph + 14), 40)
        # cut and size damage the chunk as for the other writers
        data, body, size = build([fk.Font("f")], tpag=[fk.TexturePageEntry()], cut=30)
        self.assertEqual(size, 30)


if __name__ == "__main__":
    unittest.main()
