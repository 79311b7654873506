// Keyboard and mouse state: the window side the handlers fill between steps, the game side scripts read,
// the once-per-step latch between them and the record/playback file.
#include "input/input.h"

#include <cstdio>
#include <cstring>

#include "core/console.h"
#include "core/seam_trace.h"
#include "core/text.h"
#include "lib/file_areas.h"
#include "platform/keyboard_platform.h"
#include "world/command_line.h"

InputState g_InputState;
InputPendingState g_InputPending = [] {
    InputPendingState w{};
    w.synchronise = true;
    return w;
}();
int32_t g_KeyboardStringLength = 0;
PointerState g_PointerStates[128];
PointerState g_PointerSnapshot[128];
MousePosition IO_RawMouse;
MousePosition IO_DeviceMouse[IO_MOUSE_DEVICES];

namespace {

constexpr int kMaxChars = IO_KEYBOARD_STRING_UNITS - 1;

enum InputMode { INPUT_NORMAL, INPUT_RECORD, INPUT_PLAYBACK };
InputMode g_inputMode = INPUT_NORMAL;
FILE* g_recordFile = nullptr;

InputCallHook g_inputCallHook = nullptr;

// Keys map to themselves from the start, also before IO_Init runs.
const bool g_keyMapReady = (IO_ResetKeyMap(), true);

void Report(InputCallKind kind, int32_t a = 0, int32_t b = 0, int32_t c = 0)
{
    if (g_inputCallHook) g_inputCallHook({kind, a, b, c});
}

bool KeyInRange(int32_t key) { return key >= 0 && key <= 255; }
bool DeviceInRange(int32_t device) { return device >= 0 && device < IO_MOUSE_DEVICES; }
bool ButtonInRange(int32_t button) { return button >= 1 && button <= 3; }

// Pointer 0 follows the mouse; the per-event field is reset by every write.
void WritePointer0(uint32_t flags, int32_t x, int32_t y)
{
    g_PointerStates[0].flags = flags;
    g_PointerStates[0].x = x;
    g_PointerStates[0].y = y;
    g_PointerStates[0].eventField = 0;
}

void CloseRecordFile()
{
    if (g_recordFile) std::fclose(g_recordFile);
    g_recordFile = nullptr;
}

// ---- frame encoding: each field in order, little-endian, no padding ----

struct FrameWriter {
    uint8_t* p;
    void Bytes(const uint8_t* data, size_t n)
    {
        std::memcpy(p, data, n);
        p += n;
    }
    void U16(uint16_t v)
    {
        *p++ = uint8_t(v);
        *p++ = uint8_t(v >> 8);
    }
    void I32(int32_t v)
    {
        const auto u = uint32_t(v);
        for (int i = 0; i < 4; ++i) *p++ = uint8_t(u >> (8 * i));
    }
};

struct FrameReader {
    const uint8_t* p;
    // Flags are 0 or 1; a damaged file must not make them anything else.
    void Flags(uint8_t* out, size_t n)
    {
        for (size_t i = 0; i < n; ++i) out[i] = p[i] != 0;
        p += n;
    }
    uint16_t U16()
    {
        const uint16_t v = uint16_t(p[0] | (p[1] << 8));
        p += 2;
        return v;
    }
    int32_t I32()
    {
        const uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
        p += 4;
        return int32_t(v);
    }
};

void DecodeFrame(const uint8_t* frame)
{
    InputState& s = g_InputState;
    FrameReader r{frame};
    s.lastChar = r.U16();
    for (uint16_t& unit : s.keyboardString) unit = r.U16();
    s.lastKey = r.I32();
    s.key = r.I32();
    r.Flags(s.keyDown, 256);
    r.Flags(s.keyReleased, 256);
    r.Flags(s.keyPressed, 256);
    for (int32_t& b : s.mouseLastButton) b = r.I32();
    for (int32_t& b : s.mouseButton) b = r.I32();
    r.Flags(&s.buttonDown[0][0], sizeof s.buttonDown);
    r.Flags(&s.buttonReleased[0][0], sizeof s.buttonReleased);
    r.Flags(&s.buttonPressed[0][0], sizeof s.buttonPressed);
    r.Flags(s.wheelUp, sizeof s.wheelUp);
    r.Flags(s.wheelDown, sizeof s.wheelDown);
    s.cursorX = r.I32();
    s.cursorY = r.I32();
    s.mouseX = r.I32();
    s.mouseY = r.I32();
    // The string is read from the file as it stands: make sure it ends and the counter matches it.
    s.keyboardString[kMaxChars] = 0;
    int32_t length = 0;
    while (s.keyboardString[length]) ++length;
    g_KeyboardStringLength = length;
}

void OpenRecordFile()
{
    CloseRecordFile();
    g_inputMode = g_RunFlags.playback ? INPUT_PLAYBACK : g_RunFlags.record ? INPUT_RECORD : INPUT_NORMAL;
    if (g_inputMode == INPUT_NORMAL || !g_RunFlags.recordFile) return;
    g_recordFile = File_OpenUtf8(g_RunFlags.recordFile, g_inputMode == INPUT_PLAYBACK ? "rb" : "w+b");
    if (!g_recordFile) {
        DebugConsole->Output("Cannot open the input %s file \"%s\"\n",
                             g_inputMode == INPUT_PLAYBACK ? "playback" : "record", g_RunFlags.recordFile);
        return;
    }
    std::setvbuf(g_recordFile, nullptr, _IONBF, 0);
}

}  // namespace

// ---- life cycle and the step ----

void IO_Init()
{
    SeamTrace_Record("IO_Init");
    std::memset(g_PointerSnapshot, 0, sizeof g_PointerSnapshot);
    IO_Clear();
    IO_ResetKeyMap();
    OpenRecordFile();
}

void IO_Update()
{
    SeamTrace_Record("IO_Update");
    InputState& s = g_InputState;
    std::memset(s.keyReleased, 0, sizeof s.keyReleased);
    std::memset(s.keyPressed, 0, sizeof s.keyPressed);
    std::memset(s.wheelUp, 0, sizeof s.wheelUp);
    std::memset(s.wheelDown, 0, sizeof s.wheelDown);
    std::memset(s.buttonPressed, 0, sizeof s.buttonPressed);
    std::memset(s.buttonReleased, 0, sizeof s.buttonReleased);
    if (g_inputMode == INPUT_PLAYBACK) {
        IO_PlaybackFrame();
    } else {
        IO_LatchInput();
        Gamepad_Update();
        IO_UpdateVirtualKeys();
    }
    if (g_inputMode == INPUT_RECORD) IO_RecordFrame();
}

void IO_LatchInput()
{
    InputState& s = g_InputState;
    InputPendingState& w = g_InputPending;
    if (w.synchronise) {
        std::memcpy(w.keyboardString, s.keyboardString, sizeof w.keyboardString);
        w.lastChar = s.lastChar;
        w.lastKey = s.lastKey;
        w.key = s.key;
        std::memcpy(w.keyDown, s.keyDown, sizeof w.keyDown);
        std::memcpy(w.keyPressed, s.keyPressed, sizeof w.keyPressed);
        std::memcpy(w.keyReleased, s.keyReleased, sizeof w.keyReleased);
        std::memcpy(w.buttonDown, s.buttonDown[0], sizeof w.buttonDown);
        std::memcpy(w.buttonPressed, s.buttonPressed[0], sizeof w.buttonPressed);
        std::memcpy(w.buttonReleased, s.buttonReleased[0], sizeof w.buttonReleased);
        w.mouseLastButton = s.mouseLastButton[0];
        w.mouseButton = s.mouseButton[0];
        w.wheelUp = s.wheelUp[0];
        w.wheelDown = s.wheelDown[0];
        w.synchronise = false;
    }
    Platform_GetCursorPos(&s.cursorX, &s.cursorY);
    s.mouseX = IO_RawMouse.x;
    s.mouseY = IO_RawMouse.y;
    IO_DeviceMouse[0] = IO_RawMouse;
    g_PointerStates[0].x = IO_RawMouse.x;
    g_PointerStates[0].y = IO_RawMouse.y;
    g_PointerStates[0].eventField = 0;

    s.lastChar = w.lastChar;
    std::memcpy(s.keyboardString, w.keyboardString, sizeof s.keyboardString);
    s.lastKey = w.lastKey;
    s.key = w.key;
    std::memcpy(s.keyDown, w.keyDown, sizeof s.keyDown);
    for (int k = 0; k < 256; ++k) {
        s.keyPressed[k] |= w.keyPressed[k];
        s.keyReleased[k] |= w.keyReleased[k];
    }
    s.mouseButton[0] = w.mouseButton;
    s.mouseLastButton[0] = w.mouseLastButton;
    std::memcpy(s.buttonDown[0], w.buttonDown, sizeof w.buttonDown);
    s.wheelUp[0] = w.wheelUp;
    s.wheelDown[0] = w.wheelDown;
    for (int b = 0; b < 3; ++b) {
        s.buttonPressed[0][b] |= w.buttonPressed[b];
        s.buttonReleased[0][b] |= w.buttonReleased[b];
    }

    std::memset(w.keyPressed, 0, sizeof w.keyPressed);
    std::memset(w.keyReleased, 0, sizeof w.keyReleased);
    w.wheelUp = w.wheelDown = 0;
    std::memset(w.buttonPressed, 0, sizeof w.buttonPressed);
    std::memset(w.buttonReleased, 0, sizeof w.buttonReleased);
}

void IO_Clear()
{
    SeamTrace_Record("IO_Clear");
    InputState& s = g_InputState;
    InputPendingState& w = g_InputPending;
    std::memset(s.keyboardString, 0, sizeof s.keyboardString);
    std::memset(w.keyboardString, 0, sizeof w.keyboardString);
    g_KeyboardStringLength = 0;
    IO_ClearKeys();
    s.mouseButton[0] = s.mouseLastButton[0] = 0;
    w.mouseButton = w.mouseLastButton = 0;
    s.wheelUp[0] = s.wheelDown[0] = 0;
    w.wheelUp = w.wheelDown = 0;
    std::memset(s.buttonDown[0], 0, 3);
    std::memset(s.buttonPressed[0], 0, 3);
    std::memset(s.buttonReleased[0], 0, 3);
    std::memset(w.buttonDown, 0, 3);
    std::memset(w.buttonPressed, 0, 3);
    std::memset(w.buttonReleased, 0, 3);
}

void IO_End()
{
    SeamTrace_Record("IO_End");
    Gamepad_Shutdown();
    CloseRecordFile();
}

// ---- record and playback ----

void IO_EncodeFrame(uint8_t out[IO_FRAME_BYTES])
{
    const InputState& s = g_InputState;
    FrameWriter w{out};
    w.U16(s.lastChar);
    for (uint16_t unit : s.keyboardString) w.U16(unit);
    w.I32(s.lastKey);
    w.I32(s.key);
    w.Bytes(s.keyDown, 256);
    w.Bytes(s.keyReleased, 256);
    w.Bytes(s.keyPressed, 256);
    for (int32_t b : s.mouseLastButton) w.I32(b);
    for (int32_t b : s.mouseButton) w.I32(b);
    w.Bytes(&s.buttonDown[0][0], sizeof s.buttonDown);
    w.Bytes(&s.buttonReleased[0][0], sizeof s.buttonReleased);
    w.Bytes(&s.buttonPressed[0][0], sizeof s.buttonPressed);
    w.Bytes(s.wheelUp, sizeof s.wheelUp);
    w.Bytes(s.wheelDown, sizeof s.wheelDown);
    w.I32(s.cursorX);
    w.I32(s.cursorY);
    w.I32(s.mouseX);
    w.I32(s.mouseY);
}

void IO_RecordFrame()
{
    if (!g_recordFile) return;
    uint8_t frame[IO_FRAME_BYTES];
    IO_EncodeFrame(frame);
    std::fwrite(frame, 1, sizeof frame, g_recordFile);
    std::fflush(g_recordFile);
}

void IO_PlaybackFrame()
{
    if (!g_recordFile || std::feof(g_recordFile)) return;
    uint8_t frame[IO_FRAME_BYTES];
    // A partial last frame is the end of the file, not a frame.
    if (std::fread(frame, 1, sizeof frame, g_recordFile) != sizeof frame) return;
    DecodeFrame(frame);
}

// ---- the window-side handlers ----

InputCallHook IO_SetCallHook(InputCallHook hook)
{
    InputCallHook previous = g_inputCallHook;
    g_inputCallHook = hook;
    return previous;
}

void IO_OnKeyDown(int32_t key, bool repeat)
{
    Report(IO_CALL_KEY_DOWN, key, repeat ? 1 : 0);
    const int32_t k = IO_MapKey(key);
    if (!KeyInRange(k)) return;
    InputPendingState& w = g_InputPending;
    if (w.previousKey != w.key) w.previousKey = w.key;
    w.lastKey = k;
    w.key = k;
    if (!w.keyDown[k] && !repeat) w.keyPressed[k] = 1;
    w.keyDown[k] = 1;
}

void IO_OnKeyUp(int32_t key)
{
    Report(IO_CALL_KEY_UP, key);
    const int32_t k = IO_MapKey(key);
    if (!KeyInRange(k)) return;
    InputPendingState& w = g_InputPending;
    if (k == w.key) {
        const bool previousHeld = KeyInRange(w.previousKey) && w.keyDown[w.previousKey];
        w.key = previousHeld && w.previousKey != k ? w.previousKey : 0;
    }
    w.keyDown[k] = 0;
    w.keyReleased[k] = 1;
}

void IO_OnChar(uint16_t unit)
{
    Report(IO_CALL_CHAR, unit);
    InputPendingState& w = g_InputPending;
    int32_t& length = g_KeyboardStringLength;
    w.lastChar = unit;
    if (length >= kMaxChars - 1) {
        w.keyboardString[0] = w.keyboardString[length - 1];
        w.keyboardString[1] = 0;
        length = 1;
    }
    if (unit == 8) {
        if (length > 0) w.keyboardString[--length] = 0;
        return;
    }
    if (unit < 32) return;
    w.keyboardString[length++] = unit;
    w.keyboardString[length] = 0;
}

void IO_OnMouseDown(int32_t button, int32_t x, int32_t y)
{
    Report(IO_CALL_MOUSE_DOWN, button, x, y);
    if (!ButtonInRange(button)) return;
    InputPendingState& w = g_InputPending;
    w.mouseLastButton = button;
    w.mouseButton = button;
    if (!w.buttonDown[button - 1]) w.buttonPressed[button - 1] = 1;
    w.buttonDown[button - 1] = 1;
    if (button == 1) WritePointer0(0x80000003u, x, y);
}

void IO_OnMouseUp(int32_t button, int32_t x, int32_t y)
{
    Report(IO_CALL_MOUSE_UP, button, x, y);
    if (!ButtonInRange(button)) return;
    InputPendingState& w = g_InputPending;
    w.mouseButton = 0;
    w.buttonDown[button - 1] = 0;
    w.buttonPressed[button - 1] = 0;
    w.buttonReleased[button - 1] = 1;
    if (button == 1) WritePointer0(0, x, y);
}

void IO_OnWheelUp()
{
    Report(IO_CALL_WHEEL_UP);
    g_InputPending.wheelUp = 1;
}

void IO_OnWheelDown()
{
    Report(IO_CALL_WHEEL_DOWN);
    g_InputPending.wheelDown = 1;
}

// ---- accessors ----

bool IO_KeyDown(int32_t key) { return KeyInRange(key) && g_InputState.keyDown[key]; }
bool IO_KeyPressed(int32_t key) { return KeyInRange(key) && g_InputState.keyPressed[key]; }
bool IO_KeyReleased(int32_t key) { return KeyInRange(key) && g_InputState.keyReleased[key]; }

void IO_KeyClear(int32_t key)
{
    if (!KeyInRange(key)) return;
    g_InputState.keyDown[key] = g_InputState.keyPressed[key] = g_InputState.keyReleased[key] = 0;
    g_InputPending.keyDown[key] = g_InputPending.keyPressed[key] = g_InputPending.keyReleased[key] = 0;
}

void IO_ClearKeys()
{
    InputState& s = g_InputState;
    InputPendingState& w = g_InputPending;
    std::memset(s.keyDown, 0, sizeof s.keyDown);
    std::memset(s.keyPressed, 0, sizeof s.keyPressed);
    std::memset(s.keyReleased, 0, sizeof s.keyReleased);
    std::memset(w.keyDown, 0, sizeof w.keyDown);
    std::memset(w.keyPressed, 0, sizeof w.keyPressed);
    std::memset(w.keyReleased, 0, sizeof w.keyReleased);
    s.key = s.lastKey = 0;
    w.key = w.lastKey = 0;
    s.lastChar = w.lastChar = 0;
}

bool IO_MouseDown(int32_t button, int32_t device)
{
    return ButtonInRange(button) && DeviceInRange(device) && g_InputState.buttonDown[device][button - 1];
}

bool IO_MousePressed(int32_t button, int32_t device)
{
    return ButtonInRange(button) && DeviceInRange(device) && g_InputState.buttonPressed[device][button - 1];
}

bool IO_MouseReleased(int32_t button, int32_t device)
{
    return ButtonInRange(button) && DeviceInRange(device) && g_InputState.buttonReleased[device][button - 1];
}

void IO_MouseClear(int32_t button, int32_t device)
{
    if (!ButtonInRange(button) || !DeviceInRange(device)) return;
    InputState& s = g_InputState;
    s.buttonDown[device][button - 1] = s.buttonPressed[device][button - 1] = s.buttonReleased[device][button - 1] = 0;
    if (device != 0) return;
    InputPendingState& w = g_InputPending;
    w.buttonDown[button - 1] = w.buttonPressed[button - 1] = w.buttonReleased[button - 1] = 0;
}

bool IO_WheelUp(int32_t device) { return DeviceInRange(device) && g_InputState.wheelUp[device]; }
bool IO_WheelDown(int32_t device) { return DeviceInRange(device) && g_InputState.wheelDown[device]; }

int32_t IO_MouseButton(int32_t device) { return DeviceInRange(device) ? g_InputState.mouseButton[device] : 0; }

int32_t IO_MouseLastButton(int32_t device)
{
    return DeviceInRange(device) ? g_InputState.mouseLastButton[device] : 0;
}

void IO_SetMouseButton(int32_t button, int32_t device)
{
    SeamTrace_Record("IO_SetMouseButton");
    if (ButtonInRange(button) && DeviceInRange(device)) g_InputState.mouseButton[device] = button;
}

void IO_SetMouseLastButton(int32_t button, int32_t device)
{
    SeamTrace_Record("IO_SetMouseLastButton");
    if (ButtonInRange(button) && DeviceInRange(device)) g_InputState.mouseLastButton[device] = button;
}

int32_t IO_GetCurrentKey() { return g_InputState.key; }

void IO_SetCurrentKey(int32_t key)
{
    SeamTrace_Record("IO_SetCurrentKey");
    if (KeyInRange(key)) g_InputState.key = key;
}

int32_t IO_GetLastKey() { return g_InputState.lastKey; }

void IO_SetLastKey(int32_t key)
{
    SeamTrace_Record("IO_SetLastKey");
    g_InputState.lastKey = key;
    g_InputPending.lastKey = key;
    g_InputPending.key = 0;
}

uint16_t IO_GetLastChar() { return g_InputState.lastChar; }

void IO_SetLastChar(uint16_t character)
{
    SeamTrace_Record("IO_SetLastChar");
    g_InputState.lastChar = character;
    g_InputPending.lastChar = character;
}

const char* IO_GetKeyboardString()
{
    // Each unit is one character of 1 to 3 bytes; a surrogate pair stays two characters, as it is stored.
    static char text[kMaxChars * 3 + 1];
    char* p = text;
    for (int i = 0; i < kMaxChars && g_InputState.keyboardString[i]; ++i)
        UTF8_PutChar(&p, g_InputState.keyboardString[i]);
    *p = '\0';
    return text;
}

void IO_SetKeyboardString(const char* text)
{
    SeamTrace_Record("IO_SetKeyboardString");
    if (!text) text = "";
    InputState& s = g_InputState;
    int32_t n = 0;
    while (n < kMaxChars && *text) {
        const uint16_t unit = UTF8_GetChar(&text);
        s.keyboardString[n++] = unit;
    }
    std::memset(s.keyboardString + n, 0, sizeof(uint16_t) * size_t(IO_KEYBOARD_STRING_UNITS - n));
    // A character that decodes to 0 ends the string early: the counter follows what reads back.
    int32_t length = 0;
    while (s.keyboardString[length]) ++length;
    g_KeyboardStringLength = length;
    std::memcpy(g_InputPending.keyboardString, s.keyboardString, sizeof s.keyboardString);
}

int32_t IO_MapKey(int32_t key) { return KeyInRange(key) ? g_InputState.keyMap[key] : key; }

void IO_SetKeyMap(int32_t key, int32_t value)
{
    if (KeyInRange(key)) g_InputState.keyMap[key] = value;
}

void IO_ResetKeyMap()
{
    for (int32_t k = 0; k < 256; ++k) g_InputState.keyMap[k] = k;
}

bool Keyboard_Check(int32_t key)
{
    if (key == 0 || key == 1) {
        bool any = false;
        for (int32_t k = 0; k < 256 && !any; ++k) any = IO_KeyDown(k);
        return key == 0 ? !any : any;
    }
    return key >= 2 && key <= 255 && IO_KeyDown(key);
}

int32_t IO_PendingLastKey() { return g_InputPending.lastKey; }
int32_t IO_PendingLastButton() { return g_InputPending.mouseLastButton; }

void IO_ClearLastButton()
{
    g_InputState.mouseLastButton[0] = 0;
    g_InputPending.mouseLastButton = 0;
}

void IO_SeamSetState(const InputSeamState& state)
{
    // Both sides, so that the state also survives the step's latch.
    InputState& s = g_InputState;
    InputPendingState& w = g_InputPending;
    for (int k = 0; k < 256; ++k) {
        s.keyDown[k] = w.keyDown[k] = state.keyDown[k];
        s.keyPressed[k] = w.keyPressed[k] = state.keyPressed[k];
        s.keyReleased[k] = w.keyReleased[k] = state.keyReleased[k];
    }
    for (int b = 1; b <= 3; ++b) {
        s.buttonDown[0][b - 1] = w.buttonDown[b - 1] = state.mouseDown[b];
        s.buttonPressed[0][b - 1] = w.buttonPressed[b - 1] = state.mousePressed[b];
        s.buttonReleased[0][b - 1] = w.buttonReleased[b - 1] = state.mouseReleased[b];
    }
    s.wheelUp[0] = w.wheelUp = state.wheelUp;
    s.wheelDown[0] = w.wheelDown = state.wheelDown;
}
