// Until skeletal animation exists: no sprite carries skeleton data, so no pose state is made here; tests
// give instances pose states of their own and answer their collision questions through the hooks.
#include "skeleton/skeleton.h"

#include "core/console.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"

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

// No skeleton data behind a pose state: every name is unknown.
void CSkeletonInstance::SetAnimation(const char*) {}
void CSkeletonInstance::SetAnimationExt(const char*, int32_t) {}
void CSkeletonInstance::SetAnimationMix(const char*, const char*, float) {}
void CSkeletonInstance::ClearTrack(int32_t) {}
const char* CSkeletonInstance::GetAnimationName(int32_t) { return ""; }
float CSkeletonInstance::GetAnimationDuration(const char* name)
{
    DebugConsole->Output("WARNING: Could not find animation \"%s\"\n", name ? name : "");
    return 0.0f;
}
void CSkeletonInstance::SetSkin(const char*) {}
const char* CSkeletonInstance::GetSkinName() { return ""; }
void CSkeletonInstance::SetAttachment(const char*, const char*) {}
const char* CSkeletonInstance::GetAttachmentName(const char*) { return ""; }
void CSkeletonInstance::CreateAttachment(const char*, CSprite*, int32_t, float, float, float, float, float) {}
bool CSkeletonInstance::GetBoneData(const char*, int32_t) { return false; }
bool CSkeletonInstance::SetBoneData(const char*, int32_t) { return false; }
bool CSkeletonInstance::GetBoneState(const char*, int32_t) { return false; }
bool CSkeletonInstance::SetBoneState(const char*, int32_t) { return false; }

namespace {
const SkeletonSeamHooks* g_skeletonSeamSpriteHooks = nullptr;
}  // namespace

const SkeletonSeamHooks* Skeleton_SetSeamHooks(const SkeletonSeamHooks* hooks)
{
    const SkeletonSeamHooks* old = g_skeletonSeamSpriteHooks;
    g_skeletonSeamSpriteHooks = hooks;
    return old;
}

void* CSkeletonSprite::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void CSkeletonSprite::operator delete(void* p) { MemFree(p); }

// The content is taken and dropped: the sprite keeps its place in the table, but nothing can pose it.
bool CSkeletonSprite::LoadFromChunk(const uint8_t* data, uint32_t size, int32_t jsonLength, int32_t atlasLength,
                                    const int32_t textureWords[3])
{
    SeamTrace_Record("CSkeletonSprite::LoadFromChunk");
    const SkeletonSeamHooks* h = g_skeletonSeamSpriteHooks;
    if (h && h->loadFromChunk) h->loadFromChunk(this, data, size, jsonLength, atlasLength, textureWords);
    return true;
}
bool CSkeletonSprite::LoadFromFile(const char*)
{
    SeamTrace_Record("CSkeletonSprite::LoadFromFile");
    return false;
}
bool CSkeletonSprite::IsValid() const { return false; }

void CSkeletonSprite::DrawInstance(int32_t frame, float x, float y, float xscale, float yscale, float angle,
                                   uint32_t colour, float alpha)
{
    SeamTrace_Record("CSkeletonSprite::DrawInstance");
    const SkeletonSeamHooks* h = g_skeletonSeamSpriteHooks;
    if (h && h->drawInstance) h->drawInstance(this, frame, x, y, xscale, yscale, angle, colour, alpha);
}
void CSkeletonSprite::Draw(const char*, const char*, int32_t, float, float, float, float, float, uint32_t, float,
                           CInstance*)
{
    SeamTrace_Record("CSkeletonSprite::Draw");
}
void CSkeletonSprite::DrawTime(const char*, const char*, float, float, float, float, float, float, uint32_t, float,
                               CInstance*)
{
    SeamTrace_Record("CSkeletonSprite::DrawTime");
}
void CSkeletonSprite::DrawCollision(const char*, int32_t, float, float, float, float, float, uint32_t)
{
    SeamTrace_Record("CSkeletonSprite::DrawCollision");
}
void CSkeletonSprite::GetAnimationList(int32_t) {}
void CSkeletonSprite::GetSkinList(int32_t) {}
void CSkeletonSprite::GetSlotData(int32_t) {}
