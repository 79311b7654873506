// Bytecode fix-ups: the old-opcode rewrite and the occurrence chains of variables and functions.
#include "wad_test_util.h"

#include "core/disasm.h"
#include "core/error.h"
#include "core/varnames.h"
#include "platform/messages.h"

#include <cstdarg>
#include <cstdio>

namespace {

using wadtest::Expect;
using wadtest::g_boxes;
using wadtest::g_exitCalls;
using wadtest::g_exitStatus;
using wadtest::U32At;

using WadRemap = wadtest::LoaderTest;

TEST(WadOperandSize, ByType)
{
    const int32_t sizes[16] = {8, 4, 4, 8, 4, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int32_t t = 0; t < 16; ++t) EXPECT_EQ(Disasm_OperandSize(t), sizes[t]) << "type " << t;
    EXPECT_EQ(Disasm_OperandSize(-1), 0);
    EXPECT_EQ(Disasm_OperandSize(16), 0);
}

TEST_F(WadRemap, EveryOldOpcodeAndOperandIsRewrittenAsFormkitExpects)
{
    Expect e("remap_v14");
    auto [pass1, pass2] = RunPasses("remap_v14");
    ASSERT_TRUE(pass1 && pass2) << g_GameData.damage;
    ASSERT_FALSE(e.Rows("remapped").empty());
    for (const auto& r : e.Rows("remapped"))
        EXPECT_EQ(U32At(g_GameData.data, std::stoul(r[1])), std::stoul(r[2])) << "word at " << r[1];
    ExpectImage("remap_v14");
}

TEST_F(WadRemap, OldOpcodeTable)
{
    // Old number -> new number; 17 to 22 become 21 with the compare kind 1 to 6 in bits 8-15.
    const uint8_t table[32] = {0,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                               20, 21, 21, 21, 21, 21, 21, 22, 23, 24, 25, 26, 27, 28, 29, 31};
    for (uint32_t old = 0; old < 32; ++old)
        for (uint32_t form : {0x00u, 0x80u, 0xA0u}) {
            uint32_t word = (form | old) << 24 | 0x0052ABCD;
            uint8_t code[4];
            std::memcpy(code, &word, 4);
            ASSERT_TRUE(Code_RemapOldOpcodes(code, 4));
            uint32_t got = U32At(code, 0);
            EXPECT_EQ(got >> 24, form | table[old]) << "old " << old;
            EXPECT_EQ(got & 0x00FF00FF, 0x0052ABCDu & 0x00FF00FF);
            uint32_t sub = (got >> 8) & 0xFF;
            EXPECT_EQ(sub, table[old] == 21 ? ((form | old) - 16) & 0xFF : 0xABu) << "old " << old;
        }
}

TEST_F(WadRemap, WalkStaysInsideItsEntry)
{
    struct Row {
        std::vector<uint32_t> words;
        uint32_t length;
        bool ok;
    };
    const Row rows[] = {
        {{0x40000000, 0, 0}, 12, true},   // push.d and its 8 bytes
        {{0x40000000, 0}, 8, false},      // the operand runs past the entry
        {{0x40030000, 0}, 8, false},      // 64-bit integer likewise
        {{0x40070000}, 4, true},          // type 7: no operand bytes counted
        {{0x400F0000}, 4, true},
        {{0x40050000, 0x51000000}, 8, true},
        {{0x1D000000}, 6, false},         // a partial word at the end
        {{}, 0, true},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> code(row.words.size() * 4 + 8, 0xEE);
        for (size_t i = 0; i < row.words.size(); ++i) std::memcpy(&code[i * 4], &row.words[i], 4);
        std::vector<uint8_t> copy = code;
        EXPECT_EQ(Code_RemapOldOpcodes(code.data(), row.length), row.ok) << row.words.size();
        // Nothing past the entry is touched.
        EXPECT_TRUE(std::equal(code.begin() + row.length, code.end(), copy.begin() + row.length));
    }
}

TEST_F(WadRemap, Version15CodeIsUnchangedByteForByte)
{
    std::vector<uint8_t> file = wadtest::ReadBytes(wadtest::FixturePath("remap_v15"));
    auto [pass1, pass2] = RunPasses("remap_v15");
    ASSERT_TRUE(pass1 && pass2) << g_GameData.damage;
    ASSERT_EQ(file.size(), g_GameData.length);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), g_GameData.data));
    ExpectImage("remap_v15");
}

using WadPatch = wadtest::LoaderTest;

TEST_F(WadPatch, OldLayoutChainsOf29Bits)
{
    Expect e("patch_v14");
    auto [pass1, pass2] = RunPasses("patch_v14");
    ASSERT_TRUE(pass1 && pass2) << g_GameData.damage;
    ASSERT_GE(e.Rows("patched").size(), 8u);
    for (const auto& p : e.Rows("patched"))
        EXPECT_EQ(U32At(g_GameData.data, std::stoul(p[1])), std::stoul(p[2])) << "operand at " << p[1];
    ExpectImage("patch_v14");
    // The names live in the shared table (x and y are no built-ins here), which gained no other name, and
    // old-format data has no local names.
    for (const auto& r : e.Rows("var_id")) EXPECT_EQ(Code_Variable_Find(r[1].c_str()), std::stoi(r[2])) << r[1];
    EXPECT_STREQ(Code_Variable_GetName(nullptr, -1, 100010), kUnknownVariableName);
    EXPECT_STREQ(Code_Variable_GetName("ksl_Script_a", -7, 100002), "x");
    EXPECT_EQ(Code_Function_Find("g"), 100003);  // the data's script
}

TEST_F(WadPatch, NewLayoutChainsOf28BitsWithScopesAndCounts)
{
    Expect e("patch_v15");
    auto [pass1, pass2] = RunPasses("patch_v15");
    ASSERT_TRUE(pass1 && pass2) << g_GameData.damage;
    for (const auto& p : e.Rows("patched"))
        EXPECT_EQ(U32At(g_GameData.data, std::stoul(p[1])), std::stoul(p[2])) << "operand at " << p[1];
    ExpectImage("patch_v15");

    // The counts: instance count 0 reads as 2.
    EXPECT_NE(debug_.text.find("got 2 global variables\ngot 2 instance variables\ngot 3 local variables\n"),
              std::string::npos)
        << debug_.text;
    EXPECT_EQ(g_GameData.globalCount, 2);
    EXPECT_EQ(g_GameData.instanceCount, 2);
    EXPECT_EQ(g_GameData.localCount, 3);

    // Each record named its slot in the table its scope picks; records of index -6 (scope passed -6) name
    // built-ins and no slot. The tables have the sizes the counts give.
    for (const auto& r : e.Rows("variable")) {
        const int32_t scope = std::stoi(r[2]), index = std::stoi(r[3]);
        if (scope == -6) {
            EXPECT_EQ(Variable_BuiltIn_Find(r[1].c_str()), std::stoi(e.Value("var_id", r[1]))) << r[1];
            continue;
        }
        EXPECT_STREQ(Code_Variable_GetName(nullptr, scope, VARIABLE_ID_FIRST_SLOT + index), r[1].c_str());
    }
    EXPECT_EQ(e.Rows("variable").back()[1], "odd");
    EXPECT_EQ(e.Rows("variable").back()[2], "-6");
    EXPECT_STREQ(Code_Variable_GetName(nullptr, -5, VARIABLE_ID_FIRST_SLOT + 1), kUnknownVariableName);
    EXPECT_EQ(Code_Variable_FindInstance("inst"), 0);
    EXPECT_EQ(Code_Variable_FindGlobal("g"), 0);

    // The local-name table after the function records (a block cut short or starting elsewhere is not
    // read): each entry's names by position.
    EXPECT_STREQ(Code_Variable_GetName("ksl_Script_a", -7, VARIABLE_ID_FIRST_SLOT), "i");
    EXPECT_STREQ(Code_Variable_GetName("ksl_Script_a", -7, VARIABLE_ID_FIRST_SLOT + 1), "j");
    EXPECT_STREQ(Code_Variable_GetName("ksl_Script_b", -7, VARIABLE_ID_FIRST_SLOT), "k");
    EXPECT_STREQ(Code_Variable_GetName("ksl_Script_b", -7, VARIABLE_ID_FIRST_SLOT + 1), kUnknownVariableName);
}

// The consoles of a death-test child: everything on standard error, where the test reads it.
struct PatchStderrConsole final : tagIConsole {
    void Output(const char* format, ...) override __attribute__((format(printf, 2, 3)))
    {
        va_list args;
        va_start(args, format);
        std::vfprintf(stderr, format, args);
        va_end(args);
    }
};

// Runs both passes over a fixture with the real exit; returns only when nothing ended the process.
void PatchRunUnresolved(const char* fixture)
{
    static PatchStderrConsole console;
    DebugConsole = ReleaseConsole = &console;
    Platform_SetExitHook(nullptr);
    wadtest::Expect(fixture).InstallTables();
    std::vector<uint8_t> bytes = wadtest::ReadBytes(wadtest::FixturePath(fixture));
    auto* data = static_cast<uint8_t*>(MemAlloc(bytes.size()));
    std::memcpy(data, bytes.data(), bytes.size());
    if (Wad_ReadHeader(data, uint32_t(bytes.size()))) Wad_LoadChunks(data, uint32_t(bytes.size()));
}

using WadPatchDeathTest = wadtest::LoaderTest;

TEST_F(WadPatchDeathTest, UnresolvedNameExitsWithStatus1)
{
    const struct {
        const char* fixture;
        const char* message;
    } rows[] = {
        {"unresolved_var_v14", "Error on load\nUnable to find variable score\n"},
        {"unresolved_var_v15", "Error on load\nUnable to find variable score\n"},
        {"unresolved_func_v14", "Error on load\nUnable to find function show\n"},
    };
    for (const auto& row : rows) {
        EXPECT_EXIT(
            {
                PatchRunUnresolved(row.fixture);
                std::exit(0);
            },
            testing::ExitedWithCode(1), row.message);
    }
}

// A child game loads while a game change is under way (set by the game change that started it): the
// reporter shows the framed report and ends that game, not the process.
TEST_F(WadPatch, UnresolvedNameInAChildGameEndsTheGameThroughTheReporter)
{
    for (const char* fixture : {"unresolved_var_v14", "unresolved_var_v15", "unresolved_func_v14"}) {
        Expect e(fixture);
        Error_ResetState();
        g_ChildGame = true;
        g_GameChanging = true;
        RoomChangeCode = ROOM_CHANGE_NONE;
        release_.text.clear();
        auto [pass1, pass2] = RunPasses(fixture);
        EXPECT_FALSE(pass1 && pass2) << fixture;
        EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_GAME_END) << fixture;
        EXPECT_EQ(g_exitCalls, 0) << fixture;
        std::string expected = "Error on load\nUnable to find " + e.Rows("unresolved")[0][1] + " " +
                               e.Rows("unresolved")[0][2] + "\n";
        const std::string last = Error_LastText();
        EXPECT_EQ(last.rfind(std::string(92, '#') + "\nFATAL ERROR in\n", 0), 0u) << last;
        EXPECT_NE(last.find(expected), std::string::npos) << last;
        EXPECT_NE(release_.text.find("ERROR!!! :: " + last + "\n"), std::string::npos) << release_.text;
        EXPECT_TRUE(g_ErrorQuitting);
        EXPECT_TRUE(g_ErrorOccurred);
        ProcessMessages();  // takes the quit the abort posted, which would end a later test's main loop
        EXPECT_FALSE(g_GameData.damaged);
        UnloadGameData();
    }
}

}  // namespace
