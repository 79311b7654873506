#include "world_test_util.h"

#include "core/text.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <initializer_list>
#include <pwd.h>
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

// Stands in for the password entry while it lives.
class ScopedHomeLookup {
public:
    explicit ScopedHomeLookup(const char* (*lookup)()) { Paths_SetHomeLookup(lookup); }
    ~ScopedHomeLookup() { Paths_SetHomeLookup(nullptr); }
    ScopedHomeLookup(const ScopedHomeLookup&) = delete;
    ScopedHomeLookup& operator=(const ScopedHomeLookup&) = delete;
};

const char* PasswdHome() { return "/home/from-passwd"; }
const char* NoPasswdHome() { return nullptr; }
const char* RelativePasswdHome() { return "home/relative"; }

TEST_F(Paths, WithoutHomeOrXdgThePasswordEntryGivesTheHome)
{
    struct Case {
        const char* (*lookup)();
        const char* homeVar;
        uint32_t windowFlags;
        const char* expected;
    } cases[] = {
        {PasswdHome, nullptr, 0, "/home/from-passwd/.local/share/Tw/"},
        {PasswdHome, "", 0x2000, "/home/from-passwd/.config/Tw/"},
        {PasswdHome, "relative", 0, "/home/from-passwd/.local/share/Tw/"},
        {PasswdHome, "/home/player", 0, "/home/player/.local/share/Tw/"},  // HOME comes first
        {RelativePasswdHome, nullptr, 0, ""},
        {NoPasswdHome, nullptr, 0, ""},
    };
    kvtest::ScopedEnv data("XDG_DATA_HOME", nullptr);
    kvtest::ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    for (const Case& c : cases) {
        kvtest::ScopedEnv home("HOME", c.homeVar);
        ScopedHomeLookup lookup(c.lookup);
        Paths_ResetAll();
        SetProject("Tw");
        g_WindowFlags = c.windowFlags;
        testing::internal::CaptureStdout();
        EXPECT_EQ(std::string(GetSavePrePend()), c.expected) << c.expected;
        testing::internal::GetCapturedStdout();
    }
}

TEST_F(Paths, TheRealPasswordEntryIsAsked)
{
    const passwd* pw = getpwuid(getuid());
    if (!pw || !pw->pw_dir || pw->pw_dir[0] != '/') GTEST_SKIP() << "this user has no home in the password entry";
    kvtest::ScopedEnv data("XDG_DATA_HOME", nullptr);
    kvtest::ScopedEnv home("HOME", nullptr);
    std::string expected = std::string(pw->pw_dir) + "/.local/share/Tw/";
    SetProject("Tw");
    testing::internal::CaptureStdout();
    EXPECT_EQ(std::string(GetSavePrePend()), expected);
    testing::internal::GetCapturedStdout();
}

TEST_F(Paths, WritesAreRefusedOnlyWhenNoHomeIsKnown)
{
    kvtest::ScopedEnv data("XDG_DATA_HOME", nullptr);
    kvtest::ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    kvtest::ScopedEnv home("HOME", nullptr);
    ScopedHomeLookup lookup(NoPasswdHome);
    const std::string refused = "Error! no home folder to keep saves in, not writing 'save.ini'\n";
    struct Case {
        const char* project;
        const char* installedPrefix;  // as a game change would, or null
        bool allowed;
        std::string log;
    } cases[] = {
        {"Tw", nullptr, false, refused},
        {"", nullptr, true, ""},  // no project: nothing asked for a save folder
        {"Tw", "/saves/Next/", true, ""},
    };
    for (const Case& c : cases) {
        Paths_ResetAll();
        SetProject(c.project);
        if (c.installedPrefix) SavePrePend_Set(c.installedPrefix);
        testing::internal::CaptureStdout();
        EXPECT_EQ(SavePrePend_AllowsWrite("save.ini"), c.allowed) << c.project;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.log) << c.project;
    }
    // A home that turns up later is used: the refusal is not cached.
    Paths_ResetAll();
    SetProject("Tw");
    kvtest::ScopedEnv later("HOME", "/home/later");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(SavePrePend_AllowsWrite("save.ini"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "SavePrePend = /home/later/.local/share/Tw/\n");
}

// Links in and around an area folder:
//   base/area/            the area; sub/ and sub/data inside it
//   base/outside/secret   a file the area must not reach
class LinksAroundAnArea : public testing::Test {
protected:
    void SetUp() override
    {
        static int counter = 0;
        base_ = kvtest::ScratchDir() + "/links" + std::to_string(++counter);
        area_ = base_ + "/area";
        outside_ = base_ + "/outside";
        fs::remove_all(base_);
        fs::create_directories(area_ + "/sub");
        fs::create_directories(outside_);
        kvtest::WriteFile(area_ + "/sub/data", "inside");
        kvtest::WriteFile(outside_ + "/secret", "secret");
        for (const auto& [link, target] : std::initializer_list<std::pair<const char*, std::string>>{
                 {"out-dir", "../outside"},
                 {"out-abs", outside_},
                 {"out-file", outside_ + "/secret"},
                 {"out-new", outside_ + "/created"},  // dangling: a write would create the target
                 {"up", ".."},
                 {"loop", "loop"},
                 {"in-dir", "sub"},
                 {"in-abs", area_ + "/sub"},
                 {"in-file", "sub/data"},
                 {"sub/back", "../../outside"},
                 {"sub/self", "../sub"},
             })
            ASSERT_EQ(symlink(target.c_str(), (area_ + "/" + link).c_str()), 0) << link;
        ASSERT_EQ(symlink("area", (base_ + "/area-link").c_str()), 0);
    }
    void TearDown() override
    {
        ASSERT_EQ(chdir(kvtest::ScratchDir().c_str()), 0);
        fs::remove_all(base_);
    }
    std::string In(const char* name) const { return area_ + "/" + name; }
    std::string base_, area_, outside_;
};

struct LinkCase {
    const char* name;  // below the area
    bool inside;
};
const LinkCase kLinkCases[] = {
    {"plain", true},
    {"sub/data", true},
    {"new/deeper/file", true},  // missing folders a write creates
    {"in-dir/data", true},
    {"in-dir/new", true},
    {"in-abs/data", true},
    {"in-file", true},
    {"sub/self/self/data", true},
    {"out-dir/secret", false},
    {"out-dir/new", false},
    {"out-abs/secret", false},
    {"out-file", false},
    {"out-new", false},
    {"out-dir/new/deeper", false},
    {"sub/back/secret", false},
    {"up/outside/secret", false},
    {"loop/x", false},
    {"in-dir/../../outside/secret", false},
    {"out-dir/../area/plain", true},    // the folder above the link's target is base: area is inside it
    {"out-dir/../plain", false},        // folded as text this is area/plain; the kernel reaches base/plain
    {"sub/back/../area/sub/data", true},
    {"sub/data/x", true},               // a file used as a folder: the open fails, nothing leaves
    {"missing/../out-dir/secret", false},  // links after a folded missing part still count
};

TEST_F(LinksAroundAnArea, FollowedPathsMustStayInside)
{
    for (const LinkCase& c : kLinkCases)
        EXPECT_EQ(Paths_StaysInside(area_.c_str(), In(c.name).c_str()), c.inside) << c.name;
    // The area reached through a link of its own, and relative names from inside it.
    std::string viaLink = base_ + "/area-link";
    EXPECT_TRUE(Paths_StaysInside(viaLink.c_str(), (viaLink + "/in-dir/data").c_str()));
    EXPECT_TRUE(Paths_StaysInside(area_.c_str(), (viaLink + "/plain").c_str()));
    EXPECT_FALSE(Paths_StaysInside(viaLink.c_str(), (viaLink + "/out-file").c_str()));
    ASSERT_EQ(chdir(area_.c_str()), 0);
    EXPECT_TRUE(Paths_StaysInside(area_.c_str(), "in-dir/data"));
    EXPECT_FALSE(Paths_StaysInside(area_.c_str(), "out-dir/secret"));
    EXPECT_FALSE(Paths_StaysInside(area_.c_str(), "../outside/secret"));
    // A sibling that shares the area's leading bytes is not inside it.
    fs::create_directories(area_ + "-2");
    EXPECT_FALSE(Paths_StaysInside(area_.c_str(), (area_ + "-2/x").c_str()));
    // An area folder that does not exist yet: the first write creates it.
    std::string fresh = base_ + "/fresh/area";
    EXPECT_TRUE(Paths_StaysInside(fresh.c_str(), (fresh + "/save.ini").c_str()));
    EXPECT_FALSE(Paths_StaysInside(fresh.c_str(), (base_ + "/fresh/save.ini").c_str()));
}

TEST_F(LinksAroundAnArea, WritesOpenOnlyInside)
{
    for (const LinkCase& c : kLinkCases) {
        if (std::string_view(c.name) == "new/deeper/file") continue;  // opening makes no folders
        int fd = Paths_OpenInside(area_.c_str(), In(c.name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int error = errno;
        if (fd >= 0) {
            EXPECT_EQ(write(fd, "w", 1), 1);
            close(fd);
        }
        if (!c.inside) {
            EXPECT_LT(fd, 0) << c.name;
            EXPECT_EQ(error, EXDEV) << c.name;
        } else if (std::string_view(c.name) == "sub/data/x") {
            EXPECT_LT(fd, 0) << c.name;
        } else {
            EXPECT_GE(fd, 0) << c.name << ": " << std::strerror(error);
        }
    }
    EXPECT_EQ(kvtest::ReadFile(outside_ + "/secret"), "secret");
    EXPECT_FALSE(fs::exists(outside_ + "/created"));
    EXPECT_FALSE(fs::exists(outside_ + "/new"));
    EXPECT_FALSE(fs::exists(base_ + "/plain"));
    EXPECT_EQ(kvtest::ReadFile(area_ + "/sub/data"), "w");  // written through in-file and its friends
    EXPECT_EQ(kvtest::ReadFile(area_ + "/sub/new"), "w");   // created through the in-dir link
}

TEST_F(LinksAroundAnArea, ReadsOpenOnlyInside)
{
    int fd = Paths_OpenInside(area_.c_str(), In("out-file").c_str(), O_RDONLY, 0);
    EXPECT_LT(fd, 0);
    EXPECT_EQ(errno, EXDEV);
    fd = Paths_OpenInside(area_.c_str(), In("in-file").c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    char text[8] = {};
    EXPECT_EQ(read(fd, text, sizeof text), 6);
    EXPECT_STREQ(text, "inside");
    close(fd);
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
