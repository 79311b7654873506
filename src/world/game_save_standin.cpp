// Stand-in until game save and load are built.
#include "world/game_save.h"

#include "core/seam_trace.h"

char* Game_LoadRequestFile = nullptr;

void Game_Load(const char*) { SeamTrace_Record("Game_Load"); }

bool Game_ApplyPendingLoad()
{
    SeamTrace_Record("Game_ApplyPendingLoad");
    return false;
}
