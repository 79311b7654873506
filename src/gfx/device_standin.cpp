// Stand-ins until the graphics device is built: every call is recorded, the device always comes up, and a
// display-mode request is kept for tests.
#include "gfx/device.h"

#include "core/seam_trace.h"
#include "world/loader_standin.h"

void EmbeddedImages_Register() { SeamTrace_Record("EmbeddedImages_Register"); }
void GR_Draw_Init() { SeamTrace_Record("GR_Draw_Init"); }

bool GR_D3D_Init(int32_t, int32_t, uint32_t)
{
    SeamTrace_Record("GR_D3D_Init");
    return g_LoaderStandins.deviceStarts;
}

void GR_D3D_Shutdown() { SeamTrace_Record("GR_D3D_Shutdown"); }
void Start_Frame() { SeamTrace_Record("Start_Frame"); }

bool Display_SetAll(int32_t width, int32_t height, int32_t frequency, int32_t bitsPerPixel)
{
    SeamTrace_Record("Display_SetAll");
    g_LoaderStandins.displayModes.push_back({width, height, frequency, bitsPerPixel});
    return true;
}

void VertexFormat_FreeAll() { SeamTrace_Record("VertexFormat_FreeAll"); }
void VertexBuffer_SetCheckedWriters(bool) { SeamTrace_Record("VertexBuffer_SetCheckedWriters"); }
void InitVertexFormatFunctions() { SeamTrace_Record("InitVertexFormatFunctions"); }
void InitVertexBufferFunctions() { SeamTrace_Record("InitVertexBufferFunctions"); }

void End_Frame(bool present) { SeamTrace_Record(present ? "End_Frame" : "End_Frame(not presented)"); }
void GR_ApplyWindowSize() { SeamTrace_Record("GR_ApplyWindowSize"); }
void GR_D3D_ResetAll() { SeamTrace_Record("GR_D3D_ResetAll"); }

int32_t GR_D3D_SupportedAA() { return g_LoaderStandins.supportedAA; }

// Tests place the mouse through the stand-in record.
int32_t GR_RoomMouseX() { return g_LoaderStandins.roomMouseX; }
int32_t GR_RoomMouseY() { return g_LoaderStandins.roomMouseY; }
