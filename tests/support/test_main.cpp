// Test main: every test process runs in a fresh scratch folder that is also its HOME, with the XDG
// folders below it and dialogs answered without a person; the folder is removed at the end.
#include <gtest/gtest.h>

#include "core/error.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace kvtest { extern std::string g_scratchDir; }

namespace {

// Every test starts with the error reporter of a fresh process.
struct ErrorStateReset : testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { Error_ResetState(); }
};

void InstallListeners() { testing::UnitTest::GetInstance()->listeners().Append(new ErrorStateReset); }

}  // namespace

int main(int argc, char** argv)
{
    // A death-test child re-runs this binary: it keeps its parent's folder and environment.
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--gtest_internal_run_death_test", 0) == 0) {
            kvtest::g_scratchDir = std::filesystem::current_path().string();
            testing::InitGoogleTest(&argc, argv);
            InstallListeners();
            GTEST_FLAG_SET(death_test_style, "threadsafe");  // must match the parent's style
            return RUN_ALL_TESTS();
        }

    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/kvtest.XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 2;
    }
    kvtest::g_scratchDir = pattern;
    const std::string data = pattern + "/.local/share", config = pattern + "/.config";
    std::filesystem::create_directories(data);
    std::filesystem::create_directories(config);
    setenv("HOME", pattern.c_str(), 1);
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("KV_NO_DIALOGS", "1", 1);
    if (chdir(pattern.c_str()) != 0) return 2;

    testing::InitGoogleTest(&argc, argv);
    InstallListeners();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    int rc = RUN_ALL_TESTS();

    std::error_code ec;
    if (chdir("/") == 0) std::filesystem::remove_all(pattern, ec);
    return rc;
}
