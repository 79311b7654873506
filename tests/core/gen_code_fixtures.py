#!/usr/bin/env python3
"""Game data for the code-object and script tests, written with formkit.

Usage: gen_code_fixtures.py <out_dir>

Writes <name>.win (and <name>.qzdebug where the case has a debug file) and <name>.expect, a flat file of
tab-separated facts whose first field names the fact:

    script <slot> <name> <code index>          (one per non-empty SCPT slot)
    code <index> <name> <bytecode offset> <length> <locals> <args> <block offset>
    lines <code index> <offset of the table words in the debug file> <bytes>
    source <code index> <text with \\n escaped>
    glob <code index>...
    patched <offset> <word>                    (operand words after loading)
    bad <name> <tag of the damage line, or - when the load succeeds>

Every variable and function name resolves through the runtime's own tables: variables take 100000 on in
order of first use, and the only call targets are scripts (100000 + slot).
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import formkit as fk  # noqa: E402

OUT = sys.argv[1]

# Slots: 0 scr_a, 1 empty, 2 scr_b, 3 scr_empty, 4 a second scr_a (the later one is found by name).
SCRIPTS = [("scr_a", "ksl_Script_scr_a"), None, ("scr_b", "ksl_Script_scr_b"),
           ("scr_empty", "ksl_Script_empty"), ("scr_a", "ksl_Script_scr_a2")]
VAR_IDS = {"hp": 100000, "g_total": 100001}
FUNC_IDS = {"scr_b": 100002}

SOURCES = {0: "var a = hp;\nscr_b();\nhp = a;\n", 1: "#line scr_b 7\nreturn global.g_total;\n"}


def code_entries(version):
    a = [fk.push_var("hp"), fk.call("scr_b", 0), fk.pop_var("hp"), fk.ret()]
    b = [fk.push_var("g_total", fk.SCOPE_GLOBAL), fk.ret()]
    init = [fk.push_int32(5), fk.pop_var("g_total", fk.SCOPE_GLOBAL, t2=fk.TYPE_I), fk.exit_()]
    if version < 15:
        return [fk.CodeEntry("ksl_Script_scr_a", fk.old(a)), fk.CodeEntry("ksl_Script_scr_b", fk.old(b)),
                fk.CodeEntry("ksl_Script_empty", []), fk.CodeEntry("ksl_Script_scr_a2", fk.old(b)),
                fk.CodeEntry("ksl_GlobalCode_one", fk.old(init)),
                fk.CodeEntry("ksl_GlobalCode_two", fk.old(init))]
    # scr_a and scr_b share one block; scr_b starts inside it.
    return [fk.CodeEntry("ksl_Script_scr_a", a + [fk.Mark("b")] + b, locals=3, args=2),
            fk.CodeEntry("ksl_Script_scr_b", share="ksl_Script_scr_a", block_offset="b", locals=1, args=1),
            fk.CodeEntry("ksl_Script_empty", []),
            fk.CodeEntry("ksl_Script_scr_a2", b, locals=0, args=4),
            fk.CodeEntry("ksl_GlobalCode_one", init), fk.CodeEntry("ksl_GlobalCode_two", init)]


def container(version, scripts=SCRIPTS, glob=("ksl_GlobalCode_one", "ksl_GlobalCode_two"), window_flags=0):
    c = fk.Container(version=version)
    c.gen8(major=2 if version >= 15 else 1, window_flags=window_flags)
    c.code(code_entries(version))
    # SCPT before FUNC: the loader finds the called scripts by name.
    c.scpt([None if s is None else fk.Script(*s) for s in scripts])
    if version >= 15:
        c.vari([fk.Variable("hp"), fk.Variable("g_total", fk.SCOPE_GLOBAL)])
        c.func(locals={"ksl_Script_scr_a": ["a"]})
    else:
        c.vari(["hp", "g_total"])
        c.func()
    c.glob(list(glob))
    c.strg()
    return c


def debug_file(entries, tables, sources):
    """A debug file whose DBGI entry i points at a line table {count of words, words} and whose SCPT entry
    i points at a word holding the offset of source text i (0 for the entries not given). Returns the
    built file and {index: offset of the table words}."""
    def make(dbgi_at, scpt_at):
        extra_lines = bytearray()
        offsets = [0] * entries
        words_at = {}
        for i, table in tables.items():
            offsets[i] = dbgi_at + len(extra_lines)
            words = [w for pair in table for w in pair]
            extra_lines += struct.pack("<I", len(words)) + struct.pack("<%dI" % len(words), *words)
            words_at[i] = offsets[i] + 4
        extra_src = bytearray()
        refs = [0] * entries
        texts = {}
        for i, text in sources.items():
            refs[i] = scpt_at + len(extra_src)
            extra_src += struct.pack("<I", 0)  # patched below with the text's offset
            texts[i] = len(extra_src) - 4
        for i, text in sources.items():
            struct.pack_into("<I", extra_src, texts[i], scpt_at + len(extra_src))
            extra_src += text.encode() + b"\0"
        while len(extra_src) % 4:
            extra_src += b"\0"
        d = fk.DebugFile()
        d.entries("DBGI", offsets, extra=bytes(extra_lines))
        d.entries("SCPT", refs, extra=bytes(extra_src))
        return d.build(), words_at

    first, _ = make(0, 0)
    chunks = {c["tag"]: c for c in first.expect["chunks"]}
    dbgi_at = chunks["DBGI"]["entries"] + 4 * entries
    scpt_at = chunks["SCPT"]["entries"] + 4 * entries
    return make(dbgi_at, scpt_at)


def write(name, built, facts, debug=None):
    with open(os.path.join(OUT, name + ".win"), "wb") as f:
        f.write(built.data)
    if debug is not None:
        with open(os.path.join(OUT, name + ".qzdebug"), "wb") as f:
            f.write(debug.data)
    with open(os.path.join(OUT, name + ".expect"), "w") as f:
        for fact in facts:
            f.write("\t".join(str(x) for x in fact) + "\n")


def var_ids(version):
    # New-format data numbers its variables itself: slot = the record's index in its scope.
    return VAR_IDS if version < 15 else (lambda name, scope, index: 100000 + index)


def good_case(version):
    built = container(version).build(var_ids=var_ids(version), func_ids=FUNC_IDS)
    facts = []
    names = [e["name"] for e in built.expect["code"]]
    for slot, s in enumerate(SCRIPTS):
        if s is not None:
            facts.append(("script", slot, s[0], names.index(s[1])))
    for e in built.expect["code"]:
        facts.append(("code", e["index"], e["name"], e["bytecode"], e["length"], e.get("locals", 0),
                      e.get("args", 0), e.get("block_offset", 0)))
    facts.append(("glob",) + tuple(names.index(n) for n in ("ksl_GlobalCode_one", "ksl_GlobalCode_two")))
    for p in built.expect["patched"]:
        facts.append(("patched", p[0], p[1]) if isinstance(p, (list, tuple)) else
                     ("patched", p["offset"], p["after"]))
    debug, words_at = debug_file(len(names), {0: [(0, 0), (4, 11), (12, 20)], 1: [(0, 14)]}, SOURCES)
    for i, at in words_at.items():
        facts.append(("lines", i, at, 24 if i == 0 else 8))
    for i, text in SOURCES.items():
        facts.append(("source", i, text.replace("\n", "\\n")))
    write("v%d" % version, built, facts, debug)


def bad_cases():
    """Containers and debug files with one bad count or offset each; tag - means the load succeeds."""
    out = []
    base = container(15).build(var_ids=var_ids(15), func_ids=FUNC_IDS)
    data = base.data
    scpt, _ = fk.find_chunk(data, "SCPT")
    body = scpt + 8
    first_entry = struct.unpack_from("<I", data, body + 4)[0]
    code, _ = fk.find_chunk(data, "CODE")
    entry = [e for e in base.expect["code"] if e["name"] == "ksl_Script_scr_b"][0]["entry"]

    def case(name, damaged, tag):
        write("bad_" + name, fk.Built(damaged, {}, damaged), [])
        out.append(("bad", "bad_" + name, tag))

    case("scpt_count", fk.set_u32(data, body, 0x40000000), "SCPT")
    case("scpt_entry_outside", fk.set_u32(data, body + 4, len(data) - 4), "SCPT")
    case("scpt_name_outside", fk.set_u32(data, first_entry, len(data) + 100), "SCPT")
    case("scpt_code_index", fk.set_u32(data, first_entry + 4, 6), "SCPT")
    case("block_offset_past", fk.set_u32(data, entry + 16, 0x1000), "CODE")
    case("block_offset_odd", fk.set_u32(data, entry + 16, 6), "CODE")
    case("relative_offset", fk.set_u32(data, entry + 12, 0x7FFFFFF0), "CODE")
    case("code_length", fk.set_u32(data, entry + 4, 0x10000), "CODE")
    # Old games without code: the second word is the source text's reference.
    old = fk.Container(version=14)
    old.gen8(major=1)
    old.scpt([fk.Script("scr_src", source="show_message(1);"), fk.Script("scr_src2", source="exit;")])
    old.strg()
    old_data = old.build().data
    write("old_source", fk.Built(old_data, {}, old_data), [])
    o_scpt, _ = fk.find_chunk(old_data, "SCPT")
    o_entry = struct.unpack_from("<I", old_data, o_scpt + 12)[0]
    case("old_source_outside", fk.set_u32(old_data, o_entry + 4, len(old_data) + 8), "SCPT")
    with open(os.path.join(OUT, "bad.expect"), "w") as f:
        for fact in out:
            f.write("\t".join(str(x) for x in fact) + "\n")


def bad_debug_files():
    """Debug files beside v14.win whose tables do not lie inside them: the load succeeds without them."""
    n = 6
    good, words_at = debug_file(n, {0: [(0, 0), (4, 11)]}, {0: "line one\n"})
    d = good.data
    dbgi, _ = fk.find_chunk(d, "DBGI")
    scpt, _ = fk.find_chunk(d, "SCPT")
    table_at = words_at[0] - 4
    text_word = struct.unpack_from("<I", d, scpt + 12)[0]
    cases = {
        "table_outside": fk.set_u32(d, dbgi + 12, len(d) + 16),
        "table_unaligned": fk.set_u32(d, dbgi + 12, table_at + 2),
        "table_count": fk.set_u32(d, table_at, 0x20000000),
        "table_count_one_over": fk.set_u32(d, table_at, (len(d) - table_at - 4) // 4 + 1),
        "entries_count": fk.set_u32(d, dbgi + 8, 0x7FFFFFFF),
        "source_word_outside": fk.set_u32(d, scpt + 12, len(d) - 2),
        "source_text_outside": fk.set_u32(d, text_word, len(d) + 4),
        "source_text_at_end": fk.set_u32(d, text_word, len(d)),
    }
    keeps = {"entries_count": (1, 1), "source_word_outside": (1, 0), "source_text_outside": (1, 0),
             "source_text_at_end": (1, 0)}
    with open(os.path.join(OUT, "bad_debug.expect"), "w") as f:
        for name, data in cases.items():
            with open(os.path.join(OUT, "debug_" + name + ".qzdebug"), "wb") as g:
                g.write(data)
            lines, source = keeps.get(name, (0, 1))
            f.write("debug\tdebug_%s\t%d\t%d\n" % (name, lines, source))


def compiled_case():
    """A game whose code runs compiled: its CODE entries only name the code; GLOB runs entries 4 and 2."""
    c = container(15, glob=("ksl_GlobalCode_two", "ksl_Script_empty"), window_flags=0x8000)
    built = c.build(var_ids=var_ids(15), func_ids=FUNC_IDS)
    write("compiled", built, [])


os.makedirs(OUT, exist_ok=True)
good_case(14)
good_case(15)
bad_cases()
bad_debug_files()
compiled_case()
