// The rendering device over OpenGL 3.3 core.
#pragma once
#include "platform/render_device.h"

// The one OpenGL device (its context is made on first use).
RenderDevice* GL_Device();

// The context's attributes (3.3 core, depth 24, stencil 8). A window that the device will present to should be
// created with SDL_WINDOW_OPENGL after this ran, so that the context can move onto it; the device calls it
// itself before it makes any window or context. Needs SDL video started.
void GL_SetContextAttributes();

// Benchmarks compare the two ways of locking vertex buffers: mapping the GL buffer (true, the default) or writing
// a CPU copy that the unlock uploads (false).
void GL_SetVertexBufferMapping(bool map);
