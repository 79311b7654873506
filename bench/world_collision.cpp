// Point tests against instances with precise checking on: 1,000 instances spread over a room, 10^6 tests
// per iteration of which 95% fall outside the instance's box. The box must reject before anything else
// runs, so the whole test costs about what an inline box compare of the same loop costs (target within
// 1.2x), with the instances showing a sprite of the sprite table whose 16 x 16 mask is solid throughout.
// The same tests through the test overrides of the sprite facts and the pixel tests count what reaches the
// pixel tests: per iteration (the 5% inside), those that met a point outside their box (must be 0), and,
// from an untimed pass after dirtying every instance, box computations per dirtied instance (must be 1:
// once, not once per test). For scale, the same tests with precise checking off and the box compare behind
// a call that is not inlined.
//
// Reading x of an instance through the built-in variable table (Variable_GetValue_Direct) against reading
// the field: target within 5x.
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/value.h"
#include "core/variables.h"
#include "draw/draw.h"
#include "layers/layers.h"
#include "world/builtin_variables.h"
#include "world/instance.h"
#include "world/loader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int32_t kCollBenchInstances = 1000;
constexpr int32_t kCollBenchRounds = 1000;         // tests per iteration: rounds x instances
constexpr int32_t kCollBenchPointsPerInstance = 20;  // one inside the box, the rest outside
constexpr int32_t kCollBenchRoom = 4096;
constexpr int32_t kCollBenchSize = 16;  // the sprite's box: 16 x 16 around an origin at (8, 8)

CSprite g_CollBenchSprite;
int64_t g_CollBenchPixelCalls = 0;
int64_t g_CollBenchPixelOutside = 0;

bool CollBench_Facts(int32_t index, SpriteFacts* out)
{
    if (index != 0) return false;
    *out = SpriteFacts{};
    out->frameCount = 1;
    out->width = out->height = kCollBenchSize;
    out->xOrigin = out->yOrigin = kCollBenchSize / 2;
    out->bboxRight = out->bboxBottom = kCollBenchSize - 1;
    out->precise = true;
    out->sprite = &g_CollBenchSprite;
    return true;
}

// The trivial mask: every pixel is set. It also checks that it was only asked about points in the box.
bool CollBench_PixelPoint(CSprite*, int32_t, const BoundingBox& box, int32_t, int32_t, float, float, float,
                          int32_t px, int32_t py)
{
    ++g_CollBenchPixelCalls;
    if (px < box.left || px > box.right || py < box.top || py > box.bottom) ++g_CollBenchPixelOutside;
    return true;
}

const SpritePixelTests kCollBenchPixelTests = {CollBench_PixelPoint, nullptr, nullptr, nullptr};

// Sprite 0 of the table, from an SPRT chunk made here: the same 16 x 16 frame, origin (8, 8), box 0..15,
// precise, one stored mask with every pixel solid.
void CollBench_LoadTableSprite()
{
    static uint8_t* data = nullptr;
    if (data) return;
    constexpr uint32_t kSize = 140;
    data = static_cast<uint8_t*>(MemAlloc(kSize));
    std::memset(data, 0, kSize);
    auto word = [](uint32_t at, uint32_t v) { std::memcpy(data + at, &v, 4); };
    std::memcpy(data, "FORM", 4);
    word(4, kSize - 8);
    std::memcpy(data + 8, "SPRT", 4);
    word(12, kSize - 16);
    word(16, 1);   // one sprite
    word(20, 24);  // its entry
    const uint32_t fields[15] = {128, kCollBenchSize, kCollBenchSize, 0, kCollBenchSize - 1, kCollBenchSize - 1, 0,
                                 1, 0, 1, 2, 1, kCollBenchSize / 2, kCollBenchSize / 2, 1};
    for (uint32_t i = 0; i < 15; ++i) word(24 + 4 * i, fields[i]);
    word(84, 0);  // no texture-page entry
    word(88, 1);  // one mask: 16 rows of two bytes
    std::memset(data + 92, 0xFF, 32);
    word(124, 9);
    std::memcpy(data + 128, "spr_bench", 9);
    const GameDataInfo saved = g_GameData;  // chunk loaders read inside the loaded game data
    g_GameData.data = data;
    g_GameData.length = kSize;
    g_GameData.newMode = false;
    Sprite_Init();
    const bool loaded = Sprite_Load(data + 16, kSize - 16, data);
    g_GameData = saved;
    if (!loaded || !Sprite_Exists(0)) std::abort();
}

// The test overrides in place for the scope.
struct CollBenchHooks {
    CollBenchHooks()
    {
        oldFacts = Sprite_SetFactsSource(CollBench_Facts);
        oldPixel = Sprite_SetPixelTests(&kCollBenchPixelTests);
    }
    ~CollBenchHooks()
    {
        Sprite_SetPixelTests(oldPixel);
        Sprite_SetFactsSource(oldFacts);
    }
    SpriteFactsSource oldFacts;
    const SpritePixelTests* oldPixel;
};

struct CollBenchPoint {
    double x;
    double y;
};

uint32_t CollBench_Next(uint32_t* seed)
{
    *seed = *seed * 1664525u + 1013904223u;
    return *seed >> 8;
}

struct CollBenchWorld {
    std::vector<CInstance*> instances;
    std::vector<CollBenchPoint> points;  // kCollBenchPointsPerInstance per instance, the first inside
    int64_t computesPerDirtied100 = 0;   // box computations per dirtied instance, times 100

    CollBenchWorld()
    {
        CollBench_LoadTableSprite();
        CollBenchHooks hooks;
        CollisionTreeMode = false;
        uint32_t seed = 2101988;
        for (int32_t i = 0; i < kCollBenchInstances; ++i) {
            const float x = float(32 + CollBench_Next(&seed) % (kCollBenchRoom - 64));
            const float y = float(32 + CollBench_Next(&seed) % (kCollBenchRoom - 64));
            auto* inst = new CInstance(x, y, i + 1, -1, false);
            inst->spriteIndex = 0;
            inst->bboxDirty = true;
            instances.push_back(inst);
            // Inside: a pixel of the 16 x 16 box; outside: anywhere in the room off the box.
            const int32_t left = int32_t(x) - kCollBenchSize / 2, top = int32_t(y) - kCollBenchSize / 2;
            points.push_back({double(left + int32_t(CollBench_Next(&seed) % kCollBenchSize)),
                              double(top + int32_t(CollBench_Next(&seed) % kCollBenchSize))});
            while (int32_t(points.size()) < (i + 1) * kCollBenchPointsPerInstance) {
                const int32_t px = int32_t(CollBench_Next(&seed) % kCollBenchRoom);
                const int32_t py = int32_t(CollBench_Next(&seed) % kCollBenchRoom);
                if (px >= left && px < left + kCollBenchSize && py >= top && py < top + kCollBenchSize) continue;
                points.push_back({double(px), double(py)});
            }
        }
        // Dirty every box, then one untimed pass: each box must be computed once, whatever the test count.
        for (CInstance* inst : instances) inst->MarkDirty();
        SeamTrace_Clear();
        SeamTrace_Enable(true);
        RunPrecise();
        SeamTrace_Enable(false);
        const auto& calls = SeamTrace_Calls();
        const auto computes = std::count(calls.begin(), calls.end(), std::string("Collision_UpdateInstance"));
        computesPerDirtied100 = int64_t(computes) * 100 / kCollBenchInstances;
        SeamTrace_Clear();
    }

    const CollBenchPoint& PointFor(int32_t round, int32_t i) const
    {
        return points[size_t(i) * kCollBenchPointsPerInstance + size_t((round * 7 + i) % kCollBenchPointsPerInstance)];
    }

    // Every benchmark walks the same tests in the same order: each round visits every instance once.
    template <typename Test>
    int64_t Run(Test test) const
    {
        int64_t hits = 0;
        for (int32_t round = 0; round < kCollBenchRounds; ++round)
            for (int32_t i = 0; i < kCollBenchInstances; ++i) hits += test(instances[size_t(i)], PointFor(round, i));
        return hits;
    }

    int64_t RunPrecise() const
    {
        return Run([](CInstance* inst, const CollBenchPoint& p) { return inst->CollisionPoint(p.x, p.y, true); });
    }

    int64_t RunBoxesOnly() const
    {
        return Run([](CInstance* inst, const CollBenchPoint& p) {
            const BoundingBox& b = inst->bbox;
            return p.x >= b.left && p.x < double(b.right) + 1.0 && p.y >= b.top && p.y < double(b.bottom) + 1.0;
        });
    }
};

const CollBenchWorld& CollBench_World()
{
    static const CollBenchWorld* world = new CollBenchWorld();
    return *world;
}

constexpr int64_t kCollBenchTests = int64_t(kCollBenchRounds) * kCollBenchInstances;

void BM_CollisionPointPrecise(benchmark::State& state)
{
    const CollBenchWorld& world = CollBench_World();
    int64_t hits = 0;
    for (auto _ : state) {
        hits = world.RunPrecise();
        benchmark::DoNotOptimize(hits);
    }
    state.counters["rejected"] = 1.0 - double(hits) / double(kCollBenchTests);
    state.SetItemsProcessed(state.iterations() * kCollBenchTests);
}
BENCHMARK(BM_CollisionPointPrecise)->Unit(benchmark::kMillisecond);

// The same through the overrides, which count the pixel tests.
void BM_CollisionPointPreciseCounted(benchmark::State& state)
{
    const CollBenchWorld& world = CollBench_World();
    CollBenchHooks hooks;
    g_CollBenchPixelCalls = g_CollBenchPixelOutside = 0;
    int64_t hits = 0;
    for (auto _ : state) {
        hits = world.RunPrecise();
        benchmark::DoNotOptimize(hits);
    }
    const double iterations = double(state.iterations());
    state.counters["rejected"] = 1.0 - double(hits) / double(kCollBenchTests);
    state.counters["pixel_calls"] = double(g_CollBenchPixelCalls) / iterations;
    state.counters["pixel_outside_box"] = double(g_CollBenchPixelOutside);
    state.counters["bbox_per_dirtied"] = double(world.computesPerDirtied100) / 100.0;
    state.SetItemsProcessed(state.iterations() * kCollBenchTests);
}
BENCHMARK(BM_CollisionPointPreciseCounted)->Unit(benchmark::kMillisecond);

void BM_CollisionPointBoxesOnly(benchmark::State& state)
{
    const CollBenchWorld& world = CollBench_World();
    int64_t hits = 0;
    for (auto _ : state) {
        hits = world.RunBoxesOnly();
        benchmark::DoNotOptimize(hits);
    }
    state.counters["rejected"] = 1.0 - double(hits) / double(kCollBenchTests);
    state.SetItemsProcessed(state.iterations() * kCollBenchTests);
}
BENCHMARK(BM_CollisionPointBoxesOnly)->Unit(benchmark::kMillisecond);

// For scale: the same tests with precise checking off, and the box compare behind a call that is not
// inlined, so that the gap to the inline compare can be told apart from what precise checking adds.
void BM_CollisionPointNotPrecise(benchmark::State& state)
{
    const CollBenchWorld& world = CollBench_World();
    int64_t hits = 0;
    for (auto _ : state) {
        hits = world.Run(
            [](CInstance* inst, const CollBenchPoint& p) { return inst->CollisionPoint(p.x, p.y, false); });
        benchmark::DoNotOptimize(hits);
    }
    state.SetItemsProcessed(state.iterations() * kCollBenchTests);
}
BENCHMARK(BM_CollisionPointNotPrecise)->Unit(benchmark::kMillisecond);

__attribute__((noinline)) bool CollBench_BoxCall(CInstance* inst, const CollBenchPoint& p)
{
    if (inst->skeleton || inst->bboxDirty || inst->markedForDeletion) return false;
    const BoundingBox& b = inst->bbox;
    return p.x >= b.left && p.x < double(b.right) + 1.0 && p.y >= b.top && p.y < double(b.bottom) + 1.0;
}

void BM_CollisionPointBoxCall(benchmark::State& state)
{
    const CollBenchWorld& world = CollBench_World();
    int64_t hits = 0;
    for (auto _ : state) {
        hits = world.Run(CollBench_BoxCall);
        benchmark::DoNotOptimize(hits);
    }
    state.SetItemsProcessed(state.iterations() * kCollBenchTests);
}
BENCHMARK(BM_CollisionPointBoxCall)->Unit(benchmark::kMillisecond);

// ---- x through the built-in table ----

CInstance* CollBench_VariableInstance()
{
    static CInstance* inst = [] {
        InitVariables();
        return new CInstance(12.5f, -3.0f, 5000, -1, false);
    }();
    return inst;
}

void BM_VariableReadXBuiltin(benchmark::State& state)
{
    CInstance* inst = CollBench_VariableInstance();
    const int32_t id = Variable_BuiltIn_Find("x");
    if (id < 0) {
        state.SkipWithError("x is not registered");
        return;
    }
    RValue out;
    RValue_SetUndefined(&out);
    for (auto _ : state) {
        Variable_GetValue_Direct(inst, id, ARRAY_INDEX_NONE, &out);
        benchmark::DoNotOptimize(out);
        benchmark::DoNotOptimize(inst);
    }
    if (out.kind != VALUE_REAL || out.real != 12.5) state.SkipWithError("x read wrong");
}
BENCHMARK(BM_VariableReadXBuiltin);

void BM_VariableReadXField(benchmark::State& state)
{
    CInstance* inst = CollBench_VariableInstance();
    RValue out;
    RValue_SetUndefined(&out);
    for (auto _ : state) {
        RValue_SetReal(&out, inst->x);
        benchmark::DoNotOptimize(out);
        benchmark::DoNotOptimize(inst);
    }
}
BENCHMARK(BM_VariableReadXField);

}  // namespace
