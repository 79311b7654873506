#include "gfx/bitmap.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "core/memory_manager.h"
#include "core/stream.h"
#include "gfx/colour.h"

namespace {

uint32_t Bmp_ReadU32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Bmp_ReadU16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
void Bmp_WriteU32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
void Bmp_WriteU16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

uint8_t* Bmp_AllocBlock(size_t size) { return static_cast<uint8_t*>(MemoryManager::Alloc(size, __FILE__, __LINE__, true)); }

constexpr int64_t kBmpMaxSide = 8192;

// What a BMP file's headers say, checked against the file's length.
struct BmpLayout {
    int32_t width = 0, height = 0;
    bool topDown = false;
    int32_t bitCount = 0;
    int64_t pixelOffset = 0;
    int64_t sourcePitch = 0;
    int64_t paletteOffset = 0;
    int32_t paletteCount = 0;
};

bool Bmp_ReadLayout(const uint8_t* data, int64_t length, BmpLayout* out)
{
    if (!data || length < 54 || data[0] != 'B' || data[1] != 'M') return false;
    const int64_t pixelOffset = Bmp_ReadU32(data + 10);
    const int64_t infoSize = Bmp_ReadU32(data + 14);
    // The 12-byte core header has no room for what follows; everything later extends the 40-byte one.
    if (infoSize < 40 || 14 + infoSize > length) return false;
    const int64_t width = int32_t(Bmp_ReadU32(data + 18));
    const int64_t rawHeight = int32_t(Bmp_ReadU32(data + 22));
    const int32_t bitCount = Bmp_ReadU16(data + 28);
    const uint32_t compression = Bmp_ReadU32(data + 30);
    const int64_t height = rawHeight < 0 ? -rawHeight : rawHeight;
    if (width < 1 || width > kBmpMaxSide || height < 1 || height > kBmpMaxSide) return false;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32) return false;
    int64_t afterHeader = 14 + infoSize;
    if (compression == 3) {
        // Bit fields are accepted only when they name the plain BGRA layout of 32-bit rows.
        if (bitCount != 32 || 54 + 12 > length) return false;
        if (Bmp_ReadU32(data + 54) != 0x00FF0000 || Bmp_ReadU32(data + 58) != 0x0000FF00 || Bmp_ReadU32(data + 62) != 0x000000FF)
            return false;
        if (infoSize == 40) afterHeader += 12;
    } else if (compression != 0) {
        return false;
    }
    int32_t paletteCount = 0;
    if (bitCount <= 8) {
        const int64_t full = int64_t(1) << bitCount;
        const int64_t used = Bmp_ReadU32(data + 46);
        paletteCount = int32_t(used == 0 || used > full ? full : used);
        if (afterHeader + int64_t(paletteCount) * 4 > length) return false;
    }
    if (pixelOffset < 54 || pixelOffset > length) return false;
    // Rows padded to four bytes as files are written. Rows without padding are taken only from a file that
    // ends exactly after them and does not give the padded size, so a cut padded file is never misread.
    const int64_t padded = ((width * bitCount + 31) / 32) * 4;
    const int64_t packed = (width * bitCount + 7) / 8;
    int64_t pitch;
    if (pixelOffset + padded * height <= length) {
        pitch = padded;
    } else if (pixelOffset + packed * height == length && Bmp_ReadU32(data + 34) != padded * height) {
        pitch = packed;
    } else {
        return false;
    }
    out->width = int32_t(width);
    out->height = int32_t(height);
    out->topDown = rawHeight < 0;
    out->bitCount = bitCount;
    out->pixelOffset = pixelOffset;
    out->sourcePitch = pitch;
    out->paletteOffset = afterHeader;
    out->paletteCount = paletteCount;
    return true;
}

uint32_t Bmp_PaletteIndex(const uint8_t* row, int32_t x, int32_t bitCount)
{
    switch (bitCount) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF;
    default: return row[x];
    }
}

}  // namespace

int32_t Bitmap_FormatFromBitCount(int32_t bitCount)
{
    switch (bitCount) {
    case 1: return BITMAP_FORMAT_1;
    case 4: return BITMAP_FORMAT_4;
    case 8: return BITMAP_FORMAT_8;
    case 15: return BITMAP_FORMAT_15;
    case 16: return BITMAP_FORMAT_16;
    case 24: return BITMAP_FORMAT_24;
    default: return BITMAP_FORMAT_32;
    }
}

void* IBitmap::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void IBitmap::operator delete(void* p) { MemoryManager::Free(p); }
void* IBitmapLoader::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void IBitmapLoader::operator delete(void* p) { MemoryManager::Free(p); }

TBitmap::~TBitmap() { Free(); }

TBitmap* TBitmap_Create() { return new TBitmap(); }

void TBitmap::Free()
{
    MemoryManager::Free(m_block);
    m_block = nullptr;
    m_pixels = nullptr;
    m_blockSize = 0;
}

void TBitmap::UpdatePitch()
{
    switch (m_format) {
    case BITMAP_FORMAT_1: m_pitch = m_width / 8; break;
    case BITMAP_FORMAT_4: m_pitch = m_width / 2; break;
    case BITMAP_FORMAT_8: m_pitch = m_width; break;
    case BITMAP_FORMAT_15:
    case BITMAP_FORMAT_16: m_pitch = m_width * 2; break;
    case BITMAP_FORMAT_24: m_pitch = m_width * 3; break;
    default: m_pitch = m_width * 4; break;
    }
}

void TBitmap::SetWidth(int32_t w)
{
    m_width = w;
    UpdatePitch();
}

void TBitmap::SetHeight(int32_t h)
{
    m_height = h;
    UpdatePitch();
}

void TBitmap::SetPixelFormat(int32_t code)
{
    m_format = code;
    UpdatePitch();
}

void TBitmap::ReadHeader()
{
    // The offset counts the two signature bytes the block leaves out.
    m_pixels = m_block + Bmp_ReadU32(m_block + 8) - 2;
    m_width = int32_t(Bmp_ReadU32(m_block + 16));
    m_height = int32_t(Bmp_ReadU32(m_block + 20));
    m_format = Bitmap_FormatFromBitCount(Bmp_ReadU16(m_block + 26));
    UpdatePitch();
}

uint8_t* TBitmap::Lock(int32_t row, uint8_t** rowPointer, int32_t* pitch)
{
    if (!m_block) {
        const int64_t bytes = std::max<int64_t>(0, int64_t(m_pitch) * m_height);
        m_blockSize = int32_t(bytes + BITMAP_HEADER_SIZE);
        m_block = Bmp_AllocBlock(size_t(m_blockSize));
        Bmp_WriteU32(m_block + 8, BITMAP_HEADER_SIZE);
        m_pixels = m_block + BITMAP_HEADER_SIZE;
    }
    if (pitch) *pitch = m_pitch;
    if (rowPointer) *rowPointer = m_pixels + int64_t(row) * m_pitch;
    return m_pixels;
}

void TBitmap::Unlock(uint8_t*) {}

void TBitmap::Assign(IBitmap* other)
{
    if (other == this) return;
    Free();
    if (!other) return;
    m_width = other->GetWidth();
    m_height = other->GetHeight();
    UpdatePitch();
    auto* source = dynamic_cast<TBitmap*>(other);
    if (!source || !source->m_block) return;
    m_blockSize = source->m_blockSize;
    m_block = Bmp_AllocBlock(size_t(m_blockSize));
    std::memcpy(m_block, source->m_block, size_t(m_blockSize));
    // Blocks made in memory count their offset from the block, not the file; they cannot be assigned.
    assert(Bmp_ReadU32(m_block + 8) >= 54);
    ReadHeader();
}

void TBitmap::Attach(void* block, int32_t blockSize)
{
    Free();
    m_block = static_cast<uint8_t*>(block);
    m_blockSize = blockSize;
    if (!m_block) return;
    m_pixels = m_block + Bmp_ReadU32(m_block + 8);
    m_width = int32_t(Bmp_ReadU32(m_block + 16));
    m_height = int32_t(Bmp_ReadU32(m_block + 20));
    m_format = BITMAP_FORMAT_32;
    m_pitch = m_width * 4;
}

void TBitmap::LoadFromStream(CStream* stream)
{
    Free();
    if (!stream || stream->Remaining() <= 0) return;
    LoadFromMemory(stream->GetMemory() + stream->GetPosition(), stream->Remaining());
}

bool TBitmap::LoadFromMemory(const uint8_t* data, int64_t length)
{
    Free();
    BmpLayout layout;
    if (!Bmp_ReadLayout(data, length, &layout)) return false;
    const bool palette = layout.bitCount <= 8;
    // Palette images become 32-bit; the others keep their pixel bytes.
    const int32_t bitCount = palette ? 32 : layout.bitCount;
    m_format = Bitmap_FormatFromBitCount(bitCount);
    m_width = layout.width;
    m_height = layout.height;
    UpdatePitch();
    m_blockSize = int32_t(int64_t(m_pitch) * m_height + BITMAP_HEADER_SIZE);
    m_block = Bmp_AllocBlock(size_t(m_blockSize));
    // The header as a 40-byte info header over top-down, unpadded rows right after it.
    std::memcpy(m_block, data + 2, BITMAP_HEADER_SIZE);
    Bmp_WriteU32(m_block + 0, uint32_t(m_blockSize + 2));
    Bmp_WriteU32(m_block + 8, BITMAP_HEADER_SIZE + 2);
    Bmp_WriteU32(m_block + 12, 40);
    Bmp_WriteU32(m_block + 20, uint32_t(m_height));
    Bmp_WriteU16(m_block + 26, uint16_t(bitCount));
    Bmp_WriteU32(m_block + 28, 0);
    m_pixels = m_block + BITMAP_HEADER_SIZE;

    const uint8_t* colours = data + layout.paletteOffset;
    for (int32_t y = 0; y < m_height; ++y) {
        const int32_t sourceRow = layout.topDown ? y : m_height - 1 - y;
        const uint8_t* src = data + layout.pixelOffset + int64_t(sourceRow) * layout.sourcePitch;
        uint8_t* dst = m_pixels + int64_t(y) * m_pitch;
        if (!palette) {
            std::memcpy(dst, src, size_t(m_pitch));
            continue;
        }
        for (int32_t x = 0; x < m_width; ++x) {
            const uint32_t index = Bmp_PaletteIndex(src, x, layout.bitCount);
            uint32_t colour = 0xFF000000;
            if (int32_t(index) < layout.paletteCount) {
                const uint8_t* entry = colours + index * 4;
                colour |= uint32_t(entry[2]) << 16 | uint32_t(entry[1]) << 8 | entry[0];
            }
            Bmp_WriteU32(dst + x * 4, colour);
        }
    }
    return true;
}

bool BMP_GetSize(const uint8_t* data, int32_t length, int32_t* width, int32_t* height)
{
    BmpLayout layout;
    const bool ok = Bmp_ReadLayout(data, length, &layout);
    if (width) *width = ok ? layout.width : -1;
    if (height) *height = ok ? layout.height : -1;
    return ok;
}

uint32_t* BMP_Decode(const uint8_t* data, int32_t length, int32_t* width, int32_t* height)
{
    if (width) *width = -1;
    if (height) *height = -1;
    TBitmap bitmap;
    if (!bitmap.LoadFromMemory(data, length)) return nullptr;
    const int32_t w = bitmap.GetWidth(), h = bitmap.GetHeight();
    auto* out = static_cast<uint32_t*>(MemoryManager::Alloc(size_t(w) * h * 4, __FILE__, __LINE__, true));
    const uint8_t* pixels = bitmap.GetPixels();
    const int32_t pitch = bitmap.GetPitch();
    bool anyAlpha = false;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = pixels + int64_t(y) * pitch;
        uint32_t* dst = out + int64_t(y) * w;
        for (int32_t x = 0; x < w; ++x) {
            uint32_t c;
            switch (bitmap.GetPixelFormat()) {
            case BITMAP_FORMAT_16: {
                // 5-5-5, each channel widened by repeating its top bits.
                const uint32_t v = Bmp_ReadU16(row + x * 2);
                const uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
                c = 0xFF000000 | (r << 3 | r >> 2) << 16 | (g << 3 | g >> 2) << 8 | (b << 3 | b >> 2);
                break;
            }
            case BITMAP_FORMAT_24:
                c = 0xFF000000 | uint32_t(row[x * 3 + 2]) << 16 | uint32_t(row[x * 3 + 1]) << 8 | row[x * 3];
                break;
            default:
                c = Bmp_ReadU32(row + x * 4);
                anyAlpha |= (c >> 24) != 0;
                break;
            }
            dst[x] = c;
        }
    }
    // A fourth byte that is zero everywhere is padding, not transparency.
    if (bitmap.GetPixelFormat() == BITMAP_FORMAT_32 && !anyAlpha) {
        for (int64_t i = 0; i < int64_t(w) * h; ++i) out[i] |= 0xFF000000;
    }
    if (width) *width = w;
    if (height) *height = h;
    return out;
}

BitmapLoader::BitmapLoader(const uint32_t* pixels, int32_t width, int32_t height)
{
    const int64_t count = width > 0 && height > 0 ? int64_t(width) * height : 0;
    m_blockSize = int32_t(count * 4 + BITMAP_HEADER_SIZE);
    m_block = Bmp_AllocBlock(size_t(m_blockSize));
    Bmp_WriteU32(m_block + 8, BITMAP_HEADER_SIZE);
    Bmp_WriteU32(m_block + 12, 40);
    Bmp_WriteU32(m_block + 16, uint32_t(width));
    Bmp_WriteU32(m_block + 20, uint32_t(height));
    Bmp_WriteU16(m_block + 24, 1);
    Bmp_WriteU16(m_block + 26, 32);
    if (pixels && count) std::memcpy(m_block + BITMAP_HEADER_SIZE, pixels, size_t(count) * 4);
}

BitmapLoader::~BitmapLoader() { MemoryManager::Free(m_block); }

BitmapLoader* BitmapLoader_Create(const uint32_t* pixels, int32_t width, int32_t height)
{
    return new BitmapLoader(pixels, width, height);
}

IBitmap* BitmapLoader::GetBitmap(int32_t n)
{
    if (n < 0 || n >= m_count) return nullptr;
    uint8_t* copy = Bmp_AllocBlock(size_t(m_blockSize));
    std::memcpy(copy, m_block, size_t(m_blockSize));
    auto* bitmap = new TBitmap();
    bitmap->Attach(copy, m_blockSize);
    return bitmap;
}

// ---- CBitmap32

void* CBitmap32::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void CBitmap32::operator delete(void* p) { MemoryManager::Free(p); }

void CBitmap32::Release()
{
    MemoryManager::Free(m_pixels.pixels);
    m_pixels = {};
}

void CBitmap32::Allocate(int32_t width, int32_t height)
{
    Release();
    const int64_t bytes = int64_t(width) * height * 4;
    // Sizes whose byte count does not fit the array's length field stay invalid.
    if (width <= 0 || height <= 0 || bytes > INT32_MAX) {
        m_valid = false;
        m_width = m_height = 0;
        return;
    }
    m_valid = true;
    m_width = width;
    m_height = height;
    m_pixels.length = int32_t(bytes);
    m_pixels.pixels = static_cast<uint32_t*>(MemoryManager::Alloc(size_t(bytes), __FILE__, __LINE__, true));
}

CBitmap32::CBitmap32(int32_t width, int32_t height, uint32_t colour)
{
    Allocate(std::max(width, 1), std::max(height, 1));
    const uint32_t argb = 0xFF000000 | (colour & 0xFF) << 16 | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
    for (int64_t i = 0; i < int64_t(m_width) * m_height; ++i) m_pixels.pixels[i] = argb;
}

CBitmap32::CBitmap32(const CBitmap32& other) { Assign(&other); }

CBitmap32::CBitmap32(const CBitmap32* source, int32_t x, int32_t y, int32_t w, int32_t h)
{
    if (!source || !source->m_valid || x < 0 || y < 0 || w <= 0 || h <= 0) return;
    if (int64_t(x) + w > source->m_width || int64_t(y) + h > source->m_height) return;
    Allocate(w, h);
    for (int32_t row = 0; row < h; ++row) {
        std::memcpy(m_pixels.pixels + int64_t(row) * w, source->m_pixels.pixels + int64_t(y + row) * source->m_width + x,
                    size_t(w) * 4);
    }
}

CBitmap32::CBitmap32(IBitmap* bitmap, bool removeBackground, bool smooth)
{
    FromBitmap(bitmap, removeBackground, smooth, false);
}

CBitmap32::CBitmap32(IBitmap* bitmap, bool removeBackground, bool smooth, bool keepAlpha)
{
    FromBitmap(bitmap, removeBackground, smooth, keepAlpha);
}

void CBitmap32::FromBitmap(IBitmap* bitmap, bool removeBackground, bool smooth, bool keepAlpha)
{
    if (!bitmap) return;
    const int32_t format = bitmap->GetPixelFormat();
    const bool usable = keepAlpha ? format == BITMAP_FORMAT_32 : (format == BITMAP_FORMAT_24 || format == BITMAP_FORMAT_32);
    if (!usable) return;
    Allocate(bitmap->GetWidth(), bitmap->GetHeight());
    if (!m_valid) return;
    uint8_t* row0 = nullptr;
    int32_t pitch = 0;
    bitmap->Lock(0, &row0, &pitch);
    const int32_t bytesPerPixel = format == BITMAP_FORMAT_24 ? 3 : 4;
    for (int32_t y = 0; y < m_height; ++y) {
        const uint8_t* row = row0 + int64_t(y) * pitch;
        uint32_t* dst = m_pixels.pixels + int64_t(y) * m_width;
        for (int32_t x = 0; x < m_width; ++x) {
            const uint8_t* p = row + x * bytesPerPixel;
            const uint32_t alpha = keepAlpha ? uint32_t(p[3]) << 24 : 0xFF000000;
            dst[x] = alpha | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        }
    }
    bitmap->Unlock(row0);
    if (removeBackground) {
        RemoveBackground();
        if (smooth) SmoothEdges();
    }
}

CBitmap32::CBitmap32(int32_t width, int32_t height, uint32_t colour1, uint32_t colour2, int32_t kind)
{
    const int32_t w = std::max(width, 1), h = std::max(height, 1);
    TBitmap bitmap;
    bitmap.SetPixelFormat(BITMAP_FORMAT_24);
    bitmap.SetWidth(w);
    bitmap.SetHeight(h);
    uint8_t* rows = nullptr;
    int32_t pitch = 0;
    bitmap.Lock(0, &rows, &pitch);
    auto put = [&](int32_t x, int32_t y, uint32_t colour) {
        uint8_t* p = rows + int64_t(y) * pitch + x * 3;
        p[0] = uint8_t(colour >> 16);
        p[1] = uint8_t(colour >> 8);
        p[2] = uint8_t(colour);
    };
    auto mix = [&](double t) { return CBitmap32_MixColour(colour1, colour2, t); };
    const double half = std::min(w, h) * 0.5;
    for (int32_t y = 0; y < h && kind >= 0 && kind <= 5 && kind != 3; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            double t = 0;
            switch (kind) {
            case 0: t = double(x) / w; break;
            case 1: t = double(y) / h; break;
            case 2: t = std::min({x, w - 1 - x, y, h - 1 - y}) / half; break;
            case 4: t = std::min(x, w - 1 - x) / (w * 0.5); break;
            default: t = std::min(y, h - 1 - y) / (h * 0.5); break;
            }
            put(x, y, mix(t));
        }
    }
    if (kind == 3) {
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) put(x, y, colour1);
        for (int32_t i = 0; i < half; ++i) {
            const uint32_t colour = mix(i / half);
            const double rx = (w - 2.0 * i) * 0.5, ry = (h - 2.0 * i) * 0.5;
            for (int32_t y = i; y < h - i; ++y) {
                for (int32_t x = i; x < w - i; ++x) {
                    const double a = (x - w * 0.5) / rx, b = (y - h * 0.5) / ry;
                    if (a * a + b * b <= 1.0) put(x, y, colour);
                }
            }
        }
    }
    bitmap.Unlock(rows);
    CBitmap32 opaque(&bitmap, false, false);
    Assign(&opaque);
}

CBitmap32::~CBitmap32() { Release(); }

void CBitmap32::Assign(const CBitmap32* other)
{
    if (other == this) return;
    Release();
    m_valid = false;
    m_width = m_height = 0;
    if (!other) return;
    m_width = other->m_width;
    m_height = other->m_height;
    m_valid = other->m_valid;
    if (other->m_valid && other->m_pixels.pixels) {
        m_pixels.length = other->m_pixels.length;
        m_pixels.pixels = static_cast<uint32_t*>(MemoryManager::Alloc(size_t(m_pixels.length), __FILE__, __LINE__, false));
        std::memcpy(m_pixels.pixels, other->m_pixels.pixels, size_t(m_pixels.length));
    }
}

void CBitmap32::Resize(int32_t newWidth, int32_t newHeight)
{
    if (!m_valid || (newWidth == m_width && newHeight == m_height)) return;
    if (newWidth <= 0 || newHeight <= 0 || int64_t(newWidth) * newHeight * 4 > INT32_MAX) return;
    const int32_t oldWidth = m_width, oldHeight = m_height;
    uint32_t* old = m_pixels.pixels;
    m_pixels.pixels = nullptr;
    Allocate(newWidth, newHeight);
    for (int32_t y = 0; y < newHeight; ++y) {
        const int64_t sy = int64_t(y) * oldHeight / newHeight;
        for (int32_t x = 0; x < newWidth; ++x) {
            const int64_t sx = int64_t(x) * oldWidth / newWidth;
            if (sx < oldWidth && sy < oldHeight) m_pixels.pixels[int64_t(y) * newWidth + x] = old[sy * oldWidth + sx];
        }
    }
    MemoryManager::Free(old);
}

int32_t* CBitmap32::GetBoundingBox() const
{
    auto* box = static_cast<int32_t*>(MemoryManager::Alloc(16, __FILE__, __LINE__, true));
    if (!m_valid || m_width <= 0 || m_height <= 0 || !m_pixels.pixels) return box;
    int32_t left = m_width - 1, top = m_height - 1, right = 0, bottom = 0;
    for (int32_t y = 0; y < m_height; ++y) {
        const uint32_t* row = m_pixels.pixels + int64_t(y) * m_width;
        for (int32_t x = 0; x < m_width; ++x) {
            if ((row[x] >> 24) == 0) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    box[0] = left;
    box[1] = top;
    box[2] = right;
    box[3] = bottom;
    return box;
}

TBitmap* CBitmap32::CreateTBitmap() const
{
    if (!m_valid) return nullptr;
    TBitmap* bitmap = TBitmap_Create();
    bitmap->SetPixelFormat(BITMAP_FORMAT_32);
    bitmap->SetWidth(m_width);
    bitmap->SetHeight(m_height);
    uint8_t* rows = nullptr;
    int32_t pitch = 0;
    bitmap->Lock(0, &rows, &pitch);
    for (int32_t y = 0; y < m_height; ++y) {
        uint8_t* dst = rows + int64_t(y) * pitch;
        const uint32_t* src = m_pixels.pixels + int64_t(y) * m_width;
        for (int32_t x = 0; x < m_width; ++x) {
            dst[x * 4 + 0] = uint8_t(src[x] >> 16);
            dst[x * 4 + 1] = uint8_t(src[x] >> 8);
            dst[x * 4 + 2] = uint8_t(src[x]);
            dst[x * 4 + 3] = uint8_t(src[x] >> 24);
        }
    }
    bitmap->Unlock(rows);
    return bitmap;
}

void CBitmap32::SetAlphaFromBitmap(const CBitmap32* other)
{
    if (!m_valid || !other || !other->m_valid) return;
    const int32_t w = std::min(m_width, other->m_width), h = std::min(m_height, other->m_height);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            uint32_t& p = m_pixels.pixels[int64_t(y) * m_width + x];
            const uint32_t o = other->m_pixels.pixels[int64_t(y) * other->m_width + x];
            const uint32_t brightness = (((o >> 16) & 0xFF) + ((o >> 8) & 0xFF) + (o & 0xFF)) / 3;
            p = (p & 0xFFFFFF) | std::min(p >> 24, brightness) << 24;
        }
    }
}

void CBitmap32::RemoveBackground()
{
    if (!m_valid || m_width <= 0 || m_height <= 0) return;
    const uint32_t key = m_pixels.pixels[int64_t(m_height - 1) * m_width] & 0xFFFFFF;
    for (int64_t i = 0; i < int64_t(m_width) * m_height; ++i) {
        if ((m_pixels.pixels[i] & 0xFFFFFF) == key) m_pixels.pixels[i] &= 0xFFFFFF;
    }
    CBitmap32_BleedColour(this);
}

void CBitmap32_BleedColour(CBitmap32* bitmap)
{
    if (!bitmap || !bitmap->IsValid()) return;
    const int32_t w = bitmap->GetWidth(), h = bitmap->GetHeight();
    uint32_t* p = bitmap->GetPixels().pixels;
    auto opaque = [&](int32_t x, int32_t y) -> const uint32_t* {
        if (x < 0 || y < 0 || x >= w || y >= h) return nullptr;
        const uint32_t* q = p + int64_t(y) * w + x;
        return (*q >> 24) ? q : nullptr;
    };
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            uint32_t& pixel = p[int64_t(y) * w + x];
            if (pixel >> 24) continue;
            const uint32_t* from = opaque(x - 1, y);
            if (!from) from = opaque(x + 1, y);
            if (!from) from = opaque(x, y - 1);
            if (!from) from = opaque(x, y + 1);
            if (from) pixel = *from & 0xFFFFFF;
        }
    }
}

void CBitmap32::SmoothEdges()
{
    if (!m_valid) return;
    uint32_t* p = m_pixels.pixels;
    for (int32_t y = 0; y < m_height; ++y) {
        for (int32_t x = 0; x < m_width; ++x) {
            if (p[int64_t(y) * m_width + x] >> 24) continue;
            for (int32_t ny = std::max(0, y - 1); ny <= std::min(m_height - 1, y + 1); ++ny) {
                for (int32_t nx = std::max(0, x - 1); nx <= std::min(m_width - 1, x + 1); ++nx) {
                    uint32_t& q = p[int64_t(ny) * m_width + nx];
                    if ((q >> 24) >= 0x20) q -= 0x20000000;
                }
            }
        }
    }
}

uint32_t CBitmap32_MixColour(uint32_t colour1, uint32_t colour2, double amount)
{
    return Colour_Merge(colour1, colour2, amount);
}
