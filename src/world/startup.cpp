// Start-up and shutdown: the fixed sequence that turns a loaded game file into a running game and tears it
// down again. Every stage logs one line first, so a log shows how far start-up got.
#include <cstdint>

#include "audio/audio.h"
#include "core/code.h"
#include "core/console.h"
#include "core/constants.h"
#include "core/functions.h"
#include "core/hash.h"
#include "core/random.h"
#include "core/script.h"
#include "core/thread.h"
#include "core/timing.h"
#include "core/value.h"
#include "core/variables.h"
#include "core/varnames.h"
#include "core/vm.h"
#include "draw/draw.h"
#include "ds/ds.h"
#include "gfx/device.h"
#include "gfx/display.h"
#include "gfx/gpustate.h"
#include "gfx/shaders.h"
#include "gfx/textures.h"
#include "gfx/vformat.h"
#include "gfx/window.h"
#include "input/input.h"
#include "layers/layers.h"
#include "lib/builtins_misc.h"
#include "lib/lib.h"
#include "lib/temp_directory.h"
#include "net/net.h"
#include "particles/particles.h"
#include "physics/physics.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "services/services.h"
#include "world/builtin_variables.h"
#include "world/command_line.h"
#include "world/game_save.h"
#include "world/highscore.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/object.h"
#include "world/object_base.h"
#include "world/options.h"
#include "world/paths.h"
#include "world/room.h"
#include "world/roomflow.h"
#include "world/run_state.h"
#include "world/runner.h"
#include "world/timeline.h"

bool g_ReleaseChecks = true;

namespace {

RunnerStepHook g_runnerStepHook = nullptr;

struct RunnerStep {
    const char* name;
    void (*run)();
};

void Runner_RunSteps(const RunnerStep* steps, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (g_runnerStepHook) g_runnerStepHook(steps[i].name);
        steps[i].run();
    }
}

void Runner_SetCaption(RefString** caption, const char* text)
{
    RefString* made = RefString::Create(text);
    RefString::ReleaseChecked(*caption);
    *caption = made;
}

void Runner_FreeCaptions()
{
    for (RefString** caption : {&g_CaptionScore, &g_CaptionLives, &g_CaptionHealth}) {
        RefString::ReleaseChecked(*caption);
        *caption = nullptr;
    }
}

// The display-mode option codes; -1 leaves the value as it is.
int32_t Runner_DepthOf(int32_t code) { return code == 1 ? 16 : code == 2 ? 32 : -1; }
void Runner_ResolutionOf(int32_t code, int32_t* width, int32_t* height)
{
    static const int32_t kSizes[][2] = {{320, 240}, {640, 480}, {800, 600}, {1024, 768}, {1280, 1024}, {1600, 1200}};
    const bool known = code >= 1 && code <= 6;
    *width = known ? kSizes[code - 1][0] : -1;
    *height = known ? kSizes[code - 1][1] : -1;
}
int32_t Runner_FrequencyOf(int32_t code)
{
    static const int32_t kRates[] = {60, 70, 85, 100, 120};
    return code >= 1 && code <= 5 ? kRates[code - 1] : -1;
}

// One preparation step: logged, then run; a failure shows its message.
bool Runner_Prepare(const char* line, bool (*step)(), const char* failure)
{
    DebugConsole->Output("%s", line);
    if (step()) return true;
    if (failure) ShowMessageBox(failure);
    return false;
}

void Runner_LogFrameRates() { Debug_LogFpsStats(); }

}  // namespace

void Runner_SetStepHook(RunnerStepHook hook) { g_runnerStepHook = hook; }

void InitScoreCaptions()
{
    g_Running = false;
    Debug_Paused = false;
    g_Score = 0;
    g_Lives = -1;
    g_Health = 100.0;
    g_TransitionKind = 0;
    view_current = 0;
    g_CursorSprite = -1;
    g_FrameCounter = 0;
    g_DrawEventsEnabled = true;
    g_ShowScore = true;
    g_ShowLives = false;
    g_ShowHealth = false;
    g_CaptionsSet = false;
    g_GameData.gameId = 0;
    AppSurface_Id = APPLICATION_SURFACE_NONE;
    AppSurface_DrawEnabled = true;
    AppSurface_Width = AppSurface_Height = -1;
    AppSurface_ResizePending = false;
    AppSurface_ResizeWidth = AppSurface_ResizeHeight = -1;
    Runner_SetCaption(&g_CaptionScore, "Score: '");
    Runner_SetCaption(&g_CaptionLives, "Lives: ");
    Runner_SetCaption(&g_CaptionHealth, "Health: ");
}

bool InitRunnerSystems()
{
    EmbeddedImages_Register();
    Timing_Init();
    CRC32_Init();
    Platform_Init();
    TempDirectory_Init();
    GR_Draw_Init();
    Code_Constant_Init();
    Window_ClearViewPorts();
    Particle_Reset();
    InitScoreCaptions();
    InitVariables();
    Path_Init();
    HighScore_Init();
    g_ObjectChangeList.Clear();
    g_DepthChangeList.Clear();
    InitCameraFunctions();
    ProcessMessages();
    return true;
}

void RunnerStartup()
{
    g_Running = false;
    DebugConsole->Output("\n***************************************\n*     Tarko Games Runner v%d.%d(%d)[r%d]    *\n"
                         "***************************************\t \n",
                         1, 0, 999, 32908);
    Thread_SetMainThreadMark(true);
    if (!RunnerLoadGame()) return;
    // The command line and options.ini have both had their say on tracing by now.
    VM_Trace = g_RunFlags.trace;
    DebugConsole->Output("Get Resolution\n");
    if (!Wad_ReadHeader(g_GameData.data, g_GameData.length)) {
        // Damage ends the run like missing data; an unresolved name was reported already.
        if (g_GameData.damaged) Loader_GameUnusable();
        return;
    }
    DebugConsole->Output("Create Window\n");
    if (!Window_Create(g_GameData.windowWidth, g_GameData.windowHeight)) return;
    DebugConsole->Output("Init Graphics\n");
    if (!GraphicsStartup()) return;
    DebugConsole->Output("IO Init\n");
    IO_Init();
    DebugConsole->Output("Process Messages\n");
    ProcessMessages();
    DebugConsole->Output("Splash!\n");
    DebugConsole->Output("Start Frame\n");
    Start_Frame();
    DebugConsole->Output("Part Create Textures\n");
    Particle_InitTextures();
    DebugConsole->Output("Debug Init Remote Interface\n");
    Debug_InitRemoteInterface();
    DebugConsole->Output("VM Init\n");
    VM_Init();
    // The score, load and error forms have no behaviour here; their lines keep the log's shape.
    DebugConsole->Output("Create Score Form\n");
    DebugConsole->Output("Create Load Form\n");
    DebugConsole->Output("Create Error Form\n");
    DebugConsole->Output("Do The Work\n");
    StartGame();
}

bool StartGame()
{
    Random_Seed(2101988);
    if (!LoadGameData()) {
        DebugConsole->Output("Failed to load the game\n");
        return false;
    }
    Variable_InitFlags();
    DebugConsole->Output("PrepareGame()\n");
    if (!PrepareGame()) return false;
    DebugConsole->Output("Run_Start\n");
    Run_Start();
    return true;
}

bool GraphicsStartup()
{
    // The render-state block is ready before anything can draw.
    GPUState::SetDefaults();
    const GameOptions& o = g_GameOptions;
    if (o.changeDisplayMode) {
        int32_t width = -1, height = -1;
        Runner_ResolutionOf(o.resolutionCode, &width, &height);
        Display_SetAll(width, height, Runner_FrequencyOf(o.frequencyCode), Runner_DepthOf(o.colourDepthCode));
    }
    DebugConsole->Output("GR_D3D_Init()\n");
    if (!GR_D3D_Init(Window_Handle, g_GameData.windowWidth, g_GameData.windowHeight, g_GameData.windowFlags)) return false;
    DebugConsole->Output("Background_InitTextures()\n");
    Background_InitTextures();
    DebugConsole->Output("Sprite_InitTextures()\n");
    Sprite_InitTextures();
    DebugConsole->Output("Font_InitTextures()\n");
    Font_InitTextures();
    return true;
}

void InitKSLFunctions()
{
    // The labels share one line, which "Fini" closes.
    static const RunnerStep kGroups[] = {
        {"HighScore..", HighScore_Load},
        {"Game..", InitGameFunctions},
        {"Math..", InitMathFunctions},
        {"Graphic..", InitGraphicFunctions},
        {"Action..", InitActionFunctions},
        {"File..", InitFileFunctions},
        {"Resource..", InitResourceFunctions},
        {"Interaction..", InitInteractionFunctions},
        {"3D..", Init3DFunctions},
        {"Particle..", InitParticleFunctions},
        {"Misc..", InitMiscFunctions},
        {"DS..", InitDSFunctions},
        {"Sound..", InitSoundFunctions},
        {"Physics..", InitPhysicsFunctions},
        {"Gamepad..", InitGamepadFunctions},
        {"Buffers..", [] {
             InitBufferFunctions();
             InitVertexBufferFunctions();
         }},
        {"Networking..", InitNetworkFunctions},
        {"Shaders..", [] {
             InitShaderFunctions();
             InitVertexFormatFunctions();
             InitSteamFunctions();
             InitPushFunctions();
         }},
        {"Tarko..", [] {
             InitServiceFunctions();
             InitWin8Functions();
             InitLayerFunctions();
         }},
    };
    for (const RunnerStep& group : kGroups) {
        DebugConsole->Output("%s", group.name);
        group.run();
    }
    DebugConsole->Output("Fini\n");
}

bool PrepareGame()
{
    if (!Runner_Prepare("Extension_Prepare() \n", Extension_Prepare, "Failed to prepare extension packages.") ||
        !Runner_Prepare("Code_Constant_Prepare() \n", Code_Constant_Prepare, "Failed to define the constants.") ||
        !Runner_Prepare("Script_Prepare() \n", Script_Prepare, "Failed to compile the scripts.") ||
        !Runner_Prepare("TimeLine_Prepare() \n", TimeLine_Prepare, "Failed to compile the actions in the time lines.") ||
        !Runner_Prepare("Object_Prepare() \n", Object_Prepare, "Failed to compile the actions in the objects.") ||
        !Runner_Prepare("Room_Prepare() \n", Room_Prepare, nullptr) ||
        !Runner_Prepare("Sound_Prepare() \n", [] {
            Sound_InitHardware();
            return Sound_Prepare();
        }, "Failed to prepare the sounds."))
        return false;
    Audio_Prepare();
    DebugConsole->Output("InitGraphics() \n");
    DebugConsole->Output("Finished PrepareGame() \n");
    return true;
}

void Runner_EndOfRun()
{
    IO_End();
    Sound_Quit();
    if (g_RunFlags.profileDumpFile) Profiler_FinalDump();
}

void Runner_Shutdown()
{
    static const RunnerStep kSteps[] = {
        {"Services_Shutdown", Services_Shutdown},
        {"Network_Shutdown", Network_Shutdown},
        {"Steam_Shutdown", Steam_Shutdown},
        {"HighScore_SaveIfChanged", HighScore_SaveIfChanged},
        {"Code_Constant_Free", Code_Constant_Free},
        // The user constants and the parsed options.ini go with the constants.
        {"Options_Free", Options_Free},
        {"Function_Free", Function_Free},
        {"Code_Main_Free", Code_Main_Free},
        {"Code_Variable_Free", Code_Variable_Free},
        {"MotionGrid_FreeAll", MotionGrid_FreeAll},
        {"Room_FreeAll", Room_FreeAll},
        {"Instances_DeleteAll", Instances_DeleteAll},
        {"FreePersistentInstances", FreePersistentInstances},
        {"ObjectLists_Free", ObjectLists_Free},
        {"Object_FreeAll", Object_FreeAll},
        {"Particle_Quit", Particle_Quit},
        {"Sprite_FreeAll", Sprite_FreeAll},
        {"TempDirectory_Shutdown", TempDirectory_Shutdown},
        {"VertexFormat_FreeAll", VertexFormat_FreeAll},
        {"Debug_LogFpsStats", Runner_LogFrameRates},
        {"Background_FreeAll", Background_FreeAll},
        {"GR_Texture_FreeAll", GR_Texture_FreeAll},
        {"Script_Shutdown", Script_Shutdown},
        {"Variable_BuiltIn_Free", Variable_BuiltIn_Free},
        {"Font_FreeAll", Font_FreeAll},
        {"Text_Shutdown", Text_Shutdown},
        {"VertexFormat_FreeElementTable", VertexFormat_FreeElementTable},
        {"FileFunctions_Shutdown", FileFunctions_Shutdown},
        {"TimeLine_FreeAll", TimeLine_FreeAll},
        {"UnloadGameData", UnloadGameData},
        {"Sound_FreeAll", Sound_FreeAll},
        {"Profiler_Shutdown", Profiler_Shutdown},
        {"GR_D3D_Shutdown", GR_D3D_Shutdown},
        {"Window_Destroy", Window_Destroy},
        {"Platform_Shutdown", Platform_Shutdown},
    };
    Runner_RunSteps(kSteps, sizeof kSteps / sizeof kSteps[0]);
}

void ResetRunGlobals()
{
    Runner_FreeCaptions();
    GameFile_Set(nullptr);
    MemFree(Game_LoadRequestFile);
    Game_LoadRequestFile = nullptr;
    MemFree(g_WorkingDirectory);
    g_WorkingDirectory = nullptr;
    Paths_ResetRunCache();
    AppSurface_Width = AppSurface_Height = -1;
    AppSurface_ResizeWidth = AppSurface_ResizeHeight = -1;
    g_GameData.gameId = 0;
    AppSurface_Id = APPLICATION_SURFACE_NONE;
    if (g_GlobalObject) ObjectBase_Free(g_GlobalObject);
    g_GlobalObject = nullptr;
}

void SetReleaseMode(bool checksOn)
{
    g_ReleaseChecks = checksOn;
    DS_SetGridAccessMode(checksOn);
    VertexBuffer_SetCheckedWriters(checksOn);
}
