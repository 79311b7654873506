#include "core/varnames.h"

#include <cstring>

#include "core/memory_manager.h"
#include "core/text.h"
#include "world/loader.h"
#include "world/wad_reader.h"

const char* const kUnknownVariableName = "<unknown variable>";

namespace {

struct LocalNameList {
    char* codeName;
    uint32_t count;
    char** names;
};

// Plain growable arrays: no destructors run at exit, after the memory manager may be gone.
template <class T>
struct VarNamesArray {
    T* items = nullptr;
    size_t count = 0;
    size_t capacity = 0;

    size_t size() const { return count; }
    T& operator[](size_t i) { return items[i]; }
    T* begin() { return items; }
    T* end() { return items + count; }
    T& back() { return items[count - 1]; }
    bool push_back(const T& item)
    {
        if (count == capacity) {
            size_t grown = capacity ? capacity * 2 : 16;
            auto* block = static_cast<T*>(MemReAlloc(items, grown * sizeof(T)));
            if (!block) return false;
            items = block;
            capacity = grown;
        }
        items[count++] = item;
        return true;
    }
    void clear() { count = 0; }
    void release()
    {
        MemFree(items);
        items = nullptr;
        count = capacity = 0;
    }
    void swap(VarNamesArray& other)
    {
        VarNamesArray t = *this;
        *this = other;
        other = t;
    }
};

VarNamesArray<char*> g_varNamesShared;
// Sized by Code_Variable_Init, filled by index; empty entries are null.
char** g_varNamesGlobal = nullptr;
int32_t g_varNamesGlobalCount = 0;
char** g_varNamesInstance = nullptr;
int32_t g_varNamesInstanceCount = 0;
VarNamesArray<LocalNameList> g_varNamesLocals;

const CodeVariableResolver* g_varNamesResolver = nullptr;

void VarNames_FreeTable(char*** table, int32_t* count)
{
    for (int32_t i = 0; i < *count; ++i) MemFree((*table)[i]);
    MemFree(*table);
    *table = nullptr;
    *count = 0;
}

// A zero-filled table of count entries; none for a count the memory manager cannot size.
void VarNames_SizeTable(char*** table, int32_t* count, int32_t wanted)
{
    VarNames_FreeTable(table, count);
    if (wanted <= 0) return;
    *table = static_cast<char**>(MemoryManager::Alloc(size_t(wanted) * sizeof(char*), __FILE__, __LINE__, true));
    if (*table) *count = wanted;
}

void VarNames_FreeLocals(VarNamesArray<LocalNameList>* lists)
{
    for (LocalNameList& l : *lists) {
        MemFree(l.codeName);
        for (uint32_t i = 0; i < l.count; ++i) MemFree(l.names[i]);
        MemFree(l.names);
    }
    lists->clear();
}

const char* VarNames_Entry(char** table, int32_t count, int32_t index)
{
    if (index < 0 || index >= count || !table[index]) return kUnknownVariableName;
    return table[index];
}

int32_t VarNames_IndexOf(char** table, int32_t count, const char* name)
{
    if (!name) return -1;
    for (int32_t i = 0; i < count; ++i)
        if (table[i] && std::strcmp(table[i], name) == 0) return i;
    return -1;
}

bool VarNames_Same(const char* a, const char* b) { return std::strcmp(a ? a : "", b ? b : "") == 0; }

}  // namespace

int32_t Code_Variable_Find(const char* name)
{
    for (size_t i = 0; i < g_varNamesShared.size(); ++i)
        if (VarNames_Same(g_varNamesShared[i], name)) return VARIABLE_ID_FIRST_SLOT + int32_t(i);
    return -1;
}

int32_t Code_Variable_Add(const char* name)
{
    int32_t id = Code_Variable_Find(name);
    if (id >= 0) return id;
    char* copy = String_Duplicate(name ? name : "");
    if (!copy || !g_varNamesShared.push_back(copy)) {
        MemFree(copy);
        return -1;
    }
    return VARIABLE_ID_FIRST_SLOT + int32_t(g_varNamesShared.size() - 1);
}

int32_t Code_Variable_FindAlloc(const char* name)
{
    if (g_varNamesResolver && g_varNamesResolver->findAlloc) return g_varNamesResolver->findAlloc(name);
    int32_t builtin = Variable_BuiltIn_Find(name);
    if (builtin >= 0) return builtin;
    return Code_Variable_Add(name);
}

void Code_Variable_Init(int32_t globalCount, int32_t instanceCount, int32_t)
{
    VarNames_SizeTable(&g_varNamesGlobal, &g_varNamesGlobalCount, globalCount);
    VarNames_SizeTable(&g_varNamesInstance, &g_varNamesInstanceCount, instanceCount);
}

int32_t Code_Variable_SetName(const char* name, int32_t scope, int32_t index)
{
    if (scope == -6) return Variable_BuiltIn_Find(name);
    char** table = nullptr;
    if (scope == -5) table = g_varNamesGlobal;
    if (scope == -1) table = g_varNamesInstance;
    int32_t count = scope == -5 ? g_varNamesGlobalCount : (scope == -1 ? g_varNamesInstanceCount : 0);
    if (table && index >= 0 && index < count) {
        MemFree(table[index]);
        table[index] = String_Duplicate(name ? name : "");
    }
    // An index that makes no id is a name that cannot be bound.
    const int64_t id = int64_t(index) + VARIABLE_ID_FIRST_SLOT;
    return id > INT32_MAX ? -1 : int32_t(id);
}

bool Code_Variable_ReadLocalNames(const uint8_t* block, uint32_t size, const uint8_t* base, uint32_t length)
{
    VarNames_FreeLocals(&g_varNamesLocals);
    // The reader only reads; it takes the data as writable because the loader's other users patch it.
    WadReader r(const_cast<uint8_t*>(base), length);
    uint64_t start = (base && block >= base) ? uint64_t(block - base) : UINT64_MAX;
    if (!r.SetChunk(Wad_Tag("FUNC"), start > UINT32_MAX ? UINT32_MAX : uint32_t(start), size)) return false;
    uint32_t at = r.ChunkStart(), entries = 0;
    if (!r.U32(at, &entries)) return false;
    at += 4;
    if (!r.InChunk(at, uint64_t(entries) * 8, "local-name entry count overruns the chunk")) return false;
    VarNamesArray<LocalNameList> lists;
    bool ok = true;
    for (uint32_t e = 0; e < entries && ok; ++e) {
        uint32_t n = 0;
        const char* codeName = nullptr;
        ok = r.U32(at, &n) && r.StringAt(at + 4, &codeName) &&
             r.InChunk(at + 8, uint64_t(n) * 8, "local-name count overruns the chunk");
        if (!ok) break;
        LocalNameList list{String_Duplicate(codeName ? codeName : ""), 0, nullptr};
        if (n) list.names = static_cast<char**>(MemoryManager::Alloc(size_t(n) * sizeof(char*), __FILE__, __LINE__, true));
        if (!lists.push_back(list)) {
            MemFree(list.codeName);
            MemFree(list.names);
            ok = false;
            break;
        }
        if (n && !list.names) {
            ok = false;
            break;
        }
        for (uint32_t i = 0; i < n; ++i) {
            const char* name = nullptr;
            if (!r.StringAt(at + 8 + i * 8 + 4, &name)) {
                ok = false;
                break;
            }
            lists.back().names[i] = String_Duplicate(name ? name : "");
            lists.back().count = i + 1;
        }
        at += 8 + n * 8;
    }
    if (!ok) {
        VarNames_FreeLocals(&lists);
        lists.release();
        return false;
    }
    g_varNamesLocals.release();
    g_varNamesLocals.swap(lists);
    return true;
}

void Code_Variable_LoadLocalNames(uint8_t* block, uint32_t size, uint8_t* base)
{
    uint32_t length = (base && base == g_GameData.data) ? g_GameData.length : 0;
    Code_Variable_ReadLocalNames(block, size, base, length);
}

const char* Code_Variable_GetName(const char* codeName, int32_t scope, int32_t id)
{
    int32_t index = id - VARIABLE_ID_FIRST_SLOT;
    if (!g_GameData.newCodeFormat) {
        if (id < VARIABLE_ID_FIRST_SLOT || size_t(index) >= g_varNamesShared.size()) return kUnknownVariableName;
        return g_varNamesShared[size_t(index)];
    }
    if (id < VARIABLE_ID_FIRST_SLOT) return kUnknownVariableName;
    if (scope == -5) return VarNames_Entry(g_varNamesGlobal, g_varNamesGlobalCount, index);
    if (scope == -7 || scope == -12) {
        for (const LocalNameList& l : g_varNamesLocals)
            if (codeName && std::strcmp(l.codeName, codeName) == 0)
                return uint32_t(index) < l.count ? l.names[index] : kUnknownVariableName;
        return kUnknownVariableName;
    }
    if (scope == -9 || scope == -1 || scope == -11 || scope > 100000)
        return VarNames_Entry(g_varNamesInstance, g_varNamesInstanceCount, index);
    return kUnknownVariableName;
}

const char* Code_Variable_GetAnyName(const char* codeName, int32_t scope, int32_t id)
{
    if (id < VARIABLE_ID_FIRST_SLOT) return Variable_BuiltIn_Name(id);
    return Code_Variable_GetName(codeName, scope, id);
}

int32_t Code_Variable_FindInstance(const char* name)
{
    return VarNames_IndexOf(g_varNamesInstance, g_varNamesInstanceCount, name);
}

int32_t Code_Variable_FindGlobal(const char* name)
{
    return VarNames_IndexOf(g_varNamesGlobal, g_varNamesGlobalCount, name);
}

int32_t Code_Variable_FindSlot(QZObjectBase* object, const char* name)
{
    if (object && object == g_GlobalObject && !g_GameData.scriptObjectModel) return Code_Variable_FindGlobal(name);
    return Code_Variable_FindInstance(name);
}

void Code_Variable_Free()
{
    for (char* name : g_varNamesShared) MemFree(name);
    g_varNamesShared.release();
    VarNames_FreeTable(&g_varNamesGlobal, &g_varNamesGlobalCount);
    VarNames_FreeTable(&g_varNamesInstance, &g_varNamesInstanceCount);
    VarNames_FreeLocals(&g_varNamesLocals);
    g_varNamesLocals.release();
}

const CodeVariableResolver* Code_Variable_SetResolver(const CodeVariableResolver* resolver)
{
    const CodeVariableResolver* old = g_varNamesResolver;
    g_varNamesResolver = resolver;
    return old;
}
