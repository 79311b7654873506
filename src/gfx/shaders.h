// Shaders of the game data: the table the SHDR chunk fills, compilation of each record's HLSL pair, the
// selection that drawing uses, and the uniform setters scripts reach through constant handles.
#pragma once
#include <cstdint>

struct CompiledProgram;

// Built-in uniforms the engine keeps up to date in the selected shader.
enum ShaderBuiltin : uint8_t {
    SB_MATRICES,          // kv_Matrices: view, projection, world, world × view, world × view × projection
    SB_LIGHTS_DIRECTION,  // kv_Lights_Direction
    SB_LIGHTS_POSRANGE,   // kv_Lights_PosRange
    SB_LIGHTS_COLOUR,     // kv_Lights_Colour
    SB_AMBIENT_COLOUR,    // kv_AmbientColour
    SB_LIGHTING_ENABLED,  // kv_LightingEnabled
    SB_COUNT,
};

struct Shader {
    int32_t id;
    const char* name;  // in the game data
    uint32_t type;     // low 31 bits of the record's type word
    const uint8_t* sources[8];
    const uint8_t* blobs[4];
    uint32_t blobSizes[4];
    const uint8_t* further[2];
    char* errorText;     // MemAlloc'd; null when compilation succeeded
    int32_t errorStage;  // 0 vertex, 1 pixel
    uint32_t attributeCount;
    const char** attributeNames;  // MemAlloc'd array of pointers into the game data
    CompiledProgram* compiled;    // null when compilation failed
    int32_t baseTextureRegister;  // kv_BaseTexture's sampler register, -1 when not declared
    int32_t builtins[SB_COUNT];   // constant indexes, -1 when not declared
};

bool Shader_Load(uint8_t* body, uint32_t size, uint8_t* base);  // SHDR
// Deletes every record (and unbinds the selection).
void Shader_FreeAll();
Shader* Shader_Add(const char* name, uint32_t type, const uint8_t* const sources[8], uint32_t attributeCount,
                   const char* const* attributeNames);
Shader* Shader_Get(int32_t index);
bool Shader_Exists(int32_t index);
int32_t Shader_Count();
// Shader_Find (first of that name, case-sensitive; -1 for none) is declared with the other name lookups in
// core/constants.h.

bool ShaderM_Compile(Shader* shader);
void ShaderM_BindBuiltins(Shader* shader);
// Binds the shader's programs (null unbinds); a shader with an error text binds nothing and is reported.
void ShaderM_Set(Shader* shader);
// The constant "_" + name, else name (vertex constants first); -1 when none.
int32_t ShaderM_GetUniform(const Shader* shader, const char* name);
// The same search, giving the constant's register index.
int32_t ShaderM_GetSampler(const Shader* shader, const char* name);
// Setters on the current shader: false when there is none, it has no programs or the handle is out of range.
// The single-value setters write the first register of the constant only, from up to four values.
bool ShaderM_SetUniformF(int32_t constant, int32_t count, const float* values);
bool ShaderM_SetUniformI(int32_t constant, int32_t count, const int32_t* values);
bool ShaderM_SetUniformB(int32_t constant, int32_t count, const int32_t* values);
bool ShaderM_SetUniformFArray(int32_t constant, int32_t count, const float* values);
bool ShaderM_SetUniformIArray(int32_t constant, int32_t count, const int32_t* values);
// Constant -1 is the current shader's kv_Matrices.
void ShaderM_SetUniformMatrices(int32_t constant, int32_t count, const float* matrices);

void InitShaderFunctions();

// Selection: the current shader's programs are on the device; the pending one waits for Shader_Apply.
Shader* Shader_Current();
void Shader_SetPending(Shader* shader);  // null: no shader
void Shader_Apply();
// Shader_Apply when the pending shader differs from the current one.
void Shader_ApplyPending();
