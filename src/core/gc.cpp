// The value collector. Marking runs on an explicit work list (deep chains cannot exhaust the machine
// stack) that is kept between collections, so a collection in a steady game allocates only its mark array.
#include "core/gc.h"

#include <cstring>

#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "core/varlist.h"
#include "draw/draw.h"
#include "ds/ds.h"
#include "layers/layers.h"
#include "world/loader.h"
#include "world/object_base.h"
#include "world/world_access.h"

namespace {

// A growable stack of pointers; its storage stays between collections.
struct GcWorkStack {
    void** items = nullptr;
    size_t count = 0;
    size_t capacity = 0;
};

// Arrays met in this collection (open addressing; a null slot is empty). Arrays carry no collection
// stamp, and one array may be held by many values.
struct GcArraySet {
    RefArray** slots = nullptr;
    size_t capacity = 0;  // a power of two, or 0
    size_t count = 0;
};

struct GcState {
    GcWorkStack objects;
    GcWorkStack arrays;
    GcArraySet seen;
    uint8_t* marks = nullptr;
    int32_t length = 0;
    bool incomplete = false;  // the work list could not grow: nothing may be swept
    GCStats stats{};
};
GcState g_gc;

bool Gc_Grow(GcWorkStack& s)
{
    const size_t capacity = s.capacity ? s.capacity * 2 : 1024;
    auto** items = static_cast<void**>(MemoryManager::Alloc(capacity * sizeof(void*), __FILE__, __LINE__, false));
    if (!items) return false;
    if (s.count) std::memcpy(items, s.items, s.count * sizeof(void*));
    MemFree(s.items);
    s.items = items;
    s.capacity = capacity;
    return true;
}

void Gc_Push(GcWorkStack& s, void* p)
{
    if (s.count == s.capacity && !Gc_Grow(s)) {
        g_gc.incomplete = true;
        return;
    }
    s.items[s.count++] = p;
}

size_t Gc_ArrayHash(const RefArray* a, size_t mask)
{
    uint64_t h = reinterpret_cast<uintptr_t>(a);
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return size_t(h) & mask;
}

bool Gc_SeenInsertInto(RefArray** slots, size_t capacity, RefArray* a)
{
    const size_t mask = capacity - 1;
    for (size_t i = Gc_ArrayHash(a, mask);; i = (i + 1) & mask) {
        if (slots[i] == a) return false;
        if (!slots[i]) {
            slots[i] = a;
            return true;
        }
    }
}

// True the first time an array is met in this collection.
bool Gc_SeenInsert(RefArray* a)
{
    GcArraySet& s = g_gc.seen;
    if ((s.count + 1) * 2 > s.capacity) {
        const size_t capacity = s.capacity ? s.capacity * 2 : 256;
        auto** slots =
            static_cast<RefArray**>(MemoryManager::Alloc(capacity * sizeof(RefArray*), __FILE__, __LINE__, true));
        if (!slots) {
            g_gc.incomplete = true;
            return false;
        }
        for (size_t i = 0; i < s.capacity; ++i)
            if (s.slots[i]) Gc_SeenInsertInto(slots, capacity, s.slots[i]);
        MemFree(s.slots);
        s.slots = slots;
        s.capacity = capacity;
    }
    if (!Gc_SeenInsertInto(s.slots, s.capacity, a)) return false;
    ++s.count;
    return true;
}

void Gc_MarkObject(QZObjectBase* o)
{
    if (!o || o->markStamp == g_ObjectBase_CollectionNumber) return;
    o->markStamp = g_ObjectBase_CollectionNumber;
    if (o->tableIndex >= 0 && o->tableIndex < g_gc.length) g_gc.marks[o->tableIndex] = 1;
    Gc_Push(g_gc.objects, o);
}

void Gc_MarkValue(const RValue* v)
{
    switch (RValue_Kind(v)) {
    case VALUE_OBJECT:
    case VALUE_ACCESSOR: Gc_MarkObject(v->obj); break;
    case VALUE_ARRAY:
        if (v->arr && Gc_SeenInsert(v->arr)) Gc_Push(g_gc.arrays, v->arr);
        break;
    default: break;
    }
}

void Gc_ScanObject(QZObjectBase* o)
{
    if (o->slots)
        for (int32_t i = 0; i < o->slotCount; ++i) Gc_MarkValue(&o->slots[i]);
    if (o->sparse) {
        int32_t slot = -1;
        RValue* cell = nullptr;
        while (o->sparse->Next(&slot, nullptr, &cell))
            if (cell) Gc_MarkValue(cell);
    }
    if (o->named)
        for (int32_t b = 0; b < VARIABLE_LIST_BUCKETS; ++b)
            for (VariableNode* n = o->named->Bucket(b); n; n = n->next) {
                Gc_MarkValue(&n->key);
                Gc_MarkValue(&n->value);
            }
}

void Gc_ScanArray(const RefArray* a)
{
    if (!a->rows) return;
    for (int32_t r = 0; r < a->rowCount; ++r)
        if (a->rows[r].items)
            for (int32_t c = 0; c < a->rows[r].length; ++c) Gc_MarkValue(&a->rows[r].items[c]);
}

void Gc_Drain()
{
    while (g_gc.objects.count || g_gc.arrays.count) {
        if (g_gc.objects.count) Gc_ScanObject(static_cast<QZObjectBase*>(g_gc.objects.items[--g_gc.objects.count]));
        else Gc_ScanArray(static_cast<const RefArray*>(g_gc.arrays.items[--g_gc.arrays.count]));
    }
}

void Gc_MarkInstance(CInstance* instance)
{
    if (instance) Gc_MarkObject(Instance_GetScriptObject(instance));
}

void Gc_MarkList(WorldList list)
{
    WorldCursor cursor;
    while (CInstance* i = World_NextInstance(list, -1, &cursor)) Gc_MarkInstance(i);
}

template <class T>
void Gc_MarkContainers(T** table, int32_t count)
{
    for (int32_t i = 0; table && i < count; ++i)
        if (table[i]) table[i]->MarkReferences(g_gc.marks, g_gc.length);
}

// A new collection number; when it wraps every stamp goes back to 0 (pooled objects are dropped, as
// their stamps cannot be reached).
void Gc_NextNumber()
{
    if (++g_ObjectBase_CollectionNumber != 0) return;
    ObjectBasePool_Clear();
    for (int32_t i = 0; i < ObjectTable.capacity; ++i)
        if (QZObjectBase* o = ObjectTable.items[i]) o->markStamp = 0;
    g_ObjectBase_CollectionNumber = 1;
}

void Gc_MarkRoots()
{
    Gc_MarkObject(g_GlobalObject);
    // Every registered instance: also those of a persistent room that is not running and those carried
    // between rooms, which the running room's lists do not hold.
    for (int32_t i = 0; i < g_gc.length && i < ObjectTable.capacity; ++i) {
        QZObjectBase* o = ObjectTable.items[i];
        if (o && o->objectKind == OBJECT_KIND_INSTANCE) Gc_MarkObject(o);
    }
    Gc_MarkList(WORLD_LIST_ROOM);
    Gc_MarkList(WORLD_LIST_DEACTIVATED);
    Gc_MarkInstance(Layer_ScriptInstance);
    Gc_MarkInstance(CCameraManager::GetScriptInstance());
    Gc_Drain();
    // Containers outlive rooms: what they hold stays reachable whether a room runs or not.
    int32_t count = 0;
    Gc_MarkContainers(DS_Maps, DS_MapsCount);
    Gc_MarkContainers(DS_Lists, DS_ListsCount);
    CDS_Stack** stacks = DSStack_GetTable(&count);
    Gc_MarkContainers(stacks, count);
    CDS_Queue** queues = DSQueue_GetTable(&count);
    Gc_MarkContainers(queues, count);
    CDS_Grid** grids = DSGrid_GetTable(&count);
    Gc_MarkContainers(grids, count);
    CDS_Priority** priorities = DSPriority_GetTable(&count);
    Gc_MarkContainers(priorities, count);
    Gc_Drain();
}

}  // namespace

void VM_GarbageCollect()
{
    if (!g_GameData.scriptObjectModel || VM_CurrentFrame) return;
    const int32_t length = ObjectTable.capacity;
    if (length <= 0 || !ObjectTable.items) return;
    Gc_NextNumber();
    g_gc.marks = static_cast<uint8_t*>(MemoryManager::Alloc(size_t(length), __FILE__, __LINE__, true));
    if (!g_gc.marks) return;
    g_gc.length = length;
    g_gc.incomplete = false;
    if (g_gc.seen.count) {
        std::memset(g_gc.seen.slots, 0, g_gc.seen.capacity * sizeof(RefArray*));
        g_gc.seen.count = 0;
    }

    Gc_MarkRoots();

    GCStats& stats = g_gc.stats;
    ++stats.collections;
    stats.reached = 0;
    stats.freed = 0;
    for (int32_t i = 0; i < length; ++i) stats.reached += g_gc.marks[i];
    // A mark pass that could not finish proves nothing unreachable.
    if (!g_gc.incomplete) {
        for (int32_t i = 0; i < length && i < ObjectTable.capacity; ++i) {
            QZObjectBase* o = ObjectTable.items[i];
            if (!o || g_gc.marks[i] || o->objectKind == OBJECT_KIND_INSTANCE) continue;
            ObjectBase_Free(o);
            ++stats.freed;
        }
    }
    g_gc.objects.count = 0;
    g_gc.arrays.count = 0;
    MemFree(g_gc.marks);
    g_gc.marks = nullptr;
    g_gc.length = 0;
}

GCStats GC_LastStats() { return g_gc.stats; }

void GC_Release()
{
    MemFree(g_gc.objects.items);
    MemFree(g_gc.arrays.items);
    MemFree(g_gc.seen.slots);
    g_gc.objects = {};
    g_gc.arrays = {};
    g_gc.seen = {};
}
