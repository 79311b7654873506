// The engine's one allocator. Every engine allocation and free goes through it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>

class MemoryManager {
public:
    // size 0 gives null; clear zeroes the block.
    static void* Alloc(size_t size, const char* file, int line, bool clear);
    static void Free(void* block);
    // Grows, never shrinks; new bytes are zero.
    static void* ReAlloc(void* block, size_t size, const char* file, int line);
    static void SetLength(void** block, size_t size, const char* file, int line);
    static bool IsBlock(const void* p);
    static void PushContext(const char* name);
    static void PopContext();
    static void LogEvent(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void DumpTotal();
    static void Init();
    static void Tick();
    static void OnMainLoopStart();
};

// Read-only view for tests: live blocks (every kind), heap bytes in use, pages per pool (8 ... 128).
struct MemoryProbe {
    size_t liveBlocks;
    size_t heapBytesInUse;
    size_t poolPages[5];
};
MemoryProbe MemoryManager_Probe();

void* MemAlloc(size_t size);
void* MemReAlloc(void* block, size_t size);
void MemFree(void* block);

// Standard allocator over the memory manager, for the standard containers engine code keeps.
template <class T>
struct MemAllocator {
    using value_type = T;
    MemAllocator() noexcept = default;
    template <class U>
    MemAllocator(const MemAllocator<U>&) noexcept {}
    T* allocate(size_t n)
    {
        if (n > std::numeric_limits<size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
        void* p = MemoryManager::Alloc(n * sizeof(T), __FILE__, __LINE__, false);
        if (!p && n) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) noexcept { MemoryManager::Free(p); }
    template <class U>
    bool operator==(const MemAllocator<U>&) const noexcept { return true; }
};
