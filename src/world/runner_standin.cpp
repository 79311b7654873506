// Stand-ins for the start-up, main-loop and shutdown steps until those are built.
#include "world/runner.h"

#include "core/console.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/thread.h"
#include "core/timing.h"
#include "lib/temp_directory.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "world/loader.h"
#include "world/loader_standin.h"
#include "world/object_base.h"
#include "world/paths.h"
#include "world/run_state.h"

bool InitRunnerSystems()
{
    Timing_Init();
    Platform_Init();
    TempDirectory_Init();
    ProcessMessages();
    return true;
}

void RunnerStartup()
{
    g_Running = false;
    DebugConsole->Output("\n***************************************\n*     Tarko Games Runner v%d.%d(%d)[r%d]    *\n"
                         "***************************************\t \n",
                         1, 0, 999, 32908);
    Thread_SetMainThreadMark(true);
    if (!RunnerLoadGame()) return;
    DebugConsole->Output("Get Resolution\n");
    if (!Wad_ReadHeader(g_GameData.data, g_GameData.length)) {
        // Damage ends the run like missing data; an unresolved name was reported already.
        if (g_GameData.damaged) Loader_GameUnusable();
        return;
    }
    DebugConsole->Output("Do The Work\n");
    if (!LoadGameData()) {
        DebugConsole->Output("Failed to load the game\n");
        return;
    }
    DebugConsole->Output("Start-up is not built yet: nothing to run.\n");
}

// Registers every built-in function group once they exist.
void InitKSLFunctions()
{
    SeamTrace_Record("InitKSLFunctions");
    g_LoaderStandins.kslCalls++;
}

void MainLoopTick() { g_Running = false; }
void EndGame() {}
void Runner_EndOfRun() {}
void Runner_Shutdown() { UnloadGameData(); }

void ResetRunGlobals()
{
    if (g_GlobalObject) ObjectBase_Free(g_GlobalObject);
    g_GlobalObject = nullptr;
    GameFile_Set(nullptr);
    MemFree(g_WorkingDirectory);
    g_WorkingDirectory = nullptr;
    Paths_ResetRunCache();
}
