// The shape tests against an instance (point, rectangle, ellipse, line) and instance against instance: the
// box rejects first, the mask or the skeleton decides what the box cannot.
#include <cmath>
#include <utility>

#include "core/convert.h"
#include "draw/draw.h"
#include "layers/layers.h"
#include "net/net.h"
#include "skeleton/skeleton.h"
#include "world/instance.h"

namespace {

int32_t Collision_Frame(const CInstance* self) { return Real_ToInt32(self->imageIndex); }

// Instance positions for the pixel tests: truncated with the collision tree, rounded without it.
int32_t Collision_Position(double v) { return CollisionTreeMode ? Real_ToInt32(v) : Real_ToInt32Round(v); }

// The skeleton's attachments give the box when it has any; otherwise a dirty box is recomputed.
void Collision_RefreshBoxSlow(CInstance* self)
{
    if (self->skeleton) {
        BoundingBox box;
        if (self->skeleton->GetBoundingBox(&box, Collision_Frame(self), self->x, self->y, self->imageXScale,
                                           self->imageYScale, self->imageAngle)) {
            self->bbox = box;
            self->bboxDirty = false;
            self->precise = true;
            return;
        }
    }
    if (self->bboxDirty) Compute_BoundingBox(self, true);
}

inline void Collision_RefreshBox(CInstance* self)
{
    if (self->skeleton || self->bboxDirty) Collision_RefreshBoxSlow(self);
}

// The common start of the shape tests: false when the instance cannot collide or the extent misses the box.
inline bool Collision_ShapeMayHit(CInstance* self, double minX, double minY, double maxX, double maxY)
{
    Collision_RefreshBox(self);
    return !(BoundingBox_Misses(self->bbox, minX, minY, maxX, maxY) | self->markedForDeletion);
}

// The mask (or sprite) the pixel tests use; null facts when there is none or it has no frames.
bool Collision_MaskFacts(const CInstance* self, SpriteFacts* facts)
{
    const int32_t index = self->maskIndex >= 0 ? self->maskIndex : self->spriteIndex;
    return Sprite_GetFacts(index, facts) && facts->frameCount > 0;
}

struct CollisionPose {
    int32_t frame;
    int32_t x;
    int32_t y;
};

CollisionPose Collision_PoseOf(const CInstance* self)
{
    return {Collision_Frame(self), Collision_Position(self->x), Collision_Position(self->y)};
}

}  // namespace

bool Ellipse_ContainsPoint(double px, double py, double cx, double cy, double rx, double ry)
{
    const double dx = (px - cx) / rx, dy = (py - cy) / ry;
    return dx * dx + dy * dy <= 1.0;
}

bool CInstance::CollisionPointInBox(double px, double py, bool precise)
{
    if (!Collision_ShapeMayHit(this, px, py, px, py)) return false;
    SpriteFacts facts{};
    if (!Collision_MaskFacts(this, &facts)) return false;
    if (!precise || !facts.precise) return true;
    if (skeleton)
        return skeleton->CollisionPoint(imageIndex, x, y, imageXScale, imageYScale, imageAngle, float(px), float(py));
    const CollisionPose pose = Collision_PoseOf(this);
    return facts.sprite && facts.sprite->PreciseCollisionPoint(pose.frame, bbox, pose.x, pose.y, imageXScale,
                                                               imageYScale, imageAngle, Real_ToInt32Round(px),
                                                               Real_ToInt32Round(py));
}

bool CInstance::CollisionRectangle(double x1, double y1, double x2, double y2, bool precise)
{
    const double minX = std::fmin(x1, x2), maxX = std::fmax(x1, x2);
    const double minY = std::fmin(y1, y2), maxY = std::fmax(y1, y2);
    if (!Collision_ShapeMayHit(this, minX, minY, maxX, maxY)) return false;
    if (!precise || !this->precise) return true;
    SpriteFacts facts{};
    if (!Collision_MaskFacts(this, &facts)) return false;
    if (skeleton)
        return skeleton->CollisionRectangle(imageIndex, x, y, imageXScale, imageYScale, imageAngle, float(minX),
                                            float(minY), float(maxX), float(maxY));
    const CollisionPose pose = Collision_PoseOf(this);
    return facts.sprite && facts.sprite->PreciseCollisionRectangle(
                               pose.frame, bbox, pose.x, pose.y, imageXScale, imageYScale, imageAngle,
                               Real_ToInt32Round(minX), Real_ToInt32Round(minY), Real_ToInt32Round(maxX),
                               Real_ToInt32Round(maxY));
}

bool CInstance::CollisionEllipse(double x1, double y1, double x2, double y2, bool precise)
{
    const double minX = std::fmin(x1, x2), maxX = std::fmax(x1, x2);
    const double minY = std::fmin(y1, y2), maxY = std::fmax(y1, y2);
    if (!Collision_ShapeMayHit(this, minX, minY, maxX, maxY)) return false;
    const int32_t left = Real_ToInt32Round(minX), right = Real_ToInt32Round(maxX);
    const int32_t top = Real_ToInt32Round(minY), bottom = Real_ToInt32Round(maxY);
    // A flat ellipse is its rectangle.
    if (left == right || top == bottom) return CollisionRectangle(x1, y1, x2, y2, precise);

    const double cx = double((int64_t(left) + right) / 2), cy = double((int64_t(top) + bottom) / 2);
    const double rx = double((int64_t(right) - left) / 2), ry = double((int64_t(bottom) - top) / 2);
    const BoundingBox& b = bbox;
    const bool centreOutsideX = cx < b.left || cx > b.right;
    const bool centreOutsideY = cy < b.top || cy > b.bottom;
    if (centreOutsideX && centreOutsideY && !Ellipse_ContainsPoint(b.left, b.top, cx, cy, rx, ry) &&
        !Ellipse_ContainsPoint(b.right, b.top, cx, cy, rx, ry) &&
        !Ellipse_ContainsPoint(b.left, b.bottom, cx, cy, rx, ry) &&
        !Ellipse_ContainsPoint(b.right, b.bottom, cx, cy, rx, ry))
        return false;

    if (!precise || !this->precise) return true;
    SpriteFacts facts{};
    if (!Collision_MaskFacts(this, &facts)) return false;
    if (skeleton)
        return skeleton->CollisionEllipse(imageIndex, x, y, imageXScale, imageYScale, imageAngle, float(minX),
                                          float(minY), float(maxX), float(maxY));
    const CollisionPose pose = Collision_PoseOf(this);
    return facts.sprite && facts.sprite->PreciseCollisionEllipse(pose.frame, bbox, pose.x, pose.y, imageXScale,
                                                                 imageYScale, imageAngle, left, top, right, bottom);
}

bool CInstance::CollisionLine(double x1, double y1, double x2, double y2, bool precise)
{
    if (x1 > x2) {
        std::swap(x1, x2);
        std::swap(y1, y2);
    }
    if (!Collision_ShapeMayHit(this, x1, std::fmin(y1, y2), x2, std::fmax(y1, y2))) return false;

    // Clip to the box's columns, moving y along the segment.
    const double left = bbox.left, right = double(bbox.right) + 1.0;
    const double slope = x2 != x1 ? (y2 - y1) / (x2 - x1) : 0.0;
    double cx1 = x1, cy1 = y1, cx2 = x2, cy2 = y2;
    if (cx1 < left) {
        cy1 = y1 + (left - x1) * slope;
        cx1 = left;
    }
    if (cx2 > right) {
        cy2 = y1 + (right - x1) * slope;
        cx2 = right;
    }
    const double top = bbox.top, bottomEdge = double(bbox.bottom) + 1.0;
    if ((cy1 < top && cy2 < top) || (cy1 >= bottomEdge && cy2 >= bottomEdge)) return false;

    if (!precise || !this->precise) return true;
    SpriteFacts facts{};
    if (!Collision_MaskFacts(this, &facts)) return false;
    if (skeleton)
        return skeleton->CollisionLine(imageIndex, x, y, imageXScale, imageYScale, imageAngle, float(cx1),
                                       float(cy1), float(cx2), float(cy2));
    const CollisionPose pose = Collision_PoseOf(this);
    return facts.sprite && facts.sprite->PreciseCollisionLine(pose.frame, bbox, pose.x, pose.y, imageXScale,
                                                              imageYScale, imageAngle, Real_ToInt32Round(cx1),
                                                              Real_ToInt32Round(cy1), Real_ToInt32Round(cx2),
                                                              Real_ToInt32Round(cy2));
}

namespace {
bool Collision_BoxesOverlap(const BoundingBox& a, const BoundingBox& b)
{
    // right + 1 and bottom + 1 in 64 bits: an edge at INT32_MAX must not wrap.
    return int64_t(b.left) < int64_t(a.right) + 1 && int64_t(a.left) < int64_t(b.right) + 1 &&
           int64_t(b.top) < int64_t(a.bottom) + 1 && int64_t(a.top) < int64_t(b.bottom) + 1;
}
}  // namespace

bool CInstance::CollisionSkeleton(CInstance* a, CInstance* b, bool precise)
{
    Collision_RefreshBox(b);
    Collision_RefreshBox(a);
    if (!Collision_BoxesOverlap(a->bbox, b->bbox)) return false;
    SpriteFacts bFacts{};
    if (!Collision_MaskFacts(b, &bFacts)) return false;
    SpriteFacts aFacts{};
    const bool aPrecise = Sprite_GetFacts(a->spriteIndex, &aFacts) && aFacts.precise;
    if (!precise || (!aPrecise && !bFacts.precise)) return true;
    if (b->skeleton)
        return a->skeleton->CollisionSkeleton(a->imageIndex, a->x, a->y, a->imageXScale, a->imageYScale,
                                              a->imageAngle, b->skeleton, b->imageIndex, b->x, b->y,
                                              b->imageXScale, b->imageYScale, b->imageAngle);
    return a->skeleton->CollisionSprite(a->imageIndex, a->x, a->y, a->imageXScale, a->imageYScale, a->imageAngle,
                                        bFacts.sprite, b->bbox, b->imageIndex, b->x, b->y, b->imageXScale,
                                        b->imageYScale, b->imageAngle);
}

bool Collision_Instance(CInstance* a, CInstance* b, bool precise)
{
    ProfilerRegion region(6, 1);
    if (a == b || a->markedForDeletion || b->markedForDeletion) return false;
    if (a->skeleton) return CInstance::CollisionSkeleton(a, b, precise);
    if (b->skeleton) return CInstance::CollisionSkeleton(b, a, precise);
    if (b->bboxDirty) Compute_BoundingBox(b, true);
    if (a->bboxDirty) Compute_BoundingBox(a, true);
    if (!Collision_BoxesOverlap(a->bbox, b->bbox)) return false;
    SpriteFacts aFacts{}, bFacts{};
    if (!Collision_MaskFacts(a, &aFacts) || !Collision_MaskFacts(b, &bFacts)) return false;
    if (!precise || (!aFacts.precise && !bFacts.precise)) return true;
    const CollisionPose pa = Collision_PoseOf(a), pb = Collision_PoseOf(b);
    return PreciseCollision(aFacts.sprite, pa.frame, a->bbox, pa.x, pa.y, a->imageXScale, a->imageYScale,
                            a->imageAngle, bFacts.sprite, pb.frame, b->bbox, pb.x, pb.y, b->imageXScale,
                            b->imageYScale, b->imageAngle);
}
