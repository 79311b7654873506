#include "world/room_records.h"

#include "core/memory_manager.h"

RoomRecordBlock* RoomRecords_NewBlock(int32_t count, size_t recordSize, bool owns)
{
    size_t bytes = sizeof(RoomRecordBlock) + size_t(count) * sizeof(void*) + (owns ? size_t(count) * recordSize : 0);
    auto* block = static_cast<RoomRecordBlock*>(MemAlloc(bytes));
    if (!block) return nullptr;
    block->refs = 1;
    block->count = count;
    block->owns = owns;
    block->addresses = reinterpret_cast<const void**>(block + 1);
    return block;
}

void* RoomRecords_Owned(RoomRecordBlock* block, size_t recordSize, int32_t i)
{
    auto* records = reinterpret_cast<uint8_t*>(block->addresses + block->count);
    return records + size_t(i) * recordSize;
}

RoomRecordBlock* RoomRecords_CopyBlock(const RoomRecordBlock* source, size_t recordSize, int32_t extra)
{
    int32_t count = source ? source->count : 0;
    RoomRecordBlock* block = RoomRecords_NewBlock(count + extra, recordSize, true);
    if (!block) return nullptr;
    for (int32_t i = 0; i < count + extra; ++i) block->addresses[i] = RoomRecords_Owned(block, recordSize, i);
    for (int32_t i = 0; i < count; ++i)
        std::memcpy(RoomRecords_Owned(block, recordSize, i), source->addresses[i], recordSize);
    return block;
}

void RoomRecords_Release(RoomRecordBlock* block)
{
    if (block && --block->refs == 0) MemFree(block);
}
