// Bitmaps: the BMP reader, the raw 32-bit loader and CBitmap32, against hand-made files, ImageMagick's
// BMP files and a Python reference of the gradients.
#include "gfx/bitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>

#include "core/memory_manager.h"
#include "core/stream.h"
#include "image_fixture_util.h"

using imagetest::ReadBytes;
using imagetest::ReadDump;
using imagetest::SamePixels;

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// A BMP file: 54-byte header, the palette, then the rows as given (padding is the caller's choice).
std::vector<uint8_t> MakeBmp(int32_t w, int32_t h, uint16_t bits, const std::vector<uint32_t>& palette,
                             const std::vector<uint8_t>& rows, uint32_t compression = 0)
{
    std::vector<uint8_t> b(54 + palette.size() * 4);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 10, uint32_t(b.size()));
    Put32(b, 14, 40);
    Put32(b, 18, uint32_t(w));
    Put32(b, 22, uint32_t(h));
    b[26] = 1;
    b[28] = uint8_t(bits);
    Put32(b, 30, compression);
    Put32(b, 46, uint32_t(palette.size()));
    for (size_t i = 0; i < palette.size(); ++i) Put32(b, 54 + i * 4, palette[i]);
    b.insert(b.end(), rows.begin(), rows.end());
    Put32(b, 2, uint32_t(b.size()));
    return b;
}

CStream* StreamOf(const std::vector<uint8_t>& bytes)
{
    auto* s = new CStream();
    s->WriteBuffer(bytes.data(), int64_t(bytes.size()));
    s->SetPosition(0);
    return s;
}

// Loads through a stream; the 32-bit pixels (alpha kept for 32-bit data) or nothing when no block was made.
std::vector<uint32_t> LoadBmp(const std::vector<uint8_t>& bytes, int32_t* w = nullptr, int32_t* h = nullptr)
{
    CStream* s = StreamOf(bytes);
    TBitmap bitmap;
    bitmap.LoadFromStream(s);
    s->Delete();
    if (!bitmap.GetBlock()) return {};
    CBitmap32 image(&bitmap, false, false, bitmap.GetPixelFormat() == BITMAP_FORMAT_32);
    if (w) *w = image.GetWidth();
    if (h) *h = image.GetHeight();
    if (!image.IsValid()) return {};
    return imagetest::Words(image.GetPixels().pixels, image.GetWidth(), image.GetHeight());
}

uint32_t Px(const CBitmap32& b, int x, int y) { return b.GetPixels().pixels[y * b.GetWidth() + x]; }

CBitmap32 FromWords(int32_t w, int32_t h, const std::vector<uint32_t>& words)
{
    CBitmap32 b(w, h, 0);
    std::memcpy(b.GetPixels().pixels, words.data(), words.size() * 4);
    return b;
}

struct Case {
    const char* name;
    std::function<void()> check;
};

void RunTable(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.check();
    }
}

}  // namespace

TEST(GfxBitmap, TBitmapAndBmpReaderCases)
{
    // Rows bottom-up, each padded to four bytes: pixel values 5 and 1 over 0 and 5.
    const std::vector<uint32_t> palette = {0x00000000, 0x000000FF, 0, 0, 0, 0x00302010};
    const std::vector<uint8_t> rows8 = {0, 5, 0, 0, 5, 1, 0, 0};
    RunTable({
        {"24-bit width 3 has pitch 9",
         [] {
             TBitmap b;
             b.SetPixelFormat(BITMAP_FORMAT_24);
             b.SetWidth(3);
             EXPECT_EQ(b.GetPitch(), 9);
         }},
        {"Lock on a fresh 2 x 2 makes 52 + 16 bytes; row 1 is 8 bytes on",
         [] {
             TBitmap b;
             b.SetWidth(2);
             b.SetHeight(2);
             uint8_t* row = nullptr;
             int32_t pitch = 0;
             uint8_t* pixels = b.Lock(1, &row, &pitch);
             EXPECT_EQ(b.GetBlockSize(), 68);
             EXPECT_EQ(pixels, b.GetBlock() + 52);
             EXPECT_EQ(row, b.GetBlock() + 60);
             EXPECT_EQ(pitch, 8);
         }},
        {"raw loader of 0x80FF0000 gives bytes 00 00 FF 80; past the count null",
         [] {
             const uint32_t pixel = 0x80FF0000;
             BitmapLoader* loader = BitmapLoader_Create(&pixel, 1, 1);
             EXPECT_FALSE(loader->IsMultiImage());
             EXPECT_EQ(loader->GetImageCount(), 1);
             EXPECT_EQ(loader->GetBitmap(1), nullptr);
             IBitmap* b = loader->GetBitmap(0);
             uint8_t* row = nullptr;
             b->Lock(0, &row, nullptr);
             EXPECT_EQ(std::vector<uint8_t>(row, row + 4), (std::vector<uint8_t>{0x00, 0x00, 0xFF, 0x80}));
             EXPECT_EQ(b->GetPixelFormat(), BITMAP_FORMAT_32);
             delete b;
             delete loader;
         }},
        {"8-bit palette entry 5 (10 20 30) gives 0xFF302010; padded rows, bottom-up",
         [&] {
             int32_t w = 0, h = 0;
             EXPECT_EQ(LoadBmp(MakeBmp(2, 2, 8, palette, rows8), &w, &h),
                       (std::vector<uint32_t>{0xFF302010, 0xFF0000FF, 0xFF000000, 0xFF302010}));
             EXPECT_EQ(w, 2);
             EXPECT_EQ(h, 2);
         }},
        {"top-down file (negative height)",
         [&] {
             EXPECT_EQ(LoadBmp(MakeBmp(2, -2, 8, palette, rows8)),
                       (std::vector<uint32_t>{0xFF000000, 0xFF302010, 0xFF302010, 0xFF0000FF}));
         }},
        {"rows without padding, as a file of the plain layout holds them",
         [] {
             const std::vector<uint8_t> rows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
             EXPECT_EQ(LoadBmp(MakeBmp(3, 2, 24, {}, rows)),
                       (std::vector<uint32_t>{0xFF0C0B0A, 0xFF0F0E0D, 0xFF121110, 0xFF030201, 0xFF060504, 0xFF090807}));
         }},
        {"an index past the palette is opaque black",
         [&] {
             EXPECT_EQ(LoadBmp(MakeBmp(1, 1, 8, {0x00112233}, {7, 0, 0, 0})), (std::vector<uint32_t>{0xFF000000}));
         }},
        {"not BM, compressed, pixels or palette outside the stream, too wide: no block",
         [&] {
             auto notBm = MakeBmp(2, 2, 8, palette, rows8);
             notBm[1] = 'A';
             auto rle = MakeBmp(2, 2, 8, palette, rows8, 1);
             auto offsetOut = MakeBmp(2, 2, 8, palette, rows8);
             Put32(offsetOut, 10, 0x7FFFFFF0);
             auto shortRows = MakeBmp(2, 2, 8, palette, rows8);
             shortRows.resize(shortRows.size() - 5);
             auto paletteOut = MakeBmp(2, 2, 8, palette, rows8);
             Put32(paletteOut, 46, 0);  // 0 means 256 entries
             auto wide = MakeBmp(8193, 1, 8, palette, std::vector<uint8_t>(8196));
             for (const auto* bytes : {&notBm, &rle, &offsetOut, &shortRows, &paletteOut, &wide}) {
                 EXPECT_TRUE(LoadBmp(*bytes).empty());
                 int32_t w = 0, h = 0;
                 EXPECT_EQ(BMP_Decode(bytes->data(), int32_t(bytes->size()), &w, &h), nullptr);
                 EXPECT_EQ(w, -1);
                 EXPECT_FALSE(BMP_GetSize(bytes->data(), int32_t(bytes->size()), &w, &h));
             }
         }},
        {"an empty stream leaves no block",
         [] {
             auto* s = new CStream();
             TBitmap b;
             b.LoadFromStream(s);
             EXPECT_EQ(b.GetBlock(), nullptr);
             s->Delete();
         }},
        {"Assign copies a loaded bitmap's block",
         [&] {
             CStream* s = StreamOf(MakeBmp(3, 2, 24, {}, std::vector<uint8_t>(24, 0x42)));
             TBitmap a, b;
             a.LoadFromStream(s);
             s->Delete();
             b.Assign(&a);
             ASSERT_NE(b.GetBlock(), nullptr);
             EXPECT_NE(b.GetBlock(), a.GetBlock());
             EXPECT_EQ(b.GetWidth(), 3);
             EXPECT_EQ(b.GetHeight(), 2);
             EXPECT_EQ(b.GetPixelFormat(), BITMAP_FORMAT_24);
             EXPECT_EQ(b.GetPixels() - b.GetBlock(), a.GetPixels() - a.GetBlock());
             EXPECT_EQ(b.GetPixels()[17], 0x42);
         }},
    });
}

TEST(GfxBitmap, CBitmap32Cases)
{
    RunTable({
        {"(0, -5, red) is 1 x 1 0xFFFF0000",
         [] {
             CBitmap32 b(0, -5, 0x0000FF);
             EXPECT_EQ(b.GetWidth(), 1);
             EXPECT_EQ(b.GetHeight(), 1);
             EXPECT_EQ(Px(b, 0, 0), 0xFFFF0000u);
         }},
        {"24-bit bytes 10 20 30 give 0xFF302010; 32-bit drops alpha unless kept",
         [] {
             TBitmap t;
             t.SetPixelFormat(BITMAP_FORMAT_24);
             t.SetWidth(1);
             t.SetHeight(1);
             uint8_t* p = t.Lock(0, nullptr, nullptr);
             p[0] = 0x10, p[1] = 0x20, p[2] = 0x30;
             EXPECT_EQ(Px(CBitmap32(&t, false, false), 0, 0), 0xFF302010u);
             EXPECT_FALSE(CBitmap32(&t, false, false, true).IsValid());
             const uint32_t pixel = 0x40302010;
             BitmapLoader loader(&pixel, 1, 1);
             IBitmap* b = loader.GetBitmap(0);
             EXPECT_EQ(Px(CBitmap32(b, false, false), 0, 0), 0xFF302010u);
             EXPECT_EQ(Px(CBitmap32(b, false, false, true), 0, 0), 0x40302010u);
             delete b;
             TBitmap eight;
             eight.SetPixelFormat(BITMAP_FORMAT_8);
             EXPECT_FALSE(CBitmap32(&eight, false, false).IsValid());
             EXPECT_FALSE(CBitmap32(nullptr, false, false).IsValid());
         }},
        {"RemoveBackground keys on the bottom-left pixel and bleeds neighbours' colours",
         [] {
             CBitmap32 b = FromWords(2, 2, {0xFF00FF00, 0xFF112233, 0xFF00FF00, 0xFF445566});
             b.RemoveBackground();
             EXPECT_EQ(imagetest::Words(b.GetPixels().pixels, 2, 2),
                       (std::vector<uint32_t>{0x00112233, 0xFF112233, 0x00445566, 0xFF445566}));
         }},
        {"SmoothEdges {0, 0xFF000000, 0x10000000} lowers the middle to 0xDF",
         [] {
             CBitmap32 b = FromWords(3, 1, {0x00000000, 0xFF000000, 0x10000000});
             b.SmoothEdges();
             EXPECT_EQ(imagetest::Words(b.GetPixels().pixels, 3, 1),
                       (std::vector<uint32_t>{0x00000000, 0xDF000000, 0x10000000}));
         }},
        {"bounding box of one opaque pixel at (2, 1); of none; of an invalid image",
         [] {
             CBitmap32 b = FromWords(4, 4, std::vector<uint32_t>(16, 0x00FFFFFF));
             int32_t* box = b.GetBoundingBox();
             EXPECT_EQ(std::vector<int32_t>(box, box + 4), (std::vector<int32_t>{3, 3, 0, 0}));
             MemFree(box);
             b.GetPixels().pixels[1 * 4 + 2] = 0x01000000;
             box = b.GetBoundingBox();
             EXPECT_EQ(std::vector<int32_t>(box, box + 4), (std::vector<int32_t>{2, 1, 2, 1}));
             MemFree(box);
             CBitmap32 invalid(&b, 3, 3, 2, 2);
             EXPECT_FALSE(invalid.IsValid());
             box = invalid.GetBoundingBox();
             EXPECT_EQ(std::vector<int32_t>(box, box + 4), (std::vector<int32_t>{0, 0, 0, 0}));
             MemFree(box);
         }},
        {"Resize 2 x 2 to 4 x 4 repeats each pixel in a 2 x 2 block",
         [] {
             CBitmap32 b = FromWords(2, 2, {1, 2, 3, 4});
             b.Resize(4, 4);
             EXPECT_EQ(imagetest::Words(b.GetPixels().pixels, 4, 4),
                       (std::vector<uint32_t>{1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4}));
         }},
        {"kind-0 gradient of 4 from black to white: 00, 40, 80, BF",
         [] {
             CBitmap32 b(4, 1, 0x000000, 0xFFFFFF, 0);
             EXPECT_EQ(imagetest::Words(b.GetPixels().pixels, 4, 1),
                       (std::vector<uint32_t>{0xFF000000, 0xFF404040, 0xFF808080, 0xFFBFBFBF}));
             EXPECT_EQ(Px(CBitmap32(2, 2, 0xFFFFFF, 0xFFFFFF, 9), 1, 1), 0xFF000000u);
         }},
        {"sub-rectangle copies; one reaching past the source is invalid",
         [] {
             CBitmap32 b = FromWords(3, 2, {1, 2, 3, 4, 5, 6});
             CBitmap32 part(&b, 1, 0, 2, 2);
             EXPECT_EQ(imagetest::Words(part.GetPixels().pixels, 2, 2), (std::vector<uint32_t>{2, 3, 5, 6}));
             EXPECT_FALSE(CBitmap32(&b, 2, 0, 2, 1).IsValid());
         }},
        {"alpha from another image's brightness; CreateTBitmap writes red, green, blue, alpha",
         [] {
             CBitmap32 b = FromWords(2, 1, {0xFF102030, 0x20102030});
             CBitmap32 other = FromWords(1, 1, {0x00303030});
             b.SetAlphaFromBitmap(&other);
             EXPECT_EQ(imagetest::Words(b.GetPixels().pixels, 2, 1), (std::vector<uint32_t>{0x30102030, 0x20102030}));
             TBitmap* t = b.CreateTBitmap();
             uint8_t* row = t->Lock(0, nullptr, nullptr);
             EXPECT_EQ(std::vector<uint8_t>(row, row + 4), (std::vector<uint8_t>{0x10, 0x20, 0x30, 0x30}));
             delete t;
         }},
    });
}

TEST(GfxBitmap, GradientsMatchTheReference)
{
    std::istringstream lines(kvtest::ReadFile(imagetest::FixtureDir() + "gradients.txt"));
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        int32_t w, h, kind;
        uint32_t c1, c2;
        in >> w >> h >> kind >> c1 >> c2;
        std::vector<uint32_t> expected;
        std::string word;
        while (in >> word) expected.push_back(uint32_t(std::stoul(word, nullptr, 16)));
        CBitmap32 b(w, h, c1, c2, kind);
        SCOPED_TRACE(line.substr(0, 30));
        EXPECT_TRUE(SamePixels(expected, imagetest::Words(b.GetPixels().pixels, w, h)));
        ++count;
    }
    EXPECT_EQ(count, 24);
}

TEST(GfxBitmap, ImageMagickBmpFilesDecodeToItsDump)
{
    const struct {
        const char* file;
        const char* dump;
    } files[] = {{"bmp_p4.bmp", "bmp_p4"}, {"bmp_p5.bmp", "bmp_p5"}, {"bmp_24.bmp", "bmp_24"},
                 {"bmp_32.bmp", "bmp_32"}, {"bmp_topdown.bmp", "bmp_24"}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.file);
        const std::vector<uint8_t> bytes = ReadBytes(f.file);
        const std::vector<uint32_t> expected = ReadDump(f.dump);
        EXPECT_TRUE(SamePixels(expected, LoadBmp(bytes)));
        int32_t w = 0, h = 0;
        uint32_t* pixels = BMP_Decode(bytes.data(), int32_t(bytes.size()), &w, &h);
        ASSERT_NE(pixels, nullptr);
        EXPECT_TRUE(SamePixels(expected, imagetest::Words(pixels, w, h)));
        MemFree(pixels);
        int32_t sw = 0, sh = 0;
        EXPECT_TRUE(BMP_GetSize(bytes.data(), int32_t(bytes.size()), &sw, &sh));
        EXPECT_EQ(sw, w);
        EXPECT_EQ(sh, h);
    }
}
