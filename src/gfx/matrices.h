// The device matrices, 3D mode and the projections.
#pragma once

// 3D mode (d3d_start / d3d_end).
extern bool GR_3DMode;
// The current projection came from the orthographic builder; its near and far planes (the fog range reads them).
extern bool GR_ProjectionIsOrtho;
extern float GR_ProjectionNear, GR_ProjectionFar;

#include <cstdint>

#include "platform/render_device.h"

// One of the device's matrices (RDTS_WORLD, RDTS_VIEW, RDTS_PROJECTION).
void GR_D3D_SetMatrix(uint32_t which, const RDMatrix& matrix);
// The view and projection for a view of the room at (x, y), width x height, turned by angle degrees.
void GR_SetViewProjection(int32_t x, int32_t y, int32_t width, int32_t height, float angle);
