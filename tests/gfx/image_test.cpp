// PNG, JPEG and GIF decoding against ImageMagick's own decoding of the same files; PNG writing checked by
// Python's zlib and ImageMagick's identify; every cut and damaged file ends with null or a whole image.
#include "gfx/image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <zlib.h>

#include "core/console.h"
#include "core/memory_manager.h"
#include "gfx/bitmap.h"
#include "image_fixture_util.h"
#include "lib/file_areas.h"

using imagetest::ReadBytes;
using imagetest::ReadDump;
using imagetest::SamePixels;
using imagetest::Words;

namespace {

struct ScopedScale {
    explicit ScopedScale(int32_t s) { g_TextureScale = s; }
    ~ScopedScale() { g_TextureScale = 1; }
};

struct ScopedDebugConsole {
    kvtest::RecordingConsole console;
    tagIConsole* old = DebugConsole;
    ScopedDebugConsole() { DebugConsole = &console; }
    ~ScopedDebugConsole() { DebugConsole = old; }
};

std::vector<uint32_t> LoadPng(const std::vector<uint8_t>& bytes, int32_t* w, int32_t* h, bool halve = false)
{
    uint8_t* pixels = PNG_Load(bytes.data(), int32_t(bytes.size()), w, h, halve);
    std::vector<uint32_t> out;
    if (pixels) out = Words(pixels, *w, *h);
    PNG_Free();
    return out;
}

std::string CommandOutput(const std::string& command)
{
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return text;
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    pclose(pipe);
    return text;
}

// Decodes with the reader the name's extension picks: true with a whole image (every pixel read), false
// with none. Anything in between fails the test.
bool DecodeAny(const std::string& name, const std::vector<uint8_t>& bytes)
{
    // An exact-size copy, so a read past the end reaches the sanitizer's red zone.
    std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty()) std::memcpy(data.get(), bytes.data(), bytes.size());
    const int32_t length = int32_t(bytes.size());
    int32_t w = 0, h = 0;
    const uint32_t* pixels = nullptr;
    uint32_t* owned = nullptr;
    if (name.ends_with(".png")) {
        pixels = reinterpret_cast<const uint32_t*>(PNG_Load(data.get(), length, &w, &h, false));
    } else if (name.ends_with(".jpg")) {
        pixels = owned = JPEG_Decode(data.get(), length, &w, &h);
    } else if (name.ends_with(".gif")) {
        pixels = owned = GIF_Decode(data.get(), length, &w, &h);
    } else {
        pixels = owned = BMP_Decode(data.get(), length, &w, &h);
    }
    bool whole = false;
    if (pixels) {
        EXPECT_TRUE(w >= 1 && h >= 1 && w <= IMAGE_MAX_SIZE && h <= IMAGE_MAX_SIZE) << w << " x " << h;
        uint32_t sum = 0;
        for (int64_t i = 0; i < int64_t(w) * h; ++i) sum += pixels[i];
        volatile uint32_t sink = sum;
        (void)sink;
        whole = true;
    } else {
        EXPECT_EQ(w, -1);
        EXPECT_EQ(h, -1);
    }
    PNG_Free();
    MemFree(owned);
    return whole;
}

// Byte ranges worth damaging: each chunk, segment or block of the file.
std::vector<std::pair<size_t, size_t>> Segments(const std::string& name, const std::vector<uint8_t>& b)
{
    std::vector<std::pair<size_t, size_t>> out;
    auto be32 = [&](size_t i) { return uint32_t(b[i]) << 24 | uint32_t(b[i + 1]) << 16 | uint32_t(b[i + 2]) << 8 | b[i + 3]; };
    if (name.ends_with(".png")) {
        for (size_t i = 8; i + 12 <= b.size();) {
            const size_t length = be32(i);
            out.push_back({i + 4, i + 8 + length});  // type and data
            i += 12 + length;
        }
    } else if (name.ends_with(".jpg")) {
        size_t i = 2;
        while (i + 4 <= b.size() && b[i] == 0xFF) {
            const size_t length = size_t(b[i + 2]) << 8 | b[i + 3];
            out.push_back({i + 2, i + 2 + length});
            const bool scan = b[i + 1] == 0xDA;
            i += 2 + length;
            if (scan) {
                out.push_back({i, b.size() - 2});
                break;
            }
        }
    } else if (name.ends_with(".gif")) {
        out.push_back({0, 6});
        out.push_back({6, 13});
        size_t i = 13;
        if (b[10] & 0x80) {
            const size_t n = size_t(3) << ((b[10] & 7) + 1);
            out.push_back({i, i + n});
            i += n;
        }
        while (i < b.size() && b[i] != 0x3B) {
            const size_t start = i;
            if (b[i] == 0x21) {
                i += 2;
            } else {
                const uint8_t flags = b[i + 9];
                i += 10;
                if (flags & 0x80) i += size_t(3) << ((flags & 7) + 1);
                ++i;
            }
            while (i < b.size() && b[i]) i += size_t(b[i]) + 1;
            ++i;
            out.push_back({start, std::min(i, b.size())});
        }
    } else {
        const size_t offset = b[10] | b[11] << 8;
        out = {{0, 14}, {14, 54}, {54, std::max<size_t>(offset, 55)}, {offset, b.size()}};
    }
    return out;
}

const char* const kAllFixtures[] = {
    "png_rgb.png", "png_rgba.png", "png_interlaced.png", "png_palette.png", "png_palette_trns.png",
    "png_grey1.png", "png_grey2.png", "png_grey4.png", "png_grey8.png", "png_grey_alpha.png", "png_16.png",
    "png_big.png", "png_2x2.png", "jpeg_grey.jpg", "jpeg_rgb.jpg", "gif_trns.gif", "gif_range.gif", "gif_local.gif",
    "gif_offset.gif", "bmp_p4.bmp", "bmp_p5.bmp", "bmp_24.bmp", "bmp_32.bmp", "bmp_topdown.bmp"};

}  // namespace

TEST(GfxImage, PngLayoutsDecodeToTheDumpInBgraOrder)
{
    for (const char* name : {"png_rgb", "png_rgba", "png_palette", "png_palette_trns", "png_grey1", "png_grey2",
                             "png_grey4", "png_grey8", "png_grey_alpha", "png_16", "png_interlaced"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = ReadBytes(std::string(name) + ".png");
        int32_t w = 0, h = 0;
        EXPECT_TRUE(SamePixels(ReadDump(name), LoadPng(bytes, &w, &h)));
        EXPECT_EQ(w, 13);
        EXPECT_EQ(h, 7);
        int32_t sw = 0, sh = 0;
        EXPECT_TRUE(PNG_GetSize(bytes.data(), int32_t(bytes.size()), &sw, &sh, true));
        EXPECT_EQ(sw, 13);
        EXPECT_EQ(sh, 7);
    }
    // The memory order is blue, green, red, alpha: the RGB file's first pixel as bytes.
    int32_t w = 0, h = 0;
    const std::vector<uint8_t> bytes = ReadBytes("png_rgb.png");
    const uint8_t* p = PNG_Load(bytes.data(), int32_t(bytes.size()), &w, &h, false);
    ASSERT_NE(p, nullptr);
    const std::vector<uint8_t> src = ReadBytes("src.rgb");
    EXPECT_EQ(std::vector<uint8_t>(p, p + 4), (std::vector<uint8_t>{src[2], src[1], src[0], 0xFF}));
    PNG_Free();
}

TEST(GfxImage, PngRefusals)
{
    std::vector<uint8_t> bytes = ReadBytes("png_rgb.png");
    bytes[0] ^= 0x01;
    ScopedDebugConsole console;
    int32_t w = 0, h = 0;
    EXPECT_EQ(PNG_Load(bytes.data(), int32_t(bytes.size()), &w, &h, false), nullptr);
    EXPECT_EQ(w, -1);
    EXPECT_EQ(h, -1);
    EXPECT_NE(console.console.text.find("Not a PNG"), std::string::npos) << console.console.text;
    EXPECT_FALSE(PNG_GetSize(bytes.data(), int32_t(bytes.size()), &w, &h, false));
    EXPECT_EQ(w, -1);

    // A header claiming 8193 columns, with a correct checksum.
    std::vector<uint8_t> wide = ReadBytes("png_rgb.png");
    wide[16] = 0, wide[17] = 0, wide[18] = 0x20, wide[19] = 0x01;
    const uint32_t crc = uint32_t(crc32(0, wide.data() + 12, 17));
    for (int i = 0; i < 4; ++i) wide[29 + i] = uint8_t(crc >> (24 - 8 * i));
    console.console.text.clear();
    EXPECT_EQ(PNG_Load(wide.data(), int32_t(wide.size()), &w, &h, false), nullptr);
    EXPECT_EQ(w, -1);
    EXPECT_NE(console.console.text.find("ReadPNG :: a PNG error occured"), std::string::npos);
    EXPECT_FALSE(PNG_GetSize(wide.data(), int32_t(wide.size()), &w, &h, false));
    EXPECT_EQ(PNG_Load(nullptr, 0, &w, &h, false), nullptr);
}

TEST(GfxImage, HeldImageMustBeFreedFirst)
{
    const std::vector<uint8_t> a = ReadBytes("png_rgb.png"), b = ReadBytes("png_2x2.png");
    int32_t w = 0, h = 0;
    EXPECT_DEBUG_DEATH(
        {
            PNG_Load(a.data(), int32_t(a.size()), &w, &h, false);
            PNG_Load(b.data(), int32_t(b.size()), &w, &h, false);
        },
        "");
    PNG_Free();
}

TEST(GfxImage, TextureScaleHalvesByBoxAverage)
{
    const std::vector<uint8_t> bytes = ReadBytes("png_big.png");
    const std::vector<uint32_t> full = ReadDump("png_big");
    std::vector<uint32_t> expected(128 * 64);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 128; ++x) {
            const uint32_t q[4] = {full[(2 * y) * 256 + 2 * x], full[(2 * y) * 256 + 2 * x + 1],
                                   full[(2 * y + 1) * 256 + 2 * x], full[(2 * y + 1) * 256 + 2 * x + 1]};
            uint32_t v = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                uint32_t sum = 0;
                for (uint32_t c : q) sum += (c >> shift) & 0xFF;
                v |= (sum / 4) << shift;
            }
            expected[y * 128 + x] = v;
        }
    }
    ScopedScale scale(2);
    int32_t w = 0, h = 0;
    EXPECT_TRUE(SamePixels(expected, LoadPng(bytes, &w, &h, true)));
    EXPECT_EQ(w, 128);
    EXPECT_EQ(h, 64);
    EXPECT_TRUE(PNG_GetSize(bytes.data(), int32_t(bytes.size()), &w, &h, true));
    EXPECT_EQ(w, 128);
    EXPECT_EQ(h, 64);
    EXPECT_TRUE(PNG_GetSize(bytes.data(), int32_t(bytes.size()), &w, &h, false));
    EXPECT_EQ(w, 256);
    EXPECT_EQ(LoadPng(bytes, &w, &h, false).size(), 256u * 128u);

    g_TextureScale = 4;
    const std::vector<uint8_t> small = ReadBytes("png_2x2.png");
    // Bytes (10 20 30 40) (50 60 70 80) (90 A0 B0 C0) (D0 E0 F0 FF) as RGBA: each channel's mean, truncated.
    EXPECT_EQ(LoadPng(small, &w, &h, true), (std::vector<uint32_t>{0x9F708090}));
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 1);
    EXPECT_TRUE(PNG_GetSize(small.data(), int32_t(small.size()), &w, &h, true));
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 1);
}

TEST(GfxImage, JpegGreyAndRgbMatchTheDump)
{
    for (const char* name : {"jpeg_grey", "jpeg_rgb"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = ReadBytes(std::string(name) + ".jpg");
        int32_t w = 0, h = 0;
        uint32_t* pixels = JPEG_Decode(bytes.data(), int32_t(bytes.size()), &w, &h);
        ASSERT_NE(pixels, nullptr);
        EXPECT_TRUE(SamePixels(ReadDump(name), Words(pixels, w, h)));
        if (std::string(name) == "jpeg_grey") {
            EXPECT_EQ(Words(pixels, w, h), std::vector<uint32_t>(16 * 8, 0xFF404040));
        }
        MemFree(pixels);
        int32_t sw = 0, sh = 0;
        EXPECT_TRUE(JPEG_GetSize(bytes.data(), int32_t(bytes.size()), &sw, &sh));
        EXPECT_EQ(sw, w);
        EXPECT_EQ(sh, h);
    }
}

TEST(GfxImage, GifTransparencyMapsAndPlacement)
{
    int32_t w = 0, h = 0;
    {
        SCOPED_TRACE("transparent index 3");
        const std::vector<uint8_t> bytes = ReadBytes("gif_trns.gif");
        const std::vector<uint8_t> raster = ReadBytes("gif_trns.raster");
        uint32_t* pixels = GIF_Decode(bytes.data(), int32_t(bytes.size()), &w, &h);
        ASSERT_NE(pixels, nullptr);
        ASSERT_EQ(size_t(w) * h, raster.size());
        for (size_t i = 0; i < raster.size(); ++i) EXPECT_EQ(pixels[i] >> 24 == 0, raster[i] == 3) << i;
        EXPECT_TRUE(SamePixels(ReadDump("gif_trns"), Words(pixels, w, h)));
        MemFree(pixels);
    }
    {
        SCOPED_TRACE("an index past the map is transparent black");
        const std::vector<uint8_t> bytes = ReadBytes("gif_range.gif");
        uint32_t* pixels = GIF_Decode(bytes.data(), int32_t(bytes.size()), &w, &h);
        ASSERT_NE(pixels, nullptr);
        EXPECT_EQ(Words(pixels, w, h), (std::vector<uint32_t>{0xFFFF0000, 0, 0xFF00FF00, 0xFF405060}));
        MemFree(pixels);
    }
    {
        SCOPED_TRACE("local colour map only");
        const std::vector<uint8_t> bytes = ReadBytes("gif_local.gif");
        uint32_t* pixels = GIF_Decode(bytes.data(), int32_t(bytes.size()), &w, &h);
        ASSERT_NE(pixels, nullptr);
        EXPECT_TRUE(SamePixels(ReadDump("gif_local"), Words(pixels, w, h)));
        MemFree(pixels);
    }
    {
        SCOPED_TRACE("a 4 x 3 image at (3, 2) on a 10 x 8 screen");
        const std::vector<uint8_t> bytes = ReadBytes("gif_offset.gif");
        const std::vector<uint32_t> frame = ReadDump("gif_offset_frame");
        std::vector<uint32_t> expected(10 * 8, 0);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) expected[(y + 2) * 10 + x + 3] = frame[y * 4 + x];
        uint32_t* pixels = GIF_Decode(bytes.data(), int32_t(bytes.size()), &w, &h);
        ASSERT_NE(pixels, nullptr);
        EXPECT_EQ(w, 10);
        EXPECT_EQ(h, 8);
        EXPECT_TRUE(SamePixels(expected, Words(pixels, w, h)));
        MemFree(pixels);
        int32_t sw = 0, sh = 0;
        EXPECT_TRUE(GIF_GetSize(bytes.data(), int32_t(bytes.size()), &sw, &sh));
        EXPECT_EQ(sw, 10);
        EXPECT_EQ(sh, 8);
    }
    const std::vector<uint8_t> nomap = ReadBytes("gif_nomap.gif");
    EXPECT_EQ(GIF_Decode(nomap.data(), int32_t(nomap.size()), &w, &h), nullptr);
    EXPECT_EQ(w, -1);
}

TEST(GfxImage, WritePngFileGivesEightBitRgba)
{
    const uint8_t pixel[4] = {0xFF, 0x00, 0x00, 0x80};
    ASSERT_TRUE(write_png_file("shots/one.png", pixel, 1, 1));
    char path[2048];
    ASSERT_TRUE(SaveArea_ResolvePath(path, sizeof path, "shots/one.png"));
    // Python's zlib: colour type and depth from the header, then the one row after its filter byte.
    const std::string script =
        "import struct,sys,zlib\n"
        "d=open(sys.argv[1],'rb').read(); i=8; idat=b''; ihdr=None\n"
        "while i<len(d):\n"
        "  n,t=struct.unpack('>I4s',d[i:i+8]); c=d[i+8:i+8+n]; i+=12+n\n"
        "  if t==b'IHDR': ihdr=c\n"
        "  if t==b'IDAT': idat+=c\n"
        "print(ihdr[8],ihdr[9],zlib.decompress(idat)[1:].hex())\n";
    const std::string py = kvtest::ScratchDir() + "/png_check.py";
    kvtest::WriteFile(py, script);
    EXPECT_EQ(CommandOutput(kvtest::ShellQuote(kvtest::Python()) + " " + kvtest::ShellQuote(py) + " " + kvtest::ShellQuote(path)),
              "8 6 ff000080\n");
    EXPECT_EQ(CommandOutput("identify -format '%z %[channels]' " + kvtest::ShellQuote(path)), "8 srgba");
    // And it reads back through the decoder as red at alpha 0x80.
    const std::string text = kvtest::ReadFile(path);
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    int32_t w = 0, h = 0;
    EXPECT_EQ(LoadPng(bytes, &w, &h), (std::vector<uint32_t>{0x80FF0000}));

    EXPECT_FALSE(write_png_file("shots/none.png", nullptr, 1, 1));
    EXPECT_FALSE(write_png_file("shots/zero.png", pixel, 0, 1));
}

TEST(GfxImage, EveryCutAndDamagedFileEnds)
{
    ScopedDebugConsole quiet;
    for (const char* name : kAllFixtures) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = ReadBytes(name);
        ASSERT_FALSE(bytes.empty());
        EXPECT_TRUE(DecodeAny(name, bytes));
        const bool bmp = std::string(name).ends_with(".bmp");
        // Every prefix; a bitmap cut anywhere has rows missing and must fail.
        for (size_t n = 0; n < bytes.size(); ++n) {
            const bool whole = DecodeAny(name, std::vector<uint8_t>(bytes.begin(), bytes.begin() + ptrdiff_t(n)));
            if (bmp && whole) ADD_FAILURE() << "prefix " << n << " decoded";
        }
        for (const auto& [start, end] : Segments(name, bytes)) {
            if (start >= end || end > bytes.size()) continue;
            std::vector<uint8_t> damaged = bytes;
            damaged[(start + end) / 2] ^= 0xFF;
            DecodeAny(name, damaged);
            if (std::string(name).ends_with(".png") && end + 4 <= bytes.size()) {
                // The same damage behind a correct checksum reaches the decoder proper.
                const uint32_t crc = uint32_t(crc32(0, damaged.data() + start, uInt(end - start)));
                for (int i = 0; i < 4; ++i) damaged[end + i] = uint8_t(crc >> (24 - 8 * i));
                DecodeAny(name, damaged);
            }
        }
    }
}
