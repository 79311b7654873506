// Until the input subsystem exists: no input arrives, but the values scripts set are kept.
#include "input/input.h"
#include "platform/joystick.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "core/seam_trace.h"
#include "core/text.h"
#include "core/timing.h"
#include "platform/hooks.h"
#include "world/loader.h"

PointerState g_PointerStates[128];
PointerState g_PointerSnapshot[128];
MousePosition IO_RawMouse;
MousePosition IO_DeviceMouse[10];
uint32_t JoystickMask = 0;
void* ModelessDialogWindow = nullptr;

namespace {

constexpr int kInputMouseDevices = 10;
constexpr int kKeyboardStringChars = 1024;

struct SeamInputState {
    int32_t mouseButton[kInputMouseDevices];
    int32_t mouseLastButton[kInputMouseDevices];
    int32_t currentKey;
    int32_t lastKey;
    uint16_t lastChar;
    char keyboardString[kKeyboardStringChars * 3 + 1];  // characters are 1 to 3 bytes
};
SeamInputState g_seamInput;

bool InputDeviceInRange(int32_t device) { return device >= 0 && device < kInputMouseDevices; }

}  // namespace

void IO_Init()
{
    SeamTrace_Record("IO_Init");
    std::memset(g_PointerSnapshot, 0, sizeof g_PointerSnapshot);
    IO_Clear();
}

void IO_Update() { SeamTrace_Record("IO_Update"); }

void IO_Clear()
{
    SeamTrace_Record("IO_Clear");
    g_seamInput.keyboardString[0] = '\0';
    g_seamInput.currentKey = 0;
    g_seamInput.lastKey = 0;
    g_seamInput.lastChar = 0;
    g_seamInput.mouseButton[0] = 0;
    g_seamInput.mouseLastButton[0] = 0;
}

void IO_ClearVirtualKeys() { SeamTrace_Record("IO_ClearVirtualKeys"); }
void IO_End() { SeamTrace_Record("IO_End"); }
void IO_DrawVirtualKeys() { SeamTrace_Record("IO_DrawVirtualKeys"); }
void IO_LoadVirtualButtons(IniFile*) { SeamTrace_Record("IO_LoadVirtualButtons"); }

namespace {
InputSeamState g_seamStep{};
bool InputKeyInRange(int32_t key) { return key >= 0 && key <= 255; }
bool InputButtonOfDevice0(int32_t button, int32_t device) { return device == 0 && button >= 1 && button <= 3; }
}  // namespace

void IO_SeamSetState(const InputSeamState& state) { g_seamStep = state; }

bool IO_KeyDown(int32_t key) { return InputKeyInRange(key) && g_seamStep.keyDown[key]; }
bool IO_KeyPressed(int32_t key) { return InputKeyInRange(key) && g_seamStep.keyPressed[key]; }
bool IO_KeyReleased(int32_t key) { return InputKeyInRange(key) && g_seamStep.keyReleased[key]; }
bool IO_MouseDown(int32_t button, int32_t device)
{
    return InputButtonOfDevice0(button, device) && g_seamStep.mouseDown[button];
}
bool IO_MousePressed(int32_t button, int32_t device)
{
    return InputButtonOfDevice0(button, device) && g_seamStep.mousePressed[button];
}
bool IO_MouseReleased(int32_t button, int32_t device)
{
    return InputButtonOfDevice0(button, device) && g_seamStep.mouseReleased[button];
}
bool IO_WheelUp(int32_t device) { return device == 0 && g_seamStep.wheelUp; }
bool IO_WheelDown(int32_t device) { return device == 0 && g_seamStep.wheelDown; }

int32_t IO_MouseButton(int32_t device)
{
    return InputDeviceInRange(device) ? g_seamInput.mouseButton[device] : 0;
}

int32_t IO_MouseLastButton(int32_t device)
{
    return InputDeviceInRange(device) ? g_seamInput.mouseLastButton[device] : 0;
}

void IO_SetMouseButton(int32_t button, int32_t device)
{
    SeamTrace_Record("IO_SetMouseButton");
    if (button >= 1 && button <= 3 && InputDeviceInRange(device)) g_seamInput.mouseButton[device] = button;
}

void IO_SetMouseLastButton(int32_t button, int32_t device)
{
    SeamTrace_Record("IO_SetMouseLastButton");
    if (button >= 1 && button <= 3 && InputDeviceInRange(device)) g_seamInput.mouseLastButton[device] = button;
}

int32_t IO_GetCurrentKey() { return g_seamInput.currentKey; }

void IO_SetCurrentKey(int32_t key)
{
    SeamTrace_Record("IO_SetCurrentKey");
    if (key >= 0 && key <= 255) g_seamInput.currentKey = key;
}

int32_t IO_GetLastKey() { return g_seamInput.lastKey; }

void IO_SetLastKey(int32_t key)
{
    SeamTrace_Record("IO_SetLastKey");
    g_seamInput.lastKey = key;
}

uint16_t IO_GetLastChar() { return g_seamInput.lastChar; }

void IO_SetLastChar(uint16_t character)
{
    SeamTrace_Record("IO_SetLastChar");
    g_seamInput.lastChar = character;
}

const char* IO_GetKeyboardString() { return g_seamInput.keyboardString; }

void IO_SetKeyboardString(const char* text)
{
    SeamTrace_Record("IO_SetKeyboardString");
    if (!text) text = "";
    const char* end = text;
    for (int n = 0; n < kKeyboardStringChars && *end; ++n) UTF8_GetChar(&end);
    size_t bytes = (size_t)(end - text);
    std::memcpy(g_seamInput.keyboardString, text, bytes);
    g_seamInput.keyboardString[bytes] = '\0';
}

namespace {
InputCallHook g_inputCallHook = nullptr;
void InputSeam_Report(InputCallKind kind, int32_t a = 0, int32_t b = 0, int32_t c = 0)
{
    if (g_inputCallHook) g_inputCallHook({kind, a, b, c});
}
}  // namespace

InputCallHook IO_SetCallHook(InputCallHook hook)
{
    InputCallHook previous = g_inputCallHook;
    g_inputCallHook = hook;
    return previous;
}

void IO_OnKeyDown(int32_t key, bool repeat) { InputSeam_Report(IO_CALL_KEY_DOWN, key, repeat ? 1 : 0); }
void IO_OnKeyUp(int32_t key) { InputSeam_Report(IO_CALL_KEY_UP, key); }
void IO_OnChar(uint16_t unit) { InputSeam_Report(IO_CALL_CHAR, unit); }
void IO_OnMouseDown(int32_t button, int32_t x, int32_t y) { InputSeam_Report(IO_CALL_MOUSE_DOWN, button, x, y); }
void IO_OnMouseUp(int32_t button, int32_t x, int32_t y) { InputSeam_Report(IO_CALL_MOUSE_UP, button, x, y); }
void IO_OnWheelUp() { InputSeam_Report(IO_CALL_WHEEL_UP); }
void IO_OnWheelDown() { InputSeam_Report(IO_CALL_WHEEL_DOWN); }

namespace {
bool Joystick_DeviceReader(int32_t index, JoystickReading* out)
{
    LegacyJoystickState state{};
    if (!Platform_ReadLegacyJoystick(index, &state)) return false;
    *out = {state.x, state.y, state.buttons};
    return true;
}
JoystickReader g_joystickReader = Joystick_DeviceReader;
}  // namespace

void Joystick_SetReader(JoystickReader reader) { g_joystickReader = reader ? reader : Joystick_DeviceReader; }

bool Joystick_Read(int32_t index, JoystickReading* out) { return out && g_joystickReader(index, out); }

void ReadJoystick()
{
    JoystickReading reading{};
    JoystickMask &= ~3u;
    if (Joystick_Read(0, &reading)) JoystickMask |= 1u;
    if (Joystick_Read(1, &reading)) JoystickMask |= 2u;
}
void Gamepad_Rediscover() { SeamTrace_Record("Gamepad_Rediscover"); }
void XInput_DetectPads() { SeamTrace_Record("XInput_DetectPads"); }
void DirectInput_DetectPads() { SeamTrace_Record("DirectInput_DetectPads"); }
void DirectInput_Init() { SeamTrace_Record("DirectInput_Init"); }

// The loader owns the display name once the game header is read; until then the default stands.
const char* Game_DisplayName()
{
    return g_GameData.displayName ? g_GameData.displayName : "Made with Kelvane: Studio";
}

void ShowMessageBox(const char* text)
{
    SeamTrace_Record("ShowMessageBox");
    MessageBoxRequest request{Game_DisplayName(), text, MB_BUTTONS_OK, MB_ANSWER_OK};
    Platform_MessageBox(request);
}

void Timing_Sleep(int64_t microseconds) { FrameSleep(microseconds); }

void InitInteractionFunctions() { SeamTrace_Record("InitInteractionFunctions"); }
void InitGamepadFunctions() { SeamTrace_Record("InitGamepadFunctions"); }
