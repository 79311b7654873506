// The frame timer with rates a game's header or a script can give it: tiny, zero, negative and NaN rates
// must neither divide into a frame no clock value holds nor wrap the clock or the elapsed time.
#include "world/frame_timer.h"
#include "world/mainloop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

int64_t g_clock = 0;
int64_t TestClock() { return g_clock; }
void TestSleep(int64_t) {}
const MainLoopHooks kTestHooks = {TestClock, TestSleep};

class FrameTimerTest : public testing::Test {
protected:
    void SetUp() override
    {
        g_clock = 1000;
        MainLoop_SetHooks(&kTestHooks);
    }
    void TearDown() override { MainLoop_SetHooks(nullptr); }
};

TEST_F(FrameTimerTest, HostileRatesTickWithoutOverflow)
{
    const int64_t slowestFrame = int64_t(1000000.0 / kFrameTimerMinFps);
    const struct Row {
        const char* name;
        double fps;
        double storedFps;   // what the timer keeps
        int64_t delta;      // of the first tick, at clock 1250 (a measuring timer starts from 0)
        double reportedFps; // FrameTimer_GetFPS after that tick
    } rows[] = {
        {"60", 60.0, 60.0, 16666, 60.0},
        {"1e-30", 1e-30, 1e-30, slowestFrame, 1e-30},
        {"slowest", kFrameTimerMinFps, kFrameTimerMinFps, slowestFrame, kFrameTimerMinFps},
        {"zero", 0.0, 0.0, 1250, 800.0},
        {"negative", -1.0, -1.0, 1250, 800.0},
        {"NaN", std::nan(""), 0.0, 1250, 800.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        g_clock = 1000;
        FrameTimer timer;
        FrameTimer_SetFPS(&timer, row.fps);
        EXPECT_EQ(timer.fps, row.storedFps);
        const int64_t start = timer.lastClock;
        g_clock += 250;
        FrameTimer_Tick(&timer);
        EXPECT_EQ(timer.delta, row.delta);
        EXPECT_EQ(timer.elapsed, row.delta);
        EXPECT_EQ(timer.lastClock, row.fps > 0.0 ? start + row.delta : g_clock);
        EXPECT_EQ(FrameTimer_GetFPS(&timer), row.reportedFps);
    }
}

TEST_F(FrameTimerTest, ClockAndElapsedStopAtTheirLimits)
{
    FrameTimer timer;
    FrameTimer_SetFPS(&timer, 1e-30);
    timer.lastClock = std::numeric_limits<int64_t>::max() - 5;
    timer.elapsed = std::numeric_limits<int64_t>::max() - 3;
    FrameTimer_Tick(&timer);
    EXPECT_EQ(timer.lastClock, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(timer.delta, 5);
    EXPECT_EQ(timer.elapsed, std::numeric_limits<int64_t>::max());
    FrameTimer_Tick(&timer);  // nothing left to advance by
    EXPECT_EQ(timer.delta, 0);
    EXPECT_EQ(timer.elapsed, std::numeric_limits<int64_t>::max());

    // Measuring again after that: a clock far below the last one gives the most negative step, not a wrap.
    timer.fps = 0.0;
    timer.lastClock = std::numeric_limits<int64_t>::max();
    g_clock = -10;
    FrameTimer_Tick(&timer);
    EXPECT_EQ(timer.delta, std::numeric_limits<int64_t>::min());
    EXPECT_EQ(timer.lastClock, -10);
}

}  // namespace
