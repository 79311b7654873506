// Input state, gamepads, virtual keys and user interaction: the operations the rest of the runtime calls.
#pragma once
#include <cstdint>

class IniFile;

// Life cycle and the per-step poll.
void IO_Init();
void IO_Update();
void IO_Clear();             // all keyboard and mouse state
void IO_ClearVirtualKeys();  // room end
void IO_End();
void IO_DrawVirtualKeys();
void IO_LoadVirtualButtons(IniFile* ini);  // section "IO_VIRTUAL_BUTTONS" of options.ini

// State of this step: keys 8..255, mouse buttons 1..3 of devices 0..9.
bool IO_KeyDown(int32_t key);
bool IO_KeyPressed(int32_t key);
bool IO_KeyReleased(int32_t key);
bool IO_MouseDown(int32_t button, int32_t device);
bool IO_MousePressed(int32_t button, int32_t device);
bool IO_MouseReleased(int32_t button, int32_t device);
bool IO_WheelUp(int32_t device);
bool IO_WheelDown(int32_t device);
// Until the input subsystem exists nothing arrives; tests set this step's keys, buttons (1 ... 3, device 0)
// and wheel here. A default-made state is no input.
struct InputSeamState {
    bool keyDown[256];
    bool keyPressed[256];
    bool keyReleased[256];
    bool mouseDown[4];
    bool mousePressed[4];
    bool mouseReleased[4];
    bool wheelUp;
    bool wheelDown;
};
void IO_SeamSetState(const InputSeamState& state);

// The variables mouse_button, mouse_lastbutton, keyboard_key, keyboard_lastkey, keyboard_lastchar and
// keyboard_string. Setters ignore values out of range.
int32_t IO_MouseButton(int32_t device);
int32_t IO_MouseLastButton(int32_t device);
void IO_SetMouseButton(int32_t button, int32_t device);
void IO_SetMouseLastButton(int32_t button, int32_t device);
int32_t IO_GetCurrentKey();
void IO_SetCurrentKey(int32_t key);
int32_t IO_GetLastKey();
void IO_SetLastKey(int32_t key);
uint16_t IO_GetLastChar();
void IO_SetLastChar(uint16_t character);  // a decoded character (UTF-16 code unit)
const char* IO_GetKeyboardString();  // UTF-8; valid until the next change
void IO_SetKeyboardString(const char* text);  // null empties it; at most 1024 characters are kept

// Pointers (mouse or touch points); only entry 0 is fed here. Bit 31 of flags: down.
struct PointerState {
    uint32_t flags;
    int32_t x;
    int32_t y;
    int32_t unused;
    int32_t eventField;
};
static_assert(sizeof(PointerState) == 20);
extern PointerState g_PointerStates[128];
extern PointerState g_PointerSnapshot[128];  // the live table copied by the main loop before each frame

// What the window procedure hands over: a key down (repeat: the key was already down) or up, one UTF-16
// unit of typed text, a button (1 left, 2 right, 3 middle) down or up at a client position, a wheel turn.
void IO_OnKeyDown(int32_t key, bool repeat);
void IO_OnKeyUp(int32_t key);
void IO_OnChar(uint16_t unit);
void IO_OnMouseDown(int32_t button, int32_t x, int32_t y);
void IO_OnMouseUp(int32_t button, int32_t x, int32_t y);
void IO_OnWheelUp();
void IO_OnWheelDown();
// Tests see every one of those calls, in order, before it takes effect.
enum InputCallKind { IO_CALL_KEY_DOWN, IO_CALL_KEY_UP, IO_CALL_CHAR, IO_CALL_MOUSE_DOWN, IO_CALL_MOUSE_UP,
                     IO_CALL_WHEEL_UP, IO_CALL_WHEEL_DOWN };
struct InputCall {
    InputCallKind kind;
    int32_t a, b, c;  // key and repeat flag; unit; button, x and y; nothing for the wheel
};
using InputCallHook = void (*)(const InputCall& call);
InputCallHook IO_SetCallHook(InputCallHook hook);  // null: none; returns the previous hook

// Mouse positions in window client pixels.
struct MousePosition {
    int32_t x;
    int32_t y;
};
extern MousePosition IO_RawMouse;         // written on every mouse move, latched once per step
extern MousePosition IO_DeviceMouse[10];  // per mouse device

// Gamepads. JoystickMask: bit 0 joystick 1, bit 1 joystick 2, 0x10000 rescan requested.
extern uint32_t JoystickMask;
// Sets bits 0 and 1 by which of the two joysticks answer.
void ReadJoystick();
// One legacy joystick's axes (0 ... 65535) and buttons (bits 0-7); false when it is not there. Tests give
// their own reader (null restores the device's).
struct JoystickReading {
    int32_t x;
    int32_t y;
    uint32_t buttons;
};
using JoystickReader = bool (*)(int32_t index, JoystickReading* out);
void Joystick_SetReader(JoystickReader reader);
bool Joystick_Read(int32_t index, JoystickReading* out);
void Gamepad_Rediscover();
void XInput_DetectPads();
void DirectInput_DetectPads();
void DirectInput_Init();

// User interaction.
void ShowMessageBox(const char* text);  // modal, captioned with the game's display name
const char* Game_DisplayName();  // the game's display name once the header is read
// Set while a modeless dialog is open; the message pump offers it every message first.
extern void* ModelessDialogWindow;
void Timing_Sleep(int64_t microseconds);

// Built-in registration.
void InitInteractionFunctions();
void InitGamepadFunctions();
