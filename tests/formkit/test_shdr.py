"""formkit's SHDR writer against the record layout: every word of a record read back by hand (name, type
with its extension bit, eight source slots, attribute names, extension versions), empty slots, raw
offsets, blobs and the damaged variants."""

import os
import struct
import sys
import unittest

sys.dont_write_bytecode = True
source = os.environ.get("KV_SOURCE_DIR") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(source, "tools"))

import formkit as fk  # noqa: E402

VS = "float4 main (float4 p : POSITION) : POSITION { return p; }"
PS = "float4 main () : COLOR0 { return float4 (1, 0, 0, 1); }"


def u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


def text(data, ref):
    """A pooled string: length word before, NUL after."""
    if ref == 0:
        return None
    n = u32(data, ref - 4)
    assert data[ref + n] == 0, "no NUL after the text at %d" % ref
    return data[ref:ref + n].decode("utf-8")


def build(shaders, **kw):
    # STRG first, so that SHDR is the last chunk and its body runs to the end of the data
    built = fk.Container(14).gen8().strg().shdr(shaders, **kw).build()
    off, size = fk.find_chunk(built.data, "SHDR")
    return built.data, off + 8, size


def read_record(data, at):
    """The record at `at` as a dict, walked word by word the way a reader must."""
    w = lambda i: u32(data, at + 4 * i)  # noqa: E731
    n = w(10)
    rec = {"name": text(data, w(0)), "type": w(1), "sources": [text(data, w(2 + j)) for j in range(8)],
           "attributes": [text(data, w(11 + j)) for j in range(n)], "words": 11 + n}
    if w(1) & 0x80000000:
        v = w(11 + n)
        rec["version"] = v
        rec["words"] += 1
        if v > 0:
            rec["pairs"] = [(w(12 + n + 2 * j), w(13 + n + 2 * j)) for j in range(4)]
            rec["words"] += 8
        if v >= 2:
            rec["further"] = [w(20 + n), w(22 + n)]
            rec["words"] += 4
    return rec


class ShdrLayout(unittest.TestCase):
    def test_records_by_extension_and_attributes(self):
        blob = b"\x01\x02\x03\x04\x05"
        cases = [  # (label, shader, expected extension words or None)
            ("no extension, 0 attributes", fk.Shader("a", VS, PS), None),
            ("no extension, 3 attributes",
             fk.Shader("b", VS, PS, attributes=["in_Position", "in_Colour", "in_TextureCoord"]), None),
            ("version 0", fk.Shader("c", VS, PS, extension=fk.ShaderExtension(0)), 1),
            ("version 1", fk.Shader("d", VS, PS, attributes=["x"], extension=fk.ShaderExtension(
                1, blobs=[blob, None, (7, 9)])), 9),
            ("version 2", fk.Shader("e", VS, PS, type=3, extension=fk.ShaderExtension(
                2, blobs=[blob], further=[b"\xAA\xBB", 1234])), 13),
        ]
        for label, shader, ext_words in cases:
            with self.subTest(label):
                data, body, size = build([shader])
                self.assertEqual(u32(data, body), 1)
                rec = read_record(data, u32(data, body + 4))
                self.assertEqual(rec["name"], shader.name)
                self.assertEqual(rec["sources"], [None] * 4 + [VS, PS, None, None])
                self.assertEqual(rec["attributes"], shader.attributes)
                self.assertEqual(rec["type"] & 0x7FFFFFFF, shader.type)
                self.assertEqual(bool(rec["type"] & 0x80000000), ext_words is not None)
                self.assertEqual(rec["words"], 11 + len(shader.attributes) + (ext_words or 0))
                # the record lies inside the chunk
                self.assertLessEqual(u32(data, body + 4) + 4 * rec["words"], body + size)
                if ext_words is None or rec["version"] == 0:
                    continue
                self.assertEqual(rec["pairs"][1], (0, 0))
                self.assertEqual(rec["pairs"][2] if rec["version"] == 1 else rec["pairs"][3],
                                 (7, 9) if rec["version"] == 1 else (0, 0))
                off, n = rec["pairs"][0]
                self.assertEqual(data[off:off + n], blob)
                self.assertTrue(body <= off and off + n <= body + size, "blob outside the chunk")
                if rec["version"] >= 2:
                    self.assertEqual(data[rec["further"][0]:rec["further"][0] + 2], b"\xAA\xBB")
                    self.assertEqual(rec["further"][1], 1234)

    def test_every_source_slot_and_null_sources(self):
        srcs = ["s%d" % i for i in range(1, 9)]
        data, body, _ = build([fk.Shader("all", sources=srcs), fk.Shader("none", sources=[])])
        first = read_record(data, u32(data, body + 4))
        second = read_record(data, u32(data, body + 8))
        self.assertEqual(first["sources"], srcs)
        self.assertEqual(second["sources"], [None] * 8)
        # vertex and pixel overwrite slots 5 and 6 only
        data, body, _ = build([fk.Shader("vp", vertex="V", pixel="P", sources=srcs)])
        self.assertEqual(read_record(data, u32(data, body + 4))["sources"],
                         ["s1", "s2", "s3", "s4", "V", "P", "s7", "s8"])

    def test_empty_table_slots_and_shared_names(self):
        data, body, size = build([])
        self.assertEqual((u32(data, body), size), (0, 4))
        data, body, _ = build([fk.Shader("dup", VS, PS), None, fk.Shader("dup", PS, VS)])
        self.assertEqual(u32(data, body), 3)
        self.assertEqual(u32(data, body + 8), 0)
        a, c = (read_record(data, u32(data, body + 4 + 4 * i)) for i in (0, 2))
        self.assertEqual((a["name"], c["name"]), ("dup", "dup"))
        self.assertEqual((a["sources"][4], c["sources"][4]), (VS, PS))
        # one pooled text serves both names
        self.assertEqual(u32(data, u32(data, body + 4)), u32(data, u32(data, body + 12)))

    def test_raw_words_and_blob_texts(self):
        past = 0x7FFFFFF0
        shader = fk.Shader(fk.Blob(b"open"), vertex=past, pixel=PS, attributes=[past, "a"],
                           attribute_count=1000, type_word=0x80000001)
        data, body, size = build([shader], count=50)
        self.assertEqual(u32(data, body), 50)
        at = u32(data, body + 4)
        self.assertEqual(u32(data, at + 4), 0x80000001)     # bit 31 as given, yet no extension words
        self.assertEqual(u32(data, at + 4 * 6), past)       # slot 5
        self.assertEqual(u32(data, at + 40), 1000)
        self.assertEqual(u32(data, at + 44), past)
        self.assertEqual(text(data, u32(data, at + 48)), "a")
        name = u32(data, at)
        self.assertEqual(data[name:name + 4], b"open")       # placed as given, no length word
        self.assertEqual(at + 52, name)                     # right after the record

    def test_damage_options(self):
        data, body, size = build([fk.Shader("s", VS, PS)])
        cases = [  # (label, options, body size, size word)
            ("extra", {"extra": b"\xEE" * 6}, size + 6, size + 6),
            ("cut", {"cut": 8}, 8, 8),
            ("size", {"size": 0x10000}, size, 0x10000),
        ]
        for label, options, length, word in cases:
            with self.subTest(label):
                d, b, s = build([fk.Shader("s", VS, PS)], **options)
                self.assertEqual(s, word)
                self.assertEqual(len(d) - b, length)
                self.assertEqual(d[b:b + min(length, size)], data[body:body + min(length, size)])
                if label == "extra":
                    self.assertEqual(d[b + size:], b"\xEE" * 6)

    def test_unknown_shader_fields_are_refused(self):
        with self.assertRaises(ValueError):
            fk.Shader("s", sources=[None] * 9)
        with self.assertRaises(ValueError):
            fk.ShaderExtension(2, further=[1, 2, 3])


if __name__ == "__main__":
    unittest.main()
