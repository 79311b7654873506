// The instance bounding box (Compute_BoundingBox): the sprite's box placed by origin, scale and
// angle, rounded (halves to even) without the collision tree and truncated with it; no sprite; the mask before
// the sprite; the precise flag; and the laziness: setters only mark the box dirty, readers recompute it only
// then. Rows come from tests/world/gen_motion.py (motion_expect.inc).
#include <gtest/gtest.h>

#include "core/seam_trace.h"
#include "draw/draw.h"
#include "layers/layers.h"
#include "world/instance.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>

// A named namespace: the tests of this folder are built as one unity file.
namespace bboxtest {

constexpr double MOTION_NAN = std::numeric_limits<double>::quiet_NaN();
constexpr double MOTION_INF = std::numeric_limits<double>::infinity();

struct BBoxSprite {
    int32_t left, top, right, bottom, xOrigin, yOrigin;
};
struct BBoxRow {
    const char* name;
    bool hasSprite;
    BBoxSprite sprite;
    double x, y, xscale, yscale, angle;
    bool tree;
    BoundingBox want;
};

#define MOTION_EXPECT_BBOX
#include "motion_expect.inc"
#undef MOTION_EXPECT_BBOX

// The sprites the facts source answers: slots 0 ... 3, each present or not.
struct FakeSprite {
    bool present = false;
    BBoxSprite box{};
    bool precise = false;
    int32_t frames = 1;
};
FakeSprite g_bboxSprites[4];
int32_t g_bboxFactsCalls = 0;

bool BBoxTest_Facts(int32_t index, SpriteFacts* out)
{
    ++g_bboxFactsCalls;
    if (index < 0 || index >= int32_t(std::size(g_bboxSprites)) || !g_bboxSprites[index].present) return false;
    const FakeSprite& s = g_bboxSprites[index];
    *out = SpriteFacts{};
    out->frameCount = s.frames;
    out->width = s.box.right + 1;
    out->height = s.box.bottom + 1;
    out->xOrigin = s.box.xOrigin;
    out->yOrigin = s.box.yOrigin;
    out->bboxLeft = s.box.left;
    out->bboxTop = s.box.top;
    out->bboxRight = s.box.right;
    out->bboxBottom = s.box.bottom;
    out->precise = s.precise;
    return true;
}

constexpr BBoxSprite kSprite16{0, 0, 15, 15, 8, 8};
constexpr BBoxSprite kSpriteWide{0, 0, 31, 3, 0, 0};

std::string BoxText(const BoundingBox& b)
{
    return "(" + std::to_string(b.left) + ", " + std::to_string(b.top) + ", " + std::to_string(b.right) + ", " +
           std::to_string(b.bottom) + ")";
}

int32_t TraceCount(const char* name)
{
    const auto& calls = SeamTrace_Calls();
    return int32_t(std::count(calls.begin(), calls.end(), std::string(name)));
}

class BBoxTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (FakeSprite& s : g_bboxSprites) s = FakeSprite{};
        g_bboxFactsCalls = 0;
        oldFacts_ = Sprite_SetFactsSource(BBoxTest_Facts);
        savedTree_ = CollisionTreeMode;
        CollisionTreeMode = false;
        SeamTrace_Clear();
    }
    void TearDown() override
    {
        SeamTrace_Enable(false);
        SeamTrace_Clear();
        CollisionTreeMode = savedTree_;
        Sprite_SetFactsSource(oldFacts_);
    }
    static void UseSprite(int32_t slot, BBoxSprite box, bool precise = false)
    {
        g_bboxSprites[slot].present = true;
        g_bboxSprites[slot].box = box;
        g_bboxSprites[slot].precise = precise;
    }

    SpriteFactsSource oldFacts_ = nullptr;
    bool savedTree_ = false;
};

TEST_F(BBoxTest, GeneratedRows)
{
    for (const BBoxRow& row : kBBoxRows) {
        SCOPED_TRACE(row.name);
        g_bboxSprites[0] = FakeSprite{};
        if (row.hasSprite) UseSprite(0, row.sprite);
        CollisionTreeMode = row.tree;
        CInstance inst(float(row.x), float(row.y), 100, -1, false);
        inst.spriteIndex = 0;
        inst.imageXScale = float(row.xscale);
        inst.imageYScale = float(row.yscale);
        inst.imageAngle = float(row.angle);
        inst.bboxDirty = true;
        EXPECT_EQ(Compute_BoundingBox(&inst, false), 0);
        EXPECT_EQ(BoxText(inst.bbox), BoxText(row.want));
        EXPECT_FALSE(inst.bboxDirty);
    }
}

// The worked example by hand: box (0, 0, 15, 15), origin (8, 8), at (100, 100): (92, 92, 107, 107), with
// xscale -1 too (its x edges come out reversed and are swapped), in both rounding modes.
TEST_F(BBoxTest, WorkedExampleByHand)
{
    UseSprite(0, kSprite16);
    for (bool tree : {false, true})
        for (float xscale : {1.0f, -1.0f}) {
            SCOPED_TRACE(std::string(tree ? "tree" : "round") + " xscale " + std::to_string(xscale));
            CollisionTreeMode = tree;
            CInstance inst(100, 100, 101, -1, false);
            inst.spriteIndex = 0;
            inst.imageXScale = xscale;
            Compute_BoundingBox(&inst, false);
            EXPECT_EQ(BoxText(inst.bbox), "(92, 92, 107, 107)");
        }
}

// The two modes part where an edge is not whole: 101.5 - 8 = 93.5 rounds to the even 94, truncates to 93;
// rotated 90 degrees, cos is -4.4e-8 with pi at single precision, so 92 - 3.5e-7 truncates to 91.
TEST_F(BBoxTest, RoundingModesByHand)
{
    UseSprite(0, kSprite16);
    struct Case {
        const char* name;
        float x, angle;
        bool tree;
        const char* want;
    };
    const Case cases[] = {
        {"tie rounds to even", 101.5f, 0, false, "(94, 92, 109, 107)"},
        {"tie truncates", 101.5f, 0, true, "(93, 92, 108, 107)"},
        {"90 degrees rounded", 100, 90, false, "(92, 92, 107, 107)"},
        {"90 degrees truncated", 100, 90, true, "(91, 91, 107, 107)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CollisionTreeMode = c.tree;
        CInstance inst(c.x, 100, 102, -1, false);
        inst.spriteIndex = 0;
        inst.imageAngle = c.angle;
        Compute_BoundingBox(&inst, false);
        EXPECT_EQ(BoxText(inst.bbox), c.want);
    }
}

TEST_F(BBoxTest, NoSpriteIsThePositionTruncated)
{
    for (bool tree : {false, true}) {
        SCOPED_TRACE(tree);
        CollisionTreeMode = tree;
        CInstance inst(-3.7f, 12.9f, 103, -1, false);
        inst.precise = true;
        inst.spriteIndex = 2;  // not present
        inst.imageXScale = 3;
        Compute_BoundingBox(&inst, false);
        EXPECT_EQ(BoxText(inst.bbox), "(-3, 12, -3, 12)");
        EXPECT_FALSE(inst.precise);
        inst.spriteIndex = -1;
        Compute_BoundingBox(&inst, false);
        EXPECT_EQ(BoxText(inst.bbox), "(-3, 12, -3, 12)");
    }
}

TEST_F(BBoxTest, MaskBeforeSpriteAndPreciseFromTheFacts)
{
    UseSprite(0, kSprite16, /*precise*/ false);
    UseSprite(1, kSpriteWide, /*precise*/ true);
    CInstance inst(100, 100, 104, -1, false);
    inst.spriteIndex = 0;

    Compute_BoundingBox(&inst, false);
    EXPECT_EQ(BoxText(inst.bbox), "(92, 92, 107, 107)");
    EXPECT_FALSE(inst.precise);

    inst.SetMaskIndex(1);
    Compute_BoundingBox(&inst, false);
    EXPECT_EQ(BoxText(inst.bbox), "(100, 100, 131, 103)");
    EXPECT_TRUE(inst.precise);

    // A mask that names no sprite is still the one used: no sprite, the sprite index does not stand in.
    inst.SetMaskIndex(3);
    Compute_BoundingBox(&inst, false);
    EXPECT_EQ(BoxText(inst.bbox), "(100, 100, 100, 100)");
    EXPECT_FALSE(inst.precise);

    inst.SetMaskIndex(-1);
    g_bboxSprites[0].precise = true;
    Compute_BoundingBox(&inst, false);
    EXPECT_EQ(BoxText(inst.bbox), "(92, 92, 107, 107)");
    EXPECT_TRUE(inst.precise);
}

TEST_F(BBoxTest, TreeUpdateOnlyWhenAsked)
{
    UseSprite(0, kSprite16);
    CInstance inst(100, 100, 105, -1, false);
    inst.spriteIndex = 0;
    SeamTrace_Enable(true);
    Compute_BoundingBox(&inst, false);
    EXPECT_EQ(TraceCount("Collision_UpdateInstance"), 0);
    Compute_BoundingBox(&inst, true);
    EXPECT_EQ(TraceCount("Collision_UpdateInstance"), 1);
}

// The box is lazy: setters mark it dirty (and queue the instance with Collision_MarkDirty) only when a value
// changes; a reader recomputes it only while dirty.
TEST_F(BBoxTest, RecomputedOnlyWhenDirty)
{
    UseSprite(0, kSprite16);
    CInstance inst(100, 100, 106, -1, false);
    inst.spriteIndex = 0;
    inst.MarkDirty();
    SeamTrace_Enable(true);

    EXPECT_TRUE(inst.CollisionPoint(100, 100, false));
    EXPECT_EQ(TraceCount("Collision_UpdateInstance"), 1);
    EXPECT_FALSE(inst.bboxDirty);
    const int32_t factsAfterFirst = g_bboxFactsCalls;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(inst.CollisionPoint(95, 95, false));
    EXPECT_EQ(TraceCount("Collision_UpdateInstance"), 1);
    EXPECT_EQ(g_bboxFactsCalls - factsAfterFirst, 3);  // the mask check of each test only, no recomputation

    // x set to the same value: nothing marked, and a changed sprite box is not seen.
    SeamTrace_Clear();
    inst.SetPosition(100, 100);
    EXPECT_FALSE(inst.bboxDirty);
    EXPECT_EQ(TraceCount("Collision_MarkDirty"), 0);
    g_bboxSprites[0].box = kSpriteWide;  // would reach x 131 from 100
    EXPECT_FALSE(inst.CollisionPoint(120, 100, false));
    EXPECT_EQ(TraceCount("Collision_UpdateInstance"), 0);
    EXPECT_EQ(BoxText(inst.bbox), "(92, 92, 107, 107)");

    // A change marks dirty once; the next reader recomputes, once.
    inst.SetPosition(101, 100);
    EXPECT_TRUE(inst.bboxDirty);
    EXPECT_EQ(TraceCount("Collision_MarkDirty"), 1);
    EXPECT_TRUE(inst.CollisionPoint(120, 100, false));
    EXPECT_TRUE(inst.CollisionPoint(120, 100, false));
    EXPECT_EQ(TraceCount("Collision_UpdateInstance"), 1);
    EXPECT_EQ(BoxText(inst.bbox), "(101, 100, 132, 103)");
    // The box's right edge is inside, right + 1 is not.
    EXPECT_TRUE(inst.CollisionPoint(132, 101, false));
    EXPECT_FALSE(inst.CollisionPoint(133, 101, false));
    EXPECT_TRUE(inst.CollisionPoint(132.5, 101, false));  // [left, right + 1) holds 132.5
}

// Every setter: the same value marks nothing; a different one marks dirty and records Collision_MarkDirty.
TEST_F(BBoxTest, SettersMarkDirtyOnlyOnChange)
{
    struct Setter {
        const char* name;
        std::function<void(CInstance&)> same;
        std::function<void(CInstance&)> changed;
    };
    const Setter setters[] = {
        {"x", [](CInstance& i) { i.SetPosition(10, i.y); }, [](CInstance& i) { i.SetPosition(11, i.y); }},
        {"y", [](CInstance& i) { i.SetPosition(i.x, 20); }, [](CInstance& i) { i.SetPosition(i.x, 21); }},
        {"image_xscale", [](CInstance& i) { i.SetImageXScale(1); }, [](CInstance& i) { i.SetImageXScale(2); }},
        {"image_yscale", [](CInstance& i) { i.SetImageYScale(1); }, [](CInstance& i) { i.SetImageYScale(-1); }},
        {"image_angle", [](CInstance& i) { i.SetImageAngle(0); }, [](CInstance& i) { i.SetImageAngle(30); }},
        {"mask_index", [](CInstance& i) { i.SetMaskIndex(-1); }, [](CInstance& i) { i.SetMaskIndex(0); }},
        {"speed", [](CInstance& i) { i.SetSpeed(0); }, [](CInstance& i) { i.SetSpeed(2); }},
        {"hspeed", [](CInstance& i) { i.SetHSpeed(0); }, [](CInstance& i) { i.SetHSpeed(2); }},
        {"vspeed", [](CInstance& i) { i.SetVSpeed(0); }, [](CInstance& i) { i.SetVSpeed(2); }},
    };
    for (const Setter& s : setters) {
        SCOPED_TRACE(s.name);
        CInstance inst(10, 20, 107, -1, false);
        ASSERT_FALSE(inst.bboxDirty);
        SeamTrace_Clear();
        SeamTrace_Enable(true);
        s.same(inst);
        EXPECT_FALSE(inst.bboxDirty);
        EXPECT_EQ(TraceCount("Collision_MarkDirty"), 0);
        s.changed(inst);
        EXPECT_TRUE(inst.bboxDirty);
        EXPECT_EQ(TraceCount("Collision_MarkDirty"), 1);
        SeamTrace_Enable(false);
    }
    // direction always recomputes the speed pair, which marks dirty (UpdateHVSpeed).
    CInstance inst(10, 20, 108, -1, false);
    SeamTrace_Clear();
    SeamTrace_Enable(true);
    inst.SetDirection(45);
    EXPECT_TRUE(inst.bboxDirty);
    EXPECT_GE(TraceCount("Collision_MarkDirty"), 1);
}

}  // namespace bboxtest
