// Instance motion: the setters that keep (direction, speed) and (hspeed, vspeed) consistent,
// friction and gravity, path starts and path steps with their end actions. The table's expectations come
// from tests/world/gen_motion.py (motion_expect.inc), which models every stored field as a float32; each
// field must match within one float32 ulp.
#include <gtest/gtest.h>

#include "core/seam_trace.h"
#include "layers/layers.h"
#include "world/instance.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

// A named namespace: the tests of this folder are built as one unity file.
namespace motiontest {

constexpr double MOTION_NAN = std::numeric_limits<double>::quiet_NaN();
constexpr double MOTION_INF = std::numeric_limits<double>::infinity();

enum MotionOpKind {
    MOP_POSITION,           // SetPosition(a0, a1)
    MOP_DIRECTION,          // SetDirection(a0)
    MOP_SPEED,              // SetSpeed(a0)
    MOP_HSPEED,             // SetHSpeed(a0)
    MOP_VSPEED,             // SetVSpeed(a0)
    MOP_MOTION_ADD,         // AddMotion(a0, a1)
    MOP_FRICTION,           // friction = a0
    MOP_GRAVITY,            // gravity = a0
    MOP_GRAVITY_DIRECTION,  // gravity_direction = a0
    MOP_STEP,               // ApplyFrictionGravity()
    MOP_PATH_START,         // StartPath(path a0, speed a1, scale a2, orientation a3, relative a4, endaction a5)
    MOP_PATH_POSITION,      // SetPathPosition(a0)
    MOP_PATH_ADVANCE,       // AdvancePath(), its answer recorded
};
struct MotionOp {
    MotionOpKind kind;
    double a[6];
};
struct MotionExpect {
    double direction, speed, hspeed, vspeed, x, y;
    int32_t pathIndex;
    double pathPosition, pathPositionPrevious, pathSpeed, pathScale, pathOrientation;
    int32_t pathEndAction;
    double originX, originY;
};
struct MotionRow {
    const char* name;
    std::vector<MotionOp> ops;
    const char* answers;  // one '1' or '0' per MOP_PATH_ADVANCE
    MotionExpect expect;
};
struct MotionPathDef {
    const char* name;
    std::vector<PathPoint> points;
};

#define MOTION_EXPECT_PATHS
#define MOTION_EXPECT_ROWS
#include "motion_expect.inc"
#undef MOTION_EXPECT_PATHS
#undef MOTION_EXPECT_ROWS

// Distance in float32 steps between two floats: adjacent floats are 1 apart, +0 and -0 are 0 apart, and two
// NaNs are equal; a NaN against a number is as far as it gets.
uint64_t UlpDistance(float a, float b)
{
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : UINT64_MAX;
    auto ordinal = [](float f) {
        const uint32_t bits = std::bit_cast<uint32_t>(f);
        return (bits & 0x80000000u) ? -int64_t(bits & 0x7FFFFFFFu) : int64_t(bits);
    };
    const int64_t d = ordinal(a) - ordinal(b);
    return uint64_t(d < 0 ? -d : d);
}

testing::AssertionResult WithinOneUlp(const char* field, float got, double want)
{
    const float w = float(want);
    if (UlpDistance(got, w) <= 1) return testing::AssertionSuccess();
    std::ostringstream s;
    s.precision(9);
    s << field << ": got " << got << ", want " << w << " (" << UlpDistance(got, w) << " ulp apart)";
    return testing::AssertionFailure() << s.str();
}

TEST(MotionUlp, DistanceHelper)
{
    EXPECT_EQ(UlpDistance(1.0f, 1.0f), 0u);
    EXPECT_EQ(UlpDistance(1.0f, std::nextafter(1.0f, 2.0f)), 1u);
    EXPECT_EQ(UlpDistance(1.0f, std::nextafter(1.0f, 0.0f)), 1u);
    EXPECT_EQ(UlpDistance(0.0f, -0.0f), 0u);
    EXPECT_EQ(UlpDistance(std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min()), 2u);
    EXPECT_EQ(UlpDistance(NAN, NAN), 0u);
    EXPECT_EQ(UlpDistance(NAN, 0.0f), UINT64_MAX);
    EXPECT_GT(UlpDistance(1.0f, 1.0001f), 1u);
}

class MotionTest : public testing::Test {
protected:
    void SetUp() override
    {
        Path_Init();  // the seam's paths from earlier tests are freed; ours get indexes 0, 1, ...
        for (size_t i = 0; i < std::size(kMotionPaths); ++i) {
            const MotionPathDef& p = kMotionPaths[i];
            ASSERT_EQ(Path_SeamAdd(p.points.data(), int32_t(p.points.size())), int32_t(i)) << p.name;
        }
        ASSERT_EQ(Path_Data(kMotionMissingPath), nullptr);
        savedTree_ = CollisionTreeMode;
    }
    void TearDown() override
    {
        SeamTrace_Enable(false);
        SeamTrace_Clear();
        CollisionTreeMode = savedTree_;
        Path_Init();
    }

    // Runs the ops on the instance; the path steps' answers as '1' and '0'.
    static std::string Run(CInstance& inst, const std::vector<MotionOp>& ops)
    {
        std::string answers;
        for (const MotionOp& op : ops) {
            const double* a = op.a;
            switch (op.kind) {
            case MOP_POSITION: inst.SetPosition(float(a[0]), float(a[1])); break;
            case MOP_DIRECTION: inst.SetDirection(a[0]); break;
            case MOP_SPEED: inst.SetSpeed(float(a[0])); break;
            case MOP_HSPEED: inst.SetHSpeed(float(a[0])); break;
            case MOP_VSPEED: inst.SetVSpeed(float(a[0])); break;
            case MOP_MOTION_ADD: inst.AddMotion(a[0], a[1]); break;
            case MOP_FRICTION: inst.friction = float(a[0]); break;
            case MOP_GRAVITY: inst.gravity = float(a[0]); break;
            case MOP_GRAVITY_DIRECTION: inst.gravityDirection = float(a[0]); break;
            case MOP_STEP: inst.ApplyFrictionGravity(); break;
            case MOP_PATH_START:
                inst.StartPath(int32_t(a[0]), float(a[1]), float(a[2]), float(a[3]), a[4] != 0.0, int32_t(a[5]));
                break;
            case MOP_PATH_POSITION: inst.SetPathPosition(float(a[0])); break;
            case MOP_PATH_ADVANCE: answers += inst.AdvancePath() ? '1' : '0'; break;
            }
        }
        return answers;
    }

    bool savedTree_ = false;
};

TEST_F(MotionTest, GeneratedRowsWithinOneUlp)
{
    int32_t id = 7000;
    for (const MotionRow& row : kMotionRows) {
        SCOPED_TRACE(row.name);
        CInstance inst(0, 0, ++id, -1, false);
        EXPECT_EQ(Run(inst, row.ops), row.answers);
        const MotionExpect& e = row.expect;
        EXPECT_TRUE(WithinOneUlp("direction", inst.direction, e.direction));
        EXPECT_TRUE(WithinOneUlp("speed", inst.speed, e.speed));
        EXPECT_TRUE(WithinOneUlp("hspeed", inst.hspeed, e.hspeed));
        EXPECT_TRUE(WithinOneUlp("vspeed", inst.vspeed, e.vspeed));
        EXPECT_TRUE(WithinOneUlp("x", inst.x, e.x));
        EXPECT_TRUE(WithinOneUlp("y", inst.y, e.y));
        EXPECT_EQ(inst.pathIndex, e.pathIndex);
        EXPECT_TRUE(WithinOneUlp("path_position", inst.pathPosition, e.pathPosition));
        EXPECT_TRUE(WithinOneUlp("path_positionprevious", inst.pathPositionPrevious, e.pathPositionPrevious));
        EXPECT_TRUE(WithinOneUlp("path_speed", inst.pathSpeed, e.pathSpeed));
        EXPECT_TRUE(WithinOneUlp("path_scale", inst.pathScale, e.pathScale));
        EXPECT_TRUE(WithinOneUlp("path_orientation", inst.pathOrientation, e.pathOrientation));
        EXPECT_EQ(inst.pathEndAction, e.pathEndAction);
        EXPECT_TRUE(WithinOneUlp("path origin x", inst.pathOriginX, e.originX));
        EXPECT_TRUE(WithinOneUlp("path origin y", inst.pathOriginY, e.originY));
    }
}

// The edge cases worked out by hand (no generator between the rules and the test).
TEST_F(MotionTest, EdgeCasesByHand)
{
    {
        CInstance inst(0, 0, 1, -1, false);
        inst.SetDirection(-90);
        EXPECT_EQ(inst.direction, 270.0f);
        inst.SetDirection(360);
        EXPECT_EQ(inst.direction, 0.0f);
        inst.SetDirection(725);
        EXPECT_EQ(inst.direction, 5.0f);
    }
    {
        CInstance inst(0, 0, 2, -1, false);
        inst.SetHSpeed(3);
        inst.SetVSpeed(4);
        EXPECT_EQ(inst.speed, 5.0f);
        EXPECT_NEAR(inst.direction, 306.8698976, 1e-4);
    }
    {
        CInstance inst(0, 0, 3, -1, false);
        inst.SetDirection(90);
        inst.SetSpeed(2);
        EXPECT_EQ(inst.hspeed, 0.0f);  // cos of 90 degrees with pi at single precision is -4.4e-8: snapped
        EXPECT_EQ(inst.vspeed, -2.0f);
    }
    {
        CInstance inst(0, 0, 4, -1, false);
        inst.SetSpeed(0.3f);
        inst.friction = 0.5f;
        inst.ApplyFrictionGravity();
        EXPECT_EQ(inst.speed, 0.0f);  // not -0.2
        EXPECT_EQ(inst.hspeed, 0.0f);
    }
    {
        // Endaction 3 reaching 1.1 continues at 0.9 with a negated speed.
        CInstance inst(200, 100, 5, -1, false);
        inst.StartPath(0, 110, 1, 0, true, 3);
        EXPECT_TRUE(inst.AdvancePath());
        EXPECT_FLOAT_EQ(inst.pathPosition, 0.9f);
        EXPECT_EQ(inst.pathSpeed, -110.0f);
        EXPECT_EQ(inst.pathIndex, 0);
        EXPECT_FLOAT_EQ(inst.x, 290.0f);
        EXPECT_EQ(inst.y, 100.0f);
        EXPECT_TRUE(inst.AdvancePath());  // 0.9 - 1.1 = -0.2: the start end, reversed again
        EXPECT_FLOAT_EQ(inst.pathPosition, 0.2f);
        EXPECT_EQ(inst.pathSpeed, 110.0f);
    }
}

// The end actions on the 100-long straight path, from (200, 100) relative, at path speed 110 (one step
// overshoots to 1.1) and -110 from position 1 (overshoots to -0.1); values by hand.
TEST_F(MotionTest, EndActionsByHand)
{
    struct Case {
        const char* name;
        int32_t action;
        float speed;
        int32_t index;
        float position;
        float pathSpeed;
        float x;
        float originX;
    };
    const Case cases[] = {
        {"0 stop", 0, 110, -1, 1.0f, 110, 300, 200},
        {"0 stop backwards", 0, -110, -1, 1.0f, -110, 300, 200},
        {"1 restart", 1, 110, 0, 0.1f, 110, 210, 200},
        {"1 restart backwards", 1, -110, 0, 0.9f, -110, 290, 200},
        {"2 continue", 2, 110, 0, 0.1f, 110, 310, 300},
        {"2 continue backwards", 2, -110, 0, 0.9f, -110, 190, 100},
        {"3 reverse", 3, 110, 0, 0.9f, -110, 290, 200},
        {"3 reverse backwards", 3, -110, 0, 0.1f, 110, 210, 200},
        {"7 other: stop", 7, 110, -1, 1.0f, 110, 300, 200},
        {"-1 other: stop", -1, -110, -1, 1.0f, -110, 300, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CInstance inst(200, 100, 10, -1, false);
        inst.StartPath(0, c.speed, 1, 0, true, c.action);
        ASSERT_EQ(inst.pathIndex, 0);
        EXPECT_EQ(inst.pathPosition, c.speed < 0 ? 1.0f : 0.0f);
        EXPECT_TRUE(inst.AdvancePath());
        EXPECT_EQ(inst.pathIndex, c.index);
        EXPECT_FLOAT_EQ(inst.pathPosition, c.position);
        EXPECT_EQ(inst.pathSpeed, c.pathSpeed);
        EXPECT_FLOAT_EQ(inst.x, c.x);
        EXPECT_EQ(inst.y, 100.0f);
        EXPECT_EQ(inst.pathOriginX, c.originX);
        EXPECT_EQ(inst.pathOriginY, 100.0f);
        // The path moved the instance; its own motion is left at rest.
        EXPECT_EQ(inst.speed, 0.0f);
        EXPECT_EQ(inst.hspeed, 0.0f);
        EXPECT_EQ(inst.vspeed, 0.0f);
    }
}

// Continue with an orientation and a scale: the end-to-start offset (30, 40) of the diagonal path is turned
// by 90 degrees and halved, (c·dx + s·dy, c·dy − s·dx)·scale = (20, -15), and added to the origin.
TEST_F(MotionTest, ContinueAddsTheRotatedScaledOffset)
{
    CInstance inst(20, 30, 11, -1, false);
    inst.StartPath(2, 30, 0.5f, 90, true, 2);  // 30 · (100 / 50) / 50 = 1.2 per step
    EXPECT_TRUE(inst.AdvancePath());
    EXPECT_EQ(inst.pathIndex, 2);
    EXPECT_NEAR(inst.pathOriginX, 40.0f, 1e-4);
    EXPECT_NEAR(inst.pathOriginY, 15.0f, 1e-4);
    EXPECT_NEAR(inst.pathPosition, 0.2f, 1e-6);
    // At 0.2 the point is (6, 8) from the first point: turned and halved (4, -3), from the new origin.
    EXPECT_NEAR(inst.x, 44.0f, 1e-4);
    EXPECT_NEAR(inst.y, 12.0f, 1e-4);
}

TEST_F(MotionTest, StartsRelativeAndAbsolute)
{
    CInstance rel(50, 60, 12, -1, false);
    rel.StartPath(2, 5, 1, 0, true, 0);
    EXPECT_EQ(rel.pathIndex, 2);
    EXPECT_EQ(rel.x, 50.0f);
    EXPECT_EQ(rel.y, 60.0f);
    EXPECT_EQ(rel.pathOriginX, 50.0f);
    EXPECT_EQ(rel.pathOriginY, 60.0f);

    SeamTrace_Clear();
    SeamTrace_Enable(true);
    CInstance abs(50, 60, 13, -1, false);
    abs.StartPath(2, 5, 1, 0, false, 0);
    EXPECT_EQ(abs.x, 10.0f);  // the path's first point
    EXPECT_EQ(abs.y, 20.0f);
    EXPECT_EQ(abs.pathOriginX, 10.0f);
    EXPECT_EQ(abs.pathOriginY, 20.0f);
    EXPECT_TRUE(abs.bboxDirty);
    SeamTrace_Enable(false);
    EXPECT_EQ(std::count(SeamTrace_Calls().begin(), SeamTrace_Calls().end(), "Collision_MarkDirty"), 1);

    CInstance back(50, 60, 14, -1, false);
    back.StartPath(2, -5, 1, 0, false, 0);  // a negative speed starts at position 1: the last point
    EXPECT_EQ(back.pathPosition, 1.0f);
    EXPECT_EQ(back.pathPositionPrevious, 1.0f);
    EXPECT_EQ(back.x, 40.0f);
    EXPECT_EQ(back.y, 60.0f);
    EXPECT_EQ(back.pathOriginX, 10.0f);
    EXPECT_EQ(back.pathOriginY, 20.0f);
}

TEST_F(MotionTest, PathsThatCannotBeFollowedLeaveIndexMinusOne)
{
    struct Case {
        const char* name;
        int32_t path;
        float scale;
    };
    const Case cases[] = {{"missing index", kMotionMissingPath, 1},
                          {"zero length", 1, 1},
                          {"one point", 4, 1},
                          {"negative scale", 0, -1},
                          {"NaN scale", 0, NAN}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CInstance inst(50, 60, 15, -1, false);
        inst.StartPath(0, 3, 1, 0, true, 1);  // following one first: the failed start ends it
        ASSERT_EQ(inst.pathIndex, 0);
        inst.StartPath(c.path, 10, c.scale, 0, false, 0);
        EXPECT_EQ(inst.pathIndex, -1);
        EXPECT_EQ(inst.x, 50.0f);
        EXPECT_EQ(inst.y, 60.0f);
        EXPECT_FALSE(inst.AdvancePath());
        EXPECT_EQ(inst.x, 50.0f);
    }
}

// The mended fault: a path of scale 0 divides its advance by 0. The step must not move the instance or make
// any field NaN, nor mark it dirty.
TEST_F(MotionTest, PathScaleZeroDoesNotAdvance)
{
    for (float speed : {10.0f, -10.0f, 0.0f}) {
        SCOPED_TRACE(speed);
        CInstance inst(3, 4, 16, -1, false);
        inst.StartPath(0, speed, 0, 0, true, 1);
        ASSERT_EQ(inst.pathIndex, 0);  // scale 0 is not negative: the start is accepted
        const float position = inst.pathPosition;
        SeamTrace_Clear();
        SeamTrace_Enable(true);
        for (int step = 0; step < 3; ++step) EXPECT_FALSE(inst.AdvancePath());
        SeamTrace_Enable(false);
        EXPECT_TRUE(SeamTrace_Calls().empty());
        EXPECT_EQ(inst.pathPosition, position);
        EXPECT_EQ(inst.pathIndex, 0);
        EXPECT_EQ(inst.x, 3.0f);
        EXPECT_EQ(inst.y, 4.0f);
        for (float f : {inst.x, inst.y, inst.direction, inst.speed, inst.hspeed, inst.vspeed, inst.pathPosition,
                        inst.pathOriginX, inst.pathOriginY})
            EXPECT_FALSE(std::isnan(f));
    }
    // A NaN path speed is no better.
    CInstance inst(3, 4, 17, -1, false);
    inst.StartPath(0, 10, 1, 0, true, 1);
    inst.SetPathSpeed(NAN);
    EXPECT_FALSE(inst.AdvancePath());
    EXPECT_EQ(inst.pathPosition, 0.0f);
    EXPECT_EQ(inst.x, 3.0f);
}

// A backward path that stops exactly on 0 is at its near end; a path with speed 0 is at no end at all.
TEST_F(MotionTest, ExactStartAndStandstillStayOnThePath)
{
    const PathPoint line[] = {{0, 0, 100}, {100, 0, 100}};
    const int32_t path = Path_SeamAdd(line, 2);
    for (int32_t action : {1, 2, 3}) {
        SCOPED_TRACE(action);
        CInstance back(10, 20, 19, -1, false);
        back.StartPath(path, -25, 1, 0, true, action);  // -0.25 a step, from 1: 0.75, 0.5, 0.25, 0
        for (int step = 0; step < 3; ++step) EXPECT_FALSE(back.AdvancePath());
        EXPECT_TRUE(back.AdvancePath());
        EXPECT_GE(back.pathPosition, 0.0f);
        EXPECT_LE(back.pathPosition, 1.0f);
        EXPECT_EQ(back.pathPosition, action == 3 ? 0.0f : 1.0f);

        CInstance still(10, 20, 20, -1, false);
        still.StartPath(path, 0, 1, 0, true, action);
        for (int step = 0; step < 4; ++step) EXPECT_FALSE(still.AdvancePath());
        EXPECT_EQ(still.pathPosition, 0.0f);
        EXPECT_EQ(still.x, 10.0f);  // no jump to the far end and back
        EXPECT_EQ(still.pathOriginX, 10.0f);
    }
}

// Snapped zeros are positive: a negative zero would show as "-0" to scripts.
TEST_F(MotionTest, SnappedZerosArePositive)
{
    CInstance turned(0, 0, 21, -1, false);
    turned.SetDirection(90);
    turned.SetSpeed(2);
    EXPECT_EQ(turned.hspeed, 0.0f);
    EXPECT_FALSE(std::signbit(turned.hspeed));
    CInstance level(0, 0, 22, -1, false);
    level.SetHSpeed(3);
    EXPECT_EQ(level.direction, 0.0f);
    EXPECT_FALSE(std::signbit(level.direction));
}

// Huge and non-finite directions end (no repeated adding of 360); NaN stays NaN, an infinity gives NaN.
TEST_F(MotionTest, DirectionNeverHangs)
{
    CInstance inst(0, 0, 18, -1, false);
    for (double d : {1e20, -1e20, 1e300, -1e300, double(std::numeric_limits<float>::max()), -MOTION_INF, MOTION_INF,
                     std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()}) {
        SCOPED_TRACE(d);
        inst.SetDirection(d);
        if (std::isinf(d)) {
            EXPECT_TRUE(std::isnan(inst.direction));
        } else {
            EXPECT_GE(inst.direction, 0.0f);
            EXPECT_LT(inst.direction, 360.0f);
        }
    }
    inst.SetDirection(MOTION_NAN);
    EXPECT_TRUE(std::isnan(inst.direction));
    inst.SetDirection(-1e-10);  // 360 - 1e-10 rounds to 360 as a float: stored as 0
    EXPECT_EQ(inst.direction, 0.0f);
    EXPECT_FALSE(std::signbit(inst.direction));
}

TEST_F(MotionTest, PathPositionClampsAndPathSpeedStores)
{
    CInstance inst(0, 0, 19, -1, false);
    for (auto [in, want] : {std::pair{-0.5f, 0.0f}, {0.25f, 0.25f}, {1.5f, 1.0f}, {1.0f, 1.0f}, {0.0f, 0.0f}}) {
        inst.SetPathPosition(in);
        EXPECT_EQ(inst.pathPosition, want) << in;
        inst.SetPathPositionPrevious(in);
        EXPECT_EQ(inst.pathPositionPrevious, want) << in;
    }
    for (float nan : {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN()}) {
        inst.SetPathPosition(0.5f);
        inst.SetPathPosition(nan);  // no position on the path: its start
        EXPECT_EQ(inst.pathPosition, 0.0f);
        inst.SetPathPositionPrevious(0.5f);
        inst.SetPathPositionPrevious(nan);
        EXPECT_EQ(inst.pathPositionPrevious, 0.0f);
    }
    inst.SetPathSpeed(-3.5f);
    EXPECT_EQ(inst.pathSpeed, -3.5f);
}

}  // namespace motiontest
