// A recorded 3D model against the immediate 3D path, on the OpenGL device on the offscreen driver, in one run.
// The model is 10,000 triangles: 50 strips of 100 triangles and 5,000 triangles in one list. An
// iteration draws it 1,000 times, either from the recorder's static buffers or by replaying its primitives
// vertex by vertex through the immediate path (what drawing it would cost without the recorder), then waits for
// the device. The model lies outside the view, so no pixel is drawn and the time is the submission's.
// BM_Recorded reports "ratio": its time over BM_Immediate's (which runs first); BM_DeviceFloor the same with
// the device's own cost for the vertices taken off both.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>
#include <SDL.h>
#include <benchmark/benchmark.h>

#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/prim3d.h"
#include "gfx/recorder.h"
#include "gfx/texture_manager.h"
#include "platform/gl_device.h"
#include "platform/platform.h"
#include "platform/render_device.h"

#include <chrono>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint32_t kSize = 256;
constexpr int kDraws = 1000;
constexpr int kStrips = 50, kStripTriangles = 100;  // 5,000 triangles
constexpr int kListTriangles = 5000;

struct Bench {
    RenderDevice* device = nullptr;
    SDL_Window* window = nullptr;
    std::vector<VertexPosNormalColourUV> strips;  // kStrips x (kStripTriangles + 2)
    std::vector<VertexPosNormalColourUV> list;    // 3 x kListTriangles
    GraphicsRecorder recorder;
    double immediateSeconds = 0, recordedSeconds = 0;  // per iteration, once each has run
};

// Far to the right of the view: x from 100000 on.
VertexPosNormalColourUV Corner(int i, int j)
{
    const float x = 100000.0f + float(i % 200), y = float(j) + float(i / 200), z = float(i % 7);
    return {x, y, z, 0, 0, -1, 0xFF808080, float(i) / 100.0f, float(j)};
}

Bench* Setup()
{
    static Bench* bench = [] {
        auto* b = new Bench;
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        if (!Platform_StartVideo()) return b;
        RenderDevice* d = GL_Device();
        if (d->GetAdapterCount() == 0) return b;
        b->window = SDL_CreateWindow("bench", 0, 0, int(kSize), int(kSize), SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        RDPresentParams p{};
        p.backBufferWidth = p.backBufferHeight = kSize;
        p.backBufferFormat = RDFMT_A8R8G8B8;
        p.backBufferCount = 1;
        p.swapEffect = RD_SWAPEFFECT_COPY;
        p.deviceWindow = b->window;
        p.windowed = 1;
        p.enableAutoDepthStencil = 1;
        p.autoDepthStencilFormat = RDFMT_D24S8;
        p.presentationInterval = RD_PRESENT_INTERVAL_IMMEDIATE;
        if (!b->window ||
            RD_Failed(d->CreateDevice(0, RD_DEVTYPE_HAL, b->window, RD_CREATE_HARDWARE_VERTEXPROCESSING, &p)))
            return b;
        GR_Device = d;
        GR_Viewport = {0, 0, int32_t(kSize), int32_t(kSize)};
        GR_D3D_SetDeviceViewport(0, 0, int32_t(kSize), int32_t(kSize));
        GPUState::SetDefaults();
        GPUState::ApplyAll();
        GR_D3D_SetTextureStageOps(true);
        GR_3D_SetMode(true);
        GR_3D_SetProjectionOrtho(0, 0, float(kSize), float(kSize), 0);
        GR_Draw_SetColour(0xFFFFFF);
        GR_Draw_SetAlpha(1.0f);
        for (int s = 0; s < kStrips; ++s)
            for (int i = 0; i < kStripTriangles + 2; ++i) b->strips.push_back(Corner(i, s * 2 + (i & 1)));
        for (int t = 0; t < kListTriangles; ++t)
            for (int k = 0; k < 3; ++k) b->list.push_back(Corner(t + k, 100 + t % 50));
        b->device = d;
        return b;
    }();
    return bench;
}

// The model's primitives through the immediate path, vertex by vertex as a model replays them.
void Replay(const Bench& b)
{
    const VertexPosNormalColourUV* v = b.strips.data();
    for (int s = 0; s < kStrips; ++s) {
        GR_3D_PrimitiveBegin(RDPT_TRIANGLESTRIP, -1);
        for (int i = 0; i < kStripTriangles + 2; ++i, ++v)
            GR_3D_VertexNormalTextureColour(v->x, v->y, v->z, v->nx, v->ny, v->nz, v->u, v->v, 0x808080, 1.0f);
        GR_3D_PrimitiveEnd();
    }
    GR_3D_PrimitiveBegin(RDPT_TRIANGLELIST, -1);
    for (const VertexPosNormalColourUV& c : b.list)
        GR_3D_VertexNormalTextureColour(c.x, c.y, c.z, c.nx, c.ny, c.nz, c.u, c.v, 0x808080, 1.0f);
    GR_3D_PrimitiveEnd();
}

template <class Draw>
void Frames(benchmark::State& state, Bench* b, Draw draw)
{
    uint64_t draws = 0;
    for (auto _ : state) {
        const RenderDevice::Counters before = b->device->FrameCounters();
        for (int i = 0; i < kDraws; ++i) draw(i);
        GraphicsFlush();
        draws += b->device->FrameCounters().draws - before.draws;
        GR_Batch_EndFrame();
        b->device->Present();
        glFinish();
    }
    state.counters["draw_calls"] = benchmark::Counter(double(draws), benchmark::Counter::kAvgIterations);
}

double SecondsPerIteration(const benchmark::State& state, std::chrono::steady_clock::time_point start)
{
    const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return state.iterations() > 0 ? total / double(state.iterations()) : 0;
}

void BM_Immediate(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    const auto start = std::chrono::steady_clock::now();
    Frames(state, b, [b](int i) {
        // The same offset the recorded draw applies.
        GR_3D_TransformSetTranslation(float(i % 10), 0, 0);
        Replay(*b);
    });
    b->immediateSeconds = SecondsPerIteration(state, start);
    GR_3D_TransformSetIdentity();
}
BENCHMARK(BM_Immediate)->Unit(benchmark::kMillisecond);

void BM_Recorded(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    if (b->recorder.triangles.count == 0) {
        b->recorder.colour = 1;
        GR_CurrentRecorder = &b->recorder;
        Replay(*b);
        GR_CurrentRecorder = nullptr;
    }
    const auto start = std::chrono::steady_clock::now();
    Frames(state, b, [b](int i) { b->recorder.Draw(float(i % 10), 0, 0); });
    const double seconds = SecondsPerIteration(state, start);
    state.counters["triangles"] = double(b->recorder.triangles.count / 3);
    b->recordedSeconds = seconds;
    if (b->immediateSeconds > 0) state.counters["ratio"] = seconds / b->immediateSeconds;
}
BENCHMARK(BM_Recorded)->Unit(benchmark::kMillisecond);

// The device alone drawing the recorded triangles from their static buffer, 1,000 calls: what both paths pay
// for the vertices themselves (the software renderer transforms them on the calling thread). "engine_ratio" is
// the recorded path's time over the immediate path's, each less this floor.
void BM_DeviceFloor(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    RDVertexBuffer* buffer = b->recorder.triangles.buffer;
    if (!buffer) return state.SkipWithError("BM_Recorded has not run");
    RenderDevice* d = b->device;
    const auto start = std::chrono::steady_clock::now();
    Frames(state, b, [d, buffer, b](int) {
        d->SetStreamSource(0, buffer, 0, GR_RECORDER_STRIDE);
        d->SetFVF(GR_RECORDER_FVF);
        d->DrawPrimitive(RDPT_TRIANGLELIST, 0, uint32_t(b->recorder.triangles.count / 3));
    });
    const double floor = SecondsPerIteration(state, start);
    if (b->immediateSeconds > floor && b->recordedSeconds > 0)
        state.counters["engine_ratio"] = (b->recordedSeconds - floor) / (b->immediateSeconds - floor);
}
BENCHMARK(BM_DeviceFloor)->Unit(benchmark::kMillisecond);

}  // namespace
