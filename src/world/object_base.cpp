// Script objects: allocation and pooling, the object table, sparse-slot cells, named properties and marking.
#include "world/object_base.h"

#include <cstring>
#include <unordered_set>
#include <vector>

#include "core/varlist.h"
#include "core/varnames.h"
#include "world/loader.h"

ObjectTableRecord ObjectTable = {nullptr, 0, 0, 0};
uint32_t g_ObjectBase_CollectionNumber = 0;

namespace {

constexpr int32_t kObjectTableInitial = 128;
constexpr int32_t kSparseInitialCapacity = 8;
// A released object keeps an emptied sparse map up to this capacity, so reuse allocates nothing.
constexpr int32_t kSparseKeepCapacity = 64;
constexpr size_t kPoolChunkBytes = 1u << 20;
constexpr int32_t kPoolCellsPerChunk = 65535;

QZObjectBase* g_objectPool = nullptr;
int32_t g_objectPoolCount = 0;

ObjectBaseSlotResolver g_slotResolver = Code_Variable_FindSlot;

struct ObjectBasePoolChunk {
    unsigned char* block;  // as allocated
    RValue* first;         // first cell, 16-byte aligned
};
std::vector<ObjectBasePoolChunk, MemAllocator<ObjectBasePoolChunk>>* g_poolChunks = nullptr;
RValue* g_cellFree = nullptr;  // free cells, linked through their first 8 bytes
int32_t g_cellsInUse = 0;
int32_t g_cellsFree = 0;

// A free cell is raw storage holding the next free cell, not a value: the link is copied in and out as
// bytes, a pointer's worth.
void FreeCell_SetNext(void* cell, RValue* next) { std::memcpy(cell, &next, sizeof next); }
RValue* FreeCell_Next(const void* cell)
{
    RValue* next;
    std::memcpy(&next, cell, sizeof next);
    return next;
}

void ObjectTable_Init()
{
    ObjectTable.items =
        static_cast<QZObjectBase**>(MemoryManager::Alloc(sizeof(QZObjectBase*) * kObjectTableInitial, __FILE__, __LINE__, true));
    ObjectTable.capacity = ObjectTable.items ? kObjectTableInitial : 0;
    ObjectTable.count = 0;
    ObjectTable.nextFree = 0;
}

// Made before the entry point, given back at exit.
struct ObjectTableLifetime {
    ObjectTableLifetime()
    {
        if (!ObjectTable.items) ObjectTable_Init();
    }
    ~ObjectTableLifetime()
    {
        MemFree(ObjectTable.items);
        ObjectTable = {nullptr, 0, 0, 0};
    }
} g_objectTableLifetime;

void ObjectBase_SetKinds(RValue* slots, int32_t n, int32_t kind)
{
    if (!slots || kind == static_cast<int32_t>(VALUE_UNDEFINED)) return;
    for (int32_t i = 0; i < n; ++i) slots[i].kind = static_cast<uint32_t>(kind);
}

// Frees every sparse value and returns its cell; the map itself is left empty.
void ObjectBase_EmptySparse(QZObjectBase* o)
{
    CHashMap<RValue*>* map = o->sparse;
    if (!map || map->Count() == 0) return;
    for (int32_t s = 0, n = map->Capacity(); s < n; ++s) {
        auto& entry = map->At(s);
        if (entry.hash > 0) {
            if (RValue_NeedsFree(entry.value)) RValue_Free(entry.value);
            RValuePool_Free(entry.value);
        }
    }
    map->Clear();
}

void ObjectBase_FreeSlotValues(QZObjectBase* o)
{
    if (!o->slots) return;
    for (int32_t i = 0; i < o->slotCapacity; ++i) {
        if (RValue_NeedsFree(&o->slots[i])) {
            RValue_Free(&o->slots[i]);
        } else {
            RValue_SetUndefined(&o->slots[i]);
        }
    }
}

void RValuePool_AddChunk()
{
    if (!g_poolChunks) g_poolChunks = new (MemAlloc(sizeof(*g_poolChunks))) std::remove_pointer_t<decltype(g_poolChunks)>();
    auto* block = static_cast<unsigned char*>(MemoryManager::Alloc(kPoolChunkBytes + 16, __FILE__, __LINE__, false));
    if (!block) return;
    std::memset(block, 0x78, kPoolChunkBytes + 16);
    const uintptr_t aligned = (reinterpret_cast<uintptr_t>(block) + 15) & ~uintptr_t(15);
    RValue* first = reinterpret_cast<RValue*>(aligned);
    g_poolChunks->push_back({block, first});
    for (int32_t i = kPoolCellsPerChunk - 1; i >= 0; --i) {
        FreeCell_SetNext(&first[i], g_cellFree);
        g_cellFree = &first[i];
    }
    g_cellsFree += kPoolCellsPerChunk;
}

// The object-or-array walk behind marking: a work list rather than recursion, so deep chains cannot
// exhaust the stack, and a seen-set of arrays so that self-holding arrays end.
struct ObjectBaseMarkWalk {
    uint8_t* marks;
    int32_t length;
    std::vector<QZObjectBase*, MemAllocator<QZObjectBase*>> objects;
    std::vector<RefArray*, MemAllocator<RefArray*>> arrays;
    std::unordered_set<RefArray*, std::hash<RefArray*>, std::equal_to<RefArray*>, MemAllocator<RefArray*>> seen;

    void Value(const RValue* v)
    {
        switch (RValue_Kind(v)) {
        case VALUE_OBJECT:
        case VALUE_ACCESSOR:
            if (v->obj) objects.push_back(v->obj);
            break;
        case VALUE_ARRAY:
            if (v->arr && seen.insert(v->arr).second) arrays.push_back(v->arr);
            break;
        default:
            break;
        }
    }

    void Object(QZObjectBase* o)
    {
        if (o->markStamp == g_ObjectBase_CollectionNumber) return;
        o->markStamp = g_ObjectBase_CollectionNumber;
        if (marks && o->tableIndex >= 0 && o->tableIndex < length) marks[o->tableIndex] = 1;
        if (o->slots)
            for (int32_t i = 0; i < o->slotCount; ++i) Value(&o->slots[i]);
        if (o->sparse) {
            int32_t slot = -1;
            RValue* cell = nullptr;
            while (o->sparse->Next(&slot, nullptr, &cell)) Value(cell);
        }
        if (o->named) {
            for (int32_t b = 0; b < VARIABLE_LIST_BUCKETS; ++b)
                for (VariableNode* n = o->named->Bucket(b); n; n = n->next) {
                    Value(&n->key);
                    Value(&n->value);
                }
        }
    }

    void Run()
    {
        while (!objects.empty() || !arrays.empty()) {
            if (!objects.empty()) {
                QZObjectBase* o = objects.back();
                objects.pop_back();
                Object(o);
                continue;
            }
            RefArray* a = arrays.back();
            arrays.pop_back();
            for (int32_t r = 0; r < a->rowCount && a->rows; ++r)
                for (int32_t c = 0; c < a->rows[r].length && a->rows[r].items; ++c) Value(&a->rows[r].items[c]);
        }
    }
};

// The slot named by the resolver, or null.
RValue* ObjectBase_NamedSlot(QZObjectBase* object, const char* name)
{
    if (!g_slotResolver || !name) return nullptr;
    const int32_t slot = g_slotResolver(object, name);
    if (slot < 0 || slot >= object->slotCount) return nullptr;
    return ObjectBase_GetSlot(object, slot);
}

// The variable a setter writes, or null when the object takes no new values.
RValue* ObjectBase_SetterTarget(QZObjectBase* object, const char* name)
{
    if (!object || !ObjectBase_IsExtensible(object)) return nullptr;
    return ObjectBase_FindOrAddVariable(object, name);
}

}  // namespace

QZObjectBase::QZObjectBase(int32_t count, int32_t kind) : slotCount(count), slotCapacity(count), defaultKind(kind)
{
    if (g_GameData.scriptObjectModel) named = new CVariableList();
}

QZObjectBase::~QZObjectBase() { Destroy(); }

void QZObjectBase::Destroy()
{
    ObjectBase_EmptySparse(this);
    delete sparse;
    sparse = nullptr;
    ObjectBase_FreeSlotValues(this);
    MemFree(slots);
    slots = nullptr;
    delete named;
    named = nullptr;
}

RValue* QZObjectBase::GetSlot(int32_t n) { return ObjectBase_GetSlotDirect(this, n); }

void* QZObjectBase::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void QZObjectBase::operator delete(void* p) { MemoryManager::Free(p); }

QZObjectBase* ObjectBase_Alloc(int32_t slotCount, int32_t defaultKind, bool withSlots)
{
    if (slotCount < 0) slotCount = 0;
    QZObjectBase* o = g_objectPool;
    if (o) {
        g_objectPool = o->poolNext;
        o->poolNext = nullptr;
        --g_objectPoolCount;
        if (!withSlots) {
            // Sparse from now on: an old, possibly shorter array must not be indexed.
            MemFree(o->slots);
            o->slots = nullptr;
            o->slotCapacity = slotCount;
        } else if (o->slotCapacity < slotCount) {
            if (o->slots) o->slots = static_cast<RValue*>(MemReAlloc(o->slots, sizeof(RValue) * size_t(slotCount)));
            o->slotCapacity = slotCount;
        }
        o->slotCount = slotCount;
        o->defaultKind = defaultKind;
        ObjectBase_SetKinds(o->slots, slotCount, defaultKind);
    } else {
        o = new QZObjectBase(slotCount, defaultKind);
    }
    if (withSlots && !o->slots && slotCount > 0) {
        o->slots = static_cast<RValue*>(MemoryManager::Alloc(sizeof(RValue) * size_t(slotCount), __FILE__, __LINE__, true));
        o->slotCapacity = slotCount;
        ObjectBase_SetKinds(o->slots, slotCount, defaultKind);
    }
    ObjectTable_Add(o);
    return o;
}

void ObjectBase_Free(QZObjectBase* object)
{
    if (!object) return;
    const int32_t index = object->tableIndex;
    if (ObjectTable.items && index >= 0 && index < ObjectTable.capacity && ObjectTable.items[index] == object) {
        ObjectTable.items[index] = nullptr;
        --ObjectTable.count;
        ObjectTable.nextFree = index;
    }
    object->tableIndex = -1;
    if (object->objectKind == OBJECT_KIND_INSTANCE || object->objectKind == OBJECT_KIND_ACCESSOR) {
        delete object;
        return;
    }
    ObjectBase_FreeSlotValues(object);
    ObjectBase_EmptySparse(object);
    if (object->sparse && object->sparse->Capacity() > kSparseKeepCapacity) {
        delete object->sparse;
        object->sparse = nullptr;
    }
    if (object->named && object->named->Count() > 0) object->named->Clear();
    object->scopeNext = nullptr;
    object->poolNext = g_objectPool;
    g_objectPool = object;
    ++g_objectPoolCount;
}

void ObjectBasePool_Clear()
{
    while (g_objectPool) {
        QZObjectBase* o = g_objectPool;
        g_objectPool = o->poolNext;
        delete o;
    }
    g_objectPoolCount = 0;
}

int32_t ObjectBasePool_Count() { return g_objectPoolCount; }

RValue* ObjectBase_GetSlot(QZObjectBase* object, int32_t n) { return object->GetSlot(n); }

RValue* ObjectBase_GetSlotDirect(QZObjectBase* object, int32_t n)
{
    if (n < 0) return nullptr;
    if (object->slots && n < object->slotCount) return &object->slots[n];
    if (!object->sparse) {
        object->sparse = new CHashMap<RValue*>(kSparseInitialCapacity);
        object->counter = 0;
    }
    if (RValue** found = object->sparse->Find(n)) return *found;
    RValue* cell = RValuePool_Alloc();
    cell->v64 = 0;
    cell->flags = 0;
    cell->kind = static_cast<uint32_t>(object->defaultKind);
    if (!object->sparse->InsertNew(n, cell)) {
        RValuePool_Free(cell);
        return nullptr;
    }
    return cell;
}

int32_t ObjectTable_Add(QZObjectBase* object)
{
    if (!ObjectTable.items) ObjectTable_Init();
    if (ObjectTable.count >= ObjectTable.capacity) {
        const int32_t grown = ObjectTable.capacity * 3 / 2;
        auto* items = static_cast<QZObjectBase**>(MemReAlloc(ObjectTable.items, sizeof(QZObjectBase*) * size_t(grown)));
        if (items) {
            ObjectTable.items = items;
            ObjectTable.capacity = grown;
        }
    }
    const int32_t capacity = ObjectTable.capacity;
    for (int32_t i = 0; i < capacity; ++i) {
        const int32_t at = (ObjectTable.nextFree + i) % capacity;
        if (!ObjectTable.items[at]) {
            ObjectTable.items[at] = object;
            ++ObjectTable.count;
            ObjectTable.nextFree = at;
            object->tableIndex = at;
            return at;
        }
    }
    // Not registered, and not counted: the count stays the number of objects the table holds.
    object->tableIndex = -1;
    return -1;
}

RValue* RValuePool_Alloc()
{
    if (!g_cellFree) RValuePool_AddChunk();
    RValue* cell = g_cellFree;
    if (!cell) return static_cast<RValue*>(MemoryManager::Alloc(sizeof(RValue), __FILE__, __LINE__, true));
    g_cellFree = FreeCell_Next(cell);
    --g_cellsFree;
    ++g_cellsInUse;
    return cell;
}

bool RValuePool_Owns(const RValue* cell)
{
    if (!g_poolChunks) return false;
    const uintptr_t at = reinterpret_cast<uintptr_t>(cell);
    for (const ObjectBasePoolChunk& c : *g_poolChunks) {
        const uintptr_t first = reinterpret_cast<uintptr_t>(c.first);
        if (at >= first && at < first + sizeof(RValue) * kPoolCellsPerChunk) return true;
    }
    return false;
}

void RValuePool_Free(RValue* cell)
{
    if (!cell) return;
    if (!RValuePool_Owns(cell)) {
        MemFree(cell);
        return;
    }
    FreeCell_SetNext(cell, g_cellFree);
    g_cellFree = cell;
    --g_cellsInUse;
    ++g_cellsFree;
}

RValuePoolStats RValuePool_Stats()
{
    return {g_poolChunks ? static_cast<int32_t>(g_poolChunks->size()) : 0, g_cellsInUse, g_cellsFree};
}

bool RValuePool_Release()
{
    if (g_cellsInUse != 0) return false;
    if (g_poolChunks) {
        for (const ObjectBasePoolChunk& c : *g_poolChunks) MemFree(c.block);
        using Chunks = std::remove_pointer_t<decltype(g_poolChunks)>;
        g_poolChunks->~Chunks();
        MemFree(g_poolChunks);
        g_poolChunks = nullptr;
    }
    g_cellFree = nullptr;
    g_cellsFree = 0;
    return true;
}

ObjectBaseSlotResolver ObjectBase_SetSlotResolver(ObjectBaseSlotResolver resolver)
{
    ObjectBaseSlotResolver old = g_slotResolver;
    g_slotResolver = resolver;
    return old;
}

RValue* ObjectBase_FindVariable(QZObjectBase* object, const char* name)
{
    if (!object || !name) return nullptr;
    if (RValue* slot = ObjectBase_NamedSlot(object, name)) return slot;
    if (!object->named) return nullptr;
    VariableNode* node = object->named->FindByName(name);
    return node ? &node->value : nullptr;
}

RValue* ObjectBase_FindOrAddVariable(QZObjectBase* object, const char* name)
{
    if (!object || !name) return nullptr;
    if (RValue* found = ObjectBase_FindVariable(object, name)) return found;
    // Without a named-variable list a name that has no slot has nowhere to live.
    if (!object->named) return nullptr;
    VariableNode* node = CVariableList::NewNamedNode(name);
    if (!node) return nullptr;
    object->named->Add(node);
    return &node->value;
}

bool VariableIterator_Next(VariableIterator* it)
{
    if (!it || !it->list) return false;
    if (it->node && it->node->next) {
        it->node = it->node->next;
        return true;
    }
    while (++it->bucket < VARIABLE_LIST_BUCKETS) {
        if (VariableNode* first = it->list->Bucket(it->bucket)) {
            it->node = first;
            return true;
        }
    }
    it->node = nullptr;
    return false;
}

bool ObjectBase_IsExtensible(QZObjectBase* object)
{
    RValue* v = ObjectBase_FindVariable(object, "[[Extensible]]");
    if (!v) return true;
    const uint32_t kind = RValue_Kind(v);
    if (kind == VALUE_UNSET || kind == VALUE_UNDEFINED) return true;
    return RValue_ToReal(v) != 0.0;
}

void ObjectBase_AddObjectProperty(QZObjectBase* object, const char* name, QZObjectBase* value, uint32_t flags)
{
    if (RValue* v = ObjectBase_SetterTarget(object, name)) {
        RValue_Free(v);
        v->v64 = 0;
        v->obj = value;
        v->flags = flags;
        v->kind = VALUE_OBJECT;
    }
}

void ObjectBase_AddBoolProperty(QZObjectBase* object, const char* name, bool value, uint32_t flags)
{
    if (RValue* v = ObjectBase_SetterTarget(object, name)) {
        RValue_Free(v);
        RValue_SetReal(v, value ? 1.0 : 0.0);
        v->flags = flags;
    }
}

void ObjectBase_AddIntProperty(QZObjectBase* object, const char* name, int32_t value, uint32_t flags)
{
    if (RValue* v = ObjectBase_SetterTarget(object, name)) {
        RValue_Free(v);
        RValue_SetReal(v, static_cast<double>(value));
        v->flags = flags;
    }
}

void ObjectBase_AddRealProperty(QZObjectBase* object, const char* name, double value, uint32_t flags)
{
    if (RValue* v = ObjectBase_SetterTarget(object, name)) {
        RValue_Free(v);
        RValue_SetReal(v, value);
        v->flags = flags;
    }
}

void ObjectBase_AddStringProperty(QZObjectBase* object, const char* name, const char* text, uint32_t flags)
{
    if (RValue* v = ObjectBase_SetterTarget(object, name)) {
        // The text may be the old value's own; it is copied before that is released.
        RValue_SetString(v, text);
        v->flags = flags;
    }
}

void ObjectBase_AddPointerProperty(QZObjectBase* object, const char* name, void* value, uint32_t flags)
{
    if (RValue* v = ObjectBase_SetterTarget(object, name)) {
        RValue_Free(v);
        RValue_SetPtr(v, value);
        v->flags = flags;
    }
}

void ObjectBase_AddNullProperty(QZObjectBase* object, const char* name, uint32_t flags)
{
    if (RValue* v = ObjectBase_SetterTarget(object, name)) {
        RValue_Free(v);
        v->v64 = 0;
        v->flags = flags;
        v->kind = VALUE_NULL;
    }
}

void ObjectBase_SetProperty(QZObjectBase* object, const char* name, const RValue* value, uint32_t flags)
{
    if (!value) return;
    if (RValue* v = ObjectBase_SetterTarget(object, name)) {
        RValue_Copy(v, value);
        if (RValue_Kind(v) == VALUE_ARRAY && v->arr && !v->arr->owner) v->arr->owner = v;
        v->flags = flags;
    }
}

void ObjectBase_Mark(QZObjectBase* object, uint8_t* marks, int32_t length)
{
    if (!object || object->markStamp == g_ObjectBase_CollectionNumber) return;
    ObjectBaseMarkWalk walk{marks, length, {}, {}, {}};
    walk.objects.push_back(object);
    walk.Run();
}

void RValue_Mark(const RValue* value, uint8_t* marks, int32_t length)
{
    if (!value) return;
    const uint32_t kind = RValue_Kind(value);
    if (kind != VALUE_OBJECT && kind != VALUE_ACCESSOR && kind != VALUE_ARRAY) return;
    ObjectBaseMarkWalk walk{marks, length, {}, {}, {}};
    walk.Value(value);
    walk.Run();
}
