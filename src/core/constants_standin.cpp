// Until the shader table exists: no names. The other lookups are their tables' own (Script_Find is the
// script table's, core/script.cpp). The body goes away when the shaders provide the real one.
#include "core/constants.h"

int32_t Shader_Find(const char*) { return -1; }
