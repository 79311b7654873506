// Rooms: ROOM entries through the real second pass (flags, backgrounds, views, records, physics, layers,
// damaged entries), the room table and play order, copying rooms with and without instances, the instance
// lists (depth order, marked removal, activation) and records added at run time.
#include "wad_test_util.h"
#include "world_harness.h"

#include "core/code.h"
#include "core/error.h"
#include "draw/draw.h"
#include "layers/layers.h"
#include "physics/physics.h"
#include "world/instance.h"
#include "world/object.h"
#include "world/object_base.h"
#include "world/room.h"
#include "world/timeline.h"
#include "world/wad_reader.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace roomtest {

// The game-data file of a case.
inline std::string Fixture(const std::string& name)
{
    static const std::string dir = wadtest::CasesFolder("room_cases.py");
    return dir + name + ".win";
}

// A loader test that also frees what rooms leave behind (instances, deferred lists, objects, the global
// object) and checks that the live blocks come back to where they were.
class RoomLoaderTest : public wadtest::LoaderTest {
protected:
    void SetUp() override
    {
        wadtest::LoaderTest::SetUp();
        Instances_DeleteAll();
        InstanceLists_Free();
        Object_FreeAll();
        TimeLine_FreeAll();
        Error_ResetState();
        ObjectBasePool_Clear();  // what earlier suites left pooled would be freed by the tear-down
        savedCounter_ = g_InstanceIdCounter;
        savedTree_ = CollisionTreeMode;
        Room_MarkedCount = 0;
        // The instance table lives for the process; made now so that it is not counted as a leak.
        delete new CInstance(0, 0, 0, -1, false);
        before_ = MemoryManager_Probe().liveBlocks;
    }
    void TearDown() override
    {
        Background_SetSizeSource(nullptr);
        CollisionTreeMode = savedTree_;
        Room_MarkedCount = 0;
        Instances_DeleteAll();
        InstanceLists_Free();
        Object_FreeAll();
        TimeLine_FreeAll();
        UnloadGameData();
        ObjectBase_Free(g_GlobalObject);
        g_GlobalObject = nullptr;
        ObjectBasePool_Clear();
        Error_ResetState();
        g_InstanceIdCounter = savedCounter_;
        wadtest::LoaderTest::TearDown();
        EXPECT_EQ(MemoryManager_Probe().liveBlocks, before_) << "blocks left behind";
    }

    // Both passes over a case; whether pass 2 succeeded (pass 1 must).
    bool LoadCase(const std::string& name)
    {
        std::vector<uint8_t> bytes = wadtest::ReadBytes(Fixture(name));
        if (bytes.empty()) {
            ADD_FAILURE() << "no fixture " << name;
            return false;
        }
        auto* data = static_cast<uint8_t*>(MemAlloc(bytes.size()));
        std::memcpy(data, bytes.data(), bytes.size());
        if (!Wad_ReadHeader(data, uint32_t(bytes.size()))) {
            ADD_FAILURE() << "pass 1 failed for " << name << ": " << debug_.text;
            if (!g_GameData.data) MemFree(data);
            return false;
        }
        return Wad_LoadChunks(data, uint32_t(bytes.size()));
    }
    // Back to no game between the cases of one test.
    void Unload()
    {
        Instances_DeleteAll();
        Object_FreeAll();
        UnloadGameData();
        SeamTrace_Clear();
        debug_.text.clear();
    }

    static int Count(const std::string& name)
    {
        const auto& calls = SeamTrace_Calls();
        return int(std::count(calls.begin(), calls.end(), name));
    }

    size_t before_ = 0;
    int32_t savedCounter_ = 0;
    bool savedTree_ = false;
};

// The ids of a room list from head to tail.
inline std::vector<int32_t> ListIds(const CInstanceList& list)
{
    std::vector<int32_t> ids;
    for (CInstance* i = list.head; i; i = i->next) ids.push_back(i->id);
    return ids;
}

inline std::vector<CInstance*> Members(const SLinkedList<CInstance*>& list)
{
    std::vector<CInstance*> out;
    for (auto* n = list.head; n; n = n->next) out.push_back(n->value);
    return out;
}

}  // namespace roomtest

namespace {

using roomtest::ListIds;
using roomtest::RoomLoaderTest;

using RoomLoad = RoomLoaderTest;
using RoomTable = RoomLoaderTest;
using RoomCopy = RoomLoaderTest;
using RoomLists = RoomLoaderTest;

constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();

bool RoomTest_SizeOf64x32(int32_t index, int32_t* w, int32_t* h)
{
    if (index != 0) return false;
    *w = 64;
    *h = 32;
    return true;
}
bool RoomTest_SizeZero(int32_t index, int32_t* w, int32_t* h)
{
    if (index != 0) return false;
    *w = *h = 0;
    return true;
}

// ---- what a ROOM entry gives the room --------------------------------------------------------------------

TEST_F(RoomLoad, FlagsWordGivesViewsViewClearAndDisplayClear)
{
    ASSERT_TRUE(LoadCase("rooms_flags")) << g_GameData.damage;
    struct Row {
        uint32_t flags;
        bool views, viewClear, displayClear;
    };
    const Row rows[] = {{0, false, false, true}, {1, true, false, true},  {2, false, true, true},
                        {3, true, true, true},   {4, false, false, false}, {7, true, true, false}};
    ASSERT_EQ(Room_Count(), 6);
    for (int32_t i = 0; i < 6; ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(testing::Message() << "flags " << row.flags);
        CRoom* room = Room_Data(i);
        ASSERT_NE(room, nullptr);
        EXPECT_EQ(std::string(room->name), "rm_flags" + std::to_string(row.flags));
        EXPECT_EQ(room->viewsEnabled, row.views);
        EXPECT_EQ(room->viewClear, row.viewClear);
        EXPECT_EQ(room->displayClear, row.displayClear);
    }
}

TEST_F(RoomLoad, BackgroundRecordsAndStretchScalesFromTheBackgroundSize)
{
    struct Source {
        const char* name;
        BackgroundSizeSource source;
        float xscale, yscale;  // slot 0 (background 0, stretched)
    };
    const Source sources[] = {
        {"64x32 stretches to 10 x 15", RoomTest_SizeOf64x32, 10.0f, 15.0f},
        {"a zero size keeps scale 1", RoomTest_SizeZero, 1.0f, 1.0f},
        {"no background keeps scale 1", nullptr, 1.0f, 1.0f},
    };
    for (const Source& s : sources) {
        SCOPED_TRACE(s.name);
        Background_SetSizeSource(s.source);
        ASSERT_TRUE(LoadCase("rooms_backgrounds")) << g_GameData.damage;
        CRoom* room = Room_Data(0);
        ASSERT_NE(room, nullptr);

        RoomBackground slot0;
        slot0.visible = true;
        slot0.index = 0;
        slot0.xscale = s.xscale;
        slot0.yscale = s.yscale;
        RoomBackground slot1;
        slot1.visible = true;
        slot1.index = 9;  // no such background: nothing to stretch
        RoomBackground slot2;
        slot2.visible = true;
        slot2.foreground = true;
        slot2.index = 0;
        slot2.x = -8;
        slot2.y = 12;
        slot2.vtiled = false;
        slot2.hspeed = 3;
        slot2.vspeed = -2;
        const RoomBackground want[ROOM_BACKGROUNDS] = {slot0, slot1, slot2};
        for (int32_t i = 0; i < ROOM_BACKGROUNDS; ++i) {
            SCOPED_TRACE(testing::Message() << "slot " << i);
            const RoomBackground& b = room->backgrounds[i];
            const RoomBackground& w = want[i];
            EXPECT_EQ(b.visible, w.visible);
            EXPECT_EQ(b.foreground, w.foreground);
            EXPECT_EQ(b.index, w.index);
            EXPECT_EQ(b.x, w.x);
            EXPECT_EQ(b.y, w.y);
            EXPECT_EQ(b.htiled, w.htiled);
            EXPECT_EQ(b.vtiled, w.vtiled);
            EXPECT_EQ(b.hspeed, w.hspeed);
            EXPECT_EQ(b.vspeed, w.vspeed);
            EXPECT_EQ(b.xscale, w.xscale);
            EXPECT_EQ(b.yscale, w.yscale);
            EXPECT_EQ(b.blend, 0xFFFFFF);
            EXPECT_EQ(b.alpha, 1.0f);
        }
        Unload();
    }
}

TEST_F(RoomLoad, ViewRecordsAndOneCameraPerViewRecordInNewerGames)
{
    struct Row {
        const char* name;
        int cameras;  // CreateFromView calls
    };
    const Row rows[] = {{"rooms_views", 2}, {"rooms_views_old", 0}};
    CView view0;
    view0.visible = true;
    view0.x = 10;
    view0.y = 20;
    view0.width = 320;
    view0.height = 240;
    view0.portX = 5;
    view0.portY = 6;
    view0.portWidth = 640;
    view0.portHeight = 480;
    view0.borderX = 64;
    view0.borderY = 48;
    view0.speedX = 4;
    view0.speedY = -1;
    view0.targetObject = 0;
    CView view1;
    view1.x = -100;
    view1.width = 200;
    view1.height = 100;
    view1.portWidth = 400;
    view1.portHeight = 200;
    const CView want[ROOM_VIEWS] = {view0, view1};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(LoadCase(row.name)) << g_GameData.damage;
        CRoom* room = Room_Data(0);
        ASSERT_NE(room, nullptr);
        EXPECT_TRUE(room->viewsEnabled);
        EXPECT_EQ(Count("CCameraManager::CreateFromView"), row.cameras);
        for (int32_t i = 0; i < ROOM_VIEWS; ++i) {
            SCOPED_TRACE(testing::Message() << "view " << i);
            const CView& v = room->views[i];
            const CView& w = want[i];
            EXPECT_EQ(v.visible, w.visible);
            EXPECT_EQ(v.x, w.x);
            EXPECT_EQ(v.y, w.y);
            EXPECT_EQ(v.width, w.width);
            EXPECT_EQ(v.height, w.height);
            EXPECT_EQ(v.portX, w.portX);
            EXPECT_EQ(v.portY, w.portY);
            EXPECT_EQ(v.portWidth, w.portWidth);
            EXPECT_EQ(v.portHeight, w.portHeight);
            EXPECT_EQ(v.angle, 0.0f);
            EXPECT_EQ(v.borderX, w.borderX);
            EXPECT_EQ(v.borderY, w.borderY);
            EXPECT_EQ(v.speedX, w.speedX);
            EXPECT_EQ(v.speedY, w.speedY);
            EXPECT_EQ(v.targetObject, w.targetObject);
            // Cameras are numbered from 0 after the load's reset (the default camera is still a seam's).
            EXPECT_EQ(v.cameraId, i < row.cameras ? i : -1);
            if (const CCamera* camera = CCameraManager::GetCamera(v.cameraId)) {
                EXPECT_EQ(camera->GetViewX(), w.x);
                EXPECT_EQ(camera->GetViewWidth(), w.width);
                EXPECT_EQ(camera->target, w.targetObject);
            }
        }
        Unload();
    }
}

TEST_F(RoomLoad, InstanceRecordsStayInTheDataWithCodeIdsTurnedIntoCodeTableSlots)
{
    ASSERT_TRUE(LoadCase("rooms_records")) << g_GameData.damage;
    CRoom* room = Room_Data(0);
    ASSERT_NE(room, nullptr);
    EXPECT_TRUE(room->hasRecord);
    EXPECT_TRUE(IsInGameFile(room->entry));
    ASSERT_NE(room->creationCode, nullptr);
    EXPECT_EQ(room->creationCode->index, 0);  // ksl_RoomCode_first

    struct Row {
        int32_t x, y, object, id;
        int32_t codeEntry;  // -1: no code
        float xscale, yscale;
        uint32_t colour;
        float rotation;
    };
    const Row rows[] = {
        {16, 32, 0, 100001, 2, 2.0f, 0.5f, 0x80FF8040u, 45.0f},
        {-8, 0, 1, 100002, 3, 1.0f, 1.0f, 0xFFFFFFFFu, 0.0f},
        {0, 0, -1, 100003, -1, 1.0f, 1.0f, 0xFFFFFFFFu, 0.0f},
        {1, 1, 0, 100004, -1, 1.0f, 1.0f, 0xFFFFFFFFu, 0.0f},  // code id 999 names no entry
    };
    ASSERT_EQ(room->instanceRecords.Count(), 4);
    EXPECT_FALSE(room->instanceRecords.OwnsRecords());
    for (int32_t i = 0; i < 4; ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(testing::Message() << "record " << row.id);
        const RoomInstance r = room->instanceRecords.At(i);
        EXPECT_EQ(r.x, row.x);
        EXPECT_EQ(r.y, row.y);
        EXPECT_EQ(r.objectIndex, row.object);
        EXPECT_EQ(r.id, row.id);
        if (row.codeEntry < 0) {
            EXPECT_EQ(r.creationCode, -1);
        } else {
            ASSERT_NE(Code_Get(r.creationCode), nullptr);
            EXPECT_EQ(Code_Get(r.creationCode)->index, row.codeEntry);
        }
        EXPECT_EQ(r.xscale, row.xscale);
        EXPECT_EQ(r.yscale, row.yscale);
        EXPECT_EQ(r.colour, row.colour);
        EXPECT_EQ(r.rotation, row.rotation);
        EXPECT_TRUE(IsInGameFile(room->instanceRecords.RecordAddress(i)));
    }
    EXPECT_NE(debug_.text.find("creation code 999"), std::string::npos) << debug_.text;

    const RoomTile tiles[] = {
        {64, 64, 2, 0, 16, 32, 32, 100, 10000001, 1.0f, 1.0f, 0x7F00FF00u},
        {0, 128, 2, 32, 16, 16, 16, -50, 10000002, 2.0f, 3.0f, 0xFFFFFFFFu},
    };
    ASSERT_EQ(room->tileRecords.Count(), 2);
    for (int32_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(testing::Message() << "tile " << i);
        const RoomTile t = room->tileRecords.At(i);
        EXPECT_EQ(std::memcmp(&t, &tiles[i], sizeof t), 0) << "id " << t.id << " depth " << t.depth;
        EXPECT_TRUE(IsInGameFile(room->tileRecords.RecordAddress(i)));
    }
}

TEST_F(RoomLoad, PhysicsWorldFromTheEntryFieldsAndTheGameSpeedOrRoomSpeed)
{
    struct Row {
        const char* room;
        bool world;
        float scale;
        int32_t gravityX, gravityY;
        int32_t speedNew, speedOld;  // the world's rate in a newer / older game
    };
    const Row rows[] = {
        {"rm_phys", true, 0.1f, 1, -9, 60, 30},
        {"rm_phys_nan", false, 0, 0, 0, 0, 0},
        {"rm_phys_zero", false, 0, 0, 0, 0, 0},
        {"rm_phys_negative", false, 0, 0, 0, 0, 0},
        {"rm_phys_inf", false, 0, 0, 0, 0, 0},
        {"rm_phys_gravity", true, 0.05f, kIntMin, kIntMin, 60, 30},
        {"rm_nophys", false, 0, 0, 0, 0, 0},
    };
    for (bool newer : {true, false}) {
        SCOPED_TRACE(newer ? "rooms_physics" : "rooms_physics_old");
        ASSERT_TRUE(LoadCase(newer ? "rooms_physics" : "rooms_physics_old")) << g_GameData.damage;
        EXPECT_EQ(Count("CPhysicsWorld::CPhysicsWorld"), 2);
        for (int32_t i = 0; i < 7; ++i) {
            const Row& row = rows[i];
            SCOPED_TRACE(row.room);
            CRoom* room = Room_Data(i);
            ASSERT_NE(room, nullptr);
            ASSERT_STREQ(room->name, row.room);
            EXPECT_EQ(room->usesPhysics, i != 6);
            const bool logged =
                debug_.text.find(std::string("Room ") + row.room + ": pixels to metres") != std::string::npos;
            EXPECT_EQ(logged, i != 6 && !row.world) << debug_.text;
            ASSERT_EQ(room->physicsWorld != nullptr, row.world);
            if (!row.world) continue;
            EXPECT_EQ(room->gravityX, row.gravityX);
            EXPECT_EQ(room->gravityY, row.gravityY);
            EXPECT_FLOAT_EQ(room->physicsWorld->pixelToMetre, row.scale);
            EXPECT_EQ(room->physicsWorld->gravityX, float(row.gravityX));
            EXPECT_EQ(room->physicsWorld->gravityY, float(row.gravityY));
            EXPECT_EQ(room->physicsWorld->updateSpeed, newer ? row.speedNew : row.speedOld);
        }
        Unload();
    }

    // Bytecode version 5 entries end before the physics fields.
    ASSERT_TRUE(LoadCase("rooms_physics_v5")) << g_GameData.damage;
    CRoom* room = Room_Data(0);
    ASSERT_NE(room, nullptr);
    EXPECT_FALSE(room->usesPhysics);
    EXPECT_EQ(room->physicsWorld, nullptr);
    EXPECT_EQ(room->pixelsToMetres, 0.0f);
    EXPECT_EQ(Count("CPhysicsWorld::CPhysicsWorld"), 0);
}

// Where ROOM's body lies in the loaded data.
bool RoomTest_RoomChunk(uint32_t* body, uint32_t* size)
{
    for (uint32_t at = 8; at + 8 <= g_GameData.length;) {
        const uint32_t length = wadtest::U32At(g_GameData.data, at + 4);
        if (wadtest::U32At(g_GameData.data, at) == Wad_Tag("ROOM")) {
            *body = at + 8;
            *size = length;
            return true;
        }
        at += 8 + length;
    }
    return false;
}

TEST_F(RoomLoad, LayerListIsBuiltOnlyForLayoutVersion2AndUpWithAList)
{
    ASSERT_TRUE(LoadCase("rooms_layers")) << g_GameData.damage;
    EXPECT_EQ(Count("Layer_BuildRoomLayers"), 2);

    // Each entry again on its own, to see which ones build layers.
    struct Row {
        const char* room;
        bool builds;
    };
    const Row rows[] = {
        {"rm_layout1", false},       // a list, but layout version 1 has no layers word
        {"rm_layout2", true},        // an empty list is still a list
        {"rm_layout2_none", false},  // reference 0
        {"rm_layout3", true},
    };
    uint32_t body = 0, size = 0;
    ASSERT_TRUE(RoomTest_RoomChunk(&body, &size));
    WadReader reader(g_GameData.data, g_GameData.length, false);
    ASSERT_TRUE(reader.SetChunk(Wad_Tag("ROOM"), body, size));
    for (int32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(rows[i].room);
        CRoom* loaded = Room_Data(i);
        ASSERT_NE(loaded, nullptr);
        ASSERT_STREQ(loaded->name, rows[i].room);
        auto again = std::make_unique<CRoom>();
        SeamTrace_Clear();
        ASSERT_TRUE(again->LoadFromChunk(reader, uint32_t(loaded->entry - g_GameData.data), uint32_t(i)));
        EXPECT_EQ(Count("Layer_BuildRoomLayers"), rows[i].builds ? 1 : 0);
    }
}

// ---- damaged entries -------------------------------------------------------------------------------------

TEST_F(RoomLoad, DamagedEntriesFailPass2NamingTheRoom)
{
    struct Row {
        const char* name;
        const char* room;  // how the damage names the room
        const char* what;
    };
    const Row rows[] = {
        {"bad_room_backgrounds", "room 1 (rm_bad): ", "more than 8 backgrounds"},
        {"bad_room_views", "room 1 (rm_bad): ", "more than 8 views"},
        {"bad_room_instance_count", "room 1 (rm_bad): ", "instances list runs past the data"},
        {"bad_room_instance_count_huge", "room 1 (rm_bad): ", "instances list runs past the data"},
        {"bad_room_tile_list", "room 1 (rm_bad): ", "tiles list outside the data"},
        {"bad_room_tile_count", "room 1 (rm_bad): ", "tiles"},  // the missing record is the next word
        {"bad_room_layer_list", "room 1 (rm_bad): ", "layer list outside the data"},
        {"bad_room_view_list", "room 1 (rm_bad): ", "views list outside the data"},
        // No name to read: the index says which room.
        {"bad_room_entry", "room 1", "outside the chunk"},
        {"bad_room_entry_cut", "room 0", "outside the chunk"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(LoadCase(row.name));
        EXPECT_TRUE(g_GameData.damaged);
        const std::string damage = g_GameData.damage;
        EXPECT_EQ(damage.rfind("ROOM at offset ", 0), 0u) << damage;
        EXPECT_NE(damage.find(row.room), std::string::npos) << damage;
        EXPECT_NE(damage.find(row.what), std::string::npos) << damage;
        EXPECT_NE(debug_.text.find("Game data is damaged: ROOM at offset"), std::string::npos);
        Unload();
    }
}

// ---- the room table and the play order -------------------------------------------------------------------

TEST_F(RoomTable, NamesGapsAndThePlayOrder)
{
    ASSERT_TRUE(LoadCase("rooms_order")) << g_GameData.damage;
    EXPECT_EQ(Room_Count(), 4);
    EXPECT_EQ(Room_Find("rm_a"), 0);  // the lowest index of two rooms of that name
    EXPECT_EQ(Room_Find("rm_c"), 2);
    EXPECT_EQ(Room_Find("rm_b"), -1);
    EXPECT_EQ(Room_Find(nullptr), -1);
    EXPECT_STREQ(Room_GetName(3), "rm_a");
    for (int32_t empty : {1, -1, 4}) {
        SCOPED_TRACE(empty);
        EXPECT_STREQ(Room_GetName(empty), "<undefined>");
        EXPECT_FALSE(Room_Exists(empty));
        EXPECT_EQ(Room_Data(empty), nullptr);
    }

    struct Row {
        const char* what;
        int32_t (*step)(int32_t);
        int32_t room, want;
    };
    const Row rows[] = {
        {"next of the first", Room_Next, 2, 0},       {"next of the middle", Room_Next, 0, 3},
        {"next of the last", Room_Next, 3, -1},       {"previous of the last", Room_Previous, 3, 0},
        {"previous of the middle", Room_Previous, 0, 2}, {"previous of the first", Room_Previous, 2, -1},
        {"next of the empty slot", Room_Next, 1, -1}, {"previous of the empty slot", Room_Previous, 1, -1},
        {"next of a room beyond the table", Room_Next, 9, -1},
    };
    EXPECT_EQ(Room_First(), 2);
    EXPECT_EQ(Room_Last(), 3);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.step(row.room), row.want);
    }

    // The empty slot can be neither copied nor assigned, either way.
    EXPECT_EQ(Room_Duplicate(1), -1);
    EXPECT_FALSE(Room_Assign(1, 0));
    EXPECT_FALSE(Room_Assign(0, 1));
    EXPECT_EQ(Room_Count(), 4);

    // One room: no neighbours.
    Unload();
    ASSERT_TRUE(LoadCase("rooms_one")) << g_GameData.damage;
    EXPECT_EQ(Room_First(), 0);
    EXPECT_EQ(Room_Last(), 0);
    EXPECT_EQ(Room_Previous(0), -1);
    EXPECT_EQ(Room_Next(0), -1);
}

TEST_F(RoomTable, AddDuplicateAndAssign)
{
    ASSERT_TRUE(LoadCase("rooms_two")) << g_GameData.damage;
    const int32_t live = InstanceIdMap_Count();

    EXPECT_EQ(Room_Add(), 2);
    EXPECT_STREQ(Room_GetName(2), "__newroom2");
    EXPECT_EQ(Room_Find("__newroom2"), 2);
    ASSERT_NE(Room_Data(2), nullptr);
    EXPECT_TRUE(Room_Data(2)->hasRecord);
    EXPECT_EQ(Room_Data(2)->entry, nullptr);
    EXPECT_EQ(Room_Data(2)->width, 640);

    Room_Data(0)->width = 320;
    EXPECT_EQ(Room_Duplicate(0), 3);
    EXPECT_STREQ(Room_GetName(3), "__newroom3");
    ASSERT_NE(Room_Data(3), nullptr);
    EXPECT_STREQ(Room_Data(3)->name, "__newroom3");
    EXPECT_TRUE(Room_Data(3)->ownsRecords);
    EXPECT_EQ(Room_Data(3)->width, 320);
    EXPECT_EQ(Room_Data(3)->creationCode, Room_Data(0)->creationCode);
    EXPECT_EQ(Room_Duplicate(7), -1);
    EXPECT_EQ(Room_Duplicate(-1), -1);
    EXPECT_EQ(Room_Count(), 4);

    // Room 1's settings go to room 0, which keeps its name.
    CRoom* second = Room_Data(1);
    second->speed = 45;
    second->colour = 0x123456;
    second->backgrounds[3].x = 77;
    second->views[2].portWidth = 99;
    second->viewsEnabled = true;
    ASSERT_TRUE(Room_Assign(0, 1));
    CRoom* first = Room_Data(0);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(Room_GetName(0), "rm_first");
    EXPECT_STREQ(first->name, "rm_first");
    EXPECT_EQ(Room_Find("rm_first"), 0);
    EXPECT_EQ(first->width, 640);
    EXPECT_EQ(first->speed, 45);
    EXPECT_EQ(first->colour, 0x123456u);
    EXPECT_EQ(first->backgrounds[3].x, 77.0f);
    EXPECT_EQ(first->views[2].portWidth, 99);
    EXPECT_TRUE(first->viewsEnabled);
    ASSERT_NE(first->creationCode, nullptr);
    EXPECT_EQ(first->creationCode->index, 1);  // ksl_RoomCode_second
    EXPECT_EQ(first->active.count, 0);
    EXPECT_EQ(InstanceIdMap_Count(), live);

    for (auto [target, source] : {std::pair{0, 9}, std::pair{9, 0}, std::pair{-1, 0}}) {
        SCOPED_TRACE(testing::Message() << "assign " << source << " to " << target);
        EXPECT_FALSE(Room_Assign(target, source));
    }
}

TEST_F(RoomTable, DuplicateOwnsItsRecordsAndKeepsThemWhenTheSourceIsReplaced)
{
    ASSERT_TRUE(LoadCase("rooms_records")) << g_GameData.damage;
    const int32_t live = InstanceIdMap_Count();
    const int32_t copy = Room_Duplicate(0);
    ASSERT_EQ(copy, 1);
    CRoom* dup = Room_Data(copy);
    ASSERT_NE(dup, nullptr);
    EXPECT_TRUE(dup->instanceRecords.OwnsRecords());
    EXPECT_TRUE(dup->tileRecords.OwnsRecords());
    EXPECT_FALSE(dup->instanceRecords.Shared());
    EXPECT_EQ(dup->entry, nullptr);
    EXPECT_EQ(InstanceIdMap_Count(), live);  // a resource copy makes no instances

    // room 0 replaced by an empty room: the duplicate's records are its own.
    const int32_t empty = Room_Add();
    ASSERT_TRUE(Room_Assign(0, empty));
    EXPECT_EQ(Room_Data(0)->instanceRecords.Count(), 0);
    ASSERT_EQ(dup->instanceRecords.Count(), 4);
    ASSERT_EQ(dup->tileRecords.Count(), 2);
    for (int32_t i = 0; i < 4; ++i) EXPECT_FALSE(IsInGameFile(dup->instanceRecords.RecordAddress(i))) << i;
    EXPECT_EQ(dup->instanceRecords.At(0).id, 100001);
    EXPECT_EQ(dup->instanceRecords.At(0).colour, 0x80FF8040u);
    EXPECT_EQ(dup->instanceRecords.At(3).x, 1);
    EXPECT_EQ(Code_Get(dup->instanceRecords.At(1).creationCode)->index, 3);
    EXPECT_EQ(dup->tileRecords.At(1).id, 10000002);
    EXPECT_EQ(dup->tileRecords.At(1).depth, -50);

    // Assigned to another slot, the records come along but no instances are made from them.
    ASSERT_TRUE(Room_Assign(empty, copy));
    EXPECT_EQ(Room_Data(empty)->instanceRecords.Count(), 4);
    EXPECT_TRUE(dup->instanceRecords.Shared());
    EXPECT_EQ(Room_Data(empty)->active.count, 0);
    EXPECT_EQ(InstanceIdMap_Count(), live);
}

// ---- copying a room with its instances ---------------------------------------------------------------------

TEST_F(RoomCopy, RunningCopyMakesInstancesFromTheRecordsAndSharesTheBlocks)
{
    ASSERT_TRUE(LoadCase("rooms_records")) << g_GameData.damage;
    CRoom* resource = Room_Data(0);
    ASSERT_NE(resource, nullptr);
    auto running = std::make_unique<CRoom>();
    running->Assign(resource, true);

    EXPECT_EQ(running->creationOrder, (std::vector<int32_t, MemAllocator<int32_t>>{100001, 100002, 100004}));
    // obj_b's depth 10 puts its instance last.
    EXPECT_EQ(ListIds(running->active), (std::vector<int32_t>{100001, 100004, 100002}));
    EXPECT_EQ(InstanceIdMap_Find(100003), nullptr);

    struct Row {
        int32_t record, id, object;
        float x, y, xscale, yscale;
        uint32_t blend;
        float alpha, angle;
        int32_t codeEntry;  // -1: none
    };
    const Row rows[] = {
        {0, 100001, 0, 16, 32, 2.0f, 0.5f, 0xFF8040u, 128.0f / 255.0f, 45.0f, 2},
        {1, 100002, 1, -8, 0, 1.0f, 1.0f, 0xFFFFFFu, 1.0f, 0.0f, 3},
        {3, 100004, 0, 1, 1, 1.0f, 1.0f, 0xFFFFFFu, 1.0f, 0.0f, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id);
        CInstance* i = InstanceIdMap_Find(row.id);
        ASSERT_NE(i, nullptr);
        EXPECT_EQ(i->listRoom, running.get());
        EXPECT_EQ(i->objectIndex, row.object);
        EXPECT_EQ(i->x, row.x);
        EXPECT_EQ(i->y, row.y);
        EXPECT_EQ(i->imageXScale, row.xscale);
        EXPECT_EQ(i->imageYScale, row.yscale);
        EXPECT_EQ(i->imageBlend, row.blend);
        EXPECT_FLOAT_EQ(i->imageAlpha, row.alpha);
        EXPECT_EQ(i->imageAngle, row.angle);
        if (row.codeEntry < 0) {
            EXPECT_EQ(i->creationCode, nullptr);
        } else {
            ASSERT_NE(i->creationCode, nullptr);
            EXPECT_EQ(i->creationCode->index, row.codeEntry);
            EXPECT_EQ(i->creationCode, Code_Get(running->instanceRecords.At(row.record).creationCode));
        }
        EXPECT_TRUE(Object_Data(row.object)->instances.Contains(i));
    }

    ASSERT_EQ(running->tiles.count, 2);
    EXPECT_EQ(running->tiles.items[0].id, 10000001);
    EXPECT_EQ(running->tiles.items[0].x, 64.0f);
    EXPECT_EQ(running->tiles.items[1].id, 10000002);
    EXPECT_EQ(running->tiles.items[1].depth, -50.0f);
    EXPECT_TRUE(running->instanceRecords.Shared());
    EXPECT_TRUE(running->tileRecords.Shared());
    EXPECT_TRUE(resource->instanceRecords.Shared());
    EXPECT_EQ(running->instanceRecords.RecordAddress(0), resource->instanceRecords.RecordAddress(0));
    // The resource itself stays without instances.
    EXPECT_EQ(resource->active.count, 0);

    running.reset();
    EXPECT_EQ(InstanceIdMap_Find(100001), nullptr);
    EXPECT_FALSE(resource->instanceRecords.Shared());
}

TEST_F(RoomCopy, RecordAddedToASharedResourceGoesToANewBlock)
{
    ASSERT_TRUE(LoadCase("rooms_records")) << g_GameData.damage;
    CRoom* resource = Room_Data(0);
    ASSERT_NE(resource, nullptr);
    auto running = std::make_unique<CRoom>();
    running->Assign(resource, true);
    ASSERT_TRUE(resource->instanceRecords.Shared());

    // The header's last instance id is 100004; the running copy took the records' own ids.
    EXPECT_EQ(resource->AddInstanceRecord(5.5, 6.5, 1), 100005);
    EXPECT_EQ(resource->instanceRecords.Count(), 5);
    EXPECT_TRUE(resource->instanceRecords.OwnsRecords());
    EXPECT_FALSE(resource->instanceRecords.Shared());
    EXPECT_EQ(resource->instanceRecords.At(0).id, 100001);
    EXPECT_EQ(resource->instanceRecords.At(4).id, 100005);
    EXPECT_EQ(running->instanceRecords.Count(), 4);
    EXPECT_FALSE(running->instanceRecords.Shared());
    EXPECT_TRUE(IsInGameFile(running->instanceRecords.RecordAddress(3)));
    EXPECT_EQ(running->active.count, 3);
}

// ---- records added at run time ---------------------------------------------------------------------------

TEST_F(RoomLists, AddedInstanceRecordsTakeTheNextIdsAndTruncatedPositions)
{
    struct Row {
        double x, y;
        int32_t object;
        int32_t wantX, wantY;
    };
    const Row rows[] = {
        {3.9, -2.7, 4, 3, -2},
        {-0.5, 0.5, 0, 0, 0},
        {std::nan(""), 3e9, -1, kIntMin, kIntMin},
    };
    CRoom room;
    EXPECT_FALSE(room.hasRecord);
    g_InstanceIdCounter = 500;
    std::vector<int32_t> ids;
    for (const Row& row : rows) ids.push_back(room.AddInstanceRecord(row.x, row.y, row.object));
    EXPECT_EQ(ids, (std::vector<int32_t>{501, 502, 503}));
    EXPECT_EQ(g_InstanceIdCounter, 503);
    ASSERT_EQ(room.instanceRecords.Count(), 3);
    EXPECT_TRUE(room.hasRecord);
    EXPECT_TRUE(room.instanceRecords.OwnsRecords());
    for (int32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const RoomInstance r = room.instanceRecords.At(i);
        EXPECT_EQ(r.x, rows[i].wantX);
        EXPECT_EQ(r.y, rows[i].wantY);
        EXPECT_EQ(r.objectIndex, rows[i].object);
        EXPECT_EQ(r.id, 501 + i);
        EXPECT_EQ(r.creationCode, -1);
        EXPECT_EQ(r.xscale, 1.0f);
        EXPECT_EQ(r.yscale, 1.0f);
        EXPECT_EQ(r.colour, 0xFFFFFFFFu);
        EXPECT_EQ(r.rotation, 0.0f);
    }
}


// ---- the instance lists ----------------------------------------------------------------------------------

TEST_F(RoomLists, ActiveListIsOrderedByDepthWithEqualDepthsInInsertionOrder)
{
    struct Row {
        const char* what;
        std::vector<float> depths;  // inserted in this order
        std::vector<int> order;     // positions of the inserted instances from head to tail
    };
    const Row rows[] = {
        {"0 10 5 5", {0, 10, 5, 5}, {0, 2, 3, 1}},
        {"equal depths", {5, 5, 5}, {0, 1, 2}},
        {"descending", {3, 2, 1}, {2, 1, 0}},
        {"negative and huge", {-1, 1e9f, -1e9f, -1}, {2, 0, 3, 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CRoom room;
        g_InstanceIdCounter = 0;
        for (float d : row.depths) room.AddInstanceWithDepth(0, 0, d, -1);
        std::vector<int32_t> want;
        for (int at : row.order) want.push_back(at + 1);
        EXPECT_EQ(ListIds(room.active), want);
        EXPECT_EQ(room.active.count, int32_t(want.size()));
        // Drawing walks the other way.
        std::vector<int32_t> drawn;
        for (CInstance* i = room.DrawFirst(); i; i = i->prev) drawn.push_back(i->id);
        std::reverse(drawn.begin(), drawn.end());
        EXPECT_EQ(drawn, want);
    }
}

TEST_F(RoomLists, ReinsertingAfterADepthChangeMovesTheInstance)
{
    CRoom room;
    g_InstanceIdCounter = 0;
    room.AddInstanceWithDepth(0, 0, 0, -1);
    CInstance* moved = room.AddInstanceWithDepth(0, 0, 5, -1);
    room.AddInstanceWithDepth(0, 0, 10, -1);
    moved->depth = 20;
    InstanceList_InsertByDepth(&room, moved);
    EXPECT_EQ(ListIds(room.active), (std::vector<int32_t>{1, 3, 2}));
    EXPECT_EQ(room.active.count, 3);
    EXPECT_EQ(moved->depthKey, 20.0f);
    moved->depth = -5;
    InstanceList_InsertByDepth(&room, moved);
    EXPECT_EQ(ListIds(room.active), (std::vector<int32_t>{2, 1, 3}));
    EXPECT_EQ(room.active.head->prev, nullptr);
    EXPECT_EQ(room.active.tail->next, nullptr);
}

TEST_F(RoomLists, RemovingManyMarkedInstancesRebuildsTheCollisionTreeOnce)
{
    struct Row {
        const char* what;
        bool treeMode;
        int32_t marked;
        int rebuilds;  // DestroyTree and RebuildTree calls each
    };
    const Row rows[] = {
        {"251 in tree mode", true, 251, 1},
        {"250 in tree mode", true, 250, 0},
        {"251 without the tree", false, 251, 0},
        {"none", true, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CollisionTreeMode = row.treeMode;
        g_InstanceIdCounter = 0;
        auto room = std::make_unique<CRoom>();
        std::vector<CInstance*> marked;
        for (int32_t i = 0; i < row.marked; ++i) {
            CInstance* instance = room->AddInstanceWithDepth(0, 0, float(i % 7), -1);
            instance->markedForDeletion = true;
            marked.push_back(instance);
        }
        CInstance* kept = room->AddInstanceWithDepth(0, 0, 3, -1);
        CInstance* asleep = room->AddInstanceWithDepth(0, 0, 1, -1);
        asleep->deactivated = true;
        room->UpdateActivation();
        asleep->markedForDeletion = true;  // deactivated: left alone
        g_DepthChangeList.AddUnique(kept);
        if (!marked.empty()) g_DepthChangeList.AddUnique(marked.back());
        const int32_t markedId = marked.empty() ? -1 : marked.front()->id;
        Room_MarkedCount = row.marked;

        SeamTrace_Clear();
        room->RemoveMarkedInstances();
        EXPECT_EQ(Count("Collision_DestroyTree"), row.rebuilds);
        EXPECT_EQ(Count("Collision_RebuildTree"), row.rebuilds);
        if (row.rebuilds) {
            // The tree goes before the first removal and comes back after the last.
            const auto& calls = SeamTrace_Calls();
            auto destroy = std::find(calls.begin(), calls.end(), "Collision_DestroyTree");
            auto rebuild = std::find(calls.begin(), calls.end(), "Collision_RebuildTree");
            auto first = std::find(calls.begin(), calls.end(), "Layer_RemoveInstance");
            auto last = std::find(calls.rbegin(), calls.rend(), "Layer_RemoveInstance");
            ASSERT_NE(first, calls.end());
            EXPECT_LT(destroy, first);
            EXPECT_GT(rebuild, last.base() - 1);
        }
        EXPECT_EQ(Room_MarkedCount, 0);
        EXPECT_EQ(ListIds(room->active), std::vector<int32_t>{kept->id});
        EXPECT_EQ(ListIds(room->deactivated), std::vector<int32_t>{asleep->id});
        EXPECT_EQ(InstanceIdMap_Find(asleep->id), asleep);
        if (markedId != -1) {
            EXPECT_EQ(InstanceIdMap_Find(markedId), nullptr);
        }
        EXPECT_EQ(g_DepthChangeList.count, 1);
        EXPECT_TRUE(g_DepthChangeList.Contains(kept));
        g_DepthChangeList.Clear();
    }
}

TEST_F(RoomLists, BackgroundsScrollByTheirSpeedsAndLayersScrollOnlyInNewerGames)
{
    CRoom room;
    room.backgrounds[0].x = -8;
    room.backgrounds[0].y = 12;
    room.backgrounds[0].hspeed = 3;
    room.backgrounds[0].vspeed = -2;
    room.backgrounds[5].hspeed = 0.5f;
    room.ScrollBackgrounds();
    room.ScrollBackgrounds();
    EXPECT_EQ(room.backgrounds[0].x, -2.0f);
    EXPECT_EQ(room.backgrounds[0].y, 8.0f);
    EXPECT_EQ(room.backgrounds[5].x, 1.0f);
    EXPECT_EQ(room.backgrounds[5].y, 0.0f);
    EXPECT_EQ(room.backgrounds[1].x, 0.0f);

    for (bool newer : {false, true}) {
        SCOPED_TRACE(newer ? "newer game" : "older game");
        g_GameData.newMode = newer;
        SeamTrace_Clear();
        room.UpdateLayerScrolling();
        EXPECT_EQ(Count("Layer_UpdateScrolling"), newer ? 1 : 0);
    }
    g_GameData.newMode = false;
}

// ---- activation, in a loaded game with a step handler ------------------------------------------------------

class RoomActivation : public worldtest::WorldHarness {
protected:
    // Self ids of the step handler runs of one Perform_Event_All.
    static std::vector<int32_t> StepRuns()
    {
        worldtest::g_runs.clear();
        Perform_Event_All(EVENT_STEP, 0);
        std::vector<int32_t> ids;
        for (const auto& run : worldtest::g_runs) ids.push_back(run.self);
        return ids;
    }
};

TEST_F(RoomActivation, DeactivatedInstancesLeaveTheActiveAndObjectListsButNotTheIdMap)
{
    worldtest::GameDef game;
    worldtest::ObjectDef stepper;
    stepper.name = "obj_stepper";
    stepper.events = {{EVENT_STEP, 0, {{worldtest::Op::Record, 1}}}};
    game.objects = {stepper};
    ASSERT_TRUE(Load(game, worldtest::Mode::Bytecode));
    CObject* object = Object_Data(0);
    ASSERT_NE(object, nullptr);
    CInstance* a = room_->AddInstanceWithDepth(0, 0, 0, 0);
    CInstance* b = room_->AddInstanceWithDepth(0, 0, 5, 0);
    CInstance* c = room_->AddInstanceWithDepth(0, 0, 10, 0);
    using Ids = std::vector<int32_t>;
    using Members = std::vector<CInstance*>;
    ASSERT_EQ(StepRuns(), (Ids{a->id, b->id, c->id}));

    b->deactivated = true;
    room_->UpdateActivation();
    EXPECT_EQ(ListIds(room_->active), (Ids{a->id, c->id}));
    EXPECT_EQ(ListIds(room_->deactivated), Ids{b->id});
    EXPECT_EQ(roomtest::Members(object->instances), (Members{a, c}));
    EXPECT_FALSE(object->instancesRecursive.Contains(b));
    EXPECT_EQ(InstanceIdMap_Find(b->id), b);
    EXPECT_EQ(StepRuns(), (Ids{a->id, c->id}));

    // The lists decide, not the flag: cleared, it waits for the next update.
    b->deactivated = false;
    EXPECT_EQ(StepRuns(), (Ids{a->id, c->id}));
    room_->UpdateActivation();
    EXPECT_EQ(ListIds(room_->active), (Ids{a->id, b->id, c->id}));
    EXPECT_EQ(room_->deactivated.count, 0);
    EXPECT_EQ(room_->deactivated.head, nullptr);
    EXPECT_TRUE(object->instances.Contains(b));
    EXPECT_TRUE(object->instancesRecursive.Contains(b));
    EXPECT_EQ(object->instances.count, 3);
    EXPECT_EQ(StepRuns(), (Ids{a->id, b->id, c->id}));

    // Both ways in one update.
    a->deactivated = true;
    room_->UpdateActivation();
    a->deactivated = false;
    c->deactivated = true;
    room_->UpdateActivation();
    EXPECT_EQ(ListIds(room_->active), (Ids{a->id, b->id}));
    EXPECT_EQ(ListIds(room_->deactivated), Ids{c->id});
    EXPECT_EQ(object->instances.count, 2);
}

}  // namespace
