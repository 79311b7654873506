// Stand-ins for graphics work not built yet: every call is recorded.
#include "gfx/device.h"

#include "core/seam_trace.h"
#include "world/loader_standin.h"

void EmbeddedImages_Register() { SeamTrace_Record("EmbeddedImages_Register"); }
void GR_Draw_Init() { SeamTrace_Record("GR_Draw_Init"); }

void VertexFormat_FreeAll() { SeamTrace_Record("VertexFormat_FreeAll"); }
void VertexBuffer_SetCheckedWriters(bool) { SeamTrace_Record("VertexBuffer_SetCheckedWriters"); }
void InitVertexFormatFunctions() { SeamTrace_Record("InitVertexFormatFunctions"); }
void InitVertexBufferFunctions() { SeamTrace_Record("InitVertexBufferFunctions"); }
void VertexBuffer_ReleaseFrozen() {}

// Tests place the mouse through the stand-in record.
int32_t GR_RoomMouseX() { return g_LoaderStandins.roomMouseX; }
int32_t GR_RoomMouseY() { return g_LoaderStandins.roomMouseY; }
