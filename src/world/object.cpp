// Objects, their event handlers, the object table and the per-event object lists.
#include "world/object.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "core/code.h"
#include "core/console.h"
#include "core/constants.h"
#include "core/error.h"
#include "core/seam_trace.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/text.h"
#include "lib/lib.h"
#include "world/loader.h"
#include "world/options.h"
#include "world/wad_reader.h"

uint32_t g_ObjectSpriteMarker = 0;

namespace {

using ObjectVector = std::vector<CObject*, MemAllocator<CObject*>>;

ObjectVector g_objects;         // by index; null for gaps and deleted objects
ObjectVector g_deletedObjects;  // unlisted, kept until Object_FreeAll
int32_t g_objectPreparing = -1;

ObjectList g_objectLists[OBJECT_LIST_TYPES][OBJECT_LIST_NUMBERS];
const ObjectList g_objectListEmpty{};
CollisionPair* g_collisionPairs = nullptr;
int32_t g_collisionPairCount = 0;
int32_t g_collisionPairCapacity = 0;

const char kObjectEventMarker[] = "";

// An ancestor walk can never be longer than the table; this bounds it should a cycle slip in at run time.
int32_t ObjectWalkLimit() { return int32_t(g_objects.size() + g_deletedObjects.size()) + 1; }

void ObjectList_Append(ObjectList& list, int32_t index)
{
    if (list.count == list.capacity) {
        const int32_t capacity = list.capacity + 5;
        void* block = MemReAlloc(list.objects, size_t(capacity) * sizeof(int32_t));
        if (!block) return;
        list.objects = static_cast<int32_t*>(block);
        list.capacity = capacity;
    }
    list.objects[list.count++] = index;
}

void ObjectList_Remove(ObjectList& list, int32_t index)
{
    int32_t kept = 0;
    for (int32_t i = 0; i < list.count; ++i)
        if (list.objects[i] != index) list.objects[kept++] = list.objects[i];
    list.count = kept;
}

void CollisionPairs_Reset()
{
    MemFree(g_collisionPairs);
    g_collisionPairs = nullptr;
    g_collisionPairCount = 0;
    g_collisionPairCapacity = 0;
}

void CollisionPairs_Append(int32_t a, int32_t b, CObject* objectA, CObject* objectB)
{
    if (g_collisionPairCount == g_collisionPairCapacity) {
        const int32_t capacity = g_collisionPairCapacity + 5;
        void* block = MemReAlloc(g_collisionPairs, size_t(capacity) * sizeof(CollisionPair));
        if (!block) return;
        g_collisionPairs = static_cast<CollisionPair*>(block);
        g_collisionPairCapacity = capacity;
    }
    g_collisionPairs[g_collisionPairCount++] = CollisionPair{a, b, objectA, objectB, 1};
}

// The unordered pair {a, b} as one key.
uint64_t CollisionPairs_Key(int32_t a, int32_t b)
{
    const uint32_t low = uint32_t(std::min(a, b));
    const uint32_t high = uint32_t(std::max(a, b));
    return uint64_t(low) << 32 | high;
}

// The own table's handler with code; no argument checks.
CEvent* Object_OwnHandler(CObject* object, int32_t type, int32_t number)
{
    if (type < 0 || type >= OBJECT_EVENT_TYPES || number < 0) return nullptr;
    const CObjectEventTable& table = object->events[type];
    if (number >= table.count) return nullptr;
    CEvent* event = table.items[number];
    return (event && event->HasCode()) ? event : nullptr;
}

// Walks the chain from object through the parent indexes for the handler.
CEvent* Object_ChainHandler(CObject* object, int32_t type, int32_t number, int32_t* found)
{
    const int32_t limit = ObjectWalkLimit();
    for (int32_t steps = 0; object && steps < limit; ++steps) {
        if (CEvent* event = Object_OwnHandler(object, type, number)) {
            if (found) *found = object->index;
            return event;
        }
        if (object->parentIndex < 0) break;
        // The linked parent: the same object as the index names once parents are linked, one load cheaper.
        object = object->parent ? object->parent : Object_Data(object->parentIndex);
    }
    return nullptr;
}

void ObjectEventTable_Free(CObjectEventTable& table)
{
    for (int32_t i = 0; i < table.count; ++i) delete table.items[i];
    MemFree(table.items);
    table.items = nullptr;
    table.count = 0;
}

// Makes slots 0 ... number of the table exist.
bool ObjectEventTable_Grow(CObjectEventTable& table, int32_t number)
{
    if (number < table.count) return true;
    const int32_t count = number + 1;
    void* block = MemReAlloc(table.items, size_t(count) * sizeof(CEvent*));
    if (!block) return false;
    table.items = static_cast<CEvent**>(block);
    for (int32_t i = table.count; i < count; ++i) table.items[i] = nullptr;
    table.count = count;
    return true;
}

// The instances of an object and its descendants leave the descendant lists of its current ancestors
// and join those of the new parent's chain, so no list keeps an instance its removal would not reach.
void Object_Relink(CObject* object, CObject* newParent)
{
    if (object->parent == newParent) return;
    const int32_t limit = ObjectWalkLimit();
    for (auto* n = object->instancesRecursive.head; n; n = n->next) {
        CObject* a = object->parent;
        for (int32_t steps = 0; a && steps < limit; ++steps, a = a->parent) a->instancesRecursive.RemoveFirst(n->value);
    }
    object->parent = newParent;
    for (auto* n = object->instancesRecursive.head; n; n = n->next) {
        CObject* a = newParent;
        for (int32_t steps = 0; a && a != object && steps < limit; ++steps, a = a->parent)
            a->instancesRecursive.Append(n->value);
    }
}

// Whether the object or an ancestor has any collision handler with code (most objects have none, and
// the pair build need not try every other object for them).
bool Object_ChainHasCollisions(CObject* object)
{
    const int32_t limit = ObjectWalkLimit();
    for (int32_t steps = 0; object && steps < limit; ++steps) {
        const CObjectEventTable& table = object->events[EVENT_COLLISION];
        for (int32_t n = 0; n < table.count; ++n)
            if (table.items[n] && table.items[n]->HasCode()) return true;
        if (object->parentIndex < 0) break;
        object = Object_Data(object->parentIndex);
    }
    return false;
}

// ---- OBJT reading ----

// The failure of one entry: "<tag> at offset <n>: object <i>: <what>".
bool ObjectLoad_Fail(WadReader& r, uint32_t offset, uint32_t entry, const char* what)
{
    char text[128];
    std::snprintf(text, sizeof text, "object %u: %s", entry, what);
    return r.Fail(offset, text);
}

// Offsets are computed in 64 bits so that no sum of a stored offset and a field position wraps.
bool ObjectLoad_U32(WadReader& r, uint64_t offset, uint32_t entry, uint32_t* out)
{
    if (r.Failed()) return false;
    if (offset + 4 > r.Length()) return ObjectLoad_Fail(r, uint32_t(std::min<uint64_t>(offset, UINT32_MAX)), entry, "field outside the data");
    return r.DataU32(uint32_t(offset), out);
}

bool ObjectLoad_F32(WadReader& r, uint64_t offset, uint32_t entry, float* out)
{
    uint32_t bits = 0;
    if (!ObjectLoad_U32(r, offset, entry, &bits)) return false;
    std::memcpy(out, &bits, 4);
    return true;
}

bool ObjectLoad_GameCarriesCode() { return g_GameData.hasBytecode || Function_GameRunsCompiledCode(); }

uint32_t ObjectLoad_CodeEntries()
{
    if (Function_GameRunsCompiledCode()) return g_GameData.link->codeEntryCount > 0 ? uint32_t(g_GameData.link->codeEntryCount) : 0;
    return g_GameData.codeCount;
}

}  // namespace

// The code id of an action list (u32 count, then references to action records; the first record's word
// at 32 is the code id): -1 for an empty list. False (damage recorded) when the list does not fit.
bool ObjectLoad_ActionCodeId(WadReader& r, uint32_t list, uint32_t entry, const char* owner, int32_t* codeId)
{
    *codeId = -1;
    uint32_t count = 0, action = 0, id = 0;
    char what[96];
    if (list == 0) return true;
    std::snprintf(what, sizeof what, "%s %u: action list outside the data", owner, entry);
    if (!r.InData(list, 4, what) || !r.DataU32(list, &count)) return false;
    if (count == 0) return true;
    if (!r.InData(list, 8, what) || !r.DataU32(list + 4, &action)) return false;
    std::snprintf(what, sizeof what, "%s %u: action record outside the data", owner, entry);
    if (!r.InData(action, 36, what) || !r.DataU32(action + 32, &id)) return false;
    if (ObjectLoad_GameCarriesCode() && id >= ObjectLoad_CodeEntries()) {
        std::snprintf(what, sizeof what, "%s %u: code index beyond the code entries", owner, entry);
        return r.Fail(action + 32, what);
    }
    *codeId = int32_t(id);
    return true;
}

// ---- SLinkedList nodes ----

void* SLinkedList_AllocNode(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, false); }
void SLinkedList_FreeNode(void* node) { MemFree(node); }

// ---- CEvent ----

void* CEvent::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void CEvent::operator delete(void* p) { MemFree(p); }

CEvent::~CEvent() { delete code; }

bool CEvent::LoadFromCodeId(int32_t codeId)
{
    if (!ObjectLoad_GameCarriesCode() || codeId < 0) return true;
    delete code;  // a repeated event number binds the event again
    code = new CCode(codeId, false);
    marker = kObjectEventMarker;
    return true;
}

bool CEvent::Execute(CInstance* self, CInstance* other)
{
    if (!code) return true;
    const bool relative = g_ActionRelative;
    g_ActionRelative = false;
    RValue result;
    RValue_SetUndefined(&result);
    const bool ok = Code_ExecuteShowError(self, other, code, &result, 0);
    RValue_Free(&result);
    g_ActionRelative = relative;
    return ok;
}

// ---- CObject ----

void* CObject::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void CObject::operator delete(void* p) { MemFree(p); }

CObject::CObject(int32_t index) : index(index) { Clear(); }

CObject::~CObject()
{
    Clear();
    ClearInstanceLists();
}

void CObject::Clear()
{
    flags = OBJECT_FLAGS_INITIAL;
    spriteIndex = -1;
    depth = 0;
    parentIndex = -1;
    maskIndex = -1;
    MemFree(name);
    name = nullptr;
    usesPhysics = sensor = false;
    shapeKind = OBJECT_SHAPE_CIRCLE;
    collisionGroup = 0;
    density = restitution = linearDamping = angularDamping = 0.0f;
    friction = 0.2f;
    awake = true;
    kinematic = false;
    shapePointCount = 0;
    MemFree(shapePoints);
    shapePoints = nullptr;
    for (CObjectEventTable& table : events) ObjectEventTable_Free(table);
    ClearInstanceLists();
}

void CObject::SetName(const char* text)
{
    MemFree(name);
    name = (text && *text) ? String_Duplicate(text) : nullptr;
}

void CObject::SetNameDirect(char* text)
{
    MemFree(name);
    name = text;
}

CEvent* CObject::GetEvent(int32_t type, int32_t number)
{
    if (type < 0 || type >= OBJECT_EVENT_TYPES || number < 0) {
        RuntimeError("Invalid event argument");
        return nullptr;
    }
    return Object_OwnHandler(this, type, number);
}

CEvent* CObject::FindEvent(int32_t type, int32_t number, int32_t* found)
{
    if (found) *found = index;
    if (CEvent* event = Object_ChainHandler(this, type, number, found)) return event;
    if (type != EVENT_COLLISION) return nullptr;
    // A handler for an ancestor of the other object answers collisions with its descendants.
    CObject* other = Object_Data(number);
    const int32_t limit = ObjectWalkLimit();
    for (int32_t steps = 0; other && other->parentIndex >= 0 && steps < limit; ++steps) {
        other = Object_Data(other->parentIndex);
        if (!other) break;
        if (found) *found = index;
        if (CEvent* event = Object_ChainHandler(this, type, other->index, found)) return event;
    }
    if (found) *found = index;
    return nullptr;
}

bool CObject::HasEvent(int32_t type, int32_t number) { return Object_ChainHandler(this, type, number, nullptr); }

bool CObject::IsChildOf(int32_t ancestor)
{
    const int32_t limit = ObjectWalkLimit();
    CObject* object = this;
    for (int32_t steps = 0; steps < limit && object->parentIndex >= 0; ++steps) {
        object = Object_Data(object->parentIndex);
        if (!object) break;  // a parent index that names no object ends the chain
        if (object->index == ancestor) return true;
    }
    return false;
}

void CObject::SetParent(int32_t parent)
{
    parentIndex = parent;
    Object_Relink(this, (parent >= 0 && parent <= 999999) ? Object_Data(parent) : nullptr);
}

void CObject::AddInstance(CInstance* instance)
{
    instances.Append(instance);
    const int32_t limit = ObjectWalkLimit();
    CObject* object = this;
    for (int32_t steps = 0; object && steps < limit; ++steps, object = object->parent)
        object->instancesRecursive.Append(instance);
}

void CObject::RemoveInstance(CInstance* instance)
{
    instances.RemoveFirst(instance);
    const int32_t limit = ObjectWalkLimit();
    CObject* object = this;
    for (int32_t steps = 0; object && steps < limit; ++steps, object = object->parent)
        object->instancesRecursive.RemoveFirst(instance);
}

void CObject::ClearInstanceLists()
{
    instances.Clear();
    instancesRecursive.Clear();
}

bool CObject::PrepareEvents()
{
    for (int32_t type = 0; type < OBJECT_EVENT_TYPES; ++type) {
        for (int32_t number = 0; number < events[type].count; ++number) {
            CEvent* event = events[type].items[number];
            if (!event) continue;
            event_type = type;
            event_number = number;
            if (!event->Prepare()) return false;
        }
    }
    return true;
}

// Reads one OBJT entry at offset entry (i: its place in the chunk, for messages). The name has been read.
static bool CObject_LoadEntry(CObject* object, WadReader& r, uint32_t entry, uint32_t i)
{
    uint32_t w[8];
    for (uint32_t k = 0; k < 8; ++k)
        if (!ObjectLoad_U32(r, uint64_t(entry) + k * 4, i, &w[k])) return false;

    // Bit 31 of the sprite word is a marker, unless bits 28-30 say the word is no plain index.
    uint32_t sprite = w[1];
    if ((sprite & 0x70000000u) == 0) {
        g_ObjectSpriteMarker |= sprite & 0x80000000u;
        sprite &= 0x7FFFFFFFu;
    }
    object->spriteIndex = int32_t(sprite);
    object->flags = OBJECT_FLAGS_INITIAL & ~(OBJECT_FLAG_SOLID | OBJECT_FLAG_VISIBLE | OBJECT_FLAG_PERSISTENT);
    if (w[2]) object->flags |= OBJECT_FLAG_VISIBLE;
    if (w[3]) object->flags |= OBJECT_FLAG_SOLID;
    object->depth = int32_t(w[4]);
    if (w[5]) object->flags |= OBJECT_FLAG_PERSISTENT;
    object->parentIndex = int32_t(w[6]);
    object->maskIndex = int32_t(w[7]);

    uint64_t at = uint64_t(entry) + 32;
    const int32_t version = g_GameData.bytecodeVersion;
    if (version > 5) {
        uint32_t p[9];
        for (uint32_t k = 0; k < 9; ++k)
            if (!ObjectLoad_U32(r, at + k * 4, i, &p[k])) return false;
        object->usesPhysics = p[0] != 0;
        object->sensor = p[1] != 0;
        object->shapeKind = int32_t(p[2]);
        std::memcpy(&object->density, &p[3], 4);
        std::memcpy(&object->restitution, &p[4], 4);
        object->collisionGroup = int32_t(p[5]);
        std::memcpy(&object->linearDamping, &p[6], 4);
        std::memcpy(&object->angularDamping, &p[7], 4);
        const uint32_t points = p[8];
        at += 36;
        if (version >= 9) {
            uint32_t awake = 0, kinematic = 0;
            if (!ObjectLoad_F32(r, at, i, &object->friction) || !ObjectLoad_U32(r, at + 4, i, &awake) ||
                !ObjectLoad_U32(r, at + 8, i, &kinematic))
                return false;
            object->awake = awake != 0;
            object->kinematic = kinematic != 0;
            at += 12;
        }
        if (at + uint64_t(points) * 8 > r.Length())
            return ObjectLoad_Fail(r, uint32_t(std::min<uint64_t>(at, UINT32_MAX)), i, "shape points run past the entry");
        if (points) {
            object->shapePoints = static_cast<ObjectShapePoint*>(
                MemoryManager::Alloc(size_t(points) * sizeof(ObjectShapePoint), __FILE__, __LINE__, false));
            if (!object->shapePoints) return ObjectLoad_Fail(r, at, i, "shape points cannot be allocated");
            for (uint32_t k = 0; k < points; ++k) {
                if (!ObjectLoad_F32(r, at + k * 8, i, &object->shapePoints[k].x) ||
                    !ObjectLoad_F32(r, at + k * 8 + 4, i, &object->shapePoints[k].y))
                    return false;
            }
            object->shapePointCount = int32_t(points);
        }
        at += uint64_t(points) * 8;
    }

    uint32_t types = 0;
    if (!ObjectLoad_U32(r, at, i, &types)) return false;
    if (types > uint32_t(OBJECT_EVENT_TYPES)) return ObjectLoad_Fail(r, uint32_t(at), i, "more than 12 event types");
    const uint32_t objectCount = uint32_t(g_objects.size());
    for (uint32_t t = 0; t < types; ++t) {
        uint32_t list = 0, count = 0;
        if (!ObjectLoad_U32(r, at + 4 + t * 4, i, &list)) return false;
        if (list == 0) continue;
        if (!ObjectLoad_U32(r, list, i, &count)) return false;
        if (uint64_t(list) + 4 + uint64_t(count) * 4 > r.Length())
            return ObjectLoad_Fail(r, list, i, "event list runs past the data");
        for (uint32_t e = 0; e < count; ++e) {
            uint32_t eventEntry = 0, number = 0;
            if (!ObjectLoad_U32(r, uint64_t(list) + 4 + uint64_t(e) * 4, i, &eventEntry)) return false;
            if (!ObjectLoad_U32(r, eventEntry, i, &number)) return false;
            const uint32_t limit = t == uint32_t(EVENT_COLLISION) ? objectCount : uint32_t(OBJECT_LIST_NUMBERS);
            if (number >= limit) return ObjectLoad_Fail(r, eventEntry, i, "event number out of range");
            int32_t codeId = -1;
            if (!ObjectLoad_ActionCodeId(r, eventEntry + 4, i, "object", &codeId)) return false;
            CObjectEventTable& table = object->events[t];
            if (!ObjectEventTable_Grow(table, int32_t(number)))
                return ObjectLoad_Fail(r, eventEntry, i, "event table cannot grow");
            if (!table.items[number]) table.items[number] = new CEvent();
            table.items[number]->LoadFromCodeId(codeId);
        }
    }
    return true;
}

// ---- The table ----

// The loader tests follow the chunk dispatch through the call trace.
void Object_Init()
{
    SeamTrace_Record("Object_Init");
    Object_FreeAll();
}

bool Object_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("Object_Load");
    WadReader r = WadReader::ForChunk(body, size, base);
    const uint32_t list = r.ChunkStart();
    uint32_t count = 0;
    if (!r.List(list, &count)) return false;
    Object_FreeAll();
    g_objects.assign(count, nullptr);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t entry = 0, nameRef = 0;
        const char* name = nullptr;
        if (!r.ListEntry(list, i, &entry)) return false;
        if (entry == 0) continue;
        if (!ObjectLoad_U32(r, entry, i, &nameRef) || !r.String(nameRef, &name)) return false;
        CObject* object = new CObject(int32_t(i));
        g_objects[i] = object;
        if (!CObject_LoadEntry(object, r, entry, i)) return false;
        object->SetName(name);
    }
    Object_LinkParents();
    return true;
}

bool Object_Prepare()
{
    DebugConsole->Output("Preparing %d objects:\n", Object_Count());
    for (CObject* object : g_objects) {
        if (!object) continue;
        DebugConsole->Output("\tObjects %d: %s\n", object->index, object->name ? object->name : "");
        g_objectPreparing = object->index;
        if (!object->PrepareEvents()) return false;
    }
    g_objectPreparing = -1;
    Object_LinkParents();
    return true;
}

int32_t Object_Count() { return int32_t(g_objects.size()); }

CObject* Object_Data(int32_t index)
{
    return (index >= 0 && size_t(index) < g_objects.size()) ? g_objects[size_t(index)] : nullptr;
}

CObject* Hash_FindObject(int32_t index) { return Object_Data(index); }

int32_t Object_Find(const char* name)
{
    if (!name) return -1;
    for (CObject* object : g_objects)
        if (object && object->name && std::strcmp(object->name, name) == 0) return object->index;
    return -1;
}

int32_t Object_Add()
{
    const int32_t index = Object_Count();
    CObject* object = new CObject(index);
    char name[32];
    std::snprintf(name, sizeof name, "__newobject%d", index);
    object->SetName(name);
    g_objects.push_back(object);
    return index;
}

bool Object_Delete(int32_t index)
{
    CObject* object = Object_Data(index);
    if (!object) return true;
    g_objects[size_t(index)] = nullptr;
    g_deletedObjects.push_back(object);

    for (auto& type : g_objectLists)
        for (ObjectList& list : type) ObjectList_Remove(list, index);
    int32_t kept = 0;
    for (int32_t i = 0; i < g_collisionPairCount; ++i)
        if (g_collisionPairs[i].a != index && g_collisionPairs[i].b != index) g_collisionPairs[kept++] = g_collisionPairs[i];
    g_collisionPairCount = kept;

    // Children lose their parent: their instances leave the lists of the deleted object and its
    // ancestors, which no later removal would reach once the link is gone.
    for (CObject* child : g_objects)
        if (child && child->parent == object) Object_Relink(child, nullptr);
    return true;
}

void Object_LinkParents()
{
    for (CObject* object : g_objects) {
        if (!object) continue;
        const int32_t p = object->parentIndex;
        Object_Relink(object, (p >= 0 && p <= 99999) ? Object_Data(p) : nullptr);
    }
    // Cut every cycle at its lowest member: walking from there comes back to it.
    const int32_t limit = ObjectWalkLimit();
    for (CObject* object : g_objects) {
        if (!object) continue;
        CObject* at = object->parent;
        for (int32_t steps = 0; at && steps < limit; ++steps, at = at->parent) {
            if (at != object) continue;
            DebugConsole->Output("Object %s: parent %d closes a cycle; the link is cut\n",
                                 object->name ? object->name : "", object->parentIndex);
            object->parentIndex = -1;
            Object_Relink(object, nullptr);
            break;
        }
    }
}

void Object_ClearAllInstanceLists()
{
    for (CObject* object : g_objects)
        if (object) object->ClearInstanceLists();
    for (CObject* object : g_deletedObjects) object->ClearInstanceLists();
}

void Object_FreeAll()
{
    ObjectLists_Free();
    for (CObject* object : g_objects) delete object;
    for (CObject* object : g_deletedObjects) delete object;
    ObjectVector().swap(g_objects);
    ObjectVector().swap(g_deletedObjects);
    g_objectPreparing = -1;
}

bool ObjectTable_Exists(int32_t index) { return Object_Data(index) != nullptr; }

const char* ObjectTable_Name(int32_t index)
{
    CObject* object = Object_Data(index);
    return object ? object->name : nullptr;
}

int32_t ObjectTable_Parent(int32_t index)
{
    CObject* object = Object_Data(index);
    return (object && object->parentIndex >= 0) ? object->parentIndex : -1;
}

// ---- Per-event lists ----

void ObjectLists_BuildType(int32_t type, int32_t last)
{
    if (type < 0 || type >= OBJECT_LIST_TYPES) return;
    for (ObjectList& list : g_objectLists[type]) list.count = 0;
    if (last >= OBJECT_LIST_NUMBERS) last = OBJECT_LIST_NUMBERS - 1;
    for (int32_t number = 0; number <= last; ++number)
        for (CObject* object : g_objects)
            if (object && object->FindEvent(type, number)) ObjectList_Append(g_objectLists[type][number], object->index);
}

void ObjectLists_BuildCollisionPairs()
{
    CollisionPairs_Reset();
    bool markOnly = false;
    if (g_GameOptions.collisionMode) {
        for (CObject* object : g_objects)
            if (object && !object->usesPhysics) markOnly = true;
    }
    // Many objects may answer one parent's children: a set keeps the duplicate check constant.
    std::unordered_set<uint64_t, std::hash<uint64_t>, std::equal_to<uint64_t>, MemAllocator<uint64_t>> seen;
    for (CObject* a : g_objects) {
        if (!a || !Object_ChainHasCollisions(a)) continue;
        for (CObject* b : g_objects) {
            if (!b || !a->FindEvent(EVENT_COLLISION, b->index)) continue;
            a->flags |= OBJECT_FLAG_COLLIDES;
            b->flags |= OBJECT_FLAG_COLLIDES;
            if (!markOnly && seen.insert(CollisionPairs_Key(a->index, b->index)).second)
                CollisionPairs_Append(a->index, b->index, a, b);
        }
    }
}

void ObjectLists_Build()
{
    for (int32_t type : {EVENT_CREATE, EVENT_DESTROY})
        for (ObjectList& list : g_objectLists[type]) list.count = 0;
    for (CObject* object : g_objects) {
        if (!object) continue;
        ObjectList_Append(g_objectLists[EVENT_CREATE][0], object->index);
        ObjectList_Append(g_objectLists[EVENT_DESTROY][0], object->index);
    }
    ObjectLists_BuildType(EVENT_ALARM, 12);
    ObjectLists_BuildType(EVENT_STEP, 16);
    for (ObjectList& list : g_objectLists[EVENT_COLLISION]) list.count = 0;
    // Key codes above 128 have no lists: such key events are never delivered.
    ObjectLists_BuildType(EVENT_KEYBOARD, 128);
    ObjectLists_BuildType(EVENT_MOUSE, 128);
    ObjectLists_BuildType(EVENT_OTHER, 128);
    ObjectLists_BuildType(EVENT_DRAW, 0);
    ObjectLists_BuildType(EVENT_KEYPRESS, 128);
    ObjectLists_BuildType(EVENT_KEYRELEASE, 128);
    ObjectLists_BuildCollisionPairs();
}

void ObjectLists_Free()
{
    for (auto& type : g_objectLists) {
        for (ObjectList& list : type) {
            MemFree(list.objects);
            list = ObjectList{};
        }
    }
    CollisionPairs_Reset();
}

const ObjectList& ObjectLists_Get(int32_t type, int32_t number)
{
    if (type < 0 || type >= OBJECT_LIST_TYPES || number < 0 || number >= OBJECT_LIST_NUMBERS) return g_objectListEmpty;
    return g_objectLists[type][number];
}

int32_t CollisionPairs_Count() { return g_collisionPairCount; }
const CollisionPair* CollisionPairs_Data() { return g_collisionPairs; }
