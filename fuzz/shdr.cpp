// Arbitrary bytes as game data whose SHDR chunk goes through the shader loader: every record is read inside the
// data or refused, and what loads can be looked up, selected and freed. A scripted compiler stands in for the
// real one (no GL here): a pair compiles when both texts are at most 64 bytes, into a small constant table.
#include "core/console.h"
#include "core/constants.h"
#include "core/error.h"
#include "core/memory_manager.h"
#include "gfx/device.h"
#include "gfx/shaders.h"
#include "platform/hooks.h"
#include "platform/shader_compiler.h"
#include "world/loader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct ShdrFuzzConsole final : tagIConsole {
    void Output(const char*, ...) override {}
};
ShdrFuzzConsole g_shdrFuzzConsole;

void ShdrFuzzExit(int) {}

char* ShdrFuzzCopy(const char* text)
{
    const size_t n = std::strlen(text);
    auto* copy = static_cast<char*>(MemAlloc(n + 1));
    std::memcpy(copy, text, n + 1);
    return copy;
}

class ShdrFuzzCompiler final : public ShaderCompiler {
public:
    bool Compile(const char*, size_t vertexLength, const char*, size_t pixelLength, CompiledProgram* out) override
    {
        *out = CompiledProgram();
        if (vertexLength > 64 || pixelLength > 64) {
            out->errorText = ShdrFuzzCopy("too long\n");
            out->errorStage = pixelLength > 64 ? 1 : 0;
            return false;
        }
        static const char* const kNames[] = {"kv_Matrices", "_tint", "kv_BaseTexture"};
        out->constantCount = 3;
        out->constants = static_cast<CompiledConstant*>(MemAlloc(sizeof(CompiledConstant) * 3));
        for (uint32_t i = 0; i < 3; ++i) {
            CompiledConstant& k = out->constants[i];
            k = CompiledConstant{};
            k.name = ShdrFuzzCopy(kNames[i]);
            k.stage = i == 0 ? SC_STAGE_VERTEX : SC_STAGE_PIXEL;
            k.registerSet = i == 2 ? SRS_SAMPLER : SRS_FLOAT4;
            k.registerCount = i == 0 ? 20 : 1;
            k.rows = i == 0 ? 4 : 1;
            k.columns = 4;
            k.elements = i == 0 ? 5 : 1;
            k.location = -1;
        }
        return true;
    }
};
ShdrFuzzCompiler g_shdrFuzzCompiler;

// Answers what the shader code asks of a device and keeps nothing.
struct ShdrFuzzDevice final : RenderDevice {
    uint32_t GetAdapterCount() override { return 0; }
    RDResult GetAdapterIdentifier(uint32_t, RDAdapterIdentifier*) override { return RDERR_INVALIDCALL; }
    RDResult GetAdapterDisplayMode(uint32_t, RDDisplayMode*) override { return RDERR_INVALIDCALL; }
    uint32_t GetAdapterModeCount(uint32_t, uint32_t) override { return 0; }
    RDResult EnumAdapterModes(uint32_t, uint32_t, uint32_t, RDDisplayMode*) override { return RDERR_INVALIDCALL; }
    RDResult GetDeviceCaps(uint32_t, uint32_t, RDCaps*) override { return RDERR_INVALIDCALL; }
    RDResult CheckDeviceMultiSampleType(uint32_t, uint32_t, uint32_t, int32_t, uint32_t) override
    {
        return RDERR_INVALIDCALL;
    }
    RDResult CreateDevice(uint32_t, uint32_t, void*, uint32_t, RDPresentParams*) override { return RDERR_INVALIDCALL; }
    bool HasDevice() override { return true; }
    void ReleaseDevice() override {}
    RDResult TestCooperativeLevel() override { return RD_OK; }
    RDResult Reset(RDPresentParams*) override { return RD_OK; }
    RDResult BeginScene() override { return RD_OK; }
    RDResult EndScene() override { return RD_OK; }
    RDResult Present() override { return RD_OK; }
    RDResult Clear(uint32_t, uint32_t, float, uint32_t) override { return RD_OK; }
    RDResult SetViewport(const RDViewport&) override { return RD_OK; }
    RDResult GetViewport(RDViewport*) override { return RDERR_INVALIDCALL; }
    RDResult SetRenderState(uint32_t, uint32_t) override { return RD_OK; }
    RDResult SetSamplerState(uint32_t, uint32_t, uint32_t) override { return RD_OK; }
    RDResult SetTextureStageState(uint32_t, uint32_t, uint32_t) override { return RD_OK; }
    RDResult SetTransform(uint32_t, const RDMatrix&) override { return RD_OK; }
    RDResult CreateTexture(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, RDTexture**) override
    {
        return RDERR_INVALIDCALL;
    }
    RDResult LockRect(RDTexture*, uint32_t, RDLockedRect*, const RDRect*, uint32_t) override { return RDERR_INVALIDCALL; }
    RDResult UnlockRect(RDTexture*, uint32_t) override { return RDERR_INVALIDCALL; }
    RDResult GetSurfaceLevel(RDTexture*, uint32_t, RDSurface**) override { return RDERR_INVALIDCALL; }
    RDResult SetTexture(uint32_t, RDTexture*) override { return RD_OK; }
    RDResult CreateDepthStencilSurface(uint32_t, uint32_t, uint32_t, uint32_t, RDSurface**) override
    {
        return RDERR_INVALIDCALL;
    }
    RDResult CreateOffscreenPlainSurface(uint32_t, uint32_t, uint32_t, uint32_t, RDSurface**) override
    {
        return RDERR_INVALIDCALL;
    }
    RDResult GetBackBuffer(RDSurface**) override { return RDERR_INVALIDCALL; }
    RDResult GetRenderTarget(uint32_t, RDSurface**) override { return RDERR_INVALIDCALL; }
    RDResult SetRenderTarget(uint32_t, RDSurface*) override { return RD_OK; }
    RDResult GetDepthStencilSurface(RDSurface**) override { return RDERR_INVALIDCALL; }
    RDResult SetDepthStencilSurface(RDSurface*) override { return RD_OK; }
    RDResult StretchRect(RDSurface*, const RDRect*, RDSurface*, const RDRect*, uint32_t) override
    {
        return RDERR_INVALIDCALL;
    }
    RDResult GetRenderTargetData(RDSurface*, RDSurface*) override { return RDERR_INVALIDCALL; }
    RDResult LockSurface(RDSurface*, RDLockedRect*, const RDRect*, uint32_t) override { return RDERR_INVALIDCALL; }
    RDResult UnlockSurface(RDSurface*) override { return RDERR_INVALIDCALL; }
    RDResult CreateVertexBuffer(uint32_t, uint32_t, uint32_t, uint32_t, RDVertexBuffer**) override
    {
        return RDERR_INVALIDCALL;
    }
    RDResult LockVertexBuffer(RDVertexBuffer*, uint32_t, uint32_t, void**, uint32_t) override
    {
        return RDERR_INVALIDCALL;
    }
    RDResult UnlockVertexBuffer(RDVertexBuffer*) override { return RDERR_INVALIDCALL; }
    RDResult SetStreamSource(uint32_t, RDVertexBuffer*, uint32_t, uint32_t) override { return RD_OK; }
    RDResult SetFVF(uint32_t) override { return RD_OK; }
    RDResult DrawPrimitive(uint32_t, uint32_t, uint32_t) override { return RD_OK; }
    RDResult DrawPrimitiveUP(uint32_t, uint32_t, const void*, uint32_t) override { return RD_OK; }
    Counters FrameCounters() override { return {}; }
    Counters LastFrameCounters() override { return {}; }
    RDResult SetShaderProgram(const CompiledProgram*) override { return RD_OK; }
    RDResult SetShaderConstantF(uint8_t, uint32_t, const float*, uint32_t) override { return RD_OK; }
    RDResult SetShaderConstantI(uint8_t, uint32_t, const int32_t*, uint32_t) override { return RD_OK; }
    RDResult SetShaderConstantB(uint8_t, uint32_t, const int32_t*, uint32_t) override { return RD_OK; }
};
ShdrFuzzDevice g_shdrFuzzDevice;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 8 || size > (1u << 22)) return 0;
    DebugConsole = ReleaseConsole = &g_shdrFuzzConsole;
    Platform_SetExitHook(ShdrFuzzExit);
    g_ShowErrorDialogs = false;
    ShaderCompiler_Set(&g_shdrFuzzCompiler);
    GR_Device = &g_shdrFuzzDevice;

    // An exact-size block, so the sanitizer sees any read past the data.
    auto* data = static_cast<uint8_t*>(MemAlloc(size));
    std::memcpy(data, input, size);
    uint8_t* const savedData = g_GameData.data;
    const uint32_t savedLength = g_GameData.length;
    g_GameData.data = data;
    g_GameData.length = uint32_t(size);
    // Every SHDR chunk of the container's walk, as the loader would hand it over.
    for (size_t at = 8; at + 8 <= size;) {
        uint32_t length = 0;
        std::memcpy(&length, data + at + 4, 4);
        if (length > size - at - 8) break;
        if (std::memcmp(data + at, "SHDR", 4) == 0) {
            Shader_Load(data + at + 8, length, data);
            for (int32_t i = 0; i < Shader_Count(); ++i) {
                Shader* s = Shader_Get(i);
                if (!s) continue;
                if (s->name && Shader_Find(s->name) > i) std::abort();  // the first of a name comes first
                ShaderM_GetUniform(s, "tint");
                Shader_SetPending(s);
                Shader_Apply();
                const float values[4] = {1, 2, 3, 4};
                ShaderM_SetUniformF(ShaderM_GetUniform(s, "tint"), 4, values);
            }
        }
        at += 8 + length;
    }
    Shader_FreeAll();
    g_GameData.data = savedData;
    g_GameData.length = savedLength;
    MemFree(data);
    GR_Device = nullptr;
    ShaderCompiler_Set(nullptr);
    Error_ResetState();
    return 0;
}
