// Ini text: the parser's edge cases, the written form byte for byte, the command channel, deletes and
// integer reads.
#include "world/ini.h"

#include "core/console.h"
#include "core/memory_manager.h"
#include "lib/file_areas.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>

namespace {

// Sections in list order as "[name]key=value,key=value " (keys in list order too).
std::string IniDescribe(const IniFile& ini)
{
    std::string out;
    for (IniSection* s = ini.Sections(); s; s = s->next) {
        out += "[" + std::string(s->name) + "]";
        for (IniKey* k = s->keys; k; k = k->next) out += std::string(k->name) + "=" + k->value + (k->next ? "," : "");
        out += " ";
    }
    return out;
}

std::string IniRepeat(const std::string& piece, size_t times)
{
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

template <size_t N>
std::string IniBytes(const char (&text)[N])
{
    return std::string(text, N - 1);
}

std::string IniFlushText(IniFile* ini)
{
    char* text = ini->Flush();
    std::string out(text);
    MemFree(text);
    return out;
}

TEST(IniParse, EdgeCases)
{
    const struct {
        const char* label;
        std::string text;
        const char* sections;
    } rows[] = {
        {"inline comment", "[a]\nk = v ; note\n", "[a]k=v "},
        {"single quotes keep a comment", "[a]\nk = 'v ; x'\n", "[a]k=v ; x "},
        {"k= at the very end", "[a]\nk=", "[a]k= "},
        {"missing value drops the key", "[a]\nk =\nj=1\n", "[a]j=1 "},
        {"comment as value drops the key", "[a]\nk=;c\nj=1\n", "[a]j=1 "},
        {"comment as value at the very end", "[a]\nk= ;c", "[a]k= "},
        {"key before any section", "k=1\n[a]\nj=2\n", "[a]j=2 "},
        {"byte-order mark", "\xEF\xBB\xBF[a]\nk=1\n", "[a]k=1 "},
        {"'[' without ']' ends the parse", "[a]\nk=1\n[b\nj=2\n", "[a]k=1 "},
        {"lone '['", "[", ""},
        {"no header", "k=1\nj=2\n", ""},
        {"empty text", "", ""},
        {"junk merges into the next key's name", "[a]\njunk\na=1\n", "[a]junk\na=1 "},
        {"junk swallows a header", "[a]\njunk\n[b]\nk=1\n", "[a]junk\n[b]\nk=1 "},
        {"no '=' left", "[a]\nk=1\njunk\n", "[a]k=1 "},
        {"quoted value ending in blanks", "[a]\nk=\"v  \"\n", "[a]k=v "},
        {"quoted value keeps leading and inner blanks", "[a]\nk=\" v  w\"\n", "[a]k= v  w "},
        {"unclosed quote ends at the line", "[a]\nk=\"abc\nj=2\n", "[a]j=2,k=abc "},
        {"rest of the line after a quote", "[a]\nk=\"v\" tail=1\nj=2\n", "[a]j=2,k=v "},
        {"duplicate keys, newest first", "[a]\nk=1\nk=2\n", "[a]k=2,k=1 "},
        {"duplicate sections, newest first", "[a]\nx=1\n[a]\ny=2\n", "[a]y=2 [a]x=1 "},
        {"CR LF lines and comments", "; c\r\n# d\r\n[a]\r\n; x=1\r\nk=v\r\nj=w\r\n", "[a]j=w,k=v "},
        {"name trimmed, value trimmed", "[a]\n  key \t= v\t \n", "[a]key=v "},
        {"'#' cut from a name", "[a]\nk#=1\n", "[a]k=1 "},
        {"empty name", "[a]\n=v\n", "[a]=v "},
        {"header name kept as written", "[ my sec ]\nk=1\n", "[ my sec ]k=1 "},
        {"text around a header", "x [a] y\nk=1\n", "[a]y\nk=1 "},
        {"NUL bytes are ordinary", IniBytes("[a]\nk=x\0y\nj=2\n"), "[a]j=2,k=x "},
        {"NUL before the header", IniBytes("\0\0[a]\nk=1"), "[a]k=1 "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        IniFile* ini = IniFile::FromString(row.text.data(), row.text.size());
        EXPECT_EQ(IniDescribe(*ini), row.sections);
        delete ini;
    }
}

TEST(IniParse, FindsTheSectionReadLastOnly)
{
    IniFile* ini = IniFile::FromString("[a]\nx=1\n[b]\nz=3\n[a]\ny=2\n");
    EXPECT_EQ(ini->FindKey("a", "x"), nullptr);
    ASSERT_NE(ini->FindKey("a", "y"), nullptr);
    EXPECT_STREQ(ini->ReadString("a", "y", "none"), "2");
    EXPECT_STREQ(ini->ReadString("A", "y", "none"), "none");  // case-sensitive
    EXPECT_STREQ(ini->ReadString("b", "z", "none"), "3");
    EXPECT_EQ(ini->FindSection(nullptr), nullptr);
    EXPECT_EQ(ini->FindKey("a", nullptr), nullptr);
    delete ini;
}

TEST(IniParse, LongLinesUnbalancedQuotesAndBrackets)
{
    const size_t mib = 1u << 20;
    const struct {
        const char* label;
        std::string text;
        std::string sections;
    } rows[] = {
        {"1 MiB value", "[a]\nk=" + std::string(mib, 'v') + "\nj=1", "[a]j=1,k=" + std::string(mib, 'v') + " "},
        {"1 MiB of junk", "[a]\n" + std::string(mib, 'j'), "[a] "},
        {"1 MiB of opening quotes", "[a]\nk=" + std::string(mib, '"'), "[a]k= "},
        {"1 MiB of '['", std::string(mib, '['), ""},
        {"1 MiB of dropped keys", "[a]\n" + IniRepeat("=\n", mib / 2), "[a] "},
        {"1 MiB of comment lines", "[a]\n" + IniRepeat(";\n", mib / 2), "[a] "},
        {"1 MiB of headers", IniRepeat("[]", mib / 2), IniRepeat("[] ", mib / 2)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        IniFile* ini = IniFile::FromString(row.text.data(), row.text.size());
        EXPECT_EQ(IniDescribe(*ini), row.sections);
        delete ini;
    }
}

TEST(IniFlush, WrittenFormByteForByte)
{
    // Sections and keys come out newest first, so each parse-and-flush cycle reverses their order; a
    // value holding '"' is written in single quotes.
    const std::string golden = kvtest::SourceDir() + "/tests/world/golden/";
    IniFile* ini = IniFile::FromString("[x]\na=1\nb = two words \n[y]\nc='say \"hi\"'\nd=\n");
    std::string once = IniFlushText(ini);
    delete ini;
    EXPECT_EQ(once, kvtest::ReadFile(golden + "ini_flush_once.txt"));
    ini = IniFile::FromString(once.c_str());
    std::string twice = IniFlushText(ini);
    delete ini;
    EXPECT_EQ(twice, kvtest::ReadFile(golden + "ini_flush_twice.txt"));
    ini = IniFile::FromString(twice.c_str());
    EXPECT_EQ(IniFlushText(ini), once);
    delete ini;
}

TEST(IniFlush, QuotesInValuesRoundTrip)
{
    const struct {
        const char* value;
        const char* readBack;
    } rows[] = {
        {"say \"hi\"", "say \"hi\""},
        {"it's", "it's"},
        {"\"", "\""},
        {"plain", "plain"},
        {"", ""},
        // Both kinds: nothing is escaped, so it reads back cut at the first '"' (and loses the blank).
        {"it's \"x\"", "it's"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        IniFile* ini = IniFile::FromString("");
        ASSERT_TRUE(ini->WriteString("s", "k", row.value));
        std::string text = IniFlushText(ini);
        delete ini;
        ini = IniFile::FromString(text.c_str());
        EXPECT_STREQ(ini->ReadString("s", "k", "missing"), row.readBack) << text;
        delete ini;
    }
}

TEST(IniWrite, StoresReplacesAndRefusesNullNames)
{
    IniFile* ini = IniFile::FromString("[a]\nk=1\n");
    EXPECT_FALSE(ini->Dirty());
    EXPECT_TRUE(ini->WriteString("a", "k", "2"));
    EXPECT_TRUE(ini->Dirty());
    EXPECT_TRUE(ini->WriteString("a", "new", nullptr));
    EXPECT_TRUE(ini->WriteString("b", "x", "y"));
    EXPECT_FALSE(ini->WriteString(nullptr, "x", "y"));
    EXPECT_FALSE(ini->WriteString("a", nullptr, "y"));
    EXPECT_EQ(IniDescribe(*ini), "[b]x=y [a]new=,k=2 ");
    char* text = ini->Flush();
    EXPECT_FALSE(ini->Dirty());
    MemFree(text);
    delete ini;
}

TEST(IniWrite, SystemCommandChannel)
{
    char full[2048];
    ASSERT_TRUE(SaveArea_ResolvePath(full, sizeof full, "inicmd/opts.ini"));
    std::filesystem::remove_all(std::filesystem::path(full).parent_path());

    const struct {
        const char* key;
        const char* value;
        bool written;
    } rows[] = {
        {"INI_FILE_FLUSH", "NOW", true},
        {"INI_FILE_FLUSH", "LATER", false},
        {"x", "y", false},
        {"INI_FILE_FLUSH", nullptr, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.key) + "/" + (row.value ? row.value : "null"));
        std::filesystem::remove(full);
        // A named file with nothing changed.
        auto* ini = new IniFile("inicmd/opts.ini", false);
        EXPECT_EQ(ini->Sections(), nullptr);
        EXPECT_TRUE(ini->WriteString("SYSTEM_COMMAND", row.key, row.value));
        EXPECT_EQ(std::filesystem::exists(full), row.written);
        EXPECT_EQ(ini->FindSection("SYSTEM_COMMAND"), nullptr);
        if (row.written) {
            EXPECT_EQ(kvtest::ReadFile(full), "");
        }
        delete ini;
    }

    // A written key reaches the file on the command, and the file reads back.
    auto* ini = new IniFile("inicmd/opts.ini", false);
    ini->WriteString("s", "k", "v");
    ini->WriteString("SYSTEM_COMMAND", "INI_FILE_FLUSH", "NOW");
    EXPECT_FALSE(ini->Dirty());
    delete ini;
    EXPECT_EQ(kvtest::ReadFile(full), "[s]\r\nk=\"v\"\r\n");
    ini = new IniFile("inicmd/opts.ini", false);
    EXPECT_STREQ(ini->ReadString("s", "k", "missing"), "v");
    delete ini;

    // A file without a name is never written.
    ini = IniFile::FromString("[s]\nk=1\n");
    EXPECT_TRUE(ini->WriteString("SYSTEM_COMMAND", "INI_FILE_FLUSH", "NOW"));
    EXPECT_FALSE(ini->Dirty());
    delete ini;
}

TEST(IniWrite, NamedFileLogsItsContentsAndMissingFilesStayEmpty)
{
    std::string dir = kvtest::ScratchDir() + "/inilog/";
    std::filesystem::create_directories(dir);
    kvtest::WriteFile(dir + "a.ini", "[s]\nk=1\n");
    kvtest::RecordingConsole console;
    tagIConsole* old = DebugConsole;
    DebugConsole = &console;
    auto* ini = new IniFile((dir + "a.ini").c_str(), true);
    auto* missing = new IniFile((dir + "none.ini").c_str(), true);
    auto* quiet = new IniFile((dir + "a.ini").c_str(), false);
    DebugConsole = old;
    EXPECT_EQ(console.text, dir + "a.ini file contents: [s]\nk=1\n\n");
    EXPECT_EQ(ini->ReadInt("s", "k", 0), 1);
    EXPECT_EQ(quiet->ReadInt("s", "k", 0), 1);
    EXPECT_EQ(missing->Sections(), nullptr);
    EXPECT_STREQ(missing->Name(), (dir + "none.ini").c_str());
    EXPECT_FALSE(missing->Parse());
    delete ini;
    delete missing;
    delete quiet;
}

TEST(IniDelete, KeysAndSections)
{
    const struct {
        bool section;
        const char* sectionName;
        const char* key;
        bool result;
        const char* left;
    } rows[] = {
        {false, "a", "k", true, "[b]z=3 [a]j=2 "},
        {false, "a", "zz", false, "[b]z=3 [a]j=2,k=1 "},
        {false, "nope", "k", false, "[b]z=3 [a]j=2,k=1 "},
        {false, "a", nullptr, false, "[b]z=3 [a]j=2,k=1 "},
        {true, "a", nullptr, true, "[b]z=3 "},
        {true, "b", nullptr, true, "[a]j=2,k=1 "},
        {true, "c", nullptr, false, "[b]z=3 [a]j=2,k=1 "},
        {true, nullptr, nullptr, false, "[b]z=3 [a]j=2,k=1 "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.sectionName ? row.sectionName : "null") + "/" + (row.key ? row.key : "null"));
        IniFile* ini = IniFile::FromString("[a]\nk=1\nj=2\n[b]\nz=3\n");
        bool result = row.section ? ini->DeleteSection(row.sectionName) : ini->DeleteKey(row.sectionName, row.key);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(ini->Dirty(), row.result);
        EXPECT_EQ(IniDescribe(*ini), row.left);
        delete ini;
    }
}

TEST(IniRead, IntegersAsAtoiReadsThem)
{
    const struct {
        const char* value;
        int32_t expected;
    } rows[] = {
        {"1.9", 1},          {"yes", 0},          {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN},
        {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"  -42abc", -42}, {"+7", 7},
        {"", 0},             {"- 5", 0},          {"0x10", 0},       {"\t12", 12},
        {"999999999999999999999999999", INT32_MAX},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value);
        IniFile* ini = IniFile::FromString("");
        ini->WriteString("s", "k", row.value);
        EXPECT_EQ(ini->ReadInt("s", "k", -1), row.expected);
        delete ini;
    }
    IniFile* ini = IniFile::FromString("[s]\n");
    EXPECT_EQ(ini->ReadInt("s", "missing", 77), 77);
    EXPECT_EQ(ini->ReadInt("t", "k", -3), -3);
    delete ini;
}

}  // namespace
