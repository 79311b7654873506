// The main window: its values, its window procedure, and the operations the window built-ins, the device
// and start-up call. Platform-free: the desktop's side is the window platform (platform/window_platform.h).
#pragma once
#include <cstdint>

union SDL_Event;

// Makes the window fit to sit behind a modal dialog (leaves exclusive full screen, shows the cursor).
void Window_PrepareForDialog();
// The 32 view-port records of the window-to-room mapping, all inactive.
void Window_ClearViewPorts();
// The mouse of a device in room coordinates, through the views when they are enabled (mouse_x, mouse_y).
int32_t Window_GetDeviceMouseX(int32_t device);
int32_t Window_GetDeviceMouseY(int32_t device);

// ---- Values (one set per process) ----------------------------------------------------------------------

constexpr uint32_t WINDOW_STYLE_POPUP = 0x80000000u;
constexpr uint32_t WINDOW_STYLE_SIZEABLE = 0x00CF0000u;  // caption, frame to size by, maximise box
constexpr uint32_t WINDOW_STYLE_FIXED = 0x00CA0000u;     // caption, system menu, minimise box
// Header window flags the window reads.
constexpr uint32_t WINDOW_FLAG_FULL_SCREEN = 0x0001;
constexpr uint32_t WINDOW_FLAG_SHOW_CURSOR = 0x0020;
constexpr uint32_t WINDOW_FLAG_RESIZABLE = 0x0040;
constexpr uint32_t WINDOW_FLAG_BORDERLESS = 0x4000;

extern void* Window_Handle;  // null until created
extern uint32_t Window_WindowedStyle;
extern uint32_t Window_FullScreenStyle;
extern char* Window_Caption;        // memory-manager copy; null before the first caption
extern int32_t Window_CursorConstant;
extern int32_t Window_CursorSlot;   // the cursor-table slot in force
extern int32_t Window_MinWidth, Window_MaxWidth, Window_MinHeight, Window_MaxHeight;  // > 0 applies
extern int32_t Window_RequestedWidth, Window_RequestedHeight;
extern int32_t Window_ClientWidth, Window_ClientHeight;
extern int32_t Window_PendingWidth, Window_PendingHeight;  // -1: none
extern int32_t Window_SavedWidth, Window_SavedHeight;      // -1: none
extern bool Window_FullScreen;
// Frames until the main loop resets the device; the main loop's own counter, not a copy of it.
extern int32_t MainLoop_DeviceResetCountdown;
inline int32_t& Window_ResetCountdown = MainLoop_DeviceResetCountdown;
extern bool Window_UserSized;
extern bool Window_InSizeMove;
extern bool Window_SkipNextSize;
extern bool Window_NotYetShown;
extern uint32_t Window_Colour;  // BGR with alpha 0xFF in the top byte
extern int32_t Window_CaptureCount;
extern intptr_t Window_RightShiftScanCode;
// Once shared with other running copies of the program; plain process values here.
extern uint8_t Window_DeviceFullScreen;
extern uint8_t Window_Active;
extern uint32_t Window_SharedWord;

// Every value back to its start (a test's fresh process); the window itself is not touched.
void Window_ResetState();

// ---- Operations ---------------------------------------------------------------------------------------

// The main window at the header's size (clamped to the screen); false when none could be made.
bool Window_Create(int32_t width, int32_t height);
void Window_Destroy();
intptr_t Window_Proc(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// The desktop's events, turned into window messages for Window_Proc (the message pump's handler).
void Window_OnPlatformEvent(const SDL_Event& event);
void Window_BringToFront();

void Window_SetCaption(const char* text);  // null or empty: ""
const char* Window_GetCaption();
void Window_SetFullScreen(bool fullScreen);
bool Window_GetFullScreen();
void Window_SetPosition(int32_t x, int32_t y);  // the client area's top-left
int32_t Window_GetX();
int32_t Window_GetY();
int32_t Window_GetClientWidth();
int32_t Window_GetClientHeight();
void Window_SetSize(int32_t width, int32_t height);
void Window_SetRectangle(int32_t x, int32_t y, int32_t width, int32_t height);
int32_t Window_SetMinWidth(int32_t value);
int32_t Window_SetMaxWidth(int32_t value);
int32_t Window_SetMinHeight(int32_t value);
int32_t Window_SetMaxHeight(int32_t value);
int32_t Window_GetRequestedWidth();
int32_t Window_GetRequestedHeight();
void Window_SetColour(uint32_t colour);
uint32_t Window_GetColour();
void Window_SetCursor(int32_t cursor);  // a cr_ constant: -22 ... 0 pick a system cursor
int32_t Window_GetCursor();
void Window_SetMouse(int32_t x, int32_t y);  // client point; only while the window is active
// Per display 8 doubles: the part of (x1, y1)-(x2, y2) on it (zeros when none), then its bounds. The block
// (memory manager) is the caller's; none when there are no displays. Returns the display count.
int32_t Window_GetVisibleRects(double x1, double y1, double x2, double y2, double** records);
// The first show of the window; false when it was shown before.
bool Window_ShowFirstTime();

// ---- For the device's resets --------------------------------------------------------------------------

void Window_GetScreenSize(int32_t* width, int32_t* height);
// A client area of width x height; the client's top-left stays.
void Window_SetClientSize(int32_t width, int32_t height);
// The client area at (x, y), width x height.
void Window_PlaceClient(int32_t x, int32_t y, int32_t width, int32_t height);
// Full screen: the desktop's size without a frame; else the windowed style again.
void Window_ApplyFullScreen(bool fullScreen);
