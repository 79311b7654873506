// Skeletal animation: the operations the rest of the runtime calls.
#pragma once
#include <cstdint>

class CSkeletonInstance;

// A pose state for an instance showing a skeleton sprite; null when the sprite has no skeleton data.
CSkeletonInstance* Skeleton_CreateInstance(int32_t spriteIndex);
// An independent copy (instance copies keep their pose); null for null.
CSkeletonInstance* Skeleton_CopyInstance(const CSkeletonInstance* source);
void Skeleton_DeleteInstance(CSkeletonInstance* instance);
// The sprite's animation duration in seconds; 0 without skeleton data.
double Skeleton_AnimationDuration(int32_t spriteIndex);
