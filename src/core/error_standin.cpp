// Minimal reporter until error reporting is built: the text on the release console, then the exit hook.
#include "core/error.h"

#include "core/console.h"
#include "platform/hooks.h"

#include <cstdarg>
#include <cstdio>

namespace {

void ReportAndExit(int status, const char* format, va_list args)
{
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    ReleaseConsole->Output("ERROR!!! :: %s\n", text);
    Platform_Exit(status);
}

}  // namespace

bool g_ShowErrorDialogs = true;
bool g_ErrorCaught = false;

namespace {
char g_errorLastText[4096];
}  // namespace

void Error_Show(const char* text, bool abort)
{
    std::snprintf(g_errorLastText, sizeof g_errorLastText, "%s", text ? text : "");
    ReleaseConsole->Output("ERROR!!! :: %s\n", g_errorLastText);
    if (abort) Platform_Exit(1);
}

const char* Error_LastText() { return g_errorLastText; }

void RuntimeError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    ReportAndExit(1, format, args);
    va_end(args);
}

void VMError(VMFrame*, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    ReportAndExit(-1, format, args);
    va_end(args);
}
