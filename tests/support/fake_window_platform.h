// A desktop that records what the window module asks of it, for tests without a display.
#pragma once
#include "platform/window_platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kvtest {

class FakeWindowPlatform final : public WindowPlatform {
public:
    std::vector<std::string> calls;
    bool createSucceeds = true;
    bool exists = false;
    WindowCreateParams created{};
    std::string title;
    int32_t clientX = 100, clientY = 50;
    int32_t clientWidth = 640, clientHeight = 480;
    int32_t screenWidth = 1920, screenHeight = 1080;
    int32_t frameLeft = 0, frameTop = 0, frameRight = 0, frameBottom = 0;
    bool clientToScreenWorks = true;
    bool rightShift = false;

    bool Create(const WindowCreateParams& params) override
    {
        calls.push_back("create");
        created = params;
        exists = createSucceeds;
        if (exists) clientWidth = params.width, clientHeight = params.height;
        return exists;
    }
    void Destroy() override
    {
        calls.push_back("destroy");
        exists = false;
    }
    void* Handle() override { return exists ? this : nullptr; }
    uint32_t WindowId() override { return 0; }
    void SetTitle(const char* utf8) override { title = utf8; }
    void Show() override { calls.push_back("show"); }
    void Hide() override { calls.push_back("hide"); }
    void Raise() override { calls.push_back("raise"); }
    void TakeKeyboardFocus() override { calls.push_back("focus"); }
    void SetPosition(int32_t x, int32_t y) override { calls.push_back(Text("position", x, y)); }
    void SetClientSize(int32_t width, int32_t height) override { calls.push_back(Text("size", width, height)); }
    bool GetClientSize(int32_t* width, int32_t* height) override
    {
        if (!exists) return false;
        *width = clientWidth, *height = clientHeight;
        return true;
    }
    bool ClientToScreen(int32_t x, int32_t y, int32_t* screenX, int32_t* screenY) override
    {
        if (!clientToScreenWorks) return false;
        *screenX = clientX + x, *screenY = clientY + y;
        return true;
    }
    bool GetOuterRect(int32_t* x, int32_t* y, int32_t* width, int32_t* height) override
    {
        *x = clientX - frameLeft, *y = clientY - frameTop;
        *width = clientWidth + frameLeft + frameRight, *height = clientHeight + frameTop + frameBottom;
        return true;
    }
    void FrameExtents(bool borderless, int32_t* left, int32_t* top, int32_t* right, int32_t* bottom) override
    {
        *left = borderless ? 0 : frameLeft, *top = borderless ? 0 : frameTop;
        *right = borderless ? 0 : frameRight, *bottom = borderless ? 0 : frameBottom;
    }
    void GetScreenSize(int32_t* width, int32_t* height) override { *width = screenWidth, *height = screenHeight; }
    void SetSizeLimits(int32_t minWidth, int32_t minHeight, int32_t maxWidth, int32_t maxHeight) override
    {
        calls.push_back("limits " + std::to_string(minWidth) + " " + std::to_string(minHeight) + " " +
                        std::to_string(maxWidth) + " " + std::to_string(maxHeight));
    }
    void SetFullScreen(bool fullScreen) override { calls.push_back(fullScreen ? "full screen" : "windowed"); }
    void SetCursorSlot(int32_t slot) override { calls.push_back("cursor " + std::to_string(slot)); }
    void CaptureMouse(bool capture) override { calls.push_back(capture ? "capture" : "release"); }
    void WarpMouse(int32_t screenX, int32_t screenY) override { calls.push_back(Text("warp", screenX, screenY)); }
    bool RightShiftDown() override { return rightShift; }
    void DeliverGeometryEvents(void (*)(const SDL_Event&)) override { calls.push_back("deliver"); }

    std::vector<std::string> Calls(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const std::string& call : calls)
            if (call.rfind(prefix, 0) == 0) out.push_back(call);
        return out;
    }

private:
    static std::string Text(const char* what, int32_t a, int32_t b)
    {
        return std::string(what) + " " + std::to_string(a) + " " + std::to_string(b);
    }
};

}  // namespace kvtest
