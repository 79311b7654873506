// GIF files from game data and run-time image files. Whatever the bytes: no crash, no read outside them,
// null or a whole screen within the size limit whose size the header reader agrees with, and every block
// given back.
#include "core/memory_manager.h"
#include "gfx/image.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    const size_t liveBefore = MemoryManager_Probe().liveBlocks;
    std::vector<uint8_t> bytes(data, data + size);
    const int32_t length = int32_t(size);
    int32_t w = 0, h = 0, sw = 0, sh = 0;
    uint32_t* pixels = GIF_Decode(bytes.data(), length, &w, &h);
    if (pixels) {
        if (!GIF_GetSize(bytes.data(), length, &sw, &sh) || sw != w || sh != h) std::abort();
        if (w < 1 || h < 1 || w > IMAGE_MAX_SIZE || h > IMAGE_MAX_SIZE) std::abort();
        uint32_t sum = 0;
        for (size_t i = 0; i < size_t(w) * size_t(h); ++i) sum += pixels[i];
        volatile uint32_t sink = sum;
        (void)sink;
        MemFree(pixels);
    } else if (w != -1 || h != -1) {
        std::abort();
    }
    if (MemoryManager_Probe().liveBlocks != liveBefore) std::abort();
    return 0;
}
