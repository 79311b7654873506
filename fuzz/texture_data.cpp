// Encoded texture data as game data, run-time image files and HTTP bodies give it: the format dispatch, "RAW "
// blocks and the decoders behind it, in immediate and deferred mode, with no device (creation fails after the
// data was read) and with the texture scale at 1 and 2. No crash, no read outside the bytes, every record given
// back, and a texture only of a size the data allows.
#include "core/console.h"
#include "core/memory_manager.h"
#include "gfx/image.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "world/options.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {
struct FuzzTexture_Quiet final : tagIConsole {
    void Output(const char*, ...) override {}
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    static FuzzTexture_Quiet quiet;
    DebugConsole = &quiet;
    const size_t liveBefore = MemoryManager_Probe().liveBlocks;
    for (int round = 0; round < 4; ++round) {
        g_IniOptions.createTexturesOnDemand = round & 1;
        g_TextureScale = round & 2 ? 2 : 1;
        // An exact-size copy each round: a "RAW " block is converted in place.
        std::vector<uint8_t> bytes(data, data + size);
        TextureImageInfo info;
        NativeTexture* t = Texture_CreateFromData(bytes.data(), int32_t(size), &info, TEXTURE_FORMAT_A8R8G8B8);
        if (t) {
            if (t->Width() < 1 || t->Height() < 1 || info.width != t->Width() || info.height != t->Height() ||
                info.width > TEXTURE_MAX_SIZE || info.height > TEXTURE_MAX_SIZE)
                std::abort();
            // Deferred records keep the data: making the texture reads it again (and fails without a device).
            Texture_EnsureCreated(t);
            Texture_Free(t);
        }
        int32_t w = 0, h = 0;
        if (ImageLoader_GetSize(bytes.data(), int64_t(size), &w, &h, false) &&
            (w < 1 || h < 1 || w > TEXTURE_MAX_SIZE || h > TEXTURE_MAX_SIZE))
            std::abort();
        // The table's page creation, as the loader calls it.
        const int32_t page = GR_Texture_CreateFromPage(bytes.data(), uint32_t(size), false);
        if (!GR_Texture_Exists(page)) std::abort();
        GR_Texture_FreeAll();
    }
    g_IniOptions.createTexturesOnDemand = false;
    g_TextureScale = 1;
    if (MemoryManager_Probe().liveBlocks != liveBefore) std::abort();
    return 0;
}
