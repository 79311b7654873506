#include "platform/display_platform.h"

#include "platform/platform.h"

#include <SDL.h>

#include <cstdio>

namespace {

int32_t DisplayBits(uint32_t format)
{
    // X11 and the offscreen driver report 24 bits for 32-bit visuals: count by bytes per pixel.
    return SDL_BYTESPERPIXEL(format) >= 3 ? 32 : SDL_BYTESPERPIXEL(format) == 2 ? 16 : int32_t(SDL_BITSPERPIXEL(format));
}

void FromSdl(const SDL_DisplayMode& mode, PlatformDisplayMode* out)
{
    out->width = mode.w;
    out->height = mode.h;
    out->bitsPerPixel = DisplayBits(mode.format);
    out->refreshRate = mode.refresh_rate;
    out->interlaced = false;
}

class DesktopDisplays final : public DisplaySource {
public:
    int32_t Count() override { return Platform_VideoStarted() ? SDL_GetNumVideoDisplays() : 0; }
    bool Name(int32_t display, char* out, size_t size) override
    {
        const char* name = Platform_VideoStarted() ? SDL_GetDisplayName(display) : nullptr;
        if (!name || size == 0) return false;
        std::snprintf(out, size, "%s", name);
        return true;
    }
    bool Bounds(int32_t display, int32_t* x, int32_t* y, int32_t* width, int32_t* height) override
    {
        SDL_Rect r;
        if (!Platform_VideoStarted() || SDL_GetDisplayBounds(display, &r) != 0) return false;
        *x = r.x, *y = r.y, *width = r.w, *height = r.h;
        return true;
    }
    bool CurrentMode(int32_t display, PlatformDisplayMode* out) override
    {
        SDL_DisplayMode mode;
        if (!Platform_VideoStarted() || SDL_GetCurrentDisplayMode(display, &mode) != 0) return false;
        FromSdl(mode, out);
        return true;
    }
    int32_t ModeCount(int32_t display) override
    {
        if (!Platform_VideoStarted()) return 0;
        const int count = SDL_GetNumDisplayModes(display);
        return count < 0 ? 0 : count;
    }
    bool Mode(int32_t display, int32_t index, PlatformDisplayMode* out) override
    {
        SDL_DisplayMode mode;
        if (!Platform_VideoStarted() || SDL_GetDisplayMode(display, index, &mode) != 0) return false;
        FromSdl(mode, out);
        return true;
    }
    bool GetCursor(int32_t* x, int32_t* y) override
    {
        if (!Platform_VideoStarted()) return false;
        int gx = 0, gy = 0;
        SDL_GetGlobalMouseState(&gx, &gy);
        *x = gx, *y = gy;
        return true;
    }
    void SetCursor(int32_t x, int32_t y) override
    {
        if (Platform_VideoStarted()) SDL_WarpMouseGlobal(x, y);
    }
};

DesktopDisplays g_desktopDisplays;
DisplaySource* g_displaySource = &g_desktopDisplays;

}  // namespace

DisplaySource* PlatformDisplay_Get() { return g_displaySource; }
void PlatformDisplay_Set(DisplaySource* source) { g_displaySource = source ? source : &g_desktopDisplays; }
