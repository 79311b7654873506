// Stand-in until shaders are built.
#include "gfx/shaders.h"

#include "core/seam_trace.h"
#include "world/loader_standin.h"

bool Shader_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("Shader_Load");
    g_LoaderStandins.chunks.push_back({"Shader_Load", body, size, base});
    return true;
}

void InitShaderFunctions() { SeamTrace_Record("InitShaderFunctions"); }
