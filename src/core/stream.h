// Growable in-memory byte stream: typed little-endian reads and writes, an upper-case hex text form, file
// loading, zlib decompression and the byte substitution of stored sources. A stream owns its memory (a
// memory-manager block) or is a view borrowing another stream's memory.
#pragma once
#include <cstddef>
#include <cstdint>

class CStream {
public:
    // Size above 0: a zero-filled block of that size; else no memory.
    explicit CStream(int32_t initialSize = 0);
    ~CStream();
    CStream(const CStream&) = delete;
    CStream& operator=(const CStream&) = delete;

    // Streams are engine allocations.
    static void* operator new(size_t size);
    static void operator delete(void* p);

    // Frees the memory unless borrowed, and the stream.
    void Delete();

    uint8_t* GetMemory() const { return m_memory; }
    int32_t GetPosition() const { return static_cast<int32_t>(m_position); }
    int32_t GetSize() const { return static_cast<int32_t>(m_size); }
    bool IsBorrowed() const { return m_borrowed; }
    void SetPosition(int64_t n) { m_position = n; }
    // Bytes between the position and the end; 0 when the position lies outside the memory.
    int64_t Remaining() const;
    // Origin 0 start, 1 current, 2 end; any other origin changes nothing. The position is stored as given:
    // reads outside the memory return nothing and writes at a negative position write nothing.
    int64_t Seek(int64_t offset, int32_t origin);

    // Copies min(n, what remains) bytes and advances; 0 for a null destination or nothing left.
    int32_t ReadBuffer(void* dest, int64_t n);
    // Grows as needed; n, or 0 (nothing written) for n <= 0, a null source or a negative position.
    int32_t WriteBuffer(const void* source, int64_t n);

    // With fewer bytes left than their width: 0, and the position does not move.
    int32_t ReadInteger();
    int64_t ReadInt64();
    double ReadReal();
    void WriteInteger(int32_t v);
    void WriteInt64(int64_t v);
    void WriteReal(double v);

    // An int32 length, then that many bytes. Length 0, a negative one or fewer than 4 bytes left give null;
    // a length above what remains gives what remains. The text is a new memory-manager block (MemFree).
    void ReadString(char** text);
    // The int32 byte length (0 for a null text) and the bytes without a terminator.
    void WriteString(const char* text);

    // Two upper-case digits per byte of memory[0 .. position - 1] (within the memory), NUL-terminated, in a
    // new block stored through text (null when there is nothing); returns the byte count.
    int32_t ToHex(char** text);
    // Every well-formed pair of hex digits, in order, becomes one byte; position 0. An empty or null text
    // changes nothing; a trailing odd character is ignored.
    void FromHex(const char* text);

    // Unless borrowed: frees the memory, size 0.
    void Free();
    // view: borrows other's memory at its position for n bytes (at most what remains there).
    // n == 0: appends all of other here. Else appends min(n, what remains). other's position advances.
    int32_t CopyFrom(CStream* other, int64_t n, bool view);
    // The file from the save area, else the game area, from offset on; the position is kept. False when
    // neither area has it (the stream is then empty).
    bool LoadFile(const char* path, int32_t offset);

    // Replaces each byte of memory[start .. start + count - 1] (count <= 0: to the end) by the inverse
    // substitution of the seed. The range is kept within the memory.
    void Substitute(int32_t seed, int32_t start, int32_t count);

private:
    friend int32_t ZInflateStream(CStream* source, CStream* dest);
    friend CStream* ZDecompressStream(CStream* stream);
    // Room for n bytes at a non-negative position; a view first takes a private copy. False when it
    // cannot be had.
    bool Reserve(int64_t n);
    void ReleaseMemory();

    bool m_borrowed = false;
    int64_t m_size = 0;       // capacity: writes past it grow the memory
    int64_t m_position = 0;   // next byte read or written
    uint8_t* m_memory = nullptr;
};

// Inflates source's bytes from its position into dest at dest's position: 0, or a zlib error code
// (a preset dictionary and input that ends early give Z_DATA_ERROR, a short write -1).
int32_t ZInflateStream(CStream* source, CStream* dest);
// A u32 length n, then n bytes of zlib stream, inflated into a new stream at position 0; null on any error,
// including n above what remains.
CStream* ZDecompressStream(CStream* stream);

// Builds the process-wide forward and inverse tables of a seed (main thread only).
void Stream_BuildSubstitution(int32_t seed);
const uint8_t* Stream_SubstitutionForward();
const uint8_t* Stream_SubstitutionInverse();
