// Mouse positions between window client pixels and room coordinates, through the views drawn this frame.
// Window_ClearViewPorts and Window_GetDeviceMouseX/Y are declared with the window (gfx/window.h).
#pragma once
#include <cstdint>

#include "gfx/window.h"

struct Matrix44;

constexpr int32_t WINDOW_VIEW_PORTS = 32;  // only 0..7 are used by rooms

// One view as drawn in the current frame.
struct ViewPortRecord {
    bool active;
    float worldX, worldY, worldWidth, worldHeight;  // the room area the view shows
    float portX, portY, portWidth, portHeight;      // where it lands in the application surface
    float angle;                                    // degrees
    int32_t surfaceId;
    int32_t cameraId;  // read for newer-format games
};
extern ViewPortRecord Window_ViewPorts[WINDOW_VIEW_PORTS];

// Index outside 0..31: ignored.
void Window_SetViewPort(int32_t index, float portX, float portY, float portWidth, float portHeight, float worldX,
                        float worldY, float worldWidth, float worldHeight, float angle, int32_t surfaceId,
                        int32_t cameraId);
void Window_ClearViewPort(int32_t index);

// Where the application surface sits in the back buffer.
void Window_GetApplicationRect(int32_t* left, int32_t* top, int32_t* right, int32_t* bottom);
// Device 0 in window pixels.
int32_t Window_MouseGetX();
int32_t Window_MouseGetY();
// A window position in room coordinates. When views count but none yields a result, the outputs keep their
// values, so callers set them first.
void Window_WindowToRoom(int32_t x, int32_t y, int32_t* roomX, int32_t* roomY);
// Device 0 through one view; the application rectangle's left edge when the view is not drawn.
int32_t Window_ViewMouseGetX(int32_t view);
int32_t Window_ViewMouseGetY(int32_t view);
// A room position in window pixels through one view.
void Window_RoomToWindow(int32_t view, double x, double y, int32_t* windowX, int32_t* windowY);

// Where the mapping gets a camera's view-projection matrix (inverse or not); false when there is no such
// camera. By default the camera manager answers. Returns the previous source; null restores the default.
using ViewCameraMatrixSource = bool (*)(int32_t cameraId, bool inverse, Matrix44* out);
ViewCameraMatrixSource Window_SetCameraMatrixSource(ViewCameraMatrixSource source);
