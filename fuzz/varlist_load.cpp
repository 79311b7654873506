// Saved named-variable lists and the globals' save block come from save files and buffers. The first byte
// picks the buffer's kind (bit 2: wrapping), the code format (bit 3: new, names from the instance table)
// and the block (bit 1: the globals' block, into three global slots); the rest is the data. Whatever it
// holds: no crash, work and memory bounded by the input, every node given back, and what reads back
// survives being written and read again unchanged.
#include "core/error.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "core/variables.h"
#include "core/varlist.h"
#include "core/varnames.h"
#include "ds/buffer.h"
#include "platform/hooks.h"
#include "world/command_line.h"
#include "world/loader.h"
#include "world/object_base.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Reads the block into the globals; when it is taken, writing it out and reading that back must give the
// same bytes again. The globals are emptied afterwards so that memory returns to where it was.
void VarlistFuzz_GlobalBlock(const std::string& bytes, int32_t kind)
{
    auto* in = new Buffer_Standard(const_cast<char*>(bytes.data()), int32_t(bytes.size()), kind, 1, false);
    const bool ok = Variable_Global_Deserialise(in);
    delete in;
    if (ok) {
        auto* out = new Buffer_Standard(16, buffer_grow, 1);
        Variable_Global_Serialise(out);
        const std::string first(reinterpret_cast<const char*>(out->GetData()), size_t(out->GetPosition()));
        auto* again = new Buffer_Standard(out->GetData(), out->GetPosition(), buffer_fixed, 1, false);
        if (!Variable_Global_Deserialise(again)) std::abort();
        auto* out2 = new Buffer_Standard(16, buffer_grow, 1);
        Variable_Global_Serialise(out2);
        if (std::string(reinterpret_cast<const char*>(out2->GetData()), size_t(out2->GetPosition())) != first) std::abort();
        delete out2;
        delete again;
        delete out;
    }
    for (int32_t i = 0; i < g_GlobalObject->slotCount; ++i) RValue_Free(ObjectBase_GetSlot(g_GlobalObject, i));
    Variable_BuiltIn_Free();  // also gives the flag array back
}

}  // namespace

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
        g_GlobalObject = ObjectBase_Alloc(3, VALUE_UNDEFINED, true);
        return true;
    }();
    (void)ready;
    g_GameData.newCodeFormat = (data[0] & 8) != 0;
    const int32_t kind = (data[0] & 4) ? buffer_wrap : buffer_fixed;
    const MemoryProbe before = MemoryManager_Probe();
    if (data[0] & 2) {
        std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
        if (kind == buffer_wrap && bytes.empty()) bytes.push_back('\0');
        VarlistFuzz_GlobalBlock(bytes, kind);
    } else {
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
    Error_ResetState();  // a report keeps its text; it is not the input's to account for
    const MemoryProbe after = MemoryManager_Probe();
    if (after.liveBlocks != before.liveBlocks || after.heapBytesInUse != before.heapBytesInUse) std::abort();
    return 0;
}
