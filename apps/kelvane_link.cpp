// kelvane has no game of its own: no embedded data and no code entries, so -game, "data.win"
// beside the executable, or the open-file dialog decide what runs.
#include "game/game_link.h"

namespace {
StackTraceFrame* g_kelvaneStackHead = nullptr;
GameLinkNameId kNoNames[] = {{nullptr, 0}};
}  // namespace

void Game_GetLinkData(GameLinkData* record)
{
    *record = {};
    record->variables = kNoNames;
    record->builtins = kNoNames;
    record->stackTraceHead = &g_kelvaneStackHead;
}
