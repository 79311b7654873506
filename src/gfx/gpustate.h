// The render-state block: every fixed-function render and sampler state goes through it. It keeps the value
// the engine wants now and the value last sent to the device, so only changed states reach the device, and
// only when the batch is flushed. Also the setters the drawing built-ins use, and the translation of the
// engine's state values into the device's.
#pragma once
#include <cstdint>

class IBuffer;

// Engine render-state indices; the gaps (0, 14, 19, 22) have no state.
enum GPURenderState : int32_t {
    GPURS_ZTESTENABLE = 1,
    GPURS_FILLMODE = 2,
    GPURS_SHADEMODE = 3,
    GPURS_ZWRITEENABLE = 4,
    GPURS_ALPHATESTENABLE = 5,
    GPURS_SRCBLEND = 6,
    GPURS_DESTBLEND = 7,
    GPURS_CULLMODE = 8,
    GPURS_ZFUNC = 9,
    GPURS_ALPHATESTREF = 10,
    GPURS_ALPHATESTFUNC = 11,
    GPURS_BLENDENABLE = 12,
    GPURS_FOGENABLE = 13,
    GPURS_FOGCOLOR = 15,
    GPURS_FOGTABLEMODE = 16,
    GPURS_FOGSTART = 17,  // float bits
    GPURS_FOGEND = 18,    // float bits
    GPURS_RANGEFOGENABLE = 20,
    GPURS_LIGHTING = 21,
    GPURS_FOGVERTEXMODE = 23,
    GPURS_COLORWRITEENABLE = 24,
    GPURS_STENCILENABLE = 25,
    GPURS_STENCILFAIL = 26,
    GPURS_STENCILZFAIL = 27,
    GPURS_STENCILPASS = 28,
    GPURS_STENCILFUNC = 29,
    GPURS_STENCILREF = 30,
    GPURS_STENCILMASK = 31,
    GPURS_STENCILWRITEMASK = 32,
    // Kept only: the device gets no separate alpha blend.
    GPURS_SEPALPHAENABLE = 33,
    GPURS_SRCBLENDALPHA = 34,
    GPURS_DESTBLENDALPHA = 35,
};

// Per-stage sampler states; a sampler state's index in the block is stage * 4 + which.
enum GPUSamplerState : int32_t {
    GPUSS_MAGFILTER = 0,  // 0 linear, non-zero point
    GPUSS_MINFILTER = 1,
    GPUSS_ADDRESSU = 2,  // 0 wrap, non-zero clamp
    GPUSS_ADDRESSV = 3,
};

constexpr int32_t GPU_RENDER_STATES = 36;
constexpr int32_t GPU_STAGES = 8;
constexpr int32_t GPU_STAGE_STATES = 4;
constexpr int32_t GPU_SAMPLER_STATES = GPU_STAGES * GPU_STAGE_STATES;
constexpr int32_t GPU_STACK_SIZE = 32;

// One snapshot of the current values (gpu_push_state / gpu_pop_state).
struct GPUStateStack {
    int32_t render[GPU_RENDER_STATES];
    int32_t sampler[GPU_SAMPLER_STATES];
};

// The one block, g_GPUState; the operations are static and act on it. Main thread only.
class GPUState {
public:
    uint64_t renderDirty;   // bit i: current render state i differs from the applied one
    uint64_t samplerDirty;  // bit k: current sampler state k differs
    int32_t appliedRender[GPU_RENDER_STATES];
    int32_t appliedSampler[GPU_SAMPLER_STATES];
    int32_t currentRender[GPU_RENDER_STATES];
    int32_t currentSampler[GPU_SAMPLER_STATES];
    uint64_t combinedDirty;  // renderDirty | samplerDirty: the batch tests this one word
    GPUStateStack stack[GPU_STACK_SIZE];
    int32_t depth;

    // Every state and the kept values back to their defaults (start-up, device set-up, game end). The sampler
    // dirty mask and the current values of stages 1 to 7 are left as they are.
    static void SetDefaults();
    // Stores the value as current; nothing reaches the device until Apply. An index out of range does nothing.
    // Inline: drawing code sets states it mostly already has, and the unchanged case is one comparison.
    static void SetRenderState(int32_t index, int32_t value);
    static void StoreRenderState(int32_t index, int32_t value);
    static void SetSamplerState(int32_t stage, int32_t which, int32_t value);
    // The current value; 0 out of range.
    static int32_t GetRenderState(int32_t index);
    static int32_t GetSamplerState(int32_t stage, int32_t which);
    static void Push();
    static void Pop();
    // Sends the dirty states to the device (GraphicsFlush).
    static void Apply();
    // Sends every render state and the samplers of stages 0, 1 and stage 2's filters (after device creation
    // and resets).
    static void ApplyAll();
    // The current render states 1 to 35 as 35 32-bit values at the buffer's position; returns 35.
    static int32_t WriteRenderStates(IBuffer* buffer);
};
extern GPUState g_GPUState;

inline void GPUState::SetRenderState(int32_t index, int32_t value)
{
    // A script's gpu_set_state can name any index: outside the block nothing is stored.
    if (uint32_t(index) >= uint32_t(GPU_RENDER_STATES) || g_GPUState.currentRender[index] == value) return;
    StoreRenderState(index, value);
}

// Kept beside the block and read by the matrices, the device's state restore and the fog range.
extern uint8_t GR_TextureInterpolation[GPU_STAGES];  // per stage: 1 linear filtering
extern uint8_t GR_TextureRepeat[GPU_STAGES];         // per stage: 1 wrap
extern bool GR_Perspective;
extern bool GR_HiddenSurface;
extern bool GR_FogOn;
extern uint32_t GR_FogColour;  // ColourARGB
extern float GR_FogStart, GR_FogEnd;

// Keys of gpu_get_state / gpu_set_state: the render states, and the sampler states, whose key is the name
// followed by the stage number 0 to 7 ("%s%d", e.g. "addressu3").
struct GPUStateKey {
    const char* name;
    int32_t index;
    int32_t isFloat;  // 1: the value travels as a real (float bits in the block)
};
constexpr int32_t GPU_RENDER_STATE_KEYS = 18;
extern const GPUStateKey GPU_RenderStateKeys[GPU_RENDER_STATE_KEYS];
extern const GPUStateKey GPU_SamplerStateKeys[GPU_STAGE_STATES];  // index = which

// Translation to the device: the engine value of one state is turned into the device's state and value.
// Indices without a device state (0, 14, 19, 22, 33 to 35, out of range) send nothing.
void GR_D3D_SetRenderState(int32_t index, int32_t value);
void GR_D3D_SetSamplerState(int32_t stage, int32_t which, int32_t value);

// The setters of the drawing built-ins.
void GR_SetBlendModeExt(int32_t src, int32_t dest);
// 1 add, 2 max, 3 subtract, anything else normal.
void GR_SetBlendMode(int32_t mode);
void GR_SetColourWriteEnable(bool red, bool green, bool blue, bool alpha);
void GR_3D_SetCulling(bool on);
// Keeps the flag; the depth test is on only in 3D mode with the flag set.
void GR_3D_SetHidden(bool on);
void GR_3D_SetLighting(bool on);
// On: Gouraud shading; off: flat.
void GR_3D_SetShading(bool on);
void GR_3D_SetZWriteEnable(bool on);
void GR_3D_SetPerspective(bool on);
// Only while a device exists.
void GR_SetAlphaTest(bool on);
bool GR_GetAlphaTest();
void GR_SetAlphaTestRef(int32_t value);
int32_t GR_GetAlphaTestRef();
// colour is a ColourBGR; fog that the device cannot draw stays off.
void GR_3D_SetFog(bool on, uint32_t colour, int16_t start, int16_t end);
// The fog start and end in the units the current projection needs.
void GR_3D_ApplyFogRange();
// Linear filtering on every stage (on) or the nearest texel (off).
void GR_Texture_SetInterpolation(bool on);
void GR_Texture_SetInterpolationExt(int32_t stage, bool on);
void GR_Texture_SetRepeat(bool on);
void GR_Texture_SetRepeatExt(int32_t stage, bool on);
// Stage 0's flags.
bool GR_Texture_GetInterpolation();
bool GR_Texture_GetRepeat();
// Textures modulated by the vertex colour (on) or drawn as they are (off).
void GR_Texture_SetBlending(bool on);
// 1 table fog, 2 vertex fog, 0 none.
int32_t GR_D3D_GetFogSupport();
