// Stand-in until instance motion and collision tests are built: speeds and paths change nothing, boxes
// stay as they were set, and a point test reads the box of an instance whose sprite (or mask) has frames.
#include "core/seam_trace.h"
#include "draw/draw.h"
#include "world/instance.h"

void CInstance::ApplyFrictionGravity() { SeamTrace_Record("CInstance::ApplyFrictionGravity"); }

bool CInstance::AdvancePath()
{
    SeamTrace_Record("CInstance::AdvancePath");
    return false;
}

bool CInstance::CollisionPoint(float px, float py, bool)
{
    if (bboxDirty) Compute_BoundingBox(this, true);
    if (markedForDeletion) return false;
    SpriteFacts facts{};
    if (!Sprite_GetFacts(maskIndex >= 0 ? maskIndex : spriteIndex, &facts) || facts.frameCount <= 0) return false;
    return px >= float(bbox.left) && px < float(bbox.right) + 1.0f && py >= float(bbox.top) &&
           py < float(bbox.bottom) + 1.0f;
}

void Compute_BoundingBox(CInstance* instance, bool)
{
    SeamTrace_Record("Compute_BoundingBox");
    instance->bboxDirty = false;
}
