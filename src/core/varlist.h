// The named-variable list of a script object: 64 buckets of pooled nodes keyed by variable id, by name
// (CRC-32) or by any value (its hash). The bucket order is the order of the saved list.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/value.h"

class IBuffer;

constexpr int32_t VARIABLE_LIST_BUCKETS = 64;
// What a read of a missing variable gives when unset variables are errors.
constexpr double VARIABLE_UNSET_MARK = 12345678.9;

struct VariableNode {
    VariableNode* next;  // in its bucket
    VariableNode* link;  // in the free pool
    RValue key;          // int32 id, string name, or any value
    RValue value;
    int32_t hash;        // id, CRC-32 of the name, or RValue_ToHash of the key; bucket = hash & 63

    // Takes copies of other's key and value (references taken) and its hash; links cleared.
    void Copy(const VariableNode* other);
    // A fresh node: hash of the key, a copy of the key, value real 0 (or a copy of value).
    void InitKey(RValue* key);
    void InitKeyValue(RValue* key, RValue* value);
};

class CVariableList {
public:
    CVariableList();
    virtual ~CVariableList();
    CVariableList(const CVariableList&) = delete;
    CVariableList& operator=(const CVariableList&) = delete;

    static void* operator new(size_t size);
    static void operator delete(void* p);

    // Puts an unlinked node at the front of its bucket.
    void Add(VariableNode* node);
    // Id-keyed nodes only: a named or value-keyed node never answers an id.
    VariableNode* Find(int32_t id) const;
    bool Exists(int32_t id) const { return Find(id) != nullptr; }
    // Exact, case-sensitive name.
    VariableNode* FindByName(const char* name) const;
    // Equal within Math_Epsilon.
    VariableNode* FindValueKey(RValue* key) const;

    // Unlinked nodes from the pool (or new); value real 0.
    static VariableNode* NewNode(int32_t id);
    static VariableNode* NewNamedNode(const char* name);
    static VariableNode* NewValueNode(RValue* key);

    // A missing id gives real 0 and true, or VARIABLE_UNSET_MARK and false when unset variables are errors.
    bool GetVar(int32_t id, int32_t arrayIndex, RValue* out);
    void SetVar(int32_t id, int32_t arrayIndex, RValue* value);
    // Unlinks the node (it must be in this list), releases its key and value and pools it.
    void Remove(VariableNode* node);
    void Clear();
    // This list becomes a copy of other (references taken); assigning a list to itself keeps it.
    void Assign(const CVariableList* other);

    void Serialise(IBuffer* buffer);
    // Reads a saved list into this (cleared) one. Counts are capped by the bytes left; reading stops at
    // the first damaged or truncated entry (false), keeping the entries read before it.
    bool Deserialise(IBuffer* buffer);

    int32_t Count() const { return m_count; }
    VariableNode* Bucket(int32_t i) const { return m_buckets[i & (VARIABLE_LIST_BUCKETS - 1)]; }

private:
    VariableNode* m_buckets[VARIABLE_LIST_BUCKETS];
    int32_t m_count;
};

// Reads of missing variables answer false with VARIABLE_UNSET_MARK (the options chunk's switch).
extern bool g_VariableList_UnsetIsError;

// Pooled nodes waiting for reuse; VariableNode_FreePool gives them back to the heap (shutdown, tests).
int32_t VariableNode_PoolSize();
void VariableNode_FreePool();
