// Room flow: the first room, room switches, room end, game end and the load request.
#include "world/roomflow.h"

#include <vector>

#include "audio/audio.h"
#include "core/code.h"
#include "core/console.h"
#include "core/gc.h"
#include "core/memory_manager.h"
#include "core/script.h"
#include "core/value.h"
#include "draw/draw.h"
#include "gfx/gpustate.h"
#include "gfx/textures.h"
#include "gfx/window.h"
#include "input/input.h"
#include "layers/layers.h"
#include "net/net.h"
#include "particles/particles.h"
#include "platform/hooks.h"
#include "services/services.h"
#include "world/command_line.h"
#include "world/events.h"
#include "world/game_save.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/object.h"
#include "world/options.h"
#include "world/room.h"
#include "world/room_change.h"
#include "world/run_state.h"
#include "world/runner.h"

namespace {

template <class T>
using FlowVector = std::vector<T, MemAllocator<T>>;

FlowVector<CRoom*> g_runningRooms;
FlowVector<CInstance*> g_carryOver;

void CarryOver_Free()
{
    for (CInstance* instance : g_carryOver) delete instance;
    FlowVector<CInstance*>().swap(g_carryOver);
}

// The object whose create event an instance runs: none for an instance without an object.
int32_t Flow_ObjectOf(CInstance* instance) { return instance->object ? instance->objectIndex : -1; }

CInstance* Flow_FindInList(CInstance* head, int32_t id)
{
    for (CInstance* instance = head; instance; instance = instance->next)
        if (instance->id == id) return instance;
    return nullptr;
}

// Step 3 of a start: a kept persistent room comes back. Its instances rejoin the object lists (active ones)
// and the id map (all of them: the map holds exactly the running room's instances).
void Flow_Revive(CRoom* room)
{
    for (CInstance* instance = room->active.head; instance; instance = instance->next) {
        instance->JoinObjectLists();
        InstanceIdMap_Insert(instance->id, instance);
    }
    for (CInstance* instance = room->deactivated.head; instance; instance = instance->next)
        InstanceIdMap_Insert(instance->id, instance);
}

// Step 5: each carried instance takes the place of the room's instance of its id, or enters as a new one.
void Flow_PlaceCarried(CRoom* room)
{
    for (CInstance* carried : g_carryOver) {
        CInstance* existing = Flow_FindInList(room->active.head, carried->id);
        if (!existing) existing = Flow_FindInList(room->deactivated.head, carried->id);
        CInstance* placed = existing;
        if (existing) {
            existing->CopyFrom(carried, true);
            existing->RecreatePhysicsBody(room);
        } else {
            placed = new CInstance(carried->x, carried->y, carried->id, carried->objectIndex, false);
            if (g_GameData.newMode) placed->depth = carried->depth;
            placed->CopyFrom(carried, true);
            placed->CreatePhysicsBody(room);
            InstanceIdMap_Insert(placed->id, placed);
            Layer_AddInstance(room, placed);
            Collision_AddInstance(placed);
        }
        // The carried state is active, at its own depth: an instance that was deactivated, or whose depth
        // changed, moves to its place in the active list.
        if (placed->listKind != INSTANCE_IN_ACTIVE_LIST || placed->depth != placed->depthKey)
            InstanceList_InsertByDepth(room, placed);
        placed->carriedOver = true;
        delete carried;
    }
    FlowVector<CInstance*>().swap(g_carryOver);
}

// Step 6: create events and creation codes in record order, once per running copy.
void Flow_CreateInstances(CRoom* room)
{
    for (int32_t id : room->creationOrder) {
        CInstance* instance = InstanceIdMap_Find(id);
        if (!instance) continue;
        if (instance->carriedOver) {
            instance->carriedOver = false;
            continue;
        }
        if (instance->markedForDeletion) continue;
        Perform_Event_Object(instance, instance, Flow_ObjectOf(instance), EVENT_CREATE, 0);
        if (CCode* code = instance->creationCode) {
            EventTrace_CreationCode(code->index, instance->id);
            RValue result;
            RValue_SetUndefined(&result);
            Code_ExecuteShowError(instance, instance, code, &result, 0);
            RValue_Free(&result);
        }
        instance->created = true;
    }
    // A later revival runs no create events.
    room->creationOrder.clear();
    room->creationOrder.shrink_to_fit();
}

// Step 8: the room's creation code, on the global object with the script object model, otherwise on a
// scratch instance that is in no list and not in the id map.
void Flow_RunRoomCode(CRoom* room)
{
    CCode* code = room->creationCode;
    if (!code || !room->creationCodeText) return;
    CInstance* scratch = nullptr;
    CInstance* self = nullptr;
    if (g_GameData.scriptObjectModel) {
        self = Script_GlobalSelf();
    } else {
        scratch = new CInstance(0.0f, 0.0f, 0, 0, false);
        self = scratch;
    }
    EventTrace_CreationCode(code->index, 0);
    RValue result;
    RValue_SetUndefined(&result);
    Code_ExecuteShowError(self, self, code, &result, 0);
    RValue_Free(&result);
    delete scratch;
}

}  // namespace

CRoom* RoomArray_Get(int32_t index)
{
    return index >= 0 && size_t(index) < g_runningRooms.size() ? g_runningRooms[size_t(index)] : nullptr;
}

int32_t RoomArray_Length() { return int32_t(g_runningRooms.size()); }

void RoomArray_SetLength(int32_t length)
{
    if (length < 0) length = 0;
    for (size_t i = size_t(length); i < g_runningRooms.size(); ++i) {
        CRoom* room = g_runningRooms[i];
        g_runningRooms[i] = nullptr;
        if (room == Run_Room) SetCurrentRoom(nullptr);
        delete room;
    }
    if (length == 0) FlowVector<CRoom*>().swap(g_runningRooms);
    else g_runningRooms.resize(size_t(length), nullptr);
}

int32_t CarryOver_Count() { return int32_t(g_carryOver.size()); }
CInstance* CarryOver_Get(int32_t i) { return i >= 0 && size_t(i) < g_carryOver.size() ? g_carryOver[size_t(i)] : nullptr; }

void Run_Start()
{
    if (!g_Running) {
        g_Running = true;
        StartFirstRoom();
    }
    g_Running = true;
    Debug_Paused = false;
    EnterMainLoop();
    if (g_RunFlags.profileDumpFile) Profiler_Init(g_RunFlags.profileDumpFile, g_RunFlags.profileDumpInterval);
}

void StartFirstRoom()
{
    ObjectLists_Build();
    g_Score = 0;
    g_Lives = -1;
    g_CursorSprite = -1;
    g_FrameCounter = 0;
    g_TransitionKind = 0;
    if (!Extension_Initialise()) return;
    Window_SetCursor(g_GameOptions.showCursor ? 0 : -1);
    // The interpolation option is bit 3 of the header's window flags.
    GR_Texture_SetInterpolation((g_GameData.windowFlags & 8) != 0);
    RoomArray_SetLength(0);
    RoomArray_SetLength(Room_Count());
    CarryOver_Free();

    const int32_t first = Room_First();
    if (!Room_Exists(first)) {
        if (first == -1) DebugConsole->Output("No room to start: the room order is empty\n");
        else DebugConsole->Output("No room to start: the first room %d does not exist\n", first);
        RoomChangeCode = ROOM_CHANGE_GAME_END;
        return;
    }
    RoomChangeCode = first;
    StartRoom(first, true);
    // A start event asked for another room: it starts now, before the first frame.
    if (RoomChangeCode >= 0) SwitchRoom(RoomChangeCode);
    MemoryManager::DumpTotal();
}

void StartRoom(int32_t index, bool first)
{
    RoomChangeCode = ROOM_CHANGE_NONE;
    if (first) IO_Clear();
    Effect_Clear();
    CRoom* resource = Room_Data(index);
    if (!resource) {
        DebugConsole->Output("No room to start: room %d does not exist\n", index);
        RoomChangeCode = ROOM_CHANGE_GAME_END;
        return;
    }
    if (index >= RoomArray_Length()) RoomArray_SetLength(index + 1);
    Run_RoomIndex = index;
    CRoom* room = g_runningRooms[size_t(index)];
    const bool fresh = room == nullptr;
    if (fresh) {
        room = new CRoom();
        g_runningRooms[size_t(index)] = room;
        room->Assign(resource, true);
        SetCurrentRoom(room);
    } else {
        SetCurrentRoom(room);
        Flow_Revive(room);
    }

    if (g_GameData.newMode) CCameraManager::CreateScriptInstance();
    Layer_RoomStart(room);
    ParticleSystem_AddLayerElements();
    Window_FitToRoom();
    Flow_PlaceCarried(room);
    if (fresh) Flow_CreateInstances(room);

    room->RemoveMarkedInstances();
    if (first) {
        Perform_Event_All(EVENT_OTHER, 2);  // Game Start
        room->RemoveMarkedInstances();
    }
    if (fresh && room->creationCode && room->creationCodeText) {
        Flow_RunRoomCode(room);
        // Whichever room's creation code runs first ends a headless run, before that room's Room Start.
        if (g_RunFlags.headless) Platform_Exit(0);
    }
    Perform_Event_All(EVENT_OTHER, 4);  // Room Start
    room->RemoveMarkedInstances();
}

void SwitchRoom(int32_t index)
{
    MemoryManager::LogEvent("SwitchRoom to %s", Room_GetName(index));
    EndRoom(false);
    StartRoom(index, false);
}

void EndRoom(bool gameEnding)
{
    CRoom* room = Run_Room;
    if (!room) return;
    Layer_RoomEnd(room);
    if (g_GameData.newMode) CCameraManager::DeleteScriptInstance();

    room->RemoveMarkedInstances();
    const int32_t pending = RoomChangeCode;
    RoomChangeCode = ROOM_CHANGE_NONE;  // so that the events below run
    Perform_Event_All(EVENT_OTHER, 5);  // Room End
    room->RemoveMarkedInstances();
    if (gameEnding) {
        Perform_Event_All(EVENT_OTHER, 3);  // Game End
        room->RemoveMarkedInstances();
    }
    RoomChangeCode = pending;
    ParticleSystem_RemoveLayerElements();
    IO_ClearVirtualKeys();

    // Persistent instances travel as copies; what they leave behind goes now.
    CarryOver_Free();
    for (CInstance* instance = room->active.head; instance; instance = instance->next) {
        if (instance->markedForDeletion || instance->deactivated || !instance->persistent) continue;
        auto* copy = new CInstance(instance->x, instance->y, instance->id, instance->objectIndex, false);
        copy->CopyFrom(instance, false);
        g_carryOver.push_back(copy);
        instance->markedForDeletion = true;
    }
    room->RemoveMarkedInstances();

    const bool inArray = RoomArray_Get(Run_RoomIndex) == room;
    if (room->persistent) {
        // Kept as it is, but out of the object lists, the layers and the id map until it is revived.
        for (CInstance* instance = room->active.head; instance; instance = instance->next) {
            if (instance->markedForDeletion || instance->deactivated) continue;
            instance->LeaveObjectLists();
            Layer_RemoveInstance(room, instance);
            InstanceIdMap_Remove(instance);
        }
        for (CInstance* instance = room->deactivated.head; instance; instance = instance->next)
            InstanceIdMap_Remove(instance);
    } else if (inArray) {
        g_runningRooms[size_t(Run_RoomIndex)] = nullptr;
        SetCurrentRoom(nullptr);
        delete room;
    }
    // Instances the room's end changed or re-sorted may be gone now.
    g_ObjectChangeList.Clear();
    g_DepthChangeList.Clear();
    g_ActivationList.Clear();
}

void EndGame()
{
    EndRoom(true);
    RoomArray_SetLength(0);
    SetCurrentRoom(nullptr);
    Run_RoomIndex = -1;
    if (!Extension_Finalise()) return;
    Window_SetCursor(0);
    Audio_StopAll();
    Text_ResetState();
    GPUState::SetDefaults();
    VM_GarbageCollect();
}

void HandleLoadGameRequest()
{
    RoomChangeCode = ROOM_CHANGE_NONE;
    IO_Clear();
    Game_Load(Game_LoadRequestFile);
}

void FreePersistentInstances() { CarryOver_Free(); }
