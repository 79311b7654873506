#include "world/options.h"

#include "core/constants.h"
#include "core/error.h"
#include "core/memory_manager.h"
#include "core/text.h"
#include "core/varlist.h"
#include "draw/draw.h"
#include "gfx/window.h"
#include "input/input.h"
#include "physics/physics.h"
#include "world/command_line.h"
#include "world/ini.h"
#include "world/loader.h"
#include "world/wad_reader.h"

#include <cstring>

GameOptions g_GameOptions = {};

namespace {

constexpr IniOptions kIniOptionsDefaults = {false, 0, false, true, true, true, true};

// The user constants of the loaded options chunk: name and value texts, own copies.
struct OptionsConstantTable {
    int32_t count;
    char** names;
    char** values;
};
OptionsConstantTable g_optionsConstants = {};

IniFile* g_optionsIni = nullptr;

void OptionsFreeConstants(OptionsConstantTable* table)
{
    for (int32_t i = 0; i < table->count; ++i) {
        MemFree(table->names[i]);
        MemFree(table->values[i]);
    }
    MemFree(table->names);
    MemFree(table->values);
    *table = {};
}

// The orientation lock of this platform: there is nothing to turn.
void Options_LockOrientation(const IniOptions&) {}

// New layout: one flag word.
constexpr uint32_t kOptionFullScreen = 1u << 0;
constexpr uint32_t kOptionNewAudio = 1u << 2;
constexpr uint32_t kOptionShowCursor = 1u << 4;
constexpr uint32_t kOptionChangeDisplayMode = 1u << 7;
constexpr uint32_t kOptionAltEnter = 1u << 9;
constexpr uint32_t kOptionFreeze = 1u << 15;
constexpr uint32_t kOptionErrorsAbort = 1u << 21;
constexpr uint32_t kOptionUnsetVariables = 1u << 22;
constexpr uint32_t kOptionCollisionMode = 1u << 26;

bool OptionsReadNewLayout(WadReader& r, uint32_t at, GameOptions* o)
{
    if (!r.InChunk(at, 0x40, "options shorter than their fields")) return false;
    uint64_t flagWord = 0;
    r.U64(at + 0x08, &flagWord);
    // Only the low half carries options.
    auto flags = uint32_t(flagWord);
    o->fullScreen = (flags & kOptionFullScreen) != 0;
    o->newAudioEngine = (flags & kOptionNewAudio) != 0;
    o->showCursor = (flags & kOptionShowCursor) != 0;
    o->changeDisplayMode = (flags & kOptionChangeDisplayMode) != 0;
    o->altEnterFullScreen = (flags & kOptionAltEnter) != 0;
    o->freezeWhenInactive = (flags & kOptionFreeze) != 0;
    o->errorsAbort = (flags & kOptionErrorsAbort) != 0;
    o->unsetVariablesAreErrors = (flags & kOptionUnsetVariables) != 0;
    o->collisionMode = (flags & kOptionCollisionMode) != 0;
    r.U32(at + 0x14, &o->windowColour);
    r.I32(at + 0x18, &o->colourDepthCode);
    r.I32(at + 0x1C, &o->resolutionCode);
    r.I32(at + 0x20, &o->frequencyCode);
    return !r.Failed();
}

// Old layout: one word per option, non-zero meaning on. The collision mode is not in it.
bool OptionsReadOldLayout(WadReader& r, uint32_t at, GameOptions* o)
{
    if (!r.InChunk(at, 0x90, "options shorter than their fields")) return false;
    auto on = [&](uint32_t offset) {
        uint32_t v = 0;
        r.U32(at + offset, &v);
        return v != 0;
    };
    o->fullScreen = on(0x00);
    o->newAudioEngine = on(0x08);
    o->showCursor = on(0x10);
    r.U32(at + 0x20, &o->windowColour);
    o->changeDisplayMode = on(0x24);
    r.I32(at + 0x28, &o->colourDepthCode);
    r.I32(at + 0x2C, &o->resolutionCode);
    r.I32(at + 0x30, &o->frequencyCode);
    o->altEnterFullScreen = on(0x3C);
    o->freezeWhenInactive = on(0x58);
    o->errorsAbort = on(0x80);
    o->unsetVariablesAreErrors = on(0x84);
    return !r.Failed();
}

// The constants after their count at countAt: pairs of string references, both copied. Every reference
// is checked before anything is copied.
bool OptionsReadConstants(WadReader& r, uint32_t countAt, OptionsConstantTable* table, GameOptions* o)
{
    uint32_t count = 0;
    if (!r.U32(countAt, &count)) return false;
    uint32_t first = countAt + 4;
    if (!r.InChunk(first, uint64_t(count) * 8, "constant count past the end of the chunk")) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t name = 0, value = 0;
        const char* text = nullptr;
        r.U32(first + i * 8, &name);
        r.U32(first + i * 8 + 4, &value);
        if (!r.String(name, &text) || !r.String(value, &text)) return false;
    }
    if (count == 0) return true;
    table->count = int32_t(count);
    table->names = static_cast<char**>(MemoryManager::Alloc(sizeof(char*) * count, __FILE__, __LINE__, true));
    table->values = static_cast<char**>(MemoryManager::Alloc(sizeof(char*) * count, __FILE__, __LINE__, true));
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t name = 0, value = 0;
        const char* nameText = nullptr;
        const char* valueText = nullptr;
        r.U32(first + i * 8, &name);
        r.U32(first + i * 8 + 4, &value);
        r.String(name, &nameText);
        r.String(value, &valueText);
        table->names[i] = String_Duplicate(nameText);
        table->values[i] = String_Duplicate(valueText);
        if (nameText && std::strcmp(nameText, "VersionMajor") == 0) o->versionMajor = IniFile::ToInt(valueText);
        if (nameText && std::strcmp(nameText, "VersionMinor") == 0) o->versionMinor = IniFile::ToInt(valueText);
    }
    return true;
}

void OptionsFreeIni()
{
    if (g_GameData.iniFile == g_optionsIni) g_GameData.iniFile = nullptr;
    delete g_optionsIni;
    g_optionsIni = nullptr;
}

bool OptionsHasKey(IniFile* ini, const char* section, const char* key) { return ini->FindKey(section, key) != nullptr; }

}  // namespace

IniOptions g_IniOptions = kIniOptionsDefaults;

OptionConstantTexts Options_UserConstants()
{
    return {g_optionsConstants.count, g_optionsConstants.names, g_optionsConstants.values};
}

void Options_InitDefaults()
{
    GameOptions o = {};
    o.newAudioEngine = g_GameOptions.newAudioEngine;
    o.collisionMode = g_GameOptions.collisionMode;
    o.showCursor = true;
    o.windowColour = 0xFFFFFF;
    o.altEnterFullScreen = true;
    g_GameOptions = o;
    // -noerrors covers only what goes wrong before the game's options are read.
    g_ShowErrorDialogs = true;
    g_AbortOnError = false;
    g_VariableList_UnsetIsError = false;
    OptionsFreeConstants(&g_optionsConstants);
}

bool Option_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    WadReader r = WadReader::ForChunk(body, size, base);
    if (r.Failed()) return false;
    uint32_t at = r.ChunkStart();
    GameOptions o = g_GameOptions;
    int32_t marker = 0;
    if (!r.I32(at, &marker)) return false;
    uint32_t countAt;
    if (marker < 0) {
        int32_t version = 0;
        if (!r.I32(at + 4, &version)) return false;
        if (version != 2) return false;
        if (!OptionsReadNewLayout(r, at, &o)) return false;
        countAt = at + 0x3C;
    } else {
        if (!OptionsReadOldLayout(r, at, &o)) return false;
        countAt = at + 0x8C;
    }
    if (g_RunFlags.inAWindow) o.fullScreen = false;
    o.versionMajor = 0;
    o.versionMinor = 0;
    OptionsConstantTable table = {};
    if (!OptionsReadConstants(r, countAt, &table, &o)) {
        OptionsFreeConstants(&table);
        return false;
    }
    OptionsFreeConstants(&g_optionsConstants);
    g_optionsConstants = table;
    g_GameOptions = o;
    Window_SetColour(o.windowColour);
    g_AbortOnError = o.errorsAbort;
    // The variable lists live in the core, which cannot see the game options.
    g_VariableList_UnsetIsError = o.unsetVariablesAreErrors;
    return true;
}

IniFile* Options_ReadIniFile(const char* path)
{
    OptionsFreeIni();
    g_IniOptions = kIniOptionsDefaults;
    if (!path) return nullptr;
    g_optionsIni = new IniFile(path, true);
    IO_LoadVirtualButtons(g_optionsIni);
    Options_ReadIni(g_optionsIni);
    return g_optionsIni;
}

void Options_ReadWindowsIni(IniFile* ini)
{
    if (!ini) return;
    const RunFlags& flags = g_RunFlags;
    if (OptionsHasKey(ini, "Windows", "CreateTexturesOnDemand"))
        g_IniOptions.createTexturesOnDemand = ini->ReadInt("Windows", "CreateTexturesOnDemand", 0) != 0;
    if (!flags.multiVB && !flags.noVB) {
        int32_t method = ini->ReadInt("Windows", "VertexBufferMethod", 0);
        if (method >= 0 && method <= 2) g_IniOptions.vertexBufferMethod = method;
    }
    if (!flags.manualVSync) g_IniOptions.alternateSync = ini->ReadInt("Windows", "AlternateSyncMethod", 0) != 0;
    if (!flags.sleepMarginSet && OptionsHasKey(ini, "Windows", "SleepMargin")) {
        int32_t margin = ini->ReadInt("Windows", "SleepMargin", 10);
        g_RunFlags.sleepMargin = margin > 0 ? margin : 0;
    }
}

void Options_ReadIni(IniFile* ini)
{
    if (!ini) return;
    Options_ReadWindowsIni(ini);
    g_IniOptions.orientLandscape = ini->ReadInt("DEFAULT", "OrientLandscape", 1) != 0;
    g_IniOptions.orientLandscapeFlipped = ini->ReadInt("DEFAULT", "OrientLandscapeFlipped", 1) != 0;
    g_IniOptions.orientPortrait = ini->ReadInt("DEFAULT", "OrientPortrait", 1) != 0;
    g_IniOptions.orientPortraitFlipped = ini->ReadInt("DEFAULT", "OrientPortraitFlipped", 1) != 0;
    Options_LockOrientation(g_IniOptions);
    if (OptionsHasKey(ini, "DEFAULT", "Debug")) {
        // The same three effects as -debug.
        g_RunFlags.debug = ini->ReadInt("DEFAULT", "Debug", 0) != 0;
        if (g_RunFlags.debug) {
            Debug_OverlayFlags = 2;
            Physics_InstallAssertHook();
        }
    }
    if (OptionsHasKey(ini, "DEFAULT", "Trace")) g_RunFlags.trace = ini->ReadInt("DEFAULT", "Trace", 0) != 0;
}

int32_t Options_VertexBufferMethod()
{
    if (g_RunFlags.multiVB) return 1;
    if (g_RunFlags.noVB) return 2;
    return g_IniOptions.vertexBufferMethod;
}

bool Options_AlternateSync() { return g_RunFlags.manualVSync || g_IniOptions.alternateSync; }

void Options_Free()
{
    OptionsFreeConstants(&g_optionsConstants);
    OptionsFreeIni();
}
