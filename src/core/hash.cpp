#include "core/hash.h"

#include <bit>
#include <cstring>

// ---- MurmurHash3 (x86, 32-bit) ----

namespace {

inline uint32_t Murmur_Mix(uint32_t k)
{
    k *= 0xCC9E2D51u;
    k = std::rotl(k, 15);
    return k * 0x1B873593u;
}

}  // namespace

uint32_t MurmurHash3_String(const void* bytes, size_t length, uint32_t seed)
{
    const auto* data = static_cast<const uint8_t*>(bytes);
    uint32_t h = seed;
    const size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; ++i) {
        uint32_t k;
        std::memcpy(&k, data + i * 4, 4);  // little-endian host
        h ^= Murmur_Mix(k);
        h = std::rotl(h, 13);
        h = h * 5 + 0xE6546B64u;
    }
    const uint8_t* tail = data + blocks * 4;
    uint32_t k = 0;
    switch (length & 3) {
    case 3: k ^= static_cast<uint32_t>(tail[2]) << 16; [[fallthrough]];
    case 2: k ^= static_cast<uint32_t>(tail[1]) << 8; [[fallthrough]];
    case 1: k ^= tail[0]; h ^= Murmur_Mix(k);
    }
    // The length is mixed in as 32 bits, as the published variant does.
    h ^= static_cast<uint32_t>(length);
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

uint32_t MurmurHash3_CString(const char* text)
{
    if (!text) text = "";
    return MurmurHash3_String(text, std::strlen(text), 0);
}

// ---- CRC-32 ----

namespace {

struct Crc32Table {
    uint32_t entry[256];
};

constexpr Crc32Table Crc32_MakeTable()
{
    Crc32Table t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t.entry[i] = c;
    }
    return t;
}

// Built at compile time, so hashing works however early it is called.
constexpr Crc32Table kCrc32Table = Crc32_MakeTable();

}  // namespace

void CRC32_Init() {}

uint32_t CRC32_Buffer(const void* bytes, size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    auto* p = static_cast<const uint8_t*>(bytes);
    if (!p) return crc;
    for (size_t i = 0; i < length; ++i) crc = kCrc32Table.entry[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint32_t CRC32_String(const char* text)
{
    return text ? CRC32_Buffer(text, std::strlen(text)) : 0xFFFFFFFFu;
}

// ---- Base64 ----

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64_Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

void Base64_Encode(const void* bytes, size_t length, char* out)
{
    auto* p = static_cast<const uint8_t*>(bytes);
    size_t o = 0;
    for (size_t i = 0; i < length; i += 3) {
        uint32_t group = static_cast<uint32_t>(p[i]) << 16;
        size_t n = length - i < 3 ? length - i : 3;
        if (n > 1) group |= static_cast<uint32_t>(p[i + 1]) << 8;
        if (n > 2) group |= p[i + 2];
        out[o++] = kBase64Alphabet[group >> 18];
        out[o++] = kBase64Alphabet[(group >> 12) & 63];
        out[o++] = n > 1 ? kBase64Alphabet[(group >> 6) & 63] : '=';
        out[o++] = n > 2 ? kBase64Alphabet[group & 63] : '=';
    }
    out[o] = '\0';
}

int32_t Base64_Decode(const char* text, int32_t capacity, uint8_t* out, bool terminate)
{
    if (!out || capacity <= 0) return 0;
    int32_t limit = capacity - 1, count = 0;
    uint32_t group = 0;
    int have = 0;
    if (text) {
        for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c && count < limit; ++c) {
            int v = Base64_Value(*c);
            if (v < 0) break;  // '=', white space, anything else: the data ends here
            group = group << 6 | static_cast<uint32_t>(v);
            if (++have == 4) {
                for (int shift = 16; shift >= 0 && count < limit; shift -= 8)
                    out[count++] = static_cast<uint8_t>(group >> shift);
                group = 0;
                have = 0;
            }
        }
        // A final group of 2 or 3 characters carries 1 or 2 bytes; a single one carries none.
        if (have >= 2) {
            group <<= 6 * (4 - have);
            for (int k = 0, shift = 16; k < have - 1 && count < limit; ++k, shift -= 8)
                out[count++] = static_cast<uint8_t>(group >> shift);
        }
    }
    if (terminate) out[count] = 0;
    return count;
}

// ---- MD5 (RFC 1321) ----

namespace {

constexpr uint32_t kMd5Sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
constexpr int kMd5Shifts[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

void Md5_Transform(uint32_t state[4], const uint8_t block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = uint32_t(block[4 * i]) | uint32_t(block[4 * i + 1]) << 8 | uint32_t(block[4 * i + 2]) << 16 |
               uint32_t(block[4 * i + 3]) << 24;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        switch (i >> 4) {
        case 0: f = (b & c) | (~b & d); g = i; break;
        case 1: f = (d & b) | (~d & c); g = (5 * i + 1) & 15; break;
        case 2: f = b ^ c ^ d; g = (3 * i + 5) & 15; break;
        default: f = c ^ (b | ~d); g = (7 * i) & 15; break;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + std::rotl(a + f + kMd5Sines[i] + x[g], kMd5Shifts[(i >> 4) * 4 + (i & 3)]);
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void MD5_Init(MD5Context* context)
{
    std::memset(context, 0, sizeof *context);
    context->state[0] = 0x67452301u;
    context->state[1] = 0xefcdab89u;
    context->state[2] = 0x98badcfeu;
    context->state[3] = 0x10325476u;
}

void MD5_Update(MD5Context* context, const void* bytes, size_t length)
{
    auto* p = static_cast<const uint8_t*>(bytes);
    if (!p || !length) return;
    size_t used = (context->bitCountLow >> 3) & 63;
    uint64_t bits = (uint64_t(context->bitCountHigh) << 32 | context->bitCountLow) + uint64_t(length) * 8;
    context->bitCountLow = static_cast<uint32_t>(bits);
    context->bitCountHigh = static_cast<uint32_t>(bits >> 32);
    if (used) {
        size_t take = 64 - used < length ? 64 - used : length;
        std::memcpy(context->block + used, p, take);
        p += take;
        length -= take;
        if (used + take < 64) return;
        Md5_Transform(context->state, context->block);
    }
    for (; length >= 64; p += 64, length -= 64) Md5_Transform(context->state, p);
    if (length) std::memcpy(context->block, p, length);
}

void MD5_Final(MD5Context* context)
{
    uint8_t lengthBytes[8];
    for (int i = 0; i < 4; ++i) {
        lengthBytes[i] = static_cast<uint8_t>(context->bitCountLow >> (8 * i));
        lengthBytes[4 + i] = static_cast<uint8_t>(context->bitCountHigh >> (8 * i));
    }
    static const uint8_t kPad[64] = {0x80};
    size_t used = (context->bitCountLow >> 3) & 63;
    MD5_Update(context, kPad, used < 56 ? 56 - used : 120 - used);
    MD5_Update(context, lengthBytes, 8);
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k) context->digest[4 * i + k] = static_cast<uint8_t>(context->state[i] >> (8 * k));
}

// ---- SHA-1 (RFC 3174) ----

namespace {

void Sha1_ProcessBlock(SHA1Context* context)
{
    uint32_t w[80];
    for (int t = 0; t < 16; ++t)
        w[t] = uint32_t(context->block[4 * t]) << 24 | uint32_t(context->block[4 * t + 1]) << 16 |
               uint32_t(context->block[4 * t + 2]) << 8 | uint32_t(context->block[4 * t + 3]);
    for (int t = 16; t < 80; ++t) w[t] = std::rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    uint32_t a = context->h[0], b = context->h[1], c = context->h[2], d = context->h[3], e = context->h[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f, k;
        if (t < 20) { f = (b & c) | (~b & d); k = 0x5A827999u; }
        else if (t < 40) { f = b ^ c ^ d; k = 0x6ED9EBA1u; }
        else if (t < 60) { f = (b & c) | (b & d) | (c & d); k = 0x8F1BBCDCu; }
        else { f = b ^ c ^ d; k = 0xCA62C1D6u; }
        uint32_t temp = std::rotl(a, 5) + f + e + w[t] + k;
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = temp;
    }
    context->h[0] += a;
    context->h[1] += b;
    context->h[2] += c;
    context->h[3] += d;
    context->h[4] += e;
    context->blockIndex = 0;
}

void Sha1_Pad(SHA1Context* context)
{
    context->block[context->blockIndex++] = 0x80;
    if (context->blockIndex > 56) {
        while (context->blockIndex < 64) context->block[context->blockIndex++] = 0;
        Sha1_ProcessBlock(context);
    }
    while (context->blockIndex < 56) context->block[context->blockIndex++] = 0;
    for (int i = 0; i < 4; ++i) {
        context->block[56 + i] = static_cast<uint8_t>(context->lengthHigh >> (24 - 8 * i));
        context->block[60 + i] = static_cast<uint8_t>(context->lengthLow >> (24 - 8 * i));
    }
    Sha1_ProcessBlock(context);
}

}  // namespace

void SHA1_Reset(SHA1Context* context)
{
    std::memset(context, 0, sizeof *context);
    context->h[0] = 0x67452301u;
    context->h[1] = 0xEFCDAB89u;
    context->h[2] = 0x98BADCFEu;
    context->h[3] = 0x10325476u;
    context->h[4] = 0xC3D2E1F0u;
}

void SHA1_Input(SHA1Context* context, const void* bytes, size_t length)
{
    if (!length) return;
    if (context->computed || !bytes) {
        context->corrupted = 1;
        return;
    }
    if (context->corrupted) return;
    auto* p = static_cast<const uint8_t*>(bytes);
    for (; length; --length, ++p) {
        context->block[context->blockIndex++] = *p;
        context->lengthLow += 8;
        if (context->lengthLow == 0 && ++context->lengthHigh == 0) {
            context->corrupted = 1;  // more than 2^64 - 1 bits
            return;
        }
        if (context->blockIndex == 64) Sha1_ProcessBlock(context);
    }
}

bool SHA1_Result(SHA1Context* context)
{
    if (context->corrupted) return false;
    if (!context->computed) {
        Sha1_Pad(context);
        std::memset(context->block, 0, sizeof context->block);
        context->lengthLow = context->lengthHigh = 0;
        context->computed = 1;
    }
    return true;
}

uint32_t FilePos_Low32(int64_t position) { return static_cast<uint32_t>(position); }
