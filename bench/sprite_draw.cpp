// Sprite drawing. On the OpenGL device: 10,000 SpriteDraw a frame of a four-frame sprite on one page (and with its
// frames alternating between two pages), against raw GL drawing the same 60,000 vertices with one call, in the
// same run. On the recording device: 50,000 SpriteDraw calls all inside the view, half outside and all outside,
// so a culled call can be set against a drawn one, with the memory manager's live blocks checked around them.
#include "gl_bench.h"

#include "core/memory_manager.h"
#include "draw/sprite.h"
#include "gfx/texture_handle.h"
#include "tests/support/fake_render_device.cpp"

#include <vector>

namespace {

using namespace glbench;

constexpr int kFrameCount = 4;
constexpr int kCalls = 50000;

struct BenchSprite {
    int32_t page[2] = {-1, -1};
    TexturePageEntry entry[kFrameCount] = {};
    CSprite* one = nullptr;  // every frame on page 0
    CSprite* two = nullptr;  // odd frames on page 1
};

CSprite* SpriteBench_Make(TexturePageEntry* entries)
{
    auto* s = new CSprite();
    s->m_frameCount = kFrameCount;
    s->m_width = s->m_height = 4;
    s->m_boundingRadius = 3;
    s->m_name = "spr_bench";
    s->m_frameEntries = static_cast<TexturePageEntry**>(MemAlloc(sizeof(TexturePageEntry*) * kFrameCount));
    for (int k = 0; k < kFrameCount; ++k) s->m_frameEntries[k] = &entries[k];
    return s;
}

BenchSprite* SpriteBench_Sprites()
{
    static BenchSprite* b = [] {
        auto* p = new BenchSprite;
        std::vector<uint32_t> pixels(64 * 64, 0xFFFFFFFF);
        for (int i = 0; i < 2; ++i) p->page[i] = GR_Texture_Create(64, 64, pixels.data(), uint32_t(pixels.size() * 4));
        for (int k = 0; k < kFrameCount; ++k)
            p->entry[k] = {int16_t(4 * k), 0, 4, 4, 0, 0, 4, 4, 4, 4, int16_t(p->page[0])};
        p->one = SpriteBench_Make(p->entry);
        static TexturePageEntry alternating[kFrameCount];
        for (int k = 0; k < kFrameCount; ++k) {
            alternating[k] = p->entry[k];
            alternating[k].page = int16_t(p->page[k & 1]);
        }
        p->two = SpriteBench_Make(alternating);
        return p;
    }();
    return b;
}

void SpriteBench_View(int32_t width, int32_t height)
{
    GR_Matrices[GRM_WORLD] = Matrix_Identity();
    GR_ViewRect = {0, 0, width, height};
    GR_MarkTransformChanged();
}

// Placed as the raw side places its quads: 1,000 across, rows 10 apart, each 1 x 1.
void SpriteBench_Frame(CSprite* s)
{
    for (int i = 0; i < kQuads; ++i)
        SpriteDraw(s, i, float(i % 1000), float(i / 1000 * 10), 0.25f, 0.25f, 0, 0xFFFFFF, 1);
}

// ---- The recording device: culling against drawing (registered first: it runs before the GL device exists) ----

// Arg: how many of every four calls lie outside the view (0 all inside, 2 half, 4 all outside).
void BM_SpriteDrawCulling(benchmark::State& state)
{
    static kvtest::FakeRenderDevice* device = [] {
        auto* d = new kvtest::FakeRenderDevice();
        d->hasDevice = true;
        return d;
    }();
    RenderDevice* savedDevice = GR_Device;
    GR_Device = device;
    GR_Batch_FreeAll();
    GR_Texture_FreeAll();
    int32_t page = -1;
    TexturePage* texture = GR_Texture_NewPage(&page);
    texture->width = texture->height = 64;
    texture->uScale = texture->vScale = 1.0f / 64;
    TexturePageEntry entries[kFrameCount];
    for (int k = 0; k < kFrameCount; ++k) entries[k] = {int16_t(4 * k), 0, 4, 4, 0, 0, 4, 4, 4, 4, int16_t(page)};
    CSprite* s = SpriteBench_Make(entries);
    SpriteBench_View(1000, 1000);
    const int outsideOfFour = int(state.range(0));
    std::vector<float> xs(kCalls);
    for (int i = 0; i < kCalls; ++i) xs[size_t(i)] = (i % 4) < outsideOfFour ? -100.0f : float(i % 1000);

    // One frame first, so the batch and the device have their buffers before blocks are counted.
    for (int i = 0; i < kCalls; ++i) SpriteDraw(s, i, xs[size_t(i)], float(i % 997), 1, 1, 0, 0xFFFFFF, 1);
    GraphicsFlush();
    device->draws.clear();
    device->ClearLog();
    GR_MarkTransformChanged();
    const size_t liveBefore = MemoryManager_Probe().liveBlocks;
    int64_t cullUpdates = 0;
    for (auto _ : state) {
        for (int i = 0; i < kCalls; ++i) SpriteDraw(s, i, xs[size_t(i)], float(i % 997), 1, 1, 0, 0xFFFFFF, 1);
        state.PauseTiming();
        cullUpdates += GR_TransformChanged ? 0 : 1;  // the one update of this frame's transform happened
        GraphicsFlush();
        device->draws.clear();
        device->ClearLog();
        GR_MarkTransformChanged();
        state.ResumeTiming();
    }
    state.counters["live_blocks_added"] = double(MemoryManager_Probe().liveBlocks - liveBefore);
    state.counters["cull_updates_per_frame"] =
        benchmark::Counter(double(cullUpdates), benchmark::Counter::kAvgIterations);
    state.counters["ns_per_call"] =
        benchmark::Counter(double(kCalls), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    delete s;
    GR_Batch_FreeAll();
    GR_Texture_FreeAll();
    GR_Device = savedDevice;
}
BENCHMARK(BM_SpriteDrawCulling)->Arg(0)->Arg(2)->Arg(4);

// ---- The OpenGL device ----

void BM_SpriteDraw(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    BenchSprite* p = SpriteBench_Sprites();
    SpriteBench_View(int32_t(kWidth), int32_t(kHeight));
    CSprite* s = state.range(0) == 2 ? p->two : p->one;
    EngineFrames(state, b, [s] { SpriteBench_Frame(s); });
}
BENCHMARK(BM_SpriteDraw)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Registered after the device's: it leaves GL state the device does not know of.
void BM_SpriteDrawRaw(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    for (auto _ : state) RawFrame(b, kQuads, 6, WriteQuad);
}
BENCHMARK(BM_SpriteDrawRaw)->Unit(benchmark::kMillisecond);

}  // namespace
