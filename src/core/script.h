// Scripts: named code that other code calls by index. The script table maps indexes to scripts and to
// their names; the SCPT chunk fills it, Script_Prepare compiles every script and runs the global
// initialisation code before the game starts.
#pragma once
#include <cstddef>
#include <cstdint>

class CCode;
class CStream;
struct CInstance;
struct GameLinkCode;
struct RValue;

// Arguments of a script call: count contiguous values.
struct ScriptArguments {
    int32_t count;
    RValue* values;
};

class CScript {
public:
    explicit CScript(const char* name);
    virtual ~CScript();
    CScript(const CScript&) = delete;
    CScript& operator=(const CScript&) = delete;

    static void* operator new(size_t size);
    static void operator delete(void* p);

    // The SCPT entry at entry (8 bytes, checked by the caller): its name, and its code entry index, or in
    // old games without bytecode or compiled code a copy of its source text (text, checked too).
    bool LoadFromChunk(const char* entryName, uint32_t second, const char* text);
    // Native entry (compiled game) or code object (bytecode). False when there is nothing to compile from.
    bool Compile();
    CCode* GetCode() const { return codeObject; }
    // A memory-manager text the caller frees: the script's own text, the unscrambled source stream, or "".
    char* GetSource() const;
    static void Free(CScript* script);  // null ignored

    CStream* sourceStream = nullptr;  // scrambled source; no loader of this runtime gives one
    CCode* codeObject = nullptr;
    const GameLinkCode* nativeEntry = nullptr;
    int32_t code = -1;            // code entry index (games with bytecode or compiled code)
    char* text = nullptr;         // the source text of old games (memory-manager copy)
    const char* name;             // in the game data
    int32_t reserved = 0;
};

// The seed with which stored source streams are unscrambled.
constexpr int32_t SCRIPT_SOURCE_SEED = 0x4B56;

// The global-variable object as the self and other of code that runs on it (global initialisation code,
// room creation code with the script object model).
CInstance* Script_GlobalSelf();
void Script_Clear();  // deletes every script before the game data is read
// SCPT: the table of scripts by index and name (the whole table is replaced).
bool Script_Load(uint8_t* body, uint32_t size, uint8_t* base);
void Script_Free();      // deletes every script and frees the table (shutdown)
void Script_Shutdown();  // as Script_Free

int32_t Script_Number();
bool Script_Exists(int32_t index);
const char* Script_GetName(int32_t index);  // "<undefined>" for an index without a script
// int32_t Script_Find(const char* name): core/functions.h; the last slot of that name, -1 when none.
// Null outside the table or for an empty slot; inline, as every script call asks it.
extern CScript** g_scripts;
extern int32_t g_scriptCount;
inline CScript* Script_Data(int32_t index)
{
    return uint32_t(index) < uint32_t(g_scriptCount) ? g_scripts[index] : nullptr;
}

// Calls script index with argc of the record's values (at most what the record holds; none without a
// record). False for an index without a script. A script whose code object has no bytecode runs nothing
// and answers true without touching the arguments; otherwise every argument is freed and left undefined.
bool Script_Perform(int32_t index, CInstance* self, CInstance* other, int32_t argc, RValue* result,
                    ScriptArguments* args);

// Compiles every script in index order, runs each GLOB entry once on the global object, and with the
// script object model runs every script that starts its code block once. False at the first script that
// does not compile ("COMPILATION ERROR in Script: ..." is shown with abort).
bool Script_Prepare();
