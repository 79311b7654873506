// One collection over 10^5 reachable objects (chains and a tree) and 10^5 garbage objects, against one pass
// over the object table that reads every live object's slots (the least any mark phase must do). A counted
// pass after the timed ones reports the system allocations one collection makes (target: its mark array).
#include "core/gc.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "world/loader.h"
#include "world/object_base.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

namespace {

constexpr int32_t kGcBenchReachable = 100000;
constexpr int32_t kGcBenchGarbage = 100000;
constexpr int32_t kGcBenchChains = 100;  // half the reachable objects, in chains of 500
constexpr int32_t kGcBenchSlots = 4;

void GcBench_Refer(QZObjectBase* holder, int32_t n, QZObjectBase* target)
{
    RValue* slot = ObjectBase_GetSlot(holder, n);
    slot->obj = target;
    slot->flags = 0;
    slot->kind = VALUE_OBJECT;
}

QZObjectBase* GcBench_New()
{
    QZObjectBase* o = ObjectBase_Alloc(kGcBenchSlots, VALUE_UNSET, true);
    RValue_SetReal(ObjectBase_GetSlot(o, kGcBenchSlots - 1), 1.0);
    return o;
}

// The live set: the global object holds the chain heads and the root of a binary tree.
void GcBench_BuildReachable()
{
    if (g_GlobalObject) return;
    g_GlobalObject = ObjectBase_Alloc(kGcBenchChains + 1, VALUE_UNSET, true);
    const int32_t perChain = kGcBenchReachable / 2 / kGcBenchChains;
    for (int32_t c = 0; c < kGcBenchChains; ++c) {
        QZObjectBase* previous = g_GlobalObject;
        int32_t slot = c;
        for (int32_t i = 0; i < perChain; ++i) {
            QZObjectBase* o = GcBench_New();
            GcBench_Refer(previous, slot, o);
            previous = o;
            slot = 0;
        }
    }
    std::vector<QZObjectBase*> tree;
    for (int32_t i = 0; i < kGcBenchReachable / 2; ++i) {
        QZObjectBase* o = GcBench_New();
        if (i == 0) GcBench_Refer(g_GlobalObject, kGcBenchChains, o);
        else GcBench_Refer(tree[size_t((i - 1) / 2)], 1 + (i - 1) % 2, o);
        tree.push_back(o);
    }
}

// Garbage: pairs that refer to each other.
void GcBench_MakeGarbage()
{
    for (int32_t i = 0; i < kGcBenchGarbage; i += 2) {
        QZObjectBase* a = GcBench_New();
        QZObjectBase* b = GcBench_New();
        GcBench_Refer(a, 0, b);
        GcBench_Refer(b, 0, a);
    }
}

void GcBench_Setup()
{
    // Objects with slot arrays only (no named-variable lists), as instance-variable objects are.
    g_GameData.scriptObjectModel = false;
    GcBench_BuildReachable();
    g_GameData.scriptObjectModel = true;
}

void BM_GarbageCollect(benchmark::State& state)
{
    GcBench_Setup();
    GcBench_MakeGarbage();
    VM_GarbageCollect();  // warm-up: the work list reaches its size, the pool fills
    for (auto _ : state) {
        state.PauseTiming();
        g_GameData.scriptObjectModel = false;
        GcBench_MakeGarbage();
        g_GameData.scriptObjectModel = true;
        state.ResumeTiming();
        VM_GarbageCollect();
    }
    state.counters["freed"] = GC_LastStats().freed;
    state.counters["reached"] = GC_LastStats().reached;
}

// The same population; one pass reading every live object's slots.
void BM_ObjectTablePass(benchmark::State& state)
{
    GcBench_Setup();
    g_GameData.scriptObjectModel = false;
    GcBench_MakeGarbage();
    g_GameData.scriptObjectModel = true;
    for (auto _ : state) {
        uint64_t sum = 0;
        for (int32_t i = 0; i < ObjectTable.capacity; ++i) {
            const QZObjectBase* o = ObjectTable.items[i];
            if (!o || !o->slots) continue;
            for (int32_t n = 0; n < o->slotCount; ++n) sum += o->slots[n].kind + uint64_t(o->slots[n].v64);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["live"] = ObjectTable.count;
    VM_GarbageCollect();  // the garbage goes before the next benchmark
}

size_t g_gcBenchMallocs = 0;
void* GcBench_Malloc(size_t size)
{
    ++g_gcBenchMallocs;
    return std::malloc(size);
}

// System allocations of one collection after warm-up.
void BM_GarbageCollectAllocations(benchmark::State& state)
{
    GcBench_Setup();
    double total = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        g_GameData.scriptObjectModel = false;
        GcBench_MakeGarbage();
        g_GameData.scriptObjectModel = true;
        g_gcBenchMallocs = 0;
        MemoryManagerTestHooks hooks{GcBench_Malloc, nullptr, nullptr, nullptr};
        MemoryManager_SetTestHooks(&hooks);
        state.ResumeTiming();
        VM_GarbageCollect();
        state.PauseTiming();
        MemoryManager_SetTestHooks(nullptr);
        total += double(g_gcBenchMallocs);
        ++runs;
        state.ResumeTiming();
    }
    state.counters["allocs_per_collection"] = runs ? total / double(runs) : 0;
}

}  // namespace

BENCHMARK(BM_GarbageCollect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjectTablePass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GarbageCollectAllocations)->Unit(benchmark::kMillisecond)->Iterations(20);
