// The bytecode interpreter: frames, the value stack, call records and the operation handlers.
#pragma once
#include <cstdint>

#include "core/code.h"
#include "core/interpreter.h"

struct BuiltinFunction;
struct CInstance;
struct QZObjectBase;
struct RValue;

// Stack block sizes: the first block, and the step by which it grows.
constexpr int32_t VM_STACK_BLOCK = 16384;
// Room a single instruction may push (dup of 256 16-byte items), plus the margin a script call leaves.
constexpr int32_t VM_STACK_MARGIN = 4096 + 1024;
// Past these the run unwinds with "Stack overflow...".
constexpr int64_t VM_STACK_LIMIT = 64ll << 20;
constexpr int32_t VM_NESTING_LIMIT = 256;

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
    VMBuffer* buffer;
    CCode* codeObject;
    uint8_t* record;  // innermost VMCallRecord; the running code's stack grows down from it
    const char* codeName;
    VMBuffer* debugLines;
    const char* source;
    int32_t position;
    int32_t nextInstruction;
    int32_t callDepth;
    int32_t codeLength;
    int32_t instructionOffset;
    VMHandler* handlers;
    int32_t* instructionIndex;
    bool stopped;   // an error stopped the frame: every record unwinds
    bool overflow;  // the stack passed its limit
    bool resultPending;  // a ret at depth 0 left the result on top
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
    VMBuffer* buffer;
    CCode* codeObject;
    VMBuffer* debugLines;
    const char* source;
    const char* codeName;
    int64_t localsSupplied;
    QZObjectBase* locals;
    int64_t argsDistance;  // -1: no arguments array
    int64_t reserved;
};
static_assert(sizeof(VMCallRecord) % 16 == 0, "records keep the stack 16-byte aligned");

extern const VMHandler VM_OpHandlers[32];
extern const int32_t VM_OperandSize[16];
int32_t VM_StackItemSize(int32_t type);

// The largest value-stack block; tests lower it to reach the limit quickly.
extern int64_t VM_StackLimit;

extern bool VM_Trace;
extern uint32_t VM_BranchCount;
// Nested VM_Exec calls now running.
extern int32_t VM_Depth;

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
