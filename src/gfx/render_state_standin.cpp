// Stand-in until the render-state block is built.
#include "gfx/render_state.h"

#include "core/seam_trace.h"

void GPUState_SetDefaults() { SeamTrace_Record("GPUState_SetDefaults"); }
