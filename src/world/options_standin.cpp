// Stand-in until the options chunk and options.ini are built: records what was asked for.
#include "world/options.h"

#include "core/seam_trace.h"
#include "world/loader_standin.h"

GameOptions g_GameOptions = {};

void Options_InitDefaults() { SeamTrace_Record("Options_InitDefaults"); }

bool Option_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("Option_Load");
    g_LoaderStandins.chunks.push_back({"Option_Load", body, size, base});
    return true;
}

IniFile* Options_ReadIniFile(const char* path)
{
    SeamTrace_Record("Options_ReadIniFile");
    g_LoaderStandins.iniFiles.emplace_back(path ? path : "");
    return nullptr;
}
