#include "platform/keycodes.h"

#include <SDL.h>

namespace {

struct KeycodeRow {
    SDL_Scancode key;
    int32_t code;
    int32_t sidedCode;  // 0: the code itself
    int32_t scanCode;
    bool extended;
};

// Positions of a US keyboard; letters are replaced by the layout's letter when it has one.
constexpr KeycodeRow kKeycodeRows[] = {
    {SDL_SCANCODE_A, 'A', 0, 0x1E, false}, {SDL_SCANCODE_B, 'B', 0, 0x30, false},
    {SDL_SCANCODE_C, 'C', 0, 0x2E, false}, {SDL_SCANCODE_D, 'D', 0, 0x20, false},
    {SDL_SCANCODE_E, 'E', 0, 0x12, false}, {SDL_SCANCODE_F, 'F', 0, 0x21, false},
    {SDL_SCANCODE_G, 'G', 0, 0x22, false}, {SDL_SCANCODE_H, 'H', 0, 0x23, false},
    {SDL_SCANCODE_I, 'I', 0, 0x17, false}, {SDL_SCANCODE_J, 'J', 0, 0x24, false},
    {SDL_SCANCODE_K, 'K', 0, 0x25, false}, {SDL_SCANCODE_L, 'L', 0, 0x26, false},
    {SDL_SCANCODE_M, 'M', 0, 0x32, false}, {SDL_SCANCODE_N, 'N', 0, 0x31, false},
    {SDL_SCANCODE_O, 'O', 0, 0x18, false}, {SDL_SCANCODE_P, 'P', 0, 0x19, false},
    {SDL_SCANCODE_Q, 'Q', 0, 0x10, false}, {SDL_SCANCODE_R, 'R', 0, 0x13, false},
    {SDL_SCANCODE_S, 'S', 0, 0x1F, false}, {SDL_SCANCODE_T, 'T', 0, 0x14, false},
    {SDL_SCANCODE_U, 'U', 0, 0x16, false}, {SDL_SCANCODE_V, 'V', 0, 0x2F, false},
    {SDL_SCANCODE_W, 'W', 0, 0x11, false}, {SDL_SCANCODE_X, 'X', 0, 0x2D, false},
    {SDL_SCANCODE_Y, 'Y', 0, 0x15, false}, {SDL_SCANCODE_Z, 'Z', 0, 0x2C, false},
    {SDL_SCANCODE_1, '1', 0, 0x02, false}, {SDL_SCANCODE_2, '2', 0, 0x03, false},
    {SDL_SCANCODE_3, '3', 0, 0x04, false}, {SDL_SCANCODE_4, '4', 0, 0x05, false},
    {SDL_SCANCODE_5, '5', 0, 0x06, false}, {SDL_SCANCODE_6, '6', 0, 0x07, false},
    {SDL_SCANCODE_7, '7', 0, 0x08, false}, {SDL_SCANCODE_8, '8', 0, 0x09, false},
    {SDL_SCANCODE_9, '9', 0, 0x0A, false}, {SDL_SCANCODE_0, '0', 0, 0x0B, false},
    {SDL_SCANCODE_RETURN, VK_RETURN, 0, 0x1C, false},
    {SDL_SCANCODE_ESCAPE, VK_ESCAPE, 0, 0x01, false},
    {SDL_SCANCODE_BACKSPACE, VK_BACK, 0, 0x0E, false},
    {SDL_SCANCODE_TAB, VK_TAB, 0, 0x0F, false},
    {SDL_SCANCODE_SPACE, 0x20, 0, 0x39, false},
    {SDL_SCANCODE_MINUS, 0xBD, 0, 0x0C, false},
    {SDL_SCANCODE_EQUALS, 0xBB, 0, 0x0D, false},
    {SDL_SCANCODE_LEFTBRACKET, 0xDB, 0, 0x1A, false},
    {SDL_SCANCODE_RIGHTBRACKET, 0xDD, 0, 0x1B, false},
    {SDL_SCANCODE_BACKSLASH, 0xDC, 0, 0x2B, false},
    {SDL_SCANCODE_NONUSHASH, 0xDC, 0, 0x2B, false},
    {SDL_SCANCODE_SEMICOLON, 0xBA, 0, 0x27, false},
    {SDL_SCANCODE_APOSTROPHE, 0xDE, 0, 0x28, false},
    {SDL_SCANCODE_GRAVE, 0xC0, 0, 0x29, false},
    {SDL_SCANCODE_COMMA, 0xBC, 0, 0x33, false},
    {SDL_SCANCODE_PERIOD, 0xBE, 0, 0x34, false},
    {SDL_SCANCODE_SLASH, 0xBF, 0, 0x35, false},
    {SDL_SCANCODE_NONUSBACKSLASH, 0xE2, 0, 0x56, false},
    {SDL_SCANCODE_CAPSLOCK, 0x14, 0, 0x3A, false},
    {SDL_SCANCODE_F1, 0x70, 0, 0x3B, false}, {SDL_SCANCODE_F2, 0x71, 0, 0x3C, false},
    {SDL_SCANCODE_F3, 0x72, 0, 0x3D, false}, {SDL_SCANCODE_F4, VK_F4, 0, 0x3E, false},
    {SDL_SCANCODE_F5, 0x74, 0, 0x3F, false}, {SDL_SCANCODE_F6, 0x75, 0, 0x40, false},
    {SDL_SCANCODE_F7, 0x76, 0, 0x41, false}, {SDL_SCANCODE_F8, 0x77, 0, 0x42, false},
    {SDL_SCANCODE_F9, 0x78, 0, 0x43, false}, {SDL_SCANCODE_F10, 0x79, 0, 0x44, false},
    {SDL_SCANCODE_F11, 0x7A, 0, 0x57, false}, {SDL_SCANCODE_F12, 0x7B, 0, 0x58, false},
    {SDL_SCANCODE_F13, 0x7C, 0, 0x64, false}, {SDL_SCANCODE_F14, 0x7D, 0, 0x65, false},
    {SDL_SCANCODE_F15, 0x7E, 0, 0x66, false}, {SDL_SCANCODE_F16, 0x7F, 0, 0x67, false},
    {SDL_SCANCODE_F17, 0x80, 0, 0x68, false}, {SDL_SCANCODE_F18, 0x81, 0, 0x69, false},
    {SDL_SCANCODE_F19, 0x82, 0, 0x6A, false}, {SDL_SCANCODE_F20, 0x83, 0, 0x6B, false},
    {SDL_SCANCODE_F21, 0x84, 0, 0x6C, false}, {SDL_SCANCODE_F22, 0x85, 0, 0x6D, false},
    {SDL_SCANCODE_F23, 0x86, 0, 0x6E, false}, {SDL_SCANCODE_F24, 0x87, 0, 0x76, false},
    {SDL_SCANCODE_PRINTSCREEN, 0x2C, 0, 0x37, true},
    {SDL_SCANCODE_SCROLLLOCK, 0x91, 0, 0x46, false},
    {SDL_SCANCODE_PAUSE, 0x13, 0, 0x45, false},
    {SDL_SCANCODE_INSERT, 0x2D, 0, 0x52, true},
    {SDL_SCANCODE_HOME, 0x24, 0, 0x47, true},
    {SDL_SCANCODE_PAGEUP, 0x21, 0, 0x49, true},
    {SDL_SCANCODE_DELETE, 0x2E, 0, 0x53, true},
    {SDL_SCANCODE_END, 0x23, 0, 0x4F, true},
    {SDL_SCANCODE_PAGEDOWN, 0x22, 0, 0x51, true},
    {SDL_SCANCODE_RIGHT, 0x27, 0, 0x4D, true},
    {SDL_SCANCODE_LEFT, 0x25, 0, 0x4B, true},
    {SDL_SCANCODE_DOWN, 0x28, 0, 0x50, true},
    {SDL_SCANCODE_UP, 0x26, 0, 0x48, true},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x90, 0, 0x45, true},
    {SDL_SCANCODE_KP_DIVIDE, 0x6F, 0, 0x35, true},
    {SDL_SCANCODE_KP_MULTIPLY, 0x6A, 0, 0x37, false},
    {SDL_SCANCODE_KP_MINUS, 0x6D, 0, 0x4A, false},
    {SDL_SCANCODE_KP_PLUS, 0x6B, 0, 0x4E, false},
    {SDL_SCANCODE_KP_ENTER, VK_RETURN, 0, 0x1C, true},
    {SDL_SCANCODE_KP_1, 0x61, 0, 0x4F, false}, {SDL_SCANCODE_KP_2, 0x62, 0, 0x50, false},
    {SDL_SCANCODE_KP_3, 0x63, 0, 0x51, false}, {SDL_SCANCODE_KP_4, 0x64, 0, 0x4B, false},
    {SDL_SCANCODE_KP_5, 0x65, 0, 0x4C, false}, {SDL_SCANCODE_KP_6, 0x66, 0, 0x4D, false},
    {SDL_SCANCODE_KP_7, 0x67, 0, 0x47, false}, {SDL_SCANCODE_KP_8, 0x68, 0, 0x48, false},
    {SDL_SCANCODE_KP_9, 0x69, 0, 0x49, false}, {SDL_SCANCODE_KP_0, 0x60, 0, 0x52, false},
    {SDL_SCANCODE_KP_PERIOD, 0x6E, 0, 0x53, false},
    {SDL_SCANCODE_KP_COMMA, 0x6C, 0, 0x7E, false},
    {SDL_SCANCODE_APPLICATION, 0x5D, 0, 0x5D, true},
    {SDL_SCANCODE_LGUI, 0x5B, 0, 0x5B, true},
    {SDL_SCANCODE_RGUI, 0x5C, 0, 0x5C, true},
    {SDL_SCANCODE_LSHIFT, VK_SHIFT, VK_LSHIFT, 0x2A, false},
    {SDL_SCANCODE_RSHIFT, VK_SHIFT, VK_RSHIFT, 0x36, false},
    {SDL_SCANCODE_LCTRL, VK_CONTROL, VK_LCONTROL, 0x1D, false},
    {SDL_SCANCODE_RCTRL, VK_CONTROL, VK_RCONTROL, 0x1D, true},
    {SDL_SCANCODE_LALT, VK_MENU, VK_LMENU, 0x38, false},
    {SDL_SCANCODE_RALT, VK_MENU, VK_RMENU, 0x38, true},
    {SDL_SCANCODE_HELP, 0x2F, 0, 0x63, false},
    {SDL_SCANCODE_SELECT, 0x29, 0, 0, false},
    {SDL_SCANCODE_EXECUTE, 0x2B, 0, 0, false},
    {SDL_SCANCODE_SLEEP, 0x5F, 0, 0x5F, true},
    {SDL_SCANCODE_MUTE, 0xAD, 0, 0x20, true},
    {SDL_SCANCODE_VOLUMEDOWN, 0xAE, 0, 0x2E, true},
    {SDL_SCANCODE_VOLUMEUP, 0xAF, 0, 0x30, true},
    {SDL_SCANCODE_AUDIONEXT, 0xB0, 0, 0x19, true},
    {SDL_SCANCODE_AUDIOPREV, 0xB1, 0, 0x10, true},
    {SDL_SCANCODE_AUDIOSTOP, 0xB2, 0, 0x24, true},
    {SDL_SCANCODE_AUDIOPLAY, 0xB3, 0, 0x22, true},
    {SDL_SCANCODE_AUDIOMUTE, 0xAD, 0, 0x20, true},
    {SDL_SCANCODE_MAIL, 0xB4, 0, 0x6C, true},
    {SDL_SCANCODE_MEDIASELECT, 0xB5, 0, 0x6D, true},
    {SDL_SCANCODE_AC_BACK, 0xA6, 0, 0x6A, true},
    {SDL_SCANCODE_AC_FORWARD, 0xA7, 0, 0x69, true},
    {SDL_SCANCODE_AC_REFRESH, 0xA8, 0, 0x67, true},
    {SDL_SCANCODE_AC_STOP, 0xA9, 0, 0x68, true},
    {SDL_SCANCODE_AC_SEARCH, 0xAA, 0, 0x65, true},
    {SDL_SCANCODE_AC_BOOKMARKS, 0xAB, 0, 0x66, true},
    {SDL_SCANCODE_AC_HOME, 0xAC, 0, 0x32, true},
};

// With num lock off the keypad's digits and point are the navigation keys, without the extended flag
// that the separate navigation keys carry.
int32_t Keycodes_KeypadWithoutNumLock(SDL_Scancode key)
{
    switch (key) {
    case SDL_SCANCODE_KP_0: return 0x2D;       // insert
    case SDL_SCANCODE_KP_1: return 0x23;       // end
    case SDL_SCANCODE_KP_2: return 0x28;       // down
    case SDL_SCANCODE_KP_3: return 0x22;       // page down
    case SDL_SCANCODE_KP_4: return 0x25;       // left
    case SDL_SCANCODE_KP_5: return 0x0C;       // clear
    case SDL_SCANCODE_KP_6: return 0x27;       // right
    case SDL_SCANCODE_KP_7: return 0x24;       // home
    case SDL_SCANCODE_KP_8: return 0x26;       // up
    case SDL_SCANCODE_KP_9: return 0x21;       // page up
    case SDL_SCANCODE_KP_PERIOD: return 0x2E;  // delete
    default: return 0;
    }
}

struct KeycodeTable {
    KeycodeRow rows[SDL_NUM_SCANCODES];
    KeycodeTable() : rows{}
    {
        for (const KeycodeRow& row : kKeycodeRows) rows[row.key] = row;
    }
};

const KeycodeRow& Keycodes_Row(int32_t scancode)
{
    static const KeycodeTable table;
    static const KeycodeRow none{};
    return scancode >= 0 && scancode < SDL_NUM_SCANCODES ? table.rows[scancode] : none;
}

}  // namespace

VirtualKey Keycodes_FromSdl(int32_t scancode, int32_t keycode, uint32_t modifiers)
{
    const KeycodeRow& row = Keycodes_Row(scancode);
    VirtualKey key{row.code, row.sidedCode ? row.sidedCode : row.code, row.scanCode, row.extended};
    if (keycode >= 'a' && keycode <= 'z') {
        key.code = key.sidedCode = keycode - 'a' + 'A';
        // A letter somewhere a US keyboard has none keeps that position's scan code.
        if (!key.scanCode) key.scanCode = Keycodes_Row(SDL_SCANCODE_A + (keycode - 'a')).scanCode;
    }
    if (!(modifiers & KMOD_NUM)) {
        if (const int32_t navigation = Keycodes_KeypadWithoutNumLock(SDL_Scancode(scancode)))
            key.code = key.sidedCode = navigation;
    }
    return key;
}
