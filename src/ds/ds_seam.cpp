// Neutral answers of the buffer operations and the ds built-ins that are not built yet.
#include "ds/ds.h"

#include "core/seam_trace.h"
#include "core/value.h"

void DS_SetGridAccessMode(bool) { SeamTrace_Record("DS_SetGridAccessMode"); }
void InitDSFunctions() {}
void InitBufferFunctions() {}

int32_t Buffer_New(int32_t, int32_t, int32_t) { return -1; }

// Tests give real buffers to the built-ins that read binary buffers; the caller keeps them.
namespace {
constexpr int32_t kSeamBuffers = 64;
IBuffer* g_seamBuffers[kSeamBuffers] = {};
int32_t g_seamBufferCount = 0;
}  // namespace

int32_t Buffer_SeamAdd(IBuffer* buffer)
{
    if (!buffer || g_seamBufferCount == kSeamBuffers) return -1;
    g_seamBuffers[g_seamBufferCount] = buffer;
    return g_seamBufferCount++;
}

void Buffer_SeamClear()
{
    for (IBuffer*& b : g_seamBuffers) b = nullptr;
    g_seamBufferCount = 0;
}

IBuffer* Buffer_Get(int32_t index) { return index >= 0 && index < g_seamBufferCount ? g_seamBuffers[index] : nullptr; }
void Buffer_Destroy(int32_t) {}

Buffer_Fast::Buffer_Fast(int32_t size, int32_t, int32_t alignment) : IBuffer(size, buffer_fast, alignment) {}
Buffer_Fast::~Buffer_Fast() = default;
int32_t Buffer_Fast::Write(int32_t, RValue*) { return -4; }
int32_t Buffer_Fast::Read(int32_t, RValue* out)
{
    RValue_Free(out);
    RValue_SetReal(out, 0.0);
    return -4;
}
void Buffer_Fast::Peek(int32_t, int32_t, RValue* out)
{
    RValue_Free(out);
    RValue_SetReal(out, 0.0);
}
void Buffer_Fast::Poke(int32_t, int32_t, RValue*) {}

void IBuffer::Peek(int32_t, int32_t, RValue* out)
{
    RValue_Free(out);
    RValue_SetReal(out, 0.0);
}
void IBuffer::Poke(int32_t, int32_t, RValue*) {}
bool IBuffer::Save(const char*, int32_t, int32_t) { return false; }
bool IBuffer::Load(const char*, int32_t, int32_t, int32_t) { return false; }
void IBuffer::Base64Encode(RValue*, int32_t, int32_t) {}
bool IBuffer::Base64Decode(const char*, int32_t, int32_t) { return false; }
void IBuffer::MD5(RValue*, int32_t, int32_t) {}
void IBuffer::SHA1(RValue*, int32_t, int32_t) {}
void IBuffer::Copy(int32_t, int32_t, IBuffer*, int32_t) {}
void IBuffer::Fill(int32_t, int32_t, int32_t, RValue*) {}
void IBuffer::GetSurface(int32_t, int32_t, int32_t, int32_t) {}
void IBuffer::SetSurface(int32_t, int32_t, int32_t) {}

void IBuffer::ExtractRange(uint8_t** outBlock, int32_t* outSize, int32_t, int32_t)
{
    if (outBlock) *outBlock = nullptr;
    if (outSize) *outSize = 0;
}
int32_t IBuffer::InsertBytes(const uint8_t*, int32_t, int32_t, int32_t, int32_t) { return -1; }

int32_t Buffer_CopyBytesIn(IBuffer*, const uint8_t*, int32_t, int32_t, int32_t, int32_t, bool, bool, bool) { return -1; }
int32_t Buffer_CopyMemory(uint8_t*, int32_t, const uint8_t*, int32_t, int32_t, int32_t, int32_t, bool, bool) { return -1; }
