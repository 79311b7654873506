// Networking, HTTP, the profiler and the debugger link: the operations the rest of the runtime calls.
#pragma once
#include <cstdint>

// Per step: socket service after begin step; HTTP workers at the start of the asynchronous stage.
void Network_Poll();
void Network_Shutdown();  // destroys every socket slot
void Http_Process();      // reaps finished workers and starts queued requests
// An asynchronous GET; the result comes back through the request record's callbacks on the main thread.
// Until HTTP exists nothing is queued: neither callback ever runs (the caller keeps its user record).
// The callback types are the request record's (lib/lib.h).
struct HTTP_REQ_CONTEXT;
using HttpProcessCallback = int32_t (*)(HTTP_REQ_CONTEXT* record, void* userData, int32_t* map);
using HttpCleanupCallback = int32_t (*)(HTTP_REQ_CONTEXT* record);
void Http_Get(const char* url, int32_t kind, HttpProcessCallback process, HttpCleanupCallback cleanup, void* user);
void InitNetworkFunctions();

// Profiler. Callers test Profiler_Active before Profiler_Enter and Profiler_Leave.
// Region kinds: 0 built-in (its id), 1 script (its profiler id), 6 engine region.
extern bool Profiler_Active;
extern int64_t Profiler_LastFrameOverhead;  // microseconds of the profiler's own work in the last frame
void Profiler_Init(const char* file, int32_t interval);
void Profiler_Shutdown();
void Profiler_FinalDump();  // end of run, when a profile dump was asked for
void Profiler_BeginFrame();
void Profiler_EndFrame();
void Profiler_Enter(int32_t kind, int32_t id);
void Profiler_Leave();
void Profiler_Suspend(bool suspended);
// Opens a region for the scope when the profiler is on.
struct ProfilerRegion {
    ProfilerRegion(int32_t kind, int32_t id) : entered(Profiler_Active)
    {
        if (entered) Profiler_Enter(kind, id);
    }
    ~ProfilerRegion()
    {
        if (entered) Profiler_Leave();
    }
    ProfilerRegion(const ProfilerRegion&) = delete;
    ProfilerRegion& operator=(const ProfilerRegion&) = delete;
    bool entered;
};

// The debugger link; null unless a debugger is connected.
class qzServer;
extern qzServer* DebugServer;
extern bool Debug_Paused;
extern bool Debug_FrameLimiting;  // on by default; the debugger may turn it off

struct DebugStep {
    int32_t mode;        // -1 none, 0 into, 1 over, 2 out
    const char* source;  // source and line of the last stop
    int32_t line;
    int32_t depth;       // call depth when the step began
    bool stopRequest;
};
extern DebugStep DebugStepState;

// Texts of ".ds" pushes, indexed by the operand; filled by the debugger with code to evaluate.
extern const char** DebugTextTable;

// Breakpoints planted in bytecode: a free slot has a null address.
constexpr int DEBUG_BREAKPOINT_SLOTS = 255;
constexpr uint32_t DEBUG_BREAK_WORD = 0xFFFF0000;
struct DebugBreakpoint {
    uint32_t* address;
    uint32_t replacedWord;
};
extern DebugBreakpoint Debug_Breakpoints[DEBUG_BREAKPOINT_SLOTS];
void Debug_ArmBreakpoints();
void Debug_DisarmBreakpoints();
void VM_Init();  // empties the breakpoint table and starts the interpreter's poll count again

void TickDebugger();
// When the debugger's service last ran (Timing_Time): the interpreter polls again only after half a second.
extern int64_t Debug_LastPollTime;
void Debug_InitRemoteInterface();
// Holds the game while the debugger has it paused: 1 when a room change was asked for, 0 when resumed.
int32_t Debug_WaitWhilePaused();
