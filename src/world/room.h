// Rooms: the room table, the play order and the id counters that continue from the game header.
#pragma once
#include <cstdint>

void Room_Init();  // empties the room tables before the game data is read
bool Room_Load(uint8_t* body, uint32_t size, uint8_t* base);  // ROOM
// The play order from the game header (its body and size); the caller has checked that it fits.
void Room_LoadOrder(uint8_t* header, uint32_t size);
void Room_SetNextInstanceId(int32_t id);
void Room_SetNextTileId(int32_t id);
