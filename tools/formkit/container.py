"""Building a game-data container: chunk plans, layout, offsets, string pool and occurrence chains."""

import json
import os
import struct
from collections import OrderedDict

from . import header as hdr
from .bytecode import VarRef, FuncRef, StrIndex, Mark, SCOPE_SELF, SCOPE_GLOBAL, SCOPE_BUILTIN, \
    SCOPE_LOCAL
from .common import tag_bytes, text_bytes, signed


class Variable:
    """A VARI record. `scope` and `index` are written from version 15 on (index defaults to the next free
    index of its scope: globals -5, instance -1 and locals -7 count separately; scope -6 gets index -6).
    `count` and `first` override the occurrence count and first-occurrence offset formkit computes.
    `key` (default: the name) is what VarRef items name the record by, so that one name can have several
    records (a local and an instance variable of the same name, say); such records are declared first."""

    def __init__(self, name, scope=SCOPE_SELF, index=None, count=None, first=None, key=None):
        self.name, self.scope, self.index, self.count, self.first = name, scope, index, count, first
        self.key = name if key is None else key


class Function:
    """A FUNC record; `count` and `first` override the computed chain head."""

    def __init__(self, name, count=None, first=None):
        self.name, self.count, self.first = name, count, first
        self.key = name


class Script:
    """A SCPT entry: the script's name and its CODE entry (an index, or an entry name looked up in CODE);
    old games without bytecode give the script's `source` text instead of an entry."""

    def __init__(self, name, code=0, source=None):
        self.name, self.code, self.source = name, code, source


class CodeEntry:
    """A CODE entry. `items` is its bytecode (see formkit.bytecode). From version 15: `locals` and `args`
    fill the counts word, `share` names an earlier entry whose bytecode blob this one uses instead of its
    own items, and `block_offset` (bytes, or the label of a Mark in the blob) is its place in the blob.
    `length` overrides the length word (default: the bytes of the items, or of the whole blob)."""

    def __init__(self, name, items=(), locals=0, args=0, share=None, block_offset=0, length=None):
        self.name, self.items, self.locals, self.args = name, list(items), locals, args
        self.share, self.block_offset, self.length = share, block_offset, length


class TexturePageEntry:
    """A 22-byte TPAG record: eleven int16 fields, the last the TXTR page index."""

    FIELDS = ("src_x", "src_y", "src_w", "src_h", "tgt_x", "tgt_y", "tgt_w", "tgt_h",
              "bound_w", "bound_h", "page")

    def __init__(self, src_x=0, src_y=0, src_w=1, src_h=1, tgt_x=0, tgt_y=0, tgt_w=None, tgt_h=None,
                 bound_w=None, bound_h=None, page=0):
        tgt_w = src_w if tgt_w is None else tgt_w
        tgt_h = src_h if tgt_h is None else tgt_h
        bound_w = tgt_w if bound_w is None else bound_w
        bound_h = tgt_h if bound_h is None else bound_h
        self.values = [src_x, src_y, src_w, src_h, tgt_x, tgt_y, tgt_w, tgt_h, bound_w, bound_h, page]

    def pack(self):
        return b"".join(struct.pack("<H", v & 0xFFFF) for v in self.values)


class Page:
    """A TXTR page: `flags` (bit 0 is passed on) and the encoded image bytes as given (None writes a data
    offset of 0)."""

    def __init__(self, data=b"", flags=0):
        self.data, self.flags = data, flags


def raw_image(width, height, pixels=None, kind=0):
    """A "RAW " image block: magic, width, height, kind, then the pixels (zeros by default; 4 bytes per
    pixel for kind 0, 2 for kind 1)."""
    if pixels is None:
        pixels = bytes(width * height * (2 if kind == 1 else 4))
    return struct.pack("<4sIII", b"RAW ", width, height, kind) + bytes(pixels)


# ---- layout ---------------------------------------------------------------------------------------

class _Ctx:
    """Labels and chain bookkeeping of one build."""

    def __init__(self, container):
        self.c = container
        self.labels = {}
        self.occ = {"var": OrderedDict(), "func": OrderedDict()}  # name -> [(instruction addr, item)]
        self.code = []          # per entry: dict for the expectations
        self.blob_len = {}
        self.blob_marks = {}

    def label(self, key, value):
        self.labels[key] = value

    def at(self, key):
        return self.labels[key]

    def str_ref(self, text):
        return 0 if text is None else self.labels[("str", text_bytes(text))]

    def step(self, kind, name, i):
        occ = self.occ[kind][name]
        item = occ[i][1]
        if item.step is not None:
            return item.step
        return occ[i + 1][0] - occ[i][0] if i + 1 < len(occ) else 0


class _Body:
    def __init__(self, start):
        self.start = start
        self.buf = bytearray()
        self.fix = []  # (pos, size, fn(ctx) -> int)

    def here(self):
        return self.start + len(self.buf)

    def raw(self, b):
        self.buf += b

    def u16(self, v):
        self.buf += struct.pack("<H", v & 0xFFFF)

    def u32(self, v):
        self.buf += struct.pack("<I", v & 0xFFFFFFFF)

    def later(self, fn, size=4):
        self.fix.append((len(self.buf), size, fn))
        self.buf += bytes(size)

    def later_at(self, pos, fn, size=4):
        self.fix.append((pos, size, fn))

    def str_ref(self, text):
        self.later(lambda ctx, t=text: ctx.str_ref(t))

    def align(self, n):
        while self.here() % n:
            self.buf.append(0)


def _fmt(size):
    return {1: "<B", 2: "<H", 4: "<I", 8: "<Q"}[size]


class _ChunkPlan:
    def __init__(self, tag, fill, extra=b"", cut=None, size=None, pad=True):
        self.tag, self.fill, self.extra, self.cut, self.size, self.pad = tag_bytes(tag), fill, extra, \
            cut, size, pad


class _Form:
    """A FORM of chunks (shared by Container and DebugFile)."""

    def __init__(self):
        self._plans = []

    def chunk(self, tag, body=b"", size=None):
        """Any chunk with raw body bytes (size 0 included). `size` overrides the size word (a size past
        the end, say); the body bytes are written as given either way."""
        body = bytes(body)
        self._plans.append(_ChunkPlan(tag, lambda b, ctx: b.raw(body), size=size, pad=False))
        return self

    def _layout(self, ctx):
        out = bytearray(b"FORM\0\0\0\0")
        chunks = []
        bodies = []
        for plan in self._plans:
            body = _Body(len(out) + 8)
            plan.fill(body, ctx)
            if plan.pad:
                body.align(4)
            body.buf += bytes(plan.extra)
            if plan.cut is not None:
                del body.buf[plan.cut:]
                body.fix = [f for f in body.fix if f[0] + f[1] <= plan.cut]
            size = len(body.buf) if plan.size is None else plan.size
            chunks.append({"tag": plan.tag.decode("latin-1"), "offset": len(out), "size": size & 0xFFFFFFFF,
                           "body": len(out) + 8, "length": len(body.buf)})
            out += plan.tag + struct.pack("<I", size & 0xFFFFFFFF)
            bodies.append((body, len(out)))
            out += body.buf
        struct.pack_into("<I", out, 4, len(out) - 8)
        return out, chunks, bodies

    @staticmethod
    def _resolve(out, bodies, ctx):
        for body, base in bodies:
            for pos, size, fn in body.fix:
                v = fn(ctx)
                struct.pack_into(_fmt(size), out, base + pos, v & ((1 << (8 * size)) - 1))


class Container(_Form):
    """A game-data container of one bytecode version. Add chunks in the order they are to appear, then
    build(). Strings named anywhere (header fields, entry names, variable and function names, pushed
    strings) go into one pool that the STRG chunk holds; when no strg() was added a STRG chunk is appended
    after the others."""

    def __init__(self, version=14):
        super().__init__()
        self.version = version
        self._strings = OrderedDict()    # text bytes -> index
        self._code = None                # list of CodeEntry
        self._vars = OrderedDict()       # key (the name by default) -> Variable (declared or met in code)
        self._funcs = OrderedDict()
        self._has = set()

    # -- strings ------------------------------------------------------------------------------------

    def string(self, text):
        """Put `text` into the pool (once) and return its index in the STRG list."""
        if text is None:
            return None
        b = text_bytes(text)
        if b not in self._strings:
            self._strings[b] = len(self._strings)
        return self._strings[b]

    def strg(self, strings=(), extra=b"", cut=None, size=None):
        """The STRG chunk: count, offsets of the length words, then each string as length word, text and
        NUL (each length word at a multiple of 4). `strings` are pooled first, in order."""
        for s in strings:
            self.string(s)
        self._has.add("STRG")

        def fill(b, ctx):
            texts = list(self._strings)
            b.u32(len(texts))
            for t in texts:
                b.later(lambda ctx, t=t: ctx.at(("strw", t)))
            for t in texts:
                b.align(4)
                ctx.label(("strw", t), b.here())
                ctx.label(("str", t), b.here() + 4)
                b.u32(len(t))
                b.raw(t + b"\0")
        self._plans.append(_ChunkPlan("STRG", fill, extra, cut, size))
        return self

    # -- header ------------------------------------------------------------------------------------

    def gen8(self, tag="GEN8", room_order=(0,), speed_block=None, reserved=bytes(hdr.RESERVED_BYTES),
             game_speed=60.0, extra=b"", cut=None, size=None, **fields):
        """The header chunk (tag GEN8, GEN7 or GENL). Fields (see formkit.header.FIELDS; defaults in
        header.DEFAULTS): flags, bytecode_version (default: the container's), unused_02, game_name,
        config_name, last_instance_id, last_tile_id, game_id, kept (16 bytes), project_name, major, minor,
        release, build; from version 8 width, height, window_flags, unused_48 (28 bytes); display_name
        (10+), unused_68 (11+), feature_flags (12+), steam_app_id (13+), unused_7c (14+). String fields take
        text or None (reference 0). The room order follows at its version's offset; the 40 `reserved`
        bytes and the float `game_speed` follow it from version 14 with major 2 or more (`speed_block`
        True/False forces them in or out). `cut` shortens the body to that many bytes."""
        unknown = set(fields) - set(hdr.DEFAULTS)
        if unknown:
            raise TypeError("unknown header fields: %s" % ", ".join(sorted(unknown)))
        values = dict(hdr.DEFAULTS)
        values.update(fields)
        if values["bytecode_version"] is None:
            values["bytecode_version"] = self.version
        version = values["bytecode_version"] & 0xFF
        if speed_block is None:
            speed_block = hdr.has_speed(version, values["major"])
        hsize, writes, overlaps = hdr.plan(version, values, list(room_order), speed_block, reserved,
                                           game_speed)
        for off, kind, value, name in writes:
            if kind == "str":
                self.string(value)
        self._overlaps = overlaps

        def fill(b, ctx):
            start = len(b.buf)
            b.raw(bytes(hsize))
            for off, kind, value, name in writes:
                if kind == "str":
                    b.later_at(start + off, lambda ctx, v=value: ctx.str_ref(v))
                else:
                    packed = hdr.pack_value(kind, value)
                    b.buf[start + off:start + off + len(packed)] = packed
        self._plans.append(_ChunkPlan(tag, fill, extra, cut, size))
        return self

    # -- code --------------------------------------------------------------------------------------

    def code(self, entries, blobs_first=True, extra=b"", cut=None, size=None):
        """The CODE chunk: count, offsets, entries. Up to version 14 an entry is {name, length, bytecode};
        from 15 it is {name, length, locals | args << 16, offset of the bytecode relative to this field,
        block offset}, the bytecode living in blobs placed before the entries (`blobs_first`, giving
        negative relative offsets) or after them."""
        if self._code is not None:
            raise ValueError("one CODE chunk per container; add others with chunk()")
        entries = [e if isinstance(e, CodeEntry) else CodeEntry(*e) for e in entries]
        self._code = entries
        names = [e.name for e in entries]
        for e in entries:
            self.string(e.name)
            if e.share is not None:
                if self.version < 15:
                    raise ValueError("shared bytecode needs version 15 or more")
                if e.share not in names[:names.index(e.name)]:
                    raise ValueError("entry %r shares %r, which is not an earlier entry" % (e.name, e.share))
            for item in e.items:
                self._note_item(item)
        self._has.add("CODE")
        self._plans.append(_ChunkPlan("CODE", self._fill_code(entries, blobs_first), extra, cut, size))
        return self

    def _note_item(self, item):
        if isinstance(item, VarRef):
            if item.name not in self._vars:
                if not isinstance(item.name, str):
                    raise ValueError("variable key %r was not declared" % (item.name,))
                scope = signed(item.word, 16)
                if scope not in (SCOPE_SELF, SCOPE_GLOBAL, SCOPE_BUILTIN, SCOPE_LOCAL):
                    scope = SCOPE_SELF
                self._vars[item.name] = Variable(item.name, scope)
            self.string(self._vars[item.name].name)
        elif isinstance(item, FuncRef):
            if item.name not in self._funcs:
                self._funcs[item.name] = Function(item.name)
            self.string(item.name)
        elif isinstance(item, StrIndex):
            self.string(item.text)
        elif not isinstance(item, (int, bytes, bytearray, Mark)):
            raise TypeError("not a code item: %r" % (item,))

    def _emit(self, b, ctx, items, blob):
        start = len(b.buf)
        for item in items:
            if isinstance(item, int):
                b.u32(item)
            elif isinstance(item, (bytes, bytearray)):
                b.raw(item)
            elif isinstance(item, Mark):
                ctx.blob_marks[(blob, item.label)] = len(b.buf) - start
            elif isinstance(item, StrIndex):
                b.u32(item.word)
                b.u32(self._strings[text_bytes(item.text)])
            else:
                kind = "var" if isinstance(item, VarRef) else "func"
                occ = ctx.occ[kind].setdefault(item.name, [])
                i = len(occ)
                occ.append((b.here(), item))
                b.u32(item.word)
                b.later(lambda ctx, k=kind, n=item.name, i=i: self._operand(ctx, k, n, i))
        return len(b.buf) - start

    def _operand(self, ctx, kind, name, i):
        step = ctx.step(kind, name, i)
        if kind == "func":
            if not -(1 << 31) <= step < (1 << 32):
                raise ValueError("function chain step %d does not fit" % step)
            return step & 0xFFFFFFFF
        bits = 28 if self.version >= 15 else 29
        low = (1 << bits) - 1
        if not -(1 << (bits - 1)) <= step < (1 << (bits - 1)):
            raise ValueError("variable chain step %d does not fit in %d bits" % (step, bits))
        item = ctx.occ[kind][name][i][1]
        return (item.flags & ~low & 0xFFFFFFFF) | (step & low)

    def _fill_code(self, entries, blobs_first):
        def fill(b, ctx):
            b.u32(len(entries))
            for i in range(len(entries)):
                b.later(lambda ctx, i=i: ctx.at(("code", i)))
            if self.version < 15:
                for i, e in enumerate(entries):
                    b.align(4)
                    ctx.label(("code", i), b.here())
                    b.str_ref(e.name)
                    pos = len(b.buf)
                    b.u32(0)
                    n = self._emit(b, ctx, e.items, i)
                    struct.pack_into("<I", b.buf, pos, (n if e.length is None else e.length) & 0xFFFFFFFF)
                    ctx.code.append({"name": e.name, "index": i, "entry": ctx.labels[("code", i)],
                                     "length": n if e.length is None else e.length,
                                     "bytecode": ctx.labels[("code", i)] + 8, "bytes": n})
                return
            names = [e.name for e in entries]
            blob_of = []
            for i, e in enumerate(entries):
                blob_of.append(blob_of[names.index(e.share)] if e.share is not None else i)

            def blobs():
                for i, e in enumerate(entries):
                    if e.share is None:
                        b.align(4)
                        ctx.label(("blob", i), b.here())
                        ctx.blob_len[i] = self._emit(b, ctx, e.items, i)

            def records():
                for i, e in enumerate(entries):
                    j = blob_of[i]
                    b.align(4)
                    ctx.label(("code", i), b.here())
                    b.str_ref(e.name)
                    b.later(lambda ctx, e=e, j=j: ctx.blob_len[j] if e.length is None else e.length)
                    b.u32((e.locals & 0xFFFF) | ((e.args & 0xFFFF) << 16))
                    field = b.here()
                    b.later(lambda ctx, j=j, f=field: ctx.at(("blob", j)) - f)
                    b.later(lambda ctx, e=e, j=j: self._block_offset(ctx, e, j))
                    ctx.code.append({"name": e.name, "index": i, "entry": ctx.labels[("code", i)],
                                     "blob": j, "locals": e.locals, "args": e.args,
                                     "_entry": e})

            if blobs_first:
                blobs()
                records()
            else:
                records()
                blobs()
        return fill

    @staticmethod
    def _block_offset(ctx, e, j):
        if isinstance(e.block_offset, str):
            return ctx.blob_marks[(j, e.block_offset)]
        return e.block_offset

    # -- variables and functions --------------------------------------------------------------------

    def declare(self, variables=()):
        """Registers VARI records (Variable or name) before the code that refers to them, without adding
        a chunk; records keep the order of declaration."""
        for v in variables:
            v = v if isinstance(v, Variable) else Variable(v)
            self._vars[v.key] = v
            self.string(v.name)
        return self

    def vari(self, variables=(), counts=None, extra=b"", cut=None, size=None):
        """The VARI chunk. Records: the `variables` given (Variable or name), then every other name the
        code refers to, in order of first use. Up to version 14: 12-byte records {name, occurrence count,
        first occurrence}; from 15: a header of three counts (globals, instance variables, locals;
        `counts` overrides the ones formkit counts from the records' scopes) and 20-byte records {name,
        scope, index, count, first}. Call after code() so every referenced name is known, or declare the
        names here."""
        declared = []
        for v in variables:
            v = v if isinstance(v, Variable) else Variable(v)
            self._vars[v.key] = v
            declared.append(v.key)
            self.string(v.name)
        self._has.add("VARI")

        def fill(b, ctx):
            recs = self._records(self._vars, declared)
            if self.version >= 15:
                idx = self._var_indexes(recs)
                if counts is not None:
                    g, n, l = counts
                else:
                    g = sum(1 for v in recs if v.scope == SCOPE_GLOBAL)
                    n = sum(1 for v in recs if v.scope == SCOPE_SELF)
                    l = sum(1 for v in recs if v.scope == SCOPE_LOCAL)
                b.u32(g)
                b.u32(n)
                b.u32(l)
            for v in recs:
                b.str_ref(v.name)
                if self.version >= 15:
                    b.u32(v.scope)
                    b.u32(idx[v.key])
                b.later(lambda ctx, v=v: self._chain_count(ctx, "var", v))
                b.later(lambda ctx, v=v: self._chain_first(ctx, "var", v))
        self._plans.append(_ChunkPlan("VARI", fill, extra, cut, size))
        return self

    @staticmethod
    def _records(table, declared):
        return [table[n] for n in declared] + [r for n, r in table.items() if n not in declared]

    @staticmethod
    def _var_indexes(recs):
        next_index = {}
        out = {}
        for v in recs:
            if v.index is not None:
                out[v.key] = v.index
            elif v.scope == SCOPE_BUILTIN:
                out[v.key] = -6
            else:
                out[v.key] = next_index.get(v.scope, 0)
                next_index[v.scope] = out[v.key] + 1
        return out

    def func(self, functions=(), locals=None, extra=b"", cut=None, size=None):
        """The FUNC chunk. Records: the `functions` given (Function or name), then every other name the
        code calls. Up to version 14: 12-byte records {name, count, first}; from 15: a count, the records,
        then the local-variable name table built from `locals`: a dict or list of (code entry name,
        [local names]) where a local is a name or a (slot index, name) pair (slot = position otherwise)."""
        declared = []
        for f in functions:
            f = f if isinstance(f, Function) else Function(f)
            self._funcs[f.name] = f
            declared.append(f.name)
            self.string(f.name)
        table = list(locals.items()) if isinstance(locals, dict) else list(locals or [])
        table = [(code, [(i, n) if not isinstance(n, tuple) else n for i, n in enumerate(names)])
                 for code, names in table]
        if table and self.version < 15:
            raise ValueError("the local-name table needs version 15 or more")
        for code, names in table:
            self.string(code)
            for _, n in names:
                self.string(n)
        self._has.add("FUNC")

        def fill(b, ctx):
            recs = self._records(self._funcs, declared)
            if self.version >= 15:
                b.u32(len(recs))
            for f in recs:
                b.str_ref(f.name)
                b.later(lambda ctx, f=f: self._chain_count(ctx, "func", f))
                b.later(lambda ctx, f=f: self._chain_first(ctx, "func", f))
            if self.version >= 15:
                b.u32(len(table))
                for code, names in table:
                    b.u32(len(names))
                    b.str_ref(code)
                    for slot, n in names:
                        b.u32(slot)
                        b.str_ref(n)
        self._plans.append(_ChunkPlan("FUNC", fill, extra, cut, size))
        return self

    @staticmethod
    def _chain_count(ctx, kind, rec):
        return len(ctx.occ[kind].get(rec.key, ())) if rec.count is None else rec.count

    @staticmethod
    def _chain_first(ctx, kind, rec):
        if rec.first is not None:
            return rec.first
        occ = ctx.occ[kind].get(rec.key)
        return occ[0][0] if occ else 0

    # -- other structured chunks --------------------------------------------------------------------

    def glob(self, entries, extra=b"", cut=None, size=None):
        """The GLOB chunk: a count and code-entry indexes (ints, or entry names looked up in CODE)."""
        entries = list(entries)

        def fill(b, ctx):
            names = [e.name for e in (self._code or [])]
            b.u32(len(entries))
            for e in entries:
                b.u32(names.index(e) if isinstance(e, str) else e)
        self._plans.append(_ChunkPlan("GLOB", fill, extra, cut, size))
        return self

    def scpt(self, scripts, extra=b"", cut=None, size=None):
        """The SCPT chunk: a count, that many offsets, then the 8-byte entries {name, code entry index or
        source text}. `scripts` holds Script records, (name, code) pairs, or None for an empty slot
        (offset 0)."""
        scripts = [s if s is None or isinstance(s, Script) else Script(*s) for s in scripts]
        for s in scripts:
            if s is not None:
                self.string(s.name)
                if s.source is not None:
                    self.string(s.source)

        def fill(b, ctx):
            names = [e.name for e in (self._code or [])]
            b.u32(len(scripts))
            for i, s in enumerate(scripts):
                b.later(lambda ctx, i=i, s=s: 0 if s is None else ctx.at(("scpt", i)))
            for i, s in enumerate(scripts):
                if s is None:
                    continue
                ctx.label(("scpt", i), b.here())
                b.str_ref(s.name)
                if s.source is not None:
                    b.str_ref(s.source)
                else:
                    b.u32(names.index(s.code) if isinstance(s.code, str) else s.code)
        self._plans.append(_ChunkPlan("SCPT", fill, extra, cut, size))
        return self

    def tpag(self, entries, align=4, extra=b"", cut=None, size=None):
        """The TPAG chunk: count, offsets, then the 22-byte records, each starting at a multiple of
        `align` (2 packs them back to back)."""
        entries = [e if isinstance(e, TexturePageEntry) else TexturePageEntry(*e) for e in entries]

        def fill(b, ctx):
            b.u32(len(entries))
            for i in range(len(entries)):
                b.later(lambda ctx, i=i: ctx.at(("tpag", i)))
            for i, e in enumerate(entries):
                b.align(align)
                ctx.label(("tpag", i), b.here())
                b.raw(e.pack())
        self._plans.append(_ChunkPlan("TPAG", fill, extra, cut, size))
        return self

    def txtr(self, pages, align=128, extra=b"", cut=None, size=None):
        """The TXTR chunk: count, offsets of {flags, data offset} records, then each page's bytes as given
        at an (absolute) multiple of `align`."""
        pages = [p if isinstance(p, Page) else Page(p) for p in pages]

        def fill(b, ctx):
            b.u32(len(pages))
            for i in range(len(pages)):
                b.later(lambda ctx, i=i: ctx.at(("txtr", i)))
            for i, p in enumerate(pages):
                ctx.label(("txtr", i), b.here())
                b.u32(p.flags)
                b.later(lambda ctx, i=i, p=p: 0 if p.data is None else ctx.at(("page", i)))
            for i, p in enumerate(pages):
                if p.data is not None:
                    b.align(align)
                    ctx.label(("page", i), b.here())
                    b.raw(bytes(p.data))
        self._plans.append(_ChunkPlan("TXTR", fill, extra, cut, size))
        return self

    # -- build ---------------------------------------------------------------------------------------

    def build(self, var_ids=None, func_ids=None, texture_ids=None):
        """Lay the container out and compute what a loader must make of it. `var_ids` and `func_ids` are
        the name -> id tables a test installs in its resolvers (dicts, or callables (name, scope, index)
        and (name)); by default variables get 100000 + record number and functions 1000 + record number.
        `texture_ids` are the ids the page-creation stand-in returns, in order. Returns a Built."""
        if self._vars and "VARI" not in self._has:
            raise ValueError("the code refers to variables but no VARI chunk was added")
        if self._funcs and "FUNC" not in self._has:
            raise ValueError("the code calls functions but no FUNC chunk was added")
        if self._strings and "STRG" not in self._has:
            self.strg()
        ctx = _Ctx(self)
        out, chunks, bodies = self._layout(ctx)
        self._resolve(out, bodies, ctx)
        data = bytes(out)

        if var_ids is None:
            var_ids = {v.name: 100000 + i for i, v in enumerate(self._vars.values())}
        if func_ids is None:
            func_ids = {name: 1000 + i for i, name in enumerate(self._funcs)}
        from .expect import simulate
        sim = simulate(data, var_ids, func_ids, texture_ids, self.version)

        code = []
        for c in ctx.code:
            c = dict(c)
            e = c.pop("_entry", None)
            if e is not None:
                j = c["blob"]
                c["bytecode"] = ctx.labels[("blob", j)]
                c["length"] = ctx.blob_len[j] if e.length is None else e.length
                c["bytes"] = ctx.blob_len[j]
                c["block_offset"] = self._block_offset(ctx, e, j)
            code.append(c)
        strings = [{"index": i, "text": t.decode("utf-8", "replace"), "offset": ctx.labels[("str", t)],
                    "length_word": ctx.labels[("strw", t)]} for t, i in self._strings.items()
                   if ("str", t) in ctx.labels]
        occurrences = {kind: {(name if isinstance(name, str) else repr(name)): [a for a, _ in occ]
                              for name, occ in table.items()}
                       for kind, table in ctx.occ.items()}
        expect = {
            "version": self.version, "length": len(data), "form_size": len(data) - 8,
            "chunks": chunks, "strings": strings, "code": code, "occurrences": occurrences,
            "header_overlaps": getattr(self, "_overlaps", []),
        }
        expect.update(sim.expect)
        return Built(data, expect, sim.image)


class Built:
    """A built container: `data` (the file's bytes), `expect` (the JSON-ready expectations) and `image`
    (the data as a loader leaves it after both passes: chains patched, old opcodes rewritten, TPAG page
    fields replaced)."""

    def __init__(self, data, expect, image):
        self.data, self.expect, self.image = data, expect, image

    def json(self):
        return json.dumps(self.expect, indent=1, sort_keys=True)

    def write(self, folder, stem="game", suffix=".win", image=False):
        """Write the file <stem><suffix> into `folder` and beside it <stem><suffix>.json (the
        expectations) and, with `image`, <stem><suffix>.image (the patched data); returns the file's
        path."""
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, stem + suffix)
        with open(path, "wb") as f:
            f.write(self.data)
        with open(path + ".json", "w") as f:
            f.write(self.json())
        if image:
            with open(path + ".image", "wb") as f:
                f.write(self.image)
        return path


class DebugFile(_Form):
    """The debug-information file (".qzdebug"): a FORM whose DBGI, SCPT and INST chunks each hold a
    count followed by entries."""

    def entries(self, tag, entries=(), count=None, extra=b""):
        """A chunk of `count` (default: the number of entries) followed by the entries: ints are written
        as u32 words, bytes as given."""
        entries = list(entries)
        body = bytearray(struct.pack("<I", (len(entries) if count is None else count) & 0xFFFFFFFF))
        for e in entries:
            body += struct.pack("<I", e & 0xFFFFFFFF) if isinstance(e, int) else bytes(e)
        return self.chunk(tag, bytes(body) + bytes(extra))

    def dbgi(self, entries=(), count=None):
        return self.entries("DBGI", entries, count)

    def scpt(self, entries=(), count=None):
        return self.entries("SCPT", entries, count)

    def inst(self, entries=(), count=None):
        return self.entries("INST", entries, count)

    def build(self):
        """Returns a Built whose expectations list each chunk with the offset of its entries (body + 4)
        and its count."""
        ctx = _Ctx(self)
        out, chunks, bodies = self._layout(ctx)
        self._resolve(out, bodies, ctx)
        data = bytes(out)
        for c in chunks:
            c["entries"] = c["body"] + 4
            c["count"] = struct.unpack_from("<I", data, c["body"])[0] if c["length"] >= 4 else None
        return Built(data, {"length": len(data), "form_size": len(data) - 8, "chunks": chunks}, data)


def debug_path(game_path):
    """Where the loader looks for the debug file of a game file: everything from the last "." replaced
    by ".qzdebug"."""
    dot = game_path.rfind(".")
    return (game_path[:dot] if dot >= 0 else game_path) + ".qzdebug"
