// Arbitrary bytes as a command line: the parse must stay inside its table and keep its switches sane.
#include "core/memory_manager.h"
#include "services/launcher.h"
#include "world/command_line.h"
#include "world/run_state.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);  // stops at an embedded NUL, as a C text does
    ParseCommandLine(text.c_str());

    if (g_ArgumentTable.count < 0 || g_ArgumentTable.count > ARGUMENT_TABLE_SIZE) std::abort();
    for (int i = 0; i < g_ArgumentTable.count; ++i)
        if (!g_ArgumentTable.args[i] || std::strchr(g_ArgumentTable.args[i], '"')) std::abort();
    if (g_RunFlags.sleepMargin < 0 || g_RunFlags.sleepMargin > 3000) std::abort();
    if (g_GameFile && !*g_GameFile) std::abort();  // an empty game file counts as none

    RunFlags_ResetAll();
    GameFile_Set(nullptr);
    Launcher_SetLaunchArgs(nullptr);
    return 0;
}
