// Stand-in consoles: both print to standard output unless the run is headless.
#include "core/console.h"

#include "world/command_line.h"

#include <cstdarg>
#include <cstdio>

namespace {

struct StdoutConsole final : tagIConsole {
    void Output(const char* format, ...) override
    {
        if (!format || g_RunFlags.headless) return;
        va_list args;
        va_start(args, format);
        std::vprintf(format, args);
        va_end(args);
        std::fflush(stdout);
    }
};

StdoutConsole g_debugConsole, g_releaseConsole;

}  // namespace

tagIConsole* DebugConsole = &g_debugConsole;
tagIConsole* ReleaseConsole = &g_releaseConsole;

void Console_FlushAll() { std::fflush(stdout); }
