// Text helpers: every text inside the engine is a NUL-terminated UTF-8 byte string.
#pragma once
#include <cstdint>

// Copy of text in a zero-filled memory-manager block; null gives null.
char* String_Duplicate(const char* text);

uint16_t UTF8_DecodeChar(const char* p);
uint16_t UTF8_GetChar(const char** cursor);
int UTF8_Length(const char* text);
// 0 when equal ignoring ASCII case; otherwise the difference of the unmapped code points.
int UTF8_CompareNoCase(const char* a, const char* b);
// Compares at most n characters exactly.
int UTF8_CompareN(const char* a, const char* b, int n);
