// Until the object, room, timeline and shader tables exist: no names (Script_Find's stand-in lives
// beside the function table). Each body goes away when its owner provides the real one.
#include "core/constants.h"

int32_t Room_Find(const char*) { return -1; }
int32_t Shader_Find(const char*) { return -1; }
