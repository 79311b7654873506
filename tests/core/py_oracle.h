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

inline std::string SourceDir() { return kvtest::SourceDir(); }

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
