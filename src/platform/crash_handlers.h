// Headless runs end on a crash with a line and status 1 instead of hanging or dumping core.
#pragma once

// Catches SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT (on an alternate stack) and std::terminate.
// Not installed in sanitizer builds, whose own reports matter more.
void Platform_InstallHeadlessHandlers();

// Called by the project's assertion macro under -headless: prints
// "Error type %d at %s line %d in %s" and exits with status 1.
[[noreturn]] void HeadlessErrorHook(int type, const char* file, int line, const char* text);

// The project's assertion: a failed check is a bug, reported and fatal.
[[noreturn]] void Assert_Fail(const char* expression, const char* file, int line);
#define KV_ASSERT(cond) ((cond) ? (void)0 : Assert_Fail(#cond, __FILE__, __LINE__))
