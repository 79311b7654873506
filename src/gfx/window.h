// The game window, as the rest of the runtime needs it before the graphics device exists.
#pragma once

// Makes the window fit to sit behind a modal dialog (leaves exclusive full screen, shows the cursor).
void Window_PrepareForDialog();
