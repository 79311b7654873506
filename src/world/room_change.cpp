#include "world/room_change.h"

int32_t RoomChangeCode = ROOM_CHANGE_NONE;
