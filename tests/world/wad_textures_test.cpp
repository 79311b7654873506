// Texture pages (TXTR) and the page fields of the texture page entries (TPAG); the debug file.
#include "wad_test_util.h"

#include "gfx/texpage.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"

namespace {

using wadtest::Expect;
using wadtest::g_boxes;
using wadtest::g_exitCalls;
using wadtest::g_exitStatus;

using WadTextures = wadtest::LoaderTest;

TEST_F(WadTextures, PageFieldsBecomeTheLow16BitsOfTheTextureIds)
{
    Expect e("textures");
    auto [pass1, pass2] = RunPasses("textures");
    ASSERT_TRUE(pass1 && pass2) << g_GameData.damage;
    ASSERT_EQ(e.Rows("tpag").size(), 5u);
    int whats = 0;
    for (const auto& t : e.Rows("tpag")) {
        uint16_t field;
        std::memcpy(&field, g_GameData.data + std::stoul(t[1]), 2);
        EXPECT_EQ(field, std::stoul(t[3])) << "entry field at " << t[1];
        if (t[4] == "1") {
            ++whats;
            EXPECT_EQ(t[2], t[3]);  // out of range: kept
        }
    }
    EXPECT_EQ(whats, 2);  // pages 5 and -1
    size_t count = 0;
    for (size_t at = debug_.text.find("what!!!!\n"); at != std::string::npos; at = debug_.text.find("what!!!!\n", at + 1))
        ++count;
    EXPECT_EQ(count, 2u);
    ExpectImage("textures");
}

// Deferred creation keeps what each page was made from, so the bytes handed over can be seen without a device.
TEST_F(WadTextures, PagesGetTheBytesToTheEndOfTheData)
{
    Expect e("textures");
    const bool deferred = g_IniOptions.createTexturesOnDemand;
    g_IniOptions.createTexturesOnDemand = true;
    auto [pass1, pass2] = RunPasses("textures");
    g_IniOptions.createTexturesOnDemand = deferred;
    ASSERT_TRUE(pass1 && pass2);
    auto pages = e.Rows("page");
    ASSERT_EQ(g_GameData.texturePageCount, pages.size());
    for (size_t i = 0; i < pages.size(); ++i) {
        const int32_t id = std::stoi(pages[i][4]);
        EXPECT_EQ(g_GameData.texturePageIds[i], id);
        ASSERT_TRUE(GR_Texture_Exists(id)) << "page " << i;  // in use even without an image
        const NativeTexture* texture = GR_Texture_Get(id);
        uint32_t dataOffset = std::stoul(pages[i][2]);
        if (dataOffset == 0) {
            EXPECT_EQ(texture, nullptr);  // a page without data
            continue;
        }
        ASSERT_NE(texture, nullptr) << "page " << i;
        EXPECT_EQ(uint32_t(texture->sourceData - g_GameData.data), dataOffset);
        EXPECT_EQ(uint32_t(texture->sourceSize), std::stoul(pages[i][3]));
        EXPECT_EQ(dataOffset + uint32_t(texture->sourceSize), g_GameData.length);
    }
}

TEST_F(WadTextures, TxtrBeforeTpagCreatesThePagesAndRewritesNothing)
{
    Expect e("textures_txtr_first");
    std::vector<uint8_t> file = wadtest::ReadBytes(wadtest::FixturePath("textures_txtr_first"));
    auto [pass1, pass2] = RunPasses("textures_txtr_first");
    ASSERT_TRUE(pass1 && pass2);
    ASSERT_EQ(g_GameData.texturePageCount, 3u);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_TRUE(GR_Texture_Exists(g_GameData.texturePageIds[i]));
    EXPECT_TRUE(std::equal(file.begin(), file.end(), g_GameData.data));
    EXPECT_EQ(debug_.text.find("what!!!!"), std::string::npos);
    ExpectImage("textures_txtr_first");
}

TEST_F(WadTextures, EntriesAreNamedByTokensUntilTheDataGoes)
{
    Expect e("textures");
    auto [pass1, pass2] = RunPasses("textures");
    ASSERT_TRUE(pass1 && pass2);
    std::vector<int64_t> tokens;
    for (const auto& t : e.Rows("tpag")) {
        // The rows give where the page field (the last of the record) lies.
        const auto* entry = reinterpret_cast<const TexturePageEntry*>(g_GameData.data + std::stoul(t[1]) - 20);
        const int64_t token = TexturePageEntry_Token(entry);
        EXPECT_GE(token, TEXTURE_ENTRY_TOKEN_BASE);
        EXPECT_EQ(TexturePageEntry_Lookup(token), entry);
        tokens.push_back(token);
    }
    std::sort(tokens.begin(), tokens.end());
    EXPECT_EQ(std::unique(tokens.begin(), tokens.end()), tokens.end());
    UnloadGameData();
    for (int64_t token : tokens) EXPECT_EQ(TexturePageEntry_Lookup(token), nullptr);
}

using WadDebug = wadtest::LoaderTest;

TEST_F(WadDebug, ChunksOfTheDebugFileAreKept)
{
    Expect e("with_debug");
    std::vector<uint8_t> bytes = wadtest::ReadBytes(wadtest::FixturePath("with_debug", ".qzdebug"));
    auto* data = static_cast<uint8_t*>(MemAlloc(bytes.size()));
    std::memcpy(data, bytes.data(), bytes.size());
    g_GameData.debugData = data;  // freed with the record
    ASSERT_TRUE(DebugChunks_Load(data, uint32_t(bytes.size())));
    std::string lines;
    for (const auto& c : e.Rows("debug_chunk")) {
        uint32_t entries = std::stoul(c[2]);
        uint32_t count = std::stoul(c[3]);
        if (c[1] == "DBGI") {
            EXPECT_EQ(g_GameData.debugInfo, data + entries);
            EXPECT_EQ(g_GameData.debugInfoCount, count);
        } else if (c[1] == "SCPT") {
            EXPECT_EQ(g_GameData.debugScripts, data + entries);
            EXPECT_EQ(g_GameData.debugScriptCount, count);
        } else {
            EXPECT_EQ(g_GameData.debugInstances, data + entries);
            EXPECT_EQ(g_GameData.debugInstanceCount, count);
        }
        lines += "Process Chunk: " + c[1] + "   " + std::to_string(4 + 4 * count) + "\n";
    }
    EXPECT_EQ(debug_.text, lines);
}

TEST_F(WadDebug, ADebugFileWithABadFormIsIgnored)
{
    std::vector<uint8_t> bytes = wadtest::ReadBytes(wadtest::FixturePath("with_bad_debug", ".qzdebug"));
    EXPECT_FALSE(DebugChunks_Load(bytes.data(), uint32_t(bytes.size())));
    EXPECT_EQ(g_GameData.debugInfo, nullptr);
    EXPECT_EQ(g_GameData.debugInstances, nullptr);
    EXPECT_TRUE(debug_.text.empty());
    EXPECT_FALSE(g_GameData.damaged);
}

TEST_F(WadDebug, DamageInsideTheDebugFileNeverFailsTheGame)
{
    std::vector<uint8_t> bytes = wadtest::ReadBytes(wadtest::FixturePath("with_debug", ".qzdebug"));
    // The last chunk's size one past the end, the FORM size kept right.
    uint32_t length = uint32_t(bytes.size());
    uint32_t last = 8;
    for (uint32_t at = 8; at + 8 <= length;) {
        last = at;
        at += 8 + wadtest::U32At(bytes.data(), at + 4);
    }
    uint32_t bad = length - (last + 8) + 1;
    std::memcpy(bytes.data() + last + 4, &bad, 4);
    EXPECT_FALSE(DebugChunks_Load(bytes.data(), length));
    EXPECT_FALSE(g_GameData.damaged);
    g_GameData.debugInfo = g_GameData.debugScripts = g_GameData.debugInstances = nullptr;
}

}  // namespace
