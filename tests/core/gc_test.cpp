// The value collector: what survives a collection and what is freed, the roots (global object, instances,
// room lists, hidden instances, containers), deep chains, and what a collection allocates.
#include "vm_test_util.h"

#include "../support/fake_world.h"
#include "core/gc.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "ds/ds.h"
#include "layers/layers.h"
#include "world/loader.h"
#include "world/object_base.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include <pthread.h>

namespace {

RValue GcTest_ObjectValue(QZObjectBase* o)
{
    RValue v;
    v.obj = o;
    v.flags = 0;
    v.kind = VALUE_OBJECT;
    return v;
}

// Slot n of holder refers to target.
void GcTest_Refer(QZObjectBase* holder, int32_t n, QZObjectBase* target)
{
    RValue* slot = ObjectBase_GetSlot(holder, n);
    RValue_Free(slot);
    *slot = GcTest_ObjectValue(target);
}

// An object is alive while the table still holds it at its index.
struct GcTracked {
    QZObjectBase* object;
    int32_t index;
};
GcTracked GcTest_Track(QZObjectBase* o) { return {o, o->tableIndex}; }
bool GcTest_Alive(const GcTracked& t)
{
    return t.index >= 0 && t.index < ObjectTable.capacity && ObjectTable.items[t.index] == t.object;
}

// Counts the system allocations the memory manager makes while installed.
std::vector<void*> g_gcMallocs;
std::vector<void*> g_gcFrees;
void* GcTest_Malloc(size_t size)
{
    void* p = std::malloc(size);
    g_gcMallocs.push_back(p);
    return p;
}
void GcTest_Free(void* p)
{
    g_gcFrees.push_back(p);
    std::free(p);
}

class GcTest : public testing::Test {
protected:
    void SetUp() override
    {
        savedModel_ = g_GameData.scriptObjectModel;
        savedGlobal_ = g_GlobalObject;
        g_GameData.scriptObjectModel = true;
        world_ = std::make_unique<kvtest::FakeWorld>();
        global_ = ObjectBase_Alloc(8, VALUE_UNSET, true);
        g_GlobalObject = global_;
        if (savedGlobal_) GcTest_Refer(global_, 7, savedGlobal_);
        VM_GarbageCollect();     // whatever earlier tests of this process left in the table
        ObjectBasePool_Clear();  // objects made from now on carry named-variable lists
    }
    void TearDown() override
    {
        Layer_ScriptInstance = nullptr;
        world_.reset();
        // Whatever a test left behind goes with one last collection from the bare global object.
        for (int32_t n = 0; n < global_->slotCount; ++n) RValue_Free(ObjectBase_GetSlot(global_, n));
        VM_GarbageCollect();
        g_GlobalObject = savedGlobal_;
        ObjectBase_Free(global_);
        g_GameData.scriptObjectModel = savedModel_;
        ObjectBasePool_Clear();
        GC_Release();
    }

    QZObjectBase* New(int32_t slots = 2) { return ObjectBase_Alloc(slots, VALUE_UNSET, true); }

    std::unique_ptr<kvtest::FakeWorld> world_;
    QZObjectBase* global_ = nullptr;

private:
    bool savedModel_ = false;
    QZObjectBase* savedGlobal_ = nullptr;
};

TEST_F(GcTest, ReachableObjectsSurviveAndTheRestIsFreed)
{
    // Two objects that refer only to each other.
    QZObjectBase* a = New();
    QZObjectBase* b = New();
    GcTest_Refer(a, 0, b);
    GcTest_Refer(b, 0, a);
    // A cycle the global object holds, through a sparse slot and a named variable.
    QZObjectBase* c = ObjectBase_Alloc(0, VALUE_UNSET, false);
    QZObjectBase* d = New();
    GcTest_Refer(global_, 1, c);
    *ObjectBase_GetSlot(c, 1000) = GcTest_ObjectValue(d);
    QZObjectBase* e = New();
    ObjectBase_AddObjectProperty(d, "next", e, 7);
    ObjectBase_AddObjectProperty(e, "back", c, 7);
    ASSERT_NE(ObjectBase_FindVariable(d, "next"), nullptr);
    // Only in an array element: the array in a global slot, holding the object in its second row.
    QZObjectBase* f = New();
    RValue element = GcTest_ObjectValue(f);
    RValue_SetWithIndex(ObjectBase_GetSlot(global_, 2), &element, ARRAY_INDEX_STRIDE + 3);
    // An array that holds itself and an object: the walk ends.
    QZObjectBase* g = New();
    RValue* self = ObjectBase_GetSlot(global_, 3);
    RValue gv = GcTest_ObjectValue(g);
    RValue_SetWithIndex(self, &gv, 0);
    RValue copy;
    RValue_SetUndefined(&copy);
    RValue_Copy(&copy, self);
    RValue_SetWithIndex(self, &copy, 1);
    RValue_Free(&copy);
    // An object a garbage object holds.
    QZObjectBase* h = New();
    QZObjectBase* garbage = New();
    GcTest_Refer(garbage, 1, h);

    struct Row {
        const char* what;
        GcTracked object;
        bool survives;
    };
    const Row rows[] = {
        {"a cycle of two that nothing holds: first", GcTest_Track(a), false},
        {"a cycle of two that nothing holds: second", GcTest_Track(b), false},
        {"held by the global object", GcTest_Track(c), true},
        {"held through a sparse slot", GcTest_Track(d), true},
        {"held through a named variable", GcTest_Track(e), true},
        {"held only in an array element", GcTest_Track(f), true},
        {"held in an array that holds itself", GcTest_Track(g), true},
        {"held only by garbage", GcTest_Track(h), false},
        {"garbage", GcTest_Track(garbage), false},
        {"the global object", GcTest_Track(global_), true},
    };
    const uint32_t before = GC_LastStats().collections;
    VM_GarbageCollect();
    EXPECT_EQ(GC_LastStats().collections, before + 1);
    EXPECT_EQ(GC_LastStats().freed, 4);
    for (const Row& row : rows) EXPECT_EQ(GcTest_Alive(row.object), row.survives) << row.what;

    // Once the global object lets go, the rest follows at the next collection.
    for (int32_t n = 1; n <= 3; ++n) RValue_Free(ObjectBase_GetSlot(global_, n));
    VM_GarbageCollect();
    for (const Row& row : rows) EXPECT_EQ(GcTest_Alive(row.object), row.object.object == global_) << row.what;
}

TEST_F(GcTest, ContainerValuesAreRootsUntilTheirEntryGoes)
{
    auto real = [](double d) {
        RValue v;
        RValue_SetReal(&v, d);
        return v;
    };
    const int32_t map = DSMap_New(), list = DSList_Create(), stack = DSStack_Create(), queue = DSQueue_Create();
    const int32_t grid = DSGrid_Create(2, 2), priority = DSPriority_Create(), gone = DSMap_New();
    struct Row {
        const char* what;
        GcTracked object;
    };
    std::vector<Row> rows;
    auto make = [&](const char* what) {
        QZObjectBase* o = New();
        rows.push_back({what, GcTest_Track(o)});
        return GcTest_ObjectValue(o);
    };
    const RValue mapKey = make("a map key");
    DS_Maps[map]->Add(mapKey, real(1));
    const RValue mapValue = make("a map value");
    DS_Maps[map]->Add(real(2), mapValue);
    QZObjectBase* behind = New();  // held only by what the map value holds
    GcTest_Refer(mapValue.obj, 0, behind);
    rows.push_back({"held by a map value's object", GcTest_Track(behind)});
    DS_Lists[list]->Add(make("a list element"));
    DS_Stacks.items[stack]->Push(make("a stack item"));
    DS_Queues.items[queue]->Enqueue(make("a queue slot outside head to tail"));
    DS_Queues.items[queue]->Enqueue(real(3));
    DS_Queues.items[queue]->Dequeue();
    DS_Grids.items[grid]->SetCell(1, 1, make("a grid cell"));
    DS_Priorities.items[priority]->Add(make("a priority queue value"), real(4));
    DS_Priorities.items[priority]->Add(real(5), make("a priority"));
    // A destroyed container's slot is null: what it held is not reached through it.
    QZObjectBase* inDestroyed = New();
    DS_Maps[gone]->Add(real(6), GcTest_ObjectValue(inDestroyed));
    const GcTracked destroyed = GcTest_Track(inDestroyed);
    DSMap_Destroy(gone);

    VM_GarbageCollect();
    for (const Row& row : rows) EXPECT_TRUE(GcTest_Alive(row.object)) << row.what;
    EXPECT_FALSE(GcTest_Alive(destroyed));

    // The map entry whose key is an object goes (the key is reached as the same value): its key goes next.
    EXPECT_TRUE(DS_Maps[map]->Delete(mapKey));
    VM_GarbageCollect();
    EXPECT_FALSE(GcTest_Alive(rows[0].object));
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_TRUE(GcTest_Alive(rows[i].object)) << rows[i].what;

    // Once every container is destroyed, everything they held goes at the next collection.
    DSMap_Destroy(map);
    DS_Destroy(DS_KIND_LIST, list);
    DS_Destroy(DS_KIND_STACK, stack);
    DS_Destroy(DS_KIND_QUEUE, queue);
    DS_Destroy(DS_KIND_GRID, grid);
    DS_Destroy(DS_KIND_PRIORITY, priority);
    VM_GarbageCollect();
    for (const Row& row : rows) EXPECT_FALSE(GcTest_Alive(row.object)) << row.what;
}

TEST_F(GcTest, InstancesAreNeverFreedAndHoldWhatTheirVariablesHold)
{
    enum Where { kNoList, kRoom, kDeactivated, kLayerScript };
    struct Row {
        const char* what;
        Where where;
        bool registered;  // the instance's variables are in the object table
        bool survives;    // the object its variable holds
    };
    const Row rows[] = {
        {"an instance of a room that is not running (in no list)", kNoList, true, true},
        {"an instance of the running room, not in the table", kRoom, false, true},
        {"a deactivated instance, not in the table", kDeactivated, false, true},
        {"the hidden layer-script instance, not in the table", kLayerScript, false, true},
        {"an instance neither in the table nor in a list", kNoList, false, false},
    };
    int32_t id = 100001;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CInstance* instance = world_->MakeInstance(id++, 1);
        QZObjectBase* vars = world_->Object(instance);
        QZObjectBase* held = New();
        QZObjectBase* deeper = New();
        GcTest_Refer(vars, 0, held);
        GcTest_Refer(held, 0, deeper);
        const GcTracked instanceTracked = GcTest_Track(vars);
        if (!row.registered) {
            ObjectTable.items[vars->tableIndex] = nullptr;
            --ObjectTable.count;
            vars->tableIndex = -1;
        }
        if (row.where == kRoom) world_->room = {instance};
        if (row.where == kDeactivated) {
            world_->Get(instance).deactivated = true;
            world_->roomDeactivated = {instance};
        }
        if (row.where == kLayerScript) Layer_ScriptInstance = instance;
        const GcTracked heldTracked = GcTest_Track(held);
        const GcTracked deeperTracked = GcTest_Track(deeper);

        VM_GarbageCollect();
        EXPECT_TRUE(!row.registered || GcTest_Alive(instanceTracked));
        EXPECT_EQ(GcTest_Alive(heldTracked), row.survives);
        EXPECT_EQ(GcTest_Alive(deeperTracked), row.survives);

        // Instances end by their own deletion; then what they held is garbage.
        world_->room.clear();
        world_->roomDeactivated.clear();
        Layer_ScriptInstance = nullptr;
        RValue_Free(ObjectBase_GetSlot(vars, 0));
        VM_GarbageCollect();
        EXPECT_FALSE(GcTest_Alive(heldTracked));
        EXPECT_TRUE(!row.registered || GcTest_Alive(instanceTracked));
    }
}

TEST_F(GcTest, NothingHappensWithoutTheModelOrWhileCodeRuns)
{
    struct Row {
        const char* what;
        bool model;
        bool codeRuns;
    };
    const Row rows[] = {{"the script object model is off", false, false}, {"code is running", true, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QZObjectBase* a = New();
        GcTest_Refer(a, 0, a);
        const GcTracked tracked = GcTest_Track(a);
        g_GameData.scriptObjectModel = row.model;
        VMFrame running{};
        if (row.codeRuns) VM_CurrentFrame = &running;
        const uint32_t collections = GC_LastStats().collections;
        const MemoryProbe before = MemoryManager_Probe();
        g_gcMallocs.clear();
        MemoryManagerTestHooks hooks{GcTest_Malloc, GcTest_Free, nullptr, nullptr};
        MemoryManager_SetTestHooks(&hooks);
        VM_GarbageCollect();
        MemoryManager_SetTestHooks(nullptr);
        VM_CurrentFrame = nullptr;
        g_GameData.scriptObjectModel = true;
        EXPECT_TRUE(g_gcMallocs.empty());
        EXPECT_EQ(MemoryManager_Probe().liveBlocks, before.liveBlocks);
        EXPECT_EQ(GC_LastStats().collections, collections);
        EXPECT_TRUE(GcTest_Alive(tracked));
        VM_GarbageCollect();
        EXPECT_FALSE(GcTest_Alive(tracked));
    }
}

TEST_F(GcTest, ACollectionAllocatesOnlyItsMarkArray)
{
    // Enough objects that the mark array is a heap block of its own; trees and chains, some garbage.
    std::vector<QZObjectBase*> kept;
    for (int i = 0; i < 400; ++i) kept.push_back(New(3));
    for (int i = 1; i < 400; ++i) GcTest_Refer(kept[size_t((i - 1) / 2)], 1 + (i - 1) % 2, kept[size_t(i)]);
    GcTest_Refer(global_, 0, kept[0]);
    RValue element = GcTest_ObjectValue(kept[399]);
    RValue_SetWithIndex(ObjectBase_GetSlot(kept[5], 0), &element, 2);
    auto makeGarbage = [this] {
        for (int i = 0; i < 100; ++i) {
            QZObjectBase* g = New(3);
            GcTest_Refer(g, 0, g);
        }
    };
    makeGarbage();
    VM_GarbageCollect();  // the work list reaches its size
    makeGarbage();

    g_gcMallocs.clear();
    g_gcFrees.clear();
    MemoryManagerTestHooks hooks{GcTest_Malloc, GcTest_Free, nullptr, nullptr};
    MemoryManager_SetTestHooks(&hooks);
    VM_GarbageCollect();
    MemoryManager_SetTestHooks(nullptr);
    ASSERT_EQ(g_gcMallocs.size(), 1u);
    EXPECT_NE(std::find(g_gcFrees.begin(), g_gcFrees.end(), g_gcMallocs[0]), g_gcFrees.end());
    EXPECT_EQ(GC_LastStats().freed, 100);
    EXPECT_EQ(GC_LastStats().reached, 401);  // the kept ones and the global object
}

// Runs fn on a thread with a small stack: a deep walk that recursed would overflow it.
constexpr size_t kGcTestSmallStack = 128 * 1024;
template <class Fn>
void GcTest_OnSmallStack(Fn fn)
{
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, kGcTestSmallStack), 0);
    pthread_t thread;
    auto entry = [](void* arg) -> void* {
        (*static_cast<Fn*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, entry, &fn), 0);
    pthread_attr_destroy(&attr);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
}

// The collections run on a 128 KB stack: marking or freeing the chain by recursion would take at least
// 16 bytes (a return address and a saved register) per link, 800 KB.
TEST_F(GcTest, ADeepChainIsMarkedAndFreedWithoutRecursion)
{
    constexpr int32_t kChain = 50000;
    static_assert(kChain * 16 > 6 * kGcTestSmallStack);
    // Made with the model off so that no object carries a named-variable list (memory, not behaviour).
    g_GameData.scriptObjectModel = false;
    std::vector<GcTracked> chain;
    chain.reserve(kChain);
    QZObjectBase* previous = global_;
    for (int32_t i = 0; i < kChain; ++i) {
        QZObjectBase* o = ObjectBase_Alloc(1, VALUE_UNSET, true);
        GcTest_Refer(previous, 0, o);
        chain.push_back(GcTest_Track(o));
        previous = o;
    }
    g_GameData.scriptObjectModel = true;
    GcTest_OnSmallStack([] { VM_GarbageCollect(); });
    EXPECT_EQ(GC_LastStats().freed, 0);
    EXPECT_GE(GC_LastStats().reached, kChain + 1);
    EXPECT_TRUE(GcTest_Alive(chain.front()));
    EXPECT_TRUE(GcTest_Alive(chain.back()));

    RValue_Free(ObjectBase_GetSlot(global_, 0));
    GcTest_OnSmallStack([] { VM_GarbageCollect(); });
    EXPECT_EQ(GC_LastStats().freed, kChain);
    EXPECT_FALSE(GcTest_Alive(chain.front()));
    EXPECT_FALSE(GcTest_Alive(chain.back()));
    ObjectBasePool_Clear();
}

// Objects made by running code: what a finished script kept only in a local goes at the next collection.
std::vector<QZObjectBase*> g_gcMade;
void GcTest_NewObject(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    QZObjectBase* o = ObjectBase_Alloc(1, VALUE_UNSET, true);
    g_gcMade.push_back(o);
    *result = GcTest_ObjectValue(o);
}

class GcProgramTest : public vmtest::VmProgramTest {
protected:
    void TearDown() override
    {
        g_GameData.scriptObjectModel = false;
        g_gcMade.clear();
        GC_Release();
        VmProgramTest::TearDown();
    }
};

TEST_F(GcProgramTest, AnObjectHeldOnlyByAFinishedScriptsLocalIsFreed)
{
    const int32_t id = vmtest::Builtin("t_newobj", GcTest_NewObject);
    ASSERT_TRUE(Build(".version 15\n.function t_newobj " + std::to_string(id) +
                      "\n.code ksl_keep\n.locals a\n call.i t_newobj 0\n pop.v.v local.a\n exit.i\n"
                      ".code ksl_Script_inner\n.script inner\n.locals b\n call.i t_newobj 0\n pop.v.v local.b\n"
                      " exit.i\n.code ksl_call\n call.i inner 0\n popz.v\n exit.i\n"));
    ASSERT_NE(g_GlobalObject, nullptr);
    for (const char* entry : {"ksl_keep", "ksl_call"}) {
        SCOPED_TRACE(entry);
        g_gcMade.clear();
        VM_Exec(Entry(entry), nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr);
        ASSERT_EQ(g_gcMade.size(), 1u);
        const GcTracked made = GcTest_Track(g_gcMade[0]);
        EXPECT_TRUE(GcTest_Alive(made));
        g_GameData.scriptObjectModel = true;
        VM_GarbageCollect();
        g_GameData.scriptObjectModel = false;
        EXPECT_FALSE(GcTest_Alive(made));
        EXPECT_TRUE(g_GlobalObject && g_GlobalObject->tableIndex >= 0);
    }
}

}  // namespace
