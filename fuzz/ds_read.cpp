// Container texts come from files, ini values and packets. The input is one text, given to each of the six
// readers with the legacy flag off and on, and to the map reader once more in the older flat form (its second
// character made ':'). Whatever it holds: no crash, memory bounded by the text's size, a reader that says
// false leaves its container as it was (a map empty), one that says true holds what it writes again, and
// everything is given back when the containers go.
#include "core/console.h"
#include "core/error.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "ds/ds.h"
#include "platform/hooks.h"
#include "world/command_line.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string FuzzDs_Take(char* text)
{
    std::string s = text ? text : "";
    MemFree(text);
    return s;
}

// Unsupported kinds print a line each: not worth the time here.
struct FuzzDs_Quiet final : tagIConsole {
    void Output(const char*, ...) override {}
};

// A container holding one string before each read, so that "unchanged" means something.
template <class C, class Fill, class Read>
void FuzzDs_One(const char* text, size_t size, bool legacy, C& c, Fill fill, Read read)
{
    fill(c);
    const std::string before = FuzzDs_Take(c.Write());
    const MemoryProbe start = MemoryManager_Probe();
    const bool ok = read(c, text, legacy);
    const MemoryProbe after = MemoryManager_Probe();
    if (after.heapBytesInUse > start.heapBytesInUse + 64 * size + 65536) std::abort();
    const std::string now = FuzzDs_Take(c.Write());
    if (!ok && now != before) std::abort();
    if (ok) {
        // What was read writes a text that reads back to the same text.
        C again;
        if (!read(again, now.c_str(), false) || FuzzDs_Take(again.Write()) != now) std::abort();
    }
}

struct FuzzDs_Grid : CDS_Grid {
    FuzzDs_Grid() : CDS_Grid(0, 0) {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    static const bool quiet = [] {
        g_RunFlags.headless = true;
        Platform_SetExitHook([](int) {});
        static FuzzDs_Quiet quietConsole;
        DebugConsole = &quietConsole;
        return true;
    }();
    (void)quiet;
    const std::string text(reinterpret_cast<const char*>(data), size);  // a NUL inside ends the text
    const char* t = text.c_str();
    const MemoryProbe before = MemoryManager_Probe();
    {
        RValue kept;
        RValue_SetUndefined(&kept);
        RValue_CreateString(&kept, "kept");
        for (bool legacy : {false, true}) {
            CDS_Stack stack;
            FuzzDs_One(t, size, legacy, stack, [&](CDS_Stack& c) { c.Push(kept); },
                       [](CDS_Stack& c, const char* x, bool l) { return c.Read(x, l); });
            CDS_Queue queue;
            FuzzDs_One(t, size, legacy, queue, [&](CDS_Queue& c) { c.Enqueue(kept); },
                       [](CDS_Queue& c, const char* x, bool l) { return c.Read(x, l); });
            CDS_List list;
            FuzzDs_One(t, size, legacy, list, [&](CDS_List& c) { c.Add(kept); },
                       [](CDS_List& c, const char* x, bool l) { return c.Read(x, l); });
            CDS_Priority priority;
            FuzzDs_One(t, size, legacy, priority, [&](CDS_Priority& c) { c.Add(kept, kept); },
                       [](CDS_Priority& c, const char* x, bool l) { return c.Read(x, l); });
            FuzzDs_Grid grid;
            FuzzDs_One(t, size, legacy, grid, [&](FuzzDs_Grid& c) { c.SetSize(1, 1); c.SetCell(0, 0, kept); },
                       [](FuzzDs_Grid& c, const char* x, bool l) { return c.Read(x, l); });
        }
        std::string flat = t;
        if (flat.size() >= 2) flat[1] = ':';
        for (const std::string& form : {std::string(t), flat}) {
            CDS_Map map;
            map.Add(kept, kept);
            const bool ok = map.Read(form.c_str());
            if (!ok && !map.Empty()) std::abort();
            const std::string written = FuzzDs_Take(map.Write());
            CDS_Map again;
            if (!again.Read(written.c_str())) std::abort();
            // Repeated keys of the flat form collapse when read as a record: never more entries.
            if (again.Size() > map.Size()) std::abort();
        }
        RValue_Free(&kept);
    }
    Error_ResetState();
    const MemoryProbe after = MemoryManager_Probe();
    if (after.liveBlocks != before.liveBlocks || after.heapBytesInUse != before.heapBytesInUse) std::abort();
    return 0;
}
