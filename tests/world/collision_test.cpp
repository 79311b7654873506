// Shape and instance collision tests: the box rejects before any pixel test, the rounding of what reaches the
// pixel tests in both tree modes, the precise rules, ellipse and line geometry, instance overlap at the edges,
// and skeleton boxes and tests.
#include "core/seam_trace.h"
#include "draw/draw.h"
#include "layers/layers.h"
#include "skeleton/skeleton.h"
#include "test_support.h"
#include "world/instance.h"
#include "world/loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// Sprites of the fake facts source; every one has the frame box (0, 0, 9, 9) and origin (0, 0), so an
// instance at (10, 10) has the box (10, 10, 19, 19).
constexpr int32_t kCollTestPrecise = 1;
constexpr int32_t kCollTestPlain = 2;      // not precise
constexpr int32_t kCollTestFrameless = 3;  // precise, no frames
constexpr int32_t kCollTestPrecise2 = 4;
constexpr int32_t kCollTestPlain2 = 5;
constexpr int32_t kCollTestMissing = 9;  // names no sprite

CSprite g_CollTestSprites[6];
std::vector<int32_t> g_CollTestFactsAsked;

bool CollTest_Facts(int32_t index, SpriteFacts* out)
{
    if (index < 1 || index > 5) return false;
    g_CollTestFactsAsked.push_back(index);
    *out = SpriteFacts{};
    out->frameCount = index == kCollTestFrameless ? 0 : 4;
    out->width = out->height = 10;
    out->bboxRight = out->bboxBottom = 9;
    out->precise = index != kCollTestPlain && index != kCollTestPlain2;
    out->sprite = &g_CollTestSprites[index];
    return true;
}

// One call of a pixel test: 'p' point, 'r' rectangle, 'e' ellipse, 'l' line, 'i' instance pair.
struct CollTest_PixelCall {
    char test = 0;
    CSprite* sprite = nullptr;
    BoundingBox box;
    int32_t x = 0;
    int32_t y = 0;
    std::vector<int32_t> shape;  // the point, the corners or the ends
    CSprite* sprite2 = nullptr;
    BoundingBox box2;
    int32_t x2 = 0;
    int32_t y2 = 0;
};
std::vector<CollTest_PixelCall> g_CollTestPixelCalls;
bool g_CollTestPixelAnswer = true;

CollTest_PixelCall& CollTest_Record(char test, CSprite* sprite, const BoundingBox& box, int32_t x, int32_t y)
{
    CollTest_PixelCall call;
    call.test = test;
    call.sprite = sprite;
    call.box = box;
    call.x = x;
    call.y = y;
    g_CollTestPixelCalls.push_back(call);
    return g_CollTestPixelCalls.back();
}

bool CollTest_PixelPoint(CSprite* sprite, int32_t, const BoundingBox& box, int32_t x, int32_t y, float, float, float,
                         int32_t px, int32_t py)
{
    CollTest_Record('p', sprite, box, x, y).shape = {px, py};
    return g_CollTestPixelAnswer;
}

bool CollTest_PixelArea(CSprite* sprite, int32_t kind, int32_t, const BoundingBox& box, int32_t x, int32_t y, float,
                        float, float, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    CollTest_Record(kind == 1 ? 'e' : 'r', sprite, box, x, y).shape = {left, top, right, bottom};
    return g_CollTestPixelAnswer;
}

bool CollTest_PixelLine(CSprite* sprite, int32_t, const BoundingBox& box, int32_t x, int32_t y, float, float, float,
                        int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    CollTest_Record('l', sprite, box, x, y).shape = {x1, y1, x2, y2};
    return g_CollTestPixelAnswer;
}

bool CollTest_PixelPair(CSprite* sprite1, int32_t, const BoundingBox& box1, int32_t x1, int32_t y1, float, float,
                        float, CSprite* sprite2, int32_t, const BoundingBox& box2, int32_t x2, int32_t y2, float,
                        float, float)
{
    CollTest_PixelCall& call = CollTest_Record('i', sprite1, box1, x1, y1);
    call.sprite2 = sprite2;
    call.box2 = box2;
    call.x2 = x2;
    call.y2 = y2;
    return g_CollTestPixelAnswer;
}

const SpritePixelTests kCollTestPixelTests = {CollTest_PixelPoint, CollTest_PixelArea, CollTest_PixelLine,
                                              CollTest_PixelPair};

// A pose state whose bounding attachments give a fixed box (or none).
struct CollTest_Skeleton : CSkeletonInstance {
    bool hasBox = true;
    BoundingBox box;
};

struct CollTest_SkeletonCall {
    CSkeletonInstance* self = nullptr;
    int32_t shape = -1;
    std::vector<float> coords;
    const void* other = nullptr;
};
std::vector<CollTest_SkeletonCall> g_CollTestSkeletonCalls;
bool g_CollTestSkeletonAnswer = true;

bool CollTest_SkeletonBox(CSkeletonInstance* skeleton, BoundingBox* out, int32_t, float, float)
{
    auto* fake = static_cast<CollTest_Skeleton*>(skeleton);
    if (fake->hasBox) *out = fake->box;
    return fake->hasBox;
}

bool CollTest_SkeletonCollide(CSkeletonInstance* skeleton, int32_t shape, float x1, float y1, float x2, float y2,
                              const void* other)
{
    CollTest_SkeletonCall call;
    call.self = skeleton;
    call.shape = shape;
    call.coords = {x1, y1, x2, y2};
    call.other = other;
    g_CollTestSkeletonCalls.push_back(call);
    return g_CollTestSkeletonAnswer;
}

const SkeletonCollisionHooks kCollTestSkeletonHooks = {CollTest_SkeletonBox, CollTest_SkeletonCollide};

BoundingBox CollTest_Box(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    BoundingBox b;
    b.left = left;
    b.top = top;
    b.right = right;
    b.bottom = bottom;
    return b;
}

void CollTest_ExpectBox(const BoundingBox& got, const BoundingBox& want)
{
    EXPECT_EQ(got.left, want.left);
    EXPECT_EQ(got.top, want.top);
    EXPECT_EQ(got.right, want.right);
    EXPECT_EQ(got.bottom, want.bottom);
}

int32_t CollTest_TreeUpdates()
{
    const auto& calls = SeamTrace_Calls();
    return int32_t(std::count(calls.begin(), calls.end(), std::string("Collision_UpdateInstance")));
}

// The four shape tests, each with a shape that lies over the box (10, 10, 19, 19).
enum class CollTest_Shape { Point, Rectangle, Ellipse, Line };
constexpr CollTest_Shape kCollTestShapes[] = {CollTest_Shape::Point, CollTest_Shape::Rectangle,
                                              CollTest_Shape::Ellipse, CollTest_Shape::Line};
const char* CollTest_ShapeName(CollTest_Shape s)
{
    switch (s) {
    case CollTest_Shape::Point: return "point";
    case CollTest_Shape::Rectangle: return "rectangle";
    case CollTest_Shape::Ellipse: return "ellipse";
    case CollTest_Shape::Line: return "line";
    }
    return "?";
}
char CollTest_ShapeCall(CollTest_Shape s) { return "prel"[int(s)]; }
bool CollTest_RunShape(CollTest_Shape s, CInstance* i, bool precise)
{
    switch (s) {
    case CollTest_Shape::Point: return i->CollisionPoint(12, 12, precise);
    case CollTest_Shape::Rectangle: return i->CollisionRectangle(12, 12, 14, 14, precise);
    case CollTest_Shape::Ellipse: return i->CollisionEllipse(8, 8, 16, 16, precise);
    case CollTest_Shape::Line: return i->CollisionLine(0, 0, 30, 30, precise);
    }
    return false;
}

class CollisionTest : public testing::Test {
protected:
    void SetUp() override
    {
        oldFacts_ = Sprite_SetFactsSource(CollTest_Facts);
        oldPixel_ = Sprite_SetPixelTests(&kCollTestPixelTests);
        oldHooks_ = Skeleton_SetCollisionHooks(&kCollTestSkeletonHooks);
        oldTree_ = CollisionTreeMode;
        CollisionTreeMode = false;
        g_CollTestFactsAsked.clear();
        g_CollTestPixelCalls.clear();
        g_CollTestSkeletonCalls.clear();
        g_CollTestPixelAnswer = true;
        g_CollTestSkeletonAnswer = true;
        SeamTrace_Clear();
        SeamTrace_Enable(true);
    }
    void TearDown() override
    {
        // Newest first: the object table then hands out the slots again from where this test began.
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            (*it)->skeleton = nullptr;  // the pose states belong to the test
            delete *it;
        }
        SeamTrace_Enable(false);
        SeamTrace_Clear();
        CollisionTreeMode = oldTree_;
        Skeleton_SetCollisionHooks(oldHooks_);
        Sprite_SetPixelTests(oldPixel_);
        Sprite_SetFactsSource(oldFacts_);
    }
    // An instance showing the sprite, its box still to be computed.
    CInstance* Make(float x, float y, int32_t sprite, int32_t mask = -1)
    {
        auto* i = new CInstance(x, y, 1000 + int32_t(made_.size()), -1, false);
        made_.push_back(i);
        i->spriteIndex = sprite;
        i->maskIndex = mask;
        i->bboxDirty = true;
        return i;
    }
    static void ResetRecords()
    {
        g_CollTestFactsAsked.clear();
        g_CollTestPixelCalls.clear();
        g_CollTestSkeletonCalls.clear();
        SeamTrace_Clear();
    }

    std::vector<CInstance*> made_;
    SpriteFactsSource oldFacts_ = nullptr;
    const SpritePixelTests* oldPixel_ = nullptr;
    const SkeletonCollisionHooks* oldHooks_ = nullptr;
    bool oldTree_ = false;
};

// ---- The box ----

TEST_F(CollisionTest, PointAgainstTheBoxEdgesRightAndBottomPlusOneAreOutside)
{
    CInstance* inst = Make(10, 10, kCollTestPlain);
    struct Case {
        const char* name;
        double x, y;
        bool want;
    };
    const Case cases[] = {
        {"left", 10, 15, true},        {"just left of left", 9.5, 15, false}, {"right", 19, 15, true},
        {"right + 0.5", 19.5, 15, true}, {"right + 1", 20, 15, false},         {"top", 15, 10, true},
        {"just above top", 15, 9.9, false}, {"bottom", 15, 19, true},          {"bottom + 0.5", 15, 19.5, true},
        {"bottom + 1", 15, 20, false},
        {"NaN x lies nowhere", NAN, 15, false}, {"NaN y lies nowhere", 15, NAN, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(inst->CollisionPoint(c.x, c.y, true), c.want);
    }
    CollTest_ExpectBox(inst->bbox, CollTest_Box(10, 10, 19, 19));
    EXPECT_EQ(CollTest_TreeUpdates(), 1) << "the box is computed once, on the first test";
}

TEST_F(CollisionTest, MarkedForDeletionNeverCollidesInAnyTest)
{
    CInstance* target = Make(10, 10, kCollTestPrecise);
    CInstance* other = Make(12, 12, kCollTestPrecise);
    struct Case {
        const char* name;
        std::function<bool()> run;
    };
    const Case cases[] = {
        {"point", [&] { return target->CollisionPoint(12, 12, true); }},
        {"rectangle", [&] { return target->CollisionRectangle(12, 12, 14, 14, true); }},
        {"ellipse", [&] { return target->CollisionEllipse(8, 8, 16, 16, true); }},
        {"line", [&] { return target->CollisionLine(0, 0, 30, 30, true); }},
        {"instance as a", [&] { return Collision_Instance(target, other, true); }},
        {"instance as b", [&] { return Collision_Instance(other, target, true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        target->markedForDeletion = false;
        EXPECT_TRUE(c.run()) << "the same test hits while the instance is live";
        target->markedForDeletion = true;
        g_CollTestPixelCalls.clear();
        EXPECT_FALSE(c.run());
        EXPECT_TRUE(g_CollTestPixelCalls.empty());
    }
}

TEST_F(CollisionTest, NoPixelTestWhenTheBoxRejects)
{
    CInstance* inst = Make(10, 10, kCollTestPrecise);
    CInstance* apart = Make(20, 10, kCollTestPrecise);  // left = right + 1 of inst
    struct Case {
        const char* name;
        std::function<bool()> run;
    };
    const Case cases[] = {
        {"point right of the box", [&] { return inst->CollisionPoint(25, 15, true); }},
        {"rectangle from right + 1", [&] { return inst->CollisionRectangle(20, 0, 30, 30, true); }},
        {"rectangle above", [&] { return inst->CollisionRectangle(0, 0, 30, 9.5, true); }},
        {"ellipse left of the box", [&] { return inst->CollisionEllipse(0, 0, 9.4, 30, true); }},
        {"ellipse whose box overlaps but no corner is inside",
         [&] { return inst->CollisionEllipse(0, 0, 11, 11, true); }},
        {"line below the box", [&] { return inst->CollisionLine(0, 20, 30, 25, true); }},
        {"line whose clipped part passes above", [&] { return inst->CollisionLine(0, -10, 40, 15, true); }},
        {"instances side by side", [&] { return Collision_Instance(inst, apart, true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_CollTestPixelCalls.clear();
        EXPECT_FALSE(c.run());
        EXPECT_TRUE(g_CollTestPixelCalls.empty());
    }
}

TEST_F(CollisionTest, CleanBoxIsUsedAsItIsAndDirtyBoxIsRecomputed)
{
    CInstance* inst = Make(10, 10, kCollTestPlain);
    inst->bboxDirty = false;
    inst->bbox = CollTest_Box(100, 100, 109, 109);  // stale on purpose
    EXPECT_FALSE(inst->CollisionPoint(12, 12, false));
    EXPECT_TRUE(inst->CollisionPoint(105, 105, false));
    EXPECT_EQ(CollTest_TreeUpdates(), 0);

    inst->MarkDirty();
    EXPECT_TRUE(inst->CollisionPoint(12, 12, false));
    CollTest_ExpectBox(inst->bbox, CollTest_Box(10, 10, 19, 19));
    EXPECT_FALSE(inst->bboxDirty);
    EXPECT_EQ(CollTest_TreeUpdates(), 1);
}

// ---- What reaches the pixel tests ----

TEST_F(CollisionTest, PositionReachingThePixelTestsIsRoundedWithoutTheTreeAndTruncatedWithIt)
{
    struct Case {
        const char* name;
        bool tree;
        float x, y;
        int32_t wantX, wantY;
    };
    const Case cases[] = {
        {"halves to even", false, 10.5f, 11.5f, 10, 12},
        {"negative half to even", false, -2.5f, 2.5f, -2, 2},
        {"tree truncates toward zero", true, -2.7f, 3.9f, -2, 3},
        {"tree truncates halves", true, 10.5f, 11.5f, 10, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CollisionTreeMode = c.tree;
        CInstance* inst = Make(c.x, c.y, kCollTestPrecise);
        CInstance* cover = Make(c.x - 50, c.y - 50, kCollTestPlain);  // a not-precise sprite over everything
        cover->imageXScale = cover->imageYScale = 20;
        const double px = c.x + 2, py = c.y + 2;
        g_CollTestPixelCalls.clear();
        EXPECT_TRUE(inst->CollisionPoint(px, py, true));
        EXPECT_TRUE(inst->CollisionRectangle(px, py, px + 1, py + 1, true));
        EXPECT_TRUE(inst->CollisionEllipse(px - 3, py - 3, px + 3, py + 3, true));
        EXPECT_TRUE(inst->CollisionLine(px, py, px + 1, py + 1, true));
        EXPECT_TRUE(Collision_Instance(inst, cover, true));
        ASSERT_EQ(g_CollTestPixelCalls.size(), 5u);
        for (const CollTest_PixelCall& call : g_CollTestPixelCalls) {
            SCOPED_TRACE(std::string(1, call.test));
            EXPECT_EQ(call.sprite, &g_CollTestSprites[kCollTestPrecise]);
            CollTest_ExpectBox(call.box, inst->bbox);
            EXPECT_EQ(call.x, c.wantX);
            EXPECT_EQ(call.y, c.wantY);
        }
        const CollTest_PixelCall& pair = g_CollTestPixelCalls.back();
        EXPECT_EQ(pair.sprite2, &g_CollTestSprites[kCollTestPlain]);
        CollTest_ExpectBox(pair.box2, cover->bbox);
        const float coverX = c.x - 50, coverY = c.y - 50;
        EXPECT_EQ(pair.x2, c.tree ? int32_t(coverX) : int32_t(std::nearbyint(coverX)));
        EXPECT_EQ(pair.y2, c.tree ? int32_t(coverY) : int32_t(std::nearbyint(coverY)));
    }
}

TEST_F(CollisionTest, PointCoordinatesAreRoundedHalfToEvenInBothModes)
{
    for (bool tree : {false, true}) {
        SCOPED_TRACE(tree ? "tree" : "no tree");
        CollisionTreeMode = tree;
        CInstance* inst = Make(10, 10, kCollTestPrecise);
        g_CollTestPixelCalls.clear();
        EXPECT_TRUE(inst->CollisionPoint(11.5, 13.5, true));
        EXPECT_TRUE(inst->CollisionPoint(12.5, 14.5, true));
        EXPECT_TRUE(inst->CollisionPoint(10.4, 18.6, true));
        ASSERT_EQ(g_CollTestPixelCalls.size(), 3u);
        EXPECT_EQ(g_CollTestPixelCalls[0].shape, (std::vector<int32_t>{12, 14}));
        EXPECT_EQ(g_CollTestPixelCalls[1].shape, (std::vector<int32_t>{12, 14}));
        EXPECT_EQ(g_CollTestPixelCalls[2].shape, (std::vector<int32_t>{10, 19}));
    }
}

TEST_F(CollisionTest, PixelTestAnswerIsTheAnswer)
{
    CInstance* inst = Make(10, 10, kCollTestPrecise);
    CInstance* other = Make(12, 12, kCollTestPrecise2);
    for (bool answer : {true, false}) {
        g_CollTestPixelAnswer = answer;
        for (CollTest_Shape s : kCollTestShapes) {
            SCOPED_TRACE(CollTest_ShapeName(s));
            EXPECT_EQ(CollTest_RunShape(s, inst, true), answer);
        }
        EXPECT_EQ(Collision_Instance(inst, other, true), answer);
    }
}

// The point test asks the mask-or-sprite for its precise flag and refuses a frameless one first; the other
// shapes take the instance's flag and look at the frames only when they would test pixels.
TEST_F(CollisionTest, PreciseRulesOfTheShapeTests)
{
    struct Case {
        const char* name;
        int32_t sprite;
        int32_t mask;
        bool precise;
        bool wantPoint;
        bool wantOthers;
        bool pixelTest;  // the pixel test decides (it answers false here)
    };
    const Case cases[] = {
        {"precise sprite", kCollTestPrecise, -1, true, false, false, true},
        {"precise testing off", kCollTestPrecise, -1, false, true, true, false},
        {"sprite not precise", kCollTestPlain, -1, true, true, true, false},
        {"mask not precise over a precise sprite", kCollTestPrecise, kCollTestPlain, true, true, true, false},
        {"precise mask over a sprite that is not", kCollTestPlain, kCollTestPrecise, true, false, false, true},
        {"frameless sprite", kCollTestFrameless, -1, true, false, false, false},
        {"frameless sprite, precise testing off", kCollTestFrameless, -1, false, false, true, false},
    };
    g_CollTestPixelAnswer = false;
    for (const Case& c : cases) {
        CInstance* inst = Make(10, 10, c.sprite, c.mask);
        for (CollTest_Shape s : kCollTestShapes) {
            SCOPED_TRACE(std::string(c.name) + ", " + CollTest_ShapeName(s));
            g_CollTestPixelCalls.clear();
            EXPECT_EQ(CollTest_RunShape(s, inst, c.precise), s == CollTest_Shape::Point ? c.wantPoint : c.wantOthers);
            ASSERT_EQ(g_CollTestPixelCalls.size(), c.pixelTest ? 1u : 0u);
            if (c.pixelTest) {
                EXPECT_EQ(g_CollTestPixelCalls[0].test, CollTest_ShapeCall(s));
                EXPECT_EQ(g_CollTestPixelCalls[0].sprite, &g_CollTestSprites[kCollTestPrecise]);
            }
        }
    }
}

TEST_F(CollisionTest, PointOnAnInstanceWithoutSpriteIsFalse)
{
    CInstance* inst = Make(10.7f, 10.2f, kCollTestMissing);
    EXPECT_FALSE(inst->CollisionPoint(10, 10, false));
    CollTest_ExpectBox(inst->bbox, CollTest_Box(10, 10, 10, 10));  // the point box is there, the mask is not
    EXPECT_FALSE(inst->CollisionPoint(10, 10, true));
    // The other shapes go by the instance's precise flag, which is off without a sprite: the box decides.
    EXPECT_TRUE(inst->CollisionRectangle(0, 0, 30, 30, true));
    EXPECT_TRUE(g_CollTestPixelCalls.empty());
}

// ---- Ellipse ----

TEST_F(CollisionTest, EllipseAgainstTheBox)
{
    struct Case {
        const char* name;
        double x1, y1, x2, y2;
        bool want;
        char call;  // 'e' the ellipse pixel test, 'r' the rectangle one, 0 none
        std::vector<int32_t> corners;
    };
    const Case cases[] = {
        {"a box corner inside the ellipse", 0, 0, 12, 12, true, 'e', {0, 0, 12, 12}},
        {"corners given in reverse", 12, 12, 0, 0, true, 'e', {0, 0, 12, 12}},
        {"corners rounded half to even", 0.5, 1.5, 12.5, 12.5, true, 'e', {0, 2, 12, 12}},
        {"no box corner inside, centre outside both bands", 0, 0, 11, 11, false, 0, {}},
        {"no box corner inside, lower right", 18, 18, 30, 30, false, 0, {}},
        {"the bottom-right corner inside", 16, 16, 30, 30, true, 'e', {16, 16, 30, 30}},
        {"centre inside the column band", 12, 0, 16, 12, true, 'e', {12, 0, 16, 12}},
        {"centre inside the row band", 0, 12, 12, 16, true, 'e', {0, 12, 12, 16}},
        {"centre inside the box", 8, 8, 16, 16, true, 'e', {8, 8, 16, 16}},
        {"flat: equal rounded x's is the rectangle test", 19.5, 0, 19.9, 12, true, 'r', {20, 0, 20, 12}},
        {"flat: equal rounded y's is the rectangle test", 0, 19.6, 12, 20.4, true, 'r', {0, 20, 12, 20}},
    };
    CInstance* inst = Make(10, 10, kCollTestPrecise);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_CollTestPixelCalls.clear();
        EXPECT_EQ(inst->CollisionEllipse(c.x1, c.y1, c.x2, c.y2, true), c.want);
        if (!c.call) {
            EXPECT_TRUE(g_CollTestPixelCalls.empty());
            continue;
        }
        ASSERT_EQ(g_CollTestPixelCalls.size(), 1u);
        EXPECT_EQ(g_CollTestPixelCalls[0].test, c.call);
        EXPECT_EQ(g_CollTestPixelCalls[0].shape, c.corners);
    }
}

// ---- Line ----

TEST_F(CollisionTest, LineIsClippedToTheBoxColumnsBeforeTheRowTest)
{
    struct Case {
        const char* name;
        double x1, y1, x2, y2;
        bool want;
        std::vector<int32_t> ends;  // what reaches the pixel test; empty: no call
    };
    const Case cases[] = {
        {"diagonal clipped to left and right + 1", 0, 0, 30, 30, true, {10, 10, 20, 20}},
        {"ends swapped into x order", 30, 30, 0, 0, true, {10, 10, 20, 20}},
        {"right end clipped at right + 1 reaches the top", 0, 0, 40, 20, true, {10, 5, 20, 10}},
        {"both clipped ends above the top", 0, -10, 40, 15, false, {}},
        {"both clipped ends at or below bottom + 1", 0, 30, 40, 10, false, {}},
        {"one clipped end just above bottom + 1", 0, 30, 40, 9.6, true, {10, 25, 20, 20}},
        {"clipped ends rounded half to even", 0, 0.5, 30, 15.5, true, {10, 6, 20, 10}},
        {"vertical line across the box", 15, 0, 15, 30, true, {15, 0, 15, 30}},
        {"segment inside the box", 14, 16, 12, 12, true, {12, 12, 14, 16}},
        {"ends inside the box rounded half to even", 15.5, 16.5, 13.5, 11.5, true, {14, 12, 16, 16}},
    };
    CInstance* inst = Make(10, 10, kCollTestPrecise);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_CollTestPixelCalls.clear();
        EXPECT_EQ(inst->CollisionLine(c.x1, c.y1, c.x2, c.y2, true), c.want);
        if (c.ends.empty()) {
            EXPECT_TRUE(g_CollTestPixelCalls.empty());
            continue;
        }
        ASSERT_EQ(g_CollTestPixelCalls.size(), 1u);
        EXPECT_EQ(g_CollTestPixelCalls[0].test, 'l');
        EXPECT_EQ(g_CollTestPixelCalls[0].shape, c.ends);
    }
}

// ---- Instance against instance ----

TEST_F(CollisionTest, InstanceBoxesOverlapInclusively)
{
    struct Case {
        const char* name;
        float bx, by;
        bool want;
    };
    const Case cases[] = {
        {"b.left == a.right + 1", 20, 10, false},  {"b.left == a.right", 19, 10, true},
        {"b.right == a.left - 1", 0, 10, false},   {"b.right == a.left", 1, 10, true},
        {"b.top == a.bottom + 1", 10, 20, false},  {"b.top == a.bottom", 10, 19, true},
        {"b.bottom == a.top - 1", 10, 0, false},   {"b.bottom == a.top", 10, 1, true},
        {"corners touching", 19, 19, true},       {"corners one apart", 20, 20, false},
        {"same place", 10, 10, true},
    };
    CInstance* a = Make(10, 10, kCollTestPlain);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CInstance* b = Make(c.bx, c.by, kCollTestPlain2);
        EXPECT_EQ(Collision_Instance(a, b, true), c.want);
        EXPECT_EQ(Collision_Instance(b, a, true), c.want);
    }
    EXPECT_TRUE(g_CollTestPixelCalls.empty()) << "neither sprite is precise";
}

TEST_F(CollisionTest, InstancePairRules)
{
    struct Case {
        const char* name;
        int32_t spriteA, spriteB;
        bool precise;
        bool want;
        bool pairTest;  // the pixel pair test decides (it answers false here)
    };
    const Case cases[] = {
        {"both precise", kCollTestPrecise, kCollTestPrecise2, true, false, true},
        {"only a precise", kCollTestPrecise, kCollTestPlain, true, false, true},
        {"only b precise", kCollTestPlain, kCollTestPrecise, true, false, true},
        {"neither precise", kCollTestPlain, kCollTestPlain2, true, true, false},
        {"precise testing off", kCollTestPrecise, kCollTestPrecise2, false, true, false},
        {"a frameless", kCollTestFrameless, kCollTestPrecise, false, false, false},
        {"b frameless", kCollTestPrecise, kCollTestFrameless, true, false, false},
        {"a without sprite", kCollTestMissing, kCollTestPrecise, false, false, false},
        {"b without sprite", kCollTestPlain, kCollTestMissing, true, false, false},
    };
    g_CollTestPixelAnswer = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Without a sprite the box is the point (15, 15), inside the other's box.
        CInstance* a = Make(15, 15, c.spriteA);
        CInstance* b = Make(15, 15, c.spriteB);
        g_CollTestPixelCalls.clear();
        EXPECT_EQ(Collision_Instance(a, b, c.precise), c.want);
        ASSERT_EQ(g_CollTestPixelCalls.size(), c.pairTest ? 1u : 0u);
        if (c.pairTest) {
            EXPECT_EQ(g_CollTestPixelCalls[0].test, 'i');
            EXPECT_EQ(g_CollTestPixelCalls[0].sprite, &g_CollTestSprites[c.spriteA]);
            EXPECT_EQ(g_CollTestPixelCalls[0].sprite2, &g_CollTestSprites[c.spriteB]);
            CollTest_ExpectBox(g_CollTestPixelCalls[0].box, a->bbox);
            CollTest_ExpectBox(g_CollTestPixelCalls[0].box2, b->bbox);
        }
    }
}

TEST_F(CollisionTest, InstanceAgainstItselfIsFalse)
{
    CInstance* a = Make(10, 10, kCollTestPrecise);
    EXPECT_FALSE(Collision_Instance(a, a, true));
    EXPECT_FALSE(Collision_Instance(a, a, false));
    EXPECT_TRUE(g_CollTestPixelCalls.empty());
}

TEST_F(CollisionTest, InstanceRecomputesDirtyBoxesBFirst)
{
    CInstance* a = Make(10, 10, kCollTestPlain);
    CInstance* b = Make(15, 15, kCollTestPlain2);
    ResetRecords();
    EXPECT_TRUE(Collision_Instance(a, b, false));
    ASSERT_GE(g_CollTestFactsAsked.size(), 2u);
    EXPECT_EQ(g_CollTestFactsAsked[0], kCollTestPlain2);
    EXPECT_EQ(g_CollTestFactsAsked[1], kCollTestPlain);
    EXPECT_FALSE(a->bboxDirty);
    EXPECT_FALSE(b->bboxDirty);
    CollTest_ExpectBox(a->bbox, CollTest_Box(10, 10, 19, 19));
    CollTest_ExpectBox(b->bbox, CollTest_Box(15, 15, 24, 24));
    EXPECT_EQ(CollTest_TreeUpdates(), 2);

    // Clean boxes stay as they are: moved apart without being marked, they still meet.
    ResetRecords();
    b->x = 500;
    EXPECT_TRUE(Collision_Instance(a, b, false));
    EXPECT_EQ(CollTest_TreeUpdates(), 0);
    b->SetPosition(600, 15);
    EXPECT_FALSE(Collision_Instance(a, b, false));
}

// ---- Skeletons ----

TEST_F(CollisionTest, SkeletonBoxReplacesTheSpriteBox)
{
    CollTest_Skeleton pose;
    pose.box = CollTest_Box(100, 100, 120, 120);
    CInstance* inst = Make(10, 10, kCollTestPlain);
    inst->skeleton = &pose;
    inst->precise = false;
    ResetRecords();
    EXPECT_TRUE(inst->CollisionPoint(110, 110, false));
    CollTest_ExpectBox(inst->bbox, pose.box);
    EXPECT_FALSE(inst->bboxDirty);
    EXPECT_TRUE(inst->precise);
    EXPECT_EQ(CollTest_TreeUpdates(), 0) << "the sprite box is not computed";
    EXPECT_FALSE(inst->CollisionPoint(12, 12, false)) << "the sprite's box does not count";

    // The point test goes by the sprite's flag, the other shapes by the instance's, set by the skeleton box.
    EXPECT_TRUE(inst->CollisionPoint(110, 110, true));
    EXPECT_TRUE(g_CollTestSkeletonCalls.empty());
    g_CollTestSkeletonAnswer = false;
    EXPECT_FALSE(inst->CollisionRectangle(105, 105, 110, 110, true));
    ASSERT_EQ(g_CollTestSkeletonCalls.size(), 1u);
    EXPECT_EQ(g_CollTestSkeletonCalls[0].shape, 1);

    // Without bounding attachments the sprite gives the box.
    pose.hasBox = false;
    inst->MarkDirty();
    EXPECT_TRUE(inst->CollisionPoint(12, 12, false));
    CollTest_ExpectBox(inst->bbox, CollTest_Box(10, 10, 19, 19));
    EXPECT_FALSE(inst->precise);
}

TEST_F(CollisionTest, SkeletonAnswersThePreciseShapeTests)
{
    CollTest_Skeleton pose;
    pose.box = CollTest_Box(10, 10, 19, 19);
    CInstance* inst = Make(300, 300, kCollTestPrecise);
    inst->skeleton = &pose;
    struct Case {
        CollTest_Shape shape;
        int32_t hookShape;
        std::vector<float> coords;
    };
    const Case cases[] = {
        {CollTest_Shape::Point, 0, {12, 12, 12, 12}},
        {CollTest_Shape::Rectangle, 1, {12, 12, 14, 14}},
        {CollTest_Shape::Ellipse, 2, {8, 8, 16, 16}},
        {CollTest_Shape::Line, 3, {10, 10, 20, 20}},  // the clipped ends
    };
    g_CollTestSkeletonAnswer = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(CollTest_ShapeName(c.shape));
        g_CollTestSkeletonCalls.clear();
        EXPECT_FALSE(CollTest_RunShape(c.shape, inst, true));
        ASSERT_EQ(g_CollTestSkeletonCalls.size(), 1u);
        EXPECT_EQ(g_CollTestSkeletonCalls[0].self, &pose);
        EXPECT_EQ(g_CollTestSkeletonCalls[0].shape, c.hookShape);
        EXPECT_EQ(g_CollTestSkeletonCalls[0].coords, c.coords);
    }
    EXPECT_TRUE(g_CollTestPixelCalls.empty());
}

TEST_F(CollisionTest, InstanceWithASkeletonGoesToTheSkeletonTest)
{
    struct Case {
        const char* name;
        bool skeletonA, skeletonB;
        int32_t wantShape;  // 4 skeleton against skeleton, 5 skeleton against sprite
        bool selfIsA;
    };
    const Case cases[] = {
        {"skeleton a, sprite b", true, false, 5, true},
        {"sprite a, skeleton b", false, true, 5, false},
        {"skeleton against skeleton", true, true, 4, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CollTest_Skeleton poseA, poseB;
        poseA.box = CollTest_Box(10, 10, 19, 19);
        poseB.box = CollTest_Box(19, 19, 30, 30);
        CInstance* a = Make(200, 200, kCollTestPrecise);
        CInstance* b = Make(-200, -200, kCollTestPrecise2);
        if (c.skeletonA) a->skeleton = &poseA;
        else a->SetPosition(10, 10);
        if (c.skeletonB) b->skeleton = &poseB;
        else b->SetPosition(19, 19);
        for (bool answer : {true, false}) {
            g_CollTestSkeletonAnswer = answer;
            g_CollTestSkeletonCalls.clear();
            EXPECT_EQ(Collision_Instance(a, b, true), answer);
            ASSERT_EQ(g_CollTestSkeletonCalls.size(), 1u);
            const CollTest_SkeletonCall& call = g_CollTestSkeletonCalls[0];
            EXPECT_EQ(call.shape, c.wantShape);
            EXPECT_EQ(call.self, c.selfIsA ? static_cast<CSkeletonInstance*>(&poseA) : &poseB);
            const void* wantOther = c.wantShape == 4 ? static_cast<const void*>(&poseB)
                                    : c.selfIsA      ? &g_CollTestSprites[kCollTestPrecise2]
                                                     : &g_CollTestSprites[kCollTestPrecise];
            EXPECT_EQ(call.other, wantOther);
        }
        EXPECT_TRUE(g_CollTestPixelCalls.empty());

        // Without precise testing the boxes decide; boxes apart never reach the skeleton.
        g_CollTestSkeletonCalls.clear();
        EXPECT_TRUE(Collision_Instance(a, b, false));
        if (c.skeletonB) poseB.box = CollTest_Box(20, 20, 30, 30);
        else b->SetPosition(20, 20);
        EXPECT_FALSE(Collision_Instance(a, b, true));
        EXPECT_FALSE(Collision_Instance(b, a, true));
        EXPECT_TRUE(g_CollTestSkeletonCalls.empty());
        a->skeleton = b->skeleton = nullptr;
    }
}

TEST_F(CollisionTest, SkeletonAgainstAFramelessSpriteIsFalse)
{
    CollTest_Skeleton pose;
    pose.box = CollTest_Box(10, 10, 19, 19);
    CInstance* a = Make(200, 200, kCollTestPrecise);
    a->skeleton = &pose;
    CInstance* b = Make(12, 12, kCollTestFrameless);
    for (bool precise : {true, false}) {
        EXPECT_FALSE(Collision_Instance(a, b, precise));
        EXPECT_FALSE(Collision_Instance(b, a, precise));
    }
    EXPECT_TRUE(g_CollTestSkeletonCalls.empty());
}

// ---- The real sprite table, no override installed ----

TEST_F(CollisionTest, PrecisePointOnAStoredMaskOfTheSpriteTable)
{
    std::string error;
    const std::string dir = kvtest::ScriptFixture("tests/fixtures/collision_sprite_cases.py", "", &error);
    ASSERT_FALSE(dir.empty()) << error;
    std::string data = kvtest::ReadFile(dir + "mask_sprite.win");
    ASSERT_GT(data.size(), 8u);
    auto* base = reinterpret_cast<uint8_t*>(data.data());
    uint32_t at = 8, size = 0;
    while (at + 8 <= data.size()) {
        std::memcpy(&size, base + at + 4, 4);
        if (std::memcmp(base + at, "SPRT", 4) == 0) break;
        at += 8 + size;
    }
    ASSERT_LE(at + 8 + size, data.size()) << "no SPRT chunk";
    Sprite_SetFactsSource(nullptr);
    Sprite_SetPixelTests(nullptr);
    // Chunk loaders read inside the loaded game data.
    const GameDataInfo saved = g_GameData;
    g_GameData.data = base;
    g_GameData.length = uint32_t(data.size());
    g_GameData.newMode = false;
    Sprite_Init();
    const bool loaded = Sprite_Load(base + at + 8, size, base);
    g_GameData = saved;
    ASSERT_TRUE(loaded);
    ASSERT_EQ(Sprite_Find("spr_mask"), 0);

    // The 4 x 3 frame with origin (1, 1) at (20, 20) covers 19..22 x 19..21; its mask rows are 1000, 0110, 0001.
    CInstance* inst = Make(20, 20, 0);
    struct Case {
        const char* name;
        double x, y;
        bool precise, want;
    };
    const Case cases[] = {
        {"solid corner (0, 0)", 19, 19, true, true},
        {"empty (1, 0)", 20, 19, true, false},
        {"solid (1, 1) under the origin", 20, 20, true, true},
        {"empty (0, 2)", 19, 21, true, false},
        {"solid (3, 2)", 22, 21, true, true},
        {"empty pixel without precise checking", 20, 19, false, true},
        {"outside the box", 23, 21, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(inst->CollisionPoint(c.x, c.y, c.precise), c.want);
    }
    CollTest_ExpectBox(inst->bbox, CollTest_Box(19, 19, 22, 21));
    Sprite_Init();
}

}  // namespace
