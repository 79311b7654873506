// Variable names: the shared table, the tables new-format data numbers itself, local names of code
// entries, and the names ids print as from every scope.
#include "core/console.h"
#include "core/memory_manager.h"
#include "core/varnames.h"
#include "py_oracle.h"
#include "test_support.h"
#include "world/loader.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using VarNamesConsole = kvtest::RecordingConsole;

class VarNames : public testing::Test {
protected:
    void SetUp() override
    {
        oldResolver_ = Code_Variable_SetResolver(nullptr);
        Code_Variable_Free();
        saved_ = g_GameData;
        g_GameData.newCodeFormat = false;
        g_GameData.damaged = false;
        oldDebug_ = DebugConsole;
        DebugConsole = &console_;
        before_ = MemoryManager_Probe().liveBlocks;
    }
    void TearDown() override
    {
        Code_Variable_Free();
        EXPECT_EQ(MemoryManager_Probe().liveBlocks, before_) << "the tables leave blocks behind";
        g_GameData = saved_;
        DebugConsole = oldDebug_;
        Code_Variable_SetResolver(oldResolver_);
    }

    // The local names of a formkit container: scope -7 names after loading its FUNC chunk's block.
    std::vector<uint8_t> LoadFormkitLocals()
    {
        std::string dir = kvtest_py::Generate("tests/core/gen_local_names.py", "");
        std::string bytes = kvtest::ReadFile(dir + "locals.win");
        std::vector<uint8_t> data(bytes.begin(), bytes.end());
        for (uint32_t at = 8; at + 8 <= data.size();) {
            uint32_t size = 0, count = 0;
            std::memcpy(&size, &data[at + 4], 4);
            if (std::memcmp(&data[at], "FUNC", 4) == 0) {
                std::memcpy(&count, &data[at + 8], 4);
                uint32_t block = at + 8 + 4 + count * 12;
                EXPECT_TRUE(Code_Variable_ReadLocalNames(data.data() + block, at + 8 + size - block, data.data(),
                                                         uint32_t(data.size())));
                return data;
            }
            at += 8 + size;
        }
        ADD_FAILURE() << "no FUNC chunk";
        return data;
    }

    VarNamesConsole console_;
    tagIConsole* oldDebug_ = nullptr;
    GameDataInfo saved_{};
    size_t before_ = 0;
    const CodeVariableResolver* oldResolver_ = nullptr;
};

TEST_F(VarNames, SharedTableGivesOneIdPerName)
{
    int32_t a = Code_Variable_Add("alpha");
    int32_t b = Code_Variable_Add("beta");
    EXPECT_EQ(a, 100000);
    EXPECT_EQ(b, 100001);
    EXPECT_EQ(Code_Variable_Add("alpha"), a);
    EXPECT_EQ(Code_Variable_Find("beta"), b);
    EXPECT_EQ(Code_Variable_Find("Beta"), -1);  // byte for byte
    EXPECT_EQ(Code_Variable_Find("gamma"), -1);
    EXPECT_EQ(Code_Variable_FindAlloc("beta"), b);
    EXPECT_EQ(Code_Variable_FindAlloc("gamma"), 100002);
}

TEST_F(VarNames, FindAllocGivesTheBuiltInIndexBeforeAnyId)
{
    // A built-in variable's name never enters the shared table; other names do.
    for (const char* name : {"x", "score", "not_a_builtin_name"}) {
        int32_t builtin = Variable_BuiltIn_Find(name);
        int32_t id = Code_Variable_FindAlloc(name);
        if (builtin >= 0) {
            EXPECT_EQ(id, builtin) << name;
            EXPECT_LT(id, 100000) << name;
            EXPECT_EQ(Code_Variable_Find(name), -1) << name;
        } else {
            EXPECT_GE(id, 100000) << name;
            EXPECT_EQ(Code_Variable_Find(name), id) << name;
        }
    }
}

TEST_F(VarNames, SetNameStoresByScopeAndIndex)
{
    g_GameData.newCodeFormat = true;
    Code_Variable_Init(3, 2, 9);
    struct Row {
        const char* name;
        int32_t scope;
        int32_t index;
        int32_t id;                // result
        int32_t readScope;         // where the name is then read back
        const char* readBack;      // the name at index + 100,000 of that scope afterwards
    };
    const Row rows[] = {
        {"g1", -5, 1, 100001, -5, "g1"},
        {"i0", -1, 0, 100000, -1, "i0"},
        {"i1", -1, 1, 100001, -1, "i1"},
        {"late", -1, 2, 100002, -1, "<unknown variable>"},  // outside the instance table: nothing stored
        {"far", -5, 1000, 101000, -5, "<unknown variable>"},
        {"neg", -5, -1, 99999, -5, "<unknown variable>"},
        {"other", -2, 0, 100000, -5, "<unknown variable>"},  // a scope without a table stores nothing
    };
    for (const Row& r : rows) {
        EXPECT_EQ(Code_Variable_SetName(r.name, r.scope, r.index), r.id) << r.name;
        EXPECT_STREQ(Code_Variable_GetName(nullptr, r.readScope, r.index + 100000), r.readBack) << r.name;
    }
    // An index too large to make an id cannot be bound (the loader then reports the name).
    EXPECT_EQ(Code_Variable_SetName("huge", -1, INT32_MAX - 99999), -1);
    EXPECT_EQ(Code_Variable_SetName("edge", -1, INT32_MAX - 100000), INT32_MAX);
    // Scope -6 answers the built-in index and stores nothing.
    EXPECT_EQ(Code_Variable_SetName("x", -6, -6), Variable_BuiltIn_Find("x"));
    EXPECT_STREQ(Code_Variable_GetName(nullptr, -5, 100000), "<unknown variable>");
    EXPECT_EQ(Code_Variable_FindGlobal("x"), -1);
    EXPECT_EQ(Code_Variable_FindInstance("x"), -1);
    // A later entry of the same index replaces the name.
    Code_Variable_SetName("g1b", -5, 1);
    EXPECT_STREQ(Code_Variable_GetName(nullptr, -5, 100001), "g1b");
}

TEST_F(VarNames, GetNameOverEveryScopeForBothFormats)
{
    // Old format: the shared table whatever the scope.
    Code_Variable_Add("s0");
    Code_Variable_Add("s1");
    // New format: global and instance tables and the formkit container's local names.
    Code_Variable_Init(2, 3, 0);
    Code_Variable_SetName("g0", -5, 0);
    Code_Variable_SetName("g1", -5, 1);
    Code_Variable_SetName("i0", -1, 0);
    Code_Variable_SetName("i1", -1, 1);
    LoadFormkitLocals();

    struct Row {
        bool newFormat;
        const char* code;
        int32_t scope;
        int32_t id;
        const char* name;
    };
    const char* unknown = "<unknown variable>";
    const Row rows[] = {
        {false, nullptr, -1, 100000, "s0"},
        {false, nullptr, -5, 100001, "s1"},
        {false, "ksl_Script_a", -7, 100001, "s1"},
        {false, nullptr, 0, 100001, "s1"},
        {false, nullptr, -1, 100002, unknown},
        {false, nullptr, -1, 99999, unknown},
        {false, nullptr, -1, 3, unknown},
        {true, nullptr, -5, 99999, unknown},
        {true, nullptr, -5, 100000, "g0"},
        {true, nullptr, -5, 100001, "g1"},
        {true, nullptr, -5, 100002, unknown},
        {true, "ksl_Script_a", -7, 100000, "i"},
        {true, "ksl_Script_a", -7, 100001, "j"},
        {true, "ksl_Script_a", -12, 100001, "j"},
        {true, "ksl_Script_a", -7, 100002, unknown},  // the first list of that name only
        {true, "ksl_Script_b", -7, 100000, "k"},      // record order, not the slot numbers
        {true, "ksl_Script_b", -12, 100002, "n"},
        {true, "ksl_Script_c", -7, 100000, unknown},
        {true, nullptr, -7, 100000, unknown},
        {true, nullptr, -9, 100001, "i1"},
        {true, nullptr, -1, 100000, "i0"},
        {true, nullptr, -11, 100001, "i1"},
        {true, nullptr, 100001, 100000, "i0"},   // an instance id
        {true, nullptr, 100000, 100000, unknown},  // not above 100,000
        {true, nullptr, -1, 100002, unknown},     // sized, never set
        {true, nullptr, -1, 100003, unknown},     // outside the table
        {true, nullptr, -2, 100000, unknown},
        {true, nullptr, -3, 100000, unknown},
        {true, nullptr, -6, 100000, unknown},
        {true, nullptr, 0, 100000, unknown},
        {true, nullptr, 5, 100000, unknown},
    };
    for (const Row& r : rows) {
        g_GameData.newCodeFormat = r.newFormat;
        EXPECT_STREQ(Code_Variable_GetName(r.code, r.scope, r.id), r.name)
            << (r.newFormat ? "new " : "old ") << (r.code ? r.code : "-") << " " << r.scope << " " << r.id;
    }
    g_GameData.newCodeFormat = true;
    EXPECT_STREQ(Code_Variable_GetAnyName(nullptr, -5, 100001), "g1");
    EXPECT_STREQ(Code_Variable_GetAnyName(nullptr, -5, 3), Variable_BuiltIn_Name(3));
}

TEST_F(VarNames, FindSlotUsesTheGlobalTableOnlyForTheGlobalObjectWithoutTheObjectModel)
{
    g_GameData.newCodeFormat = true;
    Code_Variable_Init(3, 3, 0);
    Code_Variable_SetName("a", -5, 2);
    Code_Variable_SetName("a", -1, 1);
    Code_Variable_SetName("b", -1, 0);
    int fakeGlobal = 0, fakeOther = 0;
    QZObjectBase* global = reinterpret_cast<QZObjectBase*>(&fakeGlobal);
    QZObjectBase* other = reinterpret_cast<QZObjectBase*>(&fakeOther);
    QZObjectBase* oldGlobal = g_GlobalObject;
    g_GlobalObject = global;
    g_GameData.scriptObjectModel = false;
    EXPECT_EQ(Code_Variable_FindSlot(global, "a"), 2);
    EXPECT_EQ(Code_Variable_FindSlot(other, "a"), 1);
    EXPECT_EQ(Code_Variable_FindSlot(global, "b"), -1);
    g_GameData.scriptObjectModel = true;
    EXPECT_EQ(Code_Variable_FindSlot(global, "a"), 1);
    EXPECT_EQ(Code_Variable_FindSlot(global, "b"), 0);
    EXPECT_EQ(Code_Variable_FindSlot(global, "missing"), -1);
    EXPECT_EQ(Code_Variable_FindSlot(global, nullptr), -1);
    g_GlobalObject = oldGlobal;
}

// A code-locals block in a small data image: {count} then per entry {n, name offset} and n {slot, name}.
struct LocalsImage {
    std::vector<uint8_t> data;
    uint32_t blockAt = 0;

    LocalsImage()
    {
        // Two names at the front of the data: length word, text, NUL.
        for (const char* s : {"code", "v"}) {
            uint32_t n = uint32_t(std::strlen(s));
            Word(n);
            names.push_back(uint32_t(data.size()));
            data.insert(data.end(), s, s + n + 1);
            while (data.size() % 4) data.push_back(0);
        }
        blockAt = uint32_t(data.size());
    }
    void Word(uint32_t w) { data.insert(data.end(), reinterpret_cast<uint8_t*>(&w), reinterpret_cast<uint8_t*>(&w) + 4); }
    std::vector<uint32_t> names;
};

TEST_F(VarNames, DamagedLocalBlocksFailAndKeepNothing)
{
    struct Row {
        const char* what;
        std::vector<uint32_t> words;  // the block; 0xC0DE = the code name, 0x7A = the local name
        bool ok;
    };
    const Row rows[] = {
        {"sound", {1, 2, 0xC0DE, 0, 0x7A, 1, 0x7A}, true},
        {"no entries", {0}, true},
        {"empty block", {}, false},
        {"entry count past the block", {2, 1, 0xC0DE, 0, 0x7A}, false},
        {"huge entry count", {0x20000000, 1, 0xC0DE}, false},
        {"local count past the block", {1, 3, 0xC0DE, 0, 0x7A}, false},
        {"huge local count", {1, 0xFFFFFFFF, 0xC0DE, 0, 0x7A}, false},
        {"code name outside the data", {1, 0, 0x100000}, false},
        {"local name outside the data", {1, 1, 0xC0DE, 0, 0xFFFFFFF0}, false},
        {"name offset on the length word", {1, 1, 0xC0DE, 0, 2}, false},
    };
    for (const Row& r : rows) {
        LocalsImage image;
        for (uint32_t w : r.words) image.Word(w == 0xC0DE ? image.names[0] : (w == 0x7A ? image.names[1] : w));
        g_GameData.damaged = false;
        g_GameData.newCodeFormat = true;
        bool ok = Code_Variable_ReadLocalNames(image.data.data() + image.blockAt,
                                               uint32_t(image.data.size()) - image.blockAt, image.data.data(),
                                               uint32_t(image.data.size()));
        EXPECT_EQ(ok, r.ok) << r.what;
        EXPECT_EQ(g_GameData.damaged, !r.ok) << r.what;  // the loader fails the load on it
        const char* name = Code_Variable_GetName("code", -7, 100001);
        EXPECT_STREQ(name, r.ok && r.words.size() > 1 ? "v" : "<unknown variable>") << r.what;
    }
    g_GameData.damaged = false;
}

TEST_F(VarNames, LoaderEntryChecksAgainstTheLoadedData)
{
    LocalsImage image;
    for (uint32_t w : {1u, 1u, image.names[0], 0u, image.names[1]}) image.Word(w);
    g_GameData.newCodeFormat = true;
    g_GameData.data = image.data.data();
    g_GameData.length = uint32_t(image.data.size());
    Code_Variable_LoadLocalNames(image.data.data() + image.blockAt, g_GameData.length - image.blockAt,
                                 image.data.data());
    EXPECT_FALSE(g_GameData.damaged);
    EXPECT_STREQ(Code_Variable_GetName("code", -7, 100000), "v");
    // The same block handed over with a base that is not the loaded data is refused.
    std::vector<uint8_t> copy = image.data;
    Code_Variable_LoadLocalNames(copy.data() + image.blockAt, uint32_t(copy.size()) - image.blockAt, copy.data());
    EXPECT_TRUE(g_GameData.damaged);
    EXPECT_NE(console_.text.find("Game data is damaged: FUNC at offset"), std::string::npos) << console_.text;
    EXPECT_STREQ(Code_Variable_GetName("code", -7, 100000), "<unknown variable>");
    g_GameData.data = nullptr;
    g_GameData.length = 0;
    g_GameData.damaged = false;
}

TEST_F(VarNames, AResolverAnswersTheLoaderFacingOperations)
{
    static std::vector<std::string> calls;
    calls.clear();
    CodeVariableResolver resolver{};
    resolver.findAlloc = [](const char* name) {
        calls.push_back(std::string("find ") + name);
        return 100042;
    };
    Code_Variable_SetResolver(&resolver);
    EXPECT_EQ(Code_Variable_FindAlloc("q"), 100042);
    EXPECT_EQ(Code_Variable_SetName("q", -1, 4), 100004);  // no hook for it: the tables answer
    Code_Variable_SetResolver(nullptr);
    EXPECT_EQ(calls, std::vector<std::string>{"find q"});
    EXPECT_EQ(Code_Variable_Find("q"), -1);
}

}  // namespace
