"""The assembler's source syntax: tokens, numbers and the tables of operations, types and scopes."""

import re

TYPES = {"d": 0, "f": 1, "i": 2, "l": 3, "b": 4, "v": 5, "s": 6, "ds": 7, "e": 15}
TYPES.update({"t%d" % n: n for n in range(16)})

# Stack item operand bytes after a word with bit 30 set, by T1.
OPERAND = {0: 8, 1: 4, 2: 4, 3: 8, 4: 4, 5: 4, 6: 4, 7: 4}

SCOPES = {"self": -1, "other": -2, "all": -3, "noone": -4, "global": -5, "builtin": -6, "local": -7}
KIND_OF_SCOPE = {-5: "global", -7: "local"}
KIND_SCOPE = {"instance": -1, "self": -1, "global": -5, "local": -7, "builtin": -6}
COMPARE = {"lt": 1, "le": 2, "eq": 3, "ne": 4, "ge": 5, "gt": 6}
BREAKS = {"bp": 0xFFFF0000, "step": 0xFF0F0000, "chkidx": 0xFFFFFFFF}

# mnemonic -> (operation index, form, operand bit): "single" (bit 31), "two" (bits 29 and 31 clear),
# "branch" (bits 29 and 31), "break" (top byte 0xFF).
OPS = {
    "push": (0, "single", True), "pushv": (0, "single", False), "pushl": (1, "single", True),
    "pushg": (2, "single", True), "pushb": (3, "single", True), "pushi": (4, "single", False),
    "pop": (5, "two", True), "popv": (5, "two", False), "dup": (6, "single", False),
    "conv": (7, "two", False), "call": (25, "single", True), "callv": (25, "single", False),
    "ret": (28, "single", False), "exit": (29, "single", False), "popz": (30, "single", False),
    "b": (22, "branch", False), "bt": (23, "branch", False), "bf": (24, "branch", False),
    "pushenv": (26, "branch", False), "popenv": (27, "branch", False), "break": (31, "break", False),
}
for _n, _op in (("mul", 8), ("div", 9), ("rem", 10), ("mod", 11), ("add", 12), ("sub", 13), ("and", 14),
                ("or", 15), ("xor", 16), ("neg", 17), ("not", 18), ("shl", 19), ("shr", 20), ("set", 21)):
    OPS[_n] = (_op, "two", False)

VAR_RE = re.compile(r"^(?:(?P<scope>[A-Za-z]+|-?\d+)\.)?(?P<name>#-?(?:0x)?[0-9A-Fa-f]+|[A-Za-z_]\w*)"
                    r"(?P<idx>\[\])?(?:@(?P<kind>\w+))?$")


class AsmError(Exception):
    pass


class Str(bytes):
    """A quoted text token."""


def tokenize(text):
    """Tokens of one line: quoted texts (Str, with \\n \\t \\r \\0 \\\\ \\" \\xHH escapes) and blank- or
    comma-separated words; ";" outside quotes ends the line."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c in " \t,":
            i += 1
        elif c == ";":
            break
        elif c == '"':
            i += 1
            buf = bytearray()
            while True:
                if i >= n:
                    raise AsmError("unterminated text")
                c = text[i]
                if c == '"':
                    i += 1
                    break
                if c == "\\" and i + 1 < n:
                    e = text[i + 1]
                    if e == "x":
                        buf.append(int(text[i + 2:i + 4], 16))
                        i += 4
                        continue
                    buf += {"n": b"\n", "t": b"\t", "r": b"\r", "0": b"\0"}.get(e, e.encode("utf-8"))
                    i += 2
                    continue
                buf += c.encode("utf-8")
                i += 1
            out.append(Str(bytes(buf)))
        else:
            j = i
            while j < n and text[j] not in " \t,;\"":
                j += 1
            out.append(text[i:j])
            i = j
    return out


def number(tok, lo, hi, what):
    if isinstance(tok, Str):
        raise AsmError("%s: expected a number, not a text" % what)
    try:
        v = int(tok, 0)
    except ValueError:
        raise AsmError("%s: %r is not a number" % (what, tok))
    if not lo <= v <= hi:
        raise AsmError("%s: %d is outside %d ... %d" % (what, v, lo, hi))
    return v


def real(tok, what):
    try:
        return float(tok)
    except (TypeError, ValueError):
        raise AsmError("%s: %r is not a number" % (what, tok))
