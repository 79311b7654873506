#include "core/console.h"
#include "game/game_link.h"
#include "world/command_line.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

struct ConsoleProbeRun {
    int status = -1;
    std::string out;
};

ConsoleProbeRun RunConsoleProbe(const std::string& args)
{
    ConsoleProbeRun run;
    std::string command = kvtest::ProbePath("console_probe") + " " + args;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
    int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

bool ConsoleFileExists(const std::string& name) { return std::filesystem::exists(kvtest::ScratchDir() + "/" + name); }
std::string ConsoleFile(const std::string& name) { return kvtest::ReadFile(kvtest::ScratchDir() + "/" + name); }

const char kRelease1[] = "release line 1\n";
const char kDebug1[] = "debug line one\n";
const char kRelease2[] = "release text <%s%n%x> 2\n";
const char kDebug2[] = "debug text <100% %n%x%%>\n";

TEST(Console, EachFileHoldsExactlyItsConsolesLinesAsOnStandardOutput)
{
    ConsoleProbeRun run = RunConsoleProbe("lines -output r1.log -debugoutput d1.log");
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string(kRelease1) + kDebug1 + kRelease2 + kDebug2);
    EXPECT_EQ(ConsoleFile("r1.log"), std::string(kRelease1) + kRelease2);
    EXPECT_EQ(ConsoleFile("d1.log"), std::string(kDebug1) + kDebug2);
}

TEST(Console, HeadlessKeepsStandardOutputEmptyButWritesBothFiles)
{
    ConsoleProbeRun run = RunConsoleProbe("lines -headless -output r2.log -debugoutput d2.log");
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(ConsoleFile("r2.log"), std::string(kRelease1) + kRelease2);
    EXPECT_EQ(ConsoleFile("d2.log"), std::string(kDebug1) + kDebug2);
}

TEST(Console, FilesAreAppendedToAndOnlyNamedFilesAreWritten)
{
    for (int pass = 0; pass < 2; ++pass) ASSERT_EQ(RunConsoleProbe("lines -output r3.log").status, 0);
    EXPECT_EQ(ConsoleFile("r3.log"), std::string(kRelease1) + kRelease2 + kRelease1 + kRelease2);

    // Neither switch: no file appears; a file that cannot be opened is skipped without a word.
    auto before = std::distance(std::filesystem::directory_iterator(kvtest::ScratchDir()), {});
    ConsoleProbeRun plain = RunConsoleProbe("lines");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(kvtest::ScratchDir()), {}), before);
    ConsoleProbeRun missing = RunConsoleProbe("lines -output no/such/folder/r.log -debugoutput no/d.log");
    EXPECT_EQ(missing.status, 0);
    EXPECT_EQ(missing.out, plain.out);
    EXPECT_FALSE(ConsoleFileExists("no"));
}

TEST(Console, LongLineIsPrintedWholeAndCutInTheFile)
{
    ConsoleProbeRun run = RunConsoleProbe("long -output r4.log -debugoutput d4.log");
    ASSERT_EQ(run.status, 0);
    const size_t lineBytes = (1u << 20) + 1;
    ASSERT_EQ(run.out.size(), 2 * lineBytes);
    EXPECT_EQ(run.out.substr(0, lineBytes), run.out.substr(lineBytes));
    EXPECT_EQ(run.out[lineBytes - 1], '\n');
    EXPECT_EQ(ConsoleFile("r4.log"), run.out.substr(0, TConsole::kLineCapacity - 1));
    EXPECT_EQ(ConsoleFile("d4.log"), run.out.substr(0, TConsole::kLineCapacity - 1));
}

// Every line of text is "T<t> <nnnn> " and 150 copies of 'A' + t, and each thread's numbers run in order.
void ExpectWholeThreadLines(const std::string& text, int expectedLines)
{
    std::istringstream in(text);
    std::string line;
    int count = 0, next[4] = {0, 0, 0, 0};
    while (std::getline(in, line)) {
        ++count;
        ASSERT_EQ(line.size(), 8u + 150u) << line;
        int t = line[1] - '0';
        ASSERT_TRUE(line[0] == 'T' && t >= 0 && t < 4) << line;
        ASSERT_EQ(line.substr(2, 6), " " + std::string(4 - std::to_string(next[t]).size(), '0') +
                                         std::to_string(next[t]) + " ")
            << line;
        ASSERT_EQ(line.substr(8), std::string(150, static_cast<char>('A' + t))) << line;
        next[t] += 1;
    }
    EXPECT_EQ(count, expectedLines);
}

TEST(Console, LinesFromSeveralThreadsStayWhole)
{
    ConsoleProbeRun run = RunConsoleProbe("threads -output r5.log -debugoutput d5.log");
    ASSERT_EQ(run.status, 0);
    // Standard output carries each line twice (both consoles), so per-thread order is not checked there.
    std::istringstream in(run.out);
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        ++count;
        ASSERT_EQ(line.size(), 158u);
        ASSERT_EQ(line.substr(8), std::string(150, line[1] - '0' + 'A'));
    }
    EXPECT_EQ(count, 2 * 4 * 300);
    ExpectWholeThreadLines(ConsoleFile("r5.log"), 4 * 300);
    ExpectWholeThreadLines(ConsoleFile("d5.log"), 4 * 300);
}

// Points the switches at a scratch file for one test and silences standard output.
class ConsoleSwitches {
public:
    explicit ConsoleSwitches(const std::string& file) : file_(kvtest::ScratchDir() + "/" + file), saved_(g_RunFlags)
    {
        g_RunFlags.headless = true;
        g_RunFlags.outputFile = file_.data();
        g_RunFlags.debugOutputFile = file_.data();
    }
    ~ConsoleSwitches()
    {
        g_RunFlags.headless = saved_.headless;
        g_RunFlags.outputFile = saved_.outputFile;
        g_RunFlags.debugOutputFile = saved_.debugOutputFile;
    }
    const std::string& path() const { return file_; }

private:
    std::string file_;
    RunFlags saved_;
};

TEST(Console, NoFormatWritesNothingAndNulBytesReachTheFile)
{
    ConsoleSwitches switches("inproc.log");
    TConsole console(false);
    const char* volatile noFormat = nullptr;
    console.Output(noFormat, 0);
    EXPECT_FALSE(std::filesystem::exists(switches.path()));

    // The file gets the formatted length, as standard output does, not the text up to a NUL.
    console.Output("a%cb\n", 0);
    EXPECT_EQ(kvtest::ReadFile(switches.path()), std::string("a\0b\n", 4));
    EXPECT_TRUE(console.Query(0, 0));
}

TEST(Console, ErrStreamConsoleKeepsEverythingItIsFed)
{
    TErrStreamConsole console;
    EXPECT_STREQ(console.Text(), "");
    EXPECT_EQ(console.Capacity(), TErrStreamConsole::kInitialCapacity);

    std::string expected;
    for (int i = 0; i < 200; ++i) {
        std::string piece(1000, static_cast<char>('a' + i % 26));
        console.Output("%04d%s", i, piece.c_str());
        expected += (i < 10 ? "000" : i < 100 ? "00" : "0") + std::to_string(i) + piece;
    }
    ASSERT_EQ(console.Length(), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(std::string(console.Text()), expected);
    EXPECT_GT(console.Capacity(), console.Length() + 1);

    // One piece is cut at its 16 KB scratch; a formatted NUL ends the piece.
    std::string big(40000, 'z');
    console.Output("%s", big.c_str());
    console.Output("x%cy", 0);
    expected += std::string(TErrStreamConsole::kPieceCapacity - 1, 'z') + "x";
    EXPECT_EQ(std::string(console.Text()), expected);
    EXPECT_EQ(console.Length(), static_cast<int32_t>(std::strlen(console.Text())));
}

TEST(Console, StackTraceChainFollowsTheHeadVariableInUse)
{
    StackTraceFrame** privateHead = StackTrace_HeadVariable();
    ASSERT_NE(privateHead, nullptr);
    EXPECT_EQ(StackTrace_Current(), nullptr);

    GameLinkData link;
    Game_GetLinkData(&link);
    ASSERT_NE(link.stackTraceHead, nullptr);
    ASSERT_NE(link.stackTraceHead, privateHead);
    StackTrace_SetHead(link.stackTraceHead);
    EXPECT_EQ(StackTrace_HeadVariable(), link.stackTraceHead);

    StackTraceFrame script, builtin;
    StackTrace_Push(&script, "ksl_Script_scr_gameover", 7);
    StackTrace_Push(&builtin, "show_debug_message", -1);
    EXPECT_EQ(*link.stackTraceHead, &builtin);
    EXPECT_EQ(builtin.previous, &script);
    EXPECT_EQ(script.previous, nullptr);
    EXPECT_EQ(*privateHead, nullptr);

    StackTraceFrame::Pop(&builtin);
    EXPECT_EQ(StackTrace_Current(), &script);
    EXPECT_STREQ(StackTrace_Current()->codeName, "ksl_Script_scr_gameover");
    EXPECT_EQ(StackTrace_Current()->line, 7);
    StackTraceFrame::Pop(&script);
    EXPECT_EQ(*link.stackTraceHead, nullptr);

    StackTrace_SetHead(nullptr);
    EXPECT_EQ(StackTrace_HeadVariable(), privateHead);
}

}  // namespace
