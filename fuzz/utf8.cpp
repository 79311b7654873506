// Arbitrary bytes as script text: the UTF-8 helpers must stay inside the text, whatever its bytes.
// The bytes before the first NUL are the text, the bytes after it the pattern.
#include "core/text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// An exact-size copy with its terminator, so the sanitizer sees any read past it.
char* Utf8FuzzText(const uint8_t* data, size_t size)
{
    auto* text = static_cast<char*>(std::malloc(size + 1));
    std::memcpy(text, data, size);
    text[size] = 0;
    return text;
}

void Utf8FuzzCheckWalk(const char* text)
{
    const size_t bytes = std::strlen(text);
    const char* end = text + bytes;
    int steps = 0;
    for (const char* cursor = text; *cursor;) {
        const char* at = cursor;
        uint16_t c = UTF8_GetChar(&cursor);
        if (cursor <= at || cursor > at + 3 || cursor > end) std::abort();
        if (UTF8_DecodeChar(at) != c) std::abort();
        // The decoded code point writes and reads back unchanged.
        char buffer[3];
        char* out = buffer;
        UTF8_PutChar(&out, c);
        if (out - buffer != UTF8_CharLength(c)) std::abort();
        const char* back = buffer;
        if (c && UTF8_GetChar(&back) != c) std::abort();
        ++steps;
    }
    if (UTF8_Length(text) != steps) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto* split = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    size_t textSize = split ? static_cast<size_t>(split - data) : size;
    char* text = Utf8FuzzText(data, textSize);
    char* pattern = split ? Utf8FuzzText(split + 1, size - textSize - 1) : Utf8FuzzText(data, 0);

    Utf8FuzzCheckWalk(text);
    Utf8FuzzCheckWalk(pattern);

    const char* found = UTF8_Find(text, pattern);
    if (found && (found < text || found > text + std::strlen(text))) std::abort();
    if (*text && UTF8_Find(text, text) != text) std::abort();
    if (UTF8_CompareNoCase(text, pattern) != -UTF8_CompareNoCase(pattern, text)) std::abort();
    if (UTF8_CompareNoCase(text, text) != 0) std::abort();
    if (UTF8_CompareN(text, text, UTF8_Length(text) + 1) != 0) std::abort();

    std::free(text);
    std::free(pattern);
    return 0;
}
