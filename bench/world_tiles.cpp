// The room drawing sorts the legacy tiles before every frame, and they are nearly always in order already:
// the sort must then cost one pass over the depths, like std::is_sorted over the same tiles (target within
// 1.5x). A sort that moved tiles or allocated would show here. The unsorted case is shown for scale.
#include "world/tiles.h"

#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

constexpr int32_t kWorldTilesCount = 10000;

void WorldTilesBench_Fill(RunningTiles& tiles, bool ordered)
{
    for (int32_t i = 0; i < kWorldTilesCount; ++i) {
        RunningTile t{};
        // Groups of ten share a depth, largest first: the order the drawing leaves them in.
        t.depth = float(ordered ? kWorldTilesCount - i / 10 : (i * 7919) % 1000);
        t.width = 16;
        t.height = 16;
        t.xscale = t.yscale = 1.0f;
        t.visible = true;
        RunningTiles_Add(tiles, t);
    }
}

void BM_SortTilesAlreadySorted(benchmark::State& state)
{
    RunningTiles tiles;
    WorldTilesBench_Fill(tiles, true);
    for (auto _ : state) {
        RunningTiles_Sort(tiles);
        benchmark::DoNotOptimize(tiles.items);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWorldTilesCount);
}
BENCHMARK(BM_SortTilesAlreadySorted);

void BM_IsSortedOverTileDepths(benchmark::State& state)
{
    RunningTiles tiles;
    WorldTilesBench_Fill(tiles, true);
    for (auto _ : state) {
        bool sorted = std::is_sorted(tiles.items, tiles.items + tiles.count,
                                     [](const RunningTile& a, const RunningTile& b) { return a.depth > b.depth; });
        benchmark::DoNotOptimize(sorted);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWorldTilesCount);
}
BENCHMARK(BM_IsSortedOverTileDepths);

// For scale only: an insertion sort of shuffled depths is quadratic.
void BM_SortTilesShuffled(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        RunningTiles tiles;
        WorldTilesBench_Fill(tiles, false);
        state.ResumeTiming();
        RunningTiles_Sort(tiles);
        benchmark::DoNotOptimize(tiles.items);
    }
}
BENCHMARK(BM_SortTilesShuffled)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
