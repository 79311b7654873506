// The memory manager against the system heap: alloc + free pairs per size class, a free with few or
// many pages live, eight threads on the one lock, and the cost of the block log.
//
// The block log is read from the command line when the process starts, so the log-on figures come from
// a second run of this program with "-memlog <file>" that this one starts after its own benchmarks.
#include "core/memory_manager.h"
#include "core/thread.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const int64_t kBenchSizes[] = {8, 16, 32, 64, 128, 129, 4096};

void BM_MemoryManagerPair(benchmark::State& state)
{
    const auto size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void* p = MemAlloc(size);
        benchmark::DoNotOptimize(p);
        MemFree(p);
    }
}

void BM_MallocPair(benchmark::State& state)
{
    const auto size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void* p = std::malloc(size);
        benchmark::DoNotOptimize(p);
        std::free(p);
    }
}

void SizeArgs(benchmark::internal::Benchmark* b)
{
    for (int64_t size : kBenchSizes) b->Arg(size);
}

BENCHMARK(BM_MemoryManagerPair)->Apply(SizeArgs);
BENCHMARK(BM_MallocPair)->Apply(SizeArgs);

// A free finds its page by address: with 1 or with 100 pages of 8-byte blocks live, freeing a
// 128-byte block should cost the same. The pages stay live for the later rows.
void BM_FreeBehindPages(benchmark::State& state)
{
    static std::vector<void*>* held = new std::vector<void*>;
    const auto pages = static_cast<size_t>(state.range(0));
    if (MemoryManager_Probe().poolPages[0] > pages) {
        state.SkipWithError("more pages live than asked for");
        return;
    }
    while (MemoryManager_Probe().poolPages[0] < pages) held->push_back(MemAlloc(8));
    for (auto _ : state) {
        void* p = MemAlloc(128);
        benchmark::DoNotOptimize(p);
        MemFree(p);
    }
    state.counters["pages8"] = static_cast<double>(MemoryManager_Probe().poolPages[0]);
}
BENCHMARK(BM_FreeBehindPages)->Arg(1)->Arg(100);

// Eight threads on the one lock, against the system heap's per-thread caches.
BENCHMARK(BM_MemoryManagerPair)->Arg(32)->Arg(4096)->Threads(8)->UseRealTime();
BENCHMARK(BM_MallocPair)->Arg(32)->Arg(4096)->Threads(8)->UseRealTime();

// Only registered in the run with the log on (as the main thread, so records carry a context).
void BM_MemoryManagerPairLogOn(benchmark::State& state)
{
    Thread_SetMainThreadMark(true);
    MemoryManager::PushContext("bench");
    const auto size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void* p = MemAlloc(size);
        benchmark::DoNotOptimize(p);
        MemFree(p);
    }
    MemoryManager::PopContext();
}

}  // namespace

int main(int argc, char** argv)
{
    // "-memlog <file>" is the manager's; the benchmark library must not see it.
    bool logOn = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-memlog") == 0 && i + 1 < argc) {
            logOn = true;
            ++i;
            continue;
        }
        argv[kept++] = argv[i];
    }
    argc = kept;
    if (logOn) {
        benchmark::ClearRegisteredBenchmarks();
        // A fixed count keeps the log file to a few hundred megabytes.
        benchmark::RegisterBenchmark("BM_MemoryManagerPairLogOn", BM_MemoryManagerPairLogOn)
            ->Apply(SizeArgs)
            ->Iterations(500000);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (logOn) return 0;

    char logPath[] = "/tmp/bench_memory_XXXXXX";
    int fd = mkstemp(logPath);
    if (fd < 0) return 1;
    close(fd);
    std::fflush(nullptr);
    const std::string child = std::string("'") + argv[0] + "' -memlog " + logPath;
    int status = std::system(child.c_str());
    unlink(logPath);
    return status == 0 ? 0 : 1;
}
