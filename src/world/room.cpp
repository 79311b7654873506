// A room's instance lists: creation into them, depth order, deletion, and the running room.
#include "world/room.h"

#include "core/memory_manager.h"
#include "layers/layers.h"
#include "world/instance.h"

CRoom* Run_Room = nullptr;
int32_t Run_RoomIndex = -1;

void SetCurrentRoom(CRoom* room) { Run_Room = room; }

void* CRoom::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void CRoom::operator delete(void* p) { MemoryManager::Free(p); }

CRoom::~CRoom()
{
    DeleteActiveInstances();
    DeleteDeactivatedInstances();
    if (Run_Room == this) Run_Room = nullptr;
}

void InstanceList_InsertByDepth(CRoom* room, CInstance* instance)
{
    if (!room || !instance) return;
    if (instance->listKind != INSTANCE_IN_NO_LIST) InstanceList_Unlink(instance);
    CInstanceList& list = room->active;
    const float depth = instance->depth;
    CInstance* after = list.tail;
    while (after && depth < after->depthKey) after = after->prev;
    instance->prev = after;
    instance->next = after ? after->next : list.head;
    if (instance->next) instance->next->prev = instance;
    else list.tail = instance;
    if (after) after->next = instance;
    else list.head = instance;
    ++list.count;
    instance->depthKey = depth;
    instance->listRoom = room;
    instance->listKind = INSTANCE_IN_ACTIVE_LIST;
}

void InstanceList_AppendDeactivated(CRoom* room, CInstance* instance)
{
    if (!room || !instance) return;
    if (instance->listKind != INSTANCE_IN_NO_LIST) InstanceList_Unlink(instance);
    CInstanceList& list = room->deactivated;
    instance->next = nullptr;
    instance->prev = list.tail;
    if (list.tail) list.tail->next = instance;
    else list.head = instance;
    list.tail = instance;
    ++list.count;
    instance->listRoom = room;
    instance->listKind = INSTANCE_IN_DEACTIVATED_LIST;
}

void InstanceList_Unlink(CInstance* instance)
{
    if (!instance || !instance->listRoom || instance->listKind == INSTANCE_IN_NO_LIST) return;
    // The list the instance was put in, not the one its deactivated flag suggests: the flag changes at
    // once, the move only when activations are applied.
    CInstanceList& list =
        instance->listKind == INSTANCE_IN_DEACTIVATED_LIST ? instance->listRoom->deactivated : instance->listRoom->active;
    if (instance->prev) instance->prev->next = instance->next;
    else list.head = instance->next;
    if (instance->next) instance->next->prev = instance->prev;
    else list.tail = instance->prev;
    --list.count;
    instance->next = instance->prev = nullptr;
    instance->listRoom = nullptr;
    instance->listKind = INSTANCE_IN_NO_LIST;
}

namespace {

CInstance* Room_EnterInstance(CRoom* room, CInstance* instance, CLayer* layer)
{
    instance->CreatePhysicsBody(room);
    InstanceList_InsertByDepth(room, instance);
    InstanceIdMap_Insert(instance->id, instance);
    if (layer) Layer_AddInstanceToLayer(room, layer, instance);
    else Layer_AddInstance(room, instance);
    Collision_AddInstance(instance);
    return instance;
}

}  // namespace

CInstance* CRoom::AddInstance(float x, float y, int32_t objectIndex)
{
    const int32_t id = Instance_NextId();
    return Room_EnterInstance(this, new CInstance(x, y, id, objectIndex, true), nullptr);
}

CInstance* CRoom::AddInstanceWithDepth(float x, float y, float depth, int32_t objectIndex)
{
    const int32_t id = Instance_NextId();
    auto* instance = new CInstance(x, y, id, objectIndex, true);
    instance->depth = depth;
    return Room_EnterInstance(this, instance, nullptr);
}

CInstance* CRoom::AddInstanceOnLayer(float x, float y, CLayer* layer, int32_t objectIndex)
{
    if (!layer) return nullptr;
    const int32_t id = Instance_NextId();
    auto* instance = new CInstance(x, y, id, objectIndex, true);
    instance->depth = static_cast<float>(Layer_GetDepth(layer));
    return Room_EnterInstance(this, instance, layer);
}

void CRoom::DeleteInstance(CInstance* instance)
{
    if (!instance) return;
    Layer_RemoveInstance(this, instance);
    InstanceIdMap_Remove(instance);
    InstanceList_Unlink(instance);
    InstanceLists_Purge(instance);
    delete instance;
}

void CRoom::DeleteActiveInstances()
{
    while (active.head) DeleteInstance(active.head);
}

void CRoom::DeleteDeactivatedInstances()
{
    while (deactivated.head) DeleteInstance(deactivated.head);
}
