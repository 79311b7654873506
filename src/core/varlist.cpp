#include "core/varlist.h"

#include <cstring>
#include <new>

#include "core/console.h"
#include "core/convert.h"
#include "core/functions.h"
#include "core/hash.h"
#include "core/memory_manager.h"
#include "core/varnames.h"
#include "ds/buffer.h"
#include "ds/ds.h"
#include "world/loader.h"

bool g_VariableList_UnsetIsError = false;

namespace {

// Released nodes, linked through their link field; never given back to the heap while the game runs, so
// that adding and removing variables does not allocate once the pool is warm.
VariableNode* g_varListPool = nullptr;
int32_t g_varListPoolSize = 0;

VariableNode* VarList_TakeNode()
{
    VariableNode* node = g_varListPool;
    if (node) {
        g_varListPool = node->link;
        --g_varListPoolSize;
    } else {
        node = static_cast<VariableNode*>(MemoryManager::Alloc(sizeof(VariableNode), __FILE__, __LINE__, false));
        if (!node) return nullptr;
    }
    node->next = nullptr;
    node->link = nullptr;
    node->hash = 0;
    RValue_SetUndefined(&node->key);
    RValue_SetReal(&node->value, 0.0);
    return node;
}

void VarList_PoolNode(VariableNode* node)
{
    RValue_Free(&node->key);
    RValue_Free(&node->value);
    node->next = nullptr;
    node->link = g_varListPool;
    g_varListPool = node;
    ++g_varListPoolSize;
}

int32_t VarList_BucketOf(int32_t hash) { return hash & (VARIABLE_LIST_BUCKETS - 1); }

// The name a saved entry carries: id-keyed nodes name their variable; a named node its name.
const char* VarList_SavedName(const VariableNode* node)
{
    switch (RValue_Kind(&node->key)) {
    case VALUE_INT32:
        return Code_Variable_GetAnyName(nullptr, -1, node->key.v32);
    case VALUE_STRING:
        return node->key.str && node->key.str->text ? node->key.str->text : "";
    default:
        return kUnknownVariableName;
    }
}

// The id a saved name resolves to in the running game, or -1: the table the saved name came from.
// New-format data numbers its variables by its instance table (the shared table's ids would name other
// slots there); built-in variables by the registry.
int32_t VarList_SavedId(const char* name)
{
    int32_t id = -1;
    if (g_GameData.newCodeFormat) {
        int32_t index = Code_Variable_FindInstance(name);
        if (index >= 0) id = VARIABLE_ID_FIRST_SLOT + index;
    } else {
        id = Code_Variable_Find(name);
    }
    return id >= 0 ? id : Variable_BuiltIn_Find(name);
}

bool VarList_ReadS32(IBuffer* buffer, int32_t* out)
{
    RValue item;
    RValue_SetUndefined(&item);
    if (buffer->Read(buffer_s32, &item) != 0 || RValue_Kind(&item) != VALUE_REAL) {
        RValue_Free(&item);
        return false;
    }
    *out = Real_ToInt32(item.real);
    return true;
}

}  // namespace

// ---- VariableNode ----

void VariableNode::Copy(const VariableNode* other)
{
    next = link = nullptr;
    RValue_SetUndefined(&key);
    RValue_SetUndefined(&value);
    RValue_Copy(&key, &other->key);
    RValue_Copy(&value, &other->value);
    hash = other->hash;
}

void VariableNode::InitKey(RValue* k)
{
    next = link = nullptr;
    hash = RValue_ToHash(k);
    RValue_SetUndefined(&key);
    RValue_Copy(&key, k);
    RValue_SetReal(&value, 0.0);
}

void VariableNode::InitKeyValue(RValue* k, RValue* v)
{
    InitKey(k);
    RValue_SetUndefined(&value);
    RValue_Copy(&value, v);
}

// ---- CVariableList ----

CVariableList::CVariableList() : m_buckets{}, m_count(0) {}

CVariableList::~CVariableList() { Clear(); }

void* CVariableList::operator new(size_t size)
{
    void* p = MemoryManager::Alloc(size, __FILE__, __LINE__, true);
    if (!p) throw std::bad_alloc();
    return p;
}

void CVariableList::operator delete(void* p) { MemoryManager::Free(p); }

void CVariableList::Add(VariableNode* node)
{
    if (!node) return;
    VariableNode*& head = m_buckets[VarList_BucketOf(node->hash)];
    node->next = head;
    head = node;
    ++m_count;
}

VariableNode* CVariableList::Find(int32_t id) const
{
    for (VariableNode* n = m_buckets[VarList_BucketOf(id)]; n; n = n->next)
        if (RValue_Kind(&n->key) == VALUE_INT32 && n->key.v32 == id) return n;
    return nullptr;
}

VariableNode* CVariableList::FindByName(const char* name) const
{
    if (!name) name = "";
    int32_t hash = static_cast<int32_t>(CRC32_String(name));
    for (VariableNode* n = m_buckets[VarList_BucketOf(hash)]; n; n = n->next)
        if (n->hash == hash && RValue_Kind(&n->key) == VALUE_STRING && n->key.str && n->key.str->text &&
            std::strcmp(n->key.str->text, name) == 0)
            return n;
    return nullptr;
}

VariableNode* CVariableList::FindValueKey(RValue* key) const
{
    int32_t hash = RValue_ToHash(key);
    for (VariableNode* n = m_buckets[VarList_BucketOf(hash)]; n; n = n->next)
        if (n->hash == hash && RValue_Compare(n->key, *key, Math_Epsilon) == 0) return n;
    return nullptr;
}

VariableNode* CVariableList::NewNode(int32_t id)
{
    VariableNode* node = VarList_TakeNode();
    if (!node) return nullptr;
    RValue_SetInt32(&node->key, id);
    node->hash = id;  // the whole id: only id-keyed nodes are found by id
    return node;
}

VariableNode* CVariableList::NewNamedNode(const char* name)
{
    VariableNode* node = VarList_TakeNode();
    if (!node) return nullptr;
    RValue_CreateString(&node->key, name ? name : "");
    node->hash = static_cast<int32_t>(CRC32_String(name));
    return node;
}

VariableNode* CVariableList::NewValueNode(RValue* key)
{
    VariableNode* node = VarList_TakeNode();
    if (!node) return nullptr;
    RValue_Copy(&node->key, key);
    node->hash = RValue_ToHash(key);
    return node;
}

bool CVariableList::GetVar(int32_t id, int32_t arrayIndex, RValue* out)
{
    ArrayIndexError.flag = false;
    Variable_NoInstance = false;
    if (VariableNode* node = Find(id)) return RValue_ArrayGet(out, &node->value, arrayIndex);
    RValue_Free(out);
    if (g_VariableList_UnsetIsError) {
        RValue_SetReal(out, VARIABLE_UNSET_MARK);
        return false;
    }
    RValue_SetReal(out, 0.0);
    return true;
}

void CVariableList::SetVar(int32_t id, int32_t arrayIndex, RValue* value)
{
    ArrayIndexError.flag = false;
    VariableNode* node = Find(id);
    if (!node) {
        node = NewNode(id);
        if (!node) return;
        Add(node);
    }
    RValue_SetWithIndex(&node->value, value, arrayIndex);
}

void CVariableList::Remove(VariableNode* node)
{
    if (!node) return;
    // Only a node of this list is unlinked: anything else would corrupt another chain and the count.
    for (VariableNode** at = &m_buckets[VarList_BucketOf(node->hash)]; *at; at = &(*at)->next)
        if (*at == node) {
            *at = node->next;
            --m_count;
            VarList_PoolNode(node);
            return;
        }
}

void CVariableList::Clear()
{
    for (VariableNode*& head : m_buckets) {
        while (VariableNode* n = head) {
            head = n->next;
            VarList_PoolNode(n);
        }
    }
    m_count = 0;
}

void CVariableList::Assign(const CVariableList* other)
{
    if (!other || other == this) return;
    Clear();
    for (VariableNode* head : other->m_buckets)
        for (VariableNode* n = head; n; n = n->next) {
            VariableNode* copy = VarList_TakeNode();
            if (!copy) return;
            copy->Copy(n);
            Add(copy);
        }
}

void CVariableList::Serialise(IBuffer* buffer)
{
    RValue count;
    RValue_SetReal(&count, m_count);
    buffer->Write(buffer_s32, &count);
    for (VariableNode* head : m_buckets)
        for (VariableNode* n = head; n; n = n->next) {
            buffer->WriteString(VarList_SavedName(n));
            RValue_Serialise(&n->value, buffer);
        }
}

bool CVariableList::Deserialise(IBuffer* buffer)
{
    Clear();
    int64_t left = buffer->GetKind() == buffer_wrap ? buffer->GetSize()
                                                    : int64_t(buffer->GetSize()) - buffer->GetPosition();
    int32_t count = 0;
    if (!VarList_ReadS32(buffer, &count)) return false;
    // Each entry takes at least a NUL and a kind word: a larger count cannot be in the data (and a
    // wrapping buffer would otherwise be read round and round).
    if (count < 0) return false;
    if (left < 4) left = 4;
    int64_t most = (left - 4) / 5;
    bool complete = count <= most;
    if (!complete) count = int32_t(most);
    for (int32_t i = 0; i < count; ++i) {
        char* name = buffer->ReadString();
        if (!name) return false;
        int32_t id = VarList_SavedId(name);
        if (id < 0) {
            DebugConsole->Output("WARNING: Load game failed to find variable \"%s\"\n", name);
            MemFree(name);
            RValue discarded;
            RValue_SetUndefined(&discarded);
            bool ok = RValue_Deserialise(&discarded, buffer);
            RValue_Free(&discarded);
            if (!ok) return false;
            continue;
        }
        MemFree(name);
        VariableNode* node = VarList_TakeNode();
        if (!node) return false;
        RValue_SetInt32(&node->key, id);
        node->hash = id;
        RValue_SetUndefined(&node->value);
        if (!RValue_Deserialise(&node->value, buffer)) {
            VarList_PoolNode(node);
            return false;
        }
        // A save naming one variable twice keeps the last value, as a second set would.
        if (VariableNode* old = Find(id)) Remove(old);
        Add(node);
    }
    return complete;
}

// ---- the pool ----

int32_t VariableNode_PoolSize() { return g_varListPoolSize; }

void VariableNode_FreePool()
{
    while (VariableNode* n = g_varListPool) {
        g_varListPool = n->link;
        MemoryManager::Free(n);
    }
    g_varListPoolSize = 0;
}
