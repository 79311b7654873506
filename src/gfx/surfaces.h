// Surfaces: render-target pages scripts draw into.
#pragma once

// Every surface's texture (resets and shutdown).
void Surface_FreeAll();
