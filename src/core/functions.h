// The table of built-in functions, the call ids that names resolve to, and the epsilon of comparisons.
#pragma once
#include <cstdint>

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

// The argument block of the built-in now running, set and restored with Function_Current by both callers:
// at least the registered count of values, the ones the call did not give undefined. The getters read an
// index past its end as undefined. Null and 0 while no built-in runs, and for an empty block.
extern RValue* Function_CurrentArgs;
extern int32_t Function_CurrentArgCount;

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
int32_t Code_Function_Find(const char* name);  // the id alone, -1 when none

// Scripts by name: the index of the last script of that name, -1 when none (the script table's).
int32_t Script_Find(const char* name);

// Until the extension packages exist, tests may answer Code_Function_Find's extension lookups (an index
// into the packages' function table, -1 none). Null restores Extension_FindFunction.
using FunctionNameFinder = int32_t (*)(const char* name);
void Function_SetExtensionFinder(FunctionNameFinder finder);

// True when the executable links compiled game code (its link record has code entries); bytecode games
// resolve "script_execute" to its own call id.
bool Function_GameRunsCompiledCode();

// Tolerance of real comparisons.
extern double Math_Epsilon;
// Sets the tolerance: 0 gives 1e-11, values outside [0, 1) (NaN too) leave it as it is.
void Math_SetEpsilon(double epsilon);
