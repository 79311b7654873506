// The window-message pump of the main thread.
#pragma once

union SDL_Event;

// Drains pending events without waiting. A quit clears the running flag and ends the drain; other
// events go to the window-event handler. Does nothing while video is not started (Platform_StartVideo). Never allocates.
void ProcessMessages();
// Asks the main loop to end: a quit event, or, without SDL video, a flag the next pump applies.
void Window_PostQuit();

using WindowEventHandler = void (*)(const SDL_Event& event);
void Platform_SetWindowEventHandler(WindowEventHandler handler);
