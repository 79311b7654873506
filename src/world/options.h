// Game options: the settings of the options chunk, reset at the start of every second chunk pass, and
// the options.ini file beside the game data.
#pragma once
#include <cstdint>

class IniFile;

// The options chunk's settings. Plain values only: the user constants live with the options code
// (Options_UserConstants in core/constants.h).
struct GameOptions {
    bool fullScreen;              // -inawindow keeps it off
    bool newAudioEngine;          // kept across games: the reset leaves it alone
    bool showCursor;
    uint32_t windowColour;        // colour of the window behind the room (0x00BBGGRR)
    bool changeDisplayMode;       // GraphicsStartup applies the three codes below
    int32_t colourDepthCode;
    int32_t resolutionCode;
    int32_t frequencyCode;
    bool altEnterFullScreen;
    bool freezeWhenInactive;
    bool errorsAbort;             // every runtime error is fatal
    bool unsetVariablesAreErrors;
    bool collisionMode;           // kept across games: the reset leaves it alone
    int32_t versionMajor;         // from the user constants "VersionMajor" and "VersionMinor"
    int32_t versionMinor;
};
extern GameOptions g_GameOptions;

// Start of pass 2: every option to its default, no user constants; error dialogs back on.
void Options_InitDefaults();
// OPTN. Reads into a new record that replaces the current one only when the whole chunk was read. False
// when a new-layout chunk is not version 2 (nothing changes; pass 2 goes on) or when the chunk does not
// fit its data (the damage is recorded, which fails pass 2).
bool Option_Load(uint8_t* body, uint32_t size, uint8_t* base);

// What options.ini set that nothing else keeps. Reset to these defaults by every Options_ReadIniFile.
struct IniOptions {
    bool createTexturesOnDemand;  // [Windows] CreateTexturesOnDemand
    int32_t vertexBufferMethod;   // [Windows] VertexBufferMethod: 0 shared buffer, 1 pool, 2 none
    bool alternateSync;           // [Windows] AlternateSyncMethod
    bool orientLandscape;         // [DEFAULT] Orient*: handed to an orientation lock that does nothing here
    bool orientLandscapeFlipped;
    bool orientPortrait;
    bool orientPortraitFlipped;
};
extern IniOptions g_IniOptions;

// options.ini at path (the loader has seen that it exists): parses it (its contents are logged), loads
// the virtual buttons and reads sections "Windows" and "DEFAULT". The parsed file stays with the options
// code until the next call or Options_Free.
IniFile* Options_ReadIniFile(const char* path);
// Section "Windows" (each key only when the command line did not decide it), then section "DEFAULT".
void Options_ReadIni(IniFile* ini);
void Options_ReadWindowsIni(IniFile* ini);

// The settings the command line and options.ini decide together.
int32_t Options_VertexBufferMethod();  // -multivb 1, -novb 2, else options.ini
bool Options_AlternateSync();          // -manualvsync or options.ini

// Shutdown: the user constants and the parsed options.ini.
void Options_Free();
