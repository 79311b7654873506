// Shader selection and uniform uploads on the recording device with a scripted compiler: which registers each
// setter writes (layouts, transposes, cuts at the constant's size, conversions between register files), what
// selecting sends, and the built-in uniforms a selection uploads.
#include "gfx/shaders.h"

#include "../lib/builtin_call.h"
#include "core/constants.h"
#include "fake_render_device.h"
#include "fake_shader_compiler.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/light.h"
#include "gfx/matrices.h"
#include "gfx/recorder.h"

#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <string>
#include <vector>

namespace shader_uniforms_test {

using kvtest::Call;
using kvtest::CallPointers;
using kvtest::FakeCompileResult;
using kvtest::FakeConstant;
using kvtest::FakeMatrix;
using kvtest::FakeSampler;
using kvtest::FakeVector;
using kvtest::OwnedValue;
using kvtest::R;
using kvtest::S;

constexpr uint8_t VS = SC_STAGE_VERTEX, PS = SC_STAGE_PIXEL;

class GfxShaderUniforms : public kvtest::BuiltinTest {
protected:
    void SetUp() override
    {
        BuiltinTest::SetUp();
        savedDebug_ = DebugConsole;
        DebugConsole = &debug_;
        static bool registered = false;
        if (!registered) InitShaderFunctions();
        registered = true;
        device_.hasDevice = true;
        GR_Device = &device_;
        GPUState::SetDefaults();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        Light_Reset();
    }
    void TearDown() override
    {
        Shader_FreeAll();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Device = nullptr;
        Light_Reset();
        DebugConsole = savedDebug_;
        BuiltinTest::TearDown();
    }

    // Adds a shader whose pair compiles (through the fake) to the constants, laid out in order; its index.
    int32_t AddShader(std::vector<FakeConstant> constants, uint32_t type = 1, const std::string& error = "",
                      int32_t errorStage = -1)
    {
        const std::string tag = std::to_string(texts_.size());
        texts_.push_back("vs" + tag);
        texts_.push_back("ps" + tag);
        const std::string& vs = texts_[texts_.size() - 2];
        const std::string& ps = texts_.back();
        kvtest::FakeLayout(&constants);
        FakeCompileResult result;
        result.constants = std::move(constants);
        result.error = error;
        result.errorStage = errorStage;
        compiler_.Script(vs, ps, result);
        const uint8_t* sources[8] = {};
        sources[4] = reinterpret_cast<const uint8_t*>(vs.c_str());
        sources[5] = reinterpret_cast<const uint8_t*>(ps.c_str());
        texts_.push_back("sh" + tag);
        Shader* s = Shader_Add(texts_.back().c_str(), type, sources, 0, nullptr);
        ShaderM_Compile(s);
        return s->id;
    }
    int32_t Handle(int32_t shader, const char* name)
    {
        return int32_t(Call("shader_get_uniform", [&] {
                           std::vector<OwnedValue> a;
                           a.push_back(R(shader));
                           a.push_back(S(name));
                           return a;
                       }()).Real());
    }
    static OwnedValue Array(const std::vector<double>& values)
    {
        OwnedValue a;
        for (size_t i = 0; i < values.size(); ++i) {
            RValue item;
            RValue_SetReal(&item, values[i]);
            RValue_SetWithIndex(&a.v, &item, int32_t(i));
        }
        return a;
    }
    void Select(int32_t shader) { Call1("shader_set", R(shader)); }
    static void Call1(const char* name, OwnedValue a)
    {
        std::vector<OwnedValue> args;
        args.push_back(std::move(a));
        Call(name, std::move(args));
    }
    static void Call2(const char* name, OwnedValue a, OwnedValue b)
    {
        std::vector<OwnedValue> args;
        args.push_back(std::move(a));
        args.push_back(std::move(b));
        Call(name, std::move(args));
    }
    std::array<float, 4> F(uint8_t stage, uint32_t reg) const
    {
        const float* r = device_.shaderRegisters.stage[stage].f[reg];
        return {r[0], r[1], r[2], r[3]};
    }
    std::array<int32_t, 4> I(uint8_t stage, uint32_t reg) const
    {
        const int32_t* r = device_.shaderRegisters.stage[stage].i[reg];
        return {r[0], r[1], r[2], r[3]};
    }

    double Call1Real(const char* name, double v)
    {
        std::vector<OwnedValue> args;
        args.push_back(R(v));
        return Call(name, std::move(args)).Real();
    }

    kvtest::FakeRenderDevice device_;
    kvtest::FakeShaderCompiler compiler_;
    kvtest::ScopedShaderCompiler scoped_{&compiler_};
    std::deque<std::string> texts_;  // the records point into these
    kvtest::RecordingConsole debug_;
    tagIConsole* savedDebug_ = nullptr;
};

using A4 = std::array<float, 4>;

TEST_F(GfxShaderUniforms, UnderscoredNameWinsAndLookupsFollowTheTableOrder)
{
    const int32_t both = AddShader({FakeVector("tint", PS, 4), FakeVector("_tint", PS, 4)});
    const int32_t only = AddShader({FakeVector("_amount", VS, 1), FakeVector("amount2", PS, 1)});
    const int32_t split = AddShader({FakeVector("shared", VS, 4), FakeVector("shared", PS, 4), FakeSampler("tex", PS, 3)});
    struct Row {
        int32_t shader;
        const char* name;
        int32_t want;
    } rows[] = {
        {both, "tint", 1},        // both spellings: the underscored one
        {both, "_tint", 1},       // the underscored name as given ("__tint" is not there)
        {only, "amount", 0},      // found through the underscore
        {only, "amount2", 1},
        {only, "missing", -1},
        {split, "shared", 0},     // vertex constants come first
        {split, "tex", 2},
    };
    for (const Row& row : rows) EXPECT_EQ(Handle(row.shader, row.name), row.want) << row.name;
    // A name of any length is looked up whole.
    const std::string longName(5000, 'n');
    const int32_t longShader = AddShader({FakeVector("_" + longName, PS, 4)});
    EXPECT_EQ(Handle(longShader, longName.c_str()), 0);
    EXPECT_EQ(Handle(longShader, std::string(4999, 'n').c_str()), -1);

    std::vector<OwnedValue> a;
    a.push_back(R(split));
    a.push_back(S("tex"));
    EXPECT_EQ(Call("shader_get_sampler_index", std::move(a)).Real(), 3);
    EXPECT_EQ(Reported(), "");
    EXPECT_EQ(Handle(99, "tint"), -1);
    EXPECT_EQ(Reported(), "Illegal shader handle\n");
}

TEST_F(GfxShaderUniforms, SingleValueSettersWriteTheFirstRegisterOnly)
{
    const int32_t s = AddShader({FakeMatrix("m", VS, 4, 4), FakeVector("v", PS, 2), FakeVector("after", VS, 4)});
    Select(s);
    device_.ClearLog();
    // Five values: the fifth is not read; registers 1..3 of the matrix and the next constant stay as they were.
    ShaderRegisters_SetF(&device_.shaderRegisters, VS, 1, std::array<float, 8>{9, 9, 9, 9, 9, 9, 9, 9}.data(), 2);
    std::vector<OwnedValue> args;
    args.push_back(R(0));
    for (double v : {1.0, 2.0, 3.0, 4.0, 5.0}) args.push_back(R(v));
    Call("shader_set_uniform_f", std::move(args));
    EXPECT_EQ(device_.Calls("SetShaderConstantF"), std::vector<std::string>{"SetShaderConstantF(1,0,1,[1 2 3 4])"});
    EXPECT_EQ(F(VS, 1), (A4{9, 9, 9, 9}));
    // Fewer values: the rest of the register is 0.
    device_.ClearLog();
    std::vector<OwnedValue> two;
    two.push_back(R(1));
    two.push_back(R(0.5));
    two.push_back(R(-2));
    Call("shader_set_uniform_f", std::move(two));
    EXPECT_EQ(device_.Calls("SetShaderConstantF"), std::vector<std::string>{"SetShaderConstantF(0,0,1,[0.5 -2 0 0])"});
}

TEST_F(GfxShaderUniforms, IntAndBoolConstantsTakeEitherSetterConverted)
{
    FakeConstant i4 = FakeVector("counts", PS, 4);
    i4.type = SCT_INT;
    i4.registerSet = SRS_INT4;
    FakeConstant b = FakeVector("flag", PS, 1);
    b.type = SCT_BOOL;
    b.registerSet = SRS_BOOL;
    const int32_t s = AddShader({i4, b, FakeVector("f", PS, 4)});
    Select(s);
    device_.ClearLog();
    struct Row {
        const char* setter;
        int32_t handle;
        std::vector<double> values;
        const char* call;
    } rows[] = {
        {"shader_set_uniform_f", 0, {2.9, -2.9, 7}, "SetShaderConstantI(0,0,1,[2 -2 7 0])"},
        {"shader_set_uniform_i", 0, {3, 4}, "SetShaderConstantI(0,0,1,[3 4 0 0])"},
        {"shader_set_uniform_f", 1, {0.25}, "SetShaderConstantB(0,0,1,[1])"},
        {"shader_set_uniform_i", 1, {0}, "SetShaderConstantB(0,0,1,[0])"},
        {"shader_set_uniform_i", 2, {7, 1}, "SetShaderConstantF(0,0,1,[7 1 0 0])"},
    };
    for (const Row& row : rows) {
        device_.ClearLog();
        std::vector<OwnedValue> args;
        args.push_back(R(row.handle));
        for (double v : row.values) args.push_back(R(v));
        Call(row.setter, std::move(args));
        const auto log = device_.LogWithout({"SetTexture", "SetRenderState", "SetSamplerState", "SetTextureStageState"});
        EXPECT_EQ(log, std::vector<std::string>{row.call}) << row.setter << " " << row.handle;
    }
}

TEST_F(GfxShaderUniforms, ArraysAreLaidOutByColumnsAndCutAtTheConstant)
{
    const int32_t s = AddShader({FakeVector("v3", PS, 3, 2), FakeVector("v4", PS, 4, 1), FakeMatrix("m", PS, 4, 4),
                                 FakeVector("f1", PS, 1, 3)});
    Select(s);
    struct Row {
        const char* what;
        int32_t handle;
        std::vector<double> values;
        const char* call;  // the one upload
    } rows[] = {
        {"float3[2], 6 values", 0, {1, 2, 3, 4, 5, 6}, "SetShaderConstantF(0,0,2,[1 2 3 0 4 5 6 0])"},
        {"float3[2], 4 values", 0, {1, 2, 3, 4}, "SetShaderConstantF(0,0,2,[1 2 3 0 4 0 0 0])"},
        {"float3[2], 9 values", 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}, "SetShaderConstantF(0,0,2,[1 2 3 0 4 5 6 0])"},
        {"float4, 12 values", 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, "SetShaderConstantF(0,2,1,[1 2 3 4])"},
        {"float4, 3 values", 1, {1, 2, 3}, "SetShaderConstantF(0,2,1,[1 2 3 0])"},
        {"float[3], 2 values", 3, {5, 6}, "SetShaderConstantF(0,7,2,[5 0 0 0 6 0 0 0])"},
        {"float4x4 of type 1, transposed", 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
         "SetShaderConstantF(0,3,4,[1 5 9 13 2 6 10 14 3 7 11 15 4 8 12 16])"},
    };
    for (const Row& row : rows) {
        device_.ClearLog();
        std::vector<OwnedValue> args;
        args.push_back(R(row.handle));
        args.push_back(Array(row.values));
        Call("shader_set_uniform_f_array", std::move(args));
        EXPECT_EQ(device_.Calls("SetShaderConstantF"), std::vector<std::string>{row.call}) << row.what;
    }
    EXPECT_EQ(Reported(), "");
    // Not an array, and an empty one.
    Call2("shader_set_uniform_f_array", R(0), R(3));
    OwnedValue empty;
    empty.v.arr = RefArray_Create(&empty.v);
    empty.v.kind = VALUE_ARRAY;
    OwnedValue handle = R(0);
    CallPointers("shader_set_uniform_f_array", {&handle.v, &empty.v});
    EXPECT_EQ(Reported(), "Illegal argument type\nIllegal array count\n");
}

TEST_F(GfxShaderUniforms, MatricesTransposeForTypeOneOnly)
{
    std::vector<double> m(16);
    for (int i = 0; i < 16; ++i) m[size_t(i)] = i + 1;  // row r: 4r+1 .. 4r+4
    const char* straight = "SetShaderConstantF(1,0,4,[1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16])";
    const char* transposed = "SetShaderConstantF(1,0,4,[1 5 9 13 2 6 10 14 3 7 11 15 4 8 12 16])";
    struct Row {
        uint32_t type;
        const char* want;
    } rows[] = {{1, transposed}, {2, straight}, {0, straight}};
    for (const Row& row : rows) {
        const int32_t s = AddShader({FakeMatrix("m", VS, 4, 4)}, row.type);
        Select(s);
        device_.ClearLog();
        Call2("shader_set_uniform_matrix_array", R(0), Array(m));
        EXPECT_EQ(device_.Calls("SetShaderConstantF"), std::vector<std::string>{row.want}) << row.type;
    }
}

TEST_F(GfxShaderUniforms, MatrixArrayCountsWholeMatricesAndCutsAtTheConstant)
{
    const int32_t s = AddShader({FakeMatrix("one", VS, 4, 4), FakeMatrix("two", VS, 4, 4, 2)}, 2);
    Select(s);
    std::vector<double> v20(20), v15(15), v32(32);
    for (size_t i = 0; i < v20.size(); ++i) v20[i] = double(i);
    for (size_t i = 0; i < v32.size(); ++i) v32[i] = double(i);
    struct Row {
        const char* what;
        int32_t handle;
        const std::vector<double>* values;
        size_t uploads;
        uint32_t registers;
    } rows[] = {
        {"20 values: one matrix", 1, &v20, 1, 4},
        {"15 values: refused", 1, &v15, 0, 0},
        {"two matrices on a single one: cut to 4 registers", 0, &v32, 1, 4},
        {"two matrices on two", 1, &v32, 1, 8},
    };
    for (const Row& row : rows) {
        device_.ClearLog();
        ClearReports();
        Call2("shader_set_uniform_matrix_array", R(row.handle), Array(*row.values));
        const auto calls = device_.Calls("SetShaderConstantF");
        ASSERT_EQ(calls.size(), row.uploads) << row.what;
        if (row.uploads) {
            EXPECT_EQ(calls[0].substr(0, calls[0].find('[')),
                      "SetShaderConstantF(1," + std::to_string(row.handle * 4) + "," + std::to_string(row.registers) + ",")
                << row.what;
        }
        EXPECT_EQ(Reported(), row.uploads ? "" : "Illegal array count\n") << row.what;
    }
}

TEST_F(GfxShaderUniforms, SelectingSendsOnlyChangesAndMinusOneIsAReset)
{
    const int32_t a = AddShader({FakeVector("v", PS, 4)});
    auto programCalls = [&] { return device_.Calls("SetShaderProgram"); };
    Select(a);
    EXPECT_EQ(programCalls(), std::vector<std::string>{"SetShaderProgram(program)"});
    EXPECT_EQ(device_.shaderProgram, Shader_Get(a)->compiled);
    device_.ClearLog();
    Select(a);  // the current one: nothing at all
    EXPECT_TRUE(device_.log.empty()) << device_.log.front();

    // shader_set (-1) and shader_reset () leave the same trace.
    Select(-1);
    const auto viaSet = device_.log;
    EXPECT_EQ(programCalls(), std::vector<std::string>{"SetShaderProgram(null)"});
    EXPECT_EQ(device_.shaderProgram, nullptr);
    Select(a);
    device_.ClearLog();
    Call("shader_reset");
    EXPECT_EQ(device_.log, viaSet);
    // Nothing selected: a reset sends nothing; a reset with an argument is refused.
    device_.ClearLog();
    Call("shader_reset");
    EXPECT_TRUE(device_.log.empty());
    Select(a);
    device_.ClearLog();
    Call1("shader_reset", R(0));
    EXPECT_TRUE(device_.log.empty());
    EXPECT_EQ(Shader_Current(), Shader_Get(a));
    EXPECT_NE(Reported(), "");

    ClearReports();
    Select(7);
    EXPECT_EQ(Reported(), "Illegal shader handle\n");
    EXPECT_EQ(Shader_Current(), Shader_Get(a));
}

TEST_F(GfxShaderUniforms, SettersActOnTheCurrentShaderOnly)
{
    const int32_t a = AddShader({FakeVector("v", PS, 4)});
    const int32_t broken = AddShader({}, 1, "line 1: syntax error\n", 1);
    struct Row {
        const char* what;
        int32_t select;
        int32_t handle;
    } rows[] = {
        {"no shader", -1, 0},
        {"handle past the table", a, 1},
        {"negative handle", a, -2},
        {"shader without programs", broken, 0},
    };
    for (const Row& row : rows) {
        Select(row.select);
        device_.ClearLog();
        std::vector<OwnedValue> args;
        args.push_back(R(row.handle));
        args.push_back(R(1));
        Call("shader_set_uniform_f", std::move(args));
        EXPECT_EQ(device_.Count("SetShaderConstantF"), 0u) << row.what;
    }
}

TEST_F(GfxShaderUniforms, ABrokenShaderBindsNothingAndReportsInTheShaderForm)
{
    const int32_t good = AddShader({FakeSampler("kv_BaseTexture", PS, 2)});
    const int32_t broken = AddShader({}, 1, "(3): unexpected token\n", 1);
    EXPECT_EQ(Call1Real("shader_is_compiled", good), 1);
    EXPECT_EQ(Call1Real("shader_is_compiled", broken), 0);
    Select(good);
    EXPECT_EQ(GR_BatchTextureStage, 2);
    device_.ClearLog();
    const int32_t eventType = event_type;
    Select(broken);
    EXPECT_EQ(device_.Calls("SetShaderProgram"), std::vector<std::string>{"SetShaderProgram(null)"});
    EXPECT_EQ(GR_BatchTextureStage, 0);
    EXPECT_EQ(g_ErrorShaderName, std::string(Shader_Get(broken)->name));
    EXPECT_TRUE(g_ErrorShaderFragment);
    EXPECT_NE(console_.text.find("FATAL ERROR in Fragment Shader compilation\n\nShaderName: " +
                                 std::string(Shader_Get(broken)->name) + "\n\n\n(3): unexpected token\n"),
              std::string::npos)
        << console_.text;
    EXPECT_EQ(event_type, eventType);  // the event being run is put back
}

TEST_F(GfxShaderUniforms, SelectionUploadsTheBuiltinsExactly)
{
    const int32_t s = AddShader({FakeMatrix("kv_Matrices", VS, 4, 4, 5), FakeVector("kv_Lights_Direction", PS, 4, 8),
                                 FakeVector("kv_Lights_PosRange", PS, 4, 8), FakeVector("kv_Lights_Colour", PS, 4, 8),
                                 FakeVector("kv_AmbientColour", PS, 4), FakeSampler("kv_BaseTexture", PS, 1)},
                                2);  // no transposes, so registers hold the matrices as the engine has them
    FakeConstant lit = FakeVector("kv_LightingEnabled", PS, 1);
    lit.type = SCT_BOOL;
    lit.registerSet = SRS_BOOL;
    // The layout puts the light arrays at pixel registers 0, 8, 16 and the ambient colour at 24.
    const int32_t withBool = AddShader({lit}, 2);

    Light_DefineAmbient(0x80FF4020);
    Light_DefineDirection(0, 0, 0, 2, 0x0000FF);
    Light_Enable(0, true);
    Light_DefinePoint(3, 10, 20, 30, 100, 0xFF8000);
    Light_Enable(3, false);
    Light_SetLighting(true);
    Matrix44 world = Matrix_Identity();
    world.m[12] = 5;
    GR_D3D_SetMatrixUnshifted(RDTS_WORLD, world);

    Select(s);
    for (int m = 0; m < GRM_COUNT; ++m)
        for (int r = 0; r < 4; ++r)
            EXPECT_EQ(F(VS, uint32_t(m * 4 + r)),
                      (A4{GR_Matrices[m].m[r * 4], GR_Matrices[m].m[r * 4 + 1], GR_Matrices[m].m[r * 4 + 2],
                          GR_Matrices[m].m[r * 4 + 3]}))
                << m << " " << r;
    EXPECT_EQ(F(PS, 0), (A4{0, 0, -1, 1}));           // towards the light
    EXPECT_EQ(F(PS, 8 + 3), (A4{10, 20, 30, 100}));   // light 3's position and range
    EXPECT_EQ(F(PS, 16 + 0), (A4{1, 0, 0, 1}));       // red, enabled
    EXPECT_EQ(F(PS, 16 + 3), (A4{0, 0, 0, 0}));       // disabled: black
    EXPECT_EQ(g_LightColour[3][1], 128.0f / 255.0f);  // while its colour is kept
    EXPECT_EQ(F(PS, 24), (A4{0x20 / 255.0f, 0x40 / 255.0f, 1.0f, 0x80 / 255.0f}));
    EXPECT_EQ(GR_BatchTextureStage, 1);

    // A later matrix change goes to the current shader's kv_Matrices.
    world.m[13] = 7;
    GR_D3D_SetMatrixUnshifted(RDTS_WORLD, world);
    EXPECT_EQ(F(VS, 2 * 4 + 3), (A4{5, 7, 0, 1}));

    Select(withBool);
    EXPECT_EQ(device_.shaderRegisters.stage[PS].b[0], 1);
    Light_SetLighting(false);
    Select(-1);
    Select(withBool);
    EXPECT_EQ(device_.shaderRegisters.stage[PS].b[0], 0);
}

}  // namespace shader_uniforms_test
