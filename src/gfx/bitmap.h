// Decoded images: IBitmap (a block laid out like a BMP file without its "BM"), the BMP reader, the raw
// 32-bit loader, and CBitmap32, the working image sprites, backgrounds and fonts are built from.
#pragma once
#include <cstddef>
#include <cstdint>

class CStream;

// Pixel format codes.
constexpr int32_t BITMAP_FORMAT_1 = 1;
constexpr int32_t BITMAP_FORMAT_4 = 2;
constexpr int32_t BITMAP_FORMAT_8 = 3;
constexpr int32_t BITMAP_FORMAT_15 = 4;
constexpr int32_t BITMAP_FORMAT_16 = 5;
constexpr int32_t BITMAP_FORMAT_24 = 6;
constexpr int32_t BITMAP_FORMAT_32 = 7;
// The header in front of the pixel rows of a block: the file header without "BM" and the 40-byte info header.
constexpr int32_t BITMAP_HEADER_SIZE = 52;

int32_t Bitmap_FormatFromBitCount(int32_t bitCount);

class IBitmap {
public:
    virtual ~IBitmap() = default;
    virtual void LoadFromStream(CStream* stream) = 0;
    virtual void SetWidth(int32_t w) = 0;
    virtual int32_t GetWidth() const = 0;
    virtual void SetHeight(int32_t h) = 0;
    virtual int32_t GetHeight() const = 0;
    virtual void SetPixelFormat(int32_t code) = 0;
    virtual int32_t GetPixelFormat() const = 0;
    // Row pointer and pitch are stored where addresses are given; returns the pixel pointer.
    virtual uint8_t* Lock(int32_t row, uint8_t** rowPointer, int32_t* pitch) = 0;
    virtual void Unlock(uint8_t* pixels) = 0;
    virtual void Assign(IBitmap* other) = 0;
    virtual void Free() = 0;
    virtual uint32_t GetFlags() const = 0;
    // Takes ownership of a memory-manager block whose header describes a 32-bit image.
    virtual void Attach(void* block, int32_t blockSize) = 0;

    static void* operator new(size_t size);
    static void operator delete(void* p);
};

class TBitmap final : public IBitmap {
public:
    TBitmap() = default;
    ~TBitmap() override;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    // BMP files: uncompressed 1, 4, 8, 16, 24 and 32 bits (32 also with the plain bit-field masks), rows
    // padded or not, bottom-up or top-down. Palette images become 32-bit. Anything else, a header whose
    // palette or pixels lie outside the stream, or a side above 8192 leaves no block.
    void LoadFromStream(CStream* stream) override;
    // The same reader over bytes in memory; false when it leaves no block.
    bool LoadFromMemory(const uint8_t* data, int64_t length);
    void SetWidth(int32_t w) override;
    int32_t GetWidth() const override { return m_width; }
    void SetHeight(int32_t h) override;
    int32_t GetHeight() const override { return m_height; }
    void SetPixelFormat(int32_t code) override;
    int32_t GetPixelFormat() const override { return m_format; }
    uint8_t* Lock(int32_t row, uint8_t** rowPointer, int32_t* pitch) override;
    void Unlock(uint8_t* pixels) override;
    void Assign(IBitmap* other) override;
    void Free() override;
    uint32_t GetFlags() const override { return m_flags; }
    void Attach(void* block, int32_t blockSize) override;

    void UpdatePitch();
    void ReadHeader();
    int32_t GetPitch() const { return m_pitch; }
    uint8_t* GetBlock() const { return m_block; }
    int32_t GetBlockSize() const { return m_blockSize; }
    uint8_t* GetPixels() const { return m_pixels; }

private:
    uint8_t* m_block = nullptr;
    uint32_t m_flags = 0;
    uint8_t* m_pixels = nullptr;
    int32_t m_blockSize = 0;
    int32_t m_format = BITMAP_FORMAT_32;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_pitch = 0;
};

TBitmap* TBitmap_Create();

class IBitmapLoader {
public:
    virtual ~IBitmapLoader() = default;
    virtual bool IsMultiImage() const = 0;
    virtual int32_t GetImageCount() const = 0;
    // A new bitmap owned by the caller, or null.
    virtual IBitmap* GetBitmap(int32_t n) = 0;

    static void* operator new(size_t size);
    static void operator delete(void* p);
};

class BitmapLoader final : public IBitmapLoader {
public:
    BitmapLoader(const uint32_t* pixels, int32_t width, int32_t height);
    ~BitmapLoader() override;
    BitmapLoader(const BitmapLoader&) = delete;
    BitmapLoader& operator=(const BitmapLoader&) = delete;

    bool IsMultiImage() const override { return false; }
    int32_t GetImageCount() const override { return m_count; }
    IBitmap* GetBitmap(int32_t n) override;

private:
    uint8_t* m_block = nullptr;
    int32_t m_blockSize = 0;
    int32_t m_count = 1;
};

BitmapLoader* BitmapLoader_Create(const uint32_t* pixels, int32_t width, int32_t height);

// A BMP file in memory to a new memory-manager block of 0xAARRGGBB words (MemFree), or null. 32-bit files
// keep their alpha bytes; other depths are opaque.
uint32_t* BMP_Decode(const uint8_t* data, int32_t length, int32_t* width, int32_t* height);
// Header only; false (and -1, -1) when BMP_Decode would refuse the header.
bool BMP_GetSize(const uint8_t* data, int32_t length, int32_t* width, int32_t* height);

struct CBitmap32Pixels {
    int32_t length = 0;          // width x height x 4
    uint32_t* pixels = nullptr;  // 0xAARRGGBB, row-major from the top
};

class CBitmap32 {
public:
    CBitmap32(int32_t width, int32_t height, uint32_t colour);
    CBitmap32(const CBitmap32& other);
    CBitmap32(const CBitmap32* source, int32_t x, int32_t y, int32_t w, int32_t h);
    CBitmap32(IBitmap* bitmap, bool removeBackground, bool smooth);
    CBitmap32(IBitmap* bitmap, bool removeBackground, bool smooth, bool keepAlpha);
    CBitmap32(int32_t width, int32_t height, uint32_t colour1, uint32_t colour2, int32_t kind);
    virtual ~CBitmap32();
    CBitmap32& operator=(const CBitmap32&) = delete;

    static void* operator new(size_t size);
    static void operator delete(void* p);

    void Assign(const CBitmap32* other);
    bool IsValid() const { return m_valid; }
    int32_t GetWidth() const { return m_width; }
    int32_t GetHeight() const { return m_height; }
    CBitmap32Pixels& GetPixels() { return m_pixels; }
    const CBitmap32Pixels& GetPixels() const { return m_pixels; }
    void Resize(int32_t newWidth, int32_t newHeight);
    // New 16-byte block {left, top, right, bottom} the caller frees with MemFree.
    int32_t* GetBoundingBox() const;
    // Format 7, rows of red, green, blue, alpha bytes (the PNG writer's order); null when invalid.
    TBitmap* CreateTBitmap() const;
    void SetAlphaFromBitmap(const CBitmap32* other);
    void RemoveBackground();
    void SmoothEdges();

private:
    void FromBitmap(IBitmap* bitmap, bool removeBackground, bool smooth, bool keepAlpha);
    void Allocate(int32_t width, int32_t height);
    void Release();

    bool m_valid = false;
    int32_t m_width = 0;
    int32_t m_height = 0;
    CBitmap32Pixels m_pixels;
};

void CBitmap32_BleedColour(CBitmap32* bitmap);
uint32_t CBitmap32_MixColour(uint32_t colour1, uint32_t colour2, double amount);
