// The containers room layers keep their records in: an intrusive doubly linked list and a pool of ready-made
// records refilled in doubling batches. (The id maps are core/hashmap.h's CHashMap.)
#pragma once
#include <cstdint>
#include <new>

#include "core/memory_manager.h"

// What emptying a list does with each record.
enum LinkedListDeleteMode : int32_t {
    LINKED_LIST_KEEP = 0,            // nothing
    LINKED_LIST_DELETE = 1,          // released, then deleted
    LINKED_LIST_FREE = 2,            // freed through the memory manager
    LINKED_LIST_RELEASE_FREE = 3,    // released, then freed through the memory manager
};

// T carries its own links: T* next and T* prev. A record with a Release() member has it called before it
// goes in modes 1 and 3; kinds without one have nothing to release.
template <class T>
class LinkedList {
public:
    T* head = nullptr;
    T* tail = nullptr;
    int32_t count = 0;
    int32_t deleteMode = LINKED_LIST_KEEP;

    LinkedList() = default;
    explicit LinkedList(int32_t mode) : deleteMode(mode) {}
    LinkedList(const LinkedList&) = delete;
    LinkedList& operator=(const LinkedList&) = delete;

    void Append(T* record)
    {
        record->next = nullptr;
        record->prev = tail;
        if (tail) tail->next = record;
        else head = record;
        tail = record;
        ++count;
    }

    void Prepend(T* record)
    {
        record->prev = nullptr;
        record->next = head;
        if (head) head->prev = record;
        else tail = record;
        head = record;
        ++count;
    }

    void InsertAfter(T* anchor, T* record)
    {
        if (!anchor) {
            Prepend(record);
            return;
        }
        record->prev = anchor;
        record->next = anchor->next;
        if (anchor->next) anchor->next->prev = record;
        else tail = record;
        anchor->next = record;
        ++count;
    }

    // The record's own links are left as they were.
    void Unlink(T* record)
    {
        if (record->prev) record->prev->next = record->next;
        else head = record->next;
        if (record->next) record->next->prev = record->prev;
        else tail = record->prev;
        --count;
    }

    // Moves every record of other behind the tail in constant time; other is left empty.
    void AppendList(LinkedList& other)
    {
        if (&other == this || !other.head) return;
        if (tail) {
            tail->next = other.head;
            other.head->prev = tail;
        } else {
            head = other.head;
        }
        tail = other.tail;
        count += other.count;
        other.head = other.tail = nullptr;
        other.count = 0;
    }

    void Clear(int32_t mode)
    {
        for (T* r = head; r;) {
            T* next = r->next;
            Dispose(r, mode);
            r = next;
        }
        head = tail = nullptr;
        count = 0;
    }
    void Clear() { Clear(deleteMode); }

private:
    static void Dispose(T* r, int32_t mode)
    {
        if (mode == LINKED_LIST_DELETE || mode == LINKED_LIST_RELEASE_FREE) {
            if constexpr (requires(T* t) { t->Release(); }) r->Release();
        }
        if (mode == LINKED_LIST_DELETE) {
            delete r;
        } else if (mode == LINKED_LIST_FREE || mode == LINKED_LIST_RELEASE_FREE) {
            r->~T();
            MemoryManager::Free(r);
        }
    }
};

// Free records of one kind, reused last-freed-first; an empty pool makes its grow count of new records and
// doubles it. Records go back to the memory manager only when the pool itself goes.
template <class T>
class ObjectPool {
public:
    explicit ObjectPool(int32_t initial) : free_(LINKED_LIST_RELEASE_FREE), growCount_(initial) { Make(initial); }
    ~ObjectPool() { free_.Clear(LINKED_LIST_RELEASE_FREE); }
    ObjectPool(const ObjectPool&) = delete;
    ObjectPool& operator=(const ObjectPool&) = delete;

    T* Alloc()
    {
        if (!free_.head) {
            Make(growCount_);
            growCount_ *= 2;
        }
        T* r = free_.head;
        free_.Unlink(r);
        r->next = r->prev = nullptr;
        return r;
    }

    // Back to the kind's defaults (links cleared) and to the head of the free list.
    void Free(T* record)
    {
        record->~T();
        ::new (static_cast<void*>(record)) T();
        free_.Prepend(record);
    }

    int32_t FreeCount() const { return free_.count; }
    int32_t GrowCount() const { return growCount_; }

private:
    void Make(int32_t n)
    {
        for (int32_t i = 0; i < n; ++i)
            free_.Prepend(::new (MemoryManager::Alloc(sizeof(T), __FILE__, __LINE__, true)) T());
    }

    LinkedList<T> free_;
    int32_t growCount_;
};
