// Process-level set-up of the platform layer.
#pragma once

// Zeroes the pointer-state table; the rest of the desktop set-up has nothing to do here.
void Platform_Init();
