// Display adapters and their modes, the choice of the mode that fits the game's window, and the back ends
// of the display_* built-ins (screen size, colour depth, refresh rate, mode changes, the system mouse).
// Main thread only.
#pragma once
#include "platform/render_device.h"

#include <cstdint>

struct DisplayMode {
    int16_t width, height;
    uint8_t bitsPerPixel;  // 16 or 32
    uint8_t refreshRate;   // Hz; 0 unknown
    uint16_t modeNumber;   // index in the device's list of modes of its format
    int32_t adapterOrdinal;
};

constexpr uint32_t ADAPTER_PORTRAIT = 1;     // the current mode is narrower than it is high
constexpr uint32_t ADAPTER_SUBORDINATE = 2;  // a subordinate of an adapter group

struct AdapterRecord {
    uint32_t flags;
    int32_t adaptersInGroup;
    int32_t modeCount;
    RDCaps caps;
    char description[512];
    char deviceName[512];
    char16_t deviceNameWide[512];
    DisplayMode* modes;  // memory-manager block of modeCount entries
    int32_t x, y;        // the display's place on the desktop
    // The current desktop mode (640 x 480, 8 bits, 60 Hz when it cannot be read; frequency 0 when unknown).
    int32_t width, height, bitsPerPixel, frequency;
    uint8_t interlaced;
    int32_t monitor;  // the display's number in the desktop's list
    int32_t adapterOrdinal;
    int32_t masterOrdinal;     // for a subordinate: its master's ordinal
    AdapterRecord* master;     // for a subordinate: its master's record (null when the master has none)
    AdapterRecord* nextSubordinate;  // chain of subordinates hung off a master
};

// One record per adapter that renders in hardware, in adapter order.
extern AdapterRecord* GR_AdapterTable;
extern int32_t GR_AdapterCount;

// Fills the adapter table afresh (device creation).
void Display_EnumModes();
// The first adapter's mode that best fits a window of that size, or null when it lists none.
DisplayMode* Display_FindBestMode(int32_t width, int32_t height);
// Frees the adapter table (device shutdown) and forgets the last refused mode request.
void Display_FreeAdapters();

// The primary display.
int32_t Display_GetWidth();
int32_t Display_GetHeight();
// -1 when the current settings cannot be read (or the refresh rate is unknown).
int32_t Display_GetFrequency();
int32_t Display_GetColourDepth();
// Mode changes: a value <= 0 is not part of the request. The desktop is never changed: a request succeeds
// only when it equals the current mode. A refused change is logged once: asked again straight after (a
// script asking every step), it is not logged again.
bool Display_SetSize(int32_t width, int32_t height);
bool Display_SetFrequency(int32_t frequency);
bool Display_SetColourDepth(int32_t bitsPerPixel);
bool Display_SetAll(int32_t width, int32_t height, int32_t frequency, int32_t bitsPerPixel);
// As Display_SetAll, changing nothing.
bool Display_TestAll(int32_t width, int32_t height, int32_t frequency, int32_t bitsPerPixel);
// The system cursor in desktop coordinates; it is moved only while the main window has the focus.
int32_t Display_GetMouseX();
int32_t Display_GetMouseY();
void Display_SetMouse(int32_t x, int32_t y);
// Always 0 (landscape).
int32_t Display_GetOrientation();
// The frame-rate summary at shutdown.
void Display_LogFPSSummary();
