// What later work builds: gamepads, virtual keys and the interaction built-ins. Until then these do nothing
// but are seen by the seam trace.
#include "input/input.h"
#include "input/builtins_input.h"
#include "platform/joystick.h"

#include "core/seam_trace.h"
#include "core/timing.h"
#include "platform/hooks.h"
#include "world/loader.h"

uint32_t JoystickMask = 0;
void* ModelessDialogWindow = nullptr;

void IO_ClearVirtualKeys() { SeamTrace_Record("IO_ClearVirtualKeys"); }
void IO_DrawVirtualKeys() { SeamTrace_Record("IO_DrawVirtualKeys"); }
void IO_LoadVirtualButtons(IniFile*) { SeamTrace_Record("IO_LoadVirtualButtons"); }
void IO_UpdateVirtualKeys() {}
void IO_SaveVirtualKeys(IBuffer*) { SeamTrace_Record("IO_SaveVirtualKeys"); }
bool IO_LoadVirtualKeys(IBuffer*)
{
    SeamTrace_Record("IO_LoadVirtualKeys");
    return true;
}

void Gamepad_Update() {}
void Gamepad_Shutdown() { SeamTrace_Record("Gamepad_Shutdown"); }

namespace {
bool Joystick_DeviceReader(int32_t index, JoystickReading* out)
{
    LegacyJoystickState state{};
    if (!Platform_ReadLegacyJoystick(index, &state)) return false;
    *out = {state.x, state.y, state.buttons};
    return true;
}
JoystickReader g_joystickReader = Joystick_DeviceReader;
}  // namespace

void Joystick_SetReader(JoystickReader reader) { g_joystickReader = reader ? reader : Joystick_DeviceReader; }

bool Joystick_Read(int32_t index, JoystickReading* out) { return out && g_joystickReader(index, out); }

void ReadJoystick()
{
    JoystickReading reading{};
    JoystickMask &= ~3u;
    if (Joystick_Read(0, &reading)) JoystickMask |= 1u;
    if (Joystick_Read(1, &reading)) JoystickMask |= 2u;
}
void Gamepad_Rediscover() { SeamTrace_Record("Gamepad_Rediscover"); }
void XInput_DetectPads() { SeamTrace_Record("XInput_DetectPads"); }
void DirectInput_DetectPads() { SeamTrace_Record("DirectInput_DetectPads"); }
void DirectInput_Init() { SeamTrace_Record("DirectInput_Init"); }

// The loader owns the display name once the game header is read; until then the default stands.
const char* Game_DisplayName()
{
    return g_GameData.displayName ? g_GameData.displayName : "Made with Kelvane: Studio";
}

void Timing_Sleep(int64_t microseconds) { FrameSleep(microseconds); }

void InitInteractionFunctions()
{
    SeamTrace_Record("InitInteractionFunctions");
    InputBuiltins_Register();
}
void InitGamepadFunctions() { SeamTrace_Record("InitGamepadFunctions"); }
