// Arithmetic, logic, comparison and conversion operations of the interpreter. Until they are built they
// raise "<handler> :: Execution Error" so that a program using them stops instead of misbehaving.
#include "core/error.h"
#include "core/vm.h"

#define KV_VM_OPS_PENDING(name)                                       \
    uint8_t* name(uint32_t, uint8_t* sp, uint8_t*, VMFrame* frame)   \
    {                                                                 \
        VMError(frame, "%s :: Execution Error", #name);               \
        VM_StopFrame(frame);                                          \
        return sp;                                                    \
    }

KV_VM_OPS_PENDING(DoMul)
KV_VM_OPS_PENDING(DoDiv)
KV_VM_OPS_PENDING(DoRem)
KV_VM_OPS_PENDING(DoMod)
KV_VM_OPS_PENDING(DoAdd)
KV_VM_OPS_PENDING(DoSub)
KV_VM_OPS_PENDING(DoAnd)
KV_VM_OPS_PENDING(DoOr)
KV_VM_OPS_PENDING(DoXor)
KV_VM_OPS_PENDING(DoNeg)
KV_VM_OPS_PENDING(DoNot)
KV_VM_OPS_PENDING(DoShl)
KV_VM_OPS_PENDING(DoShr)
KV_VM_OPS_PENDING(DoSet)

#undef KV_VM_OPS_PENDING

uint8_t* DoConv(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame)
{
    if ((word & 0x0F00u) == 0 && ((word >> 16) & 0xFF) == 0x52) return DoConvIntToVar(word, sp, operand, frame);
    VMError(frame, "%s :: Execution Error", "DoConv");
    VM_StopFrame(frame);
    return sp;
}
