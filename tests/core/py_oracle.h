// Runs a committed Python generator (tests/<area>/<name>.py) at test time and reads the files it writes.
// Python's zlib, hashlib, base64, binascii and struct are the reference the tests compare against.
#pragma once
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace kvtest_py {

// The source tree: KV_SOURCE_DIR when set, else the one the build folder was configured from.
inline std::string SourceDir()
{
    if (const char* env = std::getenv("KV_SOURCE_DIR"); env && *env) return env;
    namespace fs = std::filesystem;
    fs::path dir = fs::read_symlink("/proc/self/exe").parent_path();
    for (int up = 0; up < 4 && !dir.empty(); ++up, dir = dir.parent_path()) {
        std::ifstream cache(dir / "CMakeCache.txt");
        std::string line;
        const std::string key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
        while (std::getline(cache, line))
            if (line.rfind(key, 0) == 0) return line.substr(key.size());
    }
    return ".";
}

// Runs python3 <source>/<script> <outDir> <args>; the generator writes its files into outDir (created in
// the test's scratch folder). Returns outDir with a trailing '/', or an empty text on failure.
inline std::string Generate(const std::string& script, const std::string& args, const std::string& outName)
{
    std::string outDir = kvtest::ScratchDir() + "/" + outName + "/";
    std::filesystem::create_directories(outDir);
    std::string cmd = "python3 '" + SourceDir() + "/" + script + "' '" + outDir + "' " + args;
    int rc = std::system(cmd.c_str());
    EXPECT_EQ(rc, 0) << cmd;
    return rc == 0 ? outDir : std::string();
}

}  // namespace kvtest_py
