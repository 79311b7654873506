// Variables by id: the built-in registry, access to one instance and by target, globals, the scope
// chain, the flag array and the globals' save block.
#include "core/variables.h"

#include <cstring>

#include "core/convert.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/text.h"
#include "core/value.h"
#include "core/varlist.h"
#include "core/varnames.h"
#include "ds/buffer.h"
#include "input/input.h"
#include "script/script.h"
#include "world/loader.h"
#include "world/object_base.h"
#include "world/world_access.h"

bool Variable_NoInstance = false;
QZObjectBase* g_ScopeHead = nullptr;

namespace {

constexpr uint32_t kVariablesNewFlags = RVALUE_FLAG_ENUMERABLE | RVALUE_FLAG_CONFIGURABLE | RVALUE_FLAG_WRITABLE;
constexpr const char* kVariablesUnknownObject = "<unknown_object>";

BuiltinVariable g_builtins[VARIABLE_BUILTIN_CAPACITY] = {};
int32_t g_builtinCount = 0;

uint8_t* g_varFlags = nullptr;
int32_t g_varFlagCount = 0;

bool Variables_IsUnset(const RValue* v) { return RValue_Kind(v) == VALUE_UNSET; }

void Variables_MakeUnset(RValue* v)
{
    v->v64 = 0;
    v->flags = 0;
    v->kind = VALUE_UNSET;
}

// Slot n of an object, or null when the object cannot hold it: a slot array is never indexed past its
// slot count (ids come from bytecode); an object without one keeps any slot in its sparse map.
RValue* Variables_Slot(QZObjectBase* object, int32_t n)
{
    if (!object || n < 0) return nullptr;
    if (object->slots) return n < object->slotCount ? &object->slots[n] : nullptr;
    return ObjectBase_GetSlot(object, n);
}

bool Variables_IsSlotId(int32_t id) { return id >= VARIABLE_ID_FIRST_SLOT; }

const BuiltinVariable* Variables_Builtin(int32_t id)
{
    return id >= 0 && id < g_builtinCount ? &g_builtins[id] : nullptr;
}

bool Variables_IsAccessor(const RValue* v)
{
    return RValue_Kind(v) == VALUE_OBJECT && v->obj && v->obj->objectKind == OBJECT_KIND_ACCESSOR;
}

// An assignment keeps the holder's property attributes; a variable made by it gets all three.
void Variables_WriteKeepingFlags(RValue* holder, RValue* value, int32_t arrayIndex)
{
    const bool wasUnset = Variables_IsUnset(holder);
    const uint32_t flags = holder->flags;
    RValue_SetWithIndex(holder, value, arrayIndex);
    holder->flags = wasUnset ? kVariablesNewFlags : flags;
}

// Reading a script object's variable: its named list when it has no slot array, else the slot.
bool Variables_ReadObject(QZObjectBase* object, int32_t id, int32_t arrayIndex, RValue* out)
{
    if (!object || !Variables_IsSlotId(id)) return false;
    if (!object->slots && object->named) return object->named->GetVar(id, arrayIndex, out);
    RValue* slot = Variables_Slot(object, id - VARIABLE_ID_FIRST_SLOT);
    return slot ? RValue_ArrayGet(out, slot, arrayIndex) : false;
}

bool Variables_ReadSlot(QZObjectBase* object, int32_t n, int32_t arrayIndex, RValue* out)
{
    RValue* slot = Variables_Slot(object, n);
    return slot ? RValue_ArrayGet(out, slot, arrayIndex) : false;
}

CInstance* Variables_FirstLiveInRoom()
{
    WorldCursor cursor;
    while (CInstance* i = World_NextInstance(WORLD_LIST_ROOM, -1, &cursor))
        if (Instance_IsLive(i)) return i;
    return nullptr;
}

// An instance that exists and is not marked for deletion (deactivated ones count: they keep their id).
CInstance* Variables_ExistingInstance(int32_t instanceId)
{
    CInstance* i = Hash_FindInstance(instanceId);
    return i && !Instance_IsMarked(i) ? i : nullptr;
}

// In the pending lists an instance counts for an object by ancestry, or, for compiled code's slot
// reads, only by its own object.
bool Variables_PendingQualifies(CInstance* i, int32_t objectIndex, bool exact)
{
    if (!Instance_IsLive(i)) return false;
    const int32_t own = Instance_GetObjectIndex(i);
    return exact ? own == objectIndex : Object_IsAncestorOrSelf(objectIndex, own);
}

CInstance* Variables_FirstOfObject(int32_t objectIndex, bool exact)
{
    WorldCursor cursor;
    while (CInstance* i = World_NextInstance(WORLD_LIST_OBJECT, objectIndex, &cursor))
        if (Instance_IsLive(i)) return i;
    for (WorldList list : {WORLD_LIST_PENDING_CHANGE, WORLD_LIST_PENDING_ACTIVATION}) {
        WorldCursor pending;
        while (CInstance* i = World_NextInstance(list, objectIndex, &pending))
            if (Variables_PendingQualifies(i, objectIndex, exact)) return i;
    }
    return nullptr;
}

// The instance a slot read by target reads from, or null.
CInstance* Variables_SlotTarget(int32_t target)
{
    if (target == VARIABLE_TARGET_ALL) return Variables_FirstLiveInRoom();
    if (target >= VARIABLE_TARGET_FIRST_INSTANCE) return Variables_ExistingInstance(target);
    if (target >= 0) return Variables_FirstOfObject(target, true);
    return nullptr;
}

// A function object for a built-in function's name: "[[Call_Cpp]]" holds its handler.
bool Variables_FunctionObject(const char* name, RValue* out)
{
    int32_t callId = -1;
    if (!name || !Code_Function_Find(name, &callId) || callId < 0 || callId >= CALL_ID_SCRIPT_BASE) return false;
    BuiltinFunction* function = Function_Entry(callId);
    if (!function || !function->handler) return false;
    RValue_Free(out);
    RValue_CreateObject(out);
    QZObjectBase* object = out->obj;
    if (!object) return false;
    // A pooled object made while the object model was off has nowhere to keep the property.
    if (!object->named) object->named = new CVariableList();
    ObjectBase_AddPointerProperty(object, "[[Call_Cpp]]", reinterpret_cast<void*>(function->handler), 0);
    return true;
}

QZObjectBase* Variables_ScopeFirst() { return g_ScopeHead ? g_ScopeHead : g_GlobalObject; }

// The name a scope lookup uses, computed once per operation.
struct VariablesScopeName {
    int32_t id;
    const char* name = nullptr;
    const char* Get()
    {
        if (!name) name = Code_Variable_GetAnyName(nullptr, -11, id);
        return name;
    }
};

// The value a scope holds for the variable (not unset), or null.
RValue* Variables_ScopeHolder(QZObjectBase* scope, int32_t id, VariablesScopeName* name)
{
    if (scope->slots && Variables_IsSlotId(id)) {
        RValue* slot = Variables_Slot(scope, id - VARIABLE_ID_FIRST_SLOT);
        if (slot && !Variables_IsUnset(slot)) return slot;
    }
    if (scope->named) {
        VariableNode* node = scope->named->FindByName(name->Get());
        if (node && !Variables_IsUnset(&node->value)) return &node->value;
    }
    return nullptr;
}

// The element an index names inside an array value, or the value itself without an index; null when
// the value holds no such element.
RValue* Variables_ElementAt(RValue* holder, int32_t arrayIndex)
{
    if (arrayIndex == ARRAY_INDEX_NONE) return holder;
    if (RValue_Kind(holder) != VALUE_ARRAY || !holder->arr) return nullptr;
    const int32_t row = arrayIndex / ARRAY_INDEX_STRIDE, column = arrayIndex % ARRAY_INDEX_STRIDE;
    const RefArray* array = holder->arr;
    if (row < 0 || row >= array->rowCount || column < 0 || column >= array->rows[row].length) return nullptr;
    return RValue_ArrayElement(holder, arrayIndex);  // a shared array is copied before it is changed
}

bool Variables_ReadS32(IBuffer* buffer, int32_t* out)
{
    RValue item;
    RValue_SetUndefined(&item);
    if (buffer->Read(buffer_s32, &item) != 0 || RValue_Kind(&item) != VALUE_REAL) {
        RValue_Free(&item);
        return false;
    }
    *out = Real_ToInt32(item.real);
    return true;
}

void Variables_WriteS32(IBuffer* buffer, int32_t n)
{
    RValue item;
    RValue_SetReal(&item, n);
    buffer->Write(buffer_s32, &item);
}

int64_t Variables_BytesLeft(IBuffer* buffer)
{
    if (buffer->GetKind() == buffer_wrap) return buffer->GetSize();
    const int64_t left = int64_t(buffer->GetSize()) - buffer->GetPosition();
    return left < 0 ? 0 : left;
}

int32_t Variables_GlobalCount() { return g_GlobalObject ? g_GlobalObject->slotCount : 0; }

void Variables_FreeValues(RValue* values, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) RValue_Free(&values[i]);
    MemFree(values);
}

}  // namespace

// ---- The built-in registry ----

void Variable_BuiltIn_Add(const char* name, BuiltinVariableGetter getter, BuiltinVariableSetter setter, bool)
{
    if (g_builtinCount >= VARIABLE_BUILTIN_CAPACITY) {
        ShowMessageBox("INTERNAL ERROR: Adding too many variables");
        return;
    }
    BuiltinVariable& entry = g_builtins[g_builtinCount];
    MemFree(entry.name);
    entry.name = String_Duplicate(name ? name : "");
    entry.getter = getter;
    entry.setter = setter;
    entry.canSet = setter != nullptr;
    ++g_builtinCount;
}

int32_t Variable_BuiltIn_Find(const char* name)
{
    if (!name) return -1;
    for (int32_t i = 0; i < g_builtinCount; ++i)
        if (g_builtins[i].name && std::strcmp(g_builtins[i].name, name) == 0) return i;
    return -1;
}

const char* Variable_BuiltIn_Name(int32_t index)
{
    const BuiltinVariable* entry = Variables_Builtin(index);
    return entry && entry->name ? entry->name : "<unknown built-in variable>";
}

int32_t Variable_BuiltIn_Count() { return g_builtinCount; }

const BuiltinVariable* Variable_BuiltIn_Entry(int32_t index) { return Variables_Builtin(index); }

void Variable_BuiltIn_Free()
{
    for (BuiltinVariable& entry : g_builtins) {
        MemFree(entry.name);
        entry = BuiltinVariable{};
    }
    g_builtinCount = 0;
    MemFree(g_varFlags);
    g_varFlags = nullptr;
    g_varFlagCount = 0;
}

// ---- One instance ----

bool Variable_GetValue_Direct(CInstance* instance, int32_t id, int32_t arrayIndex, RValue* out)
{
    if (id >= 0 && id < VARIABLE_BUILTIN_LIMIT) {
        const BuiltinVariable* entry = Variables_Builtin(id);
        return entry && entry->getter ? entry->getter(instance, arrayIndex, out) : false;
    }
    return Variables_ReadObject(Instance_GetScriptObject(instance), id, arrayIndex, out);
}

bool Variable_SetValue_Direct(CInstance* instance, int32_t id, int32_t arrayIndex, RValue* value)
{
    if (id >= 0 && id < VARIABLE_BUILTIN_LIMIT) {
        const BuiltinVariable* entry = Variables_Builtin(id);
        return entry && entry->canSet ? entry->setter(instance, arrayIndex, value) : false;
    }
    QZObjectBase* object = Instance_GetScriptObject(instance);
    if (!object || !Variables_IsSlotId(id)) return false;
    if (!object->slots && object->named) {
        object->named->SetVar(id, arrayIndex, value);
        return true;
    }
    RValue* slot = Variables_Slot(object, id - VARIABLE_ID_FIRST_SLOT);
    if (!slot) return false;
    RValue_SetWithIndex(slot, value, arrayIndex);
    return true;
}

// ---- By target ----

bool Variable_GetValue(int32_t target, int32_t id, int32_t arrayIndex, RValue* out)
{
    Variable_NoInstance = false;
    if (target == VARIABLE_TARGET_ALL) {
        CInstance* first = Variables_FirstLiveInRoom();
        if (first) return Variable_GetValue_Direct(first, id, arrayIndex, out);
    } else if (target >= VARIABLE_TARGET_FIRST_INSTANCE) {
        return Variable_GetValue_Instance(target, id, arrayIndex, out);
    } else if (target >= 0) {
        return Variable_GetValue_Object(target, id, arrayIndex, out);
    }
    Variable_NoInstance = true;
    return false;
}

bool Variable_GetValue_Instance(int32_t instanceId, int32_t id, int32_t arrayIndex, RValue* out)
{
    if (CInstance* i = Variables_ExistingInstance(instanceId)) return Variable_GetValue_Direct(i, id, arrayIndex, out);
    Variable_NoInstance = true;
    return false;
}

bool Variable_GetValue_Object(int32_t objectIndex, int32_t id, int32_t arrayIndex, RValue* out)
{
    if (CInstance* i = Variables_FirstOfObject(objectIndex, false)) return Variable_GetValue_Direct(i, id, arrayIndex, out);
    Variable_NoInstance = true;
    return false;
}

bool Variable_GetSlot(int32_t target, int32_t slot, int32_t arrayIndex, RValue* out)
{
    CInstance* i = Variables_SlotTarget(target);
    return i ? Variables_ReadSlot(Instance_GetScriptObject(i), slot, arrayIndex, out) : false;
}

bool Variable_GetSlot_Instance(int32_t instanceId, int32_t slot, int32_t arrayIndex, RValue* out)
{
    CInstance* i = Variables_ExistingInstance(instanceId);
    return i ? Variables_ReadSlot(Instance_GetScriptObject(i), slot, arrayIndex, out) : false;
}

bool Variable_GetSlot_Object(int32_t objectIndex, int32_t slot, int32_t arrayIndex, RValue* out)
{
    CInstance* i = objectIndex >= 0 ? Variables_FirstOfObject(objectIndex, true) : nullptr;
    return i ? Variables_ReadSlot(Instance_GetScriptObject(i), slot, arrayIndex, out) : false;
}

bool Variable_SetValue(int32_t target, int32_t id, int32_t arrayIndex, RValue* value)
{
    bool any = false, answer = false;
    auto write = [&](CInstance* i) {
        any = true;
        answer = Variable_SetValue_Direct(i, id, arrayIndex, value);
    };
    if (target == VARIABLE_TARGET_ALL) {
        WorldCursor cursor;
        while (CInstance* i = World_NextInstance(WORLD_LIST_ROOM, -1, &cursor))
            if (Instance_IsLive(i)) write(i);
    } else if (target >= VARIABLE_TARGET_FIRST_INSTANCE) {
        if (CInstance* i = Variables_ExistingInstance(target)) write(i);
    } else if (target >= 0) {
        WorldCursor cursor;
        while (CInstance* i = World_NextInstance(WORLD_LIST_OBJECT, target, &cursor))
            if (Instance_IsLive(i)) write(i);
        for (WorldList list : {WORLD_LIST_PENDING_CHANGE, WORLD_LIST_PENDING_ACTIVATION}) {
            WorldCursor pending;
            while (CInstance* i = World_NextInstance(list, target, &pending))
                if (Variables_PendingQualifies(i, target, false)) write(i);
        }
    }
    if (any) return answer;
    if (target >= 0 && target < VARIABLE_TARGET_FIRST_INSTANCE && Object_Exists(target))
        RuntimeError("Unable to find any instance for object index '%d' name '%s'", target, Object_GetName(target));
    else
        RuntimeError("Unable to find any instance for object index '%d'", target);
    return false;
}

const char* Variable_TargetName(int32_t target)
{
    if (target == VARIABLE_TARGET_ALL) {
        if (CInstance* first = Variables_FirstLiveInRoom()) return Object_GetName(Instance_GetObjectIndex(first));
        Variable_NoInstance = true;
        return kVariablesUnknownObject;
    }
    if (target >= 0 && target < VARIABLE_TARGET_FIRST_INSTANCE) return Object_GetName(target);
    if (target >= VARIABLE_TARGET_FIRST_INSTANCE)
        if (CInstance* i = Variables_ExistingInstance(target)) return Object_GetName(Instance_GetObjectIndex(i));
    return kVariablesUnknownObject;
}

// ---- Flags ----

uint8_t Variable_GetFlags(int32_t id)
{
    const int64_t at = int64_t(id) - VARIABLE_ID_FIRST_SLOT;
    return g_varFlags && at >= 0 && at < g_varFlagCount ? g_varFlags[at] : 0;
}

void Variable_InitFlags()
{
    MemFree(g_varFlags);
    g_varFlags = static_cast<uint8_t*>(MemoryManager::Alloc(VARIABLE_FLAG_COUNT, __FILE__, __LINE__, true));
    g_varFlagCount = g_varFlags ? VARIABLE_FLAG_COUNT : 0;
}

int32_t Variable_FlagCount() { return g_varFlagCount; }

// ---- Globals ----

bool Variable_Global_Get(int32_t id, int32_t arrayIndex, RValue* out)
{
    QZObjectBase* global = g_GlobalObject;
    if (!global) return false;
    if (!global->slots && global->named) return global->named->GetVar(id, arrayIndex, out);
    bool answer = false;
    RValue* slot = Variables_IsSlotId(id) ? Variables_Slot(global, id - VARIABLE_ID_FIRST_SLOT) : nullptr;
    if (slot) answer = RValue_ArrayGet(out, slot, arrayIndex);
    if (global->named && (!slot || Variables_IsUnset(out))) {
        const char* name = Code_Variable_GetAnyName(nullptr, -5, id);
        if (VariableNode* node = global->named->FindByName(name)) {
            RValue_ArrayGet(out, &node->value, arrayIndex);
            return true;
        }
        if (Variables_FunctionObject(name, out)) return true;
    }
    return answer;
}

bool Variable_Global_Set(int32_t id, int32_t arrayIndex, RValue* value)
{
    QZObjectBase* global = g_GlobalObject;
    if (!global) return false;
    if (global->slots || !global->named) {
        RValue* slot = Variables_IsSlotId(id) ? Variables_Slot(global, id - VARIABLE_ID_FIRST_SLOT) : nullptr;
        if (!slot) return false;
        Variables_WriteKeepingFlags(slot, value, arrayIndex);
        return true;
    }
    global->named->SetVar(id, arrayIndex, value);
    return true;
}

// ---- Scope chain ----

bool Variable_Scope_Get(int32_t id, int32_t arrayIndex, RValue* out)
{
    Variables_MakeUnset(out);
    VariablesScopeName name{id};
    QZObjectBase* foundIn = nullptr;
    for (QZObjectBase* scope = Variables_ScopeFirst(); scope && !foundIn; scope = scope->scopeNext) {
        RValue* holder = Variables_ScopeHolder(scope, id, &name);
        if (!holder) continue;
        RValue_ArrayGet(out, holder, arrayIndex);
        if (!Variables_IsUnset(out)) foundIn = scope;
    }
    if (foundIn) {
        if (Variables_IsAccessor(out)) {
            RValue accessor = *out;
            RValue_SetUndefined(out);
            JS_CallGetter(foundIn, out, &accessor);
        }
        return true;
    }
    return Variables_FunctionObject(name.Get(), out);
}

bool Variable_Scope_Set(int32_t id, int32_t arrayIndex, RValue* value)
{
    VariablesScopeName name{id};
    RValue* holder = nullptr;
    QZObjectBase* holderScope = nullptr;
    for (QZObjectBase* scope = Variables_ScopeFirst(); scope && !holder; scope = scope->scopeNext) {
        holder = Variables_ScopeHolder(scope, id, &name);
        holderScope = scope;
    }
    if (!holder) {
        QZObjectBase* head = Variables_ScopeFirst();
        if (!head) return false;
        holderScope = head;
        if (head->named && !head->slots) {
            // Kept under its name, where the reads and deletes of the chain look for it.
            if (std::strcmp(name.Get(), kUnknownVariableName) == 0) {
                head->named->SetVar(id, arrayIndex, value);
                return true;
            }
            VariableNode* node = CVariableList::NewNamedNode(name.Get());
            if (!node) return false;
            Variables_MakeUnset(&node->value);
            head->named->Add(node);
            holder = &node->value;
        } else {
            holder = Variables_IsSlotId(id) ? Variables_Slot(head, id - VARIABLE_ID_FIRST_SLOT) : nullptr;
            if (!holder) return false;
        }
    }
    if (Variables_IsAccessor(holder)) {
        JS_CallSetter(holderScope, value, holder);
        return true;
    }
    Variables_WriteKeepingFlags(holder, value, arrayIndex);
    return true;
}

bool Variable_Scope_Delete(int32_t id, int32_t arrayIndex)
{
    VariablesScopeName name{id};
    for (QZObjectBase* scope = Variables_ScopeFirst(); scope; scope = scope->scopeNext) {
        if (scope->slots && Variables_IsSlotId(id)) {
            RValue* slot = Variables_Slot(scope, id - VARIABLE_ID_FIRST_SLOT);
            if (slot && !Variables_IsUnset(slot)) {
                RValue* target = Variables_ElementAt(slot, arrayIndex);
                if (target && !Variables_IsUnset(target)) {
                    if (!(target->flags & RVALUE_FLAG_CONFIGURABLE)) return false;
                    RValue_Free(target);
                    Variables_MakeUnset(target);
                    return true;
                }
            }
        }
        if (scope->named) {
            VariableNode* node = scope->named->FindByName(name.Get());
            if (node && !Variables_IsUnset(&node->value)) {
                if (!(node->value.flags & RVALUE_FLAG_CONFIGURABLE)) return false;
                scope->named->Remove(node);
                return true;
            }
        }
    }
    return true;
}

// ---- Save block ----

void Variable_Global_Serialise(IBuffer* buffer)
{
    const int32_t count = Variables_GlobalCount();
    Variables_WriteS32(buffer, count);
    for (int32_t i = 0; i < count; ++i) {
        RValue* slot = Variables_Slot(g_GlobalObject, i);
        if (slot) {
            RValue_Serialise(slot, buffer);
        } else {
            RValue undefined;
            RValue_SetUndefined(&undefined);
            RValue_Serialise(&undefined, buffer);
        }
    }
    Variables_WriteS32(buffer, g_varFlagCount);
    for (int32_t i = 0; i < g_varFlagCount; ++i) Variables_WriteS32(buffer, g_varFlags[i]);
}

bool Variable_Global_Deserialise(IBuffer* buffer)
{
    int32_t count = 0;
    if (!Variables_ReadS32(buffer, &count)) return false;
    const int32_t expected = Variables_GlobalCount();
    if (count != expected) {
        // Another game's globals: nothing of them fits this game's slots.
        RuntimeError("Save game format has changed");
        return false;
    }
    // Each value takes at least its kind word.
    if (int64_t(count) > Variables_BytesLeft(buffer) / 4) return false;
    RValue* values = nullptr;
    if (count > 0) {
        values = static_cast<RValue*>(MemoryManager::Alloc(sizeof(RValue) * size_t(count), __FILE__, __LINE__, false));
        if (!values) return false;
        for (int32_t i = 0; i < count; ++i) RValue_SetUndefined(&values[i]);
    }
    bool ok = true;
    for (int32_t i = 0; ok && i < count; ++i) ok = RValue_Deserialise(&values[i], buffer);
    int32_t flagCount = 0;
    ok = ok && Variables_ReadS32(buffer, &flagCount) && flagCount >= 0 &&
         int64_t(flagCount) <= Variables_BytesLeft(buffer) / 4;
    uint8_t* flags = nullptr;
    if (ok && flagCount > 0) {
        flags = static_cast<uint8_t*>(MemoryManager::Alloc(size_t(flagCount), __FILE__, __LINE__, true));
        ok = flags != nullptr;
        for (int32_t i = 0; ok && i < flagCount; ++i) {
            int32_t flag = 0;
            ok = Variables_ReadS32(buffer, &flag);
            if (ok) flags[i] = flag != 0 ? 1 : 0;
        }
    }
    if (!ok) {
        Variables_FreeValues(values, count);
        MemFree(flags);
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        RValue* slot = Variables_Slot(g_GlobalObject, i);
        if (!slot) {
            RValue_Free(&values[i]);
            continue;
        }
        RValue_Free(slot);
        *slot = values[i];
        // The array was made owned by the temporary it was read into.
        if (RValue_Kind(slot) == VALUE_ARRAY && slot->arr && slot->arr->owner == &values[i]) slot->arr->owner = slot;
    }
    MemFree(values);
    MemFree(g_varFlags);
    g_varFlags = flags;
    g_varFlagCount = flags ? flagCount : 0;
    return true;
}

RValue* Hash_GetByIndex(CHashMap<RValue*>* map, int32_t n, int32_t* key)
{
    if (!map || n < 0) return nullptr;
    for (int32_t s = 0; s < map->Capacity(); ++s) {
        const auto& entry = map->At(s);
        if (entry.hash <= 0) continue;
        if (n-- == 0) {
            if (key) *key = entry.key;
            return entry.value;
        }
    }
    return nullptr;
}
