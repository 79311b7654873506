// Arithmetic, logic, conversion and comparison operations of the interpreter. Each handler reads its two
// type nibbles once, resolves ".v" operands by kind into one of a few classes and dispatches on the pair.
// Integer arithmetic that may overflow runs in unsigned types (wrapping is the rule, never a trap), and every
// real that becomes an integer goes through the conversion family.
#include <charconv>
#include <cstddef>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "core/convert.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "core/vm.h"
#include "script/script.h"

namespace {

enum VmOpsCode : int32_t {
    VMOPS_MUL, VMOPS_DIV, VMOPS_REM, VMOPS_MOD, VMOPS_ADD, VMOPS_SUB, VMOPS_AND, VMOPS_OR, VMOPS_XOR,
    VMOPS_SHL, VMOPS_SHR,
};

const char* const kVmOpsNames[] = {"DoMul", "DoDiv", "DoRem", "DoMod", "DoAdd", "DoSub",
                                   "DoAnd", "DoOr",  "DoXor", "DoShl", "DoShr"};

// Resolved operand classes.
enum VmOpsClass : int32_t { VMC_D, VMC_I, VMC_L, VMC_B, VMC_S, VMC_P, VMC_U, VMC_BAD };

struct VmOpsArg {
    int32_t type = 0;  // item type
    int32_t size = 0;
    uint8_t* at = nullptr;
    int32_t cls = VMC_BAD;
    bool var = false;  // a ".v" item
    uint32_t kind = 0;
    double d = 0;
    int32_t i = 0;
    int64_t l = 0;
    uintptr_t p = 0;
    const RefString* s = nullptr;
};

int32_t VmOps_I32(const uint8_t* p)
{
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Stack items keep the sizes the bytecode counts, so a value may sit on a 4-byte boundary: values are
// copied out and back, never accessed in place.
RValue VmOps_LoadValue(const uint8_t* p)
{
    RValue v;
    std::memcpy(&v, p, 16);
    return v;
}

void VmOps_StoreValue(uint8_t* p, const RValue& v) { std::memcpy(p, &v, 16); }

void VmOps_FreeItem(int32_t type, uint8_t* p)
{
    if (type != 5) {
        VM_FreeItem(type, p);
        return;
    }
    RValue v = VmOps_LoadValue(p);
    RValue_Free(&v);
    VmOps_StoreValue(p, v);
}

void VmOps_Fail(VMFrame* frame, const char* text)
{
    VMError(frame, "%s", text);
    VM_StopFrame(frame);
}

bool VmOps_Has(VMFrame* frame, uint8_t* sp, int64_t bytes, const char* handler)
{
    if (VM_ItemFloor(frame) - sp >= bytes) return true;  // never below an open with-block's record
    VMError(frame, "%s :: stack underflow", handler);
    VM_StopFrame(frame);
    return false;
}

// Reads the item of type type at p. For every operation but set, arrays, pointers, undefined and any other
// kind stay VMC_BAD with their kind recorded; forSet maps arrays, pointers and objects to identities and
// undefined to its own class.
void VmOps_Read(int32_t type, uint8_t* p, VmOpsArg* a, bool forSet)
{
    a->type = type;
    a->at = p;
    a->size = VM_StackItemSize(type);
    a->var = false;
    a->cls = VMC_BAD;
    switch (type) {
    case 0: std::memcpy(&a->d, p, 8); a->cls = VMC_D; return;
    case 1: {
        float f;
        std::memcpy(&f, p, 4);
        a->d = double(f);
        a->cls = VMC_D;
        return;
    }
    case 2: a->i = VmOps_I32(p); a->cls = VMC_I; return;
    case 3: std::memcpy(&a->l, p, 8); a->cls = VMC_L; return;
    case 4: a->i = VmOps_I32(p); a->cls = VMC_B; return;
    case 6: {
        uint32_t handle;
        std::memcpy(&handle, p, 4);
        a->s = VM_StringPeek(handle);
        a->cls = VMC_S;
        return;
    }
    case 5: break;
    default: return;
    }
    a->var = true;
    const RValue value = VmOps_LoadValue(p);
    const RValue* v = &value;
    a->kind = RValue_Kind(v);
    switch (a->kind) {
    case VALUE_REAL:
    case VALUE_BOOL: a->d = v->real; a->cls = VMC_D; return;
    case VALUE_INT32: a->i = v->v32; a->cls = VMC_I; return;
    case VALUE_INT64: a->l = v->v64; a->cls = VMC_L; return;
    case VALUE_STRING: a->s = v->str; a->cls = VMC_S; return;
    case VALUE_ARRAY:
    case VALUE_PTR:
    case VALUE_OBJECT:
        if (forSet) {
            a->p = reinterpret_cast<uintptr_t>(v->ptr);
            a->cls = VMC_P;
        }
        return;
    case VALUE_UNDEFINED:
        if (forSet) a->cls = VMC_U;
        return;
    default: return;
    }
}

void VmOps_Free(const VmOpsArg& a) { VmOps_FreeItem(a.type, a.at); }

int32_t VmOps_Len(const RefString* s) { return s && s->text ? s->length : 0; }
const char* VmOps_Text(const RefString* s) { return s && s->text ? s->text : ""; }

// Ending of a bad ".v" operand.
const char* VmOps_KindEnding(uint32_t kind, bool mul)
{
    switch (kind) {
    case VALUE_ARRAY: return "illegal array use";
    case VALUE_PTR: return "illegal pointer use";
    case VALUE_UNDEFINED: return "undefined value";
    default: return mul ? "Variable is malformed" : "Malformed variable";
    }
}

// Raises the error of a bad ".v" operand (side 1 right, 2 left), frees both operands and stops the frame.
void VmOps_KindError(int32_t op, int32_t side, uint32_t kind, VMFrame* frame)
{
    char text[128];
    if (op == VMOPS_MUL) std::snprintf(text, sizeof text, "%s", VmOps_KindEnding(kind, true));
    else if (op == VMOPS_SHL && side == 1) std::snprintf(text, sizeof text, "DoShl :: %s", VmOps_KindEnding(kind, false));
    else std::snprintf(text, sizeof text, "%s :%d: %s", kVmOpsNames[op], side, VmOps_KindEnding(kind, false));
    VmOps_Fail(frame, text);
}

// The string message of an operation that takes no strings: R's string is checked before L's.
void VmOps_StringError(int32_t op, const VmOpsArg& r, const VmOpsArg& l, VMFrame* frame)
{
    const bool rightString = r.cls == VMC_S;
    const bool var = rightString ? r.var : l.var;
    const char* mid = "";
    switch (op) {
    case VMOPS_SUB: mid = ":"; break;
    case VMOPS_DIV:
    case VMOPS_REM:
    case VMOPS_MOD: mid = rightString && var ? ":1" : ":"; break;
    case VMOPS_AND:
    case VMOPS_OR: mid = !var ? ":" : rightString ? ":1" : ":2"; break;
    case VMOPS_XOR:
    case VMOPS_SHR: mid = rightString ? ":1" : ":2"; break;
    case VMOPS_SHL: mid = rightString ? ":" : ":2"; break;
    default: mid = ":"; break;
    }
    char text[128];
    std::snprintf(text, sizeof text, "%s %s: Execution Engine - Cannot operate on string type", kVmOpsNames[op], mid);
    VmOps_Fail(frame, text);
}

void VmOps_ExecError(int32_t op, VMFrame* frame)
{
    if (op == VMOPS_SUB) {
        VmOps_Fail(frame, "DoSub:: Execution Error");
        return;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%s :: Execution Error", kVmOpsNames[op]);
    VmOps_Fail(frame, text);
}

void VmOps_DivZero(int32_t op, VMFrame* frame)
{
    char text[64];
    std::snprintf(text, sizeof text, "%s :: Divide by zero", kVmOpsNames[op]);
    VmOps_Fail(frame, text);
}

// ---- results ----

void VmOps_StringValue(RValue* v, RefString* record)
{
    v->v64 = 0;
    v->str = record;
    v->flags = 0;
    v->kind = VALUE_STRING;
}

struct VmOpsResult {
    int32_t cls = VMC_D;
    double d = 0;
    int32_t i = 0;
    int64_t l = 0;
    RefString* s = nullptr;  // a new reference
};

// Writes the result below top (the address above the consumed operands): a 16-byte value when asValue,
// else an item of the result's own size.
uint8_t* VmOps_Push(uint8_t* top, bool asValue, const VmOpsResult& r)
{
    if (asValue) {
        RValue v;
        switch (r.cls) {
        case VMC_I: RValue_SetInt32(&v, r.i); break;
        case VMC_L: RValue_SetInt64(&v, r.l); break;
        case VMC_B: RValue_SetBool(&v, r.i != 0); break;
        case VMC_S: VmOps_StringValue(&v, r.s); break;
        default: RValue_SetReal(&v, r.d); break;
        }
        top -= 16;
        std::memcpy(top, &v, 16);
        return top;
    }
    switch (r.cls) {
    case VMC_I:
    case VMC_B: top -= 4; std::memcpy(top, &r.i, 4); return top;
    case VMC_L: top -= 8; std::memcpy(top, &r.l, 8); return top;
    case VMC_S: {
        uint32_t handle = VM_StringAdd(r.s);
        top -= 4;
        std::memcpy(top, &handle, 4);
        return top;
    }
    default: top -= 8; std::memcpy(top, &r.d, 8); return top;
    }
}

double VmOps_AsReal(const VmOpsArg& a)
{
    switch (a.cls) {
    case VMC_I: return double(a.i);
    case VMC_L: return double(a.l);
    case VMC_B: return double(a.i);
    default: return a.d;
    }
}

int64_t VmOps_Trunc64(const VmOpsArg& a)
{
    switch (a.cls) {
    case VMC_I:
    case VMC_B: return a.i;
    case VMC_L: return a.l;
    default: return Real_ToInt64(a.d);
    }
}

int64_t VmOps_AsInt64(const VmOpsArg& a) { return a.cls == VMC_L ? a.l : int64_t(a.i); }

int32_t VmOps_Wrap32(uint32_t v) { return int32_t(v); }
int64_t VmOps_Wrap64(uint64_t v) { return int64_t(v); }

// Quotients and remainders that never trap: the minimum by -1 gives the minimum and 0.
int32_t VmOps_Quot32(int32_t a, int32_t b) { return b == -1 ? VmOps_Wrap32(0u - uint32_t(a)) : a / b; }
int32_t VmOps_Rem32(int32_t a, int32_t b) { return b == -1 ? 0 : a % b; }
int64_t VmOps_Quot64(int64_t a, int64_t b) { return b == -1 ? VmOps_Wrap64(0ull - uint64_t(a)) : a / b; }
int64_t VmOps_Rem64(int64_t a, int64_t b) { return b == -1 ? 0 : a % b; }

// 64-bit shifts by the low 8 bits of the count: 64 and more give 0 or the sign fill.
int64_t VmOps_Shl64(int64_t a, int64_t count)
{
    const uint32_t c = uint32_t(count) & 0xFF;
    return c < 64 ? VmOps_Wrap64(uint64_t(a) << c) : 0;
}
int64_t VmOps_Shr64(int64_t a, int64_t count)
{
    const uint32_t c = uint32_t(count) & 0xFF;
    return c < 64 ? (a >> c) : (a < 0 ? -1 : 0);
}

// The string results: sizes in 64 bits, and nothing allocated for a text past the largest string.
constexpr int64_t kVmOpsMaxText = INT32_MAX;

RefString* VmOps_Concat(const RefString* l, const RefString* r, bool* tooLong)
{
    const int64_t ll = VmOps_Len(l), rl = VmOps_Len(r);
    if (ll + rl > kVmOpsMaxText) {
        *tooLong = true;
        return nullptr;
    }
    RefString* out = RefString::CreateWithLength(int32_t(ll + rl));
    if (out && out->text) {
        if (ll) std::memcpy(out->text, VmOps_Text(l), size_t(ll));
        if (rl) std::memcpy(out->text + ll, VmOps_Text(r), size_t(rl));
    }
    return out;
}

RefString* VmOps_Repeat(const RefString* r, int64_t count, bool* tooLong)
{
    const int64_t len = VmOps_Len(r);
    if (count <= 0 || len == 0) return RefString::Create("");
    if (count > kVmOpsMaxText / len) {
        *tooLong = true;
        return nullptr;
    }
    RefString* out = RefString::CreateWithLength(int32_t(count * len));
    if (out && out->text)
        for (int64_t k = 0; k < count; ++k) std::memcpy(out->text + k * len, r->text, size_t(len));
    return out;
}

// How often a real count repeats a text: NaN never; counts past the 64-bit integers more often than any
// string holds (they would convert to the minimum integer and repeat nothing).
int64_t VmOps_RepeatCount(double d)
{
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775808.0) return INT64_MAX;
    return Real_ToInt64(d);
}

// ---- the object-model variants ----

// The item as a value; strings take the item's reference, ".l" stays an int64.
void VmOps_ItemValue(int32_t type, uint8_t* p, RValue* out)
{
    if (type == 3) {
        int64_t l;
        std::memcpy(&l, p, 8);
        RValue_SetInt64(out, l);
        return;
    }
    VM_StackItemToValue(type, p, out);
}

bool VmOps_IsUnset(const RValue* v) { return RValue_Kind(v) == VALUE_UNSET; }

// A conversion's answer: 1 throws a TypeError with text, anything else non-zero is a pending exception.
bool VmOps_ModelConverted(int32_t status, const char* text)
{
    if (status == 0) return true;
    if (status == 1) JS_ThrowTypeError(text);
    return false;
}

double VmOps_ModelReal(const RValue* v)
{
    RValue copy = *v;
    return RValue_ToReal(&copy);
}

uint32_t VmOps_ModelBits(const RValue* v)
{
    RValue copy = *v;
    return uint32_t(uint64_t(RValue_ToInt64(&copy)));
}

struct VmOpsModelTexts {
    const char* unsetLeft;
    const char* unsetRight;  // null: the right operand is not checked
    const char* convLeft;
    const char* convRight;
};

// Texts of the numeric variants, by operation.
const VmOpsModelTexts kVmOpsModelTexts[] = {
    /* mul */ {"could not find lhs variable on multiply", nullptr, "Could not convert left-hand-side of '*' operator to a number",
               "Could not convert right-hand-side of '*' operator to a number"},
    /* div */ {"could not find lhs variable on div", nullptr, "Could not convert left-hand-side of '/' operator to a number",
               "Could not convert right-hand-side of '/' operator to a number"},
    /* rem */ {"could not find lhs variable on div", nullptr, "Could not convert left-hand-side of '/' operator to a number",
               "Could not convert right-hand-side of '/' operator to a number"},
    /* mod */ {"could not find lhs variable on mod", nullptr, "Could not convert left-hand-side of '%' operator to a number",
               "Could not convert right-hand-side of '%' operator to a number"},
    /* add */ {"could not find variable before '+'", "could not find variable after '+'",
               "Could not convert left-hand-side of add operator to a number # 2",
               "Could not convert right-hand-side of add operator to a number # 2"},
    /* sub */ {"could not find variable before '-'", "could not find variable after '-'",
               "Could not convert left-hand-side of subtraction operator to a number",
               "Could not convert right-hand-side of subtraction operator to a number"},
    /* and */ {"could not find variable before '&'", "could not find variable after '&'",
               "DoAnd - could not convert lhs expr to a number", "DoAnd - could not convert rhs expr to a number"},
    /* or */  {"could not find variable before '|'", "could not find variable after '|'",
               "DoOr - could not convert lhs expr to a number", "DoOr - could not convert rhs expr to a number"},
    /* xor */ {"could not find variable before '^'", "could not find variable after '^'",
               "DoXor - could not convert lhs expr to a number", "DoXor - could not convert rhs expr to a number"},
    /* shl */ {"could not find variable before '<<'", "could not find variable after '<<'",
               "DoShl - could not convert lhs expr to a number", "DoShl - could not convert rhs expr to a number"},
    /* shr */ {"could not find variable before '>>'", "could not find variable after '>>'",
               "DoShr - could not convert lhs expr to a number", "DoShr - could not convert rhs expr to a number"},
};

// Computes the model variant of a two-operand operation into result; false when a throw ended it.
bool VmOps_ModelBinary(int32_t op, int32_t variant, uint32_t word, RValue* l, RValue* r, RValue* result)
{
    const VmOpsModelTexts& t = kVmOpsModelTexts[op];
    RValue_SetUndefined(result);
    if (op == VMOPS_ADD && variant == 1) {
        if (VmOps_IsUnset(l)) return JS_ThrowReferenceError("could not find variable before '+' operator"), false;
        if (VmOps_IsUnset(r)) return JS_ThrowReferenceError("could not find variable after '+' operator"), false;
        RValue pl, pr;
        RValue_SetUndefined(&pl);
        RValue_SetUndefined(&pr);
        bool ok = VmOps_ModelConverted(F_JS_ToPrimitive(&pl, l, 0),
                                       "Could not convert left-hand-side of add operator to a primitive") &&
                  VmOps_ModelConverted(F_JS_ToPrimitive(&pr, r, 0),
                                       "Could not convert right-hand-side of add operator to a primitive");
        if (ok && (RValue_Kind(&pl) == VALUE_STRING || RValue_Kind(&pr) == VALUE_STRING)) {
            RValue sl, sr;
            RValue_SetUndefined(&sl);
            RValue_SetUndefined(&sr);
            ok = VmOps_ModelConverted(JS_ToString(&sl, &pl), "Could not convert left-hand-side of add operator to a primitive") &&
                 VmOps_ModelConverted(JS_ToString(&sr, &pr), "Could not convert right-hand-side of add operator to a primitive");
            if (ok) {
                bool tooLong = false;
                RefString* joined = VmOps_Concat(RValue_Kind(&sl) == VALUE_STRING ? sl.str : nullptr,
                                                 RValue_Kind(&sr) == VALUE_STRING ? sr.str : nullptr, &tooLong);
                if (tooLong) {
                    JS_ThrowTypeError("DoAdd :: Execution Error");
                    ok = false;
                } else {
                    VmOps_StringValue(result, joined);
                }
            }
            RValue_Free(&sl);
            RValue_Free(&sr);
        } else if (ok) {
            RValue nl, nr;
            RValue_SetUndefined(&nl);
            RValue_SetUndefined(&nr);
            ok = VmOps_ModelConverted(JS_ToNumber(&nl, &pl), "Could not convert left-hand-side of add operator to a number") &&
                 VmOps_ModelConverted(JS_ToNumber(&nr, &pr), "Could not convert right-hand-side of add operator to a number");
            if (ok) RValue_SetReal(result, VmOps_ModelReal(&nl) + VmOps_ModelReal(&nr));
            RValue_Free(&nl);
            RValue_Free(&nr);
        }
        RValue_Free(&pl);
        RValue_Free(&pr);
        return ok;
    }
    if (VmOps_IsUnset(l)) return JS_ThrowReferenceError(t.unsetLeft), false;
    if (t.unsetRight && VmOps_IsUnset(r)) return JS_ThrowReferenceError(t.unsetRight), false;

    const bool bitwise = op == VMOPS_AND || op == VMOPS_OR || op == VMOPS_XOR || op == VMOPS_SHL || op == VMOPS_SHR;
    RValue nl, nr;
    RValue_SetUndefined(&nl);
    RValue_SetUndefined(&nr);
    bool ok;
    if (!bitwise) {
        ok = VmOps_ModelConverted(JS_ToNumber(&nl, l), t.convLeft) && VmOps_ModelConverted(JS_ToNumber(&nr, r), t.convRight);
    } else if (op == VMOPS_SHR) {
        const bool logical = (word & 0x8000u) != 0;
        ok = VmOps_ModelConverted(logical ? JS_ToUint32(&nl, l) : JS_ToInt32(&nl, l), t.convLeft) &&
             VmOps_ModelConverted(JS_ToUint32(&nr, r), t.convRight);
    } else {
        ok = VmOps_ModelConverted(JS_ToInt32(&nl, l), t.convLeft) && VmOps_ModelConverted(JS_ToInt32(&nr, r), t.convRight);
    }
    if (ok) {
        double out = 0;
        if (!bitwise) {
            const double a = VmOps_ModelReal(&nl), b = VmOps_ModelReal(&nr);
            switch (op) {
            case VMOPS_ADD: out = a + b; break;
            case VMOPS_SUB: out = a - b; break;
            case VMOPS_MUL: out = a * b; break;
            case VMOPS_MOD: out = std::fmod(a, b); break;
            case VMOPS_REM: out = std::trunc(a / b); break;
            default: out = a / b; break;
            }
        } else {
            const uint32_t a = VmOps_ModelBits(&nl), b = VmOps_ModelBits(&nr);
            switch (op) {
            case VMOPS_AND: out = double(int32_t(a & b)); break;
            case VMOPS_OR: out = double(int32_t(a | b)); break;
            case VMOPS_XOR: out = double(int32_t(a ^ b)); break;
            case VMOPS_SHL: out = double(int32_t(a << (b & 31))); break;
            default:
                if (word & 0x8000u) out = double(a >> (b & 31));
                else out = double(int32_t(a) >> (b & 31));
                break;
            }
        }
        RValue_SetReal(result, out);
    }
    RValue_Free(&nl);
    RValue_Free(&nr);
    return ok;
}

// Pops both operands of a model variant, computes, and pushes the 16-byte result (undefined after a throw, so
// that the stack keeps its shape for whoever handles the exception).
uint8_t* VmOps_ModelTwo(int32_t op, uint32_t word, uint8_t* sp, VMFrame* frame)
{
    const int32_t t1 = int32_t(word >> 16) & 15, t2 = int32_t(word >> 20) & 15;
    const int32_t s1 = VM_StackItemSize(t1), s2 = VM_StackItemSize(t2);
    if (s1 == 0 || s2 == 0) {
        VmOps_ExecError(op, frame);
        return sp;
    }
    if (!VmOps_Has(frame, sp, s1 + s2, kVmOpsNames[op])) return sp;
    RValue l, r, result;
    VmOps_ItemValue(t1, sp, &r);
    VmOps_ItemValue(t2, sp + s1, &l);
    VmOps_ModelBinary(op, int32_t(word >> 8) & 15, word, &l, &r, &result);
    RValue_Free(&l);
    RValue_Free(&r);
    uint8_t* top = sp + s1 + s2 - 16;
    std::memcpy(top, &result, 16);
    return top;
}

// ---- the ordinary two-operand operations ----

uint8_t* VmOps_Binary(int32_t op, uint32_t word, uint8_t* sp, VMFrame* frame)
{
    if (word & 0x0F00u) return VmOps_ModelTwo(op, word, sp, frame);
    const int32_t t1 = int32_t(word >> 16) & 15, t2 = int32_t(word >> 20) & 15;
    // The common case first: a real variable with a real variable, a real or an int32, in either order.
    if ((t1 == 5 || t2 == 5) && op <= VMOPS_SUB && op != VMOPS_REM && op != VMOPS_MOD) {
        const int32_t s1 = VM_StackItemSize(t1), s2 = VM_StackItemSize(t2);
        double a, b;
        if (s1 && s2 && VM_ItemFloor(frame) - sp >= s1 + s2 && VM_ItemReal(t1, sp, &b) && VM_ItemReal(t2, sp + s1, &a) &&
            !(t1 == 2 && t2 == 2)) {
            double d;
            switch (op) {
            case VMOPS_ADD: d = a + b; break;
            case VMOPS_SUB: d = a - b; break;
            case VMOPS_MUL: d = a * b; break;
            default: d = a / b; break;
            }
            uint8_t* top = sp + s1 + s2 - 16;
            RValue v;
            RValue_SetReal(&v, d);
            std::memcpy(top, &v, 16);
            return top;
        }
    }
    VmOpsArg r, l;
    r.size = VM_StackItemSize(t1);
    l.size = VM_StackItemSize(t2);
    if (r.size == 0 || l.size == 0) {
        VmOps_ExecError(op, frame);
        return sp;
    }
    if (!VmOps_Has(frame, sp, r.size + l.size, kVmOpsNames[op])) return sp;
    VmOps_Read(t1, sp, &r, false);
    VmOps_Read(t2, sp + r.size, &l, false);
    uint8_t* const top = sp + r.size + l.size;
    const bool asValue = r.var || l.var;
    auto fail = [&](auto&& raise) {
        raise();
        VmOps_Free(r);
        VmOps_Free(l);
        return top;
    };

    if (r.cls == VMC_BAD) return fail([&] { VmOps_KindError(op, 1, r.kind, frame); });
    if (l.cls == VMC_BAD) return fail([&] { VmOps_KindError(op, 2, l.kind, frame); });

    VmOpsResult res;
    const int32_t rc = r.cls, lc = l.cls;
    if (rc == VMC_S || lc == VMC_S) {
        if (op != VMOPS_ADD && op != VMOPS_MUL) return fail([&] { VmOps_StringError(op, r, l, frame); });
        bool tooLong = false;
        if (op == VMOPS_ADD && rc == VMC_S && lc == VMC_S) {
            res.s = VmOps_Concat(l.s, r.s, &tooLong);
        } else if (op == VMOPS_MUL && rc == VMC_S && (lc == VMC_D || lc == VMC_I)) {
            res.s = VmOps_Repeat(r.s, lc == VMC_I ? int64_t(l.i) : VmOps_RepeatCount(l.d), &tooLong);
        } else {
            return fail([&] { VmOps_ExecError(op, frame); });
        }
        if (tooLong) return fail([&] { VmOps_ExecError(op, frame); });
        res.cls = VMC_S;
        VmOps_Free(r);
        VmOps_Free(l);
        return VmOps_Push(top, asValue, res);
    }

    if (rc == VMC_B || lc == VMC_B) {
        if (rc == VMC_B && lc == VMC_B) {
            res.cls = VMC_B;
            if (op == VMOPS_AND) res.i = (l.i == 1 && r.i == 1) ? 1 : 0;
            else if (op == VMOPS_OR) res.i = (l.i == 1 || r.i == 1) ? 1 : 0;
            else if (op == VMOPS_XOR) res.i = ((l.i != 0) != (r.i != 0)) ? 1 : 0;
            else return fail([&] { VmOps_ExecError(op, frame); });
            return VmOps_Push(top, asValue, res);
        }
        const VmOpsArg& b = rc == VMC_B ? r : l;
        const VmOpsArg& x = rc == VMC_B ? l : r;
        if (x.cls != VMC_D || (op != VMOPS_AND && op != VMOPS_OR)) return fail([&] { VmOps_ExecError(op, frame); });
        const int64_t bits = op == VMOPS_AND ? (b.i != 0 ? 1 : 0) : (b.i == 1 ? 1 : 0);
        const int64_t other = Real_ToInt64(x.d);
        res.cls = VMC_D;
        res.d = double(op == VMOPS_AND ? (other & bits) : (other | bits));
        return VmOps_Push(top, asValue, res);
    }

    if (rc == VMC_D || lc == VMC_D) {
        res.cls = VMC_D;
        const double a = VmOps_AsReal(l), b = VmOps_AsReal(r);
        switch (op) {
        case VMOPS_ADD: res.d = a + b; break;
        case VMOPS_SUB: res.d = a - b; break;
        case VMOPS_MUL: res.d = a * b; break;
        case VMOPS_DIV: res.d = a / b; break;
        case VMOPS_REM: {
            if (rc == VMC_D && Real_ToInt32(std::fabs(b)) == 0) return fail([&] { VmOps_DivZero(op, frame); });
            if (lc == VMC_I) {
                const int32_t divisor = Real_ToInt32(b);
                if (divisor == 0) return fail([&] { VmOps_DivZero(op, frame); });
                res.d = double(VmOps_Quot32(l.i, divisor));
            } else {
                const int64_t divisor = VmOps_Trunc64(r);
                if (divisor == 0) return fail([&] { VmOps_DivZero(op, frame); });
                res.d = double(VmOps_Quot64(VmOps_Trunc64(l), divisor));
            }
            break;
        }
        case VMOPS_MOD:
            if (std::fabs(b) < 1e-10) return fail([&] { VmOps_DivZero(op, frame); });
            res.d = std::fmod(a, b);
            break;
        case VMOPS_AND: res.d = double(VmOps_Trunc64(l) & VmOps_Trunc64(r)); break;
        case VMOPS_OR: res.d = double(VmOps_Trunc64(l) | VmOps_Trunc64(r)); break;
        case VMOPS_XOR: res.d = double(VmOps_Trunc64(l) ^ VmOps_Trunc64(r)); break;
        case VMOPS_SHL:
            if (lc == VMC_I) res.d = double(VmOps_Wrap32(uint32_t(l.i) << (uint32_t(VmOps_Trunc64(r)) & 31)));
            else res.d = double(VmOps_Shl64(VmOps_Trunc64(l), VmOps_Trunc64(r)));
            break;
        case VMOPS_SHR:
            if (lc == VMC_I) {
                uint32_t bits = uint32_t(l.i >> (uint32_t(VmOps_Trunc64(r)) & 31));
                if (word & 0x8000u) bits &= 0x7FFFFFFFu;
                res.d = double(bits);
            } else {
                uint64_t bits = uint64_t(VmOps_Shr64(VmOps_Trunc64(l), VmOps_Trunc64(r)));
                if (word & 0x8000u) bits &= 0x7FFFFFFFFFFFFFFFull;
                res.d = double(bits);
            }
            break;
        }
        return VmOps_Push(top, asValue, res);
    }

    if (rc == VMC_L || lc == VMC_L) {
        res.cls = VMC_L;
        const int64_t a = VmOps_AsInt64(l), b = VmOps_AsInt64(r);
        switch (op) {
        case VMOPS_ADD: res.l = VmOps_Wrap64(uint64_t(a) + uint64_t(b)); break;
        case VMOPS_SUB: res.l = VmOps_Wrap64(uint64_t(a) - uint64_t(b)); break;
        case VMOPS_MUL: res.l = VmOps_Wrap64(uint64_t(a) * uint64_t(b)); break;
        case VMOPS_DIV:
        case VMOPS_REM:
            if (b == 0) return fail([&] { VmOps_DivZero(op, frame); });
            res.l = VmOps_Quot64(a, b);
            break;
        case VMOPS_MOD:
            if (b == 0) return fail([&] { VmOps_DivZero(op, frame); });
            res.l = VmOps_Rem64(a, b);
            break;
        case VMOPS_AND: res.l = a & b; break;
        case VMOPS_OR: res.l = a | b; break;
        case VMOPS_XOR: res.l = a ^ b; break;
        case VMOPS_SHL: res.l = VmOps_Shl64(a, b); break;
        case VMOPS_SHR:
            res.l = VmOps_Shr64(a, b);
            if (word & 0x8000u) res.l &= INT64_MAX;
            break;
        }
        return VmOps_Push(top, asValue, res);
    }

    // int32 with int32
    res.cls = VMC_I;
    const int32_t a = l.i, b = r.i;
    switch (op) {
    case VMOPS_ADD: res.i = VmOps_Wrap32(uint32_t(a) + uint32_t(b)); break;
    case VMOPS_SUB: res.i = VmOps_Wrap32(uint32_t(a) - uint32_t(b)); break;
    case VMOPS_MUL: res.i = VmOps_Wrap32(uint32_t(a) * uint32_t(b)); break;
    case VMOPS_DIV:
    case VMOPS_REM:
        if (b == 0) return fail([&] { VmOps_DivZero(op, frame); });
        res.i = VmOps_Quot32(a, b);
        break;
    case VMOPS_MOD:
        if (b == 0) return fail([&] { VmOps_DivZero(op, frame); });
        res.i = VmOps_Rem32(a, b);
        break;
    case VMOPS_AND: res.i = a & b; break;
    case VMOPS_OR: res.i = a | b; break;
    case VMOPS_XOR: res.i = a ^ b; break;
    case VMOPS_SHL: res.i = VmOps_Wrap32(uint32_t(a) << (uint32_t(b) & 31)); break;
    case VMOPS_SHR:
        res.i = a >> (uint32_t(b) & 31);
        if (word & 0x8000u) res.i &= INT32_MAX;
        break;
    }
    return VmOps_Push(top, asValue, res);
}

// ---- conversion helpers ----

float VmOps_ToFloat(double d)
{
    // Out of the float range the cast is undefined; the nearest float there is the infinity of that sign.
    if (std::isnan(d)) return std::numeric_limits<float>::quiet_NaN();
    if (d > double(std::numeric_limits<float>::max())) return std::numeric_limits<float>::infinity();
    if (d < -double(std::numeric_limits<float>::max())) return -std::numeric_limits<float>::infinity();
    return float(d);
}

// "%g" in the C locale whatever the process locale.
RefString* VmOps_FormatReal(double d)
{
    char scratch[64];
    if (std::isnan(d)) return RefString::Create(std::signbit(d) ? "-nan" : "nan");
    auto res = std::to_chars(scratch, scratch + sizeof scratch - 1, d, std::chars_format::general, 6);
    *res.ptr = '\0';
    return RefString::Create(scratch);
}

RefString* VmOps_FormatInt(int64_t v)
{
    char scratch[64];
    Text_FromInt64(scratch, sizeof scratch, v);
    return RefString::Create(scratch);
}

}  // namespace

uint8_t* DoMul(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame) { return VmOps_Binary(VMOPS_MUL, word, sp, frame); }
uint8_t* DoDiv(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame) { return VmOps_Binary(VMOPS_DIV, word, sp, frame); }
uint8_t* DoRem(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame) { return VmOps_Binary(VMOPS_REM, word, sp, frame); }
uint8_t* DoMod(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame) { return VmOps_Binary(VMOPS_MOD, word, sp, frame); }
uint8_t* DoAdd(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame) { return VmOps_Binary(VMOPS_ADD, word, sp, frame); }
uint8_t* DoSub(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame) { return VmOps_Binary(VMOPS_SUB, word, sp, frame); }
uint8_t* DoAnd(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame) { return VmOps_Binary(VMOPS_AND, word, sp, frame); }
uint8_t* DoOr(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame) { return VmOps_Binary(VMOPS_OR, word, sp, frame); }
uint8_t* DoXor(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame) { return VmOps_Binary(VMOPS_XOR, word, sp, frame); }
uint8_t* DoShl(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame) { return VmOps_Binary(VMOPS_SHL, word, sp, frame); }
uint8_t* DoShr(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame) { return VmOps_Binary(VMOPS_SHR, word, sp, frame); }

// ---- neg and not (one operand, in place) ----

uint8_t* DoNeg(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    const int32_t type = int32_t(word >> 16) & 15;
    const int32_t size = VM_StackItemSize(type);
    if (size == 0) {
        VmOps_Fail(frame, "DoNeg :: Execution Error");
        return sp;
    }
    if (!VmOps_Has(frame, sp, size, "DoNeg")) return sp;
    const int32_t variant = int32_t(word >> 8) & 15;
    if (variant != 0) {
        RValue v, n, result;
        VmOps_ItemValue(type, sp, &v);
        RValue_SetUndefined(&n);
        RValue_SetUndefined(&result);
        if (VmOps_IsUnset(&v)) {
            JS_ThrowReferenceError(variant == 1 ? "could not find lhs variable in unary-" : "could not find lhs variable in unary - #2");
        } else if (VmOps_ModelConverted(JS_ToNumber(&n, &v), "Unary - could not convert expr to a number")) {
            const double d = VmOps_ModelReal(&n);
            RValue_SetReal(&result, variant == 1 ? -d : d);
        }
        RValue_Free(&n);
        RValue_Free(&v);
        uint8_t* top = sp + size - 16;
        std::memcpy(top, &result, 16);
        return top;
    }
    switch (type) {
    case 0: {
        double d;
        std::memcpy(&d, sp, 8);
        d = -d;
        std::memcpy(sp, &d, 8);
        return sp;
    }
    case 1: {
        float f;
        std::memcpy(&f, sp, 4);
        f = -f;
        std::memcpy(sp, &f, 4);
        return sp;
    }
    case 2: {
        uint32_t u;
        std::memcpy(&u, sp, 4);
        u = 0u - u;
        std::memcpy(sp, &u, 4);
        return sp;
    }
    case 3: {
        uint64_t u;
        std::memcpy(&u, sp, 8);
        u = 0ull - u;
        std::memcpy(sp, &u, 8);
        return sp;
    }
    case 6:
        VmOps_FreeItem(6, sp);
        VmOps_Fail(frame, "DoNeg :: Execution Engine - Cannot operate on string type");
        return sp + 4;
    case 5: break;
    default:
        VmOps_Fail(frame, "DoNeg :: Execution Error");
        VmOps_FreeItem(type, sp);
        return sp + size;
    }
    RValue value = VmOps_LoadValue(sp);
    RValue* v = &value;
    switch (RValue_Kind(v)) {
    case VALUE_REAL:
    case VALUE_BOOL: v->real = -v->real; VmOps_StoreValue(sp, value); return sp;
    case VALUE_INT32: v->v32 = VmOps_Wrap32(0u - uint32_t(v->v32)); VmOps_StoreValue(sp, value); return sp;
    case VALUE_INT64: v->v64 = VmOps_Wrap64(0ull - uint64_t(v->v64)); VmOps_StoreValue(sp, value); return sp;
    default: break;
    }
    const char* text = "DoNeg :1: Malformed variable";
    switch (RValue_Kind(v)) {
    case VALUE_STRING: text = "DoNeg :1: Execution Engine - Cannot operate on string type"; break;
    case VALUE_ARRAY: text = "DoNeg :1: illegal array use"; break;
    case VALUE_PTR: text = "DoNeg :1: illegal pointer use"; break;
    case VALUE_UNDEFINED: text = "DoNeg :1: undefined value"; break;
    default: break;
    }
    VmOps_Fail(frame, text);
    RValue_Free(v);
    VmOps_StoreValue(sp, value);
    return sp + 16;
}

uint8_t* DoNot(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    const int32_t type = int32_t(word >> 16) & 15;
    const int32_t size = VM_StackItemSize(type);
    if (size == 0) {
        VmOps_Fail(frame, "DoNot :: Execution Error");
        return sp;
    }
    if (!VmOps_Has(frame, sp, size, "DoNot")) return sp;
    const int32_t variant = int32_t(word >> 8) & 15;
    if (variant != 0) {
        RValue v, n, result;
        VmOps_ItemValue(type, sp, &v);
        RValue_SetUndefined(&n);
        RValue_SetUndefined(&result);
        if (VmOps_IsUnset(&v)) {
            JS_ThrowReferenceError(variant == 1 ? "could not find lhs variable in logical not" : "could not find lhs variable in binary not");
        } else if (variant == 1) {
            RValue_SetBool(&result, !JS_ToBoolean(&v));
        } else if (VmOps_ModelConverted(JS_ToInt32(&n, &v), "Unary ~ could not convert expr to a number")) {
            RValue_SetReal(&result, double(int32_t(~VmOps_ModelBits(&n))));
        }
        RValue_Free(&n);
        RValue_Free(&v);
        uint8_t* top = sp + size - 16;
        std::memcpy(top, &result, 16);
        return top;
    }
    switch (type) {
    case 0: {
        double d;
        std::memcpy(&d, sp, 8);
        d = double(~Real_ToInt64(d));
        std::memcpy(sp, &d, 8);
        return sp;
    }
    case 1: {
        float f;
        std::memcpy(&f, sp, 4);
        f = float(~Real_ToInt32(double(f)));
        std::memcpy(sp, &f, 4);
        return sp;
    }
    case 2: {
        int32_t i = VmOps_I32(sp);
        i = ~i;
        std::memcpy(sp, &i, 4);
        return sp;
    }
    case 3: {
        int64_t l;
        std::memcpy(&l, sp, 8);
        l = ~l;
        std::memcpy(sp, &l, 8);
        return sp;
    }
    case 4: {
        int32_t b = VmOps_I32(sp) == 0 ? 1 : 0;
        std::memcpy(sp, &b, 4);
        return sp;
    }
    case 6:
        VmOps_FreeItem(6, sp);
        VmOps_Fail(frame, "DoNot :: Execution Engine - Cannot operate on string type");
        return sp + 4;
    case 5: break;
    default:
        VmOps_Fail(frame, "DoNot :: Execution Error");
        VmOps_FreeItem(type, sp);
        return sp + size;
    }
    RValue value = VmOps_LoadValue(sp);
    RValue* v = &value;
    switch (RValue_Kind(v)) {
    case VALUE_REAL:
    case VALUE_BOOL: v->real = double(~Real_ToInt64(v->real)); VmOps_StoreValue(sp, value); return sp;
    case VALUE_INT32: v->v32 = ~v->v32; VmOps_StoreValue(sp, value); return sp;
    case VALUE_INT64: v->v64 = ~v->v64; VmOps_StoreValue(sp, value); return sp;
    default: break;
    }
    const char* text = "DoNot :: Malformed variable";
    switch (RValue_Kind(v)) {
    case VALUE_STRING: text = "DoNot :: Execution Engine - Cannot operate on string type"; break;
    case VALUE_ARRAY: text = "DoNot :: illegal array use"; break;
    default: break;
    }
    VmOps_Fail(frame, text);
    RValue_Free(v);
    VmOps_StoreValue(sp, value);
    return sp + 16;
}

// ---- conv ----

uint8_t* DoConv(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame)
{
    const int32_t from = int32_t(word >> 16) & 15, to = int32_t(word >> 20) & 15;
    const int32_t variant = int32_t(word >> 8) & 15;
    if (variant == 0 && from == 2 && to == 5) return DoConvIntToVar(word, sp, operand, frame);
    const int32_t size = VM_StackItemSize(from);
    if (size == 0 || (variant == 0 && VM_StackItemSize(to) == 0)) {
        VmOps_Fail(frame, "DoConv :: Execution Error");
        return sp;
    }
    if (!VmOps_Has(frame, sp, size, "DoConv")) return sp;
    uint8_t* const top = sp + size;

    if (variant != 0) {
        RValue v;
        VmOps_ItemValue(from, sp, &v);
        if (VmOps_IsUnset(&v)) {
            JS_ThrowReferenceError("could not find lhs variable on conv");
            if (variant & 1) {  // the boolean form always leaves a 4-byte item
                const int32_t no = 0;
                std::memcpy(top - 4, &no, 4);
                return top - 4;
            }
            RValue undefined;
            RValue_SetUndefined(&undefined);
            std::memcpy(top - 16, &undefined, 16);
            return top - 16;
        }
        if (variant & 1) {
            int32_t b = JS_ToBoolean(&v) ? 1 : 0;
            RValue_Free(&v);
            std::memcpy(top - 4, &b, 4);
            return top - 4;
        }
        RValue n, result;
        RValue_SetUndefined(&n);
        RValue_SetUndefined(&result);
        if (VmOps_ModelConverted(JS_ToNumber(&n, &v), "DoConv - could not convert expr to a number"))
            RValue_SetReal(&result, VmOps_ModelReal(&n));
        RValue_Free(&n);
        RValue_Free(&v);
        std::memcpy(top - 16, &result, 16);
        return top - 16;
    }

    // Resolve the source to one of .d .i .l .b .s (a float keeps its own width until the end).
    int32_t src = from;
    double d = 0;
    int32_t i = 0;
    int64_t l = 0;
    RefString* s = nullptr;  // a reference this handler now holds
    switch (from) {
    case 0: std::memcpy(&d, sp, 8); break;
    case 1: {
        float f;
        std::memcpy(&f, sp, 4);
        d = double(f);
        break;
    }
    case 2:
    case 4: i = VmOps_I32(sp); break;
    case 3: std::memcpy(&l, sp, 8); break;
    case 6: {
        uint32_t handle;
        std::memcpy(&handle, sp, 4);
        s = VM_StringPeek(handle);
        if (s) ++s->refCount;  // held here; the handle goes back at once
        VM_StringRelease(handle);
        break;
    }
    case 5: {
        RValue value = VmOps_LoadValue(sp);
        RValue* v = &value;
        switch (RValue_Kind(v)) {
        case VALUE_REAL:
        case VALUE_BOOL: src = 0; d = v->real; break;
        case VALUE_INT32: src = 2; i = v->v32; break;
        case VALUE_INT64: src = 3; l = v->v64; break;
        case VALUE_STRING:
            src = 6;
            s = v->str;  // the reference moves here
            RValue_SetUndefined(v);
            VmOps_StoreValue(sp, value);
            break;
        case VALUE_UNDEFINED:
        case VALUE_NULL: src = 4; i = 0; break;
        case VALUE_UNSET:
            // The throw is pending; the item converts as false so that the stack keeps its shape.
            JS_ThrowReferenceError("DoConv :1: Could not find variable");
            src = 4;
            break;
        default: {
            const uint32_t kind = RValue_Kind(v);
            RValue_Free(v);
            VmOps_StoreValue(sp, value);
            VmOps_Fail(frame, kind == VALUE_ARRAY ? "DoConv :1: illegal array use"
                              : kind == VALUE_PTR ? "DoConv :1: illegal pointer use"
                                                  : "DoConv :1: Malformed variable");
            return top;
        }
        }
        break;
    }
    default: break;
    }
    const char* text = s && s->text ? s->text : "";

    uint8_t* out = top - VM_StackItemSize(to);
    switch (to) {
    case 0:
    case 1: {
        double r = 0;
        switch (src) {
        case 0:
        case 1: r = d; break;
        case 2: r = double(i); break;
        case 3: r = double(l); break;
        case 4: r = i != 0 ? 1.0 : 0.0; break;
        case 6: r = Text_ToReal(text); break;
        }
        if (to == 0) {
            std::memcpy(out, &r, 8);
        } else {
            float f = VmOps_ToFloat(r);
            std::memcpy(out, &f, 4);
        }
        break;
    }
    case 2: {
        int32_t r = 0;
        switch (src) {
        case 0:
        case 1: r = Real_ToInt32(d); break;
        case 2: r = i; break;
        case 3: r = int32_t(uint32_t(uint64_t(l))); break;
        case 4: r = i != 0 ? 1 : 0; break;
        case 6: r = Text_ToInt32(text); break;
        }
        std::memcpy(out, &r, 4);
        break;
    }
    case 3: {
        int64_t r = 0;
        switch (src) {
        case 0:
        case 1: r = Real_ToInt64(d); break;
        case 2: r = i; break;
        case 3: r = l; break;
        case 4: r = i != 0 ? 1 : 0; break;
        case 6: r = Text_ToInt32(text); break;
        }
        std::memcpy(out, &r, 8);
        break;
    }
    case 4: {
        int32_t r = 0;
        switch (src) {
        case 0:
        case 1: r = d > 0.5 ? 1 : 0; break;
        case 2: r = i > 0 ? 1 : 0; break;
        case 3: r = l > 0 ? 1 : 0; break;
        case 4: r = i != 0 ? 1 : 0; break;
        case 6: r = std::strcmp(text, "true") == 0 ? 1 : 0; break;
        }
        std::memcpy(out, &r, 4);
        break;
    }
    case 5: {
        RValue v;
        switch (src) {
        case 0:
        case 1: RValue_SetReal(&v, d); break;
        case 2: RValue_SetReal(&v, double(i)); break;
        case 3: RValue_SetInt64(&v, l); break;
        case 4: RValue_SetBool(&v, i != 0); break;
        case 6:
            VmOps_StringValue(&v, s ? s : RefString::Create(""));
            s = nullptr;
            break;
        }
        std::memcpy(out, &v, 16);
        break;
    }
    case 6: {
        RefString* r = nullptr;
        switch (src) {
        case 0:
        case 1: r = VmOps_FormatReal(d); break;
        case 2: r = VmOps_FormatInt(i); break;
        case 3: r = VmOps_FormatInt(l); break;
        case 4: r = RefString::Create(i != 0 ? "true" : "false"); break;
        case 6:
            r = s;
            s = nullptr;
            break;
        }
        uint32_t handle = VM_StringAdd(r);
        std::memcpy(out, &handle, 4);
        break;
    }
    }
    RefString::ReleaseChecked(s);
    return out;
}

// ---- set ----

namespace {

// Compares two resolved operands: -1, 0 or 1; 2 for pairs that are only unequal; 3 for a NaN difference.
int32_t VmOps_Compare(const VmOpsArg& l, const VmOpsArg& r, double eps)
{
    const int32_t lc = l.cls, rc = r.cls;
    if (lc == VMC_U || rc == VMC_U) return lc == rc ? 0 : 2;
    if (lc == VMC_S && rc == VMC_S) {
        const bool lm = !l.s || !l.s->text, rm = !r.s || !r.s->text;
        if (lm || rm) {
            // A missing text equals an empty or missing one and sorts after any other.
            const bool le = lm || l.s->text[0] == '\0', re = rm || r.s->text[0] == '\0';
            if (le && re) return 0;
            return lm ? 1 : -1;
        }
        const int c = std::strcmp(l.s->text, r.s->text);  // unsigned bytes, as the C library compares
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    if (lc == VMC_P && rc == VMC_P) return l.p < r.p ? -1 : l.p > r.p ? 1 : 0;
    // A bool against a string: the string counts as 1 when it holds a reference.
    auto numeric = [](const VmOpsArg& a, const VmOpsArg& other, int64_t* iv, double* dv, bool* real) {
        *real = false;
        switch (a.cls) {
        case VMC_D: *real = true; *dv = a.d; return true;
        case VMC_I:
        case VMC_B: *iv = a.i; return true;
        case VMC_L: *iv = a.l; return true;
        case VMC_P: *iv = int64_t(a.p); return true;
        case VMC_S:
            if (other.cls != VMC_B) return false;
            *iv = a.s ? 1 : 0;
            return true;
        default: return false;
        }
    };
    int64_t li = 0, ri = 0;
    double ld = 0, rd = 0;
    bool lr, rr;
    if (!numeric(l, r, &li, &ld, &lr) || !numeric(r, l, &ri, &rd, &rr)) return 2;
    if (lr || rr) {
        double diff = (lr ? ld : double(li)) - (rr ? rd : double(ri));
        // A real against a bool: the difference truncated toward zero.
        if ((lc == VMC_B) != (rc == VMC_B)) diff = std::trunc(diff);
        if (std::isnan(diff)) return 3;
        if (diff < -eps) return -1;
        if (diff > eps) return 1;
        return 0;
    }
    // Integers compare exactly (a wrapped difference would order INT32_MIN above 1).
    return li < ri ? -1 : li > ri ? 1 : 0;
}

bool VmOps_SetResult(int32_t kind, int32_t c)
{
    if (c == 3) return false;      // a NaN: every kind is false
    if (c == 2) return kind == 4;  // unlike classes: only not-equal holds
    switch (kind) {
    case 1: return c < 0;
    case 2: return c <= 0;
    case 3: return c == 0;
    case 4: return c != 0;
    case 5: return c >= 0;
    default: return c > 0;
    }
}

// Model comparisons (kinds 7 to 15), the result a ".b" (false after a throw).
bool VmOps_ModelSet(int32_t kind, RValue* l, RValue* r)
{
    RValue result;
    RValue_SetUndefined(&result);
    bool out = false;
    switch (kind) {
    case 7:
    case 8:
    case 9:
    case 10: {
        if (VmOps_IsUnset(l) || VmOps_IsUnset(r)) {
            JS_ThrowReferenceError("could not find lhs variable on assignment");
            return false;
        }
        // less: L < R; greater: R < L; less or equal: not (R < L); greater or equal: not (L < R).
        const bool swap = kind == 8 || kind == 9;
        const int32_t status = swap ? JS_LessThan(&result, r, l, false) : JS_LessThan(&result, l, r, true);
        if (status != 0) break;
        const bool undefined = RValue_Kind(&result) == VALUE_UNDEFINED;
        RValue copy = result;
        const bool truth = !undefined && RValue_ToReal(&copy) != 0.0;
        out = (kind == 7 || kind == 8) ? truth : (!undefined && !truth);
        break;
    }
    case 11: {
        if (VmOps_IsUnset(l)) {
            JS_ThrowReferenceError("could not find variable before 'in'");
            return false;
        }
        if (VmOps_IsUnset(r)) {
            JS_ThrowReferenceError("could not find variable after 'in'");
            return false;
        }
        if (RValue_Kind(r) != VALUE_OBJECT) {
            JS_ThrowTypeError("right-hand side of in operator must be an object");
            return false;
        }
        RValue name;
        RValue_SetUndefined(&name);
        if (VmOps_ModelConverted(JS_ToString(&name, l), "could not convert left-hand side of in operator to a string")) {
            const char* text = RValue_Kind(&name) == VALUE_STRING && name.str && name.str->text ? name.str->text : "";
            JS_GetProperty(r->obj, &result, text);
            out = RValue_Kind(&result) != VALUE_UNSET;
        }
        RValue_Free(&name);
        break;
    }
    case 12:
    case 13:
        if (VmOps_IsUnset(l)) {
            JS_ThrowReferenceError("could not find variable before comparison");
            return false;
        }
        if (VmOps_IsUnset(r)) {
            JS_ThrowReferenceError("could not find variable after comparison");
            return false;
        }
        if (JS_Equals(&result, l, r) != 0) break;
        {
            RValue copy = result;
            out = (RValue_ToReal(&copy) != 0.0) == (kind == 12);
        }
        break;
    default:
        if (VmOps_IsUnset(l)) {
            JS_ThrowReferenceError(kind == 14 ? "could not find variable before '==='" : "could not find variable before '!=='");
            return false;
        }
        if (VmOps_IsUnset(r)) {
            JS_ThrowReferenceError(kind == 14 ? "could not find variable after '==='" : "could not find variable after '!=='");
            return false;
        }
        out = JS_StrictEquals(l, r) == (kind == 14);
        break;
    }
    RValue_Free(&result);
    return out;
}

const char* VmOps_SetKindText(int32_t side)
{
    return side == 1 ? "DoSet :1: Malformed variable" : "DoSet :2: Malformed variable";
}

}  // namespace

uint8_t* DoSet(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    const int32_t t1 = int32_t(word >> 16) & 15, t2 = int32_t(word >> 20) & 15;
    const int32_t kind = int32_t(word >> 8) & 15;
    VmOpsArg r, l;
    r.size = VM_StackItemSize(t1);
    l.size = VM_StackItemSize(t2);
    if (r.size == 0 || l.size == 0) {
        VmOps_Fail(frame, "DoSet :: Execution Error");
        return sp;
    }
    if (!VmOps_Has(frame, sp, r.size + l.size, "DoSet")) return sp;
    uint8_t* const top = sp + r.size + l.size;
    if (kind == 0) {
        VmOps_Fail(frame, "DoSet :: Execution Error");
        VmOps_FreeItem(t1, sp);
        VmOps_FreeItem(t2, sp + r.size);
        return top;
    }
    int32_t answer = 0;
    double a, b;
    if (kind < 7 && (t1 == 5 || t2 == 5) && VM_ItemReal(t1, sp, &b) && VM_ItemReal(t2, sp + r.size, &a)) {
        // Numbers of the common kinds: the difference against the tolerance, no release needed.
        const double diff = a - b, e = Math_Epsilon;
        bool out = false;
        if (!std::isnan(diff)) {
            switch (kind) {
            case 1: out = diff < -e; break;
            case 2: out = diff <= e; break;
            case 3: out = diff >= -e && diff <= e; break;
            case 4: out = diff < -e || diff > e; break;
            case 5: out = diff >= -e; break;
            default: out = diff > e; break;
            }
        }
        answer = out ? 1 : 0;
    } else if (kind >= 7) {
        RValue lv, rv;
        VmOps_ItemValue(t1, sp, &rv);
        VmOps_ItemValue(t2, sp + r.size, &lv);
        answer = VmOps_ModelSet(kind, &lv, &rv) ? 1 : 0;
        RValue_Free(&lv);
        RValue_Free(&rv);
    } else {
        VmOps_Read(t1, sp, &r, true);
        VmOps_Read(t2, sp + r.size, &l, true);
        if (r.cls == VMC_BAD || l.cls == VMC_BAD) {
            VmOps_Fail(frame, VmOps_SetKindText(r.cls == VMC_BAD ? 1 : 2));
            VmOps_Free(r);
            VmOps_Free(l);
            return top;
        }
        answer = VmOps_SetResult(kind, VmOps_Compare(l, r, Math_Epsilon)) ? 1 : 0;
        VmOps_Free(r);
        VmOps_Free(l);
    }
    std::memcpy(top - 4, &answer, 4);
    return top - 4;
}
