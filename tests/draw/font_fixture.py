"""FONT-chunk games for the font and text suites, written with formkit; made once per build.

    python3 font_fixture.py <folder>

Writes:
  chunk.win     fonts for the lookup and measuring rows: 0 "fnt_sorted" (codes 32, 65-67, 200, 0x25AF, 0x4E00),
                1 "fnt_bare" (48 advancing 0, 65 and 66, no U+25AF), 2 an empty slot, 3 "fnt_scaled" (x scale 2, y scale 3,
                margin-free quads); the default code table
  layout.win    "fnt_ten": codes 10 and 32-126, every glyph 8 x 16 advancing 10
  short.win     an empty font table in a chunk of 4 bytes (no code table)
  damaged_<case>.win with damaged.txt: "<case>\t<the one damage line the loader must give>", offsets read back
                from the bytes here
  game.win      the drawing game of major version 1: one font whose glyphs lie on page.png (a 64 x 32 page
                holding one TPAG entry at (8, 4) of 48 x 24); glyphs.txt: "<code> <x> <y> <w> <h> <shift>
                <offset>" per glyph; expected_<case>.rgba: ImageMagick's composite of the glyph crops drawn at
                each pen position over a 128 x 64 canvas of the clear colour, for the cases of cases.txt
                ("<case> <text> <halign> <valign>")
"""

import os
import struct
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.environ.get("KV_SOURCE_DIR", os.path.join(here, "..", "..")), "tools"))

import formkit as fk  # noqa: E402
from formkit.common import find_chunk, rd_u32  # noqa: E402


def game(fonts, tpag=(), **kw):
    c = fk.Container(version=14)
    c.gen8(game_name="fonts", major=1, room_order=[0], game_speed=30.0)
    c.code([])
    c.vari()
    c.func()
    c.tpag(list(tpag))
    c.font(fonts, **kw)
    c.strg()
    return c.build()


def chunk_fonts(folder):
    sorted_glyphs = [fk.Glyph(32, 0, 0, 0, 0, shift=5), fk.Glyph(65, 0, 0, 6, 10, shift=7, offset=1),
                     fk.Glyph(66, 6, 0, 5, 12, shift=6), fk.Glyph(67, 11, 0, 4, 9, shift=4, offset=-1),
                     fk.Glyph(200, 15, 0, 3, 11, shift=3), fk.Glyph(0x25AF, 18, 0, 8, 13, shift=9),
                     fk.Glyph(0x4E00, 26, 0, 12, 12, shift=12, kerning=[(65, -2)])]
    bare = [fk.Glyph(48, 11, 0, 3, 8, shift=0), fk.Glyph(65, 0, 0, 6, 10, shift=7),
            fk.Glyph(66, 6, 0, 5, 8, shift=6)]
    scaled = [fk.Glyph(65, 2, 3, 6, 10, shift=7, offset=1)]
    game([fk.Font("fnt_sorted", face="Sans", size=14, bold=True, first=32, last=0x4E00, glyphs=sorted_glyphs,
                  antialias=2, charset=1),
          fk.Font("fnt_bare", face="Mono", glyphs=bare, tpag=0),
          None,
          fk.Font("fnt_scaled", glyphs=scaled, xscale=2.0, yscale=3.0)],
         tpag=[fk.TexturePageEntry(10, 20, 64, 16)]).write(folder, "chunk")
    ten = [fk.Glyph(10, 0, 0, 8, 16, shift=10)] + \
          [fk.Glyph(c, (c - 32) % 16 * 8, (c - 32) // 16 * 16, 8, 16, shift=10) for c in range(32, 127)]
    game([fk.Font("fnt_ten", glyphs=ten)], tpag=[fk.TexturePageEntry(0, 0, 128, 96)]).write(folder, "layout")
    game([], code_table=None).write(folder, "short")


def damaged(folder):
    page = [fk.TexturePageEntry(0, 0, 64, 16)]
    lines = []

    def add(name, built_data, message):
        with open(os.path.join(folder, "damaged_%s.win" % name), "wb") as f:
            f.write(built_data)
        lines.append("%s\t%s" % (name, message))

    def parts(data):
        off, size = find_chunk(data, "FONT")
        body = off + 8
        entry = rd_u32(data, body + 4)
        return body, entry

    data = game([fk.Font("f", glyph_count=100000, glyphs=[fk.Glyph(65, width=4)])], page).data
    body, entry = parts(data)
    add("glyph_count", data, "FONT at offset %d: font 0: glyph count runs past the chunk" % (entry + 40))

    data = game([fk.Font("f", glyphs=[fk.Glyph(65, width=4), 0xFFFFFF00])], page).data
    body, entry = parts(data)
    add("glyph_offset", data, "FONT at offset %d: font 0: glyph 1 outside the chunk" % (entry + 48))

    data = game([None, fk.Font("f", glyphs=[fk.Glyph(65, width=4, kerning_count=30000)])], page).data
    body, _ = parts(data)
    entry = rd_u32(data, body + 8)
    glyph = rd_u32(data, entry + 44)
    add("kerning_count", data, "FONT at offset %d: font 1: glyph 0 kerning pair count runs past the chunk"
        % (glyph + 14))

    data = game([fk.Font("f", glyphs=[fk.Glyph(65, x=60, width=5, height=4)])], page).data
    body, entry = parts(data)
    glyph = rd_u32(data, entry + 44)
    add("glyph_rectangle", data, "FONT at offset %d: font 0: glyph 0 rectangle outside its texture page entry"
        % (glyph + 2))

    data = game([fk.Font("f", tpag_offset=0xFFFFFFF0)], page).data
    body, entry = parts(data)
    add("texture_entry", data, "FONT at offset %d: font 0: texture page entry outside the data" % (entry + 28))

    data = game([fk.Font("f")], page).data
    body, entry = parts(data)
    add("name", fk.set_u32(data, entry, 0x7FFFFFF0), "FONT at offset %d: font 0: name outside the data" % entry)

    data = game([fk.Font("f")], page).data
    body, entry = parts(data)
    add("entry", fk.set_u32(data, body + 4, 0xFFFFFF00),
        "FONT at offset %d: font 0: entry outside the chunk" % 0xFFFFFF00)

    data = game([fk.Font("f")], page, count=5000).data
    body, entry = parts(data)
    add("count", data, "FONT at offset %d: list count overruns the chunk" % (body + 4))

    with open(os.path.join(folder, "damaged.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


# The drawing game: glyph cells on a page whose every pixel differs from its neighbours.
PAGE_W, PAGE_H = 64, 32
ENTRY = (8, 4, 48, 24)
GLYPHS = [  # code, x, y, w, h, shift, offset (x, y inside the entry)
    (ord("K"), 0, 0, 9, 12, 10, 0),
    (ord("v"), 9, 2, 8, 10, 9, 1),
    (ord("g"), 17, 0, 7, 14, 8, 0),
    (ord("A"), 24, 0, 11, 13, 12, 0),
    (ord("!"), 35, 1, 3, 12, 5, 1),
]
CANVAS_W, CANVAS_H = 128, 64
CLEAR = (0x30, 0x20, 0x10)  # red, green, blue of the clear colour 0xFF302010
CASES = [("left_top", "Kv!", 0, 0), ("centre_middle", "Kv#gA!", 1, 1)]


def pixel(x, y):
    return bytes(((x * 37 + 11) & 255, (y * 53 + 7) & 255, (x * 5 + y * 17 + 90) & 255, 255))


def draw_game(folder):
    rgba = os.path.join(folder, "page.rgba")
    png = os.path.join(folder, "page.png")
    with open(rgba, "wb") as f:
        f.write(b"".join(pixel(x, y) for y in range(PAGE_H) for x in range(PAGE_W)))
    subprocess.run(["convert", "-size", "%dx%d" % (PAGE_W, PAGE_H), "-depth", "8", "rgba:" + rgba, png], check=True)
    with open(png, "rb") as f:
        page = f.read()
    glyphs = [fk.Glyph(code, x, y, w, h, shift=shift, offset=offset) for code, x, y, w, h, shift, offset in GLYPHS]
    c = fk.Container(version=14)
    c.gen8(game_name="fontdraw", major=1, room_order=[0], game_speed=30.0)
    c.code([])
    c.vari()
    c.func()
    c.tpag([fk.TexturePageEntry(*ENTRY, page=0)])
    c.font([fk.Font("fnt_game", face="Sans", size=12, glyphs=sorted(glyphs, key=lambda g: g.code))])
    c.txtr([fk.Page(page)])
    c.strg()
    c.build().write(folder, "game")
    with open(os.path.join(folder, "glyphs.txt"), "w") as f:
        for g in GLYPHS:
            f.write(" ".join(str(v) for v in g) + "\n")

    by_code = {g[0]: g for g in GLYPHS}
    line_height = max(g[4] for g in GLYPHS)
    with open(os.path.join(folder, "cases.txt"), "w") as f:
        for name, text, halign, valign in CASES:
            f.write("%s %s %d %d\n" % (name, text, halign, valign))
            lines = text.split("#")
            y = 32
            if valign == 1:
                y -= (line_height * len(lines)) // 2
            args = ["convert", "-size", "%dx%d" % (CANVAS_W, CANVAS_H), "xc:rgb(%d,%d,%d)" % CLEAR]
            for line in lines:
                width = sum(by_code[ord(ch)][5] for ch in line)
                pen = 64 + (int(-(width / 2)) if halign == 1 else 0)
                for ch in line:
                    code, gx, gy, w, h, shift, offset = by_code[ord(ch)]
                    crop = "%dx%d+%d+%d" % (w, h, ENTRY[0] + gx, ENTRY[1] + gy)
                    args += ["(", png, "-crop", crop, "+repage", ")", "-geometry",
                             "+%d+%d" % (pen + offset, y), "-composite"]
                    pen += shift
                y += line_height
            args += ["-depth", "8", "rgba:" + os.path.join(folder, "expected_%s.rgba" % name)]
            subprocess.run(args, check=True)


def main(folder):
    os.makedirs(folder, exist_ok=True)
    chunk_fonts(folder)
    damaged(folder)
    draw_game(folder)


if __name__ == "__main__":
    main(sys.argv[1])
