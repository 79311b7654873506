// Until the shader table exists: no names (Script_Find's stand-in lives
// beside the function table). The body goes away when the shaders provide the real one.
#include "core/constants.h"

int32_t Shader_Find(const char*) { return -1; }
