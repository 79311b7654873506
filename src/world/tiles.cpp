#include "world/tiles.h"

#include "core/convert.h"
#include "core/memory_manager.h"

#include <climits>
#include <cstring>

int32_t Room_TileIdCounter = 0;

int32_t Room_NextTileId()
{
    // Wraps instead of overflowing: a game header may hold any value.
    Room_TileIdCounter = int32_t(uint32_t(Room_TileIdCounter) + 1u);
    return Room_TileIdCounter;
}

// ---- tile records ---------------------------------------------------------------------------------------

int32_t TileRecords_Add(TileRecords& records, int32_t background, int32_t left, int32_t top, int32_t width,
                        int32_t height, double x, double y, double depth, float xscale, float yscale,
                        uint32_t colour)
{
    RoomTile t;
    t.x = Real_ToInt32(x);
    t.y = Real_ToInt32(y);
    t.background = background;
    t.left = left;
    t.top = top;
    t.width = width;
    t.height = height;
    t.depth = Real_ToInt32(depth);
    t.id = Room_NextTileId();
    t.xscale = xscale;
    t.yscale = yscale;
    t.colour = colour;
    return records.Append(t) ? t.id : -1;
}

// ---- running tiles --------------------------------------------------------------------------------------

namespace {

constexpr int32_t kRunningTilesGrowth = 10;

bool RunningTiles_Under(const RunningTile& t, double px, double py)
{
    double right = double(t.x) + double(t.width) * double(t.xscale);
    double bottom = double(t.y) + double(t.height) * double(t.yscale);
    return double(t.x) <= px && px < right && double(t.y) <= py && py < bottom;
}

// Keeps, in order, the tiles the predicate refuses; frees an emptied array.
template <class Remove>
void RunningTiles_RemoveIf(RunningTiles& tiles, Remove remove)
{
    int32_t kept = 0;
    for (int32_t i = 0; i < tiles.count; ++i) {
        if (remove(tiles.items[i])) continue;
        if (kept != i) tiles.items[kept] = tiles.items[i];
        ++kept;
    }
    tiles.count = kept;
    if (kept == 0) RunningTiles_Free(tiles);
}

}  // namespace

RunningTiles::~RunningTiles() { MemFree(items); }

void RunningTiles_Free(RunningTiles& tiles)
{
    MemFree(tiles.items);
    tiles.items = nullptr;
    tiles.count = 0;
    tiles.capacity = 0;
    tiles.lastFound = -1;
}

void RunningTiles_FromRecords(RunningTiles& tiles, const TileRecords& records)
{
    RunningTiles_Free(tiles);
    int32_t count = records.Count();
    if (count == 0) return;
    tiles.items = static_cast<RunningTile*>(MemAlloc(size_t(count) * sizeof(RunningTile)));
    if (tiles.items == nullptr) return;
    tiles.capacity = count;
    for (int32_t i = 0; i < count; ++i) {
        RoomTile r = records.At(i);
        RunningTile& t = tiles.items[i];
        t.x = float(r.x);
        t.y = float(r.y);
        t.background = r.background;
        t.left = r.left;
        t.top = r.top;
        t.width = r.width;
        t.height = r.height;
        t.depth = float(r.depth);
        t.id = r.id;
        t.xscale = r.xscale;
        t.yscale = r.yscale;
        t.blend = int32_t(r.colour & 0xFFFFFFu);
        t.alpha = float(r.colour >> 24) / 255.0f;
        t.visible = true;
    }
    tiles.count = count;
}

void RunningTiles_Copy(RunningTiles& tiles, const RunningTiles& source)
{
    if (&tiles == &source) return;
    RunningTiles_Free(tiles);
    if (source.count == 0) return;
    tiles.items = static_cast<RunningTile*>(MemAlloc(size_t(source.capacity) * sizeof(RunningTile)));
    if (tiles.items == nullptr) return;
    std::memcpy(tiles.items, source.items, size_t(source.count) * sizeof(RunningTile));
    tiles.count = source.count;
    tiles.capacity = source.capacity;
    tiles.lastFound = source.lastFound;
}

int32_t RunningTiles_Add(RunningTiles& tiles, const RunningTile& tile)
{
    if (tiles.count >= tiles.capacity) {
        if (tiles.capacity > INT32_MAX - kRunningTilesGrowth) return -1;
        int32_t capacity = tiles.capacity + kRunningTilesGrowth;
        void* grown = tiles.items == nullptr ? MemAlloc(size_t(capacity) * sizeof(RunningTile))
                                             : MemReAlloc(tiles.items, size_t(capacity) * sizeof(RunningTile));
        if (grown == nullptr) return -1;
        tiles.items = static_cast<RunningTile*>(grown);
        tiles.capacity = capacity;
    }
    int32_t index = tiles.count++;
    tiles.items[index] = tile;
    tiles.items[index].id = Room_NextTileId();
    tiles.lastFound = index;
    return index;
}

int32_t RunningTiles_Find(RunningTiles& tiles, int32_t id)
{
    int32_t last = tiles.lastFound;
    if (last >= 0 && last < tiles.count && tiles.items[last].id == id) return last;
    for (int32_t i = 0; i < tiles.count; ++i) {
        if (tiles.items[i].id == id) {
            tiles.lastFound = i;
            return i;
        }
    }
    return -1;
}

void RunningTiles_Delete(RunningTiles& tiles, int32_t index)
{
    if (index < 0 || index >= tiles.count) return;
    std::memmove(tiles.items + index, tiles.items + index + 1,
                 size_t(tiles.count - index - 1) * sizeof(RunningTile));
    if (--tiles.count == 0) RunningTiles_Free(tiles);
}

void RunningTiles_DeleteLayer(RunningTiles& tiles, float depth)
{
    RunningTiles_RemoveIf(tiles, [depth](const RunningTile& t) { return t.depth == depth; });
}

void RunningTiles_DeleteAt(RunningTiles& tiles, float depth, double px, double py)
{
    RunningTiles_RemoveIf(tiles, [=](const RunningTile& t) {
        return t.depth == depth && RunningTiles_Under(t, px, py);
    });
}

void RunningTiles_HideLayer(RunningTiles& tiles, float depth)
{
    for (int32_t i = 0; i < tiles.count; ++i)
        if (tiles.items[i].depth == depth) tiles.items[i].visible = false;
}

void RunningTiles_ShowLayer(RunningTiles& tiles, float depth)
{
    for (int32_t i = 0; i < tiles.count; ++i)
        if (tiles.items[i].depth == depth) tiles.items[i].visible = true;
}

void RunningTiles_ShiftLayer(RunningTiles& tiles, float depth, double dx, double dy)
{
    for (int32_t i = 0; i < tiles.count; ++i) {
        RunningTile& t = tiles.items[i];
        if (t.depth != depth) continue;
        t.x = float(double(t.x) + dx);
        t.y = float(double(t.y) + dy);
    }
}

void RunningTiles_SetLayerDepth(RunningTiles& tiles, float depth, float newDepth)
{
    for (int32_t i = 0; i < tiles.count; ++i)
        if (tiles.items[i].depth == depth) tiles.items[i].depth = newDepth;
}

int32_t RunningTiles_FindAt(const RunningTiles& tiles, float depth, double px, double py)
{
    int32_t best = -1;
    float bestDistance = 0.0f;
    float fx = float(px);
    float fy = float(py);
    for (int32_t i = 0; i < tiles.count; ++i) {
        const RunningTile& t = tiles.items[i];
        if (t.depth != depth || !RunningTiles_Under(t, px, py)) continue;
        float cx = t.x + float(t.width) * t.xscale / 2.0f;
        float cy = t.y + float(t.height) * t.yscale / 2.0f;
        float distance = (cx - fx) * (cx - fx) + (cy - fy) * (cy - fy);
        // Strictly nearer only: on a tie the earlier tile stays.
        if (best < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

void RunningTiles_Sort(RunningTiles& tiles)
{
    RunningTile* items = tiles.items;
    int32_t n = tiles.count;
    int32_t i = 1;
    while (i < n && items[i].depth <= items[i - 1].depth) ++i;
    if (i >= n) return;
    // Insertion sort from the first tile out of order; a tile passes only strictly smaller depths, so
    // equal depths keep their order.
    for (; i < n; ++i) {
        if (!(items[i].depth > items[i - 1].depth)) continue;
        RunningTile moving = items[i];
        int32_t j = i - 1;
        while (j > 0 && moving.depth > items[j - 1].depth) --j;
        std::memmove(items + j + 1, items + j, size_t(i - j) * sizeof(RunningTile));
        items[j] = moving;
    }
}
