// The graphics device and what start-up and shutdown ask of the graphics back end before it is built.
#pragma once
#include <cstdint>

// The table of built-in images (particle shapes, the overlay's images) that textures are made from later.
void EmbeddedImages_Register();
// The primitive drawer's defaults (circle precision 24).
void GR_Draw_Init();
// The device for the main window: width, height, the header's window flags (1 full screen, 2 vsync,
// 4 software vertex processing, 8 texture interpolation, 16 keep aspect ratio). False: start-up stops.
bool GR_D3D_Init(int32_t width, int32_t height, uint32_t flags);
void GR_D3D_Shutdown();
// The first frame's set-up before the game data is read.
void Start_Frame();
// Switches the display mode; -1 leaves a value as it is. False when refused.
bool Display_SetAll(int32_t width, int32_t height, int32_t frequency, int32_t bitsPerPixel);

// The multisample counts the device accepts, as the sum of 2, 4 and 8 (display_aa).
int32_t GR_D3D_SupportedAA();

// Vertex formats and buffers.
void VertexFormat_FreeAll();
// Binds the vertex_* built-ins that check their arguments (checked) or the faster ones (release mode).
void VertexBuffer_SetCheckedWriters(bool checked);
void InitVertexFormatFunctions();
void InitVertexBufferFunctions();

// The scene of a frame: Start_Frame begins it, End_Frame ends it and shows it when present is true.
void End_Frame(bool present);
// Window changes: the pending window size is applied each frame of the countdown, then the device is reset.
void GR_ApplyWindowSize();
void GR_D3D_ResetAll();
// The mouse position in the room, through the view under it.
int32_t GR_RoomMouseX();
int32_t GR_RoomMouseY();
