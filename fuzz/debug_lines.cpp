// Debug line tables and source texts as the game data and its debug file give them, and the same bytes
// listed as bytecode. Layout: a byte n, then n * 8 bytes of table, 4 bytes of code offset, and the
// source text (the rest, up to the first NUL).
#include "core/console.h"
#include "core/debug_info.h"
#include "core/disasm.h"
#include "core/memory_manager.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct DebugLinesFuzzConsole final : tagIConsole {
    void Output(const char*, ...) override {}
};
DebugLinesFuzzConsole g_debugLinesFuzzConsole;

// The n-th line (from 1) of a text without directives, as the lookups cut it (at CR or LF).
std::string DebugLinesFuzz_NthLine(const char* text, int32_t n)
{
    const char* p = text;
    for (int32_t i = 1; i < n; ++i) {
        p = std::strchr(p, '\n');
        if (!p) std::abort();
        ++p;
    }
    size_t length = std::strcspn(p, "\r\n");
    return std::string(p, length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 1) return 0;
    size_t tableBytes = size_t(input[0]) * 8;
    if (size < 1 + tableBytes + 4) return 0;
    // Exact-size copies, so that the sanitizer sees any read past them.
    auto* table = static_cast<uint8_t*>(std::malloc(tableBytes ? tableBytes : 1));
    std::memcpy(table, input + 1, tableBytes);
    int32_t codeOffset;
    std::memcpy(&codeOffset, input + 1 + tableBytes, 4);
    size_t textBytes = size - 1 - tableBytes - 4;
    auto* source = static_cast<char*>(std::malloc(textBytes + 1));
    std::memcpy(source, input + 1 + tableBytes + 4, textBytes);
    source[textBytes] = 0;

    const DebugLineEntry* entry = DebugInfo_FindEntry(table, int32_t(tableBytes), codeOffset);
    if (entry && (entry->codeOffset > codeOffset || reinterpret_cast<const uint8_t*>(entry) < table ||
                  reinterpret_cast<const uint8_t*>(entry + 1) > table + tableBytes))
        std::abort();
    char* name = nullptr;
    int32_t number = DebugInfo_LineNumber(entry, source, &name);
    if (name && std::strlen(name) > 255) std::abort();
    MemFree(name);
    std::string line = DebugInfo_SourceLine(entry, source);
    if (line.size() > 255) std::abort();
    // Without directives the number names the very line that is printed.
    if (entry && number > 0 && !std::strstr(source, "\n#line ")) {
        std::string expected = DebugLinesFuzz_NthLine(source, number);
        if (expected.compare(0, line.size(), line) != 0) std::abort();
    }

    Disasm_Code("fuzz", input, int32_t(size), &g_debugLinesFuzzConsole);
    std::free(table);
    std::free(source);
    return 0;
}
