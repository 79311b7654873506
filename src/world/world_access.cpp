// The world table. The game's own world (the running room, the id map, the object table) answers by
// default; tests may install another.
#include "world/world_access.h"

#include "layers/layers.h"
#include "world/instance.h"
#include "world/object.h"
#include "world/room.h"

namespace {

// Linked lists keep the next instance in the cursor, so the returned one may leave its list meanwhile.
CInstance* RealWorld_NextLinked(CInstance* first, WorldCursor* cursor)
{
    if (cursor->at == 0) {
        cursor->at = 1;
        cursor->node = first;
    }
    auto* instance = static_cast<CInstance*>(cursor->node);
    if (instance) cursor->node = instance->next;
    return instance;
}

CInstance* RealWorld_NextArray(const InstanceList& list, WorldCursor* cursor)
{
    if (cursor->at < 0 || cursor->at >= list.count) return nullptr;
    return list.items[cursor->at++];
}

CInstance* RealWorld_Next(int32_t list, int32_t objectIndex, WorldCursor* cursor)
{
    switch (list) {
    case WORLD_LIST_ROOM: return Run_Room ? RealWorld_NextLinked(Run_Room->active.head, cursor) : nullptr;
    case WORLD_LIST_DEACTIVATED:
        return Run_Room ? RealWorld_NextLinked(Run_Room->deactivated.head, cursor) : nullptr;
    case WORLD_LIST_OBJECT: {
        if (cursor->at == 0) {
            CObject* object = Object_Data(objectIndex);
            cursor->at = 1;
            cursor->node = object ? object->instancesRecursive.head : nullptr;
        }
        auto* node = static_cast<SLinkedListNode<CInstance*>*>(cursor->node);
        if (!node) return nullptr;
        cursor->node = node->next;
        return node->value;
    }
    case WORLD_LIST_PENDING_CHANGE: return RealWorld_NextArray(g_ObjectChangeList, cursor);
    case WORLD_LIST_PENDING_ACTIVATION: return RealWorld_NextArray(g_ActivationList, cursor);
    default: return nullptr;
    }
}

CInstance* RealWorld_Find(int32_t id) { return InstanceIdMap_Find(id); }
int32_t RealWorld_InstanceId(CInstance* i) { return i->id; }
int32_t RealWorld_InstanceObject(CInstance* i) { return i->objectIndex; }
bool RealWorld_InstanceMarked(CInstance* i) { return i->markedForDeletion; }
bool RealWorld_InstanceDeactivated(CInstance* i) { return i->deactivated; }
QZObjectBase* RealWorld_ScriptObject(CInstance* i) { return i; }

const WorldAccess kRealWorld = {
    RealWorld_Next,           RealWorld_Find,           ObjectTable_Exists,
    ObjectTable_Name,         ObjectTable_Parent,       RealWorld_InstanceId,
    RealWorld_InstanceObject, RealWorld_InstanceMarked, RealWorld_InstanceDeactivated,
    RealWorld_ScriptObject,
};

CInstance* EmptyWorld_Next(int32_t, int32_t, WorldCursor*) { return nullptr; }
CInstance* EmptyWorld_Find(int32_t) { return nullptr; }
bool EmptyWorld_ObjectExists(int32_t) { return false; }
const char* EmptyWorld_ObjectName(int32_t) { return nullptr; }
int32_t EmptyWorld_ObjectParent(int32_t) { return -1; }
int32_t EmptyWorld_InstanceId(CInstance*) { return -1; }
int32_t EmptyWorld_InstanceObject(CInstance*) { return -1; }
bool EmptyWorld_InstanceFlag(CInstance*) { return false; }
QZObjectBase* EmptyWorld_ScriptObject(CInstance*) { return nullptr; }

const WorldAccess kEmptyWorld = {
    EmptyWorld_Next,         EmptyWorld_Find,         EmptyWorld_ObjectExists, EmptyWorld_ObjectName,
    EmptyWorld_ObjectParent, EmptyWorld_InstanceId,   EmptyWorld_InstanceObject, EmptyWorld_InstanceFlag,
    EmptyWorld_InstanceFlag, EmptyWorld_ScriptObject,
};

const WorldAccess* g_worldAccess = &kRealWorld;

// Parent chains come from the game data: a loop must not hang the walk.
constexpr int32_t kWorldMaxAncestors = 100000;

}  // namespace

const WorldAccess* World_SetAccess(const WorldAccess* access)
{
    const WorldAccess* old = g_worldAccess;
    g_worldAccess = access ? access : &kRealWorld;
    return old;
}

const WorldAccess* World_Access() { return g_worldAccess; }
const WorldAccess* World_EmptyAccess() { return &kEmptyWorld; }

CInstance* World_NextInstance(WorldList list, int32_t objectIndex, WorldCursor* cursor)
{
    return cursor ? g_worldAccess->nextInstance(list, objectIndex, cursor) : nullptr;
}

CInstance* Hash_FindInstance(int32_t id) { return g_worldAccess->findInstance(id); }

bool Object_Exists(int32_t objectIndex) { return g_worldAccess->objectExists(objectIndex); }

const char* Object_GetName(int32_t objectIndex)
{
    const char* name = g_worldAccess->objectExists(objectIndex) ? g_worldAccess->objectName(objectIndex) : nullptr;
    return name ? name : "<undefined>";
}

int32_t Object_GetParent(int32_t objectIndex)
{
    if (!g_worldAccess->objectExists(objectIndex)) return -1;
    const int32_t parent = g_worldAccess->objectParent(objectIndex);
    return parent < 0 ? -1 : parent;
}

bool Object_IsAncestorOrSelf(int32_t ancestor, int32_t objectIndex)
{
    if (ancestor < 0) return false;
    for (int32_t o = objectIndex, steps = 0; o >= 0 && steps < kWorldMaxAncestors; o = Object_GetParent(o), ++steps)
        if (o == ancestor) return true;
    return false;
}

int32_t Instance_GetId(CInstance* instance) { return instance ? g_worldAccess->instanceId(instance) : -1; }

int32_t Instance_GetObjectIndex(CInstance* instance)
{
    return instance ? g_worldAccess->instanceObjectIndex(instance) : -1;
}

bool Instance_IsMarked(CInstance* instance) { return instance && g_worldAccess->instanceMarked(instance); }

bool Instance_IsDeactivated(CInstance* instance)
{
    return instance && g_worldAccess->instanceDeactivated(instance);
}

bool Instance_IsLive(CInstance* instance)
{
    return instance && !g_worldAccess->instanceMarked(instance) && !g_worldAccess->instanceDeactivated(instance);
}

QZObjectBase* Instance_GetScriptObject(CInstance* instance)
{
    return instance ? g_worldAccess->instanceScriptObject(instance) : nullptr;
}
