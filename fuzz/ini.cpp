// Arbitrary bytes as ini text: the parser stays inside the text, the written form has exactly the length
// it was sized for, and once every value can be written back (none holds both kinds of quote) the
// written form parses to the same sections and keys, so two more parse-and-flush cycles give it again.
#include "core/console.h"
#include "core/memory_manager.h"
#include "world/ini.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct IniFuzzQuietConsole final : tagIConsole {
    void Output(const char*, ...) override {}
};
IniFuzzQuietConsole g_iniFuzzConsole;

// Flush, checked against the length it must have.
char* IniFuzzFlush(IniFile* ini)
{
    size_t expected = 0;
    for (IniSection* s = ini->Sections(); s; s = s->next) {
        expected += std::strlen(s->name) + 4;
        for (IniKey* k = s->keys; k; k = k->next) expected += std::strlen(k->name) + std::strlen(k->value) + 5;
    }
    char* text = ini->Flush();
    if (std::strlen(text) != expected) std::abort();
    return text;
}

bool IniFuzzWritable(IniFile* ini)
{
    for (IniSection* s = ini->Sections(); s; s = s->next)
        for (IniKey* k = s->keys; k; k = k->next)
            if (std::strchr(k->value, '"') && std::strchr(k->value, '\'')) return false;
    return true;
}

// One parse-and-flush cycle of a written text.
char* IniFuzzCycle(const char* text)
{
    IniFile* ini = IniFile::FromString(text);
    char* again = IniFuzzFlush(ini);
    delete ini;
    return again;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size > (1u << 22)) return 0;
    DebugConsole = ReleaseConsole = &g_iniFuzzConsole;

    IniFile* ini = IniFile::FromString(reinterpret_cast<const char*>(input), size);
    // Look-ups and writes on whatever the text held.
    if (IniSection* first = ini->Sections()) {
        if (ini->FindSection(first->name) != first) std::abort();
        if (first->keys && ini->FindKey(first->name, first->keys->name) != first->keys) std::abort();
        ini->ReadInt(first->name, first->keys ? first->keys->name : "", 0);
    }
    bool writable = IniFuzzWritable(ini);
    char* once = IniFuzzFlush(ini);
    delete ini;

    // Each cycle reverses the order of sections and keys, so two cycles give the text back.
    char* twice = IniFuzzCycle(once);
    char* thrice = IniFuzzCycle(twice);
    if (writable && std::strcmp(once, thrice) != 0) std::abort();

    // Edits on a parsed copy, then the written form once more.
    IniFile* edited = IniFile::FromString(once);
    if (IniSection* first = edited->Sections()) {
        // A section named "SYSTEM_COMMAND" takes commands, not keys.
        bool command = std::strcmp(first->name, "SYSTEM_COMMAND") == 0;
        edited->WriteString(first->name, "fuzz", "say \"it\"");
        if (!command && std::strcmp(edited->ReadString(first->name, "fuzz", ""), "say \"it\"") != 0) std::abort();
        if (first->keys && first->keys->next) edited->DeleteKey(first->name, first->keys->next->name);
        if (first->next) edited->DeleteSection(first->next->name);
    }
    edited->WriteString("SYSTEM_COMMAND", "INI_FILE_FLUSH", "NOW");
    MemFree(IniFuzzFlush(edited));
    delete edited;

    MemFree(once);
    MemFree(twice);
    MemFree(thrice);
    return 0;
}
