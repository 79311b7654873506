// The one rendering device: creation with its fallbacks, resets, the frame's scene and present (with the
// alternate sync's pacing), the render size, the viewport and clears.
#include "gfx/device.h"

#include "core/console.h"
#include "core/seam_trace.h"
#include "core/timing.h"
#include "gfx/batch.h"
#include "gfx/display.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/shaders.h"
#include "gfx/surfaces.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "gfx/window.h"
#include "input/input.h"
#include "draw/draw.h"
#include "net/net.h"
#include "platform/hooks.h"
#include "platform/render_device.h"
#include "world/command_line.h"
#include "world/mainloop.h"
#include "world/options.h"

#include <algorithm>
#include <cctype>
#include <cstring>

RenderDevice* GR_D3D = nullptr;
RenderDevice* GR_D3DEx = nullptr;
RenderDevice* GR_Device = nullptr;
RDPresentParams GR_PresentParams{};
RDCaps GR_DeviceCaps{};
uint32_t GR_SwapEffect = RD_SWAPEFFECT_COPY;
uint32_t GR_MultisampleType = 0;
uint32_t GR_MultisampleSupport = 0;
bool GR_VSync = false;
bool GR_AlternateSync = false;
bool GR_UsePlainD3D9 = false;
bool GR_ManualClears = false;
bool GR_SingleUseBatchBuffers = false;
bool GR_SoftwareVertexProcessing = false;
bool GR_SkipAdapterCheck = false;
bool GR_KeepAspect = false;
bool GR_Interpolate = false;
int32_t GR_RenderWidth = 640, GR_RenderHeight = 480;
int32_t GR_BackBufferWidth = 640, GR_BackBufferHeight = 480;
GRViewport GR_Viewport{0, 0, 640, 480};
int32_t GR_SceneCount = 0;
int32_t GR_MaxRenderTargets = 1;
int64_t GR_PresentTime = 0;
FramePacing GR_FramePacing;
int32_t GR_WhiteTexture = -1;
TexturePage* GR_WhiteTexturePage = nullptr;

namespace {

// The desktop's size: the screen the window sits on.
void GR_ScreenSize(int32_t* width, int32_t* height) { Window_GetScreenSize(width, height); }

void GR_DeviceBox(const char* text)
{
    MessageBoxRequest request{Window_Caption ? Window_Caption : "", text, MB_BUTTONS_OK, MB_ANSWER_OK};
    Platform_MessageBox(request);
}

uint32_t GR_Interval()
{
    if (GR_AlternateSync) return RD_PRESENT_INTERVAL_ONE;
    return GR_VSync ? RD_PRESENT_INTERVAL_DEFAULT : RD_PRESENT_INTERVAL_IMMEDIATE;
}

// The first adapter's desktop size, or the screen's when there is no adapter record.
void GR_DesktopSize(int32_t* width, int32_t* height)
{
    if (GR_AdapterCount > 0) {
        *width = GR_AdapterTable[0].width;
        *height = GR_AdapterTable[0].height;
    } else {
        GR_ScreenSize(width, height);
    }
}

void GR_SetDeviceViewportAll(int32_t width, int32_t height)
{
    GR_Viewport = {0, 0, width, height};
    GR_D3D_SetDeviceViewport(0, 0, width, height);
}

}  // namespace

// ---- Pacing ------------------------------------------------------------------------------------------------

double FramePacing_Interval(int32_t frequency, bool interlaced)
{
    const double r = frequency > 0 ? 1000000.0 / frequency : 16666.666;
    return interlaced ? r / 2 : r;
}

int64_t FramePacing::SleepBefore(int64_t now, double r, int64_t budget)
{
    before = last;
    if (last == -1) last = now;
    const double sleep = double(budget) - 0.9 * r - double(now - last) + double(error);
    return int64_t(std::clamp(sleep, 0.0, 1000000.0));
}

void FramePacing::After(int64_t vblank, double r, int64_t budget)
{
    last = vblank;
    if (before == -1) return;
    const int64_t bound = int64_t(r);
    error = std::clamp<int64_t>(error + (before + budget) - vblank, -bound, bound);
}

// ---- Creation ----------------------------------------------------------------------------------------------

bool GR_D3D_Init(void* window, int32_t width, int32_t height, uint32_t flags)
{
    GR_RenderWidth = std::min(width, Window_ClientWidth);
    GR_RenderHeight = std::min(height, Window_ClientHeight);
    const int32_t depth = Display_GetColourDepth();
    if (depth != 16 && depth != 32) {
        ShowMessageBox(
            "This program requires 16-bit (High Color) or 32-bit (Full Color) mode. Please change this in your display "
            "properties and run again.");
        return false;
    }
    GR_AlternateSync = Options_AlternateSync();
    GR_SkipAdapterCheck = g_RunFlags.vanillaGFX;
    const bool ok = GR_D3D_CreateDevice(window, GR_RenderWidth, GR_RenderHeight, flags);
    RDMatrix identity{};
    for (int i = 0; i < 4; ++i) identity.m[i][i] = 1.0f;
    GR_D3D_SetMatrix(RDTS_WORLD, identity);
    GR_Texture_FreeTable();
    GPUState::SetDefaults();
    GR_D3D_RestoreStates();
    GR_D3D_Clear(0, 1.0f, 0, 7);
    if (GR_Device) {
        GraphicsFlush();
        GR_Viewport = {0, 0, GR_BackBufferWidth, GR_BackBufferHeight};
        GR_D3D_SetDeviceViewport(0, 0, GR_BackBufferWidth, GR_BackBufferHeight);
        GR_SetViewProjection(0, 0, GR_BackBufferWidth, GR_BackBufferHeight, 0);
    }
    GR_SceneCount = 0;
    Debug_InitOverlay();
    if (GR_WhiteTexture == -1) {
        const uint32_t white = 0xFFFFFFFFu;
        GR_WhiteTexture = GR_Texture_Create(1, 1, &white, 4);
    }
    GR_WhiteTexturePage = GR_Texture_Exists(GR_WhiteTexture) ? GR_Texture_Page(GR_WhiteTexture) : nullptr;
    return ok;
}

bool GR_D3D_CreateDevice(void* window, int32_t width, int32_t height, uint32_t flags)
{
    // One device at a time: a start-up without the shutdown before it replaces the old one.
    if (GR_Device) GR_D3D_Release();
    // No desktop window manager library to ask: the device behaves as the extended one, alternate sync allowed.
    GR_UsePlainD3D9 = false;
    GR_VSync = false;
    uint32_t interval = GR_AlternateSync ? RD_PRESENT_INTERVAL_ONE : RD_PRESENT_INTERVAL_IMMEDIATE;
    if (flags & 2) {
        GR_VSync = true;
        if (!GR_AlternateSync) interval = RD_PRESENT_INTERVAL_DEFAULT;
    }
    GR_Interpolate = (flags & 8) != 0;
    for (uint8_t& stage : GR_TextureInterpolation) stage = GR_Interpolate ? 1 : 0;
    GR_SoftwareVertexProcessing = (flags & 4) != 0 || g_RunFlags.software;
    const uint32_t behaviour = RD_CREATE_FPU_PRESERVE | (GR_SoftwareVertexProcessing
                                                             ? RD_CREATE_SOFTWARE_VERTEXPROCESSING
                                                             : RD_CREATE_HARDWARE_VERTEXPROCESSING);
    GR_KeepAspect = (flags & 16) != 0;

    DebugConsole->Output("Create D3D9Ex interface\n");
    RenderDevice* rd = RenderDevice_Get();
    if (rd->GetAdapterCount() == 0) {
        GR_DeviceBox("Failed to create Direct3D 9ex device");
        return false;
    }
    GR_D3D = GR_D3DEx = rd;

    DebugConsole->Output("Enumerate Adapters\n");
    Display_EnumModes();
    GR_D3D_CheckManualClears();
    const DisplayMode* mode = Display_FindBestMode(width, height);
    // No mode: the first adapter at the size asked for.
    const uint32_t adapter = mode ? uint32_t(mode->adapterOrdinal) : 0;
    if (flags & 1) GR_DesktopSize(&width, &height);
    DebugConsole->Output("Selected Resolution: %dx%d\n", width, height);
    DebugConsole->Output("Prepare to create device\n");

    RDPresentParams& p = GR_PresentParams;
    p = RDPresentParams{};
    p.backBufferWidth = uint32_t(width);
    p.backBufferHeight = uint32_t(height);
    p.backBufferFormat = RDFMT_A8R8G8B8;
    p.backBufferCount = GR_AlternateSync ? 2 : 1;
    p.multiSampleType = 0;
    GR_MultisampleType = 0;
    GR_SwapEffect = GR_AlternateSync ? RD_SWAPEFFECT_FLIPEX : RD_SWAPEFFECT_COPY;
    p.swapEffect = GR_SwapEffect;
    p.deviceWindow = window;
    p.windowed = (flags & 1) ? 0 : 1;
    Window_FullScreen = (flags & 1) != 0;
    Window_DeviceFullScreen = (flags & 1) ? 1 : 0;
    p.enableAutoDepthStencil = 1;
    p.autoDepthStencilFormat = RDFMT_D24S8;
    p.presentationInterval = interval;

    DebugConsole->Output("Creating D3D device - ARGB=32bit, D24S8, SwapEffect=Copy, %s\n",
                         GR_SoftwareVertexProcessing ? "Software vertex processing" : "Hardware vertex processing");
    RDPresentParams attempt = p;
    RDResult r = rd->CreateDevice(adapter, RD_DEVTYPE_HAL, window, behaviour, &attempt);
    if (RD_Failed(r) && GR_AlternateSync) {
        GR_AlternateSync = false;
        attempt.presentationInterval = GR_VSync ? RD_PRESENT_INTERVAL_DEFAULT : RD_PRESENT_INTERVAL_IMMEDIATE;
        attempt.backBufferCount = 1;
        attempt.swapEffect = RD_SWAPEFFECT_COPY;
        r = rd->CreateDevice(adapter, RD_DEVTYPE_HAL, window, behaviour, &attempt);
    }
    if (RD_Failed(r)) {
        attempt.autoDepthStencilFormat = RDFMT_D16;
        attempt.swapEffect = RD_SWAPEFFECT_DISCARD;
        DebugConsole->Output("Creating D3D device - ARGB=32bit, D16, SwapEffect=Discard, Software Vertex Processing\n");
        r = rd->CreateDevice(adapter, RD_DEVTYPE_HAL, window,
                             RD_CREATE_FPU_PRESERVE | RD_CREATE_SOFTWARE_VERTEXPROCESSING, &attempt);
        if (RD_Failed(r)) {
            GR_DeviceBox(
                "Failed to create Direct3D Device. Please check that your drivers are up-to-date. Alternatively try "
                "switching your computer to a lower resolution to reduce graphics memory requirements.");
            Platform_Exit(-1);
            return false;
        }
    }
    p = attempt;
    GR_Device = rd;

    DebugConsole->Output("Creating screen render target\n");
    GR_BackBufferWidth = width;
    GR_BackBufferHeight = height;
    DebugConsole->Output("Get Device Caps\n");
    rd->GetDeviceCaps(adapter, RD_DEVTYPE_HAL, &GR_DeviceCaps);
    GR_MultisampleSupport = 0;
    for (uint32_t n : {2u, 4u, 8u, 16u})
        if (!RD_Failed(rd->CheckDeviceMultiSampleType(0, RD_DEVTYPE_HAL, RDFMT_A8R8G8B8, 1, n)))
            GR_MultisampleSupport |= n;
    GR_MaxRenderTargets = int32_t(std::min<uint32_t>(GR_DeviceCaps.numSimultaneousRTs, 4));
    Window_PendingWidth = Window_PendingHeight = -1;
    DebugConsole->Output("Graphics initialisation end...\n");
    return true;
}

void GR_D3D_CheckManualClears()
{
    if (g_RunFlags.intel) {
        GR_ManualClears = GR_SingleUseBatchBuffers = true;
        return;
    }
    if (GR_SkipAdapterCheck || GR_AdapterCount == 0) return;
    char lower[sizeof GR_AdapterTable[0].description];
    size_t i = 0;
    for (; i + 1 < sizeof lower && GR_AdapterTable[0].description[i]; ++i)
        lower[i] = char(std::tolower((unsigned char)(GR_AdapterTable[0].description[i])));
    lower[i] = 0;
    if (std::strstr(lower, "intel")) {
        GR_ManualClears = GR_SingleUseBatchBuffers = true;
        DebugConsole->Output("Switching to manual clears\n");
    }
}

// ---- Resets ------------------------------------------------------------------------------------------------

bool GR_D3D_ResetDevice()
{
    const bool windowed = !Window_FullScreen;
    if (windowed && Window_SavedWidth != -1) {
        if (Window_PendingWidth == -1) {
            Window_PendingWidth = Window_SavedWidth;
            Window_PendingHeight = Window_SavedHeight;
        }
        Window_SavedWidth = Window_SavedHeight = -1;
    }
    RenderTarget_PopAll();
    if (!GR_Device) return false;
    RDDisplayMode desktop;
    if (RD_Failed(GR_Device->GetAdapterDisplayMode(0, &desktop))) return false;
    if (RD_Failed(GR_Device->CheckDeviceMultiSampleType(0, RD_DEVTYPE_HAL, desktop.format, windowed ? 1 : 0,
                                                        GR_MultisampleType))) {
        GR_MultisampleType = 0;
        GR_SwapEffect = RD_SWAPEFFECT_COPY;
    }
    RDPresentParams& p = GR_PresentParams;
    p.presentationInterval = GR_Interval();
    const bool pending = Window_PendingWidth != -1;
    int32_t width = pending ? Window_PendingWidth : GR_BackBufferWidth;
    int32_t height = pending ? Window_PendingHeight : GR_BackBufferHeight;
    if (windowed) {
        Window_ApplyFullScreen(false);
        p.windowed = 1;
        Window_DeviceFullScreen = 0;
        if (!pending) {
            width = Window_ClientWidth = Window_RequestedWidth;
            height = Window_ClientHeight = Window_RequestedHeight;
        }
    } else {
        Window_ApplyFullScreen(true);
        p.windowed = 0;
        Window_DeviceFullScreen = 1;
        GR_DesktopSize(&width, &height);
        GR_BackBufferWidth = width;
        GR_BackBufferHeight = height;
    }
    p.backBufferWidth = uint32_t(width);
    p.backBufferHeight = uint32_t(height);
    p.backBufferCount = GR_AlternateSync ? 2 : 1;
    p.swapEffect = GR_AlternateSync ? RD_SWAPEFFECT_FLIPEX : GR_SwapEffect;
    p.multiSampleType = GR_MultisampleType;
    RDResult r = GR_Device->Reset(&p);
    if (RD_Failed(r)) {
        DebugConsole->Output("Reset() Failed: %X\n", uint32_t(r));
        if (GR_AlternateSync) {
            GR_AlternateSync = false;
            p.presentationInterval = GR_VSync ? RD_PRESENT_INTERVAL_DEFAULT : RD_PRESENT_INTERVAL_IMMEDIATE;
            p.swapEffect = GR_SwapEffect;
            p.backBufferCount = 1;
            r = GR_Device->Reset(&p);
        }
        if (RD_Failed(r)) {
            GR_MultisampleType = 0;
            GR_SwapEffect = RD_SWAPEFFECT_DISCARD;
            p.multiSampleType = 0;
            p.swapEffect = RD_SWAPEFFECT_DISCARD;
            DebugConsole->Output("Change SWAP+Multisample type effect, try Reset() again\n");
            if (RD_Failed(GR_Device->Reset(&p))) return false;
        }
    }
    if (pending) {
        if (windowed) {
            GR_BackBufferWidth = Window_PendingWidth;
            GR_BackBufferHeight = Window_PendingHeight;
        }
        GR_SetRenderSize(GR_BackBufferWidth, GR_BackBufferHeight);
    }
    if (windowed) {
        if (pending) {
            Window_RequestedWidth = Window_PendingWidth;
            Window_RequestedHeight = Window_PendingHeight;
        }
        const int32_t w = Window_RequestedWidth, h = Window_RequestedHeight;
        Window_ClientWidth = GR_BackBufferWidth = w;
        Window_ClientHeight = GR_BackBufferHeight = h;
        if (!Window_UserSized) {
            int32_t screenWidth = 0, screenHeight = 0;
            GR_ScreenSize(&screenWidth, &screenHeight);
            Window_PlaceClient((screenWidth - w) / 2, (screenHeight - h) / 2, w, h);
            GR_SetRenderSize(w, h);
        }
    } else if (pending) {
        Window_RequestedWidth = Window_PendingWidth;
        Window_RequestedHeight = Window_PendingHeight;
    }
    Window_UserSized = false;
    GR_D3D_Clear(0, 1.0f, 0, 7);
    Window_PendingWidth = Window_PendingHeight = -1;
    GR_D3D_RestoreStates();
    return true;
}

bool GR_D3D_ResetAll()
{
    Surface_FreeAll();
    if (!GR_D3D_ResetDevice()) return false;
    GR_D3D_Clear(0, 1.0f, 0, 7);
    GR_D3D_RestoreStates();
    return true;
}

void GR_ApplyWindowSize()
{
    if (Window_FullScreen || Window_PendingWidth == -1) return;
    Window_SetClientSize(Window_PendingWidth, Window_PendingHeight);
    GR_SetRenderSize(Window_PendingWidth, Window_PendingHeight);
}

// ---- Render size and viewport ------------------------------------------------------------------------------

void GR_SetRenderSize(int32_t width, int32_t height)
{
    int32_t screenWidth = 0, screenHeight = 0;
    GR_ScreenSize(&screenWidth, &screenHeight);
    width = std::min(width, screenWidth);
    height = std::min(height, screenHeight);
    if (width == GR_RenderWidth && height == GR_RenderHeight) return;
    GR_RenderWidth = width;
    GR_RenderHeight = height;
    if (!GR_Device) return;
    GraphicsFlush();
    GR_SetDeviceViewportAll(width, height);
    GR_SetViewProjection(0, 0, width, height, 0);
}

void GR_GetRenderSize(int32_t* width, int32_t* height)
{
    *width = GR_RenderWidth;
    *height = GR_RenderHeight;
}

void GR_SetViewport(int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (!GR_Device) return;
    GraphicsFlush();
    GR_Viewport = {x, y, width, height};
    GR_D3D_SetDeviceViewport(x, y, width, height);
}

void GR_D3D_SetDeviceViewport(int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (!GR_Device) return;
    // Negative values wrap as the device's unsigned fields would; the device refuses what it cannot use.
    GR_Device->SetViewport({uint32_t(x), uint32_t(y), uint32_t(width), uint32_t(height), 0.0f, 1.0f});
}

// ---- Frames ------------------------------------------------------------------------------------------------

bool Start_Frame()
{
    SeamTrace_Record("Start_Frame");  // the main loop's tests follow the frame through the trace
    if (!GR_Device) return false;
    ProfilerRegion region(6, 25);
    GR_D3D_BeginScene();
    return true;
}

bool End_Frame(bool present)
{
    SeamTrace_Record(present ? "End_Frame" : "End_Frame(not presented)");
    if (!GR_Device) return false;
    ProfilerRegion region(6, 26);
    GR_D3D_EndScene();
    if (present) {
        const int64_t start = Timing_Time();
        GR_D3D_Present();
        GR_PresentTime = Timing_Time() - start;
    }
    return true;
}

bool GR_D3D_BeginScene()
{
    if (!GR_Device || GR_SceneCount != 0) return false;
    const RDResult level = GR_Device->TestCooperativeLevel();
    if (level == RDERR_DEVICENOTRESET || (level == RDERR_DEVICELOST && !GR_UsePlainD3D9)) GR_D3D_ResetAll();
    GR_Device->BeginScene();
    RenderTarget_PopAll();
    Window_ClientWidth = Window_GetClientWidth();
    Window_ClientHeight = Window_GetClientHeight();
    TimingBar_FrameStart();
    GR_SceneCount = 1;
    return true;
}

bool GR_D3D_EndScene()
{
    if (!GR_Device || GR_SceneCount == 0) return false;
    GraphicsFlush();
    Debug_DrawOverlay();
    GR_SceneCount = 0;
    GraphicsFlush();
    RenderTarget_Pop();
    GraphicsFlush();
    GR_Batch_EndFrame();
    GR_Device->EndScene();
    RenderTarget_PopAll();
    return true;
}

bool GR_D3D_Present()
{
    Window_ShowFirstTime();
    if (!GR_Device) return false;
    if (GR_AlternateSync && GR_VSync && Window_ResetCountdown != 1) {
        const bool known = GR_AdapterCount > 0;
        const double r = FramePacing_Interval(known ? GR_AdapterTable[0].frequency : 0,
                                              known && GR_AdapterTable[0].interlaced);
        const int64_t budget = int64_t(1000000.0 / std::max(MainLoop_FpsTarget, 1));
        Timing_Sleep(GR_FramePacing.SleepBefore(Timing_Time(), r, budget));
        // No vertical-blank poll on this platform: the sleep alone paces.
        GR_FramePacing.After(Timing_Time(), r, budget);
    }
    return !RD_Failed(GR_Device->Present());
}

// ---- Clears and states -------------------------------------------------------------------------------------

namespace {

// Some adapters clear unreliably: there the targets are covered by a quad drawn with depth test "always".
void ManualClear(uint32_t argb, float depth, uint32_t flags)
{
    RDSurface* targets[4] = {};
    int32_t count = 0;
    for (int32_t i = 0; i < std::min(GR_MaxRenderTargets, 4); ++i) {
        RDSurface* target = nullptr;
        if (GR_Device->GetRenderTarget(uint32_t(i), &target) == RD_OK && target) targets[count++] = target;
    }
    RDSurface* depthSurface = nullptr;
    if (GR_Device->GetDepthStencilSurface(&depthSurface) != RD_OK) depthSurface = nullptr;

    Matrix44 saved[3];
    const uint32_t transforms[3] = {RDTS_WORLD, RDTS_VIEW, RDTS_PROJECTION};
    for (int i = 0; i < 3; ++i) GR_D3D_GetMatrix(transforms[i], &saved[i]);
    GPUState::Push();
    Shader* shader = Shader_Current();
    Shader_SetPending(nullptr);
    Shader_Apply();

    GPUState::SetRenderState(GPURS_ZTESTENABLE, 1);
    GPUState::SetRenderState(GPURS_ZFUNC, 8);
    GPUState::SetRenderState(GPURS_BLENDENABLE, 0);
    GPUState::SetRenderState(GPURS_ALPHATESTENABLE, 0);
    GPUState::SetRenderState(GPURS_LIGHTING, 0);
    GPUState::SetRenderState(GPURS_CULLMODE, 0);
    GPUState::SetRenderState(GPURS_COLORWRITEENABLE, (flags & RDCLEAR_TARGET) ? 15 : 0);
    GPUState::SetRenderState(GPURS_ZWRITEENABLE, (flags & RDCLEAR_ZBUFFER) ? 1 : 0);
    const Matrix44 identity = Matrix_Identity();
    for (uint32_t transform : transforms) GR_D3D_SetMatrixUnshifted(transform, identity);

    const bool several = count > 1;
    const bool pushed = several && RenderTarget_Push();
    for (int32_t i = 1; several && i < count; ++i) GR_Device->SetRenderTarget(uint32_t(i), nullptr);
    for (int32_t j = 0; j < std::max(count, 1); ++j) {
        if (several) {
            GR_Device->SetRenderTarget(0, targets[j]);
            GR_Device->SetDepthStencilSurface(j == 0 ? depthSurface : nullptr);
        }
        auto* v = static_cast<VertexPosColour*>(GR_Batch_Alloc(RDPT_TRIANGLESTRIP, nullptr, VERTEX_FORMAT_POS_COLOUR, 4));
        const float corners[4][2] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}};
        for (int k = 0; k < 4; ++k) v[k] = {corners[k][0], corners[k][1], depth, argb};
        GraphicsFlush();
    }
    // Without a target stack the targets go back as they were collected.
    if (pushed) {
        RenderTarget_Pop();
    } else if (several) {
        for (int32_t i = 0; i < count; ++i) GR_Device->SetRenderTarget(uint32_t(i), targets[i]);
        GR_Device->SetDepthStencilSurface(depthSurface);
    }
    for (int32_t i = 0; i < count; ++i) targets[i]->Release();
    if (depthSurface) depthSurface->Release();

    GPUState::Pop();
    for (int i = 0; i < 3; ++i) GR_D3D_SetMatrixUnshifted(transforms[i], saved[i]);
    Shader_SetPending(shader);
    Shader_Apply();
}

}  // namespace

void GR_D3D_Clear(uint32_t colour, float depth, uint32_t /*stencil*/, uint32_t flags)
{
    if (!GR_Device || flags == 0 || GR_SceneCount == 0) return;
    GraphicsFlush();
    const uint32_t argb = (colour & 0xFF00FF00u) | ((colour & 0xFF) << 16) | ((colour >> 16) & 0xFF);
    if (GR_ManualClears)
        ManualClear(argb, depth, flags);
    else
        GR_Device->Clear(flags & 7, argb, 1.0f, 0);
}

void GR_D3D_EnableNormalize()
{
    if (GR_Device) GR_Device->SetRenderState(RDRS_NORMALIZENORMALS, 1);
}

void GR_D3D_RestoreStates()
{
    if (!GR_Device) return;
    Texture_ForgetBindings();
    GR_D3D_EnableNormalize();
    GPUState::SetRenderState(GPURS_BLENDENABLE, 1);
    GPUState::SetRenderState(GPURS_ZTESTENABLE, GR_3DMode && GR_HiddenSurface ? 1 : 0);
    const uint32_t fogBGR = ((GR_FogColour & 0xFF) << 16) | (GR_FogColour & 0xFF00) | ((GR_FogColour >> 16) & 0xFF);
    GR_3D_SetFog(GR_FogOn, fogBGR, int16_t(GR_FogStart), int16_t(GR_FogEnd));
    GR_Device->SetTexture(0, nullptr);
    GR_Texture_SetInterpolation(GR_Interpolate);
    GraphicsFlush();
    GR_D3D_SetTextureStageOps(true);
    GR_Texture_SetRepeat(GR_Texture_GetRepeat());
    GPUState::ApplyAll();
}

void Window_PrepareForDialog()
{
    Window_ShowFirstTime();
    if (!Window_FullScreen) return;
    Window_FullScreen = false;
    const bool open = GR_SceneCount != 0;
    if (open) End_Frame(false);
    GR_D3D_ResetDevice();
    if (open) Start_Frame();
}

void Display_SetAntialias(int32_t samples)
{
    const bool valid = samples == 2 || samples == 4 || samples == 8 || samples == 16;
    GR_MultisampleType = valid ? uint32_t(samples) : 0;
    GR_SwapEffect = valid ? RD_SWAPEFFECT_DISCARD : RD_SWAPEFFECT_COPY;
}

void Display_SetVSync(bool on) { GR_VSync = on; }

int32_t GR_D3D_SupportedAA() { return int32_t(GR_MultisampleSupport & (2 | 4 | 8)); }

bool GR_D3D_ShadersSupported()
{
    return (GR_DeviceCaps.vertexShaderVersion & 0xFFFF) >= 0x200 && (GR_DeviceCaps.pixelShaderVersion & 0xFFFF) >= 0x200;
}

// ---- Shutdown ----------------------------------------------------------------------------------------------

void GR_D3D_Shutdown()
{
    if (GR_WhiteTexture != -1) GR_Texture_Free(GR_WhiteTexture);
    GR_WhiteTexture = -1;
    GR_WhiteTexturePage = nullptr;
    Surface_FreeAll();
    VertexBuffer_ReleaseFrozen();
    GR_Batch_FreeAll();
    GR_D3D_Release();
    Display_FreeAdapters();
}

void GR_D3D_Release()
{
    RenderTarget_PopAll();
    if (GR_Device) GR_Device->ReleaseDevice();
    GR_Device = nullptr;
    GR_D3D = GR_D3DEx = nullptr;
    Window_SavedWidth = Window_SavedHeight = -1;
}
