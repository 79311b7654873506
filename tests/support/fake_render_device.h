// A recording rendering device and a scripted display list for unit tests. The device logs every call as a
// line with its arguments ("SetRenderState(22,2)"), answers from a scripted adapter table, returns scripted
// results per operation name, and hands out small CPU-side textures, surfaces and vertex buffers.
// Install it with ScopedRenderDevice (or RenderDevice_Set), the display list with ScopedDisplaySource.
#pragma once
#include "platform/display_platform.h"
#include "platform/render_device.h"
#include "platform/shader_compiler.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kvtest {

struct FakeAdapter {
    RDAdapterIdentifier identifier{};
    bool currentModeReadable = true;
    RDDisplayMode current{};
    std::vector<RDDisplayMode> modes;  // EnumAdapterModes lists the modes of the format asked for, in this order
    RDCaps caps{};
    std::vector<uint32_t> multisamples;  // sample counts CheckDeviceMultiSampleType accepts
};

// Pixels of a texture level or a surface: rows of pitch bytes.
struct FakePixels {
    uint32_t width = 0, height = 0, format = RDFMT_UNKNOWN;
    int32_t pitch = 0;
    std::vector<uint8_t> bytes;
};

// Resources carry a name for the log ("tex1", "surf2", "vb3").
class FakeTexture final : public RDTexture {
public:
    std::string name;
    std::vector<std::shared_ptr<FakePixels>> levels;
};
class FakeSurface final : public RDSurface {
public:
    std::string name;
    std::shared_ptr<FakePixels> pixels;  // shared with the texture level it came from
};
class FakeVertexBuffer final : public RDVertexBuffer {
public:
    std::string name;
    std::vector<uint8_t> bytes;
};
class FakeVertexDeclaration final : public RDVertexDeclaration {
public:
    std::string name;
};

// One DrawPrimitive or DrawPrimitiveUP: its vertices as the device saw them.
struct FakeDraw {
    uint32_t type = 0, primitives = 0, stride = 0;
    std::vector<uint8_t> vertices;
};

class FakeRenderDevice final : public RenderDevice {
public:
    // One hardware adapter, 1024 x 768 at 60 Hz in 32 bits, with table fog and 4 render targets.
    static FakeAdapter DefaultAdapter();

    FakeRenderDevice();
    ~FakeRenderDevice() override;
    FakeRenderDevice(const FakeRenderDevice&) = delete;
    FakeRenderDevice& operator=(const FakeRenderDevice&) = delete;

    // ---- the script ----
    std::vector<FakeAdapter> adapters;
    // Standing answer of an operation ("CreateDevice"); RD_OK unless set.
    void SetResult(const std::string& name, RDResult result);
    // Answers for the next calls of an operation, one each, before the standing answer applies again.
    void QueueResults(const std::string& name, std::vector<RDResult> results);
    // The next `times` calls of an operation fail with the result (ahead of any queued answers).
    void FailNext(const std::string& name, RDResult result = RDERR_INVALIDCALL, int32_t times = 1);
    void ClearScript();

    // ---- the log ----
    std::vector<std::string> log;
    void ClearLog() { log.clear(); }
    // The lines of one operation, in order.
    std::vector<std::string> Calls(const std::string& name) const;
    size_t Count(const std::string& name) const { return Calls(name).size(); }
    // The log without the lines of the named operations (e.g. the queries HasDevice and GetDeviceCaps).
    std::vector<std::string> LogWithout(const std::vector<std::string>& names) const;

    // ---- what the device holds ----
    bool hasDevice = false;
    std::vector<RDPresentParams> createParams;  // each CreateDevice call's parameters, failed ones too
    std::vector<RDPresentParams> resetParams;   // each Reset call's parameters
    uint32_t createBehaviour = 0;               // the last successful CreateDevice's behaviour flags
    std::map<uint32_t, uint32_t> renderStates;                          // device state -> value
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> samplerStates;    // (sampler, state) -> value
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> textureStageStates;
    std::map<uint32_t, RDMatrix> transforms;
    RDViewport viewport{};
    RDTexture* boundTextures[8] = {};  // not referenced: what SetTexture was last given
    uint32_t fvf = 0;
    std::vector<FakeDraw> draws;
    int32_t scenes = 0;  // open scenes (BeginScene - EndScene)

    // ---- RenderDevice ----
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
    bool HasDevice() override;
    void ReleaseDevice() override;
    RDResult TestCooperativeLevel() override;
    RDResult Reset(RDPresentParams* params) override;
    RDResult BeginScene() override;
    RDResult EndScene() override;
    RDResult Present() override;
    RDResult Clear(uint32_t flags, uint32_t colourARGB, float z, uint32_t stencil) override;
    RDResult SetViewport(const RDViewport& viewport) override;
    RDResult GetViewport(RDViewport* out) override;
    RDResult SetRenderState(uint32_t state, uint32_t value) override;
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
    Counters FrameCounters() override;
    Counters LastFrameCounters() override;

    // Fixed-function lighting: what SetLight, LightEnable and SetMaterial were last given.
    std::map<uint32_t, RDLight> lights;
    std::map<uint32_t, int32_t> lightEnabled;
    RDMaterial material{};
    RDResult SetLight(uint32_t index, const RDLight& light) override;
    RDResult LightEnable(uint32_t index, int32_t enable) override;
    RDResult SetMaterial(const RDMaterial& material) override;

    // Shader programs: the one set (not owned) and the constant registers as written (the log has each write).
    const CompiledProgram* shaderProgram = nullptr;
    ShaderRegisters shaderRegisters{};
    RDResult SetShaderProgram(const CompiledProgram* program) override;
    RDResult SetShaderConstantF(uint8_t stage, uint32_t start, const float* values, uint32_t count) override;
    RDResult SetShaderConstantI(uint8_t stage, uint32_t start, const int32_t* values, uint32_t count) override;
    RDResult SetShaderConstantB(uint8_t stage, uint32_t start, const int32_t* values, uint32_t count) override;

    // Declared vertex layouts: the one set (not referenced; null after SetFVF). The log shows each element as
    // offset/type/usage/usage index.
    RDVertexDeclaration* declaration = nullptr;
    RDResult CreateVertexDeclaration(const RDVertexElement* elements, RDVertexDeclaration** out) override;
    RDResult SetVertexDeclaration(RDVertexDeclaration* declaration) override;

    // The surfaces the device holds (null when none).
    RDSurface* BackBuffer() const { return backBuffer_; }
    RDSurface* RenderTarget(uint32_t index) const { return index < 4 ? targets_[index] : nullptr; }
    RDSurface* DepthStencil() const { return depthStencil_; }

    // The name the log gives a resource.
    std::string NameOf(const RDResource* resource) const;

private:
    struct Failure {
        RDResult result;
        int32_t times;
    };
    // Logs the call and answers it from the script.
    RDResult Enter(const char* name, const std::string& arguments);
    void Note(const char* name, const std::string& arguments);
    FakeSurface* MakeSurface(uint32_t width, uint32_t height, uint32_t format);
    const FakeAdapter* Adapter(uint32_t adapter) const;
    void Hold(RDSurface** slot, RDSurface* surface);
    void DropSurfaces();
    void MakeSwapChain(const RDPresentParams& params);

    std::map<std::string, RDResult> standing_;
    std::map<std::string, std::deque<RDResult>> queued_;
    std::map<std::string, Failure> failures_;
    int32_t nextResource_ = 1;
    RDSurface* backBuffer_ = nullptr;
    RDSurface* targets_[4] = {};
    RDSurface* depthStencil_ = nullptr;
    RDVertexBuffer* stream_ = nullptr;  // not referenced
    uint32_t streamOffset_ = 0, streamStride_ = 0;
    Counters frame_, lastFrame_;
};

// Installs a device for the scope; the OpenGL one comes back after.
class ScopedRenderDevice {
public:
    explicit ScopedRenderDevice(RenderDevice* device) { RenderDevice_Set(device); }
    ~ScopedRenderDevice() { RenderDevice_Set(nullptr); }
    ScopedRenderDevice(const ScopedRenderDevice&) = delete;
    ScopedRenderDevice& operator=(const ScopedRenderDevice&) = delete;
};

struct FakeDisplay {
    std::string name = "Display 0";
    int32_t x = 0, y = 0;  // the size of the bounds is the current mode's
    bool currentModeReadable = true;
    PlatformDisplayMode current{1024, 768, 32, 60, false};
    std::vector<PlatformDisplayMode> modes;
};

// A desktop of scripted displays and a cursor; SetCursor calls are kept.
class FakeDisplaySource final : public DisplaySource {
public:
    std::vector<FakeDisplay> displays{FakeDisplay{}};
    bool cursorReadable = true;
    int32_t cursorX = 0, cursorY = 0;
    std::vector<std::pair<int32_t, int32_t>> cursorMoves;

    int32_t Count() override { return int32_t(displays.size()); }
    bool Name(int32_t display, char* out, size_t size) override;
    bool Bounds(int32_t display, int32_t* x, int32_t* y, int32_t* width, int32_t* height) override;
    bool CurrentMode(int32_t display, PlatformDisplayMode* out) override;
    int32_t ModeCount(int32_t display) override;
    bool Mode(int32_t display, int32_t index, PlatformDisplayMode* out) override;
    bool GetCursor(int32_t* x, int32_t* y) override;
    void SetCursor(int32_t x, int32_t y) override;

private:
    const FakeDisplay* Find(int32_t display) const;
};

class ScopedDisplaySource {
public:
    explicit ScopedDisplaySource(DisplaySource* source) { PlatformDisplay_Set(source); }
    ~ScopedDisplaySource() { PlatformDisplay_Set(nullptr); }
    ScopedDisplaySource(const ScopedDisplaySource&) = delete;
    ScopedDisplaySource& operator=(const ScopedDisplaySource&) = delete;
};

}  // namespace kvtest
