// Finding and loading the game data: the link record's embedded data, -game, the debug file,
// options.ini, missing and damaged data, memory, and the start-up stages around the passes.
#include "wad_test_util.h"

#include "core/text.h"
#include "lib/file_areas.h"
#include "services/launcher.h"
#include "world/command_line.h"
#include "world/ini.h"
#include "world/paths.h"
#include "world/room_change.h"
#include "world/run_state.h"
#include "world/runner.h"

#include <cstring>
#include <unistd.h>

namespace {

using wadtest::Expect;
using wadtest::g_boxes;
using wadtest::g_exitCalls;
using wadtest::g_exitStatus;

std::vector<uint8_t> g_runnerEmbedded;

void RunnerEmbeddedLink(GameLinkData* record)
{
    *record = {};
    record->embeddedData = g_runnerEmbedded.data();
    record->embeddedLength = uint32_t(g_runnerEmbedded.size());
}

class RunnerLoadGameTest : public wadtest::LoaderTest {
protected:
    void SetUp() override
    {
        LoaderTest::SetUp();
        MemFree(g_LauncherOwnGameFile);
        g_LauncherOwnGameFile = nullptr;
    }
    void TearDown() override
    {
        MemFree(g_LauncherOwnGameFile);
        g_LauncherOwnGameFile = nullptr;
        LoaderTest::TearDown();
    }

    // A fixture file copied to path (folders made); returns path.
    static std::string Place(const std::string& fixture, const std::string& path, const char* suffix = ".win")
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::filesystem::copy_file(wadtest::FixturePath(fixture, suffix), path,
                                   std::filesystem::copy_options::overwrite_existing);
        return path;
    }
    // End of a run as the run cycle does it.
    static void EndRun()
    {
        UnloadGameData();
        MemFree(g_WorkingDirectory);
        g_WorkingDirectory = nullptr;
        GameFile_Set(nullptr);
        Paths_ResetRunCache();
    }
};

TEST_F(RunnerLoadGameTest, EmbeddedDataIsCopiedAtEveryLoadAndTheRecordStaysUnchanged)
{
    Expect e("small_v14");
    g_runnerEmbedded = wadtest::ReadBytes(wadtest::FixturePath("small_v14"));
    const std::vector<uint8_t> original = g_runnerEmbedded;
    Loader_SetLinkSource(RunnerEmbeddedLink);
    for (int cycle = 0; cycle < 2; ++cycle) {
        e.InstallTables();
        ASSERT_TRUE(RunnerLoadGame()) << "cycle " << cycle;
        EXPECT_NE(g_GameData.data, g_runnerEmbedded.data());
        EXPECT_STREQ(g_GameFile, GetExecutablePath());
        ASSERT_TRUE(Wad_ReadHeader(g_GameData.data, g_GameData.length));
        ASSERT_TRUE(LoadGameData());
        for (const auto& p : e.Rows("patched"))
            EXPECT_EQ(wadtest::U32At(g_GameData.data, std::stoul(p[1])), std::stoul(p[2]))
                << "cycle " << cycle << " operand at " << p[1];
        ExpectImage("small_v14");
        EXPECT_EQ(g_runnerEmbedded, original) << "cycle " << cycle;
        EndRun();
        LoaderStandins_Reset();  // the texture ids are handed out again
    }
    EXPECT_NE(debug_.text.find("IFF wad found\n"), std::string::npos);
}

TEST_F(RunnerLoadGameTest, GameWithARelativeName)
{
    Expect e("small_v14");
    std::string full = Place("small_v14", kvtest::ScratchDir() + "/games/rel.win");
    GameFile_Set("games/rel.win");
    ASSERT_TRUE(RunnerLoadGame());
    EXPECT_STREQ(g_GameFile, full.c_str());
    EXPECT_STREQ(g_GameData.gamePath, full.c_str());
    EXPECT_STREQ(g_WorkingDirectory, (kvtest::ScratchDir() + "/games/").c_str());
    EXPECT_EQ(g_GameData.length, std::stoul(e.Rows("length").at(0).at(1)));
    const std::string expected = "RunnerLoadGame: games/rel.win\n" + std::string(73, '#') +
                                 "\n####!!!!$$$$$$ pwd - " + kvtest::ScratchDir() + "/games/\n" + std::string(73, '#') +
                                 "\nRunnerLoadGame() - " + full + "\nChecking if INIFile " + kvtest::ScratchDir() +
                                 "/games/options.ini Exists\n!!!!No INI File " + kvtest::ScratchDir() +
                                 "/games/options.ini\nReading File " + full + "\nLoaded File " + full + "(" +
                                 std::to_string(g_GameData.length) + ")\nIFF wad found\n";
    EXPECT_EQ(debug_.text, expected);
    EXPECT_EQ(g_exitCalls, 0);
}

TEST_F(RunnerLoadGameTest, GameWithAnAbsoluteNameOutsideTheCurrentFolder)
{
    std::string elsewhere = kvtest::ScratchDir() + "/elsewhere/game.win";
    Place("small_v14", elsewhere);
    std::filesystem::create_directories(kvtest::ScratchDir() + "/run");
    std::string cwd = std::filesystem::current_path().string();
    ASSERT_EQ(chdir((kvtest::ScratchDir() + "/run").c_str()), 0);
    GameFile_Set(elsewhere.c_str());
    bool loaded = RunnerLoadGame();
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    ASSERT_TRUE(loaded);
    EXPECT_STREQ(g_GameFile, elsewhere.c_str());
    EXPECT_TRUE(FileArea_IsAllowed(&FileArea_OpenAllowList, elsewhere.c_str()));
    EXPECT_NE(debug_.text.find("Loaded File " + elsewhere + "("), std::string::npos) << debug_.text;
}

TEST_F(RunnerLoadGameTest, TheDebugFileBesideTheGameIsRead)
{
    Expect e("with_debug");
    std::string dir = kvtest::ScratchDir() + "/dbg.folder/";
    Place("with_debug", dir + "game.win");
    Place("with_debug", dir + "game.qzdebug", ".qzdebug");
    GameFile_Set((dir + "game.win").c_str());
    ASSERT_TRUE(RunnerLoadGame());
    EXPECT_STREQ(g_GameData.debugPath, (dir + "game.qzdebug").c_str());
    ASSERT_NE(g_GameData.debugData, nullptr);
    EXPECT_EQ(g_GameData.debugInfoCount, 4u);
    EXPECT_EQ(g_GameData.debugScriptCount, 2u);
    EXPECT_EQ(g_GameData.debugInstanceCount, 3u);
    for (const auto& c : e.Rows("debug_chunk"))
        if (c[1] == "INST") {
            EXPECT_EQ(g_GameData.debugInstances, g_GameData.debugData + std::stoul(c[2]));
        }
    // Read before the game data.
    EXPECT_LT(debug_.text.find("Process Chunk: DBGI"), debug_.text.find("Reading File"));
}

TEST_F(RunnerLoadGameTest, OnlyTheFileNamesDotStartsTheDebugExtension)
{
    std::string dir = kvtest::ScratchDir() + "/v1.2/";
    Place("with_debug", dir + "game");
    Place("with_debug", dir + "game.qzdebug", ".qzdebug");
    GameFile_Set((dir + "game").c_str());
    ASSERT_TRUE(RunnerLoadGame());
    EXPECT_STREQ(g_GameData.debugPath, (dir + "game.qzdebug").c_str());
    EXPECT_EQ(g_GameData.debugInstanceCount, 3u);
}

TEST_F(RunnerLoadGameTest, OptionsIniBesideTheGameIsHandedOn)
{
    std::string dir = kvtest::ScratchDir() + "/withini/";
    Place("small_v14", dir + "game.win");
    kvtest::WriteFile(dir + "options.ini", "[Windows]\nSleepMargin=2\n");
    GameFile_Set((dir + "game.win").c_str());
    ASSERT_TRUE(RunnerLoadGame());
    ASSERT_NE(g_GameData.iniFile, nullptr);
    EXPECT_STREQ(g_GameData.iniFile->Name(), (dir + "options.ini").c_str());
    EXPECT_EQ(g_GameData.iniFile->ReadInt("Windows", "SleepMargin", 0), 2);
    EXPECT_EQ(g_RunFlags.sleepMargin, 2);
    EXPECT_NE(debug_.text.find(dir + "options.ini file contents: [Windows]\nSleepMargin=2\n"), std::string::npos);
    EXPECT_STREQ(g_GameData.iniPath, (dir + "options.ini").c_str());
    EXPECT_NE(debug_.text.find("Checking if INIFile " + dir + "options.ini Exists\n"), std::string::npos);
    EXPECT_EQ(debug_.text.find("!!!!No INI File"), std::string::npos);
}

TEST_F(RunnerLoadGameTest, TheLaunchersOwnGameFileIsRememberedOnce)
{
    std::string first = Place("small_v14", kvtest::ScratchDir() + "/first.win");
    std::string second = Place("small_v15", kvtest::ScratchDir() + "/second.win");
    GameFile_Set(first.c_str());
    ASSERT_TRUE(RunnerLoadGame());
    EndRun();
    GameFile_Set(second.c_str());
    ASSERT_TRUE(RunnerLoadGame());
    EXPECT_STREQ(g_LauncherOwnGameFile, first.c_str());
}

TEST_F(RunnerLoadGameTest, MemoryTotalsComeBackAfterUnloading)
{
    std::string path = Place("with_debug", kvtest::ScratchDir() + "/mem/game.win");
    Place("with_debug", kvtest::ScratchDir() + "/mem/game.qzdebug", ".qzdebug");
    Expect("with_debug").InstallTables();
    GameFile_Set(path.c_str());
    FileArea_AddAllowed(&FileArea_OpenAllowList, path.c_str(), false);
    g_LauncherOwnGameFile = String_Duplicate(path.c_str());
    MemoryProbe before = MemoryManager_Probe();
    ASSERT_TRUE(RunnerLoadGame());
    ASSERT_TRUE(Wad_ReadHeader(g_GameData.data, g_GameData.length));
    ASSERT_TRUE(LoadGameData());
    UnloadGameData();
    // The run globals the loader set go with the run, not with the data.
    MemFree(g_WorkingDirectory);
    g_WorkingDirectory = nullptr;
    MemFree(g_ProjectName);
    g_ProjectName = nullptr;
    Paths_ResetRunCache();
    ObjectBase_Free(g_GlobalObject);
    g_GlobalObject = nullptr;
    ObjectBasePool_Clear();
    MemoryProbe after = MemoryManager_Probe();
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);
    EXPECT_EQ(after.heapBytesInUse, before.heapBytesInUse);
}

TEST_F(RunnerLoadGameTest, MissingGameShowsTheBoxAndExits)
{
    for (bool child : {false, true}) {
        g_ChildGame = child;
        g_exitCalls = 0;
        g_boxes.clear();
        RoomChangeCode = ROOM_CHANGE_NONE;
        std::string path = kvtest::ScratchDir() + "/missing.win";
        GameFile_Set(path.c_str());
        EXPECT_FALSE(RunnerLoadGame());
        EXPECT_EQ(g_boxes, std::vector<std::string>{"Unable to find game!!: " + path});
        EXPECT_NE(debug_.text.find("FAILED to load File " + path + "\n"), std::string::npos);
        if (child) {
            EXPECT_EQ(g_exitCalls, 0);
            EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_GAME_END);
        } else {
            EXPECT_EQ(g_exitCalls, 1);
            EXPECT_EQ(g_exitStatus, 1);
            EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_NONE);
        }
        EXPECT_EQ(g_LauncherOwnGameFile, nullptr);
        EndRun();
    }
}

// Changed rule: damaged data used to show the missing-data box; the box now says what is damaged.
TEST_F(RunnerLoadGameTest, DamagedFormFailsWithTheDamageLineInTheBox)
{
    for (const char* fixture : {"damage_form_short", "damage_not_form"}) {
        g_exitCalls = 0;
        g_boxes.clear();
        debug_.text.clear();
        release_.text.clear();
        std::string path = Place(fixture, kvtest::ScratchDir() + "/" + fixture + ".win");
        uint32_t length = uint32_t(std::filesystem::file_size(path));
        GameFile_Set(path.c_str());
        EXPECT_FALSE(RunnerLoadGame());
        uint32_t formSize = wadtest::U32At(wadtest::ReadBytes(path).data(), 4);
        char line[512];
        std::snprintf(line, sizeof line, "Game data is damaged: %s (FORM size %u, length %u)\n", path.c_str(), formSize,
                      length);
        EXPECT_NE(debug_.text.find(line), std::string::npos) << debug_.text;
        EXPECT_EQ(release_.text, line);
        const std::string shown(line, std::strlen(line) - 1);
        EXPECT_EQ(g_boxes, std::vector<std::string>{shown});
        EXPECT_EQ(g_exitStatus, 1);
        EXPECT_EQ(g_GameData.data, nullptr);
        EndRun();
    }
}

TEST_F(RunnerLoadGameTest, NoGameFile)
{
    struct Row {
        bool headless;
        bool child;
        int dialogs;
    };
    // The open-file dialog is asked through the dialog-answer hook, which declines.
    static int dialogs;
    DialogAnswerHook oldHook = Platform_SetDialogAnswerHook([](const DialogRequest& request, DialogAnswer* answer) {
        if (std::string(request.kind) == "open") ++dialogs;
        answer->accepted = false;
        return true;
    });
    for (const Row& row : {Row{true, false, 0}, Row{false, false, 1}, Row{false, true, 1}}) {
        dialogs = 0;
        g_RunFlags.headless = row.headless;
        g_ChildGame = row.child;
        g_exitCalls = 0;
        g_boxes.clear();
        RoomChangeCode = ROOM_CHANGE_NONE;
        LoaderStandins_Reset();
        EXPECT_FALSE(RunnerLoadGame());
        EXPECT_EQ(dialogs, row.dialogs);
        EXPECT_TRUE(g_boxes.empty());
        EXPECT_EQ(g_exitCalls, row.child ? 0 : 1);
        EXPECT_EQ(RoomChangeCode, row.child ? ROOM_CHANGE_GAME_END : ROOM_CHANGE_NONE);
        EndRun();
    }
    Platform_SetDialogAnswerHook(oldHook);
}

TEST_F(RunnerLoadGameTest, WorkingDirectoryFromTheGamePath)
{
    const struct {
        const char* path;
        const char* directory;
    } rows[] = {
        {"/a/b/game.win", "/a/b/"}, {"game.win", ""}, {"/game.win", ""},
        {"C:\\games\\data.win", "C:\\games\\"}, {"a/b\\c.win", "a/"},
    };
    for (const auto& row : rows) {
        MemFree(g_WorkingDirectory);
        g_WorkingDirectory = nullptr;
        debug_.text.clear();
        InitWorkingDirectory(row.path);
        EXPECT_STREQ(g_WorkingDirectory, row.directory) << row.path;
        std::string rule(73, '#');
        EXPECT_EQ(debug_.text, rule + "\n####!!!!$$$$$$ pwd - " + row.directory + "\n" + rule + "\n");
    }
    InitWorkingDirectory("/other/x.win");  // the first call of a run wins
    EXPECT_STREQ(g_WorkingDirectory, "a/");
}

TEST_F(RunnerLoadGameTest, StartupRunsTheLoaderStagesInOrder)
{
    Expect("small_v14").InstallTables();
    std::string path = Place("small_v14", kvtest::ScratchDir() + "/start/game.win");
    GameFile_Set(path.c_str());
    RunnerStartup();
    // A game without rooms starts and ends at once: the main loop is entered and stops on the game end.
    EXPECT_TRUE(g_Running);
    EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_GAME_END);
    g_Running = false;
    RoomChangeCode = ROOM_CHANGE_NONE;
    const char* stages[] = {"Tarko Games Runner v1.0(999)[r32908]", "RunnerLoadGame: ", "IFF wad found\n",
                            "Get Resolution\n", "Get Header Information\n", "InitKSLFunctions\n", "Do The Work\n",
                            "LoadGameData()\n", "initialise everything!\n", "Process Chunk: GEN8",
                            "PrepareGame()\n", "Script_Prepare() \n", "Finished PrepareGame() \n", "Run_Start\n"};
    size_t at = 0;
    for (const char* stage : stages) {
        size_t found = debug_.text.find(stage, at);
        ASSERT_NE(found, std::string::npos) << stage << " missing after " << at << ":\n" << debug_.text;
        at = found;
    }
    EXPECT_EQ(g_exitCalls, 0);
}

TEST_F(RunnerLoadGameTest, StartupStopsAtDamageFoundByEitherPass)
{
    struct Row {
        const char* fixture;
        bool box;              // pass 1: the box shows the damage line and the run exits
        const char* lastLine;  // pass 2: "Failed to load the game"
    };
    const Row rows[] = {{"damage_room_order_overrun", true, nullptr},
                        {"damage_glob_index", false, "Failed to load the game\n"}};
    for (const Row& row : rows) {
        g_exitCalls = 0;
        g_boxes.clear();
        debug_.text.clear();
        wadtest::InstallNames({{"score", 100004}}, {{"show", 55}});
        std::string path = Place(row.fixture, kvtest::ScratchDir() + "/start/" + row.fixture + ".win");
        GameFile_Set(path.c_str());
        RunnerStartup();
        EXPECT_FALSE(g_Running) << "a failed stage ends the run with status 1";
        EXPECT_NE(debug_.text.find("Game data is damaged: "), std::string::npos) << debug_.text;
        EXPECT_EQ(debug_.text.find("Run_Start\n"), std::string::npos);
        ASSERT_EQ(g_boxes.size(), row.box ? 1u : 0u) << row.fixture;
        if (row.box) {
            EXPECT_EQ(g_boxes[0].rfind("Game data is damaged: GEN8 at offset ", 0), 0u) << g_boxes[0];
            EXPECT_NE(debug_.text.find(g_boxes[0] + "\n"), std::string::npos) << "the box shows the log's line";
        }
        EXPECT_EQ(g_exitCalls, row.box ? 1 : 0) << row.fixture;
        if (row.lastLine) {
            EXPECT_NE(debug_.text.find(row.lastLine), std::string::npos);
        }
        EndRun();
    }
}

}  // namespace
