// Game save and load, as room flow needs it.
#pragma once

// The file a pending load (room-change code -300) reads; memory-manager text, null when none.
extern char* Game_LoadRequestFile;
// Queues the load of a saved game file for the start of the next step.
void Game_Load(const char* file);
// The start of a step: applies a load queued by the previous one; false when none was queued or it failed.
bool Game_ApplyPendingLoad();
