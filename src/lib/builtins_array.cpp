// Kind tests and the array built-ins: measuring, reading and writing script arrays by packed index.
#include "core/arguments.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/value.h"
#include "lib/builtins_internal.h"

#include <climits>

namespace {

template <uint32_t Kind>
void F_IsKind(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    // The whole kind word: no conversion, no masking.
    RValue_SetReal(result, Builtin_Arg(args, argc, 0)->kind == Kind ? 1.0 : 0.0);
}

// The array argument 0 holds, or null when it holds none (or the call gave none).
RValue* ArrayArg(RValue* args, int32_t argc)
{
    RValue* a = const_cast<RValue*>(Builtin_Arg(args, argc, 0));
    return RValue_Kind(a) == VALUE_ARRAY && a->arr ? a : nullptr;
}

// A packed index that fits in 32 bits; anything else addresses no element (a negative column). The
// whole-value index stands for no element either: a built-in never hands out or replaces the array itself.
int32_t PackedIndex(int64_t packed)
{
    if (packed <= INT32_MIN || packed > INT32_MAX) return -1;
    return int32_t(packed);
}

int32_t PackedIndex2D(int32_t row, int32_t column)
{
    return PackedIndex(int64_t(row) * ARRAY_INDEX_STRIDE + column);
}

void F_ArrayLength1D(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue* a = ArrayArg(args, argc);
    RValue_SetReal(result, a && a->arr->rowCount > 0 ? a->arr->rows[0].length : 0);
}

void F_ArrayLength2D(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue* a = ArrayArg(args, argc);
    const int32_t n = QZGI32(args, 1);
    RValue_SetReal(result, a && n >= 0 && n < a->arr->rowCount ? a->arr->rows[n].length : 0);
}

void F_ArrayHeight2D(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue* a = ArrayArg(args, argc);
    RValue_SetReal(result, argc == 1 && a ? a->arr->rowCount : 0);
}

void F_ArrayGet(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue* a = ArrayArg(args, argc);
    const int32_t index = PackedIndex(QZGI32(args, 1));
    if (!a || Builtin_Failed()) {
        RValue_SetUndefined(result);
        return;
    }
    if (!RValue_ArrayGet(result, a, index))
        RuntimeError("array_get :: Index [%d,%d] out of range [%d,%d]", ArrayIndexError.row, ArrayIndexError.column,
                     ArrayIndexError.rowCount, ArrayIndexError.rowLength);
}

enum class SetResult { Zero, New, Old };

template <SetResult Form>
void F_ArraySet(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    const RValue* held = Builtin_Arg(args, argc, 0);
    RValue* a = ArrayArg(args, argc);
    const int32_t index = PackedIndex(QZGI32(args, 1));
    if (Builtin_Failed()) return;
    if (RValue_Kind(held) != VALUE_ARRAY) {
        RuntimeError("array_set :: argument 0 is not an array");
        return;
    }
    if (argc != 3 || !a) {
        RuntimeError("array_set :: takes 3 arguments");
        return;
    }
    RValue_ArraySet(a, &args[2], index);
    if (Form == SetResult::New) RValue_Copy(result, &args[2]);
    else RValue_SetReal(result, 0);
}

void F_ArraySetPost(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue* held = const_cast<RValue*>(Builtin_Arg(args, argc, 0));
    const int32_t index = PackedIndex(QZGI32(args, 1));
    if (Builtin_Failed()) return;
    RValue_ArrayGet(result, held, index);  // a non-array reports here
    // Without a value to write (fewer than three arguments) the call only reads.
    if (RValue_Kind(held) != VALUE_ARRAY || !held->arr || argc < 3) return;
    RValue_ArraySet(held, &args[2], index);
}

void F_ArrayGet2D(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue* a = ArrayArg(args, argc);
    const int32_t row = QZGI32(args, 1);
    const int32_t column = QZGI32(args, 2);
    if (argc != 3 || !a) {
        RValue_SetReal(result, 0);
        return;
    }
    RValue_ArrayGet(result, a, PackedIndex2D(row, column));  // out of range: 0, no report
}

template <SetResult Form>
void F_ArraySet2D(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    const RValue* held = Builtin_Arg(args, argc, 0);
    RValue* a = ArrayArg(args, argc);
    const int32_t row = QZGI32(args, 1);
    const int32_t column = QZGI32(args, 2);
    if (Builtin_Failed()) return;
    if (RValue_Kind(held) != VALUE_ARRAY) {
        RuntimeError("array_set_2d :: argument 0 is not an array");
        return;
    }
    if (argc != 4 || !a) {
        RuntimeError("array_set_2d :: takes 4 arguments");
        return;
    }
    const int32_t index = PackedIndex2D(row, column);
    if (Form == SetResult::Old) RValue_ArrayGet(result, a, index);
    RValue_ArraySet(a, &args[3], index);
    if (Form == SetResult::New) RValue_Copy(result, &args[3]);
    else if (Form == SetResult::Zero) RValue_SetReal(result, 0);
}

}  // namespace

void BuiltinsArray_RegisterKindTests()
{
    Function_Add("is_bool", F_IsKind<VALUE_BOOL>, 1, false);
    Function_Add("is_real", F_IsKind<VALUE_REAL>, 1, false);
    Function_Add("is_string", F_IsKind<VALUE_STRING>, 1, false);
    Function_Add("is_array", F_IsKind<VALUE_ARRAY>, 1, false);
    Function_Add("is_undefined", F_IsKind<VALUE_UNDEFINED>, 1, false);
    Function_Add("is_int32", F_IsKind<VALUE_INT32>, 1, false);
    Function_Add("is_int64", F_IsKind<VALUE_INT64>, 1, false);
    Function_Add("is_ptr", F_IsKind<VALUE_PTR>, 1, false);
    Function_Add("is_vec3", F_IsKind<VALUE_VEC3>, 1, false);
    Function_Add("is_vec4", F_IsKind<VALUE_VEC4>, 1, false);
    Function_Add("is_matrix", F_IsKind<VALUE_MATRIX>, 1, false);
}

void BuiltinsArray_RegisterArrays()
{
    Function_Add("array_length_1d", F_ArrayLength1D, 1, false);
    Function_Add("array_length_2d", F_ArrayLength2D, 2, false);
    Function_Add("array_height_2d", F_ArrayHeight2D, 1, false);
    Function_Add("array_get", F_ArrayGet, 2, false);
    Function_Add("array_set", F_ArraySet<SetResult::Zero>, 3, false);
    Function_Add("array_set_pre", F_ArraySet<SetResult::New>, 3, false);
    Function_Add("array_set_post", F_ArraySetPost, 3, false);
    Function_Add("array_get_2D", F_ArrayGet2D, 3, false);
    Function_Add("array_set_2D", F_ArraySet2D<SetResult::Zero>, 4, false);
    Function_Add("array_set_2D_pre", F_ArraySet2D<SetResult::New>, 4, false);
    Function_Add("array_set_2D_post", F_ArraySet2D<SetResult::Old>, 4, false);
}
