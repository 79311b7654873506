// The built-in variables under hostile writes: values of every kind (reals with the special ones, int32,
// int64, bools, strings with broken UTF-8, arrays, undefined, null, pointers) at any index, written into
// any registered variable through one of the instances of a running room (or through none), each read back
// at once; then every variable read. Reports of game code (a room that does not exist, an argument out of
// range, an index into a value that is not an array) must not end the process, the room's lists must stay
// whole, the clamped fields in range and the texts text, and a run must leave no memory-manager block behind.
// Input: one byte of switches (bit 0 the instances have physics bodies and the room a world, bit 1 a
// newer-format game with its frame timer, bits 3-7 the argument count mod 17), then operations until the
// input ends. An operation: a byte (bits 0-1 the self: an instance, or none for 3; bit 2 read only; bits 3-4
// how the index is given; bits 5-7 the kind of value), a byte choosing the variable, then what the index
// and the value need.
#include "core/console.h"
#include "core/error.h"
#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "core/variables.h"
#include "draw/draw.h"
#include "input/input.h"
#include "layers/layers.h"
#include "physics/physics.h"
#include "platform/hooks.h"
#include "platform/messages.h"
#include "world/builtin_variables.h"
#include "world/frame_timer.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/object.h"
#include "world/room.h"
#include "world/room_change.h"
#include "world/run_state.h"
#include "world/step.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

struct WorldBuiltinVarsFuzzConsole final : tagIConsole {
    void Output(const char*, ...) override {}
};
WorldBuiltinVarsFuzzConsole g_worldBuiltinVarsFuzzConsole;

void WorldBuiltinVarsFuzzExit(int) {}  // reports return to the caller

constexpr int32_t kInstances = 3;
constexpr int32_t kArgs = 16;
constexpr int32_t kOpsMax = 512;  // a long input is many short runs for the fuzzer, not one slow one

void WorldBuiltinVarsFuzzCheck(bool ok)
{
    if (!ok) std::abort();
}

// The input as a stream: what runs out reads as zero bytes.
struct WorldBuiltinVarsFuzzInput {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool More() const { return at < size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    template <class T>
    T Raw()
    {
        uint8_t bytes[sizeof(T)] = {};
        for (uint8_t& b : bytes) b = Byte();
        T v;
        std::memcpy(&v, bytes, sizeof v);
        return v;
    }
};

const double kSpecialReals[] = {std::numeric_limits<double>::quiet_NaN(),
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                1e300,
                                -1e300,
                                2147483648.0,
                                -2147483649.0,
                                2147483647.5,
                                -2147483648.5,
                                9223372036854775808.0,
                                4294967296.0,
                                0.5,
                                -0.5,
                                2.5,
                                -0.0,
                                std::numeric_limits<double>::denorm_min(),
                                1e-300,
                                360.0,
                                -360.0,
                                1.0};

int32_t WorldBuiltinVarsFuzzIndex(WorldBuiltinVarsFuzzInput& in, int mode)
{
    switch (mode) {
    case 0: return ARRAY_INDEX_NONE;
    case 1: return int8_t(in.Byte());
    case 2: {
        // A packed two-dimensional index: row * 32000 + column.
        const int32_t row = in.Byte();
        const int32_t column = in.Raw<uint16_t>() % ARRAY_INDEX_STRIDE;
        return row * ARRAY_INDEX_STRIDE + column;
    }
    default: return in.Raw<int32_t>();
    }
}

void WorldBuiltinVarsFuzzValue(WorldBuiltinVarsFuzzInput& in, int kind, RValue* out, int depth)
{
    RValue_SetUndefined(out);
    switch (kind) {
    case 0: RValue_SetReal(out, in.Raw<double>()); break;
    case 1: RValue_SetReal(out, kSpecialReals[in.Byte() % (sizeof kSpecialReals / sizeof kSpecialReals[0])]); break;
    case 2: RValue_SetInt32(out, in.Raw<int32_t>()); break;
    case 3: RValue_SetInt64(out, in.Raw<int64_t>()); break;
    case 4: RValue_SetBool(out, (in.Byte() & 1) != 0); break;
    case 5: {
        // Any bytes up to the first NUL, broken UTF-8 among them; with the top bit of the first byte, a
        // pattern repeated to up to 4,080 bytes, past the 1,024 characters a keyboard string keeps.
        char text[4096];
        const uint8_t head = in.Byte();
        size_t n = 0;
        if (head & 0x80) {
            char pattern[8];
            const size_t length = 1 + (head & 7);
            for (size_t k = 0; k < length; ++k) pattern[k] = char(in.Byte());
            n = size_t(in.Byte()) * 16;
            for (size_t k = 0; k < n; ++k) text[k] = pattern[k % length];
        } else {
            n = head % 64;
            for (size_t k = 0; k < n; ++k) text[k] = char(in.Byte());
        }
        text[n] = '\0';
        RValue_CreateString(out, text);
        break;
    }
    case 6: {
        // A few elements at small packed indexes; nested arrays one level deep.
        const int count = 1 + in.Byte() % 4;
        for (int k = 0; k < count; ++k) {
            RValue item;
            const int itemKind = in.Byte() % (depth > 0 ? 6 : 8);
            WorldBuiltinVarsFuzzValue(in, itemKind, &item, depth + 1);
            const int32_t row = in.Byte() % 3, column = in.Byte() % 8;
            RValue_SetWithIndex(out, &item, row * ARRAY_INDEX_STRIDE + column);
            RValue_Free(&item);
        }
        if (RValue_Kind(out) != VALUE_ARRAY) RValue_Free(out);
        break;
    }
    default:
        switch (in.Byte() % 3) {
        case 0: break;  // undefined
        case 1: out->kind = VALUE_NULL; break;
        default: RValue_SetPtr(out, nullptr); break;
        }
        break;
    }
}

bool WorldBuiltinVarsFuzzIsText(const char* name)
{
    static const char* const kTexts[] = {"room_caption",  "keyboard_string", "keyboard_lastchar", "caption_score",
                                         "caption_lives", "caption_health",  "error_last"};
    for (const char* t : kTexts)
        if (std::strcmp(name, t) == 0) return true;
    return false;
}

// A read into a value that holds nothing: it answers with a value of a known kind, texts as strings.
void WorldBuiltinVarsFuzzRead(CInstance* self, int32_t id, int32_t index)
{
    RValue out;
    RValue_SetUndefined(&out);
    const bool ok = Variable_GetValue_Direct(self, id, index, &out);
    WorldBuiltinVarsFuzzCheck(RValue_Kind(&out) <= VALUE_ITERATOR);
    if (ok && WorldBuiltinVarsFuzzIsText(Variable_BuiltIn_Name(id)))
        WorldBuiltinVarsFuzzCheck(RValue_Kind(&out) == VALUE_STRING);
    RValue_Free(&out);
}

// Every report starts from a reporter that has not aborted, so each one is built in full.
void WorldBuiltinVarsFuzzResetReports()
{
    Error_ResetState();
    g_ShowErrorDialogs = false;
    RoomChangeCode = ROOM_CHANGE_NONE;
}

// The active list linked both ways and counted right, every instance under its id; the clamped fields in
// range (NaN is no path position; a direction is NaN or within [0, 360)).
void WorldBuiltinVarsFuzzCheckRoom(CRoom* room, CInstance* const* made)
{
    int32_t n = 0;
    const CInstance* prev = nullptr;
    for (const CInstance* i = room->active.head; i && n <= kInstances; prev = i, i = i->next, ++n)
        WorldBuiltinVarsFuzzCheck(i->prev == prev && i->listRoom == room && i->listKind == INSTANCE_IN_ACTIVE_LIST);
    WorldBuiltinVarsFuzzCheck(prev == room->active.tail && n == room->active.count && n == kInstances);
    for (int32_t k = 0; k < kInstances; ++k) {
        const CInstance* i = made[k];
        WorldBuiltinVarsFuzzCheck(InstanceIdMap_Find(i->id) == i);
        WorldBuiltinVarsFuzzCheck(i->pathPosition >= 0.0f && i->pathPosition <= 1.0f);
        WorldBuiltinVarsFuzzCheck(i->pathPositionPrevious >= 0.0f && i->pathPositionPrevious <= 1.0f);
        WorldBuiltinVarsFuzzCheck(!(i->direction < 0.0f || i->direction >= 360.0f));
    }
}

// Sprites 0 to 3 (3 skeletal), so that sprite and mask writes can name one and the box is computed from
// the scales, angle and position written.
bool WorldBuiltinVarsFuzzSpriteFacts(int32_t index, SpriteFacts* out)
{
    if (index < 0 || index > 3) return false;
    *out = SpriteFacts{};
    out->frameCount = index + 1;
    out->kind = index == 3 ? 2 : 0;
    out->width = 32;
    out->height = 24;
    out->xOrigin = 16;
    out->yOrigin = 12;
    out->bboxLeft = 2;
    out->bboxTop = 3;
    out->bboxRight = 29;
    out->bboxBottom = 20;
    return true;
}

// The registry and the sprite source are set up once; everything else a run makes and frees itself.
void WorldBuiltinVarsFuzzInit()
{
    static bool done = false;
    if (done) return;
    done = true;
    InitVariables();
    Sprite_SetFactsSource(WorldBuiltinVarsFuzzSpriteFacts);
}

void WorldBuiltinVarsFuzzOne(const uint8_t* data, size_t size)
{
    DebugConsole = ReleaseConsole = &g_worldBuiltinVarsFuzzConsole;
    Platform_SetExitHook(WorldBuiltinVarsFuzzExit);
    WorldBuiltinVarsFuzzInit();
    WorldBuiltinVarsFuzzResetReports();

    WorldBuiltinVarsFuzzInput in{data, size};
    const uint8_t switches = in.Byte();
    const bool physics = (switches & 1) != 0;
    g_GameData.newMode = (switches & 2) != 0;
    if (g_GameData.newMode) FrameTimer_SetFPS(&g_GameTimer, 60.0);

    // Two objects for the instances, two rooms for room writes to name.
    Object_Add();
    Object_Add();
    Room_Add();
    Room_Add();
    auto* room = new CRoom();
    SetCurrentRoom(room);
    Run_RoomIndex = 0;
    static CPhysicsObject bodies[kInstances];
    CInstance* made[kInstances];
    for (int32_t k = 0; k < kInstances; ++k) {
        made[k] = room->AddInstance(float(k * 32), float(k * 16), k % 2);
        made[k]->SetSpriteIndex(k);
        if (physics) {
            bodies[k] = CPhysicsObject();
            made[k]->physicsObject = &bodies[k];
        }
    }
    if (physics) room->physicsWorld = new CPhysicsWorld(0.1f, 30);

    static RValue args[kArgs];
    for (int32_t k = 0; k < kArgs; ++k) RValue_SetReal(&args[k], k);
    VM_Args = args;
    VM_ArgCount = (switches >> 3) % (kArgs + 1);

    const int32_t count = Variable_BuiltIn_Count();
    for (int32_t op = 0; op < kOpsMax && in.More(); ++op) {
        const uint8_t code = in.Byte();
        const int32_t id = in.Byte() % count;
        CInstance* self = (code & 3) == 3 ? nullptr : made[code & 3];
        const int32_t index = WorldBuiltinVarsFuzzIndex(in, (code >> 3) & 3);
        if (!(code & 4)) {
            RValue value;
            WorldBuiltinVarsFuzzValue(in, code >> 5, &value, 0);
            const bool ok = Variable_SetValue_Direct(self, id, index, &value);
            // A variable without a setter refuses every write.
            WorldBuiltinVarsFuzzCheck(!ok || Variable_BuiltIn_Entry(id)->setter);
            RValue_Free(&value);
            RoomChangeCode = ROOM_CHANGE_NONE;
        }
        WorldBuiltinVarsFuzzRead(self, id, index);
        WorldBuiltinVarsFuzzResetReports();
    }
    for (int32_t id = 0; id < count; ++id) {
        WorldBuiltinVarsFuzzRead(made[0], id, ARRAY_INDEX_NONE);
        WorldBuiltinVarsFuzzResetReports();
    }

    // Depths written (NaN among them) are applied as the step applies them.
    ApplyDepthChanges();
    WorldBuiltinVarsFuzzCheck(g_DepthChangeList.count == 0);
    WorldBuiltinVarsFuzzCheckRoom(room, made);

    for (CInstance* i : made) i->physicsObject = nullptr;
    delete room;
    WorldBuiltinVarsFuzzCheck(Run_Room == nullptr && InstanceIdMap_Count() == 0);
    SetCurrentRoom(nullptr);
    Instances_DeleteAll();
    InstanceLists_Free();
    Room_FreeAll();
    Object_FreeAll();
    for (RValue& a : args) RValue_Free(&a);
    VM_Args = nullptr;
    VM_ArgCount = 0;

    // Back to the state of a new run.
    g_Score = 0;
    g_Lives = -1;
    g_Health = 100.0;
    g_ShowScore = true;
    g_ShowLives = g_ShowHealth = g_CaptionsSet = false;
    for (RefString** caption : {&g_CaptionScore, &g_CaptionLives, &g_CaptionHealth}) {
        RefString::ReleaseChecked(*caption);
        *caption = nullptr;
    }
    g_TransitionKind = 0;
    g_CursorSprite = -1;
    IO_Clear();
    g_GameData.newMode = false;
    g_GameTimer = FrameTimer();
    ProcessMessages();  // takes the quit a fatal report posts
    g_Running = false;
    WorldBuiltinVarsFuzzResetReports();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 1 || size > (1u << 16)) return 0;
    // The memory manager's blocks stay reachable (small ones are not even allocations of their own), so the
    // leak checker cannot see what a run leaves behind. The same input twice: the first run may leave
    // storage kept for reuse, the second must leave exactly as many blocks.
    WorldBuiltinVarsFuzzOne(input, size);
    const size_t live = MemoryManager_Probe().liveBlocks;
    WorldBuiltinVarsFuzzOne(input, size);
    if (MemoryManager_Probe().liveBlocks != live) std::abort();
    return 0;
}
