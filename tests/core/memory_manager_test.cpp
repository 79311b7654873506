#include "core/memory_manager.h"

#include "platform/hooks.h"
#include "world/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

#ifdef KV_MEM_PASSTHROUGH
constexpr bool kMmtPassThrough = true;
#else
constexpr bool kMmtPassThrough = false;
#endif

struct MmtHeader {
    uint32_t size, magic1, magic2, zero;
};

MmtHeader MmtHeaderOf(const void* block)
{
    MmtHeader h;
    std::memcpy(&h, static_cast<const char*>(block) - 16, sizeof h);
    return h;
}

// Restores the manager's own system heap and interpreter view when a test ends.
struct MmtHooks {
    explicit MmtHooks(const MemoryManagerTestHooks& hooks) { MemoryManager_SetTestHooks(&hooks); }
    ~MmtHooks() { MemoryManager_SetTestHooks(nullptr); }
};

}  // namespace

// Which block a request gets, seen the same way in both modes: how far it grows in place, whether it
// counts as a heap block, and what it adds to the heap total.
TEST(MemoryManager, RequestSizesPickPoolOrHeap)
{
    struct Row {
        size_t request;
        size_t capacity;  // growth up to this returns the same block
        bool heap;
    };
    std::vector<Row> rows;
    for (size_t n = 1; n <= 129; ++n) {
        size_t capacity = n <= 8 ? 8 : n <= 16 ? 16 : n <= 32 ? 32 : n <= 64 ? 64 : n <= 128 ? 128 : n;
        rows.push_back({n, capacity, n > 128});
    }
    rows.push_back({4096, 4096, true});

    for (const Row& row : rows) {
        SCOPED_TRACE(row.request);
        MemoryProbe before = MemoryManager_Probe();
        void* block = MemAlloc(row.request);
        ASSERT_NE(block, nullptr);
        MemoryProbe during = MemoryManager_Probe();
        EXPECT_EQ(during.liveBlocks, before.liveBlocks + 1);
        EXPECT_EQ(during.heapBytesInUse, before.heapBytesInUse + (row.heap ? row.request : 0));
        EXPECT_EQ(MemoryManager::IsBlock(block), row.heap);
        EXPECT_EQ(MemReAlloc(block, row.capacity), block);
        void* grown = MemReAlloc(block, row.capacity + 1);
        ASSERT_NE(grown, nullptr);
        EXPECT_NE(grown, block);
        MemFree(grown);
        MemoryProbe after = MemoryManager_Probe();
        EXPECT_EQ(after.liveBlocks, before.liveBlocks);
        EXPECT_EQ(after.heapBytesInUse, before.heapBytesInUse);
    }
}

TEST(MemoryManager, HeapBlockCarriesItsHeader)
{
    void* block = MemAlloc(129);
    ASSERT_NE(block, nullptr);
    MmtHeader h = MmtHeaderOf(block);
    EXPECT_EQ(h.size, 129u);
    EXPECT_EQ(h.magic1, 0xDEADC0DEu);
    EXPECT_EQ(h.magic2, 0xBAADB00Bu);
    EXPECT_EQ(h.zero, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
    MemFree(block);
}

TEST(MemoryManager, SizeZeroAndOversizedRequestsGiveNull)
{
    MemoryProbe before = MemoryManager_Probe();
    EXPECT_EQ(MemAlloc(0), nullptr);
    EXPECT_EQ(MemoryManager::Alloc(0xFFFFFFEFu, __FILE__, __LINE__, true), nullptr);
    EXPECT_EQ(MemoryManager::Alloc(SIZE_MAX, __FILE__, __LINE__, false), nullptr);
    void* block = MemAlloc(300);
    EXPECT_EQ(MemReAlloc(block, 0xFFFFFFEFu), nullptr);
    EXPECT_EQ(MmtHeaderOf(block).size, 300u);  // untouched
    MemFree(block);
    MemoryProbe after = MemoryManager_Probe();
    EXPECT_EQ(after.liveBlocks, before.liveBlocks);
}

// A fresh page of each pool: exactly its table count of blocks, highest address first, each aligned to
// the block size and inside the page's area, before the pool makes another page.
TEST(MemoryManager, FreshPageLayout)
{
    if (kMmtPassThrough) GTEST_SKIP() << "pool layout: pass-through mode has no pages";
    struct Row {
        int pool;
        size_t blockSize, area, count;
    };
    const Row rows[] = {{0, 8, 128 * 1024, 16383},
                        {1, 16, 256 * 1024, 16383},
                        {2, 32, 256 * 1024, 8191},
                        {3, 64, 512 * 1024, 8191},
                        {4, 128, 512 * 1024, 4095}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.blockSize);
        std::vector<void*> older, page;
        // Use up what the pool has until it makes a page: that block is the new page's first.
        size_t pages = MemoryManager_Probe().poolPages[row.pool];
        for (;;) {
            void* block = MemAlloc(row.blockSize);
            ASSERT_NE(block, nullptr);
            if (MemoryManager_Probe().poolPages[row.pool] != pages) {
                page.push_back(block);
                break;
            }
            older.push_back(block);
        }
        pages = MemoryManager_Probe().poolPages[row.pool];
        while (page.size() < row.count) page.push_back(MemAlloc(row.blockSize / 2 + 1));
        EXPECT_EQ(MemoryManager_Probe().poolPages[row.pool], pages);

        bool aligned = true, descending = true;
        for (size_t i = 0; i < page.size(); ++i) {
            aligned = aligned && reinterpret_cast<uintptr_t>(page[i]) % row.blockSize == 0;
            if (i) descending = descending && static_cast<char*>(page[i]) + row.blockSize == page[i - 1];
        }
        EXPECT_TRUE(aligned);
        EXPECT_TRUE(descending);
        EXPECT_LT(static_cast<char*>(page.front()) - static_cast<char*>(page.back()),
                  static_cast<ptrdiff_t>(row.area));
        for (void* block : older) EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % row.blockSize, 0u);

        void* next = MemAlloc(row.blockSize);
        EXPECT_EQ(MemoryManager_Probe().poolPages[row.pool], pages + 1);
        MemFree(next);
        for (void* block : page) MemFree(block);
        for (void* block : older) MemFree(block);
    }
}

namespace {

// Pages placed by the test: three pool pages at chosen offsets of one arena, so that two areas share a
// 128 KiB stretch of addresses and a stretch between pages holds none. The arena is never given back:
// the pools keep their pages for good.
constexpr size_t kMmtArenaBytes = size_t{4} << 20;
uint8_t* g_mmtArena = nullptr;
struct MmtPlacedPage {
    size_t bytes, offset;
    bool used;
};
MmtPlacedPage g_mmtPlaced[] = {
    {8 + 128 * 1024 + 8, 64 * 1024 - 16, false},      // 8-byte pool: area [64 KiB - 8, 192 KiB - 8)
    {8 + 512 * 1024 + 128, 192 * 1024, false},        // 128-byte pool: area [192 KiB + 8, 704 KiB + 8)
    {8 + 256 * 1024 + 16, size_t{2} << 20, false},    // 16-byte pool: area [2 MiB + 8, 2.25 MiB + 8)
};

void* MmtPlacingMalloc(size_t size)
{
    for (MmtPlacedPage& placed : g_mmtPlaced)
        if (placed.bytes == size && !placed.used) {
            placed.used = true;
            return g_mmtArena + placed.offset;
        }
    return std::malloc(size);
}

// Allocates from the pool until its free list is empty, so that the next request makes a page.
void MmtDrainPool(int pool, size_t request, size_t perPage, std::vector<void*>& held)
{
    size_t pages = MemoryManager_Probe().poolPages[pool];
    while (MemoryManager_Probe().poolPages[pool] == pages) held.push_back(MemAlloc(request));
    for (size_t i = 1; i < perPage; ++i) held.push_back(MemAlloc(request));
}

}  // namespace

// Which pointers count as pool blocks depends only on the page areas, at both ends of each and where two
// pages meet in one stretch of addresses, whatever the order the pages were made in. ReAlloc tells the
// kinds apart: a pool pointer grows in place to its block size, a foreign one gives null and a line.
TEST(MemoryManager, PageAreasDecideWhatIsAPoolBlock)
{
    if (kMmtPassThrough) GTEST_SKIP() << "pool layout: pass-through mode has no pages";
    g_mmtArena = static_cast<uint8_t*>(std::aligned_alloc(128 * 1024, kMmtArenaBytes));
    ASSERT_NE(g_mmtArena, nullptr);
    std::memset(g_mmtArena, 0, kMmtArenaBytes);
    const MemoryProbe base = MemoryManager_Probe();

    std::vector<void*> older;
    MmtDrainPool(0, 8, 16383, older);
    MmtDrainPool(4, 128, 4095, older);
    MmtDrainPool(1, 16, 16383, older);
    void *x, *y, *z;
    {
        MmtHooks hooks({MmtPlacingMalloc, nullptr, nullptr, nullptr});
        x = MemAlloc(8);
        y = MemAlloc(128);
        z = MemAlloc(16);
    }
    for (const MmtPlacedPage& placed : g_mmtPlaced) ASSERT_TRUE(placed.used);
    // Each page hands out its highest block first.
    EXPECT_EQ(x, g_mmtArena + 192 * 1024 - 24);
    EXPECT_EQ(y, g_mmtArena + 704 * 1024 - 128);
    EXPECT_EQ(z, g_mmtArena + (size_t{2} << 20) + 256 * 1024 - 16);

    struct Row {
        size_t offset;
        size_t pool;  // its block size, 0: foreign
    };
    const Row rows[] = {
        {64 * 1024 - 9, 0},                 // the first page's link word
        {64 * 1024 - 8, 8},                 // its area's first byte
        {128 * 1024 - 1, 8},                // across a stretch boundary inside one area
        {128 * 1024, 8},
        {192 * 1024 - 9, 8},                // its area's last byte
        {192 * 1024 - 8, 0},                // its slack, in the stretch shared with the next page
        {192 * 1024 + 7, 0},                // the next page's link word
        {192 * 1024 + 8, 128},              // the next area, in the shared stretch
        {704 * 1024 + 7, 128},
        {704 * 1024 + 8, 0},                // past it
        {size_t{1} << 20, 0},               // between pages, in no area
        {(size_t{2} << 20) + 8, 16},
        {(size_t{2} << 20) + 8 + 256 * 1024, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.offset);
        void* p = g_mmtArena + row.offset;
        EXPECT_FALSE(MemoryManager::IsBlock(p));
        testing::internal::CaptureStdout();
        void* same = MemReAlloc(p, 1);
        std::string out = testing::internal::GetCapturedStdout();
        if (row.pool) {
            EXPECT_EQ(same, p);
            EXPECT_EQ(out, "");
            EXPECT_EQ(MemReAlloc(p, row.pool), p);
        } else {
            EXPECT_EQ(same, nullptr);
            EXPECT_EQ(out, "Why are we reallocing a block that we didn't alloc?!\n");
        }
    }

    // Blocks go back to their own pools: from the placed pages, and from pages older than them.
    MemFree(x);
    MemFree(y);
    MemFree(z);
    EXPECT_EQ(MemAlloc(16), z);
    EXPECT_EQ(MemAlloc(128), y);
    EXPECT_EQ(MemAlloc(8), x);
    MemFree(older.front());
    EXPECT_EQ(MemAlloc(8), older.front());
    older.push_back(x);
    older.push_back(y);
    older.push_back(z);
    for (void* block : older) MemFree(block);
    const MemoryProbe after = MemoryManager_Probe();
    EXPECT_EQ(after.liveBlocks, base.liveBlocks);
    EXPECT_EQ(after.heapBytesInUse, base.heapBytesInUse);
}

TEST(MemoryManager, FreedPoolBlockIsHandedOutNext)
{
    if (kMmtPassThrough) GTEST_SKIP() << "pool layout: pass-through mode has no free lists";
    void* a = MemAlloc(24);
    MemFree(a);
    void* b = MemAlloc(30);
    EXPECT_EQ(a, b);
    MemFree(b);
}

TEST(MemoryManager, ReAllocTable)
{
    // 10 bytes live in a 16-byte block: growing within it keeps the block.
    {
        auto* block = static_cast<uint8_t*>(MemAlloc(10));
        for (int i = 0; i < 16; ++i) block[i] = static_cast<uint8_t>(0xA0 + i);
        EXPECT_EQ(MemReAlloc(block, 16), block);
        auto* grown = static_cast<uint8_t*>(MemReAlloc(block, 17));
        ASSERT_NE(grown, nullptr);
        EXPECT_NE(grown, block);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(grown[i], 0xA0 + i) << i;
        EXPECT_EQ(grown[16], 0);
        MemFree(grown);
    }
    // Never shrinks: a smaller size, or 0, returns the same block.
    {
        void* block = MemAlloc(200);
        EXPECT_EQ(MemReAlloc(block, 100), block);
        EXPECT_EQ(MemReAlloc(block, 0), block);
        EXPECT_EQ(MmtHeaderOf(block).size, 200u);
        MemFree(block);
    }
    // A heap block grows into a new zero-filled one holding the old bytes.
    {
        auto* block = static_cast<uint8_t*>(MemAlloc(200));
        std::memset(block, 0x5A, 200);
        auto* grown = static_cast<uint8_t*>(MemReAlloc(block, 1000));
        ASSERT_NE(grown, nullptr);
        EXPECT_EQ(MmtHeaderOf(grown).size, 1000u);
        EXPECT_TRUE(std::all_of(grown, grown + 200, [](uint8_t b) { return b == 0x5A; }));
        EXPECT_TRUE(std::all_of(grown + 200, grown + 1000, [](uint8_t b) { return b == 0; }));
        MemFree(grown);
    }
    // Null: 0 gives null; a size gives a zero-filled block.
    {
        EXPECT_EQ(MemReAlloc(nullptr, 0), nullptr);
        for (size_t size : {5u, 100u, 500u}) {
            auto* block = static_cast<uint8_t*>(MemReAlloc(nullptr, size));
            ASSERT_NE(block, nullptr);
            EXPECT_TRUE(std::all_of(block, block + size, [](uint8_t b) { return b == 0; })) << size;
            MemFree(block);
        }
    }
    // A block the manager did not make: null, a console line, the block left alone.
    {
        auto* foreign = static_cast<char*>(std::malloc(64));
        std::strcpy(foreign, "foreign bytes");
        testing::internal::CaptureStdout();
        EXPECT_EQ(MemReAlloc(foreign, 300), nullptr);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, "Why are we reallocing a block that we didn't alloc?!\n");
        EXPECT_STREQ(foreign, "foreign bytes");
        std::free(foreign);
    }
}

TEST(MemoryManager, SetLengthStoresTheGrownBlock)
{
    void* block = nullptr;
    MemoryManager::SetLength(&block, 40, __FILE__, __LINE__);
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "grow me", 8);
    void* before = block;
    MemoryManager::SetLength(&block, 5000, __FILE__, __LINE__);
    EXPECT_NE(block, before);
    EXPECT_STREQ(static_cast<char*>(block), "grow me");
    EXPECT_EQ(static_cast<char*>(block)[4999], 0);
    MemFree(block);
}

TEST(MemoryManager, IsBlockAndInteriorPointers)
{
    void* pool = MemAlloc(100);
    auto* heap = static_cast<uint8_t*>(MemAlloc(256));
    void* foreign = std::malloc(256);
    EXPECT_FALSE(MemoryManager::IsBlock(nullptr));
    EXPECT_FALSE(MemoryManager::IsBlock(pool));
    EXPECT_TRUE(MemoryManager::IsBlock(heap));
    EXPECT_FALSE(MemoryManager::IsBlock(foreign));

    // A pointer 64 bytes into the heap block whose preceding word carries the interior mark.
    std::memset(heap, 0, 256);
    const uint32_t mark = 0x80000000u | 64;
    std::memcpy(heap + 60, &mark, 4);
    void* inside = heap + 64;
    EXPECT_TRUE(MemoryManager::IsBlock(inside));
    MemoryProbe before = MemoryManager_Probe();
    MemFree(inside);  // left alone
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, before.liveBlocks);
    EXPECT_EQ(MemReAlloc(inside, 4000), inside);
    // Without the mark it is nothing of ours.
    std::memset(heap + 60, 0, 4);
    EXPECT_FALSE(MemoryManager::IsBlock(inside));

    MemFree(pool);
    MemFree(heap);
    std::free(foreign);
}

namespace {
std::vector<void*> g_mmtFreed;
void MmtRecordingFree(void* block)
{
    g_mmtFreed.push_back(block);
    std::free(block);
}
}  // namespace

TEST(MemoryManager, ForeignFreeReachesTheSystemHeap)
{
    void* foreign = std::malloc(48);
    g_mmtFreed.clear();
    {
        MmtHooks hooks({nullptr, MmtRecordingFree, nullptr, nullptr});
        MemoryProbe before = MemoryManager_Probe();
        MemFree(foreign);
        EXPECT_EQ(MemoryManager_Probe().liveBlocks, before.liveBlocks);
    }
    ASSERT_EQ(g_mmtFreed.size(), 1u);
    EXPECT_EQ(g_mmtFreed[0], foreign);
}

namespace {

// Two 8-byte pool pages placed at the ends of an arena, so that whatever lies between them is inside
// the span of page addresses without being in any page; one heap block is placed between them too.
constexpr size_t kMmtSpanBytes = size_t{4} << 20;
constexpr size_t kMmtSpanPage = 8 + 128 * 1024 + 8;
constexpr size_t kMmtSpanPageOffsets[] = {0, size_t{3} << 20};
constexpr size_t kMmtSpanHeapRequest = 300;
constexpr size_t kMmtSpanHeapOffset = size_t{1} << 20;
constexpr size_t kMmtSpanForeignOffset = size_t{2} << 20;
uint8_t* g_mmtSpan = nullptr;
size_t g_mmtSpanPagesPlaced = 0;
std::vector<void*> g_mmtSpanFreed;

bool MmtInSpan(const void* p)
{
    auto* b = static_cast<const uint8_t*>(p);
    return b >= g_mmtSpan && b < g_mmtSpan + kMmtSpanBytes;
}

void* MmtSpanMalloc(size_t size)
{
    if (size == kMmtSpanPage && g_mmtSpanPagesPlaced < std::size(kMmtSpanPageOffsets))
        return g_mmtSpan + kMmtSpanPageOffsets[g_mmtSpanPagesPlaced++];
    // The same spot each time: the block made there before has been freed by then.
    if (size == kMmtSpanHeapRequest + 16) return g_mmtSpan + kMmtSpanHeapOffset;
    return std::malloc(size);
}

void MmtSpanFree(void* block)
{
    g_mmtSpanFreed.push_back(block);
    if (!MmtInSpan(block)) std::free(block);
}

// Blocks of one pool until one of them has the 16 bytes in front of it covered by others held, so
// that those bytes can be written.
void* MmtPoolBlockBehindHeldBlocks(size_t blockSize, std::vector<void*>& held)
{
    for (int tries = 0; tries < 1000; ++tries) {
        held.push_back(MemAlloc(blockSize));
        for (void* candidate : held) {
            auto* p = static_cast<uint8_t*>(candidate);
            bool covered = true;
            for (size_t back = blockSize; back < 16 + blockSize && covered; back += blockSize)
                covered = std::find(held.begin(), held.end(), p - back) != held.end();
            if (covered) return candidate;
        }
    }
    return nullptr;
}

}  // namespace

// What a free does with each kind of pointer, where the span of page addresses settles the kind and
// where it does not. With one thread a free decides without the lock, with more it takes it: both
// ways must agree, so every case runs on the main thread and again on a second one.
TEST(MemoryManager, FreeTellsPointerKindsApart)
{
    if (kMmtPassThrough) GTEST_SKIP() << "pool layout: pass-through mode has no pages";
    g_mmtSpan = static_cast<uint8_t*>(std::aligned_alloc(128 * 1024, kMmtSpanBytes));
    ASSERT_NE(g_mmtSpan, nullptr);
    std::memset(g_mmtSpan, 0, kMmtSpanBytes);
    g_mmtSpanPagesPlaced = 0;
    const MemoryProbe base = MemoryManager_Probe();
    std::vector<void*> older;
    for (size_t i = 0; i < std::size(kMmtSpanPageOffsets); ++i) {
        MmtDrainPool(0, 8, 16383, older);
        MmtHooks hooks({MmtSpanMalloc, nullptr, nullptr, nullptr});
        older.push_back(MemAlloc(8));
    }
    ASSERT_EQ(g_mmtSpanPagesPlaced, std::size(kMmtSpanPageOffsets));
    MmtHooks hooks({MmtSpanMalloc, MmtSpanFree, nullptr, nullptr});

    auto run = [] {
        // A pool block whose preceding bytes are a perfect heap header is still a pool block: it goes
        // back to its pool, which hands it out next.
        for (size_t blockSize : {8, 16, 32, 64, 128}) {
            SCOPED_TRACE(blockSize);
            std::vector<void*> held;
            auto* p = static_cast<uint8_t*>(MmtPoolBlockBehindHeldBlocks(blockSize, held));
            ASSERT_NE(p, nullptr);
            const MmtHeader fake = {129, 0xDEADC0DEu, 0xBAADB00Bu, 0};
            std::memcpy(p - 16, &fake, sizeof fake);
            EXPECT_FALSE(MemoryManager::IsBlock(p));
            const MemoryProbe before = MemoryManager_Probe();
            g_mmtSpanFreed.clear();
            MemFree(p);
            const MemoryProbe after = MemoryManager_Probe();
            EXPECT_TRUE(g_mmtSpanFreed.empty());
            EXPECT_EQ(after.liveBlocks, before.liveBlocks - 1);
            EXPECT_EQ(after.heapBytesInUse, before.heapBytesInUse);
            EXPECT_EQ(MemAlloc(blockSize), p);
            for (void* block : held) MemFree(block);
        }

        auto* heap = static_cast<uint8_t*>(MemAlloc(kMmtSpanHeapRequest));
        ASSERT_EQ(heap, g_mmtSpan + kMmtSpanHeapOffset + 16);
        const uint32_t mark = 0x80000000u | 64;
        std::memcpy(heap + 60, &mark, 4);
        void* systemBlock = std::malloc(48);
        struct Case {
            const char* what;
            void* pointer;
            bool isBlock;
            void* systemFreed;  // what the system heap gets back, or null
            size_t liveFreed, heapFreed;
        };
        const Case cases[] = {
            {"interior pointer between pages", heap + 64, true, nullptr, 0, 0},
            {"heap block between pages", heap, true, g_mmtSpan + kMmtSpanHeapOffset, 1, kMmtSpanHeapRequest},
            {"foreign pointer between pages", g_mmtSpan + kMmtSpanForeignOffset + 16, false,
             g_mmtSpan + kMmtSpanForeignOffset + 16, 0, 0},
            {"block of the system heap", systemBlock, false, systemBlock, 0, 0},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            EXPECT_EQ(MemoryManager::IsBlock(c.pointer), c.isBlock);
            const MemoryProbe before = MemoryManager_Probe();
            g_mmtSpanFreed.clear();
            MemFree(c.pointer);
            const MemoryProbe after = MemoryManager_Probe();
            const std::vector<void*> freed =
                c.systemFreed ? std::vector<void*>{c.systemFreed} : std::vector<void*>{};
            EXPECT_EQ(g_mmtSpanFreed, freed);
            EXPECT_EQ(after.liveBlocks, before.liveBlocks - c.liveFreed);
            EXPECT_EQ(after.heapBytesInUse, before.heapBytesInUse - c.heapFreed);
        }
    };
    {
        SCOPED_TRACE("main thread");
        run();
    }
    {
        SCOPED_TRACE("second thread");
        std::thread(run).join();
    }

    for (void* block : older) MemFree(block);
    const MemoryProbe after = MemoryManager_Probe();
    EXPECT_EQ(after.liveBlocks, base.liveBlocks);
    EXPECT_EQ(after.heapBytesInUse, base.heapBytesInUse);
}

TEST(MemoryManager, TotalsMoveByHeapSizesOnly)
{
    MemoryProbe base = MemoryManager_Probe();
    void* small = MemAlloc(128);
    EXPECT_EQ(MemoryManager_Probe().heapBytesInUse, base.heapBytesInUse);
    void* large = MemAlloc(1000);
    void* larger = MemAlloc(70000);
    EXPECT_EQ(MemoryManager_Probe().heapBytesInUse, base.heapBytesInUse + 71000);
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, base.liveBlocks + 3);
    large = MemReAlloc(large, 3000);
    EXPECT_EQ(MemoryManager_Probe().heapBytesInUse, base.heapBytesInUse + 73000);

    testing::internal::CaptureStdout();
    MemoryManager::DumpTotal();
    std::string line = testing::internal::GetCapturedStdout();
    char expected[96];
    std::snprintf(expected, sizeof expected, "Total memory used = %zu(0x%08zx) bytes\n",
                  base.heapBytesInUse + 73000, base.heapBytesInUse + 73000);
    EXPECT_EQ(line, expected);

    MemFree(small);
    MemFree(large);
    MemFree(larger);
    MemoryProbe after = MemoryManager_Probe();
    EXPECT_EQ(after.heapBytesInUse, base.heapBytesInUse);
    EXPECT_EQ(after.liveBlocks, base.liveBlocks);
}

// Eight threads, each 10^5 allocations and frees of mixed sizes, some of its blocks freed by the next
// thread; the totals end where they began.
TEST(MemoryManager, EightThreadsEndAtTheBaseline)
{
    constexpr int kThreads = 8, kPairs = 100000, kRing = 32;
    MemoryProbe base = MemoryManager_Probe();
    std::vector<std::vector<void*>> leftovers(kThreads);
    std::vector<std::thread> threads;
    std::atomic<int> bad{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            static constexpr size_t kSizes[] = {1, 8, 9, 16, 24, 33, 64, 100, 128, 129, 300, 4096};
            void* ring[kRing] = {};
            uint32_t seed = 12345u + static_cast<uint32_t>(t);
            for (int i = 0; i < kPairs; ++i) {
                seed = seed * 1664525u + 1013904223u;
                size_t size = kSizes[(seed >> 8) % std::size(kSizes)];
                auto* block = static_cast<uint8_t*>(MemAlloc(size));
                block[0] = static_cast<uint8_t>(t);
                block[size - 1] = static_cast<uint8_t>(t);
                void*& slot = ring[(seed >> 20) % kRing];
                if (slot) {
                    if (static_cast<uint8_t*>(slot)[0] != t) bad.fetch_add(1);
                    MemFree(slot);
                }
                slot = block;
            }
            for (void* block : ring)
                if (block) leftovers[t].push_back(block);
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(bad.load(), 0);
    // Each thread's last blocks are freed by other threads, at once.
    threads.clear();
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (void* block : leftovers[(t + 1) % kThreads]) MemFree(block);
        });
    for (auto& thread : threads) thread.join();
    MemoryProbe after = MemoryManager_Probe();
    EXPECT_EQ(after.liveBlocks, base.liveBlocks);
    EXPECT_EQ(after.heapBytesInUse, base.heapBytesInUse);
}

// Growth holds the lock across its inner allocation and free: threads growing blocks at once must each
// get back their own bytes, and the totals end where they began.
TEST(MemoryManager, ThreadsGrowingBlocksKeepTheirBytes)
{
    constexpr int kThreads = 4, kRounds = 2000;
    MemoryProbe base = MemoryManager_Probe();
    std::vector<std::thread> threads;
    std::atomic<int> bad{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            static constexpr size_t kSteps[] = {4, 12, 40, 100, 128, 200, 1000};
            const auto fill = static_cast<uint8_t>(0x40 + t);
            for (int round = 0; round < kRounds; ++round) {
                uint8_t* block = nullptr;
                size_t size = 0;
                for (size_t step : kSteps) {
                    block = static_cast<uint8_t*>(MemReAlloc(block, step));
                    if (!block || std::any_of(block, block + size, [&](uint8_t b) { return b != fill; }))
                        bad.fetch_add(1);
                    if (!block) return;
                    std::memset(block + size, fill, step - size);
                    size = step;
                }
                MemFree(block);
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(bad.load(), 0);
    MemoryProbe after = MemoryManager_Probe();
    EXPECT_EQ(after.liveBlocks, base.liveBlocks);
    EXPECT_EQ(after.heapBytesInUse, base.heapBytesInUse);
}

TEST(MemoryManager, MemAllocatorServesStandardContainers)
{
    MemoryProbe base = MemoryManager_Probe();
    {
        std::vector<int, MemAllocator<int>> numbers;
        for (int i = 0; i < 1000; ++i) numbers.push_back(i);
        std::map<int, int, std::less<int>, MemAllocator<std::pair<const int, int>>> squares;
        for (int i = 0; i < 50; ++i) squares[i] = i * i;
        EXPECT_EQ(numbers[999], 999);
        EXPECT_EQ(squares[7], 49);
        MemoryProbe during = MemoryManager_Probe();
        EXPECT_EQ(during.liveBlocks, base.liveBlocks + 51);  // the vector's array and 50 map nodes
        EXPECT_EQ(during.heapBytesInUse, base.heapBytesInUse + numbers.capacity() * sizeof(int));
    }
    MemoryProbe after = MemoryManager_Probe();
    EXPECT_EQ(after.liveBlocks, base.liveBlocks);
    EXPECT_EQ(after.heapBytesInUse, base.heapBytesInUse);
}

// ---- Out of memory ----

namespace {

void* MmtRefusingMalloc(size_t) { return nullptr; }

struct MmtOomRecord {
    int exits = 0;
    int status = 0;
    std::vector<std::string> boxes;
};
MmtOomRecord g_mmtOom;

void MmtRecordExit(int status)
{
    ++g_mmtOom.exits;
    g_mmtOom.status = status;
}

int MmtRecordBox(const MessageBoxRequest& request)
{
    g_mmtOom.boxes.push_back(std::string(request.caption) + " / " + request.text);
    return request.defaultAnswer;
}

// In a death test's child: the report on standard output reaches the parent through standard error.
void MmtAllocWithRefusingHeap(size_t size)
{
    dup2(STDERR_FILENO, STDOUT_FILENO);
    MemoryManagerTestHooks hooks = {MmtRefusingMalloc, nullptr, nullptr, nullptr};
    MemoryManager_SetTestHooks(&hooks);
    MemAlloc(size);
}

}  // namespace

TEST(MemoryManagerDeathTest, RefusedHeapEndsTheProcess)
{
    EXPECT_EXIT(
        {
            MmtAllocWithRefusingHeap(4096);
            std::fprintf(stderr, "still running\n");
        },
        testing::ExitedWithCode(255), "Fatal Memory Error: Out of Memory!.*Out of Memory allocating 4096 bytes\n");
}

// With an exit hook that returns, the report is visible in full and the allocation gives null.
TEST(MemoryManager, OutOfMemoryReportTable)
{
    struct Row {
        const char* what;
        bool headless;
        size_t request;
        bool viaReAlloc;
        const char* line;
        bool box;
    };
    const Row rows[] = {
        {"heap block", false, 4096, false, "Out of Memory allocating 4096 bytes\n", true},
        {"heap block, headless", true, 4096, false, "Out of Memory allocating 4096 bytes\n", false},
        {"growth", false, 5000, true, "Out of Memory allocating 5000 bytes\n", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        g_mmtOom = {};
        void* old = MemAlloc(200);
        ExitHook previousExit = Platform_SetExitHook(MmtRecordExit);
        MessageBoxHook previousBox = Platform_SetMessageBoxHook(MmtRecordBox);
        bool wasHeadless = g_RunFlags.headless;
        g_RunFlags.headless = row.headless;
        testing::internal::CaptureStdout();
        void* result;
        {
            MmtHooks hooks({MmtRefusingMalloc, nullptr, nullptr, nullptr});
            result = row.viaReAlloc ? MemReAlloc(old, row.request) : MemAlloc(row.request);
        }
        std::string out = testing::internal::GetCapturedStdout();
        g_RunFlags.headless = wasHeadless;
        Platform_SetMessageBoxHook(previousBox);
        Platform_SetExitHook(previousExit);

        EXPECT_EQ(result, nullptr);
        EXPECT_EQ(out, row.line);
        EXPECT_EQ(g_mmtOom.exits, 1);
        EXPECT_EQ(g_mmtOom.status, -1);
        const std::vector<std::string> boxes =
            row.box ? std::vector<std::string>{"Fatal Memory Error / Out of Memory!"} : std::vector<std::string>{};
        EXPECT_EQ(g_mmtOom.boxes, boxes);
        EXPECT_EQ(MmtHeaderOf(old).size, 200u);  // a failed growth keeps the old block
        MemFree(old);
    }
}

TEST(MemoryManager, RefusedPageIsReportedWithItsSize)
{
    if (kMmtPassThrough) GTEST_SKIP() << "pool layout: pass-through mode has no pages";
    // Use up the 128-byte pool's free blocks so that the next one needs a page.
    std::vector<void*> held;
    size_t pages = MemoryManager_Probe().poolPages[4];
    for (;;) {
        held.push_back(MemAlloc(128));
        if (MemoryManager_Probe().poolPages[4] != pages) break;
    }
    for (size_t i = 1; i < 4095; ++i) held.push_back(MemAlloc(128));
    g_mmtOom = {};
    ExitHook previousExit = Platform_SetExitHook(MmtRecordExit);
    MessageBoxHook previousBox = Platform_SetMessageBoxHook(MmtRecordBox);
    testing::internal::CaptureStdout();
    void* result;
    {
        MmtHooks hooks({MmtRefusingMalloc, nullptr, nullptr, nullptr});
        result = MemAlloc(100);
    }
    std::string out = testing::internal::GetCapturedStdout();
    Platform_SetMessageBoxHook(previousBox);
    Platform_SetExitHook(previousExit);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(out, "Out of Memory allocating 524424 bytes\n");  // link word + 512 KiB + one block
    EXPECT_EQ(g_mmtOom.status, -1);
    for (void* block : held) MemFree(block);
}

#if !defined(KV_SANITIZE) && !defined(KV_TSAN)  // their allocators refuse the size themselves
namespace {
volatile size_t g_mmtHugeRequest = size_t{1} << 62;
void* volatile g_mmtNewResult = nullptr;
}  // namespace

TEST(MemoryManager, OperatorNewFailureGoesToTheHandler)
{
    g_mmtOom = {};
    ExitHook previousExit = Platform_SetExitHook(MmtRecordExit);
    MessageBoxHook previousBox = Platform_SetMessageBoxHook(MmtRecordBox);
    std::new_handler installed = std::get_new_handler();
    testing::internal::CaptureStdout();
    bool threw = false;
    try {
        g_mmtNewResult = ::operator new(g_mmtHugeRequest);
    } catch (const std::bad_alloc&) {
        threw = true;
    }
    std::string out = testing::internal::GetCapturedStdout();
    std::set_new_handler(installed);
    Platform_SetMessageBoxHook(previousBox);
    Platform_SetExitHook(previousExit);
    EXPECT_NE(installed, nullptr);
    EXPECT_TRUE(threw);  // the exit hook returned, so new gives up instead of retrying forever
    EXPECT_EQ(out, "Out of Memory allocating 0 bytes\n");
    EXPECT_EQ(g_mmtOom.status, -1);
}
#endif
