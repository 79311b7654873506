// Date built-ins: the calendar edge cases, the range every conversion keeps to (1970 to 3000), what each
// family gives outside it, and the time-zone setting.
#include "lib/lib.h"

#include "core/console.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/value.h"
#include "core/vm.h"
#include "platform/hooks.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double kDateNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDateInf = std::numeric_limits<double>::infinity();
constexpr int64_t kDateLast = 32535215999;  // 31 December 3000 23:59:59 UTC
const char* const kDateBuildFailure = "invalid date conversion - dates earlier than 1 Jan 1970 will be incorrect";

double DateOf(int64_t t) { return (double(t) + 0.5) / 86400 + 25569; }

int g_dateExits = 0;

class DateBuiltins : public testing::Test {
protected:
    void SetUp() override
    {
        savedDebug_ = DebugConsole;
        savedRelease_ = ReleaseConsole;
        DebugConsole = &console_;
        ReleaseConsole = &console_;
        savedExit_ = Platform_SetExitHook([](int) { ++g_dateExits; });
        savedLocal_ = DateUseLocalTime;
        g_dateExits = 0;
        Error_ResetState();
        Function_Free();
        Date_RegisterFunctions();
        DateUseLocalTime = false;
    }
    void TearDown() override
    {
        Function_Free();
        Error_ResetState();
        DateUseLocalTime = savedLocal_;
        Platform_SetExitHook(savedExit_);
        DebugConsole = savedDebug_;
        ReleaseConsole = savedRelease_;
    }

    RValue Call(const char* name, std::vector<double> args)
    {
        int32_t index = -1;
        for (int32_t i = 0; i < Function_Count() && index < 0; ++i)
            if (std::strcmp(Function_Entry(i)->name, name) == 0) index = i;
        RValue result;
        RValue_SetUndefined(&result);
        EXPECT_GE(index, 0) << name;
        if (index < 0) return result;
        std::vector<RValue> values(args.size());
        std::vector<RValue*> pointers;
        for (size_t i = 0; i < args.size(); ++i) {
            RValue_SetReal(&values[i], args[i]);
            pointers.push_back(&values[i]);
        }
        CallBuiltin(nullptr, nullptr, &result, int32_t(args.size()), index, pointers.empty() ? nullptr : pointers.data());
        kvtest::ForgetErrorAbort();
        return result;
    }
    double Real(const char* name, std::vector<double> args)
    {
        RValue r = Call(name, std::move(args));
        EXPECT_EQ(RValue_Kind(&r), uint32_t(VALUE_REAL)) << name;
        const double d = r.real;
        RValue_Free(&r);
        return d;
    }
    std::string Text(const char* name, double date)
    {
        RValue r = Call(name, {date});
        EXPECT_EQ(RValue_Kind(&r), uint32_t(VALUE_STRING)) << name;
        std::string text = RValue_Kind(&r) == VALUE_STRING && r.str ? r.str->text : "";
        RValue_Free(&r);
        return text;
    }
    std::string Reports()
    {
        std::string text = kvtest::ReportedMessages(console_.text);
        console_.text.clear();
        return text;
    }

    kvtest::RecordingConsole console_;
    tagIConsole* savedDebug_ = nullptr;
    tagIConsole* savedRelease_ = nullptr;
    ExitHook savedExit_ = nullptr;
    bool savedLocal_ = true;

    void ZoneCheck();
};

TEST_F(DateBuiltins, CalendarEdgeCases)
{
    const double epoch = Real("date_create_date", {1970, 1, 1});
    EXPECT_EQ(epoch, 25569 + 0.5 / 86400);
    const double jan31 = Real("date_create_datetime", {2017, 1, 31, 12, 0, 0});
    const double feb28 = Real("date_create_date", {2016, 2, 28});
    const double nine = Real("date_create_datetime", {2020, 5, 5, 9, 0, 0});
    const double six = Real("date_create_datetime", {2020, 5, 5, 18, 0, 0});
    struct Case {
        const char* name;
        std::vector<double> args;
        double want;
    };
    const Case cases[] = {
        {"date_get_year", {epoch}, 1970},
        {"date_get_day_of_year", {epoch}, 1},
        {"date_get_week", {epoch}, 0},
        {"date_get_weekday", {epoch}, 4},  // a Thursday
        {"date_inc_month", {jan31, 1}, Real("date_create_datetime", {2017, 3, 3, 12, 0, 0})},
        {"date_inc_day", {feb28, 1}, Real("date_create_date", {2016, 2, 29})},
        {"date_inc_week", {feb28, 1}, Real("date_create_date", {2016, 3, 6})},
        {"date_day_span", {nine, six}, six - nine},
        {"date_day_span", {six, nine}, six - nine},
        {"date_year_span", {epoch, epoch + 365.25}, 1},
        {"date_compare_date", {nine, six}, 0},
        {"date_compare_time", {nine, six}, -1},
        {"date_compare_datetime", {six, nine}, 1},
        {"date_valid_date", {2016, 2, 29}, 1},
        {"date_valid_date", {2017, 2, 29}, 0},
        {"date_valid_date", {1969, 12, 31}, 0},
        {"date_valid_date", {2016, 13, 1}, 0},
        {"date_valid_date", {2016, 1, 0}, 0},
        {"date_valid_time", {-1, 0, 0}, 0},
        {"date_valid_time", {23, 59, 59}, 1},
        {"date_valid_datetime", {2016, 2, 29, 23, 59, 59}, 1},
        {"date_valid_datetime", {2016, 2, 29, 24, 0, 0}, 0},
        {"date_get_week", {Real("date_create_date", {2015, 12, 31})}, 52},
        {"date_get_week", {Real("date_create_date", {2016, 12, 31})}, 52},
        {"date_days_in_month", {Real("date_create_date", {2016, 2, 10})}, 29},
        {"date_days_in_month", {Real("date_create_date", {2100, 2, 10})}, 28},
        {"date_days_in_year", {Real("date_create_date", {2000, 6, 1})}, 366},
        {"date_leap_year", {Real("date_create_date", {1900 + 200, 6, 1})}, 0},
        {"date_get_second_of_year", {Real("date_create_datetime", {2016, 3, 1, 0, 0, 1})}, (31 + 29) * 86400 + 1},
        // The library normalises fields out of their range.
        {"date_create_datetime", {2016, 13, 1, 0, 0, 0}, Real("date_create_date", {2017, 1, 1})},
        {"date_create_datetime", {2016, 3, 0, 0, 0, 0}, Real("date_create_date", {2016, 2, 29})},
        {"date_date_of", {six}, std::trunc(six)},
        {"date_time_of", {six}, six - std::trunc(six)},
        // A time of day alone is a fraction of a day and reports nothing.
        {"date_create_time", {6, 30, 0}, 6.0 / 24 + 30.0 / 1440},
        {"date_create_time", {25, -1, 0}, 25.0 / 24 - 1.0 / 1440},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Real(c.name, c.args), c.want);
    }
    EXPECT_EQ(Reports(), "");
    EXPECT_EQ(g_dateExits, 0);

    // Same second, same value: neither is cut to the day or the time.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const time_t before = time(nullptr);
        const double a = Real("date_current_datetime", {}), b = Real("date_current_date", {}),
                     c = Real("date_current_time", {});
        if (time(nullptr) != before) continue;
        EXPECT_EQ(a, b);
        EXPECT_EQ(a, c);
        EXPECT_EQ(a, DateOf(before));
        EXPECT_EQ(Real("date_is_today", {a}), 1);
        EXPECT_EQ(Real("date_is_today", {a - 1}), 0);
        break;
    }
}

// Dates outside 1970 ... 3000 (and NaN, infinities, huge values) break down into nothing.
TEST_F(DateBuiltins, DatesOutsideTheRangeGiveTheFailureResults)
{
    const double outside[] = {25568.5,         25569 - 0.001,   DateOf(kDateLast + 1), DateOf(-86400 * 365),
                              kDateNaN,        kDateInf,        -kDateInf,             1e300,
                              -1e300,          DateOf(int64_t(1) << 62)};
    const char* const minusOne[] = {"date_get_year",   "date_get_month",  "date_get_week",   "date_get_day",
                                    "date_get_hour",   "date_get_minute", "date_get_second", "date_get_weekday",
                                    "date_inc_year",   "date_inc_month",  "date_inc_week",   "date_inc_day",
                                    "date_inc_hour",   "date_inc_minute", "date_inc_second"};
    const char* const zero[] = {"date_get_day_of_year", "date_get_hour_of_year", "date_get_minute_of_year",
                                "date_get_second_of_year", "date_days_in_month", "date_leap_year", "date_is_today"};
    const char* const texts[] = {"date_datetime_string", "date_date_string", "date_time_string"};
    for (bool local : {false, true}) {
        DateUseLocalTime = local;
        for (double date : outside) {
            SCOPED_TRACE(testing::Message() << (local ? "local " : "utc ") << date);
            for (const char* name : minusOne) EXPECT_EQ(Real(name, {date, 1}), -1) << name;
            for (const char* name : zero) EXPECT_EQ(Real(name, {date}), 0) << name;
            EXPECT_EQ(Real("date_days_in_year", {date}), 365);
            for (const char* name : texts) EXPECT_EQ(Text(name, date), "invalid time") << name;
        }
    }
    // The ends themselves are inside; a date within 0.0001 days of the epoch counts as the epoch.
    DateUseLocalTime = false;
    EXPECT_EQ(Real("date_get_year", {DateOf(kDateLast)}), 3000);
    EXPECT_EQ(Real("date_get_second", {DateOf(kDateLast)}), 59);
    EXPECT_EQ(Real("date_get_year", {25569 - 0.00005}), 1970);
    EXPECT_EQ(Reports(), "");
}

TEST_F(DateBuiltins, IncrementsThatLeaveTheRangeOrOverflowGiveMinusOne)
{
    const double first = DateOf(0), last = DateOf(kDateLast);
    struct Case {
        const char* name;
        double date, amount;
    };
    const Case cases[] = {
        {"date_inc_second", last, 1},           {"date_inc_second", first, -1},
        {"date_inc_year", first, 2147483647},   {"date_inc_year", last, -2147483648.0},
        {"date_inc_month", first, 2147483647},  {"date_inc_week", first, 2147483647},
        {"date_inc_day", first, -2147483648.0}, {"date_inc_hour", last, 2147483647},
        {"date_inc_minute", first, -2147483648.0}, {"date_inc_year", last, 1},
        {"date_inc_day", first, 1e300},         {"date_inc_day", last, -376565},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << " " << c.amount);
        EXPECT_EQ(Real(c.name, {c.date, c.amount}), -1);
    }
    // Large amounts that stay inside are exact.
    EXPECT_EQ(Real("date_inc_second", {first, 2147483647}), DateOf(2147483647));
    EXPECT_EQ(Real("date_inc_day", {last, -376564}), Real("date_create_datetime", {1970, 1, 1, 23, 59, 59}));
}

TEST_F(DateBuiltins, BuildingOutsideTheRangeIsFatalAndGivesTheTimeOfMinusOne)
{
    struct Case {
        const char* name;
        std::vector<double> args;
    };
    const Case cases[] = {
        {"date_create_date", {1969, 12, 31}},
        {"date_create_date", {3001, 1, 1}},
        {"date_create_date", {-2147483648.0, 1, 1}},
        {"date_create_date", {2147483647, 12, 31}},
        {"date_create_datetime", {1800, 6, 1, 0, 0, 0}},  // counts as 1900
        {"date_create_datetime", {3000, 12, 31, 23, 59, 60}},
        {"date_create_datetime", {2000, 1, 1, 2147483647, 2147483647, 2147483647}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_dateExits = 0;
        EXPECT_EQ(Real(c.name, c.args), 25569 - 0.5 / 86400);
        EXPECT_NE(Reports().find(kDateBuildFailure), std::string::npos);
        EXPECT_EQ(g_dateExits, 1) << "the report ends the game";
    }
    EXPECT_EQ(Real("date_create_datetime", {3000, 12, 31, 23, 59, 59}), DateOf(kDateLast));
    EXPECT_EQ(Reports(), "");
}

// The setting changes how a date is broken into fields, never the instant nor the UTC increments.
TEST_F(DateBuiltins, TheTimeZoneSettingMovesFieldsNotInstants)
{
    ZoneCheck();
    tzset();  // back to the zone the process had
}

void DateBuiltins::ZoneCheck()
{
    kvtest::ScopedEnv zone("TZ", "Europe/Berlin");
    tzset();
    DateUseLocalTime = false;
    const double summer = Real("date_create_datetime", {2021, 7, 1, 10, 30, 0});  // 12:30 in Berlin
    const double winter = Real("date_create_datetime", {2021, 1, 15, 10, 30, 0});  // 11:30 in Berlin
    const double incUtc = Real("date_inc_hour", {summer, 20});

    EXPECT_EQ(Real("date_set_timezone", {0}), 0);
    EXPECT_EQ(Real("date_get_timezone", {}), 0);
    EXPECT_EQ(Real("date_get_hour", {summer}), 12);
    EXPECT_EQ(Real("date_get_hour", {winter}), 11);
    EXPECT_EQ(Real("date_inc_hour", {summer, 20}), incUtc);
    EXPECT_EQ(Real("date_create_datetime", {2021, 7, 1, 12, 30, 0}), summer);
    EXPECT_EQ(Date_Now()->tm_gmtoff == 3600 || Date_Now()->tm_gmtoff == 7200, true);

    for (double tz : {1.0, 5.0, -1.0}) {
        Real("date_set_timezone", {tz});
        EXPECT_EQ(Real("date_get_timezone", {}), 1) << tz;
    }
    EXPECT_EQ(Real("date_get_hour", {summer}), 10);
    EXPECT_EQ(Date_Now()->tm_gmtoff, 0);
}

TEST_F(DateBuiltins, TextsLeaveTheProcessLocaleAlone)
{
    const std::string before = std::setlocale(LC_ALL, nullptr);
    const double date = DateOf(1000000000);  // 9 September 2001 01:46:40 UTC
    const std::string full = Text("date_datetime_string", date);
    const std::string day = Text("date_date_string", date);
    const std::string time = Text("date_time_string", date);
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
    // Exact texts only where the user's locale is the plain one.
    const char* names[] = {"LC_ALL", "LC_TIME", "LANG"};
    bool plain = true;
    for (const char* n : names)
        if (const char* v = std::getenv(n); v && *v && std::strcmp(v, "C") && std::strcmp(v, "C.UTF-8") && std::strcmp(v, "POSIX"))
            plain = false;
    if (plain) {
        EXPECT_EQ(full, "Sun Sep  9 01:46:40 2001");
        EXPECT_EQ(day, "09/09/01");
        EXPECT_EQ(time, "01:46:40");
    } else {
        EXPECT_FALSE(full.empty());
    }
}

}  // namespace
