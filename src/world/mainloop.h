// The main loop's frame: timing and pacing, one step between the begin and end of the scene, the present,
// and the pending room change.
#pragma once
#include <cstdint>

// The loop reads the clock and sleeps through these, so tests can run it on a fake clock.
struct MainLoopHooks {
    int64_t (*clock)();             // microseconds
    void (*sleep)(int64_t budget);  // waits out the frame budget
};
void MainLoop_SetHooks(const MainLoopHooks* hooks);  // null restores the real clock and sleep
int64_t MainLoop_Clock();

// One frame; returns the frame rate the next frame aims at.
int64_t MainLoop_Frame();

// Frame state, read by presentation pacing and the built-in variables.
extern int64_t MainLoop_LastFrameEnd;
extern int64_t MainLoop_Budget;      // microseconds this frame waited for
extern int32_t MainLoop_FpsTarget;   // this frame's target rate
extern int32_t MainLoop_Fps;         // frames completed in the last whole second (the fps variable)
extern int32_t MainLoop_FramesRun;   // frames of this run (KV_TEST_FRAME_LIMIT counts them)
// Window and display changes set it: above 1 the window size is applied each frame, at 1 the device is reset.
extern int32_t MainLoop_DeviceResetCountdown;
