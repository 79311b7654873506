#include "core/text.h"

#include "core/memory_manager.h"

#include <cstring>

char* String_Duplicate(const char* text)
{
    if (!text) return nullptr;
    size_t n = std::strlen(text);
    MemoryManager::PushContext("string copy");
    auto* copy = static_cast<char*>(MemoryManager::Alloc(n + 1, __FILE__, __LINE__, true));
    MemoryManager::PopContext();
    std::memcpy(copy, text, n);
    return copy;
}

// The lead byte alone decides the length; continuation bytes that run into the NUL read as 0 and the
// cursor stops on the NUL, so no walk ever passes the terminator.
uint16_t UTF8_GetChar(const char** cursor)
{
    auto p = reinterpret_cast<const uint8_t*>(*cursor);
    uint8_t lead = p[0];
    if (lead < 0x80) {
        if (lead) ++*cursor;
        return lead;
    }
    int need = (lead & 0x20) ? 2 : 1;
    uint8_t more[2] = {0, 0};
    int taken = 1;
    for (int i = 0; i < need && p[taken]; ++i, ++taken) more[i] = p[taken];
    *cursor += taken;
    if (need == 1) return static_cast<uint16_t>(((lead & 0x1F) << 6) | (more[0] & 0x3F));
    return static_cast<uint16_t>(((lead & 0x0F) << 12) | ((more[0] & 0x3F) << 6) | (more[1] & 0x3F));
}

uint16_t UTF8_DecodeChar(const char* p) { return UTF8_GetChar(&p); }

int UTF8_Length(const char* text)
{
    int n = 0;
    while (*text) {
        UTF8_GetChar(&text);
        ++n;
    }
    return n;
}

int UTF8_CompareNoCase(const char* a, const char* b)
{
    auto fold = [](uint16_t c) { return (c >= 'A' && c <= 'Z') ? static_cast<uint16_t>(c + 32) : c; };
    while (*a && *b) {
        uint16_t ca = UTF8_GetChar(&a), cb = UTF8_GetChar(&b);
        if (fold(ca) != fold(cb)) return ca - cb;
    }
    return UTF8_DecodeChar(a) - UTF8_DecodeChar(b);
}

int UTF8_CompareN(const char* a, const char* b, int n)
{
    if (n == 0) return 0;
    if (n < 0) return UTF8_DecodeChar(a) - UTF8_DecodeChar(b);
    for (int i = 0; i < n; ++i) {
        if (!*a || !*b) return UTF8_DecodeChar(a) - UTF8_DecodeChar(b);
        uint16_t ca = UTF8_GetChar(&a), cb = UTF8_GetChar(&b);
        if (ca != cb) return ca - cb;
    }
    return 0;
}

int UTF8_CharLength(uint32_t codePoint)
{
    uint32_t c = codePoint & 0xFFFF;
    return c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
}

void UTF8_PutChar(char** cursor, uint32_t codePoint)
{
    uint32_t c = codePoint & 0xFFFF;
    auto* out = reinterpret_cast<uint8_t*>(*cursor);
    if (c < 0x80) {
        out[0] = static_cast<uint8_t>(c);
        *cursor += 1;
    } else if (c < 0x800) {
        out[0] = static_cast<uint8_t>(0xC0 | ((c >> 6) & 0x1F));
        out[1] = static_cast<uint8_t>(0x80 | (c & 0x3F));
        *cursor += 2;
    } else {
        out[0] = static_cast<uint8_t>(0xE0 | ((c >> 12) & 0x0F));
        out[1] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<uint8_t>(0x80 | (c & 0x3F));
        *cursor += 3;
    }
}

const char* UTF8_Find(const char* text, const char* pattern)
{
    if (!text || !pattern) return nullptr;
    int patternLength = UTF8_Length(pattern);
    for (const char* position = text; *position; UTF8_GetChar(&position))
        if (UTF8_CompareN(position, pattern, patternLength) == 0) return position;
    return nullptr;
}

char* UTF16_ToNarrow(const char16_t* text)
{
    if (!text) return nullptr;
    size_t length = 0;
    while (text[length]) ++length;
    auto* narrow = static_cast<char*>(MemoryManager::Alloc(length + 1, __FILE__, __LINE__, true));
    if (!narrow) return nullptr;
    for (size_t i = 0; i < length; ++i) narrow[i] = static_cast<char>(text[i] & 0xFF);
    return narrow;
}
