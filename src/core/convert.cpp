// Number conversions: checked real-to-integer casts and "C"-locale text <-> number.
#include "core/convert.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace {

// One "C" locale for the whole process, whatever the process locale is.
locale_t ConvertC_Locale()
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
}

double ConvertC_HalfEven(double d)
{
    double r = std::round(d);  // halves away from zero
    if (std::fabs(r - d) == 0.5) r = 2.0 * std::round(d / 2.0);
    return r;
}

int ConvertC_Finish(char* out, size_t size, std::to_chars_result res, char* first)
{
    if (res.ec != std::errc() || res.ptr >= out + size) {
        if (size > 0) out[0] = '\0';
        return -1;
    }
    *res.ptr = '\0';
    return static_cast<int>(res.ptr - first);
}

}  // namespace

int32_t Real_ToInt32(double d)
{
    // The comparisons are false for NaN.
    if (!(d > -2147483649.0 && d < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(d);
}

int32_t Real_ToInt32Floor(double d)
{
    const double f = std::floor(d);  // NaN stays NaN
    if (!(f >= -2147483648.0 && f < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(f);
}

int64_t Real_ToInt64(double d)
{
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return INT64_MIN;
    return static_cast<int64_t>(d);
}

int32_t Real_ToInt32Round(double d) { return Real_ToInt32(ConvertC_HalfEven(d)); }

int64_t Real_ToInt64Round(double d) { return Real_ToInt64(ConvertC_HalfEven(d)); }

uint32_t Real_ToUInt32Wrap(double d) { return static_cast<uint32_t>(static_cast<uint64_t>(Real_ToInt64(d))); }

double Text_ToReal(const char* text, const char** end)
{
    if (!text) {
        if (end) *end = text;
        return 0.0;
    }
    char* stop = nullptr;
    double d = strtod_l(text, &stop, ConvertC_Locale());
    if (end) *end = stop;
    return d;
}

int64_t Text_ToInt64(const char* text, const char** end)
{
    if (!text) {
        if (end) *end = text;
        return 0;
    }
    char* stop = nullptr;
    long long v = strtoll_l(text, &stop, 10, ConvertC_Locale());  // saturates at the 64-bit limits
    if (end) *end = stop;
    return v;
}

int32_t Text_ToInt32(const char* text, const char** end)
{
    int64_t v = Text_ToInt64(text, end);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

int64_t Text_ToInt64Hex(const char* text, const char** end)
{
    if (!text) {
        if (end) *end = text;
        return 0;
    }
    char* stop = nullptr;
    long long v = strtoll_l(text, &stop, 16, ConvertC_Locale());
    if (end) *end = stop;
    return v;
}

int Text_FromInt32(char* out, size_t size, int32_t value)
{
    if (size == 0) return -1;
    return ConvertC_Finish(out, size, std::to_chars(out, out + size - 1, value), out);
}

int Text_FromInt64(char* out, size_t size, int64_t value)
{
    if (size == 0) return -1;
    return ConvertC_Finish(out, size, std::to_chars(out, out + size - 1, value), out);
}

int Text_FromRealFixed(char* out, size_t size, double value, int decimals)
{
    if (size == 0) return -1;
    if (decimals < 0) decimals = 0;
    // to_chars never consults the locale.
    return ConvertC_Finish(out, size, std::to_chars(out, out + size - 1, value, std::chars_format::fixed, decimals),
                           out);
}

int Text_FromRealShortest(char* out, size_t size, double value)
{
    if (size == 0) return -1;
    return ConvertC_Finish(out, size, std::to_chars(out, out + size - 1, value), out);
}
