// The shader built-ins: selecting a shader, finding its uniforms and samplers, and setting uniform values.
#include "gfx/shaders.h"

#include "core/arguments.h"
#include "core/convert.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/value.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/matrices.h"
#include "gfx/texpage.h"

#include <algorithm>
#include <vector>

namespace {

template <class T>
using ShaderValues = std::vector<T, MemAllocator<T>>;

void ReportBadHandle() { Error_Show_Action("Illegal shader handle", false); }

// Values go to the shader the next draw uses: what is batched is drawn first, and a pending change applied.
void PrepareUniformWrite()
{
    GraphicsFlush();
    Shader_ApplyPending();
}

void SelectNone()
{
    GraphicsFlush();
    if (Shader_Current()) {
        Shader_SetPending(nullptr);
        Shader_Apply();
    }
}

// The shader an argument names; null (reported) when it names none.
Shader* ShaderArg(RValue* args, int32_t index)
{
    Shader* s = Shader_Get(QZGI32(args, index));
    if (!s) ReportBadHandle();
    return s;
}

// The first row of the array argument, converted; false (reported) when it is not an array or the row is empty.
template <class T, class Convert>
bool ArrayValues(RValue* args, int32_t argc, int32_t index, Convert convert, ShaderValues<T>* out)
{
    RValue* a = index < argc ? &args[index] : nullptr;
    if (!a || RValue_Kind(a) != VALUE_ARRAY || !a->arr) {
        Error_Show_Action("Illegal argument type", false);
        return false;
    }
    const RefArray* arr = a->arr;
    if (arr->rowCount < 1 || arr->rows[0].length < 1) {
        Error_Show_Action("Illegal array count", false);
        return false;
    }
    const ArrayRow& row = arr->rows[0];
    out->reserve(size_t(row.length));
    for (int32_t i = 0; i < row.length; ++i) out->push_back(convert(&row.items[i]));
    return true;
}

float RealOf(RValue* v) { return float(RValue_ToReal(v)); }
int32_t IntOf(RValue* v) { return Real_ToInt32(RValue_ToReal(v)); }

void F_ShaderSet(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, 0);
    const int32_t index = QZGI32(args, 0);
    if (index == -1) {
        SelectNone();
        return;
    }
    Shader* s = Shader_Get(index);
    if (!s) {
        ReportBadHandle();
        return;
    }
    Shader_SetPending(s);
    if (s != Shader_Current()) Shader_Apply();
}

void F_ShaderReset(RValue* result, CInstance*, CInstance*, int32_t argc, RValue*)
{
    RValue_SetReal(result, 0);
    if (argc != 0) {
        Error_Show_Action("Wrong number of arguments to shader_reset()", false);
        return;
    }
    SelectNone();
}

void F_ShaderIsCompiled(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const Shader* s = ShaderArg(args, 0);
    RValue_SetReal(result, s && !s->errorText ? 1 : 0);
}

void F_ShaderGetUniform(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const Shader* s = ShaderArg(args, 0);
    RValue_SetReal(result, s ? ShaderM_GetUniform(s, QZGS(args, 1)) : -1);
}

void F_ShaderGetSamplerIndex(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const Shader* s = ShaderArg(args, 0);
    RValue_SetReal(result, s ? ShaderM_GetSampler(s, QZGS(args, 1)) : -1);
}

void F_ShaderSetUniformF(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, 0);
    const int32_t handle = QZGI32(args, 0);
    const int32_t count = std::min(argc - 1, 4);  // values past the fourth are not read
    float values[4] = {};
    for (int32_t i = 0; i < count; ++i) values[i] = QZGF(args, i + 1);
    PrepareUniformWrite();
    ShaderM_SetUniformF(handle, count, values);
}

void F_ShaderSetUniformI(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, 0);
    const int32_t handle = QZGI32(args, 0);
    const int32_t count = std::min(argc - 1, 4);
    int32_t values[4] = {};
    for (int32_t i = 0; i < count; ++i) values[i] = QZGI32(args, i + 1);
    PrepareUniformWrite();
    ShaderM_SetUniformI(handle, count, values);
}

void F_ShaderSetUniformFArray(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, 0);
    const int32_t handle = QZGI32(args, 0);
    ShaderValues<float> values;
    if (!ArrayValues<float>(args, argc, 1, RealOf, &values)) return;
    PrepareUniformWrite();
    ShaderM_SetUniformFArray(handle, int32_t(values.size()), values.data());
}

void F_ShaderSetUniformIArray(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, 0);
    const int32_t handle = QZGI32(args, 0);
    ShaderValues<int32_t> values;
    if (!ArrayValues<int32_t>(args, argc, 1, IntOf, &values)) return;
    PrepareUniformWrite();
    ShaderM_SetUniformIArray(handle, int32_t(values.size()), values.data());
}

void F_ShaderSetUniformMatrix(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, 0);
    const int32_t handle = QZGI32(args, 0);
    PrepareUniformWrite();
    if (handle < 0) return;  // -1 would name the built-in matrices
    ShaderM_SetUniformMatrices(handle, 1, GR_Matrices[GRM_WORLD].m);
}

void F_ShaderSetUniformMatrixArray(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, 0);
    const int32_t handle = QZGI32(args, 0);
    ShaderValues<float> values;
    if (!ArrayValues<float>(args, argc, 1, RealOf, &values)) return;
    if (values.size() < 16) {
        Error_Show_Action("Illegal array count", false);
        return;
    }
    PrepareUniformWrite();
    if (handle < 0) return;
    ShaderM_SetUniformMatrices(handle, int32_t(values.size() / 16), values.data());
}

void F_ShadersAreSupported(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    RValue_SetReal(result, GR_D3D_ShadersSupported() ? 1 : 0);
}

void F_TextureSetStage(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, 0);
    const int32_t stage = QZGI32(args, 0);
    const double handle = QZGR(args, 1);
    GraphicsFlush();
    GR_Texture_SetStageHandle(stage, handle);
}

void F_TextureGetTexelWidth(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, GR_Texture_GetTexelWidth(QZGR(args, 0)));
}

void F_TextureGetTexelHeight(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, GR_Texture_GetTexelHeight(QZGR(args, 0)));
}

}  // namespace

void InitShaderFunctions()
{
    SeamTrace_Record("InitShaderFunctions");
    Function_Add("shader_set", F_ShaderSet, 1, false);
    Function_Add("shader_reset", F_ShaderReset, 1, false);
    Function_Add("shader_is_compiled", F_ShaderIsCompiled, 1, false);
    Function_Add("shader_get_uniform", F_ShaderGetUniform, 2, false);
    Function_Add("shader_get_sampler_index", F_ShaderGetSamplerIndex, 2, false);
    Function_Add("shader_set_uniform_f", F_ShaderSetUniformF, -1, false);
    Function_Add("shader_set_uniform_i", F_ShaderSetUniformI, -1, false);
    Function_Add("shader_set_uniform_f_array", F_ShaderSetUniformFArray, 2, false);
    Function_Add("shader_set_uniform_i_array", F_ShaderSetUniformIArray, 2, false);
    Function_Add("shader_set_uniform_matrix", F_ShaderSetUniformMatrix, 1, false);
    Function_Add("shader_set_uniform_matrix_array", F_ShaderSetUniformMatrixArray, 2, false);
    Function_Add("shaders_are_supported", F_ShadersAreSupported, 0, false);
    Function_Add("texture_set_stage", F_TextureSetStage, 2, false);
    Function_Add("texture_get_texel_width", F_TextureGetTexelWidth, 1, false);
    Function_Add("texture_get_texel_height", F_TextureGetTexelHeight, 1, false);
}
