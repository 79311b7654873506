// The keyboard and cursor as the desktop sees them, outside the per-step latch: the NumLock state, key
// events made up by the game, the live key state and the cursor's screen position.
#pragma once
#include <cstdint>

constexpr int32_t VK_NUMLOCK = 0x90;

// NumLock is on and its key is not held.
bool Platform_GetNumLock();
// Flips the NumLock state and sends a NumLock key down and up through the event queue. Only our own
// state changes: the keyboard's light stays as it is.
void Platform_ToggleNumLock();
// Queues a key down or up for the virtual-key code; it reaches the window like a real key at the next
// pump. False when no key has that code or the queue refused it.
bool Platform_SendKey(int32_t key, bool down);
// The key (or, for 1, 2 and 4, the mouse button) is held now. Only keys seen by our focused window count.
bool Platform_KeyHeldDirect(int32_t key);
// The first scan code (an SDL_Scancode) that gives the virtual-key code, 0 when none does.
int32_t Platform_ScancodeOfKey(int32_t key);
// The cursor's position on the screen.
void Platform_GetCursorPos(int32_t* x, int32_t* y);
