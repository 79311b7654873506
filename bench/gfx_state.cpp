// The OpenGL device's state handling against raw GL doing the same work, on the offscreen driver, in one run:
//   1. SetRenderState with the value already wanted (the engine's block, and the device's own), against one glBlendFunc call that changes the blend
//      function (and, for reference, one that repeats it, and a device call that does nothing);
//   2. a changed blend state and a draw, against glBlendFunc and the same glDrawArrays; the counters give the GL
//      calls per iteration and those beyond the draw (state_calls, which should be 1);
//   3. an empty frame (BeginScene, EndScene, Present of a 1280 × 720 back buffer) against a bare blit of that size
//      and SDL_GL_SwapWindow; gl_calls is what the frame sent;
//   4. vertex-buffer locks (NOOVERWRITE appends, DISCARD when the buffer wraps) written through a CPU copy uploaded
//      at unlock (0) or through a mapped range (1, the device's way), each followed by its draw.
// Benchmarks 1 make 16 calls an iteration; per_call is the time of one. The device benchmarks run first; the raw ones put back the GL state they change, so the device's record of GL
// state stays true.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>
#include <SDL.h>
#include <benchmark/benchmark.h>

#include "gfx/gpustate.h"
#include "platform/gl_device.h"
#include "platform/platform.h"
#include "platform/render_device.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kWidth = 1280, kHeight = 720;

struct Vertex {
    float x, y, z;
    uint32_t colour;
};

struct Bench {
    RenderDevice* device = nullptr;
    SDL_Window* window = nullptr;
    RDVertexBuffer* triangle = nullptr;  // one degenerate triangle: the draw costs its call, not its pixels
};

Bench* Setup()
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
        d->CreateVertexBuffer(3 * sizeof(Vertex), 0, 0x42, RDPOOL_MANAGED, &b->triangle);
        void* bits = nullptr;
        d->LockVertexBuffer(b->triangle, 0, 0, &bits, 0);
        const Vertex v[3] = {{10, 10, 0, 0x80FFFFFF}, {10, 10, 0, 0x80FFFFFF}, {10, 10, 0, 0x80FFFFFF}};
        std::memcpy(bits, v, sizeof v);
        d->UnlockVertexBuffer(b->triangle);
        d->SetStreamSource(0, b->triangle, 0, sizeof(Vertex));
        d->SetFVF(0x42);
        d->SetRenderState(RDRS_CULLMODE, 1);
        d->SetRenderState(RDRS_ALPHABLENDENABLE, 1);
        d->SetRenderState(RDRS_SRCBLEND, 5);
        d->SetRenderState(RDRS_DESTBLEND, 6);
        d->DrawPrimitive(RDPT_TRIANGLELIST, 0, 1);  // everything a draw needs is made and bound
        d->Present();
        b->device = d;
        return b;
    }();
    return bench;
}

bool Ready(benchmark::State& state, Bench*& b)
{
    b = Setup();
    if (!b->device) state.SkipWithError("no OpenGL 3.3 core device on the offscreen driver");
    return b->device != nullptr;
}

// The blend function GL has now, put back after a raw benchmark.
struct SavedBlend {
    GLint src = GL_ONE, dst = GL_ZERO;
    SavedBlend()
    {
        glGetIntegerv(GL_BLEND_SRC_RGB, &src);
        glGetIntegerv(GL_BLEND_DST_RGB, &dst);
    }
    ~SavedBlend() { glBlendFunc(GLenum(src), GLenum(dst)); }
};

// The calls of benchmarks 1 come in batches, so the loop's own cost stays out of the time of one call.
constexpr int kBatch = 16;
void PerCall(benchmark::State& state)
{
    state.counters["per_call"] =
        benchmark::Counter(double(state.iterations()) * kBatch, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// ---- 1. An unchanged state ------------------------------------------------------------------------------------

void BM_Device_SetRenderStateUnchanged(benchmark::State& state)
{
    Bench* b;
    if (!Ready(state, b)) return;
    RenderDevice* d = b->device;
    const uint64_t calls = d->FrameCounters().calls;
    for (auto _ : state)
        for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(d->SetRenderState(RDRS_SRCBLEND, 5));
    PerCall(state);
    state.counters["gl_calls"] = benchmark::Counter(double(d->FrameCounters().calls - calls), benchmark::Counter::kAvgIterations);
}

// The engine's setter with the value it already wants: what drawing code pays for an unchanged state.
void BM_GPUState_SetRenderStateUnchanged(benchmark::State& state)
{
    Bench* b;
    if (!Ready(state, b)) return;
    GPUState::SetRenderState(GPURS_SRCBLEND, 5);
    GPUState::Apply();
    const uint64_t calls = b->device->FrameCounters().calls;
    for (auto _ : state)
        for (int i = 0; i < kBatch; ++i) GPUState::SetRenderState(GPURS_SRCBLEND, 5);
    benchmark::DoNotOptimize(g_GPUState.combinedDirty);
    PerCall(state);
    state.counters["gl_calls"] =
        benchmark::Counter(double(b->device->FrameCounters().calls - calls), benchmark::Counter::kAvgIterations);
}

// The floor under benchmark 1: a device call that does nothing at all.
void BM_Device_EmptyCall(benchmark::State& state)
{
    Bench* b;
    if (!Ready(state, b)) return;
    RenderDevice* d = b->device;
    for (auto _ : state)
        for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(d->TestCooperativeLevel());
    PerCall(state);
}

// ---- 2. A changed state and its draw ----------------------------------------------------------------------------

// Alternates the destination blend between 6 and 2 through set, then draws; counts the GL calls.
template <typename Set>
void ChangedStateAndDraw(benchmark::State& state, Set set)
{
    Bench* b;
    if (!Ready(state, b)) return;
    RenderDevice* d = b->device;
    const RenderDevice::Counters before = d->FrameCounters();
    int32_t dest = 6;
    for (auto _ : state) {
        dest = dest == 6 ? 2 : 6;
        set(d, dest);
        d->DrawPrimitive(RDPT_TRIANGLELIST, 0, 1);
    }
    glFinish();
    const RenderDevice::Counters after = d->FrameCounters();
    state.counters["gl_calls"] = benchmark::Counter(double(after.calls - before.calls), benchmark::Counter::kAvgIterations);
    state.counters["state_calls"] = benchmark::Counter(double((after.calls - before.calls) - (after.draws - before.draws)),
                                                       benchmark::Counter::kAvgIterations);
    d->Present();
}

void BM_Device_ChangedStateAndDraw(benchmark::State& state)
{
    ChangedStateAndDraw(state, [](RenderDevice* d, int32_t dest) { d->SetRenderState(RDRS_DESTBLEND, uint32_t(dest)); });
}

// The same through the engine's block: one changed state and the apply a flush makes.
void BM_GPUState_ChangedStateApplyAndDraw(benchmark::State& state)
{
    ChangedStateAndDraw(state, [](RenderDevice*, int32_t dest) {
        GPUState::SetRenderState(GPURS_DESTBLEND, dest);
        GPUState::Apply();
    });
}

// ---- 3. An empty frame -------------------------------------------------------------------------------------------

void BM_Device_EmptyFrame(benchmark::State& state)
{
    Bench* b;
    if (!Ready(state, b)) return;
    RenderDevice* d = b->device;
    for (auto _ : state) {
        d->BeginScene();
        d->EndScene();
        d->Present();
    }
    glFinish();
    state.counters["gl_calls"] = double(d->LastFrameCounters().calls);
}

// ---- 4. Vertex-buffer locks ----------------------------------------------------------------------------------------

void BM_Device_VertexBufferLocks(benchmark::State& state)
{
    Bench* b;
    if (!Ready(state, b)) return;
    RenderDevice* d = b->device;
    GL_SetVertexBufferMapping(state.range(0) != 0);
    const uint64_t calls = d->FrameCounters().calls;
    constexpr uint32_t kQuad = 6 * sizeof(Vertex), kLength = 4096 * kQuad;
    RDVertexBuffer* vb = nullptr;
    d->CreateVertexBuffer(kLength, RDUSAGE_DYNAMIC | RDUSAGE_WRITEONLY, 0x42, RDPOOL_DEFAULT, &vb);
    d->SetStreamSource(0, vb, 0, sizeof(Vertex));
    uint32_t offset = kLength;
    for (auto _ : state) {
        uint32_t flags = RDLOCK_NOOVERWRITE;
        if (offset + kQuad > kLength) offset = 0, flags = RDLOCK_DISCARD;
        void* bits = nullptr;
        d->LockVertexBuffer(vb, offset, kQuad, &bits, flags);
        auto* v = static_cast<Vertex*>(bits);
        for (int i = 0; i < 6; ++i) v[i] = {10, 10, 0, 0x80FFFFFF};
        d->UnlockVertexBuffer(vb);
        d->DrawPrimitive(RDPT_TRIANGLELIST, offset / sizeof(Vertex), 2);
        offset += kQuad;
    }
    glFinish();
    state.counters["gl_calls"] = benchmark::Counter(double(d->FrameCounters().calls - calls), benchmark::Counter::kAvgIterations);
    // Draw from the triangle again, so the vertex arrays no longer name the buffer about to go.
    d->SetStreamSource(0, b->triangle, 0, sizeof(Vertex));
    d->DrawPrimitive(RDPT_TRIANGLELIST, 0, 1);
    vb->Release();
    GL_SetVertexBufferMapping(true);
    d->Present();
}

// ---- Raw GL ----------------------------------------------------------------------------------------------------------

void BM_Raw_BlendFuncChanged(benchmark::State& state)
{
    Bench* b;
    if (!Ready(state, b)) return;
    SavedBlend saved;
    for (auto _ : state)
        for (int i = 0; i < kBatch; ++i) glBlendFunc(GL_SRC_ALPHA, i & 1 ? GL_ONE : GL_ONE_MINUS_SRC_ALPHA);
    PerCall(state);
}

void BM_Raw_BlendFuncRepeated(benchmark::State& state)
{
    Bench* b;
    if (!Ready(state, b)) return;
    SavedBlend saved;
    for (auto _ : state)
        for (int i = 0; i < kBatch; ++i) glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    PerCall(state);
}

// The device left its program, vertex arrays and buffer bound: the raw draw is the same triangle.
void BM_Raw_BlendFuncAndDraw(benchmark::State& state)
{
    Bench* b;
    if (!Ready(state, b)) return;
    SavedBlend saved;
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        glBlendFunc(GL_SRC_ALPHA, flip ? GL_ONE : GL_ONE_MINUS_SRC_ALPHA);
        glDrawArrays(GL_TRIANGLES, 0, 3);
    }
    glFinish();
}

void BM_Raw_BlitAndSwap(benchmark::State& state)
{
    Bench* b;
    if (!Ready(state, b)) return;
    GLint read = 0, draw = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &draw);
    GLuint fbo = 0, colour = 0;
    glGenRenderbuffers(1, &colour);
    glBindRenderbuffer(GL_RENDERBUFFER, colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, GLsizei(kWidth), GLsizei(kHeight));
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
    glFramebufferRenderbuffer(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    for (auto _ : state) {
        glBlitFramebuffer(0, 0, GLint(kWidth), GLint(kHeight), 0, GLint(kHeight), GLint(kWidth), 0, GL_COLOR_BUFFER_BIT,
                          GL_NEAREST);
        SDL_GL_SwapWindow(b->window);
    }
    glFinish();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(read));
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(draw));
    glDeleteFramebuffers(1, &fbo);
    glDeleteRenderbuffers(1, &colour);
}

}  // namespace

BENCHMARK(BM_GPUState_SetRenderStateUnchanged);
BENCHMARK(BM_Device_SetRenderStateUnchanged);
BENCHMARK(BM_Device_EmptyCall);
BENCHMARK(BM_Device_ChangedStateAndDraw);
BENCHMARK(BM_GPUState_ChangedStateApplyAndDraw);
BENCHMARK(BM_Device_EmptyFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Device_VertexBufferLocks)->Arg(0)->Arg(1);
BENCHMARK(BM_Raw_BlendFuncChanged);
BENCHMARK(BM_Raw_BlendFuncRepeated);
BENCHMARK(BM_Raw_BlendFuncAndDraw);
BENCHMARK(BM_Raw_BlitAndSwap)->Unit(benchmark::kMicrosecond);
