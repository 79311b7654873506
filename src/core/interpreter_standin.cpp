// Stand-ins until the function registry and the interpreter exist: nothing is ever running.
#include "core/interpreter.h"

BuiltinFunction* Function_Current = nullptr;
VMFrame* VM_CurrentFrame = nullptr;

const char* Function_Name(const BuiltinFunction*) { return nullptr; }

int32_t VM_FrameCodePositions(const VMFrame*, VMCodePosition*, int32_t) { return 0; }

int32_t DebugInfo_LineAt(const VMCodePosition&) { return -1; }
