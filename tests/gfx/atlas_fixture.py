"""A game-data file whose one texture page is a 256 x 512 PNG holding ten entries, and ImageMagick's crops of
that page as the expected pixels. Made once per build.

    python3 atlas_fixture.py <folder>

Writes atlas.win, entries.txt (one line per entry: src x y w h, target x y), crop<i>.rgba for each entry and
turned<i>.rgba: the crop scaled by 2 and turned a quarter counter-clockwise (-scale 200% -rotate -90).
"""

import os
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.environ.get("KV_SOURCE_DIR", os.path.join(here, "..", "..")), "tools"))

import formkit as fk  # noqa: E402

W, H = 256, 512
# Source rectangles spread over the page (both halves, both edges), some with a target offset.
ENTRIES = [
    (0, 0, 16, 16, 0, 0),
    (16, 0, 24, 10, 3, 2),
    (100, 40, 31, 17, 0, 5),
    (240, 0, 16, 33, 1, 0),
    (0, 256, 40, 40, 7, 9),
    (128, 300, 9, 50, 0, 0),
    (200, 480, 56, 32, 4, 4),
    (37, 411, 13, 7, 2, 6),
    (64, 128, 64, 64, 0, 0),
    (250, 505, 6, 7, 1, 1),
]


def pixel(x, y):
    # Every pixel of the page differs from its neighbours in some channel, so a shifted read cannot match.
    return bytes((x & 255, y & 255, (x * 7 + y * 13) & 255, 255))


def main(folder):
    os.makedirs(folder, exist_ok=True)
    rgba = os.path.join(folder, "page.rgba")
    png = os.path.join(folder, "page.png")
    with open(rgba, "wb") as f:
        f.write(b"".join(pixel(x, y) for y in range(H) for x in range(W)))
    subprocess.run(["convert", "-size", f"{W}x{H}", "-depth", "8", "rgba:" + rgba, png], check=True)
    with open(os.path.join(folder, "entries.txt"), "w") as f:
        for i, (x, y, w, h, tx, ty) in enumerate(ENTRIES):
            f.write(f"{x} {y} {w} {h} {tx} {ty}\n")
            crop = f"{w}x{h}+{x}+{y}"
            subprocess.run(["convert", png, "-crop", crop, "+repage", "-depth", "8",
                            "rgba:" + os.path.join(folder, f"crop{i}.rgba")], check=True)
            subprocess.run(["convert", png, "-crop", crop, "+repage", "-scale", "200%", "-rotate", "-90",
                            "-depth", "8", "rgba:" + os.path.join(folder, f"turned{i}.rgba")], check=True)
    with open(png, "rb") as f:
        page = f.read()
    c = fk.Container(version=14)
    c.gen8(game_name="atlas", major=1, room_order=[0], game_speed=30.0)
    c.code([])
    c.vari()
    c.func()
    c.objt([])
    c.room([fk.Room("rm_atlas", width=64, height=64, speed=30, code=None, instances=[])])
    c.tpag([fk.TexturePageEntry(x, y, w, h, tx, ty, w, h, w + 2 * tx, h + 2 * ty, page=0)
            for x, y, w, h, tx, ty in ENTRIES])
    c.txtr([fk.Page(page)])
    c.strg()
    c.build().write(folder, "atlas")


if __name__ == "__main__":
    main(sys.argv[1])
