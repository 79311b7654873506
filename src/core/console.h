// The log interface every subsystem prints through.
#pragma once

struct tagIConsole {
    virtual ~tagIConsole() = default;
    // Returns true in both implementations; nothing calls it.
    virtual bool Query(int, int) { return true; }
    virtual void Output(const char* format, ...) __attribute__((format(printf, 2, 3))) = 0;
};

// The runtime's own diagnostics, and the script-facing log (errors, show_debug_message).
extern tagIConsole* DebugConsole;
extern tagIConsole* ReleaseConsole;

// Flushes what the consoles have buffered (before the process exits).
void Console_FlushAll();
