// ds_priority: values and their priorities in two parallel unsorted arrays; minimum and maximum by a linear
// scan (the lowest slot wins a tie), removal by moving the last entry into the hole.
#include "core/value.h"
#include "ds/ds.h"
#include "ds/ds_internal.h"
#include "world/object_base.h"

#include <new>

void* CDS_Priority::operator new(size_t size)
{
    void* p = MemoryManager::Alloc(size, __FILE__, __LINE__, true);
    if (!p) throw std::bad_alloc();
    return p;
}

void CDS_Priority::operator delete(void* p) { MemoryManager::Free(p); }

CDS_Priority::~CDS_Priority() { Clear(); }

void CDS_Priority::Add(const RValue& value, const RValue& priority)
{
    RValue v, p;
    std::memcpy(static_cast<void*>(&v), &value, sizeof v);
    std::memcpy(static_cast<void*>(&p), &priority, sizeof p);
    if (m_count >= m_values.capacity) {
        const int64_t capacity = int64_t(m_count) + 16;
        if (!DsStorage_Reserve(&m_values, capacity) || !DsStorage_Reserve(&m_priorities, capacity)) return;
    }
    RValue_Copy(&m_values.items[m_count], &v);
    RValue_Copy(&m_priorities.items[m_count], &p);
    ++m_count;
}

RValue* CDS_Priority::FindPriority(const RValue& value)
{
    for (int32_t i = 0; i < m_count; ++i)
        if (RValue_Compare(m_values.items[i], value, DS_Precision) == 0) return &m_priorities.items[i];
    return nullptr;
}

void CDS_Priority::ChangePriority(const RValue& value, const RValue& priority)
{
    if (RValue* slot = FindPriority(value)) RValue_Copy(slot, &priority);
}

int32_t CDS_Priority::Extreme(bool maximum) const
{
    int32_t candidate = 0;
    for (int32_t i = 1; i < m_count; ++i) {
        const int32_t c = RValue_Compare(m_priorities.items[i], m_priorities.items[candidate], DS_Precision);
        if (maximum ? c > 0 : c < 0) candidate = i;
    }
    return candidate;
}

RValue* CDS_Priority::FindMin() { return m_count ? &m_values.items[Extreme(false)] : nullptr; }

RValue* CDS_Priority::FindMax() { return m_count ? &m_values.items[Extreme(true)] : nullptr; }

void CDS_Priority::RemoveSlot(int32_t slot)
{
    RValue_Free(&m_values.items[slot]);
    RValue_Free(&m_priorities.items[slot]);
    const int32_t last = m_count - 1;
    if (slot != last) {
        DsValue_Move(&m_values.items[slot], &m_values.items[last]);
        DsValue_Move(&m_priorities.items[slot], &m_priorities.items[last]);
    }
    --m_count;
}

void CDS_Priority::DeleteMin(RValue& result)
{
    RValue_Free(&result);
    RValue_SetReal(&result, 0.0);
    if (!m_count) return;
    const int32_t slot = Extreme(false);
    RValue_Copy(&result, &m_values.items[slot]);
    RemoveSlot(slot);
}

void CDS_Priority::DeleteMax(RValue& result)
{
    RValue_Free(&result);
    RValue_SetReal(&result, 0.0);
    if (!m_count) return;
    const int32_t slot = Extreme(true);
    RValue_Copy(&result, &m_values.items[slot]);
    RemoveSlot(slot);
}

void CDS_Priority::DeleteValue(const RValue& value)
{
    for (int32_t i = 0; i < m_count; ++i)
        if (RValue_Compare(m_values.items[i], value, DS_Precision) == 0) {
            RemoveSlot(i);
            return;
        }
}

void CDS_Priority::Clear()
{
    DsStorage_Release(&m_values);
    DsStorage_Release(&m_priorities);
    m_count = 0;
}

void CDS_Priority::Assign(const CDS_Priority& source)
{
    if (&source == this) return;
    if (!DsStorage_CopyFrom(&m_values, source.m_values) || !DsStorage_CopyFrom(&m_priorities, source.m_priorities))
        return;
    m_count = source.m_count;
}

void CDS_Priority::MarkReferences(uint8_t* marks, int32_t capacity)
{
    for (int32_t i = 0; i < m_values.capacity; ++i) RValue_Mark(&m_values.items[i], marks, capacity);
    for (int32_t i = 0; i < m_priorities.capacity; ++i) RValue_Mark(&m_priorities.items[i], marks, capacity);
}
