// With-blocks: pushenv and popenv of the interpreter, the iterator of compiled code, and the collection list
// both build their visit arrays from.
//
// A with-block record on the value stack is our own layout (no bytecode counts its bytes). The frame keeps
// where the innermost open record lies and each record where the one around it lies, so popenv reads only
// words that pushenv wrote, and no pop of the block's body can reach below the record.
#include "core/vm_with.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "core/error.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "core/vm.h"
#include "world/world_access.h"

namespace {

struct VmWithRecord {
    CInstance* savedSelf;
    CInstance* savedOther;
    CInstance** array;   // array form: null entry, then the instances still to visit; null in the single form
    CInstance** cursor;  // array form: just past the next entry to visit
    CInstance* pending;  // single form: the one instance still to visit, or null
    int64_t outer;       // the enclosing open record (distance from the block's end); 0 none
};
static_assert(sizeof(VmWithRecord) % 16 == 0, "records keep the stack's alignment");
constexpr int64_t kVmWithRecordBytes = sizeof(VmWithRecord);

using VmWithList = std::vector<CInstance*, MemAllocator<CInstance*>>;
VmWithList* g_withList = nullptr;

VmWithList& VmWith_List()
{
    if (!g_withList) g_withList = new (MemAlloc(sizeof(VmWithList))) VmWithList();
    return *g_withList;
}

bool VmWith_Contains(CInstance* instance)
{
    if (!g_withList) return false;
    return std::find(g_withList->begin(), g_withList->end(), instance) != g_withList->end();
}

// Pending-list entries a block visits: live instances of exactly the target object.
bool VmWith_PendingEligible(CInstance* instance, int32_t objectIndex)
{
    return Instance_IsLive(instance) && Instance_GetObjectIndex(instance) == objectIndex;
}

// Skips instances the list already holds, so that one in both lists is visited once and the list's order
// stays as collected.
void VmWith_AddPendingOnce(WorldList list, int32_t objectIndex)
{
    WorldCursor cursor;
    while (CInstance* i = World_NextInstance(list, objectIndex, &cursor))
        if (VmWith_PendingEligible(i, objectIndex) && !VmWith_Contains(i)) WithList_Add(i);
}

void VmWith_CollectRoom()
{
    WithList_Clear();
    WorldCursor cursor;
    while (CInstance* i = World_NextInstance(WORLD_LIST_ROOM, -1, &cursor))
        if (Instance_IsLive(i)) WithList_Add(i);
}

int64_t VmWith_Distance(const VMFrame* frame, const uint8_t* p)
{
    return frame->stackBlock + frame->stackSize - p;
}

uint8_t* VmWith_At(const VMFrame* frame, int64_t distance) { return frame->stackBlock + frame->stackSize - distance; }

// The innermost open record of the running code (not one of a caller's), or null.
uint8_t* VmWith_Innermost(const VMFrame* frame)
{
    if (!frame->withRecord) return nullptr;
    uint8_t* at = VmWith_At(frame, frame->withRecord);
    return at < frame->record ? at : nullptr;
}

uint8_t* VmWith_Push(uint8_t* sp, VMFrame* frame, const VmWithRecord& fields)
{
    VmWithRecord record = fields;
    record.outer = frame->withRecord;
    sp -= kVmWithRecordBytes;
    std::memcpy(sp, &record, sizeof record);
    frame->withRecord = VmWith_Distance(frame, sp);
    return sp;
}

// Ends the block whose record is at sp: its array freed, self and other back.
uint8_t* VmWith_End(uint8_t* sp, VMFrame* frame, const VmWithRecord& record)
{
    MemFree(record.array);
    frame->self = record.savedSelf;
    frame->other = record.savedOther;
    frame->withRecord = record.outer;
    return sp + kVmWithRecordBytes;
}

void VmWith_Jump(uint32_t word, VMFrame* frame)
{
    const int32_t offset = int32_t(word << 9) >> 9;
    const int32_t target = frame->instructionOffset + offset * 4;
    frame->position = target;
    frame->nextInstruction = frame->instructionIndex[target / 4];
}

void VmWith_Fail(VMFrame* frame, const char* text)
{
    VMError(frame, "%s", text);
    VM_StopFrame(frame);
}

// A block that visits nothing: a record that ends at once, and a jump to the popenv that removes it.
uint8_t* VmWith_Skip(uint32_t word, uint8_t* sp, VMFrame* frame, CInstance* self, CInstance* other)
{
    sp = VmWith_Push(sp, frame, {self, other, nullptr, nullptr, nullptr, 0});
    VmWith_Jump(word, frame);
    return sp;
}

// Starts a block over the collection list (cleared afterwards): none skips; one or two instances visit in
// list order; three or more from the last to the first.
uint8_t* VmWith_StartFromList(uint32_t word, uint8_t* sp, VMFrame* frame, CInstance* self, CInstance* other)
{
    const int32_t n = WithList_Count();
    if (n == 0) return VmWith_Skip(word, sp, frame, self, other);
    VmWithRecord record{self, other, nullptr, nullptr, nullptr, 0};
    CInstance* first = nullptr;
    if (n <= 2) {
        first = WithList_At(0);
        record.pending = n == 2 ? WithList_At(1) : nullptr;
    } else {
        record.array = WithList_ToArray(&first);
        record.cursor = record.array + n;
    }
    WithList_Clear();
    sp = VmWith_Push(sp, frame, record);
    frame->other = self;
    frame->self = first;
    return sp;
}

uint8_t* VmWith_PushObjectForm(uint8_t* sp, VMFrame* frame)
{
    if (VM_ItemFloor(frame) - sp < 16) {
        VmWith_Fail(frame, "DoPushEnv :: stack underflow");
        return sp;
    }
    RValue value;
    std::memcpy(&value, sp, sizeof value);
    sp += 16;
    const bool isObject = RValue_Kind(&value) == VALUE_OBJECT && value.obj;
    QZObjectBase* object = isObject ? value.obj : nullptr;
    RValue_Free(&value);
    if (!object) {
        VmWith_Fail(frame, "FOo");
        return sp;
    }
    CInstance* const self = frame->self;
    sp = VmWith_Push(sp, frame, {self, frame->other, nullptr, nullptr, nullptr, 0});
    frame->other = self;
    frame->self = reinterpret_cast<CInstance*>(object);  // any script object can be self
    return sp;
}

}  // namespace

// ---- the collection list ----

void WithList_Clear()
{
    if (g_withList) g_withList->clear();
}

int32_t WithList_Count() { return g_withList ? int32_t(g_withList->size()) : 0; }

CInstance* WithList_At(int32_t n)
{
    return g_withList && n >= 0 && size_t(n) < g_withList->size() ? (*g_withList)[size_t(n)] : nullptr;
}

void WithList_Add(CInstance* instance)
{
    if (instance) VmWith_List().push_back(instance);
}

bool WithList_AddUnique(CInstance* instance)
{
    if (!instance) return false;
    VmWithList& list = VmWith_List();
    auto it = std::find(list.begin(), list.end(), instance);
    const bool found = it != list.end();
    if (found) list.erase(it);
    list.push_back(instance);
    return found;
}

void WithList_AddObjectInstances(int32_t objectIndex)
{
    WorldCursor cursor;
    while (CInstance* i = World_NextInstance(WORLD_LIST_OBJECT, objectIndex, &cursor))
        if (Instance_IsLive(i)) WithList_Add(i);
}

void WithList_AddPendingObjectChanges(int32_t objectIndex)
{
    VmWith_AddPendingOnce(WORLD_LIST_PENDING_CHANGE, objectIndex);
}

void WithList_AddPendingActivations(int32_t objectIndex)
{
    VmWith_AddPendingOnce(WORLD_LIST_PENDING_ACTIVATION, objectIndex);
}

CInstance** WithList_ToArray(CInstance** last)
{
    const int32_t n = WithList_Count();
    if (last) *last = n > 0 ? WithList_At(n - 1) : nullptr;
    if (n == 0) return nullptr;
    auto** array = static_cast<CInstance**>(MemoryManager::Alloc(size_t(n) * sizeof(CInstance*), __FILE__, __LINE__, true));
    for (int32_t k = 1; k < n; ++k) array[k] = WithList_At(k - 1);
    return array;
}

void WithList_Release()
{
    if (!g_withList) return;
    g_withList->~VmWithList();
    MemFree(g_withList);
    g_withList = nullptr;
}

// ---- compiled code's iterator ----

int32_t WithIterator_CollectObject(int32_t objectIndex)
{
    WithList_Clear();
    if (!Object_Exists(objectIndex)) return 0;
    WithList_AddObjectInstances(objectIndex);
    WithList_AddPendingObjectChanges(objectIndex);
    WithList_AddPendingActivations(objectIndex);
    return WithList_Count();
}

int32_t WithIterator_Init(WithIterator* it, CInstance** self, CInstance** other, int32_t target)
{
    it->savedSelf = *self;
    it->savedOther = *other;
    it->array = nullptr;
    it->cursor = nullptr;
    auto single = [&](CInstance* visit) {
        it->array = static_cast<CInstance**>(MemoryManager::Alloc(sizeof(CInstance*), __FILE__, __LINE__, true));
        it->cursor = it->array + 1;
        *self = visit;
        *other = it->savedSelf;
        return 1;
    };
    switch (target) {
    case WITH_TARGET_SELF:
    case WITH_TARGET_SELF_ALT: return single(it->savedSelf);
    case WITH_TARGET_OTHER: return single(it->savedOther);
    case WITH_TARGET_NOONE:
    case WITH_TARGET_GLOBAL:
    case WITH_TARGET_LOCAL: return -1;
    default: break;
    }
    if (target >= 100000) {
        CInstance* found = Hash_FindInstance(target);
        return Instance_IsLive(found) ? single(found) : 0;
    }
    if (target == WITH_TARGET_ALL) VmWith_CollectRoom();
    else if (target >= 0) WithIterator_CollectObject(target);
    else return 0;
    const int32_t n = WithList_Count();
    if (n == 0) return 0;
    CInstance* first = nullptr;
    it->array = WithList_ToArray(&first);
    it->cursor = it->array + n;
    WithList_Clear();
    *self = first;
    *other = it->savedSelf;
    return n;
}

bool WithIterator_Next(WithIterator* it, CInstance** self)
{
    if (!it->array || it->cursor <= it->array) return false;
    --it->cursor;
    if (!*it->cursor) return false;
    *self = *it->cursor;
    return true;
}

void WithIterator_Finish(WithIterator* it, CInstance** self, CInstance** other)
{
    MemFree(it->array);
    it->array = nullptr;
    it->cursor = nullptr;
    *self = it->savedSelf;
    *other = it->savedOther;
}

// ---- the interpreter's handlers ----

uint8_t* DoPushEnv(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    if (word & 0x00800000u) return VmWith_PushObjectForm(sp, frame);
    if (VM_ItemFloor(frame) - sp < 4) {
        VmWith_Fail(frame, "DoPushEnv :: stack underflow");
        return sp;
    }
    int32_t target;
    std::memcpy(&target, sp, 4);
    sp += 4;
    CInstance* const self = frame->self;
    CInstance* const other = frame->other;

    switch (target) {
    case WITH_TARGET_SELF:
    case WITH_TARGET_SELF_ALT:
        sp = VmWith_Push(sp, frame, {self, other, nullptr, nullptr, nullptr, 0});
        frame->other = self;
        return sp;
    case WITH_TARGET_OTHER:
        sp = VmWith_Push(sp, frame, {self, other, nullptr, nullptr, nullptr, 0});
        frame->self = other;
        frame->other = self;
        return sp;
    case WITH_TARGET_NOONE: return VmWith_Skip(word, sp, frame, self, other);
    case WITH_TARGET_GLOBAL: VmWith_Fail(frame, "Cannot use global in with statement"); return sp;
    case WITH_TARGET_LOCAL: VmWith_Fail(frame, "Cannot use local in with statement"); return sp;
    case WITH_TARGET_ALL:
        VmWith_CollectRoom();
        return VmWith_StartFromList(word, sp, frame, self, other);
    default: break;
    }
    if (target >= 100000) {
        CInstance* found = Hash_FindInstance(target);
        if (!Instance_IsLive(found)) return VmWith_Skip(word, sp, frame, self, other);
        sp = VmWith_Push(sp, frame, {self, other, nullptr, nullptr, nullptr, 0});
        frame->other = self;
        frame->self = found;
        return sp;
    }
    if (target < 0 || !Object_Exists(target)) return VmWith_Skip(word, sp, frame, self, other);
    WithList_Clear();
    WithList_AddObjectInstances(target);
    for (WorldList list : {WORLD_LIST_PENDING_CHANGE, WORLD_LIST_PENDING_ACTIVATION}) {
        WorldCursor cursor;
        while (CInstance* i = World_NextInstance(list, target, &cursor))
            if (VmWith_PendingEligible(i, target)) WithList_AddUnique(i);
    }
    return VmWith_StartFromList(word, sp, frame, self, other);
}

uint8_t* DoPopEnv(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    const bool early = ((word >> 16) & 0xFF) == 0xF0;
    uint8_t* at = VmWith_Innermost(frame);
    if (!at) {
        VmWith_Fail(frame, early ? "DoPopEnv :: early exit outside a with-block" : "DoPopEnv :: no with-block to end");
        return sp;
    }
    if (sp != at) {
        VmWith_Fail(frame, "DoPopEnv :: items above the with-block record");
        return sp;
    }
    VmWithRecord record;
    std::memcpy(&record, at, sizeof record);
    if (early) return VmWith_End(sp, frame, record);
    CInstance* next = nullptr;
    if (record.array) {
        if (record.cursor > record.array) next = *--record.cursor;
    } else {
        next = record.pending;
        record.pending = nullptr;
    }
    if (!next) return VmWith_End(sp, frame, record);
    std::memcpy(at, &record, sizeof record);
    frame->self = next;
    VmWith_Jump(word, frame);
    return sp;
}

void VM_WithUnwind(VMFrame* frame, const uint8_t* limit)
{
    if (!frame) return;
    while (frame->withRecord) {
        uint8_t* at = VmWith_At(frame, frame->withRecord);
        if (limit && at >= limit) break;
        VmWithRecord record;
        std::memcpy(&record, at, sizeof record);
        VmWith_End(at, frame, record);
    }
}
