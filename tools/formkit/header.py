"""The game header (GEN8, GEN7, GENL body): its fields per bytecode version, writing and reading it."""

import struct

from .common import rd_u8, rd_u16, rd_u32, rd_i32, rd_u64, rd_f32, fits, string_text

DEFAULT_DISPLAY_NAME = "Made with Kelvane: Studio"

# (name, offset, kind, first bytecode version that has it). Kinds: u8, u16, u32, u64, str (a string
# reference), b16/b28 (raw bytes).
FIELDS = (
    ("flags", 0x00, "u8", 0),
    ("bytecode_version", 0x01, "u8", 0),
    ("unused_02", 0x02, "u16", 0),
    ("game_name", 0x04, "str", 0),
    ("config_name", 0x08, "str", 0),
    ("last_instance_id", 0x0C, "u32", 0),
    ("last_tile_id", 0x10, "u32", 0),
    ("game_id", 0x14, "u32", 0),
    ("kept", 0x18, "b16", 0),
    ("project_name", 0x28, "str", 0),
    ("major", 0x2C, "u32", 0),
    ("minor", 0x30, "u32", 0),
    ("release", 0x34, "u32", 0),
    ("build", 0x38, "u32", 0),
    ("width", 0x3C, "u32", 8),
    ("height", 0x40, "u32", 8),
    ("window_flags", 0x44, "u32", 8),
    ("unused_48", 0x48, "b28", 8),
    ("display_name", 0x64, "str", 10),
    ("unused_68", 0x68, "u64", 11),
    ("feature_flags", 0x70, "u64", 12),
    ("steam_app_id", 0x78, "u32", 13),
    ("unused_7c", 0x7C, "u32", 14),
)

SIZES = {"u8": 1, "u16": 2, "u32": 4, "u64": 8, "str": 4, "b16": 16, "b28": 28}

DEFAULTS = {
    "flags": 1, "bytecode_version": None, "unused_02": 0, "game_name": "Game", "config_name": "Default",
    "last_instance_id": 100000, "last_tile_id": 10000000, "game_id": 0, "kept": bytes(16),
    "project_name": "Game", "major": 1, "minor": 0, "release": 0, "build": 0, "width": 640,
    "height": 480, "window_flags": 0, "unused_48": bytes(28), "display_name": "Game", "unused_68": 0,
    "feature_flags": 0, "steam_app_id": 0, "unused_7c": 0,
}

RESERVED_BYTES = 40


def room_order_offset(version):
    """Where the room-order count stands in the header body for a bytecode version."""
    if version <= 7:
        return 0x24
    if version <= 9:
        return 0x64
    return {10: 0x68, 11: 0x70, 12: 0x78, 13: 0x7C}.get(version, 0x80)


def fields_for(version):
    """The FIELDS entries a header of `version` has."""
    return [f for f in FIELDS if version >= f[3]]


def fixed_size(version):
    """Bytes of the fixed fields of a version (the room order may start inside them: up to version 7
    it stands at 0x24, among the fields that every version has)."""
    last = fields_for(version)[-1]
    return last[1] + SIZES[last[2]]


def has_speed(version, major):
    """True when the 40 reserved bytes and the game speed follow the room order."""
    return version >= 14 and major >= 2


def plan(version, values, room_order, speed_block, reserved, game_speed):
    """Lay a header out. Returns (size, writes, overlaps): writes is a list of (offset, kind, value, name)
    with later writes winning, already reduced to the ones that survive; overlaps names the fields the
    room order (or what follows it) overwrote."""
    writes = []
    for name, off, kind, _ in fields_for(version):
        writes.append((off, kind, values[name], name))
    off = room_order_offset(version)
    tail = [(off, "u32", len(room_order), "room_order_count")]
    for i, r in enumerate(room_order):
        tail.append((off + 4 + 4 * i, "i32", r, "room_order[%d]" % i))
    end = off + 4 + 4 * len(room_order)
    if speed_block:
        tail.append((end, "raw", bytes(reserved), "reserved"))
        tail.append((end + len(reserved), "f32", game_speed, "game_speed"))
        end += len(reserved) + 4
    size = max(end, fixed_size(version))

    def span(w):
        return (w[0], w[0] + (len(w[2]) if w[1] == "raw" else SIZES.get(w[1], 4)))

    overlaps = []
    kept = []
    for w in writes:
        a, b = span(w)
        if any(a < tb and ta < b for ta, tb in map(span, tail)):
            overlaps.append(w[3])
            # raw byte fields keep the bytes the room order leaves alone
            if w[1] in ("b16", "b28"):
                kept.append(w)
        else:
            kept.append(w)
    return size, kept + tail, overlaps


def pack_value(kind, value):
    if kind == "u8":
        return struct.pack("<B", value & 0xFF)
    if kind == "u16":
        return struct.pack("<H", value & 0xFFFF)
    if kind == "u32":
        return struct.pack("<I", value & 0xFFFFFFFF)
    if kind == "i32":
        return struct.pack("<I", value & 0xFFFFFFFF)
    if kind == "u64":
        return struct.pack("<Q", value & 0xFFFFFFFFFFFFFFFF)
    if kind == "f32":
        return struct.pack("<f", value)
    if kind in ("b16", "b28", "raw"):
        want = SIZES.get(kind)
        b = bytes(value)
        if want is not None and len(b) != want:
            raise ValueError("%s field needs %d bytes, got %d" % (kind, want, len(b)))
        return b
    raise ValueError(kind)


def read(data, body, size, version, major=None, tag=b"GEN8"):
    """What a header body at `body` (of `size` bytes) holds, read back field by field at `version`:
    {"fields": {...}, "refs": {...}, "room_order_offset", "room_order", "game_speed", ...}. String
    fields give their text (None for 0 or a reference that does not resolve); refs keeps the raw
    references. Fields that do not fit in the body are left out."""
    end = body + size
    fields, refs = {}, {}
    for name, off, kind, _ in fields_for(version):
        n = SIZES[kind]
        if body + off + n > end or not fits(data, body + off, n):
            continue
        p = body + off
        if kind == "u8":
            fields[name] = rd_u8(data, p)
        elif kind == "u16":
            fields[name] = rd_u16(data, p)
        elif kind == "u32":
            fields[name] = rd_u32(data, p)
        elif kind == "u64":
            fields[name] = rd_u64(data, p)
        elif kind == "str":
            refs[name] = rd_u32(data, p)
            fields[name] = string_text(data, refs[name])
        else:
            fields[name] = bytes(data[p:p + n]).hex()
    out = {"fields": fields, "refs": refs}
    if major is None:
        major = fields.get("major", 0)
    ro = room_order_offset(version)
    out["room_order_offset"] = ro
    order = None
    speed = None
    if body + ro + 4 <= end:
        count = rd_u32(data, body + ro)
        if body + ro + 4 + 4 * count <= end:
            order = [rd_i32(data, body + ro + 4 + 4 * i) for i in range(count)]
            after = body + ro + 4 + 4 * count
            if has_speed(version, major) and after + RESERVED_BYTES + 4 <= end:
                speed = rd_f32(data, after + RESERVED_BYTES)
    out["room_order"] = order
    out["game_speed"] = speed
    # what the runtime makes of the fields
    shown = fields.get("display_name") if version >= 10 and refs.get("display_name") else None
    out["display_name_shown"] = shown if shown is not None else DEFAULT_DISPLAY_NAME
    out["feature_flags_read"] = fields.get("feature_flags", 0) if version >= 12 else 0xFFFFFFFFFFFFFFFF
    out["header_kind"] = 700 if tag in (b"GEN7", b"GENL") else 800
    out["new_mode"] = major >= 2
    out["new_code_format"] = version >= 15
    out["sets_fps"] = has_speed(version, major)
    return out
