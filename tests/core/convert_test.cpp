// Values as numbers, hash keys, text and serialised bytes; the number-conversion family underneath.
#include <gtest/gtest.h>

#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "core/convert.h"
#include "ds/buffer.h"
#include "py_oracle.h"
#include "value_test_util.h"

using namespace kvtest_value;

namespace {

constexpr double kConvNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kConvInf = std::numeric_limits<double>::infinity();

// ---- The conversion family ----

TEST(ConvertFamily, RealToIntegers)
{
    struct Case {
        double d;
        int32_t i32, r32;
        int64_t i64, r64;
    };
    const Case cases[] = {
        {2.7, 2, 3, 2, 3},
        {-2.7, -2, -3, -2, -3},
        {2.5, 2, 2, 2, 2},      // halves go to even
        {3.5, 3, 4, 3, 4},
        {-2.5, -2, -2, -2, -2},
        {-0.5, 0, 0, 0, 0},
        {0.49999999999999994, 0, 0, 0, 0},
        {2147483647.0, INT32_MAX, INT32_MAX, 2147483647, 2147483647},
        {2147483647.6, INT32_MAX, INT32_MIN, 2147483647, 2147483648},  // rounding leaves the range
        {2147483648.0, INT32_MIN, INT32_MIN, 2147483648, 2147483648},
        {-2147483648.9, INT32_MIN, INT32_MIN, -2147483648, -2147483649},
        {-2147483649.0, INT32_MIN, INT32_MIN, -2147483649, -2147483649},
        {9223372036854775807.0, INT32_MIN, INT32_MIN, INT64_MIN, INT64_MIN},  // that is 2^63
        {-9223372036854775808.0, INT32_MIN, INT32_MIN, INT64_MIN, INT64_MIN},
        {1e300, INT32_MIN, INT32_MIN, INT64_MIN, INT64_MIN},
        {kConvInf, INT32_MIN, INT32_MIN, INT64_MIN, INT64_MIN},
        {-kConvInf, INT32_MIN, INT32_MIN, INT64_MIN, INT64_MIN},
        {kConvNaN, INT32_MIN, INT32_MIN, INT64_MIN, INT64_MIN},
        {-0.0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.d);
        EXPECT_EQ(Real_ToInt32(c.d), c.i32);
        EXPECT_EQ(Real_ToInt32Round(c.d), c.r32);
        EXPECT_EQ(Real_ToInt64(c.d), c.i64);
        EXPECT_EQ(Real_ToInt64Round(c.d), c.r64);
    }
    EXPECT_EQ(Real_ToUInt32Wrap(4294967295.0), 0xFFFFFFFFu);
    EXPECT_EQ(Real_ToUInt32Wrap(-1.0), 0xFFFFFFFFu);
    EXPECT_EQ(Real_ToUInt32Wrap(4294967296.0 + 5), 5u);
}

TEST(ConvertFamily, TextToNumbersInTheCLocale)
{
    struct Case {
        const char* text;
        double real;
        int32_t i32;
        int64_t i64, hex;
        size_t realUsed;  // bytes Text_ToReal reads
    };
    const Case cases[] = {
        {"12abc", 12.0, 12, 12, 0x12abc, 2},
        {"ff", 0.0, 0, 0, 255, 0},
        {"  -7.5e1xyz", -75.0, -7, -7, -7, 8},
        {"99999999999", 99999999999.0, INT32_MAX, 99999999999, 0x99999999999, 11},
        {"-99999999999", -99999999999.0, INT32_MIN, -99999999999, -0x99999999999, 12},
        {"0x1A", 26.0, 0, 0, 26, 4},
        {"1e999", kConvInf, 1, 1, 0x1e999, 5},
        {"-0", -0.0, 0, 0, 0, 2},
        {"", 0.0, 0, 0, 0, 0},
        {"3,5", 3.0, 3, 3, 3, 1},  // a comma is never a decimal point
        {"99999999999999999999", 1e20, INT32_MAX, INT64_MAX, INT64_MAX, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const char* end = nullptr;
        double d = Text_ToReal(c.text, &end);
        EXPECT_EQ(d, c.real);
        EXPECT_EQ(std::signbit(d), std::signbit(c.real));
        EXPECT_EQ(size_t(end - c.text), c.realUsed);
        EXPECT_EQ(Text_ToInt32(c.text), c.i32);
        EXPECT_EQ(Text_ToInt64(c.text), c.i64);
        EXPECT_EQ(Text_ToInt64Hex(c.text), c.hex);
    }
    EXPECT_TRUE(std::isnan(Text_ToReal("nan")));
    std::string digits = "1" + std::string(9999, '0');
    EXPECT_EQ(Text_ToReal(digits.c_str()), kConvInf);
    EXPECT_EQ(Text_ToInt32(digits.c_str()), INT32_MAX);
    EXPECT_EQ(Text_ToInt64(digits.c_str()), INT64_MAX);
    EXPECT_EQ(Text_ToReal(nullptr), 0.0);
    EXPECT_EQ(Text_ToInt32(nullptr), 0);
}

TEST(ConvertFamily, NumbersToText)
{
    char out[TEXT_REAL_FIXED_BUFFER];
    struct Case {
        double d;
        int decimals;
        const char* text;
    };
    const Case cases[] = {
        {2.5, 2, "2.50"}, {-4.0, 0, "-4"}, {0.125, 2, "0.12"}, {1e20, 2, "100000000000000000000.00"},
        {kConvInf, 2, "inf"}, {-kConvInf, 2, "-inf"}, {1234.5678, 3, "1234.568"},
    };
    for (const Case& c : cases) {
        int n = Text_FromRealFixed(out, sizeof out, c.d, c.decimals);
        EXPECT_STREQ(out, c.text);
        EXPECT_EQ(n, int(std::strlen(c.text)));
    }
    // Every finite double fits the fixed-notation buffer.
    EXPECT_GT(Text_FromRealFixed(out, sizeof out, -std::numeric_limits<double>::max(), 2), 300);
    EXPECT_EQ(Text_FromInt32(out, sizeof out, INT32_MIN), 11);
    EXPECT_STREQ(out, "-2147483648");
    EXPECT_EQ(Text_FromInt64(out, sizeof out, INT64_MIN), 20);
    EXPECT_STREQ(out, "-9223372036854775808");
    Text_FromRealShortest(out, sizeof out, 0.1);
    EXPECT_STREQ(out, "0.1");
    char tiny[4];
    EXPECT_EQ(Text_FromInt32(tiny, sizeof tiny, 12345), -1);
    EXPECT_STREQ(tiny, "");
    EXPECT_EQ(Text_FromInt32(tiny, sizeof tiny, 123), 3);
}

// ---- Value conversions ----

void MakeNestedSeven(RValue* v)
{
    RValue innermost;
    Rows(&innermost, {{7}});
    RValue_SetUndefined(v);
    RValue_SetWithIndex(v, &innermost, Pack(0, 0));
    RValue_Free(&innermost);
}

struct ConversionCase {
    const char* name;
    void (*make)(RValue*);
    double real;
    int32_t i32;
    int64_t i64;
    intptr_t ptr;
    int32_t hash;
    enum { NoError, Unset, WrongType } error;
};

// Texts hash by their CRC-32 as the engine keys them: zlib.crc32(text) ^ 0xFFFFFFFF.
constexpr int32_t kHash12abc = 0x35DB312E, kHashFf = 0x2950E54C, kHash9s = 0x0E0EAC32;
constexpr int64_t kPointer = 0x123456789ABCLL;

const ConversionCase kConversions[] = {
    {"Real", [](RValue* v) { *v = Real(-2.7); }, -2.7, -2, -2, -2, -2, ConversionCase::NoError},
    {"RealNaN", [](RValue* v) { *v = Real(kConvNaN); }, kConvNaN, INT32_MIN, INT64_MIN, INT64_MIN, INT32_MIN,
     ConversionCase::NoError},
    {"RealInf", [](RValue* v) { *v = Real(kConvInf); }, kConvInf, INT32_MIN, INT64_MIN, INT64_MIN, INT32_MIN,
     ConversionCase::NoError},
    {"RealMinusInf", [](RValue* v) { *v = Real(-kConvInf); }, -kConvInf, INT32_MIN, INT64_MIN, INT64_MIN, INT32_MIN,
     ConversionCase::NoError},
    {"Real1e300", [](RValue* v) { *v = Real(1e300); }, 1e300, INT32_MIN, INT64_MIN, INT64_MIN, INT32_MIN,
     ConversionCase::NoError},
    {"Real3e9", [](RValue* v) { *v = Real(3e9); }, 3e9, INT32_MIN, 3000000000, 3000000000, INT32_MIN,
     ConversionCase::NoError},
    {"Bool", [](RValue* v) { *v = Bool(true); }, 1.0, 1, 1, 1, 0, ConversionCase::NoError},
    {"String12abc", [](RValue* v) { *v = Str("12abc"); }, 12.0, 12, 12, 0x12abc, kHash12abc,
     ConversionCase::NoError},
    {"StringFf", [](RValue* v) { *v = Str("ff"); }, 0.0, 0, 0, 255, kHashFf, ConversionCase::NoError},
    {"StringTooBigForInt32", [](RValue* v) { *v = Str("99999999999"); }, 99999999999.0, INT32_MAX,
     99999999999, 0x99999999999, kHash9s, ConversionCase::NoError},
    {"StringNullText", [](RValue* v) { *v = Str(nullptr); }, 0.0, 0, 0, 0, -1, ConversionCase::NoError},
    {"StringWithoutRecord", [](RValue* v) { *v = OfKind(VALUE_STRING); }, 0.0, 0, 0, 0, 0,
     ConversionCase::NoError},
    {"NestedArray", MakeNestedSeven, 7.0, 7, 7, 7, 0, ConversionCase::NoError},
    {"EmptyArray", [](RValue* v) { *v = OfKind(VALUE_ARRAY); }, 0.0, 0, 0, 0, 0, ConversionCase::NoError},
    {"Pointer", [](RValue* v) { RValue_SetPtr(v, reinterpret_cast<void*>(kPointer)); }, 0.0,
     static_cast<int32_t>(0x56789ABC), kPointer, kPointer, static_cast<int32_t>(0x56789ABC),
     ConversionCase::WrongType},
    {"Undefined", [](RValue* v) { *v = Undefined(); }, 0.0, 0, 0, 0, 0, ConversionCase::NoError},
    {"Int32", [](RValue* v) { *v = Int32(-5); }, -5.0, -5, -5, -5, -5, ConversionCase::NoError},
    {"Int64", [](RValue* v) { *v = Int64(0x100000005LL); }, 4294967301.0, 5, 0x100000005LL, 0x100000005LL, 5,
     ConversionCase::NoError},
    {"Unset", [](RValue* v) { *v = OfKind(VALUE_UNSET); }, 0.0, 0, 0, 0, 0, ConversionCase::Unset},
    {"Object", [](RValue* v) { *v = OfKind(VALUE_OBJECT); }, 0.0, 0, 0, 0, 0, ConversionCase::WrongType},
    {"Vec3", [](RValue* v) { *v = OfKind(VALUE_VEC3); }, 0.0, 0, 0, 0, 0, ConversionCase::WrongType},
};

void PrintTo(const ConversionCase& c, std::ostream* os) { *os << c.name; }

class Convert : public MemoryBalanceTest, public testing::WithParamInterface<ConversionCase> {};

TEST_P(Convert, ByKind)
{
    const ConversionCase& c = GetParam();
    RValue v;
    auto expectError = [&](const char* prefix, std::vector<std::string> got, bool pointerIsFine) {
        std::vector<std::string> want;
        int kind = static_cast<int>(RValue_Kind(&v));
        if (c.error == ConversionCase::Unset) want.push_back(std::string(prefix) + " argument is unset");
        if (c.error == ConversionCase::WrongType && !(pointerIsFine && kind == VALUE_PTR))
            want.push_back(std::string(prefix) + " argument incorrect type " + std::to_string(kind));
        EXPECT_EQ(got, want) << prefix;
    };
    {
        c.make(&v);
        ErrorRecorder errors;
        double d = RValue_ToReal(&v);
        if (std::isnan(c.real)) {
            EXPECT_TRUE(std::isnan(d));
        } else {
            EXPECT_EQ(d, c.real);
        }
        expectError("REAL", errors.Stop(), false);
        RValue_Free(&v);
    }
    {
        c.make(&v);
        ErrorRecorder errors;
        EXPECT_EQ(RValue_ToInt32(&v), c.i32);
        expectError("I32", errors.Stop(), true);
        RValue_Free(&v);
    }
    {
        c.make(&v);
        ErrorRecorder errors;
        EXPECT_EQ(RValue_ToInt64(&v), c.i64);
        expectError("I64", errors.Stop(), true);
        RValue_Free(&v);
    }
    {
        c.make(&v);
        ErrorRecorder errors;
        EXPECT_EQ(RValue_ToPtr(&v), c.ptr);
        expectError("PTR", errors.Stop(), true);
        RValue_Free(&v);
    }
    {
        c.make(&v);
        ErrorRecorder errors;
        int32_t hash = RValue_ToHash(&v);
        if (RValue_Kind(&v) == VALUE_ARRAY && v.arr) {  // identity of the rows block
            EXPECT_EQ(hash, static_cast<int32_t>(reinterpret_cast<uintptr_t>(v.arr->rows)));
        } else {
            EXPECT_EQ(hash, c.hash);
        }
        std::vector<std::string> want;
        if (c.error == ConversionCase::Unset) want.push_back("HASH argument is unset");
        EXPECT_EQ(errors.Stop(), want);
        RValue_Free(&v);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Convert, testing::ValuesIn(kConversions),
                         [](const testing::TestParamInfo<ConversionCase>& info) { return info.param.name; });

class ConvertArrays : public MemoryBalanceTest {};

TEST_F(ConvertArrays, EmptyArrayGainsElementZeroZero)
{
    RValue v = OfKind(VALUE_ARRAY);
    EXPECT_EQ(RValue_ToReal(&v), 0.0);
    ASSERT_NE(v.arr, nullptr);
    EXPECT_EQ(v.arr->rowCount, 1);
    EXPECT_EQ(v.arr->rows[0].length, 1);
    EXPECT_EQ(v.arr->owner, &v);
    RValue_Free(&v);
}

TEST_F(ConvertArrays, SharedArrayIsCopiedBeforeConverting)
{
    RValue a = Undefined();
    RValue b = Undefined();
    RValue text = Str("5");
    RValue_SetWithIndex(&a, &text, Pack(1, 0));  // [0][0] does not exist yet
    RValue_Free(&text);
    RValue_Copy(&b, &a);
    EXPECT_EQ(RValue_ToInt32(&b), 0);  // b is not the owner: it takes its own copy to create [0][0]
    EXPECT_NE(a.arr, b.arr);
    EXPECT_EQ(a.arr->rows[0].length, 0);
    RValue_Free(&a);
    RValue_Free(&b);
}

TEST_F(ConvertArrays, ArrayWhoseFirstElementLeadsBackToItselfConvertsToZero)
{
    RValue a;
    Rows(&a, {{1}});
    RValue_SetWithIndex(&a, &a, Pack(0, 0));  // a[0][0] is a itself
    size_t blocks = MemoryManager_Probe().liveBlocks;
    EXPECT_EQ(RValue_ToReal(&a), 0.0);
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, blocks);  // no copies made on the way
    RValue zero = Real(0);
    RValue_SetWithIndex(&a, &zero, Pack(0, 0));  // break the cycle so that everything is freed
    RValue_Free(&a);
}

// ---- Text form ----

struct TextCase {
    const char* name;
    void (*make)(RValue*);
    const char* text;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

const TextCase kTexts[] = {
    {"Rows", [](RValue* v) { Rows(v, {{1, 2}, {3}}); }, "{ { 1,2 }, { 3 },  }"},
    {"ArrayWithoutRecord", [](RValue* v) { *v = OfKind(VALUE_ARRAY); }, "{  }"},
    {"RealFraction", [](RValue* v) { *v = Real(2.5); }, "2.50"},
    {"RealWhole", [](RValue* v) { *v = Real(3.0); }, "3"},
    {"RealNegativeWhole", [](RValue* v) { *v = Real(-4.0); }, "-4"},
    {"RealMinusZero", [](RValue* v) { *v = Real(-0.0); }, "0"},
    {"Real1e20", [](RValue* v) { *v = Real(1e20); }, "100000000000000000000.00"},
    {"Real2to31", [](RValue* v) { *v = Real(2147483648.0); }, "2147483648"},
    {"Real2to63", [](RValue* v) { *v = Real(9223372036854775808.0); }, "9223372036854775808.00"},
    {"RealMinus2to63", [](RValue* v) { *v = Real(-9223372036854775808.0); }, "-9223372036854775808"},
    {"RealNaN", [](RValue* v) { *v = Real(kConvNaN); }, "NaN"},
    {"RealInf", [](RValue* v) { *v = Real(kConvInf); }, "inf"},
    {"RealMinusInf", [](RValue* v) { *v = Real(-kConvInf); }, "-inf"},
    {"RealSmall", [](RValue* v) { *v = Real(0.005); }, "0.01"},
    {"String", [](RValue* v) { *v = Str("h\xC3\xA9llo"); }, "h\xC3\xA9llo"},
    {"StringNullText", [](RValue* v) { *v = Str(nullptr); }, ""},
    {"Undefined", [](RValue* v) { *v = Undefined(); }, "undefined"},
    {"NullObject", [](RValue* v) { *v = OfKind(VALUE_OBJECT); }, "null"},
    {"Int32", [](RValue* v) { *v = Int32(INT32_MIN); }, "-2147483648"},
    {"Int64", [](RValue* v) { *v = Int64(INT64_MAX); }, "9223372036854775807"},
    {"BoolFalse", [](RValue* v) { *v = Bool(false); }, "0"},
    {"BoolHalf", [](RValue* v) { *v = Real(0.5); v->kind = VALUE_BOOL; }, "1"},
    {"Vec4", [](RValue* v) { *v = OfKind(VALUE_VEC4); }, ""},
    {"Null", [](RValue* v) { *v = OfKind(VALUE_NULL); }, ""},
    {"Iterator", [](RValue* v) { *v = OfKind(VALUE_ITERATOR); }, ""},
};

class TextForm : public MemoryBalanceTest, public testing::WithParamInterface<TextCase> {};

TEST_P(TextForm, Exact)
{
    RValue v;
    GetParam().make(&v);
    EXPECT_EQ(TextOf(&v), GetParam().text);
    RValue_Free(&v);
}

INSTANTIATE_TEST_SUITE_P(Table, TextForm, testing::ValuesIn(kTexts),
                         [](const testing::TestParamInfo<TextCase>& info) { return info.param.name; });

class TextWalks : public MemoryBalanceTest {};

TEST_F(TextWalks, PointerAsPercentP)
{
    RValue v = Undefined();
    RValue_SetPtr(&v, reinterpret_cast<void*>(0xBEEF));
    char want[32];
    std::snprintf(want, sizeof want, "%p", reinterpret_cast<void*>(0xBEEF));
    EXPECT_EQ(TextOf(&v), want);
}

TEST_F(TextWalks, ObjectWithoutCallableToStringAppendsNothing)
{
    RValue v = Undefined();
    RValue_CreateObject(&v);
    EXPECT_EQ(TextOf(&v), "");
}

TEST_F(TextWalks, UnsetIsAnErrorAndAppendsNothing)
{
    RValue v = OfKind(VALUE_UNSET);
    ErrorRecorder errors;
    EXPECT_EQ(TextOf(&v), "");
    EXPECT_EQ(errors.Stop(), std::vector<std::string>{"STRING argument is unset"});
}

TEST_F(TextWalks, ArrayThatContainsItselfEnds)
{
    RValue a;
    Rows(&a, {{1}});
    RValue_SetWithIndex(&a, &a, Pack(0, 1));
    EXPECT_EQ(TextOf(&a), "{ { 1,{  } },  }");
    EXPECT_EQ(TextOf(&a), "{ { 1,{  } },  }");  // a later walk prints it again
    RValue zero = Real(0);
    RValue_SetWithIndex(&a, &zero, Pack(0, 1));
    RValue_Free(&a);
}

TEST_F(TextWalks, SharedArrayMetTwiceInOneWalkIsWrittenOnce)
{
    RValue inner, outer = Undefined();
    Rows(&inner, {{1}});
    RValue_SetWithIndex(&outer, &inner, Pack(0, 0));
    RValue_SetWithIndex(&outer, &inner, Pack(0, 1));
    EXPECT_EQ(TextOf(&outer), "{ { { { 1 },  },{  } },  }");
    EXPECT_EQ(TextOf(&inner), "{ { 1 },  }");
    RValue_Free(&inner);
    RValue_Free(&outer);
}

TEST_F(TextWalks, AppendsAfterExistingTextAndGrowsTheBlock)
{
    size_t capacity = 4;
    char* start = static_cast<char*>(MemAlloc(capacity));
    std::memcpy(start, "ab", 3);
    char* pos = start + 2;
    RValue v = Str("0123456789");
    for (int i = 0; i < 100; ++i) RValue_AppendText(&pos, &start, &capacity, &v);
    std::string text(start, size_t(pos - start));
    EXPECT_EQ(text.size(), 1002u);
    EXPECT_EQ(text.substr(0, 14), "ab012345678901");
    EXPECT_EQ(*pos, '\0');
    EXPECT_GE(capacity, text.size() + 1);
    MemFree(start);
    RValue_Free(&v);
}

TEST_F(TextWalks, TextAppendGrowsToTwiceOrWhatIsNeeded)
{
    char* start = nullptr;
    char* pos = nullptr;
    size_t capacity = 0;
    Text_Append(&pos, &start, &capacity, "abc");
    EXPECT_EQ(capacity, 5u);  // needed 4, plus one
    Text_Append(&pos, &start, &capacity, "d");
    EXPECT_EQ(capacity, 5u);  // exactly full
    Text_Append(&pos, &start, &capacity, "ef");
    EXPECT_EQ(capacity, 10u);  // twice the capacity
    Text_Append(&pos, &start, &capacity, std::string(30, 'g').c_str());
    EXPECT_EQ(capacity, 38u);  // what is needed, plus one
    EXPECT_EQ(std::string(start), "abcdef" + std::string(30, 'g'));
    EXPECT_EQ(pos - start, 36);
    MemFree(start);
}

// ---- Serialisation ----

struct SerialCase {
    const char* name;  // also the generator's file name
    void (*make)(RValue*);
    int32_t alignment;
    const char* text;  // text form of what reads back
    uint32_t kindBack;
};

void PrintTo(const SerialCase& c, std::ostream* os) { *os << c.name; }

void MakeNestedForBytes(RValue* v)
{
    RValue_SetUndefined(v);
    RValue one = Real(1.0), a = Str("a"), deep;
    Rows(&deep, {{-2.5}});
    RValue_SetWithIndex(v, &one, Pack(0, 0));
    RValue_SetWithIndex(v, &a, Pack(0, 1));
    RValue_SetWithIndex(v, &deep, Pack(2, 0));
    RValue_Free(&a);
    RValue_Free(&deep);
}

const SerialCase kSerials[] = {
    {"real", [](RValue* v) { *v = Real(2.5); }, 1, "2.50", VALUE_REAL},
    {"string", [](RValue* v) { *v = Str("h\xC3\xA9llo"); }, 1, "h\xC3\xA9llo", VALUE_STRING},
    {"null_text", [](RValue* v) { *v = Str(nullptr); }, 1, "\x04", VALUE_STRING},
    {"nested_array", MakeNestedForBytes, 1, "{ { 1,a }, {  }, { { { -2.50 },  } },  }", VALUE_ARRAY},
    {"pointer", [](RValue* v) { RValue_SetPtr(v, reinterpret_cast<void*>(0x1234)); }, 1, "", VALUE_PTR},
    {"object", [](RValue* v) { RValue_SetUndefined(v); RValue_CreateObject(v); }, 1, "null", VALUE_OBJECT},
    {"int32", [](RValue* v) { *v = Int32(5); }, 1, "0", VALUE_INT32},
    {"bool", [](RValue* v) { *v = Bool(true); }, 1, "0", VALUE_BOOL},
    {"undefined", [](RValue* v) { *v = Undefined(); }, 1, "undefined", VALUE_UNDEFINED},
    {"array_without_record", [](RValue* v) { *v = OfKind(VALUE_ARRAY); }, 1, "{  }", VALUE_ARRAY},
    {"real_aligned8", [](RValue* v) { *v = Real(2.5); }, 8, "2.50", VALUE_REAL},
};

class Serialise : public MemoryBalanceTest, public testing::WithParamInterface<SerialCase> {
protected:
    static void SetUpTestSuite() { folder_ = kvtest_py::Generate("tests/core/gen_value_bytes.py", ""); }
    static std::string folder_;
};
std::string Serialise::folder_;

TEST_P(Serialise, BytesMatchStructAndReadBack)
{
    const SerialCase& c = GetParam();
    ASSERT_FALSE(folder_.empty());
    std::string want = kvtest::ReadFile(folder_ + c.name + ".bin");
    ASSERT_FALSE(want.empty());

    RValue v;
    c.make(&v);
    auto* out = new Buffer_Standard(1, buffer_grow, c.alignment);
    RValue_Serialise(&v, out);
    std::string got(reinterpret_cast<const char*>(out->GetData()), size_t(out->GetPosition()));
    EXPECT_EQ(got, want);
    delete out;
    RValue_Free(&v);

    // Read back into targets that held a string and an array.
    for (int target = 0; target < 2; ++target) {
        SCOPED_TRACE(target == 0 ? "string target" : "array target");
        RValue back = Str("previous");
        if (target == 1) {
            RValue_Free(&back);
            Rows(&back, {{1, 2}, {3}});
        }
        auto* in = new Buffer_Standard(want.data(), int32_t(want.size()), buffer_fixed, c.alignment, false);
        EXPECT_TRUE(RValue_Deserialise(&back, in));
        EXPECT_EQ(in->GetPosition(), int32_t(want.size()));
        delete in;
        EXPECT_EQ(back.kind, c.kindBack);
        EXPECT_EQ(back.flags, 0u);
        if (c.kindBack == VALUE_ARRAY) {
            EXPECT_EQ(back.arr->owner, &back);
        }
        if (c.kindBack != VALUE_REAL && c.kindBack != VALUE_STRING && c.kindBack != VALUE_ARRAY) {
            EXPECT_EQ(back.v64, 0);  // pointers and objects come back empty
        } else {
            EXPECT_EQ(TextOf(&back), c.text);
        }
        RValue_Free(&back);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Serialise, testing::ValuesIn(kSerials),
                         [](const testing::TestParamInfo<SerialCase>& info) { return info.param.name; });

class Deserialise : public MemoryBalanceTest {
protected:
    // Deserialises bytes into a target holding a string; the target is left undefined on failure.
    static bool Read(const std::string& bytes, std::string* text = nullptr, int32_t kind = buffer_fixed)
    {
        RValue v = Str("target");
        auto* in = new Buffer_Standard(const_cast<char*>(bytes.data()), int32_t(bytes.size()), kind, 1, false);
        bool ok = RValue_Deserialise(&v, in);
        delete in;
        if (!ok) {
            EXPECT_EQ(v.kind, VALUE_UNDEFINED);
            EXPECT_EQ(v.v64, 0);
        }
        if (text) *text = TextOf(&v);
        RValue_Free(&v);
        return ok;
    }
    static std::string S32(int32_t n) { return std::string(reinterpret_cast<const char*>(&n), 4); }
    static std::string F64(double d) { return std::string(reinterpret_cast<const char*>(&d), 8); }
};

TEST_F(Deserialise, BadCountsAndTruncationFail)
{
    const std::string row = S32(0) + F64(1.0);
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"negative row count", S32(2) + S32(-1)},
        {"huge row count", S32(2) + S32(0x7FFFFFFF)},
        {"row count above bytes left / 4", S32(2) + S32(3) + S32(0) + S32(0)},
        {"negative row length", S32(2) + S32(1) + S32(-5)},
        {"huge row length", S32(2) + S32(1) + S32(0x7FFFFFFF) + row},
        {"real without its number", S32(0) + "\x01\x02"},
        {"item missing", S32(2) + S32(1) + S32(2) + row},
    };
    for (const Case& c : cases) EXPECT_FALSE(Read(c.bytes)) << c.name;

    // Every truncation of a valid nested array fails.
    std::string full = S32(2) + S32(2) + S32(2) + row + S32(1) + "ab" + std::string(1, '\0') + S32(1) + S32(2) +
                       S32(1) + S32(1) + row;
    std::string text;
    ASSERT_TRUE(Read(full, &text));
    EXPECT_EQ(text, "{ { 1,ab }, { { { 1 },  } },  }");
    for (size_t n = 0; n < full.size(); ++n) {
        // A cut inside the text "ab" still reads it up to the end of the data; only later items are missing.
        EXPECT_FALSE(Read(full.substr(0, n))) << "cut at " << n;
    }
}

TEST_F(Deserialise, KindWordsKeepTheirLowBitsAndCarryNothing)
{
    for (uint32_t word : {3u, 6u, 11u, 0xFFFFFFu, 0x7F000003u, 0xFF000005u, 14u, 99u}) {
        std::string bytes = S32(static_cast<int32_t>(word)) + F64(1.0);  // trailing bytes are not read
        RValue v = Str("x");
        auto* in = new Buffer_Standard(bytes.data(), int32_t(bytes.size()), buffer_fixed, 1, false);
        EXPECT_TRUE(RValue_Deserialise(&v, in)) << word;
        EXPECT_EQ(in->GetPosition(), 4);
        delete in;
        EXPECT_EQ(v.kind, word & RVALUE_KIND_MASK);
        EXPECT_EQ(v.flags, 0u);
        EXPECT_EQ(v.v64, 0);
        RValue_Free(&v);
    }
    // Upper bits on a real: still a real.
    std::string bytes = S32(0x01000000) + F64(6.5);
    std::string text;
    EXPECT_TRUE(Read(bytes, &text));
    EXPECT_EQ(text, "6.50");
}

TEST_F(Deserialise, NestingDeeperThan256Fails)
{
    auto nested = [&](int levels) {
        std::string bytes;
        for (int i = 0; i < levels; ++i) bytes += S32(2) + S32(1) + S32(1);
        bytes += S32(0) + F64(3.0);
        return bytes;
    };
    EXPECT_TRUE(Read(nested(256)));
    EXPECT_FALSE(Read(nested(257)));
    EXPECT_FALSE(Read(nested(100000)));
}

TEST_F(Deserialise, WrappingBufferStaysBounded)
{
    // In a wrapping buffer the data never runs out; the counts are still held to its size.
    std::string bytes = S32(2) + S32(1) + S32(1) + S32(2) + S32(1) + S32(1);
    EXPECT_FALSE(Read(bytes, nullptr, buffer_wrap));
}

TEST_F(Deserialise, SerialisedCyclesAndDeepNestingReadBack)
{
    RValue a;
    Rows(&a, {{1}});
    RValue_SetWithIndex(&a, &a, Pack(0, 1));
    auto* out = new Buffer_Standard(1, buffer_grow, 1);
    RValue_Serialise(&a, out);
    std::string bytes(reinterpret_cast<const char*>(out->GetData()), size_t(out->GetPosition()));
    delete out;
    std::string text;
    EXPECT_TRUE(Read(bytes, &text));
    EXPECT_EQ(text, "{ { 1,{  } },  }");  // the inner occurrence is written as an empty array
    RValue zero = Real(0);
    RValue_SetWithIndex(&a, &zero, Pack(0, 1));
    RValue_Free(&a);

    // 300 levels: the levels below what the reader takes are written as undefined.
    RValue deep = Real(9);
    for (int i = 0; i < 300; ++i) {
        RValue outer = Undefined();
        RValue_SetWithIndex(&outer, &deep, Pack(0, 0));
        RValue_Free(&deep);
        RValue_Copy(&deep, &outer);
        RValue_Free(&outer);
    }
    out = new Buffer_Standard(1, buffer_grow, 1);
    RValue_Serialise(&deep, out);
    bytes.assign(reinterpret_cast<const char*>(out->GetData()), size_t(out->GetPosition()));
    delete out;
    EXPECT_TRUE(Read(bytes, &text));
    std::string innermost;
    for (int i = 0; i < 256; ++i) innermost += "{ { ";
    innermost += "undefined";
    EXPECT_EQ(text.substr(0, innermost.size()), innermost);
    RValue_Free(&deep);
}

}  // namespace
