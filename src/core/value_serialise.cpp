// Values written to and read back from binary buffers (game saves, saved variables and lists).
#include <cstring>

#include "core/convert.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "ds/buffer.h"

namespace {

// Arrays nested deeper than this are not read back; writing keeps to the same limit.
constexpr int32_t kSerialiseMaxDepth = 256;

struct SerialisePath {
    const RefArray* records[kSerialiseMaxDepth];
    int32_t depth = 0;
};

void Serialise_WriteS32(IBuffer* buffer, int32_t n)
{
    RValue item;
    RValue_SetReal(&item, n);
    buffer->Write(buffer_s32, &item);
}

void Serialise_WriteValue(RValue* v, IBuffer* buffer, SerialisePath* path)
{
    uint32_t kind = RValue_Kind(v);
    if (kind == VALUE_ARRAY && path->depth >= kSerialiseMaxDepth) {
        // The reader takes no deeper nesting: what lies below is written as undefined.
        Serialise_WriteS32(buffer, VALUE_UNDEFINED);
        return;
    }
    Serialise_WriteS32(buffer, static_cast<int32_t>(v->kind));
    switch (kind) {
    case VALUE_REAL: {
        RValue item;
        RValue_SetReal(&item, v->real);
        buffer->Write(buffer_f64, &item);
        break;
    }
    case VALUE_STRING:
        buffer->WriteString(v->str ? v->str->text : nullptr);
        break;
    case VALUE_ARRAY: {
        const RefArray* array = v->arr;
        bool onPath = false;
        if (array)
            for (int32_t i = 0; i < path->depth; ++i) onPath |= path->records[i] == array;
        // The reader always expects a row count: an array without a record, and an array met again inside
        // itself, are written as empty arrays.
        if (!array || onPath) {
            Serialise_WriteS32(buffer, 0);
            break;
        }
        path->records[path->depth++] = array;
        Serialise_WriteS32(buffer, array->rowCount);
        for (int32_t r = 0; r < array->rowCount; ++r) {
            Serialise_WriteS32(buffer, array->rows[r].length);
            for (int32_t i = 0; i < array->rows[r].length; ++i)
                Serialise_WriteValue(&array->rows[r].items[i], buffer, path);
        }
        --path->depth;
        break;
    }
    default:
        break;  // the kind word alone
    }
}

// Reading keeps a byte budget: every item read spends its size, and counts must fit in what is left,
// so memory and work stay proportional to the input even in a wrapping buffer.
struct DeserialiseState {
    IBuffer* buffer;
    int64_t budget;
};

bool Deserialise_Spend(DeserialiseState* st, int64_t bytes)
{
    st->budget -= bytes;
    return st->budget >= 0;
}

bool Deserialise_ReadS32(DeserialiseState* st, int32_t* out)
{
    if (!Deserialise_Spend(st, 4)) return false;
    RValue item;
    RValue_SetUndefined(&item);
    if (st->buffer->Read(buffer_s32, &item) != 0 || RValue_Kind(&item) != VALUE_REAL) {
        RValue_Free(&item);
        return false;
    }
    *out = Real_ToInt32(item.real);
    return true;
}

bool Deserialise_ReadValue(RValue* v, DeserialiseState* st, int32_t depth)
{
    RValue_Free(v);
    int32_t word = 0;
    if (!Deserialise_ReadS32(st, &word)) return false;
    uint32_t kind = static_cast<uint32_t>(word) & RVALUE_KIND_MASK;
    switch (kind) {
    case VALUE_REAL: {
        if (!Deserialise_Spend(st, 8)) return false;
        RValue item;
        RValue_SetUndefined(&item);
        if (st->buffer->Read(buffer_f64, &item) != 0 || RValue_Kind(&item) != VALUE_REAL) {
            RValue_Free(&item);
            return false;
        }
        RValue_SetReal(v, item.real);
        return true;
    }
    case VALUE_STRING: {
        char* text = st->buffer->ReadString();
        if (!text) return false;
        size_t length = std::strlen(text);
        if (!Deserialise_Spend(st, int64_t(length) + 1)) {
            MemFree(text);
            return false;
        }
        // The buffer's copy becomes the record's text as it is.
        auto* record = static_cast<RefString*>(MemAlloc(sizeof(RefString)));
        if (record) {
            record->text = text;
            record->refCount = 1;
            record->length = static_cast<int32_t>(length);
        } else {
            MemFree(text);
        }
        v->str = record;
        v->kind = VALUE_STRING;
        return true;
    }
    case VALUE_ARRAY: {
        if (depth >= kSerialiseMaxDepth) return false;
        RefArray* array = RefArray_Create(v);
        if (!array) return false;
        v->arr = array;
        v->kind = VALUE_ARRAY;
        int32_t rowCount = 0;
        if (!Deserialise_ReadS32(st, &rowCount) || rowCount < 0 || rowCount > st->budget / 4) return false;
        if (rowCount > 0) {
            array->rows = static_cast<ArrayRow*>(
                MemoryManager::Alloc(size_t(rowCount) * sizeof(ArrayRow), __FILE__, __LINE__, true));
            if (!array->rows) return false;
            array->rowCount = rowCount;
        }
        for (int32_t r = 0; r < rowCount; ++r) {
            int32_t length = 0;
            if (!Deserialise_ReadS32(st, &length) || length < 0 || length > st->budget / 4) return false;
            if (length == 0) continue;
            ArrayRow& row = array->rows[r];
            row.items = static_cast<RValue*>(
                MemoryManager::Alloc(size_t(length) * sizeof(RValue), __FILE__, __LINE__, true));
            if (!row.items) return false;
            row.length = length;
            for (int32_t i = 0; i < length; ++i)
                if (!Deserialise_ReadValue(&row.items[i], st, depth + 1)) return false;
        }
        return true;
    }
    default:
        // Every other kind carries nothing: never a pointer or an object with a payload from outside.
        v->kind = kind;
        return true;
    }
}

}  // namespace

void RValue_Serialise(RValue* v, IBuffer* buffer)
{
    SerialisePath path;
    Serialise_WriteValue(v, buffer, &path);
}

bool RValue_Deserialise(RValue* v, IBuffer* buffer)
{
    DeserialiseState st{buffer, 0};
    int64_t size = buffer->GetSize(), position = buffer->GetPosition();
    st.budget = buffer->GetKind() == buffer_wrap ? size : size - position;
    if (st.budget < 0) st.budget = 0;
    if (Deserialise_ReadValue(v, &st, 0)) return true;
    RValue_Free(v);
    return false;
}
