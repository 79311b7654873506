// The main loop's frame: measure, sleep out the budget, tick audio, run the step inside the scene, present,
// then act on the pending room change.
#include "world/mainloop.h"

#include <cstdlib>

#include "audio/audio.h"
#include "core/console.h"
#include "core/convert.h"
#include "core/memory_manager.h"
#include "core/random.h"
#include "core/timing.h"
#include "draw/draw.h"
#include "gfx/device.h"
#include "gfx/readback.h"
#include "input/input.h"
#include "net/net.h"
#include "platform/messages.h"
#include "services/launcher.h"
#include "world/command_line.h"
#include "world/frame_timer.h"
#include "world/loader.h"
#include "world/options.h"
#include "world/room.h"
#include "world/room_change.h"
#include "world/roomflow.h"
#include "world/run_state.h"
#include "world/runner.h"
#include "world/stages.h"
#include "world/step.h"

int64_t MainLoop_LastFrameEnd = 0;
int64_t MainLoop_Budget = 0;
int32_t MainLoop_FpsTarget = 60;
int32_t MainLoop_Fps = 0;
int32_t MainLoop_FramesRun = 0;
int32_t MainLoop_DeviceResetCountdown = 0;

namespace {

constexpr int64_t kMainLoopMaxBudget = 1000000;

int64_t g_secondStart = 0;
int32_t g_frameCount = 0;

const MainLoopHooks kRealHooks = {Timing_Time, Timing_Sleep};
MainLoopHooks g_hooks = kRealHooks;

// Test switches: a frame limit after which the run ends as on game end, and unpaced frames.
int32_t MainLoop_FrameLimit()
{
    const char* text = std::getenv("KV_TEST_FRAME_LIMIT");
    return text && *text ? Text_ToInt32(text) : 0;
}
bool MainLoop_Unpaced()
{
    const char* text = std::getenv("KV_TEST_UNPACED");
    return text && text[0] == '1' && text[1] == '\0';
}

// Only codes that name an action or a room are acted on; anything else would index past the rooms.
void MainLoop_ActOnCode(int32_t code)
{
    switch (code) {
    case ROOM_CHANGE_NONE: return;
    case ROOM_CHANGE_RESTART:
        EndGame();
        Gamepad_Rediscover();
        StartFirstRoom();
        Random_Seed(2101988);
        return;
    case ROOM_CHANGE_LOAD_GAME: HandleLoadGameRequest(); return;
    default: break;
    }
    if (Room_Exists(code)) {
        SwitchRoom(code);
        return;
    }
    DebugConsole->Output("Room change %d names no room; ignored\n", code);
    RoomChangeCode = ROOM_CHANGE_NONE;
}

// The rate the next frame aims at.
int64_t MainLoop_NextTarget()
{
    if (!g_Running) return 60;
    if (g_GameData.newMode) {
        const double fps = FrameTimer_GetFPS(&g_GameTimer);
        return Real_ToInt64(fps);
    }
    if (!Run_Room) return 60;
    return Run_Room->speed > 0 ? Run_Room->speed : 1;
}

}  // namespace

void MainLoop_SetHooks(const MainLoopHooks* hooks)
{
    g_hooks = kRealHooks;
    if (hooks && hooks->clock) g_hooks.clock = hooks->clock;
    if (hooks && hooks->sleep) g_hooks.sleep = hooks->sleep;
}

int64_t MainLoop_Clock() { return g_hooks.clock(); }

void EnterMainLoop()
{
    const int64_t now = MainLoop_Clock();
    MainLoop_LastFrameEnd = now;
    g_secondStart = now;
    g_frameCount = 0;
    MainLoop_Fps = 0;
    MainLoop_FramesRun = 0;
    ProcessMessages();
    DebugConsole->Output("**********************************.\n");
    DebugConsole->Output("Entering main loop.\n");
    DebugConsole->Output("**********************************.\n");
    Step_SetClock(now);
    Stages_Reset();
}

void MainLoopTick() { MainLoop_Frame(); }

int64_t MainLoop_Frame()
{
    Profiler_BeginFrame();
    MemoryManager::Tick();
    const int64_t now = MainLoop_Clock();
    // A clock that went back moves the reference to the present instead of giving negative budgets.
    if (now < MainLoop_LastFrameEnd) MainLoop_LastFrameEnd = now;

    // The budget comes from the rate itself: a game speed below one frame per second still gets its long
    // frames, where the whole-number target would be 0.
    double rate = 60.0;
    if (g_GameData.newMode) {
        FrameTimer_Tick(&g_GameTimer);
        if (g_GameTimer.fps > 0.0) rate = FrameTimer_GetFPS(&g_GameTimer);
    } else if (Run_Room) {
        // A room speed of 0 or less is corrected in the room itself.
        if (Run_Room->speed <= 0) Run_Room->speed = 1;
        rate = Run_Room->speed;
    }
    MainLoop_FpsTarget = Real_ToInt32(rate);

    int64_t frameDelta = now - MainLoop_LastFrameEnd;
    if (Profiler_Active) frameDelta -= Profiler_LastFrameOverhead;

    int64_t budget = 0;
    if (!(g_GameData.newMode && g_GameTimer.fps <= 0.0) && !MainLoop_Unpaced()) {
        double wanted = 1000000.0 / rate - double(frameDelta);
        if (wanted < 0.0) wanted = 0.0;
        // A rate so small that its frame overflows the clock waits the longest frame, like any long one.
        if (wanted > double(kMainLoopMaxBudget) * 2.0) wanted = double(kMainLoopMaxBudget) * 2.0;
        budget = Real_ToInt64(wanted);
        if (float(budget) > float(kMainLoopMaxBudget)) budget = kMainLoopMaxBudget;
    }

    MainLoop_Budget = 0;
    if (Debug_FrameLimiting) {
        if (Options_AlternateSync()) budget = 0;
        MainLoop_Budget = budget;
        TimingBar_Begin(0xFF804040, "TimingWait");
        if (Profiler_Active) Profiler_Enter(6, 20);
        g_hooks.sleep(budget);
        if (Profiler_Active) Profiler_Leave();
        TimingBar_End();
    }
    if (!g_Running) {
        Profiler_EndFrame();
        return 60;
    }

    const int64_t t = MainLoop_Clock();
    MainLoop_LastFrameEnd = t;
    if (t < g_secondStart) g_secondStart = t;
    if (t / 1000000 > g_secondStart / 1000000) {
        MainLoop_Fps = g_frameCount;
        g_frameCount = 0;
        g_secondStart = t;
    }
    ++g_frameCount;

    SoundTick();
    if (!Debug_Paused) {
        if (MainLoop_DeviceResetCountdown > 1) {
            GR_ApplyWindowSize();
            --MainLoop_DeviceResetCountdown;
        } else if (MainLoop_DeviceResetCountdown == 1) {
            GR_D3D_ResetAll();
            MainLoop_DeviceResetCountdown = 0;
        }
        Start_Frame();
        if (Profiler_Active) Profiler_Enter(6, 1);
        DoAStep();
        if (Profiler_Active) Profiler_Leave();
        IO_DrawVirtualKeys();
        ReadBack_TestSnapshot(MainLoop_FramesRun + 1);  // the frame as drawn, before any present
        End_Frame(RoomChangeCode < 0 && g_DrawEventsEnabled);
        if (Launcher_GameChangePending()) RoomChangeCode = ROOM_CHANGE_GAME_CHANGE;

        ++MainLoop_FramesRun;
        const int32_t limit = MainLoop_FrameLimit();
        if (limit > 0 && MainLoop_FramesRun >= limit) RoomChangeCode = ROOM_CHANGE_GAME_END;

        const int32_t code = RoomChangeCode;
        if (code == ROOM_CHANGE_GAME_END || code == ROOM_CHANGE_GAME_CHANGE) {
            g_Running = false;
            return 60;
        }
        MainLoop_ActOnCode(code);
    }
    Profiler_EndFrame();
    TickDebugger();
    return MainLoop_NextTarget();
}
