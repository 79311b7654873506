// Shared by the loader suites: fixtures made by tests/fixtures/wad_cases.py (formkit) once per build,
// their flat expectation files, a recording console and the loader's reset between tests.
#pragma once
#include "world_test_util.h"

#include "core/console.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/variables.h"
#include "core/varnames.h"
#include "gfx/textures.h"
#include "platform/hooks.h"
#include "test_support.h"
#include "world/frame_timer.h"
#include "world/loader.h"
#include "world/loader_standin.h"
#include "world/object_base.h"
#include "world/options.h"
#include "world/room_change.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace wadtest {

inline std::string SourceDir() { return kvtest::SourceDir(); }

// The folder (ending in '/') of every case of a fixture script of tests/fixtures, made once per build;
// a failure is reported and gives "".
inline std::string CasesFolder(const std::string& script, const std::string& args = "")
{
    std::string error;
    std::string dir = kvtest::ScriptFixture("tests/fixtures/" + script, args, &error);
    if (dir.empty()) ADD_FAILURE() << "fixture " << script << ": " << error;
    return dir;
}

inline std::string FixtureFolder()
{
    static const std::string dir = CasesFolder("wad_cases.py");
    return dir;
}

inline std::string FixturePath(const std::string& name, const char* suffix = ".win")
{
    return FixtureFolder() + name + suffix;
}

inline std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::string s = kvtest::ReadFile(path);
    return std::vector<uint8_t>(s.begin(), s.end());
}

using NameIds = std::map<std::string, int32_t>;

inline NameIds g_extensionIds;  // extension functions by name: their index in the packages' table
inline std::string g_refusedVariable;

inline int32_t FindTestExtension(const char* name)
{
    auto it = g_extensionIds.find(name ? name : "");
    return it == g_extensionIds.end() ? -1 : it->second;
}

inline bool NoBuiltinValue(CInstance*, int32_t, RValue*) { return false; }

// The old-format lookup as the tables answer it, except for the refused name: the failure the shared
// table gives only when it cannot grow.
inline int32_t FindAllocRefusing(const char* name)
{
    if (g_refusedVariable == (name ? name : "")) return -1;
    int32_t builtin = Variable_BuiltIn_Find(name);
    return builtin >= 0 ? builtin : Code_Variable_Add(name);
}
inline const CodeVariableResolver kRefusingResolver = {FindAllocRefusing};

// Gives names the ids a fixture was made with, in the real registries, emptied first: a built-in variable
// (below 100,000) or built-in function (below 100,000) at its index with unnamed entries before it, a
// shared variable name (100,000 and up) likewise in the shared table, an extension function (500,000 and
// up) through the extension finder. Script ids (100,000 to 499,999) come from the data's own SCPT chunk,
// and in new-format data (newFormat) the ids of variable records (100,000 + index) from the records.
inline void InstallNames(const NameIds& variables, const NameIds& functions, bool newFormat = false)
{
    Code_Variable_Free();
    Variable_BuiltIn_Free();
    Function_Free();
    g_extensionIds.clear();
    std::vector<std::pair<int32_t, std::string>> byId;
    for (const auto& [name, id] : variables) byId.emplace_back(id, name);
    std::sort(byId.begin(), byId.end());
    int32_t nextShared = VARIABLE_ID_FIRST_SLOT;
    for (const auto& [id, name] : byId) {
        if (id < 0) continue;
        if (id < VARIABLE_ID_FIRST_SLOT) {
            while (Variable_BuiltIn_Count() < id) Variable_BuiltIn_Add("", NoBuiltinValue, nullptr);
            Variable_BuiltIn_Add(name.c_str(), NoBuiltinValue, nullptr);
            EXPECT_EQ(Variable_BuiltIn_Find(name.c_str()), id) << name;
            continue;
        }
        if (newFormat) continue;
        while (nextShared < id) nextShared = Code_Variable_Add(("unnamed " + std::to_string(nextShared)).c_str()) + 1;
        EXPECT_EQ(Code_Variable_Add(name.c_str()), id) << name;
        nextShared = id + 1;
    }
    byId.clear();
    for (const auto& [name, id] : functions) byId.emplace_back(id, name);
    std::sort(byId.begin(), byId.end());
    // One entry at least, so that the table's block exists before a test takes its memory baseline.
    if (byId.empty() || byId.front().first != 0) Function_Add("", nullptr, -1, false);
    for (const auto& [id, name] : byId) {
        if (id >= CALL_ID_EXTENSION_BASE) g_extensionIds[name] = id - CALL_ID_EXTENSION_BASE;
        if (id < 0 || id >= CALL_ID_SCRIPT_BASE) continue;
        while (Function_Count() < id) Function_Add("", nullptr, -1, false);
        EXPECT_EQ(Function_Add(name.c_str(), nullptr, -1, false) - 1, id) << name;
    }
    Function_SetExtensionFinder(g_extensionIds.empty() ? nullptr : FindTestExtension);
}

// The flat expectation file of a case.
class Expect {
public:
    explicit Expect(const std::string& name)
    {
        std::ifstream in(FixturePath(name, ".expect"));
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> fields;
            std::stringstream ss(line);
            std::string f;
            while (std::getline(ss, f, '\t')) fields.push_back(f);
            if (!fields.empty()) rows_[fields[0]].push_back(fields);
        }
        if (rows_.empty()) ADD_FAILURE() << "no expectations for " << name;
    }
    const std::vector<std::vector<std::string>>& Rows(const std::string& key) const
    {
        static const std::vector<std::vector<std::string>> none;
        auto it = rows_.find(key);
        return it == rows_.end() ? none : it->second;
    }
    // Field 2 of the row whose field 1 is name ("header game_name <value>").
    std::string Value(const std::string& key, const std::string& name) const
    {
        for (const auto& r : Rows(key))
            if (r.size() > 2 && r[1] == name) return r[2];
        ADD_FAILURE() << "no " << key << " " << name;
        return {};
    }
    bool Has(const std::string& key, const std::string& name) const
    {
        for (const auto& r : Rows(key))
            if (r.size() > 1 && r[1] == name) return true;
        return false;
    }
    long long Number(const std::string& key, const std::string& name) const
    {
        return std::stoll(Value(key, name));
    }
    // The texture table hands out free entries lowest first: with every other entry up to the largest id in
    // use, page creation gets exactly these ids (ascending) in order.
    static void HandOutTextureIds(const std::vector<int32_t>& ids)
    {
        if (ids.empty()) return;
        const int32_t last = *std::max_element(ids.begin(), ids.end());
        for (int32_t i = GR_Texture_Count(); i <= last; ++i) {
            int32_t index;
            GR_Texture_NewPage(&index);
        }
        for (int32_t id : ids) GR_Texture_Free(id);
    }
    // Gives the case's names their ids in the registries (with extra names of the test's own), refuses
    // an old-format variable the case leaves unresolved, and queues its texture ids in the stand-ins.
    void InstallTables(NameIds variables = {}, NameIds functions = {}) const
    {
        for (const auto& r : Rows("var_id")) variables.emplace(r[1], std::stoi(r[2]));
        for (const auto& r : Rows("func_id")) functions.emplace(r[1], std::stoi(r[2]));
        bool newFormat = false;
        for (const auto& r : Rows("header_derived"))
            if (r.size() > 2 && r[1] == "new_code_format") newFormat = r[2] == "1";
        InstallNames(variables, functions, newFormat);
        g_refusedVariable.clear();
        for (const auto& r : Rows("unresolved"))
            if (r.size() > 2 && r[1] == "variable") g_refusedVariable = r[2];
        Code_Variable_SetResolver(g_refusedVariable.empty() ? nullptr : &kRefusingResolver);
        std::vector<int32_t> textureIds;
        for (const auto& r : Rows("texture_id")) textureIds.push_back(std::stoi(r[1]));
        HandOutTextureIds(textureIds);
    }

private:
    std::map<std::string, std::vector<std::vector<std::string>>> rows_;
};

inline uint32_t U32At(const uint8_t* data, uint32_t offset)
{
    uint32_t v;
    std::memcpy(&v, data + offset, 4);
    return v;
}

using RecordingConsole = kvtest::RecordingConsole;

inline int g_exitStatus = -1000;
inline int g_exitCalls = 0;
inline std::vector<std::string> g_boxes;

// Every loader test starts from a clean run: no data, empty stand-ins, consoles and exit recorded.
class LoaderTest : public testing::Test {
protected:
    void SetUp() override
    {
        ResetEntryPointState();
        UnloadGameData();
        GR_Texture_FreeAll();
        g_GlobalObject = nullptr;
        MemFree(g_WorkingDirectory);
        g_WorkingDirectory = nullptr;
        LoaderStandins_Reset();
        // Fresh name tables: a load's ids do not depend on the tests before it.
        Code_Variable_Free();
        Code_Variable_SetResolver(nullptr);
        Function_Free();
        Function_Add("", nullptr, -1, false);  // the table's block, before any memory baseline
        Function_SetExtensionFinder(nullptr);
        g_GameTimer = FrameTimer();
        g_GameOptions = {};
        RoomChangeCode = ROOM_CHANGE_NONE;
        Loader_SetLinkSource(nullptr);
        SeamTrace_Clear();
        SeamTrace_Enable(true);
        oldDebug_ = DebugConsole;
        oldRelease_ = ReleaseConsole;
        DebugConsole = &debug_;
        ReleaseConsole = &release_;
        g_exitStatus = -1000;
        g_exitCalls = 0;
        g_boxes.clear();
        oldExit_ = Platform_SetExitHook([](int status) {
            g_exitStatus = status;
            ++g_exitCalls;
        });
        oldBox_ = Platform_SetMessageBoxHook([](const MessageBoxRequest& request) {
            g_boxes.emplace_back(request.text ? request.text : "");
            return request.defaultAnswer;
        });
    }
    void TearDown() override
    {
        GR_Texture_FreeAll();
        UnloadGameData();
        g_GlobalObject = nullptr;
        MemFree(g_WorkingDirectory);
        g_WorkingDirectory = nullptr;
        Loader_SetLinkSource(nullptr);
        Code_Variable_SetResolver(nullptr);
        Function_SetExtensionFinder(nullptr);
        SeamTrace_Enable(false);
        SeamTrace_Clear();
        DebugConsole = oldDebug_;
        ReleaseConsole = oldRelease_;
        Platform_SetExitHook(oldExit_);
        Platform_SetMessageBoxHook(oldBox_);
        ResetEntryPointState();
    }

    // A case's container in a fresh memory-manager block, owned by the loader record from pass 1 on.
    static uint8_t* Load(const std::string& name, uint32_t* length)
    {
        std::vector<uint8_t> bytes = ReadBytes(FixturePath(name));
        *length = uint32_t(bytes.size());
        auto* data = static_cast<uint8_t*>(MemAlloc(bytes.size() ? bytes.size() : 1));
        if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
        return data;
    }

    // Both passes over a case, with its resolver tables installed. Returns the pass results.
    std::pair<bool, bool> RunPasses(const std::string& name)
    {
        Expect(name).InstallTables();
        uint32_t length = 0;
        uint8_t* data = Load(name, &length);
        bool pass1 = Wad_ReadHeader(data, length);
        bool pass2 = pass1 && Wad_LoadChunks(data, length);
        if (!g_GameData.data) MemFree(data);
        return {pass1, pass2};
    }

    // Compares the loaded data with formkit's image of it, naming the first differing word.
    static void ExpectImage(const std::string& name)
    {
        std::vector<uint8_t> image = ReadBytes(FixturePath(name, ".win.image"));
        ASSERT_EQ(image.size(), g_GameData.length) << name;
        for (size_t i = 0; i < image.size(); ++i)
            if (image[i] != g_GameData.data[i]) {
                size_t word = i & ~size_t(3);
                ADD_FAILURE() << name << ": the data differs from formkit's image at byte " << i << " (word at "
                              << word << ": 0x" << std::hex << U32At(g_GameData.data, uint32_t(word)) << ", expected 0x"
                              << U32At(image.data(), uint32_t(word)) << ")";
                return;
            }
    }

    // Names recorded by the seam trace, in order.
    static std::vector<std::string> Trace() { return SeamTrace_Calls(); }
    static bool Traced(const std::string& name)
    {
        for (const auto& n : SeamTrace_Calls())
            if (n == name) return true;
        return false;
    }

    RecordingConsole debug_, release_;

private:
    tagIConsole* oldDebug_ = nullptr;
    tagIConsole* oldRelease_ = nullptr;
    ExitHook oldExit_ = nullptr;
    MessageBoxHook oldBox_ = nullptr;
};

}  // namespace wadtest
