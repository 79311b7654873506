// Event dispatch: PerformEvent into an empty native handler found at parent depth 0, 3 and 10, against
// CEvent::Execute of the same handler called directly; a counter reports the memory-manager blocks a run
// leaves behind (target: none). And the walk over an object's descendant list (three children holding
// 10,000 of 100,000 instances) against a std::vector of the same pointers.
#include "core/code.h"
#include "core/memory_manager.h"
#include "game/game_link.h"
#include "world/command_line.h"
#include "world/events.h"
#include "world/instance.h"
#include "world/object.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int32_t kDispatchChain = 11;  // object k's parent is k - 1; object 0 holds the step handler
int g_dispatchBenchCalls = 0;

void DispatchBench_Empty(CInstance*, CInstance*) { ++g_dispatchBenchCalls; }

const GameLinkCode kDispatchBenchEntry = {"bench_step", reinterpret_cast<void (*)()>(&DispatchBench_Empty)};
const char kDispatchBenchMarker[] = "";

// The chain of objects, once per process.
CEvent* DispatchBench_Setup()
{
    static CEvent* handler = nullptr;
    if (handler) return handler;
    g_RunFlags.codeExecution = true;
    Object_Init();
    for (int32_t k = 0; k < kDispatchChain; ++k) {
        const int32_t index = Object_Add();
        Object_Data(index)->SetParent(k - 1);
    }
    handler = new CEvent();
    handler->code = new CCode(-1, false);
    handler->code->kind = CODE_KIND_CODE;
    handler->code->nativeEntry = &kDispatchBenchEntry;
    handler->marker = kDispatchBenchMarker;
    CObjectEventTable& step = Object_Data(0)->events[EVENT_STEP];
    step.items = static_cast<CEvent**>(MemAlloc(sizeof(CEvent*)));
    step.items[0] = handler;
    step.count = 1;
    return handler;
}

void BM_PerformEvent(benchmark::State& state)
{
    DispatchBench_Setup();
    const auto depth = int32_t(state.range(0));
    CInstance self(0, 0, 1, depth, false);
    for (int i = 0; i < 1000; ++i) PerformEvent(&self, &self, depth, EVENT_STEP, 0);
    const size_t before = MemoryManager_Probe().liveBlocks;
    for (auto _ : state) PerformEvent(&self, &self, depth, EVENT_STEP, 0);
    state.counters["blocks_left"] = double(MemoryManager_Probe().liveBlocks - before);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PerformEvent)->Arg(0)->Arg(3)->Arg(10)->Iterations(1000000);

void BM_EventExecuteDirect(benchmark::State& state)
{
    CEvent* handler = DispatchBench_Setup();
    CInstance self(0, 0, 1, 0, false);
    for (auto _ : state) handler->Execute(&self, &self);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventExecuteDirect)->Iterations(1000000);

// ---- Descendant lists ----

struct DescendantBenchWorld {
    int32_t parent = -1;
    std::vector<CInstance*> all;
    std::vector<CInstance*> children;
};

DescendantBenchWorld& DescendantBench_World()
{
    static DescendantBenchWorld* world = nullptr;
    if (world) return *world;
    DispatchBench_Setup();
    world = new DescendantBenchWorld();
    world->parent = Object_Add();
    int32_t kids[3];
    for (int32_t& k : kids) {
        k = Object_Add();
        Object_Data(k)->SetParent(world->parent);
    }
    const int32_t others = Object_Add();
    // Every tenth instance belongs to a child, so their nodes lie among the others' as they would in a room.
    for (int32_t i = 0; i < 100000; ++i) {
        const bool child = i % 10 == 0;
        auto* inst = new CInstance(float(i), 0, i + 1, child ? kids[(i / 10) % 3] : others, true);
        world->all.push_back(inst);
        if (child) world->children.push_back(inst);
    }
    return *world;
}

void BM_DescendantListWalk(benchmark::State& state)
{
    DescendantBenchWorld& w = DescendantBench_World();
    const SLinkedList<CInstance*>& list = Object_Data(w.parent)->instancesRecursive;
    for (auto _ : state) {
        float sum = 0;
        for (SLinkedListNode<CInstance*>* n = list.head; n; n = n->next) sum += n->value->x;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * list.count);
}
BENCHMARK(BM_DescendantListWalk);

void BM_VectorWalk(benchmark::State& state)
{
    DescendantBenchWorld& w = DescendantBench_World();
    for (auto _ : state) {
        float sum = 0;
        for (CInstance* i : w.children) sum += i->x;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(w.children.size()));
}
BENCHMARK(BM_VectorWalk);

}  // namespace
