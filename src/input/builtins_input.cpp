// Keyboard, mouse and legacy-joystick built-ins.
#include "input/builtins_input.h"

#include "core/arguments.h"
#include "core/functions.h"
#include "core/value.h"
#include "gfx/window.h"
#include "input/input.h"
#include "platform/joystick.h"
#include "platform/keyboard_platform.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "world/loader.h"
#include "world/run_state.h"

namespace {

constexpr int64_t kInputWaitMicroseconds = 50000;

bool Input_MouseByte(int32_t button, int32_t device, MouseButtonByte which)
{
    switch (which) {
    case MOUSE_BYTE_DOWN: return IO_MouseDown(button, device);
    case MOUSE_BYTE_PRESSED: return IO_MousePressed(button, device);
    case MOUSE_BYTE_RELEASED: return IO_MouseReleased(button, device);
    }
    return false;
}

void Input_SetBool(RValue* result, bool value) { RValue_SetReal(result, value ? 1.0 : 0.0); }

// ---- keyboard -----------------------------------------------------------------------------------------

void F_KeyboardGetNumlock(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    Input_SetBool(result, Platform_GetNumLock());
}

void F_KeyboardSetNumlock(RValue*, CInstance*, CInstance*, int32_t, RValue* args)
{
    if (QZGB(args, 0) != Platform_GetNumLock()) Platform_ToggleNumLock();
}

void F_KeyboardKeyPress(RValue*, CInstance*, CInstance*, int32_t, RValue* args)
{
    Platform_SendKey(QZGI32(args, 0), true);
}

void F_KeyboardKeyRelease(RValue*, CInstance*, CInstance*, int32_t, RValue* args)
{
    Platform_SendKey(QZGI32(args, 0), false);
}

void F_KeyboardCheckDirect(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    Input_SetBool(result, Platform_KeyHeldDirect(QZGI32(args, 0)));
}

// The waits pump the window's messages until the window side sees a key or button go down (pending() is
// not 0). A quit ends them too, and without video nothing could ever arrive, so neither can hang the game.
void Input_WaitFor(int32_t (*pending)())
{
    const bool wasRunning = g_Running;
    ProcessMessages();
    while (pending() == 0 && Platform_VideoStarted() && (g_Running || !wasRunning)) {
        Timing_Sleep(kInputWaitMicroseconds);
        ProcessMessages();
    }
}

void F_KeyboardWait(RValue*, CInstance*, CInstance*, int32_t, RValue*)
{
    IO_SetLastKey(0);
    Input_WaitFor(IO_PendingLastKey);
}

void F_MouseWait(RValue*, CInstance*, CInstance*, int32_t, RValue*)
{
    IO_ClearLastButton();
    Input_WaitFor(IO_PendingLastButton);
}

// ---- mouse --------------------------------------------------------------------------------------------

void F_MouseCheckButton(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    Input_SetBool(result, Input_MouseButtonTest(0, QZGI32(args, 0), MOUSE_BYTE_DOWN));
}

void F_MouseCheckButtonPressed(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    Input_SetBool(result, Input_MouseButtonTest(0, QZGI32(args, 0), MOUSE_BYTE_PRESSED));
}

void F_MouseCheckButtonReleased(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    Input_SetBool(result, Input_MouseButtonTest(0, QZGI32(args, 0), MOUSE_BYTE_RELEASED));
}

void F_DeviceMouseCheckButton(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    Input_SetBool(result, Input_MouseButtonTest(QZGI32(args, 0), QZGI32(args, 1), MOUSE_BYTE_DOWN));
}

void F_DeviceMouseCheckButtonPressed(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    Input_SetBool(result, Input_MouseButtonTest(QZGI32(args, 0), QZGI32(args, 1), MOUSE_BYTE_PRESSED));
}

void F_DeviceMouseCheckButtonReleased(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    Input_SetBool(result, Input_MouseButtonTest(QZGI32(args, 0), QZGI32(args, 1), MOUSE_BYTE_RELEASED));
}

void F_DeviceMouseX(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, Window_GetDeviceMouseX(QZGI32(args, 0)));
}

void F_DeviceMouseY(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, Window_GetDeviceMouseY(QZGI32(args, 0)));
}

// ---- legacy joysticks ---------------------------------------------------------------------------------

// Id 2 is the second joystick; every other id the first.
int32_t Input_JoystickIndex(RValue* args) { return QZGI32(args, 0) == 2 ? 1 : 0; }

bool Input_ReadJoystick(RValue* args, LegacyJoystickState* state)
{
    *state = {};
    return Platform_ReadLegacyJoystick(Input_JoystickIndex(args), state);
}

void F_JoystickExists(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    LegacyJoystickState state;
    Input_SetBool(result, Input_ReadJoystick(args, &state));
}

void F_JoystickDirection(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    LegacyJoystickState state;
    if (!Input_ReadJoystick(args, &state)) {
        RValue_SetReal(result, 101);
        return;
    }
    const int32_t row = state.y < 20000 ? 6 : state.y < 44001 ? 3 : 0;
    const int32_t column = state.x < 20000 ? 97 : state.x < 44001 ? 98 : 99;
    RValue_SetReal(result, column + row);
}

void F_JoystickName(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    LegacyJoystickInfo info;
    RValue_SetString(result, Platform_LegacyJoystickInfo(Input_JoystickIndex(args), &info) ? info.name.c_str() : "");
}

void F_JoystickAxes(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    LegacyJoystickInfo info;
    RValue_SetReal(result, Platform_LegacyJoystickInfo(Input_JoystickIndex(args), &info) ? info.axes : 0);
}

void F_JoystickButtons(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    LegacyJoystickInfo info;
    RValue_SetReal(result, Platform_LegacyJoystickInfo(Input_JoystickIndex(args), &info) ? info.buttons : 0);
}

void F_JoystickHasPov(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    LegacyJoystickInfo info;
    Input_SetBool(result, Platform_LegacyJoystickInfo(Input_JoystickIndex(args), &info) && info.capabilities != 0);
}

void F_JoystickCheckButton(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    LegacyJoystickState state;
    const bool read = Input_ReadJoystick(args, &state);
    const int32_t button = QZGI32(args, 1);
    Input_SetBool(result, read && button >= 1 && button <= 32 && (state.buttons >> (button - 1) & 1u));
}

// One axis of the reading, 0 ... 65535 mapped to -1 ... 1.
template <int32_t LegacyJoystickState::*Axis>
void F_JoystickPos(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    LegacyJoystickState state;
    RValue_SetReal(result, Input_ReadJoystick(args, &state) ? state.*Axis / 32767.0 - 1.0 : 0.0);
}

void F_JoystickPov(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    LegacyJoystickState state;
    double degrees = -1.0;
    if (Input_ReadJoystick(args, &state) && state.pov / 100.0 <= 360.0) degrees = state.pov / 100.0;
    RValue_SetReal(result, degrees);
}

}  // namespace

bool Input_MouseButtonTest(int32_t device, int32_t button, MouseButtonByte which)
{
    if (button == -1 || button == 0) {
        bool any = false;
        for (int32_t b = 1; b <= 3; ++b) any = any || Input_MouseByte(b, device, which);
        return button == -1 ? any : !any;
    }
    return Input_MouseByte(button, device, which);
}

void InputBuiltins_Register()
{
    Function_Add("keyboard_get_numlock", F_KeyboardGetNumlock, 0, false);
    Function_Add("keyboard_set_numlock", F_KeyboardSetNumlock, 1, false);
    Function_Add("keyboard_key_press", F_KeyboardKeyPress, 1, false);
    Function_Add("keyboard_key_release", F_KeyboardKeyRelease, 1, false);
    Function_Add("keyboard_check_direct", F_KeyboardCheckDirect, 1, false);
    Function_Add("keyboard_wait", F_KeyboardWait, 0, false);
    Function_Add("mouse_check_button", F_MouseCheckButton, 1, false);
    Function_Add("mouse_check_button_pressed", F_MouseCheckButtonPressed, 1, false);
    Function_Add("mouse_check_button_released", F_MouseCheckButtonReleased, 1, false);
    Function_Add("mouse_wait", F_MouseWait, 0, false);
    if (g_GameData.majorVersion >= 2) return;
    Function_Add("joystick_exists", F_JoystickExists, 1, false);
    Function_Add("joystick_direction", F_JoystickDirection, 1, false);
    Function_Add("joystick_name", F_JoystickName, 1, false);
    Function_Add("joystick_axes", F_JoystickAxes, 1, false);
    Function_Add("joystick_buttons", F_JoystickButtons, 1, false);
    Function_Add("joystick_has_pov", F_JoystickHasPov, 1, false);
    Function_Add("joystick_check_button", F_JoystickCheckButton, 2, false);
    Function_Add("joystick_xpos", F_JoystickPos<&LegacyJoystickState::x>, 1, false);
    Function_Add("joystick_ypos", F_JoystickPos<&LegacyJoystickState::y>, 1, false);
    Function_Add("joystick_zpos", F_JoystickPos<&LegacyJoystickState::z>, 1, false);
    Function_Add("joystick_rpos", F_JoystickPos<&LegacyJoystickState::r>, 1, false);
    Function_Add("joystick_upos", F_JoystickPos<&LegacyJoystickState::u>, 1, false);
    Function_Add("joystick_vpos", F_JoystickPos<&LegacyJoystickState::v>, 1, false);
    Function_Add("joystick_pov", F_JoystickPov, 1, false);
}

void InputBuiltins_RegisterDeviceMouse()
{
    struct Pair {
        const char* name;
        const char* prefixed;
        TRoutine handler;
        int32_t argumentCount;
    };
    static constexpr Pair kPairs[] = {
        {"device_mouse_check_button", "Tarko_MouseCheckButton", F_DeviceMouseCheckButton, 2},
        {"device_mouse_check_button_pressed", "Tarko_MouseCheckButtonPressed", F_DeviceMouseCheckButtonPressed, 2},
        {"device_mouse_check_button_released", "Tarko_MouseCheckButtonReleased", F_DeviceMouseCheckButtonReleased, 2},
        {"device_mouse_x", "Tarko_MouseX", F_DeviceMouseX, 1},
        {"device_mouse_y", "Tarko_MouseY", F_DeviceMouseY, 1},
    };
    for (const Pair& pair : kPairs) {
        Function_Add(pair.name, pair.handler, pair.argumentCount, false);
        Function_Add(pair.prefixed, pair.handler, pair.argumentCount, false);
    }
}
