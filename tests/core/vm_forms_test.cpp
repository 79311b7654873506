// The interpreter loop runs common instructions itself (plain reals, local slots, arguments, script calls and
// returns, and short sequences of them as one step); every other case goes to the instruction's handler. Each
// program here runs twice, with the loop's forms and with every instruction through its handler: both runs
// must give the same result, report the same error and leave memory as they found it.
#include "vm_test_util.h"

#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "world/builtin_variables.h"
#include "world/object_base.h"

#include <cmath>
#include <string>

namespace {

class VmFormsTest : public vmtest::VmProgramTest {
protected:
    void SetUp() override
    {
        VmProgramTest::SetUp();
        InitVariables();  // the argumentN variables the argument form stands for
        savedEpsilon_ = Math_Epsilon;
        Math_Epsilon = 1e-5;
    }
    void TearDown() override
    {
        VM_UseForms = true;
        VM_InstructionBudget = -1;
        Math_Epsilon = savedEpsilon_;
        VmProgramTest::TearDown();
        Variable_BuiltIn_Free();
    }

    // The entry's result ("!" and the message when it reports an error), and whether the run left the
    // memory manager's block count as it found it.
    std::string Run(const std::string& entry, bool* balanced)
    {
        const size_t before = MemoryManager_Probe().liveBlocks;
        const std::string got = RunForText(entry);
        ObjectBasePool_Clear();
        *balanced = MemoryManager_Probe().liveBlocks == before;
        return got;
    }

    double savedEpsilon_ = 0;
};

// Scripts the rows call.
const char kVmFormsScripts[] = R"(
.version 15
.code ksl_Script_twice args=1
.script twice
    pushb.v builtin.argument0
    push.e 2
    mul.i.v
    ret.v
.code ksl_Script_second args=2
.script second
    pushb.v builtin.argument1
    ret.v
.code ksl_Script_nolocals
.script nolocals
    push.e 5
    conv.i.v
    pop.v.v local.late
    pushl.v local.late
    ret.v
.code ksl_Script_leaves
.script leaves
    push.s "left below"
    conv.s.v
    push.e 4
    conv.i.v
    ret.v
.code ksl_Script_sumto args=1
.script sumto
.locals n
    pushb.v builtin.argument0
    pop.v.v local.n
    pushl.v local.n
    push.e 1
    set.i.v le
    bf deeper
    pushl.v local.n
    ret.v
deeper:
    pushl.v local.n
    push.e 1
    sub.i.v
    call.i sumto 1
    pushl.v local.n
    add.v.v
    ret.v
.code ksl_Script_fib args=1
.script fib
    pushb.v builtin.argument0
    push.e 2
    set.i.v lt
    bf recurse
    pushb.v builtin.argument0
    ret.v
recurse:
    pushb.v builtin.argument0
    push.e 1
    sub.i.v
    call.i fib 1
    pushb.v builtin.argument0
    push.e 2
    sub.i.v
    call.i fib 1
    add.v.v
    ret.v
)";

TEST_F(VmFormsTest, EveryFormGivesWhatItsHandlerGives)
{
    struct Row {
        const char* what;
        const char* body;      // the entry's instructions (locals a b s)
        const char* expected;  // the result both runs must give
    };
    const Row rows[] = {
        // Numbers.
        {"mod keeps the dividend's sign, zero included", "push.d -7\n conv.d.v\n push.e 7\n mod.i.v\n ret.v\n",
         "real -0"},
        {"mod of reals with a fraction", "push.d 7.5\n conv.d.v\n push.e 2\n mod.i.v\n ret.v\n", "real 1.5"},
        {"mod beyond 32 bits", "push.d 10000000000\n conv.d.v\n push.e 7\n mod.i.v\n ret.v\n", "real 4"},
        {"mod of the smallest int32 by -1", "push.i -2147483648\n conv.i.v\n push.e -1\n mod.i.v\n ret.v\n",
         "real -0"},
        {"mod by a divisor under the tolerance", "push.d 1\n conv.d.v\n push.d 1e-11\n conv.d.v\n mod.v.v\n ret.v\n",
         "!DoMod :: Divide by zero"},
        {"add, sub, mul and div of values and items",
         "push.d 6\n conv.d.v\n push.e 4\n add.i.v\n push.d 1.5\n mul.d.v\n push.e 3\n sub.i.v\n push.d 2\n"
         " conv.d.v\n div.v.v\n ret.v\n",
         "real 6"},
        {"equal within the tolerance", "push.d 0.1\n conv.d.v\n push.d 0.2\n conv.d.v\n add.v.v\n push.d 0.3\n"
         " conv.d.v\n set.v.v eq\n ret.b\n", "bool 1"},
        {"a NaN compares false", "push.d 0\n conv.d.v\n push.d 0\n conv.d.v\n div.v.v\n push.d 0\n conv.d.v\n"
         " set.v.v ne\n ret.b\n", "bool 0"},
        {"a text and a real do not add", "push.s \"a\"\n conv.s.v\n push.d 1\n conv.d.v\n add.v.v\n ret.v\n",
         "!DoAdd :: Execution Error"},
        {"texts as values concatenate", "push.s \"ab\"\n conv.s.v\n push.s \"cd\"\n conv.s.v\n add.v.v\n ret.v\n",
         "string abcd"},
        {"conv.v.i truncates a real", "push.d -2.75\n conv.d.v\n conv.v.i\n ret.i\n", "real -2"},
        {"conv.v.i of a text", "push.s \"12\"\n conv.s.v\n conv.v.i\n ret.i\n", "real 12"},
        {"conv.v.i of a bool", "push.b true\n conv.b.v\n conv.v.i\n ret.i\n", "real 1"},
        // Locals.
        {"a real replaces a text in a local", "push.s \"t\"\n pop.v.s local.a\n push.d 2\n pop.v.d local.a\n"
         " push.d 3\n conv.d.v\n pop.v.v local.a\n pushl.v local.a\n ret.v\n", "real 3"},
        {"a text local is pushed with its reference", "push.s \"kept\"\n pop.v.s local.a\n pushl.v local.a\n"
         " pushl.v local.a\n popz.v\n ret.v\n", "string kept"},
        {"a local read before it is set", "pushl.v local.b\n ret.v\n",
         "!local variable b(100001, -2147483648) not set before reading it."},
        {"an unset value is discarded by its handler", "push.e 1\n conv.i.v\n popz.v\n pushl.v local.a\n ret.v\n",
         "!local variable a(100000, -2147483648) not set before reading it."},
        // Sequences run as one step.
        {"a counted loop over a local", "push.e 0\n conv.i.v\n pop.v.v local.a\nl: pushl.v local.a\n push.e 1\n"
         " add.i.v\n pop.v.v local.a\n pushl.v local.a\n push.e 10\n set.i.v lt\n bt l\n pushl.v local.a\n ret.v\n",
         "real 10"},
        {"a sequence over a text local takes the steps one by one",
         "push.s \"abc\"\n pop.v.s local.a\n pushl.v local.a\n push.e 2\n set.i.v ne\n bf no\n push.e 1\n conv.i.v\n"
         " ret.v\nno: push.e 0\n conv.i.v\n ret.v\n", "real 1"},
        {"a sequence's result into a local that holds a text",
         "push.s \"old\"\n pop.v.s local.b\n push.d 2.5\n pop.v.d local.a\n pushl.v local.a\n push.e 3\n mul.i.v\n"
         " pop.v.v local.b\n pushl.v local.b\n ret.v\n", "real 7.5"},
        {"a sequence's mod by zero", "push.d 2\n pop.v.d local.a\n pushl.v local.a\n push.e 0\n mod.i.v\n ret.v\n",
         "!DoMod :: Divide by zero"},
        {"a branch into the middle of a sequence", "push.d 4\n pop.v.d local.a\n push.d 100\n conv.d.v\n b mid\n"
         " pushl.v local.a\nmid: push.e 1\n add.i.v\n ret.v\n", "real 101"},
        // Arrays in locals.
        {"an array filled and read", "push.d 5\n conv.d.v\n push.e 0\n pop.v.v local.a[]\n push.d 6\n conv.d.v\n"
         " push.e 1\n pop.v.v local.a[]\n push.e 1\n push.v local.a[]\n push.e 0\n push.v local.a[]\n add.v.v\n"
         " ret.v\n", "real 11"},
        {"a write through a holder that does not own the array copies it first",
         "push.d 1\n conv.d.v\n push.e 0\n pop.v.v local.a[]\n pushl.v local.a\n pop.v.v local.b\n push.d 9\n"
         " conv.d.v\n push.e 0\n pop.v.v local.b[]\n push.e 0\n push.v local.a[]\n ret.v\n", "real 1"},
        {"an element past the end", "push.d 1\n conv.d.v\n push.e 0\n pop.v.v local.a[]\n push.e 3\n"
         " push.v local.a[]\n ret.v\n",
         "!Push :: Execution Error - Variable Index [0,3] out of range [1,1] - -7.a(100000,3)"},
        {"a text element replaced by a real", "push.s \"t\"\n conv.s.v\n push.e 0\n pop.v.v local.a[]\n push.d 2\n"
         " conv.d.v\n push.e 0\n pop.v.v local.a[]\n push.e 0\n push.v local.a[]\n ret.v\n", "real 2"},
        {"an array indexed by a local", "push.d 1\n pop.v.d local.s\n push.d 5\n conv.d.v\n push.e 1\n"
         " pop.v.v local.a[]\n push.d 7\n conv.d.v\n pushl.v local.s\n conv.v.i\n pop.v.v local.a[]\n"
         " pushl.v local.s\n conv.v.i\n push.v local.a[]\n ret.v\n", "real 7"},
        {"a local index past the end", "push.d 1\n conv.d.v\n push.e 0\n pop.v.v local.a[]\n push.d 2\n"
         " pop.v.d local.s\n pushl.v local.s\n conv.v.i\n push.v local.a[]\n ret.v\n",
         "!Push :: Execution Error - Variable Index [0,2] out of range [1,1] - -7.a(100000,2)"},
        {"a write by a local index through a holder that does not own the array",
         "push.d 1\n conv.d.v\n push.e 0\n pop.v.v local.a[]\n pushl.v local.a\n pop.v.v local.b\n push.d 0\n"
         " pop.v.d local.s\n push.d 9\n conv.d.v\n pushl.v local.s\n conv.v.i\n pop.v.v local.b[]\n push.e 0\n"
         " push.v local.a[]\n ret.v\n", "real 1"},
        // Calls and returns.
        {"a script call and its return", "push.e 21\n conv.i.v\n call.i twice 1\n ret.v\n", "real 42"},
        {"recursion", "push.e 15\n conv.i.v\n call.i fib 1\n ret.v\n", "real 610"},
        {"recursion through a script with locals", "push.e 100\n conv.i.v\n call.i sumto 1\n ret.v\n",
         "real 5050"},
        {"an argument the call did not give", "push.e 1\n conv.i.v\n call.i second 1\n ret.v\n", "undefined"},
        {"a text argument", "push.s \"x\"\n conv.s.v\n push.s \"arg\"\n conv.s.v\n call.i second 2\n ret.v\n",
         "string x"},
        {"arguments on a 4-byte boundary", "push.e 7\n push.e 3\n conv.i.v\n call.i twice 1\n popz.v\n conv.i.v\n"
         " ret.v\n", "real 7"},
        {"a script without locals that sets one", "call.i nolocals 0\n ret.v\n", "real 5"},
        {"a return with an item left below it", "call.i leaves 0\n ret.v\n", "real 4"},
    };
    std::string source = kVmFormsScripts;
    for (size_t i = 0; i < std::size(rows); ++i)
        source += ".code ksl_f" + std::to_string(i) + "\n.locals a b s\n " + rows[i].body;
    ASSERT_TRUE(Build(source));
    PrepareAll();
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].what);
        const std::string entry = "ksl_f" + std::to_string(i);
        bool balancedWith = false, balancedWithout = false;
        VM_UseForms = true;
        const std::string with = Run(entry, &balancedWith);
        VM_UseForms = false;
        const std::string without = Run(entry, &balancedWithout);
        VM_UseForms = true;
        EXPECT_EQ(with.substr(0, with.find('\n')), rows[i].expected);
        EXPECT_EQ(with, without);  // the whole report, code positions included
        EXPECT_TRUE(balancedWith);
        EXPECT_TRUE(balancedWithout);
    }
}

// Fuzzing stops loops by an instruction budget: a sequence run as one step still counts every instruction.
TEST_F(VmFormsTest, TheInstructionBudgetCountsEveryInstructionOfASequence)
{
    std::string body = "push.e 0\n conv.i.v\n pop.v.v local.a\n";  // 3 instructions
    for (int i = 0; i < 20; ++i) body += " pushl.v local.a\n push.e 1\n add.i.v\n pop.v.v local.a\n";
    ASSERT_TRUE(Build(".version 15\n.code ksl_count\n.locals a\n " + body + " pushl.v local.a\n ret.v\n"));
    PrepareAll();
    for (const bool forms : {true, false}) {
        SCOPED_TRACE(forms ? "with the forms" : "through the handlers");
        VM_UseForms = forms;
        QZObjectBase* locals = VM_CreateLocals(1);
        // 3 + 4 * 4 + 2: the fifth increment is cut off after its push of the constant.
        VM_InstructionBudget = 21;
        RValue result;
        RValue_SetUndefined(&result);
        VM_Exec(Entry("ksl_count"), nullptr, nullptr, &result, locals, 0, nullptr, nullptr);
        VM_InstructionBudget = -1;
        EXPECT_EQ(vmtest::ValueText(ObjectBase_GetSlot(locals, 0)), "real 4");
        RValue_Free(&result);
        ObjectBase_Free(locals);
    }
}

}  // namespace
