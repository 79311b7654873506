#include "lib/temp_directory.h"

#include "core/memory_manager.h"
#include "core/text.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

char* g_TempDirectoryKept = nullptr;

}  // namespace

void TempDirectory_Init()
{
    // A relative value would move with the current folder; an empty one names no folder.
    const char* env = std::getenv("TMPDIR");
    std::string folder = (env && env[0] == '/') ? env : P_tmpdir;
    if (folder.empty() || folder.back() != '/') folder += '/';
    char* copy = String_Duplicate(folder.c_str());
    MemFree(g_TempDirectoryKept);
    g_TempDirectoryKept = copy;
}

char* TempDirectory_Get()
{
    if (!g_TempDirectoryKept) TempDirectory_Init();
    return String_Duplicate(g_TempDirectoryKept);
}

void TempDirectory_Shutdown()
{
    MemFree(g_TempDirectoryKept);
    g_TempDirectoryKept = nullptr;
}
