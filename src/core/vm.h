// The bytecode interpreter: frames, the value stack, call records and the operation handlers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/code.h"
#include "core/interpreter.h"
#include "core/value.h"

struct BuiltinFunction;
struct CInstance;
struct QZObjectBase;
struct RValue;

// Stack block sizes: the first block, and the step by which it grows.
constexpr int32_t VM_STACK_BLOCK = 16384;
// Room a single instruction may push (dup of 256 16-byte items), plus the margin a script call leaves.
constexpr int32_t VM_STACK_MARGIN = 4096 + 1024;
// Past these the run unwinds with "Stack overflow..." (the limit holds the value stack and the locals of the
// frame's calls together).
constexpr int64_t VM_STACK_LIMIT = 64ll << 20;
constexpr int32_t VM_NESTING_LIMIT = 256;

// Forms the dispatch loop runs itself when their values allow (plain reals, locals with slots); everything
// else, and every failure, goes to the instruction's handler, which gives the same result or report.
enum : uint8_t {
    VM_FORM_HANDLER = 0,
    VM_FORM_PUSH_INT,     // push.e, pushi.e, push.i: a constant ".i"
    VM_FORM_PUSH_LOCAL,   // pushl.v of a plain local slot
    VM_FORM_POP_LOCAL,    // pop.v.v into a plain local slot
    VM_FORM_INT_TO_VAR,   // conv.i.v
    VM_FORM_ARITH,        // add, sub, mul, div of ".v", ".d" and ".i" items
    VM_FORM_MOD,          // mod of the same
    VM_FORM_COMPARE,      // set (kinds lt ... gt) of the same
    VM_FORM_BRANCH,       // b
    VM_FORM_BRANCH_TRUE,  // bt
    VM_FORM_BRANCH_FALSE, // bf
    VM_FORM_DISCARD,      // popz.v
    VM_FORM_PUSH_ARG,     // pushb.v of argument0 ... argument15
    VM_FORM_VAR_TO_INT,   // conv.v.i
    VM_FORM_PUSH_ELEMENT, // push.v of an element of a local array (the index on the stack)
    VM_FORM_POP_ELEMENT,  // pop.v.v into an element of a local array
    VM_FORM_CALL_SCRIPT,  // call.i of a script: value the script, target the argument count
    VM_FORM_RETURN,       // ret.v
    VM_FORM_END,          // the step past the last instruction: the code ran off its end
    // Sequences that start with a push of a local or an argument and a constant, run as one when the value
    // is a real (otherwise the first step runs alone, as its basic form): the value against the constant
    // compared and branched on (4 steps), or combined by add, sub, mul, div or mod (3 steps, 4 when a pop into
    // a local takes the result).
    VM_FORM_COMPARE_BRANCH,
    VM_FORM_ARITH_CONST,
    // A local converted to ".i" indexing a local array: the element pushed, or the top value popped into it.
    VM_FORM_ELEMENT_AT_LOCAL,
    VM_FORM_COUNT
};

// One per prepared instruction, in instruction order: the word decoded once.
struct VMStep {
    VMHandler handler;
    uint32_t word;     // the plain word (a planted breakpoint's replaced word)
    int32_t at;        // byte offset of the instruction
    int32_t next;      // byte offset of the following instruction
    int32_t value;     // the form's operand: constant, local slot, branch target offset
    int32_t target;    // a branch's target instruction number
    uint8_t form;      // VM_FORM_*
    uint8_t right;     // two-operand forms: the sizes of the top item and of the one below it
    uint8_t left;
    uint8_t basic;     // the form of this step alone, under a sequence's form
};
static_assert(sizeof(VMStep) == 32, "a step is half a cache line");

// One per running VM_Exec, on the machine stack, chained through older/newer.
struct VMFrame {
    VMFrame* newer;
    VMFrame* older;
    uint8_t* stackBlock;
    int64_t stackSize;
    int32_t localsSupplied;
    QZObjectBase* locals;
    CInstance* self;
    CInstance* other;
    uint8_t* code;
    CCode* codeObject;  // the running code: its buffer, name, source and line table
    uint8_t* record;  // innermost VMCallRecord; the running code's stack grows down from it
    const char* codeName;
    int32_t position;
    int32_t nextInstruction;
    int32_t callDepth;
    int32_t codeLength;
    int32_t instructionOffset;
    const VMStep* steps;
    int32_t* instructionIndex;
    bool stopped;   // an error stopped the frame: every record unwinds
    bool overflow;  // the stack passed its limit
    bool resultPending;  // a ret at depth 0 left the result on top
    bool ended;          // an exit or ret at depth 0 ended the code (and released what it left)
    int64_t withRecord;  // innermost open with-block record, as a distance from the block's end; 0 none
    int64_t localsBytes;  // slots of the locals of the frame's calls: they count against the stack limit
};

// One per active script call, on the value stack below the callee's arguments. Positions inside the block
// are kept as distances from its end, so a grown block needs no fix-up.
struct VMCallRecord {
    int32_t position;
    int32_t argCount;
    int64_t recordDistance;  // -1: none
    CInstance* self;
    CInstance* other;
    RValue* value;
    CCode* codeObject;  // the caller's code (its buffer, name, source and lines come from it); null at the bottom
    QZObjectBase* locals;
    int64_t argsDistance;  // -1: no arguments array
    int32_t localsSupplied;
    int32_t reserved;  // how far the arguments were moved down to align them
    int32_t nextInstruction;  // the caller's, at position
    int32_t padding;
};
static_assert(sizeof(VMCallRecord) % 16 == 0, "records keep the stack 16-byte aligned");

// Whether every path from the entry (a byte offset of an instruction start in the prepared buffer) uses the
// stack as its operations' types say; checked once per entry, the verdict kept with the buffer. False with
// *badOffset at the first offending instruction (or the entry itself when it starts none).
bool VM_VerifyEntry(VMBuffer* buffer, int32_t entry, int32_t* badOffset);
// The item types (top first; 8 marks a with-block record) on the stack when the instruction at offset starts,
// on the paths from entry (offset at the code's length: what the paths that run off the end leave, when they
// agree): their count, or -1 when the entry is not sound, offset is never reached or more than max items lie
// there. It re-runs the whole check, so callers use it only on rare paths.
int32_t VM_StackTypesAt(VMBuffer* buffer, int32_t entry, int32_t offset, uint8_t* types, int32_t max);
// The same answer at a ret or exit, or at the end, read from what VM_VerifyEntry kept of the entry's check; the
// check runs again only where it kept nothing (an entry never checked, a ret or exit that an entry checked
// earlier reached first, more than six items there).
int32_t VM_LeftoverTypes(VMBuffer* buffer, int32_t entry, int32_t offset, uint8_t* types, int32_t max);
// Tests of the run-time guards clear it to run code the check would refuse; nothing else touches it.
extern bool VM_VerifyStackTypes;
// Tests clear it to run every instruction through its handler, to hold the loop's forms against them.
extern bool VM_UseForms;
// The item type a two-operand operation (op 8-16, 19, 20) pushes for a right operand of type right (T1) and a
// left one of type left (T2); -1 for pairs it refuses. Either operand ".v" gives ".v".
int32_t VM_BinaryResultType(int32_t op, int32_t right, int32_t left);

extern const VMHandler VM_OpHandlers[32];
extern const int32_t VM_OperandSize[16];
int32_t VM_StackItemSize(int32_t type);

// The largest value-stack block; tests lower it to reach the limit quickly.
extern int64_t VM_StackLimit;

// Instructions left to run before every frame stops (negative: no limit); the fuzz target sets it so that
// loops end.
extern int64_t VM_InstructionBudget;

extern bool VM_Trace;
extern uint32_t VM_BranchCount;
// Nested VM_Exec calls now running.
extern int32_t VM_Depth;
// Instructions run under the debugger link since its last poll check, over every run; VM_Init zeroes it.
extern int32_t VM_DebugPollCounter;

// ".s" items are 32-bit handles into one interpreter-owned table of string references; 0 is null.
// Add takes over one reference; Take hands it back and frees the handle; Peek leaves both.
uint32_t VM_StringAdd(RefString* record);
RefString* VM_StringTake(uint32_t handle);
RefString* VM_StringPeek(uint32_t handle);
void VM_StringRelease(uint32_t handle);
uint32_t VM_StringDuplicate(uint32_t handle);  // a second handle with a reference taken
int32_t VM_StringHandlesInUse();

// The instruction word at p; a planted breakpoint stands for the word it replaced.
uint32_t VM_PlainWord(const uint8_t* p);

// Text of string index n of the game data's string table, or null.
const char* VM_GameString(int32_t n);

uint8_t* VM_GrowStack(uint8_t* sp, VMFrame* frame);
uint8_t* VM_CallScript(int32_t scriptIndex, int32_t argc, uint8_t* sp, VMFrame* frame, QZObjectBase* locals,
                       RValue* value);
uint8_t* VM_PopFrame(uint8_t* sp, VMFrame* frame);
QZObjectBase* VM_CreateLocals(int32_t slotCount);
// The running code's locals. Code that declares none runs without an object until something names a local:
// then it gets its empty one, so that a call of such a script allocates nothing.
QZObjectBase* VM_FrameLocals(VMFrame* frame);
// Frees the item of type type at sp (strings and values release what they hold).
void VM_FreeItem(int32_t type, uint8_t* sp);
// The 16-byte value of the item of type type at sp (the item's reference moves into it).
void VM_StackItemToValue(int32_t type, uint8_t* sp, RValue* out);

// How compiled code calls a built-in: the arguments stay the caller's.
void CallBuiltin(CInstance* self, CInstance* other, RValue* result, int32_t argc, int32_t index, RValue** args);

// Operation handlers.
uint8_t* DoB(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoBt(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoBf(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoCall(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoCallScript(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* VM_CallBuiltin(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoRet(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoExit(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoPush(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoPushI(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoPopNull(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoBreak(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoDup(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoPopLocal(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
// Variables by scope (vm_vars.cpp): pop, and the ".v" form of push.
uint8_t* DoPop(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* VM_PushVariable(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
// callv: the function value on top, "this" below it, then the arguments (script object model only).
uint8_t* VM_CallValue(uint32_t word, uint8_t* sp, VMFrame* frame);
// With the script object model on, local slot 0 of a locals object with slots holds the code's own value.
void VM_SetLocalValue(QZObjectBase* locals, RValue* value);
// After an instruction that left a thrown value pending: the frame that registered the innermost try
// handler gets the value at the handler's position (a distance from the stack block's end); any other
// frame ends every call it runs, so the code that ran it sees the throw.
uint8_t* VM_TakePendingException(uint8_t* sp, VMFrame* frame);
uint8_t* DoConvIntToVar(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
// Operations (vm_ops.cpp).
uint8_t* DoMul(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoDiv(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoRem(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoMod(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoAdd(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoSub(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoAnd(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoOr(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoXor(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoNeg(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoNot(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoShl(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoShr(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoSet(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoConv(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
// With-blocks (vm_with.cpp).
uint8_t* DoPushEnv(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
uint8_t* DoPopEnv(uint32_t word, uint8_t* sp, uint8_t* operand, VMFrame* frame);
// Closes the frame's open with-blocks whose records lie below limit (every one when limit is null): frees
// their arrays and gives self and other back the values from before the outermost of them.
void VM_WithUnwind(VMFrame* frame, const uint8_t* limit);

// The real of a ".v" real, ".d" or ".i" item (type 5, 0 or 2) at p, which may be only 4-byte aligned; false
// for anything else.
inline bool VM_ItemReal(int32_t type, const uint8_t* p, double* out)
{
    if (type == 5) {
        uint32_t kind;
        std::memcpy(&kind, p + offsetof(RValue, kind), 4);
        if ((kind & RVALUE_KIND_MASK) != VALUE_REAL) return false;
        std::memcpy(out, p, 8);
        return true;
    }
    if (type == 0) {
        std::memcpy(out, p, 8);
        return true;
    }
    if (type == 2) {
        int32_t i;
        std::memcpy(&i, p, 4);
        *out = double(i);
        return true;
    }
    return false;
}

// Where the running code's own items end: its call record, or the innermost open with-block record when
// that lies below it. No pop may cross it.
inline const uint8_t* VM_ItemFloor(const VMFrame* frame)
{
    if (frame->withRecord) {
        const uint8_t* with = frame->stackBlock + frame->stackSize - frame->withRecord;
        if (with < frame->record) return with;
    }
    return frame->record;
}
