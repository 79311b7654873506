// Stand-ins until scripts and the name registries are built. The resolvers answer from a name -> id
// table that a test fills; names not in it give -1.
#include "world/core_seam.h"

#include "core/seam_trace.h"
#include "world/loader_standin.h"

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

void Script_Clear() { SeamTrace_Record("Script_Clear"); }

bool Script_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("Script_Load");
    g_LoaderStandins.chunks.push_back({"Script_Load", body, size, base});
    return true;
}

int32_t Code_Variable_FindAlloc(const char* name)
{
    g_LoaderStandins.variableLookups.emplace_back(name ? name : "");
    return CoreSeam_Lookup(g_LoaderStandins.variableIds, name, 100000);
}

int32_t Code_Variable_SetName(const char* name, int32_t scope, int32_t index)
{
    g_LoaderStandins.setNames.push_back({name ? name : "", scope, index});
    return CoreSeam_Lookup(g_LoaderStandins.variableIds, name, 100000);
}

void Code_Variable_Init(int32_t globalCount, int32_t instanceCount, int32_t localCount)
{
    SeamTrace_Record("Code_Variable_Init");
    g_LoaderStandins.variableInits.push_back({globalCount, instanceCount, localCount});
}

void Code_Variable_LoadLocalNames(uint8_t* block, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("Code_Variable_LoadLocalNames");
    g_LoaderStandins.localNames.push_back({"Code_Variable_LoadLocalNames", block, size, base});
}

int32_t Code_Function_Find(const char* name)
{
    g_LoaderStandins.functionLookups.emplace_back(name ? name : "");
    return CoreSeam_Lookup(g_LoaderStandins.functionIds, name, 0);
}
