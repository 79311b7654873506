#include "world/run_state.h"

#include "core/memory_manager.h"
#include "core/text.h"

bool g_Running = false;
bool g_RestartFlag = false;
bool g_FirstRun = true;
char* g_GameFile = nullptr;
bool g_ChildGame = false;
char* g_ProjectName = nullptr;
uint32_t g_WindowFlags = 0;
char* g_WorkingDirectory = nullptr;
int32_t g_Score = 0;
int32_t g_Lives = -1;
int32_t g_CursorSprite = -1;
int32_t g_TransitionKind = 0;
int64_t g_FrameCounter = 0;
double g_Health = 100.0;
bool g_ShowScore = true;
bool g_ShowLives = false;
bool g_ShowHealth = false;
bool g_CaptionsSet = false;
RefString* g_CaptionScore = nullptr;
RefString* g_CaptionLives = nullptr;
RefString* g_CaptionHealth = nullptr;
bool g_DrawEventsEnabled = true;

void GameFile_Set(const char* path)
{
    MemFree(g_GameFile);
    g_GameFile = (path && *path) ? String_Duplicate(path) : nullptr;
}
