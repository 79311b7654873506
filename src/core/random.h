// The engine's one pseudo-random generator (WELL512 over 16 words, seeded by a linear congruential
// sequence). The same seed always gives the same sequence. Main thread only.
#pragma once
#include <cstdint>

// Stores the seed, refills the state and starts the next draw at word 0. Returns the seed.
int32_t Random_Seed(int32_t seed);
// The seed last given to Random_Seed, as an unsigned 32-bit number (0 before any call).
uint32_t Random_GetSeed();
// Older engine versions mixed with a different constant; old games replay their sequences with it.
// Takes effect from the next draw; the state is kept.
void Random_SetOldVersion(bool oldVersion);
bool Random_IsOldVersion();

uint32_t Random_Next();
// x * (draw / 2^32): in [0, x) for positive x.
double Random_Real(double x);
// A draw modulo |n|, so 0 ... |n| - 1; n 0 gives 0 without drawing.
uint32_t Random_Int(int32_t n);

// Word i (0 ... 15) of the state and the word the next draw starts from (tests and diagnostics).
uint32_t Random_StateWord(int i);
int Random_Index();
