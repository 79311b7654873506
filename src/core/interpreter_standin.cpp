// Stand-ins until the interpreter exists: nothing is ever running.
#include "core/interpreter.h"

VMFrame* VM_CurrentFrame = nullptr;

int32_t VM_FrameCodePositions(const VMFrame*, VMCodePosition*, int32_t) { return 0; }
