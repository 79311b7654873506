#!/usr/bin/env python3
"""Expectations for the instance motion tests, written as a C++ include file.

Usage: gen_motion.py [out_file]   (default: motion_expect.inc beside this script)

The model is written from the motion rules, not from the runtime's code: every field of the instance is a
single-precision float, so each stored value goes through struct.pack('<f'); the arithmetic between stores is
in double (Python floats) with math.atan2, cos, sin, fmod and sqrt; degrees and radians convert with pi taken at single
precision (3.1415927410125732) and 180; "snap" turns a value within 0.0001 (strictly) of an integer into that
integer. Decisions the runtime takes where the rules leave a choice:
- direction: fmod first, then one correction into [0, 360) (a value that rounds to 360 as a float is 0);
  huge values never loop, NaN stays NaN and an infinity gives NaN;
- a path step whose advance is not finite (path_scale 0, or a speed or scale that is not a number) does not
  advance: it returns false and changes nothing;
- the target of a path step is a position, so it is rounded to float before hspeed = target - x.

Paths are the layer seam's test paths: straight segments between points, the position proportional to the
distance along them (Path_SeamAdd). Their segments have exact lengths (axis-aligned or 3-4-5), so that
Python's hypot and the C library's agree to the bit.

The C++ test (motion_test.cpp, bbox_test.cpp) compares each stored float within one float32 ulp.
"""

import math
import os
import struct
import sys

PI = 3.1415927410125732


# ---- Arithmetic as the runtime's C++ has it ----

def f32(v):
    """The float that a double becomes when stored (round to nearest even); overflow gives an infinity."""
    try:
        return struct.unpack('<f', struct.pack('<f', v))[0]
    except OverflowError:
        return math.copysign(math.inf, v)


def c_fmod(a, b):
    """C's fmod: NaN for an infinite or NaN dividend (Python's math.fmod raises there)."""
    if math.isnan(a) or math.isinf(a):
        return math.nan
    return math.fmod(a, b)


def c_cos(r):
    return math.cos(r) if math.isfinite(r) else math.nan


def c_sin(r):
    return math.sin(r) if math.isfinite(r) else math.nan


def round_even(v):
    """nearbyint in the default rounding mode: halves go to the even neighbour (Python's round does this)."""
    if not math.isfinite(v):
        return v
    return float(round(v))


def snap(v):
    if not math.isfinite(v):
        return v
    whole = round_even(v)
    return whole if abs(v - whole) < 0.0001 else v


def rad(degrees):
    return degrees * PI / 180.0


# ---- The seam's straight-segment paths ----

class Path:
    def __init__(self, points):
        self.points = [tuple(float(c) for c in p) for p in points]
        self.length = 0.0
        for a, b in zip(self.points, self.points[1:]):
            self.length += math.hypot(b[0] - a[0], b[1] - a[1])

    def position(self, t):
        """(x, y, speed factor) at relative position t, as CPath::GetPosition of the layer seam."""
        if not self.points:
            return 0.0, 0.0, 100.0
        t = 0.0 if math.isnan(t) else min(max(t, 0.0), 1.0)
        along = t * self.length
        for a, b in zip(self.points, self.points[1:]):
            segment = math.hypot(b[0] - a[0], b[1] - a[1])
            if along <= segment and segment > 0.0:
                f = along / segment
                return (a[0] + (b[0] - a[0]) * f, a[1] + (b[1] - a[1]) * f, a[2] + (b[2] - a[2]) * f)
            along -= segment
        last = self.points[-1]
        return last[0], last[1], last[2]


# Path table: index in this list = index the test gets from Path_SeamAdd (after Path_Init empties the seam).
PATHS = [
    ('straight_right_100', [(0, 0, 100), (100, 0, 100)]),
    ('zero_length', [(5, 5, 100), (5, 5, 100)]),
    ('diagonal_3_4_5', [(10, 20, 100), (40, 60, 100)]),
    ('l_shape_speed_factors', [(0, 0, 100), (0, 30, 50), (40, 30, 200)]),
    ('single_point', [(7, 7, 100)]),
]
PATH_OBJECTS = [Path(points) for _, points in PATHS]
MISSING_PATH = 99


# ---- The instance, field by field ----

class Instance:
    def __init__(self):
        self.x = 0.0
        self.y = 0.0
        self.direction = 0.0
        self.speed = 0.0
        self.hspeed = 0.0
        self.vspeed = 0.0
        self.friction = 0.0
        self.gravity = 0.0
        self.gravity_direction = 270.0
        self.path_index = -1
        self.path_position = 0.0
        self.path_positionprevious = 0.0
        self.path_speed = 0.0
        self.path_scale = 1.0
        self.path_orientation = 0.0
        self.path_endaction = 0
        self.path_origin_x = 0.0
        self.path_origin_y = 0.0

    def set_position(self, x, y):
        x, y = f32(x), f32(y)
        if x != self.x or y != self.y:
            self.x, self.y = x, y

    def set_direction(self, d):
        d = c_fmod(d, 360.0)
        if d < 0.0:
            d += 360.0
        stored = f32(d)
        if stored >= 360.0:
            stored = 0.0
        self.direction = stored
        self.update_hv_speed()

    def set_speed(self, s):
        s = f32(s)
        if s != self.speed:
            self.speed = s
            self.update_hv_speed()

    def set_hspeed(self, h):
        h = f32(h)
        if h != self.hspeed:
            self.hspeed = h
            self.update_direction_speed()

    def set_vspeed(self, v):
        v = f32(v)
        if v != self.vspeed:
            self.vspeed = v
            self.update_direction_speed()

    def add_motion(self, d, s):
        r = rad(d)
        self.hspeed = f32(self.hspeed + c_cos(r) * s)
        self.vspeed = f32(self.vspeed - c_sin(r) * s)
        self.update_direction_speed()

    def update_hv_speed(self):
        r = rad(self.direction)
        self.hspeed = f32(snap(self.speed * c_cos(r)))
        self.vspeed = f32(snap(-self.speed * c_sin(r)))

    def update_direction_speed(self):
        h, v = self.hspeed, self.vspeed
        if h != 0.0:
            a = math.atan2(v, h) * 180.0 / PI
            d = -a if a <= 0.0 else 360.0 - a
        else:
            d = 270.0 if v > 0.0 else 90.0 if v < 0.0 else 0.0
        self.direction = f32(c_fmod(snap(d), 360.0))
        self.speed = f32(snap(math.sqrt(h * h + v * v)))

    def apply_friction_gravity(self):
        if self.friction != 0.0:
            s = self.speed
            n = s - self.friction if s > 0.0 else s + self.friction
            if (s > 0.0 and n < 0.0) or (s < 0.0 and n > 0.0):
                self.speed = 0.0
                self.update_hv_speed()
            elif s != 0.0 and n != s:
                self.speed = f32(n)
                self.update_hv_speed()
        if self.gravity != 0.0:
            self.add_motion(self.gravity_direction, self.gravity)

    def set_path_position(self, p):
        p = f32(p)
        self.path_position = 0.0 if math.isnan(p) else min(max(p, 0.0), 1.0)  # NaN: the path's start

    # -- paths --

    def path(self):
        if 0 <= self.path_index < len(PATH_OBJECTS):
            return PATH_OBJECTS[self.path_index]
        return None

    def start_path(self, path, speed, scale, orientation, relative, endaction):
        speed, scale, orientation = f32(speed), f32(scale), f32(orientation)
        self.path_index = path
        if path < 0:
            return
        p = PATH_OBJECTS[path] if path < len(PATH_OBJECTS) else None
        if p is None or not p.length > 0.0 or not scale >= 0.0:
            self.path_index = -1
            return
        self.path_speed = speed
        self.path_position = self.path_positionprevious = 1.0 if speed < 0.0 else 0.0
        self.path_scale = scale
        self.path_orientation = orientation
        self.path_endaction = endaction
        if relative:
            self.path_origin_x, self.path_origin_y = self.x, self.y
        else:
            px, py, _ = p.position(self.path_position)
            self.set_position(px, py)
            fx, fy, _ = p.position(0.0)
            self.path_origin_x, self.path_origin_y = f32(fx), f32(fy)

    def transform(self, dx, dy):
        theta = rad(self.path_orientation)
        c, s = math.cos(theta), math.sin(theta)
        return (c * dx + s * dy) * self.path_scale, (c * dy - s * dx) * self.path_scale

    def advance_path(self):
        p = self.path()
        if p is None or not p.length > 0.0:
            return False
        _, _, factor = p.position(self.path_position)
        try:
            advance = self.path_speed * (factor / (100.0 * self.path_scale)) / p.length
        except ZeroDivisionError:  # C gives an infinity or NaN: not finite either way
            advance = math.inf
        if not math.isfinite(advance):
            return False
        position = self.path_position + advance
        reached = False
        # A path that does not move reaches no end; stopping exactly on 0 counts as the near end.
        if advance != 0.0 and (position >= 1.0 or position <= 0.0):
            reached = self.path_speed != 0.0
            first = p.position(0.0)
            action = self.path_endaction
            if action == 0:
                if self.path_speed != 0.0:
                    position = 1.0
                    self.path_index = -1
            elif action == 1:
                position += -1.0 if position > 0.0 else 1.0
            elif action == 2:
                end = p.position(1.0)
                ox, oy = self.transform(end[0] - first[0], end[1] - first[1])
                if position > 0.0:
                    self.path_origin_x = f32(self.path_origin_x + ox)
                    self.path_origin_y = f32(self.path_origin_y + oy)
                    position -= 1.0
                else:
                    self.path_origin_x = f32(self.path_origin_x - ox)
                    self.path_origin_y = f32(self.path_origin_y - oy)
                    position += 1.0
            elif action == 3:
                if position > 0.0:
                    position = 2.0 - position
                    self.path_speed = -abs(self.path_speed)
                else:
                    position = -position
                    self.path_speed = abs(self.path_speed)
            else:
                position = 1.0
                self.path_index = -1
        self.path_position = f32(position)
        px, py, _ = p.position(self.path_position)
        first = p.position(0.0)
        tx, ty = self.transform(px - first[0], py - first[1])
        target_x = f32(self.path_origin_x + tx)
        target_y = f32(self.path_origin_y + ty)
        self.set_hspeed(target_x - self.x)
        self.set_vspeed(target_y - self.y)
        if self.speed != 0.0:
            self.speed = 0.0
            self.update_hv_speed()
        self.set_position(target_x, target_y)
        return reached


# ---- Cases ----
# An op is (kind, args...). Kinds and their C++ calls:
#   POSITION x y          SetPosition(x, y)
#   DIRECTION d           SetDirection(d)          (a double: huge, NaN and infinite values pass through)
#   SPEED s / HSPEED h / VSPEED v                  SetSpeed / SetHSpeed / SetVSpeed
#   MOTION_ADD d s        AddMotion(d, s)
#   FRICTION f / GRAVITY g / GRAVITY_DIRECTION d   the plain field
#   STEP                  ApplyFrictionGravity()
#   PATH_START path speed scale orientation relative endaction    StartPath(...)
#   PATH_POSITION p       SetPathPosition(p)  (clamped to [0, 1]; NaN is the start, 0)
#   PATH_ADVANCE          AdvancePath(); its answer is recorded as '1' or '0' in the row's advance string

NAN = math.nan
INF = math.inf


def run(ops):
    inst = Instance()
    answers = ''
    for op in ops:
        kind, args = op[0], op[1:]
        if kind == 'POSITION':
            inst.set_position(*args)
        elif kind == 'DIRECTION':
            inst.set_direction(*args)
        elif kind == 'SPEED':
            inst.set_speed(*args)
        elif kind == 'HSPEED':
            inst.set_hspeed(*args)
        elif kind == 'VSPEED':
            inst.set_vspeed(*args)
        elif kind == 'MOTION_ADD':
            inst.add_motion(*args)
        elif kind == 'FRICTION':
            inst.friction = f32(args[0])
        elif kind == 'GRAVITY':
            inst.gravity = f32(args[0])
        elif kind == 'GRAVITY_DIRECTION':
            inst.gravity_direction = f32(args[0])
        elif kind == 'STEP':
            inst.apply_friction_gravity()
        elif kind == 'PATH_START':
            inst.start_path(*args)
        elif kind == 'PATH_POSITION':
            inst.set_path_position(*args)
        elif kind == 'PATH_ADVANCE':
            answers += '1' if inst.advance_path() else '0'
        else:
            raise ValueError(kind)
    return inst, answers


P_RIGHT, P_ZERO, P_DIAG, P_L, P_POINT = range(5)
REL, ABS = 1, 0

MOTION_CASES = [
    # The edge cases.
    ('direction_minus_90', [('DIRECTION', -90)]),
    ('direction_360', [('DIRECTION', 360)]),
    ('direction_725', [('DIRECTION', 725)]),
    ('direction_minus_90_with_speed', [('SPEED', 2), ('DIRECTION', -90)]),
    ('direction_725_with_speed', [('SPEED', 3), ('DIRECTION', 725)]),
    ('hspeed_3_vspeed_4', [('HSPEED', 3), ('VSPEED', 4)]),
    ('speed_2_direction_90', [('DIRECTION', 90), ('SPEED', 2)]),
    ('direction_90_after_speed_2', [('SPEED', 2), ('DIRECTION', 90)]),
    ('friction_0_5_on_speed_0_3', [('SPEED', 0.3), ('FRICTION', 0.5), ('STEP',)]),
    # Directions: the correction into [0, 360), huge and non-finite values.
    ('direction_minus_720_5', [('DIRECTION', -720.5)]),
    ('direction_1e20', [('SPEED', 1), ('DIRECTION', 1e20)]),
    ('direction_minus_1e20', [('SPEED', 1), ('DIRECTION', -1e20)]),
    ('direction_1e300', [('DIRECTION', 1e300)]),
    ('direction_tiny_negative_is_0', [('DIRECTION', -1e-10)]),
    ('direction_rounding_to_360_is_0', [('DIRECTION', 359.99999)]),
    ('direction_nan', [('SPEED', 2), ('DIRECTION', NAN)]),
    ('direction_inf', [('SPEED', 2), ('DIRECTION', INF)]),
    ('direction_minus_inf', [('DIRECTION', -INF)]),
    # Non-trivial angles both ways round.
    ('direction_33_3_speed_7_25', [('DIRECTION', 33.3), ('SPEED', 7.25)]),
    ('direction_123_456_speed_1', [('SPEED', 1), ('DIRECTION', 123.456)]),
    ('direction_200_speed_negative', [('DIRECTION', 200), ('SPEED', -4.5)]),
    ('hspeed_minus_2_5_vspeed_1_25', [('HSPEED', -2.5), ('VSPEED', 1.25)]),
    ('hspeed_minus_1_vspeed_minus_1', [('HSPEED', -1), ('VSPEED', -1)]),
    ('vspeed_0_1_hspeed_0_3', [('VSPEED', 0.1), ('HSPEED', 0.3)]),
    ('hspeed_back_to_0_points_up', [('HSPEED', 2), ('VSPEED', -5), ('HSPEED', 0)]),
    ('vspeed_down_only', [('VSPEED', 5)]),
    ('speed_then_hspeed', [('DIRECTION', 60), ('SPEED', 10), ('HSPEED', 1)]),
    # motion_add.
    ('motion_add_from_rest', [('MOTION_ADD', 45, 2)]),
    ('motion_add_perpendicular', [('SPEED', 3), ('MOTION_ADD', 90, 3)]),
    ('motion_add_cancels', [('SPEED', 2), ('MOTION_ADD', 180, 2)]),
    ('motion_add_twice', [('MOTION_ADD', 300, 1.5), ('MOTION_ADD', 10.5, 0.75)]),
    ('motion_add_negative_amount', [('DIRECTION', 30), ('SPEED', 1), ('MOTION_ADD', 30, -3)]),
    # Friction.
    ('friction_negative_speed', [('DIRECTION', 30), ('SPEED', -2), ('FRICTION', 0.5), ('STEP',)]),
    ('friction_negative_speed_to_rest', [('DIRECTION', 30), ('SPEED', -2), ('FRICTION', 0.5)] + [('STEP',)] * 5),
    ('friction_negative_speed_flips', [('DIRECTION', 150), ('SPEED', -0.3), ('FRICTION', 0.5), ('STEP',)]),
    ('friction_at_rest_does_nothing', [('FRICTION', 0.5), ('STEP',)]),
    ('friction_0_1_three_steps', [('DIRECTION', 45), ('SPEED', 1), ('FRICTION', 0.1)] + [('STEP',)] * 3),
    ('friction_negative_speeds_up', [('SPEED', 1), ('FRICTION', -0.25), ('STEP',), ('STEP',)]),
    # Gravity (gravity_direction 270 unless set).
    ('gravity_default_direction_4_steps', [('GRAVITY', 0.5)] + [('STEP',)] * 4),
    ('gravity_45_3_steps', [('GRAVITY', 1), ('GRAVITY_DIRECTION', 45)] + [('STEP',)] * 3),
    ('gravity_against_motion', [('SPEED', 3), ('GRAVITY', 0.75), ('GRAVITY_DIRECTION', 180)] + [('STEP',)] * 5),
    ('friction_then_gravity', [('SPEED', 2), ('FRICTION', 0.2), ('GRAVITY', 0.3)] + [('STEP',)] * 3),
    # Path starts.
    ('path_start_relative', [('POSITION', 50, 60), ('PATH_START', P_RIGHT, 10, 1, 0, REL, 0)]),
    ('path_start_absolute_moves_to_first_point', [('POSITION', 50, 60), ('PATH_START', P_DIAG, 5, 1, 0, ABS, 0)]),
    ('path_start_absolute_negative_speed_at_end', [('POSITION', 50, 60), ('PATH_START', P_DIAG, -5, 1, 0, ABS, 0)]),
    ('path_start_missing_index', [('POSITION', 50, 60), ('PATH_START', MISSING_PATH, 10, 1, 0, ABS, 0)]),
    ('path_start_zero_length', [('POSITION', 50, 60), ('PATH_START', P_ZERO, 10, 1, 0, ABS, 0)]),
    ('path_start_single_point', [('PATH_START', P_POINT, 10, 1, 0, REL, 0)]),
    ('path_start_negative_scale', [('PATH_START', P_RIGHT, 10, -1, 0, REL, 0)]),
    ('path_end', [('PATH_START', P_RIGHT, 10, 1, 0, REL, 0), ('PATH_START', -1, 0, 1, 0, REL, 0)]),
    ('path_start_negative_speed_position_1', [('POSITION', 200, 100), ('PATH_START', P_RIGHT, -10, 1, 0, REL, 1)]),
    # Path steps.
    ('path_step_relative', [('POSITION', 200, 100), ('PATH_START', P_RIGHT, 10, 1, 0, REL, 0), ('PATH_ADVANCE',)]),
    ('path_step_negative_speed_from_1', [('POSITION', 200, 100), ('PATH_START', P_RIGHT, -10, 1, 0, REL, 0),
                                         ('PATH_ADVANCE',)]),
    ('path_step_absolute_negative_speed', [('PATH_START', P_DIAG, -5, 1, 0, ABS, 0), ('PATH_ADVANCE',)]),
    ('path_step_clears_ordinary_motion', [('DIRECTION', 10), ('SPEED', 3), ('PATH_START', P_DIAG, 5, 1, 0, REL, 0),
                                          ('PATH_ADVANCE',), ('PATH_ADVANCE',)]),
    ('path_step_rotated_scaled', [('POSITION', 20, 30), ('PATH_START', P_DIAG, 7.5, 0.5, 90, REL, 0),
                                  ('PATH_ADVANCE',), ('PATH_ADVANCE',)]),
    ('path_step_speed_factors', [('PATH_START', P_L, 7, 1, 0, REL, 0)] + [('PATH_ADVANCE',)] * 12),
    ('path_speed_zero_stays', [('POSITION', 3, 4), ('PATH_START', P_RIGHT, 0, 1, 0, REL, 0), ('PATH_ADVANCE',)]),
    ('path_scale_zero_does_not_advance', [('POSITION', 3, 4), ('PATH_START', P_RIGHT, 10, 0, 0, REL, 0),
                                          ('PATH_ADVANCE',), ('PATH_ADVANCE',)]),
    ('path_position_clamped_high', [('PATH_START', P_RIGHT, 10, 1, 0, REL, 0), ('PATH_POSITION', 1.5)]),
    ('path_position_clamped_low', [('PATH_START', P_RIGHT, 10, 1, 0, REL, 0), ('PATH_POSITION', -0.5)]),
    ('path_position_nan_is_start', [('PATH_START', P_RIGHT, 10, 1, 0, REL, 0), ('PATH_POSITION', 0.5),
                                    ('PATH_POSITION', NAN), ('PATH_ADVANCE',)]),
    # End actions: speed 110 on the 100-long path reaches 1.1 in one step; -110 from 1 reaches -0.1.
    ('path_end_0_stop', [('POSITION', 200, 100), ('PATH_START', P_RIGHT, 110, 1, 0, REL, 0), ('PATH_ADVANCE',)]),
    ('path_end_0_stop_backwards', [('POSITION', 200, 100), ('PATH_START', P_RIGHT, -110, 1, 0, REL, 0),
                                   ('PATH_ADVANCE',)]),
    ('path_end_1_restart', [('POSITION', 200, 100), ('PATH_START', P_RIGHT, 110, 1, 0, REL, 1), ('PATH_ADVANCE',)]),
    ('path_end_1_restart_backwards', [('POSITION', 200, 100), ('PATH_START', P_RIGHT, -110, 1, 0, REL, 1),
                                      ('PATH_ADVANCE',)]),
    ('path_end_2_continue', [('POSITION', 200, 100), ('PATH_START', P_RIGHT, 110, 1, 0, REL, 2), ('PATH_ADVANCE',)]),
    ('path_end_2_continue_backwards', [('POSITION', 200, 100), ('PATH_START', P_RIGHT, -110, 1, 0, REL, 2),
                                       ('PATH_ADVANCE',)]),
    ('path_end_2_continue_rotated_scaled', [('POSITION', 200, 100), ('PATH_START', P_DIAG, 55, 2, 30, REL, 2),
                                            ('PATH_ADVANCE',), ('PATH_ADVANCE',), ('PATH_ADVANCE',)]),
    ('path_end_2_continue_rotated_scaled_back', [('POSITION', 200, 100), ('PATH_START', P_DIAG, -40, 1.5, -45, REL, 2),
                                                 ('PATH_ADVANCE',), ('PATH_ADVANCE',)]),
    ('path_end_3_reverse_at_1_1', [('POSITION', 200, 100), ('PATH_START', P_RIGHT, 110, 1, 0, REL, 3),
                                   ('PATH_ADVANCE',)]),
    ('path_end_3_reverse_from_0_95', [('POSITION', 200, 100), ('PATH_START', P_RIGHT, 15, 1, 0, REL, 3),
                                      ('PATH_POSITION', 0.95), ('PATH_ADVANCE',), ('PATH_ADVANCE',)]),
    ('path_end_3_reverse_at_start', [('POSITION', 200, 100), ('PATH_START', P_RIGHT, -110, 1, 0, REL, 3),
                                     ('PATH_ADVANCE',)]),
    ('path_end_7_stops', [('POSITION', 200, 100), ('PATH_START', P_RIGHT, 110, 1, 0, REL, 7), ('PATH_ADVANCE',)]),
    ('path_end_7_stops_absolute', [('PATH_START', P_DIAG, 60, 1, 0, ABS, 7), ('PATH_ADVANCE',), ('PATH_ADVANCE',)]),
    ('path_after_stop_no_path', [('POSITION', 200, 100), ('PATH_START', P_RIGHT, 110, 1, 0, REL, 0),
                                 ('PATH_ADVANCE',), ('PATH_ADVANCE',)]),
]


# ---- Bounding boxes (Compute_BoundingBox, steps 3 and 4) ----

def bbox(sprite, x, y, xscale, yscale, angle, tree):
    """sprite = (left, top, right, bottom, x origin, y origin) or None."""
    x, y, xscale, yscale, angle = f32(x), f32(y), f32(xscale), f32(yscale), f32(angle)
    edge = math.trunc if tree else round_even
    if sprite is None:
        return math.trunc(x), math.trunc(y), math.trunc(x), math.trunc(y)
    left, top, right, bottom, xo, yo = sprite
    if angle == 0.0:
        l = edge((left - xo) * xscale + x)
        r = edge((right - left + 1) * xscale + l)
        t = edge((top - yo) * yscale + y)
        b = edge((bottom - top + 1) * yscale + t)
        if r < l:
            l, r = r, l
        if b < t:
            t, b = b, t
    else:
        x0 = (min(left, right) - xo) * xscale
        x1 = (max(left, right) - xo + 1) * xscale
        y0 = (min(top, bottom) - yo) * yscale
        y1 = (max(top, bottom) - yo + 1) * yscale
        theta = rad(angle)
        c, s = math.cos(theta), math.sin(theta)
        l = edge(x + min(c * x0, c * x1) + min(s * y0, s * y1))
        r = edge(x + max(c * x0, c * x1) + max(s * y0, s * y1))
        t = edge(y + min(c * y0, c * y1) - max(s * x0, s * x1))
        b = edge(y + max(c * y0, c * y1) - min(s * x0, s * x1))
    return int(l), int(t), int(r) - 1, int(b) - 1


SPRITE16 = (0, 0, 15, 15, 8, 8)
SPRITE_ODD = (2, 1, 12, 20, 3, 5)

BBOX_CASES = []
for _tree in (False, True):
    _mode = 'tree' if _tree else 'round'
    BBOX_CASES += [
        (f'sprite16_at_100_{_mode}', SPRITE16, 100, 100, 1, 1, 0, _tree),
        (f'sprite16_xscale_minus_1_{_mode}', SPRITE16, 100, 100, -1, 1, 0, _tree),
        (f'sprite16_yscale_minus_2_{_mode}', SPRITE16, 100, 100, 1, -2, 0, _tree),
        (f'sprite16_half_x_tie_{_mode}', SPRITE16, 101.5, 100.5, 1, 1, 0, _tree),
        (f'sprite16_negative_position_{_mode}', SPRITE16, -20.7, -3.2, 1, 1, 0, _tree),
        (f'sprite16_scale_1_3_{_mode}', SPRITE16, 50.25, 60.75, 1.3, 0.7, 0, _tree),
        (f'sprite16_angle_45_{_mode}', SPRITE16, 100, 100, 1, 1, 45, _tree),
        (f'sprite16_angle_90_{_mode}', SPRITE16, 100, 100, 1, 1, 90, _tree),
        (f'sprite16_angle_90_xscale_minus_1_{_mode}', SPRITE16, 100, 100, -1, 1, 90, _tree),
        (f'sprite_odd_angle_30_{_mode}', SPRITE_ODD, 40.5, 70.25, 2, 1.5, 30, _tree),
        (f'sprite_odd_angle_minus_135_{_mode}', SPRITE_ODD, -12.25, 8, 1, -1, -135, _tree),
        (f'no_sprite_{_mode}', None, -3.7, 12.9, 1, 1, 0, _tree),
    ]


# ---- Output ----

def num(v):
    """A C++ double literal naming exactly this value (a float's value is exact in a double)."""
    if math.isnan(v):
        return 'MOTION_NAN'
    if math.isinf(v):
        return 'MOTION_INF' if v > 0 else '-MOTION_INF'
    text = repr(float(v))
    return text


def op_text(op):
    kind, args = op[0], op[1:]
    values = [num(float(a)) for a in args] + ['0.0'] * (6 - len(args))
    return '{MOP_%s, {%s}}' % (kind, ', '.join(values))


def generate():
    out = []
    out.append('// Generated by tests/world/gen_motion.py: do not edit; re-run the script and commit both.')
    out.append('// Needs before inclusion: MOTION_NAN, MOTION_INF, the MOP_* op kinds and the row structs of')
    out.append('// motion_test.cpp / bbox_test.cpp (the file defines arrays of them).')
    out.append('')
    out.append('#ifdef MOTION_EXPECT_PATHS')
    out.append('// {name, {x, y, speed factor}...}: Path_SeamAdd in this order after Path_Init.')
    out.append('static const MotionPathDef kMotionPaths[] = {')
    for name, points in PATHS:
        pts = ', '.join('{%s, %s, %s}' % tuple(num(float(c)) for c in p) for p in points)
        out.append('    {"%s", {%s}},' % (name, pts))
    out.append('};')
    out.append('static const int32_t kMotionMissingPath = %d;' % MISSING_PATH)
    out.append('#endif')
    out.append('')
    out.append('#ifdef MOTION_EXPECT_ROWS')
    out.append('// {name, {ops}, path answers, expected {direction, speed, hspeed, vspeed, x, y, path_index,')
    out.append('//  path_position, path_positionprevious, path_speed, path_scale, path_orientation, path_endaction,')
    out.append('//  path origin x, path origin y}}')
    out.append('static const MotionRow kMotionRows[] = {')
    for name, ops in MOTION_CASES:
        inst, answers = run(ops)
        expect = [inst.direction, inst.speed, inst.hspeed, inst.vspeed, inst.x, inst.y]
        path = [inst.path_position, inst.path_positionprevious, inst.path_speed, inst.path_scale,
                inst.path_orientation]
        out.append('    {"%s",' % name)
        out.append('     {%s},' % ', '.join(op_text(op) for op in ops))
        out.append('     "%s",' % answers)
        out.append('     {%s, %d, %s, %d, %s, %s}},' % (
            ', '.join(num(v) for v in expect), inst.path_index, ', '.join(num(v) for v in path),
            inst.path_endaction, num(inst.path_origin_x), num(inst.path_origin_y)))
    out.append('};')
    out.append('#endif')
    out.append('')
    out.append('#ifdef MOTION_EXPECT_BBOX')
    out.append('// {name, has sprite, {left, top, right, bottom, x origin, y origin}, x, y, xscale, yscale, angle,')
    out.append('//  tree mode, expected {left, top, right, bottom}}')
    out.append('static const BBoxRow kBBoxRows[] = {')
    for name, sprite, x, y, xs, ys, angle, tree in BBOX_CASES:
        l, t, r, b = bbox(sprite, x, y, xs, ys, angle, tree)
        s = sprite or (0, 0, 0, 0, 0, 0)
        out.append('    {"%s", %s, {%s}, %s, %s, %s, %s, %s, %s, {%d, %d, %d, %d}},' % (
            name, 'true' if sprite else 'false', ', '.join(str(v) for v in s), num(float(x)), num(float(y)),
            num(float(xs)), num(float(ys)), num(float(angle)), 'true' if tree else 'false', l, t, r, b))
    out.append('};')
    out.append('#endif')
    return '\n'.join(out) + '\n'


def main(argv):
    target = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                        'motion_expect.inc')
    with open(target, 'w', encoding='utf-8', newline='\n') as f:
        f.write(generate())
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
