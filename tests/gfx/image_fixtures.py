#!/usr/bin/env python3
"""Image fixtures for the bitmap and image tests, written into the folder given first.

ImageMagick's convert makes the files it can; Python's zlib and struct write the PNG, GIF and BMP layouts it
cannot be told to make. Every file gets ImageMagick's own decoding beside it (<name>.rgba, 8 bits a channel in
red, green, blue, alpha order), and manifest.txt lists "<name> <width> <height>". Each file's header is checked
here so a fixture is the layout its name says.
gradients.txt holds the gradient reference: "w h kind colour1 colour2" then w x h 0xAARRGGBB words.
"""
import os
import struct
import subprocess
import sys
import zlib

out = sys.argv[1]
manifest = []


def path(name):
    return os.path.join(out, name)


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def dump(name, w, h, source=None, extra=()):
    run("convert", path(source or name), *extra, "-depth", "8", "rgba:" + path(name + ".rgba"))
    size = os.path.getsize(path(name + ".rgba"))
    assert size == w * h * 4, (name, size)
    manifest.append("%s %d %d" % (name, w, h))


def write(name, data):
    with open(path(name), "wb") as f:
        f.write(data)


def raw(name, w, h, pixels, channels):
    data = bytearray()
    for p in pixels:
        data += bytes(p[:channels])
    assert len(data) == w * h * channels
    write(name, bytes(data))


# A pattern with distinct colours and every kind of alpha.
def pattern(w, h):
    px = []
    for y in range(h):
        for x in range(w):
            a = (0, 0x40, 0x80, 0xFF, 0xFF)[(x + 2 * y) % 5]
            px.append(((x * 37 + y * 11) & 0xFF, (x * 5 + y * 53 + 20) & 0xFF, (255 - x * 17 - y * 3) & 0xFF, a))
    return px


# ---- PNG

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png(name, w, h, depth, colour, rows, extra=b""):
    data = b"".join(b"\0" + r for r in rows)
    ihdr = struct.pack(">IIBBBBB", w, h, depth, colour, 0, 0, 0)
    write(name, b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra + chunk(b"IDAT", zlib.compress(data, 9)) +
          chunk(b"IEND", b""))


def png_header(name):
    with open(path(name), "rb") as f:
        d = f.read(33)
    w, h, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", d[16:29])
    return depth, colour, interlace


def pack_bits(values, depth):
    out_bytes, acc, n = bytearray(), 0, 0
    for v in values:
        acc = (acc << depth) | v
        n += depth
        if n == 8:
            out_bytes.append(acc)
            acc, n = 0, 0
    if n:
        out_bytes.append(acc << (8 - n))
    return bytes(out_bytes)


W, H = 13, 7
src = pattern(W, H)
raw("src.rgba", W, H, src, 4)
raw("src.rgb", W, H, src, 3)
run("convert", "-size", "%dx%d" % (W, H), "-depth", "8", "rgb:" + path("src.rgb"), "PNG24:" + path("png_rgb.png"))
run("convert", "-size", "%dx%d" % (W, H), "-depth", "8", "rgba:" + path("src.rgba"), "PNG32:" + path("png_rgba.png"))
run("convert", path("png_rgba.png"), "-interlace", "PNG", "PNG32:" + path("png_interlaced.png"))
assert png_header("png_rgb.png") == (8, 2, 0)
assert png_header("png_rgba.png") == (8, 6, 0)
assert png_header("png_interlaced.png") == (8, 6, 1)

palette = [((i * 29) & 0xFF, (i * 71) & 0xFF, (255 - i * 13) & 0xFF) for i in range(12)]
indexes = [[(x + y * 3) % 12 for x in range(W)] for y in range(H)]
plte = chunk(b"PLTE", b"".join(bytes(c) for c in palette))
png("png_palette.png", W, H, 8, 3, [bytes(r) for r in indexes], plte)
# tRNS shorter than the palette: the entries after it stay opaque.
png("png_palette_trns.png", W, H, 8, 3, [bytes(r) for r in indexes], plte + chunk(b"tRNS", bytes([0xFF, 0, 0x80, 0x10])))
for depth in (1, 2, 4, 8):
    top = (1 << depth) - 1
    rows = [pack_bits([(x * 3 + y * 5) % (top + 1) for x in range(W)], depth) for y in range(H)]
    png("png_grey%d.png" % depth, W, H, depth, 0, rows)
png("png_grey_alpha.png", W, H, 8, 4, [bytes(sum(([(x * 19 + y) & 0xFF, (x * 41 + y * 7) & 0xFF] for x in range(W)), [])) for y in range(H)])
# 16-bit colour channels whose low byte differs from the high one (c x 257 + k keeps the high byte c); cutting
# and ImageMagick's scaling both give c. Alpha stays c x 257: ImageMagick scales it through its opacity.
rows16 = []
for y in range(H):
    r = b""
    for x in range(W):
        p = src[y * W + x]
        r += struct.pack(">HHHH", *[c * 257 + min(0x30, 255 - c) for c in p[:3]], p[3] * 257)
    rows16.append(r)
png("png_16.png", W, H, 16, 6, rows16)

# The scale tests: 256 x 128 and 2 x 2.
big = [((x + y) & 0xFF, (x * 3) & 0xFF, (y * 2) & 0xFF, (0xFF - x) & 0xFF) for y in range(128) for x in range(256)]
raw("big.rgba", 256, 128, big, 4)
run("convert", "-size", "256x128", "-depth", "8", "rgba:" + path("big.rgba"), "PNG32:" + path("png_big.png"))
raw("small.rgba", 2, 2, [(0x10, 0x20, 0x30, 0x40), (0x50, 0x60, 0x70, 0x80), (0x90, 0xA0, 0xB0, 0xC0), (0xD0, 0xE0, 0xF0, 0xFF)], 4)
run("convert", "-size", "2x2", "-depth", "8", "rgba:" + path("small.rgba"), "PNG32:" + path("png_2x2.png"))

for name in ("png_rgb", "png_rgba", "png_interlaced", "png_palette", "png_palette_trns", "png_grey1", "png_grey2",
             "png_grey4", "png_grey8", "png_grey_alpha", "png_16"):
    dump(name, W, H, name + ".png")
dump("png_big", 256, 128, "png_big.png")
dump("png_2x2", 2, 2, "png_2x2.png")

# ---- JPEG


def jpeg_components(name):
    with open(path(name), "rb") as f:
        d = f.read()
    i = 2
    while i < len(d):
        marker = d[i + 1]
        length = struct.unpack(">H", d[i + 2:i + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            return d[i + 9]
        i += 2 + length
    return 0


run("convert", "-size", "16x8", "xc:#404040", "-colorspace", "Gray", "-quality", "95", path("jpeg_grey.jpg"))
assert jpeg_components("jpeg_grey.jpg") == 1
smooth = [((x * 8) & 0xFF, (y * 10) & 0xFF, (128 + x * 2 - y * 3) & 0xFF, 0xFF) for y in range(24) for x in range(32)]
raw("smooth.rgb", 32, 24, smooth, 3)
run("convert", "-size", "32x24", "-depth", "8", "rgb:" + path("smooth.rgb"), "-quality", "90", path("jpeg_rgb.jpg"))
assert jpeg_components("jpeg_rgb.jpg") == 3
dump("jpeg_grey", 16, 8, "jpeg_grey.jpg")
dump("jpeg_rgb", 32, 24, "jpeg_rgb.jpg")

# ---- GIF (codes kept at 9 bits by a clear code every 250 pixels)


def lzw(raster):
    codes = []
    for i in range(0, len(raster), 250):
        codes.append(256)
        codes += raster[i:i + 250]
    codes.append(257)
    acc, n, data = 0, 0, bytearray()
    for c in codes:
        acc |= c << n
        n += 9
        while n >= 8:
            data.append(acc & 0xFF)
            acc >>= 8
            n -= 8
    if n:
        data.append(acc & 0xFF)
    blocks = bytearray([8])
    for i in range(0, len(data), 255):
        part = data[i:i + 255]
        blocks += bytes([len(part)]) + part
    return bytes(blocks) + b"\0"


def colour_table(colours):
    bits = 1
    while (1 << bits) < len(colours):
        bits += 1
    padded = colours + [(0, 0, 0)] * ((1 << bits) - len(colours))
    return bits - 1, b"".join(bytes(c) for c in padded)


def gif(name, sw, sh, global_map, left, top, w, h, local_map, raster, transparent=None):
    flags, table = 0, b""
    if global_map:
        size, table = colour_table(global_map)
        flags = 0x80 | 0x70 | size
    d = b"GIF89a" + struct.pack("<HHBBB", sw, sh, flags, 0, 0) + table
    if transparent is not None:
        d += b"\x21\xF9\x04\x01\x00\x00" + bytes([transparent]) + b"\x00"
    lflags, ltable = 0, b""
    if local_map:
        size, ltable = colour_table(local_map)
        lflags = 0x80 | size
    d += b"\x2C" + struct.pack("<HHHHB", left, top, w, h, lflags) + ltable + lzw(raster) + b"\x3B"
    write(name, d)


gmap = [(0x10, 0x20, 0x30), (0xFF, 0, 0), (0, 0xFF, 0), (0x40, 0x50, 0x60), (0, 0, 0xFF), (0x80, 0x80, 0x80),
        (0xC0, 0xB0, 0xA0), (0xFF, 0xFF, 0xFF)]
raster = [(x + y * 2) % 8 for y in range(6) for x in range(9)]
gif("gif_trns.gif", 9, 6, gmap, 0, 0, 9, 6, None, raster, transparent=3)
with open(path("gif_trns.raster"), "wb") as f:
    f.write(bytes(raster))
dump("gif_trns", 9, 6, "gif_trns.gif")
# Index 9 lies past the 8-entry map.
gif("gif_range.gif", 4, 1, gmap, 0, 0, 4, 1, None, [1, 9, 2, 3])
lmap = [(0xAB, 0xCD, 0xEF), (0x12, 0x34, 0x56), (0x9A, 0x8B, 0x7C), (1, 2, 3)]
gif("gif_local.gif", 7, 5, None, 0, 0, 7, 5, lmap, [(x * y) % 4 for y in range(5) for x in range(7)])
dump("gif_local", 7, 5, "gif_local.gif")
gif("gif_offset.gif", 10, 8, gmap, 3, 2, 4, 3, None, [(x + y) % 7 + 1 for y in range(3) for x in range(4)])
dump("gif_offset_frame", 4, 3, "gif_offset.gif", ("+repage",))
with open(path("gif_offset.txt"), "w") as f:
    f.write("10 8 3 2 4 3\n")
# No colour map anywhere: nothing to decode with.
gif("gif_nomap.gif", 3, 2, None, 0, 0, 3, 2, None, [0, 1, 0, 1, 0, 1])

# ---- BMP


def bmp_header(name):
    with open(path(name), "rb") as f:
        d = f.read()
    return struct.unpack("<H", d[28:30])[0], struct.unpack("<I", d[30:34])[0]


many = [((i * 40) & 0xFF, (i * 90 + 7) & 0xFF, (250 - i * 9) & 0xFF, 0xFF) for i in range(25)]
for w in (4, 5):
    raw("bmp%d.rgb" % w, w, 5, many[:w * 5], 3)
    run("convert", "-size", "%dx5" % w, "-depth", "8", "rgb:" + path("bmp%d.rgb" % w), "-type", "Palette", "-compress", "None",
        "BMP3:" + path("bmp_p%d.bmp" % w))
    assert bmp_header("bmp_p%d.bmp" % w) == (8, 0), bmp_header("bmp_p%d.bmp" % w)
    dump("bmp_p%d" % w, w, 5, "bmp_p%d.bmp" % w)
run("convert", "-size", "5x5", "-depth", "8", "rgb:" + path("bmp5.rgb"), "-type", "TrueColor", "BMP3:" + path("bmp_24.bmp"))
assert bmp_header("bmp_24.bmp") == (24, 0)
dump("bmp_24", 5, 5, "bmp_24.bmp")
alpha5 = pattern(5, 5)
raw("bmp32.rgba", 5, 5, alpha5, 4)
run("convert", "-size", "5x5", "-depth", "8", "rgba:" + path("bmp32.rgba"), "-type", "TrueColorAlpha", "BMP:" + path("bmp_32.bmp"))
assert bmp_header("bmp_32.bmp")[0] == 32
dump("bmp_32", 5, 5, "bmp_32.bmp")
# The 24-bit file stored top-down: rows reversed and the height negated.
with open(path("bmp_24.bmp"), "rb") as f:
    d = bytearray(f.read())
offset = struct.unpack("<I", d[10:14])[0]
pitch = (5 * 3 + 3) & ~3
rows = [bytes(d[offset + i * pitch:offset + (i + 1) * pitch]) for i in range(5)]
d[offset:offset + 5 * pitch] = b"".join(reversed(rows))
d[22:26] = struct.pack("<i", -5)
write("bmp_topdown.bmp", bytes(d))

# ---- gradients


def mix(c1, c2, t):
    out_colour = 0
    for shift in (0, 8, 16):
        a, b = (c1 >> shift) & 0xFF, (c2 >> shift) & 0xFF
        out_colour |= (round(a * (1.0 - t) + b * t) & 0xFF) << shift
    return out_colour


def gradient(w, h, c1, c2, kind):
    g = [[0] * w for _ in range(h)]
    half = min(w, h) * 0.5
    for y in range(h):
        for x in range(w):
            if kind == 0:
                g[y][x] = mix(c1, c2, x / w)
            elif kind == 1:
                g[y][x] = mix(c1, c2, y / h)
            elif kind == 2:
                g[y][x] = mix(c1, c2, min(x, w - 1 - x, y, h - 1 - y) / half)
            elif kind == 3:
                g[y][x] = c1
            elif kind == 4:
                g[y][x] = mix(c1, c2, min(x, w - 1 - x) / (w * 0.5))
            elif kind == 5:
                g[y][x] = mix(c1, c2, min(y, h - 1 - y) / (h * 0.5))
    if kind == 3:
        i = 0
        while i < half:
            c = mix(c1, c2, i / half)
            for y in range(i, h - i):
                for x in range(i, w - i):
                    a = (x - w * 0.5) / ((w - 2 * i) * 0.5)
                    b = (y - h * 0.5) / ((h - 2 * i) * 0.5)
                    if a * a + b * b <= 1.0:
                        g[y][x] = c
            i += 1
    # Script colour 0x00BBGGRR to an opaque 0xAARRGGBB pixel.
    return [0xFF000000 | (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16) & 0xFF for row in g for v in row]


with open(path("gradients.txt"), "w") as f:
    for (w, h) in ((7, 5), (16, 9)):
        for (c1, c2) in ((0x000000, 0xFFFFFF), (0x2080F0, 0xE01005)):
            for kind in range(6):
                f.write("%d %d %d %d %d %s\n" % (w, h, kind, c1, c2, " ".join("%08X" % p for p in gradient(w, h, c1, c2, kind))))

with open(path("manifest.txt"), "w") as f:
    f.write("\n".join(manifest) + "\n")
