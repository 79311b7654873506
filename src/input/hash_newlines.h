// The rule message texts follow for line breaks: "#" is a line break, a backslash and "#" a literal "#".
#pragma once
#include <cstdint>

// Rewrites the UTF-8 text in place: each "#" becomes a carriage return, except that a "#" whose previous
// character is a backslash replaces that backslash and stays a "#". Returns the characters written (0 for
// null, which stays null). Never writes past the text's terminator.
int32_t ConvertHashNewlines(char* text);
