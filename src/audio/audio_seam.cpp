// Until the audio subsystem exists: no sounds, nothing plays.
#include "audio/audio.h"

#include "core/seam_trace.h"

void Sound_Clear() { SeamTrace_Record("Sound_Clear"); }

bool Audio_Load(uint8_t*, uint32_t, uint8_t*)
{
    SeamTrace_Record("Audio_Load");
    return true;
}

bool Sound_Init(uint8_t*, uint32_t, uint8_t*)
{
    SeamTrace_Record("Sound_Init");
    return true;
}

bool AudioGroup_Load(uint8_t*, uint32_t, uint8_t*)
{
    SeamTrace_Record("AudioGroup_Load");
    return true;
}

bool Audio_WAVs(uint8_t*, uint32_t, uint8_t*, int32_t)
{
    SeamTrace_Record("Audio_WAVs");
    return true;
}

bool Wave_Init(uint8_t*, uint32_t, uint8_t*)
{
    SeamTrace_Record("Wave_Init");
    return true;
}

void Sound_InitHardware() { SeamTrace_Record("Sound_InitHardware"); }

namespace {
bool g_soundSeamPrepareResult = true;
}

void Sound_SetSeamPrepareResult(bool result) { g_soundSeamPrepareResult = result; }

bool Sound_Prepare()
{
    SeamTrace_Record("Sound_Prepare");
    return g_soundSeamPrepareResult;
}

void Audio_Prepare() { SeamTrace_Record("Audio_Prepare"); }
void SoundTick() { SeamTrace_Record("SoundTick"); }
void Audio_StopAll() { SeamTrace_Record("Audio_StopAll"); }
void Sound_Quit() { SeamTrace_Record("Sound_Quit"); }
void Sound_FreeAll() { SeamTrace_Record("Sound_FreeAll"); }

int32_t Sound_Find(const char*) { return -1; }
int32_t Audio_Find(const char*) { return -1; }

void Audio_DrawDebug() { SeamTrace_Record("Audio_DrawDebug"); }

void CSound::Discard() { SeamTrace_Record("CSound::Discard"); }
bool CSound::LoadSample()
{
    SeamTrace_Record("CSound::LoadSample");
    return false;
}

bool Sound_Exists(int32_t) { return false; }
const char* Sound_Name(int32_t) { return "<undefined>"; }
CSound* Sound_Data(int32_t) { return nullptr; }
int32_t Sound_Add(const char*, int32_t, bool)
{
    SeamTrace_Record("Sound_Add");
    return -1;
}
bool Sound_Replace(int32_t, const char*, int32_t, bool)
{
    SeamTrace_Record("Sound_Replace");
    return false;
}
bool Sound_Delete(int32_t)
{
    SeamTrace_Record("Sound_Delete");
    return false;
}
bool Audio_SoundExists(int32_t) { return false; }
const char* Audio_GetName(int32_t) { return "<undefined>"; }

void InitSoundFunctions() { SeamTrace_Record("InitSoundFunctions"); }
