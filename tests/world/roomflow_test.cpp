// Room flow through real game data: the first room's order of events and creation codes, persistent
// instances and rooms, a room change asked for during the first start, room and game end, the headless exit,
// and what must not survive a room change. Each trace case runs with assembled and with native code.
#include "world_harness.h"

#include "core/seam_trace.h"
#include "platform/hooks.h"
#include "services/services.h"
#include "world/command_line.h"

#include <algorithm>

namespace {

using worldtest::GameDef;
using worldtest::InstanceDef;
using worldtest::Mode;
using worldtest::ObjectDef;
using worldtest::Op;
using worldtest::RoomDef;

// Object indexes of the flow game.
enum : int32_t { kFlowPlain = 0, kFlowKeeper, kFlowSuicide, kFlowJumper, kFlowChanger };

ObjectDef FlowObject(const char* name, int32_t tag, bool persistent, worldtest::Handler create)
{
    ObjectDef o;
    o.name = name;
    o.persistent = persistent;
    create.insert(create.begin(), {Op::Record, tag});
    o.events = {{0, 0, create},
                {7, 2, {{Op::Record, tag + 1}}},   // Game Start
                {7, 4, {{Op::Record, tag + 2}}},   // Room Start
                {7, 5, {{Op::Record, tag + 3}}},   // Room End
                {7, 3, {{Op::Record, tag + 4}}}};  // Game End
    return o;
}

InstanceDef Inst(int32_t object, int32_t id, int32_t codeTag = 0)
{
    InstanceDef d{object, id, {}};
    if (codeTag) {
        d.code = {{Op::Record, codeTag}};
        d.withCode = true;
    }
    return d;
}

RoomDef FlowRoom(const char* name, std::vector<InstanceDef> instances, int32_t codeTag = 0, bool persistent = false)
{
    RoomDef r;
    r.name = name;
    r.instances = std::move(instances);
    r.persistent = persistent;
    if (codeTag) {
        r.code = {{Op::Record, codeTag}};
        r.withCode = true;
    }
    return r;
}

// Objects: 0 obj_plain, 1 obj_keeper (persistent; its create sets x to 77), 2 obj_suicide (destroyed in its
// create event), 3 obj_jumper (asks for room 1 in its create event), 4 obj_changer (changes to obj_plain in
// its Room End). Every object records its create, Game Start, Room Start, Room End and Game End.
GameDef FlowGame(std::vector<RoomDef> rooms, std::vector<int32_t> order = {})
{
    GameDef g;
    g.objects = {FlowObject("obj_plain", 10, false, {}),
                 FlowObject("obj_keeper", 20, true, {{Op::SetX, 77}}),
                 FlowObject("obj_suicide", 30, false, {{Op::Destroy, 0}}),
                 FlowObject("obj_jumper", 40, false, {{Op::RoomChange, 1}}),
                 FlowObject("obj_changer", 50, false, {})};
    g.objects[kFlowChanger].events[3].handler.push_back({Op::ChangeObject, kFlowPlain});
    g.rooms = std::move(rooms);
    g.order = std::move(order);
    return g;
}

// rm_first: 100001 plain (code), 100002 keeper (code), 100003 suicide, 100004 plain (code), room code;
// rm_second: 100002 plain (the keeper's id), 100005 plain (code), room code; rm_kept: persistent, 100006
// plain (code), no room code.
GameDef ThreeRooms()
{
    return FlowGame({FlowRoom("rm_first", {Inst(kFlowPlain, 100001, 101), Inst(kFlowKeeper, 100002, 102),
                                           Inst(kFlowSuicide, 100003), Inst(kFlowPlain, 100004, 104)},
                              100),
                     FlowRoom("rm_second", {Inst(kFlowPlain, 100002), Inst(kFlowPlain, 100005, 205)}, 200),
                     FlowRoom("rm_kept", {Inst(kFlowPlain, 100006, 306)}, 0, true)});
}

class RoomFlowTest : public worldtest::WorldHarness, public testing::WithParamInterface<Mode> {
public:
    void SetUp() override
    {
        WorldHarness::SetUp();
        oldExit_ = Platform_SetExitHook([](int status) {
            worldtest::g_traceLines.push_back("exit " + std::to_string(status) + "\n");
        });
        g_RunFlags.headless = false;
        Extension_SetSeamResults(true, true, true);
    }
    void TearDown() override
    {
        g_RunFlags.headless = false;
        Extension_SetSeamResults(true, true, true);
        Platform_SetExitHook(oldExit_);
        WorldHarness::TearDown();
    }

    void Start(const GameDef& game)
    {
        ASSERT_TRUE(Load(game, GetParam()));
        worldtest::g_traceLines.clear();
        StartFirstRoom();
        ASSERT_NE(Run_Room, nullptr) << debug_.text;
    }

    static std::string Trace()
    {
        std::string all;
        for (const std::string& line : worldtest::g_traceLines) all += line;
        worldtest::g_traceLines.clear();
        return all;
    }
    static std::string Golden(const char* name)
    {
        return kvtest::ReadFile(wadtest::SourceDir() + "/tests/world/golden/" + name);
    }
    static int32_t CountWithId(CRoom* room, int32_t id)
    {
        int32_t n = 0;
        for (CInstanceList* list : {&room->active, &room->deactivated})
            for (CInstance* i = list->head; i; i = i->next) n += i->id == id;
        return n;
    }

    ExitHook oldExit_ = nullptr;
};

// ---- the first room ----------------------------------------------------------------------------------

TEST_P(RoomFlowTest, FirstRoomRunsCreateAndCreationCodeInRecordOrderThenGameStartRoomCodeAndRoomStart)
{
    Start(ThreeRooms());
    // Golden: each record's create event then its creation code; the suicide instance gets neither Game
    // Start nor Room Start; Game Start before the room's code (self 0), Room Start after it.
    EXPECT_EQ(Trace(), Golden("roomflow_first_room.txt"));
    EXPECT_EQ(Run_RoomIndex, 0);
    EXPECT_EQ(InstanceIdMap_Find(100003), nullptr);
    EXPECT_EQ(Run_Room->active.count, 3);
    EXPECT_TRUE(Run_Room->creationOrder.empty());
    for (int32_t id : {100001, 100002, 100004}) EXPECT_TRUE(InstanceIdMap_Find(id)->created) << id;
    // The scratch instance of the room code is gone: only the room's instances are registered.
    EXPECT_EQ(InstanceIdMap_Count(), 3);
}

TEST_P(RoomFlowTest, ARoomChangeAskedForInAFirstCreateEventSwitchesBeforeTheFirstFrame)
{
    // rm_first: 100001 jumper (code), 100002 plain (code), room code; rm_second: 100003 plain (code), code.
    Start(FlowGame({FlowRoom("rm_first", {Inst(kFlowJumper, 100001, 101), Inst(kFlowPlain, 100002, 102)}, 100),
                    FlowRoom("rm_second", {Inst(kFlowPlain, 100003, 203)}, 200)}));
    // Golden: the later create event is skipped while creation codes and the room code still run; no Game
    // Start and no Room Start in rm_first; rm_first's Room End, then rm_second starts as a later room.
    EXPECT_EQ(Trace(), Golden("roomflow_first_room_switch.txt"));
    EXPECT_EQ(Run_RoomIndex, 1);
    EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_NONE);
}

// ---- persistence -------------------------------------------------------------------------------------

TEST_P(RoomFlowTest, APersistentInstanceKeepsItsIdAndStateAndTakesTheRecordOfItsIdInTheNextRoom)
{
    Start(ThreeRooms());
    Trace();
    SwitchRoom(1);
    // Golden: rm_first's Room End; in rm_second only 100005 is created, the record 100002 takes the
    // keeper's state (no create event, no creation code) and then hears Room Start as a keeper.
    EXPECT_EQ(Trace(), Golden("roomflow_persistent_instance.txt"));
    CInstance* keeper = InstanceIdMap_Find(100002);
    ASSERT_NE(keeper, nullptr);
    EXPECT_EQ(keeper->objectIndex, kFlowKeeper);
    EXPECT_TRUE(keeper->persistent);
    EXPECT_EQ(keeper->x, 77.0f);  // set by its create event in rm_first
    EXPECT_FALSE(keeper->carriedOver);
    EXPECT_EQ(CountWithId(Run_Room, 100002), 1);
    EXPECT_EQ(CarryOver_Count(), 0);
    EXPECT_EQ(RoomArray_Get(0), nullptr);  // rm_first is not kept

    // Into a room without a record of its id: a new instance at its depth, in the map and the lists.
    SwitchRoom(2);
    keeper = InstanceIdMap_Find(100002);
    ASSERT_NE(keeper, nullptr);
    EXPECT_EQ(keeper->objectIndex, kFlowKeeper);
    EXPECT_EQ(keeper->x, 77.0f);
    EXPECT_EQ(keeper->listRoom, Run_Room);
    EXPECT_EQ(keeper->listedIn, Object_Data(kFlowKeeper));
    EXPECT_EQ(Run_Room->active.count, 2);
}

TEST_P(RoomFlowTest, ARevisitedPersistentRoomRunsNoCreationButRoomStartAgain)
{
    Start(ThreeRooms());
    SwitchRoom(2);
    CRoom* kept = Run_Room;
    SwitchRoom(0);
    EXPECT_EQ(RoomArray_Get(2), kept);
    // Kept, but none of its instances can be found while another room runs.
    EXPECT_EQ(InstanceIdMap_Find(100006), nullptr);
    EXPECT_EQ(Object_Data(kFlowPlain)->instances.count, 2);  // rm_first's 100001 and 100004 only
    Trace();
    SwitchRoom(2);
    // Golden: rm_first's Room End, then in rm_kept only Room Start (the keeper, carried in, and 100006).
    EXPECT_EQ(Trace(), Golden("roomflow_revisit.txt"));
    EXPECT_EQ(Run_Room, kept);
    EXPECT_NE(InstanceIdMap_Find(100006), nullptr);
}

TEST_P(RoomFlowTest, AKeptRoomsDeactivatedInstanceLeavesTheMapAndTakesACarriedInstanceOfItsId)
{
    // rm_kept (persistent): 100002 plain; rm_a: 100002 keeper. The keeper is carried into rm_kept, where
    // the deactivated instance of its id must take its state: never a second instance of one id.
    Start(FlowGame({FlowRoom("rm_kept", {Inst(kFlowPlain, 100002)}, 0, true), FlowRoom("rm_a", {Inst(kFlowKeeper, 100002)})}));
    CInstance* sleeper = InstanceIdMap_Find(100002);
    ASSERT_NE(sleeper, nullptr);
    sleeper->deactivated = true;
    Run_Room->UpdateActivation();
    ASSERT_EQ(Run_Room->deactivated.count, 1);

    SwitchRoom(1);
    CInstance* keeper = InstanceIdMap_Find(100002);
    ASSERT_NE(keeper, nullptr);
    EXPECT_NE(keeper, sleeper);  // rm_a's own, not the kept room's
    EXPECT_EQ(keeper->objectIndex, kFlowKeeper);
    EXPECT_EQ(InstanceIdMap_Count(), 1);

    SwitchRoom(0);
    EXPECT_EQ(CountWithId(Run_Room, 100002), 1);
    EXPECT_EQ(InstanceIdMap_Find(100002), sleeper);
    EXPECT_EQ(sleeper->objectIndex, kFlowKeeper);
    EXPECT_FALSE(sleeper->deactivated);
    EXPECT_EQ(sleeper->listKind, INSTANCE_IN_ACTIVE_LIST);
    EXPECT_EQ(sleeper->x, 77.0f);
    EXPECT_EQ(InstanceIdMap_Count(), 1);
}

TEST_P(RoomFlowTest, ChangesAskedForInRoomEndDoNotOutliveTheRoom)
{
    // obj_changer changes object in its Room End, which queues an object change and a depth change.
    for (bool persistentRoom : {false, true}) {
        SCOPED_TRACE(persistentRoom ? "kept room" : "deleted room");
        Start(FlowGame({FlowRoom("rm_a", {Inst(kFlowChanger, 100001)}, 0, persistentRoom), FlowRoom("rm_b", {})}));
        SwitchRoom(1);
        EXPECT_EQ(g_ObjectChangeList.count, 0);
        EXPECT_EQ(g_DepthChangeList.count, 0);
        EXPECT_EQ(g_ActivationList.count, 0);
        Unload();
    }
}

// ---- game end and restart ----------------------------------------------------------------------------

TEST_P(RoomFlowTest, GameEndGivesRoomEndBeforeGameEndAndARestartStartsAfresh)
{
    // What one whole run leaves registered (built-ins, names, the interpreter's first blocks) is the
    // baseline.
    Start(ThreeRooms());
    EndGame();
    Unload();
    ObjectBase_Free(g_GlobalObject);
    g_GlobalObject = nullptr;
    const size_t baseline = MemoryManager_Probe().liveBlocks;
    Start(ThreeRooms());
    Trace();
    SeamTrace_Clear();
    SeamTrace_Enable(true);
    EndGame();
    // Golden: Room End on every instance, then Game End on every instance.
    EXPECT_EQ(Trace(), Golden("roomflow_game_end.txt"));
    EXPECT_EQ(Run_Room, nullptr);
    EXPECT_EQ(RoomArray_Length(), 0);
    EXPECT_EQ(InstanceIdMap_Count(), 0);
    EXPECT_EQ(CarryOver_Count(), 1);  // the keeper waits for the next room
    const std::vector<std::string>& calls = SeamTrace_Calls();
    for (const char* call : {"Extension_Finalise", "Window_SetCursor", "Audio_StopAll", "Text_ResetState",
                             "GPUState_SetDefaults"})
        EXPECT_NE(std::find(calls.begin(), calls.end(), call), calls.end()) << call;

    // The restart path: the first room again with Game Start, and the carried copy is let go.
    StartFirstRoom();
    EXPECT_EQ(Trace(), Golden("roomflow_first_room.txt"));
    EXPECT_EQ(CarryOver_Count(), 0);
    EXPECT_EQ(CountWithId(Run_Room, 100002), 1);
    EXPECT_EQ(InstanceIdMap_Find(100002)->x, 77.0f);
    SeamTrace_Enable(false);

    // Game end, restart and unloading leave nothing behind.
    EndGame();
    StartFirstRoom();
    EndGame();
    Unload();
    ObjectBase_Free(g_GlobalObject);
    g_GlobalObject = nullptr;
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, baseline);
}

TEST_P(RoomFlowTest, GameEndWithoutARoomOrAfterFailedExtensionsDoesNoHarm)
{
    ASSERT_TRUE(Load(ThreeRooms(), GetParam()));
    SeamTrace_Clear();
    SeamTrace_Enable(true);
    EndGame();  // before any room: nothing of a room is touched
    const std::vector<std::string>& before = SeamTrace_Calls();
    EXPECT_EQ(std::find(before.begin(), before.end(), "Layer_RoomEnd"), before.end());
    SeamTrace_Enable(false);
    EXPECT_EQ(Trace(), "");

    Extension_SetSeamResults(true, false, true);
    StartFirstRoom();
    EXPECT_EQ(Run_Room, nullptr);
    EXPECT_EQ(Trace(), "");
    EndGame();
    EXPECT_EQ(InstanceIdMap_Count(), 0);

    // A failed finalisation stops the game end before the cursor and the audio.
    Extension_SetSeamResults(true, true, false);
    StartFirstRoom();
    SeamTrace_Clear();
    SeamTrace_Enable(true);
    EndGame();
    const std::vector<std::string>& calls = SeamTrace_Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "Extension_Finalise"), calls.end());
    EXPECT_EQ(std::find(calls.begin(), calls.end(), "Audio_StopAll"), calls.end());
    SeamTrace_Enable(false);
    EXPECT_EQ(Run_Room, nullptr);
}

TEST_P(RoomFlowTest, AnEmptyOrderEndsTheGameInsteadOfStartingARoom)
{
    ASSERT_TRUE(Load(FlowGame({FlowRoom("rm_only", {Inst(kFlowPlain, 100001)})}, {1}), GetParam()));
    StartFirstRoom();
    EXPECT_EQ(Run_Room, nullptr);
    EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_GAME_END);
    EXPECT_EQ(Trace(), "");
}

// ---- headless --------------------------------------------------------------------------------------------

// The exit hook returns here, so the run goes on after "exit 0"; what counts is what came before it: the
// room's creates, then its creation code, then the exit, and that room's Room Start only after it.
void ExpectExitRightAfterRoomCode(const std::string& trace, int32_t room)
{
    const size_t exitAt = trace.find("exit 0\n");
    ASSERT_NE(exitAt, std::string::npos) << trace;
    const std::string roomCode = "C 0 " + std::to_string(room) + " ";
    const size_t lineStart = trace.rfind('\n', exitAt - 2) + 1;
    EXPECT_EQ(trace.substr(lineStart, roomCode.size()), roomCode) << trace;
    EXPECT_EQ(trace.substr(exitAt - 3, 3), " 0\n") << "the room's code runs with self 0: " << trace;
    const std::string roomStart = "E 0 " + std::to_string(room) + " 7 4 ";
    EXPECT_EQ(trace.substr(0, exitAt).find(roomStart), std::string::npos) << trace;
    EXPECT_EQ(trace.find("exit", exitAt + 1), std::string::npos) << "one exit per creation code: " << trace;
}

TEST_P(RoomFlowTest, HeadlessRunsExitRightAfterTheFirstRoomsCreationCode)
{
    g_RunFlags.headless = true;
    Start(ThreeRooms());
    ExpectExitRightAfterRoomCode(Trace(), 0);
}

// Changed rule: the exit used to follow only the first room's code, so a game whose first room had none
// ran on past every later room's code.
TEST_P(RoomFlowTest, HeadlessRunsExitAfterALaterRoomsCodeWhenTheFirstRoomHasNone)
{
    g_RunFlags.headless = true;
    GameDef game = ThreeRooms();
    game.rooms[0].code.clear();
    game.rooms[0].withCode = false;
    Start(game);
    EXPECT_EQ(Trace().find("exit"), std::string::npos) << "no room code ran yet";
    SwitchRoom(2);  // rm_kept has no creation code either
    EXPECT_EQ(Trace().find("exit"), std::string::npos);
    SwitchRoom(1);
    ExpectExitRightAfterRoomCode(Trace(), 1);
}

INSTANTIATE_TEST_SUITE_P(BothKindsOfCode, RoomFlowTest, testing::Values(Mode::Bytecode, Mode::Native),
                         [](const testing::TestParamInfo<Mode>& info) { return worldtest::ModeName(info.param); });

}  // namespace
