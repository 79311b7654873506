// Legacy room tiles: a room resource's tile records and a running room's tile array, with the operations
// behind the tile built-ins. Rooms hold a TileRecords and a RunningTiles as members; nothing here needs the
// room itself.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "world/room_records.h"

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

using TileRecords = RoomRecords<RoomTile>;

// room_tile_add: a new block with the old records and one more with the next tile id; x, y and depth come
// from reals and are truncated by the checked conversion. Returns the id (-1 without memory).
int32_t TileRecords_Add(TileRecords& records, int32_t background, int32_t left, int32_t top, int32_t width,
                        int32_t height, double x, double y, double depth, float xscale, float yscale,
                        uint32_t colour);

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
