// The one family of number conversions. Reals become integers only through these (a raw cast of a NaN or an
// out-of-range real is undefined behaviour); text and numbers meet only in the "C" locale.
#pragma once
#include <cstddef>
#include <cstdint>

// Real -> integer. NaN and reals outside the target range give INT32_MIN / INT64_MIN (what x86 gives).
int32_t Real_ToInt32(double d);            // truncating toward zero
int32_t Real_ToInt32Floor(double d);       // rounding toward negative infinity
int64_t Real_ToInt64(double d);            // truncating toward zero
int32_t Real_ToInt32Round(double d);       // nearest, halves to even
int64_t Real_ToInt64Round(double d);       // nearest, halves to even
// Low 32 bits of the truncated 64-bit integer: for reals that stand for bit patterns (colours, flags).
uint32_t Real_ToUInt32Wrap(double d);

// Text -> number, "C" locale, with the C library's prefix rules: leading white space is skipped and the
// longest valid prefix is read; nothing readable gives 0. end (optional) receives the first unread byte.
double Text_ToReal(const char* text, const char** end = nullptr);          // strtod
int32_t Text_ToInt32(const char* text, const char** end = nullptr);        // base 10, saturating
int64_t Text_ToInt64(const char* text, const char** end = nullptr);        // base 10, saturating
int64_t Text_ToInt64Hex(const char* text, const char** end = nullptr);     // base 16, optional "0x"

// Number -> text, "C" locale. Each writes a NUL-terminated text and returns its length (without the NUL),
// or -1 when it does not fit in size bytes (out then holds an empty text when size > 0).
int Text_FromInt32(char* out, size_t size, int32_t value);
int Text_FromInt64(char* out, size_t size, int64_t value);
// Fixed notation with that many decimals, as "%.<decimals>f": "inf", "-inf", "nan" for the specials.
int Text_FromRealFixed(char* out, size_t size, double value, int decimals);
// The shortest text that reads back to the same real ("%.17g" at worst).
int Text_FromRealShortest(char* out, size_t size, double value);
// Room for any of the above except a fixed-notation real (which may need up to 310 + decimals bytes).
constexpr size_t TEXT_NUMBER_BUFFER = 32;
constexpr size_t TEXT_REAL_FIXED_BUFFER = 320;
