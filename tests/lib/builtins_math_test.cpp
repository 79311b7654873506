// Maths and number built-ins through the function table: the edge cases, the random number spans, the
// registration, and the two cores compiled code calls directly.
#include "builtin_call.h"

#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/random.h"
#include "core/value.h"
#include "lib/lib.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace {

using kvtest::Call;
using kvtest::I64;
using kvtest::OwnedValue;
using kvtest::R;
using kvtest::S;

constexpr double kMathNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMathInf = std::numeric_limits<double>::infinity();

const char* const kMathNames[] = {
    "is_bool", "is_real", "is_string", "is_array", "is_undefined", "is_int32", "is_int64", "is_ptr", "is_vec3",
    "is_vec4", "is_matrix", "array_length_1d", "array_length_2d", "array_height_2d", "array_get", "array_set",
    "array_set_pre", "array_set_post", "array_get_2D", "array_set_2D", "array_set_2D_pre", "array_set_2D_post",
    "random", "random_range", "irandom", "irandom_range", "random_use_old_version", "random_set_seed",
    "random_get_seed", "randomize", "abs", "round", "floor", "ceil", "sign", "frac", "sqrt", "sqr", "exp", "ln",
    "log2", "log10", "sin", "cos", "tan", "arcsin", "arccos", "arctan", "arctan2", "dsin", "dcos", "dtan",
    "darcsin", "darccos", "darctan", "darctan2", "degtorad", "radtodeg", "power", "logn", "min", "max", "min3",
    "max3", "mean", "median", "choose", "clamp", "lerp", "real", "string", "int64", "ptr", "string_format", "chr",
    "ansi_char", "ord", "string_length", "string_pos", "string_copy", "string_char_at", "string_ord_at",
    "string_byte_length", "string_byte_at", "string_set_byte_at", "string_delete", "string_insert", "string_lower",
    "string_upper", "string_repeat", "string_letters", "string_digits", "string_lettersdigits", "string_replace",
    "string_replace_all", "string_count", "point_distance", "point_direction", "lengthdir_x", "lengthdir_y",
    "point_distance_3d", "dot_product", "dot_product_normalised", "dot_product_3d", "dot_product_3d_normalised",
    "math_set_epsilon", "math_get_epsilon", "angle_difference"};

class MathBuiltins : public kvtest::BuiltinTest {};

std::vector<OwnedValue> MathReals(std::initializer_list<double> values)
{
    std::vector<OwnedValue> out;
    for (double d : values) out.push_back(R(d));
    return out;
}

TEST_F(MathBuiltins, EdgeCases)
{
    struct Row {
        const char* name;
        std::function<std::vector<OwnedValue>()> args;
        double want;  // NaN: any NaN
        const char* report = "";
    };
    const Row rows[] = {
        {"round", [] { return MathReals({0.5}); }, 0},
        {"round", [] { return MathReals({1.5}); }, 2},
        {"round", [] { return MathReals({2.5}); }, 2},
        {"round", [] { return MathReals({3.5}); }, 4},
        {"round", [] { return MathReals({-0.5}); }, 0},
        {"round", [] { return MathReals({-2.5}); }, -2},
        {"round", [] { return MathReals({3e9}); }, -2147483648.0},
        {"round", [] { return MathReals({kMathNaN}); }, -2147483648.0},
        {"sign", [] { return MathReals({-0.0}); }, 0},
        {"sign", [] { return MathReals({kMathNaN}); }, -1},
        {"sign", [] { return MathReals({-3}); }, -1},
        {"frac", [] { return MathReals({-2.75}); }, -0.75},
        {"sqrt", [] { return MathReals({-1}); }, 0, "Cannot apply sqrt to negative number.\n"},
        {"sqrt", [] { return MathReals({16}); }, 4},
        {"random", [] { return MathReals({0}); }, 0},
        {"sin", [] { return MathReals({3.14159265}); }, 0},
        {"dcos", [] { return MathReals({90}); }, 0},
        {"dsin", [] { return MathReals({90}); }, 1},
        {"arcsin", [] { return MathReals({1.5}); }, 0, "Error in function arcsin().\n"},
        {"darcsin", [] { return MathReals({1.5}); }, 0, "Error in function arcsin().\n"},
        {"darccos", [] { return MathReals({-2}); }, 0, "Error in function arccos().\n"},
        {"degtorad", [] { return MathReals({180}); }, 3.1415927410125732},
        {"radtodeg", [] { return MathReals({3.1415927410125732}); }, 180},
        {"min", [] { return MathReals({}); }, 0},
        {"max", [] { return MathReals({}); }, 0},
        {"max", [] { return MathReals({1, 7, 3}); }, 7},
        {"min3", [] { return MathReals({4, -1, 2}); }, -1},
        {"median", [] { return MathReals({4, 1, 3, 2}); }, 3},
        {"median", [] { return MathReals({5}); }, 5},
        {"median", [] { return MathReals({kMathNaN, 1, 2}); }, 2},
        {"median", [] { return MathReals({3, kMathNaN, 1, 2}); }, 3},
        {"median", [] { return MathReals({kMathNaN, kMathNaN, 1}); }, kMathNaN},
        {"mean", [] { return MathReals({}); }, 0},
        {"mean", [] { return MathReals({1, 2, 6}); }, 3},
        {"choose", [] { return MathReals({}); }, 0},
        {"clamp", [] { return MathReals({5, 10, 0}); }, 0},
        {"clamp", [] { return MathReals({-1, 0, 10}); }, 0},
        {"clamp", [] { return MathReals({11, 0, 10}); }, 10},
        {"lerp", [] { return MathReals({0, 10, 1.5}); }, 15},
        {"logn", [] { return MathReals({2, 8}); }, 3},
        {"log2", [] { return MathReals({0}); }, -kMathInf},
        {"ln", [] { return MathReals({-1}); }, kMathNaN},
        {"power", [] { return MathReals({2, 10}); }, 1024},
        {"real", [] { std::vector<OwnedValue> v; v.push_back(S("12.5")); return v; }, 12.5},
        {"real", [] { std::vector<OwnedValue> v; v.push_back(kvtest::U()); return v; }, 0},
    };
    for (const Row& row : rows) {
        ClearReports();
        const OwnedValue result = Call(row.name, row.args());
        SCOPED_TRACE(row.name);
        ASSERT_EQ(result.Kind(), uint32_t(VALUE_REAL));
        if (std::isnan(row.want)) {
            EXPECT_TRUE(std::isnan(result.Real()));
        } else {
            EXPECT_EQ(result.Real(), row.want);
        }
        EXPECT_EQ(Reported(), row.report);
    }
}

TEST_F(MathBuiltins, AggregatesReturnTheArgumentAsGiven)
{
    // min("3", 5) is the string; of equal values the earliest wins.
    OwnedValue text = Call("min", [] {
        std::vector<OwnedValue> v;
        v.push_back(S("3"));
        v.push_back(R(5));
        return v;
    }());
    EXPECT_EQ(text.Kind(), uint32_t(VALUE_STRING));
    EXPECT_EQ(text.Text(), "3");
    OwnedValue second = Call("min", [] {
        std::vector<OwnedValue> v;
        v.push_back(R(2));
        v.push_back(I64(1));
        v.push_back(R(1));
        return v;
    }());
    EXPECT_EQ(second.Kind(), uint32_t(VALUE_INT64));

    // choose("a") hands out the argument's own string.
    OwnedValue a = S("a");
    for (int i = 0; i < 20; ++i) {
        OwnedValue chosen = kvtest::CallPointers("choose", {&a.v});
        ASSERT_EQ(chosen.Kind(), uint32_t(VALUE_STRING));
        EXPECT_EQ(chosen.v.str, a.v.str);
        EXPECT_EQ(a.v.str->refCount, 2);
    }
    EXPECT_EQ(a.v.str->refCount, 1);
}

TEST_F(MathBuiltins, ConversionsAndEpsilon)
{
    struct Row {
        double value;
        const char* text;
    };
    for (const Row& row : {Row{2, "2"}, Row{2.5, "2.50"}, Row{1.0 / 3, "0.33"}, Row{-7, "-7"}, Row{kMathNaN, "NaN"}}) {
        const OwnedValue s = Call("string", MathReals({row.value}));
        EXPECT_EQ(s.Kind(), uint32_t(VALUE_STRING));
        EXPECT_EQ(s.Text(), row.text);
    }
    const OwnedValue big = Call("int64", MathReals({3e12}));
    EXPECT_EQ(big.Kind(), uint32_t(VALUE_INT64));
    EXPECT_EQ(big.v.v64, 3000000000000);
    std::vector<OwnedValue> hex;
    hex.push_back(S("ff"));
    const OwnedValue pointer = Call("ptr", std::move(hex));
    EXPECT_EQ(pointer.Kind(), uint32_t(VALUE_PTR));
    EXPECT_EQ(reinterpret_cast<intptr_t>(pointer.v.ptr), 255);

    const double saved = Math_Epsilon;
    Call("math_set_epsilon", MathReals({0}));
    EXPECT_EQ(Call("math_get_epsilon").Real(), 1e-11);
    Call("math_set_epsilon", MathReals({1}));
    Call("math_set_epsilon", MathReals({-0.1}));
    Call("math_set_epsilon", MathReals({kMathNaN}));
    EXPECT_EQ(Call("math_get_epsilon").Real(), 1e-11);
    Call("math_set_epsilon", MathReals({0.25}));
    EXPECT_EQ(Math_Epsilon, 0.25);
    EXPECT_EQ(Reported(), "");

    // An argument that cannot be read is a fatal report, and the setting stays (it does not read as 0).
    Call("math_set_epsilon");
    EXPECT_EQ(Math_Epsilon, 0.25);
    EXPECT_EQ(kvtest::BuiltinExitCount(), 1);
    ClearReports();
    Call("random_set_seed", MathReals({99}));
    Call("random_set_seed");
    EXPECT_EQ(Random_GetSeed(), 99u);
    ClearReports();
    Math_SetEpsilon(saved);
}

// The draws of one run: random, random_range, irandom, irandom_range and choose.
std::vector<double> MathDraws(double seed)
{
    Call("random_set_seed", MathReals({seed}));
    std::vector<double> out;
    for (int i = 0; i < 50; ++i) {
        out.push_back(Call("random", MathReals({10})).Real());
        out.push_back(Call("random_range", MathReals({5, 2})).Real());
        out.push_back(Call("irandom", MathReals({100})).Real());
        out.push_back(Call("irandom_range", MathReals({-7, 7})).Real());
        out.push_back(Call("choose", MathReals({1, 2, 3, 4})).Real());
    }
    return out;
}

TEST_F(MathBuiltins, ASeedGivesTheSameNumbersTwice)
{
    const std::vector<double> first = MathDraws(12345);
    EXPECT_EQ(MathDraws(12345), first);
    EXPECT_NE(MathDraws(54321), first);
    for (size_t i = 0; i < first.size(); i += 5) {
        EXPECT_GE(first[i + 1], 2);
        EXPECT_LT(first[i + 1], 5);
    }
    Call("random_set_seed", MathReals({-1}));
    EXPECT_EQ(Call("random_get_seed").Real(), 4294967295.0);

    // Above 0 selects the old mixing constant, anything else the current one.
    EXPECT_EQ(Call("random_use_old_version", MathReals({1})).Real(), 0);
    EXPECT_TRUE(Random_IsOldVersion());
    Call("random_use_old_version", MathReals({0.5}));
    EXPECT_FALSE(Random_IsOldVersion());
    Call("random_use_old_version", MathReals({2}));
    Call("random_use_old_version", MathReals({-1}));
    EXPECT_FALSE(Random_IsOldVersion());
}

TEST_F(MathBuiltins, RandomIntegersStayInTheirBounds)
{
    struct Row {
        const char* name;
        std::function<std::vector<OwnedValue>()> args;
        double lo, hi;
        int distinct;  // how many values 10^5 draws must show (0: not checked)
    };
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    auto ints = [](int64_t a, int64_t b) {
        std::vector<OwnedValue> v;
        v.push_back(I64(a));
        v.push_back(I64(b));
        return v;
    };
    const Row rows[] = {
        {"irandom", [] { return MathReals({1}); }, 0, 1, 2},
        {"irandom", [] { return MathReals({-1}); }, -1, 0, 2},
        {"irandom", [] { return MathReals({0}); }, 0, 0, 1},
        {"irandom", [] { return MathReals({2.9}); }, 0, 2, 3},
        {"irandom", [] { return MathReals({-2.9}); }, -2, 0, 3},
        {"irandom", [] { std::vector<OwnedValue> v; v.push_back(I64(kMax)); return v; }, 0, 0x1p63, 0},
        {"irandom", [] { std::vector<OwnedValue> v; v.push_back(I64(kMin)); return v; }, -0x1p63, 0, 0},
        {"irandom_range", [] { return MathReals({5, 2}); }, 2, 5, 4},
        {"irandom_range", [] { return MathReals({3, 3}); }, 3, 3, 1},
        {"irandom_range", [&] { return ints(kMin, kMax); }, -0x1p63, 0x1p63, 0},
        {"irandom_range", [&] { return ints(kMax, kMax - 1); }, 0x1p63, 0x1p63, 1},  // both ends read 2^63
        {"irandom_range", [&] { return ints(kMin, kMin + 2); }, -0x1p63, -0x1p63, 1},
        {"irandom_range", [&] { return ints(-1, kMax); }, -1, 0x1p63, 0},
        {"irandom_range", [&] { return ints(kMin, 0); }, -0x1p63, 0, 0},
    };
    Call("random_set_seed", MathReals({7}));
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " row " + std::to_string(&row - rows));
        std::set<double> seen;
        bool inBounds = true;
        std::vector<OwnedValue> args = row.args();
        std::vector<RValue*> pointers;
        for (OwnedValue& a : args) pointers.push_back(&a.v);
        for (int i = 0; i < 100000 && inBounds; ++i) {
            const double d = kvtest::CallPointers(row.name, pointers).Real();
            inBounds = d >= row.lo && d <= row.hi;
            seen.insert(d);
            if (!inBounds) ADD_FAILURE() << d << " outside " << row.lo << " ... " << row.hi;
        }
        if (row.distinct) {
            EXPECT_EQ(int(seen.size()), row.distinct);
        } else {
            EXPECT_GT(seen.size(), 1u);
        }
    }
}

TEST_F(MathBuiltins, RandomizeReadsTheTestCounter)
{
    kvtest::ScopedEnv counter("KV_TEST_RANDOMIZE_COUNTER", "1");
    auto seedOf = [](uint64_t t) {
        const uint32_t lo = uint32_t(t), hi = uint32_t(t >> 32);
        return double((hi + lo) ^ ((lo >> 16) & 0xFFFF) ^ (lo << 16));
    };
    const double first = Call("randomize").Real();
    uint64_t k = 1;
    while (k < 100000 && seedOf(k * 16667) != first) ++k;
    ASSERT_LT(k, 100000u) << "the seed comes from no count";
    EXPECT_EQ(Call("random_get_seed").Real(), first);
    EXPECT_EQ(Call("randomize").Real(), seedOf((k + 1) * 16667));
    EXPECT_EQ(Call("randomize").Real(), seedOf((k + 2) * 16667));
}

TEST_F(MathBuiltins, DirectCoresAllocateNothing)
{
    RValue a, b, c, result;
    RValue_SetReal(&a, 1);
    RValue_SetReal(&b, 2);
    RValue_SetReal(&c, 3);
    RValue_SetReal(&result, 0);
    RValue* args[] = {&a, &b, &c};
    const MemoryProbe before = MemoryManager_Probe();
    double sum = 0;
    for (int i = 0; i < 10000; ++i) {
        const double r = RandomRange(5, 2);
        ASSERT_TRUE(r >= 2 && r < 5);
        RValue* chosen = ChooseArgument(&result, 3, args);
        ASSERT_EQ(chosen, &result);
        sum += chosen->real;
    }
    const MemoryProbe after = MemoryManager_Probe();
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);
    EXPECT_EQ(after.heapBytesInUse, before.heapBytesInUse);
    EXPECT_GT(sum, 10000 * 1.5);
    EXPECT_LT(sum, 10000 * 2.5);

    // The previous content goes: a string result is released before the copy.
    RValue_SetString(&result, "held");
    RValue text;
    RValue_SetString(&text, "picked");
    RValue* one[] = {&text};
    ChooseArgument(&result, 1, one);
    EXPECT_EQ(result.str, text.str);
    EXPECT_EQ(text.str->refCount, 2);
    RValue_Free(&result);
    RValue_Free(&text);
}

TEST_F(MathBuiltins, RegistersItsNamesInOrderWithTheirCounts)
{
    const int32_t first = Function_Count();
    InitMathFunctions();
    ASSERT_EQ(Function_Count() - first, 108);
    for (int32_t i = 0; i < 108; ++i) EXPECT_STREQ(Function_Entry(first + i)->name, kMathNames[i]) << i;
    struct Count {
        const char* name;
        int32_t count;
    };
    for (const Count& c : {Count{"min", -1}, Count{"choose", -1}, Count{"median", -1}, Count{"min3", 3},
                           Count{"randomize", 0}, Count{"array_set_2D_post", 4}, Count{"string_format", 3},
                           Count{"point_distance_3d", 6}, Count{"angle_difference", 2}})
        for (int32_t i = first; i < first + 108; ++i)
            if (std::string(Function_Entry(i)->name) == c.name) {
                EXPECT_EQ(Function_Entry(i)->argumentCount, c.count) << c.name;
            }
}

TEST_F(MathBuiltins, EveryBuiltinCalledShortReadsUndefined)
{
    // Each built-in with every shorter argument list: the missing ones read as undefined (the getters
    // report them), nothing reads past the call's values.
    for (const char* name : kMathNames) {
        const int32_t index = kvtest::BuiltinIndex(name);
        const int32_t count = Function_Entry(index)->argumentCount;
        for (int32_t given = 0; given < (count < 0 ? 1 : count); ++given) {
            std::vector<OwnedValue> args;
            for (int32_t i = 0; i < given; ++i) args.push_back(i == 0 ? S("ab") : R(1));
            ClearReports();
            Call(name, std::move(args));
        }
    }
    ClearReports();
}

}  // namespace
