// The link record through which the runtime finds the compiled game and its embedded data.
#pragma once
#include <cstdint>

struct StackTraceFrame;

struct GameLinkNameId {
    const char* name;  // null ends a table
    int32_t id;
};

// An event or room code entry is called as (self, other); a script entry as
// (self, other, result, argument count, arguments). Callers cast to the right type.
struct GameLinkCode {
    const char* name;
    void (*function)();
};

struct GameLinkData {
    const uint8_t* embeddedData;  // null when the game data comes from a file
    uint32_t embeddedLength;
    int32_t globalSlotCount;
    int32_t instanceSlotCount;
    int32_t codeEntryCount;
    GameLinkNameId* variables;  // ids written by the loader when it binds the names
    GameLinkNameId* builtins;
    const GameLinkCode* codeTable;
    StackTraceFrame** stackTraceHead;  // the compiled game's call-stack chain head
};

// Filled by the executable's own game: tumblewing links the game, kelvane an empty record.
void Game_GetLinkData(GameLinkData* record);
