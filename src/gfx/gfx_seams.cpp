// What the render state, the display code and the device need from graphics work that is not built yet, with
// the defaults that work states: no 3D mode, no orthographic projection, a flush that only applies the state.
#include "gfx/batch.h"
#include "gfx/colour.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/surfaces.h"
#include "gfx/texture_manager.h"

bool GR_3DMode = false;
bool GR_ProjectionIsOrtho = false;
float GR_ProjectionNear = 1.0f;
float GR_ProjectionFar = 32000.0f;

// Nothing is batched yet, so the state half is all there is.
void GraphicsFlush() { GPUState::Apply(); }

void GR_D3D_SetTextureStageOps(bool) {}

uint32_t Colour_ToARGB(uint32_t colour, uint32_t alpha)
{
    const uint32_t red = colour & 0xFF, green = (colour >> 8) & 0xFF, blue = (colour >> 16) & 0xFF;
    return (alpha << 24) | (red << 16) | (green << 8) | blue;
}

// The batch, the matrices, the render-target stack and surfaces come with their own work; until then the
// device's calls into them do nothing.
void GR_Batch_EndFrame() {}
void GR_Batch_FreeAll() {}
void GR_D3D_SetMatrix(uint32_t, const RDMatrix&) {}
void GR_SetViewProjection(int32_t, int32_t, int32_t, int32_t, float) {}
bool RenderTarget_Push() { return false; }
bool RenderTarget_Pop() { return false; }
void RenderTarget_PopAll() {}
void Surface_FreeAll() {}
