// Open-addressing Robin Hood map from an int32 key to a value: capacity a power of two, growth once the
// count has passed 0.8 of the capacity, entries {key, value, hash} where hash 0 marks an empty entry.
#pragma once
#include <cstdint>

#include <cstring>

#include "core/hash.h"
#include "core/memory_manager.h"

// (key + 1) & 0x7FFFFFFF, computed unsigned. Keys -1 and 0x7FFFFFFF hash to 0, the empty mark, and are
// refused by Insert. A negative key shares its hash with a non-negative one (INT32_MIN with 0), so lookups
// compare the key as well as the hash.
inline int32_t CHashMap_IntHash(int32_t key)
{
    return static_cast<int32_t>((static_cast<uint32_t>(key) + 1u) & 0x7FFFFFFFu);
}

// Key policies. Int keys: lookups compare the key as well as the hash.
struct CHashMapIntKey {
    using Key = int32_t;
    static constexpr bool kHashOnly = false;
    static int32_t Hash(int32_t key) { return CHashMap_IntHash(key); }
};

// Name keys: a pointer to the text, hashed over its bytes; lookups match by hash alone, so two names whose
// hashes agree in 31 bits cannot be told apart. An insert overwrites only an entry with the same pointer.
struct CHashMapTextKey {
    using Key = const char*;
    static constexpr bool kHashOnly = true;
    static int32_t Hash(const char* key)
    {
        if (!key) return 0;
        return static_cast<int32_t>(MurmurHash3_String(key, std::strlen(key), 0) & 0x7FFFFFFFu);
    }
};

template <class V, class Policy>
class CHashMapKeyed {
public:
    using Key = typename Policy::Key;
    // Key and hash side by side: with a pointer-sized value an entry is 16 bytes, four to a cache line.
    struct Element {
        Key key;
        int32_t hash;
        V value;
    };

    explicit CHashMapKeyed(int32_t capacity = 8) { Init(capacity); }
    ~CHashMapKeyed() { MemFree(elements_); }
    CHashMapKeyed(const CHashMapKeyed&) = delete;
    CHashMapKeyed& operator=(const CHashMapKeyed&) = delete;
    static void* operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, false); }
    static void operator delete(void* p) { MemoryManager::Free(p); }

    // A fresh empty entry array of the given capacity (rounded up to a power of two, at least 2).
    void Init(int32_t capacity)
    {
        MemFree(elements_);
        int32_t c = 2;
        while (c < capacity && c < (1 << 29)) c <<= 1;
        curSize_ = c;
        mask_ = c - 1;
        count_ = 0;
        growThreshold_ = Threshold(c);
        elements_ = static_cast<Element*>(MemoryManager::Alloc(sizeof(Element) * size_t(c), __FILE__, __LINE__, true));
    }

    // Empties the map and keeps its entry array.
    void Clear()
    {
        for (int32_t i = 0; i < curSize_; ++i) elements_[i].hash = 0;
        count_ = 0;
    }

    int32_t Capacity() const { return curSize_; }
    int32_t Count() const { return count_; }
    int32_t GrowThreshold() const { return growThreshold_; }
    const Element& At(int32_t slot) const { return elements_[slot]; }
    Element& At(int32_t slot) { return elements_[slot]; }

    // Probe distance of the entry in slot s from its home slot.
    int32_t Distance(int32_t s) const { return (curSize_ + s - (elements_[s].hash & mask_)) & mask_; }

    int32_t FindSlot(Key key) const { return FindSlotHashed(key, Policy::Hash(key)); }

    // The same with the key's hash already known.
    int32_t FindSlotHashed(Key key, int32_t h) const
    {
        if (h == 0) return -1;
        const Element* e = elements_;
        const int32_t mask = mask_;
        int32_t s = h & mask;
        for (int32_t d = 0;; ++d) {
            const int32_t rh = e[s].hash;
            if (rh == h && (Policy::kHashOnly || e[s].key == key)) return s;
            // An empty slot, or a resident nearer its home than this key would be: the key is absent.
            if (rh == 0 || d > ((s - rh) & mask)) return -1;
            s = (s + 1) & mask;
        }
    }

    V* Find(Key key)
    {
        const int32_t s = FindSlot(key);
        return s < 0 ? nullptr : &elements_[s].value;
    }

    // False for a key that hashes to the empty mark; an existing key has its value replaced and the count
    // is left alone.
    bool Insert(Key key, V value)
    {
        const int32_t h = Policy::Hash(key);
        if (h == 0) return false;
        if constexpr (!Policy::kHashOnly) {
            const int32_t existing = FindSlotHashed(key, h);
            if (existing >= 0) {
                elements_[existing].value = value;
                return true;
            }
        }
        if (growThreshold_ < count_) Grow();
        ++count_;
        if (!Place(key, value, h)) --count_;
        return true;
    }

    // Insert for a key the caller has just failed to find (skips the second lookup).
    bool InsertNew(Key key, V value)
    {
        const int32_t h = Policy::Hash(key);
        if (h == 0) return false;
        if (growThreshold_ < count_) Grow();
        ++count_;
        Place(key, value, h);
        return true;
    }

    // Removes the key with a backward shift, so no tombstones are left.
    bool Delete(Key key)
    {
        int32_t s = FindSlot(key);
        if (s < 0) return false;
        for (;;) {
            const int32_t n = (s + 1) & mask_;
            if (elements_[n].hash == 0 || Distance(n) == 0) break;
            elements_[s] = elements_[n];
            s = n;
        }
        elements_[s].hash = 0;
        --count_;
        return true;
    }

    // Iteration in slot order: start with *slot = -1; false once every entry has been seen.
    bool Next(int32_t* slot, Key* key, V* value) const
    {
        for (int32_t s = *slot + 1; s < curSize_; ++s) {
            if (elements_[s].hash > 0) {
                *slot = s;
                if (key) *key = elements_[s].key;
                if (value) *value = elements_[s].value;
                return true;
            }
        }
        *slot = curSize_;
        return false;
    }

    void Grow()
    {
        Element* old = elements_;
        const int32_t oldSize = curSize_;
        elements_ = nullptr;
        Init(oldSize * 2);
        for (int32_t s = 0; s < oldSize; ++s) {
            if (old[s].hash > 0) {
                ++count_;
                Place(old[s].key, old[s].value, old[s].hash);
            }
        }
        MemFree(old);
    }

    // Every resident sits no nearer its home than Robin Hood placement allows: walking a run, a resident's
    // distance never exceeds the previous slot's distance + 1. Checked by the tests after each operation.
    bool CheckInvariant() const
    {
        int32_t live = 0;
        for (int32_t s = 0; s < curSize_; ++s) {
            if (elements_[s].hash == 0) continue;
            ++live;
            if (elements_[s].hash != Policy::Hash(elements_[s].key)) return false;
            const int32_t prev = (s + mask_) & mask_;
            const int32_t d = Distance(s);
            if (d > 0 && (elements_[prev].hash == 0 || Distance(prev) + 1 < d)) return false;
        }
        return live == count_;
    }

private:
    // Capacity × the single-precision 0.8 widened, truncated.
    static int32_t Threshold(int32_t capacity) { return static_cast<int32_t>(capacity * 0.800000011920929); }

    // False when an entry with the same hash and key took the value instead (nothing new was placed).
    bool Place(Key key, V value, int32_t h)
    {
        int32_t s = h & mask_;
        int32_t d = 0;
        while (elements_[s].hash != 0) {
            const int32_t r = Distance(s);
            if (r == d && elements_[s].hash == h && elements_[s].key == key) {
                elements_[s].value = value;
                return false;
            }
            if (r < d) {
                Element carried = elements_[s];
                elements_[s].key = key;
                elements_[s].value = value;
                elements_[s].hash = h;
                key = carried.key;
                value = carried.value;
                h = carried.hash;
                d = r;
            }
            s = (s + 1) & mask_;
            ++d;
        }
        elements_[s].key = key;
        elements_[s].value = value;
        elements_[s].hash = h;
        return true;
    }

    int32_t curSize_ = 0;
    int32_t count_ = 0;
    int32_t mask_ = 0;
    int32_t growThreshold_ = 0;
    Element* elements_ = nullptr;
};

template <class V>
class CHashMap : public CHashMapKeyed<V, CHashMapIntKey> {
public:
    using CHashMapKeyed<V, CHashMapIntKey>::CHashMapKeyed;
};

// Name text to a value (the sprite name map): text-pointer keys, hash-only lookups.
template <class V>
using CHashMapByName = CHashMapKeyed<V, CHashMapTextKey>;
