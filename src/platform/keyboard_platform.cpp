#include "platform/keyboard_platform.h"

#include "platform/keycodes.h"

#include <SDL.h>

namespace {

// What the one key table makes of a scan code under the modifier state now.
VirtualKey KeyboardPlatform_KeyOf(int32_t scancode, SDL_Keymod modifiers)
{
    return Keycodes_FromSdl(scancode, SDL_GetKeyFromScancode(SDL_Scancode(scancode)), uint32_t(modifiers));
}

bool KeyboardPlatform_Gives(const VirtualKey& vk, int32_t key)
{
    return vk.code != 0 && (vk.code == key || vk.sidedCode == key);
}

bool KeyboardPlatform_Push(int32_t scancode, bool down)
{
    // Without video nothing pumps the queue: the key would only pile up there.
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) return false;
    SDL_Event event{};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.timestamp = SDL_GetTicks();
    // The window with the keyboard, as for a real key; none passes every window's filter.
    SDL_Window* focus = SDL_GetKeyboardFocus();
    event.key.windowID = focus ? SDL_GetWindowID(focus) : 0;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.scancode = SDL_Scancode(scancode);
    event.key.keysym.sym = SDL_GetKeyFromScancode(SDL_Scancode(scancode));
    event.key.keysym.mod = uint16_t(SDL_GetModState());
    return SDL_PushEvent(&event) == 1;
}

}  // namespace

int32_t Platform_ScancodeOfKey(int32_t key)
{
    if (key <= 0 || key > 255) return 0;
    const SDL_Keymod modifiers = SDL_GetModState();
    for (int32_t s = 1; s < SDL_NUM_SCANCODES; ++s)
        if (KeyboardPlatform_Gives(KeyboardPlatform_KeyOf(s, modifiers), key)) return s;
    return 0;
}

bool Platform_GetNumLock()
{
    const Uint8* held = SDL_GetKeyboardState(nullptr);
    return (SDL_GetModState() & KMOD_NUM) != 0 && !held[SDL_SCANCODE_NUMLOCKCLEAR];
}

void Platform_ToggleNumLock()
{
    SDL_SetModState(SDL_Keymod(SDL_GetModState() ^ KMOD_NUM));
    KeyboardPlatform_Push(SDL_SCANCODE_NUMLOCKCLEAR, true);
    KeyboardPlatform_Push(SDL_SCANCODE_NUMLOCKCLEAR, false);
}

bool Platform_SendKey(int32_t key, bool down)
{
    const int32_t scancode = Platform_ScancodeOfKey(key);
    return scancode != 0 && KeyboardPlatform_Push(scancode, down);
}

bool Platform_KeyHeldDirect(int32_t key)
{
    switch (key) {
    case 1: return (SDL_GetMouseState(nullptr, nullptr) & SDL_BUTTON_LMASK) != 0;
    case 2: return (SDL_GetMouseState(nullptr, nullptr) & SDL_BUTTON_RMASK) != 0;
    case 4: return (SDL_GetMouseState(nullptr, nullptr) & SDL_BUTTON_MMASK) != 0;
    default: break;
    }
    if (key <= 0 || key > 255) return false;
    int count = 0;
    const Uint8* held = SDL_GetKeyboardState(&count);
    const SDL_Keymod modifiers = SDL_GetModState();
    for (int32_t s = 1; s < count; ++s)
        if (held[s] && KeyboardPlatform_Gives(KeyboardPlatform_KeyOf(s, modifiers), key)) return true;
    return false;
}

void Platform_GetCursorPos(int32_t* x, int32_t* y)
{
    int gx = 0, gy = 0;
    SDL_GetGlobalMouseState(&gx, &gy);
    if (x) *x = gx;
    if (y) *y = gy;
}
