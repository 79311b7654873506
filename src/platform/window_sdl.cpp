#include "platform/window_platform.h"

#include "platform/keycodes.h"
#include "platform/platform.h"

#include <SDL.h>

#include <algorithm>
#include <cstdlib>

// ---- Desktop events as window messages ------------------------------------------------------------------

namespace {

constexpr char kWindowClassName[] = "QZKelvaneQZ";
constexpr uintptr_t kWindowDeviceNodesChanged = 7;
constexpr uintptr_t kWindowMouseLeft = 0x01, kWindowMouseRight = 0x02, kWindowMouseMiddle = 0x10;

struct WindowMessageList {
    WindowMessage* out;
    int count;
    void Add(uint32_t message, uintptr_t wParam, intptr_t lParam)
    {
        if (count < WINDOW_MESSAGES_PER_EVENT) out[count++] = {message, wParam, lParam};
    }
};

// One character of UTF-8 text; an invalid or cut-off sequence gives U+FFFD and skips one byte.
uint32_t WindowText_NextCodePoint(const unsigned char** cursor)
{
    const unsigned char* p = *cursor;
    const unsigned char lead = *p;
    int length = 0;
    uint32_t code = 0;
    uint32_t least = 0;
    if (lead < 0x80) {
        *cursor = p + 1;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, least = 0x10000;
    }
    bool valid = length > 0;
    for (int i = 1; valid && i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) valid = false;
        else code = code << 6 | (p[i] & 0x3F);
    }
    if (!valid || code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        *cursor = p + 1;
        return 0xFFFD;
    }
    *cursor = p + length;
    return code;
}

void WindowMessages_Key(const SDL_KeyboardEvent& key, WindowMessageList* list)
{
    const VirtualKey vk = Keycodes_FromSdl(key.keysym.scancode, key.keysym.sym, key.keysym.mod);
    if (!vk.code) return;
    const bool down = key.type == SDL_KEYDOWN;
    // Alt without Ctrl makes the system variants (Ctrl+Alt is how some layouts reach their third level).
    const bool system = (key.keysym.mod & KMOD_ALT) && !(key.keysym.mod & KMOD_CTRL);
    intptr_t lParam = 1 | intptr_t(vk.scanCode) << 16;
    if (vk.extended) lParam |= KEY_EXTENDED;
    if (system) lParam |= intptr_t(1) << 29;
    if (!down) lParam |= KEY_PREVIOUSLY_DOWN | intptr_t(1) << 31;
    else if (key.repeat) lParam |= KEY_PREVIOUSLY_DOWN;
    const uint32_t message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
    list->Add(message, uintptr_t(vk.code), lParam);
    if (!down) return;
    // Text events carry no control characters; these keys type theirs as they always have.
    uintptr_t unit = 0;
    switch (vk.code) {
    case VK_BACK: unit = 8; break;
    case VK_TAB: unit = 9; break;
    case VK_RETURN: unit = 13; break;
    case VK_ESCAPE: unit = 27; break;
    default: return;
    }
    list->Add(system ? WM_SYSCHAR : WM_CHAR, unit, lParam);
}

void WindowMessages_Text(const char* text, WindowMessageList* list)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const uint32_t code = WindowText_NextCodePoint(&p);
        if (code >= 0x10000) {
            list->Add(WM_CHAR, 0xD800 + ((code - 0x10000) >> 10), 1);
            list->Add(WM_CHAR, 0xDC00 + ((code - 0x10000) & 0x3FF), 1);
        } else {
            list->Add(WM_CHAR, code, 1);
        }
    }
}

uintptr_t WindowMessages_ButtonFlags(uint32_t state)
{
    uintptr_t flags = 0;
    if (state & SDL_BUTTON_LMASK) flags |= kWindowMouseLeft;
    if (state & SDL_BUTTON_RMASK) flags |= kWindowMouseRight;
    if (state & SDL_BUTTON_MMASK) flags |= kWindowMouseMiddle;
    return flags;
}

void WindowMessages_Button(const SDL_MouseButtonEvent& button, WindowMessageList* list)
{
    const bool down = button.type == SDL_MOUSEBUTTONDOWN;
    uint32_t message;
    switch (button.button) {
    case SDL_BUTTON_LEFT: message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP; break;
    case SDL_BUTTON_RIGHT: message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP; break;
    case SDL_BUTTON_MIDDLE: message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP; break;
    default: return;  // the side buttons mean nothing to the game
    }
    list->Add(message, 0, Window_MakeLParam(button.x, button.y));
}

void WindowMessages_Wheel(const SDL_MouseWheelEvent& wheel, WindowMessageList* list)
{
    int64_t steps = wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -int64_t(wheel.y) : int64_t(wheel.y);
    if (steps == 0) return;  // a sideways scroll
    const int64_t delta = std::clamp<int64_t>(steps * WHEEL_DELTA, INT16_MIN, INT16_MAX);
    list->Add(WM_MOUSEWHEEL, uintptr_t(uint16_t(int16_t(delta))) << 16, Window_MakeLParam(wheel.mouseX, wheel.mouseY));
}

void WindowMessages_Window(const SDL_WindowEvent& window, WindowMessageList* list)
{
    switch (window.event) {
    case SDL_WINDOWEVENT_RESIZED:
        // The desktop tells neither the start nor the end of a sizing drag: every size the user gives
        // ends one. SDL follows this with the size change itself.
        list->Add(WM_SIZING, 0, 0);
        list->Add(WM_EXITSIZEMOVE, 0, 0);
        break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        list->Add(WM_SIZE, SIZE_RESTORED, Window_MakeLParam(window.data1, window.data2));
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        list->Add(WM_ACTIVATEAPP, 1, 0);
        list->Add(WM_ACTIVATE, WA_ACTIVE, 0);
        list->Add(WM_SETFOCUS, 0, 0);
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        // The desktop does not say which window takes the focus: always another program's.
        list->Add(WM_ACTIVATE, WA_INACTIVE, 0);
        list->Add(WM_ACTIVATEAPP, 0, 0);
        list->Add(WM_KILLFOCUS, 0, 0);
        break;
    case SDL_WINDOWEVENT_CLOSE:
        list->Add(WM_CLOSE, 0, 0);
        break;
    default:
        break;
    }
}

}  // namespace

int WindowMessages_FromEvent(const SDL_Event& event, uint32_t windowId, WindowMessage* out)
{
    WindowMessageList list{out, 0};
    if (windowId != 0) {
        // Other windows (a context's helper window, say) are none of the game's business.
        uint32_t from = 0;
        switch (event.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP: from = event.key.windowID; break;
        case SDL_TEXTINPUT: from = event.text.windowID; break;
        case SDL_MOUSEMOTION: from = event.motion.windowID; break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: from = event.button.windowID; break;
        case SDL_MOUSEWHEEL: from = event.wheel.windowID; break;
        case SDL_WINDOWEVENT: from = event.window.windowID; break;
        default: break;
        }
        if (from != 0 && from != windowId) return 0;
    }
    switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        WindowMessages_Key(event.key, &list);
        break;
    case SDL_TEXTINPUT:
        WindowMessages_Text(event.text.text, &list);
        break;
    case SDL_MOUSEMOTION:
        list.Add(WM_MOUSEMOVE, WindowMessages_ButtonFlags(event.motion.state),
                 Window_MakeLParam(event.motion.x, event.motion.y));
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        WindowMessages_Button(event.button, &list);
        break;
    case SDL_MOUSEWHEEL:
        WindowMessages_Wheel(event.wheel, &list);
        break;
    case SDL_WINDOWEVENT:
        WindowMessages_Window(event.window, &list);
        break;
    case SDL_JOYDEVICEADDED:
    case SDL_JOYDEVICEREMOVED:
        list.Add(WM_DEVICECHANGE, kWindowDeviceNodesChanged, 0);
        break;
    default:
        break;
    }
    return list.count;
}

// ---- The desktop's window ---------------------------------------------------------------------------------

namespace {

// Slots without a cursor of their own on this desktop show the arrow.
constexpr SDL_SystemCursor kWindowCursorSlots[15] = {
    SDL_SYSTEM_CURSOR_ARROW,    SDL_SYSTEM_CURSOR_ARROW,     SDL_SYSTEM_CURSOR_CROSSHAIR, SDL_SYSTEM_CURSOR_IBEAM,
    SDL_SYSTEM_CURSOR_SIZENESW, SDL_SYSTEM_CURSOR_SIZENS,    SDL_SYSTEM_CURSOR_SIZENWSE,  SDL_SYSTEM_CURSOR_SIZEWE,
    SDL_SYSTEM_CURSOR_ARROW,    SDL_SYSTEM_CURSOR_WAIT,      SDL_SYSTEM_CURSOR_HAND,      SDL_SYSTEM_CURSOR_NO,
    SDL_SYSTEM_CURSOR_WAITARROW, SDL_SYSTEM_CURSOR_ARROW,    SDL_SYSTEM_CURSOR_SIZEALL,
};
constexpr int32_t kWindowNoCursorSlot = 1;
constexpr int32_t kWindowUnlimitedSize = 16384;

class DesktopWindow final : public WindowPlatform {
public:
    bool Create(const WindowCreateParams& params) override
    {
        if (!StartVideo()) return false;
        if (m_window) Destroy();
        Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
        if (params.resizable) flags |= SDL_WINDOW_RESIZABLE;
        if (params.borderless) flags |= SDL_WINDOW_BORDERLESS;
        m_window = SDL_CreateWindow(params.title ? params.title : "", params.x, params.y, params.width,
                                    params.height, flags);
        if (!m_window) return false;
        Platform_SetMainWindow(m_window);
        ApplySizeLimits();
        return true;
    }

    void Destroy() override
    {
        if (!m_window) return;
        Platform_SetMainWindow(nullptr);
        SDL_DestroyWindow(m_window);
        m_window = nullptr;
        for (SDL_Cursor*& cursor : m_cursors) {
            if (cursor) SDL_FreeCursor(cursor);
            cursor = nullptr;
        }
    }

    void* Handle() override { return m_window; }
    uint32_t WindowId() override { return m_window ? SDL_GetWindowID(m_window) : 0; }

    void SetTitle(const char* utf8) override
    {
        if (m_window) SDL_SetWindowTitle(m_window, utf8 ? utf8 : "");
    }

    void Show() override
    {
        if (m_window) SDL_ShowWindow(m_window);
    }

    void Hide() override
    {
        if (m_window) SDL_HideWindow(m_window);
    }

    void Raise() override
    {
        if (m_window) SDL_RaiseWindow(m_window);
    }

    void TakeKeyboardFocus() override
    {
        if (m_window) SDL_SetWindowInputFocus(m_window);
    }

    void SetPosition(int32_t x, int32_t y) override
    {
        if (m_window) SDL_SetWindowPosition(m_window, x, y);
    }

    void SetClientSize(int32_t width, int32_t height) override
    {
        if (m_window && width > 0 && height > 0) SDL_SetWindowSize(m_window, width, height);
    }

    bool GetClientSize(int32_t* width, int32_t* height) override
    {
        if (!m_window) return false;
        SDL_GetWindowSize(m_window, width, height);
        return true;
    }

    bool ClientToScreen(int32_t x, int32_t y, int32_t* screenX, int32_t* screenY) override
    {
        if (!m_window) return false;
        int left = 0, top = 0;
        SDL_GetWindowPosition(m_window, &left, &top);
        *screenX = left + x;
        *screenY = top + y;
        return true;
    }

    bool GetOuterRect(int32_t* x, int32_t* y, int32_t* width, int32_t* height) override
    {
        if (!m_window) return false;
        int left = 0, top = 0, right = 0, bottom = 0, cx = 0, cy = 0, cw = 0, ch = 0;
        SDL_GetWindowPosition(m_window, &cx, &cy);
        SDL_GetWindowSize(m_window, &cw, &ch);
        if (SDL_GetWindowBordersSize(m_window, &top, &left, &bottom, &right) != 0) left = top = right = bottom = 0;
        *x = cx - left;
        *y = cy - top;
        *width = cw + left + right;
        *height = ch + top + bottom;
        return true;
    }

    void FrameExtents(bool borderless, int32_t* left, int32_t* top, int32_t* right, int32_t* bottom) override
    {
        *left = *top = *right = *bottom = 0;
        // Before the window is there, or without a window manager, the frame is unknown.
        if (borderless || !m_window) return;
        int t = 0, l = 0, b = 0, r = 0;
        if (SDL_GetWindowBordersSize(m_window, &t, &l, &b, &r) != 0) return;
        *left = l, *top = t, *right = r, *bottom = b;
    }

    void GetScreenSize(int32_t* width, int32_t* height) override
    {
        SDL_Rect bounds{0, 0, 0, 0};
        if (!StartVideo() || SDL_GetDisplayBounds(0, &bounds) != 0) bounds.w = bounds.h = 0;
        *width = bounds.w;
        *height = bounds.h;
    }

    void SetSizeLimits(int32_t minWidth, int32_t minHeight, int32_t maxWidth, int32_t maxHeight) override
    {
        m_limits[0] = minWidth, m_limits[1] = minHeight, m_limits[2] = maxWidth, m_limits[3] = maxHeight;
        ApplySizeLimits();
    }

    void SetFullScreen(bool fullScreen) override
    {
        if (m_window) SDL_SetWindowFullscreen(m_window, fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    }

    void SetCursorSlot(int32_t slot) override
    {
        if (!Platform_VideoStarted() || slot < 0 || slot >= 15) return;
        if (slot == kWindowNoCursorSlot) {
            SDL_ShowCursor(SDL_DISABLE);
            return;
        }
        if (!m_cursors[slot]) m_cursors[slot] = SDL_CreateSystemCursor(kWindowCursorSlots[slot]);
        if (m_cursors[slot]) SDL_SetCursor(m_cursors[slot]);
        SDL_ShowCursor(SDL_ENABLE);
    }

    void CaptureMouse(bool capture) override
    {
        // Refused while the window has no focus; the buttons then simply end outside it.
        if (m_window) SDL_CaptureMouse(capture ? SDL_TRUE : SDL_FALSE);
    }

    void WarpMouse(int32_t screenX, int32_t screenY) override
    {
        if (Platform_VideoStarted()) SDL_WarpMouseGlobal(screenX, screenY);
    }

    bool RightShiftDown() override
    {
        if (!Platform_VideoStarted()) return false;
        const Uint8* keys = SDL_GetKeyboardState(nullptr);
        return keys && keys[SDL_SCANCODE_RSHIFT];
    }

    void DeliverGeometryEvents(void (*handler)(const SDL_Event& event)) override
    {
        if (!m_window || !handler) return;
        SDL_PumpEvents();
        SDL_Event events[16];
        int count;
        while ((count = SDL_PeepEvents(events, 16, SDL_GETEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT)) > 0)
            for (int i = 0; i < count; ++i) handler(events[i]);
    }

private:
    // The window's size is fitted to the screen before the window is made, so video starts here too.
    static bool StartVideo()
    {
        if (Platform_VideoStarted()) return true;
        // The class hint is read when video starts.
        SDL_SetHint("SDL_VIDEO_X11_WMCLASS", kWindowClassName);
        setenv("SDL_VIDEO_X11_WMCLASS", kWindowClassName, 1);
        return Platform_StartVideo();
    }

    void ApplySizeLimits()
    {
        if (!m_window) return;
        // SDL takes only positive limits: no minimum is 1, no maximum a size no desktop reaches.
        const int minWidth = std::max(m_limits[0], 1), minHeight = std::max(m_limits[1], 1);
        const int maxWidth = m_limits[2] > 0 ? m_limits[2] : kWindowUnlimitedSize;
        const int maxHeight = m_limits[3] > 0 ? m_limits[3] : kWindowUnlimitedSize;
        SDL_SetWindowMinimumSize(m_window, minWidth, minHeight);
        SDL_SetWindowMaximumSize(m_window, std::max(maxWidth, minWidth), std::max(maxHeight, minHeight));
    }

    SDL_Window* m_window = nullptr;
    SDL_Cursor* m_cursors[15] = {};
    int32_t m_limits[4] = {-1, -1, -1, -1};
};

DesktopWindow g_desktopWindow;
WindowPlatform* g_windowPlatform = nullptr;

}  // namespace

WindowPlatform* WindowPlatform_Get() { return g_windowPlatform ? g_windowPlatform : &g_desktopWindow; }
void WindowPlatform_Set(WindowPlatform* platform) { g_windowPlatform = platform; }
