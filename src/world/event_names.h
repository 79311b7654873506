// Display names of events and keys, for error texts. A returned name is a constant or a static buffer that
// the next call overwrites: callers copy it at once. Main thread only.
#pragma once
#include <cstdint>

const char* GetEventName(int32_t type, int32_t sub);
const char* GetKeyName(int32_t key);
// "<unknown>" for a number not listed.
const char* GetMouseEventName(int32_t sub);
const char* GetOtherEventName(int32_t sub);
const char* GetAsyncEventName(int32_t sub);
