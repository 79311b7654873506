// Stand-in until language tables are built.
#include "world/language.h"

#include "core/seam_trace.h"
#include "world/loader_standin.h"

bool Language_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("Language_Load");
    g_LoaderStandins.chunks.push_back({"Language_Load", body, size, base});
    return true;
}
