// Stack item operations of the interpreter: constant pushes, local, global and built-in variable pushes,
// discards, duplication and swaps, the break words, and the handler table. Variable pushes and pops by scope
// live in vm_vars.cpp.
#include <cstring>

#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "core/variables.h"
#include "core/varnames.h"
#include "core/vm.h"
#include "net/net.h"
#include "script/script.h"
#include "world/loader.h"
#include "world/object_base.h"

namespace {

void VmStack_Fail(VMFrame* frame, const char* text)
{
    VMError(frame, "%s", text);
    VM_StopFrame(frame);
}

bool VmStack_Has(VMFrame* frame, uint8_t* sp, int64_t bytes, const char* handler)
{
    if (VM_ItemFloor(frame) - sp >= bytes) return true;
    VMError(frame, "%s :: stack underflow", handler);
    VM_StopFrame(frame);
    return false;
}

int32_t VmStack_I32(const uint8_t* p)
{
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint8_t* VmStack_PushValue(uint8_t* sp, const RValue* v)
{
    sp -= 16;
    std::memcpy(sp, v, 16);
    return sp;
}

// The locals object's slot for a variable reference, or null.
RValue* VmStack_LocalSlot(VMFrame* frame, uint32_t reference)
{
    int32_t slot = int32_t(reference & 0x0FFFFFFFu) - 100000;
    QZObjectBase* locals = VM_FrameLocals(frame);
    if (!locals || slot < 0) return nullptr;
    return ObjectBase_GetSlot(locals, slot);
}

// push.l and push.g: a copy of the slot (a string or array gains a reference).
uint8_t* VmStack_PushSlot(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame, bool global)
{
    const char* handler = global ? "DoPushGlobal" : "DoPushLocal";
    if (!(word & 0x40000000u)) {
        VMError(frame, "%s :: Instruction malformed", handler);
        VM_StopFrame(frame);
        return sp;
    }
    uint32_t reference = uint32_t(VmStack_I32(operand));
    int32_t id = int32_t(reference & 0x0FFFFFFFu);
    RValue* slot = nullptr;
    if (global) {
        if (g_GlobalObject && id >= 100000) slot = ObjectBase_GetSlotDirect(g_GlobalObject, id - 100000);
    } else {
        slot = VmStack_LocalSlot(frame, reference);
    }
    if (!slot || RValue_Kind(slot) == VALUE_UNSET) {
        const char* name = Code_Variable_GetAnyName(frame->codeName, global ? -5 : -7, id);
        VMError(frame, "%s variable %s(%d, %d) not set before reading it.", global ? "global" : "local",
                name ? name : "<unknown>", id, ARRAY_INDEX_NONE);
        VM_StopFrame(frame);
        return sp;
    }
    RValue copy;
    RValue_SetUndefined(&copy);
    RValue_Copy(&copy, slot);
    return VmStack_PushValue(sp, &copy);
}

uint8_t* DoPushLocal(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame)
{
    return VmStack_PushSlot(word, sp, operand, frame, false);
}

uint8_t* DoPushGlobal(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame)
{
    return VmStack_PushSlot(word, sp, operand, frame, true);
}

uint8_t* DoPushBuiltin(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame)
{
    if (!(word & 0x40000000u)) {
        VmStack_Fail(frame, "DoPushBuiltin :: Instruction malformed");
        return sp;
    }
    int32_t index = int32_t(uint32_t(VmStack_I32(operand)) & 0x0FFFFFFFu);
    const BuiltinVariable* entry = Variable_BuiltIn_Entry(index);
    if (!entry || !entry->getter) {
        VMError(frame, "DoPushBuiltin :: variable index is out of range %d max is %d", index,
                Variable_BuiltIn_Count());
        VM_StopFrame(frame);
        return sp;
    }
    RValue out;
    std::memset(&out, 0, 16);
    entry->getter(nullptr, ARRAY_INDEX_NONE, &out);
    sp -= 16;
    std::memcpy(sp, &out, 16);
    return sp;
}

}  // namespace

uint8_t* DoPush(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame)
{
    const int32_t type = int32_t(word >> 16) & 15;
    if (type == 15) return DoPushI(word, sp, operand, frame);
    if (!(word & 0x40000000u)) {
        VmStack_Fail(frame, "DoPush :: Execution Error");
        return sp;
    }
    if (type == 5) return VM_PushVariable(word, sp, operand, frame);
    switch (type) {
    case 0:
    case 3:
        sp -= 8;
        std::memcpy(sp, operand, 8);
        return sp;
    case 1:
    case 2:
    case 4:
        sp -= 4;
        std::memcpy(sp, operand, 4);
        return sp;
    case 6:
    case 7: {
        int32_t index = VmStack_I32(operand);
        const char* text = nullptr;
        if (type == 6) text = VM_GameString(index);
        else if (DebugTextTable && index >= 0) text = DebugTextTable[index];
        uint32_t handle = text ? VM_StringAdd(RefString::Create(text)) : 0;
        sp -= 4;
        std::memcpy(sp, &handle, 4);
        return sp;
    }
    default: VmStack_Fail(frame, "DoPush :: Execution Error"); return sp;
    }
}

uint8_t* DoPushI(uint32_t word, uint8_t* sp, uint8_t*, VMFrame*)
{
    int32_t v = int16_t(word & 0xFFFF);
    sp -= 4;
    std::memcpy(sp, &v, 4);
    return sp;
}

uint8_t* DoPopNull(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame)
{
    if (word >= 0xFF000000u) return DoBreak(word, sp, operand, frame);
    const int32_t type = int32_t(word >> 16) & 15;
    if (type == 5 && VM_ItemFloor(frame) - sp >= 16) {
        // A value: only strings and arrays have anything to release. Items of 4 bytes below or above leave
        // values only 4-byte aligned, so they are read by copy.
        RValue v;
        std::memcpy(&v, sp, 16);
        if (RValue_NeedsFree(&v)) RValue_Free(&v);
        else if (RValue_Kind(&v) == VALUE_UNSET) JS_ThrowReferenceError("DoPopNull : Could not find variable");
        return sp + 16;
    }
    const int32_t size = VM_StackItemSize(type);
    if (size == 0) return sp;
    if (!VmStack_Has(frame, sp, size, "DoPopNull")) return sp;
    VM_FreeItem(type, sp);
    return sp + size;
}

uint8_t* DoBreak(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    if ((word & 0xFFFF) == 0xFFFF) {
        if (!VmStack_Has(frame, sp, 4, "DoBreak")) return sp;
        int32_t index = VmStack_I32(sp);
        if (index < 0) {
            VmStack_Fail(frame, "Array index must be +'ve");
        } else if (index >= ARRAY_INDEX_STRIDE) {
            VMError(frame, "Array index must be < %d", ARRAY_INDEX_STRIDE);
            VM_StopFrame(frame);
        }
        return sp;
    }
    if ((word & 0xFFFF) != 0) {
        VmStack_Fail(frame, "DoBreak :: Execution Error");
        return sp;
    }
    // A breakpoint or a step: pause, then run the instruction the break word stands for. The word is read
    // again once the breakpoints are disarmed (a step word was never written into the code).
    Profiler_Suspend(true);
    Debug_DisarmBreakpoints();
    if (DebugServer) Debug_WaitWhilePaused();
    const int32_t at = frame->instructionOffset;
    uint32_t real;
    std::memcpy(&real, frame->code + at, 4);
    if (real >= 0xFF000000u && (real & 0xFFFF) == 0) {
        // A break word that hides nothing: running it again would never end.
        Debug_ArmBreakpoints();
        Profiler_Suspend(false);
        return sp;
    }
    const int32_t size = 4 + ((real & 0x40000000u) ? VM_OperandSize[(real >> 16) & 15] : 0);
    if (size > frame->codeLength - at) {
        Debug_ArmBreakpoints();
        Profiler_Suspend(false);
        VmStack_Fail(frame, "DoBreak :: Instruction malformed");
        return sp;
    }
    frame->position = at + size;
    sp = VM_OpHandlers[(real >> 24) & 31](real, sp, frame->code + at + 4, frame);
    Debug_ArmBreakpoints();
    Profiler_Suspend(false);
    return sp;
}

uint8_t* DoDup(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    const int32_t type = int32_t(word >> 16) & 15;
    const int32_t low = int32_t(word & 0xFF);
    const int32_t swap = int32_t(word >> 8) & 0xFF;
    const int32_t size = VM_StackItemSize(type);
    if (size == 0) {
        VmStack_Fail(frame, "DoDup :: Execution Error");
        return sp;
    }
    if (swap != 0) {
        if (type != 5) {
            RuntimeError("Argument type %d currently unhandled by DoDup swap mode", type);
            VM_StopFrame(frame);
            return sp;
        }
        const int32_t a = low >> 4, b = low & 15;
        const int64_t upper = int64_t(a) * 16, lower = int64_t(b) * 16;
        if (!VmStack_Has(frame, sp, upper + lower, "DoDup")) return sp;
        // The top a values and the b values below them exchange places.
        uint8_t scratch[15 * 16];
        std::memcpy(scratch, sp, size_t(upper));
        std::memmove(sp, sp + upper, size_t(lower));
        std::memcpy(sp + lower, scratch, size_t(upper));
        return sp;
    }
    const int64_t bytes = int64_t(low + 1) * size;
    if (!VmStack_Has(frame, sp, bytes, "DoDup")) return sp;
    uint8_t* from = sp;
    sp -= bytes;
    std::memcpy(sp, from, size_t(bytes));
    for (int64_t at = 0; at < bytes; at += size) {
        if (type == 5) {
            RValue original, copy;
            std::memcpy(&original, from + at, 16);
            RValue_SetUndefined(&copy);
            RValue_Copy(&copy, &original);
            std::memcpy(sp + at, &copy, 16);
        } else if (type == 6) {
            uint32_t handle;
            std::memcpy(&handle, from + at, 4);
            handle = VM_StringDuplicate(handle);
            std::memcpy(sp + at, &handle, 4);
        }
    }
    return sp;
}

uint8_t* DoConvIntToVar(uint32_t, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    if (!VmStack_Has(frame, sp, 4, "DoConv")) return sp;
    int32_t v = VmStack_I32(sp);
    RValue value;
    RValue_SetReal(&value, double(v));
    return VmStack_PushValue(sp + 4, &value);
}

const VMHandler VM_OpHandlers[32] = {
    DoPush, DoPushLocal, DoPushGlobal, DoPushBuiltin, DoPushI, DoPop,  DoDup,     DoConv,
    DoMul,  DoDiv,       DoRem,        DoMod,         DoAdd,   DoSub,  DoAnd,     DoOr,
    DoXor,  DoNeg,       DoNot,        DoShl,         DoShr,   DoSet,  DoB,       DoBt,
    DoBf,   DoCall,      DoPushEnv,    DoPopEnv,      DoRet,   DoExit, DoPopNull, DoPopNull,
};
