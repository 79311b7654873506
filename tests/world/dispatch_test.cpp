// Event dispatch: handler search through parents (and for collisions through the other object's parents),
// the event globals, the nesting guard, the room-change rule, timeline moments and the event trace. Every
// case runs once with assembled handlers and once with native ones.
#include "world_harness.h"

#include <functional>

namespace {

using worldtest::EventDef;
using worldtest::GameDef;
using worldtest::Mode;
using worldtest::ObjectDef;
using worldtest::Op;
using worldtest::HandlerRun;
using worldtest::g_runs;

constexpr int32_t kLast = 100000;  // the header's last instance id: instances are 100001, 100002, ...
constexpr int32_t kSentinel = -7;  // event globals before dispatch

// Object indexes of the shared game.
enum : int32_t {
    kG = 0, kP, kC, kA, kQ, kP2, kR, kN, kPersist, kPlain, kNest, kFail, kWalker, kWalkerP, kWalkerN,
};

ObjectDef DispatchObject(const char* name, int32_t parent, std::vector<EventDef> events, bool persistent = false)
{
    ObjectDef o;
    o.name = name;
    o.parent = parent;
    o.events = std::move(events);
    o.persistent = persistent;
    return o;
}

std::vector<EventDef> FiveKinds(int32_t base)
{
    return {{2, 0, {{Op::Record, base}}},     {3, 0, {{Op::Record, base + 1}}}, {0, 0, {{Op::Record, base + 2}}},
            {1, 0, {{Op::Record, base + 3}}}, {7, 0, {{Op::Record, base + 4}}}, {8, 0, {{Op::Record, base + 5}}}};
}

GameDef DispatchGame()
{
    GameDef g;
    g.lastInstanceId = kLast;
    g.objects = {
        DispatchObject("obj_g", -100, {{3, 0, {{Op::Record, 10}}}}),
        DispatchObject("obj_p", kG, {}),
        DispatchObject("obj_c", kP, {}),
        DispatchObject("obj_a", -100, {{4, kP2, {{Op::Record, 20}}}, {3, 0, {{Op::Record, 21}}}}),
        DispatchObject("obj_q", kP2, {}),
        DispatchObject("obj_p2", -100, {}),
        DispatchObject("obj_r", -100, {{0, 0, {{Op::Record, 30}, {Op::CreateOwn, 0}}}}),
        DispatchObject("obj_n", -100, {{3, 0, {}, false}, {2, 0, {{Op::Record, 40}}}}),
        DispatchObject("obj_persist", -100, FiveKinds(50), true),
        DispatchObject("obj_plain", -100, FiveKinds(60)),
        DispatchObject("obj_nest", -100,
                       {{3, 0, {{Op::Record, 70}, {Op::SetRelative, 0}, {Op::Perform, 7001}, {Op::Record, 71}}},
                        {7, 1, {{Op::Record, 72}}}}),
        DispatchObject("obj_fail", -100,
                       {{7, 2, {{Op::Record, 80}, {Op::Fail, 0}}},
                        {3, 0, {{Op::Record, 81}, {Op::Perform, 7002}, {Op::Record, 82}}}}),
        DispatchObject("obj_walker", -100,
                       {{7, 3, {{Op::Record, 90}, {Op::RoomChange, 5}}}, {3, 1, {{Op::Record, 95}, {Op::RoomChange, 5}}}}),
        DispatchObject("obj_walker_p", -100, {{7, 3, {{Op::Record, 91}}}, {3, 1, {{Op::Record, 92}}}}, true),
        DispatchObject("obj_walker_n", -100, {{7, 3, {{Op::Record, 93}}}, {3, 1, {{Op::Record, 94}}}}),
    };
    worldtest::TimelineDef t0{"tl_zero", {{10, {{Op::Record, 100}}}}};
    worldtest::TimelineDef t1{"tl_one", {}};
    worldtest::TimelineDef t2{"tl_two", {{10, {{Op::Record, 101}}}, {30, {{Op::Record, 102}, {Op::Perform, 7001}}}}};
    g.timelines = {t0, t1, t2};
    g.scripts = {{{Op::Record, 103}}};
    return g;
}

class DispatchTest : public worldtest::WorldHarness, public testing::WithParamInterface<Mode> {
public:
    void SetUp() override
    {
        WorldHarness::SetUp();
        ASSERT_TRUE(Load(DispatchGame(), GetParam()));
    }
    // Back to a fresh room and no pending change between cases.
    void Reset()
    {
        delete room_;
        room_ = new CRoom();
        SetCurrentRoom(room_);
        Run_RoomIndex = 0;
        InstanceLists_Free();
        RoomChangeCode = ROOM_CHANGE_NONE;
        g_runs.clear();
        worldtest::g_traceLines.clear();
        Error_ResetState();
        event_type = event_number = event_object = kSentinel;
        g_ActionRelative = false;
        g_InstanceIdCounter = kLast;
        wadtest::g_exitCalls = 0;
    }
    static HandlerRun R(int32_t tag, int32_t self, int32_t other, int32_t type, int32_t number, int32_t object,
                 int32_t depth = 1, bool relative = false)
    {
        return {tag, self, other, type, number, object, relative, depth};
    }
    void ExpectGlobalsBack()
    {
        EXPECT_EQ(event_type, kSentinel);
        EXPECT_EQ(event_number, kSentinel);
        EXPECT_EQ(event_object, kSentinel);
        EXPECT_EQ(g_EventDepth, 0);
    }
};

TEST_P(DispatchTest, EdgeCasesOfTheHandlerSearchAndTheGuards)
{
    const int32_t i1 = kLast + 1, i2 = kLast + 2, i3 = kLast + 3;
    struct Case {
        const char* name;
        std::function<void(DispatchTest*)> act;
        std::vector<HandlerRun> want;
    };
    std::vector<HandlerRun> recursion;
    for (int32_t d = 1; d <= EVENT_MAX_DEPTH; ++d) recursion.push_back(R(30, kLast + d, kLast + d, 0, 0, kR, d));
    const Case cases[] = {
        {"grandparent's step handler; event_object names the grandparent",
         [](DispatchTest* t) {
             CInstance* i = t->Make(kC);
             Perform_Event(i, i, 3, 0);
         },
         {R(10, i1, i1, 3, 0, kG)}},
        {"collision handler for the other object's parent; event_number names the child",
         [](DispatchTest* t) {
             CInstance* a = t->Make(kA);
             CInstance* q = t->Make(kQ);
             Perform_Event(a, q, 4, kQ);
         },
         {R(20, i1, i2, 4, kQ, kA)}},
        {"collision with the handled object itself",
         [](DispatchTest* t) {
             CInstance* a = t->Make(kA);
             CInstance* p = t->Make(kP2);
             Perform_Event(a, p, 4, kP2);
         },
         {R(20, i1, i2, 4, kP2, kA)}},
        {"collision with an unrelated object finds nothing",
         [](DispatchTest* t) {
             CInstance* a = t->Make(kA);
             CInstance* c = t->Make(kC);
             Perform_Event(a, c, 4, kC);
         },
         {}},
        {"own handler", [](DispatchTest* t) {
             CInstance* a = t->Make(kA);
             Perform_Event(a, a, 3, 0);
         },
         {R(21, i1, i1, 3, 0, kA)}},
        {"the 33rd nested create is refused", [](DispatchTest* t) {
             CInstance* r = t->Make(kR);
             Perform_Event(r, r, 0, 0);
         },
         recursion},
        {"an event without code runs nothing", [](DispatchTest* t) {
             CInstance* n = t->Make(kN);
             Perform_Event(n, n, 3, 0);
         },
         {}},
        {"no handler anywhere", [](DispatchTest* t) {
             CInstance* n = t->Make(kN);
             Perform_Event(n, n, 3, 2);
             Perform_Event(n, n, 2, 11);
         },
         {}},
        {"an instance of object -1 has no events", [](DispatchTest* t) {
             CInstance* i = t->Make(-1);
             Perform_Event(i, i, 3, 0);
             Perform_Event(i, i, 2, 0);
         },
         {}},
        {"Perform_Event_Object with another object's handler", [](DispatchTest* t) {
             CInstance* n = t->Make(kN);
             CInstance* o = t->Make(kA);
             Perform_Event_Object(n, o, kC, 3, 0);
         },
         {R(10, i1, i2, 3, 0, kG)}},
        {"Perform_Event with a null self does nothing", [](DispatchTest*) { Perform_Event(nullptr, nullptr, 3, 0); },
         {}},
        {"room change pending: step skipped, alarm of a persistent instance runs", [](DispatchTest* t) {
             CInstance* p = t->Make(kPersist);
             CInstance* n = t->Make(kPlain);
             RoomChangeCode = 3;
             Perform_Event(p, p, 3, 0);
             Perform_Event(p, p, 2, 0);
             Perform_Event(n, n, 2, 0);
         },
         {R(50, i1, i1, 2, 0, kPersist)}},
        {"Perform_Event_All during a pending change runs nothing at all", [](DispatchTest* t) {
             t->Make(kPersist);
             t->room_->persistent = true;
             RoomChangeCode = -100;
             Perform_Event_All(2, 0);
         },
         {}},
        {"Perform_Event_All skips marked and deactivated instances", [](DispatchTest* t) {
             t->room_->AddInstanceWithDepth(0, 0, 1, kPersist)->markedForDeletion = true;
             t->room_->AddInstanceWithDepth(0, 0, 2, kPersist);
             t->room_->AddInstanceWithDepth(0, 0, 3, kPersist)->deactivated = true;
             t->room_->AddInstanceWithDepth(0, 0, 4, kPlain);
             Perform_Event_All(2, 0);
         },
         {R(50, i2, i2, 2, 0, kPersist), R(60, kLast + 4, kLast + 4, 2, 0, kPlain)}},
        {"Perform_Event_All walks in depth order", [](DispatchTest* t) {
             t->room_->AddInstanceWithDepth(0, 0, 9, kPlain);
             t->room_->AddInstanceWithDepth(0, 0, -9, kPersist);
             t->room_->AddInstanceWithDepth(0, 0, 0, kPlain);
             Perform_Event_All(7, 0);
         },
         {R(54, i2, i2, 7, 0, kPersist), R(64, i3, i3, 7, 0, kPlain), R(64, i1, i1, 7, 0, kPlain)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        c.act(this);
        EXPECT_EQ(g_runs, c.want);
        ExpectGlobalsBack();
    }
}

TEST_P(DispatchTest, RecursionFailureIsReportedAsAnAbortingError)
{
    Reset();
    CInstance* r = Make(kR);
    Perform_Event(r, r, 0, 0);
    EXPECT_EQ(g_runs.size(), size_t(EVENT_MAX_DEPTH));
    EXPECT_NE(std::string(Error_LastText())
                  .find("PerformEvent recursion depth failure - check for infinite loops, check objects for parenting"),
              std::string::npos)
        << Error_LastText();
    EXPECT_GE(wadtest::g_exitCalls, 1);
    ExpectGlobalsBack();
}

TEST_P(DispatchTest, PendingRoomChangeRuleOverTypePersistentInstanceAndPersistentRoom)
{
    const int32_t types[] = {0, 1, 2, 3, 7, 8};
    const int32_t tagOffset[] = {2, 3, 0, 1, 4, 5};  // FiveKinds' tags by type
    for (int via = 0; via < 2; ++via)
        for (size_t t = 0; t < std::size(types); ++t)
            for (bool persistentInstance : {false, true})
                for (bool persistentRoom : {false, true}) {
                    SCOPED_TRACE(testing::Message() << (via ? "Perform_Event_Object" : "Perform_Event") << " type "
                                                    << types[t] << " instance " << persistentInstance << " room "
                                                    << persistentRoom);
                    Reset();
                    room_->persistent = persistentRoom;
                    const int32_t object = persistentInstance ? kPersist : kPlain;
                    CInstance* i = Make(object);
                    RoomChangeCode = 2;
                    if (via) Perform_Event_Object(i, i, object, types[t], 0);
                    else Perform_Event(i, i, types[t], 0);
                    const bool allowed = types[t] == 0 || types[t] == 1 || types[t] == 2 || types[t] == 7;
                    std::vector<HandlerRun> want;
                    if (allowed && (persistentInstance || persistentRoom))
                        want.push_back(R((persistentInstance ? 50 : 60) + tagOffset[t], i->id, i->id, types[t], 0, object));
                    EXPECT_EQ(g_runs, want);
                    // Without a pending change everything runs.
                    g_runs.clear();
                    RoomChangeCode = ROOM_CHANGE_NONE;
                    Perform_Event(i, i, types[t], 0);
                    EXPECT_EQ(g_runs.size(), 1u);
                }
}

TEST_P(DispatchTest, PerformEventAllAppliesTheRuleAfreshOnceAHandlerAsksForARoomChange)
{
    struct Case {
        const char* name;
        int32_t type, number;
        bool persistentRoom;
        std::vector<int32_t> tags;  // walker, then a plain and a persistent instance
    };
    const Case cases[] = {
        {"other event: the persistent instance still runs", 7, 3, false, {90, 91}},
        {"step event: nobody after the walker", 3, 1, false, {95}},
        {"persistent room: everyone runs the other event", 7, 3, true, {90, 93, 91}},
        {"persistent room: the step stops after the walker", 3, 1, true, {95}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        room_->persistent = c.persistentRoom;
        room_->AddInstanceWithDepth(0, 0, 0, kWalker);
        room_->AddInstanceWithDepth(0, 0, 1, kWalkerN);
        room_->AddInstanceWithDepth(0, 0, 2, kWalkerP);
        Perform_Event_All(c.type, c.number);
        std::vector<int32_t> tags;
        for (const HandlerRun& r : g_runs) tags.push_back(r.tag);
        EXPECT_EQ(tags, c.tags);
        EXPECT_EQ(RoomChangeCode, 5);
        ExpectGlobalsBack();
    }
}

TEST_P(DispatchTest, GlobalsAndArgumentRelativeComeBackAfterNestedEvents)
{
    Reset();
    CInstance* n = Make(kNest);
    g_ActionRelative = true;
    Perform_Event(n, n, 3, 0);
    const int32_t id = n->id;
    const std::vector<HandlerRun> want = {
        R(70, id, id, 3, 0, kNest, 1, false),
        R(72, id, id, 7, 1, kNest, 2, false),
        R(71, id, id, 3, 0, kNest, 1, true),  // its own values again, the flag it set included
    };
    EXPECT_EQ(g_runs, want);
    EXPECT_TRUE(g_ActionRelative);
    ExpectGlobalsBack();
}

TEST_P(DispatchTest, AFailingHandlerIsReportedAndTheDispatchAroundItGoesOn)
{
    Reset();
    CInstance* f = Make(kFail);
    g_ActionRelative = true;
    Perform_Event(f, f, 3, 0);
    const int32_t id = f->id;
    const std::vector<HandlerRun> want = {
        R(81, id, id, 3, 0, kFail, 1),
        R(80, id, id, 7, 2, kFail, 2),
        R(82, id, id, 3, 0, kFail, 1),
    };
    EXPECT_EQ(g_runs, want);
    EXPECT_TRUE(g_ErrorOccurred);
    EXPECT_TRUE(g_ActionRelative);
    ExpectGlobalsBack();
}

// ---- Timeline moments ----

TEST_P(DispatchTest, TimelineMomentsSetTheGlobalsForTheirRun)
{
    struct Case {
        const char* name;
        int32_t timeline, moment;
        int32_t roomChange;
        std::vector<HandlerRun> want;  // self is instance 1, other instance 2
    };
    const int32_t s = kLast + 1, o = kLast + 2;
    const Case cases[] = {
        {"moment at 30 of timeline 2", 2, 1, -1,
         {R(102, s, o, TIMELINE_EVENT_TYPE, 30, 2, 0), R(72, s, o, 7, 1, kNest, 1)}},
        {"first moment of timeline 0", 0, 0, -1, {R(100, s, o, TIMELINE_EVENT_TYPE, 10, 0, 0)}},
        {"an empty timeline", 1, 0, -1, {}},
        {"a moment past the end", 2, 2, -1, {}},
        {"a negative moment", 2, -1, -1, {}},
        {"a timeline that does not exist", 3, 0, -1, {}},
        {"a negative timeline", -1, 0, -1, {}},
        {"a pending room change", 2, 1, 4, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        CInstance* self = Make(kNest);
        CInstance* other = Make(kPlain);
        RoomChangeCode = c.roomChange;
        TimeLine_PerformMoment(self, other, c.timeline, c.moment);
        EXPECT_EQ(g_runs, c.want);
        ExpectGlobalsBack();
    }
}

TEST_P(DispatchTest, AScriptMomentRunsItsScriptWithNoArguments)
{
    Reset();
    CTimeLine* t = TimeLine_Data(2);
    ASSERT_NE(t, nullptr);
    t->AddMomentScript(50, Script_Find("kvt_s0"));
    CInstance* self = Make(kPlain);
    const int32_t moment = t->FindMoment(50);
    ASSERT_GE(moment, 0);
    TimeLine_PerformMoment(self, self, 2, moment);
    EXPECT_EQ(g_runs, (std::vector<HandlerRun>{R(103, self->id, self->id, TIMELINE_EVENT_TYPE, 50, 2, 0)}));
    ExpectGlobalsBack();
}

// ---- The event trace ----

TEST_P(DispatchTest, TraceOfANestedDispatchEqualsItsGolden)
{
    Reset();
    const std::string path = kvtest::ScratchDir() + "/events_" + worldtest::ModeName(GetParam()) + ".log";
    std::remove(path.c_str());
    {
        kvtest::ScopedEnv log("KV_TEST_EVENT_LOG", path.c_str());
        EventTrace_Reload();
        CInstance* n = Make(kNest);
        CInstance* a = Make(kA);
        CInstance* q = Make(kQ);
        Perform_Event(n, n, 3, 0);
        Perform_Event(a, q, 4, kQ);
        g_FrameCounter = 7;
        TimeLine_PerformMoment(n, q, 2, 1);
        SetCurrentRoom(nullptr);
        Perform_Event(q, n, 3, 0);  // no handler: no line
        Perform_Event(n, a, 7, 1);
        SetCurrentRoom(room_);
        g_FrameCounter = 0;
    }
    EventTrace_Reload();
    const std::string golden = kvtest::ReadFile(wadtest::SourceDir() + "/tests/world/golden/event_trace_nested.txt");
    EXPECT_EQ(kvtest::ReadFile(path), golden);
    // The in-process hook saw the same lines.
    std::string hooked;
    for (const std::string& line : worldtest::g_traceLines) hooked += line;
    EXPECT_EQ(hooked, golden);
}

INSTANTIATE_TEST_SUITE_P(BothKindsOfCode, DispatchTest, testing::Values(Mode::Bytecode, Mode::Native),
                         [](const testing::TestParamInfo<Mode>& info) { return worldtest::ModeName(info.param); });

}  // namespace
