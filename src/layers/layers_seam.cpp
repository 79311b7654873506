// Until the layer and collision subsystem exists: rooms have no layers, no tree, no paths.
#include "layers/layers.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "world/instance.h"

CInstance* Layer_ScriptInstance = nullptr;
bool CollisionTreeMode = false;

void Layer_BuildRoomLayers(CRoom*, uint8_t*) { SeamTrace_Record("Layer_BuildRoomLayers"); }
void Layer_FreeRoomLayers(CRoom*) { SeamTrace_Record("Layer_FreeRoomLayers"); }
void Layer_CopyRoomLayers(CRoom*, CRoom*) { SeamTrace_Record("Layer_CopyRoomLayers"); }
void Layer_RoomStart(CRoom*) { SeamTrace_Record("Layer_RoomStart"); }
void Layer_RoomEnd(CRoom*) { SeamTrace_Record("Layer_RoomEnd"); }
void Layer_AddInstance(CRoom*, CInstance*) { SeamTrace_Record("Layer_AddInstance"); }
void Layer_AddInstanceToLayer(CRoom*, CLayer*, CInstance*) { SeamTrace_Record("Layer_AddInstanceToLayer"); }
void Layer_RemoveInstance(CRoom*, CInstance* instance)
{
    SeamTrace_Record("Layer_RemoveInstance");
    if (instance) instance->onLayer = false;
}
void Layer_InstanceDepthChanged(CRoom*, CInstance*) { SeamTrace_Record("Layer_InstanceDepthChanged"); }
int32_t Layer_FindLayerOfInstance(CRoom*, int32_t) { return -1; }
CLayer* Layer_FindById(CRoom*, int32_t) { return nullptr; }
void Layer_UpdateScrolling(CRoom*) { SeamTrace_Record("Layer_UpdateScrolling"); }
int32_t Layer_GetDepth(CLayer*) { return 0; }
bool Layer_IsDynamic(CLayer*) { return false; }

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

// Paths of the seam: straight segments, positions proportional to the distance along them.
namespace {
std::vector<CPath*, MemAllocator<CPath*>>* g_layersSeamPaths = nullptr;

double LayersSeam_SegmentLength(const PathPoint& a, const PathPoint& b) { return std::hypot(b.x - a.x, b.y - a.y); }

void LayersSeam_FreePaths()
{
    if (!g_layersSeamPaths) return;
    for (CPath* path : *g_layersSeamPaths) {
        MemFree(path->points);
        path->~CPath();
        MemFree(path);
    }
    g_layersSeamPaths->clear();
}
}  // namespace

double CPath::GetLength() const { return length; }

void CPath::GetPosition(double t, double* x, double* y, double* speed) const
{
    *x = *y = 0.0;
    *speed = 100.0;
    if (count <= 0) return;
    const PathPoint* hit = &points[count - 1];
    double along = std::clamp(std::isnan(t) ? 0.0 : t, 0.0, 1.0) * length;
    for (int32_t i = 0; i + 1 < count; ++i) {
        const double segment = LayersSeam_SegmentLength(points[i], points[i + 1]);
        if (along <= segment && segment > 0.0) {
            const double f = along / segment;
            const PathPoint& a = points[i];
            const PathPoint& b = points[i + 1];
            *x = a.x + (b.x - a.x) * f;
            *y = a.y + (b.y - a.y) * f;
            *speed = a.speed + (b.speed - a.speed) * f;
            return;
        }
        along -= segment;
    }
    *x = hit->x;
    *y = hit->y;
    *speed = hit->speed;
}

double CPath::XPosition(double t) const
{
    double x, y, speed;
    GetPosition(t, &x, &y, &speed);
    return x;
}

double CPath::YPosition(double t) const
{
    double x, y, speed;
    GetPosition(t, &x, &y, &speed);
    return y;
}

int32_t Path_SeamAdd(const PathPoint* points, int32_t count)
{
    if (!g_layersSeamPaths)
        g_layersSeamPaths = new (MemAlloc(sizeof(*g_layersSeamPaths))) std::vector<CPath*, MemAllocator<CPath*>>();
    auto* path = new (MemAlloc(sizeof(CPath))) CPath();
    path->count = count > 0 ? count : 0;
    path->points = static_cast<PathPoint*>(MemAlloc(sizeof(PathPoint) * size_t(path->count > 0 ? path->count : 1)));
    for (int32_t i = 0; i < path->count; ++i) path->points[i] = points[i];
    for (int32_t i = 0; i + 1 < path->count; ++i) path->length += LayersSeam_SegmentLength(points[i], points[i + 1]);
    g_layersSeamPaths->push_back(path);
    return int32_t(g_layersSeamPaths->size()) - 1;
}

void Path_Init()
{
    SeamTrace_Record("Path_Init");
    LayersSeam_FreePaths();
}
bool Path_Load(uint8_t*, uint32_t, uint8_t*)
{
    SeamTrace_Record("Path_Load");
    return true;
}
CPath* Path_Data(int32_t index)
{
    if (!g_layersSeamPaths || index < 0 || size_t(index) >= g_layersSeamPaths->size()) return nullptr;
    return (*g_layersSeamPaths)[size_t(index)];
}
int32_t Path_Find(const char*) { return -1; }

void MotionGrid_FreeAll() { SeamTrace_Record("MotionGrid_FreeAll"); }

void InitGameFunctions() { SeamTrace_Record("InitGameFunctions"); }
void InitLayerFunctions() { SeamTrace_Record("InitLayerFunctions"); }
