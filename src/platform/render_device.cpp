#include "platform/render_device.h"

#include "platform/gl_device.h"

namespace {
RenderDevice* g_installedDevice = nullptr;
}  // namespace

RenderDevice* RenderDevice_Get() { return g_installedDevice ? g_installedDevice : GL_Device(); }
void RenderDevice_Set(RenderDevice* device) { g_installedDevice = device; }
