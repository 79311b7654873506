// Stand-ins until the interpreter exists: nothing is ever running.
#include "core/interpreter.h"

#include "core/seam_trace.h"

VMFrame* VM_CurrentFrame = nullptr;

int32_t VM_FrameCodePositions(const VMFrame*, VMCodePosition*, int32_t) { return 0; }

int32_t VM_ArgCount = 0;
RValue* VM_Args = nullptr;

// Runs nothing; the call is left in the seam trace.
bool VM_Exec(CCode*, CInstance*, CInstance*, RValue*, QZObjectBase*, int32_t, RValue*, RValue*)
{
    SeamTrace_Record("VM_Exec");
    return true;
}

void VM_StopFrame(VMFrame*) {}
