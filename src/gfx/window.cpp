#include "gfx/window.h"

#include "core/console.h"
#include "core/error.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/text.h"
#include "gfx/device.h"
#include "input/input.h"
#include "layers/layers.h"
#include "platform/display_platform.h"
#include "platform/error_dialog.h"
#include "platform/keycodes.h"
#include "platform/messages.h"
#include "platform/window_platform.h"
#include "services/services.h"
#include "world/command_line.h"
#include "world/loader.h"
#include "world/options.h"

#include <algorithm>
#include <cstring>

void* Window_Handle = nullptr;
uint32_t Window_WindowedStyle = WINDOW_STYLE_FIXED;
uint32_t Window_FullScreenStyle = WINDOW_STYLE_POPUP;
char* Window_Caption = nullptr;
int32_t Window_CursorConstant = 0;
int32_t Window_CursorSlot = 0;
int32_t Window_MinWidth = -1, Window_MaxWidth = -1, Window_MinHeight = -1, Window_MaxHeight = -1;
int32_t Window_RequestedWidth = 640, Window_RequestedHeight = 480;
int32_t Window_ClientWidth = 640, Window_ClientHeight = 480;
int32_t Window_PendingWidth = -1, Window_PendingHeight = -1;
int32_t Window_SavedWidth = -1, Window_SavedHeight = -1;
bool Window_FullScreen = false;
bool Window_UserSized = false;
bool Window_InSizeMove = false;
bool Window_SkipNextSize = true;
bool Window_NotYetShown = true;
uint32_t Window_Colour = 0xFF000000u;
int32_t Window_CaptureCount = 0;
intptr_t Window_RightShiftScanCode = 0;
uint8_t Window_DeviceFullScreen = 0;
uint8_t Window_Active = 1;
uint32_t Window_SharedWord = 0;

namespace {

constexpr int32_t kWindowNoCursor = 1;
// cr_ constants 0 ... -22 (by their negation) to the slots of the cursor table.
constexpr int8_t kWindowCursorSlotOf[23] = {0, 1, 0, 2, 3, 1, 4, 5, 6, 7, 8, 9, 10, 11, 11, 11, 11, 11, 11, 12, 13, 10, 14};

bool g_windowBorderless = false;  // the game's header asked for no frame
bool g_windowClosed = false;      // the user closed the window; it waits hidden for shutdown

WindowPlatform* Window_Platform() { return WindowPlatform_Get(); }

void Window_ApplySizeLimits()
{
    Window_Platform()->SetSizeLimits(Window_MinWidth, Window_MinHeight, Window_MaxWidth, Window_MaxHeight);
}

// Messages the window procedure leaves to the system: Alt+F4 and the close command close the window,
// a character typed with Alt held is a menu key.
intptr_t Window_DefaultProc(void* window, uint32_t message, uintptr_t wParam, intptr_t)
{
    switch (message) {
    case WM_SYSKEYDOWN:
        if (wParam == uintptr_t(VK_F4)) return Window_Proc(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    case WM_SYSCHAR:
        return Window_Proc(window, WM_SYSCOMMAND, SC_KEYMENU, intptr_t(wParam));
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) return Window_Proc(window, WM_CLOSE, 0, 0);
        return 0;
    default:
        return 0;
    }
}

// The user's close: the window goes away for the player, but stays for the device until shutdown.
void Window_CloseByUser(void* window)
{
    if (!Window_Handle || g_windowClosed) return;
    g_windowClosed = true;
    Window_Platform()->Hide();
    Window_Proc(window, WM_DESTROY, 0, 0);
}

void Window_KeyDown(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    const bool repeat = (lParam & KEY_PREVIOUSLY_DOWN) != 0;
    const bool extended = (lParam & KEY_EXTENDED) != 0;
    const auto key = int32_t(wParam);
    switch (key) {
    case VK_MENU:
        IO_OnKeyDown(VK_MENU, repeat);
        IO_OnKeyDown(extended ? VK_RMENU : VK_LMENU, repeat);
        break;
    case VK_CONTROL:
        IO_OnKeyDown(VK_CONTROL, repeat);
        IO_OnKeyDown(extended ? VK_RCONTROL : VK_LCONTROL, repeat);
        break;
    case VK_SHIFT:
        IO_OnKeyDown(VK_SHIFT, repeat);
        // Asks whether right Shift is down, not whether this key is it.
        if (Window_Platform()->RightShiftDown()) {
            Window_RightShiftScanCode = lParam & KEY_SCAN_CODE_MASK;
            IO_OnKeyDown(VK_RSHIFT, repeat);
        } else {
            IO_OnKeyDown(VK_LSHIFT, repeat);
        }
        break;
    default:
        if (key == VK_F4 && message == WM_SYSKEYDOWN) {
            if (!g_GameChanging) {
                Window_DefaultProc(window, message, wParam, lParam);
                return;
            }
            F_GameEnd();
        }
        IO_OnKeyDown(key, repeat);
        break;
    }
}

void Window_KeyUp(intptr_t lParam, uintptr_t wParam)
{
    const bool extended = (lParam & KEY_EXTENDED) != 0;
    const auto key = int32_t(wParam);
    switch (key) {
    case VK_MENU:
        IO_OnKeyUp(VK_MENU);
        IO_OnKeyUp(extended ? VK_RMENU : VK_LMENU);
        break;
    case VK_CONTROL:
        IO_OnKeyUp(VK_CONTROL);
        IO_OnKeyUp(extended ? VK_RCONTROL : VK_LCONTROL);
        break;
    case VK_SHIFT:
        IO_OnKeyUp(VK_SHIFT);
        IO_OnKeyUp((lParam & KEY_SCAN_CODE_MASK) == Window_RightShiftScanCode ? VK_RSHIFT : VK_LSHIFT);
        break;
    default:
        IO_OnKeyUp(key);
        break;
    }
}

void Window_MouseDown(int32_t button, intptr_t lParam)
{
    if (++Window_CaptureCount == 1) Window_Platform()->CaptureMouse(true);
    IO_OnMouseDown(button, Window_LowSigned(lParam), Window_HighSigned(lParam));
}

void Window_MouseUp(int32_t button, intptr_t lParam)
{
    if (--Window_CaptureCount <= 0) {
        Window_CaptureCount = 0;
        Window_Platform()->CaptureMouse(false);
    }
    IO_OnMouseUp(button, Window_LowSigned(lParam), Window_HighSigned(lParam));
}

void Window_ClientSizeAtLeastOne(int32_t* width, int32_t* height)
{
    int32_t w = 0, h = 0;
    if (!Window_Platform()->GetClientSize(&w, &h)) w = h = 0;
    *width = std::max(w, 1);
    *height = std::max(h, 1);
}

}  // namespace

void Window_ResetState()
{
    Window_Handle = nullptr;
    Window_WindowedStyle = WINDOW_STYLE_FIXED;
    Window_FullScreenStyle = WINDOW_STYLE_POPUP;
    MemFree(Window_Caption);
    Window_Caption = nullptr;
    Window_CursorConstant = 0;
    Window_CursorSlot = 0;
    Window_MinWidth = Window_MaxWidth = Window_MinHeight = Window_MaxHeight = -1;
    Window_RequestedWidth = Window_ClientWidth = 640;
    Window_RequestedHeight = Window_ClientHeight = 480;
    Window_PendingWidth = Window_PendingHeight = -1;
    Window_SavedWidth = Window_SavedHeight = -1;
    Window_FullScreen = false;
    Window_ResetCountdown = 0;
    Window_UserSized = false;
    Window_InSizeMove = false;
    Window_SkipNextSize = true;
    Window_NotYetShown = true;
    Window_Colour = 0xFF000000u;
    Window_CaptureCount = 0;
    Window_RightShiftScanCode = 0;
    Window_DeviceFullScreen = 0;
    Window_Active = 1;
    Window_SharedWord = 0;
    g_windowBorderless = false;
    g_windowClosed = false;
}

// ---- Creation and destruction ------------------------------------------------------------------------

bool Window_Create(int32_t width, int32_t height)
{
    WindowPlatform* platform = Window_Platform();
    const uint32_t flags = g_GameData.windowFlags;
    g_windowBorderless = (flags & WINDOW_FLAG_BORDERLESS) != 0;
    g_windowClosed = false;

    int32_t screenWidth = 0, screenHeight = 0;
    platform->GetScreenSize(&screenWidth, &screenHeight);
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    platform->FrameExtents(g_windowBorderless, &left, &top, &right, &bottom);
    const int32_t allowance = g_windowBorderless ? 0 : top + bottom;
    int32_t clientWidth = width, clientHeight = height;
    // A desktop that does not tell its size does not clamp.
    if (screenWidth > 0) clientWidth = std::min(clientWidth, screenWidth);
    if (screenHeight > 0) clientHeight = std::min(clientHeight, screenHeight - allowance);
    Window_ClientWidth = clientWidth;
    Window_ClientHeight = clientHeight;

    Window_WindowedStyle = g_windowBorderless                ? WINDOW_STYLE_POPUP
                           : (flags & WINDOW_FLAG_RESIZABLE) ? WINDOW_STYLE_SIZEABLE
                                                             : WINDOW_STYLE_FIXED;
    const uint32_t style = (flags & WINDOW_FLAG_FULL_SCREEN) ? Window_FullScreenStyle : Window_WindowedStyle;
    Window_RequestedWidth = width;
    Window_RequestedHeight = height;

    DebugConsole->Output("AdjustWindowRectEx\n");
    const bool popup = (style & WINDOW_STYLE_POPUP) != 0;
    platform->FrameExtents(popup, &left, &top, &right, &bottom);
    const int32_t outerWidth = clientWidth + left + right, outerHeight = clientHeight + top + bottom;
    WindowCreateParams params{};
    params.title = "";
    params.x = (screenWidth - outerWidth) / 2 + left;
    params.y = (screenHeight - outerHeight) / 2 + top;
    params.width = clientWidth;
    params.height = clientHeight;
    params.resizable = style == WINDOW_STYLE_SIZEABLE;
    params.borderless = popup;
    DebugConsole->Output("RegisterClassEx\n");
    DebugConsole->Output("CreateWindowEx\n");
    if (Window_Handle) platform->Destroy();  // made again without a shutdown between
    Window_Handle = nullptr;
    if (!platform->Create(params) || !platform->Handle()) {
        ReleaseConsole->Output("Failed to create mainwindow\n");
        return false;
    }
    Window_Handle = platform->Handle();
    Platform_SetWindowEventHandler(Window_OnPlatformEvent);
    Window_ApplySizeLimits();

    Window_SetCaption(Game_DisplayName());
    if ((flags & WINDOW_FLAG_SHOW_CURSOR) && g_GameOptions.showCursor) {
        Window_CursorSlot = 0;
        Window_CursorConstant = 0;
    } else {
        Window_CursorSlot = kWindowNoCursor;
        Window_CursorConstant = -1;
    }
    platform->SetCursorSlot(Window_CursorSlot);
    DirectInput_Init();
    return true;
}

void Window_Destroy()
{
    if (!Window_Handle) return;
    if (!g_windowClosed) Window_Proc(Window_Handle, WM_DESTROY, 0, 0);
    Platform_SetWindowEventHandler(nullptr);
    Window_Platform()->Destroy();
    Window_Handle = nullptr;
    g_windowClosed = false;
    Window_CaptureCount = 0;
    Window_InSizeMove = false;
    // A restart makes the window again and shows it at its first present.
    Window_NotYetShown = true;
    Window_SkipNextSize = true;
}

// ---- The window procedure ----------------------------------------------------------------------------

intptr_t Window_Proc(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    switch (message) {
    case WM_DESTROY:
        Window_SharedWord = 0;
        Window_PostQuit();
        return Window_DefaultProc(window, message, wParam, lParam);
    case WM_SIZE:
        if (Window_InSizeMove || Window_FullScreen) return 0;
        if (wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED) {
            // The size message of the first show is not the user's doing.
            if (Window_SkipNextSize) {
                Window_SkipNextSize = false;
                return 0;
            }
            const int32_t width = int32_t(uintptr_t(lParam) & 0xFFFF), height = int32_t((uintptr_t(lParam) >> 16) & 0xFFFF);
            Window_UserSized = true;
            if (width != 0 && height != 0) {
                Window_PendingWidth = width;
                Window_PendingHeight = height;
            } else {
                Window_PendingWidth = Window_PendingHeight = -1;
            }
            Window_ResetCountdown = 10;
        }
        return Window_DefaultProc(window, message, wParam, lParam);
    case WM_ACTIVATE:
        if ((wParam & 0xFFFF) == WA_INACTIVE && lParam == 0) OSPauseEvent_Register();
        return Window_DefaultProc(window, message, wParam, lParam);
    case WM_SETFOCUS:
        Window_Active = 1;
        return 0;
    case WM_KILLFOCUS:
        Window_Active = 0;
        return 0;
    case WM_CLOSE:
        Window_CloseByUser(window);
        return 0;
    case WM_ACTIVATEAPP:
        Window_Active = wParam != 0 ? 1 : 0;
        return Window_DefaultProc(window, message, wParam, lParam);
    case WM_SETCURSOR:
        if ((lParam & 0xFFFF) == HTCLIENT) {
            Window_Platform()->SetCursorSlot(g_GameOptions.showCursor ? Window_CursorSlot : kWindowNoCursor);
            return 1;
        }
        return Window_DefaultProc(window, message, wParam, lParam);
    case WM_NCACTIVATE:
        if (!Window_Active && wParam == 1) {
            Window_Active = 1;
            Window_Platform()->TakeKeyboardFocus();
        }
        return Window_DefaultProc(window, message, wParam, lParam);
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        Window_KeyDown(window, message, wParam, lParam);
        return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        Window_KeyUp(lParam, wParam);
        return 0;
    case WM_CHAR:
        IO_OnChar(uint16_t(wParam));
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_KEYMENU && lParam == 13 && g_GameOptions.altEnterFullScreen)
            Window_SetFullScreen(!Window_GetFullScreen());
        return Window_DefaultProc(window, message, wParam, lParam);
    case WM_MOUSEMOVE:
        IO_RawMouse.x = Window_LowSigned(lParam);
        IO_RawMouse.y = Window_HighSigned(lParam);
        return Window_DefaultProc(window, message, wParam, lParam);
    case WM_LBUTTONDOWN:
        Window_MouseDown(1, lParam);
        return Window_DefaultProc(window, message, wParam, lParam);
    case WM_RBUTTONDOWN:
        Window_MouseDown(2, lParam);
        return Window_DefaultProc(window, message, wParam, lParam);
    case WM_MBUTTONDOWN:
        Window_MouseDown(3, lParam);
        return Window_DefaultProc(window, message, wParam, lParam);
    case WM_LBUTTONUP:
    case WM_NCLBUTTONUP:
        Window_MouseUp(1, lParam);
        return Window_DefaultProc(window, message, wParam, lParam);
    case WM_RBUTTONUP:
    case WM_NCRBUTTONUP:
        Window_MouseUp(2, lParam);
        return Window_DefaultProc(window, message, wParam, lParam);
    case WM_MBUTTONUP:
    case WM_NCMBUTTONUP:
        Window_MouseUp(3, lParam);
        return Window_DefaultProc(window, message, wParam, lParam);
    case WM_MOUSEWHEEL: {
        const auto delta = int16_t(uint16_t((wParam >> 16) & 0xFFFF));
        if (delta > 0) IO_OnWheelUp();
        else if (delta < 0) IO_OnWheelDown();
        return delta == 0 ? 1 : 0;
    }
    case WM_SIZING:
        Window_InSizeMove = true;
        return 0;
    case WM_EXITSIZEMOVE:
        if (Window_InSizeMove) {
            Window_InSizeMove = false;
            Window_UserSized = true;
            Window_ClientSizeAtLeastOne(&Window_PendingWidth, &Window_PendingHeight);
            Window_ResetCountdown = 10;
        }
        return 0;
    case WM_DEVICECHANGE:
        ReadJoystick();
        XInput_DetectPads();
        if (!g_RunFlags.noDirectInput) DirectInput_DetectPads();
        return Window_DefaultProc(window, message, wParam, lParam);
    default:
        return Window_DefaultProc(window, message, wParam, lParam);
    }
}

void Window_OnPlatformEvent(const SDL_Event& event)
{
    if (!Window_Handle) return;
    WindowMessage messages[WINDOW_MESSAGES_PER_EVENT];
    const int count = WindowMessages_FromEvent(event, Window_Platform()->WindowId(), messages);
    for (int i = 0; i < count; ++i) {
        const WindowMessage& m = messages[i];
        // A full-screen window is sized by the desktop, never dragged by the user.
        if ((m.message == WM_SIZING || m.message == WM_EXITSIZEMOVE) && (Window_FullScreen || Window_DeviceFullScreen))
            continue;
        Window_Proc(Window_Handle, m.message, m.wParam, m.lParam);
    }
}

// ---- Caption, full screen, place and size -------------------------------------------------------------

void Window_BringToFront()
{
    WindowPlatform* platform = Window_Platform();
    platform->Show();
    platform->Raise();
    platform->TakeKeyboardFocus();
}

void Window_SetCaption(const char* text)
{
    if (!text) text = "";
    MemFree(Window_Caption);
    Window_Caption = String_Duplicate(text);
    // Bytes that are no UTF-8 show as replacement characters, as the title's UTF-16 form has them.
    if (Window_Handle) Window_Platform()->SetTitle(Platform_ValidUtf8(Window_Caption).c_str());
}

const char* Window_GetCaption() { return Window_Caption; }

void Window_SetFullScreen(bool fullScreen)
{
    if (fullScreen == Window_FullScreen) return;
    if (!Window_FullScreen) {
        Window_SavedWidth = GR_BackBufferWidth;
        Window_SavedHeight = GR_BackBufferHeight;
    }
    Window_FullScreen = fullScreen;
    Window_ResetCountdown = 1;
}

bool Window_GetFullScreen() { return Window_FullScreen; }

void Window_SetPosition(int32_t x, int32_t y) { Window_Platform()->SetPosition(x, y); }

int32_t Window_GetX()
{
    int32_t x = 0, y = 0;
    return Window_Platform()->ClientToScreen(0, 0, &x, &y) ? x : 0;
}

int32_t Window_GetY()
{
    int32_t x = 0, y = 0;
    return Window_Platform()->ClientToScreen(0, 0, &x, &y) ? y : 0;
}

int32_t Window_GetClientWidth()
{
    int32_t width = 0, height = 0;
    if (Window_Platform()->GetClientSize(&width, &height)) return width;
    DebugConsole->Output("GetClientRect failed\n");
    return 0;
}

int32_t Window_GetClientHeight()
{
    int32_t width = 0, height = 0;
    if (Window_Platform()->GetClientSize(&width, &height)) return height;
    DebugConsole->Output("GetClientRect failed\n");
    return 0;
}

void Window_SetSize(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0) return;
    Window_PendingWidth = width;
    Window_PendingHeight = height;
    if ((width == Window_ClientWidth && height == Window_ClientHeight) || Window_FullScreen) return;
    // A reset due at the next frame is not put off.
    if (Window_ResetCountdown <= 10 && Window_ResetCountdown != 1) Window_ResetCountdown = 10;
}

void Window_SetRectangle(int32_t x, int32_t y, int32_t width, int32_t height)
{
    Window_SetPosition(x, y);
    Window_SetSize(width, height);
    Window_UserSized = true;
}

int32_t Window_SetMinWidth(int32_t value)
{
    Window_MinWidth = value;
    Window_ApplySizeLimits();
    return value;
}

int32_t Window_SetMaxWidth(int32_t value)
{
    Window_MaxWidth = value;
    Window_ApplySizeLimits();
    return value;
}

int32_t Window_SetMinHeight(int32_t value)
{
    Window_MinHeight = value;
    Window_ApplySizeLimits();
    return value;
}

int32_t Window_SetMaxHeight(int32_t value)
{
    Window_MaxHeight = value;
    Window_ApplySizeLimits();
    return value;
}

int32_t Window_GetRequestedWidth() { return Window_RequestedWidth; }
int32_t Window_GetRequestedHeight() { return Window_RequestedHeight; }

void Window_SetColour(uint32_t colour) { Window_Colour = (colour & 0xFFFFFFu) | 0xFF000000u; }
uint32_t Window_GetColour() { return Window_Colour & 0xFFFFFFu; }

// ---- Cursor and mouse ---------------------------------------------------------------------------------

void Window_SetCursor(int32_t cursor)
{
    SeamTrace_Record("Window_SetCursor");  // tests follow the game's cursor changes through the trace
    Window_CursorConstant = cursor;
    if (cursor < -22 || cursor > 0) return;
    if (g_GameOptions.showCursor) Window_CursorSlot = kWindowCursorSlotOf[-cursor];
    // The desktop asks the window for no cursor over its client area: what it would be given is set now.
    Window_Platform()->SetCursorSlot(g_GameOptions.showCursor ? Window_CursorSlot : kWindowNoCursor);
}

int32_t Window_GetCursor() { return Window_CursorConstant; }

void Window_SetMouse(int32_t x, int32_t y)
{
    if (!Window_Active) return;
    WindowPlatform* platform = Window_Platform();
    int32_t screenX = 0, screenY = 0;
    if (!platform->ClientToScreen(x, y, &screenX, &screenY)) {
        int32_t left = 0, top = 0, width = 0, height = 0;
        if (!platform->GetOuterRect(&left, &top, &width, &height)) left = top = 0;
        screenX = left + x;
        screenY = top + y;
    }
    platform->WarpMouse(screenX, screenY);
}

int32_t Window_GetVisibleRects(double x1, double y1, double x2, double y2, double** records)
{
    *records = nullptr;
    DisplaySource* displays = PlatformDisplay_Get();
    const int32_t count = std::max(displays->Count(), 0);
    if (count == 0) return 0;
    auto* out = static_cast<double*>(MemAlloc(sizeof(double) * 8 * size_t(count)));
    for (int32_t i = 0; i < count; ++i) {
        double* record = out + 8 * i;
        int32_t x = 0, y = 0, width = 0, height = 0;
        if (!displays->Bounds(i, &x, &y, &width, &height)) x = y = width = height = 0;
        const double left = x, top = y, right = double(x) + width, bottom = double(y) + height;
        record[4] = left, record[5] = top, record[6] = right, record[7] = bottom;
        if (x2 > left && x1 < right && y2 > top && y1 < bottom) {
            record[0] = std::max(x1, left), record[1] = std::max(y1, top);
            record[2] = std::min(x2, right), record[3] = std::min(y2, bottom);
        } else {
            record[0] = record[1] = record[2] = record[3] = 0.0;
        }
    }
    *records = out;
    return count;
}

bool Window_ShowFirstTime()
{
    if (!Window_NotYetShown) return false;
    WindowPlatform* platform = Window_Platform();
    const int rounds = g_windowBorderless ? 1 : 10;
    for (int i = 0; i < rounds; ++i) {
        platform->Show();
        ProcessMessages();
    }
    platform->TakeKeyboardFocus();
    Window_NotYetShown = false;
    return true;
}

// ---- For the device's resets --------------------------------------------------------------------------

void Window_GetScreenSize(int32_t* width, int32_t* height) { Window_Platform()->GetScreenSize(width, height); }

void Window_SetClientSize(int32_t width, int32_t height)
{
    WindowPlatform* platform = Window_Platform();
    platform->SetClientSize(width, height);
    platform->DeliverGeometryEvents(Window_OnPlatformEvent);
}

void Window_PlaceClient(int32_t x, int32_t y, int32_t width, int32_t height)
{
    WindowPlatform* platform = Window_Platform();
    platform->SetPosition(x, y);
    platform->SetClientSize(width, height);
    platform->DeliverGeometryEvents(Window_OnPlatformEvent);
}

void Window_ApplyFullScreen(bool fullScreen)
{
    WindowPlatform* platform = Window_Platform();
    platform->SetFullScreen(fullScreen);
    platform->DeliverGeometryEvents(Window_OnPlatformEvent);
}
