// The two chunk passes: their log lines, the dispatch table, unknown and empty chunks, the global
// object, the link tables, and damaged data.
#include "wad_test_util.h"

#include "audio/audio.h"
#include "core/constants.h"
#include "core/script.h"

#include <algorithm>

namespace {

using wadtest::Expect;
using wadtest::g_boxes;
using wadtest::g_exitCalls;
using wadtest::g_exitStatus;

using WadPasses = wadtest::LoaderTest;

// The lines of a log that start with prefix, in order.
std::vector<std::string> PassesLines(const std::string& log, const std::string& prefix)
{
    std::vector<std::string> out;
    std::stringstream ss(log);
    std::string line;
    while (std::getline(ss, line))
        if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
}

TEST_F(WadPasses, Pass1LogsEachChunkItReadsInOrder)
{
    Expect("small_v14").InstallTables();
    uint32_t length = 0;
    uint8_t* data = Load("small_v14", &length);
    ASSERT_TRUE(Wad_ReadHeader(data, length));
    EXPECT_EQ(debug_.text,
              "Get Header Information\nInitKSLFunctions\n"
              "HighScore..Game..Math..Graphic..Action..File..Resource..Interaction..3D..Particle..Misc..DS..Sound.."
              "Physics..Gamepad..Buffers..Networking..Shaders..Tarko..Fini\n"
              "Code_Load()\nVARI_Load()\nID_STRG\n");
    EXPECT_TRUE(g_GameData.hasBytecode);
    EXPECT_EQ(g_GameData.codeCount, 1u);
    EXPECT_GT(g_GameData.stringCount, 0u);
    EXPECT_EQ(g_GameData.variWords, uint32_t(std::stoul(Expect("small_v14").Rows("chunk")[2][3]) / 4));
}

TEST_F(WadPasses, Pass2LogsEveryChunkSizeZeroIncluded)
{
    Expect e("passes_all");
    auto [pass1, pass2] = RunPasses("passes_all");
    ASSERT_TRUE(pass1);
    EXPECT_FALSE(pass2);  // the unknown tag
    std::vector<std::string> expected;
    for (const auto& c : e.Rows("chunk")) expected.push_back("Process Chunk: " + c[1] + "   " + c[3]);
    EXPECT_EQ(PassesLines(debug_.text, "Process Chunk: "), expected);
    EXPECT_LT(debug_.text.find("initialise everything!\n"), debug_.text.find("Process Chunk: "));
    EXPECT_NE(std::find(expected.begin(), expected.end(), "Process Chunk: SPRT   0"), expected.end());
    EXPECT_NE(std::find(expected.begin(), expected.end(), "Process Chunk: HELP   0"), expected.end());
}

TEST_F(WadPasses, UnknownChunkIsLoggedWithItsSignedValueAndTheWalkGoesOn)
{
    auto [pass1, pass2] = RunPasses("passes_all");
    ASSERT_TRUE(pass1);
    EXPECT_FALSE(pass2);
    // "QQQ\xF0" as a little-endian word is 0xF0515151.
    EXPECT_NE(debug_.text.find("unknown Chunk QQQ\xF0:-263106223\n"), std::string::npos) << debug_.text;
    EXPECT_FALSE(g_GameData.damaged);
    // Chunks after it were still dispatched: the script table and the waves.
    EXPECT_EQ(Script_Number(), 1);
    EXPECT_STREQ(Script_GetName(0), "scr_main");
    EXPECT_TRUE(Traced("Wave_Init"));
    Script_Free();
}

// The loader a chunk goes to; null when the tag's table entry calls nothing.
const char* PassesLoaderOf(const std::string& tag, bool newAudio)
{
    static const std::map<std::string, const char*> plain = {
        {"LANG", "Language_Load"},     {"EXTN", "Extension_Load"},
        {"SPRT", "Sprite_Load"}, {"BGND", "Background_Load"},   {"PATH", "Path_Load"},
        {"SHDR", "Shader_Load"},       {"FONT", "Font_Load"},
        {"TMLN", "TimeLine_Load"}, {"OBJT", "Object_Load"},     {"ROOM", "Room_Load"},
        {"GEN8", "Room_LoadOrder"}};
    if (tag == "SOND") return newAudio ? "Audio_Load" : "Sound_Init";
    if (tag == "AGRP") return newAudio ? "AudioGroup_Load" : nullptr;
    if (tag == "AUDO") return newAudio ? "Audio_WAVs" : "Wave_Init";
    auto it = plain.find(tag);
    return it == plain.end() ? nullptr : it->second;
}

TEST_F(WadPasses, EachTagReachesItsLoaderWithBothAudioEngines)
{
    const std::vector<std::string> loaders = {
        "Language_Load", "Extension_Load", "Sound_Init", "Audio_Load", "AudioGroup_Load",
        "Sprite_Load", "Background_Load", "Path_Load", "Shader_Load", "Font_Load",
        "TimeLine_Load", "Object_Load", "Room_Load", "Wave_Init", "Audio_WAVs", "Room_LoadOrder"};
    Expect e("passes_all");
    for (bool newAudio : {false, true}) {
        SeamTrace_Clear();
        g_GameOptions.newAudioEngine = newAudio;
        auto [pass1, pass2] = RunPasses("passes_all");
        ASSERT_TRUE(pass1);
        std::vector<std::string> seen, expected;
        for (const auto& n : Trace())
            if (std::find(loaders.begin(), loaders.end(), n) != loaders.end()) seen.push_back(n);
        for (const auto& c : e.Rows("chunk"))
            if (c[3] != "0")
                if (const char* loader = PassesLoaderOf(c[1], newAudio)) expected.push_back(loader);
        EXPECT_EQ(seen, expected) << "new audio engine " << newAudio;
        // The OPTN chunk (the last dispatched, so it does not pick the audio engine above) reached the
        // real options reader.
        EXPECT_EQ(g_GameOptions.windowColour, 0x123456u);
        EXPECT_EQ(Options_UserConstants().count, 1);
        // The SCPT chunk reached the real script table.
        EXPECT_EQ(Script_Number(), 1);
        EXPECT_STREQ(Script_GetName(0), "scr_main");
        ASSERT_NE(Script_Data(0), nullptr);
        EXPECT_EQ(Script_Data(0)->code, 0);
        Script_Free();
        // Kept for later: the texture page entries and the global code list.
        EXPECT_NE(g_GameData.tpagBody, nullptr);
        EXPECT_NE(g_GameData.globList, nullptr);
        EXPECT_EQ(g_GameData.globCount, 1u);
        UnloadGameData();
    }
}

TEST_F(WadPasses, ChunkLoadersGetTheirBodyAndSizeInTheData)
{
    Expect e("passes_all");
    auto [pass1, pass2] = RunPasses("passes_all");
    ASSERT_TRUE(pass1);
    ASSERT_FALSE(g_LoaderStandins.chunks.empty());
    for (const auto& call : g_LoaderStandins.chunks) {
        if (call.name == "Room_LoadOrder") continue;
        uint32_t body = uint32_t(call.body - g_GameData.data);
        bool found = false;
        for (const auto& c : e.Rows("chunk"))
            if (std::stoul(c[2]) + 8 == body && std::stoul(c[3]) == call.size) found = true;
        EXPECT_TRUE(found) << call.name << " got body " << body << " size " << call.size;
        EXPECT_EQ(call.base, g_GameData.data);
    }
}

TEST_F(WadPasses, EmptyCodeChunkLeavesHasBytecodeOff)
{
    auto [pass1, pass2] = RunPasses("empty_code");
    ASSERT_TRUE(pass1);
    EXPECT_TRUE(pass2);
    EXPECT_FALSE(g_GameData.hasBytecode);
    EXPECT_EQ(debug_.text.find("Code_Load()"), std::string::npos);
    EXPECT_NE(debug_.text.find("Process Chunk: CODE   0\n"), std::string::npos);
}

TEST_F(WadPasses, PassTwoResetsTheResourceTablesFirst)
{
    // A script table left from an earlier load is emptied by pass 2 (small_v14 has no SCPT chunk).
    ASSERT_TRUE(RunPasses("passes_all").first);
    ASSERT_EQ(Script_Number(), 1);
    ASSERT_EQ(g_GameOptions.windowColour, 0x123456u);  // and the options of its OPTN chunk
    ASSERT_EQ(Options_UserConstants().count, 1);
    UnloadGameData();
    ObjectBase_Free(g_GlobalObject);
    g_GlobalObject = nullptr;
    SeamTrace_Clear();
    auto [pass1, pass2] = RunPasses("small_v14");
    ASSERT_TRUE(pass1 && pass2);
    EXPECT_EQ(Script_Number(), 0);
    std::vector<std::string> resets;
    for (const auto& n : Trace())
        if (n == "Sound_Clear" || n == "Sprite_Init" || n == "Background_Init" || n == "Path_Init" ||
            n == "Font_Init" || n == "TimeLine_Init" || n == "Object_Init" || n == "Room_Init" ||
            n == "CCameraManager::Reset" || n == "Camera_CreateDefault")
            resets.push_back(n);
    const std::vector<std::string> expected = {"Sound_Clear",   "Sprite_Init",          "Background_Init",
                                               "Path_Init",     "Font_Init",
                                               "TimeLine_Init", "Object_Init",          "Room_Init",
                                               "CCameraManager::Reset", "Camera_CreateDefault"};
    EXPECT_EQ(resets, expected);
    // The game options are back at their defaults (small_v14 has no OPTN chunk).
    EXPECT_EQ(g_GameOptions.windowColour, 0xFFFFFFu);
    EXPECT_TRUE(g_GameOptions.showCursor);
    EXPECT_EQ(Options_UserConstants().count, 0);
    // Then the global object is made (allocations leave no trace).
    EXPECT_NE(g_GlobalObject, nullptr);
}

TEST_F(WadPasses, GlobalObjectGetsTheLargerSlotCount)
{
    struct Row {
        int32_t linkGlobals;
        int32_t linkInstances;
        int32_t slots;
    };
    // The data says 3 globals and 5 instance variables; positive link counts replace them.
    const Row rows[] = {{0, 0, 5}, {9, 0, 9}, {0, 7, 7}, {2, 4, 4}, {-1, -1, 5}};
    for (const Row& row : rows) {
        GameLinkData link{};
        link.globalSlotCount = row.linkGlobals;
        link.instanceSlotCount = row.linkInstances;
        Expect("global_slots_v15").InstallTables();
        uint32_t length = 0;
        uint8_t* data = Load("global_slots_v15", &length);
        ASSERT_TRUE(Wad_ReadHeader(data, length));
        EXPECT_EQ(g_GameData.globalCount, 3);
        EXPECT_EQ(g_GameData.instanceCount, 5);
        g_GameData.link = &link;
        g_GlobalObject = nullptr;
        ASSERT_TRUE(Wad_LoadChunks(data, length));
        g_GameData.link = nullptr;
        EXPECT_NE(g_GlobalObject, nullptr);
        EXPECT_EQ(g_GlobalObject->slotCount, row.slots) << row.linkGlobals << "," << row.linkInstances;
        EXPECT_EQ(g_GlobalObject->defaultKind, 0xFFFFFF);
        ObjectBase_Free(g_GlobalObject);
        g_GlobalObject = nullptr;
        UnloadGameData();
    }
}

TEST_F(WadPasses, AnExistingHolderKeepsItsGlobalsAndIsNotReplaced)
{
    GameLinkData link{};
    link.globalSlotCount = 50;
    const int32_t registered = ObjectTable.count;
    g_GlobalObject = reinterpret_cast<QZObjectBase*>(&link);
    Expect("global_slots_v15").InstallTables();
    uint32_t length = 0;
    uint8_t* data = Load("global_slots_v15", &length);
    ASSERT_TRUE(Wad_ReadHeader(data, length));
    g_GameData.link = &link;
    ASSERT_TRUE(Wad_LoadChunks(data, length));
    g_GameData.link = nullptr;
    EXPECT_EQ(ObjectTable.count, registered);
    EXPECT_EQ(g_GlobalObject, reinterpret_cast<QZObjectBase*>(&link));
    g_GlobalObject = nullptr;
}

TEST_F(WadPasses, EveryNameOfTheLinkTablesIsBound)
{
    GameLinkNameId variables[] = {{"score", 0}, {"lives", 0}, {"nowhere", 5}, {nullptr, 0}};
    GameLinkNameId builtins[] = {{"show", 0}, {"draw_text", 0}, {nullptr, 0}};
    GameLinkData link{};
    link.variables = variables;
    link.builtins = builtins;
    Expect e("small_v14");
    e.InstallTables({{"lives", 100007}}, {{"draw_text", 321}});
    uint32_t length = 0;
    uint8_t* data = Load("small_v14", &length);
    ASSERT_TRUE(Wad_ReadHeader(data, length));
    g_GameData.link = &link;
    ASSERT_TRUE(Wad_LoadChunks(data, length));
    g_GameData.link = nullptr;
    EXPECT_EQ(variables[0].id, std::stoi(e.Value("var_id", "score")));
    EXPECT_EQ(variables[1].id, 100007);
    EXPECT_EQ(variables[2].id, 100008);  // a name met first is added after the others
    EXPECT_EQ(Code_Variable_Find("nowhere"), 100008);
    EXPECT_EQ(builtins[0].id, std::stoi(e.Value("func_id", "show")));
    EXPECT_EQ(builtins[1].id, 321);
}

// Damaged data: what each pass makes of it and the tag the damage line names.
struct DamageRow {
    const char* fixture;
    bool pass1;
    bool pass2;
    const char* tag;  // of the damage line; null: not damaged
};

void PrintTo(const DamageRow& row, std::ostream* os) { *os << row.fixture; }

class WadDamage : public wadtest::LoaderTest, public testing::WithParamInterface<DamageRow> {};

TEST_P(WadDamage, FailsWithTheDamageLineAndReadsNothingOutside)
{
    const DamageRow& row = GetParam();
    wadtest::InstallNames({{"score", 100004}}, {{"show", 55}});
    uint32_t length = 0;
    uint8_t* data = Load(row.fixture, &length);
    bool pass1 = Wad_ReadHeader(data, length);
    bool pass2 = pass1 && Wad_LoadChunks(data, length);
    EXPECT_EQ(pass1, row.pass1) << debug_.text;
    EXPECT_EQ(pass2, row.pass2) << debug_.text;
    if (row.tag) {
        EXPECT_TRUE(g_GameData.damaged);
        std::string line = std::string("Game data is damaged: ") + row.tag + " at offset ";
        EXPECT_NE(debug_.text.find(line), std::string::npos) << debug_.text;
    } else {
        EXPECT_FALSE(g_GameData.damaged) << g_GameData.damage;
    }
    EXPECT_EQ(g_exitCalls, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WadDamage,
    testing::Values(DamageRow{"damage_form_short", false, false, "FORM"},
                    DamageRow{"damage_not_form", false, false, "FORM"},
                    DamageRow{"damage_chunk_past_end", false, false, "CODE"},
                    DamageRow{"damage_last_chunk_past_end", false, false, "STRG"},
                    // A size 8 short lands the walk on zero bytes: the chunk before them is named.
                    DamageRow{"e2e_damaged_chunk_size", false, false, "GEN8"},
                    DamageRow{"damage_truncated", false, false, "STRG"},
                    DamageRow{"damage_trailing_bytes", false, false, "FORM"},
                    DamageRow{"damage_header_short", false, false, "GEN8"},
                    DamageRow{"damage_header_version_0", true, true, nullptr},
                    DamageRow{"damage_header_version_255", true, true, nullptr},
                    DamageRow{"damage_room_order_overrun", false, false, "GEN8"},
                    DamageRow{"damage_string_no_nul", false, false, "STRG"},
                    DamageRow{"damage_string_length", false, false, "STRG"},
                    DamageRow{"damage_string_count", false, false, "STRG"},
                    DamageRow{"damage_code_length", true, false, "CODE"},
                    DamageRow{"damage_code_entry_outside", true, false, "CODE"},
                    DamageRow{"damage_remap_operand", true, false, "CODE"},
                    DamageRow{"damage_chain_outside", false, false, "VARI"},
                    DamageRow{"damage_chain_step_zero", false, false, "VARI"},
                    DamageRow{"damage_chain_cycle", false, false, "VARI"},
                    DamageRow{"damage_chain_count", false, false, "VARI"},
                    DamageRow{"damage_func_chain_outside", true, false, "FUNC"},
                    DamageRow{"damage_vari_partial_record", true, true, nullptr},
                    DamageRow{"damage_vari15_counts", false, false, "VARI"},
                    DamageRow{"damage_vari15_short", false, false, "VARI"},
                    DamageRow{"damage_func15_count", true, false, "FUNC"},
                    DamageRow{"damage_glob_index", true, false, "GLOB"},
                    DamageRow{"damage_txtr_count", true, false, "TXTR"},
                    DamageRow{"damage_tpag_count", true, false, "TPAG"},
                    DamageRow{"damage_tpag_entry_outside", true, false, "TPAG"},
                    DamageRow{"damage_txtr_data_outside", true, false, "TXTR"},
                    DamageRow{"damage_unaligned_chunks", true, true, nullptr}),
    [](const testing::TestParamInfo<DamageRow>& info) { return std::string(info.param.fixture); });

TEST_F(WadPasses, NothingIsAllocatedForACountBeforeItIsChecked)
{
    // A TXTR count of 2^31 would ask for 8 GB of page ids.
    wadtest::InstallNames({{"score", 100004}}, {{"show", 55}});
    MemoryProbe before = MemoryManager_Probe();
    uint32_t length = 0;
    uint8_t* data = Load("damage_txtr_count", &length);
    ASSERT_TRUE(Wad_ReadHeader(data, length));
    EXPECT_FALSE(Wad_LoadChunks(data, length));
    EXPECT_EQ(g_GameData.texturePageIds, nullptr);
    EXPECT_EQ(GR_Texture_Count(), 0);
    EXPECT_LT(MemoryManager_Probe().heapBytesInUse, before.heapBytesInUse + (1u << 20));
}

}  // namespace
