#include "core/functions.h"

#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "world/loader.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

void FunctionsTest_Noop(RValue*, CInstance*, CInstance*, int32_t, RValue*) {}
void FunctionsTest_Other(RValue*, CInstance*, CInstance*, int32_t, RValue*) {}

std::map<std::string, int32_t> g_functionsTestScripts;
std::map<std::string, int32_t> g_functionsTestExtensions;

int32_t FunctionsTest_FindIn(const std::map<std::string, int32_t>& table, const char* name)
{
    auto it = table.find(name);
    return it == table.end() ? -1 : it->second;
}
int32_t FunctionsTest_FindScript(const char* name) { return FunctionsTest_FindIn(g_functionsTestScripts, name); }
int32_t FunctionsTest_FindExtension(const char* name)
{
    return FunctionsTest_FindIn(g_functionsTestExtensions, name);
}

class Functions : public testing::Test {
protected:
    void SetUp() override
    {
        Function_Free();
        baseline_ = MemoryManager_Probe();
        g_functionsTestScripts.clear();
        g_functionsTestExtensions.clear();
        Function_SetFinders(FunctionsTest_FindScript, FunctionsTest_FindExtension);
        g_GameData.link = nullptr;
    }
    void TearDown() override
    {
        Function_SetFinders(nullptr, nullptr);
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
    g_functionsTestScripts["instance_create"] = 4;  // a script hides the built-in of its name
    g_functionsTestScripts["scr_move"] = 0;
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

TEST_F(Functions, WithoutFindersScriptsAndExtensionsAnswerNothing)
{
    Function_SetFinders(nullptr, nullptr);
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
