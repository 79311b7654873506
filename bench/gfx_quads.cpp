// Textured quads on the OpenGL device: 10,000 small GR_TPE_DrawExt a frame on one page, the same with two pages
// alternating (one draw call per change), quads written straight into GR_Batch_Alloc, and raw GL drawing the
// same 60,000 vertices from one mapped buffer with one call, in the same run.
#include "gl_bench.h"

#include "gfx/quad.h"
#include "gfx/texture_handle.h"

#include <vector>

namespace {

using namespace glbench;

struct Pages {
    int32_t page[2] = {-1, -1};
    TexturePageEntry entry[2] = {};
};

Pages* MakePages()
{
    static Pages* pages = [] {
        auto* p = new Pages;
        std::vector<uint32_t> pixels(64 * 64, 0xFFFFFFFF);
        for (int i = 0; i < 2; ++i) {
            p->page[i] = GR_Texture_Create(64, 64, pixels.data(), uint32_t(pixels.size() * 4));
            p->entry[i] = {0, 0, 4, 4, 0, 0, 4, 4, 4, 4, int16_t(p->page[i])};
        }
        return p;
    }();
    return pages;
}

void Quads(Pages* p, int pages)
{
    for (int i = 0; i < kQuads; ++i)
        GR_TPE_DrawExt(&p->entry[pages == 2 ? i & 1 : 0], 0, 0, float(i % 1000), float(i / 1000 * 10), 0.25f, 0.25f,
                       0, 0xFFFFFF, 1);
}

void BM_TPE_DrawExt(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    Pages* p = MakePages();
    const int pages = int(state.range(0));
    EngineFrames(state, b, [p, pages] { Quads(p, pages); });
}
BENCHMARK(BM_TPE_DrawExt)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_BatchAllocQuads(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    NativeTexture* texture = GR_Texture_Get(MakePages()->page[0]);
    EngineFrames(state, b, [texture] {
        for (int i = 0; i < kQuads; ++i)
            WriteQuad(static_cast<VertexPosColourUV*>(
                          GR_Batch_Alloc(RDPT_TRIANGLELIST, texture, VERTEX_FORMAT_POS_COLOUR_UV, 6)),
                      i);
    });
}
BENCHMARK(BM_BatchAllocQuads)->Unit(benchmark::kMillisecond);

void BM_RawQuads(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    for (auto _ : state) RawFrame(b, kQuads, 6, WriteQuad);
}
BENCHMARK(BM_RawQuads)->Unit(benchmark::kMillisecond);

}  // namespace
