// The six registries that turn a script's index into a container: lowest free slot first, growth by 16,
// the one validity test and its message, destroy with nested destruction. Nested containers are destroyed
// and copied through a work list, so neither a cycle of marks nor a long chain reaches the C++ stack.
#include "core/error.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/value.h"
#include "ds/ds.h"
#include "ds/ds_internal.h"

#include <algorithm>
#include <unordered_set>

int32_t DS_MapsCount = 0;
int32_t DS_MapsCapacity = 0;
CDS_Map** DS_Maps = nullptr;
int32_t DS_ListsCount = 0;
int32_t DS_ListsCapacity = 0;
CDS_List** DS_Lists = nullptr;
DSRegistry<CDS_Stack> DS_Stacks = {0, nullptr, 0};
DSRegistry<CDS_Queue> DS_Queues = {0, nullptr, 0};
DSRegistry<CDS_Grid> DS_Grids = {0, nullptr, 0};
DSRegistry<CDS_Priority> DS_Priorities = {0, nullptr, 0};

namespace {

// One registry's three fields, wherever they live; the lowest slot that may be free (every slot below it is
// taken), so that making many containers does not rescan the taken ones each time; and the slots the block
// really holds. The capacity grows by 16 as scripts see it, the block by half again, so that 10^5 maps do
// not copy the table 6,000 times.
template <class T>
struct DsReg_View {
    int32_t* capacity;
    T*** items;
    int32_t* count;
    int32_t* firstFree;
    int32_t* room;
};

int32_t g_dsRegFirstFree[7] = {};
int32_t g_dsRegRoom[7] = {};

DsReg_View<CDS_Map> DsReg_Maps()
{
    return {&DS_MapsCapacity, &DS_Maps, &DS_MapsCount, &g_dsRegFirstFree[DS_KIND_MAP], &g_dsRegRoom[DS_KIND_MAP]};
}
DsReg_View<CDS_List> DsReg_Lists()
{
    return {&DS_ListsCapacity, &DS_Lists, &DS_ListsCount, &g_dsRegFirstFree[DS_KIND_LIST], &g_dsRegRoom[DS_KIND_LIST]};
}
template <class T>
DsReg_View<T> DsReg_Of(DSRegistry<T>& r, int32_t kind)
{
    return {&r.capacity, &r.items, &r.count, &g_dsRegFirstFree[kind], &g_dsRegRoom[kind]};
}

template <class T>
int32_t DsReg_Alloc(DsReg_View<T> r)
{
    int32_t& count = *r.count;
    T**& items = *r.items;
    int32_t& hint = *r.firstFree;
    if (hint < 0 || hint > count) hint = 0;
    for (int32_t i = hint; i < count; ++i)
        if (!items[i]) {
            hint = i + 1;
            return i;
        }
    if (count >= *r.capacity) {
        const int32_t capacity = count + 16;
        if (capacity > *r.room) {
            const int32_t room = std::max(capacity, *r.room + *r.room / 2);
            void* block = items;
            MemoryManager::SetLength(&block, size_t(room) * sizeof(T*), __FILE__, __LINE__);
            items = static_cast<T**>(block);
            // A block that still fits keeps whatever its slack held: the new slots start empty.
            std::fill(items + *r.room, items + room, nullptr);
            *r.room = room;
        }
        *r.capacity = capacity;
    }
    items[count] = nullptr;
    hint = count + 1;
    return count++;
}

template <class T>
T* DsReg_Get(DsReg_View<T> r, int32_t index)
{
    return index >= 0 && index < *r.count ? (*r.items)[index] : nullptr;
}

// Empties a slot; the next allocation may take it.
template <class T>
T* DsReg_Take(DsReg_View<T> r, int32_t index)
{
    T* c = DsReg_Get(r, index);
    if (!c) return nullptr;
    (*r.items)[index] = nullptr;
    if (index < *r.firstFree) *r.firstFree = index;
    return c;
}

template <class T>
int32_t DsReg_Store(DsReg_View<T> r, T* container)
{
    const int32_t index = DsReg_Alloc(r);
    (*r.items)[index] = container;
    return index;
}

template <class T>
T** DsReg_Table(const DSRegistry<T>& r, int32_t* count)
{
    if (count) *count = r.count;
    return r.items;
}

}  // namespace

CDS_Stack** DSStack_GetTable(int32_t* count) { return DsReg_Table(DS_Stacks, count); }
CDS_Queue** DSQueue_GetTable(int32_t* count) { return DsReg_Table(DS_Queues, count); }
CDS_Grid** DSGrid_GetTable(int32_t* count) { return DsReg_Table(DS_Grids, count); }
CDS_Priority** DSPriority_GetTable(int32_t* count) { return DsReg_Table(DS_Priorities, count); }

int32_t DSMap_AllocIndex() { return DsReg_Alloc(DsReg_Maps()); }
int32_t DSList_AllocIndex() { return DsReg_Alloc(DsReg_Lists()); }
int32_t DSMap_New() { return DsReg_Store(DsReg_Maps(), new CDS_Map()); }
int32_t DSList_Create() { return DsReg_Store(DsReg_Lists(), new CDS_List()); }
int32_t DSStack_Create() { return DsReg_Store(DsReg_Of(DS_Stacks, DS_KIND_STACK), new CDS_Stack()); }
int32_t DSQueue_Create() { return DsReg_Store(DsReg_Of(DS_Queues, DS_KIND_QUEUE), new CDS_Queue()); }
int32_t DSGrid_Create(int32_t width, int32_t height)
{
    return DsReg_Store(DsReg_Of(DS_Grids, DS_KIND_GRID), new CDS_Grid(width, height));
}
int32_t DSPriority_Create() { return DsReg_Store(DsReg_Of(DS_Priorities, DS_KIND_PRIORITY), new CDS_Priority()); }

CDS_Map* DSMap_Get(int32_t index)
{
    return index >= 0 && index < DS_MapsCapacity && DS_Maps ? DS_Maps[index] : nullptr;
}

bool DS_Exists(int32_t kind, int32_t index)
{
    switch (kind) {
    case DS_KIND_MAP: return DsReg_Get(DsReg_Maps(), index) != nullptr;
    case DS_KIND_LIST: return DsReg_Get(DsReg_Lists(), index) != nullptr;
    case DS_KIND_STACK: return DsReg_Get(DsReg_Of(DS_Stacks, kind), index) != nullptr;
    case DS_KIND_QUEUE: return DsReg_Get(DsReg_Of(DS_Queues, kind), index) != nullptr;
    case DS_KIND_GRID: return DsReg_Get(DsReg_Of(DS_Grids, kind), index) != nullptr;
    case DS_KIND_PRIORITY: return DsReg_Get(DsReg_Of(DS_Priorities, kind), index) != nullptr;
    default: return false;
    }
}

bool DS_CheckIndex(int32_t kind, int32_t index)
{
    if (DS_Exists(kind, index)) return true;
    Error_Show_Action("Data structure with index does not exist.", false);
    return false;
}

namespace {

template <class T>
void DsReg_DestroyPlain(DsReg_View<T> r, int32_t kind, int32_t index)
{
    if (!DS_CheckIndex(kind, index)) return;
    delete DsReg_Take(r, index);
}

}  // namespace

void DS_Destroy(int32_t kind, int32_t index)
{
    switch (kind) {
    case DS_KIND_MAP:
    case DS_KIND_LIST: {
        const int32_t count = kind == DS_KIND_MAP ? DS_MapsCount : DS_ListsCount;
        if (index < 0 || index >= count) {
            Error_Show_Action("Data structure with index does not exist.", false);
            return;
        }
        // An emptied slot inside the count is no error: it may have gone with the container that held it.
        DsWorkList work;
        work.push_back(DsNestedRef{kind, index});
        DsNested_Destroy(&work);
        return;
    }
    case DS_KIND_STACK: DsReg_DestroyPlain(DsReg_Of(DS_Stacks, kind), kind, index); return;
    case DS_KIND_QUEUE: DsReg_DestroyPlain(DsReg_Of(DS_Queues, kind), kind, index); return;
    case DS_KIND_GRID: DsReg_DestroyPlain(DsReg_Of(DS_Grids, kind), kind, index); return;
    case DS_KIND_PRIORITY: DsReg_DestroyPlain(DsReg_Of(DS_Priorities, kind), kind, index); return;
    default: return;
    }
}

void DSMap_Destroy(int32_t index)
{
    SeamTrace_Record("DSMap_Destroy");  // the step's tests follow each async_load map through the trace
    DS_Destroy(DS_KIND_MAP, index);
}

namespace {

template <class T>
bool DsReg_AllEmpty(DsReg_View<T> r)
{
    for (int32_t i = 0; i < *r.count; ++i)
        if ((*r.items)[i]) return false;
    return true;
}

template <class T>
void DsReg_Release(DsReg_View<T> r)
{
    MemFree(*r.items);
    *r.items = nullptr;
    *r.count = 0;
    *r.capacity = 0;
    *r.firstFree = 0;
    *r.room = 0;
}

}  // namespace

bool DS_ReleaseRegistries()
{
    if (!DsReg_AllEmpty(DsReg_Maps()) || !DsReg_AllEmpty(DsReg_Lists()) ||
        !DsReg_AllEmpty(DsReg_Of(DS_Stacks, DS_KIND_STACK)) || !DsReg_AllEmpty(DsReg_Of(DS_Queues, DS_KIND_QUEUE)) ||
        !DsReg_AllEmpty(DsReg_Of(DS_Grids, DS_KIND_GRID)) ||
        !DsReg_AllEmpty(DsReg_Of(DS_Priorities, DS_KIND_PRIORITY)))
        return false;
    DsReg_Release(DsReg_Maps());
    DsReg_Release(DsReg_Lists());
    DsReg_Release(DsReg_Of(DS_Stacks, DS_KIND_STACK));
    DsReg_Release(DsReg_Of(DS_Queues, DS_KIND_QUEUE));
    DsReg_Release(DsReg_Of(DS_Grids, DS_KIND_GRID));
    DsReg_Release(DsReg_Of(DS_Priorities, DS_KIND_PRIORITY));
    return true;
}

// ---- Nested containers ----

void DsNested_Destroy(DsWorkList* work)
{
    while (!work->empty()) {
        const DsNestedRef ref = work->back();
        work->pop_back();
        if (ref.kind == DS_KIND_MAP) {
            CDS_Map* map = DsReg_Get(DsReg_Maps(), ref.index);
            if (!map || map->IsClearing()) continue;
            // The slot goes first: a mark met again on the way (a cycle, a map marking itself) finds it empty.
            DsReg_Take(DsReg_Maps(), ref.index);
            map->ForEach([&](CDS_MapEntry& e) { DsNested_Collect(&e.value, work); });
            map->RemoveAll();
            delete map;
        } else {
            CDS_List* list = DsReg_Get(DsReg_Lists(), ref.index);
            if (!list || list->IsClearing()) continue;
            DsReg_Take(DsReg_Lists(), ref.index);
            for (int32_t i = 0; i < list->Size(); ++i) DsNested_Collect(list->GetItem(i), work);
            list->RemoveAll();
            delete list;
        }
    }
}

namespace {

// One pending copy: the new container of a kind (already in its slot) and the source it copies.
struct DsCopyJob {
    int32_t kind;
    void* dest;
    const void* source;
};
using DsCopyJobs = std::vector<DsCopyJob, MemAllocator<DsCopyJob>>;
using DsSeen = std::unordered_set<const void*, std::hash<const void*>, std::equal_to<const void*>,
                                  MemAllocator<const void*>>;

bool DsCopy_Seen(const DsSeen& seen, const void* c) { return seen.count(c) != 0; }

// A marked value of a copy: a new container copying the one it names, or a plain real when that one was
// met before in this copy (a cycle, or a second mark of one container).
void DsCopy_FixValue(RValue* v, DsCopyJobs* jobs, DsSeen* seen)
{
    DsNestedRef ref;
    if (!DsNested_Of(*v, &ref)) return;
    const void* source = ref.kind == DS_KIND_MAP ? static_cast<const void*>(DsReg_Get(DsReg_Maps(), ref.index))
                                                 : static_cast<const void*>(DsReg_Get(DsReg_Lists(), ref.index));
    if (!source || DsCopy_Seen(*seen, source)) {
        // Nothing to own (an empty slot) or already copied: the holder keeps the number, not the container.
        v->kind &= ~(DS_MARK_MAP | DS_MARK_LIST);
        return;
    }
    seen->insert(source);
    int32_t index;
    void* dest;
    if (ref.kind == DS_KIND_MAP) {
        auto* map = new CDS_Map(static_cast<const CDS_Map*>(source)->BucketCount());
        index = DsReg_Store(DsReg_Maps(), map);
        dest = map;
    } else {
        auto* list = new CDS_List();
        index = DsReg_Store(DsReg_Lists(), list);
        dest = list;
    }
    v->real = index;
    jobs->push_back(DsCopyJob{ref.kind, dest, source});
}

void DsCopy_Run(DsCopyJobs* jobs, DsSeen* seen)
{
    while (!jobs->empty()) {
        const DsCopyJob job = jobs->back();
        jobs->pop_back();
        if (job.kind == DS_KIND_MAP) {
            auto* dest = static_cast<CDS_Map*>(job.dest);
            const auto* source = static_cast<const CDS_Map*>(job.source);
            // A plain entry copy; its marked values are fixed here, not by a nested Assign.
            const_cast<CDS_Map*>(source)->ForEach(
                [&](CDS_MapEntry& e) { dest->Insert(RValue_HashKey(e.key), e.key, e.value); });
            dest->ForEach([&](CDS_MapEntry& e) { DsCopy_FixValue(&e.value, jobs, seen); });
        } else {
            auto* dest = static_cast<CDS_List*>(job.dest);
            auto* source = const_cast<CDS_List*>(static_cast<const CDS_List*>(job.source));
            for (int32_t i = 0; i < source->Size(); ++i) dest->Add(*source->GetItem(i));
            for (int32_t i = 0; i < dest->Size(); ++i) DsCopy_FixValue(dest->GetItem(i), jobs, seen);
        }
    }
}

}  // namespace

void DsNested_CopyMap(CDS_Map* dest, const CDS_Map* source)
{
    DsCopyJobs jobs;
    DsSeen seen{source, dest};
    dest->ForEach([&](CDS_MapEntry& e) { DsCopy_FixValue(&e.value, &jobs, &seen); });
    DsCopy_Run(&jobs, &seen);
}

void DsNested_CopyList(CDS_List* dest, const CDS_List* source)
{
    DsCopyJobs jobs;
    DsSeen seen{source, dest};
    for (int32_t i = 0; i < dest->Size(); ++i) DsCopy_FixValue(dest->GetItem(i), &jobs, &seen);
    DsCopy_Run(&jobs, &seen);
}

// ---- Storage of the sequences ----

void DsValues_Relocated(RValue* items, int64_t n, const RValue* before)
{
    if (items == before) return;
    const auto lo = reinterpret_cast<uintptr_t>(before);
    const auto hi = lo + uintptr_t(n) * sizeof(RValue);
    for (int64_t i = 0; i < n; ++i) {
        RValue* v = &items[i];
        if (RValue_Kind(v) != VALUE_ARRAY || !v->arr) continue;
        const auto owner = reinterpret_cast<uintptr_t>(v->arr->owner);
        if (owner >= lo && owner < hi && (owner - lo) / sizeof(RValue) == uint64_t(i)) v->arr->owner = v;
    }
}

bool DsStorage_Reserve(DSStorage* s, int64_t capacity)
{
    if (capacity <= s->capacity) return true;
    if (capacity > INT32_MAX / int64_t(sizeof(RValue))) return false;
    if (capacity > s->room) {
        // The block grows by half again at least: a run of small growth steps moves it O(log n) times.
        int64_t room = std::max<int64_t>(capacity, int64_t(s->room) + s->room / 2);
        room = std::min<int64_t>(room, INT32_MAX / int64_t(sizeof(RValue)));
        auto* grown = static_cast<RValue*>(MemoryManager::Alloc(size_t(room) * sizeof(RValue), __FILE__, __LINE__, false));
        if (!grown) return false;
        if (s->used > 0) std::memcpy(static_cast<void*>(grown), s->items, size_t(s->used) * sizeof(RValue));
        DsValues_Relocated(grown, s->used, s->items);
        MemFree(s->items);
        s->items = grown;
        s->room = static_cast<int32_t>(room);
    }
    if (capacity > s->used) {
        std::memset(static_cast<void*>(s->items + s->used), 0, size_t(capacity - s->used) * sizeof(RValue));
        s->used = static_cast<int32_t>(capacity);
    }
    s->capacity = static_cast<int32_t>(capacity);
    return true;
}

void DsStorage_Release(DSStorage* s)
{
    for (int32_t i = 0; i < s->used; ++i)
        if (RValue_NeedsFree(&s->items[i])) RValue_Free(&s->items[i]);
    MemFree(s->items);
    s->items = nullptr;
    s->capacity = 0;
    s->used = 0;
    s->room = 0;
}

bool DsStorage_Fresh(DSStorage* s, int32_t n)
{
    DsStorage_Release(s);
    if (n <= 0) return true;
    auto* items = static_cast<RValue*>(MemoryManager::Alloc(size_t(n) * sizeof(RValue), __FILE__, __LINE__, true));
    if (!items) return false;
    s->items = items;
    s->capacity = n;
    s->used = n;
    s->room = n;
    return true;
}

bool DsStorage_CopyFrom(DSStorage* dest, const DSStorage& source)
{
    if (dest == &source) return true;
    if (!DsStorage_Reserve(dest, source.capacity)) return false;
    for (int32_t i = 0; i < source.capacity; ++i) RValue_Copy(&dest->items[i], &source.items[i]);
    for (int32_t i = source.capacity; i < dest->used; ++i) {
        RValue_Free(&dest->items[i]);
        RValue_SetReal(&dest->items[i], 0.0);
    }
    dest->capacity = source.capacity;
    return true;
}
