// With-blocks on assembled programs over a fake room: which instances a block visits and in which order,
// self and other inside and after it, the early exit, the object form, and the guards that keep a block's
// record out of reach of crafted code; then compiled code's iterator.
#include "vm_test_util.h"

#include "../support/fake_world.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "core/vm_with.h"
#include "world/object_base.h"

#include <memory>

namespace {

// Who ran: one "self/other" word per call of t_seen.
std::string g_withSeen;
std::map<CInstance*, std::string> g_withLabels;
kvtest::FakeWorld* g_withWorld = nullptr;
QZObjectBase* g_withObject = nullptr;  // what t_obj returns as an object value

std::string VmWithTest_Label(CInstance* i)
{
    if (!i) return "-";
    auto it = g_withLabels.find(i);
    return it == g_withLabels.end() ? "?" : it->second;
}

void VmWithTest_Seen(RValue*, CInstance* self, CInstance* other, int32_t, RValue*)
{
    g_withSeen += (g_withSeen.empty() ? "" : " ") + VmWithTest_Label(self) + "/" + VmWithTest_Label(other);
}

// Puts an instance of object 1 at the end of the room, as if the body had just made it.
CInstance* g_withNewcomer = nullptr;
void VmWithTest_Spawn(RValue*, CInstance*, CInstance*, int32_t, RValue*)
{
    g_withWorld->room.push_back(g_withNewcomer);
}

void VmWithTest_Undefined(RValue* result, CInstance*, CInstance*, int32_t, RValue*) { RValue_SetUndefined(result); }

// Takes any number of arguments (the interpreter frees them).
void VmWithTest_Sink(RValue*, CInstance*, CInstance*, int32_t, RValue*) {}

void VmWithTest_Obj(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    result->obj = g_withObject;
    result->flags = 0;
    result->kind = VALUE_OBJECT;
}

// Instances: S and O are the code's self and other (in no list); the room holds what a row asks for.
class VmWithTest : public vmtest::VmProgramTest {
protected:
    void SetUp() override
    {
        VmProgramTest::SetUp();
        world_ = std::make_unique<kvtest::FakeWorld>();
        g_withWorld = world_.get();
        world_->AddObject(1, "obj_one");
        world_->AddObject(2, "obj_two", 1);  // a child of obj_one
        world_->AddObject(3, "obj_three");
        self_ = Make(100001, 3, "S", false);
        other_ = Make(100002, 3, "O", false);
        g_withSeen.clear();
        header_ = ".version 15\n";
        header_ += ".function t_seen " + std::to_string(vmtest::Builtin("t_seen", VmWithTest_Seen)) + "\n";
        header_ += ".function t_spawn " + std::to_string(vmtest::Builtin("t_spawn", VmWithTest_Spawn)) + "\n";
        header_ += ".function t_obj " + std::to_string(vmtest::Builtin("t_obj", VmWithTest_Obj)) + "\n";
        header_ += ".function t_undef " + std::to_string(vmtest::Builtin("t_undef", VmWithTest_Undefined)) + "\n";
        header_ += ".function t_sink " + std::to_string(vmtest::Builtin("t_sink", VmWithTest_Sink)) + "\n";
    }
    void TearDown() override
    {
        WithList_Release();
        world_.reset();
        g_withWorld = nullptr;
        g_withLabels.clear();
        VmProgramTest::TearDown();
    }

    CInstance* Make(int32_t id, int32_t object, const std::string& label, bool inRoom = true)
    {
        CInstance* i = inRoom ? world_->AddInstance(id, object) : world_->MakeInstance(id, object);
        g_withLabels[i] = label;
        return i;
    }

    bool BuildProgram(const std::string& body)
    {
        if (!Build(header_ + body)) return false;
        PrepareAll();
        baseline_ = MemoryManager_Probe();
        return true;
    }

    // Runs an entry on self S and other O; what t_seen saw.
    std::string Run(const std::string& entry)
    {
        g_withSeen.clear();
        wadtest::g_exitCalls = 0;
        release_.text.clear();
        CCode* code = Entry(entry);
        if (!code) return "<no entry>";
        VM_Exec(code, self_, other_, nullptr, nullptr, 0, nullptr, nullptr);
        return g_withSeen;
    }

    void ExpectBaseline(const std::string& what)
    {
        WithList_Release();
        ObjectBasePool_Clear();
        Error_ResetState();
        EXPECT_EQ(VM_CurrentFrame, nullptr) << what;
        EXPECT_EQ(VM_StringHandlesInUse(), 0) << what;
        MemoryProbe now = MemoryManager_Probe();
        EXPECT_EQ(now.liveBlocks, baseline_.liveBlocks) << what;
        EXPECT_EQ(now.heapBytesInUse, baseline_.heapBytesInUse) << what;
    }

    std::unique_ptr<kvtest::FakeWorld> world_;
    CInstance* self_ = nullptr;
    CInstance* other_ = nullptr;
    std::string header_;
    MemoryProbe baseline_{};
};

// A block over target: t_seen in the body, then once after the block.
std::string VmWithTest_Block(const std::string& target)
{
    return " " + target + "\n pushenv pop\nbody:\n call.i t_seen 0\n popz.v\npop:\n popenv body\n call.i t_seen 0\n"
           " popz.v\n";
}

TEST_F(VmWithTest, TargetsVisitTheirInstancesInOrderAndRestoreSelfAndOther)
{
    struct Instance {
        int32_t id, object;
        const char* label;
        bool marked, deactivated;
    };
    struct Row {
        const char* what;
        std::vector<Instance> room;
        std::vector<Instance> pendingChange;  // A, B ... of the room may be named again by label
        std::vector<Instance> pendingActivation;
        const char* target;  // the push of the target
        const char* seen;
    };
    const Row rows[] = {
        {"all over one instance", {{100010, 1, "A", false, false}}, {}, {}, "push.e -3", "A/S S/O"},
        {"all over two visits them in list order",
         {{100010, 1, "A", false, false}, {100011, 3, "B", false, false}}, {}, {}, "push.e -3", "A/S B/S S/O"},
        {"all over three visits them last to first",
         {{100010, 1, "A", false, false}, {100011, 3, "B", false, false}, {100012, 2, "C", false, false}}, {}, {},
         "push.e -3", "C/S B/S A/S S/O"},
        {"all over five visits them last to first",
         {{100010, 1, "A", false, false},
          {100011, 3, "B", false, false},
          {100012, 2, "C", false, false},
          {100013, 1, "D", false, false},
          {100014, 1, "E", false, false}},
         {}, {}, "push.e -3", "E/S D/S C/S B/S A/S S/O"},
        {"all skips deactivated and marked instances",
         {{100010, 1, "A", false, true}, {100011, 3, "B", false, false}, {100012, 3, "C", true, false}}, {}, {},
         "push.e -3", "B/S S/O"},
        {"all over an empty room skips the body", {}, {}, {}, "push.e -3", "S/O"},
        {"an object's instances and its descendants'",
         {{100010, 1, "A", false, false}, {100011, 3, "B", false, false}, {100012, 2, "C", false, false}}, {}, {},
         "push.e 1", "A/S C/S S/O"},
        {"a child object's target leaves its parent's instances out",
         {{100010, 1, "A", false, false}, {100012, 2, "C", false, false}}, {}, {}, "push.e 2", "C/S S/O"},
        {"an object whose instances are all deactivated skips the body",
         {{100010, 1, "A", false, true}, {100011, 1, "B", false, true}}, {}, {}, "push.e 1", "S/O"},
        {"an object without instances skips the body", {{100011, 3, "B", false, false}}, {}, {}, "push.e 1", "S/O"},
        {"an object index that names no object skips the body", {{100010, 1, "A", false, false}}, {}, {},
         "push.e 9", "S/O"},
        {"a pending object change of the object is visited once although its list holds it",
         {{100010, 1, "A", false, false}, {100011, 1, "B", false, false}}, {{100010, 1, "A", false, false}}, {},
         "push.e 1", "B/S A/S S/O"},
        {"a pending activation of exactly the object is added",
         {{100010, 1, "A", false, false}}, {}, {{100020, 1, "P", false, false}}, "push.e 1", "A/S P/S S/O"},
        {"pending instances of a descendant or a deactivated one are not",
         {{100010, 1, "A", false, false}},
         {{100021, 2, "Q", false, false}},
         {{100022, 1, "R", false, true}},
         "push.e 1", "A/S S/O"},
        {"three from the object and pending lists: last to first",
         {{100010, 1, "A", false, false}}, {{100020, 1, "P", false, false}}, {{100021, 1, "Q", false, false}},
         "push.e 1", "Q/S P/S A/S S/O"},
        {"an instance id", {{100010, 1, "A", false, false}, {100011, 1, "B", false, false}}, {}, {},
         "push.i 100011", "B/S S/O"},
        {"an instance id of a deactivated instance skips", {{100010, 1, "A", false, true}}, {}, {},
         "push.i 100010", "S/O"},
        {"an instance id of a marked instance skips", {{100010, 1, "A", true, false}}, {}, {}, "push.i 100010",
         "S/O"},
        {"an instance id that names none skips", {}, {}, {}, "push.i 100077", "S/O"},
        {"self: other becomes the old self", {}, {}, {}, "push.e -1", "S/S S/O"},
        {"-6 is self as well", {}, {}, {}, "push.e -6", "S/S S/O"},
        {"other: self and other swap", {}, {}, {}, "push.e -2", "O/S S/O"},
        {"noone skips the body", {{100010, 1, "A", false, false}}, {}, {}, "push.e -4", "S/O"},
        {"another negative target skips the body", {{100010, 1, "A", false, false}}, {}, {}, "push.e -9", "S/O"},
    };
    std::string source;
    for (size_t i = 0; i < std::size(rows); ++i)
        source += ".code ksl_with" + std::to_string(i) + "\n" + VmWithTest_Block(rows[i].target);
    ASSERT_TRUE(BuildProgram(source));

    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.what);
        world_->room.clear();
        world_->pendingChange.clear();
        world_->pendingActivation.clear();
        std::map<std::string, CInstance*> byLabel;
        auto place = [&](const Instance& entry, std::vector<CInstance*>& list) {
            CInstance* i = byLabel.count(entry.label) ? byLabel[entry.label] : world_->MakeInstance(entry.id, entry.object);
            byLabel[entry.label] = i;
            g_withLabels[i] = entry.label;
            world_->Get(i).marked = entry.marked;
            world_->Get(i).deactivated = entry.deactivated;
            list.push_back(i);
        };
        for (const Instance& entry : row.room) place(entry, world_->room);
        for (const Instance& entry : row.pendingChange) place(entry, world_->pendingChange);
        for (const Instance& entry : row.pendingActivation) place(entry, world_->pendingActivation);
        baseline_ = MemoryManager_Probe();

        EXPECT_EQ(Run("ksl_with" + std::to_string(i)), row.seen);
        EXPECT_EQ(wadtest::g_exitCalls, 0) << release_.text;
        ExpectBaseline(row.what);
        // Instances made for the row stay in the fake world (freed with it); ids are unique per row only.
        for (auto& [label, instance] : byLabel) world_->Get(instance).id = -1;
    }
}

TEST_F(VmWithTest, BlocksNestLeaveEarlyAndIgnoreInstancesMadeInTheirBody)
{
    struct Row {
        const char* what;
        const char* body;
        const char* seen;
    };
    const Row rows[] = {
        {"nested blocks: the inner other is the outer block's self, each end restores its own",
         " push.e 1\n pushenv pop1\nbody1:\n call.i t_seen 0\n popz.v\n push.e 3\n pushenv pop2\nbody2:\n"
         " call.i t_seen 0\n popz.v\npop2:\n popenv body2\n call.i t_seen 0\n popz.v\npop1:\n popenv body1\n"
         " call.i t_seen 0\n popz.v\n",
         "A/S T/A A/S B/S T/B B/S S/O"},
        {"nested self and other blocks",
         " push.e -2\n pushenv pop1\nbody1:\n push.e -2\n pushenv pop2\nbody2:\n call.i t_seen 0\n popz.v\n"
         "pop2:\n popenv body2\n call.i t_seen 0\n popz.v\npop1:\n popenv body1\n call.i t_seen 0\n popz.v\n",
         "S/O O/S S/O"},
        {"the early exit after the first of three visits restores self and other",
         " push.e -3\n pushenv pop\nbody:\n call.i t_seen 0\n popz.v\n popenv exit\n b after\npop:\n popenv body\n"
         "after:\n call.i t_seen 0\n popz.v\n",
         "T/S S/O"},
        {"the early exit of a two-instance block",
         " push.e 1\n pushenv pop\nbody:\n call.i t_seen 0\n popz.v\n popenv exit\n b after\npop:\n popenv body\n"
         "after:\n call.i t_seen 0\n popz.v\n",
         "A/S S/O"},
        {"the early exit of an inner block leaves the outer one running",
         " push.e 1\n pushenv pop1\nbody1:\n push.e -3\n pushenv pop2\nbody2:\n call.i t_seen 0\n popz.v\n"
         " popenv exit\n b after2\npop2:\n popenv body2\nafter2:\n call.i t_seen 0\n popz.v\npop1:\n popenv body1\n"
         " call.i t_seen 0\n popz.v\n",
         "T/A A/S T/B B/S S/O"},
        {"an instance made in the body of a with over its object is not visited",
         " push.e 1\n pushenv pop\nbody:\n call.i t_spawn 0\n popz.v\n call.i t_seen 0\n popz.v\npop:\n popenv body\n"
         " call.i t_seen 0\n popz.v\n",
         "A/S B/S S/O"},
        {"a skipped block inside a body changes nothing",
         " push.e 1\n pushenv pop1\nbody1:\n push.e -4\n pushenv pop2\nbody2:\n call.i t_seen 0\n popz.v\npop2:\n"
         " popenv body2\n call.i t_seen 0\n popz.v\npop1:\n popenv body1\n call.i t_seen 0\n popz.v\n",
         "A/S B/S S/O"},
    };
    std::string source;
    for (size_t i = 0; i < std::size(rows); ++i) source += ".code ksl_nest" + std::to_string(i) + "\n" + rows[i].body;
    ASSERT_TRUE(BuildProgram(source));
    Make(100010, 1, "A");
    Make(100011, 1, "B");
    Make(100012, 3, "T");
    g_withNewcomer = Make(100013, 1, "N", false);
    const std::vector<CInstance*> room = world_->room;
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].what);
        world_->room = room;
        baseline_ = MemoryManager_Probe();
        EXPECT_EQ(Run("ksl_nest" + std::to_string(i)), rows[i].seen);
        EXPECT_EQ(wadtest::g_exitCalls, 0) << release_.text;
        world_->room = room;  // the newcomer stays out of the next row
        ExpectBaseline(rows[i].what);
    }
}

TEST_F(VmWithTest, ObjectFormMakesTheObjectSelfAndRefusesOtherValues)
{
    QZObjectBase* object = ObjectBase_Alloc(2, VALUE_UNSET, true);
    g_withObject = object;
    g_withLabels[reinterpret_cast<CInstance*>(object)] = "J";
    const std::string block = " pushenv pop obj\nbody:\n call.i t_seen 0\n popz.v\npop:\n popenv body\n"
                              " call.i t_seen 0\n popz.v\n";
    ASSERT_TRUE(BuildProgram(".code ksl_obj\n call.i t_obj 0\n" + block +
                             ".code ksl_real\n push.e 3\n conv.i.v\n" + block +
                             ".code ksl_undef\n call.i t_undef 0\n" + block));
    EXPECT_EQ(Run("ksl_obj"), "J/S S/O");
    EXPECT_EQ(wadtest::g_exitCalls, 0) << release_.text;
    ExpectBaseline("object form");

    struct Row {
        const char* entry;
        const char* message;
    };
    const Row rows[] = {{"ksl_real", "FOo"}, {"ksl_undef", "FOo"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.entry);
        EXPECT_EQ(Run(row.entry), "");
        EXPECT_EQ(wadtest::g_exitCalls, 1);
        const std::string reported = kvtest::ReportedMessages(release_.text);
        EXPECT_NE(reported.find(std::string("ERROR!!! :: ") + row.message + "\n"), std::string::npos) << reported;
        ExpectBaseline(row.entry);
    }
    g_withObject = nullptr;
    ObjectBase_Free(object);
}

TEST_F(VmWithTest, BadTargetsAreReportedAndOpenBlocksFreed)
{
    struct Row {
        const char* what;
        std::string body;
        const char* message;
        const char* seen;
    };
    const Row rows[] = {
        {"global", VmWithTest_Block("push.e -5"), "Cannot use global in with statement", ""},
        {"local", VmWithTest_Block("push.e -7"), "Cannot use local in with statement", ""},
        {"global inside a three-instance block",
         " push.e -3\n pushenv pop\nbody:\n call.i t_seen 0\n popz.v\n push.e -5\n pushenv inner\ninner:\n"
         " popenv inner\npop:\n popenv body\n",
         "Cannot use global in with statement", "C/S"},
        {"a non-object value in the object form inside a block",
         " push.e -3\n pushenv pop\nbody:\n call.i t_seen 0\n popz.v\n push.e 3\n conv.i.v\n pushenv inner obj\n"
         "inner:\n popenv inner\npop:\n popenv body\n",
         "FOo", "C/S"},
    };
    std::string source;
    for (size_t i = 0; i < std::size(rows); ++i) source += ".code ksl_bad" + std::to_string(i) + "\n" + rows[i].body;
    ASSERT_TRUE(BuildProgram(source));
    Make(100010, 1, "A");
    Make(100011, 1, "B");
    Make(100012, 3, "C");
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].what);
        baseline_ = MemoryManager_Probe();
        EXPECT_EQ(Run("ksl_bad" + std::to_string(i)), rows[i].seen);
        EXPECT_EQ(wadtest::g_exitCalls, 1);
        const std::string reported = kvtest::ReportedMessages(release_.text);
        EXPECT_NE(reported.find(std::string("ERROR!!! :: ") + rows[i].message + "\n"), std::string::npos)
            << reported;
        ExpectBaseline(rows[i].what);  // the stopped frame freed its open blocks' arrays
    }
}

// Code the loader's checks refuse never runs; the handlers still keep a block's record out of reach of
// whatever reaches them. Here they run on a frame of their own.
TEST_F(VmWithTest, HandlersKeepTheRecordOutOfReach)
{
    constexpr uint32_t kPushEnv = 0xBA000000u, kPushEnvObject = 0xBA800000u, kPopEnv = 0xBB000000u,
                       kPopEnvExit = 0xBBF00000u, kPopzI = 0x9E020000u, kPopzV = 0x9E050000u,
                       kSwapV = 0x86050111u;  // dup.v 0x11 1: one value and the one below change places
    struct HandlerFrame {
        std::vector<uint8_t> block = std::vector<uint8_t>(4096);
        VMFrame frame{};
        uint8_t* sp = nullptr;
        HandlerFrame(CInstance* self, CInstance* other)
        {
            frame.stackBlock = block.data();
            frame.stackSize = int64_t(block.size());
            frame.record = block.data() + block.size() - 256;
            frame.codeName = "ksl_handlers";
            frame.self = self;
            frame.other = other;
            sp = frame.record;
        }
        void Int(int32_t v)
        {
            sp -= 4;
            std::memcpy(sp, &v, 4);
        }
        void Real(double d)
        {
            RValue v;
            RValue_SetReal(&v, d);
            sp -= 16;
            std::memcpy(sp, &v, 16);
        }
        void Run(uint32_t word) { sp = VM_OpHandlers[(word >> 24) & 31](word, sp, nullptr, &frame); }
    };
    struct Row {
        const char* what;
        void (*steps)(HandlerFrame& h);
        const char* message;
    };
    const Row rows[] = {
        {"popenv without a block", [](HandlerFrame& h) { h.Run(kPopEnv); }, "DoPopEnv :: no with-block to end"},
        {"an early exit without a block", [](HandlerFrame& h) { h.Run(kPopEnvExit); },
         "DoPopEnv :: early exit outside a with-block"},
        {"popenv over a word that looks like a record",
         [](HandlerFrame& h) {
             for (int i = 0; i < 6; ++i) h.Int(-1);
             h.Run(kPopEnv);
         },
         "DoPopEnv :: no with-block to end"},
        {"popenv over an item above the record",
         [](HandlerFrame& h) {
             h.Int(-1);
             h.Run(kPushEnv);
             h.Int(7);
             h.Run(kPopEnv);
         },
         "DoPopEnv :: items above the with-block record"},
        {"an early exit over an item above the record",
         [](HandlerFrame& h) {
             h.Int(-2);
             h.Run(kPushEnv);
             h.Real(1);
             h.Run(kPopEnvExit);
         },
         "DoPopEnv :: items above the with-block record"},
        {"a callee's popenv does not reach its caller's block",
         [](HandlerFrame& h) {
             h.Int(-1);
             h.Run(kPushEnv);
             h.frame.record = h.sp - 128;  // as a script call would put its record below the block's
             h.sp = h.frame.record;
             h.Run(kPopEnv);
         },
         "DoPopEnv :: no with-block to end"},
        {"a pop of an int that would cross the record",
         [](HandlerFrame& h) {
             h.Int(5);
             h.Int(-1);
             h.Run(kPushEnv);
             h.Run(kPopzI);
         },
         "DoPopNull :: stack underflow"},
        {"a pop of a value that would cross the record",
         [](HandlerFrame& h) {
             h.Real(5);
             h.Int(-1);
             h.Run(kPushEnv);
             h.Run(kPopzV);
         },
         "DoPopNull :: stack underflow"},
        {"a swap that would reach under the record",
         [](HandlerFrame& h) {
             h.Real(5);
             h.Int(-1);
             h.Run(kPushEnv);
             h.Real(6);
             h.Run(kSwapV);
         },
         "DoDup :: stack underflow"},
        {"pushenv without a target", [](HandlerFrame& h) { h.Run(kPushEnv); }, "DoPushEnv :: stack underflow"},
        {"the object form without a value",
         [](HandlerFrame& h) {
             h.Int(1);
             h.Int(2);
             h.Run(kPushEnvObject);
         },
         "DoPushEnv :: stack underflow"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        wadtest::g_exitCalls = 0;
        release_.text.clear();
        HandlerFrame h(self_, other_);
        row.steps(h);
        EXPECT_TRUE(h.frame.stopped);
        EXPECT_EQ(wadtest::g_exitCalls, 1);
        const std::string reported = kvtest::ReportedMessages(release_.text);
        EXPECT_NE(reported.find(std::string("ERROR!!! :: ") + row.message + "\n"), std::string::npos) << reported;
        h.frame.record = h.block.data() + h.block.size() - 256;
        VM_WithUnwind(&h.frame, nullptr);
        EXPECT_EQ(h.frame.withRecord, 0);
        EXPECT_EQ(h.frame.self, self_);
        EXPECT_EQ(h.frame.other, other_);
        Error_ResetState();
    }
}

TEST_F(VmWithTest, CodeThatEndsInsideABlockGivesBackItsRecords)
{
    // 768 values on the stack (doubling with dup), then all taken by one call: the block grows at least once.
    const std::string grow = " push.e 1\n conv.i.v\n dup.v 0\n dup.v 1\n dup.v 3\n dup.v 7\n dup.v 15\n dup.v 31\n"
                             " dup.v 63\n dup.v 127\n dup.v 255\n dup.v 255\n call.i t_sink 768\n popz.v\n";
    struct Row {
        const char* what;
        std::string body;
        const char* seen;
    };
    const Row rows[] = {
        {"an exit inside a three-instance block at the top level",
         " push.e -3\n pushenv pop\nbody:\n call.i t_seen 0\n popz.v\n exit.i\npop:\n popenv body\n", "C/S"},
        {"a ret inside nested blocks at the top level",
         " push.e -3\n pushenv pop\nbody:\n push.e 1\n pushenv pop2\nbody2:\n call.i t_seen 0\n ret.v\npop2:\n"
         " popenv body2\npop:\n popenv body\n",
         "A/C"},
        {"a script that returns from inside its blocks: the caller's self and other are back",
         " call.i leaver 0\n popz.v\n call.i t_seen 0\n popz.v\n", "C/S A/C S/O"},
        {"a script that exits inside a block, within a caller's block",
         " push.e -1\n pushenv pop\nbody:\n call.i exiter 0\n popz.v\n call.i t_seen 0\n popz.v\npop:\n"
         " popenv body\n call.i t_seen 0\n popz.v\n",
         "C/S S/S S/O"},
        {"a block over three survives the stack block being replaced under it",
         " push.e -3\n pushenv pop\nbody:\n" + grow + " call.i t_seen 0\n popz.v\npop:\n popenv body\n"
         " call.i t_seen 0\n popz.v\n",
         "C/S B/S A/S S/O"},
    };
    std::string source =
        ".code ksl_Script_leaver\n.script leaver\n push.e -3\n pushenv pop\nbody:\n call.i t_seen 0\n popz.v\n"
        " push.e 1\n pushenv pop2\nbody2:\n call.i t_seen 0\n ret.v\npop2:\n popenv body2\npop:\n popenv body\n"
        ".code ksl_Script_exiter\n.script exiter\n push.e -3\n pushenv pop\nbody:\n call.i t_seen 0\n popz.v\n"
        " exit.i\npop:\n popenv body\n";
    for (size_t i = 0; i < std::size(rows); ++i) source += ".code ksl_end" + std::to_string(i) + "\n" + rows[i].body;
    ASSERT_TRUE(BuildProgram(source));
    Make(100010, 1, "A");
    Make(100011, 1, "B");
    Make(100012, 3, "C");
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].what);
        baseline_ = MemoryManager_Probe();
        EXPECT_EQ(Run("ksl_end" + std::to_string(i)), rows[i].seen);
        EXPECT_EQ(wadtest::g_exitCalls, 0) << release_.text;
        ExpectBaseline(rows[i].what);
    }
}

// Compiled code's iterator, driven the way compiled code drives it.
class WithIteratorTest : public testing::Test {
protected:
    void SetUp() override
    {
        world_.AddObject(1, "obj_one");
        world_.AddObject(2, "obj_two", 1);
        self_ = world_.MakeInstance(100001, 2);
        other_ = world_.MakeInstance(100002, 2);
        g_withLabels[self_] = "S";
        g_withLabels[other_] = "O";
    }
    void TearDown() override
    {
        WithList_Release();
        g_withLabels.clear();
    }

    CInstance* Add(int32_t id, int32_t object, const char* label)
    {
        CInstance* i = world_.AddInstance(id, object);
        g_withLabels[i] = label;
        return i;
    }

    // "count: visits | after" where each visit is self/other.
    std::string Drive(int32_t target)
    {
        CInstance* self = self_;
        CInstance* other = other_;
        WithIterator it;
        const int32_t count = WithIterator_Init(&it, &self, &other, target);
        std::string visits;
        if (count > 0) do {
                visits += (visits.empty() ? "" : " ") + VmWithTest_Label(self) + "/" + VmWithTest_Label(other);
            } while (WithIterator_Next(&it, &self));
        WithIterator_Finish(&it, &self, &other);
        return std::to_string(count) + ": " + visits + " | " + VmWithTest_Label(self) + "/" + VmWithTest_Label(other);
    }

    kvtest::FakeWorld world_;
    CInstance* self_ = nullptr;
    CInstance* other_ = nullptr;
};

TEST_F(WithIteratorTest, CountsOrderAndRestoreByTarget)
{
    CInstance* a = Add(100010, 1, "A");
    Add(100011, 2, "B");
    CInstance* c = Add(100012, 1, "C");
    CInstance* d = world_.MakeInstance(100013, 1);
    g_withLabels[d] = "D";
    world_.pendingChange = {a, d};  // A is also in the object's list
    world_.pendingActivation = {c, d};
    struct Row {
        const char* what;
        int32_t target;
        const char* result;
    };
    const Row rows[] = {
        {"self", -1, "1: S/S | S/O"},
        {"-6 is self", -6, "1: S/S | S/O"},
        {"other swaps", -2, "1: O/S | S/O"},
        {"all: last to first", -3, "3: C/S B/S A/S | S/O"},
        {"an object: its list, then pending instances it does not hold, each once, last to first", 1,
         "4: D/S C/S B/S A/S | S/O"},
        {"a child object", 2, "1: B/S | S/O"},
        {"an object without instances", 5, "0:  | S/O"},
        {"an instance id", 100011, "1: B/S | S/O"},
        {"an unknown instance id", 100099, "0:  | S/O"},
        {"noone", -4, "-1:  | S/O"},
        {"global", -5, "-1:  | S/O"},
        {"local", -7, "-1:  | S/O"},
        {"another negative target", -8, "0:  | S/O"},
    };
    const MemoryProbe before = MemoryManager_Probe();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Drive(row.target), row.result);
        EXPECT_EQ(WithList_Count(), 0);
    }
    WithList_Release();
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, before.liveBlocks);  // every array was freed by Finish

    world_.room.clear();
    EXPECT_EQ(Drive(-3), "0:  | S/O");
    world_.Get(a).deactivated = true;
    world_.Get(c).marked = true;
    world_.room = {a, c};
    EXPECT_EQ(Drive(-3), "0:  | S/O");
}

TEST(WithList, AddUniqueMovesAnInstanceToTheEnd)
{
    kvtest::FakeWorld world;
    CInstance* a = world.MakeInstance(100001, 1);
    CInstance* b = world.MakeInstance(100002, 1);
    WithList_Clear();
    EXPECT_FALSE(WithList_AddUnique(a));
    WithList_Add(b);
    EXPECT_TRUE(WithList_AddUnique(a));
    ASSERT_EQ(WithList_Count(), 2);
    EXPECT_EQ(WithList_At(0), b);
    EXPECT_EQ(WithList_At(1), a);
    CInstance* last = nullptr;
    CInstance** array = WithList_ToArray(&last);
    EXPECT_EQ(array[0], nullptr);
    EXPECT_EQ(array[1], b);
    EXPECT_EQ(last, a);
    MemFree(array);
    WithList_Clear();
    EXPECT_EQ(WithList_ToArray(&last), nullptr);
    EXPECT_EQ(last, nullptr);
    WithList_Release();
}

}  // namespace
