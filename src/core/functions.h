// The table of built-in functions, the call ids that names resolve to, and the epsilon of comparisons.
#pragma once
#include <cstdint>

#include "world/core_seam.h"  // int32_t Code_Function_Find(const char* name), the loader's form

struct RValue;
struct CInstance;

// A built-in: fills result from its argc arguments; self and other are the calling instances (null
// where there is none). The caller owns the arguments and frees them after the call.
using TRoutine = void (*)(RValue* result, CInstance* self, CInstance* other, int32_t argc, RValue* args);

struct BuiltinFunction {
    char name[64];  // NUL-terminated, at most 63 bytes
    TRoutine handler;
    int32_t argumentCount;  // -1: any number
    uint8_t flag;           // kept for Function_GetInfo only
    int32_t reserved;       // -1
};

// Call ids.
constexpr int32_t CALL_ID_SCRIPT_BASE = 100000;
constexpr int32_t CALL_ID_SCRIPT_EXECUTE = 499999;  // bytecode games only
constexpr int32_t CALL_ID_EXTENSION_BASE = 500000;

// Registers a built-in (a longer name is cut to 63 bytes); returns the new count, whose last index is
// the call id.
int32_t Function_Add(const char* name, TRoutine handler, int32_t argumentCount, bool flag);
// Replaces the handler of the first entry of that name; false when there is none.
bool Function_Replace(const char* name, TRoutine handler);
// Outputs stay untouched for an index outside 0 ... count - 1; any output may be null.
bool Function_GetInfo(int32_t index, const char** name, TRoutine* handler, int32_t* argumentCount,
                      bool* flag);
void Function_Free();
int32_t Function_Count();
int32_t Function_Capacity();
BuiltinFunction* Function_Entry(int32_t index);  // null outside the table

// Resolution of a name to a call id: script, extension function, script_execute (bytecode games),
// built-in. False and -1 when nothing answers.
bool Code_Function_Find(const char* name, int32_t* id);

// Scripts by name: the index of the last script of that name, -1 when none (the script table's).
int32_t Script_Find(const char* name);

// Where Code_Function_Find asks for scripts and extension functions; tests put fakes in. Null restores
// Script_Find and Extension_FindFunction.
using FunctionNameFinder = int32_t (*)(const char* name);
void Function_SetFinders(FunctionNameFinder script, FunctionNameFinder extension);

// True when the executable links compiled game code (its link record has code entries); bytecode games
// resolve "script_execute" to its own call id.
bool Function_GameRunsCompiledCode();

// Tolerance of real comparisons.
extern double Math_Epsilon;
// Sets the tolerance: 0 gives 1e-11, values outside [0, 1) (NaN too) leave it as it is.
void Math_SetEpsilon(double epsilon);
