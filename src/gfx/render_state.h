// The render-state block, as the game world needs it before the graphics device is built.
#pragma once

// Every render and sampler state back to its default (game end).
void GPUState_SetDefaults();
