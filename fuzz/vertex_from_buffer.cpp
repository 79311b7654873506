// Binary buffers become vertex buffers through the two from-buffer built-ins. The input picks a vertex format
// (0-7 elements of any type), a buffer kind, a buffer size, an offset and a vertex count (all four unchecked),
// then the buffer's bytes. Whatever they are: no crash or read outside the binary buffer, a made buffer holds
// whole vertices of its format (count x stride bytes, inside the buffer unless it wraps), submitting it
// copies no more than it holds, and everything is given back once the buffers and the format go.
#include "core/console.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "core/vm.h"
#include "ds/buffer.h"
#include "ds/ds.h"
#include "gfx/batch.h"
#include "gfx/vbuffer.h"
#include "gfx/vformat.h"
#include "platform/hooks.h"
#include "world/command_line.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>

namespace {

struct FuzzVb_Quiet final : tagIConsole {
    void Output(const char*, ...) override {}
};

struct FuzzVb_Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    int32_t Int32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(Byte()) << (8 * i);
        return int32_t(v);
    }
};

std::map<std::string, int32_t>& FuzzVb_Indexes()
{
    static std::map<std::string, int32_t> indexes = [] {
        g_RunFlags.headless = true;
        Platform_SetExitHook([](int) {});
        static FuzzVb_Quiet quiet;
        DebugConsole = &quiet;
        ReleaseConsole = &quiet;
        g_ShowErrorDialogs = false;
        InitVertexFormatFunctions();
        InitVertexBufferFunctions();
        std::map<std::string, int32_t> found;
        for (int32_t i = 0; i < Function_Count(); ++i) found.emplace(Function_Entry(i)->name, i);
        // The two tables are made once and kept: make them before any run is measured.
        VertexBuffer_Delete(VertexBuffer_Create(0));
        VertexFormat_Free(VertexFormat_Register(new (MemAlloc(sizeof(VertexFormat))) VertexFormat()));
        return found;
    }();
    return indexes;
}

double FuzzVb_Call(const char* name, std::initializer_list<double> reals)
{
    RValue values[4];
    RValue* pointers[4];
    int32_t argc = 0;
    for (double r : reals) {
        RValue_SetReal(&values[argc], r);
        pointers[argc] = &values[argc];
        ++argc;
    }
    RValue result;
    RValue_SetUndefined(&result);
    CallBuiltin(nullptr, nullptr, &result, argc, FuzzVb_Indexes().at(name), pointers);
    const double answer = RValue_Kind(&result) == VALUE_REAL ? result.real : -1.0;
    RValue_Free(&result);
    Error_ResetState();
    return answer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 16)) return 0;
    FuzzVb_Indexes();
    GR_Batch_FreeAll();
    const MemoryProbe before = MemoryManager_Probe();
    {
        FuzzVb_Reader in{data, size};
        const uint8_t shape = in.Byte();
        FuzzVb_Call("vertex_format_begin", {});
        for (int i = 0; i < (shape & 7); ++i)
            FuzzVb_Call("vertex_format_add_custom", {double(in.Byte() % 6 + 1), double(in.Byte() % 14 + 1)});
        const int32_t format = int32_t(FuzzVb_Call("vertex_format_end", {}));
        const VertexFormat* f = VertexFormat_Get(format);
        if (!f) std::abort();
        const int32_t kind = in.Byte() % 5;
        const int32_t bytes = int32_t(uint32_t(in.Byte()) | uint32_t(in.Byte()) << 8);
        const int32_t offset = in.Int32();
        int32_t count = in.Int32();
        // A wrapping buffer can give any number of bytes: the fuzzer's memory limit is smaller.
        if (kind == buffer_wrap && count > 65536) count = 65536;
        const int32_t primitive = in.Byte() % 8;

        Buffer_Standard* source = new Buffer_Standard(bytes, kind, 1);
        for (int32_t i = 0; i < bytes && in.at < in.size; ++i) source->GetData()[i] = in.Byte();
        const int32_t binary = Buffer_SeamAdd(source);

        const int32_t whole = int32_t(FuzzVb_Call("vertex_create_buffer_from_buffer", {double(binary), double(format)}));
        const int32_t part = int32_t(
            FuzzVb_Call("vertex_create_buffer_from_buffer_ext", {double(binary), double(format), double(offset), double(count)}));
        if ((whole >= 0 || part >= 0) && f->stride <= 0) std::abort();  // an empty format makes nothing
        if (const VertexBuffer* b = VertexBuffer_Get(whole)) {
            if (b->used != bytes || b->vertexCount != bytes / f->stride || b->capacity < b->used) std::abort();
        }
        if (const VertexBuffer* b = VertexBuffer_Get(part)) {
            const int64_t range = int64_t(count) * f->stride;
            if (b->used != range || b->vertexCount != count || b->capacity < b->used) std::abort();
            if (kind != buffer_wrap && (offset < 0 || offset + range > bytes)) std::abort();
        }
        for (int32_t b : {whole, part}) {
            if (b < 0) continue;
            FuzzVb_Call("vertex_submit", {double(b), double(primitive), -1.0});
            GraphicsFlush();
            FuzzVb_Call("vertex_delete_buffer", {double(b)});
        }
        FuzzVb_Call("vertex_format_delete", {double(format)});
        Buffer_SeamClear();
        delete source;
        GR_Batch_FreeAll();
    }
    Error_ResetState();
    const MemoryProbe after = MemoryManager_Probe();
    if (after.liveBlocks != before.liveBlocks || after.heapBytesInUse != before.heapBytesInUse) std::abort();
    return 0;
}
