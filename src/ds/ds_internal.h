// What the container files share among themselves: moving values between slots, the sequences' storage, the
// nested-container marks and the work list that destroys and copies nested containers without recursion.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/convert.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "ds/ds.h"

class CStream;

// An array value remembers which holder may write it in place. When a holder's bytes move, the array must
// follow, or a later value that happens to sit at the old address would write into a shared array.
inline void DsValue_Moved(RValue* now, const RValue* before)
{
    if (RValue_Kind(now) == VALUE_ARRAY && now->arr && now->arr->owner == before) now->arr->owner = now;
}

// dest (holding nothing) takes src's bytes; src is left as real 0.
inline void DsValue_Move(RValue* dest, RValue* src)
{
    std::memcpy(static_cast<void*>(dest), src, sizeof(RValue));
    DsValue_Moved(dest, src);
    RValue_SetReal(src, 0.0);
}

inline void DsValue_Swap(RValue* a, RValue* b)
{
    if (a == b) return;
    RValue t;
    std::memcpy(static_cast<void*>(&t), a, sizeof(RValue));
    std::memcpy(static_cast<void*>(a), b, sizeof(RValue));
    std::memcpy(static_cast<void*>(b), &t, sizeof(RValue));
    DsValue_Moved(a, b);
    DsValue_Moved(b, a);
}

// After a block of values moved from before to items (n values), arrays owned by the old slots follow.
void DsValues_Relocated(RValue* items, int64_t n, const RValue* before);

// Grows storage to at least capacity slots (the new ones read as real 0, or as whatever a slot kept from
// earlier use of the block). False when the size cannot be had.
bool DsStorage_Reserve(DSStorage* s, int64_t capacity);
// Frees every value of the block and the block.
void DsStorage_Release(DSStorage* s);
// A fresh zeroed block of exactly n slots in place of the old one (whose values are freed).
bool DsStorage_Fresh(DSStorage* s, int32_t n);
// dest's slots 0 .. source capacity - 1 become copies of source's; dest's capacity follows; slots above are
// freed to real 0.
bool DsStorage_CopyFrom(DSStorage* dest, const DSStorage& source);

// A marked value inside a map or a list: the kind (DS_KIND_MAP or DS_KIND_LIST) and index it names.
struct DsNestedRef {
    int32_t kind;
    int32_t index;
};
inline bool DsNested_Of(const RValue& v, DsNestedRef* out);
using DsWorkList = std::vector<DsNestedRef, MemAllocator<DsNestedRef>>;

// Deletes every container the work list names (and whatever they mark in turn) whose slot is still live and
// that is not being cleared; each slot is nulled before its container goes.
void DsNested_Destroy(DsWorkList* work);
// Copies the marked values of a map's or list's new copy into new containers: fixes the copy's values.
void DsNested_CopyMap(CDS_Map* dest, const CDS_Map* source);
void DsNested_CopyList(CDS_List* dest, const CDS_List* source);

inline bool DsNested_Of(const RValue& v, DsNestedRef* out)
{
    if ((v.kind & 0xFFFFu) != 0) return false;
    if (v.kind & DS_MARK_MAP) out->kind = DS_KIND_MAP;
    else if (v.kind & DS_MARK_LIST) out->kind = DS_KIND_LIST;
    else return false;
    out->index = Real_ToInt32(v.real);
    return true;
}

// Pushes what the value marks and takes the marks off, as a list clear does with each element.
inline void DsNested_Collect(RValue* v, DsWorkList* work)
{
    DsNestedRef ref;
    if (!DsNested_Of(*v, &ref)) return;
    work->push_back(ref);
    v->kind &= ~(DS_MARK_MAP | DS_MARK_LIST);
}

// Text form helpers shared by the readers.
// The reading mode of a record of this container code: legacy 1, version 1 -> 2, version 2 -> 0; -1 for a
// header that is not this container's.
int32_t DsText_Mode(int32_t header, int32_t code, bool legacy);
// Turns the stream's bytes into the hex text (a new memory-manager text).
char* DsText_Finish(CStream* stream);
// A count that can stand for that many items of at least perItem bytes in what is left.
bool DsText_CountFits(CStream* stream, int64_t count, int64_t perItem);
