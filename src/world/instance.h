// Instances: the live copies of objects in the running room, their ids and the map that finds them by id.
#pragma once
#include <cstddef>
#include <cstdint>

#include "world/object_base.h"

class CCode;
class CObject;
class CPhysicsObject;
class CSkeletonInstance;
struct CInstance;
struct CRoom;

struct BoundingBox {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// Whether the extent lies wholly outside [left, right + 1) x [top, bottom + 1); a NaN coordinate lies
// nowhere, so it misses. The edge tests are or-ed without branching: most shape tests miss, by any edge.
inline bool BoundingBox_Misses(const BoundingBox& b, double minX, double minY, double maxX, double maxY)
{
    return !(maxX >= b.left) | !(minX < double(b.right) + 1.0) | !(maxY >= b.top) | !(minY < double(b.bottom) + 1.0);
}

constexpr int32_t INSTANCE_ALARM_COUNT = 12;

// Which of a room's lists holds an instance.
enum InstanceListKind : int8_t {
    INSTANCE_IN_NO_LIST = 0,
    INSTANCE_IN_ACTIVE_LIST = 1,
    INSTANCE_IN_DEACTIVATED_LIST = 2,
};

// Intrusive link of one of the collision system's queues.
struct InstanceQueueLink {
    CInstance* next = nullptr;
    CInstance* prev = nullptr;
    void* owner = nullptr;
};

// The stamp each event stage takes (and increments); an instance records it when it is made.
extern int64_t StepStamp;
// Instance ids come from this counter: incremented before each use, never reused during a run.
extern int32_t g_InstanceIdCounter;
int32_t Instance_NextId();

struct CInstance : QZObjectBase {
    // Made at (x, y) with the given id; the object is bound with SetObject (object -1 gives none).
    CInstance(float x, float y, int32_t id, int32_t objectIndex, bool link);
    ~CInstance() override;
    CInstance(const CInstance&) = delete;
    CInstance& operator=(const CInstance&) = delete;

    // Leaves the current object's lists, then binds the object of that index (joining its lists when link).
    void SetObject(int32_t objectIndex, bool link);
    void SetSpriteIndex(int32_t index);
    double GetImageNumber();
    CSkeletonInstance* GetSkeletonInstance();
    // instance_change: the new object's fields now, its lists at the next ApplyObjectChange.
    void SetObjectIndex(int32_t objectIndex);
    void ApplyObjectChange();
    // Room copies and carried-over persistent instances: the source's state, variables included.
    void CopyFrom(CInstance* source, bool link);
    int32_t GetAlarm(int32_t index) const;
    void SetAlarm(int32_t index, int32_t value);
    // Motion. Direction and speed and the (hspeed, vspeed) pair are kept consistent by every setter; a move,
    // scale, angle or mask change marks the box dirty.
    void SetPosition(float newX, float newY);
    void SetImageXScale(float value);
    void SetImageYScale(float value);
    void SetImageAngle(float value);
    void SetMaskIndex(int32_t value);
    void SetDirection(double degrees);  // wrapped into [0, 360); NaN stays NaN
    void SetSpeed(float value);
    void SetHSpeed(float value);
    void SetVSpeed(float value);
    void AddMotion(double degrees, double amount);  // motion_add
    void UpdateHVSpeed();
    void UpdateDirectionSpeed();
    // Sets bbox-dirty and queues the instance for the collision tree.
    void MarkDirty();
    // Once per step: friction towards a standstill, then gravity.
    void ApplyFrictionGravity();
    void SetPathPosition(float value);  // clamped to [0, 1]
    void SetPathPositionPrevious(float value);
    void SetPathSpeed(float value);
    // path_start and path_end (path -1); a path that cannot be followed leaves path_index -1.
    void StartPath(int32_t path, float pathSpeed, float scale, float orientation, bool relative, int32_t endAction);
    // Moves the instance along its path; true when the end was reached with a non-zero speed.
    bool AdvancePath();

    // Shape tests against the instance: its box first, then (precise) its mask or skeleton.
    // Most point tests miss the box: that answer comes inline, without a call.
    bool CollisionPoint(double px, double py, bool precise)
    {
        if (!skeleton && !bboxDirty && BoundingBox_Misses(bbox, px, py, px, py)) return false;
        return CollisionPointInBox(px, py, precise);
    }
    bool CollisionPointInBox(double px, double py, bool precise);
    bool CollisionRectangle(double x1, double y1, double x2, double y2, bool precise);
    bool CollisionEllipse(double x1, double y1, double x2, double y2, bool precise);
    bool CollisionLine(double x1, double y1, double x2, double y2, bool precise);
    // a has a skeleton pose (or b has and the two were swapped by the caller).
    static bool CollisionSkeleton(CInstance* a, CInstance* b, bool precise);
    void CreatePhysicsBody(CRoom* room);
    void RecreatePhysicsBody(CRoom* room);
    void DestroyPhysicsBody(CRoom* room);

    // Object lists: the object whose lists hold the instance is remembered, so leaving is exact.
    void JoinObjectLists();
    void LeaveObjectLists();

    bool bboxDirty = false;
    bool visible = false;
    bool solid = false;
    bool persistent = false;
    bool markedForDeletion = false;
    bool deactivated = false;
    bool destroyPerformed = false;
    bool carriedOver = false;
    bool created = false;
    // What the shape tests read before anything else, beside the flags: a rejected test touches one
    // cache line of the instance.
    BoundingBox bbox;
    CSkeletonInstance* skeleton = nullptr;
    int64_t creationStamp = 0;
    int32_t id = 0;
    int32_t objectIndex = 0;
    CObject* object = nullptr;
    CPhysicsObject* physicsObject = nullptr;
    int32_t spriteIndex = -1;
    float imageIndex = 0.0f;
    float imageSpeed = 1.0f;
    float imageXScale = 1.0f;
    float imageYScale = 1.0f;
    float imageAngle = 0.0f;
    float imageAlpha = 1.0f;
    uint32_t imageBlend = 0xFFFFFF;
    int32_t maskIndex = -1;
    bool precise = false;
    float x = 0.0f;
    float y = 0.0f;
    float xstart = 0.0f;
    float ystart = 0.0f;
    float xprevious = 0.0f;
    float yprevious = 0.0f;
    float direction = 0.0f;
    float speed = 0.0f;
    float friction = 0.0f;
    float gravityDirection = 270.0f;
    float gravity = 0.0f;
    float hspeed = 0.0f;
    float vspeed = 0.0f;
    int32_t alarm[INSTANCE_ALARM_COUNT];
    int32_t pathIndex = -1;
    float pathPosition = 0.0f;
    float pathPositionPrevious = 0.0f;
    float pathSpeed = 0.0f;
    float pathScale = 1.0f;
    float pathOrientation = 0.0f;
    int32_t pathEndAction = 0;
    float pathOriginX = 0.0f;
    float pathOriginY = 0.0f;
    int32_t timelineIndex = -1;
    float timelinePrevious = 0.0f;
    float timelinePosition = 0.0f;
    float timelineSpeed = 1.0f;
    bool timelineRunning = false;
    bool timelineLoop = false;
    bool outsideRoom = false;
    CCode* creationCode = nullptr;
    CObject* previousObject = nullptr;
    int32_t mouseState = 2;
    int32_t layerId = -1;
    bool onLayer = false;
    CInstance* next = nullptr;
    CInstance* prev = nullptr;
    float depth = 0.0f;
    float depthKey = 0.0f;
    int32_t collisionPassStamp = -1;
    InstanceQueueLink collisionQueue;
    InstanceQueueLink bboxQueue;

    // Bookkeeping: the room list that holds the instance, the object whose lists hold it, and whether the
    // id map holds it.
    CRoom* listRoom = nullptr;
    InstanceListKind listKind = INSTANCE_IN_NO_LIST;
    CObject* listedIn = nullptr;
    bool inIdMap = false;
};

// The instance's box from its mask or sprite, origin, scale and angle; clears bbox-dirty, and with
// refreshTree moves its entry in the collision tree (whose answer it returns; 0 without).
uint8_t Compute_BoundingBox(CInstance* instance, bool refreshTree);
// Whether two instances touch: their boxes, then (precise) their masks or skeletons.
bool Collision_Instance(CInstance* a, CInstance* b, bool precise);
// Whether the ellipse with that integer centre and half-sizes holds the point.
bool Ellipse_ContainsPoint(double px, double py, double cx, double cy, double rx, double ry);

// The slot count of new instances: the game's instance-variable count.
int32_t Instance_SlotCount();

// ---- The id map: 512 buckets (id & 511) of nodes appended at the tail, duplicates allowed ----
constexpr int32_t INSTANCE_ID_BUCKETS = 512;

struct InstanceIdNode {
    InstanceIdNode* next;
    InstanceIdNode* prev;
    int32_t id;
    CInstance* instance;
};

void InstanceIdMap_Insert(int32_t id, CInstance* instance);
// Unlinks the node that holds this instance (another instance may share its id); the instance is kept.
void InstanceIdMap_Remove(CInstance* instance);
// The first instance entered under the id; null for a negative id or none.
CInstance* InstanceIdMap_Find(int32_t id);
// Removes the first node of the id; mode 0 keeps its instance, any other mode deletes it (an instance is
// always destroyed before its memory goes, or its variables would leak).
void InstanceIdMap_Delete(int32_t id, int32_t mode);
void InstanceIdMap_Clear(int32_t mode);
int32_t InstanceIdMap_Count();
InstanceIdNode* InstanceIdMap_Bucket(int32_t bucket);

// Walks the map: bucket -1 once every bucket has been seen.
struct InstanceIdIterator {
    int32_t bucket = 0;
    InstanceIdNode* node = nullptr;
};
// The first non-empty bucket at or after from (node at its head); bucket -1 when there is none.
void InstanceIdIterator_Seek(InstanceIdIterator* it, int32_t from);
// The instance at the iterator, then moves on; null at the end.
CInstance* InstanceIdIterator_Next(InstanceIdIterator* it);

// Deletes every instance in the map (unlinking each from its room list), then empties the map.
void Instances_DeleteAll();

// ---- The deferred lists, applied between event stages ----
struct InstanceList;
extern InstanceList g_ObjectChangeList;
extern InstanceList g_DepthChangeList;
extern InstanceList g_ActivationList;
// Takes the instance off all three lists (every deletion path does this).
void InstanceLists_Purge(CInstance* instance);
void InstanceLists_Free();  // empties the lists and frees their storage
