// The checked reader: string references, lists and fields against the data and the chunk.
#include "world/loader.h"
#include "world/wad_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// 8 bytes of FORM header, then a chunk "TEST" whose body starts at 16.
std::vector<uint8_t> ReaderData(const std::vector<uint8_t>& body, size_t tail = 0)
{
    std::vector<uint8_t> d(16 + body.size() + tail, 0);
    const char head[] = "FORM\0\0\0\0TEST";
    for (size_t i = 0; i < 12; ++i) d[i] = uint8_t(head[i]);
    uint32_t size = uint32_t(body.size());
    std::memcpy(&d[12], &size, 4);
    for (size_t i = 0; i < body.size(); ++i) d[16 + i] = body[i];
    return d;
}

void ReaderPut(std::vector<uint8_t>& d, size_t at, uint32_t v) { std::memcpy(&d[at], &v, 4); }

TEST(WadReader, StringReferences)
{
    // Body: a length word 3, "abc", NUL; then length 5 with only "xy" and the data's end.
    std::vector<uint8_t> body = {3, 0, 0, 0, 'a', 'b', 'c', 0, 5, 0, 0, 0, 'x', 'y'};
    std::vector<uint8_t> data = ReaderData(body);
    struct Row {
        uint32_t reference;
        bool ok;
        const char* text;
    };
    const Row rows[] = {
        {0, true, nullptr},       // none
        {20, true, "abc"},        // the text, its length word before it
        {1, false, nullptr},      // no room for a length word
        {3, false, nullptr},
        {28, false, nullptr},     // the text and its NUL would pass the end
        {uint32_t(data.size()), false, nullptr},
        {0xFFFFFFFF, false, nullptr},
        {21, false, nullptr},     // length word "abc" + 'b'...: far too long
    };
    for (const Row& row : rows) {
        WadReader r(data.data(), uint32_t(data.size()), false);
        const char* text = nullptr;
        uint32_t length = 0;
        EXPECT_EQ(r.String(row.reference, &text, &length), row.ok) << row.reference;
        if (row.text) {
            EXPECT_STREQ(text, row.text);
            EXPECT_EQ(length, std::strlen(row.text));
        } else {
            EXPECT_EQ(text, nullptr) << row.reference;
        }
    }
    // The NUL must be there.
    data[23] = 'd';
    WadReader r(data.data(), uint32_t(data.size()), false);
    const char* text = nullptr;
    EXPECT_FALSE(r.String(20, &text));
    EXPECT_STREQ(r.Error(), "FORM at offset 20: string without its NUL");
}

TEST(WadReader, FieldsAndListsStayInsideTheChunk)
{
    std::vector<uint8_t> data = ReaderData({2, 0, 0, 0, 40, 0, 0, 0, 44, 0, 0, 0}, 8);
    WadReader r(data.data(), uint32_t(data.size()), false);
    ASSERT_TRUE(r.SetChunk(0x54534554, 16, 12));
    uint32_t count = 0, entry = 0, word = 0;
    ASSERT_TRUE(r.List(16, &count));
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(r.ListEntry(16, 1, &entry));
    EXPECT_EQ(entry, 44u);
    // The tail bytes after the chunk are data but not chunk.
    EXPECT_TRUE(r.DataU32(28, &word));
    EXPECT_FALSE(r.U32(28, &word));
    EXPECT_STREQ(r.Error(), "TEST at offset 28: field past the end of the chunk");
    // Once failed, every read fails.
    EXPECT_FALSE(r.U32(16, &word));

    WadReader wide(data.data(), uint32_t(data.size()), false);
    ASSERT_TRUE(wide.SetChunk(0x54534554, 16, 12));
    ReaderPut(data, 16, 3);  // three offsets do not fit in 12 bytes
    EXPECT_FALSE(wide.List(16, &count));
    EXPECT_STREQ(wide.Error(), "TEST at offset 20: list count overruns the chunk");

    WadReader huge(data.data(), uint32_t(data.size()), false);
    ASSERT_TRUE(huge.SetChunk(0x54534554, 16, 12));
    ReaderPut(data, 16, 0x80000000);
    EXPECT_FALSE(huge.List(16, &count));

    WadReader past(data.data(), uint32_t(data.size()), false);
    EXPECT_FALSE(past.SetChunk(0x54534554, 16, 100));
    EXPECT_FALSE(past.InData(uint32_t(data.size()) - 2, 4, "x"));
}

TEST(WadReader, AFailureMarksTheGameDataDamagedOnce)
{
    std::vector<uint8_t> data = ReaderData({1, 2, 3, 4});
    g_GameData.damaged = false;
    WadReader r(data.data(), uint32_t(data.size()));
    r.SetChunk(0x4E494747, 16, 4);
    uint64_t v = 0;
    EXPECT_FALSE(r.U64(16, &v));
    EXPECT_TRUE(g_GameData.damaged);
    EXPECT_STREQ(g_GameData.damage, "GGIN at offset 16: field past the end of the chunk");
    g_GameData.damaged = false;
    g_GameData.damage[0] = '\0';
}

}  // namespace
