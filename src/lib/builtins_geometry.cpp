// Geometry built-ins: distances, directions, vector components, dot products and angle differences, in
// the room's convention (y down, angles counter-clockwise on screen). Most steps round to single precision,
// as the game's motion always has.
#include "core/arguments.h"
#include "core/functions.h"
#include "core/value.h"
#include "lib/builtins_internal.h"

#include <cmath>

namespace {

constexpr float kLengthDirSnap = 0.0001f;

// A small excess over a whole number goes; a shortfall stays (4.99996 is kept).
float LengthDir_Snap(float r)
{
    double whole;
    const double fraction = std::modf(double(r), &whole);
    return std::fabs(fraction) < double(kLengthDirSnap) ? float(whole) : r;
}

float Radians(float degrees) { return float(double(degrees) * BUILTIN_PI / 180.0); }

void F_PointDistance(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const float x1 = QZGF(args, 0), y1 = QZGF(args, 1), x2 = QZGF(args, 2), y2 = QZGF(args, 3);
    const float dx = x2 - x1, dy = y2 - y1;
    const float s = float(double(dx) * dx + double(dy) * dy);
    RValue_SetReal(result, double(float(std::sqrt(double(s)))));
}

void F_PointDistance3D(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const float x1 = QZGF(args, 0), y1 = QZGF(args, 1), z1 = QZGF(args, 2);
    const float x2 = QZGF(args, 3), y2 = QZGF(args, 4), z2 = QZGF(args, 5);
    const float dx = x2 - x1, dy = y2 - y1, dz = z2 - z1;
    const float s = float(double(dx) * dx + double(dy) * dy + double(dz) * dz);
    RValue_SetReal(result, double(float(std::sqrt(double(s)))));
}

void F_PointDirection(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const float x1 = QZGF(args, 0), y1 = QZGF(args, 1), x2 = QZGF(args, 2), y2 = QZGF(args, 3);
    RValue_SetReal(result, double(Point_Direction(x1, y1, x2, y2)));
}

void F_LengthDirX(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const float length = QZGF(args, 0), direction = QZGF(args, 1);
    RValue_SetReal(result, double(LengthDir_X(length, direction)));
}

void F_LengthDirY(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const float length = QZGF(args, 0), direction = QZGF(args, 1);
    RValue_SetReal(result, double(LengthDir_Y(length, direction)));
}

void F_DotProduct(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const double x1 = QZGR(args, 0), y1 = QZGR(args, 1), x2 = QZGR(args, 2), y2 = QZGR(args, 3);
    RValue_SetReal(result, x1 * x2 + y1 * y2);
}

void F_DotProduct3D(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const double x1 = QZGR(args, 0), y1 = QZGR(args, 1), z1 = QZGR(args, 2);
    const double x2 = QZGR(args, 3), y2 = QZGR(args, 4), z2 = QZGR(args, 5);
    RValue_SetReal(result, x1 * x2 + y1 * y2 + z1 * z2);
}

// The sum of squares and its root, each rounded to single precision.
float Geometry_Length(double squares) { return float(std::sqrt(double(float(squares)))); }

void F_DotProductNormalised(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const float x1 = QZGF(args, 0), y1 = QZGF(args, 1), x2 = QZGF(args, 2), y2 = QZGF(args, 3);
    const double dot = double(x1) * x2 + double(y1) * y2;
    const float l1 = Geometry_Length(double(x1) * x1 + double(y1) * y1);
    const float l2 = Geometry_Length(double(x2) * x2 + double(y2) * y2);
    RValue_SetReal(result, dot / (double(l1) * double(l2)));
}

void F_DotProduct3DNormalised(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const float x1 = QZGF(args, 0), y1 = QZGF(args, 1), z1 = QZGF(args, 2);
    const float x2 = QZGF(args, 3), y2 = QZGF(args, 4), z2 = QZGF(args, 5);
    const double dot = double(x1) * x2 + double(y1) * y2 + double(z1) * z2;
    const float l1 = Geometry_Length(double(x1) * x1 + double(y1) * y1 + double(z1) * z1);
    const float l2 = Geometry_Length(double(x2) * x2 + double(y2) * y2 + double(z2) * z2);
    RValue_SetReal(result, dot / (double(l1) * double(l2)));
}

void F_AngleDifference(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const float a = QZGF(args, 0), b = QZGF(args, 1);
    float d = a - b;
    d = float(std::fmod(double(d), 360.0));
    d = float(std::fmod(double(d) + 540.0, 360.0));
    RValue_SetReal(result, double(d) - 180.0);
}

}  // namespace

float Point_Direction(float x1, float y1, float x2, float y2)
{
    const float dx = x2 - x1, dy = y2 - y1;
    if (dx == 0) return dy > 0 ? 270.0f : dy < 0 ? 90.0f : 0.0f;
    float a = float(std::atan2(double(dy), double(dx)));
    a = float(double(a) * 180.0 / BUILTIN_PI);
    return a > 0 ? 360.0f - a : -a;
}

float LengthDir_X(float length, float direction)
{
    const float c = float(std::cos(double(Radians(direction))));
    return LengthDir_Snap(c * length);
}

float LengthDir_Y(float length, float direction)
{
    const float s = float(std::sin(double(Radians(direction))));
    return LengthDir_Snap(-(s * length));
}

void BuiltinsGeometry_Register()
{
    Function_Add("point_distance", F_PointDistance, 4, false);
    Function_Add("point_direction", F_PointDirection, 4, false);
    Function_Add("lengthdir_x", F_LengthDirX, 2, false);
    Function_Add("lengthdir_y", F_LengthDirY, 2, false);
    Function_Add("point_distance_3d", F_PointDistance3D, 6, false);
    Function_Add("dot_product", F_DotProduct, 4, false);
    Function_Add("dot_product_normalised", F_DotProductNormalised, 4, false);
    Function_Add("dot_product_3d", F_DotProduct3D, 6, false);
    Function_Add("dot_product_3d_normalised", F_DotProduct3DNormalised, 6, false);
}

void BuiltinsGeometry_RegisterAngleDifference() { Function_Add("angle_difference", F_AngleDifference, 2, false); }
