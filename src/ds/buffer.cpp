#include "ds/buffer.h"

#include "core/arguments.h"
#include "core/convert.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "script/script.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr int64_t kBufferMaxSize = std::numeric_limits<int32_t>::max();

// Argument conversions of the typed writes (the argument getters' rules: NaN and infinities give 0, reals
// are truncated toward zero, text is read as a number).
double BufferArg_TextAsReal(const RValue* v)
{
    RValue number;
    RValue_SetReal(&number, 0.0);
    if (JS_ToNumber(&number, v) != 0) return 0.0;
    double d = RValue_Kind(&number) == VALUE_REAL ? number.real : 0.0;
    RValue_Free(&number);
    return d;
}

double BufferArg_Real(const RValue* v, bool* ok)
{
    *ok = true;
    switch (RValue_Kind(v)) {
    case VALUE_REAL:
    case VALUE_BOOL: return v->real;
    case VALUE_INT32: return v->v32;
    case VALUE_INT64: return static_cast<double>(v->v64);
    case VALUE_STRING: return BufferArg_TextAsReal(v);
    default: *ok = false; return 0.0;
    }
}

int64_t BufferArg_Int64(const RValue* v)
{
    switch (RValue_Kind(v)) {
    case VALUE_INT32: return v->v32;
    case VALUE_INT64: return v->v64;
    default: {
        bool ok;
        double d = BufferArg_Real(v, &ok);
        return std::isfinite(d) ? Real_ToInt64(d) : 0;
    }
    }
}

int32_t BufferArg_Int32(const RValue* v)
{
    switch (RValue_Kind(v)) {
    case VALUE_INT32: return v->v32;
    case VALUE_INT64: return static_cast<int32_t>(static_cast<uint32_t>(v->v64));
    default: {
        bool ok;
        double d = BufferArg_Real(v, &ok);
        return std::isfinite(d) ? Real_ToInt32(d) : 0;
    }
    }
}

// Truncated to 64 bits, low 32 kept: -1.0 gives 4294967295 and 3e9 stays 3e9.
uint32_t BufferArg_UInt32(const RValue* v)
{
    return static_cast<uint32_t>(BufferArg_Int64(v));
}

float BufferArg_Float(const RValue* v)
{
    if (RValue_Kind(v) == VALUE_STRING) return 0.0f;
    bool ok;
    double d = BufferArg_Real(v, &ok);
    if (!std::isfinite(d)) return 0.0f;
    // Beyond the float range the conversion itself is undefined; IEEE rounding would give infinity.
    if (std::fabs(d) > std::numeric_limits<float>::max())
        return d > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

bool BufferArg_Bool(const RValue* v)
{
    switch (RValue_Kind(v)) {
    case VALUE_REAL: return v->real > 0.5;
    case VALUE_BOOL: return v->real != 0.0;
    case VALUE_INT32: return v->v32 > 0;
    case VALUE_INT64: return v->v64 > 0;
    default: return false;
    }
}

// A VALUE_STRING holding a copy of len bytes.
void BufferValue_SetText(RValue* out, const uint8_t* bytes, int32_t len)
{
    RefString* record = RefString::CreateWithLength(len);
    if (!record) return;
    if (len) std::memcpy(record->text, bytes, static_cast<size_t>(len));
    record->text[len] = '\0';
    out->str = record;
    out->flags = 0;
    out->kind = VALUE_STRING;
}

bool Buffer_IsText(int32_t type) { return type == buffer_string || type == buffer_text; }

}  // namespace

int32_t BufferType_Size(int32_t type)
{
    switch (type) {
    case buffer_u8:
    case buffer_s8:
    case buffer_bool: return 1;
    case buffer_u16:
    case buffer_s16:
    case buffer_f16: return 2;
    case buffer_u32:
    case buffer_s32:
    case buffer_f32: return 4;
    case buffer_f64:
    case buffer_u64: return 8;
    default: return 0;
    }
}

int32_t Buffer_Alignment(int32_t requested)
{
    int32_t a = 1;
    while (a < requested && a < 1024) a <<= 1;
    return a;
}

void* IBuffer::operator new(size_t size)
{
    void* p = MemoryManager::Alloc(size, __FILE__, __LINE__, true);
    if (!p) throw std::bad_alloc();
    return p;
}

void IBuffer::operator delete(void* p) { MemoryManager::Free(p); }

IBuffer::IBuffer(int32_t size, int32_t kind, int32_t alignment)
    : m_alignment(Buffer_Alignment(alignment)), m_kind(kind)
{
    size = std::max(size, 0);
    m_allocatedSize = size + m_alignment;
    m_storage = static_cast<uint8_t*>(MemoryManager::Alloc(static_cast<size_t>(m_allocatedSize), __FILE__, __LINE__, true));
    if (!m_storage) {
        m_allocatedSize = 0;
        return;
    }
    auto address = reinterpret_cast<uintptr_t>(m_storage);
    m_data = m_storage + ((m_alignment - address % m_alignment) % m_alignment);
    m_size = size;
    m_usedSize = size;
    m_ownsStorage = true;
}

IBuffer::IBuffer() = default;

IBuffer::IBuffer(void* data, int32_t size, int32_t kind, int32_t alignment, bool owns)
    : m_storage(static_cast<uint8_t*>(data)), m_data(static_cast<uint8_t*>(data)),
      m_size(data ? std::max(size, 0) : 0), m_alignment(Buffer_Alignment(alignment)), m_kind(kind),
      m_usedSize(m_size), m_ownsStorage(owns)
{
}

IBuffer::~IBuffer()
{
    if (m_ownsStorage) MemoryManager::Free(m_storage);
}

Buffer_Standard::~Buffer_Standard() = default;

void IBuffer::Resize(int32_t newSize)
{
    newSize = std::max(newSize, 0);
    int32_t allocated = newSize + m_alignment;
    auto* storage = static_cast<uint8_t*>(MemoryManager::Alloc(static_cast<size_t>(allocated), __FILE__, __LINE__, true));
    if (!storage) return;
    auto address = reinterpret_cast<uintptr_t>(storage);
    uint8_t* data = storage + ((m_alignment - address % m_alignment) % m_alignment);
    int32_t keep = std::min(m_size, newSize);
    if (keep > 0 && m_data) std::memcpy(data, m_data, static_cast<size_t>(keep));
    // Caller memory the buffer does not own is left to the caller; the new block is the buffer's own.
    if (m_ownsStorage) MemoryManager::Free(m_storage);
    m_storage = storage;
    m_allocatedSize = allocated;
    m_data = data;
    m_size = newSize;
    m_ownsStorage = true;
    if (m_position >= newSize) {
        m_position = 0;
        m_wrapOffset = 0;
    }
    m_usedSize = std::min(std::max(m_position, m_usedSize), newSize);
}

void IBuffer::AlignPosition()
{
    if (m_position < 0) return;
    int64_t a = m_alignment;
    int64_t p = (m_position + m_wrapOffset + a - 1) / a * a - m_wrapOffset;
    if (m_kind == buffer_wrap && m_size > 0 && p >= m_size) {
        int64_t laps = p / m_size;
        m_wrapOffset = static_cast<int32_t>((m_wrapOffset + laps * m_size) % a);
        p -= laps * m_size;
    }
    m_position = static_cast<int32_t>(std::min(p, kBufferMaxSize));
}

int32_t IBuffer::PutBytes(const uint8_t* bytes, int32_t len)
{
    int64_t end = static_cast<int64_t>(m_position) + len;
    if (end > m_size) {
        if (m_kind == buffer_grow) {
            int64_t newSize = std::max<int64_t>(m_size, 1);
            while (newSize < end) newSize *= 2;
            if (newSize > kBufferMaxSize - 1024) {
                if (end > kBufferMaxSize - 1024) return -2;
                newSize = end;
            }
            Resize(static_cast<int32_t>(newSize));
            if (m_size < end) return -2;
        } else if (m_kind != buffer_wrap || m_size <= 0) {
            return -2;
        }
    }
    if (m_kind == buffer_wrap) {
        for (int32_t i = 0; i < len; ++i) {
            m_data[m_position++] = bytes[i];
            if (m_position >= m_size) {
                m_position = 0;
                m_wrapOffset = (m_wrapOffset + m_size) % m_alignment;
                m_usedSize = m_size;
            }
        }
    } else {
        if (len > 0) std::memcpy(m_data + m_position, bytes, static_cast<size_t>(len));
        m_position += len;
    }
    m_usedSize = std::min(std::max(m_usedSize, m_position), m_size);
    return 0;
}

int32_t IBuffer::Write(int32_t type, RValue* value)
{
    AlignPosition();
    if (m_position < 0 || (m_position >= m_size && m_kind != buffer_grow)) return -2;

    uint8_t scratch[8];
    switch (type) {
    case buffer_u8:
    case buffer_s8: scratch[0] = static_cast<uint8_t>(BufferArg_Int32(value)); break;
    case buffer_u16:
    case buffer_s16: {
        auto v = static_cast<uint16_t>(BufferArg_Int32(value));
        std::memcpy(scratch, &v, 2);
        break;
    }
    case buffer_u32: {
        uint32_t v = BufferArg_UInt32(value);
        std::memcpy(scratch, &v, 4);
        break;
    }
    case buffer_s32: {
        int32_t v = QZGI32(value, 0);
        std::memcpy(scratch, &v, 4);
        break;
    }
    case buffer_f32: {
        float v = BufferArg_Float(value);
        std::memcpy(scratch, &v, 4);
        break;
    }
    case buffer_f64: {
        double v = QZGR(value, 0);
        std::memcpy(scratch, &v, 8);
        break;
    }
    case buffer_bool: scratch[0] = BufferArg_Bool(value) ? 1 : 0; break;
    case buffer_u64: {
        int64_t v = BufferArg_Int64(value);
        std::memcpy(scratch, &v, 8);
        break;
    }
    case buffer_string:
    case buffer_text: {
        const char* text = QZGS(value, 0);
        if (!text) return -1;
        size_t len = std::strlen(text) + (type == buffer_string ? 1 : 0);
        if (len > static_cast<size_t>(kBufferMaxSize)) return -2;
        return PutBytes(reinterpret_cast<const uint8_t*>(text), static_cast<int32_t>(len));
    }
    default: return -1;  // buffer_f16 has no conversion
    }
    return PutBytes(scratch, BufferType_Size(type));
}

bool IBuffer::TakeText(const uint8_t** text, int32_t* length)
{
    // Past the valid bytes (a grow buffer after a seek) the text is empty.
    int32_t end = std::max(m_usedSize, m_position);
    const uint8_t* start = m_data + m_position;
    const void* nul = std::memchr(start, 0, static_cast<size_t>(end - m_position));
    *text = start;
    *length = nul ? static_cast<int32_t>(static_cast<const uint8_t*>(nul) - start) : end - m_position;
    return true;
}

int32_t IBuffer::Read(int32_t type, RValue* out)
{
    RValue_Free(out);
    RValue_SetReal(out, 0.0);
    AlignPosition();
    if (m_position < 0 || m_position >= m_size) {
        out->real = -3.0;
        return -1;
    }
    if (Buffer_IsText(type)) {
        const uint8_t* text;
        int32_t len;
        TakeText(&text, &len);
        BufferValue_SetText(out, text, len);
        m_position = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(m_position) + len + 1, kBufferMaxSize));
        if (m_kind == buffer_wrap && m_position >= m_size) AlignPosition();
        return 0;
    }
    int32_t n = BufferType_Size(type);
    if (m_kind != buffer_wrap && static_cast<int64_t>(m_position) + n > m_size) {
        out->real = -3.0;
        return -1;
    }
    uint8_t b[8] = {};
    if (m_kind == buffer_wrap) {
        for (int32_t i = 0; i < n; ++i) {
            b[i] = m_data[m_position++];
            if (m_position >= m_size) {
                m_position = 0;
                m_wrapOffset = (m_wrapOffset + m_size) % m_alignment;
            }
        }
    } else {
        std::memcpy(b, m_data + m_position, static_cast<size_t>(n));
        m_position += n;
    }
    switch (type) {
    case buffer_u8:
    case buffer_bool: out->real = b[0]; break;
    case buffer_s8: out->real = static_cast<int8_t>(b[0]); break;
    case buffer_u16: {
        uint16_t v;
        std::memcpy(&v, b, 2);
        out->real = v;
        break;
    }
    case buffer_s16: {
        int16_t v;
        std::memcpy(&v, b, 2);
        out->real = v;
        break;
    }
    case buffer_u32: {
        uint32_t v;
        std::memcpy(&v, b, 4);
        out->real = v;
        break;
    }
    case buffer_s32: {
        int32_t v;
        std::memcpy(&v, b, 4);
        out->real = v;
        break;
    }
    case buffer_f32: {
        float v;
        std::memcpy(&v, b, 4);
        out->real = v;
        break;
    }
    case buffer_f64: std::memcpy(&out->real, b, 8); break;
    case buffer_u64: {
        int64_t v;
        std::memcpy(&v, b, 8);
        RValue_SetInt64(out, v);
        break;
    }
    default: return -1;  // buffer_f16 (its two bytes consumed) and unknown codes
    }
    return 0;
}

int32_t IBuffer::Seek(int32_t base, int32_t offset)
{
    switch (base) {
    case buffer_seek_start:
        m_wrapOffset = 0;
        m_position = std::max(offset, 0);
        break;
    case buffer_seek_relative: {
        int64_t p = static_cast<int64_t>(m_position) + offset;
        if (m_kind == buffer_wrap) {
            int64_t a = m_alignment, s = m_size;
            if (s <= 0) {
                p = 0;
            } else if (p < 0) {
                int64_t laps = (-p + s - 1) / s;
                m_wrapOffset = static_cast<int32_t>((m_wrapOffset + laps * (a - s % a)) % a);
                p += laps * s;
            } else if (p >= s) {
                int64_t laps = p / s;
                m_wrapOffset = static_cast<int32_t>((m_wrapOffset + laps * s) % a);
                p -= laps * s;
            }
        } else if (p < 0) {
            p = 0;
        }
        m_position = static_cast<int32_t>(std::min(p, kBufferMaxSize));
        break;
    }
    case buffer_seek_end:
        m_wrapOffset = 0;
        m_position = m_size - std::min(m_size, std::max(offset, 0));
        break;
    default: break;
    }
    return m_position;
}

int32_t IBuffer::WriteBytes(const void* source, int32_t elementSize, int32_t count)
{
    int64_t n64 = static_cast<int64_t>(elementSize) * count;
    if (!source || n64 <= 0 || n64 > kBufferMaxSize) return 0;
    auto n = static_cast<int32_t>(n64);
    auto* src = static_cast<const uint8_t*>(source);
    if (m_kind == buffer_grow) {
        if (m_position < 0) m_position = 0;
        int64_t end = static_cast<int64_t>(m_position) + n;
        if (end > kBufferMaxSize - 1024) return 0;
        if (end > m_size) {
            Resize(static_cast<int32_t>(end));
            if (m_size < end) return 0;
        }
    } else if (m_kind == buffer_wrap) {
        if (m_size <= 0) return 0;
        if (m_position < 0 || m_position >= m_size) Seek(buffer_seek_relative, 0);
    } else {
        if (m_position < 0 || m_position >= m_size) return 0;
        n = std::min(n, m_size - m_position);
    }
    PutBytes(src, n);
    return n;
}

int32_t IBuffer::ReadBytes(void* dest, int32_t elementSize, int32_t count)
{
    int64_t n64 = static_cast<int64_t>(elementSize) * count;
    if (!dest || n64 <= 0 || m_size <= 0) return 0;
    auto* out = static_cast<uint8_t*>(dest);
    if (m_kind == buffer_wrap) {
        auto n = static_cast<int32_t>(std::min(n64, kBufferMaxSize));
        if (m_position < 0 || m_position >= m_size) Seek(buffer_seek_relative, 0);
        for (int32_t i = 0; i < n; ++i) {
            out[i] = m_data[m_position++];
            if (m_position >= m_size) {
                m_position = 0;
                m_wrapOffset = (m_wrapOffset + m_size) % m_alignment;
            }
        }
        return n;
    }
    if (m_position < 0 || m_position >= m_size) return 0;
    auto n = static_cast<int32_t>(std::min<int64_t>(n64, m_size - m_position));
    std::memcpy(out, m_data + m_position, static_cast<size_t>(n));
    m_position += n;
    return n;
}

int32_t IBuffer::WriteString(const char* text)
{
    // A null text still leaves a mark that reads back as a text: the one byte 0x04.
    if (!text) text = "\x04";
    AlignPosition();
    if (m_position < 0 || (m_position >= m_size && m_kind != buffer_grow)) return -2;
    size_t len = std::strlen(text) + 1;
    if (len > static_cast<size_t>(kBufferMaxSize)) return -2;
    return PutBytes(reinterpret_cast<const uint8_t*>(text), static_cast<int32_t>(len));
}

char* IBuffer::ReadString()
{
    AlignPosition();
    if (m_position < 0 || m_position >= m_size) return nullptr;
    const uint8_t* text;
    int32_t len;
    TakeText(&text, &len);
    auto* copy = static_cast<char*>(MemoryManager::Alloc(static_cast<size_t>(len) + 1, __FILE__, __LINE__, false));
    if (!copy) return nullptr;
    if (len) std::memcpy(copy, text, static_cast<size_t>(len));
    copy[len] = '\0';
    m_position = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(m_position) + len + 1, kBufferMaxSize));
    if (m_kind == buffer_wrap && m_position >= m_size) AlignPosition();
    return copy;
}
