// Frame timers: the game timer that new-mode games run at, and the timers of room layers.
#pragma once
#include <cstdint>

struct FrameTimer {
    int64_t elapsed = 0;    // microseconds accumulated while not paused
    int64_t lastClock = 0;  // clock value at the last tick
    bool paused = false;
    double fps = 0.0;       // target rate; 0 or less: the rate is measured
    int64_t delta = 0;      // length of the last tick
};

// The slowest target rate a tick advances by: a smaller positive rate ticks as this one.
constexpr double kFrameTimerMinFps = 1e-6;

// The game's own timer.
extern FrameTimer g_GameTimer;

// elapsed and delta 0, not paused; the last clock is now when a target rate is set, else 0.
void FrameTimer_Reset(FrameTimer* timer);
// Stores the target rate (NaN as 0) and resets the timer.
void FrameTimer_SetFPS(FrameTimer* timer, double fps);
// With a target rate the clock advances by exactly one frame (the fraction dropped), whatever real time
// did; otherwise it follows the clock.
void FrameTimer_Tick(FrameTimer* timer);
// The target rate, else the measured one, else 30.
double FrameTimer_GetFPS(const FrameTimer* timer);
