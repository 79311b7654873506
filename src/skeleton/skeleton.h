// Skeletal animation: the operations the rest of the runtime calls.
#pragma once
#include <cstdint>

struct BoundingBox;
class CSprite;

// The pose state of one instance showing a skeleton sprite. Until skeletal animation exists its collision
// questions go to the test hooks below (no box, no hit without them).
class CSkeletonInstance {
public:
    // True when the posed skeleton has bounding attachments; the box is then the instance's box.
    bool GetBoundingBox(BoundingBox* out, int32_t imageIndex, float x, float y, float xscale, float yscale,
                        float angle);
    // The pose is given as (image index, x, y, xscale, yscale, angle); shapes in room coordinates.
    bool CollisionPoint(float imageIndex, float x, float y, float xscale, float yscale, float angle, float px,
                        float py);
    bool CollisionRectangle(float imageIndex, float x, float y, float xscale, float yscale, float angle,
                            float x1, float y1, float x2, float y2);
    bool CollisionEllipse(float imageIndex, float x, float y, float xscale, float yscale, float angle, float x1,
                          float y1, float x2, float y2);
    bool CollisionLine(float imageIndex, float x, float y, float xscale, float yscale, float angle, float x1,
                       float y1, float x2, float y2);
    bool CollisionSkeleton(float imageIndex, float x, float y, float xscale, float yscale, float angle,
                           CSkeletonInstance* other, float otherImageIndex, float otherX, float otherY,
                           float otherXScale, float otherYScale, float otherAngle);
    bool CollisionSprite(float imageIndex, float x, float y, float xscale, float yscale, float angle,
                         CSprite* sprite, const BoundingBox& spriteBox, float spriteImageIndex, float spriteX,
                         float spriteY, float spriteXScale, float spriteYScale, float spriteAngle);
};

// Test doubles for the seam's collision answers (each may be null). Shape kinds: 0 point (x1, y1),
// 1 rectangle, 2 ellipse, 3 line (corners or ends in x1 ... y2); 4 another skeleton (other: its pose
// state), 5 a sprite (other: the CSprite).
struct SkeletonCollisionHooks {
    bool (*boundingBox)(CSkeletonInstance* skeleton, BoundingBox* out, int32_t imageIndex, float x, float y);
    bool (*collision)(CSkeletonInstance* skeleton, int32_t shape, float x1, float y1, float x2, float y2,
                      const void* other);
};
const SkeletonCollisionHooks* Skeleton_SetCollisionHooks(const SkeletonCollisionHooks* hooks);

// A pose state for an instance showing a skeleton sprite; null when the sprite has no skeleton data.
CSkeletonInstance* Skeleton_CreateInstance(int32_t spriteIndex);
// An independent copy (instance copies keep their pose); null for null.
CSkeletonInstance* Skeleton_CopyInstance(const CSkeletonInstance* source);
void Skeleton_DeleteInstance(CSkeletonInstance* instance);
// The sprite's animation duration in seconds; 0 without skeleton data.
double Skeleton_AnimationDuration(int32_t spriteIndex);
