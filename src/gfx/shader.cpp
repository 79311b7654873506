// The shader table: SHDR records, compiling their HLSL pairs, selecting one for drawing, and writing its
// constant registers (the engine's built-in uniforms and what scripts set through handles).
#include "gfx/shaders.h"

#include "core/console.h"
#include "core/constants.h"
#include "core/convert.h"
#include "core/error.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/light.h"
#include "gfx/matrices.h"
#include "gfx/recorder.h"
#include "platform/shader_compiler.h"
#include "world/loader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

// The stage the batch binds its texture to: the current shader's kv_BaseTexture register, 0 without one.
int32_t GR_BatchTextureStage = 0;

namespace {

using ShaderText = std::basic_string<char, std::char_traits<char>, MemAllocator<char>>;

std::vector<Shader*, MemAllocator<Shader*>> g_Shaders;
Shader* g_ShaderCurrent = nullptr;
Shader* g_ShaderPending = nullptr;
bool g_ShaderChanged = false;

const char* const kBuiltinNames[SB_COUNT] = {"kv_Matrices",      "kv_Lights_Direction", "kv_Lights_PosRange",
                                             "kv_Lights_Colour", "kv_AmbientColour",    "kv_LightingEnabled"};

char* CopyText(const char* text)
{
    const size_t n = std::strlen(text);
    auto* copy = static_cast<char*>(MemAlloc(n + 1));
    std::memcpy(copy, text, n + 1);
    return copy;
}

void FreeShader(Shader* s)
{
    if (!s) return;
    if (s->compiled) {
        CompiledProgram_Free(s->compiled);
        MemFree(s->compiled);
    }
    MemFree(s->errorText);
    MemFree(s->attributeNames);
    MemFree(s);
}

// ---- the SHDR chunk -------------------------------------------------------------------------------------------

// Bounds of one chunk and of the data its offsets point into.
struct ShdrReader {
    const uint8_t* base;
    uint64_t dataLength;
    uint64_t chunkStart, chunkEnd;

    bool Word(uint64_t offset, uint32_t* out) const
    {
        if (offset < chunkStart || offset + 4 > chunkEnd) return false;
        std::memcpy(out, base + offset, 4);
        return true;
    }
    // A NUL-terminated text inside the data; offset 0 gives null.
    bool Text(uint32_t offset, const char** out) const
    {
        *out = nullptr;
        if (offset == 0) return true;
        if (offset >= dataLength) return false;
        const void* end = std::memchr(base + offset, 0, size_t(dataLength - offset));
        if (!end) return false;
        *out = reinterpret_cast<const char*>(base + offset);
        return true;
    }
    bool Pointer(uint32_t offset, uint64_t size, const uint8_t** out) const
    {
        *out = nullptr;
        if (offset == 0) return true;
        if (offset >= dataLength || size > dataLength - offset) return false;
        *out = base + offset;
        return true;
    }
};

struct ShdrRecord {
    const char* name = nullptr;
    uint32_t type = 0;
    const uint8_t* sources[8] = {};
    uint32_t attributeCount = 0;
    const char** attributes = nullptr;  // MemAlloc'd
    const uint8_t* blobs[4] = {};
    uint32_t blobSizes[4] = {};
    const uint8_t* further[2] = {};
};

// Reads one record; on failure *why says what was wrong and nothing is kept.
bool ReadRecord(const ShdrReader& r, uint64_t at, ShdrRecord* out, const char** why)
{
    uint32_t w = 0;
    if (!r.Word(at, &w) || !r.Text(w, &out->name)) return *why = "name outside the data", false;
    uint32_t typeWord = 0;
    if (!r.Word(at + 4, &typeWord)) return *why = "record past the chunk", false;
    out->type = typeWord & 0x7FFFFFFFu;
    for (uint32_t i = 0; i < 8; ++i) {
        if (!r.Word(at + 8 + 4 * i, &w)) return *why = "record past the chunk", false;
        // The two programs compiled here are texts; the other slots are kept as they are.
        const bool ok = (i == 4 || i == 5) ? r.Text(w, reinterpret_cast<const char**>(&out->sources[i]))
                                           : r.Pointer(w, 1, &out->sources[i]);
        if (!ok) return *why = "source outside the data", false;
    }
    uint32_t count = 0;
    if (!r.Word(at + 40, &count)) return *why = "record past the chunk", false;
    const uint64_t namesAt = at + 44;
    if (count > (r.chunkEnd - std::min(r.chunkEnd, namesAt)) / 4) return *why = "attribute count past the chunk", false;
    if (count) out->attributes = static_cast<const char**>(MemAlloc(sizeof(const char*) * count));
    out->attributeCount = count;
    for (uint32_t i = 0; i < count; ++i) {
        r.Word(namesAt + 4 * i, &w);
        if (!r.Text(w, &out->attributes[i])) return *why = "attribute name outside the data", false;
    }
    if (!(typeWord & 0x80000000u)) return true;
    const uint64_t ext = namesAt + 4ull * count;
    uint32_t version = 0;
    if (!r.Word(ext, &version)) return *why = "extension past the chunk", false;
    if (version > 0)
        for (uint32_t i = 0; i < 4; ++i) {
            uint32_t offset = 0, size = 0;
            if (!r.Word(ext + 4 + 8 * i, &offset) || !r.Word(ext + 8 + 8 * i, &size))
                return *why = "extension past the chunk", false;
            if (!r.Pointer(offset, size, &out->blobs[i])) return *why = "extension blob outside the data", false;
            out->blobSizes[i] = out->blobs[i] ? size : 0;
        }
    if (version >= 2)
        for (uint32_t i = 0; i < 2; ++i) {
            uint32_t offset = 0;
            if (!r.Word(ext + 36 + 8 * i, &offset)) return *why = "extension past the chunk", false;
            if (!r.Pointer(offset, 1, &out->further[i])) return *why = "extension blob outside the data", false;
        }
    return true;
}

// ---- constants ------------------------------------------------------------------------------------------------

const CompiledConstant* CurrentConstant(int32_t constant)
{
    const Shader* s = g_ShaderCurrent;
    if (!s || !s->compiled || constant < 0 || uint32_t(constant) >= s->compiled->constantCount) return nullptr;
    return &s->compiled->constants[constant];
}

// Writes n registers of the constant from laid-out values (four a register), converted to its register set.
template <class T>
bool Upload(const CompiledConstant& k, const T* values, uint32_t n)
{
    if (!GR_Device || n == 0) return false;
    switch (k.registerSet) {
    case SRS_FLOAT4: {
        float f[SC_FLOAT_REGISTERS * 4];
        n = std::min(n, SC_FLOAT_REGISTERS);
        for (uint32_t i = 0; i < n * 4; ++i) f[i] = float(values[i]);
        GR_Device->SetShaderConstantF(k.stage, k.registerIndex, f, n);
        return true;
    }
    case SRS_INT4: {
        int32_t v[SC_INT_REGISTERS * 4];
        n = std::min(n, SC_INT_REGISTERS);
        for (uint32_t i = 0; i < n * 4; ++i) {
            if constexpr (std::is_floating_point_v<T>) v[i] = Real_ToInt32(double(values[i]));
            else v[i] = int32_t(values[i]);
        }
        GR_Device->SetShaderConstantI(k.stage, k.registerIndex, v, n);
        return true;
    }
    case SRS_BOOL: {
        int32_t b[SC_BOOL_REGISTERS];
        n = std::min(n, SC_BOOL_REGISTERS);
        for (uint32_t i = 0; i < n; ++i) b[i] = values[i * 4] != 0 ? 1 : 0;
        GR_Device->SetShaderConstantB(k.stage, k.registerIndex, b, n);
        return true;
    }
    default: return false;  // samplers take no values
    }
}

template <class T>
bool SetSingle(int32_t constant, int32_t count, const T* values)
{
    const CompiledConstant* k = CurrentConstant(constant);
    if (!k || count < 1 || !values) return false;
    T block[4] = {};
    for (int32_t i = 0; i < std::min(count, 4); ++i) block[i] = values[i];
    return Upload(*k, block, 1);
}

// The array layout: each run of the constant's column count goes into one register, rows registers per
// element; a square matrix of a type-1 shader is transposed.
template <class T>
bool SetArray(int32_t constant, int32_t count, const T* values)
{
    const CompiledConstant* k = CurrentConstant(constant);
    if (!k || count < 1 || !values) return false;
    const uint32_t n = uint32_t(count);
    const uint32_t limit = std::min(k->registerCount, SC_FLOAT_REGISTERS);
    if (k->columns == 4 && k->rows == 1 && n % 4 == 0) return Upload(*k, values, std::min(n / 4, limit));
    const uint32_t columns = std::clamp(k->columns, 1u, 4u), rows = std::max(k->rows, 1u);
    const uint32_t per = rows * columns;
    const uint64_t total = (uint64_t(n) + per - 1) / per * rows;
    const uint32_t send = uint32_t(std::min<uint64_t>(total, limit));
    // Whole elements around the registers sent, so a transpose sees its full matrix.
    const uint32_t laid = (send + rows - 1) / rows * rows;
    std::vector<T, MemAllocator<T>> regs(size_t(laid) * 4, T(0));
    const uint64_t used = std::min<uint64_t>(n, uint64_t(laid) * columns);
    for (uint64_t i = 0; i < used; ++i) regs[size_t(i / columns * 4 + i % columns)] = values[i];
    if (rows == columns && rows >= 2 && g_ShaderCurrent->type == 1)
        for (uint32_t m = 0; m < laid; m += rows)
            for (uint32_t r = 0; r < rows; ++r)
                for (uint32_t c = r + 1; c < columns; ++c)
                    std::swap(regs[(m + r) * 4 + c], regs[(m + c) * 4 + r]);
    return Upload(*k, regs.data(), send);
}

}  // namespace

// ---- the table ----------------------------------------------------------------------------------------------------

void Shader_FreeAll()
{
    if (g_ShaderCurrent || g_ShaderPending) {
        g_ShaderPending = nullptr;
        Shader_Apply();
    }
    for (Shader* s : g_Shaders) FreeShader(s);
    g_Shaders.clear();
    g_Shaders.shrink_to_fit();
}

Shader* Shader_Add(const char* name, uint32_t type, const uint8_t* const sources[8], uint32_t attributeCount,
                   const char* const* attributeNames)
{
    auto* s = static_cast<Shader*>(MemAlloc(sizeof(Shader)));
    std::memset(s, 0, sizeof *s);
    s->id = int32_t(g_Shaders.size());
    s->name = name;
    s->type = type & 0x7FFFFFFFu;
    for (int i = 0; i < 8; ++i) s->sources[i] = sources ? sources[i] : nullptr;
    s->errorStage = -1;
    s->attributeCount = attributeCount;
    if (attributeCount) {
        s->attributeNames = static_cast<const char**>(MemAlloc(sizeof(const char*) * attributeCount));
        for (uint32_t i = 0; i < attributeCount; ++i) s->attributeNames[i] = attributeNames[i];
    }
    s->baseTextureRegister = -1;
    for (int32_t& b : s->builtins) b = -1;
    g_Shaders.push_back(s);
    return s;
}

Shader* Shader_Get(int32_t index)
{
    return index >= 0 && size_t(index) < g_Shaders.size() ? g_Shaders[size_t(index)] : nullptr;
}
bool Shader_Exists(int32_t index) { return Shader_Get(index) != nullptr; }
int32_t Shader_Count() { return int32_t(g_Shaders.size()); }

int32_t Shader_Find(const char* name)
{
    if (!name) return -1;
    for (const Shader* s : g_Shaders)
        if (s && s->name && std::strcmp(s->name, name) == 0) return s->id;
    return -1;
}

bool Shader_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("Shader_Load");
    Shader_FreeAll();
    if (!body || !base || body < base) return true;
    ShdrReader r;
    r.base = base;
    r.chunkStart = uint64_t(body - base);
    r.chunkEnd = r.chunkStart + size;
    // Offsets may point anywhere in the loaded data (the names live in the string chunk).
    r.dataLength = (base == g_GameData.data) ? std::max<uint64_t>(g_GameData.length, r.chunkEnd) : r.chunkEnd;
    uint32_t count = 0;
    if (!r.Word(r.chunkStart, &count)) return true;  // an empty chunk: no shaders
    if (count > (size - 4) / 4) {
        DebugConsole->Output("Shader table damaged: %u records do not fit the chunk\n", count);
        return true;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t at = 0;
        r.Word(r.chunkStart + 4 + 4ull * i, &at);
        if (at == 0) {
            g_Shaders.push_back(nullptr);
            continue;
        }
        ShdrRecord rec;
        const char* why = "";
        if (!ReadRecord(r, at, &rec, &why)) {
            DebugConsole->Output("Shader %u refused: %s\n", i, why);
            MemFree(rec.attributes);
            g_Shaders.push_back(nullptr);
            continue;
        }
        Shader* s = Shader_Add(rec.name, rec.type, rec.sources, rec.attributeCount, rec.attributes);
        MemFree(rec.attributes);
        std::memcpy(s->blobs, rec.blobs, sizeof s->blobs);
        std::memcpy(s->blobSizes, rec.blobSizes, sizeof s->blobSizes);
        std::memcpy(s->further, rec.further, sizeof s->further);
        if (!ShaderM_Compile(s) && !s->errorText) {
            DebugConsole->Output("Invalid shader (is it marked as incompatible type for this target?) \"%s\":\n",
                                 s->name ? s->name : "");
            s->errorText = CopyText("Invalid shader");
            s->errorStage = 0;
        }
    }
    return true;
}

// ---- compiling ----------------------------------------------------------------------------------------------

bool ShaderM_Compile(Shader* s)
{
    const char* vertex = reinterpret_cast<const char*>(s->sources[4]);
    const char* pixel = reinterpret_cast<const char*>(s->sources[5]);
    if (!vertex || !*vertex || !pixel || !*pixel) return false;
    const char* name = s->name ? s->name : "";
    auto* program = static_cast<CompiledProgram*>(MemAlloc(sizeof(CompiledProgram)));
    *program = CompiledProgram();
    const bool ok = GR_Device && GR_Device->HasDevice() &&
                    ShaderCompiler_Get()->Compile(vertex, std::strlen(vertex), pixel, std::strlen(pixel), program);
    if (!ok) {
        if (program->errorText && *program->errorText) {
            if (program->errorStage == 1)
                DebugConsole->Output("Error in fragment shader \"%s\"\n\n %s\n", name, program->errorText);
            else
                DebugConsole->Output("Error in vertex shader \"%s\":\n\n %s\n", name, program->errorText);
            s->errorText = CopyText(program->errorText);
            s->errorStage = program->errorStage == 1 ? 1 : 0;
        } else {
            s->errorText = CopyText("D3DXCompile failed - result\n");
            s->errorStage = 0;
        }
        CompiledProgram_Free(program);
        MemFree(program);
        return false;
    }
    s->compiled = program;
    ShaderM_BindBuiltins(s);
    return true;
}

namespace {

int32_t FindConstant(const Shader* s, const char* name)
{
    if (!s || !s->compiled || !name) return -1;
    // The underscored spelling first, then the name as given; vertex constants come first in the table.
    ShaderText underscored("_");
    underscored += name;
    for (const char* want : {underscored.c_str(), name})
        for (uint32_t i = 0; i < s->compiled->constantCount; ++i) {
            const char* have = s->compiled->constants[i].name;
            if (have && std::strcmp(have, want) == 0) return int32_t(i);
        }
    return -1;
}

}  // namespace

void ShaderM_BindBuiltins(Shader* s)
{
    s->baseTextureRegister = ShaderM_GetSampler(s, "kv_BaseTexture");
    for (int i = 0; i < SB_COUNT; ++i) s->builtins[i] = FindConstant(s, kBuiltinNames[i]);
}

int32_t ShaderM_GetUniform(const Shader* s, const char* name) { return FindConstant(s, name); }

int32_t ShaderM_GetSampler(const Shader* s, const char* name)
{
    const int32_t i = FindConstant(s, name);
    return i < 0 ? -1 : int32_t(s->compiled->constants[i].registerIndex);
}

// ---- selection ----------------------------------------------------------------------------------------------

void ShaderM_Set(Shader* s)
{
    if (s && s->errorText) {
        if (GR_Device) GR_Device->SetShaderProgram(nullptr);
        const int32_t type = event_type;
        event_type = -1;
        g_ErrorShaderName = s->name ? s->name : "";
        g_ErrorShaderFragment = s->errorStage == 1;
        Error_Show_Action(s->errorText, false);
        event_type = type;
        return;
    }
    if (GR_Device) GR_Device->SetShaderProgram(s ? s->compiled : nullptr);
}

Shader* Shader_Current() { return g_ShaderCurrent; }

void Shader_SetPending(Shader* s)
{
    g_ShaderPending = s;
    g_ShaderChanged = s != g_ShaderCurrent;
}

void Shader_ApplyPending()
{
    if (g_ShaderChanged) Shader_Apply();
}

void Shader_Apply()
{
    GraphicsFlush();
    g_ShaderChanged = false;
    g_ShaderCurrent = g_ShaderPending;
    Shader* s = g_ShaderCurrent;
    ShaderM_Set(s);
    if (!s || !s->compiled) {
        GR_BatchTextureStage = 0;
        return;
    }
    ShaderM_SetUniformMatrices(s->builtins[SB_MATRICES], GRM_COUNT, GR_Matrices[0].m);
    GR_BatchTextureStage = s->baseTextureRegister;

    const uint32_t ambient = g_AmbientColour;
    const float ambientValues[4] = {float(ambient & 255) / 255.0f, float((ambient >> 8) & 255) / 255.0f,
                                    float((ambient >> 16) & 255) / 255.0f, float(ambient >> 24) / 255.0f};
    ShaderM_SetUniformF(s->builtins[SB_AMBIENT_COLOUR], 4, ambientValues);

    float colours[LIGHT_COUNT * 4];
    Light_UploadColours(colours);
    ShaderM_SetUniformFArray(s->builtins[SB_LIGHTS_DIRECTION], LIGHT_COUNT * 4, &g_LightDirection[0][0]);
    ShaderM_SetUniformFArray(s->builtins[SB_LIGHTS_COLOUR], LIGHT_COUNT * 4, colours);
    ShaderM_SetUniformFArray(s->builtins[SB_LIGHTS_POSRANGE], LIGHT_COUNT * 4, &g_LightPosRange[0][0]);

    const int32_t lighting = g_LightingEnabled ? 1 : 0;
    ShaderM_SetUniformB(s->builtins[SB_LIGHTING_ENABLED], 1, &lighting);
}

// ---- uploads ------------------------------------------------------------------------------------------------

bool ShaderM_SetUniformF(int32_t constant, int32_t count, const float* values)
{
    return SetSingle(constant, count, values);
}
bool ShaderM_SetUniformI(int32_t constant, int32_t count, const int32_t* values)
{
    return SetSingle(constant, count, values);
}
bool ShaderM_SetUniformB(int32_t constant, int32_t count, const int32_t* values)
{
    return SetSingle(constant, count, values);
}
bool ShaderM_SetUniformFArray(int32_t constant, int32_t count, const float* values)
{
    return SetArray(constant, count, values);
}
bool ShaderM_SetUniformIArray(int32_t constant, int32_t count, const int32_t* values)
{
    return SetArray(constant, count, values);
}

void ShaderM_SetUniformMatrices(int32_t constant, int32_t count, const float* matrices)
{
    const Shader* s = g_ShaderCurrent;
    if (constant == -1 && s) constant = s->builtins[SB_MATRICES];
    const CompiledConstant* k = CurrentConstant(constant);
    if (!k || !GR_Device || count < 1 || !matrices || k->registerSet != SRS_FLOAT4) return;
    const uint32_t send = uint32_t(std::min<uint64_t>(uint64_t(count) * 4, std::min(k->registerCount, SC_FLOAT_REGISTERS)));
    float regs[SC_FLOAT_REGISTERS * 4];
    std::memcpy(regs, matrices, size_t(send) * 16);
    if (k->rows == 4 && k->columns == 4 && s->type == 1)
        for (uint32_t m = 0; m + 4 <= send; m += 4)
            for (uint32_t r = 0; r < 4; ++r)
                for (uint32_t c = r + 1; c < 4; ++c) std::swap(regs[(m + r) * 4 + c], regs[(m + c) * 4 + r]);
    // A cut inside a matrix still needs the rest of it for the transpose.
    if (send % 4 && k->rows == 4 && k->columns == 4 && s->type == 1) {
        const uint32_t m = send / 4 * 4;
        float whole[16];
        std::memcpy(whole, matrices + size_t(m) * 4, sizeof whole);
        for (uint32_t r = 0; r < send - m; ++r)
            for (uint32_t c = 0; c < 4; ++c) regs[(m + r) * 4 + c] = whole[c * 4 + r];
    }
    GR_Device->SetShaderConstantF(k->stage, k->registerIndex, regs, send);
}
