// Game options: the settings of the options chunk, reset at the start of every second chunk pass, and
// the options.ini file beside the game data.
#pragma once
#include <cstdint>

class IniFile;

struct GameOptions {
    bool newAudioEngine;  // kept across games: the reset leaves it alone
};
extern GameOptions g_GameOptions;

void Options_InitDefaults();
bool Option_Load(uint8_t* body, uint32_t size, uint8_t* base);  // OPTN

// options.ini: parses the file, loads the virtual buttons and reads sections "Windows" and "DEFAULT".
// The parsed file stays with the loaded game; null when it could not be read.
IniFile* Options_ReadIniFile(const char* path);
