#include "world/ini.h"

#include "core/console.h"
#include "core/memory_manager.h"
#include "lib/file_areas.h"

#include <climits>
#include <cstring>

namespace {

// A NUL-terminated copy of length bytes (inner NUL bytes are copied too; readers see the text up to
// the first one).
char* IniCopyBytes(const char* bytes, size_t length)
{
    auto* copy = static_cast<char*>(MemoryManager::Alloc(length + 1, __FILE__, __LINE__, false));
    if (length) std::memcpy(copy, bytes, length);
    copy[length] = '\0';
    return copy;
}

char* IniCopyText(const char* text) { return IniCopyBytes(text, std::strlen(text)); }

// A kept text ends at its first NUL byte, so what is trimmed from its end is what a reader sees.
size_t IniTextEnd(const char* text, size_t start, size_t end)
{
    const void* nul = std::memchr(text + start, '\0', end - start);
    return nul ? size_t(static_cast<const char*>(nul) - text) : end;
}

bool IniIsLineEnd(char c) { return c == '\r' || c == '\n'; }

// What is cut from the end of a key name.
bool IniIsNameTrail(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '#' || c == ';'; }

void IniFreeKey(IniKey* key)
{
    MemFree(key->name);
    MemFree(key->value);
    MemFree(key);
}

void IniFreeSection(IniSection* section)
{
    for (IniKey* key = section->keys; key;) {
        IniKey* next = key->next;
        IniFreeKey(key);
        key = next;
    }
    MemFree(section->name);
    MemFree(section);
}

}  // namespace

void* IniFile::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }

void IniFile::operator delete(void* block) { MemoryManager::Free(block); }

IniFile::IniFile() = default;

IniFile::IniFile(const char* name, bool logContents)
{
    if (name) name_ = IniCopyText(name);
    if (logContents && LoadText()) DebugConsole->Output("%s file contents: %s\n", name_, text_);
    Parse();
}

IniFile::~IniFile()
{
    for (IniSection* section = sections_; section;) {
        IniSection* next = section->next;
        IniFreeSection(section);
        section = next;
    }
    MemFree(name_);
    FreeText();
}

IniFile* IniFile::FromString(const char* text, size_t length)
{
    auto* ini = new IniFile();
    ini->text_ = IniCopyBytes(text ? text : "", text ? length : 0);
    ini->length_ = text ? length : 0;
    ini->Parse();
    return ini;
}

IniFile* IniFile::FromString(const char* text) { return FromString(text, text ? std::strlen(text) : 0); }

void IniFile::FreeText()
{
    MemFree(text_);
    text_ = nullptr;
    length_ = 0;
}

bool IniFile::LoadText()
{
    FreeText();
    if (!name_) return false;
    int32_t size = 0;
    void* block = SaveArea_FileExists(name_) ? SaveArea_ReadFile(name_, &size) : GameArea_ReadFile(name_, &size);
    if (!block) return false;
    // One more byte so the text can be logged as a string.
    text_ = static_cast<char*>(MemReAlloc(block, size_t(size) + 1));
    if (!text_) {
        MemFree(block);
        return false;
    }
    text_[size] = '\0';
    length_ = size_t(size);
    return true;
}

bool IniFile::SkipSpace()
{
    bool crossed = false;
    while (cursor_ < length_) {
        char c = text_[cursor_];
        if (c == '#' || c == ';') {
            while (cursor_ < length_ && !IniIsLineEnd(text_[cursor_])) ++cursor_;
        } else if (IniIsLineEnd(c)) {
            ++line_;
            crossed = true;
            ++cursor_;
        } else if (c == ' ' || c == '\t') {
            ++cursor_;
        } else {
            break;
        }
    }
    return crossed;
}

IniSection* IniFile::ParseSection()
{
    SkipSpace();
    const char* open = static_cast<const char*>(std::memchr(text_ + cursor_, '[', length_ - cursor_));
    const char* close = nullptr;
    if (open) close = static_cast<const char*>(std::memchr(open + 1, ']', size_t(text_ + length_ - (open + 1))));
    if (!close) {
        cursor_ = length_;
        return nullptr;
    }
    auto* section = static_cast<IniSection*>(MemoryManager::Alloc(sizeof(IniSection), __FILE__, __LINE__, true));
    section->name = IniCopyBytes(open + 1, size_t(close - (open + 1)));
    cursor_ = size_t(close - text_) + 1;
    return section;
}

IniFile::KeyResult IniFile::ParseKey(IniKey** out)
{
    *out = nullptr;
    SkipSpace();
    if (cursor_ >= length_ || text_[cursor_] == '[') return KeyResult::None;

    // The name runs to the next '=' whatever lies between, line ends included.
    const char* equals = static_cast<const char*>(std::memchr(text_ + cursor_, '=', length_ - cursor_));
    if (!equals) {
        cursor_ = length_;
        return KeyResult::None;
    }
    size_t nameStart = cursor_;
    size_t nameEnd = IniTextEnd(text_, nameStart, size_t(equals - text_));
    while (nameEnd > nameStart && IniIsNameTrail(text_[nameEnd - 1])) --nameEnd;
    cursor_ = size_t(equals - text_) + 1;

    // A missing value, or one that is a comment, drops the key.
    if (SkipSpace()) return KeyResult::Dropped;

    size_t valueStart = cursor_;
    size_t valueEnd;
    if (cursor_ < length_ && (text_[cursor_] == '"' || text_[cursor_] == '\'')) {
        char quote = text_[cursor_++];
        valueStart = cursor_;
        while (cursor_ < length_ && text_[cursor_] != quote && !IniIsLineEnd(text_[cursor_])) ++cursor_;
        valueEnd = cursor_;
        if (cursor_ < length_ && text_[cursor_] == quote) {
            ++cursor_;
            while (cursor_ < length_ && !IniIsLineEnd(text_[cursor_])) ++cursor_;
        }
    } else {
        while (cursor_ < length_) {
            char c = text_[cursor_];
            if (c == '#' || c == ';' || IniIsLineEnd(c)) break;
            ++cursor_;
        }
        valueEnd = cursor_;
    }
    valueEnd = IniTextEnd(text_, valueStart, valueEnd);
    while (valueEnd > valueStart && (text_[valueEnd - 1] == ' ' || text_[valueEnd - 1] == '\t')) --valueEnd;

    auto* key = static_cast<IniKey*>(MemoryManager::Alloc(sizeof(IniKey), __FILE__, __LINE__, true));
    key->name = IniCopyBytes(text_ + nameStart, nameEnd - nameStart);
    key->value = IniCopyBytes(text_ + valueStart, valueEnd - valueStart);
    *out = key;
    return KeyResult::Read;
}

bool IniFile::Parse()
{
    if (!text_ && !LoadText()) return false;
    cursor_ = 0;
    line_ = 0;
    if (length_ >= 3 && std::memcmp(text_, "\xEF\xBB\xBF", 3) == 0) cursor_ = 3;

    IniSection* current = ParseSection();
    if (current) {
        current->next = sections_;
        sections_ = current;
    }
    while (current && cursor_ < length_) {
        IniKey* key = nullptr;
        KeyResult result = ParseKey(&key);
        if (result == KeyResult::Read) {
            key->next = current->keys;
            current->keys = key;
        } else if (result == KeyResult::None) {
            if (cursor_ >= length_ || text_[cursor_] != '[') break;
            current = ParseSection();
            if (!current) break;
            current->next = sections_;
            sections_ = current;
        }
    }
    FreeText();
    return true;
}

IniSection* IniFile::FindSection(const char* section) const
{
    if (!section) return nullptr;
    for (IniSection* s = sections_; s; s = s->next)
        if (std::strcmp(s->name, section) == 0) return s;
    return nullptr;
}

IniKey* IniFile::FindKey(const char* section, const char* key) const
{
    IniSection* s = FindSection(section);
    if (!s || !key) return nullptr;
    for (IniKey* k = s->keys; k; k = k->next)
        if (std::strcmp(k->name, key) == 0) return k;
    return nullptr;
}

const char* IniFile::ReadString(const char* section, const char* key, const char* defaultValue) const
{
    IniKey* k = FindKey(section, key);
    return k ? k->value : defaultValue;
}

int32_t IniFile::ToInt(const char* text)
{
    if (!text) return 0;
    const char* p = text;
    // The blanks of the "C" locale's isspace.
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > int64_t(INT32_MAX) + 1) value = int64_t(INT32_MAX) + 1;  // saturated; keeps it small
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return int32_t(value);
}

int32_t IniFile::ReadInt(const char* section, const char* key, int32_t defaultValue) const
{
    IniKey* k = FindKey(section, key);
    return k ? ToInt(k->value) : defaultValue;
}

bool IniFile::WriteString(const char* section, const char* key, const char* value)
{
    dirty_ = true;
    if (section && std::strcmp(section, "SYSTEM_COMMAND") == 0) {
        if (key && value && std::strcmp(key, "INI_FILE_FLUSH") == 0 && std::strcmp(value, "NOW") == 0)
            MemFree(Flush());
        return true;
    }
    if (!section || !key) return false;
    IniKey* k = FindKey(section, key);
    if (!k) {
        IniSection* s = FindSection(section);
        if (!s) {
            s = static_cast<IniSection*>(MemoryManager::Alloc(sizeof(IniSection), __FILE__, __LINE__, true));
            s->name = IniCopyText(section);
            s->next = sections_;
            sections_ = s;
        }
        k = static_cast<IniKey*>(MemoryManager::Alloc(sizeof(IniKey), __FILE__, __LINE__, true));
        k->name = IniCopyText(key);
        k->next = s->keys;
        s->keys = k;
    }
    char* copy = IniCopyText(value ? value : "");
    MemFree(k->value);
    k->value = copy;
    return true;
}

bool IniFile::DeleteKey(const char* section, const char* key)
{
    IniSection* s = FindSection(section);
    if (!s || !key) return false;
    for (IniKey** link = &s->keys; *link; link = &(*link)->next) {
        if (std::strcmp((*link)->name, key) == 0) {
            IniKey* gone = *link;
            *link = gone->next;
            IniFreeKey(gone);
            dirty_ = true;
            return true;
        }
    }
    return false;
}

bool IniFile::DeleteSection(const char* section)
{
    if (!section) return false;
    for (IniSection** link = &sections_; *link; link = &(*link)->next) {
        if (std::strcmp((*link)->name, section) == 0) {
            IniSection* gone = *link;
            *link = gone->next;
            IniFreeSection(gone);
            dirty_ = true;
            return true;
        }
    }
    return false;
}

char* IniFile::Flush()
{
    size_t total = 0;
    for (IniSection* s = sections_; s; s = s->next) {
        total += std::strlen(s->name) + 4;
        for (IniKey* k = s->keys; k; k = k->next) total += std::strlen(k->name) + std::strlen(k->value) + 5;
    }
    auto* text = static_cast<char*>(MemoryManager::Alloc(total + 1, __FILE__, __LINE__, false));
    char* p = text;
    auto put = [&p](const char* bytes, size_t n) {
        std::memcpy(p, bytes, n);
        p += n;
    };
    for (IniSection* s = sections_; s; s = s->next) {
        put("[", 1);
        put(s->name, std::strlen(s->name));
        put("]\r\n", 3);
        for (IniKey* k = s->keys; k; k = k->next) {
            // Nothing is escaped, so a value holding '"' would read back cut at it; single quotes keep it
            // whole unless it holds both kinds.
            char quote = (std::strchr(k->value, '"') && !std::strchr(k->value, '\'')) ? '\'' : '"';
            put(k->name, std::strlen(k->name));
            put("=", 1);
            put(&quote, 1);
            put(k->value, std::strlen(k->value));
            put(&quote, 1);
            put("\r\n", 2);
        }
    }
    *p = '\0';
    if (dirty_ && name_ && total <= size_t(INT32_MAX)) SaveArea_WriteFile(name_, text, int32_t(total));
    dirty_ = false;
    return text;
}
