#include "world/command_line.h"

#include "core/error.h"
#include "core/memory_manager.h"
#include "core/text.h"
#include "draw/draw.h"
#include "physics/physics.h"
#include "services/launcher.h"
#include "world/run_state.h"

#include <charconv>
#include <initializer_list>
#include <cstring>
#include <string_view>

ArgumentTable g_ArgumentTable = {};
RunFlags g_RunFlags = {};
char* g_RawCommandLine = nullptr;

namespace {

// The token most recently read; grows as needed.
char* g_tokenBuffer = nullptr;
size_t g_tokenCapacity = 0;
bool g_tokenRead = false;  // false when only separators remained

constexpr RunFlags kRunFlagsAtStart = [] {
    RunFlags f{};
    f.codeExecution = true;
    f.audio = true;
    f.sleepMargin = 10;
    return f;
}();

bool IsSeparator(char c) { return c >= 0x01 && c <= 0x20; }

void ReplaceText(char** slot, const char* text)
{
    MemFree(*slot);
    *slot = String_Duplicate(text);
}

// Non-numeric text reads as 0 (a leading '-' is a sign; anything after the digits is ignored).
int64_t ParseNumber(const char* text)
{
    int64_t value = 0;
    std::string_view sv(text);
    auto [ptr, ec] = std::from_chars(sv.data(), sv.data() + sv.size(), value);
    if (ec == std::errc::result_out_of_range) return sv.starts_with('-') ? INT64_MIN : INT64_MAX;
    return ec == std::errc() ? value : 0;
}

// "kvplayer://level3/" and "kvplayer:level3" both give "level3".
void TakeLaunchArgument(std::string_view token)
{
    std::string_view rest = token.substr(token.starts_with("kvplayer://") ? 11 : 9);
    if (rest.ends_with('/')) rest.remove_suffix(1);
    char* text = static_cast<char*>(MemoryManager::Alloc(rest.size() + 1, __FILE__, __LINE__, true));
    std::memcpy(text, rest.data(), rest.size());
    Launcher_SetLaunchArgs(text);
    MemFree(text);
}

}  // namespace

char* CommandLine_FromArgv(int argc, const char* const* argv)
{
    size_t size = 1;
    for (int i = 0; i < argc; ++i) size += std::strlen(argv[i]) + 3;
    char* text = static_cast<char*>(MemoryManager::Alloc(size, __FILE__, __LINE__, true));
    char* out = text;
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        bool quote = *arg == '\0';
        for (const char* p = arg; *p && !quote; ++p) quote = IsSeparator(*p);
        if (i > 0) *out++ = ' ';
        if (quote) *out++ = '"';
        size_t n = std::strlen(arg);
        std::memcpy(out, arg, n);
        out += n;
        if (quote) *out++ = '"';
    }
    *out = '\0';
    return text;
}

const char* CommandLine_NextToken(const char* position, const char* text)
{
    if (g_tokenBuffer) g_tokenBuffer[0] = '\0';
    g_tokenRead = false;
    if (!text || !position || *position == '\0') return position;

    while (IsSeparator(*position)) ++position;
    if (*position == '\0') return position;
    g_tokenRead = true;
    const char* start = position;
    bool inQuotes = false;
    size_t length = 0;
    for (; *position && (inQuotes || !IsSeparator(*position)); ++position)
        if (*position == '"') inQuotes = !inQuotes;
        else ++length;

    if (length + 1 > g_tokenCapacity) {
        g_tokenCapacity = length + 1 > 256 ? length + 1 : 256;
        MemFree(g_tokenBuffer);
        g_tokenBuffer = static_cast<char*>(MemAlloc(g_tokenCapacity));
    }
    char* out = g_tokenBuffer;
    for (const char* p = start; p != position; ++p)
        if (*p != '"') *out++ = *p;
    *out = '\0';

    // The table keeps 100 tokens; later ones are read but not stored.
    if (g_ArgumentTable.count < ARGUMENT_TABLE_SIZE)
        g_ArgumentTable.args[g_ArgumentTable.count++] = String_Duplicate(g_tokenBuffer);
    return position;
}

const char* CommandLine_Token() { return g_tokenBuffer ? g_tokenBuffer : ""; }

void ParseCommandLine(const char* text)
{
    RunFlags& f = g_RunFlags;
    f.debug = false;
    f.extCallsSkipped = false;
    f.record = false;
    f.playback = false;
    f.codeExecution = true;
    f.audio = true;
    f.inAWindow = false;
    Debug_OverlayFlags = 0;
    if (!text) return;

    for (int i = 0; i < g_ArgumentTable.count; ++i) MemFree(g_ArgumentTable.args[i]);
    g_ArgumentTable.count = 0;

    const char* pos = text;
    auto nextValue = [&]() -> const char* {
        pos = CommandLine_NextToken(pos, text);
        return CommandLine_Token();
    };
    while (*pos) {
        pos = CommandLine_NextToken(pos, text);
        if (!g_tokenRead) break;
        std::string_view token = CommandLine_Token();

        if (token == "-debug") {
            if (!g_GameFile) {
                f.debug = true;
                Debug_OverlayFlags = 2;
                Physics_InstallAssertHook();
            }
        } else if (token == "-trace") f.trace = true;
        else if (token == "-ext") f.extCallsSkipped = true;
        else if (token == "-noerrors") g_ShowErrorDialogs = false;
        else if (token == "-oldexec") f.codeExecution = false;
        else if (token == "-noaudio") f.audio = false;
        else if (token == "-inawindow") f.inAWindow = true;
        else if (token == "-game") GameFile_Set(nextValue());
        else if (token == "-exit") ReplaceText(&f.exitFile, nextValue());
        else if (token == "-dir") ReplaceText(&f.dirPath, nextValue());
        else if (token == "-record") {
            f.record = true;
            ReplaceText(&f.recordFile, nextValue());
        } else if (token == "-playback") {
            f.playback = true;
            ReplaceText(&f.recordFile, nextValue());
        } else if (token == "-steam") f.steam = true;
        else if (token == "-software") f.software = true;
        else if (token == "-intel") f.intel = true;
        else if (token == "-audiodebug") {
            f.audioDebug = true;
            Debug_OverlayFlags |= 0x10;
        } else if (token == "-networkdebug") f.networkDebug = true;
        else if (token == "-vanillaGFX") f.vanillaGFX = true;
        else if (token == "-output") ReplaceText(&f.outputFile, nextValue());
        else if (token == "-debugoutput") ReplaceText(&f.debugOutputFile, nextValue());
        else if (token == "-headless") f.headless = true;
        else if (token == "-profiledump") {
            ReplaceText(&f.profileDumpFile, nextValue());
            int64_t n = ParseNumber(nextValue());
            f.profileDumpInterval = n < INT32_MIN ? INT32_MIN : n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
        } else if (token == "-sleepmargin") {
            int64_t ms = ParseNumber(nextValue());
            f.sleepMargin = static_cast<int32_t>(ms < 0 ? 0 : ms > 3000 ? 3000 : ms);
            f.sleepMarginSet = true;
        } else if (token == "-multivb") f.multiVB = true;
        else if (token == "-novb") f.noVB = true;
        else if (token == "-compresstextures") f.compressTextures = true;
        else if (token == "-manualvsync") f.manualVSync = true;
        else if (token == "-nodirectinput") f.noDirectInput = true;
        else if (token.starts_with("kvplayer:")) TakeLaunchArgument(token);
    }
}

void RunFlags_ResetAll()
{
    RunFlags& f = g_RunFlags;
    for (char** text : {&f.exitFile, &f.dirPath, &f.recordFile, &f.outputFile, &f.debugOutputFile, &f.profileDumpFile})
        MemFree(*text);
    f = kRunFlagsAtStart;
    for (int i = 0; i < g_ArgumentTable.count; ++i) MemFree(g_ArgumentTable.args[i]);
    g_ArgumentTable.count = 0;
    Debug_OverlayFlags = 2;
    g_ShowErrorDialogs = true;
}
