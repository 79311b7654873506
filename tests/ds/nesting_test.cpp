// Nested containers: clear and destroy reach them to any depth through marks, cycles and self-marks end,
// long chains do not reach the C++ stack, copies own their own nested containers; and what 10^5 small maps
// cost.
#include "ds_test_util.h"

namespace {

using namespace dstest;

class DsNesting : public DsTest {};

TEST_F(DsNesting, ClearDestroysWhatIsMarkedDeleteLeavesIt)
{
    for (bool clear : {true, false}) {
        SCOPED_TRACE(clear ? "clear" : "delete");
        const int32_t outer = DSMap_New(), middle = DSMap_New(), list = DSList_Create();
        DS_Maps[outer]->Add(Str("m"), Marked(middle, DS_MARK_MAP));
        DS_Maps[middle]->Add(Str("l"), Marked(list, DS_MARK_LIST));
        DS_Lists[list]->Add(Str("leaf"));
        if (clear) DS_Maps[outer]->Clear();
        else EXPECT_TRUE(DS_Maps[outer]->Delete(Str("m")));
        EXPECT_TRUE(DS_Exists(DS_KIND_MAP, outer));
        EXPECT_TRUE(DS_Maps[outer]->Empty());
        EXPECT_EQ(DS_Exists(DS_KIND_MAP, middle), !clear);
        EXPECT_EQ(DS_Exists(DS_KIND_LIST, list), !clear);
        DSMap_Destroy(outer);
        if (!clear) {
            DSMap_Destroy(middle);  // its list goes with it
            EXPECT_FALSE(DS_Exists(DS_KIND_LIST, list));
        }
    }
    // A list marking a map marking a list: destroying the outer list takes both.
    const int32_t list = DSList_Create(), map = DSMap_New(), inner = DSList_Create();
    DS_Lists[list]->Add(Marked(map, DS_MARK_MAP));
    DS_Maps[map]->Add(Real(1), Marked(inner, DS_MARK_LIST));
    DS_Destroy(DS_KIND_LIST, list);
    EXPECT_FALSE(DS_Exists(DS_KIND_MAP, map));
    EXPECT_FALSE(DS_Exists(DS_KIND_LIST, inner));
    // A mark whose slot is empty or out of range is only freed.
    const int32_t holder = DSMap_New();
    DS_Maps[holder]->Add(Real(1), Marked(500, DS_MARK_MAP));
    DS_Maps[holder]->Add(Real(2), Marked(-3, DS_MARK_LIST));
    DS_Maps[holder]->Add(Real(3), Marked(std::nan(""), DS_MARK_LIST));
    DSMap_Destroy(holder);
    EXPECT_FALSE(DS_Exists(DS_KIND_MAP, holder));
}

TEST_F(DsNesting, CyclesAndSelfMarksEnd)
{
    for (bool clearFirst : {true, false}) {
        SCOPED_TRACE(clearFirst ? "cleared, then destroyed" : "destroyed");
        // A map marking itself.
        const int32_t self = DSMap_New();
        DS_Maps[self]->Add(Str("me"), Marked(self, DS_MARK_MAP));
        DS_Maps[self]->Add(Str("x"), Str("y"));
        if (clearFirst) {
            DS_Maps[self]->Clear();
            ASSERT_TRUE(DS_Exists(DS_KIND_MAP, self));
            EXPECT_TRUE(DS_Maps[self]->Empty());
        }
        DSMap_Destroy(self);
        EXPECT_FALSE(DS_Exists(DS_KIND_MAP, self));

        // Two maps marking each other: clearing one destroys the other and leaves this one alive.
        const int32_t a = DSMap_New(), b = DSMap_New();
        DS_Maps[a]->Add(Real(0), Marked(b, DS_MARK_MAP));
        DS_Maps[b]->Add(Real(0), Marked(a, DS_MARK_MAP));
        if (clearFirst) {
            DS_Maps[a]->Clear();
            EXPECT_TRUE(DS_Exists(DS_KIND_MAP, a));
            EXPECT_FALSE(DS_Exists(DS_KIND_MAP, b));
        }
        DSMap_Destroy(a);
        EXPECT_FALSE(DS_Exists(DS_KIND_MAP, a));
        EXPECT_FALSE(DS_Exists(DS_KIND_MAP, b));

        // A list marking itself, and a list and map marking each other.
        const int32_t list = DSList_Create(), map = DSMap_New();
        DS_Lists[list]->Add(Marked(list, DS_MARK_LIST));
        DS_Lists[list]->Add(Marked(map, DS_MARK_MAP));
        DS_Maps[map]->Add(Str("back"), Marked(list, DS_MARK_LIST));
        if (clearFirst) {
            DS_Lists[list]->Clear();
            EXPECT_TRUE(DS_Exists(DS_KIND_LIST, list));
            EXPECT_FALSE(DS_Exists(DS_KIND_MAP, map));
        }
        DS_Destroy(DS_KIND_LIST, list);
        EXPECT_FALSE(DS_Exists(DS_KIND_LIST, list));
        EXPECT_FALSE(DS_Exists(DS_KIND_MAP, map));
    }
    // Reading a list clears it first: its nested containers go, its self-mark does not loop.
    const int32_t list = DSList_Create(), map = DSMap_New();
    DS_Lists[list]->Add(Marked(map, DS_MARK_MAP));
    DS_Lists[list]->Add(Marked(list, DS_MARK_LIST));
    EXPECT_TRUE(DS_Lists[list]->Read("2E01000000000000", false));
    EXPECT_FALSE(DS_Exists(DS_KIND_MAP, map));
    DS_Destroy(DS_KIND_LIST, list);
}

TEST_F(DsNesting, LongChainsAreDestroyedWithoutRecursion)
{
    constexpr int32_t kChain = 100000;
    std::vector<int32_t> maps(kChain);
    for (int32_t i = 0; i < kChain; ++i) maps[size_t(i)] = DSMap_New();
    for (int32_t i = 0; i + 1 < kChain; ++i) DS_Maps[maps[size_t(i)]]->Add(Real(0), Marked(maps[size_t(i + 1)], DS_MARK_MAP));
    DSMap_Destroy(maps[0]);
    int32_t live = 0;
    for (int32_t i = 0; i < DS_MapsCount; ++i) live += DS_Maps[i] != nullptr;
    EXPECT_EQ(live, 0);
    // The same chain through clear and through the map's own destructor.
    for (int32_t i = 0; i < kChain; ++i) maps[size_t(i)] = DSMap_New();
    for (int32_t i = 0; i + 1 < kChain; ++i) DS_Maps[maps[size_t(i)]]->Add(Real(0), Marked(maps[size_t(i + 1)], DS_MARK_MAP));
    DS_Maps[maps[0]]->Clear();
    EXPECT_TRUE(DS_Exists(DS_KIND_MAP, maps[0]));
    EXPECT_FALSE(DS_Exists(DS_KIND_MAP, maps[kChain - 1]));
    DSMap_Destroy(maps[0]);
}

TEST_F(DsNesting, CopiesOwnTheirNestedContainers)
{
    const int32_t source = DSMap_New(), nested = DSMap_New(), list = DSList_Create();
    DS_Maps[source]->Add(Str("map"), Marked(nested, DS_MARK_MAP));
    DS_Maps[source]->Add(Str("self"), Marked(source, DS_MARK_MAP));  // a cycle: copied as a plain real
    DS_Maps[nested]->Add(Str("list"), Marked(list, DS_MARK_LIST));
    DS_Maps[nested]->Add(Str("again"), Marked(list, DS_MARK_LIST));  // met twice: the second is a number
    DS_Lists[list]->Add(Str("leaf"));
    const int32_t copy = DSMap_New();
    DS_Maps[copy]->Add(Str("old"), Real(1));
    DS_Maps[copy]->Assign(*DS_Maps[source]);

    const RValue& copiedMap = DS_Maps[copy]->Find(Str("map"))->value;
    ASSERT_EQ(copiedMap.kind, VALUE_REAL | DS_MARK_MAP);
    const int32_t newMap = int32_t(copiedMap.real);
    EXPECT_NE(newMap, nested);
    EXPECT_EQ(DS_Maps[copy]->Find(Str("self"))->value.kind, uint32_t(VALUE_REAL));
    EXPECT_EQ(DS_Maps[copy]->Find(Str("old")), nullptr);
    // The list is met twice in the nested map: whichever mark the walk meets first is copied, the other is
    // copied as the plain number it holds.
    const RValue* marks[2] = {&DS_Maps[newMap]->Find(Str("list"))->value, &DS_Maps[newMap]->Find(Str("again"))->value};
    if (marks[0]->kind == VALUE_REAL) std::swap(marks[0], marks[1]);
    ASSERT_EQ(marks[0]->kind, VALUE_REAL | DS_MARK_LIST);
    EXPECT_EQ(marks[1]->kind, uint32_t(VALUE_REAL));
    const int32_t newList = int32_t(marks[0]->real);
    EXPECT_NE(newList, list);
    EXPECT_EQ(int32_t(marks[1]->real), list);
    EXPECT_EQ(Describe(*DS_Lists[newList]->GetItem(0)), "string:leaf");

    // Each holder destroys only its own.
    DSMap_Destroy(source);
    EXPECT_FALSE(DS_Exists(DS_KIND_MAP, nested));
    EXPECT_FALSE(DS_Exists(DS_KIND_LIST, list));
    EXPECT_TRUE(DS_Exists(DS_KIND_MAP, newMap));
    EXPECT_TRUE(DS_Exists(DS_KIND_LIST, newList));
    DSMap_Destroy(copy);
    EXPECT_FALSE(DS_Exists(DS_KIND_MAP, newMap));
    EXPECT_FALSE(DS_Exists(DS_KIND_LIST, newList));

    // Lists: the same rule, and a copy onto itself does nothing.
    const int32_t a = DSList_Create(), inner = DSMap_New(), b = DSList_Create();
    DS_Lists[a]->Add(Marked(inner, DS_MARK_MAP));
    DS_Lists[a]->Assign(*DS_Lists[a]);
    DS_Lists[b]->Assign(*DS_Lists[a]);
    const int32_t innerCopy = int32_t(DS_Lists[b]->GetItem(0)->real);
    EXPECT_NE(innerCopy, inner);
    DS_Destroy(DS_KIND_LIST, a);
    EXPECT_TRUE(DS_Exists(DS_KIND_MAP, innerCopy));
    DS_Destroy(DS_KIND_LIST, b);
    EXPECT_FALSE(DS_Exists(DS_KIND_MAP, innerCopy));
}

class DsMemory : public DsTest {};

TEST_F(DsMemory, ATenThousandfoldOfSmallMapsStaysSmall)
{
    constexpr int32_t kMaps = 100000;
    const size_t before = MemoryInUse();
    std::vector<int32_t> maps;
    maps.reserve(kMaps);
    for (int32_t i = 0; i < kMaps; ++i)
        maps.push_back(DSMap_NewWithEntries(2, "id", double(i), static_cast<const char*>(nullptr), "status", 0.0, "ok"));
    const size_t used = MemoryInUse() - before;
    EXPECT_LT(used, size_t(64) << 20) << used / kMaps << " bytes a map";
    EXPECT_EQ(DSMap_Get(maps.back())->Find(Str("id"))->value.real, kMaps - 1);
    for (int32_t m : maps) DSMap_Destroy(m);
}

}  // namespace
