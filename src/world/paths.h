// Paths the entry point computes: the executable, the game file's folder, the save prefix,
// and the unflattening of "@" names in the current folder.
#pragma once
#include <string>
#include <sys/types.h>

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
// False, with one log line naming the path, when the save area has no folder because no home is known
// (no XDG folder, no HOME, no password-entry home): a write would otherwise land in the current folder.
bool SavePrePend_AllowsWrite(const char* path);
// Tests: replaces the password-entry lookup of the home folder; the function returns the folder, or null
// when the user has none. Null restores the real lookup.
void Paths_SetHomeLookup(const char* (*lookup)());
void Paths_ResetRunCache();                // frees the cached game-file folder (end of each run)
void Paths_ResetAll();                     // tests: forget every cached path

// The current folder, read afresh: no trailing '/' except for "/"; empty when the folder is gone.
std::string Paths_CurrentDirectory();

// Whether path, with every link in it followed, stays inside folder (the folder's own links are followed
// too, so an area kept behind a link still works). A missing tail - what a write is about to create - is
// taken as written. Relative paths start at the current folder. Loops and unreadable parts are refused.
bool Paths_StaysInside(const char* folder, const char* path);
// open(2) for a path that must stay inside folder; -1 with errno EXDEV when it leaves it. Where the kernel
// has openat2 the open happens beneath the folder with no links allowed, so a link put in after the check
// is refused as well.
int Paths_OpenInside(const char* folder, const char* path, int flags, mode_t mode);

// Moves every regular file of the current folder whose name holds '@' into the folders it names.
void UnflattenFiles();
// Returns true when the file was moved.
bool UnflattenPath(const char* name);
