#include "platform/hooks.h"

#include "test_support.h"
#include "world/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_boxes;

int RecordingBox(const MessageBoxRequest& request)
{
    g_boxes.push_back(std::string(request.caption) + "|" + request.text);
    return MB_ANSWER_NO;
}

TEST(Hooks, RecordingMessageBoxHookSeesCaptionAndText)
{
    g_boxes.clear();
    MessageBoxHook previous = Platform_SetMessageBoxHook(RecordingBox);
    int answer = Platform_MessageBox({"Tumblewing", "Unable to find game!!: x", MB_BUTTONS_YESNO, MB_ANSWER_YES});
    Platform_SetMessageBoxHook(previous);
    EXPECT_EQ(answer, MB_ANSWER_NO);
    EXPECT_EQ(g_boxes, std::vector<std::string>{"Tumblewing|Unable to find game!!: x"});
}

TEST(Hooks, SuppressedBoxGoesToStandardErrorWithItsDefaultAnswer)
{
    struct Case {
        const char* noDialogs;
        const char* display;
        bool headless;
    } cases[] = {
        {"1", ":0", false},          // KV_NO_DIALOGS
        {nullptr, ":0", true},       // -headless
        {nullptr, nullptr, false},   // no display at all
    };
    for (const Case& c : cases) {
        kvtest::ScopedEnv noDialogs("KV_NO_DIALOGS", c.noDialogs);
        kvtest::ScopedEnv display("DISPLAY", c.display);
        kvtest::ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
        kvtest::ScopedEnv driver("SDL_VIDEODRIVER", nullptr);
        g_RunFlags.headless = c.headless;
        EXPECT_TRUE(Platform_DialogsSuppressed());
        testing::internal::CaptureStderr();
        int answer = Platform_MessageBox({"Caption", "Some text", MB_BUTTONS_OKCANCEL, MB_ANSWER_CANCEL});
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Caption: Some text\n");
        EXPECT_EQ(answer, MB_ANSWER_CANCEL);
        g_RunFlags.headless = false;
    }
}

int g_exitStatus = -99;

TEST(Hooks, ExitHookCanRecordAndReturn)
{
    ExitHook previous = Platform_SetExitHook([](int status) { g_exitStatus = status; });
    Platform_Exit(3);
    Platform_SetExitHook(previous);
    EXPECT_EQ(g_exitStatus, 3);
}

TEST(HooksDeathTest, DefaultExitFlushesAndExits)
{
    EXPECT_EXIT(
        {
            std::fputs("pending", stderr);
            Platform_Exit(7);
        },
        testing::ExitedWithCode(7), "pending");
}

TEST(Hooks, DialogAnswerComesFromTheInstalledSource)
{
    Platform_SetDialogAnswerHook([](const DialogRequest& request, DialogAnswer* answer) {
        answer->accepted = true;
        answer->text = std::string("scripted:") + request.kind;
        return true;
    });
    DialogAnswer answer;
    EXPECT_TRUE(Platform_DialogAnswer({"string", "Name?", "Enter your name", "Bob"}, &answer));
    EXPECT_TRUE(answer.accepted);
    EXPECT_EQ(answer.text, "scripted:string");
    Platform_SetDialogAnswerHook(nullptr);

    // With nobody to ask, the default text stands and the dialog counts as cancelled.
    testing::internal::CaptureStderr();
    DialogAnswer fallback;
    EXPECT_TRUE(Platform_DialogAnswer({"string", "Name?", "Enter your name", "Bob"}, &fallback));
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(fallback.accepted);
    EXPECT_EQ(fallback.text, "Bob");
}

}  // namespace
