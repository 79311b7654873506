#include "platform/crash_handlers.h"

#include "world/command_line.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <unistd.h>

// Sanitizer builds keep their own crash reports, so the handlers exist only in the others.
#if !defined(KV_SANITIZE) && !defined(KV_TSAN)
namespace {

constexpr char kCrashLine[] = "Exception detected during the unit tests!\n";

[[noreturn]] void WriteCrashLineAndExit()
{
    ssize_t ignored = write(1, kCrashLine, sizeof kCrashLine - 1);
    (void)ignored;
    _exit(1);
}

void OnFatalSignal(int) { WriteCrashLineAndExit(); }

}  // namespace
#endif

void Platform_InstallHeadlessHandlers()
{
#if !defined(KV_SANITIZE) && !defined(KV_TSAN)
    static char altStack[64 * 1024];
    stack_t ss{};
    ss.ss_sp = altStack;
    ss.ss_size = sizeof altStack;
    sigaltstack(&ss, nullptr);

    struct sigaction sa{};
    sa.sa_handler = OnFatalSignal;
    sa.sa_flags = SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaction(sig, &sa, nullptr);
    std::set_terminate(WriteCrashLineAndExit);
#endif
}

void HeadlessErrorHook(int type, const char* file, int line, const char* text)
{
    std::printf("Error type %d at %s line %d in %s", type, file, line, text);
    std::fflush(stdout);
    _exit(1);
}

void Assert_Fail(const char* expression, const char* file, int line)
{
    if (g_RunFlags.headless) HeadlessErrorHook(0, file, line, expression);
    std::fprintf(stderr, "Assertion failed: %s at %s line %d\n", expression, file, line);
    std::abort();
}
