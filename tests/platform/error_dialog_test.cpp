// What the error dialog hands to the window system: valid UTF-8, and at most 40 lines of a long text.
#include "platform/error_dialog.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ValidUtf8Case {
    const char* what;
    std::string in;
    std::string out;
};

const std::string kReplacement = "\xEF\xBF\xBD";

TEST(ErrorDialogUtf8, InvalidBytesBecomeReplacementCharacters)
{
    const ValidUtf8Case cases[] = {
        {"ascii", "plain text", "plain text"},
        {"two bytes", "caf\xC3\xA9", "caf\xC3\xA9"},
        {"four bytes", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"stray continuation", "a\x80z", "a" + kReplacement + "z"},
        {"cut sequence at the end", "a\xE2\x82", "a" + kReplacement + kReplacement},
        {"overlong slash", "\xC0\xAF", kReplacement + kReplacement},
        {"surrogate", "\xED\xA0\x80", kReplacement + kReplacement + kReplacement},
        {"above U+10FFFF", "\xF4\x90\x80\x80", kReplacement + kReplacement + kReplacement + kReplacement},
        {"lead byte F8", "\xF8", kReplacement},
        {"lead then ascii", "\xC3(", kReplacement + "("},
    };
    for (const ValidUtf8Case& c : cases) EXPECT_EQ(Platform_ValidUtf8(c.in.c_str()), c.out) << c.what;
    EXPECT_EQ(Platform_ValidUtf8(nullptr), "");
}

TEST(ErrorDialogUtf8, LongTextsShowFortyLinesAndPointToTheRest)
{
    std::string forty;
    for (int i = 0; i < 40; ++i) forty += "line " + std::to_string(i) + "\n";
    EXPECT_EQ(Platform_ErrorDialogShownText(forty.c_str()), forty);
    EXPECT_EQ(Platform_ErrorDialogShownText((forty + "tail").c_str()),
              forty + "\xE2\x80\xA6(full text: Copy, or the console)");
    EXPECT_EQ(Platform_ErrorDialogShownText("short"), "short");
}

}  // namespace
