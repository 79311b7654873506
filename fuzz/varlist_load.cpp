// Saved named-variable lists come from save files and buffers. The first byte picks the buffer's kind
// (bit 2: wrapping) and the code format (bit 3: new, names from the instance table); the rest is the data.
// Whatever it holds: no crash, work and memory bounded by the input, every node given back, and a list
// that reads back survives being written and read again with the same entries.
#include "core/memory_manager.h"
#include "core/varlist.h"
#include "core/varnames.h"
#include "ds/buffer.h"
#include "platform/hooks.h"
#include "world/command_line.h"
#include "world/loader.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > (1u << 20)) return 0;
    static const bool ready = [] {
        g_RunFlags.headless = true;
        Platform_SetExitHook([](int) {});
        for (const char* name : {"a", "score", "hp", ""}) Code_Variable_Add(name);
        Code_Variable_Init(0, 3, 0);
        Code_Variable_SetName("hp", -1, 0);
        Code_Variable_SetName("x2", -1, 2);
        return true;
    }();
    (void)ready;
    g_GameData.newCodeFormat = (data[0] & 8) != 0;
    const int32_t kind = (data[0] & 4) ? buffer_wrap : buffer_fixed;
    const MemoryProbe before = MemoryManager_Probe();
    {
        std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
        if (kind == buffer_wrap && bytes.empty()) bytes.push_back('\0');  // a wrapping buffer needs a byte
        auto* in = new Buffer_Standard(bytes.data(), int32_t(bytes.size()), kind, 1, false);
        auto* list = new CVariableList;
        bool ok = list->Deserialise(in);
        delete in;
        if (list->Count() < 0 || size_t(list->Count()) > size) std::abort();
        if (MemoryManager_Probe().heapBytesInUse > before.heapBytesInUse + 64 * size + 4096) std::abort();
        if (ok) {
            auto* out = new Buffer_Standard(16, buffer_grow, 1);
            list->Serialise(out);
            auto* again = new Buffer_Standard(out->GetData(), out->GetPosition(), buffer_fixed, 1, false);
            CVariableList copy;
            if (!copy.Deserialise(again) || copy.Count() != list->Count()) std::abort();
            for (int32_t b = 0; b < VARIABLE_LIST_BUCKETS; ++b)
                for (VariableNode* n = list->Bucket(b); n; n = n->next)
                    if (!copy.Exists(n->key.v32)) std::abort();
            delete again;
            delete out;
        }
        delete list;
    }
    VariableNode_FreePool();
    const MemoryProbe after = MemoryManager_Probe();
    if (after.liveBlocks != before.liveBlocks || after.heapBytesInUse != before.heapBytesInUse) std::abort();
    return 0;
}
