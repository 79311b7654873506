#include "core/functions.h"

#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "services/services.h"
#include "world/loader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr int32_t kFunctionTableStep = 500;

BuiltinFunction* g_functionTable = nullptr;
int32_t g_functionCount = 0;
int32_t g_functionCapacity = 0;

FunctionNameFinder g_extensionFinder = nullptr;

}  // namespace

BuiltinFunction* Function_Current = nullptr;
RValue* Function_CurrentArgs = nullptr;
int32_t Function_CurrentArgCount = 0;
double Math_Epsilon = 1e-10;

void Math_SetEpsilon(double epsilon)
{
    if (!(epsilon >= 0.0 && epsilon < 1.0)) return;
    Math_Epsilon = epsilon == 0.0 ? 1e-11 : epsilon;
}

const char* Function_Name(const BuiltinFunction* function) { return function ? function->name : nullptr; }

int32_t Function_Add(const char* name, TRoutine handler, int32_t argumentCount, bool flag)
{
    if (g_functionCount == g_functionCapacity) {
        // Every growth moves the table into a new cleared block: growing by a fixed step made n adds cost
        // n squared, so after the first block the table doubles.
        int32_t capacity = g_functionCapacity + std::max(kFunctionTableStep, g_functionCapacity);
        void* block = g_functionTable;
        MemoryManager::SetLength(&block, sizeof(BuiltinFunction) * size_t(capacity), __FILE__, __LINE__);
        g_functionTable = static_cast<BuiltinFunction*>(block);
        // A block that still fits comes back as it was: the new entries start cleared either way.
        std::memset(g_functionTable + g_functionCapacity, 0,
                    sizeof(BuiltinFunction) * size_t(capacity - g_functionCapacity));
        g_functionCapacity = capacity;
    }
    BuiltinFunction& entry = g_functionTable[g_functionCount];
    size_t length = name ? strnlen(name, sizeof entry.name - 1) : 0;
    std::memcpy(entry.name, name ? name : "", length);
    entry.name[length] = '\0';
    entry.handler = handler;
    entry.argumentCount = argumentCount;
    entry.flag = flag ? 1 : 0;
    entry.reserved = -1;
    return ++g_functionCount;
}

bool Function_Replace(const char* name, TRoutine handler)
{
    if (!name) return false;
    for (int32_t i = 0; i < g_functionCount; ++i) {
        if (std::strcmp(g_functionTable[i].name, name) == 0) {
            g_functionTable[i].handler = handler;
            return true;
        }
    }
    return false;
}

bool Function_GetInfo(int32_t index, const char** name, TRoutine* handler, int32_t* argumentCount, bool* flag)
{
    if (index < 0 || index >= g_functionCount) return false;
    const BuiltinFunction& entry = g_functionTable[index];
    if (name) *name = entry.name;
    if (handler) *handler = entry.handler;
    if (argumentCount) *argumentCount = entry.argumentCount;
    if (flag) *flag = entry.flag != 0;
    return true;
}

void Function_Free()
{
    MemFree(g_functionTable);
    g_functionTable = nullptr;
    g_functionCount = g_functionCapacity = 0;
    Function_Current = nullptr;
}

int32_t Function_Count() { return g_functionCount; }
int32_t Function_Capacity() { return g_functionCapacity; }

BuiltinFunction* Function_Entry(int32_t index)
{
    return index >= 0 && index < g_functionCount ? &g_functionTable[index] : nullptr;
}

void Function_SetExtensionFinder(FunctionNameFinder finder) { g_extensionFinder = finder; }

bool Function_GameRunsCompiledCode()
{
    const GameLinkData* link = g_GameData.link;
    return link && link->codeTable && link->codeEntryCount > 0;
}

bool Code_Function_Find(const char* name, int32_t* id)
{
    *id = -1;
    if (!name || !*name) return false;
    int32_t script = Script_Find(name);
    if (script >= 0) {
        *id = CALL_ID_SCRIPT_BASE + script;
        return true;
    }
    int32_t extension = (g_extensionFinder ? g_extensionFinder : Extension_FindFunction)(name);
    if (extension >= 0 && extension < INT32_MAX - CALL_ID_EXTENSION_BASE) {
        *id = CALL_ID_EXTENSION_BASE + extension;
        return true;
    }
    if (!Function_GameRunsCompiledCode() && std::strcmp(name, "script_execute") == 0) {
        *id = CALL_ID_SCRIPT_EXECUTE;
        return true;
    }
    for (int32_t i = 0; i < g_functionCount; ++i) {
        if (std::strcmp(g_functionTable[i].name, name) == 0) {
            *id = i;
            return true;
        }
    }
    return false;
}

int32_t Code_Function_Find(const char* name)
{
    int32_t id = -1;
    Code_Function_Find(name, &id);
    return id;
}
