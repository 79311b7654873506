// The desktop clipboard as text. Without video there is no clipboard: it reads empty and takes nothing.
#pragma once
#include <string>

bool Platform_ClipboardHasText();
std::string Platform_ClipboardGetText();  // UTF-8; "" when there is none
// An empty text empties the clipboard.
void Platform_ClipboardSetText(const char* utf8);
