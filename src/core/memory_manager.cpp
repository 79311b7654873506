#include "core/memory_manager.h"

#include "core/console.h"
#include "core/hash.h"
#include "core/interpreter.h"
#include "core/thread.h"
#include "platform/hooks.h"
#include "world/command_line.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/single_threaded.h>
#include <string>
#include <unistd.h>

#ifdef KV_MEM_PASSTHROUGH
#include <map>
#endif

namespace {

// ---- Shared layout ----

struct MmBlockHeader {
    uint32_t size;
    uint32_t magic1;
    uint32_t magic2;
    uint32_t zero;
};
static_assert(sizeof(MmBlockHeader) == 16);
constexpr uint32_t kMmMagic1 = 0xDEADC0DEu;
constexpr uint32_t kMmMagic2 = 0xBAADB00Bu;
// size + 16 must fit the header's 32-bit size word.
constexpr size_t kMmLargestRequest = 0xFFFFFFEFu;
// An interior pointer's preceding word: top bit set, offset from the block start below this.
constexpr uint32_t kMmInteriorMark = 0x80000000u;
constexpr uint32_t kMmInteriorLimit = 8192;

constexpr int kMmPoolCount = 5;
constexpr size_t kMmPoolBlockSize[kMmPoolCount] = {8, 16, 32, 64, 128};
constexpr size_t kMmLargestPoolBlock = 128;

void* (*g_mmMalloc)(size_t) = std::malloc;
void (*g_mmFree)(void*) = std::free;
const char* (*g_mmFunctionNameHook)() = nullptr;
int32_t (*g_mmCodeSitesHook)(MemLogCodeSite*, int32_t) = nullptr;

// Pool index of a request of 1 ... 128 bytes.
inline int MmPoolIndex(size_t size)
{
    if (size <= 8) return 0;
    return static_cast<int>(std::bit_width(size - 1)) - 3;
}

inline MmBlockHeader* MmHeaderOf(const void* p)
{
    return reinterpret_cast<MmBlockHeader*>(static_cast<char*>(const_cast<void*>(p)) - sizeof(MmBlockHeader));
}

// The header is written and read as two 8-byte words (little-endian host): a free soon after its
// alloc then reads straight from the pending stores, which a load spanning two stores cannot.
inline void MmHeaderWrite(MmBlockHeader* h, size_t size)
{
    const uint64_t sizeAndMagic = (uint64_t{kMmMagic1} << 32) | static_cast<uint32_t>(size);
    const uint64_t magicAndZero = kMmMagic2;
    std::memcpy(h, &sizeAndMagic, 8);
    std::memcpy(reinterpret_cast<char*>(h) + 8, &magicAndZero, 8);
}

inline bool MmHeaderValid(const MmBlockHeader* h)
{
    uint64_t sizeAndMagic, magicAndZero;
    std::memcpy(&sizeAndMagic, h, 8);
    std::memcpy(&magicAndZero, reinterpret_cast<const char*>(h) + 8, 8);
    return (sizeAndMagic >> 32) == kMmMagic1 && magicAndZero == kMmMagic2;
}

// ---- The lock and one-time start ----

void MmStart();

// Created on first use: allocations made by static initialisers come before any of ours could run.
// Never destroyed, so static destructors may still free.
CMutex* MmLockSlow()
{
    alignas(CMutex) static unsigned char storage[sizeof(CMutex)];
    static CMutex* lock = [] {
        CMutex* made = new (storage) CMutex("MemoryManagerMutex");
        MmStart();
        return made;
    }();
    return lock;
}

// The made lock, read on every operation without the static's guard.
std::atomic<CMutex*> g_mmLock{nullptr};

inline CMutex& MmLock()
{
    CMutex* lock = g_mmLock.load(std::memory_order_acquire);
    if (__builtin_expect(lock == nullptr, 0)) {
        lock = MmLockSlow();
        g_mmLock.store(lock, std::memory_order_release);
    }
    return *lock;
}

// The lock proper is this owner word, re-entrant for its holder: a thread's mark is the address of its
// own copy of t_mmMark, 0 when free; the nesting depth is the holder's alone. Taking a free lock is one
// compare-and-swap and letting it go one store. A thread that finds it held queues on the mutex, so
// only the head of the queue spins for the word and the rest sleep.
std::atomic<uintptr_t> g_mmOwner{0};
uint32_t g_mmDepth = 0;
thread_local char t_mmMark;

inline uintptr_t MmSelf() { return reinterpret_cast<uintptr_t>(&t_mmMark); }

__attribute__((noinline)) void MmAcquireContended(CMutex& lock, uintptr_t self)
{
    // The word may be taken by another thread's fast path meanwhile: it is never given to a sleeper,
    // so no release can be missed.
    lock.Lock();
    for (unsigned spins = 0;; ++spins) {
        uintptr_t expected = 0;
        if (g_mmOwner.load(std::memory_order_relaxed) == 0 &&
            g_mmOwner.compare_exchange_weak(expected, self, std::memory_order_acquire, std::memory_order_relaxed))
            break;
        if (spins < 64)
            __builtin_ia32_pause();
        else
            sched_yield();
    }
    lock.Unlock();
}

inline void MmLockTake()
{
    CMutex& lock = MmLock();
    const uintptr_t self = MmSelf();
    if (g_mmOwner.load(std::memory_order_relaxed) == self) {
        ++g_mmDepth;
        return;
    }
    uintptr_t expected = 0;
    if (!g_mmOwner.compare_exchange_strong(expected, self, std::memory_order_acquire, std::memory_order_relaxed))
        MmAcquireContended(lock, self);
    g_mmDepth = 1;
}

inline void MmLockGive()
{
    if (--g_mmDepth) return;
    g_mmOwner.store(0, std::memory_order_release);
}

// While the process has one thread there is nobody to exclude, so no lock is taken at all. The C
// library clears the mark before it starts a second thread, and no operation here starts one, so the
// mark cannot change inside an operation; what one thread wrote unlocked is visible to every thread
// it starts.
struct MmHold {
    bool taken;
    MmHold() : taken(!__libc_single_threaded)
    {
        MmLock();
        if (taken) MmLockTake();
    }
    ~MmHold()
    {
        if (taken) MmLockGive();
    }
    MmHold(const MmHold&) = delete;
    MmHold& operator=(const MmHold&) = delete;
};

// Set once the start has run with the block log off. Then, while the process has one thread, the
// common operations need neither the lock nor a log record and take the short paths inline.
std::atomic<bool> g_mmStartedUnlogged{false};

inline bool MmUnlocked()
{
    return __libc_single_threaded && g_mmStartedUnlogged.load(std::memory_order_relaxed);
}

// ---- Totals (heap blocks only) ----

size_t g_mmHeapBytes = 0;
size_t g_mmHeapBlocks = 0;

// ---- Allocation contexts (main thread only) ----

constexpr int kMmContextSlots = 32;  // slot 0 stays empty
const char* g_mmContexts[kMmContextSlots] = {};
int g_mmContextDepth = 0;

// ---- Block log ----

constexpr size_t kMmLogCapacity = 0x100000;
constexpr size_t kMmRecordCapacity = 16384;
constexpr size_t kMmPathLimit = 2047;
constexpr int32_t kMmEventLimit = 511;
// ALLC payload: address field, size field, context id, depth, then 8 bytes per code site.
constexpr int32_t kMmMaxCodeSites = static_cast<int32_t>((kMmRecordCapacity - 24) / 8);

struct MmBlockLog {
    char* path;
    uint8_t* buffer;
    size_t used;
    size_t capacity;
    bool direct;  // after the exit-time flush: every record goes straight to the file
};
MmBlockLog* g_mmLog = nullptr;
uint8_t* g_mmRecord = nullptr;
size_t g_mmRecordUsed = 0;
bool g_mmRecordCut = false;
bool g_mmLogBusy = false;
MemLogCodeSite g_mmSites[kMmMaxCodeSites + 1];
VMCodePosition g_mmPositions[kMmMaxCodeSites + 1];

void MmLogFlush()
{
    MmBlockLog* log = g_mmLog;
    if (!log || log->used == 0) return;
    // Opened per flush so nothing stays open; a file that cannot be written loses these bytes only.
    if (FILE* file = std::fopen(log->path, "ab")) {
        std::fwrite(log->buffer, 1, log->used, file);
        std::fclose(file);
    }
    log->used = 0;
}

void MmLogAppend(const void* bytes, size_t n)
{
    MmBlockLog* log = g_mmLog;
    if (log->used + n >= log->capacity) MmLogFlush();
    std::memcpy(log->buffer + log->used, bytes, n);
    log->used += n;
}

void MmLogWrite(const char tag[4], const void* payload, uint32_t length)
{
    uint8_t head[8];
    std::memcpy(head, tag, 4);
    std::memcpy(head + 4, &length, 4);  // little-endian host
    MmLogAppend(head, sizeof head);
    MmLogAppend(payload, length);
    if (g_mmLog->direct) MmLogFlush();
}

void MmRecordPut(const void* bytes, size_t n)
{
    if (g_mmRecordUsed + n > kMmRecordCapacity) {
        if (!g_mmRecordCut) DebugConsole->Output("block too big (> 16384 bytes)\n");
        g_mmRecordCut = true;
        return;
    }
    std::memcpy(g_mmRecord + g_mmRecordUsed, bytes, n);
    g_mmRecordUsed += n;
}

void MmRecordPutU32(uint32_t value) { MmRecordPut(&value, 4); }

void MmRecordPutAddress(const void* p)
{
    auto address = reinterpret_cast<uintptr_t>(p);
    MmRecordPutU32(static_cast<uint32_t>(static_cast<uint64_t>(address) >> 32));
    MmRecordPutU32(static_cast<uint32_t>(address));
}

// Starts a record in the scratch; false when the log is off or a record is already being built.
bool MmRecordBegin()
{
    if (!g_mmLog || g_mmLogBusy) return false;
    if (!g_mmRecord) {
        g_mmRecord = static_cast<uint8_t*>(std::malloc(kMmRecordCapacity));
        if (!g_mmRecord) return false;
    }
    g_mmLogBusy = true;
    g_mmRecordUsed = 0;
    g_mmRecordCut = false;
    return true;
}

void MmRecordEnd(const char tag[4])
{
    MmLogWrite(tag, g_mmRecord, static_cast<uint32_t>(g_mmRecordUsed));
    g_mmLogBusy = false;
}

// Names to ids in order of first use. Robin Hood open addressing; a lookup compares the name too, so
// two names with one hash keep their own ids.
struct MmNameSlot {
    char* name;
    int32_t id;
    uint32_t hash;  // 0: empty
};
struct MmNameIdMap {
    MmNameSlot* slots;
    uint32_t capacity;
    uint32_t count;
    int32_t nextId;
};
MmNameIdMap g_mmNames = {};

uint32_t MmNameThreshold(uint32_t capacity) { return static_cast<uint32_t>(static_cast<float>(capacity) * 0.8f); }

void MmNamePlace(MmNameSlot* slots, uint32_t capacity, MmNameSlot entry)
{
    const uint32_t mask = capacity - 1;
    uint32_t index = entry.hash & mask, distance = 0;
    for (;;) {
        MmNameSlot& slot = slots[index];
        if (slot.hash == 0) {
            slot = entry;
            return;
        }
        uint32_t slotDistance = (index - (slot.hash & mask)) & mask;
        if (slotDistance < distance) {
            std::swap(slot, entry);
            distance = slotDistance;
        }
        index = (index + 1) & mask;
        ++distance;
    }
}

bool MmNamesReserve()
{
    if (!g_mmNames.slots) {
        g_mmNames.slots = static_cast<MmNameSlot*>(std::calloc(8, sizeof(MmNameSlot)));
        if (!g_mmNames.slots) return false;
        g_mmNames.capacity = 8;
    }
    if (g_mmNames.count < MmNameThreshold(g_mmNames.capacity)) return true;
    uint32_t capacity = g_mmNames.capacity * 2;
    auto* slots = static_cast<MmNameSlot*>(std::calloc(capacity, sizeof(MmNameSlot)));
    if (!slots) return false;
    for (uint32_t i = 0; i < g_mmNames.capacity; ++i)
        if (g_mmNames.slots[i].hash) MmNamePlace(slots, capacity, g_mmNames.slots[i]);
    std::free(g_mmNames.slots);
    g_mmNames.slots = slots;
    g_mmNames.capacity = capacity;
    return true;
}

// The id of a name; a new name gets the next id and its "NAME" record first.
int32_t MmAddNameId(const char* name)
{
    uint32_t hash = MurmurHash3_CString(name) & 0x7FFFFFFFu;
    if (hash == 0) hash = 1;  // 0 marks an empty slot
    if (g_mmNames.slots) {
        const uint32_t mask = g_mmNames.capacity - 1;
        uint32_t index = hash & mask, distance = 0;
        for (;;) {
            const MmNameSlot& slot = g_mmNames.slots[index];
            if (slot.hash == 0) break;
            if (((index - (slot.hash & mask)) & mask) < distance) break;
            if (slot.hash == hash && std::strcmp(slot.name, name) == 0) return slot.id;
            index = (index + 1) & mask;
            ++distance;
        }
    }
    size_t length = std::strlen(name);
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (!copy || !MmNamesReserve()) {
        std::free(copy);
        return -1;
    }
    std::memcpy(copy, name, length + 1);
    int32_t id = g_mmNames.nextId++;
    MmLogWrite("NAME", name, static_cast<uint32_t>(std::min(length, kMmRecordCapacity)));
    MmNamePlace(g_mmNames.slots, g_mmNames.capacity, {copy, id, hash});
    ++g_mmNames.count;
    return id;
}

const char* MmCurrentFunctionName()
{
    if (g_mmFunctionNameHook) return g_mmFunctionNameHook();
    return Function_Current ? Function_Name(Function_Current) : nullptr;
}

int32_t MmCodeSites(MemLogCodeSite* sites, int32_t max)
{
    if (g_mmCodeSitesHook) return std::clamp(g_mmCodeSitesHook(sites, max), 0, max);
    if (!VM_CurrentFrame) return 0;
    int32_t count = std::clamp(VM_FrameCodePositions(VM_CurrentFrame, g_mmPositions, max), 0, max);
    for (int32_t i = 0; i < count; ++i) sites[i] = {g_mmPositions[i].codeName, DebugInfo_LineAt(g_mmPositions[i])};
    return count;
}

// "ALLC": address, size, context name id, then the script call stack. Lock held.
__attribute__((noinline)) void MmLogBlockSlow(const void* block, size_t size)
{
    if (!MmRecordBegin()) return;
    MmRecordPutAddress(block);
    MmRecordPutU32(static_cast<uint32_t>(size));
    MmRecordPutU32(0);

    int32_t context = -1;
    int32_t depth = 0;
    if (Thread_IsMainThread()) {
        const char* name = MmCurrentFunctionName();
        if (!name && g_mmContextDepth > 0) name = g_mmContexts[std::min(g_mmContextDepth, kMmContextSlots - 1)];
        if (name) context = MmAddNameId(name);
        depth = MmCodeSites(g_mmSites, kMmMaxCodeSites + 1);
    }
    MmRecordPutU32(static_cast<uint32_t>(context));
    if (depth > kMmMaxCodeSites) {
        // The record would pass the scratch: keep the innermost sites and a depth that matches them,
        // so a reader never runs into the next record.
        DebugConsole->Output("block too big (> 16384 bytes)\n");
        depth = kMmMaxCodeSites;
    }
    MmRecordPutU32(static_cast<uint32_t>(depth));
    for (int32_t i = 0; i < depth; ++i) {
        const char* name = g_mmSites[i].codeName;
        MmRecordPutU32(static_cast<uint32_t>(name ? MmAddNameId(name) : -1));
        MmRecordPutU32(static_cast<uint32_t>(g_mmSites[i].line));
    }
    MmRecordEnd("ALLC");
}

__attribute__((noinline)) void MmLogFreeSlow(const void* block)
{
    if (!MmRecordBegin()) return;
    MmRecordPutAddress(block);
    MmRecordEnd("FREE");
}

inline void MmLogBlock(const void* block, size_t size)
{
    if (__builtin_expect(g_mmLog != nullptr, 0)) MmLogBlockSlow(block, size);
}

inline void MmLogFree(const void* block)
{
    if (__builtin_expect(g_mmLog != nullptr, 0)) MmLogFreeSlow(block);
}

void MmFlushAtExit()
{
    MmHold hold;
    MmLogFlush();
    // Static destructors that run after this still free blocks; their records go out one by one.
    if (g_mmLog) g_mmLog->direct = true;
}

// "-memlog <file>": the argument after it, up to the next blank. The arguments are joined by blanks
// as one command line, so "-memlog" as the last argument is not recognised.
void MmOpenLogFromCommandLine()
{
    if (g_mmLog) return;
    int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    std::string line;
    char chunk[4096];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) break;
        line.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    if (!line.empty() && line.back() == '\0') line.pop_back();
    std::replace(line.begin(), line.end(), '\0', ' ');

    size_t at = line.find("-memlog ");
    if (at == std::string::npos) return;
    size_t start = at + 8;
    size_t end = line.find(' ', start);
    std::string path = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // A longer path is refused rather than cut: a cut one would name some other file.
    if (path.empty() || path.size() > kMmPathLimit) return;

    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return;
    std::fclose(file);

    auto* log = static_cast<MmBlockLog*>(std::malloc(sizeof(MmBlockLog)));
    char* pathCopy = static_cast<char*>(std::malloc(path.size() + 1));
    auto* buffer = static_cast<uint8_t*>(std::malloc(kMmLogCapacity));
    if (!log || !pathCopy || !buffer) {
        std::free(log);
        std::free(pathCopy);
        std::free(buffer);
        return;
    }
    std::memcpy(pathCopy, path.c_str(), path.size() + 1);
    *log = {pathCopy, buffer, 0, kMmLogCapacity, false};
    g_mmLog = log;
    std::atexit(MmFlushAtExit);
}

void MmStart()
{
    MmOpenLogFromCommandLine();
    // The log is opened here or never, so this holds for good.
    g_mmStartedUnlogged.store(g_mmLog == nullptr, std::memory_order_relaxed);
}

// ---- Block kinds ----

#ifndef KV_MEM_PASSTHROUGH

// A page: link word, then the area; blocks start at the first multiple of the block size past the
// link word, and one block of slack keeps the last one inside the page.
struct MmPool {
    uint8_t* pages;  // newest first; a page's first word links to the one made before it
    void* freeList;
    size_t inUse;
    size_t pageCount;
};
constexpr size_t kMmPageLink = 8;
constexpr size_t kMmPoolArea[kMmPoolCount] = {128 * 1024, 256 * 1024, 256 * 1024, 512 * 1024, 512 * 1024};
MmPool g_mmPools[kMmPoolCount] = {};
// Every page area lies in [low, high): a pointer outside is no pool block, without a lookup.
uintptr_t g_mmPagesLow = UINTPTR_MAX;
uintptr_t g_mmPagesHigh = 0;

// Page areas by 128 KiB granule of address, so that a free finds its page in constant time however
// many pages are live. Every area is at least one granule long, so a granule meets at most two areas
// (the tail of one, the head of the next). Open addressing, at most half full; pages are never given
// back, so entries are never removed. From the plain heap: it is the manager's own bookkeeping.
constexpr unsigned kMmGranuleShift = 17;
struct MmPageSlot {
    uintptr_t start;  // area start; 0: unused
    int pool;
};
struct MmGranule {
    uintptr_t key;  // granule number + 1; 0: empty
    MmPageSlot slots[2];
};
struct MmPageMap {
    MmGranule* table;
    size_t capacity;  // a power of two
    size_t count;
};
MmPageMap g_mmPageMap = {};

inline size_t MmGranuleHome(uintptr_t key, size_t capacity)
{
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & (capacity - 1);
}

inline const MmGranule* MmGranuleFind(uintptr_t key)
{
    const MmPageMap& map = g_mmPageMap;
    if (!map.table) return nullptr;
    for (size_t i = MmGranuleHome(key, map.capacity);; i = (i + 1) & (map.capacity - 1)) {
        const MmGranule& g = map.table[i];
        if (g.key == key) return &g;
        if (g.key == 0) return nullptr;
    }
}

MmGranule& MmGranuleSlotFor(MmGranule* table, size_t capacity, uintptr_t key)
{
    size_t i = MmGranuleHome(key, capacity);
    while (table[i].key != 0 && table[i].key != key) i = (i + 1) & (capacity - 1);
    return table[i];
}

// Room for `more` new granules, so that adding a page cannot fail half way. False with the bytes
// asked for when the heap refused.
bool MmPageMapReserve(size_t more, size_t* failed)
{
    MmPageMap& map = g_mmPageMap;
    size_t capacity = map.capacity ? map.capacity : 64;
    while ((map.count + more) * 2 > capacity) capacity *= 2;
    if (capacity == map.capacity) return true;
    auto* table = static_cast<MmGranule*>(std::calloc(capacity, sizeof(MmGranule)));
    if (!table) {
        *failed = capacity * sizeof(MmGranule);
        return false;
    }
    for (size_t i = 0; i < map.capacity; ++i)
        if (map.table[i].key) MmGranuleSlotFor(table, capacity, map.table[i].key) = map.table[i];
    std::free(map.table);
    map.table = table;
    map.capacity = capacity;
    return true;
}

void MmPageMapAdd(uintptr_t start, size_t area, int pool)
{
    for (uintptr_t g = start >> kMmGranuleShift; g <= (start + area - 1) >> kMmGranuleShift; ++g) {
        MmGranule& entry = MmGranuleSlotFor(g_mmPageMap.table, g_mmPageMap.capacity, g + 1);
        if (entry.key == 0) {
            entry.key = g + 1;
            ++g_mmPageMap.count;
        }
        // Areas are disjoint and at least a granule long: one of the two slots is free.
        MmPageSlot& slot = entry.slots[0].start ? entry.slots[1] : entry.slots[0];
        slot = {start, pool};
    }
}

// Lock held. False (with the bytes asked for) when the system heap refused.
bool MmAddPage(int index, size_t* failed)
{
    const size_t blockSize = kMmPoolBlockSize[index], area = kMmPoolArea[index];
    const size_t bytes = kMmPageLink + area + blockSize;
    // An area spans at most area / granule + 1 granules.
    if (!MmPageMapReserve((area >> kMmGranuleShift) + 1, failed)) return false;
    auto* page = static_cast<uint8_t*>(g_mmMalloc(bytes));
    if (!page) {
        *failed = bytes;
        return false;
    }
    MmPool& pool = g_mmPools[index];
    std::memset(page + kMmPageLink, 0x78, bytes - kMmPageLink);
    std::memcpy(page, &pool.pages, sizeof pool.pages);
    uintptr_t first = (reinterpret_cast<uintptr_t>(page) + kMmPageLink + blockSize - 1) & ~(blockSize - 1);
    const size_t count = area / blockSize - 1;
    // In address order, so the page hands out its highest block first.
    for (size_t i = 0; i < count; ++i) {
        void* block = reinterpret_cast<void*>(first + i * blockSize);
        std::memcpy(block, &pool.freeList, sizeof pool.freeList);
        pool.freeList = block;
    }
    pool.pages = page;
    const uintptr_t start = reinterpret_cast<uintptr_t>(page) + kMmPageLink;
    MmPageMapAdd(start, area, index);
    g_mmPagesLow = std::min(g_mmPagesLow, start);
    g_mmPagesHigh = std::max(g_mmPagesHigh, start + area);
    ++pool.pageCount;
    return true;
}

// Lock held.
void* MmPoolAlloc(int index, size_t* failed)
{
    MmPool& pool = g_mmPools[index];
    if (!pool.freeList && !MmAddPage(index, failed)) return nullptr;
    void* block = pool.freeList;
    std::memcpy(&pool.freeList, block, sizeof pool.freeList);
    ++pool.inUse;
    return block;
}

// Lock held (or one thread). The pool whose page area holds the pointer, or -1. Areas are disjoint,
// so at most one page holds it and the order in which pages are asked does not matter.
inline int MmPoolOf(const void* p)
{
    auto address = reinterpret_cast<uintptr_t>(p);
    if (address < g_mmPagesLow || address >= g_mmPagesHigh) return -1;
    const MmGranule* g = MmGranuleFind((address >> kMmGranuleShift) + 1);
    if (!g) return -1;
    for (const MmPageSlot& slot : g->slots)
        if (slot.start && address - slot.start < kMmPoolArea[slot.pool]) return slot.pool;
    return -1;
}

inline void MmPoolFree(int index, void* block)
{
    MmPool& pool = g_mmPools[index];
    std::memcpy(block, &pool.freeList, sizeof pool.freeList);
    pool.freeList = block;
    --pool.inUse;
}

// A pointer inside a heap block: its preceding word is the mark plus its offset from the block.
bool MmIsInterior(const void* p)
{
    uint32_t word;
    std::memcpy(&word, static_cast<const char*>(p) - 4, 4);
    if (!(word & kMmInteriorMark)) return false;
    uint32_t offset = word & ~kMmInteriorMark;
    if (offset >= kMmInteriorLimit) return false;
    return MmHeaderValid(MmHeaderOf(static_cast<const char*>(p) - offset));
}

enum class MmKind { Pool, Heap, Interior, Foreign };

// Lock held. Sets the pool index or the current size where there is one.
MmKind MmClassify(const void* p, int* pool, size_t* size)
{
    int index = MmPoolOf(p);
    if (index >= 0) {
        *pool = index;
        *size = kMmPoolBlockSize[index];
        return MmKind::Pool;
    }
    const MmBlockHeader* h = MmHeaderOf(p);
    if (MmHeaderValid(h)) {
        *size = h->size;
        return MmKind::Heap;
    }
    return MmIsInterior(p) ? MmKind::Interior : MmKind::Foreign;
}

__attribute__((noinline)) void MmCountHeapBlockLocked(void* block, size_t size)
{
    MmHold hold;
    g_mmHeapBytes += size;
    ++g_mmHeapBlocks;
    MmLogBlock(block, size);
}

// A heap block of more than 128 bytes; null when the system heap refused. The system heap is called
// without the lock; the lock is taken only for the totals and the log, and only when needed.
inline void* MmHeapAllocate(size_t size, bool clear)
{
    auto* h = static_cast<MmBlockHeader*>(g_mmMalloc(size + sizeof(MmBlockHeader)));
    if (!h) return nullptr;
    MmHeaderWrite(h, size);
    void* block = h + 1;
    if (clear) std::memset(block, 0, size);
    if (MmUnlocked()) {
        g_mmHeapBytes += size;
        ++g_mmHeapBlocks;
    } else {
        MmCountHeapBlockLocked(block, size);
    }
    return block;
}

// Takes the lock itself (callers may already hold it). Null with *failed set when the system heap
// refused; the caller reports that once it holds the lock no longer.
void* MmAllocate(size_t size, bool clear, size_t* failed)
{
    if (size <= kMmLargestPoolBlock) {
        MmHold hold;
        void* block = MmPoolAlloc(MmPoolIndex(size), failed);
        if (!block) return nullptr;
        if (clear) std::memset(block, 0, size);
        MmLogBlock(block, size);
        return block;
    }
    void* block = MmHeapAllocate(size, clear);
    if (!block) *failed = size;
    return block;
}

// Lock held. Returns what the system heap must free once the lock is released (or null).
void* MmRelease(void* block)
{
    MmLogFree(block);
    int pool = 0;
    size_t size = 0;
    switch (MmClassify(block, &pool, &size)) {
    case MmKind::Pool: MmPoolFree(pool, block); return nullptr;
    case MmKind::Heap:
        g_mmHeapBytes -= size;
        --g_mmHeapBlocks;
        return MmHeaderOf(block);
    case MmKind::Interior: return nullptr;
    case MmKind::Foreign: break;
    }
    return block;
}

// ---- Unlocked paths (one thread, log off) ----

// A block from a pool's free list, or null when the full path must serve the request.
inline void* MmPoolAllocUnlocked(size_t size)
{
    if (!MmUnlocked()) return nullptr;
    MmPool& pool = g_mmPools[MmPoolIndex(size)];
    void* block = pool.freeList;
    if (!block) return nullptr;
    std::memcpy(&pool.freeList, block, sizeof pool.freeList);
    ++pool.inUse;
    return block;
}

// True when the block went back to its pool or to the system heap; false leaves it to the full path
// (interior and foreign pointers, or the lock is needed). Classifies as MmClassify does, once.
inline bool MmFreeUnlocked(void* block)
{
    if (!MmUnlocked()) return false;
    // The page areas come first: the bytes in front of a pool block are another block's and may
    // look like a header. Outside the page range this is two compares.
    const int pool = MmPoolOf(block);
    if (pool >= 0) {
        MmPoolFree(pool, block);
        return true;
    }
    MmBlockHeader* h = MmHeaderOf(block);
    if (!MmHeaderValid(h)) return false;
    g_mmHeapBytes -= h->size;
    --g_mmHeapBlocks;
    g_mmFree(h);
    return true;
}

MemoryProbe MmProbe()
{
    MemoryProbe probe = {};
    probe.liveBlocks = g_mmHeapBlocks;
    for (int i = 0; i < kMmPoolCount; ++i) {
        probe.liveBlocks += g_mmPools[i].inUse;
        probe.poolPages[i] = g_mmPools[i].pageCount;
    }
    probe.heapBytesInUse = g_mmHeapBytes;
    return probe;
}

#else  // KV_MEM_PASSTHROUGH

// Every block is its own malloc behind the header; pool-sized ones get their pool's block size so they
// grow and report as they would in the pool. The set of live blocks decides what a pointer is, so no
// byte in front of a foreign pointer is ever read.
template <class T>
struct MmSystemAllocator {
    using value_type = T;
    MmSystemAllocator() noexcept = default;
    template <class U>
    MmSystemAllocator(const MmSystemAllocator<U>&) noexcept {}
    T* allocate(size_t n)
    {
        void* p = std::malloc(n * sizeof(T));
        if (!p) {
            OutOfMemoryHandler(n * sizeof(T));
            throw std::bad_alloc();
        }
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) noexcept { std::free(p); }
    template <class U>
    bool operator==(const MmSystemAllocator<U>&) const noexcept { return true; }
};

constexpr int kMmHeapKind = kMmPoolCount;  // pool indices 0 ... 4, then heap
using MmBlockSet = std::map<uintptr_t, int, std::less<uintptr_t>, MmSystemAllocator<std::pair<const uintptr_t, int>>>;

MmBlockSet& MmBlocks()
{
    alignas(MmBlockSet) static unsigned char storage[sizeof(MmBlockSet)];
    static MmBlockSet* blocks = new (storage) MmBlockSet();
    return *blocks;
}

enum class MmKind { Pool, Heap, Interior, Foreign };

// Lock held.
MmKind MmClassify(const void* p, int* pool, size_t* size)
{
    auto address = reinterpret_cast<uintptr_t>(p);
    MmBlockSet& blocks = MmBlocks();
    auto it = blocks.upper_bound(address);
    if (it == blocks.begin()) return MmKind::Foreign;
    --it;
    const MmBlockHeader* h = MmHeaderOf(reinterpret_cast<void*>(it->first));
    if (it->first == address) {
        *pool = it->second;
        if (it->second == kMmHeapKind) {
            *size = h->size;
            return MmKind::Heap;
        }
        *size = kMmPoolBlockSize[it->second];
        return MmKind::Pool;
    }
    // Inside a live heap block, within its bytes, so the word before it can be read.
    uintptr_t offset = address - it->first;
    if (it->second != kMmHeapKind || offset > h->size || offset >= kMmInteriorLimit) return MmKind::Foreign;
    uint32_t word;
    std::memcpy(&word, reinterpret_cast<const char*>(address) - 4, 4);
    return word == (kMmInteriorMark | offset) ? MmKind::Interior : MmKind::Foreign;
}

void* MmAllocate(size_t size, bool clear, size_t* failed)
{
    const bool pooled = size <= kMmLargestPoolBlock;
    const int kind = pooled ? MmPoolIndex(size) : kMmHeapKind;
    const size_t bytes = pooled ? kMmPoolBlockSize[kind] : size;
    auto* h = static_cast<MmBlockHeader*>(g_mmMalloc(bytes + sizeof(MmBlockHeader)));
    if (!h) {
        *failed = size;
        return nullptr;
    }
    MmHeaderWrite(h, size);
    void* block = h + 1;
    if (clear) std::memset(block, 0, size);
    MmHold hold;
    MmBlocks().emplace(reinterpret_cast<uintptr_t>(block), kind);
    if (!pooled) {
        g_mmHeapBytes += size;
        ++g_mmHeapBlocks;
    }
    MmLogBlock(block, size);
    return block;
}

void* MmRelease(void* block)
{
    MmLogFree(block);
    int kind = 0;
    size_t size = 0;
    switch (MmClassify(block, &kind, &size)) {
    case MmKind::Pool:
    case MmKind::Heap:
        MmBlocks().erase(reinterpret_cast<uintptr_t>(block));
        if (kind == kMmHeapKind) {
            g_mmHeapBytes -= size;
            --g_mmHeapBlocks;
        }
        return MmHeaderOf(block);
    case MmKind::Interior: return nullptr;
    case MmKind::Foreign: break;
    }
    return block;
}

// Every block here is in the set, so every free takes the lock.
inline bool MmFreeUnlocked(void*) { return false; }

MemoryProbe MmProbe()
{
    MemoryProbe probe = {};
    probe.liveBlocks = MmBlocks().size();
    probe.heapBytesInUse = g_mmHeapBytes;
    return probe;
}

#endif  // KV_MEM_PASSTHROUGH

void MmNewHandler()
{
    // operator new cannot say how much it wanted.
    OutOfMemoryHandler(0);
    // An exit hook returned: the next failure throws instead of calling here again.
    std::set_new_handler(nullptr);
}

void OutOfMemory_Install()
{
    std::set_new_handler(MmNewHandler);
    MemoryManager::Init();
}

struct MmStaticStart {
    MmStaticStart() { OutOfMemory_Install(); }
} g_mmStaticStart;

// ---- Entry paths: the common cases inline, the rest out of line ----

__attribute__((noinline)) void* MmAllocateOrReport(size_t size, bool clear)
{
    size_t failed = 0;
    void* block = MmAllocate(size, clear, &failed);
    if (!block && failed) OutOfMemoryHandler(failed);
    return block;
}

#ifndef KV_MEM_PASSTHROUGH
__attribute__((noinline)) void* MmHeapRefused(size_t size)
{
    OutOfMemoryHandler(size);
    return nullptr;
}
#endif

__attribute__((always_inline)) inline void* MmAllocInline(size_t size, bool clear)
{
    // Size 0 wraps round to the largest value, so one compare refuses both.
    if (size - 1 >= kMmLargestRequest - 1) return nullptr;
#ifndef KV_MEM_PASSTHROUGH
    if (size > kMmLargestPoolBlock) {
        void* block = MmHeapAllocate(size, clear);
        return block ? block : MmHeapRefused(size);
    }
    void* block = MmPoolAllocUnlocked(size);
    if (!block) return MmAllocateOrReport(size, clear);
    if (clear) std::memset(block, 0, size);
    return block;
#else
    return MmAllocateOrReport(size, clear);
#endif
}

__attribute__((noinline)) void MmFreeLocked(void* block)
{
    void* released;
    {
        MmHold hold;
        released = MmRelease(block);
    }
    // Heap blocks and foreign pointers alike end in the system heap.
    if (released) g_mmFree(released);
}

__attribute__((always_inline)) inline void MmFreeInline(void* block)
{
    if (!block || MmFreeUnlocked(block)) return;
    MmFreeLocked(block);
}

}  // namespace

void* MemoryManager::Alloc(size_t size, const char*, int, bool clear) { return MmAllocInline(size, clear); }

void MemoryManager::Free(void* block) { MmFreeInline(block); }

void* MemoryManager::ReAlloc(void* block, size_t size, const char* file, int line)
{
    if (!block) return size ? Alloc(size, file, line, true) : nullptr;
    void* result = nullptr;
    void* released = nullptr;
    size_t failed = 0;
    bool foreign = false;
    {
        MmHold hold;
        int pool = 0;
        size_t current = 0;
        switch (MmClassify(block, &pool, &current)) {
        case MmKind::Foreign: foreign = true; break;
        // Its size word is unknown to us: the block is never moved.
        case MmKind::Interior: result = block; break;
        case MmKind::Pool:
        case MmKind::Heap:
            if (current >= size) {
                result = block;
            } else if (size < kMmLargestRequest) {
                result = MmAllocate(size, false, &failed);
                if (result) {
                    // Only the new bytes need clearing: the rest is the old block's.
                    std::memcpy(result, block, current);
                    std::memset(static_cast<char*>(result) + current, 0, size - current);
                    released = MmRelease(block);
                }
            }
            break;
        }
    }
    if (released) g_mmFree(released);
    if (foreign) DebugConsole->Output("Why are we reallocing a block that we didn't alloc?!\n");
    if (failed) OutOfMemoryHandler(failed);
    return result;
}

void MemoryManager::SetLength(void** block, size_t size, const char* file, int line)
{
    *block = ReAlloc(*block, size, file, line);
}

bool MemoryManager::IsBlock(const void* p)
{
    if (!p) return false;
    MmHold hold;
    int pool = 0;
    size_t size = 0;
    MmKind kind = MmClassify(p, &pool, &size);
    return kind == MmKind::Heap || kind == MmKind::Interior;
}

void MemoryManager::PushContext(const char* name)
{
    if (!Thread_IsMainThread()) return;
    ++g_mmContextDepth;
    if (g_mmContextDepth > 0 && g_mmContextDepth < kMmContextSlots) g_mmContexts[g_mmContextDepth] = name;
}

void MemoryManager::PopContext()
{
    if (!Thread_IsMainThread()) return;
    // An unbalanced pop must not let a later push write slot 0.
    if (g_mmContextDepth > 0) --g_mmContextDepth;
}

void MemoryManager::LogEvent(const char* format, ...)
{
    if (!format) return;
    MmHold hold;
    if (!g_mmLog) return;
    char text[kMmEventLimit + 1];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0) return;
    if (!MmRecordBegin()) return;
    MmRecordPut(text, static_cast<size_t>(std::min(length, kMmEventLimit)));
    MmRecordEnd("EVNT");
}

void MemoryManager::DumpTotal()
{
    size_t total;
    {
        MmHold hold;
        total = g_mmHeapBytes;
    }
    DebugConsole->Output("Total memory used = %lld(0x%08llx) bytes\n", static_cast<long long>(total),
                         static_cast<unsigned long long>(total));
}

void MemoryManager::Init() { MmLock(); }

void MemoryManager::FlushLog()
{
    MmHold hold;
    MmLogFlush();
}

void MemoryManager::Tick() {}
void MemoryManager::OnMainLoopStart() {}

MemoryProbe MemoryManager_Probe()
{
    MmHold hold;
    return MmProbe();
}

MemoryManagerTestHooks MemoryManager_SetTestHooks(const MemoryManagerTestHooks* hooks)
{
    MmHold hold;
    MemoryManagerTestHooks before = {g_mmMalloc == std::malloc ? nullptr : g_mmMalloc,
                                     g_mmFree == std::free ? nullptr : g_mmFree, g_mmFunctionNameHook,
                                     g_mmCodeSitesHook};
    MemoryManagerTestHooks none = {};
    if (!hooks) hooks = &none;
    g_mmMalloc = hooks->systemMalloc ? hooks->systemMalloc : std::malloc;
    g_mmFree = hooks->systemFree ? hooks->systemFree : std::free;
    g_mmFunctionNameHook = hooks->currentFunctionName;
    g_mmCodeSitesHook = hooks->codeSites;
    return before;
}

void OutOfMemoryHandler(size_t size)
{
    if (!g_RunFlags.headless) {
        MessageBoxRequest request{"Fatal Memory Error", "Out of Memory!", MB_BUTTONS_OK, MB_ANSWER_OK};
        Platform_MessageBox(request);
    }
    std::printf("Out of Memory allocating %lld bytes\n", static_cast<long long>(size));
    std::fflush(stdout);
    Platform_Exit(-1);
}

void* MemAlloc(size_t size) { return MmAllocInline(size, false); }
void* MemReAlloc(void* block, size_t size) { return MemoryManager::ReAlloc(block, size, __FILE__, __LINE__); }
void MemFree(void* block) { MmFreeInline(block); }
