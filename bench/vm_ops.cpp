// The interpreter's operations in a loop: summing 1 ... 10^6 in two ".v" locals (set, bf, add, pop, b per
// iteration) through VM_Exec, against the same loop in C++ over values with the compiled-code operators and
// RValue_Compare. Counters: the sum (both must give 500000500000), the memory manager's live blocks left
// after a run, and the system-heap requests per run (the stack block and the locals; none per iteration).
#include "core/code.h"
#include "core/functions.h"
#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "ds/ds.h"
#include "world/object_base.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

namespace {

// Assembled from:
//     .locals i sum
//         push.e 0 / conv.i.v / pop.v.v local.sum / push.e 1 / conv.i.v / pop.v.v local.i
//     loop:
//         pushl.v local.i / push.i 1000000 / set.i.v le / bf end
//         pushl.v local.sum / pushl.v local.i / add.v.v / pop.v.v local.sum
//         pushl.v local.i / push.e 1 / add.i.v / pop.v.v local.i
//         b loop
//     end:
//         pushl.v local.sum / ret.v
const uint32_t kBenchVmOpsLoop[] = {
    0xC00F0000, 0x07520000, 0x4555FFF9, 0xA00186A1, 0xC00F0001, 0x07520000, 0x4555FFF9, 0xA00186A0,
    0xC105FFF9, 0xA00186A0, 0xC0020000, 0x000F4240, 0x15520200, 0xB800000F, 0xC105FFF9, 0xA00186A1,
    0xC105FFF9, 0xA00186A0, 0x0C550000, 0x4555FFF9, 0xA00186A1, 0xC105FFF9, 0xA00186A0, 0xC00F0001,
    0x0C520000, 0x4555FFF9, 0xA00186A0, 0xB67FFFED, 0xC105FFF9, 0xA00186A1, 0x9C050000,
};

int64_t g_benchVmOpsSystemCalls = 0;

void* BenchVmOps_Malloc(size_t size)
{
    ++g_benchVmOpsSystemCalls;
    return std::malloc(size);
}

void BM_VmOpsLoopInterpreted(benchmark::State& state)
{
    uint8_t bytes[sizeof kBenchVmOpsLoop];
    std::memcpy(bytes, kBenchVmOpsLoop, sizeof bytes);
    CCode* code = new CCode(-1, false);
    code->code = new VMBuffer(int32_t(sizeof bytes), bytes, false);
    code->name = "ksl_loop";
    code->localCount = 2;
    if (!code->code->Prepare()) {
        state.SkipWithError("the loop does not prepare");
        delete code;
        return;
    }
    // One warm run grows the object table and the pools, so that the counted runs show only their own.
    RValue result;
    RValue_SetUndefined(&result);
    VM_Exec(code, nullptr, nullptr, &result, nullptr, 0, nullptr, nullptr);
    ObjectBasePool_Clear();

    MemoryManagerTestHooks hooks{};
    hooks.systemMalloc = BenchVmOps_Malloc;
    MemoryManagerTestHooks old = MemoryManager_SetTestHooks(&hooks);
    g_benchVmOpsSystemCalls = 0;
    const size_t live = MemoryManager_Probe().liveBlocks;
    int64_t runs = 0;
    for (auto _ : state) {
        VM_Exec(code, nullptr, nullptr, &result, nullptr, 0, nullptr, nullptr);
        benchmark::DoNotOptimize(result);
        ++runs;
    }
    ObjectBasePool_Clear();
    MemoryManager_SetTestHooks(&old);
    state.counters["sum"] = result.real;
    state.counters["blocks_left"] = double(int64_t(MemoryManager_Probe().liveBlocks) - int64_t(live));
    state.counters["system_allocs_per_run"] = runs ? double(g_benchVmOpsSystemCalls) / double(runs) : 0.0;
    state.SetItemsProcessed(runs * 1000000);
    RValue_Free(&result);
    delete code;
}
BENCHMARK(BM_VmOpsLoopInterpreted)->Unit(benchmark::kMillisecond);

void BM_VmOpsLoopNative(benchmark::State& state)
{
    RValue limit, sum, i;
    RValue_SetReal(&limit, 1000000);
    const size_t live = MemoryManager_Probe().liveBlocks;
    for (auto _ : state) {
        RValue_SetReal(&sum, 0);
        RValue_SetReal(&i, 1);
        while (RValue_Compare(i, limit, Math_Epsilon) <= 0) {
            RValue next;
            RValue_AddInt(&next, &sum, RValue_ToInt32(&i));
            RValue_Free(&sum);
            sum = next;
            RValue old;
            RValue_PostIncrement(&i, &old);
            RValue_Free(&old);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["sum"] = sum.real;
    state.counters["blocks_left"] = double(int64_t(MemoryManager_Probe().liveBlocks) - int64_t(live));
    state.SetItemsProcessed(int64_t(state.iterations()) * 1000000);
}
BENCHMARK(BM_VmOpsLoopNative)->Unit(benchmark::kMillisecond);

}  // namespace
