// The game's frame timer (new-mode games run at its rate).
#pragma once

// Sets the target rate and restarts the timer.
void FrameTimer_SetFPS(double fps);
