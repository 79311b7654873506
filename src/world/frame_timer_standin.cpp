// Stand-in until the main loop's frame timer is built.
#include "world/frame_timer.h"

#include "core/seam_trace.h"
#include "world/loader_standin.h"

void FrameTimer_SetFPS(double fps)
{
    SeamTrace_Record("FrameTimer_SetFPS");
    g_LoaderStandins.fps.push_back(fps);
}
