"""The ROOM chunk: rooms with their backgrounds, views, instance and tile records, physics fields and layers.

    c.room([fk.Room("rm_start", width=320, height=240, code="ksl_RoomCode_start",
                    backgrounds=[fk.Background(visible=True, index=0, stretch=True)],
                    views=[fk.View(visible=True, width=320, height=240)],
                    instances=[fk.Instance(16, 32, obj=0, id=100001, code="ksl_InstanceCode_a")],
                    tiles=[fk.Tile(0, 0, background=1, width=16, height=16, depth=1000, id=10000001)]),
            None])                                           # an empty slot (offset 0)

ROOM body: a count, that many entry offsets (0 for an empty slot), then the entries, each followed by its
lists. An entry (u32 words, little-endian; references are offsets from the start of the data, 0 for none):

    +0  name reference          +4  caption reference    +8  width     +12 height     +16 speed
    +20 persistent              +24 colour               +28 show colour
    +32 creation code id (-1 none)
    +36 flags: bit 0 views enabled, bit 1 view clear, bit 2 no display clear; bits 16-31 layout version
    +40 backgrounds list        +44 views list           +48 instances list           +52 tiles list
    for bytecode version above 5:
    +56 uses physics            +60 ... +72 four words the runtime does not read
    +76 gravity x, +80 gravity y, +84 pixels to metres (floats)
    +88 layers list (read when the layout version is above 1)

Each list is a u32 count and that many references to records. The lists of an entry follow it in the order
backgrounds, views, instances, tiles, layers, each list's records right after its references:

    background  {visible, foreground, index, x, y, htiled, vtiled, hspeed, vspeed, stretch}   10 words
    view        {visible, x, y, width, height, port x, port y, port width, port height,
                 border x, border y, speed x, speed y, target object}                          14 words
    instance    {x, y, object, id, creation code id (-1 none), xscale f, yscale f, colour, rotation f}
    tile        {x, y, background, left, top, width, height, depth, id, xscale f, yscale f, colour}
    layer       raw bytes given by the caller (the layer records are not this module's)

A creation code (`code`) is a code entry name (its index in the CODE chunk), an int (written as it is) or
None (-1). Every number is written as a 32-bit word, so negative values and raw patterns both work.

Damage: `counts` ({"backgrounds" | "views" | "instances" | "tiles" | "layers": n}) writes a count other than
the number of records; `refs` (same keys, plus "layers" with layout version 1 or less) writes a raw
reference in place of the list's; `words` ({offset: value}) overwrites any word of the fixed part after
everything else; Container.room's `extra`, `cut` and `size` damage the body as for the other writers.
"""

import struct

from .container import Container, _ChunkPlan

NO_CODE = -1
LIST_FIELDS = (("backgrounds", 40), ("views", 44), ("instances", 48), ("tiles", 52))
LAYERS_FIELD = 88
FIXED_OLD = 56      # bytecode version 5 and below: no physics fields, no layers word
FIXED_NEW = 92

FLAG_VIEWS = 1 << 0
FLAG_VIEW_CLEAR = 1 << 1
FLAG_NO_DISPLAY_CLEAR = 1 << 2


def _f32(v):
    return struct.pack("<f", v)


class Background:
    """One background record of a room; the defaults are those of an unused slot."""

    def __init__(self, visible=False, foreground=False, index=-1, x=0, y=0, htiled=True, vtiled=True,
                 hspeed=0, vspeed=0, stretch=False):
        self.visible, self.foreground, self.index = visible, foreground, index
        self.x, self.y, self.htiled, self.vtiled = x, y, htiled, vtiled
        self.hspeed, self.vspeed, self.stretch = hspeed, vspeed, stretch

    def words(self):
        return [int(bool(self.visible)), int(bool(self.foreground)), self.index, self.x, self.y,
                int(bool(self.htiled)), int(bool(self.vtiled)), self.hspeed, self.vspeed, int(bool(self.stretch))]


class View:
    """One view record of a room; the defaults are those of an unused slot."""

    def __init__(self, visible=False, x=0, y=0, width=640, height=480, port_x=0, port_y=0, port_width=640,
                 port_height=480, border_x=32, border_y=32, speed_x=-1, speed_y=-1, target=-1):
        self.visible, self.x, self.y, self.width, self.height = visible, x, y, width, height
        self.port_x, self.port_y, self.port_width, self.port_height = port_x, port_y, port_width, port_height
        self.border_x, self.border_y, self.speed_x, self.speed_y = border_x, border_y, speed_x, speed_y
        self.target = target

    def words(self):
        return [int(bool(self.visible)), self.x, self.y, self.width, self.height, self.port_x, self.port_y,
                self.port_width, self.port_height, self.border_x, self.border_y, self.speed_x, self.speed_y,
                self.target]


class Instance:
    """One instance record (36 bytes). `obj` is the object index (-1: none); `code` the creation code."""

    def __init__(self, x=0, y=0, obj=0, id=100001, code=None, xscale=1.0, yscale=1.0, colour=0xFFFFFFFF,
                 rotation=0.0):
        self.x, self.y, self.obj, self.id, self.code = x, y, obj, id, code
        self.xscale, self.yscale, self.colour, self.rotation = xscale, yscale, colour, rotation


class Tile:
    """One tile record (48 bytes): a part (left, top, width, height) of a background placed at (x, y)."""

    def __init__(self, x=0, y=0, background=0, left=0, top=0, width=16, height=16, depth=0, id=10000001,
                 xscale=1.0, yscale=1.0, colour=0xFFFFFFFF):
        self.x, self.y, self.background, self.left, self.top = x, y, background, left, top
        self.width, self.height, self.depth, self.id = width, height, depth, id
        self.xscale, self.yscale, self.colour = xscale, yscale, colour


class Room:
    """One ROOM entry. `backgrounds` and `views` default to 8 unused slots each (what a game writes);
    give lists to write others (fewer, none or more than 8). `flags` replaces the flags word built from
    views_enabled, view_clear, display_clear and layout (the layout version, bits 16-31). `layers` is None
    (reference 0) or a list of layer records as bytes. `unread` are the four words at +60."""

    def __init__(self, name, caption=None, width=640, height=480, speed=30, persistent=False,
                 colour=0xC0C0C0, show_colour=True, code=None, views_enabled=False, view_clear=False,
                 display_clear=True, layout=0, flags=None, backgrounds=None, views=None, instances=(),
                 tiles=(), physics=False, gravity=(0.0, 10.0), pixels_to_metres=0.1, unread=(0, 0, 0, 0),
                 layers=None, counts=None, refs=None, words=None):
        self.name, self.caption, self.width, self.height, self.speed = name, caption, width, height, speed
        self.persistent, self.colour, self.show_colour, self.code = persistent, colour, show_colour, code
        if flags is None:
            flags = ((FLAG_VIEWS if views_enabled else 0) | (FLAG_VIEW_CLEAR if view_clear else 0) |
                     (0 if display_clear else FLAG_NO_DISPLAY_CLEAR) | (layout & 0xFFFF) << 16)
        self.flags = flags
        self.backgrounds = [Background() for _ in range(8)] if backgrounds is None else list(backgrounds)
        self.views = [View() for _ in range(8)] if views is None else list(views)
        self.instances, self.tiles = list(instances), list(tiles)
        self.physics, self.gravity, self.pixels_to_metres = physics, tuple(gravity), pixels_to_metres
        self.unread = list(unread)
        self.layers = None if layers is None else [bytes(b) for b in layers]
        self.counts, self.refs, self.words = dict(counts or {}), dict(refs or {}), dict(words or {})
        unknown = (set(self.counts) | set(self.refs)) - {k for k, _ in LIST_FIELDS} - {"layers"}
        if unknown:
            raise TypeError("unknown lists: %s" % ", ".join(sorted(unknown)))


def _code_id(container, code):
    if code is None:
        return NO_CODE
    if isinstance(code, str):
        return [e.name for e in (container._code or [])].index(code)
    return code


def _records(b, ctx, key, records, count, write):
    """A list at the current position: the count, the references, then the records."""
    b.u32(len(records) if count is None else count)
    for j in range(len(records)):
        b.later(lambda ctx, j=j: ctx.at(key + (j,)))
    for j, r in enumerate(records):
        ctx.label(key + (j,), b.here())
        write(r)


def room(self, rooms, extra=b"", cut=None, size=None):
    """The ROOM chunk (see formkit.rooms). `rooms` holds Room records or None for empty slots."""
    rooms = list(rooms)
    version = self.version
    for r in rooms:
        if r is None:
            continue
        if r.layers is not None and version <= 5:
            raise ValueError("a ROOM entry of version 5 or below has no layers word")
        self.string(r.name)
        self.string(r.caption)

    def fill(b, ctx):
        b.u32(len(rooms))
        for i in range(len(rooms)):
            b.later(lambda ctx, i=i: 0 if rooms[i] is None else ctx.at(("room", i)))
        for i, r in enumerate(rooms):
            if r is None:
                continue
            start = b.here()
            pos = len(b.buf)
            ctx.label(("room", i), start)
            b.str_ref(r.name)
            b.str_ref(r.caption)
            for v in (r.width, r.height, r.speed, int(bool(r.persistent)), r.colour, int(bool(r.show_colour)),
                      _code_id(self, r.code), r.flags):
                b.u32(v)
            for name, _ in LIST_FIELDS:
                if name in r.refs:
                    b.u32(r.refs[name])
                else:
                    b.later(lambda ctx, i=i, n=name: ctx.at(("room", i, n)))
            if version > 5:
                b.u32(int(bool(r.physics)))
                for w in r.unread:
                    b.u32(w)
                b.raw(_f32(r.gravity[0]) + _f32(r.gravity[1]) + _f32(r.pixels_to_metres))
                if "layers" in r.refs:
                    b.u32(r.refs["layers"])
                elif r.layers is None:
                    b.u32(0)
                else:
                    b.later(lambda ctx, i=i: ctx.at(("room", i, "layers")))

            def background(bg):
                for w in bg.words():
                    b.u32(w)

            def view(v):
                for w in v.words():
                    b.u32(w)

            def instance(inst):
                for w in (inst.x, inst.y, inst.obj, inst.id, _code_id(self, inst.code)):
                    b.u32(w)
                b.raw(_f32(inst.xscale) + _f32(inst.yscale))
                b.u32(inst.colour)
                b.raw(_f32(inst.rotation))

            def tile(t):
                for w in (t.x, t.y, t.background, t.left, t.top, t.width, t.height, t.depth, t.id):
                    b.u32(w)
                b.raw(_f32(t.xscale) + _f32(t.yscale))
                b.u32(t.colour)

            lists = [("backgrounds", r.backgrounds, background), ("views", r.views, view),
                     ("instances", r.instances, instance), ("tiles", r.tiles, tile)]
            if r.layers is not None:
                lists.append(("layers", r.layers, b.raw))
            for name, records, write in lists:
                ctx.label(("room", i, name), b.here())
                _records(b, ctx, ("room", i, name), records, r.counts.get(name), write)
            for offset, value in r.words.items():
                b.fix.append((pos + offset, 4, lambda ctx, v=value: v))
    self._plans.append(_ChunkPlan("ROOM", fill, extra, cut, size))
    return self


Container.room = room
