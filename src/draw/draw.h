// Sprites, backgrounds, fonts, text, cameras, views and room drawing: the operations the rest of the
// runtime calls.
#pragma once
#include <cstdint>

struct CInstance;
struct BoundingBox;
struct Matrix44;

// Room drawing: views, draw events, the GUI layer, the application surface and the cursor.
void DrawRoom();
// The instance whose own sprite is being drawn (draw_self, default instance drawing); null otherwise.
extern CInstance* Draw_CurrentInstance;

// Debug overlay. TimingBar_FrameStart runs at begin of scene, Debug_DrawOverlay at end of scene,
// Debug_InitOverlay at device set-up, Debug_LogFpsStats at shutdown.
void TimingBar_Begin(uint32_t colour, const char* label);
void TimingBar_End();
void TimingBar_FrameStart();
void Debug_InitOverlay();
void Debug_DrawOverlay();
void Debug_LogFpsStats();
// Display switches: 2 frame-rate display and timing bars, 0x10 audio debug display.
extern int32_t Debug_OverlayFlags;
// The frame's own rate, 1,000,000 / microseconds of its work; fps_real reads it.
extern float Debug_Fps;

// Cameras.
#include "draw/camera.h"
void Camera_CreateDefault();
// The room area a camera sees, as an axis-aligned box; false (all 0) when there is no such camera. A test
// may install a source that answers instead.
using CameraAreaSource = bool (*)(int32_t id, float* left, float* top, float* right, float* bottom);
CameraAreaSource Camera_SetViewAreaSource(CameraAreaSource source);  // null restores the default
bool Camera_GetViewArea(int32_t id, float* left, float* top, float* right, float* bottom);

// Views and the GUI space.
extern int32_t view_current;  // the view being drawn; 0 outside the view loop
void View_FollowTargets();
void Window_FitToRoom();
void SetViewArea(float x, float y, float width, float height, float angle);
void GUI_SetProjection();
extern int32_t GUI_Width;   // -1: not set
extern int32_t GUI_Height;
extern bool GUI_Maximise;
extern float GUI_MaxScaleX;
extern float GUI_MaxScaleY;
extern float GUI_MaxOffsetX;  // 2147483648.0: not set
extern float GUI_MaxOffsetY;
extern bool GUI_Drawing;      // true while the GUI sub-events run

// Application surface.
constexpr int32_t APPLICATION_SURFACE_NONE = (int32_t)0xFEEEDEAD;
extern int32_t AppSurface_Id;
extern bool AppSurface_Enabled;
extern bool AppSurface_DrawEnabled;
extern bool AppSurface_WasEnabled;
extern int32_t AppSurface_Width;
extern int32_t AppSurface_Height;
extern int32_t AppSurface_SavedWidth;
extern int32_t AppSurface_SavedHeight;
extern bool AppSurface_ResizePending;
extern int32_t AppSurface_ResizeWidth;
extern int32_t AppSurface_ResizeHeight;
// Application-surface pixels per window pixel of the view ports (1.0 until room drawing changes them).
extern float GR_PortScaleX;
extern float GR_PortScaleY;

// Sprites: the record and the table.
#include "draw/sprite.h"

// What instances read of a sprite, from the sprite table; a test may install a source that answers instead.
struct SpriteFacts {
    int32_t frameCount;
    int32_t kind;  // 2: skeleton sprite
    float playbackSpeed;  // frames per second of animation in newer-format games
    int32_t width;
    int32_t height;
    int32_t xOrigin;
    int32_t yOrigin;
    int32_t bboxLeft;  // the frame box, inclusive
    int32_t bboxTop;
    int32_t bboxRight;
    int32_t bboxBottom;
    bool precise;     // pixel-exact collisions
    CSprite* sprite;  // what the pixel tests run on; Sprite_Data answers it
};
using SpriteFactsSource = bool (*)(int32_t index, SpriteFacts* out);
SpriteFactsSource Sprite_SetFactsSource(SpriteFactsSource source);  // null restores the table
bool Sprite_GetFacts(int32_t index, SpriteFacts* out);                // false when there is no such sprite
// Test doubles that replace every sprite's pixel tests while installed (each may be null: false).
struct SpritePixelTests {
    bool (*point)(CSprite* sprite, int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale,
                  float yscale, float angle, int32_t px, int32_t py);
    // Rectangle and ellipse (kind 1: ellipse) share one shape: the rectangle's corners.
    bool (*area)(CSprite* sprite, int32_t kind, int32_t frame, const BoundingBox& box, int32_t x, int32_t y,
                 float xscale, float yscale, float angle, int32_t left, int32_t top, int32_t right,
                 int32_t bottom);
    bool (*line)(CSprite* sprite, int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale,
                 float yscale, float angle, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    bool (*pair)(CSprite* sprite1, int32_t frame1, const BoundingBox& box1, int32_t x1, int32_t y1, float xscale1,
                 float yscale1, float angle1, CSprite* sprite2, int32_t frame2, const BoundingBox& box2, int32_t x2,
                 int32_t y2, float xscale2, float yscale2, float angle2);
};
const SpritePixelTests* Sprite_SetPixelTests(const SpritePixelTests* tests);  // null: the masks; returns the previous
bool PreciseCollision(CSprite* sprite1, int32_t frame1, const BoundingBox& box1, int32_t x1, int32_t y1,
                      float xscale1, float yscale1, float angle1, CSprite* sprite2, int32_t frame2,
                      const BoundingBox& box2, int32_t x2, int32_t y2, float xscale2, float yscale2,
                      float angle2);

// Backgrounds.
class CBackground {
public:
    int32_t GetWidth() const;
    int32_t GetHeight() const;
};
void Background_Init();
bool Background_Load(uint8_t* body, uint32_t size, uint8_t* base);
void Background_InitTextures();
void Background_FreeAll();
CBackground* Background_Data(int32_t index);
bool Background_Exists(int32_t index);
int32_t Background_Find(const char* name);
// The size of a background (rooms stretch their backgrounds to it); false when there is no such background.
// Until backgrounds exist a replaceable source answers (by default: no background).
using BackgroundSizeSource = bool (*)(int32_t index, int32_t* width, int32_t* height);
BackgroundSizeSource Background_SetSizeSource(BackgroundSizeSource source);  // null restores the default
bool Background_GetSize(int32_t index, int32_t* width, int32_t* height);

// Fonts and text.
void Font_Init();
bool Font_Load(uint8_t* body, uint32_t size, uint8_t* base);
void Font_InitTextures();
void Font_FreeAll();
int32_t Font_Find(const char* name);
void Text_Shutdown();
void Text_ResetState();

// Built-in registration.
void InitCameraFunctions();
void InitGraphicFunctions();
void InitResourceFunctions();
void Init3DFunctions();
