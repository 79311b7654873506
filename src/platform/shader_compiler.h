// Compiles a vertex and pixel program pair written in the Direct3D 9 dialect of HLSL into one GL program, with the
// constant table the engine addresses uniforms through, and keeps the per-stage register files that the engine's
// uniform setters write and that are decoded into glUniform* before a draw.
//
// The register model is the one of a Direct3D 9 device: per stage 256 float4, 16 int4 and 16 bool registers.
// Every constant of a program owns a run of registers in one of those files (samplers own a texture unit).
#pragma once
#include <cstddef>
#include <cstdint>

// Stage bytes of a constant.
constexpr uint8_t SC_STAGE_PIXEL = 0;
constexpr uint8_t SC_STAGE_VERTEX = 1;

// Register sets.
enum ShaderRegisterSet : uint8_t { SRS_BOOL = 0, SRS_INT4 = 1, SRS_FLOAT4 = 2, SRS_SAMPLER = 3 };
// Constant classes: a matrix is stored a row per register (MATRIX_ROWS, declared row_major) or a column per
// register (MATRIX_COLUMNS, the default packing).
enum ShaderConstantClass : uint32_t {
    SCC_SCALAR = 0,
    SCC_VECTOR = 1,
    SCC_MATRIX_ROWS = 2,
    SCC_MATRIX_COLUMNS = 3,
    SCC_OBJECT = 4,
};
enum ShaderConstantType : uint32_t {
    SCT_BOOL = 1,
    SCT_INT = 2,
    SCT_FLOAT = 3,
    SCT_SAMPLER = 10,
    SCT_SAMPLER1D = 11,
    SCT_SAMPLER2D = 12,
    SCT_SAMPLER3D = 13,
    SCT_SAMPLERCUBE = 14,
};

constexpr uint32_t SC_FLOAT_REGISTERS = 256;
constexpr uint32_t SC_INT_REGISTERS = 16;
constexpr uint32_t SC_BOOL_REGISTERS = 16;
constexpr uint32_t SC_SAMPLERS = 16;

// One entry of the constant table: vertex constants first, then pixel ones, each stage in declaration order.
struct CompiledConstant {
    char* name;            // as declared (MemAlloc'd)
    uint8_t stage;         // SC_STAGE_VERTEX or SC_STAGE_PIXEL
    uint8_t registerSet;   // ShaderRegisterSet
    uint32_t registerIndex;
    uint32_t registerCount;  // all elements
    uint32_t cls;            // ShaderConstantClass
    uint32_t type;           // ShaderConstantType
    uint32_t bytes;          // 4 × rows × columns × elements
    uint32_t columns, rows;  // as declared: float4x3 has 4 rows and 3 columns; a vector has 1 row
    uint32_t elements;       // array length, 1 when not an array
    int32_t location;        // GL uniform location of element 0; -1 when there is none
};

// Vertex-declaration usages (the numbers vertex declarations carry), which name what an attribute is fed from.
enum ShaderDeclUsage : uint8_t {
    SDU_POSITION = 0,
    SDU_BLENDWEIGHT = 1,
    SDU_BLENDINDICES = 2,
    SDU_NORMAL = 3,
    SDU_PSIZE = 4,
    SDU_TEXCOORD = 5,
    SDU_TANGENT = 6,
    SDU_BINORMAL = 7,
    SDU_TESSFACTOR = 8,
    SDU_POSITIONT = 9,
    SDU_COLOR = 10,
    SDU_FOG = 11,
    SDU_DEPTH = 12,
    SDU_SAMPLE = 13,
};

// A vertex-program input: its semantic as (usage, usage index), bound to a GL attribute location.
struct ShaderAttribute {
    uint8_t usage;       // ShaderDeclUsage
    uint8_t usageIndex;  // TEXCOORD1 → 1
    uint8_t components;  // 1..4 as declared
    uint32_t location;   // the GL attribute location (0, 1, … in declaration order)
};

// The result of compiling a pair. On failure program is 0, errorText holds the messages and errorStage the stage
// they belong to (0 vertex, 1 pixel); the tables are then empty.
struct CompiledProgram {
    uint32_t program = 0;  // GL program name
    CompiledConstant* constants = nullptr;
    uint32_t constantCount = 0;
    ShaderAttribute* attributes = nullptr;
    uint32_t attributeCount = 0;
    char* errorText = nullptr;  // MemAlloc'd, null on success
    int32_t errorStage = -1;    // -1 on success
    // Uniforms of the wrapper code, set by the device before a draw (-1 when the program has none).
    int32_t halfPixelLocation = -1;  // vec2 (1 / viewport width, 1 / viewport height)
    int32_t alphaTestLocation = -1;  // ivec2 (compare function, 8 = always; reference 0..255)
    // The GLSL texts handed to GL (MemAlloc'd; kept for error reports and tests).
    char* vertexGlsl = nullptr;
    char* pixelGlsl = nullptr;
};

// Frees the record's memory and deletes its GL program (0 is left alone). The record is zeroed.
void CompiledProgram_Free(CompiledProgram* program);
// Index into constants of the constant declared as name in stage, or -1.
int32_t CompiledProgram_Find(const CompiledProgram* program, uint8_t stage, const char* name);
// GL location of the attribute fed by (usage, usageIndex), or -1 when the vertex program has no such input.
int32_t CompiledProgram_AttributeLocation(const CompiledProgram* program, uint8_t usage, uint8_t usageIndex);

// Semantic text ("TEXCOORD1", "color", "POSITION") → usage and index; false for one that names no input.
bool ShaderSemantic_Parse(const char* semantic, uint8_t* usage, uint8_t* usageIndex);

class ShaderCompiler {
public:
    virtual ~ShaderCompiler() = default;
    // Compiles the pair (texts of the given lengths, need not be terminated). Fills *out either way; true when it
    // compiled. Needs the device's GL context current (the fake needs none).
    virtual bool Compile(const char* vertexText, size_t vertexLength, const char* pixelText, size_t pixelLength,
                         CompiledProgram* out) = 0;
};

// The compiler the engine uses: the real one unless a test installed another. Never null.
ShaderCompiler* ShaderCompiler_Get();
// Tests install a compiler (null puts the real one back); the caller keeps ownership.
void ShaderCompiler_Set(ShaderCompiler* compiler);

// The translation step alone, without GL: fills everything but program and the locations (all -1), with the
// GLSL texts. Constants are those the programs use; the GL step can only drop more.
bool ShaderCompiler_Translate(const char* vertexText, size_t vertexLength, const char* pixelText, size_t pixelLength,
                              CompiledProgram* out);

// ---- Register files ----------------------------------------------------------------------------------------------

struct ShaderRegisterFile {
    float f[SC_FLOAT_REGISTERS][4];
    int32_t i[SC_INT_REGISTERS][4];
    int32_t b[SC_BOOL_REGISTERS];
};
// Indexed by stage byte: [SC_STAGE_PIXEL], [SC_STAGE_VERTEX].
struct ShaderRegisters {
    ShaderRegisterFile stage[2];
};

void ShaderRegisters_Clear(ShaderRegisters* registers);
// Writes count registers from start (float4 / int4 / one bool each); registers past the file are not written.
// False when any was cut.
bool ShaderRegisters_SetF(ShaderRegisters* registers, uint8_t stage, uint32_t start, const float* values,
                          uint32_t count);
bool ShaderRegisters_SetI(ShaderRegisters* registers, uint8_t stage, uint32_t start, const int32_t* values,
                          uint32_t count);
bool ShaderRegisters_SetB(ShaderRegisters* registers, uint8_t stage, uint32_t start, const int32_t* values,
                          uint32_t count);

// One glUniform* call of a constant, as the decoding step makes it (for tests and for recording devices).
struct ShaderUniformUpload {
    enum Kind : uint8_t { Float, Int, Uint, Matrix } kind;
    uint8_t components;      // vectors: 1..4
    uint8_t matrixColumns;   // GL columns of a matrix upload (the declared rows)
    uint8_t matrixRows;      // GL rows (the declared columns)
    bool transpose;          // the data are row by row
    int32_t location;
    uint32_t count;          // array elements
    uint32_t valueCount;
    const void* values;      // valueCount floats or int32s, valid during the callback
};
// Decodes the registers of every constant of the program (samplers excepted) into the uploads GL needs and
// hands each to send; with a null send they go to glUniform* for the program, which must be current.
using ShaderUploadSink = void (*)(const ShaderUniformUpload& upload, void* context);
void ShaderRegisters_Upload(const CompiledProgram* program, const ShaderRegisters* registers,
                            ShaderUploadSink send = nullptr, void* context = nullptr);
