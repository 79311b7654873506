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

struct LoaderStandinPage {
    uint8_t* data;
    uint32_t size;
    bool flag;
};

struct LoaderStandins {
    std::vector<LoaderStandinChunk> chunks;  // chunk loaders and Room_LoadOrder (body = the header)

    // Texture pages: the ids handed out in call order; past the end of pageIds: 1000 + call number.
    std::vector<int32_t> pageIds;
    std::vector<LoaderStandinPage> pages;
};
extern LoaderStandins g_LoaderStandins;

void LoaderStandins_Reset();
