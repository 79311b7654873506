// Sprite masks and pixel tests: stored mask bits, frame choice, the three placement rules of the pair test,
// the single-instance thresholds, shaped and merged masks, bounding boxes, and a seeded comparison of the
// pair test with the solid world pixels of both placed masks.
#include "core/convert.h"
#include "core/memory_manager.h"
#include "draw/draw.h"
#include "draw/sprite.h"
#include "gfx/bitmap.h"
#include "gfx/texture_handle.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using MaskRows = std::vector<std::string>;  // '1' solid, '0' empty, one text per row

struct SpriteDeleter {
    void operator()(CSprite* s) const { delete s; }
};
using SpritePtr = std::unique_ptr<CSprite, SpriteDeleter>;

// A sprite as the game data gives it: stored masks read in place (kept alive by the fixture), no frame images.
struct StoredSprite {
    std::vector<uint8_t> bytes;
    SpritePtr sprite;
};

// Rows of text to stored bits, written out here so the fixtures do not depend on the reader.
void MaskTest_Pack(const MaskRows& rows, std::vector<uint8_t>* out)
{
    for (const std::string& row : rows) {
        std::vector<uint8_t> packed((row.size() + 7) / 8, 0);
        for (size_t x = 0; x < row.size(); ++x)
            if (row[x] == '1') packed[x / 8] |= uint8_t(0x80 >> (x % 8));
        out->insert(out->end(), packed.begin(), packed.end());
    }
}

std::unique_ptr<StoredSprite> MaskTest_Stored(const std::vector<MaskRows>& masks, int32_t frames, int32_t xOrigin = 0,
                                              int32_t yOrigin = 0)
{
    auto f = std::make_unique<StoredSprite>();
    for (const MaskRows& m : masks) MaskTest_Pack(m, &f->bytes);
    f->sprite.reset(new CSprite());
    CSprite* s = f->sprite.get();
    s->m_width = int32_t(masks[0][0].size());
    s->m_height = int32_t(masks[0].size());
    s->m_xOrigin = xOrigin;
    s->m_yOrigin = yOrigin;
    s->m_frameCount = frames;
    s->m_bbox = {0, 0, s->m_width - 1, s->m_height - 1};
    s->m_packedMasks = f->bytes.data();
    s->m_packedMaskCount = int32_t(masks.size());
    s->m_packedMaskWidth = s->m_width;
    s->m_packedMaskHeight = s->m_height;
    s->m_packedMaskFrames = frames;
    return f;
}

// A sprite built at run time: one 32-bit frame image per mask text ('1' opaque, '0' clear).
SpritePtr MaskTest_RunTime(const std::vector<MaskRows>& frames)
{
    SpritePtr s(new CSprite());
    const int32_t w = int32_t(frames[0][0].size()), h = int32_t(frames[0].size());
    s->m_width = w;
    s->m_height = h;
    s->m_frameCount = int32_t(frames.size());
    s->m_frameImages = static_cast<CBitmap32**>(MemAlloc(frames.size() * sizeof(CBitmap32*)));
    for (const MaskRows& rows : frames) {
        auto* image = new CBitmap32(w, h, 0);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                image->GetPixels().pixels[y * w + x] = rows[size_t(y)][size_t(x)] == '1' ? 0xFF102030u : 0x00FFFFFFu;
        s->m_frameImages[s->m_frameImageCount++] = image;
    }
    return s;
}

MaskRows MaskTest_Rows(const CSprite* s, int32_t mask)
{
    MaskRows rows;
    const CollisionMask& m = s->m_masks[mask];
    for (int32_t y = 0; y < s->m_height; ++y) {
        std::string row;
        for (int32_t x = 0; x < s->m_width; ++x) row += m.data[y * s->m_width + x] ? '1' : '0';
        rows.push_back(row);
    }
    return rows;
}

BoundingBox MaskTest_FrameBox(const CSprite* s, int32_t x, int32_t y)
{
    return {x - s->m_xOrigin, y - s->m_yOrigin, x - s->m_xOrigin + s->m_width - 1, y - s->m_yOrigin + s->m_height - 1};
}

// A 1 x 1 solid probe placed on one world pixel.
struct Probe {
    std::unique_ptr<StoredSprite> f = MaskTest_Stored({{"1"}}, 1);
    bool Hits(CSprite* s, int32_t frame, const BoundingBox& box, int32_t x, int32_t y, float xscale, float yscale,
              float angle, int32_t px, int32_t py) const
    {
        return PreciseCollision(s, frame, box, x, y, xscale, yscale, angle, f->sprite.get(), 0, {px, py, px, py}, px,
                                py, 1.0f, 1.0f, 0.0f);
    }
};

// The solid world pixels of an unscaled, unrotated sprite in the box.
std::set<std::pair<int32_t, int32_t>> MaskTest_SolidPixels(const CSprite* s, int32_t frame, int32_t x, int32_t y,
                                                           const std::vector<uint8_t>& bits)
{
    std::set<std::pair<int32_t, int32_t>> out;
    const int32_t stride = (s->m_width + 7) / 8, size = stride * s->m_height;
    for (int32_t v = 0; v < s->m_height; ++v)
        for (int32_t u = 0; u < s->m_width; ++u)
            if (bits[size_t(frame * size + v * stride + u / 8)] & (0x80 >> (u % 8)))
                out.insert({x - s->m_xOrigin + u, y - s->m_yOrigin + v});
    return out;
}

TEST(CollisionMasks, StoredRowsAreReadMostSignificantBitFirstWithPaddedRows)
{
    // Width 9: two bytes a row, pixel 8 is the top bit of the second byte, the low seven bits are padding.
    struct Case {
        const char* name;
        uint8_t row[2];
        std::string solid;  // pixels 0..8 of the row
    };
    const Case cases[] = {
        {"pixel 0 is bit 7 of byte 0", {0x80, 0x00}, "100000000"},
        {"pixel 7 is bit 0 of byte 0", {0x01, 0x00}, "000000010"},
        {"pixel 8 is bit 7 of byte 1", {0x00, 0x80}, "000000001"},
        {"padding bits are not pixels", {0x00, 0x7F}, "000000000"},
        {"mixed", {0xA5, 0xFF}, "101001011"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Two rows: the second is all solid, so a wrong stride shows in row 0 or row 1.
        StoredSprite f;
        f.bytes = {c.row[0], c.row[1], 0xFF, 0x80};
        f.sprite.reset(new CSprite());
        CSprite* s = f.sprite.get();
        s->m_width = 9;
        s->m_height = 2;
        s->m_frameCount = 1;
        s->m_packedMasks = f.bytes.data();
        s->m_packedMaskCount = 1;
        s->m_packedMaskWidth = 9;
        s->m_packedMaskHeight = 2;
        s->m_packedMaskFrames = 1;
        const BoundingBox box{0, 0, 8, 1};
        for (int32_t px = 0; px < 9; ++px) {
            EXPECT_EQ(s->PreciseCollisionPoint(0, box, 0, 0, 1.0f, 1.0f, 0.0f, px, 0), c.solid[size_t(px)] == '1')
                << "pixel " << px;
            EXPECT_TRUE(s->PreciseCollisionPoint(0, box, 0, 0, 1.0f, 1.0f, 0.0f, px, 1)) << "row 1 pixel " << px;
        }
        EXPECT_TRUE(s->m_masksUnpacked);
        EXPECT_EQ(s->m_maskCount, 1);
    }
}

TEST(CollisionMasks, FramesWrapOverTheMasksThereAre)
{
    // Mask k is solid only at pixel (k, 0).
    const std::vector<MaskRows> three = {{"100"}, {"010"}, {"001"}};
    struct Case {
        const char* name;
        size_t masks;  // 1: one mask for all three frames
        int32_t frame;
        int32_t solidAt;
    };
    const Case cases[] = {
        {"one mask serves frame 0", 1, 0, 0},
        {"one mask serves frame 2", 1, 2, 0},
        {"one mask serves frame -1", 1, -1, 0},
        {"frame k uses mask k", 3, 1, 1},
        {"frame 2", 3, 2, 2},
        {"frame -1 uses the last mask", 3, -1, 2},
        {"frame 3 wraps to 0", 3, 3, 0},
        {"frame -4 wraps upwards to 2", 3, -4, 2},
        {"INT32_MIN (a NaN image index) wraps to 1", 3, INT32_MIN, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto f = MaskTest_Stored(std::vector<MaskRows>(three.begin(), three.begin() + long(c.masks)), 3);
        CSprite* s = f->sprite.get();
        const BoundingBox box{0, 0, 2, 0};
        Probe probe;
        for (int32_t px = 0; px < 3; ++px) {
            EXPECT_EQ(s->PreciseCollisionPoint(c.frame, box, 0, 0, 1.0f, 1.0f, 0.0f, px, 0), px == c.solidAt)
                << "point at " << px;
            EXPECT_EQ(probe.Hits(s, c.frame, box, 0, 0, 1.0f, 1.0f, 0.0f, px, 0), px == c.solidAt)
                << "pair at " << px;
        }
        EXPECT_EQ(s->m_separateMasks, c.masks == 3);
    }
}

TEST(CollisionMasks, BoxesTouchingAtOnePixelCollideOnlyWhenBothAreSolidThere)
{
    // A at (0, 0) covers world 0..3; B at (3, 3) covers 3..6: the boxes share world pixel (3, 3), which is
    // A's frame pixel (3, 3) and B's (0, 0). Every other pixel of both is solid.
    const MaskRows full = {"1111", "1111", "1111", "1111"};
    struct Case {
        const char* name;
        bool aSolid, bSolid;
    };
    const Case cases[] = {{"both solid", true, true},
                          {"A empty there", false, true},
                          {"B empty there", true, false},
                          {"both empty", false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MaskRows a = full, b = full;
        if (!c.aSolid) a[3][3] = '0';
        if (!c.bSolid) b[0][0] = '0';
        auto fa = MaskTest_Stored({a}, 1), fb = MaskTest_Stored({b}, 1);
        CSprite* sa = fa->sprite.get();
        CSprite* sb = fb->sprite.get();
        EXPECT_EQ(PreciseCollision(sa, 0, MaskTest_FrameBox(sa, 0, 0), 0, 0, 1.0f, 1.0f, 0.0f, sb, 0,
                                   MaskTest_FrameBox(sb, 3, 3), 3, 3, 1.0f, 1.0f, 0.0f),
                  c.aSolid && c.bSolid);
        EXPECT_EQ(PreciseCollision(sb, 0, MaskTest_FrameBox(sb, 3, 3), 3, 3, 1.0f, 1.0f, 0.0f, sa, 0,
                                   MaskTest_FrameBox(sa, 0, 0), 0, 0, 1.0f, 1.0f, 0.0f),
                  c.aSolid && c.bSolid)
            << "either order";
    }
}

TEST(CollisionMasks, ScaledFramesMapWorldPixelsByTruncation)
{
    // A is 4 x 1 at x = 10 with origin 0; a 1 x 1 probe walks world columns 4..19.
    struct Case {
        const char* name;
        std::string mask;
        float xscale;
        BoundingBox box;
        std::string hits;  // world columns 4..19
    };
    const Case cases[] = {
        // u = trunc((i - 10) x 0.5): two world columns per frame column.
        {"x scale 2, frame pixel 1", "0100", 2.0f, {10, 0, 17, 0}, "0000000011000000"},
        {"x scale 2, frame pixel 3", "0001", 2.0f, {10, 0, 17, 0}, "0000000000001100"},
        // u = trunc(-(i - 10)): mirrored about the origin.
        {"x scale -1, frame pixel 0", "1000", -1.0f, {7, 0, 10, 0}, "0000001000000000"},
        {"x scale -1, frame pixel 3", "0001", -1.0f, {7, 0, 10, 0}, "0001000000000000"},
        {"x scale 1 for comparison", "0100", 1.0f, {10, 0, 13, 0}, "0000000100000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto f = MaskTest_Stored({{c.mask}}, 1);
        Probe probe;
        std::string got;
        for (int32_t i = 4; i < 20; ++i)
            got += probe.Hits(f->sprite.get(), 0, c.box, 10, 0, c.xscale, 1.0f, 0.0f, i, 0) ? '1' : '0';
        EXPECT_EQ(got, c.hits);
    }
}

TEST(CollisionMasks, AngleThresholdDiffersBetweenThePairAndTheSingleTests)
{
    // A 2 x 2 mask solid only at frame pixel (0, 1), placed at (10, 10). World pixel (11, 11) is frame pixel
    // (1, 1) by the unrotated rules; any rotation, however small, moves it across the pixel edge to (0, 1):
    // trunc(1 - tiny) = 0 in the pair test and floor(1 - tiny) = 0 in the single ones.
    const MaskRows mask = {"00", "10"};
    struct Case {
        const char* name;
        float angle;
        bool pairHit;
        bool pointHit;
    };
    const Case cases[] = {
        {"angle 0", 0.0f, false, false},
        {"0.00001: rotated in the pair test only", 0.00001f, true, false},
        {"0.00009: still below the single tests' threshold", 0.00009f, true, false},
        {"0.001: rotated in both", 0.001f, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto f = MaskTest_Stored({mask}, 1);
        CSprite* s = f->sprite.get();
        const BoundingBox box{10, 10, 11, 11};
        Probe probe;
        EXPECT_EQ(probe.Hits(s, 0, box, 10, 10, 1.0f, 1.0f, c.angle, 11, 11), c.pairHit);
        EXPECT_EQ(s->PreciseCollisionPoint(0, box, 10, 10, 1.0f, 1.0f, c.angle, 11, 11), c.pointHit);
        EXPECT_EQ(s->PreciseCollisionRectangle(0, box, 10, 10, 1.0f, 1.0f, c.angle, 11, 11, 11, 11), c.pointHit);
    }
}

TEST(CollisionMasks, NonFiniteAndZeroScalesAreNeverSolid)
{
    const MaskRows full = {"11", "11"};
    struct Case {
        const char* name;
        float xscale, yscale, angle;
    };
    const Case cases[] = {
        {"x scale 0", 0.0f, 1.0f, 0.0f},        {"y scale 0", 1.0f, 0.0f, 0.0f},
        {"NaN x scale", NAN, 1.0f, 0.0f},       {"NaN angle", 1.0f, 1.0f, NAN},
        {"infinite angle", 1.0f, 1.0f, INFINITY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto f = MaskTest_Stored({full}, 1);
        CSprite* s = f->sprite.get();
        const BoundingBox box{0, 0, 1, 1};
        // One pixel away from the position: a scale of 0 sends it to infinity.
        EXPECT_FALSE(s->PreciseCollisionPoint(0, box, 0, 0, c.xscale, c.yscale, c.angle, 1, 1));
        EXPECT_FALSE(s->PreciseCollisionLine(0, box, 0, 0, c.xscale, c.yscale, c.angle, 0, 0, 1, 1));
    }
    // The flooring conversion behind them.
    struct Floor {
        double in;
        int32_t out;
    };
    const Floor floors[] = {{-0.5, -1},        {0.999, 0},          {-2147483648.0, INT32_MIN},
                            {-2147483648.5, INT32_MIN}, {2147483647.9, INT32_MAX}, {2147483648.0, INT32_MIN},
                            {NAN, INT32_MIN},  {-INFINITY, INT32_MIN}};
    for (const Floor& c : floors) EXPECT_EQ(Real_ToInt32Floor(c.in), c.out) << c.in;
}

TEST(CollisionMasks, SingleInstanceShapesFindTheSolidPixels)
{
    // 5 x 5 at (0, 0): one solid pixel at (3, 1).
    const MaskRows mask = {"00000", "00010", "00000", "00000", "00000"};
    auto f = MaskTest_Stored({mask}, 1);
    CSprite* s = f->sprite.get();
    const BoundingBox box{0, 0, 4, 4};
    struct Case {
        const char* name;
        char shape;  // r rectangle, e ellipse, l line
        int32_t a, b, c, d;
        bool want;
    };
    const Case cases[] = {
        {"rectangle over it", 'r', 2, 0, 4, 2, true},
        {"rectangle beside it", 'r', 0, 0, 2, 4, false},
        {"rectangle clipped by the box", 'r', 3, -10, 30, 1, true},
        {"ellipse 3..5 x 0..2 holds (3, 1)", 'e', 3, 0, 5, 2, true},
        {"ellipse corner (3, 1) of 3..7 x 1..5 is outside", 'e', 3, 1, 7, 5, false},
        // Two pixels wide: the radius is 0, so only the centre column counts. (3 + 4) / 2 = 3.
        {"two-wide ellipse keeps its centre column", 'e', 3, 0, 4, 2, true},
        {"two-wide ellipse drops the other column", 'e', 2, 0, 3, 2, false},
        {"two-high ellipse keeps its centre row", 'e', 2, 1, 4, 2, true},
        {"shallow line through it", 'l', 0, 0, 4, 2, true},
        {"shallow line below it", 'l', 0, 2, 4, 4, false},
        {"steep line through it", 'l', 2, -1, 4, 3, true},
        {"vertical line on its column", 'l', 3, 0, 3, 4, true},
        {"horizontal line on another row", 'l', 0, 2, 4, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool got = false;
        if (c.shape == 'r') got = s->PreciseCollisionRectangle(0, box, 0, 0, 1.0f, 1.0f, 0.0f, c.a, c.b, c.c, c.d);
        if (c.shape == 'e') got = s->PreciseCollisionEllipse(0, box, 0, 0, 1.0f, 1.0f, 0.0f, c.a, c.b, c.c, c.d);
        if (c.shape == 'l') got = s->PreciseCollisionLine(0, box, 0, 0, 1.0f, 1.0f, 0.0f, c.a, c.b, c.c, c.d);
        EXPECT_EQ(got, c.want);
    }
}

TEST(CollisionMasks, ShapedMasksFillTheBox)
{
    struct Case {
        const char* name;
        int32_t mode;
        BoundingBox rect;
        int32_t kind;
        MaskRows want;
    };
    const Case cases[] = {
        {"rectangle, full image", 1, {}, 1, {"1111", "1111", "1111", "1111"}},
        {"rectangle, manual box", 2, {1, 1, 2, 2}, 1, {"0000", "0110", "0110", "0000"}},
        {"manual box clamped to the frame", 2, {-5, -5, 1, 9}, 1, {"1100", "1100", "1100", "1100"}},
        // cx = 1, rx = 1.5: column 3 has (3 - 1) / 1.5 > 1 and stays empty, as does row 3.
        {"ellipse on a 4 x 4 box", 1, {}, 2, {"1110", "1110", "1110", "0000"}},
        {"diamond on a 4 x 4 box", 1, {}, 3, {"0100", "1110", "0100", "0000"}},
        {"unknown kind stays empty", 1, {}, 4, {"0000", "0000", "0000", "0000"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SpritePtr s = MaskTest_RunTime({{"0000", "0000", "0000", "0000"}});
        s->CreateCollisionMask(true, c.mode, c.rect.left, c.rect.top, c.rect.right, c.rect.bottom, c.kind, 0);
        ASSERT_TRUE(s->m_masksUnpacked);
        EXPECT_EQ(MaskTest_Rows(s.get(), 0), c.want);
    }
}

TEST(CollisionMasks, MasksThatAreNotSeparateAddFrameZerosShapeOnly)
{
    // Frame k is opaque at (k, 0) only, with alpha 0x10 at (k, 1) below the tolerance 0x40.
    std::vector<MaskRows> frames = {{"1000", "0000"}, {"0100", "0000"}, {"0010", "0000"}};
    struct Case {
        const char* name;
        bool separate;
        MaskRows frame2;
    };
    const Case cases[] = {
        {"separate", true, {"0010", "0000"}},
        {"not separate: frame 2 plus frame 0, not frame 1", false, {"1010", "0000"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SpritePtr s = MaskTest_RunTime(frames);
        for (int32_t k = 0; k < 3; ++k) s->m_frameImages[k]->GetPixels().pixels[4 + k] = 0x10FFFFFFu;
        s->CreateCollisionMask(c.separate, 0, 0, 0, 0, 0, 0, 0x40);
        ASSERT_EQ(s->m_maskCount, 3);
        EXPECT_EQ(MaskTest_Rows(s.get(), 0), (MaskRows{"1000", "0000"}));
        EXPECT_EQ(MaskTest_Rows(s.get(), 2), c.frame2);
    }
}

TEST(CollisionMasks, RunTimeMasksNeedPreciseAndTransparent)
{
    struct Case {
        const char* name;
        bool precise, transparent;
        bool masks;
    };
    const Case cases[] = {{"precise and transparent", true, true, true},
                          {"not precise: solid in the whole frame", false, true, false},
                          {"not transparent", true, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SpritePtr s = MaskTest_RunTime({{"10", "00"}});
        s->m_transparent = c.transparent;
        s->m_precise = c.precise;
        s->BuildPreciseMasks();
        EXPECT_EQ(s->m_masksUnpacked, c.masks);
        const BoundingBox box{0, 0, 1, 1};
        Probe probe;
        EXPECT_TRUE(s->PreciseCollisionPoint(0, box, 0, 0, 1.0f, 1.0f, 0.0f, 0, 0));
        EXPECT_EQ(s->PreciseCollisionPoint(0, box, 0, 0, 1.0f, 1.0f, 0.0f, 1, 1), !c.masks);
        EXPECT_EQ(probe.Hits(s.get(), 0, box, 0, 0, 1.0f, 1.0f, 0.0f, 1, 1), !c.masks);
        EXPECT_FALSE(probe.Hits(s.get(), 0, {0, 0, 2, 1}, 0, 0, 1.0f, 1.0f, 0.0f, 2, 1))
            << "outside the frame nothing is solid";
    }
}

TEST(CollisionMasks, StoredMasksOfOtherFramesAreNotUnpacked)
{
    struct Case {
        const char* name;
        int32_t width, height, frames;
        bool unpacked;
    };
    const Case cases[] = {
        {"frames as stored", 3, 2, 2, true},
        {"wider frames", 4, 2, 2, false},
        {"taller frames", 3, 5, 2, false},
        {"more frames", 3, 2, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto f = MaskTest_Stored({{"000", "000"}, {"000", "000"}}, 2);
        CSprite* s = f->sprite.get();
        s->m_width = c.width;
        s->m_height = c.height;
        s->m_frameCount = c.frames;
        s->UnpackMasks();
        EXPECT_EQ(s->m_masksUnpacked, c.unpacked);
        // Without masks a sprite is solid.
        EXPECT_EQ(s->PreciseCollisionPoint(0, {0, 0, 2, 1}, 0, 0, 1.0f, 1.0f, 0.0f, 1, 1), !c.unpacked);
    }
}

TEST(CollisionMasks, FramelessSpritesNeverCollide)
{
    auto f = MaskTest_Stored({{"1"}}, 1);
    auto none = MaskTest_Stored({{"1"}}, 1);
    none->sprite->m_frameCount = 0;
    const BoundingBox box{0, 0, 0, 0};
    CSprite* s = f->sprite.get();
    EXPECT_FALSE(none->sprite->PreciseCollisionPoint(0, box, 0, 0, 1.0f, 1.0f, 0.0f, 0, 0));
    EXPECT_FALSE(PreciseCollision(s, 0, box, 0, 0, 1, 1, 0, none->sprite.get(), 0, box, 0, 0, 1, 1, 0));
    EXPECT_FALSE(PreciseCollision(none->sprite.get(), 0, box, 0, 0, 1, 1, 0, s, 0, box, 0, 0, 1, 1, 0));
    EXPECT_FALSE(PreciseCollision(s, 0, box, 0, 0, 1, 1, 0, nullptr, 0, box, 0, 0, 1, 1, 0));
    EXPECT_TRUE(PreciseCollision(s, 0, box, 0, 0, 1, 1, 0, s, 0, box, 0, 0, 1, 1, 0));
}

TEST(CollisionMasks, BoundingBoxByMode)
{
    // 4 x 3 frames; frame 0 is opaque at (1, 1), frame 1 at (2, 0) and (2, 2).
    const std::vector<MaskRows> frames = {{"0000", "0100", "0000"}, {"0010", "0000", "0010"}};
    struct Case {
        const char* name;
        int32_t mode;
        bool transparent;
        bool images;  // else a frameless sprite
        BoundingBox want;
    };
    const Case cases[] = {
        {"automatic: the opaque pixels of every frame", 0, true, true, {1, 0, 2, 2}},
        {"full image", 1, true, true, {0, 0, 3, 2}},
        {"not transparent: full image", 0, false, true, {0, 0, 3, 2}},
        {"manual keeps its box", 2, true, true, {7, 7, 8, 8}},
        {"automatic without frames", 0, true, false, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SpritePtr s = MaskTest_RunTime(frames);
        if (!c.images) s->m_frameCount = 0;
        s->m_transparent = c.transparent;
        s->m_bboxMode = c.mode;
        s->m_bbox = {7, 7, 8, 8};
        s->ComputeBoundingBox();
        EXPECT_EQ(s->m_bbox.left, c.want.left);
        EXPECT_EQ(s->m_bbox.top, c.want.top);
        EXPECT_EQ(s->m_bbox.right, c.want.right);
        EXPECT_EQ(s->m_bbox.bottom, c.want.bottom);
    }
}

TEST(CollisionMasks, AutomaticBoxOfAGameDataSpriteWithoutImagesKeepsItsBox)
{
    // Frames only as texture-page regions, and no device to read them back: the box must not turn into the
    // inside-out {width - 1, height - 1, 0, 0}.
    auto f = MaskTest_Stored({{"0000", "0000"}}, 1);
    CSprite* s = f->sprite.get();
    TexturePageEntry entry{0, 0, 4, 2, 0, 0, 4, 2, 4, 2, 0};
    s->m_frameEntries = static_cast<TexturePageEntry**>(MemAlloc(sizeof(TexturePageEntry*)));
    s->m_frameEntries[0] = &entry;
    s->m_bboxMode = 2;
    s->m_bbox = {1, 0, 2, 1};
    s->SetBBoxMode(0);
    EXPECT_EQ(s->m_bboxMode, 0);
    EXPECT_EQ(s->m_bbox.left, 1);
    EXPECT_EQ(s->m_bbox.top, 0);
    EXPECT_EQ(s->m_bbox.right, 2);
    EXPECT_EQ(s->m_bbox.bottom, 1);
    s->SetBBoxMode(1);
    EXPECT_EQ(s->m_bbox.right, 3) << "full image needs no frame images";
    s->m_frameEntries[0] = nullptr;
}

TEST(CollisionMasks, PairTestMatchesTheSolidWorldPixelsOfRandomMasks)
{
    std::mt19937 rng(2101988);
    auto pick = [&rng](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    int32_t hits = 0, misses = 0;
    for (int32_t round = 0; round < 600; ++round) {
        std::unique_ptr<StoredSprite> f[2];
        int32_t x[2], y[2], frame[2];
        for (int32_t k = 0; k < 2; ++k) {
            // Widths past 8 and 64 exercise padding and the word-wide path; sparse masks give both answers.
            const int32_t w = pick(1, 80), h = pick(1, 12), frames = pick(1, 3);
            const int32_t density = pick(1, 100);
            std::vector<MaskRows> masks(static_cast<size_t>(frames));
            for (MaskRows& m : masks)
                for (int32_t v = 0; v < h; ++v) {
                    std::string row;
                    for (int32_t u = 0; u < w; ++u) row += pick(0, 399) < density ? '1' : '0';
                    m.push_back(row);
                }
            f[k] = MaskTest_Stored(masks, frames, pick(-2, w / 2), pick(-2, h / 2));
            x[k] = pick(-12, 12);
            y[k] = pick(-4, 4);
            frame[k] = pick(-4, 4);
        }
        CSprite* a = f[0]->sprite.get();
        CSprite* b = f[1]->sprite.get();
        const auto lift = [](int32_t fr, int32_t n) { return ((fr % n) + n) % n; };
        const auto pa = MaskTest_SolidPixels(a, lift(frame[0], a->m_packedMaskCount), x[0], y[0], f[0]->bytes);
        const auto pb = MaskTest_SolidPixels(b, lift(frame[1], b->m_packedMaskCount), x[1], y[1], f[1]->bytes);
        bool meet = false;
        for (const auto& p : pa) meet = meet || pb.count(p) > 0;
        const bool got = PreciseCollision(a, frame[0], MaskTest_FrameBox(a, x[0], y[0]), x[0], y[0], 1.0f, 1.0f,
                                          0.0f, b, frame[1], MaskTest_FrameBox(b, x[1], y[1]), x[1], y[1], 1.0f,
                                          1.0f, 0.0f);
        ASSERT_EQ(got, meet) << "round " << round;
        (got ? hits : misses)++;
    }
    EXPECT_GT(hits, 150) << "both answers must be well represented";
    EXPECT_GT(misses, 150);
}

TEST(CollisionMasks, ScaledPairsMatchAPixelByPixelWalk)
{
    // The scaled rule visits each frame row and column once however many world pixels share it; the walk
    // below maps every world pixel of the overlap on its own: u = trunc((i - x) x (1 / x scale) + x origin).
    std::mt19937 rng(7);
    auto pick = [&rng](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    const float scales[] = {0.5f, 0.75f, 1.0f, 1.5f, 2.0f, 3.0f, -1.0f, -2.5f};
    int32_t hits = 0;
    for (int32_t round = 0; round < 300; ++round) {
        std::unique_ptr<StoredSprite> f[2];
        int32_t x[2], y[2];
        float sx[2], sy[2];
        BoundingBox box[2];
        for (int32_t k = 0; k < 2; ++k) {
            const int32_t w = pick(1, 12), h = pick(1, 12);
            MaskRows rows;
            for (int32_t v = 0; v < h; ++v) {
                std::string row;
                for (int32_t u = 0; u < w; ++u) row += pick(0, 3) == 0 ? '1' : '0';
                rows.push_back(row);
            }
            f[k] = MaskTest_Stored({rows}, 1, pick(0, w - 1), pick(0, h - 1));
            x[k] = pick(-6, 6);
            y[k] = pick(-6, 6);
            sx[k] = scales[pick(0, 7)];
            sy[k] = scales[pick(0, 7)];
            box[k] = {x[k] - 40, y[k] - 40, x[k] + 40, y[k] + 40};
        }
        bool walk = false;
        for (int32_t i = -50; i <= 50 && !walk; ++i)
            for (int32_t j = -50; j <= 50 && !walk; ++j) {
                bool solid[2];
                for (int32_t k = 0; k < 2; ++k) {
                    const CSprite* s = f[k]->sprite.get();
                    const double u = std::trunc((i - x[k]) * double(float(1.0 / sx[k])) + s->m_xOrigin);
                    const double v = std::trunc((j - y[k]) * double(float(1.0 / sy[k])) + s->m_yOrigin);
                    const int32_t stride = (s->m_width + 7) / 8;
                    solid[k] = u >= 0 && v >= 0 && u < s->m_width && v < s->m_height;
                    if (solid[k]) {
                        const int32_t iu = int32_t(u), iv = int32_t(v);
                        solid[k] = f[k]->bytes[size_t(iv * stride + iu / 8)] & (0x80 >> (iu % 8));
                    }
                }
                const bool inBoxes = i >= std::max(box[0].left, box[1].left) &&
                                     i <= std::min(box[0].right, box[1].right) &&
                                     j >= std::max(box[0].top, box[1].top) &&
                                     j <= std::min(box[0].bottom, box[1].bottom);
                walk = inBoxes && solid[0] && solid[1];
            }
        const bool got = PreciseCollision(f[0]->sprite.get(), 0, box[0], x[0], y[0], sx[0], sy[0], 0.0f,
                                          f[1]->sprite.get(), 0, box[1], x[1], y[1], sx[1], sy[1], 0.0f);
        ASSERT_EQ(got, walk) << "round " << round;
        hits += got;
    }
    EXPECT_GT(hits, 60);
    EXPECT_LT(hits, 240);
}

}  // namespace
