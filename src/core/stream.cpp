#include "core/stream.h"

#include "core/console.h"
#include "core/memory_manager.h"
#include "lib/file_areas.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// Block sizes are 32-bit throughout the stream.
constexpr int64_t kStreamMaxSize = 0x7FFFFFFF;

uint8_t g_streamSubstForward[256];
uint8_t g_streamSubstInverse[256];

int StreamHexDigit(unsigned char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

voidpf StreamZAlloc(voidpf, uInt items, uInt size)
{
    uint64_t bytes = static_cast<uint64_t>(items) * size;
    if (bytes == 0 || bytes > static_cast<uint64_t>(kStreamMaxSize)) return Z_NULL;
    return MemoryManager::Alloc(static_cast<size_t>(bytes), __FILE__, __LINE__, true);
}

void StreamZFree(voidpf, voidpf block) { MemoryManager::Free(block); }

}  // namespace

void* CStream::operator new(size_t size)
{
    void* p = MemoryManager::Alloc(size, __FILE__, __LINE__, true);
    if (!p) throw std::bad_alloc();
    return p;
}

void CStream::operator delete(void* p) { MemoryManager::Free(p); }

CStream::CStream(int32_t initialSize)
{
    if (initialSize > 0) {
        m_memory = static_cast<uint8_t*>(MemoryManager::Alloc(static_cast<size_t>(initialSize), __FILE__, __LINE__, true));
        if (m_memory) m_size = initialSize;
    }
}

CStream::~CStream() { ReleaseMemory(); }

void CStream::Delete() { delete this; }

void CStream::ReleaseMemory()
{
    if (!m_borrowed) MemoryManager::Free(m_memory);
    m_borrowed = false;
    m_memory = nullptr;
    m_size = 0;
}

int64_t CStream::Remaining() const
{
    if (m_position < 0 || m_position >= m_size) return 0;
    return m_size - m_position;
}

int64_t CStream::Seek(int64_t offset, int32_t origin)
{
    int64_t from = 0;
    switch (origin) {
    case 0: break;
    case 1: from = m_position; break;
    case 2: from = m_size; break;
    default: return m_position;
    }
    // Saturates instead of overflowing; such a position lies outside the memory either way.
    if (__builtin_add_overflow(from, offset, &m_position))
        m_position = offset < 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    return m_position;
}

bool CStream::Reserve(int64_t n)
{
    if (m_position < 0 || n > kStreamMaxSize - m_position) return false;
    int64_t needed = m_position + n;
    if (m_borrowed) {
        // A view never grows or writes into memory that another stream owns: it takes its own copy first.
        int64_t newSize = std::max(needed, m_size);
        auto* copy = static_cast<uint8_t*>(MemoryManager::Alloc(static_cast<size_t>(newSize), __FILE__, __LINE__, true));
        if (!copy) return false;
        if (m_size > 0) std::memcpy(copy, m_memory, static_cast<size_t>(m_size));
        m_memory = copy;
        m_size = newSize;
        m_borrowed = false;
        return true;
    }
    if (needed <= m_size) return true;
    int64_t newSize = std::max(needed, std::min(m_size * 2, kStreamMaxSize));
    auto* grown = static_cast<uint8_t*>(MemoryManager::ReAlloc(m_memory, static_cast<size_t>(newSize), __FILE__, __LINE__));
    if (!grown) return false;
    // A small block's slack past the size it was asked for is carried over as it was, so the stream
    // clears its own new part rather than rely on the block's.
    std::memset(grown + m_size, 0, static_cast<size_t>(newSize - m_size));
    m_memory = grown;
    m_size = newSize;
    return true;
}

int32_t CStream::ReadBuffer(void* dest, int64_t n)
{
    int64_t count = std::min(n, Remaining());
    if (!dest || count <= 0) return 0;
    std::memcpy(dest, m_memory + m_position, static_cast<size_t>(count));
    m_position += count;
    return static_cast<int32_t>(count);
}

int32_t CStream::WriteBuffer(const void* source, int64_t n)
{
    if (!source || n <= 0 || !Reserve(n)) return 0;
    std::memmove(m_memory + m_position, source, static_cast<size_t>(n));
    m_position += n;
    return static_cast<int32_t>(n);
}

int32_t CStream::ReadInteger()
{
    int32_t v = 0;
    if (Remaining() < 4) return 0;
    ReadBuffer(&v, 4);
    return v;
}

int64_t CStream::ReadInt64()
{
    int64_t v = 0;
    if (Remaining() < 8) return 0;
    ReadBuffer(&v, 8);
    return v;
}

double CStream::ReadReal()
{
    double v = 0.0;
    if (Remaining() < 8) return 0.0;
    ReadBuffer(&v, 8);
    return v;
}

// The host is little-endian, as the stream's byte order is.
void CStream::WriteInteger(int32_t v) { WriteBuffer(&v, 4); }
void CStream::WriteInt64(int64_t v) { WriteBuffer(&v, 8); }
void CStream::WriteReal(double v) { WriteBuffer(&v, 8); }

void CStream::ReadString(char** text)
{
    if (!text) return;
    *text = nullptr;
    if (Remaining() < 4) return;
    int32_t n = ReadInteger();
    if (n <= 0) return;
    // A length word can claim more than the data holds; allocate for what is there.
    int64_t take = std::min<int64_t>(n, Remaining());
    auto* block = static_cast<char*>(MemoryManager::Alloc(static_cast<size_t>(take) + 1, __FILE__, __LINE__, true));
    if (!block) return;
    ReadBuffer(block, take);
    *text = block;
}

void CStream::WriteString(const char* text)
{
    size_t len = text ? std::strlen(text) : 0;
    if (len > static_cast<size_t>(kStreamMaxSize)) len = 0;
    WriteInteger(static_cast<int32_t>(len));
    if (len) WriteBuffer(text, static_cast<int64_t>(len));
}

int32_t CStream::ToHex(char** text)
{
    static const char kDigits[] = "0123456789ABCDEF";
    if (!text) return 0;
    *text = nullptr;
    // The position may have been moved past the memory; only bytes that exist are written out.
    int64_t count = std::min(m_position, m_size);
    if (count <= 0 || count > (kStreamMaxSize - 1) / 2) return 0;
    auto* out = static_cast<char*>(MemoryManager::Alloc(static_cast<size_t>(count) * 2 + 1, __FILE__, __LINE__, false));
    if (!out) return 0;
    for (int64_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[m_memory[i] >> 4];
        out[2 * i + 1] = kDigits[m_memory[i] & 15];
    }
    out[2 * count] = '\0';
    *text = out;
    return static_cast<int32_t>(count);
}

void CStream::FromHex(const char* text)
{
    if (!text || !*text) return;
    size_t len = std::strlen(text);
    int64_t pairs = 0;
    for (size_t i = 0; i + 1 < len; i += 2)
        if (StreamHexDigit(text[i]) >= 0 && StreamHexDigit(text[i + 1]) >= 0) ++pairs;
    pairs = std::min(pairs, kStreamMaxSize);
    ReleaseMemory();
    m_position = 0;
    if (pairs == 0) return;
    m_memory = static_cast<uint8_t*>(MemoryManager::Alloc(static_cast<size_t>(pairs), __FILE__, __LINE__, true));
    if (!m_memory) return;
    m_size = pairs;
    int64_t k = 0;
    for (size_t i = 0; i + 1 < len && k < pairs; i += 2) {
        int hi = StreamHexDigit(text[i]), lo = StreamHexDigit(text[i + 1]);
        if (hi >= 0 && lo >= 0) m_memory[k++] = static_cast<uint8_t>(hi << 4 | lo);
    }
}

void CStream::Free()
{
    if (m_borrowed) return;
    ReleaseMemory();
}

int32_t CStream::CopyFrom(CStream* other, int64_t n, bool view)
{
    if (!other || other == this) return 0;
    if (n > 0 && view) {
        int64_t count = std::min(n, other->Remaining());
        ReleaseMemory();
        m_position = 0;
        if (count <= 0) return 0;
        m_memory = other->m_memory + other->m_position;
        m_size = count;
        m_position = count;
        m_borrowed = true;
        other->m_position += count;
        return static_cast<int32_t>(count);
    }
    // Appending copies the bytes, so this stream keeps owning what it writes.
    if (n == 0) {
        int32_t count = other->m_size > 0 ? WriteBuffer(other->m_memory, other->m_size) : 0;
        other->m_position = other->m_size;
        return count;
    }
    if (n < 0) return 0;
    int64_t count = std::min(n, other->Remaining());
    if (count <= 0) return 0;
    int32_t written = WriteBuffer(other->m_memory + other->m_position, count);
    other->m_position += written;
    return written;
}

bool CStream::LoadFile(const char* path, int32_t offset)
{
    ReleaseMemory();
    if (!path) return false;
    int32_t fileSize = 0;
    auto* bytes = static_cast<uint8_t*>(SaveArea_ReadFile(path, &fileSize));
    if (!bytes) bytes = static_cast<uint8_t*>(GameArea_ReadFile(path, &fileSize));
    if (!bytes) return false;
    // An offset outside the file leaves the stream empty rather than reading outside the block.
    if (offset < 0 || offset >= fileSize) {
        MemoryManager::Free(bytes);
        return true;
    }
    if (offset == 0) {
        m_memory = bytes;
    } else {
        m_memory = static_cast<uint8_t*>(MemoryManager::Alloc(static_cast<size_t>(fileSize - offset), __FILE__, __LINE__, false));
        if (m_memory) std::memcpy(m_memory, bytes + offset, static_cast<size_t>(fileSize - offset));
        MemoryManager::Free(bytes);
        if (!m_memory) return true;
    }
    m_size = fileSize - offset;
    return true;
}

void Stream_BuildSubstitution(int32_t seed)
{
    for (int v = 0; v < 256; ++v) g_streamSubstForward[v] = g_streamSubstInverse[v] = static_cast<uint8_t>(v);
    int64_t step = seed % 250 + 6;
    if (step < 0) step += 256;
    int64_t base = seed / 250;
    if (base < 0) base += 256;
    int64_t p = base + step;
    for (int i = 0; i < 10000; ++i) {
        // Non-negative remainder: very negative seeds leave p below 0 for the whole walk.
        int64_t k = ((p % 254) + 254) % 254;
        std::swap(g_streamSubstForward[k + 1], g_streamSubstForward[k + 2]);
        p += step;
    }
    for (int v = 1; v < 256; ++v) g_streamSubstInverse[g_streamSubstForward[v]] = static_cast<uint8_t>(v);
    g_streamSubstInverse[0] = 0;
}

const uint8_t* Stream_SubstitutionForward() { return g_streamSubstForward; }
const uint8_t* Stream_SubstitutionInverse() { return g_streamSubstInverse; }

void CStream::Substitute(int32_t seed, int32_t start, int32_t count)
{
    Stream_BuildSubstitution(seed);
    int64_t from = std::clamp<int64_t>(start, 0, m_size);
    int64_t end = count <= 0 ? m_size : std::min<int64_t>(static_cast<int64_t>(start) + count, m_size);
    for (int64_t i = from; i < end; ++i) m_memory[i] = g_streamSubstInverse[m_memory[i]];
}

namespace {

constexpr int64_t kInflateChunk = 16384;  // the source is taken in pieces of this size
// One inflate call writes at most this much; avail_out is 32 bits.
constexpr int64_t kInflateMaxOut = int64_t(1) << 30;
// Fresh output blocks at least this large are asked for as huge pages: first touches of new pages
// otherwise cost more than inflating into them.
constexpr int64_t kInflateHugeBlock = int64_t(4) << 20;

void InflateAdviseHuge(void* block, int64_t size)
{
    if (size < kInflateHugeBlock) return;
    static const uintptr_t page = [] {
        long p = sysconf(_SC_PAGESIZE);
        return p > 0 ? static_cast<uintptr_t>(p) : uintptr_t(4096);
    }();
    uintptr_t from = (reinterpret_cast<uintptr_t>(block) + page - 1) & ~(page - 1);
    uintptr_t to = (reinterpret_cast<uintptr_t>(block) + static_cast<uintptr_t>(size)) & ~(page - 1);
    // Advice only: a kernel without it inflates into ordinary pages.
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

// Inflates in[0 .. length) in one pass straight from the caller's memory. room(zs) points next_out and
// avail_out at free space once the last space is full (false: no more can be had); wrote(n) takes the bytes
// produced by each call. consumed receives the input bytes inflate took.
template <class Room, class Wrote>
int32_t InflateBytes(const uint8_t* in, int64_t length, int64_t* consumed, Room&& room, Wrote&& wrote)
{
    *consumed = 0;
    z_stream zs{};
    zs.zalloc = StreamZAlloc;
    zs.zfree = StreamZFree;
    int32_t status = inflateInit_(&zs, ZLIB_VERSION, static_cast<int>(sizeof(z_stream)));
    if (status != Z_OK) return status;
    status = Z_DATA_ERROR;  // input that runs out before the stream's end
    if (length > 0) {
        zs.next_in = const_cast<Bytef*>(in);
        zs.avail_in = static_cast<uInt>(length);
        for (;;) {
            if (zs.avail_out == 0 && !room(zs)) {
                status = -1;
                break;
            }
            const uInt before = zs.avail_out;
            int ret = inflate(&zs, Z_NO_FLUSH);
            wrote(static_cast<int64_t>(before - zs.avail_out));
            if (ret == Z_STREAM_END) {
                status = Z_OK;
                break;
            }
            if (ret == Z_NEED_DICT) ret = Z_DATA_ERROR;
            if (ret == Z_DATA_ERROR || ret == Z_MEM_ERROR || ret == Z_STREAM_ERROR) {
                status = ret;
                break;
            }
            if (zs.avail_out != 0) break;  // every input byte taken, and no end
        }
    }
    *consumed = length - zs.avail_in;
    inflateEnd(&zs);
    return status;
}

}  // namespace

int32_t ZInflateStream(CStream* source, CStream* dest)
{
    if (!source || !dest) return Z_STREAM_ERROR;
    const int64_t length = source->Remaining();
    const uint8_t* in = length > 0 ? source->m_memory + source->m_position : nullptr;
    int64_t consumed = 0;
    int32_t status = InflateBytes(
        in, length, &consumed,
        [dest](z_stream& zs) {
            // Straight into the destination's memory, grown by the stream's own rule when full.
            if (dest->Remaining() == 0 && !dest->Reserve(kInflateChunk)) return false;
            zs.next_out = dest->m_memory + dest->m_position;
            zs.avail_out = static_cast<uInt>(std::min(dest->Remaining(), kInflateMaxOut));
            return true;
        },
        [dest](int64_t n) { dest->m_position += n; });
    // The source is read a piece at a time: it ends past the piece in which inflating stopped.
    if (length > 0) {
        int64_t pieces = std::max<int64_t>(1, (consumed + kInflateChunk - 1) / kInflateChunk);
        source->m_position += std::min(length, pieces * kInflateChunk);
    }
    return status;
}

CStream* ZDecompressStream(CStream* stream)
{
    if (!stream) return nullptr;
    uint32_t n = static_cast<uint32_t>(stream->ReadInteger());
    // The length word comes from the data: one that claims more than is there is corrupt.
    if (static_cast<int64_t>(n) > stream->Remaining()) return nullptr;
    // The bytes are inflated where they lie; a view of them would only add a copy.
    const uint8_t* in = n > 0 ? stream->m_memory + stream->m_position : nullptr;
    stream->m_position += n;
    DebugConsole->Output("ZDecompressStream %d\n", static_cast<int32_t>(n));

    // The inflated size is not stored, so the block is sized from the compressed one (zlib seldom does
    // better than 4:1 on game data) and replaced only when it fills: by the size the input read so far
    // predicts, at least doubled. Nothing is cleared, since the stream ends at the last inflated byte.
    uint8_t* block = nullptr;
    int64_t capacity = 0, used = 0;
    auto grow = [&](int64_t wanted) {
        wanted = std::min(wanted, kStreamMaxSize);
        if (wanted <= capacity) return false;
        auto* bigger = static_cast<uint8_t*>(MemoryManager::Alloc(static_cast<size_t>(wanted), __FILE__, __LINE__, false));
        if (!bigger) return false;
        InflateAdviseHuge(bigger, wanted);
        if (used > 0) std::memcpy(bigger, block, static_cast<size_t>(used));
        MemoryManager::Free(block);
        block = bigger;
        capacity = wanted;
        return true;
    };
    int64_t consumed = 0;
    int32_t status = InflateBytes(
        in, n, &consumed,
        [&](z_stream& zs) {
            if (used == capacity) {
                int64_t wanted = std::max<int64_t>(4 * static_cast<int64_t>(n), kInflateChunk);
                if (capacity > 0) {
                    const int64_t taken = std::max<int64_t>(static_cast<int64_t>(zs.total_in), 1);
                    const double predicted = double(used) * double(n) / double(taken);
                    wanted = std::max<int64_t>(2 * capacity, int64_t(std::min(predicted * 1.125, double(kStreamMaxSize))));
                }
                if (!grow(wanted)) return false;
            }
            zs.next_out = block + used;
            zs.avail_out = static_cast<uInt>(std::min(capacity - used, kInflateMaxOut));
            return true;
        },
        [&](int64_t produced) { used += produced; });
    if (status != Z_OK) {
        MemoryManager::Free(block);
        return nullptr;
    }
    DebugConsole->Output("Done ZDecompressStream\n");
    auto* result = new CStream(0);
    if (used > 0) {
        // The block may be larger than the bytes; the stream's size is what it holds, and growing it
        // later clears its own new part.
        result->m_memory = block;
        result->m_size = used;
    } else {
        MemoryManager::Free(block);
    }
    return result;
}
