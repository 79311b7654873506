// Debug line tables: from a code offset to the source line it came from.
#pragma once
#include <cstdint>

// One entry of a code object's debug line table; entries ascend by code offset.
struct DebugLineEntry {
    int32_t codeOffset;
    int32_t sourceOffset;  // byte offset into the source text
};

// The last entry whose code offset is at most codeOffset; null without a table or when even the first
// entry lies beyond it. The table (4-byte aligned) holds tableBytes / 8 whole entries.
const DebugLineEntry* DebugInfo_FindEntry(const void* table, int32_t tableBytes, int32_t codeOffset);

// The source line that holds the entry's source offset (at most 255 bytes, in a static buffer);
// "<unknown source line>" without an entry or source.
const char* DebugInfo_SourceLine(const DebugLineEntry* entry, const char* source);

// The line number of that same line: lines count from 1, or from N on the line after a "#line <name> N"
// directive. -1 without an entry or source. With name, the directive's name (cut to 255 bytes) is handed
// out as a memory-manager text when there is one, else *name is null.
int32_t DebugInfo_LineNumber(const DebugLineEntry* entry, const char* source, char** name);
