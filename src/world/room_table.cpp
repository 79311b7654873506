// The room table: rooms by index with their names, the play order from the game header, rooms added and
// copied at run time, and the id counters that continue from the header.
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/code.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/text.h"
#include "draw/draw.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/room.h"
#include "world/run_state.h"
#include "world/wad_reader.h"

namespace {

template <class T>
using RoomVector = std::vector<T, MemAllocator<T>>;

// Parallel tables: rooms and their names by index (an empty slot holds null in both), and the play order.
RoomVector<CRoom*> g_rooms;
RoomVector<char*> g_roomNames;
RoomVector<int32_t> g_roomOrder;

// The rooms and their names (the play order comes from the header and stays).
void Room_FreeRooms()
{
    for (CRoom* room : g_rooms) delete room;
    for (char* text : g_roomNames) MemFree(text);
    RoomVector<CRoom*>().swap(g_rooms);
    RoomVector<char*>().swap(g_roomNames);
    // The code table holds the rooms' creation codes.
    Code_Main_Free();
}

void Room_FreeTables()
{
    SetCurrentRoom(nullptr);
    Room_FreeRooms();
    RoomVector<int32_t>().swap(g_roomOrder);
}

int32_t Room_Append(CRoom* room)
{
    const int32_t index = int32_t(g_roomNames.size());
    char name[32];
    std::snprintf(name, sizeof name, "__newroom%d", index);
    room->SetName(name);
    g_rooms.push_back(room);
    g_roomNames.push_back(String_Duplicate(name));
    return index;
}

// Where room sits in the play order; -1 when it is not there.
int32_t Room_OrderPlace(int32_t room)
{
    for (size_t i = 0; i < g_roomOrder.size(); ++i)
        if (g_roomOrder[i] == room) return int32_t(i);
    return -1;
}

}  // namespace

void Room_Init()
{
    SeamTrace_Record("Room_Init");
    Room_FreeTables();
    GUI_Width = GUI_Height = -1;
    GUI_Maximise = false;
    GUI_MaxScaleX = GUI_MaxScaleY = 1.0f;
    GUI_MaxOffsetX = GUI_MaxOffsetY = 2147483648.0f;
    GUI_Drawing = false;
}

bool Room_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("Room_Load");
    WadReader r = WadReader::ForChunk(body, size, base);
    const uint32_t list = r.ChunkStart();
    uint32_t count = 0;
    if (!r.List(list, &count)) return false;
    Room_FreeRooms();
    g_rooms.assign(count, nullptr);
    g_roomNames.assign(count, nullptr);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t entry = 0;
        if (!r.ListEntry(list, i, &entry)) return false;
        if (entry == 0) continue;
        auto* room = new CRoom();
        g_rooms[i] = room;
        if (!room->LoadFromChunk(r, entry, i)) return false;
        g_roomNames[i] = room->name ? String_Duplicate(room->name) : nullptr;
    }
    return true;
}

bool Room_Prepare() { return true; }

int32_t Room_Count() { return int32_t(g_rooms.size()); }

bool Room_Exists(int32_t index) { return Room_Data(index) != nullptr; }

CRoom* Room_Data(int32_t index)
{
    return index >= 0 && size_t(index) < g_rooms.size() ? g_rooms[size_t(index)] : nullptr;
}

const char* Room_GetName(int32_t index)
{
    if (!Room_Exists(index)) return "<undefined>";
    const char* name = g_roomNames[size_t(index)];
    return name ? name : "";
}

int32_t Room_Find(const char* name)
{
    if (!name) return -1;
    for (size_t i = 0; i < g_rooms.size(); ++i)
        if (g_rooms[i] && g_roomNames[i] && std::strcmp(g_roomNames[i], name) == 0) return int32_t(i);
    return -1;
}

int32_t Room_Add()
{
    auto* room = new CRoom();
    // A record made here: no entry in the data, no instances, no tiles.
    room->hasRecord = true;
    return Room_Append(room);
}

int32_t Room_Duplicate(int32_t index)
{
    CRoom* source = Room_Data(index);
    if (!source) return -1;
    auto* room = new CRoom();
    room->ownsRecords = true;
    room->Assign(source, false);
    return Room_Append(room);
}

bool Room_Assign(int32_t index, int32_t sourceIndex)
{
    CRoom* target = Room_Data(index);
    CRoom* source = Room_Data(sourceIndex);
    if (!target || !source) return false;
    // A resource never holds live instances: the copy takes records, tiles and settings. The replaced
    // room goes; running copies keep the record blocks they share with it.
    auto* room = new CRoom();
    room->Assign(source, false);
    room->SetName(target->name);
    delete target;
    g_rooms[size_t(index)] = room;
    return true;
}

void Room_FreeAll()
{
    Room_FreeTables();
    Run_RoomIndex = -1;
    g_FrameCounter = 0;
}

// ---- the play order -------------------------------------------------------------------------------------

void Room_LoadOrder(uint8_t* header, uint32_t size)
{
    SeamTrace_Record("Room_LoadOrder");
    g_roomOrder.clear();
    if (size < 2) return;
    const int32_t version = header[1];
    const uint32_t at = Loader_RoomOrderOffset(version);
    uint32_t count = 0;
    if (uint64_t(at) + 4 > size) return;
    std::memcpy(&count, header + at, 4);
    if (uint64_t(at) + 4 + uint64_t(count) * 4 > size) return;
    g_roomOrder.resize(count);
    if (count) std::memcpy(g_roomOrder.data(), header + at + 4, size_t(count) * 4);
}

int32_t Room_First() { return g_roomOrder.empty() ? -1 : g_roomOrder.front(); }

int32_t Room_Last() { return g_roomOrder.empty() ? -1 : g_roomOrder.back(); }

int32_t Room_Previous(int32_t room)
{
    const int32_t place = Room_OrderPlace(room);
    return g_roomOrder.size() < 2 || place <= 0 ? -1 : g_roomOrder[size_t(place) - 1];
}

int32_t Room_Next(int32_t room)
{
    const int32_t place = Room_OrderPlace(room);
    return g_roomOrder.size() < 2 || place < 0 || size_t(place) + 1 >= g_roomOrder.size()
               ? -1
               : g_roomOrder[size_t(place) + 1];
}

bool IsInGameFile(const void* address)
{
    const auto* p = static_cast<const uint8_t*>(address);
    const uint8_t* data = g_GameData.data;
    return data && g_GameData.length && p >= data && p < data + g_GameData.length;
}

void Room_SetNextInstanceId(int32_t id) { g_InstanceIdCounter = id; }
void Room_SetNextTileId(int32_t id) { Room_TileIdCounter = id; }
