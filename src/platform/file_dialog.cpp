// The file choosers: zenity's, when there is someone to ask, a display for its window and zenity is
// installed.
#include "platform/file_dialog.h"

#include "core/memory_manager.h"
#include "platform/hooks.h"
#include "world/loader.h"

#include <cerrno>
#include <cstdio>
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

DialogString Platform_FindZenity()
{
    const char* path = std::getenv("PATH");
    if (!path) return {};
    std::string_view rest(path);
    while (true) {
        size_t colon = rest.find(':');
        std::string_view dir = rest.substr(0, colon);
        DialogString candidate = dir.empty() ? DialogString("./zenity") : DialogString(dir) + "/zenity";
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos) return {};
        rest.remove_prefix(colon + 1);
    }
}

ZenityRun Platform_RunZenity(const DialogString& program, const DialogArguments& arguments, DialogString* printed)
{
    std::vector<char*, MemAllocator<char*>> argv;
    argv.push_back(const_cast<char*>("zenity"));
    for (const DialogString& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return ZenityRun::NotStarted;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return ZenityRun::NotStarted;
    }
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fds[0], buffer, sizeof buffer);
        if (got > 0) printed->append(buffer, size_t(got));
        else if (got == 0 || errno != EINTR) break;
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ZenityRun::Answered : ZenityRun::Closed;
}

namespace {

char* FileDialog_Copy(std::string_view text)
{
    auto* copy = static_cast<char*>(MemoryManager::Alloc(text.size() + 1, __FILE__, __LINE__, false));
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

// The chooser prints one line: the path (UTF-8). False when it printed nothing usable.
bool FileDialog_TakePath(DialogString* printed)
{
    if (!printed->empty() && printed->back() == '\n') printed->pop_back();
    return !printed->empty() && printed->find('\0') == DialogString::npos;
}

bool FileDialog_IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view FileDialog_Trim(std::string_view text)
{
    while (!text.empty() && FileDialog_IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && FileDialog_IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// One chooser filter "description | pattern pattern ...". "*.*" means every file here, as it does for the
// games' own filters; an empty pattern list means every file too.
DialogString FileDialog_FilterArgument(std::string_view description, std::string_view patterns)
{
    DialogString argument("--file-filter=");
    argument.append(FileDialog_Trim(description));
    argument += " |";
    bool any = false;
    while (true) {
        size_t semicolon = patterns.find(';');
        std::string_view pattern = FileDialog_Trim(patterns.substr(0, semicolon));
        if (!pattern.empty()) {
            argument += ' ';
            argument.append(pattern == "*.*" ? std::string_view("*") : pattern);
            any = true;
        }
        if (semicolon == std::string_view::npos) break;
        patterns.remove_prefix(semicolon + 1);
    }
    if (!any) argument += " *";
    return argument;
}

// The proposed file: the folder and the default name joined.
DialogString FileDialog_Proposed(const char* defaultName, const char* directory)
{
    DialogString proposed;
    if (directory && *directory) {
        proposed = directory;
        if (proposed.back() != '/') proposed += '/';
    }
    if (defaultName) proposed += defaultName;
    return proposed;
}

DialogString g_fileDialogChosen;

const char* FileDialog_Show(bool save, const char* filter, const char* defaultName, const char* directory,
                            const char* title)
{
    const char* kind = save ? "save" : "open";
    const char* caption = title ? title : save ? "Save As" : "Open";
    const DialogString proposed = FileDialog_Proposed(defaultName, directory);
    DialogString chosen;
    DialogRequest request{kind, caption, filter ? filter : "", proposed.c_str()};
    DialogAnswer answer;
    if (Platform_DialogAnswerIf(request, &answer, Platform_DialogsRefused())) {
        if (!answer.accepted || answer.text.empty()) return nullptr;
        chosen.assign(answer.text.data(), answer.text.size());
    } else {
        DialogString program = Platform_HasDisplay() ? Platform_FindZenity() : DialogString();
        if (program.empty()) {
            std::fprintf(stderr, "%s: no file chooser can be shown (%s)\n", caption,
                         Platform_HasDisplay() ? "zenity is not installed" : "no display");
            return nullptr;
        }
        ZenityRun run = Platform_RunZenity(program, FileDialog_Arguments(save, filter, defaultName, directory, title),
                                           &chosen);
        if (run == ZenityRun::NotStarted) std::fprintf(stderr, "%s: the file chooser did not start\n", caption);
        if (run != ZenityRun::Answered || !FileDialog_TakePath(&chosen)) return nullptr;
    }
    if (save) {
        const DialogString extension = FileDialog_DefaultExtension(filter);
        const size_t slash = chosen.rfind('/');
        const size_t nameStart = slash == DialogString::npos ? 0 : slash + 1;
        if (!extension.empty() && nameStart < chosen.size() && chosen.find('.', nameStart) == DialogString::npos)
            chosen += '.' + extension;
    }
    g_fileDialogChosen = std::move(chosen);
    return g_fileDialogChosen.c_str();
}

}  // namespace

DialogString FileDialog_DefaultExtension(const char* filter)
{
    if (!filter) return {};
    std::string_view text(filter);
    const size_t bar = text.find('|');
    if (bar == std::string_view::npos) return {};
    const size_t dot = text.find('.', bar + 1);
    if (dot == std::string_view::npos) return {};
    std::string_view rest = text.substr(dot + 1);
    const size_t end = rest.find_first_of(";| \t");
    std::string_view extension = rest.substr(0, end);
    if (extension.find_first_of("*?") != std::string_view::npos) return {};
    return DialogString(extension);
}

DialogArguments FileDialog_Arguments(bool save, const char* filter, const char* defaultName, const char* directory,
                                     const char* title)
{
    // Every value travels inside its "--name=value" element, so no text can become an option of its own.
    DialogArguments arguments;
    arguments.emplace_back("--file-selection");
    DialogString titleArgument("--title=");
    titleArgument += title ? title : save ? "Save As" : "Open";
    arguments.push_back(std::move(titleArgument));
    if (save) {
        arguments.emplace_back("--save");
        arguments.emplace_back("--confirm-overwrite");
    }
    const DialogString proposed = FileDialog_Proposed(defaultName, directory);
    if (!proposed.empty()) arguments.push_back(DialogString("--filename=") + proposed);
    if (filter && *filter) {
        // Description and patterns alternate; a description without patterns gets "*".
        std::vector<std::string_view, MemAllocator<std::string_view>> fields;
        std::string_view rest(filter);
        while (true) {
            size_t bar = rest.find('|');
            fields.push_back(rest.substr(0, bar));
            if (bar == std::string_view::npos) break;
            rest.remove_prefix(bar + 1);
        }
        for (size_t i = 0; i < fields.size(); i += 2)
            arguments.push_back(FileDialog_FilterArgument(fields[i], i + 1 < fields.size() ? fields[i + 1] : "*"));
    }
    return arguments;
}

const char* ShowOpenFileDialog(const char* filter, const char* defaultName, const char* directory, const char* title)
{
    return FileDialog_Show(false, filter, defaultName, directory, title);
}

const char* ShowSaveFileDialog(const char* filter, const char* defaultName, const char* directory, const char* title)
{
    return FileDialog_Show(true, filter, defaultName, directory, title);
}

char* ChooseGameFile(bool* offered)
{
    if (offered) *offered = true;
    // A scripted answer, or dialogs refused: no chooser runs. The chooser brings its own window, so our
    // video driver does not matter, but it needs a display to put it on.
    DialogRequest request{"open", "Open", "Choose a game file", nullptr};
    DialogAnswer answer;
    if (Platform_DialogAnswerIf(request, &answer, Platform_DialogsRefused()))
        return answer.accepted && !answer.text.empty() ? FileDialog_Copy(answer.text) : nullptr;

    DialogString program = Platform_HasDisplay() ? Platform_FindZenity() : DialogString();
    DialogString chosen;
    const DialogArguments arguments = {"--file-selection", "--title=Open", "--file-filter=All Files (*.*) | *"};
    ZenityRun run = program.empty() ? ZenityRun::NotStarted : Platform_RunZenity(program, arguments, &chosen);
    if (run == ZenityRun::NotStarted && offered) *offered = false;
    if (run != ZenityRun::Answered || !FileDialog_TakePath(&chosen)) return nullptr;
    return FileDialog_Copy(chosen);
}
