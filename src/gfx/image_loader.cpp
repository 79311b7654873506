// Encoded texture data to pixels: the format is told by its first bytes. Images keep their own size (no
// stretching to a power of two), so a page's scales come out as 1 / that size.
#include "core/memory_manager.h"
#include "gfx/bitmap.h"
#include "gfx/image.h"
#include "gfx/texture_manager.h"

#include <cstring>

namespace {

enum class ImageKind { Unknown, Raw, Png, Jpeg, Gif, Bmp };

ImageKind KindOf(const uint8_t* data, int64_t size)
{
    if (!data || size < 4) return ImageKind::Unknown;
    if (std::memcmp(data, "RAW ", 4) == 0) return ImageKind::Raw;
    if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) return ImageKind::Png;
    if (data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return ImageKind::Jpeg;
    if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0))
        return ImageKind::Gif;
    if (data[0] == 'B' && data[1] == 'M') return ImageKind::Bmp;
    return ImageKind::Unknown;
}

int32_t Length(int64_t size) { return size > INT32_MAX ? INT32_MAX : int32_t(size); }

}  // namespace

bool ImageLoader_IsRaw(const uint8_t* data, int64_t size) { return KindOf(data, size) == ImageKind::Raw; }
bool ImageLoader_IsPNG(const uint8_t* data, int64_t size) { return KindOf(data, size) == ImageKind::Png; }

uint32_t* ImageLoader_Decode(const uint8_t* data, int64_t size, int32_t* width, int32_t* height, bool halve)
{
    *width = *height = -1;
    uint32_t* pixels = nullptr;
    switch (KindOf(data, size)) {
    case ImageKind::Png: {
        // The decoder holds its image until freed: copy it out and let it go at once.
        const uint8_t* held = PNG_Load(data, Length(size), width, height, halve);
        if (held && *width > 0 && *height > 0) {
            const size_t bytes = size_t(*width) * size_t(*height) * 4;
            pixels = static_cast<uint32_t*>(MemAlloc(bytes));
            std::memcpy(pixels, held, bytes);
        }
        PNG_Free();
        break;
    }
    case ImageKind::Jpeg: pixels = JPEG_Decode(data, Length(size), width, height); break;
    case ImageKind::Gif: pixels = GIF_Decode(data, Length(size), width, height); break;
    case ImageKind::Bmp: pixels = BMP_Decode(data, Length(size), width, height); break;
    default: break;
    }
    if (pixels && (*width < 1 || *height < 1 || *width > TEXTURE_MAX_SIZE || *height > TEXTURE_MAX_SIZE)) {
        MemFree(pixels);
        pixels = nullptr;
    }
    if (!pixels) *width = *height = -1;
    return pixels;
}

bool ImageLoader_GetSize(const uint8_t* data, int64_t size, int32_t* width, int32_t* height, bool halve)
{
    *width = *height = -1;
    bool ok = false;
    switch (KindOf(data, size)) {
    case ImageKind::Png: ok = PNG_GetSize(data, Length(size), width, height, halve); break;
    case ImageKind::Jpeg: ok = JPEG_GetSize(data, Length(size), width, height); break;
    case ImageKind::Gif: ok = GIF_GetSize(data, Length(size), width, height); break;
    case ImageKind::Bmp: ok = BMP_GetSize(data, Length(size), width, height); break;
    default: break;
    }
    if (!ok || *width < 1 || *height < 1 || *width > TEXTURE_MAX_SIZE || *height > TEXTURE_MAX_SIZE) {
        *width = *height = -1;
        return false;
    }
    return true;
}
