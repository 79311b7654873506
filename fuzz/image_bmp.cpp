// BMP files through the one reader, from memory and from a stream, then into a 32-bit image. Whatever the
// bytes: no crash, no read outside them, no block or a whole image within the size limit, the header reader
// agreeing, and every block given back.
#include "core/memory_manager.h"
#include "core/stream.h"
#include "gfx/bitmap.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20)) return 0;
    const size_t liveBefore = MemoryManager_Probe().liveBlocks;
    {
        std::vector<uint8_t> bytes(data, data + size);
        const int32_t length = int32_t(size);
        int32_t w = 0, h = 0, sw = 0, sh = 0;
        uint32_t* pixels = BMP_Decode(bytes.data(), length, &w, &h);
        const bool header = BMP_GetSize(bytes.data(), length, &sw, &sh);
        if (bool(pixels) != header) std::abort();
        if (pixels) {
            if (sw != w || sh != h || w < 1 || h < 1 || w > 8192 || h > 8192) std::abort();
            uint32_t sum = 0;
            for (size_t i = 0; i < size_t(w) * size_t(h); ++i) sum += pixels[i];
            volatile uint32_t sink = sum;
            (void)sink;
            MemFree(pixels);
        }
        CStream stream(0);
        stream.WriteBuffer(data, int64_t(size));
        stream.SetPosition(0);
        TBitmap bitmap;
        bitmap.LoadFromStream(&stream);
        if (bool(bitmap.GetBlock()) != header) std::abort();
        CBitmap32 image(&bitmap, true, true, bitmap.GetPixelFormat() == BITMAP_FORMAT_32);
        int32_t* box = image.GetBoundingBox();
        MemFree(box);
    }
    if (MemoryManager_Probe().liveBlocks != liveBefore) std::abort();
    return 0;
}
