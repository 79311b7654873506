// Arithmetic compound assignments and increments that compiled game code applies to values.
#include <cstdint>

#include "core/error.h"
#include "core/value.h"

namespace {

enum class ValueOp { Div, Mul, Sub };

const char* ValueOp_Text(ValueOp op)
{
    switch (op) {
    case ValueOp::Div: return "/=";
    case ValueOp::Mul: return "*=";
    case ValueOp::Sub: return "-=";
    }
    return "";
}

// Integer arithmetic wraps (done unsigned: signed overflow is undefined). Division by zero is reported and
// leaves the left operand as it was; the minimum divided by -1 wraps to the minimum.
template <class Int, class UInt>
bool ValueOp_Integer(ValueOp op, Int left, Int right, Int* out)
{
    switch (op) {
    case ValueOp::Div:
        if (right == 0) {
            RuntimeError("DoDiv :: Divide by zero");
            return false;
        }
        *out = right == -1 ? static_cast<Int>(UInt(0) - static_cast<UInt>(left)) : static_cast<Int>(left / right);
        return true;
    case ValueOp::Mul:
        *out = static_cast<Int>(static_cast<UInt>(left) * static_cast<UInt>(right));
        return true;
    case ValueOp::Sub:
        *out = static_cast<Int>(static_cast<UInt>(left) - static_cast<UInt>(right));
        return true;
    }
    return false;
}

double ValueOp_Real(ValueOp op, double left, double right)
{
    switch (op) {
    case ValueOp::Div: return left / right;
    case ValueOp::Mul: return left * right;
    case ValueOp::Sub: return left - right;
    }
    return left;
}

void ValueOp_Binary(ValueOp op, RValue* result, RValue* value, RValue* right)
{
    RValue temp;
    RValue_SetReal(&temp, 0.0);
    RValue_Copy(&temp, value);
    switch (RValue_Kind(&temp)) {
    case VALUE_REAL:
    case VALUE_BOOL:
        temp.real = ValueOp_Real(op, temp.real, RValue_ToReal(right));
        break;
    case VALUE_INT32: {
        int32_t out;
        if (ValueOp_Integer<int32_t, uint32_t>(op, temp.v32, RValue_ToInt32(right), &out)) temp.v32 = out;
        break;
    }
    case VALUE_INT64: {
        int64_t out;
        if (ValueOp_Integer<int64_t, uint64_t>(op, temp.v64, RValue_ToInt64(right), &out)) temp.v64 = out;
        break;
    }
    default:
        RValue_TypeError(ValueOp_Text(op), &temp, right);
        break;
    }
    RValue_SetReal(result, 0.0);
    RValue_Copy(result, &temp);
    RValue_Free(&temp);
}

void ValueOp_WithNumber(ValueOp op, RValue* result, RValue* value, double right)
{
    RValue wrapped;
    RValue_SetReal(&wrapped, right);
    ValueOp_Binary(op, result, value, &wrapped);
    RValue_Free(&wrapped);
}

}  // namespace

void RValue_Div(RValue* result, RValue* value, RValue* divisor) { ValueOp_Binary(ValueOp::Div, result, value, divisor); }

void RValue_DivReal(RValue* result, RValue* value, double divisor)
{
    ValueOp_WithNumber(ValueOp::Div, result, value, divisor);
}

void RValue_MulInt(RValue* result, RValue* value, int32_t factor)
{
    ValueOp_WithNumber(ValueOp::Mul, result, value, factor);
}

void RValue_SubInt(RValue* result, RValue* value, int32_t amount)
{
    ValueOp_WithNumber(ValueOp::Sub, result, value, amount);
}

void RValue_AddInt(RValue* result, RValue* value, int32_t amount)
{
    RValue temp;
    RValue_SetReal(&temp, 0.0);
    RValue_Copy(&temp, value);
    // The whole kind word decides here: a value with stray upper bits passes through unchanged.
    switch (temp.kind) {
    case VALUE_REAL:
    case VALUE_BOOL:
        temp.real += amount;
        break;
    case VALUE_INT32:
        temp.v32 = static_cast<int32_t>(static_cast<uint32_t>(temp.v32) + static_cast<uint32_t>(amount));
        break;
    case VALUE_INT64:
        temp.v64 = static_cast<int64_t>(static_cast<uint64_t>(temp.v64) + static_cast<uint64_t>(int64_t(amount)));
        break;
    case VALUE_STRING:
        RuntimeError("unable to add a number to string");
        break;
    default:
        break;
    }
    RValue_SetReal(result, 0.0);
    RValue_Copy(result, &temp);
    RValue_Free(&temp);
}

void RValue_PostIncrement(RValue* value, RValue* result)
{
    RValue_SetReal(result, 0.0);
    RValue_Copy(result, value);
    switch (RValue_Kind(value)) {
    case VALUE_REAL:
    case VALUE_BOOL:
        value->real += 1.0;
        break;
    case VALUE_INT32:
        value->v32 = static_cast<int32_t>(static_cast<uint32_t>(value->v32) + 1u);
        break;
    case VALUE_INT64:
        value->v64 = static_cast<int64_t>(static_cast<uint64_t>(value->v64) + 1u);
        break;
    default:
        RValue_TypeError("++", value, value);
        break;
    }
}

void RValue_TypeError(const char* operation, RValue* left, RValue* right)
{
    GrowText leftText, rightText;
    RValueText(&leftText, left);
    RValueText(&rightText, right);
    RuntimeError("invalid type for %s lhs=%s (type=%d), rhs=%s (type=%d)", operation,
                 leftText.text ? leftText.text : "", static_cast<int>(RValue_Kind(left)),
                 rightText.text ? rightText.text : "", static_cast<int>(RValue_Kind(right)));
    GrowText_Free(&leftText);
    GrowText_Free(&rightText);
}
