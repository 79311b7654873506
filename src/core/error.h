// Runtime error reporting: script-visible failures are reported, not thrown. A report builds a framed text
// (event, object, line, call stack), shows it in the error dialog, records it for error_last and
// error_occurred, prints it on the release console, and, when fatal or aborted, ends the game.
#pragma once
#include <cstdint>
#include <string>

struct RefString;
struct VMFrame;

// Always fatal: exit status 1 (or only a game end while a changed game is loading). While errors are
// caught it only sets the caught-error flag. The message is cut at 1,023 bytes.
void RuntimeError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The interpreter's report: exit status -1; while errors are caught the frame stops instead.
void VMError(VMFrame* frame, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Frames the message (a "%s" argument, never a format) and shows it; without abort the user may ignore it.
void Error_Show_Action(const char* message, bool abort);
// Shows a complete text; with abort (or the abort-on-error option) the game ends.
void Error_Show(const char* text, bool abort);
// The framed text Error_Show_Action shows.
std::string Error_BuildText(const char* message, bool abort);
// Reflows the text for the dialog and runs it; true when the answer is Abort.
bool Error_FormatDialogText(const char* text, bool canIgnore);
// The reflowed text: a rule of 43 '_', tabs as seven blanks, every line break (CRLF, LFCR, LF LF, CR,
// LF) as one "\r\n".
std::string Error_DialogText(const char* text);
// Two message-pump rounds, then the dialog: 1 for Abort, 0 for Ignore.
int ShowErrorDialog(const char* text, bool canIgnore);

// The text of the last error shown; empty before any.
const char* Error_LastText();

// Process-wide error state (main thread only).
extern RefString* g_ErrorLastText;  // error_last
extern bool g_ErrorOccurred;        // error_occurred; set by every report
extern bool g_ErrorQuitting;        // an error aborted the game: further reports do nothing
extern bool g_ErrorCatch;           // errors are caught, not reported (debugger evaluation)
extern bool g_ErrorCaught;          // an error was caught; cleared before game code runs
extern bool g_GameChanging;         // a child game (started by a game change) is loading or running
extern bool g_ShowErrorDialogs;     // -noerrors clears it until the game options are reset
extern bool g_AbortOnError;         // game option: every report aborts

// The event being run, for the error text. Type 100000 is a time-line moment (object: the time line,
// number: the step); type -1 a shader compilation, with the shader's name and stage.
extern int32_t event_type;
extern int32_t event_number;
extern int32_t event_object;
extern int32_t event_action;
extern const char* g_ErrorShaderName;
extern bool g_ErrorShaderFragment;

// Back to the state of a new run: nothing reported, nothing caught, not quitting.
void Error_ResetState();
