#include "platform/window_system_id.h"

#include <SDL.h>
#include <SDL_syswm.h>

// By id, so that a window SDL does not know (a test's stand-in) is never dereferenced.
uint64_t Platform_WindowSystemId(uint32_t windowId)
{
    if (windowId == 0 || SDL_WasInit(SDL_INIT_VIDEO) == 0) return 0;
    SDL_Window* window = SDL_GetWindowFromID(windowId);
    if (!window) return 0;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE) return 0;
#if defined(SDL_VIDEO_DRIVER_X11)
    if (info.subsystem == SDL_SYSWM_X11) return uint64_t(info.info.x11.window);
#endif
    return 0;
}
