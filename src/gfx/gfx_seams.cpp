// What the graphics code built so far needs from work not built yet: surfaces, shaders and lights. Until that
// work lands these calls do nothing.
#include "gfx/matrices.h"
#include "gfx/recorder.h"
#include "gfx/shaders.h"
#include "gfx/surfaces.h"
#include "gfx/texture_manager.h"

void Surface_FreeAll() {}

// A matrix upload to the current shader, and the lights' view hook.
void ShaderM_SetUniformMatrices(int32_t, int32_t, const float*) {}
void Light_ViewMatrixChanged() {}

// Shader selection keeps its two values; binding programs comes with shaders.
namespace {
Shader* g_ShaderCurrent = nullptr;
Shader* g_ShaderPending = nullptr;
}  // namespace
Shader* Shader_Current() { return g_ShaderCurrent; }
void Shader_SetPending(Shader* shader) { g_ShaderPending = shader; }
void Shader_Apply() { g_ShaderCurrent = g_ShaderPending; }

// The shader work points it at the current shader's base-texture register.
int32_t GR_BatchTextureStage = 0;
