// The interpreter core on assembled programs: script calls and returns, exits, script_execute, built-in and
// extension calls, nesting, stack growth and the guards against bad code.
#include "vm_test_util.h"

#include "core/arguments.h"
#include "core/console.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/timing.h"
#include "core/value.h"
#include "net/net.h"
#include "platform/messages.h"
#include "services/services.h"
#include "world/object_base.h"
#include "world/run_state.h"
#include "world/runner.h"
#include "fake_world.h"

#include <algorithm>
#include <cinttypes>
#include <regex>
#include <set>

namespace {

std::string g_vmOut;

std::string VmExecTest_Text(RValue* v)
{
    char buffer[64];
    switch (RValue_Kind(v)) {
    case VALUE_REAL: std::snprintf(buffer, sizeof buffer, "%g", v->real); return buffer;
    case VALUE_INT64: std::snprintf(buffer, sizeof buffer, "%" PRId64, v->v64); return buffer;
    case VALUE_STRING: return v->str && v->str->text ? v->str->text : "";
    case VALUE_UNDEFINED: return "undefined";
    case VALUE_ARRAY: {
        std::string s = "[";
        for (int32_t r = 0; v->arr && r < v->arr->rowCount; ++r)
            for (int32_t c = 0; c < v->arr->rows[r].length; ++c)
                s += (s.size() > 1 ? "," : "") + VmExecTest_Text(&v->arr->rows[r].items[c]);
        return s + "]";
    }
    default: return "kind" + std::to_string(RValue_Kind(v));
    }
}

// t_out(a, b, ...): one line with the arguments' texts.
void VmExecTest_Out(RValue*, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    std::string line;
    for (int32_t i = 0; i < argc; ++i) line += (i ? " " : "") + VmExecTest_Text(&args[i]);
    g_vmOut += line + "\n";
}

void VmExecTest_Text(RValue* result, CInstance*, CInstance*, int32_t, RValue*) { RValue_SetString(result, "txt"); }

void VmExecTest_Array(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    RValue one;
    RValue_SetReal(&one, 1);
    RValue_SetWithIndex(result, &one, 0);
    RValue_SetReal(&one, 2);
    RValue_SetWithIndex(result, &one, 1);
}

// What a built-in sees of the interpreter while it runs.
struct VmExecSeen {
    std::string function;
    std::string traceName;
    int32_t traceLine = 0;
    VMFrame* frame = nullptr;
    int32_t argCount = -1;
    RValue* args = nullptr;
    int64_t stackSize = 0;
    std::string argTexts;
};
std::vector<VmExecSeen> g_vmSeen;

VmExecSeen VmExecTest_Look()
{
    VmExecSeen seen;
    seen.function = Function_Current ? Function_Current->name : "";
    StackTraceFrame* trace = StackTrace_Current();
    seen.traceName = trace && trace->codeName ? trace->codeName : "";
    seen.traceLine = trace ? trace->line : 0;
    seen.frame = VM_CurrentFrame;
    seen.argCount = VM_ArgCount;
    seen.args = VM_Args;
    seen.stackSize = VM_CurrentFrame ? VM_CurrentFrame->stackSize : 0;
    for (int32_t i = 0; i < VM_ArgCount; ++i) seen.argTexts += (i ? " " : "") + VmExecTest_Text(&VM_Args[i]);
    return seen;
}

void VmExecTest_Probe(RValue*, CInstance*, CInstance*, int32_t, RValue*) { g_vmSeen.push_back(VmExecTest_Look()); }

int32_t g_vmNestedScript = -1;

// Runs a script of its own (a nested VM_Exec) between two looks at the interpreter.
void VmExecTest_Nested(RValue* result, CInstance* self, CInstance* other, int32_t, RValue*)
{
    g_vmSeen.push_back(VmExecTest_Look());
    RValue values[2];
    RValue_SetReal(&values[0], 8);
    RValue_SetUndefined(&values[1]);
    RValue_SetString(&values[1], "in");
    ScriptArguments args = {2, values};
    Script_Perform(g_vmNestedScript, self, other, 2, result, &args);
    g_vmSeen.push_back(VmExecTest_Look());
}

bool VmExecTest_Arg(int32_t i, RValue* out)
{
    if (i < VM_ArgCount) RValue_Copy(out, &VM_Args[i]);
    else RValue_SetUndefined(out);
    return true;
}
bool VmExecTest_Arg0(CInstance*, int32_t, RValue* out) { return VmExecTest_Arg(0, out); }
bool VmExecTest_Arg1(CInstance*, int32_t, RValue* out) { return VmExecTest_Arg(1, out); }
bool VmExecTest_Arg2(CInstance*, int32_t, RValue* out) { return VmExecTest_Arg(2, out); }
bool VmExecTest_ArgCount(CInstance*, int32_t, RValue* out)
{
    RValue_SetReal(out, VM_ArgCount);
    return true;
}

class VmExecTest : public vmtest::VmProgramTest {
protected:
    void SetUp() override
    {
        VmProgramTest::SetUp();
        g_vmOut.clear();
        g_vmSeen.clear();
        // The object table keeps its array once it has one.
        ObjectBase_Free(ObjectBase_Alloc(1, VALUE_UNSET, true));
        ObjectBasePool_Clear();
        header_ = ".version 15\n";
        Fix(".function", "t_out", vmtest::Builtin("t_out", VmExecTest_Out));
        Fix(".function", "t_text", vmtest::Builtin("t_text", VmExecTest_Text));
        Fix(".function", "t_array", vmtest::Builtin("t_array", VmExecTest_Array));
        Fix(".function", "t_probe", vmtest::Builtin("t_probe", VmExecTest_Probe));
        Fix(".function", "t_nested", vmtest::Builtin("t_nested", VmExecTest_Nested));
        Fix(".bvar", "t_arg0", vmtest::BuiltinVariable("t_arg0", VmExecTest_Arg0));
        Fix(".bvar", "t_arg1", vmtest::BuiltinVariable("t_arg1", VmExecTest_Arg1));
        Fix(".bvar", "t_arg2", vmtest::BuiltinVariable("t_arg2", VmExecTest_Arg2));
        Fix(".bvar", "t_argc", vmtest::BuiltinVariable("t_argc", VmExecTest_ArgCount));
    }
    void TearDown() override
    {
        Profiler_Active = false;
        VmProgramTest::TearDown();
    }

    void Fix(const char* directive, const char* name, int32_t id)
    {
        header_ += std::string(directive) + " " + name + " " + std::to_string(id) + "\n";
    }

    // Builds the program and takes the memory baseline with everything loaded.
    bool BuildProgram(const std::string& body)
    {
        if (!Build(header_ + body)) return false;
        PrepareAll();
        baseline_ = MemoryManager_Probe();
        return true;
    }

    // Runs an entry with result preset to the text "untouched"; returns the result's text.
    std::string Run(const std::string& entry, int32_t argc = 0, RValue* args = nullptr)
    {
        CCode* code = Entry(entry);
        if (!code) return "<no entry>";
        RValue result;
        RValue_SetUndefined(&result);
        RValue_SetString(&result, "untouched");
        VM_Exec(code, nullptr, nullptr, &result, nullptr, argc, args, nullptr);
        std::string text = VmExecTest_Text(&result);
        RValue_Free(&result);
        return text;
    }

    // Every call's locals object takes an object-table slot while it runs, and the table keeps its grown
    // array: grow it before the baseline.
    void GrowObjectTable(int count)
    {
        std::vector<QZObjectBase*> objects;
        for (int i = 0; i < count; ++i) objects.push_back(ObjectBase_Alloc(0, VALUE_UNSET, true));
        for (QZObjectBase* o : objects) ObjectBase_Free(o);
        ObjectBasePool_Clear();
        baseline_ = MemoryManager_Probe();
    }

    // The interpreter gave back everything the run took.
    void ExpectBaseline(const char* what)
    {
        ObjectBasePool_Clear();
        Error_ResetState();
        EXPECT_EQ(VM_StringHandlesInUse(), 0) << what;
        EXPECT_EQ(VM_CurrentFrame, nullptr) << what;
        EXPECT_EQ(VM_ArgCount, 0) << what;
        EXPECT_EQ(VM_Args, nullptr) << what;
        EXPECT_EQ(Function_Current, nullptr) << what;
        EXPECT_EQ(StackTrace_Current(), nullptr) << what;
        MemoryProbe now = MemoryManager_Probe();
        EXPECT_EQ(now.liveBlocks, baseline_.liveBlocks) << what;
        EXPECT_EQ(now.heapBytesInUse, baseline_.heapBytesInUse) << what;
    }

    std::string header_;
    MemoryProbe baseline_{};
};

// Scripts every call test uses: script indexes 0 ... 8 in this order.
const char kVmScripts[] = R"(
.code ksl_Script_noret
.script noret
    push.d 7
    popz.d
.code ksl_Script_retd
.script retd
    push.d 3.5
    ret.d
.code ksl_Script_rete
.script rete
    ret.e
.code ksl_Script_exits
.script exits
    push.e 1
    conv.i.v
    exit.i
    call.i t_out 1
.code ksl_Script_echo
.script echo
    pushb.v builtin.t_arg1
    pushb.v builtin.t_arg0
    call.i t_out 2
    popz.v
    pushb.v builtin.t_argc
    ret.v
.code ksl_Script_probed
.script probed
    call.i t_probe 0
    popz.v
    call.i t_text 0
    ret.v
.code ksl_Script_nobytecode
.script nobytecode
    exit.i
.code ksl_Script_rets
.script rets
    push.s "from script"
    ret.s
.code ksl_Script_withlocal
.script withlocal
.locals a
    push.e 2
    conv.i.v
    pop.v.v local.a
    pushl.v local.a
    ret.v
)";

TEST_F(VmExecTest, CallsAndReturnsGiveTheirResults)
{
    struct Row {
        const char* what;
        const char* body;  // the top-level entry's instructions
        const char* out;   // what t_out printed
        const char* result;
    };
    const Row rows[] = {
        {"a called script without ret gives real 0", "call.i noret 0\n call.i t_out 1\n popz.v\n", "0\n", "untouched"},
        {"ret of an 8-byte item gives its value", "call.i retd 0\n call.i t_out 1\n popz.v\n", "3.5\n", "untouched"},
        {"ret of .e gives undefined", "call.i rete 0\n call.i t_out 1\n popz.v\n", "undefined\n", "untouched"},
        {"exit in a called script gives real 0 and runs nothing after it",
         "call.i exits 0\n call.i t_out 1\n popz.v\n", "0\n", "untouched"},
        {"exit at the top level ends the code", "exit.i\n call.i t_out 0\n popz.v\n", "", "untouched"},
        {"script arguments reach the script in order",
         "call.i t_text 0\n push.e 5\n conv.i.v\n call.i echo 2\n call.i t_out 1\n popz.v\n", "5 txt\n2\n",
         "untouched"},
        {"script_execute passes the remaining arguments",
         "call.i t_text 0\n push.e 2\n conv.i.v\n push.e 4\n conv.i.v\n call.i 499999 3\n call.i t_out 1\n popz.v\n",
         "2 txt\n2\n", "untouched"},
        {"a top-level ret of a value is the result", "call.i t_text 0\n ret.v\n", "", "txt"},
        {"a top-level ret of a .d item is a real", "push.d 2.5\n ret.d\n", "", "2.5"},
        {"a top-level ret of a .s item is a string", "push.s \"abc\"\n ret.s\n", "", "abc"},
        {"a duplicated .s item holds its own reference",
         "push.s \"one\"\n popz.s\n push.s \"y\"\n dup.s 0\n popz.s\n ret.s\n", "", "y"},
        {"a script returning a .s item gives a string value",
         "call.i rets 0\n call.i t_out 1\n popz.v\n", "from script\n", "untouched"},
        {"a local written by the prepared store reads back",
         ".locals a\n call.i t_text 0\n pop.v.v local.a\n push.e 5\n conv.i.v\n pop.v.v local.a\n pushl.v local.a\n"
         " ret.v\n",
         "", "5"},
        {"a called script's locals are its own",
         ".locals a\n push.e 1\n conv.i.v\n pop.v.v local.a\n call.i withlocal 0\n popz.v\n pushl.v local.a\n"
         " ret.v\n",
         "", "1"},
        {"a script without bytecode frees its arguments and gives 0",
         "call.i t_text 0\n call.i t_array 0\n call.i nobytecode 2\n call.i t_out 1\n popz.v\n", "0\n",
         "untouched"},
        {"the branches: bt and bf jump over the calls they skip",
         "push.e 1\n bt over1\n call.i t_out 0\n popz.v\nover1:\n push.e 0\n bf over2\n call.i t_out 0\n popz.v\n"
         "over2:\n push.e 0\n bt over3\n call.i t_text 0\n call.i t_out 1\n popz.v\nover3:\n b end\n"
         " call.i t_out 0\n popz.v\nend:\n",
         "txt\n", "untouched"},
    };
    std::string source = kVmScripts;
    for (size_t i = 0; i < std::size(rows); ++i)
        source += ".code ksl_top" + std::to_string(i) + "\n " + rows[i].body;
    ASSERT_TRUE(BuildProgram(source));
    CScript* bare = Script_Data(6);
    ASSERT_NE(bare, nullptr);
    delete bare->codeObject->code;  // the script keeps its code object but loses the bytecode
    bare->codeObject->code = nullptr;
    baseline_ = MemoryManager_Probe();

    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].what);
        g_vmOut.clear();
        EXPECT_EQ(Run("ksl_top" + std::to_string(i)), rows[i].result);
        EXPECT_EQ(g_vmOut, rows[i].out);
        EXPECT_EQ(wadtest::g_exitCalls, 0) << release_.text;
        ExpectBaseline(rows[i].what);
    }
}

TEST_F(VmExecTest, MissingScriptsAreReportedAndStopTheCode)
{
    const char* bodies[] = {
        "push.e 99\n conv.i.v\n call.i 499999 1\n call.i t_out 0\n popz.v\n",  // script_execute of nothing
        "call.i 100009 0\n call.i t_out 0\n popz.v\n",                          // the empty script slot
        "call.i 100040 0\n call.i t_out 0\n popz.v\n",                          // an index past the table
    };
    std::string source = std::string(kVmScripts) + ".script -\n";  // index 9
    for (size_t i = 0; i < std::size(bodies); ++i) source += ".code ksl_miss" + std::to_string(i) + "\n " + bodies[i];
    ASSERT_TRUE(BuildProgram(source));
    for (size_t i = 0; i < std::size(bodies); ++i) {
        SCOPED_TRACE(bodies[i]);
        wadtest::g_exitCalls = 0;
        release_.text.clear();
        g_vmOut.clear();
        Run("ksl_miss" + std::to_string(i));
        EXPECT_EQ(wadtest::g_exitCalls, 1);
        EXPECT_NE(release_.text.find("call to non-existent script"), std::string::npos) << release_.text;
        EXPECT_EQ(g_vmOut, "") << "nothing after the failed call runs";
        ExpectBaseline(bodies[i]);
    }
}

TEST_F(VmExecTest, BuiltinSeesItselfAsCurrentAndOnTheTraceChain)
{
    ASSERT_TRUE(BuildProgram(std::string(kVmScripts) + ".code ksl_top\n call.i probed 0\n ret.v\n"));
    EXPECT_EQ(Run("ksl_top"), "txt");
    ASSERT_EQ(g_vmSeen.size(), 1u);
    EXPECT_EQ(g_vmSeen[0].function, "t_probe");
    EXPECT_EQ(g_vmSeen[0].traceName, "t_probe");
    EXPECT_EQ(g_vmSeen[0].traceLine, -1);
    EXPECT_NE(g_vmSeen[0].frame, nullptr);
    ExpectBaseline("after the run");  // Function_Current and the trace chain are back to none
}

std::vector<std::string> g_vmExtensionCalls;

bool VmExecTest_Extension(int32_t index, int32_t argc, RValue* args, RValue* result)
{
    g_vmExtensionCalls.push_back(std::to_string(index) + " " + std::to_string(argc) +
                                 (argc ? " " + VmExecTest_Text(&args[0]) : std::string()));
    RValue_SetReal(result, index);
    return true;
}

TEST_F(VmExecTest, ExtensionIdsReachTheExtensionCallWithTheirIndex)
{
    ASSERT_TRUE(BuildProgram(std::string(kVmScripts) +
                             ".code ksl_top\n call.i 500000 0\n popz.v\n call.i t_text 0\n call.i t_text 0\n"
                             " call.i 500007 2\n call.i t_out 1\n popz.v\n"));
    g_vmExtensionCalls.clear();
    ExtensionCallHook old = Extension_SetCallHook(VmExecTest_Extension);
    Run("ksl_top");
    Extension_SetCallHook(old);
    EXPECT_EQ(g_vmExtensionCalls, (std::vector<std::string>{"0 0", "7 2 txt"}));
    EXPECT_EQ(g_vmOut, "7\n");  // the extension's result replaced both arguments
    ExpectBaseline("extension calls");
}

TEST_F(VmExecTest, NestedExecRestoresTheInterpreterState)
{
    ASSERT_TRUE(BuildProgram(std::string(kVmScripts) +
                             ".code ksl_Script_outer\n.script outer\n call.i t_nested 0\n popz.v\n"
                             " call.i t_probe 0\n popz.v\n exit.i\n"
                             ".code ksl_top\n call.i t_text 0\n push.e 3\n conv.i.v\n call.i outer 2\n popz.v\n"));
    g_vmNestedScript = 4;  // echo
    Run("ksl_top");
    ASSERT_EQ(g_vmSeen.size(), 3u);
    const VmExecSeen& before = g_vmSeen[0];
    const VmExecSeen& after = g_vmSeen[1];
    EXPECT_EQ(before.argTexts, "3 txt");
    EXPECT_EQ(after.frame, before.frame);
    EXPECT_EQ(after.argCount, before.argCount);
    EXPECT_EQ(after.args, before.args);
    EXPECT_EQ(after.function, "t_nested");
    EXPECT_EQ(after.argTexts, "3 txt");
    EXPECT_EQ(g_vmOut, "8 in\n");  // the nested run saw its own arguments
    EXPECT_EQ(g_vmSeen[2].function, "t_probe");
    EXPECT_EQ(g_vmSeen[2].argTexts, "3 txt");
    ExpectBaseline("nested run");
}

TEST_F(VmExecTest, ProfilerEnterAndLeavePairUp)
{
    ASSERT_TRUE(BuildProgram(std::string(kVmScripts) +
                             ".code ksl_top\n call.i noret 0\n popz.v\n call.i retd 0\n call.i t_out 1\n popz.v\n"
                             " call.i exits 0\n popz.v\n"));
    Profiler_Active = true;
    SeamTrace_Clear();
    Run("ksl_top");
    Profiler_Active = false;
    int depth = 0, enters = 0;
    for (const std::string& c : SeamTrace_Calls()) {
        if (c == "Profiler_Enter") ++depth, ++enters;
        if (c == "Profiler_Leave") --depth;
        EXPECT_GE(depth, 0);
    }
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(enters, 4);  // three scripts and one built-in
    ExpectBaseline("profiled run");
}

// 2,000 scripts, each handing a string, an array and a real to the next: the stack grows in whole steps and
// the last script still reads the values it was given.
TEST_F(VmExecTest, DeepScriptChainsGrowTheStackAndKeepTheArguments)
{
    constexpr int kChain = 2000;
    std::string source;
    for (int i = 0; i < kChain; ++i) {
        source += ".code ksl_Script_c" + std::to_string(i) + "\n.script c" + std::to_string(i) + "\n";
        if (i + 1 < kChain)
            source += " pushb.v builtin.t_arg2\n pushb.v builtin.t_arg1\n pushb.v builtin.t_arg0\n call.i c" +
                      std::to_string(i + 1) + " 3\n ret.v\n";
        else
            source += " call.i t_probe 0\n popz.v\n pushb.v builtin.t_arg2\n ret.v\n";
    }
    source += ".code ksl_top\n push.e 9\n conv.i.v\n call.i t_array 0\n call.i t_text 0\n call.i c0 3\n ret.v\n";
    ASSERT_TRUE(BuildProgram(source));
    GrowObjectTable(kChain + 16);
    EXPECT_EQ(Run("ksl_top"), "9");
    ASSERT_EQ(g_vmSeen.size(), 1u);
    EXPECT_EQ(g_vmSeen[0].argTexts, "txt [1,2] 9");
    EXPECT_GT(g_vmSeen[0].stackSize, VM_STACK_BLOCK);
    EXPECT_EQ(g_vmSeen[0].stackSize % VM_STACK_BLOCK, 0);
    ExpectBaseline("chain");
}

TEST_F(VmExecTest, GuardsStopCodeThatUsesMoreThanItsStack)
{
    vmtest::ScopedUnverified unverified;
    struct Row {
        const char* body;
        const char* message;
    };
    const Row rows[] = {
        {"popz.v\n", "DoPopNull :: stack underflow"},
        {"ret.v\n", "DoRet :: stack underflow"},
        {"bt end\nend:\n", "DoBt :: stack underflow"},
        {"bf end\nend:\n", "DoBf :: stack underflow"},
        {"dup.v 1\n", "DoDup :: stack underflow"},
        {"call.i t_out 2\n", "VM_CallBuiltin :: argument count 2 beyond the stack items"},
        {"push.e 1\n conv.i.v\n call.i echo 3\n", "DoCall :: argument count 3 beyond the stack items"},
        {"break chkidx\n", "DoBreak :: stack underflow"},
    };
    std::string source = kVmScripts;
    for (size_t i = 0; i < std::size(rows); ++i)
        source += ".code ksl_bad" + std::to_string(i) + "\n " + rows[i].body + " call.i t_out 0\n popz.v\n";
    // Inside a called script the guard stops at the record, not at the caller's items.
    source += ".code ksl_Script_under\n.script under\n popz.v\n call.i t_out 0\n popz.v\n"
              ".code ksl_underTop\n push.e 1\n conv.i.v\n call.i under 0\n call.i t_out 1\n popz.v\n";
    ASSERT_TRUE(BuildProgram(source));
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].body);
        wadtest::g_exitCalls = 0;
        release_.text.clear();
        g_vmOut.clear();
        Run("ksl_bad" + std::to_string(i));
        EXPECT_EQ(wadtest::g_exitCalls, 1);
        EXPECT_NE(release_.text.find(rows[i].message), std::string::npos) << release_.text;
        EXPECT_EQ(g_vmOut, "");
        ExpectBaseline(rows[i].body);
    }
    wadtest::g_exitCalls = 0;
    release_.text.clear();
    g_vmOut.clear();
    Run("ksl_underTop");
    EXPECT_NE(release_.text.find("DoPopNull :: stack underflow"), std::string::npos) << release_.text;
    EXPECT_EQ(g_vmOut, "");
    ExpectBaseline("stopped inside a call");  // the stopped call's record, locals and arguments are unwound
}

TEST_F(VmExecTest, ArrayIndexCheckAcceptsTheRangeAndRejectsOutside)
{
    struct Row {
        int32_t index;
        const char* message;  // null: accepted
    };
    const Row rows[] = {{0, nullptr}, {31999, nullptr}, {-1, "Array index must be +'ve"}, {32000, "Array index must be < 32000"}};
    std::string source;
    for (size_t i = 0; i < std::size(rows); ++i)
        source += ".code ksl_idx" + std::to_string(i) + "\n push.i " + std::to_string(rows[i].index) +
                  "\n break chkidx\n popz.i\n call.i t_out 0\n popz.v\n";
    ASSERT_TRUE(BuildProgram(source));
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].index);
        wadtest::g_exitCalls = 0;
        release_.text.clear();
        g_vmOut.clear();
        Run("ksl_idx" + std::to_string(i));
        if (rows[i].message) {
            EXPECT_EQ(wadtest::g_exitCalls, 1);
            EXPECT_NE(release_.text.find(rows[i].message), std::string::npos) << release_.text;
            EXPECT_EQ(g_vmOut, "");
        } else {
            EXPECT_EQ(wadtest::g_exitCalls, 0) << release_.text;
            EXPECT_EQ(g_vmOut, "\n");
        }
        ExpectBaseline("index check");
    }
}

TEST_F(VmExecTest, DupOfValuesTakesAReferencePerCopy)
{
    ASSERT_TRUE(BuildProgram(".code ksl_top\n call.i t_array 0\n call.i t_text 0\n dup.v 1\n"
                             " call.i t_out 4\n popz.v\n"));
    Run("ksl_top");
    EXPECT_EQ(g_vmOut, "txt [1,2] txt [1,2]\n");
    ExpectBaseline("dup");  // every copy was released once
}

// Endless recursion hits the stack limit: "Stack overflow..." names the code, every record unwinds, and
// VM_Exec returns normally.
TEST_F(VmExecTest, EndlessRecursionStopsAtTheStackLimit)
{
    ASSERT_TRUE(BuildProgram(".code ksl_Script_rec\n.script rec\n call.i rec 0\n ret.v\n"
                             ".code ksl_top\n call.i rec 0\n call.i t_out 1\n popz.v\n"));
    GrowObjectTable(20000);
    const int64_t saved = VM_StackLimit;
    VM_StackLimit = 1 << 20;
    wadtest::g_boxes.clear();
    EXPECT_EQ(Run("ksl_top"), "untouched");
    VM_StackLimit = saved;
    ASSERT_EQ(wadtest::g_boxes.size(), 1u);
    EXPECT_EQ(wadtest::g_boxes[0], "ksl_Script_rec");
    EXPECT_EQ(g_vmOut, "");
    ExpectBaseline("overflow");
}

int32_t g_vmSelfScript = -1;
int g_vmNestLevels = 0;

// Runs a script that calls this built-in again: nested VM_Exec without end.
void VmExecTest_Recurse(RValue* result, CInstance* self, CInstance* other, int32_t, RValue*)
{
    ++g_vmNestLevels;
    Script_Perform(g_vmSelfScript, self, other, 0, result, nullptr);
}

TEST_F(VmExecTest, NestingOfRunsIsCapped)
{
    Fix(".function", "t_recurse", vmtest::Builtin("t_recurse", VmExecTest_Recurse));
    ASSERT_TRUE(BuildProgram(".code ksl_Script_again\n.script again\n call.i t_recurse 0\n popz.v\n"
                             ".code ksl_top\n call.i again 0\n popz.v\n"));
    GrowObjectTable(2 * VM_NESTING_LIMIT + 16);
    g_vmSelfScript = 0;
    g_vmNestLevels = 0;
    wadtest::g_boxes.clear();
    Run("ksl_top");
    EXPECT_EQ(g_vmNestLevels, VM_NESTING_LIMIT);
    ASSERT_EQ(wadtest::g_boxes.size(), 1u);
    EXPECT_EQ(wadtest::g_boxes[0], "ksl_Script_again");
    ExpectBaseline("nesting");
}

// Every branch instruction counts, taken or not (the count paces the message pump).
TEST_F(VmExecTest, EveryBranchInstructionIsCounted)
{
    std::string source = ".code ksl_top\n";
    for (int i = 0; i < 3000; ++i) {
        std::string n = std::to_string(i);
        source += " b l" + n + "\nl" + n + ":\n push.e 0\n bt m" + n + "\nm" + n + ":\n push.e 1\n bf k" + n + "\nk" + n + ":\n";
    }
    ASSERT_TRUE(BuildProgram(source));
    const uint32_t before = VM_BranchCount;
    Run("ksl_top");
    EXPECT_EQ(VM_BranchCount - before, 9000u);
    ExpectBaseline("branches");
}

// An error inside a script with a line table names the line and its source text; a "#line" directive
// renames the code and gives the action number.
TEST_F(VmExecTest, ErrorsNameTheScriptLineAndSource)
{
    vmtest::ScopedUnverified unverified;  // the error comes from a guard
    ASSERT_TRUE(BuildProgram(".code ksl_Script_fails\n.script fails\n"
                             ".src var a = 1;\n push.e 1\n popz.i\n"
                             ".src #line ksl_Object7 20\n"
                             ".src oops();\n popz.v\n"
                             ".code ksl_top\n.src fails();\n call.i fails 0\n popz.v\n"));
    Run("ksl_top");
    EXPECT_EQ(wadtest::g_exitCalls, 1);
    EXPECT_NE(release_.text.find("action number 7"), std::string::npos) << release_.text;
    EXPECT_NE(release_.text.find("DoPopNull :: stack underflow\n at ksl_Object7 (line 20) - oops();"),
              std::string::npos)
        << release_.text;
}

// Under the debugger link a planted breakpoint pauses, runs the instruction it replaced and is armed again.
TEST_F(VmExecTest, BreakpointRunsTheReplacedInstructionAndRearms)
{
    ASSERT_TRUE(BuildProgram(".code ksl_top\n push.e 3\n conv.i.v\n call.i t_out 1\n popz.v\n"));
    CCode* code = Entry("ksl_top");
    ASSERT_NE(code, nullptr);
    auto* call = reinterpret_cast<uint32_t*>(code->code->bytes + code->blockOffset + 8);
    const uint32_t original = *call;
    Debug_Breakpoints[0] = {call, original};
    Debug_ArmBreakpoints();
    ASSERT_EQ(*call, DEBUG_BREAK_WORD);
    int link = 0;
    DebugServer = reinterpret_cast<qzServer*>(&link);  // never dereferenced: only its presence counts
    SeamTrace_Clear();
    for (int run = 0; run < 2; ++run) {
        g_vmOut.clear();
        Run("ksl_top");
        EXPECT_EQ(g_vmOut, "3\n") << run;
        EXPECT_EQ(*call, DEBUG_BREAK_WORD) << "armed again";
    }
    DebugServer = nullptr;
    std::vector<std::string> debugCalls;
    for (const std::string& c : SeamTrace_Calls())
        if (c.rfind("Debug_", 0) == 0) debugCalls.push_back(c);
    EXPECT_EQ(debugCalls, (std::vector<std::string>{"Debug_DisarmBreakpoints", "Debug_ArmBreakpoints",
                                                    "Debug_DisarmBreakpoints", "Debug_ArmBreakpoints"}));
    // Without the link the prepared handlers run and the breakpoint is not reached.
    SeamTrace_Clear();
    g_vmOut.clear();
    Run("ksl_top");
    EXPECT_EQ(g_vmOut, "3\n");
    EXPECT_TRUE(SeamTrace_Calls().empty() || SeamTrace_Calls()[0] == "VM_Exec");
    Debug_DisarmBreakpoints();
    VM_Init();
    EXPECT_EQ(*call, original);
    ExpectBaseline("breakpoint");
}

TEST_F(VmExecTest, AReturnedValueWithNowhereToGoIsReleased)
{
    ASSERT_TRUE(BuildProgram(".code ksl_top\n call.i t_text 0\n ret.v\n"));
    VM_Exec(Entry("ksl_top"), nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr);
    ExpectBaseline("no result");
}

// Under the debugger link a step stops at the next instruction with a new line: the break handler pauses
// there and the instruction still runs.
TEST_F(VmExecTest, StepsStopAtTheNextLineAndEnd)
{
    ASSERT_TRUE(BuildProgram(".code ksl_top\n.src a();\n push.e 3\n conv.i.v\n.src b();\n call.i t_out 1\n popz.v\n"));
    int link = 0;
    DebugServer = reinterpret_cast<qzServer*>(&link);
    struct Row {
        int32_t mode;
        bool request;
        int stops;
    };
    for (const Row row : {Row{0, false, 1}, Row{1, false, 1}, Row{2, false, 1}, Row{-1, true, 1}, Row{-1, false, 0}}) {
        SCOPED_TRACE(row.mode);
        DebugStepState = {row.mode, nullptr, -1, 0, row.request};
        SeamTrace_Clear();
        g_vmOut.clear();
        Run("ksl_top");
        EXPECT_EQ(g_vmOut, "3\n");
        int stops = 0;
        for (const std::string& c : SeamTrace_Calls()) stops += c == "Debug_DisarmBreakpoints";
        EXPECT_EQ(stops, row.stops);
        EXPECT_EQ(DebugStepState.mode, -1);
        EXPECT_FALSE(DebugStepState.stopRequest);
    }
    DebugServer = nullptr;
    DebugStepState = {-1, nullptr, -1, 0, false};
    ExpectBaseline("steps");
}

TEST_F(VmExecTest, LocalAndGlobalPushesReadTheirSlotsOrReportUnsetOnes)
{
    ASSERT_TRUE(BuildProgram(".code ksl_global\n pushg.v global.score\n ret.v\n"
                             ".code ksl_unsetGlobal\n pushg.v global.score\n popz.v\n pushg.v global.missing\n ret.v\n"
                             ".code ksl_unsetLocal\n.locals a\n pushl.v local.a\n ret.v\n"));
    ASSERT_NE(g_GlobalObject, nullptr);
    RValue* score = ObjectBase_GetSlotDirect(g_GlobalObject, 0);
    ASSERT_NE(score, nullptr);
    RValue_SetString(score, "kept");
    baseline_ = MemoryManager_Probe();
    EXPECT_EQ(Run("ksl_global"), "kept");
    EXPECT_EQ(score->str->refCount, 1);
    ExpectBaseline("global");
    struct Row {
        const char* entry;
        const char* message;
    };
    for (const Row row : {Row{"ksl_unsetGlobal", "global variable missing(100001, -2147483648) not set before reading it."},
                          Row{"ksl_unsetLocal", "local variable a(100000, -2147483648) not set before reading it."}}) {
        wadtest::g_exitCalls = 0;
        release_.text.clear();
        EXPECT_EQ(Run(row.entry), "untouched");
        EXPECT_EQ(wadtest::g_exitCalls, 1);
        EXPECT_NE(release_.text.find(row.message), std::string::npos) << release_.text;
        ExpectBaseline(row.entry);
    }
}

// A built-in called from compiled code gets the caller's values, which stay the caller's.
void VmExecTest_Keeps(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    g_vmOut = std::to_string(argc) + " " + VmExecTest_Text(&args[0]) + " " + VmExecTest_Text(&args[1]);
    RValue_SetReal(result, 4);
}

TEST_F(VmExecTest, CallBuiltinLeavesTheCallersArgumentsOwnedAndIntact)
{
    int32_t id = vmtest::Builtin("t_keeps", VmExecTest_Keeps);
    baseline_ = MemoryManager_Probe();
    RValue a, b, result;
    RValue_SetUndefined(&a);
    RValue_SetUndefined(&result);
    RValue_SetString(&a, "kept");
    RValue_SetReal(&b, 1.5);
    RValue_SetString(&result, "old");
    RValue* args[] = {&a, &b};
    CallBuiltin(nullptr, nullptr, &result, 2, id, args);
    EXPECT_EQ(g_vmOut, "2 kept 1.5");
    EXPECT_EQ(VmExecTest_Text(&result), "4");
    ASSERT_EQ(RValue_Kind(&a), uint32_t(VALUE_STRING));
    EXPECT_STREQ(a.str->text, "kept");
    EXPECT_EQ(a.str->refCount, 1);
    EXPECT_EQ(Function_Current, nullptr);
    RValue_Free(&a);
    RValue_Free(&result);
    ExpectBaseline("CallBuiltin");
}

TEST_F(VmExecTest, ArgumentsAreCopiedSoTheCallersValuesSurvive)
{
    ASSERT_TRUE(BuildProgram(std::string(kVmScripts) + ".code ksl_top\n call.i echo 0\n popz.v\n"
                                                       " pushb.v builtin.t_arg0\n ret.v\n"));
    RValue args[2];
    RValue_SetUndefined(&args[0]);
    RValue_SetString(&args[0], "mine");
    RValue_SetReal(&args[1], 6);
    EXPECT_EQ(Run("ksl_top", 2, args), "mine");
    ASSERT_EQ(RValue_Kind(&args[0]), uint32_t(VALUE_STRING));
    EXPECT_EQ(args[0].str->refCount, 1);
    RValue_Free(&args[0]);
    ExpectBaseline("arguments");
}

// A built-in that reports an interpreter error from inside the code that called it.
void VmExecTest_Fail(RValue*, CInstance*, CInstance*, int32_t, RValue*)
{
    VMError(VM_CurrentFrame, "t_fail :: %s", "went wrong");
}

// The whole framed text of a report made two script calls deep: the "#line" name, its line and source
// text, the action number the name gives, then the call stack of compiled-code frames and built-ins.
TEST_F(VmExecTest, ReportFramesTheLineTheActionAndTheCallStack)
{
    Fix(".function", "t_fail", vmtest::Builtin("t_fail", VmExecTest_Fail));
    ASSERT_TRUE(BuildProgram(".code ksl_Script_inner\n.script inner\n"
                             ".src // the inner script\n"
                             ".src #line ksl_Object7 30\n"
                             ".src var a = 1;\n push.e 1\n popz.i\n"
                             ".src t_fail();\n call.i t_fail 0\n popz.v\n"
                             ".code ksl_Script_outer\n.script outer\n"
                             ".src inner();\n call.i inner 0\n popz.v\n"
                             ".code ksl_top\n.src outer();\n call.i outer 0\n popz.v\n"));
    kvtest::FakeWorld world;
    world.AddObject(3, "obj_player");
    event_type = 3;
    event_number = 0;
    event_object = 3;
    event_action = 1;
    StackTraceFrame compiled;
    StackTrace_Push(&compiled, "ksl_Script_compiled", 12);
    Run("ksl_top");
    StackTraceFrame::Pop(&compiled);

    const std::string hashes(92, '#'), dashes(92, '-');
    const std::string expected = hashes + R"(
FATAL ERROR in
action number 7
of  Step Event0
for object obj_player:


t_fail :: went wrong
 at ksl_Object7 (line 31) - t_fail();
)" + hashes + "\n" + dashes + R"(
called from - t_fail
called from - ksl_Script_compiled (line 12)
)";
    EXPECT_EQ(release_.text, "ERROR!!! :: " + expected + "\n");
    EXPECT_EQ(Error_LastText(), expected);
    EXPECT_EQ(wadtest::g_exitCalls, 1);
    EXPECT_EQ(wadtest::g_exitStatus, -1);
}

// "#line" names give the action number only when they start with ksl_Object; otherwise the event's. The
// line after a directive has the directive's number.
TEST_F(VmExecTest, LineNamesGiveTheActionNumber)
{
    struct Row {
        const char* directive;
        const char* action;
        const char* at;
    };
    const Row rows[] = {
        {"#line ksl_Object7 5", "action number 7\n", " at ksl_Object7 (line 5) - t_fail();"},
        {"#line ksl_Object_player_12 1", "action number 12\n", " at ksl_Object_player_12 (line 1) - t_fail();"},
        {"#line ksl_Object 9", "action number 0\n", " at ksl_Object (line 9) - t_fail();"},
        {"#line ksl_Script7 2", "action number 4\n", " at ksl_Script7 (line 2) - t_fail();"},
        {"// no directive", "action number 4\n", " at ksl_line4 (line 3) - t_fail();"},
    };
    Fix(".function", "t_fail", vmtest::Builtin("t_fail", VmExecTest_Fail));
    std::string source;
    for (size_t i = 0; i < std::size(rows); ++i)
        source += ".code ksl_line" + std::to_string(i) + "\n.src // an action\n.src " + rows[i].directive +
                  "\n.src t_fail();\n call.i t_fail 0\n popz.v\n";
    ASSERT_TRUE(BuildProgram(source));
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].directive);
        Error_ResetState();
        event_action = 3;
        release_.text.clear();
        Run("ksl_line" + std::to_string(i));
        EXPECT_NE(release_.text.find(rows[i].action), std::string::npos) << release_.text;
        EXPECT_NE(release_.text.find(std::string("t_fail :: went wrong\n") + rows[i].at + "\n"),
                  std::string::npos)
            << release_.text;
    }
}

// While errors are caught (the debugger evaluates code) a report stops the frame it happened in: nothing
// after it runs, in the failing script or in its callers; nothing is printed and the process goes on.
TEST_F(VmExecTest, CaughtErrorsStopTheFrameAndNothingAfterThemRuns)
{
    Fix(".function", "t_fail", vmtest::Builtin("t_fail", VmExecTest_Fail));
    struct Row {
        const char* what;
        const char* body;
    };
    const Row rows[] = {
        {"a built-in's report", "call.i t_fail 0\n popz.v\n"},
        {"a missing script", "call.i 100040 0\n popz.v\n"},
        {"script_execute of a missing script", "push.e 99\n conv.i.v\n call.i 499999 1\n popz.v\n"},
        {"a report inside a called script", "call.i bad 0\n popz.v\n"},
        {"a report two calls deep", "call.i t_text 0\n call.i outer 1\n popz.v\n"},
    };
    std::string source = ".code ksl_Script_bad\n.script bad\n call.i t_fail 0\n popz.v\n call.i t_out 0\n popz.v\n"
                         ".code ksl_Script_outer\n.script outer\n call.i bad 0\n popz.v\n call.i t_out 0\n popz.v\n";
    for (size_t i = 0; i < std::size(rows); ++i)
        source += ".code ksl_caught" + std::to_string(i) + "\n " + rows[i].body + " call.i t_out 0\n popz.v\n"
                  " call.i t_text 0\n ret.v\n";
    ASSERT_TRUE(BuildProgram(source));
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].what);
        wadtest::g_exitCalls = 0;
        release_.text.clear();
        g_vmOut.clear();
        g_ErrorCatch = true;
        EXPECT_EQ(Run("ksl_caught" + std::to_string(i)), "untouched");
        EXPECT_TRUE(g_ErrorCaught);
        EXPECT_EQ(g_vmOut, "");
        EXPECT_EQ(release_.text, "");
        EXPECT_EQ(wadtest::g_exitCalls, 0);
        EXPECT_EQ(Error_LastText(), std::string());
        ExpectBaseline(rows[i].what);  // every stopped call's record, locals and arguments were unwound
    }
}

// The message pump, seen through the quit request it consumes: t_pumped, called after every branch, finds
// the running flag cleared once per pump, notes the branch count and posts the request again.
std::vector<uint32_t> g_vmPumpsAt;

void VmExecTest_Pumped(RValue*, CInstance*, CInstance*, int32_t, RValue*)
{
    if (g_Running) return;
    g_vmPumpsAt.push_back(VM_BranchCount);
    g_Running = true;
    Window_PostQuit();
}

// Messages are pumped at every 4,096th branch instruction of the process, taken or not, in top-level code
// and in called scripts alike, and the count wraps without missing one.
TEST_F(VmExecTest, MessagesArePumpedAtEvery4096thBranch)
{
    Fix(".function", "t_pumped", vmtest::Builtin("t_pumped", VmExecTest_Pumped));
    constexpr int kUnits = 3600;  // three branches each
    std::string plain = ".code ksl_plain\n", conditional = ".code ksl_conditional\n";
    std::string calls = ".code ksl_Script_hop\n.script hop\n";
    for (int i = 0; i < kUnits; ++i) {
        const std::string n = std::to_string(i), after = " call.i t_pumped 0\n popz.v\n";
        plain += " b a" + n + "\na" + n + ":\n" + after + " b b" + n + "\nb" + n + ":\n" + after + " b c" + n +
                 "\nc" + n + ":\n" + after;
        // taken and not taken, both ways
        conditional += " push.e 1\n bt a" + n + "\na" + n + ":\n" + after + " push.e 1\n bf b" + n + "\nb" + n +
                       ":\n" + after + " push.e 0\n bt c" + n + "\nc" + n + ":\n" + after;
    }
    for (int i = 0; i < 3; ++i) {
        const std::string n = std::to_string(i);
        calls += " push.e 0\n bf h" + n + "\nh" + n + ":\n call.i t_pumped 0\n popz.v\n";
    }
    calls += ".code ksl_calls\n";
    for (int i = 0; i < kUnits; ++i) calls += " call.i hop 0\n popz.v\n";
    ASSERT_TRUE(BuildProgram(plain + conditional + calls));

    struct Row {
        const char* entry;
        uint32_t start;  // the process's branch count before the run
    };
    const Row rows[] = {
        {"ksl_plain", 0},           {"ksl_conditional", 0},         {"ksl_calls", 0},
        {"ksl_plain", 4095 - 2},    {"ksl_conditional", 100000},    {"ksl_calls", 3 * 4096 - 1},
        {"ksl_plain", 0xFFFFFFF0u}, {"ksl_conditional", 0xFFFFF000u},
    };
    const uint32_t saved = VM_BranchCount;
    const bool savedRunning = g_Running;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.entry) + " from " + std::to_string(row.start));
        VM_BranchCount = row.start;
        g_vmPumpsAt.clear();
        g_Running = true;
        Window_PostQuit();
        Run(row.entry);
        EXPECT_EQ(VM_BranchCount - row.start, uint32_t(3 * kUnits));
        std::vector<uint32_t> expected;
        for (uint32_t i = 1; i <= uint32_t(3 * kUnits); ++i)
            if (((row.start + i) & 0xFFFu) == 0) expected.push_back(row.start + i);
        EXPECT_EQ(g_vmPumpsAt, expected);
        ProcessMessages();  // takes the request still posted
    }
    VM_BranchCount = saved;
    g_Running = savedRunning;
}

// Scripts that end with items still on their stack: below a returned value, below exit, inside a switch,
// inside with-blocks and at the end of the code. global.score holds the one string whose count shows a leaked reference.
const char kVmLeftoverScripts[] = R"(
.code ksl_Script_retbelow
.script retbelow
    call.i t_array 0
    push.s "below"
    pushg.v global.score
    push.d 4.5
    ret.d
.code ksl_Script_retvalue
.script retvalue
    call.i t_array 0
    push.s "below"
    pushg.v global.score
    ret.v
.code ksl_Script_retnothing
.script retnothing
    pushg.v global.score
    push.s "below"
    ret.e
.code ksl_Script_exitbelow
.script exitbelow
    pushg.v global.score
    push.s "below"
    call.i t_array 0
    exit.i
    call.i t_out 0
.code ksl_Script_exitswitch
.script exitswitch
    pushg.v global.score
    dup.v 0
    push.s "kept"
    set.s.v eq
    bt hit
    popz.v
    push.d 9
    ret.d
hit:
    call.i t_array 0
    exit.i
.code ksl_Script_withret
.script withret
    pushg.v global.score
    push.e -1
    pushenv pop1
body1:
    push.s "between"
    push.e -1
    pushenv pop2
body2:
    call.i t_array 0
    call.i t_text 0
    ret.v
pop2:
    popenv body2
    popz.s
pop1:
    popenv body1
    popz.v
.code ksl_Script_falloff
.script falloff
    pushg.v global.score
    push.s "below"
    call.i t_array 0
.code ksl_Script_tailcall
.script tailcall
    pushg.v global.score
    call.i retbelow 0
)";

TEST_F(VmExecTest, ItemsLeftOnTheStackWhenCodeEndsAreReleased)
{
    struct Row {
        const char* what;
        const char* body;  // the top-level entry's instructions
        const char* out;   // what t_out printed
        const char* result;
    };
    const Row rows[] = {
        {"exit at the top level below a string, an array and a global's string",
         "call.i t_text 0\n push.s \"lit\"\n call.i t_array 0\n pushg.v global.score\n exit.i\n call.i t_out 0\n"
         " popz.v\n",
         "", "untouched"},
        {"exit inside a switch at the top level",
         "pushg.v global.score\n dup.v 0\n push.s \"kept\"\n set.s.v eq\n bt hit\n popz.v\n b end\nhit:\n"
         " call.i t_array 0\n exit.i\nend:\n",
         "", "untouched"},
        {"a top-level ret of a value above other items",
         "call.i t_array 0\n push.s \"lit\"\n pushg.v global.score\n ret.v\n", "", "kept"},
        {"a top-level ret of a .s item above other items",
         "call.i t_array 0\n pushg.v global.score\n push.s \"lit\"\n ret.s\n", "", "lit"},
        {"ret of a .d item in a called script above a string, an array and a global's string",
         "call.i retbelow 0\n call.i t_out 1\n popz.v\n", "4.5\n", "untouched"},
        {"ret of the global's own value in a called script", "call.i retvalue 0\n call.i t_out 1\n popz.v\n",
         "kept\n", "untouched"},
        {"ret.e in a called script above items", "call.i retnothing 0\n call.i t_out 1\n popz.v\n",
         "undefined\n", "untouched"},
        {"exit in a called script below items", "call.i exitbelow 0\n call.i t_out 1\n popz.v\n", "0\n",
         "untouched"},
        {"exit inside a switch in a called script, the caller's items kept",
         "call.i t_text 0\n call.i exitswitch 0\n call.i t_out 2\n popz.v\n", "0 txt\n", "untouched"},
        {"exit inside a with-block, items above and below its record",
         "call.i t_text 0\n push.e -1\n pushenv pop\nbody:\n call.i t_array 0\n pushg.v global.score\n exit.i\n"
         "pop:\n popenv body\n popz.v\n",
         "", "untouched"},
        {"ret inside two with-blocks in a called script, an item between the records",
         "call.i withret 0\n call.i t_out 1\n popz.v\n", "txt\n", "untouched"},
        {"a called script that runs off its end with items left", "call.i falloff 0\n call.i t_out 1\n popz.v\n",
         "0\n", "untouched"},
        {"a called script whose last instruction is a call runs off its end after the callee's ret",
         "call.i tailcall 0\n call.i t_out 1\n popz.v\n", "0\n", "untouched"},
        {"top-level code that runs off its end with items left",
         "call.i t_text 0\n push.s \"lit\"\n call.i t_array 0\n pushg.v global.score\n", "", "untouched"},
        {"top-level code whose last instruction is a call runs off its end after the callee's ret",
         "pushg.v global.score\n call.i retbelow 0\n", "", "untouched"},
    };
    std::string source = kVmLeftoverScripts;
    for (size_t i = 0; i < std::size(rows); ++i)
        source += ".code ksl_left" + std::to_string(i) + "\n " + rows[i].body;
    ASSERT_TRUE(BuildProgram(source));
    ASSERT_NE(g_GlobalObject, nullptr);
    RValue* score = ObjectBase_GetSlotDirect(g_GlobalObject, 0);
    ASSERT_NE(score, nullptr);
    RValue_SetString(score, "kept");
    baseline_ = MemoryManager_Probe();

    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].what);
        g_vmOut.clear();
        EXPECT_EQ(Run("ksl_left" + std::to_string(i)), rows[i].result);
        EXPECT_EQ(g_vmOut, rows[i].out);
        EXPECT_EQ(wadtest::g_exitCalls, 0) << release_.text;
        ASSERT_EQ(RValue_Kind(score), uint32_t(VALUE_STRING));
        EXPECT_EQ(score->str->refCount, 1);
        ExpectBaseline(rows[i].what);
    }
}

// t_three(a, b, c), registered with three arguments: what it reads of each, directly, and argument 3 through a
// getter.
void VmExecTest_Three(RValue*, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    std::string line = "argc " + std::to_string(argc);
    for (int32_t i = 0; i < 3; ++i) line += " " + VmExecTest_Text(&args[i]);
    g_vmOut += line + " getter " + std::to_string(QZGR(args, 2)) + "\n";
}

// A call that gives fewer arguments than the built-in registers: the missing ones are undefined, read
// directly or through a getter (which reports them), never the caller's items or stale memory; the given
// value is released once.
TEST_F(VmExecTest, MissingArgumentsReadAsUndefinedThroughBothCallers)
{
    const int32_t id = vmtest::Builtin("t_three", VmExecTest_Three);
    Function_Entry(id)->argumentCount = 3;
    Fix(".function", "t_three", id);
    ASSERT_TRUE(BuildProgram(".code ksl_top\n push.e 9\n conv.i.v\n push.s \"given\"\n conv.s.v\n"
                             " call.i t_three 1\n popz.v\n call.i t_out 1\n popz.v\n"));
    const char* const kMissing = "t_three argument 3 incorrect type (5) expecting a Number (QZGR)";
    struct Row {
        const char* caller;
        const char* out;
    };
    for (const Row row : {Row{"bytecode", "argc 1 given undefined undefined getter 0.000000\n9\n"},
                          Row{"compiled code", "argc 1 given undefined undefined getter 0.000000\n"}}) {
        SCOPED_TRACE(row.caller);
        g_vmOut.clear();
        release_.text.clear();
        wadtest::g_exitCalls = 0;
        if (row.caller[0] == 'b') {
            EXPECT_EQ(Run("ksl_top"), "untouched");
        } else {
            RValue given, result;
            RValue_SetUndefined(&given);
            RValue_SetUndefined(&result);
            RValue_SetString(&given, "given");
            RValue* args[] = {&given};
            CallBuiltin(nullptr, nullptr, &result, 1, id, args);
            EXPECT_EQ(given.str->refCount, 1);
            RValue_Free(&given);
            RValue_Free(&result);
        }
        EXPECT_EQ(g_vmOut, row.out);
        EXPECT_EQ(wadtest::g_exitCalls, 1);
        EXPECT_NE(release_.text.find(kMissing), std::string::npos) << release_.text;
        EXPECT_EQ(Function_CurrentArgs, nullptr);
        EXPECT_EQ(Function_CurrentArgCount, 0);
        ExpectBaseline(row.caller);
    }
}

// Every built-in start-up registers takes a call without arguments through both callers: it answers, or
// reports its getter's type error for a missing argument. A read past the block it is given (the registered
// count of values, or none at all) is caught by the sanitizer builds.
TEST_F(VmExecTest, EveryRegisteredBuiltinTakesACallWithoutArguments)
{
    const int32_t first = Function_Count();
    InitKSLFunctions();
    const int32_t last = Function_Count();
    std::vector<int32_t> ids;
    std::set<std::string> names;
    std::string body;
    for (int32_t i = first; i < last; ++i) {
        const BuiltinFunction* entry = Function_Entry(i);
        if (!entry->handler || !entry->name[0] || !names.insert(entry->name).second) continue;
        ids.push_back(i);
        body += ".code ksl_call" + std::to_string(i) + "\n call.i " + entry->name + " 0\n popz.v\n";
    }
    ASSERT_FALSE(ids.empty());
    ASSERT_TRUE(BuildProgram(body));
    for (const int32_t id : ids) {
        const std::string name = Function_Entry(id)->name;
        const std::regex getterError(name + " argument [0-9]+ incorrect type (\\(5\\) )?expecting a");
        for (const bool compiled : {true, false}) {
            SCOPED_TRACE(name + (compiled ? " from compiled code" : " from bytecode"));
            release_.text.clear();
            wadtest::g_exitCalls = 0;
            if (compiled) {
                RValue result;
                RValue_SetUndefined(&result);
                CallBuiltin(nullptr, nullptr, &result, 0, id, nullptr);
                RValue_Free(&result);
            } else {
                Run("ksl_call" + std::to_string(id));
            }
            const std::string& text = release_.text;
            const auto reports = std::distance(std::sregex_iterator(text.begin(), text.end(), getterError),
                                               std::sregex_iterator());
            size_t errors = 0;
            for (size_t at = text.find("FATAL ERROR"); at != std::string::npos; at = text.find("FATAL ERROR", at + 1))
                ++errors;
            EXPECT_EQ(errors, size_t(reports)) << text;
            // One report at most: once the first has ended the game, later bad arguments of the same call are
            // not shown (the exit hook returns here, so they ask for the exit again).
            EXPECT_LE(reports, 1) << text;
            EXPECT_EQ(wadtest::g_exitCalls > 0, reports > 0) << text;
            EXPECT_EQ(Function_Current, nullptr);
            EXPECT_EQ(Function_CurrentArgs, nullptr);
            EXPECT_EQ(VM_CurrentFrame, nullptr);
            Error_ResetState();
        }
    }
}

std::string VmExecTest_Repeat(int count, const char* text)
{
    std::string out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
}

int64_t g_vmClockUs = 0;

int VmExecTest_Clock(clockid_t, timespec* now)
{
    now->tv_sec = g_vmClockUs / 1000000;
    now->tv_nsec = (g_vmClockUs % 1000000) * 1000;
    return 0;
}

// Under the debugger link the interpreter counts instructions over every run (VM_Init starts the count
// again) and, once more than 20,000 have run, serves the debugger only when more than half a second has
// passed since its service last ran.
TEST_F(VmExecTest, DebuggerPollsCountAcrossRunsAndWaitForHalfASecond)
{
    // 20,000 instructions, then 2: the count passes 20,000 at the first instruction of the second run.
    ASSERT_TRUE(BuildProgram(".code ksl_spin\n" + VmExecTest_Repeat(10000, " push.e 1\n popz.i\n") +
                             ".code ksl_pair\n push.e 1\n popz.i\n"));
    TimingHooks hooks{VmExecTest_Clock, nullptr, nullptr};
    Timing_SetHooks(&hooks);
    g_vmClockUs = 1000000;
    Timing_Init();
    int link = 0;
    DebugServer = reinterpret_cast<qzServer*>(&link);
    struct Row {
        int64_t sinceService;  // microseconds from the service's last run to the poll
        bool restartBetween;   // VM_Init between the two runs
        int polls;
    };
    for (const Row row : {Row{0, false, 0}, Row{500000, false, 0}, Row{500001, false, 1}, Row{3000000, false, 1},
                          Row{3000000, true, 0}}) {
        SCOPED_TRACE(testing::Message() << row.sinceService << (row.restartBetween ? " restarted" : ""));
        VM_Init();
        TickDebugger();  // the frame's own service
        SeamTrace_Clear();
        g_vmClockUs += row.sinceService;
        Run("ksl_spin");
        if (row.restartBetween) VM_Init();
        Run("ksl_pair");
        EXPECT_EQ(std::count(SeamTrace_Calls().begin(), SeamTrace_Calls().end(), "TickDebugger"), row.polls);
    }
    DebugServer = nullptr;
    Timing_SetHooks(nullptr);
    Timing_Init();
    VM_Init();
    ExpectBaseline("polls");
}

void VmExecTest_Memory(RValue*, CInstance*, CInstance*, int32_t, RValue*)
{
    g_vmSeen.push_back(VmExecTest_Look());
    g_vmSeen.back().stackSize = int64_t(MemoryManager_Probe().heapBytesInUse);
}

// A script with 65,535 locals that calls itself: the locals count against the stack limit, so the run ends
// with the overflow report after a few dozen calls instead of taking gigabytes.
TEST_F(VmExecTest, LocalsOfDeepCallsCountAgainstTheStackLimit)
{
    Fix(".function", "t_memory", vmtest::Builtin("t_memory", VmExecTest_Memory));
    ASSERT_TRUE(BuildProgram(".code ksl_Script_fat locals=65535\n.script fat\n call.i t_memory 0\n popz.v\n"
                             " call.i fat 0\n ret.v\n"
                             ".code ksl_top\n call.i fat 0\n call.i t_out 1\n popz.v\n"));
    GrowObjectTable(256);
    ASSERT_EQ(VM_StackLimit, VM_STACK_LIMIT);
    const int64_t perCall = 65535 * int64_t(sizeof(RValue));
    EXPECT_EQ(Run("ksl_top"), "untouched");
    ASSERT_EQ(wadtest::g_boxes.size(), 1u);
    EXPECT_EQ(wadtest::g_boxes[0], "ksl_Script_fat");
    EXPECT_EQ(g_vmOut, "");
    ASSERT_FALSE(g_vmSeen.empty());
    EXPECT_LE(int64_t(g_vmSeen.size()), VM_STACK_LIMIT / perCall);
    int64_t most = 0;
    for (const VmExecSeen& seen : g_vmSeen) most = std::max(most, seen.stackSize);
    EXPECT_LE(most - int64_t(baseline_.heapBytesInUse), VM_STACK_LIMIT + (4 << 20));
    ExpectBaseline("locals");
}

}  // namespace
