// The one table from SDL keys to the virtual-key codes the game sees, with the scan code and
// extended-key flag a key message carries. The window messages and the input subsystem both read it.
#pragma once
#include <cstdint>

// Virtual-key codes with a meaning of their own in the runtime.
constexpr int32_t VK_BACK = 0x08;
constexpr int32_t VK_TAB = 0x09;
constexpr int32_t VK_RETURN = 0x0D;
constexpr int32_t VK_SHIFT = 0x10;
constexpr int32_t VK_CONTROL = 0x11;
constexpr int32_t VK_MENU = 0x12;
constexpr int32_t VK_ESCAPE = 0x1B;
constexpr int32_t VK_F4 = 0x73;
constexpr int32_t VK_LSHIFT = 0xA0;
constexpr int32_t VK_RSHIFT = 0xA1;
constexpr int32_t VK_LCONTROL = 0xA2;
constexpr int32_t VK_RCONTROL = 0xA3;
constexpr int32_t VK_LMENU = 0xA4;
constexpr int32_t VK_RMENU = 0xA5;

struct VirtualKey {
    int32_t code;       // 0: the key has no virtual-key code and is dropped
    int32_t sidedCode;  // Shift, Ctrl and Alt: the left or right code; else the code itself
    int32_t scanCode;   // set-1 make code, as bits 16-23 of a key message
    bool extended;      // bit 24 of a key message
};

// SDL scan code and key code of one key, and SDL's modifier state at the time (num lock decides the
// keypad). Letters follow the layout (the key code); everything else follows the key's position.
VirtualKey Keycodes_FromSdl(int32_t scancode, int32_t keycode, uint32_t modifiers);
