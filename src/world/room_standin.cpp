// Stand-in until rooms are built.
#include "world/room.h"
#include "world/tiles.h"

#include "core/seam_trace.h"
#include "world/instance.h"
#include "world/loader_standin.h"

void Room_Init() { SeamTrace_Record("Room_Init"); }

bool Room_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    SeamTrace_Record("Room_Load");
    g_LoaderStandins.chunks.push_back({"Room_Load", body, size, base});
    return true;
}

void Room_LoadOrder(uint8_t* header, uint32_t size)
{
    SeamTrace_Record("Room_LoadOrder");
    g_LoaderStandins.chunks.push_back({"Room_LoadOrder", header, size, nullptr});
}

void Room_SetNextInstanceId(int32_t id)
{
    g_LoaderStandins.nextInstanceId = id;
    g_InstanceIdCounter = id;
}
void Room_SetNextTileId(int32_t id)
{
    g_LoaderStandins.nextTileId = id;
    Room_TileIdCounter = id;
}
