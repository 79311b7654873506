// Preparation of code buffers: the handler table and instruction index, the dedicated handlers, and the
// refusal of code that is not sound (it comes from a user-replaceable file).
#include "../world/wad_test_util.h"

#include "core/code.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/vm.h"

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
    CCode* Make(const VmPrepCode& c, const char* name = "gml_raw")
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
        CCode* code = Make(c, "gml_bad");
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
            std::snprintf(expected, sizeof expected, "Malformed bytecode in gml_bad at 0x%08x", uint32_t(bad));
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
    EXPECT_NE(release_.text.find("Malformed bytecode in gml_raw at 0x00000004"), std::string::npos) << release_.text;
    delete code;
}

}  // namespace
