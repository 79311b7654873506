// The OpenGL device's resources: textures (a CPU copy for managed ones, an FBO attachment for render targets),
// surfaces, depth-stencil buffers, system-memory read-back, blits between surfaces, vertex buffers and drawing.
#include "platform/gl_internal.h"

#include "core/memory_manager.h"

#include <algorithm>
#include <cstring>

namespace gldev {

namespace {

bool ColourFormat(uint32_t format) { return format == RDFMT_A8R8G8B8 || format == RDFMT_X8R8G8B8; }

// How a texture format lives in GL: its storage, how its pixels are uploaded, and their size. Depth formats
// take no uploads. False for formats the device does not make.
struct GlFormat {
    GLint internal;
    GLenum format, type;
    uint32_t bytesPerPixel;
    bool depth;
};

bool TextureFormat(uint32_t format, GlFormat* out)
{
    switch (format) {
    case RDFMT_A8R8G8B8:
    case RDFMT_X8R8G8B8: *out = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, 4, false}; return true;
    case RDFMT_A4R4G4B4: *out = {GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, 2, false}; return true;
    // Half floats arrive as 32-bit floats, so every upload of these formats is 4 bytes a pixel.
    case RDFMT_R16F: *out = {GL_R16F, GL_RED, GL_FLOAT, 4, false}; return true;
    case RDFMT_R32F: *out = {GL_R32F, GL_RED, GL_FLOAT, 4, false}; return true;
    case RDFMT_D32: *out = {GL_DEPTH_COMPONENT32, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, 4, true}; return true;
    case RDFMT_D24S8: *out = {GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, 4, true}; return true;
    default: return false;
    }
}

// The rectangle asked for, or the whole surface; false when it does not fit.
bool ResolveRect(const RDRect* rect, uint32_t width, uint32_t height, RDRect* out)
{
    if (!rect) {
        *out = {0, 0, int32_t(width), int32_t(height)};
        return true;
    }
    if (rect->left < 0 || rect->top < 0 || rect->right <= rect->left || rect->bottom <= rect->top ||
        uint32_t(rect->right) > width || uint32_t(rect->bottom) > height)
        return false;
    *out = *rect;
    return true;
}

uint8_t* AllocZeroed(size_t size)
{
    auto* block = static_cast<uint8_t*>(MemAlloc(size));
    if (block) std::memset(block, 0, size);
    return block;
}

// Byte size of one vertex of a flexible vertex format, and where its parts sit; false for positions other than
// plain xyz (nothing draws pre-transformed or blended vertices yet).
struct FvfLayout {
    uint32_t size = 0;
    int32_t normal = -1, diffuse = -1, texcoord = -1;
    GLint texcoordSize = 2;
};

bool DecodeFvf(uint32_t fvf, FvfLayout* out)
{
    if ((fvf & 0x400E) != RDFVF_XYZ) return false;
    uint32_t offset = 12;
    if (fvf & RDFVF_NORMAL) out->normal = int32_t(offset), offset += 12;
    if (fvf & 0x020) offset += 4;  // point size
    if (fvf & RDFVF_DIFFUSE) out->diffuse = int32_t(offset), offset += 4;
    if (fvf & 0x080) offset += 4;  // specular
    const uint32_t sets = (fvf >> 8) & 0xF;
    for (uint32_t i = 0; i < sets; ++i) {
        static const GLint kSizes[4] = {2, 3, 4, 1};
        const GLint size = kSizes[(fvf >> (16 + 2 * i)) & 3];
        if (i == 0) out->texcoord = int32_t(offset), out->texcoordSize = size;
        offset += uint32_t(size) * 4;
    }
    out->size = offset;
    return true;
}

bool VertexCount(uint32_t type, uint32_t primitives, GLenum* mode, uint32_t* count)
{
    if (primitives == 0) return false;
    switch (type) {
    case RDPT_POINTLIST: *mode = GL_POINTS, *count = primitives; break;
    case RDPT_LINELIST: *mode = GL_LINES, *count = primitives * 2; break;
    case RDPT_LINESTRIP: *mode = GL_LINE_STRIP, *count = primitives + 1; break;
    case RDPT_TRIANGLELIST: *mode = GL_TRIANGLES, *count = primitives * 3; break;
    case RDPT_TRIANGLESTRIP: *mode = GL_TRIANGLE_STRIP, *count = primitives + 2; break;
    case RDPT_TRIANGLEFAN: *mode = GL_TRIANGLE_FAN, *count = primitives + 2; break;
    default: return false;
    }
    return true;
}

template <class T>
void Rebind(T*& slot, T* value)
{
    if (slot == value) return;
    if (value) value->AddRef();
    if (slot) slot->Release();
    slot = value;
}

}  // namespace

// ---- Resource lifetimes ----------------------------------------------------------------------------------------

GlSurface::~GlSurface()
{
    if (owner) {
        owner->level0 = nullptr;
        owner->Release();
    }
    if (kind == SurfaceKind::RenderTarget && !samples && renderbuffer && !deviceOwned &&
        Device()->KeepSpareTarget(this)) {
        renderbuffer = 0;
        bits = nullptr;
    }
    if (renderbuffer && !deviceOwned) {
        Device()->ForgetRenderbuffer(renderbuffer);
        KGL(glDeleteRenderbuffers(1, &renderbuffer));
    }
    MemFree(bits);
}

GlTexture::~GlTexture()
{
    if (name) {
        Device()->ForgetTexture(name);
        KGL(glDeleteTextures(1, &name));
    }
    MemFree(copy);
}

GlVertexBuffer::~GlVertexBuffer()
{
    if (name) {
        if (mapped) {
            Device()->BindArrayBuffer(name);
            KGL(glUnmapBuffer(GL_ARRAY_BUFFER));
        }
        Device()->ForgetBuffer(name);
        KGL(glDeleteBuffers(1, &name));
    }
    MemFree(shadow);
}

// ---- Textures --------------------------------------------------------------------------------------------------

RDResult GlDevice::CreateTexture(uint32_t width, uint32_t height, uint32_t, uint32_t usage, uint32_t format,
                                 uint32_t pool, RDTexture** out)
{
    if (!out) return RDERR_INVALIDCALL;
    *out = nullptr;
    GlFormat gf;
    if (!hasDevice_ || width == 0 || height == 0 || width > uint32_t(maxTextureSize_) ||
        height > uint32_t(maxTextureSize_) || !TextureFormat(format, &gf) || (usage & RDUSAGE_DEPTHSTENCIL))
        return RDERR_INVALIDCALL;
    const bool target = usage & RDUSAGE_RENDERTARGET;
    if (target && (pool != RDPOOL_DEFAULT || gf.depth)) return RDERR_INVALIDCALL;

    auto* texture = new GlTexture;
    texture->width = width;
    texture->height = height;
    texture->format = format;
    texture->usage = usage;
    texture->pool = pool;
    texture->bytesPerPixel = gf.bytesPerPixel;
    texture->uploadFormat = gf.format;
    texture->uploadType = gf.type;
    if (!target && !gf.depth) {
        texture->copy = AllocZeroed(size_t(width) * height * gf.bytesPerPixel);
        if (!texture->copy) {
            texture->Release();
            return RDERR_OUTOFVIDEOMEMORY;
        }
    }
    for (int i = 0; i < 8 && KGL(glGetError()) != GL_NO_ERROR; ++i) {
    }
    KGL(glGenTextures(1, &texture->name));
    BindTextureUnit(0, texture->name);
    dirty_ |= kDirtyTextures;
    KGL(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0));
    if (format == RDFMT_X8R8G8B8) KGL(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE));
    SetUnpackRowLength(0);
    if (gf.bytesPerPixel == 2) KGL(glPixelStorei(GL_UNPACK_ALIGNMENT, 2));
    KGL(glTexImage2D(GL_TEXTURE_2D, 0, gf.internal, GLsizei(width), GLsizei(height), 0, gf.format, gf.type,
                     texture->copy));
    if (gf.bytesPerPixel == 2) KGL(glPixelStorei(GL_UNPACK_ALIGNMENT, 4));
    if (KGL(glGetError()) != GL_NO_ERROR) {
        texture->Release();
        return RDERR_OUTOFVIDEOMEMORY;
    }
    *out = texture;
    return RD_OK;
}

RDResult GlDevice::LockRect(RDTexture* texture, uint32_t level, RDLockedRect* out, const RDRect* rect, uint32_t flags)
{
    auto* t = static_cast<GlTexture*>(texture);
    RDRect r;
    if (!t || !out || level != 0 || !t->copy || t->locked || !ResolveRect(rect, t->width, t->height, &r))
        return RDERR_INVALIDCALL;
    const size_t bpp = t->bytesPerPixel;
    out->pitch = int32_t(t->width * bpp);
    out->bits = t->copy + (size_t(r.top) * t->width + size_t(r.left)) * bpp;
    t->locked = true;
    t->readOnlyLock = flags & RDLOCK_READONLY;
    t->dirty = r;
    return RD_OK;
}

RDResult GlDevice::UnlockRect(RDTexture* texture, uint32_t level)
{
    auto* t = static_cast<GlTexture*>(texture);
    if (!t || level != 0 || !t->locked) return RDERR_INVALIDCALL;
    t->locked = false;
    if (!t->readOnlyLock) UploadTextureRect(t, t->dirty);
    return RD_OK;
}

void GlDevice::UploadTextureRect(GlTexture* t, const RDRect& r)
{
    BindTextureUnit(0, t->name);
    dirty_ |= kDirtyTextures;
    SetUnpackRowLength(r.left == 0 && uint32_t(r.right) == t->width ? 0 : GLint(t->width));
    const size_t bpp = t->bytesPerPixel;
    if (bpp == 2) KGL(glPixelStorei(GL_UNPACK_ALIGNMENT, 2));
    KGL(glTexSubImage2D(GL_TEXTURE_2D, 0, r.left, r.top, r.right - r.left, r.bottom - r.top, t->uploadFormat,
                        t->uploadType, t->copy + (size_t(r.top) * t->width + size_t(r.left)) * bpp));
    if (bpp == 2) KGL(glPixelStorei(GL_UNPACK_ALIGNMENT, 4));
}

RDResult GlDevice::GetSurfaceLevel(RDTexture* texture, uint32_t level, RDSurface** out)
{
    auto* t = static_cast<GlTexture*>(texture);
    if (!out) return RDERR_INVALIDCALL;
    *out = nullptr;
    if (!t || level != 0) return RDERR_INVALIDCALL;
    if (t->level0) {
        t->level0->AddRef();
    } else {
        auto* s = new GlSurface;
        s->kind = SurfaceKind::TextureLevel;
        s->texture = t->name;
        s->owner = t;
        t->AddRef();
        s->width = t->width;
        s->height = t->height;
        s->format = t->format;
        s->usage = t->usage;
        s->pool = t->pool;
        t->level0 = s;
    }
    *out = t->level0;
    return RD_OK;
}

RDResult GlDevice::SetTexture(uint32_t stage, RDTexture* texture)
{
    if (!hasDevice_ || stage >= kStages) return RDERR_INVALIDCALL;
    auto* t = static_cast<GlTexture*>(texture);
    if (textures_[stage] == t) return RD_OK;
    if (stage == 0 && !textures_[0] != !t) BumpGroup(kUGStage);
    Rebind(textures_[stage], t);
    dirty_ |= kDirtyTextures;
    return RD_OK;
}

// ---- Surfaces --------------------------------------------------------------------------------------------------

RDResult GlDevice::CreateDepthStencilSurface(uint32_t width, uint32_t height, uint32_t format, uint32_t samples,
                                             RDSurface** out)
{
    if (!out) return RDERR_INVALIDCALL;
    *out = nullptr;
    if (!hasDevice_ || width == 0 || height == 0 || width > uint32_t(maxRenderbufferSize_) ||
        height > uint32_t(maxRenderbufferSize_) || (format != RDFMT_D24S8 && format != RDFMT_D16) ||
        !(samples == 0 || samples == 2 || samples == 4 || samples == 8 || samples == 16) ||
        samples > uint32_t(maxSamples_))
        return RDERR_INVALIDCALL;
    for (int i = 0; i < 8 && KGL(glGetError()) != GL_NO_ERROR; ++i) {
    }
    auto* s = new GlSurface;
    s->kind = SurfaceKind::DepthStencil;
    s->width = width;
    s->height = height;
    s->format = format;
    s->usage = RDUSAGE_DEPTHSTENCIL;
    s->pool = RDPOOL_DEFAULT;
    s->samples = samples;
    KGL(glGenRenderbuffers(1, &s->renderbuffer));
    KGL(glBindRenderbuffer(GL_RENDERBUFFER, s->renderbuffer));
    KGL(glRenderbufferStorageMultisample(GL_RENDERBUFFER, GLsizei(samples),
                                         format == RDFMT_D24S8 ? GL_DEPTH24_STENCIL8 : GL_DEPTH_COMPONENT16,
                                         GLsizei(width), GLsizei(height)));
    KGL(glBindRenderbuffer(GL_RENDERBUFFER, 0));
    if (KGL(glGetError()) != GL_NO_ERROR) {
        s->Release();
        return RDERR_OUTOFVIDEOMEMORY;
    }
    *out = s;
    return RD_OK;
}

RDResult GlDevice::CreateRenderTarget(uint32_t width, uint32_t height, uint32_t format, uint32_t samples,
                                      RDSurface** out)
{
    if (!out) return RDERR_INVALIDCALL;
    *out = nullptr;
    GlFormat gf;
    if (!hasDevice_ || width == 0 || height == 0 || width > uint32_t(maxRenderbufferSize_) ||
        height > uint32_t(maxRenderbufferSize_) || !TextureFormat(format, &gf) || gf.depth ||
        !(samples == 0 || samples == 2 || samples == 4 || samples == 8 || samples == 16) ||
        samples > uint32_t(maxSamples_))
        return RDERR_INVALIDCALL;
    for (int i = 0; i < 8 && KGL(glGetError()) != GL_NO_ERROR; ++i) {
    }
    auto* s = new GlSurface;
    s->kind = SurfaceKind::RenderTarget;
    s->width = width;
    s->height = height;
    s->format = format;
    s->usage = RDUSAGE_RENDERTARGET;
    s->pool = RDPOOL_DEFAULT;
    s->samples = samples;
    if (!samples && spareTarget_.renderbuffer && spareTarget_.width == width && spareTarget_.height == height &&
        spareTarget_.format == format) {
        s->renderbuffer = spareTarget_.renderbuffer;
        s->bits = spareTarget_.bits;
        spareTarget_ = SpareTarget();
        *out = s;
        return RD_OK;
    }
    KGL(glGenRenderbuffers(1, &s->renderbuffer));
    KGL(glBindRenderbuffer(GL_RENDERBUFFER, s->renderbuffer));
    KGL(glRenderbufferStorageMultisample(GL_RENDERBUFFER, GLsizei(samples), GLenum(gf.internal), GLsizei(width),
                                         GLsizei(height)));
    KGL(glBindRenderbuffer(GL_RENDERBUFFER, 0));
    if (KGL(glGetError()) != GL_NO_ERROR) {
        s->Release();
        return RDERR_OUTOFVIDEOMEMORY;
    }
    *out = s;
    return RD_OK;
}

RDResult GlDevice::CreateOffscreenPlainSurface(uint32_t width, uint32_t height, uint32_t format, uint32_t pool,
                                               RDSurface** out)
{
    if (!out) return RDERR_INVALIDCALL;
    *out = nullptr;
    if (!hasDevice_ || width == 0 || height == 0 || !ColourFormat(format) || pool != RDPOOL_SYSTEMMEM)
        return RDERR_INVALIDCALL;
    auto* s = new GlSurface;
    s->kind = SurfaceKind::SystemMem;
    s->width = width;
    s->height = height;
    s->format = format;
    s->pool = pool;
    s->bits = AllocZeroed(size_t(width) * height * 4);
    if (!s->bits) {
        s->Release();
        return RDERR_OUTOFVIDEOMEMORY;
    }
    *out = s;
    return RD_OK;
}

RDResult GlDevice::GetBackBuffer(RDSurface** out)
{
    if (!out) return RDERR_INVALIDCALL;
    *out = nullptr;
    if (!hasDevice_) return RDERR_INVALIDCALL;
    backBuffer_->AddRef();
    *out = backBuffer_;
    return RD_OK;
}

RDResult GlDevice::GetRenderTarget(uint32_t index, RDSurface** out)
{
    if (!out) return RDERR_INVALIDCALL;
    *out = nullptr;
    if (!hasDevice_ || index >= kTargets) return RDERR_INVALIDCALL;
    if (!targets_[index]) return RDERR_NOTFOUND;
    targets_[index]->AddRef();
    *out = targets_[index];
    return RD_OK;
}

RDResult GlDevice::SetRenderTarget(uint32_t index, RDSurface* surface)
{
    auto* s = static_cast<GlSurface*>(surface);
    if (!hasDevice_ || index >= kTargets || (index == 0 && !s)) return RDERR_INVALIDCALL;
    if (s && !(s->kind == SurfaceKind::BackBuffer || s->kind == SurfaceKind::RenderTarget ||
               (s->kind == SurfaceKind::TextureLevel && (s->usage & RDUSAGE_RENDERTARGET))))
        return RDERR_INVALIDCALL;
    if (s && Lockable(s)) SyncTarget(s);
    Rebind(targets_[index], s);
    dirty_ |= kDirtyFramebuffer;
    if (index == 0) {
        // A new first target brings a viewport over all of it.
        viewport_ = {0, 0, s->width, s->height, 0.0f, 1.0f};
        dirty_ |= kDirtyViewport;
        transformDirty_ = true;
    }
    return RD_OK;
}

RDResult GlDevice::GetDepthStencilSurface(RDSurface** out)
{
    if (!out) return RDERR_INVALIDCALL;
    *out = nullptr;
    if (!hasDevice_) return RDERR_INVALIDCALL;
    if (!depthSurface_) return RDERR_NOTFOUND;
    depthSurface_->AddRef();
    *out = depthSurface_;
    return RD_OK;
}

RDResult GlDevice::SetDepthStencilSurface(RDSurface* surface)
{
    auto* s = static_cast<GlSurface*>(surface);
    if (!hasDevice_ || (s && s->kind != SurfaceKind::DepthStencil)) return RDERR_INVALIDCALL;
    Rebind(depthSurface_, s);
    dirty_ |= kDirtyFramebuffer | kDirtyDepth | kDirtyStencil;
    return RD_OK;
}

bool GlDevice::BindReadSurface(GlSurface* s)
{
    if (Lockable(s)) SyncTarget(s);
    if (s->kind == SurfaceKind::BackBuffer) {
        if (!bb_.samples) {
            BindReadFramebuffer(bb_.fbo);
            return true;
        }
        const GLint w = GLint(bb_.width), h = GLint(bb_.height);
        SetScissor(false, 0, 0, 0, 0);
        BindReadFramebuffer(bb_.fbo);
        BindDrawFramebuffer(bb_.resolveFbo);
        KGL(glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST));
        dirty_ |= kDirtyFramebuffer;
        BindReadFramebuffer(bb_.resolveFbo);
        return true;
    }
    if ((s->kind == SurfaceKind::TextureLevel && s->texture) ||
        (s->kind == SurfaceKind::RenderTarget && s->renderbuffer)) {
        BindReadFramebuffer(readScratch_.name);
        Attach(&readScratch_, GL_READ_FRAMEBUFFER, 0, s);
        return true;
    }
    return false;
}

RDResult GlDevice::StretchRect(RDSurface* source, const RDRect* sourceRect, RDSurface* dest, const RDRect* destRect,
                               uint32_t filter)
{
    auto* src = static_cast<GlSurface*>(source);
    auto* dst = static_cast<GlSurface*>(dest);
    RDRect sr, dr;
    if (!hasDevice_ || !src || !dst || src == dst || !ResolveRect(sourceRect, src->width, src->height, &sr) ||
        !ResolveRect(destRect, dst->width, dst->height, &dr))
        return RDERR_INVALIDCALL;
    // Destinations: the single-sampled back buffer, a texture level, or a render target (a multisampled one
    // only unscaled: each sample takes the source pixel).
    const bool scaled = sr.right - sr.left != dr.right - dr.left || sr.bottom - sr.top != dr.bottom - dr.top;
    GlFramebuffer* drawTo = nullptr;
    if ((dst->kind == SurfaceKind::TextureLevel && dst->texture) ||
        (dst->kind == SurfaceKind::RenderTarget && dst->renderbuffer && !dst->locked && (!dst->samples || !scaled))) {
        drawTo = &drawScratch_;
    } else if (!(dst->kind == SurfaceKind::BackBuffer && !bb_.samples)) {
        return RDERR_INVALIDCALL;
    }
    if (Lockable(dst)) {
        if (!scaled && CaptureInto(src, sr, dst, dr)) return RD_OK;
        SyncTarget(dst);
    }
    if (!BindReadSurface(src)) return RDERR_INVALIDCALL;
    SetScissor(false, 0, 0, 0, 0);
    if (drawTo) {
        BindDrawFramebuffer(drawTo->name);
        Attach(drawTo, GL_DRAW_FRAMEBUFFER, 0, dst);
    } else {
        BindDrawFramebuffer(bb_.fbo);
    }
    dirty_ |= kDirtyFramebuffer;
    SetColourMask(15);  // some drivers apply it to blits: the whole colour is copied
    dirty_ |= kDirtyColourMask;
    KGL(glBlitFramebuffer(sr.left, sr.top, sr.right, sr.bottom, dr.left, dr.top, dr.right, dr.bottom,
                          GL_COLOR_BUFFER_BIT, scaled && filter == RDTEXF_LINEAR ? GL_LINEAR : GL_NEAREST));
    return RD_OK;
}

RDResult GlDevice::GetRenderTargetData(RDSurface* target, RDSurface* dest)
{
    auto* src = static_cast<GlSurface*>(target);
    auto* dst = static_cast<GlSurface*>(dest);
    if (!hasDevice_ || !src || !dst || dst->kind != SurfaceKind::SystemMem || dst->locked ||
        dst->width != src->width || dst->height != src->height)
        return RDERR_INVALIDCALL;
    if (!BindReadSurface(src)) return RDERR_INVALIDCALL;
    // Rows come out top row first: GL rows are the device's rows.
    KGL(glReadPixels(0, 0, GLsizei(src->width), GLsizei(src->height), GL_BGRA, GL_UNSIGNED_BYTE, dst->bits));
    return RD_OK;
}

RDResult GlDevice::LockSurface(RDSurface* surface, RDLockedRect* out, const RDRect* rect, uint32_t flags)
{
    auto* s = static_cast<GlSurface*>(surface);
    if (!s || !out) return RDERR_INVALIDCALL;
    if (s->kind == SurfaceKind::TextureLevel && s->owner && s->owner->copy)
        return LockRect(s->owner, 0, out, rect, flags);
    if (s->kind == SurfaceKind::RenderTarget) return LockTarget(s, out, rect, flags);
    RDRect r;
    if (s->kind != SurfaceKind::SystemMem || s->locked || !ResolveRect(rect, s->width, s->height, &r))
        return RDERR_INVALIDCALL;
    out->pitch = int32_t(s->width * 4);
    out->bits = s->bits + size_t(r.top) * s->width * 4 + size_t(r.left) * 4;
    s->locked = true;
    return RD_OK;
}

RDResult GlDevice::UnlockSurface(RDSurface* surface)
{
    auto* s = static_cast<GlSurface*>(surface);
    if (!s) return RDERR_INVALIDCALL;
    if (s->kind == SurfaceKind::TextureLevel && s->owner && s->owner->copy) return UnlockRect(s->owner, 0);
    if (s->kind == SurfaceKind::RenderTarget) return UnlockTarget(s);
    if (s->kind != SurfaceKind::SystemMem || !s->locked) return RDERR_INVALIDCALL;
    s->locked = false;
    return RD_OK;
}

RDResult GlDevice::LockTarget(GlSurface* s, RDLockedRect* out, const RDRect* rect, uint32_t flags)
{
    RDRect r;
    if (!hasDevice_ || !Lockable(s) || s->locked || !ResolveRect(rect, s->width, s->height, &r))
        return RDERR_INVALIDCALL;
    // Only the locked rectangle is handed out, and it is read (or written) first: no clearing needed.
    if (!s->bits && !(s->bits = static_cast<uint8_t*>(MemAlloc(size_t(s->width) * s->height * 4))))
        return RDERR_OUTOFVIDEOMEMORY;
    uint8_t* first = s->bits + (size_t(r.top) * s->width + size_t(r.left)) * 4;
    if (s->holder == kHeldOnDevice && !(flags & RDLOCK_DISCARD)) {
        if (!BindReadSurface(s)) return RDERR_INVALIDCALL;
        ReadBgra(r, first, s->width);
    }
    out->pitch = int32_t(s->width * 4);
    out->bits = first;
    s->locked = true;
    s->lockRect = r;
    s->lockWrites = !(flags & RDLOCK_READONLY);
    return RD_OK;
}

RDResult GlDevice::UnlockTarget(GlSurface* s)
{
    if (!s->locked) return RDERR_INVALIDCALL;
    s->locked = false;
    if (!s->lockWrites) return RD_OK;
    // Written pixels stay in bits until the GPU needs them, unless the renderbuffer holds the rest.
    if (s->holder == kHeldOnDevice)
        UploadTargetRect(s, s->lockRect);
    else
        s->holder = kHeldInBits;
    return RD_OK;
}

void GlDevice::SyncTarget(GlSurface* s)
{
    if (s->holder == kHeldInBits) UploadTargetRect(s, {0, 0, int32_t(s->width), int32_t(s->height)});
    s->holder = kHeldOnDevice;
}

void GlDevice::UploadTargetRect(GlSurface* s, const RDRect& r)
{
    // A renderbuffer takes no uploads: the rectangle goes into a texture of its own and is blitted across.
    const GLsizei w = r.right - r.left, h = r.bottom - r.top;
    auto* staging = new GlSurface;
    staging->kind = SurfaceKind::TextureLevel;
    staging->width = uint32_t(w);
    staging->height = uint32_t(h);
    KGL(glGenTextures(1, &staging->texture));
    BindTextureUnit(0, staging->texture);
    dirty_ |= kDirtyTextures;
    KGL(glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0));
    SetUnpackRowLength(GLint(s->width));
    KGL(glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                     s->bits + (size_t(r.top) * s->width + size_t(r.left)) * 4));
    BindReadFramebuffer(readScratch_.name);
    Attach(&readScratch_, GL_READ_FRAMEBUFFER, 0, staging);
    BindDrawFramebuffer(drawScratch_.name);
    Attach(&drawScratch_, GL_DRAW_FRAMEBUFFER, 0, s);
    SetScissor(false, 0, 0, 0, 0);
    SetColourMask(15);
    dirty_ |= kDirtyFramebuffer | kDirtyColourMask;
    KGL(glBlitFramebuffer(0, 0, w, h, r.left, r.top, r.right, r.bottom, GL_COLOR_BUFFER_BIT, GL_NEAREST));
    const GLuint name = staging->texture;
    ForgetTexture(name);
    KGL(glDeleteTextures(1, &name));
    staging->Release();
}

bool GlDevice::CaptureInto(GlSurface* src, const RDRect& sr, GlSurface* dst, const RDRect& dr)
{
    // A renderbuffer holding pixels outside the rectangle keeps the copy on the GPU; so does a bound target,
    // whose drawing goes to the renderbuffer, and a multisampled source, which only a blit resolves.
    const bool whole = dr.left == 0 && dr.top == 0 && uint32_t(dr.right) == dst->width &&
                       uint32_t(dr.bottom) == dst->height;
    if (dst->locked || (dst->holder == kHeldOnDevice && !whole) ||
        (src->kind == SurfaceKind::RenderTarget && src->samples))
        return false;
    for (const GlSurface* bound : targets_)
        if (bound == dst) return false;
    if (!dst->bits && !(dst->bits = static_cast<uint8_t*>(MemAlloc(size_t(dst->width) * dst->height * 4))))
        return false;
    if (!BindReadSurface(src)) return false;
    ReadBgra(sr, dst->bits + (size_t(dr.top) * dst->width + size_t(dr.left)) * 4, dst->width);
    dst->holder = kHeldInBits;
    return true;
}

void GlDevice::ReadBgra(const RDRect& r, uint8_t* out, uint32_t rowLength)
{
    if (readsRedFirst_ < 0) {
        GLint format = 0, type = 0;
        KGL(glGetIntegerv(GL_IMPLEMENTATION_COLOR_READ_FORMAT, &format));
        KGL(glGetIntegerv(GL_IMPLEMENTATION_COLOR_READ_TYPE, &type));
        readsRedFirst_ = format == GL_RGBA && type == GL_UNSIGNED_BYTE ? 1 : 0;
    }
    const GLsizei w = r.right - r.left, h = r.bottom - r.top;
    const bool narrower = uint32_t(w) != rowLength;
    if (narrower) KGL(glPixelStorei(GL_PACK_ROW_LENGTH, GLint(rowLength)));
    if (!readsRedFirst_) {
        KGL(glReadPixels(r.left, r.top, w, h, GL_BGRA, GL_UNSIGNED_BYTE, out));
    } else {
        // Bands small enough to swap while they are still in the cache; four pixels a step in vector registers.
        using Pixels4 = uint32_t __attribute__((vector_size(16)));
        const GLsizei band = std::max<GLsizei>(1, GLsizei(131072 / (rowLength * 4)));
        for (GLsizei top = 0; top < h; top += band) {
            const GLsizei rows = std::min(band, h - top);
            uint8_t* first = out + size_t(top) * rowLength * 4;
            KGL(glReadPixels(r.left, r.top + top, w, rows, GL_RGBA, GL_UNSIGNED_BYTE, first));
            for (GLsizei y = 0; y < rows; ++y) {
                uint8_t* row = first + size_t(y) * rowLength * 4;
                GLsizei x = 0;
                for (; x + 4 <= w; x += 4) {
                    Pixels4 v;
                    std::memcpy(&v, row + size_t(x) * 4, 16);
                    v = (v & 0xFF00FF00u) | (v & 0xFFu) << 16 | (v >> 16 & 0xFFu);
                    std::memcpy(row + size_t(x) * 4, &v, 16);
                }
                for (; x < w; ++x) {
                    uint32_t v;
                    std::memcpy(&v, row + size_t(x) * 4, 4);
                    v = (v & 0xFF00FF00u) | (v & 0xFFu) << 16 | (v >> 16 & 0xFFu);
                    std::memcpy(row + size_t(x) * 4, &v, 4);
                }
            }
        }
    }
    if (narrower) KGL(glPixelStorei(GL_PACK_ROW_LENGTH, 0));
}

bool GlDevice::KeepSpareTarget(GlSurface* s)
{
    if (!hasDevice_) return false;
    FreeSpareTarget();
    spareTarget_ = {s->renderbuffer, s->bits, s->width, s->height, s->format};
    return true;
}

void GlDevice::FreeSpareTarget()
{
    if (spareTarget_.renderbuffer) {
        ForgetRenderbuffer(spareTarget_.renderbuffer);
        KGL(glDeleteRenderbuffers(1, &spareTarget_.renderbuffer));
    }
    MemFree(spareTarget_.bits);
    spareTarget_ = SpareTarget();
}

// ---- Vertex buffers and drawing -----------------------------------------------------------------------------------

RDResult GlDevice::CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                                      RDVertexBuffer** out)
{
    if (!out) return RDERR_INVALIDCALL;
    *out = nullptr;
    if (!hasDevice_ || length == 0) return RDERR_INVALIDCALL;
    for (int i = 0; i < 8 && KGL(glGetError()) != GL_NO_ERROR; ++i) {
    }
    auto* vb = new GlVertexBuffer;
    vb->length = length;
    vb->usage = usage;
    vb->fvf = fvf;
    vb->pool = pool;
    KGL(glGenBuffers(1, &vb->name));
    BindArrayBuffer(vb->name);
    KGL(glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(length), nullptr,
                     usage & RDUSAGE_DYNAMIC ? GL_STREAM_DRAW : GL_STATIC_DRAW));
    if (KGL(glGetError()) != GL_NO_ERROR) {
        vb->Release();
        return RDERR_OUTOFVIDEOMEMORY;
    }
    *out = vb;
    return RD_OK;
}

RDResult GlDevice::LockVertexBuffer(RDVertexBuffer* buffer, uint32_t offset, uint32_t size, void** out,
                                    uint32_t flags)
{
    auto* vb = static_cast<GlVertexBuffer*>(buffer);
    if (!out) return RDERR_INVALIDCALL;
    *out = nullptr;
    if (!vb || vb->locked || offset > vb->length) return RDERR_INVALIDCALL;
    if (size == 0) size = vb->length - offset;
    if (size == 0 || size > vb->length - offset) return RDERR_INVALIDCALL;
    if (mapVertexLocks) {
        GLbitfield access = GL_MAP_WRITE_BIT;
        if (flags & RDLOCK_READONLY)
            access = GL_MAP_READ_BIT;
        else if (flags & RDLOCK_DISCARD)
            access |= GL_MAP_INVALIDATE_BUFFER_BIT;
        else if (flags & RDLOCK_NOOVERWRITE)
            access |= GL_MAP_UNSYNCHRONIZED_BIT;
        else
            access |= GL_MAP_READ_BIT;
        BindArrayBuffer(vb->name);
        void* p = KGL(glMapBufferRange(GL_ARRAY_BUFFER, GLintptr(offset), GLsizeiptr(size), access));
        if (!p) return RDERR_INVALIDCALL;
        vb->mapped = true;
        *out = p;
    } else {
        if (!vb->shadow && !(vb->shadow = AllocZeroed(vb->length))) return RDERR_OUTOFVIDEOMEMORY;
        *out = vb->shadow + offset;
    }
    vb->locked = true;
    vb->lockOffset = offset;
    vb->lockSize = size;
    vb->lockFlags = flags;
    return RD_OK;
}

RDResult GlDevice::UnlockVertexBuffer(RDVertexBuffer* buffer)
{
    auto* vb = static_cast<GlVertexBuffer*>(buffer);
    if (!vb || !vb->locked) return RDERR_INVALIDCALL;
    vb->locked = false;
    BindArrayBuffer(vb->name);
    if (vb->mapped) {
        vb->mapped = false;
        return KGL(glUnmapBuffer(GL_ARRAY_BUFFER)) ? RD_OK : RDERR_INVALIDCALL;
    }
    if (vb->lockFlags & RDLOCK_READONLY) return RD_OK;
    // A discarding lock gives GL fresh storage, so the draws still queued keep the old.
    if (vb->lockFlags & RDLOCK_DISCARD)
        KGL(glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vb->length), nullptr,
                         vb->usage & RDUSAGE_DYNAMIC ? GL_STREAM_DRAW : GL_STATIC_DRAW));
    KGL(glBufferSubData(GL_ARRAY_BUFFER, GLintptr(vb->lockOffset), GLsizeiptr(vb->lockSize),
                        vb->shadow + vb->lockOffset));
    return RD_OK;
}

RDResult GlDevice::SetStreamSource(uint32_t stream, RDVertexBuffer* buffer, uint32_t offset, uint32_t stride)
{
    if (!hasDevice_ || stream != 0) return RDERR_INVALIDCALL;
    Rebind(stream_, static_cast<GlVertexBuffer*>(buffer));
    streamByteOffset_ = offset;
    streamStride_ = stride;
    return RD_OK;
}

RDResult GlDevice::SetFVF(uint32_t fvf)
{
    if (!hasDevice_) return RDERR_INVALIDCALL;
    fvf_ = fvf;
    if (declaration_) SetVertexDeclaration(nullptr);
    return RD_OK;
}

bool GlDevice::SetupAttributes(GLuint buffer, uintptr_t offset, uint32_t stride, uint32_t fvf)
{
    if (shader_) return SetupShaderAttributes(buffer, offset, stride, fvf);
    if (gl_.attribBuffer == buffer && gl_.attribOffset == offset && gl_.attribStride == stride && gl_.attribFvf == fvf)
        return true;
    FvfLayout layout;
    if (!DecodeFvf(fvf, &layout)) return false;
    BindArrayBuffer(buffer);
    auto at = [offset](int32_t part) { return reinterpret_cast<const void*>(offset + uintptr_t(part)); };
    uint32_t enabled = 1u;
    KGL(glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, GLsizei(stride), at(0)));
    if (layout.normal >= 0) {
        KGL(glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, GLsizei(stride), at(layout.normal)));
        enabled |= 2u;
    }
    if (layout.diffuse >= 0) {
        // The colour is stored B, G, R, A: GL reads that order as is.
        KGL(glVertexAttribPointer(2, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, GLsizei(stride), at(layout.diffuse)));
        enabled |= 4u;
    }
    if (layout.texcoord >= 0) {
        KGL(glVertexAttribPointer(3, layout.texcoordSize, GL_FLOAT, GL_FALSE, GLsizei(stride), at(layout.texcoord)));
        enabled |= 8u;
    }
    for (GLuint i = 0; i < 4; ++i) {
        const uint32_t bit = 1u << i;
        if ((enabled & bit) == (gl_.attribEnabled & bit)) continue;
        (enabled & bit) ? KGL(glEnableVertexAttribArray(i)) : KGL(glDisableVertexAttribArray(i));
    }
    gl_.attribEnabled = enabled;
    gl_.attribBuffer = buffer;
    gl_.attribOffset = offset;
    gl_.attribStride = stride;
    gl_.attribFvf = fvf;
    return true;
}

RDResult GlDevice::DrawArrays(uint32_t type, uint32_t first, uint32_t primitiveCount, uint32_t* vertexCount)
{
    GLenum mode;
    if (!VertexCount(type, primitiveCount, &mode, vertexCount)) return RDERR_INVALIDCALL;
    KGL(glDrawArrays(mode, GLint(first), GLsizei(*vertexCount)));
    ++frameDraws_;
    return RD_OK;
}

RDResult GlDevice::DrawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount)
{
    if (declaration_) return DrawDeclared(type, startVertex, primitiveCount, nullptr, 0);
    if (!hasDevice_ || !stream_ || stream_->locked || !fvf_) return RDERR_INVALIDCALL;
    FvfLayout layout;
    GLenum mode;
    uint32_t count;
    if (!DecodeFvf(fvf_, &layout) || !VertexCount(type, primitiveCount, &mode, &count)) return RDERR_INVALIDCALL;
    const uint32_t stride = streamStride_ ? streamStride_ : layout.size;
    if (uint64_t(streamByteOffset_) + (uint64_t(startVertex) + count) * stride > stream_->length)
        return RDERR_INVALIDCALL;
    if (!ApplyDrawState(fvf_) || !SetupAttributes(stream_->name, streamByteOffset_, stride, fvf_))
        return RDERR_INVALIDCALL;
    return DrawArrays(type, startVertex, primitiveCount, &count);
}

RDResult GlDevice::DrawPrimitiveUP(uint32_t type, uint32_t primitiveCount, const void* vertices, uint32_t stride)
{
    if (declaration_) return DrawDeclared(type, 0, primitiveCount, vertices, stride);
    FvfLayout layout;
    GLenum mode;
    uint32_t count;
    if (!hasDevice_ || !vertices || stride == 0 || !DecodeFvf(fvf_, &layout) ||
        !VertexCount(type, primitiveCount, &mode, &count))
        return RDERR_INVALIDCALL;
    const uint32_t bytes = count * stride;
    BindArrayBuffer(streamBuffer_);
    // A ring in one buffer: when the next draw does not fit, GL gets fresh storage and the ring starts over.
    uint32_t offset = (streamOffset_ + stride - 1) / stride * stride;
    if (bytes > streamCapacity_) {
        streamCapacity_ = std::max<uint32_t>(4u << 20, bytes);
        offset = streamCapacity_;  // forces the fresh storage below
    }
    if (uint64_t(offset) + bytes > streamCapacity_) {
        KGL(glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(streamCapacity_), nullptr, GL_STREAM_DRAW));
        offset = 0;
    }
    KGL(glBufferSubData(GL_ARRAY_BUFFER, GLintptr(offset), GLsizeiptr(bytes), vertices));
    streamOffset_ = offset + bytes;
    if (!ApplyDrawState(fvf_) || !SetupAttributes(streamBuffer_, 0, stride, fvf_)) return RDERR_INVALIDCALL;
    const RDResult result = DrawArrays(type, offset / stride, primitiveCount, &count);
    // As the device this stands in for does, drawing from memory leaves no stream source set.
    Rebind(stream_, static_cast<GlVertexBuffer*>(nullptr));
    return result;
}

}  // namespace gldev
