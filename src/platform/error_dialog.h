// The code-error dialog: the error text with Abort, Ignore (when the report may be ignored) and Copy.
#pragma once
#include <string>

// 1 for Abort, 0 for Ignore. Copy puts the whole text on the clipboard and shows the box again. A dialog
// answer hook (kind "error", answer text "Abort", "Ignore" or "Copy") answers first; when nobody can answer
// the text is logged and the default stands: Ignore when offered, else Abort.
int Platform_ErrorDialog(const char* text, bool canIgnore);

// The text as valid UTF-8: every byte that does not start a well-formed sequence becomes U+FFFD.
std::string Platform_ValidUtf8(const char* text);

// What the box shows of a long text: its first 40 lines, then a pointer to the whole.
std::string Platform_ErrorDialogShownText(const char* text);
