// The one rendering device: creation, resets, the frame's scene and present, the render size, the viewport
// and clears; and what start-up asks of graphics work not built yet.
#pragma once
#include <cstdint>

#include "platform/render_device.h"

struct TexturePage;

// ---- Device state ------------------------------------------------------------------------------------------

extern RenderDevice* GR_D3D;    // the interface once made
extern RenderDevice* GR_D3DEx;  // the same: the device always acts as the extended one
extern RenderDevice* GR_Device;  // null before creation and after release
extern RDPresentParams GR_PresentParams;
extern RDCaps GR_DeviceCaps;
extern uint32_t GR_SwapEffect;
extern uint32_t GR_MultisampleType;     // 0, 2, 4, 8 or 16
extern uint32_t GR_MultisampleSupport;  // bits 2, 4, 8, 16: counts the device accepts
extern bool GR_VSync;
extern bool GR_AlternateSync;
extern bool GR_UsePlainD3D9;
extern bool GR_ManualClears;
extern bool GR_SingleUseBatchBuffers;
extern bool GR_SoftwareVertexProcessing;
extern bool GR_SkipAdapterCheck;
extern bool GR_KeepAspect;
extern bool GR_Interpolate;
extern int32_t GR_RenderWidth, GR_RenderHeight;
// The back buffer's size as last created or reset (the window remembers it when full screen is entered).
extern int32_t GR_BackBufferWidth, GR_BackBufferHeight;
struct GRViewport {
    int32_t x, y, width, height;
};
extern GRViewport GR_Viewport;
extern int32_t GR_SceneCount;  // 1 between begin and end of scene
extern int32_t GR_MaxRenderTargets;
extern int64_t GR_PresentTime;  // microseconds the last present took
// The 1 x 1 white page the primitive drawer samples; -1 until made.
extern int32_t GR_WhiteTexture;
extern TexturePage* GR_WhiteTexturePage;

// The alternate sync's frame pacing, in microseconds: sleep most of the refresh interval r before a present,
// then carry the error against the frame budget (bounded by r) into the next frame.
struct FramePacing {
    int64_t last = -1, before = -1, error = 0;
    int64_t SleepBefore(int64_t now, double r, int64_t budget);
    void After(int64_t vblank, double r, int64_t budget);
};
extern FramePacing GR_FramePacing;
// The refresh interval of a display: 16666.666 when its rate is unknown, halved when interlaced.
double FramePacing_Interval(int32_t frequency, bool interlaced);

// ---- Creation and resets -----------------------------------------------------------------------------------

// The device for the main window: width, height, the header's window flags (1 full screen, 2 vsync,
// 4 software vertex processing, 8 texture interpolation, 16 keep aspect ratio). False: start-up stops.
bool GR_D3D_Init(void* window, int32_t width, int32_t height, uint32_t flags);
bool GR_D3D_CreateDevice(void* window, int32_t width, int32_t height, uint32_t flags);
void GR_D3D_CheckManualClears();
bool GR_D3D_ResetDevice();
// Surfaces freed, the device reset, cleared and its states restored; false when the reset failed.
bool GR_D3D_ResetAll();
// Each frame of the reset countdown: the window takes the pending size.
void GR_ApplyWindowSize();
void GR_D3D_Shutdown();
void GR_D3D_Release();

// ---- Frames ------------------------------------------------------------------------------------------------

// The scene of a frame: Start_Frame begins it, End_Frame ends it and shows it when present is true. Both
// false without a device.
bool Start_Frame();
bool End_Frame(bool present);
bool GR_D3D_BeginScene();
bool GR_D3D_EndScene();
bool GR_D3D_Present();

// ---- Size, viewport, clears and states ---------------------------------------------------------------------

void GR_SetRenderSize(int32_t width, int32_t height);
void GR_GetRenderSize(int32_t* width, int32_t* height);
void GR_SetViewport(int32_t x, int32_t y, int32_t width, int32_t height);
// The device's viewport alone (depth 0 to 1), with no flush.
void GR_D3D_SetDeviceViewport(int32_t x, int32_t y, int32_t width, int32_t height);
// colour: BGR with alpha in the top byte; flags 1 target, 2 depth, 4 stencil. Nothing outside a scene.
void GR_D3D_Clear(uint32_t colour, float depth, uint32_t stencil, uint32_t flags);
void GR_D3D_RestoreStates();
void GR_D3D_EnableNormalize();
bool GR_D3D_ShadersSupported();
// Take effect at the next reset.
void Display_SetAntialias(int32_t samples);
void Display_SetVSync(bool on);
// The multisample counts the device accepts, as the sum of 2, 4 and 8 (display_aa).
int32_t GR_D3D_SupportedAA();

// The table of built-in images (particle shapes, the overlay's images) that textures are made from later.
void EmbeddedImages_Register();
// The primitive drawer's defaults (circle precision 24).
void GR_Draw_Init();

// Vertex formats and buffers.
void VertexFormat_FreeAll();
// Binds the vertex_* built-ins that check their arguments (checked) or the faster ones (release mode).
void VertexBuffer_SetCheckedWriters(bool checked);
void InitVertexFormatFunctions();
void InitVertexBufferFunctions();
// Shutdown: the vertex buffers frozen into device buffers.
void VertexBuffer_ReleaseFrozen();

