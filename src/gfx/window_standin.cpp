// Stand-ins until the window-to-room mouse mapping is built.
#include "gfx/window.h"

#include "core/seam_trace.h"
#include "gfx/device.h"

void Window_ClearViewPorts() { SeamTrace_Record("Window_ClearViewPorts"); }
// One mouse, through the device stand-in's room position.
int32_t Window_GetDeviceMouseX(int32_t device) { return device == 0 ? GR_RoomMouseX() : 0; }
int32_t Window_GetDeviceMouseY(int32_t device) { return device == 0 ? GR_RoomMouseY() : 0; }
