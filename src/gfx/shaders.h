// Shaders of the game data.
#pragma once
#include <cstdint>

bool Shader_Load(uint8_t* body, uint32_t size, uint8_t* base);  // SHDR
void InitShaderFunctions();
