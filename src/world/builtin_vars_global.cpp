// The global built-in variables: the running script's arguments, value constants, the game and its
// folders, input, the clock, the event being performed and the last error; and the registry that gives
// every built-in variable its id, in a fixed order.
#include <cstring>
#include <ctime>

#include "core/error.h"
#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "core/text.h"
#include "core/timing.h"
#include "core/value.h"
#include "core/variables.h"
#include "draw/draw.h"
#include "gfx/window.h"
#include "input/input.h"
#include "lib/lib.h"
#include "lib/temp_directory.h"
#include "services/services.h"
#include "world/builtin_variables.h"
#include "world/builtin_vars.h"
#include "world/loader.h"
#include "world/mainloop.h"
#include "world/paths.h"
#include "world/run_state.h"

namespace {

constexpr int32_t kArgumentSlots = 16;

// Getters that may hand out strings or arrays release what the out value holds first.
bool GV_OutFresh(RValue* out)
{
    RValue_Free(out);
    return true;
}

// ---- arguments ----

bool GV_GetArgumentRelative(CInstance*, int32_t, RValue* out) { return BV_Out(out, g_ActionRelative ? 1.0 : 0.0); }

bool GV_GetArgument(CInstance*, int32_t index, RValue* out)
{
    GV_OutFresh(out);
    // The whole-value index is negative, so an unindexed read is outside the arguments too.
    if (index < 0 || index >= VM_ArgCount || !VM_Args) {
        Error_Show_Action("illegal access of argument, argument is not provided to script", true);
        return true;  // reported; the read yields undefined
    }
    RValue_Copy(out, &VM_Args[index]);
    return true;
}
bool GV_SetArgument(CInstance*, int32_t index, RValue* value)
{
    const int32_t slot = BV_Index(index, kArgumentSlots);
    // The caller's array holds only the arguments it passed: a write past them goes nowhere.
    if (slot < VM_ArgCount && VM_Args) RValue_Copy(&VM_Args[slot], value);
    return true;
}

template <int32_t N>
bool GV_GetArgumentN(CInstance*, int32_t index, RValue* out)
{
    GV_OutFresh(out);
    if (VM_ArgCount <= N || !VM_Args) return true;  // undefined
    RValue_ArrayGet(out, &VM_Args[N], index);
    return true;
}
template <int32_t N>
bool GV_SetArgumentN(CInstance*, int32_t index, RValue* value)
{
    if (N < VM_ArgCount && VM_Args) RValue_SetWithIndex(&VM_Args[N], value, index);
    return true;
}

bool GV_GetArgumentCount(CInstance*, int32_t, RValue* out) { return GV_OutFresh(out) && BV_Out(out, VM_ArgCount); }
bool GV_GetDebugMode(CInstance*, int32_t, RValue* out)
{
    return GV_OutFresh(out) && BV_Out(out, g_GameData.debugMode ? 1.0 : 0.0);
}
bool GV_GetPointerInvalid(CInstance*, int32_t, RValue* out)
{
    GV_OutFresh(out);
    RValue_SetPtr(out, nullptr);
    out->v64 = -1;
    return true;
}
bool GV_GetPointerNull(CInstance*, int32_t, RValue* out)
{
    GV_OutFresh(out);
    RValue_SetPtr(out, nullptr);
    return true;
}
bool GV_GetUndefined(CInstance*, int32_t, RValue* out) { return GV_OutFresh(out); }
bool GV_GetNull(CInstance*, int32_t, RValue* out)
{
    GV_OutFresh(out);
    out->kind = VALUE_NULL;
    return true;
}

// ---- the game and its folders ----

bool GV_GetGameId(CInstance*, int32_t, RValue* out) { return BV_Out(out, g_GameData.gameId); }
bool GV_GetGameGuid(CInstance*, int32_t, RValue* out) { return BV_OutString(out, nullptr); }
bool GV_GetDisplayName(CInstance*, int32_t, RValue* out)
{
    return BV_OutString(out, g_GameData.displayName ? g_GameData.displayName : "Made with Kelvane: Studio");
}
bool GV_GetProjectName(CInstance*, int32_t, RValue* out) { return BV_OutString(out, g_ProjectName ? g_ProjectName : ""); }
bool GV_GetSaveId(CInstance*, int32_t, RValue* out) { return BV_OutString(out, GetSavePrePend()); }
bool GV_GetWorkingDirectory(CInstance*, int32_t, RValue* out)
{
    return BV_OutString(out, g_WorkingDirectory ? g_WorkingDirectory : "");
}
bool GV_GetTempDirectory(CInstance*, int32_t, RValue* out)
{
    char* text = TempDirectory_Get();
    BV_OutString(out, text ? text : "");
    MemFree(text);
    return true;
}
bool GV_GetProgramDirectory(CInstance*, int32_t, RValue* out)
{
    const char* folder = GetExecutableDirectory();
    size_t n = folder ? std::strlen(folder) : 0;
    while (n > 1 && (folder[n - 1] == '/' || folder[n - 1] == '\\')) --n;
    char* text = static_cast<char*>(MemAlloc(n + 1));
    if (n) std::memcpy(text, folder, n);
    text[n] = '\0';
    BV_OutString(out, text);
    MemFree(text);
    return true;
}

// ---- mouse and keyboard ----

bool GV_GetMouseX(CInstance*, int32_t, RValue* out) { return BV_Out(out, Window_GetDeviceMouseX(0)); }
bool GV_GetMouseY(CInstance*, int32_t, RValue* out) { return BV_Out(out, Window_GetDeviceMouseY(0)); }
bool GV_GetMouseButton(CInstance*, int32_t, RValue* out) { return BV_Out(out, IO_MouseButton(0)); }
bool GV_SetMouseButton(CInstance*, int32_t, RValue* value)
{
    IO_SetMouseButton(BV_Int(value), 0);
    return true;
}
bool GV_GetMouseLastButton(CInstance*, int32_t, RValue* out) { return BV_Out(out, IO_MouseLastButton(0)); }
bool GV_SetMouseLastButton(CInstance*, int32_t, RValue* value)
{
    IO_SetMouseLastButton(BV_Int(value), 0);
    return true;
}
bool GV_GetKey(CInstance*, int32_t, RValue* out) { return BV_Out(out, IO_GetCurrentKey()); }
bool GV_SetKey(CInstance*, int32_t, RValue* value)
{
    IO_SetCurrentKey(BV_Int(value));
    return true;
}
bool GV_GetLastKey(CInstance*, int32_t, RValue* out) { return BV_Out(out, IO_GetLastKey()); }
bool GV_SetLastKey(CInstance*, int32_t, RValue* value)
{
    IO_SetLastKey(BV_Int(value));
    return true;
}
bool GV_GetLastChar(CInstance*, int32_t, RValue* out)
{
    char text[4] = {};
    char* cursor = text;
    const uint16_t code = IO_GetLastChar();
    if (code != 0) UTF8_PutChar(&cursor, code);
    return BV_OutString(out, text);
}
bool GV_SetLastChar(CInstance*, int32_t, RValue* value)
{
    // The first character, decoded: a byte of a multi-byte character is not a character.
    const char* text = BV_Text(value);
    if (text && *text) IO_SetLastChar(UTF8_DecodeChar(text));
    return true;
}
bool GV_GetKeyboardString(CInstance*, int32_t, RValue* out) { return BV_OutString(out, IO_GetKeyboardString()); }
bool GV_SetKeyboardString(CInstance*, int32_t, RValue* value)
{
    IO_SetKeyboardString(BV_Text(value));
    return true;
}
bool GV_GetCursorSprite(CInstance*, int32_t, RValue* out) { return BV_Out(out, g_CursorSprite); }
bool GV_SetCursorSprite(CInstance*, int32_t, RValue* value)
{
    g_CursorSprite = BV_Int(value);
    return true;
}

// ---- time and frame ----

bool GV_GetFps(CInstance*, int32_t, RValue* out) { return BV_Out(out, MainLoop_Fps); }
bool GV_GetFpsReal(CInstance*, int32_t, RValue* out) { return BV_Out(out, Debug_Fps); }
bool GV_GetCurrentTime(CInstance*, int32_t, RValue* out) { return BV_Out(out, double(Timing_Time() / 1000)); }

enum class GV_Date { Year, Month, Day, Weekday, Hour, Minute, Second };
template <GV_Date F>
bool GV_GetDate(CInstance*, int32_t, RValue* out)
{
    const struct tm* now = Date_Now();
    if (!now) return BV_Out(out, 0.0);
    switch (F) {
    case GV_Date::Year: return BV_Out(out, now->tm_year + 1900);
    case GV_Date::Month: return BV_Out(out, now->tm_mon + 1);
    case GV_Date::Day: return BV_Out(out, now->tm_mday);
    case GV_Date::Weekday: return BV_Out(out, now->tm_wday);
    case GV_Date::Hour: return BV_Out(out, now->tm_hour);
    case GV_Date::Minute: return BV_Out(out, now->tm_min);
    case GV_Date::Second: return BV_Out(out, now->tm_sec);
    }
    return BV_Out(out, 0.0);
}

// ---- the event, the last error and owned values ----

template <int32_t* Global>
bool GV_GetInt(CInstance*, int32_t, RValue* out)
{
    return BV_Out(out, *Global);
}
bool GV_GetZero(CInstance*, int32_t, RValue* out) { return BV_Out(out, 0.0); }
bool GV_GetErrorOccurred(CInstance*, int32_t, RValue* out) { return BV_Out(out, g_ErrorOccurred ? 1.0 : 0.0); }
bool GV_SetErrorOccurred(CInstance*, int32_t, RValue* value)
{
    g_ErrorOccurred = BV_Rule3(value);
    return true;
}
bool GV_GetErrorLast(CInstance*, int32_t, RValue* out) { return BV_OutShared(out, g_ErrorLastText); }
bool GV_SetErrorLast(CInstance*, int32_t, RValue* value) { return BV_TakeShared(&g_ErrorLastText, value); }
bool GV_GetApplicationSurface(CInstance*, int32_t, RValue* out) { return BV_Out(out, AppSurface_Id); }

// The global variables in registration order; "@room" marks where the room file's entries go.

#define GV_ARGUMENT(n) {"argument" #n, GV_GetArgumentN<n>, GV_SetArgumentN<n>}
const BV_Entry kGlobalVariables[] = {
    {"argument_relative", GV_GetArgumentRelative, nullptr},
    {"argument", GV_GetArgument, GV_SetArgument},
    GV_ARGUMENT(0), GV_ARGUMENT(1), GV_ARGUMENT(2), GV_ARGUMENT(3), GV_ARGUMENT(4), GV_ARGUMENT(5),
    GV_ARGUMENT(6), GV_ARGUMENT(7), GV_ARGUMENT(8), GV_ARGUMENT(9), GV_ARGUMENT(10), GV_ARGUMENT(11),
    GV_ARGUMENT(12), GV_ARGUMENT(13), GV_ARGUMENT(14), GV_ARGUMENT(15),
    {"argument_count", GV_GetArgumentCount, nullptr},
    {"debug_mode", GV_GetDebugMode, nullptr},
    {"pointer_invalid", GV_GetPointerInvalid, nullptr},
    {"pointer_null", GV_GetPointerNull, nullptr},
    {"undefined", GV_GetUndefined, nullptr},
    {"null", GV_GetNull, nullptr},
    {"@room", nullptr, nullptr},  // room ... health
    {"game_id", GV_GetGameId, nullptr},
    {"game_guid", GV_GetGameGuid, nullptr},
    {"game_display_name", GV_GetDisplayName, nullptr},
    {"game_project_name", GV_GetProjectName, nullptr},
    {"game_save_id", GV_GetSaveId, nullptr},
    {"working_directory", GV_GetWorkingDirectory, nullptr},
    {"temp_directory", GV_GetTempDirectory, nullptr},
    {"program_directory", GV_GetProgramDirectory, nullptr},
    {"@room", nullptr, nullptr},  // instance_count ... view_camera
    {"mouse_x", GV_GetMouseX, nullptr},
    {"mouse_y", GV_GetMouseY, nullptr},
    {"mouse_button", GV_GetMouseButton, GV_SetMouseButton},
    {"mouse_lastbutton", GV_GetMouseLastButton, GV_SetMouseLastButton},
    {"keyboard_key", GV_GetKey, GV_SetKey},
    {"keyboard_lastkey", GV_GetLastKey, GV_SetLastKey},
    {"keyboard_lastchar", GV_GetLastChar, GV_SetLastChar},
    {"keyboard_string", GV_GetKeyboardString, GV_SetKeyboardString},
    {"cursor_sprite", GV_GetCursorSprite, GV_SetCursorSprite},
    {"@room", nullptr, nullptr},  // show_score ... caption_health
    {"fps", GV_GetFps, nullptr},
    {"fps_real", GV_GetFpsReal, nullptr},
    {"current_time", GV_GetCurrentTime, nullptr},
    {"current_year", GV_GetDate<GV_Date::Year>, nullptr},
    {"current_month", GV_GetDate<GV_Date::Month>, nullptr},
    {"current_day", GV_GetDate<GV_Date::Day>, nullptr},
    {"current_weekday", GV_GetDate<GV_Date::Weekday>, nullptr},
    {"current_hour", GV_GetDate<GV_Date::Hour>, nullptr},
    {"current_minute", GV_GetDate<GV_Date::Minute>, nullptr},
    {"current_second", GV_GetDate<GV_Date::Second>, nullptr},
    {"event_type", GV_GetInt<&event_type>, nullptr},
    {"event_number", GV_GetInt<&event_number>, nullptr},
    {"event_object", GV_GetInt<&event_object>, nullptr},
    {"event_action", GV_GetZero, nullptr},
    {"secure_mode", GV_GetZero, nullptr},
    {"error_occurred", GV_GetErrorOccurred, GV_SetErrorOccurred},
    {"error_last", GV_GetErrorLast, GV_SetErrorLast},
    {"application_surface", GV_GetApplicationSurface, nullptr},
};
#undef GV_ARGUMENT

// Where each run of the room file's entries ends (they are registered in three runs).
constexpr const char* kRoomRunEnds[] = {"health", "view_camera", "caption_health"};

}  // namespace

void InitGlobalVariables()
{
    int32_t room = 0, run = 0;
    for (const BV_Entry& slot : kGlobalVariables) {
        if (slot.getter) {
            Variable_BuiltIn_Add(slot.name, slot.getter, slot.setter);
            continue;
        }
        while (room < BV_RoomEntryCount) {
            const BV_Entry& e = BV_RoomEntries[room++];
            Variable_BuiltIn_Add(e.name, e.getter, e.setter);
            if (std::strcmp(e.name, kRoomRunEnds[run]) == 0) break;
        }
        ++run;
    }
    InitOSVariables();
}

void InitVariables()
{
    Variable_BuiltIn_Free();
    InitInstanceVariables();
    InitGlobalVariables();
}
