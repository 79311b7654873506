// Stand-ins for graphics work not built yet: every call is recorded.
#include "gfx/device.h"

#include "core/seam_trace.h"

void EmbeddedImages_Register() { SeamTrace_Record("EmbeddedImages_Register"); }

void VertexFormat_FreeAll() { SeamTrace_Record("VertexFormat_FreeAll"); }
void VertexBuffer_SetCheckedWriters(bool) { SeamTrace_Record("VertexBuffer_SetCheckedWriters"); }
void InitVertexFormatFunctions() { SeamTrace_Record("InitVertexFormatFunctions"); }
void InitVertexBufferFunctions() { SeamTrace_Record("InitVertexBufferFunctions"); }
void VertexBuffer_ReleaseFrozen() {}
