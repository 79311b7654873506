// Window-to-room mouse mapping: the application rectangle, the view search, one view both ways, the camera
// path of newer games, and the guards for bad views, devices and a window with no area.
#include "gfx/mousemap.h"

#include "draw/draw.h"
#include "gfx/device.h"
#include "gfx/matrix.h"
#include "input/input.h"
#include "world/loader.h"
#include "world/room.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace mousemap_test {

// A 2D camera showing the room area (x, y, w, h) as clip space -1..1 on both axes.
Matrix44 CameraViewProj(float x, float y, float w, float h)
{
    Matrix44 m{};
    m.m[0] = 2.0f / w;
    m.m[5] = 2.0f / h;
    m.m[10] = 1.0f;
    m.m[12] = -(2.0f * x + w) / w;
    m.m[13] = -(2.0f * y + h) / h;
    m.m[15] = 1.0f;
    return m;
}

// Cameras 7 and 8 (power-of-two areas, so the inverse is exact and truncation is not at a knife edge); the
// inverse is taken by the matrix code, as the camera manager does.
bool TestCameras(int32_t id, bool inverse, Matrix44* out)
{
    Matrix44 m;
    if (id == 7)
        m = CameraViewProj(0, 0, 512, 256);
    else if (id == 8)
        m = CameraViewProj(1024, 0, 256, 256);
    else
        return false;
    if (!inverse) {
        *out = m;
        return true;
    }
    return Matrix_Inverse(out, m);
}

struct Point {
    int32_t x, y;
    bool operator==(const Point&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Point& p) { return os << "(" << p.x << ", " << p.y << ")"; }

class GfxMouseMap : public testing::Test {
protected:
    void SetUp() override
    {
        Window_ClearViewPorts();
        GR_BackBufferWidth = Window_ClientWidth = 640;
        GR_BackBufferHeight = Window_ClientHeight = 480;
        GR_KeepAspect = false;
        AppSurface_WasEnabled = true;
        AppSurface_Width = 640;
        AppSurface_Height = 480;
        GR_PortScaleX = GR_PortScaleY = 1.0f;
        for (MousePosition& m : IO_DeviceMouse) m = {0, 0};
        g_GameData.newMode = false;
        Run_Room = nullptr;
        Window_SetCameraMatrixSource(TestCameras);
    }
    void TearDown() override
    {
        Window_ClearViewPorts();
        Window_SetCameraMatrixSource(nullptr);
        Run_Room = nullptr;
        g_GameData.newMode = false;
        GR_KeepAspect = false;
        AppSurface_Width = AppSurface_Height = -1;
        Window_ClientWidth = 640;
        Window_ClientHeight = 480;
        for (MousePosition& m : IO_DeviceMouse) m = {0, 0};
    }

    // Room view `index` visible and drawn to the window, with the same rectangle in its record.
    void View(int32_t index, float px, float py, float pw, float ph, float wx, float wy, float ww, float wh,
              float angle = 0.0f, int32_t surface = -1, int32_t camera = -1)
    {
        Run_Room = &room_;
        room_.views[index].visible = true;
        room_.views[index].surfaceId = surface;
        Window_SetViewPort(index, px, py, pw, ph, wx, wy, ww, wh, angle, surface, camera);
    }
    Point ToRoom(int32_t x, int32_t y)
    {
        Point p{-7, -7};
        Window_WindowToRoom(x, y, &p.x, &p.y);
        return p;
    }
    Point ToWindow(int32_t view, double x, double y)
    {
        Point p{-7, -7};
        Window_RoomToWindow(view, x, y, &p.x, &p.y);
        return p;
    }

    CRoom room_;
};

struct RectCase {
    const char* name;
    bool keep, surfaceInUse;
    int32_t surfaceW, surfaceH, bufferW, bufferH;
    int32_t left, top, right, bottom;
};

TEST_F(GfxMouseMap, ApplicationRectFitsTheSurfaceOnlyWhenKeepingAspect)
{
    const RectCase cases[] = {
        {"letterbox", true, true, 1280, 720, 1000, 1000, 0, 218, 1000, 780},
        {"pillarbox", true, true, 400, 400, 1000, 500, 250, 0, 750, 500},
        {"aspect off", false, true, 1280, 720, 1000, 1000, 0, 0, 1000, 1000},
        {"surface not in use", true, false, 1280, 720, 1000, 1000, 0, 0, 1000, 1000},
        {"surface never sized", true, true, -1, -1, 1000, 1000, 0, 0, 1000, 1000},
    };
    for (const RectCase& c : cases) {
        SCOPED_TRACE(c.name);
        GR_KeepAspect = c.keep;
        AppSurface_WasEnabled = c.surfaceInUse;
        AppSurface_Width = c.surfaceW;
        AppSurface_Height = c.surfaceH;
        GR_BackBufferWidth = c.bufferW;
        GR_BackBufferHeight = c.bufferH;
        int32_t l = -1, t = -1, r = -1, b = -1;
        Window_GetApplicationRect(&l, &t, &r, &b);
        EXPECT_EQ(l, c.left);
        EXPECT_EQ(t, c.top);
        EXPECT_EQ(r, c.right);
        EXPECT_EQ(b, c.bottom);
    }
}

TEST_F(GfxMouseMap, WithoutARoomPositionsAreOffsetsFromTheApplicationRect)
{
    GR_KeepAspect = true;
    AppSurface_Width = 1280;
    AppSurface_Height = 720;
    GR_BackBufferWidth = GR_BackBufferHeight = 1000;
    EXPECT_EQ(ToRoom(10, 300), (Point{10, 82}));
    // The device read gives the window position as it is.
    IO_DeviceMouse[3] = {10, 300};
    EXPECT_EQ(Window_GetDeviceMouseX(3), 10);
    EXPECT_EQ(Window_GetDeviceMouseY(3), 300);
    IO_DeviceMouse[0] = {11, 12};
    EXPECT_EQ(Window_MouseGetX(), 11);
    EXPECT_EQ(Window_MouseGetY(), 12);
}

TEST_F(GfxMouseMap, ViewsAreSearchedFromTheHighestAndTheLowestAnswersAMiss)
{
    View(0, 0, 0, 200, 200, 0, 0, 100, 100);
    View(1, 320, 0, 320, 240, 1000, 0, 320, 240);
    struct Case {
        int32_t x, y;
        Point want;
    } cases[] = {
        {400, 100, {1080, 100}},  // view 1
        {100, 50, {50, 25}},      // view 0 at half scale
        {250, 300, {125, 150}},   // in neither: view 0's answer, not view 1's (930, 300)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
        EXPECT_EQ(ToRoom(c.x, c.y), c.want);
        IO_DeviceMouse[0] = {c.x, c.y};
        EXPECT_EQ(Window_GetDeviceMouseX(0), c.want.x);
        EXPECT_EQ(Window_GetDeviceMouseY(0), c.want.y);
    }
}

TEST_F(GfxMouseMap, OnlyVisibleViewsDrawnToTheWindowCount)
{
    room_.width = 1280;
    room_.height = 960;
    // Drawn to a surface, hidden, or beyond the room's eight views: the room/window ratio applies.
    View(0, 0, 0, 640, 480, 500, 500, 64, 48, 0.0f, 3);
    View(1, 0, 0, 640, 480, 500, 500, 64, 48);
    room_.views[1].visible = false;
    Window_SetViewPort(9, 0, 0, 640, 480, 500, 500, 64, 48, 0.0f, -1, -1);
    EXPECT_EQ(ToRoom(100, 50), (Point{200, 100}));
    // A cleared record no longer counts even though the room's view is visible.
    View(2, 0, 0, 640, 480, 500, 500, 64, 48);
    EXPECT_EQ(ToRoom(100, 50), (Point{510, 505}));
    Window_ClearViewPort(2);
    EXPECT_EQ(ToRoom(100, 50), (Point{200, 100}));
}

TEST_F(GfxMouseMap, PortScaleAndSurfaceSizeScaleTheWindowPosition)
{
    View(0, 0, 0, 1280, 960, 0, 0, 1280, 960);
    AppSurface_Width = 1280;
    AppSurface_Height = 960;
    EXPECT_EQ(ToRoom(100, 50), (Point{200, 100}));
    GR_PortScaleX = 2.0f;
    EXPECT_EQ(ToRoom(100, 50), (Point{100, 100}));
}

TEST_F(GfxMouseMap, RotationTurnsBothWaysAndTinyAnglesAreIgnored)
{
    struct Case {
        float angle;
        Point room;
    } cases[] = {{0.0f, {30, 40}}, {0.005f, {30, 40}}, {-0.009f, {30, 40}}, {90.0f, {160, 30}}, {-90.0f, {40, 170}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.angle);
        View(0, 0, 0, 200, 200, 0, 0, 200, 200, c.angle);
        EXPECT_EQ(ToRoom(30, 40), c.room);
        EXPECT_EQ(ToWindow(0, c.room.x, c.room.y), (Point{30, 40}));
    }
    // At 0.01 the turn is applied (a point off centre moves).
    View(0, 0, 0, 200, 200, 0, 0, 200, 200, 0.5f);
    EXPECT_NE(ToRoom(0, 0), (Point{0, 0}));
}

TEST_F(GfxMouseMap, ViewMouseMapsDeviceZeroThroughOneView)
{
    View(0, 0, 0, 200, 200, 0, 0, 100, 100);
    View(1, 320, 0, 320, 240, 1000, 0, 320, 240);
    IO_DeviceMouse[0] = {100, 50};
    // Through a named view even where another would be chosen.
    EXPECT_EQ(Window_ViewMouseGetX(1), 780);
    EXPECT_EQ(Window_ViewMouseGetY(1), 50);
    EXPECT_EQ(Window_ViewMouseGetX(0), 50);
    EXPECT_EQ(Window_ViewMouseGetY(0), 25);
}

TEST_F(GfxMouseMap, RoomToWindowScalesIntoThePortAndRoundsElsewhere)
{
    View(1, 320, 0, 320, 240, 1000, 0, 160, 120);
    EXPECT_EQ(ToWindow(1, 1080, 60), (Point{480, 120}));
    EXPECT_EQ(ToWindow(1, 1000.25, 0.75), (Point{320, 2}));
    // Ties go to even without a view.
    EXPECT_EQ(ToWindow(2, 2.5, 3.5), (Point{2, 4}));
    Window_SetViewPort(3, 0, 0, 100, 100, 0, 0, 0, 100, 0.0f, -1, -1);  // no world width
    EXPECT_EQ(ToWindow(3, 7.4, 7.6), (Point{7, 8}));
}

TEST_F(GfxMouseMap, NewerGamesMapThroughTheCameraAndTestInsideThePort)
{
    g_GameData.newMode = true;
    View(0, 100, 50, 200, 100, 0, 0, 512, 256, 0.0f, -1, 7);
    View(1, 384, 0, 256, 256, 1024, 0, 256, 256, 0.0f, -1, 8);
    struct Case {
        int32_t x, y;
        Point want;
    } cases[] = {
        {512, 128, {1152, 128}},  // view 1's port
        {150, 75, {128, 64}},     // view 1 misses its port, view 0 holds it
        {384, 0, {1024, 0}},      // a port's first pixel is inside
        {0, 0, {-256, -128}},     // in no port: view 0's answer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
        EXPECT_EQ(ToRoom(c.x, c.y), c.want);
    }
    // The view-projection matrix takes room points back to the window.
    EXPECT_EQ(ToWindow(0, 128, 64), (Point{150, 75}));
    EXPECT_EQ(ToWindow(1, 1152, 128), (Point{512, 128}));
    // A camera that does not exist leaves the outputs as they were.
    View(0, 0, 0, 640, 480, 0, 0, 640, 480, 0.0f, -1, 99);
    Window_ClearViewPort(1);
    EXPECT_EQ(ToRoom(10, 10), (Point{-7, -7}));
    EXPECT_EQ(ToWindow(0, 2.5, 3.5), (Point{2, 4}));
}

TEST_F(GfxMouseMap, DevicesOutsideZeroToNineReadZero)
{
    View(0, 0, 0, 640, 480, 100, 100, 640, 480);
    for (MousePosition& m : IO_DeviceMouse) m = {5, 6};
    for (int32_t device : {-1, 10, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(device);
        EXPECT_EQ(Window_GetDeviceMouseX(device), 0);
        EXPECT_EQ(Window_GetDeviceMouseY(device), 0);
    }
    EXPECT_EQ(Window_GetDeviceMouseX(9), 105);
    EXPECT_EQ(Window_GetDeviceMouseY(9), 106);
}

TEST_F(GfxMouseMap, ViewsOutsideTheTableActAsNotDrawn)
{
    GR_KeepAspect = true;
    AppSurface_Width = AppSurface_Height = 400;
    GR_BackBufferWidth = 1000;
    GR_BackBufferHeight = 500;  // application rect starts at x 250
    Window_SetViewPort(-1, 0, 0, 10, 10, 0, 0, 10, 10, 0.0f, -1, -1);
    Window_SetViewPort(32, 0, 0, 10, 10, 0, 0, 10, 10, 0.0f, -1, -1);
    Window_ClearViewPort(-1);
    Window_ClearViewPort(32);
    for (const ViewPortRecord& r : Window_ViewPorts) EXPECT_FALSE(r.active);
    IO_DeviceMouse[0] = {300, 20};
    for (int32_t view : {-1, 32, 0, INT32_MIN}) {
        SCOPED_TRACE(view);
        EXPECT_EQ(Window_ViewMouseGetX(view), 250);
        EXPECT_EQ(Window_ViewMouseGetY(view), 250);  // the left edge for both axes
        EXPECT_EQ(ToWindow(view, 2.5, 3.5), (Point{2, 4}));
    }
}

TEST_F(GfxMouseMap, AWindowWithNoAreaLeavesTheOffsetsUnmapped)
{
    room_.width = 1280;
    room_.height = 960;
    Run_Room = &room_;
    Window_ClientWidth = Window_ClientHeight = 0;
    EXPECT_EQ(ToRoom(30, 40), (Point{30, 40}));
    View(0, 0, 0, 200, 200, 500, 500, 100, 100);
    EXPECT_EQ(ToRoom(30, 40), (Point{30, 40}));
    IO_DeviceMouse[0] = {30, 40};
    EXPECT_EQ(Window_ViewMouseGetX(0), 30);
    // Only one axis without area.
    Window_ClearViewPort(0);
    Window_ClientWidth = 640;
    EXPECT_EQ(ToRoom(30, 40), (Point{60, 40}));
}

TEST_F(GfxMouseMap, NonFiniteInputGivesTheConverterValueWithoutFaulting)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float angle : {nan, inf, -inf}) {
        SCOPED_TRACE(angle);
        View(0, 0, 0, 640, 480, 0, 0, 640, 480, angle);
        EXPECT_EQ(ToRoom(30, 40), (Point{INT32_MIN, INT32_MIN}));
        EXPECT_EQ(ToWindow(0, 30, 40), (Point{INT32_MIN, INT32_MIN}));
    }
    View(0, 0, 0, 640, 480, 0, 0, 640, 480);
    EXPECT_EQ(ToWindow(0, std::nan(""), 40), (Point{INT32_MIN, 40}));
    EXPECT_EQ(ToWindow(5, -INFINITY, 1e300), (Point{INT32_MIN, INT32_MIN}));
    // A port scale of 0 divides to infinity.
    GR_PortScaleX = 0.0f;
    EXPECT_EQ(ToRoom(30, 40).x, INT32_MIN);
}

}  // namespace mousemap_test
