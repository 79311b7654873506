// The two legacy joysticks over SDL's joystick interface.
#pragma once
#include <cstdint>

// Axis values as the legacy interface gives them: 0 ... 65535, centre 32768; buttons 1-8 as bits 0-7.
struct LegacyJoystickState {
    int32_t x;
    int32_t y;
    uint32_t buttons;
};

// Joystick 0 or 1: false when there is no such device.
bool Platform_ReadLegacyJoystick(int32_t index, LegacyJoystickState* out);
// The message pump calls this for a device added or removed: the game rescans at its next joystick stage.
void Platform_JoystickDevicesChanged();
