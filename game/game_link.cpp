// Tumblewing's link record. The game's data and compiled code are not here yet.
#include "game/game_link.h"

namespace {
StackTraceFrame* g_tumblewingStackHead = nullptr;
GameLinkNameId kNoNames[] = {{nullptr, 0}};
}  // namespace

void Game_GetLinkData(GameLinkData* record)
{
    *record = {};
    record->variables = kNoNames;
    record->builtins = kNoNames;
    record->stackTraceHead = &g_tumblewingStackHead;
}
