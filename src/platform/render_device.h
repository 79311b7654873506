// The rendering device the graphics back end draws through: the operations of a fixed-function device
// and of the interface that lists adapters and creates it. Values (states, formats, flags, results) keep the
// numbers the engine's render-state tables and device code use, so the engine passes them through unchanged.
// One implementation renders with OpenGL 3.3 core; tests install a recording one.
#pragma once
#include <cstdint>

struct CompiledProgram;  // platform/shader_compiler.h

// Results: 0 succeeds, anything negative fails (the engine logs the value in hexadecimal).
using RDResult = int32_t;
constexpr RDResult RD_OK = 0;
constexpr RDResult RDERR_NOTAVAILABLE = int32_t(0x8876086Au);
constexpr RDResult RDERR_INVALIDCALL = int32_t(0x8876086Cu);
constexpr RDResult RDERR_NOTFOUND = int32_t(0x88760866u);  // no surface in that slot
constexpr RDResult RDERR_DEVICELOST = int32_t(0x88760868u);
constexpr RDResult RDERR_DEVICENOTRESET = int32_t(0x88760869u);
constexpr RDResult RDERR_OUTOFVIDEOMEMORY = int32_t(0x8876017Cu);
constexpr RDResult RDERR_WASSTILLDRAWING = int32_t(0x8876021Cu);
constexpr bool RD_Failed(RDResult r) { return r < 0; }

// Pixel formats.
constexpr uint32_t RDFMT_UNKNOWN = 0;
constexpr uint32_t RDFMT_A8R8G8B8 = 21;  // bytes B, G, R, A in memory
constexpr uint32_t RDFMT_X8R8G8B8 = 22;
constexpr uint32_t RDFMT_R5G6B5 = 23;
constexpr uint32_t RDFMT_A4R4G4B4 = 26;
constexpr uint32_t RDFMT_D32 = 71;
constexpr uint32_t RDFMT_R16F = 111;
constexpr uint32_t RDFMT_R32F = 114;
constexpr uint32_t RDFMT_D24S8 = 75;
constexpr uint32_t RDFMT_D16 = 80;

// Device creation.
constexpr uint32_t RD_DEVTYPE_HAL = 1;
constexpr uint32_t RD_CREATE_FPU_PRESERVE = 0x02;
constexpr uint32_t RD_CREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
constexpr uint32_t RD_CREATE_HARDWARE_VERTEXPROCESSING = 0x40;
constexpr uint32_t RD_SWAPEFFECT_DISCARD = 1;
constexpr uint32_t RD_SWAPEFFECT_COPY = 3;
constexpr uint32_t RD_SWAPEFFECT_FLIPEX = 5;
constexpr uint32_t RD_PRESENT_INTERVAL_DEFAULT = 0;
constexpr uint32_t RD_PRESENT_INTERVAL_ONE = 1;
constexpr uint32_t RD_PRESENT_INTERVAL_IMMEDIATE = 0x80000000u;

// Clear flags.
constexpr uint32_t RDCLEAR_TARGET = 1;
constexpr uint32_t RDCLEAR_ZBUFFER = 2;
constexpr uint32_t RDCLEAR_STENCIL = 4;

// Render states the engine sends (the device's numbering).
enum RDRenderState : uint32_t {
    RDRS_ZENABLE = 7,
    RDRS_FILLMODE = 8,
    RDRS_SHADEMODE = 9,
    RDRS_ZWRITEENABLE = 14,
    RDRS_ALPHATESTENABLE = 15,
    RDRS_SRCBLEND = 19,
    RDRS_DESTBLEND = 20,
    RDRS_CULLMODE = 22,
    RDRS_ZFUNC = 23,
    RDRS_ALPHAREF = 24,
    RDRS_ALPHAFUNC = 25,
    RDRS_ALPHABLENDENABLE = 27,
    RDRS_FOGENABLE = 28,
    RDRS_FOGCOLOR = 34,
    RDRS_FOGTABLEMODE = 35,
    RDRS_FOGSTART = 36,  // float bits
    RDRS_FOGEND = 37,    // float bits
    RDRS_RANGEFOGENABLE = 48,
    RDRS_STENCILENABLE = 52,
    RDRS_STENCILFAIL = 53,
    RDRS_STENCILZFAIL = 54,
    RDRS_STENCILPASS = 55,
    RDRS_STENCILFUNC = 56,
    RDRS_STENCILREF = 57,
    RDRS_STENCILMASK = 58,
    RDRS_STENCILWRITEMASK = 59,
    RDRS_LIGHTING = 137,
    RDRS_AMBIENT = 139,
    RDRS_FOGVERTEXMODE = 140,
    RDRS_NORMALIZENORMALS = 143,
    RDRS_COLORWRITEENABLE = 168,
    RDRS_BLENDOP = 171,
    RDRS_SEPARATEALPHABLENDENABLE = 206,
    RDRS_SRCBLENDALPHA = 207,
    RDRS_DESTBLENDALPHA = 208,
};
// Sampler states and their values.
enum RDSamplerState : uint32_t {
    RDSAMP_ADDRESSU = 1,
    RDSAMP_ADDRESSV = 2,
    RDSAMP_MAGFILTER = 5,
    RDSAMP_MINFILTER = 6,
    RDSAMP_MIPFILTER = 7,
};
constexpr uint32_t RDTADDRESS_WRAP = 1;
constexpr uint32_t RDTADDRESS_CLAMP = 3;
constexpr uint32_t RDTEXF_NONE = 0;
constexpr uint32_t RDTEXF_POINT = 1;
constexpr uint32_t RDTEXF_LINEAR = 2;

// Texture-stage operations (stage 0 colour and alpha; later stages disabled).
enum RDTextureStageState : uint32_t {
    RDTSS_COLOROP = 1,
    RDTSS_COLORARG1 = 2,
    RDTSS_COLORARG2 = 3,
    RDTSS_ALPHAOP = 4,
    RDTSS_ALPHAARG1 = 5,
    RDTSS_ALPHAARG2 = 6,
};
constexpr uint32_t RDTOP_DISABLE = 1;
constexpr uint32_t RDTOP_SELECTARG1 = 2;
constexpr uint32_t RDTOP_SELECTARG2 = 3;
constexpr uint32_t RDTOP_MODULATE = 4;
constexpr uint32_t RDTA_DIFFUSE = 0;
constexpr uint32_t RDTA_TEXTURE = 2;

// Transforms.
enum RDTransform : uint32_t { RDTS_VIEW = 2, RDTS_PROJECTION = 3, RDTS_WORLD = 256 };

// Primitive types.
enum RDPrimitive : uint32_t {
    RDPT_POINTLIST = 1,
    RDPT_LINELIST = 2,
    RDPT_LINESTRIP = 3,
    RDPT_TRIANGLELIST = 4,
    RDPT_TRIANGLESTRIP = 5,
    RDPT_TRIANGLEFAN = 6,
};

// Flexible vertex formats the engine draws with: position xyz (0x02), normal (0x10), diffuse colour (0x40,
// BGRA bytes), one texture coordinate pair (0x100).
constexpr uint32_t RDFVF_XYZ = 0x002;
constexpr uint32_t RDFVF_NORMAL = 0x010;
constexpr uint32_t RDFVF_DIFFUSE = 0x040;
constexpr uint32_t RDFVF_TEX1 = 0x100;

// Usage, pools and locks.
constexpr uint32_t RDUSAGE_RENDERTARGET = 0x1;
constexpr uint32_t RDUSAGE_DEPTHSTENCIL = 0x2;
constexpr uint32_t RDUSAGE_WRITEONLY = 0x8;
constexpr uint32_t RDUSAGE_DYNAMIC = 0x200;
constexpr uint32_t RDPOOL_DEFAULT = 0;
constexpr uint32_t RDPOOL_MANAGED = 1;
constexpr uint32_t RDPOOL_SYSTEMMEM = 2;
constexpr uint32_t RDLOCK_READONLY = 0x10;
constexpr uint32_t RDLOCK_NOOVERWRITE = 0x1000;
constexpr uint32_t RDLOCK_DISCARD = 0x2000;

// Raster caps bits the engine reads.
constexpr uint32_t RDPRASTERCAPS_FOGVERTEX = 0x80;
constexpr uint32_t RDPRASTERCAPS_FOGTABLE = 0x100;

struct RDRect {
    int32_t left, top, right, bottom;
};

struct RDViewport {
    uint32_t x, y, width, height;
    float minZ, maxZ;
};

// Row-major 4 × 4, row vectors (v' = v · M), as the engine builds its matrices.
struct RDMatrix {
    float m[4][4];
};

struct RDLockedRect {
    int32_t pitch;
    void* bits;
};

struct RDDisplayMode {
    uint32_t width, height;
    uint32_t refreshRate;  // Hz; 0 unknown
    uint32_t format;       // RDFMT_X8R8G8B8 for 32 bits per pixel, RDFMT_R5G6B5 for 16
};

struct RDAdapterIdentifier {
    char description[512];  // the renderer's name
    char deviceName[32];    // the display's name
    char vendor[128];
    char version[128];
};

struct RDCaps {
    uint32_t deviceType;  // RD_DEVTYPE_HAL for a hardware device
    uint32_t adapterOrdinal;
    uint32_t masterAdapterOrdinal;
    uint32_t numberOfAdaptersInGroup;  // 0 for a subordinate of a group
    uint32_t rasterCaps;
    uint32_t maxTextureWidth, maxTextureHeight;
    uint32_t numSimultaneousRTs;
    uint32_t vertexShaderVersion;  // 0xFFFE0300 for 3.0
    uint32_t pixelShaderVersion;   // 0xFFFF0300 for 3.0
    uint32_t maxSamples;           // highest multisample count the device accepts
};

struct RDPresentParams {
    uint32_t backBufferWidth, backBufferHeight;
    uint32_t backBufferFormat;
    uint32_t backBufferCount;
    uint32_t multiSampleType;  // 0, 2, 4, 8 or 16
    uint32_t multiSampleQuality;
    uint32_t swapEffect;
    void* deviceWindow;  // the platform window
    int32_t windowed;
    int32_t enableAutoDepthStencil;
    uint32_t autoDepthStencilFormat;
    uint32_t flags;
    uint32_t fullScreenRefreshRate;
    uint32_t presentationInterval;
};

// Fixed-function lighting: light kinds, a light record and the material (colours as floats 0..1).
constexpr uint32_t RDLIGHT_POINT = 1;
constexpr uint32_t RDLIGHT_DIRECTIONAL = 3;
struct RDColourValue {
    float r, g, b, a;
};
struct RDVector3 {
    float x, y, z;
};
struct RDLight {
    uint32_t type;
    RDColourValue diffuse, specular, ambient;
    RDVector3 position, direction;  // world space; a direction points away from the light
    float range, falloff;
    float attenuation0, attenuation1, attenuation2;
    float theta, phi;
};
struct RDMaterial {
    RDColourValue diffuse, ambient, specular, emissive;
    float power;
};

// Device resources are reference counted: a creation or a Get… hands over one reference, Release drops one and
// the last frees the resource.
class RDResource {
public:
    virtual ~RDResource() = default;
    void AddRef() { ++references_; }
    // Returns the references left.
    uint32_t Release()
    {
        const uint32_t left = --references_;
        if (left == 0) delete this;
        return left;
    }

protected:
    RDResource() = default;

private:
    uint32_t references_ = 1;
};

// A 2D image: a level of a texture, a render target's colour, a depth-stencil buffer, or a system-memory copy.
class RDSurface : public RDResource {
public:
    uint32_t width = 0, height = 0, format = RDFMT_UNKNOWN, usage = 0, pool = RDPOOL_DEFAULT;
};

class RDTexture : public RDResource {
public:
    uint32_t width = 0, height = 0, format = RDFMT_UNKNOWN, usage = 0, pool = RDPOOL_MANAGED;
};

class RDVertexBuffer : public RDResource {
public:
    uint32_t length = 0, usage = 0, fvf = 0, pool = RDPOOL_DEFAULT;
};

// Declared vertex layouts: elements of stream 0, each a typed value at a byte offset with a usage and a usage
// index. Types and usages keep the device's numbering (usages as SDU_* in platform/shader_compiler.h).
constexpr uint8_t RDDECLTYPE_FLOAT1 = 0;
constexpr uint8_t RDDECLTYPE_FLOAT2 = 1;
constexpr uint8_t RDDECLTYPE_FLOAT3 = 2;
constexpr uint8_t RDDECLTYPE_FLOAT4 = 3;
constexpr uint8_t RDDECLTYPE_D3DCOLOR = 4;  // bytes B, G, R, A read as normalised colour
constexpr uint8_t RDDECLTYPE_UBYTE4 = 5;    // four bytes read as they are
constexpr uint8_t RDDECLTYPE_UNUSED = 17;
constexpr uint8_t RDDECLUSAGE_POSITION = 0;
constexpr uint8_t RDDECLUSAGE_BLENDWEIGHT = 1;
constexpr uint8_t RDDECLUSAGE_NORMAL = 3;
constexpr uint8_t RDDECLUSAGE_TEXCOORD = 5;
constexpr uint8_t RDDECLUSAGE_TANGENT = 6;
constexpr uint8_t RDDECLUSAGE_BINORMAL = 7;
constexpr uint8_t RDDECLUSAGE_TESSFACTOR = 8;
constexpr uint8_t RDDECLUSAGE_POSITIONT = 9;
constexpr uint8_t RDDECLUSAGE_COLOR = 10;
constexpr uint8_t RDDECLUSAGE_FOG = 11;
constexpr uint8_t RDDECLUSAGE_DEPTH = 12;
constexpr uint8_t RDDECLUSAGE_SAMPLE = 13;
constexpr uint32_t RD_MAX_DECL_ELEMENTS = 32;
struct RDVertexElement {
    uint16_t stream;  // 0xFF ends a list
    uint16_t offset;
    uint8_t type, method, usage, usageIndex;
};
class RDVertexDeclaration : public RDResource {
public:
    RDVertexElement elements[RD_MAX_DECL_ELEMENTS] = {};  // without the end marker
    uint32_t count = 0;
};

// The interface and its one device. Creation, adapter queries and the device operations are all here: there is
// at most one device, made by CreateDevice and ended by ReleaseDevice.
class RenderDevice {
public:
    virtual ~RenderDevice() = default;

    // Adapters and modes.
    virtual uint32_t GetAdapterCount() = 0;
    virtual RDResult GetAdapterIdentifier(uint32_t adapter, RDAdapterIdentifier* out) = 0;
    virtual RDResult GetAdapterDisplayMode(uint32_t adapter, RDDisplayMode* out) = 0;
    virtual uint32_t GetAdapterModeCount(uint32_t adapter, uint32_t format) = 0;
    virtual RDResult EnumAdapterModes(uint32_t adapter, uint32_t format, uint32_t mode, RDDisplayMode* out) = 0;
    virtual RDResult GetDeviceCaps(uint32_t adapter, uint32_t deviceType, RDCaps* out) = 0;
    virtual RDResult CheckDeviceMultiSampleType(uint32_t adapter, uint32_t deviceType, uint32_t format,
                                                int32_t windowed, uint32_t samples) = 0;

    // The device.
    virtual RDResult CreateDevice(uint32_t adapter, uint32_t deviceType, void* window, uint32_t behaviourFlags,
                                  RDPresentParams* params) = 0;
    virtual bool HasDevice() = 0;
    virtual void ReleaseDevice() = 0;
    virtual RDResult TestCooperativeLevel() = 0;
    virtual RDResult Reset(RDPresentParams* params) = 0;
    virtual RDResult BeginScene() = 0;
    virtual RDResult EndScene() = 0;
    virtual RDResult Present() = 0;
    virtual RDResult Clear(uint32_t flags, uint32_t colourARGB, float z, uint32_t stencil) = 0;
    virtual RDResult SetViewport(const RDViewport& viewport) = 0;
    virtual RDResult GetViewport(RDViewport* out) = 0;

    // State.
    virtual RDResult SetRenderState(uint32_t state, uint32_t value) = 0;
    virtual RDResult SetSamplerState(uint32_t sampler, uint32_t state, uint32_t value) = 0;
    virtual RDResult SetTextureStageState(uint32_t stage, uint32_t state, uint32_t value) = 0;
    virtual RDResult SetTransform(uint32_t which, const RDMatrix& matrix) = 0;

    // Textures and surfaces.
    virtual RDResult CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, uint32_t format,
                                   uint32_t pool, RDTexture** out) = 0;
    virtual RDResult LockRect(RDTexture* texture, uint32_t level, RDLockedRect* out, const RDRect* rect,
                              uint32_t flags) = 0;
    virtual RDResult UnlockRect(RDTexture* texture, uint32_t level) = 0;
    virtual RDResult GetSurfaceLevel(RDTexture* texture, uint32_t level, RDSurface** out) = 0;
    virtual RDResult SetTexture(uint32_t stage, RDTexture* texture) = 0;
    virtual RDResult CreateDepthStencilSurface(uint32_t width, uint32_t height, uint32_t format, uint32_t samples,
                                               RDSurface** out) = 0;
    // A multisampled colour surface drawing can go to (resolved into a texture with StretchRect). Devices that
    // cannot make one refuse.
    virtual RDResult CreateRenderTarget(uint32_t, uint32_t, uint32_t, uint32_t, RDSurface** out)
    {
        if (out) *out = nullptr;
        return RDERR_NOTAVAILABLE;
    }
    virtual RDResult CreateOffscreenPlainSurface(uint32_t width, uint32_t height, uint32_t format, uint32_t pool,
                                                 RDSurface** out) = 0;
    virtual RDResult GetBackBuffer(RDSurface** out) = 0;
    virtual RDResult GetRenderTarget(uint32_t index, RDSurface** out) = 0;
    virtual RDResult SetRenderTarget(uint32_t index, RDSurface* surface) = 0;
    virtual RDResult GetDepthStencilSurface(RDSurface** out) = 0;
    virtual RDResult SetDepthStencilSurface(RDSurface* surface) = 0;
    virtual RDResult StretchRect(RDSurface* source, const RDRect* sourceRect, RDSurface* dest, const RDRect* destRect,
                                 uint32_t filter) = 0;
    // Copies a render target into a system-memory surface of its size, which LockSurface then reads.
    virtual RDResult GetRenderTargetData(RDSurface* target, RDSurface* dest) = 0;
    virtual RDResult LockSurface(RDSurface* surface, RDLockedRect* out, const RDRect* rect, uint32_t flags) = 0;
    virtual RDResult UnlockSurface(RDSurface* surface) = 0;

    // Vertex buffers and drawing.
    virtual RDResult CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                                        RDVertexBuffer** out) = 0;
    virtual RDResult LockVertexBuffer(RDVertexBuffer* buffer, uint32_t offset, uint32_t size, void** out,
                                      uint32_t flags) = 0;
    virtual RDResult UnlockVertexBuffer(RDVertexBuffer* buffer) = 0;
    virtual RDResult SetStreamSource(uint32_t stream, RDVertexBuffer* buffer, uint32_t offset, uint32_t stride) = 0;
    virtual RDResult SetFVF(uint32_t fvf) = 0;
    virtual RDResult DrawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount) = 0;
    virtual RDResult DrawPrimitiveUP(uint32_t type, uint32_t primitiveCount, const void* vertices,
                                     uint32_t stride) = 0;

    // Fixed-function lighting (used while no shader program is set): lights 0..7 and the material.
    virtual RDResult SetLight(uint32_t, const RDLight&) { return RDERR_INVALIDCALL; }
    virtual RDResult LightEnable(uint32_t, int32_t) { return RDERR_INVALIDCALL; }
    virtual RDResult SetMaterial(const RDMaterial&) { return RDERR_INVALIDCALL; }

    // Counters of the frame now being drawn and of the last presented one (GL calls, draw calls).
    struct Counters {
        uint64_t calls = 0;
        uint64_t draws = 0;
    };
    virtual Counters FrameCounters() = 0;
    virtual Counters LastFrameCounters() = 0;

    // Programmable drawing: a compiled vertex and pixel program pair replaces the fixed-function emulation
    // while it is set (null puts the emulation back). The program stays the caller's and must outlive its use.
    // Constant registers are device state, kept across program changes: count float4, int4 or bool registers
    // of a stage (SC_STAGE_VERTEX / SC_STAGE_PIXEL) from start, sent to the program before each draw.
    virtual RDResult SetShaderProgram(const CompiledProgram*) { return RDERR_INVALIDCALL; }
    virtual RDResult SetShaderConstantF(uint8_t, uint32_t, const float*, uint32_t) { return RDERR_INVALIDCALL; }
    virtual RDResult SetShaderConstantI(uint8_t, uint32_t, const int32_t*, uint32_t) { return RDERR_INVALIDCALL; }
    virtual RDResult SetShaderConstantB(uint8_t, uint32_t, const int32_t*, uint32_t) { return RDERR_INVALIDCALL; }

    // Declared vertex layouts. A list ends with an element of stream 0xFF and holds at most
    // RD_MAX_DECL_ELEMENTS others. Setting a declaration replaces the flexible format; SetFVF drops it again.
    virtual RDResult CreateVertexDeclaration(const RDVertexElement*, RDVertexDeclaration** out)
    {
        if (out) *out = nullptr;
        return RDERR_INVALIDCALL;
    }
    virtual RDResult SetVertexDeclaration(RDVertexDeclaration*) { return RDERR_INVALIDCALL; }
};

// The device the back end draws through: the OpenGL one unless a test installed another. Never null.
RenderDevice* RenderDevice_Get();
// Tests install a device (null puts the OpenGL one back); the caller keeps ownership.
void RenderDevice_Set(RenderDevice* device);
