// Reading ROOM entries. Entries are untrusted: every offset and count is checked before it is followed, and
// a failure names the room. Instance and tile records stay in the game data and are used in place.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/code.h"
#include "core/console.h"
#include "core/convert.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/seam_trace.h"
#include "core/text.h"
#include "draw/draw.h"
#include "layers/layers.h"
#include "physics/physics.h"
#include "world/loader.h"
#include "world/room.h"
#include "world/wad_reader.h"

namespace {

constexpr uint32_t kRoomEntryOld = 56;   // bytecode version 5 and below: no physics fields
constexpr uint32_t kRoomEntry = 88;      // the layers word follows when the layout version asks for it
constexpr uint32_t kBackgroundWords = 10;
constexpr uint32_t kViewWords = 14;

using RoomAddresses = std::vector<const void*, MemAllocator<const void*>>;

// One entry being read: checked reads that name the room in their failure.
struct RoomEntryReader {
    WadReader& r;
    uint32_t entry;
    uint32_t index;
    const char* name = nullptr;

    bool Fail(uint64_t offset, const char* what)
    {
        char text[128];  // the reader's record holds a little more
        std::snprintf(text, sizeof text, "room %u (%.40s): %s", index, name ? name : "", what);
        return r.Fail(uint32_t(offset > UINT32_MAX ? UINT32_MAX : offset), text);
    }
    bool Field(uint32_t at, uint32_t* out) { return r.U32(entry + at, out); }
    // A text reference of the entry (null for 0).
    bool Text(uint32_t at, const char** out, const char* what)
    {
        uint32_t reference = 0;
        if (!Field(at, &reference)) return false;
        // Checked on a reader that records nothing, so that the failure can name the room.
        WadReader probe(r.Data(), r.Length(), false);
        if (!probe.String(reference, out)) return Fail(entry + at, what);
        return true;
    }
    bool FieldF(uint32_t at, float* out) { return r.F32(entry + at, out); }
    // A word anywhere in the data.
    bool Word(uint64_t offset, uint32_t* out, const char* what)
    {
        if (offset + 4 > r.Length()) return Fail(offset, what);
        return r.DataU32(uint32_t(offset), out);
    }
    // The list at the reference stored in the entry at field: its count (at most max) and the reference
    // of each record, each record of recordSize bytes inside the data. A zero reference is an empty list.
    bool List(uint32_t field, uint32_t max, uint32_t recordSize, const char* what, RoomAddresses* out,
              std::vector<uint32_t, MemAllocator<uint32_t>>* offsets = nullptr)
    {
        char text[96];
        uint32_t list = 0, count = 0;
        if (!Field(field, &list)) return false;
        if (list == 0) return true;
        std::snprintf(text, sizeof text, "%s list outside the data", what);
        if (!Word(list, &count, text)) return false;
        if (count > max) {
            std::snprintf(text, sizeof text, "more than %u %s", max, what);
            return Fail(list, text);
        }
        std::snprintf(text, sizeof text, "%s list runs past the data", what);
        if (uint64_t(list) + 4 + uint64_t(count) * 4 > r.Length()) return Fail(list, text);
        std::snprintf(text, sizeof text, "%s record outside the data", what);
        out->reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t record = 0;
            if (!r.DataU32(list + 4 + i * 4, &record)) return false;
            // Offset 0 is the container's own header, never a record.
            if (record == 0 || uint64_t(record) + recordSize > r.Length()) return Fail(list + 4 + uint64_t(i) * 4, text);
            out->push_back(r.Data() + record);
            if (offsets) offsets->push_back(record);
        }
        return true;
    }
};

int32_t Room_ReadI32(const void* at, uint32_t word)
{
    int32_t value;
    std::memcpy(&value, static_cast<const uint8_t*>(at) + word * 4, 4);
    return value;
}

bool Room_GameCarriesCode() { return g_GameData.hasBytecode || Function_GameRunsCompiledCode(); }

uint32_t Room_CodeEntries()
{
    if (Function_GameRunsCompiledCode())
        return g_GameData.link->codeEntryCount > 0 ? uint32_t(g_GameData.link->codeEntryCount) : 0;
    return g_GameData.codeCount;
}

// The code-table slot of a creation code id: -1 for none, for a game without code, or (with a log line) for
// an id that names no code entry.
int32_t Room_CreationCodeSlot(int32_t id, const char* room, const char* what)
{
    if (id == -1 || !Room_GameCarriesCode()) return -1;
    if (id < 0 || uint32_t(id) >= Room_CodeEntries()) {
        DebugConsole->Output("Room %s: %s creation code %d is not a code entry; it has none\n", room ? room : "",
                             what, id);
        return -1;
    }
    return Code_Add(id, false);
}

void Room_ReadBackground(RoomBackground& b, const void* at, const CRoom& room)
{
    b = RoomBackground();
    b.visible = Room_ReadI32(at, 0) != 0;
    b.foreground = Room_ReadI32(at, 1) != 0;
    b.index = Room_ReadI32(at, 2);
    b.x = float(Room_ReadI32(at, 3));
    b.y = float(Room_ReadI32(at, 4));
    b.htiled = Room_ReadI32(at, 5) != 0;
    b.vtiled = Room_ReadI32(at, 6) != 0;
    b.hspeed = float(Room_ReadI32(at, 7));
    b.vspeed = float(Room_ReadI32(at, 8));
    int32_t w = 0, h = 0;
    if (Room_ReadI32(at, 9) != 0 && Background_GetSize(b.index, &w, &h)) {
        if (w > 0) b.xscale = float(room.width) / float(w);
        if (h > 0) b.yscale = float(room.height) / float(h);
    }
}

void Room_ReadView(CView& v, const void* at)
{
    const int32_t surface = v.surfaceId;
    v = CView();
    v.surfaceId = surface;
    v.visible = Room_ReadI32(at, 0) != 0;
    v.x = float(Room_ReadI32(at, 1));
    v.y = float(Room_ReadI32(at, 2));
    v.width = float(Room_ReadI32(at, 3));
    v.height = float(Room_ReadI32(at, 4));
    v.portX = Room_ReadI32(at, 5);
    v.portY = Room_ReadI32(at, 6);
    v.portWidth = Room_ReadI32(at, 7);
    v.portHeight = Room_ReadI32(at, 8);
    v.borderX = Room_ReadI32(at, 9);
    v.borderY = Room_ReadI32(at, 10);
    v.speedX = Room_ReadI32(at, 11);
    v.speedY = Room_ReadI32(at, 12);
    v.targetObject = Room_ReadI32(at, 13);
    if (g_GameData.newMode)
        if (CCamera* camera = CCameraManager::CreateFromView(static_cast<const uint8_t*>(at))) v.cameraId = camera->GetID();
}

}  // namespace

bool CRoom::LoadFromChunk(WadReader& r, uint32_t entryOffset, uint32_t index)
{
    Clear();
    const int32_t version = g_GameData.bytecodeVersion;
    RoomEntryReader e{r, entryOffset, index};
    const uint32_t fixed = version > 5 ? kRoomEntry : kRoomEntryOld;
    if (entryOffset < r.ChunkStart() || uint64_t(entryOffset) + fixed > r.ChunkEnd())
        return e.Fail(entryOffset, "entry outside the chunk");

    uint32_t w[10];
    const char* text = nullptr;
    if (!e.Text(0, &e.name, "name outside the data")) return false;
    SetName(e.name);
    if (!e.Text(4, &text, "caption outside the data")) return false;
    MemFree(caption);
    caption = text ? String_Duplicate(text) : nullptr;
    for (uint32_t k = 2; k < 10; ++k)
        if (!e.Field(k * 4, &w[k])) return false;
    width = int32_t(w[2]);
    height = int32_t(w[3]);
    speed = int32_t(w[4]);
    persistent = w[5] != 0;
    colour = w[6];
    showColour = w[7] != 0;
    MemFree(creationCodeText);
    creationCodeText = nullptr;
    creationCode = nullptr;
    if (Room_GameCarriesCode()) {
        creationCodeText = String_Duplicate("");
        creationCode = Code_Get(Room_CreationCodeSlot(int32_t(w[8]), e.name, "room"));
    }
    const uint32_t flags = w[9];
    viewsEnabled = (flags & 1) != 0;
    viewClear = (flags & 2) != 0;
    displayClear = (flags & 4) == 0;
    const int16_t layout = int16_t(flags >> 16);

    delete physicsWorld;
    physicsWorld = nullptr;
    if (version > 5) {
        uint32_t physics = 0;
        float gx = 0, gy = 0;
        if (!e.Field(56, &physics) || !e.FieldF(76, &gx) || !e.FieldF(80, &gy) || !e.FieldF(84, &pixelsToMetres))
            return false;
        usesPhysics = physics != 0;
        gravityX = Real_ToInt32(gx);
        gravityY = Real_ToInt32(gy);
        if (usesPhysics) {
            if (std::isfinite(pixelsToMetres) && pixelsToMetres > 0.0f) {
                const int32_t rate = g_GameData.newMode ? Real_ToInt32(g_GameData.gameSpeed) : speed;
                physicsWorld = new CPhysicsWorld(pixelsToMetres, rate);
                physicsWorld->SetGravity(float(gravityX), float(gravityY));
            } else {
                DebugConsole->Output("Room %s: pixels to metres %g cannot scale a physics world; it has none\n",
                                     e.name ? e.name : "", double(pixelsToMetres));
            }
        }
    }

    RoomAddresses records;
    if (!e.List(40, ROOM_BACKGROUNDS, kBackgroundWords * 4, "backgrounds", &records)) return false;
    for (size_t i = 0; i < records.size(); ++i) Room_ReadBackground(backgrounds[i], records[i], *this);
    records.clear();
    if (!e.List(44, ROOM_VIEWS, kViewWords * 4, "views", &records)) return false;
    for (size_t i = 0; i < records.size(); ++i) Room_ReadView(views[i], records[i]);

    // Instance records: their creation code ids become code-table slots, written back into the data.
    records.clear();
    std::vector<uint32_t, MemAllocator<uint32_t>> offsets;
    if (!e.List(48, INT32_MAX, sizeof(RoomInstance), "instances", &records, &offsets)) return false;
    for (uint32_t at : offsets) {
        uint32_t id = 0;
        if (!r.DataU32(at + 16, &id)) return false;
        r.PutDataU32(at + 16, uint32_t(Room_CreationCodeSlot(int32_t(id), e.name, "instance")));
    }
    instanceRecords.SetFromData(records.data(), int32_t(records.size()));
    records.clear();
    if (!e.List(52, INT32_MAX, sizeof(RoomTile), "tiles", &records)) return false;
    tileRecords.SetFromData(records.data(), int32_t(records.size()));
    hasRecord = true;
    entry = r.Data() + entryOffset;

    if (version > 5 && layout > 1) {
        uint32_t layers = 0;
        if (!e.Field(88, &layers)) return false;
        if (layers != 0) {
            if (uint64_t(layers) + 4 > r.Length()) return e.Fail(entryOffset + 88, "layer list outside the data");
            Layer_BuildRoomLayers(this, r.Data() + layers);
        }
    }
    return true;
}
