#include "platform/process_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// On Linux the nice value of a thread id is that thread's alone.
bool ProcessPriority_SystemSet(int32_t niceValue)
{
    const auto thread = static_cast<id_t>(syscall(SYS_gettid));
    return setpriority(PRIO_PROCESS, thread, niceValue) == 0;
}

ThreadNiceHook g_threadNiceHook = nullptr;

}  // namespace

bool Platform_SetThreadNice(int32_t niceValue)
{
    return g_threadNiceHook ? g_threadNiceHook(niceValue) : ProcessPriority_SystemSet(niceValue);
}

ThreadNiceHook Platform_SetThreadNiceHook(ThreadNiceHook hook)
{
    ThreadNiceHook old = g_threadNiceHook;
    g_threadNiceHook = hook;
    return old;
}
