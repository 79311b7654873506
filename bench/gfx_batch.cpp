// The vertex batcher on the OpenGL device: 10,000 one-pixel textured quads a frame through GR_Batch_Alloc and one
// flush, in each buffer method (0 shared buffer, 1 pool, 2 client memory), against raw GL drawing the same 60,000
// vertices from one mapped buffer with one call, in the same run.
#include "gl_bench.h"

namespace {

using namespace glbench;

void BM_BatchQuads(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    SetBatchMethod(int(state.range(0)));
    EngineFrames(state, b, [b] {
        for (int i = 0; i < kQuads; ++i)
            WriteQuad(static_cast<VertexPosColourUV*>(
                          GR_Batch_Alloc(RDPT_TRIANGLELIST, b->texture, VERTEX_FORMAT_POS_COLOUR_UV, 6)),
                      i);
    });
    SetBatchMethod(0);
}
BENCHMARK(BM_BatchQuads)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_RawQuads(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    for (auto _ : state) RawFrame(b, kQuads, 6, WriteQuad);
}
BENCHMARK(BM_RawQuads)->Unit(benchmark::kMillisecond);

}  // namespace
