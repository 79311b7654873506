// Room chunks through the real loader, then what the loaded rooms offer: names and the play order, a running
// copy of each with its instance lists (activation, marked removal, background scrolling) and its tiles,
// records added to the resource while the copy shares its blocks, and the table's duplicate, add and
// assign, one of them replacing the resource under the running copy. Deleting the copy must empty the id map,
// and freeing must leave no memory-manager block behind.
// Input: one byte of switches (bit 0 the collision tree mode, bit 1 a compiled game, bit 2 a crowd of extra
// instances so that a marked removal passes the tree-rebuild threshold), then a game-data container.
#include "core/code.h"
#include "core/console.h"
#include "core/error.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/varnames.h"
#include "game/game_link.h"
#include "layers/layers.h"
#include "platform/hooks.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/object.h"
#include "world/object_base.h"
#include "world/room.h"
#include "world/room_change.h"
#include "world/tiles.h"
#include "world/timeline.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

struct WorldRoomsFuzzConsole final : tagIConsole {
    void Output(const char*, ...) override {}
};
WorldRoomsFuzzConsole g_worldRoomsFuzzConsole;

void WorldRoomsFuzzExit(int) {}  // reports return to the caller

// As many entries as the seeds' code chunks hold, and one more.
const GameLinkCode kWorldRoomsFuzzTable[] = {{"a", nullptr}, {"b", nullptr}, {"c", nullptr}, {"d", nullptr},
                                             {"e", nullptr}, {"f", nullptr}, {"g", nullptr}, {"h", nullptr}};

constexpr int32_t kRoomsChecked = 64;
constexpr int32_t kRoomsRun = 8;        // rooms that also get a running copy
constexpr int32_t kRecordsRun = 2048;   // larger rooms are not run: depth insertion is quadratic at worst
constexpr int32_t kCrowd = 800;         // enough that the marked half of the active list passes the rebuild threshold

void WorldRoomsFuzzCheck(bool ok)
{
    if (!ok) std::abort();
}

// Both lists linked both ways and counted right, the active one ordered by depth key; every active
// instance in the id map under its id; the map holds exactly the room's instances.
void WorldRoomsFuzzCheckLists(const CRoom* room)
{
    int32_t n = 0;
    const CInstance* prev = nullptr;
    for (const CInstance* i = room->active.head; i; prev = i, i = i->next, ++n) {
        WorldRoomsFuzzCheck(i->prev == prev && i->listRoom == room && i->listKind == INSTANCE_IN_ACTIVE_LIST);
        WorldRoomsFuzzCheck(!prev || prev->depthKey <= i->depthKey);
        WorldRoomsFuzzCheck(i->inIdMap && !i->markedForDeletion);
        if (i->id >= 0) {
            const CInstance* found = InstanceIdMap_Find(i->id);
            WorldRoomsFuzzCheck(found && found->id == i->id);
        }
    }
    WorldRoomsFuzzCheck(prev == room->active.tail && n == room->active.count);
    int32_t d = 0;
    prev = nullptr;
    for (const CInstance* i = room->deactivated.head; i; prev = i, i = i->next, ++d)
        WorldRoomsFuzzCheck(i->prev == prev && i->listRoom == room && i->listKind == INSTANCE_IN_DEACTIVATED_LIST);
    WorldRoomsFuzzCheck(prev == room->deactivated.tail && d == room->deactivated.count);
    WorldRoomsFuzzCheck(InstanceIdMap_Count() == n + d);
}

// Both record sets hold the same first count records, byte for byte.
template <class T>
bool WorldRoomsFuzzSameRecords(const RoomRecords<T>& a, const RoomRecords<T>& b, int32_t count)
{
    if (a.Count() < count || b.Count() < count) return false;
    for (int32_t i = 0; i < count && i < 256; ++i) {
        const T x = a.At(i), y = b.At(i);
        if (std::memcmp(&x, &y, sizeof x) != 0) return false;
    }
    return true;
}

void WorldRoomsFuzzNamesAndOrder(int32_t count)
{
    WorldRoomsFuzzCheck(!Room_Exists(-1) && !Room_Exists(count) && Room_Data(count) == nullptr);
    WorldRoomsFuzzCheck(std::strcmp(Room_GetName(-1), "<undefined>") == 0);
    for (int32_t i = 0; i < count && i < kRoomsChecked; ++i) {
        const CRoom* room = Room_Data(i);
        if (!room || !room->name) continue;
        // The lowest index of that name: this room or an earlier namesake.
        const int32_t found = Room_Find(room->name);
        WorldRoomsFuzzCheck(found >= 0 && found <= i && std::strcmp(Room_GetName(found), room->name) == 0);
    }
    WorldRoomsFuzzCheck(Room_Previous(Room_First()) == -1);
    // The order may name any number, rooms or not, several times: the walk is bounded.
    int32_t room = Room_First();
    for (int32_t steps = 0; room != -1 && steps < kRoomsChecked; ++steps) {
        Room_Exists(room);
        Room_Previous(room);
        room = Room_Next(room);
    }
    Room_Next(Room_Last());
}

// The running tile operations, checked against what each promises.
void WorldRoomsFuzzTiles(RunningTiles& tiles)
{
    // The sort is stable, largest depth first: std::stable_sort of (depth, id) pairs is the oracle.
    std::vector<std::pair<float, int32_t>> before;
    for (int32_t i = 0; i < tiles.count; ++i) before.emplace_back(tiles.items[i].depth, tiles.items[i].id);
    std::stable_sort(before.begin(), before.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    RunningTiles_Sort(tiles);
    WorldRoomsFuzzCheck(size_t(tiles.count) == before.size());
    for (int32_t i = 0; i < tiles.count; ++i)
        WorldRoomsFuzzCheck(tiles.items[i].depth == before[size_t(i)].first && tiles.items[i].id == before[size_t(i)].second);

    for (int32_t i = 0; i < tiles.count && i < 64; ++i) {
        const int32_t found = RunningTiles_Find(tiles, tiles.items[i].id);
        WorldRoomsFuzzCheck(found >= 0 && found < tiles.count && tiles.items[found].id == tiles.items[i].id);
    }
    RunningTile added{};
    added.x = 8.0f;
    added.y = 8.0f;
    added.width = added.height = 16;
    added.xscale = added.yscale = 1.0f;
    added.depth = 5.0f;
    added.visible = true;
    const int32_t index = RunningTiles_Add(tiles, added);
    WorldRoomsFuzzCheck(index == tiles.count - 1 && tiles.items[index].id == Room_TileIdCounter);
    WorldRoomsFuzzCheck(RunningTiles_Find(tiles, Room_TileIdCounter) == index);

    if (tiles.count > 0) {
        // A point inside the first tile: once the tiles of its depth under the point are deleted, none is found.
        const RunningTile first = tiles.items[0];
        const double px = double(first.x) + 0.5, py = double(first.y) + 0.5;
        const int32_t at = RunningTiles_FindAt(tiles, first.depth, px, py);
        WorldRoomsFuzzCheck(at < 0 || (at < tiles.count && tiles.items[at].depth == first.depth));
        RunningTiles_DeleteAt(tiles, first.depth, px, py);
        WorldRoomsFuzzCheck(RunningTiles_FindAt(tiles, first.depth, px, py) == -1);
    }
    RunningTiles_HideLayer(tiles, 5.0f);
    RunningTiles_ShowLayer(tiles, 5.0f);
    RunningTiles_ShiftLayer(tiles, 5.0f, 3.5, -2.0);
    RunningTiles_SetLayerDepth(tiles, 5.0f, -7.0f);
    if (tiles.count > 0) RunningTiles_SetLayerDepth(tiles, tiles.items[tiles.count - 1].depth, 5.0f);
    RunningTiles_Sort(tiles);
    for (int32_t i = 1; i < tiles.count; ++i) WorldRoomsFuzzCheck(tiles.items[i].depth <= tiles.items[i - 1].depth);
    RunningTiles_DeleteLayer(tiles, 5.0f);
    for (int32_t i = 0; i < tiles.count; ++i) WorldRoomsFuzzCheck(tiles.items[i].depth != 5.0f);
    const int32_t left = tiles.count;
    RunningTiles_Delete(tiles, -1);
    RunningTiles_Delete(tiles, left);
    WorldRoomsFuzzCheck(tiles.count == left);
    RunningTiles_Delete(tiles, 0);
    WorldRoomsFuzzCheck(tiles.count == (left > 0 ? left - 1 : 0) && (tiles.count > 0 || !tiles.items));
}

// A running copy of the resource at index: its lists through activation and marked removal, its tiles;
// records added to the resource, then the table's copies, one replacing the resource the copy came from.
void WorldRoomsFuzzRun(int32_t index, bool crowd)
{
    CRoom* resource = Room_Data(index);
    const int32_t instanceRecords = resource->instanceRecords.Count();
    const int32_t tileRecords = resource->tileRecords.Count();

    auto* copy = new CRoom();
    copy->Assign(resource, true);
    SetCurrentRoom(copy);
    WorldRoomsFuzzCheckLists(copy);
    WorldRoomsFuzzCheck(copy->tiles.count == tileRecords && copy->instanceRecords.Count() == instanceRecords);
    if (crowd) {
        const int32_t objects = Object_Count();
        for (int32_t k = 0; k < kCrowd; ++k)
            copy->AddInstanceWithDepth(float(k), 0.0f, float((k * 37) % 11 - 5), k % (objects + 1) - 1);
        WorldRoomsFuzzCheckLists(copy);
    }
    copy->ScrollBackgrounds();
    copy->UpdateLayerScrolling();

    // Every third instance deactivated: the lists split by the flag, nothing lost.
    const int32_t total = copy->active.count;
    int32_t k = 0;
    for (CInstance* i = copy->active.head; i; i = i->next, ++k) i->deactivated = k % 3 == 0;
    copy->UpdateActivation();
    WorldRoomsFuzzCheckLists(copy);
    WorldRoomsFuzzCheck(copy->active.count + copy->deactivated.count == total);
    for (const CInstance* i = copy->active.head; i; i = i->next) WorldRoomsFuzzCheck(!i->deactivated);
    for (const CInstance* i = copy->deactivated.head; i; i = i->next) WorldRoomsFuzzCheck(i->deactivated);

    // Every second active instance marked, and one deactivated one, which must stay.
    int32_t marked = 0;
    k = 0;
    for (CInstance* i = copy->active.head; i; i = i->next, ++k)
        if (k % 2 == 0) {
            i->markedForDeletion = true;
            ++marked;
        }
    CInstance* keptMarked = copy->deactivated.head;
    if (keptMarked) keptMarked->markedForDeletion = true;
    Room_MarkedCount = marked + (keptMarked ? 1 : 0);
    const int32_t active = copy->active.count, deactivated = copy->deactivated.count;
    SeamTrace_Clear();
    SeamTrace_Enable(true);
    const bool rebuild = CollisionTreeMode && Room_MarkedCount > ROOM_TREE_REBUILD_THRESHOLD;
    copy->RemoveMarkedInstances();
    SeamTrace_Enable(false);
    const auto& calls = SeamTrace_Calls();
    WorldRoomsFuzzCheck(std::count(calls.begin(), calls.end(), "Collision_RebuildTree") == (rebuild ? 1 : 0));
    WorldRoomsFuzzCheck(std::count(calls.begin(), calls.end(), "Collision_DestroyTree") == (rebuild ? 1 : 0));
    SeamTrace_Clear();
    WorldRoomsFuzzCheck(Room_MarkedCount == 0);
    WorldRoomsFuzzCheck(copy->active.count == active - marked && copy->deactivated.count == deactivated);
    if (keptMarked) {
        WorldRoomsFuzzCheck(keptMarked->listKind == INSTANCE_IN_DEACTIVATED_LIST);
        keptMarked->markedForDeletion = false;
    }
    WorldRoomsFuzzCheckLists(copy);

    // Everything back: the deactivated instances rejoin the active list in depth order.
    for (CInstance* i = copy->deactivated.head; i; i = i->next) i->deactivated = false;
    copy->UpdateActivation();
    WorldRoomsFuzzCheckLists(copy);
    WorldRoomsFuzzCheck(copy->deactivated.count == 0 && copy->active.count == active - marked + deactivated);

    WorldRoomsFuzzTiles(copy->tiles);

    // Records added to the resource make new blocks: the copy keeps what it started from.
    const int32_t id = resource->AddInstanceRecord(12.0, -4.0, 0);
    WorldRoomsFuzzCheck(resource->instanceRecords.Count() == instanceRecords + 1 &&
                        resource->instanceRecords.At(instanceRecords).id == id && resource->hasRecord);
    const int32_t tileId = TileRecords_Add(resource->tileRecords, 1, 0, 0, 16, 16, 32.0, 48.0, 100.0, 1.0f, 1.0f,
                                           0xFFFFFFFFu);
    WorldRoomsFuzzCheck(resource->tileRecords.Count() == tileRecords + 1 &&
                        resource->tileRecords.At(tileRecords).id == tileId);
    WorldRoomsFuzzCheck(copy->instanceRecords.Count() == instanceRecords && copy->tileRecords.Count() == tileRecords);
    WorldRoomsFuzzCheck(WorldRoomsFuzzSameRecords(copy->instanceRecords, resource->instanceRecords, instanceRecords));
    WorldRoomsFuzzCheck(WorldRoomsFuzzSameRecords(copy->tileRecords, resource->tileRecords, tileRecords));

    // The table's copies: a duplicate owns copies of the records, an assigned room takes them, the name stays.
    const int32_t duplicate = Room_Duplicate(index);
    const CRoom* dup = Room_Data(duplicate);
    WorldRoomsFuzzCheck(dup && dup->ownsRecords && dup->instanceRecords.OwnsRecords());
    WorldRoomsFuzzCheck(WorldRoomsFuzzSameRecords(dup->instanceRecords, resource->instanceRecords, instanceRecords + 1));
    WorldRoomsFuzzCheck(WorldRoomsFuzzSameRecords(dup->tileRecords, resource->tileRecords, tileRecords + 1));
    const std::string dupName = Room_GetName(duplicate);
    WorldRoomsFuzzCheck(dupName == std::string("__newroom") + std::to_string(duplicate));
    WorldRoomsFuzzCheck(Room_GetName(Room_Find(dupName.c_str())) == dupName);
    const int32_t added = Room_Add();
    WorldRoomsFuzzCheck(Room_Exists(added) && Room_Data(added)->hasRecord && Room_Data(added)->instanceRecords.Count() == 0);
    WorldRoomsFuzzCheck(Room_Assign(added, duplicate));
    WorldRoomsFuzzCheck(Room_Data(added)->instanceRecords.Count() == instanceRecords + 1);
    WorldRoomsFuzzCheck(Room_GetName(added) == std::string("__newroom") + std::to_string(added));
    WorldRoomsFuzzCheck(!Room_Assign(-1, index) && !Room_Assign(index, -1) && Room_Duplicate(-1) == -1);

    // The resource replaced while the copy runs: the copy's shared blocks outlive it.
    WorldRoomsFuzzCheck(Room_Assign(index, added));
    resource = nullptr;
    WorldRoomsFuzzCheck(Room_Data(index)->instanceRecords.Count() == instanceRecords + 1);
    WorldRoomsFuzzCheck(copy->instanceRecords.Count() == instanceRecords && copy->tileRecords.Count() == tileRecords);
    WorldRoomsFuzzCheck(WorldRoomsFuzzSameRecords(copy->instanceRecords, Room_Data(index)->instanceRecords, instanceRecords));
    WorldRoomsFuzzCheck(WorldRoomsFuzzSameRecords(copy->tileRecords, Room_Data(index)->tileRecords, tileRecords));

    delete copy;
    WorldRoomsFuzzCheck(Run_Room == nullptr && InstanceIdMap_Count() == 0);
    SetCurrentRoom(nullptr);
}

// One run of a container: loading, everything above, and freeing it all.
void WorldRoomsFuzzOne(uint8_t switches, const uint8_t* input, size_t size)
{
    DebugConsole = ReleaseConsole = &g_worldRoomsFuzzConsole;
    Platform_SetExitHook(WorldRoomsFuzzExit);
    RoomChangeCode = ROOM_CHANGE_NONE;
    CollisionTreeMode = (switches & 1) != 0;

    GameDataInfo& g = g_GameData;
    GameLinkData link{};
    link.codeEntryCount = int32_t(std::size(kWorldRoomsFuzzTable));
    link.codeTable = kWorldRoomsFuzzTable;
    if (switches & 2) g.link = &link;

    // An exact-size block owned by the loader record, so that the sanitizer sees every overrun.
    auto* data = static_cast<uint8_t*>(MemAlloc(size ? size : 1));
    if (size) std::memcpy(data, input, size);
    if (Wad_ReadHeader(data, uint32_t(size)) && Wad_LoadChunks(data, uint32_t(size))) {
        const int32_t count = Room_Count();
        WorldRoomsFuzzNamesAndOrder(count);
        for (int32_t i = 0, run = 0; i < count && i < kRoomsChecked && run < kRoomsRun; ++i) {
            const CRoom* room = Room_Data(i);
            if (!room || room->instanceRecords.Count() > kRecordsRun || room->tileRecords.Count() > kRecordsRun)
                continue;
            WorldRoomsFuzzRun(i, (switches & 4) != 0);
            ++run;
        }
        // The table grew by two rooms a run; names and order still hold.
        WorldRoomsFuzzNamesAndOrder(Room_Count());
    }
    if (!g.data) MemFree(data);

    SetCurrentRoom(nullptr);
    Instances_DeleteAll();
    InstanceLists_Free();
    Room_MarkedCount = 0;
    CollisionTreeMode = false;
    Object_FreeAll();
    TimeLine_FreeAll();
    g.link = nullptr;  // the target's own record
    UnloadGameData();
    Code_Main_Free();
    if (g_CodeListCount != 0 || g_CodeList) std::abort();
    if (g_GlobalObject) ObjectBase_Free(g_GlobalObject);
    g_GlobalObject = nullptr;
    ObjectBasePool_Clear();
    Code_Variable_Free();
    Error_ResetState();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 1 || size > (1u << 22)) return 0;
    // The memory manager's blocks stay reachable (small ones are not even allocations of their own), so the
    // leak checker cannot see what a run leaves behind. The same input twice: the first run may leave
    // storage kept for reuse, the second must leave exactly as many blocks.
    WorldRoomsFuzzOne(input[0], input + 1, size - 1);
    const size_t live = MemoryManager_Probe().liveBlocks;
    WorldRoomsFuzzOne(input[0], input + 1, size - 1);
    if (MemoryManager_Probe().liveBlocks != live) std::abort();
    return 0;
}
