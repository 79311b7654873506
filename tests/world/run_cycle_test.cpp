#include "world_test_util.h"

#include "core/error.h"
#include "core/text.h"
#include "input/input.h"
#include "platform/crash_handlers.h"
#include "platform/hooks.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "test_support.h"
#include "world/room_change.h"
#include "world/runner.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <exception>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Recording fakes for the run cycle's steps.
std::vector<std::string> g_calls;
std::vector<std::string> g_startupSeen;  // what each start-up saw: tokens, game file, switches
int g_cycle = 0;
int g_ticksPerCycle = 1;
bool g_startupSucceeds = true;
void (*g_onFirstTick)() = nullptr;
void (*g_onCycleStart)(int cycle) = nullptr;  // first tick of every cycle
bool g_cycleTicked = false;
std::vector<bool> g_changingSeen;  // the game-change flag at each start-up

void Rec(const char* name) { g_calls.emplace_back(name); }

bool FakeInit()
{
    Rec("InitRunnerSystems");
    return true;
}
void FakeStartup()
{
    Rec("RunnerStartup");
    ++g_cycle;
    std::string seen = JoinTokens() + " :: " + (g_GameFile ? g_GameFile : "-") + " :: " + DescribeRunState() +
                       " :: firstrun=" + (g_FirstRun ? "1" : "0") + " child=" + (g_ChildGame ? "1" : "0");
    g_startupSeen.push_back(seen);
    g_changingSeen.push_back(g_GameChanging);
    g_cycleTicked = false;
    g_Running = g_startupSucceeds;
}
int g_ticks = 0;
void FakeTick()
{
    Rec("MainLoopTick");
    if (++g_ticks == 1 && g_cycle == 1 && g_onFirstTick) g_onFirstTick();
    if (!g_cycleTicked) {
        g_cycleTicked = true;
        if (g_onCycleStart) g_onCycleStart(g_cycle);
    }
    if (g_ticks % g_ticksPerCycle == 0) g_Running = false;
}

const RunCycleSteps kFakes = {
    FakeInit,
    FakeStartup,
    [] { Rec("CopyPointerStates"); },
    FakeTick,
    [] { Rec("ProcessMessages"); },
    [] { Rec("EndGame"); },
    [] { Rec("Runner_EndOfRun"); },
    [] { Rec("Window_PostQuit"); },
    [] { Rec("Runner_Shutdown"); },
    [] {
        Rec("ResetRunGlobals");
        GameFile_Set(nullptr);
        Paths_ResetRunCache();
    },
    [] { Rec("InstallHeadlessHandlers"); },
};

class RunCycle : public testing::Test {
protected:
    void SetUp() override
    {
        ResetEntryPointState();
        g_calls.clear();
        g_startupSeen.clear();
        g_cycle = 0;
        g_ticks = 0;
        g_ticksPerCycle = 1;
        g_startupSucceeds = true;
        g_onFirstTick = nullptr;
        g_onCycleStart = nullptr;
        g_changingSeen.clear();
        RunCycle_SetSteps(&kFakes);
    }
    void TearDown() override
    {
        RunCycle_SetSteps(nullptr);
        ResetEntryPointState();
    }
    static int Run(std::vector<const char*> argv) { return WinMain(static_cast<int>(argv.size()), argv.data()); }
    static std::string Cwd() { return std::filesystem::current_path().string(); }
};

TEST_F(RunCycle, StepsRunInOrder)
{
    g_ticksPerCycle = 2;
    EXPECT_EQ(Run({"prog"}), 0);
    const std::vector<std::string> expected = {
        "InitRunnerSystems", "RunnerStartup",   "CopyPointerStates", "MainLoopTick",   "ProcessMessages",
        "CopyPointerStates", "MainLoopTick",    "ProcessMessages",   "EndGame",        "Runner_EndOfRun",
        "Window_PostQuit",   "Runner_Shutdown", "ResetRunGlobals",
    };
    EXPECT_EQ(g_calls, expected);
    EXPECT_FALSE(g_FirstRun);
}

TEST_F(RunCycle, FailedStartupSkipsTheLoopAndExitsWithOne)
{
    g_startupSucceeds = false;
    EXPECT_EQ(Run({"prog", "-headless"}), 1);
    const std::vector<std::string> expected = {
        "InstallHeadlessHandlers", "InitRunnerSystems", "RunnerStartup",   "EndGame",
        "Runner_EndOfRun",         "Window_PostQuit",   "Runner_Shutdown", "ResetRunGlobals",
    };
    EXPECT_EQ(g_calls, expected);
}

TEST_F(RunCycle, GameChangeRunsTheRequestedGameThenTheExitFile)
{
    g_onFirstTick = [] { Launcher_RequestGameChange("a", "b", "/saves/a/"); };
    testing::internal::CaptureStdout();
    EXPECT_EQ(Run({"prog", "-debug", "-noaudio", "-oldexec", "-software", "-headless", "-steam", "-game", "g.win"}), 0);
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_NE(out.find("-game \"a\" -exit \"b\"\n"), std::string::npos) << out;
    ASSERT_EQ(g_startupSeen.size(), 3u);
    const std::string cwd = Cwd();
    EXPECT_EQ(g_startupSeen[0], "prog|-debug|-noaudio|-oldexec|-software|-headless|-steam|-game|g.win :: " + cwd +
                                    "/g.win :: debug=1 exec=0 audio=0 software=1 headless=1 steam=1 game=" + cwd +
                                    "/g.win overlay=2 physicshook=1 :: firstrun=1 child=0");
    // The next cycle parses only the generated line: per-parse switches are back to their defaults.
    EXPECT_EQ(g_startupSeen[1], "-game|a|-exit|b :: " + cwd + "/a :: software=1 headless=1 steam=1 exit=b game=" +
                                    cwd + "/a physicshook=1 :: firstrun=0 child=1");
    EXPECT_EQ(g_startupSeen[2], "-game|b :: " + cwd + "/b :: software=1 headless=1 steam=1 game=" + cwd +
                                    "/b physicshook=1 :: firstrun=0 child=0");
    EXPECT_FALSE(g_RestartFlag);
}

TEST_F(RunCycle, ExitFileRunsNextWithAFreshSaveFolder)
{
    MemFree(g_ProjectName);
    g_ProjectName = String_Duplicate("First");
    SavePrePend_Set("/saves/First/");
    testing::internal::CaptureStdout();
    EXPECT_EQ(Run({"prog", "-exit", "launcher.win"}), 0);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(g_startupSeen.size(), 2u);
    EXPECT_EQ(g_startupSeen[1], "-game|launcher.win :: " + Cwd() + "/launcher.win :: game=" + Cwd() +
                                    "/launcher.win :: firstrun=0 child=0");
    EXPECT_STREQ(g_ProjectName, "");
    EXPECT_STREQ(GetSavePrePend(), "");
}

TEST_F(RunCycle, GameChangeLineHasNoLengthLimit)
{
    static std::string longPath;
    longPath = "/" + std::string(5000, 'd') + "/game.win";
    g_onFirstTick = [] { Launcher_RequestGameChange(longPath.c_str(), nullptr, "/s/"); };
    testing::internal::CaptureStdout();
    Run({"prog"});
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(g_startupSeen.size(), 2u);
    EXPECT_EQ(g_startupSeen[1], "-game|" + longPath + " :: " + longPath + " :: game=" + longPath +
                                    " :: firstrun=0 child=0");
    EXPECT_STREQ(GetSavePrePend(), "/s/");
}

// Error reports across games: each cycle's game reports once; what each report left behind is recorded.
struct CycleReport {
    int cycle;
    std::string last;  // error_last after the report
    int exits;         // process exits asked for by then
    int32_t roomChange;
};
std::vector<CycleReport> g_reports;
std::vector<int> g_exitStatuses;

class RunCycleErrors : public RunCycle {
protected:
    void SetUp() override
    {
        RunCycle::SetUp();
        g_reports.clear();
        g_exitStatuses.clear();
        oldExit_ = Platform_SetExitHook([](int status) { g_exitStatuses.push_back(status); });
        g_RunFlags.headless = true;  // no dialog
    }
    void TearDown() override
    {
        Platform_SetExitHook(oldExit_);
        ProcessMessages();  // the quit the aborts posted
        RunCycle::TearDown();
    }
    // The first game aborts (a fatal report of its own text); every later one meets a RuntimeError.
    static void Report(int cycle)
    {
        RoomChangeCode = ROOM_CHANGE_NONE;
        if (cycle == 1) Error_Show("first game", true);
        else RuntimeError("game %d", cycle);
        g_reports.push_back({cycle, Error_LastText(), int(g_exitStatuses.size()), RoomChangeCode});
    }
    ExitHook oldExit_ = nullptr;
};

TEST_F(RunCycleErrors, TheExitFileGameReportsAfterTheFirstGameAborted)
{
    g_onCycleStart = Report;
    EXPECT_EQ(Run({"prog", "-headless", "-game", "a.win", "-exit", "b.win"}), 0);
    ASSERT_EQ(g_reports.size(), 2u);
    EXPECT_EQ(g_reports[0].last, "first game");
    EXPECT_EQ(g_reports[0].exits, 0);
    // Not a child game: the report is shown and recorded, then the process exits with 1.
    EXPECT_NE(g_reports[1].last.find("\ngame 2"), std::string::npos) << g_reports[1].last;
    EXPECT_EQ(g_exitStatuses, std::vector<int>{1});
    EXPECT_EQ(g_changingSeen, (std::vector<bool>{false, false}));
}

TEST_F(RunCycleErrors, AChildGameReportsAndEndsAloneThenItsExitFileRuns)
{
    g_onFirstTick = [] { Launcher_RequestGameChange("child.win", "back.win", "/saves/child/"); };
    g_onCycleStart = Report;
    testing::internal::CaptureStdout();
    EXPECT_EQ(Run({"prog", "-headless", "-game", "a.win"}), 0);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(g_reports.size(), 3u);
    EXPECT_EQ(g_changingSeen, (std::vector<bool>{false, true, false}));
    // The child game: reported although the first game aborted, and only that game ends.
    EXPECT_NE(g_reports[1].last.find("\ngame 2"), std::string::npos) << g_reports[1].last;
    EXPECT_EQ(g_reports[1].exits, 0);
    EXPECT_EQ(g_reports[1].roomChange, ROOM_CHANGE_GAME_END);
    // Its exit file: reported as well, and no game change is under way any more.
    EXPECT_NE(g_reports[2].last.find("\ngame 3"), std::string::npos) << g_reports[2].last;
    EXPECT_EQ(g_exitStatuses, std::vector<int>{1});
}

TEST(Messages, PostQuitThenPumpClearsTheRunningFlag)
{
    {
        kvtest::ScopedEnv driver("SDL_VIDEODRIVER", "dummy");
        ASSERT_TRUE(Platform_StartVideo()) << SDL_GetError();
        g_Running = true;
        ProcessMessages();
        EXPECT_TRUE(g_Running);  // nothing pending
        Window_PostQuit();
        ProcessMessages();
        EXPECT_FALSE(g_Running);
        Platform_StopVideo();
    }
    // Without SDL video the pump returns at once; a posted quit still reaches the next pump.
    g_Running = true;
    ProcessMessages();
    EXPECT_TRUE(g_Running);
    Window_PostQuit();
    ProcessMessages();
    EXPECT_FALSE(g_Running);
}

#if !defined(KV_SANITIZE) && !defined(KV_TSAN)
// The crash line goes to standard output; the child points that at standard error for the matcher.
void CrashWith(void (*crash)())
{
    dup2(STDERR_FILENO, STDOUT_FILENO);
    g_RunFlags.headless = true;
    Platform_InstallHeadlessHandlers();
    crash();
}

TEST(HeadlessDeathTest, CrashesPrintTheLineAndExitWithOne)
{
    const char* line = "^Exception detected during the unit tests!\n$";
    EXPECT_EXIT(CrashWith([] { raise(SIGSEGV); }), testing::ExitedWithCode(1), line);
    EXPECT_EXIT(CrashWith([] { raise(SIGFPE); }), testing::ExitedWithCode(1), line);
    EXPECT_EXIT(CrashWith([] { std::abort(); }), testing::ExitedWithCode(1), line);
    EXPECT_EXIT(CrashWith([] { std::terminate(); }), testing::ExitedWithCode(1), line);
    EXPECT_EXIT(CrashWith([] {
                    volatile int* nowhere = nullptr;
                    *nowhere = 1;
                }),
                testing::ExitedWithCode(1), line);
}

TEST(HeadlessDeathTest, FailedAssertionPrintsTheErrorLine)
{
    EXPECT_EXIT(CrashWith([] { KV_ASSERT(1 + 1 == 3); }), testing::ExitedWithCode(1),
                "^Error type 0 at .*run_cycle_test.cpp line [0-9]+ in 1 \\+ 1 == 3$");
}
#endif

}  // namespace
