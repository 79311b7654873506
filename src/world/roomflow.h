// Room flow: starting the first room of a run, switching rooms, ending a room and the game, and the load
// request of the main loop. Rooms are played as running copies of their resources; a persistent room's copy
// is kept while the game is elsewhere, and persistent instances travel from room to room.
#pragma once
#include <cstdint>

struct CInstance;
struct CRoom;

// Starts the first room unless a run is already on, then the main loop.
void Run_Start();
void StartFirstRoom();
// Makes (or revives) the running copy of the room and starts it; first: the first room of a run.
void StartRoom(int32_t index, bool first);
void SwitchRoom(int32_t index);
// Announces the end of the current room (and of the game when gameEnding), carries the persistent
// instances over and keeps or deletes the running copy.
void EndRoom(bool gameEnding);
void EndGame();
// Room-change code -300: loads the requested saved game.
void HandleLoadGameRequest();
// Deletes the persistent instances waiting to enter the next room (shutdown).
void FreePersistentInstances();

// The running copies by room index (null when the room is neither running nor kept).
CRoom* RoomArray_Get(int32_t index);
int32_t RoomArray_Length();
// Resizes the array; new slots are null, and slots cut off have their copies deleted.
void RoomArray_SetLength(int32_t length);
// The persistent instances carried from the room being left to the next one.
int32_t CarryOver_Count();
CInstance* CarryOver_Get(int32_t i);
