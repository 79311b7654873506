// Objects: the table of the game data's objects.
#pragma once
#include <cstdint>

void Object_Init();  // empties the table before the game data is read
bool Object_Load(uint8_t* body, uint32_t size, uint8_t* base);  // OBJT
