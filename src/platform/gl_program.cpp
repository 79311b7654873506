// The fixed-function emulation: one GLSL 330 program in a few variants (flat shading, texture coordinates, fog),
// the rest chosen by uniforms. Matrices arrive row-major as the engine builds them, so `m * v` in GLSL is the
// engine's row vector times its matrix.
#include "platform/gl_internal.h"

#include "core/console.h"

#include <cstdio>

namespace gldev {

namespace {

// Fog's settings and factor, for both stages.
const char kFogSource[] = R"(
#if FOG
uniform ivec2 u_fog;       // x: 0 linear, 1 exponential, 2 squared; y: 0 depth z, 1 depth w, 2 eye z, 3 eye distance
uniform vec3 u_fogParams;  // start, end, density
float FogFactor(float d)
{
    if (u_fog.x == 1) return clamp(exp(-u_fogParams.z * d), 0.0, 1.0);
    if (u_fog.x == 2) {
        float e = u_fogParams.z * d;
        return clamp(exp(-e * e), 0.0, 1.0);
    }
    float range = u_fogParams.y - u_fogParams.x;
    if (range == 0.0) return d < u_fogParams.y ? 1.0 : 0.0;
    return clamp((u_fogParams.y - d) / range, 0.0, 1.0);
}
#endif
)";

const char kVertexSource[] = R"(
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec3 a_normal;
layout(location = 2) in vec4 a_colour;
layout(location = 3) in vec2 a_uv;

uniform mat4 u_transform;  // world, view, projection and the target's conventions
uniform mat4 u_worldView;
// Uploaded for completeness; the emulation needs only the products above.
uniform mat4 u_world;
uniform mat4 u_view;
uniform mat4 u_projection;

// Lighting, in view space: colour = ambient state * material ambient + sum of att * max(N.L, 0) * light
// diffuse * vertex diffuse over the lights; alpha from the vertex. Lights come packed (enabled ones only):
// u_lightPosition.w is 1 for a point light at xyz, 0 for a directional one whose xyz is the unit vector
// towards it.
uniform int u_lighting;
uniform int u_normalize;  // normals are always normalised
uniform vec4 u_ambient;
uniform vec4 u_materialAmbient;
uniform mat3 u_normalMatrix;  // inverse transpose of world * view
uniform int u_lightCount;
uniform vec4 u_lightDiffuse[8];
uniform vec4 u_lightPosition[8];
uniform vec4 u_lightAttenuation[8];  // a0, a1, a2, range

vec4 Lit(vec4 p, vec4 diffuse)
{
    vec3 eye = (u_worldView * p).xyz;
    vec3 n = u_normalMatrix * a_normal;
    float len = length(n);
    n = len > 0.0 ? n / len : vec3(0.0);
    vec3 c = u_ambient.rgb * u_materialAmbient.rgb;
    for (int i = 0; i < u_lightCount; ++i) {
        vec3 l = u_lightPosition[i].xyz;
        float att = 1.0;
        if (u_lightPosition[i].w != 0.0) {
            vec3 d = l - eye;
            float dist = length(d);
            if (dist > u_lightAttenuation[i].w) continue;  // beyond the range
            vec4 a = u_lightAttenuation[i];
            float k = a.x + a.y * dist + a.z * dist * dist;
            att = k > 0.0 ? 1.0 / k : 1.0;
            l = dist > 0.0 ? d / dist : vec3(0.0);
        }
        c += att * max(dot(n, l), 0.0) * u_lightDiffuse[i].rgb * diffuse.rgb;
    }
    return vec4(clamp(c, 0.0, 1.0), diffuse.a);
}

#if FLAT
flat out vec4 v_colour;
#else
out vec4 v_colour;
#endif
#if TEXTURED
out vec2 v_uv;
#endif
#if FOG
out float v_fog;  // a depth for per-pixel fog, the factor itself for per-vertex fog
#endif

void main()
{
    vec4 p = vec4(a_position, 1.0);
    gl_Position = u_transform * p;
    v_colour = u_lighting != 0 ? Lit(p, a_colour) : a_colour;
#if TEXTURED
    v_uv = a_uv;
#endif
#if FOG
    if (u_fog.y >= 2) {
        vec4 eye = u_worldView * p;
        v_fog = FogFactor(u_fog.y == 2 ? eye.z : length(eye.xyz));
    } else {
        // The depth before the target's z mapping: z' = 2z - w undone.
        v_fog = u_fog.y == 0 ? (gl_Position.z + gl_Position.w) / (2.0 * gl_Position.w) : gl_Position.w;
    }
#endif
}
)";

const char kFragmentSource[] = R"(
#if FLAT
flat in vec4 v_colour;
#else
in vec4 v_colour;
#endif
#if TEXTURED
in vec2 v_uv;
uniform sampler2D u_texture0;
#endif
uniform int u_textured;     // stage 0 has a texture
uniform ivec3 u_colourOp;   // operation, argument 1, argument 2 of stage 0
uniform ivec3 u_alphaOp;
uniform ivec2 u_alphaTest;  // compare function (8 always), reference 0..255
#if FOG
in float v_fog;
uniform vec3 u_fogColour;
#endif

out vec4 o_colour;

vec4 Argument(int a, vec4 diffuse, vec4 texel)
{
    int source = a & 7;
    vec4 v = source == 2 ? texel : source == 3 ? vec4(1.0) : source == 4 ? vec4(0.0) : diffuse;
    if ((a & 0x20) != 0) v = vec4(v.a);
    if ((a & 0x10) != 0) v = vec4(1.0) - v;
    return v;
}

vec4 Operation(ivec3 op, vec4 diffuse, vec4 texel)
{
    vec4 a1 = Argument(op.y, diffuse, texel);
    vec4 a2 = Argument(op.z, diffuse, texel);
    switch (op.x) {
    case 2: return a1;
    case 3: return a2;
    case 4: return a1 * a2;
    case 5: return clamp(2.0 * a1 * a2, 0.0, 1.0);
    case 6: return clamp(4.0 * a1 * a2, 0.0, 1.0);
    case 7: return clamp(a1 + a2, 0.0, 1.0);
    case 8: return clamp(a1 + a2 - 0.5, 0.0, 1.0);
    default: return diffuse;  // disabled: the stage passes the vertex colour
    }
}

bool Passes(int func, int a, int ref)
{
    switch (func) {
    case 1: return false;
    case 2: return a < ref;
    case 3: return a == ref;
    case 4: return a <= ref;
    case 5: return a > ref;
    case 6: return a != ref;
    case 7: return a >= ref;
    default: return true;
    }
}

void main()
{
    vec4 texel = vec4(1.0);  // white when nothing is bound
#if TEXTURED
    if (u_textured != 0) texel = texture(u_texture0, v_uv);
#endif
    vec3 rgb = Operation(u_colourOp, v_colour, texel).rgb;
    float alpha = Operation(u_alphaOp, v_colour, texel).a;
    if (u_alphaTest.x != 8 && !Passes(u_alphaTest.x, int(round(alpha * 255.0)), u_alphaTest.y)) discard;
#if FOG
    float f = u_fog.y >= 2 ? v_fog : FogFactor(v_fog);
    rgb = mix(u_fogColour, rgb, f);
#endif
    o_colour = vec4(rgb, alpha);
}
)";

GLuint Compile(GLenum kind, const char* header, const char* body)
{
    const GLuint shader = KGL(glCreateShader(kind));
    const char* parts[3] = {header, kFogSource, body};
    KGL(glShaderSource(shader, 3, parts, nullptr));
    KGL(glCompileShader(shader));
    GLint ok = 0;
    KGL(glGetShaderiv(shader, GL_COMPILE_STATUS, &ok));
    if (!ok) {
        char log[2048] = {};
        KGL(glGetShaderInfoLog(shader, sizeof log, nullptr, log));
        DebugConsole->Output("OpenGL: %s shader does not compile: %s\n", kind == GL_VERTEX_SHADER ? "vertex" : "fragment",
                             log);
        KGL(glDeleteShader(shader));
        return 0;
    }
    return shader;
}

}  // namespace

bool Program_Build(uint32_t variant, GlProgram* out)
{
    char header[160];
    std::snprintf(header, sizeof header, "#version 330 core\n#define FLAT %d\n#define TEXTURED %d\n#define FOG %d\n",
                  variant & kVariantFlat ? 1 : 0, variant & kVariantTextured ? 1 : 0, variant & kVariantFog ? 1 : 0);
    const GLuint vs = Compile(GL_VERTEX_SHADER, header, kVertexSource);
    const GLuint fs = vs ? Compile(GL_FRAGMENT_SHADER, header, kFragmentSource) : 0;
    if (!fs) {
        if (vs) KGL(glDeleteShader(vs));
        return false;
    }
    const GLuint program = KGL(glCreateProgram());
    KGL(glAttachShader(program, vs));
    KGL(glAttachShader(program, fs));
    KGL(glBindFragDataLocation(program, 0, "o_colour"));
    KGL(glLinkProgram(program));
    KGL(glDeleteShader(vs));
    KGL(glDeleteShader(fs));
    GLint ok = 0;
    KGL(glGetProgramiv(program, GL_LINK_STATUS, &ok));
    if (!ok) {
        char log[2048] = {};
        KGL(glGetProgramInfoLog(program, sizeof log, nullptr, log));
        DebugConsole->Output("OpenGL: the program does not link: %s\n", log);
        KGL(glDeleteProgram(program));
        return false;
    }
    *out = GlProgram();
    out->name = program;
    auto at = [program](const char* name) { return KGL(glGetUniformLocation(program, name)); };
    out->transform = at("u_transform");
    out->worldView = at("u_worldView");
    out->world = at("u_world");
    out->view = at("u_view");
    out->projection = at("u_projection");
    out->lighting = at("u_lighting");
    out->ambient = at("u_ambient");
    out->normalize = at("u_normalize");
    out->colourOp = at("u_colourOp");
    out->alphaOp = at("u_alphaOp");
    out->textured = at("u_textured");
    out->alphaTest = at("u_alphaTest");
    out->fog = at("u_fog");
    out->fogParams = at("u_fogParams");
    out->fogColour = at("u_fogColour");
    out->normalMatrix = at("u_normalMatrix");
    out->materialAmbient = at("u_materialAmbient");
    out->lightCount = at("u_lightCount");
    out->lightDiffuse = at("u_lightDiffuse");
    out->lightPosition = at("u_lightPosition");
    out->lightAttenuation = at("u_lightAttenuation");
    return true;
}

}  // namespace gldev
