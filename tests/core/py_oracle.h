// Runs a committed Python generator (tests/<area>/<name>.py) once per build and reads the files it writes.
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

// The folder (with a trailing '/') where <python> <source>/<script> <folder> <args> wrote its files, or
// an empty text on failure.
inline std::string Generate(const std::string& script, const std::string& args)
{
    std::string error;
    std::string dir = kvtest::ScriptFixture(script, args, &error);
    EXPECT_FALSE(dir.empty()) << error;
    return dir;
}

}  // namespace kvtest_py
