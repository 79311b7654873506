#include "core/convert.h"
#include "core/value.h"
#include "ds/ds.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Double to single precision without the undefined conversion of values beyond the float range.
float Compare_ToFloat(double d)
{
    constexpr double kMax = std::numeric_limits<float>::max();
    if (d > kMax) return std::numeric_limits<float>::infinity();
    if (d < -kMax) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

int32_t Compare_Difference(double d, double epsilon)
{
    if (std::fabs(d) <= epsilon) return 0;
    return d < 0 ? -1 : 1;  // NaN falls through to 1
}

int32_t Compare_Int64(int64_t a, int64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

bool Compare_IsInteger(uint32_t kind) { return kind == VALUE_INT32 || kind == VALUE_INT64; }

int64_t Compare_IntegerOf(const RValue& v) { return RValue_Kind(&v) == VALUE_INT32 ? v.v32 : v.v64; }

}  // namespace

int32_t RValue_Compare(const RValue& a, const RValue& b, double epsilon)
{
    const uint32_t ka = RValue_Kind(&a), kb = RValue_Kind(&b);
    const bool aReal = ka == VALUE_REAL, bReal = kb == VALUE_REAL;
    const bool aNum = aReal || ka == VALUE_BOOL, bNum = bReal || kb == VALUE_BOOL;

    if (aNum && bNum) return Compare_Difference(a.real - b.real, epsilon);
    // Real against int32 goes through single precision, keeping the operands' order.
    if ((aReal && kb == VALUE_INT32) || (ka == VALUE_INT32 && bReal)) {
        float fa = aReal ? Compare_ToFloat(a.real) : static_cast<float>(a.v32);
        float fb = bReal ? Compare_ToFloat(b.real) : static_cast<float>(b.v32);
        return Compare_Difference(static_cast<float>(fa - fb), epsilon);
    }
    if ((aReal && kb == VALUE_INT64) || (ka == VALUE_INT64 && bReal))
        return Compare_Int64(aReal ? Real_ToInt64(a.real) : a.v64, bReal ? Real_ToInt64(b.real) : b.v64);
    // A bool against an integer compares as integers, without tolerance.
    if (ka == VALUE_BOOL && Compare_IsInteger(kb)) {
        int64_t x = kb == VALUE_INT32 ? Real_ToInt32(a.real) : Real_ToInt64(a.real);
        return Compare_Int64(x, Compare_IntegerOf(b));
    }
    if (Compare_IsInteger(ka) && kb == VALUE_BOOL) {
        int64_t y = ka == VALUE_INT32 ? Real_ToInt32(b.real) : Real_ToInt64(b.real);
        return Compare_Int64(Compare_IntegerOf(a), y);
    }
    if (Compare_IsInteger(ka) && Compare_IsInteger(kb)) return Compare_Int64(Compare_IntegerOf(a), Compare_IntegerOf(b));
    if (ka == VALUE_UNDEFINED && kb == VALUE_UNDEFINED) return 0;
    if (ka == VALUE_PTR && kb == VALUE_PTR) {
        auto pa = reinterpret_cast<uintptr_t>(a.ptr), pb = reinterpret_cast<uintptr_t>(b.ptr);
        return pa == pb ? 0 : (pa < pb ? 1 : -1);
    }
    if (ka == VALUE_STRING && kb == VALUE_STRING) {
        if (!a.str || !b.str) return 1;
        const char* ta = a.str->text ? a.str->text : "";
        const char* tb = b.str->text ? b.str->text : "";
        int c = std::strcmp(ta, tb);  // compares as unsigned bytes
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    return aReal ? -1 : 1;
}
