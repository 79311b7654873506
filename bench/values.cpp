// Copy + free of string and array values against copy + free of real values: sharing must cost no
// allocation, so the memory manager's live blocks must not move while the copies run.
#include "core/memory_manager.h"
#include "core/value.h"

#include <benchmark/benchmark.h>

namespace {

enum BenchValueKind { kBenchReal, kBenchString, kBenchArray };

void BenchValues_Make(RValue* v, int64_t kind)
{
    RValue_SetUndefined(v);
    switch (kind) {
    case kBenchReal:
        RValue_SetReal(v, 2.5);
        break;
    case kBenchString:
        RValue_SetString(v, "a text that is shared, never copied");
        break;
    default: {
        RValue item;
        RValue_SetReal(&item, 1.0);
        for (int32_t i = 0; i < 16; ++i) RValue_SetWithIndex(v, &item, i);
        break;
    }
    }
}

void BM_ValueCopyFree(benchmark::State& state)
{
    RValue source;
    BenchValues_Make(&source, state.range(0));
    RValue dest;
    RValue_SetUndefined(&dest);

    // Blocks taken by single copies, probed one by one outside the timing.
    size_t takenByCopies = 0;
    for (int i = 0; i < 1000; ++i) {
        size_t before = MemoryManager_Probe().liveBlocks;
        RValue_Copy(&dest, &source);
        takenByCopies += MemoryManager_Probe().liveBlocks - before;
        RValue_Free(&dest);
    }

    const size_t liveBefore = MemoryManager_Probe().liveBlocks;
    for (auto _ : state) {
        RValue_Copy(&dest, &source);
        benchmark::DoNotOptimize(dest);
        RValue_Free(&dest);
        benchmark::ClobberMemory();
    }
    const size_t liveAfter = MemoryManager_Probe().liveBlocks;
    state.counters["blocks_per_1000_copies"] = static_cast<double>(takenByCopies);
    state.counters["live_blocks_moved"] = static_cast<double>(liveAfter) - static_cast<double>(liveBefore);
    state.SetItemsProcessed(state.iterations());
    RValue_Free(&source);
}

BENCHMARK(BM_ValueCopyFree)->ArgName("real0_string1_array2")->Arg(kBenchReal)->Arg(kBenchString)->Arg(kBenchArray)
    ->Iterations(1000000)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
