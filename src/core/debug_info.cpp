#include "core/debug_info.h"

#include "core/convert.h"
#include "core/interpreter.h"
#include "core/memory_manager.h"

#include <climits>
#include <cstring>

namespace {

constexpr int32_t kDebugNameMax = 255;

// Both lookups take the source offset in bytes and clamp it the same way, so that the line printed and
// the number given always name the same line, whatever characters the source holds.
int64_t DebugInfo_Position(const DebugLineEntry* entry, const char* source, int64_t* length)
{
    *length = static_cast<int64_t>(std::strlen(source));
    int64_t position = entry->sourceOffset;
    if (position > *length - 1) position = *length - 1;
    return position;
}

bool DebugInfo_IsBlank(char c) { return c == ' ' || c == '\t'; }
bool DebugInfo_IsSpace(char c) { return DebugInfo_IsBlank(c) || c == '\r' || c == '\n' || c == '\0'; }

}  // namespace

const DebugLineEntry* DebugInfo_FindEntry(const void* table, int32_t tableBytes, int32_t codeOffset)
{
    if (!table || tableBytes < static_cast<int32_t>(sizeof(DebugLineEntry))) return nullptr;
    const auto* entries = static_cast<const DebugLineEntry*>(table);
    int32_t count = tableBytes / static_cast<int32_t>(sizeof(DebugLineEntry));
    const DebugLineEntry* found = nullptr;
    for (int32_t i = 0; i < count && entries[i].codeOffset <= codeOffset; ++i) found = &entries[i];
    return found;
}

const char* DebugInfo_SourceLine(const DebugLineEntry* entry, const char* source)
{
    static char line[kDebugNameMax + 1];
    if (!entry || !source) return "<unknown source line>";
    int64_t length = 0;
    int64_t position = DebugInfo_Position(entry, source, &length);
    if (position < 0) return "<unknown source line>";
    int64_t start = position;
    while (start > 0 && source[start - 1] != '\n') --start;
    int64_t end = start;
    while (end < length && source[end] != '\r' && source[end] != '\n') ++end;
    int64_t bytes = end - start;
    if (bytes > kDebugNameMax) {
        bytes = kDebugNameMax;
        // Never end inside a character.
        while (bytes > 0 && (static_cast<uint8_t>(source[start + bytes]) & 0xC0) == 0x80) --bytes;
    }
    std::memcpy(line, source + start, static_cast<size_t>(bytes));
    line[bytes] = '\0';
    return line;
}

int32_t DebugInfo_LineNumber(const DebugLineEntry* entry, const char* source, char** name)
{
    if (name) *name = nullptr;
    if (!entry || !source) return -1;
    int64_t length = 0;
    int64_t position = DebugInfo_Position(entry, source, &length);
    if (position < 0) return -1;
    // LFs before the position, back to the start or to the LF that ends a "#line" directive.
    int64_t lines = 0;
    for (int64_t p = position - 1; p >= 0; --p) {
        if (source[p] != '\n') continue;
        if (std::strncmp(source + p + 1, "#line ", 6) != 0) {
            ++lines;
            continue;
        }
        const char* s = source + p + 7;
        while (DebugInfo_IsBlank(*s)) ++s;
        const char* nameStart = s;
        while (!DebugInfo_IsSpace(*s)) ++s;
        if (name && s > nameStart) {
            size_t bytes = static_cast<size_t>(s - nameStart);
            if (bytes > kDebugNameMax) bytes = kDebugNameMax;
            *name = static_cast<char*>(MemAlloc(bytes + 1));
            std::memcpy(*name, nameStart, bytes);
            (*name)[bytes] = '\0';
        }
        while (DebugInfo_IsBlank(*s)) ++s;
        // A missing or unreadable number reads as 0; a huge one saturates.
        int64_t first = (*s == '-' || *s == '+' || (*s >= '0' && *s <= '9')) ? Text_ToInt32(s) : 0;
        int64_t number = first + lines - 1;
        if (number > INT32_MAX) number = INT32_MAX;
        if (number < INT32_MIN) number = INT32_MIN;
        return static_cast<int32_t>(number);
    }
    return lines + 1 > INT32_MAX ? INT32_MAX : static_cast<int32_t>(lines + 1);
}

int32_t DebugInfo_LineAt(const VMCodePosition& position)
{
    const DebugLineEntry* entry = DebugInfo_FindEntry(position.debugTable, position.debugTableBytes, position.offset);
    return DebugInfo_LineNumber(entry, position.source, nullptr);
}
