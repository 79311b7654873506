// A shader compiler that compiles nothing: each pair answers with a scripted constant table (or error), so code
// above the compiler can be tested register by register without GL. Install it with ScopedShaderCompiler.
#pragma once
#include "platform/shader_compiler.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kvtest {

struct FakeConstant {
    std::string name;
    uint8_t stage = SC_STAGE_PIXEL;
    uint8_t registerSet = SRS_FLOAT4;
    uint32_t registerIndex = 0, registerCount = 1;
    uint32_t cls = SCC_VECTOR, type = SCT_FLOAT;
    uint32_t columns = 4, rows = 1, elements = 1;
};

// What one pair compiles to. An error text makes the compile fail with it at errorStage.
struct FakeCompileResult {
    std::vector<FakeConstant> constants;  // in table order
    std::vector<ShaderAttribute> attributes;
    std::string error;
    int32_t errorStage = -1;
};

// Float constants of a stage laid out in order, as the real compiler would give registers: a float4 per register,
// matrices a column per register (rows when rowMajor).
FakeConstant FakeVector(const std::string& name, uint8_t stage, uint32_t columns, uint32_t elements = 1);
FakeConstant FakeMatrix(const std::string& name, uint8_t stage, uint32_t rows, uint32_t columns,
                        uint32_t elements = 1, bool rowMajor = false);
FakeConstant FakeSampler(const std::string& name, uint8_t stage, uint32_t reg);
// Gives registers to the non-sampler constants in order, per stage and register set, from 0.
void FakeLayout(std::vector<FakeConstant>* constants);

class FakeShaderCompiler final : public ShaderCompiler {
public:
    // The pair (vertex text, pixel text) answers with result; any other pair with fallback.
    void Script(const std::string& vertexText, const std::string& pixelText, FakeCompileResult result);
    FakeCompileResult fallback;
    std::vector<std::pair<std::string, std::string>> compiled;  // every pair asked for, in order

    // The record's program stays 0: nothing to bind or delete.
    bool Compile(const char* vertexText, size_t vertexLength, const char* pixelText, size_t pixelLength,
                 CompiledProgram* out) override;

private:
    std::map<std::pair<std::string, std::string>, FakeCompileResult> scripts_;
};

class ScopedShaderCompiler {
public:
    explicit ScopedShaderCompiler(ShaderCompiler* compiler) { ShaderCompiler_Set(compiler); }
    ~ScopedShaderCompiler() { ShaderCompiler_Set(nullptr); }
    ScopedShaderCompiler(const ScopedShaderCompiler&) = delete;
    ScopedShaderCompiler& operator=(const ScopedShaderCompiler&) = delete;
};

}  // namespace kvtest
