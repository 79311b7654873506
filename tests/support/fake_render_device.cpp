#include "fake_render_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kvtest {

namespace {

std::string Args() { return ""; }

template <typename... Rest>
std::string Args(uint32_t first, Rest... rest)
{
    std::string text = std::to_string(first);
    ((text += "," + std::to_string(rest)), ...);
    return text;
}

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

std::string Real(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", double(value));
    return text;
}

std::string RectText(const RDRect* rect)
{
    if (!rect) return "null";
    return "(" + std::to_string(rect->left) + "," + std::to_string(rect->top) + "," + std::to_string(rect->right) +
           "," + std::to_string(rect->bottom) + ")";
}

std::string ParamsText(const RDPresentParams* p)
{
    if (!p) return "null";
    char text[256];
    std::snprintf(text, sizeof text,
                  "%ux%u fmt%u count%u ms%u q%u swap%u windowed%d depth%d fmt%u flags%u rate%u interval0x%x",
                  p->backBufferWidth, p->backBufferHeight, p->backBufferFormat, p->backBufferCount,
                  p->multiSampleType, p->multiSampleQuality, p->swapEffect, p->windowed, p->enableAutoDepthStencil,
                  p->autoDepthStencilFormat, p->flags, p->fullScreenRefreshRate, p->presentationInterval);
    return text;
}

uint32_t BytesPerPixel(uint32_t format)
{
    return format == RDFMT_R5G6B5 || format == RDFMT_D16 || format == RDFMT_A4R4G4B4 ? 2 : 4;
}

std::shared_ptr<FakePixels> MakePixels(uint32_t width, uint32_t height, uint32_t format)
{
    auto pixels = std::make_shared<FakePixels>();
    pixels->width = width;
    pixels->height = height;
    pixels->format = format;
    pixels->pitch = int32_t(width * BytesPerPixel(format));
    pixels->bytes.assign(size_t(pixels->pitch) * height, 0);
    return pixels;
}

void LockPixels(FakePixels& pixels, const RDRect* rect, RDLockedRect* out)
{
    size_t offset = 0;
    if (rect) offset = size_t(rect->top) * size_t(pixels.pitch) + size_t(rect->left) * BytesPerPixel(pixels.format);
    out->pitch = pixels.pitch;
    out->bits = pixels.bytes.data() + offset;
}

// Vertices a draw of that many primitives reads.
uint32_t VertexCount(uint32_t type, uint32_t primitives)
{
    switch (type) {
    case RDPT_POINTLIST: return primitives;
    case RDPT_LINELIST: return primitives * 2;
    case RDPT_LINESTRIP: return primitives + 1;
    case RDPT_TRIANGLELIST: return primitives * 3;
    default: return primitives + 2;  // strips and fans
    }
}

}  // namespace

FakeAdapter FakeRenderDevice::DefaultAdapter()
{
    FakeAdapter a;
    std::snprintf(a.identifier.description, sizeof a.identifier.description, "Recording device");
    std::snprintf(a.identifier.deviceName, sizeof a.identifier.deviceName, "Display 0");
    std::snprintf(a.identifier.vendor, sizeof a.identifier.vendor, "Tests");
    std::snprintf(a.identifier.version, sizeof a.identifier.version, "1.0");
    a.current = {1024, 768, 60, RDFMT_X8R8G8B8};
    a.modes = {{640, 480, 60, RDFMT_X8R8G8B8}, {800, 600, 60, RDFMT_X8R8G8B8}, {1024, 768, 60, RDFMT_X8R8G8B8}};
    a.caps.deviceType = RD_DEVTYPE_HAL;
    a.caps.numberOfAdaptersInGroup = 1;
    a.caps.rasterCaps = RDPRASTERCAPS_FOGTABLE | RDPRASTERCAPS_FOGVERTEX;
    a.caps.maxTextureWidth = a.caps.maxTextureHeight = 8192;
    a.caps.numSimultaneousRTs = 4;
    a.caps.vertexShaderVersion = 0xFFFE0300;
    a.caps.pixelShaderVersion = 0xFFFF0300;
    a.caps.maxSamples = 8;
    a.multisamples = {2, 4, 8};
    return a;
}

FakeRenderDevice::FakeRenderDevice() : adapters{DefaultAdapter()} {}

FakeRenderDevice::~FakeRenderDevice() { DropSurfaces(); }

// ---- script and log ------------------------------------------------------------------------------------

void FakeRenderDevice::SetResult(const std::string& name, RDResult result) { standing_[name] = result; }

void FakeRenderDevice::QueueResults(const std::string& name, std::vector<RDResult> results)
{
    auto& queue = queued_[name];
    queue.insert(queue.end(), results.begin(), results.end());
}

void FakeRenderDevice::FailNext(const std::string& name, RDResult result, int32_t times)
{
    failures_[name] = {result, times};
}

void FakeRenderDevice::ClearScript()
{
    standing_.clear();
    queued_.clear();
    failures_.clear();
}

std::vector<std::string> FakeRenderDevice::Calls(const std::string& name) const
{
    std::vector<std::string> lines;
    const std::string prefix = name + "(";
    for (const std::string& line : log)
        if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    return lines;
}

std::vector<std::string> FakeRenderDevice::LogWithout(const std::vector<std::string>& names) const
{
    std::vector<std::string> lines;
    for (const std::string& line : log) {
        const std::string name = line.substr(0, line.find('('));
        if (std::find(names.begin(), names.end(), name) == names.end()) lines.push_back(line);
    }
    return lines;
}

void FakeRenderDevice::Note(const char* name, const std::string& arguments)
{
    log.push_back(std::string(name) + "(" + arguments + ")");
    ++frame_.calls;
}

RDResult FakeRenderDevice::Enter(const char* name, const std::string& arguments)
{
    Note(name, arguments);
    if (auto failure = failures_.find(name); failure != failures_.end()) {
        const RDResult result = failure->second.result;
        if (--failure->second.times <= 0) failures_.erase(failure);
        return result;
    }
    if (auto queue = queued_.find(name); queue != queued_.end() && !queue->second.empty()) {
        const RDResult result = queue->second.front();
        queue->second.pop_front();
        return result;
    }
    auto standing = standing_.find(name);
    return standing == standing_.end() ? RD_OK : standing->second;
}

std::string FakeRenderDevice::NameOf(const RDResource* resource) const
{
    if (!resource) return "null";
    if (auto t = dynamic_cast<const FakeTexture*>(resource)) return t->name;
    if (auto s = dynamic_cast<const FakeSurface*>(resource)) return s->name;
    if (auto v = dynamic_cast<const FakeVertexBuffer*>(resource)) return v->name;
    if (auto v = dynamic_cast<const FakeVertexDeclaration*>(resource)) return v->name;
    return "foreign";
}

const FakeAdapter* FakeRenderDevice::Adapter(uint32_t adapter) const
{
    return adapter < adapters.size() ? &adapters[adapter] : nullptr;
}

FakeSurface* FakeRenderDevice::MakeSurface(uint32_t width, uint32_t height, uint32_t format)
{
    auto* surface = new FakeSurface;
    surface->name = "surf" + std::to_string(nextResource_++);
    surface->width = width;
    surface->height = height;
    surface->format = format;
    surface->pixels = MakePixels(width, height, format);
    return surface;
}

void FakeRenderDevice::Hold(RDSurface** slot, RDSurface* surface)
{
    if (surface) surface->AddRef();
    if (*slot) (*slot)->Release();
    *slot = surface;
}

void FakeRenderDevice::DropSurfaces()
{
    Hold(&backBuffer_, nullptr);
    for (RDSurface*& target : targets_) Hold(&target, nullptr);
    Hold(&depthStencil_, nullptr);
}

void FakeRenderDevice::MakeSwapChain(const RDPresentParams& params)
{
    DropSurfaces();
    FakeSurface* back = MakeSurface(params.backBufferWidth, params.backBufferHeight, params.backBufferFormat);
    back->usage = RDUSAGE_RENDERTARGET;
    Hold(&backBuffer_, back);
    Hold(&targets_[0], back);
    back->Release();
    if (params.enableAutoDepthStencil) {
        FakeSurface* depth = MakeSurface(params.backBufferWidth, params.backBufferHeight, params.autoDepthStencilFormat);
        depth->usage = RDUSAGE_DEPTHSTENCIL;
        Hold(&depthStencil_, depth);
        depth->Release();
    }
    viewport = {0, 0, params.backBufferWidth, params.backBufferHeight, 0.0f, 1.0f};
}

// ---- adapters --------------------------------------------------------------------------------------------

uint32_t FakeRenderDevice::GetAdapterCount()
{
    Note("GetAdapterCount", Args());
    return uint32_t(adapters.size());
}

RDResult FakeRenderDevice::GetAdapterIdentifier(uint32_t adapter, RDAdapterIdentifier* out)
{
    RDResult r = Enter("GetAdapterIdentifier", Args(adapter));
    const FakeAdapter* a = Adapter(adapter);
    if (!a) return RDERR_INVALIDCALL;
    if (!RD_Failed(r)) *out = a->identifier;
    return r;
}

RDResult FakeRenderDevice::GetAdapterDisplayMode(uint32_t adapter, RDDisplayMode* out)
{
    RDResult r = Enter("GetAdapterDisplayMode", Args(adapter));
    const FakeAdapter* a = Adapter(adapter);
    if (!a || !a->currentModeReadable) return RD_Failed(r) ? r : RDERR_NOTAVAILABLE;
    if (!RD_Failed(r)) *out = a->current;
    return r;
}

uint32_t FakeRenderDevice::GetAdapterModeCount(uint32_t adapter, uint32_t format)
{
    Note("GetAdapterModeCount", Args(adapter, format));
    const FakeAdapter* a = Adapter(adapter);
    if (!a) return 0;
    return uint32_t(std::count_if(a->modes.begin(), a->modes.end(),
                                  [format](const RDDisplayMode& m) { return m.format == format; }));
}

RDResult FakeRenderDevice::EnumAdapterModes(uint32_t adapter, uint32_t format, uint32_t mode, RDDisplayMode* out)
{
    RDResult r = Enter("EnumAdapterModes", Args(adapter, format, mode));
    if (RD_Failed(r)) return r;
    const FakeAdapter* a = Adapter(adapter);
    if (!a) return RDERR_INVALIDCALL;
    uint32_t seen = 0;
    for (const RDDisplayMode& m : a->modes) {
        if (m.format != format) continue;
        if (seen++ == mode) {
            *out = m;
            return r;
        }
    }
    return RDERR_INVALIDCALL;
}

RDResult FakeRenderDevice::GetDeviceCaps(uint32_t adapter, uint32_t deviceType, RDCaps* out)
{
    RDResult r = Enter("GetDeviceCaps", Args(adapter, deviceType));
    if (RD_Failed(r)) return r;
    const FakeAdapter* a = Adapter(adapter);
    if (!a) return RDERR_INVALIDCALL;
    *out = a->caps;
    out->adapterOrdinal = adapter;
    return r;
}

RDResult FakeRenderDevice::CheckDeviceMultiSampleType(uint32_t adapter, uint32_t deviceType, uint32_t format,
                                                      int32_t windowed, uint32_t samples)
{
    RDResult r = Enter("CheckDeviceMultiSampleType", Args(adapter, deviceType, format, uint32_t(windowed), samples));
    if (RD_Failed(r)) return r;
    const FakeAdapter* a = Adapter(adapter);
    if (!a) return RDERR_INVALIDCALL;
    if (samples == 0) return r;
    const bool accepted = std::find(a->multisamples.begin(), a->multisamples.end(), samples) != a->multisamples.end();
    return accepted ? r : RDERR_NOTAVAILABLE;
}

// ---- the device ------------------------------------------------------------------------------------------

RDResult FakeRenderDevice::CreateDevice(uint32_t adapter, uint32_t deviceType, void* window, uint32_t behaviourFlags,
                                        RDPresentParams* params)
{
    RDResult r = Enter("CreateDevice", Args(adapter, deviceType) + "," + (window ? "window" : "null") + "," +
                                           Hex(behaviourFlags) + "," + ParamsText(params));
    if (params) createParams.push_back(*params);
    if (RD_Failed(r)) return r;
    if (!params || !Adapter(adapter)) return RDERR_INVALIDCALL;
    hasDevice = true;
    createBehaviour = behaviourFlags;
    MakeSwapChain(*params);
    return r;
}

bool FakeRenderDevice::HasDevice()
{
    Note("HasDevice", Args());
    return hasDevice;
}

void FakeRenderDevice::ReleaseDevice()
{
    Note("ReleaseDevice", Args());
    hasDevice = false;
    DropSurfaces();
}

RDResult FakeRenderDevice::TestCooperativeLevel() { return Enter("TestCooperativeLevel", Args()); }

RDResult FakeRenderDevice::Reset(RDPresentParams* params)
{
    RDResult r = Enter("Reset", ParamsText(params));
    if (params) resetParams.push_back(*params);
    if (RD_Failed(r)) return r;
    if (!params) return RDERR_INVALIDCALL;
    MakeSwapChain(*params);
    return r;
}

RDResult FakeRenderDevice::BeginScene()
{
    RDResult r = Enter("BeginScene", Args());
    if (!RD_Failed(r)) ++scenes;
    return r;
}

RDResult FakeRenderDevice::EndScene()
{
    RDResult r = Enter("EndScene", Args());
    if (!RD_Failed(r)) --scenes;
    return r;
}

RDResult FakeRenderDevice::Present()
{
    RDResult r = Enter("Present", Args());
    lastFrame_ = frame_;
    frame_ = {};
    return r;
}

RDResult FakeRenderDevice::Clear(uint32_t flags, uint32_t colourARGB, float z, uint32_t stencil)
{
    return Enter("Clear", Args(flags) + "," + Hex(colourARGB) + "," + Real(z) + "," + Args(stencil));
}

RDResult FakeRenderDevice::SetViewport(const RDViewport& v)
{
    RDResult r = Enter("SetViewport", Args(v.x, v.y, v.width, v.height) + "," + Real(v.minZ) + "," + Real(v.maxZ));
    if (!RD_Failed(r)) viewport = v;
    return r;
}

RDResult FakeRenderDevice::GetViewport(RDViewport* out)
{
    RDResult r = Enter("GetViewport", Args());
    if (!RD_Failed(r)) *out = viewport;
    return r;
}

// ---- state -----------------------------------------------------------------------------------------------

RDResult FakeRenderDevice::SetRenderState(uint32_t state, uint32_t value)
{
    RDResult r = Enter("SetRenderState", Args(state, value));
    if (!RD_Failed(r)) renderStates[state] = value;
    return r;
}

RDResult FakeRenderDevice::SetSamplerState(uint32_t sampler, uint32_t state, uint32_t value)
{
    RDResult r = Enter("SetSamplerState", Args(sampler, state, value));
    if (!RD_Failed(r)) samplerStates[{sampler, state}] = value;
    return r;
}

RDResult FakeRenderDevice::SetTextureStageState(uint32_t stage, uint32_t state, uint32_t value)
{
    RDResult r = Enter("SetTextureStageState", Args(stage, state, value));
    if (!RD_Failed(r)) textureStageStates[{stage, state}] = value;
    return r;
}

RDResult FakeRenderDevice::SetTransform(uint32_t which, const RDMatrix& matrix)
{
    std::string text = Args(which) + ",[";
    for (int i = 0; i < 16; ++i) text += (i ? " " : "") + Real(matrix.m[i / 4][i % 4]);
    RDResult r = Enter("SetTransform", text + "]");
    if (!RD_Failed(r)) transforms[which] = matrix;
    return r;
}

// ---- shader programs -------------------------------------------------------------------------------------

RDResult FakeRenderDevice::SetShaderProgram(const CompiledProgram* program)
{
    RDResult r = Enter("SetShaderProgram", program ? "program" : "null");
    if (!RD_Failed(r)) shaderProgram = program;
    return r;
}

// "SetShaderConstantF(stage,start,count,[v v v v ...])": every value of the count registers.
RDResult FakeRenderDevice::SetShaderConstantF(uint8_t stage, uint32_t start, const float* values, uint32_t count)
{
    std::string text = Args(stage, start, count) + ",[";
    for (uint32_t i = 0; values && i < count * 4; ++i) text += (i ? " " : "") + Real(values[i]);
    RDResult r = Enter("SetShaderConstantF", text + "]");
    if (!RD_Failed(r) && values) ShaderRegisters_SetF(&shaderRegisters, stage, start, values, count);
    return r;
}

RDResult FakeRenderDevice::SetShaderConstantI(uint8_t stage, uint32_t start, const int32_t* values, uint32_t count)
{
    std::string text = Args(stage, start, count) + ",[";
    for (uint32_t i = 0; values && i < count * 4; ++i) text += (i ? " " : "") + std::to_string(values[i]);
    RDResult r = Enter("SetShaderConstantI", text + "]");
    if (!RD_Failed(r) && values) ShaderRegisters_SetI(&shaderRegisters, stage, start, values, count);
    return r;
}

RDResult FakeRenderDevice::SetShaderConstantB(uint8_t stage, uint32_t start, const int32_t* values, uint32_t count)
{
    std::string text = Args(stage, start, count) + ",[";
    for (uint32_t i = 0; values && i < count; ++i) text += (i ? " " : "") + std::to_string(values[i]);
    RDResult r = Enter("SetShaderConstantB", text + "]");
    if (!RD_Failed(r) && values) ShaderRegisters_SetB(&shaderRegisters, stage, start, values, count);
    return r;
}

// ---- textures and surfaces -------------------------------------------------------------------------------

RDResult FakeRenderDevice::CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                         uint32_t format, uint32_t pool, RDTexture** out)
{
    RDResult r = Enter("CreateTexture", Args(width, height, levels, usage, format, pool));
    *out = nullptr;
    if (RD_Failed(r)) return r;
    if (width == 0 || height == 0) return RDERR_INVALIDCALL;
    auto* texture = new FakeTexture;
    texture->name = "tex" + std::to_string(nextResource_++);
    texture->width = width;
    texture->height = height;
    texture->format = format;
    texture->usage = usage;
    texture->pool = pool;
    // Levels 0 means the whole chain down to 1 x 1.
    uint32_t w = width, h = height;
    for (uint32_t level = 0; levels == 0 || level < levels; ++level) {
        texture->levels.push_back(MakePixels(w, h, format));
        if (w == 1 && h == 1) break;
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
    *out = texture;
    return r;
}

RDResult FakeRenderDevice::LockRect(RDTexture* texture, uint32_t level, RDLockedRect* out, const RDRect* rect,
                                    uint32_t flags)
{
    RDResult r = Enter("LockRect", NameOf(texture) + "," + Args(level) + "," + RectText(rect) + "," + Hex(flags));
    if (RD_Failed(r)) return r;
    auto* fake = dynamic_cast<FakeTexture*>(texture);
    if (!fake || level >= fake->levels.size()) return RDERR_INVALIDCALL;
    LockPixels(*fake->levels[level], rect, out);
    return r;
}

RDResult FakeRenderDevice::UnlockRect(RDTexture* texture, uint32_t level)
{
    return Enter("UnlockRect", NameOf(texture) + "," + Args(level));
}

RDResult FakeRenderDevice::GetSurfaceLevel(RDTexture* texture, uint32_t level, RDSurface** out)
{
    RDResult r = Enter("GetSurfaceLevel", NameOf(texture) + "," + Args(level));
    *out = nullptr;
    if (RD_Failed(r)) return r;
    auto* fake = dynamic_cast<FakeTexture*>(texture);
    if (!fake || level >= fake->levels.size()) return RDERR_INVALIDCALL;
    auto* surface = new FakeSurface;
    surface->name = "surf" + std::to_string(nextResource_++);
    surface->pixels = fake->levels[level];
    surface->width = surface->pixels->width;
    surface->height = surface->pixels->height;
    surface->format = fake->format;
    surface->usage = fake->usage;
    surface->pool = fake->pool;
    *out = surface;
    return r;
}

RDResult FakeRenderDevice::SetTexture(uint32_t stage, RDTexture* texture)
{
    RDResult r = Enter("SetTexture", Args(stage) + "," + NameOf(texture));
    if (!RD_Failed(r) && stage < 8) boundTextures[stage] = texture;
    return r;
}

RDResult FakeRenderDevice::CreateDepthStencilSurface(uint32_t width, uint32_t height, uint32_t format,
                                                     uint32_t samples, RDSurface** out)
{
    RDResult r = Enter("CreateDepthStencilSurface", Args(width, height, format, samples));
    *out = nullptr;
    if (RD_Failed(r)) return r;
    FakeSurface* surface = MakeSurface(width, height, format);
    surface->usage = RDUSAGE_DEPTHSTENCIL;
    *out = surface;
    return r;
}

RDResult FakeRenderDevice::CreateOffscreenPlainSurface(uint32_t width, uint32_t height, uint32_t format,
                                                       uint32_t pool, RDSurface** out)
{
    RDResult r = Enter("CreateOffscreenPlainSurface", Args(width, height, format, pool));
    *out = nullptr;
    if (RD_Failed(r)) return r;
    FakeSurface* surface = MakeSurface(width, height, format);
    surface->pool = pool;
    *out = surface;
    return r;
}

RDResult FakeRenderDevice::GetBackBuffer(RDSurface** out)
{
    RDResult r = Enter("GetBackBuffer", Args());
    *out = nullptr;
    if (RD_Failed(r)) return r;
    if (!backBuffer_) return RDERR_INVALIDCALL;
    backBuffer_->AddRef();
    *out = backBuffer_;
    return r;
}

RDResult FakeRenderDevice::GetRenderTarget(uint32_t index, RDSurface** out)
{
    RDResult r = Enter("GetRenderTarget", Args(index));
    *out = nullptr;
    if (RD_Failed(r)) return r;
    if (index >= 4 || !targets_[index]) return RDERR_NOTAVAILABLE;
    targets_[index]->AddRef();
    *out = targets_[index];
    return r;
}

RDResult FakeRenderDevice::SetRenderTarget(uint32_t index, RDSurface* surface)
{
    RDResult r = Enter("SetRenderTarget", Args(index) + "," + NameOf(surface));
    if (RD_Failed(r)) return r;
    if (index >= 4 || (index == 0 && !surface)) return RDERR_INVALIDCALL;
    Hold(&targets_[index], surface);
    return r;
}

RDResult FakeRenderDevice::GetDepthStencilSurface(RDSurface** out)
{
    RDResult r = Enter("GetDepthStencilSurface", Args());
    *out = nullptr;
    if (RD_Failed(r)) return r;
    if (!depthStencil_) return RDERR_NOTAVAILABLE;
    depthStencil_->AddRef();
    *out = depthStencil_;
    return r;
}

RDResult FakeRenderDevice::SetDepthStencilSurface(RDSurface* surface)
{
    RDResult r = Enter("SetDepthStencilSurface", NameOf(surface));
    if (!RD_Failed(r)) Hold(&depthStencil_, surface);
    return r;
}

RDResult FakeRenderDevice::StretchRect(RDSurface* source, const RDRect* sourceRect, RDSurface* dest,
                                       const RDRect* destRect, uint32_t filter)
{
    return Enter("StretchRect",
                 NameOf(source) + "," + RectText(sourceRect) + "," + NameOf(dest) + "," + RectText(destRect) + "," +
                     Args(filter));
}

RDResult FakeRenderDevice::GetRenderTargetData(RDSurface* target, RDSurface* dest)
{
    RDResult r = Enter("GetRenderTargetData", NameOf(target) + "," + NameOf(dest));
    if (RD_Failed(r)) return r;
    auto* from = dynamic_cast<FakeSurface*>(target);
    auto* to = dynamic_cast<FakeSurface*>(dest);
    if (!from || !to || from->width != to->width || from->height != to->height) return RDERR_INVALIDCALL;
    to->pixels->bytes = from->pixels->bytes;
    return r;
}

RDResult FakeRenderDevice::LockSurface(RDSurface* surface, RDLockedRect* out, const RDRect* rect, uint32_t flags)
{
    RDResult r = Enter("LockSurface", NameOf(surface) + "," + RectText(rect) + "," + Hex(flags));
    if (RD_Failed(r)) return r;
    auto* fake = dynamic_cast<FakeSurface*>(surface);
    if (!fake) return RDERR_INVALIDCALL;
    LockPixels(*fake->pixels, rect, out);
    return r;
}

RDResult FakeRenderDevice::UnlockSurface(RDSurface* surface) { return Enter("UnlockSurface", NameOf(surface)); }

// ---- vertex buffers and drawing --------------------------------------------------------------------------

RDResult FakeRenderDevice::CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t vertexFormat, uint32_t pool,
                                              RDVertexBuffer** out)
{
    RDResult r = Enter("CreateVertexBuffer", Args(length, usage) + "," + Hex(vertexFormat) + "," + Args(pool));
    *out = nullptr;
    if (RD_Failed(r)) return r;
    auto* buffer = new FakeVertexBuffer;
    buffer->name = "vb" + std::to_string(nextResource_++);
    buffer->length = length;
    buffer->usage = usage;
    buffer->fvf = vertexFormat;
    buffer->pool = pool;
    buffer->bytes.assign(length, 0);
    *out = buffer;
    return r;
}

RDResult FakeRenderDevice::LockVertexBuffer(RDVertexBuffer* buffer, uint32_t offset, uint32_t size, void** out,
                                            uint32_t flags)
{
    RDResult r = Enter("LockVertexBuffer", NameOf(buffer) + "," + Args(offset, size) + "," + Hex(flags));
    *out = nullptr;
    if (RD_Failed(r)) return r;
    auto* fake = dynamic_cast<FakeVertexBuffer*>(buffer);
    if (!fake || offset > fake->bytes.size() || size > fake->bytes.size() - offset) return RDERR_INVALIDCALL;
    *out = fake->bytes.data() + offset;
    return r;
}

RDResult FakeRenderDevice::UnlockVertexBuffer(RDVertexBuffer* buffer)
{
    return Enter("UnlockVertexBuffer", NameOf(buffer));
}

RDResult FakeRenderDevice::SetStreamSource(uint32_t stream, RDVertexBuffer* buffer, uint32_t offset, uint32_t stride)
{
    RDResult r = Enter("SetStreamSource", Args(stream) + "," + NameOf(buffer) + "," + Args(offset, stride));
    if (!RD_Failed(r) && stream == 0) {
        stream_ = buffer;
        streamOffset_ = offset;
        streamStride_ = stride;
    }
    return r;
}

RDResult FakeRenderDevice::SetFVF(uint32_t vertexFormat)
{
    RDResult r = Enter("SetFVF", Hex(vertexFormat));
    if (!RD_Failed(r)) {
        fvf = vertexFormat;
        declaration = nullptr;
    }
    return r;
}

RDResult FakeRenderDevice::CreateVertexDeclaration(const RDVertexElement* elements, RDVertexDeclaration** out)
{
    std::string text;
    uint32_t count = 0;
    for (; elements && elements[count].stream != 0xFF && count < RD_MAX_DECL_ELEMENTS; ++count)
        text += (count ? "," : "") + std::to_string(elements[count].offset) + "/" +
                std::to_string(elements[count].type) + "/" + std::to_string(elements[count].usage) + "/" +
                std::to_string(elements[count].usageIndex);
    RDResult r = Enter("CreateVertexDeclaration", text);
    *out = nullptr;
    if (RD_Failed(r)) return r;
    auto* d = new FakeVertexDeclaration;
    d->name = "decl" + std::to_string(nextResource_++);
    d->count = count;
    for (uint32_t i = 0; i < count; ++i) d->elements[i] = elements[i];
    *out = d;
    return r;
}

RDResult FakeRenderDevice::SetVertexDeclaration(RDVertexDeclaration* d)
{
    RDResult r = Enter("SetVertexDeclaration", NameOf(d));
    if (!RD_Failed(r)) declaration = d;
    return r;
}

RDResult FakeRenderDevice::DrawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount)
{
    RDResult r = Enter("DrawPrimitive", Args(type, startVertex, primitiveCount));
    if (RD_Failed(r)) return r;
    ++frame_.draws;
    FakeDraw draw{type, primitiveCount, streamStride_, {}};
    if (auto* fake = dynamic_cast<FakeVertexBuffer*>(stream_)) {
        const size_t from = streamOffset_ + size_t(startVertex) * streamStride_;
        const size_t bytes = size_t(VertexCount(type, primitiveCount)) * streamStride_;
        if (from <= fake->bytes.size() && bytes <= fake->bytes.size() - from)
            draw.vertices.assign(fake->bytes.begin() + long(from), fake->bytes.begin() + long(from + bytes));
    }
    draws.push_back(std::move(draw));
    return r;
}

RDResult FakeRenderDevice::DrawPrimitiveUP(uint32_t type, uint32_t primitiveCount, const void* vertices,
                                           uint32_t stride)
{
    RDResult r = Enter("DrawPrimitiveUP", Args(type, primitiveCount, stride));
    if (RD_Failed(r)) return r;
    ++frame_.draws;
    FakeDraw draw{type, primitiveCount, stride, {}};
    const auto* bytes = static_cast<const uint8_t*>(vertices);
    if (bytes) draw.vertices.assign(bytes, bytes + size_t(VertexCount(type, primitiveCount)) * stride);
    draws.push_back(std::move(draw));
    return r;
}

// The counters are queries about the log, not device work: logged, not counted.
RenderDevice::Counters FakeRenderDevice::FrameCounters()
{
    log.push_back("FrameCounters()");
    return frame_;
}

RenderDevice::Counters FakeRenderDevice::LastFrameCounters()
{
    log.push_back("LastFrameCounters()");
    return lastFrame_;
}

// ---- fixed-function lighting -----------------------------------------------------------------------------

namespace {
std::string ColourText(const RDColourValue& c)
{
    return "(" + Real(c.r) + "," + Real(c.g) + "," + Real(c.b) + "," + Real(c.a) + ")";
}
std::string VectorText(const RDVector3& v) { return "(" + Real(v.x) + "," + Real(v.y) + "," + Real(v.z) + ")"; }
}  // namespace

// "SetLight(index,type,diffuse,position,direction,range,a0,a1,a2)"; the members the engine leaves 0 are kept
// in `lights`.
RDResult FakeRenderDevice::SetLight(uint32_t index, const RDLight& light)
{
    RDResult r = Enter("SetLight", Args(index, light.type) + "," + ColourText(light.diffuse) + "," +
                                       VectorText(light.position) + "," + VectorText(light.direction) + "," +
                                       Real(light.range) + "," + Real(light.attenuation0) + "," +
                                       Real(light.attenuation1) + "," + Real(light.attenuation2));
    if (!RD_Failed(r)) lights[index] = light;
    return r;
}

RDResult FakeRenderDevice::LightEnable(uint32_t index, int32_t enable)
{
    RDResult r = Enter("LightEnable", Args(index) + "," + std::to_string(enable));
    if (!RD_Failed(r)) lightEnabled[index] = enable;
    return r;
}

RDResult FakeRenderDevice::SetMaterial(const RDMaterial& m)
{
    RDResult r = Enter("SetMaterial", ColourText(m.diffuse) + "," + ColourText(m.ambient) + "," +
                                          ColourText(m.specular) + "," + ColourText(m.emissive) + "," + Real(m.power));
    if (!RD_Failed(r)) material = m;
    return r;
}

// ---- the display list ------------------------------------------------------------------------------------

const FakeDisplay* FakeDisplaySource::Find(int32_t display) const
{
    return display >= 0 && size_t(display) < displays.size() ? &displays[size_t(display)] : nullptr;
}

bool FakeDisplaySource::Name(int32_t display, char* out, size_t size)
{
    const FakeDisplay* d = Find(display);
    if (!d || size == 0) return false;
    std::snprintf(out, size, "%s", d->name.c_str());
    return true;
}

bool FakeDisplaySource::Bounds(int32_t display, int32_t* x, int32_t* y, int32_t* width, int32_t* height)
{
    const FakeDisplay* d = Find(display);
    if (!d) return false;
    *x = d->x, *y = d->y, *width = d->current.width, *height = d->current.height;
    return true;
}

bool FakeDisplaySource::CurrentMode(int32_t display, PlatformDisplayMode* out)
{
    const FakeDisplay* d = Find(display);
    if (!d || !d->currentModeReadable) return false;
    *out = d->current;
    return true;
}

int32_t FakeDisplaySource::ModeCount(int32_t display)
{
    const FakeDisplay* d = Find(display);
    return d ? int32_t(d->modes.size()) : 0;
}

bool FakeDisplaySource::Mode(int32_t display, int32_t index, PlatformDisplayMode* out)
{
    const FakeDisplay* d = Find(display);
    if (!d || index < 0 || size_t(index) >= d->modes.size()) return false;
    *out = d->modes[size_t(index)];
    return true;
}

bool FakeDisplaySource::GetCursor(int32_t* x, int32_t* y)
{
    if (!cursorReadable) return false;
    *x = cursorX, *y = cursorY;
    return true;
}

void FakeDisplaySource::SetCursor(int32_t x, int32_t y)
{
    cursorMoves.emplace_back(x, y);
    cursorX = x, cursorY = y;
}

}  // namespace kvtest
