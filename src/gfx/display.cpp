// Where each value comes from: the adapters, their caps, names and mode lists from the rendering device's
// adapter queries (adapter n is display n of the desktop); each adapter's current desktop mode and place,
// the display_* values and the cursor from the desktop's display list, the primary display being display 0.
#include "gfx/display.h"

#include "core/console.h"
#include "core/memory_manager.h"
#include "core/text.h"
#include "draw/draw.h"
#include "platform/display_platform.h"
#include "platform/platform.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

AdapterRecord* GR_AdapterTable = nullptr;
int32_t GR_AdapterCount = 0;

namespace {

// The last request that was refused and logged: the same one again is not logged again.
struct DisplayRequest {
    int32_t width, height, frequency, bits;
    bool operator==(const DisplayRequest&) const = default;
};
bool g_displayRefusalLogged = false;
DisplayRequest g_displayLastRefusal{};

int32_t Display_BitsOfFormat(uint32_t format)
{
    switch (format) {
    case RDFMT_X8R8G8B8:
    case RDFMT_A8R8G8B8: return 32;  // 4 bytes per pixel
    case RDFMT_R5G6B5: return 16;
    default: return 0;
    }
}

void Display_CopyText(char* out, size_t size, const char* text)
{
    std::snprintf(out, size, "%.*s", int(size - 1), text);
}

void Display_Widen(char16_t* out, size_t size, const char* text)
{
    size_t n = 0;
    while (*text && n + 1 < size) out[n++] = char16_t(UTF8_GetChar(&text));
    out[n] = 0;
}

// The current desktop mode of the record's display, or the defaults.
void Display_ReadCurrentMode(AdapterRecord* record)
{
    DisplaySource* displays = PlatformDisplay_Get();
    PlatformDisplayMode mode;
    if (displays->CurrentMode(record->monitor, &mode)) {
        record->width = mode.width;
        record->height = mode.height;
        record->bitsPerPixel = mode.bitsPerPixel;
        record->frequency = mode.refreshRate;
        record->interlaced = mode.interlaced ? 1 : 0;
    } else {
        record->width = 640;
        record->height = 480;
        record->bitsPerPixel = 8;
        record->frequency = 60;
        record->interlaced = 0;
    }
    int32_t x = 0, y = 0, w = 0, h = 0;
    if (displays->Bounds(record->monitor, &x, &y, &w, &h)) {
        record->x = x;
        record->y = y;
    }
}

// Every 32-bit mode of the adapter, then every 16-bit one.
void Display_ReadModes(RenderDevice* device, AdapterRecord* record)
{
    const uint32_t adapter = uint32_t(record->adapterOrdinal);
    const uint32_t formats[] = {RDFMT_X8R8G8B8, RDFMT_R5G6B5};
    uint32_t counts[std::size(formats)], total = 0;
    for (size_t f = 0; f < std::size(formats); ++f) total += counts[f] = device->GetAdapterModeCount(adapter, formats[f]);
    if (total == 0) return;
    record->modes = static_cast<DisplayMode*>(MemAlloc(total * sizeof(DisplayMode)));
    int32_t count = 0;
    for (size_t f = 0; f < std::size(formats); ++f) {
        const uint32_t format = formats[f];
        for (uint32_t i = 0; i < counts[f]; ++i) {
            RDDisplayMode mode{};
            if (RD_Failed(device->EnumAdapterModes(adapter, format, i, &mode))) continue;
            // A device that lists other formats under this one gets them filtered here.
            if (mode.format != format) continue;
            const int32_t bits = Display_BitsOfFormat(mode.format);
            if (bits != 16 && bits != 32) continue;
            DisplayMode& out = record->modes[count++];
            out.width = int16_t(mode.width);
            out.height = int16_t(mode.height);
            out.bitsPerPixel = uint8_t(bits);
            out.refreshRate = uint8_t(mode.refreshRate);
            out.modeNumber = uint16_t(i);
            out.adapterOrdinal = record->adapterOrdinal;
        }
    }
    record->modeCount = count;
}

bool Display_Matches(int32_t requested, int32_t current) { return requested <= 0 || requested == current; }

// A request succeeds only when every value it names equals the primary display's current one.
bool Display_Request(const DisplayRequest& request, bool change)
{
    const bool any = request.width > 0 || request.height > 0 || request.frequency > 0 || request.bits > 0;
    PlatformDisplayMode mode;
    bool granted = !any;
    if (any && PlatformDisplay_Get()->CurrentMode(0, &mode)) {
        // An unknown refresh rate (0) matches no requested one.
        granted = Display_Matches(request.width, mode.width) && Display_Matches(request.height, mode.height) &&
                  Display_Matches(request.frequency, mode.refreshRate) &&
                  Display_Matches(request.bits, mode.bitsPerPixel);
    }
    if (!granted && change && !(g_displayRefusalLogged && g_displayLastRefusal == request)) {
        DebugConsole->Output("Display mode change refused (%d, %d, %d Hz, %d bits): only the current mode can be set\n",
                             request.width, request.height, request.frequency, request.bits);
        g_displayRefusalLogged = true;
        g_displayLastRefusal = request;
    }
    return granted;
}

}  // namespace

void Display_FreeAdapters()
{
    for (int32_t i = 0; i < GR_AdapterCount; ++i) MemFree(GR_AdapterTable[i].modes);
    MemFree(GR_AdapterTable);
    GR_AdapterTable = nullptr;
    GR_AdapterCount = 0;
    g_displayRefusalLogged = false;
}

void Display_EnumModes()
{
    Display_FreeAdapters();
    RenderDevice* device = RenderDevice_Get();
    const uint32_t adapters = device->GetAdapterCount();
    if (adapters == 0) return;
    GR_AdapterTable = static_cast<AdapterRecord*>(MemAlloc(adapters * sizeof(AdapterRecord)));
    std::memset(static_cast<void*>(GR_AdapterTable), 0, adapters * sizeof(AdapterRecord));
    int32_t filled = 0;
    for (uint32_t adapter = 0; adapter < adapters; ++adapter) {
        RDCaps caps{};
        if (RD_Failed(device->GetDeviceCaps(adapter, RD_DEVTYPE_HAL, &caps)) || caps.deviceType != RD_DEVTYPE_HAL)
            continue;
        AdapterRecord* record = &GR_AdapterTable[filled++];
        record->caps = caps;
        RDAdapterIdentifier identifier{};
        if (!RD_Failed(device->GetAdapterIdentifier(adapter, &identifier))) {
            Display_CopyText(record->description, sizeof record->description, identifier.description);
            Display_CopyText(record->deviceName, sizeof record->deviceName, identifier.deviceName);
        }
        Display_Widen(record->deviceNameWide, std::size(record->deviceNameWide), record->deviceName);
        record->adaptersInGroup = int32_t(caps.numberOfAdaptersInGroup);
        record->adapterOrdinal = int32_t(adapter);
        record->monitor = int32_t(adapter);
        Display_ReadCurrentMode(record);
        Display_ReadModes(device, record);
        if (record->width < record->height) record->flags |= ADAPTER_PORTRAIT;
        if (record->adaptersInGroup == 0) {
            record->flags |= ADAPTER_SUBORDINATE;
            record->masterOrdinal = int32_t(caps.masterAdapterOrdinal);
        }
    }
    GR_AdapterCount = filled;
    for (int32_t i = 0; i < filled; ++i) {
        AdapterRecord* record = &GR_AdapterTable[i];
        if (!(record->flags & ADAPTER_SUBORDINATE)) continue;
        for (int32_t j = 0; j < filled; ++j) {
            AdapterRecord* master = &GR_AdapterTable[j];
            if (j == i || master->adapterOrdinal != record->masterOrdinal) continue;
            record->master = master;
            record->nextSubordinate = master->nextSubordinate;
            master->nextSubordinate = record;
            break;
        }
    }
}

DisplayMode* Display_FindBestMode(int32_t width, int32_t height)
{
    if (GR_AdapterCount <= 0 || !GR_AdapterTable) return nullptr;
    const AdapterRecord& adapter = GR_AdapterTable[0];
    DisplayMode* result = nullptr;
    // The lowest mode at least as high as the window; the best width excess only moves with a mode that is
    // wide enough too, so a later, lower mode can still win on height alone.
    int32_t bestHeightExcess = 999999999, bestWidthExcess = 999999999;
    for (int32_t i = 0; i < adapter.modeCount; ++i) {
        DisplayMode* mode = &adapter.modes[i];
        const int32_t dh = mode->height - height;
        if (dh < 0 || dh >= bestHeightExcess) continue;
        result = mode;
        const int32_t dw = mode->width - width;
        if (dw >= 0 && dw < bestWidthExcess) {
            bestHeightExcess = dh;
            bestWidthExcess = dw;
        }
    }
    if (result) return result;

    // None is high enough: the closest area.
    const double area = double(width) * double(height);
    double best = 99999999.0;
    for (int32_t i = 0; i < adapter.modeCount; ++i) {
        DisplayMode* mode = &adapter.modes[i];
        const double ratio = std::fabs(1.0 - double(mode->width) * double(mode->height) / area);
        if (ratio < best) {
            best = ratio;
            result = mode;
        } else if (ratio == best && result) {
            if (mode->bitsPerPixel == 32 && result->bitsPerPixel != 32) {
                result = mode;
            } else if (mode->bitsPerPixel == 32 && result->bitsPerPixel == 32 &&
                       std::abs(mode->refreshRate - 60) < std::abs(result->refreshRate - 60)) {
                result = mode;
            }
        }
    }
    return result;
}

int32_t Display_GetWidth()
{
    int32_t x = 0, y = 0, w = 0, h = 0;
    return PlatformDisplay_Get()->Bounds(0, &x, &y, &w, &h) ? w : 0;
}

int32_t Display_GetHeight()
{
    int32_t x = 0, y = 0, w = 0, h = 0;
    return PlatformDisplay_Get()->Bounds(0, &x, &y, &w, &h) ? h : 0;
}

int32_t Display_GetFrequency()
{
    PlatformDisplayMode mode;
    if (!PlatformDisplay_Get()->CurrentMode(0, &mode) || mode.refreshRate <= 0) return -1;
    return mode.refreshRate;
}

int32_t Display_GetColourDepth()
{
    PlatformDisplayMode mode;
    return PlatformDisplay_Get()->CurrentMode(0, &mode) ? mode.bitsPerPixel : -1;
}

bool Display_SetSize(int32_t width, int32_t height) { return Display_Request({width, height, 0, 0}, true); }
bool Display_SetFrequency(int32_t frequency) { return Display_Request({0, 0, frequency, 0}, true); }
bool Display_SetColourDepth(int32_t bitsPerPixel) { return Display_Request({0, 0, 0, bitsPerPixel}, true); }

bool Display_SetAll(int32_t width, int32_t height, int32_t frequency, int32_t bitsPerPixel)
{
    return Display_Request({width, height, frequency, bitsPerPixel}, true);
}

bool Display_TestAll(int32_t width, int32_t height, int32_t frequency, int32_t bitsPerPixel)
{
    return Display_Request({width, height, frequency, bitsPerPixel}, false);
}

int32_t Display_GetMouseX()
{
    int32_t x = 0, y = 0;
    return PlatformDisplay_Get()->GetCursor(&x, &y) ? x : 0;
}

int32_t Display_GetMouseY()
{
    int32_t x = 0, y = 0;
    return PlatformDisplay_Get()->GetCursor(&x, &y) ? y : 0;
}

void Display_SetMouse(int32_t x, int32_t y)
{
    if (Platform_MainWindowHasFocus()) PlatformDisplay_Get()->SetCursor(x, y);
}

int32_t Display_GetOrientation() { return 0; }

void Display_LogFPSSummary() { Debug_LogFpsStats(); }
