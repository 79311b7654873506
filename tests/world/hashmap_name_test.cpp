// CHashMap growth at the threshold, deletion inside a probe run, and the name-keyed map the sprite table
// uses (hash-only matching: names that agree in 31 hash bits are one name to it).
#include "core/hash.h"
#include "core/hashmap.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unordered_map>
#include <utility>

namespace {

TEST(CHashMapTest, CapacityDoublesWhenAnInsertFinds103Entries)
{
    CHashMap<int32_t> map(128);
    ASSERT_EQ(map.GrowThreshold(), 102);
    for (int32_t k = 0; k < 103; ++k) {
        map.Insert(k * 7, k);
        ASSERT_EQ(map.Capacity(), 128) << "after " << k + 1 << " entries";
    }
    map.Insert(5000, 103);  // finds 103 entries, above the threshold
    EXPECT_EQ(map.Capacity(), 256);
    EXPECT_EQ(map.GrowThreshold(), 204);
    EXPECT_EQ(map.Count(), 104);
    for (int32_t k = 0; k < 103; ++k) EXPECT_EQ(*map.Find(k * 7), k);
    EXPECT_TRUE(map.CheckInvariant());
}

TEST(CHashMapTest, DeleteInsideAProbeRunShiftsTheFollowersBack)
{
    // Keys 0, 8, 16 and 24 share home slot 1 of an 8-slot map; 2 has home 3 and is pushed along behind them.
    const int32_t run[] = {0, 8, 16, 24, 2};
    for (int32_t victim : run) {
        SCOPED_TRACE(victim);
        CHashMap<int32_t> map(8);
        for (int32_t k : run) map.Insert(k, k + 100);
        ASSERT_EQ(map.Capacity(), 8);
        const int32_t before = map.FindSlot(victim);
        ASSERT_TRUE(map.Delete(victim));
        EXPECT_EQ(map.FindSlot(victim), -1);
        EXPECT_EQ(map.Count(), 4);
        for (int32_t k : run) {
            if (k == victim) continue;
            ASSERT_NE(map.Find(k), nullptr) << k;
            EXPECT_EQ(*map.Find(k), k + 100);
        }
        // Whatever followed the victim in its run now sits one slot nearer home.
        if (victim != 2) {
            EXPECT_NE(map.At(before).hash, 0);
        }
        EXPECT_TRUE(map.CheckInvariant());
    }
}

// Two different names whose hashes agree in the low 31 bits, from a seeded search.
std::pair<std::string, std::string> NameMapTest_Colliding()
{
    std::mt19937 random(29);
    std::unordered_map<int32_t, std::string> seen;
    for (;;) {
        std::string name = "spr_" + std::to_string(random());
        const int32_t h = CHashMapTextKey::Hash(name.c_str());
        auto [it, fresh] = seen.emplace(h, name);
        if (!fresh && it->second != name) return {it->second, name};
    }
}

TEST(CHashMapTest, NameKeysMatchByHashOnly)
{
    const auto [a, b] = NameMapTest_Colliding();
    ASSERT_NE(a, b);
    ASSERT_EQ(MurmurHash3_String(a.data(), a.size(), 0) & 0x7FFFFFFF,
              MurmurHash3_String(b.data(), b.size(), 0) & 0x7FFFFFFF);
    struct Case {
        bool aFirst;
        int32_t found;  // the value both lookups give
    };
    for (const Case& c : {Case{true, 1}, Case{false, 2}}) {
        CHashMapByName<int32_t> map(128);
        if (c.aFirst) {
            map.Insert(a.c_str(), 1);
            map.Insert(b.c_str(), 2);
        } else {
            map.Insert(b.c_str(), 2);
            map.Insert(a.c_str(), 1);
        }
        EXPECT_EQ(map.Count(), 2);  // different pointers: both entries stay
        EXPECT_EQ(map.At(map.FindSlot(a.c_str())).value, c.found);
        EXPECT_EQ(map.At(map.FindSlot(b.c_str())).value, c.found);
    }
}

TEST(CHashMapTest, NameInsertOverwritesOnlyTheSamePointer)
{
    const std::string name = "spr_hero";
    const std::string copy = name;
    CHashMapByName<int32_t> map(128);
    map.Insert(name.c_str(), 3);
    map.Insert(name.c_str(), 4);  // same pointer: the value changes
    EXPECT_EQ(map.Count(), 1);
    EXPECT_EQ(map.At(map.FindSlot(copy.c_str())).value, 4);
    map.Insert(copy.c_str(), 9);  // same text elsewhere: a second entry, found after the first
    EXPECT_EQ(map.Count(), 2);
    EXPECT_EQ(map.At(map.FindSlot(name.c_str())).value, 4);
    EXPECT_EQ(map.FindSlot(""), -1);  // the empty text hashes to the empty mark
    EXPECT_EQ(map.FindSlot("spr_other"), -1);
    EXPECT_TRUE(map.CheckInvariant());
}

}  // namespace
