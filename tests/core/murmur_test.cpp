#include "core/hash.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

TEST(MurmurHash3, KnownValues)
{
    EXPECT_EQ(MurmurHash3_CString("abc"), 0xB3DD93FAu);
    EXPECT_EQ(MurmurHash3_CString(""), 0u);
    EXPECT_EQ(MurmurHash3_CString(nullptr), 0u);
    EXPECT_EQ(MurmurHash3_String("abc", 3, 0), 0xB3DD93FAu);
    // Bytes after the length do not count.
    EXPECT_EQ(MurmurHash3_String("abcdef", 3, 0), 0xB3DD93FAu);
}

namespace {

std::string MurmurtHex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

}  // namespace

// Texts of every tail length, multi-byte characters and 1 KiB, with several seeds, against an
// independent implementation (Debian's pure-Perl module, which hashes a text's UTF-8 bytes).
TEST(MurmurHash3, MatchesIndependentImplementation)
{
    std::vector<std::string> texts;
    const std::string digits = "123456789";
    for (size_t n = 0; n <= 9; ++n) texts.push_back(digits.substr(0, n));
    texts.push_back("\xC3\xA9");                  // é: 2 bytes
    texts.push_back("\xE6\x97\xA5\xE6\x9C\xAC");  // two 3-byte characters
    texts.push_back("a\xE2\x82\xAC\xC3\xBF!");    // 7 bytes, mixed widths
    std::string kib;
    for (int i = 0; i < 1024; ++i) kib += static_cast<char>('!' + (i * 7) % 90);
    texts.push_back(kib);
    const uint32_t seeds[] = {0, 1, 0x9747B28Cu, 0xFFFFFFFFu};

    const std::string input = kvtest::ScratchDir() + "/murmur_cases.txt";
    std::ostringstream lines;
    for (const std::string& text : texts)
        for (uint32_t seed : seeds) lines << (text.empty() ? "-" : MurmurtHex(text)) << ' ' << seed << '\n';
    kvtest::WriteFile(input, lines.str());

    const std::string command =
        "perl -MEncode -MDigest::MurmurHash3::PurePerl=murmur32 -ne "
        "'my ($h, $s) = split; my $t = $h eq \"-\" ? \"\" : decode(\"UTF-8\", pack(\"H*\", $h)); "
        "printf \"%u\\n\", murmur32($t, $s);' < " + input;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<uint32_t> expected;
    unsigned long value;
    while (std::fscanf(pipe, "%lu", &value) == 1) expected.push_back(static_cast<uint32_t>(value));
    ASSERT_EQ(pclose(pipe), 0) << "perl with Digest::MurmurHash3::PurePerl (scripts/setup-deps installs it)";
    ASSERT_EQ(expected.size(), texts.size() * std::size(seeds));

    size_t row = 0;
    for (const std::string& text : texts)
        for (uint32_t seed : seeds) {
            EXPECT_EQ(MurmurHash3_String(text.data(), text.size(), seed), expected[row])
                << "text of " << text.size() << " bytes, seed " << seed;
            if (seed == 0) {
                EXPECT_EQ(MurmurHash3_CString(text.c_str()), expected[row]);
            }
            ++row;
        }
}
