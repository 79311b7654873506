// Stand-ins for the start-up, main-loop and shutdown steps until those are built.
#include "world/runner.h"

#include "core/console.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/random.h"
#include "core/script.h"
#include "core/seam_trace.h"
#include "core/thread.h"
#include "core/timing.h"
#include "core/variables.h"
#include "input/input.h"
#include "lib/builtins_misc.h"
#include "lib/temp_directory.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "world/loader.h"
#include "world/loader_standin.h"
#include "world/object.h"
#include "world/object_base.h"
#include "world/paths.h"
#include "world/room.h"
#include "world/room_change.h"
#include "world/roomflow.h"
#include "world/run_state.h"

bool InitRunnerSystems()
{
    Timing_Init();
    Platform_Init();
    TempDirectory_Init();
    ProcessMessages();
    return true;
}

namespace {

// Of the preparation steps only the scripts exist yet: compiling them runs the game's GLOB code.
bool PrepareGameStandin()
{
    DebugConsole->Output("Script_Prepare() \n");
    if (!Script_Prepare()) {
        ShowMessageBox("Failed to compile the scripts.");
        return false;
    }
    DebugConsole->Output("InitGraphics() \n");
    DebugConsole->Output("Finished PrepareGame() \n");
    return true;
}

// A failure leaves the running flag off, so the run ends with status 1.
void StartGameStandin()
{
    Random_Seed(2101988);
    if (!LoadGameData()) {
        DebugConsole->Output("Failed to load the game\n");
        return;
    }
    Variable_InitFlags();
    DebugConsole->Output("PrepareGame()\n");
    if (!PrepareGameStandin()) return;
    DebugConsole->Output("Run_Start\n");
    Run_Start();
}

}  // namespace

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
    StartGameStandin();
}

// Registers the built-in function groups that exist so far.
void InitKSLFunctions()
{
    SeamTrace_Record("InitKSLFunctions");
    g_LoaderStandins.kslCalls++;
    InitMiscFunctions();
}

void Runner_EndOfRun() {}
void Runner_Shutdown()
{
    // The next run cycle registers the built-ins again.
    Function_Free();
    // Rooms, their instances and the objects' event code are named by the game data: they go before it.
    FreePersistentInstances();
    Room_FreeAll();
    Object_FreeAll();
    UnloadGameData();
}

void ResetRunGlobals()
{
    if (g_GlobalObject) ObjectBase_Free(g_GlobalObject);
    g_GlobalObject = nullptr;
    GameFile_Set(nullptr);
    MemFree(g_WorkingDirectory);
    g_WorkingDirectory = nullptr;
    Paths_ResetRunCache();
}
