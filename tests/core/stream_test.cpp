#include "core/stream.h"

#include "core/memory_manager.h"
#include "tests/core/py_oracle.h"
#include "test_support.h"
#include "world/paths.h"
#include "world/run_state.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

std::string StreamBytes(const CStream& s) { return std::string(reinterpret_cast<const char*>(s.GetMemory()), s.GetSize()); }

std::string StreamTakeText(char* text)
{
    std::string copy = text ? text : "(null)";
    MemFree(text);
    return copy;
}

// A stream holding bytes at position 0.
void StreamFill(CStream& s, const std::string& bytes)
{
    s.SetPosition(0);
    s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    s.SetPosition(0);
}

// The length word ZDecompressStream expects, then the zlib bytes.
std::string StreamFramed(const std::string& z)
{
    uint32_t n = static_cast<uint32_t>(z.size());
    return std::string(reinterpret_cast<const char*>(&n), 4) + z;
}

// Every test leaves the memory manager's live blocks where they were.
class Stream : public testing::Test {
protected:
    void SetUp() override { live_ = MemoryManager_Probe().liveBlocks; }
    void TearDown() override { EXPECT_EQ(MemoryManager_Probe().liveBlocks, live_) << "blocks leaked"; }
    size_t live_ = 0;
};

TEST_F(Stream, GrowthDoublesOrTakesWhatIsNeeded)
{
    CStream s(0);
    EXPECT_EQ(s.GetMemory(), nullptr);
    EXPECT_EQ(s.WriteBuffer("abcde", 5), 5);
    EXPECT_EQ(s.GetSize(), 5);
    EXPECT_EQ(s.WriteBuffer("f", 1), 1);
    EXPECT_EQ(s.GetSize(), 10);
    EXPECT_EQ(s.GetPosition(), 6);
    // Bytes past the written ones are zero.
    EXPECT_EQ(StreamBytes(s), std::string("abcdef\0\0\0\0", 10));

    CStream t(4);
    EXPECT_EQ(StreamBytes(t), std::string(4, '\0'));
    t.SetPosition(30);  // past the end: the gap is grown and zero-filled
    t.WriteInteger(0x01020304);
    EXPECT_EQ(t.GetSize(), 34);
    EXPECT_EQ(t.GetPosition(), 34);
    EXPECT_EQ(StreamBytes(t).substr(26), std::string("\0\0\0\0\x04\x03\x02\x01", 8));
}

TEST_F(Stream, TypedValuesRoundTripLittleEndian)
{
    CStream s(0);
    s.WriteInteger(-2);
    s.WriteInt64(0x0102030405060708LL);
    s.WriteReal(2.5);
    s.WriteString("hi");
    s.WriteString(nullptr);
    s.WriteString("");
    EXPECT_EQ(StreamBytes(s).substr(0, s.GetPosition()),
              std::string("\xFE\xFF\xFF\xFF"
                          "\x08\x07\x06\x05\x04\x03\x02\x01"
                          "\x00\x00\x00\x00\x00\x00\x04\x40"
                          "\x02\x00\x00\x00hi"
                          "\x00\x00\x00\x00"
                          "\x00\x00\x00\x00",
                          34));
    s.SetPosition(0);
    EXPECT_EQ(s.ReadInteger(), -2);
    EXPECT_EQ(s.ReadInt64(), 0x0102030405060708LL);
    EXPECT_EQ(s.ReadReal(), 2.5);
    char* text = nullptr;
    s.ReadString(&text);
    EXPECT_EQ(StreamTakeText(text), "hi");
    s.ReadString(&text);
    EXPECT_EQ(text, nullptr);
    s.ReadString(&text);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(s.GetPosition(), 34);
}

TEST_F(Stream, ShortReadsReturnZeroWithoutMoving)
{
    struct Case {
        const char* name;
        int width;
        std::function<bool(CStream&)> readGivesZero;
    };
    const std::vector<Case> cases = {
        {"ReadInteger", 4, [](CStream& s) { return s.ReadInteger() == 0; }},
        {"ReadInt64", 8, [](CStream& s) { return s.ReadInt64() == 0; }},
        {"ReadReal", 8, [](CStream& s) { return s.ReadReal() == 0.0; }},
        {"ReadString", 4, [](CStream& s) {
             char* t = reinterpret_cast<char*>(1);
             s.ReadString(&t);
             return t == nullptr;
         }},
    };
    for (const Case& c : cases)
        for (int left = 0; left < c.width; ++left) {
            CStream s(0);
            StreamFill(s, std::string(16, '\xFF'));
            s.SetPosition(16 - left);
            EXPECT_TRUE(c.readGivesZero(s)) << c.name << " with " << left << " bytes left";
            EXPECT_EQ(s.GetPosition(), 16 - left) << c.name;
        }

    // ReadBuffer takes what remains.
    CStream s(0);
    StreamFill(s, "abcdef");
    s.SetPosition(4);
    char out[8] = {};
    EXPECT_EQ(s.ReadBuffer(out, 8), 2);
    EXPECT_STREQ(out, "ef");
    EXPECT_EQ(s.ReadBuffer(out, 8), 0);
    s.SetPosition(0);
    EXPECT_EQ(s.ReadBuffer(nullptr, 3), 0);
    EXPECT_EQ(s.GetPosition(), 0);
}

TEST_F(Stream, ReadStringLengthWords)
{
    struct Case {
        const char* name;
        std::string bytes;
        const char* text;  // null: no text
        int endPosition;
    };
    const std::vector<Case> cases = {
        {"exact", std::string("\x03\x00\x00\x00" "abc", 7), "abc", 7},
        {"negative length", std::string("\xFF\xFF\xFF\xFF" "abc", 7), nullptr, 4},
        {"length above what remains", std::string("\x10\x00\x00\x00" "ab", 6), "ab", 6},
        {"huge length", std::string("\xFF\xFF\xFF\x7F" "xyz", 7), "xyz", 7},
        {"zero length", std::string("\x00\x00\x00\x00" "abc", 7), nullptr, 4},
    };
    for (const Case& c : cases) {
        CStream s(0);
        StreamFill(s, c.bytes);
        char* text = nullptr;
        s.ReadString(&text);
        EXPECT_EQ(StreamTakeText(text), c.text ? c.text : "(null)") << c.name;
        EXPECT_EQ(s.GetPosition(), c.endPosition) << c.name;
    }

    // Only what remains (+ the NUL) is allocated, whatever the length word claims.
    CStream s(0);
    StreamFill(s, std::string("\xFF\xFF\xFF\x7F", 4) + std::string(300, 'q'));
    size_t heap = MemoryManager_Probe().heapBytesInUse;
    char* text = nullptr;
    s.ReadString(&text);
    ASSERT_NE(text, nullptr);
    size_t used = MemoryManager_Probe().heapBytesInUse - heap;
    EXPECT_GE(used, 301u);
    EXPECT_LT(used, 1024u);
    EXPECT_EQ(StreamTakeText(text), std::string(300, 'q'));
}

TEST_F(Stream, SeekStoresAndAccessOutsideTheMemoryDoesNothing)
{
    CStream s(0);
    StreamFill(s, "0123456789");
    EXPECT_EQ(s.Seek(-2, 2), 8);
    EXPECT_EQ(s.Seek(-3, 1), 5);
    EXPECT_EQ(s.Seek(7, 0), 7);
    EXPECT_EQ(s.Seek(100, 9), 7);  // unknown origin

    char out[4] = {};
    for (int64_t pos : {int64_t(-1), int64_t(-1000), int64_t(10), int64_t(11), int64_t(1) << 40}) {
        s.SetPosition(pos);
        EXPECT_EQ(s.ReadBuffer(out, 4), 0) << pos;
        EXPECT_EQ(s.ReadInteger(), 0) << pos;
        EXPECT_EQ(s.ReadInt64(), 0) << pos;
        EXPECT_EQ(s.ReadReal(), 0.0) << pos;
        char* text = reinterpret_cast<char*>(1);
        s.ReadString(&text);
        EXPECT_EQ(text, nullptr) << pos;
        EXPECT_EQ(s.Seek(0, 1), pos) << "reads outside do not move";
    }
    // Writes at a negative position write nothing.
    s.Seek(-4, 0);
    EXPECT_EQ(s.WriteBuffer("zz", 2), 0);
    s.WriteInteger(7);
    s.WriteString("abc");
    EXPECT_EQ(s.GetSize(), 10);
    EXPECT_EQ(StreamBytes(s), "0123456789");
    EXPECT_EQ(s.Seek(0, 1), -4);
}

TEST_F(Stream, HexFormsMatchBinascii)
{
    std::string dir = kvtest_py::Generate("tests/core/stream_oracle.py", "hex");
    ASSERT_FALSE(dir.empty());
    std::string bytes = kvtest::ReadFile(dir + "hex_bytes.bin");
    std::string upper = kvtest::ReadFile(dir + "hex_upper.txt");
    ASSERT_EQ(upper.size(), bytes.size() * 2);

    CStream s(0);
    StreamFill(s, bytes);
    s.SetPosition(static_cast<int64_t>(bytes.size()));
    char* text = nullptr;
    EXPECT_EQ(s.ToHex(&text), static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(StreamTakeText(text), upper);

    for (const char* name : {"hex_upper.txt", "hex_lower.txt"}) {
        CStream back(3);
        back.FromHex(kvtest::ReadFile(dir + name).c_str());
        EXPECT_EQ(StreamBytes(back), bytes) << name;
        EXPECT_EQ(back.GetPosition(), 0);
    }
}

TEST_F(Stream, HexEdgeCases)
{
    CStream s(0);
    StreamFill(s, std::string("\x00\xAB\x10\x99", 4));
    s.SetPosition(3);
    char* text = nullptr;
    EXPECT_EQ(s.ToHex(&text), 3);
    EXPECT_EQ(StreamTakeText(text), "00AB10");
    // Only the position counts; past the memory only what exists is written.
    s.SetPosition(0);
    EXPECT_EQ(s.ToHex(&text), 0);
    EXPECT_EQ(text, nullptr);
    s.SetPosition(-5);
    EXPECT_EQ(s.ToHex(&text), 0);
    EXPECT_EQ(text, nullptr);
    s.SetPosition(4000);
    EXPECT_EQ(s.ToHex(&text), 4);
    EXPECT_EQ(StreamTakeText(text), "00AB1099");

    struct Case {
        const char* text;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"00ab10", std::string("\x00\xAB\x10", 3)},
        {"abc", "\xAB"},                          // trailing odd character ignored
        {"a", ""},
        {"00zz10", std::string("\x00\x10", 2)},   // only the well-formed pairs, in order
        {"z01Fg", "\x1F"},
        {"0x41", "\x41"},
        {"zz", ""},
        {"\x80\x81" "41", "\x41"},
    };
    for (const Case& c : cases) {
        CStream h(0);
        StreamFill(h, "old contents");
        h.SetPosition(5);
        h.FromHex(c.text);
        EXPECT_EQ(StreamBytes(h), c.bytes) << c.text;
        EXPECT_EQ(h.GetPosition(), 0) << c.text;
    }
    CStream keep(0);
    StreamFill(keep, "keep");
    keep.SetPosition(2);
    keep.FromHex("");
    keep.FromHex(nullptr);
    EXPECT_EQ(StreamBytes(keep), "keep");
    EXPECT_EQ(keep.GetPosition(), 2);
}

TEST_F(Stream, DecompressesPythonZlibAtEveryLevel)
{
    std::string dir = kvtest_py::Generate("tests/core/stream_oracle.py", "zlib");
    ASSERT_FALSE(dir.empty());
    struct Case {
        const char* zname;
        const char* plain;
    };
    for (const Case& c : {Case{"z0.bin", "plain.bin"}, Case{"z1.bin", "plain.bin"}, Case{"z9.bin", "plain.bin"},
                          Case{"z_big.bin", "plain_big.bin"}}) {
        std::string z = kvtest::ReadFile(dir + c.zname), plain = kvtest::ReadFile(dir + c.plain);
        ASSERT_FALSE(plain.empty());
        CStream s(0);
        // Something before the framed data and something after it: only the framed bytes are taken.
        StreamFill(s, "pre" + StreamFramed(z) + "post");
        s.SetPosition(3);
        testing::internal::CaptureStdout();
        CStream* out = ZDecompressStream(&s);
        std::string log = testing::internal::GetCapturedStdout();
        ASSERT_NE(out, nullptr) << c.zname;
        EXPECT_EQ(out->GetPosition(), 0);
        EXPECT_GE(out->GetSize(), static_cast<int32_t>(plain.size()));
        EXPECT_TRUE(StreamBytes(*out).substr(0, plain.size()) == plain) << c.zname;
        EXPECT_EQ(s.GetPosition(), static_cast<int32_t>(3 + 4 + z.size())) << c.zname;
        EXPECT_EQ(s.GetMemory()[s.GetPosition()], 'p');
        EXPECT_NE(log.find("ZDecompressStream " + std::to_string(z.size()) + "\n"), std::string::npos) << log;
        EXPECT_NE(log.find("Done ZDecompressStream\n"), std::string::npos) << log;
        out->Delete();
    }
}

TEST_F(Stream, BadZlibDataGivesNull)
{
    std::string dir = kvtest_py::Generate("tests/core/stream_oracle.py", "zlib-small");
    ASSERT_FALSE(dir.empty());
    std::string z = kvtest::ReadFile(dir + "z9.bin");
    std::string flipped = z;
    flipped[z.size() / 2] ^= 0x10;
    std::string badCheck = z;
    badCheck[z.size() - 1] ^= 0x01;  // adler-32 of the data
    std::string tooLong = StreamFramed(z);
    uint32_t claim = static_cast<uint32_t>(z.size() + 1);
    std::memcpy(tooLong.data(), &claim, 4);
    std::string huge = StreamFramed(z);
    std::memcpy(huge.data(), "\xFF\xFF\xFF\xFF", 4);

    struct Case {
        const char* name;
        std::string stream;
    };
    const std::vector<Case> cases = {
        {"preset dictionary", StreamFramed(kvtest::ReadFile(dir + "z_dict.bin"))},
        {"bit flipped", StreamFramed(flipped)},
        {"bad check value", StreamFramed(badCheck)},
        {"truncated", StreamFramed(z.substr(0, z.size() - 10))},
        {"length word above what remains", tooLong},
        {"length word 0xFFFFFFFF", huge},
        {"length 0", std::string(4, '\0') + z},
        {"not zlib", StreamFramed("hello, world")},
        {"three bytes", "abc"},
        {"empty", ""},
    };
    for (const Case& c : cases) {
        CStream s(0);
        StreamFill(s, c.stream);
        testing::internal::CaptureStdout();
        CStream* out = ZDecompressStream(&s);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, nullptr) << c.name;
        if (out) out->Delete();
        // The position never passes the data.
        EXPECT_LE(s.GetPosition(), s.GetSize()) << c.name;
    }

    // Length 0: nothing is taken after the length word.
    CStream zero(0);
    StreamFill(zero, std::string(4, '\0') + z);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ZDecompressStream(&zero), nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(zero.GetPosition(), 4);
}

TEST_F(Stream, InflateStatusCodes)
{
    std::string plain(100000, 'k');
    uLongf zlen = compressBound(plain.size());
    std::string z(zlen, '\0');
    ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(z.data()), &zlen, reinterpret_cast<const Bytef*>(plain.data()),
                        plain.size(), 9),
              Z_OK);
    z.resize(zlen);

    CStream src(0), dest(0);
    StreamFill(src, z);
    dest.WriteBuffer("head", 4);  // inflated bytes are appended at the position
    EXPECT_EQ(ZInflateStream(&src, &dest), 0);
    EXPECT_EQ(dest.GetPosition(), 4 + 100000);
    EXPECT_EQ(StreamBytes(dest).substr(0, 6), "headkk");

    CStream shortSrc(0), out2(0);
    StreamFill(shortSrc, z.substr(0, z.size() / 2));
    EXPECT_EQ(ZInflateStream(&shortSrc, &out2), Z_DATA_ERROR);
    CStream none(0), out3(0);
    EXPECT_EQ(ZInflateStream(&none, &out3), Z_DATA_ERROR);
}

// zlib's own compression of bytes, for data no fixture file holds.
std::string StreamZlib(const std::string& plain)
{
    uLongf zlen = compressBound(plain.size());
    std::string z(zlen, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(z.data()), &zlen, reinterpret_cast<const Bytef*>(plain.data()),
                        plain.size(), 9),
              Z_OK);
    z.resize(zlen);
    return z;
}

TEST_F(Stream, DecompressesFarBeyondTheCompressedSize)
{
    // Some 1000:1 and some 5:1 after it: the output outgrows any size guessed from the input, more than once,
    // and the guess from the first part undershoots the rest.
    std::string plain(6 << 20, 'a');
    for (size_t i = 0; i < plain.size(); i += 4096) plain[i] = char('a' + i / 4096 % 26);
    for (int i = 0; i < 300000; ++i) plain += char("sprite room path"[i * 7 % 16] + (i / 97) % 3);
    const std::string z = StreamZlib(plain);
    ASSERT_LT(z.size() * 50, plain.size());
    CStream s(0);
    StreamFill(s, StreamFramed(z) + "tail");
    testing::internal::CaptureStdout();
    CStream* out = ZDecompressStream(&s);
    testing::internal::GetCapturedStdout();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->GetPosition(), 0);
    ASSERT_GE(out->GetSize(), static_cast<int32_t>(plain.size()));
    EXPECT_TRUE(StreamBytes(*out).substr(0, plain.size()) == plain);
    EXPECT_EQ(s.GetPosition(), static_cast<int32_t>(4 + z.size()));

    // The result is an ordinary stream: writes past its end grow it and keep what it holds.
    const int32_t size = out->GetSize();
    out->Seek(0, 2);
    out->WriteBuffer("0123456789", 10);
    ASSERT_GE(out->GetSize(), size + 10);
    EXPECT_TRUE(StreamBytes(*out).substr(0, plain.size()) == plain);
    EXPECT_EQ(StreamBytes(*out).substr(size, 10), "0123456789");
    for (int32_t i = size + 10; i < out->GetSize(); ++i) ASSERT_EQ(out->GetMemory()[i], 0) << i;
    out->Delete();
}

TEST_F(Stream, DecompressesAnEmptyPayload)
{
    const std::string z = StreamZlib("");
    CStream s(0);
    StreamFill(s, StreamFramed(z));
    testing::internal::CaptureStdout();
    CStream* out = ZDecompressStream(&s);
    testing::internal::GetCapturedStdout();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->GetPosition(), 0);
    EXPECT_EQ(out->Remaining(), 0);
    out->WriteBuffer("x", 1);
    EXPECT_EQ(StreamBytes(*out).substr(0, 1), "x");
    out->Delete();
}

TEST_F(Stream, InflateTakesTheSourceA16KPieceAtATime)
{
    // The source is read in 16,384-byte pieces: it ends past the piece that held the stream's end, or at
    // the source's end, whatever follows the zlib stream.
    std::string small = StreamZlib(std::string(5000, 'q'));
    std::string big(60000, '\0');
    std::mt19937 rng(5);
    for (char& b : big) b = char(rng());
    std::string bigZ = StreamZlib(big);
    ASSERT_GT(bigZ.size(), 16384u * 3);
    ASSERT_LT(bigZ.size(), 16384u * 4);
    struct Case {
        const char* name;
        std::string source;
        int32_t start;
        int32_t position;  // after inflating
        int32_t status;
    };
    const Case cases[] = {
        {"small, much after it", small + std::string(40000, 'x'), 0, 16384, 0},
        {"small, little after it", small + "xyz", 0, int32_t(small.size() + 3), 0},
        {"from an offset", "abcdefg" + small + std::string(40000, 'x'), 7, 7 + 16384, 0},
        {"four pieces", bigZ + std::string(40000, 'x'), 0, 4 * 16384, 0},
        {"runs out", bigZ.substr(0, 30000), 0, 30000, Z_DATA_ERROR},
        {"not zlib", std::string(40000, 'x'), 0, 16384, Z_DATA_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CStream src(0), dest(0);
        StreamFill(src, c.source);
        src.SetPosition(c.start);
        EXPECT_EQ(ZInflateStream(&src, &dest), c.status);
        EXPECT_EQ(src.GetPosition(), c.position);
    }
}

TEST_F(Stream, SubstitutionTablesAreInversePermutations)
{
    const std::vector<int32_t> seeds = {0, 1, -1, 249, -250, 64000, -64001, -64250, -1000000, INT32_MIN, INT32_MAX};
    std::string args;
    for (int32_t seed : seeds) args += " " + std::to_string(seed);
    std::string dir = kvtest_py::Generate("tests/core/stream_oracle.py", "subst" + args);
    ASSERT_FALSE(dir.empty());
    std::string lines = kvtest::ReadFile(dir + "subst.txt");

    for (int32_t seed : seeds) {
        Stream_BuildSubstitution(seed);
        const uint8_t* f = Stream_SubstitutionForward();
        const uint8_t* inv = Stream_SubstitutionInverse();
        EXPECT_EQ(f[0], 0) << seed;
        std::vector<bool> seen(256);
        for (int v = 0; v < 256; ++v) {
            EXPECT_FALSE(seen[f[v]]) << seed;
            seen[f[v]] = true;
            EXPECT_EQ(inv[f[v]], v) << seed;
        }
        char hex[513];
        for (int v = 0; v < 256; ++v) std::snprintf(hex + 2 * v, 3, "%02x", f[v]);
        EXPECT_NE(lines.find(std::to_string(seed) + " " + hex + "\n"), std::string::npos) << "table of " << seed;
    }
}

TEST_F(Stream, SubstituteRestoresScrambledBytes)
{
    const int32_t seed = 123456;
    Stream_BuildSubstitution(seed);
    std::string plain = "if (x > 0) { show_message(\"hi\"); }";
    std::string scrambled = plain;
    for (char& c : scrambled) c = static_cast<char>(Stream_SubstitutionForward()[static_cast<uint8_t>(c)]);
    ASSERT_NE(scrambled, plain);

    CStream s(0);
    StreamFill(s, "XY" + scrambled);
    s.Substitute(seed, 2, 0);  // count 0: to the end
    EXPECT_EQ(StreamBytes(s), "XY" + plain);

    // Ranges are kept inside the memory.
    CStream t(0);
    StreamFill(t, std::string("\x00\x00", 2));
    t.Substitute(seed, -10, 100);
    t.Substitute(seed, 50, 3);
    EXPECT_EQ(t.GetSize(), 2);
}

TEST_F(Stream, CopyFromViewsAndAppends)
{
    CStream src(0);
    StreamFill(src, "0123456789");
    src.SetPosition(2);

    // A view borrows; asking for more than remains gives only what remains.
    CStream view(8);
    EXPECT_EQ(view.CopyFrom(&src, 100, true), 8);
    EXPECT_TRUE(view.IsBorrowed());
    EXPECT_EQ(view.GetMemory(), src.GetMemory() + 2);
    EXPECT_EQ(view.GetSize(), 8);
    EXPECT_EQ(view.GetPosition(), 8);
    EXPECT_EQ(src.GetPosition(), 10);
    view.Free();  // never frees the borrowed memory
    EXPECT_EQ(view.GetSize(), 8);

    // Writing into a view leaves the other stream's bytes alone.
    view.SetPosition(0);
    view.WriteBuffer("AB", 2);
    EXPECT_FALSE(view.IsBorrowed());
    EXPECT_EQ(StreamBytes(view), "AB456789");
    EXPECT_EQ(StreamBytes(src), "0123456789");

    CStream app(0);
    src.SetPosition(3);
    EXPECT_EQ(app.CopyFrom(&src, 0, false), 10);  // the whole stream
    EXPECT_EQ(src.GetPosition(), 10);
    src.SetPosition(7);
    EXPECT_EQ(app.CopyFrom(&src, 5, false), 3);
    EXPECT_EQ(src.GetPosition(), 10);
    EXPECT_EQ(StreamBytes(app).substr(0, 13), "0123456789789");
    EXPECT_EQ(app.CopyFrom(&src, 5, false), 0);
    EXPECT_EQ(app.CopyFrom(&src, -1, false), 0);

    // A view taken at the end holds nothing.
    CStream empty(0);
    EXPECT_EQ(empty.CopyFrom(&src, 4, true), 0);
    EXPECT_EQ(empty.GetMemory(), nullptr);
    EXPECT_FALSE(empty.IsBorrowed());
}

TEST_F(Stream, NewAndDeleteGoThroughTheMemoryManager)
{
    size_t before = MemoryManager_Probe().liveBlocks;
    CStream* s = new CStream(16);
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, before + 2);
    s->Delete();
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, before);
}

class StreamLoadFile : public Stream {
protected:
    void SetUp() override
    {
        namespace fs = std::filesystem;
        oldCwd_ = fs::current_path().string();
        static int counter = 0;
        base_ = oldCwd_ + "/streamload" + std::to_string(++counter);
        game_ = base_ + "/game/";
        save_ = base_ + "/save/";
        fs::create_directories(game_);
        fs::create_directories(save_);
        Paths_ResetAll();
        GameFile_Set((game_ + "data.win").c_str());
        SavePrePend_Set(save_.c_str());
        ASSERT_EQ(chdir(game_.c_str()), 0);
        // The folders are cached on first use; take them now so the block count below includes them.
        GetGameFileDirectory();
        GetSavePrePend();
        Stream::SetUp();
    }
    void TearDown() override
    {
        Stream::TearDown();
        ASSERT_EQ(chdir(oldCwd_.c_str()), 0);
        GameFile_Set(nullptr);
        Paths_ResetAll();
    }
    std::string oldCwd_, base_, game_, save_;
};

TEST_F(StreamLoadFile, SaveAreaFirstThenGameArea)
{
    kvtest::WriteFile(game_ + "both.bin", "from the game");
    kvtest::WriteFile(save_ + "both.bin", "from the save");
    kvtest::WriteFile(game_ + "game.bin", "game only");

    struct Case {
        const char* name;
        int32_t offset;
        bool found;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"both.bin", 0, true, "from the save"},
        {"game.bin", 0, true, "game only"},
        {"game.bin", 5, true, "only"},
        {"game.bin", 9, true, ""},    // offset at the end: nothing
        {"game.bin", 50, true, ""},   // past it: nothing, no read outside the file
        {"game.bin", -3, true, ""},
        {"none.bin", 0, false, ""},
    };
    for (const Case& c : cases) {
        CStream s(0);
        StreamFill(s, "previous");
        s.SetPosition(3);
        testing::internal::CaptureStdout();
        EXPECT_EQ(s.LoadFile(c.name, c.offset), c.found) << c.name;
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(StreamBytes(s), c.bytes) << c.name << " " << c.offset;
        EXPECT_EQ(s.GetPosition(), 3) << "the position is kept";
    }
}

}  // namespace
