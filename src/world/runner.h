// The run cycle: early initialisation, start-up, the main loop, end of game, shutdown, and again
// with a new command line when a game change asked for it.
#pragma once

// The process entry: runs run cycles until no restart is asked for. Returns the exit status:
// 1 when the last cycle never entered its main loop, else 0.
int WinMain(int argc, const char* const* argv);

// Builds the next command line after a run: a requested game change, else the -exit file.
void PrepareGameChange();

// Steps the run cycle calls; built by start-up, the main loop and room flow.
bool InitRunnerSystems();
void RunnerStartup();
void InitKSLFunctions();  // registers every built-in function (pass 1, for the header chunk)
void MainLoopTick();
void EnterMainLoop();  // Run_Start hands over to the main loop
void EndGame();
void Runner_EndOfRun();
void Runner_Shutdown();
void ResetRunGlobals();

// The stages of start-up: each false leaves the running flag off, so the main loop does not run.
bool StartGame();        // pass 2, preparation, the first room
bool GraphicsStartup();  // the display mode, the device, the resource textures
bool PrepareGame();      // a failing step shows its message and stops the preparation
// The run's counters, captions and switches to their starting values.
void InitScoreCaptions();
// ksl_release_mode: the built-ins that check their arguments (checks on) or the faster ones.
void SetReleaseMode(bool checksOn);
extern bool g_ReleaseChecks;  // on by default
// Tests follow the shutdown through this hook: one call per step, with the step's name.
using RunnerStepHook = void (*)(const char* step);
void Runner_SetStepHook(RunnerStepHook hook);  // null removes it

// The run cycle calls its steps through this table so that tests can put recording fakes in.
struct RunCycleSteps {
    bool (*initRunnerSystems)();
    void (*runnerStartup)();
    void (*copyPointerStates)();
    void (*mainLoopTick)();
    void (*processMessages)();
    void (*endGame)();
    void (*endOfRun)();
    void (*postQuit)();
    void (*shutdown)();
    void (*resetRunGlobals)();
    void (*installHeadlessHandlers)();
};
const RunCycleSteps& RunCycle_DefaultSteps();
void RunCycle_SetSteps(const RunCycleSteps* steps);  // null restores the defaults
