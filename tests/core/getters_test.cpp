#include "core/arguments.h"

#include "core/functions.h"
#include "core/interpreter.h"
#include "core/value.h"
#include "platform/hooks.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

int g_gettersExits = 0;

void GettersTest_Noop(RValue*, CInstance*, CInstance*, int32_t, RValue*) {}

// Every getter against one argument: its result and the error text it printed ("" for none).
class Getters : public testing::Test {
protected:
    void SetUp() override
    {
        Function_Free();
        Function_Add("buffer_poke", GettersTest_Noop, 4, false);
        Function_Current = Function_Entry(0);
        oldExit_ = Platform_SetExitHook([](int) {
            ++g_gettersExits;
            kvtest::ForgetErrorAbort();
        });
    }
    void TearDown() override
    {
        Platform_SetExitHook(oldExit_);
        Function_Current = nullptr;
        Function_CurrentArgs = nullptr;
        Function_CurrentArgCount = 0;
        Function_Free();
    }
    // Calls fn with the argument at index 2; returns what the release console printed.
    template <typename F>
    std::string Capture(F fn)
    {
        g_gettersExits = 0;
        testing::internal::CaptureStdout();
        fn();
        std::string out = kvtest::ReportedMessages(testing::internal::GetCapturedStdout());
        EXPECT_EQ(g_gettersExits, out.empty() ? 0 : 1) << out;
        return out;
    }
    ExitHook oldExit_ = nullptr;
};

RValue GettersTest_Real(double d)
{
    RValue v;
    RValue_SetReal(&v, d);
    return v;
}

// Expected result of each getter for one argument; an error column holds the kind printed, or -1 for none.
struct GetterRow {
    const char* what;
    RValue value;
    intptr_t ptrOrNumber;
    int ptrError;
    bool b;
    int bError;
    int32_t i32;
    uint32_t u32;
    int64_t i64;
    int numberError;  // QZGI32, QZGU32, GetArgInt64, QZGR
    double r;
    float f;
    int fError;
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kFInf = std::numeric_limits<float>::infinity();

std::string GettersTest_Message(int kind, const char* expecting, int argument = 3)
{
    return "ERROR!!! :: buffer_poke argument " + std::to_string(argument) + " incorrect type (" +
           std::to_string(kind) + ") expecting a " + expecting + "\n";
}

TEST_F(Getters, NumericKindsTable)
{
    RValue i32;
    RValue_SetInt32(&i32, -7);
    RValue i64;
    RValue_SetInt64(&i64, (int64_t(5) << 32) | 0xFFFFFFFEu);
    RValue bTrue;
    RValue_SetBool(&bTrue, true);
    RValue bNaN;
    RValue_SetBool(&bNaN, false);
    bNaN.real = kNaN;
    RValue ptr;
    RValue_SetPtr(&ptr, reinterpret_cast<void*>(uintptr_t(0x123456789ABull)));
    RValue undef;
    RValue_SetUndefined(&undef);

    const double big = 1e300;
    const std::vector<GetterRow> rows = {
        // what, value, ptrOrNumber, err, QZGB, err, QZGI32, QZGU32, GetArgInt64, err, QZGR, QZGF, err
        {"2.9", GettersTest_Real(2.9), 2, -1, true, -1, 2, 2u, 2, -1, 2.9, 2.9f, -1},
        {"-2.9", GettersTest_Real(-2.9), -2, -1, false, -1, -2, 4294967294u, -2, -1, -2.9, -2.9f, -1},
        {"-1.0", GettersTest_Real(-1.0), -1, -1, false, -1, -1, 4294967295u, -1, -1, -1.0, -1.0f, -1},
        {"0.5", GettersTest_Real(0.5), 0, -1, false, -1, 0, 0u, 0, -1, 0.5, 0.5f, -1},
        {"0.51", GettersTest_Real(0.51), 0, -1, true, -1, 0, 0u, 0, -1, 0.51, 0.51f, -1},
        {"-0.0", GettersTest_Real(-0.0), 0, -1, false, -1, 0, 0u, 0, -1, -0.0, -0.0f, -1},
        {"NaN", GettersTest_Real(kNaN), INT64_MIN, -1, false, -1, 0, 0u, 0, -1, kNaN, 0.0f, -1},
        {"+inf", GettersTest_Real(kInf), INT64_MIN, -1, true, -1, 0, 0u, 0, -1, kInf, 0.0f, -1},
        {"-inf", GettersTest_Real(-kInf), INT64_MIN, -1, false, -1, 0, 0u, 0, -1, -kInf, 0.0f, -1},
        // Out of range: the conversion family's x86 answers (INT32_MIN, INT64_MIN), never undefined casts.
        {"2^31", GettersTest_Real(2147483648.0), 2147483648, -1, true, -1, INT32_MIN, 2147483648u, 2147483648,
         -1, 2147483648.0, 2147483648.0f, -1},
        {"2^63", GettersTest_Real(9223372036854775808.0), INT64_MIN, -1, true, -1, INT32_MIN, 0u, INT64_MIN, -1,
         9223372036854775808.0, 9223372036854775808.0f, -1},
        {"1e300", GettersTest_Real(big), INT64_MIN, -1, true, -1, INT32_MIN, 0u, INT64_MIN, -1, big, kFInf, -1},
        {"-1e300", GettersTest_Real(-big), INT64_MIN, -1, false, -1, INT32_MIN, 0u, INT64_MIN, -1, -big, -kFInf, -1},
        // Bools: true unless 0.0 (NaN true); GetArgPtrOrNumber refuses them.
        {"bool true", bTrue, -1, 13, true, -1, 1, 1u, 1, -1, 1.0, 1.0f, -1},
        {"bool NaN", bNaN, -1, 13, true, -1, 0, 0u, 0, -1, kNaN, 0.0f, -1},
        {"int32 -7", i32, -7, -1, false, -1, -7, 4294967289u, -7, -1, -7.0, -7.0f, -1},
        {"int64", i64, intptr_t(i64.v64), -1, true, -1, -2, 4294967294u, i64.v64, -1, double(i64.v64),
         float(double(i64.v64)), -1},
        {"pointer", ptr, intptr_t(0x123456789ABull), -1, false, 3, 0, 0u, 0, 3, 0.0, 0.0f, 3},
        {"undefined", undef, -1, 5, false, 5, 0, 0u, 0, 5, 0.0, 0.0f, 5},
    };
    for (GetterRow row : rows) {
        SCOPED_TRACE(row.what);
        RValue args[3];
        RValue_SetUndefined(&args[0]);
        RValue_SetUndefined(&args[1]);
        args[2] = row.value;
        auto err = [](int kind, const char* expecting) {
            return kind < 0 ? std::string() : GettersTest_Message(kind, expecting);
        };
        intptr_t p = 0;
        EXPECT_EQ(Capture([&] { p = GetArgPtrOrNumber(args, 2); }), err(row.ptrError, "Number or Pointer"));
        EXPECT_EQ(p, row.ptrOrNumber);
        bool b = !row.b;
        EXPECT_EQ(Capture([&] { b = QZGB(args, 2); }), err(row.bError, "Number (QZGB)"));
        EXPECT_EQ(b, row.b);
        int32_t i = 1;
        EXPECT_EQ(Capture([&] { i = QZGI32(args, 2); }), err(row.numberError, "Number (QZGI32)"));
        EXPECT_EQ(i, row.i32);
        uint32_t u = 1;
        EXPECT_EQ(Capture([&] { u = QZGU32(args, 2); }), err(row.numberError, "Number (QZGU32)"));
        EXPECT_EQ(u, row.u32);
        int64_t l = 1;
        EXPECT_EQ(Capture([&] { l = GetArgInt64(args, 2); }),
                  row.numberError < 0 ? std::string()
                                      : std::string("ERROR!!! :: buffer_poke argument 3 incorrect type expecting "
                                                    "a Number\n"));
        EXPECT_EQ(l, row.i64);
        double r = 1;
        EXPECT_EQ(Capture([&] { r = QZGR(args, 2); }), err(row.numberError, "Number (QZGR)"));
        if (std::isnan(row.r))
            EXPECT_TRUE(std::isnan(r));
        else
            EXPECT_EQ(r, row.r);
        EXPECT_EQ(std::signbit(r), std::signbit(row.r));
        float f = 1;
        EXPECT_EQ(Capture([&] { f = QZGF(args, 2); }), err(row.fError, "Number (QZGF)"));
        EXPECT_EQ(f, row.f);
        const char* s = "x";
        EXPECT_EQ(Capture([&] { s = QZGS(args, 2); }), err(int(RValue_Kind(&row.value)), "String (QZGS)"));
        EXPECT_EQ(s, nullptr);
    }
}

TEST_F(Getters, StringsReadAsNumbers)
{
    struct Row {
        const char* text;
        int32_t i32;
        uint32_t u32;
        double r;  // NaN: not a number
    };
    const Row rows[] = {
        {"0x10", 16, 16u, 16.0},
        {" 12 ", 12, 12u, 12.0},
        {"abc", 0, 0u, kNaN},
        {"-1", -1, 4294967295u, -1.0},
        {"2.9", 2, 2u, 2.9},
        {"", 0, 0u, 0.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        RValue arg;
        RValue_SetUndefined(&arg);
        RValue_CreateString(&arg, row.text);
        int32_t i = 1;
        EXPECT_EQ(Capture([&] { i = QZGI32(&arg, 0); }), "");
        EXPECT_EQ(i, row.i32);
        EXPECT_EQ(QZGU32(&arg, 0), row.u32);
        EXPECT_EQ(GetArgInt64(&arg, 0), int64_t(row.i32));
        double r = QZGR(&arg, 0);
        if (std::isnan(row.r))
            EXPECT_TRUE(std::isnan(r));
        else
            EXPECT_EQ(r, row.r);
        EXPECT_STREQ(QZGS(&arg, 0), row.text);
        // Strings are no numbers for these three.
        EXPECT_EQ(Capture([&] { EXPECT_EQ(QZGF(&arg, 0), 0.0f); }), GettersTest_Message(1, "Number (QZGF)", 1));
        EXPECT_EQ(Capture([&] { EXPECT_FALSE(QZGB(&arg, 0)); }), GettersTest_Message(1, "Number (QZGB)", 1));
        EXPECT_EQ(Capture([&] { EXPECT_EQ(GetArgPtrOrNumber(&arg, 0), -1); }),
                  GettersTest_Message(1, "Number or Pointer", 1));
        RValue_Free(&arg);
    }
}

TEST_F(Getters, ObjectsArraysAndMissingText)
{
    // An object: no text and no error from QZGS; a number only through the object model (none while it is
    // off, so 0); refused where a plain number is required.
    RValue object;
    object.v64 = 0;
    object.flags = 0;
    object.kind = VALUE_OBJECT;
    EXPECT_EQ(Capture([&] { EXPECT_EQ(QZGS(&object, 0), nullptr); }), "");
    EXPECT_EQ(Capture([&] { EXPECT_EQ(QZGI32(&object, 0), 0); }), "");
    EXPECT_EQ(Capture([&] { EXPECT_EQ(QZGF(&object, 0), 0.0f); }), GettersTest_Message(6, "Number (QZGF)", 1));
    EXPECT_EQ(Capture([&] { EXPECT_FALSE(QZGB(&object, 0)); }), GettersTest_Message(6, "Number (QZGB)", 1));

    // An array is no argument of any getter.
    RValue array;
    RValue_SetUndefined(&array);
    array.kind = VALUE_ARRAY;
    EXPECT_EQ(Capture([&] { EXPECT_EQ(QZGI32(&array, 0), 0); }), GettersTest_Message(2, "Number (QZGI32)", 1));
    EXPECT_EQ(Capture([&] { EXPECT_EQ(QZGS(&array, 0), nullptr); }), GettersTest_Message(2, "String (QZGS)", 1));

    // A string value without a record reads as no text, quietly.
    RValue bare;
    RValue_SetUndefined(&bare);
    bare.kind = VALUE_STRING;
    EXPECT_EQ(Capture([&] { EXPECT_EQ(QZGS(&bare, 0), nullptr); }), "");

    // The kind word's upper byte is not part of the kind.
    RValue tagged = GettersTest_Real(3.7);
    tagged.kind |= 0x5A000000u;
    EXPECT_EQ(Capture([&] { EXPECT_EQ(QZGI32(&tagged, 0), 3); }), "");

    // No built-in running: the message still has a name.
    Function_Current = nullptr;
    EXPECT_EQ(Capture([&] { QZGR(&array, 0); }),
              "ERROR!!! :: <unknown> argument 1 incorrect type (2) expecting a Number (QZGR)\n");
}

// Reads at or past the end of the running built-in's block, however the handler points into it, find no
// value there: the getter reports an undefined argument even though memory beyond holds a number.
TEST_F(Getters, ReadsPastTheRunningBlockAreUndefined)
{
    RValue memory[4];
    for (RValue& v : memory) v = GettersTest_Real(7.0);  // what a read past the block would find
    Function_CurrentArgs = memory;
    Function_CurrentArgCount = 2;
    struct Row {
        RValue* args;
        int32_t index;
        int argument;  // one-based number in the message; 0 when the read finds the block's value
    };
    const Row rows[] = {
        {memory, 0, 0},     {memory, 1, 0},     {memory, 2, 3}, {memory, 3, 4},
        {memory + 1, 0, 0}, {memory + 1, 1, 2}, {memory + 2, 0, 1},
        {memory, -1, 0},  // a negative index is missing too (reported as argument 0)
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "at " << (row.args - memory) << " index " << row.index);
        const bool missing = row.argument != 0 || row.index < 0;
        double r = -1;
        EXPECT_EQ(Capture([&] { r = QZGR(row.args, row.index); }),
                  missing ? GettersTest_Message(5, "Number (QZGR)", row.index + 1) : "");
        EXPECT_EQ(r, missing ? 0.0 : 7.0);
        int32_t i = -1;
        EXPECT_EQ(Capture([&] { i = QZGI32(row.args, row.index); }),
                  missing ? GettersTest_Message(5, "Number (QZGI32)", row.index + 1) : "");
        EXPECT_EQ(i, missing ? 0 : 7);
        const char* s = "x";
        EXPECT_EQ(Capture([&] { s = QZGS(row.args, row.index); }),
                  GettersTest_Message(missing ? 5 : 0, "String (QZGS)", row.index + 1));
        EXPECT_EQ(s, nullptr);
    }
    // An empty block is null: every index is missing.
    Function_CurrentArgs = nullptr;
    Function_CurrentArgCount = 0;
    EXPECT_EQ(Capture([&] { EXPECT_EQ(GetArgInt64(nullptr, 0), 0); }),
              "ERROR!!! :: buffer_poke argument 1 incorrect type expecting a Number\n");
    EXPECT_EQ(Capture([&] { EXPECT_FALSE(QZGB(nullptr, 1)); }), GettersTest_Message(5, "Number (QZGB)", 2));
    // Values outside the running block (the handler's own) are read as they are.
    RValue own[2] = {GettersTest_Real(1.0), GettersTest_Real(2.5)};
    EXPECT_EQ(Capture([&] { EXPECT_EQ(QZGR(own, 1), 2.5); }), "");
}

}  // namespace
