// Two printers of one listing: every program of tests/fixtures/asm is assembled by formkit (once per build),
// loaded by the real loader, and Disasm_Code's listing of each code entry must equal the assembler's own
// listing (written from the bytecode layouts, independently of the C++ disassembler) byte for byte.
#include "../world/wad_test_util.h"

#include "core/debug_info.h"
#include "core/disasm.h"
#include "core/functions.h"
#include "core/variables.h"
#include "core/varnames.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

namespace {

void AsmListing_NoOp(RValue*, CInstance*, CInstance*, int32_t, RValue*) {}
bool AsmListing_Get(CInstance*, int32_t, RValue*) { return true; }

// Assembles a fixture ("known/x" is written as "known_x"); extra options go to the assembler's command
// line. The path of its files without their extension (.win, .tab, .lst, .qzdebug), or "" when it failed.
std::string AsmListing_Run(const std::string& stem, const std::string& options)
{
    std::string name = stem;
    std::replace(name.begin(), name.end(), '/', '_');
    const std::string source = kvtest::ReadFile(wadtest::SourceDir() + "/tests/fixtures/asm/" + stem + ".kvs");
    EXPECT_FALSE(source.empty()) << stem;
    std::string error;
    const std::string dir = kvtest::AssembledFixture(source, name, options, &error);
    EXPECT_FALSE(dir.empty()) << stem << ": " << error;
    return dir.empty() ? dir : dir + name;
}

std::vector<std::vector<std::string>> AsmListing_Rows(const std::string& path)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(kvtest::ReadFile(path));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream ss(line);
        std::string f;
        while (std::getline(ss, f, '\t')) fields.push_back(f);
        if (!fields.empty()) rows.push_back(fields);
    }
    return rows;
}

std::vector<std::string> AsmListing_Programs()
{
    std::vector<std::string> stems;
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(wadtest::SourceDir() + "/tests/fixtures/asm", error))
        if (e.path().extension() == ".kvs") stems.push_back(e.path().stem().string());
    std::sort(stems.begin(), stems.end());
    return stems;
}

class AsmListing : public wadtest::LoaderTest {
protected:
    void SetUp() override
    {
        LoaderTest::SetUp();
        // The real name tables (the listing prints names from them) and a fresh shared table, so that the
        // ids of old-format data are those of a first load.
        Code_Variable_Free();
        Disasm_SetCodeStrings(nullptr, 0);
        Variable_BuiltIn_Free();
    }
    void TearDown() override
    {
        UnloadGameData();
        Code_Variable_Free();
        Variable_BuiltIn_Free();
        LoaderTest::TearDown();
    }

    // Assembles and loads one program, then returns what Disasm_Code prints for each code entry, in the
    // assembler's listing form ("; code <name>" before each entry), and the assembler's listing in `expected`.
    std::string LoadAndList(const std::string& stem, std::string* expected)
    {
        const std::string out = AsmListing_Run(stem, "");
        if (out.empty()) return {};
        std::vector<std::vector<std::string>> facts = AsmListing_Rows(out + ".tab");

        // Built-in variables the program names resolve in pass 1: registered first, with the ids they got.
        std::string ids;
        for (const auto& row : facts) {
            if (row[0] != "bvar") continue;
            if (Variable_BuiltIn_Find(row[1].c_str()) < 0)
                Variable_BuiltIn_Add(row[1].c_str(), AsmListing_Get, nullptr);
            ids += " --bvar '" + row[1] + "=" + std::to_string(Variable_BuiltIn_Find(row[1].c_str())) + "'";
        }
        std::vector<uint8_t> bytes = wadtest::ReadBytes(out + ".win");
        auto* data = static_cast<uint8_t*>(MemAlloc(bytes.size()));
        std::memcpy(data, bytes.data(), bytes.size());
        if (!Wad_ReadHeader(data, uint32_t(bytes.size()))) {
            ADD_FAILURE() << stem << ": pass 1 failed: " << g_GameData.damage << debug_.text;
            if (!g_GameData.data) MemFree(data);
            return {};
        }

        // Built-in functions the program calls: the entry a name already has, else a new one. The listing
        // is made with the ids they got here.
        for (const auto& row : facts) {
            if (row[0] != "builtin") continue;
            int32_t id = -1;
            for (int32_t i = 0; i < Function_Count() && id < 0; ++i)
                if (row[1] == Function_Entry(i)->name) id = i;
            if (id < 0) id = Function_Add(row[1].c_str(), AsmListing_NoOp, -1, false) - 1;
            ids += " --function '" + row[1] + "=" + std::to_string(id) + "'";
        }
        const std::string listed = AsmListing_Run(stem, ids);
        if (listed.empty()) return {};
        *expected = kvtest::ReadFile(listed + ".lst");

        if (!Wad_LoadChunks(data, uint32_t(bytes.size()))) {
            ADD_FAILURE() << stem << ": pass 2 failed: " << g_GameData.damage << debug_.text;
            return {};
        }

        // Each entry's buffer: from version 15 {name, length, counts, offset of the bytecode relative to
        // this field, block offset}; before, the bytecode follows the length.
        std::string listing;
        const uint8_t* base = g_GameData.data;
        for (uint32_t i = 0; i < g_GameData.codeCount; ++i) {
            uint32_t entry = wadtest::U32At(g_GameData.codeList, 4 + 4 * i);
            const char* name = reinterpret_cast<const char*>(base + wadtest::U32At(base, entry));
            int32_t length = int32_t(wadtest::U32At(base, entry + 4));
            const uint8_t* code = base + entry + 8;
            if (g_GameData.newCodeFormat)
                code = base + entry + 12 + int32_t(wadtest::U32At(base, entry + 12));
            kvtest::RecordingConsole console;
            Disasm_Code(name, code, length, &console);
            listing += "; code " + std::string(name) + "\n" + console.text;
        }
        return listing;
    }
};

// One test per program, so that each runs (and times out) on its own.
class AsmListingProgram : public AsmListing, public testing::WithParamInterface<std::string> {};

TEST_P(AsmListingProgram, DisassemblerAgreesWithTheAssembler)
{
    std::string expected;
    std::string listing = LoadAndList(GetParam(), &expected);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(listing, expected);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, AsmListingProgram, testing::ValuesIn(AsmListing_Programs()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(AsmListingFixtures, ThereAreProgramsToCompare)
{
    EXPECT_GE(AsmListing_Programs().size(), 3u);
}

// The debug file the assembler writes beside a program: the loader keeps its chunks, and each code entry's
// line table and source text give the lines a runtime error would name.
TEST_F(AsmListing, DebugFileGivesEachEntryItsLinesAndSource)
{
    std::string expected;
    ASSERT_FALSE(LoadAndList("debug_lines", &expected).empty());
    std::vector<uint8_t> bytes = wadtest::ReadBytes(AsmListing_Run("debug_lines", "") + ".qzdebug");
    ASSERT_FALSE(bytes.empty());
    auto* data = static_cast<uint8_t*>(MemAlloc(bytes.size()));
    std::memcpy(data, bytes.data(), bytes.size());
    g_GameData.debugData = data;
    g_GameData.debugLength = uint32_t(bytes.size());
    ASSERT_TRUE(DebugChunks_Load(data, uint32_t(bytes.size())));
    ASSERT_EQ(g_GameData.debugInfoCount, 3u);
    ASSERT_EQ(g_GameData.debugScriptCount, 3u);
    EXPECT_EQ(g_GameData.debugInstanceCount, 0u);

    // Entry i: DBGI gives the offset of {word count, words}; SCPT the offset of a word holding the text's.
    auto table = [&](uint32_t i, int32_t* bytesOut) -> const uint8_t* {
        uint32_t off = wadtest::U32At(g_GameData.debugInfo, 4 * i);
        *bytesOut = off ? int32_t(wadtest::U32At(data, off)) * 4 : 0;
        return off ? data + off + 4 : nullptr;
    };
    auto source = [&](uint32_t i) -> const char* {
        uint32_t off = wadtest::U32At(g_GameData.debugScripts, 4 * i);
        return off ? reinterpret_cast<const char*>(data + wadtest::U32At(data, off)) : nullptr;
    };
    EXPECT_STREQ(source(0), "// step of obj_a\nx = 1;\n#line ksl_Object7 10\ny = x;\nz = y;\n");
    EXPECT_STREQ(source(1), "return 4;\n");
    EXPECT_EQ(source(2), nullptr);
    int32_t size = -1;
    EXPECT_EQ(table(2, &size), nullptr);
    EXPECT_EQ(size, 0);

    const struct {
        uint32_t entry;
        int32_t codeOffset;
        int32_t line;
        const char* name;  // of a "#line" directive, else null
        const char* text;
    } rows[] = {
        {0, 0, 2, nullptr, "x = 1;"},
        {0, 8, 2, nullptr, "x = 1;"},  // the operand of the same pop
        {0, 12, 10, "ksl_Object7", "y = x;"},
        {0, 28, 11, "ksl_Object7", "z = y;"},
        {0, 44, 11, "ksl_Object7", "z = y;"},
        {1, 0, 1, nullptr, "return 4;"},
        {1, 4, 1, nullptr, "return 4;"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.codeOffset);
        const uint8_t* lines = table(row.entry, &size);
        ASSERT_NE(lines, nullptr);
        const DebugLineEntry* entry = DebugInfo_FindEntry(lines, size, row.codeOffset);
        ASSERT_NE(entry, nullptr);
        char* name = nullptr;
        EXPECT_EQ(DebugInfo_LineNumber(entry, source(row.entry), &name), row.line);
        if (row.name)
            EXPECT_STREQ(name, row.name);
        else
            EXPECT_EQ(name, nullptr);
        MemFree(name);
        EXPECT_STREQ(DebugInfo_SourceLine(entry, source(row.entry)), row.text);
    }
}

// A string operand longer than any fixed line buffer still ends with its closing quote and line feed, so
// the next instruction's line starts on its own.
TEST_F(AsmListing, LongStringOperandKeepsItsLineEnd)
{
    std::string expected;
    std::string listing = LoadAndList("known/long_string", &expected);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(listing, expected);
}

}  // namespace
