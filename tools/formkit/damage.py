"""Damage functions: each takes container bytes and returns damaged bytes (the input is not changed)."""

import struct

from .common import find_chunk


def set_u32(data, offset, value):
    """`data` with the u32 at `offset` replaced."""
    out = bytearray(data)
    struct.pack_into("<I", out, offset, value & 0xFFFFFFFF)
    return bytes(out)


def set_u16(data, offset, value):
    out = bytearray(data)
    struct.pack_into("<H", out, offset, value & 0xFFFF)
    return bytes(out)


def form_size_off(data, n):
    """The FORM size word changed by `n` (so it no longer equals the length - 8)."""
    return set_u32(data, 4, struct.unpack_from("<I", data, 4)[0] + n)


def set_chunk_size(data, tag, size, index=0):
    """The size word of the `index`-th chunk with `tag` set to `size`."""
    off, _ = find_chunk(data, tag, index)
    return set_u32(data, off + 4, size)


def chunk_size_past_end(data, tag, by=1, index=0):
    """The size word of a chunk set so that its body would end `by` bytes past the end of the data (the
    FORM size still matches the length)."""
    off, _ = find_chunk(data, tag, index)
    return set_u32(data, off + 4, len(data) - (off + 8) + by)


def truncate(data, length, fix_form_size=False):
    """The first `length` bytes; with `fix_form_size` the FORM size is rewritten to the new length - 8,
    so that the loader walks the chunks and meets the cut."""
    out = bytes(data[:length])
    if fix_form_size and len(out) >= 8:
        out = set_u32(out, 4, len(out) - 8)
    return out
