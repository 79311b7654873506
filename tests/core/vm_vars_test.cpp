// Variable pushes and pops by scope on assembled programs in a small fake room: every scope form read and
// written, plain and indexed, scope in the word and on the stack; the exact messages; the stack item
// operations around them (dup and its swap form, the swap form of pop, popz of every type).
#include "vm_test_util.h"

#include "core/memory_manager.h"
#include "core/value.h"
#include "core/varlist.h"
#include "ds/buffer.h"
#include "fake_world.h"
#include "script/script.h"
#include "world/loader.h"
#include "world/object_base.h"

#include <cinttypes>
#include <functional>
#include <memory>

namespace {

std::string g_varsOut;

std::string VmVarsTest_Text(const RValue* v)
{
    char buffer[64];
    switch (RValue_Kind(v)) {
    case VALUE_REAL: std::snprintf(buffer, sizeof buffer, "%g", v->real); return buffer;
    case VALUE_INT32: std::snprintf(buffer, sizeof buffer, "i%d", v->v32); return buffer;
    case VALUE_INT64: std::snprintf(buffer, sizeof buffer, "l%" PRId64, v->v64); return buffer;
    case VALUE_BOOL: return v->real != 0 ? "true" : "false";
    case VALUE_STRING: return v->str && v->str->text ? v->str->text : "";
    case VALUE_UNDEFINED: return "undefined";
    case VALUE_UNSET: return "unset";
    case VALUE_ARRAY: {
        std::string s = "[";
        for (int32_t r = 0; v->arr && r < v->arr->rowCount; ++r) {
            s += r ? "|" : "";
            for (int32_t c = 0; c < v->arr->rows[r].length; ++c)
                s += (c ? "," : "") + VmVarsTest_Text(&v->arr->rows[r].items[c]);
        }
        return s + "]";
    }
    default: return "kind" + std::to_string(RValue_Kind(v));
    }
}

// t_out(a, b, ...): one line with the arguments' texts.
void VmVarsTest_Out(RValue*, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    std::string line;
    for (int32_t i = 0; i < argc; ++i) line += (i ? " " : "") + VmVarsTest_Text(&args[i]);
    g_varsOut += line + "\n";
}

// t_counts(a, ...): the reference count each string or array argument holds ("-" for other kinds).
void VmVarsTest_Counts(RValue*, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    std::string line;
    for (int32_t i = 0; i < argc; ++i) {
        const uint32_t kind = RValue_Kind(&args[i]);
        line += i ? " " : "";
        if (kind == VALUE_STRING && args[i].str) line += std::to_string(args[i].str->refCount);
        else if (kind == VALUE_ARRAY && args[i].arr) line += std::to_string(args[i].arr->refCount);
        else line += "-";
    }
    g_varsOut += line + "\n";
}

void VmVarsTest_Text2(RValue* result, CInstance*, CInstance*, int32_t, RValue*) { RValue_SetString(result, "txt"); }

void VmVarsTest_Array(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    RValue one;
    RValue_SetReal(&one, 1);
    RValue_SetWithIndex(result, &one, 0);
    RValue_SetReal(&one, 2);
    RValue_SetWithIndex(result, &one, 1);
}

// Built-in variables: one whose getter fails, one without a setter, one that can be written.
double g_varsRw = 0;
bool VmVarsTest_GetFail(CInstance*, int32_t, RValue*) { return false; }
bool VmVarsTest_GetRo(CInstance*, int32_t, RValue* out)
{
    RValue_SetReal(out, 42);
    return true;
}
bool VmVarsTest_GetRw(CInstance*, int32_t, RValue* out)
{
    RValue_SetReal(out, g_varsRw);
    return true;
}
bool VmVarsTest_SetRw(CInstance*, int32_t, RValue* value)
{
    g_varsRw = RValue_ToReal(value);
    return true;
}

constexpr int32_t kSelfId = 100001, kSecondId = 100002, kOtherId = 100003;
constexpr int32_t kPlayer = 3, kEmpty = 4, kFoe = 5;
constexpr int32_t kX = 0, kY = 1;  // instance slots of x and y (ids 100000, 100001)
constexpr int32_t kGlobalX = 2;    // global.x comes after g0 and g1

class VmVarsTest : public vmtest::VmProgramTest {
public:  // the scope table's holders reach into the fixture
    void SetUp() override
    {
        VmProgramTest::SetUp();
        g_varsOut.clear();
        g_varsRw = 0;
        ObjectBase_Free(ObjectBase_Alloc(1, VALUE_UNSET, true));  // the object table keeps its array
        ObjectBasePool_Clear();
        header_ = ".version 15\n";
        Fix(".function", "t_out", vmtest::Builtin("t_out", VmVarsTest_Out));
        Fix(".function", "t_counts", vmtest::Builtin("t_counts", VmVarsTest_Counts));
        Fix(".function", "t_text", vmtest::Builtin("t_text", VmVarsTest_Text2));
        Fix(".function", "t_array", vmtest::Builtin("t_array", VmVarsTest_Array));
        if (Variable_BuiltIn_Find("t_fail") < 0) Variable_BuiltIn_Add("t_fail", VmVarsTest_GetFail, nullptr);
        if (Variable_BuiltIn_Find("t_ro") < 0) Variable_BuiltIn_Add("t_ro", VmVarsTest_GetRo, nullptr);
        if (Variable_BuiltIn_Find("t_rw") < 0) Variable_BuiltIn_Add("t_rw", VmVarsTest_GetRw, VmVarsTest_SetRw);
        for (const char* name : {"t_fail", "t_ro", "t_rw"}) Fix(".bvar", name, Variable_BuiltIn_Find(name));
        world_ = std::make_unique<kvtest::FakeWorld>();
        world_->AddObject(kPlayer, "obj_player");
        world_->AddObject(kEmpty, "obj_empty");
        world_->AddObject(kFoe, "obj_foe");
        self_ = world_->AddInstance(kSelfId, kPlayer);
        second_ = world_->AddInstance(kSecondId, kPlayer);
        other_ = world_->AddInstance(kOtherId, kFoe);
        savedModel_ = g_GameData.scriptObjectModel;
    }
    void TearDown() override
    {
        ScriptModel_Set(nullptr);
        JS_PendingException = {};
        g_GameData.scriptObjectModel = savedModel_;
        world_.reset();
        VmProgramTest::TearDown();
    }

    void Fix(const char* directive, const char* name, int32_t id)
    {
        header_ += std::string(directive) + " " + name + " " + std::to_string(id) + "\n";
    }

    // Every program also names two globals and the instance variables x and y first, so that their ids
    // are fixed: x and g0 are 100000, y and g1 100001.
    bool BuildProgram(const std::string& body)
    {
        const std::string names = ".code ksl_names\n push.v self.x\n push.v self.y\n push.v global.g0\n"
                                  " push.v global.g1\n exit.i\n";
        if (!Build(header_ + names + body)) return false;
        PrepareAll();
        ObjectBasePool_Clear();
        baseline_ = MemoryManager_Probe();
        return true;
    }

    RValue* Slot(CInstance* i, int32_t n) { return ObjectBase_GetSlot(world_->Object(i), n); }
    RValue* Global(int32_t n) { return ObjectBase_GetSlotDirect(g_GlobalObject, n); }

    // Runs an entry on self and other; returns the result's text ("untouched" when nothing was returned).
    std::string Run(const std::string& entry, CInstance* self = nullptr, CInstance* other = nullptr)
    {
        CCode* code = Entry(entry);
        if (!code) return "<no entry>";
        RValue result;
        RValue_SetUndefined(&result);
        RValue_SetString(&result, "untouched");
        VM_Exec(code, self ? self : self_, other ? other : other_, &result, nullptr, 0, nullptr, nullptr);
        std::string text = VmVarsTest_Text(&result);
        RValue_Free(&result);
        return text;
    }

    // The first reported message, without its frame; "" when nothing was reported.
    std::string Message()
    {
        std::string reduced = kvtest::ReportedMessages(release_.text);
        const std::string start = "ERROR!!! :: ";
        size_t at = reduced.find(start);
        if (at == std::string::npos) return "";
        at += start.size();
        return reduced.substr(at, reduced.find('\n', at) - at);
    }
    void ClearReports()
    {
        release_.text.clear();
        wadtest::g_exitCalls = 0;
        kvtest::ForgetErrorAbort();
        Error_ResetState();
    }

    // Empties every instance and global slot a program may have written.
    void ClearValues()
    {
        for (CInstance* i : {self_, second_, other_})
            for (int32_t n = 0; n < 8; ++n) {
                RValue* v = Slot(i, n);
                RValue_Free(v);
                v->kind = VALUE_UNSET;
            }
        for (int32_t n = 0; g_GlobalObject && n < g_GlobalObject->slotCount; ++n) {
            RValue* v = Global(n);
            RValue_Free(v);
            v->kind = VALUE_UNSET;
            v->flags = 0;
        }
    }

    // The interpreter gave back everything the run took.
    void ExpectBaseline(const std::string& what)
    {
        ClearValues();
        Error_ResetState();
        ObjectBasePool_Clear();
        EXPECT_EQ(VM_StringHandlesInUse(), 0) << what;
        EXPECT_EQ(VM_CurrentFrame, nullptr) << what;
        EXPECT_EQ(VM_ArgCount, 0) << what;
        MemoryProbe now = MemoryManager_Probe();
        EXPECT_EQ(now.liveBlocks, baseline_.liveBlocks) << what;
        EXPECT_EQ(now.heapBytesInUse, baseline_.heapBytesInUse) << what;
    }

    // Marks variable id 100000 + n as one that global-or-self code resolves in the globals.
    void FlagGlobal(int32_t n)
    {
        Variable_InitFlags();
        Buffer_Standard out(16, buffer_grow, 1);
        Variable_Global_Serialise(&out);
        std::string bytes(reinterpret_cast<const char*>(out.GetData()), size_t(out.GetPosition()));
        const size_t flags = bytes.size() - size_t(Variable_FlagCount()) * 4;
        const int32_t one = 1;
        std::memcpy(&bytes[flags + size_t(n) * 4], &one, 4);
        Buffer_Standard in(bytes.data(), int32_t(bytes.size()), buffer_fixed, 1, false);
        ASSERT_TRUE(Variable_Global_Deserialise(&in));
        ASSERT_EQ(Variable_GetFlags(100000 + n), 1);
    }

    std::unique_ptr<kvtest::FakeWorld> world_;
    CInstance* self_ = nullptr;
    CInstance* second_ = nullptr;
    CInstance* other_ = nullptr;
    std::string header_;
    MemoryProbe baseline_{};
    bool savedModel_ = false;
};

// Where a scope's value lands: the holders that must hold 7.5 after the pop (empty: only the read-back
// shows it, as for locals, which end with the run).
struct VmVarsScope {
    const char* name;
    const char* token;  // the scope as the assembler writes it in the word
    int32_t stacked;    // the same scope as an int32 on the stack
    std::function<std::vector<RValue*>(VmVarsTest*)> holders;
};

TEST_F(VmVarsTest, EveryScopeWritesAndReadsPlainAndIndexedInTheWordAndStacked)
{
    const int32_t packed = 1 * ARRAY_INDEX_STRIDE + 2;  // [1][2]
    const std::vector<VmVarsScope> scopes = {
        {"object index", "3", kPlayer, [](VmVarsTest* t) { return std::vector<RValue*>{t->Slot(t->self_, kX), t->Slot(t->second_, kX)}; }},
        {"instance id", "100002", kSecondId, [](VmVarsTest* t) { return std::vector<RValue*>{t->Slot(t->second_, kX)}; }},
        {"self", "self", -1, [](VmVarsTest* t) { return std::vector<RValue*>{t->Slot(t->self_, kX)}; }},
        {"other", "other", -2, [](VmVarsTest* t) { return std::vector<RValue*>{t->Slot(t->other_, kX)}; }},
        {"global", "global", -5, [](VmVarsTest* t) { return std::vector<RValue*>{t->Global(kGlobalX)}; }},
        {"global or self, unflagged", "-6", -6, [](VmVarsTest* t) { return std::vector<RValue*>{t->Slot(t->self_, kX)}; }},
        {"local", "local", -7, [](VmVarsTest*) { return std::vector<RValue*>{}; }},
        {"local or self", "-8", -8, [](VmVarsTest* t) { return std::vector<RValue*>{t->Slot(t->self_, kX)}; }},
        {"scope chain", "-11", -11, [](VmVarsTest* t) { return std::vector<RValue*>{t->Global(0)}; }},
    };
    std::string source;
    struct Case {
        std::string entry, what;
        size_t scope;
        bool indexed;
    };
    std::vector<Case> cases;
    for (size_t s = 0; s < scopes.size(); ++s)
        for (bool indexed : {false, true})
            for (bool stacked : {false, true}) {
                const std::string entry = "ksl_c" + std::to_string(cases.size());
                // A stacked scope says nothing of the variable's kind: the record names it.
                const char* kind = s == 6 ? "@local" : (s == 4 && stacked) ? "@global" : "";
                const std::string var = std::string(stacked ? "stacked" : scopes[s].token) + ".x" +
                                        (indexed ? "[]" : "") + kind;
                std::string operands;
                if (stacked) operands += " push.i " + std::to_string(scopes[s].stacked) + "\n";
                if (indexed) operands += " push.i " + std::to_string(packed) + "\n";
                source += ".code " + entry + "\n" + (s == 6 ? ".locals x\n" : "") + " push.d 7.5\n" + operands +
                          " pop.v.d " + var + "\n" + operands + " push.v " + var + "\n ret.v\n";
                cases.push_back({entry, std::string(scopes[s].name) + (indexed ? " indexed" : " plain") +
                                            (stacked ? " stacked" : " in the word"),
                                 s, indexed});
            }
    ASSERT_TRUE(BuildProgram(source));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearReports();
        EXPECT_EQ(Run(c.entry), "7.5");
        EXPECT_EQ(Message(), "");
        for (RValue* holder : scopes[c.scope].holders(this)) {
            if (c.indexed) {
                ASSERT_EQ(RValue_Kind(holder), uint32_t(VALUE_ARRAY));
                EXPECT_EQ(VmVarsTest_Text(holder), "[|0,0,7.5]");
            } else {
                EXPECT_EQ(VmVarsTest_Text(holder), "7.5");
            }
        }
        // No other instance or global was touched.
        int32_t written = 0;
        for (CInstance* i : {self_, second_, other_}) written += RValue_Kind(Slot(i, kX)) != VALUE_UNSET;
        written += RValue_Kind(Global(0)) != VALUE_UNSET;
        written += RValue_Kind(Global(kGlobalX)) != VALUE_UNSET;
        EXPECT_EQ(size_t(written), scopes[c.scope].holders(this).size());
        ExpectBaseline(c.what);
    }
}

// Scopes that only read: all reads the first live instance of the room; a local that holds a value wins
// over self for -8; -6 and -8 of a flagged variable go to the globals; a read by instance id of a
// deactivated instance still finds it.
TEST_F(VmVarsTest, ReadOnlyScopesAndFlaggedVariablesReadWhereTheyShould)
{
    ASSERT_TRUE(BuildProgram(".code ksl_all\n push.v all.x\n ret.v\n"
                             ".code ksl_allStacked\n push.i -3\n push.v stacked.x\n ret.v\n"
                             ".code ksl_localWins\n.locals x\n push.d 9\n pop.v.d local.x\n push.v -8.x\n ret.v\n"
                             ".code ksl_flagged6\n push.d 4\n pop.v.d -6.y\n push.v -6.y\n ret.v\n"
                             ".code ksl_flagged8\n push.d 5\n pop.v.d -8.y\n push.v -8.y\n ret.v\n"
                             ".code ksl_otherObject\n push.v 5.x\n ret.v\n"));
    RValue_SetReal(Slot(self_, kX), 1);
    RValue_SetReal(Slot(second_, kX), 2);
    RValue_SetReal(Slot(other_, kX), 3);
    world_->Get(self_).marked = true;  // the first live instance is the second
    EXPECT_EQ(Run("ksl_all"), "2");
    EXPECT_EQ(Run("ksl_allStacked"), "2");
    world_->Get(self_).marked = false;
    EXPECT_EQ(Run("ksl_localWins"), "9");
    EXPECT_EQ(VmVarsTest_Text(Slot(self_, kX)), "1");
    EXPECT_EQ(Run("ksl_otherObject"), "3");
    EXPECT_EQ(Message(), "");
    FlagGlobal(kY);
    ObjectBasePool_Clear();
    baseline_ = MemoryManager_Probe();
    EXPECT_EQ(Run("ksl_flagged6"), "4");
    EXPECT_EQ(VmVarsTest_Text(Global(kY)), "4");
    EXPECT_EQ(Run("ksl_flagged8"), "5");
    EXPECT_EQ(VmVarsTest_Text(Global(kY)), "5");
    EXPECT_EQ(RValue_Kind(Slot(self_, kY)), uint32_t(VALUE_UNSET));
    EXPECT_EQ(Message(), "");
    ExpectBaseline("flagged");
}

// Pops take their value by T2; .l becomes a real for pop.i and an int64 for pop.v; pop.i has the value on
// top and the operands below it.
TEST_F(VmVarsTest, PopsConvertTheirValueByItsType)
{
    struct Row {
        const char* push;
        const char* pop;
        const char* stored;
    };
    const Row rows[] = {
        {"push.d 2.5", "pop.v.d", "2.5"},   {"push.i -3", "pop.v.i", "-3"},    {"push.l 7", "pop.v.l", "l7"},
        {"push.l 7", "pop.i.l", "7"},       {"push.b 1", "pop.v.b", "true"},   {"push.s \"s\"", "pop.v.s", "s"},
        {"call.i t_text 0", "pop.v.v", "txt"}, {"push.b 0", "pop.i.b", "false"}, {"push.s \"t\"", "pop.i.s", "t"},
    };
    std::string source;
    for (size_t i = 0; i < std::size(rows); ++i) {
        const bool valueOnTop = rows[i].pop[4] == 'i';
        // pop.i: the index operand goes first, the value on top of it.
        source += ".code ksl_p" + std::to_string(i) + "\n" + (valueOnTop ? " push.i 1\n " : " ") + rows[i].push +
                  "\n" + (valueOnTop ? "" : " push.i 1\n") + " " + rows[i].pop + " self.x[]\n exit.i\n";
    }
    ASSERT_TRUE(BuildProgram(source));
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].pop);
        ClearReports();
        Run("ksl_p" + std::to_string(i));
        EXPECT_EQ(Message(), "");
        EXPECT_EQ(VmVarsTest_Text(Slot(self_, kX)), std::string("[0,") + rows[i].stored + "]");
        ExpectBaseline(rows[i].pop);
    }
}

TEST_F(VmVarsTest, EveryMessageIsExact)
{
    const int32_t count = Variable_BuiltIn_Count();
    struct Row {
        const char* what;
        std::string body;
        std::string message;
    };
    const std::vector<Row> rows = {
        {"not set, naming self's object", "push.v self.y\n ret.v\n",
         "Variable obj_player.y(100001, -2147483648) not set before reading it."},
        {"not set, an instance by id", "push.v 100003.y\n ret.v\n",
         "Variable obj_foe.y(100001, -2147483648) not set before reading it."},
        {"index out of range on push", "call.i t_array 0\n pop.v.v self.x\n push.i 32005\n push.v self.x[]\n ret.v\n",
         "Push :: Execution Error - Variable Index [1,5] out of range [1,-1] - -1.x(100000,32005)"},
        {"index out of range on the prepared local pop", "push.d 1\n conv.d.v\n push.i -1\n pop.v.v local.a[]\n exit.i\n",
         "Pop :: Execution Error - Variable Index [0,-1] out of range [1,0] - -7.a(100000,-1)"},
        {"index out of range on pop", "push.d 1\n push.i -1\n pop.v.d self.x[]\n exit.i\n",
         "Pop :: Execution Error - Variable Index [0,-1] out of range [1,0] - -1.x(100000,-1)"},
        {"object index without instances", "push.v 4.x\n ret.v\n",
         "Unable to find any instance for object index '4' name 'obj_empty'"},
        {"noone", "push.v noone.x\n ret.v\n", "Unable to find any instance for object index '-4' name '<undefined>'"},
        {"an instance id that names none", "push.v 100099.x\n ret.v\n",
         "Unable to find any instance for object index '100099' name '<undefined>'"},
        {"getter failed, self shown by id", "push.v self.t_fail@builtin\n ret.v\n",
         "Push :: Execution Error - Variable Get 100001.t_fail(" + std::to_string(Variable_BuiltIn_Find("t_fail")) +
             ", -2147483648)"},
        {"pop into all", "push.d 1\n pop.v.d all.x\n exit.i\n",
         "Pop :: Execution Error - Variable references invalid object (-3).x"},
        {"pop into noone", "push.d 1\n pop.v.d noone.x\n exit.i\n",
         "Pop :: Execution Error - Variable references invalid object (-4).x"},
        {"pop into -14", "push.d 1\n pop.v.d -14.x\n exit.i\n",
         "Pop :: Execution Error - Variable references invalid object (-14).x"},
        {"push of -14", "push.v -14.x\n ret.v\n", "Variable <unknown_object>.x(100000, -2147483648) not set before reading it."},
        {"read only", "push.d 1\n pop.v.d self.t_ro@builtin\n exit.i\n",
         "Pop :: Execution Error - Variable set failed t_ro - read only variable?"},
        {"pop with T1 .d", "push.d 1\n .word 0x4500ffff 0xa00186a0\n exit.i\n",
         "Pop :: Execution Error - Instruction malformed"},
        {"pop of a .f", "push.f 1\n pop.v.f self.x\n exit.i\n", "Pop :: Execution Engine"},
        {"push.b past the table", "pushb.v builtin.#" + std::to_string(count) + "\n ret.v\n",
         "DoPushBuiltin :: variable index is out of range " + std::to_string(count) + " max is " +
             std::to_string(count)},
        {"model scope with the model off", "push.i 1\n pop.v.i -12.x\n exit.i\n",
         "Pop :: Execution Error - scope -12 needs the script object model"},
        {"push of a model scope with the model off", "push.v -13.x\n ret.v\n",
         "DoPush :: Execution Error - scope -13 needs the script object model"},
    };
    std::string source;
    for (size_t i = 0; i < rows.size(); ++i) source += ".code ksl_m" + std::to_string(i) + "\n " + rows[i].body;
    ASSERT_TRUE(BuildProgram(source));
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].what);
        ClearReports();
        Run("ksl_m" + std::to_string(i));
        EXPECT_EQ(Message(), rows[i].message);
        EXPECT_GE(wadtest::g_exitCalls, 1);
        ExpectBaseline(rows[i].what);
    }
}

// dup of two values leaves four, and each copy holds its own reference.
TEST_F(VmVarsTest, DupOfTwoValuesRaisesEachCountPerCopy)
{
    ASSERT_TRUE(BuildProgram(".code ksl_dup1\n call.i t_array 0\n call.i t_text 0\n dup.v 1\n call.i t_counts 4\n"
                             " popz.v\n"
                             ".code ksl_dup2\n call.i t_array 0\n call.i t_text 0\n dup.v 1\n dup.v 1\n"
                             " call.i t_counts 6\n popz.v\n"
                             ".code ksl_dups\n push.s \"s\"\n dup.s 0\n dup.s 1\n call.i t_out 0\n popz.v\n popz.s\n popz.s\n"
                             " popz.s\n popz.s\n"));
    EXPECT_EQ(Run("ksl_dup1"), "untouched");
    EXPECT_EQ(g_varsOut, "2 2 2 2\n");
    g_varsOut.clear();
    Run("ksl_dup2");
    EXPECT_EQ(g_varsOut, "3 3 3 3 3 3\n");
    EXPECT_EQ(Message(), "");
    ExpectBaseline("dup");  // every copy was released once
    Run("ksl_dups");       // three more .s handles of one text, each released by its popz
    EXPECT_EQ(Message(), "");
    ExpectBaseline("dup.s");
}

// The swap form of dup exchanges the top a values with the b below them; the swap form of pop moves the top
// item below n bytes of mixed items and then moves the stack pointer.
TEST_F(VmVarsTest, SwapFormsMoveItemsOfMixedSizes)
{
    struct Row {
        const char* what;
        const char* body;
        const char* out;
    };
    const Row rows[] = {
        {"dup swap 1 with 1", "push.d 1\n conv.d.v\n push.d 2\n conv.d.v\n dup.v 0x11 1\n call.i t_out 2\n", "1 2"},
        {"dup swap 2 with 1",
         "push.d 1\n conv.d.v\n push.d 2\n conv.d.v\n push.d 3\n conv.d.v\n dup.v 0x21 1\n call.i t_out 3\n",
         "1 3 2"},
        {"dup swap 1 with 2",
         "push.d 1\n conv.d.v\n push.d 2\n conv.d.v\n push.d 3\n conv.d.v\n dup.v 0x12 1\n call.i t_out 3\n",
         "2 1 3"},
        // A value moves below an int32 and a double: the int32 and the double move up by 16 bytes.
        {"pop swap of a value below 12 bytes",
         "push.d 5\n push.i 6\n call.i t_text 0\n pop.e.v 3 0\n conv.i.v\n call.i t_out 1\n popz.v\n conv.d.v\n"
         " call.i t_out 1\n popz.v\n call.i t_out 1\n",
         "6\n5\ntxt"},
        // An int32 moves below a value, which is then only 4-byte aligned: the discard copes, and releases it.
        {"pop swap of an int32 below a value", "call.i t_text 0\n push.i 9\n pop.e.i 4 0\n popz.v\n conv.i.v\n call.i t_out 1\n",
         "9"},
        // The pointer moves by m words after the swap: a negative m exposes zeroed bytes.
        {"pop swap moving the pointer", "push.i 8\n pop.e.i 0 -1\n conv.i.v\n call.i t_out 1\n popz.v\n conv.i.v\n",
         "0"},
    };
    std::string source;
    for (size_t i = 0; i < std::size(rows); ++i)
        source += ".code ksl_s" + std::to_string(i) + "\n " + rows[i].body + " popz.v\n exit.i\n";
    ASSERT_TRUE(BuildProgram(source));
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].what);
        ClearReports();
        g_varsOut.clear();
        Run("ksl_s" + std::to_string(i));
        EXPECT_EQ(Message(), "");
        EXPECT_EQ(g_varsOut, std::string(rows[i].out) + "\n");
        ExpectBaseline(rows[i].what);
    }
}

// popz discards an item of every type and releases what it holds; an unset value is an error.
TEST_F(VmVarsTest, PopzDiscardsEveryType)
{
    ASSERT_TRUE(BuildProgram(".code ksl_z\n push.d 1\n push.f 2\n push.i 3\n push.l 4\n push.b 1\n push.s \"s\"\n"
                             " call.i t_array 0\n call.i t_text 0\n push.i 77\n"
                             " popz.i\n popz.v\n popz.v\n popz.s\n popz.b\n popz.l\n popz.i\n popz.f\n popz.d\n"
                             " push.e 5\n ret.i\n"
                             ".code ksl_zunset\n push.v -14.x\n popz.v\n exit.i\n"));
    EXPECT_EQ(Run("ksl_z"), "5");
    EXPECT_EQ(Message(), "");
    ExpectBaseline("popz");
    g_GameData.scriptObjectModel = true;  // the push of an unset value passes only with the model on
    Run("ksl_zunset");
    EXPECT_EQ(Message(), "Unable to find a handler for exception DoPopNull : Could not find variable");
    g_GameData.scriptObjectModel = false;
    ExpectBaseline("popz of unset");
}

}  // namespace

namespace {

// A frame over a small block, for forms the loader's check keeps out of programs (it refuses them before
// they run), so that only these calls reach the handlers' own guards.
struct VmVarsDirect {
    alignas(16) uint8_t block[2048] = {};
    VMFrame frame{};
    uint8_t* sp = nullptr;

    explicit VmVarsDirect(CInstance* self = nullptr, QZObjectBase* locals = nullptr)
    {
        frame.stackBlock = block;
        frame.stackSize = sizeof block;
        frame.record = block + sizeof block - sizeof(VMCallRecord) - 16;
        frame.self = self;
        frame.locals = locals;
        frame.localsSupplied = 1;
        frame.codeName = "ksl_direct";
        sp = frame.record;
    }
    void PushI32(int32_t v)
    {
        sp -= 4;
        std::memcpy(sp, &v, 4);
    }
    void PushValue(const RValue& v)
    {
        sp -= 16;
        std::memcpy(sp, &v, 16);
    }
    int32_t TopI32() const
    {
        int32_t v;
        std::memcpy(&v, sp, 4);
        return v;
    }
    void Run(VMHandler handler, uint32_t word, uint32_t reference = 0)
    {
        uint8_t operand[4];
        std::memcpy(operand, &reference, 4);
        VMFrame* const saved = VM_CurrentFrame;
        VM_CurrentFrame = &frame;
        sp = handler(word, sp, operand, &frame);
        VM_CurrentFrame = saved;
    }
};

constexpr uint32_t kVmVarsSelfX = 0xA00186A0u;     // plain, scope in the word, id 100000
constexpr uint32_t kVmVarsStackedX = 0x800186A0u;  // plain, scope on the stack

TEST_F(VmVarsTest, HandlerGuardsReportFormsNoProgramCanReach)
{
    struct Row {
        const char* what;
        VMHandler handler;
        uint32_t word, reference;
        int32_t pushed;  // int32 items on the stack first
        const char* message;
    };
    const Row rows[] = {
        {"pop below the record", DoPop, 0x4505FFFFu, kVmVarsSelfX, 0, "DoPop :: stack underflow"},
        {"pop.i with its value but no index", DoPop, 0x4522FFFFu, 0x200186A0u, 1, "DoPop :: stack underflow"},
        {"push with a stacked scope below the record", DoPush, 0xC0050000u, kVmVarsStackedX, 0,
         "DoPush :: stack underflow"},
        {"pop swap beyond the items", DoPop, 0x052F0002u, 0, 1,
         "DoPop :: swap of 8 bytes below a 4-byte item beyond the stack items"},
        {"pop swap giving up more than the items", DoPop, 0x052F0200u, 0, 1,
         "DoPop :: swap of 0 bytes below a 4-byte item beyond the stack items"},
        {"delete with the model off", DoPop, 0x4585FFF5u, kVmVarsSelfX, 0,
         "Pop :: Execution Engine - delete needs the script object model"},
        {"declaration with the model off", DoPop, 0x4595FFF4u, kVmVarsSelfX, 0,
         "Pop :: Execution Engine - a declaration needs the script object model"},
        {"pop without a variable", DoPop, 0x0505FFFFu, 0, 0, "Pop :: Execution Error - Instruction malformed"},
        {"callv with the model off", DoCall, 0x99050000u, 0, 0, "DoCall :: callv needs the script object model"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ClearReports();
        VmVarsDirect d(self_);
        for (int32_t i = 0; i < row.pushed; ++i) d.PushI32(i);
        uint8_t* const before = d.sp;
        d.Run(row.handler, row.word, row.reference);
        EXPECT_EQ(Message(), row.message);
        EXPECT_EQ(d.sp, before) << "nothing taken";
        EXPECT_TRUE(d.frame.stopped);
    }
    // A scope taken from the stack may not name the object scopes: their object and key items would be
    // read although the instruction never accounted for them.
    for (int32_t scope : {-9, -10}) {
        for (bool pop : {false, true}) {
            SCOPED_TRACE(std::to_string(scope) + (pop ? " pop" : " push"));
            ClearReports();
            VmVarsDirect d(self_);
            RValue forged;
            RValue_SetReal(&forged, 1.0);
            if (pop) d.PushI32(7);  // the value of pop.v.i lies below the variable's items
            d.PushValue(forged);
            d.PushValue(forged);
            d.PushI32(scope);
            uint8_t* const before = d.sp;
            d.Run(pop ? DoPop : DoPush, pop ? 0x45250000u : 0xC0050000u, kVmVarsStackedX);
            EXPECT_EQ(Message(), pop ? "DoPop :: Execution Error" : "DoPush :: Execution Error");
            EXPECT_EQ(d.sp, before) << "nothing taken";
            EXPECT_TRUE(d.frame.stopped);
        }
    }
    // popz of types 7 to 15 takes nothing.
    for (uint32_t type = 7; type <= 15; ++type) {
        ClearReports();
        VmVarsDirect d;
        d.PushI32(5);
        uint8_t* const before = d.sp;
        d.Run(DoPopNull, 0x9E000000u | (type << 16));
        EXPECT_EQ(d.sp, before) << type;
        EXPECT_EQ(Message(), "") << type;
    }
    // The prepared local pop guards its operands as the general one does.
    QZObjectBase* locals = VM_CreateLocals(2);
    {
        ClearReports();
        VmVarsDirect d(self_, locals);
        d.PushI32(1);
        d.Run(DoPopLocal, 0x4555FFF9u, 0x000186A0u);  // indexed, scope on the stack: 24 bytes wanted
        EXPECT_EQ(Message(), "DoPopLocal :: stack underflow");
    }
    ObjectBase_Free(locals);
}

// ---- the script object model ----

struct VmVarsModelLog {
    std::vector<std::string> calls;
    bool throwsPend = false;
};
VmVarsModelLog g_varsModel;
std::vector<QZObjectBase*> g_varsObjects;
RValue g_varsThrown;

void VmVarsModel_Throw(const std::string& kind, const char* message)
{
    g_varsModel.calls.push_back(kind + ":" + (message ? message : ""));
    if (g_varsModel.throwsPend) {
        JS_PendingException.pending = true;
        JS_PendingException.handlerFrame = nullptr;  // no handler: the run ends
    }
}
void VmVarsModel_TypeError(const char* message) { VmVarsModel_Throw("TypeError", message); }
void VmVarsModel_ReferenceError(const char* message) { VmVarsModel_Throw("ReferenceError", message); }
void VmVarsModel_Put(QZObjectBase* object, const RValue* value, const char* name, bool)
{
    int32_t which = -1;
    for (size_t i = 0; i < g_varsObjects.size(); ++i)
        if (g_varsObjects[i] == object) which = int32_t(i);
    g_varsModel.calls.push_back("put o" + std::to_string(which) + "." + name + "=" + VmVarsTest_Text(value));
}
void VmVarsModel_Get(QZObjectBase*, RValue* result, const char* name)
{
    g_varsModel.calls.push_back(std::string("get ") + name);
    RValue_SetReal(result, 4);
}
bool VmVarsModel_Element(const RValue*, const RValue* key, RValue* result)
{
    g_varsModel.calls.push_back("element " + VmVarsTest_Text(key));
    RValue_SetReal(result, 9);
    return true;
}
int32_t VmVarsModel_ToString(RValue* result, const RValue* value)
{
    RValue_SetUndefined(result);
    if (RValue_Kind(value) != VALUE_STRING) return 1;
    RValue_Copy(result, value);
    return 0;
}
void VmVarsModel_Arguments(RValue* result, QZObjectBase*, int32_t argc, RValue* args, bool)
{
    g_varsModel.calls.push_back("arguments " + std::to_string(argc) + " " + (argc ? VmVarsTest_Text(&args[0]) : ""));
    RValue_SetUndefined(result);
    result->obj = g_varsObjects.back();
    result->kind = VALUE_OBJECT;
}

const ScriptModel kVmVarsModel = [] {
    ScriptModel m{};
    m.toString = VmVarsModel_ToString;
    m.put = VmVarsModel_Put;
    m.get = VmVarsModel_Get;
    m.arrayGetElement = VmVarsModel_Element;
    m.createArgumentsObject = VmVarsModel_Arguments;
    m.throwTypeError = VmVarsModel_TypeError;
    m.throwReferenceError = VmVarsModel_ReferenceError;
    return m;
}();

// t_obj(n): object value n; t_undef and t_unset: those kinds.
void VmVarsTest_Obj(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const int32_t n = int32_t(args[0].real);
    result->obj = g_varsObjects[size_t(n)];
    result->flags = 0;
    result->kind = VALUE_OBJECT;
}
void VmVarsTest_Undef(RValue* result, CInstance*, CInstance*, int32_t, RValue*) { RValue_SetUndefined(result); }
void VmVarsTest_Unset(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    result->v64 = 0;
    result->flags = 0;
    result->kind = VALUE_UNSET;
}

// What a called script sees: its self, its locals' slot 0 and scope link, by object number.
std::string g_varsLook;
void VmVarsTest_Look(RValue*, CInstance* self, CInstance*, int32_t, RValue*)
{
    auto number = [](const void* p) {
        for (size_t i = 0; i < g_varsObjects.size(); ++i)
            if (g_varsObjects[i] == p) return "o" + std::to_string(i);
        return std::string(p ? "?" : "null");
    };
    QZObjectBase* locals = VM_CurrentFrame ? VM_CurrentFrame->locals : nullptr;
    const RValue* zero = locals && locals->slots ? &locals->slots[0] : nullptr;
    g_varsLook = "self " + number(self) + " slot0 " + (zero && RValue_Kind(zero) == VALUE_OBJECT ? number(zero->obj) : "none") +
                 " flags " + std::to_string(zero ? zero->flags : 99) + " scope " +
                 number(locals ? locals->scopeNext : nullptr);
}

// A native function of a function object: records its this and arguments, answers 11.
std::string g_varsNative;
void VmVarsTest_Native(RValue* result, CInstance* self, CInstance*, int32_t argc, RValue* args)
{
    g_varsNative = std::to_string(argc) + " " + (argc ? VmVarsTest_Text(&args[0]) : "") + " this o" +
                   std::to_string(self == reinterpret_cast<CInstance*>(g_varsObjects[0]) ? 0 : -1);
    RValue_SetReal(result, 11);
}

// The try hook and the throw: the hook records its frame and where its result goes; the throw makes
// "boom" pending.
void VmVarsTest_Try(RValue*, CInstance*, CInstance*, int32_t, RValue* args)
{
    VMFrame* f = VM_CurrentFrame;
    JS_PendingException.handlerFrame = f;
    JS_PendingException.handlerPosition = f->stackBlock + f->stackSize - reinterpret_cast<uint8_t*>(args);
}
void VmVarsTest_Throw(RValue*, CInstance*, CInstance*, int32_t, RValue*)
{
    JS_PendingException.pending = true;
    JS_PendingException.thrown = &g_varsThrown;
}

class VmVarsModelTest : public VmVarsTest {
public:
    void SetUp() override
    {
        VmVarsTest::SetUp();
        g_varsModel = {};
        g_varsLook.clear();
        g_varsNative.clear();
        g_GameData.scriptObjectModel = true;
        ScriptModel_Set(&kVmVarsModel);
        Fix(".function", "t_obj", vmtest::Builtin("t_obj", VmVarsTest_Obj));
        Fix(".function", "t_undef", vmtest::Builtin("t_undef", VmVarsTest_Undef));
        Fix(".function", "t_unset", vmtest::Builtin("t_unset", VmVarsTest_Unset));
        Fix(".function", "t_look", vmtest::Builtin("t_look", VmVarsTest_Look));
        Fix(".function", "t_try", vmtest::Builtin("t_try", VmVarsTest_Try));
        Fix(".function", "t_throw", vmtest::Builtin("t_throw", VmVarsTest_Throw));
        // o0 plain with x = 5; o1 inherits from o0; o2 has an accessor x; o3 is an array; o4 a native
        // function; o5 a script function; o6 the scope of o5; o7 an object without call properties; o8 the
        // arguments object.
        for (int i = 0; i < 9; ++i) {
            QZObjectBase* o = ObjectBase_Alloc(0, VALUE_UNSET, false);
            if (!o->named) o->named = new CVariableList();
            g_varsObjects.push_back(o);
        }
        RValue v;
        RValue_SetReal(&v, 5);
        ObjectBase_SetProperty(g_varsObjects[0], "x", &v, 7);
        ObjectBase_AddObjectProperty(g_varsObjects[1], "[[Prototype]]", g_varsObjects[0], 0);
        accessor_ = ObjectBase_Alloc(0, VALUE_UNSET, false);
        accessor_->objectKind = OBJECT_KIND_ACCESSOR;
        ObjectBase_AddObjectProperty(g_varsObjects[2], "x", accessor_, 7);
        ObjectBase_AddStringProperty(g_varsObjects[3], "[[Class]]", "Array", 0);
        ObjectBase_AddPointerProperty(g_varsObjects[4], "[[Call_Cpp]]", reinterpret_cast<void*>(VmVarsTest_Native), 0);
        ObjectBase_AddObjectProperty(g_varsObjects[5], "[[Scope]]", g_varsObjects[6], 0);
    }
    void TearDown() override
    {
        for (QZObjectBase* o : g_varsObjects) ObjectBase_Free(o);
        g_varsObjects.clear();
        ObjectBase_Free(accessor_);
        VmVarsTest::TearDown();
    }
    bool BuildModelProgram(const std::string& body)
    {
        if (!BuildProgram(body)) return false;
        g_GameData.scriptObjectModel = true;  // the load took the header's switch, which these programs leave off
        // The script function names the first script.
        ObjectBase_AddPointerProperty(g_varsObjects[5], "[[Call_Script]]", Script_Data(0), 0);
        ObjectBasePool_Clear();
        baseline_ = MemoryManager_Probe();
        return true;
    }
    QZObjectBase* accessor_ = nullptr;
};

std::string VmVarsTest_Obj(int n) { return " push.e " + std::to_string(n) + "\n conv.i.v\n call.i t_obj 1\n"; }

TEST_F(VmVarsModelTest, ObjectScopesReadAndWriteThroughTheModel)
{
    struct Row {
        const char* what;
        std::string body;
        const char* result;
        std::vector<std::string> calls;
    };
    const std::vector<Row> rows = {
        {"-9 reads an own property", VmVarsTest_Obj(0) + " push.v -9.x\n ret.v\n", "5", {}},
        {"-9 reads along the prototype", VmVarsTest_Obj(1) + " push.v -9.x\n ret.v\n", "5", {}},
        {"-9 reads a missing property as undefined", VmVarsTest_Obj(0) + " push.v -9.y\n ret.v\n", "undefined", {}},
        {"-9 of an accessor calls its getter", VmVarsTest_Obj(2) + " push.v -9.x\n ret.v\n", "undefined", {}},
        {"-9 of undefined throws a TypeError", " call.i t_undef 0\n push.v -9.x\n ret.v\n", "undefined",
         {"TypeError:Variable <unknown_object>.x(100000, -2147483648) cannot be resolved."}},
        {"-9 of unset throws a ReferenceError", " call.i t_unset 0\n push.v -9.x\n ret.v\n", "undefined",
         {"ReferenceError:Variable <unknown_object>.x(100000, -2147483648) cannot be resolved."}},
        {"-9 of a number that is no object", " push.e 1\n conv.i.v\n push.v -9.x\n ret.v\n", "undefined",
         {"TypeError:unable to convert to object"}},
        {"-10 of an array reads the element", " call.i t_text 0\n" + VmVarsTest_Obj(3) + " push.v -10.x\n ret.v\n",
         "9", {"element txt"}},
        {"-10 of an object reads by the key's text", " call.i t_text 0\n" + VmVarsTest_Obj(0) + " push.v -10.x\n ret.v\n",
         "4", {"get txt"}},
        {"-9 writes with put", " push.d 3\n" + VmVarsTest_Obj(0) + " pop.v.d -9.x\n exit.i\n", "untouched",
         {"put o0.x=3"}},
        {"-10 writes with put by the key's text", " push.d 2\n call.i t_text 0\n" + VmVarsTest_Obj(7) +
                                                      " pop.v.d -10.x\n exit.i\n",
         "untouched", {"put o7.txt=2"}},
        {"-10 with a key that has no text", " push.d 2\n push.e 1\n conv.i.v\n" + VmVarsTest_Obj(7) +
                                                " pop.v.d -10.x\n exit.i\n",
         "untouched", {"TypeError:could not convert array-style access key to a string"}},
        {"storing an unset value", " call.i t_unset 0\n pop.v.v self.x\n exit.i\n", "untouched",
         {"ReferenceError:Attempting to set variable x to an invalid value"}},
        {"an unset variable reads without a report", " push.v self.y\n ret.v\n", "unset", {}},
    };
    std::string source;
    for (size_t i = 0; i < rows.size(); ++i) source += ".code ksl_o" + std::to_string(i) + "\n" + rows[i].body;
    ASSERT_TRUE(BuildModelProgram(source));
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].what);
        ClearReports();
        g_varsModel.calls.clear();
        EXPECT_EQ(Run("ksl_o" + std::to_string(i)), rows[i].result);
        EXPECT_EQ(Message(), "");
        EXPECT_EQ(g_varsModel.calls, rows[i].calls);
        ExpectBaseline(rows[i].what);
    }
}

// -12 finds the innermost locals object up the chain that holds the variable; -13 counts scopes up by the
// id's depth byte; bit 28 of a pop takes the configurable flag off the stored value.
TEST_F(VmVarsModelTest, ScopeChainClosuresAndTheConfigurableBit)
{
    ASSERT_TRUE(BuildModelProgram(".code ksl_l12\n push.v -12.#100001\n ret.v\n"
                                  ".code ksl_w12\n push.d 8\n pop.v.d -12.#100001\n push.d 9\n pop.v.d -12.#100003\n exit.i\n"
                                  ".code ksl_l13\n push.v -13.#258\n ret.v\n"
                                  ".code ksl_w13\n push.d 3\n pop.v.d -13.#258\n exit.i\n"
                                  ".code ksl_end13\n push.v -13.#514\n ret.v\n"
                                  ".code ksl_noconfig\n pushg.v global.g1\n pop.v.v self.x noconfig\n"
                                  " pushg.v global.g1\n pop.v.v self.y\n exit.i\n"));
    QZObjectBase* inner = VM_CreateLocals(4);
    QZObjectBase* outer = VM_CreateLocals(4);
    inner->scopeNext = outer;
    RValue_SetReal(&outer->slots[1], 6);
    RValue_SetReal(&outer->slots[2], 12);
    auto run = [&](const char* entry) {
        RValue result;
        RValue_SetUndefined(&result);
        RValue_SetString(&result, "untouched");
        VM_Exec(Entry(entry), self_, other_, &result, inner, 0, nullptr, nullptr);
        std::string text = VmVarsTest_Text(&result);
        RValue_Free(&result);
        return text;
    };
    EXPECT_EQ(run("ksl_l12"), "6");
    run("ksl_w12");
    EXPECT_EQ(VmVarsTest_Text(&outer->slots[1]), "8") << "written where it is held";
    EXPECT_EQ(VmVarsTest_Text(&inner->slots[3]), "9") << "held nowhere: the innermost locals";
    EXPECT_EQ(run("ksl_l13"), "12");
    run("ksl_w13");
    EXPECT_EQ(VmVarsTest_Text(&outer->slots[2]), "3");
    EXPECT_EQ(Message(), "");
    ClearReports();
    run("ksl_end13");
    EXPECT_EQ(Message(), "Unable to find any instance for argument scope '2 / 2'");
    ClearReports();
    RValue_SetReal(Global(1), 1);
    Global(1)->flags = 7;
    run("ksl_noconfig");
    EXPECT_EQ(Slot(self_, kX)->flags, 5u);
    EXPECT_EQ(Slot(self_, kY)->flags, 7u);
    EXPECT_EQ(Message(), "");
    ObjectBase_Free(inner);
    ObjectBase_Free(outer);
    ExpectBaseline("chain");
}

// The delete and declaration forms (the loader's check refuses them in programs for now, so the handler
// is called directly).
TEST_F(VmVarsModelTest, DeleteAndDeclarationForms)
{
    ASSERT_TRUE(BuildModelProgram(".code ksl_empty\n exit.i\n"));  // names x and y
    RValue v;
    RValue_SetReal(&v, 1);
    ObjectBase_SetProperty(g_varsObjects[7], "x", &v, RVALUE_FLAG_CONFIGURABLE);
    ObjectBase_SetProperty(g_varsObjects[7], "y", &v, 0);
    RValue object;
    object.obj = g_varsObjects[7];
    object.flags = 0;
    object.kind = VALUE_OBJECT;
    struct Row {
        uint32_t id;
        int32_t outcome;
        bool present;
    };
    for (const Row row : {Row{100000, 1, false}, Row{100001, 0, true}, Row{100005, 1, false}}) {
        VmVarsDirect d(self_);
        d.PushValue(object);
        d.Run(DoPop, 0x4585FFF7u, 0xA0000000u | row.id);  // delete -9
        EXPECT_EQ(d.TopI32(), row.outcome) << row.id;
        const char* name = row.id == 100000 ? "x" : row.id == 100001 ? "y" : nullptr;
        if (name) {
            EXPECT_EQ(g_varsObjects[7]->named->FindByName(name) != nullptr, row.present) << name;
        }
    }
    {
        ClearReports();
        VmVarsDirect d(self_);
        RValue unset;
        unset.v64 = 0;
        unset.flags = 0;
        unset.kind = VALUE_UNSET;
        d.PushValue(unset);
        d.Run(DoPop, 0x4585FFF7u, kVmVarsSelfX);
        EXPECT_EQ(Message(), "Cannot find variable to delete");
    }
    // Declaration: the innermost locals' variable becomes undefined, except id 100000 (the code's own value).
    QZObjectBase* locals = VM_CreateLocals(3);
    RValue_SetReal(&locals->slots[0], 4);
    RValue_SetReal(&locals->slots[2], 4);
    for (uint32_t id : {100000u, 100002u}) {
        VmVarsDirect d(self_, locals);
        uint8_t* const before = d.sp;
        d.Run(DoPop, 0x4595FFF4u, 0xA0000000u | id);
        EXPECT_EQ(d.sp, before);
    }
    EXPECT_EQ(VmVarsTest_Text(&locals->slots[0]), "4");
    EXPECT_EQ(VmVarsTest_Text(&locals->slots[2]), "undefined");
    ObjectBase_Free(locals);
}

TEST_F(VmVarsModelTest, CallvCallsNativeAndScriptFunctionsAndRefusesOtherTargets)
{
    ASSERT_TRUE(BuildModelProgram(
        ".code ksl_Script_callee\n.script callee\n.locals a b\n call.i t_look 0\n popz.v\n push.e 7\n conv.i.v\n ret.v\n"
        ".code ksl_native\n push.e 1\n conv.i.v\n" + VmVarsTest_Obj(0) + VmVarsTest_Obj(4) + " callv.v 1\n ret.v\n"
        ".code ksl_script\n push.e 2\n conv.i.v\n" + VmVarsTest_Obj(0) + VmVarsTest_Obj(5) + " callv.v 1\n ret.v\n"
        ".code ksl_plain\n push.e 2\n conv.i.v\n" + VmVarsTest_Obj(0) + VmVarsTest_Obj(7) + " callv.v 1\n ret.v\n"
        ".code ksl_number\n push.e 2\n conv.i.v\n" + VmVarsTest_Obj(0) + " push.e 3\n conv.i.v\n callv.v 1\n ret.v\n"
        ".code ksl_unsetfn\n push.e 2\n conv.i.v\n" + VmVarsTest_Obj(0) + " call.i t_unset 0\n callv.v 1\n ret.v\n"));
    EXPECT_EQ(Run("ksl_native"), "11");
    EXPECT_EQ(g_varsNative, "1 1 this o0");
    EXPECT_EQ(Run("ksl_script"), "7");
    EXPECT_EQ(g_varsLook, "self o0 slot0 o8 flags 5 scope o6");
    EXPECT_EQ(g_varsModel.calls, std::vector<std::string>{"arguments 1 2"});
    EXPECT_EQ(Message(), "");
    ExpectBaseline("calls");
    struct Row {
        const char* entry;
        const char* message;
        const char* thrown;
    };
    for (const Row row : {Row{"ksl_plain", "Invalid callv target #1", nullptr},
                          Row{"ksl_number", "", "TypeError:Invalid callv target #2"},
                          Row{"ksl_unsetfn", "", "ReferenceError:Invalid callv target"}}) {
        SCOPED_TRACE(row.entry);
        ClearReports();
        g_varsModel = {};
        g_varsModel.throwsPend = true;
        Run(row.entry);
        EXPECT_EQ(Message(), row.message);
        EXPECT_EQ(g_varsModel.calls, row.thrown ? std::vector<std::string>{row.thrown} : std::vector<std::string>{});
        JS_PendingException = {};
        ExpectBaseline(row.entry);
    }
}

// A thrown value reaches the frame that registered the handler, at the handler's position, through any
// script calls made since; a throw no handler of this frame takes ends the run.
TEST_F(VmVarsModelTest, PendingExceptionsReachTheirHandlerOrEndTheRun)
{
    ASSERT_TRUE(BuildModelProgram(
        ".code ksl_Script_thrower\n.script thrower\n push.e 4\n conv.i.v\n call.i t_throw 0\n call.i t_out 0\n"
        " popz.v\n ret.v\n"
        ".code ksl_here\n call.i t_try 0\n popz.v\n call.i t_throw 0\n call.i t_out 1\n popz.v\n"
        ".code ksl_deep\n call.i t_try 0\n popz.v\n call.i thrower 0\n call.i t_out 1\n popz.v\n"
        ".code ksl_uncaught\n call.i thrower 0\n call.i t_out 1\n popz.v\n"));
    RValue_SetString(&g_varsThrown, "boom");
    baseline_ = MemoryManager_Probe();
    struct Row {
        const char* entry;
        const char* out;
        bool stillPending;
    };
    for (const Row row : {Row{"ksl_here", "boom\n", false}, Row{"ksl_deep", "boom\n", false},
                          Row{"ksl_uncaught", "", true}}) {
        SCOPED_TRACE(row.entry);
        JS_PendingException = {};
        if (std::string(row.entry) == "ksl_uncaught") JS_PendingException.handlerFrame = nullptr;
        g_varsOut.clear();
        ClearReports();
        Run(row.entry);
        EXPECT_EQ(g_varsOut, row.out);
        EXPECT_EQ(Message(), "");
        EXPECT_EQ(JS_PendingException.pending, row.stillPending);
        JS_PendingException = {};
        ExpectBaseline(row.entry);
    }
    RValue_Free(&g_varsThrown);
}

// With the model on, the code's own value lands in local slot 0 (flags 5); with it off nothing is stored.
TEST_F(VmVarsModelTest, TheCodesOwnValueFillsLocalSlotZero)
{
    ASSERT_TRUE(BuildModelProgram(".code ksl_own\n.locals a\n call.i t_look 0\n popz.v\n"));
    RValue own;
    own.obj = g_varsObjects[6];
    own.flags = 0;
    own.kind = VALUE_OBJECT;
    VM_Exec(Entry("ksl_own"), nullptr, nullptr, nullptr, nullptr, 0, nullptr, &own);
    EXPECT_EQ(g_varsLook, "self null slot0 o6 flags 5 scope null");
    g_GameData.scriptObjectModel = false;
    VM_Exec(Entry("ksl_own"), nullptr, nullptr, nullptr, nullptr, 0, nullptr, &own);
    EXPECT_EQ(g_varsLook, "self null slot0 none flags 0 scope null");
    ExpectBaseline("own value");
}

}  // namespace
