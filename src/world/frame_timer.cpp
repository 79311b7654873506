#include "world/frame_timer.h"

#include "core/convert.h"
#include "world/mainloop.h"

FrameTimer g_GameTimer;

void FrameTimer_Reset(FrameTimer* timer)
{
    timer->elapsed = 0;
    timer->delta = 0;
    timer->paused = false;
    timer->lastClock = timer->fps > 0.0 ? MainLoop_Clock() : 0;
}

void FrameTimer_SetFPS(FrameTimer* timer, double fps)
{
    timer->fps = fps;
    FrameTimer_Reset(timer);
}

void FrameTimer_Tick(FrameTimer* timer)
{
    int64_t now = MainLoop_Clock();
    if (timer->fps > 0.0) now = timer->lastClock + Real_ToInt64(1000000.0 / timer->fps);
    timer->delta = now - timer->lastClock;
    if (!timer->paused) timer->elapsed += timer->delta;
    timer->lastClock = now;
}

double FrameTimer_GetFPS(const FrameTimer* timer)
{
    if (timer->fps > 0.0) return timer->fps;
    if (timer->delta > 0) return 1000000.0 / double(timer->delta);
    return 30.0;
}
