#include "lib/file_areas.h"

#include "core/console.h"
#include "core/memory_manager.h"
#include "core/text.h"
#include "world/paths.h"
#include "world/run_state.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

FileArea_AllowList FileArea_OpenAllowList;
FileArea_AllowList FileArea_SaveAllowList;

namespace {

constexpr size_t kFileAreasPathCapacity = 2048;
constexpr size_t kFileAreasStreamBuffer = 32 * 1024;

// Read fresh each time: scripts and dialogs may change it.
std::string FileAreas_CurrentDirectory() { return Paths_CurrentDirectory(); }

// The absolute form of a name: taken from the current folder when relative, "." and ".." folded away,
// links left alone. It keeps a trailing '/' only when the name had one. False when there is none.
bool FileAreas_FullPath(const char* name, const std::string& cwd, std::string* full)
{
    size_t length = std::strlen(name);
    if (length == 0) return false;
    std::filesystem::path path;
    if (name[0] == '/') {
        path = name;
    } else {
        if (cwd.empty()) return false;
        path = cwd;
        path /= name;
    }
    *full = path.lexically_normal().string();
    if (full->size() > 1 && full->back() == '/' && name[length - 1] != '/') full->pop_back();
    return true;
}

bool FileAreas_StartsWith(std::string_view text, std::string_view prefix)
{
    return !prefix.empty() && text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The part of full below a folder it begins with. The test is a plain prefix, so it can end inside a
// name: "/g../x" begins with "/g" and would leave "../x", which climbs out of any root it is put under.
bool FileAreas_PartBelow(std::string_view full, std::string_view folder, std::string* part)
{
    if (!FileAreas_StartsWith(full, folder)) return false;
    std::string_view rest = full.substr(folder.size());
    while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
    if (rest.substr(0, rest.find('/')) == "..") return false;
    part->assign(rest);
    return true;
}

std::string FileAreas_Join(std::string_view root, std::string_view part)
{
    std::string result(root);
    if (!result.empty() && result.back() != '/' && !part.empty()) result += '/';
    result += part;
    return result;
}

std::string_view FileAreas_WorkingDirectory()
{
    return g_WorkingDirectory ? std::string_view(g_WorkingDirectory) : std::string_view();
}

// Copies the result when it fits, terminator included; anything else leaves out empty.
bool FileAreas_Emit(char* out, size_t capacity, const std::string& result)
{
    if (!out || capacity == 0) return false;
    if (result.empty() || result.size() >= capacity) {
        out[0] = '\0';
        return false;
    }
    std::memcpy(out, result.c_str(), result.size() + 1);
    return true;
}

bool FileAreas_AllowedBy(const FileArea_AllowList* list, const char* fullPath, bool directoriesOnly)
{
    if (!list || !fullPath) return false;
    for (const FileArea_AllowEntry* entry = list->head; entry; entry = entry->next) {
        if (entry->isDirectory) {
            if (UTF8_CompareN(entry->path, fullPath, UTF8_Length(entry->path)) == 0) return true;
        } else if (!directoriesOnly && UTF8_CompareNoCase(entry->path, fullPath) == 0) {
            return true;
        }
    }
    return false;
}

// Folders only: a file named like the path is not a folder that exists.
bool FileAreas_IsFolder(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Opens for binary reading. Linux opens folders as streams; they do not count as files.
FILE* FileAreas_OpenForReading(const char* path)
{
    if (!path || !*path) return nullptr;
    FILE* file = std::fopen(path, "rb");
    if (!file) return nullptr;
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

}  // namespace

void FileArea_AddAllowed(FileArea_AllowList* list, const char* path, bool isDirectory)
{
    if (!list || !path || !*path) return;
    auto* entry = static_cast<FileArea_AllowEntry*>(MemAlloc(sizeof(FileArea_AllowEntry)));
    entry->next = list->head;
    entry->path = String_Duplicate(path);
    entry->isDirectory = isDirectory;
    list->head = entry;
}

bool FileArea_IsAllowed(const FileArea_AllowList* list, const char* fullPath)
{
    return FileAreas_AllowedBy(list, fullPath, false);
}

bool FileArea_IsAllowedDirectory(const FileArea_AllowList* list, const char* fullPath)
{
    return FileAreas_AllowedBy(list, fullPath, true);
}

bool GameArea_ResolvePath(char* out, size_t capacity, const char* name)
{
    if (out && capacity) out[0] = '\0';
    if (!name) return false;
    std::string cwd = FileAreas_CurrentDirectory(), full;
    if (!FileAreas_FullPath(name, cwd, &full)) return false;

    const char* gameRoot = GetGameFileDirectory();
    std::string_view root = gameRoot ? gameRoot : "";
    std::string_view working = FileAreas_WorkingDirectory();
    std::string part, result;
    if (FileAreas_StartsWith(full, cwd) && FileAreas_StartsWith(full, root)) {
        result = full;
    } else if (FileAreas_PartBelow(full, cwd, &part) || FileAreas_PartBelow(full, working, &part)) {
        result = FileAreas_Join(root, part);
    } else if (FileArea_IsAllowed(&FileArea_OpenAllowList, full.c_str())) {
        return FileAreas_Emit(out, capacity, full);
    }
    // The test above is textual; a link inside the folder must not lead out of it.
    if (!result.empty() && !Paths_StaysInside(std::string(root).c_str(), result.c_str())) result.clear();
    return FileAreas_Emit(out, capacity, result);
}

bool SaveArea_ResolvePath(char* out, size_t capacity, const char* name)
{
    if (out && capacity) out[0] = '\0';
    if (!name) return false;
    std::string cwd = FileAreas_CurrentDirectory(), full;
    if (!FileAreas_FullPath(name, cwd, &full)) return false;

    bool allowed = FileArea_IsAllowed(&FileArea_SaveAllowList, full.c_str());
    const char* saveRoot = GetSavePrePend();
    std::string_view root = saveRoot ? saveRoot : "";
    std::string part, result;
    bool insideAreas = true;
    if (FileAreas_PartBelow(full, cwd, &part) || FileAreas_PartBelow(full, FileAreas_WorkingDirectory(), &part)) {
        result = FileAreas_Join(root, part);
    } else if (FileAreas_StartsWith(full, root)) {
        result = full;
    } else {
        insideAreas = false;
        if (allowed) result = full;
        else DebugConsole->Output("Error! not allowing save with filename '%s'\n", full.c_str());
    }
    // The tests above are textual; a link inside the area must not lead out of it. Without a save folder
    // names stay relative to the current folder, which bounds them then.
    if (insideAreas && !allowed && !Paths_StaysInside(root.empty() ? cwd.c_str() : saveRoot, result.c_str())) {
        DebugConsole->Output("Error! not allowing save with filename '%s'\n", full.c_str());
        result.clear();
    }
    bool given = FileAreas_Emit(out, capacity, result);
    if (given && insideAreas && allowed) DebugConsole->Output("Warning! Save location - redirected to: '%s'\n", out);
    return given;
}

void* File_ReadAll(const char* path, int32_t* outSize)
{
    if (outSize) *outSize = 0;
    FILE* file = FileAreas_OpenForReading(path);
    if (!file) return nullptr;
    std::setvbuf(file, nullptr, _IOFBF, kFileAreasStreamBuffer);
    off_t end = -1;
    if (fseeko(file, 0, SEEK_END) == 0) end = ftello(file);
    // Sizes travel as 32-bit counts; a larger file cannot be handed on whole.
    if (end < 0 || end > INT32_MAX || fseeko(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }
    size_t size = static_cast<size_t>(end);
    auto* block = static_cast<unsigned char*>(MemAlloc(size ? size : 1));
    if (!block) {
        std::fclose(file);
        return nullptr;
    }
    block[0] = 0;
    size_t got = size ? std::fread(block, 1, size, file) : 0;
    std::fclose(file);
    if (outSize) *outSize = static_cast<int32_t>(got);
    return block;
}

bool File_CanOpen(const char* path)
{
    FILE* file = FileAreas_OpenForReading(path);
    if (!file) return false;
    std::fclose(file);
    return true;
}

FILE* File_OpenUtf8(const char* name, const char* mode)
{
    if (!name || !mode) return nullptr;
    return std::fopen(name, mode);
}

void* SaveArea_ReadFile(const char* name, int32_t* outSize)
{
    char path[kFileAreasPathCapacity];
    if (!SaveArea_ResolvePath(path, sizeof path, name)) {
        if (outSize) *outSize = 0;
        return nullptr;
    }
    return File_ReadAll(path, outSize);
}

void* GameArea_ReadFile(const char* name, int32_t* outSize)
{
    char path[kFileAreasPathCapacity];
    if (!GameArea_ResolvePath(path, sizeof path, name)) {
        if (outSize) *outSize = 0;
        return nullptr;
    }
    return File_ReadAll(path, outSize);
}

bool SaveArea_FileExists(const char* name)
{
    char path[kFileAreasPathCapacity];
    return SaveArea_ResolvePath(path, sizeof path, name) && File_CanOpen(path);
}

bool GameArea_FileExists(const char* name)
{
    char path[kFileAreasPathCapacity];
    return GameArea_ResolvePath(path, sizeof path, name) && File_CanOpen(path);
}

bool SaveArea_WriteFile(const char* name, const void* data, int32_t size)
{
    char path[kFileAreasPathCapacity];
    if (!SaveArea_ResolvePath(path, sizeof path, name)) return false;
    if (!SavePrePend_AllowsWrite(path)) return false;
    FilePath_CreateParentDirectory(path);
    FILE* file = nullptr;
    if (FileArea_IsAllowed(&FileArea_SaveAllowList, path)) {
        file = std::fopen(path, "wb");
    } else {
        // Opened beneath the area so a link put in since the check cannot lead out.
        std::string cwd = FileAreas_CurrentDirectory();
        const char* root = *GetSavePrePend() ? GetSavePrePend() : cwd.c_str();
        int fd = Paths_OpenInside(root, path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd >= 0 && !(file = fdopen(fd, "wb"))) close(fd);
    }
    if (!file) return false;
    if (data && size > 0) std::fwrite(data, 1, static_cast<size_t>(size), file);
    std::fclose(file);
    return true;
}

bool SaveArea_DeleteFile(const char* name)
{
    char path[kFileAreasPathCapacity];
    if (!SaveArea_ResolvePath(path, sizeof path, name) || !SavePrePend_AllowsWrite(path)) return false;
    // Files only, as the system's file deletion does; an empty folder of the same name stays.
    return unlink(path) == 0;
}

bool FilePath_CreateParentDirectory(const char* path)
{
    // A cut copy would create some other folder.
    if (!path || std::strlen(path) >= kFileAreasPathCapacity) return false;
    std::string_view text(path);
    size_t cut = text.rfind('\\');
    if (cut == std::string_view::npos) cut = text.rfind('/');
    if (cut == std::string_view::npos) return false;
    std::string folder(text.substr(0, cut));
    if (folder.empty() && text[0] == '/') folder = "/";
    return Directory_CreateTree(folder.c_str());
}

char* FilePath_GetDirectory(const char* path)
{
    std::string_view text = path ? path : "";
    size_t cut = text.rfind('\\');
    if (cut == std::string_view::npos) cut = text.rfind('/');
    if (cut == std::string_view::npos) cut = 0;
    auto* copy = static_cast<char*>(MemAlloc(cut + 1));
    std::memcpy(copy, text.data(), cut);
    copy[cut] = '\0';
    return copy;
}

bool Directory_CreateTree(const char* path)
{
    if (!path || !*path) return false;
    std::string target(path);
    while (target.size() > 1 && target.back() == '/') target.pop_back();

    // Walk up to the deepest folder that exists, then create the missing ones from the top. A loop, not
    // recursion: script-made paths can be deep.
    std::vector<size_t> missing;
    size_t length = target.size();
    for (;;) {
        std::string prefix = target.substr(0, length);
        struct stat info;
        if (stat(prefix.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) return false;
            break;
        }
        missing.push_back(length);
        size_t slash = target.rfind('/', length - 1);
        while (slash != std::string::npos && slash > 0 && target[slash - 1] == '/') --slash;
        if (slash == std::string::npos || slash == 0) break;
        length = slash;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        std::string prefix = target.substr(0, *it);
        if (mkdir(prefix.c_str(), 0777) != 0 && !(errno == EEXIST && FileAreas_IsFolder(prefix))) return false;
    }
    return true;
}

void FileAreas_Init() {}
