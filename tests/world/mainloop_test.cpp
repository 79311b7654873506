// The main loop's frame on a fake clock: the budget it sleeps for in old and new mode, the frame rate it
// reports, a clock that runs backwards, the switches that turn pacing off, and what each room-change code
// left by the step does to the frame, its present and the loop.
#include "world_harness.h"

#include "core/random.h"
#include "core/seam_trace.h"
#include "fake_render_device.h"
#include "fake_window_platform.h"
#include "gfx/device.h"
#include "gfx/display.h"
#include "gfx/window.h"
#include "platform/window_platform.h"
#include "world/ini.h"
#include "net/net.h"
#include "services/launcher.h"
#include "world/command_line.h"
#include "world/frame_timer.h"
#include "world/loader.h"
#include "world/mainloop.h"
#include "world/options.h"
#include "world/runner.h"
#include "world/step.h"

#include <cstdlib>
#include <iterator>
#include <set>

namespace {

using worldtest::EventDef;
using worldtest::GameDef;
using worldtest::InstanceDef;
using worldtest::Mode;
using worldtest::ObjectDef;
using worldtest::Op;
using worldtest::RoomDef;

// The fake clock; the recording sleep passes the time it was asked to wait.
int64_t g_now = 0;
std::vector<int64_t> g_sleeps;
int64_t FakeClock() { return g_now; }
void FakeSleep(int64_t budget)
{
    g_sleeps.push_back(budget);
    if (budget > 0) g_now += budget;
}
const MainLoopHooks kFakeHooks = {FakeClock, FakeSleep};

enum : int32_t { kObjMain = 0, kObjIdle, kObjRestarter };

ObjectDef Object(const char* name, std::vector<EventDef> events)
{
    ObjectDef o;
    o.name = name;
    o.events = std::move(events);
    return o;
}

// rm_a: 100001 obj_main, whose step records and then sets stepCode (none for -1); rm_b: 100002 obj_idle;
// rm_c: 100003 obj_restarter, whose step asks for a restart. Every room has the default speed 30.
GameDef LoopGame(int32_t stepCode)
{
    worldtest::Handler step = {{Op::Record, 1}};
    if (stepCode != ROOM_CHANGE_NONE) step.push_back({Op::RoomChange, stepCode});
    GameDef g;
    g.objects = {Object("obj_main", {{0, 0, {{Op::Record, 10}}},
                                     {3, 0, step},
                                     {7, 2, {{Op::Record, 12}}},    // Game Start
                                     {7, 4, {{Op::Record, 14}}}}),  // Room Start
                 Object("obj_idle", {{7, 4, {{Op::Record, 24}}}}),
                 Object("obj_restarter", {{3, 0, {{Op::RoomChange, ROOM_CHANGE_RESTART}}},
                                          {7, 3, {{Op::Record, 33}}},     // Game End
                                          {7, 5, {{Op::Record, 35}}}})};  // Room End
    g.rooms = {RoomDef{"rm_a", false, {InstanceDef{kObjMain, 100001, {}}}, {}, false},
               RoomDef{"rm_b", false, {InstanceDef{kObjIdle, 100002, {}}}, {}, false},
               RoomDef{"rm_c", false, {InstanceDef{kObjRestarter, 100003, {}}}, {}, false}};
    g.order = {0, 1, 2};
    return g;
}

class MainLoopTest : public worldtest::WorldHarness {
public:
    void SetUp() override
    {
        WorldHarness::SetUp();
        unsetenv("KV_TEST_FRAME_LIMIT");
        unsetenv("KV_TEST_UNPACED");
        g_now = 0;
        g_sleeps.clear();
        MainLoop_SetHooks(&kFakeHooks);
        savedIni_ = g_IniOptions;
        savedSeed_ = int32_t(Random_GetSeed());
    }
    void TearDown() override
    {
        unsetenv("KV_TEST_FRAME_LIMIT");
        unsetenv("KV_TEST_UNPACED");
        MainLoop_SetHooks(nullptr);
        g_Running = false;
        Debug_FrameLimiting = true;
        Debug_Paused = false;
        g_GameTimer = FrameTimer();
        g_IniOptions = savedIni_;
        Random_Seed(savedSeed_);
        Step_SetClock(0);
        MainLoop_LastFrameEnd = 0;
        MainLoop_Budget = 0;
        MainLoop_FpsTarget = 60;
        MainLoop_Fps = 0;
        MainLoop_FramesRun = 0;
        MainLoop_DeviceResetCountdown = 0;
        Launcher_ClearRequest();
        WorldHarness::TearDown();  // unloads the game (newMode with it) and resets the run flags
    }

    // Loads the game, starts its first room and enters the loop at the fake clock's present.
    void Begin(const GameDef& game)
    {
        ASSERT_TRUE(Load(game, Mode::Native));
        StartFirstRoom();
        ASSERT_NE(Run_Room, nullptr);
        g_Running = true;
        EnterMainLoop();
        SeamTrace_Clear();
        worldtest::g_traceLines.clear();
        worldtest::g_runs.clear();
        debug_.text.clear();
    }

    // The calls that show a frame's shape, in order, blank-separated.
    static std::string FrameTrace()
    {
        static const std::set<std::string> shown = {"Profiler_BeginFrame", "Start_Frame",     "End_Frame",
                                                    "End_Frame(not presented)", "Layer_RoomEnd", "Layer_RoomStart",
                                                    "Gamepad_Rediscover", "Profiler_EndFrame", "TickDebugger"};
        std::string out;
        for (const std::string& call : SeamTrace_Calls())
            if (shown.count(call)) out += (out.empty() ? "" : " ") + call;
        return out;
    }

    IniOptions savedIni_{};
    int32_t savedSeed_ = 0;
};

// The calls of a frame after which the loop goes on, and of one that ends it.
const std::string kFrame = "Profiler_BeginFrame Start_Frame End_Frame Profiler_EndFrame TickDebugger";
const std::string kLastFrame = "Profiler_BeginFrame Start_Frame End_Frame";

// ---- pacing ----------------------------------------------------------------------------------------------

void SetManualVSync() { g_RunFlags.manualVSync = true; }
void SetAlternateSyncInIni()
{
    static const char kText[] = "[Windows]\nAlternateSyncMethod=1\n";
    IniFile* ini = IniFile::FromString(kText, sizeof kText - 1);
    Options_ReadWindowsIni(ini);
    delete ini;
}
void SetUnpaced() { setenv("KV_TEST_UNPACED", "1", 1); }
void SetUnpacedZero() { setenv("KV_TEST_UNPACED", "0", 1); }
void SetNoFrameLimiting() { Debug_FrameLimiting = false; }

TEST_F(MainLoopTest, EachFrameSleepsOutWhatIsLeftOfItsBudget)
{
    struct Row {
        const char* name;
        bool newMode;
        double gameSpeed;  // new mode: the game timer's rate
        int32_t roomSpeed;  // old mode
        void (*setup)();
        std::vector<int64_t> work;     // clock advance before each frame (the previous step; < 0 goes back)
        std::vector<int64_t> sleeps;   // budgets the sleep was handed, in order
        std::vector<int64_t> returns;  // MainLoop_Frame's answers
        int32_t target;                // the last frame's stored target
        int32_t roomSpeedAfter;        // old mode: the room's speed after the frames
    };
    const Row rows[] = {
        {"old mode, speed 30, 10 ms steps", false, 0, 30, nullptr, {10000, 10000}, {23333, 23333}, {30, 30}, 30, 30},
        {"old mode, a step longer than the frame", false, 0, 30, nullptr, {50000, 0}, {0, 33333}, {30, 30}, 30, 30},
        {"old mode, speed 0 is raised to 1", false, 0, 0, nullptr, {0, 10000}, {1000000, 990000}, {1, 1}, 1, 1},
        {"old mode, a negative speed is raised to 1", false, 0, -5, nullptr, {0}, {1000000}, {1}, 1, 1},
        // The fake sleep passes the budget, so a clock that goes back lands before the last frame's end.
        {"the clock goes back", false, 0, 30, nullptr, {0, -50000, 0}, {33333, 33333, 33333}, {30, 30, 30}, 30, 30},
        {"new mode, speed 60", true, 60, 30, nullptr, {0, 50000, 3}, {16666, 0, 16663}, {60, 60, 60}, 60, 30},
        // The timer's last clock starts at 0: the first tick's delta is 0, then it measures the clock.
        {"new mode, speed 0", true, 0, 30, nullptr, {0, 30000, 7}, {0, 0, 0}, {30, 33, 142857}, 60, 30},
        // Below one frame per second the whole-number target is 0, but the frames stay long.
        {"new mode, speed 0.5", true, 0.5, 30, nullptr, {0, 0}, {1000000, 1000000}, {0, 0}, 0, 30},
        // A rate whose frame would overflow the clock waits the longest frame too.
        {"new mode, speed 1e-30", true, 1e-30, 30, nullptr, {0, 0}, {1000000, 1000000}, {0, 0}, 0, 30},
        {"-manualvsync", false, 0, 30, SetManualVSync, {0, 10000}, {0, 0}, {30, 30}, 30, 30},
        {"options.ini AlternateSyncMethod", false, 0, 30, SetAlternateSyncInIni, {0, 10000}, {0, 0}, {30, 30}, 30, 30},
        {"KV_TEST_UNPACED=1", false, 0, 30, SetUnpaced, {0, 10000}, {0, 0}, {30, 30}, 30, 30},
        {"KV_TEST_UNPACED=0 still paces", false, 0, 30, SetUnpacedZero, {10000}, {23333}, {30}, 30, 30},
        {"frame limiting off", false, 0, 30, SetNoFrameLimiting, {0, 10000}, {}, {30, 30}, 30, 30},
    };
    ASSERT_TRUE(Load(LoopGame(ROOM_CHANGE_NONE), Mode::Native));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        g_now = 0;
        g_sleeps.clear();
        g_GameData.newMode = row.newMode;
        if (row.newMode) FrameTimer_SetFPS(&g_GameTimer, row.gameSpeed);
        StartFirstRoom();
        ASSERT_NE(Run_Room, nullptr);
        Run_Room->speed = row.roomSpeed;
        if (row.setup) row.setup();
        g_Running = true;
        EnterMainLoop();

        std::vector<int64_t> returns;
        for (int64_t work : row.work) {
            g_now += work;
            returns.push_back(MainLoop_Frame());
            EXPECT_EQ(MainLoop_Budget, Debug_FrameLimiting && !g_sleeps.empty() ? g_sleeps.back() : 0);
        }
        EXPECT_EQ(g_sleeps, row.sleeps);
        EXPECT_EQ(returns, row.returns);
        EXPECT_EQ(MainLoop_FpsTarget, row.target);
        EXPECT_EQ(Run_Room->speed, row.roomSpeedAfter);
        EXPECT_TRUE(g_Running);

        unsetenv("KV_TEST_UNPACED");
        RunFlags_ResetAll();
        g_IniOptions = savedIni_;
        Debug_FrameLimiting = true;
        g_GameTimer = FrameTimer();
        EndGame();
        g_GameData.newMode = false;
    }
}

TEST_F(MainLoopTest, TheNewModeTimerAdvancesOneWholeFrameWhateverTheClockDid)
{
    ASSERT_TRUE(Load(LoopGame(ROOM_CHANGE_NONE), Mode::Native));
    g_now = 5000000;
    g_GameData.newMode = true;
    FrameTimer_SetFPS(&g_GameTimer, 60);
    StartFirstRoom();
    g_Running = true;
    EnterMainLoop();
    const int64_t work[] = {0, 250000, 1, 40000};
    for (size_t i = 0; i < std::size(work); ++i) {
        g_now += work[i];
        MainLoop_Frame();
        const int64_t frames = int64_t(i + 1);
        EXPECT_EQ(g_GameTimer.lastClock, 5000000 + frames * 16666) << "frame " << frames;
        EXPECT_EQ(g_GameTimer.elapsed, frames * 16666) << "frame " << frames;
        EXPECT_EQ(g_GameTimer.delta, 16666);
        EXPECT_EQ(FrameTimer_GetFPS(&g_GameTimer), 60.0);
        EXPECT_EQ(MainLoop_FpsTarget, 60);
    }
    // Paused, it still ticks but adds nothing.
    g_GameTimer.paused = true;
    MainLoop_Frame();
    EXPECT_EQ(g_GameTimer.lastClock, 5000000 + 5 * 16666);
    EXPECT_EQ(g_GameTimer.elapsed, 4 * 16666);
}

TEST_F(MainLoopTest, FpsIsZeroUntilTheFirstWholeSecondThenCountsTheFramesOfEachSecond)
{
    ASSERT_TRUE(Load(LoopGame(ROOM_CHANGE_NONE), Mode::Native));
    StartFirstRoom();
    Run_Room->speed = 10;  // frames 100 ms apart on the fake clock
    g_now = 250000;
    g_Running = true;
    EnterMainLoop();
    // Frames end at 0.35 s, 0.45 s, ...: seven before the clock's first whole second, then ten a second.
    std::vector<int32_t> seen;
    for (int i = 0; i < 20; ++i) {
        MainLoop_Frame();
        seen.push_back(MainLoop_Fps);
    }
    const std::vector<int32_t> expected = {0, 0, 0, 0, 0, 0, 0, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 10, 10, 10};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(MainLoop_FramesRun, 20);

    // A clock that goes back moves the second's start with it: the count is taken at the next whole
    // second of the new time (1.05 s: the three frames counted before the jump and two after it) instead
    // of waiting for the old second to come round again.
    g_now -= 1500000;  // 0.75 s; frames end at 0.85 s, 0.95 s, 1.05 s, ...
    for (int i = 0; i < 3; ++i) MainLoop_Frame();
    EXPECT_EQ(MainLoop_Fps, 5);
}

// ---- the room-change code --------------------------------------------------------------------------------

TEST_F(MainLoopTest, TheCodeLeftByTheStepIsActedOnAfterThePresent)
{
    struct Row {
        const char* name;
        int32_t stepCode;  // set by obj_main's step every frame; -1 none
        void (*setup)();
        int frames;        // frames asked for; the loop may end sooner
        int framesRun;
        bool running;
        int32_t codeAfter;
        int32_t roomAfter;
        std::string trace;
        int64_t lastReturn;
        const char* logged;  // a line of the debug log, or null for none
    };
    const std::string keepSwitch = "Profiler_BeginFrame Start_Frame End_Frame(not presented) Layer_RoomEnd "
                                   "Layer_RoomStart Profiler_EndFrame TickDebugger";
    const std::string keepNotPresented =
        "Profiler_BeginFrame Start_Frame End_Frame(not presented) Profiler_EndFrame TickDebugger";
    const Row rows[] = {
        {"-1 from the step", -1, nullptr, 2, 2, true, -1, 0, kFrame + " " + kFrame, 30, nullptr},
        {"-100 from the step", -100, nullptr, 3, 1, false, -100, 0, kLastFrame, 60, nullptr},
        {"-400 from the step", -400, nullptr, 3, 1, false, -400, 0, kLastFrame, 60, nullptr},
        {"a pending game change", -1, [] { Launcher_RequestGameChange("/games/next.win", nullptr, nullptr); }, 3, 1,
         false, -400, 0, kLastFrame, 60, nullptr},
        // The switch happens after a frame left unpresented; rm_b's idle instance asks for nothing more.
        {"a room index", 1, nullptr, 2, 2, true, -1, 1, keepSwitch + " " + kFrame, 30, nullptr},
        {"index 0, the running room", 0, nullptr, 1, 1, true, -1, 0, keepSwitch, 30, nullptr},
        {"a negative code that is no action", -7, nullptr, 2, 2, true, -1, 0, kFrame + " " + kFrame, 30,
         "Room change -7 names no room; ignored\n"},
        {"an index past the rooms", 3, nullptr, 1, 1, true, -1, 0, keepNotPresented, 30,
         "Room change 3 names no room; ignored\n"},
        {"KV_TEST_FRAME_LIMIT=3", -1, [] { setenv("KV_TEST_FRAME_LIMIT", "3", 1); }, 5, 3, false, -100, 0,
         kFrame + " " + kFrame + " " + kLastFrame, 60, nullptr},
        {"KV_TEST_FRAME_LIMIT=0 sets no limit", -1, [] { setenv("KV_TEST_FRAME_LIMIT", "0", 1); }, 3, 3, true, -1,
         0, kFrame + " " + kFrame + " " + kFrame, 30, nullptr},
        // The limit wins over a switch asked for in its last frame, which was already left unpresented.
        {"the frame limit on a switching frame", 1, [] { setenv("KV_TEST_FRAME_LIMIT", "1", 1); }, 2, 1, false, -100,
         0, "Profiler_BeginFrame Start_Frame End_Frame(not presented)", 60, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.setup) row.setup();
        Begin(LoopGame(row.stepCode));
        int run = 0;
        int64_t last = 0;
        while (run < row.frames && g_Running) {
            last = MainLoop_Frame();
            ++run;
        }
        EXPECT_EQ(run, row.framesRun);
        EXPECT_EQ(g_Running, row.running);
        EXPECT_EQ(RoomChangeCode, row.codeAfter);
        EXPECT_EQ(Run_RoomIndex, row.roomAfter);
        EXPECT_EQ(FrameTrace(), row.trace);
        EXPECT_EQ(last, row.lastReturn);
        if (row.logged) EXPECT_NE(debug_.text.find(row.logged), std::string::npos) << debug_.text;
        else EXPECT_EQ(debug_.text.find("names no room"), std::string::npos) << debug_.text;

        unsetenv("KV_TEST_FRAME_LIMIT");
        Launcher_ClearRequest();
        g_Running = false;
        Unload();
    }
}

TEST_F(MainLoopTest, RestartEndsTheGameAndStartsTheFirstRoomWithTheFixedSeed)
{
    Begin(LoopGame(ROOM_CHANGE_NONE));
    SwitchRoom(2);  // rm_c, whose restarter asks for a restart in its step
    ASSERT_EQ(Run_RoomIndex, 2);
    Random_Seed(7);
    SeamTrace_Clear();
    worldtest::g_traceLines.clear();
    worldtest::g_runs.clear();

    EXPECT_EQ(MainLoop_Frame(), 30);
    EXPECT_TRUE(g_Running);
    EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_NONE);
    EXPECT_EQ(Run_RoomIndex, 0);
    EXPECT_EQ(FrameTrace(), "Profiler_BeginFrame Start_Frame End_Frame Layer_RoomEnd Gamepad_Rediscover "
                            "Layer_RoomStart Profiler_EndFrame TickDebugger");
    // rm_c ends as at game end (Room End, Game End); rm_a starts as a first room (create, Game Start, Room
    // Start). The step that asked does not count as a frame.
    std::string events;
    for (const std::string& line : worldtest::g_traceLines) events += line;
    EXPECT_EQ(events,
              "E 0 2 3 0 2 100003\n"
              "E 0 2 7 5 2 100003\n"
              "E 0 2 7 3 2 100003\n"
              "E 0 0 0 0 0 100001\n"
              "E 0 0 7 2 0 100001\n"
              "E 0 0 7 4 0 100001\n");
    EXPECT_EQ(Random_GetSeed(), 2101988u);
    const uint32_t draw = Random_Next();
    Random_Seed(2101988);
    EXPECT_EQ(Random_Next(), draw);
}

TEST_F(MainLoopTest, WhileTheDebuggerPausesOnlyTheSoundAndTheDebuggerTick)
{
    Begin(LoopGame(ROOM_CHANGE_GAME_END));
    Debug_Paused = true;
    EXPECT_EQ(MainLoop_Frame(), 30);
    EXPECT_TRUE(g_Running);
    EXPECT_EQ(FrameTrace(), "Profiler_BeginFrame Profiler_EndFrame TickDebugger");
    EXPECT_EQ(MainLoop_FramesRun, 0);
    EXPECT_TRUE(worldtest::g_runs.empty());
    Debug_Paused = false;
    MainLoop_Frame();
    EXPECT_FALSE(g_Running);
}

}  // namespace

namespace {

// The device resets on the frame the countdown reaches 1: ten frames after the last size event of a drag, and
// on the next frame after a full-screen switch.
TEST_F(MainLoopTest, ADragResetsTheDeviceTenFramesAfterItsLastSizeEventAFullScreenSwitchOnTheNext)
{
    kvtest::FakeRenderDevice device;
    kvtest::FakeWindowPlatform window;
    kvtest::FakeDisplaySource displays;
    kvtest::ScopedRenderDevice installedDevice(&device);
    kvtest::ScopedDisplaySource installedDisplays(&displays);
    WindowPlatform_Set(&window);
    Window_ResetState();
    window.exists = true;
    Window_ClientWidth = 640;
    Window_ClientHeight = 480;
    ASSERT_TRUE(GR_D3D_CreateDevice(nullptr, 640, 480, 0));
    Begin(LoopGame(ROOM_CHANGE_NONE));
    Window_SkipNextSize = false;

    // Frames until the device's next reset, with the size events of a drag sent on the frames listed.
    auto framesToReset = [&](std::vector<int> dragFrames) {
        const size_t resets = device.Count("Reset");
        for (int frame = 1; frame <= 30; ++frame) {
            for (int drag : dragFrames) {
                if (drag != frame) continue;
                window.clientWidth += 10;
                Window_Proc(nullptr, WM_SIZING, 0, 0);
                Window_Proc(nullptr, WM_EXITSIZEMOVE, 0, 0);
            }
            MainLoop_Frame();
            if (device.Count("Reset") > resets) return frame;
        }
        return -1;
    };
    // Events before frames 1, 3 and 4: the countdown restarts at each, and the reset comes ten frames on.
    EXPECT_EQ(framesToReset({1, 3, 4}), 4 + 9);
    EXPECT_EQ(device.resetParams.back().backBufferWidth, 670u);
    Window_SetFullScreen(true);
    EXPECT_EQ(framesToReset({}), 1);
    EXPECT_EQ(device.resetParams.back().windowed, 0);

    GR_D3D_Release();
    Display_FreeAdapters();
    Window_ResetState();
    WindowPlatform_Set(nullptr);
}

}  // namespace
