// Inside the OpenGL device: the GL header, the call counter, the shadow of GL state, the resource records and
// the device class. Only src/platform/gl_*.cpp include it.
#pragma once
#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include "platform/gl_device.h"

#include <cstddef>
#include <cstdint>

namespace gldev {

// Every GL call the device makes goes through this, so the frame counters see it.
extern uint64_t g_calls;
#define KGL(call) (++::gldev::g_calls, call)

constexpr uint32_t kStages = 9;  // 0..7 as the engine's state block has them, 8 with default sampling
constexpr uint32_t kTargets = 4;
constexpr uint32_t kTargetFbos = 8;  // framebuffers kept, each for one set of bound targets
constexpr uint32_t kRenderStates = 256;
constexpr uint32_t kStageStates = 33;

// The state the context really has; the device compares against it and sends only differences.
struct GlShadow {
    GLuint drawFbo = 0, readFbo = 0;
    GLuint arrayBuffer = 0;
    GLuint program = 0;
    GLuint activeUnit = 0;
    GLuint texture[kStages] = {};
    GLint viewport[4] = {-1, -1, -1, -1};
    float depthRange[2] = {0.0f, 1.0f};
    bool scissorOn = false;
    GLint scissor[4] = {-1, -1, -1, -1};
    bool blendOn = false;
    GLenum blendSrc = GL_ONE, blendDst = GL_ZERO, blendEquation = GL_FUNC_ADD;
    bool depthTestOn = false;
    GLenum depthFunc = GL_LESS;
    bool depthMask = true;
    bool cullOn = false;
    GLenum frontFace = GL_CCW;
    uint32_t colourMask = 15;
    bool stencilOn = false;
    GLenum stencilFunc = GL_ALWAYS;
    GLint stencilRef = 0;
    GLuint stencilReadMask = ~0u, stencilWriteMask = ~0u;
    GLenum stencilFail = GL_KEEP, stencilZFail = GL_KEEP, stencilPass = GL_KEEP;
    GLenum polygonMode = GL_FILL;
    float clearColour[4] = {0, 0, 0, 0};
    double clearDepth = 1.0;
    GLint clearStencil = 0;
    GLint unpackRowLength = 0;
    uint32_t attribEnabled = 0;  // bit per attribute location
    bool whiteColourAttrib = false;  // the constant colour of a disabled colour array is white
    // What the vertex arrays point at: buffer, byte offset of vertex 0, stride, vertex format.
    GLuint attribBuffer = ~0u;
    uintptr_t attribOffset = 0;
    uint32_t attribStride = 0, attribFvf = 0;
};

// One FBO and what each of its attachment points holds (colour 0..3, depth), so attaching repeats nothing.
struct GlFramebuffer {
    GLuint name = 0;
    GLuint colour[kTargets] = {};
    bool colourIsTexture[kTargets] = {};
    GLuint depth = 0;
    bool depthHasStencil = false;
    uint32_t drawBuffers = 1;  // bit mask the draw-buffer list was last set for
};

// RenderTarget: a (multisampled) colour renderbuffer drawing goes to, resolved into a texture by a blit.
enum class SurfaceKind : uint8_t { BackBuffer, TextureLevel, DepthStencil, SystemMem, RenderTarget };

class GlTexture;

class GlSurface final : public RDSurface {
public:
    ~GlSurface() override;
    SurfaceKind kind = SurfaceKind::SystemMem;
    GLuint renderbuffer = 0;   // back-buffer colour and depth-stencil surfaces
    GLuint texture = 0;        // a texture level
    uint32_t samples = 0;
    GlTexture* owner = nullptr;  // a texture level keeps its texture alive
    uint8_t* bits = nullptr;     // system-memory surfaces
    bool locked = false;
    bool deviceOwned = false;  // the back buffer and the automatic depth buffer: storage belongs to the device
    // Lockable targets (single-sampled render targets): which copy holds the pixels, and the current lock. A copy
    // into one reads the source straight into bits; the renderbuffer gets them when the GPU next uses it.
    uint8_t holder = 0;  // kHeldNowhere, kHeldOnDevice, kHeldInBits
    RDRect lockRect = {0, 0, 0, 0};
    bool lockWrites = false;
};
constexpr uint8_t kHeldNowhere = 0, kHeldOnDevice = 1, kHeldInBits = 2;

class GlTexture final : public RDTexture {
public:
    ~GlTexture() override;
    GLuint name = 0;
    uint8_t* copy = nullptr;  // managed textures: the pixels as uploaded, pitch width × bytesPerPixel
    uint32_t bytesPerPixel = 4;
    GLenum uploadFormat = GL_BGRA, uploadType = GL_UNSIGNED_BYTE;
    bool locked = false;
    bool readOnlyLock = false;
    RDRect dirty = {0, 0, 0, 0};
    GlSurface* level0 = nullptr;  // the surface GetSurfaceLevel handed out, while it lives
};

class GlVertexBuffer final : public RDVertexBuffer {
public:
    ~GlVertexBuffer() override;
    GLuint name = 0;
    uint8_t* shadow = nullptr;  // CPU copy when locks write to memory and unlock uploads
    bool locked = false;
    bool mapped = false;
    uint32_t lockOffset = 0, lockSize = 0, lockFlags = 0;
};

// A declared vertex layout and its vertex-array objects, one per program layout (the emulation's fixed
// locations, or a compiled program's), each remembering where its arrays point (gl_vdecl.cpp).
class GlVertexDeclaration final : public RDVertexDeclaration {
public:
    ~GlVertexDeclaration() override;
    struct Arrays {
        GLuint name = 0;
        const void* layout = nullptr;  // null: the emulation; else the compiled program
        GLuint program = 0;
        int8_t location[RD_MAX_DECL_ELEMENTS] = {};  // per element, -1 unused
        uint32_t enabled = 0;
        GLuint buffer = ~0u;
        uintptr_t offset = 0;
        uint32_t stride = 0;
    };
    static constexpr uint32_t kArrays = 4;
    Arrays arrays[kArrays];
    uint32_t nextEvicted = 0;
    uint32_t stride = 0;        // end of the last element
    uint32_t emulatedFvf = 0;   // what the emulation reads, as flexible-format bits (picks its variant)
    bool pretransformed = false;
    GlVertexDeclaration* prevLive = nullptr;
    GlVertexDeclaration* nextLive = nullptr;
};

// The shader variants and their uniform locations.
struct GlProgram {
    GLuint name = 0;
    GLint transform = -1, worldView = -1, world = -1, view = -1, projection = -1;
    GLint lighting = -1, ambient = -1, normalize = -1;
    GLint colourOp = -1, alphaOp = -1, textured = -1, alphaTest = -1;
    GLint fog = -1, fogParams = -1, fogColour = -1;
    // Fixed-function lighting (gl_light.cpp).
    GLint normalMatrix = -1, materialAmbient = -1, lightCount = -1, lightDiffuse = -1, lightPosition = -1,
          lightAttenuation = -1;
    uint32_t lightsSeen[2] = {~0u, ~0u};  // lighting and transform versions the lights were placed for
    uint32_t seen[5] = {~0u, ~0u, ~0u, ~0u, ~0u};  // uniform group versions last uploaded
};
// Variant bits: flat shading, texture coordinates present, fog on.
constexpr uint32_t kVariantFlat = 1, kVariantTextured = 2, kVariantFog = 4, kVariantCount = 8;
// Uniform groups, each with a version the device bumps when one of its values changes.
enum UniformGroup : uint32_t { kUGTransform, kUGStage, kUGAlphaTest, kUGFog, kUGLighting, kUGCount };
// Compiles and links one variant; false (with the log on the debug console) when GL refuses.
bool Program_Build(uint32_t variant, GlProgram* out);

class GlDevice final : public RenderDevice {
public:
    uint32_t GetAdapterCount() override;
    RDResult GetAdapterIdentifier(uint32_t adapter, RDAdapterIdentifier* out) override;
    RDResult GetAdapterDisplayMode(uint32_t adapter, RDDisplayMode* out) override;
    uint32_t GetAdapterModeCount(uint32_t adapter, uint32_t format) override;
    RDResult EnumAdapterModes(uint32_t adapter, uint32_t format, uint32_t mode, RDDisplayMode* out) override;
    RDResult GetDeviceCaps(uint32_t adapter, uint32_t deviceType, RDCaps* out) override;
    RDResult CheckDeviceMultiSampleType(uint32_t adapter, uint32_t deviceType, uint32_t format, int32_t windowed,
                                        uint32_t samples) override;

    RDResult CreateDevice(uint32_t adapter, uint32_t deviceType, void* window, uint32_t behaviourFlags,
                          RDPresentParams* params) override;
    bool HasDevice() override { return hasDevice_; }
    void ReleaseDevice() override;
    RDResult TestCooperativeLevel() override { return RD_OK; }
    RDResult Reset(RDPresentParams* params) override;
    RDResult BeginScene() override;
    RDResult EndScene() override;
    RDResult Present() override;
    RDResult Clear(uint32_t flags, uint32_t colourARGB, float z, uint32_t stencil) override;
    RDResult SetViewport(const RDViewport& viewport) override;
    RDResult GetViewport(RDViewport* out) override;

    RDResult SetRenderState(uint32_t state, uint32_t value) override
    {
        // The common case, a value the device already has, costs one compare.
        if (state < kRenderStates && renderStates_[state] == value) return RD_OK;
        return ChangeRenderState(state, value);
    }
    RDResult SetSamplerState(uint32_t sampler, uint32_t state, uint32_t value) override;
    RDResult SetTextureStageState(uint32_t stage, uint32_t state, uint32_t value) override;
    RDResult SetTransform(uint32_t which, const RDMatrix& matrix) override;

    RDResult CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, uint32_t format,
                           uint32_t pool, RDTexture** out) override;
    RDResult LockRect(RDTexture* texture, uint32_t level, RDLockedRect* out, const RDRect* rect,
                      uint32_t flags) override;
    RDResult UnlockRect(RDTexture* texture, uint32_t level) override;
    RDResult GetSurfaceLevel(RDTexture* texture, uint32_t level, RDSurface** out) override;
    RDResult SetTexture(uint32_t stage, RDTexture* texture) override;
    RDResult CreateDepthStencilSurface(uint32_t width, uint32_t height, uint32_t format, uint32_t samples,
                                       RDSurface** out) override;
    RDResult CreateRenderTarget(uint32_t width, uint32_t height, uint32_t format, uint32_t samples,
                                RDSurface** out) override;
    RDResult CreateOffscreenPlainSurface(uint32_t width, uint32_t height, uint32_t format, uint32_t pool,
                                         RDSurface** out) override;
    RDResult GetBackBuffer(RDSurface** out) override;
    RDResult GetRenderTarget(uint32_t index, RDSurface** out) override;
    RDResult SetRenderTarget(uint32_t index, RDSurface* surface) override;
    RDResult GetDepthStencilSurface(RDSurface** out) override;
    RDResult SetDepthStencilSurface(RDSurface* surface) override;
    RDResult StretchRect(RDSurface* source, const RDRect* sourceRect, RDSurface* dest, const RDRect* destRect,
                         uint32_t filter) override;
    RDResult GetRenderTargetData(RDSurface* target, RDSurface* dest) override;
    RDResult LockSurface(RDSurface* surface, RDLockedRect* out, const RDRect* rect, uint32_t flags) override;
    RDResult UnlockSurface(RDSurface* surface) override;

    RDResult CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                                RDVertexBuffer** out) override;
    RDResult LockVertexBuffer(RDVertexBuffer* buffer, uint32_t offset, uint32_t size, void** out,
                              uint32_t flags) override;
    RDResult UnlockVertexBuffer(RDVertexBuffer* buffer) override;
    RDResult SetStreamSource(uint32_t stream, RDVertexBuffer* buffer, uint32_t offset, uint32_t stride) override;
    RDResult SetFVF(uint32_t fvf) override;
    RDResult DrawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount) override;
    RDResult DrawPrimitiveUP(uint32_t type, uint32_t primitiveCount, const void* vertices, uint32_t stride) override;

    Counters FrameCounters() override { return {g_calls - frameCallBase_, frameDraws_}; }
    Counters LastFrameCounters() override { return last_; }

    // Compiled shader programs (gl_shader.cpp).
    RDResult SetShaderProgram(const CompiledProgram* program) override;
    RDResult SetShaderConstantF(uint8_t stage, uint32_t start, const float* values, uint32_t count) override;
    RDResult SetShaderConstantI(uint8_t stage, uint32_t start, const int32_t* values, uint32_t count) override;
    RDResult SetShaderConstantB(uint8_t stage, uint32_t start, const int32_t* values, uint32_t count) override;

    // Fixed-function lights and material (gl_light.cpp).
    RDResult SetLight(uint32_t index, const RDLight& light) override;
    RDResult LightEnable(uint32_t index, int32_t enable) override;
    RDResult SetMaterial(const RDMaterial& material) override;

    // Declared vertex layouts (gl_vdecl.cpp).
    RDResult CreateVertexDeclaration(const RDVertexElement* elements, RDVertexDeclaration** out) override;
    RDResult SetVertexDeclaration(RDVertexDeclaration* declaration) override;

    // Resources tell the device when GL storage goes away, so no shadow keeps a name GL may hand out again.
    void ForgetTexture(GLuint name);
    void ForgetRenderbuffer(GLuint name);
    void ForgetBuffer(GLuint name);

    bool mapVertexLocks = true;  // lock vertex buffers by mapping them (measured a little faster than a CPU copy)

    void BindArrayBuffer(GLuint buffer);

private:
    // Dirty groups of GL state, sent at the next draw or clear.
    enum : uint32_t {
        kDirtyBlend = 1u << 0,
        kDirtyDepth = 1u << 1,
        kDirtyCull = 1u << 2,
        kDirtyColourMask = 1u << 3,
        kDirtyStencil = 1u << 4,
        kDirtyFill = 1u << 5,
        kDirtyViewport = 1u << 6,
        kDirtyFramebuffer = 1u << 7,
        kDirtySamplers = 1u << 8,
        kDirtyTextures = 1u << 9,
        kDirtyScissor = 1u << 10,
        kDirtyAll = (1u << 11) - 1,
    };

    bool EnsureContext(void* window);
    void ReadLimits();
    void ResetShadow();
    bool AdapterValid(uint32_t adapter);
    RDResult ChangeRenderState(uint32_t state, uint32_t value);
    void SetDefaultStates(bool autoDepth);
    void BumpGroup(UniformGroup group) { ++groupVersion_[group]; }

    struct BackBufferStorage {
        uint32_t width = 0, height = 0, samples = 0;
        GLuint colour = 0, depth = 0, resolve = 0;
        GLuint fbo = 0, resolveFbo = 0;
        bool depthHasStencil = true;
    };
    RDResult AllocateBackBuffer(uint32_t width, uint32_t height, uint32_t samples, bool autoDepth,
                                uint32_t depthFormat, BackBufferStorage* out);
    void FreeBackBuffer(BackBufferStorage* storage);
    RDResult ApplyPresentParams(RDPresentParams* params, bool creating);
    void DropBindings();
    void ReleaseDeviceObjects();

    // Binding and state application.
    void BindDrawFramebuffer(GLuint fbo);
    void BindReadFramebuffer(GLuint fbo);
    void BindTextureUnit(uint32_t unit, GLuint texture);
    void SetScissor(bool on, GLint x, GLint y, GLint w, GLint h);
    void SetColourMask(uint32_t mask);
    void SetDepthMask(bool on);
    void SetStencilWriteMask(GLuint mask);
    void SetUnpackRowLength(GLint length);
    void Attach(GlFramebuffer* fb, GLenum target, uint32_t slot, GlSurface* surface);
    void AttachDepth(GlFramebuffer* fb, GlSurface* surface);
    void ApplyFramebuffer();
    bool ApplyDrawState(uint32_t fvf);
    void ApplyBlend();
    void ApplyDepth();
    void ApplyCull();
    void ApplyStencil();
    void ApplyFill();
    void ApplyViewport();
    void ApplySamplers();
    void UploadUniforms(GlProgram* program);
    void UpdateTransform();
    bool SetupAttributes(GLuint buffer, uintptr_t offset, uint32_t stride, uint32_t fvf);
    // Binds what a surface reads from for blits and read-back (resolving a multisampled back buffer first).
    bool BindReadSurface(GlSurface* surface);
    // Lockable targets (single-sampled render targets): locks read the rectangle back, unlocks write it.
    RDResult LockTarget(GlSurface* surface, RDLockedRect* out, const RDRect* rect, uint32_t flags);
    RDResult UnlockTarget(GlSurface* surface);
    bool Lockable(const GlSurface* s) const
    {
        return s->kind == SurfaceKind::RenderTarget && !s->samples && s->renderbuffer;
    }
    // Before the GPU reads or draws a lockable target: pixels held in bits go to the renderbuffer.
    void SyncTarget(GlSurface* surface);
    void UploadTargetRect(GlSurface* surface, const RDRect& rect);
    // An unscaled copy into a lockable target that is not bound: the source rectangle read into its bits.
    bool CaptureInto(GlSurface* source, const RDRect& sourceRect, GlSurface* dest, const RDRect& destRect);
    // glReadPixels of the bound read buffer as B, G, R, A bytes (rows of rowLength pixels), in the order the driver
    // reads fastest: some only copy red-first rows, and swapping after is cheaper than their conversion.
    void ReadBgra(const RDRect& rect, uint8_t* out, uint32_t rowLength);
    int8_t readsRedFirst_ = -1;  // -1 not asked yet
    // The storage of the last single-sampled target let go, taken by the next one of its size and format:
    // read-back makes a temporary target per call, and making the storage again costs more than the copy.
    struct SpareTarget {
        GLuint renderbuffer = 0;
        uint8_t* bits = nullptr;
        uint32_t width = 0, height = 0, format = 0;
    } spareTarget_;
    void FreeSpareTarget();

public:
    // A single-sampled target's destructor offers its storage; true when the device kept it.
    bool KeepSpareTarget(GlSurface* surface);

private:
    RDResult DrawArrays(uint32_t type, uint32_t first, uint32_t primitiveCount, uint32_t* vertexCount);
    GlSurface* TargetSurface() const { return targets_[0]; }
    void UploadTextureRect(GlTexture* texture, const RDRect& rect);

    bool hasDevice_ = false;
    bool inScene_ = false;

    // Context and the windows it lives on.
    void* context_ = nullptr;     // SDL_GLContext
    void* hiddenWindow_ = nullptr;  // SDL_Window* made for adapter queries before the real one exists
    void* window_ = nullptr;        // the window the device presents to
    char renderer_[512] = {}, vendor_[128] = {}, version_[128] = {};
    GLint maxTextureSize_ = 0, maxRenderbufferSize_ = 0, maxSamples_ = 0;

    GlShadow gl_;
    BackBufferStorage bb_;
    GlSurface* backBuffer_ = nullptr;
    GlSurface* autoDepth_ = nullptr;
    GlFramebuffer readScratch_, drawScratch_;
    GlFramebuffer targetFbos_[kTargetFbos];  // names made on first use
    uint64_t targetFboUse_[kTargetFbos] = {};
    uint64_t targetFboClock_ = 0;
    struct FramebufferList {
        GlFramebuffer* items[kTargetFbos + 2];
        GlFramebuffer** begin() { return items; }
        GlFramebuffer** end() { return items + kTargetFbos + 2; }
    };
    FramebufferList AllFramebuffers()
    {
        FramebufferList list{};
        for (uint32_t i = 0; i < kTargetFbos; ++i) list.items[i] = &targetFbos_[i];
        list.items[kTargetFbos] = &readScratch_;
        list.items[kTargetFbos + 1] = &drawScratch_;
        return list;
    }
    GLuint vao_ = 0;
    GLuint samplers_[kStages] = {};
    GLint samplerGl_[kStages][4] = {};  // magnification, minification, wrap s, wrap t as GL has them
    GLuint streamBuffer_ = 0;
    uint32_t streamCapacity_ = 0, streamOffset_ = 0;
    GlProgram programs_[kVariantCount];
    bool programFailed_[kVariantCount] = {};

    // Device state as the engine set it.
    uint32_t renderStates_[kRenderStates] = {};
    uint32_t samplerStates_[kStages][14] = {};
    uint32_t stageStates_[kStages][kStageStates] = {};
    RDMatrix world_{}, view_{}, projection_{};
    float transform_[16] = {}, worldView_[16] = {};
    bool transformDirty_ = true;
    RDViewport viewport_{};
    GlSurface* targets_[kTargets] = {};
    GlSurface* depthSurface_ = nullptr;
    GlTexture* textures_[kStages] = {};
    GlVertexBuffer* stream_ = nullptr;
    uint32_t streamStride_ = 0, streamByteOffset_ = 0;
    uint32_t fvf_ = 0;
    uint32_t presentInterval_ = RD_PRESENT_INTERVAL_DEFAULT;
    int swapInterval_ = -2;  // what SDL was last asked for; -2 nothing yet

    uint32_t dirty_ = kDirtyAll;
    uint32_t samplerDirty_ = 0;  // bit per stage
    uint32_t groupVersion_[kUGCount] = {};

    uint64_t frameCallBase_ = 0;
    uint64_t frameDraws_ = 0;
    Counters last_;

    // Fixed-function lighting (gl_light.cpp): lights 0..7 as set, which are on, the material, and the normal
    // matrix (inverse transpose of world × view, column-major for GL).
    static constexpr uint32_t kLights = 8;
    RDLight lights_[kLights] = {};
    bool lightOn_[kLights] = {};
    RDMaterial material_ = {};
    float normalMatrix_[9] = {};
    void ResetLights();
    void UpdateNormalMatrix(const RDMatrix& worldView);
    void UploadLights(GlProgram* program);

    // The compiled shader program in place of the emulation, and the constant registers it reads.
    bool ApplyShaderState();
    bool SetupShaderAttributes(GLuint buffer, uintptr_t offset, uint32_t stride, uint32_t fvf);
    const CompiledProgram* shader_ = nullptr;
    uint64_t shaderRegisterVersion_ = 1;
    struct ShaderSent {
        GLuint program = 0;
        uint64_t registers = 0;
        uint32_t alphaTest = ~0u;
        float halfPixel[2] = {-1.0f, -1.0f};
        GLuint attribBuffer = ~0u;
        uintptr_t attribOffset = 0;
        uint32_t attribStride = 0, attribFvf = 0;
    } shaderSent_;

    // Declared vertex layouts (gl_vdecl.cpp): the one set, and whether one of its vertex-array objects is
    // bound in place of vao_ (only during a draw of it).
    GlVertexDeclaration* declaration_ = nullptr;
    bool declarationArraysBound_ = false;
    void UseDefaultVertexArray()
    {
        if (!declarationArraysBound_) return;
        KGL(glBindVertexArray(vao_));
        declarationArraysBound_ = false;
    }
    RDResult DrawDeclared(uint32_t type, uint32_t startVertex, uint32_t primitiveCount, const void* vertices,
                          uint32_t stride);
    bool BindDeclarationArrays(GlVertexDeclaration* d, GLuint buffer, uintptr_t offset, uint32_t stride);
    // Device release: every declaration's vertex-array objects go with the context.
    void ForgetDeclarations();
};

GlDevice* Device();

}  // namespace gldev
