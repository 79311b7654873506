// Drawing with a compiled shader program in place of the fixed-function emulation: the program, its wrapper
// uniforms (pixel-centre shift, alpha test), the constant registers decoded into uniforms before a draw, and
// vertex attributes bound by semantic.
#include "platform/gl_internal.h"

#include "platform/shader_compiler.h"

#include <algorithm>

namespace gldev {

namespace {

// Registers are device state: they outlive program changes, as the engine expects.
ShaderRegisters g_shaderRegisters;
bool g_shaderRegistersCleared = false;

ShaderRegisters* Registers()
{
    if (!g_shaderRegistersCleared) {
        ShaderRegisters_Clear(&g_shaderRegisters);
        g_shaderRegistersCleared = true;
    }
    return &g_shaderRegisters;
}

// Marks the attribute setup as the shader path's, so the emulation's cache never takes it for its own.
constexpr uint32_t kShaderAttribMark = ~0u;

}  // namespace

RDResult GlDevice::SetShaderProgram(const CompiledProgram* program)
{
    if (!hasDevice_) return RDERR_INVALIDCALL;
    if (program == shader_) return RD_OK;
    // Unbinding a program about to be deleted lets GL free it (and never hand its name out while we shadow it).
    if (shader_ && gl_.program == shader_->program) {
        KGL(glUseProgram(0));
        gl_.program = 0;
    }
    // The emulation knows attribute arrays 0..3 only: the others go off before it draws again.
    if (!program)
        for (GLuint i = 4; i < 16; ++i)
            if (gl_.attribEnabled & (1u << i)) {
                KGL(glDisableVertexAttribArray(i));
                gl_.attribEnabled &= ~(1u << i);
            }
    shader_ = program;
    shaderSent_ = ShaderSent();
    gl_.attribBuffer = ~0u;
    return RD_OK;
}

RDResult GlDevice::SetShaderConstantF(uint8_t stage, uint32_t start, const float* values, uint32_t count)
{
    if (!hasDevice_ || stage > 1 || !values) return RDERR_INVALIDCALL;
    ShaderRegisters_SetF(Registers(), stage, start, values, count);
    ++shaderRegisterVersion_;
    return RD_OK;
}

RDResult GlDevice::SetShaderConstantI(uint8_t stage, uint32_t start, const int32_t* values, uint32_t count)
{
    if (!hasDevice_ || stage > 1 || !values) return RDERR_INVALIDCALL;
    ShaderRegisters_SetI(Registers(), stage, start, values, count);
    ++shaderRegisterVersion_;
    return RD_OK;
}

RDResult GlDevice::SetShaderConstantB(uint8_t stage, uint32_t start, const int32_t* values, uint32_t count)
{
    if (!hasDevice_ || stage > 1 || !values) return RDERR_INVALIDCALL;
    ShaderRegisters_SetB(Registers(), stage, start, values, count);
    ++shaderRegisterVersion_;
    return RD_OK;
}

bool GlDevice::ApplyShaderState()
{
    const CompiledProgram* p = shader_;
    if (!p->program) return false;  // a record without a GL program draws nothing
    if (gl_.program != p->program) {
        KGL(glUseProgram(p->program));
        gl_.program = p->program;
    }
    if (shaderSent_.program != p->program) {
        shaderSent_ = ShaderSent();
        shaderSent_.program = p->program;
    }
    if (shaderSent_.registers != shaderRegisterVersion_) {
        ++g_calls;  // the decoded uploads, counted as one
        ShaderRegisters_Upload(p, Registers());
        shaderSent_.registers = shaderRegisterVersion_;
    }
    if (p->halfPixelLocation >= 0) {
        const float hx = 1.0f / float(std::max(viewport_.width, 1u)), hy = 1.0f / float(std::max(viewport_.height, 1u));
        if (hx != shaderSent_.halfPixel[0] || hy != shaderSent_.halfPixel[1]) {
            KGL(glUniform2f(p->halfPixelLocation, hx, hy));
            shaderSent_.halfPixel[0] = hx;
            shaderSent_.halfPixel[1] = hy;
        }
    }
    if (p->alphaTestLocation >= 0) {
        const auto& rs = renderStates_;
        const uint32_t func = rs[RDRS_ALPHATESTENABLE] && rs[RDRS_ALPHAFUNC] >= 1 && rs[RDRS_ALPHAFUNC] <= 8
                                  ? rs[RDRS_ALPHAFUNC]
                                  : 8;
        const uint32_t ref = std::min(rs[RDRS_ALPHAREF], 255u);
        const uint32_t packed = func << 8 | ref;
        if (packed != shaderSent_.alphaTest) {
            KGL(glUniform2i(p->alphaTestLocation, GLint(func), GLint(ref)));
            shaderSent_.alphaTest = packed;
        }
    }
    return true;
}

bool GlDevice::SetupShaderAttributes(GLuint buffer, uintptr_t offset, uint32_t stride, uint32_t fvf)
{
    if (gl_.attribBuffer == buffer && gl_.attribFvf == kShaderAttribMark && shaderSent_.attribBuffer == buffer &&
        shaderSent_.attribOffset == offset && shaderSent_.attribStride == stride && shaderSent_.attribFvf == fvf)
        return true;
    if ((fvf & 0x400E) != RDFVF_XYZ) return false;
    // Where each part of the flexible format sits, as (usage, index, GL size, type, normalised, byte offset).
    struct Part {
        uint8_t usage, index;
        GLint size;
        GLenum type;
        GLboolean normalised;
        uint32_t at;
    };
    Part parts[12];
    uint32_t partCount = 0, at = 0;
    parts[partCount++] = {SDU_POSITION, 0, 3, GL_FLOAT, GL_FALSE, at};
    at += 12;
    if (fvf & RDFVF_NORMAL) parts[partCount++] = {SDU_NORMAL, 0, 3, GL_FLOAT, GL_FALSE, at}, at += 12;
    if (fvf & 0x020) parts[partCount++] = {SDU_PSIZE, 0, 1, GL_FLOAT, GL_FALSE, at}, at += 4;
    // Colours are stored B, G, R, A: GL reads that order as is.
    if (fvf & RDFVF_DIFFUSE) parts[partCount++] = {SDU_COLOR, 0, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, at}, at += 4;
    if (fvf & 0x080) parts[partCount++] = {SDU_COLOR, 1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, at}, at += 4;
    const uint32_t sets = std::min((fvf >> 8) & 0xF, 8u);
    for (uint32_t i = 0; i < sets; ++i) {
        static const GLint kSizes[4] = {2, 3, 4, 1};
        const GLint size = kSizes[(fvf >> (16 + 2 * i)) & 3];
        parts[partCount++] = {SDU_TEXCOORD, uint8_t(i), size, GL_FLOAT, GL_FALSE, at};
        at += uint32_t(size) * 4;
    }
    BindArrayBuffer(buffer);
    uint32_t enabled = 0;
    for (uint32_t i = 0; i < partCount; ++i) {
        const Part& part = parts[i];
        const int32_t location = CompiledProgram_AttributeLocation(shader_, part.usage, part.index);
        if (location < 0 || location >= 32) continue;
        KGL(glVertexAttribPointer(GLuint(location), part.size, part.type, part.normalised, GLsizei(stride),
                                  reinterpret_cast<const void*>(offset + part.at)));
        enabled |= 1u << location;
    }
    for (GLuint i = 0; i < 16; ++i) {
        const uint32_t bit = 1u << i;
        if ((enabled & bit) == (gl_.attribEnabled & bit)) continue;
        (enabled & bit) ? KGL(glEnableVertexAttribArray(i)) : KGL(glDisableVertexAttribArray(i));
    }
    gl_.attribEnabled = enabled;
    gl_.attribBuffer = buffer;
    gl_.attribFvf = kShaderAttribMark;
    shaderSent_.attribBuffer = buffer;
    shaderSent_.attribOffset = offset;
    shaderSent_.attribStride = stride;
    shaderSent_.attribFvf = fvf;
    return true;
}

}  // namespace gldev
