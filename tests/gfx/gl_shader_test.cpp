// Shaders on the real OpenGL device (offscreen): HLSL pairs of tests/gfx/shaders/ compiled through the real path,
// selected as the engine selects them, and judged by the pixels they draw.
#include "gfx/shaders.h"

#include "core/console.h"
#include "core/error.h"
#include "core/memory_manager.h"
#include "fixture_cache.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/light.h"
#include "gfx/matrix.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/prim3d.h"
#include "gfx/quad.h"
#include "gfx/recorder.h"
#include "gfx/texpage.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "gl_test_util.h"
#include "platform/gl_device.h"
#include "platform/shader_compiler.h"
#include "test_support.h"
#include "world/options.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

namespace gl_shader_test {

constexpr uint32_t kSize = 64;


int Channel(uint32_t argb, int shift) { return int((argb >> shift) & 255); }

class GlShader : public testing::Test {
protected:
    void SetUp() override
    {
        gltest::VideoWindow& s = gltest::Video();
        ASSERT_NE(s.window, nullptr) << s.error;
        d = GL_Device();
        RDPresentParams p = gltest::PresentParams(s.window, kSize, kSize);
        if (d->HasDevice()) {
            ASSERT_EQ(d->Reset(&p), RD_OK);
        } else {
            ASSERT_FALSE(RD_Failed(d->CreateDevice(0, RD_DEVTYPE_HAL, s.window,
                                                   RD_CREATE_HARDWARE_VERTEXPROCESSING | RD_CREATE_FPU_PRESERVE, &p)));
            made_ = true;
        }
        GR_Device = d;
        ASSERT_EQ(d->GetDeviceCaps(0, RD_DEVTYPE_HAL, &GR_DeviceCaps), RD_OK);
        GR_PresentParams = p;
        savedDebug_ = DebugConsole;
        savedRelease_ = ReleaseConsole;
        DebugConsole = &debug_;
        ReleaseConsole = &release_;
        Error_ResetState();
        g_ShowErrorDialogs = false;
        deferred_ = g_IniOptions.createTexturesOnDemand;
        g_IniOptions.createTexturesOnDemand = false;
        GPUState::SetDefaults();
        GPUState::Apply();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        Texture_ForgetBindings();
        const uint32_t white = 0xFFFFFFFF;
        GR_WhiteTexture = GR_Texture_Create(1, 1, &white, 4);
        GR_WhiteTexturePage = GR_Texture_Page(GR_WhiteTexture);
        d->SetRenderState(RDRS_CULLMODE, 1);
        d->SetRenderState(RDRS_ZENABLE, 0);
        d->SetRenderState(RDRS_LIGHTING, 0);
        GR_D3D_SetTextureStageOps(true);
        gltest::Ortho2D(kSize);
        GR_Depth = 0;
        GR_PrimOffsetX = GR_PrimOffsetY = 1.0f;
        GR_Draw_Init();
        GR_Draw_SetAlpha(1.0f);
        GR_Draw_SetColour(0xFFFFFF);
        Light_Reset();
    }
    void TearDown() override
    {
        Shader_FreeAll();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        GR_WhiteTexture = -1;
        GR_WhiteTexturePage = nullptr;
        g_IniOptions.createTexturesOnDemand = deferred_;
        GR_Device = nullptr;
        GR_DeviceCaps = RDCaps{};
        GPUState::SetDefaults();
        GR_Draw_SetColour(0);
        Light_Reset();
        Error_ResetState();
        DebugConsole = savedDebug_;
        ReleaseConsole = savedRelease_;
        if (made_) d->ReleaseDevice();
    }

    const char* Keep(std::string text)
    {
        texts_.push_back(std::move(text));
        return texts_.back().c_str();
    }
    static std::string Corpus(const std::string& file)
    {
        const std::string text = kvtest::ReadFile(kvtest::SourceDir() + "/tests/gfx/shaders/" + file);
        EXPECT_FALSE(text.empty()) << file;
        return text;
    }
    // A shader record over two texts, compiled as the loader compiles it.
    Shader* Make(const std::string& name, const std::string& vertex, const std::string& pixel, uint32_t type = 1)
    {
        const uint8_t* sources[8] = {};
        sources[4] = reinterpret_cast<const uint8_t*>(Keep(vertex));
        sources[5] = reinterpret_cast<const uint8_t*>(Keep(pixel));
        Shader* s = Shader_Add(Keep(name), type, sources, 0, nullptr);
        ShaderM_Compile(s);
        return s;
    }
    Shader* MakeFromCorpus(const std::string& vs, const std::string& ps, uint32_t type = 1)
    {
        Shader* s = Make(vs + "+" + ps, Corpus(vs), Corpus(ps), type);
        EXPECT_EQ(s->errorText, nullptr) << vs << " / " << ps << ": " << (s->errorText ? s->errorText : "");
        return s;
    }
    static void Select(Shader* s)
    {
        Shader_SetPending(s);
        Shader_ApplyPending();
    }
    std::vector<uint32_t> Read()
    {
        GraphicsFlush();
        return gltest::ReadBackBuffer(d);
    }
    uint32_t Pixel(uint32_t x, uint32_t y)
    {
        const std::vector<uint32_t> image = Read();
        return image.size() == size_t(kSize) * kSize ? image[y * kSize + x] : 0;
    }
    void ClearTo(uint32_t argb)
    {
        GraphicsFlush();
        d->Clear(RDCLEAR_TARGET, argb, 1.0f, 0);
    }
    // A pixel constant of the shader by name and stage (names may repeat across stages).
    static int32_t ConstantOf(const Shader* s, const char* name, uint8_t stage)
    {
        return s->compiled ? CompiledProgram_Find(s->compiled, stage, name) : -1;
    }

    RenderDevice* d = nullptr;
    bool made_ = false;
    bool deferred_ = false;
    kvtest::RecordingConsole debug_, release_;
    tagIConsole* savedDebug_ = nullptr;
    tagIConsole* savedRelease_ = nullptr;
    std::deque<std::string> texts_;
};

// A 16 x 16 page of distinct texels.
int32_t MakePattern(uint32_t size = 16)
{
    std::vector<uint32_t> pixels(size_t(size) * size);
    for (uint32_t y = 0; y < size; ++y)
        for (uint32_t x = 0; x < size; ++x) pixels[y * size + x] = 0xFF000000u | (x * 16) << 16 | (y * 16) << 8 | ((x ^ y) * 8);
    return GR_Texture_Create(int32_t(size), int32_t(size), pixels.data(), uint32_t(pixels.size() * 4));
}

TEST_F(GlShader, PassThroughDrawsAsTheFixedFunctionDoes)
{
    Shader* s = MakeFromCorpus("passthrough.vs", "passthrough.ps");
    ASSERT_NE(s->compiled, nullptr);
    const int32_t page = MakePattern();
    TexturePageEntry entry{0, 0, 16, 16, 0, 0, 16, 16, 16, 16, int16_t(page)};
    GR_Texture_SetInterpolation(false);
    std::vector<uint32_t> images[2];
    for (int pass = 0; pass < 2; ++pass) {
        Select(pass ? s : nullptr);
        EXPECT_EQ(GR_BatchTextureStage, 0);  // kv_BaseTexture is register 0, as without a shader
        ClearTo(0xFF202020);
        GR_Draw_SetColour(0xFFFFFF);
        GR_TPE_Draw(&entry, 5, 7);
        GR_Draw_SetColour(0x80FF40);
        GR_Draw_Rectangle(30, 30, 50, 40, false);
        GR_TPE_Draw(&entry, 40, 3);
        images[pass] = Read();
    }
    ASSERT_EQ(images[0].size(), size_t(kSize) * kSize);
    EXPECT_NE(images[0][(7 + 3) * kSize + 5 + 4], 0xFF202020u);
    EXPECT_NE(images[0][(7 + 3) * kSize + 5 + 4], images[0][(7 + 4) * kSize + 5 + 4]);
    for (size_t i = 0; i < images[0].size(); ++i) ASSERT_EQ(images[1][i], images[0][i]) << i % kSize << ", " << i / kSize;
}

TEST_F(GlShader, ATintUniformTurnsWhiteRed)
{
    Shader* s = MakeFromCorpus("passthrough.vs", "tint.ps");
    ASSERT_NE(s->compiled, nullptr);
    Select(s);
    const int32_t tint = ShaderM_GetUniform(s, "tint");
    ASSERT_GE(tint, 0);
    const float red[4] = {1, 0, 0, 1};
    ASSERT_TRUE(ShaderM_SetUniformF(tint, 4, red));
    ClearTo(0xFF000000);
    GR_Draw_Rectangle(10, 10, 20, 20, false);
    EXPECT_EQ(Pixel(15, 15), 0xFFFF0000u);
    EXPECT_EQ(Pixel(30, 30), 0xFF000000u);
}

TEST_F(GlShader, ASecondSamplerIsFedByItsStage)
{
    Shader* s = MakeFromCorpus("passthrough.vs", "second_sampler.ps");
    ASSERT_NE(s->compiled, nullptr);
    EXPECT_EQ(ShaderM_GetSampler(s, "overlay"), 1);
    const uint32_t green = 0xFF00FF00;
    const int32_t overlay = GR_Texture_Create(1, 1, &green, 4);
    Select(s);
    GR_Texture_SetStageHandle(1, overlay);
    ClearTo(0xFF000000);
    GR_Draw_SetColour(0xFFFFFF);
    GR_Draw_Rectangle(10, 10, 20, 20, false);  // the white texture times green
    EXPECT_EQ(Pixel(15, 15), 0xFF00FF00u);
}

TEST_F(GlShader, MatrixRegistersFollowTheShaderType)
{
    // Row 1 is red, column 1 is blue: the colour shows which one the program saw as M.
    const float m[16] = {0, 0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 0};
    // Type 1 sends the engine matrices transposed, so its vertex text keeps the default packing; the other
    // type's text declares them row_major.
    struct Row {
        uint32_t type;
        const char* vertex;
        uint32_t want;
    } rows[] = {{1, "matrix_row.vs", 0xFFFF0000u}, {2, "matrix_row_rowmajor.vs", 0xFF0000FFu}};
    for (const Row& row : rows) {
        Shader* s = MakeFromCorpus(row.vertex, "colour.ps", row.type);
        ASSERT_NE(s->compiled, nullptr);
        Select(s);
        ShaderM_SetUniformMatrices(ShaderM_GetUniform(s, "M"), 1, m);
        ClearTo(0xFF000000);
        GR_Draw_Rectangle(10, 10, 20, 20, false);
        EXPECT_EQ(Pixel(15, 15), row.want) << row.type;
    }
}

TEST_F(GlShader, ArraysIntsAndBoolsReachTheProgram)
{
    Shader* arrays = MakeFromCorpus("passthrough.vs", "arrays.ps");
    ASSERT_NE(arrays->compiled, nullptr);
    Select(arrays);
    const float a3[6] = {0.1f, 0.2f, 0.3f, 64 / 255.0f, 0.5f, 0.6f};
    const float a4[8] = {0, 0, 0, 0, 0.9f, 128 / 255.0f, 0, 0};
    ASSERT_TRUE(ShaderM_SetUniformFArray(ShaderM_GetUniform(arrays, "a3"), 6, a3));
    ASSERT_TRUE(ShaderM_SetUniformFArray(ShaderM_GetUniform(arrays, "a4"), 8, a4));
    ClearTo(0xFF000000);
    GR_Draw_Rectangle(10, 10, 20, 20, false);
    const uint32_t p = Pixel(15, 15);
    EXPECT_NEAR(Channel(p, 16), 64, 1);   // a3[1].x
    EXPECT_NEAR(Channel(p, 8), 128, 1);   // a4[1].y
    EXPECT_NEAR(Channel(p, 0), 77, 1);    // a3[0].z = 0.3

    Shader* ib = MakeFromCorpus("passthrough.vs", "int_bool.ps");
    ASSERT_NE(ib->compiled, nullptr);
    Select(ib);
    const int32_t count = ShaderM_GetUniform(ib, "count"), flag = ShaderM_GetUniform(ib, "flag");
    ASSERT_GE(count, 0);
    ASSERT_GE(flag, 0);
    struct Step {
        bool intSetters;  // count by _i and flag by _f, or the other way round
        double count;
        double flag;
        uint32_t want;
    } steps[] = {{true, 128, 1, 0xFF800000u}, {false, 64.7, 0, 0xFF0000FFu}, {false, 32.2, 1, 0xFF200000u}};
    for (const Step& step : steps) {
        if (step.intSetters) {
            const int32_t c = int32_t(step.count);
            const float f = float(step.flag);
            ShaderM_SetUniformI(count, 1, &c);
            ShaderM_SetUniformF(flag, 1, &f);
        } else {
            const float c = float(step.count);
            const int32_t f = int32_t(step.flag);
            ShaderM_SetUniformF(count, 1, &c);
            ShaderM_SetUniformI(flag, 1, &f);
        }
        ClearTo(0xFF000000);
        GR_Draw_Rectangle(10, 10, 20, 20, false);
        EXPECT_EQ(Pixel(15, 15), step.want) << step.count;
    }
}

TEST_F(GlShader, OneNameInBothStagesIsTwoConstants)
{
    Shader* s = MakeFromCorpus("shared_global.vs", "shared_global.ps");
    ASSERT_NE(s->compiled, nullptr);
    const int32_t vs = ConstantOf(s, "shared_value", SC_STAGE_VERTEX), ps = ConstantOf(s, "shared_value", SC_STAGE_PIXEL);
    ASSERT_GE(vs, 0);
    ASSERT_GE(ps, 0);
    EXPECT_EQ(ShaderM_GetUniform(s, "shared_value"), vs);  // the vertex one is found first
    Select(s);
    const float red[4] = {1, 0, 0, 0.5f}, blue[4] = {0, 0, 1, 0.5f};
    ShaderM_SetUniformF(vs, 4, red);
    ShaderM_SetUniformF(ps, 4, blue);
    ClearTo(0xFF000000);
    GR_Draw_Rectangle(10, 10, 20, 20, false);
    EXPECT_EQ(Pixel(15, 15), 0xFFFF00FFu);
}

TEST_F(GlShader, OlderDialectIdiomsCompileAndDraw)
{
    Shader* s = MakeFromCorpus("idioms.vs", "idioms.ps");
    ASSERT_NE(s->compiled, nullptr);
    Select(s);
    ClearTo(0xFF404040);
    GR_Draw_Rectangle(8, 8, 24, 24, false);  // the white texture
    const std::vector<uint32_t> image = Read();
    ASSERT_EQ(image.size(), size_t(kSize) * kSize);
    for (uint32_t y = 10; y < 22; ++y)
        for (uint32_t x = 10; x < 22; ++x)
            ASSERT_EQ(image[y * kSize + x], (x + y) % 2 ? 0xFFFFFFFFu : 0xFF000000u) << x << ", " << y;
    EXPECT_EQ(image[30 * kSize + 30], 0xFF404040u);
}

// The lit colour by the equation, in Python: ambient + the light's colour times max(N·L, 0), times the vertex
// colour, each channel clamped and rounded to a byte.
std::vector<int> PythonLit(const std::string& expression)
{
    const std::string command = kvtest::Python() + " -c " + kvtest::ShellQuote(expression);
    std::vector<int> out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    int v = 0;
    while (std::fscanf(pipe, "%d", &v) == 1) out.push_back(v);
    pclose(pipe);
    return out;
}

TEST_F(GlShader, ALitShaderReadsTheEngineLights)
{
    Shader* s = MakeFromCorpus("lit.vs", "colour.ps");
    ASSERT_NE(s->compiled, nullptr);
    Light_DefineAmbient(0x202020);
    Light_DefineDirection(0, 0.0f, 0.6f, 0.8f, 0x4080FF);  // towards the light: (0, -0.6, -0.8)
    Light_Enable(0, true);
    Light_DefineDirection(1, 0, 0, 1, 0xFFFFFF);  // defined but off
    Light_Enable(1, false);
    Light_SetLighting(true);
    Select(s);
    ClearTo(0xFF000000);
    GR_3D_PrimitiveBegin(RDPT_TRIANGLESTRIP, -1);
    const float corners[4][2] = {{10, 10}, {30, 10}, {10, 30}, {30, 30}};
    // The normal faces the viewer (towards -z) tilted up.
    for (const auto& c : corners) GR_3D_VertexNormalColour(c[0], c[1], 0, 0, -0.6f, -0.8f, 0xC0C0C0, 1.0f);
    GR_3D_PrimitiveEnd();
    const uint32_t p = Pixel(20, 20);
    const std::vector<int> want = PythonLit(
        "amb = [0x20 / 255.0] * 3\n"
        "col = [0xFF / 255.0, 0x80 / 255.0, 0x40 / 255.0]\n"
        "n = (0.0, -0.6, -0.8)\n"
        "l = (0.0, -0.6, -0.8)\n"
        "d = max(sum(a * b for a, b in zip(n, l)), 0.0)\n"
        "v = 0xC0 / 255.0\n"
        "print(*[round(min(max(a + c * d, 0.0), 1.0) * v * 255) for a, c in zip(amb, col)])\n");
    ASSERT_EQ(want.size(), 3u);
    EXPECT_NEAR(Channel(p, 16), want[0], 2);
    EXPECT_NEAR(Channel(p, 8), want[1], 2);
    EXPECT_NEAR(Channel(p, 0), want[2], 2);

    // Lighting off: the vertex colour as it comes.
    Light_SetLighting(false);
    Shader_SetPending(nullptr);
    Shader_Apply();
    Select(s);
    ClearTo(0xFF000000);
    GR_3D_PrimitiveBegin(RDPT_TRIANGLESTRIP, -1);
    for (const auto& c : corners) GR_3D_VertexNormalColour(c[0], c[1], 0, 0, -0.6f, -0.8f, 0xC0C0C0, 1.0f);
    GR_3D_PrimitiveEnd();
    const uint32_t unlit = Pixel(20, 20);
    Shader_SetPending(nullptr);
    Shader_Apply();
    ClearTo(0xFF000000);
    GR_3D_PrimitiveBegin(RDPT_TRIANGLESTRIP, -1);
    for (const auto& c : corners) GR_3D_VertexNormalColour(c[0], c[1], 0, 0, -0.6f, -0.8f, 0xC0C0C0, 1.0f);
    GR_3D_PrimitiveEnd();
    EXPECT_EQ(unlit, Pixel(20, 20));  // as the fixed-function path draws it unlit
}

TEST_F(GlShader, AlphaTestDropsWhatFailsTheReference)
{
    Shader* s = MakeFromCorpus("passthrough.vs", "alpha.ps");
    ASSERT_NE(s->compiled, nullptr);
    Select(s);
    GPUState::SetRenderState(GPURS_ALPHATESTENABLE, 1);
    GPUState::SetRenderState(GPURS_ALPHATESTREF, 128);
    GPUState::SetRenderState(GPURS_ALPHATESTFUNC, 7);  // greater or equal
    struct Row {
        int alpha;
        bool drawn;
    } rows[] = {{0x7F, false}, {0x80, true}, {0xFF, true}};
    for (const Row& row : rows) {
        const float a = float(row.alpha) / 255.0f;
        ShaderM_SetUniformF(ShaderM_GetUniform(s, "alpha"), 1, &a);
        ClearTo(0xFF0000FF);
        GR_Draw_Rectangle(10, 10, 20, 20, false);
        const uint32_t p = Pixel(15, 15);
        EXPECT_EQ(p == 0xFF0000FFu, !row.drawn) << row.alpha << " " << std::hex << p;
    }
}

TEST_F(GlShader, ASyntaxErrorInThePixelTextIsReportedWhenSelected)
{
    Shader* s = Make("sh_broken", Corpus("passthrough.vs"), Corpus("broken.ps"));
    EXPECT_EQ(s->compiled, nullptr);
    ASSERT_NE(s->errorText, nullptr);
    EXPECT_EQ(s->errorStage, 1);
    EXPECT_NE(debug_.text.find("Error in fragment shader \"sh_broken\"\n\n "), std::string::npos) << debug_.text;
    Shader* good = MakeFromCorpus("passthrough.vs", "tint.ps");
    Select(good);
    Select(s);
    EXPECT_NE(release_.text.find("FATAL ERROR in Fragment Shader compilation\n\nShaderName: sh_broken\n\n\n"),
              std::string::npos)
        << release_.text;
    EXPECT_EQ(GR_BatchTextureStage, 0);
    // Nothing is bound: drawing goes through the fixed-function path.
    ClearTo(0xFF000000);
    GR_Draw_SetColour(0x00FF00);
    GR_Draw_Rectangle(10, 10, 20, 20, false);
    EXPECT_EQ(Pixel(15, 15), 0xFF00FF00u);
}

TEST_F(GlShader, HostileTextsFailWithAnError)
{
    const std::string vs = Corpus("passthrough.vs"), ps = Corpus("colour.ps");
    std::string longName(1 << 20, 'q');
    std::string deep = "float4 main (float4 col : COLOR0) : COLOR0 { return ";
    for (int i = 0; i < 20000; ++i) deep += "(";
    deep += "col";
    for (int i = 0; i < 20000; ++i) deep += ")";
    deep += "; }\n";
    struct Row {
        const char* what;
        std::string vertex, pixel;
    } rows[] = {
        {"a 1 MB identifier", vs, "float4 " + longName + "; float4 main () : COLOR0 { return " + longName + "; }"},
        {"deep nesting", vs, deep},
        {"a huge array", vs, "float4 a[100000]; float4 main () : COLOR0 { return a[99999]; }"},
        {"no main", vs, "float4 other () : COLOR0 { return 1; }"},
        {"mismatched semantics", vs, "float4 main (float4 x : TEXCOORD7) : COLOR0 { return x; }"},
    };
    for (const Row& row : rows) {
        Shader* s = Make(row.what, row.vertex, row.pixel);
        EXPECT_EQ(s->compiled, nullptr) << row.what;
        EXPECT_NE(s->errorText, nullptr) << row.what;
    }
}

}  // namespace gl_shader_test
