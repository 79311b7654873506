// Start-up and shutdown: the preparation steps and their failures, the display-mode codes, the run's
// starting captions and counters, the generator seed of every start, and the shutdown order.
#include "wad_test_util.h"

#include "audio/audio.h"
#include "core/constants.h"
#include "core/error.h"
#include "core/random.h"
#include "core/value.h"
#include "fake_render_device.h"
#include "gfx/device.h"
#include "gfx/display.h"
#include "services/services.h"
#include "world/run_state.h"
#include "world/runner.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using wadtest::g_boxes;

// A file of the scratch folder. A death-test child starts in another folder; it finds its parent's
// file through the environment.
std::string ScratchFile(const char* variable, const std::string& name)
{
    if (const char* env = std::getenv(variable); env && *env) return env;
    std::string path = kvtest::ScratchDir() + "/" + name;
    setenv(variable, path.c_str(), 1);
    return path;
}

// A case of tests/fixtures/startup_cases.py.
std::string StartupFixture(const std::string& name)
{
    static const std::string dir = wadtest::CasesFolder("startup_cases.py");
    return dir + name + ".win";
}

class StartupTest : public wadtest::LoaderTest {
protected:
    void SetUp() override
    {
        LoaderTest::SetUp();
        Extension_SetSeamResults(true, true, true);
        Sound_SetSeamPrepareResult(true);
        // Start-up makes its device on a recorded one; a test that empties the adapter list makes it fail.
        RenderDevice_Set(&device_);
    }
    void TearDown() override
    {
        Extension_SetSeamResults(true, true, true);
        Sound_SetSeamPrepareResult(true);
        Runner_SetStepHook(nullptr);
        g_Running = false;
        Error_ResetState();
        GR_D3D_Release();
        Display_FreeAdapters();
        RenderDevice_Set(nullptr);
        LoaderTest::TearDown();
    }
    // What a successful device creation logs between "GR_D3D_Init()" and the textures.
    static std::string CreationLines(const std::string& log)
    {
        const size_t from = log.find("GR_D3D_Init()\n");
        const size_t to = log.find("Background_InitTextures()\n");
        if (from == std::string::npos || to == std::string::npos || to < from) return "";
        return log.substr(from + 14, to - from - 14);
    }

    kvtest::FakeRenderDevice device_;

    // The game named, read and through both passes, as start-up has it just before PrepareGame.
    bool LoadThroughPass2(const std::string& fixture)
    {
        GameFile_Set(StartupFixture(fixture).c_str());
        if (!RunnerLoadGame() || !Wad_ReadHeader(g_GameData.data, g_GameData.length) || !LoadGameData()) {
            ADD_FAILURE() << fixture << " did not load:\n" << debug_.text;
            return false;
        }
        return true;
    }
    // What a run's end leaves for the next start.
    static void EndRun()
    {
        g_Running = false;
        RoomChangeCode = ROOM_CHANGE_NONE;
        UnloadGameData();
        MemFree(g_WorkingDirectory);
        g_WorkingDirectory = nullptr;
        GameFile_Set(nullptr);
        Paths_ResetRunCache();
    }
};

// ---- PrepareGame ---------------------------------------------------------------------------------------

// The lines a whole preparation logs for a game without objects; a failing step's line is the last.
const char* const kPrepareLines[] = {
    "Extension_Prepare() \n", "Code_Constant_Prepare() \n", "Script_Prepare() \n", "TimeLine_Prepare() \n",
    "Object_Prepare() \nPreparing 0 objects:\n", "Room_Prepare() \n", "Sound_Prepare() \n", "InitGraphics() \n",
    "Finished PrepareGame() \n",
};

std::string PrepareLog(size_t lines)
{
    std::string text;
    for (size_t i = 0; i < lines; ++i) text += kPrepareLines[i];
    return text;
}

// Timelines and objects have no row: an event's preparation cannot fail, so those steps always succeed.
TEST_F(StartupTest, EachFailingPreparationStepShowsItsMessageAndStopsThePreparation)
{
    struct Row {
        const char* name;
        const char* fixture;
        std::function<void()> arrange;
        size_t lines;                    // log lines reached, the failing step's included
        std::vector<std::string> boxes;  // what the message-box hook saw, in order
        const char* reported = "";       // an error report the step writes to the game's log
    };
    const Row rows[] = {
        {"none fails", "startup_no_rooms", [] {}, std::size(kPrepareLines), {}},
        {"extensions", "startup_no_rooms", [] { Extension_SetSeamResults(false, true, true); }, 1,
         {"Failed to prepare extension packages."}},
        // The invalid name is reported on its own, then the step's message follows.
        {"constants", "bad_constant", [] {}, 2,
         {"Constant name 9lives  is not valid.", "Failed to define the constants."}},
        {"scripts", "script_without_code", [] {}, 3, {"Failed to compile the scripts."},
         "ERROR!!! :: COMPILATION ERROR in Script: scr_text\n"},
        {"sounds", "startup_no_rooms", [] { Sound_SetSeamPrepareResult(false); }, 7,
         {"Failed to prepare the sounds."}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        g_RunFlags.headless = true;  // the script step's error report goes to the log, not to a dialog
        ASSERT_TRUE(LoadThroughPass2(row.fixture));
        row.arrange();
        debug_.text.clear();
        release_.text.clear();
        g_boxes.clear();
        SeamTrace_Clear();

        const bool whole = row.lines == std::size(kPrepareLines);
        EXPECT_EQ(PrepareGame(), whole);
        EXPECT_EQ(debug_.text, PrepareLog(row.lines));
        EXPECT_EQ(g_boxes, row.boxes);
        // The sound hardware starts only in the sound step; the new audio engine is prepared only after it.
        EXPECT_EQ(Traced("Sound_InitHardware"), row.lines >= 7);
        EXPECT_EQ(Traced("Audio_Prepare"), whole);
        EXPECT_NE(release_.text.find(row.reported), std::string::npos) << release_.text;

        Extension_SetSeamResults(true, true, true);
        Sound_SetSeamPrepareResult(true);
        Code_Constant_Free();
        Code_Constant_Init();
        Error_ResetState();
        EndRun();
    }
}

// ---- RunnerStartup: a failed stage leaves the running flag off -------------------------------------------

TEST_F(StartupTest, AFailedStartupNeverEntersTheMainLoop)
{
    struct Row {
        const char* name;
        const char* fixture;
        std::function<void()> arrange;
        bool runs;
        const char* lastLine;    // the failing stage's own line
        const char* absentLine;  // the stage after it
    };
    const Row rows[] = {
        {"starts", "startup_no_rooms", [] {}, true, "Run_Start\n", nullptr},
        {"pass 2", "unknown_chunk", [] {}, false, "Failed to load the game\n", "PrepareGame()\n"},
        {"preparation", "startup_no_rooms", [] { Sound_SetSeamPrepareResult(false); }, false, "Sound_Prepare() \n",
         "Run_Start\n"},
        {"device", "startup_no_rooms", [this] { device_.adapters.clear(); }, false, "GR_D3D_Init()\n",
         "IO Init\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.arrange();
        debug_.text.clear();
        SeamTrace_Clear();
        g_Running = true;  // left over from an earlier run: start-up decides afresh
        GameFile_Set(StartupFixture(row.fixture).c_str());
        RunnerStartup();
        EXPECT_EQ(g_Running, row.runs);
        // The first room's start is the first thing after Run_Start.
        EXPECT_EQ(Traced("Extension_Initialise"), row.runs);
        EXPECT_NE(debug_.text.find(row.lastLine), std::string::npos) << debug_.text;
        if (row.absentLine) {
            EXPECT_EQ(debug_.text.find(row.absentLine), std::string::npos) << debug_.text;
        }
        EXPECT_EQ(wadtest::g_exitCalls, 0);

        device_.adapters = {kvtest::FakeRenderDevice::DefaultAdapter()};
        GR_D3D_Release();
        Sound_SetSeamPrepareResult(true);
        Code_Constant_Free();
        Code_Constant_Init();
        EndRun();
    }
}

// ---- GraphicsStartup ------------------------------------------------------------------------------------

// The desktop's mode is never changed: a request other than the current mode is refused and logged, and
// start-up goes on with the device either way.
TEST_F(StartupTest, DisplayModeCodesGiveTheRequestedMode)
{
    struct Row {
        int32_t depth, resolution, frequency;
        std::vector<int32_t> mode;  // width, height, frequency, bits; -1 not requested
        bool refused;               // the desktop runs 1024 x 768, 60 Hz, 16 bits
    };
    const Row rows[] = {
        // Colour depth (resolution 2, frequency 1 held).
        {0, 2, 1, {640, 480, 60, -1}, true},
        {1, 2, 1, {640, 480, 60, 16}, true},
        {2, 2, 1, {640, 480, 60, 32}, true},
        {3, 2, 1, {640, 480, 60, -1}, true},
        {-1, 2, 1, {640, 480, 60, -1}, true},
        // Resolution (depth 2, frequency 3 held): outside 1 ... 6 the size stays, the rest still applies.
        {2, 0, 3, {-1, -1, 85, 32}, true},
        {2, 1, 3, {320, 240, 85, 32}, true},
        {2, 2, 3, {640, 480, 85, 32}, true},
        {2, 3, 3, {800, 600, 85, 32}, true},
        {2, 4, 3, {1024, 768, 85, 32}, true},
        {2, 5, 3, {1280, 1024, 85, 32}, true},
        {2, 6, 3, {1600, 1200, 85, 32}, true},
        {2, 7, 3, {-1, -1, 85, 32}, true},
        // Frequency (depth 1, resolution 4 held): the desktop's own mode, with or without its rate.
        {1, 4, 0, {1024, 768, -1, 16}, false},
        {1, 4, 1, {1024, 768, 60, 16}, false},
        {1, 4, 2, {1024, 768, 70, 16}, true},
        {1, 4, 3, {1024, 768, 85, 16}, true},
        {1, 4, 4, {1024, 768, 100, 16}, true},
        {1, 4, 5, {1024, 768, 120, 16}, true},
        {1, 4, 6, {1024, 768, -1, 16}, false},
    };
    kvtest::FakeDisplaySource desktop;
    desktop.displays[0].current = {1024, 768, 16, 60, false};
    kvtest::ScopedDisplaySource installed(&desktop);
    const std::string textures = "Background_InitTextures()\nSprite_InitTextures()\nFont_InitTextures()\n";
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "depth " << row.depth << " resolution " << row.resolution << " frequency "
                                        << row.frequency);
        g_GameOptions.changeDisplayMode = true;
        g_GameOptions.colourDepthCode = row.depth;
        g_GameOptions.resolutionCode = row.resolution;
        g_GameOptions.frequencyCode = row.frequency;
        Display_FreeAdapters();  // a run of its own: no refusal remembered from the row before
        debug_.text.clear();
        EXPECT_TRUE(GraphicsStartup());
        // The mode is asked for before the device comes up on it.
        std::string expected;
        if (row.refused) {
            char line[160];
            std::snprintf(line, sizeof line,
                          "Display mode change refused (%d, %d, %d Hz, %d bits): only the current mode can be set\n",
                          row.mode[0], row.mode[1], row.mode[2], row.mode[3]);
            expected = line;
        }
        const std::string created = CreationLines(debug_.text);
        EXPECT_EQ(debug_.text, expected + "GR_D3D_Init()\n" + created + textures);
        EXPECT_NE(created, "");
        GR_D3D_Release();
    }
    Display_FreeAdapters();
}

TEST_F(StartupTest, GraphicsStartupWithoutAModeChangeAndWithAFailingDevice)
{
    // A mode request would be refused on this desktop, so it would show in the log.
    kvtest::FakeDisplaySource desktop;
    kvtest::ScopedDisplaySource installed(&desktop);
    Display_FreeAdapters();
    const char* const textures = "Background_InitTextures()\nSprite_InitTextures()\nFont_InitTextures()\n";
    for (bool deviceStarts : {true, false}) {
        SCOPED_TRACE(deviceStarts ? "device starts" : "device fails");
        g_GameOptions.changeDisplayMode = false;
        g_GameOptions.resolutionCode = 3;
        device_.adapters.clear();
        if (deviceStarts) device_.adapters.push_back(kvtest::FakeRenderDevice::DefaultAdapter());
        debug_.text.clear();
        SeamTrace_Clear();
        EXPECT_EQ(GraphicsStartup(), deviceStarts);
        if (deviceStarts) {
            EXPECT_EQ(CreationLines(debug_.text),
                      "Create D3D9Ex interface\nEnumerate Adapters\nSelected Resolution: 0x0\n"
                      "Prepare to create device\n"
                      "Creating D3D device - ARGB=32bit, D24S8, SwapEffect=Copy, Hardware vertex processing\n"
                      "Creating screen render target\nGet Device Caps\nGraphics initialisation end...\n");
            EXPECT_EQ(debug_.text.substr(debug_.text.size() - std::strlen(textures)), textures);
        } else {
            EXPECT_EQ(debug_.text, "GR_D3D_Init()\nCreate D3D9Ex interface\n");
        }
        EXPECT_EQ(GR_Device != nullptr, deviceStarts);
        GR_D3D_Release();
    }
    device_.adapters = {kvtest::FakeRenderDevice::DefaultAdapter()};
}

// ---- Captions and counters --------------------------------------------------------------------------------

TEST_F(StartupTest, EveryRunStartsWithTheDefaultCaptionsAndCounters)
{
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        InitRunnerSystems();
        ASSERT_NE(g_CaptionScore, nullptr);
        EXPECT_STREQ(g_CaptionScore->text, "Score: '");
        EXPECT_STREQ(g_CaptionLives->text, "Lives: ");
        EXPECT_STREQ(g_CaptionHealth->text, "Health: ");
        EXPECT_EQ(g_Lives, -1);
        EXPECT_EQ(g_Health, 100.0);
        EXPECT_EQ(g_Score, 0);
        EXPECT_TRUE(g_ShowScore);
        EXPECT_FALSE(g_ShowLives);
        EXPECT_FALSE(g_ShowHealth);
        EXPECT_FALSE(g_Running);

        // What a script does during the run.
        RefString* changed = RefString::Create("Points: ");
        RefString::ReleaseChecked(g_CaptionScore);
        g_CaptionScore = changed;
        g_Lives = 3;
        g_Health = 12.5;
        g_Score = 40;
        g_ShowScore = false;
        g_ShowLives = true;
        ResetRunGlobals();
    }
}

// A caption that a value still holds survives the reset, and the run's caption is a new record.
TEST_F(StartupTest, ResettingTheCaptionsLeavesHeldCaptionsAlone)
{
    InitScoreCaptions();
    RefString* held = g_CaptionScore;
    ++held->refCount;
    InitScoreCaptions();
    EXPECT_NE(g_CaptionScore, held);
    EXPECT_STREQ(g_CaptionScore->text, "Score: '");
    EXPECT_EQ(held->refCount, 1);
    EXPECT_STREQ(held->text, "Score: '");
    RefString::ReleaseChecked(held);
}

// ---- The generator -----------------------------------------------------------------------------------------

TEST_F(StartupTest, EveryStartDrawsTheSameSequence)
{
    std::vector<std::vector<uint32_t>> draws;
    for (int32_t disturbance : {7, 123456}) {
        // Whatever the previous run left in the generator.
        Random_Seed(disturbance);
        for (int i = 0; i < disturbance % 13; ++i) Random_Next();
        ASSERT_TRUE(LoadThroughPass2("startup_no_rooms"));
        g_Running = false;
        ASSERT_TRUE(StartGame());
        EXPECT_EQ(Random_GetSeed(), 2101988u);
        std::vector<uint32_t> run;
        for (int i = 0; i < 10; ++i) run.push_back(Random_Next());
        draws.push_back(run);
        Code_Constant_Free();
        Code_Constant_Init();
        EndRun();
    }
    EXPECT_EQ(draws[0], draws[1]);
}

// ---- Runner_Shutdown -------------------------------------------------------------------------------------

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

TEST_F(StartupTest, ShutdownRunsItsStepsInOrder)
{
    const std::string out = ScratchFile("KV_STARTUP_STEPS", "shutdown_steps.txt");
    std::filesystem::remove(out);
    // The shutdown frees process-wide tables, so it runs in a child after a real start.
    EXPECT_EXIT(
        {
            GameFile_Set(StartupFixture("startup_no_rooms").c_str());
            RunnerStartup();
            SeamTrace_Clear();
            // Each step leaves a mark before it runs; the stand-ins among the steps record themselves, and the
            // device's calls are entered as they happen.
            static kvtest::FakeRenderDevice* device;
            static size_t logged;
            device = &device_;
            logged = device_.log.size();
            static auto enterDeviceCalls = [] {
                for (; logged < device->log.size(); ++logged) SeamTrace_Record(("device " + device->log[logged]).c_str());
            };
            Runner_SetStepHook([](const char* step) {
                enterDeviceCalls();
                SeamTrace_Record((std::string("step ") + step).c_str());
            });
            Runner_Shutdown();
            enterDeviceCalls();
            std::ofstream file(out);
            for (const std::string& call : SeamTrace_Calls()) file << call << "\n";
            file.close();
            std::_Exit(file ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");

    const std::vector<std::string> calls = Lines(kvtest::ReadFile(out));
    std::vector<std::string> steps;
    for (const std::string& call : calls)
        if (call.rfind("step ", 0) == 0) steps.push_back(call.substr(5));
    EXPECT_EQ(steps, Lines(kvtest::ReadFile(wadtest::SourceDir() + "/tests/world/golden/shutdown_steps.txt")));

    // A stand-in that records itself under a step's name runs inside that step, not in another.
    std::string current;
    for (const std::string& call : calls) {
        if (call.rfind("step ", 0) == 0) {
            current = call.substr(5);
            continue;
        }
        if (std::find(steps.begin(), steps.end(), call) != steps.end()) {
            EXPECT_EQ(call, current);
        }
    }
    for (const char* recorded : {"Services_Shutdown", "Steam_Shutdown", "Sound_FreeAll"})
        EXPECT_NE(std::find(calls.begin(), calls.end(), recorded), calls.end()) << recorded;
    // The device is released inside the graphics step.
    std::string releasedIn;
    for (const std::string& call : calls) {
        if (call.rfind("step ", 0) == 0) current = call.substr(5);
        if (call == "device ReleaseDevice()") releasedIn = current;
    }
    EXPECT_EQ(releasedIn, "GR_D3D_Shutdown");
}

}  // namespace
