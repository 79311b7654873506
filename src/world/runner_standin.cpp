// Stand-ins for the start-up, main-loop and shutdown steps until those are built.
#include "world/runner.h"

#include "core/console.h"
#include "core/memory_manager.h"
#include "core/thread.h"
#include "lib/temp_directory.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "world/paths.h"
#include "world/run_state.h"

bool InitRunnerSystems()
{
    Platform_Init();
    TempDirectory_Init();
    ProcessMessages();
    return true;
}

void RunnerStartup()
{
    Thread_SetMainThreadMark(true);
    DebugConsole->Output("Start-up is not built yet: nothing to run.\n");
    g_Running = false;
}

void MainLoopTick() { g_Running = false; }
void EndGame() {}
void Runner_EndOfRun() {}
void Runner_Shutdown() {}

void ResetRunGlobals()
{
    GameFile_Set(nullptr);
    MemFree(g_WorkingDirectory);
    g_WorkingDirectory = nullptr;
    Paths_ResetRunCache();
}
