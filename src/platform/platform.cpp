#include "platform/platform.h"

#include "input/input.h"

#include <cstring>

void Platform_Init() { std::memset(g_PointerStates, 0, sizeof g_PointerStates); }
