// Data structures and buffers: the ds containers (maps, lists, stacks, queues, grids, priority queues), their
// text form, the per-kind registries that turn a script's index into a container, and what the rest of the
// runtime calls. The buffer table and the remaining buffer operations are still seams with neutral answers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "core/memory_manager.h"
#include "core/value.h"
#include "ds/buffer.h"

template <class V>
class CHashMap;

// Values as the containers compare them: -1, 0 or 1 (only the low 24 bits of the kind words count).
int32_t RValue_Compare(const RValue& a, const RValue& b, double epsilon);

// The tolerance every search, sort and key lookup of the containers passes to RValue_Compare.
extern double DS_Precision;
void DS_SetPrecision(double x);  // stores |x|

// The key hash of maps: CRC of a string's text, of the 8 payload bytes of references, of the value as a
// double for numbers (so real 1, int32 1, int64 1 and true are one key); 0 for undefined. A null or iterator
// key reports the real conversion's error.
uint32_t RValue_HashKey(const RValue& v);

// Inside maps and lists a real whose kind word carries one of these names a map or list the holder owns.
constexpr uint32_t DS_MARK_MAP = 0x80000000u;
constexpr uint32_t DS_MARK_LIST = 0x40000000u;

// The kind codes of ds_exists and the registries.
enum DSKind : int32_t {
    DS_KIND_MAP = 1,
    DS_KIND_LIST = 2,
    DS_KIND_STACK = 3,
    DS_KIND_QUEUE = 4,
    DS_KIND_GRID = 5,
    DS_KIND_PRIORITY = 6,
};

// One value record of the text form, and its reader in mode 0 (current), 1 (legacy) or 2 (version 1).
class CStream;
void WriteValue(CStream* stream, const RValue& v);
// False for a record that cannot be one (lengths past the end, arrays nested too deep); v is then undefined.
bool ReadValue(RValue& v, CStream* stream, int32_t mode);

struct CDS_MapEntry {
    RValue key;
    RValue value;
};

// Map from values to values over a hash table of a fixed bucket count. Walks go in bucket order: bucket
// (hash & mask) ascending, inside a bucket in insertion order. Memory follows the entries, not the bucket
// count: only used buckets have a record.
class CDS_Map {
public:
    CDS_Map();                          // 4096 buckets
    explicit CDS_Map(int32_t buckets);  // below 1: 4096
    ~CDS_Map();
    CDS_Map(const CDS_Map&) = delete;
    CDS_Map& operator=(const CDS_Map&) = delete;
    static void* operator new(size_t size);
    static void operator delete(void* p);

    int32_t Size() const { return m_count; }
    bool Empty() const { return m_count == 0; }
    int32_t BucketCount() const { return static_cast<int32_t>(m_mask + 1); }

    // Same hash and comparing equal within DS_Precision.
    CDS_MapEntry* Find(const RValue& key);
    bool Exists(const RValue& key) { return Find(key) != nullptr; }
    // False, and nothing changes, when the key is found.
    bool Add(const RValue& key, const RValue& value);
    // True when the key was there (its value replaced); otherwise adds and answers false.
    bool Replace(const RValue& key, const RValue& value);
    // Sets the first entry of the key's hash whose key compares equal or is the very same value (so an array,
    // object or NaN key is reached again), replacing key and value; else inserts. *previous (when given)
    // gets the old value, or the new one when there was none.
    void Set(const RValue& key, const RValue& value, RValue* previous);
    // Add of a string key with the text as a string when given, else the real.
    bool AddKeyValue(const char* key, double real, const char* text);
    // Removes the entry Set would reach; a nested container its value marks stays alive.
    bool Delete(const RValue& key);
    // Destroys the nested containers the values mark, then removes every entry.
    void Clear();
    // A copy of source's entries in its bucket order; nested containers are copied into new slots.
    void Assign(const CDS_Map& source);

    CDS_MapEntry* FindFirst();
    CDS_MapEntry* FindLast();
    // The entry after / before the first one whose key compares equal; these walk the whole map.
    CDS_MapEntry* FindNext(const RValue& key);
    CDS_MapEntry* FindPrevious(const RValue& key);

    void MarkReferences(uint8_t* marks, int32_t capacity);

    // Text form: a new memory-manager text (MemFree). Reading empties the map first, in every case.
    char* Write();
    bool Read(const char* text);

    // Every entry in bucket order; f(CDS_MapEntry&).
    template <class F>
    void ForEach(F&& f)
    {
        WalkBuckets([&](const Bucket& b) {
            for (Node* n = b.first; n; n = n->next) f(n->entry);
        });
    }

    // The same walk, stopping once f(CDS_MapEntry&) answers true; that entry, or null.
    template <class F>
    CDS_MapEntry* FindIf(F&& f)
    {
        CDS_MapEntry* hit = nullptr;
        WalkBuckets([&](const Bucket& b) {
            for (Node* n = b.first; n && !hit; n = n->next)
                if (f(n->entry)) hit = &n->entry;
            return hit != nullptr;
        });
        return hit;
    }

    // Appends a new entry under hash without looking for the key (copies, the flat text form).
    CDS_MapEntry* Insert(uint32_t hash, const RValue& key, const RValue& value);
    // Frees every entry without touching nested containers; the registry's destroy runs it.
    void RemoveAll();
    bool IsClearing() const { return m_clearing; }

private:
    struct Node {
        CDS_MapEntry entry;
        Node* next;
        uint32_t hash;
    };
    struct Bucket {
        uint32_t number;
        Node* first;
        Node* last;
    };
    using BucketVector = std::vector<Bucket, MemAllocator<Bucket>>;
    using OrderVector = std::vector<int32_t, MemAllocator<int32_t>>;

    void Init(int32_t buckets);
    Bucket* FindBucket(uint32_t number);
    Bucket* TakeBucket(uint32_t number);
    void DropBucket(Bucket* bucket);
    void EnsureOrder() const;
    // Every used bucket in bucket order; f(const Bucket&).
    template <class F>
    void WalkBuckets(F&& f) const
    {
        // f may answer true to stop the walk.
        auto visit = [&](const Bucket& b) {
            if constexpr (std::is_same_v<decltype(f(b)), bool>) return f(b);
            else {
                f(b);
                return false;
            }
        };
        if (m_dense) {
            for (uint32_t i = 0; i <= m_mask; ++i)
                if (m_dense[i].first && visit(m_dense[i])) return;
            return;
        }
        EnsureOrder();
        for (int32_t i : m_order)
            if (visit(m_buckets[size_t(i)])) return;
    }
    void MakeDense();
    // The first node of the key's bucket that Set and Delete reach; *before gets the node ahead of it.
    Node* FindSame(const RValue& key, uint32_t hash, Bucket** bucket, Node** before);
    static void FreeNode(Node* n);

    uint32_t m_mask = 0;
    int32_t m_count = 0;
    mutable bool m_orderDirty = false;
    bool m_clearing = false;
    BucketVector m_buckets;
    mutable OrderVector m_order;                  // indexes into m_buckets, by bucket number
    CHashMap<int32_t>* m_index = nullptr;  // bucket number -> index, once there are more than a few
    // Once most buckets are used, one record per bucket (indexed by number) replaces the three above.
    Bucket* m_dense = nullptr;
};

// The storage of the sequences: capacity is what the growth rules say; the block itself may be larger (room)
// so that a long run of small steps does not copy every time. Slots below used hold values (never-written
// ones read as real 0); the rest of the room is raw until the capacity reaches it.
struct DSStorage {
    RValue* items = nullptr;
    int32_t capacity = 0;
    int32_t used = 0;
    int32_t room = 0;
};

class CDS_List {
public:
    CDS_List() = default;
    virtual ~CDS_List();
    CDS_List(const CDS_List&) = delete;
    CDS_List& operator=(const CDS_List&) = delete;
    static void* operator new(size_t size);
    static void operator delete(void* p);

    int32_t Size() const { return m_count; }
    bool Empty() const { return m_count == 0; }
    int32_t Capacity() const { return m_store.capacity; }
    RValue* GetItem(int32_t index);
    // Slot index of the storage, live or not (null outside the capacity).
    RValue* Slot(int32_t index);
    void Add(const RValue& v);
    void Insert(int32_t index, const RValue& v);
    void Set(int32_t index, const RValue& v, RValue* previous);
    void Replace(int32_t index, const RValue& v);
    void Delete(int32_t index);
    int32_t FindIndex(const RValue& v);
    void Sort(bool ascending);
    void Shuffle();
    void Clear();
    void Assign(const CDS_List& source);
    void MarkReferences(uint8_t* marks, int32_t capacity);
    char* Write();
    bool Read(const char* text, bool legacy);

    // Frees every element without touching nested containers, pushing nothing; the registry's destroy and
    // the nested copy use it.
    void RemoveAll();
    bool IsClearing() const { return m_clearing; }

private:
    int32_t m_count = 0;
    DSStorage m_store;
    bool m_clearing = false;
};

class CDS_Stack {
public:
    CDS_Stack() = default;
    virtual ~CDS_Stack();
    CDS_Stack(const CDS_Stack&) = delete;
    CDS_Stack& operator=(const CDS_Stack&) = delete;
    static void* operator new(size_t size);
    static void operator delete(void* p);

    int32_t Size() const { return m_count; }
    bool Empty() const { return m_count == 0; }
    int32_t Capacity() const { return m_store.capacity; }
    void Push(const RValue& v);
    RValue* Pop();  // the caller copies the value out at once
    RValue* Top();
    RValue* Slot(int32_t index);
    void Clear();
    void Assign(const CDS_Stack& source);
    void MarkReferences(uint8_t* marks, int32_t capacity);
    char* Write();
    bool Read(const char* text, bool legacy);

private:
    int32_t m_count = 0;
    DSStorage m_store;
};

class CDS_Queue {
public:
    CDS_Queue() = default;
    virtual ~CDS_Queue();
    CDS_Queue(const CDS_Queue&) = delete;
    CDS_Queue& operator=(const CDS_Queue&) = delete;
    static void* operator new(size_t size);
    static void operator delete(void* p);

    int32_t Size() const { return m_tail - m_head; }
    bool Empty() const { return m_head == m_tail; }
    int32_t TailIndex() const { return m_tail; }
    int32_t HeadIndex() const { return m_head; }
    int32_t Capacity() const { return m_store.capacity; }
    void Enqueue(const RValue& v);
    RValue* Dequeue();  // the caller copies the value out at once
    RValue* Head();
    RValue* Tail();
    RValue* Slot(int32_t index);
    void Clear();
    void Assign(const CDS_Queue& source);
    void MarkReferences(uint8_t* marks, int32_t capacity);
    char* Write();
    bool Read(const char* text, bool legacy);

private:
    int32_t m_tail = 0;
    int32_t m_head = 0;
    DSStorage m_store;
};

// Cells x + y * width; walks go x outer, y inner.
class CDS_Grid {
public:
    static constexpr int64_t kMaxCells = int64_t(1) << 27;

    CDS_Grid(int32_t width, int32_t height);
    ~CDS_Grid();
    CDS_Grid(const CDS_Grid&) = delete;
    CDS_Grid& operator=(const CDS_Grid&) = delete;
    static void* operator new(size_t size);
    static void operator delete(void* p);

    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    RValue* Cells() { return m_cells; }
    RValue* Cell(int32_t x, int32_t y) { return &m_cells[int64_t(x) + int64_t(y) * m_width]; }

    // Sizes of 0 or more whose product is at most kMaxCells; false (nothing changes) otherwise.
    bool SetSize(int32_t width, int32_t height);
    bool Resize(int32_t width, int32_t height);
    void Free() { SetSize(0, 0); }
    void Assign(const CDS_Grid& source);
    void SetCell(int32_t x, int32_t y, const RValue& v);  // no range check
    void Clear(const RValue& v);

    // op 1 set, 2 add, 3 multiply.
    void ApplyOp(int32_t op, RValue* cell, const RValue& v);
    void CellOp(int32_t gridIndex, int32_t op, int32_t x, int32_t y, const RValue& v);
    void RegionOp(int32_t op, int32_t x1, int32_t y1, int32_t x2, int32_t y2, const RValue& v);
    void DiskOp(int32_t op, double cx, double cy, double r, const RValue& v);
    void GridRegionOp(int32_t op, const CDS_Grid& source, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                      int32_t xpos, int32_t ypos);

    // Queries write into result (freed first only where they set it).
    void RegionSum(RValue* result, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    void RegionMean(RValue* result, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    void RegionMax(RValue* result, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    void RegionMin(RValue* result, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
    void DiskSum(RValue* result, double cx, double cy, double r);
    void DiskMean(RValue* result, double cx, double cy, double r);
    void DiskMax(RValue* result, double cx, double cy, double r);
    void DiskMin(RValue* result, double cx, double cy, double r);
    void RegionValueExists(RValue* result, int32_t x1, int32_t y1, int32_t x2, int32_t y2, const RValue& v);
    void RegionValueX(RValue* result, int32_t x1, int32_t y1, int32_t x2, int32_t y2, const RValue& v);
    void RegionValueY(RValue* result, int32_t x1, int32_t y1, int32_t x2, int32_t y2, const RValue& v);
    void DiskValueExists(RValue* result, double cx, double cy, double r, const RValue& v);
    void DiskValueX(RValue* result, double cx, double cy, double r, const RValue& v);
    void DiskValueY(RValue* result, double cx, double cy, double r, const RValue& v);

    void Sort(int32_t column, bool ascending);
    void Shuffle();
    void MarkReferences(uint8_t* marks, int32_t capacity);
    char* Write();
    bool Read(const char* text, bool legacy);

    // The clipped region and disk bounds ([x0, x1] x [y0, y1]); false when empty.
    bool ClipRegion(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t* bounds) const;
    bool ClipDisk(double cx, double cy, double r, int32_t* bounds) const;

private:
    RValue* m_cells = nullptr;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int64_t m_room = 0;  // cells the block holds
};

class CDS_Priority {
public:
    CDS_Priority() = default;
    virtual ~CDS_Priority();
    CDS_Priority(const CDS_Priority&) = delete;
    CDS_Priority& operator=(const CDS_Priority&) = delete;
    static void* operator new(size_t size);
    static void operator delete(void* p);

    int32_t Size() const { return m_count; }
    bool Empty() const { return m_count == 0; }
    int32_t Capacity() const { return m_values.capacity; }
    RValue* Value(int32_t slot) { return slot >= 0 && slot < m_count ? &m_values.items[slot] : nullptr; }
    RValue* Priority(int32_t slot) { return slot >= 0 && slot < m_count ? &m_priorities.items[slot] : nullptr; }
    void Add(const RValue& value, const RValue& priority);
    RValue* FindPriority(const RValue& value);
    void ChangePriority(const RValue& value, const RValue& priority);
    RValue* FindMin();
    RValue* FindMax();
    void DeleteMin(RValue& result);
    void DeleteMax(RValue& result);
    void DeleteValue(const RValue& value);
    void Clear();
    void Assign(const CDS_Priority& source);
    void MarkReferences(uint8_t* marks, int32_t capacity);
    char* Write();
    bool Read(const char* text, bool legacy);

private:
    int32_t Extreme(bool maximum) const;
    void RemoveSlot(int32_t slot);

    int32_t m_count = 0;
    DSStorage m_values;      // both grow together, by 16 slots
    DSStorage m_priorities;
};

// Registries: slot i holds the container of index i, or null. count is the high-water mark of slots ever
// handed out; capacity what the items block holds (it grows by 16 and never shrinks).
template <class T>
struct DSRegistry {
    int32_t capacity;
    T** items;
    int32_t count;
};
extern int32_t DS_MapsCount;
extern int32_t DS_MapsCapacity;
extern CDS_Map** DS_Maps;
extern int32_t DS_ListsCount;
extern int32_t DS_ListsCapacity;
extern CDS_List** DS_Lists;
extern DSRegistry<CDS_Stack> DS_Stacks;
extern DSRegistry<CDS_Queue> DS_Queues;
extern DSRegistry<CDS_Grid> DS_Grids;
extern DSRegistry<CDS_Priority> DS_Priorities;
CDS_Stack** DSStack_GetTable(int32_t* count);
CDS_Queue** DSQueue_GetTable(int32_t* count);
CDS_Grid** DSGrid_GetTable(int32_t* count);
CDS_Priority** DSPriority_GetTable(int32_t* count);

// The lowest free slot of the registry (the caller stores its container there).
int32_t DSMap_AllocIndex();
int32_t DSList_AllocIndex();
// New containers in new slots: their indexes.
int32_t DSMap_New();
int32_t DSList_Create();
int32_t DSStack_Create();
int32_t DSQueue_Create();
int32_t DSGrid_Create(int32_t width, int32_t height);
int32_t DSPriority_Create();

// True when the index names a live container of that kind (ds_exists; nothing is printed).
bool DS_Exists(int32_t kind, int32_t index);
// The same test for the built-ins: reports "Data structure with index does not exist." (non-fatal) when
// the index names none.
bool DS_CheckIndex(int32_t kind, int32_t index);
// ds_*_destroy: stacks, queues, grids and priority queues report an empty slot; lists and maps ignore one
// inside the count. Lists and maps destroy the containers they mark, to any depth.
void DS_Destroy(int32_t kind, int32_t index);

// Gives back the registries' blocks once every container of every kind is gone, so that the next index
// handed out is 0 again (shutdown and tests); false, and nothing changes, while any container lives.
bool DS_ReleaseRegistries();

// count triples {const char* key, double real, const char* text or null} -> index of a new ds_map.
int32_t DSMap_NewWithEntries(int32_t count, ...);
CDS_Map* DSMap_Get(int32_t index);  // null outside the registry's capacity
void DSMap_Destroy(int32_t index);

// ds_grid_get and ds_grid_set with argument checks (checked) or without (release mode).
void DS_SetGridAccessMode(bool checked);
void InitDSFunctions();
void InitBufferFunctions();

// The buffer table.
int32_t Buffer_New(int32_t size, int32_t kind, int32_t alignment);  // -1 none
IBuffer* Buffer_Get(int32_t index);                                  // null none
// Until the buffer table is built, tests register their own buffers here (not owned): the new index, -1
// when the 64 places are taken. Buffer_SeamClear forgets them all.
int32_t Buffer_SeamAdd(IBuffer* buffer);
void Buffer_SeamClear();
void Buffer_Destroy(int32_t index);

// A buffer that moves single unsigned bytes only.
class Buffer_Fast : public IBuffer {
public:
    Buffer_Fast(int32_t size, int32_t kind, int32_t alignment);
    ~Buffer_Fast() override;
    int32_t Write(int32_t type, RValue* value) override;
    int32_t Read(int32_t type, RValue* out) override;
    void Peek(int32_t offset, int32_t type, RValue* out) override;
    void Poke(int32_t offset, int32_t type, RValue* value) override;
};

// Byte copies with the wrap rules of the buffer kinds: the destination offset after the copy, or -1.
int32_t Buffer_CopyBytesIn(IBuffer* dest, const uint8_t* source, int32_t sourceLength, int32_t sourceOffset,
                           int32_t count, int32_t destOffset, bool grow, bool destWraps, bool sourceWraps);
int32_t Buffer_CopyMemory(uint8_t* dest, int32_t destLength, const uint8_t* source, int32_t sourceLength,
                          int32_t sourceOffset, int32_t count, int32_t destOffset, bool destWraps, bool sourceWraps);
