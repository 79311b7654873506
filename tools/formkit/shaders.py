"""The SHDR chunk: one record per shader with its name, language type, eight source slots, the vertex
attribute names and an optional extension.

    c.shdr([fk.Shader("sh_tint", vertex=VS, pixel=PS, attributes=["in_Position", "in_Colour"]),
            None,                                            # an empty slot (offset 0)
            fk.Shader("sh_ext", vertex=VS, pixel=PS, extension=fk.ShaderExtension(2, blobs=[b"\1\2"]))])

Body: a count, that many record offsets, then the records; any Blob bytes follow the records. A record is
all u32 words: name, type (bit 31 set when an extension follows), the offsets of sources 1 to 8 (5 is the
vertex program text, 6 the pixel program text), the attribute count n and n attribute name offsets; with
an extension then its version v, for v > 0 four (offset, size) pairs, and for v >= 2 two more pairs of
which only the offsets matter.

A text field (the name, a source, an attribute name) is a str or bytes (pooled in STRG, so it carries a
length word and a NUL), None (offset 0), an int (written as the offset itself, e.g. one past the data) or
a Blob (its bytes placed in the SHDR body as given: no length word, no NUL).
"""

from .container import Container, _ChunkPlan

TYPE_EXTENDED = 0x80000000
SOURCE_SLOTS = 8
VERTEX_SLOT = 5   # numbered from 1
PIXEL_SLOT = 6


class Blob:
    """Bytes placed in the SHDR body after the records (a source blob, or an unterminated name at the
    chunk's end)."""

    def __init__(self, data):
        self.data = bytes(data)


class ShaderExtension:
    """The words after the attribute names. `blobs`: up to four entries for the (offset, size) pairs of
    version 1 and later, each bytes (a Blob of that size), an (offset, size) tuple written as given, or
    None (0, 0). `further`: up to two entries for version 2 and later, each bytes (a Blob; the word after
    its offset gets its size), an int offset, or None."""

    def __init__(self, version=1, blobs=(), further=()):
        if len(blobs) > 4 or len(further) > 2:
            raise ValueError("an extension has four blob pairs and two further offsets")
        self.version = version
        self.blobs = list(blobs) + [None] * (4 - len(blobs))
        self.further = list(further) + [None] * (2 - len(further))


class Shader:
    """One SHDR record. `sources` gives the eight slots in order (shorter lists are padded with None);
    `vertex` and `pixel`, when given, fill slots 5 and 6. `type` is the language type (low 31 bits; bit 31
    comes from `extension`, or `type_word` writes the whole word as given). `attribute_count` overrides the
    count word (the names written stay `attributes`)."""

    def __init__(self, name, vertex=None, pixel=None, type=1, sources=(), attributes=(), extension=None,
                 attribute_count=None, type_word=None):
        if len(sources) > SOURCE_SLOTS:
            raise ValueError("a shader has eight source slots")
        self.name, self.type, self.extension = name, type, extension
        self.sources = list(sources) + [None] * (SOURCE_SLOTS - len(sources))
        if vertex is not None:
            self.sources[VERTEX_SLOT - 1] = vertex
        if pixel is not None:
            self.sources[PIXEL_SLOT - 1] = pixel
        self.attributes = list(attributes)
        self.attribute_count, self.type_word = attribute_count, type_word

    def word_type(self):
        if self.type_word is not None:
            return self.type_word
        return (self.type & 0x7FFFFFFF) | (TYPE_EXTENDED if self.extension is not None else 0)


def _texts(shader):
    """Every pooled text of a record."""
    fields = [shader.name] + shader.sources + shader.attributes
    return [f for f in fields if isinstance(f, (str, bytes, bytearray))]


def shdr(self, shaders, count=None, extra=b"", cut=None, size=None):
    """The SHDR chunk (see formkit.shaders). `shaders` holds Shader records or None for an empty slot;
    `count` overrides the count word (the offsets written stay one per entry); `extra`, `cut` and `size`
    damage the body as for the other chunk writers."""
    shaders = list(shaders)
    for s in shaders:
        if s is not None:
            for t in _texts(s):
                self.string(t)

    def fill(b, ctx):
        blobs = []   # (label key, Blob)

        def field(value, key):
            if value is None:
                b.u32(0)
            elif isinstance(value, int):
                b.u32(value)
            elif isinstance(value, Blob):
                blobs.append((key, value))
                b.later(lambda ctx, k=key: ctx.at(k))
            else:
                b.str_ref(value)

        b.u32(len(shaders) if count is None else count)
        for i, s in enumerate(shaders):
            b.later(lambda ctx, i=i, s=s: 0 if s is None else ctx.at(("shdr", i)))
        for i, s in enumerate(shaders):
            if s is None:
                continue
            ctx.label(("shdr", i), b.here())
            field(s.name, ("shdr-name", i))
            b.u32(s.word_type())
            for j, src in enumerate(s.sources):
                field(src, ("shdr-src", i, j))
            b.u32(len(s.attributes) if s.attribute_count is None else s.attribute_count)
            for j, a in enumerate(s.attributes):
                field(a, ("shdr-attr", i, j))
            ext = s.extension
            if ext is None:
                continue
            b.u32(ext.version)
            if ext.version > 0:
                for j, blob in enumerate(ext.blobs):
                    if blob is None:
                        b.u32(0)
                        b.u32(0)
                    elif isinstance(blob, tuple):
                        b.u32(blob[0])
                        b.u32(blob[1])
                    else:
                        field(Blob(blob), ("shdr-blob", i, j))
                        b.u32(len(blob))
            if ext.version >= 2:
                for j, more in enumerate(ext.further):
                    if isinstance(more, (bytes, bytearray)):
                        field(Blob(more), ("shdr-more", i, j))
                        b.u32(len(more))
                    else:
                        field(more, ("shdr-more", i, j))
                        b.u32(0)
        for key, blob in blobs:
            ctx.label(key, b.here())
            b.raw(blob.data)
    self._plans.append(_ChunkPlan("SHDR", fill, extra, cut, size))
    return self


Container.shdr = shdr
