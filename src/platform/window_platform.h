// The main window as the desktop gives it: one window and the operations the window module needs, and the
// desktop's events turned into the window messages that module's window procedure understands.
// Coordinates are pixels; positions name the client area's top-left, sizes the client area, unless said.
#pragma once
#include <cstdint>

union SDL_Event;

// Window messages and their parameters, with the numbers the runtime has always used.
constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_SIZE = 0x0005;
constexpr uint32_t WM_ACTIVATE = 0x0006;
constexpr uint32_t WM_SETFOCUS = 0x0007;
constexpr uint32_t WM_KILLFOCUS = 0x0008;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_ACTIVATEAPP = 0x001C;
constexpr uint32_t WM_SETCURSOR = 0x0020;
constexpr uint32_t WM_GETMINMAXINFO = 0x0024;
constexpr uint32_t WM_NCACTIVATE = 0x0086;
constexpr uint32_t WM_NCLBUTTONUP = 0x00A2;
constexpr uint32_t WM_NCRBUTTONUP = 0x00A5;
constexpr uint32_t WM_NCMBUTTONUP = 0x00A8;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_KEYUP = 0x0101;
constexpr uint32_t WM_CHAR = 0x0102;
constexpr uint32_t WM_SYSKEYDOWN = 0x0104;
constexpr uint32_t WM_SYSKEYUP = 0x0105;
constexpr uint32_t WM_SYSCHAR = 0x0106;
constexpr uint32_t WM_SYSCOMMAND = 0x0112;
constexpr uint32_t WM_MOUSEMOVE = 0x0200;
constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
constexpr uint32_t WM_LBUTTONUP = 0x0202;
constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
constexpr uint32_t WM_RBUTTONUP = 0x0205;
constexpr uint32_t WM_MBUTTONDOWN = 0x0207;
constexpr uint32_t WM_MBUTTONUP = 0x0208;
constexpr uint32_t WM_MOUSEWHEEL = 0x020A;
constexpr uint32_t WM_SIZING = 0x0214;
constexpr uint32_t WM_EXITSIZEMOVE = 0x0232;
constexpr uint32_t WM_DEVICECHANGE = 0x0219;

constexpr uintptr_t SIZE_RESTORED = 0;
constexpr uintptr_t SIZE_MINIMIZED = 1;
constexpr uintptr_t SIZE_MAXIMIZED = 2;
constexpr uintptr_t WA_INACTIVE = 0;
constexpr uintptr_t WA_ACTIVE = 1;
constexpr uintptr_t SC_CLOSE = 0xF060;
constexpr uintptr_t SC_KEYMENU = 0xF100;
constexpr intptr_t HTCLIENT = 1;
constexpr int32_t WHEEL_DELTA = 120;

// Bits of a key message's lParam.
constexpr intptr_t KEY_SCAN_CODE_MASK = 0xFF0000;
constexpr intptr_t KEY_EXTENDED = intptr_t(1) << 24;
constexpr intptr_t KEY_PREVIOUSLY_DOWN = intptr_t(1) << 30;

struct WindowMessage {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

// Two signed 16-bit halves, as mouse positions and sizes travel in lParam.
constexpr intptr_t Window_MakeLParam(int32_t low, int32_t high)
{
    return intptr_t(uint32_t(uint16_t(low)) | uint32_t(uint16_t(high)) << 16);
}
constexpr int32_t Window_LowSigned(intptr_t value) { return int16_t(uint16_t(uintptr_t(value) & 0xFFFF)); }
constexpr int32_t Window_HighSigned(intptr_t value) { return int16_t(uint16_t((uintptr_t(value) >> 16) & 0xFFFF)); }

// The messages one desktop event stands for, at most WINDOW_MESSAGES_PER_EVENT (a text event holds at
// most 31 bytes, each character one or two UTF-16 units). Events that mean nothing to the window, and
// keys without a virtual-key code, give none.
// windowId, when not 0, is the window whose events count; other windows' events give none.
constexpr int WINDOW_MESSAGES_PER_EVENT = 64;
int WindowMessages_FromEvent(const SDL_Event& event, uint32_t windowId, WindowMessage* out);

struct WindowCreateParams {
    const char* title;  // UTF-8
    int32_t x, y;       // client top-left
    int32_t width, height;
    bool resizable;
    bool borderless;
};

class WindowPlatform {
public:
    virtual ~WindowPlatform() = default;
    // Hidden until Show; able to carry an OpenGL context. False when no window can be made.
    virtual bool Create(const WindowCreateParams& params) = 0;
    virtual void Destroy() = 0;
    virtual void* Handle() = 0;  // the SDL window, null when there is none
    virtual uint32_t WindowId() = 0;  // the id its events carry; 0: take every event
    virtual void SetTitle(const char* utf8) = 0;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual void Raise() = 0;
    virtual void TakeKeyboardFocus() = 0;
    virtual void SetPosition(int32_t x, int32_t y) = 0;
    virtual void SetClientSize(int32_t width, int32_t height) = 0;
    virtual bool GetClientSize(int32_t* width, int32_t* height) = 0;
    // The client point (x, y) on the desktop.
    virtual bool ClientToScreen(int32_t x, int32_t y, int32_t* screenX, int32_t* screenY) = 0;
    // The whole window, frame included (the frame may be unknown and then counts as none).
    virtual bool GetOuterRect(int32_t* x, int32_t* y, int32_t* width, int32_t* height) = 0;
    // What a frame adds around the client area (0 for a borderless window or when the desktop will not say).
    virtual void FrameExtents(bool borderless, int32_t* left, int32_t* top, int32_t* right, int32_t* bottom) = 0;
    virtual void GetScreenSize(int32_t* width, int32_t* height) = 0;
    // Client-size limits for the user's sizing; 0 or less: none.
    virtual void SetSizeLimits(int32_t minWidth, int32_t minHeight, int32_t maxWidth, int32_t maxHeight) = 0;
    virtual void SetFullScreen(bool fullScreen) = 0;
    // A slot of the cursor table: 0 arrow, 1 none, 2 cross, 3 I-beam, 4-7 sizing NE-SW, N-S, NW-SE, W-E,
    // 8 up arrow, 9 wait, 10 hand, 11 no-entry, 12 app-starting, 13 help, 14 size-all.
    virtual void SetCursorSlot(int32_t slot) = 0;
    virtual void CaptureMouse(bool capture) = 0;
    virtual void WarpMouse(int32_t screenX, int32_t screenY) = 0;
    virtual bool RightShiftDown() = 0;
    // The window events that the last change of size or mode caused go to the handler now, as the
    // messages of such a change used to arrive before the change returned.
    virtual void DeliverGeometryEvents(void (*handler)(const SDL_Event& event)) = 0;
};

// The desktop's window unless a test installed another. Never null.
WindowPlatform* WindowPlatform_Get();
// Tests install a fake (null puts the desktop's back); the caller keeps ownership.
void WindowPlatform_Set(WindowPlatform* platform);
