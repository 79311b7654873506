// The room record: its instance lists, creation into them, depth order, deletion, activation, copying a room
// and the per-step upkeep; and the running room.
#include "world/room.h"

#include <cstring>

#include "core/code.h"
#include "core/convert.h"
#include "core/error.h"
#include "core/memory_manager.h"
#include "core/text.h"
#include "core/variables.h"
#include "draw/draw.h"
#include "layers/layers.h"
#include "physics/physics.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/object.h"

CRoom* Run_Room = nullptr;
int32_t Run_RoomIndex = -1;
int32_t Room_MarkedCount = 0;

void SetCurrentRoom(CRoom* room) { Run_Room = room; }

void* CRoom::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void CRoom::operator delete(void* p) { MemFree(p); }

CRoom::CRoom() { Clear(); }

CRoom::~CRoom()
{
    delete physicsWorld;
    physicsWorld = nullptr;
    MemFree(caption);
    caption = nullptr;
    MemFree(creationCodeText);
    creationCodeText = nullptr;
    Clear();
    MemFree(name);
    if (Run_Room == this) Run_Room = nullptr;
}

namespace {

// The view cameras of newer-format games.
void Room_DestroyViewCameras(CRoom* room)
{
    if (!g_GameData.newMode) return;
    for (CView& view : room->views) {
        if (view.cameraId != -1) CCameraManager::DestroyCamera(view.cameraId);
        view.cameraId = -1;
    }
}

char* Room_CopyText(const char* text) { return text ? String_Duplicate(text) : nullptr; }

}  // namespace

void CRoom::Clear()
{
    speed = 30;
    width = 640;
    height = 480;
    persistent = false;
    colour = 0xC0C0C0;
    showColour = true;
    viewsEnabled = viewClear = displayClear = false;
    usesPhysics = false;
    gravityX = gravityY = 0;
    pixelsToMetres = 0.0f;
    for (RoomBackground& background : backgrounds) background = RoomBackground();
    Room_DestroyViewCameras(this);
    for (CView& view : views) {
        const int32_t surface = view.surfaceId;
        view = CView();
        view.surfaceId = surface;
    }
    DeleteActiveInstances();
    DeleteDeactivatedInstances();
    creationOrder.clear();
    creationOrder.shrink_to_fit();
    RunningTiles_Free(tiles);
    Layer_FreeRoomLayers(this);
}

void CRoom::SetName(const char* text)
{
    MemFree(name);
    name = Room_CopyText(text);
}

// ---- instance lists -------------------------------------------------------------------------------------

void InstanceList_InsertByDepth(CRoom* room, CInstance* instance)
{
    if (!room || !instance) return;
    if (instance->listKind != INSTANCE_IN_NO_LIST) InstanceList_Unlink(instance);
    CInstanceList& list = room->active;
    const float depth = instance->depth;
    // From the tail: equal depths (the common case) insert at once.
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

void CRoom::RemoveMarkedInstances()
{
    const bool rebuild = CollisionTreeMode && Room_MarkedCount > ROOM_TREE_REBUILD_THRESHOLD;
    // Many removals at once: one rebuild is cheaper than as many tree updates.
    if (rebuild) Collision_DestroyTree();
    for (CInstance* instance = active.head; instance;) {
        CInstance* next = instance->next;
        if (instance->markedForDeletion) {
            g_DepthChangeList.Remove(instance);
            DeleteInstance(instance);
        }
        instance = next;
    }
    if (rebuild) Collision_RebuildTree();
    Room_MarkedCount = 0;
}

void CRoom::UpdateActivation()
{
    for (CInstance* instance = deactivated.head; instance;) {
        CInstance* next = instance->next;
        if (!instance->deactivated) {
            InstanceList_InsertByDepth(this, instance);
            instance->JoinObjectLists();
        }
        instance = next;
    }
    for (CInstance* instance = active.head; instance;) {
        CInstance* next = instance->next;
        if (instance->deactivated) {
            InstanceList_AppendDeactivated(this, instance);
            instance->LeaveObjectLists();
        }
        instance = next;
    }
}

void CRoom::ScrollBackgrounds()
{
    for (RoomBackground& background : backgrounds) {
        background.x += background.hspeed;
        background.y += background.vspeed;
    }
}

void CRoom::UpdateLayerScrolling()
{
    if (!g_GameData.newMode) return;
    Layer_UpdateScrolling(this);
}

// ---- copying a room -------------------------------------------------------------------------------------

namespace {

// An instance of the room's records; null for a record that names no object index.
CInstance* Room_InstanceFromRecord(CRoom* room, const RoomInstance& record)
{
    if (record.objectIndex < 0) return nullptr;
    const int32_t savedObject = event_object;
    event_object = record.objectIndex;
    auto* instance = new CInstance(float(record.x), float(record.y), record.id, record.objectIndex, true);
    instance->creationCode = Code_Get(record.creationCode);
    instance->imageXScale = record.xscale;
    instance->imageYScale = record.yscale;
    instance->imageBlend = record.colour & 0xFFFFFFu;
    instance->imageAlpha = float(record.colour >> 24) / 255.0f;
    instance->imageAngle = record.rotation;
    instance->CreatePhysicsBody(room);
    instance->layerId = Layer_FindLayerOfInstance(room, record.id);
    InstanceList_InsertByDepth(room, instance);
    InstanceIdMap_Insert(instance->id, instance);
    Collision_AddInstance(instance);
    event_object = savedObject;
    return instance;
}

}  // namespace

void CRoom::Assign(CRoom* source, bool makeInstances)
{
    if (!source || source == this) return;
    Clear();
    MemFree(caption);
    caption = Room_CopyText(source->caption);
    MemFree(creationCodeText);
    creationCodeText = Room_CopyText(source->creationCodeText);
    width = source->width;
    height = source->height;
    speed = source->speed;
    persistent = source->persistent;
    colour = source->colour;
    showColour = source->showColour;
    creationCode = source->creationCode;
    usesPhysics = source->usesPhysics;
    gravityX = source->gravityX;
    gravityY = source->gravityY;
    pixelsToMetres = source->pixelsToMetres;
    for (int32_t i = 0; i < ROOM_BACKGROUNDS; ++i) backgrounds[i] = source->backgrounds[i];
    for (int32_t i = 0; i < ROOM_VIEWS; ++i) {
        views[i] = source->views[i];
        views[i].cameraId = -1;
        if (source->views[i].cameraId != -1)
            if (CCamera* clone = CCameraManager::CloneCamera(source->views[i].cameraId)) views[i].cameraId = clone->GetID();
    }
    viewsEnabled = source->viewsEnabled;
    viewClear = source->viewClear;
    displayClear = source->displayClear;
    delete physicsWorld;
    physicsWorld = source->physicsWorld ? new CPhysicsWorld(source->physicsWorld) : nullptr;

    hasRecord = source->hasRecord;
    entry = source->entry;
    if (ownsRecords) {
        instanceRecords.SetCopy(source->instanceRecords);
        tileRecords.SetCopy(source->tileRecords);
        entry = nullptr;
    } else {
        instanceRecords = source->instanceRecords;
        tileRecords = source->tileRecords;
    }

    if (makeInstances && hasRecord) {
        for (int32_t i = 0; i < instanceRecords.Count(); ++i)
            if (CInstance* instance = Room_InstanceFromRecord(this, instanceRecords.At(i)))
                creationOrder.push_back(instance->id);
        RunningTiles_FromRecords(tiles, tileRecords);
    } else if (!makeInstances && !ownsRecords) {
        RunningTiles_Copy(tiles, source->tiles);
    }

    for (CInstance* from = source->active.head; from; from = from->next) {
        auto* copy = new CInstance(from->x, from->y, from->id, from->objectIndex, false);
        copy->CopyFrom(from, true);
        InstanceList_InsertByDepth(this, copy);
        InstanceIdMap_Insert(copy->id, copy);
    }
    for (CInstance* from = source->deactivated.head; from; from = from->next) {
        auto* copy = new CInstance(from->x, from->y, from->id, from->objectIndex, false);
        copy->CopyFrom(from, false);
        InstanceList_AppendDeactivated(this, copy);
    }
    Layer_CopyRoomLayers(this, source);
}

int32_t CRoom::AddInstanceRecord(double x, double y, int32_t objectIndex)
{
    RoomInstance record;
    record.x = Real_ToInt32(x);
    record.y = Real_ToInt32(y);
    record.objectIndex = objectIndex;
    record.id = Instance_NextId();
    record.creationCode = -1;  // no slot of the code table
    record.xscale = 1.0f;
    record.yscale = 1.0f;
    record.colour = 0xFFFFFFFFu;
    record.rotation = 0.0f;
    instanceRecords.Append(record);
    hasRecord = true;
    return record.id;
}
