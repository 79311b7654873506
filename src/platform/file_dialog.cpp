// The open-file dialog for a game file: zenity's file chooser, when there is someone to ask, a display
// for its window and zenity is installed.
#include "core/memory_manager.h"
#include "platform/hooks.h"
#include "world/loader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The first executable "zenity" along PATH; empty when there is none.
std::string FileDialog_FindZenity()
{
    const char* path = std::getenv("PATH");
    if (!path) return {};
    std::string_view rest(path);
    while (true) {
        size_t colon = rest.find(':');
        std::string_view dir = rest.substr(0, colon);
        std::string candidate = dir.empty() ? std::string("./zenity") : std::string(dir) + "/zenity";
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos) return {};
        rest.remove_prefix(colon + 1);
    }
}

enum class ChooserRun { Picked, Closed, NotStarted };

// Runs the chooser; Picked (its output in *chosen) when it exited with status 0.
ChooserRun FileDialog_RunZenity(const std::string& program, std::string* chosen)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return ChooserRun::NotStarted;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const char* argv[] = {"zenity", "--file-selection", "--title=Open", "--file-filter=All Files (*.*) | *", nullptr};
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return ChooserRun::NotStarted;
    }
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fds[0], buffer, sizeof buffer);
        if (got > 0) chosen->append(buffer, size_t(got));
        else if (got == 0 || errno != EINTR) break;
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ChooserRun::Picked : ChooserRun::Closed;
}

char* FileDialog_Copy(const std::string& text)
{
    auto* copy = static_cast<char*>(MemoryManager::Alloc(text.size() + 1, __FILE__, __LINE__, false));
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

}  // namespace

char* ChooseGameFile(bool* offered)
{
    if (offered) *offered = true;
    // A scripted answer, or dialogs refused: no chooser runs. The chooser brings its own window, so our
    // video driver does not matter, but it needs a display to put it on.
    DialogRequest request{"open", "Open", "Choose a game file", nullptr};
    DialogAnswer answer;
    if (Platform_DialogAnswerIf(request, &answer, Platform_DialogsRefused()))
        return answer.accepted && !answer.text.empty() ? FileDialog_Copy(answer.text) : nullptr;

    std::string program = Platform_HasDisplay() ? FileDialog_FindZenity() : std::string();
    std::string chosen;
    ChooserRun run = program.empty() ? ChooserRun::NotStarted : FileDialog_RunZenity(program, &chosen);
    if (run == ChooserRun::NotStarted && offered) *offered = false;
    if (run != ChooserRun::Picked) return nullptr;
    // One line: the path as the chooser printed it (UTF-8).
    if (!chosen.empty() && chosen.back() == '\n') chosen.pop_back();
    if (chosen.empty() || chosen.find('\0') != std::string::npos) return nullptr;
    return FileDialog_Copy(chosen);
}
