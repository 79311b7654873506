// The game window, as the rest of the runtime needs it before the graphics device exists.
#pragma once
#include <cstdint>

// Makes the window fit to sit behind a modal dialog (leaves exclusive full screen, shows the cursor).
void Window_PrepareForDialog();
// The cursor: 0 the arrow, -1 none (the game draws its own or hides it).
void Window_SetCursor(int32_t cursor);
// The main window at the header's size; false when it cannot be made.
bool Window_Create(int32_t width, int32_t height);
void Window_Destroy();
// The 32 view-port records of the window-to-room mapping, all inactive.
void Window_ClearViewPorts();
// The mouse of a device in room coordinates, through the views when they are enabled (mouse_x, mouse_y).
int32_t Window_GetDeviceMouseX(int32_t device);
int32_t Window_GetDeviceMouseY(int32_t device);
