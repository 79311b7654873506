// ds_map: the key hash, the comparison tolerance and the map over a fixed count of buckets. Only used buckets
// have a record: a map of two keys costs two entries and one or two bucket records, whatever its bucket
// count, while lookups still walk the one bucket of the key's hash.
#include "core/hash.h"
#include "core/hashmap.h"
#include "core/seam_trace.h"
#include "core/value.h"
#include "ds/ds.h"
#include "ds/ds_internal.h"
#include "world/object_base.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <numeric>

double DS_Precision = 0.00000001;

void DS_SetPrecision(double x) { DS_Precision = std::fabs(x); }

uint32_t RValue_HashKey(const RValue& v)
{
    double d = 0.0;
    switch (RValue_Kind(&v)) {
    case VALUE_STRING:
        return CRC32_String(v.str ? v.str->text : nullptr);
    case VALUE_ARRAY:
    case VALUE_PTR:
    case VALUE_VEC3:
    case VALUE_OBJECT:
    case VALUE_VEC4:
    case VALUE_MATRIX:
    case VALUE_ACCESSOR:
        return CRC32_Buffer(&v.v64, 8);
    case VALUE_UNDEFINED:
    case VALUE_UNSET:
        return 0;
    case VALUE_REAL:
    case VALUE_BOOL:
        d = v.real;
        break;
    case VALUE_INT32:
        d = v.v32;
        break;
    case VALUE_INT64:
        d = static_cast<double>(v.v64);
        break;
    default: {
        // Null, iterator and the rest: the real conversion reports them.
        RValue copy;
        std::memcpy(static_cast<void*>(&copy), &v, sizeof copy);
        d = RValue_ToReal(&copy);
        break;
    }
    }
    return CRC32_Buffer(&d, 8);
}

namespace {

// Below this many used buckets a linear look over the records beats the index.
constexpr size_t kDsMapLinearBuckets = 8;
// A map with more entries than half its buckets keeps a record for every bucket (up to this many buckets):
// lookups then go straight to the bucket.
constexpr uint32_t kDsMapDenseLimit = 1u << 20;

bool DsMap_SameValue(const RValue& a, const RValue& b)
{
    return RValue_Kind(&a) == RValue_Kind(&b) && a.v64 == b.v64;
}

}  // namespace

void* CDS_Map::operator new(size_t size)
{
    void* p = MemoryManager::Alloc(size, __FILE__, __LINE__, true);
    if (!p) throw std::bad_alloc();
    return p;
}

void CDS_Map::operator delete(void* p) { MemoryManager::Free(p); }

CDS_Map::CDS_Map() { Init(4096); }

CDS_Map::CDS_Map(int32_t buckets) { Init(buckets); }

void CDS_Map::Init(int32_t buckets)
{
    if (buckets < 1) buckets = 4096;
    m_mask = static_cast<uint32_t>(buckets) - 1u;
}

CDS_Map::~CDS_Map()
{
    Clear();
    RemoveAll();  // an empty map still holds its records
}

CDS_Map::Bucket* CDS_Map::FindBucket(uint32_t number)
{
    if (m_dense) return m_dense[number].first ? &m_dense[number] : nullptr;
    if (m_index) {
        int32_t* i = m_index->Find(static_cast<int32_t>(number));
        return i ? &m_buckets[size_t(*i)] : nullptr;
    }
    for (Bucket& b : m_buckets)
        if (b.number == number) return &b;
    return nullptr;
}

CDS_Map::Bucket* CDS_Map::TakeBucket(uint32_t number)
{
    if (m_dense) return &m_dense[number];
    if (Bucket* b = FindBucket(number)) return b;
    m_buckets.push_back(Bucket{number, nullptr, nullptr});
    const int32_t at = static_cast<int32_t>(m_buckets.size() - 1);
    if (m_index) {
        m_index->InsertNew(static_cast<int32_t>(number), at);
    } else if (m_buckets.size() > kDsMapLinearBuckets) {
        m_index = new CHashMap<int32_t>(int32_t(m_buckets.size() * 2));
        for (int32_t i = 0; i <= at; ++i) m_index->InsertNew(static_cast<int32_t>(m_buckets[size_t(i)].number), i);
    }
    m_orderDirty = true;
    return &m_buckets.back();
}

void CDS_Map::DropBucket(Bucket* bucket)
{
    if (m_dense) return;  // an empty record is an unused bucket
    const size_t at = size_t(bucket - m_buckets.data());
    const size_t last = m_buckets.size() - 1;
    if (m_index) m_index->Delete(static_cast<int32_t>(bucket->number));
    if (at != last) {
        m_buckets[at] = m_buckets[last];
        if (m_index) m_index->Insert(static_cast<int32_t>(m_buckets[at].number), static_cast<int32_t>(at));
    }
    m_buckets.pop_back();
    m_orderDirty = true;
}

void CDS_Map::EnsureOrder() const
{
    if (!m_orderDirty) return;
    m_order.resize(m_buckets.size());
    std::iota(m_order.begin(), m_order.end(), 0);
    std::sort(m_order.begin(), m_order.end(), [this](int32_t a, int32_t b) {
        return m_buckets[size_t(a)].number < m_buckets[size_t(b)].number;
    });
    m_orderDirty = false;
}

void CDS_Map::MakeDense()
{
    auto* dense = static_cast<Bucket*>(
        MemoryManager::Alloc(size_t(m_mask + 1) * sizeof(Bucket), __FILE__, __LINE__, true));
    if (!dense) return;
    for (const Bucket& b : m_buckets) dense[b.number] = b;
    m_dense = dense;
    BucketVector().swap(m_buckets);
    OrderVector().swap(m_order);
    delete m_index;
    m_index = nullptr;
    m_orderDirty = false;
}

void CDS_Map::FreeNode(Node* n)
{
    RValue_Free(&n->entry.key);
    RValue_Free(&n->entry.value);
    MemFree(n);
}

CDS_MapEntry* CDS_Map::Insert(uint32_t hash, const RValue& key, const RValue& value)
{
    auto* n = static_cast<Node*>(MemoryManager::Alloc(sizeof(Node), __FILE__, __LINE__, true));
    if (!n) return nullptr;
    RValue_SetReal(&n->entry.key, 0.0);
    RValue_SetReal(&n->entry.value, 0.0);
    RValue_Copy(&n->entry.key, &key);
    RValue_Copy(&n->entry.value, &value);
    n->hash = hash;
    Bucket* b = TakeBucket(hash & m_mask);
    if (b->last) b->last->next = n;
    else b->first = n;
    b->last = n;
    ++m_count;
    if (!m_dense && m_mask < kDsMapDenseLimit && uint32_t(m_count) > (m_mask + 1) / 2) MakeDense();
    return &n->entry;
}

CDS_MapEntry* CDS_Map::Find(const RValue& key)
{
    const uint32_t h = RValue_HashKey(key);
    Bucket* b = FindBucket(h & m_mask);
    if (!b) return nullptr;
    for (Node* n = b->first; n; n = n->next) {
        if (n->hash != h) continue;
        // A key that shares its text record with the stored one is equal without reading the text.
        if (n->entry.key.kind == VALUE_STRING && key.kind == VALUE_STRING && n->entry.key.str == key.str && key.str)
            return &n->entry;
        if (RValue_Compare(n->entry.key, key, DS_Precision) == 0) return &n->entry;
    }
    return nullptr;
}

CDS_Map::Node* CDS_Map::FindSame(const RValue& key, uint32_t hash, Bucket** bucket, Node** before)
{
    *bucket = FindBucket(hash & m_mask);
    *before = nullptr;
    if (!*bucket) return nullptr;
    // Keys of one CRC are different keys: the hash narrows, the key decides. A key that is the very same
    // value (an array, an object, a NaN) is reached although it never compares equal.
    for (Node* n = (*bucket)->first; n; *before = n, n = n->next)
        if (n->hash == hash &&
            (RValue_Compare(n->entry.key, key, DS_Precision) == 0 || DsMap_SameValue(n->entry.key, key)))
            return n;
    return nullptr;
}

bool CDS_Map::Add(const RValue& key, const RValue& value)
{
    if (Find(key)) return false;
    return Insert(RValue_HashKey(key), key, value) != nullptr;
}

bool CDS_Map::Replace(const RValue& key, const RValue& value)
{
    if (CDS_MapEntry* e = Find(key)) {
        RValue_Copy(&e->value, &value);
        return true;
    }
    Add(key, value);
    return false;
}

void CDS_Map::Set(const RValue& key, const RValue& value, RValue* previous)
{
    const uint32_t h = RValue_HashKey(key);
    Bucket* b = nullptr;
    Node* before = nullptr;
    if (Node* n = FindSame(key, h, &b, &before)) {
        if (previous) RValue_Copy(previous, &n->entry.value);
        RValue_Copy(&n->entry.key, &key);
        RValue_Copy(&n->entry.value, &value);
        return;
    }
    if (previous) RValue_Copy(previous, &value);
    Insert(h, key, value);
}

bool CDS_Map::AddKeyValue(const char* key, double real, const char* text)
{
    RValue k, v;
    RValue_CreateString(&k, key);
    if (text) RValue_CreateString(&v, text);
    else RValue_SetReal(&v, real);
    const bool added = Add(k, v);
    RValue_Free(&k);
    RValue_Free(&v);
    return added;
}

bool CDS_Map::Delete(const RValue& key)
{
    const uint32_t h = RValue_HashKey(key);
    Bucket* b = nullptr;
    Node* before = nullptr;
    Node* n = FindSame(key, h, &b, &before);
    if (!n) return false;
    if (before) before->next = n->next;
    else b->first = n->next;
    if (b->last == n) b->last = before;
    if (!b->first) DropBucket(b);
    --m_count;
    FreeNode(n);
    return true;
}

void CDS_Map::RemoveAll()
{
    auto freeChain = [](const Bucket& b) {
        for (Node* n = b.first; n;) {
            Node* next = n->next;
            FreeNode(n);
            n = next;
        }
    };
    if (m_dense)
        for (uint32_t i = 0; i <= m_mask; ++i) freeChain(m_dense[i]);
    for (const Bucket& b : m_buckets) freeChain(b);
    MemFree(m_dense);
    m_dense = nullptr;
    // A cleared map gives its bucket records back: its memory follows its entries.
    BucketVector().swap(m_buckets);
    OrderVector().swap(m_order);
    delete m_index;
    m_index = nullptr;
    m_orderDirty = false;
    m_count = 0;
}

void CDS_Map::Clear()
{
    if (m_count == 0) return;
    DsWorkList work;
    ForEach([&](CDS_MapEntry& e) {
        DsNestedRef ref;
        if (DsNested_Of(e.value, &ref)) work.push_back(ref);
    });
    if (!work.empty()) {
        // A nested container that marks this map back must not reach it: this one stays alive.
        const bool was = m_clearing;
        m_clearing = true;
        DsNested_Destroy(&work);
        m_clearing = was;
    }
    RemoveAll();
}

void CDS_Map::Assign(const CDS_Map& source)
{
    if (&source == this) return;
    RemoveAll();
    source.WalkBuckets([&](const Bucket& b) {
        for (Node* n = b.first; n; n = n->next) Insert(n->hash, n->entry.key, n->entry.value);
    });
    DsNested_CopyMap(this, &source);
}

CDS_MapEntry* CDS_Map::FindFirst()
{
    if (m_count == 0) return nullptr;
    if (m_dense) {
        for (uint32_t i = 0;; ++i)
            if (m_dense[i].first) return &m_dense[i].first->entry;
    }
    EnsureOrder();
    return &m_buckets[size_t(m_order.front())].first->entry;
}

CDS_MapEntry* CDS_Map::FindLast()
{
    if (m_count == 0) return nullptr;
    if (m_dense) {
        for (uint32_t i = m_mask;; --i)
            if (m_dense[i].last) return &m_dense[i].last->entry;
    }
    EnsureOrder();
    return &m_buckets[size_t(m_order.back())].last->entry;
}

CDS_MapEntry* CDS_Map::FindNext(const RValue& key)
{
    // The first equal key decides; the answer is the entry after it.
    bool found = false;
    return FindIf([&](CDS_MapEntry& e) {
        if (found) return true;
        found = RValue_Compare(key, e.key, DS_Precision) == 0;
        return false;
    });
}

CDS_MapEntry* CDS_Map::FindPrevious(const RValue& key)
{
    CDS_MapEntry* previous = nullptr;
    CDS_MapEntry* equal = FindIf([&](CDS_MapEntry& e) {
        if (RValue_Compare(key, e.key, DS_Precision) == 0) return true;
        previous = &e;
        return false;
    });
    return equal ? previous : nullptr;
}

void CDS_Map::MarkReferences(uint8_t* marks, int32_t capacity)
{
    ForEach([&](CDS_MapEntry& e) {
        RValue_Mark(&e.key, marks, capacity);
        RValue_Mark(&e.value, marks, capacity);
    });
}

int32_t DSMap_NewWithEntries(int32_t count, ...)
{
    auto* map = new CDS_Map();
    va_list args;
    va_start(args, count);
    for (int32_t i = 0; i < count; ++i) {
        const char* key = va_arg(args, const char*);
        const double real = va_arg(args, double);
        const char* text = va_arg(args, const char*);
        map->AddKeyValue(key, real, text);
    }
    va_end(args);
    const int32_t index = DSMap_AllocIndex();
    DS_Maps[index] = map;
    SeamTrace_Record("DSMap_NewWithEntries");  // the step's tests follow each async_load map through the trace
    return index;
}
