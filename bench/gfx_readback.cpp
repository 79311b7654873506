// Read-back on the OpenGL device (offscreen, 1280 x 720): one pixel through GR_Screen_ReadPixels, the whole back
// buffer through it, and raw glReadPixels of the same framebuffer into a block allocated once, in the same run.
// Targets: one pixel at most a tenth of the whole read; the whole read at most 1.5 times the raw one.
#include "gl_bench.h"

#include "core/memory_manager.h"
#include "gfx/readback.h"

#include <vector>

namespace {

using namespace glbench;

// Something on the screen, so no read finds a cleared buffer it could skip.
void Paint(Bench* b)
{
    for (int i = 0; i < 200; ++i)
        WriteQuad(static_cast<VertexPosColourUV*>(GR_Batch_Alloc(RDPT_TRIANGLELIST, b->texture,
                                                                 VERTEX_FORMAT_POS_COLOUR_UV, 6)),
                  i * 37);
    GraphicsFlush();
    glFinish();
}

void Read(benchmark::State& state, int32_t x, int32_t y, int32_t w, int32_t h)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    GR_RenderWidth = int32_t(kWidth);
    GR_RenderHeight = int32_t(kHeight);
    Paint(b);
    for (auto _ : state) {
        int32_t width = w, height = h;
        uint32_t* block = GR_Screen_ReadPixels(int32_t(kWidth), int32_t(kHeight), x, y, &width, &height);
        if (!block) return state.SkipWithError("nothing read");
        benchmark::DoNotOptimize(block[0]);
        MemFree(block);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}

void BM_ReadOnePixel(benchmark::State& state) { Read(state, 640, 360, 1, 1); }
BENCHMARK(BM_ReadOnePixel)->Unit(benchmark::kMicrosecond);

void BM_ReadWhole(benchmark::State& state) { Read(state, 0, 0, int32_t(kWidth), int32_t(kHeight)); }
BENCHMARK(BM_ReadWhole)->Unit(benchmark::kMicrosecond);

// The framebuffer the device draws the back buffer into, read straight into a block made once: argument 0 in the
// block's own byte order (blue first, the baseline), 1 red first (what this driver copies without converting).
void BM_RawReadPixels(benchmark::State& state)
{
    Bench* b = Setup();
    if (!b->device) return state.SkipWithError("no OpenGL 3.3 device");
    Paint(b);
    GLint drawn = 0, read = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &drawn);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
    std::vector<uint32_t> block(size_t(kWidth) * kHeight);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(drawn));
    const GLenum format = state.range(0) ? GL_RGBA : GL_BGRA;
    for (auto _ : state) {
        glReadPixels(0, 0, GLsizei(kWidth), GLsizei(kHeight), format, GL_UNSIGNED_BYTE, block.data());
        benchmark::DoNotOptimize(block[0]);
    }
    // The device keeps its own record of the binding.
    glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(read));
    state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 4);
}
BENCHMARK(BM_RawReadPixels)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
