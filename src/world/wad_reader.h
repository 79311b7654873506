// The checked reader of the game data. Every read of a chunk goes through it: fields must lie inside
// the chunk being read, references (offsets from the first byte of the data) inside the data. The
// first failed check is recorded as "<tag> at offset <n>: <what>"; every later read then fails too.
#pragma once
#include <cstdint>

class WadReader {
public:
    // reportDamage: a failure also marks the loaded game data as damaged (the load then fails).
    WadReader(uint8_t* data, uint32_t length, bool reportDamage = true);

    // A reader for a chunk loader of the loaded game data: body and size as the chunk walk hands them on.
    static WadReader ForChunk(uint8_t* body, uint32_t size, uint8_t* base);

    // Restricts the chunk reads to the body of a chunk (tag as its four bytes, little-endian word).
    // False when the body does not lie inside the data.
    bool SetChunk(uint32_t tag, uint32_t bodyOffset, uint32_t bodySize);
    uint32_t ChunkStart() const { return chunkStart_; }
    uint32_t ChunkEnd() const { return chunkEnd_; }
    uint32_t Length() const { return length_; }
    uint8_t* Data() const { return data_; }

    bool Failed() const { return failed_; }
    const char* Error() const { return error_; }
    // Records "<tag> at offset <n>: <what>" unless a failure is recorded already; returns false.
    bool Fail(uint32_t offset, const char* what);

    // Fields inside the current chunk (offsets from the first byte of the data).
    bool InChunk(uint32_t offset, uint64_t size, const char* what);
    bool U8(uint32_t offset, uint8_t* out);
    bool I16(uint32_t offset, int16_t* out);
    bool U32(uint32_t offset, uint32_t* out);
    bool I32(uint32_t offset, int32_t* out);
    bool F32(uint32_t offset, float* out);
    bool U64(uint32_t offset, uint64_t* out);

    // Anywhere inside the data.
    bool InData(uint32_t offset, uint64_t size, const char* what);
    bool DataU32(uint32_t offset, uint32_t* out);
    bool DataI16(uint32_t offset, int16_t* out);
    bool PutDataU32(uint32_t offset, uint32_t value);
    bool PutDataI16(uint32_t offset, int16_t value);

    // A list in the chunk: a count at offset, then that many 32-bit offsets, all inside the chunk.
    // Nothing may be sized from the count before this check.
    bool List(uint32_t offset, uint32_t* count);
    // Entry i of a checked list: the offset stored there (0 means none).
    bool ListEntry(uint32_t listOffset, uint32_t index, uint32_t* entry);

    // A string reference (the offset of the text; the length word stands before it, a NUL after it).
    // 0 gives null. The length word, the text and its NUL must lie inside the data.
    bool String(uint32_t reference, const char** text, uint32_t* textLength = nullptr);
    // A string reference stored as a field of the chunk.
    bool StringAt(uint32_t offset, const char** text);

private:
    uint8_t* data_;
    uint32_t length_;
    uint32_t chunkStart_ = 0;
    uint32_t chunkEnd_ = 0;
    char tag_[5] = {'F', 'O', 'R', 'M', 0};
    bool reportDamage_;
    bool failed_ = false;
    char error_[160] = {};
};

// Tag text of a chunk: its four bytes.
void Wad_TagText(uint32_t tag, char out[5]);
