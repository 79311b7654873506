// A game restart through the main loop during playback goes on reading the file it had open: start-up
// opened it, and only start-up does.
#include "../world/world_harness.h"

#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/text.h"
#include "input/input.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "test_support.h"
#include "world/command_line.h"
#include "world/mainloop.h"
#include "world/runner.h"
#include "world/step.h"

#include <SDL.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

int64_t g_restartNow = 0;
int64_t RestartClock() { return g_restartNow; }
void RestartSleep(int64_t budget)
{
    if (budget > 0) g_restartNow += budget;
}
const MainLoopHooks kRestartHooks = {RestartClock, RestartSleep};

class RecordPlaybackRestart : public worldtest::WorldHarness {
protected:
    void TearDown() override
    {
        IO_End();
        MainLoop_SetHooks(nullptr);
        g_Running = false;
        Step_SetClock(0);
        MainLoop_LastFrameEnd = 0;
        MainLoop_FramesRun = 0;
        if (g_RunFlags.recordFile) MemFree(g_RunFlags.recordFile);
        g_RunFlags.recordFile = nullptr;
        g_RunFlags.playback = false;
        IO_Init();
        WorldHarness::TearDown();
    }
};

TEST_F(RecordPlaybackRestart, ARestartDoesNotReopenThePlaybackFile)
{
    // Three frames whose keyboard_lastkey is 1, 2 and 3.
    std::string bytes;
    for (int32_t n = 1; n <= 3; ++n) {
        IO_Clear();
        g_InputState.lastKey = n;
        uint8_t frame[IO_FRAME_BYTES];
        IO_EncodeFrame(frame);
        bytes.append(reinterpret_cast<const char*>(frame), sizeof frame);
    }
    const std::string dir = kvtest::ScratchDir() + "/restart";
    std::filesystem::create_directories(dir);
    const std::string file = dir + "/three.rec";
    kvtest::WriteFile(file, bytes);

    // One room whose only instance looks at the step's input and asks for a restart, in every step (the
    // restart's room start clears the input again).
    worldtest::GameDef game;
    worldtest::ObjectDef restarter;
    restarter.name = "obj_restarter";
    restarter.events = {{3, 0, {{worldtest::Op::Probe, 1}, {worldtest::Op::RoomChange, ROOM_CHANGE_RESTART}}}};
    game.objects = {restarter};
    game.rooms = {worldtest::RoomDef{"rm_only", false, {worldtest::InstanceDef{0, 100001, {}}}, {}, false}};
    game.order = {0};
    game.lastInstanceId = 100001;
    ASSERT_TRUE(Load(game, worldtest::Mode::Native));

    g_RunFlags.playback = true;
    g_RunFlags.recordFile = String_Duplicate(file.c_str());
    IO_Init();  // as start-up does
    StartFirstRoom();
    ASSERT_NE(Run_Room, nullptr);
    MainLoop_SetHooks(&kRestartHooks);
    // A quit or close left queued by an earlier window is not this run's.
    if (Platform_VideoStarted()) SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    ProcessMessages();
    g_Running = true;
    EnterMainLoop();
    SeamTrace_Clear();
    SeamTrace_Enable(true);
    static std::vector<int32_t> lastKeys;
    lastKeys.clear();
    worldtest::g_probe = [](int32_t, CInstance*) { lastKeys.push_back(IO_GetLastKey()); };
    for (int frame = 0; frame < 5; ++frame) {
        MainLoop_Frame();
        ASSERT_NE(Run_Room, nullptr) << "the restart started the first room again";
    }
    const std::vector<std::string> calls = SeamTrace_Calls();
    SeamTrace_Enable(false);
    // Reopened, the file would give 1 again; at its end the restart's clear stands.
    EXPECT_EQ(lastKeys, (std::vector<int32_t>{1, 2, 3, 0, 0}));
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Gamepad_Rediscover"), 5) << "every frame restarted";
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "IO_Init"), 0);
}

}  // namespace
