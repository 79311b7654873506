// With-blocks of the interpreter. Until they are built they raise "<handler> :: Execution Error".
#include "core/error.h"
#include "core/vm.h"

uint8_t* DoPushEnv(uint32_t, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    VMError(frame, "%s :: Execution Error", "DoPushEnv");
    VM_StopFrame(frame);
    return sp;
}

uint8_t* DoPopEnv(uint32_t, uint8_t* sp, uint8_t*, VMFrame* frame)
{
    VMError(frame, "%s :: Execution Error", "DoPopEnv");
    VM_StopFrame(frame);
    return sp;
}
