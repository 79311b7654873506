// What the batch and primitive benchmarks share: an OpenGL device on the offscreen driver set up for 2D, the
// white page to draw with, and a raw GL path that draws the same vertices from one mapped buffer with one call.
// Every frame ends with the device's present and glFinish on both sides, so the rasteriser's work and the
// driver's frame housekeeping are counted alike.
#pragma once
#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>
#include <SDL.h>
#include <benchmark/benchmark.h>

#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "platform/gl_device.h"
#include "platform/platform.h"
#include "platform/render_device.h"
#include "world/command_line.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace glbench {

constexpr uint32_t kWidth = 1280, kHeight = 720;
constexpr int kQuads = 10000;
constexpr int kCircles = 1000;
constexpr int kCirclePrecision = 24;

struct Bench {
    RenderDevice* device = nullptr;
    SDL_Window* window = nullptr;
    NativeTexture* texture = nullptr;
    // The raw side: its own program, vertex array and buffer.
    GLuint program = 0, vao = 0, vbo = 0, tex = 0;
    GLsizeiptr vboBytes = 0;
};

inline GLuint Compile(GLenum kind, const char* text)
{
    GLuint s = glCreateShader(kind);
    glShaderSource(s, 1, &text, nullptr);
    glCompileShader(s);
    return s;
}

// A pass-through program for position, colour and texture coordinate, modulating colour by the texel.
inline void MakeRawProgram(Bench* b)
{
    const char* vs = "#version 330 core\n"
                     "layout(location=0) in vec3 p; layout(location=1) in vec4 c; layout(location=2) in vec2 t;\n"
                     "uniform vec2 size; out vec4 vc; out vec2 vt;\n"
                     "void main(){ gl_Position = vec4(p.x * 2.0 / size.x - 1.0, 1.0 - p.y * 2.0 / size.y, 0.0, 1.0);"
                     " vc = c.bgra; vt = t; }\n";
    const char* fs = "#version 330 core\nin vec4 vc; in vec2 vt; uniform sampler2D s; out vec4 o;\n"
                     "void main(){ o = vc * texture(s, vt); }\n";
    b->program = glCreateProgram();
    glAttachShader(b->program, Compile(GL_VERTEX_SHADER, vs));
    glAttachShader(b->program, Compile(GL_FRAGMENT_SHADER, fs));
    glLinkProgram(b->program);
    glGenVertexArrays(1, &b->vao);
    glGenBuffers(1, &b->vbo);
    glGenTextures(1, &b->tex);
    glBindTexture(GL_TEXTURE_2D, b->tex);
    const uint32_t white = 0xFFFFFFFF;
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_BGRA, GL_UNSIGNED_BYTE, &white);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
}

inline Bench* Setup()
{
    static Bench* bench = [] {
        auto* b = new Bench;
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        if (!Platform_StartVideo()) return b;
        RenderDevice* d = GL_Device();
        if (d->GetAdapterCount() == 0) return b;
        b->window = SDL_CreateWindow("bench", 0, 0, int(kWidth), int(kHeight), SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        RDPresentParams p{};
        p.backBufferWidth = kWidth;
        p.backBufferHeight = kHeight;
        p.backBufferFormat = RDFMT_A8R8G8B8;
        p.backBufferCount = 1;
        p.swapEffect = RD_SWAPEFFECT_COPY;
        p.deviceWindow = b->window;
        p.windowed = 1;
        p.enableAutoDepthStencil = 1;
        p.autoDepthStencilFormat = RDFMT_D24S8;
        p.presentationInterval = RD_PRESENT_INTERVAL_IMMEDIATE;
        if (!b->window || RD_Failed(d->CreateDevice(0, RD_DEVTYPE_HAL, b->window, RD_CREATE_HARDWARE_VERTEXPROCESSING, &p)))
            return b;
        GR_Device = d;
        GR_Viewport = {0, 0, int32_t(kWidth), int32_t(kHeight)};
        GR_D3D_SetDeviceViewport(0, 0, int32_t(kWidth), int32_t(kHeight));
        GPUState::SetDefaults();
        GPUState::Apply();
        d->SetRenderState(RDRS_CULLMODE, 1);
        d->SetRenderState(RDRS_ZENABLE, 0);
        d->SetRenderState(RDRS_LIGHTING, 0);
        d->SetTextureStageState(0, RDTSS_COLOROP, RDTOP_MODULATE);
        d->SetTextureStageState(0, RDTSS_ALPHAOP, RDTOP_MODULATE);
        GR_SetViewProjection(0, 0, float(kWidth), float(kHeight), 0);
        const uint32_t white = 0xFFFFFFFF;
        GR_WhiteTexture = GR_Texture_Create(1, 1, &white, 4);
        GR_WhiteTexturePage = GR_Texture_Page(GR_WhiteTexture);
        b->texture = GR_WhiteTexturePage ? GR_WhiteTexturePage->texture : nullptr;
        GR_Draw_Init();
        GR_Draw_SetCirclePrecision(kCirclePrecision);
        GR_Draw_SetColour(0xFFFFFF);
        GR_Draw_SetAlpha(1.0f);
        b->device = d;
        return b;
    }();
    return bench;
}

// The quads of a frame: one pixel each, spread over the target.
inline void WriteQuad(VertexPosColourUV* v, int i)
{
    const float x = float(i % 1000), y = float(i / 1000 * 10);
    const float xs[6] = {x, x + 1, x, x + 1, x + 1, x};
    const float ys[6] = {y, y, y + 1, y, y + 1, y + 1};
    for (int k = 0; k < 6; ++k) v[k] = {xs[k], ys[k], 0.0f, 0xFFFFFFFF, 0.0f, 0.0f};
}

// The triangles GR_Draw_Circle makes for a filled circle, as raw vertices.
// The triangles GR_Draw_Circle makes for a filled circle, from a table of corners made once, as it does.
inline void WriteCircle(VertexPosColourUV* v, int i)
{
    static const auto table = [] {
        struct Corners {
            float c[kCirclePrecision + 1], s[kCirclePrecision + 1];
        } t;
        for (int k = 0; k <= kCirclePrecision; ++k) {
            t.c[k] = std::cos(float(k) * 2.0f * 3.1415927f / kCirclePrecision);
            t.s[k] = std::sin(float(k) * 2.0f * 3.1415927f / kCirclePrecision);
        }
        return t;
    }();
    const float cx = float(20 + (i % 50) * 25), cy = float(20 + (i / 50) * 30), r = 10;
    for (int k = 0; k < kCirclePrecision; ++k) {
        v[3 * k] = {cx, cy, 0, 0xFFFFFFFF, 0, 0};
        v[3 * k + 1] = {cx + table.c[k] * r, cy + table.s[k] * r, 0, 0xFFFFFFFF, 0, 0};
        v[3 * k + 2] = {cx + table.c[k + 1] * r, cy + table.s[k + 1] * r, 0, 0xFFFFFFFF, 0, 0};
    }
}

// Raw GL: the frame's vertices written into one mapped buffer and drawn with one call (the previous frame has
// finished, so the mapping needs no synchronisation). It leaves GL state the
// device does not know of, so the raw benchmarks are registered after the device's.
inline void RawFrame(Bench* b, int count, int perItem, void (*write)(VertexPosColourUV*, int))
{
    const GLsizeiptr bytes = GLsizeiptr(count) * perItem * GLsizeiptr(sizeof(VertexPosColourUV));
    if (!b->program) MakeRawProgram(b);
    glUseProgram(b->program);
    glUniform2f(glGetUniformLocation(b->program, "size"), float(kWidth), float(kHeight));
    glBindVertexArray(b->vao);
    glBindBuffer(GL_ARRAY_BUFFER, b->vbo);
    if (b->vboBytes < bytes) {
        glBufferData(GL_ARRAY_BUFFER, bytes, nullptr, GL_STREAM_DRAW);
        b->vboBytes = bytes;
    }
    auto* v = static_cast<VertexPosColourUV*>(
        glMapBufferRange(GL_ARRAY_BUFFER, 0, bytes, GL_MAP_WRITE_BIT | GL_MAP_UNSYNCHRONIZED_BIT));
    for (int i = 0; i < count; ++i) write(v + size_t(i) * perItem, i);
    glUnmapBuffer(GL_ARRAY_BUFFER);
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 24, nullptr);
    glVertexAttribPointer(1, 4, GL_UNSIGNED_BYTE, GL_TRUE, 24, reinterpret_cast<void*>(12));
    glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, 24, reinterpret_cast<void*>(16));
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, b->tex);
    glDrawArrays(GL_TRIANGLES, 0, count * perItem);
    b->device->Present();
    glFinish();
}


// Engine frames: draw() through the batch, the flush, the batch's frame end and the present; the device's draw
// and GL calls of the drawing and flush are added up for the counters.
template <class Draw>
void EngineFrames(benchmark::State& state, Bench* b, Draw draw)
{
    uint64_t draws = 0, calls = 0;
    for (auto _ : state) {
        const RenderDevice::Counters before = b->device->FrameCounters();
        draw();
        GraphicsFlush();
        const RenderDevice::Counters after = b->device->FrameCounters();
        draws += after.draws - before.draws;
        calls += after.calls - before.calls;
        GR_Batch_EndFrame();
        b->device->Present();
        glFinish();
    }
    state.counters["draw_calls"] = benchmark::Counter(double(draws), benchmark::Counter::kAvgIterations);
    state.counters["gl_calls"] = benchmark::Counter(double(calls), benchmark::Counter::kAvgIterations);
}

inline void SetBatchMethod(int method)
{
    g_RunFlags.multiVB = method == 1;
    g_RunFlags.noVB = method == 2;
    GraphicsFlush();
    GR_Batch_EndFrame();
}

}  // namespace glbench
