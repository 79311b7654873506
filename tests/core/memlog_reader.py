"""Reader of the block log that "-memlog <file>" writes.

Every record: 4-byte ASCII tag, u32 little-endian payload length, payload. Payload numbers are 32-bit
little-endian. An address field is two u32 words, the high half first.

    ALLC  address, size field (u32 size, u32 0), i32 context name id, u32 depth N, N x {code name id, line} (-1: none)
    REAL  new address, old address, then as ALLC after its address
    FREE  address (payload length 8)
    NAME  the name's bytes; the n-th NAME record of the file defines id n
    EVNT  event text, at most 511 bytes
"""

import struct
from dataclasses import dataclass, field


class MemLogError(Exception):
    pass


@dataclass
class Record:
    tag: str
    offset: int                     # of the record in the file
    address: int = 0
    old_address: int = 0            # REAL only
    size: int = 0
    context: int = -1               # name id, -1 for none
    sites: list = field(default_factory=list)   # [(code name id, line)], innermost first
    text: bytes = b""               # NAME and EVNT


def _address(payload, at):
    high, low = struct.unpack_from("<II", payload, at)
    return (high << 32) | low


def _allocation(rec, payload, at):
    if len(payload) < at + 16:
        raise MemLogError(f"{rec.tag} at {rec.offset}: payload of {len(payload)} bytes is too short")
    rec.size, size_high, rec.context, depth = struct.unpack_from("<IIiI", payload, at)
    if size_high != 0:
        raise MemLogError(f"{rec.tag} at {rec.offset}: size field's second word is {size_high}")
    at += 16
    if len(payload) != at + 8 * depth:
        raise MemLogError(f"{rec.tag} at {rec.offset}: depth {depth} does not match payload length {len(payload)}")
    rec.sites = [struct.unpack_from("<ii", payload, at + 8 * i) for i in range(depth)]


def parse(data):
    """Every record of the file, in order; raises MemLogError on the first malformed one."""
    records = []
    at = 0
    while at < len(data):
        if len(data) - at < 8:
            raise MemLogError(f"truncated record header at {at}")
        tag_bytes, length = struct.unpack_from("<4sI", data, at)
        try:
            tag = tag_bytes.decode("ascii")
        except UnicodeDecodeError:
            raise MemLogError(f"tag {tag_bytes!r} at {at}") from None
        payload = data[at + 8: at + 8 + length]
        if len(payload) != length:
            raise MemLogError(f"{tag} at {at}: payload runs past the end of the file")
        rec = Record(tag, at)
        if tag == "ALLC":
            if length < 8:
                raise MemLogError(f"ALLC at {at}: no address")
            rec.address = _address(payload, 0)
            _allocation(rec, payload, 8)
        elif tag == "REAL":
            if length < 16:
                raise MemLogError(f"REAL at {at}: no addresses")
            rec.address = _address(payload, 0)
            rec.old_address = _address(payload, 8)
            _allocation(rec, payload, 16)
        elif tag == "FREE":
            if length != 8:
                raise MemLogError(f"FREE at {at}: payload length {length}")
            rec.address = _address(payload, 0)
        elif tag == "NAME":
            rec.text = payload
        elif tag == "EVNT":
            if length > 511:
                raise MemLogError(f"EVNT at {at}: {length} bytes")
            rec.text = payload
        else:
            raise MemLogError(f"unknown tag {tag!r} at {at}")
        records.append(rec)
        at += 8 + length
    return records


def read(path):
    with open(path, "rb") as f:
        return parse(f.read())


def check_names(records):
    """The names by id; raises MemLogError when an id is used before its NAME record."""
    names = []
    for rec in records:
        if rec.tag == "NAME":
            names.append(rec.text.decode("utf-8", "replace"))
        elif rec.tag in ("ALLC", "REAL"):
            ids = [rec.context] + [site[0] for site in rec.sites]
            for name_id in ids:
                if name_id != -1 and not 0 <= name_id < len(names):
                    raise MemLogError(f"{rec.tag} at {rec.offset} uses name id {name_id} before its NAME")
    return names
