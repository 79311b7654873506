#include "services/launcher.h"

#include "core/memory_manager.h"
#include "core/text.h"

GameChangeRequest g_GameChange = {nullptr, nullptr, nullptr};
char* g_LauncherOwnGameFile = nullptr;
char* g_LaunchArgs = nullptr;

namespace {
void Replace(char** slot, const char* text)
{
    MemFree(*slot);
    *slot = String_Duplicate(text);
}
}  // namespace

void Launcher_RequestGameChange(const char* nextGame, const char* returnGame, const char* nextSavePrefix)
{
    Replace(&g_GameChange.nextGame, nextGame);
    Replace(&g_GameChange.returnGame, returnGame);
    Replace(&g_GameChange.nextSavePrefix, nextSavePrefix);
}

bool Launcher_GameChangePending() { return g_GameChange.nextGame != nullptr; }

void Launcher_ClearRequest()
{
    Replace(&g_GameChange.nextGame, nullptr);
    Replace(&g_GameChange.returnGame, nullptr);
    Replace(&g_GameChange.nextSavePrefix, nullptr);
}

void Launcher_SetLaunchArgs(const char* text) { Replace(&g_LaunchArgs, text); }
