#include "world/loader.h"

#include "audio/audio.h"
#include "core/console.h"
#include "core/disasm.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/script.h"
#include "core/text.h"
#include "core/varnames.h"
#include "draw/draw.h"
#include "gfx/shaders.h"
#include "gfx/texpage.h"
#include "gfx/textures.h"
#include "input/input.h"
#include "layers/layers.h"
#include "lib/file_areas.h"
#include "platform/hooks.h"
#include "script/script.h"
#include "services/launcher.h"
#include "services/services.h"
#include "world/command_line.h"
#include "world/frame_timer.h"
#include "world/language.h"
#include "world/object.h"
#include "world/object_base.h"
#include "world/options.h"
#include "world/paths.h"
#include "world/room.h"
#include "world/room_change.h"
#include "world/run_state.h"
#include "world/runner.h"
#include "world/timeline.h"
#include "world/wad_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

GameDataInfo g_GameData = {};
QZObjectBase* g_GlobalObject = nullptr;

namespace {

constexpr int32_t kLoaderValueUnset = 0xFFFFFF;
constexpr char kLoaderDefaultDisplayName[] = "Made with Kelvane: Studio";
constexpr size_t kLoaderPathCapacity = 2048;

GameLinkSource g_loaderLinkSource = nullptr;
// Frees what the record owns and clears it.
void Loader_FreeRecord();
// A name that could not be resolved was reported during the current pass.
bool g_loaderNameError = false;

char* Loader_Copy(std::string_view text)
{
    char* copy = static_cast<char*>(MemoryManager::Alloc(text.size() + 1, __FILE__, __LINE__, true));
    if (!text.empty()) std::memcpy(copy, text.data(), text.size());
    return copy;
}

void Loader_FreeText(char** text)
{
    MemFree(*text);
    *text = nullptr;
}

uint32_t Loader_ReadU32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// A FORM is usable only when it says "FORM" and its size is exactly the rest of the data.
bool Loader_FormIsSound(const uint8_t* data, uint32_t length, uint32_t* formSize)
{
    *formSize = (data && length >= 8) ? Loader_ReadU32(data + 4) : 0;
    return data && length >= 8 && std::memcmp(data, "FORM", 4) == 0 && *formSize == length - 8;
}

// Reported through the error reporter, which ends a child game (a game change is under way) and the
// process otherwise.
bool Loader_ReportUnresolved(const char* kind, const char* name)
{
    g_loaderNameError = true;
    RuntimeError("Error on load\nUnable to find %s %s\n", kind, name ? name : "");
    return false;
}

// Operands already patched during this pass. Each operand belongs to exactly one reference, so a chain
// that comes back to one has gone wrong (a step of 0, a cycle, or two chains through one word).
class LoaderOperandMarks {
public:
    explicit LoaderOperandMarks(uint32_t length) : length_(length) {}
    ~LoaderOperandMarks() { MemFree(bits_); }
    LoaderOperandMarks(const LoaderOperandMarks&) = delete;
    LoaderOperandMarks& operator=(const LoaderOperandMarks&) = delete;
    // False when the offset was marked before.
    bool Mark(uint32_t offset)
    {
        if (!bits_) bits_ = static_cast<uint8_t*>(MemoryManager::Alloc(length_ / 8 + 1, __FILE__, __LINE__, true));
        uint8_t bit = uint8_t(1u << (offset & 7));
        if (bits_[offset >> 3] & bit) return false;
        bits_[offset >> 3] |= bit;
        return true;
    }

private:
    uint32_t length_;
    uint8_t* bits_ = nullptr;
};

// Walks one occurrence chain from the instruction word at first. Variable chains (stepBits 29 or 28)
// keep the operand's top four bits and store the id's low 28; function chains (stepBits 32) store the
// whole id. The step to the next occurrence is the operand's old value, counted from this instruction.
bool Loader_PatchChain(WadReader& reader, LoaderOperandMarks& marks, uint32_t first, uint32_t count, int32_t id,
                       int stepBits)
{
    if (count == 0) return true;
    // Every occurrence needs its own instruction word and operand.
    if (count > reader.Length() / 8) return reader.Fail(first, "occurrence count overruns the data");
    int64_t at = first;
    for (uint32_t k = 0; k < count; ++k) {
        if (at < 0 || at > int64_t(UINT32_MAX)) return reader.Fail(first, "occurrence chain leaves the data");
        uint32_t instruction = uint32_t(at);
        if (!reader.InData(instruction, 8, "occurrence chain leaves the data")) return false;
        uint32_t operandAt = instruction + 4;
        if (!marks.Mark(operandAt)) return reader.Fail(operandAt, "occurrence chain comes back to a patched operand");
        uint32_t old = 0;
        reader.DataU32(operandAt, &old);
        int64_t step;
        if (stepBits == 32) {
            reader.PutDataU32(operandAt, uint32_t(id));
            step = int32_t(old);
        } else {
            reader.PutDataU32(operandAt, (old & 0xF0000000u) | (uint32_t(id) & 0x0FFFFFFFu));
            uint32_t mask = (1u << stepBits) - 1;
            uint32_t low = old & mask;
            step = (low & (1u << (stepBits - 1))) ? int64_t(low) - (int64_t(1) << stepBits) : int64_t(low);
        }
        at += step;
    }
    return true;
}


// Up to version 7 the room order starts at 0x24, where later headers keep the project name and the
// version numbers: a field the order covers is a room index, not that field.
bool Loader_HeaderFieldIsFree(int32_t version, uint32_t offset, uint32_t orderCount)
{
    return version >= 8 || uint64_t(offset) >= 0x28 + uint64_t(orderCount) * 4;
}

void Loader_ResetHeaderFields()
{
    GameDataInfo& g = g_GameData;
    Loader_FreeText(&g.gameName);
    Loader_FreeText(&g.configName);
    Loader_FreeText(&g.displayName);
    g.header = nullptr;
    g.headerSize = 0;
    g.headerKind = 0;
    g.flags = 0;
    g.debugMode = false;
    g.bytecodeVersion = 0;
    g.newCodeFormat = false;
    g.hasBytecode = false;
    g.newMode = false;
    g.lastInstanceId = g.lastTileId = g.gameId = 0;
    g.kept = nullptr;
    g.majorVersion = 0;
    g.windowWidth = g.windowHeight = 0;
    g.windowFlags = 0;
    g.scriptObjectModel = false;
    g.externalCallsForbidden = false;
    g.featureFlags = ~uint64_t(0);
    g.steamAppId = 0;
    g.roomOrderOffset = g.roomOrderCount = 0;
    g.gameSpeed = 0;
    g.codeList = g.stringList = g.variBody = nullptr;
    g.codeCount = g.stringCount = g.variWords = 0;
    g.globalCount = g.instanceCount = g.localCount = 0;
    g.displayName = Loader_Copy(kLoaderDefaultDisplayName);
}

// Pass 1 of a header chunk.
bool Loader_ReadHeaderPass1(WadReader& r, uint32_t body, uint32_t size)
{
    GameDataInfo& g = g_GameData;
    DebugConsole->Output("Get Header Information\n");
    g.header = r.Data() + body;
    g.headerSize = size;

    uint8_t version = 0;
    uint32_t u = 0;
    const char* text = nullptr;
    if (!r.U8(body, &g.flags) || !r.U8(body + 1, &version)) return false;
    g.debugMode = (g.flags & 1) == 0;
    g.bytecodeVersion = version;
    if (!r.StringAt(body + 0x04, &text)) return false;
    Loader_FreeText(&g.gameName);
    g.gameName = text ? String_Duplicate(text) : nullptr;
    if (!r.StringAt(body + 0x08, &text)) return false;
    Loader_FreeText(&g.configName);
    g.configName = text ? String_Duplicate(text) : nullptr;
    if (!r.I32(body + 0x0C, &g.lastInstanceId) || !r.I32(body + 0x10, &g.lastTileId) ||
        !r.I32(body + 0x14, &g.gameId) || !r.InChunk(body + 0x18, 16, "header shorter than its fields"))
        return false;
    g.kept = r.Data() + body + 0x18;
    uint32_t orderCount = 0;
    if (!r.List(body + Loader_RoomOrderOffset(version), &orderCount)) return false;
    text = nullptr;
    if (Loader_HeaderFieldIsFree(version, 0x28, orderCount) && !r.StringAt(body + 0x28, &text)) return false;
    MemFree(g_ProjectName);
    g_ProjectName = String_Duplicate(text ? text : "");
    if (Loader_HeaderFieldIsFree(version, 0x2C, orderCount) && !r.I32(body + 0x2C, &g.majorVersion)) return false;

    if (version >= 8) {
        if (!r.I32(body + 0x3C, &g.windowWidth) || !r.I32(body + 0x40, &g.windowHeight) || !r.U32(body + 0x44, &u))
            return false;
        if (g_RunFlags.inAWindow) u &= ~1u;
        g.windowFlags = u;
        g.scriptObjectModel = (u & 0x8000) != 0;
    }
    g_WindowFlags = g.windowFlags;
    g.externalCallsForbidden = (g.windowFlags & 0x1000) != 0 || g_ChildGame || g_RunFlags.steam;
    if (version >= 10) {
        if (!r.StringAt(body + 0x64, &text)) return false;
        if (text) {
            Loader_FreeText(&g.displayName);
            g.displayName = String_Duplicate(text);
        }
    }
    if (version >= 11 && !r.InChunk(body + 0x68, 8, "header shorter than its fields")) return false;
    if (version >= 12 && !r.U64(body + 0x70, &g.featureFlags)) return false;
    if (version >= 13 && !r.I32(body + 0x78, &g.steamAppId)) return false;
    if (version >= 14 && !r.InChunk(body + 0x7C, 4, "header shorter than its fields")) return false;

    g.newCodeFormat = version >= 15;
    g.headerKind = HEADER_KIND_GEN8;
    DebugConsole->Output("InitKSLFunctions\n");
    g.newMode = g.majorVersion >= 2;
    InitKSLFunctions();
    return true;
}

// Every entry of the string list must be a whole string: length word, text and NUL inside the data.
bool Loader_CheckStrings(WadReader& r, uint32_t list, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t entry = 0;
        const char* text = nullptr;
        if (!r.ListEntry(list, i, &entry)) return false;
        if (entry == 0) continue;
        if (entry > UINT32_MAX - 4) return r.Fail(entry, "string reference outside the data");
        if (!r.String(entry + 4, &text)) return false;
    }
    return true;
}

// Pass 2 handlers that are not plain loaders.
bool Loader_OldHeader(uint8_t* body, uint32_t size, uint8_t* base)
{
    g_GameData.headerKind = HEADER_KIND_GEN7;
    return GEN8_Load(body, size, base);
}

bool Loader_Sounds(uint8_t* body, uint32_t size, uint8_t* base)
{
    return g_GameOptions.newAudioEngine ? Audio_Load(body, size, base) : Sound_Init(body, size, base);
}

bool Loader_AudioGroups(uint8_t* body, uint32_t size, uint8_t* base)
{
    return g_GameOptions.newAudioEngine ? AudioGroup_Load(body, size, base) : true;
}

bool Loader_Waves(uint8_t* body, uint32_t size, uint8_t* base)
{
    return g_GameOptions.newAudioEngine ? Audio_WAVs(body, size, base, 0) : Wave_Init(body, size, base);
}

bool Loader_Globals(uint8_t* body, uint32_t size, uint8_t* base)
{
    WadReader r = WadReader::ForChunk(body, size, base);
    uint32_t count = 0;
    if (!r.List(r.ChunkStart(), &count)) return false;
    // Each index names a code entry that runs at game start.
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t index = 0;
        r.ListEntry(r.ChunkStart(), i, &index);
        if (index >= g_GameData.codeCount) return r.Fail(r.ChunkStart() + 4 + i * 4, "code index beyond the code list");
    }
    g_GameData.globList = body;
    g_GameData.globCount = count;
    return true;
}

bool Loader_TexturePageEntries(uint8_t* body, uint32_t size, uint8_t* base)
{
    WadReader r = WadReader::ForChunk(body, size, base);
    uint32_t count = 0;
    if (!r.List(r.ChunkStart(), &count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t entry = 0;
        r.ListEntry(r.ChunkStart(), i, &entry);
        if (!r.InData(entry, 22, "texture page entry outside the data")) return false;
    }
    g_GameData.tpagBody = body;
    g_GameData.tpagSize = size;
    return true;
}

bool Loader_Nothing(uint8_t*, uint32_t, uint8_t*) { return true; }

struct LoaderChunkHandler {
    uint32_t tag;
    bool (*load)(uint8_t* body, uint32_t size, uint8_t* base);
};

const LoaderChunkHandler kLoaderPass2Table[] = {
    {Wad_Tag("GEN8"), GEN8_Load},
    {Wad_Tag("GEN7"), Loader_OldHeader},
    {Wad_Tag("GENL"), Loader_OldHeader},
    {Wad_Tag("OPTN"), Option_Load},
    {Wad_Tag("LANG"), Language_Load},
    {Wad_Tag("EXTN"), Extension_Load},
    {Wad_Tag("SOND"), Loader_Sounds},
    {Wad_Tag("AGRP"), Loader_AudioGroups},
    {Wad_Tag("SPRT"), Sprite_Load},
    {Wad_Tag("BGND"), Background_Load},
    {Wad_Tag("PATH"), Path_Load},
    {Wad_Tag("SCPT"), Script_Load},
    {Wad_Tag("GLOB"), Loader_Globals},
    {Wad_Tag("SHDR"), Shader_Load},
    {Wad_Tag("FONT"), Font_Load},
    {Wad_Tag("TMLN"), TimeLine_Load},
    {Wad_Tag("OBJT"), Object_Load},
    {Wad_Tag("ROOM"), Room_Load},
    {Wad_Tag("TPAG"), Loader_TexturePageEntries},
    {Wad_Tag("CODE"), CODE_Load},
    {Wad_Tag("FUNC"), FUNC_Load},
    {Wad_Tag("TXTR"), TexturePage_Load},
    {Wad_Tag("AUDO"), Loader_Waves},
    // Read in pass 1, or not used.
    {Wad_Tag("STRG"), Loader_Nothing},
    {Wad_Tag("VARI"), Loader_Nothing},
    {Wad_Tag("DAFL"), Loader_Nothing},
    {Wad_Tag("HELP"), Loader_Nothing},
    {Wad_Tag("RASP"), Loader_Nothing},
    {Wad_Tag("PSPS"), Loader_Nothing},
    {Wad_Tag("STAT"), Loader_Nothing},
};

// Memory contexts keep the name they are given while pushed; one chunk is walked at a time.
char g_loaderChunkContext[5];

bool Loader_TagIsText(uint32_t tag)
{
    for (int i = 0; i < 4; ++i) {
        const uint32_t c = (tag >> (8 * i)) & 0xFF;
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

// The next chunk header at offset, after the last chunk whose tag was text, previousTag (0: none yet):
// false (damage recorded) when it does not fit. A header whose tag is no text and whose chunk runs past
// the end is most likely no header at all but the middle of a chunk that a wrong size led the walk into,
// so the damage names the chunk before it (the tag's bytes alone would name nothing, or print as nothing).
bool Loader_NextChunk(WadReader& r, uint32_t offset, uint32_t previousTag, uint32_t* tag, uint32_t* size)
{
    if (r.Length() - offset < 8) {
        r.SetChunk(Wad_Tag("FORM"), 0, 0);
        return r.Fail(offset, "chunk header past the end of the data");
    }
    *tag = Loader_ReadU32(r.Data() + offset);
    *size = Loader_ReadU32(r.Data() + offset + 4);
    if (uint64_t(offset) + 8 + *size <= r.Length() || Loader_TagIsText(*tag)) return true;
    char what[128];
    std::snprintf(what, sizeof what,
                  "the next chunk header (tag bytes %02X %02X %02X %02X, size %u) runs past the end of the data",
                  *tag & 0xFF, (*tag >> 8) & 0xFF, (*tag >> 16) & 0xFF, *tag >> 24, *size);
    r.SetChunk(previousTag ? previousTag : Wad_Tag("FORM"), 0, 0);
    return r.Fail(offset, what);
}

std::string Loader_AbsolutePath(const char* path)
{
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    if (ec) return path;
    return full.lexically_normal().string();
}

}  // namespace

uint32_t Loader_RoomOrderOffset(int32_t version)
{
    if (version <= 7) return 0x24;
    if (version <= 9) return 0x64;
    if (version == 10) return 0x68;
    if (version == 11) return 0x70;
    if (version == 12) return 0x78;
    if (version == 13) return 0x7C;
    return 0x80;
}

void Loader_SetLinkSource(GameLinkSource source) { g_loaderLinkSource = source; }

void Wad_RecordDamage(const char* what)
{
    if (g_GameData.damaged) return;
    g_GameData.damaged = true;
    std::snprintf(g_GameData.damage, sizeof g_GameData.damage, "%s", what ? what : "");
    DebugConsole->Output("Game data is damaged: %s\n", g_GameData.damage);
}

void InitWorkingDirectory(const char* path)
{
    if (g_WorkingDirectory || !path) return;
    std::string_view p(path);
    size_t cut = p.rfind('/');
    if (cut == std::string_view::npos) cut = p.rfind('\\');
    if (cut == std::string_view::npos) cut = 0;
    g_WorkingDirectory = Loader_Copy(cut == 0 ? std::string_view() : p.substr(0, cut + 1));
    const std::string rule(73, '#');
    DebugConsole->Output("%s\n", rule.c_str());
    DebugConsole->Output("####!!!!$$$$$$ pwd - %s\n", g_WorkingDirectory);
    DebugConsole->Output("%s\n", rule.c_str());
}

namespace {

// The box (and, for damage, the console line) of data that cannot be used; then a child game ends and any
// other run exits with status 1.
void Loader_EndUnusable(const char* text, bool damaged)
{
    if (damaged) ReleaseConsole->Output("%s\n", text);
    ShowMessageBox(text);
    if (g_ChildGame) {
        RoomChangeCode = ROOM_CHANGE_GAME_END;
        return;
    }
    Platform_Exit(1);
}

}  // namespace

void Loader_GameUnusable()
{
    // Data that was found but is damaged says why; only data that is missing says it was not found.
    std::string text = g_GameData.damaged ? std::string("Game data is damaged: ") + g_GameData.damage
                                          : std::string("Unable to find game!!: ") + (g_GameFile ? g_GameFile : "");
    Loader_EndUnusable(text.c_str(), g_GameData.damaged);
}

bool RunnerLoadGame()
{
    DebugConsole->Output("RunnerLoadGame: %s\n", g_GameFile ? g_GameFile : "");
    Loader_FreeRecord();
    GameDataInfo& g = g_GameData;

    auto* link = static_cast<GameLinkData*>(MemoryManager::Alloc(sizeof(GameLinkData), __FILE__, __LINE__, true));
    (g_loaderLinkSource ? g_loaderLinkSource : Game_GetLinkData)(link);
    g.link = link;
    g.codeEntryCount = link->codeEntryCount;
    g.stackTraceHead = link->stackTraceHead;
    StackTrace_SetHead(link->stackTraceHead);
    bool embedded = link->embeddedData != nullptr;

    if (embedded) {
        GameFile_Set(GetExecutablePath());
    } else {
        bool offered = false;
        if (!g_GameFile && !g_RunFlags.headless) {
            char* chosen = ChooseGameFile(&offered);
            GameFile_Set(chosen);
            MemFree(chosen);
        }
        if (!g_GameFile) {
            if (g_ChildGame) {
                RoomChangeCode = ROOM_CHANGE_GAME_END;
            } else {
                // Nobody was asked for a game, so say how to give one rather than end without a word.
                if (!offered)
                    std::fprintf(stderr,
                                 "No game to run. Give one with -game FILE, or put data.win beside the program "
                                 "(in %s).\n",
                                 GetExecutableDirectory());
                Platform_Exit(1);
            }
            return false;
        }
        // The user named this file (-game or the dialog), so it may lie outside the current folder.
        std::string full = Loader_AbsolutePath(g_GameFile);
        GameFile_Set(full.c_str());
        Paths_ResetRunCache();
        if (!FileArea_IsAllowed(&FileArea_OpenAllowList, full.c_str()))
            FileArea_AddAllowed(&FileArea_OpenAllowList, full.c_str(), false);
        InitWorkingDirectory(full.c_str());
        char resolved[kLoaderPathCapacity];
        bool found = GameArea_FileExists(full.c_str()) && GameArea_ResolvePath(resolved, sizeof resolved, full.c_str());
        if (!found) found = SaveArea_FileExists(full.c_str()) && SaveArea_ResolvePath(resolved, sizeof resolved, full.c_str());
        // In neither area: the read below fails and names the file as given.
        if (!found) std::snprintf(resolved, sizeof resolved, "%s", full.c_str());
        DebugConsole->Output("RunnerLoadGame() - %s\n", resolved);
        GameFile_Set(resolved);
        Paths_ResetRunCache();
    }
    g.gamePath = String_Duplicate(g_GameFile ? g_GameFile : "");
    InitWorkingDirectory(g.gamePath);

    // options.ini beside the game data.
    std::string_view path(g.gamePath);
    // A game without options.ini keeps none of the previous game's settings.
    Options_ReadIniFile(nullptr);
    size_t cut = path.rfind('/');
    if (cut == std::string_view::npos) cut = path.rfind('\\');
    if (cut != std::string_view::npos) {
        std::string ini = std::string(path.substr(0, cut)) + "/options.ini";
        g.iniPath = String_Duplicate(ini.c_str());
        DebugConsole->Output("Checking if INIFile %s Exists\n", g.iniPath);
        if (File_CanOpen(g.iniPath)) g.iniFile = Options_ReadIniFile(g.iniPath);
        else DebugConsole->Output("!!!!No INI File %s\n", g.iniPath);
    }

    // The debug file: the game file's name with ".qzdebug" for its extension. Only a '.' of the file
    // name counts, so a dotted folder name is not cut.
    size_t nameStart = (cut == std::string_view::npos) ? 0 : cut + 1;
    size_t dot = path.rfind('.');
    std::string debugPath(path.substr(0, (dot != std::string_view::npos && dot >= nameStart) ? dot : path.size()));
    debugPath += ".qzdebug";
    g.debugPath = String_Duplicate(debugPath.c_str());
    if (GameArea_FileExists(g.debugPath)) {
        int32_t debugLength = 0;
        g.debugData = static_cast<uint8_t*>(GameArea_ReadFile(g.debugPath, &debugLength));
        g.debugLength = g.debugData ? uint32_t(debugLength) : 0;
        if (g.debugData) DebugChunks_Load(g.debugData, g.debugLength);
    }

    // The game data: always a private copy, because the fix-ups write into it.
    DebugConsole->Output("Reading File %s\n", g.gamePath);
    uint8_t* data = nullptr;
    uint32_t length = 0;
    if (embedded) {
        if (link->embeddedLength > 0) {
            data = static_cast<uint8_t*>(MemoryManager::Alloc(link->embeddedLength, __FILE__, __LINE__, false));
            std::memcpy(data, link->embeddedData, link->embeddedLength);
            length = link->embeddedLength;
        }
    } else {
        MemoryManager::PushContext("WAD file");
        int32_t size = 0;
        data = static_cast<uint8_t*>(File_ReadAll(g.gamePath, &size));
        MemoryManager::PopContext();
        length = data ? uint32_t(size) : 0;
        if (data) DebugConsole->Output("Loaded File %s(%d)\n", g.gamePath, size);
        else DebugConsole->Output("FAILED to load File %s\n", g.gamePath);
    }
    if (data && length >= 4 && (std::memcmp(data, "FORM", 4) == 0 || std::memcmp(data, "MROF", 4) == 0))
        DebugConsole->Output("IFF wad found\n");
    if (!data) {
        Loader_GameUnusable();
        return false;
    }
    uint32_t formSize = 0;
    if (!Loader_FormIsSound(data, length, &formSize)) {
        // The path makes this line longer than the damage record holds, so it is shown from here.
        char line[kLoaderPathCapacity + 96];
        std::snprintf(line, sizeof line, "Game data is damaged: %s (FORM size %u, length %u)", g.gamePath, formSize,
                      length);
        DebugConsole->Output("%s\n", line);
        g.damaged = true;
        const char* what = line + std::strlen("Game data is damaged: ");
        const size_t kept = std::min(std::strlen(what), sizeof g.damage - 1);
        std::memcpy(g.damage, what, kept);
        g.damage[kept] = '\0';
        MemFree(data);
        Loader_EndUnusable(line, true);
        return false;
    }
    g.data = data;
    g.length = length;

    if (!g_LauncherOwnGameFile) g_LauncherOwnGameFile = String_Duplicate(g_GameFile);
    return true;
}

bool Wad_ReadHeader(uint8_t* data, uint32_t length)
{
    GameDataInfo& g = g_GameData;
    g.data = data;
    g.length = data ? length : 0;
    g.damaged = false;
    g.damage[0] = '\0';
    g_loaderNameError = false;
    Loader_ResetHeaderFields();

    WadReader r(data, g.length);
    uint32_t formSize = 0;
    if (!Loader_FormIsSound(data, g.length, &formSize)) {
        r.Fail(4, "FORM size does not match the length of the data");
        return false;
    }
    uint32_t previousTag = 0;
    for (uint32_t offset = 8; offset < g.length;) {
        uint32_t tag = 0, size = 0;
        if (!Loader_NextChunk(r, offset, previousTag, &tag, &size)) return false;
        if (Loader_TagIsText(tag)) previousTag = tag;
        uint32_t body = offset + 8;
        if (!r.SetChunk(tag, body, size)) return false;
        if (size != 0) {
            if (tag == Wad_Tag("GEN7") || tag == Wad_Tag("GEN8") || tag == Wad_Tag("GENL")) {
                if (!Loader_ReadHeaderPass1(r, body, size)) return false;
            } else if (tag == Wad_Tag("CODE")) {
                DebugConsole->Output("Code_Load()\n");
                g.hasBytecode = true;
                if (!r.List(body, &g.codeCount)) return false;
                g.codeList = data + body;
            } else if (tag == Wad_Tag("STRG")) {
                DebugConsole->Output("ID_STRG\n");
                uint32_t count = 0;
                if (!r.List(body, &count) || !Loader_CheckStrings(r, body, count)) return false;
                g.stringList = data + body;
                g.stringCount = count;
            } else if (tag == Wad_Tag("VARI")) {
                DebugConsole->Output("VARI_Load()\n");
                if (!VARI_Load(data + body, size, data)) return false;
                g.variBody = data + body;
                g.variWords = size / 4;
            }
        }
        if (g.damaged || g_loaderNameError) return false;
        offset = body + size;
    }
    return true;
}

bool LoadGameData()
{
    DebugConsole->Output("LoadGameData()\n");
    return Wad_LoadChunks(g_GameData.data, g_GameData.length);
}

bool Wad_LoadChunks(uint8_t* data, uint32_t length)
{
    GameDataInfo& g = g_GameData;
    g.data = data;
    g.length = data ? length : 0;
    g.damaged = false;
    g.damage[0] = '\0';
    g_loaderNameError = false;
    g.tpagBody = nullptr;
    g.tpagSize = 0;
    g.globList = nullptr;
    g.globCount = 0;

    DebugConsole->Output("initialise everything!\n");
    Sound_Clear();
    Sprite_Init();
    Background_Init();
    Path_Init();
    Script_Clear();
    Font_Init();
    TimeLine_Init();
    Object_Init();
    Room_Init();
    Options_InitDefaults();
    if (g.newMode) {
        CCameraManager::Reset();
        Camera_CreateDefault();
    }

    int32_t globals = g.globalCount;
    int32_t instances = g.instanceCount;
    if (g.link && g.link->instanceSlotCount > 0) instances = g.link->instanceSlotCount;
    if (g.link && g.link->globalSlotCount > 0 && !g_GlobalObject) globals = g.link->globalSlotCount;
    if (!g_GlobalObject) g_GlobalObject = ObjectBase_Alloc(std::max(globals, instances), kLoaderValueUnset, true);

    WadReader r(data, g.length);
    uint32_t formSize = 0;
    if (!Loader_FormIsSound(data, g.length, &formSize)) {
        r.Fail(4, "FORM size does not match the length of the data");
        return false;
    }
    bool result = true;
    uint32_t previousTag = 0;
    for (uint32_t offset = 8; offset < g.length;) {
        uint32_t tag = 0, size = 0;
        if (!Loader_NextChunk(r, offset, previousTag, &tag, &size)) return false;
        if (Loader_TagIsText(tag)) previousTag = tag;
        uint32_t body = offset + 8;
        Wad_TagText(tag, g_loaderChunkContext);
        MemoryManager::PushContext(g_loaderChunkContext);
        DebugConsole->Output("Process Chunk: %s   %d\n", g_loaderChunkContext, int32_t(size));
        if (r.SetChunk(tag, body, size) && size != 0) {
            const LoaderChunkHandler* handler = nullptr;
            for (const LoaderChunkHandler& h : kLoaderPass2Table)
                if (h.tag == tag) handler = &h;
            if (handler) {
                handler->load(data + body, size, data);
            } else {
                DebugConsole->Output("unknown Chunk %s:%d\n", g_loaderChunkContext, int32_t(tag));
                result = false;
            }
        }
        MemoryManager::PopContext();
        if (g.damaged || g_loaderNameError) return false;
        offset = body + size;
    }

    if (g.scriptObjectModel) JS_CreateResourceObject();
    if (g.link) {
        for (GameLinkNameId* e = g.link->variables; e && e->name; ++e) e->id = Code_Variable_FindAlloc(e->name);
        for (GameLinkNameId* e = g.link->builtins; e && e->name; ++e) e->id = Code_Function_Find(e->name);
    }
    return result;
}

bool GEN8_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    GameDataInfo& g = g_GameData;
    WadReader r = WadReader::ForChunk(body, size, base);
    uint32_t at = r.ChunkStart();
    g.header = body;
    g.headerSize = size;

    uint8_t version = 0;
    int32_t instanceId = 0, tileId = 0, major = 0;
    uint32_t orderAt = 0, count = 0;
    if (!r.U8(at + 1, &version) || !r.I32(at + 0x0C, &instanceId) || !r.I32(at + 0x10, &tileId) ||
        !r.I32(at + 0x14, &g.gameId) || !r.InChunk(at + 0x18, 16, "header shorter than its fields"))
        return false;
    orderAt = at + Loader_RoomOrderOffset(version);
    if (!r.List(orderAt, &count)) return false;
    if (Loader_HeaderFieldIsFree(version, 0x2C, count) && !r.I32(at + 0x2C, &major)) return false;
    g.bytecodeVersion = version;
    g.lastInstanceId = instanceId;
    g.lastTileId = tileId;
    g.kept = body + 0x18;
    g.majorVersion = major;
    Room_SetNextInstanceId(instanceId);
    Room_SetNextTileId(tileId);
    if (version >= 8) {
        uint32_t flags = 0;
        if (!r.I32(at + 0x3C, &g.windowWidth) || !r.I32(at + 0x40, &g.windowHeight) || !r.U32(at + 0x44, &flags))
            return false;
        if (g_RunFlags.inAWindow) flags &= ~1u;
        g.windowFlags = flags;
        g.scriptObjectModel = (flags & 0x8000) != 0;
    }

    g.roomOrderOffset = orderAt;
    g.roomOrderCount = count;
    Room_LoadOrder(body, size);
    if (g.scriptObjectModel) JS_Init();

    if (version >= 14 && major >= 2) {
        // 40 reserved bytes follow the room indexes, then the speed.
        uint64_t speedAt = uint64_t(orderAt) + 4 + uint64_t(count) * 4 + 40;
        float speed = 0;
        if (speedAt > UINT32_MAX) return r.Fail(orderAt, "header shorter than its fields");
        if (!r.F32(uint32_t(speedAt), &speed)) return false;
        g.gameSpeed = speed;
        FrameTimer_SetFPS(&g_GameTimer, g.gameSpeed);
    }
    return true;
}

bool Code_RemapOldOpcodes(uint8_t* code, uint32_t length)
{
    static const uint8_t kRemap[32] = {0,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                                       20, 21, 21, 21, 21, 21, 21, 22, 23, 24, 25, 26, 27, 28, 29, 31};
    for (uint32_t at = 0; at < length;) {
        if (length - at < 4) return false;
        uint32_t word = Loader_ReadU32(code + at);
        uint32_t top = word >> 24;
        uint32_t opcode = kRemap[top & 0x1F];
        word = (word & 0x00FFFFFFu) | ((top & 0xE0u) | opcode) << 24;
        if (opcode == 21) word = (word & 0xFFFF00FFu) | ((top - 16) & 0xFFu) << 8;
        std::memcpy(code + at, &word, 4);
        uint32_t step = 4;
        if (top & 0x40) step += uint32_t(Disasm_OperandSize(int32_t((word >> 16) & 0xF)));
        if (step > length - at) return false;
        at += step;
    }
    return true;
}

bool CODE_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    GameDataInfo& g = g_GameData;
    WadReader r = WadReader::ForChunk(body, size, base);
    uint32_t list = r.ChunkStart();
    uint32_t count = 0;
    if (!r.List(list, &count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t entry = 0, codeLength = 0;
        const char* name = nullptr;
        if (!r.ListEntry(list, i, &entry)) return false;
        if (entry == 0) continue;
        if (!r.StringAt(entry, &name) || !r.U32(entry + 4, &codeLength)) return false;
        if (g.newCodeFormat) {
            // Nothing is rewritten; the entry and its bytecode must still lie inside the chunk.
            uint32_t counts = 0, blobOffset = 0;
            int32_t relative = 0;
            if (!r.U32(entry + 8, &counts) || !r.I32(entry + 12, &relative) || !r.U32(entry + 16, &blobOffset))
                return false;
            int64_t start = int64_t(entry) + 12 + relative;
            if (start < 0 || start > int64_t(UINT32_MAX)) return r.Fail(entry + 12, "bytecode outside the chunk");
            if (!r.InChunk(uint32_t(start), codeLength, "bytecode outside the chunk")) return false;
            // The entry starts on an instruction word of its block.
            if (blobOffset > codeLength || blobOffset % 4 != 0)
                return r.Fail(entry + 16, "block offset outside the bytecode");
            continue;
        }
        if (!r.InChunk(entry + 8, codeLength, "code length past the chunk")) return false;
        if (!Code_RemapOldOpcodes(base + entry + 8, codeLength))
            return r.Fail(entry + 8, "instruction runs past the end of its entry");
    }
    return true;
}

bool VARI_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    GameDataInfo& g = g_GameData;
    WadReader r = WadReader::ForChunk(body, size, base);
    LoaderOperandMarks marks(r.Length());
    uint32_t at = r.ChunkStart();
    g.globalCount = g.instanceCount = g.localCount = 0;
    if (r.Failed()) return false;

    if (!g.newCodeFormat) {
        for (uint32_t i = 0; i < size / 12; ++i) {
            uint32_t record = at + i * 12, count = 0, first = 0;
            const char* name = nullptr;
            if (!r.StringAt(record, &name) || !r.U32(record + 4, &count) || !r.U32(record + 8, &first)) return false;
            int32_t id = Code_Variable_FindAlloc(name);
            if (id < 0) return Loader_ReportUnresolved("variable", name);
            if (!Loader_PatchChain(r, marks, first, count, id, 29)) return false;
        }
        return true;
    }

    int32_t globals = 0, instances = 0, locals = 0;
    if (!r.I32(at, &globals) || !r.I32(at + 4, &instances) || !r.I32(at + 8, &locals)) return false;
    uint32_t records = (size - 12) / 20;
    if (instances == 0) instances = 2;
    // The counts size tables: each global and instance variable has a record, each local a name entry.
    if (globals < 0 || uint32_t(globals) > records) return r.Fail(at, "global variable count overruns the chunk");
    if (instances < 0 || uint32_t(instances) > std::max(records, 2u))
        return r.Fail(at + 4, "instance variable count overruns the chunk");
    if (locals < 0 || uint32_t(locals) > r.Length() / 8) return r.Fail(at + 8, "local variable count overruns the data");
    g.globalCount = globals;
    g.instanceCount = instances;
    g.localCount = locals;
    Code_Variable_Init(globals, instances, locals);
    DebugConsole->Output("got %d global variables\n", globals);
    DebugConsole->Output("got %d instance variables\n", instances);
    DebugConsole->Output("got %d local variables\n", locals);
    for (uint32_t i = 0; i < records; ++i) {
        uint32_t record = at + 12 + i * 20, count = 0, first = 0;
        int32_t scope = 0, index = 0;
        const char* name = nullptr;
        if (!r.StringAt(record, &name) || !r.I32(record + 4, &scope) || !r.I32(record + 8, &index) ||
            !r.U32(record + 12, &count) || !r.U32(record + 16, &first))
            return false;
        int32_t id = Code_Variable_SetName(name, index == -6 ? -6 : scope, index);
        if (id < 0) return Loader_ReportUnresolved("variable", name);
        if (!Loader_PatchChain(r, marks, first, count, id, 28)) return false;
    }
    return true;
}

bool FUNC_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    GameDataInfo& g = g_GameData;
    WadReader r = WadReader::ForChunk(body, size, base);
    LoaderOperandMarks marks(r.Length());
    uint32_t at = r.ChunkStart();
    uint32_t records = size / 12;
    if (g.newCodeFormat) {
        if (!r.U32(at, &records)) return false;
        if (!r.InChunk(at + 4, uint64_t(records) * 12, "function count overruns the chunk")) return false;
        at += 4;
    }
    if (r.Failed()) return false;
    for (uint32_t i = 0; i < records; ++i) {
        uint32_t record = at + i * 12, count = 0, first = 0;
        const char* name = nullptr;
        if (!r.StringAt(record, &name) || !r.U32(record + 4, &count) || !r.U32(record + 8, &first)) return false;
        int32_t id = Code_Function_Find(name);
        if (id < 0) return Loader_ReportUnresolved("function", name);
        if (!Loader_PatchChain(r, marks, first, count, id, 32)) return false;
    }
    if (g.newCodeFormat) {
        uint32_t locals = at + records * 12;
        Code_Variable_LoadLocalNames(base + locals, r.ChunkEnd() - locals, base);
    }
    return true;
}

bool TexturePage_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    GameDataInfo& g = g_GameData;
    WadReader r = WadReader::ForChunk(body, size, base);
    uint32_t list = r.ChunkStart();
    uint32_t count = 0;
    if (!r.List(list, &count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t entry = 0;
        r.ListEntry(list, i, &entry);
        if (!r.InData(entry, 8, "texture page outside the data")) return false;
    }

    MemFree(g.texturePageIds);
    g.texturePageIds = count ? static_cast<int32_t*>(MemoryManager::Alloc(count * 4ull, __FILE__, __LINE__, true)) : nullptr;
    g.texturePageCount = count;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t entry = 0, flags = 0, dataAt = 0;
        r.ListEntry(list, i, &entry);
        r.DataU32(entry, &flags);
        r.DataU32(entry + 4, &dataAt);
        if (dataAt != 0 && !r.InData(dataAt, 0, "texture page data outside the data")) return false;
        // Image readers stop at the image's own end; they may not read past the data.
        uint8_t* pixels = dataAt ? base + dataAt : nullptr;
        uint32_t available = dataAt ? r.Length() - dataAt : 0;
        g.texturePageIds[i] = GR_Texture_CreateFromPage(pixels, available, (flags & 1) != 0);
    }

    if (!g.tpagBody) return true;
    WadReader pages = WadReader::ForChunk(g.tpagBody, g.tpagSize, base);
    uint32_t entries = 0;
    if (!pages.List(pages.ChunkStart(), &entries)) return false;
    for (uint32_t i = 0; i < entries; ++i) {
        uint32_t entry = 0;
        int16_t page = 0;
        if (!pages.ListEntry(pages.ChunkStart(), i, &entry) || !pages.DataI16(entry + 20, &page)) return false;
        if (page >= 0 && uint32_t(page) < count) {
            pages.PutDataI16(entry + 20, int16_t(uint16_t(uint32_t(g.texturePageIds[page]) & 0xFFFF)));
        } else {
            DebugConsole->Output("what!!!!\n");
        }
        // Scripts name entries by token, never by address.
        TexturePageEntry_Register(reinterpret_cast<const TexturePageEntry*>(base + entry));
    }
    return true;
}

bool DebugChunks_Load(uint8_t* data, uint32_t length)
{
    GameDataInfo& g = g_GameData;
    uint32_t formSize = 0;
    if (!Loader_FormIsSound(data, length, &formSize)) return false;
    // The debug file is optional: its damage never fails the game.
    WadReader r(data, length, false);
    uint32_t previousTag = 0;
    for (uint32_t offset = 8; offset < length;) {
        uint32_t tag = 0, size = 0;
        if (!Loader_NextChunk(r, offset, previousTag, &tag, &size)) return false;
        if (Loader_TagIsText(tag)) previousTag = tag;
        uint32_t body = offset + 8;
        char text[5];
        Wad_TagText(tag, text);
        DebugConsole->Output("Process Chunk: %s   %d\n", text, int32_t(size));
        if (!r.SetChunk(tag, body, size)) return false;
        uint32_t count = 0;
        if (size != 0 && (tag == Wad_Tag("DBGI") || tag == Wad_Tag("SCPT") || tag == Wad_Tag("INST"))) {
            if (!r.U32(body, &count)) return false;
            uint8_t* entries = data + body + 4;
            if (tag == Wad_Tag("DBGI")) {
                g.debugInfo = entries;
                g.debugInfoCount = count;
            } else if (tag == Wad_Tag("SCPT")) {
                g.debugScripts = entries;
                g.debugScriptCount = count;
            } else {
                g.debugInstances = entries;
                g.debugInstanceCount = count;
            }
        }
        offset = body + size;
    }
    return true;
}

void UnloadGameData()
{
    Path_Init();
    TimeLine_Unload();
    // Room records and creation codes point into the data.
    Room_FreeAll();
    if (g_GameData.data) TexturePageEntry_UnregisterRange(g_GameData.data, g_GameData.data + g_GameData.length);
    Loader_FreeRecord();
}

namespace {

void Loader_FreeRecord()
{
    GameDataInfo& g = g_GameData;
    MemFree(g.data);
    MemFree(g.link);
    MemFree(g.debugData);
    MemFree(g.texturePageIds);
    for (char** text : {&g.gameName, &g.configName, &g.displayName, &g.gamePath, &g.iniPath, &g.debugPath})
        MemFree(*text);
    // The parsed options.ini belongs to the options code, which frees it with its tables.
    g = {};
}

}  // namespace
