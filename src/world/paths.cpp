#include "world/paths.h"

#include "core/console.h"
#include "core/memory_manager.h"
#include "core/text.h"
#include "world/run_state.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <initializer_list>
#include <fcntl.h>
#include <linux/openat2.h>
#include <pwd.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

char* g_executablePath = nullptr;
char* g_executableDirectory = nullptr;
char* g_gameFileDirectory = nullptr;
char* g_savePrePend = nullptr;
// Set while a project name asks for a save folder and no home gives one.
bool g_saveHomeMissing = false;
const char* (*g_homeLookup)() = nullptr;

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

// The password entry's home; the reentrant call, as other threads may look up users too.
std::string PasswordHome()
{
    if (g_homeLookup) {
        const char* home = g_homeLookup();
        return (home && home[0] == '/') ? home : "";
    }
    long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 1024);
    passwd entry;
    passwd* found = nullptr;
    int rc;
    while ((rc = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (rc != 0 || !found || !found->pw_dir || found->pw_dir[0] != '/') return {};
    return found->pw_dir;
}

std::string HomeFolder()
{
    if (const char* home = AbsoluteEnv("HOME")) return home;
    return PasswordHome();
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

// The path with every link followed and "." and ".." folded, as the kernel would walk it. Once a part
// does not exist the rest is taken as written: a write creates it. Empty when a link loops, a part cannot
// be examined, or a relative path has no current folder.
std::string FollowLinks(const char* path)
{
    if (!path || !*path) return {};
    std::string pending;
    if (path[0] != '/') {
        pending = Paths_CurrentDirectory();
        if (pending.empty()) return {};
        pending += '/';
    }
    pending += path;

    std::string done;  // no trailing '/'; empty stands for "/"
    bool missing = false;
    int links = 0;
    size_t pos = 0;
    while (pos <= pending.size()) {
        size_t end = pending.find('/', pos);
        if (end == std::string::npos) end = pending.size();
        std::string part = pending.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            done.resize(done.rfind('/') == std::string::npos ? 0 : done.rfind('/'));
            missing = false;  // back where links may be again: walk on as the kernel would
            continue;
        }
        std::string next = done + '/' + part;
        struct stat info;
        if (missing || lstat(next.c_str(), &info) != 0) {
            // A missing part, or a file used as a folder: nothing further exists to hold a link.
            if (!missing && errno != ENOENT && errno != ENOTDIR) return {};
            missing = true;
            done = std::move(next);
            continue;
        }
        if (!S_ISLNK(info.st_mode)) {
            done = std::move(next);
            continue;
        }
        if (++links > 40) return {};  // the kernel's own limit; a loop ends here
        std::string target(PATH_MAX, '\0');
        ssize_t n = readlink(next.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) return {};
        target.resize(static_cast<size_t>(n));
        if (target[0] == '/') done.clear();
        if (pos < pending.size()) target += '/' + pending.substr(pos);
        pending = std::move(target);
        pos = 0;
    }
    return done.empty() ? "/" : done;
}

// The part of a followed path below a followed folder: "." for the folder itself; false when outside.
bool PartInside(const std::string& folder, const std::string& path, std::string* part)
{
    if (folder.empty() || path.empty()) return false;
    if (path == folder) {
        *part = ".";
        return true;
    }
    size_t skip = folder == "/" ? 1 : folder.size() + 1;
    if (folder != "/" && (path.compare(0, folder.size(), folder) != 0 || path[folder.size()] != '/')) return false;
    *part = path.substr(skip);
    return true;
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
    g_saveHomeMissing = folder.empty();
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
    g_saveHomeMissing = false;
}

bool SavePrePend_AllowsWrite(const char* path)
{
    GetSavePrePend();
    if (!g_saveHomeMissing) return true;
    DebugConsole->Output("Error! no home folder to keep saves in, not writing '%s'\n", path ? path : "");
    return false;
}

std::string Paths_CurrentDirectory()
{
    std::string buffer(256, '\0');
    for (;;) {
        if (getcwd(buffer.data(), buffer.size())) {
            buffer.resize(std::strlen(buffer.c_str()));
            return buffer;
        }
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
}

void Paths_SetHomeLookup(const char* (*lookup)()) { g_homeLookup = lookup; }

bool Paths_StaysInside(const char* folder, const char* path)
{
    std::string part;
    return PartInside(FollowLinks(folder), FollowLinks(path), &part);
}

int Paths_OpenInside(const char* folder, const char* path, int flags, mode_t mode)
{
    std::string root = FollowLinks(folder), part;
    if (!PartInside(root, FollowLinks(path), &part)) {
        errno = EXDEV;
        return -1;
    }
    int dir = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return -1;
    // Every link is already followed, so none may appear between the check and the open.
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd = syscall(SYS_openat2, dir, part.c_str(), &how, sizeof how);
    // Older kernels: the final part at least must not be a link.
    if (fd < 0 && errno == ENOSYS) fd = openat(dir, part.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, mode);
    int saved = errno;
    close(dir);
    errno = saved;
    return static_cast<int>(fd);
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
    g_saveHomeMissing = false;
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
