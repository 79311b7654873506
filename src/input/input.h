// Input state, gamepads, virtual keys and user interaction: the operations the rest of the runtime calls.
#pragma once
#include <cstdint>

class IniFile;
class IBuffer;

// Life cycle and the per-step poll.
void IO_Init();
void IO_Update();
void IO_Clear();             // all keyboard and mouse state
void IO_ClearVirtualKeys();  // room end
void IO_End();
void IO_DrawVirtualKeys();
void IO_LoadVirtualButtons(IniFile* ini);  // section "IO_VIRTUAL_BUTTONS" of options.ini
void IO_UpdateVirtualKeys();
void IO_SaveVirtualKeys(IBuffer* buffer);  // the save-game block
bool IO_LoadVirtualKeys(IBuffer* buffer);  // false when the block is not one
void Gamepad_Update();
void Gamepad_Shutdown();

// The game-side block scripts read. Its first seventeen fields, in this order, are also the record/playback
// frame, written field by field (the struct itself has padding).
constexpr int IO_MOUSE_DEVICES = 10;
constexpr int IO_KEYBOARD_STRING_UNITS = 1025;  // at most 1024 characters and a 0
struct InputState {
    uint16_t lastChar;
    uint16_t keyboardString[IO_KEYBOARD_STRING_UNITS];
    int32_t lastKey;
    int32_t key;
    uint8_t keyDown[256];
    uint8_t keyReleased[256];
    uint8_t keyPressed[256];
    int32_t mouseLastButton[IO_MOUSE_DEVICES];
    int32_t mouseButton[IO_MOUSE_DEVICES];
    uint8_t buttonDown[IO_MOUSE_DEVICES][3];  // button b at index b - 1
    uint8_t buttonReleased[IO_MOUSE_DEVICES][3];
    uint8_t buttonPressed[IO_MOUSE_DEVICES][3];
    uint8_t wheelUp[IO_MOUSE_DEVICES];
    uint8_t wheelDown[IO_MOUSE_DEVICES];
    int32_t cursorX, cursorY;  // screen coordinates at the last latch
    int32_t mouseX, mouseY;    // window client pixels
    // Not recorded.
    int32_t keyMap[256];
};
// The window-side block the handlers write between steps (device 0 only).
struct InputPendingState {
    uint16_t lastChar;
    uint16_t keyboardString[IO_KEYBOARD_STRING_UNITS];
    int32_t lastKey;
    int32_t key;
    int32_t previousKey;
    uint8_t keyDown[256];
    uint8_t keyPressed[256];
    uint8_t keyReleased[256];
    int32_t mouseLastButton;
    int32_t mouseButton;
    uint8_t buttonDown[3];
    uint8_t buttonPressed[3];
    uint8_t buttonReleased[3];
    uint8_t wheelUp;
    uint8_t wheelDown;
    bool synchronise;  // set until the first latch
};
extern InputState g_InputState;
extern InputPendingState g_InputPending;
extern int32_t g_KeyboardStringLength;  // one counter for both sides

constexpr int IO_FRAME_BYTES = 3034;
// The game side's frame as it is recorded (little-endian, no padding).
void IO_EncodeFrame(uint8_t out[IO_FRAME_BYTES]);

// The step's latch (part of IO_Update) and one record/playback frame.
void IO_LatchInput();
void IO_RecordFrame();
void IO_PlaybackFrame();

// Out-of-range keys (> 255), buttons (outside 1..3) and devices (outside 0..9) read 0; writes are ignored.
bool IO_KeyDown(int32_t key);
bool IO_KeyPressed(int32_t key);
bool IO_KeyReleased(int32_t key);
void IO_KeyClear(int32_t key);  // down, pressed and released on both sides
void IO_ClearKeys();            // every key array, keyboard_key, keyboard_lastkey and keyboard_lastchar, both sides
bool IO_MouseDown(int32_t button, int32_t device);
bool IO_MousePressed(int32_t button, int32_t device);
bool IO_MouseReleased(int32_t button, int32_t device);
void IO_MouseClear(int32_t button, int32_t device);  // device 0 also on the window side
bool IO_WheelUp(int32_t device);
bool IO_WheelDown(int32_t device);
int32_t IO_MapKey(int32_t key);  // keys above 255 pass through
void IO_SetKeyMap(int32_t key, int32_t value);
void IO_ResetKeyMap();
// The key test of keyboard_check: 0 no key held, 1 any key held, 2..255 that key; anything else false.
bool Keyboard_Check(int32_t key);
// What the blocking waits watch: the window side's last key and device 0's last button, and clearing the latter
// on both sides.
int32_t IO_PendingLastKey();
int32_t IO_PendingLastButton();
void IO_ClearLastButton();

// Tests: overwrite this step's game-side keys, buttons (1 ... 3, device 0) and wheel (device 0). A
// default-made state is no input.
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
void IO_SetCurrentKey(int32_t key);  // game side only; the next latch overwrites it
int32_t IO_GetLastKey();
void IO_SetLastKey(int32_t key);     // both sides; the window side's held key is cleared
uint16_t IO_GetLastChar();
void IO_SetLastChar(uint16_t character);  // a decoded character (UTF-16 code unit), both sides
const char* IO_GetKeyboardString();  // UTF-8; valid until the next call
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
int32_t ShowMessageBox(const char* text);  // modal, captioned with the window's caption; 1
const char* Game_DisplayName();  // the game's display name once the header is read
// Set while a modeless dialog is open; the message pump offers it every message first.
extern void* ModelessDialogWindow;
void Timing_Sleep(int64_t microseconds);

// Built-in registration.
void InitInteractionFunctions();
void InitGamepadFunctions();
