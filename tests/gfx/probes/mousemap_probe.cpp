// Opens the main window (320 x 240) over a running room whose view 0 shows the room area (1000, 500, 160, 120)
// in the whole window, and pumps its messages until the window is closed or 60 seconds pass. It prints
// "ready" once the window is shown, then "raw X Y room RX RY" each time the stored raw mouse position changes,
// mapped through Window_WindowToRoom. Exit status: 0 closed, 3 no window, 4 timed out.
#include "core/thread.h"
#include "draw/draw.h"
#include "gfx/device.h"
#include "gfx/mousemap.h"
#include "input/input.h"
#include "platform/messages.h"
#include "world/loader.h"
#include "world/options.h"
#include "world/room.h"
#include "world/run_state.h"

#include <SDL.h>

#include <cstdio>

int main()
{
    Thread_SetMainThreadMark(true);
    g_GameOptions.showCursor = true;
    g_GameData.windowFlags = WINDOW_FLAG_SHOW_CURSOR;
    if (!Window_Create(320, 240)) {
        std::fprintf(stderr, "no window: %s\n", SDL_GetError());
        return 3;
    }
    Window_ShowFirstTime();

    CRoom room;
    room.views[0].visible = true;
    Run_Room = &room;
    GR_KeepAspect = false;
    AppSurface_Width = Window_ClientWidth;
    AppSurface_Height = Window_ClientHeight;
    Window_ClearViewPorts();
    Window_SetViewPort(0, 0, 0, (float)Window_ClientWidth, (float)Window_ClientHeight, 1000, 500, 160, 120, 0.0f, -1,
                       -1);
    std::printf("ready %dx%d\n", Window_ClientWidth, Window_ClientHeight);
    std::fflush(stdout);

    IO_RawMouse = {-1, -1};
    MousePosition last = IO_RawMouse;
    g_Running = true;
    const Uint64 end = SDL_GetTicks64() + 60000;
    while (g_Running && SDL_GetTicks64() < end) {
        ProcessMessages();
        if (IO_RawMouse.x != last.x || IO_RawMouse.y != last.y) {
            last = IO_RawMouse;
            int32_t x = 0, y = 0;
            Window_WindowToRoom(last.x, last.y, &x, &y);
            std::printf("raw %d %d room %d %d\n", last.x, last.y, x, y);
            std::fflush(stdout);
        }
        SDL_Delay(5);
    }
    Run_Room = nullptr;
    std::printf("running=%d\n", g_Running ? 1 : 0);
    std::fflush(stdout);
    const int status = g_Running ? 4 : 0;
    Window_Destroy();
    return status;
}
