// The SHDR loader on formkit-written game data (tests/fixtures/shader_cases.py) with a scripted compiler: every
// record field kept, extensions of each version, empty slots, broken records refused one by one while the others
// load, and name lookups.
#include "gfx/shaders.h"

#include "core/console.h"
#include "core/constants.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "fake_render_device.h"
#include "fake_shader_compiler.h"
#include "gfx/device.h"
#include "test_support.h"
#include "world/loader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace shader_load_test {

class GfxShaderLoad : public testing::Test {
protected:
    void SetUp() override
    {
        savedDebug_ = DebugConsole;
        DebugConsole = &debug_;
        savedData_ = g_GameData.data;
        savedLength_ = g_GameData.length;
        device_.hasDevice = true;
        GR_Device = &device_;
        compiler_.fallback.constants = {kvtest::FakeVector("v", SC_STAGE_PIXEL, 4)};
    }
    void TearDown() override
    {
        Shader_FreeAll();
        GR_Device = nullptr;
        MemFree(data_);
        g_GameData.data = savedData_;
        g_GameData.length = savedLength_;
        DebugConsole = savedDebug_;
    }

    // Loads the SHDR chunk of a case as the chunk walk would hand it over.
    bool Load(const std::string& name)
    {
        static const std::string folder = kvtest::ScriptFixture("tests/fixtures/shader_cases.py");
        const std::string bytes = kvtest::ReadFile(folder + name + ".win");
        if (bytes.size() < 16) {
            ADD_FAILURE() << "no fixture " << name;
            return false;
        }
        MemFree(data_);
        data_ = static_cast<uint8_t*>(MemAlloc(bytes.size()));
        std::memcpy(data_, bytes.data(), bytes.size());
        g_GameData.data = data_;
        g_GameData.length = uint32_t(bytes.size());
        for (size_t at = 8; at + 8 <= bytes.size();) {
            uint32_t size = 0;
            std::memcpy(&size, data_ + at + 4, 4);
            if (std::memcmp(data_ + at, "SHDR", 4) == 0) return Shader_Load(data_ + at + 8, size, data_);
            at += 8 + size;
        }
        ADD_FAILURE() << "no SHDR chunk in " << name;
        return false;
    }

    static std::string Text(const uint8_t* p) { return p ? reinterpret_cast<const char*>(p) : "(null)"; }

    kvtest::RecordingConsole debug_;
    tagIConsole* savedDebug_ = nullptr;
    uint8_t* savedData_ = nullptr;
    uint32_t savedLength_ = 0;
    uint8_t* data_ = nullptr;
    kvtest::FakeRenderDevice device_;
    kvtest::FakeShaderCompiler compiler_;
    kvtest::ScopedShaderCompiler scoped_{&compiler_};
};

TEST_F(GfxShaderLoad, RecordsOfEveryExtensionVersionAreKept)
{
    const bool tracing = SeamTrace_Enabled();
    SeamTrace_Enable(true);
    SeamTrace_Clear();
    ASSERT_TRUE(Load("table_versions"));
    EXPECT_EQ(SeamTrace_Calls(), std::vector<std::string>{"Shader_Load"});
    SeamTrace_Enable(tracing);
    ASSERT_EQ(Shader_Count(), 9);
    struct Row {
        int32_t index;
        const char* name;
        uint32_t type;
        uint32_t attributes;
        uint32_t blobSize0;
        bool further0;
        bool compiled;
    } rows[] = {
        {0, "sh_plain", 1, 3, 0, false, true}, {1, "sh_v0", 1, 0, 0, false, true},
        {2, "sh_v1", 1, 0, 3, false, true},    {3, "sh_v2", 1, 0, 2, true, true},
        {4, "sh_null", 1, 0, 0, false, false}, {6, "sh_dup", 1, 0, 0, false, true},
        {7, "sh_dup", 1, 0, 0, false, true},   {8, "sh_type2", 2, 0, 0, false, true},
    };
    for (const Row& row : rows) {
        const Shader* s = Shader_Get(row.index);
        ASSERT_NE(s, nullptr) << row.index;
        EXPECT_EQ(s->id, row.index);
        EXPECT_STREQ(s->name, row.name);
        EXPECT_EQ(s->type, row.type) << row.name;
        EXPECT_EQ(s->attributeCount, row.attributes) << row.name;
        EXPECT_EQ(s->blobSizes[0], row.blobSize0) << row.name;
        EXPECT_EQ(s->further[0] != nullptr, row.further0) << row.name;
        EXPECT_EQ(s->compiled != nullptr, row.compiled) << row.name;
        EXPECT_EQ(s->errorText == nullptr, row.compiled) << row.name;
    }
    EXPECT_FALSE(Shader_Exists(5));  // the empty slot
    EXPECT_FALSE(Shader_Exists(9));
    EXPECT_FALSE(Shader_Exists(-1));

    const Shader* plain = Shader_Get(0);
    EXPECT_STREQ(plain->attributeNames[0], "in_Position");
    EXPECT_STREQ(plain->attributeNames[2], "in_TextureCoord");
    EXPECT_EQ(Text(plain->sources[4]), "vs_plain");
    EXPECT_EQ(Text(plain->sources[5]), "ps_plain");
    EXPECT_EQ(Text(Shader_Get(8)->sources[0]), "glsl");
    EXPECT_EQ(std::memcmp(Shader_Get(2)->blobs[0], "\x01\x02\x03", 3), 0);
    EXPECT_EQ(Shader_Get(2)->blobs[1], nullptr);
    EXPECT_EQ(std::memcmp(Shader_Get(3)->further[0], "xyz", 3), 0);
    // Only the two programs compile; the record without them says so.
    EXPECT_EQ(compiler_.compiled.front(), std::make_pair(std::string("vs_plain"), std::string("ps_plain")));
    EXPECT_EQ(compiler_.compiled.size(), 7u);
    EXPECT_STREQ(Shader_Get(4)->errorText, "Invalid shader");
    EXPECT_NE(debug_.text.find("Invalid shader (is it marked as incompatible type for this target?) \"sh_null\":\n"),
              std::string::npos)
        << debug_.text;
}

TEST_F(GfxShaderLoad, FindGivesTheFirstOfTheName)
{
    ASSERT_TRUE(Load("table_versions"));
    struct Row {
        const char* name;
        int32_t want;
    } rows[] = {{"sh_dup", 6}, {"sh_plain", 0}, {"SH_PLAIN", -1}, {"sh_", -1}, {"", -1}, {"sh_null", 4}};
    for (const Row& row : rows) EXPECT_EQ(Shader_Find(row.name), row.want) << row.name;
    // A load replaces the table.
    ASSERT_TRUE(Load("table_count_too_large"));
    EXPECT_EQ(Shader_Find("sh_dup"), -1);
}

TEST_F(GfxShaderLoad, BrokenRecordsAreRefusedOneByOne)
{
    ASSERT_TRUE(Load("table_broken"));
    ASSERT_EQ(Shader_Count(), 7);
    const bool loaded[7] = {true, false, false, false, true, false, false};
    for (int32_t i = 0; i < 7; ++i) EXPECT_EQ(Shader_Exists(i), loaded[i]) << i;
    EXPECT_EQ(Shader_Find("sh_good_b"), 4);
    EXPECT_EQ(Shader_Find("sh_bad_source"), -1);
    EXPECT_EQ(Shader_Find("open"), -1);
    const char* lines[] = {"Shader 1 refused: name outside the data", "Shader 2 refused: source outside the data",
                           "Shader 3 refused: attribute count past the chunk",
                           "Shader 5 refused: extension blob outside the data",
                           "Shader 6 refused: name outside the data"};
    for (const char* line : lines) EXPECT_NE(debug_.text.find(line), std::string::npos) << line << "\n" << debug_.text;
    EXPECT_EQ(compiler_.compiled.size(), 2u);
}

TEST_F(GfxShaderLoad, ACountPastTheChunkLoadsNothing)
{
    ASSERT_TRUE(Load("table_count_too_large"));
    EXPECT_EQ(Shader_Count(), 0);
    EXPECT_NE(debug_.text.find("Shader table damaged"), std::string::npos) << debug_.text;
}

TEST_F(GfxShaderLoad, CompilationFailuresKeepTheirTextAndStage)
{
    struct Row {
        std::string error;
        int32_t stage;
        const char* line;
        int32_t wantStage;
    } rows[] = {
        {"(1): bad vertex\n", 0, "Error in vertex shader \"sh_plain\":\n\n (1): bad vertex\n", 0},
        {"(2): bad pixel\n", 1, "Error in fragment shader \"sh_plain\"\n\n (2): bad pixel\n", 1},
    };
    for (const Row& row : rows) {
        debug_.text.clear();
        kvtest::FakeCompileResult failing;
        failing.error = row.error;
        failing.errorStage = row.stage;
        compiler_.Script("vs_plain", "ps_plain", failing);
        ASSERT_TRUE(Load("table_versions"));
        const Shader* s = Shader_Get(0);
        EXPECT_EQ(s->compiled, nullptr);
        EXPECT_EQ(std::string(s->errorText), row.error);
        EXPECT_EQ(s->errorStage, row.wantStage);
        EXPECT_NE(debug_.text.find(row.line), std::string::npos) << debug_.text;
    }
}

}  // namespace shader_load_test
