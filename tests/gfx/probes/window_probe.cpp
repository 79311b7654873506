// Opens the main window (resizable, 320 x 240) and pumps its messages until the window is closed or 60
// seconds pass. Every call the window makes into the input layer is appended to the file named by the
// first argument, one line each ("down 16", "char 65", "mdown 1 30 40", "wheel up", ...). At the end it
// prints "running=0" when the running flag went off. Exit status: 0 closed, 3 no window, 4 timed out.
#include "core/thread.h"
#include "gfx/window.h"
#include "input/input.h"
#include "platform/messages.h"
#include "world/loader.h"
#include "world/options.h"
#include "world/run_state.h"

#include <SDL.h>

#include <cstdio>

namespace {

std::FILE* g_probeLog = nullptr;

void WindowProbe_Record(const InputCall& call)
{
    switch (call.kind) {
    case IO_CALL_KEY_DOWN: std::fprintf(g_probeLog, "down %d%s\n", call.a, call.b ? " repeat" : ""); break;
    case IO_CALL_KEY_UP: std::fprintf(g_probeLog, "up %d\n", call.a); break;
    case IO_CALL_CHAR: std::fprintf(g_probeLog, "char %d\n", call.a); break;
    case IO_CALL_MOUSE_DOWN: std::fprintf(g_probeLog, "mdown %d %d %d\n", call.a, call.b, call.c); break;
    case IO_CALL_MOUSE_UP: std::fprintf(g_probeLog, "mup %d %d %d\n", call.a, call.b, call.c); break;
    case IO_CALL_WHEEL_UP: std::fprintf(g_probeLog, "wheel up\n"); break;
    case IO_CALL_WHEEL_DOWN: std::fprintf(g_probeLog, "wheel down\n"); break;
    }
    std::fflush(g_probeLog);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || !(g_probeLog = std::fopen(argv[1], "w"))) return 2;
    Thread_SetMainThreadMark(true);
    IO_SetCallHook(WindowProbe_Record);
    g_GameOptions.showCursor = true;
    g_GameData.windowFlags = WINDOW_FLAG_RESIZABLE | WINDOW_FLAG_SHOW_CURSOR;
    if (!Window_Create(320, 240)) {
        std::fprintf(stderr, "no window: %s\n", SDL_GetError());
        return 3;
    }
    Window_ShowFirstTime();
    g_Running = true;
    const Uint64 end = SDL_GetTicks64() + 60000;
    while (g_Running && SDL_GetTicks64() < end) {
        ProcessMessages();
        SDL_Delay(5);
    }
    std::printf("running=%d\n", g_Running ? 1 : 0);
    std::fflush(stdout);
    const int status = g_Running ? 4 : 0;
    Window_Destroy();
    std::fclose(g_probeLog);
    return status;
}
