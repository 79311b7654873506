// The two legacy joysticks over SDL's joystick interface.
#pragma once
#include <cstdint>
#include <string>

// Axis values as the legacy interface gives them: 0 ... 65535, centre 32768 (SDL's value + 32768). The hat
// in hundredths of a degree clockwise from up, 65535 when centred or absent; buttons 1-32 as bits 0-31.
struct LegacyJoystickState {
    int32_t x;
    int32_t y;
    uint32_t buttons;
    int32_t z;
    int32_t r;
    int32_t u;
    int32_t v;
    uint32_t pov;
};

// Bits of the capability word.
constexpr uint32_t LEGACY_JOYSTICK_HAS_Z = 0x01;
constexpr uint32_t LEGACY_JOYSTICK_HAS_R = 0x02;
constexpr uint32_t LEGACY_JOYSTICK_HAS_U = 0x04;
constexpr uint32_t LEGACY_JOYSTICK_HAS_V = 0x08;
constexpr uint32_t LEGACY_JOYSTICK_HAS_POV = 0x10;
constexpr uint32_t LEGACY_JOYSTICK_POV_DEGREES = 0x40;  // the hat reports angles, not four directions

struct LegacyJoystickInfo {
    std::string name;
    int32_t axes;
    int32_t buttons;
    uint32_t capabilities;
};

// Starts SDL's joystick subsystem (start-up), so devices and their events are there from the first step.
bool Platform_StartJoysticks();
// Joystick 0 or 1: false when there is no such device.
bool Platform_ReadLegacyJoystick(int32_t index, LegacyJoystickState* out);
bool Platform_LegacyJoystickInfo(int32_t index, LegacyJoystickInfo* out);
// The message pump calls this for a device added or removed: the game rescans at its next joystick stage.
void Platform_JoystickDevicesChanged();
