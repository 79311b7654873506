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
#include "particles/particles.h"
#include "script/script.h"
#include "skeleton/skeleton.h"
#include "services/services.h"
#include "test_support.h"
#include "core/varlist.h"
#include "world/object_base.h"

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
        {"Background_Data", Background_Data(0)},
        {"Path_Data", Path_Data(0)},
        {"Layer_FindById", Layer_FindById(nullptr, 0)},
        {"Layer_ScriptInstance", Layer_ScriptInstance},
        {"DebugServer", DebugServer},
        {"DebugTextTable", DebugTextTable},
        {"AsyncRequests", AsyncRequests},
    };
    for (const Lookup& l : lookups) EXPECT_EQ(l.result, nullptr) << l.what;

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
        {"Background_Load", [&] { return Background_Load(chunk, 8, chunk); }},
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

// Audio, particles, skeletons and HTTP: queries answer "nothing" and record nothing; operations that would
// load, play, draw or queue something answer their failure value and leave their name in the trace.
TEST_F(SeamsTest, NeighbourSeamsAnswerNothing)
{
    CSkeletonInstance pose;
    CSkeletonSprite* skeleton = new CSkeletonSprite();
    CSound sound;
    QZObjectBase* plain = ObjectBase_Alloc(0, 0, false);
    struct Row {
        const char* traced;  // null: a query that must record nothing
        std::function<bool()> answersNothing;
    };
    const int32_t words[3] = {1, 2, 3};
    const uint8_t data[4] = {};
    const Row rows[] = {
        {nullptr, [] { return !Sound_Exists(0) && !Sound_Exists(-1); }},
        {nullptr, [] { return std::strcmp(Sound_Name(0), "<undefined>") == 0; }},
        {nullptr, [] { return Sound_Data(0) == nullptr; }},
        {nullptr, [] { return !Audio_SoundExists(0) && !Audio_SoundExists(400000); }},
        {nullptr, [] { return std::strcmp(Audio_GetName(3), "<undefined>") == 0; }},
        {nullptr, [] { return ParticleSystem_HighestDepth() == -1e9f; }},
        {nullptr, [] { return ParticleSystem_NextDepthBelow(100.0f) == -1e9f; }},
        {nullptr, [] { return !JS_IsCallableObject(nullptr); }},
        {nullptr, [&] { return !JS_IsCallableObject(plain); }},
        {nullptr, [&] { return !skeleton->IsValid(); }},
        {nullptr, [&] { return *pose.GetAnimationName(0) == 0 && *pose.GetSkinName() == 0; }},
        {nullptr, [&] { return *pose.GetAttachmentName("hand") == 0; }},
        {nullptr, [&] {
             return !pose.GetBoneData("root", 0) && !pose.SetBoneData("root", 0) && !pose.GetBoneState("root", 0) &&
                    !pose.SetBoneState("root", 0);
         }},
        {nullptr, [&] { return !pose.drawCollision; }},
        {"Audio_DrawDebug", [] { Audio_DrawDebug(); return true; }},
        {"Sound_Add", [] { return Sound_Add("jump.wav", 0, true) == -1; }},
        {"Sound_Replace", [] { return !Sound_Replace(0, "jump.wav", 0, true); }},
        {"Sound_Delete", [] { return !Sound_Delete(0); }},
        {"CSound::LoadSample", [&] { return !sound.LoadSample(); }},
        {"CSound::Discard", [&] { sound.Discard(); return true; }},
        {"ParticleSystem_DrawAtDepth", [] { ParticleSystem_DrawAtDepth(0.0f); return true; }},
        {"ParticleSystem_DrawLayerElement", [] { ParticleSystem_DrawLayerElement(0); return true; }},
        {"Http_Get", [] { Http_Get("http://localhost/", 0, nullptr, nullptr, nullptr); return true; }},
        {"CSkeletonSprite::LoadFromChunk", [&] { return skeleton->LoadFromChunk(data, 4, 1, 1, words) && !skeleton->IsValid(); }},
        {"CSkeletonSprite::LoadFromFile", [&] { return !skeleton->LoadFromFile("hero.json"); }},
        {"CSkeletonSprite::DrawInstance", [&] { skeleton->DrawInstance(0, 0, 0, 1, 1, 0, 0xFFFFFF, 1); return true; }},
        {"CSkeletonSprite::Draw", [&] { skeleton->Draw("walk", nullptr, 0, 0, 0, 1, 1, 0, 0, 1, nullptr); return true; }},
        {"CSkeletonSprite::DrawTime", [&] { skeleton->DrawTime("walk", nullptr, 0, 0, 0, 1, 1, 0, 0, 1, nullptr); return true; }},
        {"CSkeletonSprite::DrawCollision", [&] { skeleton->DrawCollision("walk", 0, 0, 0, 1, 1, 0, 0); return true; }},
    };
    for (const Row& r : rows) {
        SeamTrace_Clear();
        EXPECT_TRUE(r.answersNothing()) << (r.traced ? r.traced : "query");
        if (r.traced)
            EXPECT_EQ(SeamTrace_Calls(), std::vector<std::string>{r.traced});
        else
            EXPECT_TRUE(SeamTrace_Calls().empty()) << SeamTrace_Calls().front();
    }
    delete skeleton;
    ObjectBase_Free(plain);
}

TEST_F(SeamsTest, CallableObjectsCarryACallMarker)
{
    struct Case {
        const char* variable;  // null: no named variables at all
        bool callable;
    };
    const Case cases[] = {
        {"[[Call_Script]]", true}, {"[[Call_Cpp]]", true}, {"[[Call]]", false}, {"call_cpp", false}, {nullptr, false},
    };
    for (const Case& c : cases) {
        QZObjectBase* object = ObjectBase_Alloc(0, 0, false);
        if (c.variable) {
            object->named = new CVariableList();
            object->named->Add(CVariableList::NewNamedNode(c.variable));
        }
        EXPECT_EQ(JS_IsCallableObject(object), c.callable) << (c.variable ? c.variable : "none");
        ObjectBase_Free(object);
    }
}

TEST_F(SeamsTest, SkeletonDurationOfAnUnknownAnimationWarns)
{
    kvtest::RecordingConsole console;
    tagIConsole* saved = DebugConsole;
    DebugConsole = &console;
    CSkeletonInstance pose;
    EXPECT_EQ(pose.GetAnimationDuration("jump"), 0.0f);
    DebugConsole = saved;
    EXPECT_EQ(console.text, "WARNING: Could not find animation \"jump\"\n");
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
