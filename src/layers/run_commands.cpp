// Run commands: what the room and game built-ins do to the running game.
#include <cstdio>

#include "core/error.h"
#include "layers/layers.h"
#include "world/room.h"
#include "world/room_change.h"
#include "world/run_state.h"

const char* Command_FormatError(const char* message, int32_t number)
{
    static char text[256];
    std::snprintf(text, sizeof text, "%s%d", message ? message : "", number);
    return text;
}

void Command_GotoRoom(int32_t room, int32_t /*kind*/)
{
    RoomChangeCode = room;
    g_TransitionKind = 0;
    if (!Room_Exists(room)) {
        Error_Show_Action(Command_FormatError("Unexisting room number: ", room), true);
        RoomChangeCode = ROOM_CHANGE_GAME_CHANGE;
    }
}

void F_GameEnd() { RoomChangeCode = ROOM_CHANGE_GAME_END; }
