// Script vertex buffers on the offscreen OpenGL device. A 65,535-vertex triangle list lying outside the view
// (so rasterising hides none of the CPU cost) drawn each frame: frozen (left out by its bounds), through
// vertex_submit unfrozen (copied into the batch), and as one glDrawArrays from a VBO made with raw GL; each
// frame ends with glFinish. And the writers per element: checked
// (every call validated, the element searched) against unchecked (appended as given).
#include "gl_bench.h"

#include "core/functions.h"
#include "core/value.h"
#include "ds/buffer.h"
#include "ds/ds.h"
#include "gfx/vbuffer.h"
#include "gfx/vformat.h"

#include <cstring>
#include <vector>

namespace {

constexpr int32_t kVertices = 65535;

struct VbBench {
    int32_t format = -1;
    int32_t frozen = -1, copied = -1;
    std::vector<uint8_t> bytes;
    GLuint rawVao = 0, rawVbo = 0;
};

TRoutine Handler(const char* name)
{
    for (int32_t i = 0; i < Function_Count(); ++i)
        if (std::strcmp(Function_Entry(i)->name, name) == 0) return Function_Entry(i)->handler;
    return nullptr;
}

double Call(const char* name, std::initializer_list<double> reals)
{
    RValue args[5];
    int32_t argc = 0;
    for (double r : reals) RValue_SetReal(&args[argc++], r);
    RValue result;
    RValue_SetUndefined(&result);
    Handler(name)(&result, nullptr, nullptr, argc, args);
    return result.real;
}

VbBench* SetupVb()
{
    static VbBench* vb = [] {
        auto* v = new VbBench;
        glbench::Bench* b = glbench::Setup();
        if (!b->device) return v;
        InitVertexFormatFunctions();
        InitVertexBufferFunctions();
        Call("vertex_format_begin", {});
        Call("vertex_format_add_position_3d", {});
        Call("vertex_format_add_colour", {});
        Call("vertex_format_add_texcoord", {});
        v->format = int32_t(Call("vertex_format_end", {}));
        // Small triangles left of the view.
        v->bytes.resize(size_t(kVertices) * 24);
        for (int32_t i = 0; i < kVertices; ++i) {
            const float x = -5000.0f - float(i % 3), y = float(i / 3 % 700), z = 0, u = 0, t = 0;
            const uint32_t colour = 0xFFFFFFFF;
            uint8_t* at = &v->bytes[size_t(i) * 24];
            std::memcpy(at, &x, 4);
            std::memcpy(at + 4, &y, 4);
            std::memcpy(at + 8, &z, 4);
            std::memcpy(at + 12, &colour, 4);
            std::memcpy(at + 16, &u, 4);
            std::memcpy(at + 20, &t, 4);
        }
        auto* source = new Buffer_Standard(int32_t(v->bytes.size()), buffer_fixed, 1);
        std::memcpy(source->GetData(), v->bytes.data(), v->bytes.size());
        const int32_t binary = Buffer_SeamAdd(source);
        v->frozen = int32_t(Call("vertex_create_buffer_from_buffer", {double(binary), double(v->format)}));
        v->copied = int32_t(Call("vertex_create_buffer_from_buffer", {double(binary), double(v->format)}));
        Call("vertex_freeze", {double(v->frozen)});
        return v;
    }();
    return vb;
}

void Frames(benchmark::State& state, int32_t buffer)
{
    glbench::Bench* b = glbench::Setup();
    VbBench* v = SetupVb();
    if (!b->device || v->frozen < 0) {
        state.SkipWithError("no OpenGL device");
        return;
    }
    // No present: its fixed cost would hide the difference between the paths. glFinish still waits for
    // whatever the draw left to the GL.
    uint64_t draws = 0;
    for (auto _ : state) {
        const RenderDevice::Counters before = b->device->FrameCounters();
        Call("vertex_submit", {double(buffer), 4, -1});
        GraphicsFlush();
        draws += b->device->FrameCounters().draws - before.draws;
        GR_Batch_EndFrame();
        glFinish();
    }
    state.counters["draw_calls"] = benchmark::Counter(double(draws), benchmark::Counter::kAvgIterations);
}

void BM_FrozenList(benchmark::State& state) { Frames(state, SetupVb()->frozen); }
void BM_SubmitList(benchmark::State& state) { Frames(state, SetupVb()->copied); }

// The same vertices from a VBO made once with raw GL: one draw call a frame, no upload.
void BM_RawVboList(benchmark::State& state)
{
    glbench::Bench* b = glbench::Setup();
    VbBench* v = SetupVb();
    if (!b->device) {
        state.SkipWithError("no OpenGL device");
        return;
    }
    if (!b->program) glbench::MakeRawProgram(b);
    if (!v->rawVbo) {
        glGenVertexArrays(1, &v->rawVao);
        glGenBuffers(1, &v->rawVbo);
        glBindVertexArray(v->rawVao);
        glBindBuffer(GL_ARRAY_BUFFER, v->rawVbo);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(v->bytes.size()), v->bytes.data(), GL_STATIC_DRAW);
        glEnableVertexAttribArray(0);
        glEnableVertexAttribArray(1);
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 24, nullptr);
        glVertexAttribPointer(1, 4, GL_UNSIGNED_BYTE, GL_TRUE, 24, reinterpret_cast<void*>(12));
        glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, 24, reinterpret_cast<void*>(16));
    }
    glUseProgram(b->program);
    glUniform2f(glGetUniformLocation(b->program, "size"), float(glbench::kWidth), float(glbench::kHeight));
    glBindVertexArray(v->rawVao);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, b->tex);
    for (auto _ : state) {
        glDrawArrays(GL_TRIANGLES, 0, kVertices);
        glFinish();
    }
}

// 1000 vertices of three elements a round, from vertex_begin.
void Writers(benchmark::State& state, bool checked)
{
    VbBench* v = SetupVb();
    if (v->format < 0) {
        state.SkipWithError("no OpenGL device");
        return;
    }
    VertexBuffer_SetCheckedWriters(checked);
    const TRoutine position = Handler("vertex_position_3d"), colour = Handler("vertex_argb"),
                   texcoord = Handler("vertex_texcoord");
    const int32_t buffer = int32_t(Call("vertex_create_buffer", {}));
    RValue p[4], c[2], t[3], result;
    for (RValue* r : {&p[0], &c[0], &t[0]}) RValue_SetReal(r, buffer);
    RValue_SetReal(&p[1], 1.5);
    RValue_SetReal(&p[2], 2.5);
    RValue_SetReal(&p[3], 3.5);
    RValue_SetReal(&c[1], double(0xFF00FF00u));
    RValue_SetReal(&t[1], 0.25);
    RValue_SetReal(&t[2], 0.75);
    for (auto _ : state) {
        Call("vertex_begin", {double(buffer), double(v->format)});
        for (int i = 0; i < 1000; ++i) {
            position(&result, nullptr, nullptr, 4, p);
            colour(&result, nullptr, nullptr, 2, c);
            texcoord(&result, nullptr, nullptr, 3, t);
        }
        benchmark::DoNotOptimize(VertexBuffer_Get(buffer)->data);
    }
    state.SetItemsProcessed(state.iterations() * 3000);
    Call("vertex_delete_buffer", {double(buffer)});
    VertexBuffer_SetCheckedWriters(true);
}

void BM_WritersChecked(benchmark::State& state) { Writers(state, true); }
void BM_WritersUnchecked(benchmark::State& state) { Writers(state, false); }

}  // namespace

BENCHMARK(BM_FrozenList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SubmitList)->Unit(benchmark::kMillisecond);
// Raw GL leaves state the device does not know of: after the device's benchmarks.
BENCHMARK(BM_RawVboList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritersChecked)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WritersUnchecked)->Unit(benchmark::kMicrosecond);
