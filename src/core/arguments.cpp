#include "core/arguments.h"

#include "core/convert.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/interpreter.h"
#include "core/value.h"
#include "script/script.h"

#include <cmath>
#include <limits>

namespace {

const char* Arguments_CurrentName()
{
    const char* name = Function_Name(Function_Current);
    return name ? name : "<unknown>";
}

void Arguments_KindError(const RValue* arg, int32_t index, const char* expecting)
{
    RuntimeError("%s argument %d incorrect type (%d) expecting a %s", Arguments_CurrentName(), index + 1,
                 int(RValue_Kind(arg)), expecting);
}

// Strings and objects read as numbers the script object model's way; what cannot be read is NaN.
double Arguments_ToNumber(const RValue* arg)
{
    RValue number;
    RValue_SetReal(&number, std::numeric_limits<double>::quiet_NaN());
    double d = std::numeric_limits<double>::quiet_NaN();
    if (JS_ToNumber(&number, arg) == 0 && RValue_Kind(&number) == VALUE_REAL) d = number.real;
    RValue_Free(&number);
    return d;
}

double Arguments_Finite(double d) { return std::isfinite(d) ? d : 0.0; }

const RValue kArgumentsMissing = {{0.0}, 0, VALUE_UNDEFINED};

// The argument at index. Past the end of the running built-in's block (args may point anywhere inside it),
// and at a negative index, it is missing and reads as undefined, whatever the handler assumed.
const RValue* Arguments_At(const RValue* args, int32_t index)
{
    const uintptr_t offset = reinterpret_cast<uintptr_t>(args) - reinterpret_cast<uintptr_t>(Function_CurrentArgs);
    const uintptr_t blockBytes = uintptr_t(uint32_t(Function_CurrentArgCount)) * sizeof(RValue);
    if (index < 0 || !args) return &kArgumentsMissing;
    if (offset <= blockBytes && uintptr_t(index) * sizeof(RValue) >= blockBytes - offset) return &kArgumentsMissing;
    return args + index;
}

}  // namespace

intptr_t GetArgPtrOrNumber(RValue* args, int32_t index)
{
    const RValue* arg = Arguments_At(args, index);
    switch (RValue_Kind(arg)) {
    case VALUE_REAL: return static_cast<intptr_t>(Real_ToInt64(arg->real));
    case VALUE_INT32: return arg->v32;
    case VALUE_INT64: return static_cast<intptr_t>(arg->v64);
    case VALUE_PTR: return reinterpret_cast<intptr_t>(arg->ptr);
    default:
        Arguments_KindError(arg, index, "Number or Pointer");
        return -1;
    }
}

bool QZGB(RValue* args, int32_t index)
{
    const RValue* arg = Arguments_At(args, index);
    switch (RValue_Kind(arg)) {
    case VALUE_REAL: return arg->real > 0.5;
    case VALUE_BOOL: return arg->real != 0.0;
    case VALUE_INT32: return arg->v32 > 0;
    case VALUE_INT64: return arg->v64 > 0;
    default:
        Arguments_KindError(arg, index, "Number (QZGB)");
        return false;
    }
}

int32_t QZGI32(RValue* args, int32_t index)
{
    const RValue* arg = Arguments_At(args, index);
    switch (RValue_Kind(arg)) {
    case VALUE_REAL:
    case VALUE_BOOL: return Real_ToInt32(Arguments_Finite(arg->real));
    case VALUE_STRING:
    case VALUE_OBJECT: return Real_ToInt32(Arguments_Finite(Arguments_ToNumber(arg)));
    case VALUE_INT32: return arg->v32;
    case VALUE_INT64: return static_cast<int32_t>(static_cast<uint32_t>(arg->v64));
    default:
        Arguments_KindError(arg, index, "Number (QZGI32)");
        return 0;
    }
}

uint32_t QZGU32(RValue* args, int32_t index)
{
    const RValue* arg = Arguments_At(args, index);
    switch (RValue_Kind(arg)) {
    case VALUE_REAL:
    case VALUE_BOOL: return Real_ToUInt32Wrap(Arguments_Finite(arg->real));
    case VALUE_STRING:
    case VALUE_OBJECT: return Real_ToUInt32Wrap(Arguments_Finite(Arguments_ToNumber(arg)));
    case VALUE_INT32: return static_cast<uint32_t>(arg->v32);
    case VALUE_INT64: return static_cast<uint32_t>(arg->v64);
    default:
        Arguments_KindError(arg, index, "Number (QZGU32)");
        return 0;
    }
}

int64_t GetArgInt64(RValue* args, int32_t index)
{
    const RValue* arg = Arguments_At(args, index);
    switch (RValue_Kind(arg)) {
    case VALUE_REAL:
    case VALUE_BOOL: return Real_ToInt64(Arguments_Finite(arg->real));
    case VALUE_STRING:
    case VALUE_OBJECT: return Real_ToInt64(Arguments_Finite(Arguments_ToNumber(arg)));
    case VALUE_INT32: return arg->v32;
    case VALUE_INT64: return arg->v64;
    default:
        RuntimeError("%s argument %d incorrect type expecting a Number", Arguments_CurrentName(), index + 1);
        return 0;
    }
}

double QZGR(RValue* args, int32_t index)
{
    const RValue* arg = Arguments_At(args, index);
    switch (RValue_Kind(arg)) {
    case VALUE_REAL:
    case VALUE_BOOL: return arg->real;
    case VALUE_STRING:
    case VALUE_OBJECT: return Arguments_ToNumber(arg);
    case VALUE_INT32: return arg->v32;
    case VALUE_INT64: return static_cast<double>(arg->v64);
    default:
        Arguments_KindError(arg, index, "Number (QZGR)");
        return 0.0;
    }
}

float QZGF(RValue* args, int32_t index)
{
    const RValue* arg = Arguments_At(args, index);
    double d;
    switch (RValue_Kind(arg)) {
    case VALUE_REAL:
    case VALUE_BOOL: d = Arguments_Finite(arg->real); break;
    case VALUE_INT32: d = arg->v32; break;
    case VALUE_INT64: d = static_cast<double>(arg->v64); break;
    default:
        Arguments_KindError(arg, index, "Number (QZGF)");
        return 0.0f;
    }
    // Beyond the float range the cast is undefined; IEEE rounding gives the infinity of that sign.
    if (std::fabs(d) > std::numeric_limits<float>::max())
        return d > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

const char* QZGS(RValue* args, int32_t index)
{
    const RValue* arg = Arguments_At(args, index);
    switch (RValue_Kind(arg)) {
    case VALUE_STRING: return arg->str ? arg->str->text : nullptr;
    case VALUE_OBJECT: return nullptr;
    default:
        Arguments_KindError(arg, index, "String (QZGS)");
        return nullptr;
    }
}
