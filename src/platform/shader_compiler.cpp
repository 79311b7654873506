// HLSL (Direct3D 9 dialect) → SPIR-V with glslang's HLSL front end → GLSL 330 with SPIRV-Cross → one GL program.
// The generated code is adjusted so that the two stages link and behave as on the original device:
// - glslang cannot parse `= sampler_state { … }` initialisers; they are blanked (sampler states come from the
//   render state anyway);
// - both stages put their loose uniforms in a struct called _Global, which GL refuses to link when the members
//   differ, so each stage's struct and uniform get a stage prefix (a same-named global in both stages stays two
//   constants, as the original's register files are per stage);
// - a POSITION output is an ordinary varying and the stages' interface names differ, so every varying is renamed
//   after its semantic and a wrapper `main` writes gl_Position with the device's fix-ups (y flip, pixel centre,
//   z' = 2z − w), feeds VPOS from gl_FragCoord, applies the alpha test and sends COLOR0..3 to draw buffers 0..3.
#ifndef ENABLE_HLSL
#define ENABLE_HLSL 1
#endif
#include "platform/shader_compiler.h"

#include "core/memory_manager.h"

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GL/glcorearb.h>
#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/SPIRV/GlslangToSpv.h>
#include <spirv_cross/spirv_cross_c.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The internals' namespace has a name so they never meet another file's helpers.
namespace shadercomp {

using SString = std::basic_string<char, std::char_traits<char>, MemAllocator<char>>;
template <typename T>
using SVector = std::vector<T, MemAllocator<T>>;

// Deeper bracket nesting than this is refused before parsing: the HLSL parser recurses per level.
constexpr int kMaxNesting = 256;
// Declared (used or not) float4 registers a stage may carry; beyond the device's 256 only unused ones can exist,
// and GL would have to hold them all.
constexpr uint32_t kMaxDeclaredRegisters = 4096;

char* CopyText(const char* text, size_t length)
{
    char* copy = static_cast<char*>(MemAlloc(length + 1));
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

// ---- Source clean-up -----------------------------------------------------------------------------------------------

bool IsIdent(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Blanks every `= sampler_state { … }` (keeping line breaks, so messages keep their line numbers).
void StripSamplerStates(SString& text)
{
    static const char kWord[] = "sampler_state";
    const size_t wordLength = sizeof kWord - 1;
    size_t from = 0;
    for (;;) {
        const size_t at = text.find(kWord, from);
        if (at == SString::npos) return;
        from = at + wordLength;
        if ((at > 0 && IsIdent(text[at - 1])) || (from < text.size() && IsIdent(text[from]))) continue;
        size_t eq = at;
        while (eq > 0 && std::isspace(static_cast<unsigned char>(text[eq - 1]))) --eq;
        if (eq == 0 || text[eq - 1] != '=') continue;
        --eq;
        size_t open = from;
        while (open < text.size() && std::isspace(static_cast<unsigned char>(text[open]))) ++open;
        if (open >= text.size() || text[open] != '{') continue;
        size_t close = open;
        int depth = 0;
        for (; close < text.size(); ++close) {
            if (text[close] == '{') ++depth;
            if (text[close] == '}' && --depth == 0) break;
        }
        if (close >= text.size()) return;  // unterminated: leave it to the parser's message
        for (size_t i = eq; i <= close; ++i)
            if (text[i] != '\n') text[i] = ' ';
        from = close + 1;
    }
}

bool NestingTooDeep(const SString& text)
{
    int depth = 0;
    for (char c : text) {
        if (c == '(' || c == '[' || c == '{') {
            if (++depth > kMaxNesting) return true;
        } else if ((c == ')' || c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return false;
}

// ---- Semantics -----------------------------------------------------------------------------------------------------

struct UsageName {
    const char* name;
    uint8_t usage;
};
// Longest names first where one is a prefix of another.
const UsageName kUsages[] = {
    {"POSITIONT", SDU_POSITIONT}, {"POSITION", SDU_POSITION},     {"BLENDWEIGHT", SDU_BLENDWEIGHT},
    {"BLENDINDICES", SDU_BLENDINDICES}, {"NORMAL", SDU_NORMAL},   {"PSIZE", SDU_PSIZE},
    {"TEXCOORD", SDU_TEXCOORD},   {"TANGENT", SDU_TANGENT},       {"BINORMAL", SDU_BINORMAL},
    {"TESSFACTOR", SDU_TESSFACTOR}, {"COLOR", SDU_COLOR},         {"FOG", SDU_FOG},
    {"DEPTH", SDU_DEPTH},         {"SAMPLE", SDU_SAMPLE},
};

// Upper case, with the index written out ("color" → "COLOR0").
SString NormalSemantic(const char* semantic)
{
    SString s;
    for (const char* p = semantic; *p; ++p) s += char(std::toupper(static_cast<unsigned char>(*p)));
    if (s.empty() || !std::isdigit(static_cast<unsigned char>(s.back()))) s += '0';
    return s;
}

}  // namespace shadercomp

bool ShaderSemantic_Parse(const char* semantic, uint8_t* usage, uint8_t* usageIndex)
{
    using namespace shadercomp;
    if (!semantic) return false;
    const SString s = NormalSemantic(semantic);
    size_t digits = s.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1]))) --digits;
    if (s.size() - digits > 2) return false;
    const SString base = s.substr(0, digits);
    const int index = std::atoi(s.c_str() + digits);
    for (const UsageName& u : kUsages) {
        if (base == u.name && index < 16) {
            *usage = u.usage;
            *usageIndex = uint8_t(index);
            return true;
        }
    }
    return false;
}

namespace shadercomp {

// ---- One stage through glslang and SPIRV-Cross ---------------------------------------------------------------------

// A constant as reflection found it, before registers are given out.
struct Candidate {
    SString name;    // as declared
    SString glName;  // what glGetUniformLocation takes
    uint8_t stage = 0;
    uint32_t cls = SCC_SCALAR, type = SCT_FLOAT;
    uint32_t rows = 1, columns = 1, elements = 1;
    uint32_t samplerRegister = 0;
    bool active = false;
};

struct StageResult {
    SString glsl;
    SString error;
    SVector<Candidate> constants;
    SVector<ShaderAttribute> attributes;
    SVector<SString> varyings;  // semantic names of the vertex outputs or pixel inputs (VPOS excepted)
    bool writesPosition = false;
};

void EnsureGlslang()
{
    static bool started = false;
    if (!started) {
        glslang::InitializeProcess();
        started = true;
    }
}

const char* const kStagePrefix[2] = {"kv_ps", "kv_vs"};

// Types the bool members of a uniform block carry in SPIR-V are 32-bit integers; glslang's own reflection still
// knows them as bools.
bool IsBoolUniform(glslang::TProgram& program, const char* name)
{
    for (int i = 0; i < program.getNumUniformVariables(); ++i) {
        const glslang::TObjectReflection& u = program.getUniform(i);
        if (u.name == name || (u.name.size() > 3 && u.name.compare(u.name.size() - 3, 3, "[0]") == 0 &&
                               u.name.compare(0, u.name.size() - 3, name) == 0))
            return u.glDefineType == GL_BOOL || u.glDefineType == GL_BOOL_VEC2 || u.glDefineType == GL_BOOL_VEC3 ||
                   u.glDefineType == GL_BOOL_VEC4;
    }
    return false;
}

uint32_t ArrayElements(spvc_type type, bool* tooLarge)
{
    uint64_t elements = 1;
    const unsigned dims = spvc_type_get_num_array_dimensions(type);
    for (unsigned d = 0; d < dims; ++d) {
        if (!spvc_type_array_dimension_is_literal(type, d)) {
            *tooLarge = true;
            return 1;
        }
        elements *= std::max<uint64_t>(1, spvc_type_get_array_dimension(type, d));
        if (elements > kMaxDeclaredRegisters) *tooLarge = true;
    }
    return *tooLarge ? 1 : uint32_t(elements);
}

// Replaces the first line equal to `line` (without its break) by `with`.
bool ReplaceLine(SString& text, const char* line, const char* with)
{
    const size_t length = std::strlen(line);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == SString::npos) end = text.size();
        if (end - at == length && text.compare(at, length, line) == 0) {
            text.replace(at, length, with);
            return true;
        }
        at = end + 1;
    }
    return false;
}

// Makes `in <type> <name>;` a plain global the wrapper assigns; gives the type.
SString UnInput(SString& text, const SString& name)
{
    const SString tail = " " + name + ";";
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == SString::npos) end = text.size();
        if (end - at > tail.size() + 3 && text.compare(at, 3, "in ") == 0 &&
            text.compare(end - tail.size(), tail.size(), tail) == 0) {
            SString type = text.substr(at + 3, end - tail.size() - at - 3);
            text.replace(at, 3, "");
            return type;
        }
        at = end + 1;
    }
    return SString();
}

bool TranslateStage(uint8_t stage, const char* source, size_t length, StageResult* out)
{
    const bool vertex = stage == SC_STAGE_VERTEX;
    if (!source || length == 0) {
        out->error = "empty program text\n";
        return false;
    }
    SString text(source, length);
    if (text.find('\0') != SString::npos) text.resize(text.find('\0'));
    if (NestingTooDeep(text)) {
        out->error = "brackets nested too deep\n";
        return false;
    }
    StripSamplerStates(text);

    EnsureGlslang();
    const EShLanguage language = vertex ? EShLangVertex : EShLangFragment;
    glslang::TShader shader(language);
    const char* strings[1] = {text.c_str()};
    const int lengths[1] = {int(text.size())};
    shader.setStringsWithLengths(strings, lengths, 1);
    shader.setEntryPoint("main");
    shader.setEnvInput(glslang::EShSourceHlsl, language, glslang::EShClientOpenGL, 100);
    shader.setEnvClient(glslang::EShClientOpenGL, glslang::EShTargetOpenGL_450);
    shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
    shader.setEnvTargetHlslFunctionality1();  // keeps the semantics on the interface variables
    shader.setHlslIoMapping(true);
    shader.setAutoMapBindings(true);
    shader.setAutoMapLocations(true);
    const EShMessages messages = EShMessages(EShMsgReadHlsl | EShMsgSpvRules | EShMsgHlslDX9Compatible);
    if (!shader.parse(GetDefaultResources(), 100, false, messages)) {
        out->error = shader.getInfoLog();
        out->error += shader.getInfoDebugLog();
        if (out->error.empty()) out->error = "the program does not compile\n";
        return false;
    }
    glslang::TProgram program;
    program.addShader(&shader);
    if (!program.link(messages) || !program.mapIO()) {
        out->error = program.getInfoLog();
        if (out->error.empty()) out->error = "the program does not link\n";
        return false;
    }
    program.buildReflection();
    std::vector<unsigned> spirv;
    spv::SpvBuildLogger logger;
    glslang::SpvOptions options;
    glslang::GlslangToSpv(*program.getIntermediate(language), spirv, &logger, &options);
    if (spirv.empty()) {
        out->error = logger.getAllMessages().c_str();
        return false;
    }

    spvc_context context = nullptr;
    if (spvc_context_create(&context) != SPVC_SUCCESS) {
        out->error = "no translation context\n";
        return false;
    }
    struct Guard {
        spvc_context c;
        ~Guard() { spvc_context_destroy(c); }
    } guard{context};
    auto fail = [&](const char* what) {
        out->error = what;
        out->error += ": ";
        out->error += spvc_context_get_last_error_string(context);
        out->error += "\n";
        return false;
    };
    spvc_parsed_ir ir = nullptr;
    spvc_compiler compiler = nullptr;
    if (spvc_context_parse_spirv(context, spirv.data(), spirv.size(), &ir) != SPVC_SUCCESS) return fail("SPIR-V");
    if (spvc_context_create_compiler(context, SPVC_BACKEND_GLSL, ir, SPVC_CAPTURE_MODE_TAKE_OWNERSHIP, &compiler) !=
        SPVC_SUCCESS)
        return fail("SPIR-V");
    spvc_resources resources = nullptr;
    spvc_set activeSet = nullptr;
    spvc_resources activeResources = nullptr;
    if (spvc_compiler_create_shader_resources(compiler, &resources) != SPVC_SUCCESS ||
        spvc_compiler_get_active_interface_variables(compiler, &activeSet) != SPVC_SUCCESS ||
        spvc_compiler_create_shader_resources_for_active_variables(compiler, &activeResources, activeSet) !=
            SPVC_SUCCESS)
        return fail("reflection");
    auto list = [](spvc_resources r, spvc_resource_type type, size_t* count) {
        const spvc_reflected_resource* items = nullptr;
        *count = 0;
        spvc_resources_get_resource_list_for_type(r, type, &items, count);
        return items;
    };
    auto isActive = [&](spvc_resource_type type, SpvId id) {
        size_t n = 0;
        const spvc_reflected_resource* items = list(activeResources, type, &n);
        for (size_t i = 0; i < n; ++i)
            if (items[i].id == id) return true;
        return false;
    };
    const SString prefix = kStagePrefix[stage];

    // Loose uniforms (and any cbuffer): one record per member, in declaration order.
    size_t blockCount = 0;
    const spvc_reflected_resource* blocks = list(resources, SPVC_RESOURCE_TYPE_UNIFORM_BUFFER, &blockCount);
    struct MemberRef {
        spvc_type_id blockType;
        unsigned member;
        size_t candidate;
        SString blockName;
    };
    SVector<MemberRef> members;
    uint64_t declaredRegisters = 0;
    for (size_t b = 0; b < blockCount; ++b) {
        SString blockName = blockCount == 1 ? prefix : prefix + "_b" + SString(std::to_string(b).c_str());
        spvc_compiler_set_name(compiler, blocks[b].id, blockName.c_str());
        spvc_compiler_set_name(compiler, blocks[b].base_type_id, (blockName + "_Global").c_str());
        const spvc_buffer_range* ranges = nullptr;
        size_t rangeCount = 0;
        spvc_compiler_get_active_buffer_ranges(compiler, blocks[b].id, &ranges, &rangeCount);
        const spvc_type blockType = spvc_compiler_get_type_handle(compiler, blocks[b].base_type_id);
        const unsigned memberCount = spvc_type_get_num_member_types(blockType);
        for (unsigned m = 0; m < memberCount; ++m) {
            const spvc_type t = spvc_compiler_get_type_handle(compiler, spvc_type_get_member_type(blockType, m));
            const spvc_basetype base = spvc_type_get_basetype(t);
            Candidate c;
            c.stage = stage;
            c.name = spvc_compiler_get_member_name(compiler, blocks[b].base_type_id, m);
            for (size_t r = 0; r < rangeCount; ++r)
                if (ranges[r].index == m) c.active = true;
            bool tooLarge = false;
            c.elements = ArrayElements(t, &tooLarge);
            if (tooLarge) {
                out->error = "constant '" + c.name + "' is too large\n";
                return false;
            }
            const uint32_t vecsize = spvc_type_get_vector_size(t), columns = spvc_type_get_columns(t);
            if (base == SPVC_BASETYPE_FP32) {
                c.type = SCT_FLOAT;
            } else if (base == SPVC_BASETYPE_INT32 || base == SPVC_BASETYPE_UINT32 || base == SPVC_BASETYPE_BOOLEAN) {
                c.type = base == SPVC_BASETYPE_INT32 ? SCT_INT
                         : (base == SPVC_BASETYPE_BOOLEAN || IsBoolUniform(program, c.name.c_str())) ? SCT_BOOL
                                                                                                     : SCT_INT;
            } else {
                if (c.active) {
                    out->error = "constant '" + c.name + "' has a type the device cannot hold\n";
                    return false;
                }
                continue;  // an unused struct or such takes no registers
            }
            if (columns > 1) {
                // A declared R×C matrix arrives as R columns of C-vectors; the default (column) packing is
                // decorated row-major.
                c.rows = columns;
                c.columns = vecsize;
                c.cls = spvc_compiler_has_member_decoration(compiler, blocks[b].base_type_id, m, SpvDecorationColMajor)
                            ? SCC_MATRIX_ROWS
                            : SCC_MATRIX_COLUMNS;
            } else {
                c.rows = 1;
                c.columns = vecsize;
                c.cls = vecsize > 1 ? SCC_VECTOR : SCC_SCALAR;
            }
            declaredRegisters += uint64_t(c.elements) *
                                 (c.cls == SCC_MATRIX_COLUMNS ? c.columns : c.cls == SCC_MATRIX_ROWS ? c.rows : 1);
            if (declaredRegisters > kMaxDeclaredRegisters) {
                out->error = "too many constants\n";
                return false;
            }
            members.push_back({blocks[b].base_type_id, m, out->constants.size(), blockName});
            out->constants.push_back(std::move(c));
        }
    }

    // Samplers: the register is the binding glslang gave (register(sN) when declared).
    size_t samplerCount = 0;
    const spvc_reflected_resource* samplers = list(resources, SPVC_RESOURCE_TYPE_SAMPLED_IMAGE, &samplerCount);
    SVector<std::pair<SpvId, size_t>> samplerRefs;
    for (size_t s = 0; s < samplerCount; ++s) {
        Candidate c;
        c.stage = stage;
        c.name = samplers[s].name;
        c.active = isActive(SPVC_RESOURCE_TYPE_SAMPLED_IMAGE, samplers[s].id);
        c.cls = SCC_OBJECT;
        const spvc_type t = spvc_compiler_get_type_handle(compiler, samplers[s].type_id);
        bool tooLarge = false;
        c.elements = ArrayElements(t, &tooLarge);
        switch (spvc_type_get_image_dimension(t)) {
        case SpvDim1D: c.type = SCT_SAMPLER1D; break;
        case SpvDim3D: c.type = SCT_SAMPLER3D; break;
        case SpvDimCube: c.type = SCT_SAMPLERCUBE; break;
        default: c.type = SCT_SAMPLER2D; break;
        }
        c.samplerRegister = spvc_compiler_get_decoration(compiler, samplers[s].id, SpvDecorationBinding);
        if (tooLarge || c.samplerRegister + c.elements > SC_SAMPLERS) {
            out->error = "sampler '" + c.name + "' is beyond the 16 sampler registers\n";
            return false;
        }
        spvc_compiler_set_name(compiler, samplers[s].id, (prefix + "_" + c.name).c_str());
        samplerRefs.push_back({samplers[s].id, out->constants.size()});
        out->constants.push_back(std::move(c));
    }

    // Interface variables get names after their semantics so the stages meet by name.
    size_t inputCount = 0, outputCount = 0;
    const spvc_reflected_resource* inputs = list(resources, SPVC_RESOURCE_TYPE_STAGE_INPUT, &inputCount);
    const spvc_reflected_resource* outputs = list(resources, SPVC_RESOURCE_TYPE_STAGE_OUTPUT, &outputCount);
    SString vposName;
    bool hasColour0 = false;
    for (size_t i = 0; i < inputCount; ++i) {
        const char* semantic = spvc_compiler_get_decoration_string(compiler, inputs[i].id,
                                                                   SpvDecorationHlslSemanticGOOGLE);
        if (!semantic || !*semantic) {
            out->error = SString("input '") + inputs[i].name + "' has no semantic\n";
            return false;
        }
        const SString sem = NormalSemantic(semantic);
        if (vertex) {
            ShaderAttribute a{};
            if (!ShaderSemantic_Parse(semantic, &a.usage, &a.usageIndex)) {
                out->error = SString("input '") + inputs[i].name + "' has an unknown semantic " + semantic + "\n";
                return false;
            }
            for (const ShaderAttribute& other : out->attributes)
                if (other.usage == a.usage && other.usageIndex == a.usageIndex) {
                    out->error = "two inputs have the semantic " + sem + "\n";
                    return false;
                }
            const spvc_type t = spvc_compiler_get_type_handle(compiler, inputs[i].type_id);
            a.components = uint8_t(std::min(4u, spvc_type_get_vector_size(t)));
            a.location = uint32_t(out->attributes.size());
            spvc_compiler_set_decoration(compiler, inputs[i].id, SpvDecorationLocation, a.location);
            spvc_compiler_set_name(compiler, inputs[i].id, ("kv_in_" + sem).c_str());
            out->attributes.push_back(a);
        } else {
            spvc_compiler_unset_decoration(compiler, inputs[i].id, SpvDecorationLocation);
            if (sem == "VPOS0") {
                vposName = "kv_vpos";
                spvc_compiler_set_name(compiler, inputs[i].id, vposName.c_str());
                continue;
            }
            spvc_compiler_set_name(compiler, inputs[i].id, ("kv_vary_" + sem).c_str());
            out->varyings.push_back(sem);
        }
    }
    for (size_t i = 0; i < outputCount; ++i) {
        const char* semantic = spvc_compiler_get_decoration_string(compiler, outputs[i].id,
                                                                   SpvDecorationHlslSemanticGOOGLE);
        if (!semantic || !*semantic) {
            out->error = SString("output '") + outputs[i].name + "' has no semantic\n";
            return false;
        }
        SString sem = NormalSemantic(semantic);
        if (vertex) {
            spvc_compiler_unset_decoration(compiler, outputs[i].id, SpvDecorationLocation);
            if (sem == "POSITION0" || sem == "SV_POSITION0") {
                sem = "POSITION0";
                out->writesPosition = true;
            }
            for (const SString& v : out->varyings)
                if (v == sem) {
                    out->error = "two outputs have the semantic " + sem + "\n";
                    return false;
                }
            spvc_compiler_set_name(compiler, outputs[i].id, ("kv_vary_" + sem).c_str());
            out->varyings.push_back(sem);
        } else {
            const bool colour = sem.compare(0, 5, "COLOR") == 0 || sem.compare(0, 9, "SV_TARGET") == 0;
            const size_t digits = sem.find_first_of("0123456789");
            const int index = digits == SString::npos ? 0 : std::atoi(sem.c_str() + digits);
            if (!colour || index > 3 || sem.size() - digits > 1) {
                out->error = "pixel output with the semantic " + sem + "\n";
                return false;
            }
            spvc_compiler_set_decoration(compiler, outputs[i].id, SpvDecorationLocation, unsigned(index));
            spvc_compiler_set_name(compiler, outputs[i].id, ("kv_out_COLOR" + SString(1, char('0' + index))).c_str());
            if (index == 0) hasColour0 = true;
        }
    }

    spvc_compiler_options options2 = nullptr;
    if (spvc_compiler_create_compiler_options(compiler, &options2) != SPVC_SUCCESS) return fail("options");
    spvc_compiler_options_set_uint(options2, SPVC_COMPILER_OPTION_GLSL_VERSION, 330);
    spvc_compiler_options_set_bool(options2, SPVC_COMPILER_OPTION_GLSL_ES, SPVC_FALSE);
    spvc_compiler_options_set_bool(options2, SPVC_COMPILER_OPTION_GLSL_ENABLE_420PACK_EXTENSION, SPVC_FALSE);
    spvc_compiler_options_set_bool(options2, SPVC_COMPILER_OPTION_GLSL_EMIT_UNIFORM_BUFFER_AS_PLAIN_UNIFORMS,
                                   SPVC_TRUE);
    spvc_compiler_install_compiler_options(compiler, options2);
    spvc_variable_id dummy = 0;
    spvc_compiler_build_dummy_sampler_for_combined_images(compiler, &dummy);
    spvc_compiler_build_combined_image_samplers(compiler);
    const char* glsl = nullptr;
    if (spvc_compiler_compile(compiler, &glsl) != SPVC_SUCCESS || !glsl) return fail("GLSL");
    out->glsl = glsl;

    // GL names as emitted (the translator may have changed reserved ones).
    for (const MemberRef& m : members)
        out->constants[m.candidate].glName =
            m.blockName + "." + spvc_compiler_get_member_name(compiler, m.blockType, m.member);
    for (const auto& s : samplerRefs) out->constants[s.second].glName = spvc_compiler_get_name(compiler, s.first);

    if (!ReplaceLine(out->glsl, "void main()", "void kv_stage_main()")) {
        out->error = "translated program has no entry\n";
        return false;
    }
    if (vertex) {
        const bool builtin = !out->writesPosition && out->glsl.find("gl_Position") != SString::npos;
        if (!out->writesPosition && !builtin) {
            out->error = "the vertex program writes no POSITION\n";
            return false;
        }
        out->glsl += "\nuniform vec2 u_halfPixel;\n\nvoid main()\n{\n    kv_stage_main();\n    vec4 p = ";
        out->glsl += builtin ? "gl_Position" : "kv_vary_POSITION0";
        out->glsl +=
            ";\n    gl_Position = vec4(p.x + p.w * u_halfPixel.x, p.w * u_halfPixel.y - p.y, 2.0 * p.z - p.w, p.w);\n"
            "}\n";
    } else {
        SString feed;
        if (!vposName.empty()) {
            const SString type = UnInput(out->glsl, vposName);
            if (type == "vec2") feed = "    kv_vpos = gl_FragCoord.xy - vec2(0.5);\n";
            else if (type == "vec3") feed = "    kv_vpos = vec3(gl_FragCoord.xy - vec2(0.5), 0.0);\n";
            else if (type == "vec4") feed = "    kv_vpos = vec4(gl_FragCoord.xy - vec2(0.5), 0.0, 0.0);\n";
            else if (type == "float") feed = "    kv_vpos = gl_FragCoord.x - 0.5;\n";
            else {
                out->error = "VPOS of an unexpected type\n";
                return false;
            }
        }
        out->glsl +=
            "\nuniform ivec2 u_alphaTest;\n\n"
            "bool kv_AlphaPasses(int func, int a, int ref)\n{\n"
            "    switch (func) {\n    case 1: return false;\n    case 2: return a < ref;\n"
            "    case 3: return a == ref;\n"
            "    case 4: return a <= ref;\n    case 5: return a > ref;\n    case 6: return a != ref;\n"
            "    case 7: return a >= ref;\n    default: return true;\n    }\n}\n\n"
            "void main()\n{\n";
        out->glsl += feed;
        out->glsl += "    kv_stage_main();\n";
        if (hasColour0)
            out->glsl +=
                "    if (!kv_AlphaPasses(u_alphaTest.x, int(round(clamp(kv_out_COLOR0.a, 0.0, 1.0) * 255.0)), "
                "u_alphaTest.y)) discard;\n";
        out->glsl += "}\n";
    }
    return true;
}

// Gives out registers in declaration order to the active candidates, per stage and register set.
bool Layout(const SVector<Candidate>& candidates, uint8_t stage, SVector<CompiledConstant>* out, SString* error)
{
    uint32_t next[3] = {0, 0, 0};  // bool, int4, float4
    const uint32_t limit[3] = {SC_BOOL_REGISTERS, SC_INT_REGISTERS, SC_FLOAT_REGISTERS};
    static const char* const kSetName[3] = {"bool", "int4", "float4"};
    for (const Candidate& c : candidates) {
        if (!c.active || c.stage != stage) continue;
        CompiledConstant k{};
        k.stage = c.stage;
        k.cls = c.cls;
        k.type = c.type;
        k.rows = c.rows;
        k.columns = c.columns;
        k.elements = c.elements;
        k.location = -1;
        if (c.cls == SCC_OBJECT) {
            k.registerSet = SRS_SAMPLER;
            k.registerIndex = c.samplerRegister;
            k.registerCount = c.elements;
            k.bytes = 4 * c.elements;
        } else {
            const uint32_t perElement = c.cls == SCC_MATRIX_COLUMNS ? c.columns
                                        : c.cls == SCC_MATRIX_ROWS  ? c.rows
                                        : c.type == SCT_BOOL        ? c.columns
                                                                    : 1;
            const int set = c.type == SCT_BOOL ? SRS_BOOL : c.type == SCT_INT ? SRS_INT4 : SRS_FLOAT4;
            k.registerSet = uint8_t(set);
            k.registerIndex = next[set];
            k.registerCount = perElement * c.elements;
            k.bytes = 4 * c.rows * c.columns * c.elements;
            next[set] += k.registerCount;
            if (next[set] > limit[set]) {
                *error = SString("constant '") + c.name + "' does not fit in the " + kSetName[set] + " registers\n";
                return false;
            }
        }
        k.name = CopyText(c.name.data(), c.name.size());
        out->push_back(k);
    }
    return true;
}

struct Translation {
    StageResult stages[2];
    SString error;
    int32_t errorStage = -1;
};

bool TranslatePair(const char* vertexText, size_t vertexLength, const char* pixelText, size_t pixelLength,
                   Translation* t)
{
    StageResult& vs = t->stages[SC_STAGE_VERTEX];
    StageResult& ps = t->stages[SC_STAGE_PIXEL];
    if (!TranslateStage(SC_STAGE_VERTEX, vertexText, vertexLength, &vs)) {
        t->error = vs.error;
        t->errorStage = 0;
        return false;
    }
    if (!TranslateStage(SC_STAGE_PIXEL, pixelText, pixelLength, &ps)) {
        t->error = ps.error;
        t->errorStage = 1;
        return false;
    }
    for (const SString& in : ps.varyings) {
        if (std::find(vs.varyings.begin(), vs.varyings.end(), in) == vs.varyings.end()) {
            t->error = "pixel input " + in + " is not written by the vertex program\n";
            t->errorStage = 1;
            return false;
        }
    }
    return true;
}

void SetError(CompiledProgram* out, const SString& text, int32_t stage)
{
    out->errorText = CopyText(text.data(), text.size());
    out->errorStage = stage;
}

// Fills the record's tables from the translation; with keep, only candidates keep says stay.
template <typename Keep>
bool Fill(const Translation& t, CompiledProgram* out, Keep keep)
{
    SVector<CompiledConstant> constants;
    SVector<SString> glNames;
    for (uint8_t stage : {SC_STAGE_VERTEX, SC_STAGE_PIXEL}) {
        SVector<Candidate> kept;
        for (const Candidate& c : t.stages[stage].constants)
            if (c.active && keep(c)) kept.push_back(c);
        SString error;
        if (!Layout(kept, stage, &constants, &error)) {
            for (CompiledConstant& k : constants) MemFree(k.name);
            SetError(out, error, stage == SC_STAGE_VERTEX ? 0 : 1);
            return false;
        }
    }
    out->constantCount = uint32_t(constants.size());
    if (!constants.empty()) {
        out->constants = static_cast<CompiledConstant*>(MemAlloc(sizeof(CompiledConstant) * constants.size()));
        std::copy(constants.begin(), constants.end(), out->constants);
    }
    const auto& attributes = t.stages[SC_STAGE_VERTEX].attributes;
    out->attributeCount = uint32_t(attributes.size());
    if (!attributes.empty()) {
        out->attributes = static_cast<ShaderAttribute*>(MemAlloc(sizeof(ShaderAttribute) * attributes.size()));
        std::copy(attributes.begin(), attributes.end(), out->attributes);
    }
    const SString& v = t.stages[SC_STAGE_VERTEX].glsl;
    const SString& p = t.stages[SC_STAGE_PIXEL].glsl;
    out->vertexGlsl = CopyText(v.data(), v.size());
    out->pixelGlsl = CopyText(p.data(), p.size());
    return true;
}

const Candidate* FindCandidate(const Translation& t, const CompiledConstant& k)
{
    for (const Candidate& c : t.stages[k.stage].constants)
        if (c.active && c.name == k.name) return &c;
    return nullptr;
}

GLuint CompileGl(GLenum kind, const char* text, SString* error)
{
    const GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok) return shader;
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    SString log(size_t(std::max(length, 1)), '\0');
    glGetShaderInfoLog(shader, GLsizei(log.size()), nullptr, log.data());
    log.resize(std::strlen(log.c_str()));
    *error = "GL: " + log;
    if (error->back() != '\n') *error += '\n';
    glDeleteShader(shader);
    return 0;
}

class GlslangCompiler final : public ShaderCompiler {
public:
    bool Compile(const char* vertexText, size_t vertexLength, const char* pixelText, size_t pixelLength,
                 CompiledProgram* out) override
    {
        *out = CompiledProgram();
        Translation t;
        if (!TranslatePair(vertexText, vertexLength, pixelText, pixelLength, &t)) {
            SetError(out, t.error, t.errorStage);
            return false;
        }
        SString error;
        const GLuint vs = CompileGl(GL_VERTEX_SHADER, t.stages[SC_STAGE_VERTEX].glsl.c_str(), &error);
        if (!vs) {
            SetError(out, error, 0);
            return false;
        }
        const GLuint ps = CompileGl(GL_FRAGMENT_SHADER, t.stages[SC_STAGE_PIXEL].glsl.c_str(), &error);
        if (!ps) {
            glDeleteShader(vs);
            SetError(out, error, 1);
            return false;
        }
        const GLuint program = glCreateProgram();
        glAttachShader(program, vs);
        glAttachShader(program, ps);
        glLinkProgram(program);
        glDeleteShader(vs);
        glDeleteShader(ps);
        GLint ok = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &ok);
        if (!ok) {
            GLint length = 0;
            glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
            SString log(size_t(std::max(length, 1)), '\0');
            glGetProgramInfoLog(program, GLsizei(log.size()), nullptr, log.data());
            log.resize(std::strlen(log.c_str()));
            glDeleteProgram(program);
            SetError(out, "GL link: " + log + "\n", 1);
            return false;
        }
        // What the linker kept decides the table.
        auto located = [program](const Candidate& c) { return glGetUniformLocation(program, c.glName.c_str()) >= 0; };
        if (!Fill(t, out, located)) {
            glDeleteProgram(program);
            return false;
        }
        out->program = program;
        out->halfPixelLocation = glGetUniformLocation(program, "u_halfPixel");
        out->alphaTestLocation = glGetUniformLocation(program, "u_alphaTest");
        GLint previous = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
        glUseProgram(program);
        for (uint32_t i = 0; i < out->constantCount; ++i) {
            CompiledConstant& k = out->constants[i];
            const Candidate* c = FindCandidate(t, k);
            if (!c) continue;
            k.location = glGetUniformLocation(program, c->glName.c_str());
            if (k.registerSet == SRS_SAMPLER && k.location >= 0) {
                GLint units[SC_SAMPLERS];
                for (uint32_t e = 0; e < k.elements && e < SC_SAMPLERS; ++e) units[e] = GLint(k.registerIndex + e);
                glUniform1iv(k.location, GLsizei(std::min<uint32_t>(k.elements, SC_SAMPLERS)), units);
            }
        }
        // The one that was current may have been deleted while in use; it is gone once replaced.
        glUseProgram(glIsProgram(GLuint(previous)) ? GLuint(previous) : 0);
        return true;
    }
};

GlslangCompiler g_glslang;
ShaderCompiler* g_compiler = nullptr;

}  // namespace shadercomp

ShaderCompiler* ShaderCompiler_Get()
{
    return shadercomp::g_compiler ? shadercomp::g_compiler : &shadercomp::g_glslang;
}
void ShaderCompiler_Set(ShaderCompiler* compiler) { shadercomp::g_compiler = compiler; }

bool ShaderCompiler_Translate(const char* vertexText, size_t vertexLength, const char* pixelText, size_t pixelLength,
                              CompiledProgram* out)
{
    using namespace shadercomp;
    *out = CompiledProgram();
    Translation t;
    if (!TranslatePair(vertexText, vertexLength, pixelText, pixelLength, &t)) {
        SetError(out, t.error, t.errorStage);
        return false;
    }
    return Fill(t, out, [](const Candidate&) { return true; });
}

void CompiledProgram_Free(CompiledProgram* program)
{
    if (!program) return;
    if (program->program) glDeleteProgram(program->program);
    for (uint32_t i = 0; i < program->constantCount; ++i) MemFree(program->constants[i].name);
    MemFree(program->constants);
    MemFree(program->attributes);
    MemFree(program->errorText);
    MemFree(program->vertexGlsl);
    MemFree(program->pixelGlsl);
    *program = CompiledProgram();
}

int32_t CompiledProgram_Find(const CompiledProgram* program, uint8_t stage, const char* name)
{
    if (!program || !name) return -1;
    for (uint32_t i = 0; i < program->constantCount; ++i)
        if (program->constants[i].stage == stage && std::strcmp(program->constants[i].name, name) == 0)
            return int32_t(i);
    return -1;
}

int32_t CompiledProgram_AttributeLocation(const CompiledProgram* program, uint8_t usage, uint8_t usageIndex)
{
    if (!program) return -1;
    for (uint32_t i = 0; i < program->attributeCount; ++i)
        if (program->attributes[i].usage == usage && program->attributes[i].usageIndex == usageIndex)
            return int32_t(program->attributes[i].location);
    return -1;
}

// ---- Register files ----------------------------------------------------------------------------------------------

void ShaderRegisters_Clear(ShaderRegisters* registers) { std::memset(registers, 0, sizeof *registers); }


bool ShaderRegisters_SetF(ShaderRegisters* registers, uint8_t stage, uint32_t start, const float* values,
                          uint32_t count)
{
    if (!registers || stage > 1 || (!values && count)) return false;
    auto& file = registers->stage[stage].f;
    if (start >= SC_FLOAT_REGISTERS) return count == 0;
    const uint32_t fit = std::min<uint32_t>(count, SC_FLOAT_REGISTERS - start);
    std::memcpy(file[start], values, sizeof(float) * 4 * fit);
    return fit == count;
}

bool ShaderRegisters_SetI(ShaderRegisters* registers, uint8_t stage, uint32_t start, const int32_t* values,
                          uint32_t count)
{
    if (!registers || stage > 1 || (!values && count)) return false;
    auto& file = registers->stage[stage].i;
    if (start >= SC_INT_REGISTERS) return count == 0;
    const uint32_t fit = std::min<uint32_t>(count, SC_INT_REGISTERS - start);
    std::memcpy(file[start], values, sizeof(int32_t) * 4 * fit);
    return fit == count;
}

bool ShaderRegisters_SetB(ShaderRegisters* registers, uint8_t stage, uint32_t start, const int32_t* values,
                          uint32_t count)
{
    if (!registers || stage > 1 || (!values && count)) return false;
    if (start >= SC_BOOL_REGISTERS) return count == 0;
    const uint32_t fit = std::min<uint32_t>(count, SC_BOOL_REGISTERS - start);
    std::memcpy(&registers->stage[stage].b[start], values, sizeof(int32_t) * fit);
    return fit == count;
}

namespace shadercomp {

void SendToGl(const ShaderUniformUpload& u, void*)
{
    if (u.location < 0) return;
    const GLsizei n = GLsizei(u.count);
    const auto* f = static_cast<const GLfloat*>(u.values);
    const auto* i = static_cast<const GLint*>(u.values);
    const auto* ui = static_cast<const GLuint*>(u.values);
    switch (u.kind) {
    case ShaderUniformUpload::Float:
        switch (u.components) {
        case 1: glUniform1fv(u.location, n, f); break;
        case 2: glUniform2fv(u.location, n, f); break;
        case 3: glUniform3fv(u.location, n, f); break;
        default: glUniform4fv(u.location, n, f); break;
        }
        break;
    case ShaderUniformUpload::Int:
        switch (u.components) {
        case 1: glUniform1iv(u.location, n, i); break;
        case 2: glUniform2iv(u.location, n, i); break;
        case 3: glUniform3iv(u.location, n, i); break;
        default: glUniform4iv(u.location, n, i); break;
        }
        break;
    case ShaderUniformUpload::Uint:
        switch (u.components) {
        case 1: glUniform1uiv(u.location, n, ui); break;
        case 2: glUniform2uiv(u.location, n, ui); break;
        case 3: glUniform3uiv(u.location, n, ui); break;
        default: glUniform4uiv(u.location, n, ui); break;
        }
        break;
    case ShaderUniformUpload::Matrix: {
        const GLboolean t = u.transpose ? GL_TRUE : GL_FALSE;
        switch (u.matrixColumns * 10 + u.matrixRows) {
        case 22: glUniformMatrix2fv(u.location, n, t, f); break;
        case 33: glUniformMatrix3fv(u.location, n, t, f); break;
        case 44: glUniformMatrix4fv(u.location, n, t, f); break;
        case 23: glUniformMatrix2x3fv(u.location, n, t, f); break;
        case 24: glUniformMatrix2x4fv(u.location, n, t, f); break;
        case 32: glUniformMatrix3x2fv(u.location, n, t, f); break;
        case 34: glUniformMatrix3x4fv(u.location, n, t, f); break;
        case 42: glUniformMatrix4x2fv(u.location, n, t, f); break;
        case 43: glUniformMatrix4x3fv(u.location, n, t, f); break;
        default: break;
        }
        break;
    }
    }
}

}  // namespace shadercomp

void ShaderRegisters_Upload(const CompiledProgram* program, const ShaderRegisters* registers, ShaderUploadSink send,
                            void* context)
{
    using namespace shadercomp;
    if (!program || !registers) return;
    if (!send) send = SendToGl;
    SVector<float> f;
    SVector<int32_t> n;
    for (uint32_t c = 0; c < program->constantCount; ++c) {
        const CompiledConstant& k = program->constants[c];
        if (k.registerSet == SRS_SAMPLER || k.stage > 1 || (send == SendToGl && k.location < 0)) continue;
        const ShaderRegisterFile& file = registers->stage[k.stage];
        ShaderUniformUpload u{};
        u.location = k.location;
        u.count = k.elements;
        if (k.registerSet == SRS_FLOAT4 && (k.cls == SCC_MATRIX_COLUMNS || k.cls == SCC_MATRIX_ROWS)) {
            // GL sees a declared R×C matrix as R columns of C rows. Column packing keeps a declared column per
            // register, which is a GL row: sent transposed. Row packing keeps GL columns: sent as they are.
            const bool columns = k.cls == SCC_MATRIX_COLUMNS;
            const uint32_t perRegister = columns ? k.rows : k.columns, perElement = columns ? k.columns : k.rows;
            f.assign(size_t(k.elements) * perElement * perRegister, 0.0f);
            for (uint32_t e = 0; e < k.elements; ++e)
                for (uint32_t r = 0; r < perElement; ++r) {
                    const uint32_t reg = k.registerIndex + e * perElement + r;
                    if (reg >= SC_FLOAT_REGISTERS) continue;
                    for (uint32_t x = 0; x < perRegister; ++x)
                        f[(size_t(e) * perElement + r) * perRegister + x] = file.f[reg][x];
                }
            u.kind = ShaderUniformUpload::Matrix;
            u.matrixColumns = uint8_t(k.rows);
            u.matrixRows = uint8_t(k.columns);
            u.transpose = columns;
            u.valueCount = uint32_t(f.size());
            u.values = f.data();
        } else if (k.registerSet == SRS_FLOAT4) {
            f.assign(size_t(k.elements) * k.columns, 0.0f);
            for (uint32_t e = 0; e < k.elements; ++e) {
                const uint32_t reg = k.registerIndex + e;
                if (reg >= SC_FLOAT_REGISTERS) continue;
                for (uint32_t x = 0; x < k.columns; ++x) f[size_t(e) * k.columns + x] = file.f[reg][x];
            }
            u.kind = ShaderUniformUpload::Float;
            u.components = uint8_t(k.columns);
            u.valueCount = uint32_t(f.size());
            u.values = f.data();
        } else if (k.registerSet == SRS_INT4) {
            n.assign(size_t(k.elements) * k.columns, 0);
            for (uint32_t e = 0; e < k.elements; ++e) {
                const uint32_t reg = k.registerIndex + e;
                if (reg >= SC_INT_REGISTERS) continue;
                for (uint32_t x = 0; x < k.columns; ++x) n[size_t(e) * k.columns + x] = file.i[reg][x];
            }
            u.kind = ShaderUniformUpload::Int;
            u.components = uint8_t(k.columns);
            u.valueCount = uint32_t(n.size());
            u.values = n.data();
        } else {
            // Bools: one register per component; the GL side holds them as unsigned integers.
            n.assign(size_t(k.elements) * k.columns, 0);
            for (uint32_t x = 0; x < n.size(); ++x) {
                const uint32_t reg = k.registerIndex + x;
                if (reg < SC_BOOL_REGISTERS) n[x] = file.b[reg] != 0 ? 1 : 0;
            }
            u.kind = ShaderUniformUpload::Uint;
            u.components = uint8_t(k.columns);
            u.valueCount = uint32_t(n.size());
            u.values = n.data();
        }
        send(u, context);
    }
}
