// The image fixtures (tests/gfx/image_fixtures.py, made once per build) and helpers to read them.
#pragma once
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace imagetest {

inline const std::string& FixtureDir()
{
    static const std::string dir = [] {
        std::string error;
        std::string d = kvtest::ScriptFixture("tests/gfx/image_fixtures.py", "", &error);
        EXPECT_FALSE(d.empty()) << error;
        return d;
    }();
    return dir;
}

inline std::vector<uint8_t> ReadBytes(const std::string& name)
{
    const std::string text = kvtest::ReadFile(FixtureDir() + name);
    return std::vector<uint8_t>(text.begin(), text.end());
}

// ImageMagick's rgba: dump as 0xAARRGGBB words.
inline std::vector<uint32_t> ReadDump(const std::string& name)
{
    const std::vector<uint8_t> bytes = ReadBytes(name + ".rgba");
    std::vector<uint32_t> words(bytes.size() / 4);
    for (size_t i = 0; i < words.size(); ++i) {
        const uint8_t* p = &bytes[i * 4];
        words[i] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
    return words;
}

inline std::vector<uint32_t> Words(const void* pixels, int32_t w, int32_t h)
{
    const auto* p = static_cast<const uint32_t*>(pixels);
    return std::vector<uint32_t>(p, p + size_t(w) * size_t(h));
}

inline std::string Hex(uint32_t v)
{
    char text[16];
    snprintf(text, sizeof text, "%08X", v);
    return text;
}

// First differing pixel, for a readable failure.
inline ::testing::AssertionResult SamePixels(const std::vector<uint32_t>& expected, const std::vector<uint32_t>& actual)
{
    if (expected.size() != actual.size())
        return ::testing::AssertionFailure() << "sizes " << expected.size() << " and " << actual.size();
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != actual[i])
            return ::testing::AssertionFailure() << "pixel " << i << ": expected " << Hex(expected[i]) << ", got " << Hex(actual[i]);
    }
    return ::testing::AssertionSuccess();
}

}  // namespace imagetest
