// Shared set-up for the entry-point suites: every test starts from process-start state.
#pragma once
#include "core/error.h"
#include "core/memory_manager.h"
#include "draw/draw.h"
#include "physics/physics.h"
#include "services/launcher.h"
#include "world/command_line.h"
#include "world/paths.h"
#include "world/run_state.h"

#include <string>

inline void ResetEntryPointState()
{
    RunFlags_ResetAll();
    GameFile_Set(nullptr);
    Physics_ResetAssertHook();
    Launcher_SetLaunchArgs(nullptr);
    Launcher_ClearRequest();
    Paths_ResetAll();
    g_Running = false;
    g_RestartFlag = false;
    g_FirstRun = true;
    g_ChildGame = false;
    MemFree(g_ProjectName);
    g_ProjectName = nullptr;
    g_WindowFlags = 0;
}

// The switches that differ from process start, as "name=value" words in a fixed order.
inline std::string DescribeRunState()
{
    const RunFlags& f = g_RunFlags;
    std::string out;
    auto flag = [&](const char* name, bool value, bool atStart) {
        if (value != atStart) out += std::string(name) + "=" + (value ? "1" : "0") + " ";
    };
    auto text = [&](const char* name, const char* value) {
        if (value) out += std::string(name) + "=" + value + " ";
    };
    flag("debug", f.debug, false);
    flag("ext", f.extCallsSkipped, false);
    flag("record", f.record, false);
    flag("playback", f.playback, false);
    flag("exec", f.codeExecution, true);
    flag("audio", f.audio, true);
    flag("inawindow", f.inAWindow, false);
    flag("trace", f.trace, false);
    flag("software", f.software, false);
    flag("intel", f.intel, false);
    flag("audiodebug", f.audioDebug, false);
    flag("networkdebug", f.networkDebug, false);
    flag("vanillaGFX", f.vanillaGFX, false);
    flag("headless", f.headless, false);
    flag("steam", f.steam, false);
    flag("multivb", f.multiVB, false);
    flag("novb", f.noVB, false);
    flag("compresstextures", f.compressTextures, false);
    flag("manualvsync", f.manualVSync, false);
    flag("nodirectinput", f.noDirectInput, false);
    flag("errordialogs", g_ShowErrorDialogs, true);
    if (f.sleepMarginSet || f.sleepMargin != 10) out += "sleepmargin=" + std::to_string(f.sleepMargin) + " ";
    if (f.profileDumpFile) out += "profiledump=" + std::string(f.profileDumpFile) + "," + std::to_string(f.profileDumpInterval) + " ";
    text("exit", f.exitFile);
    text("dir", f.dirPath);
    text("recordfile", f.recordFile);
    text("output", f.outputFile);
    text("debugoutput", f.debugOutputFile);
    text("game", g_GameFile);
    text("launch", g_LaunchArgs);
    if (Debug_OverlayFlags) out += "overlay=" + std::to_string(Debug_OverlayFlags) + " ";
    flag("physicshook", Physics_AssertHookInstalled(), false);
    if (!out.empty()) out.pop_back();
    return out;
}

inline std::string JoinTokens()
{
    std::string out;
    for (int i = 0; i < g_ArgumentTable.count; ++i) out += std::string(i ? "|" : "") + g_ArgumentTable.args[i];
    return out;
}
