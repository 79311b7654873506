// Variables by id: the built-in registry, access to one instance and by target in a fake room, globals,
// the scope chain, the globals' save block and the sparse-slot enumeration.
#include "core/variables.h"

#include "core/console.h"
#include "core/functions.h"
#include "core/error.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/value.h"
#include "core/varlist.h"
#include "core/varnames.h"
#include "ds/buffer.h"
#include "platform/hooks.h"
#include "world/loader.h"
#include "world/object_base.h"

#include "fake_world.h"
#include "py_oracle.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

int g_variablesExits = 0;
std::vector<std::string> g_variablesBoxes;

int VariablesTest_Box(const MessageBoxRequest& request)
{
    g_variablesBoxes.emplace_back(request.text ? request.text : "<null>");
    return MB_ANSWER_OK;
}

void VariablesTest_Exit(int)
{
    ++g_variablesExits;
    kvtest::ForgetErrorAbort();
}

// What the test getters and setters were called with.
struct VariablesCall {
    CInstance* self = nullptr;
    int32_t index = 0;
    int32_t calls = 0;
};
VariablesCall g_variablesGet, g_variablesSet;

bool VariablesTest_Getter(CInstance* self, int32_t index, RValue* out)
{
    g_variablesGet = {self, index, g_variablesGet.calls + 1};
    RValue_Free(out);
    RValue_SetReal(out, 42.0);
    return true;
}

bool VariablesTest_Setter(CInstance* self, int32_t index, RValue*)
{
    g_variablesSet = {self, index, g_variablesSet.calls + 1};
    return true;
}

void VariablesTest_Function(RValue*, CInstance*, CInstance*, int32_t, RValue*) {}

RValue VariablesTest_Real(double d)
{
    RValue v;
    RValue_SetReal(&v, d);
    return v;
}

RValue VariablesTest_Unset()
{
    RValue v;
    v.v64 = 0;
    v.flags = 0;
    v.kind = VALUE_UNSET;
    return v;
}

// Writes a real into slot n as a game would have left it.
void VariablesTest_PutReal(QZObjectBase* o, int32_t n, double d, uint32_t flags = 0)
{
    RValue* slot = ObjectBase_GetSlot(o, n);
    RValue_Free(slot);
    RValue_SetReal(slot, d);
    slot->flags = flags;
}

void VariablesTest_PutNamed(QZObjectBase* o, const char* name, double d, uint32_t flags)
{
    VariableNode* node = CVariableList::NewNamedNode(name);
    RValue_SetReal(&node->value, d);
    node->value.flags = flags;
    o->named->Add(node);
}

// A real's value, or NaN marks for "unset" (-1) and any other kind (-2), so one EXPECT shows all.
double VariablesTest_Seen(const RValue& v)
{
    if (RValue_Kind(&v) == VALUE_REAL) return v.real;
    return RValue_Kind(&v) == VALUE_UNSET ? -1000.0 : -2000.0;
}
constexpr double kUnsetSeen = -1000.0;

// The registry, names, globals and scope head belong to the test while it runs; every block it made is
// given back before the totals are compared.
class VariablesTest : public testing::Test {
protected:
    void SetUp() override
    {
        savedGlobal_ = g_GlobalObject;
        g_GlobalObject = nullptr;
        savedHead_ = g_ScopeHead;
        g_ScopeHead = nullptr;
        savedModel_ = g_GameData.scriptObjectModel;
        savedNewFormat_ = g_GameData.newCodeFormat;
        g_GameData.scriptObjectModel = false;
        g_GameData.newCodeFormat = true;
        oldResolver_ = Code_Variable_SetResolver(nullptr);
        Code_Variable_Free();
        Variable_BuiltIn_Free();
        Function_Free();
        Variable_NoInstance = false;
        g_variablesExits = 0;
        g_variablesBoxes.clear();
        g_variablesGet = {};
        g_variablesSet = {};
        oldExit_ = Platform_SetExitHook(VariablesTest_Exit);
        oldBox_ = Platform_SetMessageBoxHook(VariablesTest_Box);
        oldRelease_ = ReleaseConsole;
        ReleaseConsole = &console_;
        ObjectBasePool_Clear();
        VariableNode_FreePool();
        RValuePool_Release();
        before_ = MemoryManager_Probe();
    }
    void TearDown() override
    {
        SeamTrace_Enable(false);
        SeamTrace_Clear();
        for (QZObjectBase* o : made_) ObjectBase_Free(o);
        g_GlobalObject = savedGlobal_;
        g_ScopeHead = savedHead_;
        Code_Variable_Free();
        Variable_BuiltIn_Free();
        Function_Free();
        ObjectBasePool_Clear();
        VariableNode_FreePool();
        EXPECT_TRUE(RValuePool_Release());
        Error_ResetState();  // the reporter keeps the last error text
        MemoryProbe after = MemoryManager_Probe();
        EXPECT_EQ(after.liveBlocks, before_.liveBlocks) << "blocks left behind";
        EXPECT_EQ(after.heapBytesInUse, before_.heapBytesInUse);
        ReleaseConsole = oldRelease_;
        Platform_SetMessageBoxHook(oldBox_);
        Platform_SetExitHook(oldExit_);
        Code_Variable_SetResolver(oldResolver_);
        g_GameData.scriptObjectModel = savedModel_;
        g_GameData.newCodeFormat = savedNewFormat_;
        Variable_NoInstance = false;
    }

    // A plain script object freed by the fixture: a slot array of slotCount, or sparse slots.
    QZObjectBase* MakeObject(int32_t slotCount, bool slotArray, bool namedList)
    {
        QZObjectBase* o = ObjectBase_Alloc(slotCount, static_cast<int32_t>(VALUE_UNSET), slotArray);
        if (namedList && !o->named) o->named = new CVariableList();
        if (!namedList && o->named) {
            delete o->named;
            o->named = nullptr;
        }
        made_.push_back(o);
        return o;
    }
    QZObjectBase* MakeGlobal(int32_t slotCount, bool namedList = false)
    {
        g_GlobalObject = MakeObject(slotCount, true, namedList);
        return g_GlobalObject;
    }
    // The runtime error printed since the last call ("" when none).
    std::string TakeError()
    {
        std::string text = kvtest::ReportedMessages(console_.text);
        console_.text.clear();
        return text;
    }

    std::vector<QZObjectBase*> made_;

private:
    kvtest::RecordingConsole console_;
    tagIConsole* oldRelease_ = nullptr;
    QZObjectBase* savedGlobal_ = nullptr;
    QZObjectBase* savedHead_ = nullptr;
    bool savedModel_ = false;
    bool savedNewFormat_ = false;
    ExitHook oldExit_ = nullptr;
    MessageBoxHook oldBox_ = nullptr;
    const CodeVariableResolver* oldResolver_ = nullptr;
    MemoryProbe before_{};
};

// ---- The built-in registry ----

using VariablesRegistry = VariablesTest;

TEST_F(VariablesRegistry, TheFiveHundredAndFirstShowsTheInternalErrorAndKeepsFiveHundred)
{
    for (int i = 0; i < 500; ++i) {
        std::string name = "v" + std::to_string(i);
        Variable_BuiltIn_Add(name.c_str(), VariablesTest_Getter, i % 2 ? VariablesTest_Setter : nullptr);
    }
    EXPECT_TRUE(g_variablesBoxes.empty());
    Variable_BuiltIn_Add("v500", VariablesTest_Getter, VariablesTest_Setter);
    ASSERT_EQ(g_variablesBoxes.size(), 1u);
    EXPECT_EQ(g_variablesBoxes[0], "INTERNAL ERROR: Adding too many variables");
    EXPECT_EQ(Variable_BuiltIn_Count(), 500);
    EXPECT_EQ(Variable_BuiltIn_Find("v500"), -1);
    EXPECT_EQ(Variable_BuiltIn_Find("v499"), 499);
    EXPECT_STREQ(Variable_BuiltIn_Name(499), "v499");
    for (int32_t outside : {500, -1, 9999})
        EXPECT_STREQ(Variable_BuiltIn_Name(outside), "<unknown built-in variable>") << outside;
    EXPECT_FALSE(Variable_BuiltIn_Entry(0)->canSet);
    EXPECT_TRUE(Variable_BuiltIn_Entry(1)->canSet);
    EXPECT_EQ(Variable_BuiltIn_Entry(500), nullptr);
}

TEST_F(VariablesRegistry, FindTakesTheFirstExactNameAndFreeEmptiesTheTable)
{
    Variable_BuiltIn_Add("x", VariablesTest_Getter, nullptr);
    Variable_BuiltIn_Add("y", VariablesTest_Getter, nullptr);
    Variable_BuiltIn_Add("x", VariablesTest_Getter, VariablesTest_Setter);
    EXPECT_EQ(Variable_BuiltIn_Find("x"), 0);
    EXPECT_EQ(Variable_BuiltIn_Find("y"), 1);
    EXPECT_EQ(Variable_BuiltIn_Find("X"), -1);
    EXPECT_EQ(Variable_BuiltIn_Find(nullptr), -1);
    // The variable names resolve a built-in's name to its index, never to a slot id.
    EXPECT_EQ(Code_Variable_FindAlloc("y"), 1);
    Variable_InitFlags();
    Variable_BuiltIn_Free();
    EXPECT_EQ(Variable_BuiltIn_Count(), 0);
    EXPECT_EQ(Variable_BuiltIn_Find("x"), -1);
    EXPECT_EQ(Variable_FlagCount(), 0) << "the flag array goes with the table";
    Variable_BuiltIn_Add("z", VariablesTest_Getter, nullptr);
    EXPECT_EQ(Variable_BuiltIn_Find("z"), 0);
}

// ---- One instance ----

using VariablesDirect = VariablesTest;

TEST_F(VariablesDirect, BuiltInIdsCallTheEntryAndUnregisteredIdsAnswerFalse)
{
    kvtest::FakeWorld world;
    CInstance* self = world.AddInstance(100001, 0);
    Variable_BuiltIn_Add("speed", VariablesTest_Getter, VariablesTest_Setter);
    Variable_BuiltIn_Add("id", VariablesTest_Getter, nullptr);
    struct Row {
        int32_t id;
        bool read;     // the getter answers
        bool written;  // the setter answers
    };
    const Row rows[] = {
        {0, true, true},
        {1, true, false},  // read-only
        {2, false, false},  // the registered count
        {499, false, false},
        {9999, false, false},
        {10000, false, false},  // between built-ins and slots
        {99999, false, false},
        {-1, false, false},
    };
    for (const Row& r : rows) {
        g_variablesGet = {};
        g_variablesSet = {};
        RValue out = VariablesTest_Unset();
        EXPECT_EQ(Variable_GetValue_Direct(self, r.id, 7, &out), r.read) << r.id;
        EXPECT_EQ(VariablesTest_Seen(out), r.read ? 42.0 : kUnsetSeen) << r.id;
        EXPECT_EQ(g_variablesGet.calls, r.read ? 1 : 0) << r.id;
        if (r.read) {
            EXPECT_EQ(g_variablesGet.self, self);
            EXPECT_EQ(g_variablesGet.index, 7);
        }
        RValue value = VariablesTest_Real(5);
        EXPECT_EQ(Variable_SetValue_Direct(self, r.id, ARRAY_INDEX_NONE, &value), r.written) << r.id;
        EXPECT_EQ(g_variablesSet.calls, r.written ? 1 : 0) << r.id;
        RValue_Free(&out);
    }
    // Nothing was written into the instance's slots by the refused ids.
    for (int32_t n = 0; n < 8; ++n)
        EXPECT_EQ(RValue_Kind(ObjectBase_GetSlot(world.Object(self), n)), VALUE_UNSET) << n;
}

TEST_F(VariablesDirect, SlotIdsUseTheSlotsOrTheNamedListAndNeverIndexPastTheSlotArray)
{
    struct Row {
        const char* holder;
        bool slotArray;
        bool namedList;
        int32_t id;
        bool answers;
    };
    const Row rows[] = {
        {"slot array", true, false, 100000, true},
        {"slot array", true, false, 100003, true},
        {"slot array", true, false, 100004, false},  // one past the array
        {"slot array", true, false, 2147483647, false},
        {"slot array with a named list", true, true, 100002, true},  // the slots win
        {"sparse slots", false, false, 100040, true},
        {"named list only", false, true, 100040, true},
    };
    for (const Row& r : rows) {
        kvtest::FakeWorld world;
        CInstance* self = world.MakeInstance(100001, 0, 4, r.slotArray, r.namedList);
        QZObjectBase* o = world.Object(self);
        RValue value = VariablesTest_Real(6.5);
        EXPECT_EQ(Variable_SetValue_Direct(self, r.id, ARRAY_INDEX_NONE, &value), r.answers) << r.holder << " " << r.id;
        RValue out = VariablesTest_Unset();
        EXPECT_EQ(Variable_GetValue_Direct(self, r.id, ARRAY_INDEX_NONE, &out), r.answers) << r.holder << " " << r.id;
        EXPECT_EQ(VariablesTest_Seen(out), r.answers ? 6.5 : kUnsetSeen) << r.holder << " " << r.id;
        if (!r.answers) {
            EXPECT_EQ(o->sparse, nullptr) << "a refused id made a sparse cell";
        }
        if (!r.slotArray && r.namedList) {
            EXPECT_TRUE(o->named->Exists(r.id)) << "kept in the list by id";
            EXPECT_EQ(o->sparse, nullptr);
        }
        if (r.slotArray && r.namedList) {
            EXPECT_EQ(o->named->Count(), 0);
        }
    }
}

TEST_F(VariablesDirect, AMissingVariableOfANamedListReadsZero)
{
    kvtest::FakeWorld world;
    CInstance* self = world.MakeInstance(100001, 0, 0, false, true);
    RValue out = VariablesTest_Unset();
    Variable_NoInstance = true;
    EXPECT_TRUE(Variable_GetValue_Direct(self, 100007, ARRAY_INDEX_NONE, &out));
    EXPECT_EQ(VariablesTest_Seen(out), 0.0);
    EXPECT_FALSE(Variable_NoInstance);
}

// ---- By target ----

class VariablesByTarget : public VariablesTest {
protected:
    // Objects 3 <- 4 <- 5 (each the parent of the next) and an unrelated 6.
    static void AddObjects(kvtest::FakeWorld& world)
    {
        world.AddObject(3, "obj_base");
        world.AddObject(4, "obj_child", 3);
        world.AddObject(5, "obj_grandchild", 4);
        world.AddObject(6, "obj_other");
    }
};

TEST_F(VariablesByTarget, AllInstancesReadTheFirstLiveInstanceOfTheRoom)
{
    kvtest::FakeWorld world;
    AddObjects(world);
    CInstance* marked = world.AddInstance(100001, 3);
    CInstance* asleep = world.AddInstance(100002, 3);
    CInstance* first = world.AddInstance(100003, 6);
    CInstance* second = world.AddInstance(100004, 3);
    world.Get(marked).marked = true;
    world.Get(asleep).deactivated = true;
    double n = 1;
    for (CInstance* i : {marked, asleep, first, second}) VariablesTest_PutReal(world.Object(i), 0, n++);

    RValue out = VariablesTest_Unset();
    Variable_NoInstance = true;
    EXPECT_TRUE(Variable_GetValue(VARIABLE_TARGET_ALL, 100000, ARRAY_INDEX_NONE, &out));
    EXPECT_EQ(VariablesTest_Seen(out), 3.0);
    EXPECT_FALSE(Variable_NoInstance);
    out = VariablesTest_Unset();
    EXPECT_TRUE(Variable_GetSlot(VARIABLE_TARGET_ALL, 0, ARRAY_INDEX_NONE, &out));
    EXPECT_EQ(VariablesTest_Seen(out), 3.0);

    // A room whose instances are all gone reads nothing.
    world.Get(first).marked = true;
    world.Get(second).deactivated = true;
    out = VariablesTest_Unset();
    EXPECT_FALSE(Variable_GetValue(VARIABLE_TARGET_ALL, 100000, ARRAY_INDEX_NONE, &out));
    EXPECT_TRUE(Variable_NoInstance);
    EXPECT_EQ(VariablesTest_Seen(out), kUnsetSeen);
    Variable_NoInstance = false;
    EXPECT_FALSE(Variable_GetSlot(VARIABLE_TARGET_ALL, 0, ARRAY_INDEX_NONE, &out));
    EXPECT_FALSE(Variable_NoInstance);
}

TEST_F(VariablesByTarget, AnObjectReadsItsInstancesAndDescendantsThenThePendingLists)
{
    enum Where { ROOM, CHANGE, ACTIVATION };
    struct Inst {
        Where where;
        int32_t object;
        bool marked;
        bool deactivated;
    };
    struct Row {
        const char* what;
        std::vector<Inst> instances;  // instance k holds k + 1 in slot 0
        double byObject;              // Variable_GetValue(3, ...): the value, or kUnsetSeen for none
        double bySlot;                // Variable_GetSlot_Object(3, ...)
    };
    const Row rows[] = {
        {"a child in the room", {{ROOM, 6, false, false}, {ROOM, 4, false, false}}, 2, 2},
        {"room order decides", {{ROOM, 5, false, false}, {ROOM, 3, false, false}}, 1, 1},
        {"the only instance is marked", {{ROOM, 3, true, false}}, kUnsetSeen, kUnsetSeen},
        {"a deactivated one is skipped", {{ROOM, 3, false, true}, {ROOM, 3, false, false}}, 2, 2},
        {"a grandchild waiting for its change", {{ROOM, 3, true, false}, {CHANGE, 5, false, false}}, 2, kUnsetSeen},
        {"the object itself waiting", {{CHANGE, 6, false, false}, {CHANGE, 3, false, false}}, 2, 2},
        {"the change list before activation", {{ACTIVATION, 3, false, false}, {CHANGE, 3, false, false}}, 2, 2},
        {"a dead pending one is skipped", {{CHANGE, 3, true, false}, {ACTIVATION, 4, false, false}}, 2, kUnsetSeen},
        {"only another object", {{ROOM, 6, false, false}, {ACTIVATION, 6, false, false}}, kUnsetSeen, kUnsetSeen},
        {"nothing at all", {}, kUnsetSeen, kUnsetSeen},
    };
    for (const Row& r : rows) {
        kvtest::FakeWorld world;
        AddObjects(world);
        for (size_t k = 0; k < r.instances.size(); ++k) {
            const Inst& given = r.instances[k];
            CInstance* i = world.MakeInstance(100001 + int32_t(k), given.object);
            world.Get(i).marked = given.marked;
            world.Get(i).deactivated = given.deactivated;
            VariablesTest_PutReal(world.Object(i), 0, double(k + 1));
            (given.where == ROOM ? world.room : given.where == CHANGE ? world.pendingChange : world.pendingActivation)
                .push_back(i);
        }
        RValue out = VariablesTest_Unset();
        Variable_NoInstance = false;
        EXPECT_EQ(Variable_GetValue(3, 100000, ARRAY_INDEX_NONE, &out), r.byObject != kUnsetSeen) << r.what;
        EXPECT_EQ(VariablesTest_Seen(out), r.byObject) << r.what;
        EXPECT_EQ(Variable_NoInstance, r.byObject == kUnsetSeen) << r.what;

        out = VariablesTest_Unset();
        Variable_NoInstance = false;
        EXPECT_EQ(Variable_GetSlot_Object(3, 0, ARRAY_INDEX_NONE, &out), r.bySlot != kUnsetSeen) << r.what;
        EXPECT_EQ(VariablesTest_Seen(out), r.bySlot) << r.what;
        out = VariablesTest_Unset();
        EXPECT_EQ(Variable_GetSlot(3, 0, ARRAY_INDEX_NONE, &out), r.bySlot != kUnsetSeen) << r.what;
        EXPECT_FALSE(Variable_NoInstance) << r.what << ": the slot reads never set the flag";
    }
}

TEST_F(VariablesByTarget, AnInstanceIdReadsAnInstanceThatIsNotMarkedForDeletion)
{
    kvtest::FakeWorld world;
    AddObjects(world);
    CInstance* live = world.AddInstance(100001, 3);
    CInstance* marked = world.AddInstance(100002, 3);
    CInstance* asleep = world.MakeInstance(100003, 3);  // deactivated: out of the room, still known by id
    world.Get(marked).marked = true;
    world.Get(asleep).deactivated = true;
    VariablesTest_PutReal(world.Object(live), 1, 10);
    VariablesTest_PutReal(world.Object(marked), 1, 20);
    VariablesTest_PutReal(world.Object(asleep), 1, 30);
    struct Row {
        int32_t target;
        double seen;
    };
    const Row rows[] = {{100001, 10}, {100002, kUnsetSeen}, {100003, 30}, {100009, kUnsetSeen},
                        {-1, kUnsetSeen},  {-2, kUnsetSeen},  {-7, kUnsetSeen}};
    for (const Row& r : rows) {
        RValue out = VariablesTest_Unset();
        Variable_NoInstance = false;
        EXPECT_EQ(Variable_GetValue(r.target, 100001, ARRAY_INDEX_NONE, &out), r.seen != kUnsetSeen) << r.target;
        EXPECT_EQ(VariablesTest_Seen(out), r.seen) << r.target;
        EXPECT_EQ(Variable_NoInstance, r.seen == kUnsetSeen) << r.target;
        out = VariablesTest_Unset();
        Variable_NoInstance = false;
        EXPECT_EQ(Variable_GetSlot(r.target, 1, ARRAY_INDEX_NONE, &out), r.seen != kUnsetSeen) << r.target;
        EXPECT_EQ(VariablesTest_Seen(out), r.seen) << r.target;
        if (r.target >= 100000) {
            out = VariablesTest_Unset();
            EXPECT_EQ(Variable_GetSlot_Instance(r.target, 1, ARRAY_INDEX_NONE, &out), r.seen != kUnsetSeen);
        }
        EXPECT_FALSE(Variable_NoInstance) << r.target;
    }
    // A slot beyond the instance's slot array answers false and reads nothing.
    RValue out = VariablesTest_Unset();
    EXPECT_FALSE(Variable_GetSlot(100001, 8, ARRAY_INDEX_NONE, &out));
    EXPECT_FALSE(Variable_GetSlot(100001, -1, ARRAY_INDEX_NONE, &out));
    EXPECT_EQ(VariablesTest_Seen(out), kUnsetSeen);
}

TEST_F(VariablesByTarget, AWriteReachesEveryQualifyingInstance)
{
    struct Row {
        int32_t target;
        std::set<int32_t> written;  // instance ids whose slot 2 changes
    };
    const Row rows[] = {
        {VARIABLE_TARGET_ALL, {100001, 100002, 100004}},
        {3, {100001, 100002, 100004, 100006}},  // both live ones, the child, the grandchild waiting
        {4, {100004, 100006}},
        {6, {100005}},  // only in a pending list
        {100002, {100002}},
        {100007, {100007}},  // deactivated, but it exists and is not marked
    };
    for (const Row& r : rows) {
        kvtest::FakeWorld world;
        AddObjects(world);
        world.AddInstance(100001, 3);
        world.AddInstance(100002, 3);
        world.Get(world.AddInstance(100003, 3)).marked = true;
        world.AddInstance(100004, 4);
        world.pendingChange.push_back(world.MakeInstance(100005, 6));
        world.pendingActivation.push_back(world.MakeInstance(100006, 5));
        world.Get(world.MakeInstance(100007, 3)).deactivated = true;
        RValue value = VariablesTest_Real(77);
        EXPECT_TRUE(Variable_SetValue(r.target, 100002, ARRAY_INDEX_NONE, &value)) << r.target;
        for (int32_t id = 100001; id <= 100007; ++id) {
            RValue* slot = ObjectBase_GetSlot(world.Object(Hash_FindInstance(id)), 2);
            EXPECT_EQ(VariablesTest_Seen(*slot), r.written.count(id) ? 77.0 : kUnsetSeen)
                << "target " << r.target << ", instance " << id;
        }
        EXPECT_EQ(TakeError(), "") << r.target;
    }
}

TEST_F(VariablesByTarget, AWriteAnswersTheLastInstancesAnswer)
{
    kvtest::FakeWorld world;
    AddObjects(world);
    world.AddInstance(100001, 3);
    world.AddInstance(100002, 3);
    Variable_BuiltIn_Add("speed", VariablesTest_Getter, VariablesTest_Setter);
    Variable_BuiltIn_Add("id", VariablesTest_Getter, nullptr);
    RValue value = VariablesTest_Real(1);
    EXPECT_TRUE(Variable_SetValue(3, 0, ARRAY_INDEX_NONE, &value));
    EXPECT_EQ(g_variablesSet.calls, 2);
    EXPECT_FALSE(Variable_SetValue(3, 1, ARRAY_INDEX_NONE, &value)) << "read-only";
    EXPECT_FALSE(Variable_SetValue(3, 100008, ARRAY_INDEX_NONE, &value)) << "beyond the slot array";
    EXPECT_EQ(TakeError(), "") << "a refused write is not a missing instance";
    EXPECT_EQ(g_variablesExits, 0);
}

TEST_F(VariablesByTarget, AWriteWithNoInstanceRaisesTheError)
{
    struct Row {
        int32_t target;
        const char* message;
    };
    const Row rows[] = {
        {VARIABLE_TARGET_ALL, "Unable to find any instance for object index '-3'"},
        {3, "Unable to find any instance for object index '3' name 'obj_base'"},
        {9, "Unable to find any instance for object index '9'"},  // no such object
        {100003, "Unable to find any instance for object index '100003'"},  // marked
        {100050, "Unable to find any instance for object index '100050'"},
        {-7, "Unable to find any instance for object index '-7'"},
    };
    for (const Row& r : rows) {
        kvtest::FakeWorld world;
        AddObjects(world);
        world.Get(world.AddInstance(100003, 3)).marked = true;
        world.Get(world.AddInstance(100004, 6)).deactivated = true;
        g_variablesExits = 0;
        RValue value = VariablesTest_Real(1);
        EXPECT_FALSE(Variable_SetValue(r.target, 100000, ARRAY_INDEX_NONE, &value)) << r.target;
        EXPECT_EQ(TakeError(), std::string("ERROR!!! :: ") + r.message + "\n");
        EXPECT_EQ(g_variablesExits, 1) << r.target;
        EXPECT_EQ(RValue_Kind(ObjectBase_GetSlot(world.Object(Hash_FindInstance(100003)), 0)), VALUE_UNSET);
    }
}

TEST_F(VariablesByTarget, TargetNamesForMessages)
{
    struct Row {
        bool emptyRoom;
        int32_t target;
        const char* name;
        bool noInstance;
    };
    const Row rows[] = {
        {false, VARIABLE_TARGET_ALL, "obj_child", false},  // the first live instance's object
        {true, VARIABLE_TARGET_ALL, "<unknown_object>", true},
        {false, 3, "obj_base", false},
        {false, 9, "<undefined>", false},
        {false, 100002, "obj_child", false},
        {false, 100001, "<unknown_object>", false},  // marked
        {false, 100009, "<unknown_object>", false},
        {false, -1, "<unknown_object>", false},
    };
    for (const Row& r : rows) {
        kvtest::FakeWorld world;
        AddObjects(world);
        if (!r.emptyRoom) {
            world.Get(world.AddInstance(100001, 3)).marked = true;
            world.AddInstance(100002, 4);
        }
        Variable_NoInstance = false;
        EXPECT_STREQ(Variable_TargetName(r.target), r.name) << r.target;
        EXPECT_EQ(Variable_NoInstance, r.noInstance) << r.target;
    }
}

TEST_F(VariablesByTarget, TheEmptyWorldHasNoInstanceAndNoObject)
{
    RValue out = VariablesTest_Unset();
    for (int32_t target : {VARIABLE_TARGET_ALL, 0, 3, 100001}) {
        Variable_NoInstance = false;
        EXPECT_FALSE(Variable_GetValue(target, 100000, ARRAY_INDEX_NONE, &out)) << target;
        EXPECT_TRUE(Variable_NoInstance) << target;
    }
    EXPECT_STREQ(Object_GetName(0), "<undefined>");
    EXPECT_EQ(Object_GetParent(0), -1);
    EXPECT_EQ(Hash_FindInstance(100001), nullptr);
    EXPECT_FALSE(Variable_GetValue_Direct(nullptr, 100000, ARRAY_INDEX_NONE, &out));
    EXPECT_EQ(VariablesTest_Seen(out), kUnsetSeen);
}

TEST_F(VariablesByTarget, AParentLoopEndsTheAncestorWalk)
{
    kvtest::FakeWorld world;
    world.AddObject(1, "obj_a", 2);
    world.AddObject(2, "obj_b", 1);
    world.AddObject(3, "obj_c");
    world.pendingChange.push_back(world.MakeInstance(100001, 1));
    RValue out = VariablesTest_Unset();
    EXPECT_FALSE(Variable_GetValue(3, 100000, ARRAY_INDEX_NONE, &out));
    EXPECT_TRUE(Object_IsAncestorOrSelf(2, 1));
    EXPECT_FALSE(Object_IsAncestorOrSelf(3, 1));
}

// ---- Globals ----

using VariablesGlobals = VariablesTest;

TEST_F(VariablesGlobals, AFirstWriteGetsFlagsSevenAndLaterWritesKeepThem)
{
    QZObjectBase* global = MakeGlobal(4);
    RValue one = VariablesTest_Real(1);
    ASSERT_TRUE(Variable_Global_Set(100001, ARRAY_INDEX_NONE, &one));
    EXPECT_EQ(global->slots[1].flags, 7u);
    global->slots[1].flags = RVALUE_FLAG_ENUMERABLE;  // as a non-configurable property would have
    RValue two;
    RValue_CreateString(&two, "two");
    two.flags = 7;
    ASSERT_TRUE(Variable_Global_Set(100001, ARRAY_INDEX_NONE, &two));
    RValue_Free(&two);
    EXPECT_EQ(global->slots[1].flags, RVALUE_FLAG_ENUMERABLE);
    EXPECT_EQ(RValue_Kind(&global->slots[1]), VALUE_STRING);

    // An element written into a slot never used makes an array with the new variable's flags.
    ASSERT_TRUE(Variable_Global_Set(100002, 3, &one));
    EXPECT_EQ(RValue_Kind(&global->slots[2]), VALUE_ARRAY);
    EXPECT_EQ(global->slots[2].flags, 7u);
    RValue out = VariablesTest_Unset();
    EXPECT_TRUE(Variable_Global_Get(100002, 3, &out));
    EXPECT_EQ(VariablesTest_Seen(out), 1.0);

    // Ids the global object cannot hold: false, nothing read, nothing written.
    for (int32_t id : {100004, 0, 5000, 99999}) {
        RValue probe = VariablesTest_Unset();
        EXPECT_FALSE(Variable_Global_Set(id, ARRAY_INDEX_NONE, &one)) << id;
        EXPECT_FALSE(Variable_Global_Get(id, ARRAY_INDEX_NONE, &probe)) << id;
        EXPECT_EQ(VariablesTest_Seen(probe), kUnsetSeen) << id;
    }
    EXPECT_EQ(global->sparse, nullptr);
    EXPECT_EQ(RValue_Kind(&global->slots[3]), VALUE_UNSET);
}

TEST_F(VariablesGlobals, AnUnsetGlobalNamedLikeABuiltInFunctionReadsAsAFunctionObject)
{
    g_GameData.scriptObjectModel = true;
    Code_Variable_Init(4, 0, 0);
    Code_Variable_SetName("fake_sin", -5, 1);
    Code_Variable_SetName("plain", -5, 2);
    Code_Variable_SetName("shown", -5, 3);
    Function_Add("other", VariablesTest_Function, 0, false);
    Function_Add("fake_sin", VariablesTest_Function, 1, false);
    QZObjectBase* global = MakeGlobal(4, true);
    VariablesTest_PutNamed(global, "shown", 9, 7);

    RValue out = VariablesTest_Unset();
    ASSERT_TRUE(Variable_Global_Get(100001, ARRAY_INDEX_NONE, &out));
    ASSERT_EQ(RValue_Kind(&out), VALUE_OBJECT);
    ASSERT_NE(out.obj, nullptr);
    made_.push_back(out.obj);
    VariableNode* call = out.obj->named ? out.obj->named->FindByName("[[Call_Cpp]]") : nullptr;
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(RValue_Kind(&call->value), VALUE_PTR);
    EXPECT_EQ(call->value.ptr, reinterpret_cast<void*>(VariablesTest_Function));

    // A name that is no function reads the unset slot; one held in the named list reads from there.
    out = VariablesTest_Unset();
    EXPECT_TRUE(Variable_Global_Get(100002, ARRAY_INDEX_NONE, &out));
    EXPECT_EQ(VariablesTest_Seen(out), kUnsetSeen);
    EXPECT_TRUE(Variable_Global_Get(100003, ARRAY_INDEX_NONE, &out));
    EXPECT_EQ(VariablesTest_Seen(out), 9.0);

    // A written global is itself, not the function.
    RValue five = VariablesTest_Real(5);
    Variable_Global_Set(100001, ARRAY_INDEX_NONE, &five);
    EXPECT_TRUE(Variable_Global_Get(100001, ARRAY_INDEX_NONE, &out));
    EXPECT_EQ(VariablesTest_Seen(out), 5.0);
}

TEST_F(VariablesGlobals, WithoutTheObjectModelAnUnsetGlobalStaysUnset)
{
    Code_Variable_Init(2, 0, 0);
    Code_Variable_SetName("fake_sin", -5, 1);
    Function_Add("fake_sin", VariablesTest_Function, 1, false);
    MakeGlobal(2, false);
    RValue out = VariablesTest_Unset();
    EXPECT_TRUE(Variable_Global_Get(100001, ARRAY_INDEX_NONE, &out));
    EXPECT_EQ(VariablesTest_Seen(out), kUnsetSeen);
}

TEST_F(VariablesGlobals, AGlobalObjectWithoutSlotsUsesItsNamedListById)
{
    QZObjectBase* global = MakeObject(0, false, true);
    g_GlobalObject = global;
    RValue value = VariablesTest_Real(4);
    EXPECT_TRUE(Variable_Global_Set(100020, ARRAY_INDEX_NONE, &value));
    EXPECT_TRUE(global->named->Exists(100020));
    RValue out = VariablesTest_Unset();
    EXPECT_TRUE(Variable_Global_Get(100020, ARRAY_INDEX_NONE, &out));
    EXPECT_EQ(VariablesTest_Seen(out), 4.0);
    g_GlobalObject = nullptr;
    EXPECT_FALSE(Variable_Global_Set(100020, ARRAY_INDEX_NONE, &value));
    EXPECT_FALSE(Variable_Global_Get(100020, ARRAY_INDEX_NONE, &out));
}

// ---- Scope chain ----

// inner (named list only) -> middle (slot array) -> global (slot array and named list).
class VariablesScope : public VariablesTest {
protected:
    void SetUp() override
    {
        VariablesTest::SetUp();
        g_GameData.scriptObjectModel = true;
        Code_Variable_Init(0, 6, 0);
        const char* names[] = {"a", "b", "c", "d", "fake_fn", "e"};
        for (int32_t i = 0; i < 6; ++i) Code_Variable_SetName(names[i], -1, i);
        Function_Add("fake_fn", VariablesTest_Function, 0, false);
        inner = MakeObject(0, false, true);
        middle = MakeObject(6, true, false);
        global = MakeGlobal(6, true);
        inner->scopeNext = middle;
        middle->scopeNext = global;
        g_ScopeHead = inner;
        VariablesTest_PutNamed(inner, "a", 1, 7);
        VariablesTest_PutReal(middle, 0, 2, 7);  // "a", hidden by inner
        VariablesTest_PutReal(middle, 1, 3, 7);  // "b"
        VariablesTest_PutReal(global, 2, 4, RVALUE_FLAG_ENUMERABLE | RVALUE_FLAG_WRITABLE);  // "c"
        VariablesTest_PutNamed(global, "e", 6, 0);
    }
    static double Get(int32_t id)
    {
        RValue out = VariablesTest_Real(-5);
        bool found = Variable_Scope_Get(id, ARRAY_INDEX_NONE, &out);
        double seen = VariablesTest_Seen(out);
        EXPECT_EQ(found, seen != kUnsetSeen) << id;
        RValue_Free(&out);
        return seen;
    }
    QZObjectBase* inner = nullptr;
    QZObjectBase* middle = nullptr;
    QZObjectBase* global = nullptr;
};

TEST_F(VariablesScope, ReadsTheInnermostScopeThatHoldsTheName)
{
    EXPECT_EQ(Get(100000), 1.0);  // a
    EXPECT_EQ(Get(100001), 3.0);  // b
    EXPECT_EQ(Get(100002), 4.0);  // c
    EXPECT_EQ(Get(100003), kUnsetSeen);  // d
    EXPECT_EQ(Get(100005), 6.0);  // e, in the global's named list
    // Without a head the chain is the global object alone.
    g_ScopeHead = nullptr;
    EXPECT_EQ(Get(100000), kUnsetSeen);
    EXPECT_EQ(Get(100002), 4.0);
}

TEST_F(VariablesScope, AnUnheldBuiltInFunctionNameReadsAsAFunctionObject)
{
    RValue out = VariablesTest_Unset();
    ASSERT_TRUE(Variable_Scope_Get(100004, ARRAY_INDEX_NONE, &out));
    ASSERT_EQ(RValue_Kind(&out), VALUE_OBJECT);
    made_.push_back(out.obj);
    VariableNode* call = out.obj->named->FindByName("[[Call_Cpp]]");
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->value.ptr, reinterpret_cast<void*>(VariablesTest_Function));
}

TEST_F(VariablesScope, WritesGoToTheScopeThatHoldsTheNameElseToTheHead)
{
    RValue v = VariablesTest_Real(30);
    EXPECT_TRUE(Variable_Scope_Set(100001, ARRAY_INDEX_NONE, &v));  // b lives in middle
    EXPECT_EQ(VariablesTest_Seen(middle->slots[1]), 30.0);
    EXPECT_EQ(inner->named->FindByName("b"), nullptr);
    v = VariablesTest_Real(40);
    EXPECT_TRUE(Variable_Scope_Set(100002, ARRAY_INDEX_NONE, &v));  // c in global keeps its flags
    EXPECT_EQ(VariablesTest_Seen(global->slots[2]), 40.0);
    EXPECT_EQ(global->slots[2].flags, RVALUE_FLAG_ENUMERABLE | RVALUE_FLAG_WRITABLE);
    // A new variable lands in the head, under its name, so the chain finds it again.
    v = VariablesTest_Real(50);
    EXPECT_TRUE(Variable_Scope_Set(100003, ARRAY_INDEX_NONE, &v));
    VariableNode* d = inner->named->FindByName("d");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->value.flags, 7u);
    EXPECT_EQ(Get(100003), 50.0);
    EXPECT_EQ(RValue_Kind(&middle->slots[3]), VALUE_UNSET);
    // With the global object as head a new variable takes its slot.
    g_ScopeHead = nullptr;
    v = VariablesTest_Real(60);
    EXPECT_TRUE(Variable_Scope_Set(100003, ARRAY_INDEX_NONE, &v));
    EXPECT_EQ(VariablesTest_Seen(global->slots[3]), 60.0);
    EXPECT_EQ(global->slots[3].flags, 7u);
}

TEST_F(VariablesScope, DeleteRemovesTheInnermostAndRefusesWhatIsNotConfigurable)
{
    EXPECT_TRUE(Variable_Scope_Delete(100000, ARRAY_INDEX_NONE));  // a in inner
    EXPECT_EQ(inner->named->FindByName("a"), nullptr);
    EXPECT_EQ(Get(100000), 2.0) << "middle's a shows through";
    EXPECT_TRUE(Variable_Scope_Delete(100000, ARRAY_INDEX_NONE));
    EXPECT_EQ(RValue_Kind(&middle->slots[0]), VALUE_UNSET);

    EXPECT_FALSE(Variable_Scope_Delete(100002, ARRAY_INDEX_NONE)) << "c is not configurable";
    EXPECT_EQ(Get(100002), 4.0);
    EXPECT_FALSE(Variable_Scope_Delete(100005, ARRAY_INDEX_NONE)) << "e is not configurable";
    EXPECT_EQ(Get(100005), 6.0);
    EXPECT_TRUE(Variable_Scope_Delete(100003, ARRAY_INDEX_NONE)) << "nothing holds d";

    // An element of an array: only an element that exists, and only when it is configurable.
    RValue element = VariablesTest_Real(8);
    element.flags = 7;
    RValue_SetWithIndex(&middle->slots[1], &element, 2);
    EXPECT_TRUE(Variable_Scope_Delete(100001, 2));
    RValue out = VariablesTest_Unset();
    RValue_ArrayGet(&out, &middle->slots[1], 2);
    EXPECT_EQ(VariablesTest_Seen(out), kUnsetSeen);
    EXPECT_TRUE(Variable_Scope_Delete(100001, 9)) << "no such element";
    EXPECT_EQ(RValue_Kind(&middle->slots[1]), VALUE_ARRAY);
}

TEST_F(VariablesScope, AccessorsAreReadAndWrittenThroughTheObjectModel)
{
    QZObjectBase* accessor = MakeObject(2, true, false);
    accessor->objectKind = OBJECT_KIND_ACCESSOR;
    RValue* slot = &middle->slots[5];
    slot->v64 = 0;
    slot->obj = accessor;
    slot->flags = 7;
    slot->kind = VALUE_OBJECT;
    SeamTrace_Clear();
    SeamTrace_Enable(true);
    RValue out = VariablesTest_Real(1);
    EXPECT_TRUE(Variable_Scope_Get(100005, ARRAY_INDEX_NONE, &out));
    EXPECT_EQ(RValue_Kind(&out), VALUE_UNDEFINED) << "an accessor without a getter reads undefined";
    RValue v = VariablesTest_Real(2);
    EXPECT_TRUE(Variable_Scope_Set(100005, ARRAY_INDEX_NONE, &v));
    EXPECT_EQ(SeamTrace_Calls(), (std::vector<std::string>{"JS_CallGetter", "JS_CallSetter"}));
    EXPECT_EQ(RValue_Kind(slot), VALUE_UNDEFINED) << "without a setter the holder becomes undefined";
}

// ---- The globals' save block ----

class VariablesSaveBlock : public VariablesTest {
protected:
    static void SetUpTestSuite() { folder_ = kvtest_py::Generate("tests/core/gen_global_block.py", ""); }
    static std::string Expected(const char* name) { return kvtest::ReadFile(folder_ + name + ".bin"); }

    // The globals of the generator's "fresh" case.
    void FillFresh(QZObjectBase* global)
    {
        VariablesTest_PutReal(global, 0, 2.5);
        RValue_SetString(&global->slots[1], "h\xC3\xA9llo");
        RValue a = VariablesTest_Real(1.0);
        RValue_SetWithIndex(&global->slots[3], &a, 0);
        RValue_SetString(&a, "a");
        RValue_SetWithIndex(&global->slots[3], &a, 1);
        RValue_Free(&a);
    }
    static std::string Serialised()
    {
        Buffer_Standard buffer(16, buffer_grow, 1);
        Variable_Global_Serialise(&buffer);
        return std::string(reinterpret_cast<const char*>(buffer.GetData()), size_t(buffer.GetPosition()));
    }
    static bool Load(std::string bytes, int32_t* position = nullptr)
    {
        Buffer_Standard buffer(bytes.data(), int32_t(bytes.size()), buffer_fixed, 1, false);
        bool ok = Variable_Global_Deserialise(&buffer);
        if (position) *position = buffer.GetPosition();
        return ok;
    }
    static inline std::string folder_;
};

TEST_F(VariablesSaveBlock, TheBytesEqualTheStructExpectationAndReadBack)
{
    ASSERT_FALSE(folder_.empty());
    QZObjectBase* global = MakeGlobal(4);
    FillFresh(global);
    Variable_InitFlags();
    const std::string bytes = Serialised();
    EXPECT_EQ(bytes, Expected("fresh"));

    // Clobber every global, then read the block back.
    for (int32_t n = 0; n < 4; ++n) VariablesTest_PutReal(global, n, -9, 7);
    ASSERT_TRUE(Load(bytes));
    EXPECT_EQ(VariablesTest_Seen(global->slots[0]), 2.5);
    ASSERT_EQ(RValue_Kind(&global->slots[1]), VALUE_STRING);
    EXPECT_STREQ(global->slots[1].str->text, "h\xC3\xA9llo");
    EXPECT_EQ(RValue_Kind(&global->slots[2]), VALUE_UNSET);
    ASSERT_EQ(RValue_Kind(&global->slots[3]), VALUE_ARRAY);
    EXPECT_EQ(global->slots[3].arr->owner, &global->slots[3]) << "the slot owns the array it was given";
    EXPECT_EQ(global->slots[3].arr->rowCount, 1);
    EXPECT_EQ(Variable_FlagCount(), 10000);
    EXPECT_EQ(Serialised(), bytes);
}

TEST_F(VariablesSaveBlock, FlagsAreReadAsZeroOrOneAndReplaceTheArray)
{
    ASSERT_FALSE(folder_.empty());
    MakeGlobal(4);
    Variable_InitFlags();
    ASSERT_TRUE(Load(Expected("flags_in")));
    EXPECT_EQ(Variable_FlagCount(), 4);
    const uint8_t want[] = {0, 1, 0, 1, 0};
    for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(Variable_GetFlags(100000 + i), want[i]) << i;
    EXPECT_EQ(Variable_GetFlags(99999), 0);
    EXPECT_EQ(Serialised(), Expected("flags_out"));

    // A block without flags frees the array.
    std::string none = Expected("flags_in");
    none.resize(none.size() - 16);
    std::memset(&none[none.size() - 4], 0, 4);
    ASSERT_TRUE(Load(none));
    EXPECT_EQ(Variable_FlagCount(), 0);
    EXPECT_EQ(Variable_GetFlags(100001), 0);
}

TEST_F(VariablesSaveBlock, AnotherGamesCountReportsAndReadsNothingMore)
{
    ASSERT_FALSE(folder_.empty());
    QZObjectBase* global = MakeGlobal(3);
    for (int32_t n = 0; n < 3; ++n) VariablesTest_PutReal(global, n, n + 0.5, 7);
    Variable_InitFlags();
    int32_t position = -1;
    EXPECT_FALSE(Load(Expected("fresh"), &position));
    EXPECT_EQ(TakeError(), "ERROR!!! :: Save game format has changed\n");
    EXPECT_EQ(g_variablesExits, 1);
    EXPECT_EQ(position, 4) << "nothing read after the count";
    for (int32_t n = 0; n < 3; ++n) {
        EXPECT_EQ(VariablesTest_Seen(global->slots[n]), n + 0.5) << n;
        EXPECT_EQ(global->slots[n].flags, 7u) << n;
    }
    EXPECT_EQ(Variable_FlagCount(), 10000);
}

TEST_F(VariablesSaveBlock, DamagedBlocksStopCleanlyAndChangeNothing)
{
    ASSERT_FALSE(folder_.empty());
    const std::string good = Expected("flags_in");
    // Layout: count (0-3), -1.0 (4-15), undefined (16-19), 3.0 (20-31), "" (32-36), flag count (37-40),
    // four flags (41-56).
    auto patched = [](std::string bytes, size_t at, int32_t word) {
        std::memcpy(&bytes[at], &word, 4);
        return bytes;
    };
    struct Row {
        const char* what;
        std::string bytes;
    };
    const Row rows[] = {
        {"empty", ""},
        {"half a count", good.substr(0, 2)},
        {"only the count", good.substr(0, 4)},
        {"half a real", good.substr(0, 10)},
        {"a string without its end", good.substr(0, 36)},
        {"no flag count", good.substr(0, 37)},
        {"a flag missing", good.substr(0, 53)},
        {"one byte short", good.substr(0, good.size() - 1)},
        {"a flag count beyond the data", patched(good, 37, 0x7FFFFFFF)},
        {"a negative flag count", patched(good, 37, -1)},
        // The fourth global of the "fresh" block is an array; its row count lies at 35.
        {"an array row count beyond the data", patched(Expected("fresh"), 35, 0x7FFFFFFF)},
    };
    QZObjectBase* global = MakeGlobal(4);
    for (int32_t n = 0; n < 4; ++n) VariablesTest_PutReal(global, n, n + 0.25, 7);
    Variable_InitFlags();
    for (const Row& r : rows) {
        EXPECT_FALSE(Load(r.bytes)) << r.what;
        for (int32_t n = 0; n < 4; ++n) EXPECT_EQ(VariablesTest_Seen(global->slots[n]), n + 0.25) << r.what << " " << n;
        EXPECT_EQ(Variable_FlagCount(), 10000) << r.what;
    }
    EXPECT_EQ(TakeError(), "");
    EXPECT_TRUE(Load(good)) << "the undamaged block still loads";
}

TEST_F(VariablesSaveBlock, WithoutAGlobalObjectTheBlockIsEmpty)
{
    Variable_InitFlags();
    Variable_BuiltIn_Free();  // and with it the flags
    const std::string bytes = Serialised();
    EXPECT_EQ(bytes, std::string(8, '\0'));
    EXPECT_TRUE(Load(bytes));
}

// ---- Sparse slots by position ----

TEST(VariablesHash, GetByIndexEnumeratesTheOccupiedEntriesInTableOrder)
{
    CHashMap<RValue*> map(8);
    RValue cells[6];
    const int32_t keys[] = {0, 5, 17, 100, 3, 1 << 20};
    for (int32_t i = 0; i < 6; ++i) ASSERT_TRUE(map.Insert(keys[i], &cells[i]));
    map.Delete(17);
    std::vector<int32_t> inOrder;
    int32_t slot = -1, key = 0;
    while (map.Next(&slot, &key, nullptr)) inOrder.push_back(key);
    ASSERT_EQ(inOrder.size(), 5u);
    for (int32_t n = 0; n < 5; ++n) {
        int32_t got = -99;
        RValue* value = Hash_GetByIndex(&map, n, &got);
        EXPECT_EQ(got, inOrder[size_t(n)]) << n;
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(*map.Find(got), value) << n;
    }
    int32_t untouched = -99;
    EXPECT_EQ(Hash_GetByIndex(&map, 5, &untouched), nullptr);
    EXPECT_EQ(Hash_GetByIndex(&map, -1, &untouched), nullptr);
    EXPECT_EQ(untouched, -99);
    EXPECT_EQ(Hash_GetByIndex(nullptr, 0, &untouched), nullptr);
    EXPECT_NE(Hash_GetByIndex(&map, 0, nullptr), nullptr);
}

}  // namespace
