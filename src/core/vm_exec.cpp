// The interpreter core: VM_Exec, the dispatch loops, the value stack, script calls and returns, branches and
// the calls of built-in and extension functions.
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "core/arguments.h"
#include "core/console.h"
#include "core/convert.h"
#include "core/debug_info.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/script.h"
#include "core/seam_trace.h"
#include "core/timing.h"
#include "core/variables.h"
#include "core/vm.h"
#include "net/net.h"
#include "platform/hooks.h"
#include "platform/messages.h"
#include "script/script.h"
#include "services/services.h"
#include "world/command_line.h"
#include "world/loader.h"
#include "world/object_base.h"

VMFrame* VM_CurrentFrame = nullptr;
int32_t VM_ArgCount = 0;
RValue* VM_Args = nullptr;
bool VM_Trace = false;
int64_t VM_InstructionBudget = -1;
int64_t VM_StackLimit = VM_STACK_LIMIT;
uint32_t VM_BranchCount = 0;
int32_t VM_Depth = 0;
int32_t VM_DebugPollCounter = 0;
bool VM_UseForms = true;

namespace {

// ---- the string handle table of ".s" items ----

struct VmExecStringTable {
    RefString** refs = nullptr;
    uint32_t* nextFree = nullptr;
    uint32_t capacity = 0;  // slot 0 is never handed out
    uint32_t freeHead = 0;
    int32_t inUse = 0;
};
VmExecStringTable g_vmStrings;

// Gives the table's memory back once nothing runs and no handle is held.
void VmExec_ReleaseStringTable()
{
    if (g_vmStrings.inUse != 0 || VM_Depth != 0) return;
    MemFree(g_vmStrings.refs);
    MemFree(g_vmStrings.nextFree);
    g_vmStrings = {};
}

uint32_t VmExec_Word(const uint8_t* p)
{
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

int64_t VmExec_Distance(const VMFrame* frame, const void* p)
{
    return frame->stackBlock + frame->stackSize - static_cast<const uint8_t*>(p);
}

uint8_t* VmExec_At(const VMFrame* frame, int64_t distance) { return frame->stackBlock + frame->stackSize - distance; }

// Bytes of the running code's own items (between the stack pointer and the innermost record, call or with).
int64_t VmExec_Items(const VMFrame* frame, const uint8_t* sp) { return VM_ItemFloor(frame) - sp; }

// Reports an interpreter error and stops the frame: nothing after the failing operation runs, even when
// the report returns.
void VmExec_Fail(VMFrame* frame, const char* format, ...) __attribute__((format(printf, 2, 3)));
void VmExec_Fail(VMFrame* frame, const char* format, ...)
{
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    VMError(frame, "%s", message);
    VM_StopFrame(frame);
}

uint8_t* VmExec_PushReal(uint8_t* sp, double d)
{
    sp -= 16;
    RValue v;
    RValue_SetReal(&v, d);
    std::memcpy(sp, &v, 16);
    return sp;
}

void VmExec_ShowOverflow(const char* codeName)
{
    const char* text = codeName ? codeName : "";
    if (g_RunFlags.headless) {
        if (ReleaseConsole) ReleaseConsole->Output("Stack overflow... %s\n", text);
        return;
    }
    MessageBoxRequest request{};
    request.caption = "Stack overflow...";
    request.text = text;
    Platform_MessageBox(request);
}

// Where a code object starts inside its prepared buffer; false (and a report) when the buffer is not sound
// or the entry does not start an instruction.
bool VmExec_PrepareEntry(VMFrame* frame, CCode* code)
{
    VMBuffer* buffer = code->code;
    // Every call after the first: the verdict is the buffer's for good.
    if (code->checked == buffer && buffer->steps) return true;
    int32_t bad = -1;
    int32_t entry = code->blockOffset;
    if (buffer->Prepare(&bad)) {
        if (entry < 0 || entry > buffer->length || entry % 4 != 0 || buffer->instructionIndex[entry / 4] < 0) {
            bad = entry;
        } else if (VM_VerifyEntry(buffer, entry, &bad)) {
            if (VM_VerifyStackTypes) code->checked = buffer;  // a check turned off passes nothing for good
            return true;
        }
    }
    VmExec_Fail(frame, "Malformed bytecode in %s at 0x%08x", code->name ? code->name : "<unknown>", uint32_t(bad));
    return false;
}

// Makes code the frame's running code, at position, the instruction numbered index.
inline void VmExec_UseAt(VMFrame* frame, CCode* code, int32_t position, int32_t index)
{
    VMBuffer* buffer = code->code;
    frame->codeObject = code;
    frame->code = buffer->bytes;
    frame->codeLength = buffer->length;
    frame->codeName = code->name;
    frame->steps = buffer->steps;
    frame->instructionIndex = buffer->instructionIndex;
    frame->position = position;
    frame->nextInstruction = index;
}

// The same at an instruction start (never negative).
inline void VmExec_Use(VMFrame* frame, CCode* code, int32_t position)
{
    VmExec_UseAt(frame, code, position, code->code->instructionIndex[uint32_t(position) / 4]);
}

// Switches the frame to the code object at its entry.
void VmExec_Enter(VMFrame* frame, CCode* code)
{
    VmExec_Use(frame, code, code->blockOffset);
    frame->instructionOffset = code->blockOffset;
}

// The slots of the locals a call of the code takes (counted by the code, so that a call and its return agree
// whoever made the object).
int64_t VmExec_LocalsBytes(const CCode* code)
{
    if (!code || code->localCount <= 0) return 0;
    return int64_t(code->localCount) * int64_t(sizeof(RValue));
}

// Stops the run at the stack limit: the report names the code that asked for more.
void VmExec_Overflow(VMFrame* frame, const char* codeName)
{
    VmExec_ShowOverflow(codeName);
    frame->overflow = true;
    VM_StopFrame(frame);
}

void VmExec_FreeLocals(VMFrame* frame)
{
    if (!frame->localsSupplied && frame->locals) ObjectBase_Free(frame->locals);
    frame->locals = nullptr;
}


// Values lie wherever the items below them leave them, 4-byte boundaries included. Code that takes them as
// records (built-ins, call records, argument variables) gets them 8-aligned: moved down into the free stack.
RValue* VmExec_AlignArguments(uint8_t* sp, int32_t argc)
{
    const uintptr_t off = reinterpret_cast<uintptr_t>(sp) & 7;
    if (off == 0) return reinterpret_cast<RValue*>(sp);
    if (argc > 0) std::memmove(sp - off, sp, size_t(argc) * 16);
    return reinterpret_cast<RValue*>(sp - off);
}

// A new call's locals: none yet for code that declares none (the object model's calls always get one).
QZObjectBase* VmExec_CallLocals(const CCode* code)
{
    if (code->localCount <= 0 && !g_GameData.scriptObjectModel) return nullptr;
    return VM_CreateLocals(code->localCount);
}

// The call record of a call of code with argc arguments at sp (room for it checked): the frame switches to the
// code's entry. Returns the new stack pointer (the record).
inline uint8_t* VmExec_PushCall(VMFrame* frame, uint8_t* sp, int32_t argc, CCode* code, QZObjectBase* locals, RValue* value,
                         int64_t localsBytes)
{
    auto* args = VmExec_AlignArguments(sp, argc);
    auto* record = reinterpret_cast<VMCallRecord*>(reinterpret_cast<uint8_t*>(args) - sizeof(VMCallRecord));
    record->reserved = int32_t(sp - reinterpret_cast<uint8_t*>(args));
    record->position = frame->position;
    record->nextInstruction = frame->nextInstruction;
    record->argCount = VM_ArgCount;
    record->recordDistance = VmExec_Distance(frame, frame->record);
    record->self = frame->self;
    record->other = frame->other;
    record->value = value;
    record->codeObject = frame->codeObject;
    record->localsSupplied = frame->localsSupplied;
    record->locals = frame->locals;
    record->argsDistance = VM_Args ? VmExec_Distance(frame, VM_Args) : -1;
    VM_Args = argc ? args : nullptr;
    VM_ArgCount = argc;

    VmExec_Enter(frame, code);
    frame->record = reinterpret_cast<uint8_t*>(record);
    // The depth counts the new record before the locals are made, so the block log sees the whole chain.
    ++frame->callDepth;
    frame->localsSupplied = locals ? 1 : 0;
    frame->locals = locals ? locals : VmExec_CallLocals(code);
    frame->localsBytes += localsBytes;
    if (value) VM_SetLocalValue(frame->locals, value);
    return reinterpret_cast<uint8_t*>(record);
}


// Ends the innermost call: the caller's code, locals and arguments come back. Returns the stack pointer
// above the callee's arguments.
__attribute__((always_inline)) inline uint8_t* VmExec_Pop(VMFrame* frame)
{
    auto* record = reinterpret_cast<VMCallRecord*>(frame->record);
    const int32_t calleeArgc = VM_ArgCount;
    auto* args = reinterpret_cast<RValue*>(frame->record + sizeof(VMCallRecord));
    if (frame->withRecord) VM_WithUnwind(frame, frame->record);  // with-blocks the callee left open end with it
    --frame->callDepth;
    if (Profiler_Active) Profiler_Leave();
    frame->localsBytes -= VmExec_LocalsBytes(frame->codeObject);
    VmExec_FreeLocals(frame);
    frame->self = record->self;
    frame->other = record->other;
    frame->localsSupplied = record->localsSupplied;
    frame->locals = record->locals;
    VmExec_UseAt(frame, record->codeObject, record->position, record->nextInstruction);
    for (int32_t i = 0; i < calleeArgc; ++i)
        if (RValue_NeedsFree(&args[i])) RValue_Free(&args[i]);
    VM_ArgCount = record->argCount;
    VM_Args = record->argsDistance < 0 ? nullptr : reinterpret_cast<RValue*>(VmExec_At(frame, record->argsDistance));
    frame->record = VmExec_At(frame, record->recordDistance);
    return reinterpret_cast<uint8_t*>(args + calleeArgc) + record->reserved;
}

// Frees argc arguments (at args: those at sp, or their aligned copy) and puts one value in their place at sp;
// returns the new stack pointer.
uint8_t* VmExec_ReplaceArguments(uint8_t* sp, RValue* args, int32_t argc, RValue* result)
{
    for (int32_t i = 0; i < argc; ++i) RValue_Free(&args[i]);
    sp += int64_t(argc) * 16 - 16;
    std::memcpy(sp, result, 16);
    return sp;
}

// A handler may read as many values as its entry registers, whatever the call gave: a call that gives fewer
// gets a block of its own holding the given values (moved, not copied) and undefined ones after them. Calls
// that give enough (all that compiled games make) use the values where they lie.
RValue* VmExec_PadArguments(const RValue* given, int32_t argc, int32_t count)
{
    auto* block = static_cast<RValue*>(MemAlloc(size_t(count) * sizeof(RValue)));
    if (argc > 0) std::memcpy(static_cast<void*>(block), given, size_t(argc) * sizeof(RValue));
    for (int32_t i = argc; i < count; ++i) RValue_SetUndefined(&block[i]);
    return block;
}

// The built-in that runs and its argument block, for the getters and the error reports; restored even when
// an exception passes through.
class VmExec_BuiltinScope {
public:
    VmExec_BuiltinScope(BuiltinFunction* entry, RValue* block, int32_t count)
        : function_(Function_Current), args_(Function_CurrentArgs), count_(Function_CurrentArgCount)
    {
        Function_Current = entry;
        Function_CurrentArgs = block;
        Function_CurrentArgCount = count;
    }
    ~VmExec_BuiltinScope()
    {
        Function_Current = function_;
        Function_CurrentArgs = args_;
        Function_CurrentArgCount = count_;
    }
    VmExec_BuiltinScope(const VmExec_BuiltinScope&) = delete;
    VmExec_BuiltinScope& operator=(const VmExec_BuiltinScope&) = delete;

private:
    BuiltinFunction* function_;
    RValue* args_;
    int32_t count_;
};

bool VmExec_HasArguments(VMFrame* frame, uint8_t* sp, int32_t argc, const char* handler)
{
    if (VmExec_Items(frame, sp) >= int64_t(argc) * 16) return true;
    VmExec_Fail(frame, "%s :: argument count %d beyond the stack items", handler, argc);
    return false;
}

bool VmExec_HasItem(VMFrame* frame, uint8_t* sp, int32_t bytes, const char* handler)
{
    if (VmExec_Items(frame, sp) >= bytes) return true;
    VmExec_Fail(frame, "%s :: stack underflow", handler);
    return false;
}

// Items the ending code leaves between sp and its call record (the value of a switch that exit leaves, items
// below what ret returns, what code that runs off its end leaves) still hold references. The stack check kept
// their types at each ret and exit and at the end, so they are released by type (those at the instruction at
// offset); the top skip items stay. Nothing is freed unless the types account for every byte, with-block
// records included (those stay for VM_WithUnwind).
void VmExec_ReleaseLeftovers(VMFrame* frame, uint8_t* sp, int32_t skip, int32_t offset)
{
    constexpr uint8_t kWith = 8;
    constexpr int32_t kMaxItems = 4096;
    uint8_t* const floor = frame->record;
    if (sp >= floor || !frame->codeObject || !frame->codeObject->code) return;
    uint8_t types[kMaxItems];
    const int32_t count = VM_LeftoverTypes(frame->codeObject->code, frame->codeObject->blockOffset, offset, types, kMaxItems);
    if (count < skip) return;  // -1 included: unknown types are left alone
    int64_t itemBytes = 0;
    int32_t withCount = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (types[i] == kWith) {
            ++withCount;
            continue;
        }
        const int32_t size = VM_StackItemSize(types[i]);
        if (size == 0) return;
        itemBytes += size;
    }
    // With records all have one size: what the items leave of the bytes, shared out.
    const int64_t rest = (floor - sp) - itemBytes;
    int64_t withBytes = 0;
    if (withCount > 0) {
        if (rest <= 0 || rest % withCount != 0) return;
        withBytes = rest / withCount;
        const uint8_t* at = sp;
        for (int32_t i = 0; types[i] != kWith; ++i) at += VM_StackItemSize(types[i]);
        if (!frame->withRecord || VmExec_At(frame, frame->withRecord) != at) return;
    } else if (rest != 0) {
        return;
    }
    uint8_t* at = sp;
    for (int32_t i = 0; i < count; ++i) {
        if (types[i] == kWith) {
            at += withBytes;
            continue;
        }
        const int32_t size = VM_StackItemSize(types[i]);
        if (i >= skip) {
            VM_FreeItem(types[i], at);
            if (types[i] == 6) std::memset(at, 0, 4);  // a released handle may be handed out again
        }
        at += size;
    }
}

// Whether a step in progress (or the debugger's stop request) stops before the instruction at offset. A
// stop records where it happened, clears the request and ends the step.
bool VmExec_StepStops(VMFrame* frame, int32_t offset)
{
    DebugStep& step = DebugStepState;
    bool stop = step.stopRequest;
    const char* source = frame->codeObject->source && frame->codeObject->source[0] ? frame->codeObject->source : nullptr;
    int32_t line = -1;
    if (step.mode >= 0 && source) {
        const VMBuffer* lines = frame->codeObject->debugLines;
        const DebugLineEntry* entry =
            lines ? DebugInfo_FindEntry(lines->bytes, lines->length, offset) : nullptr;
        line = DebugInfo_LineNumber(entry, source, nullptr);
        const bool sameAsLastStop = source == step.source && line == step.line;
        if (!sameAsLastStop) {
            if (step.mode == 0) stop = true;
            else if (step.mode == 1) stop = stop || frame->callDepth <= step.depth;
            else if (step.mode == 2) stop = stop || (frame->callDepth <= step.depth && source != step.source);
        }
    }
    if (!stop) return false;
    step.stopRequest = false;
    step.mode = -1;
    step.source = source;
    step.line = line;
    return true;
}

// Code ran off its end: top-level code is done (false); a called script returns real 0 to its caller (true:
// the caller goes on).
bool VmExec_CodeEnded(VMFrame* frame, uint8_t** sp)
{
    if (frame->callDepth == 0) {
        // Top-level code that runs off its end leaves what it left for nobody.
        if (!frame->ended) VmExec_ReleaseLeftovers(frame, *sp, 0, frame->codeLength);
        return false;
    }
    VmExec_ReleaseLeftovers(frame, *sp, 0, frame->codeLength);
    *sp = VM_PopFrame(*sp, frame);
    *sp = VmExec_PushReal(*sp, 0.0);
    return true;
}

// Long loops still let the platform's messages through.
void VmExec_CountBranch()
{
    if ((VM_BranchCount++ & 0xFFFu) == 0xFFFu) ProcessMessages();
}

// The dispatch under the debugger: handlers by the word, so that breakpoints written into prepared code take
// effect, and steps stop where the debugger asked.
uint8_t* VmExec_DebugLoop(VMFrame* frame, uint8_t* sp)
{
    for (;;) {
        while (!frame->stopped && frame->position < frame->codeLength) {
            if (sp < frame->stackBlock + VM_STACK_MARGIN) {
                sp = VM_GrowStack(sp, frame);
                if (frame->stopped) break;
            }
            if (VM_InstructionBudget >= 0) {
                if (VM_InstructionBudget == 0) {
                    VM_StopFrame(frame);
                    break;
                }
                --VM_InstructionBudget;
            }
            // Code that runs long within one frame still serves the debugger, twice a second at most.
            if (DebugServer && ++VM_DebugPollCounter > 20000) {
                VM_DebugPollCounter = 0;
                if (Timing_Time() - Debug_LastPollTime > 500000) TickDebugger();
            }
            const int32_t at = frame->position;
            frame->instructionOffset = at;
            uint32_t word = VmExec_Word(frame->code + at);
            if (DebugServer && VmExec_StepStops(frame, at)) word = 0xFF0F0000u;
            uint8_t* operand = frame->code + at + 4;
            frame->position = at + 4 + ((word & 0x40000000u) ? VM_OperandSize[(word >> 16) & 15] : 0);
            ++frame->nextInstruction;
            sp = VM_OpHandlers[(word >> 24) & 31](word, sp, operand, frame);
            if (JS_PendingException.pending) sp = VM_TakePendingException(sp, frame);
        }
        if (frame->stopped || !VmExec_CodeEnded(frame, &sp)) break;
    }
    return sp;
}

// Kinds a plain copy of the 16 bytes moves whole: nothing is counted or released for them.
inline bool VmExec_PlainKind(uint32_t kind)
{
    kind &= RVALUE_KIND_MASK;
    return kind == VALUE_REAL || kind == VALUE_BOOL || kind == VALUE_INT64;
}

// 16-byte items move as two 8-byte halves: a value written that way and read back whole would wait for
// the two stores to drain instead of taking them from the store buffer.
inline void VmExec_Move16(void* to, const void* from)
{
    uint64_t payload, tag;
    std::memcpy(&payload, from, 8);
    std::memcpy(&tag, static_cast<const uint8_t*>(from) + 8, 8);
    std::memcpy(to, &payload, 8);
    std::memcpy(static_cast<uint8_t*>(to) + 8, &tag, 8);
}

inline uint8_t* VmExec_StoreReal(uint8_t* at, double d)
{
    constexpr uint64_t kRealTag = uint64_t(VALUE_REAL) << 32;  // flags 0, kind real
    std::memcpy(at, &d, 8);
    std::memcpy(at + 8, &kRealTag, 8);
    return at;
}

// The remainder with the sign of the dividend, as fmod gives it; integral operands (the usual case) take the
// integer division, which gives the same bits.
inline double VmExec_Remainder(double a, double b)
{
    constexpr double kInt32 = 2147483648.0;
    if (std::fabs(a) < kInt32 && std::fabs(b) < kInt32) {
        const auto ia = int32_t(a), ib = int32_t(b);
        if (double(ia) == a && double(ib) == b) {
            const int32_t r = ib == -1 ? 0 : ia % ib;
            return r != 0 ? double(r) : std::copysign(0.0, a);
        }
    }
    return std::fmod(a, b);
}

// Comparison kinds 1 ... 6 (lt le eq ne ge gt) of two reals within the tolerance; a NaN difference is false.
inline bool VmExec_Compare(int32_t kind, double a, double b)
{
    const double diff = a - b, e = Math_Epsilon;
    if (std::isnan(diff)) return false;
    switch (kind) {
    case 1: return diff < -e;
    case 2: return diff <= e;
    case 3: return diff >= -e && diff <= e;
    case 4: return diff < -e || diff > e;
    case 5: return diff >= -e;
    default: return diff > e;
    }
}

// add, sub, mul and div by their operation numbers.
inline double VmExec_Arith(int32_t op, double a, double b)
{
    switch (op) {
    case 12: return a + b;
    case 13: return a - b;
    case 8: return a * b;
    default: return a / b;
    }
}

// The real a sequence starts from: its first step's local slot or argument, when that holds a real.
inline bool VmExec_SourceReal(const VMFrame* frame, const VMStep* first, double* out)
{
    const RValue* v;
    if (first->basic == VM_FORM_PUSH_ARG) {
        if (first->value >= VM_ArgCount || !VM_Args) return false;
        v = &VM_Args[first->value];
    } else {
        const QZObjectBase* locals = frame->locals;
        if (!locals || !locals->slots || first->value >= locals->slotCount) return false;
        v = &locals->slots[first->value];
    }
    if (RValue_Kind(v) != VALUE_REAL) return false;
    *out = v->real;
    return true;
}

// Element index of row 0 of the array in local slot, when the slot's value owns the array (so that a write
// needs no copy of it) and the element exists; else null.
inline RValue* VmExec_LocalElementAt(const VMFrame* frame, int32_t slot, int32_t index)
{
    const QZObjectBase* locals = frame->locals;
    if (!locals || !locals->slots || slot >= locals->slotCount) return nullptr;
    RValue* holder = &locals->slots[slot];
    if (RValue_Kind(holder) != VALUE_ARRAY || !holder->arr || holder->arr->owner != holder) return nullptr;
    const RefArray* array = holder->arr;
    if (index < 0 || index >= ARRAY_INDEX_STRIDE || array->rowCount < 1 || index >= array->rows[0].length)
        return nullptr;
    return &array->rows[0].items[index];
}

// The same, the index the ".i" item on top of the stack.
inline RValue* VmExec_LocalElement(const VMFrame* frame, int32_t slot, const uint8_t* sp)
{
    int32_t index;
    std::memcpy(&index, sp, 4);
    return VmExec_LocalElementAt(frame, slot, index);
}

// The dispatch outside the debugger. The forms of VMStep run here when their items allow; any other case,
// and every instruction without a form, runs its handler. The instruction number lives in a register and the
// frame's position is written only where a handler or a check may read it. With GCC and clang each form
// dispatches the next itself (one indirect jump per form predicts far better than one shared jump).
#if defined(__GNUC__)
#define KV_VM_THREADED 1
#else
#define KV_VM_THREADED 0
#endif

#define VM_FORM(f) \
    case f:        \
    label_##f:
#if KV_VM_THREADED
#define VM_NEXT_AT(target)                                                                                    \
    do {                                                                                                      \
        n = (target);                                                                                         \
        step = steps + n;                                                                                     \
        if (__builtin_expect(sp < watermark, 0)) goto dispatch;                                               \
        goto* kForms[step->form];                                                                             \
    } while (0)
#else
#define VM_NEXT_AT(target) \
    do {                   \
        n = (target);      \
        goto dispatch;     \
    } while (0)
#endif
#define VM_NEXT() VM_NEXT_AT(n + 1)

uint8_t* VmExec_Run(VMFrame* frame, uint8_t* sp)
{
#if KV_VM_THREADED
    // In the order of the VM_FORM_* values.
    static void* const kForms[] = {
        &&label_VM_FORM_HANDLER,     &&label_VM_FORM_PUSH_INT,     &&label_VM_FORM_PUSH_LOCAL,
        &&label_VM_FORM_POP_LOCAL,   &&label_VM_FORM_INT_TO_VAR,   &&label_VM_FORM_ARITH,
        &&label_VM_FORM_MOD,         &&label_VM_FORM_COMPARE,      &&label_VM_FORM_BRANCH,
        &&label_VM_FORM_BRANCH_TRUE, &&label_VM_FORM_BRANCH_FALSE, &&label_VM_FORM_DISCARD,
        &&label_VM_FORM_PUSH_ARG,    &&label_VM_FORM_VAR_TO_INT,   &&label_VM_FORM_PUSH_ELEMENT,
        &&label_VM_FORM_POP_ELEMENT, &&label_VM_FORM_CALL_SCRIPT,  &&label_VM_FORM_RETURN,
        &&label_VM_FORM_END,         &&label_VM_FORM_COMPARE_BRANCH, &&label_VM_FORM_ARITH_CONST,
        &&label_VM_FORM_ELEMENT_AT_LOCAL,
    };
    static_assert(std::size(kForms) == VM_FORM_COUNT, "one label per form");
#endif
    // What only a handler changes is kept in registers and read again after each: the code's steps, the
    // stack bounds and whether calls may take the plain path. One comparison per instruction covers every
    // check: under an instruction budget (or with the forms off) the watermark lies above every stack pointer,
    // so every instruction takes the slow path.
    const VMStep* steps;
    const VMStep* step = nullptr;
    uint8_t form;
    int32_t n;
    const uint8_t* watermark;
    const uint8_t* itemFloor;
    bool plainCalls;
    // After a call or a return of the loop's own: the code changed, the stack block did not.
    auto resume = [&] {
        steps = frame->steps;
        n = frame->nextInstruction;
        itemFloor = VM_ItemFloor(frame);
    };
    auto reload = [&] {
        resume();
        watermark = VM_InstructionBudget >= 0 || !VM_UseForms ? reinterpret_cast<const uint8_t*>(UINTPTR_MAX)
                                                              : frame->stackBlock + VM_STACK_MARGIN;
        plainCalls = !VM_Trace && !Profiler_Active && !g_GameData.scriptObjectModel;
    };
    // The two operands of a numeric form as reals, the top item the right one; false leaves them to the
    // handler.
    auto numbers = [&](double* left, double* right) {
        const int32_t r = step->right;
        return itemFloor - sp >= r + step->left && VM_ItemReal(int32_t(step->word >> 16) & 15, sp, right) &&
               VM_ItemReal(int32_t(step->word >> 20) & 15, sp + r, left);
    };
    reload();
    if (frame->stopped) return sp;
    if (frame->position >= frame->codeLength) goto ended;

dispatch:
    step = steps + n;
    form = step->form;
    if (sp < watermark) {
        frame->position = step->at;
        frame->nextInstruction = n;
        if (sp < frame->stackBlock + VM_STACK_MARGIN) {
            sp = VM_GrowStack(sp, frame);
            if (frame->stopped) return sp;
            reload();
        }
        if (VM_InstructionBudget >= 0) {
            if (VM_InstructionBudget == 0) {
                VM_StopFrame(frame);
                return sp;
            }
            --VM_InstructionBudget;
            form = step->basic;  // a budget counts every instruction of a sequence
        }
        if (!VM_UseForms && form != VM_FORM_END) form = VM_FORM_HANDLER;
    }
run:
#if KV_VM_THREADED
    goto* kForms[form];
#endif
    switch (form) {
    VM_FORM(VM_FORM_PUSH_INT)
        sp -= 4;
        std::memcpy(sp, &step->value, 4);
        VM_NEXT();
    VM_FORM(VM_FORM_PUSH_LOCAL) {
        const QZObjectBase* locals = frame->locals;
        if (!locals || !locals->slots || step->value >= locals->slotCount) goto handler;
        const RValue* slot = &locals->slots[step->value];
        if (!VmExec_PlainKind(slot->kind)) goto handler;
        sp -= 16;
        VmExec_Move16(sp, slot);
        VM_NEXT();
    }
    VM_FORM(VM_FORM_POP_LOCAL) {
        QZObjectBase* locals = frame->locals;
        if (!locals || !locals->slots || step->value >= locals->slotCount || g_GameData.scriptObjectModel ||
            itemFloor - sp < 16)
            goto handler;
        RValue* slot = &locals->slots[step->value];
        uint32_t kind;
        std::memcpy(&kind, sp + offsetof(RValue, kind), 4);
        if (!VmExec_PlainKind(kind) || RValue_NeedsFree(slot)) goto handler;
        VmExec_Move16(slot, sp);
        sp += 16;
        VM_NEXT();
    }
    VM_FORM(VM_FORM_INT_TO_VAR) {
        if (itemFloor - sp < 4) goto handler;
        int32_t i;
        std::memcpy(&i, sp, 4);
        sp = VmExec_StoreReal(sp + 4 - 16, double(i));
        VM_NEXT();
    }
    VM_FORM(VM_FORM_ARITH) {
        double a, b;
        if (!numbers(&a, &b)) goto handler;
        sp = VmExec_StoreReal(sp + step->right + step->left - 16, VmExec_Arith(step->value, a, b));
        VM_NEXT();
    }
    VM_FORM(VM_FORM_MOD) {
        double a, b;
        // Below the tolerance the handler reports the division by zero.
        if (!numbers(&a, &b) || std::fabs(b) < 1e-10) goto handler;
        sp = VmExec_StoreReal(sp + step->right + step->left - 16, VmExec_Remainder(a, b));
        VM_NEXT();
    }
    VM_FORM(VM_FORM_COMPARE) {
        double a, b;
        if (!numbers(&a, &b)) goto handler;
        const int32_t answer = VmExec_Compare(step->value, a, b) ? 1 : 0;
        sp += step->right + step->left - 4;
        std::memcpy(sp, &answer, 4);
        VM_NEXT();
    }
    VM_FORM(VM_FORM_BRANCH)
        VmExec_CountBranch();
        VM_NEXT_AT(step->target);
    VM_FORM(VM_FORM_BRANCH_TRUE)
    VM_FORM(VM_FORM_BRANCH_FALSE) {
        if (itemFloor - sp < 4) goto handler;
        VmExec_CountBranch();
        int32_t v;
        std::memcpy(&v, sp, 4);
        sp += 4;
        if ((v != 0) == (step->form == VM_FORM_BRANCH_TRUE)) VM_NEXT_AT(step->target);
        VM_NEXT();
    }
    VM_FORM(VM_FORM_DISCARD) {
        if (itemFloor - sp < 16) goto handler;
        uint32_t kind;
        std::memcpy(&kind, sp + offsetof(RValue, kind), 4);
        if ((kind & RVALUE_KIND_MASK) == VALUE_UNSET || ((kind - 1) & RVALUE_KIND_MASK) < 4) goto handler;
        sp += 16;
        VM_NEXT();
    }
    VM_FORM(VM_FORM_PUSH_ARG) {
        if (step->value >= VM_ArgCount || !VM_Args || !VmExec_PlainKind(VM_Args[step->value].kind)) goto handler;
        sp -= 16;
        VmExec_Move16(sp, &VM_Args[step->value]);
        VM_NEXT();
    }
    VM_FORM(VM_FORM_VAR_TO_INT) {
        if (itemFloor - sp < 16) goto handler;
        RValue v;  // by copy: the item may be only 4-byte aligned
        std::memcpy(&v, sp, 16);
        if (RValue_Kind(&v) != VALUE_REAL && RValue_Kind(&v) != VALUE_BOOL) goto handler;
        const int32_t i = Real_ToInt32(v.real);
        sp += 12;
        std::memcpy(sp, &i, 4);
        VM_NEXT();
    }
    VM_FORM(VM_FORM_PUSH_ELEMENT) {
        if (itemFloor - sp < 4 || g_GameData.scriptObjectModel) goto handler;
        RValue* element = VmExec_LocalElement(frame, step->value, sp);
        if (!element || !VmExec_PlainKind(element->kind)) goto handler;
        Variable_NoInstance = false;
        ArrayIndexError.flag = false;
        sp -= 12;
        VmExec_Move16(sp, element);
        VM_NEXT();
    }
    VM_FORM(VM_FORM_POP_ELEMENT) {
        if (itemFloor - sp < 20 || g_GameData.scriptObjectModel) goto handler;
        RValue* element = VmExec_LocalElement(frame, step->value, sp);
        uint32_t kind;
        std::memcpy(&kind, sp + 4 + offsetof(RValue, kind), 4);
        if (!element || RValue_NeedsFree(element) || !VmExec_PlainKind(kind)) goto handler;
        ArrayIndexError.flag = false;
        VmExec_Move16(element, sp + 4);
        sp += 20;
        VM_NEXT();
    }
    VM_FORM(VM_FORM_CALL_SCRIPT) {
        // A script whose entry passed its check, called with aligned arguments, within the stack limit and
        // with nothing watching; anything else (and every report) is the handler's.
        const int32_t argc = step->target;
        if (!plainCalls || itemFloor - sp < int64_t(argc) * 16 || (reinterpret_cast<uintptr_t>(sp) & 7) != 0)
            goto handler;
        CScript* script = Script_Data(step->value);
        CCode* code = script ? script->GetCode() : nullptr;
        // A passed check means the buffer is prepared.
        if (!code || !code->checked || code->checked != code->code) goto handler;
        const int64_t localsBytes = VmExec_LocalsBytes(code);
        if (frame->stackSize + frame->localsBytes + localsBytes > VM_StackLimit) goto handler;
        frame->position = step->next;
        frame->nextInstruction = n + 1;
        sp = VmExec_PushCall(frame, sp, argc, code, nullptr, nullptr, localsBytes);
        if (frame->position >= frame->codeLength) goto ended;
        resume();
        goto dispatch;
    }
    VM_FORM(VM_FORM_RETURN) {
        // A ret.v with only its value above the call record.
        if (!plainCalls || frame->callDepth == 0 || frame->record - sp != 16) goto handler;
        uint64_t value[2];
        std::memcpy(value, sp, 16);
        sp = VmExec_Pop(frame) - 16;
        std::memcpy(sp, value, 16);
        if (frame->position >= frame->codeLength) goto ended;
        resume();
        goto dispatch;
    }
    VM_FORM(VM_FORM_COMPARE_BRANCH) {
        double a;
        if (!VmExec_SourceReal(frame, step, &a)) goto basic;
        const double b = step[1].value;
        VmExec_CountBranch();
        if (VmExec_Compare(step[2].value, a, b) == (step[3].form == VM_FORM_BRANCH_TRUE)) VM_NEXT_AT(step[3].target);
        VM_NEXT_AT(n + 4);
    }
    VM_FORM(VM_FORM_ARITH_CONST) {
        double a;
        if (!VmExec_SourceReal(frame, step, &a)) goto basic;
        const double b = step[1].value;
        double d;
        if (step[2].form == VM_FORM_MOD) {
            if (std::fabs(b) < 1e-10) goto basic;
            d = VmExec_Remainder(a, b);
        } else {
            d = VmExec_Arith(step[2].value, a, b);
        }
        // A pop into a plain local slot that holds nothing to release takes the result straight away.
        const VMStep& pop = step[3];
        if (pop.form == VM_FORM_POP_LOCAL && !g_GameData.scriptObjectModel) {
            QZObjectBase* locals = frame->locals;
            if (locals && locals->slots && pop.value < locals->slotCount && !RValue_NeedsFree(&locals->slots[pop.value])) {
                VmExec_StoreReal(reinterpret_cast<uint8_t*>(&locals->slots[pop.value]), d);
                VM_NEXT_AT(n + 4);
            }
        }
        sp = VmExec_StoreReal(sp - 16, d);
        VM_NEXT_AT(n + 3);
    }
    VM_FORM(VM_FORM_ELEMENT_AT_LOCAL) {
        double index;
        if (g_GameData.scriptObjectModel || !VmExec_SourceReal(frame, step, &index))
            goto basic;
        const VMStep& access = step[2];
        RValue* element = VmExec_LocalElementAt(frame, access.value, Real_ToInt32(index));
        if (!element) goto basic;
        if (access.form == VM_FORM_PUSH_ELEMENT) {
            if (!VmExec_PlainKind(element->kind)) goto basic;
            Variable_NoInstance = false;
            ArrayIndexError.flag = false;
            sp -= 16;
            VmExec_Move16(sp, element);
        } else {
            uint32_t kind;
            std::memcpy(&kind, sp + offsetof(RValue, kind), 4);
            if (itemFloor - sp < 16 || RValue_NeedsFree(element) || !VmExec_PlainKind(kind)) goto basic;
            ArrayIndexError.flag = false;
            VmExec_Move16(element, sp);
            sp += 16;
        }
        VM_NEXT_AT(n + 3);
    }
    VM_FORM(VM_FORM_END)
        frame->position = frame->codeLength;
        frame->nextInstruction = n;
        goto ended;
    VM_FORM(VM_FORM_HANDLER)
    default:
        goto handler;
    }

basic:
    form = step->basic;
    goto run;

handler:
    frame->instructionOffset = step->at;
    frame->position = step->next;
    frame->nextInstruction = n + 1;
    sp = step->handler(step->word, sp, frame->code + step->at + 4, frame);
    if (JS_PendingException.pending) sp = VM_TakePendingException(sp, frame);
    if (frame->stopped) return sp;
    if (frame->position >= frame->codeLength) goto ended;
    // A call or a return may have switched the code, a grown stack moved it.
    reload();
    goto dispatch;

ended:
    if (!VmExec_CodeEnded(frame, &sp)) return sp;
    if (frame->stopped) return sp;
    if (frame->position >= frame->codeLength) goto ended;
    reload();
    goto dispatch;
}

#undef VM_FORM
#undef VM_NEXT
#undef VM_NEXT_AT
#undef KV_VM_THREADED

}  // namespace

// ---- string handles ----

uint32_t VM_StringAdd(RefString* record)
{
    if (!record) return 0;
    VmExecStringTable& t = g_vmStrings;
    if (t.freeHead == 0) {
        uint32_t capacity = t.capacity ? t.capacity * 2 : 64;
        void* refs = t.refs;
        void* next = t.nextFree;
        MemoryManager::SetLength(&refs, size_t(capacity) * sizeof(RefString*), __FILE__, __LINE__);
        MemoryManager::SetLength(&next, size_t(capacity) * sizeof(uint32_t), __FILE__, __LINE__);
        t.refs = static_cast<RefString**>(refs);
        t.nextFree = static_cast<uint32_t*>(next);
        // Slot 0 stays out of the free list: handle 0 is null.
        for (uint32_t i = capacity - 1; i >= (t.capacity ? t.capacity : 1u); --i) {
            t.refs[i] = nullptr;
            t.nextFree[i] = t.freeHead;
            t.freeHead = i;
        }
        t.capacity = capacity;
    }
    uint32_t handle = t.freeHead;
    t.freeHead = t.nextFree[handle];
    t.refs[handle] = record;
    ++t.inUse;
    return handle;
}

RefString* VM_StringPeek(uint32_t handle)
{
    return handle && handle < g_vmStrings.capacity ? g_vmStrings.refs[handle] : nullptr;
}

RefString* VM_StringTake(uint32_t handle)
{
    RefString* record = VM_StringPeek(handle);
    if (!record) return nullptr;
    g_vmStrings.refs[handle] = nullptr;
    g_vmStrings.nextFree[handle] = g_vmStrings.freeHead;
    g_vmStrings.freeHead = handle;
    --g_vmStrings.inUse;
    return record;
}

void VM_StringRelease(uint32_t handle)
{
    if (RefString* record = VM_StringTake(handle)) record->Release();
    VmExec_ReleaseStringTable();
}

uint32_t VM_StringDuplicate(uint32_t handle)
{
    RefString* record = VM_StringPeek(handle);
    if (!record) return 0;
    ++record->refCount;
    return VM_StringAdd(record);
}

int32_t VM_StringHandlesInUse() { return g_vmStrings.inUse; }

const char* VM_GameString(int32_t n)
{
    const GameDataInfo& g = g_GameData;
    if (n < 0 || uint32_t(n) >= g.stringCount || !g.stringList || !g.data) return nullptr;
    uint32_t offset = VmExec_Word(g.stringList + 4 + size_t(n) * 4);
    if (uint64_t(offset) + 4 >= g.length) return nullptr;
    return reinterpret_cast<const char*>(g.data + offset + 4);
}

// ---- stack items ----

void VM_FreeItem(int32_t type, uint8_t* sp)
{
    if (type == 5) {
        RValue v;  // the item may lie on a 4-byte boundary
        std::memcpy(&v, sp, 16);
        RValue_Free(&v);
        std::memcpy(sp, &v, 16);
    } else if (type == 6) {
        uint32_t handle;
        std::memcpy(&handle, sp, 4);
        VM_StringRelease(handle);
    }
}

void VM_StackItemToValue(int32_t type, uint8_t* sp, RValue* out)
{
    switch (type) {
    case 0: {
        double d;
        std::memcpy(&d, sp, 8);
        RValue_SetReal(out, d);
        break;
    }
    case 1: {
        float f;
        std::memcpy(&f, sp, 4);
        RValue_SetReal(out, double(f));
        break;
    }
    case 2: {
        int32_t i;
        std::memcpy(&i, sp, 4);
        RValue_SetReal(out, double(i));
        break;
    }
    case 3: {
        int64_t l;
        std::memcpy(&l, sp, 8);
        RValue_SetReal(out, double(l));  // ".l" items become reals, as ".d" items do
        break;
    }
    case 4: {
        int32_t b;
        std::memcpy(&b, sp, 4);
        RValue_SetBool(out, b != 0);
        break;
    }
    case 5: std::memcpy(out, sp, 16); break;
    case 6: {
        uint32_t handle;
        std::memcpy(&handle, sp, 4);
        RefString* record = VM_StringTake(handle);
        RValue_SetUndefined(out);
        if (record) {
            out->str = record;  // the reference moves into the value
            out->kind = VALUE_STRING;
        } else {
            RValue_CreateString(out, "");
        }
        VmExec_ReleaseStringTable();
        break;
    }
    default: RValue_SetUndefined(out); break;
    }
}

// ---- frames ----

uint8_t* VM_GrowStack(uint8_t* sp, VMFrame* frame)
{
    if (sp >= frame->stackBlock + VM_STACK_MARGIN) return sp;
    const int64_t oldSize = frame->stackSize;
    // Steps of one block while the stack is small; beyond 1 MiB half the size (in whole blocks), so that deep
    // recursion does not copy the block over and over.
    int64_t step = VM_STACK_BLOCK;
    if (oldSize >= (1 << 20)) step = (oldSize / 2 / VM_STACK_BLOCK) * VM_STACK_BLOCK;
    const int64_t newSize = oldSize + step;
    if (newSize + frame->localsBytes > VM_StackLimit) {
        VmExec_Overflow(frame, frame->codeName);
        return sp;
    }
    uint8_t* old = frame->stackBlock;
    auto* block = static_cast<uint8_t*>(MemoryManager::Alloc(size_t(newSize), __FILE__, __LINE__, false));
    std::memcpy(block + step, old, size_t(oldSize));
    const int64_t delta = (block + newSize) - (old + oldSize);
    auto* args = reinterpret_cast<uint8_t*>(VM_Args);
    if (args >= old && args < old + oldSize) VM_Args = reinterpret_cast<RValue*>(args + delta);
    frame->record += delta;
    frame->stackBlock = block;
    frame->stackSize = newSize;
    MemFree(old);
    return sp + delta;
}

QZObjectBase* VM_FrameLocals(VMFrame* frame)
{
    if (!frame->locals) frame->locals = VM_CreateLocals(0);
    return frame->locals;
}

QZObjectBase* VM_CreateLocals(int32_t slotCount)
{
    QZObjectBase* locals = ObjectBase_Alloc(slotCount < 0 ? 0 : slotCount, int32_t(VALUE_UNSET), true);
    if (locals) locals->scopeNext = nullptr;
    return locals;
}

uint8_t* VM_CallScript(int32_t scriptIndex, int32_t argc, uint8_t* sp, VMFrame* frame, QZObjectBase* locals,
                       RValue* value)
{
    if (!VmExec_HasArguments(frame, sp, argc, "DoCall")) return sp;
    CScript* script = Script_Data(scriptIndex);
    if (!script) {
        VmExec_Fail(frame, "call to non-existent script\n");
        return sp;
    }
    CCode* code = script->GetCode();
    if (!code || !code->code) {
        RValue zero;
        RValue_SetReal(&zero, 0.0);
        return VmExec_ReplaceArguments(sp, VmExec_AlignArguments(sp, argc), argc, &zero);
    }
    if (!VmExec_PrepareEntry(frame, code)) return sp;
    if (VM_Trace && DebugConsole) DebugConsole->Output("script call = %s\n", script->name ? script->name : "");
    // Deep recursion of code with many locals fills memory with locals long before the stack is full.
    const int64_t localsBytes = VmExec_LocalsBytes(code);
    if (frame->stackSize + frame->localsBytes + localsBytes > VM_StackLimit) {
        VmExec_Overflow(frame, code->name);
        return sp;
    }

    if (sp < frame->stackBlock + VM_STACK_MARGIN) {
        sp = VM_GrowStack(sp, frame);
        if (frame->stopped) return sp;
    }
    uint8_t* record = VmExec_PushCall(frame, sp, argc, code, locals, value, localsBytes);
    if (Profiler_Active) Profiler_Enter(1, scriptIndex);
    return record;
}

uint8_t* VM_PopFrame(uint8_t* /*sp*/, VMFrame* frame) { return VmExec_Pop(frame); }

void VM_StopFrame(VMFrame* frame)
{
    if (!frame) return;
    frame->stopped = true;
    frame->position = frame->codeLength;
}

int32_t VM_FrameCodePositions(const VMFrame* frame, VMCodePosition* positions, int32_t max)
{
    if (!frame || !positions || max <= 0) return 0;
    auto table = [](const VMBuffer* lines) { return lines ? lines->length : 0; };
    int32_t n = 0;
    const CCode* running = frame->codeObject;
    const VMBuffer* lines = running ? running->debugLines : nullptr;
    positions[n++] = {frame->codeName, lines ? lines->bytes : nullptr, table(lines), running ? running->source : nullptr,
                      frame->instructionOffset};
    const uint8_t* at = frame->record;
    for (int32_t depth = frame->callDepth; depth > 0 && n < max && at; --depth) {
        const auto* record = reinterpret_cast<const VMCallRecord*>(at);
        const CCode* caller = record->codeObject;
        if (!caller) break;
        // The call instruction lies just before the position the caller resumes at.
        positions[n++] = {caller->name, caller->debugLines ? caller->debugLines->bytes : nullptr,
                          table(caller->debugLines), caller->source, record->position > 0 ? record->position - 4 : 0};
        if (record->recordDistance < 0) break;
        at = VmExec_At(frame, record->recordDistance);
    }
    return n;
}

// ---- VM_Exec ----

bool VM_Exec(CCode* code, CInstance* self, CInstance* other, RValue* result, QZObjectBase* locals, int32_t argc,
             RValue* args, RValue* value)
{
    SeamTrace_Record("VM_Exec");
    if (!code || !code->code) return false;
    if (argc < 0 || (argc > 0 && !args)) argc = 0;
    if (VM_Trace && DebugConsole) DebugConsole->Output("script = %s\n", code->name ? code->name : "");
    if (VM_Depth >= VM_NESTING_LIMIT) {
        VmExec_ShowOverflow(code->name);
        return true;
    }

    VMFrame frame{};
    frame.self = self;
    frame.other = other;
    frame.codeName = code->name;
    // The block: arguments at the top below 16 free bytes, the bottom record, then the working stack.
    int64_t need = int64_t(argc) * 16 + 16 + int64_t(sizeof(VMCallRecord)) + VM_STACK_MARGIN;
    int64_t size = VM_STACK_BLOCK;
    while (size < need) size += VM_STACK_BLOCK;
    if (size > VM_StackLimit) {
        VmExec_ShowOverflow(code->name);
        return true;
    }
    // Not cleared: nothing is read from the block that was not written first.
    frame.stackBlock = static_cast<uint8_t*>(MemoryManager::Alloc(size_t(size), __FILE__, __LINE__, false));
    frame.stackSize = size;
    const int64_t argsDistance = 16 + int64_t(argc) * 16;
    auto* argCopies = reinterpret_cast<RValue*>(VmExec_At(&frame, argsDistance));
    for (int32_t i = 0; i < argc; ++i) {
        RValue_SetUndefined(&argCopies[i]);  // the block is not cleared: the copy releases what it replaces
        RValue_Copy(&argCopies[i], &args[i]);
    }
    auto* bottom = reinterpret_cast<VMCallRecord*>(reinterpret_cast<uint8_t*>(argCopies) - sizeof(VMCallRecord));
    std::memset(static_cast<void*>(bottom), 0, sizeof(VMCallRecord));
    bottom->recordDistance = -1;
    bottom->argsDistance = -1;
    frame.record = reinterpret_cast<uint8_t*>(bottom);

    const int32_t savedArgCount = VM_ArgCount;
    RValue* const savedArgs = VM_Args;
    BuiltinFunction* const savedFunction = Function_Current;
    VMFrame* const older = VM_CurrentFrame;
    VM_ArgCount = argc;
    VM_Args = argc ? argCopies : nullptr;
    frame.older = older;
    if (older) older->newer = &frame;
    VM_CurrentFrame = &frame;
    ++VM_Depth;

    uint8_t* sp = frame.record;
    bool runs = VmExec_PrepareEntry(&frame, code);
    if (runs) {
        VmExec_Enter(&frame, code);
        frame.localsSupplied = locals ? 1 : 0;
        frame.locals = locals ? locals : VmExec_CallLocals(code);
        frame.localsBytes = VmExec_LocalsBytes(code);
        VM_SetLocalValue(frame.locals, value);
        // Two loops: the plain one pays for no debugger checks.
        sp = DebugServer ? VmExec_DebugLoop(&frame, sp) : VmExec_Run(&frame, sp);
        // A stopped frame unwinds every record: their locals and arguments are freed.
        while (frame.callDepth > 0) sp = VM_PopFrame(sp, &frame);
        VM_WithUnwind(&frame, nullptr);
        if (frame.resultPending && sp + 16 <= frame.record) {
            if (result) {
                RValue_Free(result);
                std::memcpy(result, sp, 16);
            } else {
                VM_FreeItem(5, sp);
            }
            sp += 16;
        }
        VmExec_FreeLocals(&frame);
    }

    argCopies = reinterpret_cast<RValue*>(VmExec_At(&frame, argsDistance));
    for (int32_t i = 0; i < argc; ++i) RValue_Free(&argCopies[i]);
    MemFree(frame.stackBlock);
    --VM_Depth;
    VM_CurrentFrame = older;
    if (older) older->newer = nullptr;
    VM_ArgCount = savedArgCount;
    VM_Args = savedArgs;
    Function_Current = savedFunction;
    VmExec_ReleaseStringTable();
    return true;
}

// ---- handlers: branches ----

namespace {

uint8_t* VmExec_Jump(uint32_t word, uint8_t* sp, VMFrame* frame)
{
    int32_t offset = int32_t(word << 9) >> 9;
    int32_t target = frame->instructionOffset + offset * 4;
    frame->position = target;
    frame->nextInstruction = frame->instructionIndex[target / 4];
    return sp;
}

}  // namespace

uint8_t* DoB(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    VmExec_CountBranch();
    return VmExec_Jump(word, sp, frame);
}

uint8_t* DoBt(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    VmExec_CountBranch();
    if (!VmExec_HasItem(frame, sp, 4, "DoBt")) return sp;
    int32_t v;
    std::memcpy(&v, sp, 4);
    sp += 4;
    return v != 0 ? VmExec_Jump(word, sp, frame) : sp;
}

uint8_t* DoBf(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    VmExec_CountBranch();
    if (!VmExec_HasItem(frame, sp, 4, "DoBf")) return sp;
    int32_t v;
    std::memcpy(&v, sp, 4);
    sp += 4;
    return v == 0 ? VmExec_Jump(word, sp, frame) : sp;
}

// ---- handlers: calls ----

uint8_t* VM_CallBuiltin(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame)
{
    const int32_t argc = int32_t(word & 0xFFFF);
    if (!VmExec_HasArguments(frame, sp, argc, "VM_CallBuiltin")) return sp;
    int32_t id;
    std::memcpy(&id, operand, 4);
    BuiltinFunction* entry = Function_Entry(id);
    if (!entry || !entry->handler) {
        VmExec_Fail(frame, "VM_CallBuiltin :: no built-in function %d", id);
        return sp;
    }
    if (Profiler_Active) Profiler_Enter(0, id);
    StackTraceFrame trace;
    StackTrace_Push(&trace, entry->name, -1);
    RValue result;
    RValue_SetReal(&result, 0.0);
    // Without arguments the block still marks where the result goes (the try hook of the object model reads it).
    RValue* const args = VmExec_AlignArguments(sp, argc);
    const int32_t count = entry->argumentCount > argc ? entry->argumentCount : argc;
    RValue* const block = count > argc ? VmExec_PadArguments(args, argc, count) : args;
    {
        VmExec_BuiltinScope running(entry, block, count);
        entry->handler(&result, frame->self, frame->other, argc, block);
    }
    VM_CurrentFrame = frame;
    if (Profiler_Active) Profiler_Leave();
    if (block != args) {
        for (int32_t i = 0; i < count; ++i) RValue_Free(&block[i]);
        MemFree(block);
        sp += int64_t(argc) * 16 - 16;
        std::memcpy(sp, &result, 16);
    } else {
        sp = VmExec_ReplaceArguments(sp, args, argc, &result);
    }
    StackTraceFrame::Pop(&trace);
    return sp;
}

uint8_t* DoCallScript(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame)
{
    int32_t id;
    std::memcpy(&id, operand, 4);
    return VM_CallScript(id - CALL_ID_SCRIPT_BASE, int32_t(word & 0xFFFF), sp, frame, nullptr, nullptr);
}

uint8_t* DoCall(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame)
{
    const int32_t type = int32_t(word >> 16) & 15;
    const int32_t argc = int32_t(word & 0xFFFF);
    if (type == 5) return VM_CallValue(word, sp, frame);
    if (type != 2 || !(word & 0x40000000u)) {
        VmExec_Fail(frame, "DoCall :: Execution Engine type error");
        return sp;
    }
    int32_t id;
    std::memcpy(&id, operand, 4);
    if (id < CALL_ID_SCRIPT_BASE) return VM_CallBuiltin(word, sp, operand, frame);
    if (id == CALL_ID_SCRIPT_EXECUTE) {
        if (argc < 1) {
            VmExec_Fail(frame, "call to non-existent script\n");
            return sp;
        }
        if (!VmExec_HasArguments(frame, sp, argc, "DoCall")) return sp;
        RValue* args = VmExec_AlignArguments(sp, argc);
        int32_t index = QZGI32(args, 0);
        RValue_Free(&args[0]);
        // The others go back where the call's arguments lie.
        if (reinterpret_cast<uint8_t*>(args) != sp) std::memmove(sp + 16, args + 1, size_t(argc - 1) * 16);
        return VM_CallScript(index, argc - 1, sp + 16, frame, nullptr, nullptr);
    }
    if (id < CALL_ID_EXTENSION_BASE) return VM_CallScript(id - CALL_ID_SCRIPT_BASE, argc, sp, frame, nullptr, nullptr);
    if (!VmExec_HasArguments(frame, sp, argc, "DoCall")) return sp;
    RValue result;
    RValue_SetReal(&result, 0.0);
    RValue* args = VmExec_AlignArguments(sp, argc);
    Extension_CallFunction(id - CALL_ID_EXTENSION_BASE, argc, args, &result);
    VM_CurrentFrame = frame;
    return VmExec_ReplaceArguments(sp, args, argc, &result);
}

uint8_t* DoRet(uint32_t word, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    const int32_t type = int32_t(word >> 16) & 15;
    RValue value;
    if (type == 15) {
        VmExec_ReleaseLeftovers(frame, sp, 0, frame->instructionOffset);
        RValue_SetUndefined(&value);
    } else {
        int32_t size = VM_StackItemSize(type);
        if (size == 0) {
            VmExec_Fail(frame, "DoRet :: Execution Error");
            return sp;
        }
        if (!VmExec_HasItem(frame, sp, size, "DoRet")) return sp;
        // With only the returned item above the record the check's types could free nothing.
        if (sp + size < frame->record) VmExec_ReleaseLeftovers(frame, sp, 1, frame->instructionOffset);
        if (type == 5) std::memcpy(&value, sp, 16);
        else VM_StackItemToValue(type, sp, &value);
        sp += size;
    }
    if (frame->callDepth == 0) {
        sp -= 16;
        std::memcpy(sp, &value, 16);
        frame->resultPending = true;
        frame->ended = true;
        frame->position = frame->codeLength;
        return sp;
    }
    sp = VM_PopFrame(sp, frame);
    sp -= 16;
    std::memcpy(sp, &value, 16);
    return sp;
}

uint8_t* DoExit(uint32_t, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    VmExec_ReleaseLeftovers(frame, sp, 0, frame->instructionOffset);
    if (frame->callDepth == 0) {
        frame->ended = true;
        frame->position = frame->codeLength;
        return sp;
    }
    sp = VM_PopFrame(sp, frame);
    return VmExec_PushReal(sp, 0.0);
}

void CallBuiltin(CInstance* self, CInstance* other, RValue* result, int32_t argc, int32_t index, RValue** args)
{
    BuiltinFunction* entry = Function_Entry(index);
    if (!entry || !entry->handler || !result) return;
    if (argc < 0 || !args) argc = 0;
    const int32_t count = entry->argumentCount > argc ? entry->argumentCount : argc;
    RValue local[16];
    RValue* copies = nullptr;  // an empty block: nothing lies there to read
    if (count > argc || count > 16) copies = static_cast<RValue*>(MemAlloc(size_t(count) * sizeof(RValue)));
    else if (count > 0) copies = local;
    for (int32_t i = 0; i < argc; ++i) std::memcpy(&copies[i], args[i], sizeof(RValue));  // shallow: still the caller's
    for (int32_t i = argc; i < count; ++i) RValue_SetUndefined(&copies[i]);
    RValue_Free(result);
    RValue_SetUndefined(result);
    {
        VmExec_BuiltinScope running(entry, copies, count);
        entry->handler(result, self, other, argc, copies);
    }
    for (int32_t i = argc; i < count; ++i) RValue_Free(&copies[i]);  // the padding is ours, whatever went there
    if (copies && copies != local) MemFree(copies);
}
