// ds_list, ds_stack and ds_queue: values in one growable block, with the growth steps, slot states, the
// insertion sort, the shuffle's draws and the queue's compaction that scripts can observe.
#include "core/console.h"
#include "core/random.h"
#include "core/value.h"
#include "ds/ds.h"
#include "ds/ds_internal.h"
#include "world/object_base.h"

#include <algorithm>
#include <new>

namespace {

void* DsSeq_New(size_t size)
{
    void* p = MemoryManager::Alloc(size, __FILE__, __LINE__, true);
    if (!p) throw std::bad_alloc();
    return p;
}

// A value to store, read before the block may move (it may be one of the block's own slots).
RValue DsSeq_Hold(const RValue& v)
{
    RValue held;
    std::memcpy(static_cast<void*>(&held), &v, sizeof held);
    return held;
}

// The value in a slot that may hold anything the block kept: freed, then a copy of v. Numbers into a slot
// that holds nothing shared are the common case of a long append: no call for them.
void DsSeq_Store(RValue* slot, const RValue& v)
{
    if (slot == &v) return;
    const uint32_t kind = RValue_Kind(&v);
    if (!RValue_NeedsFree(slot) && (kind == VALUE_REAL || kind == VALUE_INT64 || kind == VALUE_BOOL)) {
        slot->v64 = v.v64;
        slot->flags = v.flags;
        slot->kind = v.kind;
        return;
    }
    RValue_Copy(slot, &v);
}

}  // namespace

// ---- Lists ----

void* CDS_List::operator new(size_t size) { return DsSeq_New(size); }
void CDS_List::operator delete(void* p) { MemoryManager::Free(p); }

CDS_List::~CDS_List()
{
    // Clear and release in one pass: nothing is left behind to be undefined.
    DsWorkList work;
    for (int32_t i = 0; i < m_store.used; ++i) {
        RValue* v = &m_store.items[i];
        if (i < m_count) DsNested_Collect(v, &work);
        if (RValue_NeedsFree(v)) RValue_Free(v);
    }
    m_count = 0;
    if (!work.empty()) {
        m_clearing = true;
        DsNested_Destroy(&work);
    }
    MemFree(m_store.items);
}

RValue* CDS_List::GetItem(int32_t index) { return index >= 0 && index < m_count ? &m_store.items[index] : nullptr; }

RValue* CDS_List::Slot(int32_t index)
{
    return index >= 0 && index < m_store.capacity ? &m_store.items[index] : nullptr;
}

void CDS_List::Add(const RValue& v)
{
    const RValue value = DsSeq_Hold(v);
    if (m_count == m_store.capacity &&
        !DsStorage_Reserve(&m_store, int64_t(m_count) + std::max(16, m_store.capacity / 8)))
        return;
    DsSeq_Store(&m_store.items[m_count], value);
    ++m_count;
}

void CDS_List::Insert(int32_t index, const RValue& v)
{
    if (index < 0 || index > m_count) return;
    const RValue value = DsSeq_Hold(v);
    if (m_count >= m_store.capacity && !DsStorage_Reserve(&m_store, int64_t(m_count) + 16)) return;
    RValue* items = m_store.items;
    RValue_Free(&items[m_count]);
    for (int32_t i = m_count; i > index; --i) DsValue_Move(&items[i], &items[i - 1]);
    ++m_count;
    RValue_SetReal(&items[index], 0.0);
    RValue_Copy(&items[index], &value);
}

void CDS_List::Set(int32_t index, const RValue& v, RValue* previous)
{
    if (index < 0) return;
    const RValue value = DsSeq_Hold(v);
    const int64_t count = std::max<int64_t>(m_count, int64_t(index) + 1);
    if (count >= m_store.capacity && !DsStorage_Reserve(&m_store, count + 16)) return;
    m_count = static_cast<int32_t>(count);
    RValue* slot = &m_store.items[index];
    if (previous) RValue_Copy(previous, slot);
    DsSeq_Store(slot, value);
}

void CDS_List::Replace(int32_t index, const RValue& v)
{
    if (RValue* slot = GetItem(index)) DsSeq_Store(slot, v);
}

void CDS_List::Delete(int32_t index)
{
    if (index < 0 || index >= m_count) return;
    RValue* items = m_store.items;
    RValue_Free(&items[index]);
    for (int32_t i = index; i < m_count - 1; ++i) DsValue_Move(&items[i], &items[i + 1]);
    RValue_SetReal(&items[m_count - 1], 0.0);
    --m_count;
}

int32_t CDS_List::FindIndex(const RValue& v)
{
    for (int32_t i = 0; i < m_count; ++i)
        if (RValue_Compare(m_store.items[i], v, DS_Precision) == 0) return i;
    return -1;
}

void CDS_List::Sort(bool ascending)
{
    RValue* items = m_store.items;
    for (int32_t i = 1; i < m_count; ++i)
        for (int32_t n = i; n > 0 && (RValue_Compare(items[n - 1], items[n], DS_Precision) > 0) == ascending; --n)
            DsValue_Swap(&items[n - 1], &items[n]);
}

void CDS_List::Shuffle()
{
    const int64_t swaps = int64_t(m_count) * 8;
    for (int64_t k = 0; k < swaps; ++k) {
        const int32_t i1 = static_cast<int32_t>(Random_Int(m_count));
        const int32_t i2 = static_cast<int32_t>(Random_Int(m_count));
        if (i1 < 0 || i1 >= m_count) {
            DebugConsole->Output("ind1=%d", i1);
            continue;
        }
        if (i2 < 0 || i2 >= m_count) {
            DebugConsole->Output("ind2=%d", i2);
            continue;
        }
        DsValue_Swap(&m_store.items[i1], &m_store.items[i2]);
    }
}

void CDS_List::RemoveAll()
{
    for (int32_t i = 0; i < m_count; ++i) {
        RValue* v = &m_store.items[i];
        if (RValue_NeedsFree(v)) RValue_Free(v);
        else RValue_SetUndefined(v);
    }
    m_count = 0;
}

void CDS_List::Clear()
{
    DsWorkList work;
    for (int32_t i = 0; i < m_count; ++i) {
        RValue* v = &m_store.items[i];
        DsNested_Collect(v, &work);
        if (RValue_NeedsFree(v)) RValue_Free(v);
        else RValue_SetUndefined(v);
    }
    m_count = 0;
    if (!work.empty()) {
        // A nested container that marks this list back must not reach it: this one stays alive.
        const bool was = m_clearing;
        m_clearing = true;
        DsNested_Destroy(&work);
        m_clearing = was;
    }
    RemoveAll();
}

void CDS_List::Assign(const CDS_List& source)
{
    if (&source == this) return;
    if (!DsStorage_CopyFrom(&m_store, source.m_store)) return;
    m_count = source.m_count;
    DsNested_CopyList(this, &source);
}

void CDS_List::MarkReferences(uint8_t* marks, int32_t capacity)
{
    for (int32_t i = 0; i < m_count; ++i) RValue_Mark(&m_store.items[i], marks, capacity);
}

// ---- Stacks ----

void* CDS_Stack::operator new(size_t size) { return DsSeq_New(size); }
void CDS_Stack::operator delete(void* p) { MemoryManager::Free(p); }

CDS_Stack::~CDS_Stack() { Clear(); }

void CDS_Stack::Push(const RValue& v)
{
    const RValue value = DsSeq_Hold(v);
    if (m_count >= m_store.capacity && !DsStorage_Reserve(&m_store, int64_t(m_count) + 16)) return;
    DsSeq_Store(&m_store.items[m_count], value);
    ++m_count;
}

RValue* CDS_Stack::Pop() { return m_count > 0 ? &m_store.items[--m_count] : nullptr; }

RValue* CDS_Stack::Top() { return m_count > 0 ? &m_store.items[m_count - 1] : nullptr; }

RValue* CDS_Stack::Slot(int32_t index)
{
    return index >= 0 && index < m_store.capacity ? &m_store.items[index] : nullptr;
}

void CDS_Stack::Clear()
{
    // Popped slots still hold their values until overwritten: they go with the block.
    DsStorage_Release(&m_store);
    m_count = 0;
}

void CDS_Stack::Assign(const CDS_Stack& source)
{
    if (&source == this || !DsStorage_CopyFrom(&m_store, source.m_store)) return;
    m_count = source.m_count;
}

void CDS_Stack::MarkReferences(uint8_t* marks, int32_t capacity)
{
    for (int32_t i = 0; i < m_count; ++i) RValue_Mark(&m_store.items[i], marks, capacity);
}

// ---- Queues ----

void* CDS_Queue::operator new(size_t size) { return DsSeq_New(size); }
void CDS_Queue::operator delete(void* p) { MemoryManager::Free(p); }

CDS_Queue::~CDS_Queue()
{
    Clear();
    DsStorage_Release(&m_store);
}

void CDS_Queue::Enqueue(const RValue& v)
{
    const RValue value = DsSeq_Hold(v);
    if (m_tail >= m_store.capacity && !DsStorage_Reserve(&m_store, int64_t(m_tail) + 16)) return;
    DsSeq_Store(&m_store.items[m_tail], value);
    ++m_tail;
}

RValue* CDS_Queue::Dequeue()
{
    if (m_head == m_tail) return nullptr;
    const int32_t taken = m_head++;
    if (m_head > 16 && m_head > m_tail / 2) {
        // Compaction copies the live run down; the dequeued slot lies at or above the new tail and keeps
        // its value for the caller.
        RValue* items = m_store.items;
        for (int32_t i = 0; i < m_tail - m_head; ++i) RValue_Copy(&items[i], &items[m_head + i]);
        m_tail -= m_head;
        m_head = 0;
    }
    return &m_store.items[taken];
}

RValue* CDS_Queue::Head() { return m_head != m_tail ? &m_store.items[m_head] : nullptr; }

RValue* CDS_Queue::Tail() { return m_head != m_tail ? &m_store.items[m_tail - 1] : nullptr; }

RValue* CDS_Queue::Slot(int32_t index)
{
    return index >= 0 && index < m_store.capacity ? &m_store.items[index] : nullptr;
}

void CDS_Queue::Clear()
{
    // The block stays for reuse: its slots read as undefined from now on.
    for (int32_t i = 0; i < m_store.capacity; ++i) RValue_Free(&m_store.items[i]);
    m_tail = 0;
    m_head = 0;
    m_store.capacity = 0;
}

void CDS_Queue::Assign(const CDS_Queue& source)
{
    if (&source == this || !DsStorage_CopyFrom(&m_store, source.m_store)) return;
    m_tail = source.m_tail;
    m_head = source.m_head;
}

void CDS_Queue::MarkReferences(uint8_t* marks, int32_t capacity)
{
    // Every slot, dequeued ones too: they are written out with the queue and read back.
    for (int32_t i = 0; i < m_store.capacity; ++i) RValue_Mark(&m_store.items[i], marks, capacity);
}
