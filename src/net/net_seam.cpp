// Until networking exists: no sockets, no requests, the profiler off and no debugger connected.
#include "net/net.h"

#include "core/seam_trace.h"
#include "core/timing.h"
#include "core/vm.h"

bool Profiler_Active = false;
int64_t Profiler_LastFrameOverhead = 0;
qzServer* DebugServer = nullptr;
bool Debug_Paused = false;
bool Debug_FrameLimiting = true;
DebugStep DebugStepState = {-1, nullptr, -1, 0, false};
const char** DebugTextTable = nullptr;
DebugBreakpoint Debug_Breakpoints[DEBUG_BREAKPOINT_SLOTS];
int64_t Debug_LastPollTime = 0;

void Network_Poll() { SeamTrace_Record("Network_Poll"); }
void Network_Shutdown() { SeamTrace_Record("Network_Shutdown"); }
void Http_Process() { SeamTrace_Record("Http_Process"); }
void Http_Get(const char*, int32_t, HttpProcessCallback, HttpCleanupCallback, void*) { SeamTrace_Record("Http_Get"); }
void InitNetworkFunctions() { SeamTrace_Record("InitNetworkFunctions"); }

void Profiler_Init(const char*, int32_t) { SeamTrace_Record("Profiler_Init"); }
void Profiler_Shutdown() { SeamTrace_Record("Profiler_Shutdown"); }
void Profiler_FinalDump() { SeamTrace_Record("Profiler_FinalDump"); }
void Profiler_BeginFrame() { SeamTrace_Record("Profiler_BeginFrame"); }
void Profiler_EndFrame() { SeamTrace_Record("Profiler_EndFrame"); }
void Profiler_Enter(int32_t, int32_t) { SeamTrace_Record("Profiler_Enter"); }
void Profiler_Leave() { SeamTrace_Record("Profiler_Leave"); }
void Profiler_Suspend(bool) { SeamTrace_Record("Profiler_Suspend"); }

void Debug_ArmBreakpoints()
{
    SeamTrace_Record("Debug_ArmBreakpoints");
    for (DebugBreakpoint& slot : Debug_Breakpoints)
        if (slot.address) *slot.address = DEBUG_BREAK_WORD;
}

void Debug_DisarmBreakpoints()
{
    SeamTrace_Record("Debug_DisarmBreakpoints");
    for (int i = DEBUG_BREAKPOINT_SLOTS - 1; i >= 0; --i)
        if (Debug_Breakpoints[i].address) *Debug_Breakpoints[i].address = Debug_Breakpoints[i].replacedWord;
}

void VM_Init()
{
    SeamTrace_Record("VM_Init");
    for (DebugBreakpoint& slot : Debug_Breakpoints) slot = {nullptr, 0};
    VM_DebugPollCounter = 0;
}

void TickDebugger()
{
    SeamTrace_Record("TickDebugger");
    if (DebugServer) Debug_LastPollTime = Timing_Time();
}
void Debug_InitRemoteInterface() { SeamTrace_Record("Debug_InitRemoteInterface"); }
int32_t Debug_WaitWhilePaused() { return 0; }
