"""What a loader makes of a container: the model formkit computes its expectations with.

It reads the built bytes (not formkit's own bookkeeping) and applies the loader's rules:
- pass 1 walks the chunks; a header chunk (GEN7, GEN8, GENL) sets the bytecode version; VARI resolves
  each record's name and patches its occurrence chain;
- pass 2 walks them again: CODE up to version 14 rewrites old opcodes, FUNC resolves and patches its
  chains, TPAG is remembered, TXTR creates its pages and rewrites the remembered TPAG page fields.
Chunks of size 0 are skipped by both passes. A FORM whose size is not the length - 8 is not read. The
bytecode version follows the header chunks in walk order.

Chains: the chain starts at the record's first-occurrence offset; each occurrence is an instruction word
whose operand (4 bytes after it) is patched; the next occurrence lies the operand's old low bits further
on, measured from the current instruction word (variables: 29-bit signed steps up to version 14, 28-bit
from 15, and the patched operand keeps its top four bits and receives the id's low 28 bits; functions:
the whole operand is the signed step and receives the whole id).
"""

import struct

from . import header as hdr
from .bytecode import remap_walk
from .common import form_ok, chunks, rd_u32, rd_i32, rd_i16, rd_u16, signed, fits, string_text

HEADER_TAGS = (b"GEN7", b"GEN8", b"GENL")


class Simulation:
    def __init__(self, data):
        self.image = bytearray(data)
        self.expect = {
            "header": None, "variables": [], "functions": [], "locals": None, "patched": [],
            "remapped": [], "tpag": [], "pages": [], "glob": None, "unresolved": None,
            "chain_errors": [], "code_errors": [], "var_ids": {}, "func_ids": {}, "texture_ids": [],
        }


def _resolver(table, kind):
    if callable(table):
        return table
    if kind == "var":
        return lambda name, scope=None, index=None: table.get(name, -1)
    return lambda name: table.get(name, -1)


def simulate(data, var_ids, func_ids, texture_ids=None, version=0):
    """Run the model over `data`. `version` is the bytecode version in force until a header chunk sets
    it (a loader starts from 0; Container.build passes its own). Returns a Simulation with `image` (the
    patched bytes) and `expect`."""
    sim = Simulation(data)
    img = sim.image
    ex = sim.expect
    resolve_var = _resolver(var_ids, "var")
    resolve_func = _resolver(func_ids, "func")
    if not form_ok(data):
        return sim
    walk = chunks(data)
    major = 0

    # pass 1
    for tag, off, size in walk:
        body = off + 8
        if size == 0:
            continue
        if tag in HEADER_TAGS and size >= 2:
            version = img[body + 1]
            major = rd_u32(img, body + 0x2C) if size >= 0x30 else 0
            ex["header"] = hdr.read(img, body, size, version, major, tag)
            ex["header"]["tag"] = tag.decode("latin-1")
        elif tag == b"VARI":
            if not _vari(sim, body, size, version, resolve_var):
                return sim

    # pass 2 (the version as pass 1 left it)
    tpag = None
    tex = list(texture_ids) if texture_ids is not None else None
    made = 0
    for tag, off, size in walk:
        body = off + 8
        if size == 0:
            continue
        if tag in HEADER_TAGS and size >= 2:
            version = img[body + 1]
        elif tag == b"CODE":
            if version <= 14:
                _remap(sim, body, size)
        elif tag == b"FUNC":
            if not _func(sim, body, size, version, resolve_func):
                return sim
        elif tag == b"GLOB" and size >= 4:
            n = rd_u32(img, body)
            if 4 + 4 * n <= size:
                ex["glob"] = [rd_u32(img, body + 4 + 4 * i) for i in range(n)]
        elif tag == b"TPAG":
            tpag = (body, size)
        elif tag == b"TXTR":
            made = _txtr(sim, body, size, tpag, tex, made)
    return sim


def _vari(sim, body, size, version, resolve):
    img, ex = sim.image, sim.expect
    end = body + size
    pos = body
    if version >= 15:
        if size < 12:
            return True
        g, n, l = (rd_u32(img, body + 4 * i) for i in range(3))
        ex["vari_counts"] = {"globals": g, "instances": n if n != 0 else 2, "locals": l}
        pos += 12
        rec = 20
    else:
        rec = 12
    while pos + rec <= end:
        ref = rd_u32(img, pos)
        name = string_text(img, ref)
        if version >= 15:
            scope, index = rd_i32(img, pos + 4), rd_i32(img, pos + 8)
            count, first = rd_u32(img, pos + 12), rd_u32(img, pos + 16)
            passed = -6 if index == -6 else scope
            vid = resolve(name, passed, index)
        else:
            scope = index = passed = None
            count, first = rd_u32(img, pos + 4), rd_u32(img, pos + 8)
            vid = resolve(name, None, None)
        ex["var_ids"][name] = vid
        ex["variables"].append({"name": name, "record": pos, "scope": scope, "index": index,
                                "scope_passed": passed, "count": count, "first": first, "id": vid})
        if vid < 0:
            ex["unresolved"] = {"kind": "variable", "name": name}
            return False
        _chain(sim, "variable", name, vid, count, first, 28 if version >= 15 else 29)
        pos += rec
    return True


def _func(sim, body, size, version, resolve):
    img, ex = sim.image, sim.expect
    end = body + size
    pos = body
    if version >= 15:
        if size < 4:
            return True
        count = rd_u32(img, body)
        pos += 4
        limit = min(end, pos + 12 * count)
    else:
        limit = end
    while pos + 12 <= limit:
        name = string_text(img, rd_u32(img, pos))
        n, first = rd_u32(img, pos + 4), rd_u32(img, pos + 8)
        fid = resolve(name)
        ex["func_ids"][name] = fid
        ex["functions"].append({"name": name, "record": pos, "count": n, "first": first, "id": fid})
        if fid < 0:
            ex["unresolved"] = {"kind": "function", "name": name}
            return False
        _chain(sim, "function", name, fid, n, first, 32)
        pos += 12
    if version >= 15:
        ex["locals"] = _locals(img, pos, end)
    return True


def _locals(img, pos, end):
    """The local-name table at `pos`: [{"code": name, "names": [...], "slots": [...]}], or None when it
    does not fit."""
    if pos + 4 > end:
        return None
    n = rd_u32(img, pos)
    pos += 4
    out = []
    for _ in range(n):
        if pos + 8 > end:
            return None
        k, code = rd_u32(img, pos), string_text(img, rd_u32(img, pos + 4))
        pos += 8
        if pos + 8 * k > end:
            return None
        slots = [rd_u32(img, pos + 8 * i) for i in range(k)]
        names = [string_text(img, rd_u32(img, pos + 8 * i + 4)) for i in range(k)]
        pos += 8 * k
        out.append({"code": code, "names": names, "slots": slots})
    return out


def _chain(sim, kind, name, ident, count, first, bits):
    img, ex = sim.image, sim.expect
    cur = first
    for _ in range(count):
        if not fits(img, cur, 8):
            ex["chain_errors"].append({"kind": kind, "name": name, "at": cur})
            return
        old = rd_u32(img, cur + 4)
        if bits == 32:
            new = ident & 0xFFFFFFFF
            step = signed(old, 32)
        else:
            new = (old & 0xF0000000) | (ident & 0x0FFFFFFF)
            step = signed(old, bits)
        struct.pack_into("<I", img, cur + 4, new)
        ex["patched"].append({"kind": kind, "name": name, "instruction": cur, "offset": cur + 4,
                              "before": old, "after": new})
        cur += step


def _remap(sim, body, size):
    img, ex = sim.image, sim.expect
    end = body + size
    if size < 4:
        return
    n = rd_u32(img, body)
    if 4 + 4 * n > size:
        ex["code_errors"].append({"at": body, "what": "count"})
        return
    for i in range(n):
        entry = rd_u32(img, body + 4 + 4 * i)
        if not body <= entry <= end - 8:
            ex["code_errors"].append({"at": entry, "what": "entry"})
            continue
        length = rd_u32(img, entry + 4)
        start = entry + 8
        if start + length > end:
            ex["code_errors"].append({"at": entry, "what": "length"})
            continue
        code = bytes(img[start:start + length])
        for pos, before, after in remap_walk(code):
            struct.pack_into("<I", img, start + pos, after)
            ex["remapped"].append({"offset": start + pos, "before": before, "after": after})


def _txtr(sim, body, size, tpag, tex, made):
    img, ex = sim.image, sim.expect
    if size < 4:
        return made
    n = rd_u32(img, body)
    if 4 + 4 * n > size:
        return made
    ids = []
    for i in range(n):
        rec = rd_u32(img, body + 4 + 4 * i)
        if not fits(img, rec, 8):
            return made
        flags, data_off = rd_u32(img, rec), rd_u32(img, rec + 4)
        if tex is None:
            tid = ((made + 1) << 16) | (0x100 + made)
        else:
            tid = tex[made]
        made += 1
        ids.append(tid)
        ex["texture_ids"].append(tid)
        ex["pages"].append({"record": rec, "flags_bit0": flags & 1, "data_offset": data_off,
                            "data_size": len(img) - data_off if data_off else None, "id": tid})
    if tpag is None:
        return made
    tbody, tsize = tpag
    if tsize < 4:
        return made
    k = rd_u32(img, tbody)
    if 4 + 4 * k > tsize:
        return made
    for i in range(k):
        rec = rd_u32(img, tbody + 4 + 4 * i)
        if not fits(img, rec, 22):
            continue
        before = rd_i16(img, rec + 20)
        what = not 0 <= before < n
        after = before & 0xFFFF if what else ids[before] & 0xFFFF
        struct.pack_into("<H", img, rec + 20, after)
        ex["tpag"].append({"record": rec, "offset": rec + 20, "before": before & 0xFFFF, "after": after,
                           "what": what})
    return made
