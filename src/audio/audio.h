// Audio (the new engine and the legacy sound table): the operations the rest of the runtime calls.
#pragma once
#include <cstdint>

// Chunk loaders; offsets inside a chunk count from base, the first byte of the game data.
void Sound_Clear();  // empties the legacy sound table
bool Audio_Load(uint8_t* body, uint32_t size, uint8_t* base);  // SOND, new engine
bool Sound_Init(uint8_t* body, uint32_t size, uint8_t* base);  // SOND, legacy
bool AudioGroup_Load(uint8_t* body, uint32_t size, uint8_t* base);
bool Audio_WAVs(uint8_t* body, uint32_t size, uint8_t* base, int32_t group);  // AUDO, new engine
bool Wave_Init(uint8_t* body, uint32_t size, uint8_t* base);                 // AUDO, legacy

// Preparation after loading.
void Sound_InitHardware();
bool Sound_Prepare();
void Audio_Prepare();
// Until the audio engine exists, tests may make Sound_Prepare fail.
void Sound_SetSeamPrepareResult(bool result);

// Once per frame, also while the debugger holds the game.
void SoundTick();

void Audio_StopAll();  // game end
void Sound_Quit();     // end of run
void Sound_FreeAll();  // shutdown

int32_t Sound_Find(const char* name);  // legacy sound slot, -1 when none
int32_t Audio_Find(const char* name);  // audio asset, -1 when none

void InitSoundFunctions();
