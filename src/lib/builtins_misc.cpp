// Miscellaneous built-in functions.
#include "lib/builtins_misc.h"

#include "core/arguments.h"
#include "core/console.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "core/varnames.h"
#include "draw/draw.h"
#include "gfx/device.h"
#include "lib/lib.h"
#include "platform/clipboard.h"
#include "platform/error_dialog.h"
#include "platform/process_priority.h"
#include "platform/window_platform.h"
#include "platform/window_system_id.h"
#include "services/services.h"
#include "world/events.h"
#include "world/frame_timer.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/world_access.h"

#include <cstring>
#include <string>

void DebugMessage_Print(RValue* value)
{
    if (!ReleaseConsole) return;
    if (RValue_Kind(value) == VALUE_STRING) {
        ReleaseConsole->Output("%s\n", value->str && value->str->text ? value->str->text : "");
        return;
    }
    size_t capacity = 256;
    char* start = static_cast<char*>(MemAlloc(capacity));
    if (!start) return;
    start[0] = '\0';
    char* pos = start;
    RValue_AppendText(&pos, &start, &capacity, value);
    ReleaseConsole->Output("%s\n", start);
    MemFree(start);
}

void F_ShowDebugMessage(RValue*, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    // A call without its argument prints what a missing argument reads as.
    RValue missing;
    RValue_SetUndefined(&missing);
    DebugMessage_Print(argc >= 1 && args ? &args[0] : &missing);
}


namespace {

const RValue kMiscMissing = {{0.0}, 0, VALUE_UNDEFINED};

// The argument a handler passes on whole; a missing one is undefined.
RValue* Misc_Arg(RValue* args, int32_t argc, int32_t index)
{
    return args && index < argc ? &args[index] : const_cast<RValue*>(&kMiscMissing);
}

void Misc_Zero(RValue* result) { RValue_SetReal(result, 0.0); }

// ---- Events ----

void F_EventPerform(RValue* result, CInstance* self, CInstance* other, int32_t, RValue* args)
{
    Misc_Zero(result);
    const int32_t type = QZGI32(args, 0), number = QZGI32(args, 1);
    if (self) Perform_Event(self, other, type, number);
}

void F_EventUser(RValue* result, CInstance* self, CInstance* other, int32_t, RValue* args)
{
    Misc_Zero(result);
    const int64_t number = int64_t(QZGI32(args, 0)) + 10;  // user event n is other-event 10 + n
    if (self && number <= INT32_MAX) Perform_Event(self, other, 7, int32_t(number));
}

void F_EventPerformObject(RValue* result, CInstance* self, CInstance* other, int32_t, RValue* args)
{
    Misc_Zero(result);
    const int32_t object = QZGI32(args, 0), type = QZGI32(args, 1), number = QZGI32(args, 2);
    if (self) Perform_Event_Object(self, other, object, type, number);
}

void F_EventInherited(RValue* result, CInstance* self, CInstance* other, int32_t, RValue*)
{
    Misc_Zero(result);
    if (!self || !Object_Exists(event_object)) return;
    const int32_t parent = Object_GetParent(event_object);
    if (parent >= 0 && Object_Exists(parent)) Perform_Event_Object(self, other, parent, event_type, event_number);
}

// ---- External libraries ----

constexpr int32_t kMiscExternalMaxArgs = 16;

void Misc_Define(RValue* result, const char* dll, const char* name, int32_t callType, int32_t count,
                 const bool* isString, bool resultIsString)
{
    const int32_t index = DLL_Define(dll, name, callType, count, isString, resultIsString);
    if (index == -1) Error_Show_Action("Error defining an external function.", false);
    RValue_SetReal(result, index);
}

void F_ExternalDefine(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    if (argc < 5 || argc - 5 != QZGI32(args, 4)) {
        Error_Show_Action("Wrong number of arguments to external_define()", false);
        return;
    }
    const int32_t count = argc - 5;
    if (count > kMiscExternalMaxArgs) {
        Error_Show_Action("DLL functions can have at most 16 arguments", false);
        return;
    }
    bool isString[kMiscExternalMaxArgs] = {};
    for (int32_t i = 0; i < count; ++i) {
        const int32_t type = QZGI32(args, 5 + i);
        if (count > 4 && type != 0) {
            Error_Show_Action("DLL functions with more than 4 arguments cannot have string arguments", false);
            return;
        }
        isString[i] = type == 1;
    }
    Misc_Define(result, QZGS(args, 0), QZGS(args, 1), QZGI32(args, 2), count, isString, QZGI32(args, 3) == 1);
}

// external_define0 ... 4: dll, name, N argument types, result type.
template <int32_t N>
void F_ExternalDefineN(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    bool isString[kMiscExternalMaxArgs] = {};
    for (int32_t i = 0; i < N; ++i) isString[i] = QZGI32(args, 2 + i) == 1;
    Misc_Define(result, QZGS(args, 0), QZGS(args, 1), 0, N, isString, QZGI32(args, 2 + N) == 1);
}

// external_define5 ... 8: dll, name, result type; reals only.
template <int32_t N>
void F_ExternalDefineReals(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const bool isString[kMiscExternalMaxArgs] = {};
    Misc_Define(result, QZGS(args, 0), QZGS(args, 1), 0, N, isString, QZGI32(args, 2) == 1);
}

void F_ExternalCall(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    Misc_Zero(result);
    const int32_t index = QZGI32(args, 0);
    if (index < 0) {
        RValue_SetReal(result, -1.0);
        return;
    }
    const int32_t count = argc > 1 ? argc - 1 : 0;
    if (count > kMiscExternalMaxArgs) {
        Error_Show_Action("DLL functions can have at most 16 arguments", false);
        return;
    }
    DLL_Call(index, count, count ? args + 1 : nullptr, result);
}

// external_call0 ... 8: the block holds at least the registered N + 1 values.
template <int32_t N>
void F_ExternalCallN(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    Misc_Zero(result);
    const int32_t index = QZGI32(args, 0);
    DLL_Call(index, N, N ? args + 1 : nullptr, result);
}

void F_ExternalFree(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    Misc_Zero(result);
    if (const char* dll = QZGS(args, 0)) DLL_Free(dll);
}

// ---- Window and device ----

// Scripts get a number naming the device, never its address; a device keeps its number for the run.
int64_t Misc_DeviceToken(const void* device)
{
    static const void* known[8] = {};
    static int64_t count = 0;
    if (!device) return 0;
    for (int64_t i = 0; i < count; ++i)
        if (known[i] == device) return i + 1;
    if (count < 8) known[count++] = device;
    return count;
}

void F_WindowHandle(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    const uint64_t id = Platform_WindowSystemId(WindowPlatform_Get()->WindowId());
    RValue_SetPtr(result, reinterpret_cast<void*>(uintptr_t(id)));
}

void F_WindowDevice(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    RValue_SetPtr(result, reinterpret_cast<void*>(uintptr_t(Misc_DeviceToken(GR_Device))));
}

void F_SetApplicationTitle(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    Misc_Zero(result);
    const char* title = QZGS(args, 0);
    // Bytes that are no UTF-8 show as replacement characters; valid text passes unchanged.
    WindowPlatform_Get()->SetTitle(Platform_ValidUtf8(title).c_str());
}

// ---- Debug ----

void F_ShowDebugOverlay(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    Misc_Zero(result);
    if (QZGB(args, 0)) Debug_OverlayFlags |= 2;
    else Debug_OverlayFlags &= ~2;
}

void F_DebugEvent(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    Misc_Zero(result);
    const char* text = QZGS(args, 0);
    if (!text) return;
    MemoryManager::LogEvent("%s", text);
    if (std::strncmp(text, "DumpMemory", 6) == 0) MemoryManager::DumpTotal();
}

// ---- Process priority: nice values of the main thread for the levels -3 ... 3 ----

void F_SetProgramPriority(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    static constexpr int32_t kNice[7] = {19, 2, 1, 0, -1, -10, -20};
    Misc_Zero(result);
    const int32_t level = QZGI32(args, 0);
    // A refused change (raising priority needs privileges) leaves the thread as it was.
    Platform_SetThreadNice(level >= -3 && level <= 3 ? kNice[level + 3] : 0);
}

// ---- Variables by name ----

constexpr int32_t kMiscIndexLimit = 32000;

int32_t Misc_VariableId(RValue* args)
{
    const char* name = QZGS(args, 0);
    return name ? Code_Variable_FindAlloc(name) : -1;
}

// The packed index of the array forms (plain: no index); false after the error for one past 31999.
bool Misc_VariableIndex(RValue* args, int32_t dimensions, int32_t* packed)
{
    if (dimensions == 0) {
        *packed = ARRAY_INDEX_NONE;
        return true;
    }
    const int32_t i = QZGI32(args, 1);
    const int32_t j = dimensions == 2 ? QZGI32(args, 2) : 0;
    if (i >= kMiscIndexLimit || j >= kMiscIndexLimit) {
        Error_Show_Action("Array index >= 32000", false);
        return false;
    }
    // Negative indexes go on to the access operations; the packing wraps instead of overflowing.
    *packed = dimensions == 2 ? int32_t(uint32_t(int64_t(i) * kMiscIndexLimit + j)) : i;
    return true;
}

template <bool Global, int32_t Dimensions>
void F_VariableGet(RValue* result, CInstance* self, CInstance*, int32_t, RValue* args)
{
    RValue_SetUndefined(result);
    const int32_t id = Misc_VariableId(args);
    int32_t index = 0;
    if (id < 0 || !Misc_VariableIndex(args, Dimensions, &index)) return;
    if (Global) Variable_Global_Get(id, index, result);
    else if (self) Variable_GetValue_Direct(self, id, index, result);
}

template <bool Global, int32_t Dimensions>
void F_VariableSet(RValue* result, CInstance* self, CInstance*, int32_t argc, RValue* args)
{
    Misc_Zero(result);
    const int32_t id = Misc_VariableId(args);
    int32_t index = 0;
    if (id < 0 || !Misc_VariableIndex(args, Dimensions, &index)) return;
    RValue* value = Misc_Arg(args, argc, 1 + Dimensions);
    if (Global) Variable_Global_Set(id, index, value);
    else if (self) Variable_SetValue_Direct(self, id, index, value);
}

// Whether a read of the variable succeeds (a readable variable counts, assigned or not); the name gets an
// id either way.
template <bool Global>
void F_VariableExists(RValue* result, CInstance* self, CInstance*, int32_t, RValue* args)
{
    const int32_t id = Misc_VariableId(args);
    RValue value;
    RValue_SetUndefined(&value);
    bool read = false;
    if (id >= 0) read = Global ? Variable_Global_Get(id, ARRAY_INDEX_NONE, &value)
                               : self && Variable_GetValue_Direct(self, id, ARRAY_INDEX_NONE, &value);
    RValue_Free(&value);
    RValue_SetReal(result, read ? 1.0 : 0.0);
}

// ---- Alarms and game speed ----

void F_AlarmSet(RValue* result, CInstance* self, CInstance*, int32_t, RValue* args)
{
    Misc_Zero(result);
    const int32_t index = QZGI32(args, 0), steps = QZGI32(args, 1);
    if (self) self->SetAlarm(index, steps);
}

void F_AlarmGet(RValue* result, CInstance* self, CInstance*, int32_t, RValue* args)
{
    const int32_t index = QZGI32(args, 0);
    RValue_SetReal(result, self ? self->GetAlarm(index) : -1);
}

void F_GameSetSpeed(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    Misc_Zero(result);
    const double value = QZGR(args, 0);
    const int32_t type = QZGI32(args, 1);
    if (value < 0) {
        Error_Show("game_set_speed() - game time can't run backwards", false);
        return;
    }
    if (value == 0) FrameTimer_SetFPS(&g_GameTimer, 0);
    else if (type == 0) FrameTimer_SetFPS(&g_GameTimer, value);
    else if (type == 1) FrameTimer_SetFPS(&g_GameTimer, 1000000.0 / value);
}

// One argument is enough: the second is never read.
void F_GameGetSpeed(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const int32_t type = QZGI32(args, 0);
    if (!(g_GameTimer.fps > 0)) {
        Misc_Zero(result);
        return;
    }
    const double fps = FrameTimer_GetFPS(&g_GameTimer);
    RValue_SetReal(result, type == 0 ? fps : 1000000.0 / fps);
}

// ---- Clipboard ----

void F_ClipboardHasText(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    RValue_SetReal(result, Platform_ClipboardHasText() ? 1.0 : 0.0);
}

void F_ClipboardGetText(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    RValue_SetString(result, Platform_ClipboardGetText().c_str());
}

void F_ClipboardSetText(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    Misc_Zero(result);
    if (const char* text = QZGS(args, 0)) Platform_ClipboardSetText(text);
}

}  // namespace

void InitMiscFunctions()
{
    Function_Add("event_inherited", F_EventInherited, 0, false);
    Function_Add("event_perform", F_EventPerform, 2, false);
    Function_Add("event_user", F_EventUser, 1, false);
    Function_Add("event_perform_object", F_EventPerformObject, 3, false);
    // External calls exist only where they are allowed (not under -steam, header bit 12, a child game).
    if (!g_GameData.externalCallsForbidden) {
        Function_Add("external_define", F_ExternalDefine, -1, true);
        Function_Add("external_call", F_ExternalCall, -1, true);
        Function_Add("external_free", F_ExternalFree, 1, true);
        Function_Add("external_define0", F_ExternalDefineN<0>, 3, true);
        Function_Add("external_call0", F_ExternalCallN<0>, 1, true);
        Function_Add("external_define1", F_ExternalDefineN<1>, 4, true);
        Function_Add("external_call1", F_ExternalCallN<1>, 2, true);
        Function_Add("external_define2", F_ExternalDefineN<2>, 5, true);
        Function_Add("external_call2", F_ExternalCallN<2>, 3, true);
        Function_Add("external_define3", F_ExternalDefineN<3>, 6, true);
        Function_Add("external_call3", F_ExternalCallN<3>, 4, true);
        Function_Add("external_define4", F_ExternalDefineN<4>, 7, true);
        Function_Add("external_call4", F_ExternalCallN<4>, 5, true);
        Function_Add("external_define5", F_ExternalDefineReals<5>, 3, true);
        Function_Add("external_call5", F_ExternalCallN<5>, 6, true);
        Function_Add("external_define6", F_ExternalDefineReals<6>, 3, true);
        Function_Add("external_call6", F_ExternalCallN<6>, 7, true);
        Function_Add("external_define7", F_ExternalDefineReals<7>, 3, true);
        Function_Add("external_call7", F_ExternalCallN<7>, 8, true);
        Function_Add("external_define8", F_ExternalDefineReals<8>, 3, true);
        Function_Add("external_call8", F_ExternalCallN<8>, 9, true);
    }
    Function_Add("window_handle", F_WindowHandle, 0, false);
    Function_Add("window_device", F_WindowDevice, 0, false);
    Function_Add("show_debug_message", F_ShowDebugMessage, 1, false);
    Function_Add("show_debug_overlay", F_ShowDebugOverlay, 1, false);
    Function_Add("debug_event", F_DebugEvent, 1, false);
    Function_Add("set_program_priority", F_SetProgramPriority, 1, false);
    Function_Add("set_application_title", F_SetApplicationTitle, 1, false);
    Function_Add("alarm_set", F_AlarmSet, 2, false);
    Function_Add("alarm_get", F_AlarmGet, 1, false);
    Function_Add("variable_global_exists", F_VariableExists<true>, 1, false);
    Function_Add("variable_global_get", F_VariableGet<true, 0>, 1, false);
    Function_Add("variable_global_array_get", F_VariableGet<true, 1>, 2, false);
    Function_Add("variable_global_array2_get", F_VariableGet<true, 2>, 3, false);
    Function_Add("variable_global_set", F_VariableSet<true, 0>, 2, false);
    Function_Add("variable_global_array_set", F_VariableSet<true, 1>, 3, false);
    Function_Add("variable_global_array2_set", F_VariableSet<true, 2>, 4, false);
    Function_Add("variable_local_exists", F_VariableExists<false>, 1, false);
    Function_Add("variable_local_get", F_VariableGet<false, 0>, 1, false);
    Function_Add("variable_local_array_get", F_VariableGet<false, 1>, 2, false);
    Function_Add("variable_local_array2_get", F_VariableGet<false, 2>, 3, false);
    Function_Add("variable_local_set", F_VariableSet<false, 0>, 2, false);
    Function_Add("variable_local_array_set", F_VariableSet<false, 1>, 3, false);
    Function_Add("variable_local_array2_set", F_VariableSet<false, 2>, 4, false);
    Function_Add("clipboard_has_text", F_ClipboardHasText, 0, false);
    Function_Add("clipboard_set_text", F_ClipboardSetText, 1, false);
    Function_Add("clipboard_get_text", F_ClipboardGetText, 0, false);
    Date_RegisterFunctions();
    Function_Add("game_set_speed", F_GameSetSpeed, 2, true);
    Function_Add("game_get_speed", F_GameGetSpeed, 2, true);
}
