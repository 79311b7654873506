#include "world/paths.h"

#include "core/console.h"
#include "core/memory_manager.h"
#include "core/text.h"
#include "world/run_state.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <initializer_list>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

char* g_executablePath = nullptr;
char* g_executableDirectory = nullptr;
char* g_gameFileDirectory = nullptr;
char* g_savePrePend = nullptr;

char* CopyOf(std::string_view text)
{
    char* copy = static_cast<char*>(MemoryManager::Alloc(text.size() + 1, __FILE__, __LINE__, true));
    std::memcpy(copy, text.data(), text.size());
    return copy;
}

// "dir/" of a path: everything up to and including the last '/' (or '\'); "/" when there is none.
char* DirectoryOf(const char* path)
{
    std::string_view p(path);
    size_t cut = p.rfind('/');
    if (cut == std::string_view::npos) cut = p.rfind('\\');
    if (cut == std::string_view::npos) return CopyOf("/");
    std::string dir(p.substr(0, cut));
    dir += '/';
    return CopyOf(dir);
}

// An environment folder counts only when it is set, non-empty and absolute.
const char* AbsoluteEnv(const char* name)
{
    const char* value = std::getenv(name);
    return (value && value[0] == '/') ? value : nullptr;
}

std::string HomeFolder()
{
    if (const char* home = AbsoluteEnv("HOME")) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') return pw->pw_dir;
    return {};
}

// The user's data folder, or its config folder when the game keeps its saves there.
std::string UserFolder(bool config)
{
    if (const char* xdg = AbsoluteEnv(config ? "XDG_CONFIG_HOME" : "XDG_DATA_HOME")) return xdg;
    std::string home = HomeFolder();
    if (home.empty()) return {};
    return home + (config ? "/.config" : "/.local/share");
}

// A project name becomes one folder name: '/' would nest or escape the save folder.
std::string SaveFolderName(std::string_view project)
{
    if (project == "." || project == "..") return "_";
    std::string name(project);
    for (char& c : name)
        if (c == '/') c = '_';
    return name;
}

bool IsUnsafeComponent(std::string_view part) { return part.empty() || part == "." || part == ".."; }

// Never replaces an existing file.
bool MoveNoReplace(const char* from, const char* to)
{
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without no-replace renames: a hard link refuses an existing target too.
    if (link(from, to) != 0) return false;
    unlink(from);
    return true;
}

}  // namespace

const char* GetExecutablePath()
{
    if (g_executablePath) return g_executablePath;
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            buffer.clear();
            break;
        }
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    g_executablePath = CopyOf(buffer);
    return g_executablePath;
}

const char* GetExecutableDirectory()
{
    if (!g_executableDirectory) g_executableDirectory = DirectoryOf(GetExecutablePath());
    return g_executableDirectory;
}

const char* GetGameFileDirectory()
{
    if (!g_gameFileDirectory) g_gameFileDirectory = DirectoryOf(g_GameFile ? g_GameFile : GetExecutablePath());
    return g_gameFileDirectory;
}

const char* GetSavePrePend()
{
    if (g_savePrePend && *g_savePrePend) return g_savePrePend;
    if (!g_savePrePend) g_savePrePend = CopyOf("");
    if (!g_ProjectName || !*g_ProjectName) return g_savePrePend;

    std::string folder = UserFolder((g_WindowFlags & 0x2000) != 0);
    if (folder.empty()) return g_savePrePend;
    std::string prefix = folder + '/' + SaveFolderName(g_ProjectName) + '/';
    MemFree(g_savePrePend);
    g_savePrePend = CopyOf(prefix);
    DebugConsole->Output("SavePrePend = %s\n", g_savePrePend);
    return g_savePrePend;
}

void SavePrePend_Set(const char* prefix)
{
    MemFree(g_savePrePend);
    g_savePrePend = CopyOf(prefix ? prefix : "");
}

void Paths_ResetRunCache()
{
    MemFree(g_gameFileDirectory);
    g_gameFileDirectory = nullptr;
}

void Paths_ResetAll()
{
    for (char** slot : {&g_executablePath, &g_executableDirectory, &g_gameFileDirectory, &g_savePrePend}) {
        MemFree(*slot);
        *slot = nullptr;
    }
}

bool UnflattenPath(const char* name)
{
    std::string_view flat(name);
    if (flat.find('@') == std::string_view::npos) return false;

    // Every part must be a plain name, so nothing is moved out of the current folder.
    for (size_t start = 0;;) {
        size_t at = flat.find('@', start);
        if (IsUnsafeComponent(flat.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start)))
            return false;
        if (at == std::string_view::npos) break;
        start = at + 1;
    }

    std::string target(flat);
    for (size_t at = target.find('@'); at != std::string::npos; at = target.find('@', at + 1)) {
        target[at] = '\0';
        mkdir(target.c_str(), 0777);  // an existing folder, or a failure, is not an error here
        target[at] = '/';
    }
    return MoveNoReplace(name, target.c_str());
}

void UnflattenFiles()
{
    DIR* dir = opendir(".");
    if (!dir) return;
    // Collect first: moving files while reading the folder could skip or repeat entries.
    std::string names;
    while (const dirent* entry = readdir(dir)) {
        const char* n = entry->d_name;
        if (n[0] == '.' || !std::strchr(n, '@')) continue;  // hidden files stay
        struct stat st;
        if (lstat(n, &st) != 0 || !S_ISREG(st.st_mode)) continue;  // folders, links and devices stay
        if (!(st.st_mode & S_IWUSR)) continue;                        // read-only files stay
        names.append(n).push_back('\0');
    }
    closedir(dir);
    for (size_t pos = 0; pos < names.size(); pos += std::strlen(names.c_str() + pos) + 1)
        UnflattenPath(names.c_str() + pos);
}
