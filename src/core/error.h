// Runtime error reporting: script-visible failures are reported, not thrown.
#pragma once

struct VMFrame;

// Always fatal: exit status 1 (or only a game end while a changed game is loading).
void RuntimeError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The interpreter's report: exit status -1.
void VMError(VMFrame* frame, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Shows a complete error text; with abort the game ends.
void Error_Show(const char* text, bool abort);
// The text of the last error shown; empty before any.
const char* Error_LastText();
// Set when an error was caught instead of reported; cleared before game code runs.
extern bool g_ErrorCaught;

// Error dialogs are shown; -noerrors clears it until the game options are reset.
extern bool g_ShowErrorDialogs;
