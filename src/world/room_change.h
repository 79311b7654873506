// The pending room-change code: read by the main loop after each step, written by rooms, built-ins,
// the error reporter and the loader.
#pragma once
#include <cstdint>

constexpr int32_t ROOM_CHANGE_NONE = -1;
constexpr int32_t ROOM_CHANGE_GAME_END = -100;
constexpr int32_t ROOM_CHANGE_RESTART = -200;
constexpr int32_t ROOM_CHANGE_LOAD_GAME = -300;
constexpr int32_t ROOM_CHANGE_GAME_CHANGE = -400;

// -1 none, a room index, or one of the codes above.
extern int32_t RoomChangeCode;
