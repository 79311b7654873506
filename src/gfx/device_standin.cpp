// Stand-ins for graphics work not built yet: every call is recorded.
#include "gfx/device.h"

#include "core/seam_trace.h"

void EmbeddedImages_Register() { SeamTrace_Record("EmbeddedImages_Register"); }
