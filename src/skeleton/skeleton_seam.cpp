// Until skeletal animation exists: no sprite carries skeleton data, so no pose state is made here; tests
// give instances pose states of their own and answer their collision questions through the hooks.
#include "skeleton/skeleton.h"

namespace {
const SkeletonCollisionHooks* g_skeletonSeamHooks = nullptr;

bool SkeletonSeam_Collide(CSkeletonInstance* self, int32_t shape, float x1, float y1, float x2, float y2,
                          const void* other)
{
    const SkeletonCollisionHooks* h = g_skeletonSeamHooks;
    return h && h->collision && h->collision(self, shape, x1, y1, x2, y2, other);
}
}  // namespace

const SkeletonCollisionHooks* Skeleton_SetCollisionHooks(const SkeletonCollisionHooks* hooks)
{
    const SkeletonCollisionHooks* old = g_skeletonSeamHooks;
    g_skeletonSeamHooks = hooks;
    return old;
}

bool CSkeletonInstance::GetBoundingBox(BoundingBox* out, int32_t imageIndex, float x, float y, float, float,
                                       float)
{
    const SkeletonCollisionHooks* h = g_skeletonSeamHooks;
    return h && h->boundingBox && h->boundingBox(this, out, imageIndex, x, y);
}
bool CSkeletonInstance::CollisionPoint(float, float, float, float, float, float, float px, float py)
{
    return SkeletonSeam_Collide(this, 0, px, py, px, py, nullptr);
}
bool CSkeletonInstance::CollisionRectangle(float, float, float, float, float, float, float x1, float y1, float x2,
                                           float y2)
{
    return SkeletonSeam_Collide(this, 1, x1, y1, x2, y2, nullptr);
}
bool CSkeletonInstance::CollisionEllipse(float, float, float, float, float, float, float x1, float y1, float x2,
                                         float y2)
{
    return SkeletonSeam_Collide(this, 2, x1, y1, x2, y2, nullptr);
}
bool CSkeletonInstance::CollisionLine(float, float, float, float, float, float, float x1, float y1, float x2,
                                      float y2)
{
    return SkeletonSeam_Collide(this, 3, x1, y1, x2, y2, nullptr);
}
bool CSkeletonInstance::CollisionSkeleton(float, float, float, float, float, float, CSkeletonInstance* other,
                                          float, float, float, float, float, float)
{
    return SkeletonSeam_Collide(this, 4, 0.0f, 0.0f, 0.0f, 0.0f, other);
}
bool CSkeletonInstance::CollisionSprite(float, float, float, float, float, float, CSprite* sprite,
                                        const BoundingBox&, float, float, float, float, float, float)
{
    return SkeletonSeam_Collide(this, 5, 0.0f, 0.0f, 0.0f, 0.0f, sprite);
}

CSkeletonInstance* Skeleton_CreateInstance(int32_t) { return nullptr; }
CSkeletonInstance* Skeleton_CopyInstance(const CSkeletonInstance*) { return nullptr; }
void Skeleton_DeleteInstance(CSkeletonInstance*) {}
double Skeleton_AnimationDuration(int32_t) { return 0.0; }
