// Timelines: the table of the game data's timelines.
#pragma once
#include <cstdint>

void TimeLine_Init();    // empties the table before the game data is read
void TimeLine_Unload();  // the game data is unloaded
bool TimeLine_Load(uint8_t* body, uint32_t size, uint8_t* base);  // TMLN
const char* TimeLine_GetName(int32_t index);  // "<undefined>" when there is no such timeline
