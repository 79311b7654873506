"""Bytecode assembler: a text source becomes a complete game-data file (and its ".qzdebug" file).

    python3 -m formkit.asm SOURCE -o OUT.win [--listing [FILE]] [--tables FILE]     (from tools/)

The syntax is documented in README.md ("Assembler"). In short: one instruction or directive a line,
";" starts a comment, "name:" defines a label of the current code block. A mnemonic is what the
listing prints in its mnemonic column (operation and type suffixes), except that the four operations
whose listing names contain a dot are written pushl, pushg, pushb and pushi, and the operand-less
forms of push, pop and call are pushv, popv and callv. So "push.b true" pushes a ".b" constant and
"pushb.v builtin.x" pushes a built-in variable.

The program is written through formkit's Container (its chunk writers, string pool and occurrence
chains); the listing is computed from the data as the loader leaves it (formkit.expect).
"""

import argparse
import re
import struct
import sys

from . import bytecode as bc
from . import listing as lst
from .asm_syntax import (  # noqa: F401 (AsmError and Str are part of this module's interface)
    AsmError, Str, tokenize, number, real, TYPES, OPERAND, SCOPES, KIND_OF_SCOPE, KIND_SCOPE, COMPARE, BREAKS,
    OPS, VAR_RE,
)
from .bytecode import VarRef, FuncRef, StrIndex, u32
from .common import rd_u32, read_string
from .container import Container, CodeEntry, Variable, Script, DebugFile, debug_path


class Block:
    def __init__(self, entry):
        self.first = entry
        self.size = 0
        self.labels = {}
        self.instrs = []


class Entry:
    def __init__(self, name, block, offset, locals_count, args):
        self.name, self.block, self.offset = name, block, offset
        self.locals_count, self.args = locals_count, args
        self.locals = []        # local names, slot = position
        self.src = []           # source lines
        self.lines = []         # (code offset in the block, source offset)
        self.pending = []       # source offsets waiting for the next instruction


class Instr:
    def __init__(self, lineno, entry, offset, size, build):
        self.lineno, self.entry, self.offset, self.size, self.build = lineno, entry, offset, size, build


class Program:
    """An assembled source. `build()` gives formkit's Built of the game data, `debug` the Built of the
    ".qzdebug" file (None without source lines), `listing()` the listing text and `tables()` the names
    and ids the loading side must know (built-in functions and variables, scripts)."""

    def __init__(self, text, filename="<source>"):
        self.filename = filename
        self.version = 15
        self.header = {}
        self.blocks, self.entries = [], []
        self.scripts, self.glob, self.strings = [], [], []
        self.function_ids, self.builtin_vars = {}, {}
        self.vari_counts = None
        self.records = {}       # key -> Variable, in order of first use
        self.calls = []         # function names in order of first call
        self._built = None
        self._parse(text)

    # -- parsing ---------------------------------------------------------------------------------------

    def _fail(self, lineno, msg):
        raise AsmError("%s:%d: %s" % (self.filename, lineno, msg))

    def _parse(self, text):
        entry = None
        seen_code = False
        for lineno, raw in enumerate(text.splitlines(), 1):
            stripped = raw.strip()
            if stripped == ".src" or stripped.startswith(".src "):
                if entry is None:
                    self._fail(lineno, ".src outside a code entry")
                line = raw.lstrip()[5:] if len(raw.lstrip()) > 4 else ""
                offset = sum(len(s.encode("utf-8")) + 1 for s in entry.src)
                entry.src.append(line)
                entry.pending.append(offset)
                continue
            try:
                toks = tokenize(raw)
            except AsmError as e:
                self._fail(lineno, str(e))
            while toks and isinstance(toks[0], str) and toks[0].endswith(":") and not isinstance(toks[0], Str):
                if entry is None:
                    self._fail(lineno, "label outside a code block")
                label = toks.pop(0)[:-1]
                if label in entry.block.labels:
                    self._fail(lineno, "label %r defined twice" % label)
                entry.block.labels[label] = entry.block.size
            if not toks:
                continue
            head, args = toks[0], toks[1:]
            if isinstance(head, Str):
                self._fail(lineno, "a line starts with an operation or a directive, not a text")
            try:
                if head.startswith("."):
                    if head == ".version":
                        if seen_code:
                            raise AsmError(".version must come before the code")
                        self.version = number(args[0], 1, 255, ".version")
                    elif head in (".code", ".entry"):
                        opts = self._options(args[1:], ("locals", "args"))
                        if head == ".entry":
                            if entry is None:
                                raise AsmError(".entry needs a .code block before it")
                            if self.version < 15:
                                raise AsmError("shared code blocks need version 15 or more")
                            block = entry.block
                        else:
                            block = None
                        seen_code = True
                        if any(e.name == args[0] for e in self.entries):
                            raise AsmError("code entry %r defined twice" % args[0])
                        entry = Entry(args[0], block, block.size if block else 0, opts.get("locals"),
                                      opts.get("args", 0))
                        if block is None:
                            entry.block = Block(entry)
                            self.blocks.append(entry.block)
                        self.entries.append(entry)
                    elif head == ".locals":
                        if entry is None:
                            raise AsmError(".locals outside a code entry")
                        for a in args:
                            if a in entry.locals:
                                raise AsmError("local %r declared twice" % a)
                            entry.locals.append(a)
                    elif head == ".script":
                        if args and args[0] == "-":
                            self.scripts.append(None)
                        else:
                            target = args[1] if len(args) > 1 else (entry.name if entry else None)
                            if target is None:
                                raise AsmError(".script needs a code entry")
                            self.scripts.append((args[0], target))
                    elif head == ".glob":
                        self.glob.extend(args)
                    elif head == ".string":
                        self.strings.extend(bytes(a) if isinstance(a, Str) else a.encode() for a in args)
                    elif head == ".function":
                        self.function_ids[args[0]] = number(args[1], -(1 << 31), (1 << 31) - 1, ".function")
                    elif head == ".bvar":
                        self.builtin_vars[args[0]] = number(args[1], 0, 99999, ".bvar")
                    elif head == ".vari_counts":
                        self.vari_counts = tuple(number(a, 0, 0xFFFFFFFF, ".vari_counts") for a in args[:3])
                    elif head == ".header":
                        for k, v in self._options(args, None).items():
                            self.header[k] = v
                    elif head == ".word":
                        if entry is None:
                            raise AsmError(".word outside a code entry")
                        for a in args:
                            w = number(a, -(1 << 31), 0xFFFFFFFF, ".word") & 0xFFFFFFFF
                            self._add(entry, lineno, 4, lambda ins, w=w: [u32(w)])
                    else:
                        raise AsmError("unknown directive %s" % head)
                else:
                    if entry is None:
                        raise AsmError("instruction outside a code entry")
                    self._instruction(entry, lineno, head, args)
            except AsmError as e:
                if str(e).startswith(self.filename + ":"):
                    raise
                self._fail(lineno, str(e))
            except IndexError:
                self._fail(lineno, "%s: missing operand" % head)

    def _options(self, args, allowed):
        out = {}
        args = list(args)
        while args:
            a = args.pop(0)
            if isinstance(a, Str) or "=" not in a:
                raise AsmError("expected key=value, not %r" % (a,))
            k, v = a.split("=", 1)
            if allowed is not None and k not in allowed:
                raise AsmError("unknown option %r" % k)
            if v == "" and args and isinstance(args[0], Str):
                v = args.pop(0).decode("utf-8")
            elif v == "none":
                v = None
            else:
                for convert in (lambda t: int(t, 0), float, str):
                    try:
                        v = convert(v)
                        break
                    except ValueError:
                        pass
            out[k] = v
        return out

    def _add(self, entry, lineno, size, build):
        block = entry.block
        for src in entry.pending:
            entry.lines.append((block.size, src))
        entry.pending = []
        block.instrs.append(Instr(lineno, entry, block.size, size, build))
        block.size += size

    def _instruction(self, entry, lineno, mnemonic, args):
        parts = mnemonic.split(".")
        base, sufs = parts[0], parts[1:]
        if base not in OPS:
            raise AsmError("unknown operation %r" % base)
        op, form, with_operand = OPS[base]
        try:
            types = [TYPES[s] for s in sufs]
        except KeyError as e:
            raise AsmError("unknown type suffix .%s" % e.args[0])
        want = {"single": 1, "two": 2, "branch": 0, "break": 0}[form]
        if len(types) != want:
            raise AsmError("%s takes %d type suffix%s" % (base, want, "" if want == 1 else "es"))
        t1 = types[0] if types else 0
        t2 = types[1] if len(types) > 1 else 0
        top = {"single": 0x80 | op, "two": op, "branch": 0xA0 | op, "break": 0xFF}[form]
        if with_operand:
            top |= 0x40

        def w(low=0, sub=0, t1=t1, t2=t2):
            return (top << 24) | ((t2 & 0xF) << 20) | ((t1 & 0xF) << 16) | ((sub & 0xFF) << 8) | (low & 0xFFFF)

        size = 4
        if base == "push":
            size += OPERAND.get(t1, 0)
            build = self._var_item(entry, args, w) if t1 == 5 else self._push(t1, w, args)
        elif base in ("pushl", "pushg", "pushb"):
            if t1 != 5:
                raise AsmError("%s takes a variable (.v)" % base)
            size += 4
            build = self._var_item(entry, args, w)
        elif base in ("pushv", "pushi", "callv"):
            low = number(args[0], -32768, 65535, base) if args else 0
            build = self._const([w(low)])
        elif base in ("pop", "popv"):
            if t1 == 15:
                n = number(args[0], -128, 255, "pop swap distance") if args else 0
                m = number(args[1], -128, 255, "pop swap stack move") if len(args) > 1 else 0
                build = self._const([w((n & 0xFF) | ((m & 0xFF) << 8))])
            elif base == "popv":
                build = self._const([w(number(args[0], -32768, 65535, "popv") if args else 0)])
            elif t1 in (2, 5):
                size += 4
                build = self._var_item(entry, args, w)
            else:
                raise AsmError("pop takes .v, .i or .e as its first type")
        elif base == "dup":
            low = number(args[0], 0, 255, "dup count") if args else 0
            sub = number(args[1], 0, 255, "dup swap flags") if len(args) > 1 else 0
            build = self._const([w(low, sub)])
        elif base == "set":
            kind = COMPARE.get(args[0]) if args else None
            kind = kind if kind is not None else number(args[0], 0, 255, "compare kind")
            build = self._const([w(0, kind)])
        elif form == "two":
            build = self._const([w(0, number(args[0], 0, 255, "sub-operation") if args else 0)])
        elif base == "call":
            if t1 != 2:
                raise AsmError("call takes .i (callv for the other forms)")
            size += 4
            argc = number(args[1], 0, 65535, "argument count") if len(args) > 1 else 0
            target = args[0]
            if re.match(r"^-?(0x)?[0-9A-Fa-f]+$", target) and target[0] in "-0123456789":
                fid = number(target, -(1 << 31), 0xFFFFFFFF, "function id")
                build = self._const([w(argc), u32(fid)])
            else:
                if target not in self.calls:
                    self.calls.append(target)
                build = self._const([FuncRef(w(argc), target)])
        elif base in ("ret", "exit", "popz"):
            build = self._const([w()])
        elif form == "branch":
            build = self._branch(entry, base, top, args)
        else:  # break
            if args and args[0] in BREAKS:
                word = BREAKS[args[0]]
            else:
                h = number(args[0], 0, 255, "break type byte")
                word = 0xFF000000 | (h << 16) | (number(args[1], -32768, 65535, "break low bits") & 0xFFFF)
            build = self._const([word])
        self._add(entry, lineno, size, build)

    @staticmethod
    def _const(items):
        return lambda ins: list(items)

    def _push(self, t1, w, args):
        if t1 == 15:
            return self._const([w(number(args[0], -32768, 65535, "push.e immediate"))])
        if t1 >= 8:
            return self._const([w(number(args[0], -32768, 65535, "low bits") if args else 0)])
        a = args[0]
        if t1 == 0:
            return self._const([w(), struct.pack("<d", real(a, "push.d"))])
        if t1 == 1:
            return self._const([w(), struct.pack("<f", real(a, "push.f"))])
        if t1 == 2:
            return self._const([w(), u32(number(a, -(1 << 31), 0xFFFFFFFF, "push.i"))])
        if t1 == 3:
            return self._const([w(), struct.pack("<Q", number(a, -(1 << 63), (1 << 64) - 1, "push.l")
                                                 & 0xFFFFFFFFFFFFFFFF)])
        if t1 == 4:
            v = {"true": 1, "false": 0}.get(a) if not isinstance(a, Str) else None
            v = v if v is not None else number(a, -(1 << 31), 0xFFFFFFFF, "push.b")
            return self._const([w(), u32(v)])
        if t1 == 6:
            if isinstance(a, Str):
                return self._const([StrIndex(w(), bytes(a))])
            if a.startswith("#"):
                return self._const([w(), u32(number(a[1:], 0, 0xFFFFFFFF, "string index"))])
            raise AsmError("push.s takes a quoted text or #index")
        if self.version < 15:
            raise AsmError("push.ds operands are not stepped over by the old-opcode rewrite")
        return self._const([w(), u32(number(a, -(1 << 31), 0xFFFFFFFF, "push.ds index"))])

    def _var_item(self, entry, args, w):
        if not args or isinstance(args[0], Str):
            raise AsmError("expected a variable")
        m = VAR_RE.match(args[0])
        if not m:
            raise AsmError("bad variable %r" % args[0])
        for opt in args[1:]:
            if opt != "noconfig":
                raise AsmError("unknown variable option %r" % (opt,))
        noconfig = "noconfig" in args[1:]
        if noconfig and self.version < 15:
            raise AsmError("noconfig (bit 28) needs version 15: bit 28 belongs to the chain step before")
        scope_tok = m.group("scope") or "self"
        flags = 0 if m.group("idx") else bc.VAR_PLAIN
        flags |= bc.VAR_CONFIG_LOSS if noconfig else 0
        if scope_tok == "stacked":
            low, scope = 0, None
        else:
            flags |= bc.VAR_SCOPE_IN_WORD
            scope = SCOPES.get(scope_tok)
            if scope is None:
                scope = number(scope_tok, -32768, 100000 + 32767, "scope")
            low = scope
            if scope >= 100000:
                flags |= bc.VAR_ID_OFFSET
                low = scope - 100000
            elif scope > 32767:
                raise AsmError("scope %d does not fit in 16 bits (use 100000 + n)" % scope)
        name = m.group("name")
        if name.startswith("#"):
            vid = number(name[1:], 0, 0x0FFFFFFF, "variable id")
            return self._const([w(low), u32(flags | vid)])
        kind = m.group("kind") or ("builtin" if scope_tok == "builtin" else KIND_OF_SCOPE.get(scope, "instance"))
        if kind not in KIND_SCOPE:
            raise AsmError("unknown variable kind %r" % kind)
        key = self._record(entry, name, kind)
        return self._const([VarRef(w(low), key, flags)])

    def _record(self, entry, name, kind):
        if kind == "builtin" and name not in self.builtin_vars:
            self.builtin_vars[name] = max(self.builtin_vars.values(), default=-1) + 1
        if self.version < 15:
            key, var = name, Variable(name, KIND_SCOPE[kind])
        elif kind == "local":
            if name not in entry.locals:
                entry.locals.append(name)
            index = entry.locals.index(name)
            key, var = ("local", name, index), Variable(name, -7, index=index, key=("local", name, index))
        else:
            key = (kind, name)
            var = Variable(name, KIND_SCOPE[kind], index=-6 if kind == "builtin" else None, key=key)
        self.records.setdefault(key, var)
        return key

    def _branch(self, entry, base, top, args):
        block = entry.block
        if base == "popenv" and args and args[0] == "exit":
            return self._const([0xBBF00000])
        obj = 0x800000 if base == "pushenv" and "obj" in args[1:] else 0
        target = args[0]

        def build(ins):
            if target in block.labels:
                delta = block.labels[target] - ins.offset
                if delta % 4:
                    raise AsmError("%s:%d: label %r is not on a word" % (self.filename, ins.lineno, target))
                delta //= 4
            else:
                try:
                    delta = int(target, 0)
                except ValueError:
                    raise AsmError("%s:%d: unknown label %r" % (self.filename, ins.lineno, target))
            if not -(1 << 22) <= delta < (1 << 22):
                raise AsmError("%s:%d: branch of %d words does not fit" % (self.filename, ins.lineno, delta))
            return [(top << 24) | obj | (delta & 0x7FFFFF)]
        return build

    # -- ids the loading side gives names ----------------------------------------------------------------

    def script_index(self, name):
        found = [i for i, s in enumerate(self.scripts) if s is not None and s[0] == name]
        return found[-1] if found else None

    def function_table(self):
        """name -> call id: scripts (100000 + the last index of that name), script_execute 499999, the
        .function ids, and built-ins numbered from 1 in order of first call."""
        ids = {}
        used = set(v for v in self.function_ids.values() if 0 <= v < 100000)
        nxt = 1
        for name in self.calls:
            if name in self.function_ids:
                ids[name] = self.function_ids[name]
            elif self.script_index(name) is not None:
                ids[name] = 100000 + self.script_index(name)
            elif name == "script_execute":
                ids[name] = 499999
            else:
                while nxt in used:
                    nxt += 1
                ids[name] = nxt
                used.add(nxt)
        return ids

    def _shared_names(self):
        """The old format's shared table as a fresh load fills it: record names in order, once each,
        built-in variables excepted."""
        out = []
        for v in self.records.values():
            if v.name not in self.builtin_vars and v.name not in out:
                out.append(v.name)
        return out

    def _var_resolver(self):
        if self.version >= 15:
            def resolve(name, scope=None, index=None):
                if scope == -6:
                    return self.builtin_vars.get(name, -1)
                return 100000 + index
            return resolve
        shared = self._shared_names()

        def resolve_old(name, scope=None, index=None):
            if name in self.builtin_vars:
                return self.builtin_vars[name]
            return 100000 + shared.index(name) if name in shared else -1
        return resolve_old

    # -- building ----------------------------------------------------------------------------------------

    def _items(self, block):
        items = []
        for ins in block.instrs:
            got = ins.build(ins)
            if sum(8 if isinstance(i, (VarRef, FuncRef, StrIndex)) else (4 if isinstance(i, int) else len(i))
                   for i in got) != ins.size:
                raise AsmError("%s:%d: internal size mismatch" % (self.filename, ins.lineno))
            if self.version < 15:
                try:
                    got = [bc.old(i) if isinstance(i, (int, VarRef, FuncRef, StrIndex)) else i for i in got]
                except ValueError as e:
                    raise AsmError("%s:%d: no form for bytecode %d: %s" % (self.filename, ins.lineno,
                                                                          self.version, e))
            items.extend(got)
        return items

    def build(self):
        if self._built is not None:
            return self._built
        v15 = self.version >= 15
        c = Container(self.version)
        for s in self.strings:
            c.string(s)
        c.gen8(**self.header)
        names = [e.name for e in self.entries]
        for _, target in (s for s in self.scripts if s is not None):
            if target not in names:
                raise AsmError("%s: script code %r is not a code entry" % (self.filename, target))
        for g in self.glob:
            if g not in names:
                raise AsmError("%s: .glob %r is not a code entry" % (self.filename, g))
        if self.scripts:
            c.scpt([None if s is None else Script(s[0], s[1]) for s in self.scripts])
        if self.glob:
            c.glob(self.glob)
        entries = []
        for block in self.blocks:
            items = self._items(block)  # resolves every variable record
            for e in self.entries:
                if e.block is not block:
                    continue
                n = len(e.locals) if e.locals_count is None else e.locals_count
                if e is block.first:
                    entries.append(CodeEntry(e.name, items, locals=n, args=e.args))
                else:
                    entries.append(CodeEntry(e.name, share=block.first.name, block_offset=e.offset,
                                             locals=n, args=e.args))
        if v15:
            # every declared local gets a record, so the data's local count covers every slot
            for e in self.entries:
                for i, name in enumerate(e.locals):
                    key = ("local", name, i)
                    self.records.setdefault(key, Variable(name, -7, index=i, key=key))
        c.declare(list(self.records.values()))
        entries.sort(key=lambda ce: names.index(ce.name))
        c.code(entries)
        c.vari(counts=self.vari_counts)
        c.func(locals=[(e.name, list(e.locals)) for e in self.entries] if v15 else None)
        c.strg()
        self._func_ids = self.function_table()
        self._built = c.build(var_ids=self._var_resolver(), func_ids=self._func_ids)
        if self._built.expect["unresolved"] or self._built.expect["chain_errors"]:
            raise AsmError("%s: the loader model could not bind the program: %r %r" % (
                self.filename, self._built.expect["unresolved"], self._built.expect["chain_errors"]))
        return self._built

    @property
    def debug(self):
        """The ".qzdebug" file: DBGI holds one line-table offset per code entry ({word count, then code
        offset and source offset pairs}), SCPT one offset per entry of a word holding the offset of the
        entry's source text (length word before it, NUL after it); 0 where an entry has none."""
        if not any(e.src for e in self.entries):
            return None
        n = len(self.entries)
        dbgi_body = 16 + 4 + 4 * n
        tables, offsets = bytearray(), []
        for e in self.entries:
            if not e.lines:
                offsets.append(0)
                continue
            offsets.append(dbgi_body + len(tables))
            tables += struct.pack("<I", 2 * len(e.lines))
            for code_off, src_off in e.lines:
                tables += struct.pack("<ii", code_off, src_off)
        dbgi_len = 4 + 4 * n + len(tables)
        scpt_body = 16 + dbgi_len + 8
        words_at = scpt_body + 4 + 4 * n
        texts, words, refs = bytearray(), [], []
        base = words_at + 4 * n
        for i, e in enumerate(self.entries):
            if not e.src:
                refs.append(0)
                words.append(0)
                continue
            refs.append(words_at + 4 * i)
            raw = "".join(s + "\n" for s in e.src).encode("utf-8")
            words.append(base + len(texts) + 4)
            texts += struct.pack("<I", len(raw)) + raw + b"\0"
            while len(texts) % 4:
                texts.append(0)
        d = DebugFile()
        d.entries("DBGI", offsets + [bytes(tables)], count=n)
        d.entries("SCPT", refs + words + [bytes(texts)], count=n)
        d.inst([])
        return d.build()

    def names(self):
        """What the listing needs, read back from the data as the loader leaves it."""
        built = self.build()
        img = built.image
        strings = []
        strg = next(ch for ch in built.expect["chunks"] if ch["tag"] == "STRG")
        for i in range(rd_u32(img, strg["body"])):
            ref = rd_u32(img, strg["body"] + 4 + 4 * i)
            t = read_string(img, ref + 4) if ref else None
            strings.append(None if t is None else t.decode("latin-1"))
        ex = built.expect
        globals_, instances = [], []
        if self.version >= 15:
            counts = ex.get("vari_counts") or {"globals": 0, "instances": 2}
            globals_ = [None] * counts["globals"]
            instances = [None] * counts["instances"]
            for v in ex["variables"]:
                table = globals_ if v["scope"] == -5 else instances if v["scope"] == -1 else None
                if table is not None and 0 <= v["index"] < len(table):
                    table[v["index"]] = v["name"].encode("utf-8").decode("latin-1")
        locals_ = [(t["code"], [n.encode("utf-8").decode("latin-1") for n in t["names"]])
                   for t in (ex["locals"] or [])]
        return lst.Names(strings=strings, old_format=self.version < 15, shared=self._shared_names(),
                         globals=globals_, instances=instances, locals=locals_,
                         builtins={i: n for n, i in self.builtin_vars.items()},
                         functions={i: n for n, i in self._func_ids.items() if i < 100000})

    def listing(self):
        """"; code <name>" and the listing of each code entry's buffer (its whole shared block from
        version 15), in entry order. A str whose characters are the listing's bytes (latin-1)."""
        built = self.build()
        names = self.names()
        out = []
        for c in built.expect["code"]:
            code = bytes(built.image[c["bytecode"]:c["bytecode"] + c["length"]])
            out.append("; code %s\n" % c["name"])
            out.append(lst.code_listing(c["name"].encode("utf-8").decode("latin-1"), code, names))
        return "".join(out)

    def entry_code(self, name, loaded=True):
        """The bytes of a code entry's buffer (its whole block from version 15), as the loader leaves them
        (`loaded`) or as the file holds them."""
        built = self.build()
        (c,) = [c for c in built.expect["code"] if c["name"] == name]
        data = built.image if loaded else built.data
        return bytes(data[c["bytecode"]:c["bytecode"] + c["length"]])

    def tables(self):
        """Lines of tab-separated facts for a test that loads the program: "builtin <name> <id>" for each
        built-in function called, "script <name> <index>", "bvar <name> <id>", "version <n>"."""
        self.build()
        lines = ["version\t%d" % self.version]
        for name, fid in self._func_ids.items():
            if 0 <= fid < 100000:
                lines.append("builtin\t%s\t%d" % (name, fid))
        for i, s in enumerate(self.scripts):
            if s is not None:
                lines.append("script\t%s\t%d" % (s[0], i))
        for name, vid in self.builtin_vars.items():
            lines.append("bvar\t%s\t%d" % (name, vid))
        return "".join(line + "\n" for line in lines)

    def write(self, path, listing=None, tables=None):
        """Writes the game data to `path`, the debug file beside it (".qzdebug") when there is source,
        and optionally the listing and the tables; returns `path`."""
        built = self.build()
        with open(path, "wb") as f:
            f.write(built.data)
        dbg = self.debug
        if dbg is not None:
            with open(debug_path(path), "wb") as f:
                f.write(dbg.data)
        if listing:
            text = self.listing().encode("latin-1")
            if listing == "-":
                sys.stdout.buffer.write(text)
                sys.stdout.flush()
            else:
                with open(listing, "wb") as f:
                    f.write(text)
        if tables:
            with open(tables, "w") as f:
                f.write(self.tables())
        return path


def assemble(text, filename="<source>"):
    """A Program from source text (raises AsmError with file and line)."""
    return Program(text, filename)


def assemble_file(path):
    with open(path, encoding="utf-8") as f:
        return Program(f.read(), path)


def main(argv=None):
    p = argparse.ArgumentParser(prog="python3 -m formkit.asm", description=__doc__.split("\n\n")[0])
    p.add_argument("source")
    p.add_argument("-o", "--output", required=True, help="the game-data file to write")
    p.add_argument("--listing", nargs="?", const="-", help="write the listing (to standard output by default)")
    p.add_argument("--tables", help="write the names and ids a loading test needs")
    p.add_argument("--function", action="append", default=[], metavar="NAME=ID",
                   help="the call id a function name has where the program is loaded (as .function)")
    p.add_argument("--bvar", action="append", default=[], metavar="NAME=ID",
                   help="the id of a built-in variable where the program is loaded (as .bvar)")
    a = p.parse_args(argv)
    try:
        prog = assemble_file(a.source)
        for f in a.function:
            name, _, fid = f.partition("=")
            prog.function_ids[name] = number(fid, -(1 << 31), (1 << 31) - 1, "--function")
        for f in a.bvar:
            name, _, vid = f.partition("=")
            prog.builtin_vars[name] = number(vid, 0, 99999, "--bvar")
        prog.write(a.output, listing=a.listing, tables=a.tables)
    except AsmError as e:
        sys.stderr.write("asm: %s\n" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
