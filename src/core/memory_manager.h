// The engine's one allocator. Every engine allocation and free goes through it, from every thread.
//
// Blocks of 1 ... 128 bytes come from five fixed-size pools (8, 16, 32, 64, 128); larger ones from the
// system heap behind a 16-byte header {size, 0xDEADC0DE, 0xBAADB00B, 0}. With KV_MEM_PASSTHROUGH every
// block is its own malloc behind that header (so ASan and valgrind see each one) and behaves as it would
// in its pool. It works from the first static initialiser on: every entry point sets up what it needs.
// With "-memlog <file>" on the command line every allocation and free is written to a binary log.
#pragma once
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>

class MemoryManager {
public:
    // Null for size 0 and for sizes of 0xFFFFFFEF or more; clear zeroes the block. The source
    // location is accepted and not recorded.
    static void* Alloc(size_t size, const char* file, int line, bool clear);
    // Null does nothing; a block the manager did not make goes to the system heap's free.
    static void Free(void* block);
    // Grows, never shrinks. A block that moves gets zeroed new bytes; one that still fits (a pool block
    // has its whole size class) comes back unchanged, so bytes past what was first asked for hold whatever
    // was there: callers that need zeros clear them. A block the manager did not make gives null (and a
    // line on the debug console) and is left alone.
    static void* ReAlloc(void* block, size_t size, const char* file, int line);
    static void SetLength(void** block, size_t size, const char* file, int line);
    // True for heap blocks (and pointers inside one that carry the interior mark); false for null, pool
    // blocks and foreign pointers.
    static bool IsBlock(const void* p);
    // Allocation context names for the block log; main thread only (elsewhere they do nothing).
    static void PushContext(const char* name);
    static void PopContext();
    // An "EVNT" record of at most 511 characters when the block log is on.
    static void LogEvent(const char* format, ...) __attribute__((format(printf, 1, 2)));
    // "Total memory used = ..." (heap bytes in use) on the debug console.
    static void DumpTotal();
    static void Init();
    // Writes what the block log holds to its file (normal shutdown; process exit does it as well).
    static void FlushLog();
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

// The process's out-of-memory report: a message box (not with -headless), a line on standard output,
// exit status -1. Returns only when an exit hook returns.
void OutOfMemoryHandler(size_t size);

void* MemAlloc(size_t size);
void* MemReAlloc(void* block, size_t size);
void MemFree(void* block);

// Test-only seams, never used by engine code: the system heap the manager draws its pages and heap
// blocks from, and what the block log reads from the interpreter. A null member keeps the manager's own.
struct MemLogCodeSite {
    const char* codeName;
    int32_t line;
};
struct MemoryManagerTestHooks {
    void* (*systemMalloc)(size_t size);
    void (*systemFree)(void* block);
    // The name of the built-in being called, or null.
    const char* (*currentFunctionName)();
    // The running code and its callers, innermost first; at most max; returns the count.
    int32_t (*codeSites)(MemLogCodeSite* sites, int32_t max);
};
// Installs hooks (null: none) and returns the ones before.
MemoryManagerTestHooks MemoryManager_SetTestHooks(const MemoryManagerTestHooks* hooks);

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
