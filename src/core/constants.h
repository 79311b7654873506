// Named constants: the built-in names scripts know (self, c_red, vk_left, ...) and the game's user
// constants, in one table of parallel name and value arrays. Lookups search from the last entry down, so a
// later definition hides an earlier one of the same name.
#pragma once
#include <cstdint>

#include "core/value.h"

// Registers the built-in constants (early initialisation). dll_cdecl and dll_stdcall are left out while
// external calls are forbidden (-steam, or a child game started by a game change).
void Code_Constant_Init();
// The os_*, device_*, browser_* and the other late families; called by Code_Constant_Init.
void Code_Constant_InitOS();

// Appends an entry: a copy of the name and an RValue_Copy of the value (null: undefined). A null name
// adds nothing.
void Code_Constant_Add(const char* name, const RValue* value);
void Code_Constant_AddReal(const char* name, double value);

// The value of the last entry whose name equals name ignoring ASCII case, or null.
const RValue* Code_Constant_Find(const char* name);

// An ASCII letter or '_', then ASCII letters, digits or '_'; false for null or empty text.
bool Code_Constant_IsIdentifier(const char* text);

// Frees *target and replaces it with a trimmed copy of text (bytes whose signed value is at most 32 are
// cut from both ends); null text gives null.
void Code_Constant_SetText(char** target, const char* text);

// Defines a user constant: the trimmed name, value real 0 (the value text is not read). An invalid name
// shows "Constant name %s  is not valid." and answers false.
bool Code_Constant_Define(const char* name, const char* valueText);
// Defines count constants in order; false at the first failure, leaving the rest undefined.
bool Code_Constant_DefineList(int32_t count, char* const* names, char* const* valueTexts);
// Defines the options chunk's user constants (game preparation).
bool Code_Constant_Prepare();

// The back end of asset_get_index: out = real -1 (its old content released), then the index of the
// first asset table that knows the name, else a copy of the value of the last constant with exactly
// that name (byte comparison). False when nothing knows it.
bool Code_Constant_AssetFind(const char* name, RValue* out);

// Frees every name and value and both arrays; the count is 0 afterwards (shutdown).
void Code_Constant_Free();

// Read access by index for callers that list the table; null outside 0 ... count - 1.
int32_t Code_Constant_Count();
const char* Code_Constant_Name(int32_t index);
const RValue* Code_Constant_Value(int32_t index);

// The asset tables AssetFind asks, in its order; each answers an index or -1. Tests install fakes.
using AssetFindFunction = int32_t (*)(const char* name);
struct AssetFinders {
    AssetFindFunction sprite;
    AssetFindFunction sound;
    AssetFindFunction object;
    AssetFindFunction audio;
    AssetFindFunction background;
    AssetFindFunction path;
    AssetFindFunction font;
    AssetFindFunction timeline;
    AssetFindFunction script;
    AssetFindFunction room;
    AssetFindFunction shader;
};
// Installs finders (null restores the tables' own lookups); returns the ones before.
AssetFinders Code_Constant_SetAssetFinders(const AssetFinders* finders);

// Name lookups of the resource tables, defined by the tables' owners (Shader_Find by the shader table,
// gfx/shader.cpp).
int32_t Script_Find(const char* name);    // last script of that name
int32_t Object_Find(const char* name);    // first object of that name
int32_t Room_Find(const char* name);      // first room of that name
int32_t TimeLine_Find(const char* name);  // first timeline of that name
int32_t Shader_Find(const char* name);    // first shader of that name

// The options chunk's user constants: two parallel tables of count texts, owned by the options reader
// (world/options.cpp).
struct OptionConstantTexts {
    int32_t count;
    char* const* names;
    char* const* values;
};
OptionConstantTexts Options_UserConstants();
