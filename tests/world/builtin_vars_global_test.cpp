// The room, score and global built-in variables through the registry: room changes, room speed with and
// without the frame timer, the lives and health events, the instance list, background sizes, captions,
// the running script's arguments, input, the clock and the calendar, the last error, the folders; and,
// through the interpreter, built-in pushes and the reports of failed reads and writes.
#include "world_harness.h"

#include "core/interpreter.h"
#include "core/text.h"
#include "core/timing.h"
#include "draw/draw.h"
#include "input/input.h"
#include "services/services.h"
#include "world/builtin_variables.h"
#include "world/command_line.h"
#include "world/frame_timer.h"
#include "world/loader.h"
#include "world/mainloop.h"
#include "world/paths.h"
#include "world/runner.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using worldtest::GameDef;
using worldtest::InstanceDef;
using worldtest::Mode;
using worldtest::ObjectDef;
using worldtest::Op;
using worldtest::RoomDef;

// "2.5", "i:1", "s:text", "s:<none>" (a string without text), "u", "null", "[a,b]" (row 0 of an array).
std::string BvGlob_Describe(const RValue* v)
{
    switch (RValue_Kind(v)) {
    case VALUE_REAL: {
        char buffer[32];
        auto end = std::to_chars(buffer, buffer + sizeof buffer, v->real).ptr;
        return std::string(buffer, end);
    }
    case VALUE_INT32: return "i:" + std::to_string(v->v32);
    case VALUE_STRING: return v->str && v->str->text ? "s:" + std::string(v->str->text) : "s:<none>";
    case VALUE_UNDEFINED: return "u";
    case VALUE_NULL: return "null";
    case VALUE_ARRAY: {
        std::string s = "[";
        if (v->arr && v->arr->rowCount > 0)
            for (int32_t c = 0; c < v->arr->rows[0].length; ++c)
                s += (c ? "," : "") + BvGlob_Describe(&v->arr->rows[0].items[c]);
        return s + "]";
    }
    default: return "kind" + std::to_string(RValue_Kind(v));
    }
}

// The inverse for written values: "u", "i:N", "s:TEXT", anything else a real ("nan" included).
void BvGlob_Make(RValue* v, const std::string& form)
{
    RValue_SetUndefined(v);
    if (form == "u") return;
    if (form.rfind("s:", 0) == 0) RValue_SetString(v, form.c_str() + 2);
    else if (form.rfind("i:", 0) == 0) RValue_SetInt32(v, std::stoi(form.substr(2)));
    else RValue_SetReal(v, std::strtod(form.c_str(), nullptr));
}

std::vector<std::string> g_BvGlob_Out;
void BvGlob_Out(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    g_BvGlob_Out.push_back(argc > 0 ? BvGlob_Describe(&args[0]) : "<none>");
    RValue_SetReal(result, 0);
}

int64_t g_BvGlob_ClockNs = 0;
int BvGlob_Clock(clockid_t, timespec* now)
{
    now->tv_sec = time_t(g_BvGlob_ClockNs / 1000000000);
    now->tv_nsec = long(g_BvGlob_ClockNs % 1000000000);
    return 0;
}

// Backgrounds 5 (48 x 20) and 6 (1 x 2) exist; no other index does.
bool BvGlob_BackgroundSize(int32_t index, int32_t* width, int32_t* height)
{
    if (index != 5 && index != 6) return false;
    *width = index == 5 ? 48 : 1;
    *height = index == 5 ? 20 : 2;
    return true;
}

constexpr int32_t kBvGlob_Whole = ARRAY_INDEX_NONE;

class BvGlobTest : public worldtest::WorldHarness {
protected:
    void SetUp() override
    {
        WorldHarness::SetUp();
        InitVariables();
        g_ShowErrorDialogs = false;
        g_RunFlags.headless = false;
        Extension_SetSeamResults(true, true, true);
        IO_Clear();
        savedFps_ = MainLoop_Fps;
        g_BvGlob_Out.clear();
    }
    void TearDown() override
    {
        VM_ArgCount = 0;
        VM_Args = nullptr;
        g_GameData.newMode = false;
        g_GameTimer = FrameTimer();
        MainLoop_Fps = savedFps_;
        Timing_SetHooks(nullptr);
        Background_SetSizeSource(nullptr);
        IO_Clear();
        g_ShowErrorDialogs = true;
        WorldHarness::TearDown();
        Variable_BuiltIn_Free();  // other suites bind their own names
    }

    static int32_t Id(const char* name)
    {
        const int32_t id = Variable_BuiltIn_Find(name);
        EXPECT_GE(id, 0) << name;
        return id;
    }
    static std::string Read(const char* name, int32_t index = kBvGlob_Whole)
    {
        RValue out;
        RValue_SetUndefined(&out);
        if (!Variable_GetValue_Direct(nullptr, Id(name), index, &out)) return "<failed>";
        std::string text = BvGlob_Describe(&out);
        RValue_Free(&out);
        return text;
    }
    static bool Write(const char* name, const std::string& form, int32_t index = kBvGlob_Whole)
    {
        RValue value;
        BvGlob_Make(&value, form);
        const bool ok = Variable_SetValue_Direct(nullptr, Id(name), index, &value);
        RValue_Free(&value);
        return ok;
    }

    // The messages reported since the last clear, one a line, without their frames.
    std::string Reported() const
    {
        const std::string reduced = kvtest::ReportedMessages(release_.text);
        const std::string start = "ERROR!!! :: ";
        std::string out;
        for (size_t at = reduced.find(start); at != std::string::npos; at = reduced.find(start, at)) {
            at += start.size();
            const size_t end = reduced.find('\n', at);
            out += reduced.substr(at, end - at) + "\n";
        }
        return out;
    }
    // Back to nothing reported and no room change pending, as if the last fatal report had not ended the game.
    void ClearReports()
    {
        release_.text.clear();
        kvtest::ForgetErrorAbort();
        Error_ResetState();
        g_ShowErrorDialogs = false;  // reports go to the console only
        RoomChangeCode = ROOM_CHANGE_NONE;
        wadtest::g_exitCalls = 0;
    }

    // Three rooms; rm_a holds two instances of obj_counter, which records No More Lives and No More Health.
    void StartCounterGame()
    {
        GameDef game;
        ObjectDef counter;
        counter.name = "obj_counter";
        counter.events = {{7, 6, {{Op::Record, 6}}}, {7, 9, {{Op::Record, 9}}}};
        game.objects = {counter};
        RoomDef a;
        a.name = "rm_a";
        a.instances = {InstanceDef{0, 100001, {}}, InstanceDef{0, 100002, {}}};
        RoomDef b;
        b.name = "rm_b";
        RoomDef c;
        c.name = "rm_c";
        game.rooms = {a, b, c};
        ASSERT_TRUE(Load(game, Mode::Bytecode));
        StartFirstRoom();
        ASSERT_NE(Run_Room, nullptr) << debug_.text;
        ASSERT_EQ(Run_RoomIndex, 0);
        ASSERT_EQ(Run_Room->active.count, 2);
        worldtest::g_runs.clear();
        ClearReports();
    }

    // One held argument array: count arguments followed by a guard the variables must never reach.
    struct Args {
        RValue values[3];
        explicit Args(int32_t count)
        {
            BvGlob_Make(&values[0], "5");
            BvGlob_Make(&values[1], "s:two");
            BvGlob_Make(&values[2], "s:guard");
            VM_ArgCount = count;
            VM_Args = values;
        }
        ~Args()
        {
            VM_ArgCount = 0;
            VM_Args = nullptr;
            for (RValue& v : values) RValue_Free(&v);
        }
        std::string Text() const
        {
            return BvGlob_Describe(&values[0]) + "|" + BvGlob_Describe(&values[1]) + "|" + BvGlob_Describe(&values[2]);
        }
    };

    int32_t savedFps_ = 0;
};

// ---- the room --------------------------------------------------------------------------------------------

TEST_F(BvGlobTest, RoomWritesBecomeThePendingChangeAndAnUnknownRoomEndsTheGame)
{
    StartCounterGame();
    struct Row {
        const char* value;
        int32_t pending;
        const char* reported;  // fatal when not empty
    };
    const Row rows[] = {
        {"0", 0, ""},  // the running room's own index is a change like any other
        {"2.5", 2, ""},
        {"1.5", 2, ""},
        {"i:1", 1, ""},
        {"s:2", 2, ""},
        {"99", ROOM_CHANGE_GAME_CHANGE, "Unexisting room number: 99\n"},
        {"3", ROOM_CHANGE_GAME_CHANGE, "Unexisting room number: 3\n"},
        {"-2", ROOM_CHANGE_GAME_CHANGE, "Unexisting room number: -2\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        ClearReports();
        g_TransitionKind = 4;
        EXPECT_TRUE(Write("room", row.value));
        EXPECT_EQ(RoomChangeCode, row.pending);
        EXPECT_EQ(Reported(), row.reported);
        EXPECT_EQ(g_ErrorQuitting, *row.reported != '\0');
        EXPECT_EQ(g_TransitionKind, 0);
        // The room itself changes only at the end of the frame.
        EXPECT_EQ(Read("room"), "0");
        EXPECT_EQ(Run_RoomIndex, 0);
    }
    ClearReports();
    EXPECT_EQ(Read("room_first"), "0");
    EXPECT_EQ(Read("room_last"), "2");
}

TEST_F(BvGlobTest, RoomSpeedRefusesSpeedsThatRoundToZeroAndFollowsTheFrameTimerInNewGames)
{
    StartCounterGame();
    const char* refused = "Trying to set the room speed to a value <= 0.\n";
    struct Row {
        bool frameTimer;
        const char* value;
        bool written;
        const char* read;
        int32_t roomSpeed;
        double timerFps;
    };
    const Row rows[] = {
        {false, "0.4", false, "30", 30, 60},
        {false, "0.6", true, "0", 0, 60},  // 1 for the test, truncated when stored
        {false, "30.7", true, "30", 30, 60},
        {false, "-3", false, "30", 30, 60},
        {false, "nan", false, "30", 30, 60},
        {false, "s:45", true, "45", 45, 60},
        {true, "29.97", true, "29.97", 30, 29.97},  // the timer keeps the fraction; the room is untouched
        {true, "0.4", false, "60", 30, 60},
        {true, "0.6", true, "0.6", 30, 0.6},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.frameTimer ? "frame timer, " : "room speed, ") + row.value);
        ClearReports();
        g_GameData.newMode = row.frameTimer;
        g_GameTimer = FrameTimer();
        FrameTimer_SetFPS(&g_GameTimer, 60);
        Run_Room->speed = 30;
        EXPECT_EQ(Write("room_speed", row.value), row.written);
        EXPECT_EQ(Reported(), row.written ? "" : refused);
        EXPECT_FALSE(g_ErrorQuitting);
        EXPECT_EQ(Read("room_speed"), row.read);
        EXPECT_EQ(Run_Room->speed, row.roomSpeed);
        EXPECT_EQ(FrameTimer_GetFPS(&g_GameTimer), row.timerFps);
    }
}

TEST_F(BvGlobTest, LivesAndHealthPerformTheirEventOnEveryInstanceOnlyWhenTheyRunOut)
{
    StartCounterGame();
    std::vector<int32_t> ids;
    for (CInstance* i = Run_Room->active.head; i; i = i->next) ids.push_back(i->id);
    struct Row {
        const char* name;
        double before;
        const char* value;
        const char* read;
        int32_t event;  // other event performed on every instance, 0 for none
    };
    const Row rows[] = {
        {"lives", -1, "0", "0", 0},  // lives start at -1: running out needs lives above 0
        {"lives", 1, "0", "0", 6},
        {"lives", 3, "-2", "-2", 6},
        {"lives", 1, "0.4", "0", 6},  // rounded before the comparison
        {"lives", 1, "0.6", "1", 0},
        {"lives", 0, "-1", "-1", 0},
        {"lives", 2, "1", "1", 0},
        {"health", 100, "0.5", "0.5", 0},  // not rounded
        {"health", 100, "-0.5", "-0.5", 9},
        {"health", 0.4, "0", "0", 9},
        {"health", 0, "-5", "-5", 0},
        {"health", -1, "50", "50", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + std::to_string(row.before) + " -> " + row.value);
        worldtest::g_runs.clear();
        if (row.name == std::string("lives")) g_Lives = int32_t(row.before);
        else g_Health = row.before;
        EXPECT_TRUE(Write(row.name, row.value));
        EXPECT_EQ(Read(row.name), row.read);
        std::vector<worldtest::HandlerRun> expected;
        if (row.event)
            for (int32_t id : ids) expected.push_back({row.event, id, id, 7, row.event, 0, false, 1});
        EXPECT_EQ(worldtest::g_runs, expected);
    }
}

TEST_F(BvGlobTest, InstanceIdCountsThroughTheActiveListAndAnswersNooneOutsideIt)
{
    StartCounterGame();
    CInstance* first = Run_Room->active.head;
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first->next, nullptr);
    EXPECT_EQ(Read("instance_count"), "2");
    struct Row {
        int32_t index;
        int32_t id;
    };
    const Row rows[] = {{0, first->id}, {1, first->next->id}, {2, -4}, {-1, -4}, {kBvGlob_Whole, -4}, {32000, -4}};
    for (const Row& row : rows) EXPECT_EQ(Read("instance_id", row.index), std::to_string(row.id)) << row.index;
}

TEST_F(BvGlobTest, BackgroundSizeIsTheSizeOfTheBackgroundTheSlotNames)
{
    StartCounterGame();
    struct Row {
        int32_t slot;         // slot whose index is set
        int32_t background;   // its index
        int32_t access;       // index of the read
        bool source;          // backgrounds 5 and 6 exist
        const char* width;
        const char* height;
    };
    const Row rows[] = {
        {3, -1, 3, false, "0", "0"},
        {3, -1, 3, true, "0", "0"},
        {3, 5, 3, false, "0", "0"},
        {3, 5, 3, true, "48", "20"},
        {3, 7, 3, true, "0", "0"},
        {0, 6, kBvGlob_Whole, true, "1", "2"},  // unindexed and out-of-range reads address slot 0
        {0, 6, 8, true, "1", "2"},
        {0, 6, -1, true, "1", "2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.slot) + " holds " + std::to_string(row.background) + ", read [" +
                     std::to_string(row.access) + "]" + (row.source ? " with backgrounds" : ""));
        Background_SetSizeSource(row.source ? BvGlob_BackgroundSize : nullptr);
        for (RoomBackground& b : Run_Room->backgrounds) b.index = -1;
        Run_Room->backgrounds[row.slot].index = row.background;
        EXPECT_EQ(Read("background_width", row.access), row.width);
        EXPECT_EQ(Read("background_height", row.access), row.height);
    }
    EXPECT_FALSE(Write("background_width", "3", 3));
}

TEST_F(BvGlobTest, TransitionKindAlwaysReadsZeroAndLogsTheBugLine)
{
    const std::string line =
        "BUG: Room transitions don't function well - setting to 0 - look at Variable_BuiltIn SV_TransitionKind() .\n";
    debug_.text.clear();
    EXPECT_TRUE(Write("transition_kind", "5"));
    EXPECT_EQ(Read("transition_kind"), "0");
    EXPECT_EQ(debug_.text, line);
    EXPECT_TRUE(Write("transition_steps", "7"));
    EXPECT_EQ(Read("transition_steps"), "0");
    EXPECT_EQ(debug_.text, line);
}

// ---- score and captions ----------------------------------------------------------------------------------

TEST_F(BvGlobTest, CaptionsStartAsTheRunSetsThemAndOnlyEverHoldText)
{
    InitScoreCaptions();
    EXPECT_EQ(Read("caption_score"), "s:Score: '");
    EXPECT_EQ(Read("caption_lives"), "s:Lives: ");
    EXPECT_EQ(Read("caption_health"), "s:Health: ");
    EXPECT_EQ(Read("score"), "0");
    EXPECT_EQ(Read("lives"), "-1");
    EXPECT_EQ(Read("health"), "100");

    // A written caption is the written text itself: the module holds a reference, not a copy.
    RValue text;
    BvGlob_Make(&text, "s:Men left: ");
    ASSERT_TRUE(Variable_SetValue_Direct(nullptr, Id("caption_lives"), kBvGlob_Whole, &text));
    EXPECT_EQ(g_CaptionLives, text.str);
    EXPECT_EQ(text.str->refCount, 2);
    RValue_Free(&text);
    EXPECT_EQ(Read("caption_lives"), "s:Men left: ");

    // Anything but a string leaves the text as it was.
    for (const char* name : {"caption_score", "caption_lives", "caption_health", "error_last"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Write(name, "s:kept"));
        for (const char* value : {"3", "i:4", "u"}) {
            EXPECT_TRUE(Write(name, value)) << value;
            EXPECT_EQ(Read(name), "s:kept") << value;
        }
    }
}

TEST_F(BvGlobTest, RoomCaptionIsACopyAndANonStringLeavesNoCaption)
{
    StartCounterGame();
    ASSERT_TRUE(Write("room_caption", "s:Level 1"));
    EXPECT_EQ(Read("room_caption"), "s:Level 1");
    ASSERT_NE(Run_Room->caption, nullptr);
    EXPECT_STREQ(Run_Room->caption, "Level 1");
    EXPECT_TRUE(Write("room_caption", "7"));
    EXPECT_EQ(Run_Room->caption, nullptr);
    EXPECT_EQ(Read("room_caption"), "s:<none>");
}

// ---- the running script's arguments ------------------------------------------------------------------------

TEST_F(BvGlobTest, ArgumentsReadAndWriteOnlyTheArgumentsTheScriptWasGiven)
{
    const std::string illegal = "illegal access of argument, argument is not provided to script\n";
    struct Row {
        const char* what;
        const char* name;
        int32_t index;
        const char* write;  // null: a read
        const char* read;   // the read's result, or the variable read back after the write (null: none)
        const char* args;   // the argument array (and its guard) afterwards
        const char* reported = "";
    };
    const Row rows[] = {
        {"count", "argument_count", kBvGlob_Whole, nullptr, "2", "5|s:two|s:guard"},
        {"argument0", "argument0", kBvGlob_Whole, nullptr, "5", "5|s:two|s:guard"},
        {"argument1", "argument1", kBvGlob_Whole, nullptr, "s:two", "5|s:two|s:guard"},
        {"argument2 past the count", "argument2", kBvGlob_Whole, nullptr, "u", "5|s:two|s:guard"},
        {"argument15", "argument15", kBvGlob_Whole, nullptr, "u", "5|s:two|s:guard"},
        {"argument[1]", "argument", 1, nullptr, "s:two", "5|s:two|s:guard"},
        {"argument[2] past the count", "argument", 2, nullptr, "u", "5|s:two|s:guard", illegal.c_str()},
        {"argument[-1]", "argument", -1, nullptr, "u", "5|s:two|s:guard", illegal.c_str()},
        {"argument unindexed", "argument", kBvGlob_Whole, nullptr, "u", "5|s:two|s:guard", illegal.c_str()},
        {"argument[1] = 9", "argument", 1, "9", "9", "5|9|s:guard"},
        {"argument = 7 writes argument 0", "argument", kBvGlob_Whole, "7", nullptr, "7|s:two|s:guard"},
        {"argument[16] = 3 is clamped to argument 0", "argument", 16, "3", nullptr, "3|s:two|s:guard"},
        {"argument[2] = 1 past the count", "argument", 2, "1", nullptr, "5|s:two|s:guard"},
        {"argument[15] = 1 past the count", "argument", 15, "1", nullptr, "5|s:two|s:guard"},
        {"argument2 = 1 past the count", "argument2", kBvGlob_Whole, "1", "u", "5|s:two|s:guard"},
        {"argument2[0] = 1 past the count", "argument2", 0, "1", "u", "5|s:two|s:guard"},
        {"argument1 = s:new", "argument1", kBvGlob_Whole, "s:new", "s:new", "5|s:new|s:guard"},
        {"argument0[3] = 7 makes an array", "argument0", 3, "7", "7", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ClearReports();
        Args args(2);
        if (row.write) {
            EXPECT_TRUE(Write(row.name, row.write, row.index));
            if (row.read) {
                EXPECT_EQ(Read(row.name, row.index), row.read);
            }
        } else {
            EXPECT_EQ(Read(row.name, row.index), row.read);
        }
        EXPECT_EQ(Reported(), row.reported);
        EXPECT_EQ(g_ErrorQuitting, *row.reported != '\0');
        if (row.args) {
            EXPECT_EQ(args.Text(), row.args);
        } else {
            // Element 3 is 7; element 0 is whatever the array conversion keeps of the real.
            ASSERT_EQ(RValue_Kind(&args.values[0]), VALUE_ARRAY);
            EXPECT_EQ(args.values[0].arr->rows[0].length, 4);
            EXPECT_EQ(Read("argument0", 3), "7");
            EXPECT_EQ(BvGlob_Describe(&args.values[2]), "s:guard");
        }
    }
    ClearReports();
}

TEST_F(BvGlobTest, ReadingAnArgumentSharesItsTextAndWritingOneReleasesTheOldText)
{
    Args args(2);
    RefString* two = args.values[1].str;
    RValue out;
    RValue_SetUndefined(&out);
    ASSERT_TRUE(Variable_GetValue_Direct(nullptr, Id("argument"), 1, &out));
    EXPECT_EQ(out.str, two);
    EXPECT_EQ(two->refCount, 2);
    EXPECT_TRUE(Write("argument1", "0"));
    EXPECT_EQ(two->refCount, 1);  // the copy read earlier is its last holder
    RValue_Free(&out);
}

// ---- input ------------------------------------------------------------------------------------------------

TEST_F(BvGlobTest, InputWritesOutsideTheirRangeChangeNothing)
{
    EXPECT_EQ(Read("keyboard_lastchar"), "s:");  // no character yet
    struct Row {
        const char* name;
        const char* first;  // written first, accepted
        const char* value;
        const char* read;
    };
    const Row rows[] = {
        {"keyboard_key", "65", "300", "65"},
        {"keyboard_key", "65", "-1", "65"},
        {"keyboard_key", "65", "255", "255"},
        {"mouse_button", "2", "4", "2"},
        {"mouse_button", "2", "3", "3"},
        {"mouse_lastbutton", "1", "4", "1"},
        {"keyboard_lastchar", "s:B", "s:", "s:B"},
        {"keyboard_lastchar", "s:B", "67", "s:B"},
        {"keyboard_lastchar", "s:B", "s:Abc", "s:A"},
        {"keyboard_lastchar", "s:B", "s:\xc3\xa9t\xc3\xa9", "s:\xc3\xa9"},
        {"keyboard_lastchar", "s:B", "s:\xe2\x82\xac", "s:\xe2\x82\xac"},
        {"keyboard_string", "s:abc", "s:xyz", "s:xyz"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " = " + row.value);
        IO_Clear();
        ASSERT_TRUE(Write(row.name, row.first));
        EXPECT_TRUE(Write(row.name, row.value));
        EXPECT_EQ(Read(row.name), row.read);
    }
    // The character is decoded, not its first byte.
    ASSERT_TRUE(Write("keyboard_lastchar", "s:\xc3\xa9"));
    EXPECT_EQ(IO_GetLastChar(), 0xE9);
}

// ---- time ---------------------------------------------------------------------------------------------------

TEST_F(BvGlobTest, CurrentTimeIsTheMicrosecondClockInWholeMilliseconds)
{
    const TimingHooks hooks{BvGlob_Clock, nullptr, nullptr};
    Timing_SetHooks(&hooks);
    const int64_t start = Timing_StartCount();
    struct Row {
        int64_t microseconds;
        const char* read;
    };
    for (const Row& row : {Row{1999999, "1999"}, Row{2000000, "2000"}, Row{999, "0"}, Row{0, "0"}}) {
        g_BvGlob_ClockNs = (start + row.microseconds) * 1000 + 999;  // below a microsecond is dropped
        EXPECT_EQ(Read("current_time"), row.read) << row.microseconds;
    }
}

// The calendar fields of time t at a fixed offset from UTC, as Python's datetime gives them.
std::string BvGlob_PythonDate(long long t, int offsetMinutes)
{
    const std::string cmd = kvtest::ShellQuote(kvtest::Python()) +
                            " -c \"import datetime as d; z = d.timezone(d.timedelta(minutes=" +
                            std::to_string(offsetMinutes) + ")); t = d.datetime.fromtimestamp(" + std::to_string(t) +
                            ", z); print(t.year, t.month, t.day, (t.weekday() + 1) % 7, t.hour, t.minute, t.second)\"";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return "<no python>";
    char line[128] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    std::string text = got ? line : "<no output>";
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

TEST_F(BvGlobTest, CurrentDateFieldsAreLocalTimeInTheProcessTimeZone)
{
    struct Row {
        const char* tz;  // POSIX form: the sign is west of UTC
        int offsetMinutes;
    };
    for (const Row& row : {Row{"BVG-05:45", 345}, Row{"BVG+09:30", -570}}) {
        SCOPED_TRACE(row.tz);
        std::string fields;
        long long second = 0;
        {
            kvtest::ScopedEnv tz("TZ", row.tz);
            tzset();
            // Read until all seven fields come from one second.
            for (int attempt = 0; attempt < 5; ++attempt) {
                const time_t before = time(nullptr);
                fields.clear();
                for (const char* name : {"current_year", "current_month", "current_day", "current_weekday",
                                         "current_hour", "current_minute", "current_second"})
                    fields += (fields.empty() ? "" : " ") + Read(name);
                if (time(nullptr) == before) {
                    second = before;
                    break;
                }
            }
        }
        tzset();
        ASSERT_NE(second, 0);
        EXPECT_EQ(fields, BvGlob_PythonDate(second, row.offsetMinutes));
    }
}

// ---- the last error ---------------------------------------------------------------------------------------

TEST_F(BvGlobTest, ErrorLastIsEmptyUntilAReportAndThenItsWholeText)
{
    EXPECT_EQ(Read("error_last"), "s:");
    EXPECT_EQ(Read("error_occurred"), "0");
    const std::string framed = Error_BuildText("kaboom", false);
    ASSERT_NE(framed.find("kaboom"), std::string::npos);
    Error_Show_Action("kaboom", false);
    EXPECT_EQ(Read("error_last"), "s:" + framed);
    EXPECT_EQ(Read("error_occurred"), "1");
    ASSERT_TRUE(Write("error_last", "s:mine"));
    EXPECT_EQ(Read("error_last"), "s:mine");
}

TEST_F(BvGlobTest, ErrorOccurredIsSetFromHalfUpwards)
{
    struct Row {
        const char* value;
        const char* read;
    };
    const Row rows[] = {{"0.5", "1"}, {"0.49", "0"}, {"1", "1"}, {"-1", "0"}, {"i:1", "1"}, {"i:0", "0"}, {"u", "0"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        g_ErrorOccurred = std::string(row.read) == "0";  // the opposite of what the write must leave
        EXPECT_TRUE(Write("error_occurred", row.value));
        EXPECT_EQ(Read("error_occurred"), row.read);
    }
}

// ---- folders and the game -------------------------------------------------------------------------------

TEST_F(BvGlobTest, WorkingDirectoryIsTheGameFilesFolderAndIsLogged)
{
    struct Row {
        const char* path;
        const char* folder;
    };
    const Row rows[] = {
        {"/g/data.win", "/g/"},
        {"data.win", ""},
        {"/data.win", ""},  // the only separator is the first character
        {"/a/b/c/game.win", "/a/b/c/"},
        {"C:\\games\\data.win", "C:\\games\\"},
        {"/x\\y/z\\data.win", "/x\\y/"},  // '/' wins over a later '\'
    };
    const std::string rule(73, '#');
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        MemFree(g_WorkingDirectory);
        g_WorkingDirectory = nullptr;
        debug_.text.clear();
        InitWorkingDirectory(row.path);
        EXPECT_EQ(Read("working_directory"), std::string("s:") + row.folder);
        EXPECT_EQ(debug_.text, rule + "\n####!!!!$$$$$$ pwd - " + row.folder + "\n" + rule + "\n");
    }

    // The first call of a run wins, even when it found no folder.
    for (const char* first : {"/first/a.win", "a.win"}) {
        SCOPED_TRACE(first);
        MemFree(g_WorkingDirectory);
        g_WorkingDirectory = nullptr;
        InitWorkingDirectory(first);
        const std::string before = Read("working_directory");
        debug_.text.clear();
        InitWorkingDirectory("/second/b.win");
        EXPECT_EQ(Read("working_directory"), before);
        EXPECT_EQ(debug_.text, "");
    }
}

TEST_F(BvGlobTest, ProgramDirectoryAndSaveIdNameTheExecutablesFolderAndTheSaveArea)
{
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    EXPECT_EQ(Read("program_directory"), "s:" + exe);

    MemFree(g_ProjectName);
    g_ProjectName = String_Duplicate("bvglob_game");
    Paths_ResetAll();
    const char* data = std::getenv("XDG_DATA_HOME");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(Read("game_save_id"), std::string("s:") + data + "/bvglob_game/");
    EXPECT_EQ(Read("game_project_name"), "s:bvglob_game");
    Paths_ResetAll();
}

// ---- through the interpreter ------------------------------------------------------------------------------

class BvGlobVmTest : public BvGlobTest {
protected:
    // The program loaded, a running room with one instance of a plain object (no physics body).
    void Prepare(const std::string& source)
    {
        vmtest::Builtin("bvglob_out", BvGlob_Out);
        ASSERT_TRUE(Build(source, "bvglob"));
        g_ShowErrorDialogs = false;  // loading resets it
        room_ = new CRoom();
        SetCurrentRoom(room_);
        Run_RoomIndex = 0;
        self_ = Make(Object_Add());
        ASSERT_NE(self_, nullptr);
    }
    void Run(const std::string& entry)
    {
        CCode* code = Entry(entry);
        ASSERT_NE(code, nullptr);
        RValue result;
        RValue_SetUndefined(&result);
        VM_Exec(code, self_, self_, &result, nullptr, 0, nullptr, nullptr);
        RValue_Free(&result);
    }
    CInstance* self_ = nullptr;
};

TEST_F(BvGlobVmTest, BuiltinPushesReadTheRoomScoreAndFps)
{
    Prepare(".code ksl_bvglob_push\n"
            "    pushb.v builtin.room\n    call.i bvglob_out 1\n    popz.v\n"
            "    pushb.v builtin.score\n    call.i bvglob_out 1\n    popz.v\n"
            "    pushb.v builtin.fps\n    call.i bvglob_out 1\n    popz.v\n"
            "    exit.i\n");
    Run_RoomIndex = 2;
    g_Score = 1234;
    MainLoop_Fps = 57;
    Run("ksl_bvglob_push");
    EXPECT_EQ(g_BvGlob_Out, (std::vector<std::string>{"2", "1234", "57"}));
    EXPECT_EQ(Reported(), "");
}

TEST_F(BvGlobVmTest, FailedBuiltinReadsAndWritesAreReportedByTheInterpreter)
{
    Prepare(".code ksl_bvglob_fps\n    push.d 1\n    pop.v.d self.fps@builtin\n    exit.i\n"
            ".code ksl_bvglob_mass\n    push.v self.phy_mass@builtin\n    popz.v\n    exit.i\n"
            ".code ksl_bvglob_speed\n    push.d 0.4\n    pop.v.d self.room_speed@builtin\n    exit.i\n"
            ".code ksl_bvglob_width\n    push.d 64\n    pop.v.d self.room_width@builtin\n    exit.i\n");
    struct Row {
        const char* entry;
        std::string reported;
    };
    const Row rows[] = {
        {"ksl_bvglob_fps", "Pop :: Execution Error - Variable set failed fps - read only variable?\n"},
        {"ksl_bvglob_mass", "Push :: Execution Error - Variable Get " + std::to_string(self_->id) + ".phy_mass(" +
                                std::to_string(Variable_BuiltIn_Find("phy_mass")) + ", -2147483648)\n"},
        // The setter's own report, then the interpreter's for the refused write.
        {"ksl_bvglob_speed", "Trying to set the room speed to a value <= 0.\n"
                             "Pop :: Execution Error - Variable set failed room_speed - read only variable?\n"},
        {"ksl_bvglob_width", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.entry);
        ClearReports();
        Run(row.entry);
        EXPECT_EQ(Reported(), row.reported);
    }
    EXPECT_EQ(room_->width, 64);
    ClearReports();
}

}  // namespace
