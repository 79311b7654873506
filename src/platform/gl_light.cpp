// Fixed-function lighting of the OpenGL device: the lights and material as the engine set them, placed in view
// space for the emulation program before a draw. The program's equation is in gl_program.cpp.
#include "platform/gl_internal.h"

#include <cmath>

namespace gldev {

void GlDevice::ResetLights()
{
    // A light enabled without ever being set is a white directional light along +z.
    for (RDLight& light : lights_) {
        light = RDLight{};
        light.type = RDLIGHT_DIRECTIONAL;
        light.diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
        light.direction = {0.0f, 0.0f, 1.0f};
    }
    for (bool& on : lightOn_) on = false;
    material_ = RDMaterial{};
    BumpGroup(kUGLighting);
}

RDResult GlDevice::SetLight(uint32_t index, const RDLight& light)
{
    if (index >= kLights) return RDERR_INVALIDCALL;
    lights_[index] = light;
    BumpGroup(kUGLighting);
    return RD_OK;
}

RDResult GlDevice::LightEnable(uint32_t index, int32_t enable)
{
    if (index >= kLights) return RDERR_INVALIDCALL;
    if (lightOn_[index] != (enable != 0)) {
        lightOn_[index] = enable != 0;
        BumpGroup(kUGLighting);
    }
    return RD_OK;
}

RDResult GlDevice::SetMaterial(const RDMaterial& material)
{
    material_ = material;
    BumpGroup(kUGLighting);
    return RD_OK;
}

void GlDevice::UpdateNormalMatrix(const RDMatrix& m)
{
    // Normals go by the inverse transpose of world × view. With the engine's row vectors, n' = n · (M⁻¹)ᵀ,
    // which as a GL column vector is M⁻¹ · n: so M⁻¹ itself goes up, in column-major order.
    const double a = m.m[0][0], b = m.m[0][1], c = m.m[0][2];
    const double d = m.m[1][0], e = m.m[1][1], f = m.m[1][2];
    const double g = m.m[2][0], h = m.m[2][1], i = m.m[2][2];
    const double c00 = e * i - f * h, c01 = -(d * i - f * g), c02 = d * h - e * g;
    const double det = a * c00 + b * c01 + c * c02;
    if (det == 0.0 || !std::isfinite(det)) {
        // A flattening transform: no normal survives, so only the ambient term lights the vertices.
        for (float& v : normalMatrix_) v = 0.0f;
        return;
    }
    const double inv[3][3] = {
        {c00 / det, -(b * i - c * h) / det, (b * f - c * e) / det},
        {c01 / det, (a * i - c * g) / det, -(a * f - c * d) / det},
        {c02 / det, -(a * h - b * g) / det, (a * e - b * d) / det},
    };
    for (int col = 0; col < 3; ++col)
        for (int row = 0; row < 3; ++row) normalMatrix_[col * 3 + row] = float(inv[row][col]);
}

void GlDevice::UploadLights(GlProgram* p)
{
    if (p->lightCount < 0) return;
    const uint32_t lighting = groupVersion_[kUGLighting], transform = groupVersion_[kUGTransform];
    if (p->lightsSeen[0] == lighting && p->lightsSeen[1] == transform) return;
    p->lightsSeen[0] = lighting;
    p->lightsSeen[1] = transform;
    // Turning lighting on bumps the lighting group, so skipping the work while it is off loses nothing.
    if (!renderStates_[RDRS_LIGHTING]) return;

    // The enabled lights, packed: diffuse; position in view space with w 1 for a point light, or for a
    // directional one the unit vector towards it with w 0; attenuation a0, a1, a2 and the range.
    float diffuse[kLights][4], position[kLights][4], attenuation[kLights][4];
    GLint count = 0;
    const auto& v = view_.m;
    for (uint32_t i = 0; i < kLights; ++i) {
        if (!lightOn_[i]) continue;
        const RDLight& l = lights_[i];
        float* pos = position[count];
        if (l.type == RDLIGHT_DIRECTIONAL) {
            const float x = l.direction.x, y = l.direction.y, z = l.direction.z;
            const double dx = x * v[0][0] + y * v[1][0] + z * v[2][0];
            const double dy = x * v[0][1] + y * v[1][1] + z * v[2][1];
            const double dz = x * v[0][2] + y * v[1][2] + z * v[2][2];
            const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
            // A zero direction stays zero: the light adds nothing.
            const double s = length > 0.0 && std::isfinite(length) ? -1.0 / length : 0.0;
            pos[0] = float(dx * s), pos[1] = float(dy * s), pos[2] = float(dz * s), pos[3] = 0.0f;
        } else {
            const float x = l.position.x, y = l.position.y, z = l.position.z;
            pos[0] = x * v[0][0] + y * v[1][0] + z * v[2][0] + v[3][0];
            pos[1] = x * v[0][1] + y * v[1][1] + z * v[2][1] + v[3][1];
            pos[2] = x * v[0][2] + y * v[1][2] + z * v[2][2] + v[3][2];
            pos[3] = 1.0f;
        }
        diffuse[count][0] = l.diffuse.r, diffuse[count][1] = l.diffuse.g, diffuse[count][2] = l.diffuse.b;
        diffuse[count][3] = l.diffuse.a;
        attenuation[count][0] = l.attenuation0, attenuation[count][1] = l.attenuation1;
        attenuation[count][2] = l.attenuation2, attenuation[count][3] = l.range;
        ++count;
    }
    KGL(glUniformMatrix3fv(p->normalMatrix, 1, GL_FALSE, normalMatrix_));
    KGL(glUniform4f(p->materialAmbient, material_.ambient.r, material_.ambient.g, material_.ambient.b,
                    material_.ambient.a));
    KGL(glUniform1i(p->lightCount, count));
    if (count > 0) {
        KGL(glUniform4fv(p->lightDiffuse, count, &diffuse[0][0]));
        KGL(glUniform4fv(p->lightPosition, count, &position[0][0]));
        KGL(glUniform4fv(p->lightAttenuation, count, &attenuation[0][0]));
    }
}

}  // namespace gldev
