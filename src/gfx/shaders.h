// Shaders of the game data.
#pragma once
#include <cstdint>

bool Shader_Load(uint8_t* body, uint32_t size, uint8_t* base);  // SHDR
void InitShaderFunctions();

// Selection: the current shader's programs are on the device; the pending one waits for Shader_Apply.
struct Shader;
Shader* Shader_Current();
void Shader_SetPending(Shader* shader);  // null: no shader
void Shader_Apply();
