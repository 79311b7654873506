// The game-data loader: finds the game data, reads it in two passes and binds its bytecode to this
// run's variable and function ids.
#pragma once
#include <cstdint>

#include "game/game_link.h"

class IniFile;
struct QZObjectBase;

constexpr int32_t HEADER_KIND_GEN7 = 700;  // GEN7 and GENL
constexpr int32_t HEADER_KIND_GEN8 = 800;

// Chunk tags as little-endian words of their four characters.
constexpr uint32_t Wad_Tag(const char (&t)[5])
{
    return uint32_t(uint8_t(t[0])) | uint32_t(uint8_t(t[1])) << 8 | uint32_t(uint8_t(t[2])) << 16 |
           uint32_t(uint8_t(t[3])) << 24;
}

// One record per run: where the data lies, what pass 1 and pass 2 found, and the texts copied from it.
// Pointers point into the loaded data, which stays put until UnloadGameData.
struct GameDataInfo {
    uint8_t* data;    // the run's own writable copy (memory manager); null before a load
    uint32_t length;
    bool damaged;         // a check of the reader failed
    char damage[192];     // its "<tag> at offset <n>: <what>"

    // Header (GEN7, GEN8 or GENL body).
    uint8_t* header;
    uint32_t headerSize;
    int32_t headerKind;   // 800, or 700 for GEN7/GENL once pass 2 has seen it
    uint8_t flags;        // bit 0: release build
    bool debugMode;       // debug_mode: the release bit is clear
    int32_t bytecodeVersion;
    bool newCodeFormat;   // bytecode version 15 or more
    bool hasBytecode;     // a CODE chunk with a body was seen
    bool newMode;         // major version 2 or more
    char* gameName;
    char* configName;
    char* displayName;    // "Made with Kelvane: Studio" unless the header names one
    int32_t lastInstanceId;
    int32_t lastTileId;
    int32_t gameId;
    uint8_t* kept;        // the 16 bytes at +0x18, raw
    int32_t majorVersion;
    int32_t windowWidth;
    int32_t windowHeight;
    uint32_t windowFlags;
    bool scriptObjectModel;       // window-flag bit 15
    bool externalCallsForbidden;  // bit 12, -steam or a child game
    uint64_t featureFlags;        // all ones before version 12
    int32_t steamAppId;
    uint32_t roomOrderOffset;     // of the count word; 0 when not read
    uint32_t roomOrderCount;
    double gameSpeed;             // frames per second; 0 when the header has none

    // Chunks kept by the passes (lists point at their count word).
    uint8_t* codeList;
    uint32_t codeCount;
    uint8_t* stringList;
    uint32_t stringCount;
    uint8_t* variBody;
    uint32_t variWords;
    uint8_t* globList;
    uint32_t globCount;
    uint8_t* tpagBody;
    uint32_t tpagSize;
    int32_t* texturePageIds;      // one per TXTR page, in TXTR order
    uint32_t texturePageCount;

    // Variable counts of the data (new format); the global object is sized from them.
    int32_t globalCount;
    int32_t instanceCount;
    int32_t localCount;

    // The executable's own game.
    GameLinkData* link;
    int32_t codeEntryCount;
    StackTraceFrame** stackTraceHead;

    char* gamePath;
    char* iniPath;
    IniFile* iniFile;

    // The ".qzdebug" file beside the game: its own block; its chunks' entries point into it.
    char* debugPath;
    uint8_t* debugData;
    uint32_t debugLength;
    uint8_t* debugInfo;        // DBGI entries
    uint32_t debugInfoCount;
    uint8_t* debugScripts;     // SCPT entries
    uint32_t debugScriptCount;
    uint8_t* debugInstances;   // INST entries
    uint32_t debugInstanceCount;
};
extern GameDataInfo g_GameData;

// The global-variable object; made by pass 2, freed at the end of the run.
extern QZObjectBase* g_GlobalObject;

// Locates and loads the game data and options.ini. False when there is no usable game: the process
// has then been told to exit with status 1, or, in a child game, the game is ending (code -100).
bool RunnerLoadGame();
// The game data cannot be used: "Unable to find game!!: %s", then exit 1 (a child game: code -100).
void Loader_GameUnusable();

// Pass 1: header, strings, code list and variables. False when the data is damaged (the damage line is
// logged) or a name could not be resolved (already reported).
bool Wad_ReadHeader(uint8_t* data, uint32_t length);
// Pass 2 on the loaded data.
bool LoadGameData();
// False when an unknown chunk was met, the data is damaged, or a name could not be resolved.
bool Wad_LoadChunks(uint8_t* data, uint32_t length);

bool GEN8_Load(uint8_t* body, uint32_t size, uint8_t* base);
bool CODE_Load(uint8_t* body, uint32_t size, uint8_t* base);
// Rewrites one entry's old opcode numbers in place; false when an instruction runs past the entry.
bool Code_RemapOldOpcodes(uint8_t* code, uint32_t length);
bool VARI_Load(uint8_t* body, uint32_t size, uint8_t* base);
bool FUNC_Load(uint8_t* body, uint32_t size, uint8_t* base);
bool TexturePage_Load(uint8_t* body, uint32_t size, uint8_t* base);
// The ".qzdebug" data: kept when its FORM is sound, ignored otherwise.
bool DebugChunks_Load(uint8_t* data, uint32_t length);
void UnloadGameData();

// working_directory from the game path; the first call of a run wins.
void InitWorkingDirectory(const char* path);

// The open-file dialog for a game file; a memory-manager path, or null when cancelled. *offered, when
// given, is false when no dialog could be put up at all (no display, no chooser program).
char* ChooseGameFile(bool* offered = nullptr);

// Offset of the room order's count word in a header body of that bytecode version.
uint32_t Loader_RoomOrderOffset(int32_t version);

// Records a failed check of the reader: logs "Game data is damaged: %s\n" once per load.
void Wad_RecordDamage(const char* what);

// Tests put their own link record in; null restores the executable's own.
using GameLinkSource = void (*)(GameLinkData* record);
void Loader_SetLinkSource(GameLinkSource source);
