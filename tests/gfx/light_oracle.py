#!/usr/bin/env python3
"""Lit scenes and their expected colours for the OpenGL lighting tests, written into the folder given first.

Each scene is one quad of corners (+-10, +-10, 0) in model space with one normal and one colour for every
vertex, placed by a world matrix (row vectors, p' = p . W) whose translation puts the quad's centre on pixel
(32, 32) at depth 100, under the ambient colour and up to eight lights. The colour of a vertex is

    ambient * material ambient (1 after an ambient definition)
      + sum over enabled lights of att * max(N . L, 0) * light colour * vertex colour, clamped to 0..1,

with N the model normal times the inverse transpose of the world matrix, normalised; L the unit vector towards
the light (the negated direction of a directional light; a zero direction adds nothing); att 1 for a
directional light and 1 / (1 + d / range) for a point light at distance d, which adds nothing when d exceeds
the range (range 0: a1 = 0, and nothing beyond distance 0). The camera is rigid, so world space gives the same
dot products and distances as view space. Scenes are built so that the four corners get the same colour;
the test then reads the quad's middle.

scenes.txt, one block per scene:
    case <name>
    vertex <colour 0xBBGGRR> <nx> <ny> <nz>
    world <16 numbers, row by row>
    ambient <colour 0xBBGGRR>
    direction <index> <dx> <dy> <dz> <colour> <enabled>     (any number of light lines)
    point <index> <x> <y> <z> <range> <colour> <enabled>
    expect <red> <green> <blue>
    end
"""
import math
import os
import sys


def rgb(colour):
    return [(colour & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0, ((colour >> 16) & 0xFF) / 255.0]


def matmul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(4)) for j in range(4)] for i in range(4)]


def scale(x, y, z):
    return [[x, 0, 0, 0], [0, y, 0, 0], [0, 0, z, 0], [0, 0, 0, 1]]


def rotate_x(degrees):
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    return [[1, 0, 0, 0], [0, c, s, 0], [0, -s, c, 0], [0, 0, 0, 1]]


def rotate_z(degrees):
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    return [[c, s, 0, 0], [-s, c, 0, 0], [0, 0, 1, 0], [0, 0, 0, 1]]


CENTRE = [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [32, 32, 100, 1]]


def place(*steps):
    m = [[1 if i == j else 0 for j in range(4)] for i in range(4)]
    for s in steps + (CENTRE,):
        m = matmul(m, s)
    return m


def transform_point(p, w):
    return [sum(p[k] * w[k][j] for k in range(3)) + w[3][j] for j in range(3)]


def normal_matrix(w):
    """(W3^-1)^T as a row-vector matrix: n' = n . (W3^-1)^T, from the 3 x 3 cofactors."""
    a = [row[:3] for row in w[:3]]
    cof = [[(a[(i + 1) % 3][(j + 1) % 3] * a[(i + 2) % 3][(j + 2) % 3]
             - a[(i + 1) % 3][(j + 2) % 3] * a[(i + 2) % 3][(j + 1) % 3]) for j in range(3)] for i in range(3)]
    det = sum(a[0][j] * cof[0][j] for j in range(3))
    # inverse = adjugate / det = cof^T / det, so its transpose is cof / det
    return [[cof[i][j] / det for j in range(3)] for i in range(3)]


def unit(v):
    n = math.sqrt(sum(x * x for x in v))
    return [x / n for x in v] if n > 0 else [0.0, 0.0, 0.0]


def vertex_colour(corner, scene):
    w = scene["world"]
    p = transform_point(corner, w)
    nm = normal_matrix(w)
    n = unit([sum(scene["normal"][k] * nm[k][j] for k in range(3)) for j in range(3)])
    vc = rgb(scene["vertex"])
    c = [x for x in rgb(scene["ambient"])]
    for light in scene["lights"]:
        if not light["enabled"]:
            continue
        if light["kind"] == "direction":
            l_vec = [-x for x in unit(light["d"])]
            att = 1.0
        else:
            d = [light["p"][k] - p[k] for k in range(3)]
            dist = math.sqrt(sum(x * x for x in d))
            if dist > light["range"]:
                continue
            a1 = 1.0 / light["range"] if light["range"] > 0 else 0.0
            att = 1.0 / (1.0 + a1 * dist)
            l_vec = unit(d)
        dot = max(sum(n[k] * l_vec[k] for k in range(3)), 0.0)
        lc = rgb(light["colour"])
        c = [c[k] + att * dot * lc[k] * vc[k] for k in range(3)]
    return [min(max(x, 0.0), 1.0) for x in c]


def d(index, dx, dy, dz, colour, enabled=1):
    return {"kind": "direction", "index": index, "d": [dx, dy, dz], "colour": colour, "enabled": enabled}


def pt(index, x, y, z, range_, colour, enabled=1):
    return {"kind": "point", "index": index, "p": [x, y, z], "range": range_, "colour": colour,
            "enabled": enabled}


def scene(name, lights, ambient=0, vertex=0xFFFFFF, normal=(0, 0, -1), world=None):
    return {"name": name, "lights": lights, "ambient": ambient, "vertex": vertex, "normal": list(normal),
            "world": world or place()}


SCENES = [
    scene("ambient only", [], ambient=0x204060, vertex=0x808080),
    scene("directional head-on", [d(0, 0, 0, 1, 0xFFFFFF)], vertex=0x808080),
    scene("directional at 45 degrees, coloured", [d(2, 1, 0, 1, 0x00FF80)], ambient=0x101010),
    scene("light from behind adds nothing", [d(0, 0, 0, -1, 0xFFFFFF)], ambient=0x303030),
    scene("zero direction adds nothing", [d(4, 0, 0, 0, 0xFFFFFF)], ambient=0x303030),
    # The normal (1, 0, -1) under a stretch of 3 along x: by the inverse transpose it leans towards -z
    # (N.L about 0.95); by the matrix itself it would lean towards +x (about 0.32).
    scene("stretched normals use the inverse transpose", [d(0, 0, 0, 1, 0xFFFFFF)], normal=(1, 0, -1),
          world=place(scale(3, 1, 1))),
    scene("turned and stretched", [d(1, 0.3, -0.5, 1, 0xC0C0FF)], normal=(0, 1, -2), vertex=0xE0E0E0,
          world=place(scale(1, 2, 1), rotate_x(40), rotate_z(25))),
    scene("two lights add and the vertex colour tints", [d(0, 0, 0, 1, 0x808080), d(7, 0, 0, 1, 0x808080)],
          vertex=0x4080C0),
    scene("two lights clamp", [d(0, 0, 0, 1, 0xFFFFFF), d(1, 0, 0, 1, 0xFFFFFF)], ambient=0x404040,
          vertex=0xFFFFFF),
    scene("disabled light", [d(0, 0, 0, 1, 0x00C000), pt(3, 32, 32, 60, 500, 0x0000FF, enabled=0)],
          ambient=0x000010),
    scene("point light in front", [pt(0, 32, 32, 60, 200, 0xFFFFFF)], ambient=0x101010),
    scene("point light, short range, coloured", [pt(6, 32, 32, 90, 30, 0x40FF20)], vertex=0xFFC080),
    scene("point light out of range", [pt(0, 32, 32, 60, 40, 0xFFFFFF)], ambient=0x202020),
    scene("point light of range 0", [pt(0, 32, 32, 60, 0, 0xFFFFFF)], ambient=0x202020),
    scene("point and directional", [pt(2, 32, 32, 80, 100, 0x0000FF), d(5, 0, 1, 1, 0xFF0000)],
          ambient=0x080808, vertex=0xF0F0F0),
]


def main():
    folder = sys.argv[1]
    corners = [[-10, -10, 0], [10, -10, 0], [10, 10, 0], [-10, 10, 0]]
    lines = []
    for s in SCENES:
        colours = [vertex_colour(c, s) for c in corners]
        for c in colours[1:]:
            assert max(abs(c[k] - colours[0][k]) for k in range(3)) < 0.5 / 255, s["name"]
        expect = [int(math.floor(x * 255 + 0.5)) for x in colours[0]]
        lines.append("case " + s["name"])
        lines.append("vertex 0x%06X %r %r %r" % ((s["vertex"],) + tuple(s["normal"])))
        lines.append("world " + " ".join(repr(float(x)) for row in s["world"] for x in row))
        lines.append("ambient 0x%06X" % s["ambient"])
        for light in s["lights"]:
            if light["kind"] == "direction":
                lines.append("direction %d %r %r %r 0x%06X %d" % (
                    light["index"], *[float(x) for x in light["d"]], light["colour"], light["enabled"]))
            else:
                lines.append("point %d %r %r %r %r 0x%06X %d" % (
                    light["index"], *[float(x) for x in light["p"]], float(light["range"]), light["colour"],
                    light["enabled"]))
        lines.append("expect %d %d %d" % tuple(expect))
        lines.append("end")
    with open(os.path.join(folder, "scenes.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
