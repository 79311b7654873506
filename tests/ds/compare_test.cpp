#include "ds/ds.h"

#include "core/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

RValue CmpReal(double d) { RValue v; RValue_SetReal(&v, d); return v; }
RValue CmpInt32(int32_t i) { RValue v; RValue_SetInt32(&v, i); return v; }
RValue CmpInt64(int64_t i) { RValue v; RValue_SetInt64(&v, i); return v; }
RValue CmpBool(bool b) { RValue v; RValue_SetBool(&v, b); return v; }
RValue CmpPtr(void* p) { RValue v; RValue_SetPtr(&v, p); return v; }
RValue CmpUndef() { RValue v; RValue_SetUndefined(&v); return v; }
RValue CmpKind(uint32_t kind) { RValue v; v.v64 = 0; v.flags = 0; v.kind = kind; return v; }
RValue CmpWithUpperBits(RValue v) { v.kind |= 0x5A000000u; return v; }

// String values over records the test owns (no allocation: the comparison only reads them).
struct CmpStrings {
    RefString records[6] = {
        {const_cast<char*>("abc"), 1, 3},
        {const_cast<char*>("abd"), 1, 3},
        {const_cast<char*>("ab"), 1, 2},
        {const_cast<char*>("\xC3\xA9"), 1, 2},  // above every ASCII byte when compared unsigned
        {nullptr, 1, 0},                        // a record without text
        {const_cast<char*>(""), 1, 0},
    };
    RValue Of(int i)
    {
        RValue v;
        v.str = &records[i];
        v.flags = 0;
        v.kind = VALUE_STRING;
        return v;
    }
    static RValue NoRecord()
    {
        RValue v;
        v.str = nullptr;
        v.flags = 0;
        v.kind = VALUE_STRING;
        return v;
    }
};

TEST(Compare, KindPairs)
{
    CmpStrings s;
    int p[2];
    const double nan = std::nan(""), eps = 1e-8;
    struct Case {
        const char* name;
        RValue a, b;
        double epsilon;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        // real and bool: difference against the tolerance
        {"real = real", CmpReal(1.0), CmpReal(1.0), eps, 0},
        {"real < real", CmpReal(1.0), CmpReal(2.0), eps, -1},
        {"real > real", CmpReal(3.0), CmpReal(2.0), eps, 1},
        {"within tolerance", CmpReal(1.4), CmpReal(1.0), 0.5, 0},
        {"just outside", CmpReal(1.0), CmpReal(1.5), 0.49, -1},
        {"NaN left", CmpReal(nan), CmpReal(1.0), eps, 1},
        {"NaN right", CmpReal(1.0), CmpReal(nan), eps, 1},
        {"bool = real", CmpBool(true), CmpReal(1.0), eps, 0},
        {"bool < bool", CmpBool(false), CmpBool(true), eps, -1},
        // real against int32 through single precision
        {"real 1.4 = int32 1 at 0.5", CmpReal(1.4), CmpInt32(1), 0.5, 0},
        {"real 16777217 = int32 16777216 in floats", CmpReal(16777217.0), CmpInt32(16777216), 0.0, 0},
        {"int32 16777216 = real 16777217", CmpInt32(16777216), CmpReal(16777217.0), 0.0, 0},
        {"real 1+2^-30 = int32 1 (float rounding)", CmpReal(1.0 + std::ldexp(1.0, -30)), CmpInt32(1), 0.0, 0},
        {"real 0.5 < int32 1", CmpReal(0.5), CmpInt32(1), eps, -1},
        {"int32 1 > real 0.5", CmpInt32(1), CmpReal(0.5), eps, 1},
        {"real 1e300 > int32", CmpReal(1e300), CmpInt32(5), eps, 1},
        {"real NaN vs int32", CmpReal(nan), CmpInt32(5), eps, 1},
        // real against int64: truncated, no tolerance
        {"real 2.9 = int64 2", CmpReal(2.9), CmpInt64(2), 0.5, 0},
        {"real -2.9 = int64 -2", CmpReal(-2.9), CmpInt64(-2), 0.0, 0},
        {"real 1 < int64 2 (tolerance ignored)", CmpReal(1.0), CmpInt64(2), 10.0, -1},
        {"int64 2^53+1 > real 2^53", CmpInt64((int64_t(1) << 53) + 1), CmpReal(9007199254740992.0), eps, 1},
        // bool against integers
        {"bool true = int32 1", CmpBool(true), CmpInt32(1), eps, 0},
        {"int32 0 < bool true", CmpInt32(0), CmpBool(true), eps, -1},
        {"bool false < int64 3", CmpBool(false), CmpInt64(3), eps, -1},
        {"int64 -1 < bool false", CmpInt64(-1), CmpBool(false), eps, -1},
        // integers
        {"int32 -1 < int64 1", CmpInt32(-1), CmpInt64(1), eps, -1},
        {"int64 2^40 > int32 max", CmpInt64(int64_t(1) << 40), CmpInt32(INT32_MAX), eps, 1},
        {"int32 = int32 (no tolerance)", CmpInt32(3), CmpInt32(4), 10.0, -1},
        {"int64 = int64", CmpInt64(INT64_MIN), CmpInt64(INT64_MIN), eps, 0},
        // undefined and pointers
        {"undefined = undefined", CmpUndef(), CmpUndef(), eps, 0},
        {"pointer equal", CmpPtr(&p[0]), CmpPtr(&p[0]), eps, 0},
        {"pointer lower gives 1", CmpPtr(&p[0]), CmpPtr(&p[1]), eps, 1},
        {"pointer higher gives -1", CmpPtr(&p[1]), CmpPtr(&p[0]), eps, -1},
        // strings as unsigned bytes
        {"abc = abc", s.Of(0), s.Of(0), eps, 0},
        {"abc < abd", s.Of(0), s.Of(1), eps, -1},
        {"abc > ab", s.Of(0), s.Of(2), eps, 1},
        {"e-acute > abc", s.Of(3), s.Of(0), eps, 1},
        {"abc < e-acute", s.Of(0), s.Of(3), eps, -1},
        {"no text = empty", s.Of(4), s.Of(5), eps, 0},
        {"no text < ab", s.Of(4), s.Of(2), eps, -1},
        {"no record left", CmpStrings::NoRecord(), s.Of(0), eps, 1},
        {"no record right", s.Of(0), CmpStrings::NoRecord(), eps, 1},
        {"no record both", CmpStrings::NoRecord(), CmpStrings::NoRecord(), eps, 1},
        // any other pair: -1 when a is a real, else 1
        {"real vs string", CmpReal(1.0), s.Of(0), eps, -1},
        {"string vs real", s.Of(0), CmpReal(1.0), eps, 1},
        {"real vs undefined", CmpReal(0.0), CmpUndef(), eps, -1},
        {"undefined vs real", CmpUndef(), CmpReal(0.0), eps, 1},
        {"bool vs string", CmpBool(true), s.Of(0), eps, 1},
        {"two arrays", CmpKind(VALUE_ARRAY), CmpKind(VALUE_ARRAY), eps, 1},
        {"two objects", CmpKind(VALUE_OBJECT), CmpKind(VALUE_OBJECT), eps, 1},
        {"two nulls", CmpKind(VALUE_NULL), CmpKind(VALUE_NULL), eps, 1},
        {"two vec3", CmpKind(VALUE_VEC3), CmpKind(VALUE_VEC3), eps, 1},
        {"real vs null", CmpReal(0.0), CmpKind(VALUE_NULL), eps, -1},
        {"pointer vs int32", CmpPtr(&p[0]), CmpInt32(0), eps, 1},
        // only the low 24 bits of the kind word count
        {"upper kind bits ignored", CmpWithUpperBits(CmpReal(2.0)), CmpWithUpperBits(CmpInt32(2)), eps, 0},
        {"upper kind bits on undefined", CmpWithUpperBits(CmpUndef()), CmpUndef(), eps, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(RValue_Compare(c.a, c.b, c.epsilon), c.expected) << c.name;
}

}  // namespace
