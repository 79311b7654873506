// The names behind variable ids: the shared name table (old code format, link data, names met at run
// time), the global and instance tables that new-format data numbers itself, and the local-name lists of
// code entries. The loader-facing operations (FindAlloc, SetName, Init, LoadLocalNames) are declared in
// world/core_seam.h.
#pragma once
#include <cstdint>

#include "core/variables.h"  // Variable_BuiltIn_Find, Variable_BuiltIn_Name, Variable_NoInstance
#include "world/core_seam.h"

struct QZObjectBase;

constexpr int32_t VARIABLE_ID_FIRST_SLOT = 100000;  // id of slot 0 of an instance or global variable
extern const char* const kUnknownVariableName;     // "<unknown variable>"

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

// Lets a test answer the loader-facing operations itself (the loader suites bind fixtures to fixed ids and
// record the calls). Null members, or a null record, use the tables. Returns the record installed before.
struct CodeVariableResolver {
    int32_t (*findAlloc)(const char* name);
    int32_t (*setName)(const char* name, int32_t scope, int32_t index);
    void (*init)(int32_t globalCount, int32_t instanceCount, int32_t localCount);
    void (*loadLocalNames)(uint8_t* block, uint32_t size, uint8_t* base);
};
const CodeVariableResolver* Code_Variable_SetResolver(const CodeVariableResolver* resolver);
