// The runtime's one value type, the two shared records behind text and arrays, and the rules by which
// values are made, copied, freed, indexed, converted, printed and serialised.
#pragma once
#include <cstddef>
#include <cstdint>

struct QZObjectBase;
class IBuffer;

// Kinds (low 24 bits of the kind word).
enum : uint32_t {
    VALUE_REAL = 0,
    VALUE_STRING = 1,
    VALUE_ARRAY = 2,
    VALUE_PTR = 3,
    VALUE_VEC3 = 4,
    VALUE_UNDEFINED = 5,
    VALUE_OBJECT = 6,
    VALUE_INT32 = 7,
    VALUE_VEC4 = 8,
    VALUE_MATRIX = 9,
    VALUE_INT64 = 10,
    VALUE_ACCESSOR = 11,
    VALUE_NULL = 12,
    VALUE_BOOL = 13,
    VALUE_ITERATOR = 14,
    VALUE_UNSET = 0x00FFFFFF,
};
constexpr uint32_t RVALUE_KIND_MASK = 0x00FFFFFF;

// Flags word.
constexpr uint32_t RVALUE_FLAG_ENUMERABLE = 1u << 0;
constexpr uint32_t RVALUE_FLAG_CONFIGURABLE = 1u << 1;
constexpr uint32_t RVALUE_FLAG_WRITABLE = 1u << 2;
constexpr uint32_t RVALUE_FLAG_OWNED = 1u << 3;  // a pointer value owns its pointee

// Packed element index: row * stride + column; NONE addresses the whole value.
constexpr int32_t ARRAY_INDEX_STRIDE = 32000;
constexpr int32_t ARRAY_INDEX_NONE = INT32_MIN;  // 0x80000000

struct RefString;
struct RefArray;

// A pointee that an owned pointer value deletes when the value is freed.
struct RValueOwnedObject {
    virtual ~RValueOwnedObject() = default;
};

struct RValue {
    union {
        double real;
        int32_t v32;
        int64_t v64;
        void* ptr;
        RefString* str;
        RefArray* arr;
        QZObjectBase* obj;
        RValueOwnedObject* owned;
    };
    uint32_t flags;
    uint32_t kind;  // low 24 bits the kind; readers mask the rest off
};
static_assert(sizeof(RValue) == 16, "RValue is 16 bytes");
static_assert(offsetof(RValue, flags) == 8 && offsetof(RValue, kind) == 12, "RValue field order");

inline uint32_t RValue_Kind(const RValue* v) { return v->kind & RVALUE_KIND_MASK; }
// True for kinds 1 to 4: the only ones RValue_Free has work for.
inline bool RValue_NeedsFree(const RValue* v) { return ((v->kind - 1) & RVALUE_KIND_MASK) < 4; }

// Small constructors for callers and tests; they do not release old content.
inline void RValue_SetUndefined(RValue* v) { v->v64 = 0; v->flags = 0; v->kind = VALUE_UNDEFINED; }
inline void RValue_SetReal(RValue* v, double d) { v->real = d; v->flags = 0; v->kind = VALUE_REAL; }
inline void RValue_SetInt32(RValue* v, int32_t i) { v->v64 = 0; v->v32 = i; v->flags = 0; v->kind = VALUE_INT32; }
inline void RValue_SetInt64(RValue* v, int64_t i) { v->v64 = i; v->flags = 0; v->kind = VALUE_INT64; }
inline void RValue_SetBool(RValue* v, bool b) { v->real = b ? 1.0 : 0.0; v->flags = 0; v->kind = VALUE_BOOL; }
inline void RValue_SetPtr(RValue* v, void* p) { v->ptr = p; v->flags = 0; v->kind = VALUE_PTR; }

// Shared text. Records and their texts are memory-manager blocks.
struct RefString {
    char* text;        // may be null
    int32_t refCount;
    int32_t length;    // bytes without the NUL

    // A new record (refCount 1) holding a copy of text; null when the record cannot be allocated.
    static RefString* Create(const char* text);
    // A new record whose text is an uninitialised block of n + 1 bytes for the caller to fill.
    static RefString* CreateWithLength(int32_t n);
    void InitFromText(const char* text);
    void InitWithLength(int32_t n);
    // refCount - 1; at 0 frees the text and the record.
    void Release();
    static void ReleaseChecked(RefString* record);
};

struct ArrayRow {
    int32_t length;  // items
    RValue* items;   // null when length is 0
};

struct RefArray {
    int32_t refCount;
    ArrayRow* rows;
    RValue* owner;       // the one holder that writes in place; null when none
    int64_t visitStamp;  // text-form walk marker; 64 bits so that the walk counter never wraps
    int32_t rowCount;
};

// The last out-of-range array access, for the messages of the interpreter and the built-ins.
struct ArrayIndexErrorRecord {
    bool flag;
    int32_t row;
    int32_t column;
    int32_t rowCount;   // 0 when the value held no array
    int32_t rowLength;  // -1 when the row does not exist
};
extern ArrayIndexErrorRecord ArrayIndexError;

// Making, copying and freeing.
void RValue_Free(RValue* v);  // leaves v undefined (flags 0, kind 5, payload 0)
void RValue_Copy(RValue* dest, const RValue* src);
void RValue_SetString(RValue* v, const char* text);
void RValue_CreateString(RValue* v, const char* text);  // v holds nothing; its flags are kept
void RValue_AdoptString(RValue* v, const RefString* record);
void RValue_CreateObject(RValue* v);
// Slots an object value made by RValue_CreateObject gets: the game's instance-variable count, set when the
// variable tables are loaded.
extern int32_t g_InstanceVariableSlotCount;
// Offset of the first NUL within the first n bytes, else n.
int32_t BoundedStrLen(const char* bytes, int32_t n);

// Arrays.
RefArray* RefArray_Create(RValue* owner);
RefArray* RefArray_Duplicate(const RefArray* src, RValue* newOwner);
bool RValue_ArrayGet(RValue* result, RValue* src, int32_t packed);
void RValue_ArraySet(RValue* holder, const RValue* src, int32_t packed);
void RValue_SetWithIndex(RValue* dest, RValue* src, int32_t packed);
RValue* RValue_ArrayElement(RValue* v, int32_t packed);

// Conversions; converting an array reads element [0][0], which may give v a private copy of its array.
double RValue_ToReal(RValue* v);
int32_t RValue_ToInt32(RValue* v);
int64_t RValue_ToInt64(RValue* v);
intptr_t RValue_ToPtr(RValue* v);
int32_t RValue_ToHash(RValue* v);

// Text form into one growing memory-manager block; pos, start and capacity follow the block.
void RValue_AppendText(char** pos, char** start, size_t* capacity, RValue* v);
void Text_Append(char** pos, char** start, size_t* capacity, const char* text);

// Serialisation. Deserialise answers false, leaving v undefined, for data that cannot be a value.
void RValue_Serialise(RValue* v, IBuffer* buffer);
bool RValue_Deserialise(RValue* v, IBuffer* buffer);

// Operators of compiled game code. result must hold nothing; the left value is not changed.
void RValue_Div(RValue* result, RValue* value, RValue* divisor);
void RValue_DivReal(RValue* result, RValue* value, double divisor);
void RValue_MulInt(RValue* result, RValue* value, int32_t factor);
void RValue_SubInt(RValue* result, RValue* value, int32_t amount);
void RValue_AddInt(RValue* result, RValue* value, int32_t amount);
void RValue_PostIncrement(RValue* value, RValue* result);
void RValue_TypeError(const char* operation, RValue* left, RValue* right);

// A growable text for messages: a memory-manager block, its capacity and the length used.
struct GrowText {
    char* text = nullptr;
    int32_t capacity = 0;
    int32_t length = 0;
};
void RValueText(GrowText* out, RValue* v);
void GrowText_Free(GrowText* text);
