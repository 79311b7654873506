// Window-to-room mouse mapping over the table of views drawn this frame.
#include "gfx/mousemap.h"

#include <cmath>

#include "core/convert.h"
#include "draw/draw.h"
#include "gfx/device.h"
#include "gfx/matrix.h"
#include "input/input.h"
#include "world/loader.h"
#include "world/room.h"

ViewPortRecord Window_ViewPorts[WINDOW_VIEW_PORTS];

namespace {

bool CameraManagerMatrix(int32_t cameraId, bool inverse, Matrix44* out)
{
    CCamera* camera = CCameraManager::GetCamera(cameraId);
    if (camera == nullptr) return false;
    if (inverse)
        camera->GetInvViewProjMat(out);
    else
        camera->GetViewProjMat(out);
    return true;
}

ViewCameraMatrixSource g_cameraSource = CameraManagerMatrix;

// Out-of-range views read as a record that is not drawn.
const ViewPortRecord* Record(int32_t index)
{
    if (index < 0 || index >= WINDOW_VIEW_PORTS) return nullptr;
    return &Window_ViewPorts[index];
}

struct Rect {
    int32_t left, top, right, bottom;
};

Rect ApplicationRect()
{
    Rect r{};
    Window_GetApplicationRect(&r.left, &r.top, &r.right, &r.bottom);
    return r;
}

// The result of one view, and the window position scaled to application-surface pixels.
struct ViewHit {
    bool produced;
    bool scaled;  // false when the window has no area to scale from
    int32_t surfaceX, surfaceY;
};

// Window offsets (dx, dy) through one record; x and y keep their values when nothing is produced.
ViewHit WindowToView(const ViewPortRecord& r, float dx, float dy, int32_t* x, int32_t* y)
{
    ViewHit hit{false, false, 0, 0};
    if (!r.active || r.portWidth == 0.0f || r.portHeight == 0.0f) return hit;
    Rect rect = ApplicationRect();
    const int32_t spanX = Window_ClientWidth - 2 * rect.left;
    const int32_t spanY = Window_ClientHeight - 2 * rect.top;
    if (spanX <= 0 || spanY <= 0) {
        // A minimised window: no scale to take, so the offsets stand unmapped.
        *x = Real_ToInt32(dx);
        *y = Real_ToInt32(dy);
        hit.produced = true;
        return hit;
    }
    hit.scaled = true;
    hit.surfaceX = Real_ToInt32(((float)AppSurface_Width / (float)spanX) / GR_PortScaleX * dx);
    hit.surfaceY = Real_ToInt32(((float)AppSurface_Height / (float)spanY) / GR_PortScaleY * dy);
    const float qx = (float)hit.surfaceX - (float)Real_ToInt32(r.portX);
    const float qy = (float)hit.surfaceY - (float)Real_ToInt32(r.portY);

    if (g_GameData.newMode) {
        Matrix44 m;
        if (!g_cameraSource(r.cameraId, true, &m)) return hit;
        const float nx = (qx / r.portWidth) * 2.0f - 1.0f;
        const float ny = (qy / r.portHeight) * 2.0f - 1.0f;
        *x = Real_ToInt32(nx * m.m[0] + ny * m.m[4] + m.m[12]);
        *y = Real_ToInt32(nx * m.m[1] + ny * m.m[5] + m.m[13]);
        hit.produced = true;
        return hit;
    }
    const float ex = qx * r.worldWidth / r.portWidth;
    const float ey = qy * r.worldHeight / r.portHeight;
    if (std::fabs(r.angle) < 0.01f) {
        *x = Real_ToInt32Round(r.worldX + ex);
        *y = Real_ToInt32Round(r.worldY + ey);
    } else {
        const float a = -r.angle * 3.1415927f / 180.0f;
        const float cx = r.worldX + r.worldWidth / 2.0f, cy = r.worldY + r.worldHeight / 2.0f;
        const float ox = ex - r.worldWidth / 2.0f, oy = ey - r.worldHeight / 2.0f;
        const float c = std::cos(a), s = std::sin(a);
        *x = Real_ToInt32Round(cx + c * ox + s * oy);
        *y = Real_ToInt32Round(cy - s * ox + c * oy);
    }
    hit.produced = true;
    return hit;
}

bool Inside(const ViewPortRecord& r, const ViewHit& hit, int32_t x, int32_t y)
{
    if (!hit.produced || !hit.scaled) return false;
    if (!g_GameData.newMode) {
        const float fx = (float)x, fy = (float)y;
        return fx >= r.worldX && fx < r.worldX + r.worldWidth && fy >= r.worldY && fy < r.worldY + r.worldHeight;
    }
    const float sx = (float)hit.surfaceX, sy = (float)hit.surfaceY;
    return sx >= r.portX && sx < r.portX + r.portWidth && sy >= r.portY && sy < r.portY + r.portHeight;
}

// Views of the running room that are visible and drawn to the window take part.
bool Counted(const CRoom& room, int32_t index)
{
    if (index >= ROOM_VIEWS || !Window_ViewPorts[index].active) return false;
    const CView& view = room.views[index];
    return view.visible && view.surfaceId == -1;
}

}  // namespace

void Window_ClearViewPorts()
{
    for (ViewPortRecord& r : Window_ViewPorts) r.active = false;
}

void Window_SetViewPort(int32_t index, float portX, float portY, float portWidth, float portHeight, float worldX,
                        float worldY, float worldWidth, float worldHeight, float angle, int32_t surfaceId,
                        int32_t cameraId)
{
    if (index < 0 || index >= WINDOW_VIEW_PORTS) return;
    Window_ViewPorts[index] = {true,      worldX,     worldY, worldWidth, worldHeight, portX, portY,
                               portWidth, portHeight, angle,  surfaceId,  cameraId};
}

void Window_ClearViewPort(int32_t index)
{
    if (index < 0 || index >= WINDOW_VIEW_PORTS) return;
    Window_ViewPorts[index].active = false;
}

void Window_GetApplicationRect(int32_t* left, int32_t* top, int32_t* right, int32_t* bottom)
{
    const int32_t w = GR_BackBufferWidth, h = GR_BackBufferHeight;
    *left = *top = 0;
    *right = w;
    *bottom = h;
    // An unsized surface has no aspect to keep.
    if (!GR_KeepAspect || !AppSurface_WasEnabled || AppSurface_Width <= 0 || AppSurface_Height <= 0) return;
    const float sw = (float)AppSurface_Width, sh = (float)AppSurface_Height;
    const float aspect = sw / sh;
    if ((float)h > (float)w / aspect) {
        const float fitted = (sh / sw) * (float)w;
        *top = Real_ToInt32(((float)h - fitted) * 0.5f);
        *bottom = Real_ToInt32((float)*top + fitted);
    } else {
        const float fitted = (float)h * aspect;
        *left = Real_ToInt32(((float)w - fitted) * 0.5f);
        *right = Real_ToInt32((float)*left + fitted);
    }
}

int32_t Window_MouseGetX() { return IO_DeviceMouse[0].x; }
int32_t Window_MouseGetY() { return IO_DeviceMouse[0].y; }

void Window_WindowToRoom(int32_t x, int32_t y, int32_t* roomX, int32_t* roomY)
{
    const Rect rect = ApplicationRect();
    const float dx = (float)x - (float)rect.left, dy = (float)y - (float)rect.top;
    const CRoom* room = Run_Room;
    if (room == nullptr) {
        *roomX = Real_ToInt32(dx);
        *roomY = Real_ToInt32(dy);
        return;
    }
    bool any = false;
    for (int32_t i = 0; i < ROOM_VIEWS && !any; ++i) any = Counted(*room, i);
    if (any) {
        // Highest first; when none contains the point the lowest counted view's answer stands.
        for (int32_t i = WINDOW_VIEW_PORTS - 1; i >= 0; --i) {
            if (!Counted(*room, i)) continue;
            const ViewHit hit = WindowToView(Window_ViewPorts[i], dx, dy, roomX, roomY);
            if (Inside(Window_ViewPorts[i], hit, *roomX, *roomY)) return;
        }
        return;
    }
    const int32_t spanX = Window_ClientWidth - 2 * rect.left;
    const int32_t spanY = Window_ClientHeight - 2 * rect.top;
    *roomX = spanX > 0 ? Real_ToInt32(dx * (float)room->width / (float)spanX) : Real_ToInt32(dx);
    *roomY = spanY > 0 ? Real_ToInt32(dy * (float)room->height / (float)spanY) : Real_ToInt32(dy);
}

int32_t Window_GetDeviceMouseX(int32_t device)
{
    if (device < 0 || device > 9) return 0;
    if (Run_Room == nullptr) return IO_DeviceMouse[device].x;
    int32_t x = 0, y = 0;
    Window_WindowToRoom(IO_DeviceMouse[device].x, IO_DeviceMouse[device].y, &x, &y);
    return x;
}

int32_t Window_GetDeviceMouseY(int32_t device)
{
    if (device < 0 || device > 9) return 0;
    if (Run_Room == nullptr) return IO_DeviceMouse[device].y;
    int32_t x = 0, y = 0;
    Window_WindowToRoom(IO_DeviceMouse[device].x, IO_DeviceMouse[device].y, &x, &y);
    return y;
}

namespace {

// Both outputs start at the rectangle's left edge, which is what an undrawn view reports for either axis.
void ViewMouse(int32_t view, int32_t* x, int32_t* y)
{
    const Rect rect = ApplicationRect();
    *x = *y = rect.left;
    const ViewPortRecord* r = Record(view);
    if (r == nullptr) return;
    WindowToView(*r, (float)IO_DeviceMouse[0].x - (float)rect.left, (float)IO_DeviceMouse[0].y - (float)rect.top,
                 x, y);
}

}  // namespace

int32_t Window_ViewMouseGetX(int32_t view)
{
    int32_t x, y;
    ViewMouse(view, &x, &y);
    return x;
}

int32_t Window_ViewMouseGetY(int32_t view)
{
    int32_t x, y;
    ViewMouse(view, &x, &y);
    return y;
}

void Window_RoomToWindow(int32_t view, double x, double y, int32_t* windowX, int32_t* windowY)
{
    *windowX = Real_ToInt32Round(x);
    *windowY = Real_ToInt32Round(y);
    const ViewPortRecord* r = Record(view);
    if (r == nullptr || !r->active || r->worldWidth == 0.0f || r->worldHeight == 0.0f) return;
    const float fx = (float)x, fy = (float)y;
    if (g_GameData.newMode) {
        Matrix44 m;
        if (!g_cameraSource(r->cameraId, false, &m)) return;
        const float w = fx * m.m[3] + fy * m.m[7] + m.m[15];
        *windowX = Real_ToInt32(((fx * m.m[0] + fy * m.m[4] + m.m[12]) / w * 0.5f + 0.5f) * r->portWidth + r->portX);
        *windowY = Real_ToInt32(((fx * m.m[1] + fy * m.m[5] + m.m[13]) / w * 0.5f + 0.5f) * r->portHeight + r->portY);
        return;
    }
    const float ex = (fx - r->worldX) * r->portWidth / r->worldWidth;
    const float ey = (fy - r->worldY) * r->portHeight / r->worldHeight;
    if (std::fabs(r->angle) < 0.01f) {
        *windowX = Real_ToInt32Round(r->portX + ex);
        *windowY = Real_ToInt32Round(r->portY + ey);
        return;
    }
    // The opposite turn from the window-to-view direction.
    const float a = r->angle * 3.1415927f / 180.0f;
    const float cx = r->portX + r->portWidth / 2.0f, cy = r->portY + r->portHeight / 2.0f;
    const float ox = ex - r->portWidth / 2.0f, oy = ey - r->portHeight / 2.0f;
    const float c = std::cos(a), s = std::sin(a);
    *windowX = Real_ToInt32Round(cx + c * ox + s * oy);
    *windowY = Real_ToInt32Round(cy - s * ox + c * oy);
}

ViewCameraMatrixSource Window_SetCameraMatrixSource(ViewCameraMatrixSource source)
{
    ViewCameraMatrixSource previous = g_cameraSource == CameraManagerMatrix ? nullptr : g_cameraSource;
    g_cameraSource = source != nullptr ? source : CameraManagerMatrix;
    return previous;
}
