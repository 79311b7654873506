// Stand-in until the main loop is built.
#include "world/runner.h"

#include "world/run_state.h"

// Nothing steps yet: the game-end code that Run_Start leaves ends the loop, and so does any other code,
// since there is no room to run.
void MainLoopTick() { g_Running = false; }
