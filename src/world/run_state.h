// Run-wide state of the entry point and the run cycle.
#pragma once
#include <cstdint>

extern bool g_Running;     // 1 while the main loop runs
extern bool g_RestartFlag; // another run cycle follows this one
extern bool g_FirstRun;    // 1 until the first run cycle has ended
extern char* g_GameFile;   // game data file of this run, or null
extern bool g_ChildGame;   // started by a game change with an exit file

// Header fields the entry point needs before the loader owns them.
extern char* g_ProjectName;    // names the save folder
extern uint32_t g_WindowFlags; // bit 13: save area under the config folder

void GameFile_Set(const char* path);  // copies; null or empty clears

// working_directory: the game file's folder with its trailing '/', set while the game loads; null before.
extern char* g_WorkingDirectory;

// The game globals a run starts with and room flow resets: score, lives, the cursor sprite (-1 none), the
// kind of room transition, and the frame counter (advanced after each step; the event trace shows it).
extern int32_t g_Score;
extern int32_t g_Lives;
extern int32_t g_CursorSprite;
extern int32_t g_TransitionKind;
extern int64_t g_FrameCounter;
// The classic counters and their captions (reference-counted texts, one reference held here).
struct RefString;
extern double g_Health;
extern bool g_ShowScore;
extern bool g_ShowLives;
extern bool g_ShowHealth;
extern bool g_CaptionsSet;
extern RefString* g_CaptionScore;
extern RefString* g_CaptionLives;
extern RefString* g_CaptionHealth;
// Drawing of the draw events: while off, the step draws nothing and the frame is not presented.
extern bool g_DrawEventsEnabled;
