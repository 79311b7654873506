// The step: its phases and stages in order (golden trace), the physics room without the collision stage,
// what the creation stamps, deferred lists, animation, freeze option and timeline note decide, the step
// clock and the frame counter, and deferred changes that outlive their instance or room.
#include "world_harness.h"

#include "core/seam_trace.h"
#include "draw/draw.h"
#include "input/input.h"
#include "layers/layers.h"
#include "lib/lib.h"
#include "physics/physics.h"
#include "platform/platform.h"
#include "world/frame_timer.h"
#include "world/mainloop.h"
#include "world/options.h"
#include "world/run_state.h"
#include "world/stages.h"
#include "world/step.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <cmath>
#include <string>
#include <vector>

namespace steptest {

using worldtest::EventDef;
using worldtest::g_probe;
using worldtest::g_runs;
using worldtest::GameDef;
using worldtest::Handler;
using worldtest::HandlerRun;
using worldtest::Mode;
using worldtest::ObjectDef;
using worldtest::Op;

constexpr int32_t kLast = 100000;

// Object indexes of the step game.
enum : int32_t {
    kAll = 0,        // a handler in every stage, for the order trace
    kSpawner,        // begin step: records 1, then probe 7; step: records 2
    kChanger,        // alarm 0: probe 1, changes to kTarget, probe 2
    kTarget,         // key 65: records 3
    kDepth,          // begin step: probe 3
    kAnim,           // Animation End: records 4
    kAlarm,          // alarm 0: records 5
    kTimelineStart,  // begin step: probe 4
    kChangeDestroy,  // create: changes to kTarget, then destroyed
    kMaker,          // step: probe 5
    kListed,         // step: probe 6
    kJumper,         // alarm 0: records 9, asks for room 3; step and end step record 10 and 11
};
// Timelines: 0 one moment at 0 (empty), 1 one moment at 0 recording 6.
enum : int32_t { kTimelineGolden = 0, kTimelineRecord };

ObjectDef Obj(const char* name, std::vector<EventDef> events)
{
    ObjectDef o;
    o.name = name;
    o.events = std::move(events);
    return o;
}

GameDef StepGame()
{
    GameDef g;
    g.lastInstanceId = kLast;
    g.objects = {
        Obj("obj_all", {{3, 1, {}}, {2, 0, {}}, {5, 65, {}}, {6, 16, {}}, {6, 50, {}}, {3, 0, {}}, {7, 0, {}},
                        {7, 62, {}}, {3, 2, {}}, {7, 7, {}}}),
        Obj("obj_spawner", {{3, 1, {{Op::Record, 1}, {Op::Probe, 7}}}, {3, 0, {{Op::Record, 2}}}}),
        Obj("obj_changer", {{2, 0, {{Op::Probe, 1}, {Op::ChangeObject, kTarget}, {Op::Probe, 2}}}}),
        Obj("obj_target", {{5, 65, {{Op::Record, 3}}}}),
        Obj("obj_depth", {{3, 1, {{Op::Probe, 3}}}}),
        Obj("obj_anim", {{7, 7, {{Op::Record, 4}}}}),
        Obj("obj_alarm", {{2, 0, {{Op::Record, 5}}}}),
        Obj("obj_tlstart", {{3, 1, {{Op::Probe, 4}}}}),
        Obj("obj_changedestroy", {{0, 0, {{Op::ChangeObject, kTarget}, {Op::Destroy}}}}),
        Obj("obj_maker", {{3, 0, {{Op::Probe, 5}}}}),
        Obj("obj_listed", {{3, 0, {{Op::Probe, 6}}}}),
        Obj("obj_jumper", {{2, 0, {{Op::Record, 9}, {Op::RoomChange, 3}}}, {3, 0, {{Op::Record, 10}}},
                           {3, 2, {{Op::Record, 11}}}}),
    };
    g.timelines = {{"tl_golden", {{0, {}}}}, {"tl_record", {{0, {{Op::Record, 6}}}}}};
    return g;
}

int64_t g_now = 0;
int64_t FakeClock() { return g_now; }
void NoSleep(int64_t) {}
const MainLoopHooks kFakeHooks = {FakeClock, NoSleep};

bool g_focus = true;
bool FakeFocus() { return g_focus; }

// Sprite 0 has four frames at 15 frames per second; no other sprite exists.
bool FourFrames(int32_t index, SpriteFacts* out)
{
    if (index != 0) return false;
    *out = SpriteFacts{};
    out->frameCount = 4;
    out->playbackSpeed = 15.0f;
    return true;
}

// Joystick 1 pushed to the left; joystick 2 absent.
bool JoystickLeft(int32_t index, JoystickReading* out)
{
    if (index != 0) return false;
    *out = {0, 32768, 0};
    return true;
}

int32_t ProgressOnly(HTTP_REQ_CONTEXT*, void*, int32_t*) { return 0; }

// Event lines join the seam calls, so one list shows the phases and the stages in their order.
void EventsIntoSeamTrace(const char* line, void*)
{
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    SeamTrace_Record(text.c_str());
}

void FreeAsyncQueue()
{
    while (HTTP_REQ_CONTEXT* request = AsyncRequests) {
        AsyncRequests = request->next;
        delete request;
    }
}

class StepTest : public worldtest::WorldHarness {
public:
    void SetUp() override
    {
        WorldHarness::SetUp();
        ASSERT_TRUE(Load(StepGame(), Mode::Native));
        g_GameData.newMode = false;
        MainLoop_SetHooks(&kFakeHooks);
        g_now = 0;
        Step_SetClock(0);
        g_FrameCounter = 0;
        Stages_Reset();
        IO_SeamSetState({});
        JoystickMask = 0;
        g_focus = true;
        g_DrawEventsEnabled = true;
        SeamTrace_Clear();
    }
    void TearDown() override
    {
        FreeAsyncQueue();
        IO_SeamSetState({});
        Joystick_SetReader(nullptr);
        JoystickMask = 0;
        Sprite_SetFactsSource(nullptr);
        Platform_SetFocusSource(nullptr);
        MainLoop_SetHooks(nullptr);
        g_GameOptions.freezeWhenInactive = false;
        g_GameData.newMode = false;
        g_GameTimer = FrameTimer();
        Stages_Reset();
        WorldHarness::TearDown();
    }

    static std::vector<int32_t> Tags()
    {
        std::vector<int32_t> tags;
        for (const HandlerRun& r : g_runs) tags.push_back(r.tag);
        return tags;
    }
    static bool Called(const char* name)
    {
        const auto& calls = SeamTrace_Calls();
        return std::find(calls.begin(), calls.end(), name) != calls.end();
    }
    static std::string Golden(const char* name)
    {
        return kvtest::ReadFile(wadtest::SourceDir() + "/tests/world/golden/" + name);
    }
    std::vector<CInstance*> ActiveOrder() const
    {
        std::vector<CInstance*> order;
        for (CInstance* i = room_->active.head; i; i = i->next) order.push_back(i);
        return order;
    }
};

// ---- the order of a step ------------------------------------------------------------------------------

TEST_F(StepTest, PhasesAndStagesRunInTheirFixedOrder)
{
    // One instance with a handler in every stage, outside the room, with an alarm due, a running timeline,
    // key A and the left button held, joystick 1 to the left and an HTTP request in progress.
    CInstance* all = Make(kAll, -50, -50);
    all->alarm[0] = 1;
    all->timelineIndex = kTimelineGolden;
    all->timelineRunning = true;
    InputSeamState input{};
    input.keyDown[65] = true;
    input.mouseDown[1] = true;
    IO_SeamSetState(input);
    Joystick_SetReader(JoystickLeft);
    JoystickMask = 0x10000;
    auto* request = new HTTP_REQ_CONTEXT();
    request->active = 1;
    request->status = 3;
    request->process = ProgressOnly;
    AsyncRequests = request;

    EventTrace_SetHook(EventsIntoSeamTrace, nullptr);
    SeamTrace_Clear();
    DoAStep();
    std::string trace;
    for (const std::string& call : SeamTrace_Calls()) trace += call + "\n";
    // Golden: collection and input, then Animation End from the image pass, then begin step, network,
    // timeline moment, alarm 0, key 65, joystick left, global left button, step, motion, outside room,
    // the async services and event 62, collision, end step, particles; then draw and scroll.
    EXPECT_EQ(trace, Golden("step_order.txt"));
    EXPECT_EQ(g_FrameCounter, 1);
}

TEST_F(StepTest, APhysicsRoomStepsTheWorldInsteadOfMotionAndCollisions)
{
    Make(kAll, 10, 10);
    for (bool physics : {false, true}) {
        SCOPED_TRACE(physics ? "physics room" : "plain room");
        delete room_->physicsWorld;
        room_->physicsWorld = physics ? new CPhysicsWorld(0.1f, 30) : nullptr;
        CInstance* falling = room_->active.head;
        falling->gravity = 1.0f;
        const float startY = falling->y;
        SeamTrace_Clear();
        DoAStep();
        EXPECT_EQ(Called("PhysicsWorldUpdate"), physics);
        EXPECT_EQ(Called("HandleCollision"), !physics);
        EXPECT_EQ(falling->y != startY, !physics);  // gravity moves it only outside the world
        falling->gravity = 0.0f;
        falling->SetSpeed(0.0f);
        EXPECT_TRUE(Called("ParticleSystem_UpdateAll"));
    }
}

// ---- stamps and deferred lists inside one step -------------------------------------------------------

TEST_F(StepTest, AnInstanceMadeInBeginStepGetsTheStepButNotTheBeginStep)
{
    // The first of two makes one; the new instance is listed after the second, still due its begin step.
    CInstance* first = Make(kSpawner);
    CInstance* second = Make(kSpawner);
    g_probe = [&](int32_t, CInstance* self) {
        if (self == first) Run_Room->AddInstance(0, 0, kSpawner);
    };
    DoAStep();
    ASSERT_EQ(room_->active.count, 3);
    std::vector<std::pair<int32_t, int32_t>> runs;
    for (const HandlerRun& r : g_runs) runs.emplace_back(r.tag, r.self);
    const int32_t made = kLast + 3;
    EXPECT_EQ(runs, (std::vector<std::pair<int32_t, int32_t>>{
                        {1, first->id}, {1, second->id}, {2, first->id}, {2, second->id}, {2, made}}));
}

TEST_F(StepTest, AnObjectChangeInAnAlarmReachesTheObjectListsBeforeTheKeyboardStage)
{
    CInstance* changer = Make(kChanger);
    changer->alarm[0] = 1;
    InputSeamState input{};
    input.keyDown[65] = true;
    IO_SeamSetState(input);
    std::vector<int32_t> targetListed;
    g_probe = [&](int32_t, CInstance*) { targetListed.push_back(Object_Data(kTarget)->instances.count); };
    DoAStep();
    // Inside the alarm the lists are as they were; the keyboard stage already walks the new object's.
    EXPECT_EQ(targetListed, (std::vector<int32_t>{0, 0}));
    EXPECT_EQ(Tags(), std::vector<int32_t>{3});
    EXPECT_EQ(Object_Data(kChanger)->instances.count, 0);
    EXPECT_EQ(g_ObjectChangeList.count, 0);
}

TEST_F(StepTest, TwoDepthChangesInOneStageQueueTheInstanceOnceAndSortItByTheLastDepth)
{
    CInstance* a = room_->AddInstanceWithDepth(0, 0, 10.0f, kAlarm);
    CInstance* mover = Make(kDepth);
    CInstance* c = room_->AddInstanceWithDepth(0, 0, 20.0f, kAlarm);
    ASSERT_EQ(ActiveOrder(), (std::vector<CInstance*>{mover, a, c}));
    int32_t queued = -1;
    g_probe = [&](int32_t, CInstance* self) {
        self->depth = 30.0f;
        g_DepthChangeList.AddUnique(self);
        self->depth = 15.0f;
        g_DepthChangeList.AddUnique(self);
        queued = g_DepthChangeList.count;
    };
    DoAStep();
    EXPECT_EQ(queued, 1);
    EXPECT_EQ(g_DepthChangeList.count, 0);
    EXPECT_EQ(room_->active.count, 3);
    // Sorted once, by the depth it ended the stage with.
    EXPECT_EQ(ActiveOrder(), (std::vector<CInstance*>{a, mover, c}));
    EXPECT_EQ(mover->depthKey, 15.0f);
    EXPECT_EQ(room_->active.tail->next, nullptr);
    EXPECT_EQ(room_->active.head->prev, nullptr);
}

// ---- animation ---------------------------------------------------------------------------------------

TEST_F(StepTest, AnimationAdvancesAndWrapsOnceWithOneAnimationEnd)
{
    Sprite_SetFactsSource(FourFrames);
    struct Case {
        const char* name;
        bool newMode;
        int32_t sprite;
        float start;
        float speed;
        std::vector<float> after;  // image_index after each step
        std::vector<int32_t> ends;  // Animation End events after each step (cumulative)
    };
    const Case cases[] = {
        {"old mode, four frames: 3.5 -> 4.5 wraps to 0.5", false, 0, 3.5f, 1.0f, {0.5f, 1.5f}, {1, 1}},
        {"old mode backwards: 0.5 -> -0.5 wraps to 3.5", false, 0, 0.5f, -1.0f, {3.5f, 2.5f}, {1, 1}},
        {"no sprite: n is 0, every step ends", false, -1, 0.0f, 1.0f, {1.0f, 2.0f, 3.0f}, {1, 2, 3}},
        {"no sprite, no speed: still every step", false, -1, 2.5f, 0.0f, {2.5f, 2.5f}, {1, 2}},
        {"new mode: 15 frames/s at 30 fps moves half a frame", true, 0, 3.25f, 1.0f, {3.75f, 0.25f}, {0, 1}},
        {"new mode without a sprite: the index stays, but n is 0", true, -1, 1.0f, 1.0f, {1.0f, 1.0f}, {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_GameData.newMode = c.newMode;
        FrameTimer_SetFPS(&g_GameTimer, 30.0);
        CInstance* i = Make(kAnim);
        i->spriteIndex = c.sprite;
        i->imageIndex = c.start;
        i->imageSpeed = c.speed;
        g_runs.clear();
        for (size_t s = 0; s < c.after.size(); ++s) {
            DoAStep();
            EXPECT_FLOAT_EQ(i->imageIndex, c.after[s]) << "step " << s + 1;
            EXPECT_EQ(int32_t(g_runs.size()), c.ends[s]) << "step " << s + 1;
        }
        i->markedForDeletion = true;
        room_->RemoveMarkedInstances();
    }
}

TEST_F(StepTest, NonFiniteAndHugeImageFieldsRunClean)
{
    Sprite_SetFactsSource(FourFrames);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (bool newMode : {false, true}) {
        SCOPED_TRACE(newMode ? "new mode" : "old mode");
        g_GameData.newMode = newMode;
        FrameTimer_SetFPS(&g_GameTimer, 30.0);
        for (float index : {nan, inf, -inf, 3.0e38f, -3.0e38f, 2.5f})
            for (float speed : {nan, inf, -inf, 3.0e38f, -3.0e38f, 1.0f}) {
                CInstance* i = Make(kAnim);
                i->spriteIndex = 0;
                i->imageIndex = index;
                i->imageSpeed = speed;
            }
        for (int s = 0; s < 3; ++s) DoAStep();
        for (CInstance* i = room_->active.head; i; i = i->next) i->markedForDeletion = true;
        room_->RemoveMarkedInstances();
    }
    // A NaN index never wraps, so it gives no Animation End.
    g_GameData.newMode = false;
    CInstance* n = Make(kAnim);
    n->spriteIndex = 0;
    n->imageIndex = nan;
    g_runs.clear();
    DoAStep();
    EXPECT_TRUE(std::isnan(n->imageIndex));
    EXPECT_TRUE(g_runs.empty());
}

// ---- freeze, timelines, clock and counter ------------------------------------------------------------

TEST_F(StepTest, AFrozenGameWithoutFocusPollsInputButNeitherStepsNorDraws)
{
    Platform_SetFocusSource(FakeFocus);
    struct Case {
        bool freeze;
        bool focus;
        bool runs;
    };
    for (const Case& c : {Case{true, false, false}, Case{true, true, true}, Case{false, false, true}}) {
        SCOPED_TRACE(testing::Message() << "freeze " << c.freeze << " focus " << c.focus);
        g_GameOptions.freezeWhenInactive = c.freeze;
        g_focus = c.focus;
        CInstance* i = Make(kAlarm);
        i->alarm[0] = 2;
        g_runs.clear();
        g_FrameCounter = 0;
        SeamTrace_Clear();
        DoAStep();
        DoAStep();
        EXPECT_EQ(i->alarm[0], c.runs ? 0 : 2);
        EXPECT_EQ(g_runs.size(), c.runs ? 1u : 0u);
        EXPECT_EQ(Called("DrawRoom"), c.runs);
        EXPECT_EQ(g_FrameCounter, c.runs ? 2 : 0);
        EXPECT_TRUE(Called("IO_Update"));
        EXPECT_TRUE(Called("Services_Process"));
        i->markedForDeletion = true;
        room_->RemoveMarkedInstances();
    }
}

TEST_F(StepTest, ATimelineStartedDuringAStepFirstAdvancesInTheNextStep)
{
    Make(kTimelineStart);
    g_probe = [](int32_t, CInstance* self) {
        if (self->timelineRunning) return;
        self->timelineIndex = kTimelineRecord;
        self->timelinePosition = 0.0f;
        self->timelineSpeed = 1.0f;
        self->timelineRunning = true;
    };
    DoAStep();
    EXPECT_TRUE(g_runs.empty());
    DoAStep();
    ASSERT_EQ(g_runs.size(), 1u);
    EXPECT_EQ(g_runs[0].tag, 6);
    EXPECT_EQ(g_runs[0].type, TIMELINE_EVENT_TYPE);
}

TEST_F(StepTest, EachStepStoresItsDeltaAndCompletedStepsAdvanceTheFrameCounter)
{
    Make(kAlarm);
    g_now = 5000;
    Step_SetClock(1000);
    const std::pair<int64_t, int64_t> steps[] = {{5000, 4000}, {21667, 16667}, {21667, 0}};
    int64_t frames = 0;
    for (const auto& [now, delta] : steps) {
        g_now = now;
        DoAStep();
        EXPECT_EQ(Step_Delta, delta) << "at " << now;
        EXPECT_EQ(g_FrameCounter, ++frames) << "at " << now;
    }
}

TEST_F(StepTest, ARoomChangeAskedForInAStageEndsTheStepAtTheNextCheck)
{
    CInstance* jumper = Make(kJumper);
    jumper->alarm[0] = 1;
    jumper->SetHSpeed(2.0f);
    const float jumperX = jumper->x;
    Make(kAlarm)->alarm[0] = 1;
    g_now = 7000;
    Step_SetClock(2000);
    DoAStep();
    // The alarm stage finishes (obj_alarm is listed first), then nothing: no step, no end step, no
    // particles, no draw, no scroll.
    EXPECT_EQ(Tags(), (std::vector<int32_t>{5, 9}));
    EXPECT_EQ(RoomChangeCode, 3);
    EXPECT_EQ(Step_Delta, 5000);
    EXPECT_EQ(g_FrameCounter, 0);
    EXPECT_EQ(jumper->x, jumperX);  // no movement stage
    for (const char* skipped : {"HandleCollision", "ParticleSystem_UpdateAll",
                                "DrawRoom", "IAP_ProcessEvents"})
        EXPECT_FALSE(Called(skipped)) << skipped;
    RoomChangeCode = ROOM_CHANGE_NONE;
}

// ---- deferred changes that outlive an instance -------------------------------------------------------

TEST_F(StepTest, AnInstanceChangedAndDestroyedInItsCreateEventLeavesNoListBehind)
{
    Make(kMaker);
    g_probe = [](int32_t tag, CInstance*) {
        if (tag != 5) return;
        CInstance* made = Run_Room->AddInstance(0, 0, kChangeDestroy);
        Perform_Event(made, made, EVENT_CREATE, 0);
    };
    InputSeamState input{};
    input.keyDown[65] = true;
    IO_SeamSetState(input);
    DoAStep();
    DoAStep();
    // Each made instance changed to kTarget and was destroyed before any keyboard stage could reach it.
    EXPECT_TRUE(g_runs.empty());
    EXPECT_EQ(room_->active.count, 1);
    EXPECT_EQ(Object_Data(kTarget)->instances.count, 0);
    EXPECT_EQ(Object_Data(kChangeDestroy)->instances.count, 0);
    EXPECT_EQ(g_ObjectChangeList.count, 0);
    EXPECT_EQ(g_DepthChangeList.count, 0);
    EXPECT_EQ(InstanceIdMap_Count(), 1);
}

TEST_F(StepTest, AnInstanceDestroyedWhileOnEveryDeferredListIsAppliedThenRemoved)
{
    Make(kListed);
    CInstance* other = Make(kAlarm);
    g_probe = [](int32_t, CInstance* self) {
        self->SetObjectIndex(kTarget);  // object and depth lists
        g_ActivationList.AddUnique(self);
        self->markedForDeletion = true;
        ++Room_MarkedCount;
    };
    DoAStep();
    EXPECT_EQ(room_->active.count, 1);
    EXPECT_EQ(room_->active.head, other);
    EXPECT_EQ(Object_Data(kTarget)->instances.count, 0);
    EXPECT_EQ(Object_Data(kListed)->instances.count, 0);
    for (InstanceList* list : {&g_ObjectChangeList, &g_DepthChangeList, &g_ActivationList})
        EXPECT_EQ(list->count, 0);
    DoAStep();

    // Deleted outright while still queued: the lists let go of it.
    CInstance* doomed = Make(kListed);
    doomed->SetObjectIndex(kTarget);
    g_ActivationList.AddUnique(doomed);
    room_->DeleteInstance(doomed);
    for (InstanceList* list : {&g_ObjectChangeList, &g_DepthChangeList, &g_ActivationList})
        EXPECT_EQ(list->count, 0);
    UpdateActiveLists();
    DoAStep();
    EXPECT_EQ(room_->active.count, 1);
}

// ---- deferred changes that outlive a room ------------------------------------------------------------

// Rooms: rm_a holds one obj_ender (its step asks for rm_b; its Room End probes) and one obj_plain;
// rm_b holds one obj_plain.
enum : int32_t { kEnder = 0, kPlain };

GameDef TwoRooms()
{
    GameDef g;
    g.lastInstanceId = kLast;
    g.objects = {Obj("obj_ender", {{3, 0, {{Op::RoomChange, 1}}}, {7, 5, {{Op::Probe, 7}}}}),
                 Obj("obj_plain", {{3, 0, {{Op::Record, 8}}}})};
    worldtest::RoomDef a{"rm_a", false, {{kEnder, 100001, {}}, {kPlain, 100002, {}}}, {}, false};
    worldtest::RoomDef b{"rm_b", false, {{kPlain, 100003, {}}}, {}, false};
    g.rooms = {a, b};
    return g;
}

TEST_F(StepTest, ChangesQueuedInRoomEndDoNotReachTheNextRoomsSteps)
{
    struct Case {
        const char* name;
        std::function<void(CInstance*)> roomEnd;
    };
    const Case cases[] = {
        {"a depth change",
         [](CInstance* self) {
             self->depth = -5.0f;
             g_DepthChangeList.AddUnique(self);
         }},
        {"an object change",
         [](CInstance* self) { self->SetObjectIndex(kPlain); }},
        {"every list, then destroyed",
         [](CInstance* self) {
             self->SetObjectIndex(kPlain);
             g_ActivationList.AddUnique(self);
             self->markedForDeletion = true;
             ++Room_MarkedCount;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Unload();
        ASSERT_TRUE(Load(TwoRooms(), Mode::Native));
        StartFirstRoom();
        ASSERT_NE(Run_Room, nullptr);
        g_probe = [&](int32_t, CInstance* self) { c.roomEnd(self); };
        g_runs.clear();
        DoAStep();
        ASSERT_EQ(RoomChangeCode, 1);
        SwitchRoom(RoomChangeCode);
        RoomChangeCode = ROOM_CHANGE_NONE;
        EXPECT_EQ(Run_RoomIndex, 1);
        for (InstanceList* list : {&g_ObjectChangeList, &g_DepthChangeList, &g_ActivationList})
            EXPECT_EQ(list->count, 0);
        g_runs.clear();
        DoAStep();
        DoAStep();
        EXPECT_EQ(Run_Room->active.count, 1);
        ASSERT_EQ(g_runs.size(), 2u);
        EXPECT_EQ(g_runs[0].self, 100003);
        EXPECT_EQ(Object_Data(kPlain)->instances.count, 1);
        EXPECT_EQ(Object_Data(kEnder)->instances.count, 0);
    }
    EndGame();
}

}  // namespace steptest
