// Reads and writes by id in a named-variable list of 10, 100 and 10,000 entries against a standard
// unordered map of the same entries. The list keeps its 64 buckets (the saved order depends on them), so
// large lists get long chains; small ones must stay within twice the map's time. Set and remove cycles
// must not allocate once the node pool is warm: the memory manager's live blocks are counted around them.
#include "core/memory_manager.h"
#include "core/varlist.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <unordered_map>

namespace {

constexpr int32_t kBenchFirstId = 100000;

void BenchVarList_Fill(CVariableList* list, int32_t entries)
{
    RValue v;
    for (int32_t i = 0; i < entries; ++i) {
        RValue_SetReal(&v, i);
        list->SetVar(kBenchFirstId + i, ARRAY_INDEX_NONE, &v);
    }
}

void BM_VarListGetVar(benchmark::State& state)
{
    const int32_t entries = int32_t(state.range(0));
    CVariableList list;
    BenchVarList_Fill(&list, entries);
    RValue out;
    RValue_SetUndefined(&out);
    int32_t i = 0;
    for (auto _ : state) {
        list.GetVar(kBenchFirstId + i, ARRAY_INDEX_NONE, &out);
        benchmark::DoNotOptimize(out);
        if (++i == entries) i = 0;
    }
}

void BM_UnorderedMapGet(benchmark::State& state)
{
    const int32_t entries = int32_t(state.range(0));
    std::unordered_map<int, RValue> map;
    for (int32_t i = 0; i < entries; ++i) RValue_SetReal(&map[kBenchFirstId + i], i);
    RValue out;
    RValue_SetUndefined(&out);
    int32_t i = 0;
    for (auto _ : state) {
        auto it = map.find(kBenchFirstId + i);
        if (it != map.end()) RValue_Copy(&out, &it->second);
        benchmark::DoNotOptimize(out);
        if (++i == entries) i = 0;
    }
}

void BM_VarListSetVar(benchmark::State& state)
{
    const int32_t entries = int32_t(state.range(0));
    CVariableList list;
    BenchVarList_Fill(&list, entries);
    RValue v;
    RValue_SetReal(&v, 1.5);
    int32_t i = 0;
    for (auto _ : state) {
        list.SetVar(kBenchFirstId + i, ARRAY_INDEX_NONE, &v);
        if (++i == entries) i = 0;
    }
    benchmark::DoNotOptimize(list.Count());
}

void BM_UnorderedMapSet(benchmark::State& state)
{
    const int32_t entries = int32_t(state.range(0));
    std::unordered_map<int, RValue> map;
    for (int32_t i = 0; i < entries; ++i) RValue_SetReal(&map[kBenchFirstId + i], i);
    RValue v;
    RValue_SetReal(&v, 1.5);
    int32_t i = 0;
    for (auto _ : state) {
        RValue_SetWithIndex(&map[kBenchFirstId + i], &v, ARRAY_INDEX_NONE);
        if (++i == entries) i = 0;
    }
    benchmark::DoNotOptimize(map.size());
}

// A new variable set and removed again: a node from the pool and back.
void BM_VarListSetRemove(benchmark::State& state)
{
    const int32_t entries = int32_t(state.range(0));
    CVariableList list;
    BenchVarList_Fill(&list, entries);
    RValue v;
    RValue_SetReal(&v, 1.5);
    const int32_t id = kBenchFirstId + entries;
    list.SetVar(id, ARRAY_INDEX_NONE, &v);  // warm-up: one node into the pool
    list.Remove(list.Find(id));
    const size_t liveBefore = MemoryManager_Probe().liveBlocks;
    int64_t cycles = 0;
    for (auto _ : state) {
        list.SetVar(id, ARRAY_INDEX_NONE, &v);
        list.Remove(list.Find(id));
        ++cycles;
    }
    const size_t liveAfter = MemoryManager_Probe().liveBlocks;
    state.counters["blocks_per_op"] = cycles ? double(int64_t(liveAfter) - int64_t(liveBefore)) / double(cycles) : 0;
    if (liveAfter != liveBefore) state.SkipWithError("set/remove cycles allocated");
}

void BM_UnorderedMapSetRemove(benchmark::State& state)
{
    const int32_t entries = int32_t(state.range(0));
    std::unordered_map<int, RValue> map;
    for (int32_t i = 0; i < entries; ++i) RValue_SetReal(&map[kBenchFirstId + i], i);
    RValue v;
    RValue_SetReal(&v, 1.5);
    const int id = kBenchFirstId + entries;
    for (auto _ : state) {
        RValue_SetWithIndex(&map[id], &v, ARRAY_INDEX_NONE);
        map.erase(id);
    }
}

}  // namespace

BENCHMARK(BM_VarListGetVar)->Arg(10)->Arg(100)->Arg(10000);
BENCHMARK(BM_UnorderedMapGet)->Arg(10)->Arg(100)->Arg(10000);
BENCHMARK(BM_VarListSetVar)->Arg(10)->Arg(100)->Arg(10000);
BENCHMARK(BM_UnorderedMapSet)->Arg(10)->Arg(100)->Arg(10000);
BENCHMARK(BM_VarListSetRemove)->Arg(10)->Arg(100)->Arg(10000);
BENCHMARK(BM_UnorderedMapSetRemove)->Arg(10)->Arg(100)->Arg(10000);
