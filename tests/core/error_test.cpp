// Error reporting: the framed text, the flow through the dialog and exit hooks, and the dialog text.
#include "core/error.h"

#include "core/console.h"
#include "core/seam_trace.h"
#include "platform/hooks.h"
#include "tests/support/test_support.h"
#include "world/command_line.h"
#include "world/room_change.h"
#include "world/run_state.h"
#include "world/world_access.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::string kHashRule = std::string(92, '#') + "\n";
const std::string kDashRule = std::string(92, '-') + "\n";

bool ErrorTest_ObjectExists(int32_t index) { return index == 4; }
const char* ErrorTest_ObjectName(int32_t) { return "obj_player"; }

// Recorded answers of the error dialog and the exits requested.
std::vector<std::string> g_errorTestAnswers;
std::vector<DialogRequest> g_errorTestRequests;
std::vector<std::string> g_errorTestRequestDefaults;
std::vector<int> g_errorTestExits;

bool ErrorTest_Answer(const DialogRequest& request, DialogAnswer* answer)
{
    g_errorTestRequests.push_back(request);
    g_errorTestRequestDefaults.emplace_back(request.defaultText ? request.defaultText : "");
    answer->accepted = true;
    if (!g_errorTestAnswers.empty()) {
        answer->text = g_errorTestAnswers.front();
        g_errorTestAnswers.erase(g_errorTestAnswers.begin());
    }
    return true;
}

void ErrorTest_Exit(int status) { g_errorTestExits.push_back(status); }

int ErrorTest_Traced(const char* name)
{
    const auto& calls = SeamTrace_Calls();
    return int(std::count(calls.begin(), calls.end(), std::string(name)));
}

// Every test starts from a fresh reporter with a fake world (object 4 is obj_player), a two-frame call
// stack, a recording console, scripted dialog answers and an exit hook that returns.
class ErrorReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Error_ResetState();
        world_ = *World_Access();
        world_.objectExists = ErrorTest_ObjectExists;
        world_.objectName = ErrorTest_ObjectName;
        previousWorld_ = World_SetAccess(&world_);
        StackTrace_Push(&outer_, "ksl_Script_outer", 7);
        StackTrace_Push(&inner_, "ksl_Script_inner", -1);
        previousConsole_ = ReleaseConsole;
        ReleaseConsole = &console_;
        previousExit_ = Platform_SetExitHook(ErrorTest_Exit);
        previousAnswer_ = Platform_SetDialogAnswerHook(ErrorTest_Answer);
        g_errorTestAnswers.clear();
        g_errorTestRequests.clear();
        g_errorTestRequestDefaults.clear();
        g_errorTestExits.clear();
        g_RunFlags.headless = false;
        RoomChangeCode = ROOM_CHANGE_NONE;
        SeamTrace_Clear();
        SeamTrace_Enable(true);
        event_type = 5;
        event_number = 65;
        event_object = 4;
        event_action = 0;
    }

    void TearDown() override
    {
        SeamTrace_Enable(false);
        SeamTrace_Clear();
        StackTraceFrame::Pop(&inner_);
        StackTraceFrame::Pop(&outer_);
        World_SetAccess(previousWorld_);
        ReleaseConsole = previousConsole_;
        Platform_SetExitHook(previousExit_);
        Platform_SetDialogAnswerHook(previousAnswer_);
        RunFlags_ResetAll();
        RoomChangeCode = ROOM_CHANGE_NONE;
        Error_ResetState();
    }

    static std::string Framed(const std::string& header)
    {
        return kHashRule + header + "\n" + kHashRule + kDashRule + "called from - ksl_Script_inner\n" +
               "called from - ksl_Script_outer (line 7)\n";
    }

    WorldAccess world_{};
    const WorldAccess* previousWorld_ = nullptr;
    StackTraceFrame outer_{}, inner_{};
    kvtest::RecordingConsole console_;
    tagIConsole* previousConsole_ = nullptr;
    ExitHook previousExit_ = nullptr;
    DialogAnswerHook previousAnswer_ = nullptr;
};

struct ErrorTextCase {
    const char* what;
    int32_t type, number, object, action;
    const char* shader;
    bool fragment;
    const char* message;
    bool abort;
    const char* header;
};

const ErrorTextCase kErrorTextCases[] = {
    {"fatal in compiled code", 5, 65, 4, 0, nullptr, false, "wrong argument", true,
     "FATAL ERROR in\naction number 1\nof Keyboard Event for A-key Key\nfor object obj_player:\n\n\nwrong argument"},
    {"non-fatal", 5, 65, 4, 0, nullptr, false, "wrong argument", false,
     "ERROR in\naction number 1\nof Keyboard Event for A-key Key\nfor object obj_player:\n\n\nwrong argument"},
    {"later action, unknown object", 0, 0, 9, 2, nullptr, false, "m", false,
     "ERROR in\naction number 3\nof Create Event\nfor object <undefined>:\n\n\nm"},
    {"time line moment", 100000, 30, 2, 1, nullptr, false, "m", true,
     "FATAL ERROR in\naction number 2\nat time step30\nof time line <undefined>:\n\n\nm"},
    {"vertex shader", -1, 0, 0, 0, "sh_glow", false, "bad token", true,
     "FATAL ERROR in Vertex Shader compilation\n\nShaderName: sh_glow\n\n\nbad token\n"},
    {"fragment shader", -1, 0, 0, 0, "sh_glow", true, "bad token", false,
     "FATAL ERROR in Fragment Shader compilation\n\nShaderName: sh_glow\n\n\nbad token\n"},
    {"null message", 1, 0, 4, 0, nullptr, false, nullptr, true,
     "FATAL ERROR in\naction number 1\nof Destroy Event\nfor object obj_player:\n\n\n"},
};

TEST_F(ErrorReportTest, FramedTextsAreExact)
{
    for (const ErrorTextCase& c : kErrorTextCases) {
        event_type = c.type;
        event_number = c.number;
        event_object = c.object;
        event_action = c.action;
        g_ErrorShaderName = c.shader;
        g_ErrorShaderFragment = c.fragment;
        EXPECT_EQ(Error_BuildText(c.message, c.abort), Framed(c.header)) << c.what;
    }
}

TEST_F(ErrorReportTest, IgnoredReportReturnsAndIsRecorded)
{
    g_errorTestAnswers = {"Ignore"};
    Error_Show_Action("just a warning", false);
    ASSERT_EQ(g_errorTestRequests.size(), 1u);
    EXPECT_STREQ(g_errorTestRequests[0].kind, "error");
    EXPECT_EQ(g_errorTestRequestDefaults[0], "Ignore");
    EXPECT_TRUE(g_ErrorOccurred);
    EXPECT_FALSE(g_ErrorQuitting);
    EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_NONE);
    const std::string framed = Error_BuildText("just a warning", false);
    EXPECT_EQ(Error_LastText(), framed);
    EXPECT_EQ(console_.text, "ERROR!!! :: " + framed + "\n");
    EXPECT_EQ(ErrorTest_Traced("IO_Clear"), 1);
    EXPECT_EQ(ErrorTest_Traced("Window_PostQuit"), 0);
    EXPECT_TRUE(g_errorTestExits.empty());
}

TEST_F(ErrorReportTest, AbortEndsTheGameAndLaterReportsChangeNothing)
{
    g_errorTestAnswers = {"Abort"};
    Error_Show_Action("first", false);
    EXPECT_TRUE(g_ErrorQuitting);
    EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_GAME_CHANGE);
    EXPECT_EQ(ErrorTest_Traced("Window_PostQuit"), 1);

    const std::string text = Error_LastText(), printed = console_.text;
    const size_t requests = g_errorTestRequests.size(), traced = SeamTrace_Calls().size();
    RoomChangeCode = 3;
    Error_Show_Action("second", false);
    Error_Show("third", true);
    RuntimeError("fourth %d", 4);
    EXPECT_EQ(Error_LastText(), text);
    EXPECT_EQ(console_.text, printed);
    EXPECT_EQ(g_errorTestRequests.size(), requests);
    EXPECT_EQ(SeamTrace_Calls().size(), traced);
    EXPECT_EQ(RoomChangeCode, 3);
    EXPECT_EQ(g_errorTestExits, std::vector<int>({1}));  // the fatal one still ends the process
}

TEST_F(ErrorReportTest, CopyShowsTheDialogAgain)
{
    g_errorTestAnswers = {"Copy", "Ignore"};
    Error_Show("text", false);
    EXPECT_EQ(g_errorTestRequests.size(), 2u);
    EXPECT_FALSE(g_ErrorQuitting);
}

TEST_F(ErrorReportTest, AbortOnErrorMakesEveryReportFatal)
{
    g_AbortOnError = true;
    g_errorTestAnswers = {"Ignore"};  // not offered: a fatal dialog has no Ignore
    Error_Show_Action("m", false);
    ASSERT_EQ(g_errorTestRequests.size(), 1u);
    EXPECT_EQ(g_errorTestRequestDefaults[0], "Abort");
    EXPECT_TRUE(g_ErrorQuitting);
    EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_GAME_CHANGE);
}

TEST_F(ErrorReportTest, NoDialogWhenDialogsAreOffOrHeadless)
{
    for (int mode = 0; mode < 2; ++mode) {
        Error_ResetState();
        SeamTrace_Clear();
        console_.text.clear();
        g_ShowErrorDialogs = mode != 0;
        g_RunFlags.headless = mode != 0;
        Error_Show_Action("quiet", false);
        EXPECT_TRUE(g_errorTestRequests.empty()) << mode;
        EXPECT_EQ(ErrorTest_Traced("Window_PrepareForDialog"), 0) << mode;
        EXPECT_EQ(ErrorTest_Traced("IO_Clear"), 1) << mode;
        EXPECT_TRUE(g_ErrorOccurred) << mode;
        EXPECT_FALSE(g_ErrorQuitting) << mode;
        EXPECT_EQ(Error_LastText(), Error_BuildText("quiet", false)) << mode;
        EXPECT_EQ(console_.text.rfind("ERROR!!! :: ", 0), 0u) << mode;
    }
}

TEST_F(ErrorReportTest, CaughtErrorsOnlySetTheFlag)
{
    g_ErrorCatch = true;
    RuntimeError("caught %s", "here");
    VMError(nullptr, "caught too");
    EXPECT_TRUE(g_ErrorCaught);
    EXPECT_TRUE(console_.text.empty());
    EXPECT_TRUE(g_errorTestRequests.empty());
    EXPECT_TRUE(g_errorTestExits.empty());
    EXPECT_FALSE(g_ErrorOccurred);
}

TEST_F(ErrorReportTest, FatalReportsExitOrEndAChangingGame)
{
    RuntimeError("bad %d", 1);
    VMError(nullptr, "worse");
    // The second report comes after the abort: nothing is shown, but it still ends the process.
    EXPECT_EQ(g_errorTestExits, std::vector<int>({1, -1}));
    EXPECT_EQ(std::count(console_.text.begin(), console_.text.end(), '!'), 3);

    Error_ResetState();
    g_errorTestExits.clear();
    g_GameChanging = true;
    RoomChangeCode = ROOM_CHANGE_NONE;
    RuntimeError("while changing");
    EXPECT_TRUE(g_errorTestExits.empty());
    EXPECT_EQ(RoomChangeCode, ROOM_CHANGE_GAME_END);
}

TEST_F(ErrorReportTest, MessagesAreNeverFormats)
{
    g_RunFlags.headless = true;
    Error_Show_Action("%s%n%x", false);
    EXPECT_NE(std::string(Error_LastText()).find("\n\n\n%s%n%x\n"), std::string::npos);
    Error_ResetState();
    const std::string longText(2000, 'a');
    RuntimeError("%s", longText.c_str());
    const std::string last = Error_LastText();
    EXPECT_NE(last.find(std::string(1023, 'a') + "\n"), std::string::npos);
    EXPECT_EQ(last.find(std::string(1024, 'a')), std::string::npos);
}

struct DialogTextCase {
    const char* text;
    const char* shown;  // after the rule
};

const DialogTextCase kDialogTextCases[] = {
    {"", ""},
    {"plain", "plain"},
    {"a\tb", "a       b"},
    {"a\r\nb", "a\r\nb"},
    {"a\n\rb", "a\r\nb"},
    {"a\n\nb", "a\r\nb"},
    {"a\rb", "a\r\nb"},
    {"a\nb\n", "a\r\nb\r\n"},
    {"a\n\n\nb", "a\r\n\r\nb"},
    {"last line", "last line"},
};

TEST(ErrorDialogText, ReflowTable)
{
    const std::string rule = "\r\n" + std::string(43, '_') + "\r\n";
    for (const DialogTextCase& c : kDialogTextCases) EXPECT_EQ(Error_DialogText(c.text), rule + c.shown) << c.text;
    EXPECT_EQ(Error_DialogText(nullptr), rule);
}

TEST(ErrorDialogText, ManyTabsGrowTheText)
{
    const std::string tabs(10000, '\t');
    const std::string shown = Error_DialogText(tabs.c_str());
    EXPECT_EQ(shown.size(), 2 + 43 + 2 + 70000u);
}

// The death tests print the release console on stderr so that the parent can match it.
struct ErrorTestStderrConsole final : tagIConsole {
    void Output(const char* format, ...) override __attribute__((format(printf, 2, 3)))
    {
        va_list args;
        va_start(args, format);
        std::vfprintf(stderr, format, args);
        va_end(args);
    }
};

void ErrorTest_DieWith(bool vm)
{
    static ErrorTestStderrConsole console;
    ReleaseConsole = &console;

    Platform_SetExitHook(nullptr);
    g_RunFlags.headless = true;
    if (vm) VMError(nullptr, "stack is broken");
    else RuntimeError("argument %d incorrect", 2);
}

TEST(ErrorDeathTest, FatalReportsExitWithTheirStatus)
{
    EXPECT_EXIT(ErrorTest_DieWith(false), ::testing::ExitedWithCode(1),
                "ERROR!!! :: #{92}\nFATAL ERROR in\naction number 1\n.*argument 2 incorrect");
    EXPECT_EXIT(ErrorTest_DieWith(true), ::testing::ExitedWithCode(255), "ERROR!!! :: #{92}\n.*stack is broken");
}

}  // namespace
