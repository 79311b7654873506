// Variables by id: the registry of built-in variables (ids 0 to 9,999), slots of script objects (ids
// 100,000 + n), access to one instance, access by target, globals, the scope chain of the script object
// model, the per-variable flag array and the globals' save block.
#pragma once
#include <cstdint>

#include "core/hashmap.h"

struct RValue;
struct CInstance;
struct QZObjectBase;
class IBuffer;

constexpr int32_t VARIABLE_BUILTIN_CAPACITY = 500;
constexpr int32_t VARIABLE_BUILTIN_LIMIT = 10000;  // ids below are built-in variables
constexpr int32_t VARIABLE_FLAG_COUNT = 10000;     // flag bytes made by Variable_InitFlags

// Targets of the by-target operations: -3 every instance, 0 to 99,999 an object index, 100,000 and above
// an instance id; any other negative value names nothing.
constexpr int32_t VARIABLE_TARGET_ALL = -3;
constexpr int32_t VARIABLE_TARGET_FIRST_INSTANCE = 100000;

// False means the access failed; the interpreter reports it.
using BuiltinVariableGetter = bool (*)(CInstance* self, int32_t arrayIndex, RValue* out);
using BuiltinVariableSetter = bool (*)(CInstance* self, int32_t arrayIndex, RValue* value);

struct BuiltinVariable {
    char* name;  // memory-manager copy
    BuiltinVariableGetter getter;
    BuiltinVariableSetter setter;  // null: read-only
    bool canSet;
};

// ---- The built-in registry ----

// At most 500 entries; one more shows "INTERNAL ERROR: Adding too many variables" and adds nothing.
void Variable_BuiltIn_Add(const char* name, BuiltinVariableGetter getter, BuiltinVariableSetter setter,
                          bool unused = false);
// Index of the first entry of that name (byte for byte), or -1.
int32_t Variable_BuiltIn_Find(const char* name);
// "<unknown built-in variable>" for an index that names no entry.
const char* Variable_BuiltIn_Name(int32_t index);
int32_t Variable_BuiltIn_Count();
const BuiltinVariable* Variable_BuiltIn_Entry(int32_t index);  // null outside the table
// Frees the names and the flag array; the table is empty afterwards.
void Variable_BuiltIn_Free();

// Set by the reads by target when they find no instance; read by the interpreter's messages.
extern bool Variable_NoInstance;

// ---- One instance ----
// Built-in ids call the entry's getter or setter; slot ids use the named-variable list of an object
// without a slot array, else the slot. An id that names neither a registered built-in nor a slot the
// object can hold (10,000 to 99,999, negative, beyond the slot array) answers false: out is left as it
// was and nothing is written. Writing a built-in without a setter answers false.
bool Variable_GetValue_Direct(CInstance* instance, int32_t id, int32_t arrayIndex, RValue* out);
bool Variable_SetValue_Direct(CInstance* instance, int32_t id, int32_t arrayIndex, RValue* value);

// ---- By target ----
// Reads from the first live instance (neither marked for deletion nor deactivated): -3 in room order; an
// object index in the object's list, then in the pending object-change and activation lists (there an
// instance counts when its object is the given one or a descendant of it); an instance id when that
// instance exists and is not marked for deletion. No instance: the no-instance flag and false.
bool Variable_GetValue(int32_t target, int32_t id, int32_t arrayIndex, RValue* out);
bool Variable_GetValue_Instance(int32_t instanceId, int32_t id, int32_t arrayIndex, RValue* out);
bool Variable_GetValue_Object(int32_t objectIndex, int32_t id, int32_t arrayIndex, RValue* out);
// As above with a slot number and no built-ins, for compiled game code: the pending lists count only
// instances of exactly that object, and the no-instance flag is left alone.
bool Variable_GetSlot(int32_t target, int32_t slot, int32_t arrayIndex, RValue* out);
bool Variable_GetSlot_Instance(int32_t instanceId, int32_t slot, int32_t arrayIndex, RValue* out);
bool Variable_GetSlot_Object(int32_t objectIndex, int32_t slot, int32_t arrayIndex, RValue* out);
// Writes every qualifying live instance and answers the last write's answer. None: a runtime error
// ("Unable to find any instance for object index ...") and false.
bool Variable_SetValue(int32_t target, int32_t id, int32_t arrayIndex, RValue* value);
// The object name a target stands for, for messages; "<unknown_object>" when there is none.
const char* Variable_TargetName(int32_t target);

// ---- Flags: one byte per id from 100,000; 1 makes global-or-self code resolve it in the globals ----
uint8_t Variable_GetFlags(int32_t id);  // 0 outside the array
void Variable_InitFlags();              // 10,000 zero bytes
int32_t Variable_FlagCount();

// ---- Globals (g_GlobalObject) ----
// An unset global whose name is a built-in function's reads as a function object (with the script
// object model's named variables on the global object).
bool Variable_Global_Get(int32_t id, int32_t arrayIndex, RValue* out);
// A slot written for the first time gets flags 7 (enumerable, configurable, writable); later writes keep
// the flags the slot has.
bool Variable_Global_Set(int32_t id, int32_t arrayIndex, RValue* value);

// ---- Scope chain of the script object model ----
// The innermost scope; each scope's scopeNext names the next outer one and the global object ends the
// chain. The script object model moves the head while its functions run. Null (the loader has not set
// it) means the chain is the global object alone.
extern QZObjectBase* g_ScopeHead;
bool Variable_Scope_Get(int32_t id, int32_t arrayIndex, RValue* out);
bool Variable_Scope_Set(int32_t id, int32_t arrayIndex, RValue* value);
// False when the variable found is not configurable; true otherwise (also when nothing holds it).
bool Variable_Scope_Delete(int32_t id, int32_t arrayIndex);

// ---- The globals' save block ----
// s32 global count, each global slot as a serialised value, s32 flag count, each flag as an s32.
void Variable_Global_Serialise(IBuffer* buffer);
// A count that is not this game's reports "Save game format has changed" and reads nothing more. The
// block is read whole before anything changes: damaged or truncated data leaves globals and flags as
// they were. True when the block was taken.
bool Variable_Global_Deserialise(IBuffer* buffer);

// The n-th occupied entry of a sparse slot map (table order, from 0): its value, and its key through
// key (may be null); null when n is outside 0 ... occupied - 1.
RValue* Hash_GetByIndex(CHashMap<RValue*>* map, int32_t n, int32_t* key);
