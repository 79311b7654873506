// Operators of compiled game code: kinds kept, wrap-around, division by zero and the type errors.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "value_test_util.h"

using namespace kvtest_value;

namespace {

enum class OpsOp { Div, DivReal, MulInt, SubInt, AddInt, PostIncrement };

struct OpsCase {
    const char* name;
    OpsOp op;
    RValue left;
    double right;  // the divisor, factor or amount (an int32 for the *Int operators)
    uint32_t kind;
    double real;     // for real and bool results
    int64_t integer; // for int32 and int64 results
    std::vector<std::string> errors;
};

void PrintTo(const OpsCase& c, std::ostream* os) { *os << c.name; }

// Applies the operator; for PostIncrement the incremented value is the result.
void OpsApply(OpsOp op, RValue* result, RValue* left, double right)
{
    switch (op) {
    case OpsOp::Div: {
        RValue divisor = Real(right);
        RValue_Div(result, left, &divisor);
        break;
    }
    case OpsOp::DivReal: RValue_DivReal(result, left, right); break;
    case OpsOp::MulInt: RValue_MulInt(result, left, static_cast<int32_t>(right)); break;
    case OpsOp::SubInt: RValue_SubInt(result, left, static_cast<int32_t>(right)); break;
    case OpsOp::AddInt: RValue_AddInt(result, left, static_cast<int32_t>(right)); break;
    case OpsOp::PostIncrement: {
        RValue old;
        RValue_PostIncrement(left, &old);
        RValue_Copy(result, left);
        RValue_Free(&old);
        break;
    }
    }
}

const double kOpsInf = std::numeric_limits<double>::infinity();

std::vector<OpsCase> OpsCases()
{
    const std::string divZero = "DoDiv :: Divide by zero";
    return {
        {"MulInt32Stays", OpsOp::MulInt, Int32(7), 3, VALUE_INT32, 0, 21, {}},
        {"MulRealStays", OpsOp::MulInt, Real(1.5), 3, VALUE_REAL, 4.5, 0, {}},
        {"MulBoolStaysBool", OpsOp::MulInt, Bool(true), 3, VALUE_BOOL, 3.0, 0, {}},
        {"MulInt32Wraps", OpsOp::MulInt, Int32(0x40000000), 4, VALUE_INT32, 0, 0, {}},
        {"MulInt64", OpsOp::MulInt, Int64(1LL << 40), -2, VALUE_INT64, 0, -(1LL << 41), {}},
        {"DivRealInt32Truncates", OpsOp::DivReal, Int32(7), 2.0, VALUE_INT32, 0, 3, {}},
        {"DivRealNegativeTruncates", OpsOp::DivReal, Int32(-7), 2.0, VALUE_INT32, 0, -3, {}},
        {"DivRealReal", OpsOp::DivReal, Real(7.0), 2.0, VALUE_REAL, 3.5, 0, {}},
        {"DivRealByZeroIsInf", OpsOp::DivReal, Real(1.0), 0.0, VALUE_REAL, kOpsInf, 0, {}},
        {"DivInt64", OpsOp::Div, Int64(-9), 2, VALUE_INT64, 0, -4, {}},
        {"DivInt32ByZero", OpsOp::Div, Int32(7), 0, VALUE_INT32, 0, 7, {divZero}},
        {"DivInt32ByHalfIsByZero", OpsOp::DivReal, Int32(7), 0.5, VALUE_INT32, 0, 7, {divZero}},
        {"DivInt64ByZero", OpsOp::DivReal, Int64(7), 0.0, VALUE_INT64, 0, 7, {divZero}},
        {"DivInt32MinByMinusOneWraps", OpsOp::Div, Int32(INT32_MIN), -1, VALUE_INT32, 0, INT32_MIN, {}},
        {"DivInt64MinByMinusOneWraps", OpsOp::Div, Int64(INT64_MIN), -1, VALUE_INT64, 0, INT64_MIN, {}},
        {"SubInt64", OpsOp::SubInt, Int64(0), 1, VALUE_INT64, 0, -1, {}},
        {"SubInt32Wraps", OpsOp::SubInt, Int32(INT32_MIN), 1, VALUE_INT32, 0, INT32_MAX, {}},
        {"SubBool", OpsOp::SubInt, Bool(true), 1, VALUE_BOOL, 0.0, 0, {}},
        {"AddReal", OpsOp::AddInt, Real(0.5), 2, VALUE_REAL, 2.5, 0, {}},
        {"AddInt32Wraps", OpsOp::AddInt, Int32(INT32_MAX), 1, VALUE_INT32, 0, INT32_MIN, {}},
        {"AddInt64SignExtends", OpsOp::AddInt, Int64(10), -20, VALUE_INT64, 0, -10, {}},
        {"AddUndefinedUnchangedAndSilent", OpsOp::AddInt, Undefined(), 5, VALUE_UNDEFINED, 0, 0, {}},
        {"AddUnsetUnchangedAndSilent", OpsOp::AddInt, OfKind(VALUE_UNSET), 5, VALUE_UNSET, 0, 0, {}},
        {"AddRealWithUpperBitsPassesThrough", OpsOp::AddInt, [] { RValue v = Real(1); v.kind |= 0x01000000; return v; }(),
         5, VALUE_REAL, 1.0, 0, {}},
        {"IncrementReal", OpsOp::PostIncrement, Real(2.0), 0, VALUE_REAL, 3.0, 0, {}},
        {"IncrementInt32Wraps", OpsOp::PostIncrement, Int32(INT32_MAX), 0, VALUE_INT32, 0, INT32_MIN, {}},
        {"IncrementInt64", OpsOp::PostIncrement, Int64(41), 0, VALUE_INT64, 0, 42, {}},
        {"IncrementBool", OpsOp::PostIncrement, Bool(false), 0, VALUE_BOOL, 1.0, 0, {}},
        {"DivUndefinedIsATypeError", OpsOp::Div, Undefined(), 2, VALUE_UNDEFINED, 0, 0,
         {"invalid type for /= lhs=undefined (type=5), rhs=2 (type=0)"}},
        {"MulNullIsATypeError", OpsOp::MulInt, OfKind(VALUE_NULL), 3, VALUE_NULL, 0, 0,
         {"invalid type for *= lhs= (type=12), rhs=3 (type=0)"}},
        {"SubVec3IsATypeError", OpsOp::SubInt, OfKind(VALUE_VEC3), 1, VALUE_VEC3, 0, 0,
         {"invalid type for -= lhs= (type=4), rhs=1 (type=0)"}},
        {"IncrementUndefinedIsATypeError", OpsOp::PostIncrement, Undefined(), 0, VALUE_UNDEFINED, 0, 0,
         {"invalid type for ++ lhs=undefined (type=5), rhs=undefined (type=5)"}},
    };
}

class Operators : public MemoryBalanceTest, public testing::WithParamInterface<OpsCase> {};

TEST_P(Operators, KindsAndResults)
{
    OpsCase c = GetParam();
    RValue left = c.left;
    RValue before = left;
    RValue result = Undefined();
    ErrorRecorder errors;
    OpsApply(c.op, &result, &left, c.right);
    EXPECT_EQ(errors.Stop(), c.errors);
    if (c.op != OpsOp::PostIncrement) {  // the binary operators never change their left operand
        EXPECT_EQ(left.kind, before.kind);
        EXPECT_EQ(left.v64, before.v64);
    }
    EXPECT_EQ(RValue_Kind(&result), c.kind);
    switch (RValue_Kind(&result)) {
    case VALUE_REAL:
    case VALUE_BOOL:
        EXPECT_EQ(result.real, c.real);
        break;
    case VALUE_INT32:
        EXPECT_EQ(result.v32, c.integer);
        break;
    case VALUE_INT64:
        EXPECT_EQ(result.v64, c.integer);
        break;
    default:
        EXPECT_EQ(result.v64, 0);
        break;
    }
    RValue_Free(&result);
    RValue_Free(&left);
}

INSTANTIATE_TEST_SUITE_P(Table, Operators, testing::ValuesIn(OpsCases()),
                         [](const testing::TestParamInfo<OpsCase>& info) { return info.param.name; });

class OperatorsOnShared : public MemoryBalanceTest {};

TEST_F(OperatorsOnShared, StringDividedIsATypeErrorAndTheResultSharesIt)
{
    RValue six = Str("6");
    RValue two = Int32(2);
    RValue result = Undefined();
    ErrorRecorder errors;
    RValue_Div(&result, &six, &two);
    EXPECT_EQ(errors.Stop(), std::vector<std::string>{"invalid type for /= lhs=6 (type=1), rhs=2 (type=7)"});
    ASSERT_EQ(result.kind, VALUE_STRING);
    EXPECT_EQ(result.str, six.str);
    EXPECT_EQ(six.str->refCount, 2);
    RValue_Free(&result);
    RValue_Free(&six);
}

TEST_F(OperatorsOnShared, StringDividedByARealNamesBothKinds)
{
    RValue text = Str("6");
    RValue result = Undefined();
    ErrorRecorder errors;
    RValue_DivReal(&result, &text, 2.0);
    EXPECT_EQ(errors.Stop(), std::vector<std::string>{"invalid type for /= lhs=6 (type=1), rhs=2 (type=0)"});
    RValue_Free(&result);
    RValue_Free(&text);
}

TEST_F(OperatorsOnShared, AddToStringIsAnErrorAndKeepsTheString)
{
    RValue a = Str("a");
    RValue result = Undefined();
    ErrorRecorder errors;
    RValue_AddInt(&result, &a, 5);
    EXPECT_EQ(errors.Stop(), std::vector<std::string>{"unable to add a number to string"});
    EXPECT_EQ(result.str, a.str);
    RValue_Free(&result);
    RValue_Free(&a);
}

TEST_F(OperatorsOnShared, PostIncrementReturnsTheOldValue)
{
    RValue v = Real(2.0);
    RValue old;
    RValue_PostIncrement(&v, &old);
    EXPECT_EQ(old.real, 2.0);
    EXPECT_EQ(v.real, 3.0);

    RValue s = Str("abc");
    ErrorRecorder errors;
    RValue_PostIncrement(&s, &old);
    EXPECT_EQ(errors.Stop(), std::vector<std::string>{"invalid type for ++ lhs=abc (type=1), rhs=abc (type=1)"});
    EXPECT_EQ(old.str, s.str);
    EXPECT_EQ(s.str->refCount, 2);
    RValue_Free(&old);
    RValue_Free(&s);
}

TEST_F(OperatorsOnShared, ArrayOperandIsSharedNotCopied)
{
    RValue a;
    Rows(&a, {{1, 2}});
    RValue result = Undefined();
    ErrorRecorder errors;
    RValue_MulInt(&result, &a, 2);
    EXPECT_EQ(errors.Stop(),
              std::vector<std::string>{"invalid type for *= lhs={ { 1,2 },  } (type=2), rhs=2 (type=0)"});
    EXPECT_EQ(result.arr, a.arr);
    EXPECT_EQ(a.arr->owner, &a);
    EXPECT_EQ(a.arr->refCount, 2);
    RValue_Free(&result);
    RValue_Free(&a);
}

TEST_F(OperatorsOnShared, LongOperandTextsGrowTheMessage)
{
    std::string longText(5000, 'x');
    RValue s = Str(longText.c_str());
    RValue result = Undefined();
    ErrorRecorder errors;
    RValue_SubInt(&result, &s, 1);
    std::vector<std::string> got = errors.Stop();
    ASSERT_EQ(got.size(), 1u);
    // The reporter keeps the first 1023 bytes; the message starts as expected.
    EXPECT_EQ(got[0].substr(0, 26), "invalid type for -= lhs=xx");
    RValue_Free(&result);
    RValue_Free(&s);
}

TEST(OperatorsText, RValueTextAppendsAndGrows)
{
    GrowText text;
    RValue a = Str("abc"), n = Int32(-12);
    RValueText(&text, &a);
    EXPECT_STREQ(text.text, "abc");
    EXPECT_EQ(text.length, 3);
    EXPECT_EQ(text.capacity, 6);  // (3 + 1) * 3 / 2
    RValueText(&text, &n);
    EXPECT_STREQ(text.text, "abc-12");
    EXPECT_EQ(text.length, 6);
    EXPECT_GE(text.capacity, 7);
    GrowText_Free(&text);
    EXPECT_EQ(text.text, nullptr);
    RValue_Free(&a);
}

}  // namespace
