// The defaults that callers rely on while the neighbouring subsystems are not built.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "audio/audio.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "draw/draw.h"
#include "input/input.h"
#include "layers/layers.h"
#include "lib/lib.h"
#include "net/net.h"
#include "physics/physics.h"
#include "platform/hooks.h"
#include "script/script.h"
#include "services/services.h"

namespace {

class SeamsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SeamTrace_Clear();
        SeamTrace_Enable(true);
    }
    void TearDown() override
    {
        SeamTrace_Enable(false);
        SeamTrace_Clear();
    }
};

TEST_F(SeamsTest, LookupsFindNothingAndRecordNothing)
{
    struct Finder {
        const char* what;
        int32_t result;
    };
    const Finder finders[] = {
        {"Sprite_Find", Sprite_Find("spr_player")},
        {"Background_Find", Background_Find("bg_sky")},
        {"Font_Find", Font_Find("fnt_main")},
        {"Path_Find", Path_Find("path_patrol")},
        {"Sound_Find", Sound_Find("snd_jump")},
        {"Audio_Find", Audio_Find("snd_jump")},
        {"Extension_FindFunction", Extension_FindFunction("ext_init")},
        {"Layer_FindLayerOfInstance", Layer_FindLayerOfInstance(nullptr, 100001)},
    };
    for (const Finder& f : finders) EXPECT_EQ(f.result, -1) << f.what;

    struct Lookup {
        const char* what;
        const void* result;
    };
    const Lookup lookups[] = {
        {"Sprite_Data", Sprite_Data(0)},
        {"Background_Data", Background_Data(0)},
        {"Path_Data", Path_Data(0)},
        {"CCameraManager::GetCamera", CCameraManager::GetCamera(0)},
        {"CCameraManager::GetActiveCamera", CCameraManager::GetActiveCamera()},
        {"CCameraManager::GetScriptInstance", CCameraManager::GetScriptInstance()},
        {"Layer_FindById", Layer_FindById(nullptr, 0)},
        {"Layer_ScriptInstance", Layer_ScriptInstance},
        {"DebugServer", DebugServer},
        {"DebugTextTable", DebugTextTable},
        {"AsyncRequests", AsyncRequests},
    };
    for (const Lookup& l : lookups) EXPECT_EQ(l.result, nullptr) << l.what;

    EXPECT_FALSE(Sprite_Exists(0));
    EXPECT_FALSE(Background_Exists(0));
    EXPECT_FALSE(Profiler_Active);
    EXPECT_TRUE(Debug_FrameLimiting);
    EXPECT_EQ(DebugStepState.mode, -1);
    EXPECT_FALSE(CollisionTreeMode);
    EXPECT_EQ(AppSurface_Id, (int32_t)0xFEEEDEAD);
    EXPECT_EQ(IAP_DataMap, -1);
    EXPECT_EQ(Debug_WaitWhilePaused(), 0);
    EXPECT_FALSE(Extension_CallFunction(0, 0, nullptr, nullptr));
    EXPECT_FALSE(IO_KeyDown(65));
    EXPECT_TRUE(SeamTrace_Calls().empty()) << SeamTrace_Calls().front();
}

TEST_F(SeamsTest, StepsSucceedAndLeaveTheirNameInTheTrace)
{
    struct Step {
        const char* name;
        std::function<bool()> run;  // void steps count as success
    };
    uint8_t chunk[8] = {};
    const Step steps[] = {
        {"Sprite_Load", [&] { return Sprite_Load(chunk, 8, chunk); }},
        {"Background_Load", [&] { return Background_Load(chunk, 8, chunk); }},
        {"Font_Load", [&] { return Font_Load(chunk, 8, chunk); }},
        {"Path_Load", [&] { return Path_Load(chunk, 8, chunk); }},
        {"Audio_Load", [&] { return Audio_Load(chunk, 8, chunk); }},
        {"Sound_Init", [&] { return Sound_Init(chunk, 8, chunk); }},
        {"AudioGroup_Load", [&] { return AudioGroup_Load(chunk, 8, chunk); }},
        {"Audio_WAVs", [&] { return Audio_WAVs(chunk, 8, chunk, 0); }},
        {"Wave_Init", [&] { return Wave_Init(chunk, 8, chunk); }},
        {"Extension_Load", [&] { return Extension_Load(chunk, 8, chunk); }},
        {"Sound_Prepare", [] { return Sound_Prepare(); }},
        {"Extension_Prepare", [] { return Extension_Prepare(); }},
        {"Extension_Initialise", [] { return Extension_Initialise(); }},
        {"Extension_Finalise", [] { return Extension_Finalise(); }},
        {"CCameraManager::Reset", [] { CCameraManager::Reset(); return true; }},
        {"DrawRoom", [] { DrawRoom(); return true; }},
        {"HandleCollision", [] { HandleCollision(); return true; }},
        {"IO_Update", [] { IO_Update(); return true; }},
        {"SoundTick", [] { SoundTick(); return true; }},
        {"Network_Poll", [] { Network_Poll(); return true; }},
        {"Steam_Process", [] { Steam_Process(); return true; }},
        {"TickDebugger", [] { TickDebugger(); return true; }},
        {"JS_Init", [] { JS_Init(); return true; }},
        {"JS_CreateResourceObject", [] { JS_CreateResourceObject(); return true; }},
        {"Layer_RoomStart", [] { Layer_RoomStart(nullptr); return true; }},
        {"FileFunctions_Shutdown", [] { FileFunctions_Shutdown(); return true; }},
        {"InitSoundFunctions", [] { InitSoundFunctions(); return true; }},
    };
    for (const Step& s : steps) {
        SeamTrace_Clear();
        EXPECT_TRUE(s.run()) << s.name;
        EXPECT_EQ(SeamTrace_Calls(), std::vector<std::string>{s.name});
    }
    SeamTrace_Enable(false);
    SeamTrace_Clear();
    DrawRoom();
    EXPECT_TRUE(SeamTrace_Calls().empty());
}

TEST_F(SeamsTest, PhysicsAssertHook)
{
    Physics_ResetAssertHook();
    ASSERT_FALSE(Physics_AssertHookInstalled());
    Physics_InstallAssertHook();
    EXPECT_TRUE(Physics_AssertHookInstalled());
    EXPECT_EQ(SeamTrace_Calls(), std::vector<std::string>{"PhysicsAssertHook"});
    Physics_ResetAssertHook();
    EXPECT_FALSE(Physics_AssertHookInstalled());
}

TEST_F(SeamsTest, InputValuesKeepOnlyWhatIsInRange)
{
    IO_Clear();
    IO_SetMouseButton(2, 0);
    IO_SetMouseButton(4, 0);   // not a button
    IO_SetMouseButton(3, 10);  // no such device
    IO_SetMouseLastButton(3, 9);
    EXPECT_EQ(IO_MouseButton(0), 2);
    EXPECT_EQ(IO_MouseButton(10), 0);
    EXPECT_EQ(IO_MouseLastButton(9), 3);

    IO_SetCurrentKey(65);
    IO_SetCurrentKey(256);
    EXPECT_EQ(IO_GetCurrentKey(), 65);
    IO_SetLastKey(300);
    EXPECT_EQ(IO_GetLastKey(), 300);
    IO_SetLastChar(0xE9);
    EXPECT_EQ(IO_GetLastChar(), 0xE9);
    IO_SetLastChar('a');
    EXPECT_EQ(IO_GetLastChar(), 'a');

    // 1030 characters of two bytes each: the first 1024 stay, cut at a character boundary.
    std::string text;
    for (int i = 0; i < 1030; ++i) text += "\xC3\xA9";
    IO_SetKeyboardString(text.c_str());
    EXPECT_EQ(std::strlen(IO_GetKeyboardString()), 2048u);
    IO_SetKeyboardString(nullptr);
    EXPECT_STREQ(IO_GetKeyboardString(), "");

    IO_SetKeyboardString("abc");
    IO_Clear();
    EXPECT_STREQ(IO_GetKeyboardString(), "");
    EXPECT_EQ(IO_GetCurrentKey(), 0);
    EXPECT_EQ(IO_GetLastKey(), 0);
    EXPECT_EQ(IO_GetLastChar(), 0);
    EXPECT_EQ(IO_MouseButton(0), 0);
    EXPECT_EQ(IO_MouseLastButton(0), 0);
}

int g_boxCount;
MessageBoxRequest g_boxSeen;
std::string g_boxCaption, g_boxText;

TEST_F(SeamsTest, ShowMessageBoxUsesTheDisplayNameAsCaption)
{
    g_boxCount = 0;
    MessageBoxHook previous = Platform_SetMessageBoxHook([](const MessageBoxRequest& r) {
        ++g_boxCount;
        g_boxSeen = r;
        g_boxCaption = r.caption;
        g_boxText = r.text;
        return (int)MB_ANSWER_OK;
    });
    ShowMessageBox("Constant name x  is not valid.");
    Platform_SetMessageBoxHook(previous);
    EXPECT_EQ(g_boxCount, 1);
    EXPECT_EQ(g_boxCaption, "Made with Kelvane: Studio");
    EXPECT_EQ(g_boxText, "Constant name x  is not valid.");
    EXPECT_EQ(g_boxSeen.buttons, MB_BUTTONS_OK);
}

TEST_F(SeamsTest, TimingSleepWaitsAtLeastTheTime)
{
    auto start = std::chrono::steady_clock::now();
    Timing_Sleep(3000);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(3000));
}

TEST_F(SeamsTest, InstanceListAddUnique)
{
    InstanceList list{nullptr, 0, 0};
    std::vector<CInstance*> fakes;
    for (uintptr_t i = 1; i <= 40; ++i) fakes.push_back(reinterpret_cast<CInstance*>(i * 16));
    for (int i = 0; i < 40; ++i) ASSERT_EQ(list.AddUnique(fakes[i]), i);
    EXPECT_EQ(list.count, 40);
    EXPECT_EQ(list.capacity, 64);
    EXPECT_EQ(list.AddUnique(fakes[33]), 33);
    EXPECT_EQ(list.AddUnique(fakes[0]), 0);
    EXPECT_EQ(list.count, 40);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(list.items[i], fakes[i]);
    MemFree(list.items);
}

TEST_F(SeamsTest, BreakpointsArmDisarmAndVMInitClears)
{
    uint32_t code[3] = {0x11111111, 0x22222222, 0x33333333};
    VM_Init();
    Debug_Breakpoints[0] = {&code[0], code[0]};
    Debug_Breakpoints[254] = {&code[2], code[2]};
    Debug_ArmBreakpoints();
    EXPECT_EQ(code[0], DEBUG_BREAK_WORD);
    EXPECT_EQ(code[1], 0x22222222u);
    EXPECT_EQ(code[2], DEBUG_BREAK_WORD);
    Debug_DisarmBreakpoints();
    EXPECT_EQ(code[0], 0x11111111u);
    EXPECT_EQ(code[2], 0x33333333u);

    VM_Init();
    Debug_ArmBreakpoints();
    EXPECT_EQ(code[0], 0x11111111u);
    EXPECT_EQ(code[2], 0x33333333u);
}

TEST_F(SeamsTest, BuiltinGlobalNames)
{
    struct Case {
        const char* name;
        bool builtin;
    };
    const Case cases[] = {
        {"application_surface", true}, {"view_camera", true}, {"view_yview", true}, {"argument15", true},
        {"fps_real", true},            {"x", false},          {"Score", false},     {"argument16", false},
        {"view_", false},              {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(Variable_IsBuiltinGlobalName(c.name), c.builtin) << c.name;
    EXPECT_FALSE(Variable_IsBuiltinGlobalName(nullptr));
}

}  // namespace
