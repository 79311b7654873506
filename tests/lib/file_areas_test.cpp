#include "lib/file_areas.h"
#include "lib/temp_directory.h"

#include "core/memory_manager.h"
#include "core/text.h"
#include "test_support.h"
#include "world/paths.h"
#include "world/run_state.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <utility>
#include <initializer_list>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string AreasCwd() { return fs::current_path().string(); }

std::string AreasTakeText(char* text)
{
    std::string copy = text ? text : "(null)";
    MemFree(text);
    return copy;
}

// Every root is its own folder below a fresh base, so allow-list entries of one test never match another's
// paths (entries are never removed):
//   base/game/       game root (holds the game file) and the current folder
//   base/run/        a second current folder, outside the game folder
//   base/work/       working directory, when a test sets it
//   base/save/proj/  save root
//   base/outside/    none of them
class FileAreasTest : public testing::Test {
protected:
    void SetUp() override
    {
        static int counter = 0;
        oldCwd_ = AreasCwd();
        base_ = oldCwd_ + "/areas" + std::to_string(++counter);
        game_ = base_ + "/game/";
        run_ = base_ + "/run";
        work_ = base_ + "/work/";
        save_ = base_ + "/save/proj/";
        outside_ = base_ + "/outside/";
        for (const std::string& dir : {game_, run_, work_, save_, outside_}) fs::create_directories(dir);
        GameFile_Set((game_ + "data.win").c_str());
        Paths_ResetAll();
        SavePrePend_Set(save_.c_str());
        oldWorking_ = g_WorkingDirectory;
        g_WorkingDirectory = nullptr;
        Enter(game_);
    }

    void TearDown() override
    {
        ASSERT_EQ(chdir(oldCwd_.c_str()), 0);
        SetWorking(nullptr);
        g_WorkingDirectory = oldWorking_;
        GameFile_Set(nullptr);
        Paths_ResetAll();
    }

    static void Enter(const std::string& dir) { ASSERT_EQ(chdir(dir.c_str()), 0) << dir; }

    // SetUp cleared the global, so whatever it holds here is this test's own copy.
    static void SetWorking(const char* dir)
    {
        MemFree(g_WorkingDirectory);
        g_WorkingDirectory = dir ? String_Duplicate(dir) : nullptr;
    }

    static std::string Game(const char* name, size_t capacity = 2048)
    {
        std::string out(capacity, 'x');  // a missing terminator shows as trailing 'x's
        bool given = GameArea_ResolvePath(out.data(), capacity, name);
        EXPECT_EQ(given, out[0] != '\0');
        return out.c_str();
    }

    // The save-area result and everything the resolution printed.
    static std::string Save(const char* name, std::string* log = nullptr, size_t capacity = 2048)
    {
        std::string out(capacity, 'x');  // a missing terminator shows as trailing 'x's
        testing::internal::CaptureStdout();
        bool given = SaveArea_ResolvePath(out.data(), capacity, name);
        std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(given, out[0] != '\0');
        if (log) *log = printed;
        return out.c_str();
    }

    static std::string Refused(const std::string& full)
    {
        return "Error! not allowing save with filename '" + full + "'\n";
    }
    static std::string Redirected(const std::string& result)
    {
        return "Warning! Save location - redirected to: '" + result + "'\n";
    }

    std::string oldCwd_, base_, game_, run_, work_, save_, outside_;
    char* oldWorking_ = nullptr;
};

TEST_F(FileAreasTest, RelativeNamesLandBelowBothRoots)
{
    struct Case {
        bool fromRun;  // current folder outside the game folder
        const char* name;
        const char* below;  // expected part below either root
    };
    const Case cases[] = {
        {false, "a.txt", "a.txt"},
        {false, "dir/sub/b.dat", "dir/sub/b.dat"},
        {false, "./dir/../c.txt", "c.txt"},
        {false, "dir/", "dir/"},
        {false, ".", ""},
        {true, "a.txt", "a.txt"},
        {true, "dir/sub/b.dat", "dir/sub/b.dat"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.fromRun ? " from run" : " from game"));
        // The current folder is read at each call.
        Enter(c.fromRun ? run_ : game_);
        std::string log;
        EXPECT_EQ(Game(c.name), game_ + c.below);
        EXPECT_EQ(Save(c.name, &log), save_ + c.below);
        EXPECT_EQ(log, "");
    }
}

TEST_F(FileAreasTest, AbsolutePathsInsideKnownFolders)
{
    std::string inGame = game_ + "x/y.txt";
    // Inside the current folder and the game root: unchanged for reading, moved into the save area for writing.
    EXPECT_EQ(Game(inGame.c_str()), inGame);
    EXPECT_EQ(Save(inGame.c_str()), save_ + "x/y.txt");

    // Inside the current folder only: moved below the game root.
    Enter(run_);
    std::string inRun = run_ + "/z.txt";
    EXPECT_EQ(Game(inRun.c_str()), game_ + "z.txt");
    EXPECT_EQ(Save(inRun.c_str()), save_ + "z.txt");

    // Already in the save area: kept for writing, not readable through the game area.
    std::string inSave = save_ + "k/s.sav";
    std::string log;
    EXPECT_EQ(Save(inSave.c_str(), &log), inSave);
    EXPECT_EQ(log, "");
    EXPECT_EQ(Game(inSave.c_str()), "");

    // Below the working directory only once it is known.
    std::string inWork = work_ + "w/f.txt";
    EXPECT_EQ(Game(inWork.c_str()), "");
    EXPECT_EQ(Save(inWork.c_str(), &log), "");
    EXPECT_EQ(log, Refused(inWork));
    SetWorking(work_.c_str());
    EXPECT_EQ(Game(inWork.c_str()), game_ + "w/f.txt");
    EXPECT_EQ(Save(inWork.c_str()), save_ + "w/f.txt");
}

TEST_F(FileAreasTest, OutsidePathsNeedTheMatchingAllowList)
{
    std::string file = outside_ + "Chosen.TXT";
    std::string log;
    EXPECT_EQ(Game(file.c_str()), "");
    EXPECT_EQ(Save(file.c_str(), &log), "");
    EXPECT_EQ(log, Refused(file));

    // A file entry matches whatever the letter case, and only on its own list.
    std::string otherCase = outside_ + "chosen.txt";
    FileArea_AddAllowed(&FileArea_OpenAllowList, otherCase.c_str(), false);
    EXPECT_EQ(Game(file.c_str()), file);
    EXPECT_EQ(Save(file.c_str(), &log), "");
    EXPECT_EQ(log, Refused(file));

    FileArea_AddAllowed(&FileArea_SaveAllowList, otherCase.c_str(), false);
    EXPECT_EQ(Save(file.c_str(), &log), file);
    EXPECT_EQ(log, "");  // nothing was redirected

    // A folder entry matches only with the same case.
    std::string folder = outside_ + "Granted";
    FileArea_AddAllowed(&FileArea_SaveAllowList, folder.c_str(), true);
    std::string inside = folder + "/deep/f.bin";
    EXPECT_EQ(Save(inside.c_str(), &log), inside);
    EXPECT_EQ(log, "");
    std::string wrongCase = outside_ + "granted/deep/f.bin";
    EXPECT_EQ(Save(wrongCase.c_str(), &log), "");
    EXPECT_EQ(log, Refused(wrongCase));
}

TEST_F(FileAreasTest, AllowedSavePathsInsideTheAreasAreRedirected)
{
    struct Case {
        std::string chosen, expected;
    };
    const Case cases[] = {
        {game_ + "picked.sav", save_ + "picked.sav"},  // inside the game folder
        {save_ + "kept.sav", save_ + "kept.sav"},      // already in the save area
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chosen);
        FileArea_AddAllowed(&FileArea_SaveAllowList, c.chosen.c_str(), false);
        std::string log;
        EXPECT_EQ(Save(c.chosen.c_str(), &log), c.expected);
        EXPECT_EQ(log, Redirected(c.expected));
    }
}

TEST_F(FileAreasTest, BadNamesAreRefused)
{
    // "game.." shares its first bytes with the current folder; what follows the shared part is "..", which
    // must not be put under a root.
    fs::create_directories(base_ + "/game../x");
    struct Case {
        const char* name;
        const char* full;  // printed by the save side's refusal; null: refused silently
    };
    std::string parent = base_, sibling = base_ + "/game../x/secret";
    const Case cases[] = {
        {nullptr, nullptr},
        {"", nullptr},
        {"..", parent.c_str()},
        {"../game../x/secret", sibling.c_str()},
        {"../../../../../../../../../../etc/passwd", "/etc/passwd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        std::string log;
        EXPECT_EQ(Game(c.name), "");
        EXPECT_EQ(Save(c.name, &log), "");
        EXPECT_EQ(log, c.full ? Refused(c.full) : "");
    }
    EXPECT_FALSE(SaveArea_WriteFile("../game../x/secret", "x", 1));
    EXPECT_FALSE(fs::exists(sibling));
}

TEST_F(FileAreasTest, SharedLeadingBytesStayInsideTheRoot)
{
    // A plain prefix test: "gamex" begins like "game", and the rest lands below the roots, never beside them.
    std::string got = Game("../gamex/y.txt");
    EXPECT_EQ(got.rfind(game_, 0), 0u) << got;
    got = Save("../gamex/y.txt");
    EXPECT_EQ(got.rfind(save_, 0), 0u) << got;
}

TEST_F(FileAreasTest, ResultsThatDoNotFitAreEmpty)
{
    std::string expected = game_ + "fits.txt";
    EXPECT_EQ(Game("fits.txt", expected.size() + 1), expected);
    EXPECT_EQ(Game("fits.txt", expected.size()), "");

    std::string longName;
    while (longName.size() < 1500) longName += "folder/";
    longName += "f.txt";
    EXPECT_EQ(Game(longName.c_str(), 1024), "");
    std::string log;
    EXPECT_EQ(Save(longName.c_str(), &log, 1024), "");
    EXPECT_EQ(log, "");
    EXPECT_EQ(Save(longName.c_str(), nullptr, 4096), save_ + longName);

    // No buffer to write into.
    EXPECT_FALSE(GameArea_ResolvePath(nullptr, 1024, "a.txt"));
    char one = 'x';
    EXPECT_FALSE(SaveArea_ResolvePath(&one, 0, "a.txt"));
    EXPECT_EQ(one, 'x');
}

TEST_F(FileAreasTest, AllowListMatching)
{
    FileArea_AllowList list;
    FileArea_AddAllowed(&list, "/Data/File.TXT", false);
    FileArea_AddAllowed(&list, "/Data/Dir", true);
    FileArea_AddAllowed(&list, "", true);  // would grant everything
    FileArea_AddAllowed(&list, nullptr, false);
    struct Case {
        const char* path;
        bool allowed, allowedDirectory;
    };
    const Case cases[] = {
        {"/Data/File.TXT", true, false},
        {"/data/file.txt", true, false},
        {"/Data/File.TXT.bak", false, false},
        {"/Data/Dir", true, true},
        {"/Data/Dir/a/b", true, true},
        {"/data/dir/a/b", false, false},
        {"/Data", false, false},
        {"/elsewhere", false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(FileArea_IsAllowed(&list, c.path), c.allowed);
        EXPECT_EQ(FileArea_IsAllowedDirectory(&list, c.path), c.allowedDirectory);
    }
    EXPECT_FALSE(FileArea_IsAllowed(&list, nullptr));
    EXPECT_FALSE(FileArea_IsAllowed(nullptr, "/Data/Dir"));
    // The entry holds its own copy.
    std::string changing = "/Data/Copied";
    FileArea_AddAllowed(&list, changing.c_str(), false);
    changing[1] = 'X';
    EXPECT_TRUE(FileArea_IsAllowed(&list, "/Data/Copied"));

    // The runtime never removes entries; this local list goes away with the test.
    while (FileArea_AllowEntry* entry = list.head) {
        list.head = entry->next;
        MemFree(entry->path);
        MemFree(entry);
    }
}

TEST_F(FileAreasTest, SaveAreaWholeFiles)
{
    const std::string bytes("ab\0cd\r\n", 7);
    ASSERT_TRUE(SaveArea_WriteFile("slot/1/save.dat", bytes.data(), static_cast<int32_t>(bytes.size())));
    EXPECT_EQ(kvtest::ReadFile(save_ + "slot/1/save.dat"), bytes);
    EXPECT_TRUE(SaveArea_FileExists("slot/1/save.dat"));
    EXPECT_FALSE(GameArea_FileExists("slot/1/save.dat"));

    int32_t size = -1;
    void* block = SaveArea_ReadFile("slot/1/save.dat", &size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(block), static_cast<size_t>(size)), bytes);
    MemFree(block);
    size = 77;
    EXPECT_EQ(GameArea_ReadFile("slot/1/save.dat", &size), nullptr);
    EXPECT_EQ(size, 0);

    // Rewriting truncates; an empty file still reads as a block.
    ASSERT_TRUE(SaveArea_WriteFile("slot/1/save.dat", "z", 0));
    EXPECT_EQ(kvtest::ReadFile(save_ + "slot/1/save.dat"), "");
    size = 77;
    block = SaveArea_ReadFile("slot/1/save.dat", &size);
    EXPECT_NE(block, nullptr);
    EXPECT_EQ(size, 0);
    MemFree(block);

    EXPECT_TRUE(SaveArea_DeleteFile("slot/1/save.dat"));
    EXPECT_FALSE(SaveArea_FileExists("slot/1/save.dat"));
    EXPECT_FALSE(SaveArea_DeleteFile("slot/1/save.dat"));
    // Folders are not files: neither deleted nor found.
    EXPECT_FALSE(SaveArea_DeleteFile("slot/1"));
    EXPECT_TRUE(fs::is_directory(save_ + "slot/1"));
    EXPECT_FALSE(SaveArea_FileExists("slot/1"));
}

TEST_F(FileAreasTest, SaveAreaWriteFailures)
{
    kvtest::WriteFile(save_ + "blocker", "file, not a folder");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(SaveArea_WriteFile("blocker/x.dat", "x", 1));
    EXPECT_FALSE(SaveArea_WriteFile((outside_ + "x.dat").c_str(), "x", 1));
    EXPECT_FALSE(SaveArea_WriteFile(nullptr, "x", 1));
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(fs::exists(outside_ + "x.dat"));
    EXPECT_EQ(kvtest::ReadFile(save_ + "blocker"), "file, not a folder");
}

TEST_F(FileAreasTest, LinksMayNotLeadOutOfTheAreas)
{
    kvtest::WriteFile(outside_ + "secret", "secret");
    kvtest::WriteFile(game_ + "data.txt", "game data");
    fs::create_directories(save_ + "slot");
    for (const auto& [link, target] : std::initializer_list<std::pair<std::string, std::string>>{
             {save_ + "out-dir", outside_},
             {save_ + "out-file", outside_ + "secret"},
             {save_ + "out-new", outside_ + "created"},
             {save_ + "in-dir", "slot"},
             {game_ + "g-out", outside_ + "secret"},
             {game_ + "g-in", "data.txt"},
         })
        ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;

    for (const char* name : {"out-dir/x.dat", "out-dir/new/deeper.dat", "out-file", "out-new"}) {
        std::string log;
        testing::internal::CaptureStdout();
        EXPECT_FALSE(SaveArea_WriteFile(name, "w", 1)) << name;
        log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(log, Refused(game_ + name)) << name;  // the name as the script gave it
    }
    testing::internal::CaptureStdout();
    EXPECT_FALSE(SaveArea_FileExists("out-dir/secret"));
    EXPECT_EQ(SaveArea_ReadFile("out-file", nullptr), nullptr);
    EXPECT_FALSE(SaveArea_DeleteFile("out-dir/secret"));
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(GameArea_FileExists("g-out"));
    EXPECT_EQ(GameArea_ReadFile("g-out", nullptr), nullptr);
    EXPECT_EQ(kvtest::ReadFile(outside_ + "secret"), "secret");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside_), fs::directory_iterator()), 1);

    // Links that stay inside keep working.
    ASSERT_TRUE(SaveArea_WriteFile("in-dir/a.dat", "kept", 4));
    EXPECT_EQ(kvtest::ReadFile(save_ + "slot/a.dat"), "kept");
    int32_t size = 0;
    void* block = SaveArea_ReadFile("in-dir/a.dat", &size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(block), static_cast<size_t>(size)), "kept");
    MemFree(block);
    block = GameArea_ReadFile("g-in", &size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(block), static_cast<size_t>(size)), "game data");
    MemFree(block);
}

const char* NoHomeInThePasswordEntry() { return nullptr; }

TEST_F(FileAreasTest, WithoutAnyHomeSavesAreRefused)
{
    kvtest::ScopedEnv data("XDG_DATA_HOME", nullptr);
    kvtest::ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    kvtest::ScopedEnv home("HOME", nullptr);
    Paths_SetHomeLookup(NoHomeInThePasswordEntry);
    Paths_ResetAll();
    MemFree(g_ProjectName);
    g_ProjectName = String_Duplicate("Tw");
    Enter(run_);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(SaveArea_WriteFile("save.ini", "x", 1));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error! no home folder to keep saves in, not writing 'save.ini'\n");
    EXPECT_TRUE(fs::is_empty(run_));

    Paths_SetHomeLookup(nullptr);
    MemFree(g_ProjectName);
    g_ProjectName = nullptr;
}

TEST_F(FileAreasTest, GameAreaWholeFiles)
{
    kvtest::WriteFile(game_ + "data.txt", "game data");
    fs::create_directories(game_ + "folder");
    EXPECT_TRUE(GameArea_FileExists("data.txt"));
    EXPECT_FALSE(SaveArea_FileExists("data.txt"));
    int32_t size = 0;
    void* block = GameArea_ReadFile("data.txt", &size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(block), static_cast<size_t>(size)), "game data");
    MemFree(block);

    struct Case {
        const char* name;
    };
    const Case missing[] = {{"folder"}, {"nothing.txt"}, {""}, {nullptr}};
    for (const Case& c : missing) {
        SCOPED_TRACE(c.name ? c.name : "(null)");
        EXPECT_FALSE(GameArea_FileExists(c.name));
        size = 77;
        EXPECT_EQ(GameArea_ReadFile(c.name, &size), nullptr);
        EXPECT_EQ(size, 0);
    }
    // Full paths: folders and missing files do not open.
    for (const std::string& path : {game_ + "folder", game_ + "nothing.txt", std::string()}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(File_CanOpen(path.c_str()));
        size = 77;
        EXPECT_EQ(File_ReadAll(path.c_str(), &size), nullptr);
        EXPECT_EQ(size, 0);
    }
    EXPECT_EQ(File_ReadAll(nullptr, nullptr), nullptr);
}

TEST_F(FileAreasTest, OpenUtf8UsesTheNameAsIs)
{
    std::string name = save_ + "журнал.log";
    for (const char* line : {"one\n", "two\n"}) {
        FILE* file = File_OpenUtf8(name.c_str(), "a+");
        ASSERT_NE(file, nullptr);
        std::fputs(line, file);
        std::fclose(file);
    }
    EXPECT_EQ(kvtest::ReadFile(name), "one\ntwo\n");
    EXPECT_EQ(File_OpenUtf8(nullptr, "r"), nullptr);
    EXPECT_EQ(File_OpenUtf8(name.c_str(), nullptr), nullptr);
}

TEST(FileAreasPathTest, GetDirectory)
{
    struct Case {
        const char* path;
        const char* directory;
    };
    const Case cases[] = {
        {"a\\b/c", "a"},  // the backslash wins even before a later slash
        {"a/b/c", "a/b"},
        {"/home/u/f.txt", "/home/u"},
        {"/a/b/", "/a/b"},
        {"name", ""},
        {"\\x", ""},
        {"/x", ""},
        {"", ""},
        {"dír/fïle", "dír"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(AreasTakeText(FilePath_GetDirectory(c.path)), c.directory);
    }
    EXPECT_EQ(AreasTakeText(FilePath_GetDirectory(nullptr)), "");
}

TEST_F(FileAreasTest, CreateTree)
{
    std::string top = base_ + "/tree";
    fs::create_directories(top + "/1");
    kvtest::WriteFile(top + "/file", "");
    struct Case {
        std::string path;
        bool created;
        std::string check;  // a folder that must exist afterwards
    };
    const Case cases[] = {
        {top + "/1/2/3/4", true, top + "/1/2/3/4"},
        {top + "/slash/", true, top + "/slash"},
        {top + "//double//sep", true, top + "/double/sep"},
        {top + "/1", true, top + "/1"},  // exists already
        {"/", true, "/"},
        {"ab", true, game_ + "ab"},  // short relative names are real folders here
        {"rel/two", true, game_ + "rel/two"},
        {top + "/file/sub", false, ""},
        {top + "/file", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(Directory_CreateTree(c.path.c_str()), c.created);
        if (!c.check.empty()) {
            EXPECT_TRUE(fs::is_directory(c.check));
        }
    }
    EXPECT_FALSE(Directory_CreateTree(nullptr));
    EXPECT_TRUE(fs::is_regular_file(top + "/file"));
}

TEST_F(FileAreasTest, CreateParentDirectory)
{
    std::string target = base_ + "/parent/p/q/r.txt";
    EXPECT_TRUE(FilePath_CreateParentDirectory(target.c_str()));
    EXPECT_TRUE(fs::is_directory(base_ + "/parent/p/q"));
    EXPECT_FALSE(fs::exists(target));

    EXPECT_FALSE(FilePath_CreateParentDirectory("no_separator"));
    EXPECT_FALSE(FilePath_CreateParentDirectory(nullptr));
    // Too long to copy whole: nothing is created rather than some shorter folder.
    std::string longPath = base_ + "/long/" + std::string(2100, 'n') + "/f.txt";
    EXPECT_FALSE(FilePath_CreateParentDirectory(longPath.c_str()));
    EXPECT_FALSE(fs::exists(base_ + "/long"));
}

TEST(TempDirectoryTest, FolderFromTheEnvironment)
{
    std::string fallback = P_tmpdir;
    if (fallback.back() != '/') fallback += '/';
    struct Case {
        const char* tmpdir;  // null: unset
        std::string expected;
    };
    const Case cases[] = {
        {"/var/scratch", "/var/scratch/"},
        {"/var/scratch/", "/var/scratch/"},
        {nullptr, fallback},
        {"", fallback},
        {"relative/dir", fallback},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tmpdir ? c.tmpdir : "(unset)");
        kvtest::ScopedEnv env("TMPDIR", c.tmpdir);
        TempDirectory_Init();  // every call replaces the kept text
        char* first = TempDirectory_Get();
        char* second = TempDirectory_Get();
        EXPECT_NE(first, second);  // each caller gets its own copy
        EXPECT_EQ(AreasTakeText(first), c.expected);
        EXPECT_EQ(AreasTakeText(second), c.expected);
    }
    TempDirectory_Init();
}

}  // namespace
