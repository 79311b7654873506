#include "input/hash_newlines.h"

#include "core/text.h"

int32_t ConvertHashNewlines(char* text)
{
    if (!text) return 0;
    const char* read = text;
    char* write = text;
    char* lastWritten = nullptr;  // where the previous character went
    uint16_t previous = 0;
    int32_t count = 0;
    while (*read) {
        const uint16_t c = UTF8_GetChar(&read);
        // An overlong zero would end the text early; a lead byte cut short by the terminator may decode to a
        // character longer than its bytes, which cannot be written back in place.
        if (c == 0) break;
        if (c == '#' && previous == '\\' && lastWritten) {
            *lastWritten = '#';
            previous = c;
            continue;
        }
        const uint16_t out = c == '#' ? uint16_t(13) : c;
        if (write + UTF8_CharLength(out) > read) break;
        lastWritten = write;
        UTF8_PutChar(&write, out);
        previous = c;
        ++count;
    }
    *write = '\0';
    return count;
}
