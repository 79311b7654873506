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

// No camera exists while cameras are a seam, so these are never reached.
int32_t CCamera::GetID() const { return -1; }
bool CCamera::Is2D() const { return true; }
void CCamera::GetViewProjMat(Matrix44*) const {}
void CCamera::GetInvViewProjMat(Matrix44*) const {}

void CCameraManager::Reset() { SeamTrace_Record("CCameraManager::Reset"); }
CCamera* CCameraManager::CreateFromView(const uint8_t*)
{
    SeamTrace_Record("CCameraManager::CreateFromView");
    return nullptr;
}
void CCameraManager::DestroyCamera(int32_t) { SeamTrace_Record("CCameraManager::DestroyCamera"); }
CCamera* CCameraManager::CloneCamera(int32_t)
{
    SeamTrace_Record("CCameraManager::CloneCamera");
    return nullptr;
}
CCamera* CCameraManager::GetCamera(int32_t) { return nullptr; }
CCamera* CCameraManager::GetActiveCamera() { return nullptr; }
void CCameraManager::CreateScriptInstance() { SeamTrace_Record("CCameraManager::CreateScriptInstance"); }
void CCameraManager::DeleteScriptInstance() { SeamTrace_Record("CCameraManager::DeleteScriptInstance"); }
CInstance* CCameraManager::GetScriptInstance() { return nullptr; }
void Camera_CreateDefault() { SeamTrace_Record("Camera_CreateDefault"); }

namespace {
CameraAreaSource g_drawSeamCameraArea = nullptr;
}  // namespace

CameraAreaSource Camera_SetViewAreaSource(CameraAreaSource source)
{
    CameraAreaSource old = g_drawSeamCameraArea;
    g_drawSeamCameraArea = source;
    return old;
}

bool Camera_GetViewArea(int32_t id, float* left, float* top, float* right, float* bottom)
{
    *left = *top = *right = *bottom = 0.0f;
    return g_drawSeamCameraArea && g_drawSeamCameraArea(id, left, top, right, bottom);
}

void View_FollowTargets() { SeamTrace_Record("View_FollowTargets"); }
void Window_FitToRoom() { SeamTrace_Record("Window_FitToRoom"); }
void SetViewArea(float, float, float, float, float) { SeamTrace_Record("SetViewArea"); }
void GUI_SetProjection() { SeamTrace_Record("GUI_SetProjection"); }

// The seam's sprites are the facts source's; their pixel tests go to the test's hooks.
namespace {
const SpritePixelTests* g_drawSeamPixelTests = nullptr;
}  // namespace

const SpritePixelTests* Sprite_SetPixelTests(const SpritePixelTests* tests)
{
    const SpritePixelTests* old = g_drawSeamPixelTests;
    g_drawSeamPixelTests = tests;
    return old;
}

bool CSprite::PreciseCollisionPoint(int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale,
                                    float yscale, float angle, int32_t px, int32_t py)
{
    const SpritePixelTests* t = g_drawSeamPixelTests;
    return t && t->point && t->point(this, frame, box, x, y, xscale, yscale, angle, px, py);
}
bool CSprite::PreciseCollisionRectangle(int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale,
                                        float yscale, float angle, int32_t left, int32_t top, int32_t right,
                                        int32_t bottom)
{
    const SpritePixelTests* t = g_drawSeamPixelTests;
    return t && t->area && t->area(this, 0, frame, box, x, y, xscale, yscale, angle, left, top, right, bottom);
}
bool CSprite::PreciseCollisionEllipse(int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale,
                                      float yscale, float angle, int32_t left, int32_t top, int32_t right,
                                      int32_t bottom)
{
    const SpritePixelTests* t = g_drawSeamPixelTests;
    return t && t->area && t->area(this, 1, frame, box, x, y, xscale, yscale, angle, left, top, right, bottom);
}
bool CSprite::PreciseCollisionLine(int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale,
                                   float yscale, float angle, int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    const SpritePixelTests* t = g_drawSeamPixelTests;
    return t && t->line && t->line(this, frame, box, x, y, xscale, yscale, angle, x1, y1, x2, y2);
}
int32_t CBackground::GetWidth() const { return 0; }
int32_t CBackground::GetHeight() const { return 0; }

void Sprite_Init() { SeamTrace_Record("Sprite_Init"); }
bool Sprite_Load(uint8_t*, uint32_t, uint8_t*)
{
    SeamTrace_Record("Sprite_Load");
    return true;
}
void Sprite_InitTextures() { SeamTrace_Record("Sprite_InitTextures"); }
void Sprite_FreeAll() { SeamTrace_Record("Sprite_FreeAll"); }
CSprite* Sprite_Data(int32_t index)
{
    SpriteFacts facts{};
    return Sprite_GetFacts(index, &facts) ? facts.sprite : nullptr;
}
bool Sprite_Exists(int32_t index)
{
    SpriteFacts facts{};
    return Sprite_GetFacts(index, &facts);
}
int32_t Sprite_Find(const char*) { return -1; }

namespace {
bool DrawSeam_NoSpriteFacts(int32_t, SpriteFacts*) { return false; }
SpriteFactsSource g_drawSeamSpriteFacts = DrawSeam_NoSpriteFacts;
}  // namespace

SpriteFactsSource Sprite_SetFactsSource(SpriteFactsSource source)
{
    SpriteFactsSource old = g_drawSeamSpriteFacts;
    g_drawSeamSpriteFacts = source ? source : DrawSeam_NoSpriteFacts;
    return old;
}

bool Sprite_GetFacts(int32_t index, SpriteFacts* out) { return out && g_drawSeamSpriteFacts(index, out); }
bool PreciseCollision(CSprite* sprite1, int32_t frame1, const BoundingBox& box1, int32_t x1, int32_t y1,
                      float xscale1, float yscale1, float angle1, CSprite* sprite2, int32_t frame2,
                      const BoundingBox& box2, int32_t x2, int32_t y2, float xscale2, float yscale2, float angle2)
{
    const SpritePixelTests* t = g_drawSeamPixelTests;
    return t && t->pair &&
           t->pair(sprite1, frame1, box1, x1, y1, xscale1, yscale1, angle1, sprite2, frame2, box2, x2, y2, xscale2,
                   yscale2, angle2);
}

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

void Font_Init() { SeamTrace_Record("Font_Init"); }
bool Font_Load(uint8_t*, uint32_t, uint8_t*)
{
    SeamTrace_Record("Font_Load");
    return true;
}
void Font_InitTextures() { SeamTrace_Record("Font_InitTextures"); }
void Font_FreeAll() { SeamTrace_Record("Font_FreeAll"); }
int32_t Font_Find(const char*) { return -1; }
void Text_Shutdown() { SeamTrace_Record("Text_Shutdown"); }
void Text_ResetState() { SeamTrace_Record("Text_ResetState"); }

void InitCameraFunctions() { SeamTrace_Record("InitCameraFunctions"); }
void InitGraphicFunctions() { SeamTrace_Record("InitGraphicFunctions"); }
void InitResourceFunctions() { SeamTrace_Record("InitResourceFunctions"); }
void Init3DFunctions() { SeamTrace_Record("Init3DFunctions"); }
