#include "world_test_util.h"

#include "core/text.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Unflatten : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = kvtest::ScratchDir() + "/unflatten";
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(chdir(kvtest::ScratchDir().c_str()), 0); }
    static void Make(const std::string& name, const std::string& content = "x") { kvtest::WriteFile(name, content); }
    std::string dir_;
};

TEST_F(Unflatten, MovesNamesIntoTheFoldersTheyName)
{
    Make("art@hero@idle", "idle");
    Make("sound@jump.wav", "jump");
    Make("plain.txt");
    UnflattenFiles();
    EXPECT_EQ(kvtest::ReadFile("art/hero/idle"), "idle");
    EXPECT_EQ(kvtest::ReadFile("sound/jump.wav"), "jump");
    EXPECT_FALSE(fs::exists("art@hero@idle"));
    EXPECT_TRUE(fs::exists("plain.txt"));
}

TEST_F(Unflatten, HiddenReadOnlyAndNonRegularEntriesStay)
{
    Make(".hidden@x");
    Make("readonly@x");
    chmod("readonly@x", 0444);
    fs::create_directory("folder@x");
    Make("target.txt");
    symlink("target.txt", "link@x");
    UnflattenFiles();
    for (const char* stays : {".hidden@x", "readonly@x", "folder@x", "link@x"})
        EXPECT_TRUE(fs::symlink_status(stays).type() != fs::file_type::not_found) << stays;
    EXPECT_FALSE(fs::exists("readonly"));
    EXPECT_FALSE(fs::exists("link"));
    chmod("readonly@x", 0644);
}

TEST_F(Unflatten, UnsafeOrEmptyPartsAndExistingTargetsStay)
{
    fs::create_directories("a");
    Make("a/b", "old");
    Make("a@b", "new");
    const char* unsafe[] = {"..@x", "..@..@x", "a@@b", "@x", "x@", "a@.@b", "a@..@..@x"};
    for (const char* name : unsafe) Make(name);
    std::string longName = std::string(120, 'p') + "@" + std::string(134, 'q');  // 255 bytes
    Make(longName, "long");
    Make("plain.txt@inner", "file-as-folder");
    Make("plain.txt", "a file, not a folder");

    UnflattenFiles();

    EXPECT_EQ(kvtest::ReadFile("a/b"), "old");  // never replaced
    EXPECT_EQ(kvtest::ReadFile("a@b"), "new");
    for (const char* name : unsafe) EXPECT_TRUE(fs::exists(name)) << name;
    EXPECT_FALSE(fs::exists("../x"));
    EXPECT_FALSE(fs::exists(fs::path(dir_).parent_path() / "x"));
    EXPECT_EQ(kvtest::ReadFile(std::string(120, 'p') + "/" + std::string(134, 'q')), "long");
    EXPECT_TRUE(fs::exists("plain.txt@inner"));
    EXPECT_EQ(kvtest::ReadFile("plain.txt"), "a file, not a folder");
}

class Paths : public testing::Test {
protected:
    void SetUp() override { ResetEntryPointState(); }
    void TearDown() override { ResetEntryPointState(); }
    static void SetProject(const char* name)
    {
        MemFree(g_ProjectName);
        g_ProjectName = String_Duplicate(name);
    }
};

TEST_F(Paths, ExecutablePathIsProcSelfExe)
{
    EXPECT_EQ(std::string(GetExecutablePath()), fs::read_symlink("/proc/self/exe").string());
    std::string dir = GetExecutableDirectory();
    EXPECT_EQ(dir, fs::read_symlink("/proc/self/exe").parent_path().string() + "/");
}

TEST_F(Paths, GameFileDirectoryForms)
{
    struct Case {
        const char* gameFile;
        const char* dir;
    } cases[] = {
        {"/games/tw/data.win", "/games/tw/"},
        {"/data.win", "/"},
        {"rel/data.win", "rel/"},
        {"data.win", "/"},
        {"C:\\games\\data.win", "C:\\games/"},
        {"/games/my game/data.win", "/games/my game/"},
    };
    for (const Case& c : cases) {
        GameFile_Set(c.gameFile);
        Paths_ResetRunCache();
        EXPECT_STREQ(GetGameFileDirectory(), c.dir) << c.gameFile;
    }
    GameFile_Set(nullptr);
    Paths_ResetRunCache();
    EXPECT_STREQ(GetGameFileDirectory(), GetExecutableDirectory());
}

TEST_F(Paths, SavePrefixFromTheEnvironment)
{
    const std::string home = kvtest::ScratchDir();
    struct Case {
        const char* xdgData;
        const char* xdgConfig;
        const char* homeVar;
        uint32_t windowFlags;
        const char* project;
        std::string expected;
    } cases[] = {
        {"/xdg/data", "/xdg/config", home.c_str(), 0, "Tumblewing", "/xdg/data/Tumblewing/"},
        {"/xdg/data", "/xdg/config", home.c_str(), 0x2000, "Tumblewing", "/xdg/config/Tumblewing/"},
        {nullptr, nullptr, "/home/player", 0, "Tw", "/home/player/.local/share/Tw/"},
        {nullptr, nullptr, "/home/player", 0x2000, "Tw", "/home/player/.config/Tw/"},
        {"", "", "/home/player", 0, "Tw", "/home/player/.local/share/Tw/"},
        {"relative/data", "relative", "/home/player", 0, "Tw", "/home/player/.local/share/Tw/"},
        {"/xdg/data", nullptr, nullptr, 0, "", ""},
        {"/xdg/data", nullptr, nullptr, 0, "../escape", "/xdg/data/.._escape/"},
        {"/xdg/data", nullptr, nullptr, 0, "a/b", "/xdg/data/a_b/"},
        {"/xdg/data", nullptr, nullptr, 0, "..", "/xdg/data/_/"},
        {"/xdg/data", nullptr, nullptr, 0, ".", "/xdg/data/_/"},
        {"/xdg/data", nullptr, nullptr, 0, "..x", "/xdg/data/..x/"},
    };
    for (const Case& c : cases) {
        kvtest::ScopedEnv data("XDG_DATA_HOME", c.xdgData);
        kvtest::ScopedEnv config("XDG_CONFIG_HOME", c.xdgConfig);
        kvtest::ScopedEnv homeEnv("HOME", c.homeVar);
        Paths_ResetAll();
        SetProject(c.project);
        g_WindowFlags = c.windowFlags;
        EXPECT_EQ(std::string(GetSavePrePend()), c.expected) << c.project << " flags " << c.windowFlags;
    }
}

TEST_F(Paths, SavePrefixWithoutHomeFallsBackToThePasswordEntry)
{
    kvtest::ScopedEnv data("XDG_DATA_HOME", nullptr);
    kvtest::ScopedEnv home("HOME", "");
    SetProject("Tw");
    std::string prefix = GetSavePrePend();
    EXPECT_TRUE(prefix.empty() || (prefix.front() == '/' && prefix.ends_with("/.local/share/Tw/"))) << prefix;
}

TEST_F(Paths, SavePrefixIsLoggedOnceAndCached)
{
    kvtest::ScopedEnv data("XDG_DATA_HOME", "/xdg/data");
    SetProject("Tw");
    testing::internal::CaptureStdout();
    std::string first = GetSavePrePend();
    std::string second = GetSavePrePend();
    SetProject("Other");  // the cached prefix holds for the run
    std::string third = GetSavePrePend();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "SavePrePend = /xdg/data/Tw/\n");
    EXPECT_EQ(first, "/xdg/data/Tw/");
    EXPECT_EQ(second, first);
    EXPECT_EQ(third, first);
}

TEST_F(Paths, EmptyProjectLeavesThePrefixEmptyUntilANameIsKnown)
{
    kvtest::ScopedEnv data("XDG_DATA_HOME", "/xdg/data");
    EXPECT_STREQ(GetSavePrePend(), "");
    SetProject("Tw");
    EXPECT_STREQ(GetSavePrePend(), "/xdg/data/Tw/");
}

}  // namespace
