// What variable access by target (and, later, with-blocks) reads of the running game world: the room's
// instance lists, instances by id, objects and their parents, and a few fields of an instance.
//
// Everything goes through one table of functions. By default the game's own world answers; tests may
// install a fake or the empty world.
#pragma once
#include <cstdint>

struct CInstance;
struct QZObjectBase;

// The instance lists the world keeps.
enum WorldList : int32_t {
    WORLD_LIST_ROOM = 0,                // the running room's active instances, in room order
    WORLD_LIST_OBJECT = 1,              // an object's instances: those of the object and of its descendants
    WORLD_LIST_PENDING_CHANGE = 2,      // instances waiting for a deferred object change
    WORLD_LIST_PENDING_ACTIVATION = 3,  // instances waiting for a deferred activation
    WORLD_LIST_DEACTIVATED = 4,         // the running room's deactivated instances
};

// Position in a list walk; start from a zeroed cursor. What the two words mean is up to the world (an
// index, a node), so callers only pass it back.
struct WorldCursor {
    intptr_t at = 0;
    void* node = nullptr;
};

struct WorldAccess {
    // The next instance of a list (objectIndex is read for WORLD_LIST_OBJECT only), null at the end.
    CInstance* (*nextInstance)(int32_t list, int32_t objectIndex, WorldCursor* cursor);
    CInstance* (*findInstance)(int32_t id);  // active or deactivated instance of that id, or null
    bool (*objectExists)(int32_t objectIndex);
    const char* (*objectName)(int32_t objectIndex);  // null when there is no such object
    int32_t (*objectParent)(int32_t objectIndex);    // negative when none
    int32_t (*instanceId)(CInstance* instance);
    int32_t (*instanceObjectIndex)(CInstance* instance);
    bool (*instanceMarked)(CInstance* instance);       // marked for deletion
    bool (*instanceDeactivated)(CInstance* instance);
    QZObjectBase* (*instanceScriptObject)(CInstance* instance);  // where its variables live
};

// Installs a world (null restores the game's own: the running room, the id map and the object table);
// returns the table installed before (never null).
// The table must outlive its installation.
const WorldAccess* World_SetAccess(const WorldAccess* access);
const WorldAccess* World_Access();
const WorldAccess* World_EmptyAccess();  // no room, no instances, no objects

CInstance* World_NextInstance(WorldList list, int32_t objectIndex, WorldCursor* cursor);
CInstance* Hash_FindInstance(int32_t id);
bool Object_Exists(int32_t objectIndex);
const char* Object_GetName(int32_t objectIndex);  // "<undefined>" when there is no such object
int32_t Object_GetParent(int32_t objectIndex);    // -1 when none
// True when objectIndex is the given object or one of its ancestors (a parent loop ends the walk).
bool Object_IsAncestorOrSelf(int32_t ancestor, int32_t objectIndex);

int32_t Instance_GetId(CInstance* instance);
int32_t Instance_GetObjectIndex(CInstance* instance);
bool Instance_IsMarked(CInstance* instance);
bool Instance_IsDeactivated(CInstance* instance);
// Neither marked for deletion nor deactivated.
bool Instance_IsLive(CInstance* instance);
QZObjectBase* Instance_GetScriptObject(CInstance* instance);
