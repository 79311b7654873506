// show_debug_message: one line on the release console with the value's text, whatever it holds.
#include "lib/builtins_misc.h"

#include "../world/world_harness.h"
#include "core/console.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "core/varnames.h"
#include "draw/draw.h"
#include "fake_window_platform.h"
#include "gfx/device.h"
#include "platform/hooks.h"
#include "platform/process_priority.h"
#include "services/services.h"
#include "test_support.h"
#include "world/command_line.h"
#include "world/frame_timer.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/object_base.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

class ShowDebugMessage : public testing::Test {
protected:
    void SetUp() override
    {
        saved_ = ReleaseConsole;
        ReleaseConsole = &console_;
    }
    void TearDown() override { ReleaseConsole = saved_; }

    // What one call prints for the value make builds (none: no argument), with the memory totals checked.
    std::string Print(const std::function<void(RValue*)>& make, int32_t argc = 1)
    {
        RValue value, result;
        RValue_SetUndefined(&value);
        if (make) make(&value);
        RValue_SetReal(&result, 0);
        const MemoryProbe before = MemoryManager_Probe();
        console_.text.clear();
        F_ShowDebugMessage(&result, nullptr, nullptr, argc, argc ? &value : nullptr);
        const MemoryProbe after = MemoryManager_Probe();
        EXPECT_EQ(after.liveBlocks, before.liveBlocks);
        EXPECT_EQ(after.heapBytesInUse, before.heapBytesInUse);
        EXPECT_EQ(RValue_Kind(&result), uint32_t(VALUE_REAL)) << "the result stays real 0";
        EXPECT_EQ(result.real, 0.0);
        RValue_Free(&value);
        return console_.text;
    }

    kvtest::RecordingConsole console_;
    tagIConsole* saved_ = nullptr;
};

void ShowDebugMessageTest_Array(RValue* v, int32_t rows, int32_t columns)
{
    for (int32_t r = 0; r < rows; ++r)
        for (int32_t c = 0; c < columns; ++c) {
            RValue item;
            RValue_SetReal(&item, r * 100 + c);
            RValue_SetWithIndex(v, &item, r * 32000 + c);
        }
}

TEST_F(ShowDebugMessage, PrintsTheTextOfEveryKindOnOneLine)
{
    std::string wide;
    for (int32_t c = 0; c < 120; ++c) wide += (c ? "," : "") + std::to_string(c);
    const std::string longText(5000, 'x');
    struct Row {
        const char* what;
        std::function<void(RValue*)> make;
        std::string line;
    };
    const Row rows[] = {
        {"a string", [](RValue* v) { RValue_SetString(v, "plain text"); }, "plain text\n"},
        {"conversions in a string stay text", [](RValue* v) { RValue_SetString(v, "100% %s %d %n"); },
         "100% %s %d %n\n"},
        {"an empty string", [](RValue* v) { RValue_SetString(v, ""); }, "\n"},
        {"a string longer than the text block", [&](RValue* v) { RValue_SetString(v, longText.c_str()); },
         longText + "\n"},
        {"a whole real", [](RValue* v) { RValue_SetReal(v, 3); }, "3\n"},
        {"a real with a fraction", [](RValue* v) { RValue_SetReal(v, 2.5); }, "2.50\n"},
        {"a negative real", [](RValue* v) { RValue_SetReal(v, -1.75); }, "-1.75\n"},
        {"an int64", [](RValue* v) { RValue_SetInt64(v, -9000000000); }, "-9000000000\n"},
        {"undefined", [](RValue* v) { RValue_SetUndefined(v); }, "undefined\n"},
        {"a 2-D array", [](RValue* v) { ShowDebugMessageTest_Array(v, 2, 2); }, "{ { 0,1 }, { 100,101 },  }\n"},
        {"an array whose text outgrows the first block", [](RValue* v) { ShowDebugMessageTest_Array(v, 1, 120); },
         "{ { " + wide + " },  }\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Print(row.make), row.line);
    }
    SCOPED_TRACE("no argument");
    EXPECT_EQ(Print(nullptr, 0), "undefined\n");
}

TEST_F(ShowDebugMessage, IsRegisteredByTheMiscFamily)
{
    Function_Free();
    InitMiscFunctions();
    int32_t id = -1;
    ASSERT_TRUE(Code_Function_Find("show_debug_message", &id));
    const char* name = nullptr;
    TRoutine handler = nullptr;
    int32_t argumentCount = 0;
    bool flag = true;
    ASSERT_TRUE(Function_GetInfo(id, &name, &handler, &argumentCount, &flag));
    EXPECT_EQ(handler, &F_ShowDebugMessage);
    EXPECT_EQ(argumentCount, 1);
    EXPECT_FALSE(flag);
    Function_Free();
}

}  // namespace

// ---- The rest of the family, called through the table as compiled code calls it ----

namespace {

struct MiscDefineCall {
    std::string dll, name;
    int32_t callType = 0, argCount = 0;
    std::vector<bool> isString;
    bool resultIsString = false;
};
struct MiscCall {
    int32_t index = 0, argc = 0;
    std::vector<double> args;
};
std::vector<MiscDefineCall> g_miscDefines;
std::vector<MiscCall> g_miscCalls;
std::vector<std::string> g_miscFrees;
int32_t g_miscDefineAnswer = 7;
std::vector<int32_t> g_miscNice;
int g_miscExits = 0;

int32_t MiscTest_Define(const char* dll, const char* name, int32_t callType, int32_t argCount, const bool* isString,
                        bool resultIsString)
{
    MiscDefineCall c{dll ? dll : "", name ? name : "", callType, argCount, {}, resultIsString};
    for (int32_t i = 0; i < argCount; ++i) c.isString.push_back(isString[i]);
    g_miscDefines.push_back(c);
    return g_miscDefineAnswer;
}
void MiscTest_Call(int32_t index, int32_t argc, RValue* args, RValue* result)
{
    MiscCall c{index, argc, {}};
    for (int32_t i = 0; i < argc; ++i) c.args.push_back(RValue_Kind(&args[i]) == VALUE_REAL ? args[i].real : -999);
    g_miscCalls.push_back(c);
    RValue_SetReal(result, 42);
}
void MiscTest_Free(const char* dll) { g_miscFrees.emplace_back(dll ? dll : ""); }
bool MiscTest_Nice(int32_t nice)
{
    g_miscNice.push_back(nice);
    return nice >= 0;  // raising the priority is refused, as for an ordinary user
}

class MiscBuiltins : public testing::Test {
protected:
    void SetUp() override
    {
        savedDebug_ = DebugConsole;
        savedRelease_ = ReleaseConsole;
        DebugConsole = &debug_;
        ReleaseConsole = &release_;
        savedExit_ = Platform_SetExitHook([](int) { ++g_miscExits; });
        savedHooks_ = DLL_SetSeamHooks({MiscTest_Define, MiscTest_Call, MiscTest_Free});
        savedNice_ = Platform_SetThreadNiceHook(MiscTest_Nice);
        savedForbidden_ = g_GameData.externalCallsForbidden;
        savedTimer_ = g_GameTimer;
        savedOverlay_ = Debug_OverlayFlags;
        savedLocal_ = DateUseLocalTime;
        g_miscDefines.clear();
        g_miscCalls.clear();
        g_miscFrees.clear();
        g_miscNice.clear();
        g_miscDefineAnswer = 7;
        g_miscExits = 0;
        Error_ResetState();
        Function_Free();
        g_GameData.externalCallsForbidden = false;
        InitMiscFunctions();
    }
    void TearDown() override
    {
        Function_Free();
        Error_ResetState();
        g_GameData.externalCallsForbidden = savedForbidden_;
        g_GameTimer = savedTimer_;
        Debug_OverlayFlags = savedOverlay_;
        DateUseLocalTime = savedLocal_;
        Platform_SetThreadNiceHook(savedNice_);
        DLL_SetSeamHooks(savedHooks_);
        Platform_SetExitHook(savedExit_);
        DebugConsole = savedDebug_;
        ReleaseConsole = savedRelease_;
    }

    static int32_t Index(const char* name)
    {
        for (int32_t i = 0; i < Function_Count(); ++i)
            if (std::strcmp(Function_Entry(i)->name, name) == 0) return i;
        ADD_FAILURE() << name << " is not registered";
        return -1;
    }

    // One call with the given arguments (freed here); the caller frees the result.
    RValue Call(const char* name, std::vector<RValue> args, CInstance* self = nullptr)
    {
        std::vector<RValue*> pointers;
        for (RValue& a : args) pointers.push_back(&a);
        RValue result;
        RValue_SetUndefined(&result);
        const int32_t index = Index(name);
        if (index >= 0)
            CallBuiltin(self, self, &result, int32_t(args.size()), index, pointers.empty() ? nullptr : pointers.data());
        for (RValue& a : args) RValue_Free(&a);
        kvtest::ForgetErrorAbort();
        return result;
    }
    double Real(const char* name, std::vector<RValue> args, CInstance* self = nullptr)
    {
        RValue r = Call(name, std::move(args), self);
        EXPECT_EQ(RValue_Kind(&r), uint32_t(VALUE_REAL)) << name;
        const double d = r.real;
        RValue_Free(&r);
        return d;
    }
    // The messages reported since the last call.
    std::string Reports()
    {
        std::string text = kvtest::ReportedMessages(release_.text);
        release_.text.clear();
        return text;
    }

    kvtest::RecordingConsole debug_, release_;
    tagIConsole* savedDebug_ = nullptr;
    tagIConsole* savedRelease_ = nullptr;
    ExitHook savedExit_ = nullptr;
    DLLSeamHooks savedHooks_{};
    ThreadNiceHook savedNice_ = nullptr;
    bool savedForbidden_ = false;
    FrameTimer savedTimer_{};
    int32_t savedOverlay_ = 0;
    bool savedLocal_ = true;
};

RValue MiscR(double d)
{
    RValue v;
    RValue_SetReal(&v, d);
    return v;
}
RValue MiscS(const char* text)
{
    RValue v;
    RValue_SetUndefined(&v);
    RValue_SetString(&v, text);
    return v;
}
std::vector<RValue> MiscReals(std::initializer_list<double> values)
{
    std::vector<RValue> out;
    for (double d : values) out.push_back(MiscR(d));
    return out;
}
std::string MiscReportLine(const char* message) { return std::string("ERROR!!! :: ") + message + "\n"; }

struct MiscEntry {
    const char* name;
    int32_t count;
    bool flag;
};

const MiscEntry kMiscTable[] = {
    {"event_inherited", 0, false}, {"event_perform", 2, false}, {"event_user", 1, false},
    {"event_perform_object", 3, false}, {"external_define", -1, true}, {"external_call", -1, true},
    {"external_free", 1, true}, {"external_define0", 3, true}, {"external_call0", 1, true},
    {"external_define1", 4, true}, {"external_call1", 2, true}, {"external_define2", 5, true},
    {"external_call2", 3, true}, {"external_define3", 6, true}, {"external_call3", 4, true},
    {"external_define4", 7, true}, {"external_call4", 5, true}, {"external_define5", 3, true},
    {"external_call5", 6, true}, {"external_define6", 3, true}, {"external_call6", 7, true},
    {"external_define7", 3, true}, {"external_call7", 8, true}, {"external_define8", 3, true},
    {"external_call8", 9, true}, {"window_handle", 0, false}, {"window_device", 0, false},
    {"show_debug_message", 1, false}, {"show_debug_overlay", 1, false}, {"debug_event", 1, false},
    {"set_program_priority", 1, false}, {"set_application_title", 1, false}, {"alarm_set", 2, false},
    {"alarm_get", 1, false}, {"variable_global_exists", 1, false}, {"variable_global_get", 1, false},
    {"variable_global_array_get", 2, false}, {"variable_global_array2_get", 3, false},
    {"variable_global_set", 2, false}, {"variable_global_array_set", 3, false},
    {"variable_global_array2_set", 4, false}, {"variable_local_exists", 1, false},
    {"variable_local_get", 1, false}, {"variable_local_array_get", 2, false},
    {"variable_local_array2_get", 3, false}, {"variable_local_set", 2, false},
    {"variable_local_array_set", 3, false}, {"variable_local_array2_set", 4, false},
    {"clipboard_has_text", 0, false}, {"clipboard_set_text", 1, false}, {"clipboard_get_text", 0, false},
    {"date_current_datetime", 0, false}, {"date_current_date", 0, false}, {"date_current_time", 0, false},
    {"date_create_datetime", 6, false}, {"date_create_date", 3, false}, {"date_create_time", 3, false},
    {"date_valid_datetime", 6, false}, {"date_valid_date", 3, false}, {"date_valid_time", 3, false},
    {"date_inc_year", 2, false}, {"date_inc_month", 2, false}, {"date_inc_week", 2, false},
    {"date_inc_day", 2, false}, {"date_inc_hour", 2, false}, {"date_inc_minute", 2, false},
    {"date_inc_second", 2, false}, {"date_get_year", 1, false}, {"date_get_month", 1, false},
    {"date_get_week", 1, false}, {"date_get_day", 1, false}, {"date_get_hour", 1, false},
    {"date_get_minute", 1, false}, {"date_get_second", 1, false}, {"date_get_weekday", 1, false},
    {"date_get_day_of_year", 1, false}, {"date_get_hour_of_year", 1, false},
    {"date_get_minute_of_year", 1, false}, {"date_get_second_of_year", 1, false},
    {"date_year_span", 2, false}, {"date_month_span", 2, false}, {"date_week_span", 2, false},
    {"date_day_span", 2, false}, {"date_hour_span", 2, false}, {"date_minute_span", 2, false},
    {"date_second_span", 2, false}, {"date_compare_datetime", 2, false}, {"date_compare_date", 2, false},
    {"date_compare_time", 2, false}, {"date_date_of", 1, false}, {"date_time_of", 1, false},
    {"date_datetime_string", 1, false}, {"date_date_string", 1, false}, {"date_time_string", 1, false},
    {"date_days_in_month", 1, false}, {"date_days_in_year", 1, false}, {"date_leap_year", 1, false},
    {"date_is_today", 1, false}, {"date_set_timezone", 1, false}, {"date_get_timezone", 0, false},
    {"game_set_speed", 2, true}, {"game_get_speed", 2, true},
};

TEST_F(MiscBuiltins, RegistersItsNamesInOrderWithCountsAndFlagsAndExternalsOnlyWhereAllowed)
{
    for (bool forbidden : {false, true}) {
        SCOPED_TRACE(forbidden ? "external calls forbidden" : "external calls allowed");
        Function_Free();
        g_GameData.externalCallsForbidden = forbidden;
        InitMiscFunctions();
        std::vector<MiscEntry> want;
        for (const MiscEntry& e : kMiscTable)
            if (!forbidden || std::strncmp(e.name, "external_", 9) != 0) want.push_back(e);
        ASSERT_EQ(want.size(), forbidden ? 81u : 102u);
        ASSERT_EQ(Function_Count(), int32_t(want.size()));
        for (int32_t i = 0; i < Function_Count(); ++i) {
            const char* name = nullptr;
            int32_t count = 0;
            bool flag = false;
            ASSERT_TRUE(Function_GetInfo(i, &name, nullptr, &count, &flag));
            EXPECT_STREQ(name, want[size_t(i)].name) << i;
            EXPECT_EQ(count, want[size_t(i)].count) << name;
            EXPECT_EQ(flag, want[size_t(i)].flag) << name;
        }
    }
}

TEST_F(MiscBuiltins, ExternalDefineChecksItsArgumentsBeforeDefining)
{
    auto types = [](std::vector<RValue> head, int32_t count, int32_t stringAt) {
        for (int32_t i = 0; i < count; ++i) head.push_back(MiscR(i == stringAt ? 1 : 0));
        return head;
    };
    auto fixed = [](int32_t callType, int32_t resType, int32_t count) {
        std::vector<RValue> v;
        v.push_back(MiscS("lib.so"));
        v.push_back(MiscS("fn"));
        v.push_back(MiscR(callType));
        v.push_back(MiscR(resType));
        v.push_back(MiscR(count));
        return v;
    };
    struct Case {
        const char* what;
        std::vector<RValue> args;
        int32_t answer;  // what the define seam answers
        double result;
        const char* report;  // null: none
        int32_t defined;     // argument count the seam saw, -1: not called
    };
    std::vector<RValue> six = fixed(0, 0, 0);
    six.push_back(MiscR(0));
    std::vector<RValue> four = fixed(0, 0, 0);
    RValue_Free(&four.back());
    four.pop_back();
    Case cases[] = {
        {"five fixed arguments and count 0", fixed(0, 0, 0), 7, 7, nullptr, 0},
        {"count 0 with one type more", std::move(six), 7, -1, "Wrong number of arguments to external_define()", -1},
        {"four arguments", std::move(four), 7, -1, "Wrong number of arguments to external_define()", -1},
        {"count 17", types(fixed(0, 0, 17), 17, -1), 7, -1, "DLL functions can have at most 16 arguments", -1},
        {"count 16, reals", types(fixed(0, 0, 16), 16, -1), 3, 3, nullptr, 16},
        {"count 5 with a string", types(fixed(0, 0, 5), 5, 2), 7, -1,
         "DLL functions with more than 4 arguments cannot have string arguments", -1},
        {"count 4 with a string", types(fixed(1, 1, 4), 4, 3), 9, 9, nullptr, 4},
        {"a failed define", types(fixed(0, 0, 1), 1, -1), -1, -1, "Error defining an external function.", 1},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_miscDefines.clear();
        g_miscDefineAnswer = c.answer;
        EXPECT_EQ(Real("external_define", std::move(c.args)), c.result);
        EXPECT_EQ(Reports(), c.report ? MiscReportLine(c.report) : "");
        if (c.defined < 0) {
            EXPECT_TRUE(g_miscDefines.empty());
            continue;
        }
        ASSERT_EQ(g_miscDefines.size(), 1u);
        EXPECT_EQ(g_miscDefines[0].argCount, c.defined);
        EXPECT_EQ(g_miscDefines[0].dll, "lib.so");
        EXPECT_EQ(g_miscDefines[0].name, "fn");
    }
    // The last accepted one with strings: call type, the string flag of argument 3, a string result.
    g_miscDefines.clear();
    g_miscDefineAnswer = 9;
    Real("external_define", types(fixed(1, 1, 4), 4, 3));
    ASSERT_EQ(g_miscDefines.size(), 1u);
    EXPECT_EQ(g_miscDefines[0].callType, 1);
    EXPECT_EQ(g_miscDefines[0].isString, (std::vector<bool>{false, false, false, true}));
    EXPECT_TRUE(g_miscDefines[0].resultIsString);

    // The fixed-count forms: cdecl, strings where the type is 1; five and more take reals.
    g_miscDefines.clear();
    std::vector<RValue> two;
    two.push_back(MiscS("lib.so"));
    two.push_back(MiscS("f2"));
    for (double d : {1.0, 0.0, 1.0}) two.push_back(MiscR(d));
    EXPECT_EQ(Real("external_define2", std::move(two)), 9);
    std::vector<RValue> seven;
    seven.push_back(MiscS("lib.so"));
    seven.push_back(MiscS("f7"));
    seven.push_back(MiscR(0));
    EXPECT_EQ(Real("external_define7", std::move(seven)), 9);
    ASSERT_EQ(g_miscDefines.size(), 2u);
    EXPECT_EQ(g_miscDefines[0].isString, (std::vector<bool>{true, false}));
    EXPECT_TRUE(g_miscDefines[0].resultIsString);
    EXPECT_EQ(g_miscDefines[0].callType, 0);
    EXPECT_EQ(g_miscDefines[1].isString, std::vector<bool>(7, false));
    EXPECT_FALSE(g_miscDefines[1].resultIsString);
}

TEST_F(MiscBuiltins, ExternalCallPassesTheArgumentsAfterTheIndexAndRefusesMoreThanSixteen)
{
    EXPECT_EQ(Real("external_call", MiscReals({-1, 5})), -1);
    EXPECT_TRUE(g_miscCalls.empty()) << "a negative index calls nothing";

    EXPECT_EQ(Real("external_call", MiscReals({3, 10, 20})), 42);
    ASSERT_EQ(g_miscCalls.size(), 1u);
    EXPECT_EQ(g_miscCalls[0].index, 3);
    EXPECT_EQ(g_miscCalls[0].args, (std::vector<double>{10, 20}));

    std::vector<double> sixteen;
    for (int i = 1; i <= 16; ++i) sixteen.push_back(i);
    std::vector<RValue> args = MiscReals({4});
    for (double d : sixteen) args.push_back(MiscR(d));
    EXPECT_EQ(Real("external_call", std::move(args)), 42);
    ASSERT_EQ(g_miscCalls.size(), 2u);
    EXPECT_EQ(g_miscCalls[1].args, sixteen);

    args = MiscReals({4});
    for (int i = 0; i < 17; ++i) args.push_back(MiscR(i));
    EXPECT_EQ(Real("external_call", std::move(args)), 0);
    EXPECT_EQ(Reports(), MiscReportLine("DLL functions can have at most 16 arguments"));
    EXPECT_EQ(g_miscCalls.size(), 2u) << "refused uncalled";

    EXPECT_EQ(Real("external_call3", MiscReals({6, 1, 2, 3})), 42);
    ASSERT_EQ(g_miscCalls.size(), 3u);
    EXPECT_EQ(g_miscCalls[2].index, 6);
    EXPECT_EQ(g_miscCalls[2].args, (std::vector<double>{1, 2, 3}));

    // Without anything defined the seam answers the real 0.
    DLL_SetSeamHooks({});
    EXPECT_EQ(Real("external_call", MiscReals({0, 1})), 0);
    DLL_SetSeamHooks({MiscTest_Define, MiscTest_Call, MiscTest_Free});

    std::vector<RValue> name;
    name.push_back(MiscS("lib.so"));
    EXPECT_EQ(Real("external_free", std::move(name)), 0);
    EXPECT_EQ(g_miscFrees, std::vector<std::string>{"lib.so"});
}

TEST_F(MiscBuiltins, VariablesByNameReadAndWriteGlobalsWithTheIndexLimit)
{
    QZObjectBase* savedGlobal = g_GlobalObject;
    g_GlobalObject = ObjectBase_Alloc(8, static_cast<int32_t>(VALUE_UNSET), false);
    auto named = [](const char* name, std::initializer_list<double> rest) {
        std::vector<RValue> v;
        v.push_back(MiscS(name));
        for (double d : rest) v.push_back(MiscR(d));
        return v;
    };

    EXPECT_EQ(Code_Variable_Find("kv_never_used"), -1);
    Real("variable_global_exists", named("kv_never_used", {}));
    EXPECT_GE(Code_Variable_Find("kv_never_used"), 0) << "asking gives the name an id";

    EXPECT_EQ(Real("variable_global_set", named("kv_plain", {5})), 0);
    RValue plain = Call("variable_global_get", named("kv_plain", {}));
    EXPECT_EQ(RValue_Kind(&plain), uint32_t(VALUE_REAL)) << "a plain set stays a real, not an array";
    EXPECT_EQ(plain.real, 5);
    RValue_Free(&plain);
    EXPECT_EQ(Real("variable_global_exists", named("kv_plain", {})), 1);

    Real("variable_global_array_set", named("kv_row", {31999, 8}));
    EXPECT_EQ(Reports(), "");
    EXPECT_EQ(Real("variable_global_array_get", named("kv_row", {31999})), 8) << "31999 reads";
    Real("variable_global_array2_set", named("kv_grid", {2, 3, 9}));
    EXPECT_EQ(Real("variable_global_array2_get", named("kv_grid", {2, 3})), 9);

    struct Case {
        const char* name;
        std::initializer_list<double> rest;
    };
    const Case refused[] = {
        {"variable_global_array_get", {32000}},      {"variable_global_array2_get", {0, 32000}},
        {"variable_global_array2_get", {32000, 0}},  {"variable_global_array_set", {32000, 1}},
        {"variable_global_array2_set", {1, 32000, 1}},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.name);
        RValue r = Call(c.name, named("kv_row", c.rest));
        RValue_Free(&r);
        EXPECT_EQ(Reports(), MiscReportLine("Array index >= 32000"));
    }
    EXPECT_EQ(Real("variable_global_array_get", named("kv_row", {31999})), 8) << "nothing was written";

    ObjectBase_Free(g_GlobalObject);
    g_GlobalObject = savedGlobal;
}

TEST_F(MiscBuiltins, AlarmsOutsideTheTwelveReadMinusOne)
{
    CInstance instance(0, 0, 100001, -1, false);
    Real("alarm_set", MiscReals({3, 25}), &instance);
    Real("alarm_set", MiscReals({12, 25}), &instance);
    EXPECT_EQ(Real("alarm_get", MiscReals({3}), &instance), 25);
    EXPECT_EQ(Real("alarm_get", MiscReals({12}), &instance), -1);
    EXPECT_EQ(Real("alarm_get", MiscReals({-1}), &instance), -1);
}

TEST_F(MiscBuiltins, GameSpeedInFramesOrMicroseconds)
{
    struct Case {
        double value, type;
        double fps;  // the timer's target afterwards
        const char* report;
    };
    const Case cases[] = {
        {0.5, 0, 0.5, nullptr},
        {16666, 1, 1000000.0 / 16666, nullptr},
        {60, 0, 60, nullptr},
        {0, 1, 0, nullptr},
        {30, 5, 30, nullptr},  // another type changes nothing
        {-1, 0, 30, "game_set_speed() - game time can't run backwards"},
    };
    FrameTimer_SetFPS(&g_GameTimer, 30);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        if (c.type == 5) FrameTimer_SetFPS(&g_GameTimer, 30);
        EXPECT_EQ(Real("game_set_speed", MiscReals({c.value, c.type})), 0);
        EXPECT_DOUBLE_EQ(g_GameTimer.fps, c.fps);
        const std::string reports = Reports();
        if (c.report) EXPECT_NE(reports.find(c.report), std::string::npos) << reports;
        else EXPECT_EQ(reports, "");
    }
    FrameTimer_SetFPS(&g_GameTimer, 60);
    EXPECT_EQ(Real("game_get_speed", MiscReals({0})), 60);
    EXPECT_NEAR(Real("game_get_speed", MiscReals({1})), 16666.67, 0.01) << "one argument is enough";
    FrameTimer_SetFPS(&g_GameTimer, 0);
    EXPECT_EQ(Real("game_get_speed", MiscReals({1})), 0);
}

TEST_F(MiscBuiltins, ProgramPriorityMapsLevelsToNiceValuesAndIgnoresRefusals)
{
    const std::pair<double, int32_t> levels[] = {{-3, 19}, {-2, 2}, {-1, 1}, {0, 0},  {1, -1},
                                                 {2, -10}, {3, -20}, {7, 0}, {-4, 0}, {NAN, 0}};
    for (const auto& [level, nice] : levels) {
        SCOPED_TRACE(level);
        g_miscNice.clear();
        EXPECT_EQ(Real("set_program_priority", MiscReals({level})), 0) << "a refused change still gives 0";
        EXPECT_EQ(g_miscNice, std::vector<int32_t>{nice});
    }
}

TEST_F(MiscBuiltins, DebugOverlayAndMemoryEvents)
{
    Debug_OverlayFlags = 0x10;
    Real("show_debug_overlay", MiscReals({1}));
    EXPECT_EQ(Debug_OverlayFlags, 0x12);
    Real("show_debug_overlay", MiscReals({0}));
    EXPECT_EQ(Debug_OverlayFlags, 0x10);

    const std::pair<const char*, bool> events[] = {
        {"DumpMemory", true}, {"DumpMeNow", true}, {"Dump", false}, {"dumpmemory", false}, {"", false}};
    for (const auto& [text, dumps] : events) {
        SCOPED_TRACE(text);
        debug_.text.clear();
        std::vector<RValue> args;
        args.push_back(MiscS(text));
        EXPECT_EQ(Real("debug_event", std::move(args)), 0);
        EXPECT_EQ(debug_.text.find("Total memory used = ") != std::string::npos, dumps) << debug_.text;
    }
}

TEST_F(MiscBuiltins, ShowDebugMessageReachesTheOutputFile)
{
    const std::string path = kvtest::ScratchDir() + "/misc_output.txt";
    std::remove(path.c_str());
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    char* savedFile = g_RunFlags.outputFile;
    const bool savedHeadless = g_RunFlags.headless;
    g_RunFlags.outputFile = name.data();
    g_RunFlags.headless = true;
    TConsole file(false);
    ReleaseConsole = &file;
    std::vector<RValue> args;
    args.push_back(MiscS("to the file"));
    RValue r = Call("show_debug_message", std::move(args));
    RValue_Free(&r);
    ReleaseConsole = &release_;
    g_RunFlags.outputFile = savedFile;
    g_RunFlags.headless = savedHeadless;
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("to the file\n"), std::string::npos) << text;
}

TEST_F(MiscBuiltins, WindowClipboardAndHandlesWithoutADesktop)
{
    kvtest::FakeWindowPlatform fake;
    WindowPlatform_Set(&fake);
    std::vector<RValue> title;
    title.push_back(MiscS("T\xC3\xAEtle"));
    Real("set_application_title", std::move(title));
    EXPECT_EQ(fake.title, "T\xC3\xAEtle");
    RValue handle = Call("window_handle", {});
    EXPECT_EQ(RValue_Kind(&handle), uint32_t(VALUE_PTR));
    EXPECT_EQ(handle.ptr, nullptr) << "no X11 window behind a stand-in";
    WindowPlatform_Set(nullptr);
    RValue device = Call("window_device", {});
    EXPECT_EQ(RValue_Kind(&device), uint32_t(VALUE_PTR));
    if (!GR_Device) EXPECT_EQ(device.ptr, nullptr);
    else EXPECT_LT(reinterpret_cast<uintptr_t>(device.ptr), 4096u) << "a token, never the address";

    // Without video the clipboard is empty and takes nothing.
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
        std::vector<RValue> text;
        text.push_back(MiscS("kept?"));
        Real("clipboard_set_text", std::move(text));
        EXPECT_EQ(Real("clipboard_has_text", {}), 0);
        RValue got = Call("clipboard_get_text", {});
        ASSERT_EQ(RValue_Kind(&got), uint32_t(VALUE_STRING));
        EXPECT_STREQ(got.str->text, "");
        RValue_Free(&got);
    }
}

// Every built-in of the family called with fewer arguments than it registers reads the missing ones as
// undefined: type errors at most, never a read past the block (ASan).
TEST_F(MiscBuiltins, MissingArgumentsReadAsUndefined)
{
    kvtest::FakeWindowPlatform fake;
    WindowPlatform_Set(&fake);
    CInstance instance(0, 0, 100001, -1, false);
    for (int32_t i = 0; i < Function_Count(); ++i) {
        const BuiltinFunction* entry = Function_Entry(i);
        SCOPED_TRACE(entry->name);
        if (std::strncmp(entry->name, "event_", 6) == 0) continue;  // needs a world; its own test
        const int32_t most = entry->argumentCount < 0 ? 6 : entry->argumentCount;
        for (int32_t given = 0; given < most; ++given) {
            std::vector<RValue> args;
            for (int32_t k = 0; k < given; ++k) args.push_back(MiscR(1));
            RValue r = Call(entry->name, std::move(args), &instance);
            RValue_Free(&r);
        }
    }
    WindowPlatform_Set(nullptr);
    Reports();
}

// event_user and event_inherited inside real handlers (native code of a harness game).
class MiscBuiltinsEvents : public worldtest::WorldHarness {
protected:
    static void CallByName(const char* name, CInstance* self, std::vector<RValue> args)
    {
        int32_t index = -1;
        for (int32_t i = 0; i < Function_Count() && index < 0; ++i)
            if (std::strcmp(Function_Entry(i)->name, name) == 0) index = i;
        ASSERT_GE(index, 0) << name;
        std::vector<RValue*> pointers;
        for (RValue& a : args) pointers.push_back(&a);
        RValue result;
        RValue_SetUndefined(&result);
        CallBuiltin(self, self, &result, int32_t(args.size()), index, pointers.empty() ? nullptr : pointers.data());
        RValue_Free(&result);
        for (RValue& a : args) RValue_Free(&a);
    }
};

TEST_F(MiscBuiltinsEvents, UserEventsAreOtherEventsFromTenAndInheritedNeedsAParent)
{
    using worldtest::Op;
    worldtest::GameDef game;
    game.objects = {
        {"obj_parent", -100, false, 0, {{3, 0, {{Op::Record, 1}}}}},
        {"obj_child", 0, false, 0, {{3, 0, {{Op::Record, 2}, {Op::Probe, 0}}}, {7, 13, {{Op::Record, 3}}}}},
        {"obj_orphan", -100, false, 0, {{3, 0, {{Op::Record, 4}, {Op::Probe, 0}}}}},
    };
    ASSERT_TRUE(Load(game, worldtest::Mode::Native));
    worldtest::g_probe = [](int32_t, CInstance* self) { CallByName("event_inherited", self, {}); };
    CInstance* child = Make(1);
    CInstance* orphan = Make(2);

    std::vector<RValue> three(1);
    RValue_SetReal(&three[0], 3);
    CallByName("event_user", child, std::move(three));
    ASSERT_EQ(worldtest::g_runs.size(), 1u);
    EXPECT_EQ(worldtest::g_runs[0].tag, 3);
    EXPECT_EQ(worldtest::g_runs[0].type, 7);
    EXPECT_EQ(worldtest::g_runs[0].number, 13);

    worldtest::g_runs.clear();
    Perform_Event(child, child, 3, 0);
    ASSERT_EQ(worldtest::g_runs.size(), 2u);
    EXPECT_EQ(worldtest::g_runs[1].tag, 1) << "the parent's step handler ran through event_inherited";
    EXPECT_EQ(worldtest::g_runs[1].object, 0);

    worldtest::g_runs.clear();
    Perform_Event(orphan, orphan, 3, 0);
    ASSERT_EQ(worldtest::g_runs.size(), 1u) << "no parent: nothing more runs";
    EXPECT_EQ(worldtest::g_runs[0].tag, 4);
}

}  // namespace
