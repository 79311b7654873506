// The input built-ins that reach past the latched state to the desktop (NumLock, made-up keys, the live key
// state, the legacy joysticks, blocking waits) and the mouse-button queries over the latched state.
#pragma once
#include <cstdint>

// Registers the keyboard, mouse and joystick built-ins (from InitInteractionFunctions); the joystick names
// only for games whose header's major version is below 2.
void InputBuiltins_Register();
// Registers the device_mouse_* built-ins, each also under its prefixed name (from InitServiceFunctions).
void InputBuiltins_RegisterDeviceMouse();

enum MouseButtonByte { MOUSE_BYTE_DOWN, MOUSE_BYTE_PRESSED, MOUSE_BYTE_RELEASED };
// The button test: -1 any of buttons 1..3 has the byte, 0 none has, 1..3 that button's byte, else false.
bool Input_MouseButtonTest(int32_t device, int32_t button, MouseButtonByte which);
