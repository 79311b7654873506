// The OpenGL device: context and adapters, creation and reset, frames, clears, viewport, render states and the
// draw-time application of state. Resources (textures, surfaces, vertex buffers) are in gl_resources.cpp, the
// fixed-function program in gl_program.cpp.
//
// Conventions kept here so that drawing matches the device the engine was written for: every target renders with
// clip-space y negated, so GL rows are the engine's rows (row 0 on top) and nothing is flipped on upload, sampling
// or read-back; the pixel centre sits half a pixel further; clip z runs 0..w; the window gets the back buffer
// flipped at present.
#include "platform/gl_internal.h"

#include "core/console.h"
#include "platform/display_platform.h"
#include "platform/platform.h"

#include <SDL.h>
#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace gldev {

uint64_t g_calls = 0;

namespace {

float FloatOf(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

uint32_t BitsOf(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

void Identity(RDMatrix* m)
{
    std::memset(m, 0, sizeof *m);
    for (int i = 0; i < 4; ++i) m->m[i][i] = 1.0f;
}

// Row-vector product a · b.
RDMatrix Multiply(const RDMatrix& a, const RDMatrix& b)
{
    RDMatrix out;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += double(a.m[i][k]) * double(b.m[k][j]);
            out.m[i][j] = float(sum);
        }
    return out;
}

GLenum CompareFunc(uint32_t func)
{
    static const GLenum kFuncs[9] = {GL_ALWAYS, GL_NEVER, GL_LESS, GL_EQUAL, GL_LEQUAL,
                                     GL_GREATER, GL_NOTEQUAL, GL_GEQUAL, GL_ALWAYS};
    return func <= 8 ? kFuncs[func] : GL_ALWAYS;
}

GLenum StencilOp(uint32_t op)
{
    static const GLenum kOps[9] = {GL_KEEP, GL_KEEP, GL_ZERO, GL_REPLACE, GL_INCR,
                                   GL_DECR, GL_INVERT, GL_INCR_WRAP, GL_DECR_WRAP};
    return op <= 8 ? kOps[op] : GL_KEEP;
}

GLenum BlendFactor(uint32_t factor)
{
    static const GLenum kFactors[18] = {
        GL_ZERO, GL_ZERO, GL_ONE, GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR, GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA,
        GL_DST_ALPHA, GL_ONE_MINUS_DST_ALPHA, GL_DST_COLOR, GL_ONE_MINUS_DST_COLOR, GL_SRC_ALPHA_SATURATE,
        GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_CONSTANT_COLOR, GL_ONE_MINUS_CONSTANT_COLOR,
        // The second-source factors have no second source here: they act as the first source's colour.
        GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR};
    return factor < 18 ? kFactors[factor] : GL_ZERO;
}

GLenum BlendEquation(uint32_t op)
{
    switch (op) {
    case 2: return GL_FUNC_SUBTRACT;
    case 3: return GL_FUNC_REVERSE_SUBTRACT;
    case 4: return GL_MIN;
    case 5: return GL_MAX;
    default: return GL_FUNC_ADD;
    }
}

bool ValidSamples(uint32_t samples) { return samples == 0 || samples == 2 || samples == 4 || samples == 8 || samples == 16; }

uint32_t FormatOfBits(int32_t bits) { return bits == 32 ? RDFMT_X8R8G8B8 : bits == 16 ? RDFMT_R5G6B5 : RDFMT_UNKNOWN; }

bool ModeMatches(const PlatformDisplayMode& mode, uint32_t format)
{
    const uint32_t own = FormatOfBits(mode.bitsPerPixel);
    if (own == RDFMT_UNKNOWN) return false;
    if (format == RDFMT_UNKNOWN) return true;
    return own == (format == RDFMT_A8R8G8B8 ? RDFMT_X8R8G8B8 : format);
}

void ToDisplayMode(const PlatformDisplayMode& mode, RDDisplayMode* out)
{
    out->width = uint32_t(std::max(mode.width, 0));
    out->height = uint32_t(std::max(mode.height, 0));
    out->refreshRate = uint32_t(std::max(mode.refreshRate, 0));
    out->format = FormatOfBits(mode.bitsPerPixel);
}

// A window the desktop already has that a context can live on (the main window made before the first query).
SDL_Window* FindOpenGLWindow(SDL_Window* except)
{
    for (Uint32 id = 1; id < 256; ++id) {
        SDL_Window* window = SDL_GetWindowFromID(id);
        if (window && window != except && (SDL_GetWindowFlags(window) & SDL_WINDOW_OPENGL)) return window;
    }
    return nullptr;
}

void CopyText(char* out, size_t size, const GLubyte* text)
{
    std::snprintf(out, size, "%s", text ? reinterpret_cast<const char*>(text) : "");
}

}  // namespace

GlDevice* Device()
{
    static GlDevice device;
    return &device;
}

namespace {

// The driver's libraries, once loaded, stay for the life of the process: video can start again in the same
// process without loading them anew, and what they keep until exit stays attributable to them.
int GL_KeepLoaded(dl_phdr_info* info, size_t, void*)
{
    const char* name = info->dlpi_name;
    if (name && (std::strstr(name, "_dri.so") || std::strstr(name, "libgallium") || std::strstr(name, "mesa") ||
                 std::strstr(name, "libLLVM")))
        dlopen(name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    return 0;
}

}  // namespace

// ---- Context and adapters -------------------------------------------------------------------------------------

bool GlDevice::EnsureContext(void* window)
{
    if (!Platform_StartVideo()) return false;
    SDL_Window* target = static_cast<SDL_Window*>(window);
    if (context_) {
        if (!target || SDL_GL_GetCurrentWindow() == target) return true;
        if (SDL_GL_MakeCurrent(target, context_) == 0) return true;
        // The window was made with another pixel format than the context: make the context again on it. The
        // device objects are made after this, so nothing of the old context is lost.
        DebugConsole->Output("OpenGL: the context cannot move to the window (%s); making a new one\n", SDL_GetError());
        SDL_GL_MakeCurrent(nullptr, nullptr);
        SDL_GL_DeleteContext(context_);
        context_ = nullptr;
        ResetShadow();
    }
    if (!target) target = FindOpenGLWindow(static_cast<SDL_Window*>(hiddenWindow_));
    GL_SetContextAttributes();
    if (!target) {
        if (!hiddenWindow_)
            hiddenWindow_ = SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        target = static_cast<SDL_Window*>(hiddenWindow_);
        if (!target) {
            DebugConsole->Output("OpenGL: no window for the context: %s\n", SDL_GetError());
            return false;
        }
    }
    context_ = SDL_GL_CreateContext(target);
    if (!context_) {
        DebugConsole->Output("OpenGL: no 3.3 core context: %s\n", SDL_GetError());
        return false;
    }
    GLint major = 0, minor = 0, profile = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    g_calls += 3;
    if (major * 10 + minor < 33 || !(profile & GL_CONTEXT_CORE_PROFILE_BIT)) {
        DebugConsole->Output("OpenGL: version %d.%d is not a 3.3 core context\n", major, minor);
        SDL_GL_DeleteContext(context_);
        context_ = nullptr;
        return false;
    }
    ReadLimits();
    ResetShadow();
    dl_iterate_phdr(GL_KeepLoaded, nullptr);
    return true;
}

void GlDevice::ReadLimits()
{
    CopyText(renderer_, sizeof renderer_, KGL(glGetString(GL_RENDERER)));
    CopyText(vendor_, sizeof vendor_, KGL(glGetString(GL_VENDOR)));
    CopyText(version_, sizeof version_, KGL(glGetString(GL_VERSION)));
    KGL(glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize_));
    KGL(glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxRenderbufferSize_));
    KGL(glGetIntegerv(GL_MAX_SAMPLES, &maxSamples_));
}

void GlDevice::ResetShadow() { gl_ = GlShadow(); }

uint32_t GlDevice::GetAdapterCount()
{
    if (!EnsureContext(nullptr)) return 0;
    const int32_t count = PlatformDisplay_Get()->Count();
    return count > 0 ? uint32_t(count) : 0;
}

bool GlDevice::AdapterValid(uint32_t adapter) { return adapter < GetAdapterCount(); }

RDResult GlDevice::GetAdapterIdentifier(uint32_t adapter, RDAdapterIdentifier* out)
{
    if (!out || !AdapterValid(adapter)) return RDERR_INVALIDCALL;
    std::memset(out, 0, sizeof *out);
    std::snprintf(out->description, sizeof out->description, "%s", renderer_);
    std::snprintf(out->vendor, sizeof out->vendor, "%s", vendor_);
    std::snprintf(out->version, sizeof out->version, "%s", version_);
    if (!PlatformDisplay_Get()->Name(int32_t(adapter), out->deviceName, sizeof out->deviceName))
        out->deviceName[0] = 0;
    return RD_OK;
}

RDResult GlDevice::GetAdapterDisplayMode(uint32_t adapter, RDDisplayMode* out)
{
    PlatformDisplayMode mode;
    if (!out || !AdapterValid(adapter) || !PlatformDisplay_Get()->CurrentMode(int32_t(adapter), &mode))
        return RDERR_INVALIDCALL;
    ToDisplayMode(mode, out);
    return RD_OK;
}

uint32_t GlDevice::GetAdapterModeCount(uint32_t adapter, uint32_t format)
{
    if (!AdapterValid(adapter)) return 0;
    DisplaySource* displays = PlatformDisplay_Get();
    const int32_t count = displays->ModeCount(int32_t(adapter));
    uint32_t matching = 0;
    PlatformDisplayMode mode;
    for (int32_t i = 0; i < count; ++i)
        if (displays->Mode(int32_t(adapter), i, &mode) && ModeMatches(mode, format)) ++matching;
    return matching;
}

RDResult GlDevice::EnumAdapterModes(uint32_t adapter, uint32_t format, uint32_t index, RDDisplayMode* out)
{
    if (!out || !AdapterValid(adapter)) return RDERR_INVALIDCALL;
    DisplaySource* displays = PlatformDisplay_Get();
    const int32_t count = displays->ModeCount(int32_t(adapter));
    uint32_t seen = 0;
    PlatformDisplayMode mode;
    for (int32_t i = 0; i < count; ++i) {
        if (!displays->Mode(int32_t(adapter), i, &mode) || !ModeMatches(mode, format)) continue;
        if (seen++ == index) {
            ToDisplayMode(mode, out);
            return RD_OK;
        }
    }
    return RDERR_INVALIDCALL;
}

RDResult GlDevice::GetDeviceCaps(uint32_t adapter, uint32_t deviceType, RDCaps* out)
{
    if (!out || !AdapterValid(adapter)) return RDERR_INVALIDCALL;
    if (deviceType != RD_DEVTYPE_HAL) return RDERR_NOTAVAILABLE;
    std::memset(out, 0, sizeof *out);
    out->deviceType = RD_DEVTYPE_HAL;
    out->adapterOrdinal = adapter;
    out->masterAdapterOrdinal = adapter;
    out->numberOfAdaptersInGroup = 1;
    out->rasterCaps = RDPRASTERCAPS_FOGVERTEX | RDPRASTERCAPS_FOGTABLE;
    out->maxTextureWidth = out->maxTextureHeight = uint32_t(std::min(maxTextureSize_, 8192));
    out->numSimultaneousRTs = kTargets;
    out->vertexShaderVersion = 0xFFFE0300u;
    out->pixelShaderVersion = 0xFFFF0300u;
    out->maxSamples = uint32_t(std::max(maxSamples_, 0));
    return RD_OK;
}

RDResult GlDevice::CheckDeviceMultiSampleType(uint32_t adapter, uint32_t deviceType, uint32_t, int32_t,
                                              uint32_t samples)
{
    if (!AdapterValid(adapter)) return RDERR_INVALIDCALL;
    if (deviceType != RD_DEVTYPE_HAL) return RDERR_NOTAVAILABLE;
    if (!ValidSamples(samples) || samples > uint32_t(std::max(maxSamples_, 0))) return RDERR_NOTAVAILABLE;
    return RD_OK;
}

// ---- Creation, reset, release -----------------------------------------------------------------------------------

RDResult GlDevice::CreateDevice(uint32_t adapter, uint32_t deviceType, void* window, uint32_t,
                                RDPresentParams* params)
{
    if (hasDevice_ || !params) return RDERR_INVALIDCALL;
    if (deviceType != RD_DEVTYPE_HAL) return RDERR_NOTAVAILABLE;
    void* target = window ? window : params->deviceWindow;
    if (!target) return RDERR_INVALIDCALL;
    if (!EnsureContext(target)) return RDERR_NOTAVAILABLE;
    if (!AdapterValid(adapter)) return RDERR_INVALIDCALL;
    window_ = target;

    KGL(glGenVertexArrays(1, &vao_));
    KGL(glBindVertexArray(vao_));
    KGL(glGenSamplers(GLsizei(kStages), samplers_));
    for (uint32_t i = 0; i < kStages; ++i) {
        KGL(glBindSampler(i, samplers_[i]));
        samplerGl_[i][0] = GL_LINEAR;
        samplerGl_[i][1] = GL_NEAREST_MIPMAP_LINEAR;
        samplerGl_[i][2] = samplerGl_[i][3] = GL_REPEAT;
    }
    KGL(glGenFramebuffers(1, &readScratch_.name));
    KGL(glGenFramebuffers(1, &drawScratch_.name));
    KGL(glGenBuffers(1, &streamBuffer_));
    streamCapacity_ = streamOffset_ = 0;
    // Flat shading takes the first vertex of each primitive; the constant blend colour is white (factors 14, 15).
    KGL(glProvokingVertex(GL_FIRST_VERTEX_CONVENTION));
    KGL(glBlendColor(1.0f, 1.0f, 1.0f, 1.0f));
    KGL(glVertexAttrib4f(2, 1.0f, 1.0f, 1.0f, 1.0f));
    gl_.whiteColourAttrib = true;

    backBuffer_ = new GlSurface;
    backBuffer_->kind = SurfaceKind::BackBuffer;
    backBuffer_->deviceOwned = true;
    backBuffer_->usage = RDUSAGE_RENDERTARGET;
    backBuffer_->format = RDFMT_A8R8G8B8;
    backBuffer_->pool = RDPOOL_DEFAULT;

    const RDResult result = ApplyPresentParams(params, true);
    if (RD_Failed(result)) {
        ReleaseDeviceObjects();
        return result;
    }
    hasDevice_ = true;
    inScene_ = false;
    frameCallBase_ = g_calls;
    frameDraws_ = 0;
    last_ = {};
    ResetLights();  // a new device starts without lights (resets keep them)
    return RD_OK;
}

RDResult GlDevice::Reset(RDPresentParams* params)
{
    if (!hasDevice_ || !params) return RDERR_INVALIDCALL;
    return ApplyPresentParams(params, false);
}

RDResult GlDevice::ApplyPresentParams(RDPresentParams* params, bool creating)
{
    uint32_t samples = params->multiSampleType;
    if (!ValidSamples(samples) || samples > uint32_t(std::max(maxSamples_, 0))) return RDERR_INVALIDCALL;
    uint32_t width = params->backBufferWidth, height = params->backBufferHeight;
    if (width == 0 || height == 0) {
        int w = 0, h = 0;
        SDL_GL_GetDrawableSize(static_cast<SDL_Window*>(window_), &w, &h);
        if (width == 0) width = uint32_t(std::max(w, 1));
        if (height == 0) height = uint32_t(std::max(h, 1));
    }
    if (width > uint32_t(maxRenderbufferSize_) || height > uint32_t(maxRenderbufferSize_) ||
        width > uint32_t(maxTextureSize_) || height > uint32_t(maxTextureSize_)) {
        DebugConsole->Output("OpenGL: a %ux%u back buffer is larger than GL allows\n", width, height);
        return RDERR_INVALIDCALL;
    }
    const bool autoDepth = params->enableAutoDepthStencil != 0;
    BackBufferStorage storage;
    const RDResult made = AllocateBackBuffer(width, height, samples, autoDepth, params->autoDepthStencilFormat, &storage);
    if (RD_Failed(made)) return made;

    if (!creating) DropBindings();
    FreeBackBuffer(&bb_);
    bb_ = storage;
    backBuffer_->width = width;
    backBuffer_->height = height;
    backBuffer_->samples = samples;
    backBuffer_->renderbuffer = bb_.colour;
    if (autoDepth) {
        if (!autoDepth_) {
            autoDepth_ = new GlSurface;
            autoDepth_->kind = SurfaceKind::DepthStencil;
            autoDepth_->deviceOwned = true;
            autoDepth_->usage = RDUSAGE_DEPTHSTENCIL;
            autoDepth_->pool = RDPOOL_DEFAULT;
        }
        autoDepth_->width = width;
        autoDepth_->height = height;
        autoDepth_->samples = samples;
        autoDepth_->format = bb_.depthHasStencil ? RDFMT_D24S8 : RDFMT_D16;
        autoDepth_->renderbuffer = bb_.depth;
    } else if (autoDepth_) {
        autoDepth_->renderbuffer = 0;
        autoDepth_->Release();
        autoDepth_ = nullptr;
    }

    params->backBufferWidth = width;
    params->backBufferHeight = height;
    if (params->backBufferFormat == RDFMT_UNKNOWN) params->backBufferFormat = RDFMT_X8R8G8B8;
    if (params->backBufferCount == 0) params->backBufferCount = 1;

    presentInterval_ = params->presentationInterval;
    const int interval = presentInterval_ == RD_PRESENT_INTERVAL_IMMEDIATE ? 0 : 1;
    if (interval != swapInterval_) {
        SDL_GL_SetSwapInterval(interval);  // some drivers cannot; presenting works either way
        swapInterval_ = interval;
    }

    // A reset, like creation, starts from the default state with the back buffer as the only target.
    targets_[0] = backBuffer_;
    backBuffer_->AddRef();
    depthSurface_ = autoDepth_;
    if (depthSurface_) depthSurface_->AddRef();
    SetDefaultStates(autoDepth);
    return RD_OK;
}

RDResult GlDevice::AllocateBackBuffer(uint32_t width, uint32_t height, uint32_t samples, bool autoDepth,
                                      uint32_t depthFormat, BackBufferStorage* out)
{
    for (int i = 0; i < 8 && KGL(glGetError()) != GL_NO_ERROR; ++i) {
    }
    out->width = width;
    out->height = height;
    out->samples = samples;
    out->depthHasStencil = depthFormat != RDFMT_D16;
    KGL(glGenRenderbuffers(1, &out->colour));
    KGL(glBindRenderbuffer(GL_RENDERBUFFER, out->colour));
    KGL(glRenderbufferStorageMultisample(GL_RENDERBUFFER, GLsizei(samples), GL_RGBA8, GLsizei(width), GLsizei(height)));
    if (autoDepth) {
        KGL(glGenRenderbuffers(1, &out->depth));
        KGL(glBindRenderbuffer(GL_RENDERBUFFER, out->depth));
        KGL(glRenderbufferStorageMultisample(GL_RENDERBUFFER, GLsizei(samples),
                                             out->depthHasStencil ? GL_DEPTH24_STENCIL8 : GL_DEPTH_COMPONENT16,
                                             GLsizei(width), GLsizei(height)));
    }
    if (samples) {
        KGL(glGenRenderbuffers(1, &out->resolve));
        KGL(glBindRenderbuffer(GL_RENDERBUFFER, out->resolve));
        KGL(glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, GLsizei(width), GLsizei(height)));
    }
    KGL(glBindRenderbuffer(GL_RENDERBUFFER, 0));
    bool ok = KGL(glGetError()) == GL_NO_ERROR;
    if (ok) {
        KGL(glGenFramebuffers(1, &out->fbo));
        BindDrawFramebuffer(out->fbo);
        KGL(glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, out->colour));
        if (out->depth)
            KGL(glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER,
                                          out->depthHasStencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                                          GL_RENDERBUFFER, out->depth));
        ok = KGL(glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER)) == GL_FRAMEBUFFER_COMPLETE;
        if (ok && samples) {
            KGL(glGenFramebuffers(1, &out->resolveFbo));
            BindDrawFramebuffer(out->resolveFbo);
            KGL(glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, out->resolve));
            ok = KGL(glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER)) == GL_FRAMEBUFFER_COMPLETE;
        }
        ok = ok && KGL(glGetError()) == GL_NO_ERROR;
    }
    dirty_ |= kDirtyFramebuffer;
    if (!ok) {
        DebugConsole->Output("OpenGL: cannot allocate a %ux%u back buffer with %u samples\n", width, height, samples);
        FreeBackBuffer(out);
        return RDERR_OUTOFVIDEOMEMORY;
    }
    return RD_OK;
}

void GlDevice::FreeBackBuffer(BackBufferStorage* storage)
{
    for (GLuint* fbo : {&storage->fbo, &storage->resolveFbo}) {
        if (!*fbo) continue;
        // GL falls back to the default framebuffer when a bound one is deleted.
        if (gl_.drawFbo == *fbo) gl_.drawFbo = 0;
        if (gl_.readFbo == *fbo) gl_.readFbo = 0;
        KGL(glDeleteFramebuffers(1, fbo));
        *fbo = 0;
    }
    for (GLuint* rb : {&storage->colour, &storage->depth, &storage->resolve}) {
        if (!*rb) continue;
        ForgetRenderbuffer(*rb);
        KGL(glDeleteRenderbuffers(1, rb));
        *rb = 0;
    }
    dirty_ |= kDirtyFramebuffer;
}

void GlDevice::DropBindings()
{
    for (auto& target : targets_)
        if (target) {
            target->Release();
            target = nullptr;
        }
    if (depthSurface_) {
        depthSurface_->Release();
        depthSurface_ = nullptr;
    }
    for (auto& texture : textures_)
        if (texture) {
            texture->Release();
            texture = nullptr;
        }
    if (stream_) {
        stream_->Release();
        stream_ = nullptr;
    }
}

void GlDevice::ReleaseDeviceObjects()
{
    DropBindings();
    FreeBackBuffer(&bb_);
    FreeSpareTarget();
    for (GlSurface** own : {&backBuffer_, &autoDepth_})
        if (*own) {
            // Whoever still holds one gets a surface without storage.
            (*own)->renderbuffer = 0;
            (*own)->Release();
            *own = nullptr;
        }
    for (GlFramebuffer* fb : AllFramebuffers()) {
        if (fb->name) {
            if (gl_.drawFbo == fb->name) gl_.drawFbo = 0;
            if (gl_.readFbo == fb->name) gl_.readFbo = 0;
            KGL(glDeleteFramebuffers(1, &fb->name));
        }
        *fb = GlFramebuffer();
    }
    for (auto& program : programs_) {
        if (program.name) {
            if (gl_.program == program.name) gl_.program = 0;
            KGL(glDeleteProgram(program.name));
        }
        program = GlProgram();
    }
    std::memset(programFailed_, 0, sizeof programFailed_);
    shader_ = nullptr;  // compiled programs are their owners'; only the selection goes
    shaderSent_ = ShaderSent();
    if (streamBuffer_) {
        ForgetBuffer(streamBuffer_);
        KGL(glDeleteBuffers(1, &streamBuffer_));
        streamBuffer_ = 0;
    }
    if (samplers_[0]) {
        KGL(glDeleteSamplers(GLsizei(kStages), samplers_));
        std::memset(samplers_, 0, sizeof samplers_);
    }
    ForgetDeclarations();
    if (vao_) {
        KGL(glDeleteVertexArrays(1, &vao_));
        vao_ = 0;
        gl_.attribEnabled = 0;
        gl_.attribBuffer = ~0u;
    }
}

void GlDevice::ReleaseDevice()
{
    if (!hasDevice_) return;
    ReleaseDeviceObjects();
    hasDevice_ = false;
    inScene_ = false;
    // The context outlives the window (it is destroyed after this): it goes back to the hidden one when there is one.
    if (hiddenWindow_ && context_) SDL_GL_MakeCurrent(static_cast<SDL_Window*>(hiddenWindow_), context_);
    window_ = nullptr;
}

void GlDevice::SetDefaultStates(bool autoDepth)
{
    std::memset(renderStates_, 0, sizeof renderStates_);
    auto& rs = renderStates_;
    rs[RDRS_ZENABLE] = autoDepth ? 1 : 0;
    rs[RDRS_FILLMODE] = 3;
    rs[RDRS_SHADEMODE] = 2;
    rs[RDRS_ZWRITEENABLE] = 1;
    rs[16] = 1;  // last pixel
    rs[RDRS_SRCBLEND] = 2;
    rs[RDRS_DESTBLEND] = 1;
    rs[RDRS_CULLMODE] = 3;
    rs[RDRS_ZFUNC] = 4;
    rs[RDRS_ALPHAFUNC] = 8;
    rs[RDRS_FOGSTART] = BitsOf(0.0f);
    rs[RDRS_FOGEND] = BitsOf(1.0f);
    rs[38] = BitsOf(1.0f);  // fog density
    rs[RDRS_STENCILFAIL] = rs[RDRS_STENCILZFAIL] = rs[RDRS_STENCILPASS] = 1;
    rs[RDRS_STENCILFUNC] = 8;
    rs[RDRS_STENCILMASK] = rs[RDRS_STENCILWRITEMASK] = 0xFFFFFFFFu;
    rs[60] = 0xFFFFFFFFu;  // texture factor
    rs[136] = 1;           // clipping
    rs[RDRS_LIGHTING] = 1;
    rs[141] = 1;  // colour vertex
    rs[142] = 1;  // local viewer
    rs[154] = BitsOf(1.0f);  // point size
    rs[RDRS_COLORWRITEENABLE] = rs[190] = rs[191] = rs[192] = 15;
    rs[RDRS_BLENDOP] = 1;
    rs[193] = 0xFFFFFFFFu;  // blend factor
    rs[RDRS_SRCBLENDALPHA] = 2;
    rs[RDRS_DESTBLENDALPHA] = 1;
    rs[209] = 1;  // alpha blend op

    std::memset(samplerStates_, 0, sizeof samplerStates_);
    std::memset(stageStates_, 0, sizeof stageStates_);
    for (uint32_t s = 0; s < kStages; ++s) {
        samplerStates_[s][RDSAMP_ADDRESSU] = samplerStates_[s][RDSAMP_ADDRESSV] = samplerStates_[s][3] = RDTADDRESS_WRAP;
        samplerStates_[s][RDSAMP_MAGFILTER] = samplerStates_[s][RDSAMP_MINFILTER] = RDTEXF_POINT;
        samplerStates_[s][RDSAMP_MIPFILTER] = RDTEXF_NONE;
        auto& ts = stageStates_[s];
        ts[RDTSS_COLOROP] = s == 0 ? RDTOP_MODULATE : RDTOP_DISABLE;
        ts[RDTSS_ALPHAOP] = s == 0 ? RDTOP_SELECTARG1 : RDTOP_DISABLE;
        ts[RDTSS_COLORARG1] = ts[RDTSS_ALPHAARG1] = RDTA_TEXTURE;
        ts[RDTSS_COLORARG2] = ts[RDTSS_ALPHAARG2] = 1;  // current
        ts[11] = s;  // texture coordinate index
    }
    Identity(&world_);
    Identity(&view_);
    Identity(&projection_);
    transformDirty_ = true;
    viewport_ = {0, 0, backBuffer_->width, backBuffer_->height, 0.0f, 1.0f};
    dirty_ = kDirtyAll;
    samplerDirty_ = (1u << kStages) - 1;
    for (auto& version : groupVersion_) ++version;
}

// ---- Frames ---------------------------------------------------------------------------------------------------

RDResult GlDevice::BeginScene()
{
    if (!hasDevice_ || inScene_) return RDERR_INVALIDCALL;
    inScene_ = true;
    return RD_OK;
}

RDResult GlDevice::EndScene()
{
    if (!hasDevice_ || !inScene_) return RDERR_INVALIDCALL;
    inScene_ = false;
    return RD_OK;
}

RDResult GlDevice::Present()
{
    if (!hasDevice_) return RDERR_INVALIDCALL;
    SetScissor(false, 0, 0, 0, 0);
    GLuint source = bb_.fbo;
    const GLint w = GLint(bb_.width), h = GLint(bb_.height);
    if (bb_.samples) {
        BindReadFramebuffer(bb_.fbo);
        BindDrawFramebuffer(bb_.resolveFbo);
        KGL(glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST));
        source = bb_.resolveFbo;
    }
    SetColourMask(15);  // some drivers apply it to blits
    dirty_ |= kDirtyColourMask;
    SDL_Window* window = static_cast<SDL_Window*>(window_);
    int dw = 0, dh = 0;
    SDL_GL_GetDrawableSize(window, &dw, &dh);
    BindReadFramebuffer(source);
    BindDrawFramebuffer(0);
    // Row 0 is the top of the image: the window's row 0 is its bottom.
    KGL(glBlitFramebuffer(0, 0, w, h, 0, dh, dw, 0, GL_COLOR_BUFFER_BIT, dw == w && dh == h ? GL_NEAREST : GL_LINEAR));
    dirty_ |= kDirtyFramebuffer;
    SDL_GL_SwapWindow(window);
    last_ = FrameCounters();
    frameCallBase_ = g_calls;
    frameDraws_ = 0;
    return RD_OK;
}

RDResult GlDevice::Clear(uint32_t flags, uint32_t colourARGB, float z, uint32_t stencil)
{
    if (!hasDevice_) return RDERR_INVALIDCALL;
    if (dirty_ & kDirtyFramebuffer) {
        ApplyFramebuffer();
        dirty_ &= ~kDirtyFramebuffer;
    }
    // Only the viewport is cleared, whatever the write masks say; the masks come back at the next draw.
    const GlSurface* target = TargetSurface();
    const bool whole = viewport_.x == 0 && viewport_.y == 0 && viewport_.width >= target->width &&
                       viewport_.height >= target->height;
    SetScissor(!whole, GLint(viewport_.x), GLint(viewport_.y), GLint(viewport_.width), GLint(viewport_.height));
    dirty_ |= kDirtyScissor;
    GLbitfield bits = 0;
    if (flags & RDCLEAR_TARGET) {
        const float colour[4] = {float((colourARGB >> 16) & 255) / 255.0f, float((colourARGB >> 8) & 255) / 255.0f,
                                 float(colourARGB & 255) / 255.0f, float(colourARGB >> 24) / 255.0f};
        if (std::memcmp(colour, gl_.clearColour, sizeof colour) != 0) {
            KGL(glClearColor(colour[0], colour[1], colour[2], colour[3]));
            std::memcpy(gl_.clearColour, colour, sizeof colour);
        }
        SetColourMask(15);
        dirty_ |= kDirtyColourMask;
        bits |= GL_COLOR_BUFFER_BIT;
    }
    if ((flags & RDCLEAR_ZBUFFER) && depthSurface_) {
        const double depth = std::clamp(double(z), 0.0, 1.0);
        if (depth != gl_.clearDepth) {
            KGL(glClearDepth(depth));
            gl_.clearDepth = depth;
        }
        SetDepthMask(true);
        dirty_ |= kDirtyDepth;
        bits |= GL_DEPTH_BUFFER_BIT;
    }
    if ((flags & RDCLEAR_STENCIL) && depthSurface_ && depthSurface_->format == RDFMT_D24S8) {
        const GLint value = GLint(stencil & 255);
        if (value != gl_.clearStencil) {
            KGL(glClearStencil(value));
            gl_.clearStencil = value;
        }
        SetStencilWriteMask(~0u);
        dirty_ |= kDirtyStencil;
        bits |= GL_STENCIL_BUFFER_BIT;
    }
    if (bits) KGL(glClear(bits));
    return RD_OK;
}

RDResult GlDevice::SetViewport(const RDViewport& viewport)
{
    if (!hasDevice_) return RDERR_INVALIDCALL;
    if (viewport.width == 0 || viewport.height == 0) return RDERR_INVALIDCALL;
    viewport_ = viewport;
    dirty_ |= kDirtyViewport;
    transformDirty_ = true;
    return RD_OK;
}

RDResult GlDevice::GetViewport(RDViewport* out)
{
    if (!hasDevice_ || !out) return RDERR_INVALIDCALL;
    *out = viewport_;
    return RD_OK;
}

// ---- States -----------------------------------------------------------------------------------------------------

RDResult GlDevice::ChangeRenderState(uint32_t state, uint32_t value)
{
    if (state >= kRenderStates) return RDERR_INVALIDCALL;
    renderStates_[state] = value;
    switch (state) {
    case RDRS_ZENABLE:
    case RDRS_ZWRITEENABLE:
    case RDRS_ZFUNC: dirty_ |= kDirtyDepth; break;
    case RDRS_ALPHABLENDENABLE:
    case RDRS_SRCBLEND:
    case RDRS_DESTBLEND:
    case RDRS_BLENDOP: dirty_ |= kDirtyBlend; break;
    case RDRS_CULLMODE: dirty_ |= kDirtyCull; break;
    case RDRS_COLORWRITEENABLE: dirty_ |= kDirtyColourMask; break;
    case RDRS_STENCILENABLE:
    case RDRS_STENCILFAIL:
    case RDRS_STENCILZFAIL:
    case RDRS_STENCILPASS:
    case RDRS_STENCILFUNC:
    case RDRS_STENCILREF:
    case RDRS_STENCILMASK:
    case RDRS_STENCILWRITEMASK: dirty_ |= kDirtyStencil; break;
    case RDRS_FILLMODE: dirty_ |= kDirtyFill; break;
    case RDRS_ALPHATESTENABLE:
    case RDRS_ALPHAREF:
    case RDRS_ALPHAFUNC: BumpGroup(kUGAlphaTest); break;
    case RDRS_FOGENABLE:
    case RDRS_FOGCOLOR:
    case RDRS_FOGTABLEMODE:
    case RDRS_FOGSTART:
    case RDRS_FOGEND:
    case 38:  // fog density
    case RDRS_RANGEFOGENABLE:
    case RDRS_FOGVERTEXMODE: BumpGroup(kUGFog); break;
    case RDRS_LIGHTING:
    case RDRS_AMBIENT:
    case RDRS_NORMALIZENORMALS: BumpGroup(kUGLighting); break;
    case 60: BumpGroup(kUGStage); break;  // texture factor
    default: break;  // kept only (separate alpha blending, shading mode is read at draw time)
    }
    return RD_OK;
}

RDResult GlDevice::SetSamplerState(uint32_t sampler, uint32_t state, uint32_t value)
{
    if (sampler >= kStages || state == 0 || state >= 14) return RDERR_INVALIDCALL;
    if (samplerStates_[sampler][state] == value) return RD_OK;
    samplerStates_[sampler][state] = value;
    samplerDirty_ |= 1u << sampler;
    dirty_ |= kDirtySamplers;
    return RD_OK;
}

RDResult GlDevice::SetTextureStageState(uint32_t stage, uint32_t state, uint32_t value)
{
    if (stage >= kStages || state >= kStageStates) return RDERR_INVALIDCALL;
    if (stageStates_[stage][state] == value) return RD_OK;
    stageStates_[stage][state] = value;
    if (stage == 0 && state >= RDTSS_COLOROP && state <= RDTSS_ALPHAARG2) BumpGroup(kUGStage);
    return RD_OK;
}

RDResult GlDevice::SetTransform(uint32_t which, const RDMatrix& matrix)
{
    switch (which) {
    case RDTS_WORLD:
    case 0: world_ = matrix; break;
    case RDTS_VIEW: view_ = matrix; break;
    case RDTS_PROJECTION: {
        const bool wasPerspective = projection_.m[3][3] != 1.0f || projection_.m[2][3] != 0.0f;
        projection_ = matrix;
        if (wasPerspective != (matrix.m[3][3] != 1.0f || matrix.m[2][3] != 0.0f)) BumpGroup(kUGFog);
        break;
    }
    default:
        if (which >= 16 && which < 24) return RD_OK;  // texture transforms: nothing uses them yet
        return RDERR_INVALIDCALL;
    }
    transformDirty_ = true;
    return RD_OK;
}

// The product the vertex stage uses: world · view · projection, then y negated, the half-pixel offset and z
// from 0..w to −w..w, folded into one matrix.
void GlDevice::UpdateTransform()
{
    const RDMatrix worldView = Multiply(world_, view_);
    const RDMatrix m = Multiply(worldView, projection_);
    const float invW = 1.0f / float(std::max(viewport_.width, 1u)), invH = 1.0f / float(std::max(viewport_.height, 1u));
    for (int i = 0; i < 4; ++i) {
        transform_[i * 4 + 0] = m.m[i][0] + m.m[i][3] * invW;
        transform_[i * 4 + 1] = -m.m[i][1] + m.m[i][3] * invH;
        transform_[i * 4 + 2] = 2.0f * m.m[i][2] - m.m[i][3];
        transform_[i * 4 + 3] = m.m[i][3];
    }
    std::memcpy(worldView_, &worldView, sizeof worldView_);
    UpdateNormalMatrix(worldView);
    transformDirty_ = false;
    BumpGroup(kUGTransform);
}

// ---- GL state, sent only when it differs ------------------------------------------------------------------------

void GlDevice::BindDrawFramebuffer(GLuint fbo)
{
    if (gl_.drawFbo == fbo) return;
    KGL(glBindFramebuffer(GL_DRAW_FRAMEBUFFER, fbo));
    gl_.drawFbo = fbo;
}

void GlDevice::BindReadFramebuffer(GLuint fbo)
{
    if (gl_.readFbo == fbo) return;
    KGL(glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo));
    gl_.readFbo = fbo;
}

void GlDevice::BindArrayBuffer(GLuint buffer)
{
    if (gl_.arrayBuffer == buffer) return;
    KGL(glBindBuffer(GL_ARRAY_BUFFER, buffer));
    gl_.arrayBuffer = buffer;
}

void GlDevice::BindTextureUnit(uint32_t unit, GLuint texture)
{
    if (gl_.texture[unit] == texture) return;
    if (gl_.activeUnit != unit) {
        KGL(glActiveTexture(GL_TEXTURE0 + unit));
        gl_.activeUnit = unit;
    }
    KGL(glBindTexture(GL_TEXTURE_2D, texture));
    gl_.texture[unit] = texture;
}

void GlDevice::SetScissor(bool on, GLint x, GLint y, GLint w, GLint h)
{
    if (on != gl_.scissorOn) {
        on ? KGL(glEnable(GL_SCISSOR_TEST)) : KGL(glDisable(GL_SCISSOR_TEST));
        gl_.scissorOn = on;
    }
    if (on && (gl_.scissor[0] != x || gl_.scissor[1] != y || gl_.scissor[2] != w || gl_.scissor[3] != h)) {
        KGL(glScissor(x, y, w, h));
        gl_.scissor[0] = x, gl_.scissor[1] = y, gl_.scissor[2] = w, gl_.scissor[3] = h;
    }
}

void GlDevice::SetColourMask(uint32_t mask)
{
    if (gl_.colourMask == mask) return;
    KGL(glColorMask(mask & 1 ? GL_TRUE : GL_FALSE, mask & 2 ? GL_TRUE : GL_FALSE, mask & 4 ? GL_TRUE : GL_FALSE,
                    mask & 8 ? GL_TRUE : GL_FALSE));
    gl_.colourMask = mask;
}

void GlDevice::SetDepthMask(bool on)
{
    if (gl_.depthMask == on) return;
    KGL(glDepthMask(on ? GL_TRUE : GL_FALSE));
    gl_.depthMask = on;
}

void GlDevice::SetStencilWriteMask(GLuint mask)
{
    if (gl_.stencilWriteMask == mask) return;
    KGL(glStencilMask(mask));
    gl_.stencilWriteMask = mask;
}

void GlDevice::SetUnpackRowLength(GLint length)
{
    if (gl_.unpackRowLength == length) return;
    KGL(glPixelStorei(GL_UNPACK_ROW_LENGTH, length));
    gl_.unpackRowLength = length;
}

void GlDevice::Attach(GlFramebuffer* fb, GLenum target, uint32_t slot, GlSurface* surface)
{
    const bool isTexture = surface && surface->kind == SurfaceKind::TextureLevel;
    const GLuint name = !surface ? 0 : isTexture ? surface->texture : surface->renderbuffer;
    if (fb->colour[slot] == name && fb->colourIsTexture[slot] == isTexture) return;
    if (isTexture)
        KGL(glFramebufferTexture2D(target, GL_COLOR_ATTACHMENT0 + slot, GL_TEXTURE_2D, name, 0));
    else
        KGL(glFramebufferRenderbuffer(target, GL_COLOR_ATTACHMENT0 + slot, GL_RENDERBUFFER, name));
    fb->colour[slot] = name;
    fb->colourIsTexture[slot] = isTexture;
}

void GlDevice::AttachDepth(GlFramebuffer* fb, GlSurface* surface)
{
    const GLuint name = surface ? surface->renderbuffer : 0;
    const bool stencil = surface && surface->format == RDFMT_D24S8;
    if (fb->depth == name && fb->depthHasStencil == stencil) return;
    if (stencil) {
        KGL(glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, name));
    } else {
        KGL(glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, name));
        if (fb->depthHasStencil || fb->depth == ~0u)
            KGL(glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0));
    }
    fb->depth = name;
    fb->depthHasStencil = stencil;
}

void GlDevice::ApplyFramebuffer()
{
    const bool plain = targets_[0] == backBuffer_ && !targets_[1] && !targets_[2] && !targets_[3] &&
                       (depthSurface_ == autoDepth_ || !depthSurface_);
    if (plain) {
        BindDrawFramebuffer(bb_.fbo);
        return;
    }
    // One framebuffer per set of bound targets: switching back to a set attaches nothing again.
    auto holds = [this](const GlFramebuffer& fb) {
        for (uint32_t slot = 0; slot < kTargets; ++slot) {
            const GlSurface* s = targets_[slot];
            const bool isTexture = s && s->kind == SurfaceKind::TextureLevel;
            const GLuint name = !s ? 0 : isTexture ? s->texture : s->renderbuffer;
            if (fb.colour[slot] != name || (name && fb.colourIsTexture[slot] != isTexture)) return false;
        }
        return fb.depth == (depthSurface_ ? depthSurface_->renderbuffer : 0);
    };
    uint32_t pick = 0;
    for (uint32_t i = 0; i < kTargetFbos; ++i) {
        if (targetFbos_[i].name && holds(targetFbos_[i])) {
            pick = i;
            break;
        }
        if (targetFboUse_[i] < targetFboUse_[pick]) pick = i;
    }
    GlFramebuffer& fbo = targetFbos_[pick];
    targetFboUse_[pick] = ++targetFboClock_;
    if (!fbo.name) KGL(glGenFramebuffers(1, &fbo.name));
    BindDrawFramebuffer(fbo.name);
    uint32_t used = 0;
    for (uint32_t slot = 0; slot < kTargets; ++slot) {
        Attach(&fbo, GL_DRAW_FRAMEBUFFER, slot, targets_[slot]);
        if (targets_[slot]) used |= 1u << slot;
    }
    AttachDepth(&fbo, depthSurface_);
    if (used != fbo.drawBuffers) {
        GLenum buffers[kTargets];
        GLsizei count = 0;
        for (uint32_t slot = 0; slot < kTargets; ++slot)
            if (used >> slot) buffers[count++] = used & (1u << slot) ? GL_COLOR_ATTACHMENT0 + slot : GL_NONE;
        KGL(glDrawBuffers(count, buffers));
        fbo.drawBuffers = used;
    }
}

void GlDevice::ApplyViewport()
{
    const GLint v[4] = {GLint(viewport_.x), GLint(viewport_.y), GLint(viewport_.width), GLint(viewport_.height)};
    if (std::memcmp(v, gl_.viewport, sizeof v) != 0) {
        KGL(glViewport(v[0], v[1], v[2], v[3]));
        std::memcpy(gl_.viewport, v, sizeof v);
    }
    if (viewport_.minZ != gl_.depthRange[0] || viewport_.maxZ != gl_.depthRange[1]) {
        KGL(glDepthRange(viewport_.minZ, viewport_.maxZ));
        gl_.depthRange[0] = viewport_.minZ;
        gl_.depthRange[1] = viewport_.maxZ;
    }
}

void GlDevice::ApplyBlend()
{
    const auto& rs = renderStates_;
    const bool on = rs[RDRS_ALPHABLENDENABLE] != 0;
    if (on != gl_.blendOn) {
        on ? KGL(glEnable(GL_BLEND)) : KGL(glDisable(GL_BLEND));
        gl_.blendOn = on;
    }
    if (!on) return;  // the factors follow when blending is turned on again (that marks them dirty)
    GLenum src = BlendFactor(rs[RDRS_SRCBLEND]), dst = BlendFactor(rs[RDRS_DESTBLEND]);
    // The two "both" factors set the destination as well.
    if (rs[RDRS_SRCBLEND] == 12) dst = GL_ONE_MINUS_SRC_ALPHA;
    if (rs[RDRS_SRCBLEND] == 13) dst = GL_SRC_ALPHA;
    if (src != gl_.blendSrc || dst != gl_.blendDst) {
        KGL(glBlendFunc(src, dst));
        gl_.blendSrc = src;
        gl_.blendDst = dst;
    }
    const GLenum equation = BlendEquation(rs[RDRS_BLENDOP]);
    if (equation != gl_.blendEquation) {
        KGL(glBlendEquation(equation));
        gl_.blendEquation = equation;
    }
}

void GlDevice::ApplyDepth()
{
    const auto& rs = renderStates_;
    const bool on = rs[RDRS_ZENABLE] != 0 && depthSurface_;
    if (on != gl_.depthTestOn) {
        on ? KGL(glEnable(GL_DEPTH_TEST)) : KGL(glDisable(GL_DEPTH_TEST));
        gl_.depthTestOn = on;
    }
    if (!on) return;  // no test, no writes
    const GLenum func = CompareFunc(rs[RDRS_ZFUNC]);
    if (func != gl_.depthFunc) {
        KGL(glDepthFunc(func));
        gl_.depthFunc = func;
    }
    SetDepthMask(rs[RDRS_ZWRITEENABLE] != 0);
}

void GlDevice::ApplyCull()
{
    const uint32_t mode = renderStates_[RDRS_CULLMODE];
    const bool on = mode == 2 || mode == 3;
    if (on != gl_.cullOn) {
        on ? KGL(glEnable(GL_CULL_FACE)) : KGL(glDisable(GL_CULL_FACE));
        gl_.cullOn = on;
    }
    if (!on) return;
    // Rows run downwards here, so what looks clockwise on screen is counter-clockwise to GL; GL culls back faces.
    const GLenum front = mode == 2 ? GL_CW : GL_CCW;
    if (front != gl_.frontFace) {
        KGL(glFrontFace(front));
        gl_.frontFace = front;
    }
}

void GlDevice::ApplyStencil()
{
    const auto& rs = renderStates_;
    const bool on = rs[RDRS_STENCILENABLE] != 0 && depthSurface_ && depthSurface_->format == RDFMT_D24S8;
    if (on != gl_.stencilOn) {
        on ? KGL(glEnable(GL_STENCIL_TEST)) : KGL(glDisable(GL_STENCIL_TEST));
        gl_.stencilOn = on;
    }
    if (!on) return;
    const GLenum func = CompareFunc(rs[RDRS_STENCILFUNC]);
    const GLint ref = GLint(rs[RDRS_STENCILREF] & 255);
    const GLuint mask = rs[RDRS_STENCILMASK];
    if (func != gl_.stencilFunc || ref != gl_.stencilRef || mask != gl_.stencilReadMask) {
        KGL(glStencilFunc(func, ref, mask));
        gl_.stencilFunc = func;
        gl_.stencilRef = ref;
        gl_.stencilReadMask = mask;
    }
    const GLenum fail = StencilOp(rs[RDRS_STENCILFAIL]), zfail = StencilOp(rs[RDRS_STENCILZFAIL]),
                 pass = StencilOp(rs[RDRS_STENCILPASS]);
    if (fail != gl_.stencilFail || zfail != gl_.stencilZFail || pass != gl_.stencilPass) {
        KGL(glStencilOp(fail, zfail, pass));
        gl_.stencilFail = fail;
        gl_.stencilZFail = zfail;
        gl_.stencilPass = pass;
    }
    SetStencilWriteMask(rs[RDRS_STENCILWRITEMASK]);
}

void GlDevice::ApplyFill()
{
    const uint32_t mode = renderStates_[RDRS_FILLMODE];
    const GLenum fill = mode == 1 ? GL_POINT : mode == 2 ? GL_LINE : GL_FILL;
    if (fill != gl_.polygonMode) {
        KGL(glPolygonMode(GL_FRONT_AND_BACK, fill));
        gl_.polygonMode = fill;
    }
}

void GlDevice::ApplySamplers()
{
    for (uint32_t stage = 0; stage < kStages; ++stage) {
        if (!(samplerDirty_ & (1u << stage))) continue;
        const auto& ss = samplerStates_[stage];
        auto filter = [](uint32_t f) -> GLint { return f >= RDTEXF_LINEAR ? GL_LINEAR : GL_NEAREST; };
        auto wrap = [](uint32_t a) -> GLint {
            switch (a) {
            case 2: return GL_MIRRORED_REPEAT;
            case 3:
            case 5: return GL_CLAMP_TO_EDGE;
            case 4: return GL_CLAMP_TO_BORDER;
            default: return GL_REPEAT;
            }
        };
        const GLint want[4] = {filter(ss[RDSAMP_MAGFILTER]), filter(ss[RDSAMP_MINFILTER]), wrap(ss[RDSAMP_ADDRESSU]),
                               wrap(ss[RDSAMP_ADDRESSV])};
        static const GLenum kNames[4] = {GL_TEXTURE_MAG_FILTER, GL_TEXTURE_MIN_FILTER, GL_TEXTURE_WRAP_S,
                                         GL_TEXTURE_WRAP_T};
        for (int i = 0; i < 4; ++i)
            if (samplerGl_[stage][i] != want[i]) {
                KGL(glSamplerParameteri(samplers_[stage], kNames[i], want[i]));
                samplerGl_[stage][i] = want[i];
            }
    }
    samplerDirty_ = 0;
}

bool GlDevice::ApplyDrawState(uint32_t fvf)
{
    if (dirty_) {
        if (dirty_ & kDirtyFramebuffer) ApplyFramebuffer();
        if (dirty_ & kDirtyViewport) ApplyViewport();
        if (dirty_ & kDirtyScissor) SetScissor(false, 0, 0, 0, 0);
        if (dirty_ & kDirtyBlend) ApplyBlend();
        if (dirty_ & kDirtyDepth) ApplyDepth();
        if (dirty_ & kDirtyCull) ApplyCull();
        if (dirty_ & kDirtyColourMask) SetColourMask(renderStates_[RDRS_COLORWRITEENABLE] & 15);
        if (dirty_ & kDirtyStencil) ApplyStencil();
        if (dirty_ & kDirtyFill) ApplyFill();
        if (dirty_ & kDirtySamplers) ApplySamplers();
        if (dirty_ & kDirtyTextures)
            for (uint32_t stage = 0; stage < kStages; ++stage)
                if (textures_[stage]) BindTextureUnit(stage, textures_[stage]->name);
        dirty_ = 0;
    }
    if (shader_) return ApplyShaderState();
    const auto& rs = renderStates_;
    uint32_t variant = 0;
    if (rs[RDRS_SHADEMODE] == 1) variant |= kVariantFlat;
    if ((fvf >> 8) & 0xF) variant |= kVariantTextured;
    if (rs[RDRS_FOGENABLE] && (rs[RDRS_FOGTABLEMODE] || rs[RDRS_FOGVERTEXMODE])) variant |= kVariantFog;
    GlProgram& program = programs_[variant];
    if (!program.name) {
        if (programFailed_[variant]) return false;
        if (!Program_Build(variant, &program)) {
            programFailed_[variant] = true;
            return false;
        }
    }
    if (gl_.program != program.name) {
        KGL(glUseProgram(program.name));
        gl_.program = program.name;
    }
    if (transformDirty_) UpdateTransform();
    UploadUniforms(&program);
    return true;
}

void GlDevice::UploadUniforms(GlProgram* p)
{
    const auto& rs = renderStates_;
    if (p->seen[kUGTransform] != groupVersion_[kUGTransform]) {
        p->seen[kUGTransform] = groupVersion_[kUGTransform];
        KGL(glUniformMatrix4fv(p->transform, 1, GL_FALSE, transform_));
        if (p->worldView >= 0) KGL(glUniformMatrix4fv(p->worldView, 1, GL_FALSE, worldView_));
        if (p->world >= 0) KGL(glUniformMatrix4fv(p->world, 1, GL_FALSE, &world_.m[0][0]));
        if (p->view >= 0) KGL(glUniformMatrix4fv(p->view, 1, GL_FALSE, &view_.m[0][0]));
        if (p->projection >= 0) KGL(glUniformMatrix4fv(p->projection, 1, GL_FALSE, &projection_.m[0][0]));
    }
    if (p->seen[kUGStage] != groupVersion_[kUGStage]) {
        p->seen[kUGStage] = groupVersion_[kUGStage];
        const auto& ts = stageStates_[0];
        if (p->colourOp >= 0)
            KGL(glUniform3i(p->colourOp, GLint(ts[RDTSS_COLOROP]), GLint(ts[RDTSS_COLORARG1]), GLint(ts[RDTSS_COLORARG2])));
        if (p->alphaOp >= 0)
            KGL(glUniform3i(p->alphaOp, GLint(ts[RDTSS_ALPHAOP]), GLint(ts[RDTSS_ALPHAARG1]), GLint(ts[RDTSS_ALPHAARG2])));
        if (p->textured >= 0) KGL(glUniform1i(p->textured, textures_[0] ? 1 : 0));
    }
    if (p->seen[kUGAlphaTest] != groupVersion_[kUGAlphaTest]) {
        p->seen[kUGAlphaTest] = groupVersion_[kUGAlphaTest];
        const uint32_t func = rs[RDRS_ALPHATESTENABLE] && rs[RDRS_ALPHAFUNC] >= 1 && rs[RDRS_ALPHAFUNC] <= 8
                                  ? rs[RDRS_ALPHAFUNC]
                                  : 8;
        if (p->alphaTest >= 0) KGL(glUniform2i(p->alphaTest, GLint(func), GLint(std::min(rs[RDRS_ALPHAREF], 255u))));
    }
    if (p->seen[kUGFog] != groupVersion_[kUGFog]) {
        p->seen[kUGFog] = groupVersion_[kUGFog];
        if (p->fog >= 0) {
            // Mode: 0 linear, 1 exponential, 2 squared exponential. Source: 0 depth z, 1 depth w (perspective
            // projections), 2 eye-space z, 3 eye-space distance; the last two are per-vertex fog.
            const bool table = rs[RDRS_FOGTABLEMODE] != 0;
            const uint32_t kind = table ? rs[RDRS_FOGTABLEMODE] : rs[RDRS_FOGVERTEXMODE];
            const GLint mode = kind == 1 ? 1 : kind == 2 ? 2 : 0;
            const bool perspective = projection_.m[3][3] != 1.0f || projection_.m[2][3] != 0.0f;
            const GLint source = table ? (perspective ? 1 : 0) : (rs[RDRS_RANGEFOGENABLE] ? 3 : 2);
            KGL(glUniform2i(p->fog, mode, source));
            KGL(glUniform3f(p->fogParams, FloatOf(rs[RDRS_FOGSTART]), FloatOf(rs[RDRS_FOGEND]), FloatOf(rs[38])));
            const uint32_t c = rs[RDRS_FOGCOLOR];
            KGL(glUniform3f(p->fogColour, float((c >> 16) & 255) / 255.0f, float((c >> 8) & 255) / 255.0f,
                            float(c & 255) / 255.0f));
        }
    }
    if (p->seen[kUGLighting] != groupVersion_[kUGLighting]) {
        p->seen[kUGLighting] = groupVersion_[kUGLighting];
        if (p->lighting >= 0) KGL(glUniform1i(p->lighting, rs[RDRS_LIGHTING] ? 1 : 0));
        if (p->normalize >= 0) KGL(glUniform1i(p->normalize, rs[RDRS_NORMALIZENORMALS] ? 1 : 0));
        if (p->ambient >= 0) {
            const uint32_t c = rs[RDRS_AMBIENT];
            KGL(glUniform4f(p->ambient, float((c >> 16) & 255) / 255.0f, float((c >> 8) & 255) / 255.0f,
                            float(c & 255) / 255.0f, float(c >> 24) / 255.0f));
        }
    }
    UploadLights(p);
}

// ---- Shadow upkeep when GL objects go away ---------------------------------------------------------------------

void GlDevice::ForgetTexture(GLuint name)
{
    if (!name) return;
    for (GLuint& bound : gl_.texture)
        if (bound == name) bound = 0;
    for (GlFramebuffer* fb : AllFramebuffers())
        for (uint32_t slot = 0; slot < kTargets; ++slot)
            if (fb->colourIsTexture[slot] && fb->colour[slot] == name) fb->colour[slot] = ~0u;  // attach again
    dirty_ |= kDirtyFramebuffer | kDirtyTextures;
}

void GlDevice::ForgetRenderbuffer(GLuint name)
{
    if (!name) return;
    for (GlFramebuffer* fb : AllFramebuffers()) {
        for (uint32_t slot = 0; slot < kTargets; ++slot)
            if (!fb->colourIsTexture[slot] && fb->colour[slot] == name) fb->colour[slot] = ~0u;
        if (fb->depth == name) fb->depth = ~0u;
    }
    dirty_ |= kDirtyFramebuffer;
}

void GlDevice::ForgetBuffer(GLuint name)
{
    if (!name) return;
    if (gl_.arrayBuffer == name) gl_.arrayBuffer = 0;
    if (gl_.attribBuffer == name) gl_.attribBuffer = ~0u;
}

}  // namespace gldev

void GL_SetContextAttributes()
{
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

void GL_SetVertexBufferMapping(bool map) { gldev::Device()->mapVertexLocks = map; }

RenderDevice* GL_Device() { return gldev::Device(); }
