// The sprite table over formkit-made SPRT chunks: both header forms in both data generations, entry
// pointers, stored masks, the bounding radius, content handed to the vector and skeleton seams, names and
// the name map, damaged entries, owned page entries and the memory a table gives back.
#include "core/console.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "draw/draw.h"
#include "draw/sprite.h"
#include "draw/vector_sprite.h"
#include "fixture_cache.h"
#include "gfx/bitmap.h"
#include "gfx/texpage.h"
#include "skeleton/skeleton.h"
#include "test_support.h"
#include "world/loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string SpriteTest_Folder()
{
    static const std::string dir = [] {
        std::string error;
        std::string d = kvtest::ScriptFixture("tests/fixtures/sprite_cases.py", "", &error);
        if (d.empty()) ADD_FAILURE() << "sprite fixtures: " << error;
        return d;
    }();
    return dir;
}

uint32_t SpriteTest_U32(const std::vector<uint8_t>& b, size_t at)
{
    uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

// A game file with its SPRT and TPAG chunks found by walking the FORM.
struct SpriteGame {
    std::vector<uint8_t> bytes;
    uint32_t sprt = 0, sprtSize = 0, tpag = 0;

    explicit SpriteGame(const std::string& name)
    {
        const std::string s = kvtest::ReadFile(SpriteTest_Folder() + name + ".win");
        bytes.assign(s.begin(), s.end());
        for (size_t at = 8; at + 8 <= bytes.size(); at += 8 + SpriteTest_U32(bytes, at + 4)) {
            if (!std::memcmp(bytes.data() + at, "SPRT", 4)) {
                sprt = uint32_t(at + 8);
                sprtSize = SpriteTest_U32(bytes, at + 4);
            }
            if (!std::memcmp(bytes.data() + at, "TPAG", 4)) tpag = uint32_t(at + 8);
        }
    }
    uint8_t* Base() { return bytes.data(); }
    uint32_t Entry(int i) const { return SpriteTest_U32(bytes, sprt + 4 + 4 * size_t(i)); }
    const TexturePageEntry* Page(int i) const
    {
        return reinterpret_cast<const TexturePageEntry*>(bytes.data() + SpriteTest_U32(bytes, tpag + 4 + 4 * size_t(i)));
    }
};

struct SeenContent {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    int32_t jsonLength = -1, atlasLength = -1, words[3] = {};
};
SeenContent g_seenVector, g_seenSkeleton;

class SpriteTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = g_GameData;
        oldConsole_ = DebugConsole;
        DebugConsole = &console_;
        Sprite_Init();
        baseline_ = MemoryManager_Probe().liveBlocks;
    }
    void TearDown() override
    {
        Sprite_FreeAll();
        DebugConsole = oldConsole_;
        g_GameData = saved_;
    }
    bool Load(SpriteGame& g, bool newMode)
    {
        g_GameData.data = g.Base();
        g_GameData.length = uint32_t(g.bytes.size());
        g_GameData.newMode = newMode;
        g_GameData.damaged = false;
        g_GameData.damage[0] = '\0';
        return Sprite_Load(g.Base() + g.sprt, g.sprtSize, g.Base());
    }

    GameDataInfo saved_{};
    tagIConsole* oldConsole_ = nullptr;
    kvtest::RecordingConsole console_;
    size_t baseline_ = 0;
};

// Stored rows of the fixture's first mask, packed by hand: pixel 8 is the top bit of a row's second byte.
const uint8_t kFirstMask[6] = {0x80, 0x80, 0x41, 0x00, 0x3E, 0x00};

TEST_F(SpriteTable, HeaderFormsReadEveryField)
{
    struct Case {
        const char* file;
        bool newMode;
        int32_t extFrames;      // the extended bitmap: no frame-count word in the older generation
        float extSpeed;         // read only in the newer one
    };
    const Case cases[] = {{"table_v1", false, 0, 30.0f}, {"table_v2", true, 2, 12.5f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        SpriteGame g(c.file);
        ASSERT_TRUE(Load(g, c.newMode)) << g_GameData.damage;
        ASSERT_EQ(Sprite_Count(), 7);

        CSprite* p = Sprite_Data(0);  // plain header: body at +60
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->m_kind, SPRITE_KIND_BITMAP);
        EXPECT_EQ(p->m_width, 9);
        EXPECT_EQ(p->m_height, 3);
        EXPECT_EQ(p->m_bbox.left, 1);
        EXPECT_EQ(p->m_bbox.top, 0);
        EXPECT_EQ(p->m_bbox.right, 8);
        EXPECT_EQ(p->m_bbox.bottom, 2);
        EXPECT_FALSE(p->m_transparent);
        EXPECT_TRUE(p->m_smooth);
        EXPECT_FALSE(p->m_preload);
        EXPECT_EQ(p->m_bboxMode, 2);
        EXPECT_TRUE(p->m_precise);
        EXPECT_EQ(p->m_xOrigin, -2);
        EXPECT_EQ(p->m_yOrigin, 5);
        EXPECT_EQ(p->m_playbackSpeed, 30.0f);
        ASSERT_EQ(p->m_frameCount, 3);
        EXPECT_EQ(p->m_frameEntries[0], g.Page(0));
        EXPECT_EQ(p->m_frameEntries[1], g.Page(1));
        EXPECT_EQ(p->m_frameEntries[2], nullptr);
        EXPECT_FALSE(p->m_ownsEntries);
        EXPECT_EQ(p->m_packedMaskCount, 3);
        EXPECT_TRUE(p->m_separateMasks);  // M equals the frame count
        ASSERT_NE(p->m_packedMasks, nullptr);
        EXPECT_EQ(std::memcmp(p->m_packedMasks, kFirstMask, 6), 0);
        const uint8_t rest[12] = {0xFF, 0x80, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80};
        EXPECT_EQ(std::memcmp(p->m_packedMasks + 6, rest, 12), 0);
        EXPECT_TRUE(p->PackedMasksMatch());

        CSprite* e = Sprite_Data(2);  // extended header: body at +68 or +72
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->m_kind, SPRITE_KIND_BITMAP);
        EXPECT_EQ(e->m_xOrigin, 4);
        EXPECT_EQ(e->m_playbackSpeed, c.extSpeed);
        ASSERT_EQ(e->m_frameCount, c.extFrames);
        if (c.extFrames == 2) {
            EXPECT_EQ(e->m_frameEntries[0], g.Page(2));
            EXPECT_EQ(e->m_frameEntries[1], g.Page(0));
        }
        EXPECT_EQ(e->m_packedMaskCount, 1);
        EXPECT_FALSE(e->m_separateMasks);  // M = 1 with another frame count
        EXPECT_EQ(std::memcmp(e->m_packedMasks, kFirstMask, 6), 0);

        EXPECT_EQ(Sprite_Data(3)->m_kind, SPRITE_KIND_VECTOR);
        EXPECT_TRUE(Sprite_Data(3)->m_vectorFromData);
        EXPECT_EQ(Sprite_Data(3)->m_frameEntries, nullptr);
        EXPECT_EQ(Sprite_Data(4)->m_kind, SPRITE_KIND_SKELETON);
        EXPECT_EQ(Sprite_Data(4)->m_frameCount, 2147483647);
        EXPECT_EQ(Sprite_Data(4)->m_frameEntries, nullptr);
        Sprite_FreeAll();
    }
}

TEST_F(SpriteTable, BoundingRadiusIsTheLargestCornerDistanceRoundedUp)
{
    SpriteGame g("table_v2");
    ASSERT_TRUE(Load(g, true));
    // (sprite, radius): corners of 9 x 3 from (-2, 5) are sqrt(29), sqrt(146), sqrt(8), sqrt(125) -> 13;
    // 9 x 3 from (4, 1) -> ceil(sqrt(29)) = 6; 3 x 4 from either end corner: an exact 5 stays 5.
    const struct {
        int32_t sprite;
        int32_t radius;
    } cases[] = {{0, 13}, {2, 6}, {5, 5}, {6, 5}};
    for (const auto& c : cases) EXPECT_EQ(Sprite_Data(c.sprite)->m_boundingRadius, c.radius) << c.sprite;
}

TEST_F(SpriteTable, VectorAndSkeletonContentGoesToTheSeams)
{
    const VectorSpriteSeamHooks vectorHooks{
        [](CSprite*, const uint8_t* data, uint32_t size, int32_t, int32_t) { g_seenVector = {data, size}; },
        nullptr};
    const SkeletonSeamHooks skeletonHooks{
        [](CSkeletonSprite*, const uint8_t* data, uint32_t size, int32_t json, int32_t atlas, const int32_t w[3]) {
            g_seenSkeleton = {data, size, json, atlas, {w[0], w[1], w[2]}};
        },
        nullptr};
    const VectorSpriteSeamHooks* oldVector = VectorSprite_SetSeamHooks(&vectorHooks);
    const SkeletonSeamHooks* oldSkeleton = Skeleton_SetSeamHooks(&skeletonHooks);
    for (bool newMode : {false, true}) {
        SCOPED_TRACE(newMode);
        SpriteGame g(newMode ? "table_v2" : "table_v1");
        g_seenVector = g_seenSkeleton = SeenContent{};
        ASSERT_TRUE(Load(g, newMode));
        const uint32_t body = newMode ? 72 : 68;
        // Content runs from after the skipped word to where the next entry begins.
        const uint32_t vector = g.Entry(3) + body + 4;
        EXPECT_EQ(g_seenVector.data, g.Base() + vector);
        EXPECT_EQ(g_seenVector.size, g.Entry(4) - vector);
        EXPECT_EQ(std::memcmp(g_seenVector.data, "VEC!", 4), 0);
        const uint32_t skeleton = g.Entry(4) + body + 4 + 20;  // after the five words
        EXPECT_EQ(g_seenSkeleton.data, g.Base() + skeleton);
        EXPECT_EQ(g_seenSkeleton.size, g.Entry(5) - skeleton);
        EXPECT_EQ(g_seenSkeleton.jsonLength, 2);
        EXPECT_EQ(g_seenSkeleton.atlasLength, 5);
        EXPECT_EQ(g_seenSkeleton.words[0], 1);
        EXPECT_EQ(g_seenSkeleton.words[2], 3);
        EXPECT_EQ(std::memcmp(g_seenSkeleton.data, "{}atlasTEX", 10), 0);
        Sprite_FreeAll();
    }
    VectorSprite_SetSeamHooks(oldVector);
    Skeleton_SetSeamHooks(oldSkeleton);
}

TEST_F(SpriteTable, NamesAndTheNameMap)
{
    // An empty table first: nothing is found.
    EXPECT_EQ(Sprite_Find("spr_plain"), -1);
    EXPECT_EQ(Sprite_Data(0), nullptr);
    EXPECT_FALSE(Sprite_Exists(0));
    EXPECT_EQ(Sprite_Count(), 0);

    SpriteGame g("table_v1");
    SeamTrace_Clear();
    SeamTrace_Enable(true);
    ASSERT_TRUE(Load(g, false));
    EXPECT_EQ(SeamTrace_Calls(), std::vector<std::string>({"Sprite_Load", "CSprite::LoadVectorData",
                                                           "CSkeletonSprite::LoadFromChunk"}));
    SeamTrace_Enable(false);

    const struct {
        const char* name;
        int32_t index;
    } finds[] = {{"spr_plain", 0}, {"spr_ext", 2}, {"spr_vec", 3}, {"spr_skel", 4},
                 {"spr_twin", 5},  // the first inserted of two with one name
                 {"spr_none", -1}, {"", -1}};
    for (const auto& f : finds) EXPECT_EQ(Sprite_Find(f.name), f.index) << f.name;
    // Lookups go by the text, not by the pointer the table holds.
    std::string copy = "spr_ext";
    EXPECT_EQ(Sprite_Find(copy.c_str()), 2);

    const struct {
        int32_t index;
        const char* name;
        bool exists;
    } slots[] = {{0, "spr_plain", true}, {1, "<undefined>", false}, {6, "spr_twin", true},
                 {7, "<undefined>", false}, {-1, "<undefined>", false}, {INT32_MIN, "<undefined>", false}};
    for (const auto& s : slots) {
        EXPECT_STREQ(Sprite_Name(s.index), s.name) << s.index;
        EXPECT_EQ(Sprite_Exists(s.index), s.exists) << s.index;
        EXPECT_EQ(Sprite_Data(s.index) != nullptr, s.exists) << s.index;
    }
    EXPECT_STREQ(Sprite_Data(6)->m_name, "spr_twin");
    EXPECT_EQ(Sprite_Data(6)->m_index, 6);
}

TEST_F(SpriteTable, FactsComeFromTheTableUnlessASourceIsInstalled)
{
    SpriteGame g("table_v2");
    ASSERT_TRUE(Load(g, true));
    SpriteFacts f{};
    ASSERT_TRUE(Sprite_GetFacts(2, &f));
    EXPECT_EQ(f.frameCount, 2);
    EXPECT_EQ(f.playbackSpeed, 12.5f);
    EXPECT_EQ(f.xOrigin, 4);
    EXPECT_EQ(f.bboxRight, 8);
    EXPECT_EQ(f.sprite, Sprite_Data(2));
    EXPECT_FALSE(Sprite_GetFacts(1, &f));

    const SpriteFactsSource old = Sprite_SetFactsSource([](int32_t index, SpriteFacts* out) {
        out->frameCount = 99;
        out->sprite = nullptr;
        return index == 1;
    });
    EXPECT_TRUE(Sprite_GetFacts(1, &f));
    EXPECT_EQ(f.frameCount, 99);
    EXPECT_TRUE(Sprite_Exists(1));
    EXPECT_FALSE(Sprite_GetFacts(2, &f));
    Sprite_SetFactsSource(old);
    EXPECT_TRUE(Sprite_GetFacts(2, &f));
}

TEST_F(SpriteTable, FreeAllGivesBackEveryBlock)
{
    SpriteGame g("table_v2");
    ASSERT_TRUE(Load(g, true));
    EXPECT_GT(MemoryManager_Probe().liveBlocks, baseline_);
    Sprite_FreeAll();
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, baseline_);
    EXPECT_EQ(Sprite_Find("spr_plain"), -1);
    EXPECT_EQ(Sprite_Count(), 0);
}

TEST_F(SpriteTable, DamagedEntryFailsTheLoadNamingEntryAndField)
{
    const char* const cases[] = {"bad_masks", "bad_mask_size", "bad_frame",    "bad_frame_odd", "bad_frame_count",
                                 "bad_negative_frames", "bad_name", "bad_skeleton", "bad_entry"};
    for (const char* name : cases) {
        SCOPED_TRACE(name);
        const std::string field = kvtest::ReadFile(SpriteTest_Folder() + name + ".field");
        ASSERT_FALSE(field.empty());
        SpriteGame g(name);
        console_.text.clear();
        EXPECT_FALSE(Load(g, false));
        EXPECT_TRUE(g_GameData.damaged);
        const std::string damage = g_GameData.damage;
        EXPECT_EQ(damage.rfind("SPRT at offset ", 0), 0u) << damage;
        EXPECT_NE(damage.find("sprite 1: "), std::string::npos) << damage;
        EXPECT_NE(damage.find(field), std::string::npos) << damage;
        EXPECT_EQ(std::count(console_.text.begin(), console_.text.end(), '\n'), 1) << console_.text;
        EXPECT_EQ(Sprite_Find("spr_good"), 0);  // the sound entry before it stays
        Sprite_FreeAll();
        EXPECT_EQ(MemoryManager_Probe().liveBlocks, baseline_);
    }
}

TEST_F(SpriteTable, GameDataFramesTexturesAndBoxes)
{
    SpriteGame g("table_v2");
    ASSERT_TRUE(Load(g, true));
    CSprite* p = Sprite_Data(0);
    // Frame wraps: -1 is the last frame (no entry), 4 is frame 1; vector sprites have none.
    const int64_t t0 = p->GetTexture(0);
    EXPECT_GE(t0, TEXTURE_ENTRY_TOKEN_BASE);
    EXPECT_EQ(TexturePageEntry_Lookup(t0), g.Page(0));
    EXPECT_EQ(p->GetTexture(4), TexturePageEntry_Register(g.Page(1)));
    EXPECT_EQ(p->GetTexture(-1), -1);
    EXPECT_EQ(Sprite_Data(3)->GetTexture(0), -1);

    struct BoxCase {
        int32_t frame;
        BoundingBox box;
    };
    // Frame 1's entry is trimmed: target (2, 1), source 5 x 2.
    const BoxCase boxes[] = {{0, {0, 0, 9, 3}}, {1, {2, 1, 7, 3}}, {2, {0, 0, 0, 0}}, {3, {0, 0, 0, 0}},
                             {-1, {0, 0, 0, 0}}};
    for (const BoxCase& c : boxes) {
        BoundingBox* b = p->GetFrameBoundingBox(c.frame);
        EXPECT_EQ(b->left, c.box.left) << c.frame;
        EXPECT_EQ(b->top, c.box.top) << c.frame;
        EXPECT_EQ(b->right, c.box.right) << c.frame;
        EXPECT_EQ(b->bottom, c.box.bottom) << c.frame;
        MemFree(b);
    }
    EXPECT_EQ(p->GetFrameImage(0), nullptr);  // game-data frames have no images
}

TEST_F(SpriteTable, AssignedFramesDoNotUnpackOldMasks)
{
    SpriteGame g("table_v2");
    ASSERT_TRUE(Load(g, true));
    CSprite* plain = Sprite_Data(0);
    const uint8_t* stored = plain->m_packedMasks;
    plain->Assign(Sprite_Data(5));  // 3 x 4, one frame
    EXPECT_EQ(plain->m_width, 3);
    EXPECT_EQ(plain->m_frameCount, 1);
    EXPECT_EQ(plain->m_frameEntries[0], g.Page(2));  // the source's game-data entry, not owned
    EXPECT_FALSE(plain->m_ownsEntries);
    EXPECT_EQ(plain->m_packedMasks, stored);  // the reference stays ...
    EXPECT_FALSE(plain->PackedMasksMatch());   // ... but no longer describes the frames
    plain->UnpackMasks();
    EXPECT_FALSE(plain->m_masksUnpacked);
    EXPECT_EQ(plain->m_maskCount, 0);
    // Vector sources are refused.
    plain->Assign(Sprite_Data(3));
    EXPECT_EQ(plain->m_width, 3);
}

TEST_F(SpriteTable, OwnedEntriesEnterAndLeaveTheTokenRegistry)
{
    // The registry keeps its own table once used; count the sprite's blocks only.
    TexturePageEntry warm{};
    TexturePageEntry_Register(&warm);
    TexturePageEntry_Unregister(&warm);
    const size_t before = MemoryManager_Probe().liveBlocks;
    CSprite* s = new CSprite();
    s->m_frameCount = 2;
    s->m_frameImageCount = 2;
    s->m_frameImages = static_cast<CBitmap32**>(MemAlloc(2 * sizeof(CBitmap32*)));
    s->m_frameImages[0] = new CBitmap32(4, 2, 0u);
    s->m_frameImages[1] = new CBitmap32(5, 3, 0xFF0000FFu);
    ASSERT_TRUE(s->CreateTexturePageEntries());
    ASSERT_TRUE(s->m_ownsEntries);
    ASSERT_EQ(s->m_ownedEntryCount, 2);
    const TexturePageEntry* e = s->m_frameEntries[1];
    EXPECT_EQ(e->sourceWidth, 5);
    EXPECT_EQ(e->boundingHeight, 3);
    EXPECT_EQ(e->targetX, 0);
    const int64_t token = TexturePageEntry_Token(e);
    ASSERT_GE(token, TEXTURE_ENTRY_TOKEN_BASE);
    EXPECT_EQ(TexturePageEntry_Lookup(token), e);

    BoundingBox* b = s->GetFrameBoundingBox(0);  // from the entry: the whole image
    EXPECT_EQ(b->right, 4);
    MemFree(b);
    TBitmap* image = s->GetFrameImage(1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->GetWidth(), 5);
    delete image;
    EXPECT_EQ(s->GetFrameImage(2), nullptr);

    delete s;
    EXPECT_EQ(TexturePageEntry_Lookup(token), nullptr);  // a kept handle no longer resolves
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, before);
}

}  // namespace
