// The 2D primitives on the OpenGL device: 1,000 filled circles of precision 24 a frame through GR_Draw_Circle,
// against raw GL drawing the same triangles from one mapped buffer with one call, in the same run.
#include "gl_bench.h"

namespace {

using namespace glbench;

void BM_DrawCircles(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    SetBatchMethod(0);
    EngineFrames(state, b, [] {
        for (int i = 0; i < kCircles; ++i) GR_Draw_Circle(float(20 + (i % 50) * 25), float(20 + (i / 50) * 30), 10, false);
    });
}
BENCHMARK(BM_DrawCircles)->Unit(benchmark::kMillisecond);

void BM_RawCircles(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    for (auto _ : state) RawFrame(b, kCircles, 3 * kCirclePrecision, WriteCircle);
}
BENCHMARK(BM_RawCircles)->Unit(benchmark::kMillisecond);

}  // namespace
