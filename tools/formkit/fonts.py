"""The FONT chunk: font entries with their glyph records, and the 256-entry character-code table.

    c.font([fk.Font("fnt_main", face="Sans", size=12, tpag=0, first=32, last=127,
                    glyphs=[fk.Glyph(65, x=0, y=0, width=10, height=14, shift=10),
                            fk.Glyph(66, x=10, y=0, width=9, height=14, shift=10, kerning=[(65, -1)])]),
            None])                                           # an empty slot (offset 0)

Body: a count, that many entry offsets (0 for an empty slot), then each entry followed by its glyph
records, and last the code table (256 u16 character codes; by default 0-127 map to themselves and
128-255 to the question mark, 63). An entry:

    +0  name reference        +4  typeface name reference   +8  size (i32)
    +12 bold (u32)            +16 italic (u32)
    +20 first character (u16) +22 charset (u8)              +23 anti-alias level + 1 (u8; 0 = not given)
    +24 last character (u32)  +28 texture-page entry offset +32 x scale (f32)   +36 y scale (f32)
    +40 glyph count g         +44 g glyph record offsets

A glyph record: u16 code, i16 x, y, width, height, shift, offset, i16 kerning pair count n, then n pairs
{i16 preceding code, i16 adjustment}.

`tpag` is the index of a record of the container's TPAG chunk (its offset is written), None (0) or, with
`tpag_offset`, any word as given. Damage: `Font(glyph_count=...)` (a count other than the records written),
a glyph given as an int (written as the record offset itself, e.g. past the data),
`Glyph(kerning_count=...)`, `code_table=None` (no table), and `extra`, `cut`, `size` on the chunk.
"""

import struct

from .container import Container, _ChunkPlan

CODE_TABLE_BYTES = 512


def default_code_table():
    """Codes 0-127 map to themselves, 128-255 to the question mark."""
    return [c if c < 128 else 63 for c in range(256)]


class Glyph:
    """One glyph record. `shift` defaults to the width; `kerning` is a list of (preceding code,
    adjustment) pairs; `kerning_count` overrides the pair count word."""

    def __init__(self, code, x=0, y=0, width=0, height=0, shift=None, offset=0, kerning=(),
                 kerning_count=None):
        self.code, self.x, self.y, self.width, self.height = code, x, y, width, height
        self.shift = width if shift is None else shift
        self.offset = offset
        self.kerning = list(kerning)
        self.kerning_count = kerning_count

    def pack(self):
        n = len(self.kerning) if self.kerning_count is None else self.kerning_count
        out = struct.pack("<H", self.code & 0xFFFF)
        out += b"".join(struct.pack("<H", v & 0xFFFF)
                        for v in (self.x, self.y, self.width, self.height, self.shift, self.offset, n))
        for prev, adjust in self.kerning:
            out += struct.pack("<HH", prev & 0xFFFF, adjust & 0xFFFF)
        return out


class Font:
    """One FONT entry. `antialias` is the level (written + 1; None writes 0, "not given"); `glyphs` are
    Glyph records written in the order given (the runtime expects ascending codes) or ints written as
    record offsets."""

    def __init__(self, name, face=None, size=12, bold=False, italic=False, first=32, charset=0,
                 antialias=None, last=127, tpag=0, tpag_offset=None, xscale=1.0, yscale=1.0, glyphs=(),
                 glyph_count=None):
        self.name, self.face, self.size, self.bold, self.italic = name, face, size, bold, italic
        self.first, self.charset, self.antialias, self.last = first, charset, antialias, last
        self.tpag, self.tpag_offset, self.xscale, self.yscale = tpag, tpag_offset, xscale, yscale
        self.glyphs = list(glyphs)
        self.glyph_count = glyph_count


def font(self, fonts, code_table="default", count=None, extra=b"", cut=None, size=None):
    """The FONT chunk (see formkit.fonts). `fonts` holds Font records or None for an empty slot;
    `code_table` is a list of 256 codes, raw bytes placed as the body's tail, "default" or None (none);
    `count` overrides the count word (the offsets written stay one per entry)."""
    fonts = list(fonts)
    for f in fonts:
        if f is not None:
            self.string(f.name)
            self.string(f.face)
    if code_table == "default":
        code_table = default_code_table()
    if code_table is None:
        table = b""
    elif isinstance(code_table, (bytes, bytearray)):
        table = bytes(code_table)
    else:
        if len(code_table) != 256:
            raise ValueError("the code table has 256 entries")
        table = b"".join(struct.pack("<H", c & 0xFFFF) for c in code_table)

    def fill(b, ctx):
        b.u32(len(fonts) if count is None else count)
        for i, f in enumerate(fonts):
            b.later(lambda ctx, i=i, f=f: 0 if f is None else ctx.at(("font", i)))
        for i, f in enumerate(fonts):
            if f is None:
                continue
            ctx.label(("font", i), b.here())
            b.str_ref(f.name)
            b.str_ref(f.face)
            b.u32(f.size)
            b.u32(int(bool(f.bold)))
            b.u32(int(bool(f.italic)))
            b.u16(f.first)
            b.raw(struct.pack("<BB", f.charset & 0xFF, 0 if f.antialias is None else (f.antialias + 1) & 0xFF))
            b.u32(f.last)
            if f.tpag_offset is not None:
                b.u32(f.tpag_offset)
            elif f.tpag is None:
                b.u32(0)
            else:
                b.later(lambda ctx, t=f.tpag: ctx.at(("tpag", t)))
            b.raw(struct.pack("<ff", f.xscale, f.yscale))
            b.u32(len(f.glyphs) if f.glyph_count is None else f.glyph_count)
            for j, g in enumerate(f.glyphs):
                if isinstance(g, int):
                    b.u32(g)
                else:
                    b.later(lambda ctx, i=i, j=j: ctx.at(("glyph", i, j)))
            for j, g in enumerate(f.glyphs):
                if not isinstance(g, int):
                    ctx.label(("glyph", i, j), b.here())
                    b.raw(g.pack())
        b.align(4)
        b.raw(table)
    self._plans.append(_ChunkPlan("FONT", fill, extra, cut, size))
    return self


Container.font = font
