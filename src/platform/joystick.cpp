#include "platform/joystick.h"

#include <SDL.h>

#include "input/input.h"

namespace {

constexpr int kLegacyJoystickButtons = 32;

SDL_Joystick* g_legacyJoysticks[2] = {nullptr, nullptr};

// The open device at that index now; a slot whose device went away or moved to another index is closed.
SDL_Joystick* Joystick_Open(int32_t index)
{
    if (SDL_WasInit(SDL_INIT_JOYSTICK) == 0) return nullptr;
    SDL_JoystickUpdate();  // also notices devices that came or went
    SDL_Joystick*& slot = g_legacyJoysticks[index];
    const bool present = index < SDL_NumJoysticks();
    if (slot && (!SDL_JoystickGetAttached(slot) || !present ||
                 SDL_JoystickInstanceID(slot) != SDL_JoystickGetDeviceInstanceID(index))) {
        SDL_JoystickClose(slot);
        slot = nullptr;
    }
    if (!slot && present) slot = SDL_JoystickOpen(index);
    return slot;
}

int32_t Joystick_Axis(SDL_Joystick* joystick, int axis)
{
    return axis < SDL_JoystickNumAxes(joystick) ? int32_t(SDL_JoystickGetAxis(joystick, axis)) + 32768 : 32768;
}

uint32_t Joystick_Pov(SDL_Joystick* joystick)
{
    if (SDL_JoystickNumHats(joystick) < 1) return 65535;
    switch (SDL_JoystickGetHat(joystick, 0)) {
    case SDL_HAT_UP: return 0;
    case SDL_HAT_RIGHTUP: return 4500;
    case SDL_HAT_RIGHT: return 9000;
    case SDL_HAT_RIGHTDOWN: return 13500;
    case SDL_HAT_DOWN: return 18000;
    case SDL_HAT_LEFTDOWN: return 22500;
    case SDL_HAT_LEFT: return 27000;
    case SDL_HAT_LEFTUP: return 31500;
    default: return 65535;
    }
}

}  // namespace

bool Platform_StartJoysticks()
{
    return SDL_WasInit(SDL_INIT_JOYSTICK) != 0 || SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
}

bool Platform_ReadLegacyJoystick(int32_t index, LegacyJoystickState* out)
{
    if (index < 0 || index > 1 || !out) return false;
    SDL_Joystick* joystick = Joystick_Open(index);
    if (!joystick) return false;
    out->x = Joystick_Axis(joystick, 0);
    out->y = Joystick_Axis(joystick, 1);
    out->z = Joystick_Axis(joystick, 2);
    out->r = Joystick_Axis(joystick, 3);
    out->u = Joystick_Axis(joystick, 4);
    out->v = Joystick_Axis(joystick, 5);
    out->pov = Joystick_Pov(joystick);
    out->buttons = 0;
    const int count = SDL_JoystickNumButtons(joystick);
    for (int b = 0; b < kLegacyJoystickButtons && b < count; ++b)
        if (SDL_JoystickGetButton(joystick, b)) out->buttons |= 1u << b;
    return true;
}

bool Platform_LegacyJoystickInfo(int32_t index, LegacyJoystickInfo* out)
{
    if (index < 0 || index > 1 || !out) return false;
    SDL_Joystick* joystick = Joystick_Open(index);
    if (!joystick) return false;
    const char* name = SDL_JoystickName(joystick);
    out->name = name ? name : "";
    const int axes = SDL_JoystickNumAxes(joystick);
    const int buttons = SDL_JoystickNumButtons(joystick);
    // The legacy interface knows six axes and 32 buttons.
    out->axes = axes < 0 ? 0 : axes > 6 ? 6 : axes;
    out->buttons = buttons < 0 ? 0 : buttons > kLegacyJoystickButtons ? kLegacyJoystickButtons : buttons;
    out->capabilities = 0;
    if (axes > 2) out->capabilities |= LEGACY_JOYSTICK_HAS_Z;
    if (axes > 3) out->capabilities |= LEGACY_JOYSTICK_HAS_R;
    if (axes > 4) out->capabilities |= LEGACY_JOYSTICK_HAS_U;
    if (axes > 5) out->capabilities |= LEGACY_JOYSTICK_HAS_V;
    if (SDL_JoystickNumHats(joystick) > 0) out->capabilities |= LEGACY_JOYSTICK_HAS_POV | LEGACY_JOYSTICK_POV_DEGREES;
    return true;
}

void Platform_JoystickDevicesChanged() { JoystickMask |= 0x10000u; }
