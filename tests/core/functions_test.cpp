#include "core/functions.h"

#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "core/script.h"
#include "world/loader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

void FunctionsTest_Noop(RValue*, CInstance*, CInstance*, int32_t, RValue*) {}
void FunctionsTest_Other(RValue*, CInstance*, CInstance*, int32_t, RValue*) {}

std::map<std::string, int32_t> g_functionsTestExtensions;

int32_t FunctionsTest_FindExtension(const char* name)
{
    auto it = g_functionsTestExtensions.find(name);
    return it == g_functionsTestExtensions.end() ? -1 : it->second;
}

// Game data holding only a SCPT chunk with one script per name ("" leaves the slot empty), loaded into
// the real script table. The data stays loaded until the test ends: the scripts point into it.
std::vector<uint8_t> g_functionsTestData;

void FunctionsTest_LoadScripts(const std::vector<std::string>& names)
{
    std::vector<uint8_t>& d = g_functionsTestData;
    d.assign(20, 0);  // the FORM and SCPT headers, the count
    auto put = [&](uint32_t at, uint32_t v) { std::memcpy(&d[at], &v, 4); };
    const uint32_t count = uint32_t(names.size());
    const uint32_t entries = 20 + 4 * count;
    d.resize(entries + 8 * count, 0);
    for (uint32_t i = 0; i < count; ++i) {
        if (names[i].empty()) continue;
        const uint32_t text = uint32_t(d.size()) + 4;
        d.resize(text + names[i].size() + 1, 0);
        put(text - 4, uint32_t(names[i].size()));
        std::memcpy(&d[text], names[i].data(), names[i].size());
        put(20 + 4 * i, entries + 8 * i);
        put(entries + 8 * i, text);
        put(entries + 8 * i + 4, i);  // code entry i
    }
    std::memcpy(&d[0], "FORM", 4);
    put(4, uint32_t(d.size()) - 8);
    std::memcpy(&d[8], "SCPT", 4);
    put(12, uint32_t(d.size()) - 16);
    put(16, count);
    g_GameData.data = d.data();
    g_GameData.length = uint32_t(d.size());
    g_GameData.hasBytecode = true;
    g_GameData.codeCount = count;
    ASSERT_TRUE(Script_Load(&d[16], uint32_t(d.size()) - 16, d.data())) << g_GameData.damage;
}

class Functions : public testing::Test {
protected:
    void SetUp() override
    {
        Function_Free();
        baseline_ = MemoryManager_Probe();
        g_functionsTestExtensions.clear();
        Function_SetExtensionFinder(FunctionsTest_FindExtension);
        g_GameData.link = nullptr;
    }
    void TearDown() override
    {
        Function_SetExtensionFinder(nullptr);
        Script_Free();
        g_GameData.data = nullptr;
        g_GameData.length = 0;
        g_GameData.hasBytecode = false;
        g_GameData.codeCount = 0;
        g_GameData.link = nullptr;
        Function_Free();
        EXPECT_EQ(MemoryManager_Probe().liveBlocks, baseline_.liveBlocks);
        EXPECT_EQ(MemoryManager_Probe().heapBytesInUse, baseline_.heapBytesInUse);
    }
    MemoryProbe baseline_{};
};

TEST_F(Functions, CapacityGrowsBy500AndKeepsEveryEntry)
{
    for (int32_t i = 0; i < 500; ++i) {
        std::string name = "f" + std::to_string(i);
        EXPECT_EQ(Function_Add(name.c_str(), FunctionsTest_Noop, i % 3 - 1, i % 2 == 1), i + 1);
    }
    EXPECT_EQ(Function_Capacity(), 500);
    EXPECT_EQ(Function_Add("f500", FunctionsTest_Other, 2, true), 501);
    EXPECT_EQ(Function_Capacity(), 1000);
    for (int32_t i : {0, 1, 250, 499, 500}) {
        const BuiltinFunction* e = Function_Entry(i);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(std::string(e->name), "f" + std::to_string(i));
        EXPECT_EQ(e->reserved, -1);
        int32_t id = -2;
        EXPECT_TRUE(Code_Function_Find(e->name, &id));
        EXPECT_EQ(id, i);
    }
    EXPECT_EQ(Function_Entry(501), nullptr);
    Function_Free();
    EXPECT_EQ(Function_Count(), 0);
    EXPECT_EQ(Function_Capacity(), 0);
}

// Each growth moves the table into a new block: a fixed step would make filling the built-in id range
// (100,000 entries) cost the square of the count, so past the first block every growth is by a factor.
TEST_F(Functions, TheTableGrowsByAFactorAndKeepsEveryEntry)
{
    int32_t growths = 0;
    int32_t capacity = Function_Capacity();
    for (int32_t i = 0; i < 20000; ++i) {
        Function_Add(("g" + std::to_string(i)).c_str(), FunctionsTest_Noop, -1, false);
        if (Function_Capacity() == capacity) continue;
        ++growths;
        if (capacity >= 500) {
            EXPECT_GE(Function_Capacity(), capacity + capacity / 2) << "growth from " << capacity;
        }
        capacity = Function_Capacity();
    }
    EXPECT_GE(capacity, Function_Count());
    EXPECT_LE(growths, 7);
    for (int32_t i : {0, 499, 500, 999, 1000, 19999}) {
        int32_t id = -2;
        EXPECT_TRUE(Code_Function_Find(("g" + std::to_string(i)).c_str(), &id));
        EXPECT_EQ(id, i);
    }
}

TEST_F(Functions, LongNamesAreCutTo63Bytes)
{
    std::string longName(80, 'n');
    Function_Add(longName.c_str(), FunctionsTest_Noop, 0, false);
    EXPECT_EQ(std::string(Function_Entry(0)->name), longName.substr(0, 63));
}

TEST_F(Functions, ResolutionOrder)
{
    Function_Add("instance_create", FunctionsTest_Noop, 3, false);  // 0
    Function_Add("show", FunctionsTest_Noop, 1, false);             // 1
    Function_Add("script_execute", FunctionsTest_Noop, -1, false);  // 2
    Function_Add("show", FunctionsTest_Other, 1, false);            // 3: never reached by name
    Function_Add("ext_fn", FunctionsTest_Noop, 1, false);           // 4
    // A script hides the built-in of its name; the last slot of a name is the script.
    FunctionsTest_LoadScripts({"scr_move", "instance_create", "", "", "instance_create"});
    g_functionsTestExtensions["ext_fn"] = 7;  // an extension hides it too
    g_functionsTestExtensions["ext_only"] = 0;

    GameLinkCode compiled[] = {{"ksl_Object_x_Create_0", nullptr}, {nullptr, nullptr}};
    GameLinkData withCode{};
    withCode.codeTable = compiled;
    withCode.codeEntryCount = 1;
    GameLinkData empty{};

    struct Row {
        const char* name;
        GameLinkData* link;
        bool found;
        int32_t id;
    };
    const Row rows[] = {
        {nullptr, nullptr, false, -1},
        {"", nullptr, false, -1},
        {"nothing", nullptr, false, -1},
        {"Show", nullptr, false, -1},  // byte comparison
        {"show", nullptr, true, 1},    // the first of two entries
        {"instance_create", nullptr, true, 100004},
        {"scr_move", nullptr, true, 100000},
        {"ext_fn", nullptr, true, 500007},
        {"ext_only", nullptr, true, 500000},
        {"script_execute", nullptr, true, 499999},  // no link record: bytecode
        {"script_execute", &empty, true, 499999},   // kelvane's empty link record
        {"script_execute", &withCode, true, 2},     // compiled code: the built-in
    };
    for (const Row& row : rows) {
        g_GameData.link = row.link;
        int32_t id = 12345;
        EXPECT_EQ(Code_Function_Find(row.name, &id), row.found) << (row.name ? row.name : "(null)");
        EXPECT_EQ(id, row.id) << (row.name ? row.name : "(null)");
        EXPECT_EQ(Code_Function_Find(row.name), row.id);
    }
}

TEST_F(Functions, WithoutScriptsOrExtensionPackagesOnlyBuiltinsAnswer)
{
    Function_SetExtensionFinder(nullptr);
    Function_Add("alpha", FunctionsTest_Noop, 0, false);
    EXPECT_EQ(Code_Function_Find("alpha"), 0);
    EXPECT_EQ(Code_Function_Find("beta"), -1);
}

TEST_F(Functions, ReplaceTouchesTheFirstEntryOnly)
{
    Function_Add("grid_get", FunctionsTest_Noop, 3, false);
    Function_Add("grid_get", FunctionsTest_Noop, 3, false);
    EXPECT_TRUE(Function_Replace("grid_get", FunctionsTest_Other));
    EXPECT_EQ(Function_Entry(0)->handler, FunctionsTest_Other);
    EXPECT_EQ(Function_Entry(1)->handler, FunctionsTest_Noop);
    EXPECT_FALSE(Function_Replace("grid_set", FunctionsTest_Other));
    EXPECT_FALSE(Function_Replace(nullptr, FunctionsTest_Other));
}

TEST_F(Functions, GetInfoInsideAndOutsideTheTable)
{
    Function_Add("a", FunctionsTest_Noop, -1, true);
    Function_Add("b", FunctionsTest_Other, 4, false);
    const char* name = "untouched";
    TRoutine handler = FunctionsTest_Noop;
    int32_t count = 99;
    bool flag = false;
    ASSERT_TRUE(Function_GetInfo(0, &name, &handler, &count, &flag));
    EXPECT_STREQ(name, "a");
    EXPECT_EQ(count, -1);
    EXPECT_TRUE(flag);
    ASSERT_TRUE(Function_GetInfo(1, &name, &handler, &count, &flag));
    EXPECT_EQ(handler, FunctionsTest_Other);
    EXPECT_EQ(count, 4);
    EXPECT_FALSE(flag);
    for (int32_t index : {-1, 2, 100000}) {
        const char* n = "untouched";
        TRoutine h = nullptr;
        int32_t c = 99;
        bool f = true;
        EXPECT_FALSE(Function_GetInfo(index, &n, &h, &c, &f));
        EXPECT_STREQ(n, "untouched");
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(c, 99);
        EXPECT_TRUE(f);
    }
}

TEST_F(Functions, CurrentNamesTheEntryAndEpsilonIsSmall)
{
    Function_Add("draw_text", FunctionsTest_Noop, 3, false);
    Function_Current = Function_Entry(0);
    EXPECT_STREQ(Function_Name(Function_Current), "draw_text");
    Function_Current = nullptr;
    EXPECT_EQ(Function_Name(nullptr), nullptr);
    EXPECT_EQ(Math_Epsilon, 1e-10);
}

}  // namespace
