// The record blocks of a room resource: its tile records and its instance records.
//
// Records of a loaded room lie in the game data (possibly unaligned, so they are read by copy); records made
// at run time live in the block itself. A block is shared by the rooms copied from one another and is never
// changed once made: a change makes a new block, and the last holder frees the old one. So a running copy
// keeps what it started from whatever scripts do to the resource, and the game data is never written here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// One allocation: this header, count record addresses, then (when owns) the records themselves.
struct RoomRecordBlock {
    int32_t refs;
    int32_t count;
    bool owns;
    const void** addresses;
};

RoomRecordBlock* RoomRecords_NewBlock(int32_t count, size_t recordSize, bool owns);
// A new owning block of the source's records and extra more (left for the caller), null without memory.
RoomRecordBlock* RoomRecords_CopyBlock(const RoomRecordBlock* source, size_t recordSize, int32_t extra);
void RoomRecords_Release(RoomRecordBlock* block);
// Where record i of an owning block is stored.
void* RoomRecords_Owned(RoomRecordBlock* block, size_t recordSize, int32_t i);

template <class T>
class RoomRecords {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    RoomRecords() = default;
    RoomRecords(const RoomRecords& other) : block_(other.block_) { Retain(block_); }
    RoomRecords& operator=(const RoomRecords& other)
    {
        Retain(other.block_);
        RoomRecords_Release(block_);
        block_ = other.block_;
        return *this;
    }
    RoomRecords(RoomRecords&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
    RoomRecords& operator=(RoomRecords&& other) noexcept
    {
        if (this != &other) {
            RoomRecords_Release(block_);
            block_ = other.block_;
            other.block_ = nullptr;
        }
        return *this;
    }
    ~RoomRecords() { RoomRecords_Release(block_); }

    int32_t Count() const { return block_ ? block_->count : 0; }
    // A copy of record i; i must be in [0, Count()).
    T At(int32_t i) const
    {
        T record;
        std::memcpy(&record, block_->addresses[i], sizeof record);
        return record;
    }
    // True when another holder uses the same block.
    bool Shared() const { return block_ && block_->refs > 1; }
    // True when the records live in the block itself (a copy or a run-time addition).
    bool OwnsRecords() const { return block_ && block_->owns; }
    // The record addresses, for code that must tell records in the data from allocated ones.
    const void* RecordAddress(int32_t i) const { return block_->addresses[i]; }

    // Records in the loaded game data: count addresses of sizeof(T)-byte records (checked by the caller).
    void SetFromData(const void* const* addresses, int32_t count)
    {
        RoomRecordBlock* block = count > 0 ? RoomRecords_NewBlock(count, sizeof(T), false) : nullptr;
        if (block)
            for (int32_t i = 0; i < count; ++i) block->addresses[i] = addresses[i];
        Adopt(block);
    }
    // A block of its own holding copies of the source's records (a room that owns its records).
    void SetCopy(const RoomRecords& source)
    {
        // Built before the old block goes: source may be this holder.
        Adopt(source.Count() ? RoomRecords_CopyBlock(source.block_, sizeof(T), 0) : nullptr);
    }
    // A new block with the old records and this one after them; false (nothing changed) without memory.
    bool Append(const T& record)
    {
        if (Count() == INT32_MAX) return false;
        RoomRecordBlock* block = RoomRecords_CopyBlock(block_, sizeof(T), 1);
        if (!block) return false;
        std::memcpy(RoomRecords_Owned(block, sizeof(T), block->count - 1), &record, sizeof record);
        Adopt(block);
        return true;
    }
    // Lets go of the block; the room holds no records.
    void Clear() { Adopt(nullptr); }

private:
    static void Retain(RoomRecordBlock* block)
    {
        if (block) ++block->refs;
    }
    void Adopt(RoomRecordBlock* block)
    {
        RoomRecords_Release(block_);
        block_ = block;
    }
    RoomRecordBlock* block_ = nullptr;
};
