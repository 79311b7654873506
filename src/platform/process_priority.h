// Scheduling priority of the calling thread as a nice value (-20 ... 19); never real-time scheduling.
#pragma once
#include <cstdint>

// False when the system refuses (lowering the nice value needs privileges).
using ThreadNiceHook = bool (*)(int32_t niceValue);
bool Platform_SetThreadNice(int32_t niceValue);
// Tests record the requests (null restores the system's); returns the previous hook.
ThreadNiceHook Platform_SetThreadNiceHook(ThreadNiceHook hook);
