// What the loader's stand-ins were asked for, and the answers a test gives them. Goes with the
// stand-ins (world/*_standin.cpp, gfx/*_standin.cpp) until their subsystems are built.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct LoaderStandinChunk {
    std::string name;  // the operation, e.g. "Object_Load"
    uint8_t* body;
    uint32_t size;
    uint8_t* base;
};

struct LoaderStandins {
    std::vector<LoaderStandinChunk> chunks;  // chunk loaders and Room_LoadOrder (body = the header)
};
extern LoaderStandins g_LoaderStandins;

void LoaderStandins_Reset();
