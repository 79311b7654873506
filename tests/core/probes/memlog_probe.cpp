// Run as "memlog_probe -memlog <file>": allocates and frees under known conditions, then exits normally,
// so a test can read the whole block log. Sizes mark the records a test looks for.
#include "core/memory_manager.h"
#include "core/thread.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// What the interpreter would report while a built-in runs inside two scripts.
const char* ProbeFunctionName() { return "show_debug_message"; }

int32_t ProbeTwoSites(MemLogCodeSite* sites, int32_t max)
{
    const MemLogCodeSite two[] = {{"ksl_Script_inner", 10}, {"ksl_Object_player_Step_0", 20}};
    int32_t n = 0;
    for (; n < 2 && n < max; ++n) sites[n] = two[n];
    return n;
}

// A call stack deeper than one record can hold.
int32_t ProbeDeepSites(MemLogCodeSite* sites, int32_t max)
{
    static const char* const names[] = {"deep_0", "deep_1", "deep_2", "deep_3", "deep_4", "deep_5", "deep_6"};
    int32_t n = 0;
    for (; n < 3000 && n < max; ++n) sites[n] = {names[n % 7], n + 1};
    return n;
}

int32_t ProbeWorker(CThread*)
{
    void* blocks[5];
    for (int i = 0; i < 5; ++i) blocks[i] = MemAlloc(3001 + i);
    for (void* block : blocks) MemFree(block);
    return 7;
}

}  // namespace

int main()
{
    Thread_SetMainThreadMark(true);
    MemoryManager::LogEvent("probe begin");

    // Nested contexts on the main thread.
    MemoryManager::PushContext("outer");
    void* a = MemAlloc(11);
    MemoryManager::PushContext("inner");
    void* b = MemAlloc(222);
    MemoryManager::PopContext();
    void* c = MemAlloc(33);
    MemoryManager::PopContext();
    void* d = MemAlloc(44);

    // More contexts than slots: records carry the last slot's name.
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) names.push_back("ctx" + std::to_string(i));
    for (const std::string& name : names) MemoryManager::PushContext(name.c_str());
    void* e = MemAlloc(55);
    for (size_t i = 0; i < names.size(); ++i) MemoryManager::PopContext();
    // One pop too many is ignored: the next push is the top again.
    MemoryManager::PopContext();
    MemoryManager::PushContext("after extra pop");
    void* e2 = MemAlloc(66);
    MemoryManager::PopContext();

    // A worker thread, while the main thread has a context pushed.
    MemoryManager::PushContext("main busy");
    CThread worker;
    if (!worker.Start(ProbeWorker, nullptr)) return 3;
    if (worker.WaitForExit() != 7) return 4;
    MemoryManager::PopContext();

    // What the interpreter would add: a built-in's name, then the script call stack.
    MemoryManagerTestHooks hooks = {nullptr, nullptr, ProbeFunctionName, ProbeTwoSites};
    MemoryManager_SetTestHooks(&hooks);
    void* f = MemAlloc(601);
    hooks.currentFunctionName = nullptr;
    MemoryManager_SetTestHooks(&hooks);
    MemoryManager::PushContext("scripted");
    void* g = MemAlloc(602);
    MemoryManager::PopContext();
    hooks.codeSites = ProbeDeepSites;
    MemoryManager_SetTestHooks(&hooks);
    void* h = MemAlloc(603);
    MemoryManager_SetTestHooks(nullptr);

    // Growth: the new block's record, then the old block's free.
    void* grown = MemAlloc(20);
    grown = MemReAlloc(grown, 500);

    MemoryManager::LogEvent("%s", std::string(600, 'E').c_str());

    for (void* block : {a, b, c, d, e, e2, f, g, h, grown}) MemFree(block);
    MemoryManager::LogEvent("probe end");

    // The last records only reach the file when the process exits.
    void* last = MemAlloc(777);
    MemFree(last);
    return 0;
}
