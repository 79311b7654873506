// Code objects and scripts: made from formkit containers through the real loader (both code formats, the
// debug file, damaged data), the code table, running code, calling scripts and preparing them.
#include "core/code.h"
#include "core/console.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "core/script.h"
#include "core/seam_trace.h"
#include "core/stream.h"
#include "core/value.h"
#include "core/varnames.h"
#include "platform/hooks.h"
#include "py_oracle.h"
#include "services/launcher.h"
#include "test_support.h"
#include "world/command_line.h"
#include "world/loader.h"
#include "world/room_change.h"
#include "world/object_base.h"
#include "world/paths.h"
#include "world/run_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using CodeTestConsole = kvtest::RecordingConsole;

int g_codeTestExitStatus = -1000;
int g_codeTestExitCalls = 0;

// What the compiled game's entries were called with, in order.
struct CodeTestCall {
    int entry;
    CInstance* self;
    CInstance* other;
    int32_t argc;
    std::vector<RValue*> args;
    int32_t vmArgCount;
    RValue* vmArgs;
};
std::vector<CodeTestCall> g_codeTestCalls;

template <int N>
void CodeTestEvent(CInstance* self, CInstance* other)
{
    g_codeTestCalls.push_back({N, self, other, -1, {}, VM_ArgCount, VM_Args});
}

template <int N>
void CodeTestScript(CInstance* self, CInstance* other, RValue* result, int32_t argc, RValue** args)
{
    g_codeTestCalls.push_back({N, self, other, argc, std::vector<RValue*>(args, args + argc), VM_ArgCount, VM_Args});
    if (result) RValue_SetReal(result, N);
}

// Six entries, as many as the fixtures' CODE chunks: event entries 4 and 5, script entries 0 to 3.
const GameLinkCode kCodeTestTable[] = {
    {"ksl_Script_scr_a", reinterpret_cast<void (*)()>(&CodeTestScript<0>)},
    {"ksl_Script_scr_b", reinterpret_cast<void (*)()>(&CodeTestScript<1>)},
    {"ksl_Script_empty", reinterpret_cast<void (*)()>(&CodeTestEvent<2>)},
    {"ksl_Script_scr_a2", reinterpret_cast<void (*)()>(&CodeTestScript<3>)},
    {"ksl_GlobalCode_one", reinterpret_cast<void (*)()>(&CodeTestEvent<4>)},
    {"ksl_GlobalCode_two", reinterpret_cast<void (*)()>(&CodeTestEvent<5>)},
};

std::vector<uint8_t> g_codeTestEmbedded;

void CodeTestLink(GameLinkData* record)
{
    *record = {};
    record->embeddedData = g_codeTestEmbedded.data();
    record->embeddedLength = uint32_t(g_codeTestEmbedded.size());
    record->codeEntryCount = 6;
    record->codeTable = kCodeTestTable;
}

// The flat expectation files of the fixture script: rows by their first field.
struct CodeTestFacts {
    std::map<std::string, std::vector<std::vector<std::string>>> rows;
    const std::vector<std::vector<std::string>>& Rows(const std::string& key) { return rows[key]; }
};

std::string CodeTestFixtures()
{
    static std::string dir;
    if (dir.empty()) dir = kvtest_py::Generate("tests/core/gen_code_fixtures.py", "");
    return dir;
}

CodeTestFacts CodeTestReadFacts(const std::string& name)
{
    CodeTestFacts facts;
    std::ifstream in(CodeTestFixtures() + name + ".expect");
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream ss(line);
        std::string f;
        while (std::getline(ss, f, '\t')) fields.push_back(f);
        if (!fields.empty()) facts.rows[fields[0]].push_back(fields);
    }
    return facts;
}

std::string CodeTestUnescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

uint8_t* CodeTestBlock(const std::string& bytes)
{
    auto* block = static_cast<uint8_t*>(MemAlloc(bytes.empty() ? 1 : bytes.size()));
    if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());
    return block;
}

class CodeTest : public testing::Test {
protected:
    void SetUp() override
    {
        oldDebug_ = DebugConsole;
        oldRelease_ = ReleaseConsole;
        DebugConsole = &debug_;
        ReleaseConsole = &release_;
        oldExit_ = Platform_SetExitHook([](int status) {
            g_codeTestExitStatus = status;
            ++g_codeTestExitCalls;
        });
        g_codeTestExitStatus = -1000;
        g_codeTestExitCalls = 0;
        g_codeTestCalls.clear();
        oldResolver_ = Code_Variable_SetResolver(nullptr);
        Function_SetExtensionFinder(nullptr);
        savedFlags_ = g_RunFlags;
        g_RunFlags.codeExecution = true;
        SeamTrace_Clear();
        SeamTrace_Enable(true);
        UnloadGameData();
        // The object table keeps its array once it has one: make it before the baseline.
        ObjectBase_Free(ObjectBase_Alloc(1, VALUE_UNSET, true));
        ObjectBasePool_Clear();
        GetExecutablePath();  // kept for the process
        before_ = MemoryManager_Probe();
    }

    void TearDown() override
    {
        Script_Free();
        Code_Main_Free();
        UnloadGameData();
        Function_Free();  // the built-ins that loading the header registered
        if (g_GlobalObject) ObjectBase_Free(g_GlobalObject);
        g_GlobalObject = nullptr;
        ObjectBasePool_Clear();
        RValuePool_Release();  // globals written by the programs took sparse cells
        Code_Variable_Free();
        MemFree(g_WorkingDirectory);
        g_WorkingDirectory = nullptr;
        MemFree(g_ProjectName);
        g_ProjectName = nullptr;
        MemFree(g_LauncherOwnGameFile);
        g_LauncherOwnGameFile = nullptr;
        GameFile_Set(nullptr);
        Paths_ResetRunCache();
        Loader_SetLinkSource(nullptr);
        EXPECT_EQ(g_CodeListCount, 0);
        EXPECT_EQ(g_CodeList, nullptr);
        // Programs that use operations the interpreter does not have yet report an error, whose text is
        // kept for error_last.
        Error_ResetState();
        MemoryProbe after = MemoryManager_Probe();
        EXPECT_EQ(after.liveBlocks, before_.liveBlocks) << "blocks left behind";
        EXPECT_EQ(after.heapBytesInUse, before_.heapBytesInUse);
        SeamTrace_Enable(false);
        SeamTrace_Clear();
        g_RunFlags = savedFlags_;
        Code_Variable_SetResolver(oldResolver_);
        Platform_SetExitHook(oldExit_);
        DebugConsole = oldDebug_;
        ReleaseConsole = oldRelease_;
    }

    // Both passes over a fixture, with its debug file (or another one) read first. The data and the debug
    // data belong to the loader record.
    bool Load(const std::string& name, const std::string& debugName = "")
    {
        std::string dir = CodeTestFixtures();
        std::string debugFile = dir + (debugName.empty() ? name : debugName) + ".qzdebug";
        if (std::ifstream(debugFile).good()) {
            std::string bytes = kvtest::ReadFile(debugFile);
            g_GameData.debugData = CodeTestBlock(bytes);
            g_GameData.debugLength = uint32_t(bytes.size());
            DebugChunks_Load(g_GameData.debugData, g_GameData.debugLength);
        }
        std::string bytes = kvtest::ReadFile(dir + name + ".win");
        uint8_t* data = CodeTestBlock(bytes);
        bool pass1 = Wad_ReadHeader(data, uint32_t(bytes.size()));
        bool pass2 = pass1 && Wad_LoadChunks(data, uint32_t(bytes.size()));
        if (!g_GameData.data) MemFree(data);
        return pass2;
    }

    // The compiled fixture through the whole loader, its data embedded in a link record of native fakes.
    bool LoadCompiled()
    {
        std::string bytes = kvtest::ReadFile(CodeTestFixtures() + "compiled.win");
        g_codeTestEmbedded.assign(bytes.begin(), bytes.end());
        Loader_SetLinkSource(CodeTestLink);
        return RunnerLoadGame() && Wad_ReadHeader(g_GameData.data, g_GameData.length) && LoadGameData();
    }

    static int Traced(const std::string& name)
    {
        const auto& calls = SeamTrace_Calls();
        return int(std::count(calls.begin(), calls.end(), name));
    }

    CodeTestConsole debug_, release_;

private:
    tagIConsole* oldDebug_ = nullptr;
    tagIConsole* oldRelease_ = nullptr;
    ExitHook oldExit_ = nullptr;
    const CodeVariableResolver* oldResolver_ = nullptr;
    RunFlags savedFlags_{};
    MemoryProbe before_{};
};

// ---- made from the game data ------------------------------------------------------------------------

class CodeLoad : public CodeTest, public testing::WithParamInterface<const char*> {};

TEST_P(CodeLoad, FormkitContainersGiveScriptsAndCodeObjects)
{
    const std::string name = GetParam();
    CodeTestFacts facts = CodeTestReadFacts(name);
    ASSERT_FALSE(facts.Rows("code").empty());
    ASSERT_TRUE(Load(name)) << g_GameData.damage;

    // Variables and the call to scr_b were bound through the runtime's own tables.
    for (const auto& p : facts.Rows("patched")) {
        uint32_t word = 0;
        std::memcpy(&word, g_GameData.data + std::stoul(p[1]), 4);
        EXPECT_EQ(word, std::stoul(p[2])) << name << ": operand at " << p[1];
    }

    EXPECT_EQ(Script_Number(), 5);
    std::vector<bool> filled(5, false);
    for (const auto& s : facts.Rows("script")) {
        int32_t slot = std::stoi(s[1]);
        filled[size_t(slot)] = true;
        ASSERT_NE(Script_Data(slot), nullptr) << slot;
        EXPECT_STREQ(Script_GetName(slot), s[2].c_str());
        EXPECT_STREQ(Script_Data(slot)->name, s[2].c_str());
        EXPECT_EQ(Script_Data(slot)->code, std::stoi(s[3])) << slot;
    }
    for (int32_t slot = 0; slot < 5; ++slot) EXPECT_EQ(Script_Exists(slot), filled[size_t(slot)]) << slot;
    EXPECT_STREQ(Script_GetName(1), "<undefined>");  // the empty slot
    EXPECT_STREQ(Script_GetName(-1), "<undefined>");
    EXPECT_STREQ(Script_GetName(5), "<undefined>");
    EXPECT_EQ(Script_Data(-1), nullptr);
    EXPECT_EQ(Script_Find("scr_a"), 4);  // the later of two scripts of one name
    EXPECT_EQ(Script_Find("scr_b"), 2);
    EXPECT_EQ(Script_Find("SCR_B"), -1);
    EXPECT_EQ(Script_Find(""), -1);

    // One code object per entry, checked against formkit's reading of the entries and the debug file.
    std::map<int, std::pair<uint32_t, int32_t>> lines;
    for (const auto& l : facts.Rows("lines")) lines[std::stoi(l[1])] = {uint32_t(std::stoul(l[2])), std::stoi(l[3])};
    std::map<int, std::string> sources;
    for (const auto& s : facts.Rows("source")) sources[std::stoi(s[1])] = CodeTestUnescape(s[2]);
    std::vector<uint8_t> before(g_GameData.data, g_GameData.data + g_GameData.length);
    std::vector<CCode*> made;
    for (const auto& c : facts.Rows("code")) {
        int32_t index = std::stoi(c[1]);
        CCode* code = new CCode(index, false);
        made.push_back(code);
        SCOPED_TRACE(name + " entry " + c[2]);
        EXPECT_EQ(code->index, index);
        EXPECT_EQ(code->kind, CODE_KIND_CODE);
        EXPECT_EQ(code->state, 1);
        EXPECT_EQ(RValue_Kind(&code->value), uint32_t(VALUE_REAL));
        ASSERT_NE(code->name, nullptr);
        EXPECT_STREQ(code->name, c[2].c_str());
        ASSERT_NE(code->code, nullptr);
        EXPECT_EQ(code->code->bytes, g_GameData.data + std::stoul(c[3]));
        EXPECT_EQ(code->code->length, std::stoi(c[4]));
        EXPECT_FALSE(code->code->owned);
        EXPECT_EQ(code->code->handlers, nullptr);
        EXPECT_EQ(code->code->instructionIndex, nullptr);
        EXPECT_EQ(code->localCount, std::stoi(c[5]));
        EXPECT_EQ(code->argumentCount, std::stoi(c[6]));
        EXPECT_EQ(code->blockOffset, std::stoi(c[7]));
        EXPECT_EQ(code->nativeEntry, nullptr);
        if (lines.count(index)) {
            ASSERT_NE(code->debugLines, nullptr);
            EXPECT_EQ(code->debugLines->bytes, g_GameData.debugData + lines[index].first);
            EXPECT_EQ(code->debugLines->length, lines[index].second);
            EXPECT_FALSE(code->debugLines->owned);
        } else {
            EXPECT_EQ(code->debugLines, nullptr);
        }
        EXPECT_EQ(std::string(code->source), sources.count(index) ? sources[index] : "");
        EXPECT_EQ(code->sourceCopy, code->source);
    }
    EXPECT_EQ(g_CodeListCount, int32_t(made.size()));
    EXPECT_EQ(g_CodeList, made.back());  // newest first

    // Compiling gives each script a code object of its entry.
    for (int32_t slot : {0, 2, 3, 4}) {
        ASSERT_TRUE(Script_Data(slot)->Compile());
        CCode* code = Script_Data(slot)->GetCode();
        ASSERT_NE(code, nullptr);
        EXPECT_EQ(code->index, Script_Data(slot)->code);
        EXPECT_EQ(code->code->bytes, made[size_t(code->index)]->code->bytes);
    }

    // Destroying every code object leaves the code list empty and the game data as it was; the data
    // is then freed once, by the unload (a code object freeing it would be a second free).
    for (CCode* code : made) delete code;
    Script_Free();
    EXPECT_EQ(g_CodeListCount, 0);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), g_GameData.data));
    UnloadGameData();
}

INSTANTIATE_TEST_SUITE_P(Formats, CodeLoad, testing::Values("v14", "v15"));

TEST_F(CodeTest, BadScriptAndCodeDataFailsTheLoad)
{
    CodeTestFacts facts = CodeTestReadFacts("bad");
    ASSERT_EQ(facts.Rows("bad").size(), 9u);
    for (const auto& row : facts.Rows("bad")) {
        SCOPED_TRACE(row[1]);
        debug_.text.clear();
        EXPECT_FALSE(Load(row[1]));
        EXPECT_TRUE(g_GameData.damaged);
        EXPECT_NE(debug_.text.find("Game data is damaged: " + row[2] + " at offset "), std::string::npos)
            << debug_.text;
        EXPECT_EQ(g_codeTestExitCalls, 0);
        Script_Free();
        UnloadGameData();
    }
}

TEST_F(CodeTest, BadDebugTablesAreLeftOutAndTheGameLoads)
{
    CodeTestFacts facts = CodeTestReadFacts("bad_debug");
    ASSERT_EQ(facts.Rows("debug").size(), 8u);
    for (const auto& row : facts.Rows("debug")) {
        SCOPED_TRACE(row[1]);
        ASSERT_TRUE(Load("v14", row[1])) << g_GameData.damage;
        const uint8_t* start = g_GameData.debugData;
        const uint8_t* end = start + g_GameData.debugLength;
        for (int32_t index = 0; index < 6; ++index) {
            CCode code(index, false);
            if (code.debugLines) {
                EXPECT_GE(code.debugLines->bytes, start);
                EXPECT_LE(code.debugLines->bytes + code.debugLines->length, end);
            }
            if (*code.source) {
                const auto* text = reinterpret_cast<const uint8_t*>(code.source);
                EXPECT_TRUE(text >= start && text + std::strlen(code.source) < end);
            }
            if (index == 0) {
                EXPECT_EQ(code.debugLines != nullptr, row[2] == "1");
                EXPECT_EQ(*code.source != 0, row[3] == "1");
            }
        }
        EXPECT_FALSE(g_GameData.damaged);
        Script_Free();
        UnloadGameData();
    }
}

TEST_F(CodeTest, OldGamesKeepTheirScriptsSourceAndCannotCompile)
{
    ASSERT_TRUE(Load("old_source")) << g_GameData.damage;
    ASSERT_EQ(Script_Number(), 2);
    EXPECT_EQ(Script_Data(0)->code, -1);
    char* source = Script_Data(0)->GetSource();
    EXPECT_STREQ(source, "show_message(1);");
    MemFree(source);
    EXPECT_FALSE(Script_Data(0)->Compile());  // no code entries to compile from

    // Preparation stops at the first script with the message and the last error's text, and the abort
    // ends the game (the start-up then reports the failure and exits).
    Error_Show("earlier error", false);
    release_.text.clear();
    EXPECT_FALSE(Script_Prepare());
    EXPECT_EQ(release_.text, "ERROR!!! :: COMPILATION ERROR in Script: scr_src\nearlier error\n");
    EXPECT_TRUE(g_ErrorQuitting);
    EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_GAME_CHANGE);
    EXPECT_EQ(g_codeTestExitCalls, 0);
    EXPECT_EQ(Traced("VM_Exec"), 0);
    RoomChangeCode = ROOM_CHANGE_NONE;
    Error_ResetState();  // gives the last error's text back
}

TEST_F(CodeTest, StoredSourceStreamsReadBackUnscrambled)
{
    // The substitution's table, learnt from the stream itself, scrambles a length-prefixed text.
    CStream table(256);
    for (int b = 0; b < 256; ++b) table.GetMemory()[b] = uint8_t(b);
    table.Substitute(SCRIPT_SOURCE_SEED, 0, 256);
    uint8_t scramble[256] = {};
    for (int b = 0; b < 256; ++b) scramble[table.GetMemory()[b]] = uint8_t(b);
    const std::string text = "x = 1;\n";
    std::string plain(4, '\0');
    uint32_t n = uint32_t(text.size());
    std::memcpy(plain.data(), &n, 4);
    plain += text;

    CScript script("scr_stored");
    script.sourceStream = new CStream();
    for (char c : plain) {
        uint8_t byte = scramble[uint8_t(c)];
        script.sourceStream->WriteBuffer(&byte, 1);
    }
    int32_t position = script.sourceStream->GetPosition();
    for (int pass = 0; pass < 2; ++pass) {
        char* source = script.GetSource();
        EXPECT_EQ(std::string(source), text) << "pass " << pass;
        MemFree(source);
    }
    EXPECT_EQ(script.sourceStream->GetPosition(), position);  // the stored stream is left as it was
    EXPECT_EQ(script.sourceStream->GetMemory()[4], scramble[uint8_t('x')]);
}

// ---- code objects and the code table ----------------------------------------------------------------

TEST_F(CodeTest, ObjectsOutsideTheEntriesHaveNoCodeAndMinusOneStaysOutOfTheList)
{
    ASSERT_TRUE(Load("v14"));
    struct Row {
        int32_t index;
        bool compiled;
        int32_t listed;
    };
    const Row rows[] = {{-1, false, 0}, {-7, true, 0}, {6, false, 1}, {1 << 30, false, 1}};
    for (const Row& row : rows) {
        CCode code(row.index, row.compiled);
        EXPECT_EQ(code.name, nullptr) << row.index;
        EXPECT_EQ(code.code, nullptr) << row.index;
        EXPECT_EQ(code.kind, row.compiled ? CODE_KIND_COMPILED : CODE_KIND_CODE);
        EXPECT_EQ(g_CodeListCount, row.listed) << row.index;
    }
    // A kept object leaves the list alone when destroyed.
    CCode* kept = new CCode(0, false);
    kept->keep = 1;
    delete kept;
    EXPECT_EQ(g_CodeListCount, 1);
    g_CodeList = nullptr;
    g_CodeListCount = 0;
}

TEST_F(CodeTest, CodeTableGrowsByHalfAndKeepsEmptySlots)
{
    ASSERT_TRUE(Load("v14"));  // six code entries
    // Capacity: the entry count first, then (capacity * 3 + 1) / 2.
    struct Row {
        int32_t adds;
        int32_t capacity;
    };
    const Row rows[] = {{1, 6}, {6, 6}, {7, 9}, {10, 14}, {15, 21}};
    int32_t added = 0;
    for (const Row& row : rows) {
        while (added < row.adds) {
            int32_t index = added == 2 ? -1 : added % 6;
            EXPECT_EQ(Code_Add(index, false), added);
            ++added;
        }
        EXPECT_EQ(Code_Capacity(), row.capacity) << row.adds << " adds";
    }
    EXPECT_EQ(Code_Count(), 15);
    EXPECT_EQ(Code_Get(2), nullptr);  // index -1: an empty slot, nothing in the code list
    EXPECT_EQ(g_CodeListCount, 14);
    ASSERT_NE(Code_Get(7), nullptr);
    EXPECT_STREQ(Code_Get(7)->name, "ksl_Script_scr_b");
    EXPECT_EQ(Code_Get(15), nullptr);
    EXPECT_EQ(Code_Get(-1), nullptr);
    Code_Main_Free();
    EXPECT_EQ(Code_Count(), 0);
    EXPECT_EQ(g_CodeListCount, 0);
}

TEST_F(CodeTest, CodeTableWithoutCodeStoresNothingOrEmptySlots)
{
    // No code entries and no compiled code: no table can be made.
    EXPECT_EQ(Code_Add(3, false), 0);
    EXPECT_EQ(Code_Count(), 0);
    EXPECT_EQ(Code_Capacity(), 0);
    // Code entries counted but no bytecode: slots hold null.
    g_GameData.codeCount = 2;
    EXPECT_EQ(Code_Add(1, false), 0);
    EXPECT_EQ(Code_Add(0, false), 1);
    EXPECT_EQ(Code_Get(0), nullptr);
    EXPECT_EQ(Code_Get(1), nullptr);
    EXPECT_EQ(g_CodeListCount, 0);
    g_GameData.codeCount = 0;
    Code_Main_Free();

    // A compiled game without CODE entries sizes the table by its own entries.
    GameLinkData link{};
    link.codeEntryCount = 6;
    link.codeTable = kCodeTestTable;
    g_GameData.link = &link;
    EXPECT_EQ(Code_Add(5, false), 0);
    EXPECT_EQ(Code_Add(-1, false), 1);
    EXPECT_EQ(Code_Capacity(), 6);
    ASSERT_NE(Code_Get(0), nullptr);
    EXPECT_EQ(Code_Get(0)->nativeEntry, &kCodeTestTable[5]);
    EXPECT_STREQ(Code_Get(0)->name, "ksl_GlobalCode_two");
    EXPECT_EQ(Code_Get(1), nullptr);
    Code_Main_Free();
    g_GameData.link = nullptr;
}

TEST_F(CodeTest, VMBufferFreesOnlyBytesItOwns)
{
    size_t live = MemoryManager_Probe().liveBlocks;
    auto* bytes = static_cast<uint8_t*>(MemAlloc(64));
    delete new VMBuffer(64, bytes, false);
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, live + 1);  // borrowed bytes stay
    VMBuffer* owner = new VMBuffer(64, bytes, true);
    owner->handlers = static_cast<VMHandler*>(MemAlloc(8));
    owner->instructionIndex = static_cast<int32_t*>(MemAlloc(8));
    delete owner;
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, live);
}

TEST_F(CodeTest, ExecuteByKind)
{
    static const GameLinkCode entry = {"native", reinterpret_cast<void (*)()>(&CodeTestEvent<9>)};
    static uint8_t word[4] = {0, 0, 0, 0x9D};
    auto* self = reinterpret_cast<CInstance*>(0x1000);
    auto* other = reinterpret_cast<CInstance*>(0x2000);
    struct Row {
        const char* what;
        int32_t kind;
        bool native;
        int32_t codeLength;  // -1: no buffer
        bool execution;
        int nativeCalls;
        int vmCalls;
    };
    const Row rows[] = {
        {"native entry", CODE_KIND_CODE, true, 4, true, 1, 0},
        {"compiled kind", CODE_KIND_COMPILED, true, -1, true, 1, 0},
        {"bytecode", CODE_KIND_CODE, false, 4, true, 0, 1},
        {"empty bytecode", CODE_KIND_CODE, false, 0, true, 0, 0},
        {"no buffer", CODE_KIND_CODE, false, -1, true, 0, 0},
        {"kind 0", 0, true, 4, true, 0, 0},
        {"negative kind", -2, true, 4, true, 0, 0},
        {"-oldexec native", CODE_KIND_CODE, true, 4, false, 0, 0},
        {"-oldexec bytecode", CODE_KIND_CODE, false, 4, false, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        g_codeTestCalls.clear();
        SeamTrace_Clear();
        g_RunFlags.codeExecution = row.execution;
        CCode code(-1, false);
        code.kind = row.kind;
        if (row.native) code.nativeEntry = &entry;
        if (row.codeLength >= 0) code.code = new VMBuffer(row.codeLength, word, false);
        g_ErrorCaught = true;
        RValue result;
        RValue_SetUndefined(&result);
        EXPECT_TRUE(Code_Execute(self, other, &code, &result, 0));
        EXPECT_EQ(int(g_codeTestCalls.size()), row.nativeCalls);
        if (!g_codeTestCalls.empty()) {
            EXPECT_EQ(g_codeTestCalls[0].self, self);
            EXPECT_EQ(g_codeTestCalls[0].other, other);
        }
        EXPECT_EQ(Traced("VM_Exec"), row.vmCalls);
        EXPECT_EQ(g_ErrorCaught, !row.execution);  // cleared whenever code may run
        EXPECT_EQ(RValue_Kind(&result), uint32_t(VALUE_UNDEFINED));
        EXPECT_TRUE(Code_ExecuteShowError(self, other, &code, &result, 0));
        EXPECT_TRUE(Code_ExecuteOrError(self, other, &code, &result, 0));
    }
    g_RunFlags.codeExecution = true;
}

TEST_F(CodeTest, ConstantCodeCopiesItsValueIntoTheResult)
{
    CCode code(-1, false);
    code.kind = CODE_KIND_CONSTANT;
    RValue_SetString(&code.value, "constant text");
    RValue result;
    RValue_SetReal(&result, 3);
    EXPECT_TRUE(Code_Execute(nullptr, nullptr, &code, &result, 0));
    ASSERT_EQ(RValue_Kind(&result), uint32_t(VALUE_STRING));
    EXPECT_EQ(result.str, code.value.str);  // shared, counted twice
    RValue_Free(&result);
    EXPECT_EQ(RValue_Kind(&code.value), uint32_t(VALUE_STRING));
    // With -oldexec nothing runs, not even a copy.
    g_RunFlags.codeExecution = false;
    RValue_SetUndefined(&result);
    EXPECT_TRUE(Code_Execute(nullptr, nullptr, &code, &result, 0));
    EXPECT_EQ(RValue_Kind(&result), uint32_t(VALUE_UNDEFINED));
}

// ---- calling scripts --------------------------------------------------------------------------------

TEST_F(CodeTest, ScriptPerformFreesTwoArgumentsAndRestoresTheArgumentGlobals)
{
    ASSERT_TRUE(LoadCompiled()) << g_GameData.damage;
    ASSERT_TRUE(Script_Prepare());
    g_codeTestCalls.clear();
    RValue outer[1];
    RValue_SetReal(&outer[0], 1);
    VM_ArgCount = 1;
    VM_Args = outer;

    RValue values[2];
    RValue_SetUndefined(&values[0]);
    RValue_SetUndefined(&values[1]);
    RValue_SetString(&values[0], "first");
    RValue_SetString(&values[1], "second");
    ScriptArguments args = {2, values};
    RValue result;
    RValue_SetUndefined(&result);
    auto* self = reinterpret_cast<CInstance*>(0x10);
    EXPECT_TRUE(Script_Perform(2, self, nullptr, 2, &result, &args));  // scr_b: entry 1
    ASSERT_EQ(g_codeTestCalls.size(), 1u);
    const CodeTestCall& call = g_codeTestCalls[0];
    EXPECT_EQ(call.entry, 1);
    EXPECT_EQ(call.self, self);
    EXPECT_EQ(call.argc, 2);
    ASSERT_EQ(call.args.size(), 2u);
    EXPECT_EQ(call.args[0], &values[0]);
    EXPECT_EQ(call.args[1], &values[1]);
    EXPECT_EQ(call.vmArgCount, 2);
    EXPECT_EQ(call.vmArgs, values);
    EXPECT_EQ(result.real, 1.0);
    for (const RValue& v : values) EXPECT_EQ(RValue_Kind(&v), uint32_t(VALUE_UNDEFINED));
    EXPECT_EQ(VM_ArgCount, 1);
    EXPECT_EQ(VM_Args, outer);
    // The callers' own free afterwards does nothing more.
    for (RValue& v : values) RValue_Free(&v);

    // A count above the record's is cut to it; no record means no arguments.
    RValue one[1];
    RValue_SetReal(&one[0], 4);
    ScriptArguments short_ = {1, one};
    g_codeTestCalls.clear();
    EXPECT_TRUE(Script_Perform(0, nullptr, nullptr, 5, &result, &short_));
    EXPECT_TRUE(Script_Perform(0, nullptr, nullptr, 3, &result, nullptr));
    ASSERT_EQ(g_codeTestCalls.size(), 2u);
    EXPECT_EQ(g_codeTestCalls[0].argc, 1);
    EXPECT_EQ(g_codeTestCalls[1].argc, 0);
    EXPECT_EQ(g_codeTestCalls[1].vmArgs, nullptr);

    // With -oldexec a compiled script does not run either.
    g_RunFlags.codeExecution = false;
    g_codeTestCalls.clear();
    EXPECT_TRUE(Script_Perform(0, nullptr, nullptr, 0, &result, nullptr));
    EXPECT_TRUE(g_codeTestCalls.empty());
    VM_ArgCount = 0;
    VM_Args = nullptr;
}

TEST_F(CodeTest, ScriptPerformAnswersFalseWithoutAScript)
{
    ASSERT_TRUE(Load("v14"));
    ASSERT_TRUE(Script_Prepare());
    RValue result;
    RValue_SetUndefined(&result);
    for (int32_t index : {-1, 1, 5, 100000})
        EXPECT_FALSE(Script_Perform(index, nullptr, nullptr, 0, &result, nullptr)) << index;
}

TEST_F(CodeTest, ScriptWithEmptyCodeRunsNothingAndKeepsItsArguments)
{
    ASSERT_TRUE(Load("v15"));
    ASSERT_TRUE(Script_Prepare());
    SeamTrace_Clear();
    RValue values[2];
    RValue_SetUndefined(&values[0]);
    RValue_SetString(&values[0], "kept");
    RValue_SetReal(&values[1], 2);
    ScriptArguments args = {2, values};
    RValue result;
    RValue_SetUndefined(&result);
    EXPECT_TRUE(Script_Perform(3, nullptr, nullptr, 2, &result, &args));  // scr_empty
    EXPECT_EQ(Traced("VM_Exec"), 0);
    EXPECT_EQ(RValue_Kind(&values[0]), uint32_t(VALUE_STRING));
    EXPECT_EQ(RValue_Kind(&values[1]), uint32_t(VALUE_REAL));

    // A script with bytecode runs it once and frees the arguments.
    EXPECT_TRUE(Script_Perform(4, nullptr, nullptr, 2, &result, &args));
    EXPECT_EQ(Traced("VM_Exec"), 1);
    for (const RValue& v : values) EXPECT_EQ(RValue_Kind(&v), uint32_t(VALUE_UNDEFINED));
}

// ---- preparation ------------------------------------------------------------------------------------

TEST_F(CodeTest, ScriptPrepareRunsEachGlobalEntryOnceInOrderOnTheGlobalObject)
{
    ASSERT_TRUE(LoadCompiled()) << g_GameData.damage;
    ASSERT_NE(g_GlobalObject, nullptr);
    ASSERT_EQ(g_GameData.globCount, 2u);
    ASSERT_TRUE(g_GameData.scriptObjectModel);
    EXPECT_TRUE(Script_Prepare());
    // GLOB lists entries 5 and 2; scripts of a compiled game have no code object, so the script object
    // model runs none of them.
    ASSERT_EQ(g_codeTestCalls.size(), 2u);
    EXPECT_EQ(g_codeTestCalls[0].entry, 5);
    EXPECT_EQ(g_codeTestCalls[1].entry, 2);
    for (const CodeTestCall& call : g_codeTestCalls) {
        EXPECT_EQ(static_cast<void*>(call.self), static_cast<void*>(g_GlobalObject));
        EXPECT_EQ(static_cast<void*>(call.other), static_cast<void*>(g_GlobalObject));
    }
    EXPECT_EQ(g_CodeListCount, 0);  // the temporary code objects are gone
    for (int32_t slot : {0, 2, 3, 4}) {
        ASSERT_NE(Script_Data(slot), nullptr);
        EXPECT_EQ(Script_Data(slot)->GetCode(), nullptr);
        EXPECT_EQ(Script_Data(slot)->nativeEntry, &kCodeTestTable[Script_Data(slot)->code]);
    }
    EXPECT_EQ(Traced("VM_Exec"), 0);
}

TEST_F(CodeTest, ScriptPrepareRunsBytecodeOfGlobalsAndOfScriptsStartingABlock)
{
    struct Row {
        const char* fixture;
        int vmCalls;
    };
    // v14: the two GLOB entries. v15 (script object model off in the header) likewise.
    for (const Row& row : {Row{"v14", 2}, Row{"v15", 2}}) {
        SCOPED_TRACE(row.fixture);
        ASSERT_TRUE(Load(row.fixture));
        SeamTrace_Clear();
        EXPECT_TRUE(Script_Prepare());
        EXPECT_EQ(Traced("VM_Exec"), row.vmCalls);
        EXPECT_EQ(g_CodeListCount, 4);  // the four scripts' code objects
        Script_Free();
        UnloadGameData();
    }
    // With the script object model: scr_a and scr_a2 start their blocks; scr_b does not, scr_empty
    // has no bytecode.
    ASSERT_TRUE(Load("v15"));
    g_GameData.scriptObjectModel = true;
    SeamTrace_Clear();
    EXPECT_TRUE(Script_Prepare());
    EXPECT_EQ(Traced("VM_Exec"), 4);
    g_GameData.scriptObjectModel = false;
}

}  // namespace
