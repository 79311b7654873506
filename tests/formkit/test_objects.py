"""The formkit OBJT and TMLN writers: every word read back by hand from the entry layouts, for each
bytecode version's physics block, empty slots, raw sprite words, event lists and damage overrides."""

import os
import struct
import sys
import unittest

sys.dont_write_bytecode = True
SOURCE = os.environ.get("KV_SOURCE_DIR") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE, "tools"))

import formkit as fk  # noqa: E402


def u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


def i32(data, off):
    return struct.unpack_from("<i", data, off)[0]


def f32(data, off):
    return struct.unpack_from("<f", data, off)[0]


def text(data, ref):
    n = u32(data, ref - 4)
    assert data[ref + n] == 0
    return data[ref:ref + n].decode("utf-8")


def body(built, tag):
    (c,) = [c for c in built.expect["chunks"] if c["tag"] == tag]
    return c["body"], c["size"]


CODE = ["ksl_a", "ksl_b", "ksl_c"]


def build(version=14, objects=None, timelines=None, **objt):
    c = fk.Container(version=version)
    c.gen8()
    c.code([fk.CodeEntry(n, fk.old([fk.ret()]) if version < 15 else [fk.ret()]) for n in CODE])
    c.vari()
    c.func()
    if objects is not None:
        c.objt(objects, **objt)
    if timelines is not None:
        c.tmln(timelines)
    c.strg()
    return c.build()


def action_code(data, list_off):
    """(count, code index of the first record or None) of an action list."""
    count = u32(data, list_off)
    if count == 0:
        return 0, None
    return count, u32(data, u32(data, list_off + 4) + 32)


def read_events(data, at):
    """The event lists after the fixed part: {type: [(number, count, code)]} and the type count."""
    types = u32(data, at)
    out = {}
    for t in range(types):
        lst = u32(data, at + 4 + 4 * t)
        for e in range(u32(data, lst)):
            ev = u32(data, lst + 4 + 4 * e)
            count, code = action_code(data, ev + 4)
            out.setdefault(t, []).append((i32(data, ev), count, code))
    return types, out


class ObjtLayout(unittest.TestCase):
    def test_fixed_fields_and_physics_block_per_version(self):
        phys = fk.Physics(uses=True, sensor=True, shape=1, density=0.5, restitution=0.25, group=-2,
                          linear_damping=0.75, angular_damping=1.25, points=[(1.5, -2.0), (3.0, 4.0)],
                          friction=0.625, awake=False, kinematic=True)
        obj = fk.Object("obj_p", sprite=7, visible=False, solid=True, depth=-10, persistent=True, parent=3,
                        mask=5, physics=phys, events={(3, 0): "ksl_b"})
        # version: (block size before the points, friction/awake/kinematic present)
        for version, block, late in ((5, 0, False), (8, 36, False), (9, 48, True), (15, 48, True)):
            with self.subTest(version=version):
                b = build(version, [obj])
                d = b.data
                start, _ = body(b, "OBJT")
                self.assertEqual(u32(d, start), 1)
                e = u32(d, start + 4)
                self.assertEqual(text(d, u32(d, e)), "obj_p")
                self.assertEqual([i32(d, e + 4 * k) for k in range(1, 8)], [7, 0, 1, -10, 1, 3, 5])
                at = e + 32
                if block:
                    self.assertEqual([u32(d, at), u32(d, at + 4), u32(d, at + 8)], [1, 1, 1])
                    self.assertEqual([f32(d, at + 12), f32(d, at + 16)], [0.5, 0.25])
                    self.assertEqual(i32(d, at + 20), -2)
                    self.assertEqual([f32(d, at + 24), f32(d, at + 28)], [0.75, 1.25])
                    self.assertEqual(u32(d, at + 32), 2)
                    if late:
                        self.assertEqual(f32(d, at + 36), 0.625)
                        self.assertEqual([u32(d, at + 40), u32(d, at + 44)], [0, 1])
                    at += block
                    self.assertEqual([f32(d, at), f32(d, at + 4), f32(d, at + 8), f32(d, at + 12)],
                                     [1.5, -2.0, 3.0, 4.0])
                    at += 16
                types, events = read_events(d, at)
                self.assertEqual(types, 12)
                self.assertEqual(events, {3: [(0, 1, 1)]})

    def test_empty_slots_sprite_words_and_default_parent(self):
        b = build(14, [None, fk.Object("a", sprite=0x80000003), fk.Object("b", sprite=0xFFFFFFFF), None])
        d = b.data
        start, _ = body(b, "OBJT")
        self.assertEqual(u32(d, start), 4)
        self.assertEqual([u32(d, start + 4), u32(d, start + 16)], [0, 0])
        a, bb = u32(d, start + 8), u32(d, start + 12)
        self.assertEqual(u32(d, a + 4), 0x80000003)
        self.assertEqual(u32(d, bb + 4), 0xFFFFFFFF)
        self.assertEqual(i32(d, a + 24), fk.PARENT_NONE)
        self.assertEqual([u32(d, a + 8), u32(d, a + 12), u32(d, a + 20), i32(d, a + 28)], [1, 0, 0, -1])

    def test_events_in_type_and_number_order_and_raw_lists(self):
        events = {(4, 2): "ksl_c", (0, 0): None, (3, 2): 7, (3, 0): "ksl_a"}
        b = build(14, [fk.Object("a", events=events)])
        start, _ = body(b, "OBJT")
        e = u32(b.data, start + 4)
        self.assertEqual(read_events(b.data, e + 80)[1],
                         {0: [(0, 0, None)], 3: [(0, 1, 0), (2, 1, 7)], 4: [(2, 1, 2)]})
        raw = [[], [], [], [(5, "ksl_a"), (5, "ksl_b"), (-1, 2)]]
        b = build(14, [fk.Object("r", event_lists=raw)])
        start, _ = body(b, "OBJT")
        types, got = read_events(b.data, u32(b.data, start + 4) + 80)
        self.assertEqual(types, 4)
        self.assertEqual(got, {3: [(5, 1, 0), (5, 1, 1), (-1, 1, 2)]})

    def test_damage_overrides(self):
        b = build(14, [fk.Object("m", types=13, physics=fk.Physics(points=[(1, 1)], count=99))])
        start, _ = body(b, "OBJT")
        e = u32(b.data, start + 4)
        self.assertEqual(u32(b.data, e + 64), 99)        # the point count word
        types, got = read_events(b.data, e + 80 + 8)  # the one point follows the block
        self.assertEqual((types, got), (13, {}))
        cut = build(14, [fk.Object("c")], cut=8)
        self.assertEqual(body(cut, "OBJT")[1], 8)


class TmlnLayout(unittest.TestCase):
    def test_entries_moments_and_action_lists(self):
        b = build(14, None, [fk.Timeline("t0", [(10, "ksl_a"), (20, None), (-3, 2)]), None, fk.Timeline("t2")])
        d = b.data
        start, _ = body(b, "TMLN")
        self.assertEqual(u32(d, start), 3)
        self.assertEqual(u32(d, start + 8), 0)
        e = u32(d, start + 4)
        self.assertEqual(text(d, u32(d, e)), "t0")
        self.assertEqual(u32(d, e + 4), 3)
        got = [(i32(d, e + 8 + 8 * m),) + action_code(d, u32(d, e + 12 + 8 * m)) for m in range(3)]
        self.assertEqual(got, [(10, 1, 0), (20, 0, None), (-3, 1, 2)])
        last = u32(d, start + 12)
        self.assertEqual((text(d, u32(d, last)), u32(d, last + 4)), ("t2", 0))

    def test_count_override(self):
        b = build(14, None, [fk.Timeline("t", [(1, None)], count=1000)])
        start, _ = body(b, "TMLN")
        self.assertEqual(u32(b.data, u32(b.data, start + 4) + 4), 1000)


if __name__ == "__main__":
    unittest.main()
