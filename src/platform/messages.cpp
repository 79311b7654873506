#include "platform/messages.h"

#include "core/seam_trace.h"
#include "platform/joystick.h"

#include "world/run_state.h"

#include <SDL.h>

extern bool g_PlatformVideoStarted;

namespace {
WindowEventHandler g_windowEventHandler = nullptr;
bool g_quitPosted = false;
}  // namespace

void ProcessMessages()
{
    if (g_quitPosted) {
        g_quitPosted = false;
        g_Running = false;
        return;
    }
    if (!g_PlatformVideoStarted) return;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) {
            g_Running = false;
            return;
        }
        if (event.type == SDL_JOYDEVICEADDED || event.type == SDL_JOYDEVICEREMOVED) Platform_JoystickDevicesChanged();
        if (g_windowEventHandler) g_windowEventHandler(event);
    }
}

void Window_PostQuit()
{
    SeamTrace_Record("Window_PostQuit");
    if (g_PlatformVideoStarted) {
        SDL_Event quit{};
        quit.type = SDL_QUIT;
        if (SDL_PushEvent(&quit) == 1) return;
    }
    g_quitPosted = true;
}

void Platform_SetWindowEventHandler(WindowEventHandler handler) { g_windowEventHandler = handler; }
