// Stand-in until the texture table is built: hands out the ids a test set.
#include "gfx/textures.h"

#include "core/seam_trace.h"
#include "world/loader_standin.h"

int32_t GR_Texture_CreateFromPage(uint8_t* data, uint32_t size, bool flag)
{
    SeamTrace_Record("GR_Texture_CreateFromPage");
    LoaderStandins& s = g_LoaderStandins;
    size_t call = s.pages.size();
    s.pages.push_back({data, size, flag});
    return call < s.pageIds.size() ? s.pageIds[call] : int32_t(1000 + call);
}

void GR_Texture_FreeAll() { SeamTrace_Record("GR_Texture_FreeAll"); }
