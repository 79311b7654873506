// Kind tests and array built-ins through the function table: every kind word, reads, writes that every
// holder of the array sees, and the fatal texts.
#include "builtin_call.h"

#include "core/value.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using kvtest::Call;
using kvtest::CallPointers;
using kvtest::OwnedValue;
using kvtest::R;
using kvtest::S;

class ArrayBuiltins : public kvtest::BuiltinTest {
protected:
    // A value holding rows of the given lengths, element [r][c] = r * 100 + c.
    static OwnedValue MakeArray(std::vector<int32_t> rowLengths)
    {
        OwnedValue a;
        for (size_t r = 0; r < rowLengths.size(); ++r)
            for (int32_t c = 0; c < rowLengths[r]; ++c) {
                RValue item;
                RValue_SetReal(&item, double(r * 100 + size_t(c)));
                RValue_SetWithIndex(&a.v, &item, int32_t(r) * ARRAY_INDEX_STRIDE + c);
            }
        if (rowLengths.empty()) {
            a.v.arr = RefArray_Create(&a.v);
            a.v.kind = VALUE_ARRAY;
        }
        return a;
    }
    static double Element(RValue* a, int32_t row, int32_t column)
    {
        return a->arr->rows[row].items[column].real;
    }
};

TEST_F(ArrayBuiltins, KindTestsCompareTheWholeKindWord)
{
    const char* const tests[] = {"is_real", "is_string", "is_array", "is_ptr", "is_vec3", "is_undefined",
                                 "is_int32", "is_vec4", "is_matrix", "is_int64", "is_bool"};
    const uint32_t kinds[] = {VALUE_REAL, VALUE_STRING, VALUE_ARRAY, VALUE_PTR, VALUE_VEC3, VALUE_UNDEFINED,
                              VALUE_INT32, VALUE_VEC4, VALUE_MATRIX, VALUE_INT64, VALUE_BOOL};
    const uint32_t others[] = {VALUE_OBJECT, VALUE_ACCESSOR, VALUE_NULL, VALUE_ITERATOR, VALUE_UNSET};
    for (uint32_t kind = 0; kind < 16; ++kind) {
        // A bare kind word with no payload to free (each test reads the word only).
        RValue v{};
        v.kind = kind;
        for (size_t t = 0; t < std::size(tests); ++t)
            EXPECT_EQ(CallPointers(tests[t], {&v}).Real(), kinds[t] == kind ? 1.0 : 0.0) << tests[t] << " " << kind;
    }
    for (uint32_t kind : others) {
        RValue v{};
        v.kind = kind;
        for (const char* test : tests) EXPECT_EQ(CallPointers(test, {&v}).Real(), 0.0) << test;
    }
    // Bits above the kind make another word: no match.
    RValue flagged{};
    flagged.kind = VALUE_REAL | 0x80000000u;
    EXPECT_EQ(CallPointers("is_real", {&flagged}).Real(), 0.0);
    // A string without text is still a string; a missing argument is undefined.
    RValue empty{};
    empty.kind = VALUE_STRING;
    EXPECT_EQ(CallPointers("is_string", {&empty}).Real(), 1.0);
    EXPECT_EQ(Call("is_undefined").Real(), 1.0);
    EXPECT_EQ(Reported(), "");
}

TEST_F(ArrayBuiltins, LengthsAndHeights)
{
    OwnedValue ten = MakeArray({10});
    OwnedValue ragged = MakeArray({0, 4, 2});
    OwnedValue empty = MakeArray({});
    OwnedValue number = R(5);
    OwnedValue minus = R(-1), three = R(3), one = R(1);
    struct Row {
        const char* name;
        std::vector<RValue*> args;
        double want;
    };
    const Row rows[] = {
        {"array_length_1d", {&ten.v}, 10},
        {"array_length_1d", {&number.v}, 0},
        {"array_length_1d", {&empty.v}, 0},
        {"array_length_1d", {&ragged.v}, 0},
        {"array_length_2d", {&ragged.v, &one.v}, 4},
        {"array_length_2d", {&ragged.v, &minus.v}, 0},
        {"array_length_2d", {&ragged.v, &three.v}, 0},
        {"array_height_2d", {&ragged.v}, 3},
        {"array_height_2d", {&ragged.v, &one.v}, 0},
        {"array_height_2d", {&number.v}, 0},
    };
    for (const Row& row : rows) EXPECT_EQ(CallPointers(row.name, row.args).Real(), row.want) << row.name << &row - rows;
    EXPECT_EQ(Reported(), "");
}

TEST_F(ArrayBuiltins, ReadsAndWrites)
{
    OwnedValue a = MakeArray({10, 3});
    OwnedValue sharer;
    RValue_Copy(&sharer.v, &a.v);  // a second holder of the same array
    OwnedValue five = R(5), i20 = R(20), i0 = R(0), i32001 = R(32001), col32000 = R(32000), r1 = R(1), c2 = R(2),
               text = S("t"), i99 = R(99);

    EXPECT_EQ(CallPointers("array_get", {&a.v, &i32001.v}).Real(), 101);
    EXPECT_EQ(CallPointers("array_get_2D", {&a.v, &i0.v, &col32000.v}).Real(), 100);
    EXPECT_EQ(CallPointers("array_get_2D", {&a.v, &r1.v, &i99.v}).Real(), 0);  // out of range, no report
    OwnedValue notArray = R(5);
    EXPECT_EQ(CallPointers("array_get", {&notArray.v, &i0.v}).Kind(), uint32_t(VALUE_UNDEFINED));

    EXPECT_EQ(CallPointers("array_set", {&a.v, &i20.v, &five.v}).Real(), 0);
    ASSERT_EQ(sharer.v.arr->rows[0].length, 21);
    for (int32_t c = 10; c < 20; ++c) EXPECT_EQ(Element(&sharer.v, 0, c), 0);
    EXPECT_EQ(Element(&sharer.v, 0, 20), 5);

    const OwnedValue pre = CallPointers("array_set_pre", {&a.v, &i0.v, &text.v});
    EXPECT_EQ(pre.Text(), "t");
    EXPECT_EQ(pre.v.str, text.v.str);  // the copy shares the string

    OwnedValue three = R(3);
    CallPointers("array_set", {&a.v, &r1.v, &three.v});
    EXPECT_EQ(CallPointers("array_set_post", {&a.v, &r1.v, &five.v}).Real(), 3);
    EXPECT_EQ(Element(&a.v, 0, 1), 5);
    OwnedValue fresh = R(50);
    EXPECT_EQ(CallPointers("array_set_post", {&a.v, &fresh.v, &five.v}).Real(), 0);
    EXPECT_EQ(Element(&a.v, 0, 50), 5);

    EXPECT_EQ(CallPointers("array_set_2D", {&a.v, &r1.v, &c2.v, &five.v}).Real(), 0);
    EXPECT_EQ(Element(&sharer.v, 1, 2), 5);
    EXPECT_EQ(CallPointers("array_set_2D_pre", {&a.v, &r1.v, &i0.v, &three.v}).Real(), 3);
    EXPECT_EQ(CallPointers("array_set_2D_post", {&a.v, &r1.v, &i0.v, &five.v}).Real(), 3);
    EXPECT_EQ(CallPointers("array_set_2D_post", {&a.v, &r1.v, &i99.v, &five.v}).Real(), 0);
    EXPECT_EQ(Element(&a.v, 1, 99), 5);

    // A negative index writes nothing; a packed index beyond 32 bits addresses nothing.
    OwnedValue negative = R(-3), huge = R(70000);
    CallPointers("array_set_2D", {&a.v, &negative.v, &c2.v, &five.v});
    CallPointers("array_set_2D", {&a.v, &huge.v, &huge.v, &five.v});
    EXPECT_EQ(a.v.arr->rowCount, 2);
    EXPECT_EQ(Reported(), "");
}

TEST_F(ArrayBuiltins, FatalTexts)
{
    OwnedValue a = MakeArray({10});
    OwnedValue number = R(5), i99 = R(99), i0 = R(0), v = R(1), r1 = R(1), c2 = R(2);
    struct Row {
        const char* name;
        std::vector<RValue*> args;
        const char* text;
    };
    const Row rows[] = {
        {"array_get", {&a.v, &i99.v}, "array_get :: Index [0,99] out of range [1,10]"},
        {"array_set", {&number.v, &i0.v, &v.v}, "array_set :: argument 0 is not an array"},
        {"array_set", {&a.v, &i0.v}, "array_set :: takes 3 arguments"},
        {"array_set_pre", {&a.v, &i0.v, &v.v, &v.v}, "array_set :: takes 3 arguments"},
        {"array_set_post", {&number.v, &i0.v, &v.v}, "trying to index a variable which is not an array"},
        {"array_set_2D", {&a.v, &r1.v, &c2.v}, "array_set_2d :: takes 4 arguments"},
        {"array_set_2D_post", {&number.v, &r1.v, &c2.v, &v.v}, "array_set_2d :: argument 0 is not an array"},
    };
    for (const Row& row : rows) {
        ClearReports();
        CallPointers(row.name, row.args);
        EXPECT_NE(std::string(Error_LastText()).find(row.text), std::string::npos) << row.name << ": " << Error_LastText();
        EXPECT_EQ(Reported(), std::string(row.text) + "\n");
        EXPECT_EQ(kvtest::BuiltinExitCount(), 1) << row.name;
    }
    EXPECT_EQ(a.v.arr->rows[0].length, 10);  // no failed call wrote
    EXPECT_EQ(a.v.arr->rowCount, 1);
}

}  // namespace
