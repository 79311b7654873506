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

// The audio debug display (overlay flag bits 4 and 5).
void Audio_DrawDebug();

// A legacy sound; the front ends read its kind and preload flag.
class CSound {
public:
    int32_t kind = 0;
    bool preload = false;
    void Discard();     // releases the loaded sample data
    bool LoadSample();  // loads the sample data; false when it cannot
};

// The legacy sound table. Until audio exists it stays empty: nothing exists, adds fail (-1), replaces and
// deletes answer false.
bool Sound_Exists(int32_t index);
const char* Sound_Name(int32_t index);  // "<undefined>" when there is none
CSound* Sound_Data(int32_t index);      // null when out of range or empty
int32_t Sound_Add(const char* file, int32_t kind, bool preload);  // the new index, -1 when the load fails
bool Sound_Replace(int32_t index, const char* file, int32_t kind, bool preload);
bool Sound_Delete(int32_t index);
// A playing sound instance (ids 400000 and above) or an audio asset; false while audio is disabled.
bool Audio_SoundExists(int32_t id);
const char* Audio_GetName(int32_t index);  // "<undefined>" when there is none

void InitSoundFunctions();
