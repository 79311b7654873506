// File areas: where a script's file name lives. Reads look in the save area and the game area;
// writes go to the save area. Outside paths work only when a dialog or the workshop put them on an
// allow list.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

struct FileArea_AllowEntry {
    FileArea_AllowEntry* next;
    char* path;  // private copy of a full path
    bool isDirectory;
};

// Newest entry first; entries are never removed.
struct FileArea_AllowList {
    FileArea_AllowEntry* head = nullptr;
};

// Files the user picked in an open dialog; consulted by GameArea_ResolvePath only.
extern FileArea_AllowList FileArea_OpenAllowList;
// Files picked in a save dialog and folders granted by buffers and the workshop; SaveArea_ResolvePath only.
extern FileArea_AllowList FileArea_SaveAllowList;

// An empty path is ignored: as a folder entry it would grant every path.
void FileArea_AddAllowed(FileArea_AllowList* list, const char* path, bool isDirectory);
// File entries match ignoring case; folder entries are case-sensitive prefixes.
bool FileArea_IsAllowed(const FileArea_AllowList* list, const char* fullPath);
bool FileArea_IsAllowedDirectory(const FileArea_AllowList* list, const char* fullPath);

// Turn a script name into a full path in the area, written NUL-terminated into out. Refused names and
// results that do not fit the capacity leave out empty and return false.
bool GameArea_ResolvePath(char* out, size_t capacity, const char* name);
bool SaveArea_ResolvePath(char* out, size_t capacity, const char* name);

// Whole file in a new memory-manager block (an empty file gives a 1-byte block and size 0); null when it
// cannot be opened or is not a regular file. outSize may be null.
void* File_ReadAll(const char* path, int32_t* outSize);
bool File_CanOpen(const char* path);
FILE* File_OpenUtf8(const char* name, const char* mode);

void* SaveArea_ReadFile(const char* name, int32_t* outSize);
void* GameArea_ReadFile(const char* name, int32_t* outSize);
bool SaveArea_FileExists(const char* name);
bool GameArea_FileExists(const char* name);
// Creates missing parent folders; false only when the file cannot be created.
bool SaveArea_WriteFile(const char* name, const void* data, int32_t size);
bool SaveArea_DeleteFile(const char* name);

// Creates the folder part of a full path with its missing parents; false when it has no separator.
bool FilePath_CreateParentDirectory(const char* path);
// New text: everything before the last '\' (or, without one, the last '/'); empty when neither.
char* FilePath_GetDirectory(const char* path);
// Creates a folder and its missing parents; true when it exists afterwards.
bool Directory_CreateTree(const char* path);

// Called once by the loader; the areas keep no state to prepare.
void FileAreas_Init();
