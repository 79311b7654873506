// Stand-ins until the name registries are built. The resolvers answer from a name -> id table that a
// test fills; names not in it give -1.
#include "world/core_seam.h"

#include "core/functions.h"
#include "core/seam_trace.h"
#include "core/varnames.h"
#include "world/loader_standin.h"

#include <cstdio>

namespace {

int32_t CoreSeam_Lookup(const std::map<std::string, int32_t>& table, const char* name, int32_t firstMade)
{
    auto it = table.find(name ? name : "");
    if (it != table.end()) return it->second;
    if (!g_LoaderStandins.resolveAll) return -1;
    uint32_t hash = 2166136261u;
    for (const char* p = name ? name : ""; *p; ++p) hash = (hash ^ uint8_t(*p)) * 16777619u;
    return firstMade + int32_t(hash % 5000);
}

}  // namespace

// The variable-name operations are the core's own (core/varnames.h). The loader suites answer them from
// the table above and record each call, through the resolver hook.
namespace {

int32_t CoreSeam_VariableFindAlloc(const char* name)
{
    g_LoaderStandins.variableLookups.emplace_back(name ? name : "");
    return CoreSeam_Lookup(g_LoaderStandins.variableIds, name, 100000);
}

int32_t CoreSeam_VariableSetName(const char* name, int32_t scope, int32_t index)
{
    g_LoaderStandins.setNames.push_back({name ? name : "", scope, index});
    return CoreSeam_Lookup(g_LoaderStandins.variableIds, name, 100000);
}

void CoreSeam_VariableInit(int32_t globalCount, int32_t instanceCount, int32_t localCount)
{
    SeamTrace_Record("Code_Variable_Init");
    g_LoaderStandins.variableInits.push_back({globalCount, instanceCount, localCount});
}

void CoreSeam_VariableLoadLocalNames(uint8_t* block, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("Code_Variable_LoadLocalNames");
    g_LoaderStandins.localNames.push_back({"Code_Variable_LoadLocalNames", block, size, base});
}

const CodeVariableResolver kCoreSeamVariableResolver = {CoreSeam_VariableFindAlloc, CoreSeam_VariableSetName,
                                                         CoreSeam_VariableInit, CoreSeam_VariableLoadLocalNames};

}  // namespace

void CoreSeam_InstallVariableResolver() { Code_Variable_SetResolver(&kCoreSeamVariableResolver); }

// Code_Function_Find is the core's own. Tests reach it through its finders: a name the test gives a
// script id (100,000 and up) answers as a script, an extension id (500,000 and up) as an extension, and a
// built-in id is written into that entry of the real table (filler entries before it); with resolveAll an
// unknown name answers as a script made from the name.
namespace {

int32_t CoreSeam_FindScript(const char* name)
{
    g_LoaderStandins.functionLookups.emplace_back(name ? name : "");
    if (!g_LoaderStandins.functionIds.count(name ? name : ""))
        return g_LoaderStandins.resolveAll ? CoreSeam_Lookup(g_LoaderStandins.functionIds, name, 0) : -1;
    int32_t id = g_LoaderStandins.functionIds[name];
    if (id >= CALL_ID_EXTENSION_BASE) return -1;
    if (id >= CALL_ID_SCRIPT_BASE) return id - CALL_ID_SCRIPT_BASE;
    if (id < 0) return -1;
    while (Function_Count() <= id) Function_Add("", nullptr, -1, false);
    BuiltinFunction* entry = Function_Entry(id);
    std::snprintf(entry->name, sizeof entry->name, "%s", name);
    return -1;
}

int32_t CoreSeam_FindExtension(const char* name)
{
    auto it = g_LoaderStandins.functionIds.find(name ? name : "");
    if (it == g_LoaderStandins.functionIds.end() || it->second < CALL_ID_EXTENSION_BASE) return -1;
    return it->second - CALL_ID_EXTENSION_BASE;
}

}  // namespace

void CoreSeam_InstallFunctionFinders()
{
    // One table block from the start, so that a load that fills entries allocates nothing.
    Function_Free();
    Function_Add("", nullptr, -1, false);
    Function_SetFinders(CoreSeam_FindScript, CoreSeam_FindExtension);
}
