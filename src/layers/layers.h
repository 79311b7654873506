// Layers, tilemaps, instance collision, paths and motion: the operations the rest of the runtime calls.
#pragma once
#include <cstdint>

struct CInstance;
struct CRoom;
struct BoundingBox;
class CLayer;

// Layers of a room.
void Layer_BuildRoomLayers(CRoom* room, uint8_t* layerList);  // the layer list of a ROOM entry
void Layer_FreeRoomLayers(CRoom* room);
void Layer_CopyRoomLayers(CRoom* target, CRoom* source);
void Layer_RoomStart(CRoom* room);
void Layer_RoomEnd(CRoom* room);
void Layer_AddInstance(CRoom* room, CInstance* instance);
void Layer_AddInstanceToLayer(CRoom* room, CLayer* layer, CInstance* instance);
void Layer_RemoveInstance(CRoom* room, CInstance* instance);
void Layer_InstanceDepthChanged(CRoom* room, CInstance* instance);
int32_t Layer_FindLayerOfInstance(CRoom* room, int32_t instanceId);  // layer id or -1
CLayer* Layer_FindById(CRoom* room, int32_t id);
// The step's layer scrolling: each layer's timer, offsets and element animation.
void Layer_UpdateScrolling(CRoom* room);
int32_t Layer_GetDepth(CLayer* layer);  // 0 for null
bool Layer_IsDynamic(CLayer* layer);     // made at run time for an instance depth; false for null
// Self of layer begin and end scripts; null when there is none.
extern CInstance* Layer_ScriptInstance;

// Instance collision.
void HandleCollision();
// True when instance boxes live in the spatial tree: boxes truncate instead of rounding.
extern bool CollisionTreeMode;
void Collision_MarkDirty(CInstance* instance);
void Collision_AddInstance(CInstance* instance);
uint8_t Collision_UpdateInstance(CInstance* instance, const BoundingBox& oldBox);
void Collision_RemoveInstance(CInstance* instance);
void Collision_RebuildTree();
// Deletes the whole tree (before a mass removal that Collision_RebuildTree follows).
void Collision_DestroyTree();

// Growable array of instances; the game world keeps its deferred lists in these.
struct InstanceList {
    CInstance** items;
    int32_t capacity;
    int32_t count;
    // Index of the instance, appended when it is not there yet.
    int32_t AddUnique(CInstance* instance);
    // Removes every entry of the instance, keeping the order of the rest.
    void Remove(CInstance* instance);
    bool Contains(CInstance* instance) const;
    void Clear();  // count 0; the storage is kept
};

// Run commands.
// The message followed by the number in decimal, in a buffer the next call reuses.
const char* Command_FormatError(const char* message, int32_t number);
// room_goto and the room variable: the room becomes the pending room change (transition kind 0); a room
// that does not exist is a fatal error and the game ends (code -400).
void Command_GotoRoom(int32_t room, int32_t kind);
// game_end: the game ends after the current frame.
void F_GameEnd();

// Paths.
struct PathPoint {
    double x;
    double y;
    double speed;  // 100 = normal
};
class CPath {
public:
    double GetLength() const;
    // Point and speed factor (100 = normal) at relative position t in [0, 1].
    void GetPosition(double t, double* x, double* y, double* speed) const;
    double XPosition(double t) const;
    double YPosition(double t) const;

    // Until paths are loaded from the game data, a path is straight segments between its points.
    PathPoint* points = nullptr;  // memory manager
    int32_t count = 0;
    double length = 0.0;
};
// Tests make paths here until the path table is built: the new path's index.
int32_t Path_SeamAdd(const PathPoint* points, int32_t count);
void Path_Init();
bool Path_Load(uint8_t* body, uint32_t size, uint8_t* base);
CPath* Path_Data(int32_t index);
int32_t Path_Find(const char* name);

void MotionGrid_FreeAll();

// Built-in registration.
void InitGameFunctions();
void InitLayerFunctions();
