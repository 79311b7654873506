"""The OPTN chunk: the game's options in either layout, then the user constants.

    c.optn()                                             # new layout, version 2, every option at its default
    c.optn(new_audio=True, show_cursor=True, constants=[("VersionMajor", "1"), ("lives", "3")])
    c.optn(layout="old", new_audio=2, window_colour=0x102030)

New layout (first word negative): marker, version, a 64-bit flag word at +0x08, scale (+0x10), window colour
(+0x14), colour depth, resolution and frequency codes (+0x18, +0x1C, +0x20), two integers (+0x24, +0x28),
two unread words, a data reference (+0x34), an integer kept as a truth value (+0x38), then the constant
count at +0x3C and the constants at +0x40.

Old layout (first word 0 or more): one 32-bit word per option (non-zero is on) from +0x00 to +0x88, the
constant count at +0x8C and the constants at +0x90.

A constant is a pair {name reference, value reference}; each side is a text (pooled in STRG), None
(reference 0) or an int (written as the reference itself, e.g. one outside the data).
"""

import struct

from .container import Container, _ChunkPlan

# Options both layouts carry: new-layout flag bit and old-layout word offset.
SWITCHES = {
    "full_screen": (0, 0x00),
    "new_audio": (2, 0x08),
    "show_cursor": (4, 0x10),
    "change_display_mode": (7, 0x24),
    "alt_enter": (9, 0x3C),
    "freeze": (15, 0x58),
    "errors_abort": (21, 0x80),
    "unset_errors": (22, 0x84),
    "collision_mode": (26, None),   # the old layout has no word for it
}

# Number fields: new-layout offset, old-layout offset.
NUMBERS = {
    "scale": (0x10, 0x14),
    "window_colour": (0x14, 0x20),
    "colour_depth": (0x18, 0x28),
    "resolution": (0x1C, 0x2C),
    "frequency": (0x20, 0x30),
}

NEW_MARKER = 0x80000000
NEW_FIXED = 0x3C   # the count word's offset
OLD_FIXED = 0x8C

DEFAULTS = {"scale": 100, "window_colour": 0xFFFFFF, "colour_depth": 0, "resolution": 0, "frequency": 0}


def optn_fields(layout="new", version=2, marker=None, flags=None, words=None, **values):
    """The fixed part of the body (before the constant count) as bytes. `flags` (new layout) replaces the
    flag word built from the switches; `words` ({offset: value}) overwrites any 32-bit word afterwards."""
    unknown = set(values) - set(SWITCHES) - set(NUMBERS)
    if unknown:
        raise TypeError("unknown options: %s" % ", ".join(sorted(unknown)))
    numbers = dict(DEFAULTS)
    numbers.update({k: v for k, v in values.items() if k in NUMBERS})
    if layout == "new":
        body = bytearray(NEW_FIXED)
        struct.pack_into("<I", body, 0, (NEW_MARKER if marker is None else marker) & 0xFFFFFFFF)
        struct.pack_into("<I", body, 4, version & 0xFFFFFFFF)
        if flags is None:
            flags = 0
            for name, (bit, _) in SWITCHES.items():
                if values.get(name):
                    flags |= 1 << bit
        struct.pack_into("<Q", body, 8, flags & 0xFFFFFFFFFFFFFFFF)
        index = 0
    elif layout == "old":
        if marker is not None and marker & 0x80000000:
            raise ValueError("an old-layout body starts with a word of 0 or more")
        body = bytearray(OLD_FIXED)
        for name, (_, offset) in SWITCHES.items():
            if name in values:
                if offset is None:
                    raise ValueError("the old layout has no %s" % name)
                struct.pack_into("<I", body, offset, int(values[name]) & 0xFFFFFFFF)
        if marker is not None:
            struct.pack_into("<I", body, 0, marker)
        index = 1
    else:
        raise ValueError("layout is 'new' or 'old'")
    for name, offsets in NUMBERS.items():
        struct.pack_into("<I", body, offsets[index], numbers[name] & 0xFFFFFFFF)
    for offset, value in (words or {}).items():
        struct.pack_into("<I", body, offset, value & 0xFFFFFFFF)
    return bytes(body)


def optn(self, layout="new", constants=(), count=None, version=2, marker=None, flags=None, words=None,
         extra=b"", cut=None, size=None, **values):
    """The OPTN chunk (see formkit.options). `count` overrides the constant count word; `extra`, `cut` and
    `size` damage the body as for the other chunk writers."""
    fixed = optn_fields(layout, version, marker, flags, words, **values)
    constants = [tuple(c) for c in constants]
    for pair in constants:
        for side in pair:
            if isinstance(side, str):
                self.string(side)

    def fill(b, ctx):
        b.raw(fixed)
        b.u32(len(constants) if count is None else count)
        for pair in constants:
            for side in pair:
                if isinstance(side, int):
                    b.u32(side)
                else:
                    b.str_ref(side)
    self._plans.append(_ChunkPlan("OPTN", fill, extra, cut, size))
    return self


Container.optn = optn
