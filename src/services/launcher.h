// The launcher: a game may ask the runtime to run another game, and to come back afterwards.
#pragma once

struct GameChangeRequest {
    char* nextGame;        // full path of the game to run next, null when none is pending
    char* returnGame;      // game to run when that one ends (the exit file), or null
    char* nextSavePrefix;  // save-area prefix of the next game, or null
};
extern GameChangeRequest g_GameChange;

// The game file this runtime loaded first (remembered by the loader); the default return game.
extern char* g_LauncherOwnGameFile;
// The text of a "kvplayer:" launch argument; null when there was none.
extern char* g_LaunchArgs;

// Sets the pending game change (copies each text; null return game: none).
void Launcher_RequestGameChange(const char* nextGame, const char* returnGame, const char* nextSavePrefix);
bool Launcher_GameChangePending();
// Frees the request's texts.
void Launcher_ClearRequest();
void Launcher_SetLaunchArgs(const char* text);  // copies; null clears
