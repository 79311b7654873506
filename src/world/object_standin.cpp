// Stand-in until the object table is built.
#include "world/object.h"

#include "core/seam_trace.h"
#include "world/loader_standin.h"

void Object_Init() { SeamTrace_Record("Object_Init"); }

bool Object_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("Object_Load");
    g_LoaderStandins.chunks.push_back({"Object_Load", body, size, base});
    return true;
}
