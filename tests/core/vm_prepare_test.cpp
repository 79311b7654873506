// Preparation of code buffers: the handler table and instruction index, the dedicated handlers, and the
// refusal of code that is not sound (it comes from a user-replaceable file).
#include "../world/wad_test_util.h"
#include "vm_test_util.h"

#include "core/code.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/vm.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

int g_vmPrepCalls = 0;
void VmPrepTest_Count(RValue*, CInstance*, CInstance*, int32_t, RValue*) { ++g_vmPrepCalls; }

// Words and operands of one code array, written little-endian.
struct VmPrepCode {
    std::vector<uint8_t> bytes;
    VmPrepCode& W(uint32_t w)
    {
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(w >> (8 * i)));
        return *this;
    }
    VmPrepCode& D(double d)
    {
        uint64_t u;
        std::memcpy(&u, &d, 8);
        return W(uint32_t(u)).W(uint32_t(u >> 32));
    }
};

class VmPrepareTest : public wadtest::LoaderTest {
protected:
    void SetUp() override
    {
        LoaderTest::SetUp();
        g_vmPrepCalls = 0;
        countId_ = -1;
        for (int32_t i = 0; i < Function_Count() && countId_ < 0; ++i)
            if (std::strcmp(Function_Entry(i)->name, "t_count") == 0) countId_ = i;
        if (countId_ < 0) countId_ = Function_Add("t_count", VmPrepTest_Count, -1, false) - 1;
    }

    // A code object over a copy of the code (the object owns it).
    CCode* Make(const VmPrepCode& c, const char* name = "ksl_raw")
    {
        auto* code = new CCode(-1, false);
        auto* bytes = static_cast<uint8_t*>(MemAlloc(c.bytes.size() + 4));
        if (!c.bytes.empty()) std::memcpy(bytes, c.bytes.data(), c.bytes.size());
        code->code = new VMBuffer(int32_t(c.bytes.size()), bytes, true);
        code->name = name;
        return code;
    }

    int32_t countId_ = -1;
};

TEST_F(VmPrepareTest, EmptyCodePreparesToOneSlotTablesAndReturnsAtOnce)
{
    CCode* code = Make(VmPrepCode{});
    ASSERT_TRUE(code->code->Prepare());
    ASSERT_NE(code->code->handlers, nullptr);
    EXPECT_EQ(code->code->handlers[0], nullptr);
    EXPECT_EQ(code->code->instructionIndex[0], 0);
    RValue result;
    RValue_SetReal(&result, 42);
    EXPECT_TRUE(VM_Exec(code, nullptr, nullptr, &result, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(result.real, 42);
    EXPECT_EQ(wadtest::g_exitCalls, 0);
    delete code;
}

TEST_F(VmPrepareTest, PreparesOnceAndIndexesInstructionStartsOnly)
{
    // push.d 1.5 (operand 8), push.e 5 with bit 30 (no operand), popz.i, popz.d, exit.
    CCode* code = Make(VmPrepCode{}.W(0xC0000000).D(1.5).W(0xC00F0005).W(0x9E020000).W(0x9E000000).W(0x9D000000));
    VMBuffer* b = code->code;
    ASSERT_TRUE(b->Prepare());
    VMHandler* handlers = b->handlers;
    int32_t* index = b->instructionIndex;
    ASSERT_TRUE(b->Prepare());
    EXPECT_EQ(b->handlers, handlers);
    EXPECT_EQ(b->instructionIndex, index);
    const int32_t expected[] = {0, -1, -1, 1, 2, 3, 4, 5};  // operand words start nothing; the end is the count
    for (int32_t w = 0; w < 8; ++w) EXPECT_EQ(index[w], expected[w]) << "word " << w;
    EXPECT_EQ(handlers[0], VM_OpHandlers[0]);
    EXPECT_EQ(handlers[1], VM_OpHandlers[0]);
    EXPECT_EQ(handlers[4], VM_OpHandlers[29]);
    EXPECT_EQ(handlers[5], nullptr);
    delete code;
}

TEST_F(VmPrepareTest, CallsGetTheHandlerOfTheirIdRange)
{
    // Built-in ids up to 99,999 are valid only when the table has them.
    while (Function_Count() < 100000) Function_Add("t_filler", VmPrepTest_Count, -1, false);
    struct Row {
        int32_t id;
        VMHandler handler;
    };
    const Row rows[] = {
        {0, VM_CallBuiltin},      {99999, VM_CallBuiltin}, {100000, DoCallScript}, {499998, DoCallScript},
        {499999, DoCall},         {500000, DoCall},        {500001, DoCall},
    };
    for (const Row& row : rows) {
        CCode* code = Make(VmPrepCode{}.W(0xD9020000).W(uint32_t(row.id)));
        ASSERT_TRUE(code->code->Prepare()) << row.id;
        EXPECT_EQ(code->code->handlers[0], row.handler) << row.id;
        delete code;
    }
}

TEST_F(VmPrepareTest, DedicatedStoreAndConversionForms)
{
    struct Row {
        const char* what;
        VmPrepCode code;
        VMHandler handler;
    };
    const Row rows[] = {
        {"pop.v.v into a local", VmPrepCode{}.W(0x4555FFF9).W(0xA0000000u | 100000), DoPopLocal},
        {"pop.v.v into self", VmPrepCode{}.W(0x4555FFFF).W(0xA0000000u | 100000), VM_OpHandlers[5]},
        {"pop.i.v into a local", VmPrepCode{}.W(0x4552FFF9).W(0xA0000000u | 100000), VM_OpHandlers[5]},
        {"conv.i.v", VmPrepCode{}.W(0x07520000), DoConvIntToVar},
        {"conv.i.v, object-model variant", VmPrepCode{}.W(0x07520100), VM_OpHandlers[7]},
        {"conv.d.v", VmPrepCode{}.W(0x07500000), VM_OpHandlers[7]},
    };
    for (const Row& row : rows) {
        CCode* code = Make(row.code);
        ASSERT_TRUE(code->code->Prepare()) << row.what;
        EXPECT_EQ(code->code->handlers[0], row.handler) << row.what;
        delete code;
    }
}

TEST_F(VmPrepareTest, UnsoundCodeIsRefusedAndRunsNothing)
{
    const uint32_t call = 0xD9000000u | (2u << 16);  // call.i, no arguments
    struct Row {
        const char* what;
        VmPrepCode code;
        int32_t bad;
    };
    const Row rows[] = {
        {"operand past the end", VmPrepCode{}.W(call).W(0).W(0xC0000000).W(0), 8},
        {"length not whole words", VmPrepCode{}.W(call).W(0).W(0x9D000000), -2},
        {"branch into an operand", VmPrepCode{}.W(call).W(0).W(0xB6000000u | ((-1) & 0x7FFFFF)), 8},
        {"branch before the code", VmPrepCode{}.W(call).W(0).W(0xB6000000u | ((-3) & 0x7FFFFF)), 8},
        {"branch past the end", VmPrepCode{}.W(call).W(0).W(0xB6000002u), 8},
        {"string index outside the table", VmPrepCode{}.W(call).W(0).W(0xC0060000).W(0), 8},
        {"built-in id outside the table", VmPrepCode{}.W(call).W(0).W(call).W(uint32_t(Function_Count())), 8},
        {"negative call id", VmPrepCode{}.W(call).W(0).W(call).W(uint32_t(-5)), 8},
        {"call of a real", VmPrepCode{}.W(call).W(0).W(0xD9000000).D(1), 8},
        {"two-type form with type 9", VmPrepCode{}.W(call).W(0).W(0x0C900000), 8},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        VmPrepCode c = row.code;
        int32_t bad = row.bad;
        if (bad == -2) c.bytes.pop_back();  // 11 bytes
        // The first instruction calls the counting built-in: it must not run.
        std::memcpy(c.bytes.data() + 4, &countId_, 4);
        CCode* code = Make(c, "ksl_bad");
        std::vector<uint8_t> before(code->code->bytes, code->code->bytes + code->code->length);
        int32_t offset = -1;
        EXPECT_FALSE(code->code->Prepare(&offset));
        if (bad >= 0) {
            EXPECT_EQ(offset, bad);
        }
        EXPECT_EQ(code->code->handlers, nullptr);

        wadtest::g_exitCalls = 0;
        release_.text.clear();
        Error_ResetState();
        g_vmPrepCalls = 0;
        RValue result;
        RValue_SetUndefined(&result);
        VM_Exec(code, nullptr, nullptr, &result, nullptr, 0, nullptr, nullptr);
        EXPECT_EQ(g_vmPrepCalls, 0);
        EXPECT_EQ(wadtest::g_exitCalls, 1);
        if (bad >= 0) {
            char expected[64];
            std::snprintf(expected, sizeof expected, "Malformed bytecode in ksl_bad at 0x%08x", uint32_t(bad));
            EXPECT_NE(release_.text.find(expected), std::string::npos) << release_.text;
        }
        EXPECT_EQ(std::vector<uint8_t>(code->code->bytes, code->code->bytes + code->code->length), before);
        delete code;
    }
}

TEST_F(VmPrepareTest, BranchesMayLandOnAnyStartIncludingTheEnd)
{
    const uint32_t call = 0xD9000000u | (2u << 16);
    // b +3 over the call onto a b +2 to the very end; behind it a b back to the start that never runs.
    CCode* code = Make(VmPrepCode{}.W(0xB6000003).W(call).W(0).W(0xB6000002).W(0xB6000000u | ((-4) & 0x7FFFFF)));
    std::memcpy(code->code->bytes + 8, &countId_, 4);
    int32_t offset = -1;
    ASSERT_TRUE(code->code->Prepare(&offset)) << offset;
    g_vmPrepCalls = 0;
    VM_Exec(code, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(g_vmPrepCalls, 0);
    EXPECT_EQ(wadtest::g_exitCalls, 0);
    delete code;
}

TEST_F(VmPrepareTest, AnEntryInsideAnInstructionIsRefused)
{
    const uint32_t call = 0xD9000000u | (2u << 16);
    CCode* code = Make(VmPrepCode{}.W(call).W(0).W(0x9D000000));
    std::memcpy(code->code->bytes + 4, &countId_, 4);
    code->blockOffset = 4;  // the call's operand
    g_vmPrepCalls = 0;
    VM_Exec(code, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(g_vmPrepCalls, 0);
    EXPECT_EQ(wadtest::g_exitCalls, 1);
    EXPECT_NE(release_.text.find("Malformed bytecode in ksl_raw at 0x00000004"), std::string::npos) << release_.text;
    delete code;
}


// ---- stack types: every path from an entry must use the stack as its operations' types say ----

// Words of the checks below; branch words take a word offset from the branch itself.
constexpr uint32_t kVmTyPushI = 0xC0020000u;   // + 4-byte operand
constexpr uint32_t kVmTyPushD = 0xC0000000u;   // + 8-byte operand
constexpr uint32_t kVmTyPushS = 0xC0060000u;   // + string index
constexpr uint32_t kVmTyPushV = 0xC0050000u;   // | scope, + variable reference
uint32_t VmTyPushE(int16_t v) { return 0xC00F0000u | uint16_t(v); }
uint32_t VmTyPopz(int32_t t) { return 0x9E000000u | uint32_t(t) << 16; }
uint32_t VmTyRet(int32_t t) { return 0x9C000000u | uint32_t(t) << 16; }
uint32_t VmTyDup(int32_t t, uint32_t n) { return 0x86000000u | uint32_t(t) << 16 | n; }
uint32_t VmTyTwo(uint32_t op, int32_t t1, int32_t t2) { return op << 24 | uint32_t(t2) << 20 | uint32_t(t1) << 16; }
uint32_t VmTyBranch(uint32_t top, int32_t words) { return top << 24 | (uint32_t(words) & 0x7FFFFFu); }
constexpr uint32_t kVmTyExit = 0x9D020000u;
constexpr uint32_t kVmTyB = 0xB6, kVmTyBt = 0xB7, kVmTyBf = 0xB8, kVmTyPushEnv = 0xBA, kVmTyPopEnv = 0xBB;

// Lets push.s index 0 pass preparation (no text is read: nothing here pushes a string).
struct VmTyStrings {
    uint32_t saved = g_GameData.stringCount;
    VmTyStrings() { g_GameData.stringCount = 1; }
    ~VmTyStrings() { g_GameData.stringCount = saved; }
};

class VmStackTypeTest : public VmPrepareTest {
protected:
    // A program that first calls the counting built-in and drops its value, then runs body: a refused
    // entry must not even make that call.
    VmPrepCode Counted(const VmPrepCode& body)
    {
        VmPrepCode c;
        c.W(0xD9020000u).W(uint32_t(countId_)).W(VmTyPopz(5));
        c.bytes.insert(c.bytes.end(), body.bytes.begin(), body.bytes.end());
        return c;
    }
};

TEST_F(VmStackTypeTest, IllTypedEntriesAreRefusedAtTheFirstOffendingInstruction)
{
    // Offsets count the 12 bytes of the counted call in front of each body.
    struct Row {
        const char* what;
        VmPrepCode body;
        int32_t bad;
    };
    const Row rows[] = {
        {"four int32 items taken as one value",
         VmPrepCode{}.W(kVmTyPushI).W(0).W(kVmTyPushI).W(0x10).W(kVmTyPushI).W(0x41414141).W(kVmTyPushI).W(0)
             .W(VmTyRet(5)),
         12 + 32},
        {"an int32 taken as a string handle", VmPrepCode{}.W(VmTyPushE(1)).W(VmTyPopz(6)), 16},
        {"a real popped as an int32", VmPrepCode{}.W(kVmTyPushD).D(1.5).W(VmTyPopz(2)), 24},
        {"a pop below the entry's empty stack", VmPrepCode{}.W(VmTyPopz(2)), 12},
        {"a real and an int32 meet at a join",
         // push.e 1; bt +5 (to push.i); push.d 2; b +3 (to the join); push.i 5; join: popz.d
         VmPrepCode{}.W(VmTyPushE(1)).W(VmTyBranch(kVmTyBt, 5)).W(kVmTyPushD).D(2).W(VmTyBranch(kVmTyB, 3))
             .W(kVmTyPushI).W(5).W(VmTyPopz(0)),
         12 + 32},
        {"a loop head reached with one more item each time round",
         // head: push.e 7; push.e 1; bt head
         VmPrepCode{}.W(VmTyPushE(7)).W(VmTyPushE(1)).W(VmTyBranch(kVmTyBt, -2)), 12},
        {"a with record popped as a value",
         // push.e -1; pushenv +2 (to popenv); body: popz.v; popenv -1 (to the body)
         VmPrepCode{}.W(VmTyPushE(-1)).W(VmTyBranch(kVmTyPushEnv, 2)).W(VmTyPopz(5)).W(VmTyBranch(kVmTyPopEnv, -1)),
         12 + 8},
        {"a with record copied as bytes",
         VmPrepCode{}.W(VmTyPushE(-1)).W(VmTyBranch(kVmTyPushEnv, 2)).W(VmTyDup(2, 1)).W(VmTyBranch(kVmTyPopEnv, -1)),
         12 + 8},
        {"a with block that leaves an item behind for its next round",
         VmPrepCode{}.W(VmTyPushE(-1)).W(VmTyBranch(kVmTyPushEnv, 2)).W(VmTyPushE(3)).W(VmTyBranch(kVmTyPopEnv, -1)),
         12 + 12},
        {"popenv without a with record", VmPrepCode{}.W(VmTyPushE(-1)).W(0xBBF00000u), 16},
        {"a call with more arguments than values", VmPrepCode{}.W(VmTyPushE(1)).W(0xD9020001u).W(uint32_t(countId_)), 16},
        {"bt on a real", VmPrepCode{}.W(kVmTyPushD).D(0).W(VmTyBranch(kVmTyBt, 1)), 24},
        // The object-model conversion pushes a truth value by its variant, whatever its second type says.
        {"a truth value from a conversion to type 7 popped as a value",
         VmPrepCode{}.W(VmTyPushE(1)).W(0x27720100u).W(VmTyPopz(5)), 12 + 8},
        {"a stacked scope that is a string",
         VmPrepCode{}.W(kVmTyPushS).W(0).W(kVmTyPushV | 0xFFFF).W(0x80000000u | 100000), 20},
        {"two reals copied as one value", VmPrepCode{}.W(kVmTyPushD).D(1).W(kVmTyPushD).D(2).W(VmTyDup(5, 0)), 12 + 24},
        {"a copy that splits a real", VmPrepCode{}.W(kVmTyPushD).D(1).W(VmTyDup(2, 0)), 24},
        {"an add of a real named as int32 items",
         VmPrepCode{}.W(kVmTyPushD).D(1).W(kVmTyPushI).W(2).W(VmTyTwo(12, 2, 2)), 12 + 20},
        {"a value stored from an int32 named as a value",
         VmPrepCode{}.W(VmTyPushE(3)).W(0x4555FFF9u).W(0xA0000000u | 100000), 16},
        {"a swap of values that splits a real",
         VmPrepCode{}.W(kVmTyPushD).D(1).W(0xD9020000u).W(uint32_t(countId_)).W(0x86050000u | 0x0111u), 12 + 20},
        {"a pop swap that gives up a value",
         // a value, an int32 moved under it, then the value dropped unreleased
         VmPrepCode{}.W(0xD9020000u).W(uint32_t(countId_)).W(VmTyPushE(1)).W(0x052F0000u | 0x0404u), 12 + 12},
        {"a push with no operand to push", VmPrepCode{}.W(0x80020000u), 12},
        {"an object-model scope with an int32 where its object goes",
         VmPrepCode{}.W(VmTyPushE(1)).W(kVmTyPushV | 0xFFF7).W(0xA0000000u | 100000), 16},
        {"an array-index check of a real", VmPrepCode{}.W(kVmTyPushD).D(1).W(0xFFFFFFFFu), 24},
    };
    VmTyStrings strings;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CCode* code = Make(Counted(row.body), "ksl_bad");
        ASSERT_TRUE(code->code->Prepare()) << "every word alone is sound";
        std::vector<uint8_t> before(code->code->bytes, code->code->bytes + code->code->length);
        int32_t bad = -1;
        EXPECT_FALSE(VM_VerifyEntry(code->code, 0, &bad));
        EXPECT_EQ(bad, row.bad);

        wadtest::g_exitCalls = 0;
        release_.text.clear();
        Error_ResetState();
        g_vmPrepCalls = 0;
        RValue result;
        RValue_SetReal(&result, 7);
        VM_Exec(code, nullptr, nullptr, &result, nullptr, 0, nullptr, nullptr);
        EXPECT_EQ(g_vmPrepCalls, 0);
        EXPECT_EQ(wadtest::g_exitCalls, 1);
        EXPECT_EQ(result.real, 7);
        char expected[64];
        std::snprintf(expected, sizeof expected, "ERROR!!! :: Malformed bytecode in ksl_bad at 0x%08x\n",
                      uint32_t(row.bad));
        const std::string reported = kvtest::ReportedMessages(release_.text);
        EXPECT_EQ(reported.rfind(expected, 0), 0u) << reported;
        EXPECT_EQ(std::vector<uint8_t>(code->code->bytes, code->code->bytes + code->code->length), before);
        delete code;
    }
}

TEST_F(VmStackTypeTest, SoundEntriesWithBranchesLoopsAndWithBlocksAreAccepted)
{
    struct Row {
        const char* what;
        VmPrepCode body;
    };
    const Row rows[] = {
        {"both arms of an if leave a real",
         // push.e 1; bf +4; push.d 1; b +4; push.d 2; join: ret.d
         VmPrepCode{}.W(VmTyPushE(1)).W(VmTyBranch(kVmTyBf, 5)).W(kVmTyPushD).D(1).W(VmTyBranch(kVmTyB, 4))
             .W(kVmTyPushD).D(2).W(VmTyRet(0))},
        {"a loop whose body leaves the stack as it found it",
         // head: call; popz.v; push.e 0; bt head
         VmPrepCode{}.W(0xD9020000u).W(uint32_t(countId_)).W(VmTyPopz(5)).W(VmTyPushE(0)).W(VmTyBranch(kVmTyBt, -4))},
        {"items kept below a loop",
         VmPrepCode{}.W(kVmTyPushD).D(4).W(VmTyPushE(0)).W(VmTyBranch(kVmTyBt, -1)).W(VmTyPopz(0))},
        {"a with block, its skip and its early exit",
         // push.e -1; pushenv +8; body: push.e 0; bf +3; popenv exit; b +5; call; popz.v; popenv -7; exit
         VmPrepCode{}.W(VmTyPushE(-1)).W(VmTyBranch(kVmTyPushEnv, 8)).W(VmTyPushE(0)).W(VmTyBranch(kVmTyBf, 3))
             .W(0xBBF00000u).W(VmTyBranch(kVmTyB, 5)).W(0xD9020000u).W(uint32_t(countId_)).W(VmTyPopz(5))
             .W(VmTyBranch(kVmTyPopEnv, -7)).W(kVmTyExit)},
        {"nested with blocks",
         VmPrepCode{}.W(VmTyPushE(-1)).W(VmTyBranch(kVmTyPushEnv, 4)).W(VmTyPushE(-2))
             .W(VmTyBranch(kVmTyPushEnv, 1)).W(VmTyBranch(kVmTyPopEnv, 0)).W(VmTyBranch(kVmTyPopEnv, -3))},
        {"copies over mixed sizes: an int32 and a real as three int32 words",
         VmPrepCode{}.W(kVmTyPushD).D(1).W(VmTyPushE(2)).W(VmTyDup(2, 2)).W(VmTyPopz(2)).W(VmTyPopz(0))
             .W(VmTyPopz(2)).W(VmTyPopz(0))},
        {"a value swap and a pop swap",
         // two values swapped; push.e 1 moved under one value (16 bytes), nothing dropped
         VmPrepCode{}.W(0xD9020000u).W(uint32_t(countId_)).W(0xD9020000u).W(uint32_t(countId_))
             .W(0x86050000u | 0x0111u).W(VmTyPushE(1)).W(0x052F0000u | 0x0004u).W(VmTyPopz(5)).W(VmTyPopz(2))
             .W(VmTyPopz(5))},
        {"a string added to a string, compared, then the answer tested",
         VmPrepCode{}.W(kVmTyPushS).W(0).W(kVmTyPushS).W(0).W(VmTyTwo(12, 6, 6)).W(kVmTyPushS).W(0)
             .W(VmTyTwo(21, 6, 6) | 0x0300u).W(VmTyBranch(kVmTyBf, 1))},
        {"an instance id in the word that reads as an object-model scope takes no object",
         VmPrepCode{}.W(kVmTyPushV | 0xFFF7).W(0xE0000000u | 100000).W(VmTyPopz(5))},
        {"the object model's delete form leaves its outcome, the declaration form nothing",
         VmPrepCode{}.W(0x4585FFFFu).W(0xA0000000u | 100000).W(VmTyPopz(4)).W(0x4595FFFFu).W(0xA0000000u | 100000)},
        {"an array-index check and an indexed store into a local",
         VmPrepCode{}.W(0xD9020000u).W(uint32_t(countId_)).W(VmTyPushE(3)).W(0xFFFFFFFFu).W(0x4555FFF9u)
             .W(0x20000000u | 100000)},
    };
    VmTyStrings strings;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CCode* code = Make(Counted(row.body));
        ASSERT_TRUE(code->code->Prepare());
        int32_t bad = -1;
        EXPECT_TRUE(VM_VerifyEntry(code->code, 0, &bad)) << "refused at " << bad;
        delete code;
    }
}

TEST_F(VmStackTypeTest, EachEntryOfASharedBlockStartsEmptyAndKeepsItsVerdict)
{
    // push.e 1 | popz.i | exit: from 0 the int32 is there to drop; from 4 the stack is empty.
    CCode* code = Make(VmPrepCode{}.W(VmTyPushE(1)).W(VmTyPopz(2)).W(kVmTyExit));
    ASSERT_TRUE(code->code->Prepare());
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        int32_t bad = -1;
        EXPECT_TRUE(VM_VerifyEntry(code->code, 0, &bad));
        EXPECT_FALSE(VM_VerifyEntry(code->code, 4, &bad));
        EXPECT_EQ(bad, 4);
        EXPECT_TRUE(VM_VerifyEntry(code->code, 8, &bad));
        EXPECT_TRUE(VM_VerifyEntry(code->code, 12, &bad)) << "the end: nothing runs";
    }
    code->blockOffset = 4;
    wadtest::g_exitCalls = 0;
    release_.text.clear();
    VM_Exec(code, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(wadtest::g_exitCalls, 1);
    EXPECT_NE(release_.text.find("Malformed bytecode in ksl_raw at 0x00000004"), std::string::npos);
    delete code;
}

// What a return reads of the stack types (kept by the entry's check) must be what the full check answers, at
// every instruction and the end, whichever entries of a block were checked and in what order.
TEST_F(VmStackTypeTest, KeptStackTypesAnswerAsTheFullCheck)
{
    const uint32_t call = 0xD9020000u;
    const uint32_t id = uint32_t(countId_);
    struct Row {
        const char* what;
        VmPrepCode body;
        std::vector<int32_t> entries;  // checked in this order
    };
    const Row rows[] = {
        {"every item type, seven items inside a with-block and six after it",
         // push.d; push.e; conv.i.l; push.e; conv.i.f; push.s; call; push.e; push.e; set.i.i; push.e -1;
         // pushenv +2; body: exit; popenv -1; exit
         VmPrepCode{}.W(kVmTyPushD).D(1).W(VmTyPushE(1)).W(VmTyTwo(7, 2, 3)).W(VmTyPushE(2)).W(VmTyTwo(7, 2, 1))
             .W(kVmTyPushS).W(0).W(call).W(id).W(VmTyPushE(1)).W(VmTyPushE(2)).W(VmTyTwo(21, 2, 2) | 0x0300u)
             .W(VmTyPushE(-1)).W(VmTyBranch(kVmTyPushEnv, 2)).W(kVmTyExit).W(VmTyBranch(kVmTyPopEnv, -1))
             .W(kVmTyExit),
         {0}},
        {"an exit inside a with-block, an item below its record",
         VmPrepCode{}.W(kVmTyPushD).D(3).W(VmTyPushE(-1)).W(VmTyBranch(kVmTyPushEnv, 2)).W(kVmTyExit)
             .W(VmTyBranch(kVmTyPopEnv, -1)).W(VmTyPopz(0)),
         {0}},
        {"one exit reached from two entries with different stacks",
         VmPrepCode{}.W(VmTyPushE(1)).W(kVmTyExit), {0, 4}},
        {"the same, the inner entry checked first",
         VmPrepCode{}.W(VmTyPushE(1)).W(kVmTyExit), {4, 0}},
        {"one ret reached from two entries, items below the returned one from the outer",
         VmPrepCode{}.W(kVmTyPushS).W(0).W(VmTyPushE(5)).W(VmTyRet(2)), {0, 8}},
        {"a ret of a real above a value and a string",
         VmPrepCode{}.W(kVmTyPushS).W(0).W(call).W(id).W(kVmTyPushD).D(2).W(VmTyRet(0)), {0}},
        {"paths that leave the end with different stacks, and an entry that leaves one",
         VmPrepCode{}.W(VmTyPushE(0)).W(VmTyBranch(kVmTyBf, 2)).W(VmTyPushE(1)), {0, 8}},
        {"an entry whose paths all exit never reaches the end",
         VmPrepCode{}.W(VmTyPushE(1)).W(kVmTyExit), {0}},
        {"an entry checked before the one that is asked about is not",
         VmPrepCode{}.W(call).W(id).W(kVmTyExit).W(VmTyPushE(1)).W(kVmTyExit), {12}},
    };
    VmTyStrings strings;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CCode* code = Make(row.body);
        VMBuffer* buffer = code->code;
        ASSERT_TRUE(buffer->Prepare());
        std::vector<int32_t> starts;
        for (int32_t o = 0; o < buffer->length; o += 4)
            if (buffer->instructionIndex[o / 4] >= 0) starts.push_back(o);
        auto compare = [&](const char* when) {
            SCOPED_TRACE(when);
            std::vector<int32_t> offsets = starts;
            offsets.push_back(buffer->length);
            for (int32_t entry : starts)
                for (int32_t offset : offsets)
                    for (int32_t max : {4096, 6, 1, 0}) {
                        SCOPED_TRACE("entry " + std::to_string(entry) + " offset " + std::to_string(offset) +
                                     " max " + std::to_string(max));
                        uint8_t kept[4096], full[4096];
                        std::memset(kept, 0xEE, sizeof kept);
                        std::memset(full, 0xEE, sizeof full);
                        const int32_t n = VM_LeftoverTypes(buffer, entry, offset, kept, max);
                        ASSERT_EQ(n, VM_StackTypesAt(buffer, entry, offset, full, max));
                        for (int32_t i = 0; i < n; ++i) EXPECT_EQ(int(kept[i]), int(full[i])) << "item " << i;
                    }
        };
        compare("before any check");
        for (int32_t entry : row.entries) {
            int32_t bad = -1;
            ASSERT_TRUE(VM_VerifyEntry(buffer, entry, &bad)) << "refused at " << bad;
        }
        compare("after the checks");
        for (int32_t entry : starts) VM_VerifyEntry(buffer, entry, nullptr);  // refused ones included
        compare("after checking every start");
        delete code;
    }
}

// Values sit wherever the items below them leave them, 4-byte boundaries included; what takes them as records
// (a built-in's arguments, the argument variables, call records) gets them 8-aligned. Found by fuzzing.
std::string g_vmAlignSeen;

void VmAlignTest_Note(const RValue* values, int32_t count)
{
    g_vmAlignSeen += reinterpret_cast<uintptr_t>(values) % 8 == 0 ? "A" : "U";
    for (int32_t i = 0; i < count; ++i)
        g_vmAlignSeen += RValue_Kind(&values[i]) == VALUE_REAL ? std::to_string(int(values[i].real * 10)) : "?";
    g_vmAlignSeen += " ";
}
void VmAlignTest_Check(RValue*, CInstance*, CInstance*, int32_t argc, RValue* args) { VmAlignTest_Note(args, argc); }
bool VmAlignTest_Args(CInstance*, int32_t, RValue* out)
{
    VmAlignTest_Note(VM_Args, VM_ArgCount);
    RValue_SetReal(out, VM_ArgCount);
    return true;
}

class VmAlignTest : public vmtest::VmProgramTest {};

TEST_F(VmAlignTest, ValuesAboveAFourByteItemReachCallsAligned)
{
    const int32_t check = vmtest::Builtin("t_check", VmAlignTest_Check);
    const int32_t args = vmtest::BuiltinVariable("t_args", VmAlignTest_Args);
    std::string source = ".version 15\n.function t_check " + std::to_string(check) + "\n.bvar t_args " +
                         std::to_string(args) + "\n";
    // Each entry keeps an int32 (7) below its call; afterwards the call's value moves below the int32 and both are
    // shown: the call left it in place.
    struct Row {
        const char* what;
        const char* call;
        const char* seen;
    };
    const Row rows[] = {
        {"a built-in", " call.i t_check 2\n", "A2515 A700 "},
        {"a script", " call.i scr 2\n", "A2515 A20 A700 "},
        {"script_execute", " push.e 0\n conv.i.v\n call.i script_execute 3\n", "A2515 A20 A700 "},
        // Only the call record needs aligning here: a sanitizer build sees it.
        {"a script with no arguments", " call.i scr 0\n call.i t_check 3\n", "A A0 A02515 A700 "},
    };
    source += ".code ksl_Script_scr\n.script scr\n pushb.v builtin.t_args\n call.i t_check 1\n ret.v\n";
    for (size_t i = 0; i < std::size(rows); ++i)
        source += ".code ksl_a" + std::to_string(i) + "\n push.e 7\n push.d 1.5\n conv.d.v\n push.d 2.5\n conv.d.v\n" +
                  rows[i].call + " pop.e.v 1 0\n conv.i.v\n call.i t_check 2\n popz.v\n exit.i\n";
    ASSERT_TRUE(Build(source));
    PrepareAll();
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].what);
        g_vmAlignSeen.clear();
        wadtest::g_exitCalls = 0;
        VM_Exec(Entry("ksl_a" + std::to_string(i)), nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr);
        EXPECT_EQ(wadtest::g_exitCalls, 0) << release_.text;
        EXPECT_EQ(g_vmAlignSeen, rows[i].seen);
    }
}
}  // namespace
