#include "world/runner.h"

#include "core/error.h"
#include "core/memory_manager.h"
#include "core/text.h"
#include "input/input.h"
#include "lib/file_areas.h"
#include "platform/crash_handlers.h"
#include "platform/messages.h"
#include "services/launcher.h"
#include "world/command_line.h"
#include "world/paths.h"
#include "world/run_state.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

void CopyPointerStates() { std::memcpy(g_PointerSnapshot, g_PointerStates, sizeof g_PointerSnapshot); }

const RunCycleSteps kDefaultSteps = {
    InitRunnerSystems, RunnerStartup, CopyPointerStates, MainLoopTick, ProcessMessages, EndGame,
    Runner_EndOfRun,   Window_PostQuit, Runner_Shutdown, ResetRunGlobals, Platform_InstallHeadlessHandlers,
};
const RunCycleSteps* g_steps = &kDefaultSteps;

char* CopyOf(const std::string& text) { return String_Duplicate(text.c_str()); }

// Step 6: the game file as a full, lexically normal path (no existence check, links kept).
void MakeGameFileAbsolute()
{
    if (!g_GameFile) return;
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(g_GameFile, ec);
    if (ec) return;
    GameFile_Set(full.lexically_normal().c_str());
}

}  // namespace

const RunCycleSteps& RunCycle_DefaultSteps() { return kDefaultSteps; }
void RunCycle_SetSteps(const RunCycleSteps* steps) { g_steps = steps ? steps : &kDefaultSteps; }

int WinMain(int argc, const char* const* argv)
{
    MemFree(g_RawCommandLine);
    g_RawCommandLine = CommandLine_FromArgv(argc, argv);
    UnflattenFiles();

    int status = 0;
    do {
        g_RestartFlag = false;

        std::string dataWin = std::string(GetExecutableDirectory()) + "data.win";
        if (File_CanOpen(dataWin.c_str())) GameFile_Set(dataWin.c_str());

        ParseCommandLine(g_RawCommandLine);
        if (g_RunFlags.headless) g_steps->installHeadlessHandlers();
        MakeGameFileAbsolute();

        g_steps->initRunnerSystems();
        g_steps->runnerStartup();

        bool enteredMainLoop = false;
        while (g_Running) {
            enteredMainLoop = true;
            g_steps->copyPointerStates();
            g_steps->mainLoopTick();
            g_steps->processMessages();
        }

        g_steps->endGame();
        g_steps->endOfRun();
        g_steps->postQuit();
        g_steps->shutdown();
        PrepareGameChange();
        g_steps->resetRunGlobals();
        g_FirstRun = false;
        // A run whose start-up failed is a failure, even when nobody was there to see it.
        status = enteredMainLoop ? 0 : 1;
    } while (g_RestartFlag);
    return status;
}

void PrepareGameChange()
{
    std::string next;
    if (Launcher_GameChangePending()) {
        next = std::string("-game \"") + g_GameChange.nextGame + "\"";
        if (g_GameChange.returnGame) next += std::string(" -exit \"") + g_GameChange.returnGame + "\"";
        std::printf("%s\n", next.c_str());
        std::fflush(stdout);
        g_ChildGame = g_GameChange.returnGame != nullptr;
        // A child game's load failures and fatal errors end only that game, so its exit file still runs.
        g_GameChanging = g_ChildGame;
        g_ErrorQuitting = false;
        SavePrePend_Set(g_GameChange.nextSavePrefix);
        Launcher_ClearRequest();
    } else if (g_RunFlags.exitFile) {
        next = std::string("-game \"") + g_RunFlags.exitFile + "\"";
        g_ChildGame = false;
        g_GameChanging = false;
        // The game that aborted is over; the next one reports its own errors.
        g_ErrorQuitting = false;
        MemFree(g_RunFlags.exitFile);
        g_RunFlags.exitFile = nullptr;
        SavePrePend_Set("");
        MemFree(g_ProjectName);
        g_ProjectName = String_Duplicate("");
    } else {
        return;
    }
    g_RestartFlag = true;
    MemFree(g_RawCommandLine);
    g_RawCommandLine = CopyOf(next);
}
