// Date and time built-ins: a date is a real counting days since 30 December 1899 00:00 UTC.
#include "lib/lib.h"

#include "core/arguments.h"
#include "core/convert.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/value.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <locale.h>

bool DateUseLocalTime = true;

namespace {

constexpr double kDateEpoch = 25569.0;  // 1 January 1970
constexpr double kDaySeconds = 86400.0;
const char* const kDateBuildError = "invalid date conversion - dates earlier than 1 Jan 1970 will be incorrect";
const int32_t kDateMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

double Date_FromTime(int64_t t) { return (double(t) + 0.5) / kDaySeconds + kDateEpoch; }

// The library time of a date; false outside the range (NaN and infinities too).
bool Date_ToTime(double date, int64_t* t)
{
    if (std::fabs(date - kDateEpoch) < 0.0001) {
        *t = 0;
        return true;
    }
    const double seconds = (date - kDateEpoch) * kDaySeconds;
    // Truncation toward zero keeps (-1, 0) at 0; the comparisons are false for NaN.
    if (!(seconds > -1.0 && seconds < double(DATE_TIME_MAX) + 1.0)) return false;
    *t = int64_t(seconds);
    return *t >= 0 && *t <= DATE_TIME_MAX;
}

bool Date_BreakDown(int64_t t, bool local, struct tm* out)
{
    if (t < 0 || t > DATE_TIME_MAX) return false;
    const time_t tt = time_t(t);
    std::memset(out, 0, sizeof(*out));
    if (local) {
        tzset();  // localtime_r need not look at TZ again by itself
        return localtime_r(&tt, out) != nullptr;
    }
    return gmtime_r(&tt, out) != nullptr;
}

// Breaks the date down per the time-zone setting.
bool Date_Fields(double date, struct tm* out)
{
    int64_t t = 0;
    return Date_ToTime(date, &t) && Date_BreakDown(t, DateUseLocalTime, out);
}

// Builds a time from fields given in 64 bits; false when a field does not fit or the time lies outside
// the range.
bool Date_Build(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second, bool local,
                int64_t* t)
{
    const int64_t fields[6] = {year - 1900, month - 1, day, hour, minute, second};
    for (int64_t f : fields)
        if (f < INT32_MIN || f > INT32_MAX) return false;
    struct tm parts;
    std::memset(&parts, 0, sizeof(parts));
    parts.tm_year = int(fields[0]);
    parts.tm_mon = int(fields[1]);
    parts.tm_mday = int(fields[2]);
    parts.tm_hour = int(fields[3]);
    parts.tm_min = int(fields[4]);
    parts.tm_sec = int(fields[5]);
    parts.tm_isdst = -1;
    const time_t built = local ? mktime(&parts) : timegm(&parts);
    if (built == time_t(-1) || built < 0 || int64_t(built) > DATE_TIME_MAX) return false;
    *t = int64_t(built);
    return true;
}

// date_create_*: a time that cannot be built ends the game; where the report returns, t is -1.
double Date_Create(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, int64_t second)
{
    int64_t t = 0;
    if (!Date_Build(year, month, day, hour, minute, second, DateUseLocalTime, &t)) {
        RuntimeError("%s", kDateBuildError);
        t = -1;
    }
    return Date_FromTime(t);
}

int32_t Date_MonthLength(int32_t year, int32_t month)
{
    if (month < 1 || month > 12) return 0;
    return month == 2 && Date_IsLeapYear(year) ? 29 : kDateMonthDays[month - 1];
}

double Date_Arg(RValue* args, int32_t index) { return QZGR(args, index); }
int32_t Date_IntArg(RValue* args, int32_t index) { return QZGI32(args, index); }

void F_DateCurrentDatetime(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    RValue_SetReal(result, Date_FromTime(int64_t(time(nullptr))));
}

void F_DateCreateDatetime(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    int64_t year = Date_IntArg(args, 0);
    if (year < 1900) year = 1900;
    RValue_SetReal(result, Date_Create(year, Date_IntArg(args, 1), Date_IntArg(args, 2), Date_IntArg(args, 3),
                                       Date_IntArg(args, 4), Date_IntArg(args, 5)));
}

void F_DateCreateDate(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, Date_Create(Date_IntArg(args, 0), Date_IntArg(args, 1), Date_IntArg(args, 2), 0, 0, 0));
}

// A time of day alone: no calendar is involved, so nothing can fail.
void F_DateCreateTime(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const double hour = Date_IntArg(args, 0), minute = Date_IntArg(args, 1), second = Date_IntArg(args, 2);
    RValue_SetReal(result, hour / 24.0 + minute / 1440.0 + second / 86400.0);
}

bool Date_ValidTime(int32_t hour, int32_t minute, int32_t second)
{
    return uint32_t(hour) <= 23 && uint32_t(minute) <= 59 && uint32_t(second) <= 59;
}

void F_DateValidDatetime(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    const bool ok = Date_IsValidDate(Date_IntArg(args, 2), Date_IntArg(args, 1), Date_IntArg(args, 0)) &&
                    Date_ValidTime(Date_IntArg(args, 3), Date_IntArg(args, 4), Date_IntArg(args, 5));
    RValue_SetReal(result, ok ? 1.0 : 0.0);
}

void F_DateValidDate(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result,
                   Date_IsValidDate(Date_IntArg(args, 2), Date_IntArg(args, 1), Date_IntArg(args, 0)) ? 1.0 : 0.0);
}

void F_DateValidTime(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, Date_ValidTime(Date_IntArg(args, 0), Date_IntArg(args, 1), Date_IntArg(args, 2)) ? 1.0 : 0.0);
}

enum DateField { kDateYear, kDateMonth, kDateWeek, kDateDay, kDateHour, kDateMinute, kDateSecond };

// Increments work on UTC fields whatever the setting; -1 when the date or the result is outside the range.
double Date_Increment(double date, int32_t amount, DateField field)
{
    int64_t t = 0;
    struct tm parts;
    if (!Date_ToTime(date, &t) || !Date_BreakDown(t, false, &parts)) return -1.0;
    int64_t f[6] = {int64_t(parts.tm_year) + 1900, int64_t(parts.tm_mon) + 1, parts.tm_mday,
                    parts.tm_hour,                 parts.tm_min,               parts.tm_sec};
    switch (field) {
    case kDateYear: f[0] += amount; break;
    case kDateMonth: f[1] += amount; break;
    case kDateWeek: f[2] += int64_t(amount) * 7; break;
    case kDateDay: f[2] += amount; break;
    case kDateHour: f[3] += amount; break;
    case kDateMinute: f[4] += amount; break;
    case kDateSecond: f[5] += amount; break;
    }
    int64_t built = 0;
    if (!Date_Build(f[0], f[1], f[2], f[3], f[4], f[5], false, &built)) return -1.0;
    return Date_FromTime(built);
}

template <DateField F>
void F_DateInc(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, Date_Increment(Date_Arg(args, 0), Date_IntArg(args, 1), F));
}

enum DateReader {
    kGetYear, kGetMonth, kGetWeek, kGetDay, kGetHour, kGetMinute, kGetSecond, kGetWeekday,
    kGetDayOfYear, kGetHourOfYear, kGetMinuteOfYear, kGetSecondOfYear,
    kDaysInMonth, kDaysInYear, kLeapYear,
};

double Date_Read(double date, DateReader reader)
{
    struct tm p;
    if (!Date_Fields(date, &p)) {
        if (reader <= kGetWeekday) return -1.0;
        return reader == kDaysInYear ? 365.0 : 0.0;
    }
    const int32_t year = p.tm_year + 1900, month = p.tm_mon + 1;
    switch (reader) {
    case kGetYear: return year;
    case kGetMonth: return month;
    case kGetWeek: return p.tm_yday / 7;
    case kGetDay: return p.tm_mday;
    case kGetHour: return p.tm_hour;
    case kGetMinute: return p.tm_min;
    case kGetSecond: return p.tm_sec;
    case kGetWeekday: return p.tm_wday;
    case kGetDayOfYear: return Date_SecondsOfYear(year, month, p.tm_mday + 1, p.tm_hour, p.tm_min, p.tm_sec) / 86400;
    case kGetHourOfYear: return Date_SecondsOfYear(year, month, p.tm_mday, p.tm_hour, p.tm_min, p.tm_sec) / 3600;
    case kGetMinuteOfYear: return Date_SecondsOfYear(year, month, p.tm_mday, p.tm_hour, p.tm_min, p.tm_sec) / 60;
    case kGetSecondOfYear: return Date_SecondsOfYear(year, month, p.tm_mday, p.tm_hour, p.tm_min, p.tm_sec);
    case kDaysInMonth: return Date_MonthLength(year, month);
    case kDaysInYear: return Date_IsLeapYear(year) ? 366 : 365;
    case kLeapYear: return Date_IsLeapYear(year) ? 1 : 0;
    }
    return 0.0;
}

template <DateReader R>
void F_DateGet(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, Date_Read(Date_Arg(args, 0), R));
}

template <int Span>
void F_DateSpan(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    static constexpr double kFactors[7] = {0.0027378507871321013, 0.03285420944558522, 0.14285714285714285, 1.0,
                                           24.0, 1440.0, 86400.0};
    const double span = std::fabs(Date_Arg(args, 0) - Date_Arg(args, 1));
    RValue_SetReal(result, Span == 3 ? span : span * kFactors[Span]);
}

double Date_Compare(double a, double b) { return a == b ? 0.0 : (a > b ? 1.0 : -1.0); }

void F_DateCompareDatetime(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, Date_Compare(Date_Arg(args, 0), Date_Arg(args, 1)));
}

void F_DateCompareDate(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, Date_Compare(Real_ToInt32(Date_Arg(args, 0)), Real_ToInt32(Date_Arg(args, 1))));
}

double Date_Fraction(double date)
{
    double whole = 0.0;
    return std::modf(date, &whole);
}

void F_DateCompareTime(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, Date_Compare(Date_Fraction(Date_Arg(args, 0)), Date_Fraction(Date_Arg(args, 1))));
}

void F_DateDateOf(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, Real_ToInt32(Date_Arg(args, 0)));
}

void F_DateTimeOf(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, Date_Fraction(Date_Arg(args, 0)));
}

// The user's time locale, made once; C.UTF-8 when the user's cannot be made. The process locale is never
// switched: other threads read it.
locale_t Date_TimeLocale()
{
    static locale_t made = [] {
        locale_t l = newlocale(LC_TIME_MASK, "", locale_t(0));
        if (!l) l = newlocale(LC_TIME_MASK, "C.UTF-8", locale_t(0));
        if (!l) l = newlocale(LC_TIME_MASK, "C", locale_t(0));
        return l;
    }();
    return made;
}

template <char Conversion>
void F_DateText(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    static constexpr char kFormat[3] = {'%', Conversion, '\0'};
    struct tm p;
    char text[1024];
    text[0] = '\0';
    if (!Date_Fields(Date_Arg(args, 0), &p)) {
        RValue_SetString(result, "invalid time");
        return;
    }
    const locale_t l = Date_TimeLocale();
    const size_t n = l ? strftime_l(text, sizeof(text), kFormat, &p, l) : strftime(text, sizeof(text), kFormat, &p);
    text[n < sizeof(text) ? n : 0] = '\0';
    RValue_SetString(result, text);
}

void F_DateIsToday(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    struct tm p, now;
    const bool same = Date_Fields(Date_Arg(args, 0), &p) &&
                      Date_BreakDown(int64_t(time(nullptr)), DateUseLocalTime, &now) && p.tm_year == now.tm_year &&
                      p.tm_mon == now.tm_mon && p.tm_yday == now.tm_yday;
    RValue_SetReal(result, same ? 1.0 : 0.0);
}

void F_DateSetTimezone(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    DateUseLocalTime = Date_IntArg(args, 0) == 0;
    RValue_SetReal(result, 0.0);
}

void F_DateGetTimezone(RValue* result, CInstance*, CInstance*, int32_t, RValue*)
{
    RValue_SetReal(result, DateUseLocalTime ? 0.0 : 1.0);
}

}  // namespace

bool Date_IsLeapYear(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool Date_IsValidDate(int32_t day, int32_t month, int32_t year)
{
    if (year < 1970) return false;
    const int32_t length = Date_MonthLength(year, month);
    return day >= 1 && day <= length;
}

int32_t Date_SecondsOfYear(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, int32_t second)
{
    int32_t before = 0;
    for (int32_t m = 1; m < month && m <= 12; ++m) before += Date_MonthLength(year, m);
    return second + 60 * (minute + 60 * (hour + 24 * (before + day) - 24));
}

struct tm* Date_Now()
{
    static struct tm now;
    if (!Date_BreakDown(int64_t(time(nullptr)), DateUseLocalTime, &now)) std::memset(&now, 0, sizeof(now));
    return &now;
}

void Date_RegisterFunctions()
{
    Function_Add("date_current_datetime", F_DateCurrentDatetime, 0, false);
    Function_Add("date_current_date", F_DateCurrentDatetime, 0, false);
    Function_Add("date_current_time", F_DateCurrentDatetime, 0, false);
    Function_Add("date_create_datetime", F_DateCreateDatetime, 6, false);
    Function_Add("date_create_date", F_DateCreateDate, 3, false);
    Function_Add("date_create_time", F_DateCreateTime, 3, false);
    Function_Add("date_valid_datetime", F_DateValidDatetime, 6, false);
    Function_Add("date_valid_date", F_DateValidDate, 3, false);
    Function_Add("date_valid_time", F_DateValidTime, 3, false);
    Function_Add("date_inc_year", F_DateInc<kDateYear>, 2, false);
    Function_Add("date_inc_month", F_DateInc<kDateMonth>, 2, false);
    Function_Add("date_inc_week", F_DateInc<kDateWeek>, 2, false);
    Function_Add("date_inc_day", F_DateInc<kDateDay>, 2, false);
    Function_Add("date_inc_hour", F_DateInc<kDateHour>, 2, false);
    Function_Add("date_inc_minute", F_DateInc<kDateMinute>, 2, false);
    Function_Add("date_inc_second", F_DateInc<kDateSecond>, 2, false);
    Function_Add("date_get_year", F_DateGet<kGetYear>, 1, false);
    Function_Add("date_get_month", F_DateGet<kGetMonth>, 1, false);
    Function_Add("date_get_week", F_DateGet<kGetWeek>, 1, false);
    Function_Add("date_get_day", F_DateGet<kGetDay>, 1, false);
    Function_Add("date_get_hour", F_DateGet<kGetHour>, 1, false);
    Function_Add("date_get_minute", F_DateGet<kGetMinute>, 1, false);
    Function_Add("date_get_second", F_DateGet<kGetSecond>, 1, false);
    Function_Add("date_get_weekday", F_DateGet<kGetWeekday>, 1, false);
    Function_Add("date_get_day_of_year", F_DateGet<kGetDayOfYear>, 1, false);
    Function_Add("date_get_hour_of_year", F_DateGet<kGetHourOfYear>, 1, false);
    Function_Add("date_get_minute_of_year", F_DateGet<kGetMinuteOfYear>, 1, false);
    Function_Add("date_get_second_of_year", F_DateGet<kGetSecondOfYear>, 1, false);
    Function_Add("date_year_span", F_DateSpan<0>, 2, false);
    Function_Add("date_month_span", F_DateSpan<1>, 2, false);
    Function_Add("date_week_span", F_DateSpan<2>, 2, false);
    Function_Add("date_day_span", F_DateSpan<3>, 2, false);
    Function_Add("date_hour_span", F_DateSpan<4>, 2, false);
    Function_Add("date_minute_span", F_DateSpan<5>, 2, false);
    Function_Add("date_second_span", F_DateSpan<6>, 2, false);
    Function_Add("date_compare_datetime", F_DateCompareDatetime, 2, false);
    Function_Add("date_compare_date", F_DateCompareDate, 2, false);
    Function_Add("date_compare_time", F_DateCompareTime, 2, false);
    Function_Add("date_date_of", F_DateDateOf, 1, false);
    Function_Add("date_time_of", F_DateTimeOf, 1, false);
    Function_Add("date_datetime_string", F_DateText<'c'>, 1, false);
    Function_Add("date_date_string", F_DateText<'x'>, 1, false);
    Function_Add("date_time_string", F_DateText<'X'>, 1, false);
    Function_Add("date_days_in_month", F_DateGet<kDaysInMonth>, 1, false);
    Function_Add("date_days_in_year", F_DateGet<kDaysInYear>, 1, false);
    Function_Add("date_leap_year", F_DateGet<kLeapYear>, 1, false);
    Function_Add("date_is_today", F_DateIsToday, 1, false);
    Function_Add("date_set_timezone", F_DateSetTimezone, 1, false);
    Function_Add("date_get_timezone", F_DateGetTimezone, 0, false);
}
