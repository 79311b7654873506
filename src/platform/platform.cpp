#include "platform/platform.h"

#include "input/input.h"
#include "platform/joystick.h"

#include <SDL.h>

#include <cstring>

bool g_PlatformVideoStarted = false;  // read by the message pump

void Platform_Init()
{
    std::memset(g_PointerStates, 0, sizeof g_PointerStates);
    // Joysticks present at start-up, and their events, are there from the first step on.
    Platform_StartJoysticks();
}

void Platform_Shutdown() {}

bool Platform_StartVideo()
{
    if (!g_PlatformVideoStarted) g_PlatformVideoStarted = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    return g_PlatformVideoStarted;
}

void Platform_StopVideo()
{
    if (!g_PlatformVideoStarted) return;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    g_PlatformVideoStarted = false;
}

bool Platform_VideoStarted() { return g_PlatformVideoStarted; }

namespace {
void* g_platformMainWindow = nullptr;
FocusSource g_platformFocusSource = nullptr;
}  // namespace

void Platform_SetMainWindow(void* window) { g_platformMainWindow = window; }
void Platform_SetFocusSource(FocusSource source) { g_platformFocusSource = source; }

bool Platform_MainWindowHasFocus()
{
    if (g_platformFocusSource) return g_platformFocusSource();
    if (!g_platformMainWindow || !g_PlatformVideoStarted) return true;
    return SDL_GetKeyboardFocus() == static_cast<SDL_Window*>(g_platformMainWindow);
}
