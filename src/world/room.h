// Rooms: a CRoom is both a room resource, loaded from the ROOM chunk, and a running copy of one. This file
// holds the record, its instance lists and their upkeep, the room table with its names, the play order, and
// the id counters that continue from the game header.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "core/memory_manager.h"
#include "world/room_records.h"
#include "world/tiles.h"

class CCode;
class CLayer;
class CPhysicsWorld;
class WadReader;
struct CInstance;

constexpr int32_t ROOM_BACKGROUNDS = 8;
constexpr int32_t ROOM_VIEWS = 8;

struct RoomBackground {
    bool visible = false;
    bool foreground = false;
    int32_t index = -1;
    float x = 0.0f;
    float y = 0.0f;
    bool htiled = true;
    bool vtiled = true;
    float hspeed = 0.0f;
    float vspeed = 0.0f;
    float xscale = 1.0f;
    float yscale = 1.0f;
    int32_t blend = 0xFFFFFF;
    float alpha = 1.0f;
};

struct CView {
    bool visible = false;
    float x = 0.0f;
    float y = 0.0f;
    float width = 640.0f;
    float height = 480.0f;
    int32_t portX = 0;
    int32_t portY = 0;
    int32_t portWidth = 640;
    int32_t portHeight = 480;
    float angle = 0.0f;
    int32_t borderX = 32;
    int32_t borderY = 32;
    int32_t speedX = -1;
    int32_t speedY = -1;
    int32_t targetObject = -1;
    int32_t surfaceId = -1;
    int32_t cameraId = -1;  // newer-format games keep a camera per view
};

// An instance record of a room resource, as the game data lays it out (36 bytes). The creation code is a
// code id in the data, replaced at load by its slot in the code table (-1: none).
struct RoomInstance {
    int32_t x;
    int32_t y;
    int32_t objectIndex;
    int32_t id;
    int32_t creationCode;
    float xscale;
    float yscale;
    uint32_t colour;  // low 24 bits the blend, top byte the alpha x 255
    float rotation;
};
static_assert(sizeof(RoomInstance) == 36 && std::is_trivially_copyable_v<RoomInstance>);

using InstanceRecords = RoomRecords<RoomInstance>;

// A room's list of instances, ordered by depth key (active list) or by the order of deactivation.
struct CInstanceList {
    CInstance* head = nullptr;
    CInstance* tail = nullptr;
    int32_t count = 0;
};

struct CRoom {
    CRoom();
    ~CRoom();  // deletes every instance of both lists, its world, and what it owns
    CRoom(const CRoom&) = delete;
    CRoom& operator=(const CRoom&) = delete;
    static void* operator new(size_t size);
    static void operator delete(void* p);

    // Empties the room: settings to their defaults, every instance deleted, tiles and layers freed. The
    // records and the name stay.
    void Clear();
    void SetName(const char* text);
    // Reads the ROOM entry at entry (index: its slot, for messages). False when the entry does not fit the
    // data: the damage is recorded, which fails pass 2.
    bool LoadFromChunk(WadReader& reader, uint32_t entry, uint32_t index);
    // The running copy of a room (makeInstances), or a resource copied from another (room_duplicate,
    // room_assign). See room.cpp.
    void Assign(CRoom* source, bool makeInstances);
    // room_instance_add on a resource: returns the new record's id.
    int32_t AddInstanceRecord(double x, double y, int32_t objectIndex);

    // instance_create: a new instance with the next id, in the lists, the id map, a layer and the tree.
    CInstance* AddInstance(float x, float y, int32_t objectIndex);
    CInstance* AddInstanceWithDepth(float x, float y, float depth, int32_t objectIndex);
    // On the given layer at its depth; null without a layer.
    CInstance* AddInstanceOnLayer(float x, float y, CLayer* layer, int32_t objectIndex);
    // Takes the instance off its layer, the id map, the list that holds it and the deferred lists, then
    // deletes it.
    void DeleteInstance(CInstance* instance);
    void DeleteActiveInstances();
    void DeleteDeactivatedInstances();
    // Deletes the instances marked for deletion from the active list (deactivated ones are left).
    void RemoveMarkedInstances();
    // Moves instances between the lists by their deactivated flag.
    void UpdateActivation();
    void ScrollBackgrounds();
    void UpdateLayerScrolling();
    // Walks the active list from the greatest depth to the smallest: the order instances are drawn in.
    CInstance* DrawFirst() const { return active.tail; }

    // Legacy tiles (tiles.h): the resource's records and the running room's tiles.
    int32_t AddTile(int32_t background, int32_t left, int32_t top, int32_t width, int32_t height, double x, double y,
                    double depth, float xscale, float yscale, uint32_t colour)
    {
        return TileRecords_Add(tileRecords, background, left, top, width, height, x, y, depth, xscale, yscale, colour);
    }
    void ClearTileRecords() { tileRecords.Clear(); }
    int32_t AddRunningTile(const RunningTile& tile) { return RunningTiles_Add(tiles, tile); }
    int32_t FindTile(int32_t id) { return RunningTiles_Find(tiles, id); }
    void DeleteTile(int32_t index) { RunningTiles_Delete(tiles, index); }
    void DeleteTileLayer(float depth) { RunningTiles_DeleteLayer(tiles, depth); }
    void DeleteTileAt(float depth, double x, double y) { RunningTiles_DeleteAt(tiles, depth, x, y); }
    void HideTileLayer(float depth) { RunningTiles_HideLayer(tiles, depth); }
    void ShowTileLayer(float depth) { RunningTiles_ShowLayer(tiles, depth); }
    void ShiftTileLayer(float depth, double dx, double dy) { RunningTiles_ShiftLayer(tiles, depth, dx, dy); }
    void SetTileLayerDepth(float depth, float newDepth) { RunningTiles_SetLayerDepth(tiles, depth, newDepth); }
    int32_t FindTileAt(float depth, double x, double y) const { return RunningTiles_FindAt(tiles, depth, x, y); }
    void SortTiles() { RunningTiles_Sort(tiles); }

    char* caption = nullptr;
    int32_t speed = 30;
    int32_t width = 640;
    int32_t height = 480;
    bool persistent = false;
    uint32_t colour = 0xC0C0C0;
    bool showColour = true;
    RoomBackground backgrounds[ROOM_BACKGROUNDS];
    bool viewsEnabled = false;
    bool viewClear = false;
    bool displayClear = false;
    CView views[ROOM_VIEWS];
    char* creationCodeText = nullptr;  // the empty text when the game carries code
    CCode* creationCode = nullptr;     // the code table owns it
    bool usesPhysics = false;
    int32_t gravityX = 0;
    int32_t gravityY = 0;
    float pixelsToMetres = 0.0f;
    CInstanceList active;
    CInstanceList deactivated;
    int32_t deactivatedDeleteMode = 1;
    // Ids of the instances made from the records, in record order; creation codes run in this order.
    std::vector<int32_t, MemAllocator<int32_t>> creationOrder;
    // The room has records to make instances from: a ROOM entry, or one made at run time.
    bool hasRecord = false;
    const uint8_t* entry = nullptr;  // the ROOM entry in the game data, null for a record made at run time
    CPhysicsWorld* physicsWorld = nullptr;
    RunningTiles tiles;
    TileRecords tileRecords;
    InstanceRecords instanceRecords;
    char* name = nullptr;
    bool ownsRecords = false;  // room_duplicate: its record blocks are its own copies
};

// Ordered by depth key, ascending from head to tail; among equal depths later insertions come later.
void InstanceList_InsertByDepth(CRoom* room, CInstance* instance);
void InstanceList_AppendDeactivated(CRoom* room, CInstance* instance);
// Unlinks the instance from whichever of the room's lists holds it (nothing when none does).
void InstanceList_Unlink(CInstance* instance);

// Instances destroyed since the last RemoveMarkedInstances (the destroy command counts them).
extern int32_t Room_MarkedCount;
// More marked instances than this in one pass: the collision tree is rebuilt instead of updated.
constexpr int32_t ROOM_TREE_REBUILD_THRESHOLD = 250;

// The running room; null outside a room.
extern CRoom* Run_Room;
extern int32_t Run_RoomIndex;  // index of the running room, -1 when none
void SetCurrentRoom(CRoom* room);

// ---- The room table -------------------------------------------------------------------------------------

void Room_Init();  // empties the room tables before the game data is read
bool Room_Load(uint8_t* body, uint32_t size, uint8_t* base);  // ROOM
bool Room_Prepare();
int32_t Room_Count();  // slots, empty ones included
bool Room_Exists(int32_t index);
CRoom* Room_Data(int32_t index);       // null out of range or empty; never the running copy
const char* Room_GetName(int32_t index);  // "<undefined>" when absent
int32_t Room_Find(const char* name);   // lowest index of that exact name, -1
int32_t Room_Add();                    // room_add
int32_t Room_Duplicate(int32_t index); // room_duplicate; -1 when the slot holds no room
bool Room_Assign(int32_t index, int32_t source);  // room_assign
void Room_FreeAll();

// The play order from the game header (its body and size); the caller has checked that it fits.
void Room_LoadOrder(uint8_t* header, uint32_t size);
// -1 for an empty order.
int32_t Room_First();
int32_t Room_Last();
// The entry before / after the room's; -1 with fewer than 2 rooms or for a room outside the order.
int32_t Room_Previous(int32_t room);
int32_t Room_Next(int32_t room);

// True when the address lies within the loaded game data.
bool IsInGameFile(const void* address);

void Room_SetNextInstanceId(int32_t id);
void Room_SetNextTileId(int32_t id);
