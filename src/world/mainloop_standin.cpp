// Stand-in until the main loop is built.
#include "world/runner.h"

#include "core/seam_trace.h"
#include "world/run_state.h"

void EnterMainLoop() { SeamTrace_Record("EnterMainLoop"); }

// Nothing steps yet: the first frame ends the loop, whatever room runs.
void MainLoopTick() { g_Running = false; }
