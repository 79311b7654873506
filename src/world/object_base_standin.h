// What the object-base stand-in was asked for (tests read it). Goes with the stand-in.
#pragma once
#include <cstdint>

struct ObjectBaseStandin {
    int32_t allocCount;
    int32_t freeCount;
    int32_t lastSlotCount;
    int32_t lastDefaultKind;
    bool lastWithSlots;
};
extern ObjectBaseStandin g_ObjectBaseStandin;
