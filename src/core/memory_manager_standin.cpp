// Plain-heap stand-in for the memory manager, behind its final entry points. Each block carries the
// 16-byte header {size, 0xDEADC0DE, 0xBAADB00B, 0} so that growth can zero the new bytes.
#include "core/memory_manager.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

struct StandinHeader {
    uint32_t size, magic1, magic2, zero;
};
constexpr uint32_t kMagic1 = 0xDEADC0DE, kMagic2 = 0xBAADB00B;
MemoryProbe g_standinProbe = {};

StandinHeader* HeaderOf(const void* p)
{
    return reinterpret_cast<StandinHeader*>(static_cast<char*>(const_cast<void*>(p)) - sizeof(StandinHeader));
}

}  // namespace

void* MemoryManager::Alloc(size_t size, const char*, int, bool clear)
{
    if (size == 0 || size >= 0xFFFFFFEFu) return nullptr;
    auto* h = static_cast<StandinHeader*>(std::malloc(size + sizeof(StandinHeader)));
    if (!h) return nullptr;
    *h = {static_cast<uint32_t>(size), kMagic1, kMagic2, 0};
    ++g_standinProbe.liveBlocks;
    g_standinProbe.heapBytesInUse += size;
    if (clear) std::memset(h + 1, 0, size);
    return h + 1;
}

void MemoryManager::Free(void* block)
{
    if (!block) return;
    --g_standinProbe.liveBlocks;
    g_standinProbe.heapBytesInUse -= HeaderOf(block)->size;
    std::free(HeaderOf(block));
}

void* MemoryManager::ReAlloc(void* block, size_t size, const char* file, int line)
{
    if (!block) return size ? Alloc(size, file, line, true) : nullptr;
    uint32_t old = HeaderOf(block)->size;
    if (old >= size) return block;
    void* fresh = Alloc(size, file, line, true);
    if (!fresh) return nullptr;
    std::memcpy(fresh, block, old);
    Free(block);
    return fresh;
}

void MemoryManager::SetLength(void** block, size_t size, const char* file, int line)
{
    *block = ReAlloc(*block, size, file, line);
}

bool MemoryManager::IsBlock(const void* p)
{
    return p && HeaderOf(p)->magic1 == kMagic1 && HeaderOf(p)->magic2 == kMagic2;
}

void MemoryManager::PushContext(const char*) {}
void MemoryManager::PopContext() {}
void MemoryManager::LogEvent(const char*, ...) {}
void MemoryManager::DumpTotal() {}
void MemoryManager::Init() {}
void MemoryManager::Tick() {}
void MemoryManager::OnMainLoopStart() {}

MemoryProbe MemoryManager_Probe() { return g_standinProbe; }

void* MemAlloc(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, false); }
void* MemReAlloc(void* block, size_t size) { return MemoryManager::ReAlloc(block, size, __FILE__, __LINE__); }
void MemFree(void* block) { MemoryManager::Free(block); }
