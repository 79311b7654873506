// Until the layer and collision subsystem exists: rooms have no layers, no tree, no paths.
#include "layers/layers.h"

#include "core/memory_manager.h"
#include "core/seam_trace.h"

CInstance* Layer_ScriptInstance = nullptr;
bool CollisionTreeMode = false;

void Layer_BuildRoomLayers(CRoom*, uint8_t*) { SeamTrace_Record("Layer_BuildRoomLayers"); }
void Layer_FreeRoomLayers(CRoom*) { SeamTrace_Record("Layer_FreeRoomLayers"); }
void Layer_CopyRoomLayers(CRoom*, CRoom*) { SeamTrace_Record("Layer_CopyRoomLayers"); }
void Layer_RoomStart(CRoom*) { SeamTrace_Record("Layer_RoomStart"); }
void Layer_RoomEnd(CRoom*) { SeamTrace_Record("Layer_RoomEnd"); }
void Layer_AddInstance(CRoom*, CInstance*) { SeamTrace_Record("Layer_AddInstance"); }
void Layer_AddInstanceToLayer(CRoom*, CLayer*, CInstance*) { SeamTrace_Record("Layer_AddInstanceToLayer"); }
void Layer_RemoveInstance(CRoom*, CInstance*) { SeamTrace_Record("Layer_RemoveInstance"); }
void Layer_InstanceDepthChanged(CRoom*, CInstance*) { SeamTrace_Record("Layer_InstanceDepthChanged"); }
int32_t Layer_FindLayerOfInstance(CRoom*, int32_t) { return -1; }
CLayer* Layer_FindById(CRoom*, int32_t) { return nullptr; }
void Layer_UpdateScrolling(CRoom*) { SeamTrace_Record("Layer_UpdateScrolling"); }
int32_t Layer_GetDepth(CLayer*) { return 0; }

void HandleCollision() { SeamTrace_Record("HandleCollision"); }
void Collision_MarkDirty(CInstance*) { SeamTrace_Record("Collision_MarkDirty"); }
void Collision_AddInstance(CInstance*) { SeamTrace_Record("Collision_AddInstance"); }
uint8_t Collision_UpdateInstance(CInstance*, const BoundingBox&)
{
    SeamTrace_Record("Collision_UpdateInstance");
    return 0;
}
void Collision_RemoveInstance(CInstance*) { SeamTrace_Record("Collision_RemoveInstance"); }
void Collision_RebuildTree() { SeamTrace_Record("Collision_RebuildTree"); }
void Collision_DestroyTree() { SeamTrace_Record("Collision_DestroyTree"); }

int32_t InstanceList::AddUnique(CInstance* instance)
{
    // A full list grows before the search, even when the instance turns out to be there.
    if (count == capacity) {
        // Doubling from nothing would stay at nothing; an empty list starts with 32 slots.
        int32_t grown = capacity > 0 ? capacity * 2 : 32;
        items = static_cast<CInstance**>(MemReAlloc(items, sizeof(CInstance*) * (size_t)grown));
        capacity = grown;
    }
    for (int32_t i = 0; i < count; ++i)
        if (items[i] == instance) return i;
    items[count] = instance;
    return count++;
}

void InstanceList::Remove(CInstance* instance)
{
    int32_t kept = 0;
    for (int32_t i = 0; i < count; ++i)
        if (items[i] != instance) items[kept++] = items[i];
    count = kept;
}

bool InstanceList::Contains(CInstance* instance) const
{
    for (int32_t i = 0; i < count; ++i)
        if (items[i] == instance) return true;
    return false;
}

void InstanceList::Clear() { count = 0; }

// No path exists while paths are a seam, so these are never reached.
double CPath::GetLength() const { return 0.0; }
void CPath::GetPosition(double, double*, double*, double*) const {}
double CPath::XPosition(double) const { return 0.0; }
double CPath::YPosition(double) const { return 0.0; }

void Path_Init() { SeamTrace_Record("Path_Init"); }
bool Path_Load(uint8_t*, uint32_t, uint8_t*)
{
    SeamTrace_Record("Path_Load");
    return true;
}
CPath* Path_Data(int32_t) { return nullptr; }
int32_t Path_Find(const char*) { return -1; }

void MotionGrid_FreeAll() { SeamTrace_Record("MotionGrid_FreeAll"); }

void InitGameFunctions() { SeamTrace_Record("InitGameFunctions"); }
void InitLayerFunctions() { SeamTrace_Record("InitLayerFunctions"); }
