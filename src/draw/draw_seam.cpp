// Until the drawing subsystem exists: no resources, no cameras, nothing drawn.
#include "draw/draw.h"

#include "core/seam_trace.h"

int32_t Debug_OverlayFlags = 2;
float Debug_Fps = 0.0f;

int32_t view_current = 0;
int32_t GUI_Width = -1;
int32_t GUI_Height = -1;
bool GUI_Maximise = false;
float GUI_MaxScaleX = 1.0f;
float GUI_MaxScaleY = 1.0f;
float GUI_MaxOffsetX = 2147483648.0f;
float GUI_MaxOffsetY = 2147483648.0f;
bool GUI_Drawing = false;

int32_t AppSurface_Id = APPLICATION_SURFACE_NONE;
bool AppSurface_Enabled = true;
bool AppSurface_DrawEnabled = true;
bool AppSurface_WasEnabled = true;
int32_t AppSurface_Width = -1;
int32_t AppSurface_Height = -1;
int32_t AppSurface_SavedWidth = -1;
int32_t AppSurface_SavedHeight = -1;
bool AppSurface_ResizePending = false;
int32_t AppSurface_ResizeWidth = -1;
int32_t AppSurface_ResizeHeight = -1;
float GR_PortScaleX = 1.0f;
float GR_PortScaleY = 1.0f;

void DrawRoom() { SeamTrace_Record("DrawRoom"); }

void TimingBar_Begin(uint32_t, const char*) { SeamTrace_Record("TimingBar_Begin"); }
void TimingBar_End() { SeamTrace_Record("TimingBar_End"); }
void TimingBar_FrameStart() { SeamTrace_Record("TimingBar_FrameStart"); }
void Debug_InitOverlay() { SeamTrace_Record("Debug_InitOverlay"); }
void Debug_DrawOverlay() { SeamTrace_Record("Debug_DrawOverlay"); }
void Debug_LogFpsStats() { SeamTrace_Record("Debug_LogFpsStats"); }

void Camera_CreateDefault() { SeamTrace_Record("Camera_CreateDefault"); }

void View_FollowTargets() { SeamTrace_Record("View_FollowTargets"); }
void Window_FitToRoom() { SeamTrace_Record("Window_FitToRoom"); }
void SetViewArea(float, float, float, float, float) { SeamTrace_Record("SetViewArea"); }
void GUI_SetProjection() { SeamTrace_Record("GUI_SetProjection"); }

int32_t CBackground::GetWidth() const { return 0; }
int32_t CBackground::GetHeight() const { return 0; }

void Background_Init() { SeamTrace_Record("Background_Init"); }
bool Background_Load(uint8_t*, uint32_t, uint8_t*)
{
    SeamTrace_Record("Background_Load");
    return true;
}
void Background_InitTextures() { SeamTrace_Record("Background_InitTextures"); }
void Background_FreeAll() { SeamTrace_Record("Background_FreeAll"); }
CBackground* Background_Data(int32_t) { return nullptr; }
bool Background_Exists(int32_t) { return false; }
int32_t Background_Find(const char*) { return -1; }

namespace {
bool DrawSeam_NoBackground(int32_t, int32_t*, int32_t*) { return false; }
BackgroundSizeSource g_drawSeamBackgroundSize = DrawSeam_NoBackground;
}  // namespace

BackgroundSizeSource Background_SetSizeSource(BackgroundSizeSource source)
{
    BackgroundSizeSource old = g_drawSeamBackgroundSize;
    g_drawSeamBackgroundSize = source ? source : DrawSeam_NoBackground;
    return old;
}

bool Background_GetSize(int32_t index, int32_t* width, int32_t* height)
{
    int32_t w = 0, h = 0;
    if (!g_drawSeamBackgroundSize(index, &w, &h)) return false;
    if (width) *width = w;
    if (height) *height = h;
    return true;
}

void InitCameraFunctions() { SeamTrace_Record("InitCameraFunctions"); }
void InitGraphicFunctions() { SeamTrace_Record("InitGraphicFunctions"); }
void InitResourceFunctions() { SeamTrace_Record("InitResourceFunctions"); }
void Init3DFunctions() { SeamTrace_Record("Init3DFunctions"); }
