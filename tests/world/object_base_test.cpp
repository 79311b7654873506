// Script objects: the object table, pooled reuse (slot arrays never shorter than the slot count), sparse
// cells, named-property setters, marking through arrays and cycles, and the Robin Hood map.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/hashmap.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "core/varlist.h"
#include "world/loader.h"
#include "world/object_base.h"

namespace {

// Every object the test registered is freed and the pools emptied before the totals are compared.
class ObjectBaseTest : public testing::Test {
protected:
    void SetUp() override
    {
        resolver_ = ObjectBase_SetSlotResolver(nullptr);
        g_GameData.scriptObjectModel = false;
        tableCapacity_ = ObjectTable.capacity;
        // Objects earlier tests of the same process left in the table are theirs: only ours are freed.
        for (int32_t i = 0; ObjectTable.items && i < ObjectTable.capacity; ++i)
            if (ObjectTable.items[i]) earlier_.push_back(ObjectTable.items[i]);
        // Pools hold only released records; emptied on both sides, the totals compare what the test left.
        ObjectBasePool_Clear();
        VariableNode_FreePool();
        RValuePool_Release();
        before_ = MemoryManager_Probe();
    }
    void TearDown() override
    {
        ObjectBase_SetSlotResolver(resolver_);
        g_GameData.scriptObjectModel = false;
        for (int32_t i = 0; ObjectTable.items && i < ObjectTable.capacity; ++i)
            if (ObjectTable.items[i] && std::find(earlier_.begin(), earlier_.end(), ObjectTable.items[i]) == earlier_.end())
                ObjectBase_Free(ObjectTable.items[i]);
        ObjectBasePool_Clear();
        VariableNode_FreePool();
        EXPECT_TRUE(RValuePool_Release());
        MemoryProbe after = MemoryManager_Probe();
        EXPECT_EQ(after.liveBlocks, before_.liveBlocks);
        // The table keeps what it grew to for the rest of the process.
        const size_t grown = sizeof(QZObjectBase*) * size_t(ObjectTable.capacity - tableCapacity_);
        EXPECT_EQ(after.heapBytesInUse, before_.heapBytesInUse + grown);
    }

private:
    MemoryProbe before_{};
    std::vector<QZObjectBase*> earlier_;
    int32_t tableCapacity_ = 0;
    ObjectBaseSlotResolver resolver_ = nullptr;
};

TEST_F(ObjectBaseTest, AFreedTableSlotIsTheNextOneGivenOut)
{
    std::vector<QZObjectBase*> objects;
    for (int i = 0; i < 8; ++i) objects.push_back(ObjectBase_Alloc(0, VALUE_UNSET, false));
    QZObjectBase* fifth = objects[5];
    const int32_t slot = fifth->tableIndex;
    ASSERT_GE(slot, 0);
    const int32_t count = ObjectTable.count;
    ObjectBase_Free(fifth);
    EXPECT_EQ(fifth->tableIndex, -1);
    EXPECT_EQ(ObjectTable.items[slot], nullptr);
    EXPECT_EQ(ObjectTable.count, count - 1);
    QZObjectBase* next = ObjectBase_Alloc(3, VALUE_UNSET, true);
    EXPECT_EQ(next->tableIndex, slot);
    EXPECT_EQ(ObjectTable.items[slot], next);
    EXPECT_EQ(next, fifth) << "the released record is reused";
}

TEST_F(ObjectBaseTest, TheHundredAndTwentyNinthObjectGrowsTheTableTo192)
{
    // The growth steps are those of a fresh table: the process's own is set aside while the test runs, and
    // the fresh one is given back (with every object of it freed) before it is restored.
    struct FreshTable {
        ObjectTableRecord kept = ObjectTable;
        std::vector<QZObjectBase*> objects;
        FreshTable() { ObjectTable = {nullptr, 0, 0, 0}; }
        ~FreshTable()
        {
            for (QZObjectBase* object : objects) ObjectBase_Free(object);
            MemFree(ObjectTable.items);
            ObjectTable = kept;
        }
    } fresh;
    fresh.objects.push_back(ObjectBase_Alloc(1, VALUE_UNSET, true));
    ASSERT_EQ(ObjectTable.capacity, 128);
    while (ObjectTable.count < 128) fresh.objects.push_back(ObjectBase_Alloc(1, VALUE_UNSET, true));
    EXPECT_EQ(ObjectTable.capacity, 128);
    QZObjectBase* last = ObjectBase_Alloc(1, VALUE_UNSET, true);
    fresh.objects.push_back(last);
    EXPECT_EQ(ObjectTable.capacity, 192);
    EXPECT_EQ(last->tableIndex, 128);
    for (int32_t i = 129; i < 192; ++i) EXPECT_EQ(ObjectTable.items[i], nullptr);
}

// A pooled record asked for again: with slots its array covers the slot count, without slots it has no
// array at all and every slot number is a sparse cell of the new default kind.
TEST_F(ObjectBaseTest, PooledReuseNeverLeavesAShortSlotArray)
{
    struct Row {
        const char* name;
        int32_t firstSlots;
        bool firstWithSlots;
        int32_t slots;
        bool withSlots;
    };
    const Row rows[] = {
        {"slots, then fewer slots", 8, true, 3, true},     {"slots, then more slots", 2, true, 9, true},
        {"slots, then sparse and more", 2, true, 12, false}, {"slots, then sparse and fewer", 8, true, 3, false},
        {"sparse, then slots", 4, false, 6, true},          {"sparse, then sparse", 4, false, 9, false},
        {"none, then slots", 0, true, 5, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QZObjectBase* first = ObjectBase_Alloc(row.firstSlots, VALUE_UNSET, row.firstWithSlots);
        for (int32_t n = 0; n < row.firstSlots; ++n) RValue_SetString(ObjectBase_GetSlot(first, n), "old");
        ObjectBase_Free(first);
        ASSERT_EQ(ObjectBasePool_Count(), 1);

        QZObjectBase* o = ObjectBase_Alloc(row.slots, VALUE_REAL, row.withSlots);
        EXPECT_EQ(o, first);
        EXPECT_EQ(o->slotCount, row.slots);
        EXPECT_EQ(o->defaultKind, static_cast<int32_t>(VALUE_REAL));
        if (row.withSlots) {
            ASSERT_NE(o->slots, nullptr);
            EXPECT_GE(o->slotCapacity, row.slots);
        } else {
            EXPECT_EQ(o->slots, nullptr);
        }
        // Every slot up to the count (and one beyond) is writable memory of its own.
        std::vector<RValue*> seen;
        for (int32_t n = 0; n <= row.slots; ++n) {
            RValue* v = ObjectBase_GetSlot(o, n);
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(RValue_Kind(v), VALUE_REAL) << n;
            if (n < row.slots) {
                EXPECT_EQ(v->real, 0.0) << n;
            }
            RValue_SetString(v, "new");
            for (RValue* s : seen) EXPECT_NE(s, v);
            seen.push_back(v);
        }
        // The one beyond the count is a sparse cell, whatever the object has.
        ASSERT_NE(o->sparse, nullptr);
        EXPECT_NE(o->sparse->Find(row.slots), nullptr);
        ObjectBase_Free(o);
        ObjectBasePool_Clear();
    }
}

TEST_F(ObjectBaseTest, GrowingAPooledArrayForKind5LeavesTheKindWordsAlone)
{
    QZObjectBase* o = ObjectBase_Alloc(2, VALUE_REAL, true);
    ObjectBase_Free(o);
    QZObjectBase* again = ObjectBase_Alloc(4, VALUE_UNDEFINED, true);
    ASSERT_EQ(again, o);
    EXPECT_EQ(again->slotCapacity, 4);
    // The first two were freed (undefined); the grown part is fresh zeroes.
    const uint32_t kinds[] = {VALUE_UNDEFINED, VALUE_UNDEFINED, 0, 0};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(again->slots[i].kind, kinds[i]) << i;
}

TEST_F(ObjectBaseTest, SparseCellsComeFromThePoolAndNegativeOrEmptyMarkKeysHaveNone)
{
    QZObjectBase* o = ObjectBase_Alloc(0, VALUE_UNSET, false);
    RValue* a = ObjectBase_GetSlotDirect(o, 100000);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(RValuePool_Owns(a));
    EXPECT_EQ(a->kind, VALUE_UNSET);
    EXPECT_EQ(ObjectBase_GetSlotDirect(o, 100000), a);
    EXPECT_EQ(ObjectBase_GetSlot(o, -1), nullptr);
    EXPECT_EQ(ObjectBase_GetSlot(o, 0x7FFFFFFF), nullptr);
    const RValuePoolStats stats = RValuePool_Stats();
    EXPECT_EQ(stats.chunks, 1);
    EXPECT_EQ(stats.inUse, 1);
    EXPECT_EQ(stats.free, 65534);
    ObjectBase_Free(o);
    EXPECT_EQ(RValuePool_Stats().inUse, 0);
}

// Accessor objects (and instances) are deleted, never pooled.
TEST_F(ObjectBaseTest, AccessorObjectsAreDeletedNotPooled)
{
    static int destroyed = 0;
    struct CountingObject : QZObjectBase {
        CountingObject() : QZObjectBase(0, VALUE_UNSET) { objectKind = OBJECT_KIND_ACCESSOR; }
        ~CountingObject() override { ++destroyed; }
    };
    auto* o = new CountingObject();
    ObjectTable_Add(o);
    RValue_SetString(ObjectBase_GetSlot(o, 3), "held");
    ObjectBase_Free(o);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(ObjectBasePool_Count(), 0);
}

int32_t ObjectBaseTest_Resolver(QZObjectBase*, const char* name)
{
    static const std::map<std::string, int32_t> slots = {{"[[Extensible]]", 0}, {"p", 1}, {"far", 50}};
    auto it = slots.find(name);
    return it == slots.end() ? -1 : it->second;
}

TEST_F(ObjectBaseTest, SettersStoreTheirKindsAndANonExtensibleObjectIgnoresEveryOne)
{
    ObjectBase_SetSlotResolver(ObjectBaseTest_Resolver);
    QZObjectBase* target = ObjectBase_Alloc(0, VALUE_UNSET, false);
    struct Row {
        const char* name;
        void (*set)(QZObjectBase* o, QZObjectBase* target);
        uint32_t kind;
    };
    static QZObjectBase* s_target = nullptr;
    s_target = target;
    const Row rows[] = {
        {"object", [](QZObjectBase* o, QZObjectBase* t) { ObjectBase_AddObjectProperty(o, "p", t, 7); }, VALUE_OBJECT},
        {"bool", [](QZObjectBase* o, QZObjectBase*) { ObjectBase_AddBoolProperty(o, "p", true, 7); }, VALUE_REAL},
        {"int", [](QZObjectBase* o, QZObjectBase*) { ObjectBase_AddIntProperty(o, "p", -4, 7); }, VALUE_REAL},
        {"real", [](QZObjectBase* o, QZObjectBase*) { ObjectBase_AddRealProperty(o, "p", 2.5, 7); }, VALUE_REAL},
        {"string", [](QZObjectBase* o, QZObjectBase*) { ObjectBase_AddStringProperty(o, "p", "txt", 7); }, VALUE_STRING},
        {"pointer", [](QZObjectBase* o, QZObjectBase*) { ObjectBase_AddPointerProperty(o, "p", &s_target, 7); }, VALUE_PTR},
        {"null", [](QZObjectBase* o, QZObjectBase*) { ObjectBase_AddNullProperty(o, "p", 7); }, VALUE_NULL},
        {"copy",
         [](QZObjectBase* o, QZObjectBase*) {
             RValue v;
             RValue_SetInt64(&v, 1LL << 40);
             ObjectBase_SetProperty(o, "p", &v, 7);
         },
         VALUE_INT64},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QZObjectBase* o = ObjectBase_Alloc(4, VALUE_UNSET, true);
        EXPECT_TRUE(ObjectBase_IsExtensible(o));
        row.set(o, target);
        EXPECT_EQ(RValue_Kind(&o->slots[1]), row.kind);
        EXPECT_EQ(o->slots[1].flags, 7u);

        ObjectBase_AddRealProperty(o, "p", 9.0, 1);
        ObjectBase_AddBoolProperty(o, "[[Extensible]]", false, 0);
        EXPECT_FALSE(ObjectBase_IsExtensible(o));
        row.set(o, target);
        EXPECT_EQ(RValue_Kind(&o->slots[1]), VALUE_REAL);
        EXPECT_EQ(o->slots[1].real, 9.0);
        EXPECT_EQ(o->slots[1].flags, 1u);
        ObjectBase_Free(o);
    }
}

TEST_F(ObjectBaseTest, NamesWithoutASlotHaveNowhereToLiveWithoutANamedList)
{
    ObjectBase_SetSlotResolver(ObjectBaseTest_Resolver);
    QZObjectBase* o = ObjectBase_Alloc(4, VALUE_UNSET, true);
    EXPECT_EQ(ObjectBase_FindOrAddVariable(o, "unknown"), nullptr);
    // A resolved slot beyond this object's slot count is not indexed.
    EXPECT_EQ(ObjectBase_FindOrAddVariable(o, "far"), nullptr);
    ObjectBase_AddRealProperty(o, "far", 1.0, 0);
    ObjectBase_AddRealProperty(o, "unknown", 1.0, 0);
    EXPECT_EQ(o->sparse, nullptr);
    EXPECT_TRUE(ObjectBase_IsExtensible(o));
}

TEST_F(ObjectBaseTest, StringAndArrayPropertiesShareSafely)
{
    ObjectBase_SetSlotResolver(ObjectBaseTest_Resolver);
    QZObjectBase* o = ObjectBase_Alloc(4, VALUE_UNSET, true);
    // A string set from the property's own text.
    ObjectBase_AddStringProperty(o, "p", "first", 0);
    ObjectBase_AddStringProperty(o, "p", o->slots[1].str->text, 0);
    EXPECT_STREQ(o->slots[1].str->text, "first");

    // An array without an owner is owned by the property that takes it; references are counted.
    RValue element;
    RValue_SetReal(&element, 3.0);
    RValue array;
    RValue_SetUndefined(&array);
    RValue_SetWithIndex(&array, &element, 0);
    ASSERT_EQ(RValue_Kind(&array), VALUE_ARRAY);
    array.arr->owner = nullptr;
    ObjectBase_SetProperty(o, "p", &array, 3);
    EXPECT_EQ(o->slots[1].arr, array.arr);
    EXPECT_EQ(array.arr->refCount, 2);
    EXPECT_EQ(array.arr->owner, &o->slots[1]);
    EXPECT_EQ(o->slots[1].flags, 3u);
    // Setting the value onto itself keeps it whole.
    ObjectBase_SetProperty(o, "p", &o->slots[1], 3);
    EXPECT_EQ(array.arr->refCount, 2);
    RValue_Free(&array);
}

// With the script object model on, names without a slot live in the object's named-variable list.
TEST_F(ObjectBaseTest, NamedPropertiesLiveInTheListAndNonExtensibleObjectsRefuseNewOnes)
{
    g_GameData.scriptObjectModel = true;
    QZObjectBase* o = ObjectBase_Alloc(0, VALUE_UNSET, false);
    ASSERT_NE(o->named, nullptr);
    ObjectBase_AddRealProperty(o, "speed", 4.0, 7);
    ObjectBase_AddStringProperty(o, "name", "box", 1);
    ObjectBase_AddRealProperty(o, "speed", 5.0, 3);  // the same node again
    EXPECT_EQ(o->named->Count(), 2);
    RValue* speed = ObjectBase_FindVariable(o, "speed");
    ASSERT_NE(speed, nullptr);
    EXPECT_EQ(speed->real, 5.0);
    EXPECT_EQ(speed->flags, 3u);
    EXPECT_EQ(ObjectBase_FindVariable(o, "Speed"), nullptr);

    // For-in sees every node once.
    VariableIterator it{o->named, -1, nullptr};
    int visited = 0;
    while (VariableIterator_Next(&it)) ++visited;
    EXPECT_EQ(visited, 2);

    ObjectBase_AddBoolProperty(o, "[[Extensible]]", false, 0);
    EXPECT_FALSE(ObjectBase_IsExtensible(o));
    ObjectBase_AddRealProperty(o, "later", 1.0, 7);
    ObjectBase_AddRealProperty(o, "speed", 9.0, 7);
    ObjectBase_AddNullProperty(o, "name", 7);
    EXPECT_EQ(ObjectBase_FindVariable(o, "later"), nullptr);
    EXPECT_EQ(speed->real, 5.0);
    EXPECT_EQ(RValue_Kind(ObjectBase_FindVariable(o, "name")), VALUE_STRING);
    EXPECT_EQ(o->named->Count(), 3);

    // Released and reused, the record comes back with an empty list.
    ObjectBase_Free(o);
    QZObjectBase* again = ObjectBase_Alloc(0, VALUE_UNSET, false);
    ASSERT_EQ(again, o);
    EXPECT_EQ(again->named->Count(), 0);
    EXPECT_TRUE(ObjectBase_IsExtensible(again));
}

// Array helpers for the marking tests: the value becomes (or stays) an array whose element i is v.
void ObjectBaseTest_ArrayPut(RValue* holder, int32_t i, const RValue* v)
{
    RValue copy = *v;
    RValue_SetWithIndex(holder, &copy, i);
}

RValue ObjectBaseTest_ObjectValue(QZObjectBase* o)
{
    RValue v;
    v.v64 = 0;
    v.obj = o;
    v.flags = 0;
    v.kind = VALUE_OBJECT;
    return v;
}

TEST_F(ObjectBaseTest, MarkingEndsOnCyclesAndReachesObjectsHeldOnlyInArrays)
{
    QZObjectBase* a = ObjectBase_Alloc(2, VALUE_UNSET, true);
    QZObjectBase* b = ObjectBase_Alloc(0, VALUE_UNSET, false);  // sparse slots
    QZObjectBase* inArray = ObjectBase_Alloc(1, VALUE_UNSET, true);
    QZObjectBase* deeper = ObjectBase_Alloc(0, VALUE_UNSET, false);
    QZObjectBase* unreachable = ObjectBase_Alloc(1, VALUE_UNSET, true);
    QZObjectBase* accessor = ObjectBase_Alloc(0, VALUE_UNSET, false);
    g_GameData.scriptObjectModel = true;
    QZObjectBase* named = ObjectBase_Alloc(0, VALUE_UNSET, false);
    QZObjectBase* heldByName = ObjectBase_Alloc(0, VALUE_UNSET, false);
    ObjectBase_AddObjectProperty(named, "child", heldByName, 7);
    g_GameData.scriptObjectModel = false;

    // a <-> b through a slot and a sparse cell.
    RValue toB = ObjectBaseTest_ObjectValue(b);
    RValue toA = ObjectBaseTest_ObjectValue(a);
    a->slots[0] = toB;
    *ObjectBase_GetSlot(b, 77) = toA;
    // a.slots[1] = [0, inArray, <itself>], inArray holds [[deeper]] and b holds an accessor.
    RValue zero;
    RValue_SetReal(&zero, 0.0);
    RValue_SetUndefined(&a->slots[1]);
    ObjectBaseTest_ArrayPut(&a->slots[1], 0, &zero);
    RValue toInArray = ObjectBaseTest_ObjectValue(inArray);
    ObjectBaseTest_ArrayPut(&a->slots[1], 1, &toInArray);
    ObjectBaseTest_ArrayPut(&a->slots[1], 2, &a->slots[1]);
    RValue toDeeper = ObjectBaseTest_ObjectValue(deeper);
    RValue inner;
    RValue_SetUndefined(&inner);
    ObjectBaseTest_ArrayPut(&inner, ARRAY_INDEX_STRIDE * 1 + 0, &toDeeper);
    RValue_SetUndefined(&inArray->slots[0]);
    ObjectBaseTest_ArrayPut(&inArray->slots[0], 0, &inner);
    RValue_Free(&inner);
    RValue acc = ObjectBaseTest_ObjectValue(accessor);
    acc.kind = VALUE_ACCESSOR;
    *ObjectBase_GetSlot(b, 5) = acc;
    RValue toNamed = ObjectBaseTest_ObjectValue(named);
    *ObjectBase_GetSlot(deeper, 1) = toNamed;

    g_ObjectBase_CollectionNumber++;
    std::vector<uint8_t> marks(size_t(ObjectTable.capacity), 0);
    ObjectBase_Mark(a, marks.data(), ObjectTable.capacity);
    for (QZObjectBase* o : {a, b, inArray, deeper, accessor, named, heldByName}) {
        EXPECT_EQ(marks[size_t(o->tableIndex)], 1) << o->tableIndex;
        EXPECT_EQ(o->markStamp, g_ObjectBase_CollectionNumber);
    }
    EXPECT_EQ(marks[size_t(unreachable->tableIndex)], 0);
    EXPECT_NE(unreachable->markStamp, g_ObjectBase_CollectionNumber);

    // Within one collection each object is visited once: clearing the marks and marking again sets none.
    std::fill(marks.begin(), marks.end(), 0);
    ObjectBase_Mark(b, marks.data(), ObjectTable.capacity);
    RValue_Mark(&a->slots[1], marks.data(), ObjectTable.capacity);
    for (uint8_t m : marks) EXPECT_EQ(m, 0);

    // A new collection marks again; an index outside the marks length is skipped, not written.
    g_ObjectBase_CollectionNumber++;
    RValue_Mark(&toB, marks.data(), b->tableIndex);
    EXPECT_EQ(marks[size_t(a->tableIndex)], a->tableIndex < b->tableIndex ? 1 : 0);
    EXPECT_EQ(b->markStamp, g_ObjectBase_CollectionNumber);

    // Break the array's reference to itself so that it can be freed.
    ObjectBaseTest_ArrayPut(&a->slots[1], 2, &zero);
}

// The map against std::unordered_map: random inserts, finds, deletes and full iterations, with the
// Robin Hood placement invariant checked after every operation.
TEST(CHashMapTest, AgreesWithUnorderedMapOverRandomOperations)
{
    CHashMap<int64_t> map(8);
    std::unordered_map<int32_t, int64_t> model;
    std::mt19937 rng(20261210);
    auto randomKey = [&]() -> int32_t {
        if (rng() % 20 == 0) return static_cast<int32_t>(rng());
        return static_cast<int32_t>(rng() % 1000);
    };
    for (int op = 0; op < 100000; ++op) {
        const int32_t key = randomKey();
        const uint32_t what = rng() % 100;
        const bool refused = key == -1 || key == 0x7FFFFFFF;
        if (what < 45) {
            const int64_t value = static_cast<int64_t>(rng());
            ASSERT_EQ(map.Insert(key, value), !refused);
            if (!refused) model[key] = value;
        } else if (what < 75) {
            int64_t* found = map.Find(key);
            auto it = model.find(key);
            ASSERT_EQ(found != nullptr, it != model.end()) << key;
            if (found) {
                ASSERT_EQ(*found, it->second);
            }
        } else if (what < 99) {
            ASSERT_EQ(map.Delete(key), model.erase(key) == 1) << key;
        } else {
            std::unordered_map<int32_t, int64_t> seen;
            int32_t slot = -1, k = 0;
            int64_t v = 0;
            int32_t last = -1;
            while (map.Next(&slot, &k, &v)) {
                ASSERT_GT(slot, last);
                last = slot;
                ASSERT_TRUE(seen.emplace(k, v).second);
            }
            ASSERT_EQ(seen, model);
        }
        ASSERT_EQ(map.Count(), static_cast<int32_t>(model.size()));
        ASSERT_TRUE(map.CheckInvariant()) << "after operation " << op;
    }
}

TEST(CHashMapTest, GrowsOnTheEighthNewKeyAndRefusesTheEmptyMarkKeys)
{
    CHashMap<int32_t> map(8);
    EXPECT_EQ(map.GrowThreshold(), 6);
    for (int32_t k = 0; k < 7; ++k) ASSERT_TRUE(map.Insert(k * 8, k));  // one home slot: long probe runs
    EXPECT_EQ(map.Capacity(), 8);
    EXPECT_TRUE(map.Insert(0, 100));  // an existing key: replaced, not counted
    EXPECT_EQ(map.Count(), 7);
    EXPECT_EQ(map.Capacity(), 8);
    EXPECT_FALSE(map.Insert(-1, 1));
    EXPECT_FALSE(map.Insert(0x7FFFFFFF, 1));
    EXPECT_EQ(map.Count(), 7);
    EXPECT_EQ(map.Find(-1), nullptr);
    EXPECT_TRUE(map.Insert(1000, 8));
    EXPECT_EQ(map.Capacity(), 16);
    EXPECT_EQ(map.GrowThreshold(), 12);
    EXPECT_EQ(map.Count(), 8);
    EXPECT_TRUE(map.CheckInvariant());
    EXPECT_EQ(*map.Find(0), 100);
    for (int32_t k = 1; k < 7; ++k) EXPECT_EQ(*map.Find(k * 8), k);
    EXPECT_EQ(*map.Find(1000), 8);
    // INT32_MIN hashes like 0 (the sum wraps): a different key all the same.
    EXPECT_EQ(map.Find(INT32_MIN), nullptr);
    EXPECT_TRUE(map.Insert(INT32_MIN, -5));
    EXPECT_EQ(*map.Find(0), 100);
    EXPECT_EQ(*map.Find(INT32_MIN), -5);
    EXPECT_TRUE(map.Delete(0));
    EXPECT_EQ(map.Find(0), nullptr);
    EXPECT_EQ(*map.Find(INT32_MIN), -5);
    EXPECT_TRUE(map.CheckInvariant());
}

}  // namespace
