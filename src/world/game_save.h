// Game save and load, as room flow needs it.
#pragma once

// The file a pending load (room-change code -300) reads; memory-manager text, null when none.
extern char* Game_LoadRequestFile;
// Queues the load of a saved game file for the start of the next step.
void Game_Load(const char* file);
