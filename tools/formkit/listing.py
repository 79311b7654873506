"""The bytecode listing: one line per instruction, as the runtime's disassembler prints it.

A line is "%08x : " with the offset, the instruction's bytes as "%02x" padded with blanks to column 36,
the mnemonic of the top byte with its type suffixes padded to column 46, then the operand (or a branch
target) and a line feed. The column count starts at 11, grows by 2 per byte, by the mnemonic's length,
and by 2 (one suffix) or 4 (two suffixes) whatever the suffixes' lengths.

Texts are handled as latin-1 str so that every byte of a name or string comes out unchanged.
"""

import math
import struct

NAMES = {
    5: "popv", 7: "conv", 8: "mul", 9: "div", 10: "rem", 11: "mod", 12: "add", 13: "sub", 14: "and",
    15: "or", 16: "xor", 17: "neg", 18: "not", 19: "shl", 20: "shr", 21: "set", 69: "pop", 128: "pushv",
    132: "push.i", 134: "dup", 153: "call", 217: "call", 156: "ret", 157: "exit", 158: "popz", 182: "b",
    183: "bt", 184: "bf", 186: "pushenv", 187: "popenv", 192: "push", 193: "push.l", 194: "push.g",
    195: "push.b", 255: "break",
}

SUFFIXES = {0: ".d", 1: ".f", 2: ".i", 3: ".l", 4: ".b", 5: ".v", 6: ".s", 7: ".ds", 15: ".e"}

UNKNOWN_VARIABLE = "<unknown variable>"
UNKNOWN_BUILTIN_VARIABLE = "<unknown built-in variable>"


def opcode_name(top):
    return NAMES.get(top, "unknown")


def type_suffix(t):
    return SUFFIXES.get(t, "")


def operand_size(t):
    """Operand bytes the listing steps over: 8 for .d and .l, 4 for .f .i .b .v .s, 0 otherwise. A .ds
    operand is a 4-byte index as well, so the listing counts it too (counting 0 would list the index as
    the next instruction)."""
    if t in (0, 3):
        return 8
    if t in (1, 2, 4, 5, 6, 7):
        return 4
    return 0


def c_float(x):
    """printf's "%f" of a double (glibc's spelling of infinities and NaNs)."""
    if math.isnan(x):
        return "-nan" if math.copysign(1.0, x) < 0 else "nan"
    if math.isinf(x):
        return "-inf" if x < 0 else "inf"
    return "%f" % x


class Names:
    """What the listing needs to know of the loaded game: the string table, variable and function names.

    strings      list of texts (str, latin-1) by string-table index, or None for an empty entry
    old_format   True for bytecode up to version 14: one shared variable table
    shared       the shared table (old format): names by id - 100000
    globals      new format: global names by index (None for a slot no record named)
    instances    new format: instance names by index
    locals       new format: [(code entry name, [local names in record order])]
    builtins     {id: name} of built-in variables
    functions    {id: name} of built-in functions
    code_strings texts of the debugger's table that .ds operands index
    """

    def __init__(self, strings=(), old_format=False, shared=(), globals=(), instances=(), locals=(),
                 builtins=None, functions=None, code_strings=()):
        self.strings, self.old_format, self.shared = list(strings), old_format, list(shared)
        self.globals, self.instances, self.locals = list(globals), list(instances), list(locals)
        self.builtins, self.functions = dict(builtins or {}), dict(functions or {})
        self.code_strings = list(code_strings)

    def variable(self, code_name, scope, vid):
        """The name of a variable id as seen from a code entry and a scope."""
        if vid < 100000:
            return self.builtins.get(vid, UNKNOWN_BUILTIN_VARIABLE)
        index = vid - 100000
        if self.old_format:
            table = self.shared
        elif scope == -5:
            table = self.globals
        elif scope in (-7, -12):
            table = next((names for code, names in self.locals if code == code_name), [])
        elif scope in (-9, -1, -11) or scope > 100000:
            table = self.instances
        else:
            return UNKNOWN_VARIABLE
        if 0 <= index < len(table) and table[index] is not None:
            return table[index]
        return UNKNOWN_VARIABLE


def _text(entry):
    """A C string: the text up to its first NUL."""
    return entry.split("\0", 1)[0]


def instruction(code_name, code, offset, names):
    """(line, next offset) of the instruction at `offset` of `code` (bytes)."""
    length = len(code)
    head = "%08x : " % offset
    if length - offset < 4:
        return head + "".join("%02x" % b for b in code[offset:]) + "\n", length
    w = struct.unpack_from("<I", code, offset)[0]
    t = w >> 24
    h = (w >> 16) & 0xFF
    has_operand = bool(w & 0x40000000)
    size = 4 + (operand_size(h & 0x0F) if has_operand else 0)
    complete = offset + size <= length
    shown = size if complete else length - offset
    line = head + "".join("%02x" % b for b in code[offset:offset + shown])
    column = 11 + 2 * shown
    line += " " * max(0, 36 - column)
    column = max(column, 36)
    name = opcode_name(t)
    line += name
    column += len(name)
    if t & 0xA0 == 0x80:
        line += type_suffix(h & 0x0F)
        column += 2
    elif t & 0xA0 == 0:
        line += type_suffix(h & 0x0F) + type_suffix(h >> 4)
        column += 4
    line += " " * max(0, 46 - column)
    op = offset + 4
    if not complete:
        line += "<truncated>"
    elif has_operand:
        kind = h & 0x0F
        if kind == 0:
            line += c_float(struct.unpack_from("<d", code, op)[0])
        elif kind == 1:
            line += c_float(struct.unpack_from("<f", code, op)[0])
        elif kind == 2:
            value = struct.unpack_from("<i", code, op)[0]
            fname = names.functions.get(value) if value < 100000 else None
            line += fname if t == 217 and fname is not None else "%d" % value
        elif kind == 3:
            line += "%d" % struct.unpack_from("<q", code, op)[0]
        elif kind == 4:
            line += "true" if struct.unpack_from("<I", code, op)[0] == 1 else "false"
        elif kind == 5:
            ref = struct.unpack_from("<I", code, op)[0]
            if ref & 0x20000000:
                scope = (w & 0xFFFF) - ((w & 0x8000) << 1) + (100000 if ref & 0x40000000 else 0)
                line += "$%s$" % names.variable(code_name, scope, ref & 0x0FFFFFFF)
            else:
                line += "$unknown$"
        elif kind in (6, 7):
            index = struct.unpack_from("<i", code, op)[0]
            table = names.strings if kind == 6 else names.code_strings
            if 0 <= index < len(table) and (table[index] is not None or kind == 6):
                # an empty string-table entry (offset 0) lists as an empty text
                line += '"%s"' % _text(table[index] or "")
            else:
                line += "<string %d>" % index
        elif kind == 15:
            line += "%d" % ((w & 0xFFFF) - ((w & 0x8000) << 1))
    elif w & 0x20000000:
        delta = (w & 0x7FFFFF) - ((w & 0x400000) << 1)
        line += "0x%08x" % ((offset + delta * 4) & 0xFFFFFFFF)
    return line + "\n", (offset + size if complete else length)


def code_listing(code_name, code, names):
    """Every instruction of a code buffer from offset 0 to its end."""
    out = []
    offset = 0
    while offset < len(code):
        line, offset = instruction(code_name, code, offset, names)
        out.append(line)
    return "".join(out)
