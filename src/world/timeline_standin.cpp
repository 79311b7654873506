// Stand-in until timelines are built.
#include "world/timeline.h"

#include "core/seam_trace.h"
#include "world/loader_standin.h"

void TimeLine_Init() { SeamTrace_Record("TimeLine_Init"); }
void TimeLine_Unload() { SeamTrace_Record("TimeLine_Unload"); }

bool TimeLine_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("TimeLine_Load");
    g_LoaderStandins.chunks.push_back({"TimeLine_Load", body, size, base});
    return true;
}

const char* TimeLine_GetName(int32_t) { return "<undefined>"; }
