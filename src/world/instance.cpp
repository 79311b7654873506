// Instances: construction from an object, sprite and object changes, copies, alarms, physics bodies, the id
// counter, the id map and the deferred lists.
#include "world/instance.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "core/error.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "core/varlist.h"
#include "draw/draw.h"
#include "layers/layers.h"
#include "physics/physics.h"
#include "skeleton/skeleton.h"
#include "world/loader.h"
#include "world/object.h"
#include "world/room.h"

int64_t StepStamp = 0;
int32_t g_InstanceIdCounter = 0;

InstanceList g_ObjectChangeList = {nullptr, 0, 0};
InstanceList g_DepthChangeList = {nullptr, 0, 0};
InstanceList g_ActivationList = {nullptr, 0, 0};

int32_t Instance_NextId()
{
    // Wraps instead of overflowing: the game header may hold any last id.
    g_InstanceIdCounter = int32_t(uint32_t(g_InstanceIdCounter) + 1u);
    return g_InstanceIdCounter;
}

int32_t Instance_SlotCount()
{
    int32_t count = g_GameData.instanceCount;
    if (g_GameData.link && g_GameData.link->instanceSlotCount > 0) count = g_GameData.link->instanceSlotCount;
    return count > 0 ? count : 0;
}

namespace {

void Instance_ClearTableSlot(QZObjectBase* object)
{
    const int32_t index = object->tableIndex;
    if (ObjectTable.items && index >= 0 && index < ObjectTable.capacity && ObjectTable.items[index] == object) {
        ObjectTable.items[index] = nullptr;
        --ObjectTable.count;
        ObjectTable.nextFree = index;
    }
    object->tableIndex = -1;
}

// Binds the fields an object gives an instance; the object lists are the caller's business.
void Instance_BindObject(CInstance* self, int32_t objectIndex)
{
    self->objectIndex = objectIndex == -1 ? 0 : objectIndex;
    self->object = Object_Data(objectIndex);
    CObject* object = self->object;
    if (!object) {
        self->spriteIndex = -1;
        self->maskIndex = -1;
        self->solid = self->visible = self->persistent = false;
        return;
    }
    self->maskIndex = object->maskIndex;
    self->depth = static_cast<float>(object->depth);
    self->solid = (object->flags & OBJECT_FLAG_SOLID) != 0;
    self->visible = (object->flags & OBJECT_FLAG_VISIBLE) != 0;
    self->persistent = (object->flags & OBJECT_FLAG_PERSISTENT) != 0;
    self->SetSpriteIndex(object->spriteIndex);
    self->bboxDirty = true;
    Collision_MarkDirty(self);
}

void Instance_CopyValue(RValue* dest, const RValue* src)
{
    RValue_Free(dest);
    RValue_Copy(dest, src);
}

void Instance_ReportPhysics(const char* format, const char* name)
{
    char text[1024];
    std::snprintf(text, sizeof text, format, name ? name : "<undefined>");
    Error_Show(text, false);
}

}  // namespace

CInstance::CInstance(float px, float py, int32_t newId, int32_t newObjectIndex, bool link)
    : QZObjectBase(Instance_SlotCount(), static_cast<int32_t>(VALUE_UNSET))
{
    objectKind = OBJECT_KIND_INSTANCE;
    if (slotCount > 0) {
        slots = static_cast<RValue*>(
            MemoryManager::Alloc(sizeof(RValue) * size_t(slotCount), __FILE__, __LINE__, true));
        for (int32_t i = 0; i < slotCount; ++i) slots[i].kind = VALUE_UNSET;
    }
    creationStamp = StepStamp;
    id = newId;
    x = xstart = xprevious = px;
    y = ystart = yprevious = py;
    for (int32_t& a : alarm) a = -1;
    SetObject(newObjectIndex, link);
    ObjectTable_Add(this);
}

CInstance::~CInstance()
{
    InstanceLists_Purge(this);
    if (inIdMap) InstanceIdMap_Remove(this);
    InstanceList_Unlink(this);
    LeaveObjectLists();
    if (physicsObject) physicsObject->Destroy();
    physicsObject = nullptr;
    Skeleton_DeleteInstance(skeleton);
    skeleton = nullptr;
    Instance_ClearTableSlot(this);
    Collision_RemoveInstance(this);
}

void CInstance::JoinObjectLists()
{
    if (listedIn == object) return;
    LeaveObjectLists();
    if (!object) return;
    object->AddInstance(this);
    listedIn = object;
}

void CInstance::LeaveObjectLists()
{
    if (!listedIn) return;
    listedIn->RemoveInstance(this);
    listedIn = nullptr;
}

void CInstance::SetObject(int32_t newObjectIndex, bool link)
{
    LeaveObjectLists();
    Instance_BindObject(this, newObjectIndex);
    if (object && link) JoinObjectLists();
}

void CInstance::SetSpriteIndex(int32_t index)
{
    spriteIndex = index;
    SpriteFacts facts{};
    const bool exists = Sprite_GetFacts(index, &facts);
    if (exists) {
        Skeleton_DeleteInstance(skeleton);
        skeleton = facts.kind == 2 ? Skeleton_CreateInstance(index) : nullptr;
    }
    const int32_t frames = exists && facts.frameCount > 0 ? facts.frameCount : 0;
    // NaN compares false and is kept, as its integer conversion (INT32_MIN) would be.
    if (std::trunc(imageIndex) >= static_cast<float>(frames)) imageIndex = 0.0f;
    bboxDirty = true;
}

double CInstance::GetImageNumber()
{
    SpriteFacts facts{};
    if (!Sprite_GetFacts(spriteIndex, &facts)) return 0.0;
    if (facts.kind != 2) return facts.frameCount;
    double rate = 30.0;
    if (g_GameData.newMode && g_GameData.gameSpeed > 0.0) rate = g_GameData.gameSpeed;
    else if (Run_Room) rate = Run_Room->speed;
    const double frames = Skeleton_AnimationDuration(spriteIndex) * rate + 0.5;
    return std::isfinite(frames) ? std::trunc(frames) : 0.0;
}

CSkeletonInstance* CInstance::GetSkeletonInstance()
{
    if (!skeleton) {
        SpriteFacts facts{};
        if (Sprite_GetFacts(spriteIndex, &facts) && facts.kind == 2) skeleton = Skeleton_CreateInstance(spriteIndex);
    }
    return skeleton;
}

void CInstance::SetObjectIndex(int32_t newObjectIndex)
{
    g_ObjectChangeList.AddUnique(this);
    if (!previousObject) previousObject = object;
    Instance_BindObject(this, newObjectIndex);
    g_DepthChangeList.AddUnique(this);
    DestroyPhysicsBody(Run_Room);
    if (object && object->usesPhysics) CreatePhysicsBody(Run_Room);
    bboxDirty = true;
}

void CInstance::ApplyObjectChange()
{
    LeaveObjectLists();
    previousObject = nullptr;
    // A deactivated instance is off every object list; reactivation puts it on its object's.
    if (deactivated) return;
    JoinObjectLists();
    if (listKind == INSTANCE_IN_ACTIVE_LIST && listRoom) {
        CRoom* room = listRoom;
        InstanceList_Unlink(this);
        InstanceList_InsertByDepth(room, this);
    }
}

void CInstance::CopyFrom(CInstance* source, bool link)
{
    if (!source || source == this) return;
    LeaveObjectLists();
    carriedOver = false;
    id = source->id;
    spriteIndex = source->spriteIndex;
    imageIndex = source->imageIndex;
    imageSpeed = source->imageSpeed;
    imageXScale = source->imageXScale;
    imageYScale = source->imageYScale;
    imageAngle = source->imageAngle;
    imageAlpha = source->imageAlpha;
    imageBlend = source->imageBlend;
    maskIndex = source->maskIndex;
    depth = source->depth;
    precise = source->precise;
    x = source->x;
    y = source->y;
    xstart = source->xstart;
    ystart = source->ystart;
    xprevious = source->xprevious;
    yprevious = source->yprevious;
    direction = source->direction;
    speed = source->speed;
    friction = source->friction;
    gravityDirection = source->gravityDirection;
    gravity = source->gravity;
    hspeed = source->hspeed;
    vspeed = source->vspeed;
    bboxDirty = source->bboxDirty;
    if (bboxDirty) Collision_MarkDirty(this);
    bbox = source->bbox;
    visible = source->visible;
    solid = source->solid;
    persistent = source->persistent;
    objectIndex = source->objectIndex;
    object = source->object;
    if (link) JoinObjectLists();
    for (int32_t i = 0; i < INSTANCE_ALARM_COUNT; ++i) alarm[i] = source->alarm[i];

    // Variables: a carried persistent instance keeps all of them, so every slot goes over.
    if (source->named) {
        if (!named) named = new CVariableList();
        named->Assign(source->named);
    }
    if (source->slots)
        for (int32_t n = 0; n < source->slotCount; ++n)
            if (RValue* d = ObjectBase_GetSlot(this, n)) Instance_CopyValue(d, &source->slots[n]);
    if (source->sparse) {
        int32_t at = -1, key = 0;
        RValue* value = nullptr;
        while (source->sparse->Next(&at, &key, &value))
            if (RValue* d = ObjectBase_GetSlot(this, key)) Instance_CopyValue(d, value);
    }

    markedForDeletion = source->markedForDeletion;
    deactivated = source->deactivated;
    pathIndex = source->pathIndex;
    pathPosition = source->pathPosition;
    pathPositionPrevious = source->pathPositionPrevious;
    pathSpeed = source->pathSpeed;
    pathScale = source->pathScale;
    pathOrientation = source->pathOrientation;
    pathEndAction = source->pathEndAction;
    timelineIndex = source->timelineIndex;
    timelinePrevious = source->timelinePrevious;
    timelinePosition = source->timelinePosition;
    timelineSpeed = source->timelineSpeed;
    timelineRunning = source->timelineRunning;
    timelineLoop = source->timelineLoop;
    outsideRoom = source->outsideRoom;
    creationCode = source->creationCode;
    Skeleton_DeleteInstance(skeleton);
    skeleton = Skeleton_CopyInstance(source->skeleton);
    layerId = source->layerId;
}

int32_t CInstance::GetAlarm(int32_t index) const
{
    return static_cast<uint32_t>(index) < uint32_t(INSTANCE_ALARM_COUNT) ? alarm[index] : -1;
}

void CInstance::SetAlarm(int32_t index, int32_t value)
{
    if (static_cast<uint32_t>(index) < uint32_t(INSTANCE_ALARM_COUNT)) alarm[index] = value;
}

void CInstance::CreatePhysicsBody(CRoom* room)
{
    if (!object || !object->usesPhysics || !room || !room->physicsWorld) return;
    SpriteFacts facts{};
    if (!Sprite_GetFacts(spriteIndex, &facts)) return;
    CPhysicsWorld* world = room->physicsWorld;
    const float k = world->pixelToMetre;
    const ObjectShapePoint* points = object->shapePoints;
    const int32_t count = points ? object->shapePointCount : 0;
    float offsetX = 0.0f, offsetY = 0.0f;
    CPhysicsFixture* fixture = nullptr;
    if (object->shapeKind == OBJECT_SHAPE_CIRCLE) {
        // The radius is the second point: without it there is no shape to make.
        if (count < 2) {
            Instance_ReportPhysics("Corrupt shape data for %s\n", object->name);
            return;
        }
        float s = imageXScale;
        if (std::fabs(imageXScale - imageYScale) >= 0.0001f) {
            Instance_ReportPhysics(
                "Image scale for physics object using circle collision should not vary across axes: %s\n",
                object->name);
            s = 1.0f;
        }
        fixture = Physics_CreateFixture();
        if (!fixture) return;
        fixture->SetCircleShape(points[1].x * k * s);
        offsetX = -points[0].x * s;
        offsetY = -points[0].y * s;
    } else {
        fixture = Physics_CreateFixture();
        if (!fixture) return;
        if (object->shapeKind == OBJECT_SHAPE_BOX) fixture->SetBoxShape();
        else fixture->SetPolygonShape();
        // A mirrored shape would wind the other way; adding the points backwards keeps the winding.
        const bool reverse = imageXScale * imageYScale < 0.0f;
        for (int32_t i = 0; i < count; ++i) {
            const ObjectShapePoint& p = points[reverse ? count - 1 - i : i];
            fixture->AddShapePoint(p.x * k * imageXScale, p.y * k * imageYScale);
        }
    }
    fixture->density = object->density;
    fixture->restitution = object->restitution;
    fixture->collisionGroup = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(object->collisionGroup)));
    fixture->linearDamping = object->linearDamping;
    fixture->angularDamping = object->angularDamping;
    fixture->friction = object->friction;
    fixture->sensor = object->sensor;
    fixture->awake = object->awake;
    fixture->kinematic = object->kinematic;
    world->CreateBody(fixture, this, offsetX, offsetY);
    Physics_DeleteFixture(fixture->id);
}

void CInstance::DestroyPhysicsBody(CRoom* room)
{
    if (!physicsObject) return;
    if (room && room->physicsWorld) room->physicsWorld->DestroyBody(physicsObject);
    else physicsObject->Destroy();
    physicsObject = nullptr;
}

void CInstance::RecreatePhysicsBody(CRoom* room)
{
    DestroyPhysicsBody(room);
    CreatePhysicsBody(room);
}

// ---- Id map ----

namespace {

struct InstanceIdBucket {
    InstanceIdNode* head;
    InstanceIdNode* tail;
};

InstanceIdBucket g_instanceIdBuckets[INSTANCE_ID_BUCKETS];
int32_t g_instanceIdCount = 0;

InstanceIdBucket& InstanceIdMap_BucketOf(int32_t id) { return g_instanceIdBuckets[id & (INSTANCE_ID_BUCKETS - 1)]; }

void InstanceIdMap_Unlink(InstanceIdBucket& bucket, InstanceIdNode* node)
{
    if (node->prev) node->prev->next = node->next;
    else bucket.head = node->next;
    if (node->next) node->next->prev = node->prev;
    else bucket.tail = node->prev;
    if (node->instance) node->instance->inIdMap = false;
    MemFree(node);
    --g_instanceIdCount;
}

}  // namespace

void InstanceIdMap_Insert(int32_t id, CInstance* instance)
{
    auto* node = static_cast<InstanceIdNode*>(MemAlloc(sizeof(InstanceIdNode)));
    InstanceIdBucket& bucket = InstanceIdMap_BucketOf(id);
    node->next = nullptr;
    node->prev = bucket.tail;
    node->id = id;
    node->instance = instance;
    if (bucket.tail) bucket.tail->next = node;
    else bucket.head = node;
    bucket.tail = node;
    if (instance) instance->inIdMap = true;
    ++g_instanceIdCount;
}

void InstanceIdMap_Remove(CInstance* instance)
{
    if (!instance) return;
    InstanceIdBucket& bucket = InstanceIdMap_BucketOf(instance->id);
    for (InstanceIdNode* n = bucket.head; n; n = n->next)
        if (n->instance == instance) {
            InstanceIdMap_Unlink(bucket, n);
            return;
        }
    // Entered under an id it no longer carries: look everywhere rather than leave a stale pointer.
    if (!instance->inIdMap) return;
    for (InstanceIdBucket& b : g_instanceIdBuckets)
        for (InstanceIdNode* n = b.head; n; n = n->next)
            if (n->instance == instance) {
                InstanceIdMap_Unlink(b, n);
                return;
            }
}

CInstance* InstanceIdMap_Find(int32_t id)
{
    if (id < 0) return nullptr;
    for (InstanceIdNode* n = InstanceIdMap_BucketOf(id).head; n; n = n->next)
        if (n->id == id) return n->instance;
    return nullptr;
}

void InstanceIdMap_Delete(int32_t id, int32_t mode)
{
    InstanceIdBucket& bucket = InstanceIdMap_BucketOf(id);
    for (InstanceIdNode* n = bucket.head; n; n = n->next)
        if (n->id == id) {
            CInstance* instance = n->instance;
            InstanceIdMap_Unlink(bucket, n);
            if (mode != 0) delete instance;
            return;
        }
}

void InstanceIdMap_Clear(int32_t mode)
{
    for (InstanceIdBucket& bucket : g_instanceIdBuckets) {
        while (bucket.head) {
            CInstance* instance = bucket.head->instance;
            InstanceIdMap_Unlink(bucket, bucket.head);
            if (mode != 0) delete instance;
        }
    }
}

int32_t InstanceIdMap_Count() { return g_instanceIdCount; }

InstanceIdNode* InstanceIdMap_Bucket(int32_t bucket)
{
    return bucket >= 0 && bucket < INSTANCE_ID_BUCKETS ? g_instanceIdBuckets[bucket].head : nullptr;
}

void InstanceIdIterator_Seek(InstanceIdIterator* it, int32_t from)
{
    for (int32_t b = from < 0 ? 0 : from; b < INSTANCE_ID_BUCKETS; ++b)
        if (g_instanceIdBuckets[b].head) {
            it->bucket = b;
            it->node = g_instanceIdBuckets[b].head;
            return;
        }
    it->bucket = -1;
    it->node = nullptr;
}

CInstance* InstanceIdIterator_Next(InstanceIdIterator* it)
{
    if (!it || it->bucket < 0 || !it->node) return nullptr;
    CInstance* instance = it->node->instance;
    if (it->node->next) it->node = it->node->next;
    else InstanceIdIterator_Seek(it, it->bucket + 1);
    return instance;
}

void Instances_DeleteAll()
{
    // Collected first: each deletion edits the map being walked.
    std::vector<CInstance*, MemAllocator<CInstance*>> all;
    all.reserve(size_t(g_instanceIdCount));
    for (InstanceIdBucket& bucket : g_instanceIdBuckets)
        for (InstanceIdNode* n = bucket.head; n; n = n->next)
            if (n->instance) all.push_back(n->instance);
    InstanceIdMap_Clear(0);
    // An instance entered twice is deleted once.
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    for (CInstance* instance : all) delete instance;
}

// ---- Deferred lists ----

void InstanceLists_Purge(CInstance* instance)
{
    g_ObjectChangeList.Remove(instance);
    g_DepthChangeList.Remove(instance);
    g_ActivationList.Remove(instance);
}

void InstanceLists_Free()
{
    for (InstanceList* list : {&g_ObjectChangeList, &g_DepthChangeList, &g_ActivationList}) {
        MemFree(list->items);
        list->items = nullptr;
        list->capacity = list->count = 0;
    }
}
