// The event stages on a fake input state: which instances each stage reaches (its own phase stamp, each
// listed object's own instances), the keyboard, mouse and joystick event orders, mouse enter and leave,
// outside-room, boundary and view events, timeline walks (including moments that change their timeline),
// the asynchronous queue, and fields that are not finite numbers.
#include "world_harness.h"

#include "draw/draw.h"
#include "ds/ds.h"
#include "gfx/device.h"
#include "gfx/window.h"
#include "input/input.h"
#include "layers/layers.h"
#include "lib/lib.h"
#include "world/command_line.h"
#include "world/loader_standin.h"
#include "world/stages.h"
#include "world/step.h"

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace stagestest {

using worldtest::EventDef;
using worldtest::g_probe;
using worldtest::g_runs;
using worldtest::GameDef;
using worldtest::Handler;
using worldtest::HandlerRun;
using worldtest::Mode;
using worldtest::ObjectDef;
using worldtest::Op;

// Maps alive in the ds_map registry (the asynchronous stage makes one per event and destroys it after).
int32_t LiveMaps()
{
    int32_t live = 0;
    for (int32_t i = 0; i < DS_MapsCount; ++i) live += DS_Maps[i] != nullptr;
    return live;
}

// Places mouse device 0 at (v, v) in the room: no views drawn and a window the room's size map it one to one.
void PlaceMouse(int32_t v)
{
    Window_ClearViewPorts();
    GR_KeepAspect = false;
    Window_ClientWidth = Run_Room->width;
    Window_ClientHeight = Run_Room->height;
    // The raw position is what the step's latch copies; the device copy is what the stages read now.
    IO_RawMouse = {v, v};
    IO_DeviceMouse[0] = IO_RawMouse;
}

constexpr int32_t kLast = 100000;
constexpr int32_t kMoment = 100000;  // a moment records kMoment + its time

// Object indexes of the stage game.
enum : int32_t {
    kParent = 0,   // step and alarm 0
    kChild,        // kParent's child, with no handler of its own
    kAlarmCreate,  // create: probe 1 (alarm 0 := 3); alarm 0
    kBegin,        // begin step: records, then probe 6
    kKeys,         // keyboard 0, 1, 65, 66, 186; press 0, 1, 65; release 0, 1, 65
    kKeyMaker,     // keyboard 65: records and makes one of its own; keyboard 66
    kMouse,        // instance mouse events 0 ... 9 and the global button, wheel and any-button events
    kHover,        // Mouse Enter and Mouse Leave
    kOutside,      // Outside Room and Intersect Boundary
    kViews,        // outside and boundary of views 0 and 3
    kJoy,          // joystick 1 directions and buttons, some of joystick 2's
    kAsync,        // asynchronous events 60, 62, 64 and 65: each records, then probe 2
    kPlain,        // no handlers: carries timelines
};
// Timelines.
enum : int32_t { kTlLoop = 0, kTlBack, kTlDelete, kTlClearEarlier, kTlClearLater };

// The handler of (type, number) records type * 1000 + number.
EventDef Rec(int32_t type, int32_t number, Handler more = {})
{
    Handler h{{Op::Record, type * 1000 + number}};
    h.insert(h.end(), more.begin(), more.end());
    return {type, number, h};
}
int32_t Tag(int32_t type, int32_t number) { return type * 1000 + number; }

ObjectDef Obj(const char* name, std::vector<EventDef> events, int32_t parent = -100)
{
    ObjectDef o;
    o.name = name;
    o.parent = parent;
    o.events = std::move(events);
    return o;
}

worldtest::MomentDef Moment(int32_t time, Handler more = {})
{
    Handler h{{Op::Record, kMoment + time}};
    h.insert(h.end(), more.begin(), more.end());
    return {time, h};
}

GameDef StageGame()
{
    GameDef g;
    g.lastInstanceId = kLast;
    std::vector<EventDef> mouse;
    for (int32_t n = 0; n <= 9; ++n) mouse.push_back(Rec(6, n));
    for (int32_t n : {12, 13, 50, 51, 53, 54, 58, 60, 61}) mouse.push_back(Rec(6, n));
    std::vector<EventDef> joy;
    for (int32_t n : {16, 17, 18, 19, 21, 22, 23, 24, 25, 26, 27, 28, 31, 34, 36, 43}) joy.push_back(Rec(6, n));
    g.objects = {
        Obj("obj_parent", {Rec(3, 0), Rec(2, 0)}),
        Obj("obj_child", {}, kParent),
        Obj("obj_alarmcreate", {{0, 0, {{Op::Probe, 1}}}, Rec(2, 0)}),
        Obj("obj_begin", {Rec(3, 1, {{Op::Probe, 6}})}),
        Obj("obj_keys", {Rec(5, 0), Rec(5, 1), Rec(5, 65), Rec(5, 66), Rec(5, 186), Rec(9, 0), Rec(9, 1), Rec(9, 65),
                         Rec(10, 0), Rec(10, 1), Rec(10, 65)}),
        Obj("obj_keymaker", {Rec(5, 65, {{Op::CreateOwn}}), Rec(5, 66)}),
        Obj("obj_mouse", mouse),
        Obj("obj_hover", {Rec(6, 10), Rec(6, 11)}),
        Obj("obj_outside", {Rec(7, 0), Rec(7, 1)}),
        Obj("obj_views", {Rec(7, 40), Rec(7, 43), Rec(7, 50), Rec(7, 53)}),
        Obj("obj_joy", joy),
        Obj("obj_async", {Rec(7, 60, {{Op::Probe, 2}}), Rec(7, 62, {{Op::Probe, 2}}), Rec(7, 64, {{Op::Probe, 2}}),
                          Rec(7, 65, {{Op::Probe, 2}})}),
        Obj("obj_plain", {}),
    };
    g.timelines = {
        {"tl_loop", {Moment(0), Moment(5), Moment(10)}},
        {"tl_back", {Moment(9), Moment(10)}},
        {"tl_delete", {Moment(0), Moment(1, {{Op::Probe, 3}}), Moment(2)}},
        {"tl_clear_earlier", {Moment(0), Moment(1, {{Op::Probe, 4}}), Moment(2), Moment(3)}},
        {"tl_clear_later", {Moment(0), Moment(1, {{Op::Probe, 5}}), Moment(2), Moment(3)}},
    };
    return g;
}

// Sprite 0 has four frames; no other sprite exists.
bool FourFrames(int32_t index, SpriteFacts* out)
{
    if (index != 0) return false;
    *out = SpriteFacts{};
    out->frameCount = 4;
    out->playbackSpeed = 15.0f;
    return true;
}

// Joystick readings the tests set; an absent joystick does not answer.
struct FakeJoysticks {
    bool present[2] = {false, false};
    JoystickReading reading[2] = {};
};
FakeJoysticks g_joysticks;
bool FakeJoystickReader(int32_t index, JoystickReading* out)
{
    if (index < 0 || index > 1 || !g_joysticks.present[index]) return false;
    *out = g_joysticks.reading[index];
    return true;
}

// Camera 7 sees the area the test sets; no other camera exists.
float g_cameraArea[4] = {};
bool FakeCamera(int32_t id, float* l, float* t, float* r, float* b)
{
    if (id != 7) return false;
    *l = g_cameraArea[0];
    *t = g_cameraArea[1];
    *r = g_cameraArea[2];
    *b = g_cameraArea[3];
    return true;
}

// A request whose callbacks and deletion the tests count.
struct Counts {
    int32_t polls = 0;
    int32_t processes = 0;
    int32_t cleanups = 0;
    int32_t deleted = 0;
};
Counts g_counts;
int32_t g_processResult = 0;
bool g_processMakesMap = true;

struct TrackedRequest : HTTP_REQ_CONTEXT {
    ~TrackedRequest() override { ++g_counts.deleted; }
};
int32_t CountPoll(HTTP_REQ_CONTEXT*)
{
    ++g_counts.polls;
    return 0;
}
int32_t FinishOnPoll(HTTP_REQ_CONTEXT* request)
{
    ++g_counts.polls;
    request->status = 7;
    return 0;
}
int32_t Process(HTTP_REQ_CONTEXT*, void*, int32_t* map)
{
    ++g_counts.processes;
    if (g_processMakesMap) *map = DSMap_NewWithEntries(1, "status", 0.0, nullptr);
    return g_processResult;
}
int32_t Cleanup(HTTP_REQ_CONTEXT*)
{
    ++g_counts.cleanups;
    return 0;
}

TrackedRequest* Queue(int32_t status, bool active = true)
{
    auto* request = new TrackedRequest();
    request->active = active ? 1 : 0;
    request->status = status;
    request->process = Process;
    request->cleanup = Cleanup;
    request->id = 7;
    // Appended: the queue keeps the order requests were made in.
    HTTP_REQ_CONTEXT** link = &AsyncRequests;
    while (*link) link = &(*link)->next;
    *link = request;
    return request;
}
int32_t QueueLength()
{
    int32_t n = 0;
    for (HTTP_REQ_CONTEXT* r = AsyncRequests; r; r = r->next) ++n;
    return n;
}
void FreeQueue()
{
    while (HTTP_REQ_CONTEXT* request = AsyncRequests) {
        AsyncRequests = request->next;
        delete request;
    }
}

InputSeamState Keys(std::initializer_list<int32_t> down, std::initializer_list<int32_t> pressed = {},
                    std::initializer_list<int32_t> released = {})
{
    InputSeamState s{};
    for (int32_t k : down) s.keyDown[k] = true;
    for (int32_t k : pressed) s.keyPressed[k] = true;
    for (int32_t k : released) s.keyReleased[k] = true;
    return s;
}
// Buttons 1 left, 2 right, 3 middle.
InputSeamState Buttons(std::initializer_list<int32_t> down, std::initializer_list<int32_t> pressed = {},
                       std::initializer_list<int32_t> released = {})
{
    InputSeamState s{};
    for (int32_t b : down) s.mouseDown[b] = true;
    for (int32_t b : pressed) s.mousePressed[b] = true;
    for (int32_t b : released) s.mouseReleased[b] = true;
    return s;
}

class StagesTest : public worldtest::WorldHarness {
public:
    void SetUp() override
    {
        WorldHarness::SetUp();
        ASSERT_TRUE(Load(StageGame(), LoadMode()));
        Sprite_SetFactsSource(FourFrames);
        Joystick_SetReader(FakeJoystickReader);
        Camera_SetViewAreaSource(FakeCamera);
        Fresh();
    }
    void TearDown() override
    {
        FreeQueue();
        IO_SeamSetState({});
        Sprite_SetFactsSource(nullptr);
        Joystick_SetReader(nullptr);
        Camera_SetViewAreaSource(nullptr);
        JoystickMask = 0;
        g_RunFlags.noDirectInput = false;
        g_GameData.newMode = false;
        Stages_Reset();
        WorldHarness::TearDown();
    }

    virtual Mode LoadMode() const { return Mode::Native; }

    // A new empty room, no input, no requests, nothing recorded.
    void Fresh()
    {
        FreeQueue();
        delete room_;
        room_ = new CRoom();
        SetCurrentRoom(room_);
        Run_RoomIndex = 0;
        InstanceLists_Free();
        RoomChangeCode = ROOM_CHANGE_NONE;
        g_InstanceIdCounter = kLast;
        g_runs.clear();
        g_probe = nullptr;
        IO_SeamSetState({});
        PlaceMouse(0);
        g_joysticks = {};
        JoystickMask = 0;
        g_RunFlags.noDirectInput = false;
        g_GameData.newMode = false;
        g_counts = {};
        g_processResult = 0;
        g_processMakesMap = true;
        Stages_Reset();
        Error_ResetState();
    }

    // An instance with sprite 0 whose box is the given one (so it is under the mouse inside the box).
    CInstance* Boxed(int32_t object, BoundingBox box)
    {
        CInstance* i = Make(object, float(box.left), float(box.top));
        i->spriteIndex = 0;
        i->bbox = box;
        i->bboxDirty = false;
        return i;
    }

    static std::vector<int32_t> Tags()
    {
        std::vector<int32_t> tags;
        for (const HandlerRun& r : g_runs) tags.push_back(r.tag);
        return tags;
    }
    // Runs the stage steps times; each run as (step, tag).
    static std::vector<std::pair<int32_t, int32_t>> Steps(int32_t steps, const std::function<void()>& stage)
    {
        std::vector<std::pair<int32_t, int32_t>> out;
        for (int32_t s = 1; s <= steps; ++s) {
            const size_t before = g_runs.size();
            stage();
            UpdateActiveLists();
            for (size_t k = before; k < g_runs.size(); ++k) out.emplace_back(s, g_runs[k].tag);
        }
        return out;
    }
    static void StartTimeline(CInstance* i, int32_t timeline, float position, float speed, bool loop)
    {
        i->timelineIndex = timeline;
        i->timelinePosition = position;
        i->timelinePrevious = position;
        i->timelineSpeed = speed;
        i->timelineLoop = loop;
        i->timelineRunning = true;
    }
};

using StepRuns = std::vector<std::pair<int32_t, int32_t>>;

// ---- the stages' edge cases --------------------------------------------------------------------------

TEST_F(StagesTest, EdgeCasesOfEachStage)
{
    struct Case {
        const char* name;
        std::function<void(StagesTest*)> setUp;
        int32_t steps;
        std::function<void()> stage;
        StepRuns want;
    };
    const int32_t alarm = Tag(2, 0);
    const Case cases[] = {
        {"alarm 3 set in the create event fires in the third step",
         [](StagesTest* t) {
             g_probe = [](int32_t, CInstance* self) { self->alarm[0] = 3; };
             CInstance* i = t->Make(kAlarmCreate);
             Perform_Event(i, i, EVENT_CREATE, 0);
         },
         4, HandleAlarm, {{3, alarm}}},
        {"an instance made in another's begin step gets no begin step, though listed after one still due",
         [](StagesTest* t) {
             t->Make(kBegin);
             t->Make(kBegin);
             g_probe = [](int32_t, CInstance* self) {
                 if (self->id == kLast + 1) Run_Room->AddInstance(0, 0, kBegin);
             };
         },
         1, [] { HandleStep(1); }, {{1, Tag(3, 1)}, {1, Tag(3, 1)}}},
        {"keys A and B held: 65, 66, then any key; nothing pressed or released",
         [](StagesTest* t) {
             t->Make(kKeys);
             IO_SeamSetState(Keys({65, 66}));
         },
         1, HandleKeyboard, {{1, Tag(5, 65)}, {1, Tag(5, 66)}, {1, Tag(5, 1)}, {1, Tag(9, 0)}, {1, Tag(10, 0)}}},
        {"no key: the no-key events",
         [](StagesTest* t) { t->Make(kKeys); }, 1, HandleKeyboard, {{1, Tag(5, 0)}, {1, Tag(9, 0)}, {1, Tag(10, 0)}}},
        {"A pressed: held and pressed, then any key held and any key pressed",
         [](StagesTest* t) {
             t->Make(kKeys);
             IO_SeamSetState(Keys({}, {65}));
         },
         1, HandleKeyboard, {{1, Tag(5, 65)}, {1, Tag(9, 65)}, {1, Tag(5, 1)}, {1, Tag(9, 1)}, {1, Tag(10, 0)}}},
        {"A released: release, then no key held or pressed and any key released",
         [](StagesTest* t) {
             t->Make(kKeys);
             IO_SeamSetState(Keys({}, {}, {65}));
         },
         1, HandleKeyboard, {{1, Tag(10, 65)}, {1, Tag(5, 0)}, {1, Tag(9, 0)}, {1, Tag(10, 1)}}},
        {"left click over an instance: instance 0 and 4, global 50, 12 and 53",
         [](StagesTest* t) {
             t->Boxed(kMouse, {10, 10, 20, 20});
             PlaceMouse(15);
             IO_SeamSetState(Buttons({1}, {1}));
         },
         1, HandleMouse,
         {{1, Tag(6, 0)}, {1, Tag(6, 50)}, {1, Tag(6, 4)}, {1, Tag(6, 12)}, {1, Tag(6, 53)}}},
        {"an instance outside the room gets Outside Room once",
         [](StagesTest* t) { t->Make(kOutside, -10, 10); }, 3, HandleOther,
         {{1, Tag(7, 0)}, {1, Tag(7, 1)}, {2, Tag(7, 1)}, {3, Tag(7, 1)}}},
        {"an instance straddling the edge gets Intersect Boundary every step",
         [](StagesTest* t) { t->Boxed(kOutside, {-5, 10, 5, 20}); }, 3, HandleOther,
         {{1, Tag(7, 1)}, {2, Tag(7, 1)}, {3, Tag(7, 1)}}},
        {"moments 0, 5, 10 at speed 1, looping: steps 1, 6, 11, then 0 again",
         [](StagesTest* t) { StartTimeline(t->Make(kPlain), kTlLoop, 0, 1, true); }, 12, HandleTimeLines,
         {{1, kMoment + 0}, {6, kMoment + 5}, {11, kMoment + 10}, {12, kMoment + 0}}},
        {"backwards from 10 at speed -2 over moments 9 and 10: 10, then 9",
         [](StagesTest* t) { StartTimeline(t->Make(kPlain), kTlBack, 10, -2, false); }, 2, HandleTimeLines,
         {{1, kMoment + 10}, {1, kMoment + 9}}},
        {"an HTTP request in progress: event 62 in every step",
         [](StagesTest* t) {
             t->Make(kAsync);
             Queue(3);
         },
         3, HandleAsyncRequests, {{1, Tag(7, 62)}, {2, Tag(7, 62)}, {3, Tag(7, 62)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        c.setUp(this);
        g_runs.clear();
        EXPECT_EQ(Steps(c.steps, c.stage), c.want);
    }
}

TEST_F(StagesTest, AChildThatOnlyInheritsGetsEachStageOnceThroughItsOwnObject)
{
    CInstance* child = Make(kChild);
    CInstance* parent = Make(kParent);
    child->alarm[0] = 2;
    parent->alarm[0] = 2;
    // Both objects are listed for the inherited handlers; each walk covers only the object's own instances.
    HandleStep(0);
    std::vector<int32_t> selves;
    for (const HandlerRun& r : g_runs) selves.push_back(r.self);
    EXPECT_EQ(selves, (std::vector<int32_t>{parent->id, child->id}));
    g_runs.clear();
    HandleAlarm();
    EXPECT_EQ(child->alarm[0], 1);
    EXPECT_EQ(parent->alarm[0], 1);
    EXPECT_TRUE(g_runs.empty());
    HandleAlarm();
    EXPECT_EQ(g_runs.size(), 2u);
    EXPECT_EQ(child->alarm[0], 0);
}

TEST_F(StagesTest, AlarmsCountDownAndFireOnlyOnReachingZero)
{
    struct Case {
        int32_t start;
        int32_t after;
        bool fires;
    };
    const Case cases[] = {
        {1, 0, true}, {0, -1, false}, {-1, -1, false}, {-5, -5, false}, {2, 1, false},
        {INT32_MAX, INT32_MAX - 1, false}, {INT32_MIN, INT32_MIN, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        Fresh();
        CInstance* i = Make(kParent);
        for (int32_t& a : i->alarm) a = c.start;  // only alarm 0 has a handler: the rest are not counted
        HandleAlarm();
        EXPECT_EQ(i->alarm[0], c.after);
        EXPECT_EQ(i->alarm[1], c.start);
        EXPECT_EQ(g_runs.size(), c.fires ? 1u : 0u);
    }
}

// ---- keyboard ----------------------------------------------------------------------------------------

TEST_F(StagesTest, KeysAbove128AreNeverDeliveredButCountAsAnyKey)
{
    Make(kKeys);
    IO_SeamSetState(Keys({186}, {186}, {186}));
    HandleKeyboard();
    EXPECT_EQ(Tags(), (std::vector<int32_t>{Tag(5, 1), Tag(9, 1), Tag(10, 1)}));
}

TEST_F(StagesTest, AnInstanceMadeByOneKeysEventGetsTheLaterKeys)
{
    CInstance* first = Make(kKeyMaker);
    IO_SeamSetState(Keys({65, 66}));
    HandleKeyboard();
    std::vector<std::pair<int32_t, int32_t>> runs;
    for (const HandlerRun& r : g_runs) runs.emplace_back(r.tag, r.self);
    const int32_t made = kLast + 2;
    EXPECT_EQ(runs, (std::vector<std::pair<int32_t, int32_t>>{
                        {Tag(5, 65), first->id}, {Tag(5, 66), first->id}, {Tag(5, 66), made}}));
}

// ---- mouse -------------------------------------------------------------------------------------------

TEST_F(StagesTest, MouseEventsComeInButtonPassOrder)
{
    struct Case {
        const char* name;
        InputSeamState input;
        bool over;
        std::vector<int32_t> want;
    };
    const std::vector<int32_t> wheel = {Tag(6, 60), Tag(6, 61)};
    InputSeamState wheels{};
    wheels.wheelUp = wheels.wheelDown = true;
    const Case cases[] = {
        {"two buttons pressed: both held events before either pressed event, 12 once per button",
         Buttons({1, 2}, {1, 2}), true,
         {Tag(6, 0), Tag(6, 50), Tag(6, 1), Tag(6, 51), Tag(6, 4), Tag(6, 12), Tag(6, 53), Tag(6, 5), Tag(6, 12),
          Tag(6, 54)}},
        {"left held away from the instance: only the global event", Buttons({1}), false, {Tag(6, 50)}},
        {"no button over the instance: the no-button event", Buttons({}), true, {Tag(6, 3)}},
        {"no button away from the instance: nothing", Buttons({}), false, {}},
        {"middle released: no button, then release 9, global 13 and 58", Buttons({}, {}, {3}), true,
         {Tag(6, 3), Tag(6, 9), Tag(6, 13), Tag(6, 58)}},
        {"the wheel both ways", wheels, false, wheel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        Boxed(kMouse, {10, 10, 20, 20});
        PlaceMouse(c.over ? 15 : 100);
        IO_SeamSetState(c.input);
        HandleMouse();
        EXPECT_EQ(Tags(), c.want);
    }
}

TEST_F(StagesTest, MouseEnterAndLeaveFollowTheOverStateBits)
{
    struct Case {
        int32_t old;
        bool over;
        int32_t state;
        std::vector<int32_t> want;
    };
    const int32_t enter = Tag(6, 10), leave = Tag(6, 11);
    const Case cases[] = {
        {2, true, 13, {enter}},   {1, true, 1, {}},          {1, false, 14, {leave}}, {2, false, 2, {}},
        {13, true, 1, {}},        {14, true, 13, {enter}},   {13, false, 14, {leave}}, {14, false, 2, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "old " << c.old << (c.over ? " over" : " away"));
        Fresh();
        CInstance* i = Boxed(kHover, {10, 10, 20, 20});
        i->mouseState = c.old;
        PlaceMouse(c.over ? 15 : 50);
        HandleMouse();
        // Listed for both events, the instance is updated once (a second update would lose the change bits).
        EXPECT_EQ(i->mouseState, c.state);
        EXPECT_EQ(Tags(), c.want);
    }

    // A new instance: Mouse Enter when first seen under the mouse, nothing when first seen away.
    for (bool over : {true, false}) {
        SCOPED_TRACE(over ? "new, under the mouse" : "new, away");
        Fresh();
        Boxed(kHover, {10, 10, 20, 20});
        PlaceMouse(over ? 15 : 50);
        HandleMouse();
        EXPECT_EQ(Tags(), over ? std::vector<int32_t>{enter} : std::vector<int32_t>{});
        g_runs.clear();
        HandleMouse();
        EXPECT_TRUE(g_runs.empty());
    }
}

// ---- outside, boundary and views ---------------------------------------------------------------------

TEST_F(StagesTest, OutsideRoomFiresOncePerExit)
{
    CInstance* i = Make(kOutside, -10, 10);
    std::vector<int32_t> outsideRuns;
    for (float x : {-10.0f, -20.0f, 10.0f, 700.0f, 700.0f, 640.0f}) {
        i->x = x;
        g_runs.clear();
        HandleOther();
        int32_t n = 0;
        for (const HandlerRun& r : g_runs) n += r.tag == Tag(7, 0);
        outsideRuns.push_back(n);
    }
    // The room is 640 wide: x 640 is still inside.
    EXPECT_EQ(outsideRuns, (std::vector<int32_t>{1, 0, 0, 1, 0, 0}));
}

TEST_F(StagesTest, ViewEventsUseTheRoundedViewInOldModeAndTheCameraInNewMode)
{
    struct Case {
        const char* name;
        bool newMode;
        int32_t view;
        bool visible;
        bool viewsEnabled;
        BoundingBox box;
        std::vector<int32_t> want;
    };
    const Case cases[] = {
        // Old mode: view x 0.6 and width 100 give 1 ... 101; new mode: the camera's 0.6 ... 100.6 gives 0 ... 100.
        {"old: left edge 0 sticks out of 1 ... 101", false, 0, true, true, {0, 40, 50, 60}, {Tag(7, 50)}},
        {"new: left edge 0 is inside 0 ... 100", true, 0, true, true, {0, 40, 50, 60}, {}},
        {"old: right edge 101 is inside", false, 0, true, true, {95, 40, 101, 60}, {}},
        {"new: right edge 101 sticks out of 100", true, 0, true, true, {95, 40, 101, 60}, {Tag(7, 50)}},
        {"old: entirely right of the view", false, 0, true, true, {102, 40, 110, 60}, {Tag(7, 40), Tag(7, 50)}},
        {"view 3 uses 43 and 53", false, 3, true, true, {102, 40, 110, 60}, {Tag(7, 43), Tag(7, 53)}},
        {"an invisible view gives nothing", false, 0, false, true, {102, 40, 110, 60}, {}},
        {"views disabled give nothing", false, 0, true, false, {102, 40, 110, 60}, {}},
    };
    g_cameraArea[0] = 0.6f;
    g_cameraArea[1] = 0.0f;
    g_cameraArea[2] = 100.6f;
    g_cameraArea[3] = 100.0f;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        g_GameData.newMode = c.newMode;
        room_->viewsEnabled = c.viewsEnabled;
        CView& v = room_->views[c.view];
        v.visible = c.visible;
        v.x = 0.6f;
        v.y = 0.0f;
        v.width = 100.0f;
        v.height = 100.0f;
        v.cameraId = 7;
        Boxed(kViews, c.box);
        HandleOther();
        EXPECT_EQ(Tags(), c.want);
    }

    // New mode without a camera: the view is 0 ... 0, so a point elsewhere is outside it.
    Fresh();
    g_GameData.newMode = true;
    room_->viewsEnabled = true;
    room_->views[0].visible = true;
    room_->views[0].cameraId = -1;
    Make(kViews, 50, 50);
    HandleOther();
    EXPECT_EQ(Tags(), (std::vector<int32_t>{Tag(7, 40), Tag(7, 50)}));
}

// ---- timelines ---------------------------------------------------------------------------------------

TEST_F(StagesTest, TimelineWalks)
{
    struct Case {
        const char* name;
        int32_t timeline;
        float position;
        float speed;
        bool loop;
        std::function<void(CInstance*)> moreSetUp;
        int32_t steps;
        StepRuns want;
        float positionAfter;
    };
    const Case cases[] = {
        {"speed 0 with the position moved forward runs the passed moments", kTlLoop, 6, 0, false,
         [](CInstance* i) { i->timelinePrevious = 0; }, 2, {{1, kMoment + 0}, {1, kMoment + 5}}, 6},
        {"speed 0 with the position moved back runs nothing", kTlLoop, 0, 0, false,
         [](CInstance* i) { i->timelinePrevious = 6; }, 1, {}, 0},
        {"not looping: the position passes the end and stays", kTlLoop, 9, 1, false, nullptr, 4,
         {{2, kMoment + 10}}, 13},
        {"looping backwards below 0: the position becomes the last moment", kTlBack, 0.5f, -1, true, nullptr, 1, {},
         10},
        {"a moment that deletes its timeline ends the walk", kTlDelete, 0, 5, true, nullptr, 2,
         {{1, kMoment + 0}, {1, kMoment + 1}}, 5},
        {"a moment that clears an earlier one: the walk goes on by time", kTlClearEarlier, 0, 5, false, nullptr, 1,
         {{1, kMoment + 0}, {1, kMoment + 1}, {1, kMoment + 2}, {1, kMoment + 3}}, 5},
        {"a moment that clears the later ones ends the walk", kTlClearLater, 0, 5, false, nullptr, 1,
         {{1, kMoment + 0}, {1, kMoment + 1}}, 5},
        {"a timeline index that names nothing", 999, 0, 1, true, nullptr, 1, {}, 0},
        {"a stopped timeline", kTlLoop, 0, 1, true, [](CInstance* i) { i->timelineRunning = false; }, 1, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        CInstance* i = Make(kPlain);
        StartTimeline(i, c.timeline, c.position, c.speed, c.loop);
        if (c.moreSetUp) c.moreSetUp(i);
        g_probe = [](int32_t tag, CInstance* self) {
            CTimeLine* t = TimeLine_Data(self->timelineIndex);
            if (tag == 3) TimeLine_Delete(self->timelineIndex);
            if (tag == 4 && t) t->ClearMoment(0);
            if (tag == 5 && t) {
                t->ClearMoment(2);
                t->ClearMoment(3);
            }
        };
        EXPECT_EQ(Steps(c.steps, HandleTimeLines), c.want);
        EXPECT_FLOAT_EQ(i->timelinePosition, c.positionAfter);
    }
}

// Assembled moments run from their own code object: deleting the timeline in a moment must leave that code
// alive until the moment has finished (the sanitizer build reads freed code otherwise).
class StagesBytecodeTest : public StagesTest {
    Mode LoadMode() const override { return Mode::Bytecode; }
};

TEST_F(StagesBytecodeTest, AMomentThatDeletesItsOwnTimelineFinishesOnLiveCode)
{
    CInstance* i = Make(kPlain);
    StartTimeline(i, kTlDelete, 0, 5, true);
    g_probe = [](int32_t tag, CInstance* self) {
        if (tag == 3) TimeLine_Delete(self->timelineIndex);
    };
    HandleTimeLines();
    EXPECT_EQ(Tags(), (std::vector<int32_t>{kMoment + 0, kMoment + 1}));
    EXPECT_EQ(TimeLine_Data(kTlDelete), nullptr);
}

TEST_F(StagesTest, AMomentThatMovesThePositionKeepsIt)
{
    CInstance* i = Make(kPlain);
    StartTimeline(i, kTlClearEarlier, 1, 1, false);
    g_probe = [](int32_t, CInstance* self) { self->timelinePosition = 3; };  // moment 1's probe
    HandleTimeLines();
    EXPECT_EQ(Tags(), std::vector<int32_t>{kMoment + 1});
    EXPECT_EQ(i->timelinePosition, 3.0f);
    EXPECT_EQ(i->timelinePrevious, 1.0f);
    g_runs.clear();
    HandleTimeLines();
    EXPECT_EQ(Tags(), std::vector<int32_t>{kMoment + 3});
}

TEST_F(StagesTest, NonFiniteOrHugeTimelineFieldsRunNoMomentOrWalkWithinTheirRange)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float position;
        float speed;
        float previous;
        std::vector<int32_t> want;
    };
    const Case cases[] = {
        {nan, 1, 0, {}},       {inf, 1, 0, {}},        {-inf, 1, 0, {}},   {0, nan, 0, {}},
        {0, inf, 0, {}},       {10, -inf, 0, {}},      {6, 0, nan, {}},     {6, 0, -inf, {}},
        {3.0e38f, 3.0e38f, 0, {}},
        // Finite but huge: every moment in range runs once, then the loop wraps.
        {0, 3.0e38f, 0, {kMoment + 0, kMoment + 5, kMoment + 10}},
        {10, -3.0e38f, 0, {kMoment + 10, kMoment + 5, kMoment + 0}},
        {-3.0e38f, 0, 3.0e38f, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "p " << c.position << " s " << c.speed << " q " << c.previous);
        Fresh();
        CInstance* i = Make(kPlain);
        StartTimeline(i, kTlLoop, c.position, c.speed, true);
        i->timelinePrevious = c.previous;
        HandleTimeLines();
        EXPECT_EQ(Tags(), c.want);
        HandleTimeLines();
        HandleTimeLines();
    }
}

// ---- joysticks ---------------------------------------------------------------------------------------

TEST_F(StagesTest, JoystickThresholdsAndButtonOrder)
{
    struct Case {
        const char* name;
        bool present[2];
        JoystickReading reading[2];
        std::vector<int32_t> want;
    };
    const int32_t mid = 32768;
    const Case cases[] = {
        {"x 19999 is left", {true, false}, {{19999, mid, 0}, {}}, {Tag(6, 16)}},
        {"x 20000 and 44000 are neither", {true, false}, {{20000, mid, 0}, {}}, {}},
        {"x 44000 is not right", {true, false}, {{44000, mid, 0}, {}}, {}},
        {"x 44001 is right", {true, false}, {{44001, mid, 0}, {}}, {Tag(6, 17)}},
        {"y 19999 up and x 0 left: left first", {true, false}, {{0, 19999, 0}, {}}, {Tag(6, 16), Tag(6, 18)}},
        {"y 65535 is down", {true, false}, {{mid, 65535, 0}, {}}, {Tag(6, 19)}},
        {"buttons 1, 3 and 8 in order, up buttons skipped", {true, false}, {{mid, mid, 0x85}, {}},
         {Tag(6, 21), Tag(6, 23), Tag(6, 28)}},
        {"joystick 2 alone: 31 left, 34 down, 36 button 1, 43 button 8", {false, true},
         {{}, {0, 65535, 0x81}}, {Tag(6, 31), Tag(6, 34), Tag(6, 36), Tag(6, 43)}},
        {"both: joystick 1 first", {true, true}, {{0, mid, 0}, {0, mid, 0}}, {Tag(6, 16), Tag(6, 31)}},
        {"neither present", {false, false}, {{0, 0, 0xFF}, {0, 0, 0xFF}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        Make(kJoy);
        g_joysticks.present[0] = c.present[0];
        g_joysticks.present[1] = c.present[1];
        g_joysticks.reading[0] = c.reading[0];
        g_joysticks.reading[1] = c.reading[1];
        JoystickMask = 0x10000;  // a rescan finds which answer
        HandleJoystick();
        EXPECT_EQ(Tags(), c.want);
        EXPECT_EQ(JoystickMask, (c.present[0] ? 1u : 0u) | (c.present[1] ? 2u : 0u));
    }

    // -nodirectinput: nothing is read.
    Fresh();
    Make(kJoy);
    g_joysticks.present[0] = true;
    g_joysticks.reading[0] = {0, 0, 0xFF};
    JoystickMask = 0x10000;
    g_RunFlags.noDirectInput = true;
    HandleJoystick();
    EXPECT_TRUE(g_runs.empty());
    EXPECT_EQ(JoystickMask, 0x10000u);
}

TEST_F(StagesTest, WithoutJoystickListenersTheDecisionIsTakenOnce)
{
    // No instance is needed for the decision: it reads the object lists, and obj_joy listens.
    g_joysticks.present[0] = true;
    JoystickMask = 0x10000;
    HandleJoystick();
    EXPECT_EQ(JoystickMask, 1u);

    // A game whose objects listen to no joystick reads no device, even once a listener appears later in
    // the same run; a new run decides again.
    Unload();
    GameDef quiet;
    quiet.lastInstanceId = kLast;
    quiet.objects = {Obj("obj_quiet", {Rec(3, 0)})};
    ASSERT_TRUE(Load(quiet, Mode::Native));
    Stages_Reset();
    JoystickMask = 0x10000;
    HandleJoystick();
    EXPECT_EQ(JoystickMask, 0x10000u);
    Unload();
    ASSERT_TRUE(Load(StageGame(), Mode::Native));
    HandleJoystick();
    EXPECT_EQ(JoystickMask, 0x10000u);
    Stages_Reset();
    HandleJoystick();
    EXPECT_EQ(JoystickMask, 1u);
}

// ---- asynchronous results ----------------------------------------------------------------------------

TEST_F(StagesTest, FinishedRequestsRunTheirEventThenFreeMapCallbacksAndRecord)
{
    struct Case {
        const char* name;
        int32_t result;
        bool withProcess;
        bool withCleanup;
        bool makesMap;
        std::vector<int32_t> want;
    };
    const Case cases[] = {
        {"result 62: the HTTP event", 62, true, true, true, {Tag(7, 62)}},
        {"result 60: the lowest event", 60, true, true, true, {Tag(7, 60)}},
        {"result 64: unnamed but delivered", 64, true, true, true, {Tag(7, 64)}},
        {"result 65: not an asynchronous event", 65, true, true, true, {}},
        {"result 59: below 60, no event", 59, true, true, true, {}},
        {"result 0 without a map", 0, true, true, false, {}},
        {"no process callback", 62, false, true, false, {}},
        {"no clean-up callback", 62, true, false, true, {Tag(7, 62)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        Make(kAsync);
        g_processResult = c.result;
        g_processMakesMap = c.makesMap;
        std::vector<std::pair<int32_t, int32_t>> seen;  // async_load and live maps inside the event
        g_probe = [&](int32_t, CInstance*) { seen.emplace_back(AsyncLoad, LiveMaps()); };
        const int32_t liveBefore = LiveMaps();
        TrackedRequest* r = Queue(7);
        if (!c.withProcess) r->process = nullptr;
        if (!c.withCleanup) r->cleanup = nullptr;
        HandleAsyncRequests();
        EXPECT_EQ(Tags(), c.want);
        for (const auto& [map, live] : seen) {
            EXPECT_GE(map, 0);
            EXPECT_EQ(live, liveBefore + 1);
        }
        EXPECT_EQ(LiveMaps(), liveBefore);
        EXPECT_EQ(AsyncLoad, -1);
        EXPECT_EQ(g_counts.processes, c.withProcess ? 1 : 0);
        EXPECT_EQ(g_counts.cleanups, c.withCleanup ? 1 : 0);
        EXPECT_EQ(g_counts.deleted, 1);
        EXPECT_EQ(AsyncRequests, nullptr);
    }
}

TEST_F(StagesTest, RequestsInProgressStartedOrNotReadyStayQueued)
{
    Make(kAsync);
    const int32_t liveBefore = LiveMaps();
    TrackedRequest* started = Queue(1);
    TrackedRequest* idle = Queue(7, false);
    TrackedRequest* progress = Queue(3);
    TrackedRequest* other = Queue(5);
    started->poll = CountPoll;
    idle->poll = CountPoll;
    progress->poll = CountPoll;
    other->poll = CountPoll;
    std::vector<int32_t> maps, live;
    g_probe = [&](int32_t, CInstance*) {
        maps.push_back(AsyncLoad);
        live.push_back(LiveMaps());
    };
    for (int step = 0; step < 2; ++step) HandleAsyncRequests();
    // Only the request in progress gives events, each with its own map, destroyed after it (so the second
    // event's map takes the slot the first one left).
    EXPECT_EQ(Tags(), (std::vector<int32_t>{Tag(7, 62), Tag(7, 62)}));
    ASSERT_EQ(maps.size(), 2u);
    EXPECT_GE(maps[0], 0);
    EXPECT_EQ(maps[0], maps[1]);
    EXPECT_EQ(live, (std::vector<int32_t>{liveBefore + 1, liveBefore + 1}));
    EXPECT_EQ(LiveMaps(), liveBefore);
    EXPECT_EQ(g_counts.polls, 6);  // three ready requests, two steps; the one not ready is not polled
    EXPECT_EQ(g_counts.processes, 0);
    EXPECT_EQ(QueueLength(), 4);
    EXPECT_EQ(g_counts.deleted, 0);

    // Finishing on poll is handled in the same walk, and the walk goes on to the rest.
    g_runs.clear();
    started->poll = FinishOnPoll;
    g_processResult = 62;
    HandleAsyncRequests();
    EXPECT_EQ(Tags(), (std::vector<int32_t>{Tag(7, 62), Tag(7, 62)}));
    EXPECT_EQ(g_counts.deleted, 1);
    EXPECT_EQ(QueueLength(), 3);
    EXPECT_EQ(AsyncRequests, idle);
    EXPECT_EQ(LiveMaps(), liveBefore);
}

TEST_F(StagesTest, GameEndDeletesEveryQueuedRequestWithoutDeliveringIt)
{
    TrackedRequest* first = Queue(3);
    TrackedRequest* second = Queue(7, false);
    // Owned blocks: the leak check sees them if a record is dropped instead of deleted.
    first->url = static_cast<char*>(MemAlloc(16));
    second->buffer = static_cast<uint8_t*>(MemAlloc(64));
    FileFunctions_Shutdown();
    EXPECT_EQ(AsyncRequests, nullptr);
    EXPECT_EQ(g_counts.deleted, 2);
    EXPECT_EQ(g_counts.processes, 0);
    EXPECT_EQ(g_counts.cleanups, 0);
    EXPECT_TRUE(Tags().empty());
}

}  // namespace stagestest
