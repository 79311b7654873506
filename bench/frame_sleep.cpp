// Frame pacing: 600 frames of 16,667 us against fixed deadlines, waited for with FrameSleep at sleep
// margins 0, 2 and 10 ms, and with an absolute kernel sleep to the same deadlines as the baseline.
// Counters: lateness past each deadline (p50, p99, max, microseconds) and the share of the wall time the
// waiting thread spent on a CPU (the margin is paid for with a spinning core).
#include "core/timing.h"
#include "world/command_line.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <vector>

namespace {

constexpr int kFrames = 600;
constexpr int64_t kFrameNs = 16667000;

int64_t BenchNs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

template <class Wait>
void RunScriptedFrames(benchmark::State& state, Wait waitUntil)
{
    std::vector<double> lateUs;
    lateUs.reserve(kFrames);
    int64_t cpuNs = 0, wallNs = 0;
    for (auto _ : state) {
        lateUs.clear();
        int64_t cpu0 = BenchNs(CLOCK_THREAD_CPUTIME_ID);
        int64_t t0 = BenchNs(CLOCK_MONOTONIC);
        for (int i = 1; i <= kFrames; ++i) {
            int64_t deadline = t0 + i * kFrameNs;
            waitUntil(deadline);
            lateUs.push_back(double(BenchNs(CLOCK_MONOTONIC) - deadline) / 1000.0);
        }
        wallNs = BenchNs(CLOCK_MONOTONIC) - t0;
        cpuNs = BenchNs(CLOCK_THREAD_CPUTIME_ID) - cpu0;
    }
    std::sort(lateUs.begin(), lateUs.end());
    state.counters["p50_us"] = lateUs[lateUs.size() / 2];
    state.counters["p99_us"] = lateUs[(lateUs.size() * 99 + 99) / 100 - 1];
    state.counters["max_us"] = lateUs.back();
    state.counters["cpu_share"] = double(cpuNs) / double(wallNs);
}

void BM_FrameSleep(benchmark::State& state)
{
    int32_t savedMargin = g_RunFlags.sleepMargin;
    g_RunFlags.sleepMargin = static_cast<int32_t>(state.range(0));
    Timing_Init();
    RunScriptedFrames(state, [](int64_t deadline) {
        // The main loop's way: the budget left to the deadline, in whole microseconds.
        FrameSleep((deadline - BenchNs(CLOCK_MONOTONIC)) / 1000);
    });
    g_RunFlags.sleepMargin = savedMargin;
}

void BM_AbsoluteNanosleep(benchmark::State& state)
{
    RunScriptedFrames(state, [](int64_t deadline) {
        timespec until{time_t(deadline / 1000000000), long(deadline % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
    });
}

}  // namespace

BENCHMARK(BM_AbsoluteNanosleep)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameSleep)->ArgName("margin_ms")->Arg(0)->Arg(2)->Arg(10)->Iterations(1)->UseRealTime()->Unit(
    benchmark::kMillisecond);
