// The rendering device over OpenGL 3.3 core.
#pragma once
#include "platform/render_device.h"

// The one OpenGL device (its context is made on first use).
RenderDevice* GL_Device();
