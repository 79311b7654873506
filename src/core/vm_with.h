// With-blocks: the instance collection shared by the interpreter's pushenv and popenv and by compiled code's
// iterator. Instances are collected when a block starts, so what the body creates, destroys or moves does
// not change which instances it visits.
#pragma once
#include <cstdint>

struct CInstance;

// Targets with a meaning of their own; 0 ... 99999 are object indexes, 100000 and above instance ids.
constexpr int32_t WITH_TARGET_SELF = -1;
constexpr int32_t WITH_TARGET_OTHER = -2;
constexpr int32_t WITH_TARGET_ALL = -3;
constexpr int32_t WITH_TARGET_NOONE = -4;
constexpr int32_t WITH_TARGET_GLOBAL = -5;
constexpr int32_t WITH_TARGET_SELF_ALT = -6;
constexpr int32_t WITH_TARGET_LOCAL = -7;

// The collection list: empty between collections.
void WithList_Clear();
int32_t WithList_Count();
CInstance* WithList_At(int32_t n);
void WithList_Add(CInstance* instance);
// Moves the instance to the end of the list; true when it was there already.
bool WithList_AddUnique(CInstance* instance);
// The live instances of the object and of its descendants, in the object's list order.
void WithList_AddObjectInstances(int32_t objectIndex);
// Live instances of exactly that object waiting in the pending object-change or activation list that the
// list does not hold yet.
void WithList_AddPendingObjectChanges(int32_t objectIndex);
void WithList_AddPendingActivations(int32_t objectIndex);
// The visit array of a non-empty list: a memory-manager block of count pointers, a null entry followed by
// every instance but the last, which goes to *last (visited first). Null for an empty list.
CInstance** WithList_ToArray(CInstance** last);
// Gives the list's storage back (shutdown and tests).
void WithList_Release();

// Compiled code's with-block:
//     count = WithIterator_Init(&it, &self, &other, target);
//     if (count > 0) do { body } while (WithIterator_Next(&it, &self));
//     WithIterator_Finish(&it, &self, &other);
struct WithIterator {
    CInstance* savedSelf;
    CInstance* savedOther;
    CInstance** array;   // null entry first; null when there is nothing to visit
    CInstance** cursor;  // just past the next entry to visit
};
// 1 for self and other, the number of instances for all, an object or an instance id, 0 when there are
// none, -1 for noone, global and local. Self and other are set for the first visit.
int32_t WithIterator_Init(WithIterator* it, CInstance** self, CInstance** other, int32_t target);
bool WithIterator_Next(WithIterator* it, CInstance** self);
// Frees the array and gives self and other their values from before Init.
void WithIterator_Finish(WithIterator* it, CInstance** self, CInstance** other);
// Fills the collection list with an object's instances and its pending ones; the count.
int32_t WithIterator_CollectObject(int32_t objectIndex);
