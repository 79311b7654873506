// Text helpers: every text inside the engine is a NUL-terminated UTF-8 byte string. A character is a
// 16-bit code point of one to three bytes, its length decided by the lead byte alone; nothing is validated.
#pragma once
#include <cstdint>

// Copy of text in a zero-filled memory-manager block; null gives null.
char* String_Duplicate(const char* text);

// A lead byte whose continuation bytes run into the terminator decodes with the missing bytes as 0,
// counts as one character, and leaves the cursor on the terminator. At the terminator itself the cursor
// does not move and 0 is returned, so no walk ever passes the end of a text.
uint16_t UTF8_DecodeChar(const char* p);
uint16_t UTF8_GetChar(const char** cursor);
inline uint16_t UTF8_GetChar(char** cursor) { return UTF8_GetChar(const_cast<const char**>(cursor)); }

// Writes the 1 to 3 bytes of the low 16 bits of the code point and advances the cursor; no terminator.
// The caller provides the room (UTF8_CharLength bytes).
void UTF8_PutChar(char** cursor, uint32_t codePoint);
int UTF8_CharLength(uint32_t codePoint);

int UTF8_Length(const char* text);
// 0 when equal ignoring ASCII case; otherwise the difference of the unmapped code points.
int UTF8_CompareNoCase(const char* a, const char* b);
// Compares at most n characters exactly: 0 when n matched or both texts ended together, else the difference
// of the code points at the first mismatch. n 0 gives 0; a negative n gives the first characters' difference.
int UTF8_CompareN(const char* a, const char* b, int n);
// First character position of text where pattern matches; an empty pattern matches at the start of a
// non-empty text; null when nothing matches.
const char* UTF8_Find(const char* text, const char* pattern);
inline char* UTF8_Find(char* text, const char* pattern)
{
    return const_cast<char*>(UTF8_Find(static_cast<const char*>(text), pattern));
}

// New memory-manager text holding the low byte of every UTF-16 unit (the caller frees it); null gives null.
char* UTF16_ToNarrow(const char16_t* text);
