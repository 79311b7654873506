"""Instruction words: building them, the old opcode numbering and the remap the loader applies to it.

An instruction word is a little-endian u32:

    bits 24-28  operation 0..31          bit 29  branch form (bits 0-22: signed word offset)
    bit 30      an operand follows       bit 31  single-type form (when bit 29 is clear)
    bits 16-19  T1                       bits 20-23  T2
    bits 8-15   sub-operation (compare kind of "set")
    bits 0-15   signed scope, immediate or argument count

The helpers below take the whole top byte (bits 24-31) the way a disassembly prints it: 0xC0 "push",
0x45 "pop", 0xD9 "call", 0xB6 "b", 0x84 "push.i", 0xFF "break".
"""

import struct

# Type codes (bits 16-19 and 20-23).
TYPE_D, TYPE_F, TYPE_I, TYPE_L, TYPE_B, TYPE_V, TYPE_S, TYPE_DS = 0, 1, 2, 3, 4, 5, 6, 7
TYPE_E = 15

# Operation index (bits 24-28) of the current numbering.
OPS = {
    "push": 0, "push.l": 1, "push.g": 2, "push.b": 3, "push.i": 4, "pop": 5, "dup": 6, "conv": 7,
    "mul": 8, "div": 9, "rem": 10, "mod": 11, "add": 12, "sub": 13, "and": 14, "or": 15, "xor": 16,
    "neg": 17, "not": 18, "shl": 19, "shr": 20, "set": 21, "b": 22, "bt": 23, "bf": 24, "call": 25,
    "pushenv": 26, "popenv": 27, "ret": 28, "exit": 29, "popz": 30, "break": 31,
}

# Old operation number -> current one (index = old number). Old 17-22 are the six comparisons, which
# became one "set" (21) carrying the kind in bits 8-15; no old number maps to 30.
OLD_TO_NEW = (0, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
              21, 21, 21, 21, 21, 21,
              22, 23, 24, 25, 26, 27, 28, 29, 31)
assert len(OLD_TO_NEW) == 32

OP_SET = 21

# Variable-reference operand flags (the 4-byte operand of ".v" push and pop).
VAR_CONFIG_LOSS = 1 << 28     # pop with the object model: value loses its configurable flag
VAR_SCOPE_IN_WORD = 1 << 29   # scope is bits 0-15 of the instruction word
VAR_ID_OFFSET = 1 << 30       # add 100000 to the scope
VAR_PLAIN = 1 << 31           # plain variable (clear: array element)
VAR_DEFAULT = VAR_PLAIN | VAR_SCOPE_IN_WORD

# Instance scopes used in bits 0-15 of push/pop words.
SCOPE_SELF = -1
SCOPE_GLOBAL = -5
SCOPE_BUILTIN = -6
SCOPE_LOCAL = -7


def disasm_operand_size(t):
    """Operand bytes after a word with bit 30 set, as the remap walk counts them: 8 for types 0 and 3,
    4 for 1, 2, 4, 5, 6, else 0 (type 7 included)."""
    if t in (0, 3):
        return 8
    if t in (1, 2, 4, 5, 6):
        return 4
    return 0


def vm_operand_size(t):
    """Operand bytes as the interpreter counts them (type 7 has 4 here, unlike disasm_operand_size)."""
    if t in (0, 3):
        return 8
    if 1 <= t <= 7:
        return 4
    return 0


def word(top, t1=0, t2=0, low=0):
    """An instruction word from its top byte, T1, T2 and the low 16 bits (masked; negative scopes fine)."""
    return ((top & 0xFF) << 24) | ((t2 & 0xF) << 20) | ((t1 & 0xF) << 16) | (low & 0xFFFF)


def set_kind(w, kind):
    """`w` with bits 8-15 replaced by `kind` (the compare kind of "set")."""
    return (w & ~0xFF00 & 0xFFFFFFFF) | ((kind & 0xFF) << 8)


def branch(top, offset_words):
    """A branch-form word (b 0xB6, bt 0xB7, bf 0xB8, pushenv 0xBA, popenv 0xBB) with a signed
    23-bit word offset."""
    return ((top & 0xFF) << 24) | (offset_words & 0x7FFFFF)


def u32(value):
    """Four little-endian bytes of a 32-bit value (signed or unsigned)."""
    return struct.pack("<I", value & 0xFFFFFFFF)


def remap_word(w):
    """The loader's rewrite of one old-numbering instruction word: the low five bits of the top byte go
    through OLD_TO_NEW, the top three bits stay; a word that becomes "set" (21) gets the old top byte
    minus 16 in bits 8-15."""
    top = (w >> 24) & 0xFF
    new_op = OLD_TO_NEW[top & 0x1F]
    out = (w & 0x00FFFFFF) | (((top & 0xE0) | new_op) << 24)
    if new_op == OP_SET:
        out = set_kind(out, (top - 16) & 0xFF)
    return out


def remap_walk(code):
    """Walk old-numbering bytecode the way the loader does and return [(position, before, after)] for
    every word it rewrites. A word with bit 30 set skips disasm_operand_size(T1) operand bytes; the walk
    ends when the next word would not fit in `code`."""
    out = []
    pos = 0
    n = len(code)
    while pos + 4 <= n:
        w = struct.unpack_from("<I", code, pos)[0]
        out.append((pos, w, remap_word(w)))
        pos += 4
        if (w >> 24) & 0x40:
            pos += disasm_operand_size((w >> 16) & 0xF)
    return out


def remap_bytes(code):
    """`code` after the loader's old-opcode rewrite (a new bytes object)."""
    buf = bytearray(code)
    for pos, _, after in remap_walk(code):
        struct.pack_into("<I", buf, pos, after)
    return bytes(buf)


_NEW_TO_OLD = {}
for _old, _new in enumerate(OLD_TO_NEW):
    if _new != OP_SET:
        _NEW_TO_OLD[_new] = _old


def old_word(w):
    """The old-numbering form of a current-numbering instruction word, so that remap_word gives `w`
    back. "set" takes its kind (1-6) from bits 8-15 and becomes old 16 + kind with bits 8-15 cleared;
    push.l, push.g, push.b, push.i and popz (1-4, 30) have no old number (ValueError)."""
    top = (w >> 24) & 0xFF
    op = top & 0x1F
    if op == OP_SET:
        kind = (w >> 8) & 0xFF
        if not 1 <= kind <= 6:
            raise ValueError("set word 0x%08X has compare kind %d, not 1-6" % (w, kind))
        if top & 0xE0:
            # the remap takes the kind from the whole old top byte, so form bits would leak into it
            raise ValueError("set word 0x%08X has form bits in its top byte" % w)
        return (w & 0x00FF00FF) | (((top & 0xE0) | (16 + kind)) << 24)
    if op not in _NEW_TO_OLD:
        raise ValueError("operation %d of word 0x%08X has no old number" % (op, w))
    return (w & 0x00FFFFFF) | (((top & 0xE0) | _NEW_TO_OLD[op]) << 24)


# ---- code items -------------------------------------------------------------------------------
# Bytecode is given to Container.code as a list of items:
#   int           one instruction (or any) word, written as a little-endian u32
#   bytes         raw bytes (an instruction with its literal operand, padding, anything)
#   VarRef        an instruction word followed by a variable-reference operand that links it into the
#                 occurrence chain of a variable name
#   FuncRef       an instruction word followed by an operand that links it into a function's chain
#   StrIndex      an instruction word followed by the string-pool index of a text
#   Mark          no bytes; names the position (for a version-15 entry's block offset)

class VarRef:
    """Instruction `word` + 4-byte variable reference to `name`. The operand is written as the top bits
    of `flags` (bits 29-31 up to version 14, 28-31 from 15) over the chain step to the next occurrence
    of the same name. `step` overrides that step (the last occurrence's step is 0 otherwise)."""

    def __init__(self, word, name, flags=VAR_DEFAULT, step=None):
        self.word, self.name, self.flags, self.step = word & 0xFFFFFFFF, name, flags, step

    def with_word(self, w):
        return VarRef(w, self.name, self.flags, self.step)

    def __repr__(self):
        return "VarRef(0x%08X, %r)" % (self.word, self.name)


class FuncRef:
    """Instruction `word` + 4-byte operand linking it into the chain of function `name`; the whole
    operand is the step to the next occurrence (`step` overrides it; 0 for the last)."""

    def __init__(self, word, name, step=None):
        self.word, self.name, self.step = word & 0xFFFFFFFF, name, step

    def with_word(self, w):
        return FuncRef(w, self.name, self.step)

    def __repr__(self):
        return "FuncRef(0x%08X, %r)" % (self.word, self.name)


class StrIndex:
    """Instruction `word` + the u32 index of `text` in the string pool (the STRG list)."""

    def __init__(self, word, text):
        self.word, self.text = word & 0xFFFFFFFF, text

    def with_word(self, w):
        return StrIndex(w, self.text)


class Mark:
    """A named position inside a code entry's bytes (no bytes of its own)."""

    def __init__(self, label):
        self.label = label


def push_var(name, scope=SCOPE_SELF, flags=VAR_DEFAULT, top=0xC0):
    """push.v of a variable (top 0xC1 push.l, 0xC2 push.g, 0xC3 push.b for the other pushes)."""
    return VarRef(word(top, TYPE_V, 0, scope), name, flags)


def pop_var(name, scope=SCOPE_SELF, flags=VAR_DEFAULT, t2=TYPE_V):
    """pop.v.<t2> into a variable."""
    return VarRef(word(0x45, TYPE_V, t2, scope), name, flags)


def call(name, argc=0):
    """call.i of a function with `argc` arguments."""
    return FuncRef(word(0xD9, TYPE_I, 0, argc), name)


def push_string(text):
    """push.s of a pooled string."""
    return StrIndex(word(0xC0, TYPE_S), text)


def push_int32(value):
    """push.i with a 4-byte operand."""
    return u32(word(0xC0, TYPE_I)) + u32(value)


def push_double(value):
    """push.d with an 8-byte operand."""
    return u32(word(0xC0, TYPE_D)) + struct.pack("<d", value)


def compare(kind, t1=TYPE_V, t2=TYPE_V):
    """set (compare) of the given kind 1-6."""
    return set_kind(word(0x15, t1, t2), kind)


def popz(t=TYPE_V):
    return word(0x9E, t)


def ret(t=TYPE_V):
    return word(0x9C, t)


def exit_():
    return word(0x9D, TYPE_I)


def old(item):
    """The old-numbering form of an item (see old_word); bytes and Marks are returned unchanged, a
    list is converted item by item."""
    if isinstance(item, list):
        return [old(i) for i in item]
    if isinstance(item, int):
        return old_word(item)
    if isinstance(item, (VarRef, FuncRef, StrIndex)):
        return item.with_word(old_word(item.word))
    return item
