// Declared vertex layouts: each declaration keeps a vertex-array object per program layout, so drawing the
// same buffer with the same program again binds one object and sets no attribute (the device's own object is
// bound again after the draw). Without a compiled program
// the emulation reads position, normal, colour and texture coordinate 0 at its fixed locations; a layout
// without colour leaves that array off, and the constant white of a disabled colour array stands in.
#include "platform/gl_internal.h"

#include "core/console.h"
#include "platform/shader_compiler.h"

#include <algorithm>
#include <cstring>

namespace gldev {

namespace {

GlVertexDeclaration* g_declLive = nullptr;

// The emulation's attribute locations (see gl_program.cpp).
constexpr int8_t kDeclLocPosition = 0, kDeclLocNormal = 1, kDeclLocColour = 2, kDeclLocTexcoord = 3;

struct DeclElementType {
    GLint size;
    GLenum type;
    GLboolean normalised;
    uint32_t bytes;
};

bool DeclElementTypeOf(uint8_t type, DeclElementType* out)
{
    switch (type) {
    case RDDECLTYPE_FLOAT1: *out = {1, GL_FLOAT, GL_FALSE, 4}; return true;
    case RDDECLTYPE_FLOAT2: *out = {2, GL_FLOAT, GL_FALSE, 8}; return true;
    case RDDECLTYPE_FLOAT3: *out = {3, GL_FLOAT, GL_FALSE, 12}; return true;
    case RDDECLTYPE_FLOAT4: *out = {4, GL_FLOAT, GL_FALSE, 16}; return true;
    // Stored B, G, R, A: GL reads that order as is.
    case RDDECLTYPE_D3DCOLOR: *out = {GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 4}; return true;
    case RDDECLTYPE_UBYTE4: *out = {4, GL_UNSIGNED_BYTE, GL_FALSE, 4}; return true;
    default: return false;
    }
}

uint32_t DeclVerticesOf(uint32_t type, uint32_t primitives)
{
    switch (type) {
    case RDPT_POINTLIST: return primitives;
    case RDPT_LINELIST: return primitives * 2;
    case RDPT_LINESTRIP: return primitives + 1;
    case RDPT_TRIANGLELIST: return primitives * 3;
    case RDPT_TRIANGLESTRIP:
    case RDPT_TRIANGLEFAN: return primitives + 2;
    default: return 0;
    }
}

void DeclDeleteArrays(GlVertexDeclaration::Arrays* a)
{
    if (a->name) {
        KGL(glDeleteVertexArrays(1, &a->name));
    }
    *a = GlVertexDeclaration::Arrays();
}

}  // namespace

GlVertexDeclaration::~GlVertexDeclaration()
{
    // Names are zero once the context went (ForgetDeclarations).
    for (Arrays& a : arrays) DeclDeleteArrays(&a);
    if (prevLive) prevLive->nextLive = nextLive;
    else if (g_declLive == this) g_declLive = nextLive;
    if (nextLive) nextLive->prevLive = prevLive;
}

RDResult GlDevice::CreateVertexDeclaration(const RDVertexElement* elements, RDVertexDeclaration** out)
{
    if (!out) return RDERR_INVALIDCALL;
    *out = nullptr;
    if (!hasDevice_ || !elements) return RDERR_INVALIDCALL;
    uint32_t count = 0;
    while (elements[count].stream != 0xFF) {
        const RDVertexElement& e = elements[count];
        DeclElementType t;
        if (count == RD_MAX_DECL_ELEMENTS || e.stream != 0 || !DeclElementTypeOf(e.type, &t) || e.usage > RDDECLUSAGE_SAMPLE)
            return RDERR_INVALIDCALL;
        ++count;
    }
    auto* d = new GlVertexDeclaration;
    d->count = count;
    for (uint32_t i = 0; i < count; ++i) {
        const RDVertexElement& e = elements[i];
        d->elements[i] = e;
        DeclElementType t;
        DeclElementTypeOf(e.type, &t);
        d->stride = std::max(d->stride, uint32_t(e.offset) + t.bytes);
        if (e.usage == RDDECLUSAGE_POSITIONT) d->pretransformed = true;
        if (e.usageIndex != 0) continue;
        if (e.usage == RDDECLUSAGE_POSITION || e.usage == RDDECLUSAGE_POSITIONT) d->emulatedFvf |= RDFVF_XYZ;
        if (e.usage == RDDECLUSAGE_NORMAL) d->emulatedFvf |= RDFVF_NORMAL;
        if (e.usage == RDDECLUSAGE_COLOR) d->emulatedFvf |= RDFVF_DIFFUSE;
        if (e.usage == RDDECLUSAGE_TEXCOORD) d->emulatedFvf |= RDFVF_TEX1;
    }
    d->nextLive = g_declLive;
    if (g_declLive) g_declLive->prevLive = d;
    g_declLive = d;
    *out = d;
    return RD_OK;
}

RDResult GlDevice::SetVertexDeclaration(RDVertexDeclaration* declaration)
{
    if (!hasDevice_) return RDERR_INVALIDCALL;
    auto* d = static_cast<GlVertexDeclaration*>(declaration);
    if (d == declaration_) return RD_OK;
    if (d) d->AddRef();
    if (declaration_) declaration_->Release();
    declaration_ = d;
    if (d) fvf_ = 0;
    return RD_OK;
}

void GlDevice::ForgetDeclarations()
{
    for (GlVertexDeclaration* d = g_declLive; d; d = d->nextLive)
        for (auto& a : d->arrays) DeclDeleteArrays(&a);
    declarationArraysBound_ = false;
    if (declaration_) {
        declaration_->Release();
        declaration_ = nullptr;
    }
}

bool GlDevice::BindDeclarationArrays(GlVertexDeclaration* d, GLuint buffer, uintptr_t offset, uint32_t stride)
{
    // Where each element goes for the program that will draw.
    int8_t want[RD_MAX_DECL_ELEMENTS];
    uint32_t taken = 0;
    bool position = false;
    for (uint32_t i = 0; i < d->count; ++i) {
        const RDVertexElement& e = d->elements[i];
        int32_t location = -1;
        if (shader_) {
            location = CompiledProgram_AttributeLocation(shader_, e.usage, e.usageIndex);
        } else if (e.usageIndex == 0) {
            switch (e.usage) {
            case RDDECLUSAGE_POSITION:
            case RDDECLUSAGE_POSITIONT: location = kDeclLocPosition; break;
            case RDDECLUSAGE_NORMAL: location = kDeclLocNormal; break;
            case RDDECLUSAGE_COLOR: location = kDeclLocColour; break;
            case RDDECLUSAGE_TEXCOORD: location = kDeclLocTexcoord; break;
            default: break;
            }
        }
        // One element per location: the first wins.
        if (location < 0 || location >= 16 || (taken & (1u << location))) location = -1;
        else taken |= 1u << location;
        if (location == kDeclLocPosition) position = true;
        want[i] = int8_t(location);
    }
    if (!shader_ && !position) return false;  // the emulation has nothing to place

    const void* layout = shader_;
    const GLuint program = shader_ ? shader_->program : 0;
    GlVertexDeclaration::Arrays* a = nullptr;
    for (auto& candidate : d->arrays)
        if (candidate.name && candidate.layout == layout && candidate.program == program &&
            std::memcmp(candidate.location, want, d->count) == 0) {
            a = &candidate;
            break;
        }
    if (!a) {
        for (auto& candidate : d->arrays)
            if (!candidate.name) {
                a = &candidate;
                break;
            }
        if (!a) {
            a = &d->arrays[d->nextEvicted];
            d->nextEvicted = (d->nextEvicted + 1) % GlVertexDeclaration::kArrays;
            DeclDeleteArrays(a);
        }
        KGL(glGenVertexArrays(1, &a->name));
        a->layout = layout;
        a->program = program;
        std::memcpy(a->location, want, d->count);
    }
    KGL(glBindVertexArray(a->name));
    declarationArraysBound_ = true;
    if (a->buffer == buffer && a->offset == offset && a->stride == stride) return true;
    BindArrayBuffer(buffer);
    uint32_t enabled = 0;
    for (uint32_t i = 0; i < d->count; ++i) {
        if (want[i] < 0) continue;
        const RDVertexElement& e = d->elements[i];
        DeclElementType t;
        DeclElementTypeOf(e.type, &t);
        KGL(glVertexAttribPointer(GLuint(want[i]), t.size, t.type, t.normalised, GLsizei(stride),
                                  reinterpret_cast<const void*>(offset + e.offset)));
        enabled |= 1u << want[i];
    }
    for (GLuint i = 0; i < 16; ++i) {
        const uint32_t bit = 1u << i;
        if ((enabled & bit) == (a->enabled & bit)) continue;
        (enabled & bit) ? KGL(glEnableVertexAttribArray(i)) : KGL(glDisableVertexAttribArray(i));
    }
    a->enabled = enabled;
    a->buffer = buffer;
    a->offset = offset;
    a->stride = stride;
    return true;
}

RDResult GlDevice::DrawDeclared(uint32_t type, uint32_t startVertex, uint32_t primitiveCount, const void* vertices,
                                uint32_t stride)
{
    GlVertexDeclaration* d = declaration_;
    const uint32_t count = DeclVerticesOf(type, primitiveCount);
    if (!hasDevice_ || count == 0) return RDERR_INVALIDCALL;
    // Positions already on screen need a program that takes them as they are.
    if (d->pretransformed && !shader_) return RDERR_INVALIDCALL;
    GLuint buffer = 0;
    uintptr_t base = 0;
    uint32_t first = startVertex;
    if (vertices) {
        if (stride == 0) return RDERR_INVALIDCALL;
        const uint64_t bytes64 = uint64_t(count) * stride;
        if (bytes64 > UINT32_MAX / 2) return RDERR_INVALIDCALL;
        const uint32_t bytes = uint32_t(bytes64);
        // The same ring as drawing from memory with a flexible format; offsets stay whole vertices so the
        // arrays keep pointing at the start.
        BindArrayBuffer(streamBuffer_);
        uint32_t offset = (streamOffset_ + stride - 1) / stride * stride;
        if (bytes > streamCapacity_) {
            streamCapacity_ = std::max<uint32_t>(4u << 20, bytes);
            offset = streamCapacity_;
        }
        if (uint64_t(offset) + bytes > streamCapacity_) {
            KGL(glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(streamCapacity_), nullptr, GL_STREAM_DRAW));
            offset = 0;
        }
        KGL(glBufferSubData(GL_ARRAY_BUFFER, GLintptr(offset), GLsizeiptr(bytes), vertices));
        streamOffset_ = offset + bytes;
        buffer = streamBuffer_;
        first = offset / stride;
    } else {
        if (!stream_ || stream_->locked) return RDERR_INVALIDCALL;
        stride = streamStride_ ? streamStride_ : d->stride;
        if (stride == 0 ||
            uint64_t(streamByteOffset_) + (uint64_t(startVertex) + count) * stride > stream_->length)
            return RDERR_INVALIDCALL;
        buffer = stream_->name;
        // Whole vertices of the offset become the first vertex, so a batch buffer drawn at many offsets keeps
        // one set of arrays.
        base = streamByteOffset_ % stride;
        first += streamByteOffset_ / stride;
    }
    RDResult result = RDERR_INVALIDCALL;
    if (ApplyDrawState(d->emulatedFvf) && BindDeclarationArrays(d, buffer, base, stride)) {
        uint32_t drawn = 0;
        result = DrawArrays(type, first, primitiveCount, &drawn);
    }
    // Everything else changes attribute arrays on the device's own object: it is bound again at once.
    UseDefaultVertexArray();
    if (vertices && stream_) {
        // As with flexible formats, drawing from memory leaves no stream source set.
        stream_->Release();
        stream_ = nullptr;
    }
    return result;
}

}  // namespace gldev
