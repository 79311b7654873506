#include "core/timing.h"

#include "core/memory_manager.h"
#include "platform/messages.h"
#include "world/command_line.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int64_t kFrameSleepCap = 3000000;  // microseconds
// Naps in the margin: a kernel wake-up comes up to ~0.2 ms after the time asked for, so the nap stops
// that much before the end; the window is pumped at least every millisecond; naps too short to save
// anything are not taken.
constexpr int64_t kMarginWakeAllowanceNs = 200000;
constexpr int64_t kMarginNapMaxNs = 1000000;
constexpr int64_t kMarginNapMinNs = 50000;

std::atomic<int64_t> g_timingStart{0};

TimingHooks g_timingHooks{clock_gettime, clock_nanosleep, ProcessMessages};

// Nanoseconds of the monotonic clock: 64 bits last 292 years of uptime, and no tick count is scaled.
int64_t TimingMonotonicNanoseconds()
{
    timespec now{};
    g_timingHooks.clockGetTime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void TimingKernelWait(int64_t milliseconds)
{
    timespec wait{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    // A signal cuts the wait short; what is left is waited again.
    while (g_timingHooks.clockNanosleep(CLOCK_MONOTONIC, 0, &wait, &wait) == EINTR) {
    }
}

}  // namespace

void Timing_Init() { g_timingStart.store(TimingMonotonicNanoseconds() / 1000, std::memory_order_relaxed); }

int64_t Timing_Time() { return TimingMonotonicNanoseconds() / 1000 - g_timingStart.load(std::memory_order_relaxed); }

int64_t Timing_StartCount() { return g_timingStart.load(std::memory_order_relaxed); }

void FrameSleep(int64_t microseconds)
{
    if (microseconds <= 0) return;
    if (microseconds >= kFrameSleepCap) microseconds = kFrameSleepCap;
    // Timed in nanoseconds: a start rounded down to the microsecond would end the wait up to 1 us early.
    int64_t start = TimingMonotonicNanoseconds();
    int64_t end = start + microseconds * 1000;

    int64_t margin = g_RunFlags.sleepMargin < 0 ? 0 : g_RunFlags.sleepMargin;
    int64_t milliseconds = (microseconds - margin * 1000) / 1000;
    if (milliseconds > 0) TimingKernelWait(milliseconds);

    // The margin is waited out pumping messages between short naps: a busy poll would burn a core for
    // the whole margin. Each nap ends early enough that a late wake-up still lands before the end; the
    // last stretch, shorter than a wake-up's lateness, is polled.
    for (;;) {
        g_timingHooks.processMessages();
        int64_t now = TimingMonotonicNanoseconds();
        if (now < start || now >= end) return;  // before the start: the clock went back
        int64_t nap = std::min(end - now - kMarginWakeAllowanceNs, kMarginNapMaxNs);
        if (nap < kMarginNapMinNs) continue;
        timespec wait{static_cast<time_t>(nap / 1000000000), static_cast<long>(nap % 1000000000)};
        // A signal only shortens the nap: the clock is read again either way.
        timespec left{};
        g_timingHooks.clockNanosleep(CLOCK_MONOTONIC, 0, &wait, &left);
    }
}

char* GetEnvUTF8(const char* name)
{
    if (!name || !*name || std::strchr(name, '=')) return nullptr;
    const char* value = std::getenv(name);
    if (!value) return nullptr;
    size_t length = std::strlen(value);
    auto* copy = static_cast<char*>(MemoryManager::Alloc(length + 1, __FILE__, __LINE__, true));
    if (copy) std::memcpy(copy, value, length);
    return copy;
}

void Timing_SetHooks(const TimingHooks* hooks)
{
    TimingHooks chosen = hooks ? *hooks : TimingHooks{};
    g_timingHooks.clockGetTime = chosen.clockGetTime ? chosen.clockGetTime : clock_gettime;
    g_timingHooks.clockNanosleep = chosen.clockNanosleep ? chosen.clockNanosleep : clock_nanosleep;
    g_timingHooks.processMessages = chosen.processMessages ? chosen.processMessages : ProcessMessages;
}
