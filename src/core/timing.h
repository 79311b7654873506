// The monotonic microsecond clock, the main loop's frame sleep and the environment lookup.
#pragma once
#include <cstdint>
#include <ctime>

// Takes the start reading. Called once in early initialisation; until then the clock counts from the
// monotonic clock's own origin.
void Timing_Init();
// Microseconds since Timing_Init; any thread may read it.
int64_t Timing_Time();
// The monotonic clock's reading at Timing_Init, in microseconds (randomize mixes it with Timing_Time).
int64_t Timing_StartCount();

// Waits that many microseconds (at most 3 seconds): the kernel sleeps for all but the sleep margin,
// then the margin is spent pumping window messages and reading the clock, with short naps in between
// until the last fraction of a millisecond. 0 or less returns at once.
void FrameSleep(int64_t microseconds);

// The variable's value as a new memory-manager text the caller frees; null when it is not set, and for
// a null or empty name or one holding '='.
char* GetEnvUTF8(const char* name);

// Tests replace the clock, the kernel sleep and the message pump; each has the signature of the call it
// replaces. Null (for the whole set or one member) restores the real call.
struct TimingHooks {
    int (*clockGetTime)(clockid_t clock, timespec* now);
    int (*clockNanosleep)(clockid_t clock, int flags, const timespec* wait, timespec* remaining);
    void (*processMessages)();
};
void Timing_SetHooks(const TimingHooks* hooks);
