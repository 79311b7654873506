#include "world_test_util.h"

#include "core/text.h"
#include "input/input.h"
#include "platform/crash_handlers.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "test_support.h"
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
    g_Running = g_startupSucceeds;
}
int g_ticks = 0;
void FakeTick()
{
    Rec("MainLoopTick");
    if (++g_ticks == 1 && g_cycle == 1 && g_onFirstTick) g_onFirstTick();
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
