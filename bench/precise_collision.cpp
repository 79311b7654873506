// The pair pixel test on 256 x 256 sprites. Worst case: full overlap of two complementary checkerboards, so
// no pixel is solid in both and every pixel is visited; against it a plain byte-AND over the same overlap of
// the same unpacked masks (target: the unscaled worst case within 3x of it), an early hit, and the scaled and
// rotated placements of the same worst case. Counters: whether the masks were unpacked once (the mask blocks
// are the same after the run as after the first test) and memory-manager blocks made per test.
#include "core/memory_manager.h"
#include "draw/draw.h"
#include "draw/sprite.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int32_t kPcSize = 256;

struct PcSprite {
    std::vector<uint8_t> packed;
    CSprite* sprite = nullptr;
};

// parity 0 or 1: solid where (u + v) % 2 equals it; parity 2: solid everywhere.
PcSprite* PcBench_Make(int32_t parity)
{
    auto* f = new PcSprite();
    const int32_t stride = kPcSize / 8;
    f->packed.assign(size_t(stride * kPcSize), 0);
    for (int32_t v = 0; v < kPcSize; ++v)
        for (int32_t u = 0; u < kPcSize; ++u)
            if (parity == 2 || (u + v) % 2 == parity) f->packed[size_t(v * stride + u / 8)] |= uint8_t(0x80 >> (u % 8));
    CSprite* s = f->sprite = new CSprite();
    s->m_width = s->m_height = kPcSize;
    s->m_xOrigin = s->m_yOrigin = kPcSize / 2;
    s->m_frameCount = 1;
    s->m_packedMasks = f->packed.data();
    s->m_packedMaskCount = 1;
    s->m_packedMaskWidth = s->m_packedMaskHeight = kPcSize;
    s->m_packedMaskFrames = 1;
    return f;
}

struct PcWorld {
    PcSprite* even = PcBench_Make(0);
    PcSprite* odd = PcBench_Make(1);
    PcSprite* solid = PcBench_Make(2);
};

const PcWorld& PcBench_World()
{
    static const PcWorld* world = new PcWorld();
    return *world;
}

// Placement of both sprites at (1000, 1000); the boxes are the placed frames' world boxes.
struct PcCase {
    float xscale;
    float angle;
    BoundingBox box;
};

void PcBench_Run(benchmark::State& state, CSprite* a, CSprite* b, const PcCase& c, bool want)
{
    const BoundingBox& box = c.box;
    bool hit = PreciseCollision(a, 0, box, 1000, 1000, c.xscale, 1.0f, c.angle, b, 0, box, 1000, 1000, c.xscale,
                                1.0f, c.angle);
    const uint8_t* firstA = a->m_masks ? a->m_masks[0].data : nullptr;
    const uint8_t* firstB = b->m_masks ? b->m_masks[0].data : nullptr;
    const size_t blocksBefore = MemoryManager_Probe().liveBlocks;
    int64_t tests = 0;
    for (auto _ : state) {
        hit = PreciseCollision(a, 0, box, 1000, 1000, c.xscale, 1.0f, c.angle, b, 0, box, 1000, 1000, c.xscale, 1.0f,
                               c.angle);
        benchmark::DoNotOptimize(hit);
        ++tests;
    }
    const bool once = firstA && firstB && a->m_masks[0].data == firstA && b->m_masks[0].data == firstB;
    state.counters["unpacked_once"] = once ? 1.0 : 0.0;
    state.counters["blocks_left_per_test"] =
        double(MemoryManager_Probe().liveBlocks - blocksBefore) / double(tests > 0 ? tests : 1);
    if (hit != want) state.SkipWithError("wrong answer");
}

constexpr BoundingBox kPcUnitBox{1000 - kPcSize / 2, 1000 - kPcSize / 2, 1000 + kPcSize / 2 - 1,
                                 1000 + kPcSize / 2 - 1};

void BM_PreciseUnscaledNoHit(benchmark::State& state)
{
    const PcWorld& w = PcBench_World();
    PcBench_Run(state, w.even->sprite, w.odd->sprite, {1.0f, 0.0f, kPcUnitBox}, false);
    state.SetItemsProcessed(state.iterations() * kPcSize * kPcSize);
}
BENCHMARK(BM_PreciseUnscaledNoHit);

// The baseline: the same 256 x 256 bytes of both unpacked masks, AND-ed and or-ed together row by row.
void BM_PlainByteAnd(benchmark::State& state)
{
    const PcWorld& w = PcBench_World();
    CSprite* a = w.even->sprite;
    CSprite* b = w.odd->sprite;
    a->UnpackMasks();
    b->UnpackMasks();
    const uint8_t* ma = a->m_masks[0].data;
    const uint8_t* mb = b->m_masks[0].data;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ma);
        benchmark::DoNotOptimize(mb);
        bool hit = false;
        for (int32_t j = 0; j < kPcSize && !hit; ++j) {
            uint8_t acc = 0;
            const uint8_t* ra = ma + j * kPcSize;
            const uint8_t* rb = mb + j * kPcSize;
            for (int32_t i = 0; i < kPcSize; ++i) acc |= ra[i] & rb[i];
            hit = acc != 0;
        }
        benchmark::DoNotOptimize(hit);
    }
    state.SetItemsProcessed(state.iterations() * kPcSize * kPcSize);
}
BENCHMARK(BM_PlainByteAnd);

void BM_PreciseEarlyHit(benchmark::State& state)
{
    const PcWorld& w = PcBench_World();
    PcBench_Run(state, w.solid->sprite, w.even->sprite, {1.0f, 0.0f, kPcUnitBox}, true);
}
BENCHMARK(BM_PreciseEarlyHit);

void BM_PreciseScaledNoHit(benchmark::State& state)
{
    const PcWorld& w = PcBench_World();
    // x scale 2 on both: 512 x 256 world pixels, two to a frame pixel.
    const BoundingBox box{1000 - kPcSize, 1000 - kPcSize / 2, 1000 + kPcSize - 1, 1000 + kPcSize / 2 - 1};
    PcBench_Run(state, w.even->sprite, w.odd->sprite, {2.0f, 0.0f, box}, false);
    state.SetItemsProcessed(state.iterations() * 2 * kPcSize * kPcSize);
}
BENCHMARK(BM_PreciseScaledNoHit);

void BM_PreciseRotatedNoHit(benchmark::State& state)
{
    const PcWorld& w = PcBench_World();
    // 45 degrees on both: the frame's corners reach 182 pixels from the origin.
    const BoundingBox box{1000 - 182, 1000 - 182, 1000 + 182, 1000 + 182};
    PcBench_Run(state, w.even->sprite, w.odd->sprite, {1.0f, 45.0f, box}, false);
    state.SetItemsProcessed(state.iterations() * 365 * 365);
}
BENCHMARK(BM_PreciseRotatedNoHit);

}  // namespace
