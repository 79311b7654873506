"""The sprite-drawing game for the GL pixel suite, written with formkit; made once per build.

    python3 sprite_pixels_fixture.py <folder>

Writes:
  game.win      a game of major version 1 whose one sprite "spr_pixels" (16 x 14, origin (5, 6)) has one frame: a
                trimmed TPAG entry taking the 12 x 10 region at (8, 4) of page.png (64 x 32, made by ImageMagick
                from pixels that all differ from their neighbours) to (2, 3) of the frame
  cases.txt     "<case> <x> <y> <x scale> <angle> <exact>" per case
  expected_<case>.rgba  ImageMagick's crop of the region, flopped, sampled or turned as the case says, composited at
                where the frame's region lands on a 128 x 64 canvas of the clear colour
"""

import os
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.environ.get("KV_SOURCE_DIR", os.path.join(here, "..", "..")), "tools"))

import formkit as fk  # noqa: E402

PAGE_W, PAGE_H = 64, 32
SOURCE = (8, 4, 12, 10)   # x, y, width, height on the page
TARGET = (2, 3)           # where the region sits in the frame
FRAME = (16, 14)
ORIGIN = (5, 6)
CANVAS_W, CANVAS_H = 128, 64
CLEAR = (0x30, 0x20, 0x10)

# name, x, y, x scale, angle (degrees, counter-clockwise on screen), compared exactly (else the interior only)
CASES = [
    ("plain", 20, 10, 1, 0, 1),
    ("plain_far", 70, 40, 1, 0, 1),
    ("wide", 30, 20, 2, 0, 1),
    ("mirrored", 60, 20, -1, 0, 1),
    ("turned", 64, 32, 1, 90, 0),
    ("followed", 64, 32, 1, 0, 1),  # drawn at (200, 100) in the room, through a camera centred on it
]


def pixel(x, y):
    return bytes(((x * 37 + 11) & 255, (y * 53 + 7) & 255, (x * 5 + y * 17 + 90) & 255, 255))


def placement(x, y, xscale, angle):
    """The image operation and the canvas position of the region's top-left corner."""
    sx, sy, sw, sh = SOURCE
    dx0, dx1 = TARGET[0] - ORIGIN[0], TARGET[0] + sw - ORIGIN[0]
    dy0 = TARGET[1] - ORIGIN[1]
    if angle == 90:
        # Counter-clockwise on a y-down screen: (dx, dy) goes to (dy, -dx).
        return ["-rotate", "-90"], x + dy0, y - dx1
    ops = []
    if xscale < 0:
        ops = ["-flop"]
    elif xscale != 1:
        ops = ["-sample", "%d%%x100%%" % (xscale * 100)]
    left = x + min(dx0 * xscale, dx1 * xscale)
    return ops, left, y + dy0


def main(folder):
    os.makedirs(folder, exist_ok=True)
    rgba = os.path.join(folder, "page.rgba")
    png = os.path.join(folder, "page.png")
    with open(rgba, "wb") as f:
        f.write(b"".join(pixel(x, y) for y in range(PAGE_H) for x in range(PAGE_W)))
    subprocess.run(["convert", "-size", "%dx%d" % (PAGE_W, PAGE_H), "-depth", "8", "rgba:" + rgba, png], check=True)
    with open(png, "rb") as f:
        page = f.read()

    sx, sy, sw, sh = SOURCE
    entry = fk.TexturePageEntry(sx, sy, sw, sh, TARGET[0], TARGET[1], sw, sh, FRAME[0], FRAME[1], page=0)
    c = fk.Container(version=14)
    c.gen8(game_name="spritepixels", major=1, room_order=[0], game_speed=30.0)
    c.code([])
    c.vari()
    c.func()
    c.tpag([entry])
    c.sprt([fk.Sprite("spr_pixels", width=FRAME[0], height=FRAME[1], bbox=(0, 0, FRAME[0] - 1, FRAME[1] - 1),
                      origin=ORIGIN, frames=[0], masks=[])])
    c.txtr([fk.Page(page)])
    c.strg()
    c.build().write(folder, "game")

    crop = "%dx%d+%d+%d" % (sw, sh, sx, sy)
    with open(os.path.join(folder, "cases.txt"), "w") as f:
        for name, x, y, xscale, angle, exact in CASES:
            f.write("%s %d %d %g %g %d\n" % (name, x, y, xscale, angle, exact))
            ops, left, top = placement(x, y, xscale, angle)
            args = ["convert", "-size", "%dx%d" % (CANVAS_W, CANVAS_H), "xc:rgb(%d,%d,%d)" % CLEAR,
                    "(", png, "-crop", crop, "+repage"] + ops + [")", "-geometry", "+%d+%d" % (left, top),
                    "-composite", "-depth", "8", "rgba:" + os.path.join(folder, "expected_%s.rgba" % name)]
            subprocess.run(args, check=True)


if __name__ == "__main__":
    main(sys.argv[1])
