// What the desktop calls a window: the X11 window id behind an SDL window.
#pragma once
#include <cstdint>

// The window is named by the id its events carry; 0 for none, and under any video driver but X11.
uint64_t Platform_WindowSystemId(uint32_t windowId);
