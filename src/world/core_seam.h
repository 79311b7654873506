// Operations of the core runtime that the game-data loader calls before the core builds them: the
// script table and the name registries that bind bytecode to this run's variable and function ids.
#pragma once
#include <cstdint>

// Scripts (core/script.h).
void Script_Clear();  // deletes every script before the game data is read
bool Script_Load(uint8_t* body, uint32_t size, uint8_t* base);  // SCPT

// Variable names. Ids: below 10,000 a built-in variable, 100,000 + n a global or instance slot.
int32_t Code_Variable_FindAlloc(const char* name);
int32_t Code_Variable_SetName(const char* name, int32_t scope, int32_t index);
void Code_Variable_Init(int32_t globalCount, int32_t instanceCount, int32_t localCount);
// The code-locals block that follows the function records of new-format data (to the chunk's end).
void Code_Variable_LoadLocalNames(uint8_t* block, uint32_t size, uint8_t* base);

// Built-in, script and extension functions by name; -1 when none.
int32_t Code_Function_Find(const char* name);
