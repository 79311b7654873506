// Object and timeline chunks through the real loader, then everything the tables offer on what was
// loaded: preparation, the per-event lists and collision pairs, the handler search, instance lists,
// added and deleted objects and timelines, and the moment operations. Freeing must leave no code object.
// Input: one byte of switches (bit 0 the collision mode, bit 1 a compiled game), then a game-data container.
#include "core/code.h"
#include "core/console.h"
#include "core/error.h"
#include "core/memory_manager.h"
#include "core/varnames.h"
#include "game/game_link.h"
#include "platform/hooks.h"
#include "world/loader.h"
#include "world/object.h"
#include "world/object_base.h"
#include "world/options.h"
#include "world/room_change.h"
#include "world/timeline.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct WorldObjectsFuzzConsole final : tagIConsole {
    void Output(const char*, ...) override {}
};
WorldObjectsFuzzConsole g_worldObjectsFuzzConsole;

void WorldObjectsFuzzExit(int) {}  // reports return to the caller

const GameLinkCode kWorldObjectsFuzzTable[] = {{"a", nullptr}, {"b", nullptr}, {"c", nullptr}};

// Every listed index must name an object, in ascending order, and every pair two objects.
void WorldObjectsFuzzCheckLists()
{
    for (int32_t type = 0; type < OBJECT_LIST_TYPES; ++type) {
        for (int32_t number = 0; number < OBJECT_LIST_NUMBERS; ++number) {
            const ObjectList& list = ObjectLists_Get(type, number);
            for (int32_t i = 0; i < list.count; ++i) {
                if (!Object_Data(list.objects[i])) std::abort();
                if (i > 0 && list.objects[i] <= list.objects[i - 1]) std::abort();
            }
        }
    }
    for (int32_t i = 0; i < CollisionPairs_Count(); ++i) {
        const CollisionPair& p = CollisionPairs_Data()[i];
        if (Object_Data(p.a) != p.objectA || Object_Data(p.b) != p.objectB || !p.objectA) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 1 || size > (1u << 22)) return 0;
    const uint8_t switches = input[0];
    ++input;
    --size;
    DebugConsole = ReleaseConsole = &g_worldObjectsFuzzConsole;
    Platform_SetExitHook(WorldObjectsFuzzExit);
    RoomChangeCode = ROOM_CHANGE_NONE;
    g_GameOptions.collisionMode = (switches & 1) != 0;

    GameDataInfo& g = g_GameData;
    GameLinkData link{};
    link.codeEntryCount = 3;
    link.codeTable = kWorldObjectsFuzzTable;
    if (switches & 2) g.link = &link;

    // An exact-size block owned by the loader record, so that the sanitizer sees every overrun.
    auto* data = static_cast<uint8_t*>(MemAlloc(size ? size : 1));
    if (size) std::memcpy(data, input, size);
    if (Wad_ReadHeader(data, uint32_t(size)) && Wad_LoadChunks(data, uint32_t(size))) {
        Object_Prepare();
        TimeLine_Prepare();
        ObjectLists_Build();
        WorldObjectsFuzzCheckLists();

        // Instance lists and the handler search over every object.
        const int32_t count = Object_Count();
        static char instances[4];
        for (int32_t i = 0; i < count && i < 512; ++i) {
            CObject* o = Object_Data(i);
            if (!o) continue;
            o->AddInstance(reinterpret_cast<CInstance*>(&instances[i & 3]));
            for (int32_t type = 0; type < OBJECT_EVENT_TYPES; ++type) {
                for (int32_t number = 0; number < o->events[type].count && number < 300; ++number) {
                    int32_t found = -1;
                    if (o->FindEvent(type, number, &found) && !Object_Data(found)) std::abort();
                    o->HasEvent(type, number);
                }
            }
            o->IsChildOf(0);
        }
        // Run-time changes: an added object, deletions, and the lists rebuilt over them.
        const int32_t added = Object_Add();
        if (CObject* o = Object_Data(added)) o->SetParent(count > 0 ? count - 1 : -1);
        Object_Delete(0);
        Object_Delete(count / 2);
        WorldObjectsFuzzCheckLists();
        Object_LinkParents();
        ObjectLists_Build();
        WorldObjectsFuzzCheckLists();
        for (int32_t i = 0; i < Object_Count() && i < 512; ++i)
            if (CObject* o = Object_Data(i)) o->RemoveInstance(reinterpret_cast<CInstance*>(&instances[i & 3]));

        // Timelines: lookups and moment operations.
        for (int32_t i = 0; i < TimeLine_Count() && i < 512; ++i) {
            CTimeLine* t = TimeLine_Data(i);
            if (!t) continue;
            TimeLine_Find(TimeLine_GetName(i));
            for (int32_t n = 0; n < t->GetCount() && n < 64; ++n) {
                const int32_t time = t->GetTime(n);
                if (t->FindMoment(time) < 0) std::abort();
                if (t->FirstMomentAtOrAfter(double(time) + 0.5) <= t->LastMomentAtOrBefore(double(time) - 0.5))
                    std::abort();
            }
            t->AddMomentScript(7, 1);
            t->SetMomentScript(7, 2);
            if (t->GetCount() > 0) t->ClearMoment(t->GetTime(0));
        }
        TimeLine_Add();
        TimeLine_Delete(0);
    }
    if (!g.data) MemFree(data);

    Object_FreeAll();
    TimeLine_FreeAll();
    Code_Main_Free();
    if (g_CodeListCount != 0 || g_CodeList) std::abort();
    g.link = nullptr;  // the target's own record
    UnloadGameData();
    if (g_GlobalObject) ObjectBase_Free(g_GlobalObject);
    g_GlobalObject = nullptr;
    ObjectBasePool_Clear();
    Code_Variable_Free();
    Error_ResetState();
    return 0;
}
