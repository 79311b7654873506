#include "core/random.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <vector>

namespace {

// Read during static initialisation, before anything in this process can have drawn.
const std::array<uint32_t, 5> kRandomStateAtStart = {Random_StateWord(0), Random_StateWord(1), Random_StateWord(2),
                                                     Random_StateWord(3), static_cast<uint32_t>(Random_Index())};

// Leaves the generator as the runtime's start leaves it, whatever a test did.
class Random : public ::testing::Test {
protected:
    void TearDown() override
    {
        Random_SetOldVersion(false);
        Random_Seed(0);
    }
};

std::vector<uint32_t> RandomDraws(int count)
{
    std::vector<uint32_t> draws;
    for (int i = 0; i < count; ++i) draws.push_back(Random_Next());
    return draws;
}

TEST_F(Random, KnownSeedsGiveKnownStatesAndDraws)
{
    const std::array<uint32_t, 5> seededWithZero = {38, 162, 567, 1890, 0};
    EXPECT_EQ(kRandomStateAtStart, seededWithZero);

    EXPECT_EQ(Random_Seed(0), 0);
    EXPECT_EQ(Random_Index(), 0);
    EXPECT_EQ((std::array<uint32_t, 4>{Random_StateWord(0), Random_StateWord(1), Random_StateWord(2),
                                       Random_StateWord(3)}),
              (std::array<uint32_t, 4>{38, 162, 567, 1890}));
    EXPECT_EQ(RandomDraws(3), (std::vector<uint32_t>{0xCDC05DCF, 0xF6780AEF, 0x41457DF1}));

    // The game-start seed: its first intermediate is negative, and the arithmetic shift keeps bits 16-30.
    EXPECT_EQ(Random_Seed(2101988), 2101988);
    EXPECT_EQ(Random_StateWord(0), 0x7FFFBD76u);
    EXPECT_EQ(Random_Next(), 0xC211DAB9u);
}

TEST_F(Random, SeedIsKeptAsGivenAndReportedUnsigned)
{
    EXPECT_EQ(Random_Seed(-1), -1);
    EXPECT_EQ(Random_GetSeed(), 4294967295u);
    Random_Next();
    EXPECT_EQ(Random_GetSeed(), 4294967295u);
    Random_Seed(INT32_MIN);
    EXPECT_EQ(Random_GetSeed(), 0x80000000u);
}

TEST_F(Random, SameSeedReplaysTheSameSequence)
{
    for (int32_t seed : {0, 1, -1, 2101988, INT32_MAX, INT32_MIN}) {
        Random_Seed(seed);
        std::vector<uint32_t> first = RandomDraws(100);
        Random_Next();
        Random_Seed(seed);
        EXPECT_EQ(RandomDraws(100), first) << seed;
    }
    Random_Seed(1);
    std::vector<uint32_t> one = RandomDraws(16);
    Random_Seed(2);
    EXPECT_NE(RandomDraws(16), one);
}

// The old mixing constant differs from the current one only in bit 2, which the 5-bit shift before the
// mask always clears: old games replay exactly the current sequence. The switch keeps the state and its
// own value across reseeding.
TEST_F(Random, OldVersionSwitchKeepsStateAndReplaysTheSameDraws)
{
    Random_Seed(2101988);
    std::vector<uint32_t> current = RandomDraws(1000);

    Random_Seed(2101988);
    std::vector<uint32_t> mixed = RandomDraws(10);
    std::array<uint32_t, 16> before{};
    for (int i = 0; i < 16; ++i) before[i] = Random_StateWord(i);
    int index = Random_Index();
    Random_SetOldVersion(true);
    EXPECT_TRUE(Random_IsOldVersion());
    for (int i = 0; i < 16; ++i) EXPECT_EQ(Random_StateWord(i), before[i]);
    EXPECT_EQ(Random_Index(), index);
    std::vector<uint32_t> rest = RandomDraws(990);
    mixed.insert(mixed.end(), rest.begin(), rest.end());
    EXPECT_EQ(mixed, current);

    Random_Seed(5);
    EXPECT_TRUE(Random_IsOldVersion());
    Random_SetOldVersion(false);
    EXPECT_FALSE(Random_IsOldVersion());
}

TEST_F(Random, IntAndRealScaleTheNextDraw)
{
    // Seed 0's first draw is 0xCDC05DCF.
    struct Case {
        int32_t n;
        uint32_t result;
    } cases[] = {{1, 0}, {5, 2}, {-5, 2}, {7, 6}, {1000, 207}, {INT32_MIN, 0x4DC05DCF}, {INT32_MAX, 0x4DC05DD0}};
    for (const Case& c : cases) {
        Random_Seed(0);
        EXPECT_EQ(Random_Int(c.n), c.result) << c.n;
        EXPECT_EQ(Random_Next(), 0xF6780AEFu) << c.n;  // exactly one draw taken
    }

    Random_Seed(0);
    EXPECT_EQ(Random_Int(0), 0u);
    EXPECT_EQ(Random_Next(), 0xCDC05DCFu);  // no draw taken

    Random_Seed(0);
    EXPECT_DOUBLE_EQ(Random_Real(10.0), 10.0 * (3451936207.0 / 4294967296.0));
    Random_Seed(0);
    EXPECT_DOUBLE_EQ(Random_Real(-2.0), -2.0 * (3451936207.0 / 4294967296.0));

    Random_Seed(2101988);
    for (int i = 0; i < 10000; ++i) {
        ASSERT_LE(Random_Int(-5), 4u);
        double r = Random_Real(1.0);
        ASSERT_GE(r, 0.0);
        ASSERT_LT(r, 1.0);
    }
}

}  // namespace
