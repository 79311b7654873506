// The text form of a 1000 x 100 array of reals against snprintf("%.2f") of the same numbers appended to one
// std::string.
#include "core/memory_manager.h"
#include "core/value.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

constexpr int32_t kTextRows = 1000, kTextColumns = 100;

double BenchText_Number(int32_t row, int32_t column) { return (row * kTextColumns + column) * 0.37 - 5000.0; }

void BM_ValueTextForm(benchmark::State& state)
{
    RValue array;
    RValue_SetUndefined(&array);
    RValue item;
    for (int32_t r = 0; r < kTextRows; ++r)
        for (int32_t c = 0; c < kTextColumns; ++c) {
            RValue_SetReal(&item, BenchText_Number(r, c));
            RValue_SetWithIndex(&array, &item, r * ARRAY_INDEX_STRIDE + c);
        }
    size_t bytes = 0;
    for (auto _ : state) {
        char* start = nullptr;
        char* pos = nullptr;
        size_t capacity = 0;
        RValue_AppendText(&pos, &start, &capacity, &array);
        bytes = size_t(pos - start);
        benchmark::DoNotOptimize(start);
        MemFree(start);
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    state.SetItemsProcessed(state.iterations() * kTextRows * kTextColumns);
    RValue_Free(&array);
}

void BM_SnprintfToString(benchmark::State& state)
{
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text;
        char buffer[64];
        for (int32_t r = 0; r < kTextRows; ++r)
            for (int32_t c = 0; c < kTextColumns; ++c) {
                int n = std::snprintf(buffer, sizeof buffer, "%.2f", BenchText_Number(r, c));
                text.append(buffer, size_t(n));
            }
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    state.SetItemsProcessed(state.iterations() * kTextRows * kTextColumns);
}

BENCHMARK(BM_ValueTextForm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnprintfToString)->Unit(benchmark::kMillisecond);

}  // namespace
