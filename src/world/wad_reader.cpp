#include "world/wad_reader.h"

#include "world/loader.h"

#include <cstdio>
#include <cstring>

void Wad_TagText(uint32_t tag, char out[5])
{
    std::memcpy(out, &tag, 4);
    out[4] = '\0';
}

WadReader::WadReader(uint8_t* data, uint32_t length, bool reportDamage)
    : data_(data), length_(data ? length : 0), reportDamage_(reportDamage)
{
}

WadReader WadReader::ForChunk(uint8_t* body, uint32_t size, uint8_t* base)
{
    // A chunk loader only knows its chunk; the data it lies in is the loaded game data.
    uint32_t length = (base && base == g_GameData.data) ? g_GameData.length : 0;
    WadReader reader(base, length);
    uint32_t tag = 0;
    uint64_t bodyOffset = (base && body >= base) ? uint64_t(body - base) : UINT64_MAX;
    if (bodyOffset >= 8 && bodyOffset <= length) std::memcpy(&tag, base + bodyOffset - 8, 4);
    reader.SetChunk(tag, bodyOffset > UINT32_MAX ? UINT32_MAX : uint32_t(bodyOffset), size);
    return reader;
}

bool WadReader::SetChunk(uint32_t tag, uint32_t bodyOffset, uint32_t bodySize)
{
    Wad_TagText(tag, tag_);
    if (uint64_t(bodyOffset) + bodySize > length_) {
        chunkStart_ = chunkEnd_ = 0;
        return Fail(bodyOffset, "chunk runs past the end of the data");
    }
    chunkStart_ = bodyOffset;
    chunkEnd_ = bodyOffset + bodySize;
    return true;
}

bool WadReader::Fail(uint32_t offset, const char* what)
{
    if (failed_) return false;
    failed_ = true;
    std::snprintf(error_, sizeof error_, "%s at offset %u: %s", tag_, offset, what);
    if (reportDamage_) Wad_RecordDamage(error_);
    return false;
}

bool WadReader::InChunk(uint32_t offset, uint64_t size, const char* what)
{
    if (failed_) return false;
    if (offset < chunkStart_ || offset > chunkEnd_ || size > uint64_t(chunkEnd_ - offset)) return Fail(offset, what);
    return true;
}

bool WadReader::InData(uint32_t offset, uint64_t size, const char* what)
{
    if (failed_) return false;
    if (offset > length_ || size > uint64_t(length_ - offset)) return Fail(offset, what);
    return true;
}

bool WadReader::U8(uint32_t offset, uint8_t* out)
{
    if (!InChunk(offset, 1, "field past the end of the chunk")) return false;
    *out = data_[offset];
    return true;
}

bool WadReader::I16(uint32_t offset, int16_t* out)
{
    if (!InChunk(offset, 2, "field past the end of the chunk")) return false;
    std::memcpy(out, data_ + offset, 2);
    return true;
}

bool WadReader::U32(uint32_t offset, uint32_t* out)
{
    if (!InChunk(offset, 4, "field past the end of the chunk")) return false;
    std::memcpy(out, data_ + offset, 4);
    return true;
}

bool WadReader::I32(uint32_t offset, int32_t* out)
{
    if (!InChunk(offset, 4, "field past the end of the chunk")) return false;
    std::memcpy(out, data_ + offset, 4);
    return true;
}

bool WadReader::F32(uint32_t offset, float* out)
{
    if (!InChunk(offset, 4, "field past the end of the chunk")) return false;
    std::memcpy(out, data_ + offset, 4);
    return true;
}

bool WadReader::U64(uint32_t offset, uint64_t* out)
{
    if (!InChunk(offset, 8, "field past the end of the chunk")) return false;
    std::memcpy(out, data_ + offset, 8);
    return true;
}

bool WadReader::DataU32(uint32_t offset, uint32_t* out)
{
    if (!InData(offset, 4, "reference outside the data")) return false;
    std::memcpy(out, data_ + offset, 4);
    return true;
}

bool WadReader::DataI16(uint32_t offset, int16_t* out)
{
    if (!InData(offset, 2, "reference outside the data")) return false;
    std::memcpy(out, data_ + offset, 2);
    return true;
}

bool WadReader::PutDataU32(uint32_t offset, uint32_t value)
{
    if (!InData(offset, 4, "reference outside the data")) return false;
    std::memcpy(data_ + offset, &value, 4);
    return true;
}

bool WadReader::PutDataI16(uint32_t offset, int16_t value)
{
    if (!InData(offset, 2, "reference outside the data")) return false;
    std::memcpy(data_ + offset, &value, 2);
    return true;
}

bool WadReader::List(uint32_t offset, uint32_t* count)
{
    uint32_t n = 0;
    if (!U32(offset, &n)) return false;
    if (!InChunk(offset + 4, uint64_t(n) * 4, "list count overruns the chunk")) return false;
    *count = n;
    return true;
}

bool WadReader::ListEntry(uint32_t listOffset, uint32_t index, uint32_t* entry)
{
    uint64_t at = uint64_t(listOffset) + 4 + uint64_t(index) * 4;
    if (at > UINT32_MAX) return Fail(listOffset, "list entry past the end of the chunk");
    return U32(uint32_t(at), entry);
}

bool WadReader::String(uint32_t reference, const char** text, uint32_t* textLength)
{
    *text = nullptr;
    if (textLength) *textLength = 0;
    if (failed_) return false;
    if (reference == 0) return true;
    if (reference < 4 || reference > length_) return Fail(reference, "string reference outside the data");
    uint32_t n = 0;
    std::memcpy(&n, data_ + reference - 4, 4);
    // The text and its NUL must fit: n + 1 bytes from the reference.
    if (uint64_t(n) + 1 > uint64_t(length_ - reference)) return Fail(reference, "string runs past the end of the data");
    if (data_[reference + n] != 0) return Fail(reference, "string without its NUL");
    *text = reinterpret_cast<const char*>(data_ + reference);
    if (textLength) *textLength = n;
    return true;
}

bool WadReader::StringAt(uint32_t offset, const char** text)
{
    uint32_t reference = 0;
    if (!U32(offset, &reference)) return false;
    return String(reference, text);
}
