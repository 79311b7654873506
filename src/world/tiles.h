// Legacy room tiles: a room resource's tile records and a running room's tile array, with the operations
// behind the tile built-ins. Rooms hold a TileRecords and a RunningTiles as members; nothing here needs the
// room itself.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

// A tile of a room resource, as the game data lays it out (48 bytes).
struct RoomTile {
    int32_t x;
    int32_t y;
    int32_t background;
    int32_t left;  // the part of the background
    int32_t top;
    int32_t width;
    int32_t height;
    int32_t depth;
    int32_t id;
    float xscale;
    float yscale;
    uint32_t colour;  // low 24 bits the blend, top byte the alpha x 255
};
static_assert(sizeof(RoomTile) == 48 && std::is_trivially_copyable_v<RoomTile>);

// A tile of the running room.
struct RunningTile {
    float x;
    float y;
    int32_t background;
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
    float depth;
    int32_t id;
    float xscale;
    float yscale;
    int32_t blend;
    float alpha;
    bool visible;
};
static_assert(std::is_trivially_copyable_v<RunningTile>);  // moved by memory copy

// One counter gives ids to resource tiles and running tiles: raised by one before each use. The game
// header's last tile id seeds it; tiles from the data keep their stored ids.
extern int32_t Room_TileIdCounter;
int32_t Room_NextTileId();

// ---- tile records of a room resource -------------------------------------------------------------------

struct TileRecordBlock;

// Records of a loaded room lie in the game data (possibly unaligned, so they are read by copy); records
// added at run time live in the block. Blocks are shared by the rooms copied from one another and are never
// changed once made: a change makes a new block, and the last holder frees the old one.
class TileRecords {
public:
    TileRecords() = default;
    TileRecords(const TileRecords& other);  // shares the block
    TileRecords& operator=(const TileRecords& other);
    TileRecords(TileRecords&& other) noexcept;
    TileRecords& operator=(TileRecords&& other) noexcept;
    ~TileRecords();

    int32_t Count() const;
    // A copy of record i; i must be in [0, Count()).
    RoomTile At(int32_t i) const;
    // True when another holder uses the same block.
    bool Shared() const;
    // True when the records live in the block itself (a copy or a run-time addition).
    bool OwnsRecords() const;
    // The record addresses, for code that must tell records in the data from allocated ones.
    const void* RecordAddress(int32_t i) const;

private:
    friend void TileRecords_SetFromData(TileRecords&, const void* const*, int32_t);
    friend void TileRecords_SetCopy(TileRecords&, const TileRecords&);
    friend int32_t TileRecords_Add(TileRecords&, int32_t, int32_t, int32_t, int32_t, int32_t, double, double,
                                   double, float, float, uint32_t);
    friend void TileRecords_Clear(TileRecords&);
    void Adopt(TileRecordBlock* block);  // releases the current block, takes the new one (count 1)
    TileRecordBlock* block_ = nullptr;
};

// Records in the loaded game data: count addresses of 48-byte records (checked by the caller).
void TileRecords_SetFromData(TileRecords& records, const void* const* addresses, int32_t count);
// A block of its own holding copies of the source's records (a room that owns its records).
void TileRecords_SetCopy(TileRecords& records, const TileRecords& source);
// room_tile_add: a new block with the old records and one more with the next tile id; x, y and depth come
// from reals and are truncated by the checked conversion. Returns the id.
int32_t TileRecords_Add(TileRecords& records, int32_t background, int32_t left, int32_t top, int32_t width,
                        int32_t height, double x, double y, double depth, float xscale, float yscale,
                        uint32_t colour);
// room_tile_clear: lets go of the block; the room holds no records.
void TileRecords_Clear(TileRecords& records);

// ---- the running room's tiles ----------------------------------------------------------------------------

struct RunningTiles {
    RunningTiles() = default;
    ~RunningTiles();
    RunningTiles(const RunningTiles&) = delete;
    RunningTiles& operator=(const RunningTiles&) = delete;

    int32_t count = 0;
    int32_t capacity = 0;
    RunningTile* items = nullptr;
    int32_t lastFound = -1;  // index of the last tile found by id
};

// Frees the array; capacity 0.
void RunningTiles_Free(RunningTiles& tiles);
// The tiles of a starting room, one per record in record order (replaces what the array held).
void RunningTiles_FromRecords(RunningTiles& tiles, const TileRecords& records);
// A copy of another room's running tiles (replaces what the array held).
void RunningTiles_Copy(RunningTiles& tiles, const RunningTiles& source);

// tile_add: appends the tile with the next tile id, growing by 10; remembers and returns the new index.
int32_t RunningTiles_Add(RunningTiles& tiles, const RunningTile& tile);
// Index of the tile with that id (the remembered index first), -1 when none.
int32_t RunningTiles_Find(RunningTiles& tiles, int32_t id);
// Index out of [0, count) does nothing; later tiles move down; an emptied array is freed.
void RunningTiles_Delete(RunningTiles& tiles, int32_t index);
// Depths compare exactly: the caller narrows its real to a float.
void RunningTiles_DeleteLayer(RunningTiles& tiles, float depth);
// Removes the tiles of that depth under the point: x <= px < x + width * xscale, likewise for y.
void RunningTiles_DeleteAt(RunningTiles& tiles, float depth, double px, double py);
void RunningTiles_HideLayer(RunningTiles& tiles, float depth);
void RunningTiles_ShowLayer(RunningTiles& tiles, float depth);
void RunningTiles_ShiftLayer(RunningTiles& tiles, float depth, double dx, double dy);
void RunningTiles_SetLayerDepth(RunningTiles& tiles, float depth, float newDepth);
// Among the tiles of that depth under the point, the one whose centre is nearest; the earlier one on equal
// distances; -1 when none.
int32_t RunningTiles_FindAt(const RunningTiles& tiles, float depth, double px, double py);
// Largest depth first, equal depths in their order; one pass and no moves when already in order.
void RunningTiles_Sort(RunningTiles& tiles);
