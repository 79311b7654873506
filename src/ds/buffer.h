// Binary buffers: a block of bytes with a read/write position, typed little-endian items and the kinds
// fixed, grow, wrap and vbuffer. Game saves, serialised values, file handles and packets use them too.
#pragma once
#include <cstddef>
#include <cstdint>

struct RValue;

enum BufferKind : int32_t {
    buffer_fixed = 0,
    buffer_grow = 1,
    buffer_wrap = 2,
    buffer_fast = 3,
    buffer_vbuffer = 4,  // behaves as buffer_fixed
};

enum BufferType : int32_t {
    buffer_u8 = 1,
    buffer_s8 = 2,
    buffer_u16 = 3,
    buffer_s16 = 4,
    buffer_u32 = 5,
    buffer_s32 = 6,
    buffer_f16 = 7,
    buffer_f32 = 8,
    buffer_f64 = 9,
    buffer_bool = 10,
    buffer_string = 11,
    buffer_u64 = 12,
    buffer_text = 13,
};

enum BufferSeekBase : int32_t {
    buffer_seek_start = 0,
    buffer_seek_relative = 1,
    buffer_seek_end = 2,
};

// Byte size of a type code; 0 for the two text types and for unknown codes.
int32_t BufferType_Size(int32_t type);

// The smallest power of two not below the request, from 1 to 1024.
int32_t Buffer_Alignment(int32_t requested);

class IBuffer {
public:
    // A zero-filled owned block of size bytes.
    IBuffer(int32_t size, int32_t kind, int32_t alignment);
    // Empty: size 0, buffer_grow, alignment 1, no storage; loading and base64 decoding grow it.
    IBuffer();
    // Over caller memory, used as it is; freed with the buffer only when owns is set (a memory-manager block).
    IBuffer(void* data, int32_t size, int32_t kind, int32_t alignment, bool owns);
    virtual ~IBuffer();
    IBuffer(const IBuffer&) = delete;
    IBuffer& operator=(const IBuffer&) = delete;

    // Engine allocations: the buffer record itself comes from the memory manager.
    static void* operator new(size_t size);
    static void operator delete(void* p);

    // 0 success, -1 unsupported type or no text, -2 no room.
    virtual int32_t Write(int32_t type, RValue* value);
    // 0, or -1 with out = -3 past the end, out = 0 for an unsupported type. out's old content is released.
    virtual int32_t Read(int32_t type, RValue* out);
    virtual int32_t Seek(int32_t base, int32_t offset);
    virtual void Peek(int32_t offset, int32_t type, RValue* out);
    virtual void Poke(int32_t offset, int32_t type, RValue* value);
    virtual bool Save(const char* name, int32_t offset, int32_t size);
    virtual bool Load(const char* name, int32_t sourceOffset, int32_t size, int32_t destOffset);
    virtual void Base64Encode(RValue* out, int32_t offset, int32_t size);
    virtual bool Base64Decode(const char* text, int32_t destOffset, int32_t size);
    virtual void MD5(RValue* out, int32_t offset, int32_t size);
    virtual void SHA1(RValue* out, int32_t offset, int32_t size);
    virtual void Resize(int32_t newSize);
    virtual void Copy(int32_t sourceOffset, int32_t size, IBuffer* dest, int32_t destOffset);
    virtual void Fill(int32_t offset, int32_t size, int32_t type, RValue* value);
    virtual void GetSurface(int32_t surface, int32_t mode, int32_t offset, int32_t rowGap);
    virtual void SetSurface(int32_t surface, int32_t offset, int32_t rowGap);

    // Raw copies at the position, without alignment; they return the byte count moved.
    int32_t WriteBytes(const void* source, int32_t elementSize, int32_t count);
    int32_t ReadBytes(void* dest, int32_t elementSize, int32_t count);
    // A buffer_string item; a null text is written as the one-byte text 0x04.
    int32_t WriteString(const char* text);
    // The next buffer_string item as a new memory-manager text (MemFree), or null when none can be read.
    char* ReadString();

    void ExtractRange(uint8_t** outBlock, int32_t* outSize, int32_t offset, int32_t size);
    int32_t InsertBytes(const uint8_t* block, int32_t length, int32_t sourceOffset, int32_t size, int32_t destOffset);

    uint8_t* GetData() const { return m_data; }
    int32_t GetSize() const { return m_size; }
    int32_t GetUsedSize() const { return m_usedSize; }
    int32_t GetPosition() const { return m_position; }
    int32_t GetKind() const { return m_kind; }
    int32_t GetAlignment() const { return m_alignment; }
    int32_t GetWrapOffset() const { return m_wrapOffset; }
    int32_t GetUseCount() const { return m_useCount; }
    void AddUse() { ++m_useCount; }
    void ReleaseUse() { --m_useCount; }

protected:
    // Rounds the position up to the alignment (wrap offset included) and, for buffer_wrap, folds it below
    // the size.
    void AlignPosition();
    // Writes len bytes at the (aligned) position by the kind's rules: 0, or -2 when they do not fit.
    int32_t PutBytes(const uint8_t* bytes, int32_t len);
    // The text item at the position: its start and length (up to the NUL or the used size).
    bool TakeText(const uint8_t** text, int32_t* length);

    uint8_t* m_storage = nullptr;  // the block that holds the bytes
    int32_t m_allocatedSize = 0;   // size + alignment for blocks the buffer allocated
    uint8_t* m_data = nullptr;     // m_storage rounded up to the alignment; offsets count from here
    int32_t m_size = 0;
    int32_t m_alignment = 1;
    int32_t m_kind = buffer_grow;
    int32_t m_position = 0;
    int32_t m_usedSize = 0;        // high-water mark, never above m_size
    int32_t m_wrapOffset = 0;      // buffer_wrap: laps wrapped so far, modulo the alignment
    int32_t m_useCount = 0;        // audio buffer sounds made from this buffer
    bool m_ownsStorage = false;
};

// The ordinary buffer: every kind but buffer_fast.
class Buffer_Standard : public IBuffer {
public:
    Buffer_Standard(int32_t size, int32_t kind, int32_t alignment) : IBuffer(size, kind, alignment) {}
    Buffer_Standard() : IBuffer() {}
    Buffer_Standard(void* data, int32_t size, int32_t kind, int32_t alignment, bool owns)
        : IBuffer(data, size, kind, alignment, owns) {}
    ~Buffer_Standard() override;
};
