// Drawing with a shader selected: 10,000 quads a frame through the batch with a pass-through HLSL pair current
// (one draw call a frame) against raw GL drawing the same 60,000 vertices with one call under its own equivalent
// program; the world matrix changed before each quad (a flush and a matrix upload each) with the shader and
// without; and the time to compile one pair.
#include "gl_bench.h"

#include "gfx/matrix.h"
#include "gfx/shaders.h"
#include "platform/shader_compiler.h"

#include <cstring>

namespace {

using namespace glbench;

const char kVertex[] = R"(float4x4 kv_Matrices[5];
struct VOut { float4 pos : POSITION; float4 col : COLOR0; float2 uv : TEXCOORD0; };
VOut main (float4 pos : POSITION, float4 col : COLOR0, float2 uv : TEXCOORD0)
{
    VOut o;
    o.pos = mul (pos, kv_Matrices[4]);
    o.col = col;
    o.uv = uv;
    return o;
}
)";
const char kPixel[] = R"(sampler2D kv_BaseTexture;
float4 main (float4 col : COLOR0, float2 uv : TEXCOORD0) : COLOR0 { return tex2D (kv_BaseTexture, uv) * col; }
)";

Shader* PassThrough()
{
    static Shader* shader = [] {
        const uint8_t* sources[8] = {};
        sources[4] = reinterpret_cast<const uint8_t*>(kVertex);
        sources[5] = reinterpret_cast<const uint8_t*>(kPixel);
        Shader* s = Shader_Add("bench_passthrough", 1, sources, 0, nullptr);
        ShaderM_Compile(s);
        return s;
    }();
    return shader;
}

void Select(Shader* s)
{
    Shader_SetPending(s);
    Shader_ApplyPending();
}

void AllocQuads(Bench* b)
{
    for (int i = 0; i < kQuads; ++i)
        WriteQuad(static_cast<VertexPosColourUV*>(GR_Batch_Alloc(RDPT_TRIANGLELIST, b->texture, VERTEX_FORMAT_POS_COLOUR_UV, 6)),
                  i);
}

void BM_ShaderQuads(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    Shader* s = PassThrough();
    if (!s->compiled) return state.SkipWithError(s->errorText ? s->errorText : "no program");
    Select(s);
    EngineFrames(state, b, [b] { AllocQuads(b); });
    Select(nullptr);
}
BENCHMARK(BM_ShaderQuads)->Unit(benchmark::kMillisecond);

// The world matrix moved before every quad: each quad is its own draw, with the matrices sent again.
void WorldQuads(benchmark::State& state, bool shader)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    Shader* s = PassThrough();
    if (shader && !s->compiled) return state.SkipWithError("no program");
    Select(shader ? s : nullptr);
    constexpr int kMoved = 2000;
    EngineFrames(state, b, [b] {
        Matrix44 world = Matrix_Identity();
        for (int i = 0; i < kMoved; ++i) {
            world.m[12] = float(i % 7);
            GR_D3D_SetMatrix(RDTS_WORLD, world);
            WriteQuad(static_cast<VertexPosColourUV*>(
                          GR_Batch_Alloc(RDPT_TRIANGLELIST, b->texture, VERTEX_FORMAT_POS_COLOUR_UV, 6)),
                      i);
        }
        GR_D3D_SetMatrix(RDTS_WORLD, Matrix_Identity());
    });
    Select(nullptr);
}
void BM_WorldChangesNoShader(benchmark::State& state) { WorldQuads(state, false); }
void BM_WorldChangesShader(benchmark::State& state) { WorldQuads(state, true); }
BENCHMARK(BM_WorldChangesNoShader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WorldChangesShader)->Unit(benchmark::kMillisecond);

void BM_CompilePair(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    for (auto _ : state) {
        CompiledProgram program;
        const bool ok = ShaderCompiler_Get()->Compile(kVertex, std::strlen(kVertex), kPixel, std::strlen(kPixel), &program);
        CompiledProgram_Free(&program);
        if (!ok) return state.SkipWithError("the pair does not compile");
    }
}
BENCHMARK(BM_CompilePair)->Unit(benchmark::kMillisecond);

// Raw GL last: it leaves GL state the device does not know of.
void BM_RawQuads(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    for (auto _ : state) RawFrame(b, kQuads, 6, WriteQuad);
}
BENCHMARK(BM_RawQuads)->Unit(benchmark::kMillisecond);

}  // namespace
