// The layer containers: list splicing and emptying in each delete mode, and pool refills and reuse order.
#include "core/memory_manager.h"
#include "layers/layer_containers.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

int g_containerReleases = 0;
int g_containerDestroyed = 0;

struct ContainerRecord {
    ContainerRecord* next = nullptr;
    ContainerRecord* prev = nullptr;
    int value = 7;  // the kind's default
    ~ContainerRecord() { ++g_containerDestroyed; }
    void Release() { ++g_containerReleases; }
    static void* operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
    static void operator delete(void* p) { MemoryManager::Free(p); }
};

// Walks forward and backward, checking the links agree with each other and with the count.
std::vector<int> ContainerTest_Values(const LinkedList<ContainerRecord>& list)
{
    std::vector<int> forward;
    const ContainerRecord* last = nullptr;
    for (const ContainerRecord* r = list.head; r; r = r->next) {
        EXPECT_EQ(r->prev, last);
        forward.push_back(r->value);
        last = r;
    }
    EXPECT_EQ(last, list.tail);
    EXPECT_EQ(int(forward.size()), list.count);
    return forward;
}

ContainerRecord* ContainerTest_Make(int value)
{
    auto* r = new ContainerRecord();
    r->value = value;
    return r;
}

TEST(LayerContainers, LinksKeepOrderAndCount)
{
    LinkedList<ContainerRecord> list;
    ContainerRecord* a = ContainerTest_Make(1);
    ContainerRecord* b = ContainerTest_Make(2);
    ContainerRecord* c = ContainerTest_Make(3);
    ContainerRecord* d = ContainerTest_Make(4);
    list.Append(b);
    list.Prepend(a);
    list.InsertAfter(b, d);  // after the tail: d becomes the tail
    list.InsertAfter(b, c);
    EXPECT_EQ(ContainerTest_Values(list), (std::vector<int>{1, 2, 3, 4}));
    list.Unlink(a);
    list.Unlink(d);
    list.Unlink(c);
    EXPECT_EQ(ContainerTest_Values(list), (std::vector<int>{2}));
    delete a;
    delete c;
    delete d;
    list.Clear(LINKED_LIST_DELETE);
}

TEST(LayerContainers, AppendListOntoEmptyAndNonEmpty)
{
    struct Case {
        std::vector<int> mine;
        std::vector<int> other;
    };
    const Case cases[] = {{{}, {5, 6}}, {{1, 2}, {5, 6}}, {{1}, {}}, {{}, {}}};
    for (const Case& c : cases) {
        LinkedList<ContainerRecord> mine, other;
        for (int v : c.mine) mine.Append(ContainerTest_Make(v));
        for (int v : c.other) other.Append(ContainerTest_Make(v));
        ContainerRecord* otherHead = other.head;
        mine.AppendList(other);
        std::vector<int> want = c.mine;
        want.insert(want.end(), c.other.begin(), c.other.end());
        EXPECT_EQ(ContainerTest_Values(mine), want);
        if (c.mine.empty()) {
            EXPECT_EQ(mine.head, otherHead);
        }
        EXPECT_EQ(other.head, nullptr);
        EXPECT_EQ(other.tail, nullptr);
        EXPECT_EQ(other.count, 0);
        mine.Clear(LINKED_LIST_DELETE);
    }
}

TEST(LayerContainers, ClearInEachDeleteMode)
{
    struct Case {
        int32_t mode;
        int releases;
        int destroyed;
        bool blocksFreed;
    };
    const Case cases[] = {
        {LINKED_LIST_KEEP, 0, 0, false},
        {LINKED_LIST_DELETE, 3, 3, true},
        {LINKED_LIST_FREE, 0, 3, true},
        {LINKED_LIST_RELEASE_FREE, 3, 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        const size_t before = MemoryManager_Probe().liveBlocks;
        std::vector<ContainerRecord*> made;
        LinkedList<ContainerRecord> list;
        for (int i = 0; i < 3; ++i) {
            made.push_back(ContainerTest_Make(i));
            list.Append(made.back());
        }
        g_containerReleases = g_containerDestroyed = 0;
        list.Clear(c.mode);
        EXPECT_EQ(list.head, nullptr);
        EXPECT_EQ(list.tail, nullptr);
        EXPECT_EQ(list.count, 0);
        EXPECT_EQ(g_containerReleases, c.releases);
        EXPECT_EQ(g_containerDestroyed, c.destroyed);
        EXPECT_EQ(MemoryManager_Probe().liveBlocks == before, c.blocksFreed);
        if (!c.blocksFreed)
            for (ContainerRecord* r : made) delete r;
    }
}

TEST(LayerContainers, PoolRefillsDoubleAndReuseLastFreedFirst)
{
    const size_t before = MemoryManager_Probe().liveBlocks;
    {
        ObjectPool<ContainerRecord> pool(32);
        EXPECT_EQ(MemoryManager_Probe().liveBlocks, before + 32);
        std::vector<ContainerRecord*> taken;
        // Each time the free list runs dry the pool makes its grow count of records: 32, 64, then 128.
        const struct {
            int takeUntil;
            size_t blocksMade;
        } steps[] = {{32, 32}, {33, 64}, {64, 64}, {65, 128}, {128, 128}, {129, 256}};
        for (const auto& s : steps) {
            while (int(taken.size()) < s.takeUntil) taken.push_back(pool.Alloc());
            EXPECT_EQ(MemoryManager_Probe().liveBlocks - before, s.blocksMade) << s.takeUntil;
        }
        EXPECT_EQ(pool.GrowCount(), 256);

        ContainerRecord* a = taken[3];
        ContainerRecord* b = taken[10];
        a->value = 99;
        a->next = b;
        pool.Free(a);
        pool.Free(b);
        ContainerRecord* first = pool.Alloc();
        ContainerRecord* second = pool.Alloc();
        EXPECT_EQ(first, b);
        EXPECT_EQ(second, a);
        EXPECT_EQ(second->value, 7);  // reset to the kind's defaults
        EXPECT_EQ(second->next, nullptr);
        EXPECT_EQ(second->prev, nullptr);
        for (ContainerRecord* r : taken) pool.Free(r);
        EXPECT_EQ(MemoryManager_Probe().liveBlocks - before, 256u);  // nothing goes back while the pool lives
    }
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, before);
}

}  // namespace
