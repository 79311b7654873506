#include "core/code.h"

#include "core/error.h"
#include "core/functions.h"
#include "core/interpreter.h"
#include "core/memory_manager.h"
#include "game/game_link.h"
#include "net/net.h"
#include "world/command_line.h"
#include "world/loader.h"
#include "world/wad_reader.h"

#include <cstring>

CCode* g_CodeList = nullptr;
int32_t g_CodeListCount = 0;

namespace {

CCode** g_codeTable = nullptr;
int32_t g_codeTableCount = 0;
int32_t g_codeTableCapacity = 0;

const char kCodeEmptyText[] = "";

// The offset of p inside [base, base + length], or false.
bool Code_OffsetIn(const uint8_t* base, uint32_t length, const uint8_t* p, uint32_t* offset)
{
    if (!base || !p || p < base || p > base + length) return false;
    *offset = uint32_t(p - base);
    return true;
}

// Word index of the 32-bit words that start skip bytes after list (an offset), read checked.
bool Code_ListWord(WadReader& r, uint32_t list, uint32_t index, uint32_t* word, uint32_t skip = 0)
{
    uint64_t at = uint64_t(list) + skip + uint64_t(index) * 4;
    if (at > UINT32_MAX) return false;
    return r.DataU32(uint32_t(at), word);
}

// The debug file's line table and source text of code entry index. A table or text that does not lie
// inside the debug data is left out: the file is optional and never fails the game.
void Code_AttachDebug(CCode* code, uint32_t index)
{
    const GameDataInfo& g = g_GameData;
    if (!g.debugData || g.debugLength == 0) return;
    WadReader r(g.debugData, g.debugLength, false);
    uint32_t list = 0;
    uint32_t at = 0;

    if (index < g.debugScriptCount && Code_OffsetIn(g.debugData, g.debugLength, g.debugScripts, &list) &&
        Code_ListWord(r, list, index, &at) && at != 0) {
        uint32_t textAt = 0;
        if (r.DataU32(at, &textAt) && textAt != 0 && textAt < g.debugLength &&
            std::memchr(g.debugData + textAt, 0, g.debugLength - textAt)) {
            code->source = reinterpret_cast<const char*>(g.debugData + textAt);
        }
    }

    WadReader lines(g.debugData, g.debugLength, false);
    uint32_t count = 0;
    // Entries are read as aligned words.
    if (index < g.debugInfoCount && Code_OffsetIn(g.debugData, g.debugLength, g.debugInfo, &list) &&
        Code_ListWord(lines, list, index, &at) && at != 0 && at % 4 == 0 && lines.DataU32(at, &count) &&
        uint64_t(count) * 4 <= uint64_t(INT32_MAX) && lines.InData(at + 4, uint64_t(count) * 4, "line table")) {
        code->debugLines = new VMBuffer(int32_t(count * 4), g.debugData + at + 4, false);
    }
}

// The CODE entry of index, checked against the data: name, bytecode, and from the new format the counts
// and the block offset. An entry that does not lie inside the data gives nothing.
void Code_FromEntry(CCode* code, uint32_t index)
{
    const GameDataInfo& g = g_GameData;
    WadReader r(g.data, g.length, false);
    uint32_t list = 0, entry = 0, nameRef = 0, length = 0;
    const char* name = nullptr;
    if (!Code_OffsetIn(g.data, g.length, g.codeList, &list) || !Code_ListWord(r, list, index, &entry, 4) ||
        entry == 0 || !r.DataU32(entry, &nameRef) || !r.String(nameRef, &name) || !r.DataU32(entry + 4, &length) ||
        length > uint32_t(INT32_MAX))
        return;

    uint8_t* bytes = nullptr;
    if (!g.newCodeFormat) {
        if (uint64_t(entry) + 8 > g.length || !r.InData(entry + 8, length, "bytecode")) return;
        bytes = g.data + entry + 8;
    } else {
        uint32_t counts = 0, relative = 0, blockOffset = 0;
        if (uint64_t(entry) + 20 > g.length || !r.DataU32(entry + 8, &counts) || !r.DataU32(entry + 12, &relative) ||
            !r.DataU32(entry + 16, &blockOffset))
            return;
        int64_t start = int64_t(entry) + 12 + int32_t(relative);
        if (start < 0 || start > int64_t(g.length) || !r.InData(uint32_t(start), length, "bytecode")) return;
        // An entry starts on an instruction word of its block.
        if (blockOffset > length || blockOffset % 4 != 0) return;
        bytes = g.data + start;
        code->localCount = int32_t(counts & 0xFFFF);
        code->argumentCount = int32_t(counts >> 16);
        code->blockOffset = int32_t(blockOffset);
    }
    code->name = name;
    code->code = new VMBuffer(int32_t(length), bytes, false);
    Code_AttachDebug(code, index);
}

bool Code_Run(CInstance* self, CInstance* other, CCode* code, RValue* result, int32_t argc, RValue* args)
{
    if (!g_RunFlags.codeExecution) return true;
    g_ErrorCaught = false;
    if (!code) return true;
    if (code->kind == CODE_KIND_CODE || code->kind == CODE_KIND_COMPILED) {
        if (code->nativeEntry) {
            if (code->nativeEntry->function)
                reinterpret_cast<CodeEventFunction>(code->nativeEntry->function)(self, other);
        } else if (code->code && code->code->length > 0) {
            bool profiled = Profiler_Active;
            if (profiled) Profiler_Enter(1, code->index);
            VM_Exec(code, self, other, result, nullptr, argc, args, nullptr);
            if (profiled) Profiler_Leave();
        }
    } else if (code->kind == CODE_KIND_CONSTANT) {
        if (result) RValue_Copy(result, &code->value);
    }
    return true;
}

}  // namespace

VMBuffer::VMBuffer(int32_t length, uint8_t* bytes, bool owned) : length(length), bytes(bytes), owned(owned) {}

VMBuffer::~VMBuffer()
{
    MemFree(handlers);
    MemFree(instructionIndex);
    MemFree(steps);
    if (owned) MemFree(bytes);
}

void* VMBuffer::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void VMBuffer::operator delete(void* p) { MemFree(p); }

CCode::CCode(int32_t index, bool compiled) : index(index)
{
    RValue_SetReal(&value, 0.0);
    if (Function_GameRunsCompiledCode()) {
        const GameLinkData* link = g_GameData.link;
        if (index >= 0 && index < link->codeEntryCount) {
            nativeEntry = &link->codeTable[index];
            name = nativeEntry->name;
        }
    } else if (index >= 0 && uint32_t(index) < g_GameData.codeCount) {
        Code_FromEntry(this, uint32_t(index));
    }
    sourceCopy = source;
    state = 1;
    kind = compiled ? CODE_KIND_COMPILED : CODE_KIND_CODE;
    if (index >= 0) {
        next = g_CodeList;
        g_CodeList = this;
        ++g_CodeListCount;
    }
}

CCode::~CCode()
{
    if (index >= 0 && !keep) {
        for (CCode** link = &g_CodeList; *link; link = &(*link)->next) {
            if (*link == this) {
                *link = next;
                --g_CodeListCount;
                break;
            }
        }
    }
    delete code;
    delete debugLines;
    RValue_Free(&value);
}

void* CCode::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void CCode::operator delete(void* p) { MemFree(p); }

int32_t Code_Add(int32_t index, bool compiled)
{
    if (g_codeTableCount >= g_codeTableCapacity) {
        int64_t capacity = (int64_t(g_codeTableCapacity) * 3 + 1) / 2;
        if (capacity == 0) capacity = g_GameData.codeCount;
        // Compiled games may come without a CODE chunk: their entries are the link record's.
        if (capacity == 0 && Function_GameRunsCompiledCode()) capacity = g_GameData.link->codeEntryCount;
        if (capacity > g_codeTableCapacity && capacity <= INT32_MAX / int64_t(sizeof(CCode*))) {
            void* block = g_codeTable;
            MemoryManager::SetLength(&block, size_t(capacity) * sizeof(CCode*), __FILE__, __LINE__);
            if (block) {
                g_codeTable = static_cast<CCode**>(block);
                g_codeTableCapacity = int32_t(capacity);
            }
        }
    }
    if (!g_codeTable || g_codeTableCount >= g_codeTableCapacity) return 0;
    bool makes = (g_GameData.hasBytecode || Function_GameRunsCompiledCode()) && index != -1;
    g_codeTable[g_codeTableCount] = makes ? new CCode(index, compiled) : nullptr;
    return g_codeTableCount++;
}

CCode* Code_Get(int32_t slot) { return (slot >= 0 && slot < g_codeTableCount) ? g_codeTable[slot] : nullptr; }

int32_t Code_Count() { return g_codeTableCount; }

int32_t Code_Capacity() { return g_codeTableCapacity; }

void Code_Main_Free()
{
    for (int32_t i = 0; i < g_codeTableCount; ++i) delete g_codeTable[i];
    MemFree(g_codeTable);
    g_codeTable = nullptr;
    g_codeTableCount = g_codeTableCapacity = 0;
}

bool Code_Execute(CInstance* self, CInstance* other, CCode* code, RValue* result, int32_t)
{
    return Code_Run(self, other, code, result, 0, nullptr);
}

bool Code_ExecuteShowError(CInstance* self, CInstance* other, CCode* code, RValue* result, int32_t flag)
{
    // A caught error stays in the flag for the caller.
    return Code_Execute(self, other, code, result, flag);
}

bool Code_ExecuteOrError(CInstance* self, CInstance* other, CCode* code, RValue* result, int32_t flag)
{
    return Code_Execute(self, other, code, result, flag);
}

bool Code_ExecuteWithArguments(CInstance* self, CInstance* other, CCode* code, RValue* result, int32_t argc,
                               RValue* args)
{
    return Code_Run(self, other, code, result, argc, args);
}
