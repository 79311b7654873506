// Shared by the object and timeline suites: containers written by tests/fixtures/object_cases.py
// (formkit) at test time and loaded through the real loader passes.
#pragma once
#include "wad_test_util.h"

#include "core/code.h"
#include "world/object.h"
#include "world/timeline.h"

namespace objtest {

// The game-data file of a case.
inline std::string Fixture(const std::string& name)
{
    static const std::string dir = wadtest::CasesFolder("object_cases.py");
    return dir + name + ".win";
}

// A loader test that also frees the object and timeline tables the passes filled.
class ObjectLoaderTest : public wadtest::LoaderTest {
protected:
    void SetUp() override
    {
        wadtest::LoaderTest::SetUp();
        Object_FreeAll();
        TimeLine_FreeAll();
        g_ObjectSpriteMarker = 0;
        Error_ResetState();
    }
    void TearDown() override
    {
        Object_FreeAll();
        TimeLine_FreeAll();
        Error_ResetState();
        wadtest::LoaderTest::TearDown();
    }

    // Both passes over a case. Returns whether pass 2 succeeded (pass 1 must).
    bool LoadCase(const std::string& name)
    {
        std::vector<uint8_t> bytes = wadtest::ReadBytes(Fixture(name));
        if (bytes.empty()) {
            ADD_FAILURE() << "no fixture " << name;
            return false;
        }
        auto* data = static_cast<uint8_t*>(MemAlloc(bytes.size()));
        std::memcpy(data, bytes.data(), bytes.size());
        if (!Wad_ReadHeader(data, uint32_t(bytes.size()))) {
            ADD_FAILURE() << "pass 1 failed for " << name << ": " << debug_.text;
            if (!g_GameData.data) MemFree(data);
            return false;
        }
        return Wad_LoadChunks(data, uint32_t(bytes.size()));
    }

    // The code entry name an event is bound to, or "" without code.
    static std::string CodeName(const CEvent* event)
    {
        return (event && event->HasCode() && event->code && event->code->name) ? event->code->name : "";
    }
};

}  // namespace objtest
