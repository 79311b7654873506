// The message box's caption and answer, and the file dialogs against a stand-in chooser program that
// records its arguments and prints a scripted path (or is cancelled).
#include "core/memory_manager.h"
#include "fake_window_platform.h"
#include "gfx/window.h"
#include "input/input.h"
#include "platform/file_dialog.h"
#include "platform/hooks.h"
#include "platform/window_platform.h"
#include "test_support.h"
#include "world/command_line.h"
#include "world/loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace dialogs_test {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Cwd()
{
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

// A "zenity" first on PATH: it writes its arguments (NUL after each) and prints the answer file's
// contents, or exits 1 (cancelled) when there is none.
class FileDialogs : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = kvtest::ScratchDir() + "/file_dialogs";
        fs::remove_all(dir_);
        fs::create_directories(dir_ + "/bin");
        std::ofstream script(dir_ + "/bin/zenity");
        script << "#!/bin/sh\n"
               << ": >'" << dir_ << "/args'\n"
               << "for a in \"$@\"; do printf '%s\\0' \"$a\" >>'" << dir_ << "/args'; done\n"
               << "[ -f '" << dir_ << "/answer' ] || exit 1\n"
               << "cat '" << dir_ << "/answer'\n";
        script.close();
        fs::permissions(dir_ + "/bin/zenity", fs::perms::owner_all);
        path_.emplace("PATH", (dir_ + "/bin:" + std::getenv("PATH")).c_str());
        display_.emplace("DISPLAY", ":99");
        noDialogs_.emplace("KV_NO_DIALOGS", nullptr);
        g_RunFlags.headless = false;
        previousHook_ = Platform_SetDialogAnswerHook(nullptr);
    }
    void TearDown() override
    {
        Platform_SetDialogAnswerHook(previousHook_);
        fs::remove_all(dir_);
    }

    void Answer(const std::optional<std::string>& printed)
    {
        fs::remove(dir_ + "/answer");
        fs::remove(dir_ + "/args");
        if (printed) std::ofstream(dir_ + "/answer", std::ios::binary) << *printed;
    }
    Args SeenArgs()
    {
        Args args;
        std::string all = ReadWhole(dir_ + "/args");
        for (size_t at = 0; at < all.size();) {
            size_t end = all.find('\0', at);
            args.push_back(all.substr(at, end - at));
            at = end + 1;
        }
        return args;
    }

    std::string dir_;
    std::optional<kvtest::ScopedEnv> path_, display_, noDialogs_;
    DialogAnswerHook previousHook_ = nullptr;
};

TEST_F(FileDialogs, ArgumentsAndAnswersOfTheChooser)
{
    const char* kImages = "Images|*.png;*.jpg|All|*.*";
    std::string kLong;  // 600 bytes of folders with non-ASCII names
    while (kLong.size() + 11 <= 590) kLong += "/d\xC3\xA9j\xC3\xA0-\xE6\x96\x87";
    kLong += "/";
    kLong += std::string(600 - kLong.size(), 'f');
    ASSERT_EQ(kLong.size(), 600u);
    struct Case {
        const char* name;
        bool save;
        const char* filter;
        const char* defaultName;
        const char* directory;
        const char* title;
        std::optional<std::string> printed;  // nullopt: cancelled
        Args args;
        const char* result;  // null: no path
    } cases[] = {
        {"open: two filters, name joined to folder", false, kImages, "pic.png", "/home/p/shots", "Pick one",
         "/home/p/shots/a.jpg\n",
         {"--file-selection", "--title=Pick one", "--filename=/home/p/shots/pic.png", "--file-filter=Images | *.png *.jpg",
          "--file-filter=All | *"},
         "/home/p/shots/a.jpg"},
        {"save: overwrite asked, png proposed and added", true, kImages, "shot", "/tmp/", "Save it", "/tmp/out\n",
         {"--file-selection", "--title=Save it", "--save", "--confirm-overwrite", "--filename=/tmp/shot",
          "--file-filter=Images | *.png *.jpg", "--file-filter=All | *"},
         "/tmp/out.png"},
        {"save: a name with its own extension keeps it", true, kImages, nullptr, nullptr, nullptr, "/tmp/out.jpg\n",
         {"--file-selection", "--title=Save As", "--save", "--confirm-overwrite", "--file-filter=Images | *.png *.jpg",
          "--file-filter=All | *"},
         "/tmp/out.jpg"},
        {"save: a dot in a folder is not an extension", true, "Text|*.txt", nullptr, "/a.b", nullptr, "/a.b/notes\n",
         {"--file-selection", "--title=Save As", "--save", "--confirm-overwrite", "--filename=/a.b/",
          "--file-filter=Text | *.txt"},
         "/a.b/notes.txt"},
        {"cancel gives null", false, kImages, "x", nullptr, "T", std::nullopt,
         {"--file-selection", "--title=T", "--filename=x", "--file-filter=Images | *.png *.jpg", "--file-filter=All | *"},
         nullptr},
        {"save cancelled gives null too", true, nullptr, nullptr, nullptr, nullptr, std::nullopt,
         {"--file-selection", "--title=Save As", "--save", "--confirm-overwrite"}, nullptr},
        {"every argument null", false, nullptr, nullptr, nullptr, nullptr, "/f\n", {"--file-selection", "--title=Open"}, "/f"},
        {"odd field count: the last description gets *", false, "Text|*.txt|Everything", nullptr, nullptr, "T", "/f\n",
         {"--file-selection", "--title=T", "--file-filter=Text | *.txt", "--file-filter=Everything | *"}, "/f"},
        {"no bar at all, and a pattern without a dot", false, "Makefiles", nullptr, nullptr, "T", "/f\n",
         {"--file-selection", "--title=T", "--file-filter=Makefiles | *"}, "/f"},
        {"patterns without a dot pass as they are", false, "Make|Makefile;GNUmakefile", nullptr, nullptr, "T", "/f\n",
         {"--file-selection", "--title=T", "--file-filter=Make | Makefile GNUmakefile"}, "/f"},
        {"quotes and leading dashes stay inside their element", false, "-a \"b\"|*.x", "--help", "-d 'q'", "--version",
         "/f\n",
         {"--file-selection", "--title=--version", "--filename=-d 'q'/--help", "--file-filter=-a \"b\" | *.x"}, "/f"},
        {"non-ASCII names", true, "Bilder|*.png", "\xC3\xBC" "ber", "/h\xC3\xA9", "Sp\xC3\xA9" "cial", "/h\xC3\xA9/\xE6\x96\x87\n",
         {"--file-selection", "--title=Sp\xC3\xA9" "cial", "--save", "--confirm-overwrite", "--filename=/h\xC3\xA9/\xC3\xBC" "ber",
          "--file-filter=Bilder | *.png"},
         "/h\xC3\xA9/\xE6\x96\x87.png"},
        {"600 bytes back whole", false, nullptr, nullptr, nullptr, "T", kLong + "\n", {"--file-selection", "--title=T"},
         kLong.c_str()},
        {"nothing printed is no path", false, nullptr, nullptr, nullptr, "T", "", {"--file-selection", "--title=T"},
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Answer(c.printed);
        const std::string before = Cwd();
        const char* got = c.save ? ShowSaveFileDialog(c.filter, c.defaultName, c.directory, c.title)
                                 : ShowOpenFileDialog(c.filter, c.defaultName, c.directory, c.title);
        EXPECT_EQ(Cwd(), before);
        EXPECT_EQ(SeenArgs(), c.args);
        if (c.result) {
            ASSERT_NE(got, nullptr);
            EXPECT_EQ(std::string(got), c.result);
        } else {
            EXPECT_EQ(got, nullptr);
        }
    }
}

TEST_F(FileDialogs, DefaultExtensionOfTheSaveDialog)
{
    struct Case {
        const char* filter;
        const char* extension;
    } cases[] = {
        {"Images|*.png;*.jpg|All|*.*", "png"},
        {"Text|*.txt", "txt"},
        {"Archives|*.tar.gz", "tar.gz"},
        {"A|*.ab cd", "ab"},
        {"A|*.ab|B|*.cd", "ab"},
        {"Any|*.*", ""},       // a wildcard is no extension
        {"No bar *.png", ""},  // the dot must follow the first bar
        {"A|file|B|*.png", "png"},
        {"A|", ""},
        {"", ""},
        {nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter ? c.filter : "(null)");
        EXPECT_EQ(std::string(FileDialog_DefaultExtension(c.filter)), c.extension);
    }
}

struct SeenRequest {
    std::string kind, caption, text, defaultText;
};
std::vector<SeenRequest> g_requests;
bool g_hookAccepts = true;

bool RecordingAnswer(const DialogRequest& request, DialogAnswer* answer)
{
    g_requests.push_back({request.kind, request.caption ? request.caption : "", request.text ? request.text : "",
                          request.defaultText ? request.defaultText : ""});
    answer->accepted = g_hookAccepts;
    answer->text = g_hookAccepts ? "/scripted/name" : "";
    return true;
}

TEST_F(FileDialogs, TheAnswerSourceIsAskedFirstAndTheChooserNotRun)
{
    g_requests.clear();
    Answer("/from/chooser\n");
    Platform_SetDialogAnswerHook(RecordingAnswer);
    for (bool accepts : {true, false}) {
        g_hookAccepts = accepts;
        // One buffer for both dialogs: each result is taken before the next dialog.
        const char* open = ShowOpenFileDialog("A|*.a", "n", "/d", "Title");
        const std::string openText = open ? open : "(null)";
        const char* save = ShowSaveFileDialog("B|*.bmp", nullptr, nullptr, nullptr);
        const std::string saveText = save ? save : "(null)";
        EXPECT_EQ(openText, accepts ? "/scripted/name" : "(null)");
        EXPECT_EQ(saveText, accepts ? "/scripted/name.bmp" : "(null)");
    }
    EXPECT_FALSE(fs::exists(dir_ + "/args"));
    ASSERT_EQ(g_requests.size(), 4u);
    EXPECT_EQ(g_requests[0].kind, "open");
    EXPECT_EQ(g_requests[0].caption, "Title");
    EXPECT_EQ(g_requests[0].defaultText, "/d/n");
    EXPECT_EQ(g_requests[1].kind, "save");
    EXPECT_EQ(g_requests[1].caption, "Save As");
}

TEST_F(FileDialogs, NobodyToAskOrNoChooserLogsOneLineAndGivesNull)
{
    Answer("/from/chooser\n");
    struct Case {
        const char* name;
        const char* noDialogs;
        bool headless;
        const char* display;
        bool chooserOnPath;
    } cases[] = {
        {"KV_NO_DIALOGS=1", "1", false, ":99", true},
        {"-headless", nullptr, true, ":99", true},
        {"no display", nullptr, false, nullptr, true},
        {"no chooser installed", nullptr, false, ":99", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kvtest::ScopedEnv noDialogs("KV_NO_DIALOGS", c.noDialogs);
        kvtest::ScopedEnv display("DISPLAY", c.display);
        kvtest::ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
        kvtest::ScopedEnv path("PATH", c.chooserOnPath ? (dir_ + "/bin").c_str() : "/nonexistent");
        g_RunFlags.headless = c.headless;
        for (bool save : {false, true}) {
            testing::internal::CaptureStderr();
            const char* got = save ? ShowSaveFileDialog("A|*.a", nullptr, nullptr, "T")
                                   : ShowOpenFileDialog("A|*.a", nullptr, nullptr, "T");
            const std::string log = testing::internal::GetCapturedStderr();
            EXPECT_EQ(got, nullptr);
            EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
            EXPECT_EQ(log.rfind("T: ", 0), 0u) << log;
        }
        // Refused exactly when the game-file chooser is.
        bool offered = false;
        testing::internal::CaptureStderr();
        char* game = ChooseGameFile(&offered);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(game, nullptr);
        MemFree(game);
        g_RunFlags.headless = false;
    }
    EXPECT_FALSE(fs::exists(dir_ + "/args"));
}

// ---- the message box ------------------------------------------------------------------------------------

std::vector<MessageBoxRequest> g_boxes;
std::vector<std::string> g_boxCaptions;

int RecordingBox(const MessageBoxRequest& request)
{
    g_boxes.push_back(request);
    g_boxCaptions.push_back(request.caption ? request.caption : "(null)");
    return MB_ANSWER_OK;
}

TEST(MessageBox, CaptionIsTheWindowsOrTheGamesNameAndTheAnswerIsOne)
{
    g_boxes.clear();
    g_boxCaptions.clear();
    MessageBoxHook previous = Platform_SetMessageBoxHook(RecordingBox);
    char* savedName = g_GameData.displayName;

    g_GameData.displayName = nullptr;
    Window_ResetState();
    EXPECT_EQ(ShowMessageBox("before the header"), 1);
    EXPECT_TRUE(Window_NotYetShown);  // a window made later still gets its first show
    char name[] = "Game \xC3\xA9 Name";
    g_GameData.displayName = name;
    EXPECT_EQ(ShowMessageBox("no window yet"), 1);

    kvtest::FakeWindowPlatform fake;
    Window_ResetState();
    WindowPlatform_Set(&fake);
    ASSERT_TRUE(Window_Create(320, 240));
    Window_SetCaption("Room \"3\" caption");
    EXPECT_EQ(ShowMessageBox("with a window"), 1);
    // The box comes after the window was made fit for it (shown once).
    EXPECT_FALSE(Window_NotYetShown);
    Window_Destroy();
    WindowPlatform_Set(nullptr);
    Window_ResetState();

    g_GameData.displayName = savedName;
    Platform_SetMessageBoxHook(previous);
    EXPECT_EQ(g_boxCaptions, (std::vector<std::string>{"Made with Kelvane: Studio", "Game \xC3\xA9 Name",
                                                        "Room \"3\" caption"}));
    ASSERT_EQ(g_boxes.size(), 3u);
    EXPECT_EQ(g_boxes[2].buttons, MB_BUTTONS_OK);
}

TEST(MessageBox, RefusedBoxesAreLoggedAndAnswerOne)
{
    for (const char* how : {"KV_NO_DIALOGS", "-headless"}) {
        SCOPED_TRACE(how);
        const bool headless = std::string(how) == "-headless";
        kvtest::ScopedEnv noDialogs("KV_NO_DIALOGS", headless ? nullptr : "1");
        kvtest::ScopedEnv display("DISPLAY", ":99");
        g_RunFlags.headless = headless;
        testing::internal::CaptureStderr();
        EXPECT_EQ(ShowMessageBox("logged text"), 1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Made with Kelvane: Studio: logged text\n");
        g_RunFlags.headless = false;
    }
}

}  // namespace
}  // namespace dialogs_test
