// Paths the entry point computes: the executable, the game file's folder, the save prefix,
// and the unflattening of "@" names in the current folder.
#pragma once

// Full path of the running executable (from /proc/self/exe); cached for the process.
const char* GetExecutablePath();
// The executable's folder with a trailing '/'.
const char* GetExecutableDirectory();
// The game file's folder with a trailing '/' ("/" when the path has no separator); the executable's
// folder when there is no game file. Cached until ResetRunGlobals.
const char* GetGameFileDirectory();
// The save-area prefix: data folder + '/' + project name + '/'; empty while there is no project name
// or no folder. Cached across runs.
const char* GetSavePrePend();
void SavePrePend_Set(const char* prefix);  // copies; a game change installs the requested folder
void Paths_ResetRunCache();                // frees the cached game-file folder (end of each run)
void Paths_ResetAll();                     // tests: forget every cached path

// Moves every regular file of the current folder whose name holds '@' into the folders it names.
void UnflattenFiles();
// Returns true when the file was moved.
bool UnflattenPath(const char* name);
