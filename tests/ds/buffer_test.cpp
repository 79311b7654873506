#include "ds/buffer.h"

#include "core/error.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "platform/hooks.h"
#include "tests/core/py_oracle.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

// Values as the tests hand them to the buffer; BufferTestValue owns what it holds.
struct BufferTestValue {
    RValue v;
    BufferTestValue() { RValue_SetUndefined(&v); }
    explicit BufferTestValue(double d) { RValue_SetReal(&v, d); }
    ~BufferTestValue() { RValue_Free(&v); }
    BufferTestValue(const BufferTestValue&) = delete;
    BufferTestValue& operator=(const BufferTestValue&) = delete;
    explicit BufferTestValue(const char* text)
    {
        RValue_SetUndefined(&v);
        RValue_SetString(&v, text);
    }
};

int32_t BufferWriteReal(IBuffer& b, int32_t type, double d)
{
    BufferTestValue v(d);
    return b.Write(type, &v.v);
}

int32_t BufferWriteText(IBuffer& b, int32_t type, const char* text)
{
    BufferTestValue v(text);
    return b.Write(type, &v.v);
}

std::string BufferBytes(const IBuffer& b, int32_t n) { return std::string(reinterpret_cast<const char*>(b.GetData()), n); }

class Buffer : public testing::Test {
protected:
    void SetUp() override { live_ = MemoryManager_Probe().liveBlocks; }
    void TearDown() override { EXPECT_EQ(MemoryManager_Probe().liveBlocks, live_) << "blocks leaked"; }
    size_t live_ = 0;
};

// One item of every type: what is written, the Python struct form of it, and what reads back.
struct BufferItem {
    int32_t type;
    double real;            // written as a real unless text is set
    const char* text;
    const char* oracle;     // TYPE:VALUE for the packer
    uint32_t readKind;
    double readReal;        // VALUE_REAL result
    int64_t readInt64;      // VALUE_INT64 result
    const char* readText;   // VALUE_STRING result
};

const std::vector<BufferItem>& BufferItems()
{
    static const std::vector<BufferItem> items = {
        {buffer_u8, 200.9, nullptr, "u8:200", VALUE_REAL, 200, 0, nullptr},
        {buffer_s8, -5, nullptr, "s8:-5", VALUE_REAL, -5, 0, nullptr},
        {buffer_u16, 65535, nullptr, "u16:65535", VALUE_REAL, 65535, 0, nullptr},
        {buffer_string, 0, "abc", "string:abc", VALUE_STRING, 0, 0, "abc"},
        {buffer_s16, -2.7, nullptr, "s16:-2", VALUE_REAL, -2, 0, nullptr},
        {buffer_u32, 3000000000.0, nullptr, "u32:3000000000", VALUE_REAL, 3000000000.0, 0, nullptr},
        {buffer_s32, -70000, nullptr, "s32:-70000", VALUE_REAL, -70000, 0, nullptr},
        {buffer_f32, 1.5, nullptr, "f32:1.5", VALUE_REAL, 1.5, 0, nullptr},
        {buffer_bool, 0.6, nullptr, "bool:1", VALUE_REAL, 1, 0, nullptr},
        {buffer_f64, -2.25, nullptr, "f64:-2.25", VALUE_REAL, -2.25, 0, nullptr},
        {buffer_text, 0, "xy", "text:xy", VALUE_STRING, 0, 0, nullptr},
        {buffer_u64, 1099511627777.0, nullptr, "u64:1099511627777", VALUE_INT64, 0, 1099511627777LL, nullptr},
        {buffer_bool, 0.4, nullptr, "bool:0", VALUE_REAL, 0, 0, nullptr},
    };
    return items;
}

TEST_F(Buffer, EveryTypeMatchesStructAndReadsBack)
{
    for (int32_t alignment : {1, 4}) {
        std::string args = std::to_string(alignment) + " items_" + std::to_string(alignment);
        for (const BufferItem& item : BufferItems()) args += std::string(" ") + item.oracle;
        std::string dir = kvtest_py::Generate("tests/ds/buffer_oracle.py", args);
        ASSERT_FALSE(dir.empty());
        std::string expected = kvtest::ReadFile(dir + "items_" + std::to_string(alignment));

        auto* b = new Buffer_Standard(1, buffer_grow, alignment);
        std::vector<int32_t> ends;
        for (const BufferItem& item : BufferItems()) {
            int32_t rc = item.text ? BufferWriteText(*b, item.type, item.text) : BufferWriteReal(*b, item.type, item.real);
            EXPECT_EQ(rc, 0) << item.oracle;
            ends.push_back(b->GetPosition());
        }
        ASSERT_EQ(b->GetPosition(), static_cast<int32_t>(expected.size())) << "alignment " << alignment;
        EXPECT_TRUE(BufferBytes(*b, b->GetPosition()) == expected) << "alignment " << alignment;
        EXPECT_EQ(b->GetUsedSize(), b->GetPosition());

        // Read back. A text item has no NUL of its own: it reads on into what follows, so the walk goes on
        // from where the item ended.
        b->Seek(buffer_seek_start, 0);
        for (size_t i = 0; i < BufferItems().size(); ++i) {
            const BufferItem& item = BufferItems()[i];
            BufferTestValue out;
            EXPECT_EQ(b->Read(item.type, &out.v), 0) << item.oracle;
            ASSERT_EQ(RValue_Kind(&out.v), item.readKind) << item.oracle;
            if (item.readKind == VALUE_REAL) {
                EXPECT_EQ(out.v.real, item.readReal) << item.oracle;
            }
            if (item.readKind == VALUE_INT64) {
                EXPECT_EQ(out.v.v64, item.readInt64) << item.oracle;
            }
            if (item.readText) {
                EXPECT_STREQ(out.v.str->text, item.readText) << item.oracle;
            }
            if (item.type == buffer_text) {
                EXPECT_EQ(std::string(out.v.str->text).substr(0, 2), "xy");
                b->Seek(buffer_seek_start, ends[i]);
            }
            EXPECT_EQ(b->GetPosition(), ends[i]) << item.oracle;
        }
        delete b;
    }
}

TEST_F(Buffer, AlignmentPlacesTwoBytesAtZeroAndFour)
{
    Buffer_Standard b(16, buffer_fixed, 4);
    EXPECT_EQ(BufferWriteReal(b, buffer_u8, 1), 0);
    EXPECT_EQ(BufferWriteReal(b, buffer_u8, 2), 0);
    EXPECT_EQ(b.GetPosition(), 5);
    EXPECT_EQ(BufferBytes(b, 5), std::string("\x01\0\0\0\x02", 5));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b.GetData()) % 4, 0u);

    for (auto [requested, actual] : std::vector<std::pair<int32_t, int32_t>>{
             {3, 4}, {1000, 1024}, {1024, 1024}, {5000, 1024}, {0, 1}, {-8, 1}, {1, 1}, {64, 64}}) {
        EXPECT_EQ(Buffer_Alignment(requested), actual) << requested;
        Buffer_Standard aligned(8, buffer_fixed, requested);
        EXPECT_EQ(aligned.GetAlignment(), actual);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned.GetData()) % actual, 0u) << requested;
    }
}

TEST_F(Buffer, KindsAtTheEnd)
{
    // Fixed: -2 past the end, nothing written.
    Buffer_Standard fixed(4, buffer_fixed, 1);
    EXPECT_EQ(BufferWriteReal(fixed, buffer_u32, 7), 0);
    EXPECT_EQ(fixed.GetPosition(), 4);
    EXPECT_EQ(BufferWriteReal(fixed, buffer_u32, 8), -2);
    EXPECT_EQ(BufferWriteReal(fixed, buffer_u8, 8), -2);
    fixed.Seek(buffer_seek_start, 2);
    EXPECT_EQ(BufferWriteReal(fixed, buffer_u32, 9), -2);  // would pass the end
    EXPECT_EQ(BufferWriteText(fixed, buffer_string, "abc"), -2);
    EXPECT_EQ(BufferBytes(fixed, 4), std::string("\x07\0\0\0", 4));
    Buffer_Standard vbuffer(2, buffer_vbuffer, 1);
    EXPECT_EQ(BufferWriteReal(vbuffer, buffer_u32, 1), -2);

    // Grow: the size doubles until the item fits; the gap reads back 0.
    Buffer_Standard grow(1, buffer_grow, 4);
    EXPECT_EQ(BufferWriteReal(grow, buffer_u8, 9), 0);
    EXPECT_EQ(grow.GetSize(), 1);
    EXPECT_EQ(BufferWriteReal(grow, buffer_u8, 10), 0);
    EXPECT_EQ(grow.GetSize(), 8);
    EXPECT_EQ(BufferBytes(grow, 5), std::string("\x09\0\0\0\x0A", 5));
    EXPECT_EQ(BufferWriteReal(grow, buffer_f64, 1.0), 0);  // at 8: grows to 16
    EXPECT_EQ(grow.GetSize(), 16);

    // The empty form grows from nothing.
    Buffer_Standard empty;
    EXPECT_EQ(empty.GetSize(), 0);
    EXPECT_EQ(empty.GetData(), nullptr);
    EXPECT_EQ(BufferWriteText(empty, buffer_string, "hello"), 0);
    EXPECT_EQ(empty.GetSize(), 8);
    EXPECT_EQ(BufferBytes(empty, 6), std::string("hello\0", 6));

    // Wrap: the second u32 at 4 runs over the end to 0 and 1; position 2, wrap offset 2.
    Buffer_Standard wrap(6, buffer_wrap, 4);
    EXPECT_EQ(BufferWriteReal(wrap, buffer_u32, 0x11111111), 0);
    EXPECT_EQ(BufferWriteReal(wrap, buffer_u32, 0x44332211), 0);
    EXPECT_EQ(wrap.GetPosition(), 2);
    EXPECT_EQ(wrap.GetWrapOffset(), 2);
    EXPECT_EQ(BufferBytes(wrap, 6), std::string("\x33\x44\x11\x11\x11\x22", 6));
    // The next aligned write starts at 2 (stream offset 8).
    EXPECT_EQ(BufferWriteReal(wrap, buffer_u8, 0x77), 0);
    EXPECT_EQ(wrap.GetPosition(), 3);
    EXPECT_EQ(BufferBytes(wrap, 6), std::string("\x33\x44\x77\x11\x11\x22", 6));
    // Reads wrap the same way.
    wrap.Seek(buffer_seek_start, 4);
    BufferTestValue out;
    EXPECT_EQ(wrap.Read(buffer_u32, &out.v), 0);
    EXPECT_EQ(out.v.real, double(0x44332211));
    EXPECT_EQ(wrap.GetPosition(), 2);
    EXPECT_EQ(wrap.GetWrapOffset(), 2);

    // A wrapping buffer of size 0 refuses instead of looping.
    Buffer_Standard none(0, buffer_wrap, 4);
    EXPECT_EQ(BufferWriteReal(none, buffer_u8, 1), -2);
    EXPECT_EQ(none.Seek(buffer_seek_relative, 5), 0);
    EXPECT_EQ(none.Read(buffer_u8, &out.v), -1);
}

TEST_F(Buffer, ReadsPastTheEndAndUnsupportedTypes)
{
    Buffer_Standard b(8, buffer_fixed, 1);
    BufferTestValue out("old");  // released by the read
    b.Seek(buffer_seek_start, 7);
    EXPECT_EQ(b.Read(buffer_u16, &out.v), -1);
    EXPECT_EQ(RValue_Kind(&out.v), VALUE_REAL);
    EXPECT_EQ(out.v.real, -3.0);
    EXPECT_EQ(b.GetPosition(), 7);
    b.Seek(buffer_seek_start, 8);
    EXPECT_EQ(b.Read(buffer_u8, &out.v), -1);
    EXPECT_EQ(out.v.real, -3.0);
    EXPECT_EQ(b.Read(buffer_string, &out.v), -1);
    EXPECT_EQ(out.v.real, -3.0);
    EXPECT_EQ(b.ReadString(), nullptr);

    // f16: two bytes consumed, nothing converted; unknown codes consume nothing.
    b.Seek(buffer_seek_start, 0);
    EXPECT_EQ(b.Read(buffer_f16, &out.v), -1);
    EXPECT_EQ(out.v.real, 0.0);
    EXPECT_EQ(b.GetPosition(), 2);
    EXPECT_EQ(b.Read(99, &out.v), -1);
    EXPECT_EQ(b.Read(0, &out.v), -1);
    EXPECT_EQ(b.GetPosition(), 2);
    EXPECT_EQ(BufferWriteReal(b, buffer_f16, 1.0), -1);
    EXPECT_EQ(BufferWriteReal(b, 99, 1.0), -1);
    {
        // A number is no text: the string getter's error, then nothing is written.
        static int exits = 0;
        exits = 0;
        ExitHook old = Platform_SetExitHook([](int) { ++exits; });
        testing::internal::CaptureStdout();
        EXPECT_EQ(BufferWriteReal(b, buffer_string, 1.0), -1);
        std::string out = testing::internal::GetCapturedStdout();
        Platform_SetExitHook(old);
        Error_ResetState();  // the reporter's copy of the text
        EXPECT_EQ(exits, 1);
        EXPECT_NE(out.find("argument 1 incorrect type (0) expecting a String (QZGS)"), std::string::npos) << out;
    }
    EXPECT_EQ(b.GetPosition(), 2);
    EXPECT_EQ(BufferType_Size(buffer_string), 0);
    EXPECT_EQ(BufferType_Size(buffer_f16), 2);
    EXPECT_EQ(BufferType_Size(42), 0);

    // A byte read as bool comes back as it is.
    b.Seek(buffer_seek_start, 0);
    BufferWriteReal(b, buffer_u8, 7);
    b.Seek(buffer_seek_start, 0);
    EXPECT_EQ(b.Read(buffer_bool, &out.v), 0);
    EXPECT_EQ(out.v.real, 7.0);
}

TEST_F(Buffer, Conversions)
{
    struct Case {
        const char* name;
        int32_t type;
        RValue value;
        double readBack;
    };
    RValue nan, big, neg, i64, i32, b, minusOne;
    RValue_SetReal(&nan, std::nan(""));
    RValue_SetReal(&big, 1e300);
    RValue_SetReal(&neg, -2.9);
    RValue_SetInt64(&i64, 0x1234567800000005LL);
    RValue_SetInt32(&i32, -3);
    RValue_SetBool(&b, true);
    RValue_SetReal(&minusOne, -1.0);
    const std::vector<Case> cases = {
        {"NaN to s32", buffer_s32, nan, 0},
        {"NaN to u32", buffer_u32, nan, 0},
        {"NaN to f32", buffer_f32, nan, 0},
        {"-2.9 to s32", buffer_s32, neg, -2},
        {"-1 to u32", buffer_u32, minusOne, 4294967295.0},
        {"1e300 to f32", buffer_f32, big, std::numeric_limits<double>::infinity()},
        {"1e300 to f64", buffer_f64, big, 1e300},
        {"int64 to s32 keeps the low bits", buffer_s32, i64, 5},
        {"int32 -3 to u8", buffer_u8, i32, 253},
        {"int32 -3 to bool", buffer_bool, i32, 0},
        {"bool to u16", buffer_u16, b, 1},
        {"bool to bool", buffer_bool, b, 1},
    };
    for (const Case& c : cases) {
        Buffer_Standard buf(8, buffer_fixed, 1);
        RValue v = c.value;
        ASSERT_EQ(buf.Write(c.type, &v), 0) << c.name;
        buf.Seek(buffer_seek_start, 0);
        BufferTestValue out;
        ASSERT_EQ(buf.Read(c.type, &out.v), 0) << c.name;
        EXPECT_EQ(out.v.real, c.readBack) << c.name;
    }
    // Text given for a number is read as one.
    Buffer_Standard buf(8, buffer_fixed, 1);
    EXPECT_EQ(BufferWriteText(buf, buffer_s32, "0x10"), 0);
    EXPECT_EQ(BufferWriteText(buf, buffer_u16, " 12 "), 0);
    BufferTestValue out;
    buf.Seek(buffer_seek_start, 0);
    buf.Read(buffer_s32, &out.v);
    EXPECT_EQ(out.v.real, 16.0);
    buf.Read(buffer_u16, &out.v);
    EXPECT_EQ(out.v.real, 12.0);
}

TEST_F(Buffer, StringsAndTexts)
{
    Buffer_Standard b(16, buffer_grow, 1);
    EXPECT_EQ(b.WriteString(nullptr), 0);
    EXPECT_EQ(b.WriteString("hi"), 0);
    EXPECT_EQ(BufferBytes(b, 5), std::string("\x04\0hi\0", 5));
    b.Seek(buffer_seek_start, 0);
    char* text = b.ReadString();
    EXPECT_STREQ(text, "\x04");
    MemFree(text);
    text = b.ReadString();
    EXPECT_STREQ(text, "hi");
    MemFree(text);
    EXPECT_EQ(b.GetPosition(), 5);

    // A text without a NUL runs to the used size.
    Buffer_Standard t(8, buffer_grow, 1);
    t.Seek(buffer_seek_start, 0);
    EXPECT_EQ(BufferWriteText(t, buffer_text, "abcdefgh"), 0);
    EXPECT_EQ(t.GetPosition(), 8);
    EXPECT_EQ(t.GetSize(), 8);
    t.Seek(buffer_seek_start, 5);
    BufferTestValue out;
    EXPECT_EQ(t.Read(buffer_string, &out.v), 0);
    EXPECT_STREQ(out.v.str->text, "fgh");
    EXPECT_EQ(t.GetPosition(), 9);

    // Past the written bytes of a grown buffer a text reads as empty.
    Buffer_Standard g(1, buffer_grow, 1);
    BufferWriteReal(g, buffer_u8, 1);
    BufferWriteReal(g, buffer_u32, 0);  // grows to 8, used 5
    g.Resize(32);
    g.Seek(buffer_seek_start, 20);
    text = g.ReadString();
    EXPECT_STREQ(text, "");
    MemFree(text);
    EXPECT_EQ(g.GetPosition(), 21);
}

TEST_F(Buffer, Seek)
{
    Buffer_Standard b(4, buffer_fixed, 1);
    EXPECT_EQ(b.Seek(buffer_seek_end, 10), 0);
    EXPECT_EQ(b.Seek(buffer_seek_end, 1), 3);
    EXPECT_EQ(b.Seek(buffer_seek_end, -1), 4);
    EXPECT_EQ(b.Seek(buffer_seek_start, -5), 0);
    EXPECT_EQ(b.Seek(buffer_seek_start, 100), 100);
    EXPECT_EQ(b.Seek(buffer_seek_relative, -150), 0);
    EXPECT_EQ(b.Seek(buffer_seek_relative, 3), 3);
    EXPECT_EQ(b.Seek(7, 1), 3);

    // Wrapping: laps forward and back keep the wrap offset, so alignment stays continuous.
    Buffer_Standard w(6, buffer_wrap, 4);
    EXPECT_EQ(w.Seek(buffer_seek_relative, 13), 1);  // two laps forward
    EXPECT_EQ(w.GetWrapOffset(), (6 + 6) % 4);
    EXPECT_EQ(w.Seek(buffer_seek_relative, -2), 5);  // one lap back
    EXPECT_EQ(w.GetWrapOffset(), 2);
    EXPECT_EQ(w.Seek(buffer_seek_relative, -2000000000), (5 - 2000000000 % 6 + 6) % 6);
    EXPECT_EQ(w.Seek(buffer_seek_start, 0), 0);
    EXPECT_EQ(w.GetWrapOffset(), 0);
}

TEST_F(Buffer, RawBytes)
{
    const char src[] = "0123456789";
    // Fixed: clipped at the end; nothing from outside.
    Buffer_Standard f(6, buffer_fixed, 4);
    f.Seek(buffer_seek_start, 1);  // raw copies do not align
    EXPECT_EQ(f.WriteBytes(src, 2, 4), 5);
    EXPECT_EQ(f.GetPosition(), 6);
    EXPECT_EQ(BufferBytes(f, 6), std::string("\0" "01234", 6));
    EXPECT_EQ(f.WriteBytes(src, 1, 1), 0);
    EXPECT_EQ(f.WriteBytes(nullptr, 1, 1), 0);
    EXPECT_EQ(f.WriteBytes(src, -1, 3), 0);
    char out[16] = {};
    f.Seek(buffer_seek_start, 4);
    EXPECT_EQ(f.ReadBytes(out, 1, 10), 2);
    EXPECT_STREQ(out, "34");
    EXPECT_EQ(f.ReadBytes(out, 1, 10), 0);

    // Grow: resized to exactly what is needed.
    Buffer_Standard g(2, buffer_grow, 1);
    g.Seek(buffer_seek_start, 3);
    EXPECT_EQ(g.WriteBytes(src, 1, 4), 4);
    EXPECT_EQ(g.GetSize(), 7);
    EXPECT_EQ(g.GetUsedSize(), 7);
    EXPECT_EQ(BufferBytes(g, 7), std::string("\0\0\0" "0123", 7));

    // Wrap: bytes run round.
    Buffer_Standard w(4, buffer_wrap, 1);
    w.Seek(buffer_seek_start, 2);
    EXPECT_EQ(w.WriteBytes(src, 1, 6), 6);
    EXPECT_EQ(BufferBytes(w, 4), "2345");
    EXPECT_EQ(w.GetPosition(), 0);
    w.Seek(buffer_seek_start, 3);
    std::memset(out, 0, sizeof out);
    EXPECT_EQ(w.ReadBytes(out, 1, 6), 6);
    EXPECT_STREQ(out, "523452");
}

TEST_F(Buffer, ConstructionAndResize)
{
    // Caller memory not owned is never freed, also not by a resize.
    auto* block = static_cast<uint8_t*>(MemAlloc(8));
    std::memcpy(block, "ABCDEFGH", 8);
    {
        auto* b = new Buffer_Standard(block, 8, buffer_grow, 1, false);
        EXPECT_EQ(b->GetData(), block);
        EXPECT_EQ(b->GetUsedSize(), 8);
        b->Seek(buffer_seek_start, 8);
        EXPECT_EQ(BufferWriteReal(*b, buffer_u8, 0x5A), 0);
        EXPECT_NE(b->GetData(), block);
        EXPECT_EQ(BufferBytes(*b, 9), "ABCDEFGHZ");
        delete b;
    }
    EXPECT_EQ(std::memcmp(block, "ABCDEFGH", 8), 0);
    // Owned caller memory goes with the buffer.
    delete new Buffer_Standard(block, 8, buffer_fixed, 1, true);

    Buffer_Standard r(8, buffer_fixed, 4);
    r.Seek(buffer_seek_start, 6);
    r.Resize(4);
    EXPECT_EQ(r.GetSize(), 4);
    EXPECT_EQ(r.GetPosition(), 0);
    EXPECT_EQ(r.GetUsedSize(), 4);
    r.Resize(-3);
    EXPECT_EQ(r.GetSize(), 0);
    EXPECT_EQ(BufferWriteReal(r, buffer_u8, 1), -2);
}

}  // namespace
