// Save files and buffers reach value deserialisation. The first byte picks the buffer's alignment and
// kind, the rest is the data. Whatever it holds: no crash, memory bounded by the input's size, never a
// pointer or object with a payload, and everything given back when the value is freed. A value that reads
// back must survive being written and read again unchanged.
#include "core/error.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "ds/buffer.h"
#include "platform/hooks.h"
#include "world/command_line.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void FuzzValue_Check(const RValue* v)
{
    switch (RValue_Kind(v)) {
    case VALUE_REAL:
    case VALUE_STRING:
        break;
    case VALUE_ARRAY:
        if (!v->arr || v->arr->refCount != 1) std::abort();
        for (int32_t r = 0; r < v->arr->rowCount; ++r)
            for (int32_t i = 0; i < v->arr->rows[r].length; ++i) FuzzValue_Check(&v->arr->rows[r].items[i]);
        break;
    default:
        if (v->v64 != 0 || v->flags != 0) std::abort();
        break;
    }
    if (v->kind & ~RVALUE_KIND_MASK) std::abort();
}

std::string FuzzValue_Text(RValue* v)
{
    char* start = nullptr;
    char* pos = nullptr;
    size_t capacity = 0;
    RValue_AppendText(&pos, &start, &capacity, v);
    std::string text(start, size_t(pos - start));
    MemFree(start);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > (1u << 20)) return 0;
    // The text form of an unset value is a runtime error: reported quietly, and the run goes on.
    static const bool quiet = [] {
        g_RunFlags.headless = true;
        Platform_SetExitHook([](int) {});
        return true;
    }();
    (void)quiet;
    const int32_t alignment = 1 << (data[0] & 3);
    const int32_t kind = (data[0] & 4) ? buffer_wrap : buffer_fixed;
    const MemoryProbe before = MemoryManager_Probe();
    {
        std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
        if (kind == buffer_wrap && bytes.empty()) bytes.push_back('\0');  // a wrapping buffer needs a byte
        auto* in = new Buffer_Standard(bytes.data(), int32_t(bytes.size()), kind, alignment, false);
        RValue v;
        RValue_SetUndefined(&v);
        bool ok = RValue_Deserialise(&v, in);
        delete in;
        const MemoryProbe read = MemoryManager_Probe();
        if (read.heapBytesInUse > before.heapBytesInUse + 64 * size + 4096) std::abort();
        if (!ok && (v.kind != VALUE_UNDEFINED || v.v64 != 0)) std::abort();
        FuzzValue_Check(&v);
        if (ok) {
            std::string text = FuzzValue_Text(&v);
            auto* out = new Buffer_Standard(16, buffer_grow, alignment);
            RValue_Serialise(&v, out);
            auto* again = new Buffer_Standard(out->GetData(), out->GetPosition(), buffer_fixed, alignment, false);
            RValue w;
            RValue_SetUndefined(&w);
            if (!RValue_Deserialise(&w, again)) std::abort();
            if (FuzzValue_Text(&w) != text) std::abort();
            RValue_Free(&w);
            delete again;
            delete out;
        }
        RValue_Free(&v);
    }
    Error_ResetState();  // a report keeps its text; it is not the input's to account for
    const MemoryProbe after = MemoryManager_Probe();
    if (after.liveBlocks != before.liveBlocks || after.heapBytesInUse != before.heapBytesInUse) std::abort();
    return 0;
}
