// Vertex formats: the format table, the builder the vertex_format_* built-ins drive, and the device
// declarations made from finished formats.
#include "gfx/vformat.h"

#include "core/arguments.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "gfx/batch.h"
#include "gfx/device.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

VertexFormat** g_VFformats = nullptr;  // memory manager; deleted formats leave null slots
int32_t g_VFformatCount = 0;

VertexFormat* g_VFbuilding = nullptr;
uint32_t g_VFnextBit = 0;

// Engine usages 0-14 as device usages (5 and 6 are both blend weights, 7 and 8 both tangents).
const uint8_t kVFDeclUsage[15] = {
    RDDECLUSAGE_POSITION,    RDDECLUSAGE_POSITION,    RDDECLUSAGE_COLOR,     RDDECLUSAGE_NORMAL,
    RDDECLUSAGE_TEXCOORD,    RDDECLUSAGE_BLENDWEIGHT, RDDECLUSAGE_BLENDWEIGHT, RDDECLUSAGE_TANGENT,
    RDDECLUSAGE_TANGENT,     RDDECLUSAGE_BINORMAL,    RDDECLUSAGE_TESSFACTOR, RDDECLUSAGE_POSITIONT,
    RDDECLUSAGE_FOG,         RDDECLUSAGE_DEPTH,       RDDECLUSAGE_SAMPLE,
};

int32_t VF_ComponentsOf(int32_t type) { return type >= 1 && type <= 4 ? type : 1; }

VertexFormat* VF_NewFormat()
{
    return new (MemAlloc(sizeof(VertexFormat))) VertexFormat();
}

void VF_DeleteFormatRecord(VertexFormat* f)
{
    MemFree(f->elements);
    f->~VertexFormat();
    MemFree(f);
}

// ---- Built-ins ---------------------------------------------------------------------------------------------

void VF_F_VertexFormatBegin(RValue* result, CInstance*, CInstance*, int32_t argc, RValue*)
{
    RValue_SetReal(result, -1.0);
    if (argc != 0) {
        Error_Show_Action("vertex_format_begin(): Illegal argument count", false);
        return;
    }
    if (g_VFbuilding) {
        Error_Show_Action("vertex_format_begin(): Can't start a new format, still creating another one.", false);
        return;
    }
    g_VFbuilding = VF_NewFormat();
    g_VFnextBit = 1;
}

// The element-adding built-ins without arguments: each check has its own message naming the built-in.
void VF_AddFixed(const char* name, int32_t argc, int32_t type, int32_t usage)
{
    char message[128];
    const char* failure = nullptr;
    if (argc != 0) failure = "Illegal argument count";
    else if (!g_VFbuilding) failure = "haven't started a new format.";
    else if (g_VFnextBit == 0) failure = "Too many elements";
    if (failure) {
        std::snprintf(message, sizeof message, "%s(): %s", name, failure);
        Error_Show_Action(message, false);
        return;
    }
    g_VFbuilding->AddElement(type, usage, g_VFnextBit);
    g_VFnextBit <<= 1;
}

void VF_F_VertexFormatAddPosition(RValue* result, CInstance*, CInstance*, int32_t argc, RValue*)
{
    RValue_SetReal(result, -1.0);
    VF_AddFixed("vertex_format_add_position", argc, VERTEX_TYPE_FLOAT2, VERTEX_USAGE_POSITION);
}
void VF_F_VertexFormatAddPosition3d(RValue* result, CInstance*, CInstance*, int32_t argc, RValue*)
{
    RValue_SetReal(result, -1.0);
    VF_AddFixed("vertex_format_add_position_3d", argc, VERTEX_TYPE_FLOAT3, VERTEX_USAGE_POSITION);
}
void VF_F_VertexFormatAddColour(RValue* result, CInstance*, CInstance*, int32_t argc, RValue*)
{
    RValue_SetReal(result, -1.0);
    VF_AddFixed("vertex_format_add_colour", argc, VERTEX_TYPE_COLOUR, VERTEX_USAGE_COLOUR);
}
void VF_F_VertexFormatAddNormal(RValue* result, CInstance*, CInstance*, int32_t argc, RValue*)
{
    RValue_SetReal(result, -1.0);
    VF_AddFixed("vertex_format_add_normal", argc, VERTEX_TYPE_FLOAT3, VERTEX_USAGE_NORMAL);
}
void VF_F_VertexFormatAddTexcoord(RValue* result, CInstance*, CInstance*, int32_t argc, RValue*)
{
    RValue_SetReal(result, -1.0);
    VF_AddFixed("vertex_format_add_textcoord", argc, VERTEX_TYPE_FLOAT2, VERTEX_USAGE_TEXCOORD);
}

void VF_F_VertexFormatAddCustom(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, -1.0);
    if (!g_VFbuilding) {
        Error_Show_Action("vertex_format_add_custom(): haven't started a new format.", false);
        return;
    }
    if (g_VFnextBit == 0) {
        Error_Show_Action("vertex_format_add_custom(): Too many elements", false);
        return;
    }
    const int32_t type = QZGI32(args, 0);
    if (type < VERTEX_TYPE_FLOAT1 || type > VERTEX_TYPE_UBYTE4) {
        Error_Show_Action("vertex_format_add_custom(): illegal types", false);
        return;
    }
    const int32_t usage = QZGI32(args, 1);
    if (usage < 1 || usage > VERTEX_USAGE_LAST) {
        Error_Show_Action("vertex_format_add_custom(): illegal usage", false);
        return;
    }
    g_VFbuilding->AddElement(type, usage, g_VFnextBit);
    g_VFnextBit <<= 1;
}

void VF_F_VertexFormatEnd(RValue* result, CInstance*, CInstance*, int32_t argc, RValue*)
{
    RValue_SetReal(result, -1.0);
    if (argc != 0) {
        Error_Show_Action("vertex_format_end(): Illegal argument count", false);
        return;
    }
    if (!g_VFbuilding) {
        Error_Show_Action("vertex_format_end(): Can't end format, you haven't started one yet.", false);
        return;
    }
    VertexFormat* f = VertexFormat_Register(g_VFbuilding);
    g_VFbuilding = nullptr;
    g_VFnextBit = 0;
    f->CreateDeclaration();
    RValue_SetReal(result, double(f->id));
}

void VF_F_VertexFormatDelete(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    if (argc != 1) {
        Error_Show_Action("vertex_format_delete(): Illegal argument count", false);
        return;
    }
    if (RValue_Kind(&args[0]) != VALUE_REAL) {
        Error_Show_Action("vertex_format_delete(): Illegal argument type", false);
        return;
    }
    const uint32_t id = QZGU32(args, 0);
    for (int32_t i = 0; i < g_VFformatCount; ++i) {
        VertexFormat* f = g_VFformats[i];
        if (!f || uint32_t(f->id) != id) continue;
        GraphicsFlush();
        f->ReleaseDeclaration();
        VertexFormat_Free(f);
        return;
    }
}

}  // namespace

// ---- The format record -------------------------------------------------------------------------------------

int32_t VertexFormat_TypeSize(int32_t type)
{
    switch (type) {
    case VERTEX_TYPE_FLOAT1: return 4;
    case VERTEX_TYPE_FLOAT2: return 8;
    case VERTEX_TYPE_FLOAT3: return 12;
    case VERTEX_TYPE_FLOAT4: return 16;
    case VERTEX_TYPE_COLOUR:
    case VERTEX_TYPE_UBYTE4: return 4;
    default: return 0;
    }
}

void VertexFormat::AddElement(int32_t type, int32_t usage, uint32_t bit)
{
    elements = static_cast<VertexFormatElement*>(MemReAlloc(elements, sizeof(VertexFormatElement) * size_t(count + 1)));
    elements[count] = {stride, type, usage, bit};
    ++count;
    mask |= bit;
    stride += VertexFormat_TypeSize(type);
}

void VertexFormat::CreateDeclaration()
{
    ReleaseDeclaration();
    auto* list = static_cast<RDVertexElement*>(MemAlloc(sizeof(RDVertexElement) * size_t(count + 1)));
    int32_t seen[15] = {};
    for (int32_t i = 0; i < count; ++i) {
        const VertexFormatElement& e = elements[i];
        const int32_t usage = e.usage >= 0 && e.usage <= 14 ? e.usage : 0;
        list[i].stream = 0;
        list[i].offset = uint16_t(e.offset);
        list[i].type = uint8_t(e.type >= 1 && e.type <= 6 ? e.type - 1 : RDDECLTYPE_UNUSED);
        list[i].method = 0;
        list[i].usage = kVFDeclUsage[usage];
        list[i].usageIndex = uint8_t(seen[usage]++);
    }
    list[count] = {0xFF, 0, RDDECLTYPE_UNUSED, 0, 0, 0};
    RDVertexDeclaration* made = nullptr;
    if (GR_Device && !RD_Failed(GR_Device->CreateVertexDeclaration(list, &made))) declaration = made;
    MemFree(list);
}

void VertexFormat::ReleaseDeclaration()
{
    if (declaration) declaration->Release();
    declaration = nullptr;
}

int32_t VertexFormat::SwapEndian(uint8_t* data, int32_t n, int32_t start, int32_t size, bool wrap) const
{
    if (!data || n <= 0 || stride <= 0) return 0;
    int32_t wraps = 0;
    if (wrap) {
        if (size <= 0) return 0;
        if (int64_t(n) * stride > size) n = size / stride;
    } else if (size >= 0) {
        const int64_t room = int64_t(size) - start;
        if (room < 0) return 0;
        if (int64_t(n) * stride > room) n = int32_t(room / stride);
    }
    int64_t at = start;
    for (int32_t v = 0; v < n; ++v) {
        for (int32_t i = 0; i < count; ++i) {
            const int32_t components = VF_ComponentsOf(elements[i].type);
            for (int32_t c = 0; c < components; ++c) {
                int64_t p = at + elements[i].offset + int64_t(c) * 4;
                uint8_t* bytes[4];
                for (int32_t k = 0; k < 4; ++k) {
                    int64_t q = p + k;
                    if (wrap) q %= size;
                    bytes[k] = data + q;
                }
                uint8_t t = *bytes[0];
                *bytes[0] = *bytes[3];
                *bytes[3] = t;
                t = *bytes[1];
                *bytes[1] = *bytes[2];
                *bytes[2] = t;
            }
        }
        at += stride;
        if (wrap && at >= size) {
            at -= size;
            ++wraps;
        }
    }
    return wraps;
}

// ---- The table ---------------------------------------------------------------------------------------------

VertexFormat* VertexFormat_Get(int32_t id)
{
    if (id < VERTEX_FORMAT_ID_BIT) return nullptr;
    const int32_t index = id & ~VERTEX_FORMAT_ID_BIT;
    if (index >= g_VFformatCount) return nullptr;
    return g_VFformats[index];
}

VertexFormat* VertexFormat_Register(VertexFormat* format)
{
    int32_t slot = 0;
    while (slot < g_VFformatCount && g_VFformats[slot]) ++slot;
    if (slot == g_VFformatCount) {
        g_VFformats = static_cast<VertexFormat**>(MemReAlloc(g_VFformats, sizeof(VertexFormat*) * size_t(g_VFformatCount + 1)));
        ++g_VFformatCount;
    }
    g_VFformats[slot] = format;
    format->id = slot | VERTEX_FORMAT_ID_BIT;
    return format;
}

void VertexFormat_Free(VertexFormat* format)
{
    if (!format) return;
    for (int32_t i = 0; i < g_VFformatCount; ++i)
        if (g_VFformats[i] == format) g_VFformats[i] = nullptr;
    format->ReleaseDeclaration();
    VF_DeleteFormatRecord(format);
}

void VertexFormat_FreeAll()
{
    GraphicsFlush();
    for (int32_t i = 0; i < g_VFformatCount; ++i) {
        VertexFormat* f = g_VFformats[i];
        if (!f) continue;
        VertexFormat_Free(f);
    }
    MemFree(g_VFformats);
    g_VFformats = nullptr;
    g_VFformatCount = 0;
}

void VertexFormat_FreeElementTable()
{
    if (g_VFbuilding) VF_DeleteFormatRecord(g_VFbuilding);
    g_VFbuilding = nullptr;
    g_VFnextBit = 0;
}

bool VertexFormat_IsPretransformed(const VertexFormat* format)
{
    if (!format) return false;
    for (int32_t i = 0; i < format->count; ++i)
        if (format->elements[i].usage == VERTEX_USAGE_POSITIONT) return true;
    return false;
}

int32_t VertexFormat_Count() { return g_VFformatCount; }

void InitVertexFormatFunctions()
{
    Function_Add("vertex_format_begin", VF_F_VertexFormatBegin, 0, false);
    Function_Add("vertex_format_add_position", VF_F_VertexFormatAddPosition, 0, false);
    Function_Add("vertex_format_add_position_3d", VF_F_VertexFormatAddPosition3d, 0, false);
    Function_Add("vertex_format_add_colour", VF_F_VertexFormatAddColour, 0, false);
    Function_Add("vertex_format_add_normal", VF_F_VertexFormatAddNormal, 0, false);
    Function_Add("vertex_format_add_textcoord", VF_F_VertexFormatAddTexcoord, 0, false);
    Function_Add("vertex_format_add_texcoord", VF_F_VertexFormatAddTexcoord, 0, false);
    Function_Add("vertex_format_add_custom", VF_F_VertexFormatAddCustom, 2, false);
    Function_Add("vertex_format_end", VF_F_VertexFormatEnd, 0, false);
    Function_Add("vertex_format_delete", VF_F_VertexFormatDelete, 1, false);
}
