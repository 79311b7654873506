#include "core/script.h"

#include "core/code.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "core/stream.h"
#include "core/text.h"
#include "game/game_link.h"
#include "world/command_line.h"
#include "world/loader.h"
#include "world/wad_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// Two parallel arrays: a script's index is its position.
CScript** g_scripts = nullptr;
int32_t g_scriptCount = 0;

namespace {

char** g_scriptNames = nullptr;

void Script_ReleaseAll()
{
    for (int32_t i = 0; i < g_scriptCount; ++i) {
        CScript::Free(g_scripts[i]);
        MemFree(g_scriptNames[i]);
    }
    MemFree(g_scripts);
    MemFree(g_scriptNames);
    g_scripts = nullptr;
    g_scriptNames = nullptr;
    g_scriptCount = 0;
}

}  // namespace

// Instances derive from the script-object base as their first base, so code that takes an instance takes
// the global object as one.
CInstance* Script_GlobalSelf() { return reinterpret_cast<CInstance*>(g_GlobalObject); }

CScript::CScript(const char* name) : name(name) {}

CScript::~CScript()
{
    if (sourceStream) sourceStream->Delete();
    delete codeObject;
    MemFree(text);
}

void* CScript::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void CScript::operator delete(void* p) { MemFree(p); }

void CScript::Free(CScript* script) { delete script; }

bool CScript::LoadFromChunk(const char* entryName, uint32_t second, const char* sourceText)
{
    name = entryName;
    if (sourceStream) sourceStream->Delete();
    sourceStream = nullptr;
    delete codeObject;
    codeObject = nullptr;
    nativeEntry = nullptr;
    MemFree(text);
    text = nullptr;
    code = -1;
    if (g_GameData.hasBytecode || Function_GameRunsCompiledCode()) code = int32_t(second);
    else text = String_Duplicate(sourceText ? sourceText : "");
    return true;
}

bool CScript::Compile()
{
    delete codeObject;
    codeObject = nullptr;
    if (Function_GameRunsCompiledCode()) {
        const GameLinkData* link = g_GameData.link;
        if (code < 0 || code >= link->codeEntryCount) return false;
        nativeEntry = &link->codeTable[code];
        return true;
    }
    if (g_GameData.codeCount == 0) return false;
    codeObject = new CCode(code, false);
    return true;
}

char* CScript::GetSource() const
{
    if (text) return String_Duplicate(text);
    if (!sourceStream) return String_Duplicate("");
    CStream* copy = new CStream();
    int64_t position = sourceStream->GetPosition();
    sourceStream->SetPosition(0);
    copy->CopyFrom(sourceStream, 0, false);
    sourceStream->SetPosition(position);
    copy->Substitute(SCRIPT_SOURCE_SEED, 0, copy->GetSize());
    copy->SetPosition(0);
    char* result = nullptr;
    copy->ReadString(&result);
    copy->Delete();
    return result ? result : String_Duplicate("");
}

void Script_Clear() { Script_ReleaseAll(); }
void Script_Free() { Script_ReleaseAll(); }
void Script_Shutdown() { Script_ReleaseAll(); }

bool Script_Load(uint8_t* body, uint32_t size, uint8_t* base)
{
    WadReader r = WadReader::ForChunk(body, size, base);
    uint32_t list = r.ChunkStart();
    uint32_t count = 0;
    if (!r.List(list, &count)) return false;
    Script_ReleaseAll();
    if (count == 0) return true;

    void* scripts = nullptr;
    void* names = nullptr;
    MemoryManager::SetLength(&scripts, size_t(count) * sizeof(CScript*), __FILE__, __LINE__);
    MemoryManager::SetLength(&names, size_t(count) * sizeof(char*), __FILE__, __LINE__);
    g_scripts = static_cast<CScript**>(scripts);
    g_scriptNames = static_cast<char**>(names);
    if (!g_scripts || !g_scriptNames) {
        Script_ReleaseAll();
        return r.Fail(list, "script table cannot be allocated");
    }
    std::memset(g_scripts, 0, size_t(count) * sizeof(CScript*));
    std::memset(g_scriptNames, 0, size_t(count) * sizeof(char*));
    g_scriptCount = int32_t(count);

    // The second word is a code entry index, or in old games without code the offset of the source.
    bool indexes = g_GameData.hasBytecode || Function_GameRunsCompiledCode();
    uint32_t entries = Function_GameRunsCompiledCode() ? uint32_t(std::max(g_GameData.link->codeEntryCount, 0))
                                                       : g_GameData.codeCount;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t entry = 0, nameRef = 0, second = 0;
        const char* name = nullptr;
        const char* source = nullptr;
        if (!r.ListEntry(list, i, &entry)) return false;
        if (entry == 0) continue;
        if (!r.InData(entry, 8, "script entry outside the data") || !r.DataU32(entry, &nameRef) ||
            !r.DataU32(entry + 4, &second) || !r.String(nameRef, &name))
            return false;
        if (indexes) {
            if (second >= entries) return r.Fail(entry + 4, "code index beyond the code entries");
        } else if (!r.String(second, &source)) {
            return false;
        }
        CScript* script = new CScript(name);
        script->LoadFromChunk(name, second, source);
        g_scripts[i] = script;
        g_scriptNames[i] = String_Duplicate(name ? name : "");
    }
    return true;
}

int32_t Script_Number() { return g_scriptCount; }

bool Script_Exists(int32_t index) { return Script_Data(index) != nullptr; }

const char* Script_GetName(int32_t index) { return Script_Data(index) ? g_scriptNames[index] : "<undefined>"; }

int32_t Script_Find(const char* name)
{
    if (!name) return -1;
    for (int32_t i = g_scriptCount - 1; i >= 0; --i)
        if (g_scripts[i] && std::strcmp(g_scriptNames[i], name) == 0) return i;
    return -1;
}

bool Script_Perform(int32_t index, CInstance* self, CInstance* other, int32_t argc, RValue* result,
                    ScriptArguments* args)
{
    CScript* script = Script_Data(index);
    if (!script) return false;
    CCode* code = script->codeObject;
    // Nothing to run: the arguments stay as they are.
    if (code ? (!code->code || code->code->length == 0) : !script->nativeEntry) return true;

    // Never more values than the record holds.
    int32_t count = (args && args->values) ? std::clamp(argc, 0, std::max(args->count, 0)) : 0;
    RValue* values = args ? args->values : nullptr;
    int32_t savedCount = VM_ArgCount;
    RValue* savedArgs = VM_Args;
    VM_ArgCount = count;
    VM_Args = values;

    if (code) {
        Code_ExecuteWithArguments(self, other, code, result, count, values);
    } else if (g_RunFlags.codeExecution && script->nativeEntry->function) {
        RValue* small[16];
        RValue** pointers = count <= 16 ? small
                                        : static_cast<RValue**>(MemoryManager::Alloc(size_t(count) * sizeof(RValue*),
                                                                                     __FILE__, __LINE__, false));
        for (int32_t i = 0; i < count; ++i) pointers[i] = &values[i];
        reinterpret_cast<CodeScriptFunction>(script->nativeEntry->function)(self, other, result, count, pointers);
        if (pointers != small) MemFree(pointers);
    }

    for (int32_t i = 0; i < count; ++i) RValue_Free(&values[i]);
    VM_ArgCount = savedCount;
    VM_Args = savedArgs;
    return true;
}

bool Script_Prepare()
{
    for (int32_t i = 0; i < g_scriptCount; ++i) {
        if (!g_scripts[i] || g_scripts[i]->Compile()) continue;
        const char* last = Error_LastText();
        size_t size = std::strlen(g_scriptNames[i]) + std::strlen(last) + 32;
        auto* message = static_cast<char*>(MemoryManager::Alloc(size, __FILE__, __LINE__, false));
        if (!message) return false;
        std::snprintf(message, size, "COMPILATION ERROR in Script: %s\n%s", g_scriptNames[i], last);
        Error_Show(message, true);
        MemFree(message);
        return false;
    }

    const GameDataInfo& g = g_GameData;
    for (uint32_t i = 0; g.globList && i < g.globCount; ++i) {
        uint32_t index = 0;
        std::memcpy(&index, g.globList + 4 + size_t(i) * 4, 4);
        if (index > uint32_t(INT32_MAX)) continue;
        CCode* code = new CCode(int32_t(index), false);
        RValue result;
        RValue_SetUndefined(&result);
        Code_ExecuteShowError(Script_GlobalSelf(), Script_GlobalSelf(), code, &result, 0);
        RValue_Free(&result);
        delete code;
    }

    if (g.scriptObjectModel) {
        for (int32_t i = 0; i < g_scriptCount; ++i) {
            CScript* script = g_scripts[i];
            if (!script || !script->codeObject || script->codeObject->blockOffset != 0) continue;
            RValue result;
            RValue_SetUndefined(&result);
            Script_Perform(i, Script_GlobalSelf(), Script_GlobalSelf(), 0, &result, nullptr);
            RValue_Free(&result);
        }
    }
    return true;
}
