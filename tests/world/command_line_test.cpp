#include "world_test_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ParseCase {
    const char* raw;
    const char* tokens;  // argument table joined by '|'
    const char* state;   // DescribeRunState() after the parse
};

const ParseCase kParseCases[] = {
    {"prog", "prog", ""},
    {"prog -debug", "prog|-debug", "debug=1 overlay=2 physicshook=1"},
    {"prog -trace", "prog|-trace", "trace=1"},
    {"prog -ext", "prog|-ext", "ext=1"},
    {"prog -noerrors", "prog|-noerrors", "errordialogs=0"},
    {"prog -oldexec", "prog|-oldexec", "exec=0"},
    {"prog -noaudio", "prog|-noaudio", "audio=0"},
    {"prog -inawindow", "prog|-inawindow", "inawindow=1"},
    {"prog -game a.win", "prog|-game|a.win", "game=a.win"},
    {"prog -exit b.win", "prog|-exit|b.win", "exit=b.win"},
    {"prog -dir d", "prog|-dir|d", "dir=d"},
    {"prog -record r.rec", "prog|-record|r.rec", "record=1 recordfile=r.rec"},
    {"prog -playback p.rec", "prog|-playback|p.rec", "playback=1 recordfile=p.rec"},
    {"prog -steam", "prog|-steam", "steam=1"},
    {"prog -software", "prog|-software", "software=1"},
    {"prog -intel", "prog|-intel", "intel=1"},
    {"prog -audiodebug", "prog|-audiodebug", "audiodebug=1 overlay=16"},
    {"prog -debug -audiodebug", "prog|-debug|-audiodebug", "debug=1 audiodebug=1 overlay=18 physicshook=1"},
    {"prog -networkdebug", "prog|-networkdebug", "networkdebug=1"},
    {"prog -vanillaGFX", "prog|-vanillaGFX", "vanillaGFX=1"},
    {"prog -output o.log", "prog|-output|o.log", "output=o.log"},
    {"prog -debugoutput d.log", "prog|-debugoutput|d.log", "debugoutput=d.log"},
    {"prog -headless", "prog|-headless", "headless=1"},
    {"prog -profiledump p.csv 30", "prog|-profiledump|p.csv|30", "profiledump=p.csv,30"},
    {"prog -profiledump p.csv abc", "prog|-profiledump|p.csv|abc", "profiledump=p.csv,0"},
    {"prog -sleepmargin 0", "prog|-sleepmargin|0", "sleepmargin=0"},
    {"prog -sleepmargin 25", "prog|-sleepmargin|25", "sleepmargin=25"},
    {"prog -sleepmargin abc", "prog|-sleepmargin|abc", "sleepmargin=0"},
    {"prog -sleepmargin -5", "prog|-sleepmargin|-5", "sleepmargin=0"},
    {"prog -sleepmargin 99999999999", "prog|-sleepmargin|99999999999", "sleepmargin=3000"},
    {"prog -sleepmargin 99999999999999999999999", "prog|-sleepmargin|99999999999999999999999", "sleepmargin=3000"},
    {"prog -multivb", "prog|-multivb", "multivb=1"},
    {"prog -novb", "prog|-novb", "novb=1"},
    {"prog -compresstextures", "prog|-compresstextures", "compresstextures=1"},
    {"prog -manualvsync", "prog|-manualvsync", "manualvsync=1"},
    {"prog -nodirectinput", "prog|-nodirectinput", "nodirectinput=1"},
    {"prog kvplayer://level3/", "prog|kvplayer://level3/", "launch=level3"},
    {"prog kvplayer:level3", "prog|kvplayer:level3", "launch=level3"},
    {"prog kvplayer:", "prog|kvplayer:", "launch="},
    {"prog kvplayer:///", "prog|kvplayer:///", "launch="},
    // Quotes group and vanish; a token may mix quoted and bare parts.
    {"prog ab\"c d\"e", "prog|abc de", ""},
    {"prog -game \"/tmp/my game/data.win\"", "prog|-game|/tmp/my game/data.win", "game=/tmp/my game/data.win"},
    {"prog -game \"\"", "prog|-game|", ""},
    {"\t prog  \t -trace  ", "prog|-trace", "trace=1"},
    {"prog \"a\tb\"", "prog|a\tb", ""},
    {"prog \"unterminated text", "prog|unterminated text", ""},
    // A value option at the end reads an empty value; an empty game file is no game file.
    {"prog -output", "prog|-output", "output="},
    {"prog -game a.win -game", "prog|-game|a.win|-game", ""},
    {"prog -sleepmargin", "prog|-sleepmargin", "sleepmargin=0"},
    // Repeats: the last one wins.
    {"prog -sleepmargin 5 -sleepmargin 7", "prog|-sleepmargin|5|-sleepmargin|7", "sleepmargin=7"},
    {"prog -game a -game b", "prog|-game|a|-game|b", "game=b"},
    {"prog -record r -playback p", "prog|-record|r|-playback|p", "record=1 playback=1 recordfile=p"},
    // -debug counts only while no game file is known.
    {"prog -debug -game a", "prog|-debug|-game|a", "debug=1 game=a overlay=2 physicshook=1"},
    {"prog -game a -debug", "prog|-game|a|-debug", "game=a"},
    {"prog -game -debug", "prog|-game|-debug", "game=-debug"},
    // Names match exactly; unknown tokens stay in the table and change nothing.
    {"prog -DEBUG -vanillagfx -memlog m.log", "prog|-DEBUG|-vanillagfx|-memlog|m.log", ""},
};

class CommandLine : public testing::Test {
protected:
    void SetUp() override { ResetEntryPointState(); }
    void TearDown() override { ResetEntryPointState(); }
};

TEST_F(CommandLine, ParseTable)
{
    for (const ParseCase& c : kParseCases) {
        ResetEntryPointState();
        ParseCommandLine(c.raw);
        EXPECT_EQ(JoinTokens(), c.tokens) << "raw: " << c.raw;
        EXPECT_EQ(DescribeRunState(), c.state) << "raw: " << c.raw;
    }
}

TEST_F(CommandLine, TableKeepsAtMostOneHundredTokens)
{
    for (int n : {99, 100, 101, 5000}) {
        std::string raw;
        for (int i = 0; i < n; ++i) raw += "t" + std::to_string(i) + " ";
        raw += "-trace";  // read even beyond the table
        ParseCommandLine(raw.c_str());
        ASSERT_EQ(g_ArgumentTable.count, 100) << n;
        EXPECT_STREQ(g_ArgumentTable.args[0], "t0");
        EXPECT_STREQ(g_ArgumentTable.args[98], "t98");
        EXPECT_STREQ(g_ArgumentTable.args[99], n == 99 ? "-trace" : "t99");
        EXPECT_TRUE(g_RunFlags.trace) << n;
        RunFlags_ResetAll();
    }
}

TEST_F(CommandLine, NullTextOnlyResetsTheParseSwitches)
{
    ParseCommandLine("prog -debug -noaudio -oldexec -ext -record r -inawindow -software -trace");
    ParseCommandLine(nullptr);
    EXPECT_EQ(JoinTokens(), "prog|-debug|-noaudio|-oldexec|-ext|-record|r|-inawindow|-software|-trace");
    EXPECT_EQ(DescribeRunState(), "trace=1 software=1 recordfile=r physicshook=1");
}

TEST_F(CommandLine, LongTokensGrowTheBuffer)
{
    std::string big(64 * 1024, 'x');
    ParseCommandLine(("prog -game " + big + " -trace").c_str());
    ASSERT_NE(g_GameFile, nullptr);
    EXPECT_EQ(std::string(g_GameFile), big);
    EXPECT_TRUE(g_RunFlags.trace);
}

TEST_F(CommandLine, ArgvRoundTripsThroughTheRawText)
{
    const std::vector<std::vector<const char*>> cases = {
        {"/usr/bin/kelvane"},
        {"/opt/my games/kelvane", "-game", "/home/u/my game/data.win"},
        {"prog", "", "-exit", ""},
        {"prog", "tab\there", "new\nline", "ctl\x01" "byte", "-sleepmargin", "5"},
        {"prog", "ünïcødé", "kvplayer://x/"},
    };
    for (const auto& argv : cases) {
        char* raw = CommandLine_FromArgv(static_cast<int>(argv.size()), argv.data());
        ParseCommandLine(raw);
        MemFree(raw);
        ASSERT_EQ(g_ArgumentTable.count, static_cast<int>(argv.size()));
        for (size_t i = 0; i < argv.size(); ++i) EXPECT_STREQ(g_ArgumentTable.args[i], argv[i]);
        RunFlags_ResetAll();
        GameFile_Set(nullptr);
    }
}

TEST_F(CommandLine, QuotesInsideAnArgumentAreLost)
{
    const char* argv[] = {"prog", "say \"hi\""};
    char* raw = CommandLine_FromArgv(2, argv);
    ParseCommandLine(raw);
    MemFree(raw);
    EXPECT_EQ(JoinTokens(), "prog|say hi");
}

}  // namespace
