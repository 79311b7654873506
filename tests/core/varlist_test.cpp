// The named-variable list: buckets, the three kinds of keys, missing reads, copies, the saved form and
// its damaged inputs, and the node pool.
#include "core/console.h"
#include "core/functions.h"
#include "core/hash.h"
#include "core/memory_manager.h"
#include "core/varlist.h"
#include "core/varnames.h"
#include "ds/buffer.h"
#include "world/loader.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using VarListConsole = kvtest::RecordingConsole;

class VarList : public testing::Test {
protected:
    void SetUp() override
    {
        oldResolver_ = Code_Variable_SetResolver(nullptr);
        Code_Variable_Free();
        savedNew_ = g_GameData.newCodeFormat;
        g_GameData.newCodeFormat = false;
        g_VariableList_UnsetIsError = false;
        oldDebug_ = DebugConsole;
        DebugConsole = &console_;
        VariableNode_FreePool();
        before_ = MemoryManager_Probe().liveBlocks;
    }
    void TearDown() override
    {
        DebugConsole = oldDebug_;
        g_VariableList_UnsetIsError = false;
        Code_Variable_Free();
        VariableNode_FreePool();
        EXPECT_EQ(MemoryManager_Probe().liveBlocks, before_) << "blocks left behind";
        g_GameData.newCodeFormat = savedNew_;
        Code_Variable_SetResolver(oldResolver_);
    }

    static RValue Real(double d)
    {
        RValue v;
        RValue_SetReal(&v, d);
        return v;
    }
    static double ReadReal(CVariableList& list, int32_t id)
    {
        RValue out = Real(-1);
        EXPECT_TRUE(list.GetVar(id, ARRAY_INDEX_NONE, &out)) << id;
        EXPECT_EQ(RValue_Kind(&out), VALUE_REAL) << id;
        double d = out.real;
        RValue_Free(&out);
        return d;
    }
    static void SetReal(CVariableList& list, int32_t id, double d)
    {
        RValue v = Real(d);
        list.SetVar(id, ARRAY_INDEX_NONE, &v);
    }

    VarListConsole console_;
    tagIConsole* oldDebug_ = nullptr;
    bool savedNew_ = false;
    size_t before_ = 0;
    const CodeVariableResolver* oldResolver_ = nullptr;
};

TEST_F(VarList, IdsOfOneBucketStayReachableWhenEitherIsRemoved)
{
    for (int32_t removed : {5, 69}) {
        CVariableList list;
        SetReal(list, 5, 1.5);
        SetReal(list, 69, 2.5);
        EXPECT_EQ(list.Count(), 2);
        EXPECT_EQ(list.Bucket(5), list.Find(69));  // the newer one at the front of bucket 5
        EXPECT_EQ(list.Bucket(5)->next, list.Find(5));
        list.Remove(list.Find(removed));
        int32_t kept = removed == 5 ? 69 : 5;
        EXPECT_EQ(list.Count(), 1) << removed;
        EXPECT_FALSE(list.Exists(removed));
        ASSERT_TRUE(list.Exists(kept)) << removed;
        EXPECT_EQ(ReadReal(list, kept), kept == 5 ? 1.5 : 2.5);
    }
}

TEST_F(VarList, RemovingANodeOfAnotherListChangesNothing)
{
    CVariableList a, b;
    SetReal(a, 5, 1);
    SetReal(b, 5, 2);
    a.Remove(b.Find(5));
    EXPECT_EQ(a.Count(), 1);
    EXPECT_EQ(b.Count(), 1);
    EXPECT_EQ(ReadReal(b, 5), 2);
    a.Remove(nullptr);
    EXPECT_EQ(a.Count(), 1);
}

TEST_F(VarList, OnlyIdKeyedNodesAnswerAnId)
{
    CVariableList list;
    // A value key of kind int64 5 lies in bucket 5 with 5 in its first payload word.
    RValue key;
    RValue_SetInt64(&key, 5);
    list.Add(CVariableList::NewValueNode(&key));
    VariableNode* named = CVariableList::NewNamedNode("speed");
    list.Add(named);
    EXPECT_EQ(list.Find(5), nullptr);
    EXPECT_EQ(list.Find(named->hash), nullptr);
    EXPECT_EQ(list.Find(named->key.v32), nullptr);
    EXPECT_NE(list.FindValueKey(&key), nullptr);
    // Negative ids hash into a bucket like any other.
    SetReal(list, -7, 3);
    EXPECT_EQ(ReadReal(list, -7), 3);
    EXPECT_EQ(list.Count(), 3);
}

TEST_F(VarList, MissingIdReadsZeroOrTheUnsetMark)
{
    struct Row {
        bool unsetIsError;
        double value;
        bool answer;
    };
    for (const Row& r : {Row{false, 0.0, true}, Row{true, 12345678.9, false}}) {
        CVariableList list;
        SetReal(list, 100003, 4);
        g_VariableList_UnsetIsError = r.unsetIsError;
        ArrayIndexError.flag = true;
        Variable_NoInstance = true;
        RValue out;
        RValue_SetUndefined(&out);
        RValue_SetString(&out, "old content");
        EXPECT_EQ(list.GetVar(100004, ARRAY_INDEX_NONE, &out), r.answer);
        EXPECT_EQ(RValue_Kind(&out), VALUE_REAL);
        EXPECT_EQ(out.real, r.value);
        EXPECT_FALSE(ArrayIndexError.flag);
        EXPECT_FALSE(Variable_NoInstance);
        // A present id answers whatever the option.
        EXPECT_TRUE(list.GetVar(100003, ARRAY_INDEX_NONE, &out));
        EXPECT_EQ(out.real, 4);
    }
}

TEST_F(VarList, IndexedAccessGoesThroughTheArrayRules)
{
    CVariableList list;
    RValue seven = Real(7);
    list.SetVar(100001, 2, &seven);  // element [0][2] makes an array
    RValue out;
    RValue_SetUndefined(&out);
    EXPECT_TRUE(list.GetVar(100001, 2, &out));
    EXPECT_EQ(out.real, 7);
    EXPECT_FALSE(list.GetVar(100001, 40, &out));  // outside the row
    EXPECT_TRUE(ArrayIndexError.flag);
    RValue_Free(&out);
}

TEST_F(VarList, NamesMatchExactly)
{
    CVariableList list;
    VariableNode* speed = CVariableList::NewNamedNode("speed");
    list.Add(speed);
    list.Add(CVariableList::NewNamedNode("Speed"));
    EXPECT_EQ(list.FindByName("speed"), speed);
    EXPECT_NE(list.FindByName("Speed"), speed);
    EXPECT_NE(list.FindByName("Speed"), nullptr);
    EXPECT_EQ(list.FindByName("SPEED"), nullptr);
    EXPECT_EQ(list.FindByName("spee"), nullptr);
    EXPECT_EQ(speed->hash, int32_t(CRC32_String("speed")));
}

TEST_F(VarList, ValueKeysMatchWithinTheEpsilon)
{
    ASSERT_EQ(Math_Epsilon, 1e-10);
    CVariableList list;
    RValue one = Real(1.0), text;
    RValue_SetString(&text, "one");
    VariableNode* byReal = CVariableList::NewValueNode(&one);
    VariableNode* byText = CVariableList::NewValueNode(&text);
    list.Add(byReal);
    list.Add(byText);
    struct Row {
        double probe;
        bool found;
    };
    for (const Row& r : {Row{1.0, true}, Row{1.0 + 5e-11, true}, Row{1.0 + 1e-9, false}, Row{1.5, false}}) {
        RValue probe = Real(r.probe);
        EXPECT_EQ(list.FindValueKey(&probe), r.found ? byReal : nullptr) << r.probe;
    }
    RValue probeText;
    RValue_SetString(&probeText, "one");
    EXPECT_EQ(list.FindValueKey(&probeText), byText);
    EXPECT_EQ(text.str->refCount, 2);  // the node holds its own reference
    RValue_Free(&probeText);
    RValue_Free(&text);
}

TEST_F(VarList, AssignCopiesEveryNodeWithReferencesTaken)
{
    CVariableList source;
    RValue text;
    RValue_SetString(&text, "shared");
    source.SetVar(100000, ARRAY_INDEX_NONE, &text);
    SetReal(source, 100064, 9);
    EXPECT_EQ(text.str->refCount, 2);
    {
        CVariableList copy;
        SetReal(copy, 100099, 1);  // replaced by the assignment
        copy.Assign(&source);
        EXPECT_EQ(text.str->refCount, 3);
        EXPECT_EQ(copy.Count(), 2);
        EXPECT_FALSE(copy.Exists(100099));
        EXPECT_EQ(ReadReal(copy, 100064), 9);
        RValue out;
        RValue_SetUndefined(&out);
        copy.GetVar(100000, ARRAY_INDEX_NONE, &out);
        EXPECT_STREQ(out.str->text, "shared");
        RValue_Free(&out);
        copy.Assign(&copy);  // itself: kept
        EXPECT_EQ(copy.Count(), 2);
    }
    EXPECT_EQ(text.str->refCount, 2);
    source.Clear();
    EXPECT_EQ(text.str->refCount, 1);
    EXPECT_EQ(source.Count(), 0);
    RValue_Free(&text);
}

TEST_F(VarList, InitKeyFillsAFreshNode)
{
    RValue key, value;
    RValue_SetString(&key, "k");
    RValue_SetString(&value, "v");
    VariableNode node;
    node.InitKeyValue(&key, &value);
    EXPECT_EQ(node.hash, int32_t(CRC32_String("k")));
    EXPECT_EQ(key.str->refCount, 2);
    EXPECT_EQ(value.str->refCount, 2);
    EXPECT_EQ(node.next, nullptr);
    RValue_Free(&node.key);
    RValue_Free(&node.value);
    node.InitKey(&key);
    EXPECT_EQ(RValue_Kind(&node.value), VALUE_REAL);
    RValue_Free(&node.key);
    RValue_Free(&key);
    RValue_Free(&value);
}

TEST_F(VarList, SavedListLoadsIntoAGameLackingOneName)
{
    int32_t a = Code_Variable_Add("alpha"), b = Code_Variable_Add("beta"), c = Code_Variable_Add("gamma");
    Buffer_Standard buffer(16, buffer_grow, 1);
    {
        CVariableList list;
        SetReal(list, a, 1);
        RValue text;
        RValue_SetString(&text, "two");
        list.SetVar(b, ARRAY_INDEX_NONE, &text);
        RValue_Free(&text);
        SetReal(list, c, 3);
        list.Serialise(&buffer);
    }
    // Another game: gamma and alpha under other ids, no beta.
    Code_Variable_Free();
    int32_t c2 = Code_Variable_Add("gamma"), a2 = Code_Variable_Add("alpha");
    buffer.Seek(buffer_seek_start, 0);
    CVariableList loaded;
    SetReal(loaded, a2, 99);  // cleared first
    EXPECT_TRUE(loaded.Deserialise(&buffer));
    EXPECT_EQ(loaded.Count(), 2);
    EXPECT_EQ(ReadReal(loaded, a2), 1);
    EXPECT_EQ(ReadReal(loaded, c2), 3);
    EXPECT_EQ(console_.text, "WARNING: Load game failed to find variable \"beta\"\n");
    // The whole saved list was read: what follows it is next.
    EXPECT_EQ(buffer.GetPosition(), buffer.GetUsedSize());
}

TEST_F(VarList, SavedFormIsCountThenBucketsInOrder)
{
    int32_t first = Code_Variable_Add("p");  // 100000: bucket 32
    int32_t second = Code_Variable_Add("q");  // 100001: bucket 33
    CVariableList list;
    SetReal(list, second, 2);
    SetReal(list, first, 1);
    Buffer_Standard buffer(16, buffer_grow, 1);
    list.Serialise(&buffer);
    std::vector<uint8_t> expected;
    auto put = [&](const void* p, size_t n) {
        expected.insert(expected.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    };
    int32_t count = 2, kind = VALUE_REAL;
    double one = 1, two = 2;
    put(&count, 4);
    put("p", 2), put(&kind, 4), put(&one, 8);
    put("q", 2), put(&kind, 4), put(&two, 8);
    ASSERT_EQ(buffer.GetUsedSize(), int32_t(expected.size()));
    EXPECT_EQ(std::memcmp(buffer.GetData(), expected.data(), expected.size()), 0);
}

TEST_F(VarList, NewFormatSavesLoadThroughTheInstanceTable)
{
    g_GameData.newCodeFormat = true;
    Code_Variable_Init(0, 3, 0);
    Code_Variable_SetName("hp", -1, 2);
    Buffer_Standard buffer(16, buffer_grow, 1);
    {
        CVariableList list;
        SetReal(list, 100002, 42);
        list.Serialise(&buffer);
    }
    buffer.Seek(buffer_seek_start, 0);
    CVariableList loaded;
    EXPECT_TRUE(loaded.Deserialise(&buffer));
    EXPECT_EQ(ReadReal(loaded, 100002), 42);
    EXPECT_EQ(console_.text, "");
    // A name the shared table holds (id 100,000 there) would land in instance slot 0 here: not taken.
    Code_Variable_Add("runtime_name");
    Buffer_Standard other(16, buffer_grow, 1);
    RValue count = Real(1), value = Real(5);
    other.Write(buffer_s32, &count);
    other.WriteString("runtime_name");
    RValue_Serialise(&value, &other);
    other.Seek(buffer_seek_start, 0);
    EXPECT_TRUE(loaded.Deserialise(&other));
    EXPECT_EQ(loaded.Count(), 0);
    EXPECT_EQ(console_.text, "WARNING: Load game failed to find variable \"runtime_name\"\n");
}

TEST_F(VarList, DamagedSavesStopCleanly)
{
    int32_t a = Code_Variable_Add("a");
    auto s32 = [](std::vector<uint8_t>& out, int32_t v) {
        out.insert(out.end(), reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + 4);
    };
    auto real = [&](std::vector<uint8_t>& out, double d) {
        s32(out, VALUE_REAL);
        out.insert(out.end(), reinterpret_cast<uint8_t*>(&d), reinterpret_cast<uint8_t*>(&d) + 8);
    };
    auto entry = [&](std::vector<uint8_t>& out, const char* name, double d) {
        out.insert(out.end(), name, name + std::strlen(name) + 1);
        real(out, d);
    };
    struct Row {
        const char* what;
        std::vector<uint8_t> bytes;
        bool ok;
        int32_t count;  // entries kept
    };
    std::vector<Row> rows;
    {
        std::vector<uint8_t> b;
        rows.push_back({"empty", b, false, 0});
        s32(b, 0);
        rows.push_back({"no entries", b, true, 0});
    }
    {
        std::vector<uint8_t> b;
        s32(b, -1);
        entry(b, "a", 1);
        rows.push_back({"negative count", b, false, 0});
    }
    {
        std::vector<uint8_t> b;
        s32(b, 0x7FFFFFFF);
        entry(b, "a", 1);
        rows.push_back({"count past the data", b, false, 1});
    }
    {
        std::vector<uint8_t> b;
        s32(b, 2);
        entry(b, "a", 1);
        b.insert(b.end(), {'a', 0, 0, 0});  // a kind word cut short
        rows.push_back({"value cut short", b, false, 1});
    }
    {
        std::vector<uint8_t> b;
        s32(b, 2);
        entry(b, "zz", 1);
        b.insert(b.end(), {'z', 'z', 0});
        s32(b, VALUE_REAL);
        rows.push_back({"skipped value cut short", b, false, 0});
    }
    {
        std::vector<uint8_t> b;
        s32(b, 2);
        entry(b, "a", 1);
        b.insert(b.end(), {'a', 'a', 'a'});  // a name without its NUL
        rows.push_back({"name cut short", b, false, 1});
    }
    {
        std::vector<uint8_t> b;
        s32(b, 2);
        entry(b, "a", 1);
        entry(b, "a", 2);
        rows.push_back({"one name twice: the last value", b, true, 1});
    }
    for (const Row& r : rows) {
        std::vector<uint8_t> bytes = r.bytes;
        Buffer_Standard buffer(bytes.empty() ? nullptr : bytes.data(), int32_t(bytes.size()), buffer_fixed, 1, false);
        CVariableList list;
        EXPECT_EQ(list.Deserialise(&buffer), r.ok) << r.what;
        EXPECT_EQ(list.Count(), r.count) << r.what;
        if (r.count) {
            EXPECT_EQ(ReadReal(list, a), std::string(r.what).find("twice") != std::string::npos ? 2 : 1);
        }
    }
    // A wrapping buffer never runs out: the count is capped by its size all the same.
    std::vector<uint8_t> bytes;
    s32(bytes, 1000000);
    entry(bytes, "a", 1);
    Buffer_Standard wrap(bytes.data(), int32_t(bytes.size()), buffer_wrap, 1, false);
    CVariableList list;
    list.Deserialise(&wrap);
    EXPECT_LE(list.Count(), 1);
}

TEST_F(VarList, SetAndRemoveCyclesAllocateNothingOnceWarm)
{
    CVariableList list;
    for (int32_t id = 100000; id < 100200; ++id) SetReal(list, id, id);
    for (int32_t id = 100000; id < 100200; ++id) list.Remove(list.Find(id));
    EXPECT_EQ(list.Count(), 0);
    EXPECT_GE(VariableNode_PoolSize(), 200);
    size_t blocks = MemoryManager_Probe().liveBlocks;
    for (int32_t cycle = 0; cycle < 1000; ++cycle) {
        int32_t id = 100000 + (cycle * 37) % 200;
        SetReal(list, id, cycle);
        SetReal(list, id + 64, cycle);
        ASSERT_EQ(MemoryManager_Probe().liveBlocks, blocks) << "cycle " << cycle;
        list.Remove(list.Find(id));
        list.Remove(list.Find(id + 64));
        ASSERT_EQ(MemoryManager_Probe().liveBlocks, blocks) << "cycle " << cycle;
    }
    // A list object of its own, created and destroyed, gives its nodes back to the pool.
    auto* owned = new CVariableList;
    SetReal(*owned, 100001, 1);
    delete owned;
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, blocks);
}

}  // namespace
