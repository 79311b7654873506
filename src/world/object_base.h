// The record behind every script object: numbered slots (an array, or sparse cells in a map), optional named
// variables, its scope link and its index in the process-wide object table the collector walks.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/hashmap.h"
#include "core/value.h"

class CVariableList;
struct VariableNode;

// Abstract root of every script object.
class CInstanceBase {
public:
    virtual ~CInstanceBase() = default;
    virtual RValue* GetSlot(int32_t n) = 0;
};

// Object kinds.
constexpr int32_t OBJECT_KIND_PLAIN = 0;
constexpr int32_t OBJECT_KIND_INSTANCE = 1;  // set by the instance constructor
constexpr int32_t OBJECT_KIND_ACCESSOR = 2;

struct QZObjectBase : CInstanceBase {
    RValue* slots = nullptr;            // slotCapacity values, or null (sparse slots)
    QZObjectBase* poolNext = nullptr;   // next released object while pooled
    QZObjectBase* scopeNext = nullptr;  // next outer scope; null outside the scope chain
    int32_t slotCount = 0;
    int32_t slotCapacity = 0;
    CVariableList* named = nullptr;     // named variables; made only when the script object model is on
    uint32_t visitStamp = 0;            // text-form walk marker
    uint32_t markStamp = 0;             // collection number of the last mark
    int32_t tableIndex = -1;            // ObjectTable index, -1 when not registered
    int32_t objectKind = OBJECT_KIND_PLAIN;
    int32_t defaultKind = 0;            // kind word of a slot when it is made (VALUE_UNDEFINED leaves it)
    int32_t counter = 0;
    CHashMap<RValue*>* sparse = nullptr;  // sparse slots, made on first use

    QZObjectBase(int32_t slotCount, int32_t defaultKind);
    ~QZObjectBase() override;
    RValue* GetSlot(int32_t n) override;
    // Frees every value, the sparse map and the slot array, and deletes the named-variable list.
    void Destroy();

    static void* operator new(size_t size);
    static void operator delete(void* p);
};

// Pooled (non-instance) objects: a reused one keeps a slot array only when asked for slots, and then one at
// least slotCount long; without slots it uses sparse slots.
QZObjectBase* ObjectBase_Alloc(int32_t slotCount, int32_t defaultKind, bool withSlots);
// Clears the table slot first; instances and accessor objects are deleted, the rest emptied and pooled.
void ObjectBase_Free(QZObjectBase* object);
void ObjectBasePool_Clear();
int32_t ObjectBasePool_Count();
// Slot n: the array's element (n below the slot count), else the sparse cell for n, made with the default
// kind on first use. Null for a negative n.
RValue* ObjectBase_GetSlot(QZObjectBase* object, int32_t n);
RValue* ObjectBase_GetSlotDirect(QZObjectBase* object, int32_t n);

// The process-wide table of registered objects; a null item is a free slot.
struct ObjectTableRecord {
    QZObjectBase** items;
    int32_t capacity;
    int32_t count;
    int32_t nextFree;
};
extern ObjectTableRecord ObjectTable;
// The object's index, or -1 when there is no free slot (the object is then not registered).
int32_t ObjectTable_Add(QZObjectBase* object);

// 16-byte cells for sparse slots, carved from 1 MiB chunks.
struct RValuePoolStats {
    int32_t chunks;
    int32_t inUse;
    int32_t free;
};
RValue* RValuePool_Alloc();
void RValuePool_Free(RValue* cell);  // cells that do not lie in a chunk go back to the memory manager
bool RValuePool_Owns(const RValue* cell);
RValuePoolStats RValuePool_Stats();
// Gives the chunks back when no cell is in use (shutdown and tests); false when cells are still held.
bool RValuePool_Release();

// Slot index of a variable name on an object, or -1. By default the variable-name tables answer it (global
// table for the global-variable object while the script object model is off, instance table otherwise);
// null means no name has a slot.
using ObjectBaseSlotResolver = int32_t (*)(QZObjectBase* object, const char* name);
ObjectBaseSlotResolver ObjectBase_SetSlotResolver(ObjectBaseSlotResolver resolver);

// Named properties. A name without a slot lives in the named-variable list; an object without one (script
// object model off) has no place for it, and FindOrAddVariable answers null (the setters then do nothing).
RValue* ObjectBase_FindOrAddVariable(QZObjectBase* object, const char* name);
RValue* ObjectBase_FindVariable(QZObjectBase* object, const char* name);  // never adds
bool ObjectBase_IsExtensible(QZObjectBase* object);

// For-in over a named-variable list: start with bucket -1 and node null; each call moves to the next node
// (bucket order, then chain order) and answers false once every node has been seen.
struct VariableIterator {
    CVariableList* list;
    int32_t bucket;
    VariableNode* node;
};
bool VariableIterator_Next(VariableIterator* it);
void ObjectBase_AddObjectProperty(QZObjectBase* object, const char* name, QZObjectBase* value, uint32_t flags);
void ObjectBase_AddBoolProperty(QZObjectBase* object, const char* name, bool value, uint32_t flags);
void ObjectBase_AddIntProperty(QZObjectBase* object, const char* name, int32_t value, uint32_t flags);
void ObjectBase_AddRealProperty(QZObjectBase* object, const char* name, double value, uint32_t flags);
void ObjectBase_AddStringProperty(QZObjectBase* object, const char* name, const char* text, uint32_t flags);
void ObjectBase_AddPointerProperty(QZObjectBase* object, const char* name, void* value, uint32_t flags);
void ObjectBase_AddNullProperty(QZObjectBase* object, const char* name, uint32_t flags);
void ObjectBase_SetProperty(QZObjectBase* object, const char* name, const RValue* value, uint32_t flags);

// Marking for the collector, which increments the collection number at the start of each collection. An
// object is visited once per collection number; arrays are walked too (an object held only in an array
// element stays alive), each array once per collection. marks[tableIndex] = 1 for each object reached.
extern uint32_t g_ObjectBase_CollectionNumber;
void ObjectBase_Mark(QZObjectBase* object, uint8_t* marks, int32_t length);
void RValue_Mark(const RValue* value, uint8_t* marks, int32_t length);
