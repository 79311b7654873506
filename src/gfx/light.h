// The eight lights of 3D drawing, the ambient colour and the lighting switch. Each definition goes both to the
// device's fixed-function lighting (used without a shader) and into the shader light arrays, which a shader
// apply uploads to its kv_Lights_* uniforms. The draw_light_* built-ins check the light index, then call the
// Light_* operations below.
#pragma once
#include <cstdint>

#include "platform/render_device.h"

constexpr int32_t LIGHT_COUNT = 8;
constexpr int32_t LIGHT_KIND_DIRECTIONAL = 0;
constexpr int32_t LIGHT_KIND_POINT = 1;

// The shader light arrays, per light.
extern int32_t g_LightKind[LIGHT_COUNT];
extern float g_LightDirection[LIGHT_COUNT][4];  // kv_Lights_Direction: towards the light, w 1 (directional)
extern float g_LightPosRange[LIGHT_COUNT][4];   // kv_Lights_PosRange: x, y, z, range (point)
extern float g_LightColour[LIGHT_COUNT][4];     // red, green, blue / 255, then 1; kept while disabled
extern float g_LightEnabled[LIGHT_COUNT];       // 1.0 or 0.0
extern uint32_t g_AmbientColour;  // the script colour as given (0x00BBGGRR and a top byte)
extern bool g_LightingEnabled;    // draw_set_lighting

// The 32 floats kv_Lights_Colour receives: each light's colour times its enabled value (a disabled light black).
void Light_UploadColours(float out[LIGHT_COUNT * 4]);

// The built-ins' operations, after their index check (an index outside 0..7 changes nothing here either).
void Light_DefineAmbient(uint32_t colour);
void Light_DefineDirection(int32_t index, float dx, float dy, float dz, uint32_t colour);
void Light_DefinePoint(int32_t index, float x, float y, float z, float range, uint32_t colour);
void Light_Enable(int32_t index, bool enable);
// The lighting switch: kept for shaders and sent to the device's render state.
void Light_SetLighting(bool on);
// Back to the start-up state (no lights, everything zero, lighting off); the device is not told.
void Light_Reset();

// Device side. Without a device these do nothing.
void GR_D3D_SetAmbientLight(uint32_t colour);
void GR_D3D_DefineDirectionalLight(int32_t index, float dx, float dy, float dz, uint32_t colour);
void GR_D3D_DefinePointLight(int32_t index, float x, float y, float z, float range, uint32_t colour);
void GR_D3D_EnableLight(int32_t index, bool enable);
void Vec3_Set(float x, float y, float z, RDVector3* vector);

// Called when the view matrix changes; the device places lights in view space at draw time, so nothing to do.
void Light_ViewMatrixChanged();
