// What the rest of the runtime reads from the interpreter while it runs.
#pragma once
#include <cstdint>

class CCode;
struct BuiltinFunction;
struct CInstance;
struct QZObjectBase;
struct RValue;
struct VMFrame;

// The built-in being called (null when none), and the running frame chain's current frame (null when
// no code runs).
extern BuiltinFunction* Function_Current;
extern VMFrame* VM_CurrentFrame;

// The running code's arguments: count and values (null when none).
extern int32_t VM_ArgCount;
extern RValue* VM_Args;

// Runs the bytecode of a code object on self and other with argc argument values (copied, not taken
// over); locals may be null (a fresh locals object is made); value, when given, is the code's own object.
// The result receives the value the code leaves on top of its stack.
bool VM_Exec(CCode* code, CInstance* self, CInstance* other, RValue* result, QZObjectBase* locals, int32_t argc,
             RValue* args, RValue* value);

// The registered name of a built-in (null for null).
const char* Function_Name(const BuiltinFunction* function);

// Where one code of a frame's call chain stands: its name, its debug line table (a buffer of 8-byte
// entries {code offset, source offset}), its source text, and its byte offset in the code.
struct VMCodePosition {
    const char* codeName;
    const void* debugTable;
    int32_t debugTableBytes;
    const char* source;
    int32_t offset;
};

// The running code of the frame, then each enclosing call record, innermost first, until the frame's
// call depth is used up or a record without a caller is met. Writes at most max entries and returns
// how many it wrote; 0 for a null frame.
int32_t VM_FrameCodePositions(const VMFrame* frame, VMCodePosition* positions, int32_t max);

// The source line of a code position through its debug line table; -1 when it has none.
int32_t DebugInfo_LineAt(const VMCodePosition& position);

// Ends the frame's code at once: its position moves to the end of its code and its call depth to 0
// (a caught error stops the evaluation it happened in).
void VM_StopFrame(VMFrame* frame);
