// Values: making, copying, freeing, indexing and array ownership. Every case must give back all memory.
#include <gtest/gtest.h>

#include "value_test_util.h"
#include "world/object_base.h"

using namespace kvtest_value;

namespace {

// A pointee that counts its deletions.
struct CountedPointee : RValueOwnedObject {
    static int& deletions()
    {
        static int n = 0;
        return n;
    }
    ~CountedPointee() override { ++deletions(); }
};

RValue* ValuesT_Element(RValue* a, int32_t row, int32_t column) { return &a->arr->rows[row].items[column]; }

double ValuesT_ReadReal(RValue* a, int32_t row, int32_t column)
{
    RValue out = Undefined();
    EXPECT_TRUE(RValue_ArrayGet(&out, a, Pack(row, column)));
    double d = out.real;
    RValue_Free(&out);
    return d;
}

void ValuesT_Set(RValue* a, int32_t row, int32_t column, double d)
{
    RValue item = Real(d);
    RValue_SetWithIndex(a, &item, Pack(row, column));
}

struct ValueCase {
    const char* name;
    void (*run)();
};

void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }

const ValueCase kValueCases[] = {
    {"IndexOnUndefinedMakesAnOwnedArray",
     [] {
         RValue a = Undefined();
         ValuesT_Set(&a, 0, 2, 5);
         ASSERT_EQ(RValue_Kind(&a), VALUE_ARRAY);
         EXPECT_EQ(a.arr->refCount, 1);
         EXPECT_EQ(a.arr->owner, &a);
         ASSERT_EQ(a.arr->rowCount, 1);
         ASSERT_EQ(a.arr->rows[0].length, 3);
         EXPECT_EQ(ValuesT_Element(&a, 0, 0)->kind, VALUE_REAL);  // never written: real 0
         EXPECT_EQ(ValuesT_Element(&a, 0, 1)->real, 0.0);
         EXPECT_EQ(ValuesT_Element(&a, 0, 2)->real, 5.0);
         RValue_Free(&a);
     }},
    {"GrowthThenReadsOutsideRecordTheIndexError",
     [] {
         RValue a = Undefined();
         ValuesT_Set(&a, 5, 0, 1);
         ASSERT_EQ(a.arr->rowCount, 6);
         EXPECT_EQ(a.arr->rows[3].length, 0);
         EXPECT_EQ(a.arr->rows[3].items, nullptr);
         struct Read {
             int32_t row, column;
             int32_t rowLength;
         };
         for (Read r : {Read{3, 0, 0}, Read{9, 0, -1}, Read{5, 1, 1}, Read{-1, 0, -1}}) {
             SCOPED_TRACE(testing::Message() << "[" << r.row << "," << r.column << "]");
             ArrayIndexError = {};
             RValue out = Real(42);
             EXPECT_FALSE(RValue_ArrayGet(&out, &a, Pack(r.row, r.column)));
             EXPECT_EQ(out.kind, VALUE_REAL);
             EXPECT_EQ(out.real, 0.0);
             EXPECT_TRUE(ArrayIndexError.flag);
             EXPECT_EQ(ArrayIndexError.row, r.row);
             EXPECT_EQ(ArrayIndexError.column, r.column);
             EXPECT_EQ(ArrayIndexError.rowCount, 6);
             EXPECT_EQ(ArrayIndexError.rowLength, r.rowLength);
         }
         // An array value without a record reports row count 0.
         RValue empty = OfKind(VALUE_ARRAY);
         RValue out = Undefined();
         EXPECT_FALSE(RValue_ArrayGet(&out, &empty, Pack(0, 0)));
         EXPECT_EQ(ArrayIndexError.rowCount, 0);
         EXPECT_EQ(ArrayIndexError.rowLength, -1);
         RValue_Free(&a);
     }},
    {"CopyThenWriteThroughOwnerAndThroughCopy",
     [] {
         RValue a;
         Rows(&a, {{1, 2}});
         RValue b = Undefined();
         RValue_SetWithIndex(&b, &a, ARRAY_INDEX_NONE);
         ASSERT_EQ(b.arr, a.arr);
         EXPECT_EQ(a.arr->refCount, 2);
         EXPECT_EQ(a.arr->owner, &a);
         ValuesT_Set(&a, 0, 0, 9);  // the owner writes in place: b sees it
         EXPECT_EQ(b.arr, a.arr);
         EXPECT_EQ(ValuesT_ReadReal(&b, 0, 0), 9.0);
         ValuesT_Set(&b, 0, 1, 7);  // anyone else takes a private copy first
         ASSERT_NE(b.arr, a.arr);
         EXPECT_EQ(b.arr->owner, &b);
         EXPECT_EQ(a.arr->refCount, 1);
         EXPECT_EQ(b.arr->refCount, 1);
         EXPECT_EQ(ValuesT_ReadReal(&a, 0, 1), 2.0);
         EXPECT_EQ(ValuesT_ReadReal(&b, 0, 1), 7.0);
         EXPECT_EQ(ValuesT_ReadReal(&b, 0, 0), 9.0);
         RValue_Free(&a);
         RValue_Free(&b);
     }},
    {"OwnerReleasedThenLastHolderWritesInPlaceAndOwns",
     [] {
         RValue a;
         Rows(&a, {{1}});
         RValue b = Undefined();
         RValue_Copy(&b, &a);
         RefArray* shared = a.arr;
         RValue_Free(&a);
         EXPECT_EQ(shared->owner, nullptr);
         EXPECT_EQ(shared->refCount, 1);
         ValuesT_Set(&b, 0, 0, 5);
         EXPECT_EQ(b.arr, shared);
         EXPECT_EQ(shared->owner, &b);
         EXPECT_EQ(ValuesT_ReadReal(&b, 0, 0), 5.0);
         RValue_Free(&b);
     }},
    {"WholeArrayTakenOrAssignedMakesTheSourceTheOwner",
     [] {
         RValue a;
         Rows(&a, {{1}});
         RValue b = Undefined();
         RValue_Copy(&b, &a);
         RValue_Free(&a);  // nobody owns the array now
         RValue c;
         Rows(&c, {{2}});
         RValue_SetWithIndex(&c, &b, ARRAY_INDEX_NONE);  // onto an array value: the source owns
         EXPECT_EQ(c.arr, b.arr);
         EXPECT_EQ(b.arr->owner, &b);
         RValue_Free(&b);
         RValue got = Undefined();
         EXPECT_TRUE(RValue_ArrayGet(&got, &c, ARRAY_INDEX_NONE));  // taking it out: the source owns
         EXPECT_EQ(c.arr->owner, &c);
         EXPECT_EQ(c.arr->refCount, 2);
         RValue_Free(&got);
         RValue d = Undefined();
         RValue_Copy(&d, &c);
         RValue_Free(&c);
         RValue e = Undefined();
         RValue_Copy(&e, &d);  // a plain copy of an unowned array: the destination owns
         EXPECT_EQ(d.arr->owner, &e);
         RValue_Free(&d);
         RValue_Free(&e);
     }},
    {"NestedArraysFreedOnlyAtTheirLastCount",
     [] {
         RValue inner;
         Rows(&inner, {{1, 2}});
         RValue outer1 = Undefined(), outer2 = Undefined();
         RValue_SetWithIndex(&outer1, &inner, Pack(0, 0));
         RValue_SetWithIndex(&outer2, &inner, Pack(1, 3));
         RefArray* record = inner.arr;
         RValue_Free(&inner);
         EXPECT_EQ(record->refCount, 2);
         size_t blocksWithBoth = MemoryManager_Probe().liveBlocks;
         RValue_Free(&outer1);
         EXPECT_EQ(record->refCount, 1);
         EXPECT_EQ(TextOf(&outer2), "{ {  }, { 0,0,0,{ { 1,2 },  } },  }");
         EXPECT_LT(MemoryManager_Probe().liveBlocks, blocksWithBoth);
         RValue_Free(&outer2);  // the fixture checks the inner array went with it
     }},
    {"NullTextIsAStringWithoutText",
     [] {
         RValue v = Real(3);
         RValue_SetString(&v, nullptr);
         ASSERT_EQ(v.kind, VALUE_STRING);
         ASSERT_NE(v.str, nullptr);
         EXPECT_EQ(v.str->text, nullptr);
         EXPECT_EQ(v.str->length, 0);
         EXPECT_EQ(v.str->refCount, 1);
         EXPECT_EQ(TextOf(&v), "");
         RValue_Free(&v);
     }},
    {"IndexingARealIsAnErrorThenACopy",
     [] {
         RValue real = Real(3.5);
         RValue out = Str("old");
         ErrorRecorder errors;
         EXPECT_TRUE(RValue_ArrayGet(&out, &real, Pack(0, 1)));
         EXPECT_EQ(errors.Stop(), std::vector<std::string>{"trying to index a variable which is not an array"});
         EXPECT_EQ(out.kind, VALUE_REAL);
         EXPECT_EQ(out.real, 3.5);
         ErrorRecorder none;
         EXPECT_TRUE(RValue_ArrayGet(&out, &real, ARRAY_INDEX_NONE));  // the whole value: no error
         EXPECT_TRUE(none.Stop().empty());
     }},
    {"ThreeCopiesMakeRefCountFour",
     [] {
         for (int which = 0; which < 2; ++which) {
             RValue original = Str("x");
             if (which == 1) {
                 RValue_Free(&original);
                 Rows(&original, {{1}});
             }
             RValue copies[3] = {Undefined(), Undefined(), Undefined()};
             for (RValue& c : copies) RValue_Copy(&c, &original);
             int32_t count = original.kind == VALUE_STRING ? original.str->refCount : original.arr->refCount;
             EXPECT_EQ(count, 4);
             for (RValue& c : copies) RValue_Free(&c);
             count = original.kind == VALUE_STRING ? original.str->refCount : original.arr->refCount;
             EXPECT_EQ(count, 1);
             RValue_Free(&original);
         }
     }},
    {"CopyOverOldStringAndArrayReleasesThem",
     [] {
         RValue s = Str("gone");
         RValue a;
         Rows(&a, {{1, 2}});
         RValue seven = Int32(7);
         RValue_Copy(&s, &seven);
         RValue_Copy(&a, &seven);
         EXPECT_EQ(s.kind, VALUE_INT32);
         EXPECT_EQ(a.v32, 7);
         EXPECT_EQ(a.v64, 7);  // the upper half of the payload is zero
         RValue_Copy(&a, &a);  // onto itself: nothing changes
         EXPECT_EQ(a.v32, 7);
     }},
    {"DuplicateSharesNestedStrings",
     [] {
         RValue a = Undefined();
         RValue text = Str("shared");
         RValue_SetWithIndex(&a, &text, Pack(0, 0));
         RValue b = Undefined();
         RValue_Copy(&b, &a);
         ValuesT_Set(&b, 0, 1, 1);  // b copies the array; the string inside is shared
         EXPECT_NE(a.arr, b.arr);
         EXPECT_EQ(text.str->refCount, 3);
         EXPECT_EQ(ValuesT_Element(&b, 0, 0)->str, text.str);
         RValue_Free(&a);
         RValue_Free(&b);
         RValue_Free(&text);
     }},
    {"WritingAnElementOfTheSameArrayWhileItGrows",
     [] {
         RValue a = Undefined();
         RValue text = Str("moved");
         RValue_SetWithIndex(&a, &text, Pack(0, 0));
         RValue_Free(&text);
         // The source lives in the items block that this write grows (and so moves).
         RValue_SetWithIndex(&a, ValuesT_Element(&a, 0, 0), Pack(0, 1000));
         RValue_SetWithIndex(&a, ValuesT_Element(&a, 0, 0), Pack(40, 0));
         // And onto itself.
         RValue_SetWithIndex(&a, ValuesT_Element(&a, 0, 0), Pack(0, 0));
         EXPECT_EQ(TextOf(ValuesT_Element(&a, 0, 1000)), "moved");
         EXPECT_EQ(TextOf(ValuesT_Element(&a, 40, 0)), "moved");
         EXPECT_EQ(TextOf(ValuesT_Element(&a, 0, 0)), "moved");
         EXPECT_EQ(ValuesT_Element(&a, 0, 0)->str->refCount, 3);
         // A string value indexed with itself as the element.
         RValue s = Str("self");
         RValue_SetWithIndex(&s, &s, Pack(0, 0));
         EXPECT_EQ(TextOf(&s), "{ { self },  }");
         RValue_Free(&s);
         RValue_Free(&a);
     }},
    {"ArrayElementCreatesAndRefusesNegatives",
     [] {
         RValue v = Str("was a string");
         RValue* e = RValue_ArrayElement(&v, Pack(2, 3));
         ASSERT_NE(e, nullptr);
         EXPECT_EQ(e->kind, VALUE_REAL);
         EXPECT_EQ(v.arr->rowCount, 3);
         EXPECT_EQ(RValue_ArrayElement(&v, -5), nullptr);
         EXPECT_EQ(RValue_ArrayElement(&v, Pack(-1, 0)), nullptr);
         RValue_Free(&v);
     }},
    {"SetStringFromItsOwnText",
     [] {
         RValue v = Str("same text");
         RValue_SetString(&v, v.str->text);
         EXPECT_EQ(TextOf(&v), "same text");
         RValue copy = Undefined();
         RValue_AdoptString(&copy, v.str);
         EXPECT_NE(copy.str, v.str);
         EXPECT_EQ(copy.str->length, 9);
         RValue_Free(&copy);
         RValue_Free(&v);
     }},
    {"CreateObjectAsksForTheInstanceVariableSlots",
     [] {
         g_InstanceVariableSlotCount = 12;
         RValue v = Undefined();
         v.flags = RVALUE_FLAG_WRITABLE;
         RValue_CreateObject(&v);
         EXPECT_EQ(v.kind, VALUE_OBJECT);
         EXPECT_NE(v.obj, nullptr);
         EXPECT_EQ(v.flags, RVALUE_FLAG_WRITABLE);
         EXPECT_EQ(v.obj->slotCount, 12);
         EXPECT_EQ(v.obj->defaultKind, static_cast<int32_t>(VALUE_UNSET));
         EXPECT_EQ(v.obj->slots, nullptr);
         ObjectBase_Free(v.obj);
         g_InstanceVariableSlotCount = 0;
     }},
    // Mended: a freed value is always left undefined, so freeing again or overwriting it releases nothing
    // a second time.
    {"FreeLeavesUndefinedSoASecondFreeIsHarmless",
     [] {
         RValue a;
         Rows(&a, {{1}});
         RValue b = Undefined();
         RValue_Copy(&b, &a);
         RValue_Free(&b);
         EXPECT_EQ(b.kind, VALUE_UNDEFINED);
         EXPECT_EQ(b.flags, 0u);
         EXPECT_EQ(b.v64, 0);
         RValue_Free(&b);
         RValue one = Real(1);
         RValue_SetWithIndex(&b, &one, ARRAY_INDEX_NONE);  // an overwrite
         EXPECT_EQ(a.arr->refCount, 1);                    // a's array was not dropped again
         EXPECT_EQ(ValuesT_ReadReal(&a, 0, 0), 1.0);
         RValue_Free(&a);

         CountedPointee::deletions() = 0;
         RValue p = Undefined();
         RValue_SetPtr(&p, new CountedPointee);
         p.flags = RVALUE_FLAG_OWNED;
         RValue_Free(&p);
         EXPECT_EQ(p.kind, VALUE_UNDEFINED);
         EXPECT_EQ(p.ptr, nullptr);
         EXPECT_EQ(p.flags, 0u);
         RValue_Free(&p);
         EXPECT_EQ(CountedPointee::deletions(), 1);

         RValue s = Str("t");
         RValue_Free(&s);
         EXPECT_EQ(s.kind, VALUE_UNDEFINED);
         EXPECT_EQ(s.str, nullptr);
         RValue_Free(&s);
     }},
    // Mended: an out-of-range read releases what the result held, as a successful read does.
    {"OutOfRangeReadReleasesTheResultsOldContent",
     [] {
         RValue a;
         Rows(&a, {{1}});
         RValue out = Str("held");
         EXPECT_FALSE(RValue_ArrayGet(&out, &a, Pack(4, 4)));
         EXPECT_EQ(out.kind, VALUE_REAL);
         RValue arrayResult;
         Rows(&arrayResult, {{5, 6}});
         EXPECT_FALSE(RValue_ArrayGet(&arrayResult, &a, Pack(0, 9)));
         EXPECT_EQ(arrayResult.kind, VALUE_REAL);
         RValue_Free(&a);
     }},
};

class Values : public MemoryBalanceTest, public testing::WithParamInterface<ValueCase> {};

TEST_P(Values, Case) { GetParam().run(); }

INSTANTIATE_TEST_SUITE_P(Table, Values, testing::ValuesIn(kValueCases),
                         [](const testing::TestParamInfo<ValueCase>& info) { return info.param.name; });

TEST(ValuesMisc, BoundedStrLenStopsAtTheBound)
{
    const char bytes[] = {'a', 'b', 'c', 0, 'd'};
    EXPECT_EQ(BoundedStrLen(bytes, 5), 3);
    EXPECT_EQ(BoundedStrLen(bytes, 2), 2);
    EXPECT_EQ(BoundedStrLen(bytes, 0), 0);
    EXPECT_EQ(BoundedStrLen(nullptr, 4), 0);
}

TEST(ValuesMisc, NeedsFreeCoversKindsOneToFour)
{
    for (uint32_t kind = 0; kind <= 15; ++kind) {
        RValue v = OfKind(kind);
        EXPECT_EQ(RValue_NeedsFree(&v), kind >= 1 && kind <= 4) << kind;
    }
    RValue unset = OfKind(VALUE_UNSET);
    EXPECT_FALSE(RValue_NeedsFree(&unset));
}

}  // namespace
