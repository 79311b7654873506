"""The OBJT and TMLN chunks: objects with their event handlers, and timelines with their moments.

    c.objt([fk.Object("obj_wall", sprite=3, solid=True, events={(0, 0): "ksl_Object_wall_Create_0"}),
            None,                                              # an empty slot (offset 0)
            fk.Object("obj_ball", parent=0, physics=fk.Physics(shape=1, points=[(0, 0), (8, 8)]))])
    c.tmln([fk.Timeline("tl_intro", [(10, "ksl_Timeline_a"), (20, None)])])

OBJT body: a count, that many entry offsets (0 for an empty slot), then the entries. An entry: name
reference, sprite word, visible, solid, depth, persistent, parent index, mask index; for bytecode version
above 5 the physics block (uses physics, sensor, shape kind, density, restitution, collision group, linear
damping, angular damping, point count; from version 9 also friction, awake, kinematic; then the points as
float pairs); then the number of event types and one reference per type to an event-type list. An
event-type list: a count and references to event entries. An event entry: the event number, then its
action list inline: a count and references to action records. An action record's word at +32 is the code
entry index.

TMLN body: a count, entry offsets (0 for an empty slot), then the entries: name reference, moment count,
then per moment the time (int32) and a reference to an action list laid out as in an event entry.

A handler (`code`) is a code entry name (looked up in the CODE chunk's entries), an int (the index itself)
or None (an action list of count 0: an event without code).
"""

import struct

from .container import Container, _ChunkPlan

ACTION_RECORD_SIZE = 36   # only the word at +32 (the code entry index) is read
ACTION_CODE_OFFSET = 32
EVENT_TYPES = 12
PARENT_NONE = -100        # what the data writes for "no parent"


class Physics:
    """The physics block of an object (written for bytecode version 6 and later). `count` overrides the
    point count word (damage: a count running past the entry)."""

    def __init__(self, uses=True, sensor=False, shape=0, density=0.5, restitution=0.1, group=0,
                 linear_damping=0.1, angular_damping=0.1, points=(), friction=0.2, awake=True,
                 kinematic=False, count=None):
        self.uses, self.sensor, self.shape = uses, sensor, shape
        self.density, self.restitution, self.group = density, restitution, group
        self.linear_damping, self.angular_damping = linear_damping, angular_damping
        self.points = [tuple(p) for p in points]
        self.friction, self.awake, self.kinematic = friction, awake, kinematic
        self.count = count


class Object:
    """One OBJT entry. `sprite` is written as a raw 32-bit word (so 0x80000003 or -1 as given).
    `events` maps (type, number) to a handler; the lists are written in ascending order of type and
    number unless `event_lists` gives them raw: a list (one per type) of lists of (number, code).
    `types` overrides the number of event types (its references past the 12 lists point at an empty
    list)."""

    def __init__(self, name, sprite=-1, visible=True, solid=False, depth=0, persistent=False,
                 parent=PARENT_NONE, mask=-1, physics=None, events=None, event_lists=None, types=None):
        self.name, self.sprite, self.visible, self.solid = name, sprite, visible, solid
        self.depth, self.persistent, self.parent, self.mask = depth, persistent, parent, mask
        self.physics = physics if physics is not None else Physics(uses=False)
        if event_lists is None:
            event_lists = [[] for _ in range(EVENT_TYPES)]
            for (t, n), code in sorted((events or {}).items()):
                event_lists[t].append((n, code))
        self.event_lists = [list(lst) for lst in event_lists]
        self.types = types


class Timeline:
    """One TMLN entry: a name and (time, code) moments, written in the order given."""

    def __init__(self, name, moments=(), count=None):
        self.name = name
        self.moments = [tuple(m) for m in moments]
        self.count = count


def _code_index(container, code):
    if isinstance(code, str):
        names = [e.name for e in (container._code or [])]
        return names.index(code)
    return code


def _action_list(b, ctx, container, code, key):
    """An action list at the current position: a count and one reference to a record placed after it."""
    if code is None:
        b.u32(0)
        return
    b.u32(1)
    b.later(lambda ctx, k=key: ctx.at(k))


def _action_record(b, ctx, container, code, key):
    if code is None:
        return
    ctx.label(key, b.here())
    b.raw(bytes(ACTION_CODE_OFFSET))
    b.u32(_code_index(container, code))


def objt(self, objects, extra=b"", cut=None, size=None):
    """The OBJT chunk (see formkit.objects). `objects` holds Object records or None for empty slots."""
    objects = list(objects)
    version = self.version
    for o in objects:
        if o is not None:
            self.string(o.name)

    def fill(b, ctx):
        b.u32(len(objects))
        for i in range(len(objects)):
            b.later(lambda ctx, i=i: 0 if objects[i] is None else ctx.at(("objt", i)))
        for i, o in enumerate(objects):
            if o is None:
                continue
            ctx.label(("objt", i), b.here())
            b.str_ref(o.name)
            b.u32(o.sprite)
            for v in (int(bool(o.visible)), int(bool(o.solid)), o.depth, int(bool(o.persistent)), o.parent,
                      o.mask):
                b.u32(v)
            if version > 5:
                p = o.physics
                b.u32(int(bool(p.uses)))
                b.u32(int(bool(p.sensor)))
                b.u32(p.shape)
                b.raw(struct.pack("<f", p.density))
                b.raw(struct.pack("<f", p.restitution))
                b.u32(p.group)
                b.raw(struct.pack("<f", p.linear_damping))
                b.raw(struct.pack("<f", p.angular_damping))
                b.u32(len(p.points) if p.count is None else p.count)
                if version >= 9:
                    b.raw(struct.pack("<f", p.friction))
                    b.u32(int(bool(p.awake)))
                    b.u32(int(bool(p.kinematic)))
                for x, y in p.points:
                    b.raw(struct.pack("<ff", x, y))
            types = len(o.event_lists) if o.types is None else o.types
            b.u32(types)
            for t in range(types):
                key = ("objt", i, "type", t if t < len(o.event_lists) else "empty")
                b.later(lambda ctx, k=key: ctx.at(k))
            ctx.label(("objt", i, "type", "empty"), b.here())
            b.u32(0)
            for t, lst in enumerate(o.event_lists):
                ctx.label(("objt", i, "type", t), b.here())
                b.u32(len(lst))
                for e in range(len(lst)):
                    b.later(lambda ctx, i=i, t=t, e=e: ctx.at(("objt", i, t, e)))
                for e, (number, code) in enumerate(lst):
                    ctx.label(("objt", i, t, e), b.here())
                    b.u32(number)
                    _action_list(b, ctx, self, code, ("objt", i, t, e, "action"))
                for e, (number, code) in enumerate(lst):
                    _action_record(b, ctx, self, code, ("objt", i, t, e, "action"))
    self._plans.append(_ChunkPlan("OBJT", fill, extra, cut, size))
    return self


def tmln(self, timelines, extra=b"", cut=None, size=None):
    """The TMLN chunk (see formkit.objects). `timelines` holds Timeline records or None for empty slots."""
    timelines = list(timelines)
    for t in timelines:
        if t is not None:
            self.string(t.name)

    def fill(b, ctx):
        b.u32(len(timelines))
        for i in range(len(timelines)):
            b.later(lambda ctx, i=i: 0 if timelines[i] is None else ctx.at(("tmln", i)))
        for i, t in enumerate(timelines):
            if t is None:
                continue
            ctx.label(("tmln", i), b.here())
            b.str_ref(t.name)
            b.u32(len(t.moments) if t.count is None else t.count)
            for m, (time, code) in enumerate(t.moments):
                b.u32(time)
                b.later(lambda ctx, i=i, m=m: ctx.at(("tmln", i, m)))
            for m, (time, code) in enumerate(t.moments):
                ctx.label(("tmln", i, m), b.here())
                _action_list(b, ctx, self, code, ("tmln", i, m, "action"))
                _action_record(b, ctx, self, code, ("tmln", i, m, "action"))
    self._plans.append(_ChunkPlan("TMLN", fill, extra, cut, size))
    return self


Container.objt = objt
Container.tmln = tmln
