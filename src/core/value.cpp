// Values: making, copying, freeing and indexing, with copy-on-write arrays.
#include "core/value.h"

#include <cstring>
#include <new>

#include "core/error.h"
#include "core/memory_manager.h"
#include "core/text.h"
#include "world/object_base.h"

ArrayIndexErrorRecord ArrayIndexError = {};
int32_t g_InstanceVariableSlotCount = 0;

namespace {

// Takes one more reference to whatever the value shares, without touching array ownership.
void ValueCore_AddRef(const RValue* v)
{
    switch (RValue_Kind(v)) {
    case VALUE_STRING:
        if (v->str) ++v->str->refCount;
        break;
    case VALUE_ARRAY:
        if (v->arr) ++v->arr->refCount;
        break;
    default:
        break;
    }
}

void ValueCore_FreeArrayRecord(RefArray* array)
{
    for (int32_t r = 0; r < array->rowCount; ++r) {
        ArrayRow& row = array->rows[r];
        for (int32_t i = 0; i < row.length; ++i) RValue_Free(&row.items[i]);
        MemFree(row.items);
        row.items = nullptr;
        row.length = 0;
    }
    MemFree(array->rows);
    MemFree(array);
}

// Drops one reference to the value's array; the holder stops being the owner.
void ValueCore_DropArray(RValue* holder, RefArray* array)
{
    if (!array) return;
    if (array->owner == holder) array->owner = nullptr;
    if (--array->refCount <= 0) ValueCore_FreeArrayRecord(array);
}

// Releases only a string or an array the value holds (the copies' rule: owned pointers are left alone).
void ValueCore_ReleaseShared(RValue* v)
{
    switch (RValue_Kind(v)) {
    case VALUE_STRING:
        RefString::ReleaseChecked(v->str);
        break;
    case VALUE_ARRAY:
        ValueCore_DropArray(v, v->arr);
        break;
    default:
        break;
    }
}

// Drops a reference taken by ValueCore_AddRef on a detached copy of a value.
void ValueCore_DropRef(const RValue* taken)
{
    switch (RValue_Kind(taken)) {
    case VALUE_STRING:
        RefString::ReleaseChecked(taken->str);
        break;
    case VALUE_ARRAY:
        if (taken->arr && --taken->arr->refCount <= 0) ValueCore_FreeArrayRecord(taken->arr);
        break;
    default:
        break;
    }
}

// dest (holding nothing) receives src's flags, kind word and payload by the copy column. A reference for a
// shared record must already be counted; an array without an owner gets dest as owner.
void ValueCore_Place(RValue* dest, const RValue* src)
{
    dest->v64 = 0;
    dest->flags = src->flags;
    dest->kind = src->kind;
    switch (RValue_Kind(src)) {
    case VALUE_REAL:
    case VALUE_INT64:
    case VALUE_BOOL:
    case VALUE_STRING:
    case VALUE_PTR:
    case VALUE_OBJECT:
    case VALUE_ITERATOR:
        dest->v64 = src->v64;
        break;
    case VALUE_INT32:
        dest->v32 = src->v32;
        break;
    case VALUE_ARRAY:
        dest->arr = src->arr;
        if (dest->arr && !dest->arr->owner) dest->arr->owner = dest;
        break;
    default:
        break;  // nothing copied
    }
}

// Room asked for a block that grows past its end: the next size of the form 2^k or 1.5 * 2^k, so that a row
// filled one element at a time moves O(log n) times. The size is a function of bytes alone: while it stays in
// one step the manager hands the same block back.
size_t ValueCore_GrowthRoom(size_t bytes)
{
    size_t room = 128;
    while (room < bytes) room = (room & (room - 1)) ? (room / 3) * 4 : room + room / 2;
    return room;
}

// Grows a block from oldBytes to bytes; the new part always reads as zero (rows of length 0, real 0).
bool ValueCore_GrowBlock(void** block, size_t oldBytes, size_t bytes)
{
    const size_t room = oldBytes > 0 ? ValueCore_GrowthRoom(bytes) : bytes;
    void* grown = MemoryManager::ReAlloc(*block, room, __FILE__, __LINE__);
    if (!grown) return false;
    std::memset(static_cast<char*>(grown) + oldBytes, 0, bytes - oldBytes);
    *block = grown;
    return true;
}

// Grows rows to hold row and that row to hold column (either may be negative: then that part is skipped).
// False when memory ran out; what was there is kept.
bool ValueCore_Grow(RefArray* array, int32_t row, int32_t column)
{
    if (row >= array->rowCount) {
        if (!ValueCore_GrowBlock(reinterpret_cast<void**>(&array->rows), size_t(array->rowCount) * sizeof(ArrayRow),
                                 size_t(row + 1) * sizeof(ArrayRow)))
            return false;
        array->rowCount = row + 1;
    }
    if (row >= 0 && column >= array->rows[row].length) {
        ArrayRow& r = array->rows[row];
        if (!ValueCore_GrowBlock(reinterpret_cast<void**>(&r.items), size_t(r.length) * sizeof(RValue),
                                 size_t(column + 1) * sizeof(RValue)))
            return false;
        r.length = column + 1;
    }
    return true;
}

void ValueCore_SetIndexError(const RefArray* array, int32_t row, int32_t column)
{
    ArrayIndexError.flag = true;
    ArrayIndexError.row = row;
    ArrayIndexError.column = column;
    ArrayIndexError.rowCount = array ? array->rowCount : 0;
    ArrayIndexError.rowLength = (array && row >= 0 && row < array->rowCount) ? array->rows[row].length : -1;
}

void ValueCore_SplitIndex(int32_t packed, int32_t* row, int32_t* column)
{
    *row = packed / ARRAY_INDEX_STRIDE;
    *column = packed % ARRAY_INDEX_STRIDE;
}

// Makes v an array value that it may write into: a new array when it holds none, a private duplicate when
// it shares one it does not own.
void ValueCore_PrepareWrite(RValue* v)
{
    if (RValue_Kind(v) != VALUE_ARRAY) {
        RValue_Free(v);
        v->arr = RefArray_Create(v);
        v->kind = VALUE_ARRAY;
        return;
    }
    if (!v->arr) {
        v->arr = RefArray_Create(v);
        return;
    }
    RefArray* array = v->arr;
    if (array->owner == v) return;
    if (array->refCount == 1) {
        // Nobody else holds it: write in place and own it from now on.
        array->owner = v;
        return;
    }
    RefArray* copy = RefArray_Duplicate(array, v);
    --array->refCount;  // others remain, so this never frees it
    v->arr = copy;
}

void ValueCore_InitString(RValue* v, RefString* record)
{
    v->v64 = 0;
    v->str = record;
    v->kind = VALUE_STRING;
}

}  // namespace

// ---- RefString ----

void RefString::InitFromText(const char* source)
{
    text = String_Duplicate(source);
    refCount = 1;
    length = text ? static_cast<int32_t>(std::strlen(text)) : 0;
}

void RefString::InitWithLength(int32_t n)
{
    if (n < 0) n = 0;
    text = static_cast<char*>(MemAlloc(size_t(n) + 1));
    if (text) text[n] = '\0';
    length = text ? n : 0;
    refCount = 1;
}

RefString* RefString::Create(const char* source)
{
    auto* record = static_cast<RefString*>(MemAlloc(sizeof(RefString)));
    if (record) record->InitFromText(source);
    return record;
}

RefString* RefString::CreateWithLength(int32_t n)
{
    auto* record = static_cast<RefString*>(MemAlloc(sizeof(RefString)));
    if (record) record->InitWithLength(n);
    return record;
}

void RefString::Release()
{
    if (--refCount > 0) return;
    MemFree(text);
    text = nullptr;
    length = 0;
    MemFree(this);
}

void RefString::ReleaseChecked(RefString* record)
{
    if (record) record->Release();
}

// ---- Making, copying, freeing ----

void RValue_Free(RValue* v)
{
    if (RValue_Kind(v) == VALUE_PTR) {
        if ((v->flags & RVALUE_FLAG_OWNED) && v->owned) delete v->owned;
    } else {
        ValueCore_ReleaseShared(v);
    }
    // Always left undefined, so a second free or a later overwrite finds nothing to release.
    RValue_SetUndefined(v);
}

void RValue_Copy(RValue* dest, const RValue* src)
{
    if (dest == src) return;
    // Count the new reference before releasing the old one: src may live inside what dest releases.
    RValue taken = *src;
    ValueCore_AddRef(&taken);
    ValueCore_ReleaseShared(dest);
    ValueCore_Place(dest, &taken);
}

void RValue_SetString(RValue* v, const char* text)
{
    // The record is made before the old content goes: text may be that content.
    RefString* record = RefString::Create(text);
    RValue_Free(v);
    ValueCore_InitString(v, record);
}

void RValue_CreateString(RValue* v, const char* text)
{
    ValueCore_InitString(v, RefString::Create(text));
}

void RValue_AdoptString(RValue* v, const RefString* record)
{
    RValue_SetString(v, record ? record->text : nullptr);
}

void RValue_CreateObject(RValue* v)
{
    v->v64 = 0;
    v->obj = ObjectBase_Alloc(g_InstanceVariableSlotCount, static_cast<int32_t>(VALUE_UNSET), false);
    v->kind = VALUE_OBJECT;
}

int32_t BoundedStrLen(const char* bytes, int32_t n)
{
    if (!bytes || n <= 0) return 0;
    const void* nul = std::memchr(bytes, 0, size_t(n));
    return nul ? static_cast<int32_t>(static_cast<const char*>(nul) - bytes) : n;
}

// ---- Arrays ----

RefArray* RefArray_Create(RValue* owner)
{
    auto* array = static_cast<RefArray*>(MemoryManager::Alloc(sizeof(RefArray), __FILE__, __LINE__, true));
    if (!array) return nullptr;
    array->refCount = 1;
    array->owner = owner;
    return array;
}

RefArray* RefArray_Duplicate(const RefArray* src, RValue* newOwner)
{
    if (!src) return nullptr;
    RefArray* copy = RefArray_Create(newOwner);
    if (!copy || src->rowCount <= 0) return copy;
    copy->rows = static_cast<ArrayRow*>(
        MemoryManager::Alloc(size_t(src->rowCount) * sizeof(ArrayRow), __FILE__, __LINE__, true));
    if (!copy->rows) return copy;
    copy->rowCount = src->rowCount;
    for (int32_t r = 0; r < src->rowCount; ++r) {
        const ArrayRow& from = src->rows[r];
        if (from.length <= 0) continue;
        auto* items = static_cast<RValue*>(
            MemoryManager::Alloc(size_t(from.length) * sizeof(RValue), __FILE__, __LINE__, true));
        if (!items) continue;
        copy->rows[r].items = items;
        copy->rows[r].length = from.length;
        for (int32_t i = 0; i < from.length; ++i) RValue_Copy(&items[i], &from.items[i]);
    }
    return copy;
}

bool RValue_ArrayGet(RValue* result, RValue* src, int32_t packed)
{
    if (RValue_Kind(src) != VALUE_ARRAY) {
        if (packed != ARRAY_INDEX_NONE) RuntimeError("trying to index a variable which is not an array");
        RValue_Copy(result, src);
        return true;
    }
    RefArray* array = src->arr;
    if (packed == ARRAY_INDEX_NONE) {
        if (array && !array->owner) array->owner = src;
        RValue_Copy(result, src);
        return true;
    }
    int32_t row, column;
    ValueCore_SplitIndex(packed, &row, &column);
    if (array && row >= 0 && row < array->rowCount && column >= 0 && column < array->rows[row].length) {
        RValue_Copy(result, &array->rows[row].items[column]);
        return true;
    }
    ValueCore_SetIndexError(array, row, column);
    // What result held is released, as on the success paths.
    ValueCore_ReleaseShared(result);
    RValue_SetReal(result, 0.0);
    return false;
}

void RValue_ArraySet(RValue* holder, const RValue* src, int32_t packed)
{
    RefArray* array = holder->arr;
    if (!array) return;
    MemoryManager::PushContext("Array Set Value");
    int32_t row, column;
    ValueCore_SplitIndex(packed, &row, &column);
    bool writes = row >= 0 && column >= 0;
    // src may be an element of this very array, which growing moves and freeing releases: hold it first.
    RValue taken = *src;
    if (writes) ValueCore_AddRef(&taken);
    bool grown = ValueCore_Grow(array, row, column);
    if (writes && grown) {
        RValue* element = &array->rows[row].items[column];
        RValue_Free(element);
        ValueCore_Place(element, &taken);
    } else {
        if (writes) ValueCore_DropRef(&taken);
        ValueCore_SetIndexError(array, row, column);
    }
    MemoryManager::PopContext();
}

void RValue_SetWithIndex(RValue* dest, RValue* src, int32_t packed)
{
    if (dest == src && packed == ARRAY_INDEX_NONE) return;
    if (packed == ARRAY_INDEX_NONE) {
        if (RValue_Kind(dest) == VALUE_ARRAY && RValue_Kind(src) == VALUE_ARRAY && src->arr && !src->arr->owner)
            src->arr->owner = src;
        RValue taken = *src;
        ValueCore_AddRef(&taken);
        RValue_Free(dest);
        ValueCore_Place(dest, &taken);
        return;
    }
    RValue taken = *src;
    ValueCore_AddRef(&taken);
    ValueCore_PrepareWrite(dest);
    if (dest->arr) RValue_ArraySet(dest, &taken, packed);
    ValueCore_DropRef(&taken);
}

RValue* RValue_ArrayElement(RValue* v, int32_t packed)
{
    ValueCore_PrepareWrite(v);
    RefArray* array = v->arr;
    if (!array) return nullptr;
    int32_t row, column;
    ValueCore_SplitIndex(packed, &row, &column);
    MemoryManager::PushContext("Array Set Value");
    bool grown = ValueCore_Grow(array, row, column);
    MemoryManager::PopContext();
    if (row < 0 || column < 0 || !grown) return nullptr;
    return &array->rows[row].items[column];
}
