// Objects through the real second pass: the record per bytecode version, the sprite word, event tables
// and the handler search, instance lists, the table (gaps, names, added and deleted objects, parent
// cycles), the per-event object lists and collision pairs, and damaged OBJT data.
#include "object_test_util.h"

#include "core/code.h"
#include "core/constants.h"
#include "core/error.h"
#include "platform/messages.h"

#include <algorithm>
#include <cmath>

namespace {

using objtest::ObjectLoaderTest;

using ObjectLoad = ObjectLoaderTest;
using ObjectEvents = ObjectLoaderTest;
using ObjectMap = ObjectLoaderTest;
using ObjectLists = ObjectLoaderTest;

// Distinct instance pointers for the list tests; the lists never look inside an instance.
CInstance* ObjectTestInstance(int n)
{
    static char storage[16];
    return reinterpret_cast<CInstance*>(&storage[n]);
}

std::vector<int32_t> ObjectTestList(int32_t type, int32_t number)
{
    const ObjectList& list = ObjectLists_Get(type, number);
    return std::vector<int32_t>(list.objects, list.objects + list.count);
}

std::vector<std::pair<int32_t, int32_t>> ObjectTestPairs()
{
    std::vector<std::pair<int32_t, int32_t>> out;
    for (int32_t i = 0; i < CollisionPairs_Count(); ++i) {
        const CollisionPair& p = CollisionPairs_Data()[i];
        EXPECT_EQ(p.objectA, Object_Data(p.a));
        EXPECT_EQ(p.objectB, Object_Data(p.b));
        EXPECT_EQ(p.active, 1);
        out.emplace_back(p.a, p.b);
    }
    return out;
}

std::vector<CInstance*> ObjectTestMembers(const SLinkedList<CInstance*>& list)
{
    std::vector<CInstance*> out;
    for (auto* n = list.head; n; n = n->next) out.push_back(n->value);
    return out;
}

// ---- The record ----

TEST_F(ObjectLoad, EachBytecodeVersionReadsThePhysicsBlockItCarries)
{
    struct Row {
        const char* name;
        bool physics;      // the block is there at all
        bool late;         // friction, awake and kinematic are there
    };
    const Row rows[] = {{"objects_v5", false, false}, {"objects_v8", true, false}, {"objects_v9", true, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(LoadCase(row.name)) << debug_.text;
        CObject* o = Object_Data(0);
        ASSERT_NE(o, nullptr);
        EXPECT_STREQ(o->name, "obj_phys");
        EXPECT_EQ(o->spriteIndex, 2);
        EXPECT_EQ(o->depth, -5);
        EXPECT_EQ(o->maskIndex, 4);
        EXPECT_EQ(o->parentIndex, -100);
        EXPECT_EQ(o->parent, nullptr);
        EXPECT_EQ(o->flags, OBJECT_FLAG_VISIBLE | OBJECT_FLAG_PERSISTENT | OBJECT_FLAG_COLLISIONS);
        EXPECT_EQ(o->usesPhysics, row.physics);
        EXPECT_EQ(o->sensor, row.physics);
        EXPECT_EQ(o->shapeKind, row.physics ? OBJECT_SHAPE_POLYGON : OBJECT_SHAPE_CIRCLE);
        EXPECT_EQ(o->collisionGroup, row.physics ? -3 : 0);
        EXPECT_FLOAT_EQ(o->density, row.physics ? 0.75f : 0.0f);
        EXPECT_FLOAT_EQ(o->restitution, row.physics ? 0.25f : 0.0f);
        EXPECT_FLOAT_EQ(o->linearDamping, row.physics ? 0.5f : 0.0f);
        EXPECT_FLOAT_EQ(o->angularDamping, row.physics ? 1.5f : 0.0f);
        EXPECT_FLOAT_EQ(o->friction, row.late ? 0.625f : 0.2f);
        EXPECT_EQ(o->awake, !row.late);
        EXPECT_EQ(o->kinematic, row.late);
        ASSERT_EQ(o->shapePointCount, row.physics ? 3 : 0);
        if (row.physics) {
            EXPECT_FLOAT_EQ(o->shapePoints[1].x, 3.5f);
            EXPECT_FLOAT_EQ(o->shapePoints[1].y, -4.0f);
            EXPECT_FLOAT_EQ(o->shapePoints[2].y, 7.25f);
        }
        // The event tables follow the block wherever it ends.
        EXPECT_EQ(CodeName(o->GetEvent(EVENT_CREATE, 0)), "ksl_Object_a");
        EXPECT_STREQ(Object_Data(2)->name, "obj_nosprite");
        Object_FreeAll();
        UnloadGameData();
    }
}

TEST_F(ObjectLoad, SpriteWordBit31IsAMarkerUnlessBits28To30AreSet)
{
    ASSERT_TRUE(LoadCase("objects_v9"));
    EXPECT_EQ(Object_Data(1)->spriteIndex, 3);  // 0x80000003
    EXPECT_EQ(Object_Data(1)->flags, OBJECT_FLAG_SOLID | OBJECT_FLAG_COLLISIONS);
    EXPECT_EQ(g_ObjectSpriteMarker, 0x80000000u);
    EXPECT_EQ(Object_Data(2)->spriteIndex, -1);  // 0xFFFFFFFF

    // A data set whose sprite words are all 0xFFFFFFFF leaves the marker alone.
    Object_FreeAll();
    UnloadGameData();
    g_ObjectSpriteMarker = 0;
    ASSERT_TRUE(LoadCase("objects_tree"));
    EXPECT_EQ(Object_Data(0)->spriteIndex, -1);
    EXPECT_EQ(g_ObjectSpriteMarker, 0u);
}

// ---- Event tables and the handler search ----

TEST_F(ObjectEvents, OwnTableLookupsAndInheritedSearch)
{
    ASSERT_TRUE(LoadCase("objects_tree"));
    struct Row {
        int32_t object, type, number;
        const char* own;    // GetEvent: the code bound in the object's own table ("" none)
        const char* found;  // FindEvent
        int32_t foundIn;    // the object FindEvent names
    };
    const Row rows[] = {
        {4, EVENT_STEP, 0, "ksl_Object_a", "ksl_Object_a", 4},
        {4, EVENT_STEP, 1, "", "", 4},  // an event without code counts as absent
        {4, EVENT_STEP, 2, "ksl_Object_b", "ksl_Object_b", 4},
        {4, EVENT_STEP, 5, "", "", 4},  // past the table
        {3, EVENT_STEP, 0, "", "ksl_Object_a", 0},  // grandchild inherits from its grandparent
        {3, EVENT_CREATE, 0, "ksl_Object_c", "ksl_Object_c", 3},
        {1, EVENT_ALARM, 1, "", "ksl_Object_b", 0},
        {0, EVENT_KEYBOARD, 186, "ksl_Object_c", "ksl_Object_c", 0},
        {5, EVENT_COLLISION, 6, "ksl_Object_a", "ksl_Object_a", 5},
        {5, EVENT_COLLISION, 7, "", "ksl_Object_a", 5},   // 7's parent is 6
        {7, EVENT_COLLISION, 5, "", "ksl_Object_b", 6},   // inherited from the parent
        {8, EVENT_COLLISION, 7, "", "ksl_Object_c", 8},
        {5, EVENT_COLLISION, 8, "", "", 5},
        {5, EVENT_COLLISION, 2, "", "", 5},               // the gap
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.object << " (" << row.type << ", " << row.number << ")");
        CObject* o = Object_Data(row.object);
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(CodeName(o->GetEvent(row.type, row.number)), row.own);
        int32_t found = -7;
        CEvent* event = o->FindEvent(row.type, row.number, &found);
        EXPECT_EQ(CodeName(event), row.found);
        EXPECT_EQ(found, row.foundIn);
        if (row.type != EVENT_COLLISION) {
            EXPECT_EQ(o->HasEvent(row.type, row.number), *row.found != '\0');
        }
    }
    EXPECT_TRUE(g_ErrorLastText == nullptr || std::string(Error_LastText()).empty());
}

TEST_F(ObjectEvents, BadLookupArgumentsAreReportedAndFindNothing)
{
    ASSERT_TRUE(LoadCase("objects_tree"));
    const std::pair<int32_t, int32_t> rows[] = {{12, 0}, {3, -1}, {-1, 0}};
    for (auto [type, number] : rows) {
        SCOPED_TRACE(testing::Message() << "(" << type << ", " << number << ")");
        Error_ResetState();
        wadtest::g_exitCalls = 0;
        EXPECT_EQ(Object_Data(0)->GetEvent(type, number), nullptr);
        EXPECT_NE(std::string(Error_LastText()).find("Invalid event argument"), std::string::npos);
        EXPECT_EQ(wadtest::g_exitCalls, 1);
        EXPECT_EQ(wadtest::g_exitStatus, 1);
    }
    ProcessMessages();  // takes the quit the fatal reports posted, which would end a later test's main loop
}

TEST_F(ObjectEvents, RepeatedEventNumberBindsTheSameEventAgain)
{
    ASSERT_TRUE(LoadCase("objects_duplicates"));
    CObject* o = Object_Data(2);
    EXPECT_EQ(o->events[EVENT_STEP].count, 1);
    EXPECT_EQ(CodeName(o->GetEvent(EVENT_STEP, 0)), "ksl_Object_b");
}

TEST_F(ObjectEvents, PrepareLogsEveryObjectInIndexOrderAndSetsTheEventGlobals)
{
    ASSERT_TRUE(LoadCase("objects_tree"));
    debug_.text.clear();
    event_type = event_number = -5;
    ASSERT_TRUE(Object_Prepare());
    EXPECT_EQ(debug_.text,
              "Preparing 9 objects:\n\tObjects 0: obj_grand\n\tObjects 1: obj_parent\n\tObjects 3: obj_child\n"
              "\tObjects 4: obj_sparse\n\tObjects 5: obj_a\n\tObjects 6: obj_b\n\tObjects 7: obj_c\n"
              "\tObjects 8: obj_hitsparent\n");
    // The last handler prepared was obj_hitsparent's collision with 6.
    EXPECT_EQ(event_type, EVENT_COLLISION);
    EXPECT_EQ(event_number, 6);
}

// ---- Instance lists ----

TEST_F(ObjectEvents, GrandchildInstanceIsInEveryAncestorsDescendantList)
{
    ASSERT_TRUE(LoadCase("objects_tree"));
    CObject* grand = Object_Data(0);
    CObject* parent = Object_Data(1);
    CObject* child = Object_Data(3);
    CInstance* a = ObjectTestInstance(0);
    CInstance* b = ObjectTestInstance(1);
    child->AddInstance(a);
    parent->AddInstance(b);
    using V = std::vector<CInstance*>;
    EXPECT_EQ(ObjectTestMembers(child->instances), V{a});
    EXPECT_EQ(ObjectTestMembers(child->instancesRecursive), V{a});
    EXPECT_EQ(ObjectTestMembers(parent->instances), V{b});
    EXPECT_EQ(ObjectTestMembers(parent->instancesRecursive), (V{a, b}));
    EXPECT_EQ(ObjectTestMembers(grand->instances), V{});
    EXPECT_EQ(ObjectTestMembers(grand->instancesRecursive), (V{a, b}));

    child->RemoveInstance(a);
    EXPECT_EQ(child->instances.count, 0);
    EXPECT_EQ(child->instancesRecursive.count, 0);
    EXPECT_EQ(ObjectTestMembers(parent->instancesRecursive), V{b});
    EXPECT_EQ(ObjectTestMembers(grand->instancesRecursive), V{b});
    EXPECT_EQ(grand->instancesRecursive.tail->value, b);
    Object_ClearAllInstanceLists();
    EXPECT_EQ(grand->instancesRecursive.head, nullptr);
    EXPECT_EQ(parent->instances.count, 0);
}

TEST_F(ObjectEvents, NewParentTakesOverTheDescendantInstances)
{
    ASSERT_TRUE(LoadCase("objects_tree"));
    CObject* grand = Object_Data(0);
    CObject* parent = Object_Data(1);
    CObject* child = Object_Data(3);
    CObject* other = Object_Data(4);
    CInstance* a = ObjectTestInstance(4);
    CInstance* b = ObjectTestInstance(5);
    child->AddInstance(a);
    parent->AddInstance(b);
    using V = std::vector<CInstance*>;
    // 1 moves below 4: its own instance and its child's go with it.
    parent->SetParent(4);
    EXPECT_EQ(parent->parent, other);
    EXPECT_EQ(ObjectTestMembers(grand->instancesRecursive), V{});
    EXPECT_EQ(ObjectTestMembers(other->instancesRecursive), (V{a, b}));
    EXPECT_EQ(ObjectTestMembers(parent->instancesRecursive), (V{a, b}));
    // No parent: only the object's own lists keep them.
    parent->SetParent(-1);
    EXPECT_EQ(other->instancesRecursive.count, 0);
    child->RemoveInstance(a);
    parent->RemoveInstance(b);
    for (CObject* o : {grand, parent, child, other}) EXPECT_EQ(o->instancesRecursive.count, 0) << o->name;
}

// ---- The table ----

TEST_F(ObjectMap, GapsNamesAndAddedObjects)
{
    ASSERT_TRUE(LoadCase("objects_tree"));
    EXPECT_EQ(Object_Count(), 9);
    struct Row {
        int32_t index;
        bool exists;
        const char* name;
    };
    const Row rows[] = {{0, true, "obj_grand"}, {2, false, "<undefined>"}, {8, true, "obj_hitsparent"},
                        {9, false, "<undefined>"}, {-1, false, "<undefined>"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.index);
        EXPECT_EQ(Object_Exists(row.index), row.exists);
        EXPECT_EQ(Object_Data(row.index) != nullptr, row.exists);
        EXPECT_EQ(Hash_FindObject(row.index), Object_Data(row.index));
        EXPECT_STREQ(Object_GetName(row.index), row.name);
    }
    EXPECT_EQ(Object_Find("obj_child"), 3);
    EXPECT_EQ(Object_Find("obj_chil"), -1);
    EXPECT_EQ(Object_Find(""), -1);
    EXPECT_EQ(Object_GetParent(3), 1);
    EXPECT_TRUE(Object_Data(3)->IsChildOf(0));
    EXPECT_FALSE(Object_Data(3)->IsChildOf(3));
    EXPECT_FALSE(Object_Data(0)->IsChildOf(3));

    EXPECT_EQ(Object_Add(), 9);
    EXPECT_EQ(Object_Add(), 10);
    EXPECT_STREQ(Object_GetName(9), "__newobject9");
    EXPECT_EQ(Object_Find("__newobject10"), 10);
    CObject* added = Object_Data(9);
    EXPECT_EQ(added->flags, OBJECT_FLAGS_INITIAL);
    EXPECT_EQ(added->spriteIndex, -1);
    EXPECT_EQ(added->parentIndex, -1);
    EXPECT_FLOAT_EQ(added->friction, 0.2f);
    EXPECT_TRUE(added->awake);
}

TEST_F(ObjectMap, FindGivesTheLowestIndexOfAName)
{
    ASSERT_TRUE(LoadCase("objects_duplicates"));
    EXPECT_EQ(Object_Find("obj_same"), 0);
    Object_Delete(0);
    EXPECT_EQ(Object_Find("obj_same"), 1);
    RValue found;
    RValue_SetUndefined(&found);
    EXPECT_TRUE(Code_Constant_AssetFind("obj_same", &found));
    EXPECT_EQ(RValue_ToReal(&found), 1.0);
    RValue_Free(&found);
}

TEST_F(ObjectMap, ParentLinksThatCloseACycleAreCut)
{
    ASSERT_TRUE(LoadCase("objects_cycles"));
    struct Row {
        int32_t index;
        int32_t parentIndex;
        int32_t parent;  // the resolved link, -1 for none
    };
    const Row rows[] = {{0, -1, -1}, {1, 0, 0}, {2, -1, -1}, {3, 0, 0}, {4, 40, -1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.index);
        CObject* o = Object_Data(row.index);
        EXPECT_EQ(o->parentIndex, row.parentIndex);
        EXPECT_EQ(o->parent, row.parent < 0 ? nullptr : Object_Data(row.parent));
    }
    // One line per cut link, naming the object.
    EXPECT_NE(debug_.text.find("Object obj_loop0: parent 1 closes a cycle"), std::string::npos) << debug_.text;
    EXPECT_NE(debug_.text.find("Object obj_self: parent 2 closes a cycle"), std::string::npos);
    EXPECT_EQ(debug_.text.find("obj_loop1: parent"), std::string::npos);
    // Every walk ends.
    EXPECT_FALSE(Object_Data(3)->IsChildOf(7));
    EXPECT_EQ(Object_Data(4)->FindEvent(EVENT_STEP, 0), nullptr);
    ObjectLists_Build();
    EXPECT_TRUE(ObjectTestList(EVENT_STEP, 0).empty());
}

TEST_F(ObjectMap, DeleteUnlistsTheObjectAndKeepsItsRecordForLiveInstances)
{
    ASSERT_TRUE(LoadCase("objects_tree"));
    ObjectLists_Build();
    CObject* deleted = Object_Data(6);  // obj_b, parent of obj_c (7)
    CObject* child = Object_Data(7);
    CInstance* ofDeleted = ObjectTestInstance(2);
    CInstance* ofChild = ObjectTestInstance(3);
    deleted->AddInstance(ofDeleted);
    child->AddInstance(ofChild);

    EXPECT_TRUE(Object_Delete(6));
    EXPECT_FALSE(Object_Exists(6));
    EXPECT_EQ(Object_Data(6), nullptr);
    EXPECT_EQ(Object_Find("obj_b"), -1);
    EXPECT_STREQ(Object_GetName(6), "<undefined>");
    EXPECT_EQ(Object_Count(), 9);
    // Gone from every list and pair at once, before any rebuild.
    const std::vector<int32_t> created = ObjectTestList(EVENT_CREATE, 0);
    EXPECT_EQ(std::find(created.begin(), created.end(), 6), created.end());
    for (auto [a, b] : ObjectTestPairs()) EXPECT_TRUE(a != 6 && b != 6) << a << " " << b;
    // The child no longer hangs below it; its instance left the deleted object's list.
    EXPECT_EQ(child->parent, nullptr);
    EXPECT_FALSE(deleted->instancesRecursive.Contains(ofChild));
    EXPECT_FALSE(child->IsChildOf(6));
    // The instance of the deleted object can still leave its lists through the kept record.
    EXPECT_TRUE(deleted->instances.Contains(ofDeleted));
    deleted->RemoveInstance(ofDeleted);
    EXPECT_EQ(deleted->instancesRecursive.count, 0);
    child->RemoveInstance(ofChild);
    EXPECT_EQ(child->instancesRecursive.count, 0);
    // A rebuild does not bring it back; deleting again still answers true.
    ObjectLists_Build();
    for (auto [a, b] : ObjectTestPairs()) EXPECT_TRUE(a != 6 && b != 6) << a << " " << b;
    EXPECT_TRUE(Object_Delete(6));
}

// ---- Per-event lists and collision pairs ----

TEST_F(ObjectLists, ListsHoldObjectsWithOwnOrInheritedHandlersInAscendingOrder)
{
    ASSERT_TRUE(LoadCase("objects_tree"));
    ObjectLists_Build();
    using V = std::vector<int32_t>;
    struct Row {
        int32_t type, number;
        V objects;
    };
    const Row rows[] = {
        {EVENT_CREATE, 0, {0, 1, 3, 4, 5, 6, 7, 8}},  // every object, handler or not
        {EVENT_DESTROY, 0, {0, 1, 3, 4, 5, 6, 7, 8}},
        {EVENT_STEP, 0, {0, 1, 3, 4}},                // 1 and 3 through their parents
        {EVENT_STEP, 1, {}},                          // an event without code
        {EVENT_STEP, 2, {4}},
        {EVENT_ALARM, 1, {0, 1, 3}},
        {EVENT_KEYBOARD, 128, {0, 1, 3}},
        {EVENT_KEYBOARD, 186, {}},                    // keyboard lists stop at 128
        {EVENT_COLLISION, 6, {}},                     // collisions go through the pairs
        {EVENT_DRAW, 0, {}},
        {11, 0, {}},
        {EVENT_STEP, 256, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "(" << row.type << ", " << row.number << ")");
        EXPECT_EQ(ObjectTestList(row.type, row.number), row.objects);
    }
}

TEST_F(ObjectLists, CollisionEventsGiveOnePairPerObjectPairAndMarkBoth)
{
    ASSERT_TRUE(LoadCase("objects_tree"));
    for (bool markOnly : {false, true}) {
        SCOPED_TRACE(markOnly ? "collision mode on" : "collision mode off");
        for (int32_t i = 0; i < Object_Count(); ++i)
            if (CObject* o = Object_Data(i)) o->flags &= ~OBJECT_FLAG_COLLIDES;
        g_GameOptions.collisionMode = markOnly;
        ObjectLists_Build();
        using P = std::vector<std::pair<int32_t, int32_t>>;
        // 5 and 6 name each other: one pair. 7 inherits 6's handler, and 5's and 8's handlers for 6 answer
        // its child 7.
        EXPECT_EQ(ObjectTestPairs(), markOnly ? P{} : (P{{5, 6}, {5, 7}, {8, 6}, {8, 7}}));
        for (int32_t i = 0; i < Object_Count(); ++i)
            if (CObject* o = Object_Data(i)) {
                EXPECT_EQ((o->flags & OBJECT_FLAG_COLLIDES) != 0, i >= 5) << "object " << i;
            }
    }
}

TEST_F(ObjectLists, AddedObjectsAppearAfterTheNextBuild)
{
    ASSERT_TRUE(LoadCase("objects_tree"));
    ObjectLists_Build();
    const int32_t added = Object_Add();
    EXPECT_EQ(ObjectTestList(EVENT_CREATE, 0).size(), 8u);
    Object_Data(added)->SetParent(0);
    ObjectLists_Build();
    EXPECT_EQ(ObjectTestList(EVENT_CREATE, 0).back(), added);
    EXPECT_EQ(ObjectTestList(EVENT_STEP, 0).back(), added);
    ObjectLists_Free();
    EXPECT_TRUE(ObjectTestList(EVENT_CREATE, 0).empty());
    EXPECT_EQ(CollisionPairs_Count(), 0);
}

// ---- Damaged data ----

TEST_F(ObjectLoad, DamagedEntriesFailThePassNamingChunkAndEntry)
{
    struct Row {
        const char* name;
        const char* damage;  // part of the recorded "<tag> at offset <n>: <what>"
    };
    const Row rows[] = {
        {"bad_event_types", "object 0: more than 12 event types"},
        {"bad_event_number", "object 0: event number out of range"},
        {"bad_event_negative", "object 0: event number out of range"},
        {"bad_collision_number", "object 0: event number out of range"},
        {"bad_code_index", "object 0: code index beyond the code entries"},
        {"bad_entry_offset", "outside the data"},
        {"bad_action_record", "object 0: action record outside the data"},
        {"bad_shape_points", "object 0: shape points run past the entry"},
        {"bad_shape_points_near", "object 0: shape points run past the entry"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        debug_.text.clear();
        EXPECT_FALSE(LoadCase(row.name));
        EXPECT_TRUE(g_GameData.damaged);
        const std::string damage = g_GameData.damage;
        EXPECT_EQ(damage.rfind("OBJT at offset ", 0), 0u) << damage;
        EXPECT_NE(damage.find(row.damage), std::string::npos) << damage;
        EXPECT_NE(debug_.text.find("Game data is damaged: OBJT at offset"), std::string::npos);
        Object_FreeAll();
        UnloadGameData();
    }
}

}  // namespace
