#!/usr/bin/env python3
"""Writes the seed corpus of the game-data fuzz target: one small container per bytecode version.

    python3 tools/formkit/make_corpus.py <folder>
    python3 tools/formkit/make_corpus.py --scripts <folder>

With --scripts it writes the seeds of the script and code-object target instead: a u32 n (bit 31 asks for
a compiled game), n bytes of a container with CODE, SCPT, VARI, FUNC and GLOB, then its debug file with
line tables and source texts (see script_seed).

Every seed has a header, code with variable, function and string operands, VARI, FUNC, GLOB, STRG,
TPAG (one page field in range, one not), TXTR with a tiny "RAW " page, an OPTN chunk with user constants
(the new layout for major 2 and version 15, the old one otherwise) and a size-0 chunk.
Seeds v07-m1 ... v13-m1, v14-m1, v14-m2, v15-m1, v15-m2, and gen7-v08 / genl-v08 for the other header
tags. The names the code uses are VAR_NAMES and FUNC_NAMES below (a fuzz target that resolves exactly
these reaches the patching).
"""

import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

import formkit as fk  # noqa: E402

VAR_NAMES = ("x", "score", "i")
FUNC_NAMES = ("show_debug_message", "ksl_Script_helper")


def seed(version, major=1, tag="GEN8", page=None):
    """The seed container of a version, as a formkit Built; `page` replaces the "RAW " page's bytes."""
    c = fk.Container(version)
    c.gen8(tag=tag, game_name="Seed", project_name="Seed", display_name="Seed Game", major=major,
           width=320, height=240, window_flags=0x8000 if version >= 15 else 0, room_order=[0, 1],
           game_speed=30.0)
    c.optn(layout="new" if major >= 2 or version >= 15 else "old", show_cursor=True, new_audio=version == 14,
           constants=[("VersionMajor", "1"), ("VersionMinor", "2"), ("lives", None)])
    main = [fk.push_var("x"), fk.push_double(1.5), fk.compare(2), fk.pop_var("score", fk.SCOPE_GLOBAL),
            fk.push_string("hello"), fk.call("show_debug_message", 1), fk.push_int32(-3),
            fk.call("ksl_Script_helper", 1), fk.push_var("x"), fk.ret()]
    helper = [fk.push_var("i", fk.SCOPE_LOCAL if version >= 15 else fk.SCOPE_SELF), fk.push_var("score"),
              fk.word(0x0C, fk.TYPE_V, fk.TYPE_V), fk.ret()]
    if version >= 15:
        c.code([fk.CodeEntry("ksl_Script_main", main + [fk.Mark("helper")] + helper, locals=1, args=0),
                fk.CodeEntry("ksl_Script_helper", share="ksl_Script_main", block_offset="helper", args=1)])
        c.vari([fk.Variable("x", fk.SCOPE_SELF), fk.Variable("score", fk.SCOPE_GLOBAL),
                fk.Variable("i", fk.SCOPE_LOCAL)])
        c.func(locals={"ksl_Script_helper": ["i"]})
    else:
        c.code([fk.CodeEntry("ksl_Script_main", fk.old(main)),
                fk.CodeEntry("ksl_Script_helper", fk.old(helper))])
        c.vari()
        c.func()
    c.glob(["ksl_Script_main"])
    c.chunk("DAFL", b"")
    c.tpag([fk.TexturePageEntry(0, 0, 1, 1, page=0), fk.TexturePageEntry(0, 0, 1, 1, page=3)])
    c.txtr([fk.Page(fk.raw_image(1, 1, b"\x01\x02\x03\xFF") if page is None else page, flags=1)], align=16)
    c.strg()
    return c.build()


SEEDS = [("v%02d-m1" % v, v, 1, "GEN8") for v in range(7, 14)] + [
    ("v14-m1", 14, 1, "GEN8"), ("v14-m2", 14, 2, "GEN8"), ("v15-m1", 15, 1, "GEN8"),
    ("v15-m2", 15, 2, "GEN8"), ("gen7-v08", 8, 1, "GEN7"), ("genl-v08", 8, 1, "GENL"),
]


def debug_seed(entries, tables, sources):
    """A debug file: DBGI entry i points at {word count, words} of tables[i], SCPT entry i at a word that
    holds the offset of sources[i]; other entries are 0. Offsets count from the file's first byte."""
    def make(lines_at, texts_at):
        lines, offsets = bytearray(), [0] * entries
        for i, words in tables.items():
            offsets[i] = lines_at + len(lines)
            lines += struct.pack("<I%dI" % len(words), len(words), *words)
        texts, refs = bytearray(), [0] * entries
        for i in sources:
            refs[i] = texts_at + len(texts)
            texts += bytes(4)
        for n, (i, text) in enumerate(sources.items()):
            struct.pack_into("<I", texts, n * 4, texts_at + len(texts))
            texts += text.encode() + b"\0"
        texts += bytes(-len(texts) % 4)
        d = fk.DebugFile()
        d.entries("DBGI", offsets, extra=bytes(lines))
        d.entries("SCPT", refs, extra=bytes(texts))
        return d.build()
    first = {c["tag"]: c["entries"] for c in make(0, 0).expect["chunks"]}
    return make(first["DBGI"] + 4 * entries, first["SCPT"] + 4 * entries)


def script_seed(version, compiled=False, old_source=False, object_model=False):
    """A container whose scripts call each other by name, with shared blocks from version 15, two GLOB
    entries and an empty entry; with its debug file. old_source: scripts carry source text, no code."""
    c = fk.Container(version)
    c.gen8(major=2 if version >= 15 else 1, window_flags=0x8000 if object_model else 0)
    if old_source:
        c.scpt([fk.Script("scr_src", source="x = 1;"), None, fk.Script("scr_two", source="exit;")])
        c.strg()
        return struct.pack("<I", len(c.build().data)) + c.build().data
    a = [fk.push_var("hp"), fk.call("scr_b", 0), fk.pop_var("hp"), fk.ret()]
    b = [fk.push_var("total", fk.SCOPE_GLOBAL), fk.ret()]
    init = [fk.push_int32(5), fk.pop_var("total", fk.SCOPE_GLOBAL), fk.exit_()]
    if version >= 15:
        c.code([fk.CodeEntry("ksl_Script_scr_a", a + [fk.Mark("b")] + b, locals=2, args=1),
                fk.CodeEntry("ksl_Script_scr_b", share="ksl_Script_scr_a", block_offset="b", args=2),
                fk.CodeEntry("ksl_Script_empty", []), fk.CodeEntry("ksl_GlobalCode_init", init)])
    else:
        c.code([fk.CodeEntry("ksl_Script_scr_a", fk.old(a)), fk.CodeEntry("ksl_Script_scr_b", fk.old(b)),
                fk.CodeEntry("ksl_Script_empty", []), fk.CodeEntry("ksl_GlobalCode_init", fk.old(init))])
    c.scpt([fk.Script("scr_a", "ksl_Script_scr_a"), None, fk.Script("scr_b", "ksl_Script_scr_b"),
            fk.Script("scr_empty", "ksl_Script_empty"), fk.Script("scr_a", "ksl_Script_scr_b")])
    if version >= 15:
        c.vari([fk.Variable("hp"), fk.Variable("total", fk.SCOPE_GLOBAL)])
        c.func(locals={"ksl_Script_scr_a": ["t"]})
    else:
        c.vari()
        c.func()
    c.glob(["ksl_GlobalCode_init", "ksl_Script_scr_a"])
    c.strg()
    data = c.build(func_ids={"scr_b": 100002}).data
    debug = debug_seed(4, {0: [0, 0, 4, 9, 12, 20], 1: [0, 3]},
                       {0: "var t = hp;\nscr_b();\nhp = t;\n", 3: "#line init 4\nglobal.total = 5;\n"}).data
    return struct.pack("<I", len(data) | (0x80000000 if compiled else 0)) + data + debug


SCRIPT_SEEDS = [("v14", dict(version=14)), ("v15", dict(version=15)),
                ("v15-objects", dict(version=15, object_model=True)),
                ("v15-compiled", dict(version=15, compiled=True)), ("v14-compiled", dict(version=14, compiled=True)),
                ("old-source", dict(version=14, old_source=True))]


def main(argv):
    scripts = len(argv) == 3 and argv[1] == "--scripts"
    if len(argv) != 2 and not scripts:
        print("usage: make_corpus.py [--scripts] <folder>", file=sys.stderr)
        return 2
    folder = argv[-1]
    os.makedirs(folder, exist_ok=True)
    if scripts:
        for name, args in SCRIPT_SEEDS:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(script_seed(**args))
        return 0
    for name, version, major, tag in SEEDS:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(seed(version, major, tag).data)
    # Pages in each format the page creation decodes, taken from the image decoders' seeds.
    images = os.path.join(os.path.dirname(os.path.abspath(folder)), "image_%s")
    for kind, image in (("png", "png_rgb"), ("jpeg", "jpeg_grey"), ("gif", "gif_trns"), ("bmp", "bmp_24")):
        source = os.path.join(images % kind, image)
        if os.path.exists(source):
            with open(source, "rb") as f:
                data = f.read()
            with open(os.path.join(folder, "v14-page-" + kind), "wb") as f:
                f.write(seed(14, page=data).data)
    with open(os.path.join(folder, "v14-page-raw16"), "wb") as f:
        f.write(seed(14, page=fk.raw_image(2, 1, b"\x34\x12\x78\x56", kind=1)).data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
