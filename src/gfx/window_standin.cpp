// Stand-in until the graphics device is built: there is no full-screen window to leave yet.
#include "gfx/window.h"

#include "core/seam_trace.h"
#include "gfx/device.h"

void Window_PrepareForDialog() { SeamTrace_Record("Window_PrepareForDialog"); }
void Window_SetCursor(int32_t) { SeamTrace_Record("Window_SetCursor"); }
bool Window_Create(int32_t, int32_t)
{
    SeamTrace_Record("Window_Create");
    return true;
}
void Window_Destroy() { SeamTrace_Record("Window_Destroy"); }
void Window_ClearViewPorts() { SeamTrace_Record("Window_ClearViewPorts"); }
// One mouse, through the device stand-in's room position.
int32_t Window_GetDeviceMouseX(int32_t device) { return device == 0 ? GR_RoomMouseX() : 0; }
int32_t Window_GetDeviceMouseY(int32_t device) { return device == 0 ? GR_RoomMouseY() : 0; }
