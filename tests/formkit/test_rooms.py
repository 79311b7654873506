"""formkit's ROOM writer against the entry layout: one small room checked word by word at offsets worked
out by hand, the older layout without physics fields, the defaults of a room, creation code ids, and the
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

CODE_NAMES = ["ksl_RoomCode_a", "ksl_RoomCode_b", "ksl_InstanceCode_a"]


def container(version, rooms, **kw):
    c = fk.Container(version)
    c.gen8()
    body = [fk.ret()] if version >= 15 else fk.old([fk.ret()])
    c.code([fk.CodeEntry(n, list(body)) for n in CODE_NAMES])
    c.vari()
    c.func()
    c.room(rooms, **kw)
    c.strg()
    return c.build().data


def room_body(data):
    off, size = fk.find_chunk(data, "ROOM")
    return off + 8, size


def u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


def i32(data, off):
    return struct.unpack_from("<i", data, off)[0]


def f32(data, off):
    return struct.unpack_from("<f", data, off)[0]


def small_room():
    return fk.Room(
        "rm_a", caption="Hi", width=320, height=200, speed=60, persistent=True, colour=0x112233,
        show_colour=False, code="ksl_RoomCode_b", views_enabled=True, display_clear=False, layout=2,
        backgrounds=[fk.Background(visible=True, index=3, x=-5, y=7, htiled=False, hspeed=2, vspeed=-1,
                                   stretch=True)],
        views=[fk.View(visible=True, x=10, y=20, width=160, height=100, port_x=1, port_y=2, port_width=320,
                       port_height=200, border_x=8, border_y=9, speed_x=4, target=2)],
        instances=[fk.Instance(16, 32, obj=0, id=100001, code="ksl_InstanceCode_a", xscale=2.0, yscale=-1.0,
                               colour=0x80FF0000, rotation=90.0)],
        tiles=[fk.Tile(48, -16, background=1, left=2, top=4, width=16, height=8, depth=1000, id=10000001,
                       xscale=0.5, yscale=1.5, colour=0xFF00FF00)],
        physics=True, gravity=(1.5, -9.75), pixels_to_metres=0.125, unread=(1, 2, 3, 4),
        layers=[b"\x01\x02\x03\x04"])


class RoomLayout(unittest.TestCase):
    def test_one_small_room_word_by_word(self):
        # Body offsets worked out by hand: count, two slots (the first empty), the 92-byte entry at 12,
        # then its lists: backgrounds at 104 (record at 112), views at 152 (160), instances at 216 (224),
        # tiles at 260 (268), layers at 316 (324), ending at 328.
        data = container(14, [None, small_room()])
        b, size = room_body(data)
        self.assertEqual(size, 328)
        ints = {0: 2, 4: 0, 8: b + 12,
                20: 320, 24: 200, 28: 60, 32: 1, 36: 0x112233, 40: 0, 44: 1, 48: 0x00020005,
                52: b + 104, 56: b + 152, 60: b + 216, 64: b + 260, 68: 1, 72: 1, 76: 2, 80: 3, 84: 4,
                100: b + 316,
                104: 1, 108: b + 112,
                152: 1, 156: b + 160,
                216: 1, 220: b + 224,
                260: 1, 264: b + 268,
                316: 1, 320: b + 324}
        for rel, value in ints.items():
            with self.subTest(at=rel):
                self.assertEqual(u32(data, b + rel), value & 0xFFFFFFFF)
        self.assertEqual(fk.read_string(data, u32(data, b + 12)), b"rm_a")
        self.assertEqual(fk.read_string(data, u32(data, b + 16)), b"Hi")
        self.assertEqual([f32(data, b + o) for o in (88, 92, 96)], [1.5, -9.75, 0.125])
        self.assertEqual([i32(data, b + 112 + 4 * k) for k in range(10)], [1, 0, 3, -5, 7, 0, 1, 2, -1, 1])
        self.assertEqual([i32(data, b + 160 + 4 * k) for k in range(14)],
                         [1, 10, 20, 160, 100, 1, 2, 320, 200, 8, 9, 4, -1, 2])
        self.assertEqual([i32(data, b + 224 + 4 * k) for k in range(5)], [16, 32, 0, 100001, 2])
        self.assertEqual([f32(data, b + 244), f32(data, b + 248)], [2.0, -1.0])
        self.assertEqual(u32(data, b + 252), 0x80FF0000)
        self.assertEqual(f32(data, b + 256), 90.0)
        self.assertEqual([i32(data, b + 268 + 4 * k) for k in range(9)], [48, -16, 1, 2, 4, 16, 8, 1000, 10000001])
        self.assertEqual([f32(data, b + 304), f32(data, b + 308)], [0.5, 1.5])
        self.assertEqual(u32(data, b + 312), 0xFF00FF00)
        self.assertEqual(data[b + 324:b + 328], b"\x01\x02\x03\x04")

    def test_version_5_entries_stop_before_the_physics_fields(self):
        r = fk.Room("rm_old", backgrounds=[], views=[fk.View()], tiles=[fk.Tile(id=7)], physics=True)
        data = container(5, [r])
        b, size = room_body(data)
        # Entry at 8 (56 bytes), backgrounds at 64, views at 68 (record at 76), instances at 132, tiles at
        # 136 (record at 144), end at 192.
        self.assertEqual(size, 192)
        self.assertEqual([u32(data, b + 8 + o) for o in (40, 44, 48, 52)], [b + 64, b + 68, b + 132, b + 136])
        self.assertEqual([u32(data, b + o) for o in (64, 68, 72, 132, 136, 140)], [0, 1, b + 76, 0, 1, b + 144])
        self.assertEqual(i32(data, b + 144 + 32), 7)
        with self.assertRaises(ValueError):
            container(5, [fk.Room("rm_layers", layers=[])])

    def test_defaults_of_a_room(self):
        data = container(14, [fk.Room("rm_plain")])
        b, _ = room_body(data)
        e = b + 8
        self.assertEqual([i32(data, e + o) for o in (4, 8, 12, 16, 20, 24, 28, 32, 36)],
                         [0, 640, 480, 30, 0, 0xC0C0C0, 1, -1, 0])
        self.assertEqual(u32(data, e + 56), 0)    # no physics
        self.assertEqual(u32(data, e + 88), 0)    # no layer list
        backgrounds, views = u32(data, e + 40), u32(data, e + 44)
        self.assertEqual(u32(data, backgrounds), 8)
        self.assertEqual(u32(data, views), 8)
        first_bg = u32(data, backgrounds + 4)
        self.assertEqual([i32(data, first_bg + 4 * k) for k in range(10)], [0, 0, -1, 0, 0, 1, 1, 0, 0, 0])
        first_view = u32(data, views + 4)
        self.assertEqual([i32(data, first_view + 4 * k) for k in range(14)],
                         [0, 0, 0, 640, 480, 0, 0, 640, 480, 32, 32, -1, -1, -1])
        self.assertEqual([u32(data, u32(data, e + o)) for o in (48, 52)], [0, 0])

    def test_flags_word(self):
        rows = [({}, 0), ({"views_enabled": True}, 1), ({"view_clear": True}, 2), ({"display_clear": False}, 4),
                ({"views_enabled": True, "view_clear": True, "display_clear": False, "layout": 3}, 0x30007),
                ({"layout": 0xFFFF}, 0xFFFF0000), ({"flags": 2, "views_enabled": True}, 2)]
        for kw, word in rows:
            with self.subTest(**{k: str(v) for k, v in kw.items()}):
                data = container(14, [fk.Room("rm", **kw)])
                b, _ = room_body(data)
                self.assertEqual(u32(data, b + 8 + 36), word)

    def test_creation_codes_by_name_number_or_none(self):
        rows = [("ksl_RoomCode_a", 0), ("ksl_InstanceCode_a", 2), (57, 57), (None, -1)]
        for code, word in rows:
            with self.subTest(code=code):
                r = fk.Room("rm", code=code, instances=[fk.Instance(code=code), fk.Instance(code=None)])
                data = container(14, [r])
                e = room_body(data)[0] + 8
                self.assertEqual(i32(data, e + 32), word)
                instances = u32(data, e + 48)
                self.assertEqual(u32(data, instances), 2)
                self.assertEqual([i32(data, u32(data, instances + 4 * (k + 1)) + 16) for k in range(2)],
                                 [word, -1])
        with self.assertRaises(ValueError):
            container(14, [fk.Room("rm", code="ksl_missing")])


class RoomDamage(unittest.TestCase):
    def test_counts_refs_and_words_override_what_is_written(self):
        r = fk.Room("rm", backgrounds=[fk.Background()] * 9, views=[], instances=[fk.Instance()],
                    counts={"instances": 0x10000000}, refs={"tiles": 0xFFFFFF00, "layers": 0x7FFFFFF0},
                    words={8: 0xFFFFFFFF, 40: 0x12345678})
        data = container(14, [r])
        e = room_body(data)[0] + 8
        self.assertEqual(i32(data, e + 8), -1)                   # width overwritten
        self.assertEqual(u32(data, e + 40), 0x12345678)          # a list reference overwritten
        self.assertEqual(u32(data, e + 52), 0xFFFFFF00)
        self.assertEqual(u32(data, e + 88), 0x7FFFFFF0)
        self.assertEqual(u32(data, u32(data, e + 48)), 0x10000000)
        self.assertEqual(u32(data, u32(data, e + 44)), 0)
        with self.assertRaises(TypeError):
            fk.Room("rm", counts={"paths": 1})

    def test_body_damage_as_for_other_chunks(self):
        whole = container(14, [fk.Room("rm")])
        _, size = room_body(whole)
        cut = container(14, [fk.Room("rm")], cut=20)
        self.assertEqual(room_body(cut)[1], 20)
        longer = container(14, [fk.Room("rm")], extra=b"\0" * 8)
        self.assertEqual(room_body(longer)[1], size + 8)
        sized = container(14, [fk.Room("rm")], size=size + 4096)
        self.assertEqual(room_body(sized)[1], size + 4096)


class RoomFixtures(unittest.TestCase):
    """tests/fixtures/room_cases.py: the switch that leaves out the first room's creation code."""

    def code_ids(self, data):
        b, _ = room_body(data)
        refs = [u32(data, b + 4 * (k + 1)) for k in range(u32(data, b))]
        return [None if r == 0 else i32(data, r + 32) for r in refs]

    def test_only_the_first_room_of_the_order_loses_its_code(self):
        sys.path.insert(0, os.path.join(source, "tests", "fixtures"))
        import room_cases
        rows = [("flow_rooms", [0, 1, -1], [-1, 1, -1]),
                ("rooms_order", [1, None, 0, -1], [1, None, -1, -1]),  # order 2, 0, 3
                ("rooms_flags", [0, -1, -1, -1, -1, -1], [-1, -1, -1, -1, -1, -1])]
        for name, with_code, without in rows:
            with self.subTest(case=name):
                self.assertEqual(self.code_ids(room_cases.CASES[name]().data), with_code)
                self.assertEqual(self.code_ids(room_cases.CASES[name](first_room_code=False).data), without)


if __name__ == "__main__":
    unittest.main()
