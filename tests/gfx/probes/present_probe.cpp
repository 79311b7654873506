// Opens the main window at 320 x 240 with its device and draws four coloured quadrants into the back buffer
// (clears of the four quarter viewports: red, green, blue, white from the top left, clockwise). After the
// first frame the window is asked for 640 x 480, and frames run through the reset countdown as the main loop
// runs them, stopping one frame short of the reset: the window is enlarged while the back buffer keeps its
// size. Then it prints "ready" and presents until standard input closes. Exit status: 0, 3 no window, 5 no
// device.
#include "core/thread.h"
#include "gfx/device.h"
#include "gfx/window.h"
#include "platform/messages.h"
#include "world/loader.h"
#include "world/mainloop.h"
#include "world/options.h"

#include <SDL.h>

#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace {

void PresentProbe_Frame()
{
    ProcessMessages();
    Start_Frame();
    // Colours as the engine passes them: BGR with alpha in the top byte.
    const uint32_t colours[4] = {0xFF0000FFu, 0xFF00FF00u, 0xFFFFFFFFu, 0xFFFF0000u};
    const int32_t x[4] = {0, 160, 160, 0}, y[4] = {0, 0, 120, 120};
    for (int i = 0; i < 4; ++i) {
        GR_D3D_SetDeviceViewport(x[i], y[i], 160, 120);
        GR_D3D_Clear(colours[i], 1.0f, 0, 1);
    }
    End_Frame(true);
}

bool PresentProbe_InputClosed()
{
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, 0) <= 0) return false;
    char byte;
    return read(STDIN_FILENO, &byte, 1) <= 0;
}

}  // namespace

int main()
{
    Thread_SetMainThreadMark(true);
    g_GameData.windowFlags = WINDOW_FLAG_RESIZABLE;
    if (!Window_Create(320, 240)) {
        std::fprintf(stderr, "no window: %s\n", SDL_GetError());
        return 3;
    }
    if (!GR_D3D_Init(Window_Handle, 320, 240, 0)) return 5;
    PresentProbe_Frame();
    Window_SetSize(640, 480);
    while (MainLoop_DeviceResetCountdown > 2) {
        GR_ApplyWindowSize();
        --MainLoop_DeviceResetCountdown;
        PresentProbe_Frame();
    }
    std::printf("ready %dx%d\n", GR_BackBufferWidth, GR_BackBufferHeight);
    std::fflush(stdout);
    const Uint64 end = SDL_GetTicks64() + 60000;
    while (!PresentProbe_InputClosed() && SDL_GetTicks64() < end) {
        PresentProbe_Frame();
        SDL_Delay(20);
    }
    GR_D3D_Shutdown();
    Window_Destroy();
    return 0;
}
