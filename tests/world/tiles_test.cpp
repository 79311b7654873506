// Legacy tiles: the running tile array's operations, the point tests with scales and ties, the tile-id
// counter, and the resource records shared between rooms (copy on write, freed by the last holder).
#include "world/tiles.h"

#include "core/memory_manager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

// A tile at (x, y) of size w x h with scales; the id is what the test names it by.
struct TilesTestSpec {
    float x, y;
    int32_t w, h;
    float depth;
    int32_t id;
    float xscale = 1.0f, yscale = 1.0f;
};

RunningTile TilesTest_Tile(const TilesTestSpec& s)
{
    RunningTile t{};
    t.x = s.x;
    t.y = s.y;
    t.width = s.w;
    t.height = s.h;
    t.depth = s.depth;
    t.id = s.id;
    t.xscale = s.xscale;
    t.yscale = s.yscale;
    t.blend = 0xFFFFFF;
    t.alpha = 1.0f;
    t.visible = true;
    return t;
}

// Fills the array as the room start would (records keep their ids), without the id counter.
void TilesTest_Fill(RunningTiles& tiles, const std::vector<TilesTestSpec>& specs)
{
    for (const auto& s : specs) {
        int32_t index = RunningTiles_Add(tiles, TilesTest_Tile(s));
        tiles.items[index].id = s.id;
    }
    tiles.lastFound = -1;
}

std::vector<int32_t> TilesTest_Ids(const RunningTiles& tiles)
{
    std::vector<int32_t> ids;
    for (int32_t i = 0; i < tiles.count; ++i) ids.push_back(tiles.items[i].id);
    return ids;
}

std::string TilesTest_Visible(const RunningTiles& tiles)
{
    std::string out;
    for (int32_t i = 0; i < tiles.count; ++i) out += tiles.items[i].visible ? 'V' : '-';
    return out;
}

class TilesTest : public ::testing::Test {
protected:
    void SetUp() override { savedCounter_ = Room_TileIdCounter; }
    void TearDown() override { Room_TileIdCounter = savedCounter_; }
    int32_t savedCounter_ = 0;
};

// ---- the array's operations, one row per case ---------------------------------------------------------

struct TilesTestRow {
    const char* name;
    std::vector<TilesTestSpec> tiles;
    std::function<int32_t(RunningTiles&)> act;
    int32_t result;                 // what act returns
    std::vector<int32_t> ids;       // ids afterwards, in order
    const char* visible;            // visibility afterwards, in order
    int32_t capacity;               // capacity afterwards (-1: not checked)
};

TEST_F(TilesTest, OperationsOnTheRunningArray)
{
    const TilesTestSpec a{0, 0, 16, 16, 10, 1}, b{0, 0, 16, 16, 20, 2}, c{0, 0, 16, 16, 10, 3};
    const TilesTestRow rows[] = {
        {"sort 10 20 10 gives 20 then both 10s in their order", {a, b, c},
         [](RunningTiles& t) { RunningTiles_Sort(t); return 0; }, 0, {2, 1, 3}, "VVV", -1},
        {"sort of an ordered array keeps it", {b, a, c},
         [](RunningTiles& t) { RunningTiles_Sort(t); return 0; }, 0, {2, 1, 3}, "VVV", -1},
        {"sort of the reverse order", {{0, 0, 1, 1, -5, 1}, {0, 0, 1, 1, 0, 2}, {0, 0, 1, 1, 7, 3}, {0, 0, 1, 1, 7, 4}},
         [](RunningTiles& t) { RunningTiles_Sort(t); return 0; }, 0, {3, 4, 2, 1}, "VVVV", -1},
        {"sort of nothing", {}, [](RunningTiles& t) { RunningTiles_Sort(t); return t.count; }, 0, {}, "", 0},
        {"hide 1000000 touches exactly that depth",
         {{0, 0, 1, 1, 1000000.0f, 1}, {0, 0, 1, 1, 1000000.0625f, 2}, {0, 0, 1, 1, 999999.0f, 3},
          {0, 0, 1, 1, 1000000.0f, 4}},
         [](RunningTiles& t) { RunningTiles_HideLayer(t, 1000000.0f); return 0; }, 0, {1, 2, 3, 4}, "-VV-", -1},
        {"show undoes hide at that depth only", {a, b, c},
         [](RunningTiles& t) {
             RunningTiles_HideLayer(t, 10);
             RunningTiles_HideLayer(t, 20);
             RunningTiles_ShowLayer(t, 10);
             return 0;
         },
         0, {1, 2, 3}, "V-V", -1},
        {"deleting the only tile frees the array", {a},
         [](RunningTiles& t) { RunningTiles_Delete(t, 0); return t.items == nullptr ? 1 : 0; }, 1, {}, "", 0},
        {"an add after the array was freed starts a new one of 10", {a},
         [](RunningTiles& t) {
             RunningTiles_Delete(t, 0);
             Room_TileIdCounter = 40;
             return RunningTiles_Add(t, TilesTest_Tile({0, 0, 1, 1, 0, 0}));
         },
         0, {41}, "V", 10},
        {"the eleventh tile grows the array by 10",
         {a, b, c, a, b, c, a, b, c, a},
         [](RunningTiles& t) {
             Room_TileIdCounter = 99;
             return RunningTiles_Add(t, TilesTest_Tile({0, 0, 1, 1, 0, 0}));
         },
         10, {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 100}, "VVVVVVVVVVV", 20},
        {"delete moves later tiles down", {a, b, c},
         [](RunningTiles& t) { RunningTiles_Delete(t, 0); return t.count; }, 2, {2, 3}, "VV", 10},
        {"delete out of range does nothing", {a, b},
         [](RunningTiles& t) {
             RunningTiles_Delete(t, -1);
             RunningTiles_Delete(t, 2);
             return t.count;
         },
         2, {1, 2}, "VV", 10},
        {"find by id, then after the remembered tile moved",
         {a, b, c},
         [](RunningTiles& t) {
             int32_t first = RunningTiles_Find(t, 2);
             RunningTiles_Delete(t, 0);  // index 1 now holds id 3
             return first * 10 + RunningTiles_Find(t, 2);
         },
         10, {2, 3}, "VV", -1},
        {"find of an unknown id", {a, b},
         [](RunningTiles& t) { return RunningTiles_Find(t, 7); }, -1, {1, 2}, "VV", -1},
        {"layer delete keeps the others in order", {a, b, c, {0, 0, 1, 1, 30, 4}},
         [](RunningTiles& t) { RunningTiles_DeleteLayer(t, 10); return t.count; }, 2, {2, 4}, "VV", -1},
        {"layer delete of every tile frees the array", {a, c},
         [](RunningTiles& t) { RunningTiles_DeleteLayer(t, 10); return t.capacity; }, 0, {}, "", 0},
        {"layer depth 100 to 50, order unchanged",
         {{0, 0, 1, 1, 100, 1}, {0, 0, 1, 1, 75, 2}, {0, 0, 1, 1, 100, 3}},
         [](RunningTiles& t) {
             RunningTiles_SetLayerDepth(t, 100, 50);
             return int32_t(t.items[0].depth * 1000 + t.items[1].depth * 10 + t.items[2].depth / 10);
         },
         50000 + 750 + 5, {1, 2, 3}, "VVV", -1},
        {"shift moves only that depth", {{1, 2, 1, 1, 5, 1}, {1, 2, 1, 1, 6, 2}},
         [](RunningTiles& t) {
             RunningTiles_ShiftLayer(t, 5, 10.5, -4);
             return int32_t(t.items[0].x * 10) * 1000 + int32_t(t.items[0].y * 10) * 10 +
                    int32_t(t.items[1].x + t.items[1].y);
         },
         115 * 1000 - 20 * 10 + 3, {1, 2}, "VV", -1},
        {"find at a point covered by two tiles picks the nearer centre",
         {{0, 0, 32, 32, 0, 1}, {8, 8, 8, 8, 0, 2}, {0, 0, 100, 100, 1, 3}},
         [](RunningTiles& t) { return RunningTiles_FindAt(t, 0, 12, 12); }, 1, {1, 2, 3}, "VVV", -1},
        {"find at a point under no tile of that depth", {{0, 0, 32, 32, 0, 1}, {40, 0, 8, 8, 1, 2}},
         [](RunningTiles& t) { return RunningTiles_FindAt(t, 1, 10, 10); }, -1, {1, 2}, "VV", -1},
        {"delete at a right edge keeps the tile", {{10, 10, 16, 16, 0, 1}},
         [](RunningTiles& t) { RunningTiles_DeleteAt(t, 0, 26, 12); return t.count; }, 1, {1}, "V", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RunningTiles tiles;
        TilesTest_Fill(tiles, row.tiles);
        EXPECT_EQ(row.act(tiles), row.result);
        EXPECT_EQ(TilesTest_Ids(tiles), row.ids);
        EXPECT_EQ(TilesTest_Visible(tiles), row.visible);
        if (row.capacity >= 0) {
            EXPECT_EQ(tiles.capacity, row.capacity);
        }
        EXPECT_EQ(tiles.items == nullptr, tiles.count == 0);
    }
}

// ---- areas with scales: [x, x + width * xscale) x [y, y + height * yscale) -----------------------------

TEST_F(TilesTest, DeleteAtAndFindAtUseTheScaledArea)
{
    struct Row {
        const char* name;
        float xscale, yscale;
        double px, py;
        bool under;
    };
    // One 10x20 tile at (100, 50).
    const Row rows[] = {
        {"top left corner is inside", 1, 1, 100, 50, true},
        {"right edge is outside", 1, 1, 110, 55, false},
        {"bottom edge is outside", 1, 1, 105, 70, false},
        {"just inside the right edge", 1, 1, 109.999, 55, true},
        {"doubled width reaches further", 2, 1, 115, 55, true},
        {"doubled width, new right edge outside", 2, 1, 120, 55, false},
        {"half height stops at 60", 1, 0.5f, 105, 60, false},
        {"half height, inside", 1, 0.5f, 105, 59.5, true},
        {"left of the tile", 2, 2, 99.5, 55, false},
        {"a mirrored tile covers nothing", -1, 1, 95, 55, false},
        {"a zero scale covers nothing", 0, 1, 100, 55, false},
        {"a scaled extent formed in double precision", 0.1f, 1, 100.99999999, 55, true},
        {"a NaN point is under nothing", 1, 1, std::nan(""), 55, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RunningTiles tiles;
        TilesTest_Fill(tiles, {{0, 0, 4, 4, 3, 7}, {100, 50, 10, 20, 3, 8, row.xscale, row.yscale}});
        EXPECT_EQ(RunningTiles_FindAt(tiles, 3, row.px, row.py), row.under ? 1 : -1);
        RunningTiles_DeleteAt(tiles, 4, row.px, row.py);  // another depth: nothing goes
        EXPECT_EQ(tiles.count, 2);
        RunningTiles_DeleteAt(tiles, 3, row.px, row.py);
        EXPECT_EQ(TilesTest_Ids(tiles), (row.under ? std::vector<int32_t>{7} : std::vector<int32_t>{7, 8}));
    }
}

TEST_F(TilesTest, DeleteAtRemovesEveryTileUnderThePointAndFreesAnEmptyArray)
{
    RunningTiles tiles;
    TilesTest_Fill(tiles, {{0, 0, 10, 10, 1, 1}, {50, 0, 10, 10, 1, 2}, {5, 5, 2, 2, 1, 3, 4, 4},
                           {0, 0, 10, 10, 2, 4}, {0, 0, 20, 20, 1, 5}});
    RunningTiles_DeleteAt(tiles, 1, 6, 6);
    EXPECT_EQ(TilesTest_Ids(tiles), (std::vector<int32_t>{2, 4}));
    RunningTiles_DeleteAt(tiles, 1, 55, 1);
    RunningTiles_DeleteAt(tiles, 2, 0, 0);
    EXPECT_EQ(tiles.count, 0);
    EXPECT_EQ(tiles.items, nullptr);
    EXPECT_EQ(tiles.capacity, 0);
}

// ---- equal distances: the earlier tile wins ---------------------------------------------------------

TEST_F(TilesTest, FindAtTiesGoToTheEarlierTile)
{
    struct Row {
        const char* name;
        std::vector<TilesTestSpec> tiles;
        double px, py;
        int32_t index;
    };
    const Row rows[] = {
        {"two identical tiles", {{0, 0, 10, 10, 0, 1}, {0, 0, 10, 10, 0, 2}}, 3, 3, 0},
        {"mirror images about the point", {{0, 0, 10, 10, 0, 1}, {4, 0, 10, 10, 0, 2}}, 7, 5, 0},
        {"the same, listed the other way", {{4, 0, 10, 10, 0, 2}, {0, 0, 10, 10, 0, 1}}, 7, 5, 0},
        {"a nearer third tile beats both", {{0, 0, 10, 10, 0, 1}, {4, 0, 10, 10, 0, 2}, {6, 4, 2, 2, 0, 3}}, 7, 5, 2},
        {"a tie after a farther tile", {{0, 0, 40, 40, 0, 1}, {0, 0, 10, 10, 0, 2}, {0, 0, 10, 10, 0, 3}}, 4, 4, 1},
        {"equal by a scaled tile", {{0, 0, 10, 10, 0, 1}, {0, 0, 5, 5, 0, 2, 2, 2}}, 2, 2, 0},
        {"a tie at another depth is no tie", {{0, 0, 10, 10, 9, 1}, {0, 0, 10, 10, 0, 2}}, 3, 3, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RunningTiles tiles;
        TilesTest_Fill(tiles, row.tiles);
        EXPECT_EQ(RunningTiles_FindAt(tiles, 0, row.px, row.py), row.index);
    }
}

// ---- the id counter --------------------------------------------------------------------------------

TEST_F(TilesTest, IdsContinueFromTheCounterForRecordsAndRunningTilesAlike)
{
    Room_TileIdCounter = 10000123;  // the header's last tile id
    RunningTiles tiles;
    TileRecords records;
    EXPECT_EQ(RunningTiles_Add(tiles, TilesTest_Tile({0, 0, 1, 1, 0, 0})), 0);
    EXPECT_EQ(tiles.items[0].id, 10000124);
    EXPECT_EQ(TileRecords_Add(records, 0, 0, 0, 1, 1, 0, 0, 0, 1, 1, 0), 10000125);
    EXPECT_EQ(RunningTiles_Add(tiles, TilesTest_Tile({0, 0, 1, 1, 0, 0})), 1);
    EXPECT_EQ(tiles.items[1].id, 10000126);
    EXPECT_EQ(tiles.lastFound, 1);

    Room_TileIdCounter = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(Room_NextTileId(), std::numeric_limits<int32_t>::min());
}

// ---- resource records ----------------------------------------------------------------------------------

// Two records laid out as the game data holds them, at an odd offset.
struct TilesTestData {
    alignas(8) uint8_t bytes[1 + 2 * sizeof(RoomTile)] = {};
    const void* addresses[2];
    TilesTestData()
    {
        const RoomTile r[2] = {{10, 20, 3, 1, 2, 16, 8, 100, 500, 1.5f, 2.0f, 0x80123456u},
                               {-4, 7, 5, 0, 0, 32, 32, -10, 501, 1.0f, 1.0f, 0xFF0000FFu}};
        std::memcpy(bytes + 1, r, sizeof r);
        addresses[0] = bytes + 1;
        addresses[1] = bytes + 1 + sizeof(RoomTile);
    }
};

TEST_F(TilesTest, RunningTilesAreMadeFromTheRecordsInRecordOrder)
{
    TilesTestData data;
    TileRecords records;
    records.SetFromData(data.addresses, 2);
    RunningTiles tiles;
    RunningTiles_FromRecords(tiles, records);
    ASSERT_EQ(tiles.count, 2);
    const RunningTile& t = tiles.items[0];
    EXPECT_EQ(t.x, 10.0f);
    EXPECT_EQ(t.y, 20.0f);
    EXPECT_EQ(t.background, 3);
    EXPECT_EQ(t.left, 1);
    EXPECT_EQ(t.top, 2);
    EXPECT_EQ(t.width, 16);
    EXPECT_EQ(t.height, 8);
    EXPECT_EQ(t.depth, 100.0f);
    EXPECT_EQ(t.id, 500);  // stored ids are kept
    EXPECT_EQ(t.xscale, 1.5f);
    EXPECT_EQ(t.yscale, 2.0f);
    EXPECT_EQ(t.blend, 0x123456);
    EXPECT_FLOAT_EQ(t.alpha, 128.0f / 255.0f);
    EXPECT_TRUE(t.visible);
    EXPECT_EQ(tiles.items[1].x, -4.0f);
    EXPECT_EQ(tiles.items[1].blend, 0x0000FF);
    EXPECT_EQ(tiles.items[1].alpha, 1.0f);

    TileRecords none;
    RunningTiles_FromRecords(tiles, none);
    EXPECT_EQ(tiles.count, 0);
    EXPECT_EQ(tiles.items, nullptr);
}

TEST_F(TilesTest, AddedRecordsTakeCheckedIntegersFromReals)
{
    struct Row {
        const char* name;
        double x, y, depth;
        int32_t ex, ey, edepth;
    };
    const int32_t kMin = std::numeric_limits<int32_t>::min();
    const Row rows[] = {
        {"truncated toward zero", 3.9, -3.9, 99.5, 3, -3, 99},
        {"NaN", std::nan(""), 0, 0, kMin, 0, 0},
        {"beyond the range", 0, 3e9, -3e9, 0, kMin, kMin},
        {"infinities", INFINITY, -INFINITY, 0, kMin, kMin, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TileRecords records;
        int32_t id = TileRecords_Add(records, 4, 1, 2, 3, 5, row.x, row.y, row.depth, 0.5f, 3.0f, 0x11223344u);
        ASSERT_EQ(records.Count(), 1);
        RoomTile r = records.At(0);
        EXPECT_EQ(r.x, row.ex);
        EXPECT_EQ(r.y, row.ey);
        EXPECT_EQ(r.depth, row.edepth);
        EXPECT_EQ(r.id, id);
        EXPECT_EQ(r.background, 4);
        EXPECT_EQ(r.left, 1);
        EXPECT_EQ(r.top, 2);
        EXPECT_EQ(r.width, 3);
        EXPECT_EQ(r.height, 5);
        EXPECT_EQ(r.xscale, 0.5f);
        EXPECT_EQ(r.yscale, 3.0f);
        EXPECT_EQ(r.colour, 0x11223344u);
    }
}

TEST_F(TilesTest, RecordsSharedBetweenRoomsAreCopiedBeforeAChangeAndFreedByTheLastHolder)
{
    size_t before = MemoryManager_Probe().liveBlocks;
    TilesTestData data;
    uint8_t pristine[sizeof data.bytes];
    std::memcpy(pristine, data.bytes, sizeof pristine);
    {
        TileRecords loaded;  // a room loaded from the data
        loaded.SetFromData(data.addresses, 2);
        EXPECT_FALSE(loaded.OwnsRecords());
        EXPECT_EQ(loaded.RecordAddress(1), data.addresses[1]);

        TileRecords running = loaded;  // a running copy shares the block
        EXPECT_TRUE(loaded.Shared());
        Room_TileIdCounter = 700;
        EXPECT_EQ(TileRecords_Add(loaded, 9, 0, 0, 8, 8, 1, 2, 3, 1, 1, 0xFFFFFFFFu), 701);
        EXPECT_FALSE(running.Shared());
        EXPECT_EQ(loaded.Count(), 3);
        EXPECT_TRUE(loaded.OwnsRecords());
        EXPECT_EQ(running.Count(), 2);  // the running copy keeps what it had
        EXPECT_EQ(running.RecordAddress(0), data.addresses[0]);
        EXPECT_EQ(loaded.At(0).id, 500);
        EXPECT_EQ(loaded.At(1).depth, -10);
        EXPECT_EQ(loaded.At(2).id, 701);

        TileRecords duplicate;  // a room that owns its records
        duplicate.SetCopy(running);
        EXPECT_TRUE(duplicate.OwnsRecords());
        EXPECT_NE(duplicate.RecordAddress(0), data.addresses[0]);
        EXPECT_EQ(duplicate.At(1).id, 501);
        duplicate.SetCopy(duplicate);  // from itself
        EXPECT_EQ(duplicate.Count(), 2);
        EXPECT_EQ(duplicate.At(0).x, 10);

        TileRecords third = loaded;
        loaded.Clear();  // room_tile_clear on one holder
        EXPECT_EQ(loaded.Count(), 0);
        EXPECT_EQ(third.Count(), 3);
        EXPECT_EQ(third.At(2).id, 701);
        TileRecords& alias = loaded;
        loaded = third;
        loaded = alias;  // assigning a holder to itself keeps the block
        TileRecords moved = std::move(third);
        EXPECT_EQ(moved.Count(), 3);
        EXPECT_TRUE(moved.Shared());
    }
    EXPECT_EQ(MemoryManager_Probe().liveBlocks, before);
    EXPECT_EQ(std::memcmp(pristine, data.bytes, sizeof pristine), 0);  // the game data is never written
}

TEST_F(TilesTest, CopiedRunningTilesAreIndependent)
{
    RunningTiles source;
    TilesTest_Fill(source, {{0, 0, 1, 1, 5, 1}, {0, 0, 1, 1, 6, 2}});
    RunningTiles copy;
    RunningTiles_Copy(copy, source);
    RunningTiles_HideLayer(copy, 5);
    RunningTiles_Delete(copy, 1);
    EXPECT_EQ(TilesTest_Visible(source), "VV");
    EXPECT_EQ(TilesTest_Ids(source), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(TilesTest_Visible(copy), "-");
    RunningTiles empty;
    RunningTiles_Copy(copy, empty);
    EXPECT_EQ(copy.items, nullptr);
}

}  // namespace
