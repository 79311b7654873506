"""Reading helpers shared by the writer, the expectation model and the damage functions."""

import struct


def tag_bytes(tag):
    """A chunk tag as its four bytes ("GEN8" or b"GEN8")."""
    b = tag.encode("latin-1") if isinstance(tag, str) else bytes(tag)
    if len(b) != 4:
        raise ValueError("a tag has four bytes, not %r" % (tag,))
    return b


def text_bytes(text):
    """A string-pool text as bytes (str is encoded as UTF-8)."""
    return text.encode("utf-8") if isinstance(text, str) else bytes(text)


def rd_u8(data, off):
    return data[off]


def rd_u16(data, off):
    return struct.unpack_from("<H", data, off)[0]


def rd_i16(data, off):
    return struct.unpack_from("<h", data, off)[0]


def rd_u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


def rd_i32(data, off):
    return struct.unpack_from("<i", data, off)[0]


def rd_u64(data, off):
    return struct.unpack_from("<Q", data, off)[0]


def rd_f32(data, off):
    return struct.unpack_from("<f", data, off)[0]


def signed(value, bits):
    """`value`'s low `bits` bits read as a two's-complement number."""
    value &= (1 << bits) - 1
    return value - (1 << bits) if value & (1 << (bits - 1)) else value


def fits(data, off, n):
    return 0 <= off and off + n <= len(data)


def form_ok(data):
    """True when `data` starts with "FORM" and its size word equals the length - 8."""
    return len(data) >= 8 and bytes(data[:4]) == b"FORM" and rd_u32(data, 4) == len(data) - 8


def chunks(data):
    """[(tag bytes, chunk offset, body size)] of the chunks from offset 8 on, stopping at the first
    header that does not fit or whose body runs past the end."""
    out = []
    off = 8
    while off + 8 <= len(data):
        tag = bytes(data[off:off + 4])
        size = rd_u32(data, off + 4)
        if off + 8 + size > len(data):
            break
        out.append((tag, off, size))
        off += 8 + size
    return out


def find_chunk(data, tag, index=0):
    """(chunk offset, body size) of the `index`-th chunk with `tag`, walking without bounds on the last
    body (so a damaged size is still found); raises KeyError when there is none."""
    want = tag_bytes(tag)
    off = 8
    seen = 0
    while off + 8 <= len(data):
        t = bytes(data[off:off + 4])
        size = rd_u32(data, off + 4)
        if t == want:
            if seen == index:
                return off, size
            seen += 1
        off += 8 + size
    raise KeyError("no chunk %r #%d" % (want, index))


def read_string(data, ref):
    """The text (bytes) of a string reference, or None when the reference is 0 or its length word,
    text and NUL do not lie inside `data`."""
    if ref == 0 or ref < 4 or ref > len(data):
        return None
    n = rd_u32(data, ref - 4)
    if ref + n + 1 > len(data) or data[ref + n] != 0:
        return None
    return bytes(data[ref:ref + n])


def string_text(data, ref):
    """read_string as str (UTF-8, undecodable bytes replaced), or None."""
    b = read_string(data, ref)
    return None if b is None else b.decode("utf-8", "replace")
