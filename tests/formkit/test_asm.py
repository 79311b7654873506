"""The formkit assembler: instruction words worked out by hand from the bit layout, occurrence chains in
both formats, the old opcode numbering, the debug file and the listing's own rules."""

import os
import struct
import sys
import unittest

sys.dont_write_bytecode = True
SOURCE = os.environ.get("KV_SOURCE_DIR") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE, "tools"))

from formkit import asm  # noqa: E402
from formkit import listing as lst  # noqa: E402


def u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


def i32(data, off):
    return struct.unpack_from("<i", data, off)[0]


def program(lines, version=15, head=""):
    return asm.assemble(".version %d\n%s.code t\n%s\n" % (version, head, "\n".join(lines)))


def code_words(prog, index=0, image=False):
    b = prog.build()
    c = b.expect["code"][index]
    data = b.image if image else b.data
    return [u32(data, c["bytecode"] + 4 * k) for k in range(c["length"] // 4)]


def chunk(built, tag):
    (c,) = [c for c in built.expect["chunks"] if c["tag"] == tag]
    return c["body"], c["size"]


class InstructionWordTest(unittest.TestCase):
    # (source line, words in the file). Operands of a variable's or function's only occurrence hold the
    # reference flags and a chain step of 0.
    WORDS = [
        ("push.d 2.5", [0xC0000000, 0x00000000, 0x40040000]),
        ("push.f -0.25", [0xC0010000, 0xBE800000]),
        ("push.i -7", [0xC0020000, 0xFFFFFFF9]),
        ("push.l -2", [0xC0030000, 0xFFFFFFFE, 0xFFFFFFFF]),
        ("push.b true", [0xC0040000, 1]),
        ("push.b false", [0xC0040000, 0]),
        ("push.s #5", [0xC0060000, 5]),
        ("push.ds 3", [0xC0070000, 3]),
        ("push.e -3", [0xC00FFFFD]),
        ("push.e 32767", [0xC00F7FFF]),
        ("push.t9", [0xC0090000]),
        ("pushv.v", [0x80050000]),
        ("pushv.e 12", [0x800F000C]),
        ("pushi.i -5", [0x8402FFFB]),
        ("pushl.v local.i", [0xC105FFF9, 0xA0000000]),
        ("pushg.v global.g", [0xC205FFFB, 0xA0000000]),
        ("pushb.v builtin.#7", [0xC305FFFA, 0xA0000007]),
        # scope in the word, stacked, indexed, +100000, object index, other negative scopes
        ("push.v self.x", [0xC005FFFF, 0xA0000000]),
        ("push.v x", [0xC005FFFF, 0xA0000000]),
        ("push.v other.x[]", [0xC005FFFE, 0x20000000]),
        ("push.v all.x", [0xC005FFFD, 0xA0000000]),
        ("push.v noone.x", [0xC005FFFC, 0xA0000000]),
        ("push.v stacked.x", [0xC0050000, 0x80000000]),
        ("push.v stacked.x[]", [0xC0050000, 0x00000000]),
        ("push.v 100005.x", [0xC0050005, 0xE0000000]),
        ("push.v 100000.x[]", [0xC0050000, 0x60000000]),
        ("push.v 3.x", [0xC0050003, 0xA0000000]),
        ("push.v -8.x", [0xC005FFF8, 0xA0000000]),
        ("push.v self.#100003", [0xC005FFFF, 0xA00186A3]),
        ("pop.v.i self.x", [0x4525FFFF, 0xA0000000]),
        ("pop.v.v self.x noconfig", [0x4555FFFF, 0xB0000000]),
        ("pop.v.t9 local.x[]", [0x4595FFF9, 0x20000000]),
        ("pop.i.v global.x", [0x4552FFFB, 0xA0000000]),
        ("popv.v.v", [0x05550000]),
        # pop swap: T1 .e, the low byte the distance, the second byte the stack move
        ("pop.e.v 2 -1", [0x455FFF02]),
        ("popv.e.d 1 1", [0x050F0101]),
        # dup: count in the low byte; swap mode with the two counts in nibbles and flags in bits 8-15
        ("dup.v 0", [0x86050000]),
        ("dup.i 1", [0x86020001]),
        ("dup.v 0x21 1", [0x86050121]),
        # two-type forms: T1 (the top item) in bits 16-19, T2 in 20-23
        ("conv.i.v", [0x07520000]),
        ("conv.v.b 1", [0x07450100]),
        ("mul.d.d", [0x08000000]),
        ("div.i.i", [0x09220000]),
        ("rem.l.l", [0x0A330000]),
        ("mod.v.v", [0x0B550000]),
        ("add.s.s", [0x0C660000]),
        ("add.v.v 1", [0x0C550100]),
        ("sub.i.d", [0x0D020000]),
        ("and.b.b", [0x0E440000]),
        ("or.v.i", [0x0F250000]),
        ("xor.l.v", [0x10530000]),
        ("neg.v.v", [0x11550000]),
        ("not.b.b", [0x12440000]),
        ("shl.i.i", [0x13220000]),
        ("shr.i.i 0x80", [0x14228000]),
        ("set.v.v lt", [0x15550100]),
        ("set.v.v le", [0x15550200]),
        ("set.v.v eq", [0x15550300]),
        ("set.v.v ne", [0x15550400]),
        ("set.v.v ge", [0x15550500]),
        ("set.v.v gt", [0x15550600]),
        ("set.d.i eq", [0x15200300]),
        ("set.v.v 14", [0x15550E00]),
        ("call.i f 2", [0xD9020002, 0]),
        ("call.i 499999 1", [0xD9020001, 0x0007A11F]),
        ("call.i 500000 0", [0xD9020000, 0x0007A120]),
        ("callv.v 2", [0x99050002]),
        ("ret.v", [0x9C050000]),
        ("ret.e", [0x9C0F0000]),
        ("exit.i", [0x9D020000]),
        ("popz.d", [0x9E000000]),
        ("popz.e", [0x9E0F0000]),
        ("break bp", [0xFFFF0000]),
        ("break step", [0xFF0F0000]),
        ("break chkidx", [0xFFFFFFFF]),
        ("break 0x0f 0x1234", [0xFF0F1234]),
        ("popenv exit", [0xBBF00000]),
        (".word 0x12345678 -1", [0x12345678, 0xFFFFFFFF]),
    ]

    def test_every_operation_and_type(self):
        for line, words in self.WORDS:
            with self.subTest(line=line):
                self.assertEqual(["%08X" % w for w in code_words(program([line]))], ["%08X" % w for w in words])

    def test_branches_both_ways(self):
        # offsets in words from the branch itself, 23 bits two's complement; pushenv's object form is bit 23
        prog = program(["a:  b a", "    bt c", "    bf a", "c:  pushenv c obj", "    popenv a", "    popenv exit",
                        "    pushenv d", "d:  b -3", "    bt 0x3fffff", "    bf -0x400000"])
        self.assertEqual(["%08X" % w for w in code_words(prog)],
                         ["B6000000", "B7000002", "B87FFFFE", "BA800000", "BB7FFFFC", "BBF00000", "BA000001",
                          "B67FFFFD", "B73FFFFF", "B8400000"])

    def test_labels_span_a_shared_block(self):
        prog = asm.assemble(".code a\n    b later\n.entry b\nlater:\n    exit.i\n")
        b = prog.build()
        self.assertEqual([(c["name"], c["block_offset"], c["length"]) for c in b.expect["code"]],
                         [("a", 0, 8), ("b", 4, 8)])
        self.assertEqual(code_words(prog), [0xB6000001, 0x9D020000])

    def test_pushed_text_is_its_pool_index(self):
        b = program(['push.s "hello"', 'push.s "x\\ty\\x01\\""', 'push.s "hello"']).build()
        code = b.expect["code"][0]["bytecode"]
        texts = {s["index"]: s["text"] for s in b.expect["strings"]}
        self.assertEqual([texts[u32(b.data, code + o)] for o in (4, 12, 20)], ["hello", 'x\ty\x01"', "hello"])

    def test_refused_sources(self):
        cases = [
            (["bogus.v"], 15, "unknown operation"),
            (["push.v.v self.x"], 15, "1 type suffix"),
            (["add.v"], 15, "2 type suffixes"),
            (["b.v top"], 15, "0 type suffixes"),
            (["push.q 1"], 15, "unknown type suffix"),
            (["b nowhere"], 15, "unknown label"),
            (["x:", "x:"], 15, "defined twice"),
            (["pop.d.v self.x"], 15, "pop takes"),
            (["pushl.i 3"], 15, "takes a variable"),
            (["push.e 70000"], 15, "outside"),
            (["push.v self.x junk"], 15, "unknown variable option"),
            (["push.v 200000.x"], 15, "outside"),
            (["pushl.v local.i"], 14, "no form for bytecode 14"),
            (["pushi.i 1"], 14, "no form for bytecode 14"),
            (["popz.v"], 14, "no form for bytecode 14"),
            (["set.v.v 9"], 14, "no form for bytecode 14"),
            (["push.ds 1"], 14, "push.ds"),
            (["pop.v.v self.x noconfig"], 14, "noconfig"),
            ([".entry u"], 14, "version 15"),
        ]
        for lines, version, message in cases:
            with self.subTest(lines=lines, version=version):
                with self.assertRaises(asm.AsmError) as cm:
                    program(lines, version).build()
                self.assertIn(message, str(cm.exception))
                self.assertRegex(str(cm.exception), r"^<source>:\d+: ")


class ChainTest(unittest.TestCase):
    def test_variable_chains_both_formats(self):
        # three uses of one instance variable at 0, 8 and 20; the operand keeps the reference flags above
        # the step (29 bits up to 14, 28 from 15); the last step is 0; the loader puts the id in
        for version, bits, vid in ((14, 29, 100000), (15, 28, 100000)):
            with self.subTest(version=version):
                prog = program(["push.v self.x", "push.v other.x[]", "push.e 1", "pop.v.v self.x"], version)
                b = prog.build()
                code = b.expect["code"][0]["bytecode"]
                self.assertEqual([u32(b.data, code + o) for o in (4, 12, 24)],
                                 [0xA0000000 | 8, 0x20000000 | 12, 0xA0000000])
                self.assertEqual([u32(b.image, code + o) for o in (4, 12, 24)],
                                 [0xA0000000 | vid, 0x20000000 | vid, 0xA0000000 | vid])
                body, size = chunk(b, "VARI")
                rec = body + (12 if version >= 15 else 0)
                self.assertEqual(size, 12 + 20 if version >= 15 else 12)
                fields = [i32(b.data, rec + 4 * k) for k in range(size // 4 - (3 if version >= 15 else 0))]
                self.assertEqual(b.data[fields[0]:fields[0] + 1], b"x")
                if version >= 15:
                    self.assertEqual([i32(b.data, body + 4 * k) for k in range(3)], [0, 1, 0])
                    self.assertEqual(fields[1:], [-1, 0, 3, code])
                else:
                    self.assertEqual(fields[1:], [3, code])

    def test_new_format_records_by_kind_and_local_slots(self):
        # the same name as a global, an instance variable and a local gets three records; a local's index
        # is its slot in its entry's list, and every declared local has a record
        prog = asm.assemble(".code s\n.locals a b\n    push.v global.b\n    push.v self.b\n    pushl.v local.b\n"
                            "    push.v -6.b\n    push.v self.g@global\n    exit.i\n")
        b = prog.build()
        body, size = chunk(b, "VARI")
        self.assertEqual([u32(b.data, body + 4 * k) for k in range(3)], [2, 1, 2])
        recs = []
        for k in range((size - 12) // 20):
            r = body + 12 + 20 * k
            recs.append((b.data[u32(b.data, r):u32(b.data, r) + 1].decode(), i32(b.data, r + 4),
                         i32(b.data, r + 8), u32(b.data, r + 12)))
        self.assertEqual(recs, [("b", -5, 0, 1), ("b", -1, 0, 2), ("b", -7, 1, 1), ("g", -5, 1, 1),
                                ("a", -7, 0, 0)])
        code = b.expect["code"][0]["bytecode"]
        self.assertEqual([u32(b.image, code + 8 * k + 4) & 0x0FFFFFFF for k in range(5)],
                         [100000, 100000, 100001, 100000, 100001])

    def test_function_chains_and_local_table(self):
        for version in (14, 15):
            with self.subTest(version=version):
                prog = program(["call.i f 0", "push.e 1", "call.i f 1", "call.i g 0"], version)
                b = prog.build()
                code = b.expect["code"][0]["bytecode"]
                self.assertEqual([u32(b.data, code + o) for o in (4, 16, 24)], [12, 0, 0])
                self.assertEqual([u32(b.image, code + o) for o in (4, 16, 24)], [1, 1, 2])
                body, size = chunk(b, "FUNC")
                first = body + (4 if version >= 15 else 0)
                self.assertEqual([u32(b.data, first + o) for o in (4, 8, 16, 20)], [2, code, 1, code + 20])
                if version >= 15:
                    self.assertEqual(u32(b.data, body), 2)
                    self.assertEqual(b.expect["locals"], [{"code": "t", "names": [], "slots": []}])
                else:
                    self.assertEqual(size, 24)

    def test_call_ids_of_scripts_script_execute_and_builtins(self):
        prog = asm.assemble(".code a\n.script s\n.script s2\n    call.i s2 0\n    call.i script_execute 1\n"
                            "    call.i f 0\n    call.i s 0\n.code b\n.script s\n    exit.i\n.function g 40\n"
                            "    call.i g 0\n")
        self.assertEqual(prog.function_table(), {"s2": 100001, "script_execute": 499999, "f": 1, "s": 100002,
                                                 "g": 40})
        self.assertIn("builtin\tf\t1\n", prog.tables())
        self.assertIn("script\ts\t2\n", prog.tables())


class OldNumberingTest(unittest.TestCase):
    # current operation -> the old number written for bytecode 14 (the loader maps it back)
    OLD = {0: 0, 5: 1, 6: 2, 7: 3, 8: 4, 9: 5, 10: 6, 11: 7, 12: 8, 13: 9, 14: 10, 15: 11, 16: 12, 17: 13,
           18: 14, 19: 15, 20: 16, 22: 23, 23: 24, 24: 25, 25: 26, 26: 27, 27: 28, 28: 29, 29: 30, 31: 31}

    def test_old_opcode_table(self):
        lines = {0: "push.e 1", 5: "popv.v.v", 6: "dup.v 0", 7: "conv.i.v", 8: "mul.d.d", 9: "div.d.d",
                 10: "rem.i.i", 11: "mod.i.i", 12: "add.v.v", 13: "sub.v.v", 14: "and.b.b", 15: "or.b.b",
                 16: "xor.i.i", 17: "neg.v.v", 18: "not.b.b", 19: "shl.i.i", 20: "shr.i.i", 22: "b 0",
                 23: "bt 0", 24: "bf 0", 25: "callv.v 0", 26: "pushenv 0", 27: "popenv 0", 28: "ret.v",
                 29: "exit.i", 31: "break bp"}
        for op, line in lines.items():
            with self.subTest(line=line):
                new = code_words(program([line], 15))[0]
                self.assertEqual(new >> 24 & 0x1F, op)
                old = code_words(program([line], 14))[0]
                self.assertEqual(old >> 24, (new >> 24 & 0xE0) | self.OLD[op])
                self.assertEqual(old & 0x00FFFFFF, new & 0x00FFFFFF)
                self.assertEqual(code_words(program([line], 14), image=True)[0], new)

    def test_compare_kinds_become_old_numbers(self):
        for kind, name in enumerate(("lt", "le", "eq", "ne", "ge", "gt"), 1):
            with self.subTest(kind=name):
                prog = program(["set.d.i %s" % name], 14)
                self.assertEqual(code_words(prog), [((16 + kind) << 24) | 0x200000])
                self.assertEqual(code_words(prog, image=True), [0x15200000 | (kind << 8)])

    def test_operands_survive_the_rewrite(self):
        # operand words that look like instructions are stepped over by type
        prog = program(["push.i 0x01000000", "push.d 0", ".word 0x01000000", "push.l 0x0100000001000000",
                        "call.i f 0", "ret.v"], 14)
        self.assertEqual(code_words(prog, image=True),
                         [0xC0020000, 0x01000000, 0xC0000000, 0, 0, 0x05000000, 0xC0030000, 0x01000000,
                          0x01000000, 0xD9020000, 1, 0x9C050000])


class DebugFileTest(unittest.TestCase):
    def test_line_tables_and_source_text(self):
        prog = asm.assemble(".code a\n.src x = 1;\n    push.e 1\n    pop.v.i self.x\n.src #line ksl_Object7 3\n"
                            ".src y = x;\n    push.v self.x\n    exit.i\n.code b\n    exit.i\n.code c\n.src z;\n"
                            "    exit.i\n")
        d = prog.debug.data
        self.assertEqual(d[:4], b"FORM")
        self.assertEqual(u32(d, 4), len(d) - 8)
        tags = [c["tag"] for c in prog.debug.expect["chunks"]]
        self.assertEqual(tags, ["DBGI", "SCPT", "INST"])
        dbgi, scpt = [c["body"] for c in prog.debug.expect["chunks"][:2]]

        def table(i):
            off = u32(d, dbgi + 4 + 4 * i)
            return None if off == 0 else [i32(d, off + 4 + 4 * k) for k in range(u32(d, off))]

        def source(i):
            off = u32(d, scpt + 4 + 4 * i)
            if off == 0:
                return None
            text = u32(d, off)
            return d[text:text + u32(d, text - 4)]

        self.assertEqual((u32(d, dbgi), u32(d, scpt)), (3, 3))
        # "x = 1;\n" is 7 bytes, "#line ksl_Object7 3\n" 20 more: both later lines map to code offset 12
        self.assertEqual([table(0), table(1), table(2)], [[0, 0, 12, 7, 12, 27], None, [0, 0]])
        self.assertEqual([source(0), source(1), source(2)],
                         [b"x = 1;\n#line ksl_Object7 3\ny = x;\n", None, b"z;\n"])

    def test_no_source_no_file(self):
        self.assertIsNone(program(["exit.i"]).debug)


class WriteTest(unittest.TestCase):
    def test_files_beside_the_game_data(self):
        import tempfile
        prog = asm.assemble(".version 14\n.code a\n.script s\n.src exit;\n    call.i f 0\n    exit.i\n")
        with tempfile.TemporaryDirectory() as tmp:
            game = os.path.join(tmp, "game.win")
            self.assertEqual(asm.main([os.devnull, "-o", game]), 0)  # an empty source is a header only
            src = os.path.join(tmp, "p.kvs")
            with open(src, "w") as f:
                f.write(".version 14\n.code a\n.script s\n.src exit;\n    call.i f 0\n    exit.i\n")
            lst_path, tab = os.path.join(tmp, "p.lst"), os.path.join(tmp, "p.tab")
            self.assertEqual(asm.main([src, "-o", game, "--listing", lst_path, "--tables", tab,
                                       "--function", "f=7"]), 0)
            with open(game, "rb") as f:
                self.assertEqual(f.read(), prog.build().data)
            with open(os.path.join(tmp, "game.qzdebug"), "rb") as f:
                self.assertEqual(f.read(), prog.debug.data)
            with open(lst_path, "rb") as f:
                self.assertIn(b"call.i    f\n", f.read())
            with open(tab) as f:
                self.assertEqual(f.read(), "version\t14\nbuiltin\tf\t7\nscript\ts\t0\n")
            self.assertEqual(prog.entry_code("a"), struct.pack("<III", 0xD9020000, 1, 0x9D020000))
            with open(src, "a") as f:
                f.write("    pushl.v local.i\n")
            self.assertEqual(asm.main([src, "-o", game]), 1)


class ListingTest(unittest.TestCase):
    """The listing's own rules on words whose lines are worked out by hand (the runtime's disassembler is
    compared with it on whole programs elsewhere)."""

    def test_lines(self):
        names = lst.Names(strings=["hi", None], instances=["x"], globals=["g"], locals=[("t", ["i"])],
                          functions={3: "show"})
        cases = [
            # bytes padded to column 36, mnemonic and suffixes to 46
            ([0x9C050000], "00000000 : 0000059c                 ret.v     \n"),
            ([0x0C250000], "00000000 : 0000250c                 add.v.i   \n"),
            ([0x05550000], "00000000 : 00005505                 popv.v.v  \n"),
            ([0xC0070000, 0], '00000000 : 000007c000000000         push.ds    <string 0>\n'),
            ([0xC0090000], "00000000 : 000009c0                 push    \n"),
            ([0x12340000], "00000000 : 00003412                 not.b.l   \n"),
            ([0x17000000], "00000000 : 00000017                 unknown.d.d\n"),
            ([0xC0040000, 2], "00000000 : 000004c002000000         push.b    false\n"),
            ([0xC0060000, 1], '00000000 : 000006c001000000         push.s    ""\n'),
            ([0xC0060000, 0], '00000000 : 000006c000000000         push.s    "hi"\n'),
            ([0xC0060000, 9], "00000000 : 000006c009000000         push.s    <string 9>\n"),
            ([0xD9020001, 3], "00000000 : 010002d903000000         call.i    show\n"),
            ([0xC0020000, 3], "00000000 : 000002c003000000         push.i    3\n"),
            ([0xD9020001, 4], "00000000 : 010002d904000000         call.i    4\n"),
            ([0xD9020001, 100003], "00000000 : 010002d9a3860100         call.i    100003\n"),
            ([0xC005FFFF, 0xA00186A0], "00000000 : ffff05c0a08601a0         push.v    $x$\n"),
            ([0xC005FFFB, 0xA00186A0], "00000000 : fbff05c0a08601a0         push.v    $g$\n"),
            ([0xC105FFF9, 0xA00186A0], "00000000 : f9ff05c1a08601a0         push.l.v  $i$\n"),
            ([0xC005FFFE, 0xA00186A0], "00000000 : feff05c0a08601a0         push.v    $<unknown variable>$\n"),
            ([0xC0050001, 0xE00186A0], "00000000 : 010005c0a08601e0         push.v    $x$\n"),
            ([0xC0050000, 0xE00186A0], "00000000 : 000005c0a08601e0         push.v    $<unknown variable>$\n"),
            ([0xC005FFFF, 0x800186A0], "00000000 : ffff05c0a0860180         push.v    $unknown$\n"),
            ([0xC005FFFF, 0xA00186A1], "00000000 : ffff05c0a18601a0         push.v    $<unknown variable>$\n"),
            ([0xC00FFFFD], "00000000 : fdff0fc0                 push.e    -3\n"),
            ([0xFFFFFFFF], "00000000 : ffffffff                 break     -1\n"),
            ([0xB67FFFFF], "00000000 : ffff7fb6                 b         0xfffffffc\n"),
            ([0xBBF00000], "00000000 : 0000f0bb                 popenv    0xffc00000\n"),
            ([0xBA800002], "00000000 : 020080ba                 pushenv   0x00000008\n"),
            ([0xC0000000, 0, 0xFFF80000], "00000000 : 000000c0000000000000f8ff push.d    -nan\n"),
            ([0xC0000000, 0, 0x7FF80000], "00000000 : 000000c0000000000000f87f push.d    nan\n"),
            ([0xC0010000, 0xFF800000], "00000000 : 000001c0000080ff         push.f    -inf\n"),
            ([0xC0030000, 0xFFFFFFFF, 0x7FFFFFFF],
             "00000000 : 000003c0ffffffffffffff7f push.l    9223372036854775807\n"),
        ]
        for words, want in cases:
            with self.subTest(words=["%08X" % w for w in words]):
                got, nxt = lst.instruction("t", b"".join(struct.pack("<I", w) for w in words), 0, names)
                self.assertEqual(got, want)
                self.assertEqual(nxt, 4 * len(words))

    def test_old_format_names_and_offsets(self):
        names = lst.Names(old_format=True, shared=["a", "b"], builtins={4: "room"})
        code = struct.pack("<IIIIII", 0x9C050000, 0xC005FFFE, 0xA00186A1, 0xC005FFFB, 0xA0000004, 0x9D020000)
        self.assertEqual(lst.code_listing("t", code, names),
                         "00000000 : 0000059c                 ret.v     \n"
                         "00000004 : feff05c0a18601a0         push.v    $b$\n"
                         "0000000c : fbff05c0040000a0         push.v    $room$\n"
                         "00000014 : 0000029d                 exit.i    \n")

    def test_program_listing_names_entries_and_shared_blocks(self):
        # the same bytes, listed once per entry with that entry's local names
        prog = asm.assemble(".code a\n.locals p\n    pushl.v local.p\n.entry b\n.locals r q\n    pushl.v local.q\n"
                            "    ret.v\n")
        out = prog.listing()
        self.assertEqual(out.count("; code "), 2)
        a, b = out.split("; code b\n")
        self.assertIn("push.l.v  $p$\n", a)
        self.assertIn("push.l.v  $<unknown variable>$\n", a)
        self.assertIn("00000000 : f9ff05c1a08601a0         push.l.v  $r$\n", b)
        self.assertIn("00000008 : f9ff05c1a18601a0         push.l.v  $q$\n", b)
        self.assertEqual(len(a.splitlines()), len(b.splitlines()) + 1)


if __name__ == "__main__":
    result = unittest.main(exit=False).result
    sys.exit(0 if result.wasSuccessful() and result.testsRun else 1)
