#include "fake_shader_compiler.h"

#include "core/memory_manager.h"

#include <cstring>

namespace kvtest {

namespace {

char* Copy(const std::string& text)
{
    char* copy = static_cast<char*>(MemAlloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

}  // namespace

FakeConstant FakeVector(const std::string& name, uint8_t stage, uint32_t columns, uint32_t elements)
{
    FakeConstant c;
    c.name = name;
    c.stage = stage;
    c.columns = columns;
    c.cls = columns > 1 ? SCC_VECTOR : SCC_SCALAR;
    c.elements = elements;
    c.registerCount = elements;
    return c;
}

FakeConstant FakeMatrix(const std::string& name, uint8_t stage, uint32_t rows, uint32_t columns, uint32_t elements,
                        bool rowMajor)
{
    FakeConstant c;
    c.name = name;
    c.stage = stage;
    c.rows = rows;
    c.columns = columns;
    c.elements = elements;
    c.cls = rowMajor ? SCC_MATRIX_ROWS : SCC_MATRIX_COLUMNS;
    c.registerCount = (rowMajor ? rows : columns) * elements;
    return c;
}

FakeConstant FakeSampler(const std::string& name, uint8_t stage, uint32_t reg)
{
    FakeConstant c;
    c.name = name;
    c.stage = stage;
    c.registerSet = SRS_SAMPLER;
    c.registerIndex = reg;
    c.cls = SCC_OBJECT;
    c.type = SCT_SAMPLER2D;
    c.columns = c.rows = 1;
    return c;
}

void FakeLayout(std::vector<FakeConstant>* constants)
{
    uint32_t next[2][3] = {};
    for (FakeConstant& c : *constants) {
        if (c.registerSet == SRS_SAMPLER || c.stage > 1 || c.registerSet > SRS_FLOAT4) continue;
        c.registerIndex = next[c.stage][c.registerSet];
        next[c.stage][c.registerSet] += c.registerCount;
    }
}

void FakeShaderCompiler::Script(const std::string& vertexText, const std::string& pixelText, FakeCompileResult result)
{
    scripts_[{vertexText, pixelText}] = std::move(result);
}

bool FakeShaderCompiler::Compile(const char* vertexText, size_t vertexLength, const char* pixelText,
                                 size_t pixelLength, CompiledProgram* out)
{
    *out = CompiledProgram();
    std::pair<std::string, std::string> key(vertexText ? std::string(vertexText, vertexLength) : std::string(),
                                            pixelText ? std::string(pixelText, pixelLength) : std::string());
    compiled.push_back(key);
    const auto found = scripts_.find(key);
    const FakeCompileResult& r = found != scripts_.end() ? found->second : fallback;
    if (!r.error.empty()) {
        out->errorText = Copy(r.error);
        out->errorStage = r.errorStage < 0 ? 0 : r.errorStage;
        return false;
    }
    if (!r.constants.empty()) {
        out->constants = static_cast<CompiledConstant*>(MemAlloc(sizeof(CompiledConstant) * r.constants.size()));
        for (const FakeConstant& c : r.constants) {
            CompiledConstant& k = out->constants[out->constantCount++];
            k = CompiledConstant{};
            k.name = Copy(c.name);
            k.stage = c.stage;
            k.registerSet = c.registerSet;
            k.registerIndex = c.registerIndex;
            k.registerCount = c.registerCount;
            k.cls = c.cls;
            k.type = c.type;
            k.columns = c.columns;
            k.rows = c.rows;
            k.elements = c.elements;
            k.bytes = 4 * c.rows * c.columns * c.elements;
            k.location = -1;
        }
    }
    if (!r.attributes.empty()) {
        out->attributes = static_cast<ShaderAttribute*>(MemAlloc(sizeof(ShaderAttribute) * r.attributes.size()));
        for (const ShaderAttribute& a : r.attributes) out->attributes[out->attributeCount++] = a;
    }
    return true;
}

}  // namespace kvtest
