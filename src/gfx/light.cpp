// Lights: the shader light arrays and the device's fixed-function lights, filled together.
#include "gfx/light.h"

#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"

#include <cmath>
#include <cstring>

int32_t g_LightKind[LIGHT_COUNT] = {};
float g_LightDirection[LIGHT_COUNT][4] = {};
float g_LightPosRange[LIGHT_COUNT][4] = {};
float g_LightColour[LIGHT_COUNT][4] = {};
float g_LightEnabled[LIGHT_COUNT] = {};
uint32_t g_AmbientColour = 0;
bool g_LightingEnabled = false;

namespace {

bool LightIndexValid(int32_t index) { return index >= 0 && index < LIGHT_COUNT; }

// Red, green and blue bytes of a script colour (0x00BBGGRR) as 0..1, then the given alpha.
RDColourValue ColourOf(uint32_t colour, float alpha)
{
    return {float(colour & 0xFF) / 255.0f, float((colour >> 8) & 0xFF) / 255.0f, float((colour >> 16) & 0xFF) / 255.0f,
            alpha};
}

void SetArrayColour(int32_t index, uint32_t colour)
{
    const RDColourValue c = ColourOf(colour, 1.0f);
    g_LightColour[index][0] = c.r;
    g_LightColour[index][1] = c.g;
    g_LightColour[index][2] = c.b;
    g_LightColour[index][3] = 1.0f;
}

void SetVec4(float* v, float x, float y, float z, float w)
{
    v[0] = x;
    v[1] = y;
    v[2] = z;
    v[3] = w;
}

}  // namespace

void Light_UploadColours(float out[LIGHT_COUNT * 4])
{
    for (int32_t i = 0; i < LIGHT_COUNT; ++i)
        for (int32_t k = 0; k < 4; ++k) out[i * 4 + k] = g_LightColour[i][k] * g_LightEnabled[i];
}

void Light_DefineAmbient(uint32_t colour)
{
    g_AmbientColour = colour;
    GR_D3D_SetAmbientLight(colour);
}

void Light_DefineDirection(int32_t index, float dx, float dy, float dz, uint32_t colour)
{
    if (!LightIndexValid(index)) return;
    // A zero-length (or non-finite) direction is left as it is: the light then adds nothing, never NaN.
    const double x = dx, y = dy, z = dz;
    const double length = std::sqrt(x * x + y * y + z * z);  // in double: no overflow for any float
    if (length > 0.0 && std::isfinite(length)) {
        dx = float(x / length);
        dy = float(y / length);
        dz = float(z / length);
    } else {
        dx = dy = dz = 0.0f;
    }
    g_LightKind[index] = LIGHT_KIND_DIRECTIONAL;
    SetVec4(g_LightDirection[index], -dx, -dy, -dz, 1.0f);
    SetVec4(g_LightPosRange[index], 0.0f, 0.0f, 0.0f, 0.0f);
    SetArrayColour(index, colour);
    GR_D3D_DefineDirectionalLight(index, dx, dy, dz, colour | 0xFF000000u);
}

void Light_DefinePoint(int32_t index, float x, float y, float z, float range, uint32_t colour)
{
    if (!LightIndexValid(index)) return;
    g_LightKind[index] = LIGHT_KIND_POINT;
    SetVec4(g_LightDirection[index], 0.0f, 0.0f, 0.0f, 0.0f);
    SetVec4(g_LightPosRange[index], x, y, z, range);
    SetArrayColour(index, colour);
    GR_D3D_DefinePointLight(index, x, y, z, range, colour);
}

void Light_Enable(int32_t index, bool enable)
{
    if (!LightIndexValid(index)) return;
    g_LightEnabled[index] = enable ? 1.0f : 0.0f;
    GR_D3D_EnableLight(index, enable);
}

void Light_SetLighting(bool on)
{
    g_LightingEnabled = on;
    GR_3D_SetLighting(on);
}

void Light_Reset()
{
    std::memset(g_LightKind, 0, sizeof g_LightKind);
    std::memset(g_LightDirection, 0, sizeof g_LightDirection);
    std::memset(g_LightPosRange, 0, sizeof g_LightPosRange);
    std::memset(g_LightColour, 0, sizeof g_LightColour);
    std::memset(g_LightEnabled, 0, sizeof g_LightEnabled);
    g_AmbientColour = 0;
    g_LightingEnabled = false;
}

// ---- device -----------------------------------------------------------------------------------------------

void Vec3_Set(float x, float y, float z, RDVector3* vector)
{
    vector->x = x;
    vector->y = y;
    vector->z = z;
}

void GR_D3D_SetAmbientLight(uint32_t colour)
{
    if (!GR_Device) return;
    // Vertices drawn so far were meant to be lit as before.
    GraphicsFlush();
    RDMaterial material{};
    material.diffuse = material.ambient = material.specular = {1.0f, 1.0f, 1.0f, 1.0f};
    material.power = 1.0f;
    GR_Device->SetMaterial(material);
    const uint32_t swapped = (colour & 0xFF00FF00u) | ((colour & 0xFF) << 16) | ((colour >> 16) & 0xFF);
    GR_Device->SetRenderState(RDRS_AMBIENT, swapped);
}

void GR_D3D_DefineDirectionalLight(int32_t index, float dx, float dy, float dz, uint32_t colour)
{
    if (!GR_Device) return;
    GraphicsFlush();
    RDLight light{};
    light.type = RDLIGHT_DIRECTIONAL;
    light.diffuse = ColourOf(colour, 0.0f);
    Vec3_Set(dx, dy, dz, &light.direction);
    GR_Device->SetLight(uint32_t(index) & 7, light);
}

void GR_D3D_DefinePointLight(int32_t index, float x, float y, float z, float range, uint32_t colour)
{
    if (!GR_Device) return;
    GraphicsFlush();
    RDLight light{};
    light.type = RDLIGHT_POINT;
    light.diffuse = ColourOf(colour, 0.0f);
    Vec3_Set(x, y, z, &light.position);
    light.range = range;
    light.attenuation0 = 1.0f;
    light.attenuation1 = range > 0.0f ? 1.0f / range : 0.0f;
    light.attenuation2 = 0.0f;
    GR_Device->SetLight(uint32_t(index) & 7, light);
}

void GR_D3D_EnableLight(int32_t index, bool enable)
{
    if (!GR_Device) return;
    GraphicsFlush();
    GR_Device->LightEnable(uint32_t(index) & 7, enable ? 1 : 0);
}

void Light_ViewMatrixChanged() {}
