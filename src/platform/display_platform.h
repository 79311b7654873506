// The displays the desktop offers: their names, places, current modes and mode lists, and the system cursor.
// Everything answers "nothing" while video is not started. Tests install their own source.
#pragma once
#include <cstddef>
#include <cstdint>

struct PlatformDisplayMode {
    int32_t width = 0, height = 0;
    int32_t bitsPerPixel = 0;  // 32 for every 24- or 32-bit visual, 16 for 16-bit ones
    int32_t refreshRate = 0;   // Hz; 0 unknown
    bool interlaced = false;
};

class DisplaySource {
public:
    virtual ~DisplaySource() = default;
    virtual int32_t Count() = 0;
    virtual bool Name(int32_t display, char* out, size_t size) = 0;
    virtual bool Bounds(int32_t display, int32_t* x, int32_t* y, int32_t* width, int32_t* height) = 0;
    virtual bool CurrentMode(int32_t display, PlatformDisplayMode* out) = 0;
    virtual int32_t ModeCount(int32_t display) = 0;
    virtual bool Mode(int32_t display, int32_t index, PlatformDisplayMode* out) = 0;
    // The system cursor in desktop coordinates.
    virtual bool GetCursor(int32_t* x, int32_t* y) = 0;
    virtual void SetCursor(int32_t x, int32_t y) = 0;
};

// The desktop's displays unless a test installed another source. Never null.
DisplaySource* PlatformDisplay_Get();
// Tests install a source (null puts the desktop's back); the caller keeps ownership.
void PlatformDisplay_Set(DisplaySource* source);
