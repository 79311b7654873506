// A room's active list and its upkeep.
// Depth insertion: 10,000 instances of one depth put into a room's active list with InstanceList_InsertByDepth,
// against std::list push_back of the same pointers. The scan starts at the tail, so equal depths insert at
// once; target within 2x of the std::list. A scan from the head would make this quadratic.
// Marked removal: RemoveMarkedInstances with 5,000 of 10,000 instances marked against 250 of 10,000, per
// removed instance, in collision tree mode, where the 5,000 pass replaces its tree updates with one rebuild
// (the tree_rebuilds counter: rebuilds per pass, seen through the seam trace). Target: a removed instance of
// the large pass costs within 1.5x of one of the small pass.
#include "core/seam_trace.h"
#include "layers/layers.h"
#include "world/instance.h"
#include "world/room.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <list>
#include <vector>

namespace {

constexpr int32_t kRoomsBenchInstances = 10000;

// Instances made once, outside any room; the benchmarks link and unlink them.
const std::vector<CInstance*>& RoomsBench_Loose()
{
    static std::vector<CInstance*>* loose = nullptr;
    if (loose) return *loose;
    loose = new std::vector<CInstance*>();
    for (int32_t i = 0; i < kRoomsBenchInstances; ++i) loose->push_back(new CInstance(float(i), 0.0f, i + 1, -1, false));
    return *loose;
}

void BM_InsertByDepthSameDepth(benchmark::State& state)
{
    const std::vector<CInstance*>& loose = RoomsBench_Loose();
    auto* room = new CRoom();
    for (auto _ : state) {
        for (CInstance* instance : loose) InstanceList_InsertByDepth(room, instance);
        benchmark::DoNotOptimize(room->active.tail);
        state.PauseTiming();
        if (room->active.count != kRoomsBenchInstances) state.SkipWithError("instances lost");
        for (CInstance* instance : loose) InstanceList_Unlink(instance);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRoomsBenchInstances);
    delete room;
}
BENCHMARK(BM_InsertByDepthSameDepth);

void BM_StdListPushBack(benchmark::State& state)
{
    const std::vector<CInstance*>& loose = RoomsBench_Loose();
    std::list<CInstance*> list;
    for (auto _ : state) {
        for (CInstance* instance : loose) list.push_back(instance);
        benchmark::DoNotOptimize(list.back());
        state.PauseTiming();
        list.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRoomsBenchInstances);
}
BENCHMARK(BM_StdListPushBack);

// A room of 10,000 instances, every stride-th of them marked and counted, as the destroy command leaves them.
int32_t RoomsBench_FillMarked(CRoom* room, int32_t removed)
{
    g_InstanceIdCounter = 0;
    const int32_t stride = kRoomsBenchInstances / removed;
    int32_t marked = 0;
    for (int32_t i = 0; i < kRoomsBenchInstances; ++i) {
        CInstance* instance = room->AddInstance(float(i % 640), float(i / 640), -1);
        if (i % stride == 0 && marked < removed) {
            instance->markedForDeletion = true;
            ++marked;
        }
    }
    Room_MarkedCount = marked;
    return marked;
}

void BM_RemoveMarkedInstances(benchmark::State& state)
{
    const auto removed = int32_t(state.range(0));
    const bool treeMode = CollisionTreeMode;
    CollisionTreeMode = true;
    auto* room = new CRoom();

    // One pass with the seam trace on, outside the timing (the trace costs more than a removal).
    RoomsBench_FillMarked(room, removed);
    SeamTrace_Clear();
    SeamTrace_Enable(true);
    room->RemoveMarkedInstances();
    SeamTrace_Enable(false);
    const auto& calls = SeamTrace_Calls();
    const auto rebuilds = std::count(calls.begin(), calls.end(), "Collision_RebuildTree");
    SeamTrace_Clear();
    if (room->active.count != kRoomsBenchInstances - removed) state.SkipWithError("wrong instances removed");
    room->DeleteActiveInstances();

    // Each pass times the removal alone on a freshly filled room (a room refilled in place would hold its
    // instances out of allocation order and time the cache instead). The refill costs some forty times the
    // small removal, so the pass is timed by hand, without pausing the timer twice a pass, and the run
    // stops at 50 ms of removals rather than 0.5 s.
    for (auto _ : state) {
        RoomsBench_FillMarked(room, removed);
        const auto begin = std::chrono::steady_clock::now();
        room->RemoveMarkedInstances();
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
        if (room->active.count != kRoomsBenchInstances - removed) {
            state.SkipWithError("wrong instances removed");
            break;
        }
        room->DeleteActiveInstances();
    }
    room->DeleteActiveInstances();
    state.SetItemsProcessed(state.iterations() * removed);
    state.counters["tree_rebuilds"] = double(rebuilds);
    delete room;
    CollisionTreeMode = treeMode;
}
BENCHMARK(BM_RemoveMarkedInstances)->Arg(5000)->Arg(250)->UseManualTime()->MinTime(0.05)->Unit(
    benchmark::kMicrosecond);

}  // namespace
