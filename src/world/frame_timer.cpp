#include "world/frame_timer.h"

#include "core/convert.h"
#include "world/mainloop.h"

FrameTimer g_GameTimer;

namespace {

// a + b held at the int64 ends instead of wrapping (a timer ticking at the slowest rate for long enough).
int64_t FrameTimer_AddClamped(int64_t a, int64_t b)
{
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? INT64_MAX : INT64_MIN;
}

int64_t FrameTimer_SubClamped(int64_t a, int64_t b)
{
    int64_t difference = 0;
    if (!__builtin_sub_overflow(a, b, &difference)) return difference;
    return b < 0 ? INT64_MAX : INT64_MIN;
}

}  // namespace

void FrameTimer_Reset(FrameTimer* timer)
{
    timer->elapsed = 0;
    timer->delta = 0;
    timer->paused = false;
    timer->lastClock = timer->fps > 0.0 ? MainLoop_Clock() : 0;
}

void FrameTimer_SetFPS(FrameTimer* timer, double fps)
{
    // A NaN rate (game speed from damaged data, or a script) is no rate: the timer measures.
    timer->fps = fps == fps ? fps : 0.0;
    FrameTimer_Reset(timer);
}

void FrameTimer_Tick(FrameTimer* timer)
{
    int64_t now = MainLoop_Clock();
    if (timer->fps > 0.0) {
        // A rate this small is one frame in days; any smaller one has a frame no clock value can hold.
        const double fps = timer->fps < kFrameTimerMinFps ? kFrameTimerMinFps : timer->fps;
        now = FrameTimer_AddClamped(timer->lastClock, Real_ToInt64(1000000.0 / fps));
    }
    timer->delta = FrameTimer_SubClamped(now, timer->lastClock);
    if (!timer->paused) timer->elapsed = FrameTimer_AddClamped(timer->elapsed, timer->delta);
    timer->lastClock = now;
}

double FrameTimer_GetFPS(const FrameTimer* timer)
{
    if (timer->fps > 0.0) return timer->fps;
    if (timer->delta > 0) return 1000000.0 / double(timer->delta);
    return 30.0;
}
