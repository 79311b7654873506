#!/usr/bin/env python3
"""Writes the seed corpus of the game-data fuzz target: one small container per bytecode version.

    python3 tools/formkit/make_corpus.py <folder>

Every seed has a header, code with variable, function and string operands, VARI, FUNC, GLOB, STRG,
TPAG (one page field in range, one not), TXTR with a tiny "RAW " page, an OPTN body and a size-0 chunk.
Seeds v07-m1 ... v13-m1, v14-m1, v14-m2, v15-m1, v15-m2, and gen7-v08 / genl-v08 for the other header
tags. The names the code uses are VAR_NAMES and FUNC_NAMES below (a fuzz target that resolves exactly
these reaches the patching).
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

import formkit as fk  # noqa: E402

VAR_NAMES = ("x", "score", "i")
FUNC_NAMES = ("show_debug_message", "gml_Script_helper")


def seed(version, major=1, tag="GEN8"):
    """The seed container of a version, as a formkit Built."""
    c = fk.Container(version)
    c.gen8(tag=tag, game_name="Seed", project_name="Seed", display_name="Seed Game", major=major,
           width=320, height=240, window_flags=0x8000 if version >= 15 else 0, room_order=[0, 1],
           game_speed=30.0)
    c.chunk("OPTN", bytes(8))
    main = [fk.push_var("x"), fk.push_double(1.5), fk.compare(2), fk.pop_var("score", fk.SCOPE_GLOBAL),
            fk.push_string("hello"), fk.call("show_debug_message", 1), fk.push_int32(-3),
            fk.call("gml_Script_helper", 1), fk.push_var("x"), fk.ret()]
    helper = [fk.push_var("i", fk.SCOPE_LOCAL if version >= 15 else fk.SCOPE_SELF), fk.push_var("score"),
              fk.word(0x0C, fk.TYPE_V, fk.TYPE_V), fk.ret()]
    if version >= 15:
        c.code([fk.CodeEntry("gml_Script_main", main + [fk.Mark("helper")] + helper, locals=1, args=0),
                fk.CodeEntry("gml_Script_helper", share="gml_Script_main", block_offset="helper", args=1)])
        c.vari([fk.Variable("x", fk.SCOPE_SELF), fk.Variable("score", fk.SCOPE_GLOBAL),
                fk.Variable("i", fk.SCOPE_LOCAL)])
        c.func(locals={"gml_Script_helper": ["i"]})
    else:
        c.code([fk.CodeEntry("gml_Script_main", fk.old(main)),
                fk.CodeEntry("gml_Script_helper", fk.old(helper))])
        c.vari()
        c.func()
    c.glob(["gml_Script_main"])
    c.chunk("DAFL", b"")
    c.tpag([fk.TexturePageEntry(0, 0, 1, 1, page=0), fk.TexturePageEntry(0, 0, 1, 1, page=3)])
    c.txtr([fk.Page(fk.raw_image(1, 1, b"\x01\x02\x03\xFF"), flags=1)], align=16)
    c.strg()
    return c.build()


SEEDS = [("v%02d-m1" % v, v, 1, "GEN8") for v in range(7, 14)] + [
    ("v14-m1", 14, 1, "GEN8"), ("v14-m2", 14, 2, "GEN8"), ("v15-m1", 15, 1, "GEN8"),
    ("v15-m2", 15, 2, "GEN8"), ("gen7-v08", 8, 1, "GEN7"), ("genl-v08", 8, 1, "GENL"),
]


def main(argv):
    if len(argv) != 2:
        print("usage: make_corpus.py <folder>", file=sys.stderr)
        return 2
    os.makedirs(argv[1], exist_ok=True)
    for name, version, major, tag in SEEDS:
        with open(os.path.join(argv[1], name), "wb") as f:
            f.write(seed(version, major, tag).data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
