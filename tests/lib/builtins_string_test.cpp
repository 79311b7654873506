// String built-ins through the function table: the edge cases, texts cut inside a character, the limits of
// string_repeat and string_format, and case mapping that leaves the process locale alone.
#include "builtin_call.h"

#include "core/text.h"
#include "core/value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using kvtest::Call;
using kvtest::OwnedValue;
using kvtest::R;
using kvtest::S;

class StringBuiltins : public kvtest::BuiltinTest {};

// An argument list in a compact form: a string or a number each.
struct StringArg {
    bool text;
    std::string s;
    double d;
    StringArg(const char* t) : text(true), s(t), d(0) {}
    StringArg(std::string t) : text(true), s(std::move(t)), d(0) {}
    StringArg(double v) : text(false), d(v) {}
    StringArg(int v) : text(false), d(v) {}
};

std::vector<OwnedValue> StringMake(const std::vector<StringArg>& args)
{
    std::vector<OwnedValue> out;
    for (const StringArg& a : args) out.push_back(a.text ? S(a.s) : R(a.d));
    return out;
}

TEST_F(StringBuiltins, EdgeCases)
{
    struct Row {
        const char* name;
        std::vector<StringArg> args;
        StringArg want;
        const char* report = "";
    };
    const std::string e9 = "\xC3\xA9";  // é
    const std::string euro = "\xE2\x82\xAC";
    char fixed[400];
    std::snprintf(fixed, sizeof fixed, "%.2f", 1e300);
    const std::string longFixed = fixed;  // over 255 bytes, whole
    const Row rows[] = {
        {"chr", {65}, "A"},
        {"chr", {233}, e9},
        {"chr", {8364}, euro},
        {"chr", {0}, ""},
        {"chr", {-1}, "\x7F"},
        {"chr", {65601}, "\xE0\x81\x81"},
        {"ansi_char", {0}, ""},
        {"ansi_char", {0x1C3}, "\xC3"},
        {"ord", {""}, 0.0},
        {"ord", {euro + "x"}, 8364.0},
        {"string_ord_at", {"abc", 4}, -1.0},
        {"string_ord_at", {"abc", -3}, 97.0},
        {"string_char_at", {"abc", 0}, "a"},
        {"string_char_at", {"abc", 4}, ""},
        {"string_char_at", {"a" + e9 + "c", 2}, e9},
        {"string_byte_at", {"abc", 99}, 99.0},
        {"string_byte_at", {"\xC3" "a", 1}, -61.0},
        {"string_byte_at", {"", 1}, 0.0},
        {"string_byte_at", {"abc", -5}, 97.0},
        {"string_set_byte_at", {"abc", 4, 65}, "abc", "string_set_byte_at : index beyond end of string\n"},
        {"string_set_byte_at", {"abc", 0, 65}, "abc", "string_set_byte_at : index beyond end of string\n"},
        {"string_set_byte_at", {"abc", 2, 0x141}, "aAc"},
        {"string_set_byte_at", {"abc", 2, 0}, "a"},
        {"string_pos", {"", "abc"}, 0.0},
        {"string_pos", {"a", ""}, 0.0},
        {"string_pos", {"bc", "abcbc"}, 2.0},
        {"string_pos", {"c", e9 + euro + "c"}, 3.0},
        {"string_copy", {"hello", 0, 2}, "he"},
        {"string_copy", {"hello", 1, 2}, "he"},
        {"string_copy", {"hello", 4, 99}, "lo"},
        {"string_copy", {"hello", 9, 1}, ""},
        {"string_copy", {"hello", 2, -1}, ""},
        {"string_copy", {e9 + euro + "x", 2, 1}, euro},
        {"string_delete", {"abcdef", 3, 2}, "abef"},
        {"string_delete", {"abcdef", 3, 0}, "abcdef"},
        {"string_delete", {"abcdef", 0, 2}, "abcdef"},
        {"string_delete", {"abcdef", 5, 99}, "abcd"},
        {"string_delete", {e9 + euro + "x", 2, 1}, e9 + "x"},
        {"string_insert", {"X", "abc", 0}, "Xabc"},
        {"string_insert", {"X", "abc", 99}, "abcX"},
        {"string_insert", {"X", e9 + e9, 2}, e9 + "X" + e9},
        {"string_replace_all", {"aaaa", "aa", "b"}, "bb"},
        {"string_replace_all", {"abc", "", "x"}, "abc"},
        {"string_replace_all", {"", "a", "x"}, ""},
        {"string_replace_all", {"abab", "b", "bb"}, "abbabb"},
        {"string_replace", {"abab", "b", "bb"}, "abbab"},
        {"string_replace", {"abab", "z", "y"}, "abab"},
        {"string_count", {"aa", "aaaa"}, 3.0},
        {"string_count", {"aa", "aaa"}, 2.0},
        {"string_count", {"", "abc"}, 3.0},
        {"string_count", {"x", ""}, 0.0},
        {"string_count", {e9, e9 + "a" + e9}, 2.0},
        {"string_repeat", {"ab", 0}, ""},
        {"string_repeat", {"ab", -1}, ""},
        {"string_repeat", {"ab", 3}, "ababab"},
        {"string_format", {2, 0, 0}, "2"},
        {"string_format", {3.14159, 3, 2}, " 3.14"},
        {"string_format", {1.5, -7, 2}, "1.50 "},
        {"string_format", {1.5, 0, -2}, "2"},
        {"string_format", {2.5, 0, 1000}, "2.5" + std::string(99, '0')},
        {"string_format", {1.0, 5000, 0}, std::string(1023, ' ') + "1"},
        {"string_format", {1e300, 0, 2}, longFixed},
        {"string_letters", {"a1" + e9 + "B-"}, "aB"},
        {"string_digits", {"a1" + e9 + "2"}, "12"},
        {"string_lettersdigits", {"a1" + e9 + "B-"}, "a1B"},
        {"string_length", {e9 + euro + "x"}, 3.0},
        {"string_byte_length", {e9 + euro + "x"}, 6.0},
    };
    for (const Row& row : rows) {
        ClearReports();
        SCOPED_TRACE(std::string(row.name) + " row " + std::to_string(&row - rows));
        const OwnedValue result = Call(row.name, StringMake(row.args));
        if (row.want.text) {
            ASSERT_EQ(result.Kind(), uint32_t(VALUE_STRING));
            EXPECT_EQ(result.Text(), row.want.s);
            EXPECT_EQ(result.v.str->text[result.v.str->length], '\0');
        } else {
            ASSERT_EQ(result.Kind(), uint32_t(VALUE_REAL));
            EXPECT_EQ(result.Real(), row.want.d);
        }
        EXPECT_EQ(Reported(), row.report);
    }

    // string_format of a string hands the text back without reading the rest.
    std::vector<OwnedValue> args;
    args.push_back(S("as is"));
    EXPECT_EQ(Call("string_format", std::move(args)).Text(), "as is");
}

TEST_F(StringBuiltins, TextsCutInsideACharacter)
{
    // A lead byte just before the terminator is one character; no walk passes the end (ASan watches).
    struct Row {
        const char* name;
        std::vector<StringArg> args;
        StringArg want;
    };
    const std::string cut2 = "ab\xC3", cut3 = "ab\xE2\x82";
    const Row rows[] = {
        {"string_length", {cut2}, 3.0},
        {"string_length", {cut3}, 3.0},
        {"string_char_at", {cut2, 4}, ""},
        {"string_ord_at", {cut3, 3}, double(0x2080)},
        {"string_pos", {"\xC3", cut2}, 3.0},
        {"string_pos", {"b", cut3}, 2.0},
        {"string_copy", {cut3, 3, 5}, "\xE2\x82"},
        {"string_delete", {cut2, 3, 1}, "ab"},
        {"string_insert", {"X", cut3, 99}, cut3 + "X"},
        {"string_count", {"\xE2\x82", cut3}, 1.0},
        {"string_replace_all", {cut3, "b", "B"}, "aB\xE2\x82"},
        {"string_letters", {cut3}, "ab"},
        {"string_upper", {cut2}, "AB\xC3\x80"},
        {"ord", {"\xE2"}, double(0x2000)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " row " + std::to_string(&row - rows));
        const OwnedValue result = Call(row.name, StringMake(row.args));
        if (row.want.text) {
            EXPECT_EQ(result.Text(), row.want.s);
        } else {
            EXPECT_EQ(result.Real(), row.want.d);
        }
    }
    // A byte set to a lead byte at the end leaves such a text; the built-ins read it safely.
    const OwnedValue made = Call("string_set_byte_at", StringMake({"abc", 3, 0xE2}));
    EXPECT_EQ(made.Text(), "ab\xE2");
    std::vector<OwnedValue> again;
    again.push_back(S(made.Text()));
    again.push_back(R(3));
    EXPECT_EQ(Call("string_char_at", std::move(again)).Text(), "\xE2\x80\x80");
}

TEST_F(StringBuiltins, RepeatRefusesResultsOverTheLimit)
{
    const OwnedValue big = Call("string_repeat", StringMake({"abcd", 1 << 30}));
    EXPECT_EQ(big.Text(), "");
    EXPECT_EQ(Reported(), "string_repeat : result too long\n");
    ClearReports();
    const OwnedValue wraps = Call("string_repeat", StringMake({std::string(65536, 'x'), 65537}));
    EXPECT_EQ(wraps.Text(), "");
    EXPECT_EQ(Reported(), "string_repeat : result too long\n");
    ClearReports();
    const OwnedValue fits = Call("string_repeat", StringMake({std::string(1000, 'x'), 1000}));
    EXPECT_EQ(fits.Text().size(), 1000000u);
    EXPECT_EQ(Reported(), "");
}

TEST_F(StringBuiltins, CaseMappingLeavesTheProcessLocale)
{
    const std::string before = std::setlocale(LC_ALL, nullptr);
    const OwnedValue lower = Call("string_lower", StringMake({"ABC \xC3\x89\xCE\xA3\xD0\x96 1"}));
    const OwnedValue upper = Call("string_upper", StringMake({"abc \xC3\xA9\xCF\x83\xD0\xB6 1"}));
    EXPECT_EQ(std::string(std::setlocale(LC_ALL, nullptr)), before);
    EXPECT_EQ(lower.Text(), "abc \xC3\xA9\xCF\x83\xD0\xB6 1");
    EXPECT_EQ(upper.Text(), "ABC \xC3\x89\xCE\xA3\xD0\x96 1");
    // Characters without case stay as they are.
    EXPECT_EQ(Call("string_upper", StringMake({"\xE2\x82\xAC 9 _"})).Text(), "\xE2\x82\xAC 9 _");
}

TEST_F(StringBuiltins, ReplaceAllIsOnePassOverLongTexts)
{
    // 200,000 occurrences: a copy of the rest per occurrence would take minutes.
    std::string text;
    for (int i = 0; i < 200000; ++i) text += "\xC3\xA9" "ab";
    const OwnedValue replaced = Call("string_replace_all", StringMake({text, "ab", "X"}));
    EXPECT_EQ(replaced.Text().size(), 200000u * 3);
    EXPECT_EQ(Call("string_count", StringMake({"ab", text})).Real(), 200000.0);
}

TEST_F(StringBuiltins, MatchesAgreeWithAFullCharacterWalk)
{
    // Texts of lead, continuation and ASCII bytes in any order: a match counts only where it starts and ends
    // on a character the decoder walks to, however the byte search finds it.
    const char alphabet[] = {'A', 'B', '\xC3', '\xE2', '\x82', '\xA9'};
    uint32_t state = 12345;
    auto next = [&] { return (state = state * 1103515245u + 12345u) >> 16; };
    auto randomText = [&](int most) {
        std::string t;
        for (int n = int(next() % unsigned(most + 1)); n > 0; --n) t += alphabet[next() % 6];
        return t;
    };
    for (int round = 0; round < 5000; ++round) {
        const std::string text = randomText(12);
        std::string needle = randomText(3);
        if (needle.empty()) needle = "A";
        std::vector<size_t> starts;
        for (const char* p = text.c_str();; UTF8_GetChar(&p)) {
            starts.push_back(size_t(p - text.c_str()));
            if (!*p) break;
        }
        auto isStart = [&](size_t at) { return std::find(starts.begin(), starts.end(), at) != starts.end(); };
        double firstPos = 0, count = 0;
        for (size_t i = 0; i + 1 < starts.size(); ++i) {
            const size_t at = starts[i];
            if (text.compare(at, needle.size(), needle) == 0 && isStart(at + needle.size())) {
                if (!count) firstPos = double(i + 1);
                ++count;
            }
        }
        std::string replaced;
        size_t from = 0;
        for (size_t i = 0; i + 1 < starts.size(); ++i) {
            const size_t at = starts[i];
            if (at < from) continue;
            if (text.compare(at, needle.size(), needle) == 0 && isStart(at + needle.size())) {
                replaced += text.substr(from, at - from) + "#";
                from = at + needle.size();
            }
        }
        replaced += text.substr(from);
        SCOPED_TRACE(testing::PrintToString(text) + " / " + testing::PrintToString(needle));
        ASSERT_EQ(Call("string_pos", StringMake({needle, text})).Real(), firstPos);
        ASSERT_EQ(Call("string_count", StringMake({needle, text})).Real(), count);
        ASSERT_EQ(Call("string_replace_all", StringMake({text, needle, "#"})).Text(), replaced);
    }
}

}  // namespace
