// CHashMap lookups against the standard library doing the same work in the same run:
//   FindSlot (and the value) of 100,000 present random ids    <= 1.0x std::unordered_map<int32_t, void*>::find
//   the same for absent ids                                   reported
// Both maps hold the same ids and are probed in the same shuffled order.
#include "draw/camera.h"
#include "core/hashmap.h"
#include "core/memory_manager.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

namespace {

constexpr int32_t kHashBenchIds = 100000;

struct HashBenchData {
    std::vector<int32_t> ids;     // present, in probe order
    std::vector<int32_t> absent;  // never inserted
    CHashMap<void*>* map = nullptr;
    std::unordered_map<int32_t, void*> plain;

    HashBenchData()
    {
        std::mt19937 random(29);
        std::uniform_int_distribution<int32_t> any(0, INT32_MAX - 1);
        std::unordered_map<int32_t, bool> seen;
        while (int32_t(ids.size()) < kHashBenchIds) {
            const int32_t id = any(random);
            if (seen.emplace(id, true).second) ids.push_back(id);
        }
        while (int32_t(absent.size()) < kHashBenchIds) {
            const int32_t id = any(random);
            if (seen.emplace(id, false).second) absent.push_back(id);
        }
        map = new CHashMap<void*>(128);
        plain.reserve(ids.size());
        for (int32_t id : ids) {
            void* v = reinterpret_cast<void*>(intptr_t(id) * 16);
            map->Insert(id, v);
            plain.emplace(id, v);
        }
        std::shuffle(ids.begin(), ids.end(), random);
    }
};

HashBenchData& HashBench_Data()
{
    static HashBenchData data;
    return data;
}

void BM_CHashMapFindSlot(benchmark::State& state)
{
    HashBenchData& d = HashBench_Data();
    const std::vector<int32_t>& keys = state.range(0) ? d.ids : d.absent;
    for (auto _ : state) {
        uintptr_t sum = 0;
        for (int32_t id : keys) {
            const int32_t s = d.map->FindSlot(id);
            if (s >= 0) sum += reinterpret_cast<uintptr_t>(d.map->At(s).value);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(keys.size()));
}
BENCHMARK(BM_CHashMapFindSlot)->Arg(1)->Arg(0);

void BM_UnorderedMapFind(benchmark::State& state)
{
    HashBenchData& d = HashBench_Data();
    const std::vector<int32_t>& keys = state.range(0) ? d.ids : d.absent;
    for (auto _ : state) {
        uintptr_t sum = 0;
        for (int32_t id : keys) {
            auto it = d.plain.find(id);
            if (it != d.plain.end()) sum += reinterpret_cast<uintptr_t>(it->second);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(keys.size()));
}
BENCHMARK(BM_UnorderedMapFind)->Arg(1)->Arg(0);

// CCameraManager::FindIndex as the views and the camera built-ins use it, the same camera again and again, over
// tables of 10 to 10,000 cameras: the last-found cache keeps it flat.
void BM_CameraFindIndex(benchmark::State& state)
{
    CCameraManager::Reset();
    for (int64_t i = 0; i < state.range(0); ++i) CCameraManager::CreateCamera();
    const int32_t id = int32_t(state.range(0) / 2);
    for (auto _ : state) benchmark::DoNotOptimize(CCameraManager::FindIndex(id));
    CCameraManager::Reset();
}
BENCHMARK(BM_CameraFindIndex)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000);

}  // namespace
