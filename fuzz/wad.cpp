// Arbitrary bytes as game data: pass 1, pass 2 and the debug-file reader must stay inside the data,
// fail cleanly on damage and free everything when the data is unloaded.
#include "core/console.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/variables.h"
#include "core/varnames.h"
#include "gfx/textures.h"
#include "platform/hooks.h"
#include "world/loader.h"
#include "world/loader_standin.h"
#include "world/options.h"
#include "world/room_change.h"
#include "world/run_state.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct WadFuzzQuietConsole final : tagIConsole {
    void Output(const char*, ...) override {}
};
WadFuzzQuietConsole g_wadFuzzConsole;

void WadFuzzExit(int) {}  // an unresolved name is reported and the passes return

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size > (1u << 24)) return 0;
    DebugConsole = ReleaseConsole = &g_wadFuzzConsole;
    Platform_SetExitHook(WadFuzzExit);

    // Fresh registries each run (pass 1 registers the built-ins again). Variables always resolve, but for
    // built-in records of names no built-in has; functions resolve as the data's scripts or the seed
    // corpus's built-ins, so that other names take the unresolved path.
    Code_Variable_Free();
    Variable_BuiltIn_Free();
    Function_Free();
    for (const char* name : {"show_debug_message", "ksl_Script_helper"}) Function_Add(name, nullptr, -1, false);
    LoaderStandins_Reset();
    // Pages go through the real decoders: immediate mode decodes whole images, deferred mode reads headers.
    g_IniOptions.createTexturesOnDemand = (size % 5) == 1;
    g_GameOptions.newAudioEngine = (size % 3) == 0;
    g_ChildGame = (size % 16) == 5;
    RoomChangeCode = ROOM_CHANGE_NONE;

    // The loader owns its data from pass 1 on; an exact-size block lets the sanitizer see every overrun.
    auto* data = static_cast<uint8_t*>(MemAlloc(size ? size : 1));
    if (size) std::memcpy(data, input, size);
    if (Wad_ReadHeader(data, uint32_t(size))) Wad_LoadChunks(data, uint32_t(size));
    if (!g_GameData.data) MemFree(data);

    // The same bytes as a debug file.
    auto* debug = static_cast<uint8_t*>(MemAlloc(size ? size : 1));
    if (size) std::memcpy(debug, input, size);
    g_GameData.debugData = debug;
    DebugChunks_Load(debug, uint32_t(size));

    GR_Texture_FreeAll();
    UnloadGameData();
    Code_Variable_Free();
    Function_Free();
    g_GlobalObject = nullptr;
    g_ChildGame = false;
    return 0;
}
