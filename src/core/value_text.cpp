// Values as numbers, hash keys and text.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "core/convert.h"
#include "core/error.h"
#include "core/hash.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "script/script.h"

namespace {

// Text-walk stamps: an array or object already stamped in the current walk is not followed again.
int64_t g_valueTextCallCounter = 0;
int64_t g_valueTextWalkStart = 0;
int32_t g_valueTextDepth = 0;

// The first non-array element reached through [0][0]; null for an array that leads back into itself.
RValue* ValueText_FirstScalar(RValue* v)
{
    constexpr int kMaxSeen = 64;
    const RefArray* seen[kMaxSeen];
    int seenCount = 0;
    while (RValue_Kind(v) == VALUE_ARRAY) {
        const RefArray* record = v->arr;
        if (record) {
            // A cycle through [0][0] would otherwise make a fresh private copy at every step, for ever.
            for (int i = 0; i < seenCount; ++i)
                if (seen[i] == record) return nullptr;
            if (seenCount == kMaxSeen) return nullptr;
            seen[seenCount++] = record;
        }
        v = RValue_ArrayElement(v, 0);
        if (!v) return nullptr;
    }
    return v;
}

const char* ValueText_Of(const RValue* v)
{
    return v->str ? v->str->text : nullptr;
}

void ValueText_AppendReal(char** pos, char** start, size_t* capacity, double d)
{
    char buffer[TEXT_REAL_FIXED_BUFFER];
    if (d != d) {
        Text_Append(pos, start, capacity, "NaN");
        return;
    }
    // Out of range gives INT64_MIN, which only equals d when d is exactly that number.
    int64_t whole = Real_ToInt64(d);
    if (static_cast<double>(whole) == d)
        Text_FromInt64(buffer, sizeof buffer, whole);
    else
        Text_FromRealFixed(buffer, sizeof buffer, d, 2);
    Text_Append(pos, start, capacity, buffer);
}

}  // namespace

// ---- Conversions ----

double RValue_ToReal(RValue* v)
{
    switch (RValue_Kind(v)) {
    case VALUE_REAL:
    case VALUE_BOOL:
        return v->real;
    case VALUE_STRING:
        return Text_ToReal(ValueText_Of(v));
    case VALUE_ARRAY: {
        RValue* first = ValueText_FirstScalar(v);
        return first ? RValue_ToReal(first) : 0.0;
    }
    case VALUE_UNDEFINED:
        return 0.0;
    case VALUE_INT32:
        return v->v32;
    case VALUE_INT64:
        return static_cast<double>(v->v64);
    case VALUE_UNSET:
        RuntimeError("REAL argument is unset");
        return 0.0;
    default:
        RuntimeError("REAL argument incorrect type %d", static_cast<int>(RValue_Kind(v)));
        return 0.0;
    }
}

int32_t RValue_ToInt32(RValue* v)
{
    switch (RValue_Kind(v)) {
    case VALUE_REAL:
    case VALUE_BOOL:
        return Real_ToInt32(v->real);
    case VALUE_STRING:
        return Text_ToInt32(ValueText_Of(v));
    case VALUE_ARRAY: {
        RValue* first = ValueText_FirstScalar(v);
        return first ? RValue_ToInt32(first) : 0;
    }
    case VALUE_PTR:
        return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(v->ptr)));
    case VALUE_UNDEFINED:
        return 0;
    case VALUE_INT32:
        return v->v32;
    case VALUE_INT64:
        return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v->v64)));
    case VALUE_UNSET:
        RuntimeError("I32 argument is unset");
        return 0;
    default:
        RuntimeError("I32 argument incorrect type %d", static_cast<int>(RValue_Kind(v)));
        return 0;
    }
}

int64_t RValue_ToInt64(RValue* v)
{
    switch (RValue_Kind(v)) {
    case VALUE_REAL:
    case VALUE_BOOL:
        return Real_ToInt64(v->real);
    case VALUE_STRING:
        return Text_ToInt64(ValueText_Of(v));
    case VALUE_ARRAY: {
        RValue* first = ValueText_FirstScalar(v);
        return first ? RValue_ToInt64(first) : 0;
    }
    case VALUE_PTR:
        // A whole native pointer (the 32-bit layout's sign-extended word was the whole pointer too).
        return static_cast<int64_t>(reinterpret_cast<intptr_t>(v->ptr));
    case VALUE_UNDEFINED:
        return 0;
    case VALUE_INT32:
        return v->v32;
    case VALUE_INT64:
        return v->v64;
    case VALUE_UNSET:
        RuntimeError("I64 argument is unset");
        return 0;
    default:
        RuntimeError("I64 argument incorrect type %d", static_cast<int>(RValue_Kind(v)));
        return 0;
    }
}

intptr_t RValue_ToPtr(RValue* v)
{
    switch (RValue_Kind(v)) {
    case VALUE_REAL:
    case VALUE_BOOL:
        return static_cast<intptr_t>(Real_ToInt64(v->real));
    case VALUE_STRING:
        return static_cast<intptr_t>(Text_ToInt64Hex(ValueText_Of(v)));
    case VALUE_ARRAY: {
        RValue* first = ValueText_FirstScalar(v);
        return first ? RValue_ToPtr(first) : 0;
    }
    case VALUE_PTR:
        return reinterpret_cast<intptr_t>(v->ptr);
    case VALUE_UNDEFINED:
        return 0;
    case VALUE_INT32:
        return v->v32;
    case VALUE_INT64:
        return static_cast<intptr_t>(v->v64);
    case VALUE_UNSET:
        RuntimeError("PTR argument is unset");
        return 0;
    default:
        RuntimeError("PTR argument incorrect type %d", static_cast<int>(RValue_Kind(v)));
        return 0;
    }
}

int32_t RValue_ToHash(RValue* v)
{
    switch (RValue_Kind(v)) {
    case VALUE_REAL:
        return Real_ToInt32(v->real);
    case VALUE_STRING:
        return v->str ? static_cast<int32_t>(CRC32_String(v->str->text)) : 0;
    case VALUE_ARRAY:
        return v->arr ? static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(v->arr->rows))) : 0;
    case VALUE_UNDEFINED:
        return 0;
    case VALUE_UNSET:
        RuntimeError("HASH argument is unset");
        break;
    default:
        break;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v->v64)));
}

// ---- Text form ----

void Text_Append(char** pos, char** start, size_t* capacity, const char* text)
{
    if (!text) text = "";
    size_t length = std::strlen(text);
    size_t used = *start ? size_t(*pos - *start) : 0;
    size_t needed = used + length + 1;
    if (*capacity < needed) {
        size_t grown = *capacity * 2 > needed + 1 ? *capacity * 2 : needed + 1;
        auto* block = static_cast<char*>(MemReAlloc(*start, grown));
        if (!block) return;  // out of memory: the text so far stays as it is
        *start = block;
        *capacity = grown;
        *pos = block + used;
    }
    std::memcpy(*pos, text, length + 1);
    *pos += length;
}

void RValue_AppendText(char** pos, char** start, size_t* capacity, RValue* v)
{
    ++g_valueTextCallCounter;
    if (g_valueTextDepth == 0) g_valueTextWalkStart = g_valueTextCallCounter;
    ++g_valueTextDepth;
    char buffer[TEXT_NUMBER_BUFFER];

    switch (RValue_Kind(v)) {
    case VALUE_REAL:
        ValueText_AppendReal(pos, start, capacity, v->real);
        break;
    case VALUE_STRING:
        if (v->str && v->str->text) Text_Append(pos, start, capacity, v->str->text);
        break;
    case VALUE_ARRAY: {
        Text_Append(pos, start, capacity, "{ ");
        RefArray* array = v->arr;
        if (array && array->visitStamp < g_valueTextWalkStart) {
            array->visitStamp = g_valueTextCallCounter;
            for (int32_t r = 0; r < array->rowCount; ++r) {
                Text_Append(pos, start, capacity, "{ ");
                for (int32_t i = 0; i < array->rows[r].length; ++i) {
                    if (i > 0) Text_Append(pos, start, capacity, ",");
                    RValue_AppendText(pos, start, capacity, &array->rows[r].items[i]);
                }
                Text_Append(pos, start, capacity, " }, ");
            }
        }
        Text_Append(pos, start, capacity, " }");
        break;
    }
    case VALUE_PTR:
        std::snprintf(buffer, sizeof buffer, "%p", v->ptr);
        Text_Append(pos, start, capacity, buffer);
        break;
    case VALUE_UNDEFINED:
        Text_Append(pos, start, capacity, "undefined");
        break;
    case VALUE_OBJECT: {
        if (!v->obj) {
            Text_Append(pos, start, capacity, "null");
            break;
        }
        RValue method;
        RValue_SetUndefined(&method);
        JS_GetProperty(v->obj, &method, "toString");
        if (JS_IsCallable(&method)) {
            RValue result;
            RValue_SetUndefined(&result);
            JS_CallValue(v->obj, &result, &method, 0, nullptr);
            if (RValue_Kind(&result) == VALUE_STRING && result.str && result.str->text)
                Text_Append(pos, start, capacity, result.str->text);
            RValue_Free(&result);
        }
        RValue_Free(&method);
        break;
    }
    case VALUE_INT32:
        Text_FromInt32(buffer, sizeof buffer, v->v32);
        Text_Append(pos, start, capacity, buffer);
        break;
    case VALUE_INT64:
        Text_FromInt64(buffer, sizeof buffer, v->v64);
        Text_Append(pos, start, capacity, buffer);
        break;
    case VALUE_BOOL:
        Text_Append(pos, start, capacity, v->real == 0.0 ? "0" : "1");
        break;
    case VALUE_UNSET:
        RuntimeError("STRING argument is unset");
        break;
    default:
        break;
    }
    // The block always ends in a NUL at the write position, even when nothing was written.
    if (!*start) Text_Append(pos, start, capacity, "");
    --g_valueTextDepth;
}

// ---- Message texts ----

void GrowText_Free(GrowText* text)
{
    MemFree(text->text);
    *text = GrowText{};
}

void RValueText(GrowText* out, RValue* v)
{
    size_t capacity = 256;
    char* start = static_cast<char*>(MemAlloc(capacity));
    if (!start) return;
    start[0] = '\0';
    char* pos = start;
    RValue_AppendText(&pos, &start, &capacity, v);
    int64_t textLength = pos - start;
    int64_t room = int64_t(out->capacity) - 1 - out->length;
    if (room < textLength + 1) {
        int64_t base = out->capacity ? out->capacity : textLength + 1;
        int64_t grown = base * 3 / 2;
        if (grown < out->length + textLength + 1) grown = (out->length + textLength + 1) * 3 / 2;
        if (grown > INT32_MAX) {
            MemFree(start);
            return;
        }
        auto* block = static_cast<char*>(MemAlloc(size_t(grown)));
        if (!block) {
            MemFree(start);
            return;
        }
        if (out->text) std::memcpy(block, out->text, size_t(out->capacity));
        MemFree(out->text);
        out->text = block;
        out->capacity = static_cast<int32_t>(grown);
    }
    std::memcpy(out->text + out->length, start, size_t(textLength) + 1);
    out->length += static_cast<int32_t>(textLength);
    MemFree(start);
}
