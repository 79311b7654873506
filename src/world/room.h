// Rooms: the room table, the play order and the id counters that continue from the game header.
#pragma once
#include <cstddef>
#include <cstdint>

void Room_Init();  // empties the room tables before the game data is read
bool Room_Load(uint8_t* body, uint32_t size, uint8_t* base);  // ROOM
// The play order from the game header (its body and size); the caller has checked that it fits.
void Room_LoadOrder(uint8_t* header, uint32_t size);
void Room_SetNextInstanceId(int32_t id);
void Room_SetNextTileId(int32_t id);

class CLayer;
class CPhysicsWorld;
struct CInstance;

// A room's list of instances, ordered by depth key (active list) or by the order of deactivation.
struct CInstanceList {
    CInstance* head = nullptr;
    CInstance* tail = nullptr;
    int32_t count = 0;
};

struct CRoom {
    CRoom() = default;
    ~CRoom();  // deletes every instance of both lists
    CRoom(const CRoom&) = delete;
    CRoom& operator=(const CRoom&) = delete;
    static void* operator new(size_t size);
    static void operator delete(void* p);

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

    bool persistent = false;
    int32_t speed = 30;
    CInstanceList active;
    CInstanceList deactivated;
    int32_t deactivatedDeleteMode = 1;
    CPhysicsWorld* physicsWorld = nullptr;  // not owned here yet
};

// Ordered by depth key, ascending from head to tail; among equal depths later insertions come later.
void InstanceList_InsertByDepth(CRoom* room, CInstance* instance);
void InstanceList_AppendDeactivated(CRoom* room, CInstance* instance);
// Unlinks the instance from whichever of the room's lists holds it (nothing when none does).
void InstanceList_Unlink(CInstance* instance);

// The running room; null outside a room.
extern CRoom* Run_Room;
extern int32_t Run_RoomIndex;  // index of the running room, -1 when none
void SetCurrentRoom(CRoom* room);
