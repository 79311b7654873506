// The one reader and writer of ini text: options.ini, the virtual buttons kept in it, and the ini_*
// built-ins. Sections and keys are kept newest first, both when parsing and when writing, so every
// parse-and-flush cycle reverses their order in the written text.
//
// The text is untrusted: parsing never reads past the held bytes, a NUL byte is an ordinary byte, and
// every step is linear in the length of the text.
#pragma once
#include <cstddef>
#include <cstdint>

struct IniKey {
    IniKey* next;
    char* name;   // own copy
    char* value;  // own copy, never null once set
};

struct IniSection {
    IniSection* next;
    IniKey* keys;  // newest first
    char* name;    // own copy
};

class IniFile {
public:
    // An empty file without a name; FromString gives one over a text.
    IniFile();
    // Keeps a copy of the name and parses the file of that name (save area first, else game area). With
    // logContents the whole text goes to the debug console. A missing file leaves no sections but keeps
    // the name, so a later flush creates the file.
    IniFile(const char* name, bool logContents);
    // Frees everything; does not flush (callers flush first).
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // Every IniFile lives in the memory manager.
    static void* operator new(size_t size);
    static void operator delete(void* block);

    // A nameless file over a copy of the text, parsed at once. Flushing it never writes a file.
    static IniFile* FromString(const char* text, size_t length);
    static IniFile* FromString(const char* text);

    // Parses the held text (loading the file first when none is held). False when there was no text.
    bool Parse();

    // Names compare byte for byte; the first in list order (the one read or written last) wins.
    IniSection* FindSection(const char* section) const;
    IniKey* FindKey(const char* section, const char* key) const;

    const char* ReadString(const char* section, const char* key, const char* defaultValue) const;
    // The value as atoi reads it (leading blanks, a sign, digits; "1.9" is 1, "yes" is 0), saturated to
    // the 32-bit range; defaultValue when the key is missing.
    int32_t ReadInt(const char* section, const char* key, int32_t defaultValue) const;

    // Section "SYSTEM_COMMAND" is a command channel: key "INI_FILE_FLUSH" with value "NOW" writes the
    // file at once; nothing else is stored under it. A null value stores the empty text. False for a
    // null section or key.
    bool WriteString(const char* section, const char* key, const char* value);
    bool DeleteKey(const char* section, const char* key);
    bool DeleteSection(const char* section);

    // The text of every section and key (CR LF line ends, values quoted) in a new memory-manager block
    // the caller frees; a changed file with a name is also written to the save area.
    char* Flush();

    IniSection* Sections() const { return sections_; }
    const char* Name() const { return name_; }
    bool Dirty() const { return dirty_; }

    // atoi over untrusted text, saturated to the 32-bit range.
    static int32_t ToInt(const char* text);

private:
    bool LoadText();
    bool SkipSpace();  // true when a line end was passed
    IniSection* ParseSection();
    enum class KeyResult { Read, Dropped, None };
    KeyResult ParseKey(IniKey** out);
    void FreeText();

    char* name_ = nullptr;
    char* text_ = nullptr;
    size_t length_ = 0;
    size_t cursor_ = 0;
    int32_t line_ = 0;
    IniSection* sections_ = nullptr;
    bool dirty_ = false;
};
