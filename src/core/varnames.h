// The names behind variable ids: the shared name table (old code format, link data, names met at run
// time), the global and instance tables that new-format data numbers itself, and the local-name lists of
// code entries.
#pragma once
#include <cstdint>

#include "core/variables.h"  // Variable_BuiltIn_Find, Variable_BuiltIn_Name, Variable_NoInstance

struct QZObjectBase;

constexpr int32_t VARIABLE_ID_FIRST_SLOT = 100000;  // id of slot 0 of an instance or global variable
extern const char* const kUnknownVariableName;     // "<unknown variable>"

// What the loader binds bytecode with. Ids: below 10,000 a built-in variable, 100,000 + n a slot.
// Old format: a built-in of that name, else the shared table's id (added when missing).
int32_t Code_Variable_FindAlloc(const char* name);
// New format: sizes the global and instance tables (the locals come with the FUNC chunk).
void Code_Variable_Init(int32_t globalCount, int32_t instanceCount, int32_t localCount);
// New format: scope -6 names a built-in (-1 when none); otherwise the name fills that index of the global
// (-5) or instance (-1) table and the id is 100,000 + index.
int32_t Code_Variable_SetName(const char* name, int32_t scope, int32_t index);
// The code-locals block that follows the function records of new-format data (to the chunk's end).
void Code_Variable_LoadLocalNames(uint8_t* block, uint32_t size, uint8_t* base);

// Shared table: the id of the name, added when missing (byte-for-byte match).
int32_t Code_Variable_Add(const char* name);
// Shared table: the id of the name, or -1.
int32_t Code_Variable_Find(const char* name);

// Name of a variable id as seen from a code entry and scope; "<unknown variable>" when it has none.
const char* Code_Variable_GetName(const char* codeName, int32_t scope, int32_t id);
// Built-in ids (below 100,000) name the built-in variable; others as Code_Variable_GetName.
const char* Code_Variable_GetAnyName(const char* codeName, int32_t scope, int32_t id);

// Index (not id) of the first non-empty entry equal to the name, or -1.
int32_t Code_Variable_FindInstance(const char* name);
int32_t Code_Variable_FindGlobal(const char* name);
// Slot of a named variable in an object: the global table for the global object while the script object
// model is off, the instance table otherwise.
int32_t Code_Variable_FindSlot(QZObjectBase* object, const char* name);

// Releases every table (shutdown; a later load starts with empty tables).
void Code_Variable_Free();

// The code-locals block checked against the data (length bytes at base): a bad count or offset records
// the damage of the game data (so a load in progress fails) and keeps no list of the block.
bool Code_Variable_ReadLocalNames(const uint8_t* block, uint32_t size, const uint8_t* base, uint32_t length);

// Test-only: Code_Variable_FindAlloc fails only when the shared table cannot grow, which a test cannot
// arrange; findAlloc answers in its place. A null member, or a null record, uses the tables. Returns the
// record installed before.
struct CodeVariableResolver {
    int32_t (*findAlloc)(const char* name);
};
const CodeVariableResolver* Code_Variable_SetResolver(const CodeVariableResolver* resolver);
