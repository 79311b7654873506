// The microsecond clock and the frame sleep, mostly on a scripted clock: the kernel sleep advances it by
// what was asked, every message pump by a fixed step.
#include "core/timing.h"
#include "input/input.h"
#include "world/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace {

struct ScriptedClock {
    int64_t nowNs = 0;
    int64_t pumpStepNs = 250000;
    std::vector<int64_t> sleepRequestsNs;
    std::vector<int64_t> sleepAskedAtNs;  // the clock when each kernel sleep was asked for
    std::vector<char> events;      // 's' kernel sleep, 'p' pump, in order
    int interruptions = 0;         // the next kernel sleeps that a signal cuts short halfway
    int pumps = 0;
    int rewindAtPump = -1;         // this pump sets the clock back
    int64_t rewindToNs = 0;
};
ScriptedClock* g_scripted = nullptr;

int64_t ScriptedToNs(const timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }
timespec ScriptedFromNs(int64_t ns) { return timespec{time_t(ns / 1000000000), long(ns % 1000000000)}; }

int ScriptedGetTime(clockid_t clock, timespec* now)
{
    EXPECT_EQ(clock, CLOCK_MONOTONIC);
    *now = ScriptedFromNs(g_scripted->nowNs);
    return 0;
}

int ScriptedNanosleep(clockid_t clock, int flags, const timespec* wait, timespec* remaining)
{
    EXPECT_EQ(clock, CLOCK_MONOTONIC);
    EXPECT_EQ(flags, 0);
    int64_t ns = ScriptedToNs(*wait);
    g_scripted->sleepRequestsNs.push_back(ns);
    g_scripted->sleepAskedAtNs.push_back(g_scripted->nowNs);
    g_scripted->events.push_back('s');
    if (g_scripted->interruptions > 0) {
        --g_scripted->interruptions;
        g_scripted->nowNs += ns / 2;
        *remaining = ScriptedFromNs(ns - ns / 2);
        return EINTR;
    }
    g_scripted->nowNs += ns;
    return 0;
}

void ScriptedPump()
{
    g_scripted->events.push_back('p');
    if (g_scripted->pumps++ == g_scripted->rewindAtPump)
        g_scripted->nowNs = g_scripted->rewindToNs;
    else
        g_scripted->nowNs += g_scripted->pumpStepNs;
}

// The kernel sleeps asked for before the first message pump: the wait for all but the margin.
std::vector<int64_t> ScriptedKernelWaits(const ScriptedClock& clock)
{
    size_t firstPump = std::find(clock.events.begin(), clock.events.end(), 'p') - clock.events.begin();
    return std::vector<int64_t>(clock.sleepRequestsNs.begin(),
                                clock.sleepRequestsNs.begin() + std::min(firstPump, clock.sleepRequestsNs.size()));
}

class ClockTest : public testing::Test {
protected:
    void SetUp() override
    {
        savedMargin_ = g_RunFlags.sleepMargin;
        clock_.nowNs = int64_t(86400) * 1000000000 + 123456789;  // a day of uptime, odd nanoseconds
        g_scripted = &clock_;
        TimingHooks hooks{ScriptedGetTime, ScriptedNanosleep, ScriptedPump};
        Timing_SetHooks(&hooks);
        Timing_Init();
    }
    void TearDown() override
    {
        Timing_SetHooks(nullptr);
        Timing_Init();
        g_scripted = nullptr;
        g_RunFlags.sleepMargin = savedMargin_;
    }
    ScriptedClock clock_;
    int32_t savedMargin_ = 0;
};

TEST_F(ClockTest, NothingHappensForZeroOrNegativeWaits)
{
    for (int64_t wait : {int64_t(0), int64_t(-1), int64_t(-16666), INT64_MIN}) {
        SCOPED_TRACE(wait);
        int64_t before = clock_.nowNs;
        FrameSleep(wait);
        EXPECT_EQ(clock_.pumps, 0);
        EXPECT_TRUE(clock_.sleepRequestsNs.empty());
        EXPECT_EQ(clock_.nowNs, before);
    }
}

struct FrameSleepCase {
    int64_t wait;                 // microseconds asked for
    int32_t margin;               // milliseconds
    std::vector<int64_t> sleeps;  // kernel waits expected before the margin, nanoseconds
    int64_t end;                  // microseconds after the start at which the margin may end
};

TEST_F(ClockTest, KernelWaitThenSpinToTheEnd)
{
    const FrameSleepCase cases[] = {
        {16666, 10, {6000000}, 16666},                  // the usual frame: 6 ms in the kernel
        {16666, 20, {}, 16666},                        // margin above the wait: spin only
        {16666, 0, {16000000}, 16666},
        {16999, 10, {6000000}, 16999},                 // milliseconds truncate
        {10999, 10, {}, 10999},                        // less than a millisecond beyond the margin
        {16666, -5, {16000000}, 16666},                // a negative margin counts as 0, never lengthens the wait
        {1, 0, {}, 1},
        {3000000, 10, {2990000000}, 3000000},
        {5000000, 10, {2990000000}, 3000000},          // capped at three seconds
        {INT64_MAX, 10, {2990000000}, 3000000},
        {5000000, 3000, {}, 3000000},
    };
    for (const FrameSleepCase& c : cases) {
        SCOPED_TRACE("wait " + std::to_string(c.wait) + " margin " + std::to_string(c.margin));
        clock_.sleepRequestsNs.clear();
        clock_.sleepAskedAtNs.clear();
        clock_.events.clear();
        clock_.pumps = 0;
        g_RunFlags.sleepMargin = c.margin;
        const int64_t startNs = clock_.nowNs;
        int64_t start = Timing_Time();

        FrameSleep(c.wait);

        EXPECT_EQ(ScriptedKernelWaits(clock_), c.sleeps);
        // Stops at the first reading at or after the end: the last pump crossed it.
        int64_t step = clock_.pumpStepNs / 1000;
        EXPECT_GE(Timing_Time() - start, c.end);
        EXPECT_LT(Timing_Time() - start, c.end + step);
        ASSERT_FALSE(clock_.events.empty());
        EXPECT_EQ(clock_.events.back(), 'p');
        if (!c.sleeps.empty()) {
            EXPECT_EQ(clock_.events.front(), 's');  // kernel first, margin after
        }
        // Naps in the margin come between pumps and end well before the end, so a late wake-up is not late.
        for (size_t i = c.sleeps.size(); i < clock_.sleepRequestsNs.size(); ++i) {
            EXPECT_LE(clock_.sleepRequestsNs[i], 1000000) << i;
            EXPECT_LE(clock_.sleepAskedAtNs[i] + clock_.sleepRequestsNs[i], startNs + c.end * 1000 - 150000) << i;
        }
        // The window is pumped before every nap.
        for (size_t i = c.sleeps.size(); i < clock_.events.size(); ++i)
            if (clock_.events[i] == 's') {
                EXPECT_EQ(clock_.events[i - 1], 'p') << i;
            }
    }
}

TEST_F(ClockTest, MarginIsNappedThroughNotPolled)
{
    // A pump that costs next to nothing: a busy wait would pump thousands of times over a 10 ms margin.
    clock_.pumpStepNs = 1000;
    for (int32_t margin : {2, 10, 20}) {
        SCOPED_TRACE(margin);
        clock_.sleepRequestsNs.clear();
        clock_.sleepAskedAtNs.clear();
        clock_.events.clear();
        clock_.pumps = 0;
        g_RunFlags.sleepMargin = margin;
        const int64_t startNs = clock_.nowNs;

        FrameSleep(16666);

        const int64_t endNs = startNs + 16666000;
        EXPECT_GE(clock_.nowNs, endNs);
        EXPECT_LT(clock_.nowNs, endNs + clock_.pumpStepNs);
        const std::vector<int64_t> kernel = ScriptedKernelWaits(clock_);
        int64_t stretchNs = endNs - startNs, napped = 0;
        for (int64_t ns : kernel) stretchNs -= ns;
        for (size_t i = kernel.size(); i < clock_.sleepRequestsNs.size(); ++i) napped += clock_.sleepRequestsNs[i];
        const int64_t naps = int64_t(clock_.sleepRequestsNs.size() - kernel.size());
        // All but the last fraction of a millisecond is spent asleep, the window pumped at least every
        // millisecond in between, and only the last fraction is polled.
        EXPECT_GE(napped, stretchNs - 400000);
        EXPECT_GE(naps, stretchNs / 1000000);
        EXPECT_LE(clock_.pumps, naps + 300);
    }
}

TEST_F(ClockTest, SignalDuringANapOnlyShortensIt)
{
    g_RunFlags.sleepMargin = 20;
    clock_.interruptions = 3;
    const int64_t startNs = clock_.nowNs;
    FrameSleep(16666);
    EXPECT_TRUE(ScriptedKernelWaits(clock_).empty());
    EXPECT_GE(clock_.nowNs, startNs + 16666000);
    EXPECT_LT(clock_.nowNs, startNs + 16666000 + clock_.pumpStepNs);
    EXPECT_EQ(clock_.interruptions, 0);
}

TEST_F(ClockTest, InterruptedKernelWaitResumesWithWhatIsLeft)
{
    g_RunFlags.sleepMargin = 10;
    clock_.interruptions = 2;
    const int64_t startNs = clock_.nowNs;
    FrameSleep(16666);
    EXPECT_EQ(ScriptedKernelWaits(clock_), (std::vector<int64_t>{6000000, 3000000, 1500000}));
    EXPECT_GE(clock_.nowNs, startNs + 16666000);
    EXPECT_LT(clock_.nowNs, startNs + 16666000 + clock_.pumpStepNs);
}

TEST_F(ClockTest, NeverEndsEarlyWhenStartingMidMicrosecond)
{
    g_RunFlags.sleepMargin = 20;
    clock_.pumpStepNs = 100;
    for (int64_t offset : {0, 1, 500, 999}) {
        SCOPED_TRACE(offset);
        clock_.nowNs = int64_t(5000) * 1000000000 + offset;
        int64_t begin = clock_.nowNs;
        FrameSleep(10);
        EXPECT_GE(clock_.nowNs - begin, 10000);
        EXPECT_LT(clock_.nowNs - begin, 10000 + clock_.pumpStepNs);
    }
}

TEST_F(ClockTest, ClockGoingBackwardsEndsTheSpin)
{
    g_RunFlags.sleepMargin = 20;
    clock_.rewindAtPump = 2;
    clock_.rewindToNs = clock_.nowNs - 1000;
    FrameSleep(16666);
    EXPECT_EQ(clock_.pumps, 3);
    EXPECT_TRUE(ScriptedKernelWaits(clock_).empty());
    ASSERT_FALSE(clock_.events.empty());
    EXPECT_EQ(clock_.events.back(), 'p');  // nothing more is waited once the clock went back
}

TEST_F(ClockTest, TimeIsExactAfterLongUptime)
{
    // Scaling ticks before dividing used to overflow after days of uptime; nothing here may.
    const struct {
        int64_t startNs, laterNs, expected;
    } cases[] = {
        {0, 999, 0},
        {999, 1000, 1},
        {int64_t(200) * 86400 * 1000000000, int64_t(200) * 86400 * 1000000000 + 1500000000, 1500000},
        {int64_t(1) << 62, (int64_t(1) << 62) + 3000000000000, 3000000000},  // ~146 years of uptime
        {int64_t(4999999999), int64_t(5000000001), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.startNs);
        clock_.nowNs = c.startNs;
        Timing_Init();
        EXPECT_EQ(Timing_StartCount(), c.startNs / 1000);
        EXPECT_EQ(Timing_Time(), 0);
        clock_.nowNs = c.laterNs;
        EXPECT_EQ(Timing_Time(), c.expected);
    }
}

TEST_F(ClockTest, FrameLimiterSleepGoesThroughFrameSleep)
{
    g_RunFlags.sleepMargin = 10;
    const int64_t startNs = clock_.nowNs;
    Timing_Sleep(16666);
    EXPECT_EQ(ScriptedKernelWaits(clock_), std::vector<int64_t>{6000000});
    EXPECT_GE(clock_.nowNs, startNs + 16666000);
    EXPECT_LT(clock_.nowNs, startNs + 16666000 + clock_.pumpStepNs);
    const int pumps = clock_.pumps;
    const size_t requests = clock_.sleepRequestsNs.size();
    Timing_Sleep(0);
    EXPECT_EQ(clock_.pumps, pumps);
    EXPECT_EQ(clock_.sleepRequestsNs.size(), requests);
}

TEST(ClockRealTest, FrameSleepWaitsAtLeastTheTime)
{
    Timing_Init();
    auto begin = std::chrono::steady_clock::now();
    int64_t before = Timing_Time();
    FrameSleep(20000);
    int64_t after = Timing_Time();
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::microseconds(20000));
    EXPECT_GE(after - before, 20000);
}

}  // namespace
