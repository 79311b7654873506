// Game data and its debug file through the real loader into scripts and code objects: every code object
// must point inside the data (its bytecode) or the debug data (line table, source text), preparing the
// scripts must stay inside them too, and freeing everything must leave the data to the unload.
// Input: a u32 n, then n bytes of game data, then the debug file (the rest).
#include "core/code.h"
#include "core/console.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/script.h"
#include "core/varnames.h"
#include "game/game_link.h"
#include "platform/hooks.h"
#include "world/command_line.h"
#include "world/loader.h"
#include "world/object_base.h"
#include "world/room_change.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct ScriptCodeFuzzConsole final : tagIConsole {
    void Output(const char*, ...) override {}
};
ScriptCodeFuzzConsole g_scriptCodeFuzzConsole;

void ScriptCodeFuzzExit(int) {}  // reports return to the caller

// Entries without functions: the data decides whether an entry runs as an event or a script, and a
// function of the other kind would be called with the wrong arguments by the harness's own table.
const GameLinkCode kScriptCodeFuzzTable[] = {{"a", nullptr}, {"b", nullptr}, {"c", nullptr}, {"d", nullptr}};

bool ScriptCodeFuzzInside(const void* p, int64_t length, const uint8_t* base, uint32_t baseLength)
{
    const auto* at = static_cast<const uint8_t*>(p);
    return at >= base && length >= 0 && at - base + length <= int64_t(baseLength);
}

void ScriptCodeFuzzCheck(const CCode* code)
{
    const GameDataInfo& g = g_GameData;
    if (code->code && !ScriptCodeFuzzInside(code->code->bytes, code->code->length, g.data, g.length)) std::abort();
    if (code->debugLines &&
        !ScriptCodeFuzzInside(code->debugLines->bytes, code->debugLines->length, g.debugData, g.debugLength))
        std::abort();
    if (*code->source && !ScriptCodeFuzzInside(code->source, int64_t(std::strlen(code->source)) + 1, g.debugData,
                                               g.debugLength))
        std::abort();
    if (code->code && (code->blockOffset < 0 || code->blockOffset > code->code->length)) std::abort();
}

uint8_t* ScriptCodeFuzzCopy(const uint8_t* bytes, size_t size)
{
    auto* block = static_cast<uint8_t*>(MemAlloc(size ? size : 1));
    if (size) std::memcpy(block, bytes, size);
    return block;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 4 || size > (1u << 24)) return 0;
    uint32_t split = 0;
    std::memcpy(&split, input, 4);
    input += 4;
    size -= 4;
    size_t gameSize = split < size ? split : size;
    DebugConsole = ReleaseConsole = &g_scriptCodeFuzzConsole;
    Platform_SetExitHook(ScriptCodeFuzzExit);
    RoomChangeCode = ROOM_CHANGE_NONE;

    // Exact-size blocks owned by the loader record, so that the sanitizer sees every overrun.
    GameDataInfo& g = g_GameData;
    g.debugData = ScriptCodeFuzzCopy(input + gameSize, size - gameSize);
    g.debugLength = uint32_t(size - gameSize);
    DebugChunks_Load(g.debugData, g.debugLength);
    // Some inputs run as a compiled game: the link record's code table answers the indexes.
    GameLinkData link{};
    link.codeEntryCount = 4;
    link.codeTable = kScriptCodeFuzzTable;
    bool compiled = (split & 0x80000000u) != 0;
    if (compiled) g.link = &link;

    uint8_t* data = ScriptCodeFuzzCopy(input, gameSize);
    if (Wad_ReadHeader(data, uint32_t(gameSize)) && Wad_LoadChunks(data, uint32_t(gameSize))) {
        for (uint32_t i = 0; i < g.codeCount && i < 4096; ++i) {
            CCode* code = new CCode(int32_t(i), false);
            ScriptCodeFuzzCheck(code);
            delete code;
        }
        Code_Add(int32_t(g.codeCount), false);
        Code_Add(0, true);
        // This target checks loading: the bytecode is not run (the interpreter has its own target).
        g_RunFlags.codeExecution = false;
        Script_Prepare();
        for (int32_t i = 0; i < Script_Number(); ++i) {
            if (Script_Data(i) && Script_Data(i)->GetCode()) ScriptCodeFuzzCheck(Script_Data(i)->GetCode());
            Script_Find(Script_GetName(i));
        }
    }
    if (!g.data) MemFree(data);

    Script_Free();
    Code_Main_Free();
    if (g_CodeListCount != 0 || g_CodeList) std::abort();
    g.link = nullptr;  // the test's own record
    UnloadGameData();
    if (g_GlobalObject) ObjectBase_Free(g_GlobalObject);
    g_GlobalObject = nullptr;
    ObjectBasePool_Clear();
    Code_Variable_Free();
    return 0;
}
