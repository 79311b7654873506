// Until skeletal animation exists: no sprite carries skeleton data, so no pose state is ever made.
#include "skeleton/skeleton.h"

CSkeletonInstance* Skeleton_CreateInstance(int32_t) { return nullptr; }
CSkeletonInstance* Skeleton_CopyInstance(const CSkeletonInstance*) { return nullptr; }
void Skeleton_DeleteInstance(CSkeletonInstance*) {}
double Skeleton_AnimationDuration(int32_t) { return 0.0; }
