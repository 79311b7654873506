#include "gfx/gpustate.h"

#include "core/console.h"
#include "core/seam_trace.h"
#include "ds/buffer.h"
#include "gfx/batch.h"
#include "gfx/colour.h"
#include "gfx/matrices.h"
#include "gfx/texture_manager.h"
#include "platform/render_device.h"

#include <bit>
#include <cstring>

namespace {

// How an engine value becomes the device's value.
enum GPUTranslation : uint8_t {
    kGpuNone,         // no device state
    kGpuAsIs,
    kGpuFillMode,     // 1 point, 2 wireframe, else solid
    kGpuShadeMode,    // 1 flat, else Gouraud
    kGpuBlendFactor,  // 2..17, else zero
    kGpuCullMode,     // 1 clockwise, 2 counter-clockwise, else none
    kGpuCompare,      // 1..7, else always
    kGpuStencilOp,    // 2..8, else keep
    kGpuFogMode,      // 0..2, else linear
    kGpuColourMask,   // low four bits
};

struct GPURenderStateInfo {
    int32_t defaultValue;
    uint32_t deviceState;
    GPUTranslation translation;
};

constexpr int32_t kGpuFloatOne = std::bit_cast<int32_t>(1.0f);

constexpr GPURenderStateInfo kGpuRenderStates[GPU_RENDER_STATES] = {
    {0, 0, kGpuNone},  // 0: no state; SetDefaults leaves it alone
    {0, RDRS_ZENABLE, kGpuAsIs},
    {3, RDRS_FILLMODE, kGpuFillMode},
    {2, RDRS_SHADEMODE, kGpuShadeMode},
    {1, RDRS_ZWRITEENABLE, kGpuAsIs},
    {0, RDRS_ALPHATESTENABLE, kGpuAsIs},
    {5, RDRS_SRCBLEND, kGpuBlendFactor},
    {6, RDRS_DESTBLEND, kGpuBlendFactor},
    {0, RDRS_CULLMODE, kGpuCullMode},
    {4, RDRS_ZFUNC, kGpuCompare},
    {0, RDRS_ALPHAREF, kGpuAsIs},
    {5, RDRS_ALPHAFUNC, kGpuCompare},
    {1, RDRS_ALPHABLENDENABLE, kGpuAsIs},
    {0, RDRS_FOGENABLE, kGpuAsIs},
    {0, 0, kGpuNone},
    {0, RDRS_FOGCOLOR, kGpuAsIs},
    {1, RDRS_FOGTABLEMODE, kGpuFogMode},
    {0, RDRS_FOGSTART, kGpuAsIs},  // 0.0
    {kGpuFloatOne, RDRS_FOGEND, kGpuAsIs},
    {0, 0, kGpuNone},
    {0, RDRS_RANGEFOGENABLE, kGpuAsIs},
    {0, RDRS_LIGHTING, kGpuAsIs},
    {0, 0, kGpuNone},
    {3, RDRS_FOGVERTEXMODE, kGpuFogMode},
    {15, RDRS_COLORWRITEENABLE, kGpuColourMask},
    {0, RDRS_STENCILENABLE, kGpuAsIs},
    {1, RDRS_STENCILFAIL, kGpuStencilOp},
    {1, RDRS_STENCILZFAIL, kGpuStencilOp},
    {1, RDRS_STENCILPASS, kGpuStencilOp},
    {8, RDRS_STENCILFUNC, kGpuCompare},
    {0, RDRS_STENCILREF, kGpuAsIs},
    {-1, RDRS_STENCILMASK, kGpuAsIs},
    {-1, RDRS_STENCILWRITEMASK, kGpuAsIs},
    {0, 0, kGpuNone},
    {5, 0, kGpuNone},
    {6, 0, kGpuNone},
};

constexpr uint32_t GPU_Translate(GPUTranslation translation, int32_t v)
{
    switch (translation) {
    case kGpuFillMode: return v == 1 || v == 2 ? uint32_t(v) : 3u;
    case kGpuShadeMode: return v == 1 ? 1u : 2u;
    case kGpuBlendFactor: return v >= 2 && v <= 17 ? uint32_t(v) : 1u;
    case kGpuCullMode: return v == 1 ? 2u : v == 2 ? 3u : 1u;
    case kGpuCompare: return v >= 1 && v <= 7 ? uint32_t(v) : 8u;
    case kGpuStencilOp: return v >= 2 && v <= 8 ? uint32_t(v) : 1u;
    case kGpuFogMode: return v >= 0 && v <= 2 ? uint32_t(v) : 3u;
    case kGpuColourMask: return uint32_t(v) & 15u;
    default: return uint32_t(v);
    }
}

// The block as SetDefaults leaves it, so that it is right even before start-up runs SetDefaults (no dynamic
// initialisation whose order could matter).
constexpr GPUState GPU_InitialBlock()
{
    GPUState s{};
    for (int32_t i = 0; i < GPU_RENDER_STATES; ++i) s.appliedRender[i] = s.currentRender[i] = kGpuRenderStates[i].defaultValue;
    s.renderDirty = ~uint64_t(0);
    s.combinedDirty = s.renderDirty;
    return s;
}

constexpr bool GPU_SamplerInRange(int32_t stage, int32_t which)
{
    return stage >= 0 && stage < GPU_STAGES && which >= 0 && which < GPU_STAGE_STATES;
}

// Step 2 of setting a state, on one slot of the block.
inline void GPU_Store(int32_t* current, const int32_t* applied, uint64_t* dirty, int32_t slot, int32_t value)
{
    if (current[slot] == value) return;
    const uint64_t bit = uint64_t(1) << slot;
    if (value != applied[slot])
        *dirty |= bit;
    else
        *dirty &= ~bit;
    current[slot] = value;
    g_GPUState.combinedDirty = g_GPUState.renderDirty | g_GPUState.samplerDirty;
}

void GPU_SetStageFilters(int32_t stage, bool linear)
{
    GR_TextureInterpolation[stage] = linear ? 1 : 0;
    GPUState::SetSamplerState(stage, GPUSS_MAGFILTER, linear ? 0 : 1);
    GPUState::SetSamplerState(stage, GPUSS_MINFILTER, linear ? 0 : 1);
}

void GPU_SetStageAddress(int32_t stage, bool wrap)
{
    GR_TextureRepeat[stage] = wrap ? 1 : 0;
    GPUState::SetSamplerState(stage, GPUSS_ADDRESSU, wrap ? 0 : 1);
    GPUState::SetSamplerState(stage, GPUSS_ADDRESSV, wrap ? 0 : 1);
}

void GPU_SetFloatState(int32_t index, float value) { GPUState::SetRenderState(index, std::bit_cast<int32_t>(value)); }

}  // namespace

constinit GPUState g_GPUState = GPU_InitialBlock();

constinit uint8_t GR_TextureInterpolation[GPU_STAGES] = {1, 1, 1, 1, 1, 1, 1, 1};
constinit uint8_t GR_TextureRepeat[GPU_STAGES] = {};
bool GR_Perspective = true;
bool GR_HiddenSurface = true;
bool GR_FogOn = false;
uint32_t GR_FogColour = 0;
float GR_FogStart = 0.0f;
float GR_FogEnd = 1.0f;

const GPUStateKey GPU_RenderStateKeys[GPU_RENDER_STATE_KEYS] = {
    {"blendenable", GPURS_BLENDENABLE, 0},       {"ztestenable", GPURS_ZTESTENABLE, 0},
    {"zfunc", GPURS_ZFUNC, 0},                   {"zwriteenable", GPURS_ZWRITEENABLE, 0},
    {"fogenable", GPURS_FOGENABLE, 0},           {"fogcolor", GPURS_FOGCOLOR, 0},
    {"fogstart", GPURS_FOGSTART, 1},             {"fogend", GPURS_FOGEND, 1},
    {"cullmode", GPURS_CULLMODE, 0},             {"srcblend", GPURS_SRCBLEND, 0},
    {"destblend", GPURS_DESTBLEND, 0},           {"srcblendalpha", GPURS_SRCBLENDALPHA, 0},
    {"destblendalpha", GPURS_DESTBLENDALPHA, 0}, {"sepalphaenable", GPURS_SEPALPHAENABLE, 0},
    {"colorwriteenable", GPURS_COLORWRITEENABLE, 0}, {"alphatestenable", GPURS_ALPHATESTENABLE, 0},
    {"alphatestref", GPURS_ALPHATESTREF, 0},     {"alphatestfunc", GPURS_ALPHATESTFUNC, 0},
};
const GPUStateKey GPU_SamplerStateKeys[GPU_STAGE_STATES] = {
    {"magfilter", GPUSS_MAGFILTER, 0},
    {"minfilter", GPUSS_MINFILTER, 0},
    {"addressu", GPUSS_ADDRESSU, 0},
    {"addressv", GPUSS_ADDRESSV, 0},
};

// ---- the block -----------------------------------------------------------------------------------------

void GPUState::SetDefaults()
{
    // Game end is checked through this mark.
    SeamTrace_Record("GPUState_SetDefaults");
    GR_FogStart = 0.0f;
    GR_FogEnd = 1.0f;
    GR_HiddenSurface = true;
    GR_Perspective = true;
    GR_FogOn = false;
    GR_FogColour = 0;
    for (int32_t stage = 0; stage < GPU_STAGES; ++stage) {
        GR_TextureInterpolation[stage] = 1;
        GR_TextureRepeat[stage] = 0;
    }
    GPUState& s = g_GPUState;
    for (int32_t i = 1; i < GPU_RENDER_STATES; ++i) s.appliedRender[i] = kGpuRenderStates[i].defaultValue;
    std::memcpy(s.currentRender, s.appliedRender, sizeof s.currentRender);
    std::memset(s.appliedSampler, 0, sizeof s.appliedSampler);
    // Only stage 0's current samplers, and the sampler dirty mask stays: a later apply may send stale bits,
    // which is how the engine has always behaved.
    for (int32_t k = 0; k < GPU_STAGE_STATES; ++k) s.currentSampler[k] = 0;
    s.renderDirty = ~uint64_t(0);
    s.combinedDirty = s.renderDirty | s.samplerDirty;
    s.depth = 0;
}

void GPUState::StoreRenderState(int32_t index, int32_t value)
{
    GPU_Store(g_GPUState.currentRender, g_GPUState.appliedRender, &g_GPUState.renderDirty, index, value);
}

void GPUState::SetSamplerState(int32_t stage, int32_t which, int32_t value)
{
    if (!GPU_SamplerInRange(stage, which)) return;
    GPU_Store(g_GPUState.currentSampler, g_GPUState.appliedSampler, &g_GPUState.samplerDirty,
              stage * GPU_STAGE_STATES + which, value);
}

int32_t GPUState::GetRenderState(int32_t index)
{
    return index >= 0 && index < GPU_RENDER_STATES ? g_GPUState.currentRender[index] : 0;
}

int32_t GPUState::GetSamplerState(int32_t stage, int32_t which)
{
    return GPU_SamplerInRange(stage, which) ? g_GPUState.currentSampler[stage * GPU_STAGE_STATES + which] : 0;
}

void GPUState::Push()
{
    GPUState& s = g_GPUState;
    if (s.depth >= GPU_STACK_SIZE) {
        DebugConsole->Output("GPU state stack has run out of space\n");
        return;
    }
    std::memcpy(s.stack[s.depth].render, s.currentRender, sizeof s.currentRender);
    std::memcpy(s.stack[s.depth].sampler, s.currentSampler, sizeof s.currentSampler);
    ++s.depth;
}

void GPUState::Pop()
{
    GPUState& s = g_GPUState;
    if (s.depth <= 0)
        DebugConsole->Output("Attempting to drop below bottom of GPU state stack\n");
    else
        --s.depth;
    // On an empty stack entry 0 is made current again.
    const GPUStateStack& entry = s.stack[s.depth < 0 ? 0 : s.depth];
    for (int32_t i = 0; i < GPU_RENDER_STATES; ++i) SetRenderState(i, entry.render[i]);
    for (int32_t k = 0; k < GPU_SAMPLER_STATES; ++k)
        SetSamplerState(k / GPU_STAGE_STATES, k % GPU_STAGE_STATES, entry.sampler[k]);
}

void GPUState::Apply()
{
    GPUState& s = g_GPUState;
    if (s.renderDirty != 0) {
        for (int32_t i = 0; i < GPU_RENDER_STATES; ++i) {
            if ((s.renderDirty >> i & 1) == 0) continue;
            GR_D3D_SetRenderState(i, s.currentRender[i]);
            s.appliedRender[i] = s.currentRender[i];
        }
        s.renderDirty = 0;
    }
    if (s.samplerDirty != 0) {
        for (int32_t k = 0; k < GPU_SAMPLER_STATES; ++k) {
            if ((s.samplerDirty >> k & 1) == 0) continue;
            GR_D3D_SetSamplerState(k / GPU_STAGE_STATES, k % GPU_STAGE_STATES, s.currentSampler[k]);
            s.appliedSampler[k] = s.currentSampler[k];
        }
        s.samplerDirty = 0;
    }
    s.combinedDirty = 0;
}

void GPUState::ApplyAll()
{
    g_GPUState.renderDirty = ~uint64_t(0);
    g_GPUState.samplerDirty |= 0x3FF;  // stages 0 and 1 whole, and stage 2's two filters
    Apply();
}

int32_t GPUState::WriteRenderStates(IBuffer* buffer)
{
    if (buffer) buffer->WriteBytes(&g_GPUState.currentRender[1], int32_t(sizeof(int32_t)), GPU_RENDER_STATES - 1);
    return GPU_RENDER_STATES - 1;
}

// ---- translation ---------------------------------------------------------------------------------------

void GR_D3D_SetRenderState(int32_t index, int32_t value)
{
    if (index < 0 || index >= GPU_RENDER_STATES) return;
    const GPURenderStateInfo& info = kGpuRenderStates[index];
    if (info.translation == kGpuNone) return;
    RenderDevice_Get()->SetRenderState(info.deviceState, GPU_Translate(info.translation, value));
}

void GR_D3D_SetSamplerState(int32_t stage, int32_t which, int32_t value)
{
    if (!GPU_SamplerInRange(stage, which)) return;
    switch (which) {
    case GPUSS_MAGFILTER:
        RenderDevice_Get()->SetSamplerState(uint32_t(stage), RDSAMP_MAGFILTER, value ? RDTEXF_POINT : RDTEXF_LINEAR);
        break;
    case GPUSS_MINFILTER:
        RenderDevice_Get()->SetSamplerState(uint32_t(stage), RDSAMP_MINFILTER, value ? RDTEXF_POINT : RDTEXF_LINEAR);
        break;
    case GPUSS_ADDRESSU:
        RenderDevice_Get()->SetSamplerState(uint32_t(stage), RDSAMP_ADDRESSU, value ? RDTADDRESS_CLAMP : RDTADDRESS_WRAP);
        break;
    default:
        RenderDevice_Get()->SetSamplerState(uint32_t(stage), RDSAMP_ADDRESSV, value ? RDTADDRESS_CLAMP : RDTADDRESS_WRAP);
        break;
    }
}

// ---- setters -------------------------------------------------------------------------------------------

void GR_SetBlendModeExt(int32_t src, int32_t dest)
{
    GPUState::SetRenderState(GPURS_SRCBLEND, src);
    GPUState::SetRenderState(GPURS_DESTBLEND, dest);
    GPUState::SetRenderState(GPURS_SRCBLENDALPHA, src);
    GPUState::SetRenderState(GPURS_DESTBLENDALPHA, dest);
}

void GR_SetBlendMode(int32_t mode)
{
    switch (mode) {
    case 1: GR_SetBlendModeExt(5, 2); break;  // add
    case 2: GR_SetBlendModeExt(5, 4); break;  // max
    case 3: GR_SetBlendModeExt(1, 4); break;  // subtract
    default: GR_SetBlendModeExt(5, 6); break;
    }
}

void GR_SetColourWriteEnable(bool red, bool green, bool blue, bool alpha)
{
    GPUState::SetRenderState(GPURS_COLORWRITEENABLE, int32_t(red) | int32_t(green) << 1 | int32_t(blue) << 2 |
                                                         int32_t(alpha) << 3);
}

void GR_3D_SetCulling(bool on) { GPUState::SetRenderState(GPURS_CULLMODE, on ? 2 : 0); }

void GR_3D_SetHidden(bool on)
{
    GR_HiddenSurface = on;
    GPUState::SetRenderState(GPURS_ZTESTENABLE, GR_3DMode && on ? 1 : 0);
}

void GR_3D_SetLighting(bool on) { GPUState::SetRenderState(GPURS_LIGHTING, on ? 1 : 0); }
void GR_3D_SetShading(bool on) { GPUState::SetRenderState(GPURS_SHADEMODE, on ? 2 : 1); }
void GR_3D_SetZWriteEnable(bool on) { GPUState::SetRenderState(GPURS_ZWRITEENABLE, on ? 1 : 0); }
void GR_3D_SetPerspective(bool on) { GR_Perspective = on; }

void GR_SetAlphaTest(bool on)
{
    if (RenderDevice_Get()->HasDevice()) GPUState::SetRenderState(GPURS_ALPHATESTENABLE, on ? 1 : 0);
}

bool GR_GetAlphaTest() { return GPUState::GetRenderState(GPURS_ALPHATESTENABLE) != 0; }
void GR_SetAlphaTestRef(int32_t value) { GPUState::SetRenderState(GPURS_ALPHATESTREF, value); }
int32_t GR_GetAlphaTestRef() { return GPUState::GetRenderState(GPURS_ALPHATESTREF); }

void GR_3D_SetFog(bool on, uint32_t colour, int16_t start, int16_t end)
{
    GR_FogOn = on;
    GR_FogColour = Colour_ToARGB(colour, 255);
    GR_FogStart = float(start);
    GR_FogEnd = float(end);
    const int32_t support = GR_D3D_GetFogSupport();
    if (!on || support == 0) {
        // Fog the device cannot draw is not on.
        if (on) GR_FogOn = false;
        GPUState::SetRenderState(GPURS_FOGENABLE, 0);
        return;
    }
    GPUState::SetRenderState(GPURS_FOGENABLE, 1);
    if (support == 1) {
        GPUState::SetRenderState(GPURS_FOGTABLEMODE, 3);
    } else {
        GPUState::SetRenderState(GPURS_FOGVERTEXMODE, 3);
        GPUState::SetRenderState(GPURS_RANGEFOGENABLE, 1);
    }
    GPUState::SetRenderState(GPURS_FOGCOLOR, int32_t(GR_FogColour));
    GR_3D_ApplyFogRange();
}

void GR_3D_ApplyFogRange()
{
    if (GR_ProjectionIsOrtho) {
        // Table fog under an orthographic projection works on depth from 0 at near to 1 at far.
        const float range = GR_ProjectionFar - GR_ProjectionNear;
        GPU_SetFloatState(GPURS_FOGSTART, (GR_FogStart - GR_ProjectionNear) / range);
        GPU_SetFloatState(GPURS_FOGEND, (GR_FogEnd - GR_ProjectionNear) / range);
    } else {
        GPU_SetFloatState(GPURS_FOGSTART, GR_FogStart);
        GPU_SetFloatState(GPURS_FOGEND, GR_FogEnd);
    }
}

void GR_Texture_SetInterpolation(bool on)
{
    for (int32_t stage = 0; stage < GPU_STAGES; ++stage) GPU_SetStageFilters(stage, on);
}

void GR_Texture_SetInterpolationExt(int32_t stage, bool on)
{
    if (stage >= 0 && stage < GPU_STAGES) GPU_SetStageFilters(stage, on);
}

void GR_Texture_SetRepeat(bool on)
{
    for (int32_t stage = 0; stage < GPU_STAGES; ++stage) GPU_SetStageAddress(stage, on);
}

void GR_Texture_SetRepeatExt(int32_t stage, bool on)
{
    if (stage >= 0 && stage < GPU_STAGES) GPU_SetStageAddress(stage, on);
}

bool GR_Texture_GetInterpolation() { return GR_TextureInterpolation[0] != 0; }
bool GR_Texture_GetRepeat() { return GR_TextureRepeat[0] != 0; }

void GR_Texture_SetBlending(bool on)
{
    GraphicsFlush();
    GR_D3D_SetTextureStageOps(on);
}

int32_t GR_D3D_GetFogSupport()
{
    RDCaps caps{};
    if (RD_Failed(RenderDevice_Get()->GetDeviceCaps(0, RD_DEVTYPE_HAL, &caps))) return 0;
    if (caps.rasterCaps & RDPRASTERCAPS_FOGTABLE) return 1;
    if (caps.rasterCaps & RDPRASTERCAPS_FOGVERTEX) return 2;
    return 0;
}
