// The options chunk in both layouts (formkit bodies), its user constants, damaged chunks, options.ini
// and the precedence of the command line over it, and the open-file dialog.
#include "wad_test_util.h"

#include "core/constants.h"
#include "core/error.h"
#include "core/varlist.h"
#include "world/ini.h"

#include <sys/stat.h>

namespace {

using wadtest::g_boxes;

// A case of tests/fixtures/optn_cases.py.
std::string OptnCase(const std::string& name)
{
    static const std::string dir = wadtest::CasesFolder("optn_cases.py");
    return dir + name + ".win";
}

std::string OptionsDescribe(const GameOptions& o)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "full=%d audio=%d cursor=%d colour=%06X mode=%d depth=%d res=%d freq=%d altenter=%d freeze=%d "
                  "abort=%d unset=%d collision=%d version=%d.%d",
                  o.fullScreen, o.newAudioEngine, o.showCursor, unsigned(o.windowColour), o.changeDisplayMode,
                  int(o.colourDepthCode), int(o.resolutionCode), int(o.frequencyCode), o.altEnterFullScreen,
                  o.freezeWhenInactive, o.errorsAbort, o.unsetVariablesAreErrors, o.collisionMode,
                  int(o.versionMajor), int(o.versionMinor));
    return text;
}

// What the reset leaves, given the two options it keeps.
GameOptions OptionsAfterReset(bool audio, bool collision)
{
    GameOptions o{};
    o.newAudioEngine = audio;
    o.collisionMode = collision;
    o.showCursor = true;
    o.windowColour = 0xFFFFFF;
    o.altEnterFullScreen = true;
    return o;
}

std::vector<std::string> OptionsConstantTexts()
{
    std::vector<std::string> out;
    OptionConstantTexts t = Options_UserConstants();
    for (int32_t i = 0; i < t.count; ++i)
        out.push_back(std::string(t.names[i] ? t.names[i] : "(null)") + "=" + (t.values[i] ? t.values[i] : "(null)"));
    return out;
}

class OptionsChunk : public wadtest::LoaderTest {
protected:
    void TearDown() override
    {
        Options_InitDefaults();
        g_GameOptions = {};
        wadtest::LoaderTest::TearDown();
    }

    // The case's container becomes the loaded data; its OPTN body goes to Option_Load as pass 2 hands
    // it on (the reset first, as pass 2 does, unless reset is false).
    bool Load(const std::string& name, bool reset = true)
    {
        UnloadGameData();
        std::vector<uint8_t> bytes = wadtest::ReadBytes(OptnCase(name));
        auto* data = static_cast<uint8_t*>(MemAlloc(bytes.size()));
        std::memcpy(data, bytes.data(), bytes.size());
        g_GameData.data = data;
        g_GameData.length = uint32_t(bytes.size());
        uint32_t offset = 8;
        while (offset + 8 <= bytes.size() && std::memcmp(data + offset, "OPTN", 4) != 0)
            offset += 8 + wadtest::U32At(data, offset + 4);
        EXPECT_LE(offset + 8, bytes.size()) << name << " has no OPTN chunk";
        if (reset) Options_InitDefaults();
        return Option_Load(data + offset + 8, wadtest::U32At(data, offset + 4), data);
    }
};

TEST_F(OptionsChunk, ResetGivesTheDefaultsAndKeepsAudioEngineAndCollisionMode)
{
    for (bool kept : {false, true}) {
        ASSERT_TRUE(Load("new_every"));
        ASSERT_TRUE(Load("versions", false));
        g_GameOptions.newAudioEngine = kept;
        g_GameOptions.collisionMode = kept;
        g_GameOptions.fullScreen = g_GameOptions.errorsAbort = true;
        g_GameOptions.windowColour = 0x123456;
        g_ShowErrorDialogs = false;  // -noerrors
        Options_InitDefaults();
        EXPECT_EQ(OptionsDescribe(g_GameOptions), OptionsDescribe(OptionsAfterReset(kept, kept)));
        EXPECT_TRUE(g_ShowErrorDialogs);
        EXPECT_TRUE(OptionsConstantTexts().empty());
        EXPECT_EQ(Options_UserConstants().names, nullptr);
    }
}

TEST_F(OptionsChunk, BothLayoutsReadEveryOption)
{
    struct Row {
        const char* name;
        bool inAWindow;
        bool collisionBefore;
        bool result;
        void (*expect)(GameOptions* o);
    };
    auto every = [](GameOptions* o) {
        o->fullScreen = o->newAudioEngine = o->showCursor = o->changeDisplayMode = true;
        o->altEnterFullScreen = o->freezeWhenInactive = o->errorsAbort = o->unsetVariablesAreErrors = true;
        o->windowColour = 0x00C08040;
        o->colourDepthCode = 2;
        o->resolutionCode = 5;
        o->frequencyCode = 4;
    };
    const Row rows[] = {
        // Flags 0x4 | 0x10: the new audio engine and the cursor; bit 0 is full screen unless -inawindow.
        {"new_audio_cursor", false, false, true,
         [](GameOptions* o) { o->newAudioEngine = o->showCursor = o->fullScreen = true, o->altEnterFullScreen = false; }},
        {"new_audio_cursor", true, false, true,
         [](GameOptions* o) { o->newAudioEngine = o->showCursor = true, o->altEnterFullScreen = false; }},
        {"new_every", false, false, true, [](GameOptions* o) {
             o->fullScreen = o->newAudioEngine = o->showCursor = o->changeDisplayMode = true;
             o->altEnterFullScreen = o->freezeWhenInactive = o->errorsAbort = o->unsetVariablesAreErrors = true;
             o->collisionMode = true;
             o->windowColour = 0x00C08040;
             o->colourDepthCode = 2, o->resolutionCode = 5, o->frequencyCode = 4;
         }},
        // The new layout sets the collision mode either way.
        {"new_none", false, true, true, [](GameOptions* o) { o->showCursor = o->altEnterFullScreen = o->collisionMode = false; }},
        // Only the low half of the flag word carries options.
        {"new_high_flags", false, true, true,
         [](GameOptions* o) { o->showCursor = o->altEnterFullScreen = o->collisionMode = false; }},
        // Non-zero is on: a word of 2 turns the new audio engine on.
        {"old_audio_two", false, false, true,
         [](GameOptions* o) { o->newAudioEngine = true, o->showCursor = o->altEnterFullScreen = false; }},
        {"old_every", false, false, true, nullptr},
        // The old layout leaves the collision mode alone.
        {"old_none", false, true, true, [](GameOptions* o) { o->showCursor = o->altEnterFullScreen = false; }},
        // Another version of the new layout: nothing read, every option at its default.
        {"new_v3", false, false, false, [](GameOptions*) {}},
        {"new_v3", false, true, false, [](GameOptions*) {}},
        {"versions", false, false, true, [](GameOptions* o) { o->versionMajor = 1, o->versionMinor = 12, o->showCursor = o->altEnterFullScreen = false; }},
        // Non-numeric text reads 0; otherwise atoi's reading.
        {"versions_old", false, false, true, [](GameOptions* o) { o->versionMinor = 7, o->showCursor = o->altEnterFullScreen = false; }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + (row.inAWindow ? " -inawindow" : ""));
        g_RunFlags.inAWindow = row.inAWindow;
        g_GameOptions.newAudioEngine = false;
        g_GameOptions.collisionMode = row.collisionBefore;
        EXPECT_EQ(Load(row.name), row.result);
        GameOptions expected = OptionsAfterReset(false, row.collisionBefore);
        if (row.expect) row.expect(&expected);
        else every(&expected);
        EXPECT_EQ(OptionsDescribe(g_GameOptions), OptionsDescribe(expected));
        EXPECT_EQ(g_AbortOnError, expected.errorsAbort) << "the error reporter follows the option";
        EXPECT_EQ(g_VariableList_UnsetIsError, expected.unsetVariablesAreErrors)
            << "the variable lists follow the option";
        EXPECT_FALSE(g_GameData.damaged) << g_GameData.damage;
        if (!row.result) {
            EXPECT_TRUE(OptionsConstantTexts().empty());
        }
    }
}

TEST_F(OptionsChunk, UserConstantsGoToTheConstantTable)
{
    Code_Constant_Free();
    ASSERT_TRUE(Load("old_none"));
    EXPECT_TRUE(OptionsConstantTexts().empty());
    EXPECT_TRUE(Code_Constant_Prepare());
    EXPECT_EQ(Code_Constant_Count(), 0);

    ASSERT_TRUE(Load("versions"));
    EXPECT_EQ(OptionsConstantTexts(), (std::vector<std::string>{"VersionMajor=1", "VersionMinor=12", "lives=3"}));
    EXPECT_TRUE(Code_Constant_Prepare());
    EXPECT_NE(Code_Constant_Find("LIVES"), nullptr);
    Code_Constant_Free();

    // A reference of 0 is no text.
    ASSERT_TRUE(Load("null_constant"));
    EXPECT_EQ(OptionsConstantTexts(), std::vector<std::string>{"(null)=1"});

    // The first invalid name stops the definitions with its message.
    ASSERT_TRUE(Load("bad_constant"));
    g_boxes.clear();
    EXPECT_FALSE(Code_Constant_Prepare());
    EXPECT_EQ(g_boxes, std::vector<std::string>{"Constant name 9lives  is not valid."});
    EXPECT_NE(Code_Constant_Find("ok_name"), nullptr);
    EXPECT_EQ(Code_Constant_Find("later"), nullptr);
    Code_Constant_Free();
}

TEST_F(OptionsChunk, DamagedChunksFailWithALineNamingOptnAndChangeNothing)
{
    const struct {
        const char* name;
        const char* what;
    } rows[] = {
        {"new_short", "options shorter than their fields"},
        {"new_marker_only", "OPTN at offset"},
        {"old_short", "options shorter than their fields"},
        {"count_past_chunk", "constant count past the end of the chunk"},
        {"count_huge", "constant count past the end of the chunk"},
        {"name_outside", "string reference outside the data"},
        {"value_outside", "string reference outside the data"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // A good chunk first: the damaged one must leave its options and constants in place.
        ASSERT_TRUE(Load("new_every"));
        ASSERT_TRUE(Load("versions", false));
        GameOptions before = g_GameOptions;
        debug_.text.clear();
        EXPECT_FALSE(Load(row.name, false));
        EXPECT_TRUE(g_GameData.damaged);
        EXPECT_EQ(std::string(g_GameData.damage).rfind("OPTN at offset ", 0), 0u) << g_GameData.damage;
        EXPECT_NE(std::string(g_GameData.damage).find(row.what), std::string::npos) << g_GameData.damage;
        EXPECT_NE(debug_.text.find("Game data is damaged: OPTN at offset "), std::string::npos) << debug_.text;
        EXPECT_EQ(OptionsDescribe(g_GameOptions), OptionsDescribe(before));
        EXPECT_EQ(OptionsConstantTexts(), (std::vector<std::string>{"VersionMajor=1", "VersionMinor=12", "lives=3"}));
    }
}

TEST_F(OptionsChunk, PassTwoStopsAtADamagedChunkAndIgnoresAnotherVersion)
{
    const struct {
        const char* name;
        bool pass2;
    } rows[] = {{"new_v3", true}, {"new_short", false}, {"name_outside", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        UnloadGameData();
        ObjectBase_Free(g_GlobalObject);
        g_GlobalObject = nullptr;
        SeamTrace_Clear();
        std::vector<uint8_t> bytes = wadtest::ReadBytes(OptnCase(row.name));
        auto* data = static_cast<uint8_t*>(MemAlloc(bytes.size()));
        std::memcpy(data, bytes.data(), bytes.size());
        ASSERT_TRUE(Wad_ReadHeader(data, uint32_t(bytes.size())));
        EXPECT_EQ(Wad_LoadChunks(data, uint32_t(bytes.size())), row.pass2);
        // The chunk after OPTN is dispatched only when the walk went on.
        EXPECT_EQ(Traced("Sprite_Load"), row.pass2);
    }
    ObjectBase_Free(g_GlobalObject);
    g_GlobalObject = nullptr;
}

TEST_F(OptionsChunk, CollisionModeAndAudioEngineSurviveTheNextGamesReset)
{
    ASSERT_TRUE(Load("new_every"));
    ASSERT_TRUE(g_GameOptions.collisionMode && g_GameOptions.newAudioEngine);
    // The next game: pass 2 resets first.
    Options_InitDefaults();
    EXPECT_EQ(OptionsDescribe(g_GameOptions), OptionsDescribe(OptionsAfterReset(true, true)));
    // An old-layout game sets the audio engine but has no collision mode to set.
    ASSERT_TRUE(Load("old_none"));
    EXPECT_FALSE(g_GameOptions.newAudioEngine);
    EXPECT_TRUE(g_GameOptions.collisionMode);
}

// ---- options.ini ---------------------------------------------------------------------------------

class OptionsIni : public wadtest::LoaderTest {
protected:
    void TearDown() override
    {
        Options_Free();
        g_IniOptions = {false, 0, false, true, true, true, true};
        wadtest::LoaderTest::TearDown();
    }
};

TEST_F(OptionsIni, CommandLineOptionsWinOverTheFile)
{
    struct Row {
        const char* commandLine;
        const char* ini;
        std::string (*observe)();
        const char* expected;
    };
    auto margin = [] { return std::to_string(g_RunFlags.sleepMargin); };
    auto vb = [] {
        return std::to_string(Options_VertexBufferMethod()) + " ini " + std::to_string(g_IniOptions.vertexBufferMethod);
    };
    auto sync = [] {
        return std::to_string(Options_AlternateSync()) + " ini " + std::to_string(g_IniOptions.alternateSync);
    };
    auto textures = [] { return std::to_string(g_IniOptions.createTexturesOnDemand); };
    auto debug = [] {
        return std::to_string(g_RunFlags.debug) + " overlay " + std::to_string(Debug_OverlayFlags) + " hook " +
               std::to_string(Physics_AssertHookInstalled());
    };
    auto trace = [] { return std::to_string(g_RunFlags.trace); };
    auto orient = [] {
        const IniOptions& o = g_IniOptions;
        return std::to_string(o.orientLandscape) + std::to_string(o.orientLandscapeFlipped) +
               std::to_string(o.orientPortrait) + std::to_string(o.orientPortraitFlipped);
    };
    const Row rows[] = {
        {"", "[Windows]\nSleepMargin=25\n", margin, "25"},
        {"-sleepmargin 0", "[Windows]\nSleepMargin=25\n", margin, "0"},
        {"", "[Windows]\nSleepMargin=-5\n", margin, "0"},
        {"", "[Windows]\nVertexBufferMethod=1\n", margin, "10"},  // no SleepMargin key
        {"", "[Windows]\nVertexBufferMethod=2\n", vb, "2 ini 2"},
        {"", "[Windows]\nVertexBufferMethod=7\n", vb, "0 ini 0"},
        {"-multivb", "[Windows]\nVertexBufferMethod=2\n", vb, "1 ini 0"},
        {"-novb", "[Windows]\nVertexBufferMethod=1\n", vb, "2 ini 0"},
        {"", "[Windows]\nAlternateSyncMethod=1\n", sync, "1 ini 1"},
        {"", "[Windows]\nAlternateSyncMethod=no\n", sync, "0 ini 0"},
        {"-manualvsync", "[Windows]\nAlternateSyncMethod=0\n", sync, "1 ini 0"},
        {"", "[Windows]\nCreateTexturesOnDemand=1\n", textures, "1"},
        {"", "[Windows]\nCreateTexturesOnDemand=yes\n", textures, "0"},
        {"", "[DEFAULT]\nDebug=0\n", debug, "0 overlay 0 hook 0"},
        {"", "[DEFAULT]\nDebug=3\n", debug, "1 overlay 2 hook 1"},
        {"-debug", "[DEFAULT]\nDebug=0\n", debug, "0 overlay 2 hook 1"},
        {"-debug", "[DEFAULT]\nTrace=1\n", debug, "1 overlay 2 hook 1"},
        {"", "[DEFAULT]\nTrace=1\n", trace, "1"},
        {"-trace", "[DEFAULT]\nTrace=0\n", trace, "0"},
        {"-trace", "[Windows]\nTrace=0\n", trace, "1"},
        {"", "[DEFAULT]\n", orient, "1111"},
        {"", "[DEFAULT]\nOrientPortrait=0\nOrientLandscape=x\n", orient, "0101"},
    };
    std::string dir = kvtest::ScratchDir() + "/ini_rows/";
    std::filesystem::create_directories(dir);
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("'") + row.commandLine + "' with " + row.ini);
        ResetEntryPointState();
        ParseCommandLine(row.commandLine);
        kvtest::WriteFile(dir + "options.ini", row.ini);
        SeamTrace_Clear();
        debug_.text.clear();
        IniFile* ini = Options_ReadIniFile((dir + "options.ini").c_str());
        ASSERT_NE(ini, nullptr);
        EXPECT_EQ(row.observe(), row.expected);
        // The contents are logged and the virtual buttons get the same file.
        EXPECT_EQ(debug_.text, dir + "options.ini file contents: " + row.ini + "\n");
        std::vector<std::string> trace = Trace();
        ASSERT_FALSE(trace.empty());
        EXPECT_EQ(trace[0], "IO_LoadVirtualButtons");
    }
}

TEST_F(OptionsIni, EachReadStartsFromTheDefaultsAndKeepsTheFileForTheRun)
{
    std::string dir = kvtest::ScratchDir() + "/ini_keep/";
    std::filesystem::create_directories(dir);
    kvtest::WriteFile(dir + "options.ini", "[Windows]\nVertexBufferMethod=1\nAlternateSyncMethod=1\n[DEFAULT]\nOrientPortrait=0\n");
    IniFile* first = Options_ReadIniFile((dir + "options.ini").c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->ReadString("DEFAULT", "OrientPortrait", nullptr), "0");
    EXPECT_EQ(g_IniOptions.vertexBufferMethod, 1);
    // A later game's file: settings it does not name are back at their defaults.
    kvtest::WriteFile(dir + "options.ini", "[Windows]\nCreateTexturesOnDemand=1\n");
    IniFile* second = Options_ReadIniFile((dir + "options.ini").c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(g_IniOptions.vertexBufferMethod, 0);
    EXPECT_FALSE(g_IniOptions.alternateSync);
    EXPECT_TRUE(g_IniOptions.orientPortrait);
    EXPECT_TRUE(g_IniOptions.createTexturesOnDemand);
}

TEST_F(OptionsIni, TheLoaderReadsTheFileBesideTheGame)
{
    struct Row {
        const char* folder;
        bool withIni;
    };
    for (const Row& row : {Row{"/beside_a/", true}, Row{"/beside_b/", false}}) {
        SCOPED_TRACE(row.folder);
        UnloadGameData();
        MemFree(g_WorkingDirectory);
        g_WorkingDirectory = nullptr;
        ResetEntryPointState();
        std::string dir = kvtest::ScratchDir() + row.folder;
        std::filesystem::create_directories(dir);
        std::filesystem::copy_file(OptnCase("versions"), dir + "game.win",
                                   std::filesystem::copy_options::overwrite_existing);
        if (row.withIni)
            kvtest::WriteFile(dir + "options.ini", "[DEFAULT]\nTrace=1\n[Windows]\nCreateTexturesOnDemand=1\n");
        GameFile_Set((dir + "game.win").c_str());
        debug_.text.clear();
        ASSERT_TRUE(RunnerLoadGame());
        EXPECT_NE(debug_.text.find("Checking if INIFile " + dir + "options.ini Exists\n"), std::string::npos);
        if (row.withIni) {
            ASSERT_NE(g_GameData.iniFile, nullptr);
            EXPECT_STREQ(g_GameData.iniFile->Name(), (dir + "options.ini").c_str());
            EXPECT_NE(debug_.text.find(dir + "options.ini file contents: [DEFAULT]\nTrace=1\n"), std::string::npos);
            EXPECT_TRUE(g_RunFlags.trace);
            EXPECT_TRUE(g_IniOptions.createTexturesOnDemand);
        } else {
            EXPECT_EQ(g_GameData.iniFile, nullptr);
            EXPECT_NE(debug_.text.find("!!!!No INI File " + dir + "options.ini\n"), std::string::npos);
            EXPECT_FALSE(g_RunFlags.trace);
            // Nothing of the previous game's file is left.
            EXPECT_FALSE(g_IniOptions.createTexturesOnDemand);
        }
    }
}

// ---- the open-file dialog ------------------------------------------------------------------------

class OpenFileDialog : public testing::Test {
protected:
    void SetUp() override
    {
        RunFlags_ResetAll();
        dir_ = kvtest::ScratchDir() + "/dialog/";
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ + "bin");
        std::filesystem::create_directories(dir_ + "empty");
        mark_ = dir_ + "ran";
    }
    void TearDown() override { RunFlags_ResetAll(); }

    // A stand-in chooser: leaves a mark, prints its output and exits with the status.
    void Stub(const std::string& output, int status)
    {
        std::string script = "#!/bin/sh\necho ran > '" + mark_ + "'\nprintf '%s' '" + output + "'\nexit " +
                             std::to_string(status) + "\n";
        kvtest::WriteFile(dir_ + "bin/zenity", script);
        chmod((dir_ + "bin/zenity").c_str(), 0755);
    }
    bool Ran() const { return std::filesystem::exists(mark_); }

    std::string dir_, mark_;
};

TEST_F(OpenFileDialog, TheChooserRunsOnlyWhenSomeoneCanAnswer)
{
    struct Row {
        const char* label;
        const char* noDialogs;  // KV_NO_DIALOGS
        bool headless;
        bool onPath;
        const char* output;
        int status;
        bool ran;
        const char* result;  // null: cancelled
    };
    const Row rows[] = {
        {"picked", nullptr, false, true, "/home/pl\xC3\xA4yer/My Games/data.win\n", 0, true, "/home/pl\xC3\xA4yer/My Games/data.win"},
        {"cancelled", nullptr, false, true, "", 1, true, nullptr},
        {"status 1 with output", nullptr, false, true, "/x.win\n", 1, true, nullptr},
        {"not on PATH", nullptr, false, false, "/x.win\n", 0, false, nullptr},
        {"KV_NO_DIALOGS=1", "1", false, true, "/x.win\n", 0, false, nullptr},
        {"-headless", nullptr, true, true, "/x.win\n", 0, false, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::filesystem::remove(mark_);
        Stub(row.output, row.status);
        kvtest::ScopedEnv noDialogs("KV_NO_DIALOGS", row.noDialogs);
        kvtest::ScopedEnv display("DISPLAY", ":0");
        kvtest::ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
        kvtest::ScopedEnv driver("SDL_VIDEODRIVER", nullptr);
        kvtest::ScopedEnv path("PATH", ((row.onPath ? dir_ + "bin:" : dir_ + "empty:") + dir_ + "empty").c_str());
        g_RunFlags.headless = row.headless;
        testing::internal::CaptureStderr();
        char* chosen = ChooseGameFile();
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(Ran(), row.ran);
        if (row.result) {
            ASSERT_NE(chosen, nullptr);
            EXPECT_EQ(std::string(chosen), row.result);
        } else {
            EXPECT_EQ(chosen, nullptr);
        }
        MemFree(chosen);
    }
}

TEST_F(OpenFileDialog, AScriptedAnswerIsUsedWithoutRunningTheChooser)
{
    Stub("/x.win\n", 0);
    kvtest::ScopedEnv path("PATH", (dir_ + "bin").c_str());
    DialogAnswerHook old = Platform_SetDialogAnswerHook([](const DialogRequest& request, DialogAnswer* answer) {
        answer->accepted = std::string(request.kind) == "open";
        answer->text = "/scripted/game.win";
        return true;
    });
    char* chosen = ChooseGameFile();
    Platform_SetDialogAnswerHook(old);
    ASSERT_NE(chosen, nullptr);
    EXPECT_STREQ(chosen, "/scripted/game.win");
    EXPECT_FALSE(Ran());
    MemFree(chosen);
}

}  // namespace
