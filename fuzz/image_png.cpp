// PNG files from game data, run-time image files and HTTP bodies. Whatever the bytes: no crash, no read
// outside them, null with -1 x -1 or a whole image within the size limit, the header reader agreeing with
// the decoder, and every block given back.
#include "core/console.h"
#include "core/memory_manager.h"
#include "gfx/image.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
struct FuzzPng_Quiet final : tagIConsole {
    void Output(const char*, ...) override {}
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    static FuzzPng_Quiet quiet;
    DebugConsole = &quiet;
    const size_t liveBefore = MemoryManager_Probe().liveBlocks;
    // An exact-size copy: the sanitizer sees any read past the end.
    std::vector<uint8_t> bytes(data, data + size);
    const int32_t length = int32_t(size);
    int32_t w = 0, h = 0, sw = 0, sh = 0;
    const bool header = PNG_GetSize(bytes.data(), length, &sw, &sh, false);
    const uint8_t* pixels = PNG_Load(bytes.data(), length, &w, &h, false);
    if (pixels) {
        if (!header || w != sw || h != sh || w < 1 || h < 1 || w > IMAGE_MAX_SIZE || h > IMAGE_MAX_SIZE) std::abort();
        uint32_t sum = 0;
        for (size_t i = 0; i < size_t(w) * size_t(h) * 4; ++i) sum += pixels[i];
        volatile uint32_t sink = sum;
        (void)sink;
    } else if (w != -1 || h != -1) {
        std::abort();
    }
    PNG_Free();
    if (MemoryManager_Probe().liveBlocks != liveBefore) std::abort();
    return 0;
}
