"""The SPRT chunk: sprites with their fixed fields, frame entries, stored masks and vector or skeleton content.

    c.tpag([fk.TexturePageEntry(0, 0, 16, 16)])
    c.sprt([fk.Sprite("spr_ball", width=16, height=16, origin=(8, 8), frames=[0, 0],
                      masks=[["0110", "1111"], fk.mask_from_png("ball.png")]),
            None,                                              # an empty slot (offset 0)
            fk.Sprite("spr_vec", header="extended", kind=1, content=b"...")],
           new_format=True)                                    # the header's major version is 2 or more

SPRT body: a count, that many entry offsets (0 for an empty slot), then the entries. An entry (u32 words,
little-endian; the name is a string reference):

    +0  name           +4  width          +8  height         +12 bbox left      +16 bbox right
    +20 bbox bottom    +24 bbox top       +28 transparent    +32 smooth         +36 preload
    +40 bbox mode      +44 precise        +48 x origin       +52 y origin
    +56 frame count (plain header), or -1 (extended header), which goes on with
    +60 format version (not read)     +64 kind (0 bitmap, 1 vector, 2 skeleton)
    +68 playback speed (float; only when the data is of the newer format)

The body follows at +60 (plain), +68 (extended, older format) or +72 (extended, newer format):
- kind 0: with the newer format and a frame count of 0 so far (always so for the extended header), one
  word with the frame count (the older extended form has none, so it carries no frames); then one word per
  frame, the offset of its TPAG record (0 for none); then the
  mask count M and M masks, each height rows of ceil(width / 8) bytes, pixel x of a row in bit 7 - x % 8 of
  byte x // 8 (1 = solid).
- kind 1: one word (not read), then the vector content as given.
- kind 2: one word (not read), then five words (JSON text length, atlas text length, three texture words),
  the JSON text, the atlas text and the texture bytes (`skeleton_content` lays them out).
Entries start at multiples of 4.

Frames are TPAG record indexes of this container (`frames=[0, 1]`), None for offset 0, or `Raw(offset)`.
A mask is a list of text rows of "0" and "1" (missing pixels of a short row are 0), bytes already packed, or
`mask_from_png(path)`, whose solid pixels are those with alpha above 0.

Damage: `words` ({offset: value}) overwrites any word of the entry after everything else, `frame_count`
writes another frame-count word (the list keeps its length), `mask_count` another mask count (the masks
given are still written); Container.sprt's `count`, `extra`, `cut` and `size` damage the chunk as for the
other writers.
"""

import struct
import zlib

from .container import Container, _ChunkPlan

KIND_BITMAP = 0
KIND_VECTOR = 1
KIND_SKELETON = 2


class Raw:
    """A frame reference written as the given offset."""

    def __init__(self, offset):
        self.offset = offset


class Sprite:
    """One SPRT entry. `bbox` is (left, top, right, bottom). `header` is "plain" or "extended"; `kind`
    applies to the extended header (the plain one is always a bitmap). `content` is the vector or skeleton
    bytes after the skipped word; `skip_word` is that word's value."""

    def __init__(self, name, width=16, height=16, bbox=(0, 0, 15, 15), transparent=True, smooth=False,
                 preload=True, bbox_mode=0, precise=True, origin=(0, 0), frames=(), masks=(),
                 header="plain", version=1, kind=KIND_BITMAP, speed=30.0, content=b"", skip_word=0,
                 frame_count=None, mask_count=None, words=None):
        if header not in ("plain", "extended"):
            raise ValueError("header is 'plain' or 'extended'")
        if header == "plain" and kind != KIND_BITMAP:
            raise ValueError("a plain header is always a bitmap sprite")
        self.name, self.width, self.height, self.bbox = name, width, height, tuple(bbox)
        self.transparent, self.smooth, self.preload = transparent, smooth, preload
        self.bbox_mode, self.precise, self.origin = bbox_mode, precise, tuple(origin)
        self.frames, self.masks = list(frames), list(masks)
        self.header, self.version, self.kind, self.speed = header, version, kind, speed
        self.content, self.skip_word = bytes(content), skip_word
        self.frame_count, self.mask_count = frame_count, mask_count
        self.words = dict(words or {})


def pack_mask(mask, width, height):
    """A mask as stored: height rows of ceil(width / 8) bytes, most significant bit first."""
    if isinstance(mask, (bytes, bytearray)):
        return bytes(mask)
    stride = (width + 7) // 8
    out = bytearray(stride * height)
    for y, row in enumerate(list(mask)[:height]):
        for x, ch in enumerate(row[:width]):
            if ch == "1":
                out[y * stride + x // 8] |= 0x80 >> (x % 8)
            elif ch != "0":
                raise ValueError("mask rows hold only 0 and 1")
    return bytes(out)


def mask_size(width, height):
    return height * ((width + 7) // 8)


def skeleton_content(json_text, atlas_text, texture_words=(0, 0, 0), texture=b""):
    """Kind 2 content after the skipped word: the five words, then the texts and the texture bytes."""
    j = json_text.encode() if isinstance(json_text, str) else bytes(json_text)
    a = atlas_text.encode() if isinstance(atlas_text, str) else bytes(atlas_text)
    return struct.pack("<5i", len(j), len(a), *texture_words) + j + a + bytes(texture)


def _png_rows(path):
    """Rows of alpha values of a non-interlaced 8-bit PNG (grey, grey+alpha, RGB, RGBA or palette)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("%s is no PNG" % path)
    pos, idat, trns = 8, bytearray(), None
    width = height = depth = ctype = interlace = None
    while pos < len(data):
        n, tag = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if tag == b"IHDR":
            width, height, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif tag == b"IDAT":
            idat += body
        elif tag == b"tRNS":
            trns = body
        elif tag == b"IEND":
            break
        pos += 12 + n
    if depth != 8 or interlace != 0 or ctype not in (0, 2, 3, 4, 6):
        raise ValueError("%s: only 8-bit, non-interlaced PNGs" % path)
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ctype]
    raw = zlib.decompress(bytes(idat))
    stride = width * channels
    rows, prev, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b, c = prev[i], prev[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
        prev = line
        if ctype in (4, 6):
            rows.append([line[x * channels + channels - 1] for x in range(width)])
        elif ctype == 3:
            rows.append([trns[line[x]] if trns and line[x] < len(trns) else 255 for x in range(width)])
        else:
            rows.append([255] * width)
    return rows


def mask_from_png(path):
    """Mask rows from a PNG's alpha: a pixel is solid when its alpha is above 0."""
    return ["".join("1" if a > 0 else "0" for a in row) for row in _png_rows(path)]


def _frame_ref(ctx, frame):
    if frame is None:
        return 0
    if isinstance(frame, Raw):
        return frame.offset
    return ctx.at(("tpag", frame))


def sprt(self, sprites, new_format=False, count=None, extra=b"", cut=None, size=None):
    """The SPRT chunk (see formkit.sprites). `sprites` holds Sprite records or None for empty slots;
    `new_format` says the header's major version is 2 or more. `count` writes another entry count."""
    sprites = list(sprites)
    for s in sprites:
        if s is not None:
            self.string(s.name)

    def fill(b, ctx):
        b.u32(len(sprites) if count is None else count)
        for i in range(len(sprites)):
            b.later(lambda ctx, i=i: 0 if sprites[i] is None else ctx.at(("sprt", i)))
        for i, s in enumerate(sprites):
            if s is None:
                continue
            b.align(4)
            ctx.label(("sprt", i), b.here())
            pos = len(b.buf)
            b.str_ref(s.name)
            left, top, right, bottom = s.bbox
            for v in (s.width, s.height, left, right, bottom, top, int(bool(s.transparent)),
                      int(bool(s.smooth)), int(bool(s.preload)), s.bbox_mode, int(bool(s.precise)),
                      s.origin[0], s.origin[1]):
                b.u32(v)
            frames_so_far = 0
            if s.header == "plain":
                frames_so_far = len(s.frames) if s.frame_count is None else s.frame_count
                b.u32(frames_so_far)
            else:
                b.u32(-1)
                b.u32(s.version)
                b.u32(s.kind)
                if new_format:
                    b.raw(struct.pack("<f", s.speed))
            if s.kind == KIND_BITMAP:
                if new_format and frames_so_far == 0:
                    b.u32(len(s.frames) if s.frame_count is None else s.frame_count)
                elif s.header == "extended" and s.frames:
                    raise ValueError("%s: the older extended header has no frame count, so no frames" % s.name)
                for fr in s.frames:
                    b.later(lambda ctx, fr=fr: _frame_ref(ctx, fr))
                b.u32(len(s.masks) if s.mask_count is None else s.mask_count)
                for m in s.masks:
                    b.raw(pack_mask(m, s.width, s.height))
            else:
                b.u32(s.skip_word)
                b.raw(s.content)
            for offset, value in s.words.items():
                b.fix.append((pos + offset, 4, lambda ctx, v=value: v))
    self._plans.append(_ChunkPlan("SPRT", fill, extra, cut, size))
    return self


Container.sprt = sprt
