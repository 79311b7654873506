// Runtime error reporting: the framed text, the decision whether the game goes on, and the dialog.
#include "core/error.h"

#include "core/console.h"
#include "core/debug_info.h"
#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "core/thread.h"
#include "platform/crash_handlers.h"
#include "core/value.h"
#include "gfx/window.h"
#include "input/input.h"
#include "platform/error_dialog.h"
#include "platform/hooks.h"
#include "platform/messages.h"
#include "world/command_line.h"
#include "world/event_names.h"
#include "world/room_change.h"
#include "world/timeline.h"
#include "world/world_access.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

RefString* g_ErrorLastText = nullptr;
bool g_ErrorOccurred = false;
bool g_ErrorQuitting = false;
bool g_ErrorCatch = false;
bool g_ErrorCaught = false;
bool g_GameChanging = false;
bool g_ShowErrorDialogs = true;
bool g_AbortOnError = false;

int32_t event_type = 0;
int32_t event_number = 0;
int32_t event_object = 0;
int32_t event_action = 0;
const char* g_ErrorShaderName = nullptr;
bool g_ErrorShaderFragment = false;

namespace {

constexpr size_t kErrorMessageMax = 1023;
constexpr size_t kErrorHeaderMax = 32767;
const std::string kErrorRuleHash(92, '#');
const std::string kErrorRuleDash(92, '-');

void ErrorText_Append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void ErrorText_Append(std::string& out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        const size_t at = out.size();
        out.resize(at + size_t(n) + 1);
        std::vsnprintf(&out[at], size_t(n) + 1, format, again);
        out.resize(at + size_t(n));
    }
    va_end(again);
}

// "ksl_Object<digits>" names the action by its trailing number (0 when it has none).
int32_t Error_ActionFromLineName(const char* name, int32_t fallback)
{
    if (!name || std::strncmp(name, "ksl_Object", 10) != 0) return fallback;
    const char* end = name + std::strlen(name);
    const char* digits = end;
    while (digits > name && digits[-1] >= '0' && digits[-1] <= '9') --digits;
    int64_t value = 0;
    for (const char* p = digits; p < end; ++p) value = value < INT32_MAX ? value * 10 + (*p - '0') : value;
    return value > INT32_MAX ? INT32_MAX : int32_t(value);
}

void Error_Report(int status, VMFrame* frame, const char* format, va_list args)
{
    KV_ASSERT(!Thread_IsEngineWorker());
    if (g_ErrorCatch) {
        if (frame) VM_StopFrame(frame);
        g_ErrorCaught = true;
        return;
    }
    char message[kErrorMessageMax + 1];
    std::vsnprintf(message, sizeof message, format, args);
    if (g_ErrorCatch) return;
    Error_Show_Action(message, true);
    if (g_GameChanging) {
        RoomChangeCode = ROOM_CHANGE_GAME_END;
        return;
    }
    Platform_Exit(status);
}

}  // namespace

std::string Error_BuildText(const char* message, bool abort)
{
    const char* text = message ? message : "";
    const char* prefix = abort ? "FATAL " : "";

    int32_t action = event_action + 1;
    VMCodePosition position{};
    const bool inCode = VM_CurrentFrame && VM_FrameCodePositions(VM_CurrentFrame, &position, 1) == 1;
    char* lineName = nullptr;
    int32_t line = -1;
    const DebugLineEntry* entry = nullptr;
    if (inCode && position.debugTable) {
        entry = DebugInfo_FindEntry(position.debugTable, position.debugTableBytes, position.offset);
        line = DebugInfo_LineNumber(entry, position.source, &lineName);
        action = Error_ActionFromLineName(lineName, action);
    }

    std::string stack = kErrorRuleDash + "\n";
    for (StackTraceFrame* f = StackTrace_Current(); f; f = f->previous) {
        const char* name = f->codeName ? f->codeName : "";
        if (f->line < 0) ErrorText_Append(stack, "called from - %s\n", name);
        else ErrorText_Append(stack, "called from - %s (line %d)\n", name, f->line);
    }

    std::string header = prefix;
    if (event_type == -1) {
        header = g_ErrorShaderFragment ? "FATAL ERROR in Fragment Shader compilation\n\nShaderName: "
                                       : "FATAL ERROR in Vertex Shader compilation\n\nShaderName: ";
        ErrorText_Append(header, "%s%s\n\n\n%s\n", "", g_ErrorShaderName ? g_ErrorShaderName : "", text);
    } else if (event_type == 100000) {
        ErrorText_Append(header, "ERROR in\naction number %d\nat time step%d\nof time line %s:\n\n\n%s", action,
                         event_number, TimeLine_GetName(event_object), text);
    } else {
        std::string eventName = GetEventName(event_type, event_number);
        ErrorText_Append(header, "ERROR in\naction number %d\nof %s\nfor object %s:\n\n\n%s", action,
                         eventName.c_str(), Object_GetName(event_object), text);
    }
    if (header.size() > kErrorHeaderMax) header.resize(kErrorHeaderMax);

    std::string full = kErrorRuleHash + "\n" + header + "\n";
    if (inCode) {
        if (position.debugTable) {
            const char* name = lineName ? lineName : (position.codeName ? position.codeName : "");
            ErrorText_Append(full, " at %s (line %d) - %s\n", name, line, DebugInfo_SourceLine(entry, position.source));
        } else {
            ErrorText_Append(full, "at %s\n", position.codeName ? position.codeName : "");
        }
    }
    MemFree(lineName);
    full += kErrorRuleHash + "\n" + stack;
    return full;
}

void Error_Show_Action(const char* message, bool abort)
{
    if (g_ErrorQuitting) return;
    const std::string text = Error_BuildText(message, abort);
    if (!g_ErrorQuitting) Error_Show(text.c_str(), abort);
}

void Error_Show(const char* text, bool abort)
{
    KV_ASSERT(!Thread_IsEngineWorker());
    if (g_ErrorQuitting) return;
    if (!text) text = "";
    if (g_AbortOnError) abort = true;
    // The window is only made ready for a dialog that will be shown.
    if (!g_RunFlags.headless && g_ShowErrorDialogs) {
        Window_PrepareForDialog();
        const bool answer = Error_FormatDialogText(text, !abort);
        if (!abort) abort = answer;
    }
    IO_Clear();
    RefString* last = RefString::Create(text);
    RefString::ReleaseChecked(g_ErrorLastText);
    g_ErrorLastText = last;
    if (!g_ErrorCatch) ReleaseConsole->Output("ERROR!!! :: %s\n", text);
    g_ErrorOccurred = true;
    if (abort) {
        g_ErrorQuitting = true;
        RoomChangeCode = ROOM_CHANGE_GAME_CHANGE;
        Window_PostQuit();
    }
}

std::string Error_DialogText(const char* text)
{
    std::string out = "\r\n" + std::string(43, '_') + "\r\n";
    std::string line;
    for (const char* p = text ? text : ""; *p; ++p) {
        const char c = *p;
        if (c == '\t') {
            line.append(7, ' ');
        } else if (c == '\r' || c == '\n') {
            out += line;
            out += "\r\n";
            line.clear();
            if (p[1] == '\r' || p[1] == '\n') ++p;
        } else {
            line += c;
        }
    }
    out += line;
    return out;
}

bool Error_FormatDialogText(const char* text, bool canIgnore)
{
    Window_PrepareForDialog();
    const std::string shown = Error_DialogText(text);
    return ShowErrorDialog(shown.c_str(), canIgnore) == 1;
}

int ShowErrorDialog(const char* text, bool canIgnore)
{
    // The pauses let the window settle behind a dialog that a person will see.
    for (int round = 0; round < 2 && !Platform_DialogsSuppressed(); ++round) {
        Thread_Sleep(100);
        ProcessMessages();
    }
    return Platform_ErrorDialog(text, canIgnore);
}

void RuntimeError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Error_Report(1, nullptr, format, args);
    va_end(args);
}

void VMError(VMFrame* frame, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Error_Report(-1, frame, format, args);
    va_end(args);
}

const char* Error_LastText() { return g_ErrorLastText && g_ErrorLastText->text ? g_ErrorLastText->text : ""; }

void Error_ResetState()
{
    RefString::ReleaseChecked(g_ErrorLastText);
    g_ErrorLastText = nullptr;
    g_ErrorOccurred = g_ErrorQuitting = g_ErrorCatch = g_ErrorCaught = g_GameChanging = false;
    g_AbortOnError = false;
    g_ShowErrorDialogs = true;
    event_type = event_number = event_object = event_action = 0;
    g_ErrorShaderName = nullptr;
    g_ErrorShaderFragment = false;
}
