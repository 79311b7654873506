// Script objects with 8 sparse slots made and released in a loop (pooled records, pooled cells) against
// new/delete of a plain record of the same size. After the timed loop, a counted pass reports how many
// memory-manager blocks one cycle takes while the object is alive (target: none after warm-up).
#include "core/memory_manager.h"
#include "core/value.h"
#include "world/object_base.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int32_t kBenchSparseSlots = 8;

void ObjectBaseBench_Cycle()
{
    QZObjectBase* o = ObjectBase_Alloc(0, VALUE_UNSET, false);
    for (int32_t n = 0; n < kBenchSparseSlots; ++n) RValue_SetReal(ObjectBase_GetSlot(o, n * 3), double(n));
    benchmark::DoNotOptimize(o);
    ObjectBase_Free(o);
}

void BM_ObjectBaseAllocFree(benchmark::State& state)
{
    for (int i = 0; i < 1000; ++i) ObjectBaseBench_Cycle();  // warm-up: pool, map and cell chunk
    for (auto _ : state) ObjectBaseBench_Cycle();
    state.SetItemsProcessed(state.iterations());

    double taken = 0;
    const int kCounted = 1000;
    for (int i = 0; i < kCounted; ++i) {
        const size_t before = MemoryManager_Probe().liveBlocks;
        QZObjectBase* o = ObjectBase_Alloc(0, VALUE_UNSET, false);
        for (int32_t n = 0; n < kBenchSparseSlots; ++n) RValue_SetReal(ObjectBase_GetSlot(o, n * 3), double(n));
        taken += double(MemoryManager_Probe().liveBlocks - before);
        ObjectBase_Free(o);
    }
    state.counters["blocks_per_cycle"] = taken / kCounted;
}

// The cycle alone: an object of 8 slots kept sparse, made and released without touching a slot.
void BM_ObjectBaseAllocFreeUntouched(benchmark::State& state)
{
    for (int i = 0; i < 1000; ++i) ObjectBase_Free(ObjectBase_Alloc(kBenchSparseSlots, VALUE_UNSET, false));
    for (auto _ : state) {
        QZObjectBase* o = ObjectBase_Alloc(kBenchSparseSlots, VALUE_UNSET, false);
        benchmark::DoNotOptimize(o);
        ObjectBase_Free(o);
    }
    state.SetItemsProcessed(state.iterations());
}

struct ObjectBaseBenchRecord {
    unsigned char bytes[sizeof(QZObjectBase)];
};

void BM_NewDeleteSameSize(benchmark::State& state)
{
    for (auto _ : state) {
        auto* r = new ObjectBaseBenchRecord;
        benchmark::DoNotOptimize(r);
        r->bytes[0] = 1;
        benchmark::ClobberMemory();
        delete r;
    }
    state.SetItemsProcessed(state.iterations());
}

// The same record with its 8 values each in a block of its own: what sparse slots would cost without the
// pools.
void BM_NewDeleteSameSizeWithEightValues(benchmark::State& state)
{
    for (auto _ : state) {
        auto* r = new ObjectBaseBenchRecord;
        RValue* values[kBenchSparseSlots];
        for (int32_t n = 0; n < kBenchSparseSlots; ++n) {
            values[n] = new RValue;
            RValue_SetReal(values[n], double(n));
        }
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(values);
        benchmark::ClobberMemory();
        for (RValue* v : values) delete v;
        delete r;
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_ObjectBaseAllocFree)->Iterations(1000000);
BENCHMARK(BM_ObjectBaseAllocFreeUntouched)->Iterations(1000000);
BENCHMARK(BM_NewDeleteSameSize)->Iterations(1000000);
BENCHMARK(BM_NewDeleteSameSizeWithEightValues)->Iterations(1000000);
