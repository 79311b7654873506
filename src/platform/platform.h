// Process-level set-up of the platform layer.
#pragma once

// Zeroes the pointer-state table and starts the joysticks.
void Platform_Init();
// The end of a run cycle's desktop set-up; nothing to release here.
void Platform_Shutdown();

// SDL video is started and stopped only through these, so the message pump can tell with one load
// whether there is anything to pump.
bool Platform_StartVideo();  // false when SDL video cannot start (no display)
void Platform_StopVideo();
bool Platform_VideoStarted();

// The main window (an SDL window, null when there is none), for the freeze-while-inactive option.
void Platform_SetMainWindow(void* window);
// Whether the main window has the input focus; true while there is no main window.
bool Platform_MainWindowHasFocus();
// Tests decide the answer (null restores the window's own).
using FocusSource = bool (*)();
void Platform_SetFocusSource(FocusSource source);
