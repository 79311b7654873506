// Placeholder until the OpenGL device lands: nothing is available.
#include "platform/gl_device.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace {

class GlDevice final : public RenderDevice {
public:
    uint32_t GetAdapterCount() override { return 0; }
    RDResult GetAdapterIdentifier(uint32_t adapter, RDAdapterIdentifier* out) override { return RDERR_NOTAVAILABLE; }
    RDResult GetAdapterDisplayMode(uint32_t adapter, RDDisplayMode* out) override { return RDERR_NOTAVAILABLE; }
    uint32_t GetAdapterModeCount(uint32_t adapter, uint32_t format) override { return 0; }
    RDResult EnumAdapterModes(uint32_t adapter, uint32_t format, uint32_t mode, RDDisplayMode* out) override { return RDERR_NOTAVAILABLE; }
    RDResult GetDeviceCaps(uint32_t adapter, uint32_t deviceType, RDCaps* out) override { return RDERR_NOTAVAILABLE; }
    RDResult CheckDeviceMultiSampleType(uint32_t adapter, uint32_t deviceType, uint32_t format, int32_t windowed, uint32_t samples) override { return RDERR_NOTAVAILABLE; }
    RDResult CreateDevice(uint32_t adapter, uint32_t deviceType, void* window, uint32_t behaviourFlags, RDPresentParams* params) override { return RDERR_NOTAVAILABLE; }
    bool HasDevice() override { return false; }
    void ReleaseDevice() override { return; }
    RDResult TestCooperativeLevel() override { return RDERR_NOTAVAILABLE; }
    RDResult Reset(RDPresentParams* params) override { return RDERR_NOTAVAILABLE; }
    RDResult BeginScene() override { return RDERR_NOTAVAILABLE; }
    RDResult EndScene() override { return RDERR_NOTAVAILABLE; }
    RDResult Present() override { return RDERR_NOTAVAILABLE; }
    RDResult Clear(uint32_t flags, uint32_t colourARGB, float z, uint32_t stencil) override { return RDERR_NOTAVAILABLE; }
    RDResult SetViewport(const RDViewport& viewport) override { return RDERR_NOTAVAILABLE; }
    RDResult GetViewport(RDViewport* out) override { return RDERR_NOTAVAILABLE; }
    RDResult SetRenderState(uint32_t state, uint32_t value) override { return RDERR_NOTAVAILABLE; }
    RDResult SetSamplerState(uint32_t sampler, uint32_t state, uint32_t value) override { return RDERR_NOTAVAILABLE; }
    RDResult SetTextureStageState(uint32_t stage, uint32_t state, uint32_t value) override { return RDERR_NOTAVAILABLE; }
    RDResult SetTransform(uint32_t which, const RDMatrix& matrix) override { return RDERR_NOTAVAILABLE; }
    RDResult CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, uint32_t format, uint32_t pool, RDTexture** out) override { return RDERR_NOTAVAILABLE; }
    RDResult LockRect(RDTexture* texture, uint32_t level, RDLockedRect* out, const RDRect* rect, uint32_t flags) override { return RDERR_NOTAVAILABLE; }
    RDResult UnlockRect(RDTexture* texture, uint32_t level) override { return RDERR_NOTAVAILABLE; }
    RDResult GetSurfaceLevel(RDTexture* texture, uint32_t level, RDSurface** out) override { return RDERR_NOTAVAILABLE; }
    RDResult SetTexture(uint32_t stage, RDTexture* texture) override { return RDERR_NOTAVAILABLE; }
    RDResult CreateDepthStencilSurface(uint32_t width, uint32_t height, uint32_t format, uint32_t samples, RDSurface** out) override { return RDERR_NOTAVAILABLE; }
    RDResult CreateOffscreenPlainSurface(uint32_t width, uint32_t height, uint32_t format, uint32_t pool, RDSurface** out) override { return RDERR_NOTAVAILABLE; }
    RDResult GetBackBuffer(RDSurface** out) override { return RDERR_NOTAVAILABLE; }
    RDResult GetRenderTarget(uint32_t index, RDSurface** out) override { return RDERR_NOTAVAILABLE; }
    RDResult SetRenderTarget(uint32_t index, RDSurface* surface) override { return RDERR_NOTAVAILABLE; }
    RDResult GetDepthStencilSurface(RDSurface** out) override { return RDERR_NOTAVAILABLE; }
    RDResult SetDepthStencilSurface(RDSurface* surface) override { return RDERR_NOTAVAILABLE; }
    RDResult StretchRect(RDSurface* source, const RDRect* sourceRect, RDSurface* dest, const RDRect* destRect, uint32_t filter) override { return RDERR_NOTAVAILABLE; }
    RDResult GetRenderTargetData(RDSurface* target, RDSurface* dest) override { return RDERR_NOTAVAILABLE; }
    RDResult LockSurface(RDSurface* surface, RDLockedRect* out, const RDRect* rect, uint32_t flags) override { return RDERR_NOTAVAILABLE; }
    RDResult UnlockSurface(RDSurface* surface) override { return RDERR_NOTAVAILABLE; }
    RDResult CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool, RDVertexBuffer** out) override { return RDERR_NOTAVAILABLE; }
    RDResult LockVertexBuffer(RDVertexBuffer* buffer, uint32_t offset, uint32_t size, void** out, uint32_t flags) override { return RDERR_NOTAVAILABLE; }
    RDResult UnlockVertexBuffer(RDVertexBuffer* buffer) override { return RDERR_NOTAVAILABLE; }
    RDResult SetStreamSource(uint32_t stream, RDVertexBuffer* buffer, uint32_t offset, uint32_t stride) override { return RDERR_NOTAVAILABLE; }
    RDResult SetFVF(uint32_t fvf) override { return RDERR_NOTAVAILABLE; }
    RDResult DrawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount) override { return RDERR_NOTAVAILABLE; }
    RDResult DrawPrimitiveUP(uint32_t type, uint32_t primitiveCount, const void* vertices, uint32_t stride) override { return RDERR_NOTAVAILABLE; }
    Counters FrameCounters() override { return {}; }
    Counters LastFrameCounters() override { return {}; }
};

}  // namespace

RenderDevice* GL_Device()
{
    static GlDevice device;
    return &device;
}
