// What the getters and setters of the built-in variables share: how a written value is converted, the
// index clamps and the boolean rules. Every conversion of an untrusted real goes through the checked
// helpers, so NaN, infinities and huge values never reach a raw cast.
#pragma once
#include <cmath>
#include <cstdint>

#include "core/convert.h"
#include "core/value.h"
#include "core/variables.h"

struct CInstance;

// The whole-value index of an unindexed access, and indexes outside 0 .. n-1, mean element 0.
inline int32_t BV_Index(int32_t index, int32_t n) { return index < 0 || index >= n ? 0 : index; }

inline double BV_Real(RValue* v) { return RValue_ToReal(v); }
inline float BV_Float(RValue* v) { return float(RValue_ToReal(v)); }
// Nearest integer, halves to even.
inline int32_t BV_Int(RValue* v) { return Real_ToInt32Round(RValue_ToReal(v)); }
// Instance integer fields round through single precision first.
inline int32_t BV_IntViaFloat(RValue* v) { return Real_ToInt32Round(double(float(RValue_ToReal(v)))); }
// Rule 1: rounds to 1 or more. Rule 2: rounds (through single precision) to anything but 0. Rounded as
// reals, so that a huge value is not mistaken for the integer conversion's out-of-range answer.
inline bool BV_Rule1(RValue* v) { return std::nearbyint(RValue_ToReal(v)) >= 1.0; }
inline bool BV_Rule2(RValue* v) { return std::nearbyint(double(float(RValue_ToReal(v)))) != 0.0; }
// Rule 3: 0.5 or more. Rule 4: above 0.5, unrounded.
inline bool BV_Rule3(RValue* v) { return RValue_ToReal(v) >= 0.5; }
inline bool BV_Rule4(RValue* v) { return RValue_ToReal(v) > 0.5; }

// Getters overwrite the out value; only those that may hand out strings or arrays release it first.
inline bool BV_Out(RValue* out, double d)
{
    RValue_SetReal(out, d);
    return true;
}
inline bool BV_OutString(RValue* out, const char* text)
{
    RValue_CreateString(out, text);
    out->flags = 0;
    return true;
}

// A shared text handed out by reference (the empty string when there is none).
inline bool BV_OutShared(RValue* out, RefString* text)
{
    if (!text) return BV_OutString(out, "");
    ++text->refCount;
    out->str = text;
    out->flags = 0;
    out->kind = VALUE_STRING;
    return true;
}
// The holder takes a reference to a string value's text and lets go of its old one. Anything but a string
// leaves the text as it is: these variables always hold text.
inline bool BV_TakeShared(RefString** holder, RValue* value)
{
    if (RValue_Kind(value) != VALUE_STRING || !value->str) return true;
    ++value->str->refCount;
    RefString::ReleaseChecked(*holder);
    *holder = value->str;
    return true;
}

// The text of a string value; null for any other kind.
inline const char* BV_Text(const RValue* v)
{
    return RValue_Kind(v) == VALUE_STRING && v->str ? v->str->text : nullptr;
}

// The per-instance variables (builtin_vars_instance.cpp) and the room, background, view and score
// variables (builtin_vars_room.cpp) that InitGlobalVariables registers in its order.
struct BV_Entry {
    const char* name;
    BuiltinVariableGetter getter;
    BuiltinVariableSetter setter;  // null: read-only
};
// The room file's variables; InitGlobalVariables registers them among the others in the fixed order.
extern const BV_Entry BV_RoomEntries[];
extern const int32_t BV_RoomEntryCount;
