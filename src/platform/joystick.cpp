#include "platform/joystick.h"

#include <SDL.h>

#include "input/input.h"

namespace {

SDL_Joystick* g_legacyJoysticks[2] = {nullptr, nullptr};

SDL_Joystick* Joystick_Open(int32_t index)
{
    if (SDL_WasInit(SDL_INIT_JOYSTICK) == 0 && SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return nullptr;
    SDL_Joystick*& slot = g_legacyJoysticks[index];
    if (slot && !SDL_JoystickGetAttached(slot)) {
        SDL_JoystickClose(slot);
        slot = nullptr;
    }
    if (!slot && index < SDL_NumJoysticks()) slot = SDL_JoystickOpen(index);
    return slot;
}

}  // namespace

bool Platform_ReadLegacyJoystick(int32_t index, LegacyJoystickState* out)
{
    if (index < 0 || index > 1 || !out) return false;
    SDL_Joystick* joystick = Joystick_Open(index);
    if (!joystick) return false;
    SDL_JoystickUpdate();
    out->x = int32_t(SDL_JoystickGetAxis(joystick, 0)) + 32768;
    out->y = int32_t(SDL_JoystickGetAxis(joystick, 1)) + 32768;
    out->buttons = 0;
    const int count = SDL_JoystickNumButtons(joystick);
    for (int b = 0; b < 8 && b < count; ++b)
        if (SDL_JoystickGetButton(joystick, b)) out->buttons |= 1u << b;
    return true;
}

void Platform_JoystickDevicesChanged() { JoystickMask |= 0x10000u; }
