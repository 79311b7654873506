// The value collector: mark and sweep over the object table while the script object model is on.
#pragma once
#include <cstdint>

// One collection: marks from the roots (the global object, every registered instance, the running room's
// lists, the hidden layer- and camera-script instances, every live container) and frees every other
// registered object. Instances are never freed here; their own lifetime ends them. Does nothing without
// the script object model, and nothing while code runs (what a value stack holds is not a root).
void VM_GarbageCollect();

// What the last collection did.
struct GCStats {
    uint32_t collections;  // collections run (those that returned at once not counted)
    int32_t reached;       // table slots marked
    int32_t freed;         // objects freed
};
GCStats GC_LastStats();

// Gives back the work list the collector keeps between collections (shutdown and tests).
void GC_Release();
