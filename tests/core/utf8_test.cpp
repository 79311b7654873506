#include "core/memory_manager.h"
#include "core/text.h"

#include "py_oracle.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

std::string Utf8Hex(const char* bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < n; ++i) {
        auto b = static_cast<unsigned char>(bytes[i]);
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

TEST(Utf8, DecodesAndAdvancesByTheLeadByte)
{
    struct Case {
        const char* bytes;
        uint16_t codePoint;
        int advance;
    } cases[] = {
        {"A", 0x41, 1},
        {"\xC3\xA9", 0x00E9, 2},
        {"\xE2\x82\xAC", 0x20AC, 3},
        {"\xEF\xBF\xBF", 0xFFFF, 3},
        // Four-byte sequences read as three bytes; the fourth starts the next character.
        {"\xF0\x9F\x98\x80", 0x07D8, 3},
        // Stray continuation bytes lead by their bit 5; overlong forms decode unchecked.
        {"\x80\x41", 0x0001, 2},
        {"\xBF\x80\x80", 0xF000, 3},
        {"\xC0\x80", 0x0000, 2},
        {"\xE0\x80\xAF", 0x002F, 3},
        // Continuation bytes are never checked.
        {"\xC3\x41", 0x00C1, 2},
    };
    for (const Case& c : cases) {
        const char* cursor = c.bytes;
        EXPECT_EQ(UTF8_GetChar(&cursor), c.codePoint) << Utf8Hex(c.bytes, std::strlen(c.bytes));
        EXPECT_EQ(cursor - c.bytes, c.advance) << Utf8Hex(c.bytes, std::strlen(c.bytes));
        EXPECT_EQ(UTF8_DecodeChar(c.bytes), c.codePoint);
    }
    const char* end = "";
    EXPECT_EQ(UTF8_GetChar(&end), 0);
    EXPECT_STREQ(end, "");
}

TEST(Utf8, PutCharWritesOnlyItsBytes)
{
    struct Case {
        uint32_t codePoint;
        const char* bytes;
    } cases[] = {
        {0x7F, "\x7F"}, {0x80, "\xC2\x80"}, {0x7FF, "\xDF\xBF"}, {0x800, "\xE0\xA0\x80"}, {0x1F600, "\xEF\x98\x80"},
    };
    for (const Case& c : cases) {
        char buffer[6];
        std::memset(buffer, 0x55, sizeof buffer);
        char* cursor = buffer;
        UTF8_PutChar(&cursor, c.codePoint);
        size_t n = std::strlen(c.bytes);
        EXPECT_EQ(static_cast<size_t>(cursor - buffer), n) << std::hex << c.codePoint;
        EXPECT_EQ(Utf8Hex(buffer, sizeof buffer), Utf8Hex(c.bytes, n) + std::string(2 * (6 - n), '5'));
        EXPECT_EQ(UTF8_CharLength(c.codePoint), static_cast<int>(n));
    }
}

// Every code point's encoding against Python's, and each decodes back to itself in as many bytes.
TEST(Utf8, EncodingsMatchPython)
{
    std::string folder = kvtest_py::Generate("tests/core/gen_utf8_vectors.py", "");
    ASSERT_FALSE(folder.empty());
    std::ifstream in(folder + "encode.txt");
    std::string line;
    int rows = 0, mismatches = 0;
    bool seen[7] = {};
    const uint32_t named[7] = {0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFF};
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        uint32_t codePoint;
        std::string expected;
        fields >> std::hex >> codePoint >> expected;
        ++rows;
        for (int i = 0; i < 7; ++i) seen[i] |= codePoint == named[i];

        char buffer[4] = {0, 0, 0, 0};
        char* end = buffer;
        UTF8_PutChar(&end, codePoint);
        std::string got = Utf8Hex(buffer, static_cast<size_t>(end - buffer));
        const char* cursor = buffer;
        uint16_t back = UTF8_GetChar(&cursor);
        bool ok = got == expected && UTF8_CharLength(codePoint) == end - buffer && back == (codePoint & 0xFFFF) &&
                  (codePoint & 0xFFFF ? cursor == end : cursor == buffer);
        if (!ok && ++mismatches <= 10)
            ADD_FAILURE() << std::hex << codePoint << ": wrote " << got << ", python " << expected << ", read back "
                          << back;
    }
    EXPECT_EQ(rows, 0x10000 + 5);
    EXPECT_EQ(mismatches, 0);
    for (int i = 0; i < 7; ++i) EXPECT_TRUE(seen[i]) << std::hex << named[i];
}

TEST(Utf8, LengthCountsCharactersNotBytes)
{
    struct Case {
        const char* text;
        int length;
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {"a\xC3\xA9\xE2\x82\xAC", 3},
        {"\xF0\x9F\x98\x80\x41\x42", 3},
        {"\x80\x80\x80", 2},
        // Tails at the terminator count as one character.
        {"\xC3", 1},
        {"\xE2", 1},
        {"\xE2\x82", 1},
        {"ab\xE2\x82", 3},
    };
    for (const Case& c : cases) EXPECT_EQ(UTF8_Length(c.text), c.length) << Utf8Hex(c.text, std::strlen(c.text));
}

TEST(Utf8, CompareNoCaseFoldsAsciiLettersOnly)
{
    struct Case {
        const char* a;
        const char* b;
        int result;
    } cases[] = {
        {"Hello", "hELLO", 0},
        {"a", "b", 'a' - 'b'},
        {"a", "B", 0x61 - 0x42},
        {"", "", 0},
        {"abc", "ab", 'c'},
        {"ab", "ABC", -'C'},
        {"Zebra", "zEBRa", 0},
        {"@", "`", 0x40 - 0x60},
        {"[", "{", 0x5B - 0x7B},
        {"\xC3\xA9", "\xC3\x89", 0xE9 - 0xC9},  // no folding beyond ASCII
        {"x\xE2\x82\xAC", "X\xE2\x82\xAC", 0},
        {"\xE2\x82", "\xE2\x82\xAC", 0x2080 - 0x20AC},
    };
    for (const Case& c : cases) EXPECT_EQ(UTF8_CompareNoCase(c.a, c.b), c.result) << c.a << " / " << c.b;
}

TEST(Utf8, CompareNComparesAtMostNCharacters)
{
    struct Case {
        const char* a;
        const char* b;
        int n;
        int result;
    } cases[] = {
        {"abcd", "abXY", 2, 0},
        {"abcd", "abXY", 3, 0x63 - 0x58},
        {"abc", "abc", 10, 0},
        {"abc", "abcd", 10, -'d'},
        {"abcd", "abc", 4, 'd'},
        {"abc", "xyz", 0, 0},
        {"abc", "xyz", -1, 'a' - 'x'},
        {"", "", -3, 0},
        {"Abc", "abc", 3, 'A' - 'a'},
        {"\xC3\xA9z", "\xC3\xA9y", 1, 0},
        {"\xC3\xA9z", "\xC3\xA9y", 2, 'z' - 'y'},
        {"\xE2\x82\xAC", "e", 1, 0x20AC - 'e'},
    };
    for (const Case& c : cases) EXPECT_EQ(UTF8_CompareN(c.a, c.b, c.n), c.result) << c.a << " / " << c.b << " " << c.n;
}

TEST(Utf8, FindMatchesAtCharacterPositions)
{
    struct Case {
        const char* text;
        const char* pattern;
        int offset;  // -1: no match
    } cases[] = {
        {"banana", "nan", 2},
        {"banana", "", 0},
        {"", "a", -1},
        {"", "", -1},
        {"banana", "x", -1},
        {"banana", "bananas", -1},
        {"banana", "a", 1},
        {"a\xC3\xA9\xE2\x82\xAC" "b", "\xE2\x82\xAC", 3},
        {"a\xC3\xA9\xE2\x82\xAC" "b", "\xE2\x82\xAC" "b", 3},
        // Bytes inside a character are not positions: a byte search would match these.
        {"\xC3\xA9", "\xA9", -1},
        {"\xE2\x82\xAC", "\x82\xAC", -1},
        {"aNaN", "nan", -1},  // exact, no case folding
    };
    for (const Case& c : cases) {
        const char* found = UTF8_Find(c.text, c.pattern);
        if (c.offset < 0) EXPECT_EQ(found, nullptr) << c.text << " / " << c.pattern;
        else EXPECT_EQ(found, c.text + c.offset) << c.text << " / " << c.pattern;
    }
}

// A text whose terminator is the last byte before an inaccessible page: any read past it faults.
class Utf8GuardedText {
public:
    explicit Utf8GuardedText(const std::string& bytes)
    {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void* map = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = map == MAP_FAILED ? nullptr : static_cast<char*>(map);
        if (!base_) return;
        mprotect(base_ + page_, page_, PROT_NONE);
        text_ = base_ + page_ - bytes.size() - 1;
        std::memcpy(text_, bytes.data(), bytes.size());
        text_[bytes.size()] = 0;
    }
    ~Utf8GuardedText()
    {
        if (base_) munmap(base_, 2 * page_);
    }
    const char* text() const { return text_; }

private:
    size_t page_ = 0;
    char* base_ = nullptr;
    char* text_ = nullptr;
};

TEST(Utf8, TailsAtTheTerminatorNeverReadPastIt)
{
    struct Case {
        std::string bytes;
        uint16_t codePoint;  // missing bytes read as 0
    } cases[] = {
        {"\xC3", 0x00C0},
        {"\xE2", 0x2000},
        {"\xE2\x82", 0x2080},
        {"\x80", 0x0000},
        {"\xBF", 0xF000},
        {"\xF0\x9F", 0x07C0},
    };
    for (const Case& c : cases) {
        Utf8GuardedText guarded(c.bytes);
        const char* text = guarded.text();
        ASSERT_NE(text, nullptr);
        const char* cursor = text;
        EXPECT_EQ(UTF8_GetChar(&cursor), c.codePoint) << Utf8Hex(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(cursor, text + c.bytes.size());
        EXPECT_EQ(UTF8_GetChar(&cursor), 0);
        EXPECT_EQ(cursor, text + c.bytes.size());
        EXPECT_EQ(UTF8_DecodeChar(text), c.codePoint);
        EXPECT_EQ(UTF8_Length(text), 1);
        EXPECT_EQ(UTF8_CompareNoCase(text, text), 0);
        EXPECT_EQ(UTF8_CompareN(text, text, 5), 0);
        EXPECT_EQ(UTF8_Find(text, text), text);
        EXPECT_EQ(UTF8_Find(text, "a"), nullptr);
        EXPECT_EQ(UTF8_Find("a", text), nullptr);
    }
}

TEST(Utf8, Utf16ToNarrowKeepsTheLowByteOfEachUnit)
{
    struct Case {
        const char16_t* wide;
        const char* narrow;
    } cases[] = {
        {u"", ""},
        {u"data.win", "data.win"},
        {u"caf\u00E9", "caf\xE9"},
        {u"\u20AC5", "\xAC" "5"},
    };
    for (const Case& c : cases) {
        char* narrow = UTF16_ToNarrow(c.wide);
        ASSERT_NE(narrow, nullptr);
        EXPECT_STREQ(narrow, c.narrow);
        MemFree(narrow);
    }
    EXPECT_EQ(UTF16_ToNarrow(nullptr), nullptr);
}

}  // namespace
