// Instance motion: the two forms of the motion state kept consistent, friction and gravity, path following
// and the bounding box.
#include <cmath>
#include <utility>

#include "core/convert.h"
#include "draw/draw.h"
#include "layers/layers.h"
#include "net/net.h"
#include "skeleton/skeleton.h"
#include "world/instance.h"

namespace {

// Degrees and radians convert with pi at single precision.
constexpr double kMotionPi = 3.1415927410125732;
constexpr double kDegToRad = kMotionPi / 180.0;

// A value within 0.0001 of a whole number becomes it, so that 90 degrees gives an hspeed of exactly 0.
double Motion_Snap(double v)
{
    const double whole = std::nearbyint(v);
    return std::fabs(v - whole) < 0.0001 ? whole + 0.0 : v;  // + 0.0: no negative zero
}

// Edges of the box: truncated with the collision tree, rounded (halves to even) without it.
double Motion_Edge(double v) { return CollisionTreeMode ? std::trunc(v) : std::nearbyint(v); }

// Whole edges fit int32 only when finite and in range; anything else stays at the instance.
int32_t Motion_EdgeToInt(double v, int32_t fallback)
{
    return std::isfinite(v) && v >= -2147483648.0 && v <= 2147483647.0 ? int32_t(v) : fallback;
}

// The path's end-to-start offset or a point, turned by the path orientation and scaled.
void Motion_PathTransform(const CInstance* self, double dx, double dy, double* ox, double* oy)
{
    const double theta = double(self->pathOrientation) * kDegToRad;
    const double c = std::cos(theta), s = std::sin(theta);
    *ox = (c * dx + s * dy) * double(self->pathScale);
    *oy = (c * dy - s * dx) * double(self->pathScale);
}

}  // namespace

void CInstance::MarkDirty()
{
    bboxDirty = true;
    Collision_MarkDirty(this);
}

void CInstance::SetPosition(float newX, float newY)
{
    if (newX == x && newY == y) return;
    x = newX;
    y = newY;
    MarkDirty();
}

void CInstance::SetImageXScale(float value)
{
    if (value == imageXScale) return;
    imageXScale = value;
    MarkDirty();
}

void CInstance::SetImageYScale(float value)
{
    if (value == imageYScale) return;
    imageYScale = value;
    MarkDirty();
}

void CInstance::SetImageAngle(float value)
{
    if (value == imageAngle) return;
    imageAngle = value;
    MarkDirty();
}

void CInstance::SetMaskIndex(int32_t value)
{
    if (value == maskIndex) return;
    maskIndex = value;
    MarkDirty();
}

void CInstance::SetDirection(double degrees)
{
    // One remainder and one correction: repeated adding of 360 never ends for huge or infinite values.
    double d = std::fmod(degrees, 360.0);
    if (d < 0.0) d += 360.0;
    float stored = float(d);
    if (stored >= 360.0f || stored == 0.0f) stored = 0.0f;  // -0 and a sum that rounds up to 360
    direction = stored;
    UpdateHVSpeed();
}

void CInstance::SetSpeed(float value)
{
    if (value == speed) return;
    speed = value;
    UpdateHVSpeed();
}

void CInstance::SetHSpeed(float value)
{
    if (value == hspeed) return;
    hspeed = value;
    UpdateDirectionSpeed();
}

void CInstance::SetVSpeed(float value)
{
    if (value == vspeed) return;
    vspeed = value;
    UpdateDirectionSpeed();
}

void CInstance::AddMotion(double degrees, double amount)
{
    const double r = degrees * kDegToRad;
    hspeed = float(double(hspeed) + std::cos(r) * amount);
    vspeed = float(double(vspeed) - std::sin(r) * amount);
    UpdateDirectionSpeed();
}

void CInstance::UpdateHVSpeed()
{
    const double r = double(direction) * kDegToRad;
    hspeed = float(Motion_Snap(double(speed) * std::cos(r)));
    vspeed = float(Motion_Snap(-double(speed) * std::sin(r)));
    MarkDirty();
}

void CInstance::UpdateDirectionSpeed()
{
    const double h = hspeed, v = vspeed;
    double d;
    if (h != 0.0) {
        const double a = std::atan2(v, h) / kDegToRad;
        d = a <= 0.0 ? -a : 360.0 - a;
    } else {
        d = v > 0.0 ? 270.0 : v < 0.0 ? 90.0 : 0.0;
    }
    direction = float(std::fmod(Motion_Snap(d), 360.0) + 0.0);
    speed = float(Motion_Snap(std::sqrt(h * h + v * v)));
    MarkDirty();
}

void CInstance::ApplyFrictionGravity()
{
    if (friction != 0.0f) {
        const float s = speed;
        const float next = s > 0.0f ? s - friction : s + friction;
        if ((s > 0.0f && next < 0.0f) || (s < 0.0f && next > 0.0f)) {
            speed = 0.0f;
            UpdateHVSpeed();
        } else if (s != 0.0f && next != s) {
            speed = next;
            UpdateHVSpeed();
        }
    }
    if (gravity != 0.0f) AddMotion(gravityDirection, gravity);
}

namespace {
// Into [0, 1]; NaN is no position on the path and becomes its start.
float Motion_ClampUnit(float value) { return value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f; }
}  // namespace

void CInstance::SetPathPosition(float value) { pathPosition = Motion_ClampUnit(value); }

void CInstance::SetPathPositionPrevious(float value) { pathPositionPrevious = Motion_ClampUnit(value); }

void CInstance::SetPathSpeed(float value) { pathSpeed = value; }

void CInstance::StartPath(int32_t path, float newSpeed, float scale, float orientation, bool relative,
                          int32_t endAction)
{
    pathIndex = path;
    if (path < 0) return;
    CPath* p = Path_Data(path);
    if (!p || !(p->GetLength() > 0.0) || !(scale >= 0.0f)) {
        pathIndex = -1;
        return;
    }
    pathSpeed = newSpeed;
    pathPosition = pathPositionPrevious = newSpeed < 0.0f ? 1.0f : 0.0f;
    pathScale = scale;
    pathOrientation = orientation;
    pathEndAction = endAction;
    if (relative) {
        pathOriginX = x;
        pathOriginY = y;
    } else {
        double px, py, factor;
        p->GetPosition(pathPosition, &px, &py, &factor);
        SetPosition(float(px), float(py));
        pathOriginX = float(p->XPosition(0.0));
        pathOriginY = float(p->YPosition(0.0));
    }
}

bool CInstance::AdvancePath()
{
    if (pathIndex < 0) return false;
    CPath* p = Path_Data(pathIndex);
    if (!p) return false;
    const double length = p->GetLength();
    if (!(length > 0.0)) return false;

    double px, py, factor;
    p->GetPosition(pathPosition, &px, &py, &factor);
    // A scale of 0 (or a speed or scale that is not a number) would divide the position into NaN and carry
    // the instance with it: such a path stays where it is.
    const double advance = double(pathSpeed) * (factor / (100.0 * double(pathScale))) / length;
    if (!std::isfinite(advance)) return false;
    double position = double(pathPosition) + advance;

    // A path that does not move has not reached an end; one that stops exactly on 0 came backwards, so
    // the far end is told from the near one by position > 0, and the position stays within [0, 1].
    bool reachedEnd = false;
    if (advance != 0.0 && (position >= 1.0 || position <= 0.0)) {
        reachedEnd = pathSpeed != 0.0f;
        const double firstX = p->XPosition(0.0), firstY = p->YPosition(0.0);
        switch (pathEndAction) {
        case 0:
            if (pathSpeed != 0.0f) {
                position = 1.0;
                pathIndex = -1;
            }
            break;
        case 1:
            position += position > 0.0 ? -1.0 : 1.0;
            break;
        case 2: {
            double ox, oy;
            Motion_PathTransform(this, p->XPosition(1.0) - firstX, p->YPosition(1.0) - firstY, &ox, &oy);
            if (position > 0.0) {
                pathOriginX = float(double(pathOriginX) + ox);
                pathOriginY = float(double(pathOriginY) + oy);
                position -= 1.0;
            } else {
                pathOriginX = float(double(pathOriginX) - ox);
                pathOriginY = float(double(pathOriginY) - oy);
                position += 1.0;
            }
            break;
        }
        case 3:
            if (position > 0.0) {
                position = 2.0 - position;
                pathSpeed = -std::fabs(pathSpeed);
            } else {
                position = -position;
                pathSpeed = std::fabs(pathSpeed);
            }
            break;
        default:
            position = 1.0;
            pathIndex = -1;
            break;
        }
    }
    pathPosition = float(position);

    double tx, ty;
    p->GetPosition(pathPosition, &px, &py, &factor);
    Motion_PathTransform(this, px - p->XPosition(0.0), py - p->YPosition(0.0), &tx, &ty);
    const float targetX = float(double(pathOriginX) + tx);
    const float targetY = float(double(pathOriginY) + ty);

    // Direction follows the path while the speeds end at 0, so ordinary motion adds nothing to it.
    SetHSpeed(float(double(targetX) - double(x)));
    SetVSpeed(float(double(targetY) - double(y)));
    if (speed != 0.0f) {
        speed = 0.0f;
        UpdateHVSpeed();
    }
    SetPosition(targetX, targetY);
    return reachedEnd;
}

uint8_t Compute_BoundingBox(CInstance* instance, bool refreshTree)
{
    ProfilerRegion region(6, 2);
    const BoundingBox old = instance->bbox;
    const int32_t spriteIndex = instance->maskIndex >= 0 ? instance->maskIndex : instance->spriteIndex;
    SpriteFacts facts{};
    BoundingBox& box = instance->bbox;
    const double x = instance->x, y = instance->y;
    if (!Sprite_GetFacts(spriteIndex, &facts)) {
        box.left = box.right = Motion_EdgeToInt(std::trunc(x), 0);
        box.top = box.bottom = Motion_EdgeToInt(std::trunc(y), 0);
        instance->precise = false;
    } else {
        const double xs = instance->imageXScale, ys = instance->imageYScale;
        const double ix = Motion_EdgeToInt(std::trunc(x), 0), iy = Motion_EdgeToInt(std::trunc(y), 0);
        double left, right, top, bottom;
        if (instance->imageAngle == 0.0f) {
            left = Motion_Edge((facts.bboxLeft - facts.xOrigin) * xs + x);
            right = Motion_Edge((double(facts.bboxRight) - facts.bboxLeft + 1.0) * xs + left);
            top = Motion_Edge((facts.bboxTop - facts.yOrigin) * ys + y);
            bottom = Motion_Edge((double(facts.bboxBottom) - facts.bboxTop + 1.0) * ys + top);
            if (right < left) std::swap(left, right);
            if (bottom < top) std::swap(top, bottom);
        } else {
            const double x0 = (std::fmin(facts.bboxLeft, facts.bboxRight) - facts.xOrigin) * xs;
            const double x1 = (std::fmax(facts.bboxLeft, facts.bboxRight) - facts.xOrigin + 1.0) * xs;
            const double y0 = (std::fmin(facts.bboxTop, facts.bboxBottom) - facts.yOrigin) * ys;
            const double y1 = (std::fmax(facts.bboxTop, facts.bboxBottom) - facts.yOrigin + 1.0) * ys;
            const double theta = double(instance->imageAngle) * kDegToRad;
            const double c = std::cos(theta), s = std::sin(theta);
            left = Motion_Edge(x + std::fmin(c * x0, c * x1) + std::fmin(s * y0, s * y1));
            right = Motion_Edge(x + std::fmax(c * x0, c * x1) + std::fmax(s * y0, s * y1));
            top = Motion_Edge(y + std::fmin(c * y0, c * y1) - std::fmax(s * x0, s * x1));
            bottom = Motion_Edge(y + std::fmax(c * y0, c * y1) - std::fmin(s * x0, s * x1));
        }
        box.left = Motion_EdgeToInt(left, int32_t(ix));
        box.top = Motion_EdgeToInt(top, int32_t(iy));
        box.right = Motion_EdgeToInt(right - 1.0, box.left);
        box.bottom = Motion_EdgeToInt(bottom - 1.0, box.top);
        instance->precise = facts.precise;
    }
    instance->bboxDirty = false;
    return refreshTree ? Collision_UpdateInstance(instance, old) : 0;
}
