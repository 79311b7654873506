#include "core/hash.h"

#include "tests/core/py_oracle.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string HashesHex(const uint8_t* bytes, size_t n)
{
    std::string out;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        out += two;
    }
    return out;
}

std::string HashesSha1Hex(const SHA1Context& c)
{
    char text[41];
    for (int i = 0; i < 5; ++i) std::snprintf(text + 8 * i, 9, "%08x", c.h[i]);
    return text;
}

struct HashesExpected {
    size_t length;
    std::string crc, md5, sha1, base64;
};

// Feeds the input in chunks whose sizes cycle through odd values, so block boundaries fall everywhere.
template <class Feed>
void HashesFeedInOddChunks(const uint8_t* data, size_t n, Feed feed)
{
    static const size_t kChunks[] = {1, 3, 7, 63, 65, 13, 127, 5, 1001};
    size_t k = 0;
    for (size_t done = 0; done < n; ++k) {
        size_t take = std::min(kChunks[k % std::size(kChunks)], n - done);
        feed(data + done, take);
        done += take;
    }
}

TEST(Hashes, AgreeWithPythonOverLengthsAndChunkings)
{
    std::string dir = kvtest_py::Generate("tests/core/hash_oracle.py", "");
    ASSERT_FALSE(dir.empty());
    std::string input = kvtest::ReadFile(dir + "input.bin");
    std::istringstream lines(kvtest::ReadFile(dir + "hashes.txt"));
    std::vector<HashesExpected> expected;
    HashesExpected e;
    while (lines >> e.length >> e.crc >> e.md5 >> e.sha1) {
        // An empty input has an empty Base64 form: the line then ends after the digests.
        std::string rest;
        std::getline(lines, rest);
        e.base64 = rest.empty() ? "" : rest.substr(1);
        expected.push_back(e);
    }
    ASSERT_EQ(expected.size(), 14u);
    const auto* data = reinterpret_cast<const uint8_t*>(input.data());

    for (const HashesExpected& x : expected) {
        ASSERT_LE(x.length, input.size());
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", CRC32_Buffer(data, x.length));
        EXPECT_EQ(crc, x.crc) << x.length;

        MD5Context md5;
        MD5_Init(&md5);
        MD5_Update(&md5, data, x.length);
        MD5_Final(&md5);
        EXPECT_EQ(HashesHex(md5.digest, 16), x.md5) << x.length;
        MD5_Init(&md5);
        HashesFeedInOddChunks(data, x.length, [&](const uint8_t* p, size_t n) { MD5_Update(&md5, p, n); });
        MD5_Final(&md5);
        EXPECT_EQ(HashesHex(md5.digest, 16), x.md5) << "chunked " << x.length;

        SHA1Context sha;
        SHA1_Reset(&sha);
        SHA1_Input(&sha, data, x.length);
        ASSERT_TRUE(SHA1_Result(&sha));
        EXPECT_EQ(HashesSha1Hex(sha), x.sha1) << x.length;
        SHA1_Reset(&sha);
        HashesFeedInOddChunks(data, x.length, [&](const uint8_t* p, size_t n) { SHA1_Input(&sha, p, n); });
        ASSERT_TRUE(SHA1_Result(&sha));
        EXPECT_EQ(HashesSha1Hex(sha), x.sha1) << "chunked " << x.length;

        std::string b64(4 * ((x.length + 2) / 3) + 1, '\x7F');
        Base64_Encode(data, x.length, b64.data());
        EXPECT_EQ(b64.back(), '\0');
        EXPECT_TRUE(std::string(b64.c_str()) == x.base64) << x.length;

        // And back, sized as the callers size it.
        std::vector<uint8_t> back(3 * x.base64.size() / 4 + 4, 0xEE);
        int32_t n = Base64_Decode(x.base64.c_str(), static_cast<int32_t>(back.size()), back.data(), true);
        ASSERT_EQ(n, static_cast<int32_t>(x.length));
        EXPECT_EQ(std::memcmp(back.data(), data, x.length), 0) << x.length;
        EXPECT_EQ(back[x.length], 0);
    }
}

TEST(Hashes, Crc32OfTexts)
{
    EXPECT_EQ(CRC32_String("abc"), 0xCADBBE3Du);
    EXPECT_EQ(CRC32_String(""), 0xFFFFFFFFu);
    EXPECT_EQ(CRC32_String(nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(CRC32_Buffer("abc", 3), 0xCADBBE3Du);
    EXPECT_EQ(CRC32_Buffer(nullptr, 0), 0xFFFFFFFFu);
    EXPECT_EQ(CRC32_String("ab\0c"), CRC32_Buffer("ab", 2));  // up to the NUL
}

TEST(Hashes, Base64EncodeEdges)
{
    char out[16];
    std::memset(out, 0x7F, sizeof out);
    Base64_Encode("abcd", 4, out);
    EXPECT_EQ(std::string(out, 9), std::string("YWJjZA==\0", 9));
    std::memset(out, 0x7F, sizeof out);
    Base64_Encode("", 0, out);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(out[1], '\x7F');
    Base64_Encode("\xFF\xFE", 2, out);
    EXPECT_STREQ(out, "//4=");
}

TEST(Hashes, Base64DecodeStopsAndLimits)
{
    struct Case {
        const char* name;
        const char* text;
        int32_t capacity;
        bool terminate;
        std::string bytes;  // what lands in the output (NUL included when written)
    };
    const std::vector<Case> cases = {
        {"a blank ends the data", "YWJj ZA==", 16, true, std::string("abc\0", 4)},
        {"capacity 3 takes 2 bytes", "YWJjZA==", 3, true, std::string("ab\0", 3)},
        {"capacity 3 without NUL", "YWJjZA==", 3, false, "ab"},
        {"capacity 1: only the NUL", "YWJjZA==", 1, true, std::string("\0", 1)},
        {"capacity 0 writes nothing", "YWJjZA==", 0, true, ""},
        {"'=' in the middle ends it", "YW=JjZA==", 16, true, std::string("a\0", 2)},
        {"final group of 3", "YWJjZGU", 16, false, "abcde"},
        {"final group of 2", "YWJjZA", 16, false, "abcd"},
        {"single leftover gives nothing", "YWJjZ", 16, false, "abc"},
        {"bytes above 0x7F end it", "YWJj\x80ZA==", 16, false, "abc"},
        {"empty", "", 16, true, std::string("\0", 1)},
        {"null text", nullptr, 16, true, std::string("\0", 1)},
        {"newline ends it", "YWJj\nZA==", 16, false, "abc"},
        {"url-safe characters are not in the alphabet", "YW-_", 16, false, "a"},
    };
    for (const Case& c : cases) {
        uint8_t out[20];
        std::memset(out, 0xEE, sizeof out);
        int32_t n = Base64_Decode(c.text, c.capacity, out, c.terminate);
        size_t written = 0;
        while (written < sizeof out && out[written] != 0xEE) ++written;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), written), c.bytes) << c.name;
        EXPECT_EQ(n, static_cast<int32_t>(c.bytes.size()) - (c.terminate && c.capacity > 0 ? 1 : 0)) << c.name;
    }
}

TEST(Hashes, Sha1CorruptedFlag)
{
    SHA1Context c;
    SHA1_Reset(&c);
    SHA1_Input(&c, "abc", 3);
    ASSERT_TRUE(SHA1_Result(&c));
    EXPECT_EQ(HashesSha1Hex(c), "a9993e364706816aba3e25717850c26c9cd0d89d");
    // A second result does not pad again.
    ASSERT_TRUE(SHA1_Result(&c));
    EXPECT_EQ(HashesSha1Hex(c), "a9993e364706816aba3e25717850c26c9cd0d89d");
    // Empty input after the result changes nothing; any other input corrupts the context.
    SHA1_Input(&c, "x", 0);
    EXPECT_TRUE(SHA1_Result(&c));
    SHA1_Input(&c, "d", 1);
    EXPECT_EQ(c.corrupted, 1);
    EXPECT_FALSE(SHA1_Result(&c));
    SHA1_Reset(&c);
    EXPECT_TRUE(SHA1_Result(&c));
    EXPECT_EQ(HashesSha1Hex(c), "da39a3ee5e6b4b0d3255bfef95601890afd80709");

    // A message past 2^64 - 1 bits.
    SHA1_Reset(&c);
    c.lengthLow = 0xFFFFFFF8u;
    c.lengthHigh = 0xFFFFFFFFu;
    SHA1_Input(&c, "a", 1);
    EXPECT_EQ(c.corrupted, 1);
    EXPECT_FALSE(SHA1_Result(&c));
}

TEST(Hashes, FilePosLow32)
{
    EXPECT_EQ(FilePos_Low32(0), 0u);
    EXPECT_EQ(FilePos_Low32(0x123456789LL), 0x23456789u);
    EXPECT_EQ(FilePos_Low32(-1), 0xFFFFFFFFu);
}

}  // namespace
