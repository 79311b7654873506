// What the graphics code built so far needs from work not built yet: texture stages, the render-target stack,
// surfaces, shaders and lights. Until that work lands these calls do nothing.
#include "gfx/matrices.h"
#include "gfx/shaders.h"
#include "gfx/surfaces.h"
#include "gfx/texture_manager.h"

void GR_D3D_SetTextureStageOps(bool) {}

bool RenderTarget_Push() { return false; }
bool RenderTarget_Pop() { return false; }
void RenderTarget_PopAll() {}
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
