// Open-addressing Robin Hood map from an int32 key to a value: capacity a power of two, growth once the
// count has passed 0.8 of the capacity, entries {key, value, hash} where hash 0 marks an empty entry.
#pragma once
#include <cstdint>

#include "core/memory_manager.h"

// (key + 1) & 0x7FFFFFFF, computed unsigned. Keys -1 and 0x7FFFFFFF hash to 0, the empty mark, and are
// refused by Insert. A negative key shares its hash with a non-negative one (INT32_MIN with 0), so lookups
// compare the key as well as the hash.
inline int32_t CHashMap_IntHash(int32_t key)
{
    return static_cast<int32_t>((static_cast<uint32_t>(key) + 1u) & 0x7FFFFFFFu);
}

template <class V>
class CHashMap {
public:
    struct Element {
        int32_t key;
        V value;
        int32_t hash;
    };

    explicit CHashMap(int32_t capacity = 8) { Init(capacity); }
    ~CHashMap() { MemFree(elements_); }
    CHashMap(const CHashMap&) = delete;
    CHashMap& operator=(const CHashMap&) = delete;
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

    int32_t FindSlot(int32_t key) const
    {
        const int32_t h = CHashMap_IntHash(key);
        if (h == 0) return -1;
        int32_t s = h & mask_;
        for (int32_t d = 0; elements_[s].hash != 0; ++d) {
            if (d > Distance(s)) return -1;
            if (elements_[s].hash == h && elements_[s].key == key) return s;
            s = (s + 1) & mask_;
        }
        return -1;
    }

    V* Find(int32_t key)
    {
        const int32_t s = FindSlot(key);
        return s < 0 ? nullptr : &elements_[s].value;
    }

    // False for a key that hashes to the empty mark; an existing key has its value replaced and the count
    // is left alone.
    bool Insert(int32_t key, V value)
    {
        const int32_t h = CHashMap_IntHash(key);
        if (h == 0) return false;
        const int32_t existing = FindSlot(key);
        if (existing >= 0) {
            elements_[existing].value = value;
            return true;
        }
        if (growThreshold_ < count_) Grow();
        ++count_;
        Place(key, value, h);
        return true;
    }

    // Insert for a key the caller has just failed to find (skips the second lookup).
    bool InsertNew(int32_t key, V value)
    {
        const int32_t h = CHashMap_IntHash(key);
        if (h == 0) return false;
        if (growThreshold_ < count_) Grow();
        ++count_;
        Place(key, value, h);
        return true;
    }

    // Removes the key with a backward shift, so no tombstones are left.
    bool Delete(int32_t key)
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
    bool Next(int32_t* slot, int32_t* key, V* value) const
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
            if (elements_[s].hash != CHashMap_IntHash(elements_[s].key)) return false;
            const int32_t prev = (s + mask_) & mask_;
            const int32_t d = Distance(s);
            if (d > 0 && (elements_[prev].hash == 0 || Distance(prev) + 1 < d)) return false;
        }
        return live == count_;
    }

private:
    // Capacity × the single-precision 0.8 widened, truncated.
    static int32_t Threshold(int32_t capacity) { return static_cast<int32_t>(capacity * 0.800000011920929); }

    void Place(int32_t key, V value, int32_t h)
    {
        int32_t s = h & mask_;
        int32_t d = 0;
        while (elements_[s].hash != 0) {
            const int32_t r = Distance(s);
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
    }

    int32_t curSize_ = 0;
    int32_t count_ = 0;
    int32_t mask_ = 0;
    int32_t growThreshold_ = 0;
    Element* elements_ = nullptr;
};
