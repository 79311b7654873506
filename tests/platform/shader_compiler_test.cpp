// The HLSL pair compiler: constant tables and attribute bindings from translation alone (no GL), the register
// files' decoding, and on the offscreen driver whole programs drawn with raw GL and read back.
#include <SDL.h>
#include <gtest/gtest.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include "fake_shader_compiler.h"
#include "fixture_cache.h"
#include "platform/gl_device.h"
#include "platform/platform.h"
#include "platform/shader_compiler.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace shader_compiler_test {

std::string Text(const std::string& file)
{
    return kvtest::ReadFile(kvtest::SourceDir() + "/tests/platform/shaders/" + file);
}

// A compiled (or failed) pair that frees itself.
struct Program {
    CompiledProgram p;
    bool ok = false;
    Program() = default;
    Program(const Program&) = delete;
    ~Program() { CompiledProgram_Free(&p); }
};

void Translate(const std::string& vs, const std::string& ps, Program* out)
{
    out->ok = ShaderCompiler_Translate(vs.data(), vs.size(), ps.data(), ps.size(), &out->p);
}

std::string Describe(const CompiledConstant& k)
{
    char line[256];
    std::snprintf(line, sizeof line, "%s stage %u set %u reg %u+%u class %u type %u %ux%u [%u] bytes %u", k.name,
                  k.stage, k.registerSet, k.registerIndex, k.registerCount, k.cls, k.type, k.rows, k.columns,
                  k.elements, k.bytes);
    return line;
}

std::vector<std::string> Table(const CompiledProgram& p)
{
    std::vector<std::string> rows;
    for (uint32_t i = 0; i < p.constantCount; ++i) rows.push_back(Describe(p.constants[i]));
    return rows;
}

// ---- Tables from translation --------------------------------------------------------------------------------

struct TableCase {
    const char* vs;
    const char* ps;
    std::vector<std::string> table;
};

TEST(ShaderCompiler, ConstantTablesListVertexThenPixelInDeclarationOrder)
{
    const TableCase cases[] = {
        {"passthrough.vs.hlsl", "passthrough.ps.hlsl",
         {"kv_Matrices stage 1 set 2 reg 0+20 class 3 type 3 4x4 [5] bytes 320",
          "kv_BaseTexture stage 0 set 3 reg 0+1 class 4 type 12 1x1 [1] bytes 4"}},
        {"simple.vs.hlsl", "tint.ps.hlsl", {"_tint stage 0 set 2 reg 0+1 class 1 type 3 1x4 [1] bytes 16"}},
        {"simple.vs.hlsl", "samplers.ps.hlsl",
         {"kv_BaseTexture stage 0 set 3 reg 0+1 class 4 type 12 1x1 [1] bytes 4",
          "second stage 0 set 3 reg 1+1 class 4 type 12 1x1 [1] bytes 4"}},
        // Default packing keeps a column per register, row_major a row.
        {"matrix.vs.hlsl", "colour.ps.hlsl",
         {"M stage 1 set 2 reg 0+4 class 3 type 3 4x4 [1] bytes 64",
          "N stage 1 set 2 reg 4+4 class 2 type 3 4x4 [1] bytes 64"}},
        {"arrays.vs.hlsl", "colour.ps.hlsl",
         {"a3 stage 1 set 2 reg 0+2 class 1 type 3 1x3 [2] bytes 24",
          "a4 stage 1 set 2 reg 2+3 class 1 type 3 1x4 [3] bytes 48"}},
        {"simple.vs.hlsl", "intbool.ps.hlsl",
         {"count stage 0 set 1 reg 0+1 class 0 type 2 1x1 [1] bytes 4",
          "flag stage 0 set 0 reg 0+1 class 0 type 1 1x1 [1] bytes 4"}},
        // One name in both stages: two constants, each in its own stage's registers.
        {"shared.vs.hlsl", "shared.ps.hlsl",
         {"shade stage 1 set 2 reg 0+1 class 1 type 3 1x4 [1] bytes 16",
          "shade stage 0 set 2 reg 0+1 class 1 type 3 1x4 [1] bytes 16"}},
        {"simple.vs.hlsl", "idioms.ps.hlsl", {"image stage 0 set 3 reg 0+1 class 4 type 12 1x1 [1] bytes 4"}},
    };
    for (const TableCase& c : cases) {
        SCOPED_TRACE(std::string(c.vs) + " + " + c.ps);
        Program p;
        Translate(Text(c.vs), Text(c.ps), &p);
        ASSERT_TRUE(p.ok) << (p.p.errorText ? p.p.errorText : "");
        EXPECT_EQ(Table(p.p), c.table);
        for (uint32_t i = 0; i < p.p.constantCount; ++i) EXPECT_EQ(p.p.constants[i].location, -1);
    }
}

TEST(ShaderCompiler, UnusedGlobalsTakeNoRegisters)
{
    const std::string ps =
        "float4 unused; float4 used; float4 alsoUnused[4]; float4 last;\n"
        "float4 main(float4 col : COLOR0) : COLOR0 { return col * used + last; }\n";
    Program p;
    Translate(Text("simple.vs.hlsl"), ps, &p);
    ASSERT_TRUE(p.ok) << (p.p.errorText ? p.p.errorText : "");
    EXPECT_EQ(Table(p.p), (std::vector<std::string>{
                              "used stage 0 set 2 reg 0+1 class 1 type 3 1x4 [1] bytes 16",
                              "last stage 0 set 2 reg 1+1 class 1 type 3 1x4 [1] bytes 16"}));
}

TEST(ShaderCompiler, AttributesBindBySemanticInDeclarationOrder)
{
    const std::string vs =
        "void main(float3 n : NORMAL, float4 p : POSITION0, float2 t1 : TEXCOORD1, float4 c : color,\n"
        "          float2 t0 : TEXCOORD0, out float4 o : POSITION)\n"
        "{ o = p + float4(n, 0) + c + float4(t0 + t1, 0, 0); }\n";
    Program p;
    Translate(vs, Text("colour.ps.hlsl"), &p);
    // colour.ps reads COLOR0 which this program does not write.
    ASSERT_FALSE(p.ok);
    Program q;
    Translate(vs, "float4 main() : COLOR0 { return 1; }", &q);
    ASSERT_TRUE(q.ok) << (q.p.errorText ? q.p.errorText : "");
    struct Want {
        uint8_t usage, index, components;
        int32_t location;
    };
    const Want want[] = {{SDU_NORMAL, 0, 3, 0},   {SDU_POSITION, 0, 4, 1}, {SDU_TEXCOORD, 1, 2, 2},
                         {SDU_COLOR, 0, 4, 3},    {SDU_TEXCOORD, 0, 2, 4}};
    ASSERT_EQ(q.p.attributeCount, 5u);
    for (const Want& w : want) {
        EXPECT_EQ(CompiledProgram_AttributeLocation(&q.p, w.usage, w.index), w.location);
        EXPECT_EQ(q.p.attributes[w.location].components, w.components);
    }
    EXPECT_EQ(CompiledProgram_AttributeLocation(&q.p, SDU_TEXCOORD, 2), -1);
    EXPECT_EQ(CompiledProgram_AttributeLocation(&q.p, SDU_BLENDWEIGHT, 0), -1);
}

TEST(ShaderCompiler, SemanticsNameUsageAndIndex)
{
    struct Case {
        const char* text;
        bool ok;
        uint8_t usage, index;
    };
    const Case cases[] = {
        {"POSITION", true, SDU_POSITION, 0},     {"POSITIONT", true, SDU_POSITIONT, 0},
        {"position1", true, SDU_POSITION, 1},
        {"TEXCOORD7", true, SDU_TEXCOORD, 7}, {"TEXCOORD15", true, SDU_TEXCOORD, 15}, {"COLOR1", true, SDU_COLOR, 1},
        {"BLENDINDICES", true, SDU_BLENDINDICES, 0}, {"PSIZE", true, SDU_PSIZE, 0}, {"SAMPLE", true, SDU_SAMPLE, 0},
        {"TEXCOORD16", false, 0, 0}, {"TEXCOORD123", false, 0, 0}, {"VPOS", false, 0, 0}, {"", false, 0, 0},
        {"SV_Position", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        uint8_t usage = 99, index = 99;
        EXPECT_EQ(ShaderSemantic_Parse(c.text, &usage, &index), c.ok);
        if (c.ok) {
            EXPECT_EQ(usage, c.usage);
            EXPECT_EQ(index, c.index);
        }
    }
}

// Errors come back with text and the stage they belong to; nothing hostile crashes or hangs.
TEST(ShaderCompiler, BadPairsFailWithTextAndStage)
{
    std::string longName(1 << 20, 'q');
    const std::string hugeIdentifier = "float4 " + longName + ";\nfloat4 main(float4 c : COLOR0) : COLOR0 { return " +
                                       longName + " * c; }\n";
    std::string deep = "float4 main(float4 c : COLOR0) : COLOR0 { return ";
    for (int i = 0; i < 100000; ++i) deep += '(';
    deep += 'c';
    for (int i = 0; i < 100000; ++i) deep += ')';
    deep += "; }\n";
    std::string deepish = "float4 main(float4 c : COLOR0) : COLOR0 { return ";
    for (int i = 0; i < 200; ++i) deepish += '(';
    deepish += 'c';
    for (int i = 0; i < 200; ++i) deepish += ')';
    deepish += "; }\n";
    struct Case {
        const char* what;
        std::string vs, ps;
        int32_t stage;
        const char* text;  // part of the error text
    };
    const Case cases[] = {
        {"syntax error in the pixel text", Text("simple.vs.hlsl"), Text("broken.ps.hlsl"), 1, "ERROR"},
        {"syntax error in the vertex text", "void main( {", Text("colour.ps.hlsl"), 0, "ERROR"},
        {"no main", Text("simple.vs.hlsl"), Text("nomain.ps.hlsl"), 1, "Entry point"},
        {"pixel input not written", Text("simple.vs.hlsl"), Text("unwritten.ps.hlsl"), 1, "TEXCOORD3"},
        {"huge array", Text("simple.vs.hlsl"), Text("bigarray.ps.hlsl"), 1, "'a'"},
        {"used floats beyond 256 registers", Text("simple.vs.hlsl"),
         "float4 b[200]; float4x4 m[20];\n"
         "float4 main(float4 c : COLOR0) : COLOR0 { return mul(c, m[19]) + b[199]; }",
         1,
         "'m' does not fit in the float4 registers"},
        {"used ints beyond 16 registers",
         "int4 k[17];\nfloat4 main(float4 p : POSITION) : POSITION { return p * k[16].x; }",
         "float4 main() : COLOR0 { return 1; }", 0, "'k' does not fit in the int4 registers"},
        {"1 MB identifier", Text("simple.vs.hlsl"), hugeIdentifier, 1, "too long"},
        {"deep nesting", Text("simple.vs.hlsl"), deep, 1, "nested"},
        {"empty vertex text", "", Text("colour.ps.hlsl"), 0, "empty"},
        {"no position written", "void main(float4 c : COLOR0, out float4 o : COLOR0) { o = c; }",
         Text("colour.ps.hlsl"), 0, "POSITION"},
        {"vertex input without a known semantic", "float4 main(float4 p : BOGUS) : POSITION { return p; }",
         "float4 main() : COLOR0 { return 1; }", 0, "BOGUS"},
        {"pixel output other than a colour", Text("simple.vs.hlsl"),
         "float4 main(float4 c : COLOR0) : TEXCOORD0 { return c; }", 1, "TEXCOORD0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto start = std::chrono::steady_clock::now();
        Program p;
        Translate(c.vs, c.ps, &p);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        EXPECT_FALSE(p.ok);
        ASSERT_NE(p.p.errorText, nullptr);
        EXPECT_GT(std::strlen(p.p.errorText), 0u);
        EXPECT_NE(std::string(p.p.errorText).find(c.text), std::string::npos) << p.p.errorText;
        EXPECT_EQ(p.p.errorStage, c.stage) << p.p.errorText;
        EXPECT_EQ(p.p.constantCount, 0u);
        EXPECT_EQ(p.p.program, 0u);
    }
    // Nesting an ordinary program might use still compiles.
    Program ok;
    Translate(Text("simple.vs.hlsl"), deepish, &ok);
    EXPECT_TRUE(ok.ok) << (ok.p.errorText ? ok.p.errorText : "");
}

// ---- Register files and their decoding ----------------------------------------------------------------------

struct Captured {
    ShaderUniformUpload u;
    std::vector<float> f;
    std::vector<int32_t> i;
};
void Capture(const ShaderUniformUpload& u, void* context)
{
    auto* out = static_cast<std::vector<Captured>*>(context);
    Captured c{u, {}, {}};
    if (u.kind == ShaderUniformUpload::Float || u.kind == ShaderUniformUpload::Matrix)
        c.f.assign(static_cast<const float*>(u.values), static_cast<const float*>(u.values) + u.valueCount);
    else
        c.i.assign(static_cast<const int32_t*>(u.values), static_cast<const int32_t*>(u.values) + u.valueCount);
    c.u.values = nullptr;
    out->push_back(c);
}

TEST(ShaderCompiler, RegistersDecodeIntoUniformUploads)
{
    kvtest::FakeShaderCompiler fake;
    kvtest::FakeCompileResult script;
    script.constants = {
        kvtest::FakeMatrix("cols", SC_STAGE_VERTEX, 4, 3),                 // float4x3: 3 registers of 4
        kvtest::FakeMatrix("rows", SC_STAGE_VERTEX, 2, 3, 1, true),        // row_major float2x3: 2 registers of 3
        kvtest::FakeVector("v3", SC_STAGE_VERTEX, 3, 2),                   // float3[2]
        kvtest::FakeVector("edge", SC_STAGE_VERTEX, 4, 1),                 // placed at the last register below
        kvtest::FakeSampler("tex", SC_STAGE_PIXEL, 2),
    };
    kvtest::FakeConstant ints = kvtest::FakeVector("i2", SC_STAGE_PIXEL, 2);
    ints.registerSet = SRS_INT4;
    ints.type = SCT_INT;
    kvtest::FakeConstant bools = kvtest::FakeVector("b", SC_STAGE_PIXEL, 1, 3);
    bools.registerSet = SRS_BOOL;
    bools.type = SCT_BOOL;
    script.constants.push_back(ints);
    script.constants.push_back(bools);
    kvtest::FakeLayout(&script.constants);
    script.constants[3].registerIndex = SC_FLOAT_REGISTERS - 1;
    fake.fallback = script;
    kvtest::ScopedShaderCompiler scoped(&fake);
    Program p;
    p.ok = ShaderCompiler_Get()->Compile("v", 1, "p", 1, &p.p);
    ASSERT_TRUE(p.ok);
    ASSERT_EQ(fake.compiled.size(), 1u);
    EXPECT_EQ(p.p.constants[1].registerIndex, 3u);
    EXPECT_EQ(p.p.constants[2].registerIndex, 5u);

    ShaderRegisters regs;
    ShaderRegisters_Clear(&regs);
    std::vector<float> f(4 * 7);
    for (size_t i = 0; i < f.size(); ++i) f[i] = float(i);
    EXPECT_TRUE(ShaderRegisters_SetF(&regs, SC_STAGE_VERTEX, 0, f.data(), 7));
    const float last[8] = {90, 91, 92, 93, 94, 95, 96, 97};
    EXPECT_FALSE(ShaderRegisters_SetF(&regs, SC_STAGE_VERTEX, SC_FLOAT_REGISTERS - 1, last, 2));  // cut
    const int32_t i2[4] = {7, -8, 9, 10};
    EXPECT_TRUE(ShaderRegisters_SetI(&regs, SC_STAGE_PIXEL, 0, i2, 1));
    const int32_t b[3] = {5, 0, -1};
    EXPECT_TRUE(ShaderRegisters_SetB(&regs, SC_STAGE_PIXEL, 0, b, 3));
    EXPECT_FALSE(ShaderRegisters_SetB(&regs, SC_STAGE_PIXEL, SC_BOOL_REGISTERS, b, 1));
    EXPECT_FALSE(ShaderRegisters_SetI(&regs, 2, 0, i2, 1));

    std::vector<Captured> got;
    ShaderRegisters_Upload(&p.p, &regs, Capture, &got);
    ASSERT_EQ(got.size(), 6u);  // the sampler has no registers to send
    // Column packing: register j is declared column j, a GL row: sent transposed, 3 rows of 4.
    EXPECT_EQ(got[0].u.kind, ShaderUniformUpload::Matrix);
    EXPECT_EQ(got[0].u.matrixColumns, 4);
    EXPECT_EQ(got[0].u.matrixRows, 3);
    EXPECT_TRUE(got[0].u.transpose);
    EXPECT_EQ(got[0].f, (std::vector<float>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    // Row packing: register i is declared row i, a GL column of 3: sent as it is.
    EXPECT_FALSE(got[1].u.transpose);
    EXPECT_EQ(got[1].u.matrixColumns, 2);
    EXPECT_EQ(got[1].u.matrixRows, 3);
    EXPECT_EQ(got[1].f, (std::vector<float>{12, 13, 14, 16, 17, 18}));
    EXPECT_EQ(got[2].u.kind, ShaderUniformUpload::Float);
    EXPECT_EQ(got[2].u.components, 3);
    EXPECT_EQ(got[2].u.count, 2u);
    EXPECT_EQ(got[2].f, (std::vector<float>{20, 21, 22, 24, 25, 26}));
    EXPECT_EQ(got[3].f, (std::vector<float>{90, 91, 92, 93}));
    EXPECT_EQ(got[4].u.kind, ShaderUniformUpload::Int);
    EXPECT_EQ(got[4].i, (std::vector<int32_t>{7, -8}));
    EXPECT_EQ(got[5].u.kind, ShaderUniformUpload::Uint);
    EXPECT_EQ(got[5].i, (std::vector<int32_t>{1, 0, 1}));
}

TEST(ShaderCompiler, FakeAnswersScriptedErrorsAndPairs)
{
    kvtest::FakeShaderCompiler fake;
    kvtest::FakeCompileResult broken;
    broken.error = "scripted failure";
    broken.errorStage = 1;
    fake.Script("vs", "bad", broken);
    kvtest::FakeCompileResult good;
    good.constants = {kvtest::FakeVector("_tint", SC_STAGE_PIXEL, 4)};
    fake.Script("vs", "good", good);
    Program a, b, c;
    EXPECT_FALSE(fake.Compile("vs", 2, "bad", 3, &a.p));
    EXPECT_STREQ(a.p.errorText, "scripted failure");
    EXPECT_EQ(a.p.errorStage, 1);
    EXPECT_TRUE(fake.Compile("vs", 2, "good", 4, &b.p));
    EXPECT_EQ(CompiledProgram_Find(&b.p, SC_STAGE_PIXEL, "_tint"), 0);
    EXPECT_EQ(CompiledProgram_Find(&b.p, SC_STAGE_VERTEX, "_tint"), -1);
    EXPECT_TRUE(fake.Compile("other", 5, "x", 1, &c.p));
    EXPECT_EQ(c.p.constantCount, 0u);
    EXPECT_EQ(fake.compiled.size(), 3u);
}

// ---- Real programs on the offscreen driver ------------------------------------------------------------------

constexpr int kSize = 16;

struct GlContext {
    std::string error;
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
};

bool g_GlContextMade = false;  // read by the leak checker's exit hook at the end of this file

class GlShaderCompile : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (gl_) return;
        gl_ = new GlContext;
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        if (!Platform_StartVideo()) {
            gl_->error = std::string("SDL video does not start: ") + SDL_GetError();
            return;
        }
        GL_SetContextAttributes();
        gl_->window = SDL_CreateWindow("shader test", 0, 0, kSize, kSize, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        if (!gl_->window) {
            gl_->error = std::string("no window: ") + SDL_GetError();
            return;
        }
        gl_->context = SDL_GL_CreateContext(gl_->window);
        g_GlContextMade = gl_->context != nullptr;
        if (!gl_->context) gl_->error = std::string("no GL 3.3 core context: ") + SDL_GetError();
    }
    // The context stays for the whole run: deleting it unloads the driver, whose leftovers then show as leaks.

    void SetUp() override
    {
        ASSERT_NE(gl_->context, nullptr) << gl_->error;
        SDL_GL_MakeCurrent(gl_->window, gl_->context);
        glGenFramebuffers(1, &fbo_);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
        glGenTextures(2, targets_);
        for (int i = 0; i < 2; ++i) {
            glBindTexture(GL_TEXTURE_2D, targets_[i]);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kSize, kSize, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
            glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + i, GL_TEXTURE_2D, targets_[i], 0);
        }
        const GLenum buffers[2] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1};
        glDrawBuffers(2, buffers);
        ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));
        glViewport(0, 0, kSize, kSize);
        glGenVertexArrays(1, &vao_);
        glBindVertexArray(vao_);
        glGenBuffers(1, &vbo_);
        glBindBuffer(GL_ARRAY_BUFFER, vbo_);
        ShaderRegisters_Clear(&regs_);
    }
    void TearDown() override
    {
        if (!gl_->context) return;
        glUseProgram(0);
        glDeleteBuffers(1, &vbo_);
        glDeleteVertexArrays(1, &vao_);
        glDeleteTextures(2, targets_);
        if (!textures_.empty()) glDeleteTextures(GLsizei(textures_.size()), textures_.data());
        glDeleteFramebuffers(1, &fbo_);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }

    void Compile(const std::string& vs, const std::string& ps, Program* out)
    {
        out->ok = ShaderCompiler_Get()->Compile(vs.data(), vs.size(), ps.data(), ps.size(), &out->p);
    }

    GLuint Texture(uint32_t rgba)
    {
        std::vector<uint32_t> pixels(4, rgba);
        GLuint t = 0;
        glGenTextures(1, &t);
        glBindTexture(GL_TEXTURE_2D, t);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        textures_.push_back(t);
        return t;
    }

    // A quad from (x0, y0) to (x1, y1) in clip space (y up, as the programs see it), colour rgba, texture
    // coordinates 0..1; drawn with the program and read back (RGBA bytes as one word, top row first).
    std::vector<uint32_t> Draw(const CompiledProgram& p, float x0, float y0, float x1, float y1, const float rgba[4],
                               int target = 0)
    {
        struct V {
            float pos[4], col[4], uv[2];
        };
        const V quad[4] = {{{x0, y0, 0.5f, 1}, {}, {0, 1}},
                           {{x1, y0, 0.5f, 1}, {}, {1, 1}},
                           {{x0, y1, 0.5f, 1}, {}, {0, 0}},
                           {{x1, y1, 0.5f, 1}, {}, {1, 0}}};
        V vertices[4];
        for (int i = 0; i < 4; ++i) {
            vertices[i] = quad[i];
            std::memcpy(vertices[i].col, rgba, sizeof vertices[i].col);
        }
        glBufferData(GL_ARRAY_BUFFER, sizeof vertices, vertices, GL_STREAM_DRAW);
        auto attrib = [&](uint8_t usage, GLint size, size_t offset) {
            const int32_t at = CompiledProgram_AttributeLocation(&p, usage, 0);
            if (at < 0) return;
            glEnableVertexAttribArray(GLuint(at));
            glVertexAttribPointer(GLuint(at), size, GL_FLOAT, GL_FALSE, sizeof(V), reinterpret_cast<void*>(offset));
        };
        for (GLuint i = 0; i < 8; ++i) glDisableVertexAttribArray(i);
        attrib(SDU_POSITION, 4, offsetof(V, pos));
        attrib(SDU_COLOR, 4, offsetof(V, col));
        attrib(SDU_TEXCOORD, 2, offsetof(V, uv));
        const float clear[4] = {0, 0, 0, 0};
        glClearBufferfv(GL_COLOR, 0, clear);
        glClearBufferfv(GL_COLOR, 1, clear);
        glUseProgram(p.program);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << "before";
        ShaderRegisters_Upload(&p, &regs_);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        if (p.halfPixelLocation >= 0) glUniform2f(p.halfPixelLocation, 1.0f / kSize, 1.0f / kSize);
        if (p.alphaTestLocation >= 0) glUniform2i(p.alphaTestLocation, alphaFunc_, alphaRef_);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        std::vector<uint32_t> pixels(kSize * kSize);
        glReadBuffer(GL_COLOR_ATTACHMENT0 + target);
        glReadPixels(0, 0, kSize, kSize, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        return pixels;
    }

    static GlContext* gl_;
    GLuint fbo_ = 0, targets_[2] = {}, vao_ = 0, vbo_ = 0;
    std::vector<GLuint> textures_;
    ShaderRegisters regs_;
    GLint alphaFunc_ = 8, alphaRef_ = 0;
};
GlContext* GlShaderCompile::gl_ = nullptr;

constexpr float kWhite[4] = {1, 1, 1, 1};
// Bytes in memory R, G, B, A read as a little-endian word.
constexpr uint32_t Rgba(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return r | g << 8 | b << 16 | a << 24; }

void SetF(ShaderRegisters* regs, const CompiledProgram& p, uint8_t stage, const char* name,
          std::initializer_list<float> values)
{
    const int32_t at = CompiledProgram_Find(&p, stage, name);
    ASSERT_GE(at, 0) << name;
    std::vector<float> v(values);
    v.resize((v.size() + 3) / 4 * 4);
    ShaderRegisters_SetF(regs, stage, p.constants[at].registerIndex, v.data(), uint32_t(v.size() / 4));
}

TEST_F(GlShaderCompile, PassThroughDrawsTheTexturedQuad)
{
    Program p;
    const auto start = std::chrono::steady_clock::now();
    Compile(Text("passthrough.vs.hlsl"), Text("passthrough.ps.hlsl"), &p);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    ASSERT_TRUE(p.ok) << p.p.errorText;
    RecordProperty("compile_ms", int(took.count()));
    EXPECT_NE(p.p.program, 0u);
    EXPECT_GE(p.p.halfPixelLocation, 0);
    EXPECT_GE(p.p.alphaTestLocation, 0);
    for (uint32_t i = 0; i < p.p.constantCount; ++i) EXPECT_GE(p.p.constants[i].location, 0) << p.p.constants[i].name;
    // kv_Matrices[4] scales by one half; the others must not matter.
    float m[5][16] = {};
    for (int k = 0; k < 5; ++k)
        for (int i = 0; i < 4; ++i) m[k][i * 5] = k == 4 ? (i == 3 ? 1.0f : 0.5f) : 7.0f;
    // Column packing: register 4 × 4 + j holds column j of matrix 4 — symmetric here.
    ShaderRegisters_SetF(&regs_, SC_STAGE_VERTEX, 0, &m[0][0], 20);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, Texture(Rgba(0, 255, 0, 255)));
    const std::vector<uint32_t> image = Draw(p.p, -1, -1, 1, 1, kWhite);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const bool inside = x >= 4 && x < 12 && y >= 4 && y < 12;
            ASSERT_EQ(image[y * kSize + x], inside ? Rgba(0, 255, 0, 255) : 0u) << x << "," << y;
        }
}

TEST_F(GlShaderCompile, UniformsReachTheirStage)
{
    struct Case {
        const char* what;
        const char* vs;
        const char* ps;
        std::function<void(ShaderRegisters*, const CompiledProgram&)> set;
        uint32_t expect;
    };
    const Case cases[] = {
        {"_tint turns white red", "simple.vs.hlsl", "tint.ps.hlsl",
         [](ShaderRegisters* r, const CompiledProgram& p) { SetF(r, p, SC_STAGE_PIXEL, "_tint", {1, 0, 0, 1}); },
         Rgba(255, 0, 0, 255)},
        {"float3 and float4 arrays", "arrays.vs.hlsl", "colour.ps.hlsl",
         [](ShaderRegisters* r, const CompiledProgram& p) {
             SetF(r, p, SC_STAGE_VERTEX, "a3", {9, 9, 9, 9, 0, 0.5f, 0, 9});  // the w of a float3 is not read
             SetF(r, p, SC_STAGE_VERTEX, "a4", {9, 9, 9, 9, 9, 9, 9, 9, 1, 0, 0, 1});
         },
         Rgba(255, 128, 0, 255)},
        {"int and bool", "simple.vs.hlsl", "intbool.ps.hlsl",
         [](ShaderRegisters* r, const CompiledProgram& p) {
             const int32_t count[4] = {2, 0, 0, 0}, flag = 1;
             ShaderRegisters_SetI(r, SC_STAGE_PIXEL, p.constants[CompiledProgram_Find(&p, 0, "count")].registerIndex,
                                  count, 1);
             ShaderRegisters_SetB(r, SC_STAGE_PIXEL, p.constants[CompiledProgram_Find(&p, 0, "flag")].registerIndex,
                                  &flag, 1);
         },
         Rgba(128, 255, 0, 255)},
        {"one name in both stages", "shared.vs.hlsl", "shared.ps.hlsl",
         [](ShaderRegisters* r, const CompiledProgram& p) {
             SetF(r, p, SC_STAGE_VERTEX, "shade", {1, 0, 0, 0});
             SetF(r, p, SC_STAGE_PIXEL, "shade", {0, 0, 1, 1});
         },
         Rgba(255, 0, 255, 255)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Program p;
        Compile(Text(c.vs), Text(c.ps), &p);
        ASSERT_TRUE(p.ok) << p.p.errorText;
        ShaderRegisters_Clear(&regs_);
        c.set(&regs_, p.p);
        const std::vector<uint32_t> image = Draw(p.p, -1, -1, 1, 1, kWhite);
        EXPECT_EQ(image[0], c.expect);
        EXPECT_EQ(image[kSize * kSize - 1], c.expect);
    }
}

TEST_F(GlShaderCompile, SecondSamplerReadsItsUnit)
{
    Program p;
    Compile(Text("simple.vs.hlsl"), Text("samplers.ps.hlsl"), &p);
    ASSERT_TRUE(p.ok) << p.p.errorText;
    const int32_t second = CompiledProgram_Find(&p.p, SC_STAGE_PIXEL, "second");
    ASSERT_GE(second, 0);
    EXPECT_EQ(p.p.constants[second].registerIndex, 1u);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, Texture(Rgba(255, 255, 0, 255)));
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, Texture(Rgba(0, 255, 255, 255)));
    glActiveTexture(GL_TEXTURE0);
    EXPECT_EQ(Draw(p.p, -1, -1, 1, 1, kWhite)[0], Rgba(0, 255, 0, 255));
}

// A row vector times M, then times N: with the registers as the original device holds them (M a column per
// register, N a row per register) the quad lands where v × M × N puts it.
TEST_F(GlShaderCompile, MatricesTransformRowVectors)
{
    Program p;
    Compile(Text("matrix.vs.hlsl"), Text("colour.ps.hlsl"), &p);
    ASSERT_TRUE(p.ok) << p.p.errorText;
    // M: scale by one quarter, move right by a half (translation in the fourth row).
    const float M[4][4] = {{0.25f, 0, 0, 0}, {0, 0.25f, 0, 0}, {0, 0, 1, 0}, {0.5f, 0, 0, 1}};
    // N: move down by a half.
    const float N[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, -0.5f, 0, 1}};
    float columns[4][4];
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) columns[j][i] = M[i][j];
    ShaderRegisters_SetF(&regs_, SC_STAGE_VERTEX, p.p.constants[CompiledProgram_Find(&p.p, 1, "M")].registerIndex,
                         &columns[0][0], 4);
    ShaderRegisters_SetF(&regs_, SC_STAGE_VERTEX, p.p.constants[CompiledProgram_Find(&p.p, 1, "N")].registerIndex,
                         &N[0][0], 4);
    // The quad -1..1 becomes x 0.25..0.75, y -0.75..-0.25: pixels 10..13 across and, top row first, 10..13 down.
    const std::vector<uint32_t> image = Draw(p.p, -1, -1, 1, 1, kWhite);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const bool inside = x >= 10 && x < 14 && y >= 10 && y < 14;
            ASSERT_EQ(image[y * kSize + x], inside ? Rgba(255, 255, 255, 255) : 0u) << x << "," << y;
        }
}

TEST_F(GlShaderCompile, OlderIdiomsCompileAndVposCountsFromTheTopLeft)
{
    Program p;
    Compile(Text("simple.vs.hlsl"), Text("idioms.ps.hlsl"), &p);
    ASSERT_TRUE(p.ok) << p.p.errorText;
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, Texture(Rgba(0, 0, 255, 255)));
    const std::vector<uint32_t> image = Draw(p.p, -1, -1, 1, 1, kWhite);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            ASSERT_EQ(image[y * kSize + x], (x + y) % 2 ? Rgba(0, 0, 255, 255) : Rgba(0, 0, 0, 255)) << x << "," << y;
}

TEST_F(GlShaderCompile, ColoursGoToTheirDrawBuffers)
{
    Program p;
    Compile(Text("simple.vs.hlsl"), Text("targets.ps.hlsl"), &p);
    ASSERT_TRUE(p.ok) << p.p.errorText;
    const float colour[4] = {1, 0, 0, 1};
    EXPECT_EQ(Draw(p.p, -1, -1, 1, 1, colour, 0)[0], Rgba(255, 0, 0, 255));
    EXPECT_EQ(Draw(p.p, -1, -1, 1, 1, colour, 1)[0], Rgba(0, 255, 255, 0));
}

TEST_F(GlShaderCompile, AlphaTestDropsFailingPixels)
{
    Program p;
    Compile(Text("simple.vs.hlsl"), Text("colour.ps.hlsl"), &p);
    ASSERT_TRUE(p.ok) << p.p.errorText;
    const float below[4] = {1, 1, 1, 127.0f / 255}, at[4] = {1, 1, 1, 128.0f / 255};
    alphaFunc_ = 7;  // greater or equal
    alphaRef_ = 128;
    EXPECT_EQ(Draw(p.p, -1, -1, 1, 1, below)[0], 0u);
    EXPECT_EQ(Draw(p.p, -1, -1, 1, 1, at)[0], Rgba(255, 255, 255, 128));
    alphaFunc_ = 8;
    EXPECT_EQ(Draw(p.p, -1, -1, 1, 1, below)[0], Rgba(255, 255, 255, 127));
}

TEST_F(GlShaderCompile, ErrorsCarryTheirStage)
{
    Program broken;
    Compile(Text("simple.vs.hlsl"), Text("broken.ps.hlsl"), &broken);
    EXPECT_FALSE(broken.ok);
    EXPECT_EQ(broken.p.errorStage, 1);
    ASSERT_NE(broken.p.errorText, nullptr);
    EXPECT_NE(std::string(broken.p.errorText).find("ERROR"), std::string::npos);
    EXPECT_EQ(broken.p.program, 0u);
    Program good;
    Compile(Text("simple.vs.hlsl"), Text("colour.ps.hlsl"), &good);
    EXPECT_TRUE(good.ok);
    EXPECT_EQ(good.p.errorText, nullptr);
    EXPECT_EQ(good.p.errorStage, -1);
}

}  // namespace shader_compiler_test

#if defined(KV_SANITIZE)
// The kept context leaves the software renderer's worker threads running at exit, and on a loaded two-core
// machine the leak checker's thread-stopping pass can crash on them after every test has passed. A process
// that made the context therefore skips the exit-time leak check; every other process keeps it.
extern "C" int __lsan_is_turned_off() { return shader_compiler_test::g_GlContextMade ? 1 : 0; }
#endif
